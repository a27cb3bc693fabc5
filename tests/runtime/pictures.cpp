// Pictures: compiling, FORMAT and DEFORMAT of every kind, the century window and the desktop
// settings.
#include "runtime/datetime.h"
#include "runtime/field.h"
#include "runtime/intl.h"
#include "runtime/picture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

using namespace sorv;

namespace {

Decimal D(const char* s) {
    auto d = Decimal::parse(s);
    EXPECT_TRUE(d.has_value()) << s;
    return d.value_or(Decimal());
}

std::string numText(const Value& v) {
    return v.isText() ? "text:" + v.text() : v.toDecimal().toString();
}

int thisYear() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

// Every test starts from the default desktop settings.
class Pictures : public ::testing::Test {
protected:
    void SetUp() override { setIntlSettings(IntlSettings{}); }
    void TearDown() override { setIntlSettings(IntlSettings{}); }
};

} // namespace

TEST_F(Pictures, CompilesKindsAndWidths) {
    struct Case {
        const char* pic;
        PictureKind kind;
        int width;
    } cases[] = {
        {"@s30", PictureKind::String, 30},
        {"@S1", PictureKind::String, 1},
        {"@s255", PictureKind::String, 255},
        {"@s12  ", PictureKind::String, 12},
        {"", PictureKind::String, 255},
        {"@n9.2", PictureKind::Numeric, 9},
        {"@N254", PictureKind::Numeric, 254},
        {"@n$-*12`2-b", PictureKind::Invalid, 0},
        {"@n$-*12`2b", PictureKind::Numeric, 12},
        {"@n(10.2)", PictureKind::Numeric, 10},
        {"@n9.2~ kr~", PictureKind::Numeric, 9},
        {"@e12.3", PictureKind::Scientific, 12},
        {"@E7", PictureKind::Scientific, 7},
        {"@p###-###-####p", PictureKind::Pattern, 12},
        {"@P<#P", PictureKind::Pattern, 2},
        {"@K@^_?|##\\#K", PictureKind::KeyIn, 7},
        {"@D17b", PictureKind::Date, 8},
        {"@d1", PictureKind::Date, 8},
        {"@t1", PictureKind::Time, 5},
    };
    for (const auto& c : cases) {
        CompiledPicture p = buildPicture(c.pic);
        EXPECT_EQ(p.kind, c.kind) << c.pic;
        EXPECT_EQ(p.width, c.width) << c.pic;
    }
    EXPECT_TRUE(buildPicture("@D17b").blankWhenZero);
    EXPECT_FALSE(buildPicture("@D17").blankWhenZero);
}

TEST_F(Pictures, InvalidPicturesShowNothing) {
    const char* bad[] = {
        "@",       "@S",     "x@s5",    "@X5",     "@s0",     "@s256",   "@s10x", "@s1 0", "@D0",
        "@D19",    "@D",     "@D1<100", "@D1#",    "@D1--",   "@T0",     "@T9",   "@T1/",  "@n",
        "@n0",     "@n255",  "@n$9~x~", "@n(9.2",  "@n9.2)",  "@n-9.2-", "@n3.5", "@n~~9", "@n~ab9",
        "@n9.255", "@n9.2x", "@E6",     "@E9.3",   "@E12.2-", "@p##P",   "@pp",   "@p##",  "@K\\K",
        "@KK",     "@k#K",   "@n$9$",   "@n12.2.", "@D1b5",
    };
    for (const char* pic : bad) {
        CompiledPicture p = buildPicture(pic);
        EXPECT_EQ(p.kind, PictureKind::Invalid) << pic;
        EXPECT_EQ(p.width, 0) << pic;
        EXPECT_EQ(FORMAT(Value(1234), pic), "") << pic;
        EXPECT_EQ(FORMAT(Value("text"), pic), "") << pic;
        (void)DEFORMAT("12/31/99", pic);
    }
    // The longest pattern fits, one more position does not.
    EXPECT_EQ(buildPicture("@p" + std::string(254, '#') + "p").width, 254);
    EXPECT_FALSE(buildPicture("@p" + std::string(255, '#') + "p").valid());
}

// The exact texts fix each date and time picture's width (FORMAT shows exactly the width, which
// the random picture test checks for every picture).
TEST_F(Pictures, EveryDatePicture) {
    Value day(dayNumber(2026, 3, 7)); // a Saturday
    const char* expect[] = {
        " 3/07/26",    " 3/07/2026",
        "Mar  7,2026", "March         7, 2026",
        " 7/03/26",    " 7/03/2026",
        " 7 Mar 26",   " 7 Mar 2026",
        "26/03/07",    "2026/03/07",
        "260307",      "20260307",
        "03/26",       "03/2026",
        "26/03",       "2026/03",
        "03/07/26",    "Sat, March     07, 2026",
    };
    for (int n = 1; n <= 18; ++n) {
        std::string pic = "@D" + std::to_string(n);
        std::string shown = FORMAT(day, pic);
        EXPECT_EQ(shown, expect[n - 1]) << pic;
        // Pictures without a day read back as the first of the month.
        std::int64_t back = n >= 13 && n <= 16 ? dayNumber(2026, 3, 1) : dayNumber(2026, 3, 7);
        EXPECT_EQ(DEFORMAT(shown, pic).toLong(), back) << pic << " '" << shown << "'";
    }
}

