// Windows, controls, event loops, message boxes and desktop services against real widgets under
// the offscreen platform.
#include "harness.h"
#include "input_rig.h"
#include "lock_record.h"

#include "runtime/errors.h"
#include "runtime/field.h"
#include "runtime/picture.h"
#include "windowing/control.h"
#include "windowing/threads.h"
#include "windowing/window.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::win;
using sorv::test::BoxAnswers;
using sorv::test::findWidget;
using sorv::test::runWithDesktop;

using sorv::test::nextOf;

namespace {

WindowSpec formSpec(const std::string& caption) {
    WindowSpec s;
    s.kind = WindowKind::MdiChild;
    s.caption = caption;
    s.at = {10, 10, 200, 120};
    s.add("PROMPT", 1, {4, 4, 40, 10}, "&Company:");
    s.add("ENTRY", 2, {50, 4, 100, 10});
    s.add("CHECK", 3, {4, 20, 60, 10}, "&Active");
    s.add("BUTTON", 4, {4, 100, 40, 14}, "&OK");
    s.add("BUTTON", 5, {50, 100, 40, 14}, "&Cancel");
    return s;
}

Event next(Window& w) {
    Event e;
    EXPECT_TRUE(w.accept(e));
    return e;
}

} // namespace

TEST(DialogUnits, MultiplyThenDivideRounded) {
    EXPECT_EQ(dialogToPixels(4, 6, 4), 6);
    EXPECT_EQ(dialogToPixels(3, 7, 4), 5); // 21/4 = 5.25
    EXPECT_EQ(dialogToPixels(2, 7, 4), 4); // 3.5 rounds up
    EXPECT_EQ(dialogToPixels(8, 13, 8), 13);
    EXPECT_EQ(dialogToPixels(-2, 7, 4), -4);
    EXPECT_EQ(dialogToPixels(1000000, 2000, 3), 666666667);
    EXPECT_EQ(pixelsToDialog(6, 6, 4), 4);
    EXPECT_EQ(dialogToPixels(5, 3, 0), 5); // a broken factor leaves units as they are
}

TEST(Resources, OneBuilderPerName) {
    EXPECT_TRUE(registerWindowResource("test$ONE", [] { return formSpec("One"); }));
    EXPECT_FALSE(registerWindowResource("test$ONE", [] { return formSpec("Other"); }));
    auto design = buildWindowResource("test$ONE");
    ASSERT_TRUE(design);
    EXPECT_EQ(design->caption, "One");
    EXPECT_FALSE(buildWindowResource("test$NONE"));
}

TEST(Windows, FirstEventIsOpenWindowAndControlsPostTheirEvents) {
    Record rec([] {
        Layout l;
        l.add("CUS:Company", FieldType::String, 20);
        l.add("CUS:Active", FieldType::Byte);
        l.add("CUS:Amount", FieldType::Real, 0, 0, "@n9.2");
        return l;
    }());
    rec.set("CUS:Company", "Old Name");
    std::string seenInHandler;
    runWithDesktop([&] {
        WindowSpec design = formSpec("Customer");
        design.controls[1].use = rec.ref("CUS:Company");
        design.controls[2].use = rec.ref("CUS:Active");
        auto& amount = design.add("ENTRY", 6, {50, 40, 60, 10}, "Amount");
        amount.use = rec.ref("CUS:Amount");
        amount.picture = "@n9.2";
        rec.set("CUS:Amount", 1234.5);
        Window w;
        ASSERT_TRUE(w.open(design));
        EXPECT_EQ(next(w).code, event::OpenWindow);
        EXPECT_EQ(w.text(2), "Old Name");
        EXPECT_EQ(w.text(3), "0");
        EXPECT_EQ(w.text(6), FORMAT(Value(1234.5), "@n9.2"));
        EXPECT_NE(w.text(6), "1234.5");
        EXPECT_EQ(w.caption(), "Customer");

        onGui([] {
            auto* ok = static_cast<QPushButton*>(findWidget("OK", "QPushButton"));
            ASSERT_TRUE(ok);
            ok->click();
            auto* edit = static_cast<QLineEdit*>(findWidget("Company:", "QLineEdit"));
            ASSERT_TRUE(edit) << "the entry is named by its prompt";
            edit->setText("New Name");
            edit->setModified(true);
            emit edit->editingFinished();
            static_cast<QCheckBox*>(findWidget("Active", "QCheckBox"))->click();
        });
        Event e = nextOf(w, event::Accepted);
        EXPECT_EQ(e.control, 4);
        e = nextOf(w, event::Accepted);
        EXPECT_EQ(e.control, 2);
        // The variable holds the accepted text before the program sees the event.
        seenInHandler = rec.get("CUS:Company").toText();
        e = nextOf(w, event::Accepted);
        EXPECT_EQ(e.control, 3);
        EXPECT_EQ(rec.get("CUS:Active").toLong(), 1);
        onGui([] {
            auto* edit = static_cast<QLineEdit*>(findWidget("Amount", "QLineEdit"));
            edit->setText("2,500.25");
            edit->setModified(true);
            emit edit->editingFinished();
        });
        e = nextOf(w, event::Accepted);
        EXPECT_EQ(e.control, 6);
        EXPECT_DOUBLE_EQ(rec.get("CUS:Amount").toReal(), 2500.25);

        rec.set("CUS:Company", "Shown");
        w.display();
        EXPECT_EQ(w.text(2), "Shown");
        w.close();
        EXPECT_FALSE(w.isOpen());
        EXPECT_FALSE(w.accept(e));
    });
    EXPECT_EQ(seenInHandler.substr(0, 8), "New Name");
}

