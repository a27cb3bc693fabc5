// The real program with its tables on a database server: "sorvdemo.INI" names the server, the
// demo's tables are moved there with sorvtool, the native files are gone, and the Customer browse
// opened from the menu shows the customers and sorts them by a header click, all read from the
// server. A test program of its own, because the dictionary declares its tables once per process.
#include "app/demodata.h"
#include "runtime/inifile.h"
#include "tests/app/program_rig.h"
#include "tests/data/pg_server.h"
#include "windowing/listbox.h"

#include <QAccessible>
#include <QMouseEvent>
#include <sys/wait.h>

namespace {

using namespace programtest;

constexpr int Customers = 12;

std::vector<std::vector<std::string>> rowsOf(QMdiSubWindow* sub) {
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

class ServerProgramTest : public ProgramTest {};

} // namespace

#ifdef SORVTOOL_PATH
TEST_F(ServerProgramTest, CustomerBrowseReadsAndSortsServerTables) {
    SORV_NEED_PG_SERVER(server);
    DemoDataOptions options;
    options.customers = Customers;
    options.people = 10;
    // Made by another process: the dictionary declares its tables on first use, and this one
    // must first use them after the INI names the server.
    pid_t pid = ::fork();
    if (pid == 0) _exit(writeDemoData(dir_.string(), options).empty() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(fs::exists(dir_ / "CUSTOMER.QNL"));
    copyTexts();
    for (const char* table : {"CUSTOMER", "PEOPLE"}) {
        std::string cmd = std::string(SORVTOOL_PATH) + " db copy " + table +
                          " 'postgresql:" + server->conninfo() + "#" + table + "' >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        fs::remove(dir_ / (std::string(table) + ".QNL"));
    }
    WRITEINI("Tables", "Driver", "POSTGRESQL", "sorvdemo.INI");
    WRITEINI("Tables", "Connection", server->conninfo(), "sorvdemo.INI");
    QAccessible::setActive(true);
    runProgram([&] {
        EXPECT_TRUE(waitUntil([] { return childCount() >= 1; }));
        const QList<QMdiSubWindow*> before = win::onGui([] { return children(); });
        choose(menuText(menu::BrowseCustomer));
        QMdiSubWindow* sub = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                for (QMdiSubWindow* c : children())
                    if (!before.contains(c)) sub = c;
                return sub != nullptr;
            });
        }));
        ASSERT_TRUE(waitUntil([&] { return rowsOf(sub).size() == std::size_t(Customers); }));
        // City (the list's second column), ascending after a click on its header.
        win::onGui([&] {
            auto* list = sub->findChild<win::ListBox*>();
            QPoint at = list->headerRect(2).center();
            for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent e(t, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                              t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(list->viewport(), &e);
            }
        });
        EXPECT_TRUE(waitUntil([&] {
            auto rows = rowsOf(sub);
            if (rows.size() != std::size_t(Customers)) return false;
            return std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
                std::string x = a[1], y = b[1];
                for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                return x < y;
            });
        }));
        closeChild(sub, childCount());
        choose("E&xit");
    });
    EXPECT_FALSE(fs::exists(dir_ / "CUSTOMER.QNL")) << "the program made a native file";
}
#endif
