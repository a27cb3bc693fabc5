// Records, memos, keys and repairs of a native indexed file.
#include "data/qnl/table.h"

#include "data/qnl/txlog.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace sorv::qnl {

namespace {

constexpr std::uint32_t RecHeader = 16;
constexpr std::uint32_t DataBytes = ChecksumAt - 16; // payload of a declaration or memo page
constexpr std::uint32_t SlotHeader = 8;

struct ReadGuard {
    explicit ReadGuard(Pager& p, bool lockless = false) : pager(p), rc(p.beginRead(lockless)) {}
    ~ReadGuard() {
        if (rc == 0) pager.endRead();
    }
    Pager& pager;
    int rc;
};

// The reads that records and cursors do all the time run from the cache without locks when
// nothing changed; one that loses its snapshot to another station's commit runs again, locked.
template <typename Body> int readCached(Pager& pager, Body&& body) {
    for (bool lockless : {true, false}) {
        ReadGuard g(pager, lockless);
        if (g.rc != 0) return g.rc;
        int rc = body();
        if (!lockless || !pager.snapshotLost()) return rc;
    }
    return 0;
}

struct WriteGuard {
    explicit WriteGuard(Pager& p) : pager(p), rc(p.beginWrite()) {}
    ~WriteGuard() {
        if (rc == 0 && !done) pager.abortWrite();
    }
    int commit() {
        done = true;
        return pager.commitWrite();
    }
    int fail(int code) {
        done = true;
        pager.abortWrite();
        setError(code);
        return code;
    }
    Pager& pager;
    int rc;
    bool done = false;
};

int fail(int code) {
    setError(code);
    return code;
}

int sysError() {
    setErrnoError(errno ? errno : EIO);
    return err::FileSystemError;
}

std::uint32_t keySlot(std::size_t key) {
    return hdr::Keys + static_cast<std::uint32_t>(key) * hdr::KeyStride;
}

} // namespace

std::string withDefaultExtension(const std::string& name) {
    std::size_t cut = name.find_last_of("/\\");
    std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
    if (base.find('.') != std::string::npos) return name;
    return name + DefaultExtension;
}

Table::~Table() {
    close();
}

void Table::close() {
    releaseAll();
    pager_.close();
    codecs_.clear();
}

int Table::create(const std::string& path, const Schema& schema, bool replace) {
    std::string why = schema.validate();
    if (!why.empty()) {
        setError(err::InvalidRecordDeclaration, "Invalid Record Declaration: " + why);
        return err::InvalidRecordDeclaration;
    }
    std::uint32_t slotSize =
        SlotHeader + schema.layout.size() + 8 * static_cast<std::uint32_t>(schema.memos.size());
    if (slotSize > ChecksumAt - RecHeader) {
        setError(err::InvalidRecordDeclaration,
                 "Invalid Record Declaration: the record is longer than a page");
        return err::InvalidRecordDeclaration;
    }
    std::string decl = schema.serialize();
    std::uint32_t declPages = static_cast<std::uint32_t>((decl.size() + DataBytes - 1) / DataBytes);
    std::uint32_t keys = static_cast<std::uint32_t>(schema.keys.size());
    std::uint32_t pages = 1 + declPages + keys;
    std::vector<std::uint8_t> file(std::size_t(pages) * PageSize, 0);
    std::uint8_t* h = file.data();
    std::memcpy(h, MagicText, 8);
    h[0] = 'Q';
    put32(h + hdr::Version, FormatVersion);
    put32(h + hdr::PageSz, PageSize);
    put64(h + hdr::Counter, 1);
    put32(h + hdr::PageCount, pages);
    put32(h + hdr::SlotSize, slotSize);
    put32(h + hdr::SlotsPerPage, (ChecksumAt - RecHeader) / slotSize);
    put32(h + hdr::DeclPage, 1);
    put32(h + hdr::DeclLen, static_cast<std::uint32_t>(decl.size()));
    put32(h + hdr::KeyCount, keys);
    put32(h + hdr::KeysValid, 1);
    for (std::uint32_t i = 0; i < declPages; ++i) {
        std::uint8_t* p = file.data() + std::size_t(1 + i) * PageSize;
        p[0] = PageDecl;
        std::size_t take = std::min<std::size_t>(DataBytes, decl.size() - std::size_t(i) * DataBytes);
        put32(p + 4, i + 1 < declPages ? 2 + i : 0);
        put32(p + 8, static_cast<std::uint32_t>(take));
        std::memcpy(p + 16, decl.data() + std::size_t(i) * DataBytes, take);
    }
    for (std::uint32_t k = 0; k < keys; ++k) {
        std::uint32_t pg = 1 + declPages + k;
        std::uint8_t* p = file.data() + std::size_t(pg) * PageSize;
        p[0] = PageLeaf;
        p[1] = static_cast<std::uint8_t>(k);
        put32(h + keySlot(k), pg);
        put32(h + keySlot(k) + 4, 1);
    }
    for (std::uint32_t pg = 0; pg < pages; ++pg) sealPage(file.data() + std::size_t(pg) * PageSize, pg);

    // Written beside the target and linked into place, so the name never shows a partial file.
    std::string tmp = path + ".new" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ENOENT) return fail(err::PathNotFound);
        if (errno == EACCES) return fail(err::AccessDenied);
        return sysError();
    }
    bool ok = ::write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size()) && ::fsync(fd) == 0;
    int e = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(tmp.c_str());
        errno = e;
        return sysError();
    }
    int rc = 0;
    if (replace) {
        if (::rename(tmp.c_str(), path.c_str()) != 0) rc = sysError();
    } else if (::link(tmp.c_str(), path.c_str()) != 0) {
        rc = errno == EEXIST ? fail(err::FileAlreadyOpen) : sysError();
    }
    ::unlink(tmp.c_str());
    if (rc == 0) {
        // A log or journal left by an earlier file of the same name has nothing to do with this
        // one (the log would not be applied anyway: it names the other file).
        for (const char* ext : {".jnl", ".wal"}) ::unlink((path + ext).c_str());
    }
    return rc;
}

int Table::open(const std::string& path, bool readOnly) {
    close();
    int rc = pager_.open(path, readOnly, false);
    if (rc != 0) return rc;
    ReadGuard g(pager_);
    if (g.rc != 0) {
        pager_.close();
        return g.rc;
    }
    rc = loadSchema();
    if (rc != 0) {
        g.rc = 1; // the pager is closed below; nothing to end
        pager_.endRead();
        pager_.close();
    }
    return rc;
}

int Table::loadSchema() {
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    if (!h) return err;
    std::uint32_t first = get32(h + hdr::DeclPage), len = get32(h + hdr::DeclLen);
    std::uint32_t pages = pager_.pageCount();
    if (len == 0 || len > pages * DataBytes) return pager_.corruption(corrupt::BadDeclaration);
    std::string decl;
    std::uint32_t pg = first;
    while (decl.size() < len) {
        if (pg == 0 || decl.size() > len) return pager_.corruption(corrupt::BadDeclaration);
        const std::uint8_t* p = pager_.get(pg, err);
        if (!p) return err;
        std::uint32_t n = get32(p + 8);
        if (p[0] != PageDecl || n > DataBytes || n == 0) return pager_.corruption(corrupt::BadDeclaration);
        decl.append(reinterpret_cast<const char*>(p + 16), n);
        pg = get32(p + 4);
    }
    auto s = Schema::parse(decl);
    if (!s || decl.size() != len) return pager_.corruption(corrupt::BadDeclaration);
    schema_ = std::move(*s);
    slotSize_ = get32(h + hdr::SlotSize);
    slotsPerPage_ = get32(h + hdr::SlotsPerPage);
    std::uint32_t expect =
        SlotHeader + schema_.layout.size() + 8 * static_cast<std::uint32_t>(schema_.memos.size());
    if (slotSize_ != expect || slotsPerPage_ != (ChecksumAt - RecHeader) / slotSize_ ||
        get32(h + hdr::KeyCount) != schema_.keys.size())
        return pager_.corruption(corrupt::BadHeader);
    codecs_.clear();
    for (std::size_t k = 0; k < schema_.keys.size(); ++k)
        codecs_.push_back(std::make_unique<KeyCodec>(schema_, k));
    return 0;
}

