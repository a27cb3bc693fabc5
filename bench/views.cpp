// Page costs of views over the People table of the native format at 1,000, 100,000 and 1,000,000
// records, against SQLite on the same rows: WAL, prepared statements reused, one read transaction
// around each read, an index where the native file has a key (PPL:SysIdKey) and none where it
// has none. A browse only ever reads one page: the first page after a new order or filter, the
// next or previous page from the position of a page's last row, the last page (End), and the
// next page again after another process wrote one record. Each case runs three rounds, ours and
// SQLite's interleaved, and reports the median of the rounds' ratios; a full scan in key order
// (what export, graph and report do) is measured the same way.
//
// The files of each size are built once into $SORVBENCH_CACHE (default /tmp/sorvbench-views) and
// reused by later runs; a run over files already built takes a few minutes at 1,000,000 records.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "data/fileops.h"
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "runtime/errors.h"

#include "bench/sqlite_bench.h"
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace sorv;

namespace {

using sqlitebench::check;
using sqlitebench::exec;

constexpr int Page = 20;
constexpr int Rounds = 3;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

FileDecl peopleFile(const std::string& path) {
    FileDecl f = app::makePeopleFile();
    f.name = path;
    return f;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, error().c_str());
    std::exit(1);
}

std::filesystem::path cacheDir() {
    const char* env = std::getenv("SORVBENCH_CACHE");
    return env && *env ? std::filesystem::path(env) : std::filesystem::path("/tmp/sorvbench-views");
}