TEST(Windows, CloseRequestIsAnEventWhoseDefaultCloses) {
    runWithDesktop([] {
        Window w;
        ASSERT_TRUE(w.open(formSpec("Closing")));
        const int id = w.id();
        onGui([] { findWidget("Closing")->close(); });
        Event e = nextOf(w, event::CloseWindow);
        // Handled (the default skipped): still open.
        EXPECT_TRUE(w.isOpen());
        EXPECT_TRUE(onGui([] { return findWidget("Closing") != nullptr; }));
        onGui([] { findWidget("Closing")->close(); });
        e = nextOf(w, event::CloseWindow);
        w.defaultAction(e);
        EXPECT_FALSE(w.isOpen());
        EXPECT_FALSE(w.accept(e));
        EXPECT_FALSE(onGui([] { return findWidget("Closing") != nullptr; }));
        EXPECT_EQ(Window(id).text(2), "");
    });
}

TEST(Windows, ModalWindowLeavesItsParentsEventsWaitingInOrder) {
    runWithDesktop([] {
        Window parent, modal;
        ASSERT_TRUE(parent.open(formSpec("Parent")));
        EXPECT_EQ(nextOf(parent, event::OpenWindow).window, parent.id());
        WindowSpec m = formSpec("Modal");
        m.kind = WindowKind::Window;
        m.modal = true;
        ASSERT_TRUE(modal.open(m));
        for (int i = 1; i <= 3; ++i) {
            parent.post(event::Accepted, i);
            modal.post(event::Accepted, 10 + i);
        }
        Window::postToThread(currentSlot(), event::Notify); // goes to the newest window
        EXPECT_EQ(nextOf(modal, event::OpenWindow).window, modal.id());
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(nextOf(modal, event::Accepted).control, 10 + i);
        EXPECT_EQ(nextOf(modal, event::Notify).window, modal.id());
        modal.post(event::CloseWindow);
        Event e = nextOf(modal, event::CloseWindow);
        modal.defaultAction(e);
        EXPECT_FALSE(modal.accept(e));
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(nextOf(parent, event::Accepted).control, i);
        parent.close();
    });
}