bool Table::locate(std::uint32_t ptr, Slot& s) {
    if (ptr == 0 || slotsPerPage_ == 0) return false;
    s.pgno = (ptr - 1) / slotsPerPage_;
    s.index = (ptr - 1) % slotsPerPage_;
    if (s.pgno == 0 || s.pgno >= pager_.pageCount()) return false;
    int err = 0;
    const std::uint8_t* p = pager_.get(s.pgno, err);
    return p && p[0] == PageRecords && s.index < get16(p + 12);
}

int Table::readMemo(std::uint32_t first, std::uint32_t len, std::string& out) {
    out.clear();
    std::uint32_t pg = first;
    int err = 0;
    std::uint32_t hops = 0, limit = pager_.pageCount();
    while (out.size() < len) {
        if (pg == 0 || ++hops > limit) return pager_.corruption(corrupt::BadMemo);
        const std::uint8_t* p = pager_.get(pg, err);
        if (!p) return err;
        std::uint32_t n = get32(p + 8);
        if (p[0] != PageMemo || n > DataBytes || n == 0 || out.size() + n > len)
            return pager_.corruption(corrupt::BadMemo);
        out.append(reinterpret_cast<const char*>(p + 16), n);
        pg = get32(p + 4);
    }
    return 0;
}

int Table::writeMemo(const std::string& data, std::uint32_t& first) {
    first = 0;
    int err = 0;
    std::uint32_t prev = 0;
    for (std::size_t at = 0; at < data.size(); at += DataBytes) {
        std::uint32_t pg = pager_.allocate(PageMemo, true, err);
        if (!pg) return err;
        std::uint8_t* p = pager_.edit(pg, err);
        if (!p) return err;
        std::size_t take = std::min<std::size_t>(DataBytes, data.size() - at);
        put32(p + 8, static_cast<std::uint32_t>(take));
        std::memcpy(p + 16, data.data() + at, take);
        if (prev) {
            std::uint8_t* q = pager_.edit(prev, err);
            if (!q) return err;
            put32(q + 4, pg);
        } else {
            first = pg;
        }
        prev = pg;
    }
    return 0;
}

int Table::freeMemo(std::uint32_t first, std::uint32_t len) {
    int err = 0;
    std::uint32_t pg = first, hops = 0, limit = pager_.pageCount();
    std::uint32_t left = len;
    while (pg != 0 && left > 0) {
        if (++hops > limit) return pager_.corruption(corrupt::BadMemo);
        const std::uint8_t* p = pager_.get(pg, err);
        if (!p) return err;
        if (p[0] != PageMemo) return pager_.corruption(corrupt::BadMemo);
        std::uint32_t next = get32(p + 4), n = get32(p + 8);
        left = n >= left ? 0 : left - n;
        pager_.freePage(pg, err);
        if (err) return err;
        pg = next;
    }
    return 0;
}

std::string Table::trim(std::string memo, std::size_t i) const {
    const MemoDecl& m = schema_.memos[i];
    if (!m.isBlob && m.size > 0 && memo.size() > m.size) memo.resize(m.size);
    return memo;
}

int Table::readSlot(std::uint32_t ptr, RecordData& out, bool memos) {
    Slot s;
    if (!locate(ptr, s)) return fail(err::RecordNotFound);
    int err = 0;
    const std::uint8_t* p = pager_.get(s.pgno, err);
    if (!p) return err;
    const std::uint8_t* slot = p + slotOffset(s.index);
    if (slot[0] != 1) return fail(err::RecordNotFound);
    std::uint32_t size = schema_.layout.size();
    out.bytes.assign(slot + SlotHeader, slot + SlotHeader + size);
    out.version = get32(slot + 4);
    if (!memos) {
        out.memos.clear();
        return 0;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> refs;
    for (std::size_t i = 0; i < schema_.memos.size(); ++i) {
        const std::uint8_t* r = slot + SlotHeader + size + i * 8;
        refs.emplace_back(get32(r), get32(r + 4));
    }
    out.memos.assign(schema_.memos.size(), std::string());
    for (std::size_t i = 0; i < refs.size(); ++i) {
        int rc = readMemo(refs[i].first, refs[i].second, out.memos[i]);
        if (rc != 0) return rc;
    }
    return 0;
}

int Table::get(std::uint32_t ptr, RecordData& out) {
    return readCached(pager_, [&] { return readSlot(ptr, out, readMemos_); });
}

int Table::records(std::uint32_t& n) {
    return readCached(pager_, [&] {
        int err = 0;
        const std::uint8_t* h = pager_.get(0, err);
        if (!h) return err;
        n = get32(h + hdr::Records);
        return 0;
    });
}

int Table::keyEntries(int key, std::uint32_t& n) {
    return readCached(pager_, [&] {
        Btree bt(pager_, *codecs_[static_cast<std::size_t>(key)], static_cast<std::uint32_t>(key));
        n = bt.entries();
        return 0;
    });
}

int Table::scan(const std::function<bool(std::uint32_t, std::span<const std::uint8_t>)>& each) {
    ReadGuard g(pager_);
    if (g.rc != 0) return g.rc;
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    if (!h) return err;
    const std::uint32_t pages = pager_.pageCount(), spp = slotsPerPage_, size = schema_.layout.size();
    // Record pages come in page order along their chain, with key and memo pages between them:
    // the pages are read in windows from the next record page on.
    constexpr std::uint32_t Window = 64;
    std::vector<std::uint8_t> window(std::size_t(Window) * PageSize);
    std::uint32_t windowFirst = 0, windowCount = 0;
    std::uint32_t page = get32(h + hdr::FirstRecPage);
    // The chain only ever leads on to higher pages, so a damaged link cannot make it go round.
    for (std::uint32_t was = 0; page != 0;) {
        if (page <= was || page >= pages) return pager_.corruption(corrupt::BadRecordPage);
        if (page < windowFirst || page >= windowFirst + windowCount) {
            windowFirst = page;
            windowCount = std::min(Window, pages - page);
            if (!pager_.readRun(windowFirst, windowCount, window.data(), err)) return err;
        }
        const std::uint8_t* rp = window.data() + std::size_t(page - windowFirst) * PageSize;
        if (rp[0] != PageRecords || get16(rp + 12) > spp) return pager_.corruption(corrupt::BadRecordPage);
        const std::uint32_t hw = get16(rp + 12);
        for (std::uint32_t i = 0; i < hw; ++i) {
            const std::uint8_t* slot = rp + slotOffset(i);
            if (slot[0] == 1 && !each(page * spp + i + 1, {slot + SlotHeader, size})) return 0;
        }
        was = page;
        page = get32(rp + 8);
    }
    return 0;
}

int Table::scanKeyRanges(
    int key, const std::vector<KeyRange>& ranges,
    const std::function<bool(std::size_t, std::uint32_t, std::span<const std::uint8_t>)>& each) {
    if (key < 0 || key >= static_cast<int>(codecs_.size())) return fail(err::InvalidKeyFile);
    ReadGuard g(pager_);
    if (g.rc != 0) return g.rc;
    const KeyCodec& c = *codecs_[static_cast<std::size_t>(key)];
    Btree bt(pager_, c, static_cast<std::uint32_t>(key));
    // (pointer, range) of every entry in a range, from the key's pages (through the cache).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hits;
    std::vector<std::uint8_t> low(c.entrySize(), 0), high(c.entrySize(), 0), was(c.entrySize());
    int err = 0;
    for (std::size_t r = 0; r < ranges.size(); ++r) {
        c.extract(ranges[r].low, low.data());
        c.extract(ranges[r].high, high.data());
        Btree::Pos pos;
        bool found = false;
        int rc = bt.seekGE(low.data(), true, pos, found);
        for (bool first = true; rc == 0 && found; first = false, rc = bt.step(pos, true, found)) {
            const std::uint8_t* e = bt.entryAt(pos, err);
            if (!e) return err;
            if (c.compareKeys(e, high.data()) > 0) break;
            // Entries are unique and ordered: one that does not move on means a damaged tree.
            if (!first && c.compareEntries(e, was.data()) <= 0)
                return pager_.corruption(corrupt::BadTree, 46);
            std::copy_n(e, c.entrySize(), was.begin());
            hits.emplace_back(get32(e + c.keySize()), static_cast<std::uint32_t>(r));
        }
        if (rc != 0) return rc;
    }
    std::sort(hits.begin(), hits.end());
    const std::uint32_t pages = pager_.pageCount(), spp = slotsPerPage_, size = schema_.layout.size();
    // Needed pages come in one read with the pages between them while the gaps are short (a few
    // pages read for nothing cost less than a read of their own), up to a window.
    constexpr std::uint32_t Window = 64, Gap = 8;
    std::vector<std::uint8_t> window(std::size_t(Window) * PageSize);
    std::uint32_t windowFirst = 0, windowCount = 0;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const std::uint32_t ptr = hits[i].first;
        const std::uint32_t page = ptr == 0 ? 0 : (ptr - 1) / spp, index = ptr == 0 ? 0 : (ptr - 1) % spp;
        if (page == 0 || page >= pages) return pager_.corruption(corrupt::KeyMismatch, 46);
        if (page < windowFirst || page >= windowFirst + windowCount) {
            std::size_t last = i;
            for (; last + 1 < hits.size(); ++last) {
                const std::uint32_t to = (hits[last + 1].first - 1) / spp;
                if (to >= page + Window || to > (hits[last].first - 1) / spp + Gap) break;
            }
            windowFirst = page;
            windowCount = (hits[last].first - 1) / spp - page + 1;
            if (!pager_.readRun(windowFirst, windowCount, window.data(), err)) return err;
        }
        const std::uint8_t* rp = window.data() + std::size_t(page - windowFirst) * PageSize;
        if (rp[0] != PageRecords || index >= get16(rp + 12))
            return pager_.corruption(corrupt::KeyMismatch, 46);
        const std::uint8_t* slot = rp + slotOffset(index);
        if (slot[0] != 1) return pager_.corruption(corrupt::KeyMismatch, 46);
        if (!each(hits[i].second, ptr, {slot + SlotHeader, size})) return 0;
    }
    return 0;
}

