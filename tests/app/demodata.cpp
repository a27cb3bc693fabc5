// Demo data: the same files for the same seed, records that the People validation accepts and
// that all belong to a customer, and sorvtool demo-data as a process with bad arguments.
#include "app/demodata.h"
#include "app/dictionary.h"
#include "tests/app/quieterrors.h"
#include "tests/data/testfiles.h"
#include "tests/runtime/sorvtool_run.h"

#include "data/files.h"
#include "runtime/datetime.h"
#include "windowing/desktop.h"

#include <gtest/gtest.h>

#include <set>

using namespace sorv;
using namespace sorv::app;

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

using Quiet = sorvtest::QuietErrors;

} // namespace

TEST(DemoData, TheSameSeedGivesTheSameFilesAnotherSeedOthers) {
    sorvtest::TempDir a, b, c;
    DemoDataOptions options{12, 80, 5};
    ASSERT_EQ(writeDemoData(a.path(), options), "");
    ASSERT_EQ(writeDemoData(b.path(), options), "");
    options.seed = 6;
    ASSERT_EQ(writeDemoData(c.path(), options), "");
    for (const char* name : {"CUSTOMER.QNL", "PEOPLE.QNL"}) {
        EXPECT_FALSE(bytesOf(a.file(name)).empty());
        EXPECT_EQ(bytesOf(a.file(name)), bytesOf(b.file(name))) << name;
        EXPECT_NE(bytesOf(a.file(name)), bytesOf(c.file(name))) << name;
    }
    // Nothing else is left behind (no scratch directory, no journal).
    EXPECT_EQ(entries(a.path()), (std::vector<std::string>{"CUSTOMER.QNL", "PEOPLE.QNL"}));
}

TEST(DemoData, EveryPersonPassesValidationAndHasACustomer) {
    sorvtest::TempDir dir;
    ASSERT_EQ(writeDemoData(dir.path(), DemoDataOptions{25, 300, 99}), "");
    std::string old = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    Quiet errors;
    errors.Init();
    DictionaryInit(errors);
    RelateCustomer().Open();
    RelatePeople().Open();

    fw::FileManager& customers = AccessCustomer();
    customers.EnsureFileOpen();
    EXPECT_EQ(records(customers.file()), 25);
    std::set<std::string> companies, countries;
    set(customers.file());
    while (customers.Next() == fw::LevelNone) {
        Record& r = customers.record();
        companies.insert(std::string(clipRight(r.get("CUST:Company").toText())));
        countries.insert(std::string(clipRight(r.get("CUST:Country").toText())));
        EXPECT_FALSE(clipRight(r.get("CUST:Address1").toText()).empty());
        EXPECT_FALSE(clipRight(r.get("CUST:City").toText()).empty());
        EXPECT_FALSE(clipRight(r.get("CUST:PostalZipCode").toText()).empty());
    }
    EXPECT_GT(companies.size(), 15u); // varied, not one name over and over
    EXPECT_GT(countries.size(), 3u);

    PeopleFileManager& people = AccessPeople();
    people.EnsureFileOpen();
    EXPECT_EQ(records(people.file()), 300);
    set(people.file());
    int seen = 0, men = 0;
    std::set<std::int64_t> owners;
    while (people.Next() == fw::LevelNone) {
        ++seen;
        Record& r = people.record();
        int failed = 0;
        EXPECT_EQ(people.ValidateRecord(&failed), fw::LevelNone) << "field " << failed;
        // Validation of field 1 looked the customer up; check it stands there too.
        customers.record().set("CUST:SysId", r.get("PPL:SysId"));
        EXPECT_EQ(customers.TryFetch(KeySysId), fw::LevelNone);
        owners.insert(r.get("PPL:SysId").toLong());
        std::string phone(clipRight(r.get("PPL:Phone").toText()));
        EXPECT_EQ(phone.size(), 10u);
        EXPECT_EQ(phone.find_first_not_of("0123456789"), std::string::npos) << phone;
        CivilDate born = civilOf(r.get("PPL:DoB").toLong());
        EXPECT_GE(born.year, 1900);
        EXPECT_LE(born.year + 18, r.get("PPL:YearHired").toLong()) << "hired before 18";
        men += static_cast<int>(r.get("PPL:Male").toLong());
    }
    EXPECT_EQ(seen, 300);
    EXPECT_TRUE(errors.raised.empty());
    EXPECT_GT(owners.size(), 15u);
    EXPECT_GT(men, 90);
    EXPECT_LT(men, 210);

    RelateCustomer().Close();
    RelatePeople().Close();
    DictionaryKill();
    std::filesystem::current_path(old);
}

TEST(DemoData, RefusalsLeaveTheDirectoryAsItWas) {
    sorvtest::TempDir dir;
    EXPECT_NE(writeDemoData(dir.file("missing"), {}), "");
    EXPECT_NE(writeDemoData(dir.path(), DemoDataOptions{0, 10, 1}), "");
    EXPECT_TRUE(entries(dir.path()).empty());
    // A file where the directory should be.
    { std::ofstream(dir.file("plain")) << "x"; }
    EXPECT_NE(writeDemoData(dir.file("plain"), {}), "");
    // Existing tables are never replaced, and nothing of the attempt stays.
    std::filesystem::create_directory(dir.file("d"));
    { std::ofstream(dir.file("d/PEOPLE.QNL")) << "mine"; }
    std::string why = writeDemoData(dir.file("d"), {});
    EXPECT_NE(why.find("PEOPLE.QNL"), std::string::npos) << why;
    EXPECT_EQ(entries(dir.file("d")), std::vector<std::string>{"PEOPLE.QNL"});
    EXPECT_EQ(bytesOf(dir.file("d/PEOPLE.QNL")), "mine");
}

TEST(DemoData, SorvtoolWritesTheTablesAndRefusesBadArguments) {
    sorvtest::TempDir dir;
    ToolRun ok = sorvtool({"demo-data", dir.path(), "--customers", "7", "--people", "30", "--seed", "3"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("7 customers and 30 people"), std::string::npos) << ok.out;
    // The process wrote what the library writes for the same numbers.
    sorvtest::TempDir same;
    ASSERT_EQ(writeDemoData(same.path(), DemoDataOptions{7, 30, 3}), "");
    EXPECT_EQ(bytesOf(dir.file("PEOPLE.QNL")), bytesOf(same.file("PEOPLE.QNL")));

    struct Bad {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    std::string fresh = dir.file("fresh");
    std::filesystem::create_directory(fresh);
    const Bad bad[] = {
        {{"demo-data"}, 2, "no directory"},
        {{"demo-data", fresh, "--people"}, 2, "needs a number"},
        {{"demo-data", fresh, "--people", "12x"}, 2, "--people"},
        {{"demo-data", fresh, "--people", "-3"}, 2, "--people"},
        {{"demo-data", fresh, "--customers", "0"}, 2, "--customers"},
        {{"demo-data", fresh, "--seed", "4294967296"}, 2, "--seed"},
        {{"demo-data", fresh, "--colour", "1"}, 2, "unknown option"},
        {{"demo-data", fresh, fresh}, 2, "one directory"},
        {{"demo-data", dir.file("nowhere")}, 1, "not a directory"},
        {{"demo-data", dir.path()}, 1, "exists already"},
    };
    for (const Bad& b : bad) {
        ToolRun r = sorvtool(b.args);
        EXPECT_EQ(r.status, b.status) << b.says;
        EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
    }
    EXPECT_TRUE(entries(fresh).empty());
}
