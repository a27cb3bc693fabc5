// The People browse and the parent/child browse in the real program under the offscreen desktop,
// over 1,000 people of 100 customers and over 1,000,000 people of 100,000 customers (ten people
// each, every row of the People browse joined to its customer): opening the People browse, a page
// down, a click on the "City" header (a column of the customer), "W" typed then (the City
// column's filter locator keeps the people of the cities starting with it), opening the
// parent/child browse and highlighting another customer, whose ten people the lower list then
// shows. Each step is timed from the user's action to the change the window shows; sizes are
// interleaved and each figure is the median of three rounds; the ratios printed are the large
// time over the small one.
// The City click is also answered by SQLite over the same rows (WAL, the statement prepared once,
// one read transaction, an index per key of the two files and no other: customers by city without
// case, people by their customer), timed between our rounds: the page the list shows after the
// click (it keeps the highlighted person, so not the order's first page), checked row by row, and
// the ratio of our time to SQLite's is printed at each size: on the connection kept all along, and
// on a new one (its page cache empty, as the program's is, started anew each round).
// PEOPLEBROWSE_LARGE=n measures against n people (n / 10 customers) instead, for a quick run;
// PEOPLEBROWSE_DATA=dir keeps the tables made in dir for the next run.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "bench/program_bench.h"
#include "bench/sqlite_bench.h"
#include "data/files.h"
#include "windowing/listbox.h"

#include <QKeyEvent>
#include <filesystem>
#include <fstream>
#include <map>
#include <sqlite3.h>
#include <unistd.h>

using namespace programbench;
using sqlitebench::check;
using sqlitebench::exec;
namespace fs = std::filesystem;

