// The list report of real lists under the offscreen platform: a browse over a table and a list over
// a queue print to a PDF file (straight or through the previewer), which is read back with
// poppler's tools as the user reads the paper.
#include "browse_ext/report.h"
#include "browse_ext/columntable.h"
#include "browse_ext/progress.h"
#include "browse_ext/sorvex.h"
#include "runtime/picture.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"
#include "tests/windowing/pdf_text.h"
#include "windowing/printer.h"

#include <QLabel>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace sorv;
using namespace sorv::bx;
using namespace sorv::test;
namespace fs = std::filesystem;

namespace {

TEST(ReportFit, SizeFromTheLargestDownAndTheSpareSharedOut) {
    struct Case {
        std::vector<PrintedColumn> columns;
        int maxSize, minSize;
        int size, spare;
        bool fits;
    };
    const Case cases[] = {
        {{{80}, {120}, {40}}, 14, 6, 14, 1026, true},       // 240 * 28 = 6720
        {{{80}, {120, true}, {40}}, 14, 6, 14, 1017, true}, // the border adds a unit
        {{{300}, {300}, {200}}, 14, 6, 6, 66, true},        // 800 * 12 = 9600
        {{{120}, {80}, {80}, {48}}, 12, 10, 12, 482, true}, // the Customer browse's sizes
        {{{1000}}, 14, 6, 4, 1800, false},                  // below the smallest: spare anew
        {{{3000}}, 14, 6, 4, 0, false},                     // and never negative
        {{{3000}}, 14, 0, 1, 3800, false},                  // a smallest of 0 ends at 1 point
        {{{5000}}, 14, 1, 1, 0, false},                     // and so does 1
        {{{100}}, 0, 0, 1, 9600, true},                     // no size below 1 is tried
        {{{100}}, 3, 6, 3, 9200, true},                     // a largest below the smallest
        {{}, 14, 6, 14, 9800, true},                        // no column
    };
    for (const Case& c : cases) {
        const ReportFit f = fitColumns(c.columns, c.maxSize, c.minSize);
        SCOPED_TRACE(testing::Message()
                     << "columns " << c.columns.size() << " sizes " << c.maxSize << "-" << c.minSize);
        EXPECT_EQ(f.size, c.size);
        EXPECT_EQ(f.unit, 2 * c.size);
        EXPECT_EQ(f.spare, c.spare);
        EXPECT_EQ(f.fits, c.fits);
    }
}

// Blanks run together, so that texts read the same whatever the layout put between them.
std::string collapsed(const std::string& s) {
    return std::regex_replace(s, std::regex(R"(\s+)"), " ");
}

// The names "N0001"... of the detail lines of a page, in order.
std::vector<std::string> namesOn(const std::string& page) {
    static const std::regex name(R"(\bN\d{4}\b)");
    std::vector<std::string> out;
    for (std::sregex_iterator it(page.begin(), page.end(), name), end; it != end; ++it)
        out.push_back(it->str());
    return out;
}

// ---- a list over a queue ----

struct QueueRig {
    ListWindow window;
    Queue queue{[] {
        Layout l;
        l.add("Q:Name", FieldType::String, 20);
        l.add("Q:City", FieldType::String, 30);
        l.add("Q:Amount", FieldType::Long);
        return l;
    }()};
    NoPopup owner;
    TableSorvex sorvex;