// The demo data's people (customers number a seventh of the records, so that a key value has
// several records), written once per size into the native file and an SQLite database.
void buildFiles(const std::filesystem::path& dir, int records) {
    std::filesystem::path tmp = dir.string() + ".building";
    std::filesystem::remove_all(tmp);
    std::filesystem::create_directories(tmp);
    auto t0 = Clock::now();
    FileDecl file = peopleFile((tmp / "PEOPLE.QNL").string());
    create(file);
    share(file);
    if (errorCode()) fail("create");
    sqlite3* db = nullptr;
    check(db, sqlite3_open((tmp / "people.db").string().c_str(), &db), "open");
    exec(db, "PRAGMA journal_mode=WAL");
    exec(db, "CREATE TABLE people (sysid INTEGER, lastname TEXT, firstname TEXT, phone TEXT, dob INTEGER, "
             "male INTEGER, yearhired TEXT, salary INTEGER)");
    sqlite3_stmt* ins = nullptr;
    check(db, sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?,?,?,?,?,?,?,?)", -1, &ins, nullptr),
          "insert");
    app::DemoGenerator gen(20261207);
    Record& r = file.record;
    auto text = [&](const char* field) { return std::string(clipRight(r.get(field).toText())); };
    for (int i = 0; i < records;) {
        logout(0, {&file});
        exec(db, "BEGIN");
        for (int n = 0; n < 50000 && i < records; ++n, ++i) {
            gen.person(r, 1 + static_cast<std::int32_t>(
                                  gen.below(static_cast<std::uint32_t>(std::max(1, records / 7)))));
            add(file);
            if (errorCode()) fail("add");
            sqlite3_bind_int(ins, 1, static_cast<int>(r.get("PPL:SysId").toLong()));
            std::string last = text("PPL:LastName"), first = text("PPL:FirstName"), phone = text("PPL:Phone"),
                        hired = text("PPL:YearHired");
            sqlite3_bind_text(ins, 2, last.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, first.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 4, phone.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(ins, 5, static_cast<int>(r.get("PPL:DoB").toLong()));
            sqlite3_bind_int(ins, 6, static_cast<int>(r.get("PPL:Male").toLong()));
            sqlite3_bind_text(ins, 7, hired.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(ins, 8, static_cast<int>(r.get("PPL:Salary").toLong()));
            check(db, sqlite3_step(ins), "insert");
            sqlite3_reset(ins);
        }
        commit();
        if (errorCode()) fail("commit");
        exec(db, "COMMIT");
    }
    sqlite3_finalize(ins);
    // The native file's one key, and nothing else.
    exec(db, "CREATE INDEX people_sysid ON people (sysid)");
    exec(db, "ANALYZE");
    sqlite3_close(db);
    close(file);
    std::filesystem::rename(tmp, dir);
    std::fprintf(stderr, "%d records built into %s in %.1f s\n", records, dir.c_str(),
                 seconds(t0, Clock::now()));
}

// One table size: the People file (open, shared) and the SQLite database of the same rows.
struct Dataset {
    int records;
    std::filesystem::path dir;
    FileDecl file;
    std::unique_ptr<FileViewTable> table;
    sqlite3* db = nullptr;

    explicit Dataset(int n) : records(n) {
        dir = cacheDir() / std::to_string(n);
        if (!std::filesystem::exists(dir / "people.db")) {
            std::filesystem::create_directories(cacheDir());
            buildFiles(dir, n);
        }
        file = peopleFile((dir / "PEOPLE.QNL").string());
        share(file);
        if (errorCode()) fail("open");
        // The same memory for pages on both sides: the native file's default of 128 MB, and as
        // much for SQLite's cache below (SORVBENCH_CACHEPAGES=n sets ours otherwise).
        if (const char* pages = std::getenv("SORVBENCH_CACHEPAGES"))
            send(file, std::string("CACHEPAGES=") + pages);
        table = std::make_unique<FileViewTable>(file);
        check(db, sqlite3_open((dir / "people.db").string().c_str(), &db), "open");
        exec(db, "PRAGMA journal_mode=WAL; PRAGMA cache_size=-131072;");
    }
    ~Dataset() {
        close(file);
        sqlite3_close(db);
    }
    // The customer whose people a ranged list shows: one in the middle.
    int middleCustomer() const { return std::max(1, records / 14); }
};

Dataset& dataset(int records) {
    static std::unique_ptr<Dataset> set;
    if (!set || set->records != records) {
        set.reset();
        set = std::make_unique<Dataset>(records);
    }
    return *set;
}

// The kinds of view a browse reads, each as a view order and filter and as the SQLite query that
// answers it. SQLite pages by the last row's ordering values (keyset paging), its best way.
struct Case {
    const char* name;
    std::string order, filter;
    std::string where;   // SQLite condition, "" for none
    std::string orderBy; // SQLite ordering columns (the last one is rowid)
    int keyColumns;      // ordering columns bound for the next page
};

std::vector<Case> casesFor(const Dataset& d) {
    std::string customer = std::to_string(d.middleCustomer());
    return {
        {"KeyOrder", "PPL:SysId", "", "", "sysid, rowid", 2},
        {"Filter", "PPL:SysId", "SUB(UPPER(PPL:LastName),1,1) = 'H'", "substr(upper(lastname),1,1) = 'H'",
         "sysid, rowid", 2},
        {"Range", "PPL:SysId", "PPL:SysId = " + customer, "sysid = " + customer, "sysid, rowid", 2},
        {"KeyLed", "PPL:SysId,UPPER(PPL:LastName)", "", "", "sysid, upper(lastname), rowid", 3},
        {"NoKey", "UPPER(PPL:FirstName),-PPL:Salary", "", "", "upper(firstname), -salary, rowid", 3},
    };
}

// A browse's page over a view: from the start (or the end), or from the row at a position (read
// again, as the browse reloads around its current row) and PAGE rows on. Answers the last row's
// position, or "" at the end of the view.
std::string viewPage(View& v, const std::string& from, bool forward) {
    if (from.empty()) {
        v.set();
    } else {
        v.reset(from);
        if ((forward ? v.next() : v.previous()) != 0) return {};
    }
    int n = 0;
    while (n < Page && (forward ? v.next() : v.previous()) == 0) ++n;
    return n > 0 ? v.position() : std::string();
}

// The same pages from SQLite: the first or last page, or the page after (before) ordering values.
class SqlPager {
public:
    SqlPager(sqlite3* db, const Case& c) : db_(db), c_(c) {
        std::string select = "SELECT " + c.orderBy + ", * FROM people";
        auto build = [&](const std::string& extra, const char* direction) {
            std::string w = c.where;
            if (!extra.empty()) w = w.empty() ? extra : w + " AND " + extra;
            std::string sql = select + (w.empty() ? "" : " WHERE " + w) + " ORDER BY ";
            std::string by, list = c.orderBy + ",";
            std::size_t start = 0;
            for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
                by += (by.empty() ? "" : ", ") + list.substr(start, comma - start) + " " + direction;
            sql += by + " LIMIT " + std::to_string(Page);
            sqlite3_stmt* s = nullptr;
            check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), sql.c_str());
            return s;
        };
        std::string marks;
        for (int i = 0; i < c.keyColumns; ++i) marks += i ? ",?" : "?";
        first_ = build("", "ASC");
        last_ = build("", "DESC");
        after_ = build("(" + c.orderBy + ") > (" + marks + ")", "ASC");
        before_ = build("(" + c.orderBy + ") < (" + marks + ")", "DESC");
        check(db_, sqlite3_prepare_v2(db_, "BEGIN", -1, &begin_, nullptr), "begin");
        check(db_, sqlite3_prepare_v2(db_, "COMMIT", -1, &commit_, nullptr), "commit");
    }
    ~SqlPager() {
        for (sqlite3_stmt* s : {first_, last_, after_, before_, begin_, commit_}) sqlite3_finalize(s);
    }
    // Reads one page in a read transaction: the first (last) page when keys are empty, else the
    // page after (before) them. Leaves the keys of the page's last row.
    int page(std::vector<std::string>& keys, std::vector<bool>& numbers, bool forward) {
        run(begin_);
        sqlite3_stmt* s = keys.empty() ? (forward ? first_ : last_) : (forward ? after_ : before_);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (numbers[i])
                sqlite3_bind_int64(s, static_cast<int>(i + 1), std::atoll(keys[i].c_str()));
            else
                sqlite3_bind_text(s, static_cast<int>(i + 1), keys[i].c_str(), -1, SQLITE_TRANSIENT);
        }
        int n = 0, rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ++n;
            keys.resize(static_cast<std::size_t>(c_.keyColumns));
            numbers.resize(keys.size());
            for (int i = 0; i < c_.keyColumns; ++i) {
                numbers[static_cast<std::size_t>(i)] = sqlite3_column_type(s, i) == SQLITE_INTEGER;
                keys[static_cast<std::size_t>(i)] = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
            }
            for (int col = c_.keyColumns; col < sqlite3_column_count(s); ++col)
                benchmark::DoNotOptimize(sqlite3_column_text(s, col));
        }
        check(db_, rc, "step");
        sqlite3_reset(s);
        run(commit_);
        return n;
    }

