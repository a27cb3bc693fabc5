// The Customer browse in the real program on the offscreen desktop, driven by real mouse input
// on its list's header and tabs and read back as a screen reader reads it (header and cell texts
// through the accessibility interface), with the layout it leaves in "sorvdemo.INI".
#include "app/browsecustomer.h"
#include "app/demodata.h"
#include "app/updateforms.h"
#include "runtime/inifile.h"
#include "runtime/listformat.h"
#include "tests/app/list_rig.h"
#include "tests/windowing/shell_log.h"

using namespace sorv;

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <cctype>
#include <map>

namespace {

using namespace programtest;

constexpr int Customers = 12; // all of them on screen at once

// Whether the rows run in the order of the headers given, case ignored (descending reversed).
bool ordered(const Shown& s, std::vector<std::string> by, bool descending = false) {
    std::vector<int> cols;
    for (const std::string& h : by) cols.push_back(column(s, h));
    if (s.rows.size() != std::size_t(Customers)) return false;
    return std::is_sorted(s.rows.begin(), s.rows.end(), [&](const auto& a, const auto& b) {
        for (int c : cols) {
            const std::string x = upper(a[c]), y = upper(b[c]);
            if (x != y) return descending ? x > y : x < y;
        }
        return false;
    });
}

// Keys as the keyboard gives them to a widget (GUI thread).
void pressKey(QWidget* to, int k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QKeyEvent down(QEvent::KeyPress, k, mods, text), up(QEvent::KeyRelease, k, mods, text);
    QApplication::sendEvent(to, &down);
    QApplication::sendEvent(to, &up);
}

// Replaces what a field holds by typing (Ctrl+A, the characters, Enter when asked).
void typeInto(QWidget* field, const std::string& text, bool enter = true) {
    win::onGui([&] {
        field->setFocus();
        pressKey(field, Qt::Key_A, Qt::ControlModifier);
        for (char ch : text) {
            const int k = ch >= 'a' && ch <= 'z' ? Qt::Key_A + (ch - 'a') : static_cast<unsigned char>(ch);
            pressKey(field, k, Qt::NoModifier, QString(QChar(ch)));
        }
        if (enter) pressKey(field, Qt::Key_Return);
    });
}

// Chooses a text of a drop list by typing it (after the pause that starts a new search).
void typeChoice(QWidget* drop, const std::string& text) {
    std::this_thread::sleep_for(std::chrono::milliseconds(QApplication::keyboardInputInterval() + 100));
    typeInto(drop, text, false);
}

template <class W> W* childOf(QWidget* in, const std::function<bool(W*)>& which = {}) {
    return win::onGui([&]() -> W* {
        for (W* w : in->findChildren<W*>())
            if (!which || which(w)) return w;
        return nullptr;
    });
}

void pressButton(QWidget* in, const std::string& textOrTip) {
    QPushButton* b = childOf<QPushButton>(in, [&](QPushButton* b) {
        return b->text().toStdString() == textOrTip || b->toolTip().toStdString() == textOrTip;
    });
    ASSERT_TRUE(b) << textOrTip;
    win::onGui([&] { b->click(); });
}

// The list's format as the list control holds it.
ListFormat formatOf(QMdiSubWindow* sub) {
    ListFormat f;
    f.setFormat(win::onGui([&] { return listOf(sub)->format(); }));
    return f;
}
long columnProperty(QMdiSubWindow* sub, int code, int col) {
    return formatOf(sub).property(code, col).toLong();
}

class CustomerBrowseTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeFreshDemoData();
        copyTexts();
    }
    void writeFreshDemoData() {
        DemoDataOptions options;
        options.customers = Customers;
        options.people = 10;
        for (const char* table : {"CUSTOMER.QNL", "PEOPLE.QNL", "CUSTOMER.QNL.wal", "PEOPLE.QNL.wal"})
            fs::remove(dir_ / table);
        ASSERT_EQ(writeDemoData(dir_.string(), options), "");
    }
    // Opens a Customer browse from the menu and waits for its rows; the new child window.
    QMdiSubWindow* open() {
        QMdiSubWindow* sub = openFromMenu(menu::BrowseCustomer, "Customers - Multiple Formats one per TAB");
        EXPECT_TRUE(waitUntil([&] { return shown(sub).rows.size() == std::size_t(Customers); }));
        return sub;
    }
    std::string key(const std::string& k) {
        return getPrivateProfileString((dir_ / "sorvdemo.INI").string(), "BrowseCustomer", k, "<none>");
    }
    void setKey(const std::string& k, const std::string& v) {
        writePrivateProfileString((dir_ / "sorvdemo.INI").string(), "BrowseCustomer", k, v);
    }
};

const std::vector<std::string> Design{"Company", "City", "Country", "Postal Zip Code"};

