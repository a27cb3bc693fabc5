// Header sorting in the real Customer browse under the offscreen desktop, at 1,000 and at
// 1,000,000 customers: a click on "City" from the release to the first sorted page shown, a
// second click (descending), and a tab change (to "Company", the list back in a key's order).
// Sorting on a column that has a key should cost about what paging does at any size; the ratios
// printed are the million-customer time over the thousand-customer time, for the browse and for
// SQLite answering the same first page (WAL, prepared statement, an index on every key) in the
// same process. Sizes are interleaved and each figure is the median of three rounds.
#include "app/browsecustomer.h"
#include "app/demodata.h"
#include "app/dictionary.h"
#include "app/frametables.h"
#include "bench/program_bench.h"
#include "data/files.h"
#include "windowing/listbox.h"

#include "bench/sqlite_bench.h"
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sorv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using sqlitebench::check;

constexpr int Small = 1'000, Rounds = 3;
// CUSTOMERSORT_LARGE=n measures against n customers instead (a quick run).
const int Large =
    std::getenv("CUSTOMERSORT_LARGE") ? std::atoi(std::getenv("CUSTOMERSORT_LARGE")) : 1'000'000;

struct Customer {
    int sysId;
    std::string company, city, postal, country;
};

// The same made-up customers for the native table and for SQLite.
std::vector<Customer> customers(int n) {
    app::DemoGenerator gen(7);
    FileDecl f = app::makeCustomerFile();
    std::vector<Customer> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) {
        f.record.clear();
        gen.customer(f.record);
        auto text = [&](const char* field) { return std::string(clipRight(f.record.get(field).toText())); };
        out.push_back(
            {i, text("CUST:Company"), text("CUST:City"), text("CUST:PostalZipCode"), text("CUST:Country")});
    }
    return out;
}

void writeTable(const fs::path& dir, const std::vector<Customer>& rows) {
    FileDecl f = app::makeCustomerFile();
    f.name = (dir / "CUSTOMER").string();
    create(f);
    share(f);
    for (std::size_t i = 0; i < rows.size();) {
        logout(0, {&f});
        for (int n = 0; n < 10'000 && i < rows.size(); ++n, ++i) {
            const Customer& c = rows[i];
            f.record.clear();
            f.record.set("CUST:SysId", Value(c.sysId));
            f.record.set("CUST:Company", Value(c.company));
            f.record.set("CUST:City", Value(c.city));
            f.record.set("CUST:PostalZipCode", Value(c.postal));
            f.record.set("CUST:Country", Value(c.country));
            add(f);
        }
        commit();
    }
    close(f);
}

