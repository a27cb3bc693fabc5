// List format strings: the examples and edge cases of the format, round trips of every format
// the program's lists use, layout figures, default columns and the column properties.
#include "runtime/listformat.h"

#include <gtest/gtest.h>

using namespace sorv;

namespace {

ListMetrics unitMetrics() {
    ListMetrics m;
    m.lineHeight = 16;
    m.lineWidth = 1;
    return m;
}

ListFormat parsed(const std::string& text, ListMetrics m = unitMetrics()) {
    ListFormat f(m);
    f.setFormat(text);
    return f;
}

// Re-setting what was read back must give the same model.
void expectStable(const std::string& text) {
    ListFormat a = parsed(text);
    ASSERT_FALSE(a.defaultColumns()) << text;
    ListFormat b = parsed(a.format());
    ASSERT_FALSE(b.defaultColumns()) << a.format();
    EXPECT_EQ(a.format(), b.format());
    ASSERT_EQ(a.columns().size(), b.columns().size());
    for (std::size_t i = 0; i < a.columns().size(); ++i) {
        EXPECT_EQ(a.columns()[i].field, b.columns()[i].field) << text << " column " << i + 1;
        EXPECT_EQ(a.columns()[i].width, b.columns()[i].width);
        EXPECT_EQ(a.columns()[i].header, b.columns()[i].header);
        EXPECT_EQ(a.columns()[i].picture, b.columns()[i].picture);
    }
    EXPECT_EQ(a.fieldCount(), b.fieldCount());
    ListFormat c = parsed(a.rebuiltFormat());
    EXPECT_EQ(a.format(), c.format()) << "rebuilt: " << a.rebuiltFormat();
}

} // namespace

TEST(ListFormatExamples, TwoSingleColumnGroups) {
    ListFormat f = parsed("80L(2)|M~Company~@s30@80L(2)|M~City~@s20@");
    ASSERT_EQ(f.columns().size(), 2u);
    ASSERT_EQ(f.groups().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const ListColumn& c = f.columns()[i];
        EXPECT_EQ(c.field, i + 1);
        EXPECT_EQ(c.width, 80);
        EXPECT_EQ(c.dataIndent, 2);
        EXPECT_EQ(c.headerIndent, 2);
        EXPECT_TRUE(c.flags & lf::RightBorder);
        EXPECT_TRUE(c.flags & lf::Resizable);
        EXPECT_TRUE(f.groups()[i].state & lf::SingleColumn);
        EXPECT_TRUE(f.groups()[i].flags & lf::RightBorder);
        EXPECT_TRUE(f.groups()[i].flags & lf::Resizable);
    }
    EXPECT_EQ(f.columns()[0].header, "Company");
    EXPECT_EQ(f.columns()[1].header, "City");
    EXPECT_EQ(f.columns()[0].picture, "@s30");
    EXPECT_EQ(f.groups()[1].x, 80);
    EXPECT_TRUE(f.groups()[1].state & lf::AfterResizable);
    EXPECT_FALSE(f.groups()[0].state & lf::AfterResizable);
    EXPECT_EQ(f.totalWidth(), 160);
    EXPECT_EQ(f.fieldCount(), 2);
    EXPECT_EQ(f.format(), "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@");
}

TEST(ListFormatExamples, DecimalColumnWithRightHeader) {
    ListFormat f = parsed("40D(12)|M~F 4~R(2)@n10.2@");
    const ListColumn& c = f.columns()[0];
    EXPECT_EQ(c.justification(), lf::Decimal);
    EXPECT_EQ(c.dataIndent, 12);
    EXPECT_EQ(c.headerJustification(), lf::Right);
    EXPECT_EQ(c.headerIndent, 2);
    EXPECT_EQ(f.format(), "40D(12)|M~F 4~R(2)@n10.2@");
    EXPECT_EQ(parsed("49R(2)|M~Birthdate~C(0)@D17b@").format(), "49R(2)|M~Birthdate~C(0)@D17b@");
    // The decimal character follows the picture's decimal mark.
    EXPECT_EQ(c.decimalChar, '.');
    EXPECT_EQ(parsed("40D@n10`2@").columns()[0].decimalChar, ',');
}

TEST(ListFormatExamples, IconFieldNumbers) {
    ListFormat f = parsed("120L(1)I#2#@s30@80L");
    EXPECT_EQ(f.columns()[0].field, 2);
    EXPECT_EQ(f.columns()[0].iconField(), 3);
    EXPECT_EQ(f.columns()[1].field, 4);
    EXPECT_EQ(f.fieldCount(), 4);
    expectStable("120L(1)I#2#@s30@80L");
}

