// The pager of a native file: page reads through a per-handle cache, page writes collected until
// the write ends, the rollback journal that makes every write atomic, and the file locks through
// which several handles and processes share one file.
//
// Invariants. A handle only reads pages under the shared read lock, or under the writer lock that
// no other handle can hold at the same time; the data file is only written while the read lock is
// held exclusively, so no reader ever sees a half-written page. Before the first page of a write
// reaches the data file, the original images of every page it overwrites are in the journal (or in
// the transaction control file), and the header's hot state says which: a handle that finds a hot
// state with no writer alive rolls the write back before it reads anything.
//
// Reads without locks. Page 0 is also mapped into memory, shared with the file. A read that finds
// there the header its cache was filled from (no write pending, same change counter) works from
// the cache alone, without any lock or system call: every page it holds was read whole and
// checked under the lock, and nothing was committed since. Only when it needs a page it does not
// hold does it take the read lock; if the file changed meanwhile, the read is "lost" and its
// caller runs it again the locked way (Table does, for the reads it offers).
#pragma once
#include "data/qnl/format.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
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
constexpr long long HoldLockAt = LockBase + 64;

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
    // fsync the journal and the file at every write (else only FLUSH and COMMIT sync).
    void setSyncEveryWrite(bool on) { syncEveryWrite_ = on; }
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
    // A write: the writer lock, then the same refresh. Nested writes inside a transaction only
    // mark a savepoint, so a failed operation undoes its own pages and nothing else.
    int beginWrite();
    int commitWrite();
    void abortWrite();

    // Pages. get() answers nullptr with an error code for a page that is out of range or damaged.
    const std::uint8_t* get(std::uint32_t pgno, int& err);
    std::uint8_t* edit(std::uint32_t pgno, int& err);
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
    int flush();
    // Reports a damaged file: sets the error and calls the hook with the internal number.
    int corruption(int number, int code = 36);

private:
    friend class TxCommit;
    struct Dirty {
        std::unique_ptr<PageBuf> orig; // the committed image, null for a page past the old end
        std::unique_ptr<PageBuf> data;
    };
    int refresh();
    bool cacheIsCurrent() const;
    int recover(std::uint32_t hot);
    const std::uint8_t* load(std::uint32_t pgno, int& err);
    int writeJournal(const std::string& stream);
    int writeDirtyPages(bool sync);
    void adoptDirty();
    int rollbackInPlace();
    std::string rollbackStream();
    void dropCache();
    void trimCache();
    std::uint64_t committedCounter() const;
    std::uint32_t committedPages() const;

    std::string path_;
    std::string absPath_;
    int fd_ = -1;
    int jfd_ = -1;
    const std::uint8_t* map_ = nullptr; // page 0 of the file, shared
    bool lockless_ = false;             // the current read holds no lock
    bool lost_ = false;                 // a lockless read found the file changed under it
    bool readOnly_ = false;
    bool syncEveryWrite_ = false;
    int lockTimeoutMs_ = 10000;
    std::size_t cacheLimit_ = DefaultCachePages;
    std::uint64_t useClock_ = 0;
    std::function<void(int)> onCorrupt_;

    std::unordered_map<std::uint32_t, std::unique_ptr<PageBuf>> clean_;
    std::map<std::uint32_t, Dirty> dirty_;
    // Savepoint of the current operation inside a transaction: the page's dirty image before the
    // operation touched it (null: it was clean).
    std::map<std::uint32_t, std::unique_ptr<PageBuf>> opUndo_;
    bool writing_ = false;
    bool inTxn_ = false;
    int readDepth_ = 0;
    std::uint64_t generation_ = 1;
};

// Called at each step of a commit with the step's number (tests stop a process there to prove
// that every step leaves a file that opens whole). Steps 1-5: journal, hot state, half of the
// pages, all pages but the header, header; 11-15 the same for a transaction over several files.
void setCommitStepHook(void (*hook)(int step));
void commitStep(int step);

// The rollback images of one file, as they are kept in a journal or in a control file's log.
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
