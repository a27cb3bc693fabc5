// The pager of a native file: page reads through a per-handle cache, page writes collected until
// the write ends, the write-ahead log that makes every write atomic and durable, and the file
// locks through which several handles and processes share one file.
//
// The log. A write never changes the data file: its pages go, sealed, to the end of the log
// "FILE.QNL.wal" as frames, the last one marking the commit, and one sync of the log makes it
// durable. Every frame carries a checksum chained from the frame before it and the log's salt,
// so the committed part of the log is the longest run of whole frames that ends in a commit
// frame: whatever a crash or a power loss left after it is ignored and written over. A
// checkpoint copies the newest image of every page in the log into the data file, syncs it, and
// starts the log again under a new salt.
//
// Views. Each handle knows the log up to a commit (its view): which frame holds the newest
// image of each page, up to there. A read catches its view up to the last commit first, unless
// the handle is pinned to a snapshot (a scan in progress), when it keeps reading the state of
// one commit. Frames inside a view never change until the log starts again, and the data file
// changes only at a checkpoint, which holds the read lock exclusively and gives the log a new
// salt; so a handle whose view has the log's current salt may read any page of its view at any
// time, under the shared read lock.
//
// Invariants. Only the holder of the writer lock appends to the log, checkpoints or starts the
// log again. The data file is written only by a checkpoint (and the repair of a file left by an
// older version of this engine), under the exclusive read lock. A transaction over several
// files appends a marker frame naming its control file to each file's log: readers count its
// frames as committed only once the control file no longer holds the transaction's log, and
// whoever takes the writer lock of a file whose log ends in such a transaction, left by a
// process that died, settles it from the control file first (see txlog.h).
//
// Reads without locks. The log's header is mapped into memory, and a commit raises a counter
// there after its sync. A read that finds the salt and counter its cache was filled from works
// from the cache alone, without a lock or a system call. Only when it needs a page it does not
// hold does it take the read lock; if a checkpoint ran meanwhile, the read is "lost" and its
// caller runs it again the locked way (Table does, for the reads it offers).
#pragma once
#include "data/qnl/fileio.h"
#include "data/qnl/format.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sorv::qnl {

struct PageBuf {
    std::uint8_t b[PageSize];
    std::uint64_t used = 0; // in the cache: when the page was last handed out (least recent go first)
};

// Pages a handle keeps at most by default: 128 MB. Pages are only kept as they are read, so a
// small file or a browse never comes near it; a full scan in key order of a file of a million
// People (90 MB, its records touched in the key's order, not the file's) then reads each page once
// instead of again and again. A program that opens many large files at once can set it lower.
constexpr std::size_t DefaultCachePages = 32768;

// Lock bytes far beyond any file's end: byte 0 the read lock, byte 1 the writer lock, byte 2 the
// exclusive-use lock, and one byte per record pointer for held records.
constexpr long long LockBase = 1LL << 50;
constexpr long long ReadLockAt = LockBase;
constexpr long long WriterLockAt = LockBase + 1;
constexpr long long UseLockAt = LockBase + 2;
constexpr long long SnapshotLockAt = LockBase + 3; // shared while a handle is pinned to a snapshot
constexpr long long HoldLockAt = LockBase + 64;

// How much a commit syncs. Full: every write that returned survives a power loss. Normal: the
// log is synced only at checkpoints and FLUSH, so a power loss may lose the last writes, but it
// never damages the file. Off: nothing is synced; a power loss may damage the file (a crashed
// program never does).
enum class SyncMode { Full, Normal, Off };
// "FULL", "NORMAL" or "OFF" in any case; false for anything else.
bool parseSyncMode(std::string_view word, SyncMode& out);
// The mode of a new pager: Full, unless the environment variable SORV_QNL_SYNC names another
// (the test suite runs with NORMAL; the driver option "/SYNC=" sets it per file).
SyncMode defaultSyncMode();

// The log of a file: "QWAL", its version, salt, the data file's identity, the checksum of these,
// then the commit counter that lock-free readers watch.
namespace wal {
constexpr std::uint32_t HeaderSize = 64;
constexpr std::uint32_t FrameHeader = 32; // page number, commit page count, salt, checksum
constexpr std::uint32_t FrameSize = FrameHeader + PageSize;
constexpr std::uint32_t MarkerPage = 0xFFFFFFFFu; // the frame of a transaction over several files
constexpr std::uint32_t SeqAt = 32;
// A checkpoint is tried once the log holds this many frames, and made even while scans are
// pinned to snapshots once it holds the second number.
constexpr std::uint32_t CheckpointFrames = 1000;
constexpr std::uint32_t ForceCheckpointFrames = 16384;
// A log is written again from its start after a checkpoint, keeping its length, unless it grew
// beyond this many frames.
constexpr std::uint32_t KeepFrames = 4 * CheckpointFrames;
} // namespace wal

