// Exact decimal arithmetic over a 128-bit mantissa, and the packed field encodings.
#include "runtime/decimal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace sorv {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr i128 pow10(int n) {
    i128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

const i128 kLimit = pow10(Decimal::MaxDigits); // mantissas stay below this in magnitude

int digitCount(i128 v) {
    u128 u = v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v);
    int n = 0;
    while (u) {
        u /= 10;
        ++n;
    }
    return n;
}

// Divides by 10^n rounding half away from zero.
i128 roundDiv(i128 v, int n) {
    if (n <= 0) return v;
    if (n > 38) return 0;
    i128 p = pow10(n);
    i128 q = v / p, r = v % p;
    if (r < 0) r = -r;
    if (r * 2 >= p) q += v < 0 ? -1 : 1;
    return q;
}

} // namespace

Decimal Decimal::fromRaw(i128 m, int scale, bool overflow) {
    if (scale > Decimal::MaxDigits) {
        m = roundDiv(m, scale - Decimal::MaxDigits);
        scale = Decimal::MaxDigits;
    }
    while (scale > 0 && (m >= kLimit || m <= -kLimit)) {
        m = roundDiv(m, 1);
        --scale;
    }
    while (scale < 0) {
        if (m >= kLimit / 10 || m <= -kLimit / 10) {
            overflow = true;
            m = m < 0 ? -(kLimit - 1) : kLimit - 1;
            scale = 0;
            break;
        }
        m *= 10;
        ++scale;
    }
    if (m >= kLimit || m <= -kLimit) {
        overflow = true;
        m = m < 0 ? -(kLimit - 1) : kLimit - 1;
    }
    Decimal d = Decimal::fromParts(m, scale);
    d.overflow_ = overflow;
    return d;
}

namespace {

// Aligns two values to a common scale without overflowing; may round the finer one.
void align(const Decimal& a, const Decimal& b, i128& ma, i128& mb, int& scale) {
    ma = a.mantissa();
    mb = b.mantissa();
    int sa = a.scale(), sb = b.scale();
    scale = std::max(sa, sb);
    // 31 + 31 digits would not fit; 10^31 * 10^7 still does (2^127 ~ 1.7e38).
    while (scale > std::min(sa, sb) && (digitCount(sa < scale ? ma : mb) + (scale - std::min(sa, sb)) > 37)) {
        if (sa > sb) {
            ma = roundDiv(ma, 1);
            --sa;
        } else {
            mb = roundDiv(mb, 1);
            --sb;
        }
        scale = std::max(sa, sb);
    }
    for (; sa < scale; ++sa) ma *= 10;
    for (; sb < scale; ++sb) mb *= 10;
}

} // namespace

Decimal Decimal::fromParts(i128 mantissa, int scale) {
    Decimal d;
    d.mant_ = mantissa;
    d.scale_ = static_cast<std::int8_t>(std::clamp(scale, 0, MaxDigits));
    return d;
}

std::optional<Decimal> Decimal::parse(std::string_view s) {
    std::size_t i = 0, n = s.size();
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
    bool neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    i128 m = 0;
    int digits = 0, scale = 0, dropped = 0;
    bool any = false, point = false, roundUp = false;
    for (; i < n; ++i) {
        char c = s[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        any = true;
        if (digits == 0 && c == '0') {
            if (point) ++scale;
            continue;
        }
        if (digits < 37) {
            m = m * 10 + (c - '0');
            ++digits;
            if (point) ++scale;
        } else {
            // digits past what the mantissa can hold: fraction digits are rounded away, whole
            // digits scale the number up.
            if (dropped == 0 && point) roundUp = c >= '5';
            if (!point) ++dropped;
        }
    }
    if (!any) return std::nullopt;
    int exp = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool eneg = false;
        if (j < n && (s[j] == '+' || s[j] == '-')) eneg = s[j++] == '-';
        if (j >= n || s[j] < '0' || s[j] > '9') return std::nullopt;
        for (; j < n && s[j] >= '0' && s[j] <= '9'; ++j) exp = std::min(exp * 10 + (s[j] - '0'), 1000);
        if (eneg) exp = -exp;
        i = j;
    }
    if (i != n) return std::nullopt;
    if (roundUp) m += 1;
    if (neg) m = -m;
    int sc = scale - exp - dropped;
    if (sc < -Decimal::MaxDigits) return std::nullopt;
    Decimal d = Decimal::fromRaw(m, sc, false);
    if (d.overflowed() || digitCount(d.mant_) - d.scale_ > MaxDigits) return std::nullopt;
    return d.normalized();
}