int Table::uniqueCheck(std::span<const std::uint8_t> rec, std::uint32_t self) {
    std::vector<std::uint8_t> entry;
    for (std::size_t k = 0; k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        if (c.decl().dup()) continue;
        entry.assign(c.entrySize(), 0);
        c.extract(rec, entry.data());
        if (c.leavesOut(entry.data())) continue;
        Btree bt(pager_, c, static_cast<std::uint32_t>(k));
        Btree::Pos pos;
        bool found = false;
        int rc = bt.seekGE(entry.data(), true, pos, found);
        if (rc != 0) return rc;
        if (!found) continue;
        int err = 0;
        const std::uint8_t* e = bt.entryAt(pos, err);
        if (!e) return err;
        if (c.compareKeys(e, entry.data()) == 0 && get32(e + c.keySize()) != self)
            return fail(err::DuplicateKey);
    }
    return 0;
}

int Table::findKey(int key, std::span<const std::uint8_t> rec, std::uint32_t& ptr) {
    ptr = 0;
    if (key < 0 || key >= static_cast<int>(codecs_.size())) return fail(err::InvalidKeyFile);
    return readCached(pager_, [&] { return findKeyIn(key, rec, ptr); });
}

int Table::findKeyIn(int key, std::span<const std::uint8_t> rec, std::uint32_t& ptr) {
    const KeyCodec& c = *codecs_[static_cast<std::size_t>(key)];
    std::vector<std::uint8_t> entry(c.entrySize(), 0);
    c.extract(rec, entry.data());
    Btree bt(pager_, c, static_cast<std::uint32_t>(key));
    Btree::Pos pos;
    bool found = false;
    int rc = bt.seekGE(entry.data(), true, pos, found);
    if (rc != 0) return rc;
    if (!found) return fail(err::RecordNotFound);
    int err = 0;
    const std::uint8_t* e = bt.entryAt(pos, err);
    if (!e) return err;
    if (c.compareKeys(e, entry.data()) != 0) return fail(err::RecordNotFound);
    ptr = get32(e + c.keySize());
    return 0;
}

int Table::takeSlot(std::uint32_t& ptr, Slot& s) {
    int err = 0;
    std::uint8_t* h = pager_.edit(0, err);
    if (!h) return err;
    std::uint32_t free = get32(h + hdr::FreeSlot);
    if (free != 0) {
        if (!locate(free, s)) return pager_.corruption(corrupt::BadRecordPage);
        std::uint8_t* p = pager_.edit(s.pgno, err);
        if (!p) return err;
        std::uint8_t* slot = p + slotOffset(s.index);
        if (slot[0] != 0) return pager_.corruption(corrupt::BadRecordPage);
        h = pager_.edit(0, err);
        put32(h + hdr::FreeSlot, get32(slot + SlotHeader));
        ptr = free;
        return 0;
    }
    std::uint32_t last = get32(h + hdr::LastRecPage);
    if (last != 0) {
        const std::uint8_t* p = pager_.get(last, err);
        if (!p) return err;
        if (p[0] != PageRecords) return pager_.corruption(corrupt::BadRecordPage);
        std::uint16_t hw = get16(p + 12);
        if (hw < slotsPerPage_) {
            std::uint8_t* w = pager_.edit(last, err);
            if (!w) return err;
            put16(w + 12, static_cast<std::uint16_t>(hw + 1));
            s = {last, hw};
            ptr = last * slotsPerPage_ + hw + 1;
            return 0;
        }
    }
    // Record pages are only added at the end, so the record chain stays in page order.
    std::uint32_t pg = pager_.allocate(PageRecords, false, err);
    if (!pg) return err;
    if (std::uint64_t(pg) * slotsPerPage_ + slotsPerPage_ > 0xFFFFFFFFull) {
        setFileError(39);
        return err::FileSystemError;
    }
    std::uint8_t* p = pager_.edit(pg, err);
    if (!p) return err;
    put32(p + 4, last);
    put16(p + 12, 1);
    if (last) {
        std::uint8_t* q = pager_.edit(last, err);
        if (!q) return err;
        put32(q + 8, pg);
    }
    h = pager_.edit(0, err);
    if (!h) return err;
    if (!get32(h + hdr::FirstRecPage)) put32(h + hdr::FirstRecPage, pg);
    put32(h + hdr::LastRecPage, pg);
    s = {pg, 0};
    ptr = pg * slotsPerPage_ + 1;
    return 0;
}

int Table::insertKeys(std::span<const std::uint8_t> rec, std::uint32_t ptr) {
    std::vector<std::uint8_t> entry;
    for (std::size_t k = 0; k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        entry.assign(c.entrySize(), 0);
        c.extract(rec, entry.data());
        if (c.leavesOut(entry.data())) continue;
        put32(entry.data() + c.keySize(), ptr);
        int rc = Btree(pager_, c, static_cast<std::uint32_t>(k)).insert(entry.data());
        if (rc != 0) return rc;
    }
    return 0;
}

