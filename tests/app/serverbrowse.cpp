// The real program with its tables on a database server: "sorvdemo.INI" names the server, the
// demo's tables are moved there with sorvtool, the native files are gone, and the Customer browse
// opened from the menu shows the customers and sorts them by a header click, all read from the
// server; the Customer and People forms add, change and delete there. A test program of its own,
// because the dictionary declares its tables once per process (every test here uses the one
// server).
#include "app/dictionary.h"
#include "data/files.h"
#include "runtime/inifile.h"
#include "tests/app/program_rig.h"
#include "tests/data/pg_server.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>

namespace {

using namespace programtest;

constexpr int Customers = 12;

std::vector<std::vector<std::string>> rowsOf(QWidget* sub) {
    return win::onGui([&] {
        std::vector<std::vector<std::string>> rows;
        auto* list = sub ? sub->findChild<win::ListBox*>() : nullptr;
        QAccessibleInterface* iface = list ? QAccessible::queryAccessibleInterface(list) : nullptr;
        QAccessibleTableInterface* table = iface ? iface->tableInterface() : nullptr;
        if (!table) return rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < table->columnCount(); ++c)
                row.push_back(table->cellAt(r, c)->text(QAccessible::Name).trimmed().toStdString());
            rows.push_back(row);
        }
        return rows;
    });
}

// A click on a header of the list (1-based column).
void clickHeader(QMdiSubWindow* sub, int column) {
    win::onGui([&] {
        auto* list = sub->findChild<win::ListBox*>();
        QPoint at = list->headerRect(column).center();
        for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(t, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                          t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &e);
        }
    });
}

bool sortedByCity(const std::vector<std::vector<std::string>>& rows) {
    return std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        std::string x = a[1], y = b[1];
        for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return x < y;
    });
}

QWidget* shownWindow(const std::string& caption) {
    return win::onGui([&]() -> QWidget* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle().toStdString() == caption) return w;
        return nullptr;
    });
}

QWidget* waitWindow(const std::string& caption) {
    waitUntil([&] { return shownWindow(caption) != nullptr; });
    return shownWindow(caption);
}

bool waitGone(const std::string& caption) {
    return waitUntil([&] { return shownWindow(caption) == nullptr; });
}

void press(QWidget* in, const char* button) {
    win::onGui([&] {
        ASSERT_TRUE(in) << "no window for " << button;
        for (QPushButton* b : in->findChildren<QPushButton*>())
            if (b->accessibleName() == button) return b->click();
        ADD_FAILURE() << "no button " << button;
    });
}

// Types into the entry of a window (replacing its text) and leaves it, as a user does.
void type(QWidget* in, const char* entry, const std::string& text) {
    win::onGui([&] {
        ASSERT_TRUE(in) << "no window for " << entry;
        QLineEdit* e = nullptr;
        for (QLineEdit* l : in->findChildren<QLineEdit*>())
            if (l->accessibleName() == entry) e = l;
        ASSERT_TRUE(e) << entry;
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        for (char c : text) {
            QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
            QApplication::sendEvent(e, &down);
        }
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(e, &tab);
        // A focus change the offscreen desktop did not carry out still ends the edit.
        if (e->isModified()) emit e->editingFinished();
    });
}

std::string selectedRow(QMdiSubWindow* sub, int column) {
    return win::onGui([&] {
        auto* list = sub->findChild<win::ListBox*>();
        return list->cellText(list->selected(), column).trimmed().toStdString();
    });
}

