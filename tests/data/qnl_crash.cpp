// Crash safety of native files: writers in child processes are killed with SIGKILL at random
// moments, and every time the file must open, pass the check, and hold every record whose write
// had returned, while other processes keep adding to the same file.
#include "qnl_fixture.h"

#include "runtime/errors.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qnltest;

namespace {

enum Op : std::int32_t { Added = 1, Deleted = 2, Committed = 3, Deleting = 4 };

void report(int fd, Op op, std::int32_t id) {
    std::int32_t msg[2] = {op, id};
    if (::write(fd, msg, sizeof msg) != sizeof msg) _exit(3);
}

// A child that adds, changes and deletes records for ever (until killed); ids start at base.
[[noreturn]] void singleWriter(const std::string& path, int out, int base, int count) {
    Schema s = customerSchema();
    Table t;
    if (t.open(path) != 0) _exit(2);
    std::map<int, std::uint32_t> mine;
    for (int i = 0; count < 0 || i < count; ++i) {
        int id = base + i;
        RecordData r = makeRecord(s, {{"CUST:SysId", id},
                                      {"CUST:Company", "Company " + std::to_string(id % 97)},
                                      {"CUST:City", "City " + std::to_string(id % 13)}});
        std::uint32_t p;
        if (int rc = t.add(r, p); rc != 0) {
            std::fprintf(stderr, "add %d (base %d) failed: %d %s\n", id, base, rc, sorv::error().c_str());
            _exit(4);
        }
        report(out, Added, id);
        mine[id] = p;
        if (i % 4 == 3) {
            auto victim = mine.begin();
            report(out, Deleting, victim->first);
            if (t.erase(victim->second) != 0) _exit(5);
            report(out, Deleted, victim->first);
            mine.erase(victim);
        }
        if (i % 5 == 2 && !mine.empty()) {
            auto it = mine.rbegin();
            RecordData old;
            if (t.get(it->second, old) != 0) _exit(6);
            old.bytes = makeRecord(s, {{"CUST:SysId", it->first}, {"CUST:Company", "Changed"}}).bytes;
            if (t.put(it->second, old, true) != 0) _exit(7);
        }
        if (count < 0 && i % 97 == 50 && t.build() != 0) _exit(8);
    }
    _exit(0);
}

// A child that commits transactions of records over two files; transaction n adds n % 5 + 1
// records to each, all carrying n.
[[noreturn]] void transactionWriter(const std::string& pp, const std::string& cp, int out) {
    Schema ps = peopleSchema(), cs = customerSchema();
    Table people, cust;
    if (people.open(pp) != 0 || cust.open(cp) != 0) _exit(2);
    for (int n = 1;; ++n) {
        Transaction tx;
        if (tx.begin({&people, &cust}) != 0) _exit(3);
        for (int j = 0; j <= n % 5; ++j) {
            RecordData r = makeRecord(ps, {{"PPL:SysId", n}, {"PPL:LastName", "T" + std::to_string(j)}});
            RecordData c = makeRecord(cs, {{"CUST:SysId", n * 10 + j}, {"CUST:Company", "T"}});
            std::uint32_t p;
            if (people.add(r, p) != 0 || cust.add(c, p) != 0) _exit(4);
        }
        if (tx.commit() != 0) _exit(5);
        report(out, Committed, n);
    }
}

std::vector<std::pair<Op, std::int32_t>> drain(int fd) {
    std::vector<std::pair<Op, std::int32_t>> out;
    std::int32_t msg[2];
    while (::read(fd, msg, sizeof msg) == sizeof msg) out.push_back({static_cast<Op>(msg[0]), msg[1]});
    return out;
}

std::multiset<int> idsIn(Table& t, const char* field) {
    std::multiset<int> ids;
    Cursor c(t, -1);
    c.setFirst();
    RecordData r;
    std::uint32_t p;
    while (c.next(r, p) == 0) ids.insert(static_cast<int>(qnltest::field(t.schema(), r, field).toLong()));
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    return ids;
}

pid_t spawn(const std::function<void(int)>& body, int& readEnd) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        body(fds[1]);
        _exit(0);
    }
    ::close(fds[1]);
    readEnd = fds[0];
    return pid;
}

} // namespace

