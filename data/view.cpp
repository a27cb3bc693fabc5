// The view engine: planning (key or sorted set), the sorted result set with its order-preserving
// value encoding, positions, joins, the view's operations and its trace.
#include "data/view.h"

#include "data/fileops.h"
#include "data/trace.h"
#include "runtime/errors.h"
#include "runtime/profile.h"
#include "runtime/registry.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cfloat>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

namespace sorv {

namespace {

// Operation numbers of the record-file interface used by views, and their trace names.
enum ViewOp : int {
    OpClose = 7,
    OpDelete = 11,
    OpGetFilePtr = 16,
    OpHoldFile = 18,
    OpHoldFileSec = 19,
    OpNext = 24,
    OpOpen = 25,
    OpFlush = 29,
    OpPut = 30,
    OpPrevious = 31,
    OpRecordsFile = 32,
    OpRelease = 36,
    OpSkip = 49,
    OpWatch = 58,
    OpPositionFile = 61,
    OpResetFile = 63,
    OpRegetFile = 66,
    OpSetProperty = 71,
    OpGetProperty = 72,
    OpQueryView = 74,
    OpSetView = 81,
    OpResetViewFile = 83,
    OpInView = 92,
    OpEndView = 93,
};

std::atomic<std::uint64_t> nextViewId{1};

// Longest order-value part kept in a position text, so that positions fit a browse's 512-byte
// position buffer in hex. Longer values are cut and then compare as prefixes.
constexpr std::size_t MaxPositionKey = 240;

// ---- Order-preserving encoding of values --------------------------------------------------
// Each value is encoded so that comparing the bytes (memcmp, shorter first on a common prefix)
// orders values as the language compares them; every encoding is self-delimiting, so a tuple is
// the concatenation of its items and a descending item is its encoding with every byte inverted.
// Numbers come before texts.

void encodeNumber(const Value& v, std::string& out) {
    Decimal d = v.toDecimal().normalized();
    if (d.isZero()) {
        out += '\x31';
        return;
    }
    bool negative = d.isNegative();
    unsigned __int128 m = negative ? static_cast<unsigned __int128>(-d.mantissa())
                                   : static_cast<unsigned __int128>(d.mantissa());
    char digits[48];
    int n = 0;
    for (; m != 0; m /= 10) digits[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
    std::reverse(digits, digits + n);
    int exponent = n - d.scale() + 32768; // the place of the leading digit
    std::size_t start = out.size();
    out += negative ? '\x30' : '\x32';
    out += static_cast<char>((exponent >> 8) & 0xFF);
    out += static_cast<char>(exponent & 0xFF);
    out.append(digits, static_cast<std::size_t>(n));
    out += '\0';
    // A larger magnitude is a smaller negative number: invert everything after the sign.
    if (negative)
        for (std::size_t i = start + 1; i < out.size(); ++i) out[i] = static_cast<char>(~out[i]);
}

void encodeText(std::string_view t, std::string& out) {
    t = clipRight(t);
    out += '\x40';
    // A zero byte inside the text is followed by 0xFF, so that the text's end (two zeros) sorts
    // before any continuation.
    for (std::size_t zero; (zero = t.find('\0')) != std::string_view::npos; t.remove_prefix(zero + 1)) {
        out.append(t.data(), zero + 1);
        out += '\xFF';
    }
    out.append(t.data(), t.size());
    out += '\0';
    out += '\0';
}

void encodeValue(const Value& v, bool descending, std::string& out) {
    std::size_t start = out.size();
    if (v.isText())
        encodeText(v.text(), out);
    else
        encodeNumber(v, out);
    if (descending)
        for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<char>(~out[i]);
}

int compareBytes(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// ---- Position texts ---------------------------------------------------------------------
// "K" key index (hex) ":" pointer ":" driver position, or "S" order hash ":" pointer ":" values, or
// "R" order hash ":" pointer ":" driver position's length, driver position and values;
// the variable parts in hex so that the text is printable and ends in no blank.

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> unhex(std::string_view text) {
    if (text.size() % 2) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int h = nibble(text[i]), l = nibble(text[i + 1]);
        if (h < 0 || l < 0) return std::nullopt;
        out += static_cast<char>(h * 16 + l);
    }
    return out;
}

struct Position {
    char kind = 0;             // 'K' (live), 'S' (sorted) or 'R' (key-led)
    std::uint64_t plan = 0;    // key index + 1 (K) or order hash (S, R)
    std::uint64_t pointer = 0; // the record
    std::string data;          // driver position (K) or order values (S)
    bool truncated = false;    // S: the values were cut
};

std::string encodePosition(const Position& p) {
    char head[64];
    std::snprintf(head, sizeof head, "%c%" PRIX64 ":%" PRIX64 ":%s", p.kind, p.plan, p.pointer,
                  p.truncated ? "T" : "");
    return head + hex(p.data);
}

std::optional<Position> decodePosition(std::string_view text) {
    text = clipRight(text);
    Position p;
    if (text.empty() || (text[0] != 'K' && text[0] != 'S' && text[0] != 'Q' && text[0] != 'R'))
        return std::nullopt;
    p.kind = text[0];
    auto number = [&](std::uint64_t& out) {
        std::size_t colon = text.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon > 16) return false;
        out = 0;
        for (char c : text.substr(0, colon)) {
            int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (v < 0) return false;
            out = out * 16 + static_cast<std::uint64_t>(v);
        }
        text.remove_prefix(colon + 1);
        return true;
    };
    text.remove_prefix(1);
    if (!number(p.plan) || !number(p.pointer)) return std::nullopt;
    if (!text.empty() && text[0] == 'T') {
        p.truncated = true;
        text.remove_prefix(1);
    }
    auto data = unhex(text);
    if (!data) return std::nullopt;
    p.data = std::move(*data);
    return p;
}

std::uint64_t hashText(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h & 0xFFFFFFFFull;
}

bool blankValue(const Value& v) {
    return v.isText() ? clipRight(v.text()).empty() : v.toReal() == 0;
}

// Record buffers put back as they were when it goes out of scope.
class KeptBuffers {
public:
    void keep(Record& r) {
        auto b = r.buffer();
        saved_.emplace_back(&r, std::vector<std::uint8_t>(b.begin(), b.end()));
    }
    ~KeptBuffers() {
        for (auto& [r, bytes] : saved_) std::copy(bytes.begin(), bytes.end(), r->buffer().begin());
    }

private:
    std::vector<std::pair<Record*, std::vector<std::uint8_t>>> saved_;
};

// Puts a key walk back on a slice's edge record, so that the next step reads the record after it;
// when that record is gone, before the one that took its place.
bool backToEdge(ViewTable& t, int key, const std::string& edge, bool keyForward) {
    if (t.reset(key, edge) != 0) return false;
    int rc = keyForward ? t.next() : t.previous();
    if (rc == 0 && t.position(key) != edge) {
        rc = keyForward ? t.previous() : t.next();
        if (rc == err::RecordNotAvailable) rc = t.reset(key, edge);
    }
    return rc == 0 || rc == err::RecordNotAvailable;
}

// The lowest or highest value a field can hold, as keys order them.
void writeExtreme(const FieldDesc& f, std::span<std::uint8_t> buffer, bool high) {
    if (isTextType(f.type)) {
        std::uint32_t end =
            std::min<std::uint32_t>(f.offset + f.totalSize(), static_cast<std::uint32_t>(buffer.size()));
        for (std::uint32_t i = f.offset; i < end; ++i)
            buffer[i] = high ? 0xFF : (f.type == FieldType::String ? ' ' : 0);
        if (high && f.type == FieldType::CString && end > f.offset) buffer[end - 1] = 0;
        if (f.type == FieldType::PString && end > f.offset)
            buffer[f.offset] = high ? static_cast<std::uint8_t>(std::min<std::uint32_t>(f.size - 1, 255)) : 0;
        return;
    }
    Value v;
    switch (f.type) {
    case FieldType::Byte:
        v = high ? 255 : 0;
        break;
    case FieldType::Short:
        v = high ? 32767 : -32768;
        break;
    case FieldType::UShort:
        v = high ? 65535 : 0;
        break;
    case FieldType::ULong:
        v = high ? std::int64_t{4294967295} : std::int64_t{0};
        break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
        v = high ? std::int64_t{2147483647} : std::int64_t{-2147483647 - 1};
        break;
    case FieldType::SReal:
        v = high ? static_cast<double>(FLT_MAX) : -static_cast<double>(FLT_MAX);
        break;
    case FieldType::Real:
        v = high ? DBL_MAX : -DBL_MAX;
        break;
    case FieldType::Decimal:
    case FieldType::PDecimal: {
        __int128 m = 0;
        for (int i = 0; i < f.digits; ++i) m = m * 10 + 9;
        v = Decimal::fromParts(high ? m : -m, f.places);
        break;
    }
    default:
        return;
    }
    writeField(f, buffer, v);
}

} // namespace

// ---- Pieces of the view -----------------------------------------------------------------

struct View::Join {
    int outer = -1;
    ViewTable* table = nullptr;
    int key = -1;                           // the inner key, or -1 for explicit pairs
    std::vector<int> outerFields;           // key joins: outer fields of the key components
    std::vector<std::pair<int, int>> pairs; // pair joins: (outer field, inner field)
    bool inner = false;
    std::vector<std::pair<int, bool>> project; // (field, memo)
    bool present = true;                       // the last resolution found a partner
};

struct View::OrderItem {
    Expression expr;
    bool descending = false;
};

// One record of the sorted set. The first 16 bytes of its order values are also kept in the
// entry, as two numbers that compare as the bytes do (zero-padded): sorting a large set then
// compares entries without touching the arena but for ties in those bytes, which keeps the sort
// in the cache instead of jumping through the arena at every comparison.
struct View::Entry {
    std::uint64_t head[2];
    std::uint64_t pointer;
    std::uint32_t offset; // of its order values in arena_
    std::uint32_t length;

    static Entry of(std::uint64_t pointer, std::string_view arena, std::uint32_t offset,
                    std::uint32_t length) {
        Entry e{{0, 0}, pointer, offset, length};
        for (std::uint32_t i = 0; i < 16 && i < length; ++i)
            e.head[i / 8] |= std::uint64_t(static_cast<unsigned char>(arena[offset + i]))
                             << (56 - 8 * (i % 8));
        return e;
    }
};

ViewTraceSettings ViewTraceSettings::fromDesktopProfile() {
    ViewTraceSettings s;
    s.profile = getProfileInt("BWVIEW", "Profile", 0) != 0;
    s.traceIntoFiles = getProfileInt("BWVIEW", "TraceIntoFiles", 0);
    s.traceFile = getProfileString("BWVIEW", "TraceFile", "VIEW.LOG");
    if (s.traceFile.size() > 260) s.traceFile.resize(260);
    if (s.traceFile.empty()) s.traceFile = "VIEW.LOG";
    return s;
}

View::View(ViewTable& primary) : View(primary, ViewTraceSettings::fromDesktopProfile()) {}

View::View(ViewTable& primary, ViewTraceSettings trace)
    : primary_(primary), id_(nextViewId.fetch_add(1)), trace_(std::move(trace)) {
    Join j;
    j.table = &primary;
    joins_.push_back(std::move(j));
}

View::~View() {
    if (open_) close();
}

int View::join(int outer, ViewTable& inner, int key, std::vector<int> outerFields, bool innerJoin) {
    bool ok = outer >= 0 && outer < static_cast<int>(joins_.size()) && key >= 0 &&
              key < static_cast<int>(inner.keys().size()) && !outerFields.empty() &&
              outerFields.size() <= inner.keys()[static_cast<std::size_t>(key)].components.size();
    const Layout& outerLayout =
        ok ? joins_[static_cast<std::size_t>(outer)].table->record().layout() : Layout();
    for (int f : outerFields) ok = ok && f >= 0 && f < static_cast<int>(outerLayout.count());
    if (!ok || open_) {
        setError(err::InvalidRecordDeclaration);
        return -1;
    }
    Join j;
    j.outer = outer;
    j.table = &inner;
    j.key = key;
    j.outerFields = std::move(outerFields);
    j.inner = innerJoin;
    joins_.push_back(std::move(j));
    changed_ = true;
    return static_cast<int>(joins_.size() - 1);
}

int View::join(int outer, ViewTable& inner, std::vector<std::pair<int, int>> pairs, bool innerJoin) {
    bool ok = outer >= 0 && outer < static_cast<int>(joins_.size()) && !pairs.empty();
    if (ok) {
        const Layout& a = joins_[static_cast<std::size_t>(outer)].table->record().layout();
        const Layout& b = inner.record().layout();
        for (auto [o, i] : pairs)
            ok = ok && o >= 0 && o < static_cast<int>(a.count()) && i >= 0 && i < static_cast<int>(b.count());
    }
    if (!ok || open_) {
        setError(err::InvalidRecordDeclaration);
        return -1;
    }
    Join j;
    j.outer = outer;
    j.table = &inner;
    j.pairs = std::move(pairs);
    j.inner = innerJoin;
    joins_.push_back(std::move(j));
    changed_ = true;
    return static_cast<int>(joins_.size() - 1);
}

void View::project(int joinNumber, int field, bool memo) {
    if (joinNumber < 0 || joinNumber >= static_cast<int>(joins_.size())) return;
    joins_[static_cast<std::size_t>(joinNumber)].project.emplace_back(field, memo);
}

// Names in orders and filters are the fields of the view's own files first, so that an
// expression reads exactly the buffers the view fills; anything else is looked up as usual.
NameResolver View::resolver() {
    return [this](std::string_view name) -> std::optional<FieldRef> {
        for (Join& j : joins_) {
            Record& r = j.table->record();
            int i = r.layout().find(name);
            if (i >= 0 && name.find(':') != std::string_view::npos) {
                // A prefixed name must match the label exactly (case aside), not just its bare part.
                const std::string& label = r.layout().field(static_cast<std::size_t>(i)).name;
                if (label.size() == name.size()) return r.ref(i);
                continue;
            }
            if (i >= 0) return r.ref(i);
        }
        return lookupName(name);
    };
}

bool View::setOrder(std::string_view text) {
    std::vector<OrderItem> items;
    NameResolver resolve = resolver();
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        OrderItem item;
        if (text[i] == '-' || text[i] == '+') item.descending = text[i++] == '-';
        // The item runs to the next comma outside parentheses and quotes.
        std::size_t start = i;
        int depth = 0;
        bool quoted = false;
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c == '\'') quoted = !quoted;
            if (quoted) continue;
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (c == ',' && depth <= 0) break;
        }
        std::string_view body = text.substr(start, i - start);
        if (!item.expr.compile(body, resolve)) return false;
        if (item.expr.empty()) {
            // An empty item ("A,,B") is a mistake, not "no order".
            setError(err::BadExpression);
            return false;
        }
        items.push_back(std::move(item));
        if (i < text.size()) ++i; // the comma
    }
    items_ = std::move(items);
    orderText_ = std::string(text);
    changed_ = true;
    clearError();
    return true;
}

