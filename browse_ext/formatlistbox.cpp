// "Format Listbox...": every attribute of the list's columns and of the list box itself in one
// window. The right list holds the displayed columns (SQ, in display order), the left one every
// field the list can show (FQ, a check on those displayed). Each change is written to the list
// control at once, so the list under the window shows it while the user works; moves, adds and
// hides rebuild the list's format from SQ, and both lists are shown again from the model.
#include "browse_ext/propertynumber.h"
#include "browse_ext/sorvex.h"

#include "windowing/desktop.h"
#include "windowing/listbox.h"
#include "windowing/listbox_control.h"
#include "windowing/window_spec.h"

#include <QtCore/qnamespace.h>

namespace sorv::bx {

namespace {

// The window's controls, by number.
enum : int {
    Shown = 1, // the displayed columns
    HeaderText = 2,
    HeaderOffsetPrompt = 3,
    HeaderOffset = 4,
    HeaderJust = 5, // option group; its radios 6 to 9: Left, Center, Right, Decimal
    HeaderLeft = 6,
    HeaderDecimal = 9,
    FieldName = 10,
    DataOffsetPrompt = 11,
    DataOffset = 12,
    DataJust = 13, // radios 14 to 17
    DataLeft = 14,
    DataDecimal = 17,
    WidthPrompt = 18,
    Width = 19,
    Fixed = 20,
    Underline = 21,
    Border = 22,
    Resize = 23,
    MoveRight = 24,
    MoveLeft = 25,
    Add = 26,
    Hide = 27,
    Fields = 28, // every field
    XPrompt = 29,
    XPos = 30,
    YPrompt = 31,
    YPos = 32,
    ListWidthPrompt = 33,
    ListWidth = 34,
    ListHeightPrompt = 35,
    ListHeight = 36,
    LineHeightPrompt = 37,
    LineHeight = 38,
    Font = 39,
    Colors = 40,
    VScroll = 41,
    HScroll = 42,
    Default = 43,
    Close = 44,
    FieldsTitle = 45,
    ShownTitle = 46,
    HeaderTextPrompt = 47,
    ListBoxGroup = 48,
};

// The radios' justification letters, in the order of the radios.
constexpr char RadioLetters[] = "LCRD";

// Controls disabled when their bit of the owner's mask is 0.
struct MaskedControl {
    std::uint32_t bit;
    int controls[2];
};
constexpr MaskedControl Masked[] = {
    {0x1, {14, 0}},       {0x2, {15, 0}},        {0x4, {16, 0}},       {0x8, {17, 0}},
    {0x10, {11, 12}},     {0x20, {6, 0}},        {0x40, {7, 0}},       {0x80, {8, 0}},
    {0x100, {9, 0}},      {0x200, {3, 4}},       {0x400, {2, 0}},      {0x800, {18, 19}},
    {0x10000, {20, 0}},   {0x20000, {21, 0}},    {0x40000, {22, 0}},   {0x80000, {23, 0}},
    {0x200000, {29, 30}}, {0x400000, {31, 32}},  {0x800000, {33, 34}}, {0x1000000, {35, 36}},
    {0x2000000, {39, 0}}, {0x4000000, {37, 38}}, {0x8000000, {42, 0}}, {0x10000000, {41, 0}},
};

// The list box's numbers the window edits, by spin.
struct ListNumber {
    int spin;
    int property;
};
constexpr ListNumber ListNumbers[] = {
    {XPos, win::listprop::XPos},
    {YPos, win::listprop::YPos},
    {ListWidth, win::listprop::Width},
    {ListHeight, win::listprop::Height},
    {LineHeight, win::listprop::LineHeight},
};

// The column flags, by check box: the list's column property and the column's field.
struct FlagCheck {
    int check;
    int property;
    std::uint8_t SorvexColumn::*field;
};
constexpr FlagCheck FlagChecks[] = {
    {Fixed, 0x7E06, &SorvexColumn::FIXED},
    {Underline, 0x7E00, &SorvexColumn::ULINE},
    {Border, 0x7E02, &SorvexColumn::BORDER},
    {Resize, 0x7E01, &SorvexColumn::RESIZE},
};

int altKey(Qt::Key key) {
    return QKeyCombination(Qt::AltModifier, key).toCombined();
}

// Both lists show a column's DESCRIPTION (field 2 of the column record), with a scroll bar.
void addList(win::WindowSpec& s, int number, win::Rect at, const char* format, const char* tip) {
    win::ControlSpec& list = s.add("LIST", number, at);
    list.format = format;
    list.vscroll = true;
    list.tip = tip;
}

win::WindowSpec formatWindow(std::uint32_t mask) {
    win::WindowSpec s;
    s.caption = "Format Listbox...";
    s.modal = true;
    s.resizable = false;
    s.center = true;
    s.at = {-1, -1, 388, 214};
    // Tab goes down the column and list settings on the left, then down the list box's on the
    // right, in the order they are listed here.
    s.tabsInListedOrder = true;
    s.add("STRING", FieldsTitle, {6, 4, 110, 10}, "All fields (Alt+1)");
    addList(s, Fields, {6, 14, 110, 92}, "120L(1)I#2#@s30@", "Right Click to display field");
    s.add("BUTTON", Add, {120, 44, 20, 14}, "\u25BA").tip = "Add Column to display list";
    s.add("BUTTON", Hide, {120, 62, 20, 14}, "\u25C4").tip = "Hide column from display list";
    s.add("STRING", ShownTitle, {144, 4, 110, 10}, "Displayed columns (Alt+2)");
    addList(s, Shown, {144, 14, 110, 92}, "120L(1)#2#@s30@", "Right Click to erase field");
    s.add("BUTTON", MoveLeft, {258, 44, 20, 14}, "\u25B2").tip = "Move Column Left";
    s.add("BUTTON", MoveRight, {258, 62, 20, 14}, "\u25BC").tip = "Move Column Right";

    s.add("PROMPT", HeaderTextPrompt, {6, 114, 50, 10}, "He&ader text:");
    win::ControlSpec& header = s.add("ENTRY", HeaderText, {58, 112, 110, 13});
    header.picture = "@s25";
    header.tip = "Change Column Header Text";
    s.add("STRING", FieldName, {174, 114, 104, 10});
    s.add("OPTION", HeaderJust, {6, 130, 138, 44}, "&Header");
    s.add("OPTION", DataJust, {148, 130, 138, 44}, "&Field");
    // Each group's radios, then its offset.
    const char* radios[] = {"Left", "Center", "Right", "Decimal"};
    for (int j = 0; j < 4; ++j)
        s.add("RADIO", HeaderLeft + j, {12 + 46 * (j / 2), 142 + 14 * (j % 2), 46, 10}, radios[j]).parent =
            HeaderJust;
    s.add("PROMPT", HeaderOffsetPrompt, {106, 141, 34, 10}, "Off&set:");
    s.add("SPIN", HeaderOffset, {106, 153, 32, 13}).tip = "Change Header Offset";
    for (int j = 0; j < 4; ++j)
        s.add("RADIO", DataLeft + j, {154 + 46 * (j / 2), 142 + 14 * (j % 2), 46, 10}, radios[j]).parent =
            DataJust;
    s.add("PROMPT", DataOffsetPrompt, {248, 141, 34, 10}, "Offse&t:");
    s.add("SPIN", DataOffset, {248, 153, 32, 13}).tip = "Change Data Field Offset";
    s.add("PROMPT", WidthPrompt, {6, 184, 28, 10}, "&Width:");
    s.add("SPIN", Width, {36, 182, 38, 13}).tip = "Change Column Width";
    s.add("CHECK", Fixed, {84, 184, 40, 10}, "F&ixed").tip =
        "Fix all columns to the left when horizontal Scrolling";
    s.add("CHECK", Underline, {126, 184, 52, 10}, "&Underline").tip = "Underline the current column";
    s.add("CHECK", Border, {180, 184, 44, 10}, "&Border").tip = "Right hand border line";
    s.add("CHECK", Resize, {226, 184, 46, 10}, "&Resize").tip = "Allow Column Resize with Mouse";

    s.add("GROUP", ListBoxGroup, {292, 4, 90, 160}, "List box");
    struct Row {
        int prompt, spin;
        const char *text, *tip;
    };
    const Row rows[] = {{XPrompt, XPos, "&X Pos:", "Move Listbox Horizontally"},
                        {YPrompt, YPos, "&Y Pos:", "Move Listbox Vertically"},
                        {ListWidthPrompt, ListWidth, "Wid&th:", "Adjust Width of Listbox"},
                        {ListHeightPrompt, ListHeight, "H&eight:", "Adjust Height of LIstbox"},
                        {LineHeightPrompt, LineHeight, "&LineHeight:", "Adjust Line Height"}};
    int y = 16;
    for (const Row& r : rows) {
        s.add("PROMPT", r.prompt, {298, y + 2, 42, 10}, r.text);
        s.add("SPIN", r.spin, {342, y, 34, 13}).tip = r.tip;
        y += 17;
    }
    s.add("CHECK", VScroll, {298, 104, 82, 10}, "&Vertical Scroll").tip = "Display Vertical Scroll bar";
    s.add("CHECK", HScroll, {298, 117, 82, 10}, "Hori&zontal Scroll").tip = "Display Horizontal Scroll bar";
    s.add("BUTTON", Font, {300, 132, 74, 14}, "F&ont").tip = "Assign New Font to Listbox";
    s.add("BUTTON", Colors, {300, 148, 74, 14}, "C&olors").tip = "Assign New Colors to Column";
    s.add("BUTTON", Default, {300, 176, 74, 14}, "&Default").tip = "Reset listbox back to default";
    // Every change is applied as it is made: Enter, like Esc, closes the window.
    s.add("BUTTON", Close, {300, 194, 74, 14}, "&Close").defaultButton = true;
    s.alertKeys = {altKey(Qt::Key_Down),  altKey(Qt::Key_Up), altKey(Qt::Key_Left),
                   altKey(Qt::Key_Right), altKey(Qt::Key_1),  altKey(Qt::Key_2)};
    // What the owner's mask leaves out is disabled from the start.
    for (const MaskedControl& m : Masked)
        if (!(mask & m.bit))
            for (win::ControlSpec& c : s.controls)
                if (c.number == m.controls[0] || (m.controls[1] && c.number == m.controls[1]))
                    c.disabled = true;
    return s;
}

} // namespace

// The window's work on the object, kept together while it is open.
class FormatListboxWindow {
public:
    explicit FormatListboxWindow(Sorvex& s) : s_(s) {}