TEST_F(Pictures, DateBoundariesAndNoDate) {
    EXPECT_EQ(FORMAT(Value(4), "@D1"), " 1/01/01");
    EXPECT_EQ(FORMAT(Value(4), "@D2"), " 1/01/1801");
    EXPECT_EQ(FORMAT(Value(lastDay()), "@D10"), "9999/12/31");
    EXPECT_EQ(DEFORMAT("9999/12/31", "@D10").toLong(), lastDay());
    EXPECT_EQ(DEFORMAT(" 1/01/1801", "@D2").toLong(), 4);
    // Outside the valid range is no date: blank with "b", zeros without.
    for (std::int64_t d : {std::int64_t{0}, std::int64_t{3}, std::int64_t{lastDay()} + 1, std::int64_t{-5}}) {
        EXPECT_EQ(FORMAT(Value(d), "@D17b"), "        ") << d;
        EXPECT_EQ(FORMAT(Value(d), "@D10"), "0000/00/00") << d;
    }
    EXPECT_EQ(DEFORMAT("0000/00/00", "@D10").toLong(), 0);
    EXPECT_EQ(DEFORMAT("", "@D2").toLong(), 0);
    EXPECT_EQ(DEFORMAT("        ", "@D17b").toLong(), 0);
    // Leap days: 2024 and 2000 have one, 1900 and 2023 not.
    EXPECT_EQ(DEFORMAT(" 2/29/2024", "@D2").toLong(), dayNumber(2024, 2, 29));
    EXPECT_EQ(DEFORMAT(" 2/29/2000", "@D2").toLong(), dayNumber(2000, 2, 29));
    EXPECT_EQ(DEFORMAT(" 2/29/1900", "@D2").toLong(), 0);
    EXPECT_EQ(DEFORMAT(" 2/29/2023", "@D2").toLong(), 0);
    EXPECT_EQ(DEFORMAT("13/01/2023", "@D2").toLong(), 0);
    EXPECT_EQ(DEFORMAT(" 4/31/2023", "@D2").toLong(), 0);
    EXPECT_EQ(DEFORMAT(" 1/01/1800", "@D2").toLong(), 0);
}

TEST_F(Pictures, DateFillSeparatorAndTypedText) {
    Value day(dayNumber(2026, 3, 7));
    EXPECT_EQ(FORMAT(day, "@D6-"), " 7-03-2026");
    EXPECT_EQ(FORMAT(day, "@D1_"), " 3 07 26");
    EXPECT_EQ(FORMAT(day, "@D2."), " 3.07.2026");
    EXPECT_EQ(FORMAT(day, "@D7`"), " 7,Mar,26");
    EXPECT_EQ(FORMAT(day, "@D3-"), "Mar  7-2026");
    EXPECT_EQ(FORMAT(day, "@D06"), "07/03/2026");
    EXPECT_EQ(FORMAT(day, "@D*3"), "Mar *7,2026");
    EXPECT_EQ(FORMAT(day, "@D*4"), "March******* *7, 2026");
    EXPECT_EQ(FORMAT(day, "@D_1"), " 3/07/26");
    EXPECT_EQ(DEFORMAT("March******* *7, 2026", "@D*4").toLong(), dayNumber(2026, 3, 7));
    // What people type: no leading blank, other separators, names in any case, short names.
    EXPECT_EQ(DEFORMAT("3/7/2026", "@D2").toLong(), dayNumber(2026, 3, 7));
    EXPECT_EQ(DEFORMAT("3-7-2026", "@D2").toLong(), dayNumber(2026, 3, 7));
    EXPECT_EQ(DEFORMAT("7 mar 2026", "@D8").toLong(), dayNumber(2026, 3, 7));
    EXPECT_EQ(DEFORMAT("SEPTEMBER 30, 2026", "@D4").toLong(), dayNumber(2026, 9, 30));
    EXPECT_EQ(DEFORMAT("Sept 30,2026", "@D3").toLong(), dayNumber(2026, 9, 30));
    EXPECT_EQ(DEFORMAT("Foo 30,2026", "@D3").toLong(), 0);
    EXPECT_EQ(DEFORMAT("20260307", "@D12").toLong(), dayNumber(2026, 3, 7));
    // A year typed with two digits in a four-digit place is widened too.
    int year = widenYear(26, 80, thisYear());
    EXPECT_EQ(DEFORMAT("3/7/26", "@D2").toLong(), dayNumber(year, 3, 7));
}

