// DEFORMAT: display or typed text read back through a compiled picture. Reading follows the
// picture's positions but forgives what people type: numbers need not be aligned, separators may
// be missing or different, and leading blanks or fill characters are skipped.
#include "runtime/datetime.h"
#include "runtime/intl.h"
#include "runtime/picture.h"
#include "runtime/picture_internal.h"

#include <algorithm>
#include <cstdlib>

namespace sorv {

using namespace picture_detail;

namespace {

// A number from its plain text (sign, digits, point, exponent): exact when it fits a decimal, a
// binary real beyond that, and also below it: a decimal would round "5.000E-324" away to zero.
Value numberValue(const std::string& text) {
    std::size_t mark = text.find('e');
    bool nonZero = text.substr(0, mark).find_first_of("123456789") != std::string::npos;
    if (auto d = Decimal::parse(text); d && (!d->isZero() || !nonZero)) return Value(d->normalized());
    bool anyDigit = text.find_first_of("0123456789") != std::string::npos;
    if (!anyDigit) return Value(Decimal());
    double r = std::strtod(text.c_str(), nullptr);
    return Value(r);
}

// The characters of a number kept from any text: digits, the first point, the first exponent
// mark, a minus at the start or after the exponent mark, a plus after the exponent mark.
Value deformatString(std::string_view t) {
    std::string s;
    bool point = false, exp = false;
    for (char c : t) {
        if (isDigit(c))
            s += c;
        else if (c == '.' && !point && !exp) {
            point = true;
            s += c;
        } else if ((c == 'e' || c == 'E') && !exp) {
            exp = true;
            s += 'e';
        } else if (c == '-' && (s.empty() || s.back() == 'e')) {
            s += c;
        } else if (c == '+' && !s.empty() && s.back() == 'e') {
            s += c;
        }
    }
    // An exponent mark without digits after it is dropped, as is one without a number before it.
    while (!s.empty() && (s.back() == 'e' || s.back() == '-' || s.back() == '+')) s.pop_back();
    std::size_t e = s.find('e');
    if (e != std::string::npos && s.find_first_of("0123456789") > e) s.erase(e);
    return numberValue(s);
}

Value deformatNumeric(std::string_view text, const CompiledPicture& p) {
    const NumericLayout& n = p.numeric;
    std::string t(text);
    if (!n.currency.empty()) {
        // Looked for from the side it stands on, as the currency text may itself hold digits.
        std::size_t at = n.currencyBefore ? t.find(n.currency) : t.rfind(n.currency);
        if (at != std::string::npos) t.replace(at, n.currency.size(), std::string(n.currency.size(), ' '));
    }
    // Where the point character is also the grouping character, the last one between two digits
    // is the point.
    std::size_t pointAt = std::string::npos;
    if (n.point && n.point == n.grouping)
        for (std::size_t i = 1; i + 1 < t.size(); ++i)
            if (t[i] == n.point && isDigit(t[i - 1]) && isDigit(t[i + 1])) pointAt = i;
    // A blank point in a text of the picture's width stands where FORMAT put it, also when no
    // digit comes before it ("$ 003-").
    if (n.point == ' ' && t.size() == static_cast<std::size_t>(p.width) && p.kind == PictureKind::Numeric) {
        std::size_t after = (n.signAfter ? 1 : 0) + (n.currencyBefore ? 0 : n.currency.size());
        std::size_t tail = static_cast<std::size_t>(n.decimals) + after + 1;
        if (tail <= t.size() && t[t.size() - tail] == ' ') pointAt = t.size() - tail;
    }
    bool negative = false, point = false, exp = false, expNegative = false;
    std::string whole, fraction, exponent;
    bool scientific = p.kind == PictureKind::Scientific;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (exp) {
            if (isDigit(c))
                exponent += c;
            else if (exponent.empty() && (c == '-' || c == '+'))
                expNegative = c == '-';
            continue;
        }
        if (isDigit(c)) {
            (point ? fraction : whole) += c;
            continue;
        }
        bool isPoint = false;
        if (!point && n.point) {
            if (pointAt != std::string::npos)
                isPoint = i == pointAt;
            else if (n.point == ' ')
                isPoint = c == ' ' && !whole.empty() && i + 1 < t.size() && isDigit(t[i + 1]);
            else
                isPoint = c == n.point;
        }
        // A typed full stop is a point wherever it cannot be a grouping character.
        if (!point && !isPoint && c == '.' && n.grouping != '.') isPoint = true;
        if (isPoint) {
            point = true;
        } else if (c == '-' || c == '(') {
            negative = true;
        } else if (c == '+') {
            negative = false;
        } else if (scientific && (c == 'e' || c == 'E')) {
            exp = true;
        }
    }
    if (n.implied && !point && n.decimals > 0) {
        std::size_t d = static_cast<std::size_t>(n.decimals);
        if (whole.size() < d) whole.insert(0, d - whole.size(), '0');
        fraction = whole.substr(whole.size() - d);
        whole.erase(whole.size() - d);
    }
    if (whole.empty() && fraction.empty()) return Value(Decimal());
    std::string s = negative ? "-" : "";
    s += whole.empty() ? "0" : whole;
    if (!fraction.empty()) s += "." + fraction;
    if (!exponent.empty()) s += (expNegative ? "e-" : "e") + exponent.substr(0, 6);
    return numberValue(s);
}

Value deformatPattern(std::string_view t, const CompiledPicture& p) {
    std::string digits;
    std::size_t cur = 0;
    for (const auto& q : p.positions) {
        if (cur >= t.size()) break;
        if (q.role == PictureRole::Digit || q.role == PictureRole::BlankDigit) {
            // Characters that are neither digits nor blanks are stepped over.
            while (cur < t.size() && !isDigit(t[cur]) && t[cur] != ' ') ++cur;
            if (cur >= t.size()) break;
            digits += t[cur] == ' ' ? '0' : t[cur];
            ++cur;
        } else if (t[cur] == q.pad) {
            ++cur;
        }
    }
    std::size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) return Value(Decimal());
    return numberValue(digits.substr(lead));
}

