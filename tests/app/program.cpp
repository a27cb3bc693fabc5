// The real program on the offscreen desktop: started as run.sh starts it, driven from outside
// through its widgets as a user would, and ended through its menu. Each run must end by itself:
// a window or thread left behind would hang the program end, which the watchdog turns into a
// failure.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "app/mainframe.h"
#include "app/weblinks.h"
#include "data/files.h"
#include "runtime/inifile.h"
#include "tests/app/program_rig.h"
#include "windowing/printer.h"

#include <QClipboard>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <atomic>
#include <csignal>

namespace {

using namespace programtest;

struct TextShown {
    std::string text, selected;
    bool operator==(const TextShown&) const = default;
};

TextShown textOf(QMdiSubWindow* sub) {
    auto* edit = sub ? sub->findChild<QPlainTextEdit*>() : nullptr;
    if (!edit) return {"<no text box>", ""};
    return {edit->toPlainText().toStdString(), edit->textCursor().selectedText().toStdString()};
}

// A procedure started just before "E&xit" is held at its first wait for the runtime lock until
// the frame has closed, so that it runs only once the program is ending.
std::atomic<bool> holdArmed{false};
void holdUntilTheFrameCloses(win::LockStep step) {
    if (step != win::LockStep::Waiting || win::currentSlot() <= 0 || !holdArmed.exchange(false)) return;
    waitUntil([] { return win::frameWindow() == 0; });
}

QAction* frameAction(const QString& text) {
    for (QAction* a : frameWidget()->findChildren<QAction*>())
        if (a->text() == text) return a;
    return nullptr;
}

// Opens a frame menu as the user does (its items are brought up to date as it shows).
void openMenu(const QString& title) {
    for (QMenu* m : frameWidget()->findChildren<QMenu*>())
        if (m->title() == title) QMetaObject::invokeMethod(m, "aboutToShow");
}

bool anyToolbarButtonEnabled() {
    for (QAction* a : frameWidget()->findChild<QToolBar*>()->actions())
        if (a->isEnabled()) return true;
    return false;
}

} // namespace

