// Page costs of views over the People table of the native format, against SQLite on the same rows
// (one table without indexes, one with an index that serves the query). A browse only ever reads
// one page: the first page after a new order or filter, then the next or previous page from the
// position of a page's last row. Each case runs at 1,000, 100,000 and 1,000,000 records; the
// counters give the view's time and the ratios to both SQLite tables, and a table of ratios is
// printed at the end.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "data/fileops.h"
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "runtime/errors.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

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

constexpr int Page = 20;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The People table of the data dictionary (67 bytes, one key PPL:SysIdKey: DUP, OPT, NOCASE).
FileDecl peopleFile(const std::string& path) {
    FileDecl f = app::makePeopleFile();
    f.name = path;
    return f;
}

// One person as the demo data has it, the same for the same place in the sequence: the view's
// file and SQLite get identical rows. Customers number a seventh of the records, so that a key
// value has several records.
struct Person {
    int sysId;
    std::string last, first, phone;
    int dob, male;
    std::string yearHired;
    int salary;
};

Person person(app::DemoGenerator& gen, Record& r, int records) {
    gen.person(
        r, 1 + static_cast<std::int32_t>(gen.below(static_cast<std::uint32_t>(std::max(1, records / 7)))));
    auto text = [&](const char* field) { return std::string(clipRight(r.get(field).toText())); };
    return Person{static_cast<int>(r.get("PPL:SysId").toLong()),
                  text("PPL:LastName"),
                  text("PPL:FirstName"),
                  text("PPL:Phone"),
                  static_cast<int>(r.get("PPL:DoB").toLong()),
                  static_cast<int>(r.get("PPL:Male").toLong()),
                  text("PPL:YearHired"),
                  static_cast<int>(r.get("PPL:Salary").toLong())};
}

void check(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

void exec(sqlite3* db, const char* sql) {
    check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql);
}

// One table size: the People file (open, shared) and an SQLite database holding the same rows in
// table "plain" (no index) and table "indexed" (an index for every case).
struct Dataset {
    std::filesystem::path dir;
    FileDecl file;
    std::unique_ptr<FileViewTable> table;
    sqlite3* db = nullptr;

