// The real program under the offscreen desktop for the benchmarks that time what a user does:
// the frame's menu, a child window by its caption, mouse presses, a step timed from the user's
// action to the change it shows, and the median of the rounds.
#pragma once
#include "app/program.h"
#include "tests/windowing/harness.h"
#include "windowing/threads.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace programbench {

using namespace sorv;

inline QMainWindow* frame() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMainWindow*>(w)) return m;
    return nullptr;
}

// Chooses a menu item of the frame by its text (on the desktop).
inline void choose(const QString& text) {
    win::onGui([&] {
        if (QMainWindow* f = frame())
            for (QAction* a : f->findChildren<QAction*>())
                if (a->text() == text) return a->trigger();
    });
}

inline QMdiSubWindow* childWindow(const QString& caption) {
    return win::onGui([&]() -> QMdiSubWindow* {
        QMainWindow* f = frame();
        auto* area = f ? qobject_cast<QMdiArea*>(f->centralWidget()) : nullptr;
        if (!area) return nullptr;
        for (QMdiSubWindow* s : area->subWindowList())
            if (s->windowTitle() == caption) return s;
        return nullptr;
    });
}

// Waits (polling) until `done` holds; a step that shows nothing in two minutes ends the run.
inline void waitFor(const char* what, const std::function<bool()>& done) {
    const auto t0 = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(120)) {
            std::fprintf(stderr, "%s: nothing seen in 120 s\n", what);
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Runs `act` on the desktop and answers the seconds until `done` holds.
inline double timed(const char* what, const std::function<void()>& act, const std::function<bool()>& done) {
    const auto t0 = std::chrono::steady_clock::now();
    win::onGui(act);
    waitFor(what, done);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A press and release of the left button at `at` (desktop thread).
inline void click(QWidget* to, QPoint at) {
    for (auto [type, held] : {std::pair{QEvent::MouseButtonPress, Qt::MouseButtons(Qt::LeftButton)},
                              std::pair{QEvent::MouseButtonRelease, Qt::MouseButtons(Qt::NoButton)}}) {
        QMouseEvent e(type, QPointF(at), to->mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(to, &e);
    }
}

// Runs the program's entry while `drive` acts as the user; `drive` ends the program.
inline void runProgram(const std::function<void()>& drive) {
    std::thread driver([&] {
        for (int i = 0; i < 6000 && !win::onGui([] { return frame() != nullptr; }); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        drive();
        choose("E&xit");
    });
    test::runWithDesktop(app::programEntry);
    driver.join();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace programbench
