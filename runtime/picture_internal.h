// Helpers shared by the picture compiler, FORMAT and DEFORMAT (not part of the public interface).
#pragma once
#include "runtime/picture.h"

#include <string>
#include <string_view>

namespace sorv::picture_detail {

// "Sunday" .. "Saturday" for 0 .. 6.
std::string_view weekdayName(int weekday);

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Date and time part roles; positions of one part stand together in a run.
inline bool isPartRole(PictureRole r) {
    return r >= PictureRole::Month && r <= PictureRole::AmPm;
}
inline bool isNameRole(PictureRole r) {
    return r == PictureRole::MonthName || r == PictureRole::WeekdayName || r == PictureRole::AmPm;
}

// The current year from the local clock (the century window looks from it).
int currentYear();

// A finite number as decimal digits: (-1)^negative * digits * 10^exponent, digits without leading
// zeros ("" for zero). Built exactly from longs, decimals and texts, and from the shortest text of a
// binary real.
struct DigitNumber {
    bool negative = false;
    bool finite = true;
    std::string digits;
    int exponent = 0;
};
DigitNumber digitsOf(const Value& v);

// The number rounded half away from zero to `places` fraction digits, as whole digits (no leading
// zeros, "" for a zero whole part) and exactly `places` fraction digits.
struct FixedDigits {
    bool negative = false;
    std::string whole;
    std::string fraction;
    bool isZero() const;
};
FixedDigits toFixedDigits(const DigitNumber& n, int places);

} // namespace sorv::picture_detail
