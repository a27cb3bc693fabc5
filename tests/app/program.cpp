// The real program on the offscreen desktop: started as run.sh starts it, driven from outside
// through its widgets as a user would, and ended through its menu. Each run must end by itself:
// a window or thread left behind would hang the program end, which the watchdog turns into a
// failure.
#include "app/mainframe.h"
#include "app/weblinks.h"
#include "tests/app/program_rig.h"
#include "windowing/printer.h"

#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <atomic>

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

        // A toolbar button with no child open goes nowhere: the frame sees it once and drops it,
        // and nothing comes back to the frame's own queue.
        choose("Go to the First Page");
        EXPECT_TRUE(waitUntil([&] {
            std::lock_guard g(buttonsMutex);
            return !buttons.empty();
        }));
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
            // With the child active, a toolbar button goes to the child's thread.
            win::onGui([&] { mdiArea()->setActiveSubWindow(sub); });
            const std::size_t seen = [&] {
                std::lock_guard g(buttonsMutex);
                return buttons.size();
            }();
            choose("Go to the Next Record");
            // The frame handles the button on its own thread; the child must still stand then.
            EXPECT_TRUE(waitUntil([&] {
                std::lock_guard g(buttonsMutex);
                return buttons.size() > seen;
            }));
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
    ASSERT_FALSE(buttons.empty());
    EXPECT_EQ(buttons.front(), std::make_pair(2005, -1));
    for (std::size_t i = 1; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i].first, 2008);
        EXPECT_GT(buttons[i].second, 0) << "forwarded to the child's thread, button " << i;
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
