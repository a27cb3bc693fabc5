// Queues: key and name errors, order choice and reuse, the field types' key order, out-of-memory
// failures, and a randomized run against a plain reference model (positions and their errors,
// placement among equal keys, orders kept in step with changes, the fifteen remembered orders and
// the sorts built are checked there).
#include "runtime/queue.h"
#include "runtime/errors.h"
#include "runtime/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>

using namespace sorv;

namespace {

// The hand-coded list's layout: F1 STRING(20), F2 LONG, F3 BYTE, F4 DECIMAL(9,2), F5 LONG.
Layout listLayout() {
    Layout l;
    l.add("Q:F1", FieldType::String, 20);
    l.add("Q:F2", FieldType::Long);
    l.add("Q:F3", FieldType::Byte);
    l.addDecimal("Q:F4", 9, 2);
    l.add("Q:F5", FieldType::Long);
    return l;
}

void addRow(Queue& q, const std::string& f1, std::int64_t f2, std::int64_t f3 = 0, const char* f4 = "0") {
    q.field(1).set(Value(f1));
    q.field(2).set(Value(f2));
    q.field(3).set(Value(f3));
    q.field(4).set(Value(*Decimal::parse(f4)));
    q.add();
    ASSERT_EQ(errorCode(), 0);
}

// Field n of every entry, in the current order, as text.
std::vector<std::string> column(Queue& q, int n) {
    std::vector<std::string> out;
    for (std::int64_t i = 1; i <= q.records(); ++i)
        out.push_back(std::string(clipRight(q.value(i, n).toText())));
    return out;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(Queue, KeyErrorsLeaveTheQueueAlone) {
    Queue q(listLayout());
    q.getByKey({1});
    EXPECT_EQ(errorCode(), err::EntryNotFound); // empty queue
    for (const char* s : {"b", "a", "c"}) addRow(q, s, 1);
    q.sortByFields({-1});
    std::uint64_t changes = q.changes();
    for (auto bad : {std::vector<int>{6}, {-6}, {2, 7}, {1, -9}}) {
        q.sortByFields(bad);
        EXPECT_EQ(errorCode(), err::InvalidFieldType);
        q.getByKey(bad);
        EXPECT_EQ(errorCode(), err::InvalidFieldType);
        q.addByKey(bad);
        EXPECT_EQ(errorCode(), err::InvalidFieldType);
        q.putByKey(bad);
        EXPECT_EQ(errorCode(), err::InvalidFieldType);
    }
    for (const char* bad : {"F1 Nope", "-", "F1,+", "Q:F9"}) {
        q.sortByNames(bad);
        EXPECT_EQ(errorCode(), err::InvalidFieldType) << bad;
    }
    EXPECT_EQ(q.currentKey(), std::vector<int>{-1});
    EXPECT_EQ(q.changes(), changes);
    EXPECT_EQ(column(q, 1), (Strings{"c", "b", "a"}));

    q.field(1).set(Value("zz"));
    q.getByKey({1});
    EXPECT_EQ(errorCode(), err::EntryNotFound);
    q.getByKey(Queue::Key{}); // no key: no sorted order to search
    EXPECT_EQ(errorCode(), err::EntryNotFound);
    // Fields after a 0 and after the sixteenth are not looked at.
    q.sortByFields({2, 0, 99});
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(q.currentKey(), std::vector<int>{2});
    std::vector<int> many(16, 1);
    many.push_back(99);
    q.sortByFields(many);
    EXPECT_EQ(errorCode(), 0);
    std::string names;
    for (int i = 0; i < 16; ++i) names += "F2 ";
    q.sortByNames(names + "NoSuchField");
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(q.currentKey(), std::vector<int>(16, 2));
    // A long text is read whole: cut at 255 characters, "F23" would have read as field F2.
    q.sortByNames(std::string(253, ' ') + "F23");
    EXPECT_EQ(errorCode(), err::InvalidFieldType);
    q.sortByNames(std::string(300, ',') + "-F5");
    EXPECT_EQ(q.currentKey(), std::vector<int>{-5});
}

TEST(Queue, SortByNames) {
    Queue q(listLayout());
    addRow(q, "b", 2);
    addRow(q, "a", 1);
    addRow(q, "b", 1);
    addRow(q, "a", 2);
    q.sortByNames("  -F1, +f2");
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(q.currentKey(), (std::vector<int>{-1, 2}));
    EXPECT_EQ(column(q, 1), (Strings{"b", "b", "a", "a"}));
    EXPECT_EQ(column(q, 2), (Strings{"1", "2", "1", "2"}));
    q.sortByNames("q:f2 -Q:F1");
    EXPECT_EQ(column(q, 1), (Strings{"b", "a", "b", "a"}));
    EXPECT_EQ(column(q, 2), (Strings{"1", "1", "2", "2"}));
    q.sortByNames("");
    EXPECT_FALSE(q.sorted());
    EXPECT_EQ(column(q, 1), (Strings{"b", "a", "b", "a"}));
    EXPECT_EQ(column(q, 2), (Strings{"2", "1", "1", "2"}));
}

TEST(Queue, RememberedOrdersAreNotSortedAgain) {
    Queue q(listLayout());
    for (int i = 0; i < 50; ++i) addRow(q, std::to_string(i % 7), 50 - i);
    q.sortByFields({1});
    q.sortByFields({1});
    EXPECT_EQ(q.sortsBuilt(), 0u); // pending until something reads the order
    for (int i = 0; i < 20; ++i) addRow(q, "x", i);
    q.get(1);
    EXPECT_EQ(q.sortsBuilt(), 1u);
    q.sortByFields({1});
    q.get(2);
    EXPECT_EQ(q.sortsBuilt(), 1u);
    q.sortByFields({-2});
    q.get(1);
    EXPECT_EQ(q.sortsBuilt(), 2u);
    EXPECT_EQ(q.field(2).get().toLong(), 50);
    q.sortByNames("F1");
    q.get(1);
    q.sortByFields(Queue::Key{});
    q.get(1);
    q.sortByFields({-2});
    q.get(1);
    EXPECT_EQ(q.sortsBuilt(), 2u);
    EXPECT_EQ(q.rememberedOrders(), 2);
    q.free();
    EXPECT_EQ(q.rememberedOrders(), 0);
    EXPECT_EQ(q.records(), 0);
    EXPECT_FALSE(q.sorted());
}

TEST(Queue, TextKeysIgnoreTrailingBlanks) {
    Layout l;
    l.add("S", FieldType::String, 12);
    l.add("C", FieldType::CString, 8);
    l.add("P", FieldType::PString, 8);
    l.add("N", FieldType::Long);
    Queue q(l);
    // Bytes below a blank and zeros order as the language's text comparison does.
    const std::vector<std::string> texts = {"ab",    "ab\x01", "ab!",       "a",    "",  "ab   x",
                                            "ab\0x", "\x7f",   "\xe9t\xe9", "ab  ", "b", "ABCDEFGHIJKL"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (int f = 1; f <= 3; ++f) q.field(f).set(Value(texts[i]));
        q.field(4).set(Value(static_cast<int>(i)));
        q.add();
    }
    for (int f = 1; f <= 3; ++f) {
        for (int sign : {1, -1}) {
            q.sortByFields({sign * f, 4});
            for (std::int64_t i = 2; i <= q.records(); ++i) {
                int c = compare(q.value(i - 1, f), q.value(i, f)) * sign;
                EXPECT_TRUE(c < 0 || (c == 0 && q.value(i - 1, 4).toLong() < q.value(i, 4).toLong()))
                    << "field " << f << " position " << i;
            }
        }
        // "ab" and "ab  " are one key: the first placed is found.
        q.field(f).set(Value("ab      "));
        q.getByKey({f});
        EXPECT_EQ(errorCode(), 0);
        EXPECT_EQ(q.field(4).get().toLong(), 0);
    }
}

TEST(Queue, NumericKeysCompareExactly) {
    Layout l;
    l.addDecimal("D", 9, 2);
    l.addDecimal("P", 31, 10, true);
    l.add("R", FieldType::Real);
    l.add("F", FieldType::SReal);
    l.add("S", FieldType::Short);
    l.add("U", FieldType::ULong);
    l.add("B", FieldType::Byte);
    Queue q(l);
    const std::vector<std::string> nums = {"0.10",       "0.09",        "-0.01", "0",  "-0",
                                           "1234567.89", "-1234567.89", "0.1",   "-5", "5",
                                           "-0.00",      "3",           "200",   "255"};
    for (const std::string& s : nums) {
        Decimal d = *Decimal::parse(s);
        q.field(1).set(Value(d));
        q.field(2).set(Value(d + *Decimal::parse("0.0000000001")));
        q.field(3).set(Value(d.toDouble()));
        q.field(4).set(Value(d.toDouble()));
        q.field(5).set(Value(d * Decimal(100)));
        q.field(6).set(Value(d * Decimal(1000)));
        q.field(7).set(Value(d));
        q.add();
    }
    for (int f = 1; f <= 7; ++f)
        for (int sign : {1, -1}) {
            q.sortByFields({sign * f});
            for (std::int64_t i = 2; i <= q.records(); ++i)
                EXPECT_LE(compare(q.value(i - 1, f), q.value(i, f)) * sign, 0)
                    << "field " << f << " at " << i;
        }
    // A negative zero is zero; 0.10 and 0.1 are one key.
    q.field(1).set(Value(*Decimal::parse("-0")));
    q.getByKey({1});
    EXPECT_EQ(errorCode(), 0);
    q.field(1).set(Value(*Decimal::parse("0.1")));
    q.getByKey({1});
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(q.value(q.pointer() + 1, 1).toText(), "0.1");
    // A NaN has a place of its own and does not upset the order.
    q.field(3).set(Value(std::nan("")));
    q.add();
    q.sortByFields({3});
    EXPECT_TRUE(std::isnan(q.value(1, 3).toReal()));
    for (std::int64_t i = 3; i <= q.records(); ++i)
        EXPECT_LE(q.value(i - 1, 3).toReal(), q.value(i, 3).toReal());
}

TEST(Queue, FieldsByNumberAndName) {
    Queue q(listLayout());
    EXPECT_EQ(q.fieldCount(), 5);
    EXPECT_EQ(q.fieldNumber("f4"), 4);
    EXPECT_EQ(q.fieldNumber("Q:F2"), 2);
    EXPECT_EQ(q.fieldNumber("F9"), 0);
    EXPECT_FALSE(q.field(0).valid());
    EXPECT_FALSE(q.field(6).valid());
    NameRegistry names;
    q.bindNames(names);
    auto ref = names.find("q:f1");
    ASSERT_TRUE(ref.has_value());
    ref->set(Value("bound"));
    q.add();
    EXPECT_EQ(q.value(1, 1).toText().substr(0, 5), "bound");
    q.setValue(1, 4, Value(*Decimal::parse("12.345")));
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(q.value(1, 4).toDecimal().toString(), "12.35");
    EXPECT_EQ(q.entry(1).size(), q.layout().size());
    q.unbindNames(names);
    EXPECT_FALSE(names.find("Q:F1").has_value());
    // Reading outside the entries or the fields.
    EXPECT_TRUE(q.entry(0).empty());
    q.value(2, 1);
    EXPECT_EQ(errorCode(), err::EntryNotFound);
    q.value(1, 6);
    EXPECT_EQ(errorCode(), err::InvalidFieldType);
}

TEST(Queue, LargeEntriesRoundTrip) {
    // Entries larger than a chunk's usual size each get a chunk of their own.
    Layout l;
    l.add("BIG", FieldType::String, 100000);
    l.add("N", FieldType::Long);
    Queue q(l);
    for (int i = 0; i < 5; ++i) {
        q.field(1).set(Value(std::string(99990, static_cast<char>('e' - i)) + std::to_string(i)));
        q.field(2).set(Value(i));
        q.add();
    }
    q.get(3);
    q.remove();
    q.sortByNames("BIG");
    EXPECT_EQ(column(q, 2), (Strings{"4", "3", "1", "0"}));
    q.get(2);
    EXPECT_EQ(q.field(1).get().toText().substr(99990, 1), "3");
}

TEST(Queue, OutOfMemoryLeavesTheQueueUnchanged) {
    // Every allocation an operation makes is failed in turn (1024 entries fill the first chunk); each failure
    // must answer 8 and leave entries, orders and the current entry exactly as they were. Read through the
    // remembered orders only, so that reading sorts nothing.
    auto snapshot = [](Queue& q) {
        std::vector<std::string> s;
        s.push_back(std::to_string(q.rememberedOrders()) + "|" + std::to_string(q.sortsBuilt()));
        for (auto key : {std::vector<int>{}, {1}, {-2}}) {
            q.sortByFields(key);
            for (std::int64_t i = 1; i <= q.records(); ++i) {
                auto e = q.entry(i);
                s.emplace_back(e.begin(), e.end());
            }
        }
        s.push_back(std::to_string(q.pointer()));
        return s;
    };
    using Op = std::function<void(Queue&)>;
    std::vector<std::pair<const char*, Op>> ops = {
        {"add", [](Queue& q) { q.add(); }},
        {"addAt", [](Queue& q) { q.addAt(2); }},
        {"addByKey", [](Queue& q) { q.addByKey({1}); }},
        {"put",
         [](Queue& q) {
             q.field(1).set(Value("moved"));
             q.put();
         }},
        {"setValue", [](Queue& q) { q.setValue(1, 2, Value(-77)); }},
        {"sort",
         [](Queue& q) {
             q.sortByFields({2, 1});
             q.get(1);
         }},
    };
    for (auto& [name, op] : ops) {
        bool succeeded = false;
        int failures = 0;
        for (int n = 0; n < 50 && !succeeded; ++n) {
            Queue q(listLayout());
            for (int i = 0; i < 1024; ++i) addRow(q, "r" + std::to_string(i % 97), i);
            q.sortByFields({1});
            q.get(1);
            q.sortByFields({-2});
            q.get(1);
            q.get(5);
            auto before = snapshot(q);
            auto changes = q.changes();
            Queue::failAllocationForTesting(n);
            op(q);
            int code = errorCode();
            Queue::failAllocationForTesting(-1);
            if (code == err::InsufficientMemory) {
                EXPECT_EQ(q.changes(), changes) << name << " " << n;
                if (std::string(name) != "sort") {
                    EXPECT_EQ(q.currentKey(), std::vector<int>{-2}) << name;
                }
                ++failures;
                EXPECT_EQ(snapshot(q), before) << name << " " << n;
            } else {
                EXPECT_EQ(code, 0) << name;
                succeeded = true;
            }
        }
        EXPECT_TRUE(succeeded) << name;
        EXPECT_GT(failures, 0) << name;
    }
}

namespace {

// The reference: plain vectors of entry ids, searched and shifted in full on every operation, so
// that every remembered order of the queue is checked against one kept in step independently.
class Model {
public:
    explicit Model(const Layout& l) : layout_(l) {}

    std::vector<std::uint8_t> buf;
    int err = 0;

    void sort(std::vector<int> key) {
        if (!valid(key)) return void(err = 75);
        choose(key);
        err = 0;
    }
    void add(std::size_t pos) {
        int id = nextId_++;
        data_[id] = buf;
        unsorted_.insert(unsorted_.begin() + static_cast<std::ptrdiff_t>(pos), id);
        for (auto& o : orders_) o.seq.insert(o.seq.begin() + static_cast<std::ptrdiff_t>(upper(o, buf)), id);
        current_ = id;
        err = 0;
    }
    void add() { add(unsorted_.size()); }
    void addAt(std::int64_t n) {
        pending_.reset();
        sortedCurrent_ = false;
        add(n < 1 || n > static_cast<std::int64_t>(unsorted_.size()) ? unsorted_.size()
                                                                     : static_cast<std::size_t>(n - 1));
    }
    void addByKey(std::vector<int> key) {
        if (!valid(key)) return void(err = 75);
        choose(key);
        add();
    }
    void get(std::int64_t n) {
        auto& s = seq();
        if (n < 1 || n > static_cast<std::int64_t>(s.size())) return void(err = 30);
        current_ = s[static_cast<std::size_t>(n - 1)];
        buf = data_[*current_];
        err = 0;
    }
    void getByKey(std::vector<int> key) {
        if (!valid(key)) return void(err = 75);
        if (key.empty()) return void(err = 30);
        choose(key);
        auto& s = seq();
        for (int id : s)
            if (cmp(key, data_[id], buf) == 0) {
                current_ = id;
                buf = data_[id];
                return void(err = 0);
            }
        err = 30;
    }
    void put() {
        if (!current_) return void(err = 30);
        int id = *current_;
        for (auto& o : orders_)
            if (cmp(o.key, data_[id], buf) != 0) {
                o.seq.erase(std::find(o.seq.begin(), o.seq.end(), id));
                o.seq.insert(o.seq.begin() + static_cast<std::ptrdiff_t>(upper(o, buf)), id);
            }
        data_[id] = buf;
        err = 0;
    }
    void putByKey(std::vector<int> key) {
        if (!valid(key)) return void(err = 75);
        if (!current_) return void(err = 30);
        choose(key);
        put();
    }
    void remove() {
        if (!current_) return void(err = 30);
        auto drop = [&](std::vector<int>& v) { v.erase(std::find(v.begin(), v.end(), *current_)); };
        drop(unsorted_);
        for (auto& o : orders_) drop(o.seq);
        current_.reset();
        err = 0;
    }
    std::int64_t pointer() {
        auto& s = seq();
        if (!current_) return 0;
        return std::find(s.begin(), s.end(), *current_) - s.begin() + 1;
    }
    std::int64_t records() const { return static_cast<std::int64_t>(unsorted_.size()); }
    std::vector<std::uint8_t> entry(std::int64_t n) { return data_[seq()[static_cast<std::size_t>(n - 1)]]; }
    std::uint64_t builds = 0;

private:
    struct Ord {
        std::vector<int> key;
        std::vector<int> seq;
    };
    bool valid(std::vector<int>& key) const {
        int n = static_cast<int>(layout_.count());
        auto end = std::find(key.begin(), key.end(), 0);
        key.erase(end, key.end());
        if (key.size() > 16) key.resize(16);
        return std::all_of(key.begin(), key.end(), [&](int f) { return f >= -n && f <= n; });
    }
    int cmp(const std::vector<int>& key, const std::vector<std::uint8_t>& a,
            const std::vector<std::uint8_t>& b) const {
        for (int f : key) {
            int c = compareField(layout_.field(static_cast<std::size_t>(std::abs(f) - 1)), a, b);
            if (c != 0) return f < 0 ? -c : c;
        }
        return 0;
    }
    std::size_t upper(const Ord& o, const std::vector<std::uint8_t>& e) {
        std::size_t i = 0;
        while (i < o.seq.size() && cmp(o.key, data_[o.seq[i]], e) <= 0) ++i;
        return i;
    }
    std::vector<int> currentKey() const {
        if (pending_) return *pending_;
        return sortedCurrent_ ? orders_.front().key : std::vector<int>{};
    }
    void choose(const std::vector<int>& key) {
        if (key == currentKey()) return;
        pending_.reset();
        if (key.empty()) return void(sortedCurrent_ = false);
        for (std::size_t i = 0; i < orders_.size(); ++i)
            if (orders_[i].key == key) {
                std::rotate(orders_.begin(), orders_.begin() + static_cast<std::ptrdiff_t>(i),
                            orders_.begin() + static_cast<std::ptrdiff_t>(i + 1));
                sortedCurrent_ = true;
                return;
            }
        pending_ = key;
    }
    std::vector<int>& seq() {
        if (pending_) {
            Ord o{*pending_, unsorted_};
            std::stable_sort(o.seq.begin(), o.seq.end(),
                             [&](int a, int b) { return cmp(o.key, data_[a], data_[b]) < 0; });
            if (orders_.size() >= 15) orders_.pop_back();
            orders_.insert(orders_.begin(), std::move(o));
            pending_.reset();
            sortedCurrent_ = true;
            ++builds;
        }
        return sortedCurrent_ ? orders_.front().seq : unsorted_;
    }

    const Layout& layout_;
    std::map<int, std::vector<std::uint8_t>> data_;
    std::vector<int> unsorted_;
    std::vector<Ord> orders_;
    bool sortedCurrent_ = false;
    std::optional<std::vector<int>> pending_;
    std::optional<int> current_;
    int nextId_ = 0;
};

} // namespace

TEST(Queue, RandomOperationsMatchTheReferenceModel) {
    Layout l;
    l.add("S", FieldType::String, 6);
    l.add("L", FieldType::Long);
    l.addDecimal("D", 5, 2);
    l.add("P", FieldType::PString, 5);
    l.add("C", FieldType::CString, 5);
    l.add("R", FieldType::Real);
    Queue q(l);
    Model m(l);
    std::mt19937 rng(2024);
    auto pick = [&](unsigned n) { return static_cast<int>(rng() % n); };
    const std::vector<std::string> texts = {"", "a", "a ", "ab", "b", "a\x01", "B", "ab\0"};
    const std::vector<const char*> decs = {"0", "-0", "1.5", "-1.5", "0.01", "-2", "999.99"};
    std::vector<std::vector<int>> keys;
    for (int i = 0; i < 22; ++i) {
        std::vector<int> k;
        for (int j = 0, n = 1 + pick(3); j < n; ++j) k.push_back((1 + pick(6)) * (pick(2) ? 1 : -1));
        keys.push_back(k);
    }
    keys.push_back({});
    keys.push_back({7});
    auto fill = [&] {
        q.field(1).set(Value(texts[static_cast<std::size_t>(pick(8))]));
        q.field(2).set(Value(pick(5) - 2));
        q.field(3).set(Value(*Decimal::parse(decs[static_cast<std::size_t>(pick(7))])));
        q.field(4).set(Value(texts[static_cast<std::size_t>(pick(8))]));
        q.field(5).set(Value(texts[static_cast<std::size_t>(pick(8))]));
        q.field(6).set(Value(pick(4) * 0.5 - 1));
    };
    auto check = [&](int step) {
        ASSERT_EQ(errorCode(), m.err) << "step " << step;
        ASSERT_EQ(std::vector<std::uint8_t>(q.buffer().begin(), q.buffer().end()), m.buf) << "step " << step;
        ASSERT_EQ(q.records(), m.records()) << "step " << step;
    };
    m.buf.assign(q.buffer().begin(), q.buffer().end());
    for (int step = 0; step < 12000; ++step) {
        // Grow to a few thousand entries (so blocks split and merge), then shrink again.
        bool growing = (step / 3000) % 2 == 0;
        int op = pick(100);
        const auto& key = keys[static_cast<std::size_t>(pick(static_cast<unsigned>(keys.size())))];
        std::int64_t n = q.records();
        std::int64_t pos = static_cast<std::int64_t>(pick(static_cast<unsigned>(n + 2)));
        if (op < (growing ? 40 : 12)) {
            fill();
            m.buf.assign(q.buffer().begin(), q.buffer().end());
            if (op % 3 == 0) {
                q.add();
                m.add();
            } else if (op % 3 == 1) {
                q.addAt(pos);
                m.addAt(pos);
            } else {
                q.addByKey(key);
                m.addByKey(key);
            }
        } else if (op < 55) {
            q.get(pos);
            m.get(pos);
        } else if (op < 62) {
            fill();
            m.buf.assign(q.buffer().begin(), q.buffer().end());
            q.getByKey(key);
            m.getByKey(key);
        } else if (op < 70) {
            fill();
            m.buf.assign(q.buffer().begin(), q.buffer().end());
            if (op % 2) {
                q.put();
                m.put();
            } else {
                q.putByKey(key);
                m.putByKey(key);
            }
        } else if (op < (growing ? 80 : 95)) {
            q.get(pos);
            m.get(pos);
            q.remove();
            m.remove();
        } else if (op < 98) {
            q.sortByFields(key);
            m.sort(key);
        } else {
            ASSERT_EQ(q.pointer(), m.pointer()) << "step " << step;
            m.err = 0;
        }
        check(step);
        if (step % 1500 == 0 || step == 11999) {
            for (std::int64_t i = 1; i <= q.records(); ++i) {
                auto e = q.entry(i);
                ASSERT_EQ(std::vector<std::uint8_t>(e.begin(), e.end()), m.entry(i))
                    << "step " << step << " entry " << i;
            }
            ASSERT_EQ(q.pointer(), m.pointer());
        }
    }
    EXPECT_EQ(q.sortsBuilt(), m.builds);
    EXPECT_GT(q.sortsBuilt(), 15u);
}
