// The program's tables where "sorvdemo.INI" says they live: by default the native files, and on
// a database server when its section "Tables" names one; the dictionary's managers (auto
// numbers, inserts, lookups) work the same on either. One test program of its own, because the
// dictionary declares its tables once per process.
#include "app/dictionary.h"
#include "tests/app/quieterrors.h"
#include "tests/data/pg_server.h"
#include "tests/data/testfiles.h"

#include "data/files.h"
#include "runtime/inifile.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::app;

TEST(TableStore, TheIniFileNamesTheServerAndTheDictionaryUsesIt) {
    sorvtest::TempDir dir;
    EXPECT_EQ(readTableStore(dir.file("none.INI")).driver, "QUARNELL");
    SORV_NEED_PG_SERVER(server);
    std::string old = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    WRITEINI("Tables", "Driver", "POSTGRESQL", "sorvdemo.INI");
    WRITEINI("Tables", "Connection", server->conninfo(), "sorvdemo.INI");
    TableStore store = readTableStore();
    EXPECT_EQ(store.driver, "POSTGRESQL");
    EXPECT_EQ(store.connection, server->conninfo());

    sorvtest::QuietErrors errors;
    errors.Init();
    DictionaryInit(errors);
    ASSERT_EQ(RelateCustomer().Open(), fw::LevelNone);
    ASSERT_EQ(RelatePeople().Open(), fw::LevelNone);
    for (const char* company : {"Acme", "Bolt & Nut"}) {
        AccessCustomer().PrimeBuffer();
        AccessCustomer().record().set("CUST:Company", Value(company));
        ASSERT_EQ(AccessCustomer().Insert(), fw::LevelNone) << company;
    }
    EXPECT_EQ(AccessCustomer().record().get("CUST:SysId").toLong(), 2); // numbered by the server's rows
    // The People form's lookup of its customer reads the server.
    AccessPeople().PrimeBuffer();
    AccessPeople().record().set("PPL:SysId", Value(2));
    EXPECT_EQ(AccessPeople().ValidateField(1), fw::LevelNone);
    EXPECT_EQ(AccessPeople().Insert(), fw::LevelNone);
    RelateCustomer().Close();
    RelatePeople().Close();
    DictionaryKill();
    EXPECT_TRUE(errors.raised.empty());

    // Another program reading the tables sees them on the server, and no native file was made.
    FileDecl c = makeCustomerFile(store);
    open(c);
    ASSERT_EQ(errorCode(), 0) << fileError();
    EXPECT_EQ(records(c), 2);
    c.record.set("CUST:SysId", Value(2));
    get(c, KeySysId);
    EXPECT_EQ(std::string(clipRight(c.record.get("CUST:Company").toText())), "Bolt & Nut");
    close(c);
    EXPECT_FALSE(std::filesystem::exists(dir.file("CUSTOMER.QNL")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("PEOPLE.QNL")));
    std::filesystem::current_path(old);
}