int Table::add(RecordData& rec, std::uint32_t& ptr) {
    rec.bytes.resize(schema_.layout.size(), 0);
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    int rc = uniqueCheck(rec.bytes, 0);
    Slot s{};
    if (rc == 0) rc = takeSlot(ptr, s);
    std::vector<std::uint32_t> firsts(schema_.memos.size(), 0);
    for (std::size_t i = 0; rc == 0 && i < schema_.memos.size(); ++i)
        if (i < rec.memos.size()) {
            rec.memos[i] = trim(std::move(rec.memos[i]), i);
            rc = writeMemo(rec.memos[i], firsts[i]);
        }
    if (rc == 0) rc = insertKeys(rec.bytes, ptr);
    int err = 0;
    std::uint8_t* p = rc == 0 ? pager_.edit(s.pgno, err) : nullptr;
    std::uint8_t* h = p ? pager_.edit(0, err) : nullptr;
    if (rc == 0 && !h) rc = err;
    if (rc != 0) return g.fail(rc);
    std::uint8_t* slot = p + slotOffset(s.index);
    std::uint32_t version = get32(slot + 4) + 1;
    std::memset(slot, 0, slotSize_);
    slot[0] = 1;
    put32(slot + 4, version);
    std::memcpy(slot + SlotHeader, rec.bytes.data(), rec.bytes.size());
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        std::uint8_t* r = slot + SlotHeader + rec.bytes.size() + i * 8;
        put32(r, firsts[i]);
        put32(r + 4, i < rec.memos.size() ? static_cast<std::uint32_t>(rec.memos[i].size()) : 0);
    }
    put16(p + 2, static_cast<std::uint16_t>(get16(p + 2) + 1));
    put32(h + hdr::Records, get32(h + hdr::Records) + 1);
    rc = g.commit();
    if (rc == 0) rec.version = version;
    return rc;
}

int Table::heldByOther(std::uint32_t ptr) {
    if (holds_.count(ptr)) return 0;
    if (!lockRange(pager_.fd(), HoldLockAt + ptr, true, false)) return fail(err::RecordHeld);
    unlockRange(pager_.fd(), HoldLockAt + ptr);
    return 0;
}

int Table::put(std::uint32_t ptr, RecordData& rec, bool watch) {
    rec.bytes.resize(schema_.layout.size(), 0);
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    RecordData old;
    int rc = heldByOther(ptr);
    if (rc == 0) rc = readSlot(ptr, old, false);
    if (rc == 0 && watch && old.version != rec.version) rc = fail(err::RecordChanged);
    if (rc == 0) rc = uniqueCheck(rec.bytes, ptr);
    std::vector<std::uint8_t> a, b;
    for (std::size_t k = 0; rc == 0 && k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        a.assign(c.entrySize(), 0);
        b.assign(c.entrySize(), 0);
        c.extract(old.bytes, a.data());
        c.extract(rec.bytes, b.data());
        if (std::memcmp(a.data(), b.data(), c.keySize()) == 0) continue;
        put32(a.data() + c.keySize(), ptr);
        put32(b.data() + c.keySize(), ptr);
        Btree bt(pager_, c, static_cast<std::uint32_t>(k));
        if (!c.leavesOut(a.data())) rc = bt.erase(a.data());
        if (rc == 0 && !c.leavesOut(b.data())) rc = bt.insert(b.data());
    }
    Slot s{};
    int err = 0;
    std::uint8_t* p = nullptr;
    if (rc == 0 && locate(ptr, s)) p = pager_.edit(s.pgno, err);
    if (rc == 0 && !p) rc = err ? err : fail(err::RecordNotFound);
    if (rc == 0 && !rec.memos.empty()) {
        std::uint32_t size = schema_.layout.size();
        for (std::size_t i = 0; rc == 0 && i < schema_.memos.size(); ++i) {
            std::uint8_t* r = p + slotOffset(s.index) + SlotHeader + size + i * 8;
            rc = freeMemo(get32(r), get32(r + 4));
            std::uint32_t first = 0;
            std::string m = i < rec.memos.size() ? trim(std::move(rec.memos[i]), i) : std::string();
            if (rc == 0) rc = writeMemo(m, first);
            p = rc == 0 ? pager_.edit(s.pgno, err) : nullptr;
            if (rc == 0 && !p) rc = err;
            if (rc == 0) {
                r = p + slotOffset(s.index) + SlotHeader + size + i * 8;
                put32(r, first);
                put32(r + 4, static_cast<std::uint32_t>(m.size()));
                if (i < rec.memos.size()) rec.memos[i] = std::move(m);
            }
        }
    }
    if (rc != 0) return g.fail(rc);
    std::uint8_t* slot = p + slotOffset(s.index);
    std::uint32_t version = get32(slot + 4) + 1;
    put32(slot + 4, version);
    std::memcpy(slot + SlotHeader, rec.bytes.data(), rec.bytes.size());
    rc = g.commit();
    if (rc == 0) rec.version = version;
    return rc;
}

int Table::erase(std::uint32_t ptr) {
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    RecordData old;
    int rc = heldByOther(ptr);
    if (rc == 0) rc = readSlot(ptr, old, false);
    std::vector<std::uint8_t> a;
    for (std::size_t k = 0; rc == 0 && k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        a.assign(c.entrySize(), 0);
        c.extract(old.bytes, a.data());
        put32(a.data() + c.keySize(), ptr);
        if (!c.leavesOut(a.data())) rc = Btree(pager_, c, static_cast<std::uint32_t>(k)).erase(a.data());
    }
    Slot s{};
    int err = 0;
    std::uint8_t* p = nullptr;
    if (rc == 0 && locate(ptr, s)) p = pager_.edit(s.pgno, err);
    if (rc == 0 && !p) rc = err ? err : fail(err::RecordNotFound);
    std::uint32_t size = schema_.layout.size();
    for (std::size_t i = 0; rc == 0 && i < schema_.memos.size(); ++i) {
        const std::uint8_t* r = p + slotOffset(s.index) + SlotHeader + size + i * 8;
        rc = freeMemo(get32(r), get32(r + 4));
        p = rc == 0 ? pager_.edit(s.pgno, err) : nullptr;
        if (rc == 0 && !p) rc = err;
    }
    std::uint8_t* h = rc == 0 ? pager_.edit(0, err) : nullptr;
    if (rc == 0 && !h) rc = err;
    if (rc != 0) return g.fail(rc);
    std::uint8_t* slot = p + slotOffset(s.index);
    std::uint32_t version = get32(slot + 4) + 1;
    std::memset(slot, 0, slotSize_);
    put32(slot + 4, version);
    put32(slot + SlotHeader, get32(h + hdr::FreeSlot));
    put32(h + hdr::FreeSlot, ptr);
    put32(h + hdr::Records, get32(h + hdr::Records) - 1);
    put16(p + 2, static_cast<std::uint16_t>(get16(p + 2) - 1));
    rc = g.commit();
    if (rc == 0) release(ptr);
    return rc;
}

int Table::collectRecords(std::vector<std::uint32_t>& ptrs, std::vector<std::uint32_t>* recPages) {
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    if (!h) return err;
    std::uint32_t pg = get32(h + hdr::FirstRecPage), prev = 0, limit = pager_.pageCount();
    for (std::uint32_t hops = 0; pg != 0; ++hops) {
        if (hops > limit || pg <= prev) return pager_.corruption(corrupt::BadRecordPage);
        const std::uint8_t* p = pager_.get(pg, err);
        if (!p) return err;
        if (p[0] != PageRecords || get32(p + 4) != prev || get16(p + 12) > slotsPerPage_)
            return pager_.corruption(corrupt::BadRecordPage);
        if (recPages) recPages->push_back(pg);
        for (std::uint32_t i = 0; i < get16(p + 12); ++i)
            if (p[slotOffset(i)] == 1) ptrs.push_back(pg * slotsPerPage_ + i + 1);
        prev = pg;
        pg = get32(p + 8);
    }
    return 0;
}

