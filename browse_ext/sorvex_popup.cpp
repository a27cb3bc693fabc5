// The column popup menu: its items built into the owner's popup manager as the owner's mask allows,
// their states prepared for the column under the mouse, and the column commands it dispatches to
// (justification, column flags, scroll bars, hiding a column, going back to the design).
#include "browse_ext/sorvex.h"

#include "runtime/errors.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <charconv>

namespace sorv::bx {

namespace {

// One entry of the menu. `level` 1 is the menu itself, 2 a submenu of it, 3 the list-box submenu.
// An entry with bits shows when all of them are set in the mask, one marked anyOf when one is; an
// entry without bits always shows. A submenu entry left out takes its whole submenu with it.
struct MenuEntry {
    const char* text;
    const char* name;
    int level;
    std::uint32_t bits;
    bool anyOf;
    int event;
};

// The "&Sorvex" submenu shows on the bits of every item in it.
constexpr std::uint32_t SorvexItems = 0x1FEFAFFF;

constexpr MenuEntry Menu[] = {
    {"Adjust All Widths", "ADJ", 1, 0, false, sevent::AdjustWidths},
    {"Sort on", "SRT", 1, 0, false, sevent::SortOn},
    {"&Sorvex", "Sorvex", 1, SorvexItems, true, 0},
    {"Move Left", "MCL", 2, 0x2000, false, sevent::MoveLeft},
    {"Move Right", "MCR", 2, 0x2000, false, sevent::MoveRight},
    {"-", "S21", 2, 0x2000, false, 0},
    {"Header offset", "HOS", 2, 0x200, false, sevent::HeaderOffset},
    {"Data offset", "DOS", 2, 0x10, false, sevent::DataOffset},
    {"Width", "WID", 2, 0x800, false, sevent::Width},
    {"Header Text", "HDR", 2, 0x400, false, sevent::HeaderText},
    {"-", "S22", 2, 0xE10, true, 0},
    {"+Data Just left", "FJL", 2, 0x1, false, sevent::DataJustLeft},
    {"+Data Just Center", "FJC", 2, 0x2, false, sevent::DataJustCentre},
    {"+Data Just Right", "FJR", 2, 0x4, false, sevent::DataJustRight},
    {"+Data Just Decimal", "FJD", 2, 0x8, false, sevent::DataJustDecimal},
    {"-", "S23", 2, 0xF, true, 0},
    {"+Hdr Just left", "HJL", 2, 0x20, false, sevent::HeaderJustLeft},
    {"+Hdr Just Center", "HJC", 2, 0x40, false, sevent::HeaderJustCentre},
    {"+Hdr Just Right", "HJR", 2, 0x80, false, sevent::HeaderJustRight},
    {"+Hdr Just Decimal", "HJD", 2, 0x100, false, sevent::HeaderJustDecimal},
    {"-", "S24", 2, 0x1E0, true, 0},
    {"+Resize", "RSZ", 2, 0x80000, false, sevent::Resize},
    {"+Border", "BDR", 2, 0x40000, false, sevent::Border},
    {"+Underline", "ULI", 2, 0x20000, false, sevent::Underline},
    {"+Fixed", "FXD", 2, 0x10000, false, sevent::Fixed},
    {"-", "S25", 2, 0xF0000, true, 0},
    {"&ListBox", "ListBox", 2, 0x1FE00000, true, 0},
    {"X Pos", "XPS", 3, 0x200000, false, sevent::ListX},
    {"Y Pos", "YPS", 3, 0x400000, false, sevent::ListY},
    {"Width", "BWI", 3, 0x800000, false, sevent::ListWidth},
    {"Height", "BHI", 3, 0x1000000, false, sevent::ListHeight},
    {"-", "S31", 3, 0x1E00000, true, 0},
    {"Line Height", "LHI", 3, 0x4000000, false, sevent::LineHeight},
    {"+H Scroll", "HSC", 3, 0x8000000, false, sevent::HScroll},
    {"+V Scroll", "VSC", 3, 0x10000000, false, sevent::VScroll},
    {"-", "S32", 3, 0x1C000000, true, 0},
    {"Font", "FNT", 3, 0x2000000, false, sevent::Font},
    {"-", "S26", 2, 0x1FE00000, true, 0},
    {"Colors", "CLR", 2, 0x8000, false, sevent::Colors},
    {"-", "S29", 2, 0, false, 0},
    {"Properties", "PRP", 1, 0x100000, false, sevent::Properties},
    {"Hide Column", "HID", 1, 0x100000, false, sevent::Hide},
    {"Default", "DEF", 1, 0, false, sevent::Default},
    {"&Output", "Output", 1, 0, false, 0},
    {"Graph on", "GBR", 2, 0, false, sevent::GraphOn},
    {"Print All", "PVW", 2, 0, false, sevent::PrintAll},
    {"Print Page", "PPG", 2, 0, false, sevent::PrintPage},
    {"Export to ASCII", "ASC", 2, 0, false, sevent::ExportAscii},
    {"Export to HTML", "HTM", 2, 0, false, sevent::ExportHtml},
    {"Graph Preferences", "GPF", 2, 0, false, sevent::Preferences},
};

bool shows(const MenuEntry& e, std::uint32_t mask) {
    if (e.bits == 0) return true;
    return e.anyOf ? (mask & e.bits) != 0 : (mask & e.bits) == e.bits;
}

// The justification letters in the order of the list's properties (each with its indent after it).
constexpr char JustLetters[] = "LRCD";

} // namespace

// ---- building the menu ----

fw::PopupManager* Sorvex::columnMenu() {
    if (LISTTYPE == 1) return BC ? BC->POPUP : nullptr;
    SorvexListOwner* owner = LISTTYPE == 2 ? FC : LISTTYPE == 3 ? LC : nullptr;
    return owner ? owner->Popup() : nullptr;
}

void Sorvex::buildColumnMenu(fw::PopupManager& menu, bool separateOwnItems) {
    const std::uint32_t bits = mask();
    std::string after; // each item follows the item added before it, so a missing one leaves no gap
    auto add = [&](std::string text, const char* name, int depth, int event) {
        fw::PopupItem i;
        i.TEXT = std::move(text);
        i.NAME = name;
        i.DEPTH = static_cast<std::uint16_t>(depth);
        if (event) {
            i.EVENT = static_cast<std::uint16_t>(win::eventCode(event));
            i.CONTROLID = static_cast<std::int16_t>(LB);
        }
        menu.AddItem(i, after);
        after = name;
    };
    if (separateOwnItems) add("-", "S11", 0, 0);
    int skipBelow = 0; // while a submenu is left out: its level, whose deeper entries go with it
    for (const MenuEntry& e : Menu) {
        if (skipBelow && e.level > skipBelow) continue;
        skipBelow = 0;
        if (!shows(e, bits)) {
            if (e.event == 0 && e.text[0] != '-') skipBelow = e.level;
            continue;
        }
        std::string text = e.text;
        if (e.event == sevent::ExportAscii) text += " (" + std::string(clipRight(ASCIIFILENAME)) + ")";
        if (e.event == sevent::ExportHtml) text += " (" + std::string(clipRight(HTMLFILENAME)) + ")";
        add(std::move(text), e.name, e.level - 1, e.event);
    }
}

void Sorvex::BuildBrowsePopup() {
    fw::PopupManager* menu = columnMenu();
    if (!menu) return;
    bool ownItems = false;
    for (const char* name : {"Insert", "Change", "Delete", "Select"})
        if (menu->item(name)) ownItems = true;
    buildColumnMenu(*menu, ownItems);
}

void Sorvex::BuildListPopup() {
    // The file-loaded and the queue list take the same items into their owner's menu.
    if (fw::PopupManager* menu = columnMenu()) buildColumnMenu(*menu, false);
}

void Sorvex::PrepareColumnMenu() {
    fw::PopupManager* menu = columnMenu();
    SorvexColumn c;
    if (!menu || !displayedColumn(CURRENTCOL, c)) return;
    auto check = [&](const char* name, bool on) {
        if (fw::PopupItem* i = menu->item(name)) i->CHECK = on ? 1 : 0;
    };
    check("FXD", c.FIXED);
    check("ULI", c.ULINE);
    check("BDR", c.BORDER);
    check("RSZ", c.RESIZE);
    check("HSC", listProperty(win::listprop::HScroll) == "1");
    check("VSC", listProperty(win::listprop::VScroll) == "1");
    const char* header[] = {"HJL", "HJR", "HJC", "HJD"};
    const char* data[] = {"FJL", "FJR", "FJC", "FJD"};
    for (int j = 0; j < 4; ++j) {
        check(header[j], c.HJUST == JustLetters[j]);
        check(data[j], c.FJUST == JustLetters[j]);
    }
    const std::string description(clipRight(c.DESCRIPTION));
    if (fw::PopupItem* i = menu->item("SRT")) {
        i->TEXT = "Sort on " + description;
        i->DISABLED = c.SORTFIELD != 0 ? 0 : 1;
    }
    if (fw::PopupItem* i = menu->item("GBR")) {
        i->TEXT = "Graph on " + description;
        i->DISABLED = c.GRAPHOK == 1 ? 0 : 1;
    }
}

// ---- column commands ----

void Sorvex::applyJustification(bool header) {
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    const int first = header ? 0x7E18 : 0x7E10;
    const char just = header ? c.HJUST : c.FJUST;
    const int indent = header ? c.HOFFSET : c.FOFFSET;
    for (int j = 0; j < 4; ++j) setListProperty(first + 2 * j, CURRENTCOL, "0");
    for (int j = 0; j < 4; ++j)
        if (JustLetters[j] == just) {
            setListProperty(first + 2 * j, CURRENTCOL, "1");
            setListProperty(first + 2 * j + 1, CURRENTCOL, std::to_string(indent));
        }
}

void Sorvex::ApplyFieldJustification() {
    applyJustification(false);
}

void Sorvex::ApplyHeaderJustification() {
    applyJustification(true);
}

void Sorvex::SetColumnFlag(std::string_view item) {
    if (item == "CLR") return ColumnColors();
    if (item == "HSC" || item == "VSC") {
        const int code = item == "HSC" ? win::listprop::HScroll : win::listprop::VScroll;
        setListProperty(code, 0, listProperty(code) == "1" ? "0" : "1");
        return;
    }
    RefreshColumns(true);
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    const std::string_view letters = "LRCD";
    if (item.size() == 3 && (item[0] == 'H' || item[0] == 'F') && item[1] == 'J') {
        const std::size_t j = letters.find(item[2]);
        if (j == std::string_view::npos) return;
        (item[0] == 'H' ? c.HJUST : c.FJUST) = letters[j];
        storeDisplayed(c);
        applyJustification(item[0] == 'H');
        return;
    }
    struct Flag {
        std::string_view name;
        int property;
        std::uint8_t SorvexColumn::*field;
    };
    static const Flag flags[] = {{"FXD", 0x7E06, &SorvexColumn::FIXED},
                                 {"ULI", 0x7E00, &SorvexColumn::ULINE},
                                 {"BDR", 0x7E02, &SorvexColumn::BORDER},
                                 {"RSZ", 0x7E01, &SorvexColumn::RESIZE}};
    for (const Flag& f : flags)
        if (f.name == item) {
            c.*f.field = c.*f.field ? 0 : 1;
            setListProperty(f.property, CURRENTCOL, c.*f.field ? "1" : "0");
            storeDisplayed(c);
        }
}

void Sorvex::HideColumn() {
    if (SQ.records() <= 1) return; // the last column stays
    RefreshColumns(true);
    if (markOn_ == CURRENTCOL) takeMarkOff(); // a hidden column keeps no sort mark
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    SQ.queue().remove();
    // The table's entry keeps the column as it was last shown, for when it is added back.
    SorvexColumn t;
    for (std::int64_t p = 1; FQ.get(p, t); ++p)
        if (t.QNOS == c.QNOS) {
            SorvexColumn hidden = c;
            hidden.DISPLAY = 0;
            hidden.SORTFIELD = t.SORTFIELD;
            FQ.put(hidden);
            break;
        }
    RebuildFormat();
}

void Sorvex::RestoreDefault() {
    const int sortedQnos = sortedColumn() ? QNOS : 0;
    takeMarkOff();
    setListProperty(win::listprop::Format, 0, DEF.ORIGFORMATSTRING);
    if (DEF.HEIGHT != 0) {
        setListProperty(win::listprop::XPos, 0, std::to_string(DEF.XPOS));
        setListProperty(win::listprop::YPos, 0, std::to_string(DEF.YPOS));
        setListProperty(win::listprop::Height, 0, std::to_string(DEF.HEIGHT));
        setListProperty(win::listprop::Width, 0, std::to_string(DEF.WIDTH));
    }
    setListProperty(win::listprop::LineHeight, 0, std::to_string(DEF.LINEHEIGHT));
    setListProperty(win::listprop::FontFace, 0, DEF.FONT);
    setListProperty(win::listprop::FontSize, 0, std::to_string(DEF.POINT));
    setListProperty(win::listprop::FontColour, 0, std::to_string(DEF.COLOR));
    setListProperty(win::listprop::FontStyle, 0, std::to_string(DEF.STYLE));
    // Every column of the design is shown again, in its place.
    setCurrentSlotFormat(listProperty(win::listprop::Format));
    TakeFormatApart();
    RefreshColumns(true);
    followSorted(sortedQnos);
    if (sortedColumn() && RRESTOREHEADER) {
        *RRESTOREHEADER = 1;
        ShowSortMark();
    }
}

} // namespace sorv::bx
