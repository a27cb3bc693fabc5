// Page cache, write collection, the write-ahead log and the file locks of a native file.
#include "data/qnl/pager.h"

#include "data/qnl/txlog.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sorv::qnl {

namespace {

constexpr std::uint32_t JournalMagic = 0x4C4E4A51; // "QJNL"
constexpr std::uint32_t WalMagic = 0x4C415751;     // "QWAL"
constexpr std::uint32_t WalVersion = 1;

int sysError() {
    int e = errno ? errno : EIO;
    setErrnoError(e);
    return err::FileSystemError;
}

void (*stepHook)(int) = nullptr;

std::uint64_t headerChecksum(const std::uint8_t* h) {
    return checksum(h, 24, 0x51574C);
}

// A frame's checksum: its header up to the checksum, then its page, chained from the frame before.
std::uint64_t frameChecksum(const std::uint8_t* f, std::uint64_t chain) {
    return checksum(f + wal::FrameHeader, PageSize, checksum(f, 24, chain));
}

// The salt and commit counter of a log header; salt 0 for a header that is missing or damaged,
// or that belongs to another file.
std::uint64_t readLogHeader(int fd, std::uint64_t fileId, std::uint64_t* seq) {
    std::uint8_t h[40];
    if (fd < 0 || readAll(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) return 0;
    if (get32(h) != WalMagic || get32(h + 4) != WalVersion || get64(h + 24) != headerChecksum(h) ||
        get64(h + 16) != fileId)
        return 0;
    if (seq) *seq = get64(h + wal::SeqAt);
    return get64(h + 8);
}

} // namespace

void setCommitStepHook(void (*hook)(int)) {
    stepHook = hook;
}
void commitStep(int step) {
    if (stepHook) stepHook(step);
}

bool parseSyncMode(std::string_view word, SyncMode& out) {
    std::string w;
    for (char c : word) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (w == "FULL")
        out = SyncMode::Full;
    else if (w == "NORMAL")
        out = SyncMode::Normal;
    else if (w == "OFF")
        out = SyncMode::Off;
    else
        return false;
    return true;
}

SyncMode defaultSyncMode() {
    static const SyncMode mode = [] {
        SyncMode m = SyncMode::Full;
        if (const char* e = std::getenv("SORV_QNL_SYNC")) parseSyncMode(e, m);
        return m;
    }();
    return mode;
}

std::uint64_t randomId() {
    // Seeded again in every process: a child made by fork() would otherwise draw the very same
    // salts as its parent, and a reader could take a new log for the one it knows.
    static std::mutex m;
    static std::mt19937_64 rng;
    static pid_t seededFor = 0;
    std::lock_guard lock(m);
    if (seededFor != ::getpid()) {
        seededFor = ::getpid();
        std::random_device rd;
        rng.seed((std::uint64_t(rd()) << 32) ^ rd() ^ (std::uint64_t(seededFor) << 20) ^
                 static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    }
    std::uint64_t v;
    do v = rng();
    while (v == 0);
    return v;
}

namespace {
constexpr std::uint64_t SumIn = 0x9E3779B97F4A7C15ull, SumStep = 0x100000001B3ull,
                        SumOut = 0xD6E8FEB86659FD93ull;
inline std::uint64_t sumWord(std::uint64_t h, std::uint64_t w) {
    h = (h ^ w) * SumStep;
    return h ^ (h >> 29);
}
inline std::uint64_t sumEnd(std::uint64_t h) {
    return (h ^ (h >> 32)) * SumOut;
}

// Seals a page other than the header for its place and copies it into a frame, answering the
// frame's checksum chained from seed (the sum of the frame header's first 24 bytes). One pass:
// the page's own checksum and the frame's are two independent chains over the same words, each
// as checksum() computes it, so the processor works on both at once instead of one after the
// other.
std::uint64_t sealIntoFrame(std::uint8_t* page, std::uint32_t pgno, std::uint8_t* to, std::uint64_t seed) {
    static_assert(ChecksumAt % 8 == 0 && PageSize == ChecksumAt + 8);
    std::uint64_t own = std::uint64_t(pgno) ^ SumIn, frame = seed ^ SumIn;
    for (std::size_t i = 0; i < ChecksumAt; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, page + i, 8);
        std::memcpy(to + i, &w, 8);
        own = sumWord(own, w);
        frame = sumWord(frame, w);
    }
    put64(page + ChecksumAt, sumEnd(own));
    std::uint64_t w;
    std::memcpy(&w, page + ChecksumAt, 8);
    std::memcpy(to + ChecksumAt, &w, 8);
    return sumEnd(sumWord(frame, w));
}
} // namespace

std::uint64_t checksum(const std::uint8_t* p, std::size_t n, std::uint64_t seed) {
    std::uint64_t h = seed ^ SumIn;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = sumWord(h, w);
    }
    for (; i < n; ++i) h = (h ^ p[i]) * SumStep;
    return sumEnd(h);
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
    if (io().truncate(fd, static_cast<off_t>(r.basePages) * PageSize) != 0) return sysError();
    // Page 0 goes last: until it is back, the hot state stays set and the rollback is redone.
    if (zero) {
        std::string img = *zero;
        std::memset(img.data() + hdr::Hot, 0, 4);
        if (!writeAll(fd, img.data(), PageSize, 0)) return sysError();
    } else {
        std::uint8_t z[4] = {0, 0, 0, 0};
        if (!writeAll(fd, z, 4, hdr::Hot)) return sysError();
    }
    if (syncFile(fd) != 0) return sysError();
    return 0;
}

