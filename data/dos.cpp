// The "DOS" driver: a file of fixed-length records of the record buffer's size, with no header.
// Pointers are 1-based byte offsets, so the file can also be read as raw bytes: GET at pointer n
// with a length reads up to that many bytes from byte n, as they are, line breaks included (the
// text windows read a whole text file that way). NEXT and PREVIOUS read whole records only; a
// partial record at the end of the file answers 36.
#include "data/posixfile.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace sorv {

namespace {

class DosDriver final : public PosixFileDriver {
public:
    std::string_view name() const override { return "DOS"; }

protected:
    int checkDeclaration(const FileDecl& file) override {
        return file.layout().size() == 0 ? err::InvalidRecordDeclaration : 0;
    }

    int recordOp(int operation, FileDecl& file, PosixFileState& st, OpArgs& args) override {
        const auto size = static_cast<std::int64_t>(file.buffer().size());
        switch (operation) {
        case op::NEXT:
        case op::PREVIOUS: {
            if (!st.mayRead()) return err::AccessDenied;
            std::int64_t at = st.nextPos;
            if (operation == op::PREVIOUS) {
                std::int64_t end = st.prevEnd;
                if (end < 0) {
                    end = fileSize(st.fd);
                    if (end < 0) return systemFailure(args, static_cast<int>(-end));
                    // From the end, the records only line up when the file holds whole ones.
                    if (end % size != 0) return err::InvalidDataFile;
                }
                if (end == 0) return err::RecordNotAvailable;
                at = end - size;
                if (at < 0) return err::InvalidDataFile;
            }
            std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
            std::int64_t n = readAt(st.fd, data.data(), data.size(), at);
            if (n < 0) return systemFailure(args, static_cast<int>(-n));
            if (n == 0) return err::RecordNotAvailable;
            if (n < size) return err::InvalidDataFile; // a truncated last record
            return took(file, st, at, data, n);
        }
        case op::GETfileptr:
        case op::GETfileptrlen:
        case op::REGETfile: {
            if (!st.mayRead()) return err::AccessDenied;
            std::int64_t at = 0;
            if (operation == op::REGETfile) {
                if (!decodePosition(args.position, at)) return err::RecordNotFound;
            } else {
                if (args.pointer == 0) return err::RecordNotFound;
                at = std::int64_t{args.pointer} - 1;
            }
            std::int64_t want = size;
            if (operation == op::GETfileptrlen) want = std::min<std::int64_t>(size, args.length);
            std::vector<std::uint8_t> data(static_cast<std::size_t>(want));
            std::int64_t n = readAt(st.fd, data.data(), data.size(), at);
            if (n < 0) return systemFailure(args, static_cast<int>(-n));
            if (n == 0 && want > 0) return err::RecordNotFound;
            return took(file, st, at, data, n);
        }
        case op::SETfileptr:
        case op::RESETfile: {
            std::int64_t at = 0;
            if (operation == op::RESETfile) {
                if (!decodePosition(args.position, at)) return err::RecordNotFound;
            } else {
                if (args.pointer == 0) return err::RecordNotFound;
                at = std::int64_t{args.pointer} - 1;
            }
            st.nextPos = at;
            st.prevEnd = at + size;
            return 0;
        }
        case op::SKIP: {
            std::int64_t to = st.nextPos + std::int64_t{args.count} * size;
            st.nextPos = std::max<std::int64_t>(0, to);
            st.prevEnd = st.nextPos;
            return 0;
        }
        case op::ADD:
        case op::APPEND:
        case op::ADDfilelen:
        case op::APPENDlen: {
            if (!st.mayWrite()) return err::AccessDenied;
            bool withLength = operation == op::ADDfilelen || operation == op::APPENDlen;
            if (withLength && (args.length == 0 || args.length > size)) return err::InvalidRecordDeclaration;
            std::size_t n = withLength ? args.length : static_cast<std::size_t>(size);
            AppendGuard guard(st.fd);
            std::int64_t end = fileSize(st.fd);
            if (end < 0) return systemFailure(args, static_cast<int>(-end));
            std::int64_t w = writeAt(st.fd, file.buffer().data(), n, end);
            if (w < 0) {
                int e = static_cast<int>(-w);
                if (::ftruncate(st.fd, end) != 0) { /* keep the old end as far as possible */
                }
                return systemFailure(args, e);
            }
            st.curStart = end;
            st.curLen = static_cast<std::int64_t>(n);
            return 0;
        }
        case op::PUT:
        case op::PUTfileptr:
        case op::PUTfileptrlen: {
            if (!st.mayWrite()) return err::AccessDenied;
            std::int64_t at = st.curStart;
            if (operation != op::PUT) {
                if (args.pointer == 0) return err::RecordNotFound;
                at = std::int64_t{args.pointer} - 1;
            }
            if (at < 0) return err::RecordNotAvailable;
            std::size_t n = static_cast<std::size_t>(size);
            if (operation == op::PUTfileptrlen) {
                if (args.length == 0 || args.length > size) return err::InvalidRecordDeclaration;
                n = args.length;
            }
            std::int64_t end = fileSize(st.fd);
            if (end < 0) return systemFailure(args, static_cast<int>(-end));
            if (at > end) return err::RecordNotFound; // no gap is ever written into the file
            std::int64_t w = writeAt(st.fd, file.buffer().data(), n, at);
            if (w < 0) {
                int e = static_cast<int>(-w);
                // A record that would have grown the file leaves no part of itself behind.
                if (at + static_cast<std::int64_t>(n) > end && ::ftruncate(st.fd, end) != 0) {
                }
                return systemFailure(args, e);
            }
            st.curStart = at;
            st.curLen = static_cast<std::int64_t>(n);
            return 0;
        }
        case op::RECORDSfile: {
            std::int64_t end = fileSize(st.fd);
            if (end < 0) return systemFailure(args, static_cast<int>(-end));
            args.records = end / size;
            return 0;
        }
        default:
            return err::UnsupportedFunction;
        }
    }

private:
    static int took(FileDecl& file, PosixFileState& st, std::int64_t at,
                    const std::vector<std::uint8_t>& data, std::int64_t n) {
        file.record.clear();
        std::memcpy(file.buffer().data(), data.data(), static_cast<std::size_t>(n));
        st.curStart = at;
        st.curLen = n;
        st.lastBytes = n;
        st.nextPos = at + n;
        st.prevEnd = at;
        return 0;
    }
};

} // namespace

std::shared_ptr<Driver> makeDosDriver() {
    return std::make_shared<DosDriver>();
}

} // namespace sorv
