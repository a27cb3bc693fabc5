// The lists of the real program as a user reaches them: what a list shows (headers and cells, as
// a screen reader reads them, and the sheet's tab), real mouse presses on headers, cells and tabs,
// and the column menu of a right click answered with one of its items. A window with several
// lists numbers them from the top.
#pragma once
#include "tests/app/program_rig.h"
#include "tests/framework/menu_answer.h"
#include "windowing/listbox.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <cctype>

namespace programtest {

using win::ListBox;

struct Shown {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows;
    int tab = 0; // 1-based
};

// The window's `n`-th list from the top (0 the first).
inline ListBox* listOf(QMdiSubWindow* sub, int n = 0) {
    if (!sub) return nullptr;
    QList<ListBox*> lists = sub->findChildren<ListBox*>();
    std::sort(lists.begin(), lists.end(), [sub](ListBox* a, ListBox* b) {
        return a->mapTo(sub, QPoint()).y() < b->mapTo(sub, QPoint()).y();
    });
    return n < lists.size() ? lists[n] : nullptr;
}

// What the list shows, as assistive technology reads it.
inline Shown shown(QMdiSubWindow* sub, int n = 0) {
    return win::onGui([&] {
        Shown s;
        ListBox* list = listOf(sub, n);
        if (!list) return s;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
        QAccessibleTableInterface* table = iface ? iface->tableInterface() : nullptr;
        if (!table) return s;
        for (int c = 0; c < table->columnCount(); ++c)
            s.headers.push_back(table->columnDescription(c).toStdString());
        for (int r = 0; r < table->rowCount(); ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < table->columnCount(); ++c)
                row.push_back(table->cellAt(r, c)->text(QAccessible::Name).trimmed().toStdString());
            s.rows.push_back(row);
        }
        if (auto* tabs = sub->findChild<QTabWidget*>()) s.tab = tabs->currentIndex() + 1;
        return s;
    });
}

// Whether list `n` comes to show what `check` asks for, and to show these headers.
inline bool waitShown(QMdiSubWindow* sub, const std::function<bool(const Shown&)>& check, int n = 0) {
    return waitUntil([&] { return check(shown(sub, n)); });
}
inline bool waitHeaders(QMdiSubWindow* sub, const std::vector<std::string>& headers, int n = 0) {
    return waitShown(
        sub, [&](const Shown& s) { return s.headers == headers; }, n);
}

// The column under a header, with or without its sort mark; -1 when none.
inline int column(const Shown& s, const std::string& header) {
    for (std::size_t i = 0; i < s.headers.size(); ++i) {
        std::string h = s.headers[i];
        if (!h.empty() && (h[0] == '>' || h[0] == '<')) h.erase(0, 1);
        if (h == header) return static_cast<int>(i);
    }
    return -1;
}

inline std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

inline void mouse(ListBox* list, QEvent::Type type, QPoint at, Qt::MouseButton b, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), b, held, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &e);
}

