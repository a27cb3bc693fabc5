// Every way a view reads (record order, key walks with filters and ranges, key-led orders, sorted
// orders from first and last windows or the whole set) against a plain read-and-sort of the same
// records: whole reads both ways, a browse's paging by position, record counts, random walks,
// writes between pages, and the same over a real native file written by another process while
// its page cache holds a small part of the file.
#include "data/files.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "memtable.h"
#include "qnl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;
using sorvtest::MemTable;

namespace {

enum PplField { Id, LastName, FirstName, Salary, CustNumber };

Layout layout() {
    Layout l;
    l.add("PPL:Id", FieldType::Long);
    l.add("PPL:LastName", FieldType::String, 20);
    l.add("PPL:FirstName", FieldType::String, 20);
    l.addDecimal("PPL:Salary", 9, 2);
    l.add("PPL:CustNumber", FieldType::Long);
    return l;
}

// Duplicates everywhere, NOCASE keys, a descending component and an OPT key over a field that
// is often blank.
std::vector<KeyDecl> keyDecls() {
    auto key = [](const char* label, std::vector<KeyComponent> c, std::uint8_t flags) {
        KeyDecl k;
        k.label = label;
        k.components = std::move(c);
        k.flags = flags;
        return k;
    };
    return {key("PPL:KeyId", {{Id, false}}, keyflag::Dup),
            key("PPL:KeyName", {{LastName, false}, {FirstName, false}}, keyflag::Dup | keyflag::NoCase),
            key("PPL:KeyCust", {{CustNumber, false}, {Salary, true}}, keyflag::Dup),
            key("PPL:KeyFirst", {{FirstName, false}}, keyflag::Dup | keyflag::Opt | keyflag::NoCase)};
}

std::vector<ViewKey> viewKeys() {
    std::vector<ViewKey> out;
    for (const KeyDecl& k : keyDecls()) {
        ViewKey v;
        v.label = k.label;
        for (const KeyComponent& c : k.components) v.components.push_back({c.field, c.descending});
        v.noCase = k.noCase();
        v.duplicates = k.dup();
        v.optional = k.opt();
        out.push_back(v);
    }
    return out;
}

void fillPerson(Record& r, std::mt19937& rng) {
    static const char* lasts[] = {"Smith",  "smith", "SMITH", "Jones",  "Brown",  "miller",
                                  "O'Neil", "Adams", "Zeta",  "Tanaka", "Moreau", ""};
    static const char* firsts[] = {"Anna", "anna", "", "Bob", "", "Carl", "eve", "Dora"};
    static const char* salaries[] = {"1000", "2500.50", "2500.5", "4000", "5000.25", "12000", "0", "-10"};
    r.clear();
    r.set("PPL:Id", static_cast<int>(rng() % 150));
    r.set("PPL:LastName", lasts[rng() % 12]);
    r.set("PPL:FirstName", firsts[rng() % 8]);
    r.set("PPL:Salary", Value(*Decimal::parse(salaries[rng() % 8])));
    r.set("PPL:CustNumber", static_cast<int>(rng() % 6));
}

// One record as the reference sees it: its pointer and its field values.
struct Row {
    std::uint64_t pointer;
    std::vector<Value> v;
};

std::string up(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct Item {
    int field;
    bool upper = false;
    bool descending = false;
};

// A view's order and filter, and the same written out for the reference: the order items, the
// records kept, whether ties (equal in every item) come in falling pointer order (a key read
// backwards), whether records with a blank first name are left out (the OPT key) and the key
// components that order ties before their pointers.
struct Case {
    const char* order;
    const char* filter;
    std::vector<Item> items;
    std::function<bool(const Row&)> keep;
    bool tiesBackwards = false;
    bool optFirst = false;
    // A key that serves the leading items orders records equal in them by its other components.
    std::vector<Item> keyTies = {};
};

bool all(const Row&) {
    return true;
}
std::string last(const Row& r) {
    return std::string(clipRight(r.v[LastName].text()));
}

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        {"PPL:Id", "", {{Id}}, all},
        {"PPL:Id",
         "PPL:Salary > 2000",
         {{Id}},
         [](const Row& r) { return compare(r.v[Salary], Value(2000)) > 0; }},
        {"-PPL:Id",
         "SUB(UPPER(PPL:LastName),1,1) = 'S'",
         {{Id, false, true}},
         [](const Row& r) { return !last(r).empty() && std::toupper(last(r)[0]) == 'S'; },
         true},
        {"PPL:Id",
         "PPL:Id >= 50 AND PPL:Id < 120",
         {{Id}},
         [](const Row& r) { return r.v[Id].toLong() >= 50 && r.v[Id].toLong() < 120; }},
        {"UPPER(PPL:LastName),UPPER(PPL:FirstName)",
         "UPPER(PPL:LastName) = 'SMITH'",
         {{LastName, true}, {FirstName, true}},
         [](const Row& r) { return up(last(r)) == "SMITH"; }},
        {"UPPER(PPL:LastName)",
         "PPL:LastName = 'smith'",
         {{LastName, true}},
         [](const Row& r) { return last(r) == "smith"; },
         false,
         false,
         {{FirstName, true}}},
        {"UPPER(PPL:LastName)",
         "UPPER(PPL:LastName) >= 'M' AND UPPER(PPL:LastName) < 'T'",
         {{LastName, true}},
         [](const Row& r) { return up(last(r)) >= "M" && up(last(r)) < "T"; },
         false,
         false,
         {{FirstName, true}}},
        {"PPL:CustNumber,-PPL:Salary",
         "PPL:CustNumber = 3",
         {{CustNumber}, {Salary, false, true}},
         [](const Row& r) { return r.v[CustNumber].toLong() == 3; }},
        {"PPL:CustNumber,-PPL:Salary",
         "PPL:CustNumber >= 2 AND PPL:CustNumber <= 4",
         {{CustNumber}, {Salary, false, true}},
         [](const Row& r) { return r.v[CustNumber].toLong() >= 2 && r.v[CustNumber].toLong() <= 4; }},
        {"PPL:CustNumber,-PPL:Salary",
         "PPL:CustNumber = 3 AND PPL:Salary >= 2500",
         {{CustNumber}, {Salary, false, true}},
         [](const Row& r) {
             return r.v[CustNumber].toLong() == 3 && compare(r.v[Salary], Value(2500)) >= 0;
         }},
        {"-PPL:CustNumber,PPL:Salary", "", {{CustNumber, false, true}, {Salary}}, all, true},
        {"-PPL:CustNumber,PPL:Salary",
         "PPL:Salary < 4000 AND 2 < PPL:CustNumber",
         {{CustNumber, false, true}, {Salary}},
         [](const Row& r) { return compare(r.v[Salary], Value(4000)) < 0 && r.v[CustNumber].toLong() > 2; },
         true},
        {"UPPER(PPL:LastName),PPL:Salary", "", {{LastName, true}, {Salary}}, all},
        {"UPPER(PPL:LastName),PPL:Salary",
         "PPL:CustNumber <> 5",
         {{LastName, true}, {Salary}},
         [](const Row& r) { return r.v[CustNumber].toLong() != 5; }},
        {"-UPPER(PPL:LastName),PPL:Id", "", {{LastName, true, true}, {Id}}, all},
        {"PPL:CustNumber,PPL:Id",
         "PPL:CustNumber = 2",
         {{CustNumber}, {Id}},
         [](const Row& r) { return r.v[CustNumber].toLong() == 2; }},
        {"PPL:Salary,PPL:Id", "", {{Salary}, {Id}}, all},
        {"PPL:LastName", "", {{LastName}}, all},
        {"-PPL:Salary",
         "PPL:Salary >= 2500 AND PPL:Salary <= 5000",
         {{Salary, false, true}},
         [](const Row& r) {
             return compare(r.v[Salary], Value(2500)) >= 0 && compare(r.v[Salary], Value(5000)) <= 0;
         }},
        {"", "PPL:CustNumber = 0", {}, [](const Row& r) { return r.v[CustNumber].toLong() == 0; }},
        {"UPPER(PPL:FirstName)", "", {{FirstName, true}}, all, false, true},
        {"UPPER(PPL:FirstName)",
         "PPL:Salary > 1000",
         {{FirstName, true}},
         [](const Row& r) { return compare(r.v[Salary], Value(1000)) > 0; },
         false,
         true},
        {"UPPER(PPL:FirstName),PPL:Id", "", {{FirstName, true}, {Id}}, all, false, true},
        // Every component of a key fixed by the filter (a child list) and no key serving the
        // order: the range is read and sorted in memory.
        {"PPL:Salary,-PPL:Id",
         "PPL:CustNumber = 3 AND PPL:Salary = 4000",
         {{Salary}, {Id, false, true}},
         [](const Row& r) {
             return r.v[CustNumber].toLong() == 3 && compare(r.v[Salary], Value(4000)) == 0;
         }},
        {"-PPL:Salary",
         "PPL:Id = 7",
         {{Salary, false, true}},
         [](const Row& r) { return r.v[Id].toLong() == 7; }},
        {"",
         "PPL:CustNumber = 2 AND PPL:Salary = 4000",
         {},
         [](const Row& r) {
             return r.v[CustNumber].toLong() == 2 && compare(r.v[Salary], Value(4000)) == 0;
         }},
        // A key serving the leading item and another the next ones: long runs come from the
        // inner key's walk, in both directions of each.
        {"PPL:CustNumber,UPPER(PPL:LastName),UPPER(PPL:FirstName)",
         "",
         {{CustNumber}, {LastName, true}, {FirstName, true}},
         all},
        {"-PPL:CustNumber,UPPER(PPL:LastName),-PPL:Id",
         "PPL:Salary > 0",
         {{CustNumber, false, true}, {LastName, true}, {Id, false, true}},
         [](const Row& r) { return compare(r.v[Salary], Value(0)) > 0; }},
        // A blank value on an OPT key is no range: those records are not in the key.
        {"-PPL:Salary",
         "PPL:FirstName = ''",
         {{Salary, false, true}},
         [](const Row& r) { return clipRight(r.v[FirstName].text()).empty(); }},
    };
    return c;
}

