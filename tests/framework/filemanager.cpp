// File and relation managers over real native files: lazy open and creation, automatic numbers
// within a group, inserts with duplicates, changes by another station, and the delete and update
// rules over three related tables (Company, Dept, Emp).
#include "framework/filemanager.h"
#include "framework/errormanager.h"
#include "framework/relationmanager.h"
#include "tests/data/testfiles.h"

#include "data/files.h"
#include "runtime/errors.h"
#include "windowing/desktop.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sorv;
using namespace sorv::fw;

namespace {

class Recording : public ErrorManager {
public:
    std::vector<int> raised;
    int answer = win::button::No;

protected:
    int ShowBox(const std::string&, const std::string&, int, int, int) override {
        raised.push_back(current() >= 0 ? ERRORS[static_cast<std::size_t>(current())].ID : -1);
        return answer;
    }
    void Halt(const std::string&) override {}
};

// A table of numbered records under a parent; with `withNumber` a record is unique by its
// parent and its number, else any number of records share a parent.
FileDecl table(const std::string& path, const std::string& label, const std::string& prefix,
               bool withNumber) {
    std::vector<sorvtest::TestField> fields = {{prefix + ":Id", FieldType::Long},
                                               {prefix + ":Parent", FieldType::Long}};
    std::vector<KeyComponent> parent = {{1, false}};
    if (withNumber) {
        fields.push_back({prefix + ":No", FieldType::Long});
        parent.push_back({2, false});
    }
    fields.push_back({prefix + ":Name", FieldType::String, 20});
    return sorvtest::declareFile(
        label, "QUARNELL", path, fields,
        {{prefix + ":KeyId", {{0, false}}, keyflag::Opt | keyflag::Primary},
         {prefix + ":KeyParent", parent, static_cast<std::uint8_t>(withNumber ? 0 : keyflag::Dup)}},
        fileattr::Create | fileattr::Thread);
}

struct Dictionary {
    sorvtest::TempDir dir;
    Recording errors;
    ThreadedFile company{table(dir.file("COMPANY"), "Company", "CO", false)};
    ThreadedFile dept{table(dir.file("DEPT"), "Dept", "DP", true)};
    ThreadedFile emp{table(dir.file("EMP"), "Emp", "EM", false)};
    FileManager co, dp, em;
    RelationManager rco, rdp, rem;

    // dpLink: the Dept field the Emp records link to (their department, or its company).
    Dictionary(std::uint8_t coDelete, std::uint8_t dpDelete, std::uint8_t coUpdate = rule::None,
               bool logout = false, std::uint8_t dpUpdate = rule::None, const char* dpLink = "DP:Id") {
        errors.Init();
        co.Init(company, errors, "Company");
        co.AddKey(0, "Company id", true);
        co.AddKey(1, "Company parent");
        dp.Init(dept, errors, "Dept");
        dp.AddKey(0, "Dept id", true);
        dp.AddKey(1, "Dept within company", true);
        em.Init(emp, errors, "Emp");
        em.AddKey(0, "Emp id", true);
        em.AddKey(1, "Emp dept");
        rco.Init(co, logout);
        rdp.Init(dp, logout);
        rem.Init(em, logout);
        rco.AddRelation(rdp, coUpdate, coDelete, 1);
        rco.AddRelationLink("CO:Id", "DP:Parent");
        rdp.AddRelation(rco);
        rdp.AddRelationLink("DP:Parent", "CO:Id");
        rdp.AddRelation(rem, dpUpdate, dpDelete, 1);
        rdp.AddRelationLink(dpLink, "EM:Parent");
        rco.Open();
        rdp.Open();
        rem.Open();
    }
    ~Dictionary() {
        rco.Close();
        rdp.Close();
        rem.Close();
        co.Kill();
        dp.Kill();
        em.Kill();
    }
    int addCompany(const std::string& name) {
        co.PrimeBuffer();
        co.record().set("CO:Name", Value(name));
        EXPECT_EQ(co.Insert(), LevelNone);
        return static_cast<int>(co.record().get("CO:Id").toLong());
    }
    int addDept(int company, const std::string& name) {
        dp.record().clear();
        dp.record().set("DP:Parent", Value(company));
        dp.PrimeBuffer(true);
        dp.record().set("DP:Name", Value(name));
        EXPECT_EQ(dp.Insert(), LevelNone);
        return static_cast<int>(dp.record().get("DP:Id").toLong());
    }
    void addEmp(int deptId, const std::string& name) {
        em.PrimeBuffer();
        em.record().set("EM:Parent", Value(deptId));
        em.record().set("EM:Name", Value(name));
        EXPECT_EQ(em.Insert(), LevelNone);
    }
    std::int64_t count(FileManager& m) {
        m.EnsureFileOpen();
        return records(m.file());
    }
    bool fetchCompany(int id) {
        co.record().set("CO:Id", Value(id));
        return co.TryFetch(0) == LevelNone;
    }
};

} // namespace

