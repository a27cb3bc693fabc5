// FORMAT: a value through a compiled picture into display text of exactly the picture's width.
// Numbers are rounded on their decimal digits (never through binary floating point), so a DECIMAL
// shows exactly what it holds.
#include "runtime/datetime.h"
#include "runtime/intl.h"
#include "runtime/picture.h"
#include "runtime/picture_internal.h"

#include <charconv>
#include <cmath>
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

std::string u128Digits(unsigned __int128 u) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    } while (u);
    return s;
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
    case Value::Kind::Decimal:
    case Value::Kind::Text: {
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
    if (d.empty()) {
        f.fraction.assign(static_cast<std::size_t>(places), '0');
        return f;
    }
    if (n.exponent >= 0) {
        f.whole = d + std::string(static_cast<std::size_t>(n.exponent), '0');
        f.fraction.assign(static_cast<std::size_t>(places), '0');
    } else {
        std::size_t fracLen = static_cast<std::size_t>(-n.exponent);
        std::size_t p = static_cast<std::size_t>(places);
        if (fracLen > d.size() + p + 1) {
            // Every digit lies below half a unit of the last place shown.
            f.fraction.assign(p, '0');
        } else {
            std::string frac =
                fracLen > d.size() ? std::string(fracLen - d.size(), '0') + d : d.substr(d.size() - fracLen);
            f.whole = fracLen >= d.size() ? std::string() : d.substr(0, d.size() - fracLen);
            if (frac.size() <= p) {
                f.fraction = frac + std::string(p - frac.size(), '0');
            } else {
                bool up = frac[p] >= '5';
                std::string all = f.whole + frac.substr(0, p);
                if (up) {
                    std::size_t i = all.size();
                    while (i > 0) {
                        --i;
                        if (all[i] == '9') {
                            all[i] = '0';
                        } else {
                            ++all[i];
                            break;
                        }
                        if (i == 0) all.insert(all.begin(), '1');
                    }
                    if (all.empty()) all = "1";
                }
                f.whole = all.substr(0, all.size() - p);
                f.fraction = all.substr(all.size() - p);
            }
        }
    }
    std::size_t lead = f.whole.find_first_not_of('0');
    f.whole.erase(0, lead == std::string::npos ? f.whole.size() : lead);
    f.negative = n.negative && !f.isZero();
    return f;
}

} // namespace picture_detail

