// The report engine: bands of texts and lines laid out on as many pages as they need, under a page
// header repeated on every page and above a page number, then sent to the printer (or the PDF
// writer) or shown in the previewer.
//
// Units are thousandths of an inch. A band's coordinates start at its own top left; the engine
// places each band below the previous one and starts a new page, with the page header on top, when
// the next band would not fit above the page number. A report is designed for a width (`setWidth`);
// on paper narrower than that the whole page is printed scaled down, so the design always fits
// across, and a page then holds correspondingly more lines.
//
// A report is plain data built on the program thread: only measuring fonts, printing and the
// preview go to the desktop, through the call road. It is not shared between threads.
//
// Invariants: `close()` comes after the last band and before any output; after it nothing more
// may be printed. The page header's height is fixed by the first page; its texts may change until
// the report is closed and every page shows them as they stand then (the number of records printed
// on the last page is the number on every page).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sorv::win {

// Face, size in points and the style value of a font: the weight (400 regular, 700 bold) plus 4096
// for italic, 8192 for underline and 16384 for strike-out.
struct ReportFont {
    std::string face = "Arial";
    int points = 10;
    int style = 400;
    friend auto operator<=>(const ReportFont&, const ReportFont&) = default;
};

enum class TextAlign : std::uint8_t { Left, Centre, Right, Decimal };

// A text in its box: from x to x + width on the line that starts at y. It is cut at the width; the
// indent is measured from the side it is aligned to ("Decimal" puts the decimal point, or the end of
// a text without one, at the right side less the indent).
struct ReportText {
    int x = 0, y = 0, width = 0;
    std::string text;
    ReportFont font;
    TextAlign align = TextAlign::Left;
    int indent = 0;
};

// A straight line of the given thickness.
struct ReportLine {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int thickness = 10;
};

// What the program prints at once. Its height is at least that of its texts and lines.
struct ReportBand {
    int height = 0;
    std::vector<ReportText> texts;
    std::vector<ReportLine> lines;
};

// Line height of a font in thousandths of an inch (from the desktop's font metrics).
int lineHeight(const ReportFont& font);
// Natural width of a text in a font, in thousandths of an inch.
int textWidth(const ReportFont& font, const std::string& text);
// Width of a text in a font as a window on the screen shows it, in pixels.
int screenTextWidth(const ReportFont& font, const std::string& text);

class Report {
public:
    // A page as the engine laid it out: texts and lines in report units from the printable area's
    // top left, a text's font as an index into fonts().
    struct PlacedText {
        int x = 0, y = 0, width = 0;
        std::string text;
        std::uint16_t font = 0;
        TextAlign align = TextAlign::Left;
        int indent = 0;
    };
    struct Page {
        std::vector<PlacedText> texts;
        std::vector<ReportLine> lines;
    };

    // A report for the printer chosen in the printer set-up.
    Report();

    void setTitle(std::string title) { title_ = std::move(title); } // the print job's name
    const std::string& title() const { return title_; }
    // The report's own paper (the platform's paper code) and orientation; the user's choice in the
    // printer set-up wins over both. Unset, the printer's paper, landscape.
    void setPaper(int paperCode);
    void setLandscape(bool landscape);
    void setWidth(int width);
    ReportBand& pageHeader() { return header_; }
    // "Page n of m" right under every page in this font; no page numbers unless set.
    void setPageNumbers(const ReportFont& font);

    // Lays a band out below the last one, on a new page when it does not fit on this one.
    void print(const ReportBand& band);
    // The next band starts a new page.
    void endPage();
    // Puts the page header and the page numbers on every page. At least one page results.
    void close();
    bool closed() const { return closed_; }

    // The page as printed: the choice of the set-up with this report's own paper and orientation
    // where the user chose none.
    int paper() const;
    bool landscape() const;
    const std::string& printer() const { return choice_printer_; }
    const std::string& file() const { return choice_file_; }
    // Page size less margins, in thousandths of an inch as printed.
    int printableWidth() const;
    int printableHeight() const;
    // Report units per printed unit: 1 unless the design is wider than the paper.
    double scale() const;
    // Page height in report units.
    int pageHeight() const;

    int pageCount() const { return int(pages_.size()); }
    const std::vector<Page>& pages() const { return pages_; }
    const std::vector<ReportFont>& fonts() const { return fonts_; }

    static constexpr int Margin = 500;

private:
    int bandHeight(const ReportBand& band);
    std::uint16_t fontIndex(const ReportFont& font);
    void place(Page& page, const ReportBand& band, int top);
    void newPage();

    std::string title_;
    std::string choice_printer_, choice_file_;
    int choice_paper_ = 0, choice_orientation_ = 0;
    int paper_ = 0;
    bool landscape_ = true;
    int width_ = 0;
    ReportBand header_;
    int headerHeight_ = -1;
    bool numbered_ = false;
    ReportFont numberFont_;
    int footerHeight_ = 0;
    std::vector<Page> pages_;
    int used_ = 0; // height used on the last page, in report units
    bool pageEnded_ = true;
    bool closed_ = false;
    std::vector<ReportFont> fonts_;
    std::map<ReportFont, std::uint16_t> fontIndexes_;
    std::map<ReportFont, int> lineHeights_;
};

// Prints a closed report to its printer or into its PDF file. False, with the reason in `error`,
// when the printer or the file cannot take it.
bool printReport(const Report& report, std::string* error = nullptr);
// Writes a closed report into a PDF file whatever printer was chosen (the previewer's and the
// tests' road to a file). False, with the reason, when the file cannot be written.
bool writeReportPdf(const Report& report, const std::string& file, std::string* error = nullptr);

// The report as plain text, for the previewer's text output: one line of text per line of print,
// each text at the column its box gives it (a tenth of an inch per character: left texts start at
// their box, right and decimal ones end at its right side less the indent, centred ones centred),
// pages separated by form feeds.
std::string reportText(const Report& report);

// The previewer: a modal window over the pages of a closed report, with zoom, page jump, "Print"
// and "Cancel". The runtime lock is given up while it is open. Answers true when the user chose to
// print; it prints nothing itself. `parentWindow` (a window id, 0 for the frame) is the window it is
// modal to.
bool previewReport(const Report& report, int parentWindow = 0);

} // namespace sorv::win
