// The list report: PrintList, the default PreviewReport, the width and font-size fit, and the
// report's layout built from the column model.
#include "browse_ext/report.h"

#include "browse_ext/listrecords.h"
#include "browse_ext/progress.h"
#include "browse_ext/sorvex.h"
#include "runtime/datetime.h"
#include "runtime/decimal.h"
#include "runtime/picture.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"
#include "windowing/printer.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace sorv::bx {

namespace {

inline constexpr const char* ProgressResource = "SORVEX|P32$PROGRESSWINDOW";

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

int toInt(const std::string& s) {
    try {
        return std::stoi(s);
    } catch (...) {
        return 0;
    }
}

win::TextAlign dataAlign(char just) {
    switch (just) {
    case 'C':
        return win::TextAlign::Centre;
    case 'R':
        return win::TextAlign::Right;
    case 'D':
        return win::TextAlign::Decimal;
    default:
        return win::TextAlign::Left;
    }
}

// Headers have no decimal point to line up: "D" prints like "R".
win::TextAlign headerAlign(char just) {
    switch (just) {
    case 'C':
        return win::TextAlign::Centre;
    case 'R':
    case 'D':
        return win::TextAlign::Right;
    default:
        return win::TextAlign::Left;
    }
}

// One printed column: the SQ entry, its place on the page and its running total.
struct Printed {
    SorvexColumn column;
    int x = 0, width = 0;
    Decimal total;
};

// One report from preparation to finish (the Part's working values live here).
class ListReport {
public:
    ListReport(Sorvex& s, bool all) : s_(s), all_(all) {}

    void run() {
        prepare();
        const bool complete = all_ ? printAll() : printPage();
        if (complete) output();
        finish();
    }

private:
    void prepare() {
        title_ = s_.W ? s_.W->caption().substr(0, 255) : std::string();
        date_ = FORMAT(Value(today()), "@d17");
        time_ = FORMAT(Value(clockNow()), "@t7");
        fontName_ = s_.listProperty(win::listprop::FontFace).substr(0, 30);
        if (fontName_.empty()) fontName_ = "Arial";
        bodyStyle_ = toInt(s_.listProperty(win::listprop::FontStyle));
        if (bodyStyle_ == 0) bodyStyle_ = 400;
        listFontSize_ = std::max(1, toInt(s_.listProperty(win::listprop::FontSize)));

        if (s_.LISTTYPE == 1 && s_.BC && s_.BC->VIEW) {
            filter_ = s_.BC->VIEW->filter();
            order_ = s_.BC->VIEW->order();
        } else {
            firstShown_ = std::max(1, toInt(s_.listProperty(win::listprop::FirstRow)));
            shown_ = std::max(0, toInt(s_.listProperty(win::listprop::VisibleRows)));
        }
        expected_ = expectedRecords(s_);
        s_.RefreshColumns();
        measureColumns();
        layOut();
    }

    // Every column as wide as the larger of its header and its own width.
    void measureColumns() {
        const win::Window::Factors f = s_.W ? s_.W->factors() : win::Window::Factors{};
        const win::ReportFont listFont{fontName_, listFontSize_, bodyStyle_};
        std::vector<PrintedColumn> widths;
        SorvexColumn c;
        for (std::int64_t p = 1; s_.SQ.get(p, c); ++p) {
            const int header =
                win::pixelsToDialog(win::screenTextWidth(listFont, trimmed(c.HEADER)), f.xMul, f.xDiv);
            const int width = std::max<int>(header, c.WIDTHDLU);
            c.MAXWIDTH = static_cast<std::uint8_t>(std::clamp(width, 0, 255));
            s_.SQ.put(c);
            columns_.push_back({c, 0, 0, Decimal()});
            widths.push_back({width, c.BORDER == 1});
        }
        fit_ = fitColumns(widths, s_.MAXFONTSIZE, s_.MINFONTSIZE);
        for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i].width = widths[i].width;
    }

    win::ReportFont font(int style) const { return {fontName_, fit_.size, style}; }

