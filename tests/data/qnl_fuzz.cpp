// Damaged native files: seeded mutations of a real file (flipped bytes, values written into pages
// whose checksums are then made to fit, truncations, pages swapped, and hostile counts, offsets
// and links written into the fields of each kind of page) are opened, checked, walked in every
// order and written to. Each must answer errors and never crash or hang, and a file the check
// passes must read whole. The suite also runs this program built with AddressSanitizer and
// UBSan (data.qnl_fuzz_sanitized), so a read past a page fails there even when it does not
// crash. SORV_FUZZ_CASES=n runs more hostile-field cases by hand (the seed is fixed).
#include "data/qnl/table.h"
#include "qnl_fixture.h"
#include "runtime/errors.h"
#include "testfiles.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace qnltest;

namespace {

using sorvtest::slurp;
using sorvtest::spit;

Schema memoSchema() {
    Schema s = peopleSchema();
    MemoDecl m;
    m.label = "PPL:Notes";
    m.size = 6000; // more than a page, so memos chain
    s.memos.push_back(m);
    KeyDecl k;
    k.label = "PPL:NameKey";
    k.components = {{1, false}, {2, true}};
    s.keys.push_back(k);
    return s;
}

// A file with records over several pages, freed slots, memos and two keys of some depth.
std::string buildFile(const std::string& path, const Schema& s) {
    EXPECT_EQ(Table::create(path, s, true), 0);
    Table t;
    EXPECT_EQ(t.open(path), 0);
    for (int i = 0; i < 700; ++i) {
        RecordData r = makeRecord(s, {{"PPL:SysId", Value(i % 50)},
                                      {"PPL:LastName", Value("Name" + std::to_string(i * 7919 % 1000))},
                                      {"PPL:FirstName", Value("F" + std::to_string(i))}});
        r.memos = {i % 5 == 0 ? std::string(static_cast<std::size_t>(i * 13 % 7000), 'm') : std::string()};
        std::uint32_t ptr;
        EXPECT_EQ(t.add(r, ptr), 0);
        if (i % 4 == 1) {
            EXPECT_EQ(t.erase(ptr), 0);
        }
    }
    t.close();
    return slurp(path);
}

// Everything a program may do with a file, answers ignored: only crashes and hangs count.
void exercise(const std::string& path, const Schema& s, std::mt19937& rng) {
    Table t;
    if (t.open(path) != 0) return;
    std::vector<std::string> problems;
    t.check(problems);
    TableStats st;
    t.stats(st);
    std::uint32_t n;
    t.records(n);
    RecordData r;
    std::uint32_t ptr = 0;
    for (int key = -1; key < static_cast<int>(s.keys.size()); ++key)
        for (bool forward : {true, false}) {
            Cursor c(t, key);
            c.setFirst();
            for (int i = 0; i < 1500; ++i)
                if ((forward ? c.next(r, ptr) : c.previous(r, ptr)) != 0) break;
            std::string pos = c.position();
            if (!pos.empty()) {
                c.reset(pos);
                c.next(r, ptr);
            }
        }
    for (int i = 0; i < 20; ++i) t.get(rng() % 2000, r);
    RecordData probe = makeRecord(s, {{"PPL:SysId", Value(7)}, {"PPL:LastName", Value("Name7")}});
    t.findKey(0, probe.bytes, ptr);
    Cursor c(t, 1);
    c.setValue(probe.bytes);
    c.next(r, ptr);
    // Writes on a damaged file fail or succeed, but leave nothing a later reader trips over.
    probe.memos = {std::string(5000, 'w')};
    t.add(probe, ptr);
    for (int i = 0; i < 10; ++i) {
        std::uint32_t p = rng() % 1500 + 1;
        if (t.get(p, r) == 0) {
            r.memos = {"changed"};
            t.put(p, r, false);
            if (i % 2) t.erase(p);
        }
    }
    if (rng() % 3 == 0) t.build();
    if (rng() % 5 == 0) t.pack();
    problems.clear();
    t.check(problems);
}

} // namespace