bool View::setFilter(std::string_view text) {
    Expression e;
    if (!e.compile(text, resolver())) return false;
    filter_ = std::move(e);
    filterText_ = std::string(text);
    changed_ = true;
    clearError();
    return true;
}

int View::setProperty(int code, std::string_view value) {
    auto start = std::chrono::steady_clock::now();
    int rc = 0;
    if (code == PropOrder)
        rc = setOrder(value) ? 0 : errorCode();
    else if (code == PropFilter)
        rc = setFilter(value) ? 0 : errorCode();
    else
        rc = err::UnsupportedFunction;
    return finish(OpSetProperty, rc, start);
}

std::string View::getProperty(int code) const {
    if (code == PropOrder) return orderText_;
    if (code == PropFilter) return filterText_;
    return {};
}

// ---- Planning -----------------------------------------------------------------------------

namespace {

std::string upperText(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

// The key that serves the whole order wins (the first one, as keys are declared); else the key
// that serves the most leading items makes a key-led order; else the order is sorted.
void View::choosePlan() {
    chooseLocalPlan();
    // A filter, or an order no key serves whole, is offered to a file that runs queries itself.
    if (filter_.empty() && (plan_ == Plan::Records || plan_ == Plan::Key)) return;
    std::vector<ViewTable::QueryItem> order;
    for (const OrderItem& i : items_) order.push_back({&i.expr, i.descending});
    const Expression* filter = filter_.empty() ? nullptr : &filter_;
    if (plan_ == Plan::Key || plan_ == Plan::KeyRuns) {
        // The query must give what the key walk gives: ties in the key's own order (the rest of
        // its components; the record after that, which a backward walk reverses, so that one
        // stays with the walk), and no record an OPT key leaves out.
        const ViewKey& key = primary_.keys()[static_cast<std::size_t>(key_)];
        const Layout& layout = primary_.record().layout();
        auto nameOf = [&](const ViewKey::Component& c) {
            const FieldDesc& f = layout.field(static_cast<std::size_t>(c.field));
            return key.noCase && isTextType(f.type) ? "UPPER(" + f.name + ")" : f.name;
        };
        if (plan_ == Plan::Key) {
            if (backward_) return;
            queryTail_.clear();
            queryTail_.reserve(key.components.size());
            for (std::size_t i = items_.size(); i < key.components.size(); ++i) {
                queryTail_.emplace_back();
                if (!queryTail_.back().compile(nameOf(key.components[i]), resolver())) return;
                order.push_back({&queryTail_.back(), key.components[i].descending});
            }
        }
        if (key.optional) {
            std::string any;
            for (const ViewKey::Component& c : key.components) {
                bool text = isTextType(layout.field(static_cast<std::size_t>(c.field)).type);
                any += (any.empty() ? "" : " OR ") + layout.field(static_cast<std::size_t>(c.field)).name +
                       (text ? " <> ''" : " <> 0");
            }
            std::string text = filter_.empty() ? any : "(" + filterText_ + ") AND (" + any + ")";
            if (!queryFilter_.compile(text, resolver())) return;
            filter = &queryFilter_;
        }
    }
    if (!primary_.takeQuery(order, filter)) return;
    plan_ = Plan::Query;
    sorted_ = false;
    key_ = ViewTable::QueryOrder;
    served_ = 0;
    backward_ = false;
    fixed_.clear();
    low_.reset();
    high_.reset();
}

void View::chooseLocalPlan() {
    plan_ = Plan::Records;
    extrasBuilt_ = false;
    edge_ = 0;
    dropSpare();
    sorted_ = false;
    key_ = -1;
    served_ = 0;
    backward_ = false;
    innerKey_ = -1;
    innerServed_ = 0;
    innerStart_ = InnerSide();
    innerEnd_ = InnerSide();
    fixed_.clear();
    low_.reset();
    high_.reset();
    if (items_.empty()) {
        // Record order; where the filter fixes a key's range, that range walked in the key gives
        // the same records in the same order.
        if (fixedKeyRange()) plan_ = Plan::Key;
        return;
    }
    const std::vector<ViewKey>& keys = primary_.keys();
    int best = -1;
    std::size_t bestServed = 0;
    bool bestBackward = false;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        bool reversed = false;
        std::size_t n = servedItems(primary_, keys[k], reversed);
        if (n == items_.size()) {
            best = static_cast<int>(k);
            bestServed = n;
            bestBackward = reversed;
            break;
        }
        if (n > bestServed) {
            best = static_cast<int>(k);
            bestServed = n;
            bestBackward = reversed;
        }
    }
    if (best < 0) {
        // No key serves the first item: one key-led run of a range the filter fixes (sorted in
        // memory), else a walk led by a joined file's key, else a sorted order.
        if (fixedKeyRange()) {
            plan_ = Plan::KeyRuns;
        } else if (chooseJoinLed()) {
            plan_ = Plan::JoinRuns;
        } else {
            plan_ = Plan::Sorted;
        }
        sorted_ = true;
        return;
    }
    key_ = best;
    served_ = bestServed;
    backward_ = bestBackward;
    plan_ = served_ == items_.size() ? Plan::Key : Plan::KeyRuns;
    sorted_ = plan_ == Plan::KeyRuns;
    chooseRange();
    if (plan_ == Plan::KeyRuns) chooseInnerKey();
}

// The leading order items a key of a file serves, and whether it serves them backwards.
std::size_t View::servedItems(ViewTable& table, const ViewKey& key, bool& reversed) const {
    return servedFrom(table, key, 0, reversed);
}

// The order items from `from` on that a key serves with its leading components.
std::size_t View::servedFrom(ViewTable& table, const ViewKey& key, std::size_t from, bool& reversed) const {
    Record& rec = table.record();
    std::size_t n = 0;
    std::optional<bool> way;
    for (; from + n < items_.size() && n < key.components.size(); ++n) {
        const OrderItem& item = items_[from + n];
        const ViewKey::Component& c = key.components[n];
        if (c.field < 0 || c.field >= static_cast<int>(rec.layout().count())) break;
        FieldRef want = rec.ref(c.field);
        bool text = isTextType(want.type());
        // A case-sensitive key serves the field itself; a NOCASE key serves UPPER(field) for
        // text fields (numbers have no case, so the field itself).
        std::optional<FieldRef> got = (key.noCase && text) ? item.expr.asUpperField() : item.expr.asField();
        if (!got || !(*got == want)) break;
        bool rev = item.descending != c.descending;
        if (way && *way != rev) break;
        way = rev;
    }
    reversed = way.value_or(false);
    return n;
}

// A key-led order's inner key: the key (not OPT, so that it holds every record) serving the most
// of the items after those the walked key serves.
void View::chooseInnerKey() {
    const std::vector<ViewKey>& keys = primary_.keys();
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (static_cast<int>(k) == key_ || keys[k].optional) continue;
        bool reversed = false;
        std::size_t n = servedFrom(primary_, keys[k], served_, reversed);
        if (n > innerServed_) {
            innerKey_ = static_cast<int>(k);
            innerServed_ = n;
            innerBackward_ = reversed;
        }
    }
}

// Where the filter fixes every component of a key (a child list limited to its parent's
// records), the walk of that range holds every record of the view, all with the same key values,
// in record order: the key and its range are chosen and the answer is true. A blank value of an
// OPT key is no range (those records are not in the key).
bool View::fixedKeyRange() {
    const std::vector<ViewKey>& keys = primary_.keys();
    for (std::size_t k = 0; k < keys.size(); ++k) {
        key_ = static_cast<int>(k);
        fixed_.clear();
        low_.reset();
        high_.reset();
        chooseRange();
        const bool blank = std::all_of(fixed_.begin(), fixed_.end(), [](const Value& v) {
            return v.isText() ? clipRight(v.text()).empty() : v.toReal() == 0;
        });
        if (!keys[k].components.empty() && fixed_.size() == keys[k].components.size() &&
            !(keys[k].optional && blank))
            return true;
    }
    key_ = -1;
    fixed_.clear();
    low_.reset();
    high_.reset();
    return false;
}

// The filter's comparisons of key components with constants that every record of the view must
// satisfy. A comparison is used only where the records it admits lie together in the key: the
// constant of the field's kind, surviving being stored in the field, and on a NOCASE key either
// an equality or a comparison of UPPER(field) with an upper-case constant. The filter itself is
// still tested on every record; the range only spares the walk the rest of the key.
void View::chooseRange() {
    const ViewKey& key = primary_.keys()[static_cast<std::size_t>(key_)];
    Record scratch = primary_.record();
    std::vector<Expression::Bound> bounds = filter_.requiredBounds();
    constexpr std::uint8_t Less = 1, Equal = 2, Greater = 4;
    auto usable = [&](const Expression::Bound& b, int field) -> bool {
        FieldRef f = scratch.ref(field);
        if (!(b.field == primary_.record().ref(field))) return false;
        bool text = isTextType(f.type());
        if (text != b.constant.isText()) return false;
        if (text && key.noCase
                ? (b.upper ? upperText(b.constant.text()) != b.constant.text() : b.outcomes != Equal)
                : b.upper)
            return false;
        f.set(b.constant);
        return compare(f.get(), b.constant) == 0;
    };
    for (const ViewKey::Component& c : key.components) {
        std::optional<Value> equal, low, high;
        for (const Expression::Bound& b : bounds) {
            if (!usable(b, c.field)) continue;
            if (b.outcomes == Equal) {
                if (!equal) equal = b.constant;
            } else if ((b.outcomes & Greater) && !(b.outcomes & Less)) {
                if (!low || compare(b.constant, *low) > 0) low = b.constant;
            } else if ((b.outcomes & Less) && !(b.outcomes & Greater)) {
                if (!high || compare(b.constant, *high) < 0) high = b.constant;
            }
        }
        if (!equal) {
            low_ = low;
            high_ = high;
            return;
        }
        fixed_.push_back(*equal);
    }
}

int View::readingKey() {
    if (changed_) {
        choosePlan();
        changed_ = false;
        dirty_ = true;
        built_ = false;
    }
    return plan_ == Plan::Sorted ? -2 : plan_ == Plan::JoinRuns ? JoinLed : key_;
}

bool View::readsBackwards() {
    readingKey();
    return backward_;
}

bool View::readsSlices() {
    readingKey();
    return sorted_;
}

int View::prepare() {
    if (!open_) return err::FileNotOpen;
    readingKey();
    if ((built_ || spareEdge_ != 0) &&
        (dirty_ || primary_.changeStamp() != stamp_ ||
         (plan_ == Plan::JoinRuns && parent().changeStamp() != parentStamp_))) {
        built_ = false;
        entries_.clear();
        arena_.clear();
        innerStart_ = InnerSide();
        innerEnd_ = InnerSide();
        dropSpare();
    }
    dirty_ = false;
    return 0;
}

bool View::resolveJoin(const Join& j) {
    Join& outer = joins_[static_cast<std::size_t>(j.outer)];
    Record& in = j.table->record();
    Record& out = outer.table->record();
    int rc = 0;
    if (j.key >= 0) {
        const ViewKey& key = j.table->keys()[static_cast<std::size_t>(j.key)];
        for (std::size_t i = 0; i < j.outerFields.size(); ++i)
            in.ref(key.components[i].field).set(out.ref(j.outerFields[i]).get());
        rc = j.table->getByKey(j.key, static_cast<int>(j.outerFields.size()));
    } else {
        std::vector<Value> wanted;
        for (auto [o, i] : j.pairs) wanted.push_back(out.ref(o).get());
        rc = j.table->setStart(-1);
        while (rc == 0) {
            rc = j.table->next();
            if (rc) break;
            bool all = true;
            for (std::size_t p = 0; p < j.pairs.size() && all; ++p)
                all = compare(in.ref(j.pairs[p].second).get(), wanted[p]) == 0;
            if (all) break;
        }
    }
    if (rc != 0) in.clear();
    return rc == 0;
}