TEST(FileManager, LazyOpenTouchesNothingUntilFirstUseAndCreatesThen) {
    Dictionary d(rule::None, rule::None);
    EXPECT_FALSE(std::filesystem::exists(d.dir.file("COMPANY.QNL")));
    d.co.record().set("CO:Name", Value("kept"));
    EXPECT_EQ(d.co.EnsureFileOpen(), LevelNone);
    EXPECT_TRUE(std::filesystem::exists(d.dir.file("COMPANY.QNL")));
    // The lazy open never disturbs the record the caller prepared.
    EXPECT_EQ(clipRight(d.co.record().get("CO:Name").toText()), "kept");
    EXPECT_TRUE(d.errors.raised.empty());
}

TEST(FileManager, UseCountedOnceAndUnopenedUseIsReported) {
    Recording errors;
    errors.Init();
    sorvtest::TempDir dir;
    ThreadedFile t{table(dir.file("T"), "T", "T", false)};
    FileManager m;
    m.Init(t, errors, "T");
    EXPECT_NE(m.EnsureFileOpen(), LevelNone);
    ASSERT_FALSE(errors.raised.empty());
    EXPECT_EQ(errors.raised.back(), 39);
    m.Open();
    EXPECT_EQ(m.EnsureFileOpen(), LevelNone);
    EXPECT_TRUE(m.file().isOpen());
    EXPECT_EQ(m.Close(), LevelNone);
    // One Open, one Close: the file is really closed.
    EXPECT_FALSE(m.file().isOpen());
    m.Kill();
}

TEST(FileManager, AFatalMessagesHaltClosesTheFileOnEveryThread) {
    sorvtest::TempDir dir;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        // The real halt of a fatal message, with the file open on two threads.
        class Fatal : public ErrorManager {
            int ShowBox(const std::string&, const std::string&, int, int, int) override { return 1; }
        } errors;
        errors.Init();
        FileManager::setTraceHook([&](const FileManager&, std::string_view what) {
            [[maybe_unused]] auto n = ::write(out[1], what.data(), what.size());
            n = ::write(out[1], "\n", 1);
        });
        ThreadedFile t{table(dir.file("T"), "T", "T", false)};
        FileManager m;
        m.Init(t, errors, "T");
        auto open = [&] { return m.Open() == LevelNone && m.EnsureFileOpen() == LevelNone; };
        if (!open()) ::_exit(7);
        std::thread([&] { open(); }).join();
        if (t.threads() != 2 || !m.file().isOpen()) ::_exit(9);
        m.Raise(23); // "could not be opened": fatal
        ::_exit(8);
    }
    ::close(out[1]);
    std::string seen;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) seen.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(seen, "Real File Open\nReal File Open\nClose File\nClose File\n");
}

TEST(FileManager, AutoNumbersCountWithinTheirGroup) {
    Dictionary d(rule::None, rule::None);
    int a = d.addCompany("A"), b = d.addCompany("B");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    // Dept numbers run per company: the last of the group plus one, 1 for an empty group.
    d.addDept(a, "a1");
    d.addDept(a, "a2");
    EXPECT_EQ(d.dp.record().get("DP:No").toLong(), 2);
    d.addDept(b, "b1");
    EXPECT_EQ(d.dp.record().get("DP:No").toLong(), 1);
    EXPECT_EQ(d.count(d.co), 2);
    EXPECT_EQ(d.count(d.dp), 3);
}

