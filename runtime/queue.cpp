// Queues: the entry arena, the blocked order sequences, compiled key comparators and the
// operations of the language over them.
//
// Invariants kept between operations:
// - Every live entry handle is in the unsorted sequence and in every remembered sorted sequence,
//   exactly once; no sequence holds a block without handles.
// - Each remembered sorted sequence is ordered by its key (never descending against it); the
//   unsorted sequence is the order of placement.
// - An insert into a sequence never allocates: the operation reserves a spare block and room in
//   the block tables first, so a failure for lack of memory happens before anything changed.
#include "runtime/queue.h"

#include "runtime/errors.h"
#include "runtime/registry.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace sorv {

namespace {

thread_local int tFailAfter = -1;

// Every allocation of the queue passes here first, so tests can make any of them fail.
void allocationPoint() {
    if (tFailAfter < 0) return;
    if (tFailAfter-- == 0) throw std::bad_alloc();
}

constexpr std::size_t BlockFill = 512; // handles per block when an order is built
constexpr std::size_t BlockMax = 1024; // a block this full splits on the next insert

struct Block {
    std::vector<std::uint32_t> items;
    std::size_t index = 0; // position in the sequence's block table
};

std::unique_ptr<Block> newBlock() {
    allocationPoint();
    auto b = std::make_unique<Block>();
    b->items.reserve(BlockMax + 1);
    return b;
}

// One order: a sequence of entry handles in blocks, with a Fenwick tree over the block sizes for
// positions and a link from each handle to its block for removal and rank.
class Sequence {
public:
    std::size_t size() const { return size_; }

    // Room for links of handles below n.
    void reserveHandles(std::size_t n) {
        if (where_.size() >= n) return;
        allocationPoint();
        where_.resize(n, nullptr);
    }

    // After this, one insert cannot fail.
    void reserveSpare() {
        if (!spare_) spare_ = newBlock();
        if (blocks_.capacity() < blocks_.size() + 1) {
            allocationPoint();
            blocks_.reserve(blocks_.size() * 2 + 4);
        }
        if (tree_.capacity() < blocks_.size() + 2) {
            allocationPoint();
            tree_.reserve(blocks_.size() * 2 + 6);
        }
    }

    std::uint32_t at(std::size_t pos) const {
        std::size_t b, off;
        locate(pos, b, off);
        return blocks_[b]->items[off];
    }

    std::size_t rankOf(std::uint32_t h) const {
        const Block* blk = where_[h];
        auto it = std::find(blk->items.begin(), blk->items.end(), h);
        return prefix(blk->index) + static_cast<std::size_t>(it - blk->items.begin());
    }

    // Inserts h so that it becomes entry pos (pos >= size appends). Needs reserveSpare() first.
    void insert(std::size_t pos, std::uint32_t h) noexcept {
        if (blocks_.empty()) {
            blocks_.push_back(std::move(spare_));
            blocks_[0]->index = 0;
            rebuildTree();
        }
        std::size_t b, off;
        if (pos >= size_) {
            b = blocks_.size() - 1;
            off = blocks_[b]->items.size();
        } else {
            locate(pos, b, off);
        }
        Block* blk = blocks_[b].get();
        blk->items.insert(blk->items.begin() + static_cast<std::ptrdiff_t>(off), h);
        where_[h] = blk;
        ++size_;
        if (blk->items.size() > BlockMax)
            split(b);
        else
            addTree(b, 1);
    }

    void erase(std::uint32_t h) noexcept {
        Block* blk = where_[h];
        auto it = std::find(blk->items.begin(), blk->items.end(), h);
        blk->items.erase(it);
        where_[h] = nullptr;
        --size_;
        std::size_t b = blk->index;
        std::size_t n = blk->items.size();
        if (n == 0) {
            removeBlock(b);
        } else if (n < BlockFill / 4 && b + 1 < blocks_.size() &&
                   n + blocks_[b + 1]->items.size() <= BlockFill) {
            merge(b);
        } else if (n < BlockFill / 4 && b > 0 && n + blocks_[b - 1]->items.size() <= BlockFill) {
            merge(b - 1);
        } else {
            addTree(b, -1);
        }
    }

    // The first position whose handle is not `before` (the sequence is partitioned by it).
    template <typename Before> std::size_t partitionPoint(Before before) const {
        auto bt =
            std::partition_point(blocks_.begin(), blocks_.end(), [&](const std::unique_ptr<Block>& blk) {
                return before(blk->items.back());
            });
        if (bt == blocks_.end()) return size_;
        const auto& items = (*bt)->items;
        auto it = std::partition_point(items.begin(), items.end(), before);
        return prefix(static_cast<std::size_t>(bt - blocks_.begin())) +
               static_cast<std::size_t>(it - items.begin());
    }