TEST_F(Pictures, CenturyWindow) {
    EXPECT_EQ(widenYear(17, 80, 1998), 2017);
    EXPECT_EQ(widenYear(18, 80, 1998), 1918);
    EXPECT_EQ(widenYear(98, 80, 1998), 1998);
    EXPECT_EQ(widenYear(0, 80, 1998), 2000);
    EXPECT_EQ(widenYear(99, 0, 1998), 1999);
    EXPECT_EQ(widenYear(97, 0, 1998), 2097);
    EXPECT_EQ(widenYear(98, 0, 1998), 1998);
    EXPECT_EQ(widenYear(99, 99, 1998), 1899);
    EXPECT_EQ(widenYear(98, 99, 1998), 1998);
    EXPECT_EQ(widenYear(0, 99, 2000), 2000);
    EXPECT_EQ(widenYear(1, 99, 2000), 1901);
    // Every two-digit year lands in [C - w, C + 99 - w], for the windows the picture can name.
    struct Window {
        const char* suffix;
        int w;
    } windows[] = {{"", 80},  {"<", 80},  {"<0", 80}, {"<30", 30}, {"<99", 99},
                   {">", 19}, {">0", 19}, {">1", 98}, {">99", 0}};
    int c = thisYear();
    for (const auto& win : windows) {
        std::string pic = std::string("@D1") + win.suffix;
        ASSERT_EQ(buildPicture(pic).window, win.w) << pic;
        for (int yy = 0; yy < 100; ++yy) {
            char text[16];
            std::snprintf(text, sizeof text, " 1/01/%02d", yy);
            CivilDate d = civilOf(DEFORMAT(text, pic).toLong());
            EXPECT_EQ(d.year % 100, yy) << pic << " " << text;
            EXPECT_GE(d.year, c - win.w) << pic << " " << text;
            EXPECT_LE(d.year, c + 99 - win.w) << pic << " " << text;
        }
    }
}

TEST_F(Pictures, EveryTimePicture) {
    Value afternoon(timeNumber(13, 5, 9));
    const char* expect[] = {"13:05",  "1305",       " 1:05PM",  "13:05:09",
                            "130509", " 1:05:09PM", "01:05 PM", "01:05:09 PM"};
    for (int n = 1; n <= 8; ++n) {
        std::string pic = "@T" + std::to_string(n);
        std::string shown = FORMAT(afternoon, pic);
        EXPECT_EQ(shown, expect[n - 1]) << pic;
        bool seconds = n == 4 || n == 5 || n == 6 || n == 8;
        EXPECT_EQ(DEFORMAT(shown, pic).toLong(), timeNumber(13, 5, seconds ? 9 : 0))
            << pic << " '" << shown << "'";
    }
    EXPECT_EQ(FORMAT(Value(timeNumber(0, 7, 0)), "@T3"), "12:07AM");
    EXPECT_EQ(FORMAT(Value(timeNumber(12, 0, 0)), "@T3"), "12:00PM");
    EXPECT_EQ(FORMAT(Value(timeNumber(11, 59, 0)), "@T3"), "11:59AM");
    EXPECT_EQ(FORMAT(Value(1), "@T4"), " 0:00:00");
    EXPECT_EQ(FORMAT(Value(LastTime), "@T4"), "23:59:59");
    EXPECT_EQ(FORMAT(Value(LastTime), "@T6"), "11:59:59PM");
    EXPECT_EQ(FORMAT(Value(timeNumber(9, 5, 0)), "@T01"), "09:05");
    EXPECT_EQ(FORMAT(Value(timeNumber(9, 5, 0)), "@T4."), " 9.05.00");
    EXPECT_EQ(FORMAT(Value(0), "@T1b"), "     ");
    EXPECT_EQ(FORMAT(Value(LastTime + 1), "@T1b"), "     ");
    EXPECT_EQ(DEFORMAT("12:07AM", "@T3").toLong(), timeNumber(0, 7, 0));
    EXPECT_EQ(DEFORMAT("12:07pm", "@T3").toLong(), timeNumber(12, 7, 0));
    EXPECT_EQ(DEFORMAT("1:07 p", "@T3").toLong(), timeNumber(13, 7, 0));
    EXPECT_EQ(DEFORMAT("9", "@T1").toLong(), timeNumber(9, 0, 0));
    EXPECT_EQ(DEFORMAT("24:00", "@T1").toLong(), 0);
    EXPECT_EQ(DEFORMAT("10:60", "@T1").toLong(), 0);
    EXPECT_EQ(DEFORMAT("", "@T1").toLong(), 0);
    // Every minute of the day survives the 12-hour picture.
    for (int m = 0; m < 24 * 60; ++m) {
        Value t(timeNumber(m / 60, m % 60, 0));
        ASSERT_EQ(DEFORMAT(FORMAT(t, "@T3"), "@T3").toLong(), t.toLong()) << FORMAT(t, "@T3");
    }
}