bool View::resolveJoins(int given) {
    bool keep = true;
    for (std::size_t k = 1; k < joins_.size(); ++k) {
        Join& j = joins_[k];
        if (static_cast<int>(k) == given) {
            j.present = true;
            continue;
        }
        if (!joins_[static_cast<std::size_t>(j.outer)].present) {
            j.table->record().clear();
            j.present = false;
            continue;
        }
        j.present = resolveJoin(j);
        if (!j.present && j.inner) keep = false;
    }
    return keep;
}

std::string View::sortKey() const {
    std::string key;
    appendSortKey(key);
    return key;
}

void View::appendSortKey(std::string& out) const {
    for (const OrderItem& item : items_) encodeValue(item.expr.evaluate(), item.descending, out);
}

// ---- Key walks --------------------------------------------------------------------------------

// Whether the record just read lies beyond the filter's range in the direction of the walk.
bool View::pastRange(bool keyForward) {
    if (fixed_.empty() && !low_ && !high_) return false;
    const ViewKey& key = primary_.keys()[static_cast<std::size_t>(key_)];
    Record& rec = primary_.record();
    auto versus = [&](std::size_t i, const Value& limit) {
        const ViewKey::Component& c = key.components[i];
        Value x = rec.ref(c.field).get(), y = limit;
        if (key.noCase && x.isText()) {
            x = Value(upperText(x.text()));
            y = Value(upperText(y.toText()));
        }
        int r = compare(x, y);
        return c.descending ? -r : r;
    };
    for (std::size_t i = 0; i < fixed_.size(); ++i) {
        int r = versus(i, fixed_[i]);
        if (r != 0) return keyForward ? r > 0 : r < 0;
    }
    std::size_t i = fixed_.size();
    if (i >= key.components.size()) return false;
    bool descending = key.components[i].descending;
    const std::optional<Value>& end = keyForward == descending ? low_ : high_;
    if (!end) return false;
    int r = versus(i, *end);
    return keyForward ? r > 0 : r < 0;
}

int View::stepKey(bool keyForward) {
    int rc = keyForward ? primary_.next() : primary_.previous();
    if (rc == 0 && pastRange(keyForward)) rc = err::RecordNotAvailable;
    return rc;
}

// Starts the key at the first (keyForward) or last entry at or within the given leading values
// of the image, the filter's range and, for the rest, the extreme that reads first.
int View::seekKey(std::span<const std::uint8_t> image, std::size_t given, bool keyForward) {
    return seekIn(key_, image, given, keyForward);
}

// The same in any key of the primary file; the filter's range is the walked key's only.
int View::seekIn(int keyIndex, std::span<const std::uint8_t> image, std::size_t given, bool keyForward) {
    const ViewKey& key = primary_.keys()[static_cast<std::size_t>(keyIndex)];
    const bool ranged = keyIndex == key_;
    Record& rec = primary_.record();
    auto buffer = rec.buffer();
    std::vector<std::uint8_t> saved(buffer.begin(), buffer.end());
    std::copy(image.begin(), image.end(), buffer.begin());
    for (std::size_t i = given; i < key.components.size(); ++i) {
        const ViewKey::Component& c = key.components[i];
        if (!ranged) {
            writeExtreme(rec.layout().field(static_cast<std::size_t>(c.field)), buffer,
                         c.descending == keyForward);
            continue;
        }
        if (i < fixed_.size()) {
            rec.ref(c.field).set(fixed_[i]);
            continue;
        }
        const std::optional<Value>& start = keyForward == c.descending ? high_ : low_;
        if (i == fixed_.size() && start) {
            rec.ref(c.field).set(*start);
            continue;
        }
        writeExtreme(rec.layout().field(static_cast<std::size_t>(c.field)), buffer,
                     c.descending == keyForward);
    }
    int rc = primary_.setFromBuffer(keyIndex);
    std::copy(saved.begin(), saved.end(), buffer.begin());
    return rc;
}

// Counts the records a live order yields, walking its key (or the file) within the range.
std::int64_t View::countByWalking() {
    std::int64_t n = 0;
    int rc = key_ >= 0 ? seekKey(primary_.record().buffer(), 0, true) : primary_.setStart(-1);
    while (rc == 0 && (rc = stepKey(true)) == 0)
        if (resolveJoins() && filter_.isTrue()) ++n;
    if (rc != err::RecordNotAvailable) {
        setError(rc);
        return -1;
    }
    return n;
}

// ---- Slices of the ordered result --------------------------------------------------------------

namespace {

struct Candidate {
    std::string values;
    std::uint64_t pointer;
};

bool candidateBefore(const Candidate& a, const Candidate& b) {
    int c = compareBytes(a.values, b.values);
    return c != 0 ? c < 0 : a.pointer < b.pointer;
}

// Keeps `c` among the `limit` rows that come first by `less`, in a heap whose top is the row that
// leaves first (the last of them); `c`'s values may be swapped out.
template <class Less>
void keepFirst(std::vector<Candidate>& heap, Candidate& c, std::size_t limit, Less less) {
    if (heap.size() < limit) {
        heap.push_back(c);
        std::push_heap(heap.begin(), heap.end(), less);
    } else if (less(c, heap.front())) {
        std::pop_heap(heap.begin(), heap.end(), less);
        heap.back().values.swap(c.values);
        heap.back().pointer = c.pointer;
        std::push_heap(heap.begin(), heap.end(), less);
    }
}

// Appends sorted rows to a slice: their values to the arena, an entry each.
template <class Entries>
void appendRows(const std::vector<Candidate>& rows, std::string& arena, Entries& entries) {
    for (const Candidate& h : rows) {
        auto offset = static_cast<std::uint32_t>(arena.size());
        arena += h.values;
        entries.push_back(
            Entries::value_type::of(h.pointer, arena, offset, static_cast<std::uint32_t>(h.values.size())));
    }
}

} // namespace

// The other window of a sorted order (first or last rows), kept while the file does not change.
void View::swapSpare() {
    std::swap(entries_, spareEntries_);
    std::swap(arena_, spareArena_);
    std::swap(edge_, spareEdge_);
    std::swap(coversStart_, spareCoversStart_);
    std::swap(coversEnd_, spareCoversEnd_);
    built_ = edge_ != 0;
}

void View::dropSpare() {
    spareEdge_ = 0;
    spareEntries_.clear();
    spareArena_.clear();
}

void View::sortSlice(std::size_t from, std::size_t to) {
    std::string_view arena = arena_;
    std::sort(entries_.begin() + static_cast<std::ptrdiff_t>(from),
              entries_.begin() + static_cast<std::ptrdiff_t>(to), [arena](const Entry& a, const Entry& b) {
                  if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
                  if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
                  int c = compareBytes(arena.substr(a.offset, a.length), arena.substr(b.offset, b.length));
                  return c != 0 ? c < 0 : a.pointer < b.pointer;
              });
}

// The whole sorted set, from one pass over the file. The rows held before stay until it is
// there, so that work stopped half-way leaves the view as it was.
bool View::buildSet() {
    std::vector<Entry> entries;
    std::string arena;
    const std::uint64_t stamp = primary_.changeStamp();
    int rc = pass(
        [&](std::uint64_t ptr) {
            auto offset = static_cast<std::uint32_t>(arena.size());
            appendSortKey(arena);
            entries.push_back(
                Entry::of(ptr, arena, offset, static_cast<std::uint32_t>(arena.size() - offset)));
            return true;
        },
        true);
    if (rc != 0) {
        if (progress_.ended) progress_.ended();
        setError(rc);
        return false;
    }
    entries_ = std::move(entries);
    arena_ = std::move(arena);
    stamp_ = stamp;
    sortSlice(0, entries_.size());
    if (progress_.ended) progress_.ended();
    built_ = true;
    edge_ = 0;
    coversStart_ = coversEnd_ = true;
    nextIndex_ = 0;
    prevIndex_ = static_cast<std::ptrdiff_t>(entries_.size()) - 1;
    haveCurrent_ = false;
    return true;
}

// Which joins a pass over the primary file must resolve: the inner ones (they decide whether a
// record belongs) and those whose fields the order or the filter read, with the joins they hang
// from. The others' buffers only matter to the records handed out, which are read again.
std::vector<bool> View::joinsToResolve() const {
    std::vector<bool> need(joins_.size(), false);
    std::vector<FieldRef> read = filter_.fields();
    for (const OrderItem& item : items_) {
        std::vector<FieldRef> f = item.expr.fields();
        read.insert(read.end(), f.begin(), f.end());
    }
    for (std::size_t k = 1; k < joins_.size(); ++k) {
        Record& r = joins_[k].table->record();
        need[k] = joins_[k].inner || std::any_of(read.begin(), read.end(), [&](const FieldRef& f) {
                      return f.index() >= 0 && f.index() < static_cast<int>(r.layout().count()) &&
                             f == r.ref(f.index());
                  });
    }
    for (std::size_t k = joins_.size(); k-- > 1;)
        if (need[k]) need[static_cast<std::size_t>(joins_[k].outer)] = true;
    return need;
}

// One pass over the primary file in record order (in bulk where its table can), handing `each`
// the pointer of every record of the view, with the buffers the order and filter read filled;
// what the buffers held before is put back after. Answers an error code.
int View::pass(const std::function<bool(std::uint64_t)>& each, bool reported) {
    std::vector<std::vector<std::uint8_t>> saved;
    for (Join& j : joins_) {
        auto b = j.table->record().buffer();
        saved.emplace_back(b.begin(), b.end());
    }
    std::vector<bool> need = joinsToResolve();
    const bool joins = std::find(need.begin() + 1, need.end(), true) != need.end();
    // Work the user waits for tells how far it got, and stops when told to.
    reported = reported && progress_.step;
    const std::int64_t expected = reported ? std::max<std::int64_t>(primary_.records(), 0) : 0;
    std::int64_t done = 0;
    bool stopped = reported && !progress_.step(0, expected);
    int rc = stopped ? 0 : primary_.scan([&](std::uint64_t ptr) {
        if (reported && (++done & 4095) == 0 && !progress_.step(done, expected)) {
            stopped = true;
            return false;
        }
        if (joins) {
            bool keep = true;
            for (std::size_t k = 1; k < joins_.size(); ++k) {
                Join& j = joins_[k];
                if (!need[k]) continue;
                j.present = joins_[static_cast<std::size_t>(j.outer)].present && resolveJoin(j);
                if (!j.present) j.table->record().clear();
                if (!j.present && j.inner) keep = false;
            }
            if (!keep) return true;
        }
        return !filter_.isTrue() || each(ptr);
    });
    for (std::size_t k = 0; k < joins_.size(); ++k) {
        auto b = joins_[k].table->record().buffer();
        std::copy(saved[k].begin(), saved[k].end(), b.begin());
    }
    return stopped ? err::BuildCancelled : rc;
}

// The first (or last) rows of a sorted order, from one pass that keeps only those rows in a heap.
bool View::buildEdge(bool first) {
    // The heap's top is the row that leaves first: the last of the kept rows for the first rows.
    auto heapLess = [first](const Candidate& a, const Candidate& b) {
        return first ? candidateBefore(a, b) : candidateBefore(b, a);
    };
    std::vector<Candidate> heap;
    heap.reserve(edgeRows_);
    Candidate c;
    std::size_t matching = 0;
    stamp_ = primary_.changeStamp();
    int rc = pass([&](std::uint64_t ptr) {
        c.pointer = ptr;
        ++matching;
        // Item by item: once the values so far differ from the kept rows' last one, the record
        // is either out (the usual case once the heap is full) or in, without the rest.
        c.values.clear();
        bool full = heap.size() >= edgeRows_, out = false;
        for (const OrderItem& item : items_) {
            encodeValue(item.expr.evaluate(), item.descending, c.values);
            if (!full) continue;
            std::string_view top = heap.front().values;
            int cmp = compareBytes(c.values, top.substr(0, std::min(top.size(), c.values.size())));
            if (cmp == 0) continue;
            out = first ? cmp > 0 : cmp < 0;
            full = false; // decided
            if (out) break;
        }
        if (!out) keepFirst(heap, c, edgeRows_, heapLess);
        return true;
    });
    if (rc != 0) {
        setError(rc);
        built_ = false;
        return false;
    }
    std::sort(heap.begin(), heap.end(), candidateBefore);
    entries_.clear();
    arena_.clear();
    appendRows(heap, arena_, entries_);
    built_ = true;
    edge_ = first ? 1 : -1;
    coversStart_ = first || matching <= edgeRows_;
    coversEnd_ = !first || matching <= edgeRows_;
    haveCurrent_ = false;
    return true;
}