    // Fills an empty sequence with n handles, get(i) giving the i-th.
    template <typename Get> void assign(std::size_t n, Get get) {
        std::size_t i = 0;
        while (i < n) {
            auto blk = newBlock();
            std::size_t end = std::min(n, i + BlockFill);
            for (; i < end; ++i) {
                std::uint32_t h = get(i);
                blk->items.push_back(h);
                where_[h] = blk.get();
            }
            blk->index = blocks_.size();
            allocationPoint();
            blocks_.push_back(std::move(blk));
        }
        size_ = n;
        allocationPoint();
        tree_.reserve(blocks_.size() + 2);
        rebuildTree();
    }

    template <typename F> void forEach(F f) const {
        for (const auto& blk : blocks_)
            for (std::uint32_t h : blk->items) f(h);
    }

private:
    void locate(std::size_t pos, std::size_t& b, std::size_t& off) const {
        std::size_t nb = blocks_.size(), idx = 0;
        for (std::size_t step = std::bit_floor(nb); step; step >>= 1)
            if (idx + step <= nb && tree_[idx + step] <= pos) {
                idx += step;
                pos -= tree_[idx];
            }
        b = idx;
        off = pos;
    }
    // Handles in the blocks before block b.
    std::size_t prefix(std::size_t b) const {
        std::size_t s = 0;
        for (std::size_t i = b; i > 0; i -= i & (~i + 1)) s += tree_[i];
        return s;
    }
    void addTree(std::size_t b, int delta) {
        for (std::size_t i = b + 1; i < tree_.size(); i += i & (~i + 1))
            tree_[i] = static_cast<std::uint32_t>(static_cast<std::int64_t>(tree_[i]) + delta);
    }
    void rebuildTree() {
        std::size_t nb = blocks_.size();
        tree_.assign(nb + 1, 0); // within the reserved capacity
        for (std::size_t i = 1; i <= nb; ++i) {
            tree_[i] += static_cast<std::uint32_t>(blocks_[i - 1]->items.size());
            std::size_t j = i + (i & (~i + 1));
            if (j <= nb) tree_[j] += tree_[i];
        }
    }
    void reindex(std::size_t from) {
        for (std::size_t i = from; i < blocks_.size(); ++i) blocks_[i]->index = i;
    }
    void split(std::size_t b) {
        std::unique_ptr<Block> nb = std::move(spare_);
        Block* blk = blocks_[b].get();
        std::size_t half = blk->items.size() / 2;
        nb->items.assign(blk->items.begin() + static_cast<std::ptrdiff_t>(half), blk->items.end());
        blk->items.resize(half);
        for (std::uint32_t h : nb->items) where_[h] = nb.get();
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(nb));
        reindex(b + 1);
        rebuildTree();
    }
    void merge(std::size_t b) {
        Block* into = blocks_[b].get();
        Block* from = blocks_[b + 1].get();
        for (std::uint32_t h : from->items) {
            into->items.push_back(h); // capacity BlockMax + 1 > BlockFill: no allocation
            where_[h] = into;
        }
        from->items.clear();
        removeBlock(b + 1);
    }
    void removeBlock(std::size_t b) {
        if (!spare_) {
            spare_ = std::move(blocks_[b]);
            spare_->items.clear();
        }
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
        reindex(b);
        rebuildTree();
    }

    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<std::uint32_t> tree_; // 1-based Fenwick tree of block sizes
    std::vector<Block*> where_;       // by handle: the block holding it
    std::unique_ptr<Block> spare_;
    std::size_t size_ = 0;
};

// Compiled key fields: one comparison per field by its stored bytes, with no value conversion.
enum class Kind : std::uint8_t { Text, CText, PText, U8, I16, U16, I32, U32, F32, F64, Dec, PDec, Other };

struct Part {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    Kind kind = Kind::Other;
    bool descending = false;
    const FieldDesc* field = nullptr;
};

struct KeySpec {
    std::array<int, Queue::MaxKeyFields> f{};
    int n = 0;
    friend bool operator==(const KeySpec& a, const KeySpec& b) {
        return a.n == b.n && std::equal(a.f.begin(), a.f.begin() + a.n, b.f.begin());
    }
};

