// Seeded random and mutated format strings: every text gives the parsed model or default
// columns, a sound text reads back to a text that gives the same model, and random property
// writes keep the format sound.
#include "runtime/listformat.h"
#include "tests/runtime/mutate_text.h"

#include <gtest/gtest.h>

#include <random>

using namespace sorv;

namespace {

const char* kSeeds[] = {
    "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@",
    "40D(12)|M~F 4~R(2)@n10.2@",
    "49R(2)|M~Birthdate~C(0)@D17b@",
    "120L(1)I#2#@s30@",
    "53L(2)~Graph Colors~@s12@80L(2)*@s20@",
    "[40L40L](100)~Both~80LE(0FFH,,0FF0000H)",
    "[40L~A~/40L_?]|FMS(20)H(3)~G~L(1)80LT(L1RBI)JY*Z(4)",
    "80L~A~R(3)~~80L~B~~C~L",
    "0L-5L[30L](0)80LF80Ls80LH",
};

const char* kTokens[] = {"0",   "1",     "9",     "80",  "-",   "L",  "R",  "C", "D",    "(", ")",  "|",
                         "_",   "F",     "M",     "S",   "H",   "*",  "I",  "J", "Y",    "T", "~",  "@",
                         "#",   "E",     "Z",     "/",   "?",   "[",  "]",  ",", "0FFH", "B", "\n", "x",
                         "(2)", "~Hdr~", "@s20@", "#3#", "E(,", "T(", "S(", "l", "f",    "e", "z"};

std::string randomText(std::mt19937& rng) {
    std::string s;
    int n = std::uniform_int_distribution<int>(0, 24)(rng);
    for (int i = 0; i < n; ++i) s += kTokens[rng() % std::size(kTokens)];
    return s;
}

std::string mutated(std::mt19937& rng) {
    std::string s = kSeeds[rng() % std::size(kSeeds)];
    return sorv::test::mutateText(rng, std::move(s), kTokens, 4);
}

void checkOne(const std::string& text, std::mt19937& rng, bool writeProperties) {
    ListMetrics m;
    m.xFactor = 1 + int(rng() % 3);
    m.xDivisor = 1 + int(rng() % 2);
    m.sourceFields = int(rng() % 4);
    m.listWidth = 200;
    ListFormat f(m);
    f.setFormat(text);
    int pos = ListFormat::check(text);
    ASSERT_GE(pos, 0);
    ASSERT_LE(pos, int(text.size()) + 1) << text;
    if (pos != 0 || text.empty()) {
        ASSERT_TRUE(f.defaultColumns()) << text;
        ASSERT_EQ(f.format(), "");
        ASSERT_EQ(int(f.columns().size()), m.sourceFields);
    } else {
        ASSERT_FALSE(f.defaultColumns()) << text;
        std::string back = f.format();
        ASSERT_EQ(ListFormat::check(back), 0) << text << " -> " << back;
        ListFormat g(m);
        g.setFormat(back);
        ASSERT_EQ(g.format(), back) << text;
        ASSERT_EQ(g.columns().size(), f.columns().size());
        for (std::size_t i = 0; i < f.columns().size(); ++i) {
            ASSERT_EQ(g.columns()[i].field, f.columns()[i].field) << text << " -> " << back;
            ASSERT_EQ(g.columns()[i].flags, f.columns()[i].flags) << text << " -> " << back;
            ASSERT_EQ(g.columns()[i].flags2, f.columns()[i].flags2) << text << " -> " << back;
        }
        ASSERT_EQ(g.fieldCount(), f.fieldCount());
        ASSERT_EQ(ListFormat::check(f.rebuiltFormat()), 0);
    }
    for (std::size_t g = 0; g < f.groups().size(); ++g) {
        const ListGroup& gr = f.groups()[g];
        ASSERT_LT(gr.first, gr.end);
        ASSERT_LE(gr.end, int(f.columns().size()));
    }
    if (!writeProperties) return;
    const Value values[] = {Value(0),   Value(1),     Value(-1),       Value(37),       Value(""),
                            Value("~"), Value("@x@"), Value("12L~q~"), Value("[1L]2R"), Value(2147483647)};
    for (int k = 0; k < 6; ++k) {
        int code = 0x7E00 + int(rng() % 128);
        int column = int(rng() % (f.columns().size() + 2));
        f.setProperty(code, column, values[rng() % std::size(values)]);
        (void)f.property(code, column);
        if (!f.defaultColumns()) {
            ASSERT_EQ(ListFormat::check(f.format()), 0) << f.format();
        }
    }
}

} // namespace

TEST(ListFormatFuzz, RandomAndMutatedFormats) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 300000; ++i) {
        std::string text = (i % 2) ? randomText(rng) : mutated(rng);
        checkOne(text, rng, i % 8 == 0);
        if (HasFatalFailure()) return;
    }
}
