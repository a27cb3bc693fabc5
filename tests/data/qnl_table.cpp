// The native file engine in one process: records, pointers, free-space reuse, key order of every
// kind, positions, memos, repairs and checks on real files.
#include "qnl_fixture.h"

#include "runtime/errors.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <unistd.h>

using namespace qnltest;

namespace {

// Reads a whole key order (or file order for key -1) as the values of one field.
std::vector<std::string> walk(Table& t, int key, const char* name, bool backwards = false) {
    Cursor c(t, key);
    c.setFirst();
    std::vector<std::string> out;
    RecordData r;
    std::uint32_t ptr = 0;
    while ((backwards ? c.previous(r, ptr) : c.next(r, ptr)) == 0)
        out.push_back(field(t.schema(), r, name).toText());
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    return out;
}

std::vector<std::string> problemsOf(Table& t) {
    std::vector<std::string> p;
    t.check(p);
    return p;
}

} // namespace

TEST(QnlTable, CreateOpenAndStoredDeclaration) {
    TempDir d;
    std::string path = d.file("PEOPLE.QNL");
    ASSERT_EQ(Table::create(path, peopleSchema(), false), 0);
    EXPECT_EQ(Table::create(path, peopleSchema(), false), err::FileAlreadyOpen);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    EXPECT_EQ(t.schema().layout.size(), 67u);
    EXPECT_EQ(t.schema().keys.size(), 1u);
    EXPECT_TRUE(t.schema().keys[0].dup() && t.schema().keys[0].opt() && t.schema().keys[0].noCase());
    std::string why;
    EXPECT_TRUE(peopleSchema().compatibleWith(t.schema(), &why)) << why;
    EXPECT_FALSE(customerSchema().compatibleWith(t.schema()));
    Schema other = peopleSchema();
    other.keys[0].flags &= static_cast<std::uint8_t>(~keyflag::Dup);
    EXPECT_FALSE(other.compatibleWith(t.schema()));
    EXPECT_EQ(withDefaultExtension("dir.x/PEOPLE"), "dir.x/PEOPLE.QNL");
    EXPECT_EQ(withDefaultExtension("a\\b.c\\PEOPLE"), "a\\b.c\\PEOPLE.QNL");
    EXPECT_EQ(withDefaultExtension("PEOPLE.DAT"), "PEOPLE.DAT");
    EXPECT_EQ(t.open(d.file("MISSING.QNL")), err::FileNotFound);
}