TEST(Windows, ThreadsOwnTheirWindowsAndPostAcross) {
    std::atomic<int> childSlot{-1};
    std::vector<int> received;
    std::atomic<bool> leftOpen{true};
    runWithDesktop([&] {
        WindowSpec frame;
        frame.kind = WindowKind::Frame;
        frame.caption = "Frame";
        frame.at = {0, 0, 400, 300};
        Window f;
        ASSERT_TRUE(f.open(frame));
        EXPECT_EQ(frameWindow(), f.id());
        int slot = startProcedure([&](const std::string&) {
            Window w;
            ASSERT_TRUE(w.open(formSpec("Child")));
            childSlot = currentSlot();
            EXPECT_EQ(w.ownerThread(), currentSlot());
            Window::postToThread(0, event::Accepted, 77); // tell the frame we are ready
            Event e;
            while (w.accept(e)) {
                if (e.code == event::Accepted) received.push_back(e.control);
                if (e.control == 3) break;
            }
            // Returns with the window still open: the thread's end closes it.
        });
        EXPECT_EQ(slot, 1);
        EXPECT_EQ(nextOf(f, event::Accepted).control, 77);
        EXPECT_TRUE(onGui([] {
            auto* sub = qobject_cast<QMdiSubWindow*>(findWidget("Child"));
            return sub && sub->mdiArea();
        })) << "the child is an MDI window of the frame";
        onGui([] {
            qobject_cast<QMdiSubWindow*>(findWidget("Child"))
                ->mdiArea()
                ->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(findWidget("Child")));
        });
        EXPECT_EQ(activeChildThread(), 1);
        Window::postToThread(1, event::Accepted, 1);
        Window::postToThread(1, event::Accepted, 2);
        Window::postToThread(1, event::Accepted, 3);
        waitForAllThreads();
        leftOpen = onGui([] { return findWidget("Child") != nullptr; });
        EXPECT_EQ(activeChildThread(), -1);
        f.close();
    });
    EXPECT_EQ(childSlot, 1);
    EXPECT_EQ(received, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(leftOpen);
}

TEST(Windows, EventsOfWindowsOnTwoThreadsAreNeverHandledTogether) {
    // Thousands of events for a window on each of two threads, some posted by the program and
    // some by the desktop (button clicks); the lock's own record shows who held it when.
    constexpr int posted = 2000, clicked = 100;
    sorv::test::LockRecord record;
    std::atomic<int> outOfOrder{0}, wrongText{0};
    runWithDesktop([&] {
        for (int t = 0; t < 2; ++t)
            startProcedure([&, t](const std::string&) {
                Window w;
                ASSERT_TRUE(w.open(formSpec("Busy " + std::to_string(t))));
                Window::postToThread(0, event::Notify);
                Event e;
                int next = 0, clicks = 0;
                while (w.accept(e)) {
                    if (e.code != event::Accepted) continue;
                    record.work();
                    if (e.control == 4) {
                        ++clicks;
                    } else if (e.control - 100 != next++) {
                        ++outOfOrder;
                    }
                    if (next % 100 == 0) { // a desktop call inside the handler now and then
                        w.setText(2, std::to_string(next));
                        if (w.text(2) != std::to_string(next)) ++wrongText;
                    }
                    if (next == posted && clicks == clicked) break;
                }
            });
        for (int opened = 0; opened < 2; ++opened) currentThreadState()->queue.take(-1, true);
        for (int i = 0; i < posted; ++i) {
            for (int slot : {1, 2}) Window::postToThread(slot, event::Accepted, 100 + i);
            if (i % (posted / clicked) == 0)
                onGui([] { // the desktop posts to both threads at once
                    for (QWidget* w : QApplication::allWidgets())
                        if (w->accessibleName() == "OK") static_cast<QPushButton*>(w)->click();
                });
        }
    });
    auto s = record.summary();
    EXPECT_EQ(s.overlaps, 0);
    EXPECT_EQ(s.strayReleases, 0);
    EXPECT_EQ(s.unheldWork, 0);
    EXPECT_EQ(s.workBySlot[1], posted + clicked);
    EXPECT_EQ(s.workBySlot[2], posted + clicked);
    // Both threads ran side by side: one waited for the lock while the other held it, and the
    // handling went back and forth between them (how often, and which of them had to wait, depends
    // on the machine's scheduling: on a loaded machine one thread may never find the lock taken).
    EXPECT_GT((s.contention[{1, 2}] + s.contention[{2, 1}]), 0);
    EXPECT_GE(s.switches, 2);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(wrongText, 0);
}

