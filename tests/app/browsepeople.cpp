// The People browse and the parent/child browse in the real program on the offscreen desktop,
// driven by real clicks, key presses and buttons and read back as a screen reader reads the lists;
// what they should show is read from the tables the test made.
#include "app/browsepeople.h"
#include "app/browseparentchild.h"
#include "app/demodata.h"
#include "app/dictionary.h"
#include "app/peoplelists.h"
#include "browse_ext/sorvex.h"
#include "data/files.h"
#include "runtime/datetime.h"
#include "runtime/inifile.h"
#include "tests/app/list_rig.h"
#include "tests/windowing/shell_log.h"
#include "windowing/printer.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <map>
#include <regex>
#include <set>

namespace {

using namespace programtest;

constexpr int Customers = 6, People = 10; // every row of a list on screen at once
constexpr const char* PeopleCaption = "Browse the People File";
constexpr const char* ParentChildCaption = "Browse the Parent & Child Files";
const std::vector<std::string> PeopleHeaders{"Last Name", "City",      "First Name", "Gender", "Telephone",
                                             "Country",   "Birthdate", "Year Hired", "Salary"};

// A person as the tables hold it.
struct Person {
    int customer;
    std::string last, first, city;
    bool male;
    int birthMonth;
};

std::string text(FileDecl& f, const char* field) {
    return std::string(clipRight(f.record.get(field).toText()));
}

// Whether the rows run by the columns given, text case ignored, each ascending or not.
bool ordered(const Shown& s, const std::vector<std::pair<std::string, bool>>& by) {
    std::vector<std::pair<int, bool>> cols;
    for (const auto& [h, ascending] : by) cols.push_back({column(s, h), ascending});
    return std::is_sorted(s.rows.begin(), s.rows.end(), [&](const auto& a, const auto& b) {
        for (const auto& [c, ascending] : cols) {
            const std::string x = upper(a[c]), y = upper(b[c]);
            if (x != y) return ascending ? x < y : x > y;
        }
        return false;
    });
}

// Whether every value of list column `col` fits the column's width on screen.
bool fits(QMdiSubWindow* sub, int col, int n = 0) {
    return win::onGui([&] {
        ListBox* list = listOf(sub, n);
        for (int r = 1; r <= list->rowCount(); ++r)
            if (list->fontMetrics().horizontalAdvance(list->cellText(r, col).trimmed()) >=
                list->cellRect(r, col).width())
                return false;
        return list->rowCount() > 0;
    });
}

class PeopleBrowseTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeDemo(Customers, People);
        // What the tables hold, read as files.
        std::map<int, std::string> cities;
        FileDecl c = makeCustomerFile();
        c.name = (dir_ / "CUSTOMER").string();
        open(c);
        for (setKey(c, KeySysId), next(c); !errorCode(); next(c))
            cities[static_cast<int>(c.record.get("CUST:SysId").toLong())] = text(c, "CUST:City");
        close(c);
        FileDecl p = makePeopleFile();
        p.name = (dir_ / "PEOPLE").string();
        open(p);
        for (setKey(p, SysIdKey), next(p); !errorCode(); next(p)) {
            const int id = static_cast<int>(p.record.get("PPL:SysId").toLong());
            people.push_back({id, text(p, "PPL:LastName"), text(p, "PPL:FirstName"), cities[id],
                              p.record.get("PPL:Male").toLong() != 0,
                              civilOf(p.record.get("PPL:DoB").toLong()).month});
        }
        close(p);
        ASSERT_EQ(people.size(), std::size_t(People));
    }
    // The people of one customer, as "Last First", in the order of the People key.
    std::vector<std::string> peopleOf(int customer) {
        std::vector<std::string> out;
        for (const Person& p : people)
            if (p.customer == customer) out.push_back(p.last + " " + p.first);
        return out;
    }
    static std::vector<std::string> names(const Shown& s) {
        std::vector<std::string> out;
        for (const auto& r : s.rows)
            out.push_back(r[column(s, "Last Name")] + " " + r[column(s, "First Name")]);
        return out;
    }
    std::vector<Person> people;
};

