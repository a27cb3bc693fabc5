// Record layouts and typed access to the fields of byte buffers.
#include "runtime/field.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace sorv {

namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

template <typename T> T loadAt(std::span<const std::uint8_t> buf, std::size_t off) {
    T v{};
    if (off + sizeof(T) <= buf.size()) std::memcpy(&v, buf.data() + off, sizeof(T));
    return v;
}

template <typename T> void storeAt(std::span<std::uint8_t> buf, std::size_t off, T v) {
    if (off + sizeof(T) <= buf.size()) std::memcpy(buf.data() + off, &v, sizeof(T));
}

// Whole numbers assigned to an integer field: truncated toward zero and held to the field's range.
template <typename T> T toIntegral(const Value& v) {
    if (v.kind() == Value::Kind::Real) {
        double d = v.toReal();
        if (!(d == d)) return 0;
        if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
        if (d >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
        return static_cast<T>(d);
    }
    std::int64_t x = v.toLong();
    if constexpr (std::is_unsigned_v<T>) {
        if (x < 0) return 0;
    } else if (x < static_cast<std::int64_t>(std::numeric_limits<T>::min())) {
        return std::numeric_limits<T>::min();
    }
    if (static_cast<std::uint64_t>(x) > static_cast<std::uint64_t>(std::numeric_limits<T>::max()) && x > 0)
        return std::numeric_limits<T>::max();
    return static_cast<T>(x);
}

} // namespace

std::string_view FieldDesc::bareName() const {
    std::string_view n = name;
    auto c = n.find(':');
    return c == std::string_view::npos ? n : n.substr(c + 1);
}

std::uint32_t Layout::sizeOf(FieldType type, std::uint32_t textSize, int digits) {
    switch (type) {
    case FieldType::Byte:
        return 1;
    case FieldType::Short:
    case FieldType::UShort:
        return 2;
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Long:
    case FieldType::ULong:
    case FieldType::SReal:
    case FieldType::BFloat4:
        return 4;
    case FieldType::Real:
    case FieldType::BFloat8:
        return 8;
    case FieldType::Decimal:
    case FieldType::PDecimal:
        return static_cast<std::uint32_t>(packedSize(digits));
    default:
        return textSize;
    }
}

int Layout::add(std::string name, FieldType type, std::uint32_t textSizeOrDigits, int places,
                std::string picture) {
    if (isDecimalType(type))
        return addDecimal(std::move(name), static_cast<int>(textSizeOrDigits), places,
                          type == FieldType::PDecimal, std::move(picture));
    FieldDesc f;
    f.name = std::move(name);
    f.type = type;
    f.offset = size_;
    f.size = sizeOf(type, textSizeOrDigits);
    f.picture = std::move(picture);
    f.groupDepth = static_cast<int>(openGroups_.size());
    fields_.push_back(std::move(f));
    size_ += fields_.back().size;
    return static_cast<int>(fields_.size()) - 1;
}

int Layout::addDecimal(std::string name, int digits, int places, bool packed, std::string picture) {
    FieldDesc f;
    f.name = std::move(name);
    f.type = packed ? FieldType::PDecimal : FieldType::Decimal;
    f.digits = static_cast<std::uint16_t>(std::clamp(digits, 1, Decimal::MaxDigits));
    f.places = static_cast<std::uint16_t>(std::clamp(places, 0, static_cast<int>(f.digits)));
    f.offset = size_;
    f.size = sizeOf(f.type, 0, f.digits);
    f.picture = std::move(picture);
    f.groupDepth = static_cast<int>(openGroups_.size());
    fields_.push_back(std::move(f));
    size_ += fields_.back().size;
    return static_cast<int>(fields_.size()) - 1;
}

int Layout::beginGroup(std::string name) {
    FieldDesc f;
    f.name = std::move(name);
    f.type = FieldType::Group;
    f.offset = size_;
    f.groupDepth = static_cast<int>(openGroups_.size());
    fields_.push_back(std::move(f));
    int idx = static_cast<int>(fields_.size()) - 1;
    openGroups_.push_back(idx);
    return idx;
}

void Layout::endGroup() {
    if (openGroups_.empty()) return;
    FieldDesc& g = fields_[static_cast<std::size_t>(openGroups_.back())];
    g.size = size_ - g.offset;
    g.groupEnd = static_cast<int>(fields_.size());
    openGroups_.pop_back();
}

