// The server driver against the native one on the same records: key orders of every kind (NOCASE,
// descending, mixed, OPT, unique), positions across deletes, views whose order and filter the
// server runs; then what only a server has: the stored declaration read by another program,
// transactions and updates of two processes, and a server that goes away under a browse and a save.
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "pg_server.h"
#include "qnl_fixture.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;

namespace {

enum Field { SysId, LastName, FirstName, Salary };

FileDecl staffFile(const std::string& driver, const std::string& options, const std::string& name) {
    FileDecl f;
    f.label = "Staff";
    f.driver = driver;
    f.driverOptions = options;
    f.name = name;
    f.attributes = fileattr::Create;
    Layout l;
    l.add("STF:SysId", FieldType::Long);
    l.add("STF:LastName", FieldType::String, 20);
    l.add("STF:FirstName", FieldType::String, 20);
    l.addDecimal("STF:Salary", 7, 2);
    f.record.setLayout(l);
    auto key = [](std::string label, std::vector<KeyComponent> c, std::uint8_t flags) {
        KeyDecl k;
        k.label = std::move(label);
        k.components = std::move(c);
        k.flags = flags;
        return k;
    };
    f.keys.push_back(key("STF:KeyId", {{SysId, false}}, keyflag::Opt | keyflag::Primary));
    f.keys.push_back(
        key("STF:KeyName", {{LastName, false}, {FirstName, true}}, keyflag::Dup | keyflag::NoCase));
    f.keys.push_back(key("STF:KeySalary", {{Salary, true}}, keyflag::Dup | keyflag::Opt));
    return f;
}

void setStaff(FileDecl& f, int id, const std::string& last, const std::string& first, int salary) {
    f.record.clear();
    f.record.set("STF:SysId", Value(id));
    f.record.set("STF:LastName", Value(last));
    f.record.set("STF:FirstName", Value(first));
    f.record.set("STF:Salary", Value(salary));
}

std::string who(const FileDecl& f) {
    return std::to_string(f.record.get("STF:SysId").toLong());
}

// Reads the sequence to its end: the records' ids in order.
std::vector<std::string> readAll(FileDecl& f, bool forward) {
    std::vector<std::string> out;
    for (forward ? next(f) : previous(f); errorCode() == 0; forward ? next(f) : previous(f))
        out.push_back(who(f));
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    return out;
}

class PgDriver : public ::testing::Test {
protected:
    void SetUp() override {
        SORV_NEED_PG_SERVER(s);
        server = s;
        pg = staffFile("POSTGRESQL", s->conninfo(), "STAFF");
        native = staffFile("QUARNELL", "", dir.file("STAFF"));
        for (FileDecl* f : {&pg, &native}) {
            create(*f);
            ASSERT_EQ(errorCode(), 0) << f->driver;
            open(*f, openmode::ReadWrite | openmode::DenyNone);
            ASSERT_EQ(errorCode(), 0) << f->driver << " " << fileError();
        }
        // Names that differ in case and trailing blanks only, duplicates, blank ids and salaries.
        const char* lasts[] = {"miller", "Miller", "MILLER", "Adams", "adams ",
                               "Zeta",   "M",      "Mc",     "Ng",    "o'Hara"};
        const char* firsts[] = {"Ann", "bob", "Bob", "Carl", "ann", "Zoe"};
        std::mt19937 random(7);
        for (int i = 1; i <= 60; ++i) {
            int id = i % 13 == 0 ? 0 : i; // id 0: outside the OPT key
            int salary = i % 11 == 0 ? 0 : static_cast<int>(random() % 9) * 10000;
            const char* last = lasts[random() % 10];
            const char* first = firsts[random() % 6];
            for (FileDecl* f : {&pg, &native}) {
                setStaff(*f, id, last, first, salary);
                add(*f);
                ASSERT_EQ(errorCode(), 0) << f->driver;
            }
        }
    }
    void TearDown() override {
        for (FileDecl* f : {&pg, &native})
            if (f->isOpen()) close(*f);
    }

