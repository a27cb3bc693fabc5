// The file-loaded list and the hand-coded list in the real program on the offscreen desktop:
// opened from the menu, sorted by real clicks on every header both ways (every row checked
// against the order the queue was filled in), put back by "Key Sequence", sorted from the column
// menu of a right click on a row, and the hand-coded list made again by typing its number.
#include "app/demodata.h"
#include "runtime/datetime.h"
#include "runtime/inifile.h"
#include "tests/app/list_rig.h"
#include "tests/windowing/shell_log.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace programtest;
using Rows = std::vector<win::ListRow>;

// The entries as the program pushed them to the list (each field's text), first row first.
Rows rawRows(QMdiSubWindow* sub) {
    return win::onGui([&] {
        Rows out;
        ListBox* list = listOf(sub);
        for (int r = 1; list && r <= list->rowCount(); ++r) out.push_back(*list->row(r));
        return out;
    });
}

std::string clipped(const std::string& s) {
    return std::string(s.substr(0, s.find_last_not_of(' ') + 1));
}

// The fill order sorted on one field the way the queue sorts: numbers by value, texts by their
// characters, equal keys in the order they were filled, for either direction.
Rows expectedOrder(Rows rows, int field, bool numeric, bool descending) {
    std::stable_sort(rows.begin(), rows.end(), [&](const win::ListRow& a, const win::ListRow& b) {
        const std::string& x = a[std::size_t(field - 1)];
        const std::string& y = b[std::size_t(field - 1)];
        int c;
        if (numeric) {
            const double dx = std::atof(x.c_str()), dy = std::atof(y.c_str());
            c = dx < dy ? -1 : dx > dy ? 1 : 0;
        } else {
            c = clipped(x).compare(clipped(y));
        }
        return descending ? c > 0 : c < 0;
    });
    return rows;
}

std::string countText(QMdiSubWindow* sub) {
    return win::onGui([&] {
        for (QLabel* l : sub->findChildren<QLabel*>())
            if (l->text().trimmed().toInt() > 0 || l->text().trimmed() == "0")
                return l->text().trimmed().toStdString();
        QLineEdit* e = sub->findChild<QLineEdit*>();
        return e ? e->text().trimmed().toStdString() : std::string();
    });
}

class MemoryListTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeDemo(20, 150);
    }
    QMdiSubWindow* open(int item, const std::string& caption, std::size_t rows) {
        QMdiSubWindow* sub = openChild(item, caption);
        EXPECT_TRUE(waitUntil([&] { return rawRows(sub).size() == rows; }));
        return sub;
    }
    bool waitRows(QMdiSubWindow* sub, const Rows& want) {
        return waitUntil([&] { return rawRows(sub) == want; });
    }
    // Clicks every header twice: ascending with ">", then descending with "<", every row in
    // the order the fill order sorted on the column's field gives; the rest plain.
    void sortEveryColumn(QMdiSubWindow* sub, const std::vector<std::string>& headers,
                         const std::vector<int>& fields, const std::vector<bool>& numeric,
                         const Rows& filled) {
        for (std::size_t c = 0; c < headers.size(); ++c) {
            for (bool descending : {false, true}) {
                SCOPED_TRACE(headers[c] + (descending ? " descending" : " ascending"));
                clickHeader(sub, int(c) + 1);
                std::vector<std::string> marked = headers;
                marked[c] = (descending ? "<" : ">") + headers[c];
                ASSERT_TRUE(waitHeaders(sub, marked));
                EXPECT_TRUE(waitRows(sub, expectedOrder(filled, fields[c], numeric[c], descending)));
            }
        }
    }
    std::string key(const std::string& section, const std::string& k) {
        return getPrivateProfileString((dir_ / "sorvdemo.INI").string(), section, k, "<none>");
    }
};

const std::vector<std::string> HandHeaders{"F1", "F 2", "F 3", "F 4", "F 5"};

