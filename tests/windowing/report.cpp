// The report engine, the previewer and the printer set-up under the offscreen platform: reports
// are written as PDF files and read back with poppler's pdftotext, pdfinfo and pdftoppm, as a user
// would read the paper.
#include "harness.h"
#include "pdf_text.h"

#include "windowing/printer.h"
#include "windowing/report.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolBar>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace sorv::win;
using sorv::test::runWithDesktop;
namespace fs = std::filesystem;

namespace {

using namespace sorv::test;

ReportFont arial(int points, int style = 400) {
    return {"Arial", points, style};
}

// A list report in miniature: a page header with a title and column headers, one detail line per
// number and a total.
void buildList(Report& r, int rows) {
    r.setTitle("Numbers");
    r.setWidth(9800);
    r.setPageNumbers(arial(8));
    ReportBand& h = r.pageHeader();
    h.texts = {{0, 0, 9800, "Numbers Listed", arial(12, 700)},
               {0, 400, 3000, "Name", arial(10, 700 + 4096)},
               {3000, 400, 2000, "Amount", arial(10, 700), TextAlign::Right, 20}};
    h.lines = {{0, 650, 9800, 650, 10}};
    h.height = 700;
    for (int i = 1; i <= rows; ++i) {
        ReportBand d;
        char name[32];
        std::snprintf(name, sizeof name, "Row%04d", i);
        d.texts = {{0, 20, 3000, name, arial(10)},
                   {3000, 20, 2000, std::to_string(i) + ".00", arial(10), TextAlign::Decimal, 400}};
        r.print(d);
    }
    ReportBand total;
    total.texts = {{3000, 60, 2000, std::to_string(rows * (rows + 1) / 2) + ".00", arial(10, 700),
                    TextAlign::Decimal, 400}};
    total.lines = {{3000, 20, 5000, 20, 10}};
    r.print(total);
    r.endPage();
    r.close();
}

} // namespace

TEST(ReportEngine, TextsPlacedByAlignmentAndIndentAndTheDesignScaledToNarrowPaper) {
    // Each case: the printer set-up's paper and orientation, and the report's own.
    struct Case {
        int choicePaper, choiceTurn, reportPaper;
        double width, height;        // of the paper in points
        double printableWidthPoints; // across the page less two half-inch margins
    };
    const Case cases[] = {
        {0, orientation::None, 9, 841.89, 595.28, 841.89 - 72},
        {5, orientation::Portrait, 9, 612, 1008, 612 - 72},
    };
    std::vector<std::pair<double, double>> heights; // of a text and the scale, per case
    for (const Case& c : cases) {
        const fs::path pdf = tempDir() / "aligned.pdf";
        runWithDesktop([&] {
            setPrinterChoice({"", pdf.string(), c.choicePaper, c.choiceTurn});
            Report r;
            r.setPaper(c.reportPaper);
            r.setWidth(9800);
            ReportBand b;
            b.texts = {{0, 0, 9800, "LEFTMOST", arial(10), TextAlign::Left, 0},
                       {0, 0, 9800, "RIGHTMOST", arial(10), TextAlign::Right, 0},
                       {0, 300, 9800, "MIDDLE", arial(10), TextAlign::Centre, 0},
                       {0, 600, 4900, "RIGHTHALF", arial(10), TextAlign::Right, 490},
                       {0, 900, 4900, "7.25", arial(10), TextAlign::Decimal, 490},
                       {0, 1200, 4900, "1234.75", arial(10), TextAlign::Decimal, 490},
                       {0, 1500, 4900, "42", arial(10), TextAlign::Decimal, 490}};
            r.print(b);
            r.close();
            std::string error;
            EXPECT_TRUE(writeReportPdf(r, pdf.string(), &error)) << error;
        });
        const auto [width, height] = pdfPageSize(pdf);
        EXPECT_NEAR(width, c.width, 0.5);
        EXPECT_NEAR(height, c.height, 0.5);
        const auto words = pdfWords(pdf);
        const PdfWord* left = findWord(words, "LEFTMOST");
        const PdfWord* right = findWord(words, "RIGHTMOST");
        const PdfWord* middle = findWord(words, "MIDDLE");
        const PdfWord* half = findWord(words, "RIGHTHALF");
        ASSERT_TRUE(left && right && middle && half) << c.width;
        // The design's 9800 units span what the paper offers: on legal upright it is scaled down.
        const double scale = std::min(1.0, c.printableWidthPoints / (9800 * 0.072));
        EXPECT_NEAR(left->xMin, 36, 1.5) << c.width;
        EXPECT_NEAR(right->xMax, 36 + 9800 * 0.072 * scale, 1.5) << c.width;
        EXPECT_NEAR((middle->xMin + middle->xMax) / 2, 36 + 4900 * 0.072 * scale, 1.5);
        EXPECT_NEAR(half->xMax, 36 + (4900 - 490) * 0.072 * scale, 1.5);
        // Decimal points line up; a number without one ends where they stand.
        const PdfWord* a = findWord(words, "7.25");
        const PdfWord* b = findWord(words, "1234.75");
        const PdfWord* n = findWord(words, "42");
        ASSERT_TRUE(a && b && n);
        EXPECT_NEAR(a->xMax, b->xMax, 0.5);
        EXPECT_NEAR(n->xMax, half->xMax, 0.5);
        EXPECT_LT(n->xMax, a->xMax);
        heights.push_back({right->yMax - right->yMin, scale});
    }
    // The text is scaled with the page.
    EXPECT_NEAR(heights[1].first / heights[0].first, heights[1].second / heights[0].second, 0.02);
}

