// The string and long thumb steps.
#include "framework/steps.h"

#include <algorithm>
#include <array>
#include <limits>

namespace sorv::fw {

namespace {

// How surnames fall over the alphabet: entry n starts the n-th hundredth of a typical list.
constexpr std::array<const char*, StepEntries> NameTable = {
    "   ", "ALB", "AME", "ARN", "BAK", "BAT", "BEN", "BIA", "BOB", "BRA", "BRO", "BUA", "CAC", "CAR", "CEN",
    "CHR", "COE", "CON", "COR", "CRU", "DAS", "DEL", "DIA", "DON", "DUR", "ELD", "EVE", "FEL", "FIS", "FLO",
    "FRE", "FUT", "GAR", "GIB", "GOL", "GOS", "GRE", "GUT", "HAM", "HEM", "HOB", "HOT", "ING", "JAS", "JON",
    "KAG", "KEA", "KIR", "KOR", "KYO", "LAT", "LEO", "LIG", "LOU", "MAC", "MAQ", "MAR", "MAU", "MCK", "MER",
    "MIL", "MON", "MOR", "NAT", "NOL", "OKE", "PAG", "PAU", "PET", "PIN", "POR", "PUL", "RAU", "REY", "ROB",
    "ROS", "RUB", "SAL", "SCA", "SCH", "SCR", "SHA", "SIG", "SKI", "SNA", "SOU", "STE", "STI", "SUN", "TAY",
    "TIR", "TUC", "VAN", "WAC", "WAS", "WEI", "WIE", "WIM", "WOL", "YOR",
};

// Each letter at its quarter points ("B ", "BF", "BN", "BT"), after two blanks; A starts at its
// first quarter, and the rare Q and Z have only two points each.
std::string alphabetTable() {
    std::string t = "  ";
    for (char c = 'A'; c <= 'Z'; ++c) {
        const char* points = c == 'A' ? "FNT" : c == 'Q' || c == 'Z' ? " N" : " FNT";
        for (const char* p = points; *p; ++p) {
            t += c;
            t += *p;
        }
    }
    return t;
}

// The punctuation that joins the character set with the Punctuation bit (the pound sign as its
// single-byte code).
constexpr std::string_view StepPunctuation = "`!\"\xA3$%^&*()'-=_+][#;~@:/.,?\\| ";

constexpr std::size_t MaxRoot = 40;
constexpr std::size_t MaxCompared = 80;
constexpr int Places = 4; // characters after ROOT that make up a mode-3 number

bool isUpper(int c) {
    return c >= 'A' && c <= 'Z';
}
bool isLower(int c) {
    return c >= 'a' && c <= 'z';
}

std::string padded(std::string s, std::size_t width) {
    s.resize(width, ' ');
    return s;
}

int mirrored(int percent, std::uint8_t controls) {
    return controls & stepctl::Descending ? 100 - percent : percent;
}

} // namespace

// ---- string step ----

void StringStep::Init(std::uint8_t controls, std::uint8_t mode) {
    CONTROLS = controls;
    LOOKUPMODE = mode;
    ROOT.clear();
    SORTCHARS.clear();
    switch (mode) {
    case StepNames:
        TESTLEN = 3;
        REF.clear();
        for (const char* e : NameTable) REF += e;
        break;
    case StepAlphabet:
        TESTLEN = 2;
        REF = alphabetTable();
        break;
    default:
        LOOKUPMODE = StepBetweenLimits;
        TESTLEN = Places;
        REF.assign(std::size_t(StepEntries) * Places, ' ');
        for (int c = 1; c <= 255; ++c) {
            const bool punct = c != 0 && StepPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
            const bool digit = c >= '0' && c <= '9';
            const bool letter = isUpper(c) || (isLower(c) && (controls & stepctl::KeepCase));
            if ((punct && (controls & stepctl::Punctuation)) || (digit && (controls & stepctl::Digits)) ||
                (letter && (controls & stepctl::Letters)))
                SORTCHARS += static_cast<char>(c);
        }
        break;
    }
}

std::string StringStep::entry(int n) const {
    n = std::clamp(n, 1, StepEntries);
    const std::size_t at = std::size_t(n - 1) * TESTLEN;
    return at < REF.size() ? REF.substr(at, TESTLEN) : std::string(TESTLEN, ' ');
}

std::string StringStep::prepared(const Value& v) const {
    std::string s(clipRight(v.toText()));
    if (!(CONTROLS & stepctl::KeepCase))
        for (char& c : s)
            if (isLower(static_cast<unsigned char>(c))) c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::int64_t StringStep::numberOf(const std::string& text) const {
    const std::int64_t base = static_cast<std::int64_t>(SORTCHARS.size()) + 1;
    std::int64_t n = 0;
    for (int i = 0; i < Places; ++i) {
        std::int64_t digit = 0;
        if (static_cast<std::size_t>(i) < text.size()) {
            const std::size_t at = SORTCHARS.find(text[static_cast<std::size_t>(i)]);
            if (at != std::string::npos) digit = static_cast<std::int64_t>(at) + 1;
        }
        n = n * base + digit;
    }
    return n;
}

std::string StringStep::textOf(std::int64_t number) const {
    const std::int64_t base = static_cast<std::int64_t>(SORTCHARS.size()) + 1;
    std::string s(Places, ' ');
    for (int i = Places - 1; i >= 0; --i) {
        const std::int64_t digit = number % base;
        number /= base;
        if (digit > 0) s[static_cast<std::size_t>(i)] = SORTCHARS[static_cast<std::size_t>(digit - 1)];
    }
    return s;
}

void StringStep::SetStepLimits(const Value& low, const Value& high) {
    if (LOOKUPMODE != StepBetweenLimits) return; // the built-in tables never change
    const std::string lo = prepared(low), hi = prepared(high);
    std::size_t common = 0;
    while (common < lo.size() && common < hi.size() && common < MaxRoot && lo[common] == hi[common]) ++common;
    ROOT = lo.substr(0, common);
    std::int64_t a = numberOf(lo.substr(common)), b = numberOf(hi.substr(common));
    // A descending order hands its limits over high first; the table always ascends.
    if (a > b) std::swap(a, b);
    REF.clear();
    for (int i = 0; i < StepEntries; ++i) REF += textOf(a + (b - a) * i / StepEntries);
}

std::uint8_t StringStep::ThumbPercentOf(const Value& value) {
    // Compared whole with ROOT in front of each entry, so a value that does not share the prefix
    // still lands before the first or after the last entry.
    const std::size_t width = std::min(ROOT.size() + TESTLEN + 1, ROOT.size() + MaxCompared);
    const std::string v = padded(prepared(value).substr(0, width), width);
    int count = 0;
    while (count < StepEntries && padded(ROOT + entry(count + 1), width) <= v) ++count;
    return static_cast<std::uint8_t>(std::max(1, mirrored(count, CONTROLS)));
}

Value StringStep::ValueAtPercent(int percent) {
    percent = std::max(1, mirrored(std::clamp(percent, 0, 100), CONTROLS));
    return Value(ROOT + entry(percent));
}

void StringStep::Kill() {
    REF.clear();
    ROOT.clear();
    SORTCHARS.clear();
}

// ---- long step ----

void LongStep::SetStepLimits(const Value& low, const Value& high) {
    auto whole = [](const Value& v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(
            v.toLong(), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    };
    LOW = whole(low);
    HIGH = whole(high);
    if (CONTROLS & stepctl::Descending) std::swap(LOW, HIGH);
}

std::uint8_t LongStep::ThumbPercentOf(const Value& value) {
    if (LOW == HIGH) return 50;
    // Multiplied before it is divided, in 64 bits: 100 / (HIGH - LOW) first is 0 for any range
    // over 100. The value is kept within the limits so the result stays within 0 to 100.
    const std::int64_t lo = LOW, hi = HIGH;
    const std::int64_t v = std::clamp<std::int64_t>(value.toLong(), std::min(lo, hi), std::max(lo, hi));
    const int p = static_cast<int>((v - lo) * 100 / (hi - lo));
    return static_cast<std::uint8_t>(std::clamp(mirrored(p, CONTROLS), 1, 100));
}

Value LongStep::ValueAtPercent(int percent) {
    const std::int64_t p = mirrored(std::clamp(percent, 0, 100), CONTROLS);
    const std::int64_t lo = LOW, hi = HIGH;
    return Value(lo + (hi - lo) * p / 100);
}

} // namespace sorv::fw