Value deformatKeyIn(std::string_view t, const CompiledPicture& p) {
    // Trailing blanks were not typed: a blank field reads back as "", not as the picture's literals.
    t = clipRight(t);
    std::string out;
    std::size_t cur = 0;
    for (const auto& q : p.positions) {
        if (cur >= t.size()) break;
        switch (q.role) {
        case PictureRole::KeyStop:
            break;
        case PictureRole::Literal:
            // The picture's own literal is kept, whether or not it was typed.
            if (t[cur] == q.pad) ++cur;
            out += q.pad;
            break;
        default:
            out += t[cur++];
            break;
        }
    }
    return Value(std::string(clipRight(out)));
}

// A reading cursor over typed text for date and time parts.
struct Cursor {
    std::string_view t;
    std::size_t i = 0;
    bool atEnd() const { return i >= t.size(); }
    char peek() const { return i < t.size() ? t[i] : '\0'; }
    void skipBlanks() {
        while (i < t.size() && (t[i] == ' ' || t[i] == '*' || t[i] == '_')) ++i;
    }
    // The pad after a name, which a "0" fill makes digits.
    void skipPad(char pad) {
        skipBlanks();
        while (pad == '0' && i < t.size() && t[i] == '0') ++i;
        skipBlanks();
    }
    // Up to max digits; answers -1 when there is none.
    int digits(std::size_t max) {
        skipBlanks();
        int v = -1;
        for (std::size_t k = 0; k < max && i < t.size() && isDigit(t[i]); ++k, ++i)
            v = (v < 0 ? 0 : v * 10) + (t[i] - '0');
        return v;
    }
    // Digits of a part that another digit part follows with no separator between ("Hhmm",
    // "yymmdd"): a blank stands for one of its leading-blank positions, so " 609" reads hour 6,
    // minute 9.
    int digitsInPlace(std::size_t max, std::size_t blankPositions) {
        std::size_t before = i;
        skipBlanks();
        std::size_t blanks = std::min(i - before, blankPositions);
        return digits(blanks < max ? max - blanks : 1);
    }
    // A name of the table typed whole or cut to three letters or more, in any case: answers its
    // number and passes over just that much, so that letters the picture puts right after the name
    // are not taken for it. Anything else passes over the letters and answers -1.
    int name(int first, int last, std::string_view (*nameOf)(int)) {
        std::string_view typed = letters();
        int best = -1;
        std::size_t bestLength = 0;
        for (int k = first; k <= last; ++k) {
            std::string_view n = nameOf(k);
            std::size_t common = 0;
            while (common < n.size() && common < typed.size() && upper(n[common]) == upper(typed[common])) {
                // A capital after a small letter starts the next word ("SunDec").
                if (common > 0 && typed[common] != lower(typed[common]) &&
                    typed[common - 1] == lower(typed[common - 1]))
                    break;
                ++common;
            }
            if (common >= 3 && common > bestLength) {
                best = k;
                bestLength = common;
            }
        }
        if (best >= 0) i -= typed.size() - bestLength;
        return best;
    }
    std::string_view letters() {
        skipBlanks();
        std::size_t b = i;
        while (i < t.size() && isAlpha(t[i])) ++i;
        return t.substr(b, i - b);
    }
};

