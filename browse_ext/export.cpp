// The list's exports: every record of the list, in its present order and filter, written through
// the text-file driver either as comma-separated lines ("SvPort.CSV": a count line, a header line,
// one line per record) or as an HTML page holding one table ("SvPort.HTM"), then handed to the
// desktop to open with its program for the file's type.
//
// A line is placed into the file's record buffer from its start and written with its length, so
// nothing of a longer line before it can survive into it. The buffer is sized before the file is
// made for the longest line the columns can give (every value at most 255 characters, quoted or
// escaped), and never less than 2048, so no value and no line is ever cut.
//
// An export either completes or leaves no file: "Cancel" on the progress window and a file that
// cannot be made or written remove what was written and open nothing (a failure says which file
// and why). A fatal read of the view ends the export as the end of the records does.
#include "browse_ext/listrecords.h"
#include "browse_ext/preferences.h"
#include "browse_ext/progress.h"
#include "browse_ext/sorvex.h"
#include "data/files.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "windowing/desktop.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace sorv::bx {

namespace {

constexpr const char* AsciiProgress = "SORVEX|P39$PROGRESSWINDOW";
constexpr const char* HtmlProgress = "SORVEX|P44$PROGRESSWINDOW";
constexpr std::size_t LeastLine = 2048;
constexpr std::size_t NameLengthMax = 99; // the file name is a CSTRING(100)
constexpr std::size_t ValueMax = 255;     // the longest display text of a picture
constexpr std::string_view CountLine = "# Records=9999999";
constexpr std::size_t CountDigitsAt = 10; // after "# Records="

struct Column {
    std::string header;
    int qnos = 0;
    std::shared_ptr<const CompiledPicture> picture;
};

class ListExport {
public:
    ListExport(Sorvex& s, bool html) : s_(s), html_(html) {}

    void run() {
        const std::string target = (html_ ? s_.HTMLFILENAME : s_.ASCIIFILENAME).substr(0, NameLengthMax);
        name_ = std::string(trimmedRight(target));
        if (html_ && s_.W) title_ = escaped(trimmedRight(s_.W->caption()));
        separator_ = s_.SEPARATOR.empty() ? ' ' : s_.SEPARATOR[0];
        quoting_ = html_ ? CsvQuoting::System : GraphPreferences::read(s_.INIFILENAME, 12).quoting;
        total_ = expectedRecords(s_);
        s_.RefreshColumns();
        takeColumns();
        if (!makeFile()) return fail();
        if (!(html_ ? writeHtmlHead() : writeCsvHead())) return fail();

        progress_.open(html_ ? HtmlProgress : AsciiProgress); // without one the export still runs
        bool cancelled = false;
        walkRecords(s_, [&] {
            ++count_;
            progress_.show(count_, total_);
            if (!(html_ ? writeHtmlRow() : writeCsvRow())) return false;
            // The user's "Cancel" is looked for every hundred records: soon enough for a person.
            if (count_ % 100 == 1) cancelled = progress_.cancelled();
            return !cancelled;
        });
        progress_.close();
        if (failed_) return fail();
        if (cancelled) return discard();
        if (!(html_ ? writeHtmlEnd() : writeCsvCount())) return fail();
        flush(file_);
        if (errorCode()) return fail();
        close(file_);
        opened_ = false;
        if (errorCode()) return fail();
        showPageAgain(s_);
        if (s_.SHELLEXECUTE != 0) openWithShell();
    }

private:
    void takeColumns() {
        SorvexColumn c;
        const bool marked = s_.VISUAL == VisualHeader && s_.sortedColumn() != 0;
        for (std::int64_t p = 1; s_.SQ.get(p, c); ++p) {
            std::string_view header = trimmedRight(c.HEADER);
            // The sort mark is the list's way of showing the order, not part of the header.
            if (marked && c.SEQ == s_.sortedColumn() && !header.empty() &&
                (header[0] == '>' || header[0] == '<'))
                header.remove_prefix(1);
            columns_.push_back({std::string(header), c.QNOS, compilePicture(c.PICTURE)});
        }
    }

    // The longest line the columns can give: every value at its longest, quoted or escaped.
    std::size_t lineCapacity() const {
        const std::size_t cell = html_ ? ValueMax * 5 + 16 : ValueMax * 2 + 3;
        std::size_t n = 64 + title_.size() * 2 + columns_.size() * cell;
        for (const Column& c : columns_) n += c.header.size() * (html_ ? 5 : 1);
        return std::max(LeastLine, n);
    }

    bool makeFile() {
        file_.label = "SVPORT";
        file_.driver = "ASCII";
        file_.name = name_;
        file_.attributes = fileattr::Create;
        Layout l;
        l.add("SVPORT:LINE", FieldType::String, static_cast<std::uint32_t>(lineCapacity()));
        file_.record.setLayout(l);
        create(file_);
        if (errorCode()) return false;
        made_ = true;
        open(file_, 0x22);
        if (errorCode()) return false;
        opened_ = true;
        stream(file_); // lines gather in blocks: no one else writes the file meanwhile
        return true;
    }

    // ---- building a line ----

    void startLine() { at_ = 0; }
    void place(std::string_view text) {
        auto buf = file_.record.buffer();
        std::memcpy(buf.data() + at_, text.data(), std::min(text.size(), buf.size() - at_));
        at_ += std::min(text.size(), buf.size() - at_);
    }
    void place(char c) {
        auto buf = file_.record.buffer();
        if (at_ < buf.size()) buf[at_++] = static_cast<std::uint8_t>(c);
    }
    bool endLine() {
        add(file_, static_cast<std::uint32_t>(at_));
        if (errorCode() == 0) return true;
        failed_ = true;
        return false;
    }

