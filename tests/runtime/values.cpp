// Exact decimals, packed storage, typed field access and the error table.
#include "runtime/decimal.h"
#include "runtime/errors.h"
#include "runtime/field.h"
#include "runtime/registry.h"
#include "runtime/types.h"

#include <gtest/gtest.h>
#include <thread>

using namespace sorv;

static Decimal D(const char* s) {
    auto d = Decimal::parse(s);
    EXPECT_TRUE(d.has_value()) << s;
    return d.value_or(Decimal());
}

TEST(Decimal, ArithmeticIsExact) {
    EXPECT_EQ((D("0.1") + D("0.2")).toString(), "0.3");
    EXPECT_EQ(D("0.1") + D("0.2"), D("0.3"));
    EXPECT_EQ((D("1234567890123456789.12") - D("0.02")).toString(), "1234567890123456789.1");
    EXPECT_EQ((D("-2.5") * D("4")).toString(), "-10");
    EXPECT_EQ((D("1") / D("3")).toFixed(4), "0.3333");
    EXPECT_EQ((D("2") / D("3")).toFixed(2), "0.67");
    EXPECT_EQ((D("10") / D("4")).toString(), "2.5");
    EXPECT_TRUE((D("1") / D("0")).overflowed());
    EXPECT_EQ(D("1.50"), D("1.5"));
    EXPECT_LT(D("-0.001"), D("0"));
    EXPECT_LT(D("99999999999999999999.9"), D("100000000000000000000"));
    EXPECT_EQ(D("1.5e3").toString(), "1500");
    EXPECT_EQ(D("  -.25 ").toString(), "-0.25");
    EXPECT_FALSE(Decimal::parse("1.2.3").has_value());
    EXPECT_FALSE(Decimal::parse("abc").has_value());
    EXPECT_FALSE(Decimal::parse("").has_value());
    EXPECT_FALSE(Decimal::parse("1e").has_value());
}

TEST(Decimal, RoundingIsHalfAwayFromZero) {
    EXPECT_EQ(D("2.345").toFixed(2), "2.35");
    EXPECT_EQ(D("-2.345").toFixed(2), "-2.35");
    EXPECT_EQ(D("2.344").toFixed(2), "2.34");
    EXPECT_EQ(D("0.5").toFixed(0), "1");
    EXPECT_EQ(D("7").toFixed(3), "7.000");
    EXPECT_EQ(Decimal::fromDouble(0.1).toString(), "0.1");
    EXPECT_EQ(D("123.456").truncated(1).toString(), "123.4");
}

TEST(Decimal, WideOperandsDoNotOverflowSilently) {
    Decimal big = D("9999999999999999999999999999999"); // 31 digits
    EXPECT_FALSE(big.overflowed());
    EXPECT_TRUE((big * big).overflowed());
    EXPECT_TRUE((big + big).overflowed());
    Decimal fine = D("0.0000000000000000000000000000001");
    EXPECT_EQ((fine * D("10")).toString(), "0.000000000000000000000000000001");
    // Mixing a long whole part with a long fraction keeps the whole part exact.
    Decimal sum = D("1234567890123456789012345") + D("0.123456789012345678901");
    EXPECT_EQ(sum.truncated(0).toString(), "1234567890123456789012345");
}

TEST(Decimal, PackedRoundTrip) {
    for (bool p : {false, true}) {
        for (const char* s : {"0", "1", "-1", "12345.67", "-99999.99", "0.01"}) {
            std::uint8_t buf[4] = {};
            ASSERT_TRUE(packDecimal(D(s), 7, 2, buf, p)) << s;
            EXPECT_EQ(unpackDecimal(buf, 7, 2, p), D(s)) << s;
        }
        std::uint8_t buf[4] = {};
        EXPECT_FALSE(packDecimal(D("123456"), 7, 2, buf, p)); // 8 digits do not fit in 7
    }
    std::uint8_t buf[3];
    ASSERT_TRUE(packDecimal(D("-12.3"), 4, 1, buf, false));
    EXPECT_EQ(buf[0], 0xF0); // sign nibble, then a padding zero before the four digits
    EXPECT_EQ(buf[1], 0x01);
    EXPECT_EQ(buf[2], 0x23);
    EXPECT_EQ(packedSize(4), 3);
    EXPECT_EQ(packedSize(7), 4);
}