namespace {

std::string hashes(int width) {
    return std::string(static_cast<std::size_t>(width), '#');
}

bool isZeroValue(const Value& v) {
    if (v.isText()) {
        auto d = Decimal::parse(v.text());
        return clipRight(v.text()).empty() || (d && d->isZero());
    }
    return digitsOf(v).digits.empty();
}

std::string formatText(const Value& v, const CompiledPicture& p) {
    std::string out(static_cast<std::size_t>(p.width), ' ');
    if (p.blankWhenZero && isZeroValue(v)) return out;
    std::string t = v.isText() ? v.text() : v.toText();
    out.replace(0, std::min(t.size(), out.size()), t, 0, std::min(t.size(), out.size()));
    return out;
}

std::string formatNumeric(const Value& v, const CompiledPicture& p) {
    const NumericLayout& n = p.numeric;
    DigitNumber dn = digitsOf(v);
    if (!dn.finite) return hashes(p.width);
    FixedDigits f = toFixedDigits(dn, n.decimals);
    if (p.blankWhenZero && f.isZero()) return std::string(static_cast<std::size_t>(p.width), ' ');
    const std::string& w = f.whole;
    const int P = n.integerPositions;
    const char lead = n.fill == '0' ? '0' : n.fill == '*' ? '*' : ' ';
    const bool floating = lead == ' ';
    std::string area(static_cast<std::size_t>(P), lead);
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
    if (placed < w.size()) return hashes(p.width);
    if (f.negative && !n.signBefore && !n.signAfter) {
        // No sign in the picture: the minus takes a leading position, or the value does not fit.
        if (significant == 0) return hashes(p.width);
        if (floating)
            area[static_cast<std::size_t>(--significant)] = '-';
        else
            area[0] = '-';
    }
    std::string before, after;
    if (n.currencyBefore) before = n.currency;
    if (n.signBefore) before += f.negative ? n.signBefore : ' ';
    if (n.signAfter) after += f.negative ? n.signAfter : ' ';
    if (!n.currencyBefore) after += n.currency;
    std::string out;
    out.reserve(static_cast<std::size_t>(p.width));
    if (floating) {
        out.append(static_cast<std::size_t>(significant), ' ');
        out += before;
        out.append(area, static_cast<std::size_t>(significant));
    } else {
        out = before + area;
    }
    if (n.point) out += n.point;
    out += f.fraction;
    out += after;
    return out;
}

std::string formatScientific(const Value& v, const CompiledPicture& p) {
    const NumericLayout& n = p.numeric;
    DigitNumber dn = digitsOf(v);
    if (!dn.finite) return hashes(p.width);
    const std::size_t keep = static_cast<std::size_t>(n.decimals) + 1;
    std::string mant;
    int exp = 0;
    if (dn.digits.empty()) {
        if (p.blankWhenZero) return std::string(static_cast<std::size_t>(p.width), ' ');
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
    if (e > 999) return hashes(p.width);
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
    if (body.size() > static_cast<std::size_t>(p.width)) return hashes(p.width);
    return std::string(static_cast<std::size_t>(p.width) - body.size(), ' ') + body;
}

std::string formatPattern(const Value& v, const CompiledPicture& p) {
    DigitNumber dn = digitsOf(v);
    if (!dn.finite) return hashes(p.width);
    FixedDigits f = toFixedDigits(dn, 0);
    if (p.blankWhenZero && f.isZero()) return std::string(static_cast<std::size_t>(p.width), ' ');
    // A pattern has no place for a sign.
    if (f.negative) return hashes(p.width);
    const std::string& w = f.whole;
    std::string out(p.positions.size(), ' ');
    std::size_t placed = 0;
    for (std::size_t i = p.positions.size(); i-- > 0;) {
        const PicturePosition& q = p.positions[i];
        if (q.role == PictureRole::Digit || q.role == PictureRole::BlankDigit) {
            if (placed < w.size())
                out[i] = w[w.size() - 1 - placed++];
            else
                out[i] = q.role == PictureRole::Digit ? '0' : ' ';
        } else {
            out[i] = q.pad;
        }
    }
    if (placed < w.size()) return hashes(p.width);
    return out;
}

// Fills a run of digit positions with the low digits of value; leading zeros show the pad unless it
// is "0", and the last position always shows its digit.
void putDigits(std::string& out, const CompiledPicture& p, std::size_t begin, std::size_t end,
               std::int64_t value) {
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

void putName(std::string& out, const CompiledPicture& p, std::size_t begin, std::size_t end,
             std::string_view name) {
    for (std::size_t i = begin; i < end; ++i)
        out[i] = i - begin < name.size() ? name[i - begin] : p.positions[i].pad;
}

// Dates and times keep one display position per position: their pictures have no zero-width roles.
std::string formatParts(const CompiledPicture& p, const CivilDate& date, int weekday, const ClockTime& clock,
                        std::string_view marker) {
    std::string out(p.positions.size(), ' ');
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
    return out;
}

std::string formatDate(const Value& v, const CompiledPicture& p) {
    std::int64_t day = v.toLong();
    if (!isValidDay(day)) {
        if (p.blankWhenZero) return std::string(static_cast<std::size_t>(p.width), ' ');
        return formatParts(p, CivilDate{}, -1, ClockTime{}, "");
    }
    return formatParts(p, civilOf(day), weekdayOf(day), ClockTime{}, "");
}

std::string formatTime(const Value& v, const CompiledPicture& p) {
    std::int64_t t = v.toLong();
    if (!isValidTime(t)) {
        if (p.blankWhenZero) return std::string(static_cast<std::size_t>(p.width), ' ');
        return formatParts(p, CivilDate{}, -1, ClockTime{}, "");
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
    return formatParts(p, CivilDate{}, -1, c, marker);
}

} // namespace

std::string FORMAT(const Value& value, const CompiledPicture& picture) {
    switch (picture.kind) {
    case PictureKind::Invalid:
        return std::string();
    case PictureKind::String:
    case PictureKind::KeyIn:
        return formatText(value, picture);
    case PictureKind::Date:
        return formatDate(value, picture);
    case PictureKind::Time:
        return formatTime(value, picture);
    case PictureKind::Numeric:
        return formatNumeric(value, picture);
    case PictureKind::Scientific:
        return formatScientific(value, picture);
    case PictureKind::Pattern:
        return formatPattern(value, picture);
    }
    return std::string();
}

std::string FORMAT(const Value& value, std::string_view picture) {
    return FORMAT(value, *compilePicture(picture));
}

} // namespace sorv
