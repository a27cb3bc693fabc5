// Header sorting: the mouse on the list's header, the sort state and its orders, the sort marks,
// the header menu, and the owner's routing of the list's events.
#include "browse_ext/sorvex.h"

#include "framework/listrows.h"
#include "runtime/errors.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"
#include "windowing/popupmenu.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace sorv::bx {

namespace {

int toInt(const std::string& s) {
    int v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

// The header press in progress: one for the whole program, since only one list holds the mouse.
// Used under the runtime lock only.
struct HeaderMouse {
    Sorvex* list = nullptr; // the list that took the last left press
    bool buttonDown = false;
    bool headerPressed = false; // shown pressed (until the mouse leaves the header)
    int pressedColumn = 0;      // the header the press was on, 0 for none
    bool dragBox = false;
    int pressX = 0, moveX = 0, releaseX = 0;
    int cellLeft = 0, cellWidth = 0;
};
HeaderMouse mouse;

// Items of the header menu.
enum { MenuEscape = 1, MenuKeySequence, MenuFileSequence };

} // namespace

void Sorvex::hookList() {
    setListProperty(win::listprop::MouseHook, 0, "1");
}

// ---- the mouse on the header ----

void Sorvex::headerPress() {
    mouse.list = this;
    mouse.buttonDown = true;
    mouse.pressedColumn = 0;
    mouse.dragBox = false;
    const int col = toInt(listProperty(win::listprop::PressColumn));
    const int row = toInt(listProperty(win::listprop::PressRow));
    const int zone = toInt(listProperty(win::listprop::PressZone));
    if (zone != 1 && col > 0 && row == 0) {
        CURRENTCOL = col;
        mouse.cellLeft = toInt(listProperty(win::listprop::ColumnPixelLeft, col));
        mouse.cellWidth = toInt(listProperty(win::listprop::ColumnPixelWidth, col));
        mouse.headerPressed = true;
        mouse.pressedColumn = col;
        HEADERBUTTON = LB; // the list shows the header pressed
    }
}

void Sorvex::headerDrag() {
    // A hand that shakes a little is still a click; the list shows the box from the same distance.
    if (mouse.list != this || !mouse.buttonDown || !mouse.pressedColumn ||
        std::abs(mouse.moveX - mouse.pressX) <= 4)
        return;
    mouse.dragBox = true;
    HEADERMASK = LB; // the list shows the grey box with the header's text
    HEADERBUTTON = 0;
}

void Sorvex::headerOut() {
    if (mouse.list != this || !mouse.headerPressed) return;
    mouse.headerPressed = false;
    HEADERBUTTON = 0;
}

void Sorvex::HandleHeaderClick(bool showMessage) {
    mouse.buttonDown = false;
    if (mouse.list != this) return;
    if (mouse.dragBox) {
        mouse.dragBox = false;
        mouse.headerPressed = false;
        mouse.pressedColumn = 0;
        HEADERMASK = 0;
        if (mouse.releaseX < mouse.cellLeft)
            W->post(win::eventCode(sevent::MoveLeft), LB);
        else if (mouse.releaseX > mouse.cellLeft + mouse.cellWidth)
            W->post(win::eventCode(sevent::MoveRight), LB);
        return;
    }
    const int pressZone = toInt(listProperty(win::listprop::PressZone));
    const int moveZone = toInt(listProperty(win::listprop::MoveZone));
    const int pressRow = toInt(listProperty(win::listprop::PressRow));
    if (pressZone == 1 || moveZone == 6 || pressRow > 0) {
        RefreshColumns();
        HEADERBUTTON = 0;
        mouse.headerPressed = false;
        return;
    }
    if (mouse.headerPressed) {
        HEADERBUTTON = 0;
        CURRENTCOL = toInt(listProperty(win::listprop::PressColumn));
        SorvexColumn c;
        if (displayedColumn(CURRENTCOL, c)) {
            if (c.SORTFIELD != 0) {
                SortOnColumn();
            } else if (showMessage) {
                win::message("Data cannot be ordered on column: " + std::string(clipRight(c.HEADER)) + "(" +
                                 std::string(clipRight(c.FIELD)) + ")",
                             std::string(ReorderCaption), win::icon::Asterisk);
            }
        }
    }
    mouse.headerPressed = false;
    mouse.pressedColumn = 0;
}

void Sorvex::HandleHeaderMenu() {
    const int col = toInt(listProperty(win::listprop::MoveColumn));
    const int row = toInt(listProperty(win::listprop::MoveRow));
    const int zone = toInt(listProperty(win::listprop::MoveZone));
    if (col > 0 && row == 0 && zone != 1) {
        IGNOREEVENT = 1;
        std::vector<win::PopupEntry> items;
        int id = MenuEscape;
        for (const char* text : {"Escape", "Key Sequence", "File Sequence"}) {
            win::PopupEntry e;
            e.id = id++;
            e.text = text;
            items.push_back(e);
        }
        const int chosen = win::popupMenu(W->id(), items);
        if (chosen != MenuKeySequence && chosen != MenuFileSequence) return;
        RestoreHeader();
        setSortedColumn(0);
        QNOS = 0;
        if (RVIEWORDER) *RVIEWORDER = 0;
        if (RFILESEQON) *RFILESEQON = chosen == MenuFileSequence ? 1 : 0;
        if (LISTTYPE == 1) {
            if (WM) WM->Reset(true);
        } else {
            // A list held in memory has one order besides its sorts: the order it was filled in
            // (for a file-loaded list, its file's key order).
            orderQueueList("");
        }
        return;
    }
    // Off the header a list that is not a browse shows its owner's popup (a browse's own browse
    // manager shows it on the same release).
    SorvexListOwner* owner = LISTTYPE == 2 ? FC : LISTTYPE == 3 ? LC : nullptr;
    if (owner && owner->Popup()) owner->Popup()->Ask();
}

// ---- the sort ----

void Sorvex::SortOnColumn() {
    RestoreHeader();
    if (RRESTOREHEADER) *RRESTOREHEADER = 1;
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    if (CURRENTCOL == sortedColumn()) {
        c.ASCDESC = c.ASCDESC ? 0 : 1;
        HDRTOKEN = c.ASCDESC == 0 ? ASCTOKEN : DESCTOKEN;
    } else {
        c.ASCDESC = 0;
        HDRTOKEN = ASCTOKEN;
        setSortedColumn(CURRENTCOL);
    }
    ReportSortField(c);
    sortedNow_ = true;
    QNOS = static_cast<std::uint8_t>(c.QNOS);
    storeDisplayed(c);
    keepDirection(c);
    if (LISTTYPE == 1) {
        if (RVIEWORDER) *RVIEWORDER = 1;
    } else {
        if (RVIEWORDER) *RVIEWORDER = 0;
        sortQueueList(SortChoice());
    }
}

void Sorvex::sortQueueList(int choice) {
    SortString s;
    for (std::int64_t p = 1; LSQ.get(p, s); ++p)
        if (s.SEQ == choice) return orderQueueList(s.SORTSTRING);
}

void Sorvex::orderQueueList(std::string_view names) {
    if (!BQ || !W) return;
    const std::int64_t selected = toInt(listProperty(win::listprop::Selected));
    const bool keep = selected >= 1 && selected <= BQ->records();
    if (keep) BQ->get(selected); // the current entry keeps its place in every order
    BQ->sortByNames(names);
    const std::int64_t now = keep ? BQ->pointer() : 0;
    fw::pushQueueRows(*W, LB, *BQ);
    if (now) setListProperty(win::listprop::Selected, 0, std::to_string(now));
}

void Sorvex::ResortQueueList() {
    SorvexColumn c;
    if (LISTTYPE != 1 && sortedColumn() && displayedColumn(sortedColumn(), c) && c.SORTFIELD != 0)
        sortQueueList(c.SORTFIELD + (c.ASCDESC == 1 ? 1 : 0));
}

int Sorvex::SortChoice() {
    SorvexColumn c;
    if (!displayedColumn(sortedColumn(), c)) return 0;
    const int choice = c.SORTFIELD + (c.ASCDESC == 1 ? 1 : 0);
    ShowSortMark();
    return choice;
}

std::string Sorvex::componentExpression(const std::string& field, const std::string& picture, int ascDesc,
                                        int direction) const {
    const std::string sign = direction != ascDesc ? "-" : "";
    const bool text = picture.size() >= 2 && (picture[1] == 's' || picture[1] == 'S');
    return sign + (text ? "UPPER(" + field + ")" : field);
}

void Sorvex::applyOrderItem(const std::string& expression, bool replace) {
    if (!BC) return;
    if (replace)
        BC->SetViewOrder(expression);
    else
        BC->AppendOrder(expression);
}

void Sorvex::appendAdditional(int direction) {
    SortComponent a;
    for (std::int64_t p = 1; AOQ.get(p, a); ++p)
        applyOrderItem(componentExpression(a.FIELDNAME, a.PICTURE, a.ASCDESC, direction), false);
}

void Sorvex::ApplyColumnOrder(std::string_view direction, int mode) {
    SorvexColumn col;
    if (!FQ.get(fqAt_, col)) return;
    const int d = direction == "1" ? 1 : 0;
    bool first = true, any = false;
    SortComponent s;
    for (std::int64_t p = 1; SOQ.get(p, s); ++p) {
        if (s.QNOS != col.QNOS) continue;
        any = true;
        applyOrderItem(componentExpression(s.FIELDNAME, s.PICTURE, s.ASCDESC, d), first && mode == 1);
        first = false;
    }
    if (!any) {
        // The column as its own component, running its own way (ASCDESC is the sort's direction).
        applyOrderItem(componentExpression(col.FIELD, col.PICTURE, 0, d), mode == 1);
        appendAdditional(d);
    } else if (APPLYALL == 1) {
        appendAdditional(d);
    }
}

void Sorvex::BuildSortOrders(int mode) {
    hookList();
    BuildBrowsePopup();
    int n = 0;
    SorvexColumn c;
    for (fqAt_ = 1; FQ.get(fqAt_, c); ++fqAt_) {
        if (c.SORTFIELD == 0) continue;
        ++n;
        sortOrderCall_ = 1;
        AddColumnSortOrder(n);
        ApplyColumnOrder("0", mode);
        sortOrderCall_ = 2;
        AddColumnSortOrder(n);
        ApplyColumnOrder("1", mode);
        sortOrderCall_ = 0;
    }
    SQ.sort("SEQ");
}

void Sorvex::ResetColumnSortOrdersTo(int key) {
    if (!BC) return;
    const int saved = BC->currentOrder() + 1;
    SorvexColumn c;
    for (fqAt_ = 1; FQ.get(fqAt_, c); ++fqAt_) {
        if (c.SORTFIELD == 0) continue;
        for (int k = 1; k <= 2; ++k) {
            BC->SelectSortOrder(c.SORTFIELD + k - 1);
            fw::SortOrder& o = BC->current();
            o.MAINKEY = key;
            o.FILTER.clear();
            // The key's order is replaced by the column's components, never added to again.
            ApplyColumnOrder(k == 1 ? "0" : "1", 1);
        }
    }
    BC->SelectSortOrder(saved);
}

std::string Sorvex::sortStringOf(const SorvexColumn& column, int direction) {
    auto part = [&](const std::string& field, int ascDesc) {
        return (direction != ascDesc ? "-" : "") + field;
    };
    std::string out;
    auto add = [&](const std::string& p) {
        if (!out.empty()) out += ',';
        out += p;
    };
    bool any = false;
    SortComponent s;
    for (std::int64_t p = 1; SOQ.get(p, s); ++p)
        if (s.QNOS == column.QNOS) {
            any = true;
            add(part(s.FIELDNAME, s.ASCDESC));
        }
    if (!any) add(part(column.FIELD, 0));
    if (!any || APPLYALL == 1)
        for (std::int64_t p = 1; AOQ.get(p, s); ++p) add(part(s.FIELDNAME, s.ASCDESC));
    return out.substr(0, 100);
}

void Sorvex::BuildSortStrings() {
    LSQ.free();
    hookList();
    BuildListPopup();
    SorvexColumn c;
    for (std::int64_t p = 1; FQ.get(p, c); ++p) {
        if (c.SORTFIELD == 0) continue;
        c.SORTFIELD = static_cast<std::uint8_t>(LSQ.records() + 1);
        FQ.put(c);
        SorvexColumn s;
        for (std::int64_t q = 1; SQ.get(q, s); ++q)
            if (s.QNOS == c.QNOS) {
                s.SORTFIELD = c.SORTFIELD;
                SQ.put(s);
                break;
            }
        for (int d = 0; d <= 1; ++d) {
            SortString e;
            e.SEQ = static_cast<std::int32_t>(LSQ.records() + 1);
            e.SORTSTRING = sortStringOf(c, d);
            LSQ.add(e);
        }
    }
}

void Sorvex::keepDirection(const SorvexColumn& column) {
    // FQ keeps the direction too: SQ is taken apart from FQ again after every change of format.
    SorvexColumn f;
    for (std::int64_t p = 1; FQ.get(p, f); ++p)
        if (f.QNOS == column.QNOS) {
            f.ASCDESC = column.ASCDESC;
            FQ.put(f);
            return;
        }
}

// ---- marks ----

void Sorvex::ShowSortMark() {
    const int col = sortedColumn();
    SorvexColumn c;
    if (VISUAL == VisualHeader) {
        if (col && RRESTOREHEADER && *RRESTOREHEADER) {
            *RRESTOREHEADER = 0;
            if (markOn_) takeMarkOff();
            std::string header = listProperty(0x7E03, col);
            setListProperty(0x7E03, col, HDRTOKEN + header);
            markOn_ = col;
            if (displayedColumn(col, c)) {
                c.HEADER = (HDRTOKEN + header).substr(0, HeaderLength + 1);
                storeDisplayed(c);
            }
        }
    } else if (VISUAL == VisualUnderline) {
        if (col) setListProperty(0x7E00, col, "1");
    } else if (VISUAL == VisualTextBar) {
        if (!displayedColumn(col, c)) return;
        const std::string header(clipRight(c.HEADER));
        const std::string direction = c.ASCDESC == 0 ? "(Ascending)" : "(Descending)";
        const std::string pattern = RTITLETEXT ? *RTITLETEXT : std::string();
        if (!clipRight(pattern).empty()) {
            const std::size_t q = pattern.find('"');
            W->setCaption(q == std::string::npos
                              ? pattern + header + direction
                              : pattern.substr(0, q) + header + pattern.substr(q + 1) + direction);
        } else {
            W->setCaption(header + direction);
        }
    }
}

void Sorvex::takeMarkOff() {
    const int col = markOn_;
    markOn_ = 0;
    if (col <= 0) return;
    std::string header = listProperty(0x7E03, col);
    if (header.empty() || (header.compare(0, 1, ASCTOKEN) != 0 && header.compare(0, 1, DESCTOKEN) != 0))
        return;
    header.erase(0, 1);
    setListProperty(0x7E03, col, header);
    SorvexColumn c;
    if (displayedColumn(col, c)) {
        c.HEADER = header.substr(0, HeaderLength + 1);
        storeDisplayed(c);
    }
}

void Sorvex::RestoreHeader() {
    if (VISUAL == VisualHeader) {
        takeMarkOff();
        if (RRESTOREHEADER) *RRESTOREHEADER = 0;
    } else if (VISUAL == VisualUnderline) {
        if (sortedColumn()) setListProperty(0x7E00, sortedColumn(), "0");
    } else if (VISUAL == VisualTextBar) {
        const std::string pattern = RTITLETEXT ? *RTITLETEXT : std::string();
        if (!clipRight(pattern).empty()) {
            std::string caption = pattern;
            const std::size_t q = caption.find('"');
            if (q != std::string::npos) caption.replace(q, 1, "key sequence");
            W->setCaption(caption);
        } else {
            W->setCaption("Key Sequence");
        }
    }
}

// ---- owner operations' defaults ----

void Sorvex::AddColumnSortOrder(int) {
    if (BC) SetColumnSortOrder(BC->AddSortOrder(-1));
}

void Sorvex::ResetColumnSortOrders() {
    if (BC) ResetColumnSortOrdersTo(BC->current().MAINKEY);
}

void Sorvex::ReportSortField(const SorvexColumn&) {}

std::int64_t Sorvex::GraphRecordCount() {
    return BQ ? BQ->records() : 0;
}

// ---- events ----

void Sorvex::HandleListEvent(int event) {
    LASTEVENT = event;
    switch (event) {
    case sevent::LeftDown:
        headerPress();
        break;
    case sevent::LeftUp:
        HandleHeaderClick(true);
        break;
    case sevent::OutOfHeader:
        headerOut();
        break;
    case sevent::HeaderDrag:
        headerDrag();
        break;
    case sevent::RightDown:
        if (toInt(listProperty(win::listprop::HorizontalPosition)) != HPOS) RefreshColumns();
        if (toInt(listProperty(win::listprop::PressZone)) != 1) {
            const int col = toInt(listProperty(win::listprop::PressColumn));
            if (col > 0) CURRENTCOL = col;
            PrepareColumnMenu();
        }
        break;
    case sevent::RightUp:
        HandleHeaderMenu();
        break;
    case sevent::SortOn:
        SortOnColumn();
        if (LISTTYPE == 1) W->post(win::eventCode(sevent::ResetBrowse), LB);
        break;
    case sevent::MoveLeft:
    case sevent::MoveRight:
        RefreshColumns(true);
        if (event == sevent::MoveLeft)
            MoveColumnLeft();
        else
            MoveColumnRight();
        RebuildFormat();
        break;
    case sevent::Width:
        EditColumnNumber("WID");
        break;
    case sevent::HeaderOffset:
        EditColumnNumber("HOS");
        break;
    case sevent::DataOffset:
        EditColumnNumber("DOS");
        break;
    case sevent::Default:
        RestoreDefault();
        break;
    case sevent::PrintAll:
        PrintList("View");
        break;
    case sevent::PrintPage:
        PrintList("Page");
        break;
    case sevent::GraphOn:
        Graph();
        break;
    case sevent::ExportAscii:
        ExportAscii();
        break;
    case sevent::ExportHtml:
        ExportHtml();
        break;
    case sevent::Preferences:
        Preferences();
        break;
    case sevent::AdjustWidths:
        AdjustAllWidths();
        break;
    case sevent::HeaderJustLeft:
        SetColumnFlag("HJL");
        break;
    case sevent::HeaderJustRight:
        SetColumnFlag("HJR");
        break;
    case sevent::HeaderJustCentre:
        SetColumnFlag("HJC");
        break;
    case sevent::HeaderJustDecimal:
        SetColumnFlag("HJD");
        break;
    case sevent::DataJustLeft:
        SetColumnFlag("FJL");
        break;
    case sevent::DataJustRight:
        SetColumnFlag("FJR");
        break;
    case sevent::DataJustCentre:
        SetColumnFlag("FJC");
        break;
    case sevent::DataJustDecimal:
        SetColumnFlag("FJD");
        break;
    case sevent::HeaderText:
        EditAttribute("HDR");
        break;
    case sevent::Fixed:
        SetColumnFlag("FXD");
        break;
    case sevent::Underline:
        SetColumnFlag("ULI");
        break;
    case sevent::Border:
        SetColumnFlag("BDR");
        break;
    case sevent::Resize:
        SetColumnFlag("RSZ");
        break;
    case sevent::ListX:
        EditColumnNumber("XPS");
        break;
    case sevent::ListY:
        EditColumnNumber("YPS");
        break;
    case sevent::ListWidth:
        EditColumnNumber("BWI");
        break;
    case sevent::ListHeight:
        EditColumnNumber("BHI");
        break;
    case sevent::LineHeight:
        EditColumnNumber("LHI");
        break;
    case sevent::HScroll:
        SetColumnFlag("HSC");
        break;
    case sevent::VScroll:
        SetColumnFlag("VSC");
        break;
    case sevent::Font:
        chooseListFont();
        break;
    case sevent::Colors:
        ColumnColors();
        break;
    case sevent::Hide:
        HideColumn();
        break;
    case sevent::Properties:
        RefreshColumns();
        FormatListbox();
        RefreshColumns();
        ShowSortMark();
        break;
    default:
        break;
    }
}

fw::Level Sorvex::TakeListEvent(const win::Event& e) {
    const int number = win::frameworkNumber(e.code);
    if (e.control != LB || LB == 0) return fw::LevelNone;
    // After a menu of its own the list's next accepted event (or the right release that asked
    // for the menu, as the list reports it) is the object's: the owner would act on it again.
    if (IGNOREEVENT && (number == fw::wmevent::Accepted ||
                        (number == fw::wmevent::AlertKey && e.keyCode == win::key::RightUp))) {
        IGNOREEVENT = 0;
        return fw::LevelNotify;
    }
    if (number == fw::wmevent::AlertKey) {
        switch (e.keyCode) {
        case skey::AdjustWidths:
            AdjustAllWidths();
            return fw::LevelNotify;
        case skey::Default:
            RestoreDefault();
            return fw::LevelNotify;
        case skey::ToggleFlag:
            ToggleListFlag();
            return fw::LevelNotify;
        case win::key::DoubleClick:
            return takeDoubleClick() ? fw::LevelNotify : fw::LevelNone;
        case skey::ColumnMenu:
            // The menu of the current column (the first before any was chosen), at the mouse.
            if (CURRENTCOL < 1 || CURRENTCOL > SQ.records()) CURRENTCOL = 1;
            PrepareColumnMenu();
            if (fw::PopupManager* menu = columnMenu()) menu->Ask();
            return fw::LevelNotify;
        default:
            return fw::LevelNone;
        }
    }
    if (!sevent::isListEvent(number)) return fw::LevelNone;
    switch (number) {
    case sevent::LeftDown:
        mouse.pressX = mouse.moveX = e.param;
        break;
    case sevent::HeaderDrag:
    case sevent::OutOfHeader:
        mouse.moveX = e.param;
        break;
    case sevent::LeftUp:
        mouse.releaseX = e.param;
        break;
    default:
        break;
    }
    if (number == sevent::ResetBrowse) {
        if (WM) WM->Reset(true);
        return fw::LevelNotify;
    }
    sortedNow_ = false;
    HandleListEvent(number);
    // After a header click that sorted a browse, the owner's reset applies the new order (a click
    // on a row or a refused header leaves the page as it is).
    if (number == sevent::LeftUp && LISTTYPE == 1 && sortedNow_) {
        if (RFILESEQON) *RFILESEQON = 0;
        W->post(win::eventCode(sevent::ResetBrowse), LB);
    }
    return fw::LevelNotify;
}

} // namespace sorv::bx
