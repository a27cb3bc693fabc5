// A native indexed file as the engine sees it: fixed-length records with stable record pointers,
// memos, keys, cursors in file and key order, holds, repairs and checks. Every operation answers
// an error code (0 for success) and sets the calling thread's current error.
//
// Record pointers. Records live in record pages, which are only ever added at the end of the file
// and chained in page order; a record's pointer is page * slotsPerPage + slot + 1, so it never
// changes while the record lives (PACK renumbers). A deleted record's slot goes on a free list
// and is taken again by the next ADD.
#pragma once
#include "data/qnl/btree.h"
#include "data/qnl/pager.h"
#include "data/qnl/schema.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::qnl {

constexpr const char* DefaultExtension = ".QNL";

// A record with its memos and the version it had when read (change detection).
struct RecordData {
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> memos; // empty on PUT: the stored memos stay
    std::uint32_t version = 0;
};

// What a salvage found: the records written into the new file, the pages that could not be read
// (their records are lost), memos whose chains were broken (written empty) and records a unique
// key refused (a second record with the same key value; the first one found is kept).
struct SalvageReport {
    std::uint32_t records = 0;
    std::uint32_t damagedPages = 0;
    std::uint32_t brokenMemos = 0;
    std::uint32_t duplicates = 0;
};

struct TableStats {
    std::uint32_t records = 0;
    std::uint32_t pages = 0;
    std::uint32_t freePages = 0;
    std::uint32_t freeSlots = 0;
    std::uint32_t recordPages = 0;
    std::uint32_t slotsPerPage = 0;
    std::uint32_t slotSize = 0; // bytes of one record slot (a freed slot is this much free space)
    std::uint64_t fileBytes = 0;
    std::vector<std::uint32_t> keyDepths, keyEntries;
};

class Table {
public:
    Table() = default;
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Makes a new, empty file; an existing one is replaced only when replace is set (else 52).
    // The file appears whole or not at all.
    static int create(const std::string& path, const Schema& schema, bool replace);
    int open(const std::string& path, bool readOnly = false);
    void close();
    bool isOpen() const { return pager_.isOpen(); }
    const Schema& schema() const { return schema_; }
    Pager& pager() { return pager_; }
    const std::string& path() const { return pager_.path(); }
    // Memos are read with records unless switched off (NOMEMO).
    void setReadMemos(bool on) { readMemos_ = on; }

    int get(std::uint32_t ptr, RecordData& out);
    int add(RecordData& rec, std::uint32_t& ptr);
    // With watch set, a record changed by another handle since rec was read answers 89.
    int put(std::uint32_t ptr, RecordData& rec, bool watch);
    int erase(std::uint32_t ptr);
    int records(std::uint32_t& n);
    // The entries of one key, from the file's header (no walk).
    int keyEntries(int key, std::uint32_t& n);
    // Every record in file order, from one snapshot, the pages read in runs straight from the
    // files and not kept in the cache: each is given the record's pointer and bytes (no memos)
    // and answers false to stop. Answers an error code.
    int scan(const std::function<bool(std::uint32_t, std::span<const std::uint8_t>)>& each);
    // The records whose entries in a key lie in any of the ranges given (the key values of record
    // images, both ends included), from one snapshot: the entries are taken from the key, then
    // the records read in pointer order, each record page once, neighbouring pages in one read,
    // without going through the cache. Each is given the index of its range, the pointer and the
    // bytes (no memos) and answers false to stop. Answers an error code.
    struct KeyRange {
        std::span<const std::uint8_t> low, high;
    };
    int
    scanKeyRanges(int key, const std::vector<KeyRange>& ranges,
                  const std::function<bool(std::size_t, std::uint32_t, std::span<const std::uint8_t>)>& each);
    // The record pointer of the first record whose key equals the key fields of rec (0 none).
    int findKey(int key, std::span<const std::uint8_t> rec, std::uint32_t& ptr);

    // Rebuilds every key and the free list from the records.
    int build();
    int empty();
    // Rewrites the file without its free space; record pointers are renumbered.
    int pack();
    int flush();

    // HOLD: a real lock on the record, seen by every other handle and process.
    int hold(std::uint32_t ptr, int timeoutMs = 0);
    void release(std::uint32_t ptr);
    void releaseAll();
    bool holding(std::uint32_t ptr) const { return holds_.count(ptr) != 0; }

