// The transaction control file and multi-file commits.
#include "data/qnl/txlog.h"

#include "data/qnl/pager.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorv::qnl {

namespace {

constexpr std::uint32_t LogMagic = 0x4C585451; // "QTXL"
constexpr char Signature[4] = {'q', 'U', 'a', 'R'};
void (*controlHook)(const std::string&, int) = nullptr;

bool writeAll(int fd, const void* buf, std::size_t n, off_t at) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
        at += w;
    }
    return true;
}

ssize_t readAll(int fd, void* buf, std::size_t n, off_t at) {
    char* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, p + done, n - done, at + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

int sysError() {
    setErrnoError(errno ? errno : EIO);
    return err::FileSystemError;
}

// Rolls back one file named in a log, when it still carries the transaction's pending state.
void rollbackListed(const Rollback& r, int timeoutMs) {
    int fd = ::open(r.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return; // a file removed since cannot be restored, and cannot be read either
    if (lockWithin(fd, WriterLockAt, true, timeoutMs)) {
        lockRange(fd, ReadLockAt, true, true);
        std::uint8_t head[PageSize];
        if (readAll(fd, head, PageSize, 0) == static_cast<ssize_t>(PageSize) && get32(head + hdr::Hot) == 2) {
            std::uint64_t c = get64(head + hdr::Counter);
            if (c == r.baseCounter || c == r.baseCounter + 1) applyRollback(fd, r);
        }
        unlockRange(fd, ReadLockAt);
        unlockRange(fd, WriterLockAt);
    }
    ::close(fd);
}

} // namespace

void setControlFileHook(void (*hook)(const std::string&, int)) {
    controlHook = hook;
}

std::string controlFilePathFor(const std::string& firstFile) {
    std::size_t cut = firstFile.find_last_of("/\\");
    if (cut == std::string::npos) return ControlFileName;
    std::string dir = firstFile.substr(0, cut + 1);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    return dir + ControlFileName;
}

ControlFile::~ControlFile() {
    close();
}

void ControlFile::close() {
    if (fd_ >= 0) {
        unlockRange(fd_, LockBase);
        ::close(fd_);
    }
    fd_ = -1;
}

int ControlFile::refuse() {
    if (controlHook) controlHook(path_, 1);
    close();
    setError(err::UnableToLogTransaction);
    return err::UnableToLogTransaction;
}

int ControlFile::open(const std::string& path, int timeoutMs) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        int rc = sysError();
        setError(err::UnableToLogTransaction);
        return rc == 0 ? rc : err::UnableToLogTransaction;
    }
    if (!lockWithin(fd_, LockBase, true, timeoutMs)) {
        ::close(fd_);
        fd_ = -1;
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return refuse();
    std::uint8_t h[ControlBlock] = {};
    if (st.st_size == 0) {
        // A new control file: the signature and an empty log.
        std::memcpy(h + 14, Signature, 4);
        put32(h + 6, ControlBlock);
        put32(h + 10, ControlBlock);
        if (!writeAll(fd_, h, ControlBlock, 0) || ::fdatasync(fd_) != 0) return refuse();
        start_ = end_ = ControlBlock;
        return 0;
    }
    if (readAll(fd_, h, ControlBlock, 0) != static_cast<ssize_t>(ControlBlock)) return refuse();
    if (std::memcmp(h + 14, Signature, 4) != 0) return refuse();
    start_ = get32(h + 6);
    end_ = get32(h + 10);
    // The range comes from disk: only a range of whole blocks inside the file is read.
    std::uint64_t len = static_cast<std::uint64_t>(st.st_size);
    if (start_ < ControlBlock || start_ > end_ || end_ > len || start_ % ControlBlock || end_ % ControlBlock)
        return refuse();
    return processLog(timeoutMs);
}

int ControlFile::processLog(int timeoutMs) {
    if (start_ == end_) return 0;
    std::string log(end_ - start_, '\0');
    if (readAll(fd_, log.data(), log.size(), start_) != static_cast<ssize_t>(log.size())) return refuse();
    const auto* p = reinterpret_cast<const std::uint8_t*>(log.data());
    if (log.size() < 20 || get32(p) != LogMagic) return refuse();
    std::uint32_t files = get32(p + 4), len = get32(p + 8);
    if (len > log.size() - 20 || checksum(p + 20, len, 11) != get64(p + 12)) return refuse();
    std::string_view body(log.data() + 20, len);
    std::vector<Rollback> rolls;
    std::size_t pos = 0;
    for (std::uint32_t i = 0; i < files; ++i) {
        Rollback r;
        if (!decodeRollback(body, pos, r)) return refuse();
        rolls.push_back(std::move(r));
    }
    for (const Rollback& r : rolls) rollbackListed(r, timeoutMs);
    return clearLog();
}

int ControlFile::writeLog(const std::string& stream) {
    std::string block(20, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(block.data());
    put32(p, LogMagic);
    std::size_t files = 0;
    {
        Rollback r;
        std::size_t pos = 0;
        while (pos < stream.size() && decodeRollback(stream, pos, r)) ++files;
    }
    put32(p + 4, static_cast<std::uint32_t>(files));
    put32(p + 8, static_cast<std::uint32_t>(stream.size()));
    put64(p + 12, checksum(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), 11));
    block += stream;
    block.resize((block.size() + ControlBlock - 1) / ControlBlock * ControlBlock, '\0');
    if (!writeAll(fd_, block.data(), block.size(), ControlBlock) || ::fdatasync(fd_) != 0) return sysError();
    std::uint8_t r[8];
    put32(r, ControlBlock);
    put32(r + 4, static_cast<std::uint32_t>(ControlBlock + block.size()));
    if (!writeAll(fd_, r, 8, 6) || ::fdatasync(fd_) != 0) return sysError();
    start_ = ControlBlock;
    end_ = static_cast<unsigned>(ControlBlock + block.size());
    return 0;
}

