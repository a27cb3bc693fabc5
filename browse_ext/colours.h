// The colour table of the list enhancement: the seventeen colour names in their fixed order (a
// choice's number is its place, from 1) with their 24-bit values, blue in the high byte and red in
// the low byte, -1 for "None". Colours are kept in the INI file by name and turned into values here.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sorv::bx {

struct NamedColour {
    std::string_view name;
    std::int32_t value;
};

inline constexpr std::array<NamedColour, 17> ColourTable{{
    {"None", -1},
    {"Black", 0x000000},
    {"Maroon", 0x000080},
    {"Green", 0x008000},
    {"Olive", 0x008080},
    {"Navy", 0x800000},
    {"Purple", 0x800080},
    {"Teal", 0x808000},
    {"Gray", 0x808080},
    {"Silver", 0xC0C0C0},
    {"Red", 0x0000FF},
    {"Lime", 0x00FF00},
    {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},
    {"Fuschia", 0xFF00FF},
    {"Aqua", 0xFFFF00},
    {"White", 0xFFFFFF},
}};

// The value of a name (trailing blanks ignored, case as written); none for a name not in the table.
std::optional<std::int32_t> colourValue(std::string_view name);
// The number (1 to 17) of a value, 0 for a value without a name.
int colourNumber(std::int32_t value);
// The name of a value or of a number; "" when there is none.
std::string_view colourNameOf(std::int32_t value);
std::string_view colourName(int number);

} // namespace sorv::bx
