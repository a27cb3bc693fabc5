// Trace logs byte for byte: the declaration written on open, the operation entries with field
// values in every form, error lines, the owner's password never written, encrypted files without
// values, and the profile's defaults.
#include "data/trace.h"
#include "data/files.h"
#include "runtime/datetime.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace sorv;
using namespace sorvtest;

namespace {

std::int64_t ticks = 0;
// Every reading of the clock advances it by 1.23 seconds, so every entry took exactly that.
std::int64_t fakeClock() {
    return ticks += 123;
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SORVDEMO_DESKTOP_PROFILE", dir.file("desktop.ini").c_str(), 1);
        setTraceClock(&fakeClock);
    }
    void TearDown() override {
        setTraceClock(nullptr);
        unsetenv("SORVDEMO_DESKTOP_PROFILE");
    }
    void profile(const std::string& text) { spit(dir.file("desktop.ini"), text); }
    TempDir dir;
};

FileDecl customer(const std::string& path) {
    FileDecl f;
    f.label = "Customer";
    f.driver = "DOS";
    f.name = path;
    f.owner = "s3cr3t-password";
    f.attributes = fileattr::Create | fileattr::Thread;
    Layout l;
    int sysId = l.add("CUST:SysId", FieldType::Long);
    int company = l.add("CUST:Company", FieldType::String, 20, 0, "@s20");
    l.addOver(company, "CUST:Alias", FieldType::String, 4);
    l.addDecimal("CUST:Price", 7, 2);
    l.beginGroup("CUST:Addr");
    int city = l.add("CUST:City", FieldType::String, 10);
    l.field(static_cast<std::size_t>(city)).externalName = "TOWN";
    int zip = l.add("CUST:Zip", FieldType::CString, 6);
    l.endGroup();
    l.add("CUST:Born", FieldType::Date);
    l.add("CUST:At", FieldType::Time);
    l.add("CUST:Flag", FieldType::Byte);
    l.add("CUST:Count", FieldType::UShort);
    l.add("CUST:Ratio", FieldType::Real);
    int tags = l.add("CUST:Tags", FieldType::Short);
    l.setDim(tags, 2);
    f.record.setLayout(l);
    f.keys.push_back(KeyDecl{
        "CUST:KeySysId", false, {{sysId, false}}, keyflag::Opt | keyflag::NoCase | keyflag::Primary, ""});
    f.keys.push_back(KeyDecl{"CUST:KeyCityZip", true, {{city, false}, {zip, true}}, keyflag::Dup, "cityzip"});
    f.memos.push_back(MemoDecl{"CUST:Notes", false, 200, "notes.mem", false});
    f.memos.push_back(MemoDecl{"CUST:Photo", true, 0, "", true});
    f.memoValues.resize(2);
    return f;
}

void fill(FileDecl& f, std::int64_t born, std::int64_t at, const std::string& company) {
    f.record.set("CUST:SysId", Value(42));
    f.record.set("CUST:Company", Value(company));
    f.record.set("CUST:Price", Value(*Decimal::parse("1234.50")));
    f.record.set("CUST:City", Value("Paris"));
    f.record.set("CUST:Zip", Value("75001"));
    f.record.set("CUST:Born", Value(born));
    f.record.set("CUST:At", Value(at));
    f.record.set("CUST:Flag", Value(31));
    f.record.set("CUST:Count", Value(65535));
    f.record.set("CUST:Ratio", Value(2.5));
    FieldRef tags = f.record.ref("CUST:Tags");
    tags.set(Value(-3), 0);
    tags.set(Value(4), 1);
}

const char* declaration = "Customer          FILE,DRIVER('DOS'),OWNER(******),NAME('%s'),CREATE,THREAD\n"
                          "KeySysId          KEY(+CUST:SysId),OPT,NOCASE,PRIMARY\n"
                          "KeyCityZip        INDEX(+CUST:City,-CUST:Zip),DUP,NAME(cityzip)\n"
                          "Notes             MEMO(200),NAME(notes.mem)\n"
                          "Photo             BLOB,BINARY\n"
                          "                  RECORD\n"
                          "SysId             LONG\n"
                          "Company           STRING(@s20)\n"
                          "Alias             STRING(4), OVER(CUST:Company)\n"
                          "Price             DECIMAL(7,2)\n"
                          "Addr              GROUP\n"
                          "City              STRING(10),NAME('TOWN')\n"
                          "Zip               CSTRING(6)\n"
                          "                  END\n"
                          "Born              DATE\n"
                          "At                TIME\n"
                          "Flag              BYTE\n"
                          "Count             USHORT\n"
                          "Ratio             REAL\n"
                          "Tags              SHORT, DIM(2)\n"
                          "                  END\n"
                          "\n";

