// Power loss under native files: a file layer under the pager records every write, cut and sync,
// and at a random moment cuts the power. What reaches the disk is what was synced, plus, for
// every 512-byte sector written since, any one of the versions it went through (none, some or
// all of the unsynced writes, in any order across sectors), and any length the file had since
// its last sync. After each cut the files must open, pass the check, hold every write that had
// returned, and hold each transaction whole or not at all.
//
// Every choice comes from a seed (the steps, the cut, the disk), so a run that fails fails again.
// SORV_POWERLOSS_RUNS=n runs more cuts than the suite does (e.g. 20000 by hand).
#include "data/qnl/fileio.h"
#include "qnl_fixture.h"
#include "runtime/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unordered_map>

using namespace qnltest;

namespace {

constexpr std::size_t Sector = 512;

class PowerCut : public FileIo {
public:
    explicit PowerCut(std::uint32_t seed) : rng_(seed) {}

    // The write, cut or sync with this number (from 1) does not happen: the power goes first.
    void cutAt(std::uint64_t op) { cutAt_ = op; }
    bool cut() const { return dead_; }
    std::uint64_t operations() const { return ops_; }

    int open(const std::string& path, int flags, int mode) override {
        struct stat st {};
        bool existed = ::stat(path.c_str(), &st) == 0;
        if (dead_ && (flags & O_CREAT) && !existed) {
            errno = EIO;
            return -1;
        }
        int fd = FileIo::open(path, flags, mode);
        if (fd < 0 || ::fstat(fd, &st) != 0) return fd;
        fds_[fd] = st.st_ino;
        auto [it, fresh] = files_.try_emplace(st.st_ino);
        if (fresh) {
            opened_.push_back(st.st_ino);
            it->second.path = path;
            if (existed) it->second.durable = slurp(fd);
        }
        return fd;
    }
    void close(int fd) override {
        fds_.erase(fd);
        FileIo::close(fd);
    }
    ssize_t pwrite(int fd, const void* buf, std::size_t n, off_t at) override {
        if (!step()) return fail();
        File* f = fileOf(fd);
        ssize_t w = FileIo::pwrite(fd, buf, n, at);
        if (f && w > 0) {
            Op op{false, at, std::string(static_cast<const char*>(buf), static_cast<std::size_t>(w)), 0};
            op.lengthAfter = std::max<off_t>(f->length(), at + w);
            f->ops.push_back(std::move(op));
        }
        return w;
    }
    int truncate(int fd, off_t length) override {
        if (!step()) return fail();
        File* f = fileOf(fd);
        int rc = FileIo::truncate(fd, length);
        if (f && rc == 0) f->ops.push_back(Op{true, length, {}, length});
        return rc;
    }
    int sync(int fd) override {
        if (!step()) return fail();
        if (File* f = fileOf(fd)) {
            f->durable = f->replay(f->ops.size());
            f->ops.clear();
        }
        return 0; // the disk of this test is the record above, not the real one
    }
    int syncDirectoryOf(const std::string&) override { return dead_ ? fail() : 0; }