    void run() {
        if (!w_.open(formatWindow(s_.mask()))) return;
        w_.setProperty(HeaderOffset, win::prop::RangeHigh, "255");
        w_.setProperty(DataOffset, win::prop::RangeHigh, "255");
        // A right click on either list selects the row under the mouse and hides or adds it.
        const std::string rightUp = std::to_string(win::key::RightUp);
        w_.setProperty(Shown, win::listprop::AlertKeys, rightUp);
        w_.setProperty(Fields, win::listprop::AlertKeys, rightUp);
        w_.setProperty(Fields, win::listprop::Icons, "~SvCheck.ICO");
        loadListBox();
        showLists(1, 1);
        w_.select(Shown);
        win::Event e;
        while (w_.accept(e))
            if (!handle(e)) w_.defaultAction(e);
        s_.setListProperty(win::listprop::MarkedColumn, 0, "0");
    }

private:
    bool handle(const win::Event& e) {
        const int c = e.control;
        if (e.code == win::event::AlertKey) return key(e);
        if (e.code == win::event::NewSelection && c == Shown) {
            selectColumn(selected(Shown));
            return true;
        }
        if (e.code != win::event::Accepted) return false;
        switch (c) {
        case Close:
            w_.close();
            return true;
        case MoveLeft:
        case MoveRight:
            move(c == MoveLeft ? -1 : 1);
            return true;
        case Add:
            add();
            return true;
        case Hide:
            hide();
            return true;
        case Default:
            s_.RestoreDefault();
            loadListBox();
            showLists(1, 1);
            return true;
        case Font:
            s_.chooseListFont();
            loadListBox();
            return true;
        case Colors:
            if (current()) s_.ColumnColors();
            return true;
        case HeaderText:
            if (current() && !s_.setHeaderText(e.text)) w_.setText(HeaderText, s_.plainHeader(column_));
            return true;
        case VScroll:
        case HScroll:
            s_.setListProperty(c == VScroll ? win::listprop::VScroll : win::listprop::HScroll, 0, e.text);
            return true;
        default:
            break;
        }
        for (const ListNumber& n : ListNumbers)
            if (c == n.spin) {
                s_.setListProperty(n.property, 0, std::to_string(propertyNumber(e.text)));
                return true;
            }
        if (!current()) return true;
        if (c == Width) {
            s_.setListProperty(0x7E04, s_.CURRENTCOL, std::to_string(propertyNumber(e.text)));
        } else if (c == HeaderOffset || c == DataOffset) {
            (c == HeaderOffset ? column_.HOFFSET : column_.FOFFSET) =
                static_cast<std::uint8_t>(std::clamp(propertyNumber(e.text), 0, 255));
            justify(c == HeaderOffset);
        } else if (c >= HeaderLeft && c <= HeaderDecimal) {
            column_.HJUST = RadioLetters[c - HeaderLeft];
            justify(true);
        } else if (c >= DataLeft && c <= DataDecimal) {
            column_.FJUST = RadioLetters[c - DataLeft];
            justify(false);
        } else {
            for (const FlagCheck& f : FlagChecks)
                if (c == f.check) {
                    column_.*f.field = e.text == "1" ? 1 : 0;
                    s_.setListProperty(f.property, s_.CURRENTCOL, e.text == "1" ? "1" : "0");
                    s_.storeDisplayed(column_);
                }
        }
        s_.RefreshColumns(true);
        return true;
    }