TEST(QnlTable, PointersStayAndFreedSlotsAreReused) {
    TempDir d;
    std::string path = d.file("P.QNL");
    Schema s = peopleSchema();
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::vector<std::uint32_t> ptrs;
    for (int i = 0; i < 500; ++i) {
        RecordData r = makeRecord(s, {{"PPL:SysId", i}, {"PPL:LastName", "Name" + std::to_string(i)}});
        std::uint32_t p = 0;
        ASSERT_EQ(t.add(r, p), 0);
        ptrs.push_back(p);
    }
    std::uint32_t n = 0;
    ASSERT_EQ(t.records(n), 0);
    EXPECT_EQ(n, 500u);
    // Deleting some leaves every other pointer as it was.
    for (int i = 0; i < 500; i += 3) ASSERT_EQ(t.erase(ptrs[i]), 0);
    for (int i = 1; i < 500; i += 3) {
        RecordData r;
        ASSERT_EQ(t.get(ptrs[i], r), 0);
        EXPECT_EQ(field(s, r, "PPL:SysId").toLong(), i);
    }
    RecordData gone;
    EXPECT_EQ(t.get(ptrs[0], gone), err::RecordNotFound);
    EXPECT_EQ(t.erase(ptrs[0]), err::RecordNotFound);
    EXPECT_EQ(t.get(0, gone), err::RecordNotFound);
    EXPECT_EQ(t.get(0xFFFFFFF0u, gone), err::RecordNotFound);
    TableStats before;
    ASSERT_EQ(t.stats(before), 0);
    // New records fill the freed slots before the file grows.
    std::set<std::uint32_t> freed;
    for (int i = 0; i < 500; i += 3) freed.insert(ptrs[i]);
    for (std::size_t i = 0; i < freed.size(); ++i) {
        RecordData r = makeRecord(s, {{"PPL:SysId", 1000}});
        std::uint32_t p = 0;
        ASSERT_EQ(t.add(r, p), 0);
        EXPECT_TRUE(freed.count(p)) << p;
    }
    TableStats after;
    ASSERT_EQ(t.stats(after), 0);
    EXPECT_EQ(after.recordPages, before.recordPages);
    EXPECT_EQ(after.freeSlots, 0u);
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, KeyOrderByTypeDescendingNocaseAndDuplicates) {
    TempDir d;
    Schema s;
    s.label = "T";
    s.layout.add("T:Name", FieldType::String, 10);
    s.layout.add("T:Amount", FieldType::Decimal, 9, 2);
    s.layout.add("T:Count", FieldType::Short);
    s.layout.add("T:Real", FieldType::Real);
    s.layout.add("T:U", FieldType::ULong);
    KeyDecl byName{"T:ByName", false, {{0, false}}, keyflag::Dup, ""};
    KeyDecl byNameNoCase{"T:NoCase", false, {{0, false}}, keyflag::Dup | keyflag::NoCase, ""};
    KeyDecl byAmountDesc{"T:Amount", false, {{1, true}, {0, false}}, keyflag::Dup, ""};
    KeyDecl byCount{"T:Count", false, {{2, false}}, keyflag::Dup, ""};
    KeyDecl byReal{"T:Real", false, {{3, false}}, keyflag::Dup, ""};
    KeyDecl byU{"T:U", false, {{4, false}}, keyflag::Dup, ""};
    s.keys = {byName, byNameNoCase, byAmountDesc, byCount, byReal, byU};
    std::string path = d.file("T.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    struct Row {
        const char* name;
        const char* amount;
        int count;
        double real;
        std::int64_t u;
    };
    // "ab" and "ab " are the same text; a control byte sorts after the end of a shorter text.
    Row rows[] = {{"b", "10.05", -3, -1.5, 4000000000LL}, {"B", "-0.01", 300, 2.25, 1},
                  {"ab", "10.5", 0, -100.0, 0},           {"a", "0", -32768, 0.0, 2147483648LL},
                  {"ab\x01", "-7", 32767, 1e6, 5},        {"ab ", "10.05", 5, -0.0, 7}};
    for (const Row& r : rows) {
        RecordData rec = makeRecord(s, {{"T:Name", r.name},
                                        {"T:Amount", *Decimal::parse(r.amount)},
                                        {"T:Count", r.count},
                                        {"T:Real", r.real},
                                        {"T:U", r.u}});
        std::uint32_t p;
        ASSERT_EQ(t.add(rec, p), 0);
    }
    EXPECT_EQ(walk(t, 0, "T:Name"), (std::vector<std::string>{"B         ", "a         ", "ab        ",
                                                              "ab        ", "ab\x01       ", "b         "}));
    // NOCASE: "B" and "b" are equal and stay in record order.
    std::vector<std::string> nc = walk(t, 1, "T:Name");
    EXPECT_EQ(nc[0], "a         ");
    EXPECT_EQ(nc[4], "b         ");
    EXPECT_EQ(nc[5], "B         ");
    // Descending amount (decimals exactly: 10.5 > 10.05), then ascending name for equal amounts.
    std::vector<std::string> am;
    {
        Cursor c(t, 2);
        c.setFirst();
        RecordData r;
        std::uint32_t p;
        while (c.next(r, p) == 0) am.push_back(field(s, r, "T:Amount").toText());
    }
    EXPECT_EQ(am, (std::vector<std::string>{"10.5", "10.05", "10.05", "0", "-0.01", "-7"}));
    std::vector<std::string> cnt = walk(t, 3, "T:Count");
    EXPECT_EQ(cnt, (std::vector<std::string>{"-32768", "-3", "0", "5", "300", "32767"}));
    std::vector<std::string> re = walk(t, 4, "T:Real");
    EXPECT_EQ(re.front(), "-100");
    EXPECT_EQ(std::stod(re.back()), 1e6);
    std::vector<std::string> u = walk(t, 5, "T:U");
    EXPECT_EQ(u, (std::vector<std::string>{"0", "1", "5", "7", "2147483648", "4000000000"}));
    // Backwards is the exact reverse.
    std::vector<std::string> fw = walk(t, 2, "T:Name"), bw = walk(t, 2, "T:Name", true);
    std::reverse(bw.begin(), bw.end());
    EXPECT_EQ(fw, bw);
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, UniqueOptionalAndPrimaryKeys) {
    TempDir d;
    Schema s = customerSchema();
    std::string path = d.file("CUSTOMER.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::uint32_t p1, p2, p3;
    RecordData a = makeRecord(s, {{"CUST:SysId", 1}, {"CUST:Company", "Acme"}});
    ASSERT_EQ(t.add(a, p1), 0);
    RecordData dup = makeRecord(s, {{"CUST:SysId", 1}, {"CUST:Company", "Other"}});
    EXPECT_EQ(t.add(dup, p2), err::DuplicateKey);
    // Optional: records with SysId 0 are not in the key, so any number of them is allowed.
    RecordData z1 = makeRecord(s, {{"CUST:SysId", 0}, {"CUST:Company", "Zero one"}});
    RecordData z2 = makeRecord(s, {{"CUST:SysId", 0}, {"CUST:Company", "Zero two"}});
    ASSERT_EQ(t.add(z1, p2), 0);
    ASSERT_EQ(t.add(z2, p3), 0);
    EXPECT_EQ(walk(t, 0, "CUST:SysId").size(), 1u);
    EXPECT_EQ(walk(t, 1, "CUST:Company").size(), 3u);
    // A PUT that would duplicate is refused and changes nothing.
    RecordData r;
    ASSERT_EQ(t.get(p2, r), 0);
    r.bytes = makeRecord(s, {{"CUST:SysId", 1}, {"CUST:Company", "Zero one"}}).bytes;
    EXPECT_EQ(t.put(p2, r, false), err::DuplicateKey);
    RecordData back;
    ASSERT_EQ(t.get(p2, back), 0);
    EXPECT_EQ(field(s, back, "CUST:SysId").toLong(), 0);
    // Taking the record into the key with a free number works, and it leaves again at 0.
    r.bytes = makeRecord(s, {{"CUST:SysId", 2}, {"CUST:Company", "Zero one"}}).bytes;
    ASSERT_EQ(t.put(p2, r, false), 0);
    EXPECT_EQ(walk(t, 0, "CUST:SysId"), (std::vector<std::string>{"1", "2"}));
    std::uint32_t found = 0;
    ASSERT_EQ(t.findKey(0, r.bytes, found), 0);
    EXPECT_EQ(found, p2);
    r.bytes = makeRecord(s, {{"CUST:SysId", 0}, {"CUST:Company", "Zero one"}}).bytes;
    ASSERT_EQ(t.put(p2, r, false), 0);
    EXPECT_EQ(walk(t, 0, "CUST:SysId"), (std::vector<std::string>{"1"}));
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, SetByValueAndPositionsSurviveChanges) {
    TempDir d;
    Schema s = peopleSchema();
    std::string path = d.file("P.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::map<int, std::vector<std::uint32_t>> bySys;
    for (int i = 0; i < 3000; ++i) {
        int sys = (i * 7919) % 300 + 1;
        RecordData r = makeRecord(s, {{"PPL:SysId", sys}, {"PPL:LastName", "L" + std::to_string(i)}});
        std::uint32_t p;
        ASSERT_EQ(t.add(r, p), 0);
        bySys[sys].push_back(p);
    }
    // Duplicates come in record pointer order.
    Cursor c(t, 0);
    RecordData probe = makeRecord(s, {{"PPL:SysId", 150}});
    c.setValue(probe.bytes);
    RecordData r;
    std::uint32_t p = 0;
    for (std::uint32_t want : bySys[150]) {
        ASSERT_EQ(c.next(r, p), 0);
        EXPECT_EQ(p, want);
    }
    ASSERT_EQ(c.next(r, p), 0);
    EXPECT_EQ(field(s, r, "PPL:SysId").toLong(), 151);
    // PREVIOUS after SET by value reads the last record at or before the value.
    c.setValue(probe.bytes);
    ASSERT_EQ(c.previous(r, p), 0);
    EXPECT_EQ(p, bySys[150].back());
    // SET by value and pointer starts at that duplicate.
    c.setValue(probe.bytes, bySys[150][2]);
    ASSERT_EQ(c.next(r, p), 0);
    EXPECT_EQ(p, bySys[150][2]);
    // A stored position survives inserts and deletes around it.
    std::string pos = c.position();
    for (std::uint32_t q : bySys[149]) ASSERT_EQ(t.erase(q), 0);
    for (int i = 0; i < 200; ++i) {
        RecordData n = makeRecord(s, {{"PPL:SysId", 149 + 2 * (i % 2)}});
        std::uint32_t q;
        ASSERT_EQ(t.add(n, q), 0);
    }
    Cursor c2(t, 0);
    ASSERT_EQ(c2.reset(pos), 0);
    ASSERT_EQ(c2.next(r, p), 0);
    EXPECT_EQ(p, bySys[150][2]);
    ASSERT_EQ(c2.next(r, p), 0);
    EXPECT_EQ(p, bySys[150][3]);
    // Reset to a deleted record continues with the next one in order.
    ASSERT_EQ(t.erase(bySys[150][2]), 0);
    ASSERT_EQ(c2.reset(pos), 0);
    ASSERT_EQ(c2.next(r, p), 0);
    EXPECT_EQ(p, bySys[150][3]);
    ASSERT_EQ(c2.reset(pos), 0);
    ASSERT_EQ(c2.previous(r, p), 0);
    EXPECT_EQ(p, bySys[150][1]);
    EXPECT_EQ(c2.reset("short"), err::RecordNotFound);
    // File order: positions are pointers.
    Cursor f(t, -1);
    f.setPointer(bySys[10][0]);
    ASSERT_EQ(f.next(r, p), 0);
    EXPECT_EQ(p, bySys[10][0]);
    std::string fpos = f.position();
    ASSERT_EQ(f.next(r, p), 0);
    EXPECT_GT(p, bySys[10][0]);
    ASSERT_EQ(f.reset(fpos), 0);
    ASSERT_EQ(f.previous(r, p), 0);
    EXPECT_EQ(p, bySys[10][0]);
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, RandomChangesMatchAModel) {
    TempDir d;
    Schema s = customerSchema();
    std::string path = d.file("C.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    t.pager().setCacheSize(16); // far smaller than the file: pages come and go all the time
    std::mt19937 rng(42);
    std::map<std::uint32_t, std::pair<int, std::string>> model; // ptr -> (sysid, city)
    std::set<int> ids;
    for (int step = 0; step < 6000; ++step) {
        int op = static_cast<int>(rng() % 10);
        if (op < 6 || model.empty()) {
            int id = static_cast<int>(rng() % 5000) + 1;
            std::string city = "City" + std::to_string(rng() % 50);
            RecordData r = makeRecord(s, {{"CUST:SysId", id}, {"CUST:City", city}});
            std::uint32_t p;
            int rc = t.add(r, p);
            if (ids.count(id)) {
                EXPECT_EQ(rc, err::DuplicateKey);
            } else {
                ASSERT_EQ(rc, 0);
                model[p] = {id, city};
                ids.insert(id);
            }
        } else if (op < 8) {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            ASSERT_EQ(t.erase(it->first), 0);
            ids.erase(it->second.first);
            model.erase(it);
        } else {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            RecordData r;
            ASSERT_EQ(t.get(it->first, r), 0);
            std::string city = "City" + std::to_string(rng() % 50);
            Record rec(s.layout);
            std::copy(r.bytes.begin(), r.bytes.end(), rec.buffer().begin());
            rec.set("CUST:City", city);
            r.bytes.assign(rec.buffer().begin(), rec.buffer().end());
            ASSERT_EQ(t.put(it->first, r, true), 0);
            it->second.second = city;
        }
    }
    std::vector<std::string> ids1 = walk(t, 0, "CUST:SysId");
    std::vector<std::string> expect;
    for (int id : ids) expect.push_back(std::to_string(id));
    EXPECT_EQ(ids1, expect);
    std::vector<std::pair<std::string, std::uint32_t>> cities;
    for (auto& [p, v] : model) cities.push_back({v.second, p});
    std::sort(cities.begin(), cities.end());
    Cursor c(t, 2);
    c.setFirst();
    RecordData r;
    std::uint32_t p;
    for (auto& [city, ptr] : cities) {
        ASSERT_EQ(c.next(r, p), 0);
        EXPECT_EQ(p, ptr);
    }
    EXPECT_TRUE(problemsOf(t).empty());
    // BUILD gives the same orders, PACK the same records with new pointers.
    ASSERT_EQ(t.build(), 0);
    EXPECT_EQ(walk(t, 0, "CUST:SysId"), expect);
    EXPECT_TRUE(problemsOf(t).empty());
    ASSERT_EQ(t.pack(), 0);
    EXPECT_EQ(walk(t, 0, "CUST:SysId"), expect);
    std::uint32_t n;
    ASSERT_EQ(t.records(n), 0);
    EXPECT_EQ(n, model.size());
    TableStats st;
    ASSERT_EQ(t.stats(st), 0);
    EXPECT_EQ(st.freeSlots, 0u);
    EXPECT_EQ(st.freePages, 0u);
    EXPECT_TRUE(problemsOf(t).empty());
    ASSERT_EQ(t.empty(), 0);
    ASSERT_EQ(t.records(n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(walk(t, 1, "CUST:Company").empty());
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, MemosAndBlobs) {
    TempDir d;
    Schema s = peopleSchema();
    s.memos.push_back({"PPL:Notes", false, 100, "", false});
    s.memos.push_back({"PPL:Photo", true, 0, "", true});
    std::string path = d.file("M.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    RecordData r = makeRecord(s, {{"PPL:SysId", 1}});
    std::string big(20000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
    r.memos = {std::string(150, 'n'), big};
    std::uint32_t p;
    ASSERT_EQ(t.add(r, p), 0);
    RecordData back;
    ASSERT_EQ(t.get(p, back), 0);
    ASSERT_EQ(back.memos.size(), 2u);
    EXPECT_EQ(back.memos[0], std::string(100, 'n')); // MEMO(100) keeps 100 bytes
    EXPECT_EQ(back.memos[1], big);
    // PUT without memos keeps them; with memos replaces them and frees the old pages.
    back.memos.clear();
    ASSERT_EQ(t.put(p, back, false), 0);
    ASSERT_EQ(t.get(p, back), 0);
    EXPECT_EQ(back.memos[1], big);
    TableStats a;
    ASSERT_EQ(t.stats(a), 0);
    back.memos = {"short", ""};
    ASSERT_EQ(t.put(p, back, false), 0);
    TableStats b;
    ASSERT_EQ(t.stats(b), 0);
    EXPECT_GE(b.freePages, a.freePages + 4);
    ASSERT_EQ(t.get(p, back), 0);
    EXPECT_EQ(back.memos[0], "short");
    EXPECT_EQ(back.memos[1], "");
    t.setReadMemos(false);
    ASSERT_EQ(t.get(p, back), 0);
    EXPECT_TRUE(back.memos.empty());
    t.setReadMemos(true);
    // Freed memo pages are taken again.
    RecordData r2 = makeRecord(s, {{"PPL:SysId", 2}});
    r2.memos = {"", big};
    ASSERT_EQ(t.add(r2, p), 0);
    TableStats c;
    ASSERT_EQ(t.stats(c), 0);
    EXPECT_EQ(c.pages, b.pages);
    EXPECT_TRUE(problemsOf(t).empty());
    ASSERT_EQ(t.erase(p), 0);
    EXPECT_TRUE(problemsOf(t).empty());
    ASSERT_EQ(t.pack(), 0);
    Cursor cur(t, -1);
    cur.setFirst();
    ASSERT_EQ(cur.next(back, p), 0);
    EXPECT_EQ(back.memos[0], "short");
    EXPECT_TRUE(problemsOf(t).empty());
}

TEST(QnlTable, WatchAndHoldsBetweenHandles) {
    TempDir d;
    Schema s = peopleSchema();
    std::string path = d.file("W.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table a, b;
    ASSERT_EQ(a.open(path), 0);
    ASSERT_EQ(b.open(path), 0);
    RecordData r = makeRecord(s, {{"PPL:SysId", 1}, {"PPL:LastName", "First"}});
    std::uint32_t p;
    ASSERT_EQ(a.add(r, p), 0);
    RecordData ra, rb;
    ASSERT_EQ(a.get(p, ra), 0);
    ASSERT_EQ(b.get(p, rb), 0);
    EXPECT_EQ(field(s, rb, "PPL:LastName").toText(), "First               ");
    rb.bytes = makeRecord(s, {{"PPL:SysId", 1}, {"PPL:LastName", "ByB"}}).bytes;
    ASSERT_EQ(b.put(p, rb, true), 0);
    ra.bytes = makeRecord(s, {{"PPL:SysId", 1}, {"PPL:LastName", "ByA"}}).bytes;
    EXPECT_EQ(a.put(p, ra, true), err::RecordChanged);
    ASSERT_EQ(a.get(p, ra), 0);
    EXPECT_EQ(field(s, ra, "PPL:LastName").toText(), "ByB                 ");
    ra.bytes = makeRecord(s, {{"PPL:SysId", 1}, {"PPL:LastName", "ByA"}}).bytes;
    ASSERT_EQ(a.put(p, ra, true), 0);
    // A held record cannot be held, changed or deleted by another handle.
    ASSERT_EQ(a.hold(p), 0);
    EXPECT_EQ(b.hold(p), err::RecordHeld);
    ASSERT_EQ(b.get(p, rb), 0);
    EXPECT_EQ(b.put(p, rb, false), err::RecordHeld);
    EXPECT_EQ(b.erase(p), err::RecordHeld);
    ASSERT_EQ(a.put(p, ra, false), 0);
    a.release(p);
    EXPECT_EQ(b.hold(p), 0);
    b.close(); // closing gives up the hold
    EXPECT_EQ(a.erase(p), 0);
}

TEST(QnlTable, TransactionsCommitAndRollBack) {
    TempDir d;
    Schema ps = peopleSchema(), cs = customerSchema();
    std::string pp = d.file("PEOPLE.QNL"), cp = d.file("CUSTOMER.QNL");
    ASSERT_EQ(Table::create(pp, ps, false), 0);
    ASSERT_EQ(Table::create(cp, cs, false), 0);
    Table people, cust, reader;
    ASSERT_EQ(people.open(pp), 0);
    ASSERT_EQ(cust.open(cp), 0);
    ASSERT_EQ(reader.open(pp), 0);
    Transaction tx;
    ASSERT_EQ(tx.begin({&people, &cust}), 0);
    EXPECT_EQ(tx.begin({&people}), err::LogoutAlreadyActive);
    std::uint32_t p;
    for (int i = 1; i <= 50; ++i) {
        RecordData r = makeRecord(ps, {{"PPL:SysId", i}});
        ASSERT_EQ(people.add(r, p), 0);
        RecordData c = makeRecord(cs, {{"CUST:SysId", i}});
        ASSERT_EQ(cust.add(c, p), 0);
    }
    // A failing operation inside the transaction undoes only itself.
    RecordData dup = makeRecord(cs, {{"CUST:SysId", 1}});
    EXPECT_EQ(cust.add(dup, p), err::DuplicateKey);
    std::uint32_t n = 0;
    ASSERT_EQ(people.records(n), 0);
    EXPECT_EQ(n, 50u);
    ASSERT_EQ(reader.records(n), 0);
    EXPECT_EQ(n, 0u); // others see nothing before COMMIT
    ASSERT_EQ(tx.commit(), 0);
    ASSERT_EQ(reader.records(n), 0);
    EXPECT_EQ(n, 50u);
    ASSERT_EQ(tx.begin({&cust, &people}), 0);
    RecordData r = makeRecord(ps, {{"PPL:SysId", 99}});
    ASSERT_EQ(people.add(r, p), 0);
    ASSERT_EQ(cust.erase(1), cust.erase(1)); // whatever pointer 1 is, both answers agree
    tx.rollback();
    ASSERT_EQ(people.records(n), 0);
    EXPECT_EQ(n, 50u);
    ASSERT_EQ(cust.records(n), 0);
    EXPECT_EQ(n, 50u);
    EXPECT_TRUE(problemsOf(people).empty());
    EXPECT_TRUE(problemsOf(cust).empty());
    EXPECT_EQ(tx.commit(), err::LogoutNotActive);
    // (The control file beside the first file, with its signature, is checked through the driver:
    // QnlDriver.TransactionsAndTheControlFile.)
}

// The cache keeps what is used while a scan in file order streams through more pages than it
// holds. Every page but the header is then damaged on disk behind the handle's back (the header
// still says nothing changed): the page read at every step of the scan is still served from the
// cache, the page read only at the start of the scan is not, and the cache never grew past its
// size.
TEST(QnlTable, PageCacheDropsLeastRecentlyUsedPages) {
    TempDir d;
    Schema s = peopleSchema();
    std::string path = d.file("P.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::uint32_t hot = 0, cold = 0;
    for (int i = 0; i < 6000; ++i) {
        RecordData r =
            makeRecord(s, {{"PPL:SysId", (i * 7919) % 6000}, {"PPL:LastName", "N" + std::to_string(i)}});
        ASSERT_EQ(t.add(r, hot), 0);
    }
    TableStats st;
    ASSERT_EQ(t.stats(st), 0);
    ASSERT_GT(st.pages, 100u);
    t.pager().setCacheSize(40);
    Cursor c(t, -1);
    c.setFirst();
    RecordData r;
    std::uint32_t ptr = 0;
    std::size_t most = 0;
    for (int n = 0; c.next(r, ptr) == 0; ++n) {
        if (n == 0) cold = ptr;
        ASSERT_EQ(t.get(hot, r), 0);
        most = std::max(most, t.pager().cachedPages());
    }
    EXPECT_LE(most, 40u + 8u); // a read may add a few pages before the next trim
    ASSERT_NE((cold - 1) / st.slotsPerPage, (hot - 1) / st.slotsPerPage);
    {
        int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        std::uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        for (std::uint32_t pg = 1; pg < st.pages; ++pg)
            ASSERT_EQ(::pwrite(fd, junk, 8, static_cast<off_t>(pg) * PageSize + ChecksumAt), 8);
        ::close(fd);
    }
    EXPECT_EQ(t.get(hot, r), 0);
    EXPECT_EQ(clipRight(field(s, r, "PPL:LastName").toText()), "N5999");
    EXPECT_NE(t.get(cold, r), 0);
}

// A bulk read of key ranges gives every record whose entry lies in a range (each range on its
// own, so overlapping ranges share records), once per range, in pointer order, with the bytes a
// read by pointer gives: ranges of one value, of none, of many, overlapping, an OPT key's left-out
// zero, a descending NOCASE key; over a file whose records of one value lie far apart, after
// deletions and through a cache of a few pages; and it stops when told to.
TEST(QnlTable, KeyRangesReadInBulkAsTheirRecords) {
    TempDir d;
    Schema s = peopleSchema();
    KeyDecl byName;
    byName.label = "PPL:NameDesc";
    byName.components = {{1, true}};
    byName.flags = keyflag::Dup | keyflag::NoCase;
    s.keys.push_back(byName);
    std::string path = d.file("P.QNL");
    ASSERT_EQ(Table::create(path, s, false), 0);
    Table t;
    ASSERT_EQ(t.open(path), 0);
    std::vector<std::uint32_t> ptrs;
    for (int i = 0; i < 6000; ++i) {
        const std::string name = (i % 3 ? "n" : "N") + std::to_string(i % 97);
        RecordData r = makeRecord(s, {{"PPL:SysId", (i * 7919) % 600}, {"PPL:LastName", name}});
        ASSERT_EQ(t.add(r, ptrs.emplace_back()), 0);
    }
    for (std::size_t i = 0; i < ptrs.size(); i += 11) ASSERT_EQ(t.erase(ptrs[i]), 0);
    t.pager().setCacheSize(8);
    // The model: the live records by pointer.
    std::map<std::uint32_t, RecordData> live;
    for (std::size_t i = 0; i < ptrs.size(); ++i) {
        if (i % 11 != 0) {
            ASSERT_EQ(t.get(ptrs[i], live[ptrs[i]]), 0);
        }
    }
    auto idOf = [&](const RecordData& r) { return field(s, r, "PPL:SysId").toLong(); };
    auto nameOf = [&](const RecordData& r) {
        std::string n(clipRight(field(s, r, "PPL:LastName").toText()));
        for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return n;
    };
    struct Case {
        int key;
        std::vector<std::pair<std::string, std::string>> ranges; // low, high as the key orders
    };
    const std::vector<Case> cases = {
        {0, {{"5", "5"}}},
        {0, {{"5", "5"}, {"601", "700"}, {"17", "17"}, {"599", "599"}}},
        {0, {{"0", "3"}}}, // the OPT key holds no 0
        {0, {{"100", "250"}, {"200", "300"}}},
        {0, {{"9", "8"}}},
        {1, {{"n5", "N5"}, {"N96", "n90"}, {"N1", "N0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << c.key << ", first range " << c.ranges[0].first);
        std::vector<RecordData> bounds;
        std::vector<Table::KeyRange> ranges;
        for (const auto& [low, high] : c.ranges)
            for (const std::string& v : {low, high})
                bounds.push_back(c.key == 0 ? makeRecord(s, {{"PPL:SysId", std::stol(v)}})
                                            : makeRecord(s, {{"PPL:LastName", v}}));
        for (std::size_t r = 0; r < c.ranges.size(); ++r)
            ranges.push_back({bounds[2 * r].bytes, bounds[2 * r + 1].bytes});
        std::vector<std::pair<std::uint32_t, std::size_t>> want, got;
        for (const auto& [ptr, rec] : live)
            for (std::size_t r = 0; r < c.ranges.size(); ++r) {
                const auto& [low, high] = c.ranges[r];
                bool in = false;
                if (c.key == 0) {
                    long id = idOf(rec);
                    in = id != 0 && id >= std::stol(low) && id <= std::stol(high);
                } else {
                    std::string n = nameOf(rec), lo = nameOf(bounds[2 * r]), hi = nameOf(bounds[2 * r + 1]);
                    in = n <= lo && n >= hi;
                }
                if (in) want.emplace_back(ptr, r);
            }
        std::uint32_t last = 0;
        ASSERT_EQ(t.scanKeyRanges(c.key, ranges,
                                  [&](std::size_t r, std::uint32_t ptr, std::span<const std::uint8_t> bytes) {
                                      EXPECT_GE(ptr, last);
                                      last = ptr;
                                      EXPECT_TRUE(
                                          std::equal(bytes.begin(), bytes.end(), live[ptr].bytes.begin()));
                                      got.emplace_back(ptr, r);
                                      return true;
                                  }),
                  0);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want);
        int calls = 0;
        ASSERT_EQ(
            t.scanKeyRanges(c.key, ranges, [&](std::size_t, std::uint32_t, auto) { return ++calls < 3; }), 0);
        EXPECT_EQ(calls, std::min<int>(3, static_cast<int>(want.size())));
    }
    EXPECT_NE(t.scanKeyRanges(2, {}, [](std::size_t, std::uint32_t, auto) { return true; }), 0);
}