private:
    void run(sqlite3_stmt* s) {
        check(db_, sqlite3_step(s), "transaction");
        sqlite3_reset(s);
    }
    sqlite3* db_;
    const Case& c_;
    sqlite3_stmt *first_, *last_, *after_, *before_, *begin_, *commit_;
};

enum class Kind { First, Next, Previous, End, AfterWrite };
const char* kindName(Kind k) {
    switch (k) {
    case Kind::First:
        return "FirstPage";
    case Kind::Next:
        return "NextPage";
    case Kind::Previous:
        return "PreviousPage";
    case Kind::End:
        return "End";
    default:
        return "AfterWrite";
    }
}

struct Result {
    double ours = 0, sqlite = 0, ratio = 0; // medians of the rounds: seconds per operation
    double heldKb = 0;                      // heap the view holds after the operation
};
std::map<std::string, Result> results;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

// Another station writes one record: the native file and SQLite each change one person's salary.
void writeOneRecordElsewhere(Dataset& d, std::uint32_t seed) {
    std::string qnl = d.file.fileName(), sql = (d.dir / "people.db").string();
    pid_t pid = ::fork();
    if (pid == 0) {
        FileDecl f = peopleFile(qnl);
        share(f);
        std::mt19937 rng(seed);
        std::int64_t n = records(f);
        for (int tries = 0; tries < 50; ++tries) {
            getPointer(f, static_cast<std::uint32_t>(1 + rng() % static_cast<std::uint64_t>(n)));
            if (errorCode() == 0) break;
        }
        f.record.set("PPL:Salary", Value(static_cast<int>(10000 + rng() % 90000)));
        put(f);
        int rc = errorCode();
        close(f);
        sqlite3* db = nullptr;
        sqlite3_open(sql.c_str(), &db);
        std::string upd = "UPDATE people SET salary = " + std::to_string(10000 + rng() % 90000) +
                          " WHERE rowid = " + std::to_string(1 + rng() % static_cast<std::uint64_t>(n));
        if (sqlite3_exec(db, upd.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) rc = 1;
        sqlite3_close(db);
        _exit(rc);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the writing process failed\n");
        std::exit(1);
    }
}

// One page kind of one case: three rounds, each timing `reps` operations of ours and then of
// SQLite's. The first page comes each time after a new order and filter, as after a header click;
// the next and previous pages start from the third page's last row.
void runCase(benchmark::State& state, int records, std::size_t caseIndex, Kind kind) {
    Dataset& d = dataset(records);
    Case c = casesFor(d)[caseIndex];
    View v(*d.table, ViewTraceSettings{});
    if (!v.setOrder(c.order) || !v.setFilter(c.filter) || v.open() != 0) {
        state.SkipWithError("the view does not open");
        return;
    }
    SqlPager sq(d.db, c);
    // Where the next and previous pages start: after the first page, both sides.
    std::string pos;
    std::vector<std::string> keys;
    std::vector<bool> numbers;
    for (int i = 0; i < 1; ++i) {
        std::string p = viewPage(v, pos, true);
        if (p.empty()) break;
        pos = p;
        std::vector<std::string> k = keys;
        std::vector<bool> nb = numbers;
        if (sq.page(k, nb, true) == 0) break;
        keys = k, numbers = nb;
    }
    // A pass over the file per operation gets one operation per round; pages get many.
    bool pass = records >= 100000 && (caseIndex == 4 || kind == Kind::AfterWrite);
    int reps = pass ? 1 : (records >= 1000000 ? 20 : 50);
    if (const char* env = std::getenv("SORVBENCH_REPS")) reps = std::max(1, std::atoi(env)); // for profiling
    std::vector<double> ours, theirs, ratios;
    double held = 0;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            double to = 0, ts = 0;
            for (int rep = 0; rep < reps; ++rep) {
                if (kind == Kind::AfterWrite)
                    writeOneRecordElsewhere(d, static_cast<std::uint32_t>(round * 100 + rep));
                std::size_t heap0 = heapInUse();
                auto t0 = Clock::now();
                std::string got;
                switch (kind) {
                case Kind::First:
                    v.setOrder(c.order);
                    v.setFilter(c.filter);
                    got = viewPage(v, {}, true);
                    break;
                case Kind::End:
                    v.setOrder(c.order);
                    v.setFilter(c.filter);
                    got = viewPage(v, {}, false);
                    break;
                case Kind::Next:
                case Kind::AfterWrite:
                    got = viewPage(v, pos, true);
                    break;
                case Kind::Previous:
                    got = viewPage(v, pos, false);
                    break;
                }
                auto t1 = Clock::now();
                held = std::max(held, static_cast<double>(heapInUse()) - static_cast<double>(heap0));
                std::vector<std::string> k =
                    kind == Kind::First || kind == Kind::End ? std::vector<std::string>{} : keys;
                std::vector<bool> nb = numbers;
                int n = sq.page(k, nb, kind != Kind::Previous && kind != Kind::End);
                auto t2 = Clock::now();
                if (got.empty() != (n == 0)) {
                    // (A ranged list of a few records has no next page on either side.)
                    state.SkipWithError(("only one side found a page: " + error()).c_str());
                    return;
                }
                to += seconds(t0, t1);
                ts += seconds(t1, t2);
            }
            ours.push_back(to / reps);
            theirs.push_back(ts / reps);
            ratios.push_back(to / ts);
        }
        state.SetIterationTime(median(ours));
    }
    Result r{median(ours), median(theirs), median(ratios), held / 1024};
    state.counters["ours_us"] = r.ours * 1e6;
    state.counters["sqlite_us"] = r.sqlite * 1e6;
    state.counters["ratio"] = r.ratio;
    state.counters["held_kb"] = r.heldKb;
    results[std::string(c.name) + "/" + kindName(kind) + "/" + std::to_string(records)] = r;
}