TEST(ListFormatExamples, ColourFieldsAndFieldCount) {
    ListFormat f = parsed("53L(2)~Graph Colors~@s12@80L(2)*@s20@");
    EXPECT_EQ(f.columns()[1].field, 2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.columns()[1].colourField(i), 3 + i);
    EXPECT_EQ(f.fieldCount(), 6);
    // Every field kind moves the next column's field: colours by 5, icon by 2, tree and style by 1.
    ListFormat g = parsed("10L*10LI10LT10LY10L");
    std::vector<int> fields;
    for (const auto& c : g.columns()) fields.push_back(c.field);
    EXPECT_EQ(fields, (std::vector<int>{1, 6, 8, 10, 12}));
    EXPECT_EQ(g.columns()[3].styleField(), 11);
    EXPECT_EQ(g.columns()[2].treeField(), 9);
    EXPECT_EQ(parsed("10L*IYT").columns()[0].styleField(), 8);
}

TEST(ListFormatExamples, DefaultColoursHexAndEmpty) {
    ListFormat f = parsed("80LE(0FFH,,0FF0000h)");
    const auto& col = f.columns()[0].colours;
    EXPECT_EQ(col[0], 0xFF);
    EXPECT_EQ(col[1], -1);
    EXPECT_EQ(col[2], 0xFF0000);
    EXPECT_EQ(col[3], -1);
    EXPECT_EQ(f.format(), "80LE(0FFH,,0FF0000H,)");
    // Decimal and negative entries; -1 is "none", so no E is written at all.
    ListFormat g = parsed("80LE(255,-1,-0AH,16)");
    EXPECT_EQ(g.columns()[0].colours[0], 255);
    EXPECT_EQ(g.columns()[0].colours[2], -10);
    EXPECT_EQ(g.columns()[0].colours[3], 16);
    EXPECT_EQ(parsed("80LE(-1)").format(), "80L");
    expectStable("80LE(255,-1,-0AH,16)");
}

TEST(ListFormatExamples, BracketedGroupWithWidthAndHeader) {
    ListFormat f = parsed("[40L40L](100)~Both~");
    ASSERT_EQ(f.groups().size(), 1u);
    const ListGroup& g = f.groups()[0];
    EXPECT_EQ(g.first, 0);
    EXPECT_EQ(g.end, 2);
    EXPECT_EQ(g.width, 100);
    EXPECT_TRUE(g.state & lf::ExplicitWidth);
    EXPECT_FALSE(g.state & lf::SingleColumn);
    EXPECT_EQ(g.headerJustification(), lf::Centre);
    EXPECT_EQ(g.justification(), lf::Centre);
    EXPECT_EQ(f.columns()[1].field, 2);
    EXPECT_EQ(f.columns()[1].left, 40);
    EXPECT_TRUE(f.columns()[1].flags & lf::LastOfLine);
    EXPECT_FALSE(f.columns()[0].flags & lf::LastOfLine);
    EXPECT_EQ(f.format(), "[40L40L](100)~Both~");
    // A right border makes an explicit width one line wider, and is not written back.
    ListFormat b = parsed("[40L40L](100)|");
    EXPECT_EQ(b.groups()[0].width, 101);
    EXPECT_EQ(b.format(), "[40L40L](100)|");
    // Without an explicit width the widest line counts.
    ListFormat w = parsed("[40L30L/50L]80L");
    EXPECT_EQ(w.groups()[0].width, 70);
    EXPECT_EQ(w.columns()[2].top, 16);
    EXPECT_EQ(w.columns()[2].left, 0);
    EXPECT_EQ(w.groups()[1].x, 70);
    EXPECT_EQ(w.rowHeight(), 32);
}

