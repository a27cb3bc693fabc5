// The small windows and list commands of the column menu: the number window "Attribute" (widths,
// offsets, the list box's place, size and line height), the header text window, "Column Colors",
// the font of the list, "Adjust All Widths" and the list flag of the alert key. Every value the
// user gives is written to the list control at once; the column model follows.
#include "browse_ext/colours.h"
#include "browse_ext/propertynumber.h"
#include "browse_ext/sorvex.h"

#include "windowing/desktop.h"
#include "windowing/fontdialog.h"
#include "windowing/listbox_control.h"
#include "windowing/window_spec.h"

namespace sorv::bx {

namespace {

// The rows of the number window: caption (empty: the column's header), prompt, and what it sets.
struct NumberItem {
    std::string_view name;
    std::string_view caption;
    std::string_view prompt;
    int listProperty; // 0 for the column's own numbers
};

constexpr NumberItem NumberItems[] = {
    {"WID", "", "Width:", 0},
    {"HOS", "", "Header offset:", 0},
    {"DOS", "", "Data offset:", 0},
    {"XPS", "X Pos", "X Pos:", win::listprop::XPos},
    {"YPS", "Y Pos", "Y Pos:", win::listprop::YPos},
    {"BWI", "Width", "Width:", win::listprop::Width},
    {"BHI", "Height", "Height:", win::listprop::Height},
    {"LHI", "Line Height", "Line Height:", win::listprop::LineHeight},
};

// Controls of the one-line windows.
enum : int { LinePrompt = 1, LineValue = 2, LineOk = 3 };

// The one-line window: a prompt, an entry (a number with arrows, or a text of 25 characters) and
// "OK", opened at the mouse with the list's font.
win::WindowSpec lineWindow(const std::string& caption, std::string_view prompt, bool number,
                           const win::FontSpec& font) {
    win::WindowSpec s;
    s.caption = caption;
    s.font = font;
    s.modal = true;
    s.resizable = false;
    s.atPointer = true;
    s.at = {-1, -1, number ? 150 : 190, 30};
    s.add("PROMPT", LinePrompt, {6, 9, 54, 10}, std::string(prompt));
    win::ControlSpec& value = s.add(number ? "SPIN" : "ENTRY", LineValue, {62, 7, number ? 40 : 80, 13});
    if (!number) value.picture = "@s25";
    // Enter in a number takes it and closes; Enter in a text only takes it, so that a text refused
    // can be typed again.
    s.add("BUTTON", LineOk, {number ? 108 : 148, 7, 36, 14}, "OK").defaultButton = number;
    return s;
}

// The colour names in their order, as a drop list takes them.
std::string colourChoices() {
    std::string out;
    for (const NamedColour& c : ColourTable) out += std::string(c.name) + "|";
    return out;
}

// Controls of "Column Colors".
enum : int {
    ColorsHeading = 1,
    ColorsBackground = 2,
    ColorsText = 3,
    ColorsNormal = 4,
    ColorsSelected = 5,
    NormalBack = 6,
    NormalText = 7,
    SelectedBack = 8,
    SelectedText = 9,
    ColorsReset = 10,
    ColorsOk = 11,
};

// The drop lists of "Column Colors" and the column's default colour (7E28 + i) each sets.
struct ColorDrop {
    int control;
    int property;
    std::int32_t SorvexColumn::*field;
};
constexpr ColorDrop ColorDrops[] = {
    {NormalBack, 0x7E29, &SorvexColumn::NBG},
    {NormalText, 0x7E28, &SorvexColumn::NFG},
    {SelectedBack, 0x7E2B, &SorvexColumn::SBG},
    {SelectedText, 0x7E2A, &SorvexColumn::SFG},
};

win::WindowSpec colorsWindow(const std::string& header, const win::FontSpec& font) {
    win::WindowSpec s;
    s.caption = "Column Colors";
    s.font = font;
    s.modal = true;
    s.resizable = false;
    s.atPointer = true;
    s.at = {-1, -1, 196, 86};
    s.add("STRING", ColorsHeading, {6, 5, 184, 10}, "Colors for Column: " + header);
    s.add("STRING", ColorsBackground, {52, 20, 66, 10}, "Background");
    s.add("STRING", ColorsText, {124, 20, 66, 10}, "Text");
    s.add("PROMPT", ColorsNormal, {6, 33, 44, 10}, "Normal");
    s.add("DROP", NormalBack, {52, 31, 66, 13}, "Normal background").format = colourChoices();
    s.add("DROP", NormalText, {124, 31, 66, 13}, "Normal text").format = colourChoices();
    s.add("PROMPT", ColorsSelected, {6, 50, 44, 10}, "Selected");
    s.add("DROP", SelectedBack, {52, 48, 66, 13}, "Selected background").format = colourChoices();
    s.add("DROP", SelectedText, {124, 48, 66, 13}, "Selected text").format = colourChoices();
    s.add("BUTTON", ColorsReset, {96, 67, 44, 14}, "&Reset");
    s.add("BUTTON", ColorsOk, {146, 67, 44, 14}, "&OK").defaultButton = true;
    return s;
}

// Runs a modal window's loop: `handle` gets every event and answers true when it took it; the
// rest gets the runtime's default handling (a close request closes the window).
template <class Handler> void runWindow(win::Window& w, Handler handle) {
    win::Event e;
    while (w.accept(e))
        if (!handle(e)) w.defaultAction(e);
}

bool accepted(const win::Event& e, int control) {
    return e.code == win::event::Accepted && e.control == control;
}

// Runs a one-line window from `start` until "OK"; every value the user gives its entry goes to
// `take` at once.
template <class Take> void runLineWindow(win::Window& w, const std::string& start, Take take) {
    w.setText(LineValue, start);
    w.select(LineValue);
    runWindow(w, [&](const win::Event& e) {
        if (accepted(e, LineOk)) {
            w.close();
            return true;
        }
        if (!accepted(e, LineValue)) return false;
        take(e.text);
        return true;
    });
}

} // namespace

win::FontSpec Sorvex::listFont() const {
    win::FontSpec f;
    const std::string face = listProperty(win::listprop::FontFace);
    if (!face.empty()) f.face = face;
    const int points = propertyNumber(listProperty(win::listprop::FontSize));
    if (points > 0) f.points = points;
    const int style = propertyNumber(listProperty(win::listprop::FontStyle));
    f.bold = style % 4096 >= 700;
    f.italic = (style & 4096) != 0;
    return f;
}

std::string Sorvex::plainHeader(const SorvexColumn& column) const {
    std::string header(clipRight(column.HEADER));
    // The sort mark is the list's, not part of the user's header.
    if (markOn_ && column.SEQ == markOn_ && !header.empty() &&
        (header.compare(0, 1, ASCTOKEN) == 0 || header.compare(0, 1, DESCTOKEN) == 0))
        header.erase(0, 1);
    return header;
}

bool Sorvex::setHeaderText(const std::string& text) {
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return false;
    // "~" ends the header in the list's format: the format would no longer read, and the list
    // would fall back to its design. The header stays as it was.
    if (text.find('~') != std::string::npos) {
        win::message("A column header cannot hold \"~\".|The header is left as it was.",
                     std::string(MessageCaption), win::icon::Exclamation);
        return false;
    }
    std::string header(clipRight(std::string_view(text).substr(0, HeaderLength)));
    if (markOn_ == CURRENTCOL) {
        const std::string shown = listProperty(0x7E03, CURRENTCOL);
        if (!shown.empty()) header.insert(0, 1, shown[0]);
    }
    setListProperty(0x7E03, CURRENTCOL, header);
    c.HEADER = header;
    storeDisplayed(c);
    return true;
}

void Sorvex::EditColumnNumber(std::string_view item) {
    const NumberItem* it = nullptr;
    for (const NumberItem& n : NumberItems)
        if (n.name == item) it = &n;
    if (!it || !W) return;
    RefreshColumns(true);
    SorvexColumn c;
    const bool columnItem = it->listProperty == 0;
    if (columnItem && !displayedColumn(CURRENTCOL, c)) return;
    int start = 0;
    if (item == "WID")
        start = c.WIDTHDLU;
    else if (item == "HOS")
        start = c.HOFFSET;
    else if (item == "DOS")
        start = c.FOFFSET;
    else
        start = propertyNumber(listProperty(it->listProperty));
    const std::string caption = columnItem ? plainHeader(c) : std::string(it->caption);

    win::Window w;
    if (!w.open(lineWindow(caption, it->prompt, true, listFont()))) return;
    if (item == "HOS" || item == "DOS") w.setProperty(LineValue, win::prop::RangeHigh, "255");
    runLineWindow(w, std::to_string(start), [&](const std::string& text) {
        const int v = propertyNumber(text);
        if (!columnItem) {
            setListProperty(it->listProperty, 0, std::to_string(v));
        } else if (item == "WID") {
            setListProperty(0x7E04, CURRENTCOL, std::to_string(v));
        } else if (displayedColumn(CURRENTCOL, c)) {
            (item == "HOS" ? c.HOFFSET : c.FOFFSET) = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            storeDisplayed(c);
            applyJustification(item == "HOS");
        }
    });
    RefreshColumns(true);
}

void Sorvex::EditAttribute(std::string_view code) {
    if (code != "HDR" || !W) return; // no other attribute has a window
    RefreshColumns(true);
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    const std::string header = plainHeader(c);
    win::Window w;
    if (!w.open(lineWindow("Header Text: " + header.substr(0, 20), "Header Text:", false, listFont())))
        return;
    runLineWindow(w, header, [&](const std::string& text) {
        if (setHeaderText(text)) return;
        SorvexColumn now; // refused: the header as it is, to type again
        if (displayedColumn(CURRENTCOL, now)) w.setText(LineValue, plainHeader(now));
        w.select(LineValue);
    });
    RefreshColumns(true);
}

void Sorvex::ColumnColors() {
    if (!W) return;
    RefreshColumns(true);
    SorvexColumn c;
    if (!displayedColumn(CURRENTCOL, c)) return;
    win::Window w;
    if (!w.open(colorsWindow(plainHeader(c), listFont()))) return;
    auto show = [&] {
        for (const ColorDrop& d : ColorDrops) w.setText(d.control, std::string(colourNameOf(c.*d.field)));
    };
    auto apply = [&](const ColorDrop& d, std::int32_t value) {
        c.*d.field = value;
        setListProperty(d.property, CURRENTCOL, std::to_string(value));
        storeDisplayed(c);
    };
    show();
    runWindow(w, [&](const win::Event& e) {
        if (accepted(e, ColorsOk)) {
            w.close();
            return true;
        }
        if (accepted(e, ColorsReset)) {
            for (const ColorDrop& d : ColorDrops) apply(d, -1);
            show();
            return true;
        }
        for (const ColorDrop& d : ColorDrops)
            if (accepted(e, d.control)) {
                apply(d, colourValue(e.text).value_or(c.*d.field));
                return true;
            }
        return false;
    });
    RefreshColumns(true);
}

void Sorvex::chooseListFont() {
    win::ReportFont f;
    f.face = listProperty(win::listprop::FontFace);
    f.points = propertyNumber(listProperty(win::listprop::FontSize));
    f.style = propertyNumber(listProperty(win::listprop::FontStyle));
    // The font dialog has no title; the list's colour stays as it is (the dialog offers none).
    if (!win::chooseFont("", f, W ? W->id() : 0)) return;
    setListProperty(win::listprop::FontFace, 0, f.face);
    setListProperty(win::listprop::FontSize, 0, std::to_string(f.points));
    setListProperty(win::listprop::FontStyle, 0, std::to_string(f.style));
    RefreshColumns(true);
}

void Sorvex::AdjustAllWidths() {
    // A list without rows has nothing to measure: its widths stay (they would shrink to the indent).
    if (!BQ || BQ->records() == 0) return;
    win::WaitCursor busy;
    // The list measures each column's widest formatted value over the rows of its queue in its own
    // font (whole pixels), adds the data indent and sets the width in dialog units.
    SorvexColumn c;
    for (std::int64_t p = 1; SQ.get(p, c); ++p)
        if (c.COL != 0) setListProperty(win::listprop::FitColumn, 0, std::to_string(c.SEQ));
    RefreshColumns(true);
}

bool Sorvex::takeDoubleClick() {
    if (!BQ || BQ->records() == 0) return false;
    const int row = propertyNumber(listProperty(win::listprop::PressRow));
    if (propertyNumber(listProperty(win::listprop::PressZone)) == 1) {
        const int column = propertyNumber(listProperty(win::listprop::PressColumn));
        if (column > 0) {
            setListProperty(win::listprop::FitColumn, 0, std::to_string(column));
            RefreshColumns(true);
        }
        return true;
    }
    return row == 0 || row < 0 || row == 255; // the header, or no row: nothing to open
}

void Sorvex::ToggleListFlag() {
    setListProperty(win::listprop::Flag5C, 0, listProperty(win::listprop::Flag5C) == "1" ? "0" : "1");
}

} // namespace sorv::bx
