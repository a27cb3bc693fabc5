// Trace names of the event codes.
#include "windowing/events.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sorv::win {

namespace {
struct Named {
    int code;
    std::string_view name;
};
constexpr std::array names = {
    Named{0x1401, "EVENT:Accepted"},     Named{0x1402, "EVENT:NewSelection"},
    Named{0x1403, "EVENT:ScrollUp"},     Named{0x1404, "EVENT:ScrollDown"},
    Named{0x1405, "EVENT:PageUp"},       Named{0x1406, "EVENT:PageDown"},
    Named{0x1407, "EVENT:ScrollTop"},    Named{0x1408, "EVENT:ScrollBottom"},
    Named{0x1409, "EVENT:Locate"},       Named{0x140a, "EVENT:MouseUp"},
    Named{0x140b, "EVENT:MouseIn"},      Named{0x140c, "EVENT:MouseOut"},
    Named{0x140d, "EVENT:MouseMove"},    Named{0x140e, "EVENT:VBXevent"},
    Named{0x140f, "EVENT:AlertKey"},     Named{0x1410, "EVENT:PreAlert"},
    Named{0x1411, "EVENT:Dragging"},     Named{0x1412, "EVENT:Drag"},
    Named{0x1413, "EVENT:Drop"},         Named{0x1414, "EVENT:ScrollDrag"},
    Named{0x1415, "EVENT:TabChanging"},  Named{0x1416, "EVENT:Expanding"},
    Named{0x1417, "EVENT:Contracting"},  Named{0x1418, "EVENT:Expanded"},
    Named{0x1419, "EVENT:Contracted"},   Named{0x141a, "EVENT:Rejected"},
    Named{0x141b, "EVENT:DroppingDown"}, Named{0x141c, "EVENT:DroppedDown"},
    Named{0x141d, "EVENT:ScrollTrack"},  Named{0x141e, "EVENT:ColumnResize"},
    Named{0x1501, "EVENT:Selected"},     Named{0x1601, "EVENT:CloseWindow"},
    Named{0x1602, "EVENT:CloseDown"},    Named{0x1603, "EVENT:OpenWindow"},
    Named{0x1604, "EVENT:OpenFailed"},   Named{0x1605, "EVENT:LoseFocus"},
    Named{0x1606, "EVENT:GainFocus"},    Named{0x1608, "EVENT:Suspend"},
    Named{0x1609, "EVENT:Resume"},       Named{0x160a, "EVENT:Notify"},
    Named{0x160b, "EVENT:Timer"},        Named{0x160c, "EVENT:DDErequest"},
    Named{0x160d, "EVENT:DDEadvise"},    Named{0x160e, "EVENT:DDEdata"},
    Named{0x160f, "EVENT:DDEexecute"},   Named{0x1610, "EVENT:DDEpoke"},
    Named{0x1611, "EVENT:DDEclosed"},    Named{0x1620, "EVENT:Move"},
    Named{0x1621, "EVENT:Size"},         Named{0x1622, "EVENT:Restore"},
    Named{0x1623, "EVENT:Maximize"},     Named{0x1624, "EVENT:Iconize"},
    Named{0x1625, "EVENT:Completed"},    Named{0x1630, "EVENT:Moved"},
    Named{0x1631, "EVENT:Sized"},        Named{0x1632, "EVENT:Restored"},
    Named{0x1633, "EVENT:Maximized"},    Named{0x1634, "EVENT:Iconized"},
    Named{0x1635, "EVENT:Docked"},       Named{0x1636, "EVENT:UnDocked"},
    Named{0x1640, "EVENT:BuildFile"},    Named{0x1641, "EVENT:BuildKey"},
    Named{0x1642, "EVENT:BuildDone"},
};
} // namespace

std::string_view eventName(int code) {
    auto it =
        std::lower_bound(names.begin(), names.end(), code, [](const Named& n, int c) { return n.code < c; });
    return it != names.end() && it->code == code ? it->name : std::string_view();
}

} // namespace sorv::win