TEST(ListFormatExamples, FailuresGiveDefaultColumns) {
    struct Case {
        const char* text;
        int pos;
    } cases[] = {
        {"[]", 2},          {"L", 1},
        {"80", 3},          {"80X", 3},
        {"80l", 3},         {"80L(x)", 5},
        {"80L(2", 6},       {"80L@s20", 8},
        {"80L~abc", 8},     {"80LE(1,2,3,4,5)", 14},
        {"80LE1", 5},       {"80LE(1)E(2)", 8},
        {"80LZ(1)Z(2)", 8}, {"80LZ", 5},
        {"80LE(1", 7},      {"80L#x#", 5},
        {"80L#3", 6},       {"80LT(LQ)", 7},
        {"80LT(L", 7},      {"[80L", 5},
        {"80L]", 4},        {"[80L[40L]]", 5},
        {"80LX", 4},        {"80LS(", 6},
        {"80LH(1", 7},      {"[80L](x)", 7},
        {"80LE(0FF)", 7},   {"80L|M~A~@s20@x", 14},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListFormat::check(c.text), c.pos) << c.text;
        ListMetrics m = unitMetrics();
        m.sourceFields = 2;
        m.listWidth = 200;
        ListFormat f = parsed(c.text, m);
        EXPECT_TRUE(f.defaultColumns()) << c.text;
        EXPECT_EQ(f.columns().size(), 2u);
        EXPECT_EQ(f.format(), "");
    }
    EXPECT_EQ(ListFormat::check("80L(2)|M~Company~@s30@"), 0);
    EXPECT_EQ(ListFormat::check("80LT(L1RBI)H(3)S(20)Z(-2)E(,,,1)#4#?/"), 0);
}

TEST(ListFormatExamples, ZeroWidthsAndHiddenGroups) {
    ListFormat f = parsed("0L~A~80L-5L[40L](0)80L");
    EXPECT_EQ(f.columns()[0].width, 0);
    EXPECT_EQ(f.columns()[0].right, -1);
    EXPECT_EQ(f.columns()[2].width, 0);
    EXPECT_TRUE(f.groups()[0].state & lf::Hidden);
    EXPECT_TRUE(f.groups()[2].state & lf::Hidden);
    EXPECT_TRUE(f.groups()[3].state & lf::Hidden);
    EXPECT_EQ(f.groups()[1].x, 0);
    EXPECT_EQ(f.groups()[4].x, 80);
    EXPECT_EQ(f.fixedOrHiddenGroups(), 3);
    // 5 groups, 3 hidden: range 1.
    EXPECT_EQ(f.horizontalScrollRange(), 1);
    EXPECT_EQ(f.format(), "0L~A~80L0L[40L](0)80L");
}

TEST(ListFormatExamples, ScrollBarsHAndLocator) {
    ListFormat f = parsed("80LS80Ls(30)80LH80LH(7)");
    EXPECT_EQ(f.columns()[0].scrollWidth, 100);
    EXPECT_EQ(f.columns()[1].scrollWidth, 30);
    EXPECT_TRUE(f.anyScrollBar());
    EXPECT_FALSE(f.columns()[2].flags2 & lf::HWithNumber);
    EXPECT_TRUE(f.columns()[3].flags2 & lf::HWithNumber);
    EXPECT_EQ(f.format(), "80LS(100)80LS(30)80L80LH(0)");
    expectStable("80LS80Ls(30)80LH80LH(7)");
    ListFormat l = parsed("80L?80L80L?");
    EXPECT_EQ(l.locator(), 2);
    EXPECT_FALSE(l.columns()[0].flags & lf::LocatorColumn);
    EXPECT_EQ(l.format(), "80L80L80L?");
}

TEST(ListFormatExamples, ScrollRangeFixedAndOneField) {
    ListFormat f = parsed("80LF80L80L80L");
    EXPECT_EQ(f.fixedOrHiddenGroups(), 1);
    EXPECT_EQ(f.horizontalScrollRange(), 2);
    EXPECT_EQ(parsed("80L").horizontalScrollRange(), 400);
    EXPECT_TRUE(parsed("80L").scrollsByPixels());
    ListMetrics m = unitMetrics();
    m.xFactor = 3;
    m.xDivisor = 2;
    EXPECT_EQ(parsed("80L", m).horizontalScrollRange(), 600);
    EXPECT_EQ(parsed("80LF80LF").horizontalScrollRange(), 0);
}

TEST(ListFormatLayout, HeaderBandAndRowHeight) {
    EXPECT_EQ(parsed("80L80L").headerHeight(), 2);
    EXPECT_EQ(parsed("80L~A~80L").headerHeight(), 18);
    EXPECT_EQ(parsed("80L~Last\nName~80L~B~").headerHeight(), 34);
    EXPECT_EQ(parsed("80L~Last\nName~").columns()[0].headerLines, 2);
    // A group header stands above the headers of its columns.
    EXPECT_EQ(parsed("[40L~A~40L](100)~Both~").headerHeight(), 34);
    EXPECT_EQ(parsed("[40L40L](100)~Both~").headerHeight(), 18);
    // A header on the second line of a group reaches down to that line.
    ListFormat two = parsed("[40L/40L~B~]");
    EXPECT_EQ(two.headerHeight(), 34);
    EXPECT_EQ(two.rowHeight(), 32);
    EXPECT_EQ(parsed("80L").rowHeight(), 16);
    // Underlining raises the cell's bottom by the line width, not the row.
    ListFormat u = parsed("80L_");
    EXPECT_EQ(u.columns()[0].bottom, 15);
    EXPECT_EQ(u.rowHeight(), 16);
}