TEST_F(Pictures, NumericLayouts) {
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n9.2"), " 1,234.50");
    EXPECT_EQ(FORMAT(Value(10000000), "@n9.2"), "#########");
    EXPECT_EQ(FORMAT(Value(99999), "@n9.2"), "99,999.00");
    EXPECT_EQ(FORMAT(Value(100000), "@n9.2"), "#########");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n10`2"), "  1.234,50");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n12.`2"), "    1.234,50");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n10__2"), "  1 234 50");
    // "`" as the decimal makes "." the grouping whether or not decimals are shown.
    EXPECT_EQ(FORMAT(Value(1234567), "@n14`0"), "     1.234.567");
    EXPECT_EQ(DEFORMAT("64.671.208.735", "@n14`0").toDecimal(), D("64671208735"));
    EXPECT_EQ(FORMAT(Value(1234567), "@n9"), "1,234,567");
    EXPECT_EQ(FORMAT(Value(1234567), "@n8"), "########");
    EXPECT_EQ(FORMAT(Value(D("0.5")), "@n9.2"), "     0.50");
    EXPECT_EQ(FORMAT(Value(D("0.5")), "@n3.2"), ".50");
    EXPECT_EQ(FORMAT(Value(D("1.5")), "@n3.2"), "###");
    EXPECT_EQ(FORMAT(Value(0), "@n5"), "    0");
    // Fill characters and the grouping they imply.
    EXPECT_EQ(FORMAT(Value(42), "@n08"), "00000042");
    EXPECT_EQ(FORMAT(Value(42), "@n_8"), "      42");
    EXPECT_EQ(FORMAT(Value(1234567), "@n_8"), " 1234567");
    EXPECT_EQ(FORMAT(Value(5), "@n*10.2"), "******5.00");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n*10.2"), "**1,234.50");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n010.`2"), "001.234,50");
    // Signs: none in the picture still shows a minus where there is room.
    EXPECT_EQ(FORMAT(Value(D("-1234.5")), "@n9.2"), "-1,234.50");
    EXPECT_EQ(FORMAT(Value(D("-12345.5")), "@n9.2"), "#########");
    EXPECT_EQ(FORMAT(Value(-123), "@n4"), "-123");
    EXPECT_EQ(FORMAT(Value(-1234), "@n4"), "####");
    EXPECT_EQ(FORMAT(Value(-42), "@n08"), "-0000042");
    EXPECT_EQ(FORMAT(Value(D("-1234.5")), "@n-10.2"), " -1,234.50");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n-10.2"), "  1,234.50");
    EXPECT_EQ(FORMAT(Value(-5), "@n9.2-"), "    5.00-");
    EXPECT_EQ(FORMAT(Value(5), "@n9.2-"), "    5.00 ");
    EXPECT_EQ(FORMAT(Value(D("-1234.5")), "@n(11.2)"), " (1,234.50)");
    EXPECT_EQ(FORMAT(Value(5), "@n(10.2)"), "     5.00 ");
    EXPECT_EQ(FORMAT(Value(-42), "@n-08"), "-0000042");
    // Currency before or after, "$" or any text.
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n$10.2"), " $1,234.50");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@n$*10.2"), "$*1,234.50");
    EXPECT_EQ(FORMAT(Value(D("-1234.5")), "@n$-11.2"), " $-1,234.50");
    EXPECT_EQ(FORMAT(Value(5), "@n10.2~ kr~"), "   5.00 kr");
    EXPECT_EQ(FORMAT(Value(5), "@n~EUR~8.2"), " EUR5.00");
    // Implied decimal point: digits without the point.
    EXPECT_EQ(FORMAT(Value(D("12.34")), "@n_6v2"), "  1234");
    EXPECT_EQ(DEFORMAT("  1234", "@n_6v2").toDecimal(), D("12.34"));
    EXPECT_EQ(DEFORMAT("12.5", "@n_6v2").toDecimal(), D("12.5"));
    // Blank when zero: the rounded value decides.
    EXPECT_EQ(FORMAT(Value(0), "@n9.2b"), "         ");
    EXPECT_EQ(FORMAT(Value(D("0.004")), "@n9.2b"), "         ");
    EXPECT_EQ(FORMAT(Value(D("-0.004")), "@n9.2"), "     0.00");
    EXPECT_EQ(FORMAT(Value(D("0.005")), "@n9.2b"), "     0.01");
}

TEST_F(Pictures, NumericRoundingIsExact) {
    EXPECT_EQ(FORMAT(Value(D("0.125")), "@n6.2"), "  0.13");
    EXPECT_EQ(FORMAT(Value(D("-0.125")), "@n6.2"), " -0.13");
    EXPECT_EQ(FORMAT(Value(D("2.675")), "@n6.2"), "  2.68");
    EXPECT_EQ(FORMAT(Value(2.675), "@n6.2"), "  2.68"); // a binary real as its shortest text
    EXPECT_EQ(FORMAT(Value(D("1.005")), "@n6.2"), "  1.01");
    EXPECT_EQ(FORMAT(Value(D("999.995")), "@n8.2"), "1,000.00");
    EXPECT_EQ(FORMAT(Value(D("999.995")), "@n7.2"), "#######");
    EXPECT_EQ(FORMAT(Value(D("9.5")), "@n1"), "#");
    EXPECT_EQ(FORMAT(Value(D("9.4")), "@n1"), "9");
    EXPECT_EQ(FORMAT(Value(D("0.0000000000000000000000000000005")), "@n_40.30"),
              "        0.000000000000000000000000000001");
    EXPECT_EQ(FORMAT(Value(D("1234567890123456789012345678901")), "@n_31"),
              "1234567890123456789012345678901");
    EXPECT_EQ(FORMAT(Value(D("-1234567890123456789012345678901")), "@n_31"), std::string(31, '#'));
    EXPECT_EQ(FORMAT(Value(std::int64_t{INT64_MIN}), "@n_20"), "-9223372036854775808");
    EXPECT_EQ(FORMAT(Value(1e300), "@E12.3"), "  1.000E+300");
    EXPECT_EQ(FORMAT(Value(std::nan("")), "@n9.2"), "#########");
    EXPECT_EQ(FORMAT(Value(1.0 / 0.0), "@E12.3"), "############");
    EXPECT_EQ(FORMAT(Value(D("5")), "@n_3.100").size(), 0u); // 100 decimals do not fit in 3
    EXPECT_EQ(FORMAT(Value(D("0.5")), "@n_102.100"), "0.5" + std::string(99, '0'));
}