// A click on the header of list column `col` (1-based, format order) with a button.
inline void clickHeader(QMdiSubWindow* sub, int col, Qt::MouseButton b = Qt::LeftButton, int n = 0) {
    win::onGui([&] {
        ListBox* list = listOf(sub, n);
        QPoint at = list->headerRect(col).center();
        mouse(list, QEvent::MouseButtonPress, at, b, b);
        mouse(list, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
    });
}

// A left click on row `row`, list column `col` (both 1-based).
inline void clickCell(QMdiSubWindow* sub, int row, int col, int n = 0) {
    win::onGui([&] {
        ListBox* list = listOf(sub, n);
        QPoint at = list->cellRect(row, col).center();
        mouse(list, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        mouse(list, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    });
}

// A header pressed, moved sideways in steps to x and let go there.
inline void dragHeader(QMdiSubWindow* sub, int col, int toX, int n = 0) {
    win::onGui([&] {
        ListBox* list = listOf(sub, n);
        QPoint at = list->headerRect(col).center();
        mouse(list, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        for (int step = 1; step <= 4; ++step) {
            QPoint p(at.x() + (toX - at.x()) * step / 4, at.y());
            mouse(list, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        }
        mouse(list, QEvent::MouseButtonRelease, QPoint(toX, at.y()), Qt::LeftButton, Qt::NoButton);
    });
}

// A right click on row `row`, list column `col` (both 1-based), answered with the menu item `text`
// ("" closes the menu); what the menu showed.
inline std::vector<std::string> rightClickCell(QMdiSubWindow* sub, int row, int col, const std::string& text,
                                               int n = 0) {
    browsetest::MenuAnswer answer(text);
    win::onGui([&] {
        ListBox* list = listOf(sub, n);
        QPoint at = list->cellRect(row, col).center();
        mouse(list, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
        mouse(list, QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
    });
    std::vector<std::string> lines;
    waitUntil([&] { return !(lines = win::onGui([&] { return answer.shape.lines; })).empty(); });
    return lines;
}

inline bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int headerLeft(QMdiSubWindow* sub, int col, int n = 0) {
    return win::onGui([&] { return listOf(sub, n)->headerRect(col).left(); });
}

inline void clickTab(QMdiSubWindow* sub, int tab) {
    win::onGui([&] {
        QTabBar* bar = sub->findChild<QTabWidget*>()->tabBar();
        QPoint at = bar->tabRect(tab - 1).center();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), bar->mapToGlobal(QPointF(at)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), bar->mapToGlobal(QPointF(at)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &release);
    });
}

// Types text on a list, one key press per character ("\b" is Backspace).
inline void typeOnList(QMdiSubWindow* sub, const std::string& text, int n = 0) {
    for (char ch : text)
        win::onGui([&] {
            const int k = ch == '\b' ? Qt::Key_Backspace
                          : std::isalpha(static_cast<unsigned char>(ch))
                              ? Qt::Key_A + (std::toupper(ch) - 'A')
                              : ch;
            QKeyEvent key(QEvent::KeyPress, k, Qt::NoModifier, ch == '\b' ? QString() : QString(QChar(ch)));
            QApplication::sendEvent(listOf(sub, n), &key);
        });
}

// The texts of the graph window that opens (Count, Percent, then each category with its count and
// percentage, in the order drawn), closed again by its OK button.
inline std::vector<std::string> graphTexts() {
    std::vector<std::string> texts;
    EXPECT_TRUE(waitUntil([&] {
        return win::onGui([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                for (QWidget* c : w->findChildren<QWidget*>())
                    if (w->isVisible() && c->accessibleDescription().contains("Count")) {
                        for (const QString& t : c->accessibleDescription().split('\n', Qt::SkipEmptyParts))
                            texts.push_back(t.toStdString());
                        for (QPushButton* b : w->findChildren<QPushButton*>())
                            if (b->text() == "OK") b->click();
                        return true;
                    }
            return false;
        });
    }));
    return texts;
}

// Opens a window from the frame's menu; the new child with that caption once it is there.
inline QMdiSubWindow* openChild(int item, const std::string& caption) {
    EXPECT_TRUE(waitUntil([] { return childCount() >= 1; })); // the notes open by themselves first
    const QList<QMdiSubWindow*> before = win::onGui([] { return children(); });
    choose(menuText(item));
    QMdiSubWindow* sub = nullptr;
    EXPECT_TRUE(waitUntil([&] {
        return win::onGui([&] {
            for (QMdiSubWindow* c : children())
                if (!before.contains(c) && c->windowTitle().toStdString() == caption) sub = c;
            return sub != nullptr;
        });
    }));
    return sub;
}

// Opens a window from the frame's menu and waits until its list `n` shows rows; the new child.
inline QMdiSubWindow* openFromMenu(int item, const std::string& caption, int n = 0) {
    QMdiSubWindow* sub = openChild(item, caption);
    EXPECT_TRUE(waitUntil([&] { return !shown(sub, n).rows.empty(); }));
    return sub;
}

} // namespace programtest