TEST(Windows, UnknownControlTypeOrResourceOpensNothing) {
    runWithDesktop([] {
        WindowSpec s = formSpec("Broken");
        s.add("NOSUCH", 9, {0, 0, 10, 10});
        Window w;
        EXPECT_FALSE(w.open(s));
        EXPECT_FALSE(w.isOpen());
        EXPECT_FALSE(onGui([] { return findWidget("Broken") != nullptr; }));
        EXPECT_FALSE(w.open("test$MISSING"));
        EXPECT_NE(errorCode(), 0);
        WindowSpec lonely = formSpec("Lonely tab");
        lonely.add("TAB", 9, {0, 0, 10, 10}, "No sheet");
        EXPECT_FALSE(w.open(lonely));
    });
}

namespace {
struct Rows : ControlData {
    std::vector<std::string> rows;
};
// A control type from outside the standard set, as the list box joins.
class RowsControl : public Control {
public:
    RowsControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        label_ = new QLabel(host.containerFor(design.parent));
        describe(label_, QString::fromStdString(design.text), {});
    }
    QWidget* widget() const override { return label_; }
    void setData(std::shared_ptr<const ControlData> data) override {
        if (auto* rows = dynamic_cast<const Rows*>(data.get())) {
            onGuiThreadWhenSet = onGuiThread();
            label_->setText(QString::number(rows->rows.size()));
        }
    }
    QString text() const override { return label_->text(); }
    static inline bool onGuiThreadWhenSet = false;

private:
    QLabel* label_;
};
} // namespace

TEST(Controls, RegisteredTypeIsMadeAndGetsPushedData) {
    auto f = [](ControlHost& h, const ControlSpec& s) -> std::unique_ptr<Control> {
        return std::make_unique<RowsControl>(h, s);
    };
    EXPECT_TRUE(registerControlType("TESTROWS", f));
    EXPECT_FALSE(registerControlType("TESTROWS", f));
    EXPECT_FALSE(registerControlType("BUTTON", f));
    runWithDesktop([] {
        WindowSpec s = formSpec("Rows");
        s.add("TESTROWS", 20, {0, 40, 100, 40}, "Row list");
        Window w;
        ASSERT_TRUE(w.open(s));
        auto rows = std::make_shared<Rows>();
        rows->rows = {"a", "b", "c"};
        w.setData(20, rows);
        EXPECT_EQ(w.text(20), "3");
        EXPECT_TRUE(RowsControl::onGuiThreadWhenSet);
    });
}

TEST(Controls, SheetTabsTextProgressAndAccessibleNames) {
    runWithDesktop([] {
        WindowSpec s;
        s.caption = "Sheet";
        s.at = {0, 0, 200, 150};
        s.add("SHEET", 1, {2, 2, 190, 100}, "Pages");
        s.add("TAB", 2, {}, "&By Name").parent = 1;
        s.add("TAB", 3, {}, "By &City").parent = 1;
        s.add("BUTTON", 4, {10, 40, 40, 14}, "On &Two").parent = 3;
        auto& text = s.add("TEXT", 5, {2, 104, 190, 30});
        text.readOnly = true;
        text.vscroll = true;
        text.tip = "Notes";
        s.add("PROGRESS", 6, {2, 136, 100, 8});
        Window w;
        ASSERT_TRUE(w.open(s));
        EXPECT_EQ(w.property(1, prop::Tabs), "2");
        EXPECT_EQ(w.property(1, prop::Selected), "1");
        onGui([] { static_cast<QTabWidget*>(findWidget("Pages", "QTabWidget"))->setCurrentIndex(1); });
        Event e = nextOf(w, event::TabChanging);
        EXPECT_EQ(e.param, 2);
        e = nextOf(w, event::NewSelection);
        EXPECT_EQ(e.control, 1);
        EXPECT_EQ(e.param, 2);
        w.setProperty(1, prop::Selected, "1"); // set by the program: no events
        EXPECT_EQ(w.property(1, prop::Selected), "1");
        w.setProperty(1, prop::Selected, "9");
        EXPECT_EQ(w.property(1, prop::Selected), "1");

        const std::string notes = "The notes. The main list shows customers in order. End.";
        w.setText(5, notes);
        w.setProperty(5, 11, "12");
        w.setProperty(5, 12, "50");
        EXPECT_EQ(w.property(5, 11), "12");
        EXPECT_EQ(w.property(5, 12), "50");
        EXPECT_EQ(onGui([] {
                      auto* t = static_cast<QPlainTextEdit*>(findWidget("Notes", "QPlainTextEdit"));
                      return t->textCursor().selectedText().toStdString() + (t->isReadOnly() ? "|ro" : "");
                  }),
                  "The main list shows customers in order.|ro");
        w.setProperty(5, 12, "100000"); // past the end: clamped
        EXPECT_EQ(w.property(5, 12), std::to_string(notes.size()));

        w.setProperty(6, prop::RangeHigh, "200");
        w.setProperty(6, prop::Progress, "150");
        EXPECT_EQ(w.property(6, prop::Progress), "150");
        w.setText(6, "500");
        EXPECT_EQ(w.text(6), "200");

        // Accessible names come from captions without their accelerator marks.
        EXPECT_EQ(onGui([] {
                      QWidget* b = findWidget("On Two", "QPushButton");
                      if (!b) return std::string("missing");
                      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
                      return a ? a->text(QAccessible::Name).toStdString() : std::string("no interface");
                  }),
                  "On Two");
        EXPECT_EQ(withoutAccelerators("Save && &Close").toStdString(), "Save & Close");
        w.hide(4);
        EXPECT_EQ(w.property(4, prop::Hide), "1");
        w.enable(4, false);
        EXPECT_EQ(w.property(4, prop::Disable), "1");
    });
}