int Table::rebuild(bool compact, std::vector<RecordData>* keep) {
    int err = 0;
    std::vector<std::vector<std::uint8_t>> entries(codecs_.size());
    auto addEntries = [&](std::span<const std::uint8_t> rec, std::uint32_t ptr) {
        for (std::size_t k = 0; k < codecs_.size(); ++k) {
            const KeyCodec& c = *codecs_[k];
            std::size_t at = entries[k].size();
            entries[k].resize(at + c.entrySize());
            c.extract(rec, entries[k].data() + at);
            put32(entries[k].data() + at + c.keySize(), ptr);
            if (c.leavesOut(entries[k].data() + at)) entries[k].resize(at);
        }
    };
    const std::uint8_t* h0 = pager_.get(0, err);
    if (!h0) return err;
    std::uint32_t declPages = (get32(h0 + hdr::DeclLen) + DataBytes - 1) / DataBytes;
    if (compact) {
        pager_.truncatePages(1 + declPages, err);
        std::uint8_t* h = err ? nullptr : pager_.edit(0, err);
        if (!h) return err;
        for (std::uint32_t f : {hdr::FreeHead, hdr::FreeCount, hdr::Records, hdr::FreeSlot, hdr::FirstRecPage,
                                hdr::LastRecPage})
            put32(h + f, 0);
        std::uint32_t size = schema_.layout.size();
        for (RecordData& r : *keep) {
            std::uint32_t ptr = 0;
            Slot s{};
            int rc = takeSlot(ptr, s);
            std::vector<std::uint32_t> firsts(schema_.memos.size(), 0);
            for (std::size_t i = 0; rc == 0 && i < schema_.memos.size() && i < r.memos.size(); ++i)
                rc = writeMemo(r.memos[i], firsts[i]);
            std::uint8_t* p = rc == 0 ? pager_.edit(s.pgno, err) : nullptr;
            h = p ? pager_.edit(0, err) : nullptr;
            if (rc != 0) return rc;
            if (!h) return err;
            std::uint8_t* slot = p + slotOffset(s.index);
            slot[0] = 1;
            put32(slot + 4, 1);
            std::memcpy(slot + SlotHeader, r.bytes.data(), size);
            for (std::size_t i = 0; i < firsts.size(); ++i) {
                put32(slot + SlotHeader + size + i * 8, firsts[i]);
                put32(slot + SlotHeader + size + i * 8 + 4,
                      i < r.memos.size() ? static_cast<std::uint32_t>(r.memos[i].size()) : 0);
            }
            put16(p + 2, static_cast<std::uint16_t>(get16(p + 2) + 1));
            put32(h + hdr::Records, get32(h + hdr::Records) + 1);
            addEntries(r.bytes, ptr);
        }
    } else {
        // Keep the header, the declaration, the record pages and the memos of live records;
        // every other page (old trees, free pages, lost pages) becomes free space.
        std::vector<std::uint32_t> ptrs, recPages;
        int rc = collectRecords(ptrs, &recPages);
        if (rc != 0) return rc;
        std::uint32_t pages = pager_.pageCount();
        std::vector<char> used(pages, 0);
        used[0] = 1;
        for (std::uint32_t i = 1; i <= declPages && i < pages; ++i) used[i] = 1;
        for (std::uint32_t pg : recPages) used[pg] = 1;
        std::uint32_t size = schema_.layout.size();
        std::uint32_t freeSlot = 0, live = 0;
        for (std::uint32_t pg : recPages) {
            const std::uint8_t* p = pager_.get(pg, err);
            if (!p) return err;
            std::uint32_t hw = get16(p + 12);
            std::uint8_t* w = pager_.edit(pg, err);
            if (!w) return err;
            std::uint16_t count = 0;
            for (std::uint32_t i = 0; i < hw; ++i) {
                std::uint8_t* slot = w + slotOffset(i);
                std::uint32_t ptr = pg * slotsPerPage_ + i + 1;
                if (slot[0] != 1) {
                    // The free slots are chained again from the records themselves.
                    std::memset(slot, 0, 4);
                    put32(slot + SlotHeader, freeSlot);
                    freeSlot = ptr;
                    continue;
                }
                ++count;
                ++live;
                for (std::size_t m = 0; m < schema_.memos.size(); ++m) {
                    std::uint8_t* r = slot + SlotHeader + size + m * 8;
                    std::uint32_t mp = get32(r), len = get32(r + 4), hops = 0;
                    bool ok = true;
                    std::vector<std::uint32_t> chain;
                    for (std::uint32_t left = len; left > 0 && ok;) {
                        const std::uint8_t* q = mp && mp < pages && !used[mp] ? pager_.get(mp, err) : nullptr;
                        err = 0;
                        if (!q || q[0] != PageMemo || get32(q + 8) == 0 || get32(q + 8) > left ||
                            ++hops > pages) {
                            ok = false;
                            break;
                        }
                        chain.push_back(mp);
                        left -= get32(q + 8);
                        mp = get32(q + 4);
                    }
                    if (!ok) {
                        // A memo whose chain is broken is dropped rather than left pointing at junk.
                        w = pager_.edit(pg, err);
                        slot = w + slotOffset(i);
                        r = slot + SlotHeader + size + m * 8;
                        put32(r, 0);
                        put32(r + 4, 0);
                        continue;
                    }
                    for (std::uint32_t c : chain) used[c] = 1;
                }
                w = pager_.edit(pg, err);
                addEntries(std::span<const std::uint8_t>(w + slotOffset(i) + SlotHeader, size), ptr);
            }
            w = pager_.edit(pg, err);
            if (!w) return err;
            put16(w + 2, count);
        }
        std::uint8_t* h = pager_.edit(0, err);
        if (!h) return err;
        put32(h + hdr::FreeHead, 0);
        put32(h + hdr::FreeCount, 0);
        put32(h + hdr::FreeSlot, freeSlot);
        put32(h + hdr::Records, live);
        for (std::uint32_t pg = pages; pg-- > 1;)
            if (!used[pg]) {
                pager_.freePage(pg, err);
                if (err) return err;
            }
    }
    for (std::size_t k = 0; k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        std::size_t es = c.entrySize(), n = entries[k].size() / es;
        std::vector<std::uint32_t> order(n);
        for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
        const std::uint8_t* base = entries[k].data();
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return c.compareEntries(base + a * es, base + b * es) < 0;
        });
        std::vector<std::uint8_t> sorted(entries[k].size());
        for (std::size_t i = 0; i < n; ++i) std::memcpy(sorted.data() + i * es, base + order[i] * es, es);
        if (!c.decl().dup())
            for (std::size_t i = 1; i < n; ++i)
                if (c.compareKeys(sorted.data() + (i - 1) * es, sorted.data() + i * es) == 0)
                    return fail(err::DuplicateKey);
        int rc = Btree(pager_, c, static_cast<std::uint32_t>(k)).bulkLoad(sorted);
        if (rc != 0) return rc;
    }
    std::uint8_t* h = pager_.edit(0, err);
    if (!h) return err;
    put32(h + hdr::KeysValid, 1);
    return 0;
}

int Table::build() {
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    int rc = rebuild(false, nullptr);
    if (rc != 0) return g.fail(rc);
    return g.commit();
}

int Table::empty() {
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    std::vector<RecordData> none;
    int rc = rebuild(true, &none);
    if (rc != 0) return g.fail(rc);
    releaseAll();
    return g.commit();
}

int Table::pack() {
    WriteGuard g(pager_);
    if (g.rc != 0) return g.rc;
    std::vector<std::uint32_t> ptrs;
    int rc = collectRecords(ptrs, nullptr);
    std::vector<RecordData> keep(ptrs.size());
    for (std::size_t i = 0; rc == 0 && i < ptrs.size(); ++i) rc = readSlot(ptrs[i], keep[i], true);
    if (rc == 0) rc = rebuild(true, &keep);
    if (rc != 0) return g.fail(rc);
    releaseAll();
    return g.commit();
}

int Table::flush() {
    return pager_.flush();
}

int Table::hold(std::uint32_t ptr, int timeoutMs) {
    if (holds_.count(ptr)) return 0;
    if (!lockWithin(pager_.fd(), HoldLockAt + ptr, true, timeoutMs)) return fail(err::RecordHeld);
    holds_.insert(ptr);
    return 0;
}