Decimal Decimal::fromDouble(double v) {
    if (!std::isfinite(v)) return Decimal();
    char buf[64];
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*e", prec - 1, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    auto d = parse(buf);
    if (!d) {
        Decimal big = fromParts(v < 0 ? -(kLimit - 1) : kLimit - 1, 0);
        big.overflow_ = true;
        return big;
    }
    return *d;
}

std::string Decimal::toString() const {
    return normalized().toFixed(normalized().scale_);
}

std::string Decimal::toFixed(int places) const {
    places = std::clamp(places, 0, MaxDigits);
    Decimal r = rounded(places);
    i128 m = r.mant_;
    for (int s = r.scale_; s < places; ++s) m *= 10;
    bool neg = m < 0;
    u128 u = neg ? static_cast<u128>(-m) : static_cast<u128>(m);
    std::string digits;
    while (u) {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    }
    if (static_cast<int>(digits.size()) <= places)
        digits.insert(0, static_cast<std::size_t>(places + 1) - digits.size(), '0');
    if (places > 0) digits.insert(digits.size() - static_cast<std::size_t>(places), ".");
    if (neg) digits.insert(digits.begin(), '-');
    return digits;
}

double Decimal::toDouble() const {
    return std::strtod(toString().c_str(), nullptr);
}