// The plain answer: every record kept, sorted by the items and then by pointer.
std::vector<std::uint64_t> reference(const Case& c, std::vector<Row> rows) {
    std::vector<Row> kept;
    for (Row& r : rows)
        if (c.keep(r) && !(c.optFirst && clipRight(r.v[FirstName].text()).empty()))
            kept.push_back(std::move(r));
    std::vector<Item> items = c.items;
    items.insert(items.end(), c.keyTies.begin(), c.keyTies.end());
    std::sort(kept.begin(), kept.end(), [&](const Row& a, const Row& b) {
        for (const Item& i : items) {
            Value x = a.v[static_cast<std::size_t>(i.field)], y = b.v[static_cast<std::size_t>(i.field)];
            if (i.upper) x = Value(up(x.text())), y = Value(up(y.text()));
            int r = compare(x, y);
            if (r) return i.descending ? r > 0 : r < 0;
        }
        return c.tiesBackwards ? a.pointer > b.pointer : a.pointer < b.pointer;
    });
    std::vector<std::uint64_t> out;
    for (const Row& r : kept) out.push_back(r.pointer);
    return out;
}

Row rowOf(std::uint64_t pointer, std::span<const std::uint8_t> image) {
    static const Layout l = layout();
    Row r{pointer, {}};
    for (std::size_t f = 0; f < l.count(); ++f) r.v.push_back(readField(l.field(f), image));
    return r;
}