TEST_F(MemoryListTest, HandCodedListIsMadeAsDescribedSortsOnEveryColumnAndIsMadeAgainFromItsNumber) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = open(menu::HandCodedList, "A Hand-Coded Queue(Random Data)", 300);
        EXPECT_TRUE(waitUntil([&] { return countText(sub) == "300"; }));
        const Rows filled = rawRows(sub);
        auto wellMade = [](const Rows& rows) {
            for (const win::ListRow& e : rows) {
                const std::string f1 = clipped(e[0]);
                const int r = std::atoi(e[1].c_str()), f3 = std::atoi(e[2].c_str()),
                          f5 = std::atoi(e[4].c_str());
                if (r < 1 || r > 9000 || f3 != r % 7 + 1 || f3 < 1 || f3 > 7) return false;
                if (f1.size() < 3 || f1.size() > 15 || f1 != std::string(f1.size(), char('A' + r % 26)))
                    return false;
                if (std::abs(std::atof(e[3].c_str()) * 100 - r) > 0.001 || f5 < 70000 || f5 > today())
                    return false;
            }
            return true;
        };
        EXPECT_TRUE(wellMade(filled));
        EXPECT_EQ(shown(sub).headers, HandHeaders);

        sortEveryColumn(sub, HandHeaders, {1, 2, 3, 4, 5}, {false, true, true, true, true}, filled);
        {
            browsetest::MenuAnswer answer("Key Sequence");
            clickHeader(sub, 2, Qt::RightButton);
            EXPECT_TRUE(waitHeaders(sub, HandHeaders));
            EXPECT_TRUE(waitRows(sub, filled)) << "the order the entries were made in";
        }
        // Off the header a right click offers the column menu of the list's owner.
        const auto menu = rightClickCell(sub, 2, 3, "Sort on F3");
        EXPECT_TRUE(has(menu, "0:Sort on F3")) << menu.size();
        EXPECT_TRUE(has(menu, "1:Print All"));
        EXPECT_TRUE(waitHeaders(sub, {"F1", "F 2", ">F 3", "F 4", "F 5"}));
        EXPECT_TRUE(waitRows(sub, expectedOrder(filled, 3, true, false)));

        // F 3 dragged one place left; then 50 typed as the number and accepted: 50 new entries,
        // unsorted and unmarked, the columns where the user put them.
        dragHeader(sub, 3, headerLeft(sub, 2) + 2);
        ASSERT_TRUE(waitHeaders(sub, {"F1", ">F 3", "F 2", "F 4", "F 5"}));
        win::onGui([&] {
            QLineEdit* e = sub->findChild<QLineEdit*>();
            ASSERT_TRUE(e);
            e->setFocus();
            e->selectAll();
            for (QChar ch : QString("50")) {
                QKeyEvent k(QEvent::KeyPress, Qt::Key_0 + (ch.unicode() - '0'), Qt::NoModifier, QString(ch));
                QApplication::sendEvent(e, &k);
            }
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(e, &enter);
        });
        ASSERT_TRUE(waitUntil([&] { return rawRows(sub).size() == 50; }));
        EXPECT_TRUE(waitHeaders(sub, {"F1", "F 3", "F 2", "F 4", "F 5"}));
        EXPECT_TRUE(waitUntil([&] { return countText(sub) == "50"; }));
        const Rows again = rawRows(sub);
        EXPECT_TRUE(wellMade(again));
        clickHeader(sub, 2); // the sort starts afresh: ascending
        EXPECT_TRUE(waitHeaders(sub, {"F1", ">F 3", "F 2", "F 4", "F 5"}));
        EXPECT_TRUE(waitRows(sub, expectedOrder(again, 3, true, false)));
        closeAndExit(sub);
    });
    EXPECT_NE(key("HandCodedList", "SorvexOrigFormatString-?List2"), "<none>") << ini();
}

const std::vector<std::string> FileHeaders{"Last Name", "Phone", "Do B", "Company", "City", "Country"};