int Layout::addOver(int overIndex, std::string name, FieldType type, std::uint32_t textSizeOrDigits) {
    if (overIndex < 0 || overIndex >= static_cast<int>(fields_.size())) return -1;
    FieldDesc f;
    f.name = std::move(name);
    f.type = type;
    f.offset = fields_[static_cast<std::size_t>(overIndex)].offset;
    if (isDecimalType(type)) {
        f.digits = static_cast<std::uint16_t>(std::clamp<int>(static_cast<int>(textSizeOrDigits), 1, 31));
        f.size = sizeOf(type, 0, f.digits);
    } else {
        f.size = sizeOf(type, textSizeOrDigits);
    }
    f.over = overIndex;
    f.groupDepth = static_cast<int>(openGroups_.size());
    // An over field never reaches past the field it lies over.
    f.size = std::min(f.size, fields_[static_cast<std::size_t>(overIndex)].totalSize());
    fields_.push_back(std::move(f));
    return static_cast<int>(fields_.size()) - 1;
}

void Layout::setDim(int index, std::uint32_t dim) {
    if (index < 0 || index >= static_cast<int>(fields_.size()) || dim == 0) return;
    FieldDesc& f = fields_[static_cast<std::size_t>(index)];
    if (f.over >= 0 || index != static_cast<int>(fields_.size()) - 1)
        return; // only the last plain field can grow without moving the others
    size_ -= f.totalSize();
    f.dim = dim;
    size_ += f.totalSize();
}

int Layout::find(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (equalNoCase(fields_[i].name, name)) return static_cast<int>(i);
    if (name.find(':') == std::string_view::npos)
        for (std::size_t i = 0; i < fields_.size(); ++i)
            if (equalNoCase(fields_[i].bareName(), name)) return static_cast<int>(i);
    return -1;
}

std::vector<std::uint8_t> Layout::blankBuffer() const {
    std::vector<std::uint8_t> b(size_, 0);
    clear(b);
    return b;
}

void Layout::clear(std::span<std::uint8_t> buffer) const {
    std::fill(buffer.begin(), buffer.end(), 0);
    for (const FieldDesc& f : fields_)
        if (f.over < 0 && f.type != FieldType::Group) clearField(f, buffer);
}

Value readField(const FieldDesc& f, std::span<const std::uint8_t> buf, std::uint32_t element) {
    std::size_t off = f.offset + static_cast<std::size_t>(std::min(element, f.dim - 1)) * f.size;
    switch (f.type) {
    case FieldType::Byte:
        return Value(std::int64_t{loadAt<std::uint8_t>(buf, off)});
    case FieldType::Short:
        return Value(std::int64_t{loadAt<std::int16_t>(buf, off)});
    case FieldType::UShort:
        return Value(std::int64_t{loadAt<std::uint16_t>(buf, off)});
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Long:
        return Value(std::int64_t{loadAt<std::int32_t>(buf, off)});
    case FieldType::ULong:
        return Value(std::int64_t{loadAt<std::uint32_t>(buf, off)});
    case FieldType::SReal:
        return Value(double{loadAt<float>(buf, off)});
    case FieldType::Real:
        return Value(loadAt<double>(buf, off));
    case FieldType::Decimal:
    case FieldType::PDecimal: {
        if (off + f.size > buf.size()) return Value(Decimal());
        return Value(
            unpackDecimal(buf.subspan(off, f.size), f.digits, f.places, f.type == FieldType::PDecimal));
    }
    case FieldType::String:
    case FieldType::Memo:
    case FieldType::Group:
    case FieldType::CString:
    case FieldType::PString: {
        if (off >= buf.size()) return Value(std::string());
        std::size_t n = std::min<std::size_t>(f.size, buf.size() - off);
        const char* p = reinterpret_cast<const char*>(buf.data() + off);
        if (f.type == FieldType::CString) return Value(std::string(p, strnlen(p, n)));
        if (f.type == FieldType::PString) {
            std::size_t len = n ? std::min<std::size_t>(static_cast<unsigned char>(p[0]), n - 1) : 0;
            return Value(std::string(p + 1, len));
        }
        return Value(std::string(p, n));
    }
    default:
        return Value(std::int64_t{0});
    }
}