bool sameLetters(std::string_view a, std::string_view b, std::size_t n) {
    if (a.size() < n || b.size() < n) return false;
    for (std::size_t k = 0; k < n; ++k)
        if (upper(a[k]) != upper(b[k])) return false;
    return true;
}

bool isDigitPart(PictureRole r) {
    return r == PictureRole::Month || r == PictureRole::Day || r == PictureRole::Year ||
           r == PictureRole::Hour || r == PictureRole::Minute || r == PictureRole::Second;
}

struct Parts {
    int month = -1, day = -1, year = -1, hour = -1, minute = -1, second = -1;
    bool am = false, pm = false;
    bool hasDay = false, hasMonth = false, hasYear = false;
};

Parts readParts(std::string_view text, const CompiledPicture& p) {
    Parts r;
    Cursor c{text};
    const IntlSettings* intl = nullptr;
    std::size_t i = 0;
    while (i < p.positions.size()) {
        const PicturePosition& q = p.positions[i];
        std::size_t end = i + 1;
        if (isPartRole(q.role))
            while (end < p.positions.size() && p.positions[end].role == q.role) ++end;
        std::size_t len = end - i;
        bool packed = end < p.positions.size() && isDigitPart(p.positions[end].role);
        auto number = [&] {
            if (!packed) return c.digits(len);
            std::size_t blankPositions = 0;
            while (blankPositions + 1 < len && p.positions[i + blankPositions].pad != '0') ++blankPositions;
            return c.digitsInPlace(len, blankPositions);
        };
        switch (q.role) {
        case PictureRole::Month:
            r.hasMonth = true;
            r.month = number();
            break;
        case PictureRole::Day:
            r.hasDay = true;
            r.day = number();
            break;
        case PictureRole::Year:
            r.hasYear = true;
            r.year = number();
            break;
        case PictureRole::Hour:
            r.hour = number();
            break;
        case PictureRole::Minute:
            r.minute = number();
            break;
        case PictureRole::Second:
            r.second = number();
            break;
        case PictureRole::MonthName: {
            r.hasMonth = true;
            int m = c.name(1, 12, monthName);
            if (m > 0) r.month = m;
            c.skipPad(q.pad); // the pad past the end of the name
            break;
        }
        case PictureRole::WeekdayName:
            c.name(0, 6, weekdayName);
            c.skipPad(q.pad);
            break;
        case PictureRole::AmPm: {
            if (!intl) intl = &intlSettings();
            c.skipBlanks();
            std::string_view rest = text.substr(c.i);
            const std::string& am = intl->s1159;
            const std::string& pm = intl->s2359;
            // The longer marker that matches wins; a single letter is enough.
            auto matches = [&](const std::string& m) { return !m.empty() && sameLetters(rest, m, 1); };
            const std::string* hit = nullptr;
            if (matches(pm) && (!matches(am) || sameLetters(rest, pm, std::min(pm.size(), len))))
                hit = &pm;
            else if (matches(am))
                hit = &am;
            if (hit) {
                (hit == &pm ? r.pm : r.am) = true;
                std::size_t n = 1;
                while (n < std::min(hit->size(), len) && n < rest.size() &&
                       upper(rest[n]) == upper((*hit)[n]))
                    ++n;
                c.i += n;
            } else if (am.empty() != pm.empty()) {
                // With only one marker set, a time without it is the other half of the day.
                (pm.empty() ? r.pm : r.am) = true;
            }
            break;
        }
        default:
            // A literal or separator is passed over when it, or any other punctuation, was typed.
            if (!c.atEnd()) {
                char t = c.peek();
                if (upper(t) == upper(q.pad) || (!isDigit(t) && !isAlpha(t))) ++c.i;
            }
            break;
        }
        i = end;
    }
    return r;
}