template <typename T> T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> int cmpNum(T x, T y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Binary reals never leave the order undefined: a NaN sorts before every number and equals NaN.
template <typename T> int cmpReal(T x, T y) {
    bool nx = std::isnan(x), ny = std::isnan(y);
    if (nx || ny) return nx == ny ? 0 : (nx ? -1 : 1);
    return cmpNum(x, y);
}

bool isBlank(std::uint8_t c) {
    return c == ' ' || c == 0;
}

bool blankFrom(const std::uint8_t* p, std::size_t i, std::size_t n) {
    for (; i < n; ++i)
        if (!isBlank(p[i])) return false;
    return true;
}

// Two STRING fields of one size, as compareText orders them (trailing blanks and zeros dropped),
// found from the first differing byte.
int cmpText(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    static_assert(std::endian::native == std::endian::little);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = load<std::uint64_t>(a + i), y = load<std::uint64_t>(b + i);
        if (x != y) {
            i += static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
            goto differ;
        }
    }
    for (; i < n; ++i)
        if (a[i] != b[i]) goto differ;
    return 0;
differ:
    std::uint8_t ca = a[i], cb = b[i];
    if (isBlank(ca) || isBlank(cb)) {
        bool endA = isBlank(ca) && blankFrom(a, i + 1, n);
        bool endB = isBlank(cb) && blankFrom(b, i + 1, n);
        if (endA || endB) return endA == endB ? 0 : (endA ? -1 : 1);
    }
    return ca < cb ? -1 : 1;
}

