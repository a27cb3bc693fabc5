// The indexed drivers through the file statements: declarations, sequences, positions, memos and
// other processes (holds, change watching, visibility), run against the native "QUARNELL" driver
// and the "POSTGRESQL" server driver alike; then what is the native driver's own: its names, the
// transaction control file and the corruption report.
#include "data/files.h"
#include "data/qnl/qnldriver.h"
#include "data/qnl/table.h"
#include "pg_server.h"
#include "qnl_fixture.h"
#include "testfiles.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;

namespace {

FileDecl peopleFile(const std::string& name) {
    FileDecl f;
    f.label = "People";
    f.driver = "QUARNELL";
    f.name = name;
    f.attributes = fileattr::Create;
    qnltest::Schema s = qnltest::peopleSchema();
    f.record.setLayout(s.layout);
    f.keys = s.keys;
    return f;
}

void setPerson(FileDecl& f, int sys, const std::string& last) {
    f.record.clear();
    f.record.set("PPL:SysId", Value(sys));
    f.record.set("PPL:LastName", Value(last));
}

std::string lastName(const FileDecl& f) {
    return std::string(clipRight(f.record.get("PPL:LastName").toText()));
}

using sorvtest::slurp;
using sorvtest::spit;

// Runs body in a child process and answers its exit status.
int inChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) _exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// The suite of every indexed driver: the declarations name the driver under test, and the
// server's connection for the server driver.
class IndexedDriver : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() != "POSTGRESQL") return;
        SORV_NEED_PG_SERVER(server);
        options_ = server->conninfo();
    }
    FileDecl peopleFile(const std::string& name) const {
        FileDecl f = ::peopleFile(name);
        f.driver = GetParam();
        f.driverOptions = options_;
        return f;
    }
    bool native() const { return GetParam() == "QUARNELL"; }
    std::string options_;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Drivers, IndexedDriver, ::testing::Values("QUARNELL", "POSTGRESQL"),
                         [](const auto& info) { return info.param; });

TEST(QnlDriver, RegisteredNames) {
    Driver* d = findDriver("quarnell");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->name(), "QUARNELL");
    EXPECT_EQ(std::string(qnl::DriverDescription), "Quarnell (QNL)");
    EXPECT_EQ(std::string(qnl::DriverModule), "B5QNL.DLL");
    ASSERT_NE(findDriver("postgresql"), nullptr);
}

TEST_P(IndexedDriver, Creation) {
    qnltest::TempDir dir;
    FileDecl f = peopleFile(dir.path() + "/PEOPLE");
    remove(f); // a table of an earlier run
    open(f);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    f.attributes = 0;
    create(f);
    EXPECT_EQ(errorCode(), err::NoCreateAttribute);
    f.attributes = fileattr::Create;
    create(f);
    ASSERT_EQ(errorCode(), 0);
    if (native()) {
        EXPECT_TRUE(std::filesystem::exists(dir.path() + "/PEOPLE.QNL")); // the default extension
    }
    open(f, openmode::ReadWrite | openmode::DenyNone);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(name(f), dir.path() + "/PEOPLE");
    close(f);
    // A declaration that differs from the stored one answers 47.
    FileDecl other = peopleFile(dir.path() + "/PEOPLE");
    other.keys[0].flags = 0;
    open(other);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    FileDecl wider = peopleFile(dir.path() + "/PEOPLE");
    Layout l = wider.layout();
    l.add("PPL:Extra", FieldType::Long);
    wider.record.setLayout(l);
    open(wider);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    EXPECT_FALSE(wider.isOpen());
}

