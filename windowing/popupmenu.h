// Context menus and toolboxes for program threads. A menu is handed over as a definition (a flat
// list of entries with depths) and built as a QMenu on the GUI thread; the calling thread waits
// for the user's choice with the runtime lock given up. A toolbox is a small floating window of
// buttons that post their events to the window they belong to while it stays open.
#pragma once
#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace sorv::win {

// One entry of a menu definition. An entry followed by entries of a greater depth opens them as
// its submenu.
struct PopupEntry {
    int id = 0;       // answered when chosen (not 0)
    int depth = 0;    // 0 for the menu itself, 1 for a submenu of it, ...
    std::string text; // with '&' before the accelerator letter
    bool separator = false;
    bool disabled = false;
    bool checked = false;
    std::string icon; // image file or resource path, optional
};

// Shows the menu at the mouse over window `windowId` and answers the id chosen, 0 when the menu
// was closed without a choice (or there is no desktop, or nothing to show).
int popupMenu(int windowId, const std::vector<PopupEntry>& entries);

// One button of a toolbox: pressing it posts `eventCode` for `control` to the window. With
// `mimic` set the button follows the control's enabled and visible state while it is open.
struct ToolboxButton {
    std::string text;
    int eventCode = 0;
    int control = 0;
    bool mimic = false;
    std::string icon;
};

// Shows the toolbox of window `windowId` (one per window: a second call replaces its buttons and
// raises it). It closes with the window. False when the window is not open.
bool showToolbox(int windowId, const std::string& title, const std::vector<ToolboxButton>& buttons);
// Closes the window's toolbox, if it has one.
void closeToolbox(int windowId);
// True while the window's toolbox is shown.
bool toolboxShown(int windowId);

// Test hook: called on the GUI thread with every popup menu just after it was shown.
void setPopupMenuObserver(std::function<void(QMenu*)> observer);

} // namespace sorv::win