// The rows of a sorted order around a place (order values, cut to the given length when
// truncated, and pointer), from one pass that keeps the last edgeRows_ rows before it and the
// first edgeRows_ rows from it on: what a position needs after the rows held were dropped (a
// write, a flush, another order), without sorting the whole set.
bool View::buildAround(const std::string& key, std::uint64_t pointer, bool truncated) {
    auto before = [&](const Candidate& c) {
        std::string_view v = c.values;
        int cmp = compareBytes(truncated ? v.substr(0, std::min(v.size(), key.size())) : v, key);
        return cmp != 0 ? cmp < 0 : c.pointer < pointer;
    };
    // Two heaps whose tops are the rows that leave first: the earliest of the rows before the
    // place, the last of the rows from it on.
    auto later = [](const Candidate& a, const Candidate& b) { return candidateBefore(b, a); };
    std::vector<Candidate> low, high;
    std::size_t lows = 0, highs = 0;
    Candidate c;
    stamp_ = primary_.changeStamp();
    int rc = pass([&](std::uint64_t ptr) {
        c.pointer = ptr;
        c.values.clear();
        appendSortKey(c.values);
        if (before(c)) {
            ++lows;
            keepFirst(low, c, edgeRows_, later);
        } else {
            ++highs;
            keepFirst(high, c, edgeRows_, candidateBefore);
        }
        return true;
    });
    if (rc != 0) {
        setError(rc);
        built_ = false;
        return false;
    }
    std::sort(low.begin(), low.end(), candidateBefore);
    std::sort(high.begin(), high.end(), candidateBefore);
    entries_.clear();
    arena_.clear();
    appendRows(low, arena_, entries_);
    appendRows(high, arena_, entries_);
    built_ = true;
    edge_ = 0;
    coversStart_ = lows <= edgeRows_;
    coversEnd_ = highs <= edgeRows_;
    haveCurrent_ = false;
    return true;
}

// Loads whole runs of equal leading values from where the key stands, in the view's direction,
// until enough entries came in (about a page for a new slice, runRows_ when it grows) or the key
// ended; appends them to the slice (or puts them before it when reading backwards), or makes them
// the slice. With an inner key a long run may come in part (readRun): the load then ends inside it.
int View::loadRuns(bool forward, bool append) {
    KeptBuffers kept;
    for (Join& j : joins_) kept.keep(j.table->record());
    bool keyForward = forward != backward_;
    const std::size_t least = append ? runRows_ : innerRows();
    if (!append) {
        entries_.clear();
        arena_.clear();
        sliceStart_.clear();
        sliceEnd_.clear();
        innerStart_ = InnerSide();
        innerEnd_ = InnerSide();
        stamp_ = primary_.changeStamp();
    }
    std::size_t before = entries_.size();
    std::string lead, values, firstPos, lastPos;
    bool more = false, pending = false, partial = false;
    int rc = 0;
    while (pending || (rc = stepKey(keyForward)) == 0) {
        pending = false;
        values = encodeItems(0, served_);
        bool runStart = firstPos.empty();
        if (runStart) {
            lead = values;
            firstPos = primary_.position(key_);
        } else if (values != lead) {
            if (entries_.size() - before >= least) {
                // A new run starts here: the slice ends with the record before it.
                more = true;
                rc = stepKey(!keyForward);
                if (rc == 0) lastPos = primary_.position(key_);
                break;
            }
            lead = values;
            runStart = true;
        }
        if (runStart && innerKey_ >= 0) {
            RunRead how = RunRead::Whole;
            rc = readRun(forward, least - std::min(least, entries_.size() - before), how);
            if (rc != 0) break;
            if (how == RunRead::Partial) {
                more = partial = true;
                break;
            }
            if (how == RunRead::KeyEnd) {
                rc = err::RecordNotAvailable;
                break;
            }
            pending = how == RunRead::Next;
            continue;
        }
        keepCurrent(entries_, arena_);
    }
    anchorImage_.clear();
    if (rc != 0 && rc != err::RecordNotAvailable) {
        entries_.resize(before);
        built_ = false;
        return rc;
    }
    if (!partial) (forward ? innerEnd_ : innerStart_) = InnerSide();
    closeLoad(forward, append, before, firstPos, lastPos, more);
    return 0;
}

// The order values of items [from, to) of the records in the buffers.
std::string View::encodeItems(std::size_t from, std::size_t to) const {
    std::string out;
    for (std::size_t i = from; i < to && i < items_.size(); ++i)
        encodeValue(items_[i].expr.evaluate(), items_[i].descending, out);
    return out;
}

// The record just read, with its order values, when it belongs to the view (its inner joins have
// partners and it passes the filter); `given` is a join whose buffer already holds its partner.
void View::keepCurrent(std::vector<Entry>& into, std::string& arena, int given) {
    keepCurrent(into, arena, given, primary_.pointer());
}

void View::keepCurrent(std::vector<Entry>& into, std::string& arena, int given, std::uint64_t ptr) {
    if (!resolveJoins(given) || !filter_.isTrue()) return;
    auto offset = static_cast<std::uint32_t>(arena.size());
    appendSortKey(arena);
    into.push_back(Entry::of(ptr, arena, offset, static_cast<std::uint32_t>(arena.size() - offset)));
}

// Whether the record in the buffer has an entry in the walked key (an OPT key leaves out the
// records whose key fields are all blank).
bool View::inWalkedKey() {
    const ViewKey& key = primary_.keys()[static_cast<std::size_t>(key_)];
    if (!key.optional) return true;
    Record& rec = primary_.record();
    return std::any_of(key.components.begin(), key.components.end(),
                       [&](const ViewKey::Component& c) { return !blankValue(rec.ref(c.field).get()); });
}

// Records the walked key reads in the first turn of a run; each turn after reads twice as many.
constexpr std::size_t FirstTurn = 16;

// The run whose first record (in the view's direction) the walked key just read, with at least
// `need` of its rows. Read whole it costs the run; through the inner key, keeping the run's
// records, the first rows cost about what they take when the run is spread over the inner key.
// The two walks take turns of growing length until one is done:
// - Whole: the key walk read the run to its end, which the key stands on; Next: the key walk read
//   the next run's first record, which it stands on; KeyEnd: the key (or its range) ended.
// - Partial: the inner walk has the rows and a whole group; the slice's side ends inside the run.
// Where a position gave the anchor (anchorImage_), the inner walk starts at the anchor's group,
// and the slice's near side lies inside the run too.
int View::readRun(bool forward, std::size_t need, RunRead& how) {
    const bool keyForward = forward != backward_;
    const bool innerForward = forward != innerBackward_;
    const std::string lead = encodeItems(0, served_);
    auto b = primary_.record().buffer();
    const std::vector<std::uint8_t> image(b.begin(), b.end());
    std::vector<std::uint8_t> anchor;
    if (!anchorImage_.empty()) {
        // Only the first run of a load placed at a record, and only when it is that record's run.
        anchor = std::move(anchorImage_);
        anchorImage_.clear();
        std::copy(anchor.begin(), anchor.end(), b.begin());
        if (encodeItems(0, served_) != lead) anchor.clear();
        std::copy(image.begin(), image.end(), b.begin());
    }
    const std::size_t begin = entries_.size(), arenaBegin = arena_.size();
    std::vector<Entry> found;
    std::string arena, keyEdge, innerEdge, nearEdge;
    bool innerDone = false, innerEnded = false;
    // The walked key: the run's records until it ends (an answer), or `turn` of them (none).
    auto keyTurn = [&](std::size_t turn) -> std::optional<int> {
        if (!keyEdge.empty() && !backToEdge(primary_, key_, keyEdge, keyForward))
            return errorCode() ? errorCode() : err::UnknownError;
        for (std::size_t n = 0; n < turn; ++n) {
            if (n > 0 || !keyEdge.empty()) {
                int rc = stepKey(keyForward);
                if (rc == err::RecordNotAvailable) {
                    how = RunRead::KeyEnd;
                    return 0;
                }
                if (rc) return rc;
                if (encodeItems(0, served_) != lead) {
                    how = RunRead::Next;
                    return 0;
                }
            }
            keepCurrent(entries_, arena_);
        }
        keyEdge = primary_.position(key_);
        return std::nullopt;
    };
    // The inner key: from its start, from the anchor's group, or on from where it stood.
    auto innerTurn = [&](std::size_t turn) -> std::optional<int> {
        int rc = innerEdge.empty()
                     ? (anchor.empty() ? primary_.setStart(innerKey_)
                                       : seekIn(innerKey_, anchor, innerServed_, innerForward))
                     : (backToEdge(primary_, innerKey_, innerEdge, innerForward) ? 0 : err::UnknownError);
        if (rc == 0)
            rc = walkInner(forward, std::min(need, innerRows()), lead, turn, found, arena,
                           anchor.empty() ? nullptr : &nearEdge, innerDone, innerEnded);
        if (rc) return rc;
        if (!innerDone) {
            innerEdge = primary_.position(innerKey_);
            return std::nullopt;
        }
        // The inner walk won: its rows replace what the walked key read of the run.
        entries_.resize(begin);
        arena_.resize(arenaBegin);
        for (const Entry& e : found) {
            auto offset = static_cast<std::uint32_t>(arena_.size());
            arena_.append(arena, e.offset, e.length);
            entries_.push_back(Entry::of(e.pointer, arena_, offset, e.length));
        }
        if (!anchor.empty()) {
            InnerSide& nearSide = forward ? innerStart_ : innerEnd_;
            nearSide = {nearEdge, lead, image};
        }
        if (innerEnded) {
            // The rest of the run is in: the walked key goes on from the run's last record.
            how = RunRead::Whole;
            return afterRun(image, keyForward);
        }
        InnerSide& farSide = forward ? innerEnd_ : innerStart_;
        farSide = {primary_.position(innerKey_), lead, image};
        how = RunRead::Partial;
        return 0;
    };
    // A run that ends within the first turn never touches the inner key. Past it the inner walk
    // takes each length first, so that a long run does not pay for the walked key's last turn.
    if (auto rc = keyTurn(FirstTurn)) return *rc;
    if (auto rc = innerTurn(FirstTurn)) return *rc;
    for (std::size_t turn = 2 * FirstTurn;; turn *= 2) {
        if (auto rc = innerTurn(turn)) return *rc;
        if (auto rc = keyTurn(turn)) return *rc;
    }
}

// Reads the inner key on from where it stands, in the view's direction, at most `budget` records,
// keeping the records of the run `lead` with their order values. Done when at least `need` rows
// are kept and the group of equal inner values of the last is whole (the key then stands on that
// group's last record), or when the key ended (`ended`: every record of the run from the walk's
// start on is kept). `first`, when given and empty, gets the place of the first record read.
int View::walkInner(bool forward, std::size_t need, const std::string& lead, std::size_t budget,
                    std::vector<Entry>& found, std::string& arena, std::string* first, bool& done,
                    bool& ended) {
    const bool keyForward = forward != innerBackward_;
    need = std::max<std::size_t>(need, 1);
    for (std::size_t n = 0; n < budget; ++n) {
        int rc = keyForward ? primary_.next() : primary_.previous();
        if (rc == err::RecordNotAvailable) {
            done = ended = true;
            return 0;
        }
        if (rc) return rc;
        if (first && first->empty()) *first = primary_.position(innerKey_);
        if (found.size() >= need) {
            const std::string group = encodeItems(served_, served_ + innerServed_);
            const Entry& last = found.back();
            if (std::string_view(arena).substr(last.offset + lead.size(), group.size()) != group) {
                rc = keyForward ? primary_.previous() : primary_.next();
                if (rc) return rc;
                done = true;
                return 0;
            }
        }
        if (encodeItems(0, served_) == lead && inWalkedKey()) keepCurrent(found, arena);
    }
    return 0;
}

// Puts the walked key on the last record of the run of the image's leading values, in the
// direction given, so that the next step reads the run after it.
int View::afterRun(std::span<const std::uint8_t> image, bool keyForward) {
    int rc = seekKey(image, served_, !keyForward);
    return rc ? rc : stepKey(!keyForward);
}

// A slice side inside a run: the inner walk goes on from its edge for the next rows; where the
// inner key ends, the run is whole on that side and its edge becomes the run's edge in the
// walked key.
bool View::extendInner(bool forward) {
    KeptBuffers kept;
    for (Join& j : joins_) kept.keep(j.table->record());
    InnerSide& side = forward ? innerEnd_ : innerStart_;
    if (!backToEdge(primary_, innerKey_, side.edge, forward != innerBackward_)) return false;
    std::vector<Entry> found;
    std::string arena;
    bool done = false, ended = false;
    int rc = walkInner(forward, innerRows(), side.lead, std::numeric_limits<std::size_t>::max(), found, arena,
                       nullptr, done, ended);
    if (rc) {
        setError(rc);
        return false;
    }
    const std::size_t before = entries_.size();
    for (const Entry& e : found) {
        auto offset = static_cast<std::uint32_t>(arena_.size());
        arena_.append(arena, e.offset, e.length);
        entries_.push_back(Entry::of(e.pointer, arena_, offset, e.length));
    }
    addLoaded(forward, before);
    if (!ended) {
        side.edge = primary_.position(innerKey_);
        return true;
    }
    const std::vector<std::uint8_t> image = std::move(side.image);
    side = InnerSide();
    rc = afterRun(image, forward != backward_);
    if (rc != 0 && rc != err::RecordNotAvailable) {
        setError(rc);
        return false;
    }
    (forward ? sliceEnd_ : sliceStart_) = rc == 0 ? primary_.position(key_) : std::string();
    if (rc != 0) (forward ? coversEnd_ : coversStart_) = true;
    return true;
}

