// The transaction control file and multi-file commits.
#include "data/qnl/txlog.h"

#include "data/qnl/fileio.h"
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

constexpr std::uint32_t LogMagic = 0x4C585451; // "QTXL": rollback images (an earlier version)
constexpr std::uint32_t TxnMagic = 0x32585451; // "QTX2": a transaction and the paths of its files
constexpr char Signature[4] = {'q', 'U', 'a', 'R'};
void (*controlHook)(const std::string&, int) = nullptr;

int sysError() {
    setErrnoError(errno ? errno : EIO);
    return err::FileSystemError;
}

// Only an absolute path to a file of the control file's name is ever opened from what a log
// or a header says.
bool plausibleControlPath(const std::string& tcf) {
    std::string tail = std::string("/") + ControlFileName;
    return !tcf.empty() && tcf[0] == '/' && tcf.size() > tail.size() &&
           tcf.compare(tcf.size() - tail.size(), tail.size(), tail) == 0 &&
           tcf.find('\0') == std::string::npos;
}

// Rolls back one file named in a log, when it still carries the transaction's pending state.
void rollbackListed(const Rollback& r, int timeoutMs) {
    int fd = io().open(r.path, O_RDWR, 0);
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
    io().close(fd);
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
        io().close(fd_);
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
    fd_ = io().open(path, O_RDWR | O_CREAT, 0644);
    if (fd_ < 0) {
        int rc = sysError();
        setError(err::UnableToLogTransaction);
        return rc == 0 ? rc : err::UnableToLogTransaction;
    }
    if (!lockWithin(fd_, LockBase, true, timeoutMs)) {
        io().close(fd_);
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
        if (!writeAll(fd_, h, ControlBlock, 0) || syncFile(fd_) != 0 || io().syncDirectoryOf(path) != 0)
            return refuse();
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
    if (log.size() < 20 || (get32(p) != LogMagic && get32(p) != TxnMagic)) return refuse();
    std::uint32_t files = get32(p + 4), len = get32(p + 8);
    if (len > log.size() - 20 || checksum(p + 20, len, 11) != get64(p + 12)) return refuse();
    std::string_view body(log.data() + 20, len);
    if (get32(p) == TxnMagic) {
        // A transaction that never reached its commit point: its frames go from every file.
        if (len < 8) return refuse();
        std::uint64_t txn = get64(p + 20);
        std::vector<std::string> paths;
        std::size_t pos = 8;
        for (std::uint32_t i = 0; i < files; ++i) {
            if (body.size() - pos < 4) return refuse();
            std::uint32_t n = get32(reinterpret_cast<const std::uint8_t*>(body.data() + pos));
            pos += 4;
            if (n > 4096 || body.size() - pos < n) return refuse();
            paths.emplace_back(body.substr(pos, n));
            pos += n;
        }
        for (const std::string& path : paths)
            if (int rc = resolveLog(path, txn)) return rc; // the log stays until every file is done
        return clearLog();
    }
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

int ControlFile::writeLog(std::uint32_t magic, std::uint32_t records, const std::string& stream) {
    std::string block(20, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(block.data());
    put32(p, magic);
    put32(p + 4, records);
    put32(p + 8, static_cast<std::uint32_t>(stream.size()));
    put64(p + 12, checksum(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), 11));
    block += stream;
    block.resize((block.size() + ControlBlock - 1) / ControlBlock * ControlBlock, '\0');
    if (!writeAll(fd_, block.data(), block.size(), ControlBlock) || syncFile(fd_) != 0) return sysError();
    std::uint8_t r[8];
    put32(r, ControlBlock);
    put32(r + 4, static_cast<std::uint32_t>(ControlBlock + block.size()));
    if (!writeAll(fd_, r, 8, 6) || syncFile(fd_) != 0) return sysError();
    start_ = ControlBlock;
    end_ = static_cast<unsigned>(ControlBlock + block.size());
    return 0;
}

int ControlFile::clearLog() {
    std::uint8_t r[8];
    put32(r, ControlBlock);
    put32(r + 4, ControlBlock);
    if (!writeAll(fd_, r, 8, 6) || syncFile(fd_) != 0) return sysError();
    start_ = end_ = ControlBlock;
    return 0;
}

bool controlLogHolds(const std::string& path, std::uint64_t txn) {
    if (!plausibleControlPath(path)) return false;
    int fd = io().open(path, O_RDONLY, 0);
    if (fd < 0) return false;
    std::uint8_t h[ControlBlock];
    bool holds = false;
    if (readAll(fd, h, ControlBlock, 0) == static_cast<ssize_t>(ControlBlock) &&
        std::memcmp(h + 14, Signature, 4) == 0) {
        std::uint32_t start = get32(h + 6), end = get32(h + 10);
        std::uint8_t l[28];
        holds = start < end && end - start >= sizeof l &&
                readAll(fd, l, sizeof l, start) == static_cast<ssize_t>(sizeof l) && get32(l) == TxnMagic &&
                get64(l + 20) == txn;
    }
    io().close(fd);
    return holds;
}

int settleTransaction(const std::string& tcfPath, int lockTimeoutMs) {
    if (!plausibleControlPath(tcfPath)) return 0; // nothing to settle: the frames never count
    ControlFile cf;
    return cf.open(tcfPath, lockTimeoutMs);
}

// Friend of Pager: the steps of a commit that touch the pagers' collected pages and views.
class TxCommit {
public:
    // A file's own commit: its frames, the last one marking the commit.
    static int commitOne(Pager* p) {
        p->writing_ = true; // the header is changed like any page of the transaction
        int rc = p->sealCommit(0);
        p->writing_ = false;
        Pager::Appended a;
        if (rc == 0) rc = p->appendFrames("", 0, a);
        if (rc != 0) return rc;
        p->adoptAppended(a);
        p->adoptDirty();
        p->announce();
        if (p->wal_.frames >= wal::CheckpointFrames)
            p->checkpoint(p->wal_.frames >= wal::ForceCheckpointFrames, false, false);
        return 0;
    }

    // Cuts frames a failed commit appended after the views' last commits.
    static void cutAppended(const std::vector<Pager*>& files) {
        for (Pager* p : files)
            if (p->wal_.fd >= 0 && io().truncate(p->wal_.fd, static_cast<off_t>(p->wal_.end)) == 0)
                syncFile(p->wal_.fd);
    }

    static int run(const std::vector<Pager*>& all, const std::string& tcfPath) {
        std::vector<Pager*> files;
        for (Pager* p : all)
            if (p && p->inTxn_ && !p->dirty_.empty()) files.push_back(p);
        if (files.size() <= 1) {
            // One file changed: its own commit is atomic and durable without the control file.
            int rc = files.empty() ? 0 : commitOne(files[0]);
            rollbackTransaction(all);
            return rc;
        }
        ControlFile cf;
        int rc = cf.open(tcfPath);
        if (rc != 0) {
            rollbackTransaction(all);
            return rc;
        }
        char real[PATH_MAX];
        std::string tcfAbs = ::realpath(tcfPath.c_str(), real) ? std::string(real) : tcfPath;
        if (tcfAbs.size() > 1024 || tcfAbs.empty() || tcfAbs[0] != '/') {
            rollbackTransaction(all);
            setError(err::UnableToLogTransaction);
            return err::UnableToLogTransaction;
        }
        std::uint64_t txn = randomId();
        std::string stream(8, '\0');
        put64(reinterpret_cast<std::uint8_t*>(stream.data()), txn);
        for (Pager* p : files) {
            std::uint8_t n[4];
            put32(n, static_cast<std::uint32_t>(p->absolutePath().size()));
            stream.append(reinterpret_cast<char*>(n), 4);
            stream += p->absolutePath();
        }
        rc = cf.writeLog(TxnMagic, static_cast<std::uint32_t>(files.size()), stream);
        if (rc != 0) {
            cf.clearLog();
            rollbackTransaction(all);
            setError(err::UnableToLogTransaction);
            return err::UnableToLogTransaction;
        }
        commitStep(11);
        // From here on a crash is undone from the control file.
        std::vector<Pager::Appended> appended(files.size());
        for (std::size_t i = 0; i < files.size() && rc == 0; ++i) {
            Pager* p = files[i];
            p->writing_ = true;
            rc = p->sealCommit(0);
            p->writing_ = false;
            if (rc == 0) rc = p->appendFrames(tcfAbs, txn, appended[i]);
        }
        commitStep(13);
        if (rc == 0) rc = cf.clearLog(); // the commit point
        if (rc != 0) {
            int keep = errno;
            cutAppended(files);
            cf.clearLog();
            rollbackTransaction(all);
            setErrnoError(keep ? keep : EIO);
            return err::FileSystemError;
        }
        commitStep(14);
        for (std::size_t i = 0; i < files.size(); ++i) {
            Pager* p = files[i];
            p->adoptAppended(appended[i]);
            p->adoptDirty();
            p->announce();
            if (p->wal_.frames >= wal::CheckpointFrames)
                p->checkpoint(p->wal_.frames >= wal::ForceCheckpointFrames, false, false);
        }
        rollbackTransaction(all);
        return 0;
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