TEST(ListFormatLayout, DialogUnitsMultiplyThenDivideRounded) {
    EXPECT_EQ(mulDiv(5, 3, 2), 8);   // 7.5 rounds up
    EXPECT_EQ(mulDiv(-5, 3, 2), -8); // and away from zero below it
    EXPECT_EQ(mulDiv(7, 1, 3), 2);
    EXPECT_EQ(mulDiv(1, 1, 0), -1);
    EXPECT_EQ(mulDiv(2000000000, 4, 2), 2147483647); // clamped, not wrapped
    ListMetrics m = unitMetrics();
    m.xFactor = 7;
    m.xDivisor = 4;
    ListFormat f = parsed("80L(3)~H~(5)", m);
    EXPECT_EQ(f.columns()[0].width, 140);
    EXPECT_EQ(f.columns()[0].dataIndent, 5);   // 5.25
    EXPECT_EQ(f.columns()[0].headerIndent, 9); // 8.75
    EXPECT_EQ(f.format(), "80L(3)~H~L(5)");
    // Shrinking factors lose precision: a width may come back one unit different, once.
    m.xFactor = 1;
    m.xDivisor = 2;
    ListFormat s = parsed("3L", m);
    EXPECT_EQ(s.format(), "4L");
    EXPECT_EQ(parsed(s.format(), m).format(), "4L");
    // New factors lay the list out again from its dialog units.
    ListFormat g = parsed("80L80L");
    ListMetrics twice = unitMetrics();
    twice.xFactor = 2;
    g.setMetrics(twice);
    EXPECT_EQ(g.columns()[1].width, 160);
    EXPECT_EQ(g.format(), "80L80L");
}

TEST(ListFormatLayout, DefaultColumns) {
    ListMetrics m = unitMetrics();
    m.sourceFields = 3;
    m.listWidth = 301;
    ListFormat f = parsed("", m);
    ASSERT_TRUE(f.defaultColumns());
    ASSERT_EQ(f.columns().size(), 3u);
    EXPECT_EQ(f.columns()[0].width, 100);
    EXPECT_EQ(f.columns()[1].width, 100);
    EXPECT_EQ(f.columns()[2].width, 101);
    EXPECT_EQ(f.columns()[2].field, 3);
    EXPECT_FALSE(f.groups()[0].single());
    EXPECT_EQ(f.fieldCount(), 3);
    EXPECT_EQ(f.format(), "");
    // Narrow lists keep 20 units per column.
    m.listWidth = 30;
    m.xFactor = 2;
    ListFormat n = parsed("80X", m);
    for (const auto& c : n.columns()) EXPECT_EQ(c.width, 40);
    // One field takes the list's own justification and indent.
    ListMetrics one = unitMetrics();
    one.sourceFields = 1;
    one.listWidth = 90;
    one.justification = lf::Right;
    one.indent = 3;
    ListFormat o = parsed("", one);
    EXPECT_EQ(o.columns()[0].justification(), lf::Right);
    EXPECT_EQ(o.columns()[0].dataIndent, 3);
    EXPECT_EQ(o.columns()[0].width, 90);
    EXPECT_TRUE(o.scrollsByPixels());
}

