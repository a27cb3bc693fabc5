// The real program with its tables on a database server: "sorvdemo.INI" names the server, the
// demo's tables are moved there with sorvtool, the native files are gone, and the Customer browse
// opened from the menu shows the customers and sorts them by a header click, all read from the
// server; the Customer and People forms add, change and delete there; the server stopped while
// the windows read and save is told to the user, changes nothing, and the windows go on once it
// is back. A test program of its own,
// because the dictionary declares its tables once per process (every test here uses the one
// server).
#include "app/dictionary.h"
#include "data/files.h"
#include "runtime/inifile.h"
#include "tests/app/list_rig.h"
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

bool sortedByCity(const std::vector<std::vector<std::string>>& rows) {
    return std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        std::string x = a[1], y = b[1];
        for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return x < y;
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
    // Opens a browse from the menu: the new window, once it shows `rows` rows (any, when -1).
    QMdiSubWindow* openBrowse(int rows = Customers, int item = menu::BrowseCustomer) {
        EXPECT_TRUE(waitUntil([] { return childCount() >= 1; }));
        const QList<QMdiSubWindow*> before = win::onGui([] { return children(); });
        choose(menuText(item));
        QMdiSubWindow* sub = nullptr;
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                for (QMdiSubWindow* c : children())
                    if (!before.contains(c)) sub = c;
                return sub != nullptr;
            });
        }));
        if (rows >= 0) {
            EXPECT_TRUE(waitUntil([&] { return rowsOf(sub).size() == std::size_t(rows); }));
        }
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
        closeAndExit(sub);
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
        clickButton(sub, "Insert");
        QWidget* form = waitWindow("Adding a Customer Record");
        ASSERT_TRUE(form);
        type(form, "Company:", "Aardvark Ltd");
        type(form, "City:", "Oslo");
        clickButton(form, "OK");
        ASSERT_TRUE(waitGone("Adding a Customer Record"));
        EXPECT_TRUE(waitUntil([&] { return selectedRow(sub, 1) == "Aardvark Ltd"; })) << selectedRow(sub, 1);
        EXPECT_EQ(selectedRow(sub, 2), "Oslo");

        clickButton(sub, "Change");
        form = waitWindow("Changing a Customer Record");
        ASSERT_TRUE(form);
        type(form, "City:", "Bergen");
        win::onGui([&] { form->findChild<QTabWidget*>()->setCurrentIndex(1); });
        clickButton(form, "Insert");
        QWidget* person = waitWindow("Adding a People Record");
        ASSERT_TRUE(person);
        type(person, "Last Name:", "Smith");
        clickButton(person, "OK");
        ASSERT_TRUE(waitGone("Adding a People Record"));
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(form);
            return rows.size() == 1 && rows[0][0] == "Smith";
        })) << "the person is listed under the customer at once";
        clickButton(form, "OK");
        ASSERT_TRUE(waitGone("Changing a Customer Record"));
        EXPECT_TRUE(waitUntil([&] { return selectedRow(sub, 2) == "Bergen"; })) << selectedRow(sub, 2);
        EXPECT_EQ(selectedRow(sub, 1), "Aardvark Ltd");

        clickButton(sub, "Delete");
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(sub);
            return rows.size() == std::size_t(Customers) &&
                   std::none_of(rows.begin(), rows.end(),
                                [](const auto& r) { return r[0] == "Aardvark Ltd"; });
        }));
        closeAndExit(sub);
    });
    std::vector<std::string> asked;
    for (const auto& b : boxes.shown()) asked.push_back(b.title);
    EXPECT_EQ(asked, std::vector<std::string>{"Confirm Delete"});
    EXPECT_FALSE(fs::exists(dir_ / "CUSTOMER.QNL")) << "the program made a native file";
}