TEST_P(IndexedDriver, SequencesPositionsAndWrites) {
    qnltest::TempDir dir;
    FileDecl f = peopleFile(dir.path() + "/PEOPLE");
    create(f);
    open(f, openmode::ReadWrite | openmode::DenyAll);
    ASSERT_EQ(errorCode(), 0);
    const char* names[] = {"Smith", "Jones", "Brown", "Smith2", "Adams"};
    int ids[] = {3, 1, 2, 3, 0}; // 0 leaves the record out of the optional key
    for (int i = 0; i < 5; ++i) {
        setPerson(f, ids[i], names[i]);
        add(f);
        ASSERT_EQ(errorCode(), 0);
    }
    EXPECT_EQ(records(f), 5);
    EXPECT_EQ(records(f, 0), 4);
    setKey(f, 0);
    std::vector<std::string> order;
    for (next(f); errorCode() == 0; next(f)) order.push_back(lastName(f));
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    EXPECT_EQ(order, (std::vector<std::string>{"Jones", "Brown", "Smith", "Smith2"}));
    // SET by key value, then the position of a record survives an insert before it.
    setPerson(f, 3, "");
    setKeyValue(f, 0);
    next(f);
    ASSERT_EQ(lastName(f), "Smith");
    std::string pos = position(f, 0);
    std::uint32_t ptr = pointer(f);
    setPerson(f, 2, "Before");
    add(f);
    reset(f, 0, pos);
    ASSERT_EQ(errorCode(), 0);
    next(f);
    EXPECT_EQ(lastName(f), "Smith");
    previous(f); // the record before the one read last
    EXPECT_EQ(lastName(f), "Before");
    // GET by pointer and by key, REGET by position.
    getPointer(f, ptr);
    EXPECT_EQ(lastName(f), "Smith");
    setPerson(f, 1, "");
    get(f, 0);
    EXPECT_EQ(lastName(f), "Jones");
    setPerson(f, 42, "");
    get(f, 0);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    reget(f, pos);
    EXPECT_EQ(lastName(f), "Smith");
    // PUT rewrites the record read last; DELETE removes it.
    f.record.set("PPL:LastName", Value("Smythe"));
    put(f);
    ASSERT_EQ(errorCode(), 0);
    getPointer(f, ptr);
    EXPECT_EQ(lastName(f), "Smythe");
    deleteRecord(f);
    ASSERT_EQ(errorCode(), 0);
    getPointer(f, ptr);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    reset(f, std::string("junk"));
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    // File order with SET by pointer, EOF and SKIP.
    set(f);
    skip(f, 2);
    next(f);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(lastName(f), "Smith2");
    EXPECT_FALSE(eof(f));
    next(f);
    next(f);
    EXPECT_TRUE(eof(f));
    // DUPLICATE tells whether the buffer would clash with a unique key (none here: DUP).
    EXPECT_FALSE(duplicate(f));
    build(f);
    EXPECT_EQ(errorCode(), 0);
    pack(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 5);
    empty(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 0);
    isNull(f, 0);
    EXPECT_EQ(errorCode(), err::UnsupportedFunction);
    EXPECT_EQ(send(f, "Recover=5"), "10");
    EXPECT_EQ(send(f, "Recover"), "5");
    send(f, "QUICKSCAN=on");
    EXPECT_EQ(errorCode(), 0);
    close(f);
    // EMPTY and PACK need the file to themselves.
    share(f);
    empty(f);
    EXPECT_EQ(errorCode(), err::ExclusiveAccessRequired);
    close(f);
}

TEST_P(IndexedDriver, MemosThroughTheBuffer) {
    qnltest::TempDir dir;
    FileDecl f = peopleFile(dir.path() + "/NOTES");
    f.memos.push_back({"PPL:Notes", false, 50, "", false});
    f.memoValues.resize(1);
    create(f);
    open(f);
    f.memoValues[0] = std::string(80, 'x');
    setPerson(f, 1, "Memo");
    add(f);
    ASSERT_EQ(errorCode(), 0);
    f.memoValues[0].clear();
    set(f);
    next(f);
    EXPECT_EQ(f.memoValues[0], std::string(50, 'x'));
    noMemo(f);
    f.memoValues[0] = "kept";
    set(f);
    next(f);
    EXPECT_EQ(f.memoValues[0], "kept");
    close(f);
}