int cmpClipped(const std::uint8_t* a, std::size_t la, const std::uint8_t* b, std::size_t lb) {
    while (la > 0 && isBlank(a[la - 1])) --la;
    while (lb > 0 && isBlank(b[lb - 1])) --lb;
    std::size_t n = std::min(la, lb);
    int c = n ? std::memcmp(a, b, n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return cmpNum(la, lb);
}

int nibble(const std::uint8_t* p, int idx) {
    return idx % 2 == 0 ? p[idx / 2] >> 4 : p[idx / 2] & 0x0F;
}

// Packed decimals of one field compared exactly as unpackDecimal reads them (a corrupt digit
// nibble counts as 9, a negative zero equals zero).
int cmpDecimal(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t size, bool packed) {
    if (size == 0 || std::memcmp(a, b, size) == 0) return 0;
    int nibbles = static_cast<int>(size) * 2;
    int first = packed ? 0 : 1, last = packed ? nibbles - 2 : nibbles - 1;
    int signIdx = packed ? nibbles - 1 : 0;
    auto negative = [&](const std::uint8_t* p) {
        int s = nibble(p, signIdx);
        return packed ? (s == 0xD || s == 0xB) : s != 0;
    };
    int mag = 0;
    bool zeroA = true, zeroB = true;
    for (int idx = first; idx <= last; ++idx) {
        int da = std::min(nibble(a, idx), 9), db = std::min(nibble(b, idx), 9);
        if (mag == 0 && da != db) mag = da < db ? -1 : 1;
        zeroA = zeroA && da == 0;
        zeroB = zeroB && db == 0;
    }
    bool na = negative(a) && !zeroA, nb = negative(b) && !zeroB;
    if (na != nb) return na ? -1 : 1;
    return na ? -mag : mag;
}

class Comparator {
public:
    Comparator() = default;
    Comparator(const Layout& layout, const KeySpec& key) {
        for (int i = 0; i < key.n; ++i) {
            int f = key.f[static_cast<std::size_t>(i)];
            const FieldDesc& d = layout.field(static_cast<std::size_t>(std::abs(f) - 1));
            Part p;
            p.offset = d.offset;
            p.size = std::min(d.size, d.offset < layout.size() ? layout.size() - d.offset : 0u);
            p.descending = f < 0;
            p.field = &d;
            p.kind = kindOf(d.type, p.size);
            parts_[static_cast<std::size_t>(n_++)] = p;
        }
    }

    int operator()(const std::uint8_t* a, const std::uint8_t* b) const {
        for (int i = 0; i < n_; ++i) {
            const Part& p = parts_[static_cast<std::size_t>(i)];
            int c = comparePart(p, a + p.offset, b + p.offset);
            if (c != 0) return p.descending ? -c : c;
        }
        return 0;
    }

    int count() const { return n_; }
    const Part& part(int i) const { return parts_[static_cast<std::size_t>(i)]; }

private:
    static Kind kindOf(FieldType t, std::uint32_t size) {
        auto fits = [&](std::uint32_t n) { return size >= n; };
        switch (t) {
        case FieldType::String:
        case FieldType::Memo:
        case FieldType::Group:
            return Kind::Text;
        case FieldType::CString:
            return Kind::CText;
        case FieldType::PString:
            return Kind::PText;
        case FieldType::Byte:
            return fits(1) ? Kind::U8 : Kind::Other;
        case FieldType::Short:
            return fits(2) ? Kind::I16 : Kind::Other;
        case FieldType::UShort:
            return fits(2) ? Kind::U16 : Kind::Other;
        case FieldType::Date:
        case FieldType::Time:
        case FieldType::Long:
            return fits(4) ? Kind::I32 : Kind::Other;
        case FieldType::ULong:
            return fits(4) ? Kind::U32 : Kind::Other;
        case FieldType::SReal:
            return fits(4) ? Kind::F32 : Kind::Other;
        case FieldType::Real:
            return fits(8) ? Kind::F64 : Kind::Other;
        case FieldType::Decimal:
            return Kind::Dec;
        case FieldType::PDecimal:
            return Kind::PDec;
        default:
            return Kind::Other;
        }
    }

    static int comparePart(const Part& p, const std::uint8_t* a, const std::uint8_t* b) {
        switch (p.kind) {
        case Kind::Text:
            return cmpText(a, b, p.size);
        case Kind::CText:
            return cmpClipped(a, strnlen(reinterpret_cast<const char*>(a), p.size), b,
                              strnlen(reinterpret_cast<const char*>(b), p.size));
        case Kind::PText: {
            if (p.size == 0) return 0;
            std::size_t la = std::min<std::size_t>(a[0], p.size - 1),
                        lb = std::min<std::size_t>(b[0], p.size - 1);
            return cmpClipped(a + 1, la, b + 1, lb);
        }
        case Kind::U8:
            return cmpNum(*a, *b);
        case Kind::I16:
            return cmpNum(load<std::int16_t>(a), load<std::int16_t>(b));
        case Kind::U16:
            return cmpNum(load<std::uint16_t>(a), load<std::uint16_t>(b));
        case Kind::I32:
            return cmpNum(load<std::int32_t>(a), load<std::int32_t>(b));
        case Kind::U32:
            return cmpNum(load<std::uint32_t>(a), load<std::uint32_t>(b));
        case Kind::F32:
            return cmpReal(load<float>(a), load<float>(b));
        case Kind::F64:
            return cmpReal(load<double>(a), load<double>(b));
        case Kind::Dec:
            return cmpDecimal(a, b, p.size, false);
        case Kind::PDec:
            return cmpDecimal(a, b, p.size, true);
        case Kind::Other:
            break;
        }
        // Types without a stored-byte order of their own compare as the language reads them.
        const FieldDesc& f = *p.field;
        return compareField(f, std::span<const std::uint8_t>(a - f.offset, f.offset + p.size),
                            std::span<const std::uint8_t>(b - f.offset, f.offset + p.size));
    }

    std::array<Part, Queue::MaxKeyFields> parts_{};
    int n_ = 0;
};

// Sorting compares normalized keys instead of entries: the leading key fields written as up to 24
// bytes whose byte order is the key order (text as stored, whole numbers big-endian with the sign
// bit flipped, descending fields inverted). Text qualifies only while no entry holds a byte below
// a blank there, since trailing blanks are dropped before text compares. When every key field fits,
// equal normalized keys are equal keys and the entries are never touched while sorting.
class KeyEncoder {
public:
    static constexpr std::uint32_t Bytes = 24;

    KeyEncoder(const Comparator& cmp) : cmp_(cmp) {
        for (int i = 0; i < cmp.count() && used_ < Bytes; ++i) {
            const Part& p = cmp.part(i);
            std::uint32_t width = widthOf(p);
            if (width == 0) break;
            if (used_ + width > Bytes) {
                if (p.kind != Kind::Text) break;
                width = Bytes - used_; // a leading part of the text still orders
            }
            plan_.push_back({i, width});
            used_ += width;
        }
        exact_ = static_cast<int>(plan_.size()) == cmp.count() &&
                 (plan_.empty() || plan_.back().width == widthOf(cmp.part(plan_.back().part)));
    }

    // Drops text parts (and all after them) where this entry holds a byte below a blank.
    void admit(const std::uint8_t* e) {
        for (std::size_t k = 0; k < plan_.size(); ++k) {
            const Part& p = cmp_.part(plan_[k].part);
            if (p.kind != Kind::Text) continue;
            const std::uint8_t* q = e + p.offset;
            for (std::uint32_t j = 0; j < plan_[k].width; ++j)
                if (q[j] < ' ') {
                    plan_.resize(k);
                    exact_ = false;
                    return;
                }
        }
    }

    bool exact() const { return exact_; }

    void encode(const std::uint8_t* e, std::uint64_t (&w)[3]) const {
        std::uint8_t out[Bytes] = {};
        std::uint32_t at = 0;
        for (const Step& st : plan_) {
            const Part& p = cmp_.part(st.part);
            const std::uint8_t* q = e + p.offset;
            std::uint8_t* o = out + at;
            switch (p.kind) {
            case Kind::Text:
                std::memcpy(o, q, st.width);
                break;
            case Kind::U8:
                o[0] = q[0];
                break;
            case Kind::U16:
                bigEndian(o, load<std::uint16_t>(q), 2);
                break;
            case Kind::I16:
                bigEndian(o, static_cast<std::uint16_t>(load<std::uint16_t>(q) ^ 0x8000u), 2);
                break;
            case Kind::U32:
                bigEndian(o, load<std::uint32_t>(q), 4);
                break;
            case Kind::I32:
                bigEndian(o, load<std::uint32_t>(q) ^ 0x80000000u, 4);
                break;
            default:
                break;
            }
            if (p.descending)
                for (std::uint32_t j = 0; j < st.width; ++j) o[j] = static_cast<std::uint8_t>(~o[j]);
            at += st.width;
        }
        for (int i = 0; i < 3; ++i) w[i] = __builtin_bswap64(load<std::uint64_t>(out + 8 * i));
    }

private:
    struct Step {
        int part;
        std::uint32_t width;
    };
    static std::uint32_t widthOf(const Part& p) {
        switch (p.kind) {
        case Kind::Text:
            return p.size;
        case Kind::U8:
            return 1;
        case Kind::U16:
        case Kind::I16:
            return 2;
        case Kind::U32:
        case Kind::I32:
            return 4;
        default:
            return 0;
        }
    }
    static void bigEndian(std::uint8_t* o, std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i, v >>= 8) o[i] = static_cast<std::uint8_t>(v);
    }

    const Comparator& cmp_;
    std::vector<Step> plan_;
    std::uint32_t used_ = 0;
    bool exact_ = false;
};

