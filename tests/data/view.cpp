// The view engine over in-memory files: key and non-key orders both ways, filters, joins,
// positions across inserts, deletes and order changes, changes by others, the view operations
// issued to drivers, and the trace.
#include "data/view.h"

#include "memtable.h"
#include "runtime/errors.h"
#include "runtime/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

using namespace sorv;
using sorvtest::MemTable;

namespace {

enum PplField { Id, LastName, FirstName, Salary, CustNumber };
enum CustField { Number, Company, Country };

Layout peopleLayout() {
    Layout l;
    l.add("PPL:Id", FieldType::Long);
    l.add("PPL:LastName", FieldType::String, 20);
    l.add("PPL:FirstName", FieldType::String, 20);
    l.addDecimal("PPL:Salary", 9, 2);
    l.add("PPL:CustNumber", FieldType::Long);
    return l;
}

std::vector<ViewKey> peopleKeys() {
    ViewKey id{"PPL:KeyId", {{Id, false}}, false, false, true};
    ViewKey name{"PPL:KeyName", {{LastName, false}, {FirstName, false}}, true, true, false};
    ViewKey cust{"PPL:KeyCust", {{CustNumber, false}, {Salary, true}}, false, true, false};
    return {id, name, cust};
}

Layout customerLayout() {
    Layout l;
    l.add("CUST:Number", FieldType::Long);
    l.add("CUST:Company", FieldType::String, 30);
    l.add("CUST:Country", FieldType::String, 10);
    return l;
}

class ViewTest : public ::testing::Test {
protected:
    ViewTest()
        : people("PEOPLE", peopleLayout(), peopleKeys()),
          customers("CUSTOMER", customerLayout(),
                    {ViewKey{"CUST:KeyNumber", {{Number, false}}, false, false, true}}) {}

    void SetUp() override {
        const char* lasts[] = {"Smith", "smith", "Jones", "Brown", "Miller", "O'Neil", "Adams", "Zeta"};
        const char* firsts[] = {"Anna", "anna", "Bob", "Carl", "Dora", "Eve"};
        const char* salaries[] = {"1000", "2500.50", "2500.5", "4000", "5000.25", "12000"};
        std::mt19937 rng(42);
        for (int i = 1; i <= 120; ++i) {
            Record& r = people.record();
            r.clear();
            r.set("PPL:Id", static_cast<int>(rng() % 1000)); // ids need not be unique for these tests
            r.set("PPL:LastName", lasts[rng() % 8]);
            r.set("PPL:FirstName", firsts[rng() % 6]);
            r.set("PPL:Salary", Value(*Decimal::parse(salaries[rng() % 6])));
            r.set("PPL:CustNumber", i % 13 == 0 ? 99 : static_cast<int>(rng() % 6) + 1);
            people.add();
        }
        const char* companies[] = {"Boston Widgets", "acme", "Zenith Ltd", "Acme", "Orion", "Delta"};
        for (int c = 1; c <= 6; ++c) {
            Record& r = customers.record();
            r.set("CUST:Number", c);
            r.set("CUST:Company", companies[c - 1]);
            r.set("CUST:Country", c % 2 ? "UK" : "US");
            customers.add();
        }
    }

    static ViewTraceSettings noTrace() { return ViewTraceSettings{}; }

    // Every record the view yields from where it stands, as pointers.
    std::vector<std::uint64_t> readAll(View& v, bool forward = true) {
        std::vector<std::uint64_t> out;
        while ((forward ? v.next() : v.previous()) == 0) {
            out.push_back(people.pointer());
            if (out.size() > 10000) break;
        }
        EXPECT_EQ(errorCode(), err::RecordNotAvailable);
        return out;
    }

