// The data dictionary on real files: record sizes and key flags as declared, People priming and
// the validation boundaries, the customer lookup leaving the Customer buffer alone.
#include "app/dictionary.h"
#include "tests/app/quieterrors.h"
#include "tests/data/testfiles.h"

#include "data/files.h"
#include "runtime/datetime.h"
#include "windowing/desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace sorv;
using namespace sorv::app;

namespace {

using Quiet = sorvtest::QuietErrors;

struct InDir {
    sorvtest::TempDir dir;
    std::string old = std::filesystem::current_path().string();
    Quiet errors;
    InDir() {
        std::filesystem::current_path(dir.path());
        errors.Init();
        DictionaryInit(errors);
        RelateCustomer().Open();
        RelatePeople().Open();
    }
    ~InDir() {
        RelateCustomer().Close();
        RelatePeople().Close();
        DictionaryKill();
        std::filesystem::current_path(old);
    }
};

} // namespace

TEST(Dictionary, LayoutsAndKeysAsDeclared) {
    FileDecl c = makeCustomerFile(), p = makePeopleFile();
    EXPECT_EQ(c.layout().size(), CustomerRecordSize);
    EXPECT_EQ(c.layout().count(), 7u);
    EXPECT_EQ(p.layout().size(), PeopleRecordSize);
    EXPECT_EQ(p.layout().count(), 8u);
    ASSERT_EQ(c.keys.size(), 5u);
    EXPECT_EQ(c.keys[0].flags, 22);
    for (int k = 1; k < 5; ++k) EXPECT_EQ(c.keys[static_cast<std::size_t>(k)].flags, 5);
    ASSERT_EQ(p.keys.size(), 1u);
    EXPECT_EQ(p.keys[0].flags, 7);
}

TEST(Dictionary, PeoplePrimingAndValidationBoundaries) {
    InDir d;
    AccessCustomer().PrimeBuffer();
    AccessCustomer().record().set("CUST:Company", Value("Acme"));
    ASSERT_EQ(AccessCustomer().Insert(), fw::LevelNone);
    std::int64_t id = AccessCustomer().record().get("CUST:SysId").toLong();
    EXPECT_EQ(id, 1);

    PeopleFileManager& p = AccessPeople();
    p.PrimeBuffer();
    EXPECT_EQ(p.record().get("PPL:DoB").toLong(), today());
    EXPECT_EQ(clipRight(p.record().get("PPL:YearHired").toText()), "1970");
    EXPECT_EQ(p.record().get("PPL:Salary").toLong(), 10000);
    p.record().set("PPL:SysId", Value(id));
    EXPECT_EQ(p.ValidateRecord(), fw::LevelNone);
    for (auto [year, ok] : {std::pair{"1969", false}, {"1970", true}, {"2010", true}, {"2011", false}}) {
        p.record().set("PPL:YearHired", Value(year));
        EXPECT_EQ(p.ValidateField(7) == fw::LevelNone, ok) << year;
    }
    for (auto [salary, ok] : {std::pair{9999, false}, {10000, true}, {200000, true}, {200001, false}}) {
        p.record().set("PPL:Salary", Value(salary));
        EXPECT_EQ(p.ValidateField(8) == fw::LevelNone, ok) << salary;
    }
    EXPECT_EQ(d.errors.raised.back(), 16);
    // A person of no customer is refused, and the customer being edited stays in its buffer.
    AccessCustomer().record().set("CUST:Company", Value("Being edited"));
    p.record().set("PPL:SysId", Value(99));
    EXPECT_NE(p.ValidateField(1), fw::LevelNone);
    EXPECT_EQ(d.errors.raised.back(), 14);
    EXPECT_EQ(d.errors.MESSAGETEXT, "Customer");
    p.record().set("PPL:SysId", Value(id));
    EXPECT_EQ(p.ValidateField(1), fw::LevelNone);
    EXPECT_EQ(clipRight(AccessCustomer().record().get("CUST:Company").toText()), "Being edited");
}

TEST(Dictionary, DeletingACustomerLeavesItsPeople) {
    InDir d;
    AccessCustomer().PrimeBuffer();
    ASSERT_EQ(AccessCustomer().Insert(), fw::LevelNone);
    std::int64_t id = AccessCustomer().record().get("CUST:SysId").toLong();
    AccessPeople().PrimeBuffer();
    AccessPeople().record().set("PPL:SysId", Value(id));
    ASSERT_EQ(AccessPeople().Insert(), fw::LevelNone);
    EXPECT_EQ(RelateCustomer().Delete(false), fw::LevelNone);
    AccessPeople().EnsureFileOpen();
    EXPECT_EQ(records(AccessPeople().file()), 1);
}
