// The real program with the keyboard alone: the Customer browse opened through the menu's
// mnemonics, walked with Tab, sorted and given back its key order from the keyboard, with every
// control named to assistive technology and the sorted header described in words; the Customer
// form opened from it, walked, filled in and closed with keys only.
#include "app/demodata.h"
#include "tests/app/program_rig.h"
#include "tests/framework/menu_answer.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <set>

namespace {

using namespace programtest;

const char* const BrowseCaption = "Customers - Multiple Formats one per TAB";

// A key as the keyboard gives it: to an open menu, else to the focused widget.
void press(int k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    win::onGui([&] {
        QWidget* to = QApplication::activePopupWidget();
        if (!to) to = QApplication::focusWidget();
        ASSERT_TRUE(to) << "nothing has the keyboard focus";
        QKeyEvent down(QEvent::KeyPress, k, mods, text), up(QEvent::KeyRelease, k, mods, text);
        QApplication::sendEvent(to, &down);
        QApplication::sendEvent(to, &up);
    });
}

// Types letters and digits as keys.
void typeKeys(const std::string& text) {
    for (char c : text) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const int k = u >= 'A' && u <= 'Z' ? Qt::Key_A + (u - 'A') : static_cast<unsigned char>(c);
        press(k, std::isupper(static_cast<unsigned char>(c)) ? Qt::ShiftModifier : Qt::NoModifier,
              QString(QChar(c)));
    }
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
    case QAccessible::SpinBox:
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

// The names a window's accessibility tree gives the controls a user acts on.
std::vector<std::string> namesIn(QWidget* window) {
    return win::onGui([&] {
        std::vector<std::string> out;
        named(QAccessible::queryAccessibleInterface(window), out);
        return out;
    });
}

// The cells of a list as a screen reader has them.
std::vector<std::vector<std::string>> cells(QWidget* in) {
    return win::onGui([&] {
        std::vector<std::vector<std::string>> rows;
        auto* list = in ? in->findChild<win::ListBox*>() : nullptr;
        QAccessibleInterface* i = list ? QAccessible::queryAccessibleInterface(list) : nullptr;
        QAccessibleTableInterface* t = i ? i->tableInterface() : nullptr;
        for (int r = 0; t && r < t->rowCount(); ++r) {
            rows.emplace_back();
            for (int c = 0; c < t->columnCount(); ++c)
                rows.back().push_back(t->cellAt(r, c)->text(QAccessible::Name).trimmed().toStdString());
        }
        return rows;
    });
}

class KeyboardTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeDemo(12, 120); // so that the customers have people
    }
    // Opens the Customer browse with Alt+B and Enter; the window once it has its rows and the
    // keyboard.
    QMdiSubWindow* openBrowse() {
        EXPECT_TRUE(waitUntil([] { return childCount() == 1; })) << "the notes open by themselves";
        win::onGui([] { frameWidget()->activateWindow(); });
        EXPECT_TRUE(
            waitUntil([] { return win::onGui([] { return QApplication::focusWidget() != nullptr; }); }));
        // Alt+B opens the Browse menu on its first item, Enter chooses it.
        press(Qt::Key_B, Qt::AltModifier);
        EXPECT_TRUE(waitUntil(
            [] { return win::onGui([] { return QApplication::activePopupWidget() != nullptr; }); }));
        press(Qt::Key_Return);
        EXPECT_TRUE(waitUntil([] { return browse() != nullptr; }));
        QMdiSubWindow* sub = browse();
        EXPECT_TRUE(waitUntil([&] { return heard(sub).rows == 12; }));
        // The browse selects its row after the rows show; a key for "the selected row" before
        // that reaches the header (Shift+F10 showed the header's menu under load).
        EXPECT_TRUE(waitUntil(
            [&] { return win::onGui([&] { return sub->findChild<win::ListBox*>()->selected() > 0; }); }));
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                QWidget* f = QApplication::focusWidget();
                return f && sub && sub->isAncestorOf(f);
            });
        })) << "the new window has the keyboard";
        return sub;
    }
};

} // namespace