TEST_F(PeopleBrowseTest, TabsFollowTheSortedColumnGenderSortsBothWaysAndSalariesShowWhole) {
    QAccessible::setActive(true);
    // Three salaries at the top of a band and three at the foot of the next; the people in each
    // band, counted from the file.
    int below = 0, from = 0;
    {
        FileDecl p = makePeopleFile();
        p.name = (dir_ / "PEOPLE").string();
        open(p);
        int n = 0;
        for (set(p), next(p); !errorCode(); next(p), ++n) {
            if (n < 6) {
                p.record.set("PPL:Salary", Value(n < 3 ? 11999 : 12000));
                put(p);
                ASSERT_EQ(errorCode(), 0);
            }
            const std::int64_t salary = p.record.get("PPL:Salary").toLong();
            below += salary >= 10000 && salary <= 11999;
            from += salary >= 12000 && salary <= 13999;
        }
        close(p);
    }
    runProgram([&] {
        QMdiSubWindow* sub = openFromMenu(menu::BrowsePeople, PeopleCaption);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.rows.size() == std::size_t(People); }));
        Shown s = shown(sub);
        EXPECT_EQ(s.headers, PeopleHeaders);
        EXPECT_EQ(s.tab, 1);
        // Each row with its customer's city.
        for (const auto& row : s.rows) {
            const auto p = std::find_if(people.begin(), people.end(), [&](const Person& p) {
                return p.last == row[0] && p.first == row[2];
            });
            ASSERT_NE(p, people.end()) << row[0];
            EXPECT_EQ(row[1], p->city) << row[0];
        }
        EXPECT_EQ(win::onGui([&] { return sub->findChild<QTabWidget*>()->tabToolTip(1).toStdString(); }),
                  "Active TAB for LastName Only");

        // The tab named for the sorted column comes forward.
        struct Click {
            int column;
            const char* header;
            int tab;
        } clicks[] = {{1, ">Last Name", 2}, {7, ">Birthdate", 3}, {2, ">City", 1}, {1, ">Last Name", 2}};
        for (const Click& c : clicks) {
            clickHeader(sub, c.column);
            // After the click on City, the customers' cities and the last names within each (the
            // header and tab may show before the rows are read again).
            EXPECT_TRUE(waitShown(sub, [&](const Shown& s) {
                return s.headers[static_cast<std::size_t>(c.column - 1)] == c.header && s.tab == c.tab &&
                       (c.column != 2 || ordered(s, {{"City", true}, {"Last Name", true}}));
            })) << c.header;
        }
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {{"Last Name", true}, {"First Name", true}});
        }));

        // Gender: females first, then males, and the reverse; by last name within each.
        clickHeader(sub, 4);
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return s.headers[3] == ">Gender" && s.tab == 1 &&
                   ordered(s, {{"Gender", true}, {"Last Name", true}});
        }));
        clickHeader(sub, 4);
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return s.headers[3] == "<Gender" && ordered(s, {{"Gender", false}, {"Last Name", true}});
        }));
        s = shown(sub);
        EXPECT_EQ(s.rows.front()[3], "Male");
        EXPECT_EQ(s.rows.back()[3], "Female");

        // The largest salaries show whole.
        clickHeader(sub, 9);
        clickHeader(sub, 9);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.headers[8] == "<Salary"; }));
        for (const auto& row : shown(sub).rows)
            EXPECT_TRUE(std::regex_match(row[8], std::regex(R"(\d{1,3}(,\d{3})*\.\d{2})"))) << row[8];
        EXPECT_TRUE(fits(sub, 9)) << "the largest salaries show whole on screen";
        EXPECT_TRUE(fits(sub, 4)) << "and so does Female";

        // The graph of the salaries: 11999 in the band below 12000's.
        rightClickCell(sub, 1, 9, "Graph on Salary");
        const std::vector<std::string> texts = graphTexts();
        auto countIn = [](const std::vector<std::string>& drawn, const std::string& category) {
            const auto at = std::find(drawn.begin(), drawn.end(), category);
            return at != drawn.end() && at + 1 != drawn.end() ? std::atoi(at[1].c_str()) : -1;
        };
        EXPECT_EQ(countIn(texts, "10000 - 11999"), below);
        EXPECT_EQ(countIn(texts, "12000 - 13999"), from);
        // The Gender the browse works out for each row it fills counts for every record.
        rightClickCell(sub, 1, 4, "Graph on Gender");
        const std::vector<std::string> genders = graphTexts();
        const int males =
            int(std::count_if(people.begin(), people.end(), [](const Person& p) { return p.male; }));
        EXPECT_EQ(countIn(genders, "Male"), males);
        EXPECT_EQ(countIn(genders, "Female"), People - males);

        // The sheet's style changes and its tab stays.
        auto tabsShown = [&] {
            return win::onGui([&] { return sub->findChild<QTabWidget*>()->tabBar()->isVisible(); });
        };
        auto check = [&](const char* name) {
            win::onGui([&] {
                for (QCheckBox* b : sub->findChildren<QCheckBox*>())
                    if (b->text() == name) b->click();
            });
        };
        clickHeader(sub, 7);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.tab == 3; }));
        check("Wizard Sheet");
        EXPECT_TRUE(waitUntil([&] { return !tabsShown(); }));
        check("Wizard Sheet");
        EXPECT_TRUE(waitUntil([&] { return tabsShown(); }));
        check("No Sheet");
        EXPECT_TRUE(waitUntil(
            [&] { return win::onGui([&] { return sub->findChild<QTabWidget*>()->documentMode(); }); }));
        EXPECT_EQ(shown(sub).tab, 3);
        closeAndExit(sub);
    });
    EXPECT_EQ(getPrivateProfileString((dir_ / "sorvdemo.INI").string(), "BrowsePeople",
                                      "SorvexPrevCol-?Browse:1", ""),
              "7");
}

