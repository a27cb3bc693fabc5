// The graph preferences in the INI file, and the preferences window.
#include "browse_ext/preferences.h"

#include "browse_ext/colours.h"
#include "browse_ext/sorvex.h"
#include "runtime/inifile.h"
#include "windowing/canvas.h"
#include "windowing/desktop.h"
#include "windowing/fontdialog.h"
#include "windowing/listbox_control.h"

#include <cstdio>

namespace sorv::bx {

namespace {

std::string colourKey(int i) {
    char key[8];
    std::snprintf(key, sizeof key, "Col%02d", i + 1);
    return key;
}

struct StyleName {
    std::int32_t value;
    std::string_view name;
};
constexpr StyleName StyleNames[] = {
    {400, "Regular"},
    {700, "Bold"},
    {4096, "Italic"},
    {4796, "Bold Italic"},
    {8592, "Regular Underline"},
    {8892, "Bold Underline"},
    {12288, "Italic Underline"},
    {12988, "Bold Italic Underline"},
};

} // namespace

const std::array<std::string_view, GraphPreferences::Colours> GraphPreferences::DefaultColours{
    "Maroon", "Olive",  "Navy", "Silver", "Purple",  "Green", "Teal",  "Gray",
    "Red",    "Yellow", "Blue", "Lime",   "Fuschia", "Aqua",  "White", "Black"};

GraphPreferences::GraphPreferences() {
    for (int i = 0; i < Colours; ++i) colours[std::size_t(i)] = DefaultColours[std::size_t(i)];
}

GraphPreferences GraphPreferences::read(std::string_view iniFile, int defaultFontSize) {
    GraphPreferences p;
    for (int i = 0; i < Colours; ++i)
        p.colours[std::size_t(i)] =
            GETINI(PreferencesSection, colourKey(i), DefaultColours[std::size_t(i)], iniFile);
    p.fontName = GETINI(PreferencesSection, "FontName", "Arial", iniFile).substr(0, 20);
    auto number = [&](const char* key, long def) {
        return std::int32_t(getPrivateProfileInt(iniFile, PreferencesSection, key, def));
    };
    p.fontSize = number("FontSize", defaultFontSize);
    p.fontColor = number("FontColor", 0);
    p.fontStyle = number("FontStyle", 700);
    p.quoting = GETINI(PreferencesSection, "CSVQuoting", "System", iniFile) == "Standard"
                    ? CsvQuoting::Standard
                    : CsvQuoting::System;
    return p;
}

void GraphPreferences::write(std::string_view iniFile) const {
    for (int i = 0; i < Colours; ++i)
        WRITEINI(PreferencesSection, colourKey(i), std::string_view(colours[std::size_t(i)]), iniFile);
    WRITEINI(PreferencesSection, "FontName", std::string_view(fontName), iniFile);
    WRITEINI(PreferencesSection, "FontSize", std::int64_t{fontSize}, iniFile);
    WRITEINI(PreferencesSection, "FontColor", std::int64_t{fontColor}, iniFile);
    WRITEINI(PreferencesSection, "FontStyle", std::int64_t{fontStyle}, iniFile);
    WRITEINI(PreferencesSection, "CSVQuoting",
             std::string_view(quoting == CsvQuoting::Standard ? "Standard" : "System"), iniFile);
}

std::string GraphPreferences::description(const std::string& lastStyleName) const {
    const std::string_view style = fontStyleName(fontStyle);
    return fontName + " " + std::to_string(fontSize) + " pt " +
           (style.empty() ? lastStyleName : std::string(style));
}

std::string_view fontStyleName(std::int32_t style) {
    for (const StyleName& s : StyleNames)
        if (s.value == style) return s.name;
    return {};
}

// ---- the preferences window ----

namespace {

constexpr const char* WindowResource = "SORVEX|P49$WINDOW";
constexpr const char* FontDialogTitle = "Select a Font for Vertical Legend on Graphs";

namespace prefctl {
enum : int {
    Sheet = 1,
    ColorsTab = 2,
    List = 3,
    Up = 4,
    Down = 5,
    Reset = 6,
    Note = 7,
    FontGroup = 8,
    Sample = 9,
    ChangeFont = 10,
    StandardCsv = 11,
    Ok = 12,
};
}

win::WindowSpec preferencesDesign() {
    win::WindowSpec s;
    s.kind = win::WindowKind::Window;
    s.caption = "Sorvex Preferences";
    s.at = {-1, -1, 320, 200};
    s.resizable = false;
    s.modal = true;
    s.center = true;
    // Tab goes through the colours first, then the font, the check box and "OK"; row by row the
    // font's button would come before the tall sheet beside it and take the first focus, so that
    // the first Enter opened the font dialog.
    s.tabsInListedOrder = true;
    s.add("SHEET", prefctl::Sheet, {4, 4, 150, 172});
    s.add("TAB", prefctl::ColorsTab, {}, "&Colors").parent = prefctl::Sheet;
    win::ControlSpec& list = s.add("LIST", prefctl::List, {10, 22, 112, 124}, "Graph Colors");
    list.parent = prefctl::ColorsTab;
    list.format = "53L(2)~Graph Colors~@s12@80L(2)*@s20@";
    list.vscroll = true;
    s.add("BUTTON", prefctl::Up, {126, 60, 24, 14}, "&Up").parent = prefctl::ColorsTab;
    s.controls.back().tip = "Move the color up";
    s.add("BUTTON", prefctl::Down, {126, 78, 24, 14}, "Do&wn").parent = prefctl::ColorsTab;
    s.controls.back().tip = "Move the color down";
    s.add("BUTTON", prefctl::Reset, {10, 150, 40, 14}, "&Reset").parent = prefctl::ColorsTab;
    s.add("GROUP", prefctl::FontGroup, {160, 4, 156, 78}, "Font");
    s.add("CANVAS", prefctl::Sample, {166, 16, 144, 40}, "Font sample").tip =
        "Specify the font here to be used in the Graphs";
    s.add("BUTTON", prefctl::ChangeFont, {166, 60, 60, 14}, "Change &Font");
    s.add("CHECK", prefctl::StandardCsv, {160, 90, 156, 12}, "Standard CSV quoting").tip =
        "Exports double the quotes inside quoted values, as spreadsheet programs read them";
    s.add("PROMPT", prefctl::Note, {4, 182, 250, 10},
          "Note: Only the top 8 colors will be used for graphing");
    s.add("BUTTON", prefctl::Ok, {266, 180, 50, 14}, "OK").defaultButton = true;
    return s;
}

// The colour list: one entry per position, its name and a swatch painted in the colour.
Layout colourListLayout() {
    Layout l;
    l.add("COLOR", FieldType::String, 20);
    l.add("DUMMY", FieldType::String, 1);
    for (const char* c : {"NFG", "NBG", "SFG", "SBG", "SEQ"}) l.add(c, FieldType::Long);
    return l;
}

class PreferencesWindow {
public:
    explicit PreferencesWindow(std::string iniFile)
        : iniFile_(std::move(iniFile)), prefs_(GraphPreferences::read(iniFile_, 8)),
          list_(colourListLayout()) {}

