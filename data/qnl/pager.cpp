// Page cache, write collection, rollback journal and file locks of a native file.
#include "data/qnl/pager.h"

#include "data/qnl/txlog.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sorv::qnl {

namespace {

constexpr std::uint32_t JournalMagic = 0x4C4E4A51; // "QJNL"

bool writeAll(int fd, const void* buf, std::size_t n, off_t at) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
        at += w;
    }
    return true;
}

// Answers the bytes read; fewer than n at the end of the file.
ssize_t readAll(int fd, void* buf, std::size_t n, off_t at) {
    char* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, p + done, n - done, at + static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

int sysError() {
    int e = errno ? errno : EIO;
    setErrnoError(e);
    return err::FileSystemError;
}

void (*stepHook)(int) = nullptr;

} // namespace

void setCommitStepHook(void (*hook)(int)) {
    stepHook = hook;
}
void commitStep(int step) {
    if (stepHook) stepHook(step);
}

std::uint64_t checksum(const std::uint8_t* p, std::size_t n, std::uint64_t seed) {
    std::uint64_t h = seed ^ 0x9E3779B97F4A7C15ull;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    h ^= h >> 32;
    return h * 0xD6E8FEB86659FD93ull;
}

std::uint64_t pageChecksum(const std::uint8_t* page, std::uint32_t pgno) {
    if (pgno == 0) {
        std::uint64_t a = checksum(page, hdr::LiveBegin, 0);
        return checksum(page + hdr::LiveEnd, ChecksumAt - hdr::LiveEnd, a);
    }
    return checksum(page, ChecksumAt, pgno);
}

bool lockRange(int fd, long long at, bool exclusive, bool wait) {
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void unlockRange(int fd, long long at) {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &fl);
}

bool lockWithin(int fd, long long at, bool exclusive, int timeoutMs) {
    if (lockRange(fd, at, exclusive, false)) return true;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int pause = 1;
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        if (lockRange(fd, at, exclusive, false)) return true;
        pause = std::min(pause * 2, 20);
    }
    return false;
}

void encodeRollback(std::string& out, const Rollback& r) {
    std::uint8_t b[8];
    put32(b, static_cast<std::uint32_t>(r.path.size()));
    out.append(reinterpret_cast<char*>(b), 4);
    out += r.path;
    put64(b, r.baseCounter);
    out.append(reinterpret_cast<char*>(b), 8);
    put32(b, r.basePages);
    out.append(reinterpret_cast<char*>(b), 4);
    put32(b, static_cast<std::uint32_t>(r.images.size()));
    out.append(reinterpret_cast<char*>(b), 4);
    for (const auto& [pgno, img] : r.images) {
        put32(b, pgno);
        out.append(reinterpret_cast<char*>(b), 4);
        out += img;
    }
}

bool decodeRollback(std::string_view in, std::size_t& pos, Rollback& r) {
    auto take = [&](std::size_t n) -> const std::uint8_t* {
        if (n > in.size() - pos) return nullptr;
        const auto* p = reinterpret_cast<const std::uint8_t*>(in.data() + pos);
        pos += n;
        return p;
    };
    const std::uint8_t* p = take(4);
    if (!p) return false;
    std::uint32_t len = get32(p);
    if (len > 4096 || !(p = take(len))) return false;
    r.path.assign(reinterpret_cast<const char*>(p), len);
    if (!(p = take(16))) return false;
    r.baseCounter = get64(p);
    r.basePages = get32(p + 8);
    std::uint32_t n = get32(p + 12);
    if (n > r.basePages) return false;
    r.images.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
        if (!(p = take(4 + PageSize))) return false;
        std::uint32_t pgno = get32(p);
        if (pgno >= r.basePages) return false;
        r.images.emplace_back(pgno, std::string(reinterpret_cast<const char*>(p + 4), PageSize));
    }
    return true;
}

