// The colour table's look-ups.
#include "browse_ext/colours.h"

namespace sorv::bx {

std::optional<std::int32_t> colourValue(std::string_view name) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (const NamedColour& c : ColourTable)
        if (c.name == name) return c.value;
    return std::nullopt;
}

int colourNumber(std::int32_t value) {
    for (std::size_t i = 0; i < ColourTable.size(); ++i)
        if (ColourTable[i].value == value) return int(i) + 1;
    return 0;
}

std::string_view colourNameOf(std::int32_t value) {
    return colourName(colourNumber(value));
}

std::string_view colourName(int number) {
    if (number < 1 || number > int(ColourTable.size())) return {};
    return ColourTable[std::size_t(number) - 1].name;
}

} // namespace sorv::bx