    QueueRig(const std::string& format, const std::vector<std::int64_t>& amounts) {
        window.format = format;
        EXPECT_EQ(window.Init(), fw::LevelNone);
        for (std::size_t i = 0; i < amounts.size(); ++i) {
            queue.record().set("Q:Name", Value(browsetest::nameOf(int(i) + 1)));
            queue.record().set("Q:City", Value("Town " + std::to_string(i + 1)));
            queue.record().set("Q:Amount", Value(amounts[i]));
            queue.add();
        }
        showQueue(window.WINDOW, queue);
        sorvex.rows = {{"Q:Name", 80, "Name", "@s20", "Name", 'L'},
                       {"Q:City", 120, "City", "@s30", "City", 'L'},
                       {"Q:Amount", 40, "Amt", AmountPicture, "Amount", 'R', true, false, false, 0, 0, true}};
        sorvex.InitQueueList(window, owner, queue, window.WINDOW, QueueList, "report.INI", VisualHeader, {});
    }
    ~QueueRig() { window.Kill(); }
    static constexpr const char* AmountPicture = "@n-7";
};

// Where a report of `fit` puts the edges of column i (0-based) of the given widths, in points from
// the paper's left edge (half an inch of margin).
double columnLeft(const std::vector<int>& widths, const ReportFit& fit, int i) {
    int x = 0;
    for (int k = 0; k < i; ++k) x += widths[k] * fit.unit + fit.spare;
    return 36 + x * 0.072;
}

TEST(ListReport, AQueueListFitsItsColumnsAcrossAndTotalsFromTheValues) {
    // 500 shows; the other two are too wide for the picture and show as '#', yet count.
    const std::vector<std::int64_t> amounts = {500, -1000000, 1000100};
    ASSERT_NE(FORMAT(Value(-1000000), QueueRig::AmountPicture).find('#'), std::string::npos);
    struct Case {
        std::string format;
        std::vector<int> widths;
        int size, spare;
    };
    const Case cases[] = {
        {"80L(2)~Name~@s20@120L(2)~City~@s30@40R(2)~Amt~D(2)@n-7@", {80, 120, 40}, 14, 1026},
        {"80L(2)~Name~@s20@120L(2)|~City~@s30@40R(2)~Amt~D(2)@n-7@", {80, 120, 40}, 14, 1017},
        {"300L(2)~Name~@s20@300L(2)~City~@s30@200R(2)~Amt~D(2)@n-7@", {300, 300, 200}, 6, 66},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const fs::path pdf = tempDir() / "queue.pdf";
        std::string face;
        runWithDesktop([&] {
            win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
            QueueRig rig(c.format, amounts);
            rig.sorvex.ALLPREVIEW = 0;
            face = rig.sorvex.listProperty(win::listprop::FontFace);
            rig.sorvex.PrintList("View");
            SorvexColumn amount;
            ASSERT_TRUE(rig.sorvex.SQ.get(3, amount));
            EXPECT_EQ(amount.MAXWIDTH, c.widths[2]) << "its own width, wider than its header";
        });
        const auto pages = pdfPages(pdf);
        ASSERT_EQ(pages.size(), 1u);
        const std::string text = collapsed(pages[0]);
        EXPECT_NE(text.find("Font: " + face + " " + std::to_string(c.size) + " Point"), std::string::npos)
            << text;
        EXPECT_NE(text.find("Size: 3 Records"), std::string::npos) << text;
        EXPECT_NE(text.find("Hand-Coded List"), std::string::npos);
        EXPECT_EQ(namesOn(pages[0]), (std::vector<std::string>{"N0001", "N0002", "N0003"}));

        ReportFit fit;
        fit.size = c.size;
        fit.unit = 2 * c.size;
        fit.spare = c.spare;
        const auto words = pdfWords(pdf);
        const PdfWord* city = findWord(words, "City");
        const PdfWord* amt = findWord(words, "Amt");
        const PdfWord* total = findWord(words, "600");
        ASSERT_TRUE(city && amt && total) << text;
        const double indent = 2 * fit.unit * 0.072;
        EXPECT_NEAR(city->xMin, columnLeft(c.widths, fit, 1) + indent, 1.0);
        // A "D" header prints right-justified, with its indent from the right.
        const double right = columnLeft(c.widths, fit, 3);
        EXPECT_NEAR(amt->xMax, right - indent, 1.0);
        // The total stands under its column, formatted with its picture, below the last line.
        EXPECT_NEAR(total->xMax, right - indent, 1.0);
        EXPECT_GT(total->yMin, findWord(words, "N0003")->yMax);
        EXPECT_GE(std::count(text.begin(), text.end(), '#'), 14) << "the two wide values show as #";
    }
}

TEST(ListReport, ThePageOfAQueueListIsTheRowsShownAndStopsAtTheLastEntry) {
    struct Case {
        int entries, firstRow;
    };
    // A list scrolled down, and a part-filled list whose page reaches past its last entry.
    for (const Case c : {Case{25, 9}, Case{4, 1}}) {
        SCOPED_TRACE(c.entries);
        const fs::path pdf = tempDir() / "page.pdf";
        int shown = 0, first = 0;
        runWithDesktop([&] {
            win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
            QueueRig rig("80L(2)~Name~@s20@120L(2)~City~@s30@40R(2)~Amt~D(2)@n-7@",
                         std::vector<std::int64_t>(c.entries, 7));
            rig.window.WINDOW.setProperty(QueueList, win::listprop::FirstRow, std::to_string(c.firstRow));
            shown = std::stoi(rig.sorvex.listProperty(win::listprop::VisibleRows));
            first = std::stoi(rig.sorvex.listProperty(win::listprop::FirstRow));
            rig.sorvex.PrintList("Page");  // no preview for a page unless asked
            rig.sorvex.PrintList("Other"); // prints nothing
        });
        ASSERT_EQ(first, c.firstRow);
        ASSERT_GT(shown, 4);
        ASSERT_LT(shown, 25 - 9);
        std::vector<std::string> expected;
        for (int i = first; i < first + shown && i <= c.entries; ++i)
            expected.push_back(browsetest::nameOf(i));
        const auto pages = pdfPages(pdf);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(namesOn(pages[0]), expected);
        const std::string text = collapsed(pages[0]);
        EXPECT_NE(text.find("Size: " + std::to_string(expected.size()) + " Records"), std::string::npos)
            << text;
        // No totals in the page mode: the page number follows the last line.
        const std::string last = expected.back();
        EXPECT_NE(text.find(last + " Town " + std::to_string(std::stoi(last.substr(1))) + " 7 Page 1 of 1"),
                  std::string::npos)
            << text;
    }
}

// ---- a browse over a table ----

struct PeopleSorvex : TableSorvex {
    PeopleSorvex() {
        rows = {{"PPL:SysId", 40, "Sys Id", "@n6", "People ID", 'R'},
                {"PPL:LastName", 80, "Last Name", "@s20", "Last Name", 'L'},
                {"PPL:CustId", 40, "Cust", "@n6", "Customer", 'R', true, false, false, 1, 0, true}};
    }
    void initOver(browsetest::Rig& rig) {
        Init(rig.window, rig.browse, *rig.queue, rig.window.WINDOW, browsetest::List, "report.INI",
             VisualHeader, {});
    }
};

TEST(ListReport, AThousandPeopleThroughThePreviewWithTheHeaderOnEveryPageAndTheTotalLast) {
    const fs::path pdf = tempDir() / "people.pdf";
    std::string order, pageCount;
    std::vector<int> before, after;
    std::thread user([&] {
        EXPECT_TRUE(whenShown<QWidget>("Print Preview", [&](QWidget* d) {
            for (QLabel* l : d->findChildren<QLabel*>())
                if (l->accessibleName() == "Page count") pageCount = l->text().toStdString();
            EXPECT_FALSE(fs::exists(pdf)) << "nothing is printed before the user says so";
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (b->text() == "&Print") b->click();
        }));
    });
    runWithDesktop([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        browsetest::Rig rig(1000, 10);
        ASSERT_TRUE(rig.opened);
        rig.start();
        rig.list(win::event::PageDown);
        PeopleSorvex s;
        s.initOver(rig);
        before = rig.ids();
        order = rig.view->order();
        s.PrintList("View"); // ALLPREVIEW is on by default
        after = rig.ids();
    });
    user.join();
    EXPECT_EQ(after, before) << "the browse shows its page again";
    const auto pages = pdfPages(pdf);
    ASSERT_GT(pages.size(), 10u);
    EXPECT_EQ(pageCount, " of " + std::to_string(pages.size()) + " ");
    int next = 1;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(p + 1);
        const std::string text = collapsed(pages[p]);
        const auto header = text.find("Sys Id Last Name Cust");
        ASSERT_NE(header, std::string::npos) << text;
        EXPECT_LT(text.find("Browse the People File"), header);
        EXPECT_NE(text.find("Size: 1000 Records"), std::string::npos);
        EXPECT_NE(text.find("Order: " + order), std::string::npos) << order;
        for (const std::string& n : namesOn(pages[p])) EXPECT_EQ(n, browsetest::nameOf(next++));
        EXPECT_NE(text.find("Page " + std::to_string(p + 1) + " of " + std::to_string(pages.size())),
                  std::string::npos);
    }
    EXPECT_EQ(next, 1001);
    // Every customer number 1 to 100 ten times: 10 * 5050.
    const std::string last = collapsed(pages.back());
    EXPECT_NE(last.find("N1000 100 50,500 Page"), std::string::npos) << last;
}