struct Order {
    KeySpec key;
    Comparator cmp;
    Sequence seq;
};

// Entry slots in chunks that never move, handed out by handle and recycled on deletion. A chunk
// holds up to 1024 entries but stays near 64 KB, so a queue of large entries does not reserve
// megabytes for its first one.
class Arena {
public:
    explicit Arena(std::uint32_t recSize) : recSize_(recSize) {
        while (shift_ < 10 && (std::size_t{2} << shift_) * recSize_ <= 65536) ++shift_;
    }

    std::uint8_t* at(std::uint32_t h) const {
        return chunks_[h >> shift_].get() + static_cast<std::size_t>(h & (chunk() - 1)) * recSize_;
    }
    std::uint32_t chunk() const { return 1u << shift_; }
    std::size_t capacity() const { return chunks_.size() * chunk(); }
    bool full() const { return free_.empty() && used_ == capacity(); }

    // Adds a chunk; the caller has made room for the new handles in every sequence first.
    void grow(std::unique_ptr<std::uint8_t[]> chunk) noexcept { chunks_.push_back(std::move(chunk)); }
    std::unique_ptr<std::uint8_t[]> newChunk() {
        std::size_t cap = capacity() + chunk();
        if (cap > 0xFFFFFFFFu) throw std::bad_alloc(); // handles are 32 bits
        allocationPoint();
        auto c =
            std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{chunk()} * std::max(recSize_, 1u));
        if (free_.capacity() < cap) {
            allocationPoint();
            free_.reserve(std::max(cap, free_.capacity() * 2));
        }
        if (chunks_.capacity() < chunks_.size() + 1) {
            allocationPoint();
            chunks_.reserve(chunks_.size() * 2 + 1);
        }
        return c;
    }

    std::uint32_t take() noexcept {
        if (!free_.empty()) {
            std::uint32_t h = free_.back();
            free_.pop_back();
            return h;
        }
        return static_cast<std::uint32_t>(used_++);
    }
    void release(std::uint32_t h) noexcept { free_.push_back(h); } // capacity reserved in newChunk

private:
    std::uint32_t recSize_;
    std::uint32_t shift_ = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
    std::vector<std::uint32_t> free_;
    std::size_t used_ = 0;
};

bool parseKey(Queue::Key fields, int fieldCount, KeySpec& out) {
    out = KeySpec();
    for (int f : fields) {
        if (f == 0 || out.n == Queue::MaxKeyFields) break;
        if (f < -fieldCount || f > fieldCount) return false;
        out.f[static_cast<std::size_t>(out.n++)] = f;
    }
    return true;
}

bool parseNames(std::string_view text, const Layout& layout, KeySpec& out) {
    out = KeySpec();
    auto separator = [](char c) { return c == ' ' || c == ',' || c == '\t'; };
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && separator(text[i])) ++i;
        if (i == text.size()) break;
        std::size_t j = i;
        while (j < text.size() && !separator(text[j])) ++j;
        std::string_view name = text.substr(i, j - i);
        i = j;
        if (out.n == Queue::MaxKeyFields) break;
        bool descending = false;
        if (name[0] == '-' || name[0] == '+') {
            descending = name[0] == '-';
            name.remove_prefix(1);
        }
        int idx = name.empty() ? -1 : layout.find(name);
        if (idx < 0) return false;
        out.f[static_cast<std::size_t>(out.n++)] = descending ? -(idx + 1) : idx + 1;
    }
    return true;
}

} // namespace

