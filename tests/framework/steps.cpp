// Thumb steps on their own: the built-in tables at their known points, the character set and
// the table built between two limits (prefix, numbering, round trips), the long step's scale over
// small, large and descending ranges.
#include "framework/steps.h"
#include "framework/locators.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::fw;

namespace {

StringStep step(std::uint8_t controls, std::uint8_t mode) {
    StringStep s;
    s.Init(controls, mode);
    return s;
}

// Every entry strictly greater than the one before it.
void expectAscending(const StringStep& s) {
    for (int n = 2; n <= StepEntries; ++n) EXPECT_LT(s.entry(n - 1), s.entry(n)) << "entry " << n;
}

} // namespace

TEST(StringStep, NameTableAtItsKnownPoints) {
    StringStep s = step(stepctl::Letters, StepNames);
    EXPECT_EQ(s.TESTLEN, 3);
    EXPECT_EQ(s.REF.size(), 300u);
    EXPECT_FALSE(s.NeedsStepLimits());
    expectAscending(s);
    EXPECT_EQ(s.ValueAtPercent(50).toText(), "KYO");
    EXPECT_EQ(s.ValueAtPercent(100).toText(), "YOR");
    EXPECT_EQ(s.ValueAtPercent(0).toText(), "   ") << "0 counts as 1";
    EXPECT_EQ(s.ThumbPercentOf(Value("Smith")), 84) << "the entries up to SKI";
    EXPECT_EQ(s.ThumbPercentOf(Value("SMITH               ")), 84) << "trailing blanks do not count";
    EXPECT_EQ(s.ThumbPercentOf(Value("")), 1);
    EXPECT_EQ(s.ThumbPercentOf(Value("Zimmer")), 100);
    EXPECT_EQ(s.ThumbPercentOf(Value("KYO")), 50) << "an entry itself is not greater than the value";
    EXPECT_EQ(s.ThumbPercentOf(Value("KY")), 49) << "a short value compares padded with blanks";
    // The limits of a browse leave a fixed table alone.
    s.SetStepLimits(Value("AAA"), Value("BBB"));
    EXPECT_EQ(s.ValueAtPercent(50).toText(), "KYO");

    StringStep d = step(stepctl::Letters | stepctl::Descending, StepNames);
    EXPECT_EQ(d.ThumbPercentOf(Value("Smith")), 16);
    EXPECT_EQ(d.ThumbPercentOf(Value("Zimmer")), 1) << "the top of a descending list";
    EXPECT_EQ(d.ValueAtPercent(16).toText(), "SKI");
    EXPECT_EQ(d.ValueAtPercent(100).toText(), "   ");
}

TEST(StringStep, AlphabetTableAtItsKnownPoints) {
    StringStep s = step(stepctl::Letters, StepAlphabet);
    EXPECT_EQ(s.TESTLEN, 2);
    ASSERT_EQ(s.REF.size(), 200u);
    expectAscending(s);
    EXPECT_EQ(s.entry(1), "  ");
    EXPECT_EQ(s.entry(2), "AF");
    EXPECT_EQ(s.entry(5), "B ");
    EXPECT_EQ(s.entry(8), "BT");
    EXPECT_EQ(s.ThumbPercentOf(Value("M")), 49) << "the entries up to \"M \"";
    EXPECT_EQ(s.ThumbPercentOf(Value("A")), 1);
    EXPECT_EQ(s.ThumbPercentOf(Value("ZZ TOP")), 100);
    EXPECT_EQ(s.ThumbPercentOf(Value("mallory")), 49) << "compared upper-cased";
    // Q and Z have two points each, and Z ends the table.
    const std::size_t q = s.REF.find("Q ");
    ASSERT_NE(q, std::string::npos);
    EXPECT_EQ(s.REF.substr(q, 6), "Q QNR ");
    EXPECT_EQ(s.entry(99), "Z ");
    EXPECT_EQ(s.entry(100), "ZN");
}