TEST_F(ProgramTest, NotesAtStartEveryWindowOfTheMenuOpensAndClosesAndTheProgramEnds) {
    copyTexts();
    std::vector<std::pair<int, int>> buttons;
    std::mutex buttonsMutex;
    setToolbarButtonObserver([&](int control, int to) {
        std::lock_guard g(buttonsMutex);
        buttons.emplace_back(control, to);
    });
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() == 1; })) << "the notes open by themselves";
        ASSERT_TRUE(waitUntil([] { return win::startedThreadCount() == 1; }));
        // The window opens before its text is read and its passage highlighted.
        auto highlighted = [](const TextShown& t) {
            return t.selected.rfind("The main", 0) == 0 && t.selected.ends_with("order.");
        };
        EXPECT_TRUE(
            waitUntil([&] { return win::onGui([&] { return highlighted(textOf(children()[0])); }); }));
        TextShown atStart = win::onGui([] { return textOf(children()[0]); });
        EXPECT_EQ(win::onGui([] { return children()[0]->windowTitle().toStdString(); }), NotesCaption);
        EXPECT_GT(atStart.text.size(), atStart.selected.size());

        // Chosen from the menu the notes open a second time, on their own thread, showing the same.
        choose(menuText(menu::Notes));
        ASSERT_TRUE(waitUntil([] { return childCount() == 2; }));
        EXPECT_TRUE(waitUntil([] { return win::startedThreadCount() == 2; }));
        QMdiSubWindow* second = win::onGui([] { return children()[1]; });
        EXPECT_TRUE(waitUntil([&] { return win::onGui([&] { return textOf(second) == atStart; }); }));
        closeChild(second, 2);
        closeChild(win::onGui([] { return children()[0]; }), 1);
        EXPECT_TRUE(waitUntil([] { return win::startedThreadCount() == 0; }));

        // With no child open the toolbar's buttons cannot be pressed: nothing reaches the frame
        // and nothing comes back to the frame's own queue.
        EXPECT_FALSE(win::onGui(anyToolbarButtonEnabled));
        choose("Go to the First Page");
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(win::threadState(0)->queue.size(), 0u);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }

        // "&Print Setup ..." opens the printer set-up (not a print dialog); what it accepts holds.
        win::setPrinterChoice({"", "SvReport.PDF", 0, win::orientation::None});
        choose("&Print Setup ...");
        ASSERT_TRUE(waitUntil([] {
            return win::onGui([] {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d || d->windowTitle() != "Print Setup") return false;
                for (QRadioButton* b : d->findChildren<QRadioButton*>())
                    if (b->text() == "&Portrait") b->click();
                d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
                return true;
            });
        }));
        EXPECT_EQ(win::printerChoice().orientation, win::orientation::Portrait);

        // Every menu item that has a window opens it on a thread of its own and closes again.
        for (const MenuProcedure& p : menuProcedures()) {
            if (!p.procedure) continue;
            SCOPED_TRACE(p.name);
            choose(menuText(p.control));
            ASSERT_TRUE(waitUntil([] { return childCount() == 1; }));
            EXPECT_EQ(win::startedThreadCount(), 1);
            QMdiSubWindow* sub = win::onGui([] { return children()[0]; });
            if (p.control == menu::WebSites) {
                // Link buttons show the program's own hand cursor, read from its resources.
                EXPECT_TRUE(win::onGui([&] {
                    auto* b =
                        qobject_cast<QPushButton*>(findWidget(webLinks().front().caption, "QPushButton"));
                    return b && b->cursor().shape() == Qt::BitmapCursor && !b->cursor().pixmap().isNull();
                }));
            }
            // With the child active the toolbar follows it: a browse or form that drives the
            // toolbar enables what it can do (and a button goes to the child's thread); any other
            // window leaves every button disabled.
            win::onGui([&] { mdiArea()->setActiveSubWindow(sub); });
            const bool browse = p.control == menu::BrowseCustomer || p.control == menu::BrowsePeople ||
                                p.control == menu::BrowseParentChild;
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the window shows its state
            const bool enabled = win::onGui([] { return frameAction("Go to the Next Record")->isEnabled(); });
            if (!browse) EXPECT_FALSE(enabled);
            const std::size_t seen = [&] {
                std::lock_guard g(buttonsMutex);
                return buttons.size();
            }();
            choose("Go to the Next Record");
            // The frame handles the button on its own thread; the child must still stand then.
            EXPECT_EQ(waitUntil(
                          [&] {
                              std::lock_guard g(buttonsMutex);
                              return buttons.size() > seen;
                          },
                          enabled ? 10000 : 200),
                      enabled);
            closeChild(sub, 1);
            EXPECT_TRUE(waitUntil([] { return win::startedThreadCount() == 0; }));
        }

        // The frame closes with windows of other threads still open: they close down first.
        choose(menuText(menu::Quotes));
        choose(menuText(menu::WebSites));
        ASSERT_TRUE(waitUntil([] { return childCount() == 2; }));
        choose("E&xit");
    });
    setToolbarButtonObserver({});
    EXPECT_LE(buttons.size(), 3u) << "only an enabled button of a browse (three of them) can be pressed";
    for (const auto& [button, to] : buttons) {
        EXPECT_EQ(button, 2008);
        EXPECT_GT(to, 0) << "forwarded to the child's thread";
    }
    EXPECT_NE(ini().find("[Main]"), std::string::npos);
}

TEST_F(ProgramTest, FrameReopensWhereItWasClosedAndMaximisedKeepsOnlyMaximize) {
    copyTexts();
    auto frame = [] { return win::Window(win::frameWindow()); };
    auto started = [&] {
        EXPECT_TRUE(waitUntil([] { return childCount() == 1; }));
        return frame();
    };
    win::Rect left;
    runProgram([&] {
        win::Window f = started();
        f.setRect({30, 20, 400, 260});
        left = f.rect();
        choose("E&xit");
    });
    EXPECT_EQ(left.width, 400);
    EXPECT_EQ(left.height, 260);
    const std::string first = ini();
    EXPECT_NE(first.find("XPos=" + std::to_string(left.x)), std::string::npos) << first;
    EXPECT_NE(first.find("Width=400"), std::string::npos) << first;

    win::Rect reopened;
    runProgram([&] {
        win::Window f = started();
        reopened = f.rect();
        f.setState(win::WindowState::Maximized);
        choose("E&xit");
    });
    EXPECT_EQ(reopened, left);
    // Closed maximised: only "Maximize" changes, the earlier position stays for later.
    const std::string second = ini();
    EXPECT_NE(second.find("Maximize=Yes"), std::string::npos) << second;
    EXPECT_NE(second.find("Width=400"), std::string::npos) << second;

    win::WindowState state = win::WindowState::Normal;
    runProgram([&] {
        state = started().state();
        choose("E&xit");
    });
    EXPECT_EQ(state, win::WindowState::Maximized);

    // A place off every screen (stored on a larger desktop) comes back onto the screen, whole.
    WRITEINI("Main", "Maximize", std::string_view("No"), "sorvdemo.INI");
    WRITEINI("Main", "XPos", std::int64_t{3000}, "sorvdemo.INI");
    WRITEINI("Main", "YPos", std::int64_t{2000}, "sorvdemo.INI");
    QRect placed, screen;
    runProgram([&] {
        started();
        win::onGui([&] {
            placed = frameWidget()->geometry();
            screen = frameWidget()->screen()->availableGeometry();
        });
        choose("E&xit");
    });
    EXPECT_TRUE(screen.contains(placed))
        << placed.x() << "," << placed.y() << " on " << screen.width() << "x" << screen.height();
}

