// What must hold for any picture text, value and typed text, shared by the libFuzzer target and the
// seeded random test: compiling never fails loudly, FORMAT shows exactly the picture's width,
// DEFORMAT answers the kind of value its picture reads (an invalid picture reads nothing: ""), and what
// FORMAT showed reads back to a value that FORMAT shows the same way.
#pragma once
#include "runtime/datetime.h"
#include "runtime/picture.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace sorv::picture_check {

// A value from fuzz bytes: the first byte picks a long, a binary real, a decimal or a text; the rest
// is read as that kind (what does not read as a number stays text).
inline Value valueOf(std::string_view bytes) {
    if (bytes.empty()) return Value();
    char tag = bytes[0];
    std::string rest(bytes.substr(1));
    switch (static_cast<unsigned char>(tag) % 4) {
    case 0: {
        char* end = nullptr;
        long long n = std::strtoll(rest.c_str(), &end, 10);
        return Value(static_cast<std::int64_t>(n));
    }
    case 1:
        return Value(std::strtod(rest.c_str(), nullptr));
    case 2:
        if (auto d = Decimal::parse(rest)) return Value(*d);
        return Value(rest);
    default:
        return Value(rest);
    }
}

// "" when everything holds, else what broke.
inline std::string checkCompiled(const CompiledPicture& p) {
    if (p.valid() != (p.width > 0)) return "width and validity disagree";
    if (p.width < 0 || p.width > 255) return "width out of range";
    return "";
}

inline bool hasRole(const CompiledPicture& p, PictureRole role) {
    for (const auto& q : p.positions)
        if (q.role == role) return true;
    return false;
}

inline bool hasShortYear(const CompiledPicture& p) {
    for (std::size_t i = 0; i < p.positions.size();) {
        std::size_t end = i + 1;
        if (p.positions[i].role == PictureRole::Year) {
            while (end < p.positions.size() && p.positions[end].role == PictureRole::Year) ++end;
            if (end - i <= 2) return true;
        }
        i = end;
    }
    return false;
}

inline std::string checkFormatDeformat(const CompiledPicture& p, const Value& value, std::string_view typed) {
    std::string shown = FORMAT(value, p);
    if (shown.size() != static_cast<std::size_t>(p.width))
        return "FORMAT width " + std::to_string(shown.size());
    Value read = DEFORMAT(typed, p);
    if (p.kind == PictureKind::KeyIn) {
        if (!read.isText()) return "key-in DEFORMAT gave a number";
        if (read.text().size() > 255) return "key-in DEFORMAT longer than any field";
    } else if (p.valid() && read.isText()) {
        return "DEFORMAT gave text";
    }
    // FORMAT of anything DEFORMAT gives must still fit.
    if (FORMAT(read, p).size() != static_cast<std::size_t>(p.width)) return "FORMAT of DEFORMAT width";
    if (!p.valid() || p.kind == PictureKind::String) return "";
    // FORMAT copies a key-in text as it is; what DEFORMAT made of typing reads back unchanged.
    if (p.kind == PictureKind::KeyIn) {
        std::string again = DEFORMAT(FORMAT(read, p), p).text();
        // Blank when zero shows a typed "0" as nothing.
        if (again != read.text() && !(p.blankWhenZero && again.empty()))
            return "key-in '" + read.text() + "' -> '" + again + "'";
        return "";
    }
    // A shown text that is not an overflow reads back to a value shown the same way.
    if (shown.find('#') != std::string::npos) return "";
    // No time shows zero digits, which a 12-hour picture reads as midnight ("12:00 AM").
    if (p.kind == PictureKind::Time && !isValidTime(value.toLong())) return "";
    // A date without a year reads back in this year, where 29 February may not exist.
    if (p.kind == PictureKind::Date && !hasRole(p, PictureRole::Year) && civilOf(value.toLong()).month == 2 &&
        civilOf(value.toLong()).day == 29)
        return "";
    // A weekday shown without the whole date reads back as the weekday of another date.
    bool wholeDate = hasRole(p, PictureRole::Day) && hasRole(p, PictureRole::Year) &&
                     (hasRole(p, PictureRole::Month) || hasRole(p, PictureRole::MonthName));
    if (hasRole(p, PictureRole::WeekdayName) && !wholeDate) return "";
    Value back = DEFORMAT(shown, p);
    // A real rounded up past the largest binary real ("-2E+308") reads back as no finite number.
    if (back.kind() == Value::Kind::Real && !std::isfinite(back.toReal())) return "";
    std::string again = FORMAT(back, p);
    // A two-digit year outside the century window comes back in another century (and may show
    // another weekday); the text read then is stable.
    if (again != shown && p.kind == PictureKind::Date && hasShortYear(p)) {
        shown = again;
        again = FORMAT(DEFORMAT(shown, p), p);
    }
    if (again != shown) return "round trip '" + shown + "' -> '" + again + "'";
    return "";
}

} // namespace sorv::picture_check