int applyRollback(int fd, const Rollback& r) {
    const std::string* zero = nullptr;
    for (const auto& [pgno, img] : r.images) {
        if (pgno == 0) {
            zero = &img;
            continue;
        }
        if (!writeAll(fd, img.data(), PageSize, static_cast<off_t>(pgno) * PageSize)) return sysError();
    }
    if (::ftruncate(fd, static_cast<off_t>(r.basePages) * PageSize) != 0) return sysError();
    // Page 0 goes last: until it is back, the hot state stays set and the rollback is redone.
    if (zero) {
        std::string img = *zero;
        std::memset(img.data() + hdr::Hot, 0, 4);
        if (!writeAll(fd, img.data(), PageSize, 0)) return sysError();
    } else {
        std::uint8_t z[4] = {0, 0, 0, 0};
        if (!writeAll(fd, z, 4, hdr::Hot)) return sysError();
    }
    if (::fdatasync(fd) != 0) return sysError();
    return 0;
}

Pager::~Pager() {
    close();
}

int Pager::open(const std::string& path, bool readOnly, bool) {
    close();
    int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            setError(err::FileNotFound);
            return err::FileNotFound;
        }
        if (errno == EACCES || errno == EPERM) {
            setError(err::AccessDenied);
            return err::AccessDenied;
        }
        return sysError();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setError(err::InvalidDataFile);
        return err::InvalidDataFile;
    }
    fd_ = fd;
    path_ = path;
    char real[PATH_MAX];
    absPath_ = ::realpath(path.c_str(), real) ? std::string(real) : path;
    readOnly_ = readOnly;
    dropCache();
    int rc = beginRead();
    if (rc == 0) {
        // beginRead checked that page 0 is there whole.
        void* m = ::mmap(nullptr, PageSize, PROT_READ, MAP_SHARED, fd_, 0);
        map_ = m == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(m);
    }
    if (rc != 0) {
        close();
        return rc;
    }
    endRead();
    return 0;
}

void Pager::close() {
    if (map_) ::munmap(const_cast<std::uint8_t*>(map_), PageSize);
    map_ = nullptr;
    lockless_ = lost_ = false;
    if (fd_ >= 0) ::close(fd_);
    if (jfd_ >= 0) ::close(jfd_);
    fd_ = jfd_ = -1;
    clean_.clear();
    dirty_.clear();
    opUndo_.clear();
    writing_ = inTxn_ = false;
    readDepth_ = 0;
}

int Pager::corruption(int number, int code) {
    setError(code);
    // A lockless read that lost its snapshot failed for that alone; it is read again.
    if (onCorrupt_ && !lost_) onCorrupt_(number);
    return code;
}

void Pager::setCacheSize(std::size_t pages) {
    cacheLimit_ = std::max<std::size_t>(pages, 16);
}

// Forgets the least recently used pages, never the header: what is dropped is read again when
// needed, and the header keeps telling whether the rest may still be used without locks.
void Pager::trimCache() {
    std::size_t keep = cacheLimit_ - cacheLimit_ / 8;
    if (clean_.size() <= keep) return;
    std::vector<std::uint64_t> uses;
    uses.reserve(clean_.size());
    for (auto& [pgno, page] : clean_)
        if (pgno != 0) uses.push_back(page->used);
    std::size_t drop = clean_.size() - keep;
    if (drop > uses.size()) drop = uses.size();
    std::nth_element(uses.begin(), uses.begin() + static_cast<std::ptrdiff_t>(drop - 1), uses.end());
    // Stamps are unique, so exactly the oldest `drop` pages are at or below the cut.
    std::uint64_t cut = uses[drop - 1];
    for (auto it = clean_.begin(); it != clean_.end();)
        it = it->first != 0 && it->second->used <= cut ? clean_.erase(it) : std::next(it);
}

void Pager::dropCache() {
    clean_.clear();
    ++generation_;
}

std::uint64_t Pager::committedCounter() const {
    auto it = clean_.find(0);
    return it == clean_.end() ? 0 : get64(it->second->b + hdr::Counter);
}