void Table::release(std::uint32_t ptr) {
    if (holds_.erase(ptr)) unlockRange(pager_.fd(), HoldLockAt + ptr);
}

void Table::releaseAll() {
    for (std::uint32_t p : holds_) unlockRange(pager_.fd(), HoldLockAt + p);
    holds_.clear();
}

int Table::stats(TableStats& out) {
    ReadGuard g(pager_);
    if (g.rc != 0) return g.rc;
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    if (!h) return err;
    out = TableStats{};
    out.records = get32(h + hdr::Records);
    out.pages = pager_.pageCount();
    out.freePages = get32(h + hdr::FreeCount);
    out.slotsPerPage = slotsPerPage_;
    out.slotSize = slotSize_;
    out.fileBytes = std::uint64_t(out.pages) * PageSize;
    std::uint32_t pg = get32(h + hdr::FreeSlot);
    RecordData tmp;
    for (std::uint32_t hops = 0; pg != 0 && hops <= out.pages * slotsPerPage_; ++hops) {
        Slot s;
        if (!locate(pg, s)) break;
        const std::uint8_t* p = pager_.get(s.pgno, err);
        if (!p) break;
        ++out.freeSlots;
        pg = get32(p + slotOffset(s.index) + SlotHeader);
    }
    std::vector<std::uint32_t> ptrs, recPages;
    if (collectRecords(ptrs, &recPages) == 0) out.recordPages = static_cast<std::uint32_t>(recPages.size());
    for (std::size_t k = 0; k < codecs_.size(); ++k) {
        Btree bt(pager_, *codecs_[k], static_cast<std::uint32_t>(k));
        out.keyDepths.push_back(bt.depth());
        out.keyEntries.push_back(bt.entries());
    }
    return 0;
}

int Table::salvage(const std::string& newPath, SalvageReport& out) {
    out = SalvageReport{};
    std::vector<RecordData> found;
    {
        ReadGuard g(pager_);
        if (g.rc != 0) return g.rc;
        int err = 0;
        std::uint32_t pages = pager_.pageCount();
        std::uint32_t size = schema_.layout.size();
        for (std::uint32_t pg = 1; pg < pages; ++pg) {
            const std::uint8_t* p = pager_.get(pg, err);
            if (!p) {
                ++out.damagedPages;
                continue;
            }
            if (p[0] != PageRecords || get16(p + 12) > slotsPerPage_) continue;
            // Memos are read page by page below, so the page is copied first.
            std::vector<std::uint8_t> page(p, p + PageSize);
            for (std::uint32_t i = 0; i < get16(page.data() + 12); ++i) {
                const std::uint8_t* slot = page.data() + slotOffset(i);
                if (slot[0] != 1) continue;
                RecordData r;
                r.bytes.assign(slot + SlotHeader, slot + SlotHeader + size);
                r.memos.assign(schema_.memos.size(), std::string());
                for (std::size_t m = 0; m < schema_.memos.size(); ++m) {
                    const std::uint8_t* ref = slot + SlotHeader + size + m * 8;
                    if (get32(ref + 4) != 0 && readMemo(get32(ref), get32(ref + 4), r.memos[m]) != 0) {
                        r.memos[m].clear();
                        ++out.brokenMemos;
                    }
                }
                found.push_back(std::move(r));
            }
        }
    }
    int rc = create(newPath, schema_, false);
    if (rc != 0) return rc;
    Table fresh;
    if ((rc = fresh.open(newPath)) != 0) return rc;
    Transaction tx;
    if ((rc = tx.begin({&fresh})) != 0) return rc;
    for (RecordData& r : found) {
        std::uint32_t ptr = 0;
        rc = fresh.add(r, ptr);
        if (rc == err::DuplicateKey) {
            ++out.duplicates;
            continue;
        }
        if (rc != 0) return rc;
        ++out.records;
    }
    rc = tx.commit();
    if (rc == 0) clearError();
    return rc;
}

int Table::check(std::vector<std::string>& problems) {
    ReadGuard g(pager_);
    if (g.rc != 0) {
        problems.push_back("the file cannot be read: " + std::string(errorText(g.rc)));
        return 0;
    }
    int err = 0;
    const std::uint8_t* h = pager_.get(0, err);
    if (!h) {
        problems.push_back("the header is damaged");
        return 0;
    }
    std::uint32_t pages = pager_.pageCount();
    std::vector<int> owner(pages, 0); // how often a page is referenced
    std::vector<char> readable(pages, 1);
    owner[0] = 1;
    for (std::uint32_t pg = 1; pg < pages; ++pg)
        if (!pager_.get(pg, err)) {
            readable[pg] = 0;
            problems.push_back("page " + std::to_string(pg) + " is damaged (checksum)");
        }
    auto mark = [&](std::uint32_t pg, const char* what) {
        if (pg >= pages) {
            problems.push_back(std::string(what) + " refers to page " + std::to_string(pg) +
                               " beyond the end");
            return false;
        }
        if (++owner[pg] == 2) problems.push_back("page " + std::to_string(pg) + " is used twice");
        return readable[pg] != 0;
    };
    std::uint32_t declPages = (get32(h + hdr::DeclLen) + DataBytes - 1) / DataBytes;
    for (std::uint32_t i = 1; i <= declPages; ++i) mark(i, "the declaration");

    // Records and their memos.
    std::vector<std::uint32_t> ptrs, recPages;
    std::map<std::uint32_t, std::vector<std::uint8_t>> recs;
    if (collectRecords(ptrs, &recPages) != 0) {
        problems.push_back("the chain of record pages is broken");
    }
    std::uint32_t size = schema_.layout.size();
    std::uint32_t live = 0;
    for (std::uint32_t pg : recPages) {
        if (!mark(pg, "the record chain")) continue;
        const std::uint8_t* p = pager_.get(pg, err);
        std::uint32_t count = 0;
        for (std::uint32_t i = 0; i < get16(p + 12); ++i) {
            const std::uint8_t* slot = p + slotOffset(i);
            if (slot[0] != 1) continue;
            ++count;
            std::uint32_t ptr = pg * slotsPerPage_ + i + 1;
            recs[ptr].assign(slot + SlotHeader, slot + SlotHeader + size);
            for (std::size_t m = 0; m < schema_.memos.size(); ++m) {
                const std::uint8_t* r = slot + SlotHeader + size + m * 8;
                std::uint32_t mp = get32(r), left = get32(r + 4);
                for (std::uint32_t hops = 0; left > 0; ++hops) {
                    if (mp == 0 || hops > pages || !mark(mp, "a memo")) {
                        problems.push_back("memo " + std::to_string(m + 1) + " of record " +
                                           std::to_string(ptr) + " is broken");
                        break;
                    }
                    const std::uint8_t* q = pager_.get(mp, err);
                    std::uint32_t n = get32(q + 8);
                    if (q[0] != PageMemo || n == 0 || n > left) {
                        problems.push_back("memo " + std::to_string(m + 1) + " of record " +
                                           std::to_string(ptr) + " is broken");
                        break;
                    }
                    left -= n;
                    mp = get32(q + 4);
                }
            }
        }
        if (count != get16(p + 2))
            problems.push_back("record page " + std::to_string(pg) + " miscounts its records");
        live += count;
    }
    if (live != get32(h + hdr::Records))
        problems.push_back("the header counts " + std::to_string(get32(h + hdr::Records)) +
                           " records, the file holds " + std::to_string(live));
    // Free slots.
    std::set<std::uint32_t> freeSlots;
    for (std::uint32_t fs = get32(h + hdr::FreeSlot); fs != 0;) {
        Slot s;
        if (!locate(fs, s) || freeSlots.count(fs)) {
            problems.push_back("the list of free record slots is broken");
            break;
        }
        const std::uint8_t* p = pager_.get(s.pgno, err);
        if (!p || p[slotOffset(s.index)] != 0) {
            problems.push_back("the list of free record slots holds a live record");
            break;
        }
        freeSlots.insert(fs);
        fs = get32(p + slotOffset(s.index) + SlotHeader);
    }
    // Free pages.
    std::uint32_t freeCount = 0;
    for (std::uint32_t fp = get32(h + hdr::FreeHead); fp != 0; ++freeCount) {
        if (freeCount > pages || !mark(fp, "the free list")) {
            problems.push_back("the free page list is broken");
            break;
        }
        const std::uint8_t* p = pager_.get(fp, err);
        if (p[0] != PageFree) {
            problems.push_back("the free page list holds page " + std::to_string(fp) + " which is in use");
            break;
        }
        fp = get32(p + 4);
    }
    if (freeCount != get32(h + hdr::FreeCount)) problems.push_back("the header miscounts the free pages");
    // Keys: every entry in order, pointing at a record whose key it carries, and every record in.
    for (std::size_t k = 0; k < codecs_.size(); ++k) {
        const KeyCodec& c = *codecs_[k];
        const std::string name = "key " + schema_.keys[k].label;
        Btree bt(pager_, c, static_cast<std::uint32_t>(k));
        std::vector<std::uint32_t> tree;
        if (bt.collectPages(tree) != 0) {
            problems.push_back(name + " has a damaged tree");
            continue;
        }
        for (std::uint32_t pg : tree) mark(pg, name.c_str());
        std::uint32_t expected = 0;
        std::vector<std::uint8_t> kb(c.entrySize());
        for (auto& [ptr, bytes] : recs) {
            c.extract(bytes, kb.data());
            if (!c.leavesOut(kb.data())) ++expected;
        }
        Btree::Pos pos;
        bool found = false;
        std::uint32_t seen = 0;
        std::vector<std::uint8_t> prev;
        bool broken = bt.first(pos, found) != 0;
        while (!broken && found) {
            const std::uint8_t* e = bt.entryAt(pos, err);
            if (!e) {
                broken = true;
                break;
            }
            if (!prev.empty() && c.compareEntries(prev.data(), e) >= 0) {
                problems.push_back(name + " is out of order");
                broken = true;
                break;
            }
            if (!c.decl().dup() && !prev.empty() && c.compareKeys(prev.data(), e) == 0)
                problems.push_back(name + " holds a duplicate where none is allowed");
            prev.assign(e, e + c.entrySize());
            std::uint32_t ptr = get32(e + c.keySize());
            auto r = recs.find(ptr);
            if (r == recs.end()) {
                problems.push_back(name + " points at record " + std::to_string(ptr) +
                                   " which does not exist");
            } else {
                c.extract(r->second, kb.data());
                if (std::memcmp(kb.data(), e, c.keySize()) != 0)
                    problems.push_back(name + " does not match record " + std::to_string(ptr));
            }
            if (++seen > pages * (PageSize / 4)) {
                broken = true;
                break;
            }
            if (bt.step(pos, true, found) != 0) broken = true;
        }
        if (broken)
            problems.push_back(name + " cannot be walked");
        else if (seen != expected)
            problems.push_back(name + " holds " + std::to_string(seen) + " entries for " +
                               std::to_string(expected) + " records");
        if (!broken && seen != bt.entries()) problems.push_back(name + " miscounts its entries");
    }
    for (std::uint32_t pg = 1; pg < pages; ++pg)
        if (owner[pg] == 0 && readable[pg])
            problems.push_back("page " + std::to_string(pg) + " is lost (used by nothing)");
    clearError();
    return 0;
}