TEST(FileManager, ReleasedReservationLeavesNoRecord) {
    Dictionary d(rule::None, rule::None);
    d.addCompany("A");
    d.co.PrimeBuffer();
    EXPECT_TRUE(d.co.info().AUTOINCDONE);
    EXPECT_EQ(d.count(d.co), 2); // the reservation is a record already
    // A lookup on the same thread moves the current record; the release still finds its own.
    d.fetchCompany(1);
    EXPECT_EQ(d.rco.ReleaseAutoNumber(), LevelNone);
    EXPECT_EQ(d.count(d.co), 1);
    EXPECT_TRUE(d.fetchCompany(1));
}

TEST(FileManager, DuplicateKeyReportsMessage13) {
    Dictionary d(rule::None, rule::None);
    d.em.PrimeBuffer();
    d.em.record().set("EM:Name", Value("x"));
    ASSERT_EQ(d.em.Insert(), LevelNone);
    int id = static_cast<int>(d.em.record().get("EM:Id").toLong());
    d.em.record().clear();
    d.em.record().set("EM:Id", Value(id));
    d.em.HASAUTOINC = false;
    EXPECT_EQ(d.em.Insert(), LevelNotify);
    ASSERT_FALSE(d.errors.raised.empty());
    EXPECT_EQ(d.errors.raised.back(), 13);
    EXPECT_EQ(d.errors.MESSAGETEXT, "Emp id");
}