std::uint32_t Pager::committedPages() const {
    auto it = clean_.find(0);
    return it == clean_.end() ? 0 : get32(it->second->b + hdr::PageCount);
}

// Reads page 0 afresh. Answers 0, an error code, or -hot when a write was left half done.
int Pager::refresh() {
    auto buf = std::make_unique<PageBuf>();
    ssize_t n = readAll(fd_, buf->b, PageSize, 0);
    if (n < 0) return sysError();
    if (n < static_cast<ssize_t>(PageSize) || std::memcmp(buf->b, MagicText, 8) != 0) {
        setError(err::InvalidDataFile);
        return err::InvalidDataFile;
    }
    std::uint32_t hot = get32(buf->b + hdr::Hot);
    if (hot != 0) return -static_cast<int>(hot == 2 ? 2 : 1);
    auto it = clean_.find(0);
    if (it != clean_.end() && get64(it->second->b + hdr::Counter) == get64(buf->b + hdr::Counter) &&
        std::memcmp(it->second->b + hdr::LiveEnd, buf->b + hdr::LiveEnd, 64) == 0)
        return 0;
    if (!pageSealed(buf->b, 0) || get32(buf->b + hdr::PageSz) != PageSize ||
        get32(buf->b + hdr::Version) != FormatVersion)
        return corruption(corrupt::BadHeader);
    std::uint32_t pages = get32(buf->b + hdr::PageCount);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return sysError();
    if (pages == 0 || static_cast<std::uint64_t>(st.st_size) < std::uint64_t(pages) * PageSize)
        return corruption(corrupt::BadHeader);
    dropCache();
    clean_[0] = std::move(buf);
    return 0;
}

// Whether page 0 in the file is the one the cache was filled from, with no write pending. The
// bytes may change while they are compared: a mix of old and new shows at worst the state just
// before a commit that has not returned yet, and the read then uses only pages of that state.
bool Pager::cacheIsCurrent() const {
    auto it = clean_.find(0);
    if (!map_ || it == clean_.end()) return false;
    std::uint8_t hot[4], live[64];
    std::memcpy(hot, map_ + hdr::Hot, 4);
    std::memcpy(live, map_ + hdr::LiveEnd, 64);
    return get32(hot) == 0 && std::memcmp(live, it->second->b + hdr::LiveEnd, 64) == 0;
}

