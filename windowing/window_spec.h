// What a window is made of before it opens: its kind, caption, geometry in dialog units, font,
// menus, toolbar and numbered controls. Window resources are builders registered under their
// resource names ("sorvdemo$SORVD002"), one builder per name.
#pragma once
#include "runtime/field.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::win {

// A rectangle in dialog units; a negative x or y lets the desktop place the window, a width or
// height of 0 makes the control take its natural size.
struct Rect {
    int x = -1, y = -1, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct FontSpec {
    std::string face = "MS Sans Serif";
    int points = 8;
    bool bold = false;
    bool italic = false;
};

// The standard commands a menu item can carry instead of posting its number.
enum class StdAction {
    None,
    PrintSetup, // printer set-up dialog
    CloseFrame,
    Cut,
    Copy,
    Paste,
    Tile,
    Cascade,
    ArrangeIcons,
    WindowList, // a submenu listing the open MDI children
    HelpIndex,  // the help's contents
    HelpSearch, // the help's search
    HelpOnHelp, // the help's page about itself
};

struct MenuItem {
    std::string text;   // with '&' before the accelerator letter; "" for a separator
    int number = 0;     // control number posted with EVENT:Accepted
    std::string status; // status-bar message while the item is highlighted
    StdAction action = StdAction::None;
    std::string shortcut;        // key sequence text ("Ctrl+X"), optional
    std::vector<MenuItem> items; // a submenu when not empty
    bool separator() const { return text.empty() && items.empty() && action == StdAction::None; }
};

struct ToolButton {
    int number = 0;
    std::string icon; // image file (or a Qt resource path); "" shows the tip as text
    std::string tip;
};

// One control. `type` names a registered control type ("BUTTON", "PROMPT", "STRING", "ENTRY",
// "CHECK", "TEXT", "SHEET", "TAB", "GROUP", "PROGRESS"; later layers add more, such as "LIST").
struct ControlSpec {
    std::string type;
    int number = 0;
    Rect at;
    std::string text;    // caption, prompt or initial text
    std::string picture; // display picture of an entry or string
    FieldRef use;        // the program variable it shows and, once accepted, writes
    int parent = 0;      // a SHEET for a TAB, a TAB or GROUP for the controls on it
    bool readOnly = false;
    bool hidden = false;
    bool disabled = false;
    bool defaultButton = false;
    bool vscroll = false;
    bool hscroll = false;
    std::string tip;
    std::string format; // the type's own description (a list's format string, ...)
};

enum class WindowKind {
    Frame,    // the MDI main frame with menu bar, toolbar and status bar
    MdiChild, // a window inside the frame (top level when there is no frame)
    Window,   // a plain top-level window
};

struct WindowSpec {
    WindowKind kind = WindowKind::Window;
    std::string caption;
    Rect at;
    FontSpec font;
    bool resizable = true;
    bool maximized = false;
    bool iconized = false;
    bool modal = false;    // the thread's other windows wait while this one is open
    bool activates = true; // false: shown without taking the focus from the window in use
    bool center = false;
    bool atPointer = false; // opens with its top left corner at the mouse pointer, on the screen
    std::string icon;
    std::string help; // the window's help topic; the resource's name when left empty
    std::vector<MenuItem> menus;
    std::vector<ToolButton> toolbar;
    std::string statusText; // the frame's status bar when no item is highlighted
    std::vector<ControlSpec> controls;
    std::vector<int> alertKeys; // Qt key combinations that post EVENT:AlertKey
    // Tab follows the order the controls are listed in, for a layout of blocks side by side that
    // rows across the whole window would cut through; otherwise Tab goes row by row.
    bool tabsInListedOrder = false;

    ControlSpec& add(std::string type, int number, Rect at, std::string text = {});
};

using WindowBuilder = std::function<WindowSpec()>;
// Registers the builder of a resource; a second builder for the same name is refused (false).
bool registerWindowResource(std::string name, WindowBuilder builder);
std::optional<WindowSpec> buildWindowResource(std::string_view name);

// Dialog units to pixels: multiplied by the window's factor, then divided, rounded.
int dialogToPixels(int units, int multiplier, int divisor);
int pixelsToDialog(int pixels, int multiplier, int divisor);

} // namespace sorv::win