    bool key(const win::Event& e) {
        if (e.keyCode == win::key::RightUp && (e.control == Shown || e.control == Fields)) {
            const int row = propertyNumber(w_.property(e.control, win::listprop::ReleaseRow));
            if (row < 1) return true;
            w_.setProperty(e.control, win::listprop::Selected, std::to_string(row));
            if (e.control == Shown) {
                selectColumn(row);
                hide();
            } else {
                add();
            }
            return true;
        }
        const int k = e.keyCode;
        if (k == altKey(Qt::Key_Down))
            move(1);
        else if (k == altKey(Qt::Key_Up))
            move(-1);
        else if (k == altKey(Qt::Key_Left))
            hide();
        else if (k == altKey(Qt::Key_Right))
            add();
        else if (k == altKey(Qt::Key_1))
            w_.select(Fields);
        else if (k == altKey(Qt::Key_2))
            w_.select(Shown);
        else
            return false;
        return true;
    }

    int selected(int list) const { return propertyNumber(w_.property(list, win::listprop::Selected)); }

    // The displayed column being edited, fresh from the model; false when there is none.
    bool current() { return s_.displayedColumn(s_.CURRENTCOL, column_) && column_.DISPLAY != 0; }

    void justify(bool header) {
        s_.storeDisplayed(column_);
        if (header)
            s_.ApplyHeaderJustification();
        else
            s_.ApplyFieldJustification();
    }

