// The event loop of the program's window procedures.
#include "app/procedure.h"

#include <mutex>

namespace sorv::app {

std::uint8_t GlobalRequest = 0;
std::uint8_t GlobalResponse = 0;
std::int32_t GlobalToolbarRequest = 0;

namespace {
std::mutex observerMutex;
std::function<void(const Procedure&, const win::Event&)> observer;
} // namespace

void Procedure::setEventObserver(std::function<void(const Procedure&, const win::Event&)> o) {
    std::lock_guard g(observerMutex);
    observer = std::move(o);
}

int Procedure::Run() {
    if (!openWindow()) return 3;
    GlobalRequest = 0;
    GlobalResponse = 0;
    opened();
    win::Event e;
    while (window_.accept(e)) {
        {
            std::function<void(const Procedure&, const win::Event&)> o;
            {
                std::lock_guard g(observerMutex);
                o = observer;
            }
            if (o) o(*this, e);
        }
        bool handled = false;
        if (win::isWindowEvent(e.code))
            handled = onWindowEvent(e);
        else if (e.code == win::event::Accepted)
            onAccepted(e.control);
        if (handled) continue;
        if ((e.code == win::event::CloseWindow || e.code == win::event::CloseDown) && !dead_) {
            dead_ = true;
            closing();
        }
        window_.defaultAction(e);
    }
    window_.close();
    return 0;
}

} // namespace sorv::app