TEST(ListFormatRoundTrip, FormatsOfTheProgram) {
    const char* formats[] = {
        "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@64L(2)|M~Postal Zip Code~@s12@",
        "80L(2)|M~Last Name~@s20@80L(2)|M~City~@s20@80L(2)|M~First Name~@s20@24L(2)|M~Gender~@s6@56L(2)|M~"
        "Telephone~@p###-###-####p@80L(2)|M~Country~@s20@49R(2)|M~Birthdate~C(0)@D17b@40L(2)|M~Year "
        "Hired~@p####p@32R(2)|M~Salary~C(0)@n9.2@",
        "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@64L(2)|M~Postal Zip Code~@s12@80L(2)|M~Country~@s20@",
        "80L(2)|M~Last Name~@s20@80L(2)|M~First "
        "Name~@s20@48L(2)|M~Telephone~@p###-###-####p@31L(2)|M~Gender~@"
        "s6@40R(2)|M~Birthdate~@D17b@28R(2)|M~Salary~@n7@",
        "28R(1)|M~Sys Id~L(2)@n7@80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@64L(2)|M~"
        "Postal Zip Code~@s12@",
        "80L(2)|M~Last Name~@s20@80L(2)|M~First Name~@s20@56L(2)|M~Telephone~@p###-###-####p@80R(2)|M~"
        "Birthdate~C(0)@D17b@24L(2)|M~Gender~C(0)@s6@44L(2)|M~Year Hired~@p####p@32R(2)|M~Salary~C(0)@n7@",
        "80L(2)|M~Last Name~@s20@48L(2)|M~Phone~@p###-###-####p@40R(2)|M~Do "
        "B~@D17b@120L(2)|M~Company~@s30@80L("
        "2)|M~City~@S20@80L(2)|M~Country~@S20@",
        "80L(2)|M~F1~@s20@20R(1)|M~F 2~R(2)@n5@27R(1)|M~F 3~R(2)@n3@40D(12)|M~F 4~R(2)@n10.2@40L(1)|M~F "
        "5~L(2)"
        "@D17@",
        "53L(2)~Graph Colors~@s12@80L(2)*@s20@",
    };
    for (const char* f : formats) {
        EXPECT_EQ(ListFormat::check(f), 0) << f;
        EXPECT_EQ(parsed(f).format(), f);
        expectStable(f);
    }
    // The dialog lists are read back with their field number after the column.
    EXPECT_EQ(parsed("120L(1)#2#@s30@").format(), "120L(1)@s30@#2#");
    expectStable("120L(1)I#2#@s30@");
    // The layout rebuild writes every column as "width just (offset) flags ~header~ just(offset)
    // picture #n# E(...)"; the list must read it.
    const char* rebuilt = "120L(1)*IF_M|~Company~L(1)@s30@#1#E(255,,,65280)80R(0)M|~City~R@S20@#7#";
    ListFormat r = parsed(rebuilt);
    ASSERT_FALSE(r.defaultColumns());
    EXPECT_EQ(r.columns()[1].field, 7);
    EXPECT_EQ(r.columns()[0].colours[3], 65280);
    expectStable(rebuilt);
}

TEST(ListFormatRoundTrip, CanonicalOrderAndRebuiltNumbers) {
    ListFormat f = parsed("80L~Name~M|_FT(IBR1L)JY*@s20@?/E(1,2,3,4)Z(5)S(7)H(2)");
    EXPECT_EQ(f.format(), "80L|_FM*JYT(L1RBI)~Name~S(7)H(0)@s20@Z(5)E(01H,02H,03H,04H)/?");
    EXPECT_EQ(parsed("80L80L").rebuiltFormat(), "80L#1#80L#2#");
    EXPECT_EQ(parsed("[80L80L](90)~G~80L").rebuiltFormat(), "[80L#1#80L#2#](90)~G~80L#3#");
    // A column whose number equals a plain count but not its reader's running number keeps it.
    ListFormat g = parsed("80L*80L#2#");
    EXPECT_EQ(g.columns()[1].field, 2);
    EXPECT_EQ(parsed(g.format()).columns()[1].field, 2);
    expectStable("80L*80L#2#80L");
    // Field numbers below 1 count as not given.
    ListFormat n = parsed("80L#0#80L#-4#80L");
    EXPECT_EQ(n.columns()[1].field, 2);
    EXPECT_EQ(n.columns()[2].field, 3);
}