    // Puts what the disk holds after the cut into the real files (once the engine let go).
    void restoreDisk() {
        for (auto& [ino, img] : images_) {
            int fd = ::open(img.first.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            ASSERT_GE(fd, 0) << img.first;
            ASSERT_EQ(::pwrite(fd, img.second.data(), img.second.size(), 0),
                      static_cast<ssize_t>(img.second.size()));
            ::close(fd);
        }
    }

private:
    struct Op {
        bool cut;
        off_t at;
        std::string data;
        off_t lengthAfter;
    };
    struct File {
        std::string path;
        std::string durable;
        std::vector<Op> ops;
        off_t length() const {
            return ops.empty() ? static_cast<off_t>(durable.size()) : ops.back().lengthAfter;
        }
        // The content after the first n unsynced operations.
        std::string replay(std::size_t n) const {
            std::string s = durable;
            for (std::size_t i = 0; i < n; ++i) apply(s, ops[i]);
            return s;
        }
        static void apply(std::string& s, const Op& op) {
            if (op.cut) {
                s.resize(static_cast<std::size_t>(op.at), '\0');
                return;
            }
            std::size_t end = static_cast<std::size_t>(op.at) + op.data.size();
            if (s.size() < end) s.resize(end, '\0');
            s.replace(static_cast<std::size_t>(op.at), op.data.size(), op.data);
        }
    };

    static std::string slurp(int fd) {
        std::string s;
        char buf[65536];
        off_t at = 0;
        for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, at)) > 0; at += n)
            s.append(buf, static_cast<std::size_t>(n));
        return s;
    }
    File* fileOf(int fd) {
        auto it = fds_.find(fd);
        return it == fds_.end() ? nullptr : &files_[it->second];
    }
    static int fail() {
        errno = EIO;
        return -1;
    }
    bool step() {
        if (dead_) return false;
        if (++ops_ == cutAt_) {
            powerOff();
            return false;
        }
        return true;
    }
    // Each sector written since the last sync independently shows one of its versions, and the
    // file one of the lengths it had. The files draw in the order they were first opened: the
    // disk a seed makes must not depend on inode numbers, which differ from one run to the next.
    void powerOff() {
        dead_ = true;
        for (ino_t ino : opened_) {
            File& f = files_[ino];
            std::vector<off_t> lengths{static_cast<off_t>(f.durable.size())};
            for (const Op& op : f.ops) lengths.push_back(op.lengthAfter);
            std::size_t length = static_cast<std::size_t>(lengths[rng_() % lengths.size()]);
            std::string disk = f.durable;
            disk.resize(length, '\0');
            std::map<std::size_t, std::vector<std::size_t>> touched; // sector -> ops that changed it
            for (std::size_t i = 0; i < f.ops.size(); ++i) {
                const Op& op = f.ops[i];
                std::size_t from = op.cut ? static_cast<std::size_t>(op.at) : static_cast<std::size_t>(op.at);
                std::size_t to = op.cut ? std::max(from, f.durable.size()) : from + op.data.size();
                for (std::size_t s = from / Sector; s * Sector < to; ++s) touched[s].push_back(i);
            }
            for (auto& [s, which] : touched) {
                if (s * Sector >= length) break;
                std::size_t upto = rng_() % (which.size() + 1);
                if (upto == 0) continue;
                std::string v = f.durable;
                for (std::size_t k = 0; k < upto; ++k) File::apply(v, f.ops[which[k]]);
                v.resize(std::max(v.size(), (s + 1) * Sector), '\0');
                std::size_t n = std::min(Sector, length - s * Sector);
                disk.replace(s * Sector, n, v, s * Sector, n);
            }
            images_[ino] = {f.path, std::move(disk)};
        }
    }

    std::mt19937 rng_;
    std::uint64_t ops_ = 0, cutAt_ = 0;
    bool dead_ = false;
    std::unordered_map<int, ino_t> fds_;
    std::unordered_map<ino_t, File> files_;
    std::vector<ino_t> opened_;
    std::map<ino_t, std::pair<std::string, std::string>> images_;
};

// What a file holds, by id: company (A) or name (B).
using Model = std::map<int, std::string>;

std::string differences(const Model& got, const Model& want) {
    std::string out;
    for (auto& [id, v] : want)
        if (!got.count(id) || got.at(id) != v) out += " " + std::to_string(id) + "=" + v + " missing;";
    for (auto& [id, v] : got)
        if (!want.count(id) || want.at(id) != v) out += " " + std::to_string(id) + "=" + v + " extra;";
    return out;
}

struct Step {
    enum Kind { Add, Put, Erase, Both, Build, Checkpoint, Reopen } kind;
    Model a, b; // the files as they are once the step returned
};

int idOf(Table& t, const RecordData& r) {
    return static_cast<int>(
        field(t.schema(), r, t.schema().prefix == "CUST" ? "CUST:SysId" : "PPL:SysId").toLong());
}

Model contentOf(Table& t) {
    Model m;
    Cursor c(t, -1);
    c.setFirst();
    RecordData r;
    std::uint32_t p;
    const char* name = t.schema().prefix == "CUST" ? "CUST:Company" : "PPL:LastName";
    while (c.next(r, p) == 0) {
        std::string v = field(t.schema(), r, name).toText();
        m[idOf(t, r)] = v.substr(0, v.find_last_not_of(' ') + 1);
    }
    return m;
}

std::uint32_t pointerOf(Table& t, int id) {
    Cursor c(t, -1);
    c.setFirst();
    RecordData r;
    std::uint32_t p;
    while (c.next(r, p) == 0)
        if (idOf(t, r) == id) return p;
    return 0;
}

