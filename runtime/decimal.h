// Exact decimal numbers for DECIMAL and PDECIMAL fields: a signed mantissa of up to 31 digits and a
// scale (digits after the point). Arithmetic and comparison never go through binary floating point.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sorv {

class Decimal {
public:
    static constexpr int MaxDigits = 31;

    Decimal() = default;
    Decimal(std::int64_t v) : mant_(v) {}
    // mantissa * 10^-scale; scale 0..31.
    static Decimal fromParts(__int128 mantissa, int scale);
    // Any scale (negative too) brought into range: the fraction rounded to fit 31 digits, a whole
    // part beyond 31 digits saturated with the overflow mark.
    static Decimal fromRaw(__int128 mantissa, int scale, bool overflow = false);
    // Plain decimal text: optional blanks, sign, digits with at most one point, optional exponent
    // ("1.5e3"). Answers nothing for anything else or for more than 31 significant digits after
    // rounding the fraction away.
    static std::optional<Decimal> parse(std::string_view text);
    // The exact value of the shortest text that reads back as d (17 significant digits at most).
    static Decimal fromDouble(double d);

    __int128 mantissa() const { return mant_; }
    int scale() const { return scale_; }
    bool isZero() const { return mant_ == 0; }
    bool isNegative() const { return mant_ < 0; }
    int sign() const { return mant_ < 0 ? -1 : (mant_ > 0 ? 1 : 0); }

    // Plain text: "-12.5", "0", "3" (trailing zeros after the point dropped, no exponent).
    std::string toString() const;
    // Exactly `places` digits after the point, rounded half away from zero.
    std::string toFixed(int places) const;
    double toDouble() const;
    // Truncated toward zero, saturated at the int64 range.
    std::int64_t toInt64() const;

    // Rounded (half away from zero) or truncated to `places` digits after the point.
    Decimal rounded(int places) const;
    Decimal truncated(int places) const;
    // Drops trailing fraction zeros.
    Decimal normalized() const;
    Decimal abs() const { return mant_ < 0 ? Decimal::fromParts(-mant_, scale_) : *this; }
    Decimal operator-() const { return Decimal::fromParts(-mant_, scale_); }

    // Results are exact where they fit in 31 digits; otherwise the fraction is rounded to fit, and
    // a whole part beyond 31 digits saturates (overflowed() tells).
    friend Decimal operator+(const Decimal& a, const Decimal& b);
    friend Decimal operator-(const Decimal& a, const Decimal& b);
    friend Decimal operator*(const Decimal& a, const Decimal& b);
    // Division by zero answers zero with the overflow mark set.
    friend Decimal operator/(const Decimal& a, const Decimal& b);
    bool overflowed() const { return overflow_; }

    friend int compare(const Decimal& a, const Decimal& b);
    friend bool operator==(const Decimal& a, const Decimal& b) { return compare(a, b) == 0; }
    friend bool operator<(const Decimal& a, const Decimal& b) { return compare(a, b) < 0; }
    friend bool operator>(const Decimal& a, const Decimal& b) { return compare(a, b) > 0; }
    friend bool operator<=(const Decimal& a, const Decimal& b) { return compare(a, b) <= 0; }
    friend bool operator>=(const Decimal& a, const Decimal& b) { return compare(a, b) >= 0; }

private:
    __int128 mant_ = 0;
    std::int8_t scale_ = 0;
    bool overflow_ = false;
};

// Packed storage of DECIMAL(digits, places) and PDECIMAL(digits, places): digits / 2 + 1 bytes.
// DECIMAL keeps the sign in the first nibble (0 positive, 0xF negative) and the digits after it;
// PDECIMAL keeps the digits first and the sign in the last nibble (0xC positive, 0xD negative).
int packedSize(int digits);
// Stores d rounded to `places`; answers false (and stores the low digits) when it does not fit.
bool packDecimal(const Decimal& d, int digits, int places, std::span<std::uint8_t> out, bool pdecimal);
Decimal unpackDecimal(std::span<const std::uint8_t> in, int digits, int places, bool pdecimal);

} // namespace sorv
