// The small progress window of the list's long jobs (export, graph, report): caption "Progress...",
// a bar from 0 to 100 and a "Cancel" button. The bar stands at records done times 100 divided by
// records expected. It is a window like any other, opened on the list's thread and modal to it;
// the job asks between records whether the user pressed "Cancel" (or closed the window).
#pragma once
#include "windowing/window.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sorv::bx {

// Control numbers of the progress window.
namespace progressctl {
enum : int { Bar = 1, Cancel = 2 };
}

class ProgressWindow {
public:
    ProgressWindow() = default;
    ~ProgressWindow() { close(); }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Opens the window of that resource (registered on first use with the common design). False
    // when no window could be opened; the job then runs without one.
    bool open(std::string_view resource);
    // Moves the bar to done * 100 / expected (0 while nothing is expected, at most 100); the window
    // is redrawn only when the percentage changed.
    void show(std::int64_t done, std::int64_t expected);
    void setCaption(const std::string& caption);
    // True once "Cancel" was pressed or the window was asked to close.
    bool cancelled();
    // The user chose to go on after all: "Cancel" counts again from now.
    void goOn() { cancelled_ = false; }
    void close();
    bool isOpen() const { return window_.isOpen(); }
    int percent() const { return percent_; }

private:
    win::Window window_;
    int percent_ = -1;
    bool cancelled_ = false;
};

} // namespace sorv::bx
