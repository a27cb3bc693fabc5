// The view engine: a read-mostly window onto a primary file and the files joined to it, delivering
// records in the order of its order expressions and restricted by its filter expression.
//
// How a view reads (the invariants every operation keeps). Every way of reading gives the same
// records in the same order: the records that have their inner partners and pass the filter,
// ordered by the order values and then by record pointer (by the key's own order of ties when a
// key serves the whole order). Which way a view reads depends on its order alone:
// - Record order (no order): the file read live in record order.
// - Key order: the order items match the leading components of a key of the primary file (a
//   NOCASE key matching UPPER(field)); the view reads live through that key, forwards or
//   backwards. A filter is tested record by record as the key is walked, so a page costs the
//   records walked to fill it. Where the filter requires the leading key components to equal
//   constants, and the next one to lie between constants (as range limits write them), the walk
//   starts at the first such entry and stops after the last. An OPT key holds no record whose key
//   fields are all blank or zero, and neither does a view in its order, filtered or not.
// - Key-led order: a key serves the leading order items but not all. The view walks the key and
//   sorts each run of records with equal leading values, holding a slice of whole runs. Where
//   another key (the inner key, not OPT) serves the items that follow, a long run is also read
//   through that key, keeping the records of the run: each group of equal inner values comes
//   whole and in order, so the first rows of the run cost about a page. Both walks go on in turns
//   until one is done (the key walk at the end of the run, the inner walk with enough rows and a
//   whole group); a slice then starts or ends inside a run, at a place in the inner key.
// - Sorted order: no key serves the first item. The first page (and the last, for End) comes from
//   one pass over the file that keeps only the first (last) rows of the order; the whole sorted
//   set is built when the reading goes beyond those rows or a position falls outside them. When
//   nothing is held (a write dropped the rows, or the view was just opened), a position is
//   placed from one pass that keeps the rows just before it and just after it.
// - Join-led order: no key of the primary file serves the first item, but a key of a file joined
//   to it (the parent) serves the leading items, the join goes through a unique key of the
//   parent, and a key of the primary file (the child key) starts with the join's linking fields.
//   The view walks the parent key, reads each parent's records through the child key and sorts
//   each run of equal leading values, as a key-led order does. Records the walk cannot reach
//   (without a partner, or left out of an OPT child key) are found once per change of either
//   file and placed in the run of their own leading values (blank ones for a missing partner).
// In the last three, records are held as slices of the ordered result (entries_): the encoded order
// values and the record's pointer, sorted by (values, pointer). Pages fetch records by pointer, so
// a record deleted since is skipped and a record changed so that it no longer passes the filter
// is skipped. A slice is dropped at the next positioning (SET, RESET) after a FLUSH, after a
// change of order or filter, or when the primary file's change stamp moved; live reads never
// hold anything, so every change to the file shows at once.
// - Positions are texts of printable characters (so that a browse can keep them in a STRING
//   field) carrying the record's pointer and, in sorted and key-led orders, its order values; a
//   position taken in one order is still understood after the order changed (the record is found
//   by pointer and placed in the new order), and a position of a record deleted since places the
//   view where the record would have been.
// - After SET or RESET the view stands between records: NEXT reads the record at the position
//   (or the first after it), PREVIOUS the record at the position (or the last before it). After a
//   read, NEXT and PREVIOUS move on from the record read; a read that fails leaves the view where
//   it was.
// - Joins give each record of their outer file its first partner: through a key of the inner file
//   (the outer linking fields give the key's leading components) or with explicit field pairs.
//   Without a partner the inner record buffer is cleared, and an inner join leaves the outer
//   record out of the view.
// - Query order: a primary file that runs queries itself (a database server) is offered any
//   filter, and any order that no key serves whole; when it takes them, the view reads live
//   through the file's query order (ViewTable::QueryOrder) as it reads through a key, nothing is
//   held in memory, and the filter is still tested on every record it hands out.
#pragma once
#include "data/expr.h"
#include "runtime/field.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

class TraceLog;

// Property codes of the view's texts.
constexpr int PropOrder = 0x7CE6;
constexpr int PropFilter = 0x7CB8;