int Pager::recover(std::uint32_t hot) {
    if (hot == 2) {
        auto buf = std::make_unique<PageBuf>();
        if (readAll(fd_, buf->b, PageSize, 0) != static_cast<ssize_t>(PageSize)) return sysError();
        std::uint32_t len = get32(buf->b + hdr::TcfLen);
        if (len == 0 || len > hdr::LiveEnd - hdr::TcfPath) return corruption(corrupt::BadJournal);
        std::string tcf(reinterpret_cast<const char*>(buf->b + hdr::TcfPath), len);
        // The path comes from disk: only an existing control file, named as one, is opened, so a
        // damaged header never makes a file appear somewhere.
        std::string tail = std::string("/") + ControlFileName;
        if (tcf[0] != '/' || tcf.size() <= tail.size() ||
            tcf.compare(tcf.size() - tail.size(), tail.size(), tail) != 0 ||
            tcf.find('\0') != std::string::npos || ::access(tcf.c_str(), F_OK) != 0)
            return corruption(corrupt::BadJournal);
        return recoverTransaction(tcf, fd_, lockTimeoutMs_);
    }
    if (readOnly_) {
        // A read-only handle cannot repair; it must not read the half-written pages either.
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    if (!lockWithin(fd_, WriterLockAt, true, lockTimeoutMs_)) {
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    lockRange(fd_, ReadLockAt, true, true);
    int rc = 0;
    std::uint8_t head[PageSize];
    if (readAll(fd_, head, PageSize, 0) != static_cast<ssize_t>(PageSize)) {
        rc = sysError();
    } else if (get32(head + hdr::Hot) == 1) {
        std::string jpath = path_ + ".jnl";
        int jfd = ::open(jpath.c_str(), O_RDONLY | O_CLOEXEC);
        std::string stream;
        bool ok = false;
        if (jfd >= 0) {
            std::uint8_t jh[16];
            if (readAll(jfd, jh, 16, 0) == 16 && get32(jh) == JournalMagic) {
                std::uint32_t len = get32(jh + 4);
                stream.resize(len);
                if (len < (1u << 31) && readAll(jfd, stream.data(), len, 16) == static_cast<ssize_t>(len) &&
                    checksum(reinterpret_cast<const std::uint8_t*>(stream.data()), len, 7) == get64(jh + 8))
                    ok = true;
            }
            ::close(jfd);
        }
        Rollback r;
        std::size_t pos = 0;
        if (ok && decodeRollback(stream, pos, r) && r.baseCounter == get64(head + hdr::Counter))
            rc = applyRollback(fd_, r);
        else
            rc = corruption(corrupt::BadJournal);
    }
    unlockRange(fd_, ReadLockAt);
    unlockRange(fd_, WriterLockAt);
    dropCache();
    return rc;
}

int Pager::beginRead(bool lockless) {
    if (inTxn_ || writing_ || readDepth_ > 0) {
        ++readDepth_;
        return 0;
    }
    if (fd_ < 0) {
        setError(err::FileNotOpen);
        return err::FileNotOpen;
    }
    lost_ = false;
    if (clean_.size() > cacheLimit_) trimCache();
    if (lockless && cacheIsCurrent()) {
        lockless_ = true;
        readDepth_ = 1;
        return 0;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        lockRange(fd_, ReadLockAt, false, true);
        int rc = refresh();
        if (rc == 0) {
            readDepth_ = 1;
            return 0;
        }
        unlockRange(fd_, ReadLockAt);
        if (rc > 0) return rc;
        rc = recover(static_cast<std::uint32_t>(-rc));
        if (rc != 0) return rc;
    }
    setError(err::FileIsLocked);
    return err::FileIsLocked;
}

void Pager::endRead() {
    if (readDepth_ > 0 && --readDepth_ == 0 && !inTxn_ && !writing_) {
        if (!lockless_) unlockRange(fd_, ReadLockAt);
        lockless_ = false;
    }
}

int Pager::beginWrite() {
    if (fd_ < 0) {
        setError(err::FileNotOpen);
        return err::FileNotOpen;
    }
    if (readOnly_) {
        setError(err::AccessDenied);
        return err::AccessDenied;
    }
    if (inTxn_) {
        opUndo_.clear();
        writing_ = true;
        return 0;
    }
    if (clean_.size() > cacheLimit_) trimCache();
    if (!lockWithin(fd_, WriterLockAt, true, lockTimeoutMs_)) {
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        int rc = refresh();
        if (rc == 0) {
            writing_ = true;
            dirty_.clear();
            return 0;
        }
        unlockRange(fd_, WriterLockAt);
        if (rc > 0) return rc;
        rc = recover(static_cast<std::uint32_t>(-rc));
        if (rc != 0) return rc;
        if (!lockWithin(fd_, WriterLockAt, true, lockTimeoutMs_)) break;
    }
    setError(err::FileIsLocked);
    return err::FileIsLocked;
}

std::string Pager::rollbackStream() {
    Rollback r;
    r.path = path_;
    r.baseCounter = committedCounter();
    r.basePages = committedPages();
    for (auto& [pgno, d] : dirty_)
        if (d.orig && pgno < r.basePages)
            r.images.emplace_back(pgno, std::string(reinterpret_cast<const char*>(d.orig->b), PageSize));
    std::string out;
    encodeRollback(out, r);
    return out;
}

int Pager::writeJournal(const std::string& stream) {
    if (jfd_ < 0) {
        std::string jpath = path_ + ".jnl";
        jfd_ = ::open(jpath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (jfd_ < 0) return sysError();
    }
    std::string buf(16, '\0');
    auto* h = reinterpret_cast<std::uint8_t*>(buf.data());
    put32(h, JournalMagic);
    put32(h + 4, static_cast<std::uint32_t>(stream.size()));
    put64(h + 8, checksum(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), 7));
    buf += stream;
    if (!writeAll(jfd_, buf.data(), buf.size(), 0)) return sysError();
    if (syncEveryWrite_ && ::fdatasync(jfd_) != 0) return sysError();
    return 0;
}

int Pager::writeDirtyPages(bool sync) {
    std::size_t done = 0;
    for (auto& [pgno, d] : dirty_) {
        if (++done == dirty_.size() / 2) commitStep(inTxn_ ? 13 : 3);
        if (pgno == 0 || !d.data) continue;
        if (!writeAll(fd_, d.data->b, PageSize, static_cast<off_t>(pgno) * PageSize)) return sysError();
    }
    if (sync && ::fdatasync(fd_) != 0) return sysError();
    if (!inTxn_) commitStep(4);
    auto z = dirty_.find(0);
    if (z != dirty_.end() && !writeAll(fd_, z->second.data->b, PageSize, 0)) return sysError();
    std::uint32_t pages = pageCount();
    if (pages < committedPages() && ::ftruncate(fd_, static_cast<off_t>(pages) * PageSize) != 0)
        return sysError();
    if (sync && ::fdatasync(fd_) != 0) return sysError();
    return 0;
}

void Pager::adoptDirty() {
    for (auto& [pgno, d] : dirty_)
        if (d.data) {
            d.data->used = ++useClock_;
            clean_[pgno] = std::move(d.data);
        } else
            clean_.erase(pgno);
    dirty_.clear();
    opUndo_.clear();
    ++generation_;
}

int Pager::rollbackInPlace() {
    Rollback r;
    std::string s = rollbackStream();
    std::size_t pos = 0;
    decodeRollback(s, pos, r);
    return applyRollback(fd_, r);
}

int Pager::commitWrite() {
    if (!writing_) return 0;
    if (inTxn_) {
        opUndo_.clear();
        writing_ = false;
        return 0;
    }
    int rc = 0;
    if (!dirty_.empty()) {
        std::uint8_t* h = edit(0, rc);
        if (!h) {
            abortWrite();
            return rc;
        }
        put64(h + hdr::Counter, committedCounter() + 1);
        put32(h + hdr::Hot, 0);
        for (auto& [pgno, d] : dirty_)
            if (d.data) sealPage(d.data->b, pgno);
        rc = writeJournal(rollbackStream());
        commitStep(1);
        if (rc == 0) {
            lockRange(fd_, ReadLockAt, true, true);
            std::uint8_t one[4];
            put32(one, 1);
            if (!writeAll(fd_, one, 4, hdr::Hot)) rc = sysError();
            commitStep(2);
            if (rc == 0) rc = writeDirtyPages(syncEveryWrite_);
            commitStep(5);
            if (rc != 0) {
                int keep = errno;
                rollbackInPlace(); // on failure the hot state stays and the next handle retries
                setErrnoError(keep ? keep : EIO);
                dirty_.clear();
                dropCache();
            } else {
                adoptDirty();
            }
            unlockRange(fd_, ReadLockAt);
        } else {
            dirty_.clear();
            ++generation_;
        }
    }
    writing_ = false;
    unlockRange(fd_, WriterLockAt);
    return rc;
}

void Pager::abortWrite() {
    if (!writing_) return;
    writing_ = false;
    ++generation_;
    if (inTxn_) {
        for (auto& [pgno, prev] : opUndo_) {
            if (!prev)
                dirty_.erase(pgno);
            else
                dirty_[pgno].data = std::move(prev);
        }
        opUndo_.clear();
        return;
    }
    dirty_.clear();
    unlockRange(fd_, WriterLockAt);
}

const std::uint8_t* Pager::load(std::uint32_t pgno, int& err) {
    auto it = clean_.find(pgno);
    if (it != clean_.end()) {
        it->second->used = ++useClock_;
        return it->second->b;
    }
    if (pgno >= committedPages()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    if (lockless_) {
        // A page from the file: now the lock is needed, and the snapshot must still be the file's.
        lockRange(fd_, ReadLockAt, false, true);
        if (!cacheIsCurrent()) {
            unlockRange(fd_, ReadLockAt);
            lost_ = true;
            err = err::FileIsLocked;
            return nullptr;
        }
        lockless_ = false;
    }
    auto buf = std::make_unique<PageBuf>();
    ssize_t n = readAll(fd_, buf->b, PageSize, static_cast<off_t>(pgno) * PageSize);
    if (n < 0) {
        err = sysError();
        return nullptr;
    }
    if (n != static_cast<ssize_t>(PageSize) || !pageSealed(buf->b, pgno)) {
        err = corruption(corrupt::BadChecksum);
        return nullptr;
    }
    const std::uint8_t* p = buf->b;
    buf->used = ++useClock_;
    clean_[pgno] = std::move(buf);
    return p;
}

const std::uint8_t* Pager::get(std::uint32_t pgno, int& err) {
    auto d = dirty_.find(pgno);
    if (d != dirty_.end()) {
        if (!d->second.data) {
            err = corruption(corrupt::BadPageType);
            return nullptr;
        }
        return d->second.data->b;
    }
    if (pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    return load(pgno, err);
}

std::uint8_t* Pager::edit(std::uint32_t pgno, int& err) {
    if (!writing_) {
        setError(err::UnknownError);
        err = err::UnknownError;
        return nullptr;
    }
    ++generation_;
    auto d = dirty_.find(pgno);
    if (d != dirty_.end()) {
        if (!d->second.data) {
            err = corruption(corrupt::BadPageType);
            return nullptr;
        }
        if (inTxn_ && !opUndo_.count(pgno)) {
            auto copy = std::make_unique<PageBuf>(*d->second.data);
            opUndo_[pgno] = std::move(copy);
        }
        return d->second.data->b;
    }
    if (pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    const std::uint8_t* p = load(pgno, err);
    if (!p) return nullptr;
    Dirty nd;
    nd.orig = std::make_unique<PageBuf>();
    std::memcpy(nd.orig->b, p, PageSize);
    nd.data = std::make_unique<PageBuf>(*nd.orig);
    std::uint8_t* out = nd.data->b;
    dirty_[pgno] = std::move(nd);
    if (inTxn_) opUndo_.emplace(pgno, nullptr);
    return out;
}

std::uint32_t Pager::pageCount() {
    int e = 0;
    auto d = dirty_.find(0);
    if (d != dirty_.end() && d->second.data) return get32(d->second.data->b + hdr::PageCount);
    const std::uint8_t* h = nullptr;
    auto it = clean_.find(0);
    if (it != clean_.end()) h = it->second->b;
    (void)e;
    return h ? get32(h + hdr::PageCount) : 0;
}

std::uint32_t Pager::allocate(std::uint8_t type, bool fromFreeList, int& err) {
    std::uint8_t* h = edit(0, err);
    if (!h) return 0;
    std::uint32_t head = get32(h + hdr::FreeHead);
    if (fromFreeList && head != 0) {
        const std::uint8_t* fp = get(head, err);
        if (!fp) return 0;
        if (fp[0] != PageFree) {
            err = corruption(corrupt::BadFreeList);
            return 0;
        }
        std::uint32_t next = get32(fp + 4);
        std::uint8_t* p = edit(head, err);
        if (!p) return 0;
        h = edit(0, err);
        put32(h + hdr::FreeHead, next);
        put32(h + hdr::FreeCount, get32(h + hdr::FreeCount) - 1);
        std::memset(p, 0, PageSize);
        p[0] = type;
        return head;
    }
    std::uint32_t n = get32(h + hdr::PageCount);
    if (n >= 0x7FFFFFF0u) {
        setFileError(39); // the file cannot grow further
        err = err::FileSystemError;
        return 0;
    }
    put32(h + hdr::PageCount, n + 1);
    // A page given up by a truncation earlier in this write keeps its committed image.
    auto ex = dirty_.find(n);
    if (ex == dirty_.end()) {
        ex = dirty_.emplace(n, Dirty{}).first;
        if (inTxn_) opUndo_.emplace(n, nullptr);
    } else if (inTxn_ && !opUndo_.count(n)) {
        opUndo_.emplace(n, ex->second.data ? std::make_unique<PageBuf>(*ex->second.data) : nullptr);
    }
    ex->second.data = std::make_unique<PageBuf>();
    std::memset(ex->second.data->b, 0, PageSize);
    ex->second.data->b[0] = type;
    return n;
}

std::uint8_t* Pager::fresh(std::uint32_t pgno, std::uint8_t type, int& err) {
    if (!writing_ || pgno == 0 || pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    ++generation_;
    auto d = dirty_.find(pgno);
    if (d == dirty_.end()) {
        Dirty nd;
        nd.orig = std::make_unique<PageBuf>();
        if (readAll(fd_, nd.orig->b, PageSize, static_cast<off_t>(pgno) * PageSize) < 0) {
            err = sysError();
            return nullptr;
        }
        nd.data = std::make_unique<PageBuf>();
        d = dirty_.emplace(pgno, std::move(nd)).first;
        if (inTxn_) opUndo_.emplace(pgno, nullptr);
    } else {
        if (!d->second.data) d->second.data = std::make_unique<PageBuf>();
        if (inTxn_ && !opUndo_.count(pgno)) opUndo_[pgno] = std::make_unique<PageBuf>(*d->second.data);
    }
    std::memset(d->second.data->b, 0, PageSize);
    d->second.data->b[0] = type;
    return d->second.data->b;
}

void Pager::freePage(std::uint32_t pgno, int& err) {
    std::uint8_t* p = fresh(pgno, PageFree, err);
    if (!p) return;
    std::uint8_t* h = edit(0, err);
    if (!h) return;
    put32(p + 4, get32(h + hdr::FreeHead));
    put32(h + hdr::FreeHead, pgno);
    put32(h + hdr::FreeCount, get32(h + hdr::FreeCount) + 1);
}

void Pager::truncatePages(std::uint32_t count, int& err) {
    std::uint8_t* h = edit(0, err);
    if (!h) return;
    std::uint32_t committed = committedPages();
    // Pages beyond the new end keep their committed image for the journal, damaged or not.
    for (std::uint32_t pg = count; pg < committed; ++pg) {
        auto d = dirty_.find(pg);
        if (d != dirty_.end() && d->second.orig) {
            d->second.data.reset();
            continue;
        }
        Dirty nd;
        nd.orig = std::make_unique<PageBuf>();
        if (readAll(fd_, nd.orig->b, PageSize, static_cast<off_t>(pg) * PageSize) < 0) {
            err = sysError();
            return;
        }
        if (inTxn_ && !opUndo_.count(pg)) opUndo_.emplace(pg, nullptr);
        dirty_[pg] = std::move(nd);
    }
    for (auto it = dirty_.lower_bound(std::max(count, committed)); it != dirty_.end();) it = dirty_.erase(it);
    put32(h + hdr::PageCount, count);
    ++generation_;
}

int Pager::beginTransaction() {
    if (inTxn_) {
        setError(err::LogoutAlreadyActive);
        return err::LogoutAlreadyActive;
    }
    int rc = beginWrite();
    if (rc != 0) return rc;
    writing_ = false;
    inTxn_ = true;
    return 0;
}

void Pager::dropTransaction() {
    if (!inTxn_) return;
    dirty_.clear();
    opUndo_.clear();
    inTxn_ = writing_ = false;
    ++generation_;
    unlockRange(fd_, WriterLockAt);
}

int Pager::flush() {
    if (fd_ < 0) {
        setError(err::FileNotOpen);
        return err::FileNotOpen;
    }
    if (!readOnly_ && ::fsync(fd_) != 0) return sysError();
    return 0;
}

} // namespace sorv::qnl
