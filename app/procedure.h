// The shape every window procedure of the program has: open its window, hand out the window's
// events one at a time until it closes, then tidy up. The frame and the text and link windows
// derive from it and fill in single steps.
#pragma once
#include "windowing/events.h"
#include "windowing/window.h"

#include <cstdint>
#include <functional>

namespace sorv::app {

// The global request and response a procedure passes to the next one, and the toolbar request
// every window is given; each window clears request and response once it has opened.
extern std::uint8_t GlobalRequest;
extern std::uint8_t GlobalResponse;
extern std::int32_t GlobalToolbarRequest;

class Procedure {
public:
    virtual ~Procedure() = default;
    // Opens the window and runs it; answers 0, or the failing level of Init.
    int Run();
    win::Window& window() { return window_; }

    // Test hook: called with every event a procedure's window receives, before it is handled.
    static void setEventObserver(std::function<void(const Procedure&, const win::Event&)> observer);

protected:
    // Opens the window (the procedure's resource); false when it cannot be opened.
    virtual bool openWindow() = 0;
    // Steps after the window is open (restoring its place, filling it).
    virtual void opened() {}
    // A window event; a true answer means it is handled and the default action is skipped.
    virtual bool onWindowEvent(const win::Event&) { return false; }
    virtual void onAccepted(int /*control*/) {}
    // The window is about to close (it is still open: its place can be stored).
    virtual void closing() {}

    win::Window window_;

private:
    bool dead_ = false;
};

} // namespace sorv::app