// OFD record locks: per open file, released when the file is closed or its process dies.
bool lockRange(int fd, long long at, bool exclusive, bool wait);
void unlockRange(int fd, long long at);
// Tries the lock until the time runs out (milliseconds; 0 tries once).
bool lockWithin(int fd, long long at, bool exclusive, int timeoutMs);

class Pager {
public:
    Pager() = default;
    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    // Opens an existing file (or creates an empty one when create is set: the caller then writes
    // the first pages in a write). Answers an error code.
    int open(const std::string& path, bool readOnly, bool create);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // The absolute path, as logs of transactions name the file.
    const std::string& absolutePath() const { return absPath_; }
    int fd() const { return fd_; }
    bool readOnly() const { return readOnly_; }

    // How long a write waits for another writer (milliseconds).
    void setLockTimeout(int ms) { lockTimeoutMs_ = ms; }
    void setSyncMode(SyncMode m) { syncMode_ = m; }
    SyncMode syncMode() const { return syncMode_; }
    void setCorruptionHook(std::function<void(int)> hook) { onCorrupt_ = std::move(hook); }
    // Clean pages kept between operations (at least 16). When there are more, the least recently
    // used go, down to seven eighths of the size, so that trimming is rare; pages are only ever
    // dropped between operations, so a page in use is never freed under its reader.
    void setCacheSize(std::size_t pages);
    std::size_t cacheSize() const { return cacheLimit_; }
    std::size_t cachedPages() const { return clean_.size(); }

    // A read: shared lock, roll back a dead writer's half-done write, drop the cache when
    // another handle committed. Inside a transaction the writer lock already keeps others out.
    // lockless allows the cached way described at the top; the caller then checks snapshotLost()
    // after its work and repeats it without when set.
    int beginRead(bool lockless = false);
    void endRead();
    bool snapshotLost() const { return lost_; }
    // While pinned (pins nest), reads keep the state of the commit the first read after pinning
    // saw, and checkpoints wait (up to a log of ForceCheckpointFrames). A write of this handle
    // moves the snapshot on to its own commit, and so does a read after a pause of PinPause:
    // a scan that stops half-way (a page of a list) does not keep showing an old state.
    static constexpr std::chrono::milliseconds PinPause{1000};
    void pin();
    void unpin();
    bool pinned() const { return pins_ > 0; }
    // A write: the writer lock, then the same refresh. Nested writes inside a transaction only
    // mark a savepoint, so a failed operation undoes its own pages and nothing else.
    int beginWrite();
    int commitWrite();
    void abortWrite();

    // Pages. get() answers nullptr with an error code for a page that is out of range or damaged.
    const std::uint8_t* get(std::uint32_t pgno, int& err);
    std::uint8_t* edit(std::uint32_t pgno, int& err);
    // Copies `count` pages from `first` on into out (count * PageSize bytes), as get() would
    // give them, without keeping them: pages of the write in progress and of the cache are taken
    // from there, the others are read in runs of consecutive pages, each run with one system call
    // per file. For long passes over the file inside one read that holds the lock (not a
    // lockless one); answers false with err set when a page is out of range or damaged.
    bool readRun(std::uint32_t first, std::uint32_t count, std::uint8_t* out, int& err);
    // A new zeroed page: from the free list when allowed, else at the end of the file.
    std::uint32_t allocate(std::uint8_t type, bool fromFreeList, int& err);
    void freePage(std::uint32_t pgno, int& err);
    // A page taken over whatever it held (damaged or not): zeroed, of the given type. Repairs
    // rebuild pages this way without reading their old content as valid.
    std::uint8_t* fresh(std::uint32_t pgno, std::uint8_t type, int& err);
    std::uint32_t pageCount();
    // Changes whenever a page this handle sees may have changed (cursors keep their place by it).
    std::uint64_t generation() const { return generation_; }
    // Replaces the whole file content by the given page count (EMPTY and PACK start over).
    void truncatePages(std::uint32_t count, int& err);

