// The Customer browse's report in the real program: the list printed through the previewer under
// a title of its own, in 12 to 10 points with bold italic headers, read back from the PDF.
#include "app/browsecustomer.h"
#include "app/demodata.h"
#include "browse_ext/sorvex.h"
#include "tests/app/program_rig.h"
#include "tests/windowing/pdf_text.h"
#include "windowing/printer.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <regex>

namespace {

using namespace programtest;

constexpr const char* Caption = "Customers - Multiple Formats one per TAB";

class CustomerReportTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeDemo(60, 10);
    }
    // Opens a Customer browse from the menu; its window once it is there.
    QMdiSubWindow* open() {
        EXPECT_TRUE(waitUntil([] { return childCount() >= 1; })); // the notes come first
        choose(menuText(menu::BrowseCustomer));
        QMdiSubWindow* sub = nullptr;
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                for (QMdiSubWindow* c : children())
                    if (c->windowTitle() == Caption) sub = c;
                return sub != nullptr;
            });
        }));
        return sub;
    }
    std::string title(QMdiSubWindow* sub) {
        return win::onGui([&] { return sub->windowTitle().toStdString(); });
    }
    // What the list's popup items do: the list's print command posted to the browse's thread.
    void print(int command) {
        const int slot = win::activeChildThread();
        ASSERT_GT(slot, 0);
        win::Window::postToThread(slot, win::eventCode(command), customerbrowse::List);
    }
    // Presses a button of the previewer; the browse's caption while the previewer was open.
    std::string answerPreview(const QString& button) {
        std::string during;
        EXPECT_TRUE(sorv::test::whenShown<QWidget>("Print Preview", [&](QWidget* d) {
            for (QMdiSubWindow* c : children())
                if (c->windowTitle() != "Sorvex Demo Notes...") during = c->windowTitle().toStdString();
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (b->text() == button) b->click();
        }));
        return during;
    }
};

TEST_F(CustomerReportTest, PrintsUnderItsOwnTitleThroughThePreviewAndPutsItsCaptionBack) {
    const fs::path pdf = dir_ / "customers.pdf";
    std::string duringAll, duringPage;
    runProgram([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        QMdiSubWindow* sub = open();
        ASSERT_TRUE(sub);
        print(bx::sevent::PrintAll);
        duringAll = answerPreview("&Print");
        EXPECT_TRUE(waitUntil([&] { return fs::exists(pdf) && title(sub) == Caption; }));
        // The frame's status bar tells where the report went.
        EXPECT_EQ(win::onGui([] {
                      auto* status = frameWidget()->statusBar()->findChild<QLabel*>();
                      return status ? status->text().toStdString() : std::string();
                  }),
                  "Report written to " + fs::absolute(pdf).string());
        // The page mode goes through the previewer too; cancelled, nothing is printed.
        fs::rename(pdf, dir_ / "all.pdf");
        print(bx::sevent::PrintPage);
        duringPage = answerPreview("&Cancel");
        EXPECT_TRUE(waitUntil([&] { return title(sub) == Caption; }));
        closeAndExit(sub);
    });
    EXPECT_EQ(duringAll, "Whatever You Want");
    EXPECT_EQ(duringPage, "Whatever You Want");
    EXPECT_FALSE(fs::exists(pdf));
    const fs::path all = dir_ / "all.pdf";
    const auto pages = sorv::test::pdfPages(all);
    ASSERT_GE(pages.size(), 2u) << "60 customers";
    for (const std::string& page : pages) {
        const std::string text = std::regex_replace(page, std::regex(R"(\s+)"), " ");
        EXPECT_LT(text.find("Whatever You Want Date:"), 3u) << text;
        EXPECT_NE(text.find("Size: 60 Records"), std::string::npos) << text;
        EXPECT_NE(text.find("Company City Country Postal Zip Code"), std::string::npos) << text;
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(Font: .+ 1[02] Point)"))) << text;
    }
    // The headers are the only bold italic texts.
    const std::string fonts = sorv::test::poppler("pdffonts", "", all);
    EXPECT_TRUE(std::regex_search(fonts, std::regex(R"(Bold(Italic|Oblique))"))) << fonts;
}

} // namespace