class PowerLoss : public ::testing::Test {
protected:
    void SetUp() override {
        a = dir.file("CUSTOMER.QNL");
        b = dir.file("PEOPLE.QNL");
        ASSERT_EQ(Table::create(a, customerSchema(), false), 0);
        ASSERT_EQ(Table::create(b, peopleSchema(), false), 0);
        Table ta, tb;
        ASSERT_EQ(ta.open(a), 0);
        ASSERT_EQ(tb.open(b), 0);
        for (int i = 1; i <= 40; ++i) {
            RecordData r =
                makeRecord(ta.schema(), {{"CUST:SysId", i}, {"CUST:Company", "C" + std::to_string(i)}});
            RecordData s =
                makeRecord(tb.schema(), {{"PPL:SysId", i}, {"PPL:LastName", "P" + std::to_string(i)}});
            std::uint32_t p;
            ASSERT_EQ(ta.add(r, p), 0);
            ASSERT_EQ(tb.add(s, p), 0);
        }
        baseA = contentOf(ta);
        baseB = contentOf(tb);
        ta.close();
        tb.close();
        imageA = read(a);
        imageB = read(b);
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void reset() {
        for (auto& [path, img] : {std::pair{a, imageA}, std::pair{b, imageB}}) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << img;
            std::filesystem::remove(path + ".wal");
        }
        std::filesystem::remove(dir.file("quarnell.tcf"));
    }

    // Runs the steps of one seed until they end or the power goes; answers the steps that
    // returned and whether one was in flight when the power went.
    std::vector<Step> play(std::uint32_t seed, PowerCut& disk, int& inFlight) {
        std::mt19937 rng(seed);
        std::vector<Step> done;
        Model ma = baseA, mb = baseB;
        inFlight = -1;
        auto ta = std::make_unique<Table>(), tb = std::make_unique<Table>();
        if (ta->open(a) != 0 || tb->open(b) != 0) return done;
        for (Table* t : {ta.get(), tb.get()}) t->pager().setSyncMode(SyncMode::Full);
        int next = 100;
        for (int i = 0; i < 10 && !disk.cut(); ++i) {
            auto kind = static_cast<Step::Kind>(rng() % 7);
            Model na = ma, nb = mb;
            int rc = 0;
            std::uint32_t p = 0;
            switch (kind) {
            case Step::Add: {
                int id = next++;
                RecordData r = makeRecord(ta->schema(),
                                          {{"CUST:SysId", id}, {"CUST:Company", "A" + std::to_string(id)}});
                rc = ta->add(r, p);
                na[id] = "A" + std::to_string(id);
                break;
            }
            case Step::Put:
            case Step::Erase: {
                if (ma.empty()) continue;
                auto it = std::next(ma.begin(), static_cast<long>(rng() % ma.size()));
                int id = it->first;
                p = pointerOf(*ta, id);
                if (p == 0) return done; // the power went while looking
                if (kind == Step::Erase) {
                    rc = ta->erase(p);
                    na.erase(id);
                } else {
                    RecordData r = makeRecord(
                        ta->schema(), {{"CUST:SysId", id}, {"CUST:Company", "Put" + std::to_string(i)}});
                    rc = ta->put(p, r, false);
                    na[id] = "Put" + std::to_string(i);
                }
                break;
            }
            case Step::Both: {
                Transaction tx;
                rc = tx.begin({ta.get(), tb.get()});
                for (int j = 0; rc == 0 && j < 3; ++j) {
                    int id = next++;
                    RecordData r = makeRecord(ta->schema(), {{"CUST:SysId", id}, {"CUST:Company", "T"}});
                    RecordData s = makeRecord(tb->schema(), {{"PPL:SysId", id}, {"PPL:LastName", "T"}});
                    rc = ta->add(r, p);
                    if (rc == 0) rc = tb->add(s, p);
                    na[id] = "T";
                    nb[id] = "T";
                }
                if (rc == 0) rc = tx.commit();
                break;
            }
            case Step::Build:
                rc = ta->build();
                break;
            case Step::Checkpoint:
                rc = ta->pager().checkpointAll();
                break;
            case Step::Reopen:
                ta->close(); // the last handle of a file copies the log into it
                rc = ta->open(a);
                if (rc == 0) ta->pager().setSyncMode(SyncMode::Full);
                break;
            }
            if (rc != 0) {
                EXPECT_TRUE(disk.cut()) << "step " << i << " failed with " << rc << " before the power went";
                inFlight = static_cast<int>(done.size());
                done.push_back({kind, na, nb});
                return done;
            }
            ma = na;
            mb = nb;
            done.push_back({kind, ma, mb});
        }
        return done;
    }