struct Queue::Impl {
    explicit Impl(Layout layout)
        : record(std::move(layout)), recSize(record.layout().size()), arena(recSize) {
        orders.reserve(MaxSortedOrders + 1);
    }

    Record record;
    std::uint32_t recSize;
    Arena arena;
    Sequence unsorted;
    std::vector<std::unique_ptr<Order>> orders; // remembered sorted orders, most recently used first
    bool sortedCurrent = false;                 // orders.front() is current (unless one is pending)
    bool hasPending = false;
    KeySpec pending;
    bool hasCurrent = false;
    std::uint32_t current = 0;
    std::uint64_t changes = 0;
    std::uint64_t builds = 0;

    const std::uint8_t* at(std::uint32_t h) const { return arena.at(h); }
    std::uint8_t* buf() { return record.buffer().data(); }
    int fieldCount() const { return static_cast<int>(record.layout().count()); }

    KeySpec currentKey() const {
        if (hasPending) return pending;
        if (sortedCurrent) return orders.front()->key;
        return KeySpec();
    }
    // Valid after materialize().
    Sequence& currentSeq() { return sortedCurrent ? orders.front()->seq : unsorted; }

    void choose(const KeySpec& key) {
        if (key == currentKey()) return;
        hasPending = false;
        if (key.n == 0) {
            sortedCurrent = false;
            return;
        }
        for (std::size_t i = 0; i < orders.size(); ++i)
            if (orders[i]->key == key) {
                std::rotate(orders.begin(), orders.begin() + static_cast<std::ptrdiff_t>(i),
                            orders.begin() + static_cast<std::ptrdiff_t>(i + 1));
                sortedCurrent = true;
                return;
            }
        hasPending = true;
        pending = key;
    }

    // Builds the pending order; false (error 8 set) when memory runs out.
    bool materialize() {
        if (!hasPending) return true;
        try {
            allocationPoint();
            auto order = std::make_unique<Order>();
            order->key = pending;
            order->cmp = Comparator(record.layout(), pending);
            build(*order);
            if (orders.size() >= static_cast<std::size_t>(MaxSortedOrders))
                orders.pop_back();                           // least recently used
            orders.insert(orders.begin(), std::move(order)); // capacity reserved
        } catch (const std::bad_alloc&) {
            setError(err::InsufficientMemory);
            return false;
        }
        hasPending = false;
        sortedCurrent = true;
        ++builds;
        return true;
    }