// Reads that a browse does: everything from where the view stands, and pages by position (the
// page's last row, read again before the next page, as a browse reloads around its row).
std::vector<std::uint64_t> readAll(View& v, ViewTable& t, bool forward) {
    std::vector<std::uint64_t> out;
    while ((forward ? v.next() : v.previous()) == 0 && out.size() < 100000) out.push_back(t.pointer());
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    return out;
}

std::vector<std::uint64_t> page(View& v, ViewTable& t, std::string& pos, bool forward, int rows) {
    std::vector<std::uint64_t> out;
    if (pos.empty()) {
        EXPECT_EQ(v.set(), 0);
    } else {
        EXPECT_EQ(v.reset(pos), 0);
        if ((forward ? v.next() : v.previous()) != 0) return out;
    }
    while (static_cast<int>(out.size()) < rows && (forward ? v.next() : v.previous()) == 0)
        out.push_back(t.pointer());
    pos = out.empty() ? std::string() : v.position();
    return out;
}

// Whole reads both ways, paging both ways and the count, against the reference.
void checkReads(View& v, ViewTable& t, const std::vector<std::uint64_t>& want) {
    ASSERT_EQ(v.set(), 0);
    EXPECT_EQ(readAll(v, t, true), want);
    ASSERT_EQ(v.set(), 0);
    auto back = readAll(v, t, false);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, want);
    for (bool forward : {true, false}) {
        std::string pos;
        std::vector<std::uint64_t> paged;
        for (int n = 0; n < 1000; ++n) {
            auto p = page(v, t, pos, forward, 7);
            paged.insert(paged.end(), p.begin(), p.end());
            if (p.size() < 7) break;
        }
        if (!forward) std::reverse(paged.begin(), paged.end());
        EXPECT_EQ(paged, want) << (forward ? "paging down" : "paging up from the end");
    }
    EXPECT_EQ(v.records(), static_cast<std::int64_t>(want.size()));
}

