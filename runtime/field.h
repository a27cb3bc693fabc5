// Field descriptors and record layouts over byte buffers (records, groups, queue entries), and
// field references: one field of one buffer, read and written as language values.
#pragma once
#include "runtime/types.h"
#include "runtime/value.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

struct FieldDesc {
    std::string name; // label as declared, with its prefix ("CUST:Company")
    FieldType type = FieldType::Long;
    std::uint32_t offset = 0; // bytes from the start of the buffer
    std::uint32_t size = 0;   // bytes of one element (a GROUP: all of its members)
    std::uint16_t digits = 0; // DECIMAL/PDECIMAL total digits
    std::uint16_t places = 0; // DECIMAL/PDECIMAL digits after the point
    std::uint32_t dim = 1;    // elements of an array field
    std::string picture;      // display picture, "" for the type's default
    std::string externalName; // NAME() of the field, "" when none
    int over = -1;            // index of the field this one lies over, -1 when none
    int groupDepth = 0;       // 0 at the top level, 1 inside a group, ...
    int groupEnd = -1;        // for a GROUP: index one past its last member

    // Bytes taken by the whole field (all elements).
    std::uint32_t totalSize() const { return size * dim; }
    // The label without its prefix ("Company" for "CUST:Company").
    std::string_view bareName() const;
};

// The fields of one buffer, laid out one after the other with no gaps (a field declared OVER
// another shares its bytes). Field numbers used by queues and lists count from 1.
class Layout {
public:
    // The size in bytes of one element of a type: the text size for strings, digits / 2 + 1 for
    // decimals, the natural size for numbers.
    static std::uint32_t sizeOf(FieldType type, std::uint32_t textSize = 0, int digits = 0);

    // Appends a field and answers its index. Strings take their declared length (CSTRING and
    // PSTRING hold one byte less of text); decimals their digits and places.
    int add(std::string name, FieldType type, std::uint32_t textSizeOrDigits = 0, int places = 0,
            std::string picture = {});
    int addDecimal(std::string name, int digits, int places, bool packed = false, std::string picture = {});
    // Groups bracket the fields added between the calls.
    int beginGroup(std::string name);
    void endGroup();
    // A field over an earlier one (same offset, its own type).
    int addOver(int overIndex, std::string name, FieldType type, std::uint32_t textSizeOrDigits = 0);
    void setDim(int index, std::uint32_t dim);

    std::size_t count() const { return fields_.size(); }
    const FieldDesc& field(std::size_t index) const { return fields_[index]; }
    FieldDesc& field(std::size_t index) { return fields_[index]; }
    const std::vector<FieldDesc>& fields() const { return fields_; }
    // Index of a field by its name (with or without prefix), case ignored; -1 when none.
    int find(std::string_view name) const;
    std::uint32_t size() const { return size_; }

    // A blank buffer: strings spaces, numbers zero.
    std::vector<std::uint8_t> blankBuffer() const;
    void clear(std::span<std::uint8_t> buffer) const;

private:
    std::vector<FieldDesc> fields_;
    std::vector<int> openGroups_;
    std::uint32_t size_ = 0;
};

// Reads and writes one element of a field in a buffer. Every read of stored bytes is checked
// against the buffer's size, so a short or corrupt buffer gives zero or blank, never a fault.
Value readField(const FieldDesc& f, std::span<const std::uint8_t> buffer, std::uint32_t element = 0);
// Writes a value converted to the field's type: texts are cut or space-padded, numbers are
// truncated to the field's range as the language assigns them, decimals rounded to their places.
void writeField(const FieldDesc& f, std::span<std::uint8_t> buffer, const Value& v,
                std::uint32_t element = 0);
// Blank value of a field (spaces for text, zero otherwise).
void clearField(const FieldDesc& f, std::span<std::uint8_t> buffer);
// Compares one field of two buffers by its type (text without trailing blanks, numbers exactly).
int compareField(const FieldDesc& f, std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

// One field of one buffer. The buffer is owned elsewhere (a record, a group, a queue's buffer);
// the reference stays valid as long as both the layout and the buffer do.
class FieldRef {
public:
    FieldRef() = default;
    FieldRef(const Layout* layout, int index, std::uint8_t* buffer, std::size_t bufferSize)
        : layout_(layout), index_(index), buffer_(buffer), bufferSize_(bufferSize) {}

    bool valid() const {
        return layout_ && buffer_ && index_ >= 0 && index_ < static_cast<int>(layout_->count());
    }
    const FieldDesc& desc() const { return layout_->field(static_cast<std::size_t>(index_)); }
    const Layout* layout() const { return layout_; }
    int index() const { return index_; }
    FieldType type() const { return desc().type; }
    const std::string& name() const { return desc().name; }

    Value get(std::uint32_t element = 0) const;
    void set(const Value& v, std::uint32_t element = 0) const;
    void clear() const;
    // The field's bytes in its buffer.
    std::span<std::uint8_t> bytes() const;

    friend bool operator==(const FieldRef& a, const FieldRef& b) {
        return a.layout_ == b.layout_ && a.index_ == b.index_ && a.buffer_ == b.buffer_;
    }

private:
    const Layout* layout_ = nullptr;
    int index_ = -1;
    std::uint8_t* buffer_ = nullptr;
    std::size_t bufferSize_ = 0;
};

// Assigns one field to another as the language does (to = from); fields of the same type and
// shape are copied as bytes, without a value in between.
void copyField(const FieldRef& to, const FieldRef& from);

// A layout together with a buffer of its own: a record, a group variable, a queue's buffer.
class Record {
public:
    Record() = default;
    explicit Record(Layout layout) : layout_(std::move(layout)), buffer_(layout_.blankBuffer()) {}
    Record(const Record& o) : layout_(o.layout_), buffer_(o.buffer_) {}
    Record& operator=(const Record& o) {
        layout_ = o.layout_;
        buffer_ = o.buffer_;
        return *this;
    }

    const Layout& layout() const { return layout_; }
    // Changing the layout reallocates the buffer, so references taken before become invalid.
    void setLayout(Layout layout) {
        layout_ = std::move(layout);
        buffer_ = layout_.blankBuffer();
    }
    std::span<std::uint8_t> buffer() { return buffer_; }
    std::span<const std::uint8_t> buffer() const { return buffer_; }
    FieldRef ref(int index) { return FieldRef(&layout_, index, buffer_.data(), buffer_.size()); }
    FieldRef ref(std::string_view name) { return ref(layout_.find(name)); }
    Value get(std::string_view name) const;
    void set(std::string_view name, const Value& v);
    void clear() { layout_.clear(buffer_); }

private:
    Layout layout_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace sorv