    // Orders the entries by the order's key; equal keys keep the unsorted order.
    void build(Order& order) {
        struct Item {
            std::uint64_t w[3];
            std::uint32_t handle;
            std::uint32_t rank;
        };
        std::size_t n = unsorted.size();
        const Comparator& cmp = order.cmp;
        KeyEncoder enc(cmp);
        unsorted.forEach([&](std::uint32_t h) { enc.admit(at(h)); });
        allocationPoint();
        std::vector<Item> items(n);
        std::uint32_t i = 0;
        unsorted.forEach([&](std::uint32_t h) {
            Item& it = items[i];
            enc.encode(at(h), it.w);
            it.handle = h;
            it.rank = i++;
        });
        const bool exact = enc.exact();
        std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            for (int k = 0; k < 3; ++k)
                if (a.w[k] != b.w[k]) return a.w[k] < b.w[k];
            if (!exact) {
                int c = cmp(at(a.handle), at(b.handle));
                if (c != 0) return c < 0;
            }
            return a.rank < b.rank;
        });
        order.seq.reserveHandles(arena.capacity());
        order.seq.assign(n, [&](std::size_t k) { return items[k].handle; });
    }

    // Makes room for one new entry in the arena and one insert in every sequence.
    void prepareInsert() {
        if (arena.full()) {
            auto chunk = arena.newChunk();
            std::size_t cap = arena.capacity() + arena.chunk();
            unsorted.reserveHandles(cap);
            for (auto& o : orders) o->seq.reserveHandles(cap);
            arena.grow(std::move(chunk));
        }
        unsorted.reserveSpare();
        for (auto& o : orders) o->seq.reserveSpare();
    }

    static std::size_t placeOf(const Order& o, const std::uint8_t* e, const Impl& q) {
        return o.seq.partitionPoint([&](std::uint32_t h) { return o.cmp(q.at(h), e) <= 0; });
    }

    // Adds the buffer as a new entry at unsortedPos of the unsorted order and by key everywhere else.
    bool insertEntry(std::size_t unsortedPos) {
        try {
            prepareInsert();
        } catch (const std::bad_alloc&) {
            setError(err::InsufficientMemory);
            return false;
        }
        std::uint32_t h = arena.take();
        std::memcpy(arena.at(h), buf(), recSize);
        unsorted.insert(unsortedPos, h);
        for (auto& o : orders) o->seq.insert(placeOf(*o, at(h), *this), h);
        current = h;
        hasCurrent = true;
        ++changes;
        setError(err::None);
        return true;
    }

    // Writes bytes over entry h; every sorted order whose key changed moves it.
    void replace(std::uint32_t h, const std::uint8_t* bytes) {
        std::array<bool, MaxSortedOrders + 1> moves{};
        try {
            for (std::size_t i = 0; i < orders.size(); ++i) {
                moves[i] = orders[i]->cmp(at(h), bytes) != 0;
                if (moves[i]) orders[i]->seq.reserveSpare();
            }
        } catch (const std::bad_alloc&) {
            setError(err::InsufficientMemory);
            return;
        }
        for (std::size_t i = 0; i < orders.size(); ++i)
            if (moves[i]) orders[i]->seq.erase(h);
        std::memmove(arena.at(h), bytes, recSize);
        for (std::size_t i = 0; i < orders.size(); ++i)
            if (moves[i]) orders[i]->seq.insert(placeOf(*orders[i], at(h), *this), h);
        ++changes;
        setError(err::None);
    }

    // The handle at a 1-based position of the current order, or false with error 30 (or 8).
    bool handleAt(std::int64_t position, std::uint32_t& h) {
        if (!materialize()) return false;
        Sequence& s = currentSeq();
        if (position < 1 || static_cast<std::uint64_t>(position) > s.size()) {
            setError(err::EntryNotFound);
            return false;
        }
        h = s.at(static_cast<std::size_t>(position - 1));
        return true;
    }
};

Queue::Queue(Layout layout) : d_(std::make_unique<Impl>(std::move(layout))) {}
Queue::~Queue() = default;

const Layout& Queue::layout() const {
    return d_->record.layout();
}
Record& Queue::record() {
    return d_->record;
}
std::span<std::uint8_t> Queue::buffer() {
    return d_->record.buffer();
}
int Queue::fieldCount() const {
    return d_->fieldCount();
}
int Queue::fieldNumber(std::string_view name) const {
    return name.empty() ? 0 : d_->record.layout().find(name) + 1;
}
FieldRef Queue::field(int number) {
    if (number < 1 || number > fieldCount()) return FieldRef();
    return d_->record.ref(number - 1);
}
FieldRef Queue::field(std::string_view name) {
    return field(fieldNumber(name));
}
void Queue::bindNames(NameRegistry& names) {
    names.bindRecord(d_->record);
}
void Queue::unbindNames(NameRegistry& names) {
    names.unbindRecord(d_->record);
}

void Queue::add() {
    d_->insertEntry(d_->unsorted.size());
}

void Queue::addByKey(Key key) {
    KeySpec k;
    if (!parseKey(key, fieldCount(), k)) return setError(err::InvalidFieldType);
    // Room first, so that running out of memory leaves the current order as it was.
    try {
        d_->prepareInsert();
    } catch (const std::bad_alloc&) {
        return setError(err::InsufficientMemory);
    }
    // The order is built when it is next read, so a run of additions sorts once.
    d_->choose(k);
    add();
}

void Queue::addAt(std::int64_t position) {
    Impl& q = *d_;
    std::size_t n = q.unsorted.size();
    std::size_t pos =
        position < 1 || static_cast<std::uint64_t>(position) > n ? n : static_cast<std::size_t>(position - 1);
    bool pending = q.hasPending, sorted = q.sortedCurrent;
    q.hasPending = false;
    q.sortedCurrent = false;
    if (!q.insertEntry(pos)) {
        q.hasPending = pending;
        q.sortedCurrent = sorted;
    }
}

void Queue::get(std::int64_t position) {
    std::uint32_t h;
    if (!d_->handleAt(position, h)) return;
    std::memcpy(d_->buf(), d_->at(h), d_->recSize);
    d_->current = h;
    d_->hasCurrent = true;
    setError(err::None);
}