// A random walk of reads, positions kept and returned to, and starts over.
void walkAtRandom(View& v, ViewTable& t, const std::vector<std::uint64_t>& want) {
    std::mt19937 rng(11);
    std::vector<std::pair<std::string, std::ptrdiff_t>> saved;
    ASSERT_EQ(v.set(), 0);
    const auto n = static_cast<std::ptrdiff_t>(want.size());
    std::ptrdiff_t nextAt = 0, prevAt = n - 1, at = -1;
    for (int step = 0; step < 300; ++step) {
        int what = static_cast<int>(rng() % 10);
        if (what < 6) {
            bool forward = what < 4;
            int rc = forward ? v.next() : v.previous();
            std::ptrdiff_t expect = forward ? nextAt : prevAt;
            if (expect < 0 || expect >= n) {
                ASSERT_EQ(rc, err::RecordNotAvailable) << "step " << step;
            } else {
                ASSERT_EQ(rc, 0) << "step " << step;
                ASSERT_EQ(t.pointer(), want[static_cast<std::size_t>(expect)]) << "step " << step;
                at = expect;
                nextAt = at + 1;
                prevAt = at - 1;
            }
        } else if (what < 8) {
            if (at >= 0) saved.emplace_back(v.position(), at);
        } else if (what < 9 && !saved.empty()) {
            auto& [pos, index] = saved[rng() % saved.size()];
            ASSERT_EQ(v.reset(pos), 0);
            nextAt = prevAt = index;
            at = -1;
        } else {
            ASSERT_EQ(v.set(), 0);
            at = -1;
            nextAt = 0;
            prevAt = n - 1;
        }
    }
}

class ViewPlans : public ::testing::Test {
protected:
    ViewPlans() : people("PEOPLE", layout(), viewKeys()) {}
    void SetUp() override {
        std::mt19937 rng(7);
        for (int i = 0; i < 120; ++i) {
            fillPerson(people.record(), rng);
            people.add();
        }
    }
    std::vector<Row> rows() {
        std::vector<Row> out;
        for (std::uint64_t p : people.live()) {
            auto img = people.image(p);
            out.push_back(rowOf(p, img));
        }
        return out;
    }
    MemTable people;
};

TEST_F(ViewPlans, EveryOrderFilterAndRangeReadsAsAFullSortDoes) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.order) + " / " + c.filter);
        View v(people, ViewTraceSettings{});
        v.setSliceRows(12, 6); // small slices: reading runs off them all the time
        ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
        ASSERT_EQ(v.open(), 0);
        auto want = reference(c, rows());
        ASSERT_FALSE(want.empty());
        if (v.readingKey() == -2 && want.size() > 12) {
            // The first page, the last, and the first again come from kept rows, not the whole set.
            for (bool forward : {true, false, true}) {
                ASSERT_EQ(v.set(), 0);
                for (int i = 0; i < 5; ++i) ASSERT_EQ(forward ? v.next() : v.previous(), 0);
                EXPECT_FALSE(v.holdsWholeSet());
            }
        }
        checkReads(v, people, want);
        if (v.readingKey() == -2) EXPECT_TRUE(v.holdsWholeSet()); // the count needed it

        walkAtRandom(v, people, want);
    }
}

// ---- A long run's first rows from the key serving the next items --------------------------

enum CustomerField { CustId, Company, Town, Country };

// Steps of key walks counted.
class CountedTable : public MemTable {
public:
    using MemTable::MemTable;
    int next() override {
        ++steps;
        return MemTable::next();
    }
    int previous() override {
        ++steps;
        return MemTable::previous();
    }
    int steps = 0;
};