TEST_F(CustomerBrowseTest, HeaderClicksSortMarkAndReturnToKeyAndFileOrder) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = open();
        EXPECT_EQ(win::onGui([&] { return sub->windowTitle().toStdString(); }),
                  "Customers - Multiple Formats one per TAB");
        const Shown keyOrder = shown(sub);
        EXPECT_EQ(keyOrder.headers, Design);
        EXPECT_EQ(keyOrder.tab, 1);

        // First click on City: ascending, marked ">"; second: descending, "<".
        clickHeader(sub, 2);
        ASSERT_TRUE(waitHeaders(sub, {"Company", ">City", "Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"City", "Company", "Country"});
        }));
        clickHeader(sub, 2);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "<City", "Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"City", "Company", "Country"}, true);
        }));
        // Country: ascending with its own components, City's header plain again.
        clickHeader(sub, 3);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", ">Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"Country", "City", "Company"});
        }));

        // A click that only shakes a little is still a click.
        win::onGui([&] {
            ListBox* list = listOf(sub);
            QPoint at = list->headerRect(4).center();
            mouse(list, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
            mouse(list, QEvent::MouseMove, at + QPoint(2, 0), Qt::NoButton, Qt::LeftButton);
            mouse(list, QEvent::MouseButtonRelease, at + QPoint(2, 0), Qt::LeftButton, Qt::NoButton);
        });
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", "Country", ">Postal Zip Code"}));
        // A header pressed looks pressed; the mouse taken off it down into the rows releases the
        // look, and letting go there sorts nothing: the next click on Postal reverses it.
        const bool looks = win::onGui([&] {
            ListBox* list = listOf(sub);
            QRect h = list->headerRect(2);
            auto shade = [&] {
                return list->viewport()->grab().toImage().pixelColor(h.left() + 2, h.top() + 2);
            };
            const QColor plain = shade();
            mouse(list, QEvent::MouseButtonPress, h.center(), Qt::LeftButton, Qt::LeftButton);
            const bool pressed = shade() != plain;
            QPoint below = list->cellRect(4, 2).center();
            mouse(list, QEvent::MouseMove, below, Qt::NoButton, Qt::LeftButton);
            const bool released = shade() == plain;
            mouse(list, QEvent::MouseButtonRelease, below, Qt::LeftButton, Qt::NoButton);
            return pressed && released;
        });
        EXPECT_TRUE(looks);
        clickHeader(sub, 4);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", "Country", "<Postal Zip Code"}));

        // The header menu: back to the tab's key order, unmarked.
        {
            browsetest::MenuAnswer answer("Key Sequence");
            clickHeader(sub, 1, Qt::RightButton);
            ASSERT_TRUE(waitHeaders(sub, Design));
            EXPECT_TRUE(waitShown(sub, [&](const Shown& s) { return s.rows == keyOrder.rows; }));
            EXPECT_EQ(answer.shape.lines,
                      (std::vector<std::string>{"0:Escape", "0:Key Sequence", "0:File Sequence"}));
        }
        // On the Company tab the rows run by company; "File Sequence" shows them as the file holds them.
        clickTab(sub, 2);
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) { return s.tab == 2 && ordered(s, {"Company"}); }));
        // The tab's incremental locator: a letter typed on the list goes to the first company
        // with it.
        const char letter = shown(sub).rows.back()[0][0];
        win::onGui([&] {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_A + (std::toupper(letter) - 'A'), Qt::NoModifier,
                          QString(letter));
            QApplication::sendEvent(listOf(sub), &key);
        });
        EXPECT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                ListBox* list = listOf(sub);
                const int row = list->selected();
                return row > 0 &&
                       std::toupper(list->cellText(row, 1).toStdString()[0]) == std::toupper(letter);
            });
        }));
        {
            browsetest::MenuAnswer answer("File Sequence");
            clickHeader(sub, 2, Qt::RightButton);
            EXPECT_TRUE(waitShown(sub, [&](const Shown& s) { return s.rows == keyOrder.rows; }));
        }
        closeAndExit(sub);
    });
}

TEST_F(CustomerBrowseTest, ReopensWithItsTabColumnsAndSortAndIgnoresAnotherDesign) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* sub = open();
        // The City tab, Country dragged left past City's edge, then City sorted descending.
        clickTab(sub, 3);
        ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return s.tab == 3 && ordered(s, {"City"}); }));
        dragHeader(sub, 3, headerLeft(sub, 2) + 4);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "City", "Postal Zip Code"}));
        clickHeader(sub, 3);
        clickHeader(sub, 3);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "<City", "Postal Zip Code"}));
        // The sorted column follows City when City moves and when a neighbour moves past it: the
        // mark stays with City, and a click on it reverses City, not what now stands there.
        dragHeader(sub, 3, headerLeft(sub, 2) + 4);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "<City", "Country", "Postal Zip Code"}));
        dragHeader(sub, 1, headerLeft(sub, 2) + 4);
        ASSERT_TRUE(waitHeaders(sub, {"<City", "Company", "Country", "Postal Zip Code"}));
        clickHeader(sub, 1);
        ASSERT_TRUE(waitHeaders(sub, {">City", "Company", "Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"City", "Company", "Country"});
        }));
        // The first column dragged further left stays where it is (the list only beeps).
        dragHeader(sub, 1, headerLeft(sub, 1) - 20);
        clickHeader(sub, 1);
        ASSERT_TRUE(waitHeaders(sub, {"<City", "Company", "Country", "Postal Zip Code"}));
        clickHeader(sub, 1);
        ASSERT_TRUE(waitHeaders(sub, {">City", "Company", "Country", "Postal Zip Code"}));
        closeAndExit(sub);
    });
    EXPECT_EQ(key("FormatChoice-?Browse:1"), "3");
    EXPECT_NE(key("XPos"), "<none>") << "the window's place is kept in its section";
    EXPECT_EQ(key("SorvexPrevCol-?Browse:1"), "1");
    const std::string design = key("SorvexOrigFormatString-?Browse:1");
    EXPECT_EQ(
        design,
        "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@64L(2)|M~Postal Zip Code~@s12@");
    EXPECT_EQ(key("SorvexFormatString-?Browse:11"), design);
    const std::string cityTab = key("SorvexFormatString-?Browse:13");
    EXPECT_EQ(cityTab.find('>'), std::string::npos) << "no stored layout carries a mark: " << cityTab;
    EXPECT_NE(cityTab.find("~City~"), std::string::npos) << cityTab;
    EXPECT_LT(cityTab.find("~City~"), cityTab.find("~Company~")) << cityTab;
    for (const char* k :
         {"SorvexXpos-", "SorvexYpos-", "SorvexHeight-", "SorvexWidth-", "SorvexHscroll-", "SorvexVscroll-",
          "SorvexLineHeight-", "SorvexFont-", "SorvexPoint-", "SorvexColor-", "SorvexStyle-"})
        EXPECT_NE(key(std::string(k) + "?Browse:1"), "<none>") << k;

    runProgram([&] {
        QMdiSubWindow* sub = open();
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return s.tab == 3 &&
                   s.headers == std::vector<std::string>{">City", "Company", "Country", "Postal Zip Code"} &&
                   ordered(s, {"City", "Company", "Country"});
        }));
        // Another tab shows its own layout, unsorted; back on City the layout is there again.
        clickTab(sub, 1);
        EXPECT_TRUE(waitHeaders(sub, Design));
        clickTab(sub, 3);
        EXPECT_TRUE(waitHeaders(sub, {"City", "Company", "Country", "Postal Zip Code"}));
        closeAndExit(sub);
    });
    EXPECT_EQ(key("SorvexPrevCol-?Browse:1"), "0") << "closed in key order";

    // A layout stored for another design is ignored, and overwritten at the close.
    setKey("SorvexOrigFormatString-?Browse:1", "80L(2)|M~Company~@s30@");
    runProgram([&] {
        QMdiSubWindow* sub = open();
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) { return s.headers == Design && s.tab == 3; }));
        closeAndExit(sub);
    });
    EXPECT_EQ(key("SorvexOrigFormatString-?Browse:1"), design);
    EXPECT_EQ(key("SorvexFormatString-?Browse:13"), design);
}