    sorvtest::PgServer* server = nullptr;
    qnltest::TempDir dir;
    FileDecl pg, native;
};

} // namespace

TEST_F(PgDriver, KeyOrdersAndPositionsMatchTheNativeDriver) {
    for (int key = 0; key < 3; ++key) {
        for (bool forward : {true, false}) {
            setKey(pg, key);
            setKey(native, key);
            EXPECT_EQ(readAll(pg, forward), readAll(native, forward))
                << "key " << key << (forward ? " forwards" : " backwards");
        }
        EXPECT_EQ(records(pg, key), records(native, key)) << key;
    }
    // SET by a key value in the middle, reading both ways from it.
    for (bool forward : {true, false}) {
        for (FileDecl* f : {&pg, &native}) {
            setStaff(*f, 0, "MILLER", "Bob", 0);
            setKeyValue(*f, 1);
        }
        EXPECT_EQ(readAll(pg, forward), readAll(native, forward));
    }
    // A position survives the deletion of its record and of its neighbours.
    std::vector<std::string> after[2];
    int n = 0;
    for (FileDecl* f : {&pg, &native}) {
        setKey(*f, 1);
        for (int i = 0; i < 20; ++i) next(*f);
        std::string pos = position(*f, 1);
        deleteRecord(*f);
        ASSERT_EQ(errorCode(), 0);
        previous(*f);
        deleteRecord(*f);
        reset(*f, 1, pos);
        ASSERT_EQ(errorCode(), 0) << f->driver;
        after[n++] = readAll(*f, true);
    }
    EXPECT_EQ(after[0], after[1]);
    EXPECT_EQ(records(pg), records(native));
    // A unique key refuses a duplicate and says so beforehand.
    for (FileDecl* f : {&pg, &native}) {
        setStaff(*f, 5, "Dup", "", 1);
        EXPECT_TRUE(duplicate(*f)) << f->driver;
        add(*f);
        EXPECT_EQ(errorCode(), err::DuplicateKey) << f->driver;
    }
}