    void move(int step) {
        s_.CURRENTCOL = selected(Shown);
        if (s_.CURRENTCOL < 1) return;
        const int to = s_.CURRENTCOL + step;
        s_.RefreshColumns(true);
        if (step < 0) // at either end the move only beeps
            s_.MoveColumnLeft();
        else
            s_.MoveColumnRight();
        if (to < 1 || to > s_.SQ.records()) return;
        s_.RebuildFormat();
        showLists(selected(Fields), to);
    }

    void add() {
        SorvexColumn field;
        const int row = selected(Fields);
        if (!fieldAt(row, field)) return;
        SorvexColumn c;
        for (std::int64_t p = 1; s_.SQ.get(p, c); ++p)
            if (c.QNOS == field.QNOS) {
                showLists(row, int(p));
                win::beep();
                return;
            }
        s_.RefreshColumns(true);
        const int count = int(s_.SQ.records());
        field.SEQ = field.COL = static_cast<std::int16_t>(count + 1);
        if (field.WIDTHDLU == 0) field.WIDTHDLU = 10;
        field.DISPLAY = 1;
        s_.SQ.addSorted(field, "SEQ");
        s_.RebuildFormat();
        showLists(row, count + 1);
    }

    void hide() {
        const int row = selected(Shown);
        if (row < 1 || s_.SQ.records() <= 1) return; // the last column stays
        s_.CURRENTCOL = row;
        s_.HideColumn();
        showLists(selected(Fields), std::min<int>(row, int(s_.SQ.records())));
    }