std::string withPath(const char* fmt, const std::string& path) {
    std::string s = fmt;
    return s.replace(s.find("%s"), 2, path);
}

std::string fieldsText(const std::string& company, const std::string& alias, const std::string& born,
                       const std::string& at) {
    return "  CUST:SysId        :42\n"
           "  CUST:Company      :'" +
           company +
           "'\n"
           "  CUST:Alias        :'" +
           alias +
           "'\n"
           "  CUST:Price        :1234.5\n"
           "  CUST:City         :'Paris'\n"
           "  CUST:Zip          :'75001'\n"
           "  CUST:Born         :" +
           born +
           "\n"
           "  CUST:At           :" +
           at +
           "\n"
           "  CUST:Flag         :1FH\n"
           "  CUST:Count        :65535\n"
           "  CUST:Ratio        :2.500000\n"
           "  CUST:Tags[1]      :-3\n"
           "  CUST:Tags[2]      :4\n";
}

const std::string took = "Time Taken: 1.23 secs\n";

std::string entry(const std::string& name) {
    std::string padded = name;
    padded.resize(24, ' ');
    return padded + "\n";
}

} // namespace

TEST_F(TraceTest, DeclarationOperationsAndFieldValues) {
    std::string log = dir.file("trace.log");
    profile("[BWDOS]\nProfile=1\nTraceFile=" + log + "\nDetails=1\n");
    std::string data = dir.file("CUSTOMER.DAT");
    FileDecl f = customer(data);
    create(f);
    ASSERT_EQ(errorCode(), 0);
    open(f, 0x42);
    ASSERT_EQ(errorCode(), 0);
    std::int32_t day = dayNumber(2026, 12, 7);
    std::int32_t time = timeNumber(13, 45, 7, 50);
    fill(f, day, time, "Smith & Jones");
    add(f);
    // A text that fills its field: nothing after the field may be read into the log.
    fill(f, 0, 0, "ABCDEFGHIJKLMNOPQRST");
    add(f);
    set(f);
    next(f);
    next(f);
    put(f);
    next(f);
    close(f);

    std::string dateText = "07 Dec 2026 (" + std::to_string(day) + ")";
    std::string timeText = "13:45:07.50 (" + std::to_string(time) + ")";
    std::string expected =
        withPath(declaration, data) + entry("OPEN") + took + entry("ADD") + took + entry("ADD") + took +
        entry("SETfile") + took + entry("NEXT") + fieldsText("Smith & Jones", "Smit", dateText, timeText) +
        took + entry("NEXT") +
        fieldsText("ABCDEFGHIJKLMNOPQRST", "ABCD", "Invalid date (0)", "Invalid time (0)") + took +
        entry("PUT") + fieldsText("ABCDEFGHIJKLMNOPQRST", "ABCD", "Invalid date (0)", "Invalid time (0)") +
        took + entry("NEXT") + "Error: Record Not Available\n" + took + entry("CLOSE") + took;
    std::string got = slurp(log);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(got.find("s3cr3t"), std::string::npos);

    // Operations on the closed file are no longer traced.
    next(f);
    EXPECT_EQ(slurp(log), got);
}

TEST_F(TraceTest, OptionsAndEncryptedFilesWithoutValues) {
    std::string log = dir.file("trace.log");
    profile("[BWDOS]\nProfile=1\nTraceFile=" + log + "\nDetails=1\n");
    std::string data = dir.file("ENC.DAT");
    FileDecl f = customer(data);
    f.attributes = fileattr::Create | fileattr::Encrypt | fileattr::Reclaim;
    f.driverOptions = "/FAST";
    f.keys.clear();
    f.memos.clear();
    create(f);
    open(f, 0x42);
    fill(f, 4, 1, "x");
    add(f);
    set(f);
    next(f);
    close(f);
    std::string got = slurp(log);
    EXPECT_EQ(got.substr(0, got.find('\n') + 1),
              "Customer          FILE,DRIVER('DOS','/FAST'),OWNER(******),NAME('" + data +
                  "'),CREATE,ENCRYPT,RECLAIM\n");
    EXPECT_NE(got.find(entry("NEXT") + took), std::string::npos);
    EXPECT_EQ(got.find("CUST:SysId        :"), std::string::npos);

    // ALLOWDETAILS among the options lets the values through.
    std::filesystem::remove(log);
    f.driverOptions = "/FAST /allowdetails";
    open(f, 0x42);
    set(f);
    next(f);
    close(f);
    got = slurp(log);
    EXPECT_NE(got.find("  CUST:Born         :01 Jan 1801 (4)\n"), std::string::npos);
    EXPECT_NE(got.find("  CUST:At           :00:00:00.00 (1)\n"), std::string::npos);
}