    using Less = std::function<bool(std::uint64_t, std::uint64_t)>;
    // The reference: the live records that pass `keep`, sorted by `less` (ties by pointer).
    std::vector<std::uint64_t> expected(const Less& less, std::function<bool(const Record&)> keep = {}) {
        std::vector<std::uint64_t> ptrs;
        Record r(peopleLayout());
        for (std::uint64_t p : people.live()) {
            auto img = people.image(p);
            std::copy(img.begin(), img.end(), r.buffer().begin());
            if (!keep || keep(r)) ptrs.push_back(p);
        }
        std::stable_sort(ptrs.begin(), ptrs.end(), less);
        return ptrs;
    }
    Value field(std::uint64_t p, int f) {
        auto img = people.image(p);
        return readField(people.record().layout().field(static_cast<std::size_t>(f)), img);
    }
    static std::string up(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    Less byKey(int key) {
        return [this, key](std::uint64_t a, std::uint64_t b) {
            int c = people.compareKey(key, people.image(a), people.image(b));
            return c != 0 ? c < 0 : a < b;
        };
    }

    MemTable people;
    MemTable customers;
};

TEST_F(ViewTest, HowEachShapeOfOrderIsRead) {
    View v(people, noTrace());
    ASSERT_EQ(v.open(), 0);
    // A key read forwards, or backwards when every item is reversed (a prefix of the key is
    // enough, a descending component matches a descending item); no order reads in record order.
    // The NOCASE key does not serve the case-sensitive field, nor mixed directions past the
    // first item; a key that serves the leading items reads key-led; a filter is tested as the
    // key is walked and changes the way only where it fixes every component of a key that serves
    // no item: that range is read as one key-led run.
    struct Shape {
        const char* order;
        const char* filter;
        int key;
        bool slices;
        bool backwards = false;
    } shapes[] = {
        {"UPPER(PPL:LastName), UPPER(PPL:FirstName)", "", 1, false},
        {"-UPPER(PPL:LastName)", "", 1, false, true},
        {"PPL:CustNumber,-PPL:Salary", "", 2, false},
        {"", "", -1, false},
        {"PPL:LastName", "", -2, true},
        {"UPPER(PPL:FirstName)", "", -2, true},
        {"UPPER(PPL:FirstName),-PPL:Salary", "", -2, true},
        {"PPL:Salary", "", -2, true},
        {"UPPER(PPL:LastName),-UPPER(PPL:FirstName)", "", 1, true},
        {"PPL:Id,PPL:LastName", "", 0, true},
        {"PPL:Id", "", 0, false},
        {"PPL:Id", "PPL:Salary > 2000", 0, false},
        {"-PPL:CustNumber,PPL:Salary", "PPL:CustNumber = 3", 2, false, true},
        {"", "PPL:Salary > 2000", -1, false},
        {"PPL:Salary", "PPL:Id = 7", 0, true},
        {"PPL:Salary", "PPL:CustNumber = 3 AND PPL:Salary = 20", 2, true},
        {"PPL:Salary", "PPL:CustNumber = 3", -2, true},
        {"", "PPL:Id = 7", 0, false},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(std::string(s.order) + " / " + s.filter);
        ASSERT_TRUE(v.setOrder(s.order) && v.setFilter(s.filter));
        EXPECT_EQ(v.readingKey(), s.key);
        EXPECT_EQ(v.readsSlices(), s.slices);
        EXPECT_EQ(v.readsBackwards(), s.backwards);
    }
}

TEST_F(ViewTest, NumbersAndTextsOrderAsTheLanguageComparesThem) {
    // Decimals that differ only in trailing zeros are equal; negatives, zero and large values
    // order numerically, not as texts.
    MemTable t("T",
               [] {
                   Layout l;
                   l.addDecimal("T:D", 15, 4);
                   l.add("T:S", FieldType::String, 8);
                   return l;
               }(),
               {});
    const char* values[] = {"-100", "-2.5", "-2.25", "0",           "0.0001",
                            "2.5",  "2.50", "10",    "99999999999", "-0.0001"};
    const char* texts[] = {"b", "a", "", "a ", "B", "ab", "a\x01", " a"};
    for (int i = 0; i < 10; ++i) {
        t.record().set("T:D", Value(*Decimal::parse(values[i])));
        t.record().set("T:S", texts[i % 8]);
        t.add();
    }
    View v(t, noTrace());
    ASSERT_TRUE(v.setOrder("T:D"));
    ASSERT_EQ(v.open(), 0);
    std::vector<std::string> got;
    while (v.next() == 0) got.push_back(t.record().get("T:D").toDecimal().toString());
    std::vector<std::string> want = {"-100",   "-2.5", "-2.25", "-0.0001", "0",
                                     "0.0001", "2.5",  "2.5",   "10",      "99999999999"};
    EXPECT_EQ(got, want);

    ASSERT_TRUE(v.setOrder("-T:S,T:D"));
    ASSERT_EQ(v.set(), 0);
    std::vector<std::string> names;
    while (v.next() == 0) names.push_back(std::string(clipRight(t.record().get("T:S").text())));
    std::vector<std::string> sorted = names;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::string& a, const std::string& b) { return compareText(a, b) > 0; });
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(names.front(), "b");
    EXPECT_EQ(names.back(), "");
}