    void layOut() {
        win::Report& r = report_.report;
        r.setTitle(title_);
        r.setPaper(s_.PAPERTYPE);
        r.setLandscape(true);
        const int n = int(columns_.size());
        const int table = fit_.tableWidth(n);
        const int across = std::max(ReportWidth, table);
        r.setWidth(across);
        r.setPageNumbers(font(bodyStyle_));

        const int lh = win::lineHeight(font(bodyStyle_));
        const int titleHeight = win::lineHeight(font(700));
        const int indentUnit = 2 * fit_.size;

        // Page header: the title, then the six values, each after its label, as many to a line as
        // fit; then one header text per column.
        win::ReportBand& h = r.pageHeader();
        h.texts.push_back({0, 0, across, title_, font(700)});
        const int gap = 2 * lh;
        int x = 0, y = titleHeight + lh / 2;
        // A width of -1 is the rest of the line.
        auto value = [&](const std::string& label, std::string text, int width) {
            const int labelWidth = win::textWidth(font(bodyStyle_), label) + lh / 2;
            if (width < 0) width = std::max(0, across - x - labelWidth);
            if (x > 0 && x + labelWidth + width > across) {
                x = 0;
                y += lh;
            }
            width = std::min(width, across - x - labelWidth);
            h.texts.push_back({x, y, labelWidth, label, font(bodyStyle_)});
            h.texts.push_back({x + labelWidth, y, width, std::move(text), font(bodyStyle_)});
            x += labelWidth + width + gap;
            return int(h.texts.size()) - 1;
        };
        auto wide = [&](const std::string& text) { return win::textWidth(font(bodyStyle_), text); };
        const std::string fontLine =
            (fontName_ + " " + std::to_string(fit_.size) + " " + "Point").substr(0, 40);
        value("Date:", date_, wide(date_));
        value("Time:", time_, wide(time_));
        value("Font:", fontLine, wide(fontLine));
        sizeText_ = value("Size:", "0 Records", wide("9999999 Records"));
        x = across; // the order and the filter share a line of their own
        value("Order:", order_, across / 2 - gap - wide("Order:"));
        value("Filter:", filter_, -1);
        const int row2 = y;

        const int headerY = std::max(650, row2 + lh + lh / 2);
        const int ruleY = headerY + lh + 20;
        h.height = ruleY + 30;
        h.lines.push_back({0, ruleY, table, ruleY, 10});

        detail_.height = lh + 40;
        totals_.height = lh + 100;
        x = 0;
        for (int i = 0; i < n; ++i) {
            Printed& p = columns_[i];
            const SorvexColumn& c = p.column;
            p.x = x;
            p.width = p.width * fit_.unit + fit_.spare;
            detail_.texts.push_back(
                {x, 20, p.width, {}, font(bodyStyle_), dataAlign(c.FJUST), c.FOFFSET * indentUnit});
            h.texts.push_back({x, headerY, p.width, trimmed(c.HEADER), font(s_.HEADERSTYLE),
                               headerAlign(c.HJUST), c.HOFFSET * indentUnit});
            if (c.BORDER == 1 && i + 1 < n) {
                // The separator runs from the header down every detail line.
                h.lines.push_back({x + p.width, headerY, x + p.width, h.height, 2});
                detail_.lines.push_back({x + p.width, 0, x + p.width, detail_.height, 2});
            }
            if (c.TOTALOK) {
                totals_.texts.push_back(
                    {x, 80, p.width, {}, font(bodyStyle_), dataAlign(c.FJUST), c.FOFFSET * indentUnit});
                totals_.lines.push_back({x, 30, x + p.width, 30, 6});
                totalAt_.push_back(i);
            }
            x += p.width;
        }
    }