TEST_F(ProgramTest, MissingNotesFileShowsTheOpeningMessageAndAnEmptyWindow) {
    sorv::test::BoxAnswers answers({win::button::Ok});
    TextShown shown{"unset", ""};
    runProgram([&] {
        EXPECT_TRUE(waitUntil([&] { return answers.shown().size() == 1; }));
        EXPECT_TRUE(waitUntil(
            [] { return win::onGui([] { return QApplication::activeModalWidget() == nullptr; }); }));
        EXPECT_TRUE(waitUntil([] { return childCount() == 1; }));
        shown = win::onGui([] { return textOf(children()[0]); });
        choose("E&xit");
    });
    auto boxes = answers.shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("Problem opening Txt file: ", 0), 0u) << boxes[0].text;
    EXPECT_EQ(boxes[0].title, "");
    EXPECT_EQ(shown, (TextShown{"", ""}));
}

TEST_F(ProgramTest, AProcedureStartedAsTheFrameClosesRunsBeforeTheTearDownAndIsClosedDown) {
    copyTexts();
    std::atomic<int> ran{0}, dictionaryAlive{0};
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() == 1; }));
        closeChild(win::onGui([] { return children()[0]; }), 1);
        ASSERT_TRUE(waitUntil([] { return win::startedThreadCount() == 0; }));
        win::setRuntimeLockObserver(holdUntilTheFrameCloses);
        holdArmed = true;
        win::startProcedure([&](const std::string&) {
            ++ran;
            dictionaryAlive = !GlobalErrors().ERRORS.empty();
            // Its window opens after the frame has gone and must still be told to close.
            win::WindowSpec design;
            design.kind = win::WindowKind::MdiChild;
            design.caption = "Late";
            win::Window w;
            if (!w.open(design)) return;
            win::Event e;
            while (w.accept(e)) w.defaultAction(e);
        });
        choose("E&xit");
    });
    win::setRuntimeLockObserver(nullptr);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(dictionaryAlive, 1) << "the procedure ran after the dictionary's tear-down";
}

TEST_F(ProgramTest, TerminationSignalsEndTheProgramAsExitDoesAndKeepItsPlace) {
    copyTexts();
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        fs::remove(dir_ / "sorvdemo.INI");
        win::Rect left;
        runProgram([&] {
            ASSERT_TRUE(waitUntil([] { return childCount() == 1; }));
            win::Window f(win::frameWindow());
            f.setRect({40, 30, 420, 280});
            left = f.rect();
            ::kill(::getpid(), signal);
        });
        EXPECT_NE(ini().find("XPos=" + std::to_string(left.x)), std::string::npos) << ini();
        EXPECT_NE(ini().find("Width=420"), std::string::npos) << ini();
    }
}

TEST_F(ProgramTest, ADamagedTableIsReportedByTheDriver) {
    copyTexts();
    ASSERT_EQ(writeDemoData(dir_.string(), DemoDataOptions{40, 10, 1}), "");
    // A byte of every record page is flipped (its checksum no longer holds); keys stay sound.
    {
        std::fstream f(dir_ / "CUSTOMER.QNL", std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(0, std::ios::end);
        const std::streamoff size = f.tellg();
        int damaged = 0;
        for (std::streamoff page = 4096; page + 4096 <= size; page += 4096) {
            f.seekg(page);
            if (f.get() != 3) continue; // a record page
            f.seekg(page + 100);
            const char c = static_cast<char>(f.get());
            f.seekp(page + 100);
            f.put(static_cast<char>(c ^ 0x20));
            ++damaged;
        }
        ASSERT_GT(damaged, 0);
    }
    sorv::test::BoxAnswers boxes(std::vector<int>(20, win::button::Ok));
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() == 1; }));
        // A procedure reads every customer through the dictionary's file manager.
        win::startProcedure([](const std::string&) {
            fw::FileManager& customers = AccessCustomer();
            if (customers.Open() != fw::LevelNone) return;
            set(customers.file());
            while (customers.Next() == fw::LevelNone) {
            }
            customers.Close();
        });
        EXPECT_TRUE(waitUntil([&] {
            for (const auto& b : boxes.shown())
                if (b.title == "Quarnell File Driver Error") return true;
            return false;
        }));
        choose("E&xit");
    });
    bool reported = false;
    for (const auto& b : boxes.shown())
        if (b.title == "Quarnell File Driver Error") {
            reported = true;
            EXPECT_EQ(b.text.rfind("Possible data corruption in file (", 0), 0u) << b.text;
        }
    EXPECT_TRUE(reported);
}

