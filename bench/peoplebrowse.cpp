// The People browse and the parent/child browse in the real program under the offscreen desktop,
// over 1,000 people of 100 customers and over 1,000,000 people of 100,000 customers (ten people
// each, every row of the People browse joined to its customer): opening the People browse, a page
// down, a click on the "City" header (a column of the customer), opening the parent/child browse
// and highlighting another customer, whose ten people the lower list then shows. Each step is
// timed from the user's action to the change the window shows; sizes are interleaved and each
// figure is the median of three rounds; the ratios printed are the large time over the small one.
// PEOPLEBROWSE_LARGE=n measures against n people (n / 10 customers) instead, for a quick run;
// PEOPLEBROWSE_DATA=dir keeps the tables made in dir for the next run.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "bench/program_bench.h"
#include "data/files.h"
#include "windowing/listbox.h"

#include <QKeyEvent>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

using namespace programbench;
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

const char* const Steps[] = {"People: open", "People: page down", "People: click City", "Parent/child: open",
                             "Parent/child: customer"};
std::map<std::pair<std::string, int>, std::vector<double>> times;

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
    for (int round = 0; round < Rounds; ++round)
        for (int size : {Small, Large}) runRound(dirs[size], size);
    fs::current_path(home);
    std::printf(
        "People and parent/child browses, %d people against %d (median of %d rounds; 1.0 = as fast):\n",
        Large, Small, Rounds);
    for (const char* what : Steps) {
        const double s = median(times[{what, Small}]), l = median(times[{what, Large}]);
        std::printf("  %-24s %9.2f ms vs %7.2f ms  ratio %8.2f\n", what, l * 1e3, s * 1e3, s > 0 ? l / s : 0);
    }
    if (!kept) fs::remove_all(root);
    return 0;
}