// SQLite with the same rows and an index per key of the Customer file (text keys without case).
struct Reference {
    sqlite3* db = nullptr;
    sqlite3_stmt* page[3] = {};
    Reference(const fs::path& dir, const std::vector<Customer>& rows) {
        check(db, sqlite3_open((dir / "customer.db").string().c_str(), &db), "open");
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db,
                     "CREATE TABLE customer (sysid INTEGER PRIMARY KEY, company TEXT COLLATE NOCASE, "
                     "city TEXT COLLATE NOCASE, postal TEXT COLLATE NOCASE, country TEXT COLLATE NOCASE)",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* ins = nullptr;
        check(db, sqlite3_prepare_v2(db, "INSERT INTO customer VALUES (?,?,?,?,?)", -1, &ins, nullptr),
              "insert");
        for (const Customer& c : rows) {
            sqlite3_bind_int(ins, 1, c.sysId);
            sqlite3_bind_text(ins, 2, c.company.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 3, c.city.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 4, c.postal.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 5, c.country.c_str(), -1, SQLITE_STATIC);
            check(db, sqlite3_step(ins), "insert");
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        for (const char* col : {"company", "city", "postal", "country"})
            sqlite3_exec(db, ("CREATE INDEX k_" + std::string(col) + " ON customer (" + col + ")").c_str(),
                         nullptr, nullptr, nullptr);
        const char* sql[3] = {
            "SELECT company, city, country, postal FROM customer ORDER BY city, company, country, sysid "
            "LIMIT ?",
            "SELECT company, city, country, postal FROM customer ORDER BY city DESC, company DESC, country "
            "DESC, "
            "sysid DESC LIMIT ?",
            "SELECT company, city, country, postal FROM customer ORDER BY company, sysid LIMIT ?"};
        for (int i = 0; i < 3; ++i)
            check(db, sqlite3_prepare_v2(db, sql[i], -1, &page[i], nullptr), "prepare");
    }
    ~Reference() {
        for (sqlite3_stmt* s : page) sqlite3_finalize(s);
        sqlite3_close(db);
    }
    double firstPage(int which, int rows) {
        auto t0 = Clock::now();
        sqlite3_stmt* s = page[which];
        sqlite3_bind_int(s, 1, rows);
        while (sqlite3_step(s) == SQLITE_ROW) {
        }
        sqlite3_reset(s);
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
};

// ---- the program, driven as a user drives it ----

using namespace programbench;

QMdiSubWindow* customerWindow() {
    return childWindow("Customers - Multiple Formats one per TAB");
}

struct Seen {
    std::string header, page; // City's header, and every shown cell of the page
};

Seen seen(QMdiSubWindow* sub) {
    return win::onGui([&] {
        auto* list = sub->findChild<win::ListBox*>();
        Seen s{list->headerText(2).toStdString(), {}};
        for (int r = 1; r <= list->rowCount(); ++r)
            for (int c = 1; c <= 4; ++c) s.page += list->cellText(r, c).toStdString() + "|";
        return s;
    });
}

// The seconds from `act` until the list shows another page under the City header given.
double timedStep(const char* what, QMdiSubWindow* sub, const std::function<void()>& act, const char* header) {
    const Seen before = seen(sub);
    return timed(what, act, [&] {
        const Seen now = seen(sub);
        return now.header == header && now.page != before.page;
    });
}

void clickCity(QMdiSubWindow* sub) {
    auto* list = sub->findChild<win::ListBox*>();
    click(list->viewport(), list->headerRect(2).center());
}

void clickTab(QMdiSubWindow* sub, int tab) {
    QTabBar* bar = sub->findChild<QTabWidget*>()->tabBar();
    click(bar, bar->tabRect(tab - 1).center());
}

std::map<std::pair<std::string, int>, std::vector<double>> times;

// One run of the program over the table in `dir`: opens the browse and times one round.
void runRound(const fs::path& dir, int size) {
    fs::current_path(dir);
    // Every round starts as the first did: on the first tab, in key order.
    fs::remove(dir / "sorvdemo.INI");
    runProgram([&] {
        QMdiSubWindow* sub = nullptr;
        choose("Browse the Customer file");
        waitFor("open", [&] { return (sub = customerWindow()) != nullptr; });
        waitFor("first page", [&] { return !seen(sub).page.empty(); });
        times[{"click City", size}].push_back(timedStep(
            "click City", sub, [&] { clickCity(sub); }, ">City"));
        times[{"second click", size}].push_back(timedStep(
            "second click", sub, [&] { clickCity(sub); }, "<City"));
        times[{"tab change", size}].push_back(timedStep(
            "tab change", sub, [&] { clickTab(sub, 2); }, "City"));
        win::onGui([&] { sub->close(); });
        waitFor("close", [] { return customerWindow() == nullptr; });
    });
}

} // namespace

int main() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::registerAppResources();
    const fs::path home = fs::current_path();
    std::string tmpl = (fs::temp_directory_path() / "customersort-XXXXXX").string();
    const fs::path root = ::mkdtemp(tmpl.data());
    std::map<int, fs::path> dirs;
    std::map<int, std::unique_ptr<Reference>> sqlite;
    for (int size : {Small, Large}) {
        std::fprintf(stderr, "making %d customers...\n", size);
        dirs[size] = root / std::to_string(size);
        fs::create_directories(dirs[size]);
        // The notes open at every start and want their text.
        for (const char* text : {"SorvDemo.TXT", "SorveQts.TXT"})
            std::ofstream(dirs[size] / text) << "Notes.\n";
        std::vector<Customer> rows = customers(size);
        writeTable(dirs[size], rows);
        sqlite[size] = std::make_unique<Reference>(dirs[size], rows);
    }
    std::map<std::pair<std::string, int>, std::vector<double>> reference;
    for (int round = 0; round < Rounds; ++round)
        for (int size : {Small, Large}) {
            runRound(dirs[size], size);
            const char* names[3] = {"click City", "second click", "tab change"};
            for (int q = 0; q < 3; ++q) reference[{names[q], size}].push_back(sqlite[size]->firstPage(q, 15));
        }
    fs::current_path(home);
    std::printf("Customer browse, %d customers against %d (median of %d rounds; 1.0 = as fast):\n", Large,
                Small, Rounds);
    for (const char* what : {"click City", "second click", "tab change"}) {
        const double s = median(times[{what, Small}]), l = median(times[{what, Large}]);
        const double rs = median(reference[{what, Small}]), rl = median(reference[{what, Large}]);
        std::printf(
            "  %-13s browse %9.2f ms vs %7.2f ms  ratio %8.1f | SQLite %8.3f ms vs %6.3f ms  ratio %7.1f\n",
            what, l * 1e3, s * 1e3, s > 0 ? l / s : 0, rl * 1e3, rs * 1e3, rs > 0 ? rl / rs : 0);
    }
    sqlite.clear();
    fs::remove_all(root);
    return 0;
}