TEST_F(Pictures, NumericRoundTrips) {
    const char* pics[] = {"@n9.2",   "@n-12.3", "@n(14.4)",    "@n$12.2", "@n*12.2",  "@n012.2-", "@n10`2",
                          "@n_12v3", "@n12.`2", "@n~ kr~14.2", "@n16",    "@n$-16.5", "@n12__2"};
    const char* values[] = {"0",      "1",         "-1",     "0.01",     "-0.01", "1234.5",  "-1234.5",
                            "999.99", "12345.678", "-0.005", "0.994999", "7000",  "-65432.1"};
    for (const char* pic : pics) {
        CompiledPicture p = buildPicture(pic);
        ASSERT_TRUE(p.valid()) << pic;
        for (const char* v : values) {
            Decimal d = D(v);
            std::string shown = FORMAT(Value(d), p);
            ASSERT_EQ(shown.size(), static_cast<std::size_t>(p.width)) << pic << " " << v;
            if (shown.find('#') != std::string::npos) continue;
            EXPECT_EQ(DEFORMAT(shown, p).toDecimal(), d.rounded(p.numeric.decimals))
                << pic << " " << v << " '" << shown << "'";
        }
    }
    EXPECT_EQ(DEFORMAT(" $-1,234.50", "@n$-11.2").toDecimal(), D("-1234.5"));
    EXPECT_EQ(DEFORMAT("(1,234.50)", "@n(11.2)").toDecimal(), D("-1234.5"));
    EXPECT_EQ(DEFORMAT("1.234,5", "@n10`2").toDecimal(), D("1234.5"));
    EXPECT_EQ(DEFORMAT("1234.5", "@n9.2").toDecimal(), D("1234.5"));
    EXPECT_EQ(DEFORMAT("#########", "@n9.2").toDecimal(), D("0"));
    EXPECT_EQ(DEFORMAT("", "@n9.2").toDecimal(), D("0"));
}

TEST_F(Pictures, Scientific) {
    EXPECT_EQ(FORMAT(Value(123456), "@E12.3"), "  1.235E+005");
    EXPECT_EQ(FORMAT(Value(-123456), "@E12.3"), " -1.235E+005");
    EXPECT_EQ(FORMAT(Value(D("0.00012345")), "@E9.2"), "1.23E-004");
    EXPECT_EQ(FORMAT(Value(D("-0.00012345")), "@E9.2"), "#########"); // no room for the sign
    EXPECT_EQ(FORMAT(Value(D("9.9995")), "@E10.3"), "1.000E+001");
    EXPECT_EQ(FORMAT(Value(0), "@E10.3"), "0.000E+000");
    EXPECT_EQ(FORMAT(Value(0), "@E10.3b"), "          ");
    EXPECT_EQ(FORMAT(Value(D("1234.5")), "@E10`3"), "1,235E+003");
    EXPECT_EQ(FORMAT(Value(7), "@E7"), " 7E+000");
    EXPECT_EQ(FORMAT(Value(D("0.0000000000000000000000000000001")), "@E10.3"), "1.000E-031");
    EXPECT_EQ(DEFORMAT("  1.235E+005", "@E12.3").toDecimal(), D("123500"));
    EXPECT_EQ(DEFORMAT(" -1.235E-005", "@E12.3").toDecimal(), D("-0.00001235"));
    EXPECT_EQ(DEFORMAT("1,235E+003", "@E10`3").toDecimal(), D("1235"));
    EXPECT_DOUBLE_EQ(DEFORMAT("1.000E+300", "@E12.3").toReal(), 1e300);
}

