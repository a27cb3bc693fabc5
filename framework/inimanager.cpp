// Window positions and single settings of the program's INI file, through the INI access of the
// runtime (GETINI/WRITEINI), which caches reads and writes the file atomically.
#include "framework/inimanager.h"

#include "runtime/inifile.h"
#include "windowing/desktop.h"

#include <cctype>
#include <charconv>

namespace sorv::fw {

namespace {

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

void IniManager::Init(std::string_view fileName) {
    while (!fileName.empty() && fileName.back() == ' ') fileName.remove_suffix(1);
    fileName_ = std::string(fileName.substr(0, iniFileMax));
    toldUnwritable_ = false;
}

void IniManager::written(bool ok) {
    if (ok || toldUnwritable_) return;
    toldUnwritable_ = true;
    win::message("The settings file " + fileName_ +
                     " cannot be written (it is read-only or its folder is); window places and list "
                     "layouts are not stored.",
                 "Settings not stored", win::icon::Exclamation);
}

std::optional<int> IniManager::readNumber(std::string_view section, std::string_view key) {
    std::string text = GETINI(section, key, Unknown, fileName_);
    if (text == Unknown) return std::nullopt;
    std::string_view t = text;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    // A damaged entry is treated as missing rather than moving the window somewhere odd.
    if (ec != std::errc{} || end != t.data() + t.size() || t.empty()) return std::nullopt;
    return value;
}

void IniManager::Fetch(std::string_view section, PlacedWindow& window) {
    if (!initialised()) return;
    std::string maximize = GETINI(section, "Maximize", Unknown, fileName_);
    if (sameText(maximize, "Yes")) {
        window.maximize();
        return;
    }
    if (!sameText(maximize, "No")) return; // missing (or unreadable): keep the designed place
    std::optional<int> x = readNumber(section, "XPos");
    std::optional<int> y = readNumber(section, "YPos");
    std::optional<int> width, height;
    if (window.isResizable()) {
        height = readNumber(section, "Height");
        width = readNumber(section, "Width");
        if (width && *width <= 0) width.reset();
        if (height && *height <= 0) height.reset();
    }
    if (x || y || width || height) window.place(x, y, width, height);
}

void IniManager::Update(std::string_view section, const PlacedWindow& window) {
    if (!initialised() || window.isIconized()) return;
    bool maximized = window.isMaximized();
    written(WRITEINI(section, "Maximize", std::string_view(maximized ? "Yes" : "No"), fileName_));
    if (maximized) return; // the earlier position keys stay for the next restore
    Placement at = window.placement();
    written(WRITEINI(section, "XPos", std::int64_t{at.x}, fileName_));
    written(WRITEINI(section, "YPos", std::int64_t{at.y}, fileName_));
    if (window.isResizable()) {
        written(WRITEINI(section, "Height", std::int64_t{at.height}, fileName_));
        written(WRITEINI(section, "Width", std::int64_t{at.width}, fileName_));
    }
}

std::string IniManager::ReadSetting(std::string_view section, std::string_view key) {
    if (!initialised()) return {};
    return GETINI(section, key, {}, fileName_);
}

void IniManager::Update(std::string_view section, std::string_view key, std::string_view value) {
    if (!initialised()) return;
    written(WRITEINI(section, key, value, fileName_));
}

void IniManager::Update(std::string_view section, std::string_view key, std::int64_t value) {
    if (!initialised()) return;
    written(WRITEINI(section, key, value, fileName_));
}

IniManager& iniManager() {
    static IniManager manager;
    return manager;
}

} // namespace sorv::fw