Value deformatDate(std::string_view text, const CompiledPicture& p) {
    Parts r = readParts(text, p);
    // Nothing typed, or no date shown as zeros ("0000/00/00"), is no date.
    if (r.month <= 0 && r.day <= 0 && r.year <= 0) return Value(std::int64_t{0});
    int year = r.year;
    int today = currentYear();
    if (!r.hasYear) year = today;
    if (year < 0) return Value(std::int64_t{0});
    if (year < 100) year = widenYear(year, p.window, today);
    // A picture without a day or month (some desktop formats) reads the first one.
    int day = r.hasDay ? r.day : 1;
    int month = r.hasMonth ? r.month : 1;
    if (!isValidCivil(year, month, day)) return Value(std::int64_t{0});
    return Value(std::int64_t{dayNumber(year, month, day)});
}

Value deformatTime(std::string_view text, const CompiledPicture& p) {
    Parts r = readParts(text, p);
    if (r.hour < 0 && r.minute < 0 && r.second < 0) return Value(std::int64_t{0});
    int h = r.hour < 0 ? 0 : r.hour, m = r.minute < 0 ? 0 : r.minute, s = r.second < 0 ? 0 : r.second;
    if (r.pm && h < 12)
        h += 12;
    else if (r.am && h == 12)
        h = 0;
    if (h > 23 || m > 59 || s > 59) return Value(std::int64_t{0});
    return Value(std::int64_t{timeNumber(h, m, s)});
}

} // namespace

Value DEFORMAT(std::string_view text, const CompiledPicture& picture) {
    switch (picture.kind) {
    case PictureKind::Invalid:
        return Value(std::string());
    case PictureKind::String:
        return deformatString(text);
    case PictureKind::KeyIn:
        return deformatKeyIn(text, picture);
    case PictureKind::Date:
        return deformatDate(text, picture);
    case PictureKind::Time:
        return deformatTime(text, picture);
    case PictureKind::Numeric:
    case PictureKind::Scientific:
        return deformatNumeric(text, picture);
    case PictureKind::Pattern:
        return deformatPattern(text, picture);
    }
    return Value(std::string());
}

Value DEFORMAT(std::string_view text, std::string_view picture) {
    return DEFORMAT(text, *compilePicture(picture));
}

bool pictureAccepts(std::string_view text, std::string_view picture) {
    const CompiledPicture& p = *compilePicture(picture);
    auto shows = [&](char c) {
        if (isDigit(c) || c == ' ' || c == '-' || c == '+' || c == '(' || c == ')' || c == '.' || c == ',')
            return true;
        if (p.kind == PictureKind::Scientific && (c == 'e' || c == 'E')) return true;
        const NumericLayout& n = p.numeric;
        if ((n.point && c == n.point) || (n.grouping && c == n.grouping) ||
            n.currency.find(c) != std::string::npos)
            return true;
        if (p.kind == PictureKind::Pattern)
            for (const PicturePosition& q : p.positions)
                if (q.pad == c && !isDigit(c)) return true;
        return false;
    };
    switch (p.kind) {
    case PictureKind::Date:
    case PictureKind::Time: {
        if (DEFORMAT(text, p).toLong() != 0) return true;
        // No date at all is a value (blank, or zeros as a date shows none); anything else that
        // reads as no date names a day or time that does not exist.
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return !isDigit(c) && !isAlpha(c) ? true : c == '0'; });
    }
    case PictureKind::Numeric:
    case PictureKind::Scientific:
    case PictureKind::Pattern:
        return std::all_of(text.begin(), text.end(), shows);
    default:
        return true;
    }
}

} // namespace sorv