TEST(FileManager, ChangeByAnotherStationShowsTheirRecord) {
    Dictionary d(rule::None, rule::None);
    int a = d.addCompany("Ours");
    d.co.file(); // flush nothing; the other station is a second process
    ASSERT_TRUE(d.fetchCompany(a));
    watch(d.co.file());
    ASSERT_TRUE(d.fetchCompany(a));
    std::string path = d.dir.file("COMPANY");
    pid_t pid = fork();
    if (pid == 0) {
        FileDecl f = table(path, "Company", "CO", false);
        open(f, 0x42);
        f.record.set("CO:Id", Value(a));
        get(f, 0);
        f.record.set("CO:Name", Value("Theirs"));
        put(f);
        int rc = errorCode();
        close(f);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    d.co.record().set("CO:Name", Value("Mine"));
    EXPECT_EQ(d.rco.Update(true), LevelNotify);
    ASSERT_FALSE(d.errors.raised.empty());
    EXPECT_EQ(d.errors.raised.back(), 7);
    EXPECT_EQ(clipRight(d.co.record().get("CO:Name").toText()), "Theirs");
    // Watched again: a second try over their version goes through.
    d.co.record().set("CO:Name", Value("Mine"));
    EXPECT_EQ(d.rco.Update(true), LevelNone);
}

TEST(RelationManager, RestrictDeepInACascadeDeletesNothing) {
    Dictionary d(rule::Cascade, rule::Restrict);
    int a = d.addCompany("A");
    d.addDept(a, "a1");
    int a2 = d.addDept(a, "a2");
    d.addEmp(a2, "e");
    ASSERT_TRUE(d.fetchCompany(a));
    EXPECT_EQ(d.rco.Delete(false), LevelNotify);
    EXPECT_NE(std::find(d.errors.raised.begin(), d.errors.raised.end(), 30), d.errors.raised.end());
    EXPECT_EQ(d.count(d.co), 1);
    EXPECT_EQ(d.count(d.dp), 2);
    EXPECT_EQ(d.count(d.em), 1);
}

TEST(RelationManager, CascadeDeletesThroughEveryLevel) {
    Dictionary d(rule::Cascade, rule::Cascade, rule::None, true);
    int a = d.addCompany("A"), b = d.addCompany("B");
    int a1 = d.addDept(a, "a1");
    d.addDept(a, "a2");
    int b1 = d.addDept(b, "b1");
    d.addEmp(a1, "x");
    d.addEmp(a1, "y");
    d.addEmp(b1, "z");
    ASSERT_TRUE(d.fetchCompany(a));
    EXPECT_EQ(d.rco.Delete(false), LevelNone);
    EXPECT_EQ(d.count(d.co), 1);
    EXPECT_EQ(d.count(d.dp), 1);
    EXPECT_EQ(d.count(d.em), 1);
}

TEST(RelationManager, ClearAndNoneRules) {
    Dictionary d(rule::Clear, rule::None);
    int a = d.addCompany("A");
    int a1 = d.addDept(a, "a1");
    d.addEmp(a1, "x");
    ASSERT_TRUE(d.fetchCompany(a));
    EXPECT_EQ(d.rco.Delete(false), LevelNone);
    EXPECT_EQ(d.count(d.dp), 1);
    d.dp.record().set("DP:Id", Value(a1));
    ASSERT_EQ(d.dp.TryFetch(0), LevelNone);
    EXPECT_EQ(d.dp.record().get("DP:Parent").toLong(), 0);
    EXPECT_EQ(d.count(d.em), 1);
}

TEST(RelationManager, RestrictedUpdateWritesNothingAndResetsTheLink) {
    Dictionary d(rule::None, rule::None, rule::Restrict);
    int a = d.addCompany("A");
    d.addDept(a, "a1");
    ASSERT_TRUE(d.fetchCompany(a));
    d.rco.RememberLinkValues();
    d.co.record().set("CO:Id", Value(77));
    EXPECT_EQ(d.rco.Update(true), LevelNotify);
    EXPECT_EQ(d.errors.raised.back(), 31);
    EXPECT_EQ(d.co.record().get("CO:Id").toLong(), a);
    EXPECT_TRUE(d.fetchCompany(a));
    EXPECT_FALSE(d.fetchCompany(77));
}

TEST(RelationManager, CascadedUpdateMovesTheChildren) {
    Dictionary d(rule::None, rule::None, rule::Cascade, true);
    int a = d.addCompany("A");
    d.addDept(a, "a1");
    d.addDept(a, "a2");
    ASSERT_TRUE(d.fetchCompany(a));
    d.rco.RememberLinkValues();
    d.co.record().set("CO:Id", Value(50));
    EXPECT_EQ(d.rco.Update(false), LevelNone);
    d.dp.EnsureFileOpen();
    int moved = 0;
    setKey(d.dp.file(), 1);
    while (d.dp.Next() == LevelNone) moved += d.dp.record().get("DP:Parent").toLong() == 50;
    EXPECT_EQ(moved, 2);
}

// Dept's Emp records link to the department's company, and restrict its change: a company's new
// number would cascade into its departments and break their Emp links, so nothing is written.
TEST(RelationManager, RestrictBelowACascadedUpdateWritesNothing) {
    for (bool logout : {false, true}) {
        Dictionary d(rule::None, rule::None, rule::Cascade, logout, rule::Restrict, "DP:Parent");
        int a = d.addCompany("A");
        int a1 = d.addDept(a, "a1");
        d.addEmp(a, "e");
        ASSERT_TRUE(d.fetchCompany(a));
        d.rco.RememberLinkValues();
        d.co.record().set("CO:Id", Value(50));
        EXPECT_EQ(d.rco.Update(true), LevelNotify);
        EXPECT_EQ(d.errors.raised, std::vector<int>{31});
        EXPECT_EQ(d.co.record().get("CO:Id").toLong(), a) << "the link is reset to its original";
        EXPECT_FALSE(d.fetchCompany(50));
        EXPECT_TRUE(d.fetchCompany(a));
        d.dp.record().set("DP:Id", Value(a1));
        ASSERT_EQ(d.dp.TryFetch(0), LevelNone);
        EXPECT_EQ(d.dp.record().get("DP:Parent").toLong(), a);
    }
}

// The originals kept for one record's change are not those of the next record changed on the
// thread: without its own, a record's originals are its values as stored.
TEST(RelationManager, EachChangeCascadesFromItsOwnRecordsOriginals) {
    Dictionary d(rule::None, rule::None, rule::Cascade, true);
    int a = d.addCompany("A"), b = d.addCompany("B");
    d.addDept(a, "a1");
    d.addDept(b, "b1");
    ASSERT_TRUE(d.fetchCompany(a));
    d.rco.RememberLinkValues();
    d.co.record().set("CO:Id", Value(50));
    ASSERT_EQ(d.rco.Update(false), LevelNone);
    ASSERT_TRUE(d.fetchCompany(b));
    d.co.record().set("CO:Id", Value(60));
    ASSERT_EQ(d.rco.Update(false), LevelNone);
    std::map<std::string, std::int64_t> parentOf;
    d.dp.EnsureFileOpen();
    setKey(d.dp.file(), 1);
    while (d.dp.Next() == LevelNone)
        parentOf[std::string(clipRight(d.dp.record().get("DP:Name").toText()))] =
            d.dp.record().get("DP:Parent").toLong();
    EXPECT_EQ(parentOf, (std::map<std::string, std::int64_t>{{"a1", 50}, {"b1", 60}}));
}

TEST(FileManager, ThreadsHaveTheirOwnBuffersAndCounts) {
    Dictionary d(rule::None, rule::None);
    d.co.record().set("CO:Name", Value("main"));
    std::thread other([&] {
        EXPECT_EQ(clipRight(d.co.record().get("CO:Name").toText()), "");
        EXPECT_EQ(d.co.info().USECOUNT, 0);
        d.co.record().set("CO:Name", Value("other"));
    });
    other.join();
    EXPECT_EQ(clipRight(d.co.record().get("CO:Name").toText()), "main");
    EXPECT_EQ(d.co.info().USECOUNT, 2); // its own relation and the Dept one opened it
}

// The real open's failures on real files: a file that cannot be made, something else where the
// file should be, another station denying access or writes, and a file without write permission.
namespace {

struct OneTable {
    Recording errors;
    sorvtest::TempDir dir;
    std::string path;
    ThreadedFile t;
    FileManager m;
    explicit OneTable(const std::string& name = "T") : path(dir.file(name)), t(table(path, "T", "T", false)) {
        errors.Init();
        m.Init(t, errors, "T");
        m.Open();
    }
    ~OneTable() {
        m.Close();
        m.Kill();
    }
    // A record written by another station, so that the file exists.
    void seed() {
        FileDecl other = table(path, "T", "T", false);
        create(other);
        open(other, openmode::ReadWrite | openmode::DenyNone);
        other.record.set("T:Id", Value(1));
        other.record.set("T:Name", Value("first"));
        add(other);
        ASSERT_EQ(errorCode(), 0) << error();
        close(other);
    }
};

} // namespace

TEST(FileManager, AFileThatCannotBeMadeOrIsNoFileIsReported) {
    {
        OneTable o("missing/T"); // its directory does not exist
        EXPECT_NE(o.m.EnsureFileOpen(), LevelNone);
        EXPECT_EQ(o.errors.raised, std::vector<int>{10});
        EXPECT_FALSE(o.m.file().isOpen());
        EXPECT_FALSE(std::filesystem::exists(o.dir.file("missing")));
    }
    {
        OneTable o;
        std::filesystem::create_directory(o.path + ".QNL"); // a directory where the file should be
        EXPECT_EQ(o.m.EnsureFileOpen(), LevelFatal);
        EXPECT_EQ(o.errors.raised, std::vector<int>{23});
        EXPECT_FALSE(o.m.file().isOpen());
        EXPECT_TRUE(std::filesystem::is_directory(o.path + ".QNL"));
    }
    {
        OneTable o;
        o.m.CREATE = false;
        EXPECT_EQ(o.m.EnsureFileOpen(), LevelFatal);
        EXPECT_EQ(o.errors.raised, std::vector<int>{23});
        EXPECT_FALSE(std::filesystem::exists(o.path + ".QNL"));
    }
    {
        // A table on a server out of reach is told the same, but as a notice: the program goes on,
        // and the next use tries again.
        OneTable o;
        o.m.file().driver = "POSTGRESQL";
        o.m.file().driverOptions = "host=" + o.dir.file("nosocket") + " port=5432 dbname=none";
        EXPECT_EQ(o.m.EnsureFileOpen(), LevelNotify);
        EXPECT_EQ(o.m.EnsureFileOpen(), LevelNotify);
        EXPECT_EQ(o.errors.raised, (std::vector<int>{23, 23}));
        EXPECT_EQ(o.errors.SAVEFILEERRORCODE, "359");
        EXPECT_FALSE(o.m.file().isOpen());
    }
}

TEST(FileManager, AnotherStationsExclusiveUseDeniesEvenReading) {
    OneTable o;
    o.seed();
    FileDecl other = table(o.path, "T", "T", false);
    open(other, openmode::ReadWrite | openmode::DenyAll);
    ASSERT_EQ(errorCode(), 0) << error();
    // Denied for writing (message 2), then for reading too: the open gives up (message 23).
    EXPECT_EQ(o.m.EnsureFileOpen(), LevelFatal);
    EXPECT_EQ(o.errors.raised, (std::vector<int>{2, 23}));
    EXPECT_FALSE(o.m.file().isOpen());
    close(other);
    // Once the other station has gone, the next use opens for writing.
    o.errors.raised.clear();
    EXPECT_EQ(o.m.EnsureFileOpen(), LevelNone);
    o.m.PrimeBuffer();
    EXPECT_EQ(o.m.Insert(), LevelNone);
    EXPECT_TRUE(o.errors.raised.empty());
}

TEST(FileManager, DeniedWritesOpenReadOnlyAndRefuseChanges) {
    OneTable o;
    o.seed();
    FileDecl other = table(o.path, "T", "T", false);
    open(other, openmode::ReadOnly | openmode::DenyWrite);
    ASSERT_EQ(errorCode(), 0) << error();
    EXPECT_EQ(o.m.EnsureFileOpen(), LevelNone);
    EXPECT_EQ(o.errors.raised, std::vector<int>{2});
    // Reading works; a new record is refused and the file keeps its one record.
    set(o.m.file());
    EXPECT_EQ(o.m.Next(), LevelNone);
    EXPECT_EQ(clipRight(o.m.record().get("T:Name").toText()), "first");
    o.m.PrimeBuffer();
    o.m.record().set("T:Name", Value("second"));
    EXPECT_NE(o.m.Insert(), LevelNone);
    EXPECT_GT(o.errors.raised.size(), 1u);
    EXPECT_EQ(records(other), 1);
    close(other);
    // The read-only retry was this open's only: the manager's mode stays read/write.
    EXPECT_EQ(o.m.OPENMODE, 0x42);
}

TEST(FileManager, AFileWithoutWritePermissionOpensReadOnly) {
    OneTable o;
    o.seed();
    std::string file = o.path + ".QNL";
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    // The superuser writes whatever the permissions say: then there is nothing to test here.
    if (::access(file.c_str(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore file permissions (root?): a read-only file is "
                        "writable here, so its refusal cannot be shown";
    EXPECT_EQ(o.m.EnsureFileOpen(), LevelNone);
    EXPECT_EQ(o.errors.raised, std::vector<int>{2});
    set(o.m.file());
    EXPECT_EQ(o.m.Next(), LevelNone);
    o.m.PrimeBuffer();
    EXPECT_NE(o.m.Insert(), LevelNone);
    EXPECT_EQ(records(o.m.file()), 1);
    // Neither read nor write permission: the open gives up.
    o.m.Close();
    std::filesystem::permissions(file, std::filesystem::perms::none);
    o.errors.raised.clear();
    o.m.Open();
    EXPECT_EQ(o.m.EnsureFileOpen(), LevelFatal);
    EXPECT_EQ(o.errors.raised, (std::vector<int>{2, 23}));
}