TEST(ReportEngine, ABandTallerThanAPageAndAnEmptyReportStillMakePages) {
    runWithDesktop([] {
        setPrinterChoice({"", (tempDir() / "x.pdf").string(), 1, orientation::Landscape});
        Report empty;
        empty.pageHeader().texts = {{0, 0, 1000, "Header", arial(10)}};
        empty.close();
        EXPECT_EQ(empty.pageCount(), 1);
        EXPECT_EQ(empty.pages()[0].texts.size(), 1u);

        Report tall;
        ReportBand small, huge;
        small.texts = {{0, 0, 1000, "small", arial(10)}};
        huge.height = tall.pageHeight() * 2;
        tall.print(small);
        tall.print(huge);
        tall.print(small);
        tall.print(small);
        tall.close();
        // The tall band starts a page of its own and the next band follows on a new one.
        EXPECT_EQ(tall.pageCount(), 3);
        EXPECT_EQ(tall.pages()[2].texts.size(), 2u);

        Report refused;
        refused.close();
        std::string error;
        EXPECT_FALSE(writeReportPdf(refused, "/nonexistent-dir/r.pdf", &error));
        EXPECT_NE(error.find("/nonexistent-dir/r.pdf"), std::string::npos) << error;
    });
}

TEST(Previewer, ShowsThePagesJumpsAndZoomsAndAnswersPrintOrCancel) {
    struct Seen {
        int pages = 0, pageAfterJump = 0, pageAfterLast = 0;
        double zoomBefore = 0, zoomAfter = 0;
        std::string of;
    } seen;
    std::atomic<int> answers[2] = {-1, -1};
    QDialog* preview = nullptr;
    const fs::path textFile = tempDir() / "preview.txt";
    std::string text;
    std::thread user([&] {
        EXPECT_TRUE(whenShown<QDialog>("Print Preview", [&](QDialog* d) {
            auto* view = d->findChild<QPrintPreviewWidget*>();
            auto* page = d->findChild<QSpinBox*>();
            ASSERT_TRUE(view && page);
            seen.pages = view->pageCount();
            page->setValue(3); // typed into the page box
            seen.pageAfterJump = view->currentPage();
            seen.zoomBefore = view->zoomFactor();
            for (QAction* a : d->findChildren<QAction*>()) {
                if (a->text() == "Zoom &In") a->trigger();
                if (a->text() == "&Last") a->trigger();
            }
            seen.zoomAfter = view->zoomFactor();
            seen.pageAfterLast = page->value();
            for (QLabel* l : d->findChildren<QLabel*>())
                if (l->accessibleName() == "Page count") seen.of = l->text().toStdString();
            preview = d;
            // The text output asks for a file in a dialog of its own.
            for (QAction* a : d->findChildren<QAction*>())
                if (a->text() == "Save &Text...")
                    QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
        }));
        EXPECT_TRUE(whenShown<QFileDialog>("Save Text", [&](QFileDialog* f) {
            // Typed into the name box, then saved.
            auto* name = f->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_TRUE(name);
            name->setText(QString::fromStdString(textFile.string()));
            static_cast<QDialog*>(f)->accept();
        }));
        onGui([&] {
            for (QPushButton* b : preview->findChildren<QPushButton*>())
                if (b->text() == "&Print") b->click();
        });
        EXPECT_TRUE(whenShown<QDialog>("Print Preview", [&](QDialog* d) {
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (b->text() == "&Cancel") b->click();
        }));
    });
    int pageCount = 0;
    runWithDesktop([&] {
        setPrinterChoice({"", (tempDir() / "preview.pdf").string(), 0, orientation::None});
        Report r;
        buildList(r, 200);
        pageCount = r.pageCount();
        answers[0] = previewReport(r);
        answers[1] = previewReport(r);
        text = reportText(r);
    });
    user.join();
    EXPECT_EQ(answers[0], 1);
    EXPECT_EQ(answers[1], 0);
    EXPECT_GE(pageCount, 5);
    EXPECT_EQ(seen.pages, pageCount);
    EXPECT_EQ(seen.pageAfterJump, 3);
    EXPECT_EQ(seen.pageAfterLast, pageCount);
    EXPECT_GT(seen.zoomAfter, seen.zoomBefore);
    EXPECT_EQ(seen.of, " of " + std::to_string(pageCount) + " ");
    EXPECT_FALSE(fs::exists(tempDir() / "preview.pdf")) << "the previewer prints nothing itself";
    ASSERT_TRUE(fs::exists(textFile));
    std::ifstream saved(textFile, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), text);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), pageCount);
}