// The entries added to the slice after `before`: sorted, and put before the slice when reading
// backwards.
void View::addLoaded(bool forward, std::size_t before) {
    std::size_t added = entries_.size() - before;
    sortSlice(before, entries_.size());
    if (!forward) {
        // Reading backwards, the new runs come before the slice.
        std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(before), entries_.end());
        nextIndex_ += static_cast<std::ptrdiff_t>(added);
        prevIndex_ += static_cast<std::ptrdiff_t>(added);
        if (current_ >= 0) current_ += static_cast<std::ptrdiff_t>(added);
    }
}

// The runs a load added to the slice (after `before`): sorted, put before the slice when reading
// backwards, the slice's edges in the key walked kept, and whether it reaches the end this way
// (`more`: the walk stopped before the key ended, at `lastPos`).
void View::closeLoad(bool forward, bool append, std::size_t before, const std::string& firstPos,
                     const std::string& lastPos, bool more) {
    addLoaded(forward, before);
    std::string& near = forward ? sliceStart_ : sliceEnd_;
    std::string& far = forward ? sliceEnd_ : sliceStart_;
    if (!append || near.empty()) near = firstPos;
    if (!firstPos.empty() || !append) far = more ? lastPos : std::string();
    (forward ? coversEnd_ : coversStart_) = !more;
    built_ = true;
}

// A new slice of a key-led order from the run holding the image's leading values (components of
// the key; 0 for the start of the order). Where the run and those after it hold nothing, the
// slice takes the runs before instead, so that it has a place to extend from.
int View::seekRuns(std::span<const std::uint8_t> image, std::size_t components) {
    std::size_t given = std::min(components, served_);
    return loadFromSeek(given, [&](bool keyForward) { return seekKey(image, given, keyForward); });
}

// The runs from where `seek` starts the key walked (in the view's direction) and, where they hold
// nothing, the runs before.
int View::loadFromSeek(std::size_t given, const std::function<int(bool keyForward)>& seek) {
    auto load = [&](bool forward, bool append) {
        return plan_ == Plan::JoinRuns ? loadJoinRuns(forward, append) : loadRuns(forward, append);
    };
    int rc = seek(!backward_);
    if (rc == 0) rc = load(true, false);
    if (rc != 0) return rc;
    coversStart_ = given == 0;
    if (entries_.empty() && given > 0) {
        rc = seek(backward_);
        if (rc == 0) rc = load(false, true);
        coversEnd_ = true;
    }
    return rc;
}

int View::placeRuns(std::span<const std::uint8_t> image, std::size_t components) {
    std::vector<std::uint8_t> copy(image.begin(), image.end());
    return seekRuns(copy, components);
}

// Reading ran off a side of the slice that is not the end of the result: a sorted order builds
// its whole set, a key-led order loads the next runs. The view's place is kept.
bool View::extendSlice(bool forward) {
    if (entries_.empty()) return false;
    if (plan_ == Plan::Sorted) {
        // Marks of the places, by entry, to find them again in the whole set.
        const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(entries_.size());
        auto mark = [&](std::ptrdiff_t i) {
            const Entry& e = entries_[static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(i, 0, n - 1))];
            return Candidate{arena_.substr(e.offset, e.length), e.pointer};
        };
        Candidate next = mark(nextIndex_), prev = mark(prevIndex_), cur = mark(current_);
        bool nextAfter = nextIndex_ >= n, prevBefore = prevIndex_ < 0;
        bool hadCurrent = current_ >= 0 && current_ < n;
        if (!buildSet()) return false;
        std::string_view arena = arena_;
        auto locate = [&](const Candidate& m) {
            return std::partition_point(entries_.begin(), entries_.end(),
                                        [&](const Entry& e) {
                                            int c = compareBytes(arena.substr(e.offset, e.length), m.values);
                                            return c != 0 ? c < 0 : e.pointer < m.pointer;
                                        }) -
                   entries_.begin();
        };
        nextIndex_ = locate(next) + (nextAfter ? 1 : 0);
        prevIndex_ = locate(prev) - (prevBefore ? 1 : 0);
        current_ = hadCurrent ? locate(cur) : -1;
        return true;
    }
    if (plan_ == Plan::JoinRuns) return extendJoinRuns(forward);
    if (!(forward ? innerEnd_ : innerStart_).edge.empty()) return extendInner(forward);
    // Key-led: back to the slice's last (first) record in the key, then on from it.
    const std::string& edge = forward ? sliceEnd_ : sliceStart_;
    if (edge.empty()) return false;
    if (!backToEdge(primary_, key_, edge, forward != backward_)) return false;
    return loadRuns(forward, true) == 0;
}

int View::placeSortedAt(const std::string& key, std::uint64_t pointer, bool truncated) {
    std::string_view arena = arena_;
    auto valuesOf = [&](const Entry& e) {
        std::string_view v = arena.substr(e.offset, e.length);
        return truncated ? v.substr(0, std::min(v.size(), key.size())) : v;
    };
    auto below = [&](const Entry& e) {
        int c = compareBytes(valuesOf(e), key);
        return c != 0 ? c < 0 : e.pointer < pointer;
    };
    auto it = std::partition_point(entries_.begin(), entries_.end(), below);
    nextIndex_ = it - entries_.begin();
    bool exact = it != entries_.end() && it->pointer == pointer && compareBytes(valuesOf(*it), key) == 0;
    prevIndex_ = exact ? nextIndex_ : nextIndex_ - 1;
    haveCurrent_ = false;
    return 0;
}

// Places a slice reading at a record given by its order values and pointer, with the record in
// the buffers when it still exists (keyPosition: its place in the key, for a key-led order whose
// record is gone).
int View::placeAnchor(const std::string& key, std::uint64_t pointer, bool truncated,
                      std::string_view keyPosition) {
    // Whether the slice held has every record of the order between its first and last entries
    // (those of the view at all where it reaches an end) around the place.
    bool inside = false;
    if (built_ && !entries_.empty()) {
        auto versus = [&](const Entry& e) {
            std::string_view v = std::string_view(arena_).substr(e.offset, e.length);
            if (truncated) v = v.substr(0, std::min(v.size(), key.size()));
            int c = compareBytes(v, key);
            return c != 0 ? c : (e.pointer < pointer ? -1 : (e.pointer > pointer ? 1 : 0));
        };
        inside =
            (coversStart_ || versus(entries_.front()) <= 0) && (coversEnd_ || versus(entries_.back()) >= 0);
    } else if (built_) {
        inside = coversStart_ && coversEnd_;
    }
    if (inside && keyPosition.empty()) return placeSortedAt(key, pointer, truncated);
    if (plan_ == Plan::Sorted) {
        if (!inside && !built_) {
            // Nothing held (a write or a flush dropped the rows, or nothing was read yet): one
            // pass makes the rows around the place, whatever was held before.
            if (!buildAround(key, pointer, truncated)) return errorCode() ? errorCode() : err::UnknownError;
        } else if (!inside && !buildSet()) {
            return errorCode() ? errorCode() : err::UnknownError;
        }
        return placeSortedAt(key, pointer, truncated);
    }
    if (plan_ == Plan::JoinRuns) return placeJoinAnchor(key, pointer, truncated, keyPosition);
    int rc = 0;
    if (!keyPosition.empty()) {
        // The record is gone: the run of the record that follows its place in the key.
        rc = primary_.reset(key_, keyPosition);
        if (rc == 0) rc = primary_.next();
        if (rc == err::RecordNotAvailable) {
            rc = seekKey(primary_.record().buffer(), 0, backward_);
            if (rc == 0) rc = loadRuns(false, false);
            coversEnd_ = true;
            return rc ? rc : placeSortedAt(key, pointer, truncated);
        }
        if (rc) return rc;
    }
    // The record is there: an inner walk starts at its group.
    if (keyPosition.empty() && innerKey_ >= 0) {
        auto b = primary_.record().buffer();
        anchorImage_.assign(b.begin(), b.end());
    }
    rc = placeRuns(primary_.record().buffer(), served_);
    anchorImage_.clear();
    return rc ? rc : placeSortedAt(key, pointer, truncated);
}

// ---- Join-led orders --------------------------------------------------------------------------

namespace {

bool integerType(FieldType t) {
    return t == FieldType::Byte || t == FieldType::Short || t == FieldType::UShort || t == FieldType::Long ||
           t == FieldType::ULong || t == FieldType::Date || t == FieldType::Time;
}

} // namespace

// A join of the primary file through a unique key of its partner file (the parent), a key of the
// parent that is not OPT serving the leading order items, and a key of the primary file whose
// leading components are the linking fields (the child key), each of the type of the parent's key
// component it links to, with the same case rule, ascending in both keys. Then every record with
// a partner is found under that partner, and under no other parent.
bool View::chooseJoinLed() {
    const int oldJoin = parentJoin_, oldChild = childKey_;
    parentJoin_ = parentKey_ = childKey_ = -1;
    const Layout& childLayout = primary_.record().layout();
    const std::vector<ViewKey>& childKeys = primary_.keys();
    for (std::size_t jn = 1; jn < joins_.size() && parentJoin_ < 0; ++jn) {
        const Join& j = joins_[jn];
        if (j.outer != 0 || j.key < 0 || j.table == &primary_) continue;
        bool shared = false;
        for (std::size_t o = 0; o < joins_.size(); ++o)
            shared = shared || (o != jn && joins_[o].table == j.table);
        if (shared) continue;
        const ViewKey& ik = j.table->keys()[static_cast<std::size_t>(j.key)];
        if (ik.duplicates || ik.components.size() != j.outerFields.size()) continue;
        const Layout& parentLayout = j.table->record().layout();
        int child = -1;
        for (std::size_t k = 0; k < childKeys.size() && child < 0; ++k) {
            const ViewKey& ck = childKeys[k];
            bool fits = ck.components.size() >= j.outerFields.size();
            for (std::size_t i = 0; fits && i < j.outerFields.size(); ++i) {
                const ViewKey::Component& c = ck.components[i];
                const ViewKey::Component& p = ik.components[i];
                FieldType ct = childLayout.field(static_cast<std::size_t>(c.field)).type;
                FieldType pt = parentLayout.field(static_cast<std::size_t>(p.field)).type;
                fits = c.field == j.outerFields[i] && !c.descending && !p.descending && ct == pt &&
                       (!isTextType(ct) || ck.noCase == ik.noCase);
            }
            if (fits) child = static_cast<int>(k);
        }
        if (child < 0) continue;
        const std::vector<ViewKey>& parentKeys = j.table->keys();
        for (std::size_t k = 0; k < parentKeys.size(); ++k) {
            if (parentKeys[k].optional) continue;
            bool reversed = false;
            std::size_t n = servedItems(*j.table, parentKeys[k], reversed);
            if (n > served_) {
                parentJoin_ = static_cast<int>(jn);
                parentKey_ = static_cast<int>(k);
                childKey_ = child;
                served_ = n;
                backward_ = reversed;
            }
        }
    }
    if (parentJoin_ != oldJoin || childKey_ != oldChild) orphansKnown_ = false;
    // A filter on the parent's fields alone (a filter locator on a column of the customer) is
    // tested once per parent, before its records are read.
    parentFilter_ = parentJoin_ >= 0 && !filter_.empty();
    for (const FieldRef& f : parentFilter_ ? filter_.fields() : std::vector<FieldRef>())
        for (std::size_t k = 0; k < joins_.size(); ++k) {
            Record& r = joins_[k].table->record();
            for (std::size_t i = 0; k != static_cast<std::size_t>(parentJoin_) && i < r.layout().count(); ++i)
                if (r.ref(static_cast<int>(i)) == f) parentFilter_ = false;
        }
    chooseParentPrefix();
    return parentJoin_ >= 0;
}

// A filter that keeps only parents whose first key field begins with a text (the filter locator
// of the City column: "SUB(UPPER(CUST:City),1,n) = 'TEXT'", one of the filter's top-level ANDs)
// lets the walk start at that text in the parent key and end where the key has passed it. Only a
// NOCASE key ascending in a string field, and an upper-case text of exactly n characters.
void View::chooseParentPrefix() {
    parentPrefix_.clear();
    if (!parentFilter_) return;
    ViewTable& par = parent();
    const ViewKey& key = par.keys()[static_cast<std::size_t>(parentKey_)];
    if (!key.noCase || key.components.empty() || key.components[0].descending) return;
    Record& rec = par.record();
    const FieldDesc& fd = rec.layout().field(static_cast<std::size_t>(key.components[0].field));
    if (fd.type != FieldType::String) return;
    const FieldRef want = rec.ref(key.components[0].field);
    std::vector<int> pending{filter_.root()};
    while (!pending.empty() && parentPrefix_.empty()) {
        const Expression::NodeView n = filter_.node(pending.back());
        pending.pop_back();
        if (n.op == "AND") pending.insert(pending.end(), n.args.begin(), n.args.end());
        if (n.op != "COMPARE" || n.compare != 2 || n.args.size() != 2) continue;
        const Expression::NodeView sub = filter_.node(n.args[0]), text = filter_.node(n.args[1]);
        if (sub.op != "SUB" || sub.args.size() != 3 || text.op != "CONST" || !text.constant->isText())
            continue;
        const Expression::NodeView up = filter_.node(sub.args[0]), from = filter_.node(sub.args[1]),
                                   count = filter_.node(sub.args[2]);
        if (up.op != "UPPER" || from.op != "CONST" || count.op != "CONST") continue;
        const Expression::NodeView field = filter_.node(up.args[0]);
        const std::string& t = text.constant->text();
        if (field.op == "FIELD" && *field.field == want && from.constant->toLong() == 1 && !t.empty() &&
            count.constant->toLong() == static_cast<std::int64_t>(t.size()) && t.size() <= fd.size &&
            upperText(t) == t)
            parentPrefix_ = t;
    }
}

