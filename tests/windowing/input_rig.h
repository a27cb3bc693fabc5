// What the windowing tests do as the user and read back as the program: keys pressed on the
// widget with the focus, and a window's next event of one code.
#pragma once
#include "windowing/gui_call.h"
#include "windowing/window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <gtest/gtest.h>

namespace sorv::test {

// Presses and releases a key on the widget that has the keyboard focus (from a driver thread).
inline void pressKey(int k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    win::onGui([&] {
        QWidget* to = QApplication::focusWidget();
        ASSERT_TRUE(to) << "nothing has the keyboard focus";
        QKeyEvent press(QEvent::KeyPress, k, mods, text), release(QEvent::KeyRelease, k, mods, text);
        QApplication::sendEvent(to, &press);
        QApplication::sendEvent(to, &release);
    });
}

// The next event of `w` of one code (the program's side), passing over the others, such as the
// desktop's focus, size and move events.
inline win::Event nextOf(win::Window& w, int code) {
    win::Event e;
    while (w.accept(e))
        if (e.code == code) return e;
    ADD_FAILURE() << "window closed before " << win::eventName(code);
    return e;
}

} // namespace sorv::test