TEST(QnlFuzz, MutatedFilesAnswerErrorsAndNeverCrash) {
    TempDir dir;
    Schema s = memoSchema();
    std::string path = dir.file("F.QNL");
    const std::string good = buildFile(path, s);
    const std::uint32_t pages = static_cast<std::uint32_t>(good.size() / PageSize);
    ASSERT_GT(pages, 20u);
    const int rounds = 300;
    for (int seed = 1; seed <= rounds; ++seed) {
        std::mt19937 rng(static_cast<std::uint32_t>(seed));
        std::string bad = good;
        int kind = seed % 4;
        auto page = [&] { return static_cast<std::uint32_t>(rng() % pages); };
        auto reseal = [&](std::uint32_t pg) {
            sealPage(reinterpret_cast<std::uint8_t*>(bad.data()) + pg * PageSize, pg);
        };
        for (int m = 0, count = 1 + static_cast<int>(rng() % 4); m < count; ++m) {
            if (kind == 0) {
                bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
            } else if (kind == 1) {
                // A value that looks plausible (small numbers, page numbers, counts) in a page that
                // still passes its checksum: the reader must not trust what it says.
                std::uint32_t pg = page(), at = rng() % (ChecksumAt - 4);
                std::uint32_t values[] = {0,         1,           2,
                                          pages - 1, pages,       pages + 1,
                                          0xFFFF,    0xFFFFFFFFu, static_cast<std::uint32_t>(rng())};
                std::uint32_t v = values[rng() % std::size(values)];
                if (rng() % 2)
                    put32(reinterpret_cast<std::uint8_t*>(bad.data()) + pg * PageSize + at, v);
                else
                    bad[pg * PageSize + at] = static_cast<char>(v);
                reseal(pg);
            } else if (kind == 2) {
                std::uint32_t a = page(), b = page();
                std::string tmp = bad.substr(a * PageSize, PageSize);
                bad.replace(a * PageSize, PageSize, bad.substr(b * PageSize, PageSize));
                bad.replace(b * PageSize, PageSize, tmp);
                reseal(a);
                reseal(b);
            } else {
                bad.resize(rng() % 2 ? page() * PageSize : rng() % bad.size());
                break;
            }
        }
        spit(path, bad);
        std::filesystem::remove(path + ".wal");
        SCOPED_TRACE("seed " + std::to_string(seed));
        exercise(path, s, rng);
    }
}