    void run() {
        win::registerWindowResource(WindowResource, preferencesDesign);
        if (!w_.open(WindowResource)) return;
        order_ = prefs_.colours;
        fillList(1);
        w_.select(prefctl::List); // the arrow keys choose the colour that Up and Down move
        showFont();
        w_.setText(prefctl::StandardCsv, prefs_.quoting == CsvQuoting::Standard ? "1" : "0");
        win::Event e;
        while (w_.accept(e)) {
            if (e.code == win::event::Accepted) {
                switch (e.control) {
                case prefctl::Up:
                    move(-1);
                    continue;
                case prefctl::Down:
                    move(+1);
                    continue;
                case prefctl::Reset:
                    prefs_.colours = GraphPreferences().colours;
                    order_ = prefs_.colours;
                    fillList(1);
                    continue;
                case prefctl::ChangeFont:
                    changeFont();
                    continue;
                case prefctl::StandardCsv:
                    prefs_.quoting = e.text == "1" ? CsvQuoting::Standard : CsvQuoting::System;
                    continue;
                case prefctl::Ok:
                    prefs_.colours = order_;
                    w_.close();
                    continue;
                }
            }
            w_.defaultAction(e);
        }
        // However the window closed, every setting is written; only "OK" took the new order.
        prefs_.write(iniFile_);
    }

private:
    void fillList(int selected) {
        list_.free();
        for (int i = 0; i < GraphPreferences::Colours; ++i) {
            const std::string& name = order_[std::size_t(i)];
            const std::int32_t colour = colourValue(name).value_or(-1);
            list_.record().set("COLOR", Value(name));
            list_.record().set("DUMMY", Value(" "));
            list_.record().set("NFG", Value(std::int64_t{colour == -1 ? -1 : 0x000000}));
            list_.record().set("NBG", Value(std::int64_t{colour}));
            list_.record().set("SFG", Value(std::int64_t{colour == -1      ? -1
                                                         : name == "White" ? 0x000000
                                                                           : 0xFFFFFF}));
            list_.record().set("SBG", Value(std::int64_t{colour}));
            list_.record().set("SEQ", Value(std::int64_t{i + 1}));
            list_.add();
        }
        auto rows = std::make_shared<win::ListRowsData>();
        for (std::int64_t i = 1; i <= list_.records(); ++i) {
            win::ListRow row;
            for (int f = 1; f <= list_.fieldCount(); ++f) row.push_back(list_.value(i, f).toText());
            rows->rows.push_back(std::move(row));
        }
        w_.setData(prefctl::List, rows);
        w_.setProperty(prefctl::List, win::listprop::Selected, std::to_string(selected));
    }

