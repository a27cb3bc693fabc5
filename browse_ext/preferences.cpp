// The graph preferences in the INI file, and the preferences window.
#include "browse_ext/preferences.h"

#include "runtime/inifile.h"

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

} // namespace sorv::bx