int ControlFile::clearLog() {
    std::uint8_t r[8];
    put32(r, ControlBlock);
    put32(r + 4, ControlBlock);
    if (!writeAll(fd_, r, 8, 6) || ::fdatasync(fd_) != 0) return sysError();
    start_ = end_ = ControlBlock;
    return 0;
}

// Friend of Pager: the steps of a commit that touch the pagers' collected pages.
class TxCommit {
public:
    static int run(const std::vector<Pager*>& all, const std::string& tcfPath) {
        std::vector<Pager*> files;
        for (Pager* p : all)
            if (p && p->inTxn_ && !p->dirty_.empty()) files.push_back(p);
        if (files.empty()) {
            rollbackTransaction(all);
            return 0;
        }
        ControlFile cf;
        int rc = cf.open(tcfPath);
        if (rc != 0) {
            rollbackTransaction(all);
            return rc;
        }
        char real[PATH_MAX];
        std::string tcfAbs = ::realpath(tcfPath.c_str(), real) ? std::string(real) : tcfPath;
        if (tcfAbs.size() > hdr::LiveEnd - hdr::TcfPath) {
            rollbackTransaction(all);
            setError(err::UnableToLogTransaction);
            return err::UnableToLogTransaction;
        }
        std::string stream;
        for (Pager* p : files) {
            int e = 0;
            p->writing_ = true; // the header is changed like any page of the transaction
            std::uint8_t* h = p->edit(0, e);
            p->writing_ = false;
            if (!h) {
                rollbackTransaction(all);
                return e;
            }
            put64(h + hdr::Counter, p->committedCounter() + 1);
            put32(h + hdr::Hot, 2);
            put32(h + hdr::TcfLen, static_cast<std::uint32_t>(tcfAbs.size()));
            std::memset(h + hdr::TcfPath, 0, hdr::LiveEnd - hdr::TcfPath);
            std::memcpy(h + hdr::TcfPath, tcfAbs.data(), tcfAbs.size());
            for (auto& [pgno, d] : p->dirty_)
                if (d.data) sealPage(d.data->b, pgno);
            Rollback r;
            std::string one = p->rollbackStream();
            std::size_t pos = 0;
            decodeRollback(one, pos, r);
            r.path = p->absolutePath();
            encodeRollback(stream, r);
        }
        rc = cf.writeLog(stream);
        if (rc != 0) {
            cf.clearLog();
            rollbackTransaction(all);
            setError(err::UnableToLogTransaction);
            return err::UnableToLogTransaction;
        }
        commitStep(11);
        // From here on the log is in use: a crash is undone from it.
        for (Pager* p : files) lockRange(p->fd_, ReadLockAt, true, true);
        for (Pager* p : files) {
            std::uint8_t* h = p->dirty_[0].data->b;
            if (!writeAll(p->fd_, h + hdr::LiveBegin, hdr::LiveEnd - hdr::LiveBegin, hdr::LiveBegin)) {
                rc = sysError();
                break;
            }
        }
        commitStep(12);
        for (Pager* p : files)
            if (rc == 0) rc = p->writeDirtyPages(true);
        commitStep(14);
        if (rc != 0) {
            int keep = errno;
            for (Pager* p : files) p->rollbackInPlace();
            cf.clearLog();
            for (Pager* p : files) {
                unlockRange(p->fd_, ReadLockAt);
                p->dropCache();
            }
            rollbackTransaction(all);
            setErrnoError(keep ? keep : EIO);
            return err::FileSystemError;
        }
        rc = cf.clearLog(); // the commit point
        commitStep(15);
        for (Pager* p : files) {
            std::uint8_t z[4] = {0, 0, 0, 0};
            if (rc == 0) writeAll(p->fd_, z, 4, hdr::Hot); // left set, it is cleared by the next reader
            put32(p->dirty_[0].data->b + hdr::Hot, 0);
            unlockRange(p->fd_, ReadLockAt);
            p->adoptDirty();
        }
        rollbackTransaction(all);
        return rc;
    }
};

int commitTransaction(const std::vector<Pager*>& files, const std::string& tcfPath) {
    return TxCommit::run(files, tcfPath);
}

void rollbackTransaction(const std::vector<Pager*>& files) {
    for (Pager* p : files)
        if (p) p->dropTransaction();
}

int recoverTransaction(const std::string& tcfPath, int fd, int timeoutMs) {
    ControlFile cf;
    int rc = cf.open(tcfPath, timeoutMs);
    if (rc != 0) return rc;
    // The log is processed; a pending state left on this file belongs to a committed transaction.
    if (!lockWithin(fd, WriterLockAt, true, timeoutMs)) {
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    lockRange(fd, ReadLockAt, true, true);
    std::uint8_t head[16];
    if (readAll(fd, head, 16, 0) == 16 && get32(head + hdr::Hot) == 2) {
        std::uint8_t z[4] = {0, 0, 0, 0};
        if (!writeAll(fd, z, 4, hdr::Hot)) rc = sysError();
    }
    unlockRange(fd, ReadLockAt);
    unlockRange(fd, WriterLockAt);
    return rc;
}

} // namespace sorv::qnl