Pager::~Pager() {
    close();
}

int Pager::open(const std::string& path, bool readOnly, bool) {
    close();
    int fd = io().open(path, readOnly ? O_RDONLY : O_RDWR, 0);
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
        io().close(fd);
        setError(err::InvalidDataFile);
        return err::InvalidDataFile;
    }
    fd_ = fd;
    path_ = path;
    char real[PATH_MAX];
    absPath_ = ::realpath(path.c_str(), real) ? std::string(real) : path;
    readOnly_ = readOnly;
    // The log names the data file by its device and inode, so a log left by another file of the
    // same name (one replaced since) is never applied to this one.
    fileId_ = (std::uint64_t(st.st_dev) << 40) ^ std::uint64_t(st.st_ino) ^ 0x514E4C;
    dropCache();
    int rc = openLog(!readOnly);
    if (rc == 0) rc = beginRead();
    if (rc != 0) {
        close();
        return rc;
    }
    endRead();
    return 0;
}

int Pager::openLog(bool create) {
    if (wal_.fd >= 0) return 0;
    std::string wp = path_ + ".wal";
    int fd = io().open(wp, readOnly_ ? O_RDONLY : O_RDWR | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        // No log yet: the data file holds every commit. A writer makes one at its first write.
        if (errno == ENOENT || errno == EACCES || errno == EPERM || errno == EROFS) return 0;
        return sysError();
    }
    wal_.fd = fd;
    return 0;
}