TEST(ListReport, ThePageOfABrowseIsExactlyTheRowsItLoaded) {
    const fs::path pdf = tempDir() / "browsepage.pdf";
    std::vector<std::string> loaded;
    runWithDesktop([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        browsetest::Rig rig(1000, 10);
        ASSERT_TRUE(rig.opened);
        rig.start();
        rig.list(win::event::PageDown);
        rig.list(win::event::PageDown);
        PeopleSorvex s;
        s.initOver(rig);
        loaded = rig.names();
        s.PrintList("Page");
    });
    ASSERT_EQ(loaded.size(), 10u);
    EXPECT_NE(loaded.front(), "N0001");
    const auto pages = pdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(namesOn(pages[0]), loaded);
    const std::string text = collapsed(pages[0]);
    EXPECT_NE(text.find("Size: 10 Records"), std::string::npos) << text;
    EXPECT_NE(text.find(loaded.back() + " " +
                        std::to_string((std::stoi(loaded.back().substr(1)) - 1) / 10 + 1) + " Page 1 of 1"),
              std::string::npos)
        << "no total: " << text;
}

TEST(ListReport, AFilteredBrowsePrintsOnlyTheRecordsOfItsFilter) {
    const fs::path pdf = tempDir() / "filtered.pdf";
    std::string filter;
    runWithDesktop([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        browsetest::Rig rig(100, 10);
        ASSERT_TRUE(rig.opened);
        rig.start();
        rig.browse.SetNamedFilter("PPL:CustId = 3");
        rig.window.Reset(true);
        rig.pump();
        PeopleSorvex s;
        s.initOver(rig);
        s.ALLPREVIEW = 0;
        filter = rig.view->filter();
        s.PrintList("View");
    });
    const auto pages = pdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    std::vector<std::string> expected;
    for (int i = 21; i <= 30; ++i) expected.push_back(browsetest::nameOf(i));
    EXPECT_EQ(namesOn(pages[0]), expected);
    const std::string text = collapsed(pages[0]);
    EXPECT_NE(text.find("Filter: " + filter), std::string::npos) << text;
    EXPECT_NE(text.find("Size: 10 Records"), std::string::npos) << text;
    EXPECT_NE(text.find("N0030 3 30 Page 1 of 1"), std::string::npos) << "the total of ten 3s: " << text;
}

TEST(ListReport, CancelOnTheProgressWindowEndsTheReportWithNothingPrinted) {
    const fs::path pdf = tempDir() / "cancelled.pdf";
    std::atomic<bool> clicked{false};
    std::thread user([&] {
        clicked = whenShown<QWidget>("Progress...", [&](QWidget* w) {
            for (QPushButton* b : w->findChildren<QPushButton*>())
                if (b->text() == "Cancel") b->click();
        });
    });
    runWithDesktop([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        browsetest::Rig rig(5000, 10);
        ASSERT_TRUE(rig.opened);
        rig.start();
        PeopleSorvex s;
        s.initOver(rig);
        s.ALLPREVIEW = 0;
        s.PrintList("View");
        EXPECT_EQ(rig.names().front(), "N0001");
    });
    user.join();
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(fs::exists(pdf));
}

} // namespace