// One key of a file as the view sees it: its label, its components (field index in the record
// layout and whether it descends) and its flags.
struct ViewKey {
    struct Component {
        int field = -1;
        bool descending = false;
    };
    std::string label;
    std::vector<Component> components;
    bool noCase = false;
    bool duplicates = false;
    bool primary = false;
    bool optional = false; // OPT: records whose key fields are all blank or zero are not in the key
};

// What the view needs of one file. An adapter over the record-file interface implements it for
// the drivers; tests may implement it in memory. Operations answer an error code (0 success, 33
// at either end of a sequence, 35 for a pointer that no longer names a record) and fill the
// file's record buffer where they read.
//
// Sequences: `order` is -1 for record order, else a key index. After setStart, next reads the
// first record and previous the last; after setFromBuffer(key), next reads the first record whose
// key is not below the buffer's key values and previous the last one not above them; after
// reset(order, position) both read the record at the position if it still exists. After a read,
// next and previous move on from that record.
class ViewTable {
public:
    virtual ~ViewTable() = default;
    virtual std::string label() const = 0; // the file's label, as traces name it
    virtual Record& record() = 0;
    virtual const std::vector<ViewKey>& keys() const = 0;

    virtual int setStart(int order) = 0;
    virtual int setFromBuffer(int key) = 0;
    virtual int next() = 0;
    virtual int previous() = 0;
    // The current record's place in an order, and a return to it.
    virtual std::string position(int order) = 0;
    virtual int reset(int order, std::string_view position) = 0;
    // The current record's identity, and a read by it (GETfileptr). The record read becomes the
    // current record, also for a following PUT or DELETE.
    virtual std::uint64_t pointer() = 0;
    virtual int fetch(std::uint64_t pointer) = 0;
    // The first record whose leading `components` key components equal the buffer's.
    virtual int getByKey(int key, int components) = 0;
    virtual std::int64_t records() = 0;
    // The entries of one key (fewer than records() for an OPT key).
    virtual std::int64_t keyRecords(int key) {
        (void)key;
        return records();
    }
    // Moves whenever the file's contents changed (in this process or another).
    virtual std::uint64_t changeStamp() = 0;
    // Every record in record order, each in the record buffer, with its pointer given to `each`,
    // which answers false to stop; answers an error code (0 at the end). A table that can read its
    // file in bulk does so from one state of the file, without memos and without moving its
    // sequence; by default the records are read one by one through setStart(-1) and next().
    virtual int scan(const std::function<bool(std::uint64_t pointer)>& each) {
        int rc = setStart(-1);
        while (rc == 0 && (rc = next()) == 0)
            if (!each(pointer())) return 0;
        return rc == 33 ? 0 : rc;
    }
    // The records whose entries in a key lie in one of the ranges (low and high record images,
    // both ends included), each in the record buffer, with its range's index and its pointer
    // given to `each`, which answers false to stop; read in bulk from one state of the file,
    // without memos and without moving the sequence. Answers an error code, 80 for a table that
    // cannot (its records are then read range by range through the key).
    using KeyRanges = std::vector<std::pair<std::span<const std::uint8_t>, std::span<const std::uint8_t>>>;
    virtual int scanKeyRanges(int key, const KeyRanges& ranges,
                              const std::function<bool(std::size_t range, std::uint64_t pointer)>& each) {
        (void)key;
        (void)ranges;
        (void)each;
        return 80;
    }

    // Writing and locking, all on the current record.
    virtual int put() = 0;
    virtual int remove() = 0;
    virtual int hold(int seconds) = 0; // seconds < 0: no time limit
    virtual int release() = 0;
    virtual int watch() = 0;

    // Query order. The view offers its order items and filter (null for none); a table that can
    // run them itself answers true, and from then on order QueryOrder reads in that order (ties
    // by record) under that filter, through setStart, next, previous, position and reset.
    // setQueryFrom starts at leading order values: next reads the first record whose leading
    // values are not below them, previous the last not above them.
    static constexpr int QueryOrder = -3;
    struct QueryItem {
        const Expression* expr = nullptr;
        bool descending = false;
    };
    virtual bool takeQuery(const std::vector<QueryItem>& order, const Expression* filter) {
        (void)order;
        (void)filter;
        return false;
    }
    virtual int setQueryFrom(const std::vector<Value>& leading) {
        (void)leading;
        return 80;
    }
    // Records that pass the query's filter (-1 on error, with the current error set).
    virtual std::int64_t queryRecords() { return -1; }