TEST_F(KeyboardTest, CustomerBrowseWithTheKeyboardAlone) {
    QAccessible::setActive(true);
    const std::vector<std::string> design{"Company", "City", "Country", "Postal Zip Code"};
    runProgram([&] {
        QMdiSubWindow* sub = openBrowse();
        ASSERT_TRUE(sub);

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
        closeAndExit(sub);
    });
}

// The Customer form with the keyboard alone: Alt+C on the browse changes the highlighted customer;
// Tab goes through the form as it is laid out, the prompts' letters reach their fields, Ctrl+Tab
// shows the people; Esc on a changed form asks whether to save (Esc again: no, stay), Enter saves.
TEST_F(KeyboardTest, CustomerFormWithTheKeyboardAlone) {
    QAccessible::setActive(true);
    const char* const Form = "Changing a Customer Record";
    sorv::test::BoxAnswers boxes;
    runProgram([&] {
        QMdiSubWindow* sub = openBrowse();
        ASSERT_TRUE(sub);
        const std::vector<std::string> first = cells(sub).at(0);
        press(Qt::Key_C, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return shownWindow(Form) != nullptr; }));
        QWidget* form = shownWindow(Form);
        ASSERT_TRUE(waitUntil([] { return focused() == "Company:"; })) << focused();

        // Tab: row by row as the form stands, and round again.
        std::vector<std::string> walk;
        for (int i = 0; i < 11; ++i) {
            walk.push_back(focused());
            press(Qt::Key_Tab);
        }
        EXPECT_EQ(walk, (std::vector<std::string>{"Company:", "Address 1:", "Address 2:", "City:",
                                                  "Postal Zip Code:", "Country:", "OK", "Cancel", "Help",
                                                  "Tabs", "Company:"}));
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), "Company:") << "Shift+Tab goes back";

        // The prompts' letters: a letter two prompts share goes to each in turn.
        struct Mnemonic {
            int key;
            const char* reaches;
        } mnemonics[] = {{Qt::Key_P, "Postal Zip Code:"},
                         {Qt::Key_A, "Address 1:"},
                         {Qt::Key_A, "Address 2:"},
                         {Qt::Key_C, "Company:"},
                         {Qt::Key_C, "City:"}};
        for (const Mnemonic& m : mnemonics) {
            press(m.key, Qt::AltModifier);
            EXPECT_EQ(focused(), m.reaches);
        }
        typeKeys("Oslo"); // Alt+C selected the whole of City's text
        press(Qt::Key_Tab);

        // Every control of both tabs is named.
        std::vector<std::string> names = namesIn(form);
        for (const char* c :
             {"Company:", "Address 1:", "Address 2:", "City:", "Postal Zip Code:", "Country:", "OK", "Cancel",
              "Help", "General", "People", "Browsing Records", "Insert", "Change", "Delete"})
            EXPECT_NE(std::find(names.begin(), names.end(), c), names.end()) << c << " is not named";
        for (const std::string& n : names) EXPECT_FALSE(n.empty()) << "an unnamed control";

        // Ctrl+Tab: the People tab with the customer's people; Tab reaches its list and buttons.
        press(Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_TRUE(waitUntil([&] { return !cells(form).empty(); })) << "the customer's people are listed";
        std::set<std::string> reached;
        for (int i = 0; i < 10; ++i) {
            reached.insert(focused());
            press(Qt::Key_Tab);
        }
        for (const char* c : {"Browsing Records", "Insert", "Change", "Delete", "OK"})
            EXPECT_TRUE(reached.count(c)) << c << " is not reached by Tab on the People tab";
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        press(Qt::Key_P, Qt::AltModifier);
        ASSERT_EQ(focused(), "Postal Zip Code:") << "back on the General tab";

        // Esc on the changed form asks to save; Esc on the question keeps the form, at its first field.
        press(Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == 1; }));
        EXPECT_EQ(boxes.shown()[0].title, "Save Record");
        auto box = [] {
            return win::onGui([]() -> QWidget* {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->isVisible() && qobject_cast<QMessageBox*>(w)) return w;
                return nullptr;
            });
        };
        ASSERT_TRUE(waitUntil([&] { return box() != nullptr; }));
        win::onGui([&] {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box(), &esc);
        });
        ASSERT_TRUE(waitUntil([&] { return box() == nullptr; }));
        ASSERT_TRUE(shownWindow(Form));
        // The desktop gives the keyboard back to the window under the box (the offscreen one
        // leaves that to its windows).
        win::onGui([&] { form->activateWindow(); });
        EXPECT_TRUE(waitUntil([] { return focused() == "Company:"; })) << focused();

        // Enter saves: the browse shows the new city in the customer's row.
        press(Qt::Key_Return);
        EXPECT_TRUE(waitUntil([&] { return shownWindow(Form) == nullptr; }));
        EXPECT_TRUE(waitUntil([&] {
            auto rows = cells(sub);
            return !rows.empty() && rows[0][0] == first[0] && rows[0][1] == "Oslo";
        })) << "the browse shows the change";
        EXPECT_EQ(boxes.shown().size(), 1u);
        closeAndExit(sub);
    });
}

