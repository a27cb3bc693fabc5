// A value of the language as expressions, pictures and field references pass it around: a whole
// number, a binary real, an exact decimal or a text.
#pragma once
#include "runtime/decimal.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace sorv {

class Value {
public:
    enum class Kind { Long, Real, Decimal, Text };

    Value() : v_(std::int64_t{0}) {}
    Value(int v) : v_(std::int64_t{v}) {}
    Value(std::int64_t v) : v_(v) {}
    Value(double v) : v_(v) {}
    Value(const Decimal& v) : v_(v) {}
    Value(std::string v) : v_(std::move(v)) {}
    Value(std::string_view v) : v_(std::string(v)) {}
    Value(const char* v) : v_(std::string(v)) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNumber() const { return kind() != Kind::Text; }
    bool isText() const { return kind() == Kind::Text; }

    // Conversions as the language makes them: a text converts by its leading number (blanks
    // skipped, "" and non-numbers are 0); numbers convert to text in plain decimal.
    std::int64_t toLong() const;
    double toReal() const;
    Decimal toDecimal() const;
    std::string toText() const;
    // The text itself for a text value (no conversion); empty for numbers.
    const std::string& text() const;

    // Whether a text holds a number as a whole (blanks around it allowed).
    static bool isNumeric(std::string_view text);

private:
    std::variant<std::int64_t, double, Decimal, std::string> v_;
};

// Language comparison: two numbers numerically (exactly unless one is a binary real); two texts
// byte by byte without their trailing blanks; a number and a text numerically when the text is a
// number, else as texts. Answers -1, 0 or 1.
int compare(const Value& a, const Value& b);

// Text comparison without trailing blanks, as STRING fields compare.
int compareText(std::string_view a, std::string_view b);
std::string_view clipRight(std::string_view s);

} // namespace sorv
