// The INI manager: keeps a window's position and size in the program's INI file between runs and
// reads and writes single settings there. Windows are reached through PlacedWindow, which the
// desktop's window handle satisfies (see WindowPlacement), so the rules can be tested without one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorv::fw {

// A window's rectangle in dialog units.
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Placement&, const Placement&) = default;
};

// What the INI manager needs of a window.
class PlacedWindow {
public:
    virtual ~PlacedWindow() = default;
    virtual bool isIconized() const = 0;
    virtual bool isMaximized() const = 0;
    virtual bool isResizable() const = 0;
    virtual Placement placement() const = 0;
    virtual void maximize() = 0;
    // Moves (and, when given, sizes) the window; a part left empty keeps its current value.
    virtual void place(std::optional<int> x, std::optional<int> y, std::optional<int> width,
                       std::optional<int> height) = 0;
};

class IniManager {
public:
    // The default that tells a missing key from a present one.
    static constexpr std::string_view Unknown = "---Unknown---";

    virtual ~IniManager() = default;
    // Binds the manager to an INI file (cut to 259 characters). Until then every read answers its
    // default and every write is dropped, so nothing lands in the desktop profile by mistake.
    virtual void Init(std::string_view fileName);
    // Restores a window from its section: a missing "Maximize" restores nothing, "Yes" maximises,
    // "No" places it from the keys present (its size only when it is resizable).
    virtual void Fetch(std::string_view section, PlacedWindow& window);
    // Stores a window in its section: nothing for an iconised one; "Maximize" always; "XPos" and
    // "YPos" (and "Height" and "Width" for a resizable one) only when it is not maximised.
    virtual void Update(std::string_view section, const PlacedWindow& window);
    // The entry's text, "" when it is missing.
    virtual std::string ReadSetting(std::string_view section, std::string_view key);
    virtual void Update(std::string_view section, std::string_view key, std::string_view value);
    void Update(std::string_view section, std::string_view key, std::int64_t value);

    const std::string& fileName() const { return fileName_; }
    bool initialised() const { return !fileName_.empty(); }

private:
    // The entry read as a whole number; nothing when it is missing or not a number.
    std::optional<int> readNumber(std::string_view section, std::string_view key);
    // A write that did not take (a read-only file): the user is told once per binding.
    void written(bool ok);
    std::string fileName_;
    bool toldUnwritable_ = false;
};

// The program's INI manager, bound to "sorvdemo.INI" by the program entry.
IniManager& iniManager();

} // namespace sorv::fw
