// The declaration a native file stores about itself (fields, keys, memos), its binary form, and
// the key machinery built from it: key bytes taken from a record and compared by field type.
#pragma once
#include "data/filedecl.h"
#include "runtime/field.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::qnl {

using sorv::KeyDecl;
using sorv::MemoDecl;

struct Schema {
    std::string label;  // the file's label ("People")
    std::string prefix; // "PPL"
    Layout layout;
    std::vector<KeyDecl> keys;
    std::vector<MemoDecl> memos;

    // "" when the declaration can be stored, else why not.
    std::string validate() const;
    std::string serialize() const;
    // Reads a stored declaration; nothing (with the reason) for damaged bytes.
    static std::optional<Schema> parse(std::string_view bytes, std::string* why = nullptr);
    // Whether a program's declaration fits a stored one: the same fields (type, size, offset),
    // keys (components, order, flags) and memos. Labels and pictures may differ.
    bool compatibleWith(const Schema& stored, std::string* why = nullptr) const;
};

// One key of a schema: its entries are the component bytes of the record followed by the record
// pointer, compared component by component by type and then by pointer, so that every entry is
// unique and duplicates lie in record-pointer order.
class KeyCodec {
public:
    KeyCodec(const Schema& schema, std::size_t key);

    std::uint32_t keySize() const { return keySize_; }
    std::uint32_t entrySize() const { return keySize_ + 4; }
    const KeyDecl& decl() const { return *decl_; }

    // Copies the key components of a record into out (keySize bytes).
    void extract(std::span<const std::uint8_t> record, std::uint8_t* out) const;
    // Writes the key components back into a record buffer (for SET by key value).
    void inject(const std::uint8_t* key, std::span<std::uint8_t> record) const;
    // Compares the key parts only (-1, 0, 1), taking order, NOCASE and descending into account.
    int compareKeys(const std::uint8_t* a, const std::uint8_t* b) const;
    // Key parts first, then the record pointers.
    int compareEntries(const std::uint8_t* a, const std::uint8_t* b) const;
    // An OPT key leaves out records whose key fields are all blank or zero.
    bool leavesOut(const std::uint8_t* key) const;

private:
    struct Part {
        FieldDesc field; // offset rebased into the key bytes
        std::uint32_t recordOffset;
        bool descending;
    };
    int comparePart(const Part& p, const std::uint8_t* a, const std::uint8_t* b) const;
    const KeyDecl* decl_;
    std::vector<Part> parts_;
    std::uint32_t keySize_ = 0;
    bool nocase_ = false;
};

// Case-insensitive text comparison without trailing blanks (NOCASE keys).
int compareTextNoCase(std::string_view a, std::string_view b);

} // namespace sorv::qnl