// Customers of two towns written in several ways, as the Customer file keys them (company, town
// and country NOCASE with duplicates): ordering by town, company and country reads each town's
// long run through the company key, keeping the town's customers, and gives what a full read and
// sort gives, whole, paged both ways, at random, and after writes; its first page reads far fewer
// records than a town holds.
TEST(ViewPlansInnerKey, LongRunsReadThroughTheNextItemsKeyAsAFullSortDoes) {
    Layout l;
    l.add("C:Id", FieldType::Long);
    l.add("C:Company", FieldType::String, 20);
    l.add("C:Town", FieldType::String, 20);
    l.add("C:Country", FieldType::String, 10);
    auto key = [](const char* label, int field) {
        return ViewKey{label, {{field, false}}, true, true, false, false};
    };
    CountedTable t("CUSTOMER", l,
                   {ViewKey{"C:KeyId", {{CustId, false}}, false, false, true, false},
                    key("C:KeyCompany", Company), key("C:KeyTown", Town), key("C:KeyCountry", Country)});
    static const char* towns[] = {"Paris", "PARIS", "paris", "Berlin", "berlin"};
    static const char* countries[] = {"FR", "fr", "DE", "", "Uk"};
    std::mt19937 rng;
    auto fill = [&](Record& r, int id) {
        r.clear();
        r.set("C:Id", id);
        const unsigned c = rng() % 31;
        r.set("C:Company", c == 30 ? std::string() : (c % 2 ? "acme " : "ACME ") + std::to_string(c / 2));
        r.set("C:Town", towns[rng() % 5]);
        r.set("C:Country", countries[rng() % 5]);
    };
    auto table = [&] {
        CountedTable t("CUSTOMER", l,
                       {ViewKey{"C:KeyId", {{CustId, false}}, false, false, true, false},
                        key("C:KeyCompany", Company), key("C:KeyTown", Town), key("C:KeyCountry", Country)});
        rng.seed(5);
        for (int i = 1; i <= 600; ++i) {
            fill(t.record(), i);
            t.add();
        }
        return t;
    };
    struct InnerCase {
        const char* order;
        const char* filter;
        std::vector<Item> items;
        std::function<bool(const std::vector<Value>&)> keep;
    };
    auto any = [](const std::vector<Value>&) { return true; };
    const std::vector<InnerCase> cases = {
        {"UPPER(C:Town),UPPER(C:Company),UPPER(C:Country)",
         "",
         {{Town, true}, {Company, true}, {Country, true}},
         any},
        {"-UPPER(C:Town),-UPPER(C:Company),-UPPER(C:Country)",
         "",
         {{Town, true, true}, {Company, true, true}, {Country, true, true}},
         any},
        {"UPPER(C:Town),-UPPER(C:Company),C:Id",
         "C:Id > 40",
         {{Town, true}, {Company, true, true}, {CustId}},
         [](const std::vector<Value>& v) { return v[CustId].toLong() > 40; }},
        {"UPPER(C:Town),UPPER(C:Company)",
         "UPPER(C:Town) = 'PARIS'",
         {{Town, true}, {Company, true}},
         [](const std::vector<Value>& v) { return up(std::string(clipRight(v[Town].text()))) == "PARIS"; }},
    };
    auto reference = [&](const InnerCase& c, CountedTable& t) {
        std::vector<std::pair<std::uint64_t, std::vector<Value>>> rows;
        for (std::uint64_t p : t.live()) {
            auto img = t.image(p);
            std::vector<Value> v;
            for (std::size_t f = 0; f < l.count(); ++f) v.push_back(readField(l.field(f), img));
            rows.emplace_back(p, std::move(v));
        }
        std::erase_if(rows, [&](const auto& r) { return !c.keep(r.second); });
        std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
            for (const Item& i : c.items) {
                Value x = a.second[static_cast<std::size_t>(i.field)],
                      y = b.second[static_cast<std::size_t>(i.field)];
                if (i.upper) x = Value(up(x.text())), y = Value(up(y.text()));
                if (int r = compare(x, y)) return i.descending ? r > 0 : r < 0;
            }
            return false;
        });
        std::vector<std::uint64_t> out;
        for (const auto& r : rows) out.push_back(r.first);
        return out;
    };
    for (const InnerCase& c : cases) {
        SCOPED_TRACE(std::string(c.order) + " / " + c.filter);
        CountedTable t = table();
        View v(t, ViewTraceSettings{});
        v.setSliceRows(12, 6);
        ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
        ASSERT_EQ(v.open(), 0);
        auto want = reference(c, t);
        // A town holds 240 customers or more: its first rows read under half of them.
        for (bool forward : {true, false}) {
            t.steps = 0;
            ASSERT_EQ(v.set(), 0);
            for (std::size_t i = 0; i < 5; ++i) {
                ASSERT_EQ(forward ? v.next() : v.previous(), 0);
                EXPECT_EQ(t.pointer(), want[forward ? i : want.size() - 1 - i]);
            }
            EXPECT_LT(t.steps, 120) << (forward ? "first page" : "last page");
        }
        checkReads(v, t, want);
        walkAtRandom(v, t, want);
        // Another station adds customers, deletes one after the page and moves one to the page.
        std::string pos;
        auto first = page(v, t, pos, true, 5);
        for (int i = 0; i < 8; ++i) {
            fill(t.record(), 1000 + i);
            t.add();
        }
        t.erase(want[6]);
        Record moved(l);
        auto img = t.image(want[40]);
        std::copy(img.begin(), img.end(), moved.buffer().begin());
        moved.set("C:Company", "acme 0");
        t.overwrite(want[40], moved);
        auto after = reference(c, t);
        auto at = std::find(after.begin(), after.end(), first.back());
        ASSERT_NE(at, after.end());
        std::vector<std::uint64_t> next(at + 1, std::min(at + 6, after.end()));
        EXPECT_EQ(page(v, t, pos, true, 5), next);
        checkReads(v, t, after);
    }
}

// ---- Orders led by a key of the customer joined to each person ----------------------------

enum CustField { Number, City };

