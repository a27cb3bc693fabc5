// Stored declarations of native files and key comparison by field type.
#include "data/qnl/schema.h"

#include "data/qnl/format.h"
#include "runtime/decimal.h"
#include "runtime/value.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace sorv::qnl {

namespace {

class Writer {
public:
    void u8(std::uint8_t v) { out.push_back(static_cast<char>(v)); }
    void u32(std::uint32_t v) {
        std::uint8_t b[4];
        put32(b, v);
        out.append(reinterpret_cast<char*>(b), 4);
    }
    void str(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        out.append(s);
    }
    std::string out;
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool ok() const { return ok_; }
    std::uint8_t u8() {
        if (pos_ + 1 > in_.size()) return fail(), 0;
        return static_cast<std::uint8_t>(in_[pos_++]);
    }
    std::uint32_t u32() {
        if (pos_ + 4 > in_.size()) return fail(), 0;
        std::uint32_t v = get32(reinterpret_cast<const std::uint8_t*>(in_.data() + pos_));
        pos_ += 4;
        return v;
    }
    std::string str() {
        std::uint32_t n = u32();
        if (!ok_ || n > in_.size() - pos_) return fail(), std::string();
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    bool atEnd() const { return pos_ == in_.size(); }

private:
    void fail() { ok_ = false; }
    std::string_view in_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

constexpr std::uint32_t SchemaMagic = 0x48435351; // "QSCH"

bool storable(FieldType t) {
    switch (t) {
    case FieldType::Byte:
    case FieldType::Short:
    case FieldType::UShort:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Long:
    case FieldType::ULong:
    case FieldType::SReal:
    case FieldType::Real:
    case FieldType::Decimal:
    case FieldType::PDecimal:
    case FieldType::String:
    case FieldType::CString:
    case FieldType::PString:
    case FieldType::Group:
        return true;
    default:
        return false;
    }
}

int foldByte(unsigned char c) {
    return std::toupper(c);
}

template <typename T> T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> int cmp3(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int compareTextNoCase(std::string_view a, std::string_view b) {
    a = clipRight(a);
    b = clipRight(b);
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int x = foldByte(static_cast<unsigned char>(a[i])), y = foldByte(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string Schema::validate() const {
    if (layout.count() == 0) return "the record has no fields";
    if (layout.size() == 0) return "the record is empty";
    for (std::size_t i = 0; i < layout.count(); ++i) {
        const FieldDesc& f = layout.field(i);
        if (!storable(f.type)) return "field " + f.name + " has a type the file cannot store";
        if (f.offset + f.totalSize() > layout.size()) return "field " + f.name + " lies outside the record";
    }
    if (keys.size() > hdr::MaxKeys) return "too many keys";
    for (const KeyDecl& k : keys) {
        if (k.components.empty()) return "key " + k.label + " has no components";
        std::uint32_t size = 0;
        for (const KeyComponent& p : k.components) {
            if (p.field < 0 || p.field >= static_cast<int>(layout.count()))
                return "key " + k.label + " names a field that does not exist";
            size += layout.field(static_cast<std::size_t>(p.field)).totalSize();
        }
        if (size == 0 || size > 1000) return "key " + k.label + " is longer than 1000 bytes";
    }
    if (memos.size() > 64) return "too many memos";
    return {};
}

std::string Schema::serialize() const {
    Writer w;
    w.u32(SchemaMagic);
    w.str(label);
    w.str(prefix);
    w.u32(static_cast<std::uint32_t>(layout.count()));
    for (const FieldDesc& f : layout.fields()) {
        w.str(f.name);
        w.u8(static_cast<std::uint8_t>(f.type));
        w.u32(f.offset);
        w.u32(f.size);
        w.u32(f.digits);
        w.u32(f.places);
        w.u32(f.dim);
        w.str(f.picture);
        w.str(f.externalName);
        w.u32(static_cast<std::uint32_t>(f.over));
        w.u32(static_cast<std::uint32_t>(f.groupDepth));
    }
    w.u32(static_cast<std::uint32_t>(keys.size()));
    for (const KeyDecl& k : keys) {
        w.str(k.label);
        w.str(k.externalName);
        w.u32(static_cast<std::uint32_t>(k.components.size()));
        for (const KeyComponent& p : k.components) {
            w.u32(static_cast<std::uint32_t>(p.field));
            w.u8(p.descending);
        }
        w.u8(k.isIndex);
        w.u8(k.flags);
    }
    w.u32(static_cast<std::uint32_t>(memos.size()));
    for (const MemoDecl& m : memos) {
        w.str(m.label);
        w.str(m.externalName);
        w.u32(m.size);
        w.u8(std::uint8_t(m.isBlob | m.binary << 1));
    }
    return w.out;
}

std::optional<Schema> Schema::parse(std::string_view bytes, std::string* why) {
    auto bad = [&](const char* reason) -> std::optional<Schema> {
        if (why) *why = reason;
        return std::nullopt;
    };
    Reader r(bytes);
    if (r.u32() != SchemaMagic) return bad("not a stored declaration");
    Schema s;
    s.label = r.str();
    s.prefix = r.str();
    std::uint32_t nf = r.u32();
    if (!r.ok() || nf == 0 || nf > 10000) return bad("bad field count");
    int depth = 0;
    for (std::uint32_t i = 0; i < nf; ++i) {
        std::string name = r.str();
        auto type = static_cast<FieldType>(r.u8());
        std::uint32_t offset = r.u32(), size = r.u32(), digits = r.u32(), places = r.u32(), dim = r.u32();
        std::string picture = r.str(), ext = r.str();
        int over = static_cast<int>(r.u32()), groupDepth = static_cast<int>(r.u32());
        if (!r.ok()) return bad("truncated field list");
        if (!storable(type) || size > 65535 || dim == 0 || dim > 65535 || digits > 31 || places > digits)
            return bad("bad field");
        if (groupDepth < 0 || groupDepth > depth) return bad("bad group nesting");
        while (depth > groupDepth) {
            s.layout.endGroup();
            --depth;
        }
        int idx;
        if (over >= 0) {
            if (over >= static_cast<int>(i)) return bad("bad OVER");
            idx = s.layout.addOver(over, name, type, isDecimalType(type) ? digits : size);
        } else if (type == FieldType::Group) {
            idx = s.layout.beginGroup(name);
            ++depth;
        } else if (isDecimalType(type)) {
            idx = s.layout.addDecimal(name, static_cast<int>(digits), static_cast<int>(places),
                                      type == FieldType::PDecimal);
        } else {
            idx = s.layout.add(name, type, size);
        }
        if (idx < 0) return bad("bad field");
        if (dim > 1) s.layout.setDim(idx, dim);
        FieldDesc& f = s.layout.field(static_cast<std::size_t>(idx));
        f.picture = std::move(picture);
        f.externalName = std::move(ext);
        if (isDecimalType(type)) f.places = static_cast<std::uint16_t>(places); // addOver leaves them out
        if (f.offset != offset || (type != FieldType::Group && f.size != size) || f.dim != dim)
            return bad("field offsets do not add up");
    }
    while (depth-- > 0) s.layout.endGroup();
    for (std::uint32_t i = 0; i < nf; ++i) {
        const FieldDesc& f = s.layout.field(i);
        if (f.type == FieldType::Group && f.groupEnd < 0) return bad("unterminated group");
    }
    std::uint32_t nk = r.u32();
    if (!r.ok() || nk > hdr::MaxKeys) return bad("bad key count");
    for (std::uint32_t i = 0; i < nk; ++i) {
        KeyDecl k;
        k.label = r.str();
        k.externalName = r.str();
        std::uint32_t np = r.u32();
        if (!r.ok() || np == 0 || np > 256) return bad("bad key");
        for (std::uint32_t j = 0; j < np; ++j) {
            KeyComponent p;
            p.field = static_cast<int>(r.u32());
            p.descending = r.u8() != 0;
            k.components.push_back(p);
        }
        k.isIndex = r.u8() != 0;
        k.flags = r.u8();
        s.keys.push_back(std::move(k));
    }
    std::uint32_t nm = r.u32();
    if (!r.ok() || nm > 64) return bad("bad memo count");
    for (std::uint32_t i = 0; i < nm; ++i) {
        MemoDecl m;
        m.label = r.str();
        m.externalName = r.str();
        m.size = r.u32();
        std::uint8_t fl = r.u8();
        m.isBlob = fl & 1;
        m.binary = fl & 2;
        s.memos.push_back(std::move(m));
    }
    if (!r.ok() || !r.atEnd()) return bad("trailing bytes");
    std::string v = s.validate();
    if (!v.empty()) {
        if (why) *why = v;
        return std::nullopt;
    }
    return s;
}

bool Schema::compatibleWith(const Schema& st, std::string* why) const {
    auto no = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    if (layout.size() != st.layout.size()) return no("record length differs");
    // Fields are compared by their storage; names may differ (another program's prefix).
    std::vector<const FieldDesc*> mine, theirs;
    for (const FieldDesc& f : layout.fields())
        if (f.type != FieldType::Group && f.over < 0) mine.push_back(&f);
    for (const FieldDesc& f : st.layout.fields())
        if (f.type != FieldType::Group && f.over < 0) theirs.push_back(&f);
    if (mine.size() != theirs.size()) return no("field count differs");
    for (std::size_t i = 0; i < mine.size(); ++i) {
        const FieldDesc &a = *mine[i], &b = *theirs[i];
        if (a.type != b.type || a.offset != b.offset || a.size != b.size || a.dim != b.dim ||
            a.digits != b.digits || a.places != b.places)
            return no("field " + a.name + " differs from the stored " + b.name);
    }
    if (keys.size() != st.keys.size()) return no("key count differs");
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const KeyDecl &a = keys[i], &b = st.keys[i];
        if (a.components.size() != b.components.size() || a.dup() != b.dup() || a.opt() != b.opt() ||
            a.noCase() != b.noCase())
            return no("key " + a.label + " differs");
        for (std::size_t j = 0; j < a.components.size(); ++j) {
            const FieldDesc& fa = layout.field(static_cast<std::size_t>(a.components[j].field));
            const FieldDesc& fb = st.layout.field(static_cast<std::size_t>(b.components[j].field));
            if (a.components[j].descending != b.components[j].descending || fa.offset != fb.offset ||
                fa.type != fb.type || fa.totalSize() != fb.totalSize())
                return no("key " + a.label + " differs");
        }
    }
    if (memos.size() != st.memos.size()) return no("memo count differs");
    for (std::size_t i = 0; i < memos.size(); ++i)
        if (memos[i].isBlob != st.memos[i].isBlob || (!memos[i].isBlob && memos[i].size != st.memos[i].size))
            return no("memo " + memos[i].label + " differs");
    return true;
}

KeyCodec::KeyCodec(const Schema& schema, std::size_t key) : decl_(&schema.keys[key]) {
    nocase_ = decl_->noCase();
    for (const KeyComponent& kp : decl_->components) {
        Part p{schema.layout.field(static_cast<std::size_t>(kp.field)), 0, kp.descending};
        p.recordOffset = p.field.offset;
        p.field.offset = keySize_;
        keySize_ += p.field.totalSize();
        parts_.push_back(std::move(p));
    }
}

void KeyCodec::extract(std::span<const std::uint8_t> record, std::uint8_t* out) const {
    for (const Part& p : parts_) {
        std::uint32_t n = p.field.totalSize();
        if (p.recordOffset + n <= record.size())
            std::memcpy(out + p.field.offset, record.data() + p.recordOffset, n);
        else
            std::memset(out + p.field.offset, 0, n);
    }
}

void KeyCodec::inject(const std::uint8_t* key, std::span<std::uint8_t> record) const {
    for (const Part& p : parts_) {
        std::uint32_t n = p.field.totalSize();
        if (p.recordOffset + n <= record.size())
            std::memcpy(record.data() + p.recordOffset, key + p.field.offset, n);
    }
}

int KeyCodec::comparePart(const Part& p, const std::uint8_t* a, const std::uint8_t* b) const {
    const FieldDesc& f = p.field;
    for (std::uint32_t e = 0; e < f.dim; ++e) {
        const std::uint8_t* x = a + f.offset + e * f.size;
        const std::uint8_t* y = b + f.offset + e * f.size;
        int c = 0;
        switch (f.type) {
        case FieldType::Byte:
            c = cmp3(*x, *y);
            break;
        case FieldType::Short:
            c = cmp3(load<std::int16_t>(x), load<std::int16_t>(y));
            break;
        case FieldType::UShort:
            c = cmp3(load<std::uint16_t>(x), load<std::uint16_t>(y));
            break;
        case FieldType::Date:
        case FieldType::Time:
        case FieldType::Long:
            c = cmp3(load<std::int32_t>(x), load<std::int32_t>(y));
            break;
        case FieldType::ULong:
            c = cmp3(load<std::uint32_t>(x), load<std::uint32_t>(y));
            break;
        case FieldType::SReal: {
            float u = load<float>(x), v = load<float>(y);
            // NaN sorts first and equal to itself, so the order stays total.
            c = std::isnan(u) ? (std::isnan(v) ? 0 : -1) : (std::isnan(v) ? 1 : cmp3(u, v));
            break;
        }
        case FieldType::Real: {
            double u = load<double>(x), v = load<double>(y);
            c = std::isnan(u) ? (std::isnan(v) ? 0 : -1) : (std::isnan(v) ? 1 : cmp3(u, v));
            break;
        }
        case FieldType::Decimal:
        case FieldType::PDecimal: {
            bool packed = f.type == FieldType::PDecimal;
            c = compare(unpackDecimal({x, f.size}, f.digits, f.places, packed),
                        unpackDecimal({y, f.size}, f.digits, f.places, packed));
            break;
        }
        case FieldType::String:
        case FieldType::CString:
        case FieldType::PString: {
            std::string_view u(reinterpret_cast<const char*>(x), f.size),
                v(reinterpret_cast<const char*>(y), f.size);
            if (f.type == FieldType::CString) {
                u = u.substr(0, strnlen(u.data(), u.size()));
                v = v.substr(0, strnlen(v.data(), v.size()));
            } else if (f.type == FieldType::PString && f.size > 0) {
                u = u.substr(1, std::min<std::size_t>(static_cast<unsigned char>(u[0]), f.size - 1));
                v = v.substr(1, std::min<std::size_t>(static_cast<unsigned char>(v[0]), f.size - 1));
            }
            c = nocase_ ? compareTextNoCase(u, v) : compareText(u, v);
            break;
        }
        default:
            c = std::memcmp(x, y, f.size);
            c = c < 0 ? -1 : (c > 0 ? 1 : 0);
            break;
        }
        if (c != 0) return p.descending ? -c : c;
    }
    return 0;
}

int KeyCodec::compareKeys(const std::uint8_t* a, const std::uint8_t* b) const {
    for (const Part& p : parts_) {
        int c = comparePart(p, a, b);
        if (c != 0) return c;
    }
    return 0;
}

int KeyCodec::compareEntries(const std::uint8_t* a, const std::uint8_t* b) const {
    int c = compareKeys(a, b);
    if (c != 0) return c;
    return cmp3(get32(a + keySize_), get32(b + keySize_));
}

bool KeyCodec::leavesOut(const std::uint8_t* key) const {
    if (!decl_->opt()) return false;
    for (const Part& p : parts_) {
        std::span<const std::uint8_t> k(key, keySize_);
        for (std::uint32_t e = 0; e < p.field.dim; ++e) {
            Value v = readField(p.field, k, e);
            if (v.isText() ? !clipRight(v.text()).empty() : v.toDecimal().sign() != 0) return false;
        }
    }
    return true;
}

} // namespace sorv::qnl