TEST_F(MemoryListTest, FileLoadedListHoldsEveryPersonWithTheCustomerAndReopensSortedAsLeft) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = open(menu::FileLoadedList, "File/View Loaded List", 150);
        EXPECT_TRUE(waitUntil([&] { return countText(sub) == "150"; }));
        const Rows filled = rawRows(sub);
        // Every person has a customer (field 7, its number): filled in customer order, each
        // company named the same wherever its customer appears.
        std::map<std::string, std::string> companyOf;
        long previous = 0;
        for (const win::ListRow& e : filled) {
            const long customer = std::atol(e[6].c_str());
            EXPECT_GE(customer, previous);
            previous = customer;
            EXPECT_FALSE(clipped(e[3]).empty());
            auto [it, added] = companyOf.emplace(e[6], e[3]);
            EXPECT_EQ(it->second, e[3]);
        }
        EXPECT_GT(companyOf.size(), 5u);
        EXPECT_EQ(shown(sub).headers, FileHeaders);

        sortEveryColumn(sub, FileHeaders, {1, 2, 3, 4, 5, 6}, {false, false, true, false, false, false},
                        filled);
        {
            browsetest::MenuAnswer answer("Key Sequence");
            clickHeader(sub, 1, Qt::RightButton);
            EXPECT_TRUE(waitHeaders(sub, FileHeaders));
            EXPECT_TRUE(waitRows(sub, filled));
        }
        clickHeader(sub, 5);
        clickHeader(sub, 5);
        ASSERT_TRUE(waitHeaders(sub, {"Last Name", "Phone", "Do B", "Company", "<City", "Country"}));
        closeChild(sub, childCount());

        // Opened again: read again, and sorted as it was left.
        sub = open(menu::FileLoadedList, "File/View Loaded List", 150);
        EXPECT_TRUE(waitHeaders(sub, {"Last Name", "Phone", "Do B", "Company", "<City", "Country"}));
        EXPECT_TRUE(waitRows(sub, expectedOrder(filled, 5, false, true)));
        closeAndExit(sub);
    });
    EXPECT_EQ(key("FileLoadedList", "SorvexPrevCol-?listcontrol"), "5");
}

TEST_F(MemoryListTest, ExportAndGraphOfTheHandCodedListTakeEveryEntryInTheListsOrder) {
    QAccessible::setActive(true);
    std::vector<std::string> firsts;
    std::string heading, texts;
    {
        sorv::test::ShellLog shell;
        runProgram([&] {
            QMdiSubWindow* sub = open(menu::HandCodedList, "A Hand-Coded Queue(Random Data)", 300);
            const Rows filled = rawRows(sub);
            clickHeader(sub, 2);
            ASSERT_TRUE(waitHeaders(sub, {"F1", ">F 2", "F 3", "F 4", "F 5"}));
            // The header is marked before the rows are shown sorted.
            ASSERT_TRUE(waitRows(sub, expectedOrder(filled, 2, true, false)));
            for (const auto& row : shown(sub).rows) firsts.push_back(row[0]);
            rightClickCell(sub, 1, 1, "Export to ASCII (SvPort.CSV)");
            ASSERT_TRUE(waitUntil([&] { return !shell.opened().empty(); }));
            // The graph of the weekdays of F5 counts every entry.
            rightClickCell(sub, 1, 5, "Graph on F5");
            QWidget* graph = nullptr;
            ASSERT_TRUE(waitUntil([&] {
                return win::onGui([&] {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (w->isVisible() && w->windowTitle() == "Graph on F5")
                            for (QWidget* c : w->findChildren<QWidget*>())
                                if (c->accessibleName().contains("Categories of Field")) {
                                    // Drawn once the canvas tells its texts.
                                    heading = c->accessibleName().toStdString();
                                    texts.clear();
                                    for (QWidget* d : w->findChildren<QWidget*>())
                                        texts += d->accessibleDescription().toStdString() + "\n";
                                    graph = w;
                                    return texts.find("Count\n") != std::string::npos;
                                }
                    return false;
                });
            }));
            win::onGui([&] {
                for (QPushButton* b : graph->findChildren<QPushButton*>())
                    if (b->text() == "OK") return b->click();
            });
            closeAndExit(sub);
        });
    }
    std::ifstream csv(dir_ / "SvPort.CSV", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(csv, line);)
        lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    ASSERT_EQ(lines.size(), 302u);
    EXPECT_EQ(lines[0], "# Records=0000300");
    EXPECT_EQ(lines[1].substr(0, lines[1].find(',')), "F1");
    for (std::size_t i = 0; i < firsts.size(); ++i)
        EXPECT_EQ(lines[i + 2].substr(0, lines[i + 2].find(',')), firsts[i]) << "row " << i + 1;
    EXPECT_EQ(heading, "300 Categories of Field: F5");
    for (const char* day : {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"})
        EXPECT_NE(texts.find(std::string(day) + "\n"), std::string::npos) << day << " in " << texts;
}

} // namespace