namespace {

// Reads everything a file says it holds: every record in file order and in each key's order,
// all answering, and as many as the header counts. False when any read fails.
bool readsWhole(Table& t) {
    std::uint32_t n = 0;
    if (t.records(n) != 0) return false;
    for (int key = -1; key < static_cast<int>(t.schema().keys.size()); ++key) {
        Cursor c(t, key);
        c.setFirst();
        RecordData r;
        std::uint32_t ptr = 0, seen = 0;
        int rc;
        while ((rc = c.next(r, ptr)) == 0)
            if (++seen > n + 1) return false;
        if (rc != err::RecordNotAvailable) return false;
        // Optional keys leave out blank values; the others hold every record.
        if (key < 0 || !t.schema().keys[static_cast<std::size_t>(key)].opt() ? seen != n : seen > n)
            return false;
    }
    return true;
}

struct Field {
    std::uint32_t at;
    int width; // 1, 2 or 4 bytes
};

// The fields of each kind of page that hold counts, offsets and links.
std::vector<Field> fieldsOf(const std::uint8_t* page, std::uint32_t pgno, std::uint32_t slotSize) {
    switch (page[0]) {
    case PageHeader: {
        std::vector<Field> f;
        for (std::uint32_t at :
             {hdr::PageCount, hdr::FreeHead, hdr::FreeCount, hdr::Records, hdr::SlotSize, hdr::SlotsPerPage,
              hdr::FreeSlot, hdr::FirstRecPage, hdr::LastRecPage, hdr::DeclPage, hdr::DeclLen, hdr::KeyCount})
            f.push_back({at, 4});
        for (std::uint32_t k = 0; k < 2; ++k)
            for (std::uint32_t i = 0; i < 3; ++i) f.push_back({hdr::Keys + k * hdr::KeyStride + i * 4, 4});
        return f;
    }
    case PageRecords: {
        std::vector<Field> f{{2, 2}, {4, 4}, {8, 4}, {12, 2}};
        // The first slots: live flag, version, free link or first memo page and length.
        for (std::uint32_t i = 0; i < 3; ++i) {
            std::uint32_t slot = 16 + i * slotSize;
            f.push_back({slot, 1});
            f.push_back({slot + 8, 4});
            f.push_back({slot + slotSize - 8, 4});
            f.push_back({slot + slotSize - 4, 4});
        }
        return f;
    }
    case PageLeaf:
    case PageBranch:
        return {{1, 1}, {2, 2}, {4, 4}, {8, 4}, {16, 4}, {20, 4}, {24, 4}};
    case PageMemo:
    case PageDecl:
        return {{4, 4}, {8, 4}};
    case PageFree:
        return {{4, 4}};
    }
    (void)pgno;
    return {};
}

} // namespace

TEST(QnlFuzz, HostileFieldsInResealedPagesNeverCrashHangOrPassTheCheck) {
    TempDir dir;
    Schema s = memoSchema();
    std::string path = dir.file("H.QNL");
    const std::string good = buildFile(path, s);
    const auto pages = static_cast<std::uint32_t>(good.size() / PageSize);
    const std::uint32_t slotSize = get32(reinterpret_cast<const std::uint8_t*>(good.data()) + hdr::SlotSize);
    const std::uint32_t spp = get32(reinterpret_cast<const std::uint8_t*>(good.data()) + hdr::SlotsPerPage);
    int cases = 400;
    if (const char* e = std::getenv("SORV_FUZZ_CASES")) cases = std::max(1, std::atoi(e));
    std::mt19937 rng(2026);
    int falsePasses = 0;
    for (int n = 0; n < cases; ++n) {
        std::string bad = good;
        auto* b = reinterpret_cast<std::uint8_t*>(bad.data());
        std::string what;
        for (int m = 0, count = 1 + static_cast<int>(rng() % 2); m < count; ++m) {
            std::uint32_t pg = rng() % pages;
            std::vector<Field> fields = fieldsOf(b + pg * PageSize, pg, slotSize);
            if (fields.empty()) continue;
            Field f = fields[rng() % fields.size()];
            std::uint32_t values[] = {
                0,      1,          pg,          pg - 1,        pg + 1,    pages - 1,
                pages,  pages + 1,  spp,         spp + 1,       0xFF,      0xFFFF,
                0x7FFF, 0x7FFFFFFF, 0xFFFFFFFFu, slotSize + 1u, 1u << 20u, static_cast<std::uint32_t>(rng())};
            std::uint32_t v = values[rng() % std::size(values)];
            std::uint8_t* at = b + pg * PageSize + f.at;
            if (f.width == 1)
                *at = static_cast<std::uint8_t>(v);
            else if (f.width == 2)
                put16(at, static_cast<std::uint16_t>(v));
            else
                put32(at, v);
            sealPage(b + pg * PageSize, pg);
            what += " page " + std::to_string(pg) + " type " + std::to_string(b[pg * PageSize]) + " +" +
                    std::to_string(f.at) + " = " + std::to_string(v) + ";";
        }
        spit(path, bad);
        std::filesystem::remove(path + ".wal");
        // Each case in a child of its own, under a time limit: a crash, a sanitizer's report or a
        // walk that never ends fails the case and names it.
        pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(30);
            Table t;
            if (t.open(path) == 0) {
                std::vector<std::string> problems;
                t.check(problems);
                if (problems.empty() && !readsWhole(t)) _exit(3);
                t.close();
            }
            std::mt19937 local(static_cast<std::uint32_t>(n));
            exercise(path, s, local);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
            ++falsePasses;
            ADD_FAILURE() << "case " << n << " passed the check but does not read whole:" << what;
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "case " << n
            << (WIFSIGNALED(status) ? " died of signal " + std::to_string(WTERMSIG(status))
                                    : " exited with " + std::to_string(WEXITSTATUS(status)))
            << ":" << what;
    }
    EXPECT_EQ(falsePasses, 0);
}

