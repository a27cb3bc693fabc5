// FORMAT: a value through a compiled picture into display text of exactly the picture's width.
// Numbers are rounded on their decimal digits (never through binary floating point), so a DECIMAL
// shows exactly what it holds.
#include "runtime/datetime.h"
#include "runtime/field.h"
#include "runtime/intl.h"
#include "runtime/picture.h"
#include "runtime/picture_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace sorv {

using namespace picture_detail;

namespace picture_detail {

namespace {
void trimDigits(DigitNumber& n) {
    std::size_t lead = n.digits.find_first_not_of('0');
    if (lead == std::string::npos) {
        n.digits.clear();
        n.exponent = 0;
        n.negative = false;
        return;
    }
    n.digits.erase(0, lead);
    std::size_t last = n.digits.find_last_not_of('0');
    n.exponent += static_cast<int>(n.digits.size() - 1 - last);
    n.digits.erase(last + 1);
}

// The decimal digits of u, most significant first ("0" for zero).
std::string u128Digits(unsigned __int128 u) {
    char buf[40]; // 2^128 has 39 digits
    char* end = buf + sizeof buf;
    char* p = end;
    while (u > UINT64_MAX) {
        *--p = static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    }
    // The rest in 64 bits, where a division is one instruction.
    for (auto v = static_cast<std::uint64_t>(u);; v /= 10) {
        *--p = static_cast<char>('0' + static_cast<int>(v % 10));
        if (v < 10) break;
    }
    return std::string(p, end);
}

// The leading number of a text as the language reads it (blanks, a sign, digits with at most one
// point), straight from its digits. False when it has more digits than a decimal holds: the
// decimal's own reading then decides how it is rounded or refused.
bool textDigits(std::string_view s, DigitNumber& n) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) n.negative = s[i++] == '-';
    bool point = false;
    int fraction = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(c)) break;
        if (n.digits.size() == static_cast<std::size_t>(Decimal::MaxDigits)) return false;
        n.digits += c;
        fraction += point ? 1 : 0;
    }
    n.exponent = -fraction;
    return true;
}
} // namespace

DigitNumber digitsOf(const Value& v) {
    DigitNumber n;
    switch (v.kind()) {
    case Value::Kind::Long: {
        std::int64_t x = v.toLong();
        n.negative = x < 0;
        unsigned __int128 u = x < 0 ? static_cast<unsigned __int128>(-static_cast<__int128>(x))
                                    : static_cast<unsigned __int128>(x);
        n.digits = u128Digits(u);
        break;
    }
    case Value::Kind::Real: {
        double d = v.toReal();
        if (!std::isfinite(d)) {
            n.finite = false;
            return n;
        }
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
        std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
        if (!s.empty() && s[0] == '-') {
            n.negative = true;
            s.remove_prefix(1);
        }
        std::size_t e = s.find('e');
        std::string_view mant = s.substr(0, e);
        for (char c : mant)
            if (isDigit(c)) n.digits += c;
        int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
        n.exponent = exp - static_cast<int>(n.digits.size() - 1);
        break;
    }
    case Value::Kind::Text:
        if (textDigits(v.text(), n)) break;
        n = DigitNumber();
        [[fallthrough]];
    case Value::Kind::Decimal: {
        Decimal d = v.toDecimal();
        __int128 m = d.mantissa();
        n.negative = m < 0;
        n.digits = u128Digits(m < 0 ? static_cast<unsigned __int128>(-m) : static_cast<unsigned __int128>(m));
        n.exponent = -d.scale();
        break;
    }
    }
    trimDigits(n);
    return n;
}

bool FixedDigits::isZero() const {
    return whole.find_first_not_of('0') == std::string::npos &&
           fraction.find_first_not_of('0') == std::string::npos;
}

