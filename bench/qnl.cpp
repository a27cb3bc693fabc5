// Native indexed files against SQLite on the program's two layouts, both engines in the same run
// on the same disk: People (67 bytes, one key with duplicates) and Customer (126 bytes, five
// keys, one of them unique). Each benchmark reports the native file's time ("ours_ms"), SQLite's
// ("sqlite_ms") and their ratio ("ratio", ours / SQLite: below 1 means faster), the median of
// three rounds in which both sides run one after the other (the single inserts take turns, so
// that a busy disk weighs on both alike). SORV_BENCH_DIVIDE=n divides every count by n for a
// quick look.
//
// SQLite stores the same fields as columns of a rowid table with one index per key (the text
// keys COLLATE NOCASE, as the file's keys are case-insensitive), in WAL mode; a read copies
// every column into a record buffer of the layout, as a driver over SQLite would. Durability is
// the same on both sides in every row:
// - "Synced" single inserts (1,000) and the one transaction (100,000 inserts): every commit is
//   durable when it returns (native: the default, SyncMode::Full; SQLite: synchronous=FULL).
//   The syncs each commit made are counted on both sides ("ours_syncs", "sqlite_syncs": calls
//   of fsync and fdatasync in the process, per commit).
// - unsynced single inserts (10,000): neither engine syncs (native SyncMode::Off, SQLite
//   synchronous=OFF); both stay whole when the process dies.
// - lookups (100,000) run inside one read transaction on both sides (native: a pinned
//   snapshot; SQLite: BEGIN ... COMMIT).
#include "tests/data/qnl_fixture.h"

#include "runtime/errors.h"

#include "bench/sqlite_bench.h"
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace qnltest;

// Every sync of the process, whoever asks for it (SQLite's library included).
namespace {
std::atomic<std::uint64_t> syncs{0};
template <typename F> int forward(const char* name, int fd) {
    static auto real = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
    ++syncs;
    return real(fd);
}
} // namespace
extern "C" int fsync(int fd) {
    return forward<int (*)(int)>("fsync", fd);
}
extern "C" int fdatasync(int fd) {
    return forward<int (*)(int)>("fdatasync", fd);
}