TEST_F(PgDriver, ViewsRunTheirOrderAndFilterOnTheServer) {
    struct Case {
        const char* order;
        const char* filter;
        bool server; // the server runs it (else the view sorts itself)
    };
    const Case cases[] = {
        {"UPPER(STF:FirstName),-STF:SysId", "", true},
        {"-STF:Salary,STF:LastName", "STF:Salary >= 30000 AND NOT STF:SysId = 3", true},
        {"SUB(STF:LastName,2,3),STF:SysId", "INSTRING('ILL',UPPER(STF:LastName),1,1) <> 0", true},
        {"UPPER(STF:LastName)", "SUB(STF:LastName,1,1) = 'M' OR STF:Salary + 1 < 20000", true},
        {"STF:LastName & STF:FirstName", "", false},
        {"STF:SysId", "LEN(CLIP(STF:LastName)) > 2", false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> seen[2];
        std::int64_t counted[2];
        std::vector<std::string> resumed[2];
        int n = 0;
        for (FileDecl* f : {&pg, &native}) {
            FileViewTable table(*f);
            View v(table);
            ASSERT_TRUE(v.setOrder(c.order)) << c.order;
            ASSERT_TRUE(v.setFilter(c.filter)) << c.filter;
            ASSERT_EQ(v.open(), 0);
            if (f == &pg) {
                EXPECT_EQ(v.readingKey() == ViewTable::QueryOrder, c.server) << c.order << " | " << c.filter;
            }
            std::string middle;
            for (int i = 0; v.next() == 0; ++i) {
                seen[n].push_back(who(*f));
                if (i == 5) middle = v.position();
            }
            for (v.set(); v.previous() == 0;) seen[n].push_back(who(*f));
            counted[n] = v.records();
            // A position read back, and the start at leading order values (the browse's locator).
            EXPECT_EQ(v.reset(middle), 0);
            for (int i = 0; i < 3 && v.next() == 0; ++i) resumed[n].push_back(who(*f));
            setStaff(*f, 0, "MILLER", "C", 40000);
            v.set(1);
            for (int i = 0; i < 3 && v.next() == 0; ++i) resumed[n].push_back(who(*f));
            v.close();
            ++n;
        }
        EXPECT_EQ(seen[0], seen[1]) << c.order << " | " << c.filter;
        EXPECT_EQ(counted[0], counted[1]) << c.order << " | " << c.filter;
        EXPECT_EQ(resumed[0], resumed[1]) << c.order << " | " << c.filter;
        EXPECT_FALSE(seen[0].empty());
    }
}

TEST_F(PgDriver, DeclarationIsStoredForOtherPrograms) {
    close(pg);
    // Another program's declaration of the same table with other labels and pictures opens it.
    FileDecl other = staffFile("POSTGRESQL", server->conninfo(), "staff.qnl");
    Layout l;
    l.add("X:Id", FieldType::Long, 0, 0, "@n9");
    l.add("X:Last", FieldType::String, 20);
    l.add("X:First", FieldType::String, 20);
    l.addDecimal("X:Pay", 7, 2);
    other.record.setLayout(l);
    open(other);
    ASSERT_EQ(errorCode(), 0) << fileError();
    EXPECT_EQ(records(other), 60);
    close(other);
    // One that differs in a key or a field's size does not (47), nor does a table never made (2).
    FileDecl wrong = staffFile("POSTGRESQL", server->conninfo(), "STAFF");
    wrong.keys[1].components[1].descending = false;
    open(wrong);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    FileDecl missing = staffFile("POSTGRESQL", server->conninfo(), "NOSUCH");
    open(missing);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    // EMPTY needs the table alone; CREATE does not replace a table another station has open.
    open(pg, openmode::ReadWrite | openmode::DenyAll);
    ASSERT_EQ(errorCode(), 0);
    FileDecl second = staffFile("POSTGRESQL", server->conninfo(), "STAFF");
    int child = [&] {
        pid_t pid = ::fork();
        if (pid == 0) {
            share(second);
            int a = errorCode();
            create(second);
            _exit(a == err::AccessDenied && errorCode() == err::AccessDenied ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    }();
    EXPECT_EQ(child, 0);
    empty(pg);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(records(pg), 0);
}

TEST_F(PgDriver, TwoProcessesTransactionsAndNoLostUpdate) {
    setStaff(pg, 500, "Counter", "", 0);
    add(pg);
    ASSERT_EQ(errorCode(), 0);
    std::uint32_t counter = pointer(pg);
    // Both processes add 1 to the counter 40 times, each read-hold-write; none is lost.
    auto bump = [&](FileDecl& f) {
        for (int i = 0; i < 40; ++i) {
            do {
                getPointer(f, counter);
                hold(f, 5);
            } while (errorCode() == err::RecordHeld);
            getPointer(f, counter); // read again under the hold
            f.record.set("STF:Salary", Value(f.record.get("STF:Salary").toLong() + 1));
            put(f);
            if (errorCode()) return false;
            release(f);
        }
        return true;
    };
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    char c = 0;
    pid_t pid = ::fork();
    if (pid == 0) {
        FileDecl g = staffFile("POSTGRESQL", server->conninfo(), "STAFF");
        share(g);
        bool ok = errorCode() == 0 && bump(g);
        // A transaction: nothing of it is seen before COMMIT, nothing of a rolled back one ever.
        logout(1, {&g});
        setStaff(g, 600, "InTransaction", "", 1);
        add(g);
        setStaff(g, 5, "Duplicate", "", 1);
        add(g); // refused, and the transaction goes on
        ok = ok && errorCode() == err::DuplicateKey;
        ok = ok && ::write(toParent[1], "a", 1) == 1 && ::read(toChild[0], &c, 1) == 1;
        commit();
        ok = ok && errorCode() == 0;
        logout(1, {&g});
        setStaff(g, 601, "RolledBack", "", 1);
        add(g);
        rollback();
        _exit(ok ? 0 : 1);
    }
    EXPECT_TRUE(bump(pg));
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    setStaff(pg, 600, "", "", 0);
    get(pg, 0);
    EXPECT_EQ(errorCode(), err::RecordNotFound); // not yet committed
    ASSERT_EQ(::write(toChild[1], "b", 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    getPointer(pg, counter);
    EXPECT_EQ(pg.record.get("STF:Salary").toLong(), 80);
    setStaff(pg, 600, "", "", 0);
    get(pg, 0);
    EXPECT_EQ(errorCode(), 0);
    setStaff(pg, 601, "", "", 0);
    get(pg, 0);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
}

TEST_F(PgDriver, ServerGoneMidBrowseAndMidSaveIsReportedAndLosesNothing) {
    setKey(pg, 0);
    next(pg);
    next(pg);
    ASSERT_EQ(errorCode(), 0);
    std::string read = who(pg);
    std::uint32_t ptr = pointer(pg);
    Record saved = pg.record;
    ASSERT_TRUE(server->kill());
    // The rows of the batch already read still come; then the loss is an error with the reason.
    int code = 0;
    for (int i = 0; i < 200 && code == 0; ++i) {
        next(pg);
        code = errorCode();
    }
    EXPECT_EQ(code, err::FileSystemError);
    EXPECT_NE(fileError().find("connection"), std::string::npos) << fileError();
    getPointer(pg, ptr);
    EXPECT_EQ(errorCode(), err::FileSystemError);
    pg.record = saved;
    pg.record.set("STF:LastName", Value("Saved"));
    put(pg, ptr);
    EXPECT_EQ(errorCode(), err::FileSystemError);
    ASSERT_TRUE(server->restart());
    // The next call connects again; the save made then is the only change.
    pg.record = saved;
    pg.record.set("STF:LastName", Value("Saved"));
    put(pg, ptr);
    ASSERT_EQ(errorCode(), 0) << fileError();
    getPointer(pg, ptr);
    EXPECT_EQ(std::string(clipRight(pg.record.get("STF:LastName").toText())), "Saved");
    EXPECT_EQ(who(pg), read);
    EXPECT_EQ(records(pg), 60);
}

#ifdef SORVTOOL_PATH
TEST_F(PgDriver, SorvtoolCopiesTablesToTheServerAndBack) {
    close(native);
    auto sorvtool = [](const std::string& args) {
        std::string cmd = std::string(SORVTOOL_PATH) + " " + args + " >/dev/null 2>&1";
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string server = "'postgresql:" + this->server->conninfo();
    EXPECT_EQ(sorvtool("db copy " + dir.file("STAFF") + " " + server + "#moved'"), 0);
    EXPECT_EQ(sorvtool("db copy " + server + "#moved' " + dir.file("BACK")), 0);
    // Copying onto a table that exists replaces nothing; a missing source makes nothing.
    EXPECT_EQ(sorvtool("db copy " + dir.file("STAFF") + " " + server + "#moved'"), 1);
    EXPECT_EQ(sorvtool("db copy " + dir.file("NOSUCH") + " " + server + "#other'"), 1);
    FileDecl moved = staffFile("POSTGRESQL", this->server->conninfo(), "MOVED");
    FileDecl back = staffFile("QUARNELL", "", dir.file("BACK"));
    FileDecl other = staffFile("POSTGRESQL", this->server->conninfo(), "OTHER");
    open(other);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    for (FileDecl* f : {&moved, &back, &native}) {
        open(*f, openmode::ReadOnly | openmode::DenyNone);
        ASSERT_EQ(errorCode(), 0) << f->driver << " " << fileError();
    }
    for (int key = 0; key < 3; ++key) {
        setKey(native, key);
        setKey(moved, key);
        setKey(back, key);
        std::vector<std::string> want = readAll(native, true);
        EXPECT_EQ(readAll(moved, true), want) << key;
        EXPECT_EQ(readAll(back, true), want) << key;
    }
    close(moved);
    close(back);
}
#endif