TEST_F(CustomerBrowseTest, TwoBrowsesAtOnceEachWithItsOwnSort) {
    QAccessible::setActive(true);
    runProgram([&] {
        QMdiSubWindow* a = open();
        QMdiSubWindow* b = open();
        EXPECT_EQ(win::startedThreadCount(), 3); // the notes and the two browses
        // One mouse: the press state is the program's, so the second list is clicked once the
        // first has handled its click (a loaded machine may run its thread late).
        clickHeader(a, 2);
        EXPECT_TRUE(waitHeaders(a, {"Company", ">City", "Country", "Postal Zip Code"}));
        clickHeader(b, 3);
        clickHeader(b, 3);
        EXPECT_TRUE(waitHeaders(b, {"Company", "City", "<Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(a, [](const Shown& s) { return ordered(s, {"City", "Company", "Country"}); }));
        EXPECT_TRUE(waitShown(b, [](const Shown& s) {
            return ordered(s, {"Country", "City", "Company"}, true);
        }));
        closeChild(b, childCount());
        closeChild(a, childCount());
        choose("E&xit");
    });
}

TEST_F(CustomerBrowseTest, StoredLayoutsThatTheDesignDoesNotGiveAreMendedOrRefused) {
    QAccessible::setActive(true);
    const std::string design =
        "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@64L(2)|M~Postal Zip Code~@s12@";
    const std::string longHeader = "City of the Customer Here"; // 25 characters
    setKey("SorvexOrigFormatString-?Browse:1", design);
    // Slot 1: the hidden key column shown, a header of 25 characters whose header indent (0)
    // differs from its data indent; slot 2: a format cut short, as an editor might leave it.
    setKey("SorvexFormatString-?Browse:11",
           "28R(1)|M~Sys Id~@n7@#5#80L(2)|M~" + longHeader + "~L(0)@s20@#2#80L(2)|M~Company~@s30@#1#");
    setKey("SorvexFormatString-?Browse:12", "80L(2)|M~Company~@s3");
    setKey("SorvexPrevCol-?Browse:1", "2");
    setKey("SorvexPrevDir-?Browse:1", "1");
    sorv::test::BoxAnswers boxes({win::button::Ok});
    runProgram([&] {
        QMdiSubWindow* sub = open();
        // Reopened sorted as stored: on the long header, descending, its last character kept.
        ASSERT_TRUE(waitHeaders(sub, {"Sys Id", "<" + longHeader, "Company"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"City of the Customer Here", "Company"}, true);
        }));
        // The hidden key column cannot be ordered on: its menu's sort item is greyed.
        const auto menu = rightClickCell(sub, 1, 1, "");
        EXPECT_TRUE(std::any_of(menu.begin(), menu.end(), [](const std::string& l) {
            return l.rfind("0:Sort on ", 0) == 0 && l.size() > 5 && l.substr(l.size() - 5) == "(off)";
        })) << ::testing::PrintToString(menu);
        // Nor by its header: the refusal, and nothing changes.
        clickHeader(sub, 1);
        EXPECT_TRUE(waitUntil([&] { return boxes.shown().size() == 1; }));
        EXPECT_EQ(shown(sub).headers[1], "<" + longHeader);
        // Moved, the column keeps its header indent of 0.
        dragHeader(sub, 3, headerLeft(sub, 2) + 2);
        ASSERT_TRUE(waitHeaders(sub, {"Sys Id", "Company", "<" + longHeader}));
        const std::string format = win::onGui([&] { return listOf(sub)->format(); });
        EXPECT_NE(format.find("~<" + longHeader + "~L(0)"), std::string::npos) << format;
        closeAndExit(sub);
    });
    auto b = boxes.shown();
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].text, "Data cannot be ordered on column: Sys Id(CUST:SysId)");
    EXPECT_EQ(b[0].title, "Sorvex Template - Re-Order Option");
    const std::string stored = key("SorvexFormatString-?Browse:11");
    EXPECT_EQ(ListFormat::check(stored), 0) << stored;
    EXPECT_NE(stored.find("~" + longHeader + "~"), std::string::npos) << "no mark, nothing cut: " << stored;
    EXPECT_EQ(key("SorvexFormatString-?Browse:12"), design) << "the format cut short gives the design back";
    EXPECT_EQ(key("SorvexPrevCol-?Browse:1"), "3");
    EXPECT_EQ(key("SorvexPrevDir-?Browse:1"), "1");
}