    explicit Dataset(int records) {
        dir = std::filesystem::temp_directory_path() /
              ("sorvbench-views-" + std::to_string(::getpid()) + "-" + std::to_string(records));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        file = peopleFile((dir / "PEOPLE.QNL").string());
        auto t0 = Clock::now();
        create(file);
        share(file);
        if (errorCode()) fail("open");
        logout(0, {&file});
        if (errorCode()) fail("logout");
        app::DemoGenerator gen(20261207);
        std::vector<Person> rows;
        rows.reserve(static_cast<std::size_t>(records));
        for (int i = 0; i < records; ++i) {
            Person p = person(gen, file.record, records);
            add(file);
            if (errorCode()) fail("add");
            rows.push_back(std::move(p));
        }
        commit();
        if (errorCode()) fail("commit");
        auto t1 = Clock::now();
        table = std::make_unique<FileViewTable>(file);

        check(db, sqlite3_open((dir / "people.db").string().c_str(), &db), "open");
        exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;");
        const char* columns = "(sysid INTEGER, lastname TEXT, firstname TEXT, phone TEXT, dob INTEGER, "
                              "male INTEGER, yearhired TEXT, salary INTEGER)";
        exec(db, ("CREATE TABLE plain " + std::string(columns)).c_str());
        exec(db, ("CREATE TABLE indexed " + std::string(columns)).c_str());
        exec(db, "BEGIN");
        for (const char* name : {"plain", "indexed"}) {
            sqlite3_stmt* ins = nullptr;
            std::string sql = std::string("INSERT INTO ") + name + " VALUES (?,?,?,?,?,?,?,?)";
            check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &ins, nullptr), "prepare insert");
            for (const Person& p : rows) {
                sqlite3_bind_int(ins, 1, p.sysId);
                sqlite3_bind_text(ins, 2, p.last.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(ins, 3, p.first.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(ins, 4, p.phone.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_int(ins, 5, p.dob);
                sqlite3_bind_int(ins, 6, p.male);
                sqlite3_bind_text(ins, 7, p.yearHired.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_int(ins, 8, p.salary);
                check(db, sqlite3_step(ins), "insert");
                sqlite3_reset(ins);
            }
            sqlite3_finalize(ins);
        }
        exec(db, "COMMIT");
        exec(db, "CREATE INDEX indexed_sysid ON indexed (sysid)");
        exec(db, "CREATE INDEX indexed_name ON indexed (upper(firstname), -salary)");
        exec(db, "CREATE INDEX indexed_filter ON indexed (substr(upper(lastname),1,1), sysid)");
        exec(db, "ANALYZE");
        std::fprintf(stderr, "%d records: native file %.2f s (one transaction), SQLite %.2f s\n", records,
                     seconds(t0, t1), seconds(t1, Clock::now()));
    }
    ~Dataset() {
        close(file);
        sqlite3_close(db);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    [[noreturn]] void fail(const char* what) {
        std::fprintf(stderr, "%s: %s\n", what, error().c_str());
        std::exit(1);
    }
};

// One table size at a time keeps memory and disk use down; the benchmarks run size by size.
Dataset& dataset(int records) {
    static int current = -1;
    static std::unique_ptr<Dataset> set;
    if (current != records) {
        set.reset();
        set = std::make_unique<Dataset>(records);
        current = records;
    }
    return *set;
}

// The three cases, each as a view order and filter and as the SQLite query that answers it.
// SQLite pages by the last row's ordering values (keyset paging), its best way to page.
struct Case {
    const char* name;
    const char* order;
    const char* filter;
    const char* where;   // SQLite condition, "" for none
    const char* orderBy; // SQLite ordering columns (the last one is rowid)
    int keyColumns;      // ordering columns bound for the next page
};

const Case cases[] = {
    {"KeyOrder", "PPL:SysId", "", "", "sysid, rowid", 2},
    {"NonKeyOrder", "UPPER(PPL:FirstName),-PPL:Salary", "", "", "upper(firstname), -salary, rowid", 3},
    {"Filter", "PPL:SysId", "SUB(UPPER(PPL:LastName),1,1) = 'H'", "substr(upper(lastname),1,1) = 'H'",
     "sysid, rowid", 2},
};

// A browse's page over a view: from the start, or from the row at a position (read again, as the
// browse reloads around its current row) and PAGE rows on. Answers the last row's position, or ""
// at the end of the view.
std::string viewPage(View& v, const std::string& from, bool forward) {
    if (from.empty()) {
        v.set();
    } else {
        v.reset(from);
        if ((forward ? v.next() : v.previous()) != 0) return {};
    }
    int n = 0;
    while (n < Page && (forward ? v.next() : v.previous()) == 0) ++n;
    return n == Page ? v.position() : std::string();
}

// The same page from SQLite: the first page, or the page after (before) the given ordering values.
class SqlPager {
public:
    SqlPager(sqlite3* db, const Case& c, const char* tableName) : db_(db), c_(c) {
        std::string cols = c.orderBy;
        std::string where = *c.where ? std::string(c.where) : std::string();
        std::string select = std::string("SELECT ") + cols + ", * FROM " + tableName;
        auto build = [&](const std::string& extra, const char* direction) {
            std::string w = where;
            if (!extra.empty()) w = w.empty() ? extra : w + " AND " + extra;
            std::string sql = select + (w.empty() ? "" : " WHERE " + w) + " ORDER BY ";
            // Every ordering column in the direction of the read.
            std::string by;
            std::size_t start = 0;
            std::string list = cols + ",";
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
        after_ = build("(" + cols + ") > (" + marks + ")", "ASC");
        before_ = build("(" + cols + ") < (" + marks + ")", "DESC");
    }
    ~SqlPager() {
        for (sqlite3_stmt* s : {first_, last_, after_, before_}) sqlite3_finalize(s);
    }
    // Reads one page; answers false at the end (the keys then start over).
    bool page(bool forward) {
        sqlite3_stmt* s = keys_.empty() ? (forward ? first_ : last_) : (forward ? after_ : before_);
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            const std::string& k = keys_[i];
            if (isNumber_[i])
                sqlite3_bind_int64(s, static_cast<int>(i + 1), std::atoll(k.c_str()));
            else
                sqlite3_bind_text(s, static_cast<int>(i + 1), k.c_str(), -1, SQLITE_TRANSIENT);
        }
        int n = 0, rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ++n;
            keys_.resize(static_cast<std::size_t>(c_.keyColumns));
            isNumber_.resize(keys_.size());
            for (int i = 0; i < c_.keyColumns; ++i) {
                isNumber_[static_cast<std::size_t>(i)] = sqlite3_column_type(s, i) == SQLITE_INTEGER;
                keys_[static_cast<std::size_t>(i)] = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
            }
            for (int col = c_.keyColumns; col < sqlite3_column_count(s); ++col)
                benchmark::DoNotOptimize(sqlite3_column_text(s, col));
        }
        check(db_, rc, "step");
        sqlite3_reset(s);
        if (n < Page) keys_.clear();
        return n == Page;
    }
    void restart() { keys_.clear(); }

private:
    sqlite3* db_;
    const Case& c_;
    sqlite3_stmt *first_, *last_, *after_, *before_;
    std::vector<std::string> keys_;
    std::vector<bool> isNumber_;
};

enum class Kind { First, Next, Previous };
const char* kindName(Kind k) {
    return k == Kind::First ? "FirstPage" : k == Kind::Next ? "NextPage" : "PreviousPage";
}

struct Result {
    double view = 0, plain = 0, indexed = 0; // seconds per page
};
std::map<std::string, Result> results;

// Each iteration reads one page through the view and then the same page from both SQLite tables;
// the time reported is the view's.
void runCase(benchmark::State& state, const Case& c, Kind kind, int records) {
    Dataset& d = dataset(records);
    View v(*d.table, ViewTraceSettings{});
    if (!v.setOrder(c.order) || !v.setFilter(c.filter) || v.open() != 0) {
        state.SkipWithError("the view does not open");
        return;
    }
    SqlPager plain(d.db, c, "plain"), indexed(d.db, c, "indexed");
    bool forward = kind != Kind::Previous;
    std::string pos;
    if (kind != Kind::First) pos = viewPage(v, {}, forward); // the first page is not what is timed
    if (kind != Kind::First) plain.page(forward), indexed.page(forward);
    double tv = 0, tp = 0, ti = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (kind == Kind::First) {
            // A new order (and filter) each time, as after a header click.
            v.setOrder(c.order);
            v.setFilter(c.filter);
            pos = viewPage(v, {}, true);
        } else {
            pos = viewPage(v, pos, forward);
            if (pos.empty()) pos = viewPage(v, {}, forward); // at the end: start over
        }
        auto t1 = Clock::now();
        if (kind == Kind::First) plain.restart();
        if (!plain.page(forward) && kind != Kind::First) plain.page(forward);
        auto t2 = Clock::now();
        if (kind == Kind::First) indexed.restart();
        if (!indexed.page(forward) && kind != Kind::First) indexed.page(forward);
        auto t3 = Clock::now();
        tv += seconds(t0, t1);
        tp += seconds(t1, t2);
        ti += seconds(t2, t3);
        state.SetIterationTime(seconds(t0, t1));
        if (pos.empty() && errorCode() != err::RecordNotAvailable && errorCode() != 0) {
            state.SkipWithError(("view read failed: " + error()).c_str());
            break;
        }
    }
    double n = static_cast<double>(state.iterations());
    state.counters["view_us"] = tv / n * 1e6;
    state.counters["sqlite_plain_us"] = tp / n * 1e6;
    state.counters["sqlite_index_us"] = ti / n * 1e6;
    state.counters["ratio_to_plain"] = tv / tp;
    state.counters["ratio_to_index"] = tv / ti;
    results[std::string(c.name) + "/" + kindName(kind) + "/" + std::to_string(records)] = {tv / n, tp / n,
                                                                                           ti / n};
}

} // namespace

