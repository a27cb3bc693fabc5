// Conversions and comparison of language values.
#include "runtime/value.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace sorv {

namespace {
// The leading number of a text, as the language reads "12abc" (12) or "  -3.5" (-3.5).
Decimal leadingNumber(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t j = i;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    bool point = false;
    while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || (s[j] == '.' && !point))) {
        point = point || s[j] == '.';
        ++j;
    }
    auto d = Decimal::parse(s.substr(i, j - i));
    return d ? *d : Decimal();
}

std::string realText(double d) {
    if (std::isnan(d)) return "0";
    if (std::isinf(d)) return d < 0 ? "-1e308" : "1e308";
    return Decimal::fromDouble(d).toString();
}
} // namespace

std::int64_t Value::toLong() const {
    switch (kind()) {
    case Kind::Long:
        return std::get<std::int64_t>(v_);
    case Kind::Real: {
        double d = std::get<double>(v_);
        if (!(d == d)) return 0;
        if (d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
        if (d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(d);
    }
    case Kind::Decimal:
        return std::get<Decimal>(v_).toInt64();
    case Kind::Text:
        return leadingNumber(std::get<std::string>(v_)).toInt64();
    }
    return 0;
}

double Value::toReal() const {
    switch (kind()) {
    case Kind::Long:
        return static_cast<double>(std::get<std::int64_t>(v_));
    case Kind::Real:
        return std::get<double>(v_);
    case Kind::Decimal:
        return std::get<Decimal>(v_).toDouble();
    case Kind::Text:
        return leadingNumber(std::get<std::string>(v_)).toDouble();
    }
    return 0;
}

Decimal Value::toDecimal() const {
    switch (kind()) {
    case Kind::Long:
        return Decimal(std::get<std::int64_t>(v_));
    case Kind::Real:
        return Decimal::fromDouble(std::get<double>(v_));
    case Kind::Decimal:
        return std::get<Decimal>(v_);
    case Kind::Text:
        return leadingNumber(std::get<std::string>(v_));
    }
    return Decimal();
}

std::string Value::toText() const {
    switch (kind()) {
    case Kind::Long:
        return std::to_string(std::get<std::int64_t>(v_));
    case Kind::Real:
        return realText(std::get<double>(v_));
    case Kind::Decimal:
        return std::get<Decimal>(v_).toString();
    case Kind::Text:
        return std::get<std::string>(v_);
    }
    return {};
}

const std::string& Value::text() const {
    static const std::string empty;
    return isText() ? std::get<std::string>(v_) : empty;
}

bool Value::isNumeric(std::string_view t) {
    return Decimal::parse(t).has_value();
}

std::string_view clipRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return s.substr(0, n);
}

int compareText(std::string_view a, std::string_view b) {
    a = clipRight(a);
    b = clipRight(b);
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int compare(const Value& a, const Value& b) {
    if (a.isText() && b.isText()) return compareText(a.text(), b.text());
    if (a.isText() != b.isText()) {
        const Value& t = a.isText() ? a : b;
        if (!Value::isNumeric(t.text())) return compareText(a.toText(), b.toText());
    }
    if (a.kind() == Value::Kind::Real || b.kind() == Value::Kind::Real) {
        double x = a.toReal(), y = b.toReal();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (a.kind() == Value::Kind::Long && b.kind() == Value::Kind::Long) {
        auto x = a.toLong(), y = b.toLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    return compare(a.toDecimal(), b.toDecimal());
}

} // namespace sorv