TEST(QnlFuzz, AKeyThatDoesNotMatchTheRecordsAnswers46) {
    TempDir dir;
    Schema s = peopleSchema();
    std::string path = dir.file("K.QNL");
    ASSERT_EQ(Table::create(path, s, true), 0);
    std::vector<std::uint32_t> ptrs(3);
    {
        Table t;
        ASSERT_EQ(t.open(path), 0);
        for (int i = 0; i < 3; ++i) {
            RecordData r = makeRecord(s, {{"PPL:SysId", Value(i + 1)}});
            ASSERT_EQ(t.add(r, ptrs[static_cast<std::size_t>(i)]), 0);
        }
    }
    std::string before = slurp(path);
    {
        Table t;
        ASSERT_EQ(t.open(path), 0);
        ASSERT_EQ(t.erase(ptrs[1]), 0);
    }
    // The key's leaf from before the delete, sealed for its place: the key still lists record 2.
    std::string after = slurp(path);
    std::uint32_t leaf = 2; // header, declaration, then the key's only leaf
    ASSERT_EQ(static_cast<unsigned char>(after[leaf * PageSize]), PageLeaf);
    after.replace(leaf * PageSize, PageSize, before.substr(leaf * PageSize, PageSize));
    spit(path, after);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::vector<std::string> problems;
    t.check(problems);
    EXPECT_FALSE(problems.empty());
    Cursor c(t, 0);
    c.setFirst();
    RecordData r;
    std::uint32_t ptr;
    EXPECT_EQ(c.next(r, ptr), 0);
    EXPECT_EQ(c.next(r, ptr), err::KeyFileMustBeRebuilt);
    // BUILD puts the key right again.
    EXPECT_EQ(t.build(), 0);
    problems.clear();
    t.check(problems);
    EXPECT_TRUE(problems.empty()) << problems[0];
    c.setFirst();
    EXPECT_EQ(c.next(r, ptr), 0);
    EXPECT_EQ(c.next(r, ptr), 0);
    EXPECT_EQ(field(s, r, "PPL:SysId").toLong(), 3);
}

TEST(QnlFuzz, AHeaderNamingAMissingControlFileCreatesNothing) {
    TempDir dir;
    std::string path = dir.file("T.QNL");
    ASSERT_EQ(Table::create(path, peopleSchema(), true), 0);
    std::string bytes = slurp(path);
    // A pending transaction whose control file is not there (the live area is not checksummed).
    for (std::string tcf : {dir.file("quarnell.tcf"), dir.file("other.txt"), std::string("quarnell.tcf")}) {
        std::string bad = bytes;
        auto* h = reinterpret_cast<std::uint8_t*>(bad.data());
        put32(h + hdr::Hot, 2);
        put32(h + hdr::TcfLen, static_cast<std::uint32_t>(tcf.size()));
        std::memcpy(h + hdr::TcfPath, tcf.data(), tcf.size());
        spit(path, bad);
        Table t;
        EXPECT_EQ(t.open(path), err::InvalidDataFile) << tcf;
        EXPECT_FALSE(std::filesystem::exists(tcf)) << tcf;
        EXPECT_EQ(slurp(path), bad);
    }
}