// The column menu of a right click: sorting on the column, a data justification, hiding a column and
// going back to the design, each shown at once and the design kept when the window closes.
TEST_F(CustomerBrowseTest, ColumnMenuSortsJustifiesHidesAndGoesBackToTheDesign) {
    QAccessible::setActive(true);
    auto dataJust = [&](QMdiSubWindow* sub, int col) {
        ListFormat f;
        f.setFormat(win::onGui([&] { return listOf(sub)->format(); }));
        static const char letters[] = "LRCD";
        for (int j = 0; j < 4; ++j)
            if (f.property(0x7E10 + 2 * j, col).toLong()) return letters[j];
        return '?';
    };
    runProgram([&] {
        QMdiSubWindow* sub = open();
        const auto menu = rightClickCell(sub, 1, 1, "");
        for (const char* line : {"0:Adjust All Widths", "0:Sort on Company Name", "0:&Sorvex", "1:Move Left",
                                 "1:Data Just left", "1:&ListBox", "2:Font", "0:Hide Column", "0:Default",
                                 "0:&Output", "1:Print All", "1:Export to ASCII (SvPort.CSV)"})
            EXPECT_TRUE(has(menu, line)) << line << " in " << ::testing::PrintToString(menu);

        rightClickCell(sub, 1, 3, "Data Just Right");
        EXPECT_TRUE(waitUntil([&] { return dataJust(sub, 3) == 'R'; }));
        rightClickCell(sub, 1, 3, "Sort on Country");
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", ">Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"Country", "City", "Company"});
        }));

        rightClickCell(sub, 1, 2, "Hide Column");
        ASSERT_TRUE(waitHeaders(sub, {"Company", ">Country", "Postal Zip Code"}));
        EXPECT_EQ(dataJust(sub, 2), 'R');
        rightClickCell(sub, 1, 1, "Hide Column");
        ASSERT_TRUE(waitHeaders(sub, {">Country", "Postal Zip Code"}));
        rightClickCell(sub, 1, 2, "Hide Column");
        ASSERT_TRUE(waitHeaders(sub, {">Country"}));
        rightClickCell(sub, 1, 1, "Hide Column");
        EXPECT_FALSE(waitUntil([&] { return shown(sub).headers.size() != 1; }, 300))
            << "the last column stays";

        rightClickCell(sub, 1, 1, "Default");
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", ">Country", "Postal Zip Code"}));
        EXPECT_EQ(dataJust(sub, 3), 'L');
        EXPECT_TRUE(waitShown(sub, [](const Shown& s) {
            return ordered(s, {"Country", "City", "Company"});
        }));
        closeAndExit(sub);
    });
    EXPECT_EQ(key("SorvexPrevCol-?Browse:1"), "3");
    const std::string stored = key("SorvexFormatString-?Browse:11");
    EXPECT_LT(stored.find("~Company~"), stored.find("~City~")) << stored;
    EXPECT_LT(stored.find("~City~"), stored.find("~Country~")) << stored;
    EXPECT_LT(stored.find("~Country~"), stored.find("~Postal Zip Code~")) << stored;
    EXPECT_NE(stored.find("~Postal Zip Code~"), std::string::npos) << stored;
}

