// The "ASCII" driver: a file of text lines. A record is one line: the record buffer's text
// without its trailing blanks (and up to a zero byte), then CR LF; reading strips the line end
// (LF or CR LF) and pads the buffer with blanks. Pointers and positions are byte offsets of a
// line's start (pointers count from 1), so a line can be read back and rewritten in place as
// long as its new text is no longer than the old (a shorter one is padded with blanks).
#include "data/posixfile.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace sorv {

namespace {

constexpr std::size_t Chunk = 4096;

struct Line {
    std::int64_t start = 0;
    std::string text;       // without the line end
    std::int64_t total = 0; // bytes with the line end
};

// Reads the line starting at `at`. Answers 0, 33 at the end of the file, 47 when the line's text
// is longer than `maxText` (line.total is then still set, so the caller can step over it).
// With maxText StepOnly the text is not kept: only the line's length is found, in bounded memory
// however long the line is.
constexpr std::size_t StepOnly = 0;
int readLine(int fd, std::int64_t at, std::size_t maxText, Line& line, OpArgs& args) {
    line = Line{};
    line.start = at;
    std::vector<char> block(Chunk);
    std::int64_t pos = at;
    bool tooLong = false;
    for (;;) {
        std::int64_t n = readAt(fd, block.data(), block.size(), pos);
        if (n < 0) return systemFailure(args, static_cast<int>(-n));
        if (n == 0) {
            if (pos == at) return err::RecordNotAvailable;
            break;
        }
        auto end = block.begin() + n;
        auto lf = std::find(block.begin(), end, '\n');
        if (!tooLong) line.text.append(block.begin(), lf);
        pos += (lf - block.begin());
        if (lf != end) {
            pos += 1;
            break;
        }
        if (line.text.size() > maxText + 1) { // one more for a CR before the LF
            tooLong = true;
            line.text.clear();
        }
    }
    line.total = pos - at;
    if (!tooLong && !line.text.empty() && line.text.back() == '\r' && pos > at &&
        line.total > static_cast<std::int64_t>(line.text.size()))
        line.text.pop_back();
    if (maxText == StepOnly) return 0;
    if (tooLong || line.text.size() > maxText) return err::InvalidRecordDeclaration;
    return 0;
}

// The start of the line that ends at `end` (exclusive; `end` is just after a LF or the end of
// the file); -1 when `end` is the start of the file.
std::int64_t lineStartBefore(int fd, std::int64_t end, OpArgs& args, int& code) {
    code = 0;
    if (end <= 0) return -1;
    std::int64_t pos = end - 1; // the LF of that line (or its last byte)
    char c = 0;
    if (readAt(fd, &c, 1, pos) == 1 && c == '\n') --pos;
    std::vector<char> block(Chunk);
    while (pos >= 0) {
        std::int64_t from = std::max<std::int64_t>(0, pos - static_cast<std::int64_t>(Chunk) + 1);
        std::int64_t n = readAt(fd, block.data(), static_cast<std::size_t>(pos - from + 1), from);
        if (n < 0) {
            code = systemFailure(args, static_cast<int>(-n));
            return -1;
        }
        for (std::int64_t i = n - 1; i >= 0; --i)
            if (block[static_cast<std::size_t>(i)] == '\n') return from + i + 1;
        pos = from - 1;
    }
    return 0;
}

// The record buffer as a line's text: up to a zero byte, without trailing blanks. It lies in the
// buffer itself, so it is used before the buffer changes.
std::string_view recordText(const FileDecl& file, std::size_t length) {
    auto buf = file.buffer();
    length = std::min(length, buf.size());
    const char* p = reinterpret_cast<const char*>(buf.data());
    std::size_t n = static_cast<std::size_t>(std::find(p, p + length, '\0') - p);
    while (n > 0 && p[n - 1] == ' ') --n;
    return std::string_view(p, n);
}

void fill(FileDecl& file, const std::string& text) {
    file.record.clear();
    auto buf = file.buffer();
    std::size_t n = std::min(buf.size(), text.size());
    std::memcpy(buf.data(), text.data(), n);
    // What the line does not cover keeps the blank of its field (spaces for text).
}

class AsciiDriver final : public PosixFileDriver {
public:
    std::string_view name() const override { return "ASCII"; }

protected:
    int checkDeclaration(const FileDecl& file) override {
        return file.layout().size() == 0 ? err::InvalidRecordDeclaration : 0;
    }
    int queryView() override { return 0; }