// Customers through a unique OPT key on their number (a customer numbered 0 is in no key), with
// cities in a NOCASE key with duplicates. People link to them through PPL:KeyCust.
MemTable customerTable(const std::vector<std::pair<int, const char*>>& customers) {
    Layout l;
    l.add("CUST:Number", FieldType::Long);
    l.add("CUST:City", FieldType::String, 20);
    MemTable t("CUSTOMER", l,
               {ViewKey{"CUST:KeyNumber", {{Number, false}}, false, false, true, true},
                ViewKey{"CUST:KeyCity", {{City, false}}, true, true, false, false}});
    for (auto [number, city] : customers) {
        t.record().clear();
        t.record().set("CUST:Number", number);
        t.record().set("CUST:City", city);
        t.add();
    }
    return t;
}

// Item field -1 is the city of the person's customer (blank without one).
constexpr int CustCity = -1;

struct JoinCase {
    const char* order;
    const char* filter;
    std::vector<Item> items;
    std::function<bool(const Row&, const std::string& city)> keep;
    bool inner = false;
};

std::vector<std::uint64_t> joinReference(const JoinCase& c, const std::vector<Row>& rows,
                                         MemTable& customers) {
    std::map<long, std::string> cityOf;
    for (std::uint64_t p : customers.live()) {
        auto img = customers.image(p);
        long n = readField(customers.record().layout().field(Number), img).toLong();
        if (n != 0)
            cityOf[n] =
                std::string(clipRight(readField(customers.record().layout().field(City), img).text()));
    }
    std::vector<std::pair<Row, std::string>> kept;
    for (const Row& r : rows) {
        auto it = cityOf.find(r.v[CustNumber].toLong());
        const std::string city = it == cityOf.end() ? std::string() : it->second;
        if ((c.inner && it == cityOf.end()) || !c.keep(r, city)) continue;
        kept.emplace_back(r, city);
    }
    std::sort(kept.begin(), kept.end(), [&](const auto& a, const auto& b) {
        for (const Item& i : c.items) {
            Value x = i.field == CustCity ? Value(a.second) : a.first.v[static_cast<std::size_t>(i.field)];
            Value y = i.field == CustCity ? Value(b.second) : b.first.v[static_cast<std::size_t>(i.field)];
            if (i.upper) x = Value(up(x.text())), y = Value(up(y.text()));
            int r = compare(x, y);
            if (r) return i.descending ? r > 0 : r < 0;
        }
        return a.first.pointer < b.first.pointer;
    });
    std::vector<std::uint64_t> out;
    for (const auto& k : kept) out.push_back(k.first.pointer);
    return out;
}

// Walking the customers' city key and reading each customer's people gives what a full read and
// sort gives: duplicate and differently written cities, a blank city, people whose customer
// number no customer has (or 0, which the OPT key leaves out) sorting with the blank cities, both
// directions, a filter, an inner join; over customers numbered without gaps and with gaps. Then a
// customer deleted (its people now without one) and another moved to a new city between pages.
std::vector<JoinCase> joinCases() {
    auto every = [](const Row&, const std::string&) { return true; };
    return {
        {"UPPER(CUST:City)", "", {{CustCity, true}}, every},
        {"UPPER(CUST:City),UPPER(PPL:LastName)",
         "PPL:Salary > 1000",
         {{CustCity, true}, {LastName, true}},
         [](const Row& r, const std::string&) { return compare(r.v[Salary], Value(1000)) > 0; }},
        {"-UPPER(CUST:City),-UPPER(PPL:LastName),PPL:Id",
         "",
         {{CustCity, true, true}, {LastName, true, true}, {Id}},
         every},
        {"UPPER(CUST:City),-PPL:Salary", "", {{CustCity, true}, {Salary, false, true}}, every, true},
        // A filter on the customer alone, as a filter locator on the City column writes it.
        {"-UPPER(CUST:City),PPL:Id",
         "SUB(UPPER(CUST:City),1,1) = 'B'",
         {{CustCity, true, true}, {Id}},
         [](const Row&, const std::string& city) { return !city.empty() && std::toupper(city[0]) == 'B'; }},
        // The same ascending, its cities amid others in the customers' key on both sides.
        {"UPPER(CUST:City),PPL:Id",
         "SUB(UPPER(CUST:City),1,2) = 'BE'",
         {{CustCity, true}, {Id}},
         [](const Row&, const std::string& city) { return up(city).rfind("BE", 0) == 0; }},
    };
}

