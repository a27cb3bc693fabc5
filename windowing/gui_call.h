// The one road from a program thread to the desktop: a call runs on the GUI thread and the caller
// waits for it (run directly when already there). The GUI thread never waits for the runtime lock,
// so a caller may hold the lock while it calls.
#pragma once
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace sorv::win {

// True while a QApplication exists and its thread can take calls.
bool desktopRunning();
bool onGuiThread();
// Runs `call` on the GUI thread and returns when it has run. Without a desktop it does nothing.
void callGui(const std::function<void()>& call);

// callGui with a result; the default value when there is no desktop.
template <class F> auto onGui(F&& f) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        callGui(std::function<void()>(std::forward<F>(f)));
    } else {
        std::optional<R> result;
        callGui([&] { result.emplace(f()); });
        return result ? std::move(*result) : R{};
    }
}

} // namespace sorv::win