    int recordOp(int operation, FileDecl& file, PosixFileState& st, OpArgs& args) override {
        const std::size_t maxText = file.buffer().size();
        switch (operation) {
        case op::NEXT: {
            if (!st.mayRead()) return err::AccessDenied;
            Line line;
            int c = readLine(st.fd, st.nextPos, maxText, line, args);
            if (c == err::InvalidRecordDeclaration) st.nextPos += line.total; // never stuck on it
            if (c) return c;
            return took(file, st, line);
        }
        case op::PREVIOUS: {
            if (!st.mayRead()) return err::AccessDenied;
            std::int64_t end = st.prevEnd;
            if (end < 0) {
                end = fileSize(st.fd);
                if (end < 0) return systemFailure(args, static_cast<int>(-end));
            }
            int c = 0;
            std::int64_t start = lineStartBefore(st.fd, end, args, c);
            if (c) return c;
            if (start < 0) return err::RecordNotAvailable;
            Line line;
            c = readLine(st.fd, start, maxText, line, args);
            if (c == err::InvalidRecordDeclaration) st.prevEnd = start;
            if (c) return c;
            return took(file, st, line);
        }
        case op::SETfileptr:
        case op::RESETfile: {
            std::int64_t at = 0;
            if (int c = startOf(operation == op::RESETfile, args, at)) return c;
            st.nextPos = at;
            Line line;
            int c = readLine(st.fd, at, StepOnly, line, args);
            st.prevEnd = c == 0 ? at + line.total : at;
            return 0;
        }
        case op::SKIP: {
            if (!st.mayRead()) return err::AccessDenied;
            for (std::int32_t i = 0; i < std::abs(args.count); ++i) {
                Line line;
                if (args.count > 0) {
                    int c = readLine(st.fd, st.nextPos, StepOnly, line, args);
                    if (c == err::RecordNotAvailable) break;
                    if (c) return c;
                    st.prevEnd = st.nextPos;
                    st.nextPos += line.total;
                } else {
                    // Backwards from where NEXT would read, so SKIP(-n) then NEXT reads the
                    // first of the n records skipped over.
                    int c = 0;
                    std::int64_t start = lineStartBefore(st.fd, st.nextPos, args, c);
                    if (c) return c;
                    if (start < 0) break;
                    st.prevEnd = start;
                    st.nextPos = start;
                }
            }
            return 0;
        }
        case op::GETfileptr:
        case op::GETfileptrlen:
        case op::REGETfile: {
            if (!st.mayRead()) return err::AccessDenied;
            std::int64_t at = 0;
            if (int c = startOf(operation == op::REGETfile, args, at)) return c;
            Line line;
            int c = readLine(st.fd, at, maxText, line, args);
            if (c == err::RecordNotAvailable) return err::RecordNotFound;
            if (c) return c;
            if (operation == op::GETfileptrlen && line.text.size() > args.length)
                line.text.resize(args.length);
            return took(file, st, line);
        }
        case op::ADD:
        case op::APPEND:
        case op::ADDfilelen:
        case op::APPENDlen: {
            if (!st.mayWrite()) return err::AccessDenied;
            bool withLength = operation == op::ADDfilelen || operation == op::APPENDlen;
            if (withLength && args.length > maxText) return err::InvalidRecordDeclaration;
            const std::string_view text = recordText(file, withLength ? args.length : maxText);
            if (st.streaming) return gather(st, text, args);
            AppendGuard guard(st.fd);
            std::int64_t end = fileSize(st.fd);
            if (end < 0) return systemFailure(args, static_cast<int>(-end));
            // A last line without its line end gets one first, so the new record is a line of
            // its own instead of running on from the old one.
            std::string out;
            if (end > 0) {
                char last = 0;
                if (readAt(st.fd, &last, 1, end - 1) == 1 && last != '\n') out = "\r\n";
            }
            std::int64_t start = end + static_cast<std::int64_t>(out.size());
            out += text;
            out += "\r\n";
            std::int64_t w = writeAt(st.fd, out.data(), out.size(), end);
            if (w < 0) {
                int e = static_cast<int>(-w);
                if (::ftruncate(st.fd, end) != 0) { /* the old end stays the best we can do */
                }
                return systemFailure(args, e);
            }
            st.curStart = start;
            st.curLen = static_cast<std::int64_t>(text.size());
            return 0;
        }
        case op::PUT:
        case op::PUTfileptr: {
            if (!st.mayWrite()) return err::AccessDenied;
            std::int64_t at = st.curStart;
            if (operation == op::PUTfileptr) {
                if (args.pointer == 0) return err::RecordNotFound;
                at = std::int64_t{args.pointer} - 1;
            }
            if (at < 0) return err::RecordNotAvailable;
            // A line longer than the buffer was never the program's to read, so it is not
            // overwritten either (47, as reading it answers).
            Line line;
            int c = readLine(st.fd, at, maxText, line, args);
            if (c == err::RecordNotAvailable) return err::RecordNotFound;
            if (c) return c;
            std::string text(recordText(file, maxText));
            // In place only: a longer text would run over the next line.
            if (text.size() > line.text.size()) return err::InvalidRecordDeclaration;
            text.resize(line.text.size(), ' ');
            std::int64_t w = writeAt(st.fd, text.data(), text.size(), at);
            if (w < 0) return systemFailure(args, static_cast<int>(-w));
            st.curStart = at;
            st.curLen = static_cast<std::int64_t>(text.size());
            return 0;
        }
        case op::PUTfileptrlen: {
            // Bytes overwritten in place inside one line (the export's record count).
            if (!st.mayWrite()) return err::AccessDenied;
            if (args.pointer == 0) return err::RecordNotFound;
            if (args.length > maxText) return err::InvalidRecordDeclaration;
            std::int64_t at = std::int64_t{args.pointer} - 1;
            std::string old(args.length, '\0');
            std::int64_t n = readAt(st.fd, old.data(), old.size(), at);
            if (n < 0) return systemFailure(args, static_cast<int>(-n));
            if (n < static_cast<std::int64_t>(old.size())) return err::RecordNotFound;
            if (old.find_first_of("\r\n") != std::string::npos) return err::InvalidRecordDeclaration;
            const char* p = reinterpret_cast<const char*>(file.buffer().data());
            std::string_view bytes(p, args.length);
            if (bytes.find_first_of("\r\n") != std::string_view::npos) return err::InvalidRecordDeclaration;
            std::int64_t w = writeAt(st.fd, p, args.length, at);
            if (w < 0) return systemFailure(args, static_cast<int>(-w));
            return 0;
        }
        case op::RECORDSfile: {
            if (!st.mayRead()) return err::AccessDenied;
            std::vector<char> block(1 << 16);
            std::int64_t at = 0, lines = 0;
            char last = '\n';
            for (;;) {
                std::int64_t n = readAt(st.fd, block.data(), block.size(), at);
                if (n < 0) return systemFailure(args, static_cast<int>(-n));
                if (n == 0) break;
                lines += std::count(block.begin(), block.begin() + n, '\n');
                last = block[static_cast<std::size_t>(n - 1)];
                at += n;
            }
            args.records = lines + (last != '\n' ? 1 : 0);
            return 0;
        }
        default:
            return err::UnsupportedFunction;
        }
    }

private:
    static constexpr std::size_t StreamBlock = 64 * 1024;

