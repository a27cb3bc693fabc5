// Views over real files through the driver interface: a DOS file read in record order and in a
// sorted order with a filter, records added by another opener showing at the next reset, and
// the view operations reaching the driver's trace with the view's identity.
#include "data/viewfile.h"
#include "data/files.h"
#include "data/view.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

using namespace sorv;
using namespace sorvtest;

namespace {

FileDecl numbers(const std::string& path) {
    return declareFile("NUM", "DOS", path, {{"NUM:N", FieldType::Long}, {"NUM:Name", FieldType::String, 8}});
}

void addNumber(FileDecl& f, int n) {
    static const char* names[] = {"pear", "Apple", "fig", "apple", "Kiwi", "date"};
    f.record.set("NUM:N", n);
    f.record.set("NUM:Name", names[n % 6]);
    add(f);
    ASSERT_EQ(errorCode(), 0);
}

struct Fixture : ::testing::Test {
    void SetUp() override {
        ::setenv("SORVDEMO_DESKTOP_PROFILE", dir.file("desktop.ini").c_str(), 1);
        file = numbers(dir.file("num.dat"));
        create(file);
        ASSERT_EQ(errorCode(), 0);
        share(file);
        ASSERT_EQ(errorCode(), 0);
        for (int n = 1; n <= 60; ++n) addNumber(file, n);
    }
    void TearDown() override {
        close(file);
        ::unsetenv("SORVDEMO_DESKTOP_PROFILE");
    }
    std::vector<int> readAll(View& v, bool forward = true) {
        std::vector<int> out;
        while ((forward ? v.next() : v.previous()) == 0)
            out.push_back(static_cast<int>(file.record.get("NUM:N").toLong()));
        EXPECT_EQ(errorCode(), err::RecordNotAvailable);
        return out;
    }
    TempDir dir;
    FileDecl file;
};

TEST_F(Fixture, RecordOrderAndSortedOrderOverADosFile) {
    FileViewTable table(file);
    View v(table, ViewTraceSettings{});
    ASSERT_EQ(v.open(), 0);
    std::vector<int> all = readAll(v);
    ASSERT_EQ(all.size(), 60u);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_EQ(v.records(), 60);

    ASSERT_TRUE(v.setOrder("UPPER(NUM:Name),-NUM:N"));
    ASSERT_TRUE(v.setFilter("INT(NUM:N / 2) * 2 = NUM:N"));
    ASSERT_EQ(v.set(), 0);
    std::vector<int> got = readAll(v);
    std::vector<int> want;
    for (int n = 2; n <= 60; n += 2) want.push_back(n);
    auto upperName = [](int n) {
        static const char* names[] = {"PEAR", "APPLE", "FIG", "APPLE", "KIWI", "DATE"};
        return std::string(names[n % 6]);
    };
    std::sort(want.begin(), want.end(), [&](int a, int b) {
        if (upperName(a) != upperName(b)) return upperName(a) < upperName(b);
        return a > b;
    });
    EXPECT_EQ(got, want);
    ASSERT_EQ(v.set(), 0);
    std::vector<int> back = readAll(v, false);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, want);

    // A position survives; REGET reads that record again.
    ASSERT_EQ(v.set(), 0);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(v.next(), 0);
    std::string pos = v.position();
    ASSERT_EQ(v.next(), 0);
    ASSERT_EQ(v.reget(pos), 0);
    EXPECT_EQ(file.record.get("NUM:N").toLong(), want[6]);
    ASSERT_EQ(v.reset(pos), 0);
    ASSERT_EQ(v.previous(), 0);
    EXPECT_EQ(file.record.get("NUM:N").toLong(), want[6]);
    ASSERT_EQ(v.close(), 0);
}

TEST_F(Fixture, AnotherOpenersRecordsShowAtTheNextReset) {
    FileViewTable table(file);
    View v(table, ViewTraceSettings{});
    ASSERT_TRUE(v.setOrder("-NUM:N"));
    ASSERT_EQ(v.open(), 0);
    EXPECT_EQ(readAll(v).size(), 60u);

    FileDecl other = numbers(dir.file("num.dat"));
    share(other);
    ASSERT_EQ(errorCode(), 0);
    addNumber(other, 1000);
    close(other);

    ASSERT_EQ(v.set(), 0);
    ASSERT_EQ(v.next(), 0);
    EXPECT_EQ(file.record.get("NUM:N").toLong(), 1000);
    EXPECT_EQ(readAll(v).size(), 60u);
}