FixedDigits toFixedDigits(const DigitNumber& n, int places) {
    FixedDigits f;
    const std::string& d = n.digits;
    const std::size_t p = static_cast<std::size_t>(places);
    if (d.empty()) {
        f.fraction.assign(p, '0');
        return f;
    }
    const std::int64_t len = static_cast<std::int64_t>(d.size());
    // The digit of weight 10^k.
    auto digit = [&](std::int64_t k) {
        const std::int64_t i = len - 1 - (k - n.exponent);
        return i >= 0 && i < len ? d[static_cast<std::size_t>(i)] : '0';
    };
    // The whole digits and the fraction's first `places`, then the next one rounds them.
    const std::int64_t whole = std::max<std::int64_t>(0, len + n.exponent);
    std::string all(static_cast<std::size_t>(whole) + p, '0');
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = digit(whole - 1 - static_cast<std::int64_t>(i));
    if (digit(-static_cast<std::int64_t>(p) - 1) >= '5') {
        std::size_t i = all.size();
        while (i > 0 && all[i - 1] == '9') all[--i] = '0';
        if (i == 0)
            all.insert(all.begin(), '1');
        else
            ++all[i - 1];
    }
    const std::size_t wholeSize = all.size() - p;
    const std::size_t lead = std::min(all.find_first_not_of('0'), wholeSize);
    f.whole.assign(all, lead, wholeSize - lead);
    f.fraction.assign(all, wholeSize, p);
    f.negative = n.negative && !f.isZero();
    return f;
}

} // namespace picture_detail

