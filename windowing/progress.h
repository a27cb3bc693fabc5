// The small progress window of long jobs (a list's export, graph and report, a browse sorting its
// whole order): caption "Progress...", a bar from 0 to 100 and a "Cancel" button. The bar stands
// at records done times 100 divided by records expected. It is a window like any other, opened
// on the job's thread and modal to it, or beside the window the user works in without taking
// the focus from it; the job asks between records whether the user pressed "Cancel" (or closed
// the window).
#pragma once
#include "windowing/window.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sorv::win {

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

    // Opens the window of that resource (registered on first use with the common design, modal or
    // not: a resource keeps the kind it was first opened as). False when no window could be
    // opened; the job then runs without one.
    bool open(std::string_view resource, bool modal = true);
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
    Window window_;
    int percent_ = -1;
    bool cancelled_ = false;
};

} // namespace sorv::win