// "Format Listbox..." with the keyboard alone: Shift+F10 on a row shows the column menu, whose
// "Properties" opens the window; Tab goes down the column's settings on the left, then down the
// list box's on the right; the captions' letters reach their controls (a letter two captions share
// goes to each in turn); a header typed and Enter show the new header in the list; opened again,
// a header typed and left with Esc changes nothing.
TEST_F(KeyboardTest, FormatListboxWithTheKeyboardAlone) {
    QAccessible::setActive(true);
    const char* const Dialog = "Format Listbox...";
    const char* const Shown = "Right Click to erase field";
    runProgram([&] {
        QMdiSubWindow* sub = openBrowse();
        ASSERT_TRUE(sub);
        auto format = [&] { return win::onGui([&] { return sub->findChild<win::ListBox*>()->format(); }); };
        auto openDialog = [&]() -> QWidget* {
            // The desktop gives the keyboard back to the frame when a window over it closes (the
            // offscreen one leaves that to its windows).
            win::onGui([] { frameWidget()->activateWindow(); });
            EXPECT_TRUE(waitUntil([] { return focused() != "<none>"; }));
            for (int i = 0; i < 20 && focused() != "Browsing Records"; ++i) press(Qt::Key_Tab);
            press(Qt::Key_F10, Qt::ShiftModifier);
            auto item = [] {
                return win::onGui([] {
                    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                    return !menu                  ? std::string()
                           : menu->activeAction() ? menu->activeAction()->text().toStdString()
                                                  : std::string("-");
                });
            };
            EXPECT_TRUE(waitUntil([&] { return !item().empty(); })) << "Shift+F10 shows the column menu";
            for (int i = 0; i < 30 && item() != "Properties"; ++i) press(Qt::Key_Down);
            EXPECT_EQ(item(), "Properties");
            press(Qt::Key_Return);
            EXPECT_TRUE(waitUntil([&] { return shownWindow(Dialog) && focused() == Shown; })) << focused();
            return shownWindow(Dialog);
        };
        QWidget* d = openDialog();
        ASSERT_TRUE(d);

        std::vector<std::string> walk;
        for (int i = 0; i < 28; ++i) {
            walk.push_back(focused());
            press(Qt::Key_Tab);
        }
        EXPECT_EQ(walk, (std::vector<std::string>{Shown,
                                                  "Move Column Left",
                                                  "Move Column Right",
                                                  "Header text:",
                                                  "Left",
                                                  "Offset:",
                                                  "Left",
                                                  "Offset:",
                                                  "Width:",
                                                  "Fixed",
                                                  "Underline",
                                                  "Border",
                                                  "Resize",
                                                  "X Pos:",
                                                  "Y Pos:",
                                                  "Width:",
                                                  "Height:",
                                                  "LineHeight:",
                                                  "Vertical Scroll",
                                                  "Horizontal Scroll",
                                                  "Font",
                                                  "Colors",
                                                  "Default",
                                                  "Close",
                                                  "Right Click to display field",
                                                  "Add Column to display list",
                                                  "Hide column from display list",
                                                  Shown}));
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), Shown) << "Shift+Tab goes back";

        // Every control is named (an arrow button by its tip), and no name is left empty.
        std::vector<std::string> names = namesIn(d);
        for (const char* c :
             {"Right Click to display field", "Add Column to display list", "Hide column from display list",
              Shown, "Move Column Left", "Move Column Right", "Header text:", "Center", "Decimal", "Offset:",
              "Width:", "X Pos:", "LineHeight:", "Vertical Scroll", "Font", "Colors", "Default", "Close"})
            EXPECT_NE(std::find(names.begin(), names.end(), c), names.end()) << c << " is not named";
        for (const std::string& n : names) EXPECT_FALSE(n.empty()) << "an unnamed control";

        // The letters; Alt+1 and Alt+2 choose the lists.
        struct Mnemonic {
            int key;
            const char* reaches;
        } mnemonics[] = {{Qt::Key_1, "Right Click to display field"},
                         {Qt::Key_2, Shown},
                         {Qt::Key_H, "Left"},
                         {Qt::Key_S, "Offset:"},
                         {Qt::Key_W, "Width:"},
                         {Qt::Key_X, "X Pos:"},
                         {Qt::Key_Y, "Y Pos:"},
                         {Qt::Key_T, "Offset:"},
                         {Qt::Key_T, "Width:"},
                         {Qt::Key_E, "Height:"},
                         {Qt::Key_L, "LineHeight:"},
                         {Qt::Key_O, "Font"},
                         {Qt::Key_O, "Colors"},
                         {Qt::Key_F, "Left"},
                         {Qt::Key_A, "Header text:"}};
        for (const Mnemonic& m : mnemonics) {
            press(m.key, Qt::AltModifier);
            EXPECT_TRUE(waitUntil([&] { return focused() == m.reaches; }))
                << "Alt+" << char(m.key) << " reaches " << focused();
        }

        // Alt+A selected the header's text: typed over, Enter closes the window, the list shows it.
        typeKeys("Firm");
        press(Qt::Key_Return);
        EXPECT_TRUE(waitUntil([&] { return shownWindow(Dialog) == nullptr; }));
        EXPECT_TRUE(waitUntil([&] {
            return heard(sub).headers ==
                   std::vector<std::string>{"Firm", "City", "Country", "Postal Zip Code"};
        })) << ::testing::PrintToString(heard(sub).headers);
        const std::string kept = format();

        // Again, a header typed and left with Esc: nothing changes.
        d = openDialog();
        ASSERT_TRUE(d);
        press(Qt::Key_A, Qt::AltModifier);
        EXPECT_EQ(focused(), "Header text:");
        typeKeys("Acme");
        press(Qt::Key_Escape);
        EXPECT_TRUE(waitUntil([&] { return shownWindow(Dialog) == nullptr; }));
        d = openDialog(); // whatever the window was still to do is done when it opens again
        ASSERT_TRUE(d);
        press(Qt::Key_Escape);
        EXPECT_TRUE(waitUntil([&] { return shownWindow(Dialog) == nullptr; }));
        EXPECT_EQ(heard(sub).headers,
                  (std::vector<std::string>{"Firm", "City", "Country", "Postal Zip Code"}));
        EXPECT_EQ(format(), kept);
        closeAndExit(sub);
    });
}