    // A view operation (SETview, RESETviewfile, INVIEW, ENDVIEW, QUERY_VIEW) told to the
    // driver, with the view's identity for its trace; drivers that take no part answer 80.
    virtual int viewOperation(int op, std::uint64_t viewId) {
        (void)op;
        (void)viewId;
        return 80;
    }
};

// The trace settings of views, from section "BWVIEW" of the desktop profile.
struct ViewTraceSettings {
    bool profile = false;
    long traceIntoFiles = 0;
    std::string traceFile = "VIEW.LOG";
    static ViewTraceSettings fromDesktopProfile();
};

// How long work reports itself: the whole sorted set of an order no key serves, built when the
// reading goes beyond the rows kept at the ends of the order or a position falls outside them.
struct ViewProgress {
    // Records read so far of those the file holds: 0 when the work starts, then every few
    // thousand records. An answer of false stops the work: the view keeps what it held and the
    // operation answers 93 (the build was cancelled).
    std::function<bool(std::int64_t done, std::int64_t expected)> step;
    // The work ended, done, stopped or failed.
    std::function<void()> ended;
};

class View {
public:
    // A view over a primary file; the trace settings are read now.
    explicit View(ViewTable& primary);
    View(ViewTable& primary, ViewTraceSettings trace);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Structure, declared before the view is opened. Join 0 is the primary file; join answers the
    // new join's number, or -1 (error 47) for a bad key or field.
    // Through a key of the inner file: outerFields (of the outer join's record) give the key's
    // leading components in order.
    int join(int outer, ViewTable& inner, int key, std::vector<int> outerFields, bool innerJoin = false);
    // With explicit pairs (outer field index, inner field index).
    int join(int outer, ViewTable& inner, std::vector<std::pair<int, int>> pairs, bool innerJoin = false);
    // Projects a field of a join's record (field index); a view without projections projects
    // every field. Memo fields are declared with memo = true.
    void project(int joinNumber, int field, bool memo = false);

    // The order and filter texts (property codes 7CE6 and 7CB8). A text that does not compile
    // answers false, sets the current error, and leaves the view's order or filter wholly as it
    // was (a half-read order would silently sort by the items before the typing mistake).
    bool setOrder(std::string_view text);
    bool setFilter(std::string_view text);
    const std::string& order() const { return orderText_; }
    const std::string& filter() const { return filterText_; }
    int setProperty(int code, std::string_view value); // error code; 80 for an unknown code
    std::string getProperty(int code) const;

    // The view's operations; each answers the error code it also sets as the current error.
    int open();
    int close();
    bool isOpen() const { return open_; }
    int set(int items = 0); // SETview: the start of the order, or the first n order values of the buffers
    int resetToFile();      // RESETviewfile: at the primary file's current record
    int next();
    int previous();
    int skip(int count);
    std::string position();               // POSITIONfile of the current record ("" when there is none)
    int reset(std::string_view position); // RESETfile
    int reget(std::string_view position); // REGETfile: reads the record at the position
    int watch();
    int flush();
    std::int64_t records(); // RECORDSfile: records in the view (-1 on error)
    int put();
    int remove(); // DELETE of the current primary record
    int hold(int seconds = -1);
    int release();

    // Rows a first or last window of a sorted order holds, and entries a key-led order loads at
    // least (whole runs of equal leading values): a few pages of a browse by default.
    void setSliceRows(std::size_t edgeRows, std::size_t runRows) {
        edgeRows_ = std::max<std::size_t>(edgeRows, 1);
        runRows_ = std::max<std::size_t>(runRows, 1);
    }

    void setProgress(ViewProgress progress) { progress_ = std::move(progress); }

    // Which way the view reads now: a key index (also for a key-led order), -1 for record order,
    // -2 for a sorted order or JoinLed for an order led by a key of a joined file.
    static constexpr int JoinLed = -4;
    int readingKey();
    // Whether the records come from held slices (key-led and sorted orders) and whether the whole
    // sorted set is held.
    bool readsSlices();
    bool holdsWholeSet() const { return built_ && coversStart_ && coversEnd_; }
    bool readsBackwards();
    std::uint64_t id() const { return id_; }
    const ViewTraceSettings& trace() const { return trace_; }
    // The declaration as traces write it.
    std::string declaration();

private:
    struct Join;
    struct OrderItem;
    struct Entry;

