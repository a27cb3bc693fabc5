// Layout persistence: the list's formats (one per format slot), geometry, font and sort kept in
// the INI file under the owner's procedure, used only while the list's design is unchanged; and
// the switch between format slots.
#include "browse_ext/sorvex.h"

#include "runtime/inifile.h"
#include "runtime/listformat.h"
#include "windowing/listbox_control.h"

#include <charconv>

namespace sorv::bx {

namespace {

int toInt(const std::string& s) {
    int v = 0;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    while (b < e && *b == ' ') ++b;
    std::from_chars(b, e, v);
    return v;
}

// The key of the sort direction beside "SorvexPrevCol-": 0 ascending, 1 descending.
constexpr std::string_view PrevDirKey = "SorvexPrevDir-";

} // namespace

void Sorvex::RestoreLayout(std::string_view control, std::string_view procedure) {
    const std::string c(control);
    auto read = [&](std::string_view prefix, const std::string& def, const std::string& slot = {}) {
        return GETINI(procedure, std::string(prefix) + c + slot, def, INIFILENAME);
    };
    auto readNumber = [&](std::string_view prefix, int def) {
        return toInt(read(prefix, std::to_string(def)));
    };

    DEF.ORIGFORMATSTRING = read("SorvexOrigFormatString-", "0");
    DEF.LINEHEIGHT = static_cast<std::uint8_t>(toInt(listProperty(win::listprop::LineHeight)));
    DEF.FONT = listProperty(win::listprop::FontFace).substr(0, 20);
    DEF.POINT = static_cast<std::uint8_t>(toInt(listProperty(win::listprop::FontSize)));
    DEF.COLOR = toInt(listProperty(win::listprop::FontColour));
    DEF.STYLE = toInt(listProperty(win::listprop::FontStyle));
    DEF.HSCROLL = listProperty(win::listprop::HScroll) == "1" ? 1 : 0;
    DEF.VSCROLL = listProperty(win::listprop::VScroll) == "1" ? 1 : 0;
    DEF.XPOS = static_cast<std::int16_t>(toInt(listProperty(win::listprop::XPos)));
    DEF.YPOS = static_cast<std::int16_t>(toInt(listProperty(win::listprop::YPos)));
    DEF.HEIGHT = static_cast<std::int16_t>(toInt(listProperty(win::listprop::Height)));
    DEF.WIDTH = static_cast<std::int16_t>(toInt(listProperty(win::listprop::Width)));

    const std::string design = fitted(listProperty(win::listprop::Format));
    FormatSlot slot;
    if (design == DEF.ORIGFORMATSTRING) {
        for (std::int64_t i = 1; FORQ.get(i, slot); ++i) {
            slot.FORMAT = read("SorvexFormatString-", DEF.ORIGFORMATSTRING, std::to_string(i));
            // A stored format the list would not take (cut short, or edited by hand) gives the
            // design back rather than a list of default columns.
            if (slot.FORMAT != "0" && (slot.FORMAT.size() > MaxFormat || ListFormat::check(slot.FORMAT) != 0))
                slot.FORMAT = DEF.ORIGFORMATSTRING;
            FORQ.put(slot);
        }
        if (FORQ.get(1, slot)) {
            currentSlot_ = slot.CONTROL;
            if (slot.FORMAT != "0") {
                setListProperty(win::listprop::Format, 0, slot.FORMAT);
                TakeFormatApart();
            }
        }
        setListProperty(win::listprop::HScroll, 0, std::to_string(readNumber("SorvexHscroll-", DEF.HSCROLL)));
        setListProperty(win::listprop::VScroll, 0, std::to_string(readNumber("SorvexVscroll-", DEF.VSCROLL)));
        setListProperty(win::listprop::LineHeight, 0,
                        std::to_string(readNumber("SorvexLineHeight-", DEF.LINEHEIGHT)));
        setListProperty(win::listprop::FontFace, 0, read("SorvexFont-", DEF.FONT).substr(0, 20));
        setListProperty(win::listprop::FontSize, 0, std::to_string(readNumber("SorvexPoint-", DEF.POINT)));
        setListProperty(win::listprop::FontColour, 0, std::to_string(readNumber("SorvexColor-", DEF.COLOR)));
        setListProperty(win::listprop::FontStyle, 0, std::to_string(readNumber("SorvexStyle-", DEF.STYLE)));
        if (DEF.ALLOWBBRESIZE) {
            setListProperty(win::listprop::XPos, 0, std::to_string(readNumber("SorvexXpos-", DEF.XPOS)));
            setListProperty(win::listprop::YPos, 0, std::to_string(readNumber("SorvexYpos-", DEF.YPOS)));
            setListProperty(win::listprop::Height, 0,
                            std::to_string(readNumber("SorvexHeight-", DEF.HEIGHT)));
            setListProperty(win::listprop::Width, 0, std::to_string(readNumber("SorvexWidth-", DEF.WIDTH)));
        }
        // A list stored in key order reads 0 (and a missing key too), so that a first click on
        // column 1 sorts it ascending; a list stored sorted opens sorted the way it was.
        const int sorted = readNumber("SorvexPrevCol-", 0);
        SorvexColumn col;
        if (sorted > 0 && displayedColumn(sorted, col) && col.SORTFIELD != 0) {
            setSortedColumn(sorted);
            col.ASCDESC = readNumber(PrevDirKey, 0) == 1 ? 1 : 0;
            storeDisplayed(col);
            keepDirection(col);
            QNOS = static_cast<std::uint8_t>(col.QNOS);
            HDRTOKEN = col.ASCDESC ? DESCTOKEN : ASCTOKEN;
            if (RRESTOREHEADER) *RRESTOREHEADER = 1;
            if (RVIEWORDER) *RVIEWORDER = LISTTYPE == 1 ? 1 : 0;
            if (LISTTYPE != 1) sortQueueList(SortChoice());
        } else {
            setSortedColumn(0);
        }
    } else {
        DEF.ORIGFORMATSTRING = design;
        setSortedColumn(0);
        for (std::int64_t i = 1; FORQ.get(i, slot); ++i) {
            slot.FORMAT = DEF.ORIGFORMATSTRING;
            FORQ.put(slot);
        }
        if (FORQ.get(1, slot)) currentSlot_ = slot.CONTROL;
    }
    RefreshColumns(true);
    hookList();
}

void Sorvex::SaveLayout(std::string_view control, std::string_view procedure, std::uint8_t sortedColumn) {
    const std::string c(control);
    auto write = [&](std::string_view prefix, const std::string& value, const std::string& slot = {}) {
        WRITEINI(procedure, std::string(prefix) + c + slot, std::string_view(value), INIFILENAME);
    };
    // Whatever the list type, no stored format carries a sort mark.
    std::uint8_t direction = 0;
    SorvexColumn col;
    if (sortedColumn && displayedColumn(sortedColumn, col)) direction = col.ASCDESC;
    RestoreHeader();
    setCurrentSlotFormat(listProperty(win::listprop::Format));
    FormatSlot slot;
    for (std::int64_t i = 1; FORQ.get(i, slot); ++i)
        write("SorvexFormatString-", slot.FORMAT, std::to_string(i));
    write("SorvexOrigFormatString-", DEF.ORIGFORMATSTRING);
    write("SorvexXpos-", listProperty(win::listprop::XPos));
    write("SorvexYpos-", listProperty(win::listprop::YPos));
    write("SorvexHeight-", listProperty(win::listprop::Height));
    write("SorvexWidth-", listProperty(win::listprop::Width));
    write("SorvexHscroll-", listProperty(win::listprop::HScroll));
    write("SorvexVscroll-", listProperty(win::listprop::VScroll));
    write("SorvexLineHeight-", listProperty(win::listprop::LineHeight));
    write("SorvexFont-", listProperty(win::listprop::FontFace).substr(0, 20));
    write("SorvexPoint-", listProperty(win::listprop::FontSize));
    write("SorvexColor-", listProperty(win::listprop::FontColour));
    write("SorvexStyle-", listProperty(win::listprop::FontStyle));
    write("SorvexPrevCol-", std::to_string(sortedColumn));
    write(PrevDirKey, std::to_string(sortedColumn ? direction : 0));
}

void Sorvex::SelectFormatSlot(int tabControl) {
    if (listProperty(win::listprop::Flag65) == "1") return;
    // The slot being left keeps the layout as the user left it, without a sort mark.
    takeMarkOff();
    setCurrentSlotFormat(listProperty(win::listprop::Format));
    FormatSlot slot;
    for (std::int64_t i = 1; FORQ.get(i, slot); ++i)
        if (slot.CONTROL == tabControl) {
            currentSlot_ = tabControl;
            if (slot.FORMAT != "0") setListProperty(win::listprop::Format, 0, slot.FORMAT);
            TakeFormatApart();
            RefreshColumns(true);
            return;
        }
}

} // namespace sorv::bx