// Starts the parent key at the first (keyForward) or the last parent whose key begins with the
// filter's text.
int View::seekParentPrefix(bool keyForward) {
    ViewTable& par = parent();
    const ViewKey& key = par.keys()[static_cast<std::size_t>(parentKey_)];
    Record& rec = par.record();
    KeptBuffers kept;
    kept.keep(rec);
    auto buffer = rec.buffer();
    for (const ViewKey::Component& c : key.components)
        writeExtreme(rec.layout().field(static_cast<std::size_t>(c.field)), buffer,
                     c.descending == keyForward);
    const FieldDesc& fd = rec.layout().field(static_cast<std::size_t>(key.components[0].field));
    std::copy(parentPrefix_.begin(), parentPrefix_.end(), buffer.begin() + fd.offset);
    return par.setFromBuffer(parentKey_);
}

// Whether the parent in the buffer lies past every parent whose key begins with the filter's text,
// reading the key forwards or backwards.
bool View::pastParentPrefix(bool keyForward) {
    const ViewKey& key = parent().keys()[static_cast<std::size_t>(parentKey_)];
    std::string lead = upperText(parent().record().ref(key.components[0].field).get().toText());
    lead.resize(parentPrefix_.size(), ' ');
    const int r = lead.compare(parentPrefix_);
    return keyForward ? r > 0 : r < 0;
}

ViewTable& View::parent() {
    return *joins_[static_cast<std::size_t>(parentJoin_)].table;
}

int View::compareLinks(const std::vector<Value>& a, const std::vector<Value>& b) const {
    const bool noCase = primary_.keys()[static_cast<std::size_t>(childKey_)].noCase;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        Value x = a[i], y = b[i];
        if (noCase && x.isText()) {
            x = Value(upperText(x.text()));
            y = Value(upperText(y.toText()));
        }
        if (int r = compare(x, y)) return r;
    }
    return 0;
}

// The linking values of the primary record in its buffer, and of the parent in its buffer.
std::vector<Value> View::childLink() {
    std::vector<Value> out;
    for (int f : joins_[static_cast<std::size_t>(parentJoin_)].outerFields)
        out.push_back(primary_.record().ref(f).get());
    return out;
}

std::vector<Value> View::parentLink() {
    const Join& j = joins_[static_cast<std::size_t>(parentJoin_)];
    const ViewKey& ik = j.table->keys()[static_cast<std::size_t>(j.key)];
    std::vector<Value> out;
    for (std::size_t i = 0; i < j.outerFields.size(); ++i)
        out.push_back(j.table->record().ref(ik.components[i].field).get());
    return out;
}

// The records a walk of the parent key cannot reach: those an OPT child key leaves out and those
// whose link no parent has. Kept while neither file changes.
bool View::findOrphans() {
    Join& j = joins_[static_cast<std::size_t>(parentJoin_)];
    ViewTable& par = *j.table;
    const std::pair<std::uint64_t, std::uint64_t> stamps{primary_.changeStamp(), par.changeStamp()};
    if (orphansKnown_ && stamps == orphanStamps_) return true;
    extrasBuilt_ = false;
    orphans_.clear();
    KeptBuffers kept;
    for (Join& x : joins_) kept.keep(x.table->record());
    const ViewKey& ck = primary_.keys()[static_cast<std::size_t>(childKey_)];
    const ViewKey& ik = par.keys()[static_cast<std::size_t>(j.key)];
    Record& rec = primary_.record();
    auto fail = [](int rc) {
        setError(rc);
        return false;
    };
    int rc = 0;
    if (ck.optional && primary_.records() > primary_.keyRecords(childKey_)) {
        rc = primary_.setStart(-1);
        while (rc == 0 && (rc = primary_.next()) == 0)
            if (std::all_of(ck.components.begin(), ck.components.end(),
                            [&](const ViewKey::Component& c) { return blankValue(rec.ref(c.field).get()); }))
                orphans_.push_back(primary_.pointer());
        if (rc != err::RecordNotAvailable) return fail(rc);
    }
    // A unique whole-number key holding every value from its lowest to its highest (as many
    // entries as values) leaves only links beyond those two without a parent.
    std::vector<Value> low, high;
    bool dense = false;
    const FieldType linkType =
        par.record().layout().field(static_cast<std::size_t>(ik.components[0].field)).type;
    if (ik.components.size() == 1 && integerType(linkType)) {
        const std::int64_t n = par.keyRecords(j.key);
        if (n > 0 && par.setStart(j.key) == 0 && par.next() == 0) {
            low = parentLink();
            if (par.setStart(j.key) == 0 && par.previous() == 0) {
                high = parentLink();
                dense = high[0].toLong() - low[0].toLong() + 1 == n;
            }
        }
    }
    if (dense) {
        rc = primary_.setStart(childKey_);
        while (rc == 0 && (rc = primary_.next()) == 0 && compareLinks(childLink(), low) < 0)
            orphans_.push_back(primary_.pointer());
        if (rc != 0 && rc != err::RecordNotAvailable) return fail(rc);
        rc = primary_.setStart(childKey_);
        while (rc == 0 && (rc = primary_.previous()) == 0 && compareLinks(childLink(), high) > 0)
            orphans_.push_back(primary_.pointer());
        if (rc != 0 && rc != err::RecordNotAvailable) return fail(rc);
    } else {
        // The child key's links beside the parent key: the records of a link the parent key has
        // are passed over at once.
        int prc = par.setStart(j.key);
        if (prc == 0) prc = par.next();
        std::vector<Value> parentAt = prc == 0 ? parentLink() : std::vector<Value>();
        rc = primary_.setStart(childKey_);
        if (rc == 0) rc = primary_.next();
        while (rc == 0) {
            const std::vector<Value> link = childLink();
            while (prc == 0 && compareLinks(parentAt, link) < 0)
                if ((prc = par.next()) == 0) parentAt = parentLink();
            if (prc != 0 && prc != err::RecordNotAvailable) return fail(prc);
            if (prc == 0 && compareLinks(parentAt, link) == 0) {
                auto buffer = rec.buffer();
                for (std::size_t i = link.size(); i < ck.components.size(); ++i)
                    writeExtreme(rec.layout().field(static_cast<std::size_t>(ck.components[i].field)), buffer,
                                 !ck.components[i].descending);
                rc = primary_.setFromBuffer(childKey_);
                while (rc == 0 && (rc = primary_.next()) == 0 && compareLinks(childLink(), link) == 0) {
                }
            } else {
                orphans_.push_back(primary_.pointer());
                rc = primary_.next();
            }
        }
        if (rc != err::RecordNotAvailable) return fail(rc);
    }
    orphanStamps_ = stamps;
    orphansKnown_ = true;
    return true;
}

// The orphans that pass the filter with their order values, in the view's order.
bool View::buildExtras() {
    if (!findOrphans()) return false;
    if (extrasBuilt_) return true;
    KeptBuffers kept;
    for (Join& x : joins_) kept.keep(x.table->record());
    struct Extra {
        std::string values;
        std::uint32_t lead;
        std::uint64_t pointer;
    };
    std::vector<Extra> found;
    for (std::uint64_t ptr : orphans_) {
        int rc = primary_.fetch(ptr);
        if (rc == err::RecordNotFound) continue;
        if (rc) {
            setError(rc);
            return false;
        }
        if (!resolveJoins() || !filter_.isTrue()) continue;
        Extra x{{}, 0, ptr};
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (i == served_) x.lead = static_cast<std::uint32_t>(x.values.size());
            encodeValue(items_[i].expr.evaluate(), items_[i].descending, x.values);
        }
        if (served_ >= items_.size()) x.lead = static_cast<std::uint32_t>(x.values.size());
        found.push_back(std::move(x));
    }
    std::sort(found.begin(), found.end(), [](const Extra& a, const Extra& b) {
        int c = compareBytes(a.values, b.values);
        return c != 0 ? c < 0 : a.pointer < b.pointer;
    });
    extras_.clear();
    extraLeads_.clear();
    extrasArena_.clear();
    for (const Extra& x : found) {
        auto offset = static_cast<std::uint32_t>(extrasArena_.size());
        extrasArena_ += x.values;
        extras_.push_back(
            Entry::of(x.pointer, extrasArena_, offset, static_cast<std::uint32_t>(x.values.size())));
        extraLeads_.push_back(x.lead);
    }
    extrasBuilt_ = true;
    return true;
}

// The records of the parent in the parent's buffer, read through the child key into the slice.
int View::readChildren() {
    const Join& j = joins_[static_cast<std::size_t>(parentJoin_)];
    const ViewKey& ik = j.table->keys()[static_cast<std::size_t>(j.key)];
    const ViewKey& ck = primary_.keys()[static_cast<std::size_t>(childKey_)];
    const std::vector<Value> link = parentLink();
    // An OPT key holds no record whose linking fields are all blank: such a parent is nobody's
    // partner.
    if (ik.optional && std::all_of(link.begin(), link.end(), blankValue)) return 0;
    Record& rec = primary_.record();
    auto buffer = rec.buffer();
    for (std::size_t i = 0; i < link.size(); ++i) rec.ref(j.outerFields[i]).set(link[i]);
    for (std::size_t i = link.size(); i < ck.components.size(); ++i)
        writeExtreme(rec.layout().field(static_cast<std::size_t>(ck.components[i].field)), buffer,
                     ck.components[i].descending);
    int rc = primary_.setFromBuffer(childKey_);
    while (rc == 0 && (rc = primary_.next()) == 0 && compareLinks(childLink(), link) == 0)
        keepCurrent(entries_, arena_, parentJoin_);
    return rc == err::RecordNotAvailable ? 0 : rc;
}

// The records of the parents given (their record images one after the other) into the slice,
// as readChildren reads them for each: in one bulk read of their ranges of the child key where
// the file can, else parent by parent. The parent's buffer is put back.
int View::readChildrenOf(const std::vector<std::uint8_t>& parents) {
    ViewTable& par = parent();
    Record& prec = par.record();
    auto pbuf = prec.buffer();
    if (pbuf.empty() || parents.empty()) return 0;
    KeptBuffers kept;
    kept.keep(prec);
    const std::size_t count = parents.size() / pbuf.size();
    auto toParent = [&](std::size_t i) {
        std::copy_n(parents.begin() + static_cast<std::ptrdiff_t>(i * pbuf.size()), pbuf.size(),
                    pbuf.begin());
    };
    const Join& j = joins_[static_cast<std::size_t>(parentJoin_)];
    const ViewKey& ik = j.table->keys()[static_cast<std::size_t>(j.key)];
    const ViewKey& ck = primary_.keys()[static_cast<std::size_t>(childKey_)];
    Record& rec = primary_.record();
    auto buffer = rec.buffer();
    // Each parent's range of the child key: its link, and the rest of the key from the extreme
    // read first to the one read last (an OPT key holds no record of an all-blank link).
    std::vector<std::vector<Value>> links;
    std::vector<std::size_t> owner;
    std::vector<std::uint8_t> bounds;
    for (std::size_t i = 0; i < count; ++i) {
        toParent(i);
        std::vector<Value> link = parentLink();
        if (ik.optional && std::all_of(link.begin(), link.end(), blankValue)) continue;
        for (std::size_t f = 0; f < link.size(); ++f) rec.ref(j.outerFields[f]).set(link[f]);
        for (bool high : {false, true}) {
            for (std::size_t c = link.size(); c < ck.components.size(); ++c)
                writeExtreme(rec.layout().field(static_cast<std::size_t>(ck.components[c].field)), buffer,
                             ck.components[c].descending != high);
            bounds.insert(bounds.end(), buffer.begin(), buffer.end());
        }
        links.push_back(std::move(link));
        owner.push_back(i);
    }
    ViewTable::KeyRanges ranges;
    const std::size_t size = buffer.size();
    for (std::size_t r = 0; r < owner.size(); ++r)
        ranges.emplace_back(std::span<const std::uint8_t>(bounds.data() + 2 * r * size, size),
                            std::span<const std::uint8_t>(bounds.data() + (2 * r + 1) * size, size));
    std::size_t shown = count;
    int rc = primary_.scanKeyRanges(childKey_, ranges, [&](std::size_t r, std::uint64_t ptr) {
        if (owner[r] != shown) toParent(shown = owner[r]);
        if (compareLinks(childLink(), links[r]) == 0) keepCurrent(entries_, arena_, parentJoin_, ptr);
        return true;
    });
    if (rc != 80) return rc;
    for (std::size_t r = 0; r < owner.size(); ++r) {
        toParent(owner[r]);
        if (int c = readChildren()) return c;
    }
    return 0;
}

// Starts the parent key at the given leading values of a parent record image (and, for the rest,
// the extreme that reads first).
int View::seekParent(std::span<const std::uint8_t> image, std::size_t given, bool keyForward) {
    ViewTable& par = parent();
    const ViewKey& key = par.keys()[static_cast<std::size_t>(parentKey_)];
    Record& rec = par.record();
    KeptBuffers kept;
    kept.keep(rec);
    auto buffer = rec.buffer();
    std::copy(image.begin(), image.end(), buffer.begin());
    for (std::size_t i = given; i < key.components.size(); ++i)
        writeExtreme(rec.layout().field(static_cast<std::size_t>(key.components[i].field)), buffer,
                     key.components[i].descending == keyForward);
    return par.setFromBuffer(parentKey_);
}