TEST_F(PeopleBrowseTest, LocatorsOfTheColumnOrders) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = openFromMenu(menu::BrowsePeople, PeopleCaption);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.rows.size() == std::size_t(People); }));
        // City's filter locator: what is typed narrows the list to the cities starting with it.
        clickHeader(sub, 2);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.headers[1] == ">City"; }));
        const std::string city = shown(sub).rows.back()[1];
        const std::string typed = city.substr(0, 2);
        const auto starts = [&](const std::string& c) { return upper(c.substr(0, 2)) == upper(typed); };
        const auto wanted =
            std::count_if(people.begin(), people.end(), [&](const Person& p) { return starts(p.city); });
        typeOnList(sub, typed);
        EXPECT_TRUE(waitShown(sub,
                              [&](const Shown& s) {
                                  return s.rows.size() == std::size_t(wanted) &&
                                         std::all_of(s.rows.begin(), s.rows.end(),
                                                     [&](const auto& r) { return starts(r[1]); });
                              }))
            << typed << " in " << city;
        typeOnList(sub, "\b\b");
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) { return s.rows.size() == std::size_t(People); }));

        // Last Name's incremental locator: the row found, and the text typed shown on "Tab 2".
        clickHeader(sub, 1);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.tab == 2; }));
        const std::string last = shown(sub).rows.back()[0];
        const std::string prefix = last.substr(0, 2);
        typeOnList(sub, prefix);
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                ListBox* list = listOf(sub);
                const int row = list->selected();
                bool shownOnTab = false;
                for (QLabel* l : sub->findChildren<QLabel*>())
                    shownOnTab |= l->text() == QString::fromStdString(prefix);
                return row > 0 && upper(list->cellText(row, 1).toStdString().substr(0, 2)) == upper(prefix) &&
                       shownOnTab;
            });
        })) << prefix;
        closeAndExit(sub);
    });
}