// The column menu's number, header text and colour windows and the list's own commands (a double
// click on a divider, Alt+F11, Alt+M) on the real browse: every value shows in the list as it is
// given, a header with "~" is refused, and the list comes back as it was left.
TEST_F(CustomerBrowseTest, ColumnWindowsChangeTheListAtOnceAndTheListIsKept) {
    QAccessible::setActive(true);
    sorv::test::BoxAnswers boxes({win::button::Ok});
    std::string left;
    int leftHeight = 0;
    runProgram([&] {
        QMdiSubWindow* sub = open();
        const int windows = childCount();
        // Company's width, typed into its number window: each value applies at once.
        rightClickCell(sub, 1, 1, "Width");
        QWidget* number = waitWindow("Company");
        ASSERT_TRUE(number);
        QSpinBox* spin = childOf<QSpinBox>(number);
        ASSERT_TRUE(spin);
        // The window shows before the program has put the column's width into it.
        EXPECT_TRUE(waitUntil([&] { return win::onGui([&] { return spin->value(); }) == 80; }));
        typeInto(spin, "13", false);
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E04, 1) == 13; }));
        typeInto(spin, "100", false);
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E04, 1) == 100; }));
        pressButton(number, "OK");
        ASSERT_TRUE(waitGone("Company"));
        // City's header offset, and its data decimal-justified with its data offset.
        rightClickCell(sub, 1, 2, "Header offset");
        QWidget* offset = waitWindow("City");
        ASSERT_TRUE(offset);
        typeInto(childOf<QSpinBox>(offset), "5");
        ASSERT_TRUE(waitGone("City")) << "Enter closes the number window";
        EXPECT_EQ(columnProperty(sub, 0x7E19, 2), 5);
        rightClickCell(sub, 1, 2, "Data Just Decimal");
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E16, 2) == 1; }));
        EXPECT_EQ(columnProperty(sub, 0x7E17, 2), 2);
        // Country's header: "~" refused with a message, the header kept; then renamed.
        rightClickCell(sub, 1, 3, "Header Text");
        QWidget* header = waitWindow("Header Text: Country");
        ASSERT_TRUE(header);
        QLineEdit* entry = childOf<QLineEdit>(header);
        ASSERT_TRUE(entry);
        auto entryText = [&] { return win::onGui([&] { return entry->text().toStdString(); }); };
        EXPECT_TRUE(waitUntil([&] { return entryText() == "Country"; })) << entryText();
        typeInto(entry, "Land~");
        ASSERT_TRUE(waitUntil([&] { return boxes.shown().size() == 1; }));
        EXPECT_TRUE(waitUntil([&] { return entryText() == "Country"; })) << entryText();
        EXPECT_EQ(shown(sub).headers, Design);
        typeInto(entry, "Nation");
        ASSERT_TRUE(waitHeaders(sub, {"Company", "City", "Nation", "Postal Zip Code"}));
        pressButton(header, "OK");
        ASSERT_TRUE(waitGone("Header Text: Country"));
        // Postal's colours: a background given and taken back ("None" is no colour of its own),
        // a selected background kept; only that one is written.
        rightClickCell(sub, 1, 4, "Colors");
        QWidget* colours = waitWindow("Column Colors");
        ASSERT_TRUE(colours);
        EXPECT_TRUE(childOf<QLabel>(
            colours, [](QLabel* l) { return l->text() == "Colors for Column: Postal Zip Code"; }));
        auto drop = [&](const char* name) {
            return childOf<QComboBox>(colours, [&](QComboBox* c) { return c->accessibleName() == name; });
        };
        ASSERT_TRUE(drop("Normal background"));
        typeChoice(drop("Normal background"), "Red");
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E29, 4) == 0x0000FF; }));
        typeChoice(drop("Normal background"), "None");
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E29, 4) == -1; }));
        typeChoice(drop("Selected background"), "Navy");
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E2B, 4) == 0x800000; }));
        pressButton(colours, "&OK");
        ASSERT_TRUE(waitGone("Column Colors"));
        const std::string format = win::onGui([&] { return listOf(sub)->format(); });
        EXPECT_NE(format.find("E(,,,0800000H)"), std::string::npos) << format;
        EXPECT_EQ(format.find("E("), format.rfind("E(")) << "no other column has colours: " << format;

        // A double click on Company's divider fits it to its widest company, opening no form.
        win::onGui([&] {
            ListBox* list = listOf(sub);
            QPoint at(list->headerRect(1).right(), list->cellRect(2, 1).center().y());
            for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
                const bool down = type != QEvent::MouseButtonRelease;
                mouse(list, type, at, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton);
            }
        });
        ASSERT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E04, 1) != 100; }));
        const long fitted = columnProperty(sub, 0x7E04, 1);
        // Alt+F11 fits every column the same way; Alt+M shows the menu of the current column.
        win::onGui([&] { pressKey(listOf(sub), Qt::Key_F11, Qt::AltModifier); });
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E04, 4) < 64; }));
        EXPECT_EQ(columnProperty(sub, 0x7E04, 1), fitted);
        {
            browsetest::MenuAnswer answer("Data Just Center");
            win::onGui([&] { pressKey(listOf(sub), Qt::Key_M, Qt::AltModifier); });
            EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E14, 4) == 1; }));
            EXPECT_TRUE(has(answer.shape.lines, "0:Sort on Postal/Zip Code"))
                << ::testing::PrintToString(answer.shape.lines);
        }
        // The list box's height from its own number window.
        rightClickCell(sub, 1, 1, "Height");
        QWidget* height = waitWindow("Height");
        ASSERT_TRUE(height);
        // The window shows before the program has put the list's height into it (read before,
        // the empty box's 0 made the list a row high, and the window opened again showed one row).
        int designed = 0;
        ASSERT_TRUE(waitUntil([&] {
            designed = win::onGui([&] { return childOf<QSpinBox>(height)->value(); });
            return designed > 20;
        }));
        const int before = win::onGui([&] { return listOf(sub)->height(); });
        typeInto(childOf<QSpinBox>(height), std::to_string(designed - 20));
        ASSERT_TRUE(waitGone("Height"));
        EXPECT_LT(win::onGui([&] { return listOf(sub)->height(); }), before);
        EXPECT_EQ(childCount(), windows);
        left = win::onGui([&] { return listOf(sub)->format(); });
        leftHeight = win::onGui([&] { return listOf(sub)->height(); });
        closeAndExit(sub);
    });
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].title, "Sorvex");
    runProgram([&] {
        QMdiSubWindow* sub = open();
        EXPECT_TRUE(waitHeaders(sub, {"Company", "City", "Nation", "Postal Zip Code"}));
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->format(); }), left);
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->height(); }), leftHeight);
        closeAndExit(sub);
    });
}