namespace {

// Every formatter appends exactly the picture's width to `out`.
std::size_t width(const CompiledPicture& p) {
    return static_cast<std::size_t>(p.width);
}

void hashes(const CompiledPicture& p, std::string& out) {
    out.append(width(p), '#');
}

void blanks(const CompiledPicture& p, std::string& out) {
    out.append(width(p), ' ');
}

bool isZeroValue(const Value& v) {
    if (v.isText()) {
        auto d = Decimal::parse(v.text());
        return clipRight(v.text()).empty() || (d && d->isZero());
    }
    return digitsOf(v).digits.empty();
}

void putText(std::string_view t, const CompiledPicture& p, std::string& out) {
    const std::size_t n = std::min(t.size(), width(p));
    out.append(t.data(), n);
    out.append(width(p) - n, ' ');
}

void formatText(const Value& v, const CompiledPicture& p, std::string& out) {
    if (p.blankWhenZero && isZeroValue(v)) return blanks(p, out);
    if (v.isText())
        putText(v.text(), p, out);
    else
        putText(v.toText(), p, out);
}

void formatNumeric(const DigitNumber& dn, const CompiledPicture& p, std::string& out) {
    const NumericLayout& n = p.numeric;
    if (!dn.finite) return hashes(p, out);
    FixedDigits f = toFixedDigits(dn, n.decimals);
    if (p.blankWhenZero && f.isZero()) return blanks(p, out);
    const std::string& w = f.whole;
    const int P = n.integerPositions;
    const char lead = n.fill == '0' ? '0' : n.fill == '*' ? '*' : ' ';
    const bool floating = lead == ' ';
    // The integer area is built right to left in place; a picture is at most 255 wide.
    char local[256];
    std::string large;
    char* area = local;
    if (static_cast<std::size_t>(P) > sizeof local) {
        large.assign(static_cast<std::size_t>(P), lead);
        area = large.data();
    } else {
        std::fill(area, area + P, lead);
    }
    std::size_t placed = 0;
    int significant = P; // index of the leftmost character that belongs to the number
    for (int i = 0; i < P; ++i) {
        std::size_t at = static_cast<std::size_t>(P - 1 - i);
        if (n.grouping && i % 4 == 3) {
            if (placed < w.size()) {
                area[at] = n.grouping;
                significant = static_cast<int>(at);
            } else if (n.fill == '0' && at > 0) {
                area[at] = n.grouping;
            }
        } else if (placed < w.size()) {
            area[at] = w[w.size() - 1 - placed++];
            significant = static_cast<int>(at);
        } else if (i == 0) {
            area[at] = '0';
            significant = static_cast<int>(at);
        }
    }
    if (placed < w.size()) return hashes(p, out);
    if (f.negative && !n.signBefore && !n.signAfter) {
        // No sign in the picture: the minus takes a leading position, or the value does not fit.
        if (significant == 0) return hashes(p, out);
        if (floating)
            area[static_cast<std::size_t>(--significant)] = '-';
        else
            area[0] = '-';
    }
    const int from = floating ? significant : 0;
    if (floating) out.append(static_cast<std::size_t>(significant), ' ');
    if (n.currencyBefore) out += n.currency;
    if (n.signBefore) out += f.negative ? n.signBefore : ' ';
    out.append(area + from, static_cast<std::size_t>(P - from));
    if (n.point) out += n.point;
    out += f.fraction;
    if (n.signAfter) out += f.negative ? n.signAfter : ' ';
    if (!n.currencyBefore) out += n.currency;
}

void formatScientific(const DigitNumber& dn, const CompiledPicture& p, std::string& out) {
    const NumericLayout& n = p.numeric;
    if (!dn.finite) return hashes(p, out);
    const std::size_t keep = static_cast<std::size_t>(n.decimals) + 1;
    std::string mant;
    int exp = 0;
    if (dn.digits.empty()) {
        if (p.blankWhenZero) return blanks(p, out);
        mant.assign(keep, '0');
    } else {
        exp = dn.exponent + static_cast<int>(dn.digits.size()) - 1;
        mant = dn.digits.substr(0, std::min(keep, dn.digits.size()));
        mant.append(keep - mant.size(), '0');
        if (dn.digits.size() > keep && dn.digits[keep] >= '5') {
            std::size_t i = mant.size();
            while (i > 0 && mant[i - 1] == '9') mant[--i] = '0';
            if (i == 0) {
                mant.insert(mant.begin(), '1');
                mant.pop_back();
                ++exp;
            } else {
                ++mant[i - 1];
            }
        }
    }
    int e = std::abs(exp);
    if (e > 999) return hashes(p, out);
    std::string body;
    if (dn.negative) body += '-';
    body += mant[0];
    if (n.point) body += n.point;
    body.append(mant, 1);
    body += 'E';
    body += exp < 0 ? '-' : '+';
    body += static_cast<char>('0' + e / 100);
    body += static_cast<char>('0' + e / 10 % 10);
    body += static_cast<char>('0' + e % 10);
    if (body.size() > width(p)) return hashes(p, out);
    out.append(width(p) - body.size(), ' ');
    out += body;
}

void formatPattern(const DigitNumber& dn, const CompiledPicture& p, std::string& out) {
    if (!dn.finite) return hashes(p, out);
    FixedDigits f = toFixedDigits(dn, 0);
    if (p.blankWhenZero && f.isZero()) return blanks(p, out);
    // A pattern has no place for a sign.
    if (f.negative) return hashes(p, out);
    const std::string& w = f.whole;
    const std::size_t start = out.size();
    out.append(p.positions.size(), ' ');
    char* o = out.data() + start;
    std::size_t placed = 0;
    for (std::size_t i = p.positions.size(); i-- > 0;) {
        const PicturePosition& q = p.positions[i];
        if (q.role == PictureRole::Digit || q.role == PictureRole::BlankDigit) {
            if (placed < w.size())
                o[i] = w[w.size() - 1 - placed++];
            else
                o[i] = q.role == PictureRole::Digit ? '0' : ' ';
        } else {
            o[i] = q.pad;
        }
    }
    if (placed < w.size()) {
        out.resize(start);
        hashes(p, out);
    }
}

// Fills a run of digit positions with the low digits of value; leading zeros show the pad unless it
// is "0", and the last position always shows its digit.
void putDigits(char* out, const CompiledPicture& p, std::size_t begin, std::size_t end, std::int64_t value) {
    bool leading = true;
    std::int64_t scale = 1;
    for (std::size_t i = begin + 1; i < end; ++i) scale = scale < 1000000000000LL ? scale * 10 : scale;
    for (std::size_t i = begin; i < end; ++i, scale /= 10) {
        int digit = static_cast<int>(value / (scale ? scale : 1) % 10);
        if (digit != 0 || i + 1 == end) leading = false;
        char pad = p.positions[i].pad;
        out[i] = leading && pad != '0' ? pad : static_cast<char>('0' + digit);
    }
}

void putName(char* out, const CompiledPicture& p, std::size_t begin, std::size_t end, std::string_view name) {
    for (std::size_t i = begin; i < end; ++i)
        out[i] = i - begin < name.size() ? name[i - begin] : p.positions[i].pad;
}

// Dates and times keep one display position per position: their pictures have no zero-width roles.
void formatParts(const CompiledPicture& p, const CivilDate& date, int weekday, const ClockTime& clock,
                 std::string_view marker, std::string& text) {
    const std::size_t start = text.size();
    text.append(p.positions.size(), ' ');
    char* out = text.data() + start;
    std::size_t i = 0;
    while (i < p.positions.size()) {
        PictureRole role = p.positions[i].role;
        std::size_t end = i + 1;
        if (isPartRole(role))
            while (end < p.positions.size() && p.positions[end].role == role) ++end;
        switch (role) {
        case PictureRole::Month:
            putDigits(out, p, i, end, date.month);
            break;
        case PictureRole::Day:
            putDigits(out, p, i, end, date.day);
            break;
        case PictureRole::Year:
            putDigits(out, p, i, end, end - i <= 2 ? date.year % 100 : date.year);
            break;
        case PictureRole::Hour:
            putDigits(out, p, i, end, clock.hour);
            break;
        case PictureRole::Minute:
            putDigits(out, p, i, end, clock.minute);
            break;
        case PictureRole::Second:
            putDigits(out, p, i, end, clock.second);
            break;
        case PictureRole::MonthName:
            putName(out, p, i, end, monthName(date.month));
            break;
        case PictureRole::WeekdayName:
            putName(out, p, i, end, weekday < 0 ? "" : weekdayName(weekday));
            break;
        case PictureRole::AmPm:
            putName(out, p, i, end, marker);
            break;
        default:
            out[i] = p.positions[i].pad;
            break;
        }
        i = end;
    }
}

void formatDate(const Value& v, const CompiledPicture& p, std::string& out) {
    std::int64_t day = v.toLong();
    if (!isValidDay(day)) {
        if (p.blankWhenZero) return blanks(p, out);
        return formatParts(p, CivilDate{}, -1, ClockTime{}, "", out);
    }
    formatParts(p, civilOf(day), weekdayOf(day), ClockTime{}, "", out);
}

void formatTime(const Value& v, const CompiledPicture& p, std::string& out) {
    std::int64_t t = v.toLong();
    if (!isValidTime(t)) {
        if (p.blankWhenZero) return blanks(p, out);
        return formatParts(p, CivilDate{}, -1, ClockTime{}, "", out);
    }
    ClockTime c = clockOf(t);
    std::string_view marker;
    bool twelve = false;
    for (const auto& q : p.positions) twelve = twelve || q.role == PictureRole::AmPm;
    if (twelve) {
        const IntlSettings& s = intlSettings();
        marker = c.hour < 12 ? s.s1159 : s.s2359;
        c.hour = c.hour % 12 == 0 ? 12 : c.hour % 12;
    }
    formatParts(p, CivilDate{}, -1, c, marker, out);
}

} // namespace

