// The update forms on the offscreen desktop over the dictionary's real tables: a user types into
// their entries and presses their buttons from another thread while the program thread runs the
// form, and the files show what was written. Message boxes are answered as they appear.
#include "app/updateforms.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/program.h"
#include "framework/inimanager.h"
#include "framework/windowmanager.h"
#include "tests/app/program_rig.h"
#include "tests/runtime/sorvtool_run.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"

#include "data/files.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sorv;
using namespace sorv::app;
using sorv::test::BoxAnswers;
using sorv::test::findWidget;
namespace fs = std::filesystem;

namespace {

using programtest::waitUntil;

// ---- the user's side (driver thread) ----

QWidget* shown(const std::string& caption) {
    return win::onGui([&]() -> QWidget* {
        QWidget* w = findWidget(QString::fromStdString(caption));
        return w && w->isVisible() ? w : nullptr;
    });
}

bool waitShown(const std::string& caption) {
    return waitUntil([&] { return shown(caption) != nullptr; });
}

bool waitGone(const std::string& caption) {
    return waitUntil([&] { return shown(caption) == nullptr; });
}

template <class W> W* child(const std::string& caption, const QString& name) {
    QWidget* top = findWidget(QString::fromStdString(caption));
    if (!top) return nullptr;
    for (W* w : top->findChildren<W*>())
        if (w->accessibleName() == name) return w;
    return nullptr;
}

void key(QWidget* to, int k, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(to, &release);
}

// Types into an entry (replacing its text) and leaves it with Tab, as a user does.
void type(const std::string& caption, const QString& entry, const QString& text) {
    win::onGui([&] {
        QLineEdit* e = child<QLineEdit>(caption, entry);
        ASSERT_TRUE(e) << entry.toStdString();
        e->window()->activateWindow();
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        for (QChar c : text) key(e, 0, QString(c));
        key(e, Qt::Key_Tab);
        // A focus change the offscreen desktop did not carry out still ends the edit.
        if (e->isModified()) emit e->editingFinished();
    });
}

void press(const std::string& caption, const QString& button) {
    win::onGui([&] {
        QPushButton* b = child<QPushButton>(caption, button);
        ASSERT_TRUE(b) << button.toStdString();
        b->click();
    });
}

std::string entryText(const std::string& caption, const QString& entry) {
    return win::onGui([&] {
        QLineEdit* e = child<QLineEdit>(caption, entry);
        return e ? e->text().trimmed().toStdString() : std::string("<none>");
    });
}

// Whether an entry shows its whole text selected, so that typing replaces it.
bool wholeSelected(const std::string& caption, const QString& entry) {
    return win::onGui([&] {
        QLineEdit* e = child<QLineEdit>(caption, entry);
        return e && !e->text().isEmpty() && e->selectedText() == e->text();
    });
}

// The control that has the focus in the window with the caption.
std::string focused(const std::string& caption) {
    return win::onGui([&] {
        QWidget* top = findWidget(QString::fromStdString(caption));
        QWidget* f = top ? top->focusWidget() : nullptr;
        return f ? f->accessibleName().toStdString() : std::string();
    });
}

std::vector<std::string> listColumn(const std::string& caption, int column) {
    return win::onGui([&] {
        std::vector<std::string> out;
        auto* list = child<win::ListBox>(caption, "Browsing Records");
        for (int r = 1; list && r <= list->rowCount(); ++r)
            out.push_back(list->cellText(r, column).trimmed().toStdString());
        return out;
    });
}

// Answers each box with OK (Yes/No/Cancel questions take `question`), recording what it showed.
struct Boxes : BoxAnswers {
    explicit Boxes(int question = win::button::No) {
        onShown = [question](QMessageBox* box) {
            bool asks = false;
            for (QAbstractButton* b : box->buttons())
                asks |= b->property("sorvValue").toInt() != win::button::Ok;
            const int answer = asks ? question : win::button::Ok;
            QMetaObject::invokeMethod(
                box, [box, answer] { sorv::test::clickBoxButton(box, answer); }, Qt::QueuedConnection);
        };
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const Shown& s : shown()) out.push_back(s.title);
        return out;
    }
};