void writeField(const FieldDesc& f, std::span<std::uint8_t> buf, const Value& v, std::uint32_t element) {
    std::size_t off = f.offset + static_cast<std::size_t>(std::min(element, f.dim - 1)) * f.size;
    switch (f.type) {
    case FieldType::Byte:
        storeAt(buf, off, toIntegral<std::uint8_t>(v));
        return;
    case FieldType::Short:
        storeAt(buf, off, toIntegral<std::int16_t>(v));
        return;
    case FieldType::UShort:
        storeAt(buf, off, toIntegral<std::uint16_t>(v));
        return;
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Long:
        storeAt(buf, off, toIntegral<std::int32_t>(v));
        return;
    case FieldType::ULong:
        storeAt(buf, off, toIntegral<std::uint32_t>(v));
        return;
    case FieldType::SReal:
        storeAt(buf, off, static_cast<float>(v.toReal()));
        return;
    case FieldType::Real:
        storeAt(buf, off, v.toReal());
        return;
    case FieldType::Decimal:
    case FieldType::PDecimal:
        if (off + f.size <= buf.size())
            packDecimal(v.toDecimal(), f.digits, f.places, buf.subspan(off, f.size),
                        f.type == FieldType::PDecimal);
        return;
    case FieldType::String:
    case FieldType::Memo:
    case FieldType::Group:
    case FieldType::CString:
    case FieldType::PString: {
        if (off >= buf.size()) return;
        std::size_t n = std::min<std::size_t>(f.size, buf.size() - off);
        std::string t = v.toText();
        std::uint8_t* p = buf.data() + off;
        if (f.type == FieldType::CString) {
            if (n == 0) return;
            std::size_t len = std::min(t.size(), n - 1);
            std::memcpy(p, t.data(), len);
            std::memset(p + len, 0, n - len);
        } else if (f.type == FieldType::PString) {
            if (n == 0) return;
            std::size_t len = std::min({t.size(), n - 1, std::size_t{255}});
            p[0] = static_cast<std::uint8_t>(len);
            std::memcpy(p + 1, t.data(), len);
            std::memset(p + 1 + len, ' ', n - 1 - len);
        } else {
            std::size_t len = std::min(t.size(), n);
            std::memcpy(p, t.data(), len);
            std::memset(p + len, ' ', n - len);
        }
        return;
    }
    default:
        return;
    }
}

void clearField(const FieldDesc& f, std::span<std::uint8_t> buf) {
    for (std::uint32_t e = 0; e < f.dim; ++e) {
        if (isTextType(f.type) || f.type == FieldType::Memo)
            writeField(f, buf, Value(std::string()), e);
        else if (f.type != FieldType::Group)
            writeField(f, buf, Value(std::int64_t{0}), e);
    }
}

int compareField(const FieldDesc& f, std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return compare(readField(f, a), readField(f, b));
}

Value FieldRef::get(std::uint32_t element) const {
    if (!valid()) return Value();
    return readField(desc(), std::span<const std::uint8_t>(buffer_, bufferSize_), element);
}

void FieldRef::set(const Value& v, std::uint32_t element) const {
    if (valid()) writeField(desc(), std::span<std::uint8_t>(buffer_, bufferSize_), v, element);
}

void FieldRef::clear() const {
    if (valid()) clearField(desc(), std::span<std::uint8_t>(buffer_, bufferSize_));
}

void copyField(const FieldRef& to, const FieldRef& from) {
    if (!to.valid() || !from.valid()) return;
    const FieldDesc &t = to.desc(), &f = from.desc();
    if (t.type == f.type && t.size == f.size && t.dim == f.dim && t.digits == f.digits &&
        t.places == f.places && t.type != FieldType::Group) {
        const std::span<std::uint8_t> a = to.bytes(), b = from.bytes();
        if (a.size() == b.size() && a.size() == t.totalSize()) {
            std::memmove(a.data(), b.data(), a.size());
            return;
        }
    }
    to.set(from.get());
}

std::span<std::uint8_t> FieldRef::bytes() const {
    if (!valid()) return {};
    const FieldDesc& f = desc();
    if (f.offset >= bufferSize_) return {};
    return std::span<std::uint8_t>(buffer_ + f.offset,
                                   std::min<std::size_t>(f.totalSize(), bufferSize_ - f.offset));
}

Value Record::get(std::string_view name) const {
    int i = layout_.find(name);
    if (i < 0) return Value();
    return readField(layout_.field(static_cast<std::size_t>(i)), buffer_);
}

void Record::set(std::string_view name, const Value& v) {
    int i = layout_.find(name);
    if (i >= 0) writeField(layout_.field(static_cast<std::size_t>(i)), buffer_, v);
}

} // namespace sorv