void FORMAT(const Value& value, const CompiledPicture& picture, std::string& out) {
    switch (picture.kind) {
    case PictureKind::Invalid:
        return;
    case PictureKind::String:
    case PictureKind::KeyIn:
        return formatText(value, picture, out);
    case PictureKind::Date:
        return formatDate(value, picture, out);
    case PictureKind::Time:
        return formatTime(value, picture, out);
    case PictureKind::Numeric:
        return formatNumeric(digitsOf(value), picture, out);
    case PictureKind::Scientific:
        return formatScientific(digitsOf(value), picture, out);
    case PictureKind::Pattern:
        return formatPattern(digitsOf(value), picture, out);
    }
}

void FORMAT(const FieldRef& field, const CompiledPicture& picture, std::string& out) {
    // A text field is read from its bytes as they stand, without a value in between.
    if (field.valid() && field.type() == FieldType::String) {
        const auto bytes = field.bytes();
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                                    std::min<std::size_t>(field.desc().size, bytes.size()));
        DigitNumber n;
        switch (picture.kind) {
        case PictureKind::String:
        case PictureKind::KeyIn:
            if (!picture.blankWhenZero) return putText(text, picture, out);
            break;
        case PictureKind::Numeric:
        case PictureKind::Scientific:
        case PictureKind::Pattern:
            if (!textDigits(text, n)) break;
            trimDigits(n);
            if (picture.kind == PictureKind::Numeric) return formatNumeric(n, picture, out);
            if (picture.kind == PictureKind::Scientific) return formatScientific(n, picture, out);
            return formatPattern(n, picture, out);
        default:
            break;
        }
    }
    FORMAT(field.get(), picture, out);
}

std::string FORMAT(const Value& value, const CompiledPicture& picture) {
    std::string out;
    FORMAT(value, picture, out);
    return out;
}

std::string FORMAT(const Value& value, std::string_view picture) {
    return FORMAT(value, *compilePicture(picture));
}

} // namespace sorv