TEST(QnlCrash, KilledWritersLoseNothingThatReturned) {
    TempDir d;
    std::string path = d.file("CUSTOMER.QNL");
    ASSERT_EQ(Table::create(path, customerSchema(), false), 0);
    std::mt19937 rng(7);
    std::set<int> present, attempted;
    int base = 1;
    for (int round = 0; round < 40; ++round) {
        int victimOut = -1, steadyOut = -1;
        int steadyBase = 1000000 + round * 1000;
        pid_t victim = spawn([&](int out) { singleWriter(path, out, base, -1); }, victimOut);
        // A second process adds to the same file at the same time and is not killed.
        pid_t steady = spawn([&](int out) { singleWriter(path, out, steadyBase, 60); }, steadyOut);
        ASSERT_GT(victim, 0);
        ASSERT_GT(steady, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 40000));
        ::kill(victim, SIGKILL);
        int status = 0;
        ::waitpid(victim, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "victim ended on its own with " << WEXITSTATUS(status);
        ::waitpid(steady, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        // A delete that was started but not known to have returned may or may not be done.
        int maybe = -1;
        for (auto [op, id] : drain(victimOut)) {
            if (op == Added) present.insert(id);
            if (op == Deleting) maybe = id;
            if (op == Deleted) {
                present.erase(id);
                maybe = -1;
            }
        }
        for (auto [op, id] : drain(steadyOut)) {
            if (op == Added) present.insert(id);
            if (op == Deleted) present.erase(id);
        }
        ::close(victimOut);
        ::close(steadyOut);

        Table t;
        ASSERT_EQ(t.open(path), 0) << "round " << round;
        std::vector<std::string> problems;
        t.check(problems);
        ASSERT_TRUE(problems.empty()) << "round " << round << ": " << problems.front();
        std::multiset<int> ids = idsIn(t, "CUST:SysId");
        std::set<int> unique(ids.begin(), ids.end());
        ASSERT_EQ(unique.size(), ids.size());
        for (int id : present)
            ASSERT_TRUE(unique.count(id) || id == maybe) << "record " << id << " lost in round " << round;
        // Anything beyond the returned writes is at most the one write in flight: an add the
        // victim had started, or a delete it had not finished.
        std::vector<int> extra;
        for (int id : unique)
            if (!present.count(id)) extra.push_back(id);
        ASSERT_LE(extra.size(), 1u) << "round " << round;
        present = unique;
        // The next victim numbers its records above everything a victim wrote before.
        for (int id : unique)
            if (id < 1000000) base = std::max(base, id + 1);
        base = std::max(base, (round + 1) * 5000 + 1);
        t.close();
    }
}

TEST(QnlCrash, KilledTransactionsAreAllOrNothing) {
    TempDir d;
    std::string pp = d.file("PEOPLE.QNL"), cp = d.file("CUSTOMER.QNL");
    ASSERT_EQ(Table::create(pp, peopleSchema(), false), 0);
    ASSERT_EQ(Table::create(cp, customerSchema(), false), 0);
    std::mt19937 rng(11);
    int committedTotal = 0;
    for (int round = 0; round < 25; ++round) {
        // Each round starts from empty files so that transaction numbers repeat safely.
        {
            Table a, b;
            ASSERT_EQ(a.open(pp), 0);
            ASSERT_EQ(b.open(cp), 0);
            ASSERT_EQ(a.empty(), 0);
            ASSERT_EQ(b.empty(), 0);
        }
        int out = -1;
        pid_t pid = spawn([&](int o) { transactionWriter(pp, cp, o); }, out);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(10000 + rng() % 150000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
        std::set<int> committed;
        for (auto [op, n] : drain(out))
            if (op == Committed) committed.insert(n);
        ::close(out);
        committedTotal += static_cast<int>(committed.size());

        Table people, cust;
        ASSERT_EQ(people.open(pp), 0);
        ASSERT_EQ(cust.open(cp), 0);
        for (Table* t : {&people, &cust}) {
            std::vector<std::string> problems;
            t->check(problems);
            ASSERT_TRUE(problems.empty()) << problems.front();
        }
        std::multiset<int> inPeople = idsIn(people, "PPL:SysId");
        std::multiset<int> inCust;
        for (int id : idsIn(cust, "CUST:SysId")) inCust.insert(id / 10);
        std::set<int> seen(inPeople.begin(), inPeople.end());
        seen.insert(inCust.begin(), inCust.end());
        for (int n : seen) {
            std::size_t want = static_cast<std::size_t>(n % 5 + 1);
            EXPECT_EQ(inPeople.count(n), want) << "transaction " << n << " half applied in round " << round;
            EXPECT_EQ(inCust.count(n), want) << "transaction " << n << " half applied in round " << round;
        }
        for (int n : committed) EXPECT_TRUE(seen.count(n)) << "committed transaction " << n << " lost";
        // At most the transaction in flight is there without having been reported.
        EXPECT_LE(seen.size(), committed.size() + 1);
    }
    EXPECT_GT(committedTotal, 0);
}

namespace {
int stopAt = 0;
void stopHere(int step) {
    if (step == stopAt) ::kill(::getpid(), SIGKILL);
}
} // namespace

// Every step of a commit, stopped dead: the file opens with the write fully there or fully gone,
// and a transaction left in the middle blocks no reader.
TEST(QnlCrash, EveryCommitStepLeavesAWholeFile) {
    for (int step : {1, 2, 3}) {
        TempDir d;
        std::string path = d.file("C.QNL");
        Schema s = customerSchema();
        ASSERT_EQ(Table::create(path, s, false), 0);
        {
            Table t;
            ASSERT_EQ(t.open(path), 0);
            for (int i = 1; i <= 300; ++i) {
                RecordData r = makeRecord(s, {{"CUST:SysId", i}, {"CUST:City", "C" + std::to_string(i % 7)}});
                std::uint32_t p;
                ASSERT_EQ(t.add(r, p), 0);
            }
        }
        pid_t pid = ::fork();
        if (pid == 0) {
            Table t;
            if (t.open(path) != 0) _exit(2);
            stopAt = step;
            setCommitStepHook(stopHere);
            t.build(); // one large write: every page of the trees
            _exit(1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "step " << step;
        Table t;
        ASSERT_EQ(t.open(path), 0) << "step " << step;
        std::vector<std::string> problems;
        t.check(problems);
        EXPECT_TRUE(problems.empty()) << "step " << step << ": " << problems.front();
        std::uint32_t n = 0;
        ASSERT_EQ(t.records(n), 0);
        EXPECT_EQ(n, 300u);
        EXPECT_EQ(idsIn(t, "CUST:SysId").size(), 300u);
    }
    for (int step : {11, 12, 13, 14}) {
        TempDir d;
        std::string pp = d.file("PEOPLE.QNL"), cp = d.file("CUSTOMER.QNL");
        ASSERT_EQ(Table::create(pp, peopleSchema(), false), 0);
        ASSERT_EQ(Table::create(cp, customerSchema(), false), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            Table a, b;
            if (a.open(pp) != 0 || b.open(cp) != 0) _exit(2);
            Transaction tx;
            if (tx.begin({&a, &b}) != 0) _exit(3);
            for (int i = 1; i <= 200; ++i) {
                RecordData r = makeRecord(a.schema(), {{"PPL:SysId", i}});
                RecordData c = makeRecord(b.schema(), {{"CUST:SysId", i}});
                std::uint32_t p;
                if (a.add(r, p) != 0 || b.add(c, p) != 0) _exit(4);
            }
            stopAt = step;
            setCommitStepHook(stopHere);
            tx.commit();
            _exit(1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "step " << step;
        // Before the transaction is settled, read-only handles open at once (they can take no
        // lock to settle it) and read the last committed state.
        std::uint32_t want = step == 14 ? 200 : 0;
        for (const std::string& path : {pp, cp}) {
            auto t0 = std::chrono::steady_clock::now();
            Table ro;
            ASSERT_EQ(ro.open(path, true), 0) << "step " << step;
            std::uint32_t n = 0;
            ASSERT_EQ(ro.records(n), 0);
            EXPECT_EQ(n, want) << "step " << step;
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500))
                << "step " << step;
        }
        Table a, b;
        ASSERT_EQ(a.open(pp), 0);
        ASSERT_EQ(b.open(cp), 0);
        std::uint32_t na = 0, nb = 0;
        ASSERT_EQ(a.records(na), 0);
        ASSERT_EQ(b.records(nb), 0);
        // Before the control file's log is cleared the transaction is undone; after, it is complete.
        EXPECT_EQ(na, want) << "step " << step;
        EXPECT_EQ(nb, want) << "step " << step;
        for (Table* t : {&a, &b}) {
            std::vector<std::string> problems;
            t->check(problems);
            EXPECT_TRUE(problems.empty()) << "step " << step << ": " << problems.front();
        }
    }
}

// Readers in this process while another process commits transactions and rebuilds the keys: no
// read ever meets a half-written page or a half-applied transaction, whether it runs from its
// cache without locks, upgrades to the lock for a page it lacks, or is run again after losing
// its snapshot.
TEST(QnlCrash, ReadersNeverSeeAWriteHalfDone) {
    TempDir d;
    std::string pp = d.file("PEOPLE.QNL");
    Schema s = peopleSchema();
    ASSERT_EQ(Table::create(pp, s, false), 0);
    constexpr int Batch = 10;
    int out = -1;
    pid_t pid = spawn(
        [&](int o) {
            Table t;
            if (t.open(pp) != 0) _exit(2);
            for (int n = 1;; ++n) {
                Transaction tx;
                if (tx.begin({&t}) != 0) _exit(3);
                for (int j = 0; j < Batch; ++j) {
                    RecordData r =
                        makeRecord(s, {{"PPL:SysId", n}, {"PPL:LastName", std::string(18, 'a' + j)}});
                    std::uint32_t p;
                    if (t.add(r, p) != 0) _exit(4);
                }
                if (tx.commit() != 0) _exit(5);
                if (n % 25 == 0 && t.build() != 0) _exit(6);
                report(o, Committed, n);
            }
        },
        out);
    ASSERT_GT(pid, 0);
    Table t;
    ASSERT_EQ(t.open(pp), 0);
    int corrupt = 0;
    t.pager().setCorruptionHook([&](int) { ++corrupt; });
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    int scans = 0, grew = 0;
    std::size_t before = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (int key : {0, -1}) {
            Cursor c(t, key);
            c.setFirst();
            RecordData r;
            std::uint32_t p;
            std::map<int, int> perBatch;
            std::size_t n = 0;
            int rc;
            while ((rc = c.next(r, p)) == 0) {
                ++perBatch[static_cast<int>(field(s, r, "PPL:SysId").toLong())];
                ++n;
                RecordData again;
                ASSERT_EQ(t.get(p, again), 0) << "record " << p << " read by pointer";
            }
            ASSERT_EQ(rc, err::RecordNotAvailable) << "scan " << scans << " stopped with " << rc;
            // Each read sees whole transactions, and the records of a later one all lie after
            // the place a scan has reached (in key order and in file order), so every batch a
            // scan sees, it sees whole.
            for (auto [batch, count] : perBatch)
                ASSERT_EQ(count, Batch) << "batch " << batch << ", key " << key;
            std::uint32_t total = 0;
            ASSERT_EQ(t.records(total), 0);
            ASSERT_EQ(total % Batch, 0u) << "a transaction is half visible";
            grew += n > before;
            before = n;
            ++scans;
        }
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped with " << WEXITSTATUS(status);
    ::close(out);
    EXPECT_EQ(corrupt, 0);
    EXPECT_GT(grew, 3) << "the readers did not see the writer's commits";
    std::vector<std::string> problems;
    t.check(problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
}