// "Format Listbox..." on the real browse: the two lists, a column hidden and added back with its
// width and header, moved by Alt+Up, a field without width added 10 wide, header text, data
// justification, a flag, the list box's height, horizontal scroll bar and font; kept when the window opens
// again, and "&Default" gives the design back.
TEST_F(CustomerBrowseTest, FormatListboxEditsTheColumnsAndTheListBox) {
    QAccessible::setActive(true);
    std::string left;
    int leftHeight = 0;
    bool bar = false; // the list's horizontal scroll bar as designed
    auto rows = [](ListBox* list) {
        return win::onGui([&] {
            std::vector<std::string> out;
            for (int r = 1; r <= list->rowCount(); ++r)
                out.push_back(list->cellText(r, 1).trimmed().toStdString());
            return out;
        });
    };
    auto clickRow = [](ListBox* list, int row, Qt::MouseButton b) {
        win::onGui([&] {
            QPoint at = list->cellRect(row, 1).center();
            mouse(list, QEvent::MouseButtonPress, at, b, b);
            mouse(list, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
        });
    };
    const std::vector<std::string> descriptions{"Company Name", "City", "Country", "Postal/Zip Code"};
    auto openDialog = [&](QMdiSubWindow* sub) {
        rightClickCell(sub, 1, 1, "Properties");
        return waitWindow("Format Listbox...");
    };
    auto listNamed = [](QWidget* d, const char* tip) {
        return childOf<ListBox>(d, [&](ListBox* l) { return l->accessibleName() == tip; });
    };
    runProgram([&] {
        QMdiSubWindow* sub = open();
        QWidget* d = openDialog(sub);
        ASSERT_TRUE(d);
        ListBox* displayed = listNamed(d, "Right Click to erase field");
        ListBox* fields = listNamed(d, "Right Click to display field");
        ASSERT_TRUE(displayed && fields);
        ASSERT_TRUE(waitUntil([&] { return rows(displayed) == descriptions; })) << rows(displayed).size();
        EXPECT_EQ(rows(fields), descriptions);
        QLineEdit* header =
            childOf<QLineEdit>(d, [](QLineEdit* e) { return e->toolTip() == "Change Column Header Text"; });
        ASSERT_TRUE(header);
        auto headerText = [&] { return win::onGui([&] { return header->text().toStdString(); }); };
        EXPECT_TRUE(waitUntil([&] { return headerText() == "Company"; }));
        // City's row makes it the column edited, marked in the list under the window.
        clickRow(displayed, 2, Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return headerText() == "City"; }));
        EXPECT_TRUE(waitUntil([&] { return win::onGui([&] { return listOf(sub)->markedColumn(); }) == 2; }));
        // Hidden by its button, added back by a right click on the fields: last, as it was.
        pressButton(d, "Hide column from display list");
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code"}));
        EXPECT_TRUE(waitUntil([&] {
            return rows(displayed) == std::vector<std::string>{"Company Name", "Country", "Postal/Zip Code"};
        }));
        clickRow(fields, 2, Qt::RightButton);
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code", "City"}));
        EXPECT_EQ(columnProperty(sub, 0x7E04, 4), 80);
        EXPECT_TRUE(waitUntil([&] { return headerText() == "City"; })) << headerText();
        // Alt+Up moves it one place left; each moved column keeps its own field.
        win::onGui([&] { pressKey(displayed, Qt::Key_Up, Qt::AltModifier); });
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "City", "Postal Zip Code"}));
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->format(); }),
                  "80L(2)|M~Company~@s30@80L(2)|M~Country~@s20@#3#80L(2)|M~City~@s20@#2#"
                  "64L(2)|M~Postal Zip Code~@s12@#4#");
        // The column's header, data justification, underline and width.
        typeInto(header, "Town", false); // left by Tab: Enter would close the window, as Close does
        win::onGui([&] { pressKey(header, Qt::Key_Tab); });
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Town", "Postal Zip Code"}));
        QRadioButton* right = childOf<QRadioButton>(d, [&](QRadioButton* r) {
            return r->text() == "Right" && r->x() > d->width() / 3; // the data's, beside the header's
        });
        ASSERT_TRUE(right);
        win::onGui([&] { right->click(); });
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E12, 3) == 1; }));
        QCheckBox* underline = childOf<QCheckBox>(d, [](QCheckBox* c) { return c->text() == "&Underline"; });
        win::onGui([&] { underline->click(); });
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E00, 3) == 1; }));
        auto spin = [&](const char* tip) {
            return childOf<QSpinBox>(d, [&](QSpinBox* s) { return s->toolTip() == tip; });
        };
        typeInto(spin("Change Column Width"), "0", false);
        EXPECT_TRUE(waitUntil([&] { return columnProperty(sub, 0x7E04, 3) == 0; }));
        // Hidden with no width (Alt+Left), added back (Alt+Right on its field): 10 wide, last.
        win::onGui([&] { pressKey(displayed, Qt::Key_Left, Qt::AltModifier); });
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code"}));
        clickRow(fields, 2, Qt::LeftButton);
        win::onGui([&] { pressKey(fields, Qt::Key_Right, Qt::AltModifier); });
        ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code", "Town"}));
        EXPECT_EQ(columnProperty(sub, 0x7E04, 4), 10);
        EXPECT_EQ(columnProperty(sub, 0x7E12, 4), 1);
        EXPECT_EQ(columnProperty(sub, 0x7E00, 4), 1);
        // The list box: taller, its vertical scroll bar switched, a larger font.
        const int before = win::onGui([&] { return listOf(sub)->height(); });
        const int designed = win::onGui([&] { return spin("Adjust Height of LIstbox")->value(); });
        typeInto(spin("Adjust Height of LIstbox"), std::to_string(designed + 60), false);
        EXPECT_TRUE(waitUntil([&] { return win::onGui([&] { return listOf(sub)->height(); }) > before; }));
        QCheckBox* horizontal =
            childOf<QCheckBox>(d, [](QCheckBox* c) { return c->text() == "Hori&zontal Scroll"; });
        bar = win::onGui([&] { return horizontal->isChecked(); });
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->horizontalBar(); }), bar);
        win::onGui([&] { horizontal->click(); });
        EXPECT_TRUE(
            waitUntil([&] { return win::onGui([&] { return listOf(sub)->horizontalBar(); }) != bar; }));
        pressButton(d, "F&ont");
        ASSERT_TRUE(sorv::test::whenShown<QFontDialog>("", [](QFontDialog* f) {
            QFont font = f->currentFont();
            font.setPointSize(14);
            f->setCurrentFont(font);
            f->accept();
        }));
        EXPECT_TRUE(
            waitUntil([&] { return win::onGui([&] { return listOf(sub)->font().pointSize(); }) == 14; }));
        pressButton(d, "&Close");
        ASSERT_TRUE(waitGone("Format Listbox..."));
        EXPECT_TRUE(waitUntil([&] { return win::onGui([&] { return listOf(sub)->markedColumn(); }) == 0; }));
        left = win::onGui([&] { return listOf(sub)->format(); });
        leftHeight = win::onGui([&] { return listOf(sub)->height(); });
        closeAndExit(sub);
    });
    EXPECT_EQ(key("SorvexPoint-?Browse:1"), "14");
    EXPECT_EQ(key("SorvexHscroll-?Browse:1"), bar ? "0" : "1");
    runProgram([&] {
        QMdiSubWindow* sub = open();
        EXPECT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code", "Town"}));
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->format(); }), left);
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->height(); }), leftHeight);
        EXPECT_EQ(win::onGui([&] { return listOf(sub)->font().pointSize(); }), 14);
        EXPECT_NE(win::onGui([&] { return listOf(sub)->horizontalBar(); }), bar);
        // "&Default": the design again, both lists on their first rows.
        QWidget* d = openDialog(sub);
        ASSERT_TRUE(d);
        pressButton(d, "&Default");
        ASSERT_TRUE(waitHeaders(sub, Design));
        ListBox* displayed = listNamed(d, "Right Click to erase field");
        EXPECT_TRUE(waitUntil([&] { return rows(displayed) == descriptions; }));
        EXPECT_EQ(win::onGui([&] { return displayed->selected(); }), 1);
        EXPECT_TRUE(
            waitUntil([&] { return win::onGui([&] { return listOf(sub)->font().pointSize(); }) != 14; }));
        pressButton(d, "&Close");
        ASSERT_TRUE(waitGone("Format Listbox..."));
        closeAndExit(sub);
    });
}