    enum class Plan { Records, Key, KeyRuns, Sorted, Query, JoinRuns };

    int finish(int op, int code, std::chrono::steady_clock::time_point start);
    void choosePlan();
    void chooseLocalPlan();
    void chooseRange();
    bool fixedKeyRange();
    int prepare(); // drops a slice that is out of date
    bool buildSet();
    std::vector<bool> joinsToResolve() const;
    int pass(const std::function<bool(std::uint64_t)>& each, bool reported = false);
    bool buildEdge(bool first);
    bool buildAround(const std::string& key, std::uint64_t pointer, bool truncated);
    int loadRuns(bool forward, bool append);
    void addLoaded(bool forward, std::size_t before);
    std::size_t servedFrom(ViewTable& table, const ViewKey& key, std::size_t from, bool& reversed) const;
    void chooseInnerKey();
    int seekIn(int key, std::span<const std::uint8_t> image, std::size_t given, bool keyForward);
    std::string encodeItems(std::size_t from, std::size_t to) const;
    bool inWalkedKey();
    void keepCurrent(std::vector<Entry>& into, std::string& arena, int given = -1);
    void keepCurrent(std::vector<Entry>& into, std::string& arena, int given, std::uint64_t pointer);
    enum class RunRead { Whole, Next, KeyEnd, Partial };
    int readRun(bool forward, std::size_t need, RunRead& how);
    int walkInner(bool forward, std::size_t need, const std::string& lead, std::size_t budget,
                  std::vector<Entry>& found, std::string& arena, std::string* first, bool& done, bool& ended);
    bool extendInner(bool forward);
    // About a page (a quarter of a key-led slice): the rows a new key-led slice loads at least,
    // and those an inner walk reads at a time (it passes over the records of every other run).
    std::size_t innerRows() const { return std::max<std::size_t>(runRows_ / 4, 1); }
    int afterRun(std::span<const std::uint8_t> image, bool keyForward);
    void closeLoad(bool forward, bool append, std::size_t before, const std::string& firstPos,
                   const std::string& lastPos, bool more);
    int seekRuns(std::span<const std::uint8_t> image, std::size_t components);
    int loadFromSeek(std::size_t given, const std::function<int(bool keyForward)>& seek);
    int placeRuns(std::span<const std::uint8_t> image, std::size_t components);
    bool extendSlice(bool forward);
    void sortSlice(std::size_t from, std::size_t to);
    void swapSpare();
    void dropSpare();
    int seekKey(std::span<const std::uint8_t> image, std::size_t given, bool keyForward);
    bool pastRange(bool keyForward);
    int stepKey(bool keyForward);
    bool confined() const { return !filter_.empty() || !fixed_.empty() || low_ || high_; }
    std::int64_t countByWalking();
    // False when an inner join has no partner; join `given` keeps the record its buffer holds.
    bool resolveJoins(int given = -1);
    bool resolveJoin(const Join& j);
    std::string sortKey() const;
    void appendSortKey(std::string& out) const;
    int readLive(bool forward);
    void noteRead(int rc);
    int readSorted(bool forward);
    int placeSortedAt(const std::string& key, std::uint64_t pointer, bool exactPrevious);
    int placeAnchor(const std::string& key, std::uint64_t pointer, bool truncated,
                    std::string_view keyPosition);
    // Join-led orders.
    std::size_t servedItems(ViewTable& table, const ViewKey& key, bool& reversed) const;
    bool chooseJoinLed();
    ViewTable& parent();
    int compareLinks(const std::vector<Value>& a, const std::vector<Value>& b) const;
    std::vector<Value> childLink();
    std::vector<Value> parentLink();
    bool findOrphans();
    bool buildExtras();
    int readChildren();
    int readChildrenOf(const std::vector<std::uint8_t>& parents);
    int seekParent(std::span<const std::uint8_t> image, std::size_t given, bool keyForward);
    int startJoinRuns(bool forward);
    void chooseParentPrefix();
    int seekParentPrefix(bool keyForward);
    bool pastParentPrefix(bool keyForward);
    int seekJoinRuns(std::span<const std::uint8_t> image, std::size_t given);
    int loadJoinRuns(bool forward, bool append);
    bool extendJoinRuns(bool forward);
    int placeJoinAnchor(const std::string& key, std::uint64_t pointer, bool truncated,
                        std::string_view parentPosition);
    int setLive(int items);
    int startOver();
    int startPendingSet(bool forward);
    NameResolver resolver();