const std::vector<std::vector<std::pair<int, const char*>>> customerSets = {
    {{1, "Paris"}, {2, "paris"}, {3, ""}, {4, "Berlin"}},                 // 0 and 5 have none
    {{1, "Paris"}, {5, "berlin"}, {4, ""}, {0, "Zurich"}, {2, "BERLIN"}}, // 3 and 0 have none
};

TEST_F(ViewPlans, OrdersLedByTheJoinedCustomersCityKeyReadAsAFullSortDoes) {
    for (const auto& set : customerSets) {
        for (const JoinCase& c : joinCases()) {
            SCOPED_TRACE(std::string(c.order) + " / " + c.filter + " over " + std::to_string(set.size()));
            MemTable customers = customerTable(set);
            View v(people, ViewTraceSettings{});
            v.setSliceRows(12, 6);
            ASSERT_EQ(v.join(0, customers, 0, {CustNumber}, c.inner), 1);
            ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
            ASSERT_EQ(v.open(), 0);
            EXPECT_EQ(v.readingKey(), View::JoinLed);
            auto want = joinReference(c, rows(), customers);
            checkReads(v, people, want);
            walkAtRandom(v, people, want);

            std::string pos;
            auto first = page(v, people, pos, true, 5);
            ASSERT_EQ(first.size(), 5u);
            customers.erase(1);
            Record moved = customers.record();
            auto img = customers.image(2);
            std::copy(img.begin(), img.end(), moved.buffer().begin());
            moved.set("CUST:City", "Amsterdam");
            customers.overwrite(2, moved);
            auto after = joinReference(c, rows(), customers);
            auto at = std::find(after.begin(), after.end(), first.back());
            ASSERT_NE(at, after.end());
            std::vector<std::uint64_t> next(at + 1, after.end());
            if (next.size() > 5) next.resize(5);
            EXPECT_EQ(page(v, people, pos, true, 5), next);
            checkReads(v, people, after);
        }
    }
    // A join through a key with duplicates finds a person under one customer only: sorted.
    MemTable customers = customerTable({{1, "Paris"}});
    View v(people, ViewTraceSettings{});
    ASSERT_EQ(v.join(0, customers, 1, {LastName}), 1);
    ASSERT_TRUE(v.setOrder("UPPER(CUST:City)"));
    ASSERT_EQ(v.open(), 0);
    EXPECT_EQ(v.readingKey(), -2);
}

// Records added before and after the place, the next record deleted and another changed so that
// it moves: the next page is the reference's records after the page's last row.
TEST_F(ViewPlans, ThePageAfterWritesByOthers) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.order) + " / " + c.filter);
        View v(people, ViewTraceSettings{});
        v.setSliceRows(12, 6);
        ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
        ASSERT_EQ(v.open(), 0);
        auto before = reference(c, rows());
        std::string pos;
        auto first = page(v, people, pos, true, 5);
        ASSERT_EQ(first.size(), std::min<std::size_t>(5, before.size()));
        if (before.size() < 8) continue;
        std::uint64_t anchor = first.back();
        std::mt19937 rng(static_cast<unsigned>(before.size()));
        for (int i = 0; i < 6; ++i) {
            fillPerson(people.record(), rng);
            people.add();
        }
        people.erase(before[5]);
        Record moved(layout());
        auto img = people.image(before[7]);
        std::copy(img.begin(), img.end(), moved.buffer().begin());
        moved.set("PPL:Salary", Value(2600));
        moved.set("PPL:Id", 1);
        people.overwrite(before[7], moved);

        auto after = reference(c, rows());
        auto at = std::find(after.begin(), after.end(), anchor);
        ASSERT_NE(at, after.end());
        std::vector<std::uint64_t> want(at + 1, after.end());
        if (want.size() > 5) want.resize(5);
        EXPECT_EQ(page(v, people, pos, true, 5), want);
        // And the whole answer is the new one.
        checkReads(v, people, after);
        v.close();
        for (int i = 0; i < 6; ++i) people.erase(people.live().back());
    }
}

// ---- The same over a real native file -----------------------------------------------------

FileDecl peopleFile(const std::string& path) {
    FileDecl f;
    f.label = "PEOPLE";
    f.driver = "QUARNELL";
    f.name = path;
    f.attributes = fileattr::Create;
    f.record.setLayout(layout());
    f.keys = keyDecls();
    return f;
}

std::vector<Row> fileRows(const std::string& path) {
    FileDecl f = peopleFile(path);
    share(f);
    std::vector<Row> out;
    set(f);
    while (next(f), errorCode() == 0) out.push_back(rowOf(pointer(f), f.record.buffer()));
    close(f);
    return out;
}