// A new slice at the start (forward) or the end of the order.
int View::startJoinRuns(bool forward) {
    if (!buildExtras()) return errorCode() ? errorCode() : err::UnknownError;
    exLo_ = exHi_ = forward ? 0 : extras_.size();
    int rc = parentPrefix_.empty() ? parent().setStart(parentKey_) : seekParentPrefix(forward != backward_);
    if (rc == 0) rc = loadJoinRuns(forward, false);
    if (rc) return rc;
    (forward ? coversStart_ : coversEnd_) = true;
    return 0;
}

// A new slice from the run holding the leading values of a parent record image; where that run
// and those after it hold nothing, the runs before.
int View::seekJoinRuns(std::span<const std::uint8_t> image, std::size_t given) {
    given = std::min(given, served_);
    if (!buildExtras()) return errorCode() ? errorCode() : err::UnknownError;
    const std::vector<std::uint8_t> copy(image.begin(), image.end());
    std::string lead;
    {
        KeptBuffers kept;
        Record& rec = parent().record();
        kept.keep(rec);
        std::copy(copy.begin(), copy.end(), rec.buffer().begin());
        for (std::size_t i = 0; i < given; ++i)
            encodeValue(items_[i].expr.evaluate(), items_[i].descending, lead);
    }
    const std::string_view xa = extrasArena_;
    std::size_t at = 0;
    while (at < extras_.size()) {
        std::string_view v = xa.substr(extras_[at].offset, extraLeads_[at]);
        if (compareBytes(v.substr(0, std::min(v.size(), lead.size())), lead) >= 0) break;
        ++at;
    }
    exLo_ = exHi_ = at;
    return loadFromSeek(given, [&](bool keyForward) { return seekParent(copy, given, keyForward); });
}

// Loads whole runs of parents with equal leading values from where the parent key stands, with
// their records and the orphans of those values, as loadRuns does for a key of the primary file.
int View::loadJoinRuns(bool forward, bool append) {
    KeptBuffers kept;
    for (Join& j : joins_) kept.keep(j.table->record());
    ViewTable& par = parent();
    const bool keyForward = forward != backward_;
    if (!append) {
        entries_.clear();
        arena_.clear();
        sliceStart_.clear();
        sliceEnd_.clear();
        stamp_ = primary_.changeStamp();
        parentStamp_ = par.changeStamp();
    }
    const std::size_t before = entries_.size();
    std::string lead, values, firstPos, lastPos;
    bool more = false, any = false;
    // The parents of the run being read, whose records are read together at its end.
    std::vector<std::uint8_t> run;
    int rc;
    while ((rc = keyForward ? par.next() : par.previous()) == 0) {
        if (!parentPrefix_.empty() && pastParentPrefix(keyForward)) {
            rc = err::RecordNotAvailable;
            break;
        }
        values.clear();
        for (std::size_t i = 0; i < served_; ++i)
            encodeValue(items_[i].expr.evaluate(), items_[i].descending, values);
        if (!any) {
            any = true;
            lead = values;
            firstPos = par.position(parentKey_);
        } else if (values != lead) {
            if ((rc = readChildrenOf(run)) != 0) break;
            run.clear();
            if (entries_.size() - before >= runRows_) {
                more = true;
                rc = keyForward ? par.previous() : par.next();
                if (rc == 0) lastPos = par.position(parentKey_);
                break;
            }
            lead = values;
        }
        if (parentFilter_ && !filter_.isTrue()) continue;
        auto b = par.record().buffer();
        run.insert(run.end(), b.begin(), b.end());
    }
    if (rc == err::RecordNotAvailable && !run.empty()) {
        if (int c = readChildrenOf(run)) rc = c;
    }
    if (rc != 0 && rc != err::RecordNotAvailable) {
        entries_.resize(before);
        built_ = false;
        return rc;
    }
    // The orphans up to the last run read (all that remain this way when the key ended).
    const std::string_view xa = extrasArena_;
    auto leadAt = [&](std::size_t i) { return xa.substr(extras_[i].offset, extraLeads_[i]); };
    std::size_t from = 0, to = 0;
    if (forward) {
        from = exHi_;
        to = more ? exHi_ : extras_.size();
        while (more && to < extras_.size() && compareBytes(leadAt(to), lead) <= 0) ++to;
        exHi_ = to;
    } else {
        to = exLo_;
        from = more ? exLo_ : 0;
        while (more && from > 0 && compareBytes(leadAt(from - 1), lead) >= 0) --from;
        exLo_ = from;
    }
    for (std::size_t i = from; i < to; ++i) {
        const Entry& e = extras_[i];
        auto offset = static_cast<std::uint32_t>(arena_.size());
        arena_.append(xa.substr(e.offset, e.length));
        entries_.push_back(Entry::of(e.pointer, arena_, offset, e.length));
    }
    closeLoad(forward, append, before, firstPos, lastPos, more);
    return 0;
}

// Reading ran off a side of the slice that is not the end of the result: back to the slice's
// last (first) parent in the parent key, then on from it.
bool View::extendJoinRuns(bool forward) {
    ViewTable& par = parent();
    const std::string& edge = forward ? sliceEnd_ : sliceStart_;
    // A slice that holds no parent has every parent this way.
    const bool placed = edge.empty() ? (parentPrefix_.empty() ? par.setStart(parentKey_)
                                                              : seekParentPrefix(forward != backward_)) == 0
                                     : backToEdge(par, parentKey_, edge, forward != backward_);
    return placed && loadJoinRuns(forward, true) == 0;
}

// A new slice around a record given by its order values, with the record in the buffers when it
// still exists; a record gone since is placed by its parent's place in the parent key. A record
// that exists is placed by its values now (its customer may have moved it since the position was
// taken), so that the slice and the place in it agree.
int View::placeJoinAnchor(const std::string& key, std::uint64_t pointer, bool truncated,
                          std::string_view parentPosition) {
    ViewTable& par = parent();
    std::string at = key;
    if (parentPosition.empty()) {
        at = sortKey();
        truncated = false;
    } else {
        int rc = par.reset(parentKey_, parentPosition);
        if (rc == 0) rc = par.next();
        if (rc == err::RecordNotAvailable) {
            rc = startJoinRuns(false);
            return rc ? rc : placeSortedAt(key, pointer, truncated);
        }
        if (rc) return rc;
    }
    auto b = par.record().buffer();
    const std::vector<std::uint8_t> image(b.begin(), b.end());
    int rc = seekJoinRuns(image, served_);
    return rc ? rc : placeSortedAt(at, pointer, truncated);
}

// ---- Operations --------------------------------------------------------------------------

int View::finish(int op, int code, std::chrono::steady_clock::time_point start) {
    if (tracer_) {
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        int system = code == err::FileSystemError ? std::max(0, fileErrorCode() - 300) : 0;
        tracer_->write(
            traceOperationText(op, static_cast<std::uintptr_t>(id_), code, system, elapsed.count() / 10, {}));
    }
    if (code == 0)
        clearError();
    else if (errorCode() != code)
        setError(code);
    return code;
}

int View::open() {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (open_) return finish(OpOpen, err::FileAlreadyOpen, start);
    if (trace_.profile && !tracer_) {
        tracer_ = std::make_shared<TraceLog>(trace_.traceFile, false);
        tracer_->write(declaration());
    }
    for (Join& j : joins_) {
        j.table->viewOperation(OpQueryView, id_);
        j.table->viewOperation(OpInView, id_);
    }
    open_ = true;
    dirty_ = true;
    built_ = false;
    haveCurrent_ = false;
    int rc = prepare();
    if (rc == 0) rc = startOver();
    if (rc != 0) open_ = false;
    return finish(OpOpen, rc, start);
}

int View::close() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpClose, err::FileNotOpen, start);
    for (Join& j : joins_) j.table->viewOperation(OpEndView, id_);
    open_ = false;
    entries_.clear();
    entries_.shrink_to_fit();
    arena_.clear();
    arena_.shrink_to_fit();
    built_ = false;
    int rc = finish(OpClose, 0, start);
    tracer_.reset();
    return rc;
}

// A live order at its start, or at the first n order values of the buffers. The place in the key
// depends on the direction of the first read (the first record of the range, or the last), so
// the values are kept until then.
int View::setLive(int items) {
    pendingSet_.clear();
    lastGood_.clear();
    std::size_t given = std::min<std::size_t>(static_cast<std::size_t>(std::max(items, 0)), items_.size());
    if (plan_ == Plan::Query) {
        if (given == 0) return primary_.setStart(key_);
        resolveJoins();
        pendingValues_.clear();
        for (std::size_t i = 0; i < given; ++i) pendingValues_.push_back(items_[i].expr.evaluate());
        pendingSet_.assign(1, 0); // the start waits for the first read, as below
        return 0;
    }
    if (key_ < 0) return primary_.setStart(-1);
    if (given == 0 && fixed_.empty() && !low_ && !high_) return primary_.setStart(key_);
    auto buffer = primary_.record().buffer();
    pendingSet_.assign(buffer.begin(), buffer.end());
    pendingItems_ = given;
    return 0;
}

// The reading at the start of the order, whichever way it goes first.
int View::startOver() {
    if (!sorted_) return setLive(0);
    pendingStart_ = true;
    return 0;
}

int View::startPendingSet(bool forward) {
    std::vector<std::uint8_t> image = std::move(pendingSet_);
    pendingSet_.clear();
    if (plan_ == Plan::Query) return primary_.setQueryFrom(pendingValues_);
    return seekKey(image, pendingItems_, forward != backward_);
}

int View::set(int items) {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpSetView, err::FileNotOpen, start);
    primary_.viewOperation(OpSetView, id_);
    readingKey();
    // The values to start from are taken before a slice is read through the buffers.
    std::string partial;
    std::size_t given = std::min<std::size_t>(static_cast<std::size_t>(std::max(items, 0)), items_.size());
    auto buffer = primary_.record().buffer();
    std::vector<std::uint8_t> image(buffer.begin(), buffer.end());
    if (sorted_ && given > 0) {
        resolveJoins();
        for (std::size_t i = 0; i < given; ++i)
            encodeValue(items_[i].expr.evaluate(), items_[i].descending, partial);
        if (plan_ == Plan::JoinRuns) {
            // The leading values are the parent's: the walk starts at its buffer.
            auto b = parent().record().buffer();
            image.assign(b.begin(), b.end());
        }
    }
    int rc = prepare();
    haveCurrent_ = false;
    pendingStart_ = false;
    if (rc == 0) {
        if (!sorted_) {
            rc = setLive(items);
        } else if (given == 0) {
            pendingStart_ = true;
        } else {
            if (plan_ == Plan::KeyRuns)
                rc = placeRuns(image, given);
            else if (plan_ == Plan::JoinRuns)
                rc = seekJoinRuns(image, given);
            else if (!holdsWholeSet() && !buildSet())
                rc = errorCode() ? errorCode() : err::UnknownError;
            if (rc == 0) {
                std::string_view arena = arena_;
                auto lead = [&](const Entry& e) {
                    std::string_view v = arena.substr(e.offset, e.length);
                    return v.substr(0, std::min(v.size(), partial.size()));
                };
                auto first = std::partition_point(entries_.begin(), entries_.end(), [&](const Entry& e) {
                    return compareBytes(lead(e), partial) < 0;
                });
                auto last = std::partition_point(first, entries_.end(), [&](const Entry& e) {
                    return compareBytes(lead(e), partial) <= 0;
                });
                nextIndex_ = first - entries_.begin();
                prevIndex_ = (last - entries_.begin()) - 1;
            }
        }
    }
    return finish(OpSetView, rc, start);
}

int View::resetToFile() {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpResetViewFile, err::FileNotOpen, start);
    primary_.viewOperation(OpResetViewFile, id_);
    readingKey();
    int rc = 0;
    if (!sorted_) {
        std::string pos = primary_.position(key_);
        rc = prepare();
        lastGood_.clear();
        if (rc == 0) rc = pos.empty() ? setLive(static_cast<int>(items_.size())) : primary_.reset(key_, pos);
    } else {
        std::uint64_t ptr = primary_.pointer();
        resolveJoins();
        std::string key = sortKey();
        rc = prepare();
        pendingStart_ = false;
        if (rc == 0) rc = placeAnchor(key, ptr, false, {});
    }
    haveCurrent_ = false;
    return finish(OpResetViewFile, rc, start);
}

int View::readLive(bool forward) {
    if (!pendingSet_.empty()) {
        int rc = startPendingSet(forward);
        if (rc) return rc;
    }
    bool keyForward = forward != backward_;
    while (true) {
        int rc = stepKey(keyForward);
        if (rc) {
            // A walk that passed over records stands beyond the last one handed out: put it back
            // there, so that the view stays where it was.
            if (confined() && !lastGood_.empty() && primary_.reset(key_, lastGood_) == 0 &&
                primary_.next() == 0)
                resolveJoins();
            return rc;
        }
        if (!resolveJoins() || !filter_.isTrue()) continue;
        if (confined()) lastGood_ = primary_.position(key_);
        return 0;
    }
}