// Sorted sets compare the leading bytes of the order values first: values that agree far
// beyond them, values that are prefixes of others, and the items after a long text must still
// decide the order, both ways and in descending items.
TEST_F(ViewTest, LongOrderValuesThatAgreeInTheirLeadingBytes) {
    MemTable t("T",
               [] {
                   Layout l;
                   l.add("T:S", FieldType::String, 30);
                   l.add("T:N", FieldType::Long);
                   return l;
               }(),
               {});
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, int>> rows;
    for (int i = 0; i < 400; ++i) {
        // Texts of 10 to 24 letters of a two-letter alphabet: many share 16 bytes and more.
        std::string s(10 + rng() % 15, 'A');
        for (char& c : s)
            if (rng() % 6 == 0) c = 'B';
        int n = static_cast<int>(rng() % 5) - 2;
        t.record().set("T:S", s);
        t.record().set("T:N", n);
        t.add();
        rows.emplace_back(s, n);
    }
    for (bool textDescends : {false, true}) {
        View v(t, noTrace());
        ASSERT_TRUE(v.setOrder(textDescends ? "-T:S,T:N" : "T:S,-T:N"));
        ASSERT_EQ(v.open(), 0);
        std::vector<std::size_t> want(rows.size());
        for (std::size_t i = 0; i < want.size(); ++i) want[i] = i;
        std::stable_sort(want.begin(), want.end(), [&](std::size_t a, std::size_t b) {
            int c = compareText(rows[a].first, rows[b].first);
            if (c) return textDescends ? c > 0 : c < 0;
            return textDescends ? rows[a].second < rows[b].second : rows[a].second > rows[b].second;
        });
        std::vector<std::size_t> got, back;
        while (v.next() == 0) got.push_back(static_cast<std::size_t>(t.pointer() - 1));
        ASSERT_EQ(v.set(), 0);
        while (v.previous() == 0) back.push_back(static_cast<std::size_t>(t.pointer() - 1));
        std::reverse(back.begin(), back.end());
        EXPECT_EQ(got, want) << (textDescends ? "descending" : "ascending");
        EXPECT_EQ(back, want) << (textDescends ? "descending" : "ascending");
    }
}

// Key-order filters are compared with a full sort in the plan tests; here the texts a query
// writes: a quoted quote, a filter nothing passes, and the filter taken away again.
TEST_F(ViewTest, FiltersAsTheFrameworkWritesThem) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("UPPER(PPL:LastName),UPPER(PPL:FirstName)"));
    ASSERT_EQ(v.open(), 0);
    // A query with a quote, and a filter that nothing passes.
    ASSERT_TRUE(v.setFilter("(PPL:LastName = 'O''Neil')"));
    ASSERT_EQ(v.set(), 0);
    auto oneil = readAll(v);
    ASSERT_FALSE(oneil.empty());
    for (auto p : oneil) EXPECT_EQ(compareText(field(p, LastName).text(), "O'Neil"), 0);
    ASSERT_TRUE(v.setFilter("INSTRING('XYZ',UPPER(PPL:LastName),1,1) <> 0"));
    ASSERT_EQ(v.set(), 0);
    EXPECT_EQ(v.next(), err::RecordNotAvailable);
    EXPECT_EQ(v.previous(), err::RecordNotAvailable);
    EXPECT_EQ(v.records(), 0);
    // Removing the filter reads the key live again.
    ASSERT_TRUE(v.setFilter(""));
    EXPECT_EQ(v.readingKey(), 1);
}

TEST_F(ViewTest, BadOrderOrFilterKeepsTheEarlierState) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("UPPER(PPL:LastName)"));
    ASSERT_TRUE(v.setFilter("PPL:Salary > 3000"));
    ASSERT_EQ(v.open(), 0);
    auto before = readAll(v);
    EXPECT_FALSE(v.setOrder("PPL:Id, UPPER(PPL:Nope)"));
    EXPECT_EQ(errorCode(), err::NoBind);
    EXPECT_FALSE(v.setOrder("PPL:Id,,PPL:Salary"));
    EXPECT_EQ(errorCode(), err::BadExpression);
    EXPECT_FALSE(v.setFilter("PPL:Salary >"));
    EXPECT_EQ(errorCode(), err::BadExpression);
    EXPECT_EQ(v.setProperty(PropFilter, "((("), err::BadExpression);
    EXPECT_EQ(v.order(), "UPPER(PPL:LastName)");
    EXPECT_EQ(v.getProperty(PropFilter), "PPL:Salary > 3000");
    ASSERT_EQ(v.set(), 0);
    EXPECT_EQ(readAll(v), before);
    EXPECT_EQ(v.setProperty(PropOrder, "-PPL:Id"), 0);
    EXPECT_EQ(v.getProperty(PropOrder), "-PPL:Id");
    EXPECT_EQ(v.setProperty(0x1234, "x"), err::UnsupportedFunction);
}