TEST(Fields, TypedAccessOverABuffer) {
    Layout l;
    int s = l.add("CUS:Name", FieldType::String, 10);
    int c = l.add("CUS:Code", FieldType::CString, 4);
    int p = l.add("CUS:Tag", FieldType::PString, 4);
    int b = l.add("CUS:Flag", FieldType::Byte);
    int sh = l.add("CUS:Small", FieldType::Short);
    int lg = l.add("CUS:Id", FieldType::Long);
    int d = l.addDecimal("CUS:Amount", 9, 2);
    int r = l.add("CUS:Rate", FieldType::Real);
    EXPECT_EQ(l.size(), 10u + 4 + 4 + 1 + 2 + 4 + 5 + 8);
    EXPECT_EQ(l.field(static_cast<std::size_t>(d)).offset, 25u);
    Record rec(l);
    rec.ref(s).set("Smith and Sons Ltd");
    EXPECT_EQ(rec.ref(s).get().text(), "Smith and ");
    rec.ref(s).set("Ann");
    EXPECT_EQ(rec.ref(s).get().text(), "Ann       ");
    EXPECT_EQ(compareText(rec.ref(s).get().text(), "Ann"), 0);
    rec.ref(c).set("ABCDEF");
    EXPECT_EQ(rec.ref(c).get().text(), "ABC");
    rec.ref(p).set("xy");
    EXPECT_EQ(rec.ref(p).get().text(), "xy");
    rec.ref(b).set(300);
    EXPECT_EQ(rec.ref(b).get().toLong(), 255);
    rec.ref(sh).set(-40000);
    EXPECT_EQ(rec.ref(sh).get().toLong(), -32768);
    rec.ref(lg).set(2.9);
    EXPECT_EQ(rec.ref(lg).get().toLong(), 2);
    rec.ref(d).set(D("1234.565"));
    EXPECT_EQ(rec.ref(d).get().toDecimal().toString(), "1234.57");
    rec.ref(d).set("  -12.5abc");
    EXPECT_EQ(rec.ref(d).get().toDecimal().toString(), "-12.5");
    rec.ref(r).set(0.25);
    EXPECT_DOUBLE_EQ(rec.ref(r).get().toReal(), 0.25);
    EXPECT_EQ(l.find("name"), s);
    EXPECT_EQ(l.find("cus:AMOUNT"), d);
    EXPECT_EQ(l.find("nothing"), -1);
    rec.clear();
    EXPECT_EQ(rec.ref(s).get().text(), std::string(10, ' '));
    EXPECT_EQ(rec.ref(d).get().toDecimal(), Decimal(0));
}

TEST(Fields, ShortBufferReadsBlankNeverFaults) {
    Layout l;
    l.add("A", FieldType::Long);
    int t = l.add("B", FieldType::String, 8);
    std::vector<std::uint8_t> tiny(6, 'x');
    Value v = readField(l.field(static_cast<std::size_t>(t)), tiny);
    EXPECT_EQ(v.text(), "xx");
    writeField(l.field(static_cast<std::size_t>(t)), tiny, Value("hello"));
    EXPECT_EQ(tiny[4], 'h');
    EXPECT_EQ(tiny[5], 'e');
}

TEST(Fields, GroupsAndOver) {
    Layout l;
    int g = l.beginGroup("G");
    l.add("G:A", FieldType::String, 3);
    l.add("G:B", FieldType::Short);
    l.endGroup();
    int o = l.addOver(g, "G:Raw", FieldType::String, 99);
    EXPECT_EQ(l.field(static_cast<std::size_t>(g)).size, 5u);
    EXPECT_EQ(l.field(static_cast<std::size_t>(o)).size, 5u);
    EXPECT_EQ(l.size(), 5u);
    Record r(l);
    r.set("G:A", "abc");
    EXPECT_EQ(r.get("G:Raw").text().substr(0, 3), "abc");
}