    // Transactions over several files (the control file's logic lives in txlog.cpp).
    int beginTransaction();
    // Ends a transaction without writing anything.
    void dropTransaction();
    bool inTransaction() const { return inTxn_; }
    // Syncs the log and the data file (what Normal and Off left unsynced is then safe).
    int flush();
    // Copies the whole log into the data file and starts it again; answers 32 when another
    // handle reads or writes. COPY, RENAME and REMOVE of a file run it first.
    int checkpointAll();
    // Reports a damaged file: sets the error and calls the hook with the internal number.
    int corruption(int number, int code = 36);
    // Frames in the log (for tests and statistics).
    std::uint32_t logFrames() const { return wal_.frames; }

private:
    friend class TxCommit;
    friend int resolveLog(const std::string& path, std::uint64_t txn);
    // What a handle knows of the log.
    struct WalView {
        int fd = -1;
        const std::uint8_t* map = nullptr; // the log's header, shared
        std::uint64_t salt = 0;            // 0: no valid log
        std::uint64_t seq = 0;             // the commit counter last seen
        std::uint64_t end = 0;             // just after the last committed frame of the view
        std::uint64_t chain = 0;           // the checksum chain at end
        std::uint32_t pages = 0;           // page count of the view's last commit (0: none)
        std::uint32_t frames = 0;
        std::unordered_map<std::uint32_t, std::uint64_t> index; // page -> its newest frame
    };
    // Frames appended but not yet part of the view (a transaction waits for its commit point).
    struct Appended {
        std::uint64_t end = 0, chain = 0;
        std::uint32_t pages = 0, frames = 0;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> at;
    };
    int refresh(bool writer);
    bool cacheIsCurrent() const;
    void takePin();
    int recover(std::uint32_t hot);
    const std::uint8_t* load(std::uint32_t pgno, int& err);
    int openLog(bool create);
    int startLog(bool cut);
    int catchUp(bool writer, bool& reset, std::string* deadTxn);
    int appendFrames(const std::string& tcf, std::uint64_t txn, Appended& out);
    void adoptAppended(const Appended& a);
    void announce();
    int checkpoint(bool force, bool wait, bool cut);
    int sealCommit(std::uint32_t hot);
    void adoptDirty();
    void dropCache();
    void trimCache();
    std::uint64_t committedCounter() const;
    std::uint32_t committedPages() const;

    std::string path_;
    std::string absPath_;
    int fd_ = -1;
    WalView wal_;
    bool lockless_ = false; // the current read holds no lock
    bool lost_ = false;     // a lockless read found the file changed under it
    bool readOnly_ = false;
    bool logDirSynced_ = false; // this handle synced the log's directory entry
    SyncMode syncMode_ = defaultSyncMode();
    int lockTimeoutMs_ = 10000;
    std::size_t cacheLimit_ = DefaultCachePages;
    std::uint64_t useClock_ = 0;
    int pins_ = 0;
    bool pinTaken_ = false;                            // the pinned view was caught up
    bool snapLocked_ = false;                          // and the snapshot lock is held for it
    std::chrono::steady_clock::time_point pinnedRead_; // the last read of the pinned snapshot
    std::uint64_t fileId_ = 0;
    std::string deadTcf_; // the control file of a dead transaction a writer found
    std::function<void(int)> onCorrupt_;

    std::unordered_map<std::uint32_t, std::unique_ptr<PageBuf>> clean_;
    std::map<std::uint32_t, std::unique_ptr<PageBuf>> dirty_;
    std::vector<std::uint8_t> frameBuf_; // the frames of a commit, kept for the next
    // Savepoint of the current operation inside a transaction: the page's dirty image before the
    // operation touched it (null: it was clean).
    std::map<std::uint32_t, std::unique_ptr<PageBuf>> opUndo_;
    bool writing_ = false;
    bool inTxn_ = false;
    int readDepth_ = 0;
    std::uint64_t generation_ = 1;
};

// Called at each step of a commit with the step's number (tests stop a process there to prove
// that every step leaves a file that opens whole). Steps 1-3: frames written, log synced,
// announced; 11-14 for a transaction over several files: control log written, every file's
// frames synced, control log cleared (the commit point), views adopted.
void setCommitStepHook(void (*hook)(int step));
void commitStep(int step);

// Cuts from the log of the file at path everything after its last commit that counts, while
// the control file still holds the transaction: the undo of a transaction whose process died.
int resolveLog(const std::string& path, std::uint64_t txn);

// A fresh random 64-bit number (salts of logs, identities of files and transactions).
std::uint64_t randomId();

// The rollback images of one file, as an earlier version of this engine kept them in a journal
// "FILE.QNL.jnl" or in a control file's log; a file such a version left half written is still
// rolled back from them.
struct Rollback {
    std::string path;
    std::uint64_t baseCounter = 0;
    std::uint32_t basePages = 0;
    std::vector<std::pair<std::uint32_t, std::string>> images;
};
// Writes the images back, truncates to the old length and clears the hot state. Answers 0 or 90.
int applyRollback(int fd, const Rollback& r);
void encodeRollback(std::string& out, const Rollback& r);
// Reads one encoded rollback at pos; false for damaged bytes.
bool decodeRollback(std::string_view in, std::size_t& pos, Rollback& r);

} // namespace sorv::qnl
