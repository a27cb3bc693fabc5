// The file-loaded list over many people in the real program under the offscreen desktop: the
// window opened from the menu until every person is in the list, and a click on "Last Name" until
// the list shows them sorted by it. Against, in the same process: SQLite (WAL, prepared
// statement, an index on the people's customer number) reading the same rows with their
// customers into a vector, and std::stable_sort of that vector by last name. Each figure is the
// median of three interleaved rounds; the peak memory of each side is measured from the process's
// peak resident size, reset before each measurement, per entry.
// MEMLIST_PEOPLE=n measures n people instead of 1,000,000 (a quick run, as CI does).
#include "app/demodata.h"
#include "app/dictionary.h"
#include "app/program.h"
#include "data/files.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"
#include "windowing/threads.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sorv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Rounds = 3;
const int People = std::getenv("MEMLIST_PEOPLE") ? std::atoi(std::getenv("MEMLIST_PEOPLE")) : 1'000'000;
const int Customers = std::max(10, People / 100);

// ---- memory ----

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return 0;
}

// Starts a measurement of the peak: the process's peak resident size is set to what it holds now.
long peakStart() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKb("VmRSS:");
}
long peakSince(long start) {
    return statusKb("VmHWM:") - start;
}

// ---- the rows ----

struct Entry {
    std::string lastName, phone;
    int dob = 0;
    std::string company, city, country;
    int sysId = 0;
    std::string yearHired;
    long salary = 0;
    int male = 0;
    std::string postal;
};

std::string text(Record& r, const char* field) {
    return std::string(clipRight(r.get(field).toText()));
}