    bool cutAndCheck(std::uint32_t seed, std::uint64_t cutAt, std::uint32_t diskSeed);

    // The disk of this test is the layer's record, so the files may as well live in memory.
    TempDir dir{std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                          : std::filesystem::temp_directory_path().string()};
    std::string a, b, imageA, imageB;
    Model baseA, baseB;
};

} // namespace

// Plays the steps of a seed with the power cut at operation cutAt of a disk drawn from diskSeed,
// then checks the files. Answers whether the power went before the work was done.
bool PowerLoss::cutAndCheck(std::uint32_t seed, std::uint64_t cutAt, std::uint32_t diskSeed) {
    reset();
    PowerCut disk(diskSeed);
    disk.cutAt(cutAt);
    FileIo* was = setIo(&disk);
    int inFlight = -1;
    std::vector<Step> steps = play(seed, disk, inFlight);
    setIo(was);
    disk.restoreDisk();

    Table ta, tb;
    EXPECT_EQ(ta.open(a), 0) << sorv::error();
    EXPECT_EQ(tb.open(b), 0) << sorv::error();
    if (!ta.isOpen() || !tb.isOpen()) return disk.cut();
    for (Table* t : {&ta, &tb}) {
        std::vector<std::string> problems;
        t->check(problems);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }
    Model ga = contentOf(ta), gb = contentOf(tb);
    // The state after the last step that returned, or after the one in flight.
    int returned = inFlight >= 0 ? inFlight : static_cast<int>(steps.size());
    const Model& wantA = returned > 0 ? steps[static_cast<std::size_t>(returned - 1)].a : baseA;
    const Model& wantB = returned > 0 ? steps[static_cast<std::size_t>(returned - 1)].b : baseB;
    bool asReturned = ga == wantA && gb == wantB;
    bool withFlight = inFlight >= 0 && ga == steps[static_cast<std::size_t>(inFlight)].a &&
                      gb == steps[static_cast<std::size_t>(inFlight)].b;
    EXPECT_TRUE(asReturned || withFlight)
        << "the files hold " << ga.size() << " and " << gb.size() << " records, the returned steps left "
        << wantA.size() << " and " << wantB.size() << (inFlight >= 0 ? " (a step was in flight)" : "") << ":"
        << differences(ga, wantA) << " /" << differences(gb, wantB) << " steps " << steps.size();
    return disk.cut();
}

TEST_F(PowerLoss, EveryReturnedWriteSurvivesAndNoTransactionIsHalfThere) {
    // A disk that once lost a transaction, cut at every operation of its seed: when PEOPLE.QNL
    // closed, its log kept its old header and length while the cut of its frames reached some of
    // their sectors, so the first of its two transactions was put back over a data file that
    // already held the second.
    for (std::uint64_t op = 1;; ++op) {
        SCOPED_TRACE("seed 65, the disk of run 452, cut at " + std::to_string(op));
        bool cut = cutAndCheck(65, op, 452u * 7919u + 13);
        if (HasFailure() || !cut) break;
    }
    ASSERT_FALSE(HasFailure());

    int runs = 1500;
    if (const char* e = std::getenv("SORV_POWERLOSS_RUNS")) runs = std::max(1, std::atoi(e));
    // How many writes and syncs a run makes, to place the cuts over all of them.
    std::uint64_t span = 0;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        reset();
        PowerCut probe(seed);
        FileIo* was = setIo(&probe);
        int inFlight;
        play(seed, probe, inFlight);
        setIo(was);
        span = std::max(span, probe.operations());
    }
    ASSERT_GT(span, 20u);
    int cutsBeforeEnd = 0;
    for (int run = 0; run < runs && !HasFailure(); ++run) {
        std::uint32_t seed = static_cast<std::uint32_t>(run % 97 + 1);
        std::uint64_t cutAt = 1 + static_cast<std::uint64_t>(run) * 2654435761u % (span + 5);
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed) + ", cut at " +
                     std::to_string(cutAt));
        cutsBeforeEnd += cutAndCheck(seed, cutAt, static_cast<std::uint32_t>(run) * 7919u + 13);
    }
    // Most cuts fall inside the work, not after it.
    if (!HasFailure()) {
        EXPECT_GT(cutsBeforeEnd, runs / 2);
    }
}