    // The field in row `row` of the field list: FQ in its order.
    bool fieldAt(int row, SorvexColumn& out) { return row >= 1 && s_.FQ.get(row, out); }

    // Both lists from the model: the displayed columns, and every field with a check on those shown
    // (their ICON), then the rows to select; the one of the displayed list becomes CURRENTCOL.
    void showLists(int fieldRow, int shownRow) {
        std::vector<int> displayed;
        auto rows = std::make_shared<win::ListRowsData>();
        SorvexColumn c;
        for (std::int64_t p = 1; s_.SQ.get(p, c); ++p) {
            displayed.push_back(c.QNOS);
            rows->rows.push_back({c.FIELD, c.DESCRIPTION});
        }
        w_.setData(Shown, rows);
        auto fields = std::make_shared<win::ListRowsData>();
        for (std::int64_t p = 1; s_.FQ.get(p, c); ++p) {
            const bool on = std::find(displayed.begin(), displayed.end(), c.QNOS) != displayed.end();
            if (c.ICON != (on ? 1 : 0)) {
                c.ICON = on ? 1 : 0;
                s_.FQ.put(c);
            }
            fields->rows.push_back({c.FIELD, c.DESCRIPTION, on ? "1" : "0"});
        }
        w_.setData(Fields, fields);
        if (fieldRow >= 1) w_.setProperty(Fields, win::listprop::Selected, std::to_string(fieldRow));
        w_.setProperty(Shown, win::listprop::Selected, std::to_string(std::max(shownRow, 1)));
        selectColumn(selected(Shown));
    }

    // Makes a displayed column current: its attributes into the controls, and the column marked in
    // the list box under the window.
    void selectColumn(int row) {
        s_.CURRENTCOL = row;
        if (!current()) return;
        w_.setText(HeaderText, s_.plainHeader(column_));
        w_.setText(FieldName, std::string(clipRight(column_.FIELD)));
        w_.setText(HeaderOffset, std::to_string(column_.HOFFSET));
        w_.setText(DataOffset, std::to_string(column_.FOFFSET));
        w_.setText(Width, std::to_string(column_.WIDTHDLU));
        const std::string_view letters = RadioLetters;
        w_.setText(HeaderJust, std::to_string(letters.find(column_.HJUST) + 1));
        w_.setText(DataJust, std::to_string(letters.find(column_.FJUST) + 1));
        for (const FlagCheck& f : FlagChecks) w_.setText(f.check, column_.*f.field ? "1" : "0");
        s_.setListProperty(win::listprop::MarkedColumn, 0, std::to_string(row));
    }

    // The list box's own values (PARS) into the controls.
    void loadListBox() {
        SorvexDesign& p = s_.PARS;
        auto num = [&](int property) { return propertyNumber(s_.listProperty(property)); };
        p.XPOS = static_cast<std::int16_t>(num(win::listprop::XPos));
        p.YPOS = static_cast<std::int16_t>(num(win::listprop::YPos));
        p.WIDTH = static_cast<std::int16_t>(num(win::listprop::Width));
        p.HEIGHT = static_cast<std::int16_t>(num(win::listprop::Height));
        p.LINEHEIGHT = static_cast<std::uint8_t>(num(win::listprop::LineHeight));
        p.FONT = s_.listProperty(win::listprop::FontFace);
        p.POINT = static_cast<std::uint8_t>(num(win::listprop::FontSize));
        p.COLOR = num(win::listprop::FontColour);
        p.STYLE = num(win::listprop::FontStyle);
        p.HSCROLL = static_cast<std::uint8_t>(num(win::listprop::HScroll));
        p.VSCROLL = static_cast<std::uint8_t>(num(win::listprop::VScroll));
        for (const ListNumber& n : ListNumbers) w_.setText(n.spin, std::to_string(num(n.property)));
        w_.setText(VScroll, p.VSCROLL ? "1" : "0");
        w_.setText(HScroll, p.HSCROLL ? "1" : "0");
    }

    Sorvex& s_;
    win::Window w_;
    SorvexColumn column_;
};

void Sorvex::FormatListbox() {
    if (!W) return;
    FormatListboxWindow(*this).run();
}

} // namespace sorv::bx