TEST_F(ViewTest, OrderItemsWithCommasInsideFunctions) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder(" SUB(PPL:LastName,1,3) ,\t-INSTRING('a',PPL:FirstName,1,1), PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    auto want = expected([this](std::uint64_t a, std::uint64_t b) {
        int c = compareText(field(a, LastName).text().substr(0, 3), field(b, LastName).text().substr(0, 3));
        if (c) return c < 0;
        auto pos = [this](std::uint64_t p) {
            return static_cast<long>(field(p, FirstName).text().find('a'));
        };
        if (pos(a) != pos(b)) return pos(a) > pos(b);
        c = compare(field(a, Id), field(b, Id));
        return c != 0 ? c < 0 : a < b;
    });
    EXPECT_EQ(readAll(v), want);
}

// Positions taken while reading bring the view back to the same record, in both modes, after
// records were inserted before it, and after the record itself was deleted. (Going back to a
// position and reading on either way is walked at random in the plan comparison.)
TEST_F(ViewTest, PositionsSurviveInsertsAndDeletes) {
    for (const char* order :
         {"UPPER(PPL:LastName),UPPER(PPL:FirstName)", "UPPER(PPL:FirstName),-PPL:Salary"}) {
        SCOPED_TRACE(order);
        View v(people, noTrace());
        ASSERT_TRUE(v.setOrder(order));
        ASSERT_EQ(v.open(), 0);
        auto all = readAll(v);
        ASSERT_GT(all.size(), 40u);
        ASSERT_EQ(v.set(), 0);
        for (int i = 0; i < 30; ++i) ASSERT_EQ(v.next(), 0);
        std::string pos = v.position();
        EXPECT_FALSE(pos.empty());
        EXPECT_EQ(pos.find(' '), std::string::npos);
        EXPECT_LE(pos.size(), 512u);
        ASSERT_EQ(people.pointer(), all[29]);

        // Records added at the front (by this process, followed by a flush) do not move it.
        for (int i = 0; i < 3; ++i) {
            people.record().clear();
            people.record().set("PPL:LastName", "Aaron");
            people.record().set("PPL:FirstName", "Aaron");
            people.add();
        }
        ASSERT_EQ(v.flush(), 0);
        ASSERT_EQ(v.reset(pos), 0);
        ASSERT_EQ(v.next(), 0);
        EXPECT_EQ(people.pointer(), all[29]);

        // The record deleted: the view stands where it was, between its neighbours.
        people.erase(all[29]);
        ASSERT_EQ(v.reset(pos), 0);
        ASSERT_EQ(v.next(), 0);
        EXPECT_EQ(people.pointer(), all[30]);
        ASSERT_EQ(v.reset(pos), 0);
        ASSERT_EQ(v.previous(), 0);
        EXPECT_EQ(people.pointer(), all[28]);
        EXPECT_EQ(v.reset("garbage"), err::RecordNotFound);
        EXPECT_EQ(v.reset("S1:2:XYZ"), err::RecordNotFound);
        v.close();
        for (auto p : people.live())
            if (compareText(field(p, LastName).text(), "Aaron") == 0) people.erase(p);
    }
}

TEST_F(ViewTest, APositionOfAnotherOrderFindsTheSameRecord) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    for (int i = 0; i < 17; ++i) ASSERT_EQ(v.next(), 0);
    std::uint64_t rec = people.pointer();
    std::string pos = v.position();
    for (const char* order : {"UPPER(PPL:FirstName),-PPL:Salary", "-UPPER(PPL:LastName)", "PPL:Id"}) {
        ASSERT_TRUE(v.setOrder(order));
        ASSERT_EQ(v.reset(pos), 0);
        ASSERT_EQ(v.next(), 0) << order;
        EXPECT_EQ(people.pointer(), rec) << order;
        ASSERT_EQ(v.reset(pos), 0);
        ASSERT_EQ(v.previous(), 0) << order;
        EXPECT_EQ(people.pointer(), rec) << order;
        // The record's neighbours are those of the new order.
        ASSERT_EQ(v.next(), 0);
        std::uint64_t after = people.pointer();
        ASSERT_EQ(v.set(), 0);
        auto all = readAll(v);
        auto at = std::find(all.begin(), all.end(), rec);
        ASSERT_NE(at, all.end());
        ASSERT_NE(at + 1, all.end());
        EXPECT_EQ(*(at + 1), after) << order;
    }
}