// Every record in key order through a view (what export, graph and report do) against SQLite
// reading every column of every row through its index.
void runScan(benchmark::State& state, int records) {
    Dataset& d = dataset(records);
    View v(*d.table, ViewTraceSettings{});
    if (!v.setOrder("PPL:SysId") || v.open() != 0) {
        state.SkipWithError("the view does not open");
        return;
    }
    sqlite3_stmt* q = nullptr;
    check(d.db, sqlite3_prepare_v2(d.db, "SELECT * FROM people ORDER BY sysid, rowid", -1, &q, nullptr),
          "scan");
    std::vector<double> ours, theirs, ratios;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            auto t0 = Clock::now();
            std::int64_t a = 0, b = 0;
            v.set();
            while (v.next() == 0) ++a;
            auto t1 = Clock::now();
            exec(d.db, "BEGIN");
            while (sqlite3_step(q) == SQLITE_ROW) {
                for (int col = 0; col < sqlite3_column_count(q); ++col)
                    benchmark::DoNotOptimize(sqlite3_column_text(q, col));
                ++b;
            }
            sqlite3_reset(q);
            exec(d.db, "COMMIT");
            auto t2 = Clock::now();
            if (a != b) {
                state.SkipWithError("the scans differ");
                sqlite3_finalize(q);
                return;
            }
            ours.push_back(seconds(t0, t1) / static_cast<double>(a));
            theirs.push_back(seconds(t1, t2) / static_cast<double>(b));
            ratios.push_back(seconds(t0, t1) / seconds(t1, t2));
        }
        state.SetIterationTime(median(ours));
    }
    sqlite3_finalize(q);
    Result r{median(ours), median(theirs), median(ratios), 0};
    state.counters["ours_ns_per_record"] = r.ours * 1e9;
    state.counters["sqlite_ns_per_record"] = r.sqlite * 1e9;
    state.counters["ratio"] = r.ratio;
    results[std::string("Scan/KeyOrder/") + std::to_string(records)] = r;
}

} // namespace