TEST_F(Pictures, Patterns) {
    const char* phone = "@p###-###-####p";
    EXPECT_EQ(FORMAT(Value(std::int64_t{5551234567}), phone), "555-123-4567");
    EXPECT_EQ(DEFORMAT("555-123-4567", phone).toLong(), 5551234567);
    EXPECT_EQ(DEFORMAT("5551234567", phone).toLong(), 5551234567);
    EXPECT_EQ(FORMAT(Value(42), phone), "000-000-0042");
    EXPECT_EQ(FORMAT(Value(std::int64_t{55512345678}), phone), "############");
    EXPECT_EQ(FORMAT(Value(-5), phone), "############");
    EXPECT_EQ(FORMAT(Value(D("41.5")), "@P<<#P"), " 42");
    EXPECT_EQ(FORMAT(Value(5), "@P<<#P"), "  5");
    EXPECT_EQ(FORMAT(Value(0), "@P<<#P"), "  0");
    EXPECT_EQ(FORMAT(Value(0), "@P<<#Pb"), "   ");
    EXPECT_EQ(FORMAT(Value(1234), "@P<<<.<<#P"), "  1.234");
    EXPECT_EQ(DEFORMAT("  5", "@P<<#P").toLong(), 5);
    for (std::int64_t v : {std::int64_t{0}, std::int64_t{1}, std::int64_t{999}, std::int64_t{9999999999}}) {
        EXPECT_EQ(DEFORMAT(FORMAT(Value(v), phone), phone).toLong(), v) << v;
    }
}

TEST_F(Pictures, StringsAndKeyIn) {
    EXPECT_EQ(FORMAT(Value("hello world"), "@s5"), "hello");
    EXPECT_EQ(FORMAT(Value("hi"), "@s5"), "hi   ");
    EXPECT_EQ(FORMAT(Value(D("12.50")), "@s6"), "12.5  ");
    EXPECT_EQ(FORMAT(Value(0), "@s3b"), "   ");
    EXPECT_EQ(FORMAT(Value("0"), "@s3b"), "   ");
    EXPECT_EQ(FORMAT(Value("x"), "@s3b"), "x  ");
    EXPECT_EQ(FORMAT(Value("abc"), "").size(), 255u);
    EXPECT_EQ(numText(DEFORMAT("$-1,234.50 each", "@s20")), "-1234.5");
    EXPECT_EQ(numText(DEFORMAT("1.5e3", "@s20")), "1500");
    EXPECT_EQ(numText(DEFORMAT("x1.2.3-4", "@s20")), "1.234");
    EXPECT_EQ(numText(DEFORMAT("abc", "@s20")), "0");
    EXPECT_EQ(numText(DEFORMAT("7e", "@s20")), "7");
    EXPECT_EQ(numText(DEFORMAT("1e-2", "")), "0.01");
    // Key-in: FORMAT copies the text; DEFORMAT keeps the picture's literals in place.
    const char* key = "@K###-###-####K";
    EXPECT_EQ(FORMAT(Value("555-123-4567"), key), "555-123-4567");
    EXPECT_EQ(numText(DEFORMAT("555-123-4567", key)), "text:555-123-4567");
    EXPECT_EQ(numText(DEFORMAT("5551234567", key)), "text:555-123-4567");
    EXPECT_EQ(numText(DEFORMAT(FORMAT(Value("555-123-4567"), key), key)), "text:555-123-4567");
    EXPECT_EQ(numText(DEFORMAT("ab", "@K@@\\#|?K")), "text:ab");
    EXPECT_EQ(numText(DEFORMAT("abX", "@K@@\\#|?K")), "text:ab#X");
    EXPECT_EQ(buildPicture("@K@@\\#|?K").width, 4);
    EXPECT_EQ(FORMAT(Value("abcdef"), "@K@@\\#|?K"), "abcd");
}

// A number held as text shows as the number the language reads from it, whichever way it is
// written; text appended to a buffer, and a field's text, are what FORMAT answers.
TEST_F(Pictures, NumbersHeldAsTextAndTextAppendedToABuffer) {
    const char* texts[] = {"5551234567",
                           "  -3.5",
                           "\t42",
                           "+.5",
                           "-0",
                           "-0.000",
                           "000123",
                           "12.5.3",
                           "1e5",
                           "7abc",
                           "",
                           "-",
                           ".",
                           " - 5",
                           "0.005",
                           "-0.005",
                           "999.995",
                           "1234567890123456789012345678901",
                           "12345678901234567890123456789012",
                           "1234567890123456789012345678901234567890",
                           "0.00000000000000000000000000000000051",
                           "18446744073709551616",
                           "-9223372036854775808"};
    const char* pictures[] = {"@n9.2",           "@n-12.3", "@n_40.30", "@n_45",
                              "@p###-###-####p", "@P<<#Pb", "@E12.3",   "@n9.2b"};
    for (const char* t : texts)
        for (const char* pic : pictures)
            EXPECT_EQ(FORMAT(Value(t), pic), FORMAT(Value(Value(t).toDecimal()), pic))
                << "'" << t << "' " << pic;

    Layout l;
    l.add("NAME", FieldType::String, 20);
    l.add("CODE", FieldType::CString, 8);
    l.add("TEXTNUMBER", FieldType::String, 6);
    l.add("PHONE", FieldType::String, 40);
    l.addDecimal("SALARY", 7, 2);
    l.add("DAY", FieldType::Long);
    Record r(l);
    r.set("NAME", Value("Smith-Jones"));
    r.set("CODE", Value("AB"));
    r.set("TEXTNUMBER", Value("0"));
    r.set("PHONE", Value(" 005551234567.50"));
    r.set("SALARY", Value(D("12345.6")));
    r.set("DAY", Value(dayNumber(2026, 3, 7)));
    const std::pair<const char*, const char*> shown[] = {
        {"NAME", "@s20"},      {"NAME", "@s5"},          {"NAME", "@s30"},
        {"NAME", "@K@@@@K"},   {"CODE", "@s4"},          {"TEXTNUMBER", "@s6b"},
        {"TEXTNUMBER", "@s6"}, {"SALARY", "@n12.2"},     {"SALARY", "@s12"},
        {"DAY", "@D17b"},      {"DAY", "@T4"},           {"DAY", "@E12.3"},
        {"NAME", "@x"},        {"TEXTNUMBER", "@n9.2b"}, {"PHONE", "@p###-###-####p"},
        {"PHONE", "@n_16"},    {"PHONE", "@E12.3"},      {"NAME", "@n9.2"}};
    for (const auto& [field, pic] : shown) {
        const CompiledPicture p = buildPicture(pic);
        std::string out = "before|";
        FORMAT(r.ref(field), p, out);
        EXPECT_EQ(out, "before|" + FORMAT(r.get(field), pic)) << field << " " << pic;
        out = "before|";
        FORMAT(r.get(field), p, out);
        EXPECT_EQ(out, "before|" + FORMAT(r.get(field), pic)) << field << " " << pic;
    }
}