TEST(MessageBoxes, ButtonsDefaultIconAndAnswer) {
    BoxAnswers answers({button::No, button::Yes});
    int first = 0, second = 0, none = 0;
    runWithDesktop([&] {
        first = message("Are you sure?|Really?", "Confirm", icon::Question, button::Yes + button::No,
                        button::Yes);
        second = message("Again", "Confirm", iconOfString("\xFF\x01\x04\x7F"), button::Yes + button::No,
                         button::No);
        none = 0;
    });
    auto shown = answers.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(first, button::No);
    EXPECT_EQ(second, button::Yes);
    EXPECT_EQ(shown[0].title, "Confirm");
    EXPECT_EQ(shown[0].text, "Are you sure?\nReally?");
    EXPECT_EQ(shown[0].icon, QMessageBox::Question);
    EXPECT_EQ(shown[0].buttons, (std::vector<int>{button::Yes, button::No}));
    EXPECT_EQ(shown[0].defaultButton, button::Yes);
    EXPECT_EQ(shown[1].icon, QMessageBox::Warning);
    EXPECT_EQ(shown[1].defaultButton, button::No);
    EXPECT_EQ(iconOfString("xx"), icon::None);
}

TEST(MessageBoxes, WaitingBoxGivesTheLockUp) {
    // The box is answered by another program thread, which needs the runtime lock to do so.
    BoxAnswers answers;
    std::atomic<int> helperSlot{-1};
    answers.onShown = [&](QMessageBox*) { Window::postToThread(helperSlot, event::Notify); };
    int answer = 0;
    runWithDesktop([&] {
        helperSlot = startProcedure([](const std::string&) {
            currentThreadState()->queue.take(1, true);
            EXPECT_TRUE(holdsRuntimeLock());
            onGui([] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                        sorv::test::clickBoxButton(box, button::Retry);
            });
        });
        answer =
            message("Try again?", "Wait", icon::Exclamation, button::Retry + button::Cancel, button::Cancel);
        EXPECT_TRUE(holdsRuntimeLock());
    });
    EXPECT_EQ(answer, button::Retry);
}