std::int64_t Decimal::toInt64() const {
    i128 w = mant_ / pow10(scale_);
    if (w > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (w < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(w);
}

Decimal Decimal::rounded(int places) const {
    places = std::clamp(places, 0, MaxDigits);
    if (places >= scale_) return *this;
    Decimal d = fromParts(roundDiv(mant_, scale_ - places), places);
    d.overflow_ = overflow_;
    return d;
}

Decimal Decimal::truncated(int places) const {
    places = std::clamp(places, 0, MaxDigits);
    if (places >= scale_) return *this;
    Decimal d = fromParts(mant_ / pow10(scale_ - places), places);
    d.overflow_ = overflow_;
    return d;
}

Decimal Decimal::normalized() const {
    Decimal d = *this;
    while (d.scale_ > 0 && d.mant_ % 10 == 0) {
        d.mant_ /= 10;
        --d.scale_;
    }
    return d;
}

Decimal operator+(const Decimal& a, const Decimal& b) {
    i128 ma, mb;
    int s;
    align(a, b, ma, mb, s);
    Decimal r = Decimal::fromRaw(ma + mb, s, a.overflow_ || b.overflow_);
    return r;
}

Decimal operator-(const Decimal& a, const Decimal& b) {
    return a + (-b);
}

Decimal operator*(const Decimal& a, const Decimal& b) {
    i128 ma = a.mant_, mb = b.mant_;
    int sa = a.scale_, sb = b.scale_;
    // Keep the product within 38 digits by rounding away fraction digits of the finer operand.
    while (digitCount(ma) + digitCount(mb) > 38 && (sa > 0 || sb > 0)) {
        if (sa >= sb) {
            ma = roundDiv(ma, 1);
            --sa;
        } else {
            mb = roundDiv(mb, 1);
            --sb;
        }
    }
    bool over = a.overflow_ || b.overflow_;
    if (digitCount(ma) + digitCount(mb) > 38) {
        Decimal r = Decimal::fromParts((ma < 0) != (mb < 0) ? -(kLimit - 1) : kLimit - 1, 0);
        r.overflow_ = true;
        return r;
    }
    Decimal r = Decimal::fromRaw(ma * mb, sa + sb, over);
    return r;
}

Decimal operator/(const Decimal& a, const Decimal& b) {
    if (b.mant_ == 0) {
        Decimal r;
        r.overflow_ = true;
        return r;
    }
    // Scale the dividend up as far as it goes, divide, round the last digit.
    i128 num = a.mant_;
    int k = 0;
    while (digitCount(num) < 37 && k < 40) {
        num *= 10;
        ++k;
    }
    i128 q = num / b.mant_;
    i128 r = num % b.mant_;
    i128 absr = r < 0 ? -r : r, absb = b.mant_ < 0 ? -b.mant_ : b.mant_;
    if (absr * 2 >= absb) q += ((num < 0) != (b.mant_ < 0)) ? -1 : 1;
    Decimal res = Decimal::fromRaw(q, a.scale_ + k - b.scale_, a.overflow_ || b.overflow_);
    return res.normalized();
}

int compare(const Decimal& a, const Decimal& b) {
    if (a.sign() != b.sign()) return a.sign() < b.sign() ? -1 : 1;
    i128 ma = a.mant_, mb = b.mant_;
    int sa = a.scale_, sb = b.scale_;
    // Compare whole parts first so that scaling never overflows.
    i128 wa = ma / pow10(sa), wb = mb / pow10(sb);
    if (wa != wb) return wa < wb ? -1 : 1;
    i128 fa = ma - wa * pow10(sa), fb = mb - wb * pow10(sb); // fractions, same sign
    int s = std::max(sa, sb);
    for (; sa < s; ++sa) fa *= 10;
    for (; sb < s; ++sb) fb *= 10;
    return fa < fb ? -1 : (fa > fb ? 1 : 0);
}

int packedSize(int digits) {
    return std::max(digits, 0) / 2 + 1;
}

bool packDecimal(const Decimal& d, int digits, int places, std::span<std::uint8_t> out, bool pdecimal) {
    int size = packedSize(digits);
    if (static_cast<int>(out.size()) < size) return false;
    Decimal r = d.rounded(places);
    i128 m = r.mantissa();
    for (int s = r.scale(); s < places; ++s) {
        if (m >= kLimit / 10 || m <= -kLimit / 10) return false;
        m *= 10;
    }
    bool neg = m < 0;
    u128 u = neg ? static_cast<u128>(-m) : static_cast<u128>(m);
    int nibbles = size * 2;
    std::fill(out.begin(), out.begin() + size, 0);
    auto put = [&](int idx, int v) {
        std::uint8_t& byte = out[static_cast<std::size_t>(idx / 2)];
        if (idx % 2 == 0)
            byte = static_cast<std::uint8_t>((byte & 0x0F) | (v << 4));
        else
            byte = static_cast<std::uint8_t>((byte & 0xF0) | v);
    };
    int first = pdecimal ? 0 : 1, last = pdecimal ? nibbles - 2 : nibbles - 1;
    for (int idx = last; idx >= first; --idx) {
        put(idx, static_cast<int>(u % 10));
        u /= 10;
    }
    bool fits = u == 0;
    bool stillNeg = neg && !(r.mantissa() == 0);
    if (pdecimal)
        put(nibbles - 1, stillNeg ? 0xD : 0xC);
    else
        put(0, stillNeg ? 0xF : 0x0);
    return fits;
}

Decimal unpackDecimal(std::span<const std::uint8_t> in, int digits, int places, bool pdecimal) {
    int size = std::min<int>(packedSize(digits), static_cast<int>(in.size()));
    int nibbles = size * 2;
    auto get = [&](int idx) {
        std::uint8_t byte = in[static_cast<std::size_t>(idx / 2)];
        return idx % 2 == 0 ? byte >> 4 : byte & 0x0F;
    };
    i128 m = 0;
    int first = pdecimal ? 0 : 1, last = pdecimal ? nibbles - 2 : nibbles - 1;
    for (int idx = first; idx <= last; ++idx) {
        int v = get(idx);
        m = m * 10 + (v > 9 ? 9 : v); // a corrupt nibble reads as 9, never out of range
    }
    int signNib = size > 0 ? get(pdecimal ? nibbles - 1 : 0) : 0;
    bool neg = pdecimal ? (signNib == 0xD || signNib == 0xB) : signNib != 0;
    return Decimal::fromParts(neg ? -m : m, places);
}

} // namespace sorv