// The outputs of the column menu: the list exported as the user left it (a column hidden, one
// moved, sorted), every customer and not only the page, and the desktop opening each file; a
// desktop that cannot open it says so.
TEST_F(CustomerBrowseTest, ExportsWriteTheListAsShownAndTheDesktopOpensThem) {
    QAccessible::setActive(true);
    std::string csvExpected, htmlRows;
    std::string opened;
    {
        sorv::test::BoxAnswers boxes;
        sorv::test::ShellLog shell;
        runProgram([&] {
            QMdiSubWindow* sub = open();
            rightClickCell(sub, 1, 2, "Hide Column");
            ASSERT_TRUE(waitHeaders(sub, {"Company", "Country", "Postal Zip Code"}));
            rightClickCell(sub, 1, 1, "Move Right");
            ASSERT_TRUE(waitHeaders(sub, {"Country", "Company", "Postal Zip Code"}));
            clickHeader(sub, 2);
            ASSERT_TRUE(waitHeaders(sub, {"Country", ">Company", "Postal Zip Code"}));
            ASSERT_TRUE(waitShown(sub, [](const Shown& s) { return ordered(s, {"Company"}); }));
            csvExpected = "# Records=" + std::string(7 - std::to_string(Customers).size(), '0') +
                          std::to_string(Customers) + "\r\nCountry,Company,Postal Zip Code\r\n";
            for (const auto& row : shown(sub).rows) {
                csvExpected += row[0] + "," + row[1] + "," + row[2] + "\r\n";
                std::string company;
                for (char c : row[1]) company += c == '&' ? std::string("&amp;") : std::string(1, c);
                htmlRows +=
                    "<TR> <TD>" + row[0] + "</TD> <TD>" + company + "</TD> <TD>" + row[2] + "</TD> </TR>\r\n";
            }
            rightClickCell(sub, 1, 1, "Export to ASCII (SvPort.CSV)");
            ASSERT_TRUE(waitUntil([&] { return !shell.opened().empty(); }));
            rightClickCell(sub, 1, 1, "Export to HTML (SvPort.HTM)");
            EXPECT_TRUE(waitUntil([&] {
                const std::string o = shell.opened();
                return std::count(o.begin(), o.end(), '\n') == 2;
            }));
            opened = shell.opened();
            closeAndExit(sub);
        });
    }
    EXPECT_EQ(opened, (dir_ / "SvPort.CSV").string() + "\n" + (dir_ / "SvPort.HTM").string() + "\n");
    std::ifstream csv(dir_ / "SvPort.CSV", std::ios::binary), html(dir_ / "SvPort.HTM", std::ios::binary);
    std::stringstream c, h;
    c << csv.rdbuf();
    h << html.rdbuf();
    EXPECT_EQ(c.str(), csvExpected);
    const std::string caption = "Customers - Multiple Formats one per TAB";
    EXPECT_EQ(h.str(), "<HTML>\r\n<HEAD><META CHARSET=\"UTF-8\"><TITLE>" + caption +
                           "</TITLE></HEAD>\r\n<H1>" + caption +
                           "</H1><P>\r\n<TABLE BORDER=2>\r\n<TR> <TD>Country</TD> <TD>Company</TD> "
                           "<TD>Postal Zip Code</TD> </TR>\r\n" +
                           htmlRows + "</TABLE>\r\n</HTML>\r\n");
    EXPECT_NE(htmlRows.find("&amp;"), std::string::npos) << "the demo has companies with \"&\"";

    // The desktop's opener as the user meets it: with nothing to open the file (no opener, or one
    // that finds no program for the file's type) the user is told; one that opens it, or that
    // waits for the program it started, says nothing.
    struct Opener {
        const char* what;
        std::string script; // empty: no opener
        bool told;
    };
    const std::string log = (dir_ / "opened.log").string();
    const std::string record = "echo \"$1\" >>'" + log + "'";
    for (const Opener& o :
         {Opener{"nothing on the desktop", "", true}, Opener{"no program for it", "exit 3", true},
          Opener{"opened", record, false}, Opener{"still running", record + "; exec sleep 5", false}}) {
        SCOPED_TRACE(o.what);
        sorv::test::BoxAnswers told({win::button::Ok});
        std::filesystem::remove(log);
        const std::string opener = (dir_ / "opener.sh").string();
        if (!o.script.empty()) {
            std::ofstream(opener) << "#!/bin/sh\n" << o.script << "\n";
            std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
            ::setenv("SORV_OPENER", opener.c_str(), 1);
        }
        runProgram([&] {
            QMdiSubWindow* sub = open();
            rightClickCell(sub, 1, 1, "Export to ASCII (SvPort.CSV)");
            if (o.told)
                EXPECT_TRUE(waitUntil([&] { return told.shown().size() == 1; }));
            else
                EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(log); }));
            closeAndExit(sub);
        });
        ::unsetenv("SORV_OPENER");
        const auto shown = told.shown();
        if (!o.told) {
            EXPECT_TRUE(shown.empty()) << shown.front().text;
            std::ifstream opened(log);
            std::string line;
            std::getline(opened, line);
            EXPECT_EQ(line, (dir_ / "SvPort.CSV").string());
            continue;
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].title, "Sorvex");
        EXPECT_EQ(shown[0].text,
                  "Shell launching error:31\nyou may need to specify a file type in Win95\nGo to "
                  "Explorer; View; Options; File Types\nand the specify a type for SvPort.CSV");
    }
}