TEST(Frame, MenusToolbarStatusAndStandardActions) {
    runWithDesktop([] {
        WindowSpec s;
        s.kind = WindowKind::Frame;
        s.caption = "Demo Frame";
        s.at = {0, 0, 400, 300};
        s.statusText = "Ready";
        MenuItem file{"&File", 0, "File things", StdAction::None, {}, {}};
        file.items.push_back({"&Browse", 101, "Browse the customers", StdAction::None, {}, {}});
        file.items.push_back({});
        file.items.push_back({"E&xit", 0, "Leave", StdAction::CloseFrame, {}, {}});
        MenuItem window{"&Window", 0, "", StdAction::None, {}, {}};
        window.items.push_back({"&Tile", 0, "", StdAction::Tile, {}, {}});
        window.items.push_back({"", 0, "", StdAction::WindowList, {}, {}});
        MenuItem help{"&Help", 0, "", StdAction::None, {}, {}};
        help.items.push_back({"&Contents", 0, "", StdAction::HelpIndex, {}, {}});
        s.menus = {file, window, help};
        s.toolbar = {{201, "", "Browse customers"}, {202, "", "Print"}};
        Window f;
        ASSERT_TRUE(f.open(s));
        EXPECT_EQ(onGui([] {
                      auto* frame = static_cast<QMainWindow*>(findWidget("Demo Frame"));
                      std::string out;
                      for (QAction* m : frame->menuBar()->actions()) {
                          out += m->text().toStdString() + "[";
                          for (QAction* a : m->menu()->actions())
                              out += (a->isSeparator() ? std::string("-") : a->text().toStdString()) + "(" +
                                     a->statusTip().toStdString() + ")";
                          out += "]";
                      }
                      return out;
                  }),
                  "&File[&Browse(Browse the customers)-()E&xit(Leave)]&Window[&Tile()-()]&Help[&Contents()]");
        // The frame's action of that text (GUI thread).
        auto action = [](const QString& text) -> QAction* {
            for (QAction* a : static_cast<QMainWindow*>(findWidget("Demo Frame"))->findChildren<QAction*>())
                if (a->text() == text) return a;
            ADD_FAILURE() << text.toStdString();
            return nullptr;
        };
        auto trigger = [&](const QString& text) { onGui([&] { action(text)->trigger(); }); };
        trigger("&Browse");
        EXPECT_EQ(nextOf(f, event::Accepted).control, 101);
        // The toolbar's buttons wait, disabled, for the active window to enable what it can do.
        EXPECT_FALSE(onGui([&] { return action("Print")->isEnabled(); }));
        f.enable(202, true);
        EXPECT_TRUE(onGui([&] { return action("Print")->isEnabled(); }));
        trigger("Print");
        EXPECT_EQ(nextOf(f, event::Accepted).control, 202);
        EXPECT_EQ(onGui([&] { return action("Print")->toolTip().toStdString(); }), "Print");
        f.enable(101, false);
        EXPECT_FALSE(onGui([&] { return action("&Browse")->isEnabled(); }));
        // The help items open the help window, without an event for the program.
        trigger("&Contents");
        EXPECT_TRUE(onGui([] {
            QWidget* h = findWidget("Help page");
            bool shown = h && h->isVisible();
            if (h) h->window()->close();
            return shown;
        }));
        trigger("E&xit");
        Event e = nextOf(f, event::CloseWindow);
        f.defaultAction(e);
        EXPECT_FALSE(f.isOpen());
    });
}

TEST(Desktop, ShellClipboardAndSessionEnd) {
    BoxAnswers answers({button::Ok});
    struct Catcher : QObject {
        Q_INVOKABLE void open(const QUrl& url) { opened.push_back(url.toString().toStdString()); }
        std::vector<std::string> opened;
    };
    runWithDesktop([&] {
        EXPECT_EQ(shellOpen("/no/such/file.htm"), 2);
        EXPECT_EQ(shellOpen(""), 2);
        EXPECT_EQ(runCommand("Notepad.EXE /no/such/Order.Frm"), 2);
        EXPECT_EQ(runCommand(""), 2);
        EXPECT_EQ(runCommand("/no/such/program arg"), 2);

        Window w;
        ASSERT_TRUE(w.open(formSpec("Picture")));
        EXPECT_TRUE(copyWindowImage(w.id()));
        EXPECT_EQ(onGui([] { return QApplication::clipboard()->image().size(); }),
                  onGui([] { return findWidget("Picture")->size(); }));
        EXPECT_FALSE(copyWindowImage(999999));
        EXPECT_TRUE(refuseSessionEnd());
    });
    EXPECT_FALSE(refuseSessionEnd()) << "no program runs any more";
    auto shown = answers.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Application still active.\n\nQuit the application before quitting Windows.");
    EXPECT_EQ(shown[0].title, "test_windowing_desktop");
    EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
}