    // An append of a streaming file: kept with the others until a block has gathered.
    static int gather(PosixFileState& st, std::string_view text, OpArgs& args) {
        if (st.pending.empty()) {
            const std::int64_t end = fileSize(st.fd);
            if (end < 0) return systemFailure(args, static_cast<int>(-end));
            st.pendingAt = end;
            char last = 0;
            if (end > 0 && readAt(st.fd, &last, 1, end - 1) == 1 && last != '\n') st.pending = "\r\n";
        }
        st.curStart = st.pendingAt + static_cast<std::int64_t>(st.pending.size());
        st.curLen = static_cast<std::int64_t>(text.size());
        st.pending += text;
        st.pending += "\r\n";
        return st.pending.size() >= StreamBlock ? writePending(st, args) : 0;
    }

    static int startOf(bool fromPosition, const OpArgs& args, std::int64_t& at) {
        if (fromPosition) return decodePosition(args.position, at) ? 0 : err::RecordNotFound;
        if (args.pointer == 0) return err::RecordNotFound;
        at = std::int64_t{args.pointer} - 1;
        return 0;
    }

    static int took(FileDecl& file, PosixFileState& st, const Line& line) {
        fill(file, line.text);
        st.curStart = line.start;
        st.curLen = static_cast<std::int64_t>(line.text.size());
        st.lastBytes = st.curLen;
        st.nextPos = line.start + line.total;
        st.prevEnd = line.start;
        return 0;
    }
};

} // namespace

std::shared_ptr<Driver> makeAsciiDriver() {
    return std::make_shared<AsciiDriver>();
}

} // namespace sorv