    // One line per problem; answers 0 when the file is sound (also when problems were found:
    // their number is problems.size()).
    int check(std::vector<std::string>& problems);
    int stats(TableStats& out);
    // Writes every record that can still be read into a new file at newPath (which must not
    // exist yet), with fresh keys: the record pages are found by their type, whatever the record
    // chain, the keys and the free lists say, so one damaged page loses only its own records.
    // The file itself is only read. Needs a readable header and declaration.
    int salvage(const std::string& newPath, SalvageReport& out);

private:
    friend class Cursor;
    friend class Transaction;
    struct Slot {
        std::uint32_t pgno;
        std::uint32_t index;
    };
    int loadSchema();
    bool locate(std::uint32_t ptr, Slot& s);
    std::uint32_t slotOffset(std::uint32_t index) const { return 16 + index * slotSize_; }
    int readSlot(std::uint32_t ptr, RecordData& out, bool memos);
    int readMemo(std::uint32_t first, std::uint32_t len, std::string& out);
    int writeMemo(const std::string& data, std::uint32_t& first);
    int freeMemo(std::uint32_t first, std::uint32_t len);
    int findKeyIn(int key, std::span<const std::uint8_t> rec, std::uint32_t& ptr);
    int uniqueCheck(std::span<const std::uint8_t> rec, std::uint32_t self);
    int heldByOther(std::uint32_t ptr);
    int takeSlot(std::uint32_t& ptr, Slot& s);
    int insertKeys(std::span<const std::uint8_t> rec, std::uint32_t ptr);
    int rebuild(bool compact, std::vector<RecordData>* keep);
    int collectRecords(std::vector<std::uint32_t>& ptrs, std::vector<std::uint32_t>* recPages);
    std::string trim(std::string memo, std::size_t i) const;

    Pager pager_;
    Schema schema_;
    std::vector<std::unique_ptr<KeyCodec>> codecs_;
    std::uint32_t slotSize_ = 0, slotsPerPage_ = 0;
    bool readMemos_ = true;
    std::set<std::uint32_t> holds_;
};

// A place in a file, in file order (key -1) or in the order of one key. NEXT and PREVIOUS read
// from it; POSITION and RESET store and restore it as bytes (the entry of the last record read),
// which stay valid while other records are added and deleted.
//
// A walk (NEXTs or PREVIOUSes one after the other) pins the table's pager to the snapshot its
// first read saw, until it runs out of records, is set or reset, or the cursor goes; a copy of a
// cursor starts unpinned.
class Cursor {
public:
    Cursor(Table& table, int key) : t_(table), key_(key) {}
    Cursor(const Cursor& other);
    Cursor& operator=(const Cursor&) = delete;
    ~Cursor();
    int key() const { return key_; }

    void setFirst();
    // SET(key, key) and SET(key, key, pointer): NEXT reads the first record at or after the key
    // value (and pointer), PREVIOUS the last one at or before it.
    void setValue(std::span<const std::uint8_t> record, std::uint32_t ptr = 0);
    // SET(file, pointer) in file order.
    void setPointer(std::uint32_t ptr);
    int next(RecordData& out, std::uint32_t& ptr);
    int previous(RecordData& out, std::uint32_t& ptr);
    // The position of the last record read ("" before any).
    std::string position() const { return last_; }
    int reset(std::string_view position);

private:
    struct Bound {
        enum Kind { Start, End, At } kind = Start;
        std::vector<std::uint8_t> at;
        bool inclusive = true;
    };
    int read(bool forward, RecordData& out, std::uint32_t& ptr);
    void endScan();
    int readOnce(bool forward, RecordData& out, std::uint32_t& ptr, std::vector<std::uint8_t>& entry);
    int fileStep(bool forward, std::uint32_t& ptr);
    int keyStep(bool forward, std::uint32_t& ptr, std::vector<std::uint8_t>& entry);

    Table& t_;
    int key_;
    Bound next_{Bound::Start, {}, true}, prev_{Bound::End, {}, true};
    std::string last_;
    Btree::Pos pos_;
    std::uint64_t posGeneration_ = 0;
    bool pinned_ = false;
};

// LOGOUT over several files, COMMIT and ROLLBACK.
class Transaction {
public:
    ~Transaction() { rollback(); }
    // controlFile "" takes the one in the directory of the first file.
    int begin(const std::vector<Table*>& tables, std::string controlFile = {});
    int commit();
    void rollback();
    bool active() const { return !tables_.empty(); }

private:
    std::vector<Table*> tables_;
    std::string tcf_;
};

// Appends ".QNL" to a name without extension (the last path component has no ".").
std::string withDefaultExtension(const std::string& name);

} // namespace sorv::qnl