TEST_F(Fixture, ViewOperationsReachTheDriversTrace) {
    std::string log = dir.file("dos.log");
    spit(dir.file("desktop.ini"), "[BWDOS]\nProfile=1\nTraceFile=" + log +
                                      "\n[BWVIEW]\nProfile=1\nTraceFile=" + dir.file("view.log") + "\n");
    close(file);
    share(file); // the trace is switched on for files opened from now on
    ASSERT_EQ(errorCode(), 0);
    FileViewTable table(file);
    View v(table);
    ASSERT_EQ(v.open(), 0);
    ASSERT_EQ(v.set(), 0);
    ASSERT_EQ(v.next(), 0);
    ASSERT_EQ(v.close(), 0);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "VIEW:%lX:", static_cast<unsigned long>(v.id()));
    std::string text = slurp(log);
    EXPECT_NE(text.find(std::string(prefix) + "SETview"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(prefix) + "INVIEW"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(prefix) + "ENDVIEW"), std::string::npos) << text;
    std::string view = slurp(dir.file("view.log"));
    EXPECT_EQ(view.rfind("VIEW(NUM)\nEND\n", 0), 0u) << view;
    EXPECT_NE(view.find(std::string(prefix) + "NEXT"), std::string::npos) << view;
}

// The native indexed driver: key orders read live through its keys, both ways, from leading
// values of the buffer and from positions of records deleted by another opener; joins through a
// key of the joined file.
FileDecl nativePeople(const std::string& path) {
    return declareFile("People", "QUARNELL", path,
                       {{"PPL:SysId", FieldType::Long},
                        {"PPL:LastName", FieldType::String, 20},
                        {"PPL:FirstName", FieldType::String, 20},
                        {"PPL:Salary", FieldType::Decimal, 7},
                        {"PPL:Cust", FieldType::Long}},
                       {{"PPL:SysIdKey", {{0, false}}, keyflag::Primary},
                        {"PPL:NameKey", {{1, false}, {2, false}}, keyflag::Dup | keyflag::NoCase}});
}

FileDecl nativeCustomers(const std::string& path) {
    return declareFile("Customer", "QUARNELL", path,
                       {{"CUST:SysId", FieldType::Long}, {"CUST:Company", FieldType::String, 20}},
                       {{"CUST:KeySysId", {{0, false}}, keyflag::Primary}});
}