TEST(ListFormatProperties, ReadColumnProperties) {
    ListFormat f = parsed("80L(2)|M_~Company~R(3)@s30@40D(4)F*IT(L)YZ(9)E(5,,7)/?");
    auto p = [&](int code, int col) { return f.property(code, col); };
    EXPECT_EQ(p(0x7E00, 1).toLong(), 1);
    EXPECT_EQ(p(0x7E01, 1).toLong(), 1);
    EXPECT_EQ(p(0x7E02, 1).toLong(), 1);
    EXPECT_EQ(p(0x7E03, 1).toText(), "Company");
    EXPECT_EQ(p(0x7E04, 1).toLong(), 80);
    EXPECT_EQ(p(0x7E05, 1).toText(), "@s30");
    EXPECT_EQ(p(0x7E05, 2).toText(), "");
    EXPECT_EQ(p(0x7E06, 1).toLong(), 0);
    EXPECT_EQ(p(0x7E06, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E08, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E09, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E09, 1).toLong(), 0);
    EXPECT_EQ(p(0x7E0E, 2).toLong(), 2);
    EXPECT_EQ(p(0x7E0F, 1).toText(), "80L(2)|_M~Company~R(3)@s30@#1#");
    EXPECT_EQ(p(0x7E10, 1).toLong(), 1);
    EXPECT_EQ(p(0x7E11, 1).toLong(), 2);
    EXPECT_EQ(p(0x7E13, 1).toLong(), 0); // right is not in force for the data
    EXPECT_EQ(p(0x7E16, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E17, 2).toLong(), 4);
    EXPECT_EQ(p(0x7E1A, 1).toLong(), 1);
    EXPECT_EQ(p(0x7E1B, 1).toLong(), 3);
    EXPECT_EQ(p(0x7E18, 1).toLong(), 0);
    EXPECT_EQ(p(0x7E20, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E21, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E22, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E23, 2).toLong(), 0); // "L" present
    EXPECT_EQ(p(0x7E24, 2).toLong(), 1); // "B" absent
    EXPECT_EQ(p(0x7E26, 2).toLong(), 0);
    EXPECT_EQ(p(0x7E28, 2).toLong(), 5);
    EXPECT_EQ(p(0x7E29, 2).toLong(), -1);
    EXPECT_EQ(p(0x7E2A, 2).toLong(), 7);
    EXPECT_EQ(p(0x7E2C, 2).toLong(), 1);
    EXPECT_EQ(p(0x7E2D, 2).toLong(), 9);
    EXPECT_EQ(p(0x7E2E, 2).toLong(), 0);
    // Out of range columns and unknown codes read empty.
    EXPECT_TRUE(p(0x7E03, 3).isText());
    EXPECT_EQ(p(0x7E04, 0).toText(), "");
    EXPECT_EQ(p(0x7E04, 3).toText(), "");
    EXPECT_EQ(p(0x7E0A, 1).toText(), "");
    EXPECT_EQ(p(0x7D00, 1).toText(), "");
}

TEST(ListFormatProperties, WritesRebuildTheFormat) {
    ListFormat f = parsed("80L(2)|M~Company~@s30@80L(2)|M~City~@s20@");
    f.setProperty(0x7E03, 2, Value("Town"));
    EXPECT_EQ(f.format(), "80L(2)|M~Company~@s30@80L(2)|M~Town~@s20@");
    f.setProperty(0x7E04, 1, Value(100));
    EXPECT_EQ(f.columns()[0].width, 100);
    EXPECT_EQ(f.groups()[1].x, 100);
    f.setProperty(0x7E00, 1, Value(1));
    EXPECT_EQ(f.columns()[0].bottom, 15);
    f.setProperty(0x7E02, 2, Value(0));
    EXPECT_FALSE(f.columns()[1].flags & lf::RightBorder);
    EXPECT_FALSE(f.groups()[1].flags & lf::RightBorder);
    f.setProperty(0x7E05, 2, Value("s10"));
    EXPECT_EQ(f.columns()[1].picture, "@s10");
    f.setProperty(0x7E05, 2, Value(""));
    EXPECT_FALSE(f.columns()[1].hasPicture);
    // Removing the only headers takes the header band to its minimum.
    int band = f.headerHeight();
    f.setProperty(0x7E03, 1, Value(""));
    f.setProperty(0x7E03, 2, Value(""));
    EXPECT_LT(f.headerHeight(), band);
    // Texts that would break the format are refused.
    std::string before = f.format();
    f.setProperty(0x7E03, 1, Value("a~80L~b"));
    f.setProperty(0x7E05, 1, Value("@s3@80L"));
    EXPECT_EQ(f.format(), before);
    // Out of range writes are ignored.
    f.setProperty(0x7E04, 3, Value(5));
    f.setProperty(0x7E04, 0, Value(5));
    f.setProperty(0x7E04, -7, Value(5));
    f.setProperty(0x7E0B, 1, Value(5));
    EXPECT_EQ(f.format(), before);
}