// "Graph on" from the column menu counts every customer into the browse's own categories: a
// country whole, a postal code by its first two characters.
TEST_F(CustomerBrowseTest, GraphsAColumnInTheBrowsesCategories) {
    QAccessible::setActive(true);
    std::map<std::string, int> countries, postal;
    std::vector<std::string> byCountry, byPostal;
    runProgram([&] {
        QMdiSubWindow* sub = open();
        for (const auto& row : shown(sub).rows) {
            ++countries[row[2]];
            ++postal[row[3].substr(0, 2)];
        }
        rightClickCell(sub, 1, 3, "Graph on Country");
        byCountry = graphTexts();
        rightClickCell(sub, 1, 4, "Graph on Postal/Zip Code");
        byPostal = graphTexts();
        closeAndExit(sub);
    });
    ASSERT_GT(countries.size(), 1u);
    ASSERT_GT(postal.size(), 1u);
    auto has = [](const std::vector<std::string>& texts, const std::string& t) {
        return std::find(texts.begin(), texts.end(), t) != texts.end();
    };
    // Each category is named once with its count; the texts run Count, Percent, then per bar.
    auto check = [&](const std::vector<std::string>& texts, const std::map<std::string, int>& expected) {
        ASSERT_EQ(texts.size(), 2 + 3 * expected.size()) << ::testing::PrintToString(texts);
        std::size_t i = 2;
        for (const auto& [name, count] : expected) {
            EXPECT_EQ(texts[i], name);
            EXPECT_EQ(texts[i + 1], std::to_string(count)) << name;
            i += 3;
        }
        EXPECT_TRUE(has(texts, "Count") && has(texts, "Percent"));
    };
    check(byCountry, countries);
    check(byPostal, postal);
}

} // namespace

// The browse's buttons run the Customer form, with each of the forms' actions after an insert and
// for a delete: the last customer added is the selected row when the form closes (after three
// added one after the other in the same form, the third), and a delete shows no form, asking first
// or not as its action says.
TEST_F(CustomerBrowseTest, InsertAndDeleteRunTheCustomerForm) {
    struct Case {
        FormActions actions;
        std::vector<std::string> added; // typed into "Company:" and saved in turn
        std::vector<int> answers;       // to the boxes shown, in turn
        std::vector<std::string> asked; // the boxes' titles
        bool cancelAfter;               // the form is left open after the last save and cancelled
    } cases[] = {
        {{2, 2}, {"Aardvark Ltd"}, {win::button::Yes}, {"Confirm Delete"}, false},
        {{3, 4}, {"Aardvark 1", "Aardvark 2", "Aardvark 3"}, {}, {}, true},
        {{4, 2},
         {"Aardvark 1", "Aardvark 2", "Aardvark 3"},
         {win::button::Yes, win::button::Yes, win::button::No, win::button::Yes},
         {"Record Added", "Record Added", "Record Added", "Confirm Delete"},
         false},
    };
    const FormActions defaults;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "insert action " << int(c.actions.insert) << ", delete action "
                                        << int(c.actions.remove));
        formActions() = c.actions;
        fs::remove(dir_ / "sorvdemo.INI");
        writeFreshDemoData();
        sorv::test::BoxAnswers boxes(c.answers);
        const std::string last = c.added.back();
        runProgram([&] {
            QMdiSubWindow* sub = open();
            ASSERT_TRUE(sub);
            clickButton(sub, "Insert");
            QPointer<QWidget> form = waitWindow("Adding a Customer Record");
            ASSERT_TRUE(form);
            // The form's company entry (GUI thread); null once the form is gone.
            auto company = [&]() -> QLineEdit* {
                if (!form) return nullptr;
                for (QLineEdit* e : form->findChildren<QLineEdit*>())
                    if (e->accessibleName() == "Company:") return e;
                return nullptr;
            };
            // Whether the form shows a fresh record with its first field selected.
            auto fresh = [&] {
                return win::onGui([&] {
                    return company() && form->focusWidget() == company() &&
                           company()->text().trimmed().isEmpty();
                });
            };
            for (const std::string& name : c.added) {
                ASSERT_TRUE(waitUntil(fresh)) << name;
                typeInto(win::onGui(company), name); // Enter presses OK
                if (name != last || c.cancelAfter)
                    ASSERT_TRUE(waitUntil(fresh)) << "the form stays for another record after " << name;
            }
            if (c.cancelAfter) clickButton(form, "Cancel");
            ASSERT_TRUE(waitGone("Adding a Customer Record"));
            auto listed = [&](const std::string& name) {
                const Shown s = shown(sub);
                return std::any_of(s.rows.begin(), s.rows.end(),
                                   [&](const auto& row) { return row[0] == name; });
            };
            auto selectedCompany = [&] {
                return win::onGui([&] {
                    ListBox* list = listOf(sub);
                    return list->cellText(list->selected(), 1).trimmed().toStdString();
                });
            };
            EXPECT_TRUE(waitUntil([&] { return selectedCompany() == last; })) << selectedCompany();

            clickButton(sub, "Delete");
            EXPECT_TRUE(waitUntil([&] { return !listed(last); }));
            EXPECT_FALSE(win::onGui([] { return findWidget("Update the Customer File") != nullptr; }));
            exitProgram();
        });
        std::vector<std::string> asked;
        for (const auto& b : boxes.shown()) asked.push_back(b.title);
        EXPECT_EQ(asked, c.asked);
    }
    formActions() = defaults;
}