// ---- the program's side ----

// A fresh working directory as the program's tests have it.
class FormsTest : public programtest::ProgramTest {
protected:
    // Runs `program` with the dictionary set up as the program entry sets it up, while `drive`
    // acts as the user on a thread of its own.
    // A drive that stops early (a failed assertion) leaves the windows to be closed, each
    // question answered No, so that the program ends.
    void run(const std::function<void()>& program, const std::function<void()>& drive) {
        // The desktop serves the user's calls only while the program runs: the program waits for
        // the user to finish.
        std::atomic<bool> ended{false}, finished{false};
        std::thread user([&] {
            drive();
            win::setMessageBoxObserver([](QMessageBox* box) {
                QMetaObject::invokeMethod(
                    box,
                    [box] {
                        if (!sorv::test::clickBoxButton(box, win::button::No))
                            sorv::test::clickBoxButton(box, win::button::Ok);
                    },
                    Qt::QueuedConnection);
            });
            while (!ended) {
                win::onGui([] {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (w->isVisible() && !qobject_cast<QMessageBox*>(w)) w->close();
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            finished = true;
        });
        sorv::test::runWithDesktop([&] {
            GlobalErrors().Init();
            fw::iniManager().Init("sorvdemo.INI");
            DictionaryInit(GlobalErrors());
            RelateCustomer().Open();
            RelatePeople().Open();
            program();
            ended = true;
            while (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            RelatePeople().Close();
            RelateCustomer().Close();
            DictionaryKill();
            GlobalErrors().Kill();
        });
        user.join();
    }
};

std::int64_t addCustomer(const std::string& company) {
    AccessCustomer().PrimeBuffer();
    AccessCustomer().record().set("CUST:Company", Value(company));
    EXPECT_EQ(AccessCustomer().Insert(), fw::LevelNone);
    return AccessCustomer().record().get("CUST:SysId").toLong();
}

// The record as a browse leaves it for a form: read with watching for other stations' changes.
void loadCustomer(std::int64_t id) {
    AccessCustomer().record().set("CUST:SysId", Value(id));
    watch(AccessCustomer().file());
    ASSERT_EQ(AccessCustomer().TryFetch(KeySysId), fw::LevelNone);
}

std::string storedCompany(std::int64_t id) {
    std::uint16_t kept = AccessCustomer().SaveRecordBuffer();
    AccessCustomer().record().set("CUST:SysId", Value(id));
    std::string out = AccessCustomer().TryFetch(KeySysId) == fw::LevelNone
                          ? std::string(clipRight(AccessCustomer().record().get("CUST:Company").toText()))
                          : "<none>";
    AccessCustomer().RestoreSavedBuffer(kept, true);
    return out;
}

std::int64_t count(fw::FileManager& m) {
    m.EnsureFileOpen();
    return records(m.file());
}

const char* const AddingPeople = "Adding a People Record";
const char* const ChangingCustomer = "Changing a Customer Record";
const char* const Selection = "Select Customer - Multiple Formats one per TAB";

} // namespace

// Every value the People form refuses is said so, the field is selected again, and nothing is
// written; the company typed finds its customer at once or opens the selection list.
TEST_F(FormsTest, PeopleFormRefusesBadValuesAndFindsTheCustomerByCompany) {
    Boxes boxes;
    std::int64_t acme = 0;
    int response = 0;
    run(
        [&] {
            acme = addCustomer("Acme");
            addCustomer("Bolt");
            AccessPeople().PrimeBuffer();
            response = UpdatePeople(fw::RequestInsert);
            EXPECT_EQ(count(AccessPeople()), 0);
        },
        [&] {
            ASSERT_TRUE(waitShown(AddingPeople));
            struct Case {
                const char* entry;
                const char* text;
                const char* refusal; // the box's title, or nothing when the value is taken
            } cases[] = {
                {"Year Hired:", "1969", "Range Error"}, {"Year Hired:", "2011", "Range Error"},
                {"Year Hired:", "1970", nullptr},       {"Year Hired:", "2010", nullptr},
                {"Salary:", "9999", "Range Error"},     {"Salary:", "200001", "Range Error"},
                {"Salary:", "12a00", "Invalid Entry"},  {"Salary:", "200000", nullptr},
                {"Do B:", "2/31/90", "Invalid Entry"},  {"Do B:", "2/28/90", nullptr},
            };
            for (const Case& c : cases) {
                const std::size_t before = boxes.shown().size();
                type(AddingPeople, c.entry, c.text);
                if (c.refusal) {
                    ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == before + 1; })) << c.text;
                    EXPECT_EQ(boxes.shown().back().title, c.refusal) << c.text;
                    EXPECT_TRUE(waitUntil([&] {
                        return focused(AddingPeople) == c.entry && wholeSelected(AddingPeople, c.entry);
                    })) << c.text
                        << " selected again";
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    EXPECT_EQ(boxes.shown().size(), before) << c.text;
                }
            }
            EXPECT_NE(boxes.shown()[0].text.find("Year of Hire"), std::string::npos);
            EXPECT_NE(boxes.shown()[0].text.find("1970 and 2010"), std::string::npos);

            // OK with no customer: the customer check refuses, at the company entry.
            type(AddingPeople, "Last Name:", "Smith");
            std::size_t before = boxes.shown().size();
            press(AddingPeople, "OK");
            ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == before + 1; }));
            EXPECT_EQ(boxes.shown().back().title, "Field contents error");
            EXPECT_TRUE(waitUntil([] { return focused(AddingPeople) == "Company:"; }));

            // A company nobody has opens the selection list; closing it keeps the entry selected.
            type(AddingPeople, "Company:", "Nobody");
            ASSERT_TRUE(waitShown(Selection));
            win::onGui([] { findWidget(Selection)->close(); });
            ASSERT_TRUE(waitGone(Selection));
            EXPECT_TRUE(waitUntil([] { return focused(AddingPeople) == "Company:"; }));

            // One that exists is shown at once, in any case.
            type(AddingPeople, "Company:", "acme");
            EXPECT_TRUE(waitUntil([&] { return entryText(AddingPeople, "Company:") == "Acme"; }));

            // Cancel asks whether to save the changes; No closes the form, writing nothing.
            before = boxes.shown().size();
            press(AddingPeople, "Cancel");
            EXPECT_TRUE(waitGone(AddingPeople));
            ASSERT_EQ(boxes.shown().size(), before + 1);
            EXPECT_EQ(boxes.shown().back().title, "Save Record");
        });
    EXPECT_EQ(response, fw::ResponseCancelled);
}