TEST(ListFormatProperties, FieldsAndFlagsKeepOtherColumns) {
    ListFormat f = parsed("80L80L80L");
    f.setProperty(0x7E21, 1, Value(1)); // colour fields on column 1
    EXPECT_EQ(f.columns()[1].field, 2); // later columns keep theirs
    EXPECT_EQ(f.fieldCount(), 5);
    f.setProperty(0x7E0E, 3, Value(0));
    EXPECT_EQ(f.columns()[2].field, 1);
    f.setProperty(0x7E0E, 3, Value(9));
    EXPECT_EQ(f.fieldCount(), 9);
    f.setProperty(0x7E2E, 2, Value(1));
    EXPECT_TRUE(f.columns()[1].flags & lf::IconField);
    EXPECT_TRUE(f.columns()[1].flags2 & lf::Transparent);
    f.setProperty(0x7E20, 2, Value(0));
    EXPECT_FALSE(f.columns()[1].flags2 & lf::Transparent);
    f.setProperty(0x7E22, 2, Value(1));
    f.setProperty(0x7E23, 2, Value(0)); // adds "L"
    f.setProperty(0x7E27, 2, Value(0)); // adds "R"
    f.setProperty(0x7E26, 2, Value(1)); // adds "1"
    EXPECT_EQ(f.property(0x7E0F, 2).toText(), "80LT(L1R)#2#");
    f.setProperty(0x7E23, 2, Value(1)); // removes "L"
    EXPECT_EQ(f.property(0x7E0F, 2).toText(), "80LT(1R)#2#");
    f.setProperty(0x7E2B, 1, Value(0x123456));
    EXPECT_EQ(f.columns()[0].colours[3], 0x123456);
    f.setProperty(0x7E2D, 1, Value(12));
    f.setProperty(0x7E2C, 1, Value(1));
    EXPECT_EQ(f.columns()[0].style, 12);
    EXPECT_EQ(f.columns()[0].styleField(), 6);
    f.setProperty(0x7E07, 1, Value(40));
    EXPECT_EQ(f.columns()[0].scrollWidth, 40);
    EXPECT_TRUE(f.groups()[0].flags & lf::ScrollBar);
    f.setProperty(0x7E07, 1, Value(0));
    EXPECT_FALSE(f.anyScrollBar());
    f.setProperty(0x7E08, 1, Value(1));
    EXPECT_TRUE(f.columns()[0].flags & lf::LastOnLine);
}

TEST(ListFormatProperties, JustificationLocatorAndFixed) {
    ListFormat f = parsed("80L(2)~A~80R~B~80C80L");
    f.setProperty(0x7E12, 1, Value(1)); // data right
    EXPECT_EQ(f.columns()[0].justification(), lf::Right);
    EXPECT_EQ(f.columns()[0].headerJustification(), lf::Left);
    f.setProperty(0x7E10, 1, Value(0)); // not left: nothing
    EXPECT_EQ(f.columns()[0].justification(), lf::Right);
    f.setProperty(0x7E12, 1, Value(0)); // back to left
    EXPECT_EQ(f.columns()[0].justification(), lf::Left);
    f.setProperty(0x7E17, 2, Value(6)); // decimal with indent 6
    EXPECT_EQ(f.columns()[1].justification(), lf::Decimal);
    EXPECT_EQ(f.columns()[1].dataIndent, 6);
    f.setProperty(0x7E1D, 2, Value(1)); // header centre, indent 1
    EXPECT_EQ(f.columns()[1].headerJustification(), lf::Centre);
    EXPECT_EQ(f.columns()[1].headerIndent, 1);
    EXPECT_EQ(f.property(0x7E0F, 2).toText(), "80D(6)~B~C(1)#2#");

    f.setProperty(0x7E09, 3, Value(1));
    EXPECT_EQ(f.locator(), 2);
    f.setProperty(0x7E09, 1, Value(1));
    EXPECT_EQ(f.locator(), 0);
    EXPECT_FALSE(f.columns()[2].flags & lf::LocatorColumn);
    f.setProperty(0x7E09, 1, Value(0));
    EXPECT_EQ(f.locator(), -1);

    // Fixing column 3 fixes groups 1 to 3; clearing column 2 clears from group 2 on.
    f.setProperty(0x7E06, 3, Value(1));
    EXPECT_EQ(f.fixedOrHiddenGroups(), 3);
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(f.property(0x7E06, c).toLong(), 1);
    EXPECT_EQ(f.property(0x7E06, 4).toLong(), 0);
    f.setProperty(0x7E06, 2, Value(0));
    EXPECT_EQ(f.fixedOrHiddenGroups(), 1);
    EXPECT_EQ(f.property(0x7E06, 1).toLong(), 1);
    EXPECT_EQ(f.property(0x7E06, 3).toLong(), 0);
}

TEST(ListFormatProperties, OneColumnFormat) {
    ListFormat f = parsed("80L~A~80L~B~80L~C~");
    f.setProperty(0x7E0F, 2, Value("50R(1)~Bee~@n5@"));
    EXPECT_EQ(f.columns()[1].width, 50);
    EXPECT_EQ(f.columns()[1].header, "Bee");
    EXPECT_EQ(f.columns()[1].field, 2);
    EXPECT_EQ(f.columns()[2].field, 3);
    // Not one column, or not sound: nothing changes.
    std::string before = f.format();
    for (const char* bad : {"50R80L", "[50R]", "50X", "", "50R@s3"}) {
        f.setProperty(0x7E0F, 2, Value(bad));
        EXPECT_EQ(f.format(), before) << bad;
    }
    EXPECT_NE(ListFormat::checkColumn("50R80L"), 0);
    EXPECT_EQ(ListFormat::checkColumn("50R~x~#4#"), 0);
    // The text read from a column can be written to another.
    f.setProperty(0x7E0F, 1, f.property(0x7E0F, 3));
    EXPECT_EQ(f.columns()[0].header, "C");
    EXPECT_EQ(f.columns()[0].field, 3);
}

