// Windows used with the keyboard alone: tab order by layout, mnemonics, Enter and Esc, the list's
// column menu and header click from the keyboard. (That every control is named and the sort mark
// is said in words is checked on the real program's windows, tests/app/keyboard.cpp.)
#include "harness.h"
#include "input_rig.h"

#include "windowing/listbox_control.h"
#include "windowing/window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::win;
using sorv::test::runWithDesktop;

using sorv::test::nextOf;
using sorv::test::pressKey;

namespace {

std::string focused() {
    return onGui([] {
        QWidget* f = QApplication::focusWidget();
        return f ? f->accessibleName().toStdString() : std::string("<none>");
    });
}

// The controls of a form listed out of their places: the tab order must follow the places.
WindowSpec form(bool modal) {
    WindowSpec s;
    s.kind = WindowKind::Window;
    s.modal = modal;
    s.caption = "Update the Customer File";
    s.at = {10, 10, 220, 120};
    s.add("BUTTON", 20, {120, 96, 40, 14}, "Cancel");
    s.add("PROMPT", 3, {4, 24, 40, 10}, "&City:");
    s.add("ENTRY", 4, {50, 24, 100, 12});
    s.add("PROMPT", 1, {4, 6, 40, 10}, "C&ompany:");
    s.add("ENTRY", 2, {50, 6, 100, 12}).tip = "Company Name";
    s.add("CHECK", 5, {4, 44, 60, 10}, "&Active");
    s.add("BUTTON", 6, {160, 6, 16, 12}).tip = "Select a customer";
    ControlSpec& ok = s.add("BUTTON", 10, {70, 96, 40, 14}, "OK");
    ok.defaultButton = true;
    if (modal) s.controls.erase(s.controls.begin()); // a dialog with OK only
    return s;
}

} // namespace

TEST(Keyboard, FormByTabMnemonicsEnterAndEsc) {
    runWithDesktop([] {
        Window w;
        ASSERT_TRUE(w.open(form(false)));
        w.select(2);
        std::vector<std::string> order{focused()};
        for (int i = 0; i < 6; ++i) {
            pressKey(Qt::Key_Tab);
            order.push_back(focused());
        }
        EXPECT_EQ(order, (std::vector<std::string>{"Company:", "Select a customer", "City:", "Active", "OK",
                                                   "Cancel", "Company:"}));

        // A prompt's mnemonic goes to its entry; Enter there gives the entry's text first, then
        // presses the default button.
        pressKey(Qt::Key_C, Qt::AltModifier, "c");
        EXPECT_EQ(focused(), "City:");
        pressKey(Qt::Key_O, Qt::AltModifier, "o");
        EXPECT_EQ(focused(), "Company:");
        onGui([] { static_cast<QLineEdit*>(QApplication::focusWidget())->insert("Smith"); });
        pressKey(Qt::Key_Return);
        Event e = nextOf(w, event::Accepted);
        EXPECT_EQ(e.control, 2);
        EXPECT_EQ(e.text, "Smith");
        EXPECT_EQ(nextOf(w, event::Accepted).control, 10);
        // Enter on a focused button presses that button, Esc the cancel button.
        w.select(20);
        pressKey(Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(nextOf(w, event::Accepted).control, 20);
        w.select(5);
        pressKey(Qt::Key_Escape);
        EXPECT_EQ(nextOf(w, event::Accepted).control, 20);
        w.close();

        // A dialog without a cancel button: Esc closes it as its close box does.
        Window d;
        ASSERT_TRUE(d.open(form(true)));
        d.select(4);
        pressKey(Qt::Key_Escape);
        EXPECT_EQ(nextOf(d, event::CloseWindow).window, d.id());
        d.close();
    });
}

TEST(Keyboard, ListColumnMenuAndHeaderClickFromTheKeyboard) {
    runWithDesktop([] {
        WindowSpec s;
        s.caption = "Customers";
        s.at = {10, 10, 300, 160};
        ControlSpec& list = s.add("LIST", 2, {4, 4, 280, 120}, "Browsing Records");
        list.format = "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@60R(2)|M~Amount~@n9.2@";
        Window w;
        ASSERT_TRUE(w.open(s));
        auto rows = std::make_shared<ListRowsData>();
        for (int i = 1; i <= 5; ++i) rows->rows.push_back({"Company " + std::to_string(i), "City", "1"});
        w.setData(2, rows);
        w.setProperty(2, listprop::MouseHook, "1");
        w.setProperty(2, listprop::AlertKeys, "0x82");
        w.setProperty(2, listprop::Selected, "3");
        w.select(2);

        pressKey(Qt::Key_Right, Qt::ControlModifier);
        pressKey(Qt::Key_Right, Qt::ControlModifier);
        pressKey(Qt::Key_Right, Qt::ControlModifier); // there is no fourth column
        pressKey(Qt::Key_Left, Qt::ControlModifier);
        pressKey(Qt::Key_F10, Qt::ShiftModifier);
        struct At {
            std::string row, column;
            bool operator==(const At&) const = default;
        };
        auto pressed = [&] {
            return At{w.property(2, listprop::PressRow), w.property(2, listprop::PressColumn)};
        };
        nextOf(w, eventCode(listmouse::RightDown));
        EXPECT_EQ(pressed(), (At{"3", "2"})) << "the column menu is for the selected row's keyboard column";
        nextOf(w, eventCode(listmouse::RightUp));
        EXPECT_EQ(nextOf(w, event::AlertKey).keyCode, 0x82) << "a browse shows its popup on this key";

        pressKey(Qt::Key_Menu, Qt::ControlModifier);
        nextOf(w, eventCode(listmouse::RightDown));
        EXPECT_EQ(pressed(), (At{"0", "2"})) << "with Ctrl the header's menu";
        nextOf(w, eventCode(listmouse::RightUp));

        pressKey(Qt::Key_Space, Qt::ControlModifier, " ");
        nextOf(w, eventCode(listmouse::LeftDown));
        EXPECT_EQ(pressed(), (At{"0", "2"}));
        nextOf(w, eventCode(listmouse::LeftUp));
        EXPECT_EQ(w.property(2, listprop::ReleaseColumn), "2");
        EXPECT_EQ(w.property(2, listprop::Selected), "3") << "the header click moved no selection";
        w.close();
    });
}