// ---- cursors ----

Cursor::Cursor(const Cursor& o)
    : t_(o.t_), key_(o.key_), next_(o.next_), prev_(o.prev_), last_(o.last_), pos_(o.pos_),
      posGeneration_(o.posGeneration_) {}

Cursor::~Cursor() {
    endScan();
}

void Cursor::endScan() {
    if (pinned_) t_.pager_.unpin();
    pinned_ = false;
}

void Cursor::setFirst() {
    endScan();
    next_ = {Bound::Start, {}, true};
    prev_ = {Bound::End, {}, true};
    posGeneration_ = 0;
}

void Cursor::setValue(std::span<const std::uint8_t> record, std::uint32_t ptr) {
    endScan();
    if (key_ < 0 || key_ >= static_cast<int>(t_.codecs_.size())) return setPointer(ptr);
    const KeyCodec& c = *t_.codecs_[static_cast<std::size_t>(key_)];
    std::vector<std::uint8_t> e(c.entrySize(), 0);
    c.extract(record, e.data());
    put32(e.data() + c.keySize(), ptr);
    next_ = {Bound::At, e, true};
    put32(e.data() + c.keySize(), ptr ? ptr : 0xFFFFFFFFu);
    prev_ = {Bound::At, e, true};
    posGeneration_ = 0;
}

void Cursor::setPointer(std::uint32_t ptr) {
    endScan();
    std::vector<std::uint8_t> e(4);
    put32(e.data(), ptr);
    next_ = {Bound::At, e, true};
    prev_ = {Bound::At, e, true};
    posGeneration_ = 0;
}

int Cursor::reset(std::string_view position) {
    endScan();
    std::size_t want = key_ < 0 ? 4 : t_.codecs_[static_cast<std::size_t>(key_)]->entrySize();
    if (position.size() != want) return fail(err::RecordNotFound);
    std::vector<std::uint8_t> e(position.begin(), position.end());
    next_ = {Bound::At, e, true};
    prev_ = {Bound::At, e, true};
    last_ = std::string(position);
    posGeneration_ = 0;
    return 0;
}

int Cursor::next(RecordData& out, std::uint32_t& ptr) {
    return read(true, out, ptr);
}
int Cursor::previous(RecordData& out, std::uint32_t& ptr) {
    return read(false, out, ptr);
}

// A walk of NEXTs or PREVIOUSes reads one snapshot from its first read to its end (or until it
// is set elsewhere, or pauses), so that it never sees part of another station's commit. The
// cursor moves only once the read stands: a lockless read that lost its snapshot is run again
// from the same place, and must not step past the record it had found.
int Cursor::read(bool forward, RecordData& out, std::uint32_t& ptr) {
    if (!pinned_) {
        t_.pager_.pin();
        pinned_ = true;
    }
    std::vector<std::uint8_t> entry;
    int rc = readCached(t_.pager_, [&] { return readOnce(forward, out, ptr, entry); });
    if (rc != 0) {
        endScan();
        return rc;
    }
    last_.assign(entry.begin(), entry.end());
    next_ = {Bound::At, entry, false};
    prev_ = {Bound::At, std::move(entry), false};
    return 0;
}

int Cursor::readOnce(bool forward, RecordData& out, std::uint32_t& ptr, std::vector<std::uint8_t>& entry) {
    if (key_ >= static_cast<int>(t_.codecs_.size())) return fail(err::InvalidKeyFile);
    int rc = key_ < 0 ? fileStep(forward, ptr) : keyStep(forward, ptr, entry);
    if (rc != 0) return rc;
    rc = t_.readSlot(ptr, out, t_.readMemos_);
    if (rc == err::RecordNotFound && key_ >= 0) return t_.pager_.corruption(corrupt::KeyMismatch, 46);
    if (rc != 0) return rc;
    if (key_ < 0) {
        entry.resize(4);
        put32(entry.data(), ptr);
    }
    return 0;
}