TEST(QnlDriver, TransactionsAndTheControlFile) {
    qnltest::TempDir dir;
    FileDecl a = peopleFile(dir.path() + "/A");
    FileDecl b = peopleFile(dir.path() + "\\B"); // either separator finds the directory
    create(a);
    create(b);
    share(a);
    share(b);
    logout(1, {&a, &b});
    ASSERT_EQ(errorCode(), 0);
    std::string tcf = dir.path() + "/quarnell.tcf";
    std::string h = slurp(tcf);
    ASSERT_EQ(h.size(), 512u); // a new control file: one header block with the signature
    EXPECT_EQ(h.substr(14, 4), "qUaR");
    setPerson(a, 1, "InA");
    add(a);
    setPerson(b, 1, "InB");
    add(b);
    commit();
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(records(a), 1);
    EXPECT_EQ(records(b), 1);
    logout(1, {&a, &b});
    setPerson(a, 2, "Gone");
    add(a);
    rollback();
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(records(a), 1);
    commit();
    EXPECT_EQ(errorCode(), err::LogoutNotActive);

    std::vector<std::string> reports;
    qnl::setCorruptionReporter(
        [&](const std::string& title, const std::string& text) { reports.push_back(title + "|" + text); });
    // A wrong signature is refused with the driver's error 1.
    std::string bad = h;
    bad.replace(14, 4, "quar");
    spit(tcf, bad);
    logout(1, {&a});
    EXPECT_EQ(errorCode(), err::UnableToLogTransaction);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Quarnell File Driver Error|Possible data corruption in file (1)");
    // A short header, and log ranges that do not lie inside the file in whole blocks.
    spit(tcf, h.substr(0, 100));
    logout(1, {&a});
    EXPECT_EQ(errorCode(), err::UnableToLogTransaction);
    auto withRange = [&](std::uint32_t start, std::uint32_t end) {
        std::string t = h;
        qnl::put32(reinterpret_cast<std::uint8_t*>(t.data() + 6), start);
        qnl::put32(reinterpret_cast<std::uint8_t*>(t.data() + 10), end);
        return t;
    };
    for (auto [s, e] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {0, 512}, {512, 1024}, {1024, 512}, {512, 700}, {600, 600}, {0xFFFFFE00u, 0xFFFFFE00u}}) {
        spit(tcf, withRange(s, e));
        logout(1, {&a});
        EXPECT_EQ(errorCode(), err::UnableToLogTransaction) << s << ".." << e;
    }
    // An empty control file is taken as new.
    spit(tcf, "");
    logout(1, {&a});
    EXPECT_EQ(errorCode(), 0);
    rollback();
    EXPECT_EQ(slurp(tcf).substr(14, 4), "qUaR");
    // Replacement message 4101 changes the text, not the number.
    qnl::setReplacementMessage(qnl::CorruptionMessage, "Datei beschaedigt");
    EXPECT_EQ(qnl::corruptionText(7), "Datei beschaedigt (7)");
    qnl::setReplacementMessage(qnl::CorruptionMessage, "Possible data corruption in file");
    qnl::setCorruptionReporter(nullptr);
    close(a);
    close(b);
}

