// The list's long jobs over many records, on a browse over the People table:
// - the comma-separated export, every field through the People browse's pictures, against the
//   sqlite3 library writing the same rows to a CSV file of its own in the same process (WAL,
//   prepared statement, the same formatting done by SQL and printf); printed: the ratio
//   export/SQLite (aim: at most 1.5) and how much the process's peak memory grew during an export
//   (aim: flat, the same for any number of records);
// - the graph of the birth dates by month name (the window opened and closed at once) against
//   SQLite's GROUP BY of the same month.
// Both sides run in turns, three rounds; each figure is the median.
//
// Each number of records runs twice, in a process of its own (so that the peak memory is its
// own): with the native file's default page cache and with a small one, which shows how much of
// the growth is the cache filling as the records are read.
//
// SORVEX_BENCH_RECORDS=n[,n...] runs with those numbers of records (default 100000,1000000);
// SORVEX_BENCH_CACHEPAGES=n is the small cache in pages of 4 kB (default 256); the made-up tables
// are kept in SORVEX_BENCH_DATA (default /tmp/sorvexbench-data), one folder per number, and
// made only when missing.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "framework/browsemanager.h"
#include "framework/errormanager.h"
#include "framework/relationviewprimary.h"
#include "runtime/datetime.h"
#include "runtime/registry.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/windowing/harness.h"

#include "bench/sqlite_bench.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace sorv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using sqlitebench::check;

constexpr int Rounds = 3;
constexpr int List = 1;

