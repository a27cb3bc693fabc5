// In-memory queues: entries of one layout with positional and keyed access, and up to fifteen
// remembered sort orders kept in step with every addition, change and deletion.
//
// How it is kept:
// - Entries live in fixed-size slots of a chunked arena and are known by a slot handle that never
//   moves; the current entry is a handle, so switching orders keeps it.
// - Each order (the unsorted one and every remembered sorted one) is a sequence of handles held in
//   blocks of at most 1024, with a Fenwick tree over the block sizes and a per-handle link to the
//   block that holds it. Entry n of an order is found in O(log blocks); inserting or removing one
//   handle costs one block shift (at most 1024 handles) plus O(log blocks), never a whole-queue
//   pass. A sorted order finds its insertion point by binary search over the blocks' last keys.
// - An add, put or delete touches every remembered order once, so it costs O(orders * log n).
// - Sorting builds the whole order once (std::sort over normalized keys of up to 24 bytes, the
//   entries compared only where those tie); equal keys keep the unsorted order. Later additions and changed
//   entries go after the entries with an equal key.
//
// Positions (get by position, pointer, add at position) count in the current order, the order of
// the last sort, because list boxes read entries by position and show a sorted queue sorted. Add at
// position names a place in the order of placement and so makes the unsorted order current; a plain
// add keeps the current order and places the entry by key in every sorted order.
//
// Every operation sets the calling thread's current error: 0, 30 "Entry Not Found", 75 "Invalid
// Field Type Descriptor" or 8 "Insufficient Memory"; a failed operation leaves the queue unchanged.
// A queue is used by one thread at a time (the runtime lock), like every runtime object.
#pragma once
#include "runtime/field.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace sorv {

class NameRegistry;

class Queue {
public:
    // At most this many key fields, and this many sorted orders remembered besides the unsorted one.
    static constexpr int MaxKeyFields = 16;
    static constexpr int MaxSortedOrders = 15;

    // The queue owns its buffer: a record of the layout. Field numbers count from 1 over the
    // layout's fields in declaration order (groups and fields declared over others included).
    explicit Queue(Layout layout);
    ~Queue();
    Queue(const Queue&) = delete; // field references point into the buffer
    Queue& operator=(const Queue&) = delete;

    // The buffer and its fields.
    const Layout& layout() const;
    Record& record();
    std::span<std::uint8_t> buffer();
    int fieldCount() const;
    // 1-based field number of a name (with or without prefix, case ignored); 0 when none.
    int fieldNumber(std::string_view name) const;
    // A reference to field `number` of the buffer (invalid when out of range).
    FieldRef field(int number);
    FieldRef field(std::string_view name);
    // Binds (and unbinds) every named field of the buffer under its label.
    void bindNames(NameRegistry& names);
    void unbindNames(NameRegistry& names);

    // Key fields are signed field numbers (negative: descending); a 0 ends the list, and fields
    // after the sixteenth are ignored.
    using Key = std::span<const int>;

    void add();
    void addByKey(Key key);
    void addByKey(std::initializer_list<int> key) { addByKey(Key(key.begin(), key.size())); }
    void addAt(std::int64_t position);
    void get(std::int64_t position);
    void getByKey(Key key);
    void getByKey(std::initializer_list<int> key) { getByKey(Key(key.begin(), key.size())); }
    void put();
    void putByKey(Key key);
    void putByKey(std::initializer_list<int> key) { putByKey(Key(key.begin(), key.size())); }
    // Deletes the current entry; afterwards there is no current entry (pointer 0).
    void remove();
    // "-Name, +Other Third": names split at commas and blanks, "-" descending; "" is unsorted.
    void sortByNames(std::string_view names);
    void sortByFields(Key fields);
    void sortByFields(std::initializer_list<int> fields) { sortByFields(Key(fields.begin(), fields.size())); }
    void free();
    std::int64_t records();
    // Position of the current entry in the current order; 0 when there is none.
    std::int64_t pointer();

    // Reading and writing entries in place, for list boxes and the column model: by position in
    // the current order and field number, without touching the buffer or the current entry.
    // Both set 30 for a bad position and 75 for a bad field number.
    Value value(std::int64_t position, int fieldNumber);
    // Writes one field of an entry; sorted orders whose key changed move the entry.
    void setValue(std::int64_t position, int fieldNumber, const Value& v);
    // The bytes of entry `position` (empty when out of range); valid until the next change.
    std::span<const std::uint8_t> entry(std::int64_t position);

    // Advanced by every addition, change and deletion (and by free).
    std::uint64_t changes() const;
    // The key of the current order (empty: unsorted), including a pending one.
    std::vector<int> currentKey() const;
    bool sorted() const;
    // Sorted orders kept (not counting a pending one), and how many sorts were built so far.
    int rememberedOrders() const;
    std::uint64_t sortsBuilt() const;

    // For tests of the out-of-memory paths: the n-th allocation from now (0 = the next) fails as if
    // memory ran out; -1 switches this off. Applies to queues of the calling thread.
    static void failAllocationForTesting(int n);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace sorv
