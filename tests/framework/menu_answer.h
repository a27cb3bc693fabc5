// Answers the popup menus a test has a program show: the next menu shown is read (its entries
// and their states) and answered on the desktop by triggering one entry, as a click would.
#pragma once
#include "windowing/popupmenu.h"

#include <QAction>
#include <QMenu>
#include <functional>
#include <string>
#include <vector>

namespace browsetest {

// What a shown menu held, line by line: depth, text, and "(off)" for a disabled entry.
struct MenuShape {
    std::vector<std::string> lines;
    void read(QMenu* menu, int depth = 0) {
        for (QAction* a : menu->actions()) {
            std::string line =
                std::to_string(depth) + ":" + (a->isSeparator() ? "-" : a->text().toStdString());
            if (!a->isEnabled()) line += "(off)";
            lines.push_back(line);
            if (a->menu()) read(a->menu(), depth + 1);
        }
    }
};

// Answers the next shown menu by triggering the entry with `text` ("" closes it unchosen).
struct MenuAnswer {
    MenuShape shape;
    explicit MenuAnswer(std::string text) {
        sorv::win::setPopupMenuObserver([this, text](QMenu* menu) {
            shape = {};
            shape.read(menu);
            QMetaObject::invokeMethod(
                menu,
                [menu, text] {
                    std::function<bool(QMenu*)> pick = [&](QMenu* m) {
                        for (QAction* a : m->actions()) {
                            if (a->menu() && pick(a->menu())) return true;
                            if (!a->menu() && a->text().toStdString() == text) {
                                a->trigger();
                                return true;
                            }
                        }
                        return false;
                    };
                    if (text.empty() || !pick(menu)) menu->close();
                },
                Qt::QueuedConnection);
        });
    }
    ~MenuAnswer() { sorv::win::setPopupMenuObserver({}); }
};

} // namespace browsetest