TEST(ListFormatProperties, GroupProperties) {
    ListFormat f = parsed("80L[40L~A~40L](100)~Both~");
    const int g = 64;
    EXPECT_EQ(f.property(0x7E03 + g, 2).toText(), "Both");
    EXPECT_EQ(f.property(0x7E03 + g, 3).toText(), "Both");
    EXPECT_EQ(f.property(0x7E04 + g, 2).toLong(), 100);
    EXPECT_EQ(f.property(0x7E1C + g, 2).toLong(), 1); // centred group header
    EXPECT_EQ(f.property(0x7E0F + g, 3).toText(), "[40L~A~#2#40L#3#](100)~Both~");
    f.setProperty(0x7E03 + g, 3, Value("Pair"));
    EXPECT_EQ(f.groups()[1].header, "Pair");
    f.setProperty(0x7E02 + g, 2, Value(1));
    EXPECT_EQ(f.groups()[1].width, 101);
    f.setProperty(0x7E04 + g, 2, Value(120));
    EXPECT_EQ(f.groups()[1].width, 121);
    f.setProperty(0x7E18 + g, 2, Value(1));
    EXPECT_EQ(f.groups()[1].headerJustification(), lf::Left);
    EXPECT_EQ(f.format(), "80L[40L~A~40L](120)|~Pair~L");
    // A lone column is its own group.
    EXPECT_EQ(f.property(0x7E04 + g, 1).toLong(), 80);
    f.setProperty(0x7E04 + g, 1, Value(60));
    EXPECT_EQ(f.columns()[0].width, 60);
    // The whole group replaced by a format of two groups.
    f.setProperty(0x7E0F + g, 2, Value("30L30R"));
    EXPECT_EQ(f.groups().size(), 3u);
    EXPECT_EQ(f.format(), "60L30L30R");
    f.setProperty(0x7E0F + g, 2, Value("30L["));
    EXPECT_EQ(f.format(), "60L30L30R");
}

TEST(ListFormatProperties, DefaultColumnsBecomeAFormatWhenChanged) {
    ListMetrics m = unitMetrics();
    m.sourceFields = 2;
    m.listWidth = 100;
    ListFormat f(m);
    f.setFormat("");
    ASSERT_TRUE(f.defaultColumns());
    f.setProperty(0x7E03, 1, Value("First"));
    EXPECT_FALSE(f.defaultColumns());
    EXPECT_EQ(f.format(), "[50L~First~][50L]");
}

TEST(ListFormatCells, ValuesFromFields) {
    ListFormat f = parsed("80L*E(1,2,3,4)80LIZ(7)80LTY");
    std::vector<std::string> row = {"text", "-1", "200", "-1", "400", "second", "5", "third", "3", "0"};
    ListCell a = f.cell(0, row);
    EXPECT_EQ(a.text, "text");
    EXPECT_EQ(a.colours, (std::array<std::int32_t, 4>{1, 200, 3, 400}));
    EXPECT_EQ(a.icon, -1);
    ListCell b = f.cell(1, row);
    EXPECT_EQ(b.text, "second");
    EXPECT_EQ(b.icon, 5);
    EXPECT_EQ(b.style, 7);
    EXPECT_EQ(b.colours[0], -1);
    ListCell c = f.cell(2, row);
    EXPECT_EQ(c.treeLevel, 3);
    EXPECT_EQ(c.style, 0); // style field 0 and no default
    row[9] = "4";
    EXPECT_EQ(f.cell(2, row).style, 4);
    // A collapsed node keeps its sign; absurd levels are held to the range the list can draw.
    row[8] = "-3";
    EXPECT_EQ(f.cell(2, row).treeLevel, -3);
    row[8] = "99999";
    EXPECT_EQ(f.cell(2, row).treeLevel, 255);
    // A short row reads missing fields as absent, not past its end.
    ListCell d = f.cell(1, {"x"});
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.icon, -1);
    EXPECT_EQ(f.cell(9, row).text, "");
}