void Queue::getByKey(Key key) {
    Impl& q = *d_;
    KeySpec k;
    if (!parseKey(key, fieldCount(), k)) return setError(err::InvalidFieldType);
    if (k.n == 0) return setError(err::EntryNotFound);
    q.choose(k);
    if (!q.materialize()) return;
    Order& o = *q.orders.front();
    const std::uint8_t* b = q.buf();
    std::size_t pos = o.seq.partitionPoint([&](std::uint32_t h) { return o.cmp(q.at(h), b) < 0; });
    if (pos == o.seq.size()) return setError(err::EntryNotFound);
    std::uint32_t h = o.seq.at(pos);
    if (o.cmp(q.at(h), b) != 0) return setError(err::EntryNotFound);
    std::memcpy(q.buf(), q.at(h), q.recSize);
    q.current = h;
    q.hasCurrent = true;
    setError(err::None);
}

void Queue::put() {
    if (!d_->hasCurrent) return setError(err::EntryNotFound);
    d_->replace(d_->current, d_->buf());
}

void Queue::putByKey(Key key) {
    KeySpec k;
    if (!parseKey(key, fieldCount(), k)) return setError(err::InvalidFieldType);
    if (!d_->hasCurrent) return setError(err::EntryNotFound);
    try {
        for (auto& o : d_->orders) o->seq.reserveSpare();
    } catch (const std::bad_alloc&) {
        return setError(err::InsufficientMemory);
    }
    d_->choose(k);
    put();
}

void Queue::remove() {
    Impl& q = *d_;
    if (!q.hasCurrent) return setError(err::EntryNotFound);
    q.unsorted.erase(q.current);
    for (auto& o : q.orders) o->seq.erase(q.current);
    q.arena.release(q.current);
    q.hasCurrent = false;
    ++q.changes;
    setError(err::None);
}

void Queue::sortByNames(std::string_view names) {
    KeySpec k;
    if (!parseNames(names, layout(), k)) return setError(err::InvalidFieldType);
    d_->choose(k);
    setError(err::None);
}

void Queue::sortByFields(Key fields) {
    KeySpec k;
    if (!parseKey(fields, fieldCount(), k)) return setError(err::InvalidFieldType);
    d_->choose(k);
    setError(err::None);
}

void Queue::free() {
    Impl& q = *d_;
    q.orders.clear();
    q.unsorted = Sequence();
    q.arena = Arena(q.recSize);
    q.sortedCurrent = false;
    q.hasPending = false;
    q.hasCurrent = false;
    ++q.changes;
    setError(err::None);
}

std::int64_t Queue::records() {
    setError(err::None);
    return static_cast<std::int64_t>(d_->unsorted.size());
}

std::int64_t Queue::pointer() {
    if (!d_->materialize()) return 0;
    setError(err::None);
    if (!d_->hasCurrent) return 0;
    return static_cast<std::int64_t>(d_->currentSeq().rankOf(d_->current)) + 1;
}

Value Queue::value(std::int64_t position, int fieldNumber) {
    if (fieldNumber < 1 || fieldNumber > fieldCount()) {
        setError(err::InvalidFieldType);
        return Value();
    }
    std::uint32_t h;
    if (!d_->handleAt(position, h)) return Value();
    setError(err::None);
    return readField(layout().field(static_cast<std::size_t>(fieldNumber - 1)),
                     std::span<const std::uint8_t>(d_->at(h), d_->recSize));
}

void Queue::setValue(std::int64_t position, int fieldNumber, const Value& v) {
    if (fieldNumber < 1 || fieldNumber > fieldCount()) return setError(err::InvalidFieldType);
    std::uint32_t h;
    if (!d_->handleAt(position, h)) return;
    std::vector<std::uint8_t> bytes;
    try {
        allocationPoint();
        bytes.assign(d_->at(h), d_->at(h) + d_->recSize);
    } catch (const std::bad_alloc&) {
        return setError(err::InsufficientMemory);
    }
    writeField(layout().field(static_cast<std::size_t>(fieldNumber - 1)), bytes, v);
    d_->replace(h, bytes.data());
}

std::span<const std::uint8_t> Queue::entry(std::int64_t position) {
    std::uint32_t h;
    if (!d_->handleAt(position, h)) return {};
    setError(err::None);
    return {d_->at(h), d_->recSize};
}

std::uint64_t Queue::changes() const {
    return d_->changes;
}

std::vector<int> Queue::currentKey() const {
    KeySpec k = d_->currentKey();
    return std::vector<int>(k.f.begin(), k.f.begin() + k.n);
}

bool Queue::sorted() const {
    return d_->currentKey().n > 0;
}

int Queue::rememberedOrders() const {
    return static_cast<int>(d_->orders.size());
}

std::uint64_t Queue::sortsBuilt() const {
    return d_->builds;
}

void Queue::failAllocationForTesting(int n) {
    tFailAfter = n;
}

} // namespace sorv