// A person added from the Customer form's "People" tab belongs to that customer and is listed
// there at once; closing the changed form asks to save, and Cancel keeps it on its first field.
TEST_F(FormsTest, CustomerFormListsAPersonAddedOnItsPeopleTab) {
    Boxes boxes(win::button::Cancel);
    std::int64_t acme = 0;
    int response = 0;
    run(
        [&] {
            acme = addCustomer("Acme");
            addCustomer("Bolt");
            loadCustomer(acme);
            response = UpdateCustomer(fw::RequestChange);
            EXPECT_EQ(count(AccessPeople()), 1);
            AccessPeople().record().set("PPL:SysId", Value(acme));
            EXPECT_EQ(AccessPeople().TryFetch(SysIdKey), fw::LevelNone);
            EXPECT_EQ(clipRight(AccessPeople().record().get("PPL:LastName").toText()), "Smith");
            loadCustomer(acme);
            EXPECT_EQ(clipRight(AccessCustomer().record().get("CUST:City").toText()), "Oslo");
        },
        [&] {
            ASSERT_TRUE(waitShown(ChangingCustomer));
            EXPECT_EQ(entryText(ChangingCustomer, "Company:"), "Acme");
            type(ChangingCustomer, "City:", "Oslo");
            win::onGui([] { findWidget(ChangingCustomer)->close(); });
            ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == 1; }));
            EXPECT_EQ(boxes.shown()[0].title, "Save Record");
            EXPECT_EQ(boxes.shown()[0].defaultButton, win::button::Cancel);
            EXPECT_TRUE(waitUntil([] { return focused(ChangingCustomer) == "Company:"; }));
            ASSERT_TRUE(shown(ChangingCustomer));

            win::onGui([] { findWidget(ChangingCustomer)->findChild<QTabWidget*>()->setCurrentIndex(1); });
            press(ChangingCustomer, "Insert");
            ASSERT_TRUE(waitShown(AddingPeople));
            EXPECT_TRUE(waitUntil([] { return entryText(AddingPeople, "Company:") == "Acme"; }))
                << "the new person is the customer's";
            type(AddingPeople, "Last Name:", "Smith");
            press(AddingPeople, "OK");
            ASSERT_TRUE(waitGone(AddingPeople));
            EXPECT_TRUE(waitUntil(
                [&] { return listColumn(ChangingCustomer, 1) == std::vector<std::string>{"Smith"}; }));
            EXPECT_EQ(entryText(ChangingCustomer, "City:"), "Oslo") << "the form's own record is kept";
            press(ChangingCustomer, "OK");
            EXPECT_TRUE(waitGone(ChangingCustomer));
        });
    EXPECT_EQ(response, fw::ResponseDone);
    EXPECT_EQ(boxes.titles(), std::vector<std::string>{"Save Record"});
}