TEST_F(Pictures, DesktopSettingsBuildPictures17And18And7And8) {
    Value day(dayNumber(2026, 3, 7));
    Value time(timeNumber(13, 5, 9));
    // The defaults first, through the cache, so that a stale cache entry would show below.
    EXPECT_EQ(FORMAT(day, "@D17"), "03/07/26");
    EXPECT_EQ(FORMAT(time, "@T7"), "01:05 PM");
    IntlSettings s;
    s.iTime = 1;
    s.iTLzero = 0;
    s.sTime = ".";
    s.sShortDate = "dd.MM.yyyy";
    s.sLongDate = "dddd d MMMM yyyy 'AD'";
    s.s1159 = "vm";
    s.s2359 = "nm";
    setIntlSettings(s);
    EXPECT_EQ(FORMAT(day, "@D17"), "07.03.2026");
    EXPECT_EQ(FORMAT(day, "@D17-"), "07-03-2026");
    EXPECT_EQ(DEFORMAT("7.3.2026", "@D17").toLong(), day.toLong());
    EXPECT_EQ(FORMAT(day, "@D18"), "Saturday   7 March     2026 AD");
    EXPECT_EQ(DEFORMAT("Saturday 7 March 2026 AD", "@D18").toLong(), day.toLong());
    EXPECT_EQ(FORMAT(time, "@T7"), "13.05");
    EXPECT_EQ(FORMAT(Value(timeNumber(9, 5, 9)), "@T8"), " 9.05.09");
    EXPECT_EQ(FORMAT(time, "@T3"), " 1:05nM");
    EXPECT_EQ(DEFORMAT(" 1:05nM", "@T3").toLong(), timeNumber(13, 5, 0));
    // A twelve-hour clock with markers of different lengths.
    s.iTime = 0;
    s.iTLzero = 1;
    s.sTime = ":";
    s.s1159 = "a";
    s.s2359 = "pm.";
    setIntlSettings(s);
    EXPECT_EQ(FORMAT(time, "@T7"), "01:05 pm.");
    EXPECT_EQ(FORMAT(Value(timeNumber(1, 5, 0)), "@T7"), "01:05 a  ");
    EXPECT_EQ(DEFORMAT("01:05 pm.", "@T7").toLong(), timeNumber(13, 5, 0));
    EXPECT_EQ(DEFORMAT("01:05 a", "@T7").toLong(), timeNumber(1, 5, 0));
    // Formats without any date part fall back to the defaults.
    s.sShortDate = "";
    s.sLongDate = "'just text'";
    setIntlSettings(s);
    EXPECT_EQ(FORMAT(day, "@D17"), "03/07/26");
    EXPECT_EQ(FORMAT(day, "@D18"), "Sat, March     07, 2026");
}

TEST_F(Pictures, SettingsAreReadFromTheDesktopProfileOncePerRun) {
    std::string path = std::string(SORV_TEST_BINARY_DIR) + "/pictures_desktop.ini";
    auto write = [&](const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    };
    const char* old = std::getenv("SORVDEMO_DESKTOP_PROFILE");
    std::string saved = old ? old : "";
    setenv("SORVDEMO_DESKTOP_PROFILE", path.c_str(), 1);
    Value day(dayNumber(2026, 3, 7));
    Value time(timeNumber(13, 5, 9));
    write("[other]\nsShortDate=x\n[intl]\nsShortDate=yyyy-MM-dd\niTime=1\nsTime=h\ns2359=pm\n");
    reloadIntlSettings();
    EXPECT_EQ(FORMAT(day, "@D17"), "2026-03-07");
    EXPECT_EQ(FORMAT(time, "@T7"), "13h05");
    EXPECT_EQ(FORMAT(time, "@T3"), " 1:05pM");
    EXPECT_EQ(intlSettings().s1159, "AM");
    // A changed profile is not seen until the settings are read again.
    write("[intl]\nsShortDate=dd/MM/yyyy\n");
    EXPECT_EQ(FORMAT(day, "@D17"), "2026-03-07");
    reloadIntlSettings();
    EXPECT_EQ(FORMAT(day, "@D17"), "07/03/2026");
    // Unreadable content and a missing file mean the defaults.
    write(std::string("\0\xff[intl\n=\n\x01\x02", 12));
    reloadIntlSettings();
    EXPECT_EQ(FORMAT(day, "@D17"), "03/07/26");
    EXPECT_EQ(FORMAT(time, "@T7"), "01:05 PM");
    std::remove(path.c_str());
    reloadIntlSettings();
    EXPECT_EQ(FORMAT(day, "@D18"), "Sat, March     07, 2026");
    if (old)
        setenv("SORVDEMO_DESKTOP_PROFILE", saved.c_str(), 1);
    else
        unsetenv("SORVDEMO_DESKTOP_PROFILE");
}

