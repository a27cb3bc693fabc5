// Event codes that every window procedure receives, their trace names, and the event record that
// travels from the desktop to a procedure thread's event queue.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace sorv::win {

namespace event {
enum : int {
    Accepted = 0x1401,
    NewSelection = 0x1402,
    ScrollUp = 0x1403,
    ScrollDown = 0x1404,
    PageUp = 0x1405,
    PageDown = 0x1406,
    ScrollTop = 0x1407,
    ScrollBottom = 0x1408,
    Locate = 0x1409,
    MouseUp = 0x140a,
    MouseIn = 0x140b,
    MouseOut = 0x140c,
    MouseMove = 0x140d,
    VBXevent = 0x140e,
    AlertKey = 0x140f,
    PreAlert = 0x1410,
    Dragging = 0x1411,
    Drag = 0x1412,
    Drop = 0x1413,
    ScrollDrag = 0x1414,
    TabChanging = 0x1415,
    Expanding = 0x1416,
    Contracting = 0x1417,
    Expanded = 0x1418,
    Contracted = 0x1419,
    Rejected = 0x141a,
    DroppingDown = 0x141b,
    DroppedDown = 0x141c,
    ScrollTrack = 0x141d,
    ColumnResize = 0x141e,
    Selected = 0x1501,
    CloseWindow = 0x1601,
    CloseDown = 0x1602,
    OpenWindow = 0x1603,
    OpenFailed = 0x1604,
    LoseFocus = 0x1605,
    GainFocus = 0x1606,
    Suspend = 0x1608,
    Resume = 0x1609,
    Notify = 0x160a,
    Timer = 0x160b,
    DDErequest = 0x160c,
    DDEadvise = 0x160d,
    DDEdata = 0x160e,
    DDEexecute = 0x160f,
    DDEpoke = 0x1610,
    DDEclosed = 0x1611,
    Move = 0x1620,
    Size = 0x1621,
    Restore = 0x1622,
    Maximize = 0x1623,
    Iconize = 0x1624,
    Completed = 0x1625,
    Moved = 0x1630,
    Sized = 0x1631,
    Restored = 0x1632,
    Maximized = 0x1633,
    Iconized = 0x1634,
    Docked = 0x1635,
    UnDocked = 0x1636,
    BuildFile = 0x1640,
    BuildKey = 0x1641,
    BuildDone = 0x1642,
};
// The message a started thread finds first in its queue; its parameter is the thread's slot.
constexpr int ThreadStarted = 0x2414;
} // namespace event

// "EVENT:Accepted" for 0x1401; "" for a code that is not an event.
std::string_view eventName(int code);
// Field events concern one control (0x1401-0x14FF and 0x1501), window events the whole window.
constexpr bool isFieldEvent(int code) {
    return (code >= 0x1401 && code <= 0x14ff) || code == 0x1501;
}
constexpr bool isWindowEvent(int code) {
    return code >= 0x1601 && code <= 0x1fff;
}
// The framework numbers events as the code less 0x1400 (EVENT:Accepted is 1).
constexpr int frameworkNumber(int code) {
    return code - 0x1400;
}
constexpr int eventCode(int frameworkNumber) {
    return frameworkNumber + 0x1400;
}

// One event as a procedure receives it. `window` is the id of the window it belongs to; 0 sends it
// to whichever window of the thread is taking events (a post to a thread). `text` carries the new
// text of an accepted entry, which is written to the control's variable before the event is seen.
struct Event {
    int code = 0;
    int control = 0;
    int window = 0;
    int keyCode = 0;
    int param = 0;
    int param2 = 0;
    std::string text;
    bool hasText = false;
    bool fromDesktop = false; // the desktop posted it (the user acted), not the program
};

inline Event makeEvent(int code, int control = 0, int window = 0, int param = 0) {
    Event e;
    e.code = code;
    e.control = control;
    e.window = window;
    e.param = param;
    return e;
}

} // namespace sorv::win