// The native tables and the SQLite database with the same customers and people.
void makeData(const fs::path& dir, sqlite3* db) {
    app::DemoGenerator gen(11);
    FileDecl c = app::makeCustomerFile(), p = app::makePeopleFile();
    c.name = (dir / "CUSTOMER").string();
    p.name = (dir / "PEOPLE").string();
    create(c);
    create(p);
    share(c);
    share(p);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(
        db,
        "CREATE TABLE customer (sysid INTEGER PRIMARY KEY, company TEXT, city TEXT, country TEXT, "
        "postal TEXT);"
        "CREATE TABLE people (sysid INTEGER, lastname TEXT, phone TEXT, dob INTEGER, yearhired TEXT, "
        "salary INTEGER, male INTEGER)",
        nullptr, nullptr, nullptr);
    sqlite3_stmt *insC = nullptr, *insP = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO customer VALUES (?,?,?,?,?)", -1, &insC, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?,?,?,?,?,?,?)", -1, &insP, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 1; i <= Customers; ++i) {
        if (i % 10'000 == 1) logout(0, {&c});
        c.record.clear();
        gen.customer(c.record);
        c.record.set("CUST:SysId", Value(i));
        add(c);
        sqlite3_bind_int(insC, 1, i);
        const std::string fields[] = {text(c.record, "CUST:Company"), text(c.record, "CUST:City"),
                                      text(c.record, "CUST:Country"), text(c.record, "CUST:PostalZipCode")};
        for (int f = 0; f < 4; ++f) sqlite3_bind_text(insC, f + 2, fields[f].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insC);
        sqlite3_reset(insC);
        if (i % 10'000 == 0 || i == Customers) commit();
    }
    for (int i = 1; i <= People; ++i) {
        if (i % 10'000 == 1) logout(0, {&p});
        const int customer = 1 + static_cast<int>(gen.below(static_cast<std::uint32_t>(Customers)));
        p.record.clear();
        gen.person(p.record, customer);
        add(p);
        sqlite3_bind_int(insP, 1, customer);
        for (int f : {2, 3, 5}) {
            const char* name = f == 2 ? "PPL:LastName" : f == 3 ? "PPL:Phone" : "PPL:YearHired";
            const std::string v = text(p.record, name);
            sqlite3_bind_text(insP, f, v.c_str(), -1, SQLITE_TRANSIENT);
        }
        sqlite3_bind_int(insP, 4, static_cast<int>(p.record.get("PPL:DoB").toLong()));
        sqlite3_bind_int64(insP, 6, p.record.get("PPL:Salary").toLong());
        sqlite3_bind_int(insP, 7, static_cast<int>(p.record.get("PPL:Male").toLong()));
        sqlite3_step(insP);
        sqlite3_reset(insP);
        if (i % 10'000 == 0 || i == People) commit();
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE INDEX people_sysid ON people (sysid)", nullptr, nullptr, nullptr);
    sqlite3_finalize(insC);
    sqlite3_finalize(insP);
    close(c);
    close(p);
}

// SQLite: every person with the customer, in customer order (ties in the order they were
// added, as the native key keeps them), read into a vector.
std::vector<Entry> readAll(sqlite3_stmt* s) {
    std::vector<Entry> out;
    auto str = [&](int col) {
        const unsigned char* t = sqlite3_column_text(s, col);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    while (sqlite3_step(s) == SQLITE_ROW) {
        Entry e;
        e.lastName = str(0);
        e.phone = str(1);
        e.dob = sqlite3_column_int(s, 2);
        e.company = str(3);
        e.city = str(4);
        e.country = str(5);
        e.sysId = sqlite3_column_int(s, 6);
        e.yearHired = str(7);
        e.salary = static_cast<long>(sqlite3_column_int64(s, 8));
        e.male = sqlite3_column_int(s, 9);
        e.postal = str(10);
        out.push_back(std::move(e));
    }
    sqlite3_reset(s);
    return out;
}

// ---- the program, driven as a user drives it ----

QMainWindow* frame() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMainWindow*>(w)) return m;
    return nullptr;
}

QMdiSubWindow* listWindow() {
    return win::onGui([]() -> QMdiSubWindow* {
        QMainWindow* f = frame();
        auto* area = f ? qobject_cast<QMdiArea*>(f->centralWidget()) : nullptr;
        if (!area) return nullptr;
        for (QMdiSubWindow* s : area->subWindowList())
            if (s->windowTitle() == "File/View Loaded List") return s;
        return nullptr;
    });
}

struct Seen {
    int rows = 0;
    std::string header, first;
};

Seen seen(QMdiSubWindow* sub) {
    return win::onGui([&] {
        Seen s;
        auto* list = sub ? sub->findChild<win::ListBox*>() : nullptr;
        if (!list) return s;
        s.rows = list->rowCount();
        s.header = list->headerText(1).toStdString();
        s.first = list->cellText(1, 1).toStdString();
        return s;
    });
}

template <class Done> double waitFor(Clock::time_point t0, const char* what, Done done) {
    for (;;) {
        if (done()) break;
        if (Clock::now() - t0 > std::chrono::seconds(600)) {
            std::fprintf(stderr, "%s: not seen in 600 s\n", what);
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Measured {
    double fill = 0, sort = 0;
    long fillKb = 0, totalKb = 0;
};

Measured runProgram(const fs::path& dir) {
    fs::current_path(dir);
    fs::remove(dir / "sorvdemo.INI"); // every round opens the list unsorted
    Measured m;
    std::thread driver([&] {
        for (int i = 0; i < 6000 && !frame(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long start = peakStart();
        auto t0 = Clock::now();
        win::onGui([] {
            for (QAction* a : frame()->findChildren<QAction*>())
                if (a->text() == "File-Loaded List") return a->trigger();
        });
        QMdiSubWindow* sub = nullptr;
        m.fill =
            waitFor(t0, "the filled list", [&] { return (sub = listWindow()) && seen(sub).rows == People; });
        m.fillKb = peakSince(start);
        const Seen before = seen(sub);
        t0 = Clock::now();
        win::onGui([&] {
            auto* list = sub->findChild<win::ListBox*>();
            const QPoint at = list->headerRect(1).center();
            for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent e(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
                QApplication::sendEvent(list->viewport(), &e);
            }
        });
        m.sort = waitFor(t0, "the sorted list", [&] {
            const Seen s = seen(sub);
            return s.header == ">Last Name" && s.first != before.first;
        });
        m.totalKb = peakSince(start);
        win::onGui([&] { sub->close(); });
        while (listWindow()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        win::onGui([] {
            for (QAction* a : frame()->findChildren<QAction*>())
                if (a->text() == "E&xit") return a->trigger();
        });
    });
    test::runWithDesktop(app::programEntry);
    driver.join();
    return m;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::registerAppResources();
    const fs::path home = fs::current_path();
    std::string tmpl = (fs::temp_directory_path() / "memorylists-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    for (const char* t : {"SorvDemo.TXT", "SorveQts.TXT"}) std::ofstream(dir / t) << "Notes.\n";
    sqlite3* db = nullptr;
    sqlite3_open((dir / "people.db").string().c_str(), &db);
    std::fprintf(stderr, "making %d people of %d customers...\n", People, Customers);
    makeData(dir, db);
    sqlite3_stmt* all = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT p.lastname, p.phone, p.dob, c.company, c.city, c.country, c.sysid, p.yearhired, "
        "p.salary, p.male, c.postal FROM people p LEFT JOIN customer c ON c.sysid = p.sysid "
        "ORDER BY p.sysid, p.rowid",
        -1, &all, nullptr);

    std::vector<double> fill, sort, refFill, refSort;
    long fillKb = 0, totalKb = 0, refFillKb = 0, refTotalKb = 0;
    for (int round = 0; round < Rounds; ++round) {
        const Measured m = runProgram(dir);
        fill.push_back(m.fill);
        sort.push_back(m.sort);
        fillKb = std::max(fillKb, m.fillKb);
        totalKb = std::max(totalKb, m.totalKb);

        const long start = peakStart();
        auto t0 = Clock::now();
        std::vector<Entry> rows = readAll(all);
        refFill.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        refFillKb = std::max(refFillKb, peakSince(start));
        if (rows.size() != std::size_t(People)) std::fprintf(stderr, "SQLite read %zu rows\n", rows.size());
        t0 = Clock::now();
        std::stable_sort(rows.begin(), rows.end(),
                         [](const Entry& a, const Entry& b) { return a.lastName < b.lastName; });
        refSort.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        refTotalKb = std::max(refTotalKb, peakSince(start));
    }
    fs::current_path(home);
    sqlite3_finalize(all);
    sqlite3_close(db);
    fs::remove_all(dir);

    const double perEntry = 1024.0 / People;
    std::printf("File-loaded list, %d people of %d customers (median of %d rounds):\n", People, Customers,
                Rounds);
    std::printf("  open to every row shown  %9.1f ms | SQLite join into a vector %9.1f ms | ratio %5.2f\n",
                median(fill) * 1e3, median(refFill) * 1e3, median(fill) / median(refFill));
    std::printf("  Last Name click to shown %9.1f ms | std::stable_sort          %9.1f ms | ratio %5.2f\n",
                median(sort) * 1e3, median(refSort) * 1e3, median(sort) / median(refSort));
    std::printf(
        "  peak memory per entry: list filled %6.0f B, filled and sorted %6.0f B | SQLite vector %6.0f B, "
        "sorted %6.0f B\n",
        fillKb * perEntry, totalKb * perEntry, refFillKb * perEntry, refTotalKb * perEntry);
    return 0;
}
