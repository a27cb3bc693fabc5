// The list box as a control of a window ("LIST"): program threads push rows and read and write its
// properties by number through `Window`, like any control.
#pragma once
#include "windowing/control.h"
#include "windowing/listbox.h"

#include <vector>

namespace sorv::win {

// The rows a program pushes with Window::setData: a copy of its queue's entries as field texts.
struct ListRowsData : ControlData {
    std::vector<ListRow> rows;
};
// The same as a copy of the queue's entries (their bytes), for lists held whole in memory.
struct ListEntriesData : ControlData {
    std::shared_ptr<const ListEntries> entries;
};

// Properties of the list control. Column properties (7E00-7E7F) carry their 1-based column in
// the high 16 bits: listColumnProperty(0x7E04, 2) is the width of column 2; the style properties
// carry their style number the same way.
namespace listprop {
enum : int {
    VisibleRows = 0x7C01, // read only
    Selected = 0x7C02,    // 1-based row, 0 none
    Thumb = 0x7C03,       // 0 to 100
    FirstRow = 0x7C04,
    VScroll = 0x7C05, // "1" on
    HScroll = 0x7C06,
    LineHeight = 0x7C07, // dialog units
    FontFace = 0x7C08,
    FontSize = 0x7C09,
    FontColour = 0x7C0A,
    FontStyle = 0x7C0B, // 400 regular, 700 bold, + 4096 italic, + 8192 underline
    HorizontalPosition = 0x7C0C,
    ProgramPaged = 0x7C0D, // "1": a browse pages the list itself
    SourceFields = 0x7C0E, // fields of the source, for default columns
    PressRow = 0x7C10,     // mouse at the last press or double click
    PressColumn = 0x7C11,
    PressZone = 0x7C12,
    MoveRow = 0x7C13, // at the last move
    MoveColumn = 0x7C14,
    MoveZone = 0x7C15,
    ReleaseRow = 0x7C16, // at the last release
    ReleaseColumn = 0x7C17,
    ReleaseZone = 0x7C18,
    FitColumn = 0x7C19, // write a column number: sized to its widest text
    AlertKeys = 0x7C1A, // key codes separated by ","
    MouseHook = 0x7C1B, // "1": raw mouse actions are posted as the events below
    Icons = 0x7C1C,     // icon image files (or resource paths, or "~SvCheck.ICO") by "|"; icon 1 first
    XPos = 0x7C1D,      // position and size in the window's dialog units
    YPos = 0x7C1E,
    Width = 0x7C1F,
    Height = 0x7C20,
    ColumnPixelWidth = 0x7C21, // read only, with the column in the high bits: width in pixels
    ColumnPixelLeft = 0x7C22,  // read only: left edge in pixels from the list's left, as scrolled
                               // (empty when the column is not shown)
    MarkedColumn = 0x7C23,     // a column drawn marked (a dialog editing it), 0 none
    // What a style number (from a style field or Z(n)) shows, with the style in the high bits
    // as for columns; a style that sets no font keeps the list's.
    StyleFontFace = 0x7C24,
    StyleFontSize = 0x7C25,
    StyleFontStyle = 0x7C26,  // as FontStyle
    StyleForeground = 0x7C27, // a colour, -1 unchanged
    StyleBackground = 0x7C28,
    Flag5C = 0x7C5C, // flags of the list that it only keeps
    Flag65 = 0x7C65,
    Format = 0x7C85,
};
}
constexpr int listColumnProperty(int code, int column) {
    return (column << 16) | code;
}

// Events posted with the mouse hook on, in the framework's numbering (EVENT:Accepted is 1).
namespace listmouse {
enum : int {
    LeftDown = 0x401,
    LeftUp = 0x402,
    OutOfHeader = 0x404, // left the pressed header with the button down
    RightDown = 0x405,
    RightUp = 0x406,
    HeaderDrag = 0x408, // moved sideways with the button down on a header
};
}

// The factory of "LIST" controls (registered with the standard types).
ControlFactory listControlFactory();

} // namespace sorv::win
