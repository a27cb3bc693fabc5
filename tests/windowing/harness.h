// Test harness for GUI tests: one QApplication on the test's main thread, programs run on their
// own threads against it, and message boxes answered as they appear.
#pragma once
#include "windowing/desktop.h"
#include "windowing/gui_call.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sorv::test {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "sorvtest";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs `program` as the first thread of a program while this thread serves the desktop; returns
// when the program and every thread it started have ended.
inline void runWithDesktop(std::function<void()> program) {
    application();
    win::runProgram(std::move(program));
}

// Clicks the button of the given value in a box (GUI thread).
inline bool clickBoxButton(QMessageBox* box, int value) {
    for (QAbstractButton* b : box->buttons())
        if (b->property("sorvValue").toInt() == value) {
            b->click();
            return true;
        }
    return false;
}

// Answers every message box shown while it lives with the next of `answers` (button values);
// once they run out a box is left open for `onShown` to handle. Records what each box showed.
class BoxAnswers {
public:
    struct Shown {
        std::string title, text;
        int icon = 0; // QMessageBox::Icon
        std::vector<int> buttons;
        int defaultButton = 0;
    };
    explicit BoxAnswers(std::vector<int> answers = {}) : answers_(answers.begin(), answers.end()) {
        win::setMessageBoxObserver([this](QMessageBox* box) { seen(box); });
    }
    ~BoxAnswers() { win::setMessageBoxObserver({}); }
    std::vector<Shown> shown() const {
        std::lock_guard g(mutex_);
        return shown_;
    }
    std::function<void(QMessageBox*)> onShown;

private:
    void seen(QMessageBox* box) {
        Shown s{box->windowTitle().toStdString(),
                box->text().toStdString(),
                static_cast<int>(box->icon()),
                {},
                0};
        for (QAbstractButton* b : box->buttons()) {
            s.buttons.push_back(b->property("sorvValue").toInt());
            if (b == static_cast<QAbstractButton*>(box->defaultButton()))
                s.defaultButton = b->property("sorvValue").toInt();
        }
        int answer = 0;
        {
            std::lock_guard g(mutex_);
            shown_.push_back(s);
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
        }
        if (answer)
            QMetaObject::invokeMethod(
                box, [box, answer] { clickBoxButton(box, answer); }, Qt::QueuedConnection);
        else if (onShown)
            onShown(box);
    }
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Shown> shown_;
};

// Waits (on a thread other than the desktop's) until `condition` holds or `ms` have passed.
inline bool waitUntil(const std::function<bool()>& condition, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// The first widget of a class (any when null) whose accessible name is `name` (GUI thread).
inline QWidget* findWidget(const QString& name, const char* className = nullptr) {
    for (QWidget* w : QApplication::allWidgets())
        if (w->accessibleName() == name && (!className || w->inherits(className))) return w;
    return nullptr;
}

// Waits (on a thread of the test's own, not the desktop's nor the program's) until a top-level
// widget of class D with that accessible name is shown, and runs `act` on it on the GUI thread. A
// widget once handled is not handled again, so the same dialog opened twice is seen twice.
template <class D> bool whenShown(const QString& name, std::function<void(D*)> act, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 10) {
        D* d = win::onGui([&]() -> D* {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<D*>(w);
                    d && d->accessibleName() == name && d->isVisible() && !d->property("handled").toBool())
                    return d;
            return nullptr;
        });
        if (d) {
            win::onGui([&] {
                d->setProperty("handled", true);
                act(d);
            });
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace sorv::test