namespace {

constexpr int Small = 1'000, Rounds = 3, PerCustomer = 10;
const int Large =
    std::getenv("PEOPLEBROWSE_LARGE") ? std::atoi(std::getenv("PEOPLEBROWSE_LARGE")) : 1'000'000;

// The tables: customers numbered 1 to people / 10, the people added in turn to every customer
// (so that one customer's people lie far apart in the file, as people added over years do).
void writeTables(const fs::path& dir, int people) {
    app::DemoGenerator gen(7);
    const int customers = people / PerCustomer;
    FileDecl c = app::makeCustomerFile();
    c.name = (dir / "CUSTOMER").string();
    create(c);
    share(c);
    FileDecl p = app::makePeopleFile();
    p.name = (dir / "PEOPLE").string();
    create(p);
    share(p);
    for (int i = 1; i <= customers;) {
        logout(0, {&c});
        for (int n = 0; n < 10'000 && i <= customers; ++n, ++i) {
            c.record.clear();
            gen.customer(c.record);
            c.record.set("CUST:SysId", Value(i));
            add(c);
        }
        commit();
    }
    for (int i = 0; i < people;) {
        logout(0, {&p});
        for (int n = 0; n < 10'000 && i < people; ++n, ++i) {
            p.record.clear();
            gen.person(p.record, 1 + i % customers);
            add(p);
        }
        commit();
    }
    close(p);
    close(c);
}

std::string text(const Record& r, const char* field) {
    return std::string(clipRight(r.get(field).toText()));
}

// The two files' records copied into dir/people.db (once; kept beside the files), people under
// their record pointers so that equal ordering values fall in record order as in the view.
void copyToSqlite(const fs::path& dir) {
    if (fs::exists(dir / "people.db")) return;
    const fs::path tmp = dir / "people.db.building";
    fs::remove(tmp);
    sqlite3* db = nullptr;
    check(db, sqlite3_open(tmp.string().c_str(), &db), "open");
    exec(db, "PRAGMA journal_mode=WAL");
    exec(db, "CREATE TABLE customer (sysid INTEGER PRIMARY KEY, company TEXT COLLATE NOCASE, "
             "city TEXT COLLATE NOCASE, postal TEXT COLLATE NOCASE, country TEXT COLLATE NOCASE)");
    exec(db, "CREATE TABLE people (custid INTEGER, lastname TEXT, firstname TEXT)");
    FileDecl c = app::makeCustomerFile();
    c.name = (dir / "CUSTOMER").string();
    FileDecl p = app::makePeopleFile();
    p.name = (dir / "PEOPLE").string();
    share(c);
    share(p);
    exec(db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    check(db, sqlite3_prepare_v2(db, "INSERT INTO customer VALUES (?,?,?,?,?)", -1, &ins, nullptr), "insert");
    for (set(c), next(c); !errorCode(); next(c)) {
        sqlite3_bind_int64(ins, 1, c.record.get("CUST:SysId").toLong());
        int i = 2;
        for (const char* f : {"CUST:Company", "CUST:City", "CUST:PostalZipCode", "CUST:Country"})
            sqlite3_bind_text(ins, i++, text(c.record, f).c_str(), -1, SQLITE_TRANSIENT);
        check(db, sqlite3_step(ins), "insert");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(db,
          sqlite3_prepare_v2(db, "INSERT INTO people (rowid, custid, lastname, firstname) VALUES (?,?,?,?)",
                             -1, &ins, nullptr),
          "insert");
    for (set(p), next(p); !errorCode(); next(p)) {
        sqlite3_bind_int64(ins, 1, pointer(p));
        sqlite3_bind_int64(ins, 2, p.record.get("PPL:SysId").toLong());
        sqlite3_bind_text(ins, 3, text(p.record, "PPL:LastName").c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 4, text(p.record, "PPL:FirstName").c_str(), -1, SQLITE_TRANSIENT);
        check(db, sqlite3_step(ins), "insert");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    exec(db, "COMMIT");
    close(p);
    close(c);
    // The files' keys, and nothing else.
    for (const char* col : {"company", "city", "postal", "country"})
        exec(db, std::string("CREATE INDEX customer_") + col + " ON customer (" + col + ")");
    exec(db, "CREATE INDEX people_custid ON people (custid)");
    exec(db, "ANALYZE");
    sqlite3_close(db);
    fs::rename(tmp, dir / "people.db");
}

// SQLite's page of the City order that the list shows after the click: the list keeps the
// highlighted person, so the page runs from that person on in the list's order (the city without
// case, then the last name in capitals, then record order), each person joined to the customer
// through the customer id, read from that person's ordering values on (keyset paging).
struct CityReference {
    static constexpr const char* Join = "FROM customer c JOIN people p ON p.custid = c.sysid ";
    sqlite3* db = nullptr;
    sqlite3_stmt *query = nullptr, *named = nullptr, *begin = nullptr, *end = nullptr;
    fs::path file;
    std::int64_t found = -1; // the highlighted person's rowid, from the last time()
    explicit CityReference(const fs::path& dir) : file(dir / "people.db") {
        copyToSqlite(dir);
        connect();
    }
    ~CityReference() { disconnect(); }
    void connect() {
        check(db, sqlite3_open(file.string().c_str(), &db), "open");
        // As much memory for pages as the native files have by default (128 MB).
        exec(db, "PRAGMA journal_mode=WAL; PRAGMA cache_size=-131072;");
        prepare(query, std::string("SELECT p.lastname, c.city, p.firstname ") + Join +
                           "WHERE (c.city, upper(p.lastname), p.rowid) >= (?1, upper(?2), ?3) "
                           "ORDER BY c.city, upper(p.lastname), p.rowid LIMIT ?4");
        prepare(named, std::string("SELECT p.rowid ") + Join +
                           "WHERE c.city = ?1 AND p.lastname = ?2 AND p.firstname = ?3 ORDER BY p.rowid");
        prepare(begin, "BEGIN");
        prepare(end, "COMMIT");
    }
    void disconnect() {
        for (sqlite3_stmt* s : {query, named, begin, end}) sqlite3_finalize(s);
        sqlite3_close(db);
    }
    void prepare(sqlite3_stmt*& s, const std::string& sql) {
        check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), sql.c_str());
    }
    void run(sqlite3_stmt* s) {
        check(db, sqlite3_step(s), "transaction");
        sqlite3_reset(s);
    }
    // The rows from record `rowid` (names `cells`: last name, city, first name) on, as the list's
    // first three columns show them; `took` gets the seconds.
    std::string pageFrom(const std::vector<std::string>& cells, std::int64_t rowid, int rows, double& took) {
        std::string out;
        const auto t0 = std::chrono::steady_clock::now();
        run(begin);
        sqlite3_bind_text(query, 1, cells[1].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(query, 2, cells[0].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(query, 3, rowid);
        sqlite3_bind_int(query, 4, rows);
        while (sqlite3_step(query) == SQLITE_ROW)
            for (int col = 0; col < 3; ++col)
                out += std::string(reinterpret_cast<const char*>(sqlite3_column_text(query, col))) + "|";
        sqlite3_reset(query);
        run(end);
        took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        return out;
    }
    // The seconds SQLite takes for the page `shown` (cells of three columns, each ended by '|');
    // negative when no person of the first row's names starts the same rows.
    double time(const std::string& shown) {
        std::vector<std::string> cells;
        for (std::size_t at = 0, bar; cells.size() < 3 && (bar = shown.find('|', at)) != std::string::npos;
             at = bar + 1)
            cells.push_back(shown.substr(at, bar - at));
        if (cells.size() < 3) return -1;
        const int rows = static_cast<int>(std::count(shown.begin(), shown.end(), '|') / 3);
        // The highlighted person is one of those with the first row's names (found untimed).
        std::vector<std::int64_t> candidates;
        sqlite3_bind_text(named, 1, cells[1].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(named, 2, cells[0].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(named, 3, cells[2].c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(named) == SQLITE_ROW) candidates.push_back(sqlite3_column_int64(named, 0));
        sqlite3_reset(named);
        for (std::int64_t rowid : candidates) {
            double took = 0;
            if (pageFrom(cells, rowid, rows, took) == shown) {
                found = rowid;
                return took;
            }
        }
        return -1;
    }
    // The same page on a new connection, its page cache empty as a program's is when it starts
    // (the program is started anew for each round); the operating system's cache is warm for both.
    double timeFresh(const std::string& shown) {
        disconnect();
        connect();
        std::vector<std::string> cells;
        for (std::size_t at = 0, bar; cells.size() < 3 && (bar = shown.find('|', at)) != std::string::npos;
             at = bar + 1)
            cells.push_back(shown.substr(at, bar - at));
        const int rows = static_cast<int>(std::count(shown.begin(), shown.end(), '|') / 3);
        double took = 0;
        return found >= 0 && cells.size() == 3 && pageFrom(cells, found, rows, took) == shown ? took : -1;
    }
};

// Every cell a list shows, and its first header.
std::string page(QMdiSubWindow* sub, int n) {
    return win::onGui([&] {
        QList<win::ListBox*> lists = sub->findChildren<win::ListBox*>();
        std::sort(lists.begin(), lists.end(), [](win::ListBox* a, win::ListBox* b) {
            return a->mapToGlobal(QPoint()).y() < b->mapToGlobal(QPoint()).y();
        });
        win::ListBox* list = lists.value(n);
        if (!list) return std::string();
        std::string out;
        for (int r = 1; r <= list->rowCount(); ++r)
            for (int c = 1; c <= 3; ++c) out += list->cellText(r, c).toStdString() + "|";
        return out;
    });
}

std::string header(QMdiSubWindow* sub, int col) {
    return win::onGui([&] { return sub->findChild<win::ListBox*>()->headerText(col).toStdString(); });
}

const char* const Steps[] = {"People: open",       "People: page down",      "People: click City",
                             "Parent/child: open", "Parent/child: customer", "People: City locator W"};
std::map<std::pair<std::string, int>, std::vector<double>> times;
std::map<int, std::string> cityPage; // what the list shows after the City click, at each size

// The seconds from `act` until list `n` of the window shows another page (and `also` holds).
double changed(
    const char* what, QMdiSubWindow* sub, int n, const std::function<void()>& act,
    const std::function<bool()>& also = [] { return true; }) {
    const std::string before = page(sub, n);
    return timed(what, act, [&] { return page(sub, n) != before && also(); });
}

void runRound(const fs::path& dir, int size) {
    fs::current_path(dir);
    fs::remove(dir / "sorvdemo.INI"); // every round opens the windows as designed
    runProgram([&] {
        QMdiSubWindow* people = nullptr;
        times[{Steps[0], size}].push_back(timed(
            Steps[0], [] { choose("Browse the People file"); },
            [&] {
                people = childWindow("Browse the People File");
                return people && !page(people, 0).empty();
            }));
        times[{Steps[1], size}].push_back(changed(Steps[1], people, 0, [&] {
            auto* list = people->findChild<win::ListBox*>();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(list, &key);
        }));
        times[{Steps[2], size}].push_back(changed(
            Steps[2], people, 0,
            [&] {
                auto* list = people->findChild<win::ListBox*>();
                click(list->viewport(), list->headerRect(2).center());
            },
            [&] { return header(people, 2) == ">City"; }));
        cityPage[size] = page(people, 0);
        // The City column's filter locator: "W" typed keeps the people of the cities starting with it.
        times[{Steps[5], size}].push_back(changed(
            Steps[5], people, 0,
            [&] {
                QKeyEvent key(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, "W");
                QApplication::sendEvent(people->findChild<win::ListBox*>(), &key);
            },
            [&] {
                return win::onGui([&] {
                    auto* list = people->findChild<win::ListBox*>();
                    bool all = list->rowCount() > 0;
                    for (int r = 1; r <= list->rowCount(); ++r)
                        all = all && list->cellText(r, 2).toUpper().startsWith('W');
                    return all;
                });
            }));
        win::onGui([&] { people->close(); });
        waitFor("close", [] { return childWindow("Browse the People File") == nullptr; });

        QMdiSubWindow* pc = nullptr;
        times[{Steps[3], size}].push_back(timed(
            Steps[3], [] { choose("Browse Parent Child"); },
            [&] {
                pc = childWindow("Browse the Parent & Child Files");
                return pc && !page(pc, 0).empty() && !page(pc, 1).empty();
            }));
        times[{Steps[4], size}].push_back(changed(Steps[4], pc, 1, [&] {
            QList<win::ListBox*> lists = pc->findChildren<win::ListBox*>();
            win::ListBox* upper = *std::min_element(lists.begin(), lists.end(), [](auto* a, auto* b) {
                return a->mapToGlobal(QPoint()).y() < b->mapToGlobal(QPoint()).y();
            });
            click(upper->viewport(), upper->cellRect(2, 1).center());
        }));
        win::onGui([&] { pc->close(); });
        waitFor("close", [] { return childWindow("Browse the Parent & Child Files") == nullptr; });
    });
}

} // namespace

int main() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::registerAppResources();
    const fs::path home = fs::current_path();
    // PEOPLEBROWSE_DATA=dir keeps the tables there and uses them again in later runs.
    const char* kept = std::getenv("PEOPLEBROWSE_DATA");
    std::string tmpl = (fs::temp_directory_path() / "peoplebrowse-XXXXXX").string();
    const fs::path root = kept ? fs::path(kept) : fs::path(::mkdtemp(tmpl.data()));
    std::map<int, fs::path> dirs;
    for (int size : {Small, Large}) {
        dirs[size] = root / std::to_string(size);
        if (kept && fs::exists(dirs[size] / "done")) continue;
        std::fprintf(stderr, "making %d people of %d customers...\n", size, size / PerCustomer);
        fs::remove_all(dirs[size]);
        fs::create_directories(dirs[size]);
        for (const char* text : {"SorvDemo.TXT", "SorveQts.TXT"})
            std::ofstream(dirs[size] / text) << "Notes.\n";
        writeTables(dirs[size], size);
        std::ofstream(dirs[size] / "done") << "made\n";
    }
    std::map<int, std::unique_ptr<CityReference>> sqlite;
    for (int size : {Small, Large}) sqlite[size] = std::make_unique<CityReference>(dirs[size]);
    std::map<int, std::vector<double>> reference, fresh;
    for (int round = 0; round < Rounds; ++round)
        for (int size : {Small, Large}) {
            runRound(dirs[size], size);
            const double took = sqlite[size]->time(cityPage[size]);
            if (took < 0) {
                std::fprintf(stderr,
                             "%d people: SQLite has not the rows the list shows after the City click:\n%s\n",
                             size, cityPage[size].c_str());
                return 1;
            }
            reference[size].push_back(took);
            fresh[size].push_back(sqlite[size]->timeFresh(cityPage[size]));
        }
    sqlite.clear();
    fs::current_path(home);
    std::printf(
        "People and parent/child browses, %d people against %d (median of %d rounds; 1.0 = as fast):\n",
        Large, Small, Rounds);
    for (const char* what : Steps) {
        const double s = median(times[{what, Small}]), l = median(times[{what, Large}]);
        std::printf("  %-24s %9.2f ms vs %7.2f ms  ratio %8.2f\n", what, l * 1e3, s * 1e3, s > 0 ? l / s : 0);
    }
    const double rs = median(reference[Small]), rl = median(reference[Large]);
    const double s = median(times[{Steps[2], Small}]), l = median(times[{Steps[2], Large}]);
    std::printf("  %-24s %9.2f ms vs %7.2f ms  ratio %8.2f | ours / SQLite: %.1f at %d, %.1f at %d\n",
                "SQLite: City page", rl * 1e3, rs * 1e3, rs > 0 ? rl / rs : 0, rs > 0 ? s / rs : 0, Small,
                rl > 0 ? l / rl : 0, Large);
    const double fs0 = median(fresh[Small]), fl = median(fresh[Large]);
    std::printf("  %-24s %9.2f ms vs %7.2f ms  ratio %8.2f | ours / SQLite: %.1f at %d, %.1f at %d\n",
                "SQLite new connection", fl * 1e3, fs0 * 1e3, fs0 > 0 ? fl / fs0 : 0, fs0 > 0 ? s / fs0 : 0,
                Small, fl > 0 ? l / fl : 0, Large);
    if (!kept) fs::remove_all(root);
    return 0;
}
