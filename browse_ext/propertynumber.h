// The number a list control's property text holds, as the Sorvex files read it.
#pragma once

#include <charconv>
#include <string>

namespace sorv::bx {

// Leading blanks are skipped; text that holds no number reads as 0, as the control reports
// an unset property.
inline int propertyNumber(const std::string& s) {
    int v = 0;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    while (b < e && *b == ' ') ++b;
    std::from_chars(b, e, v);
    return v;
}

} // namespace sorv::bx