    // The detail of the record now in the list's queue buffer.
    void fillDetail() {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            Printed& p = columns_[i];
            const Value v = s_.BQ ? s_.BQ->field(p.column.QNOS).get() : Value();
            const std::string text = trimmed(FORMAT(v, p.column.PICTURE));
            detail_.texts[i].text = text;
            if (p.column.TOTALOK) {
                // From the value itself: its display text may not read back ("#####" overflows).
                const Value n = v.isNumber() ? v : DEFORMAT(text, p.column.PICTURE);
                p.total = p.total + n.toDecimal();
            }
        }
    }

    void countRecord() {
        ++count_;
        report_.report.pageHeader().texts[sizeText_].text =
            (std::to_string(count_) + " Records").substr(0, 20);
    }

    bool printAll() {
        progress_.open(ProgressResource); // without one the report still prints
        // A fatal read ends it too: the browse has said why, and the window closes.
        if (walkRecords(s_, [&] { return printRecord(); }) != WalkEnd::End) return false;
        progress_.close();
        for (std::size_t t = 0; t < totalAt_.size(); ++t) {
            const Printed& p = columns_[totalAt_[t]];
            totals_.texts[t].text = trimmed(FORMAT(Value(p.total), p.column.PICTURE));
        }
        if (!totalAt_.empty()) report_.report.print(totals_);
        report_.report.endPage();
        return true;
    }

    // False when the user cancelled.
    bool printRecord() {
        countRecord();
        progress_.show(count_, expected_);
        fillDetail();
        report_.report.print(detail_);
        return !progress_.cancelled();
    }

    bool printPage() {
        if (!s_.BQ) return false;
        std::int64_t first = 1, last = s_.BQ->records();
        if (!(s_.LISTTYPE == 1 && s_.BC)) {
            // The rows the list shows, and never past the last entry.
            first = firstShown_;
            last = std::min<std::int64_t>(last, first + shown_ - 1);
        }
        for (std::int64_t e = first; e <= last; ++e) {
            s_.BQ->get(e);
            countRecord();
            fillDetail();
            report_.report.print(detail_);
        }
        report_.report.endPage();
        return true;
    }

    void output() {
        win::Report& r = report_.report;
        r.close();
        const bool preview = all_ ? s_.ALLPREVIEW == 1 : s_.PAGEPREVIEW == 1;
        if (preview) {
            SorvexPreview images{&r};
            if (!s_.PreviewReport(images, report_)) return;
        }
        std::string error;
        if (!win::printReport(r, &error)) {
            win::message("The report could not be printed.|" + error, std::string(MessageCaption),
                         win::icon::Exclamation);
        } else if (r.printer().empty()) {
            // Printed into a file: the frame says where, since nothing else shows it.
            std::error_code ec;
            const std::filesystem::path file = std::filesystem::absolute(r.file(), ec);
            win::Window(win::frameWindow()).setStatus("Report written to " + (ec ? r.file() : file.string()));
        }
    }

    void finish() {
        progress_.close();
        for (Printed& p : columns_) p.total = Decimal();
        if (s_.W) s_.W->toFront();
        showPageAgain(s_);
    }

    Sorvex& s_;
    const bool all_;
    SorvexReport report_;
    ProgressWindow progress_;
    std::string title_, date_, time_, fontName_, order_, filter_;
    int bodyStyle_ = 400, listFontSize_ = 8;
    int firstShown_ = 1, shown_ = 0;
    std::int64_t expected_ = 0, count_ = 0;
    std::vector<Printed> columns_;
    ReportFit fit_;
    win::ReportBand detail_, totals_;
    std::vector<int> totalAt_; // the column of each total text
    int sizeText_ = 0;         // the page header's text of the "Size:" value
};

} // namespace

ReportFit fitColumns(const std::vector<PrintedColumn>& columns, int maxSize, int minSize, int width) {
    ReportFit f;
    for (const PrintedColumn& c : columns) f.sum += std::max(0, c.width) + (c.border ? 1 : 0);
    const int n = int(columns.size());
    auto spareAt = [&](int size) { return n > 0 ? (width - f.sum * 2 * size) / n : width; };
    // Sizes below one point are never tried; a largest size below the smallest is tried alone.
    const int low = std::max(1, minSize);
    int size = std::max(1, maxSize), last = size;
    do {
        last = size;
        if (const int spare = spareAt(size); spare > 0) {
            f.size = size;
            f.unit = 2 * size;
            f.spare = spare;
            f.fits = true;
            return f;
        }
        size -= 2;
    } while (size >= low);
    f.size = std::max(1, last - 2);
    f.unit = 2 * f.size;
    f.spare = std::max(0, spareAt(f.size));
    return f;
}

void Sorvex::PrintList(std::string_view mode) {
    const std::string_view what = mode.substr(0, 4);
    if (what != "View" && what != "Page") return;
    ListReport(*this, what == "View").run();
}

bool Sorvex::PreviewReport(SorvexPreview& images, SorvexReport&) {
    return images.pages && win::previewReport(*images.pages, W ? W->id() : 0);
}

} // namespace sorv::bx