// (Writes by others seen at the next SET are compared with a full sort in the plan tests.)
// Without a reset the set stays as built, but a record changed so that it no longer passes the
// filter is left out at once.
TEST_F(ViewTest, ARecordChangedOutOfTheFilterIsLeftOutAtOnce) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("UPPER(PPL:FirstName)"));
    ASSERT_TRUE(v.setFilter("PPL:FirstName <> 'Zed'"));
    ASSERT_EQ(v.open(), 0);
    const std::uint64_t first = readAll(v).front();
    ASSERT_EQ(v.set(), 0);
    Record r = people.record();
    auto img = people.image(first);
    std::copy(img.begin(), img.end(), r.buffer().begin());
    r.set("PPL:FirstName", "Zed");
    people.overwrite(first, r);
    ASSERT_EQ(v.next(), 0);
    EXPECT_NE(people.pointer(), first);
}

TEST_F(ViewTest, SetByLeadingValuesOfTheBuffer) {
    for (bool filtered : {false, true}) {
        SCOPED_TRACE(filtered);
        View v(people, noTrace());
        ASSERT_TRUE(v.setOrder("UPPER(PPL:LastName),UPPER(PPL:FirstName)"));
        if (filtered) {
            ASSERT_TRUE(v.setFilter("PPL:Id >= 0"));
        }
        ASSERT_EQ(v.open(), 0);
        EXPECT_EQ(v.readingKey(), 1);
        people.record().set("PPL:LastName", "m");
        people.record().set("PPL:FirstName", "zzz");
        ASSERT_EQ(v.set(1), 0);
        ASSERT_EQ(v.next(), 0);
        // The first record whose upper-cased last name is not below "M", whatever its first name.
        EXPECT_EQ(compareText(up(people.record().get("PPL:LastName").text()), "MILLER"), 0);
        EXPECT_EQ(compareText(up(people.record().get("PPL:FirstName").text()), "ANNA"), 0);
        people.record().set("PPL:LastName", "Miller");
        ASSERT_EQ(v.set(1), 0);
        ASSERT_EQ(v.previous(), 0);
        // PREVIOUS from there reads the last Miller.
        EXPECT_EQ(compareText(up(people.record().get("PPL:LastName").text()), "MILLER"), 0);
        ASSERT_EQ(v.next(), 0);
        EXPECT_EQ(compareText(up(people.record().get("PPL:LastName").text()), "O'NEIL"), 0);
    }
}