namespace {

// SORV_BENCH_DIVIDE (see the top).
int divided(int n) {
    static const int by = [] {
        const char* e = std::getenv("SORV_BENCH_DIVIDE");
        return e ? std::max(1, std::atoi(e)) : 1;
    }();
    return std::max(1, n / by);
}
const int Bulk = divided(100'000);
const int Singles = divided(10'000);
const int SyncedSingles = divided(1'000); // every one waits for the disk, on both sides
const int Lookups = divided(100'000);
constexpr int Resets = 1'000;
constexpr int ReadAfterReset = 20;

using Clock = std::chrono::steady_clock;
double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// ---- the layouts and their data ----

// A column of the SQLite table: a field of the layout.
struct Column {
    std::string name;
    FieldType type;
    std::uint32_t offset, size;
};

struct LayoutDef {
    std::string table;
    Schema schema;
    std::vector<Column> columns;
    std::vector<std::string> keyColumns; // per key, as the index and ORDER BY name it
    std::vector<bool> keyUnique;
    std::vector<bool> keyText;
};

LayoutDef makeDef(const std::string& table, Schema s) {
    LayoutDef d;
    d.table = table;
    d.schema = std::move(s);
    for (const FieldDesc& f : d.schema.layout.fields()) {
        std::string n = f.name.substr(f.name.find(':') + 1);
        d.columns.push_back({n, f.type, f.offset, f.totalSize()});
    }
    for (const KeyDecl& k : d.schema.keys) {
        const Column& c = d.columns[static_cast<std::size_t>(k.components[0].field)];
        bool text = c.type == FieldType::String;
        d.keyColumns.push_back(text ? c.name + " COLLATE NOCASE" : c.name);
        d.keyUnique.push_back(!k.dup());
        d.keyText.push_back(text);
    }
    return d;
}

const LayoutDef& people() {
    static const LayoutDef d = makeDef("people", peopleSchema());
    return d;
}
const LayoutDef& customer() {
    static const LayoutDef d = makeDef("customer", customerSchema());
    return d;
}

std::string word(std::mt19937& rng, int minLen, int maxLen) {
    std::string s;
    int n = minLen + static_cast<int>(rng() % static_cast<unsigned>(maxLen - minLen + 1));
    s.push_back(static_cast<char>('A' + rng() % 26));
    for (int i = 1; i < n; ++i) s.push_back(static_cast<char>('a' + rng() % 26));
    return s;
}

// Records of a layout, made once: People with about 20 people per SysId, Customer with unique
// SysIds in random order and repeating companies, cities, postal codes and countries.
const std::vector<RecordData>& rows(const LayoutDef& d, int n) {
    static std::map<std::string, std::vector<RecordData>> made;
    auto& v = made[d.table + std::to_string(n)];
    if (!v.empty()) return v;
    std::mt19937 rng(d.table == "people" ? 17 : 23);
    const Schema& s = d.schema;
    if (d.table == "people") {
        for (int i = 0; i < n; ++i)
            v.push_back(makeRecord(s, {{"PPL:SysId", static_cast<int>(1 + rng() % 5000)},
                                       {"PPL:LastName", word(rng, 4, 14)},
                                       {"PPL:FirstName", word(rng, 3, 10)},
                                       {"PPL:Phone", std::to_string(2000000000 + rng() % 900000000)},
                                       {"PPL:DoB", static_cast<int>(60000 + rng() % 20000)},
                                       {"PPL:Male", static_cast<int>(rng() % 2)},
                                       {"PPL:YearHired", std::to_string(1970 + rng() % 50)},
                                       {"PPL:Salary", static_cast<int>(10000 + rng() % 90000)}}));
    } else {
        std::vector<int> ids(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) ids[static_cast<std::size_t>(i)] = i + 1;
        std::shuffle(ids.begin(), ids.end(), rng);
        std::vector<std::string> companies(2000), cities(300), countries(60);
        for (auto& c : companies) c = word(rng, 6, 28);
        for (auto& c : cities) c = word(rng, 4, 18);
        for (auto& c : countries) c = word(rng, 4, 16);
        for (int id : ids)
            v.push_back(makeRecord(s, {{"CUST:SysId", id},
                                       {"CUST:Company", companies[rng() % companies.size()]},
                                       {"CUST:Address1", word(rng, 8, 20)},
                                       {"CUST:Address2", word(rng, 0, 12)},
                                       {"CUST:City", cities[rng() % cities.size()]},
                                       {"CUST:PostalZipCode", std::to_string(10000 + rng() % 5000)},
                                       {"CUST:Country", countries[rng() % countries.size()]}}));
    }
    return v;
}

// ---- SQLite side ----

using sqlitebench::check;
using sqlitebench::exec;

class Lite {
public:
    Lite(const LayoutDef& d, const std::string& path) : d_(d) {
        check(db_, sqlite3_open(path.c_str(), &db_), "open");
        exec(db_, "PRAGMA journal_mode=WAL");
        std::string cols;
        for (const Column& c : d.columns)
            cols += ", " + c.name + (c.type == FieldType::String ? " TEXT" : " INTEGER");
        exec(db_, "CREATE TABLE IF NOT EXISTS " + d.table + " (id INTEGER PRIMARY KEY" + cols + ")");
        for (std::size_t k = 0; k < d.keyColumns.size(); ++k)
            exec(db_, std::string("CREATE ") + (d.keyUnique[k] ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " +
                          d.table + "_k" + std::to_string(k) + " ON " + d.table + "(" + d.keyColumns[k] +
                          ")");
        std::string names, marks;
        for (const Column& c : d.columns) {
            names += (names.empty() ? "" : ", ") + c.name;
            marks += marks.empty() ? "?" : ", ?";
        }
        select_ = names;
        insert_ = prepare("INSERT INTO " + d.table + " (" + names + ") VALUES (" + marks + ")");
    }
    ~Lite() {
        for (auto& [k, s] : stmts_) sqlite3_finalize(s);
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    sqlite3* db() { return db_; }
    void synchronous(bool full) { exec(db_, full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF"); }

    sqlite3_stmt* prepare(const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), sql.c_str());
        return s;
    }
    // A statement made once and kept, by its text.
    sqlite3_stmt* cached(const std::string& sql) {
        auto& s = stmts_[sql];
        if (!s) s = prepare(sql);
        return s;
    }
    const std::string& columns() const { return select_; }

    void insert(const RecordData& r) {
        for (std::size_t i = 0; i < d_.columns.size(); ++i)
            bindField(insert_, static_cast<int>(i + 1), i, r.bytes);
        check(db_, sqlite3_step(insert_), "insert");
        sqlite3_reset(insert_);
    }
    void bindField(sqlite3_stmt* s, int at, std::size_t col, const std::vector<std::uint8_t>& rec) {
        const Column& c = d_.columns[col];
        if (c.type == FieldType::String) {
            std::string_view t =
                clipRight(std::string_view(reinterpret_cast<const char*>(rec.data() + c.offset), c.size));
            sqlite3_bind_text(s, at, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        } else {
            const FieldDesc& f = d_.schema.layout.field(col);
            sqlite3_bind_int64(s, at, readField(f, rec).toLong());
        }
    }
    // One row into a record buffer of the layout (the columns from first on).
    void readRow(sqlite3_stmt* s, int first, std::vector<std::uint8_t>& rec) {
        rec.assign(d_.schema.layout.size(), 0);
        for (std::size_t i = 0; i < d_.columns.size(); ++i) {
            const Column& c = d_.columns[i];
            int at = first + static_cast<int>(i);
            if (c.type == FieldType::String) {
                const unsigned char* t = sqlite3_column_text(s, at);
                int n = std::min<int>(sqlite3_column_bytes(s, at), static_cast<int>(c.size));
                std::memset(rec.data() + c.offset, ' ', c.size);
                if (t) std::memcpy(rec.data() + c.offset, t, static_cast<std::size_t>(n));
            } else {
                std::int64_t v = sqlite3_column_int64(s, at);
                std::memcpy(rec.data() + c.offset, &v, std::min<std::size_t>(c.size, 8));
            }
        }
    }

private:
    const LayoutDef& d_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    std::string select_;
    std::map<std::string, sqlite3_stmt*> stmts_;
};

// ---- a loaded pair of files, kept for the reading benchmarks ----

struct Loaded {
    TempDir dir;
    std::unique_ptr<Table> ours;
    std::unique_ptr<Lite> lite;
    double oursMs = 0, liteMs = 0;
    std::uint64_t oursSyncs = 0, liteSyncs = 0;
};

// Fills both engines with the bulk rows, each in one transaction, timing it.
std::unique_ptr<Loaded> load(const LayoutDef& d) {
    auto l = std::make_unique<Loaded>();
    const auto& data = rows(d, Bulk);
    std::string path = l->dir.file(d.table + ".QNL");
    if (Table::create(path, d.schema, false) != 0) std::abort();
    l->ours = std::make_unique<Table>();
    if (l->ours->open(path) != 0) std::abort();
    std::uint64_t s0 = syncs;
    auto t0 = Clock::now();
    {
        Transaction tx;
        if (tx.begin({l->ours.get()}) != 0) std::abort();
        for (const RecordData& r : data) {
            RecordData c = r;
            std::uint32_t p;
            if (l->ours->add(c, p) != 0) std::abort();
        }
        if (tx.commit() != 0) std::abort();
    }
    auto t1 = Clock::now();
    std::uint64_t s1 = syncs;
    l->lite = std::make_unique<Lite>(d, l->dir.file(d.table + ".sqlite"));
    l->lite->synchronous(true);
    std::uint64_t s2 = syncs;
    auto t2 = Clock::now();
    exec(l->lite->db(), "BEGIN");
    for (const RecordData& r : data) l->lite->insert(r);
    exec(l->lite->db(), "COMMIT");
    auto t3 = Clock::now();
    l->oursMs = ms(t0, t1);
    l->liteMs = ms(t2, t3);
    l->oursSyncs = s1 - s0;
    l->liteSyncs = syncs - s2;
    return l;
}

Loaded& loaded(const LayoutDef& d) {
    static std::map<std::string, std::unique_ptr<Loaded>> all;
    auto& l = all[d.table];
    if (!l) l = load(d);
    return *l;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void report(benchmark::State& state, double ours, double lite, double n) {
    state.counters["ours_ms"] = ours;
    state.counters["sqlite_ms"] = lite;
    state.counters["ratio"] = ours / lite;
    state.counters["ours_per_s"] = n * 1000 / ours;
}

const LayoutDef& layoutOf(const benchmark::State& state) {
    return state.range(0) == 0 ? people() : customer();
}

// ---- the benchmarks ----

void BM_InsertInOneTransaction(benchmark::State& state) {
    const LayoutDef& d = layoutOf(state);
    std::vector<double> ours, lite;
    double oursSyncs = 0, liteSyncs = 0;
    for (auto _ : state) {
        auto l = load(d);
        ours.push_back(l->oursMs);
        lite.push_back(l->liteMs);
        oursSyncs = static_cast<double>(l->oursSyncs);
        liteSyncs = static_cast<double>(l->liteSyncs);
        state.SetIterationTime(l->oursMs / 1000);
    }
    report(state, median(ours), median(lite), Bulk);
    state.counters["ours_syncs"] = oursSyncs;
    state.counters["sqlite_syncs"] = liteSyncs;
}

// Each insert on its own: every one atomic by itself, and durable when synced.
void singles(benchmark::State& state, bool synced) {
    const LayoutDef& d = layoutOf(state);
    const auto& data = rows(d, Bulk);
    const int n = synced ? SyncedSingles : Singles;
    // The two sides take turns, so that what else the machine and its disk do meanwhile falls on
    // both alike: every insert when each waits for the disk (a sync is a few milliseconds and a
    // busy disk changes from one to the next), else every twentieth of them; who goes first
    // changes every turn.
    const int turn = synced ? 1 : std::max(1, n / 20);
    std::vector<double> ours, lite;
    double oursSyncs = 0, liteSyncs = 0;
    for (auto _ : state) {
        TempDir dir;
        std::string path = dir.file(d.table + ".QNL");
        if (Table::create(path, d.schema, false) != 0) std::abort();
        Table t;
        if (t.open(path) != 0) std::abort();
        t.pager().setSyncMode(synced ? SyncMode::Full : SyncMode::Off);
        Lite l(d, dir.file(d.table + ".sqlite"));
        l.synchronous(synced);
        double oursMs = 0, liteMs = 0;
        std::uint64_t oursN = 0, liteN = 0;
        auto runOurs = [&](int from, int to) {
            std::uint64_t s0 = syncs;
            auto t0 = Clock::now();
            for (int i = from; i < to; ++i) {
                RecordData c = data[static_cast<std::size_t>(i)];
                std::uint32_t p;
                if (t.add(c, p) != 0) std::abort();
            }
            oursMs += ms(t0, Clock::now());
            oursN += syncs - s0;
        };
        auto runLite = [&](int from, int to) {
            std::uint64_t s0 = syncs;
            auto t0 = Clock::now();
            for (int i = from; i < to; ++i) l.insert(data[static_cast<std::size_t>(i)]);
            liteMs += ms(t0, Clock::now());
            liteN += syncs - s0;
        };
        for (int from = 0, k = 0; from < n; from += turn, ++k) {
            int to = std::min(n, from + turn);
            if (k % 2 == 0) {
                runOurs(from, to);
                runLite(from, to);
            } else {
                runLite(from, to);
                runOurs(from, to);
            }
        }
        ours.push_back(oursMs);
        lite.push_back(liteMs);
        oursSyncs = static_cast<double>(oursN) / n;
        liteSyncs = static_cast<double>(liteN) / n;
        state.SetIterationTime(oursMs / 1000);
    }
    report(state, median(ours), median(lite), n);
    state.counters["ours_syncs"] = oursSyncs;
    state.counters["sqlite_syncs"] = liteSyncs;
}
void BM_InsertEachOnItsOwn(benchmark::State& state) {
    singles(state, false);
}
void BM_InsertEachOnItsOwnSynced(benchmark::State& state) {
    singles(state, true);
}

// Point lookups by the first key: the first record with a key value, read whole.
void BM_LookupByKey(benchmark::State& state) {
    const LayoutDef& d = layoutOf(state);
    Loaded& l = loaded(d);
    const auto& data = rows(d, Bulk);
    std::mt19937 rng(99);
    std::vector<std::size_t> probe(Lookups);
    for (auto& p : probe) p = rng() % data.size();
    const Column& kc = d.columns[static_cast<std::size_t>(d.schema.keys[0].components[0].field)];
    sqlite3_stmt* q = l.lite->cached("SELECT " + l.lite->columns() + " FROM " + d.table + " WHERE " +
                                     kc.name + " = ? ORDER BY " + d.keyColumns[0] + ", id LIMIT 1");
    std::vector<double> ours, lite;
    std::size_t found = 0;
    for (auto _ : state) {
        RecordData out;
        auto t0 = Clock::now();
        l.ours->pager().pin();
        for (std::size_t p : probe) {
            std::uint32_t ptr = 0;
            if (l.ours->findKey(0, data[p].bytes, ptr) == 0 && l.ours->get(ptr, out) == 0) ++found;
        }
        l.ours->pager().unpin();
        auto t1 = Clock::now();
        std::vector<std::uint8_t> rec;
        exec(l.lite->db(), "BEGIN");
        for (std::size_t p : probe) {
            l.lite->bindField(q, 1, static_cast<std::size_t>(d.schema.keys[0].components[0].field),
                              data[p].bytes);
            if (sqlite3_step(q) == SQLITE_ROW) {
                l.lite->readRow(q, 0, rec);
                ++found;
            }
            sqlite3_reset(q);
        }
        exec(l.lite->db(), "COMMIT");
        auto t2 = Clock::now();
        ours.push_back(ms(t0, t1));
        lite.push_back(ms(t1, t2));
        state.SetIterationTime(ours.back() / 1000);
    }
    if (found != 2 * probe.size() * static_cast<std::size_t>(state.iterations()))
        state.SkipWithError("a lookup missed");
    report(state, median(ours), median(lite), Lookups);
}

// Every record in the order of a key (-1: file order), forwards or backwards.
void BM_Scan(benchmark::State& state) {
    const LayoutDef& d = layoutOf(state);
    int key = static_cast<int>(state.range(1));
    bool forward = state.range(2) == 0;
    Loaded& l = loaded(d);
    std::string order = key < 0 ? std::string("id") : d.keyColumns[static_cast<std::size_t>(key)];
    std::string dir = forward ? "" : " DESC";
    sqlite3_stmt* q = l.lite->cached("SELECT " + l.lite->columns() + " FROM " + d.table + " ORDER BY " +
                                     order + dir + (key < 0 ? "" : ", id" + dir));
    std::vector<double> ours, lite;
    std::size_t a = 0, b = 0;
    for (auto _ : state) {
        a = b = 0;
        auto t0 = Clock::now();
        Cursor c(*l.ours, key);
        c.setFirst();
        RecordData out;
        std::uint32_t ptr;
        while ((forward ? c.next(out, ptr) : c.previous(out, ptr)) == 0) ++a;
        auto t1 = Clock::now();
        std::vector<std::uint8_t> rec;
        while (sqlite3_step(q) == SQLITE_ROW) {
            l.lite->readRow(q, 0, rec);
            ++b;
        }
        sqlite3_reset(q);
        auto t2 = Clock::now();
        ours.push_back(ms(t0, t1));
        lite.push_back(ms(t1, t2));
        state.SetIterationTime(ours.back() / 1000);
    }
    if (a != b || a != static_cast<std::size_t>(Bulk)) state.SkipWithError("the scans differ");
    report(state, median(ours), median(lite), static_cast<double>(a));
}

// Positions stored while reading in key order, then reset to and read on from, 20 records each.
void BM_ResetAndRead(benchmark::State& state) {
    const LayoutDef& d = layoutOf(state);
    int key = static_cast<int>(state.range(1));
    Loaded& l = loaded(d);
    const Column& kc =
        d.columns[static_cast<std::size_t>(d.schema.keys[static_cast<std::size_t>(key)].components[0].field)];
    // The stored positions: every 97th record of the key order (as a browse would remember them).
    std::vector<std::string> positions;
    std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> litePos; // key value, id
    {
        Cursor c(*l.ours, key);
        c.setFirst();
        RecordData out;
        std::uint32_t ptr;
        for (int i = 0; c.next(out, ptr) == 0 && positions.size() < Resets; ++i)
            if (i % 97 == 0) positions.push_back(c.position());
        sqlite3_stmt* all =
            l.lite->cached("SELECT id, " + l.lite->columns() + " FROM " + d.table + " ORDER BY " +
                           d.keyColumns[static_cast<std::size_t>(key)] + ", id");
        std::vector<std::uint8_t> rec;
        for (int i = 0; sqlite3_step(all) == SQLITE_ROW && litePos.size() < Resets; ++i)
            if (i % 97 == 0) {
                l.lite->readRow(all, 1, rec);
                litePos.emplace_back(rec, static_cast<std::uint32_t>(sqlite3_column_int64(all, 0)));
            }
        sqlite3_reset(all);
    }
    std::string coll = kc.type == FieldType::String ? " COLLATE NOCASE" : "";
    sqlite3_stmt* q = l.lite->cached("SELECT " + l.lite->columns() + " FROM " + d.table + " WHERE (" +
                                     kc.name + coll + " = ?1 AND id >= ?2) OR " + kc.name + coll +
                                     " > ?1 ORDER BY " + d.keyColumns[static_cast<std::size_t>(key)] +
                                     ", id LIMIT " + std::to_string(ReadAfterReset));
    std::vector<double> ours, lite;
    std::size_t a = 0, b = 0;
    for (auto _ : state) {
        a = b = 0;
        auto t0 = Clock::now();
        Cursor c(*l.ours, key);
        RecordData out;
        std::uint32_t ptr;
        for (const std::string& p : positions) {
            if (c.reset(p) != 0) std::abort();
            for (int i = 0; i < ReadAfterReset && c.next(out, ptr) == 0; ++i) ++a;
        }
        auto t1 = Clock::now();
        std::vector<std::uint8_t> rec;
        auto fieldIndex =
            static_cast<std::size_t>(d.schema.keys[static_cast<std::size_t>(key)].components[0].field);
        for (auto& [value, id] : litePos) {
            l.lite->bindField(q, 1, fieldIndex, value);
            sqlite3_bind_int64(q, 2, id);
            while (sqlite3_step(q) == SQLITE_ROW) {
                l.lite->readRow(q, 0, rec);
                ++b;
            }
            sqlite3_reset(q);
        }
        auto t2 = Clock::now();
        ours.push_back(ms(t0, t1));
        lite.push_back(ms(t1, t2));
        state.SetIterationTime(ours.back() / 1000);
    }
    if (a != b || positions.size() != litePos.size())
        state.SkipWithError("the engines read different counts");
    report(state, median(ours), median(lite), static_cast<double>(a));
}

void layouts(benchmark::internal::Benchmark* b) {
    b->ArgNames({"customer"})->Arg(0)->Arg(1);
}
void scans(benchmark::internal::Benchmark* b) {
    b->ArgNames({"customer", "key", "backwards"});
    for (int bw = 0; bw < 2; ++bw) {
        b->Args({0, -1, bw});
        b->Args({0, 0, bw});
        for (int k = -1; k < 5; ++k) b->Args({1, k, bw});
    }
}
void resets(benchmark::internal::Benchmark* b) {
    b->ArgNames({"customer", "key"});
    b->Args({0, 0});
    for (int k = 0; k < 5; ++k) b->Args({1, k});
}

BENCHMARK(BM_InsertInOneTransaction)
    ->Apply(layouts)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_InsertEachOnItsOwn)
    ->Apply(layouts)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_InsertEachOnItsOwnSynced)
    ->Apply(layouts)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_LookupByKey)->Apply(layouts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Scan)->Apply(scans)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ResetAndRead)->Apply(resets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