// Runs body in a child process (another station) and answers its exit status.
int inChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) _exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ViewPlansOnFile, ReadsAgreeWithTheFileAndWithAnotherStationsWrites) {
    qnltest::TempDir dir;
    // Named as programs name it, without the extension the driver adds.
    std::string path = dir.file("PEOPLE");
    {
        FileDecl f = peopleFile(path);
        create(f);
        share(f);
        ASSERT_EQ(errorCode(), 0);
        std::mt19937 rng(3);
        logout(0, {&f});
        for (int i = 0; i < 1500; ++i) {
            fillPerson(f.record, rng);
            add(f);
            ASSERT_EQ(errorCode(), 0);
        }
        commit();
        close(f);
    }
    FileDecl f = peopleFile(path);
    share(f);
    ASSERT_EQ(errorCode(), 0);
    // A cache of a few pages of a file of a few hundred: pages come and go at every read.
    send(f, "CACHEPAGES=16");
    EXPECT_EQ(send(f, "CACHEPAGES"), "16");
    FileViewTable table(f);
    int round = 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.order) + " / " + c.filter);
        View v(table, ViewTraceSettings{});
        v.setSliceRows(128, 6); // key-led slices of a few rows: long runs are read in part
        ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
        ASSERT_EQ(v.open(), 0);
        auto want = reference(c, fileRows(path));
        checkReads(v, table, want);

        std::string pos;
        auto first = page(v, table, pos, true, 20);
        if (first.size() < 20) continue;
        // A place deep in the order too, past the rows a sorted order keeps at its ends: there it
        // holds its whole set.
        ASSERT_EQ(v.set(), 0);
        for (std::size_t i = 0; i <= want.size() / 2; ++i) ASSERT_EQ(v.next(), 0);
        std::string deep = v.position();
        std::uint64_t deepRecord = table.pointer();
        const bool sorted = v.readingKey() == -2;
        if (sorted) EXPECT_TRUE(v.holdsWholeSet());
        // Another station adds records, deletes the record after the page and changes one.
        std::uint64_t gone = want[20];
        int status = inChild([&] {
            FileDecl other = peopleFile(path);
            share(other);
            std::mt19937 rng(100 + round);
            for (int i = 0; i < 20; ++i) {
                fillPerson(other.record, rng);
                add(other);
            }
            getPointer(other, static_cast<std::uint32_t>(gone));
            deleteRecord(other);
            int rc = errorCode();
            if (want.size() > 21) {
                getPointer(other, static_cast<std::uint32_t>(want.back()));
                other.record.set("PPL:Id", 77);
                other.record.set("PPL:LastName", "Moreau");
                put(other);
                rc = rc ? rc : errorCode();
            }
            close(other);
            return rc;
        });
        ++round;
        ASSERT_EQ(status, 0);
        auto after = reference(c, fileRows(path));
        // After the write the pages around the deep place come from one bounded pass, not from
        // the whole set sorted again.
        auto at = std::find(after.begin(), after.end(), deepRecord);
        ASSERT_NE(at, after.end());
        std::vector<std::uint64_t> deepNext(at + 1, std::min(at + 21, after.end()));
        const std::string deepAt = deep;
        EXPECT_EQ(page(v, table, deep, true, 20), deepNext);
        if (sorted) EXPECT_FALSE(v.holdsWholeSet());
        std::vector<std::uint64_t> deepBefore(std::max(after.begin(), at - 20), at);
        std::reverse(deepBefore.begin(), deepBefore.end());
        deep = deepAt;
        EXPECT_EQ(page(v, table, deep, false, 20), deepBefore);
        at = std::find(after.begin(), after.end(), first.back());
        ASSERT_NE(at, after.end());
        std::vector<std::uint64_t> next(at + 1, after.end());
        if (next.size() > 20) next.resize(20);
        EXPECT_EQ(page(v, table, pos, true, 20), next);
    }
    // Orders led by the customers' city key read each run's people in bulk from the file (with
    // the other station's writes in its log, through a cache of a few pages): as a full sort.
    for (const auto& set : customerSets) {
        for (const JoinCase& c : joinCases()) {
            SCOPED_TRACE(std::string(c.order) + " / " + c.filter + " over " + std::to_string(set.size()));
            MemTable customers = customerTable(set);
            View v(table, ViewTraceSettings{});
            v.setSliceRows(128, 6);
            ASSERT_EQ(v.join(0, customers, 0, {CustNumber}, c.inner), 1);
            ASSERT_TRUE(v.setOrder(c.order) && v.setFilter(c.filter));
            ASSERT_EQ(v.open(), 0);
            EXPECT_EQ(v.readingKey(), View::JoinLed);
            auto want = joinReference(c, fileRows(path), customers);
            checkReads(v, table, want);
            walkAtRandom(v, table, want);
        }
    }
    close(f);
}

} // namespace