    // A column's value of the record read, trimmed; it stays until the next value is taken.
    std::string_view value(const Column& c) {
        cell_.clear();
        if (!s_.BQ || c.qnos < 1 || c.qnos > s_.BQ->fieldCount()) return {};
        FORMAT(s_.BQ->field(c.qnos), *c.picture, cell_);
        return trimmed(cell_);
    }

    static std::string escaped(std::string_view text) {
        std::string out;
        escape(text, out);
        return out;
    }

    static void escape(std::string_view text, std::string& out) {
        out.reserve(out.size() + text.size());
        for (char ch : text) {
            switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += ch;
            }
        }
    }

    void placeQuoted(std::string_view v) {
        if (quoting_ == CsvQuoting::Standard) {
            const char special[] = {separator_, '"', '\r', '\n'};
            if (v.find_first_of(std::string_view(special, sizeof special)) == std::string_view::npos)
                return place(v);
            place('"');
            for (char ch : v) {
                if (ch == '"') place('"');
                place(ch);
            }
            return place('"');
        }
        const bool hasQuote = v.find('"') != std::string_view::npos;
        if (v.find(separator_) == std::string_view::npos && !hasQuote) return place(v);
        const char q = hasQuote ? '\'' : '"';
        place(q);
        place(v);
        place(q);
    }

    // ---- comma-separated ----

    bool writeCsvHead() {
        startLine();
        place(CountLine);
        if (!endLine()) return false;
        countAt_ = pointer(file_);
        flush(file_);
        stream(file_);
        if (s_.BROWSEHEADER != 1) return true;
        startLine();
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            place(columns_[i].header);
            if (i + 1 < columns_.size()) place(separator_);
        }
        return endLine();
    }

    bool writeCsvRow() {
        startLine();
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            placeQuoted(value(columns_[i]));
            if (i + 1 < columns_.size()) place(separator_);
        }
        return endLine();
    }

    // The seven digits of the count line, written over the line in place. A count that does not
    // fit shows the picture's overflow ("#######"): every record is still in the file.
    bool writeCsvCount() {
        std::string digits = FORMAT(Value(static_cast<std::int64_t>(count_)), "@n07");
        if (digits.size() != CountLine.size() - CountDigitsAt)
            digits.assign(CountLine.size() - CountDigitsAt, '#');
        startLine();
        place(digits);
        put(file_, countAt_ + CountDigitsAt, static_cast<std::uint32_t>(digits.size()));
        return errorCode() == 0;
    }

    // ---- HTML ----

    bool writeHtml(std::string_view line) {
        startLine();
        place(line);
        return endLine();
    }

    bool writeHtmlHead() {
        if (!writeHtml("<HTML>") ||
            !writeHtml("<HEAD><META CHARSET=\"UTF-8\"><TITLE>" + title_ + "</TITLE></HEAD>") ||
            !writeHtml("<H1>" + title_ + "</H1><P>") || !writeHtml("<TABLE BORDER=2>"))
            return false;
        if (s_.BROWSEHEADER != 1) return true;
        startLine();
        place("<TR> ");
        for (const Column& c : columns_) placeCell(c.header);
        place("</TR>");
        return endLine();
    }

    void placeCell(std::string_view text) {
        place("<TD>");
        if (text.empty()) {
            place("&nbsp");
        } else {
            escapedCell_.clear();
            escape(text, escapedCell_);
            place(escapedCell_);
        }
        place("</TD> ");
    }

    bool writeHtmlRow() {
        startLine();
        place("<TR> ");
        for (const Column& c : columns_) placeCell(value(c));
        place("</TR>");
        return endLine();
    }

    bool writeHtmlEnd() { return writeHtml("</TABLE>") && writeHtml("</HTML>"); }

    // ---- the end ----

    // The partial file goes; a device or anything else that is not a file of ours stays.
    void removeFile() {
        if (opened_) close(file_);
        opened_ = false;
        std::error_code ec;
        if (made_ && std::filesystem::is_regular_file(name_, ec)) std::filesystem::remove(name_, ec);
    }

    void fail() {
        const int code = errorCode();
        const std::string reason = code == err::FileSystemError ? fileError() : error();
        progress_.close();
        removeFile();
        showPageAgain(s_);
        win::message("The export could not write the file " + name_ + ".|" + reason + " (" +
                         std::to_string(code) + ")",
                     std::string(MessageCaption), win::icon::Exclamation);
    }

    void discard() {
        removeFile();
        showPageAgain(s_);
    }

    void openWithShell() {
        const int result = win::shellOpen(name_);
        if (result > 32) return;
        win::message("Shell launching error:" + std::to_string(result) +
                         "|you may need to specify a file type in Win95|Go to Explorer; View; Options; File "
                         "Types|and the specify a type for " +
                         name_,
                     std::string(MessageCaption), win::icon::None);
    }

    Sorvex& s_;
    const bool html_;
    std::string name_, title_;
    char separator_ = ',';
    CsvQuoting quoting_ = CsvQuoting::System;
    std::vector<Column> columns_;
    std::string cell_, escapedCell_; // one value's text, kept from record to record
    FileDecl file_;
    bool made_ = false, opened_ = false, failed_ = false;
    std::size_t at_ = 0;
    std::uint32_t countAt_ = 0;
    std::int64_t total_ = 0, count_ = 0;
    ProgressWindow progress_;
};

} // namespace

void Sorvex::ExportAscii() {
    ListExport(*this, false).run();
}

void Sorvex::ExportHtml() {
    ListExport(*this, true).run();
}

} // namespace sorv::bx