int main(int argc, char** argv) {
    // Traces off whatever the user's desktop profile says.
    ::setenv("SORVDEMO_DESKTOP_PROFILE", "/nonexistent/sorvbench-desktop.ini", 1);
    std::vector<int> sizes = {1000, 100000, 1000000};
    if (const char* env = std::getenv("SORVBENCH_SIZES")) {
        // A comma-separated list, for quicker runs: SORVBENCH_SIZES=1000,100000
        sizes.clear();
        for (std::string s = env; !s.empty();) {
            std::size_t comma = s.find(',');
            sizes.push_back(std::atoi(s.substr(0, comma).c_str()));
            s = comma == std::string::npos ? std::string() : s.substr(comma + 1);
        }
    }
    const Kind kinds[] = {Kind::First, Kind::Next, Kind::Previous, Kind::End, Kind::AfterWrite};
    const char* names[] = {"KeyOrder", "Filter", "Range", "KeyLed", "NoKey"};
    for (int records : sizes) {
        for (std::size_t c = 0; c < 5; ++c)
            for (Kind kind : kinds) {
                std::string name =
                    std::string("BM_View/") + names[c] + "/" + kindName(kind) + "/" + std::to_string(records);
                benchmark::RegisterBenchmark(
                    name.c_str(), [c, kind, records](benchmark::State& s) { runCase(s, records, c, kind); })
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond)
                    ->Iterations(1);
            }
        benchmark::RegisterBenchmark(("BM_Scan/KeyOrder/" + std::to_string(records)).c_str(),
                                     [records](benchmark::State& s) { runScan(s, records); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Each page against SQLite's, and against the same page at the smallest size.
    int small = sizes.front();
    std::printf("\n%-9s %-13s %9s %12s %12s %9s %10s %9s\n", "case", "page", "records", "ours_us",
                "sqlite_us", "ours/sql", "vs_small", "held_kb");
    for (std::size_t c = 0; c < 5; ++c)
        for (Kind kind : kinds)
            for (int records : sizes) {
                std::string key = std::string(names[c]) + "/" + kindName(kind) + "/";
                auto it = results.find(key + std::to_string(records));
                auto base = results.find(key + std::to_string(small));
                if (it == results.end()) continue;
                const Result& r = it->second;
                double growth =
                    base != results.end() && base->second.ours > 0 ? r.ours / base->second.ours : 0;
                std::printf("%-9s %-13s %9d %12.1f %12.1f %9.3f %10.2f %9.0f\n", names[c], kindName(kind),
                            records, r.ours * 1e6, r.sqlite * 1e6, r.ratio, growth, r.heldKb);
            }
    for (int records : sizes) {
        auto it = results.find("Scan/KeyOrder/" + std::to_string(records));
        if (it == results.end()) continue;
        std::printf("%-9s %-13s %9d %12.3f %12.3f %9.3f   (microseconds per record)\n", "Scan", "KeyOrder",
                    records, it->second.ours * 1e6, it->second.sqlite * 1e6, it->second.ratio);
    }
    return 0;
}
