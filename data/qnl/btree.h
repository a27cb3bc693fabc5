// The B+-tree of one key of a native file. Entries are fixed-size (key bytes + record pointer),
// unique, and ordered by the key's codec; leaves are linked both ways for NEXT and PREVIOUS.
//
// A branch page holds a leftmost child and (separator, child) pairs; every entry of a child lies
// at or above its separator and below the next one. Deletion does not merge pages: a leaf may be
// empty, and walks step over empty leaves (BUILD rebuilds the tree compactly).
#pragma once
#include "data/qnl/pager.h"
#include "data/qnl/schema.h"

#include <cstdint>
#include <vector>

namespace sorv::qnl {

class Btree {
public:
    Btree(Pager& pager, const KeyCodec& codec, std::uint32_t keyIndex)
        : pager_(pager), codec_(codec), key_(keyIndex), es_(codec.entrySize()) {}

    struct Pos {
        std::uint32_t leaf = 0;
        int idx = 0;
    };

    // Makes an empty tree (one empty leaf) for the key. Inside a write.
    static int createEmpty(Pager& pager, std::uint32_t keyIndex);
    // Replaces the tree by one built from sorted entries (es bytes each). Inside a write; the old
    // pages must already be accounted for by the caller.
    int bulkLoad(const std::vector<std::uint8_t>& sorted);

    int insert(const std::uint8_t* entry);
    // Answers 46 when the entry is not in the tree (the key does not match the records).
    int erase(const std::uint8_t* entry);

    // The first entry at or after (inclusive) / after the target.
    int seekGE(const std::uint8_t* target, bool inclusive, Pos& pos, bool& found);
    // The last entry at or before (inclusive) / before the target.
    int seekLE(const std::uint8_t* target, bool inclusive, Pos& pos, bool& found);
    int first(Pos& pos, bool& found);
    int last(Pos& pos, bool& found);
    int step(Pos& pos, bool forward, bool& found);
    // The entry at a position (valid until the next page access).
    const std::uint8_t* entryAt(const Pos& pos, int& err);

    std::uint32_t root();
    std::uint32_t depth();
    std::uint32_t entries();
    // Every page of the tree (for checks and rebuilds); answers an error for a damaged tree.
    int collectPages(std::vector<std::uint32_t>& pages);

    std::uint32_t leafCapacity() const { return (ChecksumAt - 16) / es_; }
    std::uint32_t branchCapacity() const { return (ChecksumAt - 16) / (es_ + 4); }

private:
    struct Step {
        std::uint32_t pgno;
        int child; // -1 leftmost, i = the child of separator i
    };
    const std::uint8_t* node(std::uint32_t pgno, int& err);
    int descend(const std::uint8_t* target, std::vector<Step>* path, std::uint32_t& leaf);
    int lowerBound(const std::uint8_t* leaf, const std::uint8_t* target, bool upper);
    int insertUp(std::vector<Step>& path, std::vector<std::uint8_t> sep, std::uint32_t right);
    void setRoot(std::uint32_t root, std::uint32_t depth, int& err);
    void addEntries(int delta, int& err);
    int bad() { return pager_.corruption(corrupt::BadTree, 46); }

    Pager& pager_;
    const KeyCodec& codec_;
    std::uint32_t key_;
    std::uint32_t es_;
};

} // namespace sorv::qnl
