// The graph preferences: sixteen bar colours in order (the graph uses the first eight), the font of
// the graph's texts, and the quoting of the comma-separated export. They are program-wide: every
// list reads and writes the same section "SorvexPreferences" of the object's INI file.
//
// The preferences window (Sorvex::Preferences) works on its own copy, read when it opens and
// written whole when it closes, however it closes; only "OK" takes the colour list's new order.
// The graph reads the section anew each time it draws, so a change shows at once.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorv::bx {

inline constexpr std::string_view PreferencesSection = "SorvexPreferences";

// How the comma-separated export quotes a value (key "CSVQuoting").
enum class CsvQuoting {
    System,   // "System": double quotes around a value with the separator, single quotes around
              // one with a double quote; quotes inside are never doubled (the default)
    Standard, // "Standard": double quotes around a value with the separator, a quote or a line
              // break, inner double quotes doubled, as spreadsheet programs read them
};

struct GraphPreferences {
    static constexpr int Colours = 16;
    static const std::array<std::string_view, Colours> DefaultColours;

    std::array<std::string, Colours> colours;
    std::string fontName = "Arial";
    int fontSize = 8;
    std::int32_t fontColor = 0;
    std::int32_t fontStyle = 700;
    CsvQuoting quoting = CsvQuoting::System;

    GraphPreferences();
    // Every key read from the section, a missing one taking its default (the window's font size
    // is 8 points, the graph's 12).
    static GraphPreferences read(std::string_view iniFile, int defaultFontSize);
    // Writes every key back.
    void write(std::string_view iniFile) const;
    // "Arial 8 pt Bold": the face, the size and the style's name.
    std::string description(const std::string& lastStyleName = {}) const;
};

// The name of a font style value ("Bold" for 700, "Bold Italic" for 4796); "" for a value the
// table does not hold.
std::string_view fontStyleName(std::int32_t style);

} // namespace sorv::bx
