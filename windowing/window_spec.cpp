// Window resource builders by name, and dialog unit arithmetic.
#include "windowing/window_spec.h"

#include <map>
#include <mutex>

namespace sorv::win {

namespace {
std::mutex resourcesMutex;
std::map<std::string, WindowBuilder, std::less<>>& resources() {
    static std::map<std::string, WindowBuilder, std::less<>> r;
    return r;
}
} // namespace

ControlSpec& WindowSpec::add(std::string type, int number, Rect at, std::string text) {
    ControlSpec c;
    c.type = std::move(type);
    c.number = number;
    c.at = at;
    c.text = std::move(text);
    controls.push_back(std::move(c));
    return controls.back();
}

bool registerWindowResource(std::string name, WindowBuilder builder) {
    std::lock_guard g(resourcesMutex);
    return resources().emplace(std::move(name), std::move(builder)).second;
}

std::optional<WindowSpec> buildWindowResource(std::string_view name) {
    WindowBuilder builder;
    {
        std::lock_guard g(resourcesMutex);
        auto it = resources().find(name);
        if (it == resources().end()) return std::nullopt;
        builder = it->second;
    }
    return builder();
}

int dialogToPixels(int units, int multiplier, int divisor) {
    if (divisor <= 0) return units;
    long long p = static_cast<long long>(units) * multiplier;
    long long half = divisor / 2;
    return static_cast<int>(p >= 0 ? (p + half) / divisor : -((-p + half) / divisor));
}

int pixelsToDialog(int pixels, int multiplier, int divisor) {
    if (multiplier <= 0) return pixels;
    return dialogToPixels(pixels, divisor, multiplier);
}

} // namespace sorv::win