TEST(Values, ComparisonRules) {
    EXPECT_EQ(compare(Value("abc  "), Value("abc")), 0);
    EXPECT_LT(compare(Value("abc"), Value("abd")), 0);
    EXPECT_EQ(compare(Value(" 10"), Value(10)), 0);
    EXPECT_GT(compare(Value("9"), Value("10")), 0); // two texts compare as texts
    EXPECT_LT(compare(Value(9), Value("10")), 0);
    EXPECT_EQ(compare(Value(D("0.1") + D("0.2")), Value(D("0.3"))), 0);
    EXPECT_EQ(Value(D("2.50")).toText(), "2.5");
    EXPECT_EQ(Value(0.1).toText(), "0.1");
    EXPECT_EQ(Value("12abc").toLong(), 12);
}

TEST(Registry, ThreadNamesShadowGlobalOnes) {
    Layout l;
    l.add("CUST:Company", FieldType::String, 20);
    Record g(l), t(l);
    globalNames().bindRecord(g);
    g.set("CUST:Company", "global");
    ASSERT_TRUE(lookupName("cust:company"));
    EXPECT_EQ(clipRight(lookupName("CUST:COMPANY")->get().text()), "global");
    std::thread([&] {
        threadNames().bindRecord(t);
        t.set("CUST:Company", "mine");
        EXPECT_EQ(clipRight(lookupName("CUST:Company")->get().text()), "mine");
    }).join();
    EXPECT_EQ(clipRight(lookupName("CUST:Company")->get().text()), "global");
    globalNames().unbindRecord(g);
    EXPECT_FALSE(lookupName("CUST:Company"));
}

TEST(Errors, TextsAndPerThreadState) {
    EXPECT_EQ(errorText(78), "Invalid Number Of Parameters ");
    EXPECT_EQ(errorText(350), "Not Supported ");
    EXPECT_EQ(errorText(403), "Termination caused by signal.  (User break or Floating point)");
    EXPECT_EQ(errorText(509), "Internal error 09");
    EXPECT_EQ(errorText(802), "Mismatched PUSHSCOPE/POPSCOPE");
    EXPECT_EQ(errorText(1), "");
    setFileError(5);
    EXPECT_EQ(errorCode(), 90);
    EXPECT_EQ(error(), "File System Error");
    EXPECT_EQ(fileErrorCode(), 305);
    EXPECT_EQ(fileError(), "Access Denied");
    std::thread([] {
        EXPECT_EQ(errorCode(), 0);
        setError(35);
        EXPECT_EQ(error(), "Record Not Found");
    }).join();
    EXPECT_EQ(errorCode(), 90);
    setError(30);
    EXPECT_EQ(fileErrorCode(), 0);
    setErrnoError(ENOENT);
    EXPECT_EQ(fileErrorCode(), 302);
    clearError();
    EXPECT_EQ(error(), "");
}

TEST(Types, Names) {
    EXPECT_EQ(typeName(FieldType::Decimal), "DECIMAL");
    EXPECT_EQ(typeName(30), "STDNUM");
    EXPECT_EQ(typeName(31), "UNKNOWN");
    EXPECT_EQ(typeName(-1), "UNKNOWN");
}

#include "runtime/datetime.h"

TEST(Dates, DayAndTimeNumbers) {
    EXPECT_EQ(dayNumber(1801, 1, 1), 4);
    EXPECT_EQ(civilOf(4).year, 1801);
    EXPECT_EQ(civilOf(3).year, 0); // before the first valid day
    CivilDate leap = civilOf(dayNumber(2000, 2, 29));
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    EXPECT_FALSE(isValidCivil(1900, 2, 29));
    EXPECT_TRUE(isValidCivil(2000, 2, 29));
    for (std::int32_t d = 4; d < lastDay(); d += 997) {
        CivilDate c = civilOf(d);
        ASSERT_EQ(dayNumber(c.year, c.month, c.day), d);
    }
    EXPECT_EQ(civilOf(lastDay()).year, 9999);
    EXPECT_EQ(weekdayOf(dayNumber(2026, 12, 7)), 1); // a Monday
    EXPECT_EQ(timeNumber(0, 0, 0), 1);
    EXPECT_EQ(timeNumber(23, 59, 59, 99), LastTime);
    ClockTime c = clockOf(timeNumber(13, 5, 9, 42));
    EXPECT_EQ(c.hour, 13);
    EXPECT_EQ(c.minute, 5);
    EXPECT_EQ(c.second, 9);
    EXPECT_EQ(c.hundredth, 42);
    EXPECT_FALSE(isValidTime(0));
    EXPECT_EQ(monthAbbrev(12), "Dec");
}