TEST(ProgramStart, WithoutADisplayItSaysSoAndEndsWithAStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static char name[] = "sorvdemo";
    static char* argv[] = {name, nullptr};
    for (const char* display : {"", ":97"}) {
        EXPECT_EXIT(
            {
                ::unsetenv("QT_QPA_PLATFORM");
                ::unsetenv("WAYLAND_DISPLAY");
                if (*display)
                    ::setenv("DISPLAY", display, 1);
                else
                    ::unsetenv("DISPLAY");
                std::exit(runSorvdemo(1, argv));
            },
            ::testing::ExitedWithCode(NoDisplayStatus), "no display could be opened")
            << display;
    }
}

TEST_F(ProgramTest, AFailedLinkSaysWhatItTriedToOpenWithTheShellsCode) {
    sorv::test::BoxAnswers answers({win::button::Ok});
    int result = 0;
    sorv::test::runWithDesktop([&] { result = followLink(webLinks()[2]); }); // no Order.Frm here
    EXPECT_EQ(result, 2);
    auto boxes = answers.shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("error 2: ", 0), 0u) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("Order.Frm"), std::string::npos) << boxes[0].text;
}

TEST_F(ProgramTest, ChildWindowsFollowTheDesktopsConventions) {
    copyTexts();
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() == 1; }));
        // With no window whose browse or form drives them, the toolbar's buttons cannot be pressed.
        EXPECT_FALSE(win::onGui(anyToolbarButtonEnabled));
        choose(menuText(menu::Quotes));
        ASSERT_TRUE(waitUntil([] { return childCount() == 2; }));
        EXPECT_FALSE(win::onGui(anyToolbarButtonEnabled));
        win::onGui([] {
            // Every child shows the program's icon.
            const QImage program = frameWidget()->windowIcon().pixmap(16).toImage();
            EXPECT_FALSE(program.isNull());
            for (QMdiSubWindow* sub : children()) EXPECT_EQ(sub->windowIcon().pixmap(16).toImage(), program);
            // Cascade keeps every child at a usable size, not a bare title bar.
            frameAction("&Cascade")->trigger();
            for (QMdiSubWindow* sub : children())
                EXPECT_GE(sub->widget()->height(), 100) << sub->windowTitle().toStdString();
            // In the read-only notes text nothing can be cut or pasted; the selection can be copied.
            QMdiSubWindow* notes = children()[0];
            mdiArea()->setActiveSubWindow(notes);
            auto* text = notes->findChild<QPlainTextEdit*>();
            text->setFocus();
            text->selectAll();
            QApplication::clipboard()->setText("pasted");
            openMenu("&Edit");
            EXPECT_FALSE(frameAction("Cu&t")->isEnabled());
            EXPECT_TRUE(frameAction("&Copy")->isEnabled());
            EXPECT_FALSE(frameAction("&Paste")->isEnabled());
            // A minimised child chosen from the Window menu's list comes back to be worked in.
            QMdiSubWindow* quotes = children()[1];
            quotes->showMinimized();
            openMenu("&Window");
            QAction* listed = nullptr;
            for (QAction* a : frameWidget()->findChildren<QAction*>())
                if (a->property("sorvWindowList").toBool() && a->text().endsWith(quotes->windowTitle()))
                    listed = a;
            ASSERT_TRUE(listed);
            listed->trigger();
            EXPECT_FALSE(quotes->isMinimized());
            EXPECT_EQ(mdiArea()->activeSubWindow(), quotes);
            // Ctrl+F4 asks the active child to close.
            for (QShortcut* s : frameWidget()->findChildren<QShortcut*>())
                if (s->key() == QKeySequence(Qt::CTRL | Qt::Key_F4)) emit s->activated();
        });
        EXPECT_TRUE(waitUntil([] { return childCount() == 1; }));
        EXPECT_EQ(win::onGui([] { return children()[0]->windowTitle().toStdString(); }), NotesCaption);
        choose("E&xit");
    });
}
