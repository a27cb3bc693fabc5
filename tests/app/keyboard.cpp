// The real program with the keyboard alone: the Customer browse opened through the menu's
// mnemonics, walked with Tab, sorted and given back its key order from the keyboard, with every
// control named to assistive technology and the sorted header described in words.
#include "app/demodata.h"
#include "tests/app/program_rig.h"
#include "tests/framework/menu_answer.h"
#include "windowing/listbox.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <set>

namespace {

using namespace programtest;

const char* const BrowseCaption = "Customers - Multiple Formats one per TAB";

// A key as the keyboard gives it: to an open menu, else to the focused widget.
void press(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    win::onGui([&] {
        QWidget* to = QApplication::activePopupWidget();
        if (!to) to = QApplication::focusWidget();
        ASSERT_TRUE(to) << "nothing has the keyboard focus";
        QKeyEvent down(QEvent::KeyPress, k, mods), up(QEvent::KeyRelease, k, mods);
        QApplication::sendEvent(to, &down);
        QApplication::sendEvent(to, &up);
    });
}

std::string focused() {
    return win::onGui([] {
        QWidget* f = QApplication::focusWidget();
        return f ? f->accessibleName().toStdString() : std::string("<none>");
    });
}

QMdiSubWindow* browse() {
    return win::onGui([] {
        for (QMdiSubWindow* c : children())
            if (c->windowTitle() == BrowseCaption) return c;
        return static_cast<QMdiSubWindow*>(nullptr);
    });
}

// Headers and the first header's description as a screen reader has them.
struct Heard {
    std::vector<std::string> headers;
    std::string sorted; // the descriptions of the sorted header
    int rows = 0;
    bool operator==(const Heard&) const = default;
};
Heard heard(QMdiSubWindow* sub) {
    return win::onGui([&] {
        Heard h;
        auto* list = sub ? sub->findChild<win::ListBox*>() : nullptr;
        QAccessibleInterface* i = list ? QAccessible::queryAccessibleInterface(list) : nullptr;
        QAccessibleTableInterface* t = i ? i->tableInterface() : nullptr;
        if (!t) return h;
        h.rows = t->rowCount();
        for (int c = 0; c < t->columnCount(); ++c) {
            h.headers.push_back(t->columnDescription(c).toStdString());
            if (t->rowCount() == 0) continue;
            for (QAccessibleInterface* cell : t->cellAt(0, c)->tableCellInterface()->columnHeaderCells())
                h.sorted += cell->text(QAccessible::Description).toStdString();
        }
        return h;
    });
}

// Names of the nodes of a window's accessibility tree a user acts on, "" for an unnamed one.
void named(QAccessibleInterface* node, std::vector<std::string>& out) {
    if (!node) return;
    switch (node->role()) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::Table:
    case QAccessible::PageTab:
    case QAccessible::PageTabList:
    case QAccessible::ColumnHeader:
        out.push_back(node->text(QAccessible::Name).toStdString());
        break;
    default:
        break;
    }
    for (int i = 0; i < node->childCount(); ++i) named(node->child(i), out);
}

class KeyboardTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        DemoDataOptions options;
        options.customers = 12;
        options.people = 10;
        ASSERT_EQ(writeDemoData(dir_.string(), options), "");
        copyTexts();
    }
};

} // namespace

TEST_F(KeyboardTest, CustomerBrowseWithTheKeyboardAlone) {
    QAccessible::setActive(true);
    const std::vector<std::string> design{"Company", "City", "Country", "Postal Zip Code"};
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() == 1; })) << "the notes open by themselves";
        win::onGui([] { frameWidget()->activateWindow(); });
        ASSERT_TRUE(
            waitUntil([] { return win::onGui([] { return QApplication::focusWidget() != nullptr; }); }));
        // Alt+B opens the Browse menu on its first item, Enter chooses it.
        press(Qt::Key_B, Qt::AltModifier);
        ASSERT_TRUE(waitUntil(
            [] { return win::onGui([] { return QApplication::activePopupWidget() != nullptr; }); }));
        press(Qt::Key_Return);
        ASSERT_TRUE(waitUntil([] { return browse() != nullptr; }));
        QMdiSubWindow* sub = browse();
        ASSERT_TRUE(waitUntil([&] { return heard(sub).rows == 12; }));
        ASSERT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                QWidget* f = QApplication::focusWidget();
                return f && sub->isAncestorOf(f);
            });
        })) << "the new window has the keyboard";

        // Tab reaches every control of the window and comes round again.
        std::set<std::string> reached;
        for (int i = 0; i < 12; ++i) {
            reached.insert(focused());
            press(Qt::Key_Tab);
        }
        for (const char* c : {"Browsing Records", "Insert", "Change", "Delete", "Select"})
            EXPECT_TRUE(reached.count(c)) << c << " is not reached by Tab";
        for (int i = 0; i < 20 && focused() != "Browsing Records"; ++i) press(Qt::Key_Tab);
        ASSERT_EQ(focused(), "Browsing Records");

        // Every control is named, and so is every header.
        std::vector<std::string> names = win::onGui([&] {
            std::vector<std::string> out;
            named(QAccessible::queryAccessibleInterface(sub->widget()), out);
            return out;
        });
        EXPECT_GT(names.size(), 8u);
        for (const std::string& n : names) EXPECT_FALSE(n.empty()) << "an unnamed control";

        // The keyboard column: City; Ctrl+Space sorts on it and a second time reverses it.
        press(Qt::Key_Right, Qt::ControlModifier);
        press(Qt::Key_Space, Qt::ControlModifier);
        EXPECT_TRUE(waitUntil([&] {
            return heard(sub).headers ==
                   std::vector<std::string>{"Company", ">City", "Country", "Postal Zip Code"};
        }));
        EXPECT_EQ(heard(sub).sorted, "sorted ascending");
        press(Qt::Key_Space, Qt::ControlModifier);
        EXPECT_TRUE(waitUntil([&] { return heard(sub).headers[1] == "<City"; }));
        EXPECT_EQ(heard(sub).sorted, "sorted descending");

        // Ctrl+Shift+F10: the header menu, as a right click on the header gives it.
        {
            browsetest::MenuAnswer answer("Key Sequence");
            press(Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_TRUE(waitUntil([&] { return heard(sub).headers == design; }));
            EXPECT_EQ(answer.shape.lines,
                      (std::vector<std::string>{"0:Escape", "0:Key Sequence", "0:File Sequence"}));
        }
        closeChild(sub, childCount());
        choose("E&xit");
    });
}