namespace {

const char* const AddingCustomer = "Adding a Customer Record";

// Another station: this test program started again as a second process in the same working
// directory, running the test below in the role given. Everything the child needs is made before
// the fork (the parent has threads: the child only execs).
pid_t startOtherStation(const std::string& role, bool quiet) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=FormsTest.AsAnotherStation";
    std::vector<std::string> env = {"SORV_OTHER_STATION=" + role,
                                    "SORV_OTHER_DIR=" + fs::current_path().string()};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("SORV_OTHER_", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int null = quiet ? ::open("/dev/null", O_WRONLY) : -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        if (null >= 0) ::dup2(null, 1);
        char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()), nullptr};
        ::execve(self.c_str(), argv, envp.data());
        ::_exit(127);
    }
    if (null >= 0) ::close(null);
    return pid;
}

int runOtherStation(const std::string& role) {
    pid_t pid = startOtherStation(role, true);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

// The second process's part: "change N" changes customer N's company to "Theirs" in the Customer
// form; "insert" adds the customer "Theirs" in it; "saves" writes customers until it is killed.
TEST_F(FormsTest, AsAnotherStation) {
    const char* role = std::getenv("SORV_OTHER_STATION");
    if (!role) GTEST_SKIP() << "the part of another station, run by the tests below";
    fs::current_path(std::getenv("SORV_OTHER_DIR"));
    const std::string what = role;
    if (what == "saves") {
        run(
            [] {
                // What a form's saves do, as fast as they go: insert a customer, then change it.
                for (int i = 0;; ++i) {
                    AccessCustomer().PrimeBuffer();
                    const std::string name = "C" + std::to_string(i);
                    AccessCustomer().record().set("CUST:Company", Value(name));
                    AccessCustomer().record().set("CUST:City", Value(name));
                    ASSERT_EQ(AccessCustomer().Insert(), fw::LevelNone);
                    RelateCustomer().RememberLinkValues();
                    AccessCustomer().record().set("CUST:Country", Value(name));
                    ASSERT_EQ(RelateCustomer().Update(true), fw::LevelNone);
                }
            },
            [] {});
        return;
    }
    const bool change = what.rfind("change ", 0) == 0;
    const char* caption = change ? ChangingCustomer : AddingCustomer;
    int response = 0;
    run(
        [&] {
            if (change)
                loadCustomer(std::stoll(what.substr(7)));
            else
                AccessCustomer().PrimeBuffer();
            response = UpdateCustomer(change ? fw::RequestChange : fw::RequestInsert);
        },
        [&] {
            ASSERT_TRUE(waitShown(caption));
            type(caption, "Company:", "Theirs");
            press(caption, "OK");
            ASSERT_TRUE(waitGone(caption));
        });
    EXPECT_EQ(response, fw::ResponseDone);
}

// Two running copies: a change saved by the other one first is not overwritten (message 7 shows
// their record), and customers added at the same time get numbers of their own.
TEST_F(FormsTest, TwoStationsChangingAndAddingAtOnce) {
    Boxes boxes;
    std::int64_t acme = 0, mine = 0;
    int changed = 0, added = 0;
    run(
        [&] {
            acme = addCustomer("Acme");
            loadCustomer(acme);
            changed = UpdateCustomer(fw::RequestChange);
            EXPECT_EQ(storedCompany(acme), "Theirs");
            AccessCustomer().PrimeBuffer(); // the number is reserved before the other one adds
            mine = AccessCustomer().record().get("CUST:SysId").toLong();
            added = UpdateCustomer(fw::RequestInsert);
            EXPECT_EQ(storedCompany(mine), "Mine");
            EXPECT_EQ(count(AccessCustomer()), 3);
            EXPECT_EQ(storedCompany(mine + 1), "Theirs");
        },
        [&] {
            ASSERT_TRUE(waitShown(ChangingCustomer));
            type(ChangingCustomer, "Company:", "Mine");
            ASSERT_EQ(runOtherStation("change " + std::to_string(acme)), 0);
            press(ChangingCustomer, "OK");
            ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == 1; }));
            EXPECT_EQ(boxes.shown()[0].title, "Record Was Not Updated");
            EXPECT_NE(boxes.shown()[0].text.find("changed by another station"), std::string::npos);
            EXPECT_TRUE(waitUntil([] { return entryText(ChangingCustomer, "Company:") == "Theirs"; }));
            press(ChangingCustomer, "Cancel"); // their record is what the form now started from
            ASSERT_TRUE(waitGone(ChangingCustomer));

            ASSERT_TRUE(waitShown(AddingCustomer));
            type(AddingCustomer, "Company:", "Mine");
            ASSERT_EQ(runOtherStation("insert"), 0);
            press(AddingCustomer, "OK");
            ASSERT_TRUE(waitGone(AddingCustomer));
        });
    EXPECT_EQ(changed, fw::ResponseCancelled);
    EXPECT_EQ(added, fw::ResponseDone);
    EXPECT_EQ(boxes.shown().size(), 1u);
}