TEST(ReportEngine, TextOutputKeepsEachTextInItsColumn) {
    runWithDesktop([] {
        setPrinterChoice({"", (tempDir() / "x.pdf").string(), 1, orientation::Landscape});
        Report r;
        r.pageHeader().texts = {{0, 0, 3000, "Title", arial(10)}};
        ReportBand b;
        b.texts = {{0, 20, 1000, "Left", arial(10), TextAlign::Left, 100},
                   {1000, 20, 1000, "Right", arial(10), TextAlign::Right, 0},
                   {2000, 20, 1000, "12.5", arial(10), TextAlign::Decimal, 300},
                   {3000, 20, 1000, "Mid", arial(10), TextAlign::Centre, 0}};
        r.print(b);
        r.endPage();
        b.texts.resize(1);
        r.print(b);
        r.close();
        // Columns of a tenth of an inch: Left at 1, Right ending at 20, the point of 12.5 at 27,
        // Mid centred on 35.
        EXPECT_EQ(reportText(r), "Title\n"
                                 " Left          Right     12.5     Mid\n"
                                 "\f"
                                 "Title\n"
                                 " Left\n"
                                 "\f");
    });
}

TEST(PrinterSetup, TheChoiceIsKeptOnlyWhenAcceptedAndReportsUseIt) {
    const fs::path pdf = tempDir() / "chosen.pdf";
    std::atomic<int> accepted{-1}, cancelled{-1};
    std::vector<std::string> papers;
    std::thread user([&] {
        EXPECT_TRUE(whenShown<QDialog>("Print Setup", [&](QDialog* d) {
            QComboBox* printer = nullptr;
            QComboBox* paper = nullptr;
            for (QComboBox* c : d->findChildren<QComboBox*>())
                (c->accessibleName() == "Name" ? printer : paper) = c;
            ASSERT_TRUE(printer && paper);
            printer->setCurrentIndex(printer->findText("PDF file"));
            for (int i = 0; i < paper->count(); ++i) papers.push_back(paper->itemText(i).toStdString());
            paper->setCurrentIndex(paper->findText("Legal"));
            for (QLineEdit* e : d->findChildren<QLineEdit*>())
                if (e->accessibleName() == "File") e->setText(QString::fromStdString(pdf.string()));
            for (QRadioButton* b : d->findChildren<QRadioButton*>())
                if (b->text() == "&Portrait") b->click();
            d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        }));
        EXPECT_TRUE(whenShown<QDialog>("Print Setup", [&](QDialog* d) {
            for (QRadioButton* b : d->findChildren<QRadioButton*>())
                if (b->text() == "&Landscape") b->click();
            d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        }));
    });
    PrinterChoice after;
    runWithDesktop([&] {
        setPrinterChoice({"", "elsewhere.pdf", 0, orientation::None});
        accepted = printerSetup();
        cancelled = printerSetup();
        after = printerChoice();
        // The report goes to the chosen file on the chosen paper, whatever paper it asks for.
        Report r;
        r.setPaper(9);
        r.print(ReportBand{0, {{0, 0, 1000, "Chosen", arial(10)}}, {}});
        r.close();
        std::string error;
        EXPECT_TRUE(printReport(r, &error)) << error;
    });
    user.join();
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(after, (PrinterChoice{"", pdf.string(), 5, orientation::Portrait}));
    EXPECT_NE(std::find(papers.begin(), papers.end(), "A4"), papers.end());
    EXPECT_EQ(pdfPageSize(pdf), std::make_pair(612.0, 1008.0));
    EXPECT_EQ(paperName(9), "A4");
    EXPECT_EQ(paperName(0), "");
}