int main(int argc, char** argv) {
    // Traces off whatever the user's desktop profile says.
    ::setenv("SORVDEMO_DESKTOP_PROFILE", "/nonexistent/sorvbench-desktop.ini", 1);
    const int sizes[] = {1000, 100000, 1000000};
    for (int records : sizes) {
        for (const Case& c : cases) {
            for (Kind kind : {Kind::First, Kind::Next, Kind::Previous}) {
                std::string name =
                    std::string("BM_View/") + c.name + "/" + kindName(kind) + "/" + std::to_string(records);
                // Pages that cost a pass over a large table get few iterations (a key order needs none).
                bool pass = kind == Kind::First && records >= 100000 && std::string(c.name) != "KeyOrder";
                benchmark::RegisterBenchmark(
                    name.c_str(), [&c, kind, records](benchmark::State& s) { runCase(s, c, kind, records); })
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond)
                    ->Iterations(pass ? (records >= 1000000 ? 3 : 10) : 200);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // How each page cost grows with the table, and how it compares with SQLite.
    std::printf("\n%-14s %-13s %9s %12s %12s %12s %10s %10s\n", "case", "page", "records", "view_us",
                "plain_us", "index_us", "v/plain", "v/index");
    for (const Case& c : cases)
        for (Kind kind : {Kind::First, Kind::Next, Kind::Previous})
            for (int records : sizes) {
                auto it =
                    results.find(std::string(c.name) + "/" + kindName(kind) + "/" + std::to_string(records));
                if (it == results.end()) continue;
                const Result& r = it->second;
                std::printf("%-14s %-13s %9d %12.1f %12.1f %12.1f %10.3f %10.3f\n", c.name, kindName(kind),
                            records, r.view * 1e6, r.plain * 1e6, r.indexed * 1e6, r.view / r.plain,
                            r.view / r.indexed);
            }
    return 0;
}