TEST_F(Pictures, CacheIsSharedSafelyBetweenThreads) {
    const char* pics[] = {"@n9.2", "@D17b", "@s30", "@p###-###-####p", "@T6", "@E12.3"};
    std::vector<std::string> expect;
    for (const char* p : pics) expect.push_back(FORMAT(Value(dayNumber(2026, 3, 7)), buildPicture(p)));
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                std::size_t k = static_cast<std::size_t>((i + t) % 6);
                if (FORMAT(Value(dayNumber(2026, 3, 7)), pics[k]) != expect[k]) ++mismatches;
                if (t == 0 && i % 5000 == 0) clearPictureCache();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Layouts where what FORMAT shows once did not read back (found by the random test).
TEST_F(Pictures, ReadsBackWhatItShowsInOddLayouts) {
    auto same = [](const Value& v, const char* pic) { return DEFORMAT(FORMAT(v, pic), pic).toDecimal(); };
    // Digit parts with no separator between them: a blank stands for one position.
    EXPECT_EQ(FORMAT(Value(timeNumber(6, 9, 7)), "@T2"), " 609");
    EXPECT_EQ(DEFORMAT(" 609", "@T2").toLong(), timeNumber(6, 9, 0));
    EXPECT_EQ(DEFORMAT(" 60907", "@T5").toLong(), timeNumber(6, 9, 7));
    EXPECT_EQ(DEFORMAT("*60907", "@T*5").toLong(), timeNumber(6, 9, 7));
    EXPECT_EQ(DEFORMAT("0609", "@T2").toLong(), timeNumber(6, 9, 0));
    // A blank decimal point is a point only where it stands, also with no digit before it.
    EXPECT_EQ(DEFORMAT("3,012,723 00", "@n12_2").toDecimal(), D("3012723"));
    EXPECT_EQ(same(Value(D("-0.003")), "@n$06._3-"), D("-0.003"));
    // A currency text holding a digit is looked for on its own side.
    EXPECT_EQ(same(Value(D("30.36")), "@n9.2~3~"), D("30.36"));
    // An exponent below what a decimal holds reads as a binary real, not as zero.
    EXPECT_GT(DEFORMAT("5.000E-324", "@E12.3").toReal(), 0.0);
    // A blank key-in field reads back empty, not as the picture's literals.
    EXPECT_EQ(DEFORMAT("            ", "@K###-###-#0###K").text(), "");
    EXPECT_EQ(DEFORMAT("", "@K###-###-#0###K").text(), "");
    EXPECT_EQ(DEFORMAT("555", "@K###-###-#0###K").text(), "555");
    // A zero fill pads the same positions as any other fill, and reads back.
    Value day(dayNumber(2026, 3, 7));
    EXPECT_EQ(FORMAT(Value(4), "@D04"), "January00000 01, 1801");
    EXPECT_EQ(FORMAT(day, "@D04"), "March0000000 07, 2026");
    EXPECT_EQ(DEFORMAT(FORMAT(day, "@D04"), "@D04").toLong(), day.toLong());
    EXPECT_EQ(DEFORMAT(FORMAT(day, "@D07"), "@D07").toLong(), day.toLong());
    // Desktop formats: a name right before other letters, no month, one marker only.
    IntlSettings s;
    s.sShortDate = "yyyy dddMMM d";
    s.sLongDate = "d yyyy";
    s.s2359 = "";
    setIntlSettings(s);
    EXPECT_EQ(FORMAT(day, "@D17"), "2026 SatMar  7");
    EXPECT_EQ(DEFORMAT("2026 SatMar  7", "@D17").toLong(), day.toLong());
    EXPECT_EQ(DEFORMAT(" 7 2026", "@D18").toLong(), dayNumber(2026, 1, 7));
    EXPECT_EQ(DEFORMAT(" 0 0000", "@D18").toLong(), 0);
    EXPECT_EQ(FORMAT(Value(timeNumber(23, 42, 0)), "@T7"), "11:42   ");
    EXPECT_EQ(DEFORMAT("11:42", "@T7").toLong(), timeNumber(23, 42, 0));
    EXPECT_EQ(DEFORMAT("11:42 AM", "@T7").toLong(), timeNumber(11, 42, 0));
}