TEST(StringStep, CharacterSetFollowsTheControlBits) {
    EXPECT_EQ(step(stepctl::Letters, StepBetweenLimits).SORTCHARS, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(step(stepctl::Digits, StepBetweenLimits).SORTCHARS, "0123456789");
    EXPECT_EQ(step(stepctl::Letters | stepctl::KeepCase, StepBetweenLimits).SORTCHARS,
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // Punctuation: thirty distinct characters, in ascending code order, the space first.
    const std::string p = step(stepctl::Punctuation, StepBetweenLimits).SORTCHARS;
    EXPECT_EQ(p, " !\"#$%&'()*+,-./:;=?@[\\]^_`|~\xA3");
    EXPECT_EQ(
        step(stepctl::Letters | stepctl::Punctuation | stepctl::Digits | stepctl::KeepCase, StepBetweenLimits)
            .SORTCHARS.size(),
        92u);
    EXPECT_TRUE(step(stepctl::Letters, StepBetweenLimits).NeedsStepLimits());
}

TEST(StringStep, NumbersOfDifferentTextsNeverMeet) {
    StringStep s = step(stepctl::Letters, StepBetweenLimits);
    // Counting each letter from 1 in base 26 would make "AZ" (1, 26) the same number as "B".
    EXPECT_LT(s.numberOf("AZ"), s.numberOf("B"));
    EXPECT_LT(s.numberOf("A"), s.numberOf("AA"));
    EXPECT_LT(s.numberOf("ZZZY"), s.numberOf("ZZZZ"));
    for (std::string t : {"A", "AZ", "ZZZZ", "M N", "QX"}) {
        // A character outside the set counts as nothing, like a blank.
        std::string back = s.textOf(s.numberOf(t));
        t.resize(4, ' ');
        EXPECT_EQ(back, t);
    }
    EXPECT_EQ(s.numberOf("A-B"), s.numberOf("A B"));
}

TEST(StringStep, TableBetweenLimitsRoundTrips) {
    StringStep s = step(stepctl::Letters, StepBetweenLimits);
    s.SetStepLimits(Value("Smith               "), Value("SMYTHE"));
    EXPECT_EQ(s.ROOT, "SM");
    EXPECT_EQ(s.entry(1), "ITH ");
    EXPECT_LT(s.entry(100), "YTHE");
    expectAscending(s);
    for (int p = 1; p <= 100; ++p) {
        const std::string v = s.ValueAtPercent(p).toText();
        EXPECT_EQ(v.substr(0, 2), "SM");
        for (char c : v.substr(2)) EXPECT_TRUE(c == ' ' || (c >= 'A' && c <= 'Z')) << v;
        EXPECT_EQ(s.ThumbPercentOf(Value(v)), p) << v;
    }
    EXPECT_EQ(s.ThumbPercentOf(Value("smith")), 1);
    EXPECT_EQ(s.ThumbPercentOf(Value("SMYTHE")), 100);
    EXPECT_EQ(s.ThumbPercentOf(Value("ADAMS")), 1) << "before the prefix";
    EXPECT_EQ(s.ThumbPercentOf(Value("TAYLOR")), 100) << "after the prefix";

    // Over the whole alphabet, a name falls where its letters put it.
    s.SetStepLimits(Value("ABBOTT"), Value("ZYGMUNT"));
    EXPECT_EQ(s.ROOT, "");
    expectAscending(s);
    EXPECT_NEAR(s.ThumbPercentOf(Value("MILLER")), 50, 3);
    // A descending order hands the limits over the other way round; the table is the same and
    // the thumb is mirrored.
    StringStep d = step(stepctl::Letters | stepctl::Descending, StepBetweenLimits);
    d.SetStepLimits(Value("ZYGMUNT"), Value("ABBOTT"));
    EXPECT_EQ(d.REF, s.REF);
    EXPECT_EQ(d.ThumbPercentOf(Value("ZYGMUNT")), 1);
    EXPECT_EQ(d.ThumbPercentOf(Value(d.ValueAtPercent(30).toText())), 30);

    // The prefix stops at 40 characters.
    const std::string common(45, 'Q');
    s.SetStepLimits(Value(common + "A"), Value(common + "B"));
    EXPECT_EQ(s.ROOT.size(), 40u);
    // Lower case is kept only with its bit.
    StringStep k = step(stepctl::Letters | stepctl::KeepCase, StepBetweenLimits);
    k.SetStepLimits(Value("Adams"), Value("adams"));
    EXPECT_EQ(k.ROOT, "");
    EXPECT_LT(k.ThumbPercentOf(Value("Zed")), k.ThumbPercentOf(Value("baker")));
}

TEST(LongStep, ScaleOverSmallLargeAndDescendingRanges) {
    LongStep s;
    s.Init(0);
    s.SetStepLimits(Value(1), Value(1));
    for (int v : {-5, 1, 99}) EXPECT_EQ(s.ThumbPercentOf(Value(v)), 50);

    // A range over 100: dividing 100 by the range first would put every value at 1.
    s.SetStepLimits(Value(1), Value(300));
    EXPECT_EQ(s.ThumbPercentOf(Value(150)), 149 * 100 / 299);
    EXPECT_EQ(s.ThumbPercentOf(Value(1)), 1) << "0 becomes 1";
    EXPECT_EQ(s.ThumbPercentOf(Value(300)), 100);
    EXPECT_EQ(s.ThumbPercentOf(Value(-70)), 1) << "outside the limits";
    EXPECT_EQ(s.ThumbPercentOf(Value(5000)), 100);
    EXPECT_EQ(s.ValueAtPercent(50).toLong(), 150);
    EXPECT_EQ(s.ValueAtPercent(100).toLong(), 300);
    for (int p = 1; p <= 100; ++p) {
        const int back = s.ThumbPercentOf(s.ValueAtPercent(p));
        EXPECT_TRUE(back == p || back == p - 1) << p << " -> " << back;
    }

    // The whole 32-bit range does not overflow.
    s.SetStepLimits(Value(-2000000000), Value(2000000000));
    EXPECT_EQ(s.ThumbPercentOf(Value(0)), 50);
    EXPECT_EQ(s.ValueAtPercent(75).toLong(), 1000000000);
    EXPECT_EQ(s.ThumbPercentOf(Value(std::int64_t(1) << 40)), 100);

    LongStep d;
    d.Init(stepctl::Descending);
    d.SetStepLimits(Value(300), Value(1)); // first and last record of a descending order
    EXPECT_EQ(d.LOW, 1);
    EXPECT_EQ(d.HIGH, 300);
    EXPECT_EQ(d.ThumbPercentOf(Value(300)), 1);
    EXPECT_EQ(d.ThumbPercentOf(Value(1)), 100);
    EXPECT_EQ(d.ValueAtPercent(25).toLong(), 1 + 299 * 75 / 100);
}

TEST(Locator, TextOfAKey) {
    constexpr int Typed = 0x1000000;
    const std::pair<int, std::string> cases[] = {
        {'A', "a"},
        {'A' | 0x100, "A"},
        {'7', "7"},
        {0x20, " "},
        {'A' | 0x200, ""}, // Ctrl
        {0x2D, ""},        // Insert types nothing
        {0x08, ""},
        {0x70, ""}, // F1
        {Typed | '\'', "'"},
        {Typed | '-', "-"},
        {Typed | 0xEB, "\xC3\xAB"},       // e with diaeresis
        {Typed | 0x20AC, "\xE2\x82\xAC"}, // the euro sign
        {Typed | 0x1F600, "\xF0\x9F\x98\x80"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(locatorText(code), text) << std::hex << code;
}