int View::readSorted(bool forward) {
    if (pendingStart_ || !built_) {
        // SET without values: the first rows for NEXT, the last for PREVIOUS.
        pendingStart_ = false;
        int want = forward ? 1 : -1;
        if (holdsWholeSet() || (built_ && plan_ == Plan::Sorted && edge_ == want)) {
        } else if (plan_ == Plan::Sorted && spareEdge_ == want) {
            swapSpare(); // Home after End (or End after Home): the window kept from before
        } else if (plan_ == Plan::Sorted) {
            if (built_ && edge_ != 0) swapSpare(); // kept for the way back
            if (!buildEdge(forward)) return errorCode() ? errorCode() : err::UnknownError;
        } else if (plan_ == Plan::JoinRuns) {
            if (int rc = startJoinRuns(forward)) return rc;
        } else {
            int rc = seekKey(primary_.record().buffer(), 0, forward != backward_);
            if (rc == 0) rc = loadRuns(forward, false);
            if (rc) return rc;
            (forward ? coversStart_ : coversEnd_) = true;
        }
        const auto n = static_cast<std::ptrdiff_t>(entries_.size());
        nextIndex_ = forward ? 0 : n;
        prevIndex_ = forward ? -1 : n - 1;
        current_ = -1;
    }
    std::ptrdiff_t i = forward ? nextIndex_ : prevIndex_;
    while (true) {
        const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(entries_.size());
        if (i < 0 || i >= n) {
            bool more = forward ? (i >= n && !coversEnd_) : (i < 0 && !coversStart_);
            if (!more) return err::RecordNotAvailable;
            (forward ? nextIndex_ : prevIndex_) = i;
            if (!extendSlice(forward)) return errorCode() ? errorCode() : err::RecordNotAvailable;
            i = forward ? nextIndex_ : prevIndex_;
            continue;
        }
        int rc = primary_.fetch(entries_[static_cast<std::size_t>(i)].pointer);
        if (rc == 0 && resolveJoins() && filter_.isTrue()) {
            nextIndex_ = i + 1;
            prevIndex_ = i - 1;
            current_ = i;
            return 0;
        }
        // Deleted since the slice was read, or changed so that it no longer belongs.
        if (rc != 0 && rc != err::RecordNotFound) return rc;
        i += forward ? 1 : -1;
    }
}

// A failed read leaves the last record read as the current one (its buffers are unchanged).
void View::noteRead(int rc) {
    if (rc != 0) return;
    haveCurrent_ = true;
    currentPointer_ = primary_.pointer();
}

int View::next() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpNext, err::FileNotOpen, start);
    if (changed_) {
        // A new order or filter starts the reading over.
        int rc = prepare();
        if (rc == 0) rc = startOver();
        if (rc) return finish(OpNext, rc, start);
    }
    int rc = sorted_ ? readSorted(true) : readLive(true);
    noteRead(rc);
    return finish(OpNext, rc, start);
}

int View::previous() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpPrevious, err::FileNotOpen, start);
    if (changed_) {
        int rc = prepare();
        if (rc == 0) rc = startOver();
        if (rc) return finish(OpPrevious, rc, start);
    }
    int rc = sorted_ ? readSorted(false) : readLive(false);
    noteRead(rc);
    return finish(OpPrevious, rc, start);
}

int View::skip(int count) {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpSkip, err::FileNotOpen, start);
    int rc = 0;
    for (int i = 0; i < std::abs(count) && rc == 0; ++i) {
        rc = sorted_ ? readSorted(count > 0) : readLive(count > 0);
        noteRead(rc);
    }
    return finish(OpSkip, rc, start);
}

std::string View::position() {
    auto start = std::chrono::steady_clock::now();
    if (!open_ || !haveCurrent_) {
        finish(OpPositionFile, open_ ? err::RecordNotAvailable : err::FileNotOpen, start);
        return {};
    }
    Position p;
    p.pointer = currentPointer_;
    if (sorted_) {
        // Key-led orders also keep the record's place in the key, for when it is gone: its
        // length in one byte, then the place, then the order values.
        const bool runs = plan_ == Plan::KeyRuns || plan_ == Plan::JoinRuns;
        p.kind = runs ? 'R' : 'S';
        p.plan = hashText(orderText_);
        if (runs) {
            // Join-led orders keep the place of the record's parent in the parent key.
            std::string keyPos;
            if (primary_.pointer() == currentPointer_) {
                if (plan_ == Plan::KeyRuns)
                    keyPos = primary_.position(key_);
                else if (joins_[static_cast<std::size_t>(parentJoin_)].present)
                    keyPos = parent().position(parentKey_);
            }
            if (keyPos.size() > 128) keyPos.clear();
            p.data = static_cast<char>(keyPos.size()) + keyPos;
        }
        const Entry& e = entries_[static_cast<std::size_t>(current_)];
        std::size_t room = MaxPositionKey - p.data.size();
        p.data += arena_.substr(e.offset, std::min<std::size_t>(e.length, room));
        p.truncated = e.length > room;
    } else if (plan_ == Plan::Query) {
        p.kind = 'Q';
        p.plan = hashText(orderText_ + "\n" + filterText_);
        p.data = primary_.position(key_);
    } else {
        p.kind = 'K';
        p.plan = static_cast<std::uint64_t>(key_ + 1);
        p.data = primary_.position(key_);
    }
    finish(OpPositionFile, 0, start);
    return encodePosition(p);
}

int View::reset(std::string_view text) {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpResetFile, err::FileNotOpen, start);
    auto p = decodePosition(text);
    if (!p) return finish(OpResetFile, err::RecordNotFound, start);
    readingKey();
    int rc = prepare();
    haveCurrent_ = false;
    if (rc == 0) {
        char kind = plan_ == Plan::KeyRuns || plan_ == Plan::JoinRuns ? 'R'
                    : plan_ == Plan::Sorted                           ? 'S'
                    : plan_ == Plan::Query                            ? 'Q'
                                                                      : 'K';
        std::uint64_t plan = sorted_                ? hashText(orderText_)
                             : plan_ == Plan::Query ? hashText(orderText_ + "\n" + filterText_)
                                                    : static_cast<std::uint64_t>(key_ + 1);
        bool samePlan = p->kind == kind && p->plan == plan;
        std::string keyPos;
        if (samePlan && kind == 'R') {
            std::size_t n = p->data.empty() ? 0 : static_cast<unsigned char>(p->data[0]);
            if (p->data.size() < n + 1) return finish(OpResetFile, err::RecordNotFound, start);
            keyPos = p->data.substr(1, n);
            p->data.erase(0, n + 1);
        }
        pendingStart_ = false;
        lastGood_.clear();
        bool alive = samePlan && !sorted_ ? true : primary_.fetch(p->pointer) == 0;
        if (samePlan && !sorted_) {
            rc = primary_.reset(key_, p->data);
        } else if (samePlan && !alive && kind == 'R' && keyPos.empty()) {
            rc = startOver(); // gone, and its place in the key not kept
        } else if (samePlan) {
            if (alive) resolveJoins();
            rc = placeAnchor(p->data, p->pointer, p->truncated, alive ? std::string_view() : keyPos);
        } else if (alive) {
            // A position of another order: find the record and place the view at it.
            if (!sorted_) {
                std::string pos = primary_.position(key_);
                rc = primary_.reset(key_, pos);
            } else {
                resolveJoins();
                rc = placeAnchor(sortKey(), p->pointer, false, {});
            }
        } else {
            // The record is gone and its place in this order unknown: start at the beginning.
            rc = startOver();
        }
    }
    return finish(OpResetFile, rc, start);
}

int View::reget(std::string_view text) {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpRegetFile, err::FileNotOpen, start);
    auto p = decodePosition(text);
    if (!p) return finish(OpRegetFile, err::RecordNotFound, start);
    int rc = primary_.fetch(p->pointer);
    if (rc == 0) {
        resolveJoins();
        currentPointer_ = p->pointer;
        haveCurrent_ = true;
        readingKey();
        if (sorted_ && built_) {
            // Make the record current in the slice, so that reading goes on from it.
            std::string key = sortKey();
            pendingStart_ = false;
            placeSortedAt(key, p->pointer, false);
            bool found = prevIndex_ == nextIndex_;
            if (!found && !(plan_ == Plan::Sorted && holdsWholeSet())) {
                // Outside the slice: place it anew around the record (the buffers hold it).
                std::vector<std::vector<std::uint8_t>> saved;
                for (Join& j : joins_) {
                    auto b = j.table->record().buffer();
                    saved.emplace_back(b.begin(), b.end());
                }
                placeAnchor(key, p->pointer, false, {});
                for (std::size_t k = 0; k < joins_.size(); ++k) {
                    auto b = joins_[k].table->record().buffer();
                    std::copy(saved[k].begin(), saved[k].end(), b.begin());
                }
                found = prevIndex_ == nextIndex_;
            }
            if (found) {
                current_ = nextIndex_;
                nextIndex_ = current_ + 1;
                prevIndex_ = current_ - 1;
            } else {
                haveCurrent_ = false;
            }
        } else if (!sorted_) {
            lastGood_.clear();
        }
    }
    return finish(OpRegetFile, rc, start);
}

int View::watch() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpWatch, err::FileNotOpen, start);
    return finish(OpWatch, primary_.watch(), start);
}

int View::flush() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpFlush, err::FileNotOpen, start);
    dirty_ = true;
    return finish(OpFlush, 0, start);
}

std::int64_t View::records() {
    pendingSet_.clear();
    auto start = std::chrono::steady_clock::now();
    if (!open_) {
        finish(OpRecordsFile, err::FileNotOpen, start);
        return -1;
    }
    int rc = prepare();
    std::int64_t n = -1;
    if (rc == 0) {
        bool anyInner = false;
        for (const Join& j : joins_) anyInner = anyInner || j.inner;
        if (plan_ == Plan::Sorted) {
            if (!holdsWholeSet()) {
                // The whole set replaces a window: the reading starts over.
                if (!buildSet()) rc = errorCode() ? errorCode() : err::UnknownError;
                pendingStart_ = true;
            }
            n = static_cast<std::int64_t>(entries_.size());
        } else if (plan_ == Plan::Query && !anyInner) {
            n = primary_.queryRecords();
            if (n < 0) rc = errorCode() ? errorCode() : err::UnknownError;
        } else if (!anyInner && !confined()) {
            n = key_ >= 0 && primary_.keys()[static_cast<std::size_t>(key_)].optional
                    ? primary_.keyRecords(key_)
                    : primary_.records();
        } else {
            // Counting takes a walk; the reading starts over after.
            n = countByWalking();
            rc = n < 0 ? errorCode() : 0;
            if (rc == 0) rc = startOver();
            haveCurrent_ = false;
        }
    }
    finish(OpRecordsFile, rc, start);
    return rc == 0 ? n : -1;
}

int View::put() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpPut, err::FileNotOpen, start);
    return finish(OpPut, primary_.put(), start);
}

int View::remove() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpDelete, err::FileNotOpen, start);
    return finish(OpDelete, primary_.remove(), start);
}

int View::hold(int seconds) {
    auto start = std::chrono::steady_clock::now();
    int op = seconds < 0 ? OpHoldFile : OpHoldFileSec;
    if (!open_) return finish(op, err::FileNotOpen, start);
    return finish(op, primary_.hold(seconds), start);
}

int View::release() {
    auto start = std::chrono::steady_clock::now();
    if (!open_) return finish(OpRelease, err::FileNotOpen, start);
    return finish(OpRelease, primary_.release(), start);
}

std::string View::declaration() {
    std::string out = "VIEW(" + primary_.label() + ")\n";
    auto projection = [&](const Join& j, const std::string& indent) {
        if (j.project.empty()) return;
        const Layout& l = j.table->record().layout();
        out += indent + "PROJECT(";
        for (std::size_t i = 0; i < j.project.size(); ++i) {
            int f = j.project[i].first;
            std::string name =
                f >= 0 && f < static_cast<int>(l.count()) ? l.field(static_cast<std::size_t>(f)).name : "?";
            out += (i ? "," : "") + std::string(j.project[i].second ? "MEMO(" : "FIELD(") + name + ")";
        }
        out += ")\n";
    };
    // Joins nest under their outer file, in declaration order.
    std::function<void(int, const std::string&)> emit = [&](int outer, const std::string& indent) {
        projection(joins_[static_cast<std::size_t>(outer)], indent);
        for (std::size_t k = 1; k < joins_.size(); ++k) {
            const Join& j = joins_[k];
            if (j.outer != outer) continue;
            const Layout& ol = joins_[static_cast<std::size_t>(outer)].table->record().layout();
            const Layout& il = j.table->record().layout();
            out += indent + "JOIN(";
            if (j.key >= 0) {
                out += j.table->keys()[static_cast<std::size_t>(j.key)].label;
                for (int f : j.outerFields)
                    out += ",FIELD(" + ol.field(static_cast<std::size_t>(f)).name + ")";
            } else {
                out += j.table->label();
                for (auto [o, i] : j.pairs)
                    out += ",FIELD(" + ol.field(static_cast<std::size_t>(o)).name + "," +
                           il.field(static_cast<std::size_t>(i)).name + ")";
            }
            out += ")";
            if (j.inner) out += ",INNER";
            out += "\n";
            emit(static_cast<int>(k), indent + "  ");
            out += indent + "END\n";
        }
    };
    emit(0, "  ");
    out += "END\n";
    return out;
}

} // namespace sorv