// The server stopped under the program's windows. Whatever the user does while it is down is told
// and changes nothing; the program never ends for it (a window that cannot open its table says so
// and stays); once the server is back the same window, or the window opened again, does what was
// asked. A delete is confirmed; other questions are answered to keep what the user has.
TEST_F(ServerProgramTest, ServerStoppedUnderTheWindows) {
    SORV_NEED_PG_SERVER(server);
    moveDemoToServer(*server);
    QAccessible::setActive(true);
    sorv::test::BoxAnswers boxes;
    boxes.onShown = [](QMessageBox* box) {
        const int first = box->windowTitle() == "Confirm Delete" ? win::button::Yes : win::button::Cancel;
        QMetaObject::invokeMethod(
            box,
            [box, first] {
                for (int b : {first, int(win::button::No), int(win::button::Ok)})
                    if (sorv::test::clickBoxButton(box, b)) return;
            },
            Qt::QueuedConnection);
    };
    auto focused = [] {
        return win::onGui([] {
            QWidget* f = QApplication::focusWidget();
            return f ? f->accessibleName().toStdString() : std::string();
        });
    };
    auto entry = [](QWidget* in, const char* name) {
        return win::onGui([&] {
            for (QLineEdit* l : in->findChildren<QLineEdit*>())
                if (l->accessibleName() == name) return l->text().trimmed().toStdString();
            return std::string();
        });
    };
    // A change form, once it has opened its lists and selected its first entry (so that stopping
    // the server does not race its opening), with an entry typed into.
    auto change = [&](QWidget* browse, const std::string& caption, const char* first, const char* typed) {
        clickButton(browse, "Change");
        QWidget* form = waitWindow(caption);
        EXPECT_TRUE(waitUntil([&] { return focused() == first; })) << focused();
        type(form, typed, "Lost");
        return form;
    };
    auto isOpen = [](QMdiSubWindow* sub) { return win::onGui([&] { return children().contains(sub); }); };
    const std::string CustomerForm = "Changing a Customer Record", PeopleForm = "Changing a People Record",
                      AddForm = "Adding a Customer Record";
    int customers = Customers;

    struct Windows {
        QMdiSubWindow* browse = nullptr;
        QWidget* form = nullptr;
        std::vector<std::vector<std::string>> rows; // the browse's rows before the server stopped
    };
    struct Case {
        const char* name;
        std::function<void(Windows&)> before, whileDown;
        std::vector<std::string> told; // the boxes' titles while the server is down
        std::function<void(Windows&)> once;
    };
    const Case cases[] = {
        {"OK in the Customer form",
         [&](Windows& w) {
             w.browse = openBrowse(customers);
             w.form = change(w.browse, CustomerForm, "Company:", "City:");
         },
         [&](Windows& w) { clickButton(w.form, "OK"); },
         {"Record was not updated", "Record Update Error"},
         [&](Windows& w) {
             ASSERT_TRUE(shownWindow(CustomerForm)) << "the form stays";
             EXPECT_EQ(entry(w.form, "City:"), "Lost") << "what was typed is kept";
             clickButton(w.form, "OK");
             ASSERT_TRUE(waitGone(CustomerForm));
             EXPECT_TRUE(waitUntil([&] { return selectedRow(w.browse, 2) == "Lost"; }));
             EXPECT_EQ(selectedRow(w.browse, 1), w.rows[0][0]);
         }},
        {"OK in the People form (its customer looked up)",
         [&](Windows& w) {
             w.browse = openBrowse(-1, menu::BrowsePeople);
             ASSERT_TRUE(waitUntil([&] { return !rowsOf(w.browse).empty(); }));
             w.form = change(w.browse, PeopleForm, "Last Name:", "First Name:");
         },
         [&](Windows& w) { clickButton(w.form, "OK"); },
         {"Record Retrieval Error"},
         [&](Windows& w) {
             ASSERT_TRUE(shownWindow(PeopleForm)) << "the form stays";
             EXPECT_EQ(entry(w.form, "First Name:"), "Lost") << "what was typed is kept";
             clickButton(w.form, "OK");
             ASSERT_TRUE(waitGone(PeopleForm));
             EXPECT_TRUE(waitUntil([&] { return selectedRow(w.browse, 3) == "Lost"; }));
         }},
        {"Sort in the Customer browse",
         [&](Windows& w) { w.browse = openBrowse(customers); },
         [&](Windows& w) { clickHeader(w.browse, 2); },
         {"Record Retrieval Error"},
         [&](Windows& w) {
             // The read error closed the browse, as it says; opened again it sorts.
             EXPECT_TRUE(waitUntil([&] { return !isOpen(w.browse); }));
             ASSERT_FALSE(sortedByCity(w.rows));
             w.browse = openBrowse(customers);
             clickHeader(w.browse, 2);
             EXPECT_TRUE(waitUntil([&] {
                 auto rows = rowsOf(w.browse);
                 return rows.size() == w.rows.size() && sortedByCity(rows);
             }));
         }},
        {"The Customer browse opened from the menu",
         [](Windows&) {},
         [&](Windows& w) { w.browse = openBrowse(-1); },
         {"File Access Error"},
         [&](Windows& w) {
             EXPECT_TRUE(rowsOf(w.browse).empty()) << "the browse stays, empty";
             closeChild(w.browse, childCount());
             w.browse = openBrowse(customers);
         }},
        {"Insert in the Customer browse",
         [&](Windows& w) { w.browse = openBrowse(customers); },
         [&](Windows& w) {
             // No number is reserved and the form's people cannot be listed; the form opens.
             clickButton(w.browse, "Insert");
             w.form = waitWindow(AddForm);
             if (w.form) type(w.form, "Company:", "Aardvark Ltd");
         },
         {"Record Retrieval Error", "File Access Error"},
         [&](Windows& w) {
             ASSERT_TRUE(w.form);
             clickButton(w.form, "OK");
             ASSERT_TRUE(waitGone(AddForm));
             EXPECT_TRUE(waitUntil([&] { return selectedRow(w.browse, 1) == "Aardvark Ltd"; }));
             ++customers;
         }},
        {"Delete in the Customer browse",
         [&](Windows& w) { w.browse = openBrowse(customers); },
         [&](Windows& w) { clickButton(w.browse, "Delete"); },
         {"Confirm Delete", "Record Retrieval Error", "Record Delete Error", "Record Retrieval Error"},
         [&](Windows& w) {
             // The browse's read after the failed delete closed it, as its message says.
             EXPECT_TRUE(waitUntil([&] { return !isOpen(w.browse); }));
             w.browse = openBrowse(customers);
             EXPECT_EQ(rowsOf(w.browse), w.rows) << "nothing was deleted";
             clickButton(w.browse, "Delete");
             EXPECT_TRUE(waitUntil([&] { return rowsOf(w.browse).size() == std::size_t(customers - 1); }));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> told;
        runProgram([&] {
            ASSERT_TRUE(waitUntil([] { return childCount() >= 1; }));
            const QList<QMdiSubWindow*> first = win::onGui([] { return children(); });
            Windows w;
            c.before(w);
            if (w.browse) w.rows = rowsOf(w.browse);
            const std::size_t shown = boxes.shown().size();
            ASSERT_TRUE(server->kill());
            c.whileDown(w);
            // Then anything more the program has to say.
            waitUntil([&] { return boxes.shown().size() >= shown + c.told.size(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (std::size_t i = shown; i < boxes.shown().size(); ++i) told.push_back(boxes.shown()[i].title);
            ASSERT_TRUE(server->restart());
            if (told == c.told) c.once(w);
            for (QMdiSubWindow* sub : win::onGui([] { return children(); }))
                if (!first.contains(sub) && isOpen(sub)) closeAndExit(sub);
        });
        EXPECT_EQ(told, c.told);
    }
}
#endif
