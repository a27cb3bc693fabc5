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

using namespace sorv;
using namespace sorvtest;

namespace {

FileDecl numbers(const std::string& path) {
    FileDecl f;
    f.label = "NUM";
    f.driver = "DOS";
    f.name = path;
    f.attributes = fileattr::Create;
    Layout l;
    l.add("NUM:N", FieldType::Long);
    l.add("NUM:Name", FieldType::String, 8);
    f.record.setLayout(l);
    return f;
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

} // namespace