int Cursor::fileStep(bool forward, std::uint32_t& ptr) {
    const Bound& b = forward ? next_ : prev_;
    if (b.kind == (forward ? Bound::End : Bound::Start)) return fail(err::RecordNotAvailable);
    Pager& pg = t_.pager_;
    std::uint32_t spp = t_.slotsPerPage_;
    int err = 0;
    const std::uint8_t* h = pg.get(0, err);
    if (!h) return err;
    std::uint64_t p;
    if (b.kind == Bound::At) {
        std::uint32_t at = get32(b.at.data());
        if (forward)
            p = b.inclusive ? at : std::uint64_t(at) + 1;
        else if (b.inclusive || at == 0)
            p = at;
        else
            p = at - 1;
        if (p == 0) {
            if (!forward) return fail(err::RecordNotAvailable);
            p = 1;
        }
    } else {
        p = forward ? 1 : 0xFFFFFFFFull;
    }
    std::uint32_t pages = pg.pageCount();
    std::uint64_t cand = (p - 1) / spp;
    std::int64_t idx = static_cast<std::int64_t>((p - 1) % spp);
    // The record page that holds p, or the nearest one in the walking direction.
    std::uint32_t page = 0;
    const std::uint8_t* rp = nullptr;
    if (cand > 0 && cand < pages) {
        rp = pg.get(static_cast<std::uint32_t>(cand), err);
        if (rp && rp[0] == PageRecords) page = static_cast<std::uint32_t>(cand);
    }
    if (!page && b.kind == Bound::At && get32(b.at.data()) != 0) {
        // The step left the page of the record read last for a page that holds no records: the
        // chain link of that page leads to the next record page (the chain is in page order).
        std::uint32_t from = (get32(b.at.data()) - 1) / spp;
        const std::uint8_t* fp = from > 0 && from < pages && from != cand ? pg.get(from, err) : nullptr;
        if (fp && fp[0] == PageRecords && (forward ? from < cand : from > cand)) {
            page = get32(fp + (forward ? 8 : 4));
            if (!page) return fail(err::RecordNotAvailable);
            // The chain runs in page order: a link that does not lead past the page it leaves
            // would make NEXT or PREVIOUS come round again for ever.
            if (forward ? page <= from : page >= from) return pg.corruption(corrupt::BadRecordPage);
            idx = forward ? 0 : static_cast<std::int64_t>(spp) - 1;
        }
    }
    if (!page) {
        std::uint32_t walk = get32(h + (forward ? hdr::FirstRecPage : hdr::LastRecPage));
        for (std::uint32_t hops = 0, was = 0; walk != 0; ++hops) {
            if (hops > pages || (hops > 0 && (forward ? walk <= was : walk >= was)))
                return pg.corruption(corrupt::BadRecordPage);
            rp = pg.get(walk, err);
            if (!rp) return err;
            if (rp[0] != PageRecords) return pg.corruption(corrupt::BadRecordPage);
            if (forward ? walk > cand : walk < cand) break;
            was = walk;
            walk = get32(rp + (forward ? 8 : 4));
        }
        if (!walk) return fail(err::RecordNotAvailable);
        page = walk;
        idx = forward ? 0 : static_cast<std::int64_t>(spp) - 1;
    }
    for (std::uint32_t hops = 0, was = 0; page != 0; ++hops) {
        if (hops > pages || (hops > 0 && (forward ? page <= was : page >= was)))
            return pg.corruption(corrupt::BadRecordPage);
        rp = pg.get(page, err);
        if (!rp) return err;
        // The high-water mark comes from disk: slots beyond the page's capacity lie past its end.
        if (rp[0] != PageRecords || get16(rp + 12) > spp) return pg.corruption(corrupt::BadRecordPage);
        std::int64_t hw = get16(rp + 12);
        was = page;
        if (forward) {
            for (; idx < hw; ++idx)
                if (rp[t_.slotOffset(static_cast<std::uint32_t>(idx))] == 1) {
                    ptr = page * spp + static_cast<std::uint32_t>(idx) + 1;
                    return 0;
                }
            page = get32(rp + 8);
            idx = 0;
        } else {
            for (idx = std::min(idx, hw - 1); idx >= 0; --idx)
                if (rp[t_.slotOffset(static_cast<std::uint32_t>(idx))] == 1) {
                    ptr = page * spp + static_cast<std::uint32_t>(idx) + 1;
                    return 0;
                }
            page = get32(rp + 4);
            idx = static_cast<std::int64_t>(spp) - 1;
        }
    }
    return fail(err::RecordNotAvailable);
}

int Cursor::keyStep(bool forward, std::uint32_t& ptr, std::vector<std::uint8_t>& entry) {
    const Bound& b = forward ? next_ : prev_;
    if (b.kind == (forward ? Bound::End : Bound::Start)) return fail(err::RecordNotAvailable);
    const KeyCodec& c = *t_.codecs_[static_cast<std::size_t>(key_)];
    Btree bt(t_.pager_, c, static_cast<std::uint32_t>(key_));
    Btree::Pos pos;
    bool found = false;
    int rc = 0, err = 0;
    if (b.kind != Bound::At) {
        rc = forward ? bt.first(pos, found) : bt.last(pos, found);
    } else if (!b.inclusive && posGeneration_ == t_.pager_.generation() && b.at.size() == c.entrySize()) {
        // Still where the last read left it: step without searching from the root.
        const std::uint8_t* e = bt.entryAt(pos_, err);
        if (e && std::memcmp(e, b.at.data(), c.entrySize()) == 0) {
            pos = pos_;
            rc = bt.step(pos, forward, found);
        } else {
            rc = forward ? bt.seekGE(b.at.data(), false, pos, found)
                         : bt.seekLE(b.at.data(), false, pos, found);
        }
    } else {
        rc = forward ? bt.seekGE(b.at.data(), b.inclusive, pos, found)
                     : bt.seekLE(b.at.data(), b.inclusive, pos, found);
    }
    if (rc != 0) return rc;
    if (!found) return fail(err::RecordNotAvailable);
    const std::uint8_t* e = bt.entryAt(pos, err);
    if (!e) return err;
    // Entries are unique and ordered: a step that does not move past the bound (a leaf chain
    // that loops, a tree out of order) would make the walk come round again for ever.
    if (b.kind == Bound::At && b.at.size() == c.entrySize()) {
        int cmp = c.compareEntries(e, b.at.data());
        if (forward ? (cmp < 0 || (cmp == 0 && !b.inclusive)) : (cmp > 0 || (cmp == 0 && !b.inclusive)))
            return t_.pager_.corruption(corrupt::BadTree, 46);
    }
    entry.assign(e, e + c.entrySize());
    ptr = get32(e + c.keySize());
    pos_ = pos;
    posGeneration_ = t_.pager_.generation();
    return 0;
}

// ---- transactions ----

int Transaction::begin(const std::vector<Table*>& tables, std::string controlFile) {
    if (active()) return fail(err::LogoutAlreadyActive);
    if (tables.empty()) return fail(err::InvalidParameterCount);
    tcf_ = controlFile.empty() ? controlFilePathFor(tables[0]->path()) : std::move(controlFile);
    {
        // The control file is checked (and a log left by a crash processed) before anything else.
        ControlFile cf;
        int rc = cf.open(tcf_);
        if (rc != 0) return rc;
    }
    // Writer locks in one global order, so two transactions over the same files cannot deadlock.
    std::vector<Table*> order(tables);
    auto idOf = [](Table* t) {
        struct stat st {};
        ::fstat(t->pager().fd(), &st);
        return std::make_pair(st.st_dev, st.st_ino);
    };
    std::sort(order.begin(), order.end(), [&](Table* a, Table* b) { return idOf(a) < idOf(b); });
    for (Table* t : order) {
        int rc = t->pager().beginTransaction();
        if (rc != 0) {
            for (Table* u : tables_) u->pager().dropTransaction();
            tables_.clear();
            return rc;
        }
        tables_.push_back(t);
    }
    return 0;
}

int Transaction::commit() {
    if (!active()) return fail(err::LogoutNotActive);
    std::vector<Pager*> pagers;
    for (Table* t : tables_) pagers.push_back(&t->pager());
    tables_.clear();
    return commitTransaction(pagers, tcf_);
}

void Transaction::rollback() {
    for (Table* t : tables_) t->pager().dropTransaction();
    tables_.clear();
}

} // namespace sorv::qnl
