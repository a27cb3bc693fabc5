// B+-tree search, insertion with page splits, deletion, walks and bulk loading.
#include "data/qnl/btree.h"

#include <cstring>

namespace sorv::qnl {

namespace {

std::uint16_t countOf(const std::uint8_t* p) {
    return get16(p + 2);
}
std::uint32_t slotAt(std::uint32_t key) {
    return hdr::Keys + key * hdr::KeyStride;
}

} // namespace

int Btree::createEmpty(Pager& pager, std::uint32_t keyIndex) {
    int err = 0;
    std::uint32_t leaf = pager.allocate(PageLeaf, true, err);
    if (!leaf) return err;
    std::uint8_t* p = pager.edit(leaf, err);
    std::uint8_t* h = p ? pager.edit(0, err) : nullptr;
    if (!h) return err;
    p[1] = static_cast<std::uint8_t>(keyIndex);
    put32(h + slotAt(keyIndex), leaf);
    put32(h + slotAt(keyIndex) + 4, 1);
    put32(h + slotAt(keyIndex) + 8, 0);
    return 0;
}

std::uint32_t Btree::root() {
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    return h ? get32(h + slotAt(key_)) : 0;
}

std::uint32_t Btree::depth() {
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    return h ? get32(h + slotAt(key_) + 4) : 0;
}

std::uint32_t Btree::entries() {
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    return h ? get32(h + slotAt(key_) + 8) : 0;
}

void Btree::setRoot(std::uint32_t root, std::uint32_t depth, int& err) {
    std::uint8_t* h = pager_.edit(0, err);
    if (!h) return;
    put32(h + slotAt(key_), root);
    put32(h + slotAt(key_) + 4, depth);
}

void Btree::addEntries(int delta, int& err) {
    std::uint8_t* h = pager_.edit(0, err);
    if (!h) return;
    put32(h + slotAt(key_) + 8, get32(h + slotAt(key_) + 8) + static_cast<std::uint32_t>(delta));
}

const std::uint8_t* Btree::node(std::uint32_t pgno, int& err) {
    if (pgno == 0) {
        err = bad();
        return nullptr;
    }
    const std::uint8_t* p = pager_.get(pgno, err);
    if (!p) return nullptr;
    bool leaf = p[0] == PageLeaf;
    if ((!leaf && p[0] != PageBranch) || p[1] != key_ ||
        countOf(p) > (leaf ? leafCapacity() : branchCapacity())) {
        err = bad();
        return nullptr;
    }
    return p;
}

int Btree::lowerBound(const std::uint8_t* leaf, const std::uint8_t* target, bool upper) {
    int lo = 0, hi = countOf(leaf);
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        int c = codec_.compareEntries(leaf + 16 + std::size_t(mid) * es_, target);
        if (c < 0 || (upper && c == 0))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int Btree::descend(const std::uint8_t* target, std::vector<Step>* path, std::uint32_t& leaf) {
    int err = 0;
    std::uint32_t pg = root();
    std::uint32_t limit = depth();
    if (limit == 0 || limit > 48) return bad();
    for (std::uint32_t level = 0;; ++level) {
        const std::uint8_t* p = node(pg, err);
        if (!p) return err;
        if (p[0] == PageLeaf) {
            if (level + 1 != limit) return bad();
            leaf = pg;
            return 0;
        }
        if (level + 1 >= limit) return bad();
        int lo = 0, hi = countOf(p);
        const std::size_t ps = es_ + 4;
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            if (codec_.compareEntries(p + 16 + mid * ps, target) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        int child = lo - 1;
        if (path) path->push_back({pg, child});
        pg = child < 0 ? get32(p + 4) : get32(p + 16 + child * ps + es_);
    }
}

int Btree::seekGE(const std::uint8_t* target, bool inclusive, Pos& pos, bool& found) {
    std::uint32_t leaf = 0;
    int rc = descend(target, nullptr, leaf);
    if (rc != 0) return rc;
    int err = 0;
    const std::uint8_t* p = node(leaf, err);
    if (!p) return err;
    pos = {leaf, lowerBound(p, target, !inclusive)};
    if (pos.idx < countOf(p)) {
        found = true;
        return 0;
    }
    pos.idx = countOf(p) - 1;
    return step(pos, true, found);
}

int Btree::seekLE(const std::uint8_t* target, bool inclusive, Pos& pos, bool& found) {
    std::uint32_t leaf = 0;
    int rc = descend(target, nullptr, leaf);
    if (rc != 0) return rc;
    int err = 0;
    const std::uint8_t* p = node(leaf, err);
    if (!p) return err;
    pos = {leaf, lowerBound(p, target, inclusive) - 1};
    if (pos.idx >= 0) {
        found = true;
        return 0;
    }
    pos.idx = 0;
    return step(pos, false, found);
}

int Btree::first(Pos& pos, bool& found) {
    int err = 0;
    std::uint32_t pg = root();
    for (int level = 0; level < 48; ++level) {
        const std::uint8_t* p = node(pg, err);
        if (!p) return err;
        if (p[0] == PageLeaf) {
            pos = {pg, 0};
            if (countOf(p) > 0) {
                found = true;
                return 0;
            }
            pos.idx = -1;
            return step(pos, true, found);
        }
        pg = get32(p + 4);
    }
    return bad();
}

int Btree::last(Pos& pos, bool& found) {
    int err = 0;
    std::uint32_t pg = root();
    for (int level = 0; level < 48; ++level) {
        const std::uint8_t* p = node(pg, err);
        if (!p) return err;
        int n = countOf(p);
        if (p[0] == PageLeaf) {
            pos = {pg, n - 1};
            if (n > 0) {
                found = true;
                return 0;
            }
            pos.idx = 0;
            return step(pos, false, found);
        }
        pg = n == 0 ? get32(p + 4) : get32(p + 16 + (n - 1) * (es_ + 4) + es_);
    }
    return bad();
}

int Btree::step(Pos& pos, bool forward, bool& found) {
    int err = 0;
    found = false;
    const std::uint8_t* p = node(pos.leaf, err);
    if (!p || p[0] != PageLeaf) return p ? bad() : err;
    if (forward && pos.idx + 1 < countOf(p)) {
        ++pos.idx;
        found = true;
        return 0;
    }
    if (!forward && pos.idx - 1 >= 0 && pos.idx - 1 < countOf(p)) {
        --pos.idx;
        found = true;
        return 0;
    }
    // Over to the neighbouring leaves, stepping over empty ones; a chain longer than the file
    // has pages is a loop.
    std::uint32_t limit = pager_.pageCount();
    std::uint32_t pg = pos.leaf;
    for (std::uint32_t hops = 0; hops < limit; ++hops) {
        std::uint32_t next = get32(p + (forward ? 8 : 4));
        if (next == 0) return 0;
        const std::uint8_t* q = node(next, err);
        if (!q) return err;
        if (q[0] != PageLeaf || get32(q + (forward ? 4 : 8)) != pg) return bad();
        pg = next;
        p = q;
        int n = countOf(p);
        if (n > 0) {
            pos = {pg, forward ? 0 : n - 1};
            found = true;
            return 0;
        }
    }
    return bad();
}

const std::uint8_t* Btree::entryAt(const Pos& pos, int& err) {
    const std::uint8_t* p = node(pos.leaf, err);
    if (!p) return nullptr;
    if (p[0] != PageLeaf || pos.idx < 0 || pos.idx >= countOf(p)) {
        err = bad();
        return nullptr;
    }
    return p + 16 + std::size_t(pos.idx) * es_;
}

int Btree::insert(const std::uint8_t* entry) {
    std::vector<Step> path;
    std::uint32_t leaf = 0;
    int rc = descend(entry, &path, leaf);
    if (rc != 0) return rc;
    int err = 0;
    const std::uint8_t* cp = node(leaf, err);
    if (!cp) return err;
    int at = lowerBound(cp, entry, false);
    int n = countOf(cp);
    if (at < n && codec_.compareEntries(cp + 16 + std::size_t(at) * es_, entry) == 0) return bad();
    std::uint8_t* p = pager_.edit(leaf, err);
    if (!p) return err;
    addEntries(1, err);
    if (err) return err;
    if (static_cast<std::uint32_t>(n) < leafCapacity()) {
        std::memmove(p + 16 + (at + 1) * es_, p + 16 + at * es_, std::size_t(n - at) * es_);
        std::memcpy(p + 16 + at * es_, entry, es_);
        put16(p + 2, static_cast<std::uint16_t>(n + 1));
        return 0;
    }
    // Split. Appending at the very end (ascending inserts) leaves the old leaf full.
    std::vector<std::uint8_t> all(std::size_t(n + 1) * es_);
    std::memcpy(all.data(), p + 16, std::size_t(at) * es_);
    std::memcpy(all.data() + at * es_, entry, es_);
    std::memcpy(all.data() + (at + 1) * es_, p + 16 + at * es_, std::size_t(n - at) * es_);
    std::uint32_t oldNext = get32(p + 8);
    int keep = (at == n && oldNext == 0) ? n : (n + 1) / 2;
    std::uint32_t right = pager_.allocate(PageLeaf, true, err);
    if (!right) return err;
    std::uint8_t* r = pager_.edit(right, err);
    p = r ? pager_.edit(leaf, err) : nullptr;
    if (!p) return err;
    r[1] = static_cast<std::uint8_t>(key_);
    std::memcpy(p + 16, all.data(), std::size_t(keep) * es_);
    put16(p + 2, static_cast<std::uint16_t>(keep));
    std::memcpy(r + 16, all.data() + keep * es_, std::size_t(n + 1 - keep) * es_);
    put16(r + 2, static_cast<std::uint16_t>(n + 1 - keep));
    put32(r + 4, leaf);
    put32(r + 8, oldNext);
    put32(p + 8, right);
    if (oldNext) {
        std::uint8_t* q = pager_.edit(oldNext, err);
        if (!q) return err;
        put32(q + 4, right);
    }
    std::vector<std::uint8_t> sep(r + 16, r + 16 + es_);
    return insertUp(path, std::move(sep), right);
}

int Btree::insertUp(std::vector<Step>& path, std::vector<std::uint8_t> sep, std::uint32_t right) {
    int err = 0;
    const std::size_t ps = es_ + 4;
    while (!path.empty()) {
        Step s = path.back();
        path.pop_back();
        std::uint8_t* p = pager_.edit(s.pgno, err);
        if (!p) return err;
        int n = countOf(p);
        int at = s.child + 1;
        std::vector<std::uint8_t> pair(ps);
        std::memcpy(pair.data(), sep.data(), es_);
        put32(pair.data() + es_, right);
        if (static_cast<std::uint32_t>(n) < branchCapacity()) {
            std::memmove(p + 16 + (at + 1) * ps, p + 16 + at * ps, std::size_t(n - at) * ps);
            std::memcpy(p + 16 + at * ps, pair.data(), ps);
            put16(p + 2, static_cast<std::uint16_t>(n + 1));
            return 0;
        }
        std::vector<std::uint8_t> all(std::size_t(n + 1) * ps);
        std::memcpy(all.data(), p + 16, std::size_t(at) * ps);
        std::memcpy(all.data() + at * ps, pair.data(), ps);
        std::memcpy(all.data() + (at + 1) * ps, p + 16 + at * ps, std::size_t(n - at) * ps);
        // The middle pair moves up; its child becomes the new page's leftmost.
        int mid = (at == n) ? n - 1 : (n + 1) / 2;
        std::uint32_t nr = pager_.allocate(PageBranch, true, err);
        if (!nr) return err;
        std::uint8_t* r = pager_.edit(nr, err);
        p = r ? pager_.edit(s.pgno, err) : nullptr;
        if (!p) return err;
        r[1] = static_cast<std::uint8_t>(key_);
        std::memcpy(p + 16, all.data(), std::size_t(mid) * ps);
        put16(p + 2, static_cast<std::uint16_t>(mid));
        put32(r + 4, get32(all.data() + mid * ps + es_));
        int rest = n - mid;
        std::memcpy(r + 16, all.data() + (mid + 1) * ps, std::size_t(rest) * ps);
        put16(r + 2, static_cast<std::uint16_t>(rest));
        sep.assign(all.data() + mid * ps, all.data() + mid * ps + es_);
        right = nr;
    }
    // The root split: a new root over the two halves.
    std::uint32_t oldRoot = root(), d = depth();
    std::uint32_t nroot = pager_.allocate(PageBranch, true, err);
    if (!nroot) return err;
    std::uint8_t* r = pager_.edit(nroot, err);
    if (!r) return err;
    r[1] = static_cast<std::uint8_t>(key_);
    put32(r + 4, oldRoot);
    std::memcpy(r + 16, sep.data(), es_);
    put32(r + 16 + es_, right);
    put16(r + 2, 1);
    setRoot(nroot, d + 1, err);
    return err;
}

int Btree::erase(const std::uint8_t* entry) {
    std::uint32_t leaf = 0;
    int rc = descend(entry, nullptr, leaf);
    if (rc != 0) return rc;
    int err = 0;
    const std::uint8_t* cp = node(leaf, err);
    if (!cp) return err;
    int at = lowerBound(cp, entry, false);
    int n = countOf(cp);
    if (at >= n || codec_.compareEntries(cp + 16 + std::size_t(at) * es_, entry) != 0)
        return pager_.corruption(corrupt::KeyMismatch, 46);
    std::uint8_t* p = pager_.edit(leaf, err);
    if (!p) return err;
    std::memmove(p + 16 + at * es_, p + 16 + (at + 1) * es_, std::size_t(n - at - 1) * es_);
    put16(p + 2, static_cast<std::uint16_t>(n - 1));
    addEntries(-1, err);
    return err;
}

int Btree::collectPages(std::vector<std::uint32_t>& pages) {
    int err = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> todo{{root(), 1}};
    std::uint32_t d = depth();
    std::uint32_t limit = pager_.pageCount();
    while (!todo.empty()) {
        auto [pg, level] = todo.back();
        todo.pop_back();
        if (pages.size() > limit || level > d) return bad();
        const std::uint8_t* p = node(pg, err);
        if (!p) return err;
        pages.push_back(pg);
        if (p[0] == PageLeaf) {
            if (level != d) return bad();
            continue;
        }
        int n = countOf(p);
        todo.push_back({get32(p + 4), level + 1});
        for (int i = 0; i < n; ++i) todo.push_back({get32(p + 16 + i * (es_ + 4) + es_), level + 1});
    }
    return 0;
}

int Btree::bulkLoad(const std::vector<std::uint8_t>& sorted) {
    int err = 0;
    std::size_t n = sorted.size() / es_;
    std::uint32_t cap = leafCapacity();
    // Leaves, filled to the brim and linked in order.
    struct Child {
        std::uint32_t pg;
        const std::uint8_t* first;
    };
    std::vector<Child> level;
    std::uint32_t prev = 0;
    std::size_t i = 0;
    do {
        std::uint32_t pg = pager_.allocate(PageLeaf, true, err);
        if (!pg) return err;
        std::uint8_t* p = pager_.edit(pg, err);
        if (!p) return err;
        p[1] = static_cast<std::uint8_t>(key_);
        std::size_t take = std::min<std::size_t>(cap, n - i);
        if (take) std::memcpy(p + 16, sorted.data() + i * es_, take * es_); // none for an empty key
        put16(p + 2, static_cast<std::uint16_t>(take));
        put32(p + 4, prev);
        if (prev) {
            std::uint8_t* q = pager_.edit(prev, err);
            if (!q) return err;
            put32(q + 8, pg);
        }
        level.push_back({pg, take ? sorted.data() + i * es_ : nullptr});
        prev = pg;
        i += take;
    } while (i < n);
    std::uint32_t d = 1;
    std::uint32_t bcap = branchCapacity();
    while (level.size() > 1) {
        std::vector<Child> up;
        for (std::size_t j = 0; j < level.size();) {
            std::uint32_t pg = pager_.allocate(PageBranch, true, err);
            if (!pg) return err;
            std::uint8_t* p = pager_.edit(pg, err);
            if (!p) return err;
            p[1] = static_cast<std::uint8_t>(key_);
            put32(p + 4, level[j].pg);
            up.push_back({pg, level[j].first});
            std::size_t k = 0;
            for (++j; j < level.size() && k < bcap; ++j, ++k) {
                std::memcpy(p + 16 + k * (es_ + 4), level[j].first, es_);
                put32(p + 16 + k * (es_ + 4) + es_, level[j].pg);
            }
            put16(p + 2, static_cast<std::uint16_t>(k));
        }
        level = std::move(up);
        ++d;
    }
    setRoot(level[0].pg, d, err);
    std::uint8_t* h = err ? nullptr : pager_.edit(0, err);
    if (h) put32(h + slotAt(key_) + 8, static_cast<std::uint32_t>(n));
    return err;
}

} // namespace sorv::qnl
