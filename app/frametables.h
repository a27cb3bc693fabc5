// The main frame's menu and toolbar as data: control numbers, texts, status-bar messages, the
// standard actions, and the procedures the menu starts with their stack sizes.
#pragma once
#include "windowing/window_spec.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sorv::app {

// Control numbers of the frame's menu items (the frame's own, all negative).
namespace menu {
enum : int {
    File = -1,
    PrintSetup = -2,
    Exit = -3,
    Edit = -4,
    Cut = -5,
    Copy = -6,
    Paste = -7,
    Browse = -8,
    BrowseCustomer = -9,
    BrowsePeople = -10,
    BrowseParentChild = -11,
    FileLoadedList = -12,
    HandCodedList = -13,
    Window = -14,
    Tile = -15,
    Cascade = -16,
    ArrangeIcons = -17,
    Help = -18,
    WebSites = -19,
    Notes = -20,
    Quotes = -21,
    Contents = -22,
    SearchHelp = -23,
    HowToUseHelp = -24,
};
}

// The toolbar's buttons, 2000 to 2012; the frame forwards them to the active child.
inline constexpr int FirstToolbarButton = 2000;
inline constexpr int LastToolbarButton = 2012;
constexpr bool isToolbarButton(int control) {
    return control >= FirstToolbarButton && control <= LastToolbarButton;
}

// A menu command that starts a procedure on a thread of its own.
struct MenuProcedure {
    int control;
    const char* name;      // the procedure's module or name, for tests and traces
    std::size_t stackSize; // bytes
    void (*procedure)();   // null while the procedure comes with a later part of the program
};
const std::vector<MenuProcedure>& menuProcedures();
// The entry for a control, nullptr when the control starts no procedure.
const MenuProcedure* menuProcedure(int control);

// The menu bar, in order, and the toolbar, left to right.
std::vector<win::MenuItem> frameMenus();
std::vector<win::ToolButton> frameToolbar();

// Path of a shipped icon or cursor ("VCRFIRST.ICO"); the program's resources are made available
// by initResources().
std::string iconPath(const std::string& name);
void initResources();

} // namespace sorv::app