// A process killed while it saves leaves the table sound, each record whole or absent.
TEST_F(FormsTest, AKilledSaveLeavesTheTableSound) {
    pid_t pid = startOtherStation("saves", true);
    // Killed once it has written a few hundred records, in the middle of whatever it does then.
    ASSERT_TRUE(waitUntil(
        [] { return fs::exists("CUSTOMER.QNL") && fs::file_size("CUSTOMER.QNL") > 64 * 1024; }, 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
#ifdef SORVTOOL_PATH
    ToolRun check = sorvtool({"db", "check", "CUSTOMER"}, dir_.string());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
#endif
    std::int64_t whole = 0, seen = 0;
    run(
        [&] {
            AccessCustomer().EnsureFileOpen();
            setKey(AccessCustomer().file(), KeySysId);
            while (AccessCustomer().Next() == fw::LevelNone) {
                ++seen;
                Record& r = AccessCustomer().record();
                const std::string name(clipRight(r.get("CUST:Company").toText()));
                const std::string country(clipRight(r.get("CUST:Country").toText()));
                EXPECT_EQ(clipRight(r.get("CUST:City").toText()), name);
                whole += country.empty() || country == name;
            }
        },
        [] {});
    EXPECT_GT(seen, 0);
    EXPECT_EQ(whole, seen);
}