// Day 4 is 1 January 1801.
constexpr double DayZeroJulian = 2378857.5;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A memory figure of the process in kB ("VmHWM:" its peak, "VmRSS:" what it holds now), and a
// fresh start for the peak.
long statusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return 0;
}
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The same made-up people in the native table and in SQLite.
void makeTables(const fs::path& dir, int records) {
    sqlite3* db = nullptr;
    FileDecl f = app::makePeopleFile();
    f.name = (dir / "PEOPLE").string();
    create(f);
    share(f);
    check(db, sqlite3_open((dir / "people.db").string().c_str(), &db), "open");
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "CREATE TABLE people (sysid INTEGER PRIMARY KEY, lastname TEXT, firstname TEXT, phone TEXT, "
                 "dob INTEGER, male INTEGER, yearhired TEXT, salary INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    check(db, sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?,?,?,?,?,?,?,?)", -1, &ins, nullptr),
          "insert");
    app::DemoGenerator gen(11);
    auto text = [&](const char* field) { return std::string(clipRight(f.record.get(field).toText())); };
    for (int i = 1; i <= records;) {
        logout(0, {&f});
        for (int n = 0; n < 10'000 && i <= records; ++n, ++i) {
            f.record.clear();
            gen.person(f.record, 1 + i % 1000);
            f.record.set("PPL:SysId", Value(i));
            add(f);
            sqlite3_bind_int(ins, 1, i);
            const std::string last = text("PPL:LastName"), first = text("PPL:FirstName"),
                              phone = text("PPL:Phone"), year = text("PPL:YearHired");
            sqlite3_bind_text(ins, 2, last.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, first.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 4, phone.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(ins, 5, f.record.get("PPL:DoB").toLong());
            sqlite3_bind_int(ins, 6, int(f.record.get("PPL:Male").toLong()));
            sqlite3_bind_text(ins, 7, year.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(ins, 8, f.record.get("PPL:Salary").toLong());
            check(db, sqlite3_step(ins), "insert");
            sqlite3_reset(ins);
        }
        commit();
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    close(f);
}

// SQLite writes the rows as the export does: the People browse's pictures done by SQL, values
// with a comma quoted.
double sqliteCsv(sqlite3_stmt* select, int records, const fs::path& out) {
    const auto t0 = Clock::now();
    FILE* file = std::fopen(out.c_str(), "wb");
    std::fprintf(file, "# Records=%07d\r\nLast Name,First Name,Telephone,Birthdate,Year Hired,Salary\r\n",
                 records);
    while (sqlite3_step(select) == SQLITE_ROW) {
        for (int c = 0; c < 6; ++c) {
            const char* v = reinterpret_cast<const char*>(sqlite3_column_text(select, c));
            if (!v) v = "";
            if (c) std::fputc(',', file);
            if (std::strchr(v, ','))
                std::fprintf(file, "\"%s\"", v);
            else
                std::fputs(v, file);
        }
        std::fputs("\r\n", file);
    }
    sqlite3_reset(select);
    std::fclose(file);
    return seconds(t0);
}

// The export's side: a window with the list, a browse over a view of the table, a Sorvex over it.
struct PeopleSorvex : bx::Sorvex {
    std::string gr, gra;
    void InitColumns() override {
        gr = bx::columnTable({{"PPL:LastName", 80, "Last Name", "@s20", "Last Name", 'L'},
                              {"PPL:FirstName", 80, "First Name", "@s20", "First Name", 'L'},
                              {"PPL:Phone", 48, "Telephone", "@p###-###-####p", "Telephone", 'L'},
                              {"PPL:DoB", 40, "Birthdate", "@D17b", "Date of Birth", 'R'},
                              {"PPL:YearHired", 16, "Year Hired", "@p####p", "Year of Hire", 'L'},
                              {"PPL:Salary", 28, "Salary", "@n9.2", "Salary", 'R'}});
        gra = bx::additionalOrderTable(false, {});
        GR = gr;
        GRS = {};
        GRA = gra;
        QDIM = 6;
        QDIMS = 0;
        ReadColumnTables();
        AddFormatSlot(0);
    }
    // Birth dates fall into their months, in calendar order.
    void GraphCategory(int qnos, const std::string& picture, std::string& text) override {
        bx::Sorvex::GraphCategory(qnos, picture, text);
        if (qnos != 4 || !BQ) return;
        const std::int64_t day = BQ->field(qnos).get().toLong();
        if (day > 0) GraphMonthName(civilOf(day).month, text);
    }
};

struct PeopleWindow : fw::WindowManager {
    fw::Level Init() override {
        fw::Level l = WindowManager::Init();
        if (l != fw::LevelNone) return l;
        win::WindowSpec d;
        d.caption = "Browse the People File";
        d.at = {0, 0, 420, 200};
        win::ControlSpec& list = d.add("LIST", List, {4, 4, 400, 120}, "Browsing Records");
        list.format = "80L(2)|M~Last Name~@s20@80L(2)|M~First Name~@s20@56L(2)|M~Telephone~@p###-###-####p@"
                      "49R(2)|M~Birthdate~C(0)@D17b@40L(2)|M~Year Hired~@p####p@32R(2)|M~Salary~C(0)@n9.2@";
        list.vscroll = true;
        return WINDOW.open(d) ? fw::LevelNone : fw::LevelFatal;
    }
};

struct ExportSide {
    FileDecl file = app::makePeopleFile();
    fw::ErrorManager errors;
    std::unique_ptr<FileViewTable> table;
    std::unique_ptr<View> view;
    std::unique_ptr<fw::PlainViewPrimary> primary;
    Queue queue{[] {
        Layout q;
        q.add("Q:LastName", FieldType::String, 20);
        q.add("Q:FirstName", FieldType::String, 20);
        q.add("Q:Phone", FieldType::String, 10);
        q.add("Q:DoB", FieldType::Long);
        q.add("Q:YearHired", FieldType::String, 4);
        q.addDecimal("Q:Salary", 7, 0);
        q.add("Q:Position", FieldType::String, 512);
        return q;
    }()};
    PeopleWindow window;
    fw::BrowseManager browse;
    PeopleSorvex sorvex;

    ExportSide(const fs::path& data, const fs::path& dir, long cachePages) {
        errors.Init();
        file.name = (data / "PEOPLE").string();
        share(file);
        if (cachePages > 0) send(file, "CACHEPAGES=" + std::to_string(cachePages));
        threadNames().bindRecord(file.record);
        table = std::make_unique<FileViewTable>(file);
        view = std::make_unique<View>(*table, ViewTraceSettings{});
        primary = std::make_unique<fw::PlainViewPrimary>(file, errors);
        window.Init();
        browse.Init(List, queue, queue.field("Q:Position"), *view, *primary, window);
        browse.AddSortOrder(app::SysIdKey);
        window.AddItem(&browse);
        sorvex.Init(window, browse, queue, window.WINDOW, List, (dir / "bench.INI").string(),
                    bx::VisualHeader, {});
        for (const char* f : {"LastName", "FirstName", "Phone", "DoB", "YearHired", "Salary"})
            sorvex.BindColumn(file.record.ref(std::string("PPL:") + f), queue.field(std::string("Q:") + f));
        sorvex.RegisterBrowseFields();
        sorvex.SEPARATOR = ",";
        sorvex.BROWSEHEADER = 1;
        sorvex.SHELLEXECUTE = 0;
        sorvex.ASCIIFILENAME = (dir / "SvPort.CSV").string();
        window.RegisterAlertKeys();
        window.EVENT = win::makeEvent(win::event::OpenWindow, 0, window.WINDOW.id());
        window.HandleEvent();
    }
    ~ExportSide() {
        window.Kill();
        threadNames().unbindRecord(file.record);
        if (file.isOpen()) close(file);
    }
};

// What one process measured.
struct Result {
    int records = 0;
    long cachePages = 0; // 0: the default
    double ours = 0, theirs = 0, graph = 0, grouped = 0;
    long grownKb = 0;
    double mb = 0;
};

Result measure(int records, const fs::path& data, long cachePages) {
    std::string tmpl = (fs::temp_directory_path() / "sorvexbench-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    sqlite3* db = nullptr;
    check(db, sqlite3_open((data / "people.db").string().c_str(), &db), "open");
    sqlite3_stmt* select = nullptr;
    const std::string dayZero = std::to_string(DayZeroJulian);
    check(db,
          sqlite3_prepare_v2(db,
                             ("SELECT lastname, firstname, substr(phone,1,3)||'-'||substr(phone,4,3)||'-'||"
                              "substr(phone,7,4), CASE WHEN dob = 0 THEN '' ELSE strftime('%m/%d/%Y', " +
                              dayZero +
                              " + dob) END, yearhired, printf('%,.2f', salary) FROM people ORDER BY sysid")
                                 .c_str(),
                             -1, &select, nullptr),
          "prepare");

    sqlite3_stmt* months = nullptr;
    check(db,
          sqlite3_prepare_v2(
              db,
              ("SELECT strftime('%m', " + dayZero + " + dob) AS m, count(*) FROM people GROUP BY m").c_str(),
              -1, &months, nullptr),
          "prepare");

    std::vector<double> ours, theirs, graph, grouped;
    Result r{records, cachePages};
    test::PressWhenShown close("Graph on Date of Birth", "OK", Rounds);
    test::runWithDesktop([&] {
        ExportSide side(data, dir, cachePages);
        for (int round = 0; round < Rounds; ++round) {
            const long before = statusKb("VmRSS:");
            resetPeak();
            const auto t0 = Clock::now();
            side.sorvex.ExportAscii();
            ours.push_back(seconds(t0));
            r.grownKb = std::max(r.grownKb, statusKb("VmHWM:") - before);
            theirs.push_back(sqliteCsv(select, records, dir / "sqlite.csv"));
            side.sorvex.CURRENTCOL = 4;
            auto t1 = Clock::now();
            side.sorvex.Graph();
            graph.push_back(seconds(t1));
            t1 = Clock::now();
            int groups = 0;
            while (sqlite3_step(months) == SQLITE_ROW) ++groups;
            sqlite3_reset(months);
            grouped.push_back(seconds(t1));
            std::printf(
                "%d records, cache %s, round %d: export %.3f s, SQLite %.3f s; graph %.3f s, GROUP BY "
                "%.3f s (%d months)\n",
                records, cachePages ? std::to_string(cachePages).c_str() : "default", round + 1, ours.back(),
                theirs.back(), graph.back(), grouped.back(), groups);
            std::fflush(stdout);
        }
    });
    if (close.presses() != Rounds) std::fprintf(stderr, "graph windows closed: %d\n", close.presses());
    r.mb = double(fs::file_size(dir / "SvPort.CSV")) / 1e6;
    r.ours = median(ours);
    r.theirs = median(theirs);
    r.graph = median(graph);
    r.grouped = median(grouped);
    sqlite3_finalize(months);
    sqlite3_finalize(select);
    sqlite3_close(db);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return r;
}

// Runs `job` in a child process and hands back what it wrote; false when the child failed.
template <class T, class F> bool inChild(F job, T& out) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        const T result = job();
        const bool sent = write(fds[1], &result, sizeof result) == ssize_t(sizeof result);
        std::fflush(stdout);
        _exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    const bool got = pid > 0 && ::read(fds[0], &out, sizeof out) == ssize_t(sizeof out);
    ::close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main() {
    std::vector<int> sizes;
    {
        const char* env = std::getenv("SORVEX_BENCH_RECORDS");
        std::string list = env && *env ? env : "100000,1000000";
        for (std::size_t at = 0; at < list.size();) {
            const std::size_t comma = std::min(list.find(',', at), list.size());
            if (const int n = std::atoi(list.substr(at, comma - at).c_str()); n > 0) sizes.push_back(n);
            at = comma + 1;
        }
    }
    const long smallCache =
        std::getenv("SORVEX_BENCH_CACHEPAGES") ? std::atol(std::getenv("SORVEX_BENCH_CACHEPAGES")) : 256;
    const char* dataEnv = std::getenv("SORVEX_BENCH_DATA");
    const fs::path dataRoot = dataEnv && *dataEnv ? fs::path(dataEnv) : fs::path("/tmp/sorvexbench-data");

    std::vector<Result> results;
    for (int records : sizes) {
        const fs::path data = dataRoot / std::to_string(records);
        if (!fs::exists(data / "people.db")) {
            std::printf("making %d people in %s ...\n", records, data.c_str());
            std::fflush(stdout);
            const fs::path building = data.string() + ".building";
            std::error_code ec;
            fs::remove_all(building, ec);
            fs::create_directories(building);
            int made = 0;
            if (!inChild([&] { return (makeTables(building, records), 1); }, made)) return 1;
            fs::rename(building, data);
        }
        for (long cache : {0L, smallCache}) {
            Result r;
            if (!inChild([&] { return measure(records, data, cache); }, r)) {
                std::fprintf(stderr, "the run with %d records failed\n", records);
                return 1;
            }
            results.push_back(r);
        }
    }
    std::printf(
        "\n| records | page cache | MB written | export s | SQLite s | ratio (aim <= 1.5) | peak memory "
        "grew | graph s | GROUP BY s | ratio |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Result& r : results)
        std::printf("| %d | %s | %.1f | %.3f | %.3f | %.2f | %.1f MB | %.3f | %.3f | %.2f |\n", r.records,
                    r.cachePages ? (std::to_string(r.cachePages) + " pages").c_str() : "default", r.mb,
                    r.ours, r.theirs, r.ours / r.theirs, r.grownKb / 1024.0, r.graph, r.grouped,
                    r.graph / r.grouped);
    return 0;
}