class ServerProgramTest : public ProgramTest {
protected:
    // The demo's tables (12 customers), made as native files and moved to the server with
    // sorvtool; sorvdemo.INI names the server. Tables an earlier test left there go first.
    void moveDemoToServer(sorvtest::PgServer& server) {
        const TableStore store{"POSTGRESQL", server.conninfo()};
        FileDecl customers = makeCustomerFile(store), people = makePeopleFile(store);
        sorv::remove(customers);
        sorv::remove(people);
#ifdef SORVTOOL_PATH
        // Made by another process: this one's dictionary declares its tables once, from the INI.
        const std::string demo = std::string(SORVTOOL_PATH) + " demo-data " + dir_.string() +
                                 " --customers " + std::to_string(Customers) + " --people 10 >/dev/null";
        ASSERT_EQ(std::system(demo.c_str()), 0) << demo;
#endif
        ASSERT_TRUE(fs::exists(dir_ / "CUSTOMER.QNL"));
        copyTexts();
#ifdef SORVTOOL_PATH
        for (const char* table : {"CUSTOMER", "PEOPLE"}) {
            std::string cmd = std::string(SORVTOOL_PATH) + " db copy " + table +
                              " 'postgresql:" + server.conninfo() + "#" + table + "' >/dev/null";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            fs::remove(dir_ / (std::string(table) + ".QNL"));
        }
#endif
        WRITEINI("Tables", "Driver", "POSTGRESQL", "sorvdemo.INI");
        WRITEINI("Tables", "Connection", server.conninfo(), "sorvdemo.INI");
    }
    // Opens the Customer browse from the menu; the window once it shows the customers.
    QMdiSubWindow* openBrowse() {
        EXPECT_TRUE(waitUntil([] { return childCount() >= 1; }));
        const QList<QMdiSubWindow*> before = win::onGui([] { return children(); });
        choose(menuText(menu::BrowseCustomer));
        QMdiSubWindow* sub = nullptr;
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                for (QMdiSubWindow* c : children())
                    if (!before.contains(c)) sub = c;
                return sub != nullptr;
            });
        }));
        EXPECT_TRUE(waitUntil([&] { return rowsOf(sub).size() == std::size_t(Customers); }));
        return sub;
    }
};

} // namespace

#ifdef SORVTOOL_PATH
TEST_F(ServerProgramTest, CustomerBrowseReadsAndSortsServerTables) {
    SORV_NEED_PG_SERVER(server);
    moveDemoToServer(*server);
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = openBrowse();
        ASSERT_TRUE(sub);
        // City (the list's second column), ascending after a click on its header.
        clickHeader(sub, 2);
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(sub);
            return rows.size() == std::size_t(Customers) && sortedByCity(rows);
        }));
        closeChild(sub, childCount());
        choose("E&xit");
    });
    EXPECT_FALSE(fs::exists(dir_ / "CUSTOMER.QNL")) << "the program made a native file";
}

// The forms on server tables: a customer added, changed (with a person added on its People tab,
// listed there at once) and deleted through the Customer browse's buttons.
TEST_F(ServerProgramTest, FormsAddChangeAndDeleteOnServerTables) {
    SORV_NEED_PG_SERVER(server);
    moveDemoToServer(*server);
    QAccessible::setActive(true);
    sorv::test::BoxAnswers boxes({win::button::Yes});
    runProgram([&] {
        QMdiSubWindow* sub = openBrowse();
        ASSERT_TRUE(sub);
        press(sub, "Insert");
        QWidget* form = waitWindow("Adding a Customer Record");
        ASSERT_TRUE(form);
        type(form, "Company:", "Aardvark Ltd");
        type(form, "City:", "Oslo");
        press(form, "OK");
        ASSERT_TRUE(waitGone("Adding a Customer Record"));
        EXPECT_TRUE(waitUntil([&] { return selectedRow(sub, 1) == "Aardvark Ltd"; })) << selectedRow(sub, 1);
        EXPECT_EQ(selectedRow(sub, 2), "Oslo");

        press(sub, "Change");
        form = waitWindow("Changing a Customer Record");
        ASSERT_TRUE(form);
        type(form, "City:", "Bergen");
        win::onGui([&] { form->findChild<QTabWidget*>()->setCurrentIndex(1); });
        press(form, "Insert");
        QWidget* person = waitWindow("Adding a People Record");
        ASSERT_TRUE(person);
        type(person, "Last Name:", "Smith");
        press(person, "OK");
        ASSERT_TRUE(waitGone("Adding a People Record"));
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(form);
            return rows.size() == 1 && rows[0][0] == "Smith";
        })) << "the person is listed under the customer at once";
        press(form, "OK");
        ASSERT_TRUE(waitGone("Changing a Customer Record"));
        EXPECT_TRUE(waitUntil([&] { return selectedRow(sub, 2) == "Bergen"; })) << selectedRow(sub, 2);
        EXPECT_EQ(selectedRow(sub, 1), "Aardvark Ltd");

        press(sub, "Delete");
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(sub);
            return rows.size() == std::size_t(Customers) &&
                   std::none_of(rows.begin(), rows.end(),
                                [](const auto& r) { return r[0] == "Aardvark Ltd"; });
        }));
        closeChild(sub, childCount());
        choose("E&xit");
    });
    std::vector<std::string> asked;
    for (const auto& b : boxes.shown()) asked.push_back(b.title);
    EXPECT_EQ(asked, std::vector<std::string>{"Confirm Delete"});
    EXPECT_FALSE(fs::exists(dir_ / "CUSTOMER.QNL")) << "the program made a native file";
}
#endif