// Change runs the People form on the row; a salary of 150,000 comes back in full.
TEST_F(PeopleBrowseTest, ChangeRunsThePeopleForm) {
    QAccessible::setActive(true);
    sorv::test::BoxAnswers boxes;
    runProgram([&] {
        QMdiSubWindow* sub = openFromMenu(menu::BrowsePeople, PeopleCaption);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.rows.size() == std::size_t(People); }));
        clickCell(sub, 3, 1);
        const std::string who = shown(sub).rows[2][0];
        clickButton(sub, "Change");
        QWidget* form = nullptr;
        ASSERT_TRUE(waitUntil(
            [&] { return (form = win::onGui([] { return findWidget("Changing a People Record"); })); }));
        win::onGui([&] {
            for (QLineEdit* e : form->findChildren<QLineEdit*>())
                if (e->accessibleName() == "Salary:") {
                    e->setText("150000");
                    e->setModified(true);
                    emit e->editingFinished();
                }
            for (QPushButton* b : form->findChildren<QPushButton*>())
                if (b->accessibleName() == "OK") b->click();
        });
        EXPECT_TRUE(waitShown(sub, [&](const Shown& s) {
            return std::any_of(s.rows.begin(), s.rows.end(),
                               [&](const auto& r) { return r[0] == who && r[8] == "150,000.00"; });
        }));
        closeAndExit(sub);
    });
    EXPECT_TRUE(boxes.shown().empty());
}

// The salary's graph categories: bands of 2000 from 10000, one band below it.
TEST(PeopleLists, SalaryBands) {
    const std::pair<std::int64_t, const char*> bands[] = {{0, "0 - 9999"},
                                                          {9999, "0 - 9999"},
                                                          {10000, "10000 - 11999"},
                                                          {11999, "10000 - 11999"},
                                                          {12000, "12000 - 13999"},
                                                          {199999, "198000 - 199999"},
                                                          {200000, "200000 - 201999"}};
    for (const auto& [salary, band] : bands) EXPECT_EQ(sorv::app::salaryBand(salary), band) << salary;
}

TEST_F(PeopleBrowseTest, ParentChildLowerListFollowsTheHighlightedCustomer) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = openFromMenu(menu::BrowseParentChild, ParentChildCaption);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.rows.size() == std::size_t(Customers); }));
        // The texts of the lists' view orders and filters.
        auto showsText = [&](const std::string& t) {
            return waitUntil([&] {
                return win::onGui([&] {
                    for (QLabel* l : sub->findChildren<QLabel*>())
                        if (l->text().toStdString() == t) return true;
                    return false;
                });
            });
        };
        // Customers are numbered in the order they were added: row k is customer k.
        for (int k : {1, 3, 2, 6}) {
            clickCell(sub, k, 1);
            EXPECT_TRUE(waitShown(
                sub, [&](const Shown& s) { return names(s) == peopleOf(k); }, 1))
                << k;
            EXPECT_TRUE(showsText("PPL:SysId = " + std::to_string(k))) << k;
            if (!peopleOf(k).empty())
                EXPECT_TRUE(fits(sub, 3, 1) && fits(sub, 6, 1)) << "telephone and salary";
        }
        EXPECT_TRUE(showsText("CUST:SysId"));
        // Sorted by a header, the list keeps to the customer and follows the next one.
        clickHeader(sub, 1, Qt::LeftButton, 1);
        for (int k : {6, 4}) {
            clickCell(sub, k, 1);
            EXPECT_TRUE(waitShown(
                sub,
                [&](const Shown& s) {
                    std::vector<std::string> want = peopleOf(k);
                    std::vector<std::string> got = names(s);
                    std::sort(want.begin(), want.end());
                    return s.headers[0] == ">Last Name" && got.size() == want.size() &&
                           std::is_permutation(got.begin(), got.end(), want.begin()) &&
                           ordered(s, {{"Last Name", true}, {"First Name", true}});
                },
                1))
                << k;
        }
        // Its step locator finds a last name among the customer's people.
        const Shown sorted = shown(sub, 1);
        if (sorted.rows.size() > 1) {
            const std::string letter = sorted.rows.back()[0].substr(0, 1);
            typeOnList(sub, letter, 1);
            EXPECT_TRUE(waitUntil([&] {
                return win::onGui([&] {
                    ListBox* list = listOf(sub, 1);
                    return list->selected() > 1 &&
                           upper(list->cellText(list->selected(), 1).toStdString().substr(0, 1)) ==
                               upper(letter);
                });
            })) << letter;
        }
        // The graph of the birth dates of the customer with the most people: one bar per month,
        // named without its number.
        int most = 1;
        for (int k = 2; k <= Customers; ++k)
            if (peopleOf(k).size() > peopleOf(most).size()) most = k;
        std::set<int> months;
        for (const Person& p : people)
            if (p.customer == most) months.insert(p.birthMonth);
        clickCell(sub, most, 1);
        ASSERT_TRUE(waitShown(
            sub, [&](const Shown& s) { return s.rows.size() == peopleOf(most).size(); }, 1));
        if (months.size() > 1) {
            rightClickCell(sub, 1, 5, "Graph on Date of Birth", 1);
            const std::vector<std::string> texts = graphTexts();
            for (int m : months) EXPECT_TRUE(has(texts, std::string(monthName(m)))) << monthName(m);
            for (const std::string& t : texts) EXPECT_EQ(t.find(" ="), std::string::npos) << t;
        }
        // In the file's own order too.
        {
            browsetest::MenuAnswer answer("File Sequence");
            clickHeader(sub, 1, Qt::RightButton, 1);
            EXPECT_TRUE(waitShown(
                sub,
                [&](const Shown& s) {
                    std::vector<std::string> want = peopleOf(most), got = names(s);
                    return s.headers[0] == "Last Name" && got.size() == want.size() &&
                           std::is_permutation(got.begin(), got.end(), want.begin());
                },
                1));
        }
        closeAndExit(sub);
    });
    const std::string ini = this->ini();
    for (const char* k : {"SorvexFormatString-?Browse:11", "SorvexFormatString-?Browse:21", "XPos"})
        EXPECT_NE(ini.find(k), std::string::npos) << k;
}

