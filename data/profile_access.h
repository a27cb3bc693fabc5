// The desktop profile as the data layer reads it (trace switches).
#pragma once
#include <string>
#include <string_view>

namespace sorv {

std::string profileString(std::string_view section, std::string_view key, std::string_view def);
int profileInt(std::string_view section, std::string_view key, int def);

} // namespace sorv
