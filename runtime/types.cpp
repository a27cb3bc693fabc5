// Names of the field type codes.
#include "runtime/types.h"

#include <array>

namespace sorv {

std::string_view typeName(int code) {
    static constexpr std::array<std::string_view, 31> names = {
        "END",     "BYTE",    "SHORT",   "USHORT",   "DATE",     "TIME",    "LONG",    "ULONG",
        "SREAL",   "REAL",    "DECIMAL", "PDECIMAL", "DUM1",     "BFLOAT4", "BFLOAT8", "ANY",
        "TEMPUFO", "UNKNOWN", "STRING",  "CSTRING",  "PSTRING",  "MEMO",    "GROUP",   "CLASS",
        "ARRAY",   "FIELD",   "QUEUE",   "BLOB",     "STACKSTR", "PICTURE", "STDNUM"};
    if (code < 0 || code >= static_cast<int>(names.size())) return "UNKNOWN";
    return names[static_cast<std::size_t>(code)];
}

} // namespace sorv