TEST_F(ViewTest, JoinsThroughAKeyAndInnerJoinsLeaveOutTheUnpartnered) {
    View v(people, noTrace());
    int j = v.join(0, customers, 0, {CustNumber});
    ASSERT_EQ(j, 1);
    ASSERT_TRUE(v.setOrder("PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    int withPartner = 0, without = 0;
    while (v.next() == 0) {
        int cust = static_cast<int>(people.record().get("PPL:CustNumber").toLong());
        if (cust == 99) {
            ++without;
            EXPECT_EQ(customers.record().get("CUST:Number").toLong(), 0);
            EXPECT_TRUE(clipRight(customers.record().get("CUST:Company").text()).empty());
        } else {
            ++withPartner;
            EXPECT_EQ(customers.record().get("CUST:Number").toLong(), cust);
        }
    }
    EXPECT_GT(without, 0);
    // Sorted orders over an outer join: by the partner's field (the pass resolves the join, the
    // unpartnered sort as blanks) and by the person's own fields (the pass leaves the join
    // alone); either way every record read comes with its own partner.
    auto company = [&](std::uint64_t p) {
        int cust = static_cast<int>(field(p, CustNumber).toLong());
        if (customers.fetch(static_cast<std::uint64_t>(cust)) != 0) return std::string();
        return up(std::string(clipRight(customers.record().get("CUST:Company").text())));
    };
    const std::pair<const char*, Less> sortedOrders[] = {
        {"UPPER(CUST:Company),PPL:Id",
         [&](std::uint64_t a, std::uint64_t b) {
             return std::make_pair(company(a), field(a, Id).toLong()) <
                    std::make_pair(company(b), field(b, Id).toLong());
         }},
        {"UPPER(PPL:FirstName),-PPL:Salary", [&](std::uint64_t a, std::uint64_t b) {
             int c = compareText(up(field(a, FirstName).text()), up(field(b, FirstName).text()));
             return c != 0 ? c < 0 : compare(field(a, Salary), field(b, Salary)) > 0;
         }}};
    for (const auto& [order, less] : sortedOrders) {
        SCOPED_TRACE(order);
        std::vector<std::uint64_t> want = expected(less);
        ASSERT_TRUE(v.setOrder(order));
        ASSERT_EQ(v.readingKey(), -2);
        for (bool forward : {true, false}) {
            v.setSliceRows(forward ? 4 : 1000, 64); // a window, then the whole set
            ASSERT_EQ(v.set(), 0);
            std::vector<std::uint64_t> got;
            while ((forward ? v.next() : v.previous()) == 0) {
                got.push_back(people.pointer());
                int cust = static_cast<int>(people.record().get("PPL:CustNumber").toLong());
                EXPECT_EQ(customers.record().get("CUST:Number").toLong(), cust == 99 ? 0 : cust);
            }
            if (!forward) std::reverse(got.begin(), got.end());
            EXPECT_EQ(got, want);
        }
    }
    v.close();

    View inner(people, noTrace());
    ASSERT_EQ(inner.join(0, customers, 0, {CustNumber}, true), 1);
    ASSERT_TRUE(inner.setOrder("UPPER(CUST:Company),PPL:Id"));
    ASSERT_EQ(inner.open(), 0);
    EXPECT_EQ(inner.readingKey(), -2);
    std::vector<std::string> companies;
    int n = 0;
    while (inner.next() == 0) {
        ++n;
        EXPECT_NE(people.record().get("PPL:CustNumber").toLong(), 99);
        companies.push_back(up(std::string(clipRight(customers.record().get("CUST:Company").text()))));
    }
    EXPECT_EQ(n, withPartner);
    EXPECT_TRUE(std::is_sorted(companies.begin(), companies.end()));
    EXPECT_EQ(inner.records(), withPartner);

    // An inner join over a key order is read live and still leaves them out, both ways.
    ASSERT_TRUE(inner.setOrder("PPL:Id"));
    EXPECT_EQ(inner.readingKey(), 0);
    ASSERT_EQ(inner.set(), 0);
    EXPECT_EQ(static_cast<int>(readAll(inner).size()), withPartner);
    ASSERT_EQ(inner.set(), 0);
    EXPECT_EQ(static_cast<int>(readAll(inner, false).size()), withPartner);
    EXPECT_EQ(inner.records(), withPartner);
    // A filter on the joined file.
    ASSERT_TRUE(inner.setFilter("CUST:Country = 'US'"));
    ASSERT_EQ(inner.set(), 0);
    while (inner.next() == 0) EXPECT_EQ(compareText(customers.record().get("CUST:Country").text(), "US"), 0);
}

TEST_F(ViewTest, JoinsWithFieldPairsAndNested) {
    MemTable countries("COUNTRY",
                       [] {
                           Layout l;
                           l.add("CTRY:Code", FieldType::String, 10);
                           l.add("CTRY:Name", FieldType::String, 30);
                           return l;
                       }(),
                       {});
    countries.record().set("CTRY:Code", "UK");
    countries.record().set("CTRY:Name", "United Kingdom");
    countries.add();
    View v(people, noTrace());
    int c = v.join(0, customers, {{CustNumber, Number}}, true);
    ASSERT_EQ(c, 1);
    int k = v.join(c, countries, {{Country, 0}}, false);
    ASSERT_EQ(k, 2);
    v.project(0, LastName);
    v.project(c, Company);
    v.project(k, 1);
    ASSERT_TRUE(v.setOrder("PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    int uk = 0, us = 0;
    while (v.next() == 0) {
        EXPECT_EQ(customers.record().get("CUST:Number").toLong(),
                  people.record().get("PPL:CustNumber").toLong());
        if (compareText(customers.record().get("CUST:Country").text(), "UK") == 0) {
            ++uk;
            EXPECT_EQ(compareText(countries.record().get("CTRY:Name").text(), "United Kingdom"), 0);
        } else {
            ++us;
            EXPECT_TRUE(clipRight(countries.record().get("CTRY:Name").text()).empty());
        }
    }
    EXPECT_GT(uk, 0);
    EXPECT_GT(us, 0); // the outer country join keeps customers without a country
    std::string decl = v.declaration();
    EXPECT_EQ(decl, "VIEW(PEOPLE)\n"
                    "  PROJECT(FIELD(PPL:LastName))\n"
                    "  JOIN(CUSTOMER,FIELD(PPL:CustNumber,CUST:Number)),INNER\n"
                    "    PROJECT(FIELD(CUST:Company))\n"
                    "    JOIN(COUNTRY,FIELD(CUST:Country,CTRY:Code))\n"
                    "      PROJECT(FIELD(CTRY:Name))\n"
                    "    END\n"
                    "  END\n"
                    "END\n");
    // Joins are declared before opening, with fields that exist.
    EXPECT_EQ(v.join(0, customers, 0, {CustNumber}), -1);
    View w(people, noTrace());
    EXPECT_EQ(w.join(0, customers, 5, {CustNumber}), -1);
    EXPECT_EQ(w.join(0, customers, 0, {42}), -1);
    EXPECT_EQ(w.join(3, customers, 0, {CustNumber}), -1);
    EXPECT_EQ(w.join(0, customers, {{CustNumber, 9}}), -1);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
}

TEST_F(ViewTest, RegetWatchPutAndDeleteThroughTheView) {
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("UPPER(PPL:FirstName),PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(v.next(), 0);
    std::uint64_t rec = people.pointer();
    std::string pos = v.position();
    ASSERT_EQ(v.next(), 0);
    std::uint64_t after = people.pointer();
    // REGET fills the buffer again and reading goes on from that record.
    ASSERT_EQ(v.reget(pos), 0);
    EXPECT_EQ(people.pointer(), rec);
    ASSERT_EQ(v.next(), 0);
    EXPECT_EQ(people.pointer(), after);

    // WATCH, then another station changes the record: PUT is refused with 89.
    ASSERT_EQ(v.watch(), 0);
    ASSERT_EQ(v.reget(pos), 0);
    Record other = people.record();
    other.set("PPL:Salary", 1);
    people.overwrite(rec, other);
    people.record().set("PPL:Salary", 2);
    EXPECT_EQ(v.put(), err::RecordChanged);
    EXPECT_EQ(errorCode(), err::RecordChanged);
    // Without a change in between the PUT goes through.
    ASSERT_EQ(v.watch(), 0);
    ASSERT_EQ(v.reget(pos), 0);
    people.record().set("PPL:Salary", 3);
    EXPECT_EQ(v.put(), 0);
    EXPECT_EQ(readField(people.record().layout().field(Salary), people.image(rec)).toLong(), 3);
    EXPECT_EQ(v.hold(), 0);
    EXPECT_EQ(v.hold(2), 0);
    EXPECT_EQ(v.release(), 0);
    // DELETE through the view, then the record is gone from the reading.
    ASSERT_EQ(v.reget(pos), 0);
    ASSERT_EQ(v.remove(), 0);
    ASSERT_EQ(v.set(), 0);
    auto all = readAll(v);
    EXPECT_EQ(std::find(all.begin(), all.end(), rec), all.end());
    EXPECT_EQ(v.reget(pos), err::RecordNotFound);
}

TEST_F(ViewTest, SkipAndClosedViews) {
    View v(people, noTrace());
    EXPECT_EQ(v.next(), err::FileNotOpen);
    EXPECT_EQ(v.set(), err::FileNotOpen);
    EXPECT_EQ(v.records(), -1);
    EXPECT_EQ(v.position(), "");
    ASSERT_TRUE(v.setOrder("PPL:Id"));
    ASSERT_EQ(v.open(), 0);
    EXPECT_EQ(v.open(), err::FileAlreadyOpen);
    EXPECT_EQ(v.position(), ""); // nothing read yet
    auto all = readAll(v);
    ASSERT_EQ(v.set(), 0);
    ASSERT_EQ(v.skip(10), 0);
    EXPECT_EQ(people.pointer(), all[9]);
    ASSERT_EQ(v.skip(-3), 0);
    EXPECT_EQ(people.pointer(), all[6]);
    EXPECT_EQ(v.skip(100000), err::RecordNotAvailable);
    EXPECT_EQ(v.records(), static_cast<std::int64_t>(all.size()));
    EXPECT_EQ(v.close(), 0);
    EXPECT_EQ(v.close(), err::FileNotOpen);
}

// Building the whole sorted set tells its progress and stops when told to: the operation that
// needed it answers 93 and the view stays where it was, so that reading goes on from there.
TEST_F(ViewTest, TheWholeSortedSetReportsProgressAndStopsWhenTold) {
    const Less less = [&](std::uint64_t a, std::uint64_t b) {
        int c = compareText(up(field(a, FirstName).text()), up(field(b, FirstName).text()));
        return c != 0 ? c < 0 : compare(field(a, Salary), field(b, Salary)) > 0;
    };
    const std::vector<std::uint64_t> want = expected(less);
    View v(people, noTrace());
    ASSERT_TRUE(v.setOrder("UPPER(PPL:FirstName),-PPL:Salary"));
    v.setSliceRows(10, 64);
    bool stop = true;
    std::vector<std::pair<std::int64_t, std::int64_t>> steps;
    int ended = 0;
    v.setProgress({[&](std::int64_t done, std::int64_t of) {
                       steps.emplace_back(done, of);
                       return !stop;
                   },
                   [&] { ++ended; }});
    ASSERT_EQ(v.open(), 0);
    std::vector<std::uint64_t> got;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(v.next(), 0);
        got.push_back(people.pointer());
    }
    EXPECT_TRUE(steps.empty()); // the first rows come from a bounded pass, which is not reported
    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_EQ(v.next(), err::BuildCancelled);
        EXPECT_EQ(steps.size(), std::size_t(attempt));
        EXPECT_EQ(ended, attempt);
        EXPECT_FALSE(v.holdsWholeSet());
    }
    EXPECT_EQ(steps.front(), std::make_pair(std::int64_t(0), std::int64_t(want.size())));
    stop = false;
    auto rest = readAll(v);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, want);
    EXPECT_TRUE(v.holdsWholeSet());
    EXPECT_EQ(ended, 3);
}

TEST_F(ViewTest, ViewOperationsReachTheDrivers) {
    View v(people, noTrace());
    ASSERT_EQ(v.join(0, customers, 0, {CustNumber}), 1);
    ASSERT_EQ(v.open(), 0);
    ASSERT_EQ(v.set(), 0);
    ASSERT_EQ(v.next(), 0);
    ASSERT_EQ(v.resetToFile(), 0);
    ASSERT_EQ(v.close(), 0);
    EXPECT_EQ(people.viewOps, (std::vector<int>{74, 92, 81, 83, 93}));
    EXPECT_EQ(customers.viewOps, (std::vector<int>{74, 92, 93}));
}

TEST_F(ViewTest, ResetToTheFilesCurrentRecord) {
    for (const char* order : {"PPL:Id", "UPPER(PPL:FirstName),-PPL:Salary"}) {
        SCOPED_TRACE(order);
        View v(people, noTrace());
        ASSERT_TRUE(v.setOrder(order));
        ASSERT_EQ(v.open(), 0);
        auto all = readAll(v);
        // A form changed record 40 and wrote it; the browse flushes and resets to it.
        ASSERT_EQ(people.fetch(all[40]), 0);
        people.record().set("PPL:Id", 5000);
        people.record().set("PPL:FirstName", "Zzz");
        ASSERT_EQ(people.put(), 0);
        ASSERT_EQ(v.flush(), 0);
        ASSERT_EQ(v.resetToFile(), 0);
        ASSERT_EQ(v.next(), 0);
        EXPECT_EQ(people.pointer(), all[40]);
        // It is now last in either order.
        EXPECT_EQ(v.next(), err::RecordNotAvailable);
    }
}

TEST_F(ViewTest, TraceLogsTheDeclarationAndEveryOperation) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("sorv_view_trace_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path profile = dir / "desktop.ini";
    {
        std::ofstream p(profile);
        p << "[BWVIEW]\nProfile=1\nTraceIntoFiles=3\nTraceFile=" << (dir / "my.log").string() << "\n";
    }
    ::setenv("SORVDEMO_DESKTOP_PROFILE", profile.c_str(), 1);
    ViewTraceSettings s = ViewTraceSettings::fromDesktopProfile();
    EXPECT_TRUE(s.profile);
    EXPECT_EQ(s.traceIntoFiles, 3);
    EXPECT_EQ(s.traceFile, (dir / "my.log").string());
    {
        View v(people); // reads the settings itself
        EXPECT_TRUE(v.trace().profile);
        ASSERT_EQ(v.join(0, customers, 0, {CustNumber}, true), 1);
        v.project(0, LastName);
        ASSERT_EQ(v.open(), 0);
        ASSERT_EQ(v.next(), 0);
        v.close();
        EXPECT_EQ(v.next(), err::FileNotOpen);
    }
    std::ifstream in(dir / "my.log");
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    EXPECT_NE(log.find("VIEW(PEOPLE)\n  PROJECT(FIELD(PPL:LastName))\n  "
                       "JOIN(CUST:KeyNumber,FIELD(PPL:CustNumber)),INNER\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(":OPEN                    \nTime Taken: 0.0"), std::string::npos) << log;
    EXPECT_NE(log.find(":NEXT                    \nTime Taken: "), std::string::npos) << log;
    EXPECT_NE(log.find(":CLOSE"), std::string::npos) << log;
    // After the close nothing more is logged.
    EXPECT_EQ(log.find("File Not Open"), std::string::npos) << log;

    // Defaults: no profile file at all.
    ::setenv("SORVDEMO_DESKTOP_PROFILE", (dir / "missing.ini").c_str(), 1);
    s = ViewTraceSettings::fromDesktopProfile();
    EXPECT_FALSE(s.profile);
    EXPECT_EQ(s.traceIntoFiles, 0);
    EXPECT_EQ(s.traceFile, "VIEW.LOG");
    ::unsetenv("SORVDEMO_DESKTOP_PROFILE");
    fs::remove_all(dir);
}

} // namespace