std::string upperClip(const Value& v) {
    std::string s(clipRight(v.text()));
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST(NativeView, KeyOrdersPositionsAndJoins) {
    TempDir dir;
    ::setenv("SORVDEMO_DESKTOP_PROFILE", dir.file("desktop.ini").c_str(), 1);
    FileDecl people = nativePeople(dir.file("PEOPLE.QNL"));
    FileDecl customers = nativeCustomers(dir.file("CUSTOMER.QNL"));
    create(people);
    ASSERT_EQ(errorCode(), 0) << error();
    create(customers);
    ASSERT_EQ(errorCode(), 0) << error();
    share(people);
    ASSERT_EQ(errorCode(), 0) << error();
    share(customers);
    ASSERT_EQ(errorCode(), 0) << error();
    for (int c = 1; c <= 4; ++c) {
        customers.record.set("CUST:SysId", c);
        customers.record.set("CUST:Company", c % 2 ? "odd co" : "Even Co");
        add(customers);
        ASSERT_EQ(errorCode(), 0) << error();
    }
    const char* lasts[] = {"smith", "Smith", "jones", "Brown", "miller", "Adams"};
    const char* firsts[] = {"anna", "Bob", "carl", "Dora"};
    std::mt19937 rng(3);
    for (int i = 1; i <= 200; ++i) {
        people.record.clear();
        people.record.set("PPL:SysId", i);
        people.record.set("PPL:LastName", lasts[rng() % 6]);
        people.record.set("PPL:FirstName", firsts[rng() % 4]);
        people.record.set("PPL:Salary", static_cast<int>(rng() % 50) * 1000);
        people.record.set("PPL:Cust", i % 10 == 0 ? 77 : static_cast<int>(rng() % 4) + 1);
        add(people);
        ASSERT_EQ(errorCode(), 0) << error();
    }

    FileViewTable pt(people), ct(customers);
    View v(pt, ViewTraceSettings{});
    ASSERT_TRUE(v.setOrder("UPPER(PPL:LastName),UPPER(PPL:FirstName)"));
    ASSERT_EQ(v.open(), 0) << error();
    ASSERT_EQ(v.readingKey(), 1);
    std::vector<std::pair<std::string, int>> seen;
    while (v.next() == 0)
        seen.emplace_back(upperClip(people.record.get("PPL:LastName")) + "/" +
                              upperClip(people.record.get("PPL:FirstName")),
                          static_cast<int>(people.record.get("PPL:SysId").toLong()));
    ASSERT_EQ(seen.size(), 200u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
    ASSERT_EQ(v.set(), 0);
    std::vector<int> back;
    while (v.previous() == 0) back.push_back(static_cast<int>(people.record.get("PPL:SysId").toLong()));
    std::reverse(back.begin(), back.end());
    std::vector<int> ids;
    for (auto& e : seen) ids.push_back(e.second);
    EXPECT_EQ(back, ids);

    // SET by the first item of the buffer: the first and the last MILLER.
    people.record.set("PPL:LastName", "MILLER");
    people.record.set("PPL:FirstName", "zzz");
    ASSERT_EQ(v.set(1), 0);
    ASSERT_EQ(v.next(), 0);
    EXPECT_EQ(upperClip(people.record.get("PPL:LastName")), "MILLER");
    auto firstMiller =
        std::find_if(seen.begin(), seen.end(), [](auto& e) { return e.first.rfind("MILLER/", 0) == 0; });
    ASSERT_NE(firstMiller, seen.end());
    EXPECT_EQ(people.record.get("PPL:SysId").toLong(), firstMiller->second);
    people.record.set("PPL:LastName", "miller");
    ASSERT_EQ(v.set(1), 0);
    ASSERT_EQ(v.previous(), 0);
    EXPECT_EQ(upperClip(people.record.get("PPL:LastName")), "MILLER");
    ASSERT_EQ(v.next(), 0);
    EXPECT_EQ(upperClip(people.record.get("PPL:LastName")), "SMITH");

    // A position of a record that another opener deletes: the view stands between its neighbours.
    ASSERT_EQ(v.set(), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(v.next(), 0);
    std::string pos = v.position();
    ASSERT_FALSE(pos.empty());
    {
        FileDecl other = nativePeople(dir.file("PEOPLE.QNL"));
        share(other);
        ASSERT_EQ(errorCode(), 0) << error();
        other.record.set("PPL:SysId", ids[49]);
        get(other, 0);
        ASSERT_EQ(errorCode(), 0) << error();
        deleteRecord(other);
        ASSERT_EQ(errorCode(), 0) << error();
        close(other);
    }
    ASSERT_EQ(v.reset(pos), 0) << error();
    ASSERT_EQ(v.next(), 0);
    EXPECT_EQ(people.record.get("PPL:SysId").toLong(), ids[50]);
    ASSERT_EQ(v.reset(pos), 0);
    ASSERT_EQ(v.previous(), 0);
    EXPECT_EQ(people.record.get("PPL:SysId").toLong(), ids[48]);

    // A non-key order over the same file gives every remaining record once.
    ASSERT_TRUE(v.setOrder("-PPL:Salary,PPL:SysId"));
    EXPECT_EQ(v.readingKey(), -2);
    ASSERT_EQ(v.set(), 0);
    std::vector<std::pair<long, long>> bySalary;
    while (v.next() == 0)
        bySalary.emplace_back(-people.record.get("PPL:Salary").toLong(),
                              people.record.get("PPL:SysId").toLong());
    EXPECT_EQ(bySalary.size(), 199u);
    EXPECT_TRUE(std::is_sorted(bySalary.begin(), bySalary.end()));
    v.close();

    // An inner join through the customer's key leaves out the people of customer 77.
    View j(pt, ViewTraceSettings{});
    ASSERT_EQ(j.join(0, ct, 0, {4}, true), 1);
    ASSERT_TRUE(j.setOrder("PPL:SysId"));
    ASSERT_EQ(j.open(), 0);
    EXPECT_EQ(j.readingKey(), 0);
    int n = 0;
    while (j.next() == 0) {
        ++n;
        EXPECT_EQ(customers.record.get("CUST:SysId").toLong(), people.record.get("PPL:Cust").toLong());
    }
    EXPECT_EQ(n, 199 - 20 + (ids[49] % 10 == 0 ? 1 : 0));
    j.close();
    close(people);
    close(customers);
    ::unsetenv("SORVDEMO_DESKTOP_PROFILE");
}

} // namespace