    ViewTable& primary_;
    std::vector<Join> joins_;
    std::vector<OrderItem> items_;
    std::string orderText_, filterText_;
    Expression filter_;
    bool open_ = false;
    bool changed_ = true;
    // Plan.
    Plan plan_ = Plan::Records;
    int key_ = -1;           // the key read (key and key-led orders), else -1
    std::size_t served_ = 0; // order items the key serves
    bool backward_ = false;
    std::vector<std::uint8_t> pendingSet_; // live SET by leading values, until the first read
    std::size_t pendingItems_ = 0;
    std::vector<Value> pendingValues_;  // the same in query order
    std::vector<Expression> queryTail_; // query order: the rest of the key that orders ties
    Expression queryFilter_;            // query order: the filter with an OPT key's condition
    bool pendingStart_ = false;         // slices: SET without values, until the direction of the first read
    bool sorted_ = false;               // reading from slices (key-led and sorted orders)
    // The part of the key the filter confines a walk to: the leading components it fixes, then
    // limits on the next one (in the language's order of values).
    std::vector<Value> fixed_;
    std::optional<Value> low_, high_;
    std::string lastGood_; // confined key walks: the key position of the last record handed out
    // Slice of the ordered result: the entries, whether it reaches the start and the end of the
    // whole result, and (key-led orders) the key positions of its first and last records, in the
    // view's order.
    std::vector<Entry> entries_;
    std::string arena_;
    bool coversStart_ = false, coversEnd_ = false;
    std::size_t edgeRows_ = 128, runRows_ = 64;
    int edge_ = 0; // sorted orders: the slice last read was the first (1) or last (-1) rows
    // The other window of a sorted order, kept for Home after End and End after Home.
    std::vector<Entry> spareEntries_;
    std::string spareArena_;
    int spareEdge_ = 0;
    bool spareCoversStart_ = false, spareCoversEnd_ = false;
    std::string sliceStart_, sliceEnd_;
    // Key-led orders with an inner key: the key serving the items after the leading ones, how
    // many it serves and whether backwards. A slice side that lies inside a run holds the inner
    // key's place of its edge record, the run's leading values and a record image of the run
    // (empty when the side is a whole run's edge).
    int innerKey_ = -1;
    std::size_t innerServed_ = 0;
    bool innerBackward_ = false;
    struct InnerSide {
        std::string edge, lead;
        std::vector<std::uint8_t> image;
    };
    InnerSide innerStart_, innerEnd_;
    // A record a position places the view at: its run's inner walk starts at its group.
    std::vector<std::uint8_t> anchorImage_;
    bool built_ = false;
    bool dirty_ = true;
    std::uint64_t stamp_ = 0;
    std::ptrdiff_t nextIndex_ = 0, prevIndex_ = -1;
    std::ptrdiff_t current_ = -1;
    bool haveCurrent_ = false;
    std::uint64_t currentPointer_ = 0;
    // Join-led orders: the parent's join, the key walked and the primary's key read for each
    // parent; the records the walk cannot reach (orphans_, for the two files' change stamps) and
    // the same with their order values (extras_, in the view's order), of which those from
    // exLo_ to exHi_ are in the slice.
    int parentJoin_ = -1, parentKey_ = -1, childKey_ = -1;
    bool parentFilter_ = false; // the filter reads no file of the view but the parent's
    std::string parentPrefix_;  // the text every parent the filter keeps begins its key with
    std::uint64_t parentStamp_ = 0;
    std::vector<std::uint64_t> orphans_;
    std::pair<std::uint64_t, std::uint64_t> orphanStamps_{0, 0};
    bool orphansKnown_ = false, extrasBuilt_ = false;
    std::vector<Entry> extras_;
    std::vector<std::uint32_t> extraLeads_; // bytes of each extra's leading values
    std::string extrasArena_;
    std::size_t exLo_ = 0, exHi_ = 0;
    std::uint64_t id_;
    ViewTraceSettings trace_;
    std::shared_ptr<TraceLog> tracer_;
    ViewProgress progress_;
};

} // namespace sorv