void Pager::close() {
    if (fd_ >= 0 && !readOnly_ && !inTxn_ && !writing_ && wal_.fd >= 0) {
        // The last handle to leave copies the log into the data file, so that a file at rest is
        // whole in itself; with readers or writers about it stays for them.
        if (lockRange(fd_, WriterLockAt, true, false)) {
            bool reset = false;
            std::string dead;
            if (catchUp(true, reset, &dead) == 0 && dead.empty()) checkpoint(false, false, true);
            unlockRange(fd_, WriterLockAt);
        }
    }
    while (pins_ > 0) unpin();
    lockless_ = lost_ = false;
    if (fd_ >= 0) io().close(fd_);
    if (wal_.fd >= 0) io().close(wal_.fd);
    fd_ = -1;
    wal_ = WalView{};
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
    if (drop == 0) return;
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

// Brings the view up to the last commit in the log. A transaction over several files whose
// control file still holds its log is not committed: the view stops before it, and a writer
// (which holds the writer lock, so the transaction's process is gone) learns its control file.
int Pager::catchUp(bool writer, bool& reset, std::string* deadTxn) {
    std::uint64_t seq = 0;
    std::uint64_t salt = readLogHeader(wal_.fd, fileId_, &seq);
    if (salt != wal_.salt || salt == 0) {
        if (salt != wal_.salt) {
            // A checkpoint put the log into the data file and started it again.
            reset = true;
            dropCache();
        }
        wal_.salt = salt;
        wal_.index.clear();
        wal_.end = wal::HeaderSize;
        wal_.chain = salt;
        wal_.pages = 0;
        wal_.frames = 0;
    }
    wal_.seq = seq;
    if (salt == 0) return 0;
    // Most of the time nothing was committed since: the frame header after the view's end shows
    // it (the end of the log, or a frame of an earlier salt in a log written again).
    std::uint8_t probe[wal::FrameHeader];
    ssize_t head = readAll(wal_.fd, probe, sizeof probe, static_cast<off_t>(wal_.end));
    if (head < 0) return sysError();
    if (head < static_cast<ssize_t>(sizeof probe) || get64(probe + 8) != salt) return 0;
    constexpr std::size_t Batch = 16;
    std::vector<std::uint8_t> buf(Batch * wal::FrameSize);
    std::vector<std::pair<std::uint32_t, std::uint64_t>> pending;
    std::uint64_t pos = wal_.end, chain = wal_.chain;
    bool changed = false;
    for (bool stop = false; !stop;) {
        ssize_t got = readAll(wal_.fd, buf.data(), buf.size(), static_cast<off_t>(pos));
        if (got < 0) return sysError();
        std::size_t frames = static_cast<std::size_t>(got) / wal::FrameSize;
        if (frames < Batch) stop = true;
        for (std::size_t i = 0; i < frames; ++i) {
            const std::uint8_t* f = buf.data() + i * wal::FrameSize;
            if (get64(f + 8) != salt) {
                stop = true;
                break;
            }
            std::uint64_t c = frameChecksum(f, chain);
            if (get64(f + 24) != c) {
                stop = true;
                break;
            }
            chain = c;
            std::uint32_t pg = get32(f), commit = get32(f + 4);
            std::uint64_t at = pos + i * wal::FrameSize;
            pending.emplace_back(pg, at);
            if (commit == 0) continue;
            if (pg == wal::MarkerPage) {
                const std::uint8_t* d = f + wal::FrameHeader;
                std::uint32_t len = get32(d + 8);
                std::string tcf = len <= 1024 ? std::string(reinterpret_cast<const char*>(d + 12), len) : "";
                if (controlLogHolds(tcf, get64(d))) {
                    if (writer && deadTxn) *deadTxn = tcf.empty() ? "?" : tcf;
                    stop = true;
                    break;
                }
            }
            std::uint32_t before = wal_.pages;
            for (auto [p, a] : pending) {
                if (p == wal::MarkerPage) continue;
                wal_.index[p] = a;
                clean_.erase(p);
            }
            if (before == 0 || commit < before) {
                // Pages past the end of a file that shrank are gone from the view.
                for (auto it = wal_.index.begin(); it != wal_.index.end();)
                    it = it->first >= commit ? wal_.index.erase(it) : std::next(it);
                for (auto it = clean_.begin(); it != clean_.end();)
                    it = it->first >= commit ? clean_.erase(it) : std::next(it);
            }
            wal_.frames += static_cast<std::uint32_t>(pending.size());
            pending.clear();
            wal_.pages = commit;
            wal_.end = at + wal::FrameSize;
            wal_.chain = chain;
            changed = true;
        }
        pos += frames * wal::FrameSize;
    }
    if (changed) ++generation_;
    (void)writer;
    return 0;
}

// Brings the view up to date (or keeps a pinned snapshot) and makes sure the header page of the
// view is at hand. Answers 0, an error code, -1 or -2 for a write an earlier version of this
// engine left half done, or -3 for a dead transaction (deadTcf_ names its control file).
int Pager::refresh(bool writer) {
    if (wal_.fd < 0) {
        int rc = openLog(false); // a read-only handle sees a log that appeared since
        if (rc != 0) return rc;
    }
    bool keep = false;
    if (!writer && pins_ > 0 && pinTaken_ && clean_.count(0)) {
        std::uint64_t seq = 0;
        keep = readLogHeader(wal_.fd, fileId_, &seq) == wal_.salt;
    }
    bool reset = false;
    if (!keep) {
        deadTcf_.clear();
        int rc = catchUp(writer, reset, writer ? &deadTcf_ : nullptr);
        if (rc != 0) return rc;
        if (!deadTcf_.empty()) return -3;
    }
    if (!clean_.count(0)) {
        if (!wal_.index.count(0)) {
            auto buf = std::make_unique<PageBuf>();
            ssize_t n = readAll(fd_, buf->b, PageSize, 0);
            if (n < 0) return sysError();
            if (n < static_cast<ssize_t>(PageSize) || std::memcmp(buf->b, MagicText, 8) != 0) {
                setError(err::InvalidDataFile);
                return err::InvalidDataFile;
            }
            std::uint32_t hot = get32(buf->b + hdr::Hot);
            if (hot != 0) return -static_cast<int>(hot == 2 ? 2 : 1);
        }
        int e = 0;
        const std::uint8_t* h = load(0, e);
        if (!h) return e;
        std::uint32_t version = get32(h + hdr::Version);
        std::uint32_t pages = get32(h + hdr::PageCount);
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return sysError();
        // Without commits in the log the data file alone holds every page.
        bool cut =
            wal_.pages == 0 && static_cast<std::uint64_t>(st.st_size) < std::uint64_t(pages) * PageSize;
        if (get32(h + hdr::PageSz) != PageSize || version < OldestVersion || version > FormatVersion ||
            pages == 0 || cut) {
            clean_.erase(0);
            return corruption(corrupt::BadHeader);
        }
    }
    takePin();
    return 0;
}

// A pinned handle whose view is current takes it as its snapshot.
void Pager::takePin() {
    if (pins_ > 0 && !pinTaken_) {
        pinTaken_ = true;
        // Without the lock (a checkpoint is about to start) the snapshot still holds until the
        // log starts again; reads then notice the new salt.
        snapLocked_ = lockRange(fd_, SnapshotLockAt, false, false);
    }
}

// Whether the cache may serve a read without any lock: a pinned snapshot always may (its pages
// stay valid until a checkpoint, which a page read notices); otherwise the log must show the
// salt and commit counter the view was brought up to.
bool Pager::cacheIsCurrent() const {
    if (!clean_.count(0)) return false;
    if (pins_ > 0 && pinTaken_) return true;
    if (wal_.salt == 0) return false;
    std::uint64_t seq = 0;
    return readLogHeader(wal_.fd, fileId_, &seq) == wal_.salt && seq == wal_.seq;
}

int Pager::recover(std::uint32_t hot) {
    // A read-only handle cannot repair through its own descriptor; it repairs through one that
    // may write when the file lets it, and otherwise answers at once rather than wait for a lock
    // it can never have.
    int fd = fd_;
    if (readOnly_) {
        fd = io().open(path_, O_RDWR, 0);
        if (fd < 0) {
            setError(err::FileIsLocked);
            return err::FileIsLocked;
        }
    }
    int rc = 0;
    if (hot == 2) {
        auto buf = std::make_unique<PageBuf>();
        std::uint32_t len = 0;
        if (readAll(fd, buf->b, PageSize, 0) != static_cast<ssize_t>(PageSize)) {
            rc = sysError();
        } else if (len = get32(buf->b + hdr::TcfLen); len == 0 || len > hdr::LiveEnd - hdr::TcfPath) {
            rc = corruption(corrupt::BadJournal);
        } else {
            std::string tcf(reinterpret_cast<const char*>(buf->b + hdr::TcfPath), len);
            // The path comes from disk: only an existing control file, named as one, is opened, so
            // a damaged header never makes a file appear somewhere.
            std::string tail = std::string("/") + ControlFileName;
            if (tcf[0] != '/' || tcf.size() <= tail.size() ||
                tcf.compare(tcf.size() - tail.size(), tail.size(), tail) != 0 ||
                tcf.find('\0') != std::string::npos || ::access(tcf.c_str(), F_OK) != 0)
                rc = corruption(corrupt::BadJournal);
            else
                rc = recoverTransaction(tcf, fd, lockTimeoutMs_);
        }
    } else if (!lockWithin(fd, WriterLockAt, true, lockTimeoutMs_)) {
        setError(err::FileIsLocked);
        rc = err::FileIsLocked;
    } else {
        lockRange(fd, ReadLockAt, true, true);
        std::uint8_t head[PageSize];
        if (readAll(fd, head, PageSize, 0) != static_cast<ssize_t>(PageSize)) {
            rc = sysError();
        } else if (get32(head + hdr::Hot) == 1) {
            std::string jpath = path_ + ".jnl";
            int jfd = io().open(jpath, O_RDONLY, 0);
            std::string stream;
            bool ok = false;
            if (jfd >= 0) {
                std::uint8_t jh[16];
                if (readAll(jfd, jh, 16, 0) == 16 && get32(jh) == JournalMagic) {
                    std::uint32_t len = get32(jh + 4);
                    if (len < (1u << 31)) {
                        stream.resize(len);
                        if (readAll(jfd, stream.data(), len, 16) == static_cast<ssize_t>(len) &&
                            checksum(reinterpret_cast<const std::uint8_t*>(stream.data()), len, 7) ==
                                get64(jh + 8))
                            ok = true;
                    }
                }
                io().close(jfd);
            }
            Rollback r;
            std::size_t pos = 0;
            if (ok && decodeRollback(stream, pos, r) && r.baseCounter == get64(head + hdr::Counter))
                rc = applyRollback(fd, r);
            else
                rc = corruption(corrupt::BadJournal);
        }
        unlockRange(fd, ReadLockAt);
        unlockRange(fd, WriterLockAt);
    }
    if (fd != fd_) io().close(fd);
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
    if (pins_ > 0) {
        auto now = std::chrono::steady_clock::now();
        if (pinTaken_ && now - pinnedRead_ > PinPause) pinTaken_ = false;
        pinnedRead_ = now;
    }
    if (lockless && cacheIsCurrent()) {
        lockless_ = true;
        readDepth_ = 1;
        // A pinned handle keeps this state from here on: the reads that follow need not look at
        // the log again (as refresh does for a read that took the lock).
        takePin();
        return 0;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        lockRange(fd_, ReadLockAt, false, true);
        int rc = refresh(false);
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

void Pager::pin() {
    if (pins_++ == 0) pinTaken_ = false;
}

void Pager::unpin() {
    if (pins_ == 0 || --pins_ > 0) return;
    if (snapLocked_ && fd_ >= 0) unlockRange(fd_, SnapshotLockAt);
    snapLocked_ = pinTaken_ = false;
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
        int rc = refresh(true);
        if (rc == 0 && wal_.salt == 0) rc = startLog(true);
        if (rc == 0) {
            writing_ = true;
            dirty_.clear();
            return 0;
        }
        unlockRange(fd_, WriterLockAt);
        if (rc > 0) return rc;
        rc =
            rc == -3 ? settleTransaction(deadTcf_, lockTimeoutMs_) : recover(static_cast<std::uint32_t>(-rc));
        if (rc != 0) return rc;
        if (!lockWithin(fd_, WriterLockAt, true, lockTimeoutMs_)) break;
    }
    setError(err::FileIsLocked);
    return err::FileIsLocked;
}

// A new log under a new salt, synced before any frame relies on it. Only while the data file
// holds every commit: the log is new, damaged, or was just copied into the data file.
//
// After a checkpoint the log is written again from its start over the frames of the old salt
// (they fail the new salt's chain, so they count for nothing), and it keeps its length: a sync
// of frames written over blocks the file already has need not wait for the file system to
// record a new length, as an append does. The log is cut back when it grew long (a checkpoint
// that waited for snapshots) and when the file is left at rest (cut set).
//
// The cut comes only after the new header's sync. A power loss can leave a cut that reached some
// of the log's blocks but not its length, beside the old header: the old log would then hold
// fewer commits than it did, and put pages of an earlier commit back over a data file that
// already holds later ones. Once the new salt is on disk, whatever becomes of the old frames
// counts for nothing, so the cut itself need not be synced (the next commit's sync takes it).
int Pager::startLog(bool cut) {
    if (wal_.fd < 0) {
        int rc = openLog(true);
        if (rc != 0) return rc;
        if (wal_.fd < 0) return sysError();
    }
    std::uint8_t h[wal::HeaderSize] = {};
    std::uint64_t salt = randomId();
    while (salt == wal_.salt) salt = randomId(); // readers tell a new log by its salt
    put32(h, WalMagic);
    put32(h + 4, WalVersion);
    put64(h + 8, salt);
    put64(h + 16, fileId_);
    put64(h + 24, headerChecksum(h));
    put64(h + wal::SeqAt, wal_.seq + 1);
    if (!cut && wal_.salt == 0) cut = true; // a new or damaged log: whatever follows goes
    if (!cut && wal_.end > wal::HeaderSize + std::uint64_t(wal::KeepFrames) * wal::FrameSize) cut = true;
    if (!writeAll(wal_.fd, h, sizeof h, 0)) return sysError();
    if (syncMode_ != SyncMode::Off) {
        if (syncFile(wal_.fd) != 0) return sysError();
        // The log's directory entry once per handle: it does not change while the log is reused.
        if (!logDirSynced_ && io().syncDirectoryOf(path_ + ".wal") != 0) return sysError();
        logDirSynced_ = true;
    }
    // Only gives back the space of frames that count for nothing now; a failure leaves them so.
    if (cut) io().truncate(wal_.fd, wal::HeaderSize);
    wal_.salt = salt;
    wal_.seq += 1;
    wal_.index.clear();
    wal_.end = wal::HeaderSize;
    wal_.chain = salt;
    wal_.pages = 0;
    wal_.frames = 0;
    return 0;
}

// Appends the collected pages (and, for a transaction over several files, its marker) as frames
// after the view's last commit and syncs them as the sync mode says. The view takes them in
// adoptAppended, once they count as committed.
int Pager::appendFrames(const std::string& tcf, std::uint64_t txn, Appended& out) {
    std::size_t n = dirty_.size() + (txn ? 1 : 0);
    std::vector<std::uint8_t>& buf = frameBuf_;
    buf.resize(n * wal::FrameSize);
    std::uint64_t chain = wal_.chain;
    std::uint32_t pages = pageCount();
    out = Appended{};
    std::size_t i = 0;
    // Each page is sealed for its place as it goes into its frame.
    auto frame = [&](std::uint32_t pgno, std::uint8_t* page, bool commit) {
        std::uint8_t* f = buf.data() + i * wal::FrameSize;
        put32(f, pgno);
        put32(f + 4, commit ? pages : 0);
        put64(f + 8, wal_.salt);
        put64(f + 16, 0);
        std::uint64_t seed = checksum(f, 24, chain);
        if (pgno != 0 && pgno != wal::MarkerPage) {
            chain = sealIntoFrame(page, pgno, f + wal::FrameHeader, seed);
        } else {
            if (pgno == 0) sealPage(page, 0);
            std::memcpy(f + wal::FrameHeader, page, PageSize);
            chain = checksum(f + wal::FrameHeader, PageSize, seed);
        }
        put64(f + 24, chain);
        out.at.emplace_back(pgno, wal_.end + i * wal::FrameSize);
        ++i;
    };
    for (auto& [pgno, data] : dirty_) frame(pgno, data->b, !txn && i + 1 == n);
    if (txn) {
        std::uint8_t marker[PageSize] = {};
        put64(marker, txn);
        put32(marker + 8, static_cast<std::uint32_t>(tcf.size()));
        std::memcpy(marker + 12, tcf.data(), std::min<std::size_t>(tcf.size(), 1024));
        frame(wal::MarkerPage, marker, true);
    }
    bool written = writeAll(wal_.fd, buf.data(), buf.size(), static_cast<off_t>(wal_.end));
    if (!written) return sysError();
    if (buf.size() > (std::size_t(1) << 20)) std::vector<std::uint8_t>().swap(buf); // not kept
    commitStep(txn ? 12 : 1);
    bool sync = syncMode_ == SyncMode::Full || (txn && syncMode_ != SyncMode::Off);
    if (sync && syncFile(wal_.fd) != 0) return sysError();
    out.end = wal_.end + std::uint64_t(n) * wal::FrameSize;
    out.chain = chain;
    out.pages = pages;
    out.frames = static_cast<std::uint32_t>(n);
    return 0;
}

void Pager::adoptAppended(const Appended& a) {
    for (auto [pgno, at] : a.at)
        if (pgno != wal::MarkerPage) wal_.index[pgno] = at;
    if (a.pages < committedPages()) {
        for (auto it = wal_.index.begin(); it != wal_.index.end();)
            it = it->first >= a.pages ? wal_.index.erase(it) : std::next(it);
        for (auto it = clean_.begin(); it != clean_.end();)
            it = it->first >= a.pages ? clean_.erase(it) : std::next(it);
    }
    wal_.end = a.end;
    wal_.chain = a.chain;
    wal_.pages = a.pages;
    wal_.frames += a.frames;
}

// Raises the commit counter in the log's header, so that readers without locks notice.
void Pager::announce() {
    std::uint8_t b[8];
    put64(b, ++wal_.seq);
    writeAll(wal_.fd, b, 8, wal::SeqAt);
}

// Copies the newest image of every page in the view into the data file, syncs it and starts the
// log again. The writer lock is held and the view is current. Without force it gives way to
// snapshots; without wait, to readers that hold the read lock.
int Pager::checkpoint(bool force, bool wait, bool cut) {
    if (wal_.salt == 0 || wal_.frames == 0) return 0;
    bool snap = lockRange(fd_, SnapshotLockAt, true, false);
    if (!snap && !force) return 0;
    if (!lockWithin(fd_, ReadLockAt, true, wait ? lockTimeoutMs_ : 50)) {
        if (snap) unlockRange(fd_, SnapshotLockAt);
        if (!wait) return 0;
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    std::vector<std::pair<std::uint32_t, std::uint64_t>> order(wal_.index.begin(), wal_.index.end());
    std::sort(order.begin(), order.end());
    int rc = 0;
    // Runs of neighbouring pages go in one write; a page the cache holds is the view's newest
    // image of it and need not be read back from the log.
    constexpr std::size_t Run = 32;
    std::vector<std::uint8_t> run(Run * PageSize);
    for (std::size_t i = 0; rc == 0 && i < order.size();) {
        std::uint32_t first = order[i].first;
        std::size_t n = 0;
        for (; i < order.size() && n < Run && order[i].first == first + n; ++i, ++n) {
            std::uint8_t* to = run.data() + n * PageSize;
            auto c = clean_.find(order[i].first);
            if (c != clean_.end())
                std::memcpy(to, c->second->b, PageSize);
            else if (readAll(wal_.fd, to, PageSize, static_cast<off_t>(order[i].second + wal::FrameHeader)) !=
                     static_cast<ssize_t>(PageSize))
                rc = sysError();
        }
        if (rc == 0 && !writeAll(fd_, run.data(), n * PageSize, static_cast<off_t>(first) * PageSize))
            rc = sysError();
    }
    struct stat st {};
    if (rc == 0 && wal_.pages && (::fstat(fd_, &st) != 0 || st.st_size != off_t(wal_.pages) * PageSize) &&
        io().truncate(fd_, static_cast<off_t>(wal_.pages) * PageSize) != 0)
        rc = sysError();
    if (rc == 0 && syncMode_ != SyncMode::Off && syncFile(fd_) != 0) rc = sysError();
    // Only once the data file holds everything may the log start again.
    if (rc == 0) rc = startLog(cut);
    unlockRange(fd_, ReadLockAt);
    if (snap) unlockRange(fd_, SnapshotLockAt);
    // The locks of one descriptor are one: this handle's own snapshot lock went with it.
    if (snapLocked_) snapLocked_ = lockRange(fd_, SnapshotLockAt, false, false);
    return rc;
}

int Pager::checkpointAll() {
    int rc = beginWrite();
    if (rc != 0) return rc;
    writing_ = false;
    rc = checkpoint(true, true, false);
    unlockRange(fd_, WriterLockAt);
    return rc;
}

// Raises the change counter; the frames seal every collected page for its place (appendFrames).
int Pager::sealCommit(std::uint32_t hot) {
    int rc = 0;
    std::uint8_t* h = edit(0, rc);
    if (!h) return rc;
    put64(h + hdr::Counter, committedCounter() + 1);
    put32(h + hdr::Hot, hot);
    put32(h + hdr::Version, FormatVersion);
    return 0; // appendFrames seals every page as it frames it
}

void Pager::adoptDirty() {
    for (auto& [pgno, data] : dirty_) {
        data->used = ++useClock_;
        clean_[pgno] = std::move(data);
    }
    dirty_.clear();
    opUndo_.clear();
    ++generation_;
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
        rc = sealCommit(0);
        Appended a;
        if (rc == 0) rc = appendFrames("", 0, a);
        if (rc == 0) {
            commitStep(2);
            adoptAppended(a);
            adoptDirty();
            announce();
            commitStep(3);
            if (wal_.frames >= wal::CheckpointFrames)
                checkpoint(wal_.frames >= wal::ForceCheckpointFrames, false, false);
        } else {
            // Frames written past the last commit are not part of the log; the next write
            // writes over them.
            int keep = errno;
            dirty_.clear();
            ++generation_;
            setErrnoError(keep ? keep : EIO);
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
                dirty_[pgno] = std::move(prev);
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
    if (pgno != 0 && pgno >= committedPages()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    if (lockless_) {
        // A page from the files: now the lock is needed, and the view must still be the log's.
        lockRange(fd_, ReadLockAt, false, true);
        if (readLogHeader(wal_.fd, fileId_, nullptr) != wal_.salt || wal_.salt == 0) {
            unlockRange(fd_, ReadLockAt);
            lost_ = true;
            if (pins_ > 0) pinTaken_ = false; // the snapshot went into the data file: a new one
            err = err::FileIsLocked;
            return nullptr;
        }
        lockless_ = false;
    }
    auto buf = std::make_unique<PageBuf>();
    auto w = wal_.index.find(pgno);
    ssize_t n = w != wal_.index.end()
                    ? readAll(wal_.fd, buf->b, PageSize, static_cast<off_t>(w->second + wal::FrameHeader))
                    : readAll(fd_, buf->b, PageSize, static_cast<off_t>(pgno) * PageSize);
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
    if (d != dirty_.end()) return d->second->b;
    if (pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    return load(pgno, err);
}

bool Pager::readRun(std::uint32_t first, std::uint32_t count, std::uint8_t* out, int& err) {
    if (lockless_) {
        setError(err::UnknownError);
        err = err::UnknownError;
        return false;
    }
    if (first == 0 || std::uint64_t(first) + count > pageCount()) {
        err = corruption(corrupt::BadPageType);
        return false;
    }
    // Pages the files must give: runs of the data file, single frames of the log.
    std::uint32_t runStart = 0, runLength = 0;
    auto readFileRun = [&]() -> bool {
        if (runLength == 0) return true;
        std::size_t bytes = std::size_t(runLength) * PageSize;
        std::uint8_t* at = out + std::size_t(runStart - first) * PageSize;
        ssize_t n = readAll(fd_, at, bytes, static_cast<off_t>(runStart) * PageSize);
        if (n < 0) {
            err = sysError();
            return false;
        }
        if (n != static_cast<ssize_t>(bytes)) {
            err = corruption(corrupt::BadChecksum);
            return false;
        }
        for (std::uint32_t i = 0; i < runLength; ++i)
            if (!pageSealed(at + std::size_t(i) * PageSize, runStart + i)) {
                err = corruption(corrupt::BadChecksum);
                return false;
            }
        runLength = 0;
        return true;
    };
    for (std::uint32_t pg = first; pg < first + count; ++pg) {
        std::uint8_t* to = out + std::size_t(pg - first) * PageSize;
        const std::uint8_t* from = nullptr;
        if (auto d = dirty_.find(pg); d != dirty_.end())
            from = d->second->b;
        else if (auto c = clean_.find(pg); c != clean_.end())
            from = c->second->b;
        if (from) {
            if (!readFileRun()) return false;
            std::memcpy(to, from, PageSize);
            continue;
        }
        if (pg >= committedPages()) {
            err = corruption(corrupt::BadPageType);
            return false;
        }
        auto w = wal_.index.find(pg);
        if (w == wal_.index.end()) {
            if (runLength == 0) runStart = pg;
            ++runLength;
            continue;
        }
        if (!readFileRun()) return false;
        ssize_t n = readAll(wal_.fd, to, PageSize, static_cast<off_t>(w->second + wal::FrameHeader));
        if (n < 0) {
            err = sysError();
            return false;
        }
        if (n != static_cast<ssize_t>(PageSize) || !pageSealed(to, pg)) {
            err = corruption(corrupt::BadChecksum);
            return false;
        }
    }
    return readFileRun();
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
        if (inTxn_ && !opUndo_.count(pgno)) opUndo_[pgno] = std::make_unique<PageBuf>(*d->second);
        return d->second->b;
    }
    if (pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    const std::uint8_t* p = load(pgno, err);
    if (!p) return nullptr;
    auto copy = std::make_unique<PageBuf>();
    std::memcpy(copy->b, p, PageSize);
    std::uint8_t* out = copy->b;
    dirty_[pgno] = std::move(copy);
    if (inTxn_) opUndo_.emplace(pgno, nullptr);
    return out;
}

std::uint32_t Pager::pageCount() {
    auto d = dirty_.find(0);
    if (d != dirty_.end()) return get32(d->second->b + hdr::PageCount);
    return committedPages();
}

// A page about to be overwritten whole inside a write: its previous image is kept for the
// operation's savepoint.
std::uint8_t* Pager::fresh(std::uint32_t pgno, std::uint8_t type, int& err) {
    if (!writing_ || pgno == 0 || pgno >= pageCount()) {
        err = corruption(corrupt::BadPageType);
        return nullptr;
    }
    ++generation_;
    auto d = dirty_.find(pgno);
    if (d == dirty_.end()) {
        d = dirty_.emplace(pgno, std::make_unique<PageBuf>()).first;
        if (inTxn_) opUndo_.emplace(pgno, nullptr);
    } else if (inTxn_ && !opUndo_.count(pgno)) {
        opUndo_[pgno] = std::make_unique<PageBuf>(*d->second);
    }
    std::memset(d->second->b, 0, PageSize);
    d->second->b[0] = type;
    return d->second->b;
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
        std::uint8_t* p = fresh(head, type, err);
        if (!p) return 0;
        h = edit(0, err);
        put32(h + hdr::FreeHead, next);
        put32(h + hdr::FreeCount, get32(h + hdr::FreeCount) - 1);
        return head;
    }
    std::uint32_t n = get32(h + hdr::PageCount);
    if (n >= 0x7FFFFFF0u) {
        setFileError(39); // the file cannot grow further
        err = err::FileSystemError;
        return 0;
    }
    put32(h + hdr::PageCount, n + 1);
    return fresh(n, type, err) ? n : 0;
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
    for (auto it = dirty_.lower_bound(std::max<std::uint32_t>(count, 1)); it != dirty_.end();) {
        if (inTxn_ && !opUndo_.count(it->first)) opUndo_.emplace(it->first, std::move(it->second));
        it = dirty_.erase(it);
    }
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

int resolveLog(const std::string& path, std::uint64_t) {
    Pager p;
    if (p.open(path, false, false) != 0) return 0; // a file removed since has nothing to undo
    int rc = 0;
    if (!lockWithin(p.fd_, WriterLockAt, true, p.lockTimeoutMs_)) {
        setError(err::FileIsLocked);
        return err::FileIsLocked;
    }
    bool reset = false;
    std::string dead;
    rc = p.catchUp(true, reset, &dead);
    if (rc == 0 && p.wal_.salt != 0) {
        // Everything after the last commit of the view goes: the dead transaction's frames, and
        // whatever it left half written.
        if (!lockWithin(p.fd_, ReadLockAt, true, p.lockTimeoutMs_)) {
            setError(err::FileIsLocked);
            rc = err::FileIsLocked;
        } else {
            if (io().truncate(p.wal_.fd, static_cast<off_t>(p.wal_.end)) != 0 || syncFile(p.wal_.fd) != 0)
                rc = sysError();
            unlockRange(p.fd_, ReadLockAt);
        }
    }
    unlockRange(p.fd_, WriterLockAt);
    return rc;
}

int Pager::flush() {
    if (fd_ < 0) {
        setError(err::FileNotOpen);
        return err::FileNotOpen;
    }
    if (readOnly_) return 0;
    if ((wal_.fd >= 0 && syncFile(wal_.fd) != 0) || syncFile(fd_) != 0) return sysError();
    return 0;
}

} // namespace sorv::qnl