// Every item of every list's column menu, chosen once, with whatever it shows answered: the
// program goes on showing its lists, and the report of the page reaches its file. Each graph's own
// buttons are pressed in turn: Ouput puts its picture on the clipboard, Preferences opens the
// preferences (answered by OK), then OK.
TEST_F(PeopleBrowseTest, EveryColumnMenuItemOfEachList) {
    QAccessible::setActive(true);
    const fs::path pdf = dir_ / "page.pdf";
    std::vector<std::string> boxes, dialogs;
    sorv::test::ShellLog shell;
    runProgram([&] {
        win::setPrinterChoice({"", pdf.string(), 0, win::orientation::None});
        // Whatever the items open is closed again: boxes by their first button, the previewer
        // by printing, any other dialog by Esc.
        std::atomic<bool> answering{true};
        int graphs = 0, copies = 0, preferences = 0;
        auto press = [](QWidget* w, const QString& text) {
            QMetaObject::invokeMethod(
                w,
                [w, text] {
                    for (QPushButton* b : w->findChildren<QPushButton*>())
                        if (b->text() == text) return b->click();
                },
                Qt::QueuedConnection);
        };
        auto preferencesOpen = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->windowTitle() == "Sorvex Preferences") return true;
            return false;
        };
        std::thread closer([&] {
            while (answering) {
                win::onGui([&] {
                    for (QWidget* w : QApplication::topLevelWidgets()) {
                        // A progress window ends by itself.
                        if (!w->isVisible() || w->property("closing").toBool() ||
                            w->windowTitle() == "Progress...")
                            continue;
                        if (w->windowTitle().startsWith("Graph on")) {
                            const int step = w->property("step").toInt(),
                                      waited = w->property("waited").toInt();
                            w->setProperty("waited", waited + 1);
                            if (step == 0) {
                                ++graphs;
                                QApplication::clipboard()->clear();
                                press(w, "&Ouput");
                                w->setProperty("step", 1);
                            } else if (step == 1 && !QApplication::clipboard()->image().isNull()) {
                                ++copies;
                                press(w, "Pre&ferences");
                                w->setProperty("step", 2);
                            } else if ((step == 2 && w->property("preferences").toBool() &&
                                        !preferencesOpen()) ||
                                       waited > 250) {
                                preferences += w->property("preferences").toBool();
                                w->setProperty("closing", true);
                                press(w, "OK");
                            }
                            continue;
                        }
                        // The preferences a graph's button opened.
                        if (w->windowTitle() == "Sorvex Preferences")
                            for (QWidget* g : QApplication::topLevelWidgets())
                                if (g->isVisible() && g->property("step").toInt() == 2)
                                    g->setProperty("preferences", true);
                        if (auto* box = qobject_cast<QMessageBox*>(w)) {
                            w->setProperty("closing", true);
                            boxes.push_back(box->text().toStdString());
                            QMetaObject::invokeMethod(
                                box, [box] { box->buttons().front()->click(); }, Qt::QueuedConnection);
                        } else if (!qobject_cast<QMainWindow*>(w) && !qobject_cast<QMenu*>(w) &&
                                   !w->inherits("QTipLabel") && w->isWindow()) {
                            // A window of the list's (a dialog, a number or colour window, the
                            // previewer): printed, else closed by its own button, else closed.
                            w->setProperty("closing", true);
                            dialogs.push_back(w->windowTitle().toStdString());
                            QMetaObject::invokeMethod(
                                w,
                                [w] {
                                    for (const char* text : {"&Print", "OK", "&OK", "&Close"})
                                        for (QPushButton* b : w->findChildren<QPushButton*>())
                                            if (b->text() == text && b->isEnabled()) return b->click();
                                    if (auto* d = qobject_cast<QDialog*>(w)) return d->reject();
                                    w->close();
                                },
                                Qt::QueuedConnection);
                        }
                    }
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        struct List {
            int menuItem;
            const char* caption;
            int list;
        } lists[] = {{menu::BrowsePeople, PeopleCaption, 0},
                     {menu::BrowseParentChild, ParentChildCaption, 0},
                     {menu::BrowseParentChild, ParentChildCaption, 1}};
        for (const List& l : lists) {
            QMdiSubWindow* sub = openFromMenu(l.menuItem, l.caption);
            // The lower list shows the people of a customer that has some.
            for (int k = 1; k <= Customers && l.list == 1 &&
                            !waitShown(
                                sub, [](const Shown& s) { return !s.rows.empty(); }, 1);
                 ++k)
                clickCell(sub, k, 1);
            ASSERT_TRUE(waitShown(
                sub, [](const Shown& s) { return !s.rows.empty(); }, l.list));
            const std::vector<std::string> menu = rightClickCell(sub, 1, 1, "", l.list);
            ASSERT_FALSE(menu.empty()) << l.caption;
            // The column items, which follow the browse's own (from "Adjust All Widths" on).
            std::vector<std::string> items;
            const auto first = std::find(menu.begin(), menu.end(), "0:Adjust All Widths");
            ASSERT_NE(first, menu.end());
            for (std::size_t i = static_cast<std::size_t>(first - menu.begin()); i < menu.size(); ++i) {
                const std::string& line = menu[i];
                const std::string t = line.substr(line.find(':') + 1);
                const bool submenu = i + 1 < menu.size() && menu[i + 1][0] > line[0];
                if (t != "-" && !submenu && t.find("(off)") == std::string::npos) items.push_back(t);
            }
            for (const std::string& item : items) {
                rightClickCell(sub, 1, 1, item, l.list);
                EXPECT_TRUE(waitShown(
                    sub, [](const Shown& s) { return !s.rows.empty() && !s.headers.empty(); }, l.list))
                    << item << " in " << l.caption;
                // A graph is answered button by button before the next item.
                EXPECT_TRUE(waitUntil([] {
                    return win::onGui([] {
                        for (QWidget* w : QApplication::topLevelWidgets())
                            if (w->isVisible() && w->windowTitle().startsWith("Graph on")) return false;
                        return true;
                    });
                })) << item;
            }
            closeChild(sub, childCount());
        }
        answering = false;
        closer.join();
        choose("E&xit");
        EXPECT_GE(graphs, 1);
        EXPECT_EQ(copies, graphs) << "each graph's picture copied";
        EXPECT_EQ(preferences, graphs) << "each graph's preferences opened";
    });
    for (const std::string& b : boxes) EXPECT_EQ(b.find("rror"), std::string::npos) << b;
    EXPECT_TRUE(fs::exists(pdf)) << "the page printed";
    for (const char* file : {"SvPort.CSV", "SvPort.HTM"}) {
        EXPECT_TRUE(fs::exists(dir_ / file)) << file;
        EXPECT_NE(shell.opened().find(file), std::string::npos) << file << " opened";
    }
}

// A People file large enough that sorting all of it takes a while: one pass gives the first rows
// of a column order at once, going deeper sorts the whole order with a progress window, and the
// user's next action on the list (or "Cancel") stops that and is answered.
class LargePeopleBrowseTest : public ProgramTest {
protected:
    static constexpr int Large = 600000;
    void SetUp() override {
        ProgramTest::SetUp();
        DemoDataOptions options;
        options.customers = 50;
        options.people = 0;
        ASSERT_EQ(writeDemoData(dir_.string(), options), "");
        copyTexts();
        FileDecl p = makePeopleFile();
        p.name = (dir_ / "PEOPLE").string();
        open(p);
        DemoGenerator gen(7);
        for (int i = 0; i < Large;) {
            logout(0, {&p});
            for (int n = 0; n < 50000 && i < Large; ++n, ++i) {
                gen.person(p.record, 1 + static_cast<std::int32_t>(gen.below(50)));
                // Every salary a different one, so that the rows shown tell where they stand.
                p.record.set("PPL:Salary", Value(10000 + (std::int64_t(i) * 7919) % Large));
                add(p);
                ASSERT_EQ(errorCode(), 0);
                salaries.push_back(p.record.get("PPL:Salary").toLong());
            }
            commit();
            ASSERT_EQ(errorCode(), 0);
        }
        close(p);
        std::sort(salaries.begin(), salaries.end());
    }
    // The salaries the list shows, in its order.
    static std::vector<long> shownSalaries(QMdiSubWindow* sub) {
        std::vector<long> out;
        for (const auto& row : shown(sub).rows) {
            std::string digits;
            for (char c : row[8].substr(0, row[8].find('.')))
                if (c != ',') digits += c;
            out.push_back(std::atol(digits.c_str()));
        }
        return out;
    }
    // Where the rows shown stand in the order by salary (-1 when they are not a run of it).
    int offsetOf(const std::vector<long>& rows) {
        if (rows.empty()) return -1;
        auto from = std::lower_bound(salaries.begin(), salaries.end(), rows.front());
        for (auto at = from; at != salaries.end() && *at == rows.front(); ++at)
            if (static_cast<std::size_t>(salaries.end() - at) >= rows.size() &&
                std::equal(rows.begin(), rows.end(), at))
                return static_cast<int>(at - salaries.begin());
        return -1;
    }
    static QWidget* progressWindow() {
        return win::onGui([] {
            QWidget* w = findWidget("Progress...");
            return w && w->isVisible() ? w : nullptr;
        });
    }
    static void press(QMdiSubWindow* sub, Qt::Key k) {
        QKeyEvent key(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(listOf(sub), &key);
    }
    std::vector<long> salaries;
};

TEST_F(LargePeopleBrowseTest, SortingTheWholeOrderShowsProgressAndGivesWayToTheUser) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = openFromMenu(menu::BrowsePeople, "Browse the People File");
        clickHeader(sub, 9);
        ASSERT_TRUE(waitUntil([&] { return shown(sub).headers[8] == ">Salary"; }));
        // The record shown before stays selected in the new order; Home goes to its start.
        ASSERT_TRUE(waitUntil([&] {
            const std::vector<long> rows = shownSalaries(sub);
            return offsetOf(rows) >= 0 && std::is_sorted(rows.begin(), rows.end());
        }));
        win::onGui([&] { press(sub, Qt::Key_Home); });
        ASSERT_TRUE(waitUntil([&] { return offsetOf(shownSalaries(sub)) == 0; }));
        const int page = static_cast<int>(shownSalaries(sub).size());
        // Pages down past the rows the first pass kept, and End, all typed before the program
        // answers the first: the sort the deep pages need stops for the keys that follow, and
        // the list answers the last of them.
        const int presses = 200 / page + 2;
        win::onGui([&] {
            for (int i = 0; i < presses; ++i) press(sub, Qt::Key_PageDown);
            press(sub, Qt::Key_End);
        });
        EXPECT_TRUE(waitUntil([&] { return offsetOf(shownSalaries(sub)) == Large - page; }, 20000));
        EXPECT_FALSE(progressWindow());
        win::onGui([&] { press(sub, Qt::Key_Home); });
        ASSERT_TRUE(waitUntil([&] { return offsetOf(shownSalaries(sub)) == 0; }));
        // Paging down one page at a time: the deep page sorts the whole order again (it was
        // never finished), with the progress window; "Cancel" there leaves the rows shown.
        int at = 0;
        QWidget* progress = nullptr;
        for (int i = 0; i < presses && !progress; ++i) {
            win::onGui([&] { press(sub, Qt::Key_PageDown); });
            EXPECT_TRUE(waitUntil(
                [&] {
                    progress = progressWindow();
                    const int now = offsetOf(shownSalaries(sub));
                    return progress || (now > at && now != -1);
                },
                20000));
            if (!progress) at = offsetOf(shownSalaries(sub));
        }
        ASSERT_TRUE(progress) << "no progress window while the whole order was sorted";
        EXPECT_GT(at, 100);
        win::onGui([&] {
            for (QPushButton* b : progress->findChildren<QPushButton*>())
                if (b->text() == "Cancel") b->click();
        });
        EXPECT_TRUE(waitUntil([&] { return !progressWindow(); }, 20000));
        // (The rows up to the end of the kept ones may have come in before the sort began.)
        const int stopped = offsetOf(shownSalaries(sub));
        EXPECT_TRUE(stopped >= at && stopped < at + page) << stopped << " " << at;
        at = stopped;
        // The same page down again, left to finish: the rows after them.
        win::onGui([&] { press(sub, Qt::Key_PageDown); });
        EXPECT_TRUE(waitUntil([&] { return progressWindow() != nullptr; }, 20000));
        EXPECT_TRUE(waitUntil([&] { return !progressWindow() && offsetOf(shownSalaries(sub)) > at; }, 30000));
        const std::vector<long> deep = shownSalaries(sub);
        const int deepAt = offsetOf(deep);
        EXPECT_GT(deepAt, at);
        EXPECT_TRUE(std::is_sorted(deep.begin(), deep.end()));
        // Now that the whole order is there, further pages need no sorting.
        win::onGui([&] { press(sub, Qt::Key_PageDown); });
        EXPECT_TRUE(waitUntil([&] { return offsetOf(shownSalaries(sub)) > deepAt; }));
        EXPECT_FALSE(progressWindow());
        closeChild(sub, childCount());

        // The same people read whole into the File-Loaded List: the number of entries reads whole.
        sub = openFromMenu(menu::FileLoadedList, "File/View Loaded List");
        auto count = [&] {
            return win::onGui([&] {
                for (QLabel* l : sub->findChildren<QLabel*>())
                    if (l->toolTip() == "Number of records in Queue:") return l->text().trimmed();
                return QString();
            });
        };
        EXPECT_TRUE(waitUntil([&] { return count() != "" && count() != "0"; }, 30000));
        EXPECT_EQ(count().toStdString(), "600,000");
        closeAndExit(sub);
    });
}

} // namespace