TEST_P(IndexedDriver, OtherStationsHoldsWatchAndVisibility) {
    qnltest::TempDir dir;
    std::string base = dir.path() + "/SHARED";
    FileDecl f = peopleFile(base);
    create(f);
    share(f);
    setPerson(f, 1, "Original");
    add(f);
    std::uint32_t ptr = pointer(f);
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    auto say = [](int fd, char c) { return ::write(fd, &c, 1) == 1; };
    auto hear = [](int fd) {
        char c = 0;
        return ::read(fd, &c, 1) == 1 ? c : '?';
    };
    pid_t pid = ::fork();
    if (pid == 0) {
        // The other station.
        FileDecl g = peopleFile(base);
        share(g);
        if (errorCode()) _exit(2);
        getPointer(g, ptr);
        if (lastName(g) != "Original") _exit(3);
        hold(g); // a real lock: the parent cannot hold, change or delete it now
        if (errorCode()) _exit(4);
        say(toParent[1], 'h');
        if (hear(toChild[0]) != 'c') _exit(5);
        release(g);
        // Change the record the parent reads under WATCH.
        getPointer(g, ptr);
        g.record.set("PPL:LastName", Value("ByChild"));
        put(g);
        if (errorCode()) _exit(6);
        setPerson(g, 2, "Added by child");
        add(g);
        say(toParent[1], 'p');
        if (hear(toChild[0]) != 'q') _exit(7);
        // Hold and die: the lock goes with the process.
        getPointer(g, ptr);
        hold(g);
        say(toParent[1], 'd');
        ::pause();
        _exit(0);
    }
    ASSERT_EQ(hear(toParent[0]), 'h');
    getPointer(f, ptr);
    hold(f);
    EXPECT_EQ(errorCode(), err::RecordHeld);
    f.record.set("PPL:LastName", Value("Blocked"));
    put(f);
    EXPECT_EQ(errorCode(), err::RecordHeld);
    watch(f);
    getPointer(f, ptr);
    say(toChild[1], 'c');
    ASSERT_EQ(hear(toParent[0]), 'p');
    // The other station's committed changes are visible at once; our watched PUT answers 89.
    EXPECT_EQ(records(f), 2);
    f.record.set("PPL:LastName", Value("ByParent"));
    put(f);
    EXPECT_EQ(errorCode(), err::RecordChanged);
    getPointer(f, ptr);
    EXPECT_EQ(lastName(f), "ByChild");
    f.record.set("PPL:LastName", Value("ByParent"));
    put(f); // read again without WATCH: the write goes through
    EXPECT_EQ(errorCode(), 0);
    say(toChild[1], 'q');
    ASSERT_EQ(hear(toParent[0]), 'd');
    hold(f);
    EXPECT_EQ(errorCode(), err::RecordHeld);
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);
    hold(f, 5);                // a server notices the dead station's end a moment later
    EXPECT_EQ(errorCode(), 0); // a dead station's hold never blocks
    close(f);
    // A reader in another process sees the final state.
    EXPECT_EQ(inChild([&] {
                  FileDecl g = peopleFile(base);
                  open(g, openmode::ReadOnly | openmode::DenyNone);
                  getPointer(g, ptr);
                  return lastName(g) == "ByParent" ? 0 : 1;
              }),
              0);
}

TEST(QnlDriver, DamagedFilesAreReportedNotFollowed) {
    qnltest::TempDir dir;
    std::string base = dir.path() + "/DAMAGED";
    FileDecl f = peopleFile(base);
    create(f);
    open(f);
    for (int i = 0; i < 300; ++i) {
        setPerson(f, i % 17 + 1, "N" + std::to_string(i));
        add(f);
    }
    close(f);
    std::string good = slurp(base + ".QNL");
    std::vector<std::string> reports;
    qnl::setCorruptionReporter([&](const std::string&, const std::string& text) { reports.push_back(text); });
    // A flipped byte in a key page: reading in key order answers an error and reports it.
    std::string bad = good;
    std::size_t keyPage = 2; // header, declaration, then the first page of the key
    bad[keyPage * qnl::PageSize + 40] ^= 0x5A;
    spit(base + ".QNL", bad);
    open(f);
    ASSERT_EQ(errorCode(), 0);
    setKey(f, 0);
    next(f);
    EXPECT_NE(errorCode(), 0);
    EXPECT_FALSE(reports.empty());
    if (!reports.empty()) {
        EXPECT_EQ(reports[0].rfind("Possible data corruption in file (", 0), 0u);
    }
    close(f);
    EXPECT_EQ(slurp(base + ".QNL"), bad); // reading changed nothing
    // A truncated file and a file that is not a native file do not open.
    spit(base + ".QNL", good.substr(0, good.size() - 100));
    open(f);
    EXPECT_EQ(errorCode(), err::InvalidDataFile);
    spit(base + ".QNL", "not a data file at all");
    open(f);
    EXPECT_EQ(errorCode(), err::InvalidDataFile);
    qnl::setCorruptionReporter(nullptr);
}