    // The selected colour changes place with its neighbour; at either end the desktop beeps.
    void move(int step) {
        int p = 0;
        try {
            p = std::stoi(w_.property(prefctl::List, win::listprop::Selected));
        } catch (...) {
        }
        const int to = p + step;
        if (p < 1 || to < 1 || to > GraphPreferences::Colours) return win::beep();
        std::swap(order_[std::size_t(p - 1)], order_[std::size_t(to - 1)]);
        fillList(to);
    }

    // The description, in the chosen font, size, colour and style.
    void showFont() {
        const std::string_view style = fontStyleName(prefs_.fontStyle);
        if (!style.empty()) styleName_ = std::string(style);
        const std::string text = prefs_.description(styleName_);
        auto sample = std::make_shared<win::CanvasData>();
        sample->texts.push_back({0,
                                 0,
                                 1000,
                                 0,
                                 text,
                                 {prefs_.fontName, prefs_.fontSize, prefs_.fontStyle},
                                 prefs_.fontColor,
                                 false,
                                 false});
        w_.setData(prefctl::Sample, sample);
    }

    void changeFont() {
        win::ReportFont f{prefs_.fontName, prefs_.fontSize, prefs_.fontStyle};
        if (!win::chooseFont(FontDialogTitle, f, w_.id())) return;
        prefs_.fontName = f.face.substr(0, 20);
        prefs_.fontSize = f.points;
        prefs_.fontStyle = f.style;
        showFont();
    }

    std::string iniFile_;
    GraphPreferences prefs_;
    std::array<std::string, GraphPreferences::Colours> order_; // the list's order
    std::string styleName_;                                    // the style name shown last
    Queue list_;
    win::Window w_;
};

} // namespace

void Sorvex::Preferences() {
    PreferencesWindow(INIFILENAME).run();
}

} // namespace sorv::bx