TEST_F(TraceTest, ProfileSwitchesAndDefaultLogName) {
    std::string data = dir.file("t.txt");
    spit(data, "a\r\n");
    FileDecl f = lineFile("ASCII", data, 10);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    // No profile at all, and Profile=0: nothing is written.
    open(f, 0x40);
    close(f);
    profile("[BWASCII]\nProfile=0\n");
    open(f, 0x40);
    close(f);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ASCII.LOG")));

    // Profile on without a TraceFile: the driver's own log, no values without Details.
    profile("[BWASCII]\nProfile=1\n");
    open(f, 0x40);
    next(f);
    close(f);
    EXPECT_EQ(
        slurp(dir.file("ASCII.LOG")),
        "TXT               FILE,DRIVER('ASCII'),NAME('" + data +
            "'),CREATE\n                  RECORD\nLINE              STRING(10)\n                  END\n\n" +
            entry("OPEN") + took + entry("NEXT") + took + entry("CLOSE") + took);
    // Another driver's section does not switch this one.
    profile("[BWDOS]\nProfile=1\n");
    std::filesystem::remove(dir.file("ASCII.LOG"));
    open(f, 0x40);
    close(f);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ASCII.LOG")));
    EXPECT_EQ(chdir(cwd), 0);
}

TEST_F(TraceTest, FailedOpenAndViewOperations) {
    std::string log = dir.file("v.log");
    profile("[BWASCII]\nProfile=1\nTraceFile=" + log + "\n");
    FileDecl f = lineFile("ASCII", dir.file("missing.txt"), 10);
    f.name.clear();
    f.label = "Missing";
    open(f, 0x40);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    std::string declared =
        "Missing           FILE,DRIVER('ASCII'),CREATE\n"
        "                  RECORD\nLINE              STRING(10)\n                  END\n\n";
    EXPECT_EQ(slurp(log), declared + entry("OPEN") + "Error: File Not Found\n" + took);

    spit(dir.file("Missing"), "x\r\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    open(f, 0x40);
    OpArgs a;
    a.viewId = 0xBEEF;
    EXPECT_EQ(callDriver(op::QUERY_VIEW, f, a), 0);
    EXPECT_EQ(callDriver(op::SETview, f, a), err::UnsupportedFunction);
    close(f);
    EXPECT_EQ(chdir(cwd), 0);
    std::string got = slurp(log);
    EXPECT_NE(got.find("VIEW:BEEF:" + entry("QUERY_VIEW") + took + "VIEW:BEEF:" + entry("SETview") +
                       "Error: Unsupported File Driver Function\n" + took),
              std::string::npos);
}

namespace {
struct Failing final : Driver {
    std::string_view name() const override { return "FAILING"; }
    int call(int operation, FileDecl& file, OpArgs& args) override {
        if (operation == op::OPEN) {
            file.state = std::make_unique<DriverState>();
            return 0;
        }
        args.systemError = 5;
        return err::FileSystemError;
    }
};
} // namespace

TEST_F(TraceTest, FileErrorsCarryTheSystemText) {
    registerDriver(std::make_shared<Failing>());
    std::string log = dir.file("f.log");
    profile("[BWFAILING]\nProfile=1\nTraceFile=" + log + "\n");
    FileDecl f;
    f.label = "F";
    f.driver = "FAILING";
    Layout l;
    l.add("F:A", FieldType::Long);
    f.record.setLayout(l);
    open(f);
    next(f);
    EXPECT_EQ(errorCode(), 90);
    EXPECT_EQ(fileError(), "Access Denied");
    std::string got = slurp(log);
    EXPECT_NE(got.find(entry("NEXT") + "File Error: Access Denied\n" + took), std::string::npos);
}

TEST(TraceText, LongLabelsKeepABlankAndValuesStayInsideTheirFields) {
    FileDecl f;
    f.label = "AVeryLongFileLabelX";
    f.driver = "DOS";
    Layout l;
    l.add("P:AFieldWithALongName", FieldType::PString, 5);
    f.record.setLayout(l);
    EXPECT_EQ(declarationText(f).substr(0, 25), "AVeryLongFileLabelX FILE,");
    f.record.set("P:AFieldWithALongName", Value("abcdefgh"));
    EXPECT_EQ(traceFields(f), "  P:AFieldWithALongName:'abcd'\n");
    EXPECT_EQ(traceOperationText(94, 0, 0, 0, 5, ""), std::string(24, ' ') + "\nTime Taken: 0.05 secs\n");
    EXPECT_EQ(traceOperationText(op::OPEN, 0, err::FileSystemError, 77, 12345, ""),
              entry("OPEN") + "File Error: Unknown Error\nTime Taken: 123.45 secs\n");
}

// The value forms the declaration above does not reach: unsigned longs past the signed range,
// SREAL, packed decimals, negative numbers, a zero byte, the last day and time, a CSTRING cut
// by its zero; and groups nested in groups, closed in order, one of them ending the record.
TEST(TraceText, EveryValueFormAndNestedGroups) {
    FileDecl f;
    f.label = "Forms";
    f.driver = "DOS";
    Layout l;
    l.add("F:Big", FieldType::ULong);
    l.add("F:Low", FieldType::Long);
    l.add("F:Neg", FieldType::Short);
    l.add("F:Small", FieldType::SReal);
    l.addDecimal("F:Packed", 9, 3, true);
    l.addDecimal("F:Minus", 5, 1);
    l.add("F:Zero", FieldType::Byte);
    l.beginGroup("F:Outer");
    l.add("F:Last", FieldType::Date);
    l.beginGroup("F:Inner");
    l.add("F:Late", FieldType::Time);
    l.add("F:Bad", FieldType::Time);
    l.endGroup();
    l.add("F:Text", FieldType::CString, 6);
    l.endGroup();
    l.beginGroup("F:Tail");
    l.add("F:P", FieldType::PString, 4);
    l.endGroup();
    f.record.setLayout(l);
    f.record.set("F:Big", Value(std::int64_t{4294967295}));
    f.record.set("F:Low", Value(std::int64_t{-2147483647 - 1}));
    f.record.set("F:Neg", Value(-32768));
    f.record.set("F:Small", Value(0.25));
    f.record.set("F:Packed", Value(*Decimal::parse("-123456.789")));
    f.record.set("F:Minus", Value(*Decimal::parse("-0.5")));
    f.record.set("F:Zero", Value(0));
    f.record.set("F:Last", Value(std::int64_t{lastDay()}));
    f.record.set("F:Late", Value(std::int64_t{LastTime}));
    f.record.set("F:Bad", Value(std::int64_t{LastTime} + 1));
    f.record.set("F:Text", Value("ab"));
    f.record.set("F:P", Value("xyz"));
    EXPECT_EQ(traceFields(f), "  F:Big             :4294967295\n"
                              "  F:Low             :-2147483648\n"
                              "  F:Neg             :-32768\n"
                              "  F:Small           :0.250000\n"
                              "  F:Packed          :-123456.789\n"
                              "  F:Minus           :-0.5\n"
                              "  F:Zero            :00H\n"
                              "  F:Last            :31 Dec 9999 (" +
                                  std::to_string(lastDay()) +
                                  ")\n"
                                  "  F:Late            :23:59:59.99 (8640000)\n"
                                  "  F:Bad             :Invalid time (8640001)\n"
                                  "  F:Text            :'ab'\n"
                                  "  F:P               :'xyz'\n");
    EXPECT_EQ(declarationText(f), "Forms             FILE,DRIVER('DOS')\n"
                                  "                  RECORD\n"
                                  "Big               ULONG\n"
                                  "Low               LONG\n"
                                  "Neg               SHORT\n"
                                  "Small             SREAL\n"
                                  "Packed            PDECIMAL(9,3)\n"
                                  "Minus             DECIMAL(5,1)\n"
                                  "Zero              BYTE\n"
                                  "Outer             GROUP\n"
                                  "Last              DATE\n"
                                  "Inner             GROUP\n"
                                  "Late              TIME\n"
                                  "Bad               TIME\n"
                                  "                  END\n"
                                  "Text              CSTRING(6)\n"
                                  "                  END\n"
                                  "Tail              GROUP\n"
                                  "P                 PSTRING(4)\n"
                                  "                  END\n"
                                  "                  END\n"
                                  "\n");
}
