// An in-memory file for view tests: records in slots (pointer = slot + 1), keys compared as a
// driver compares them, and sequences that hold their place by key values, so that inserts and
// deletes around the place behave as in a real driver. Reads are linear scans: it is a model,
// not a fast table.
#pragma once
#include "data/view.h"
#include "runtime/errors.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace sorvtest {

using namespace sorv;

class MemTable : public ViewTable {
public:
    MemTable(std::string label, Layout layout, std::vector<ViewKey> keys)
        : label_(std::move(label)), rec_(std::move(layout)), keys_(std::move(keys)) {}

    // Test set-up and "another process": writes that bypass the current record.
    std::uint64_t add() {
        auto b = rec_.buffer();
        slots_.emplace_back(std::vector<std::uint8_t>(b.begin(), b.end()));
        ++stamp_;
        current_ = slots_.size();
        return slots_.size();
    }
    void erase(std::uint64_t ptr) {
        if (ptr >= 1 && ptr <= slots_.size()) slots_[ptr - 1].reset();
        ++stamp_;
    }
    void overwrite(std::uint64_t ptr, const Record& r) {
        auto b = r.buffer();
        slots_[ptr - 1] = std::vector<std::uint8_t>(b.begin(), b.end());
        ++stamp_;
    }
    std::vector<std::uint8_t> image(std::uint64_t ptr) const { return *slots_[ptr - 1]; }
    std::vector<std::uint64_t> live() const {
        std::vector<std::uint64_t> out;
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i]) out.push_back(i + 1);
        return out;
    }
    std::vector<int> viewOps;
    int fetches = 0;

    // ViewTable
    std::string label() const override { return label_; }
    Record& record() override { return rec_; }
    const std::vector<ViewKey>& keys() const override { return keys_; }

    int setStart(int order) override {
        order_ = order;
        state_ = State::Start;
        return 0;
    }
    int setFromBuffer(int key) override {
        order_ = key;
        auto b = rec_.buffer();
        anchor_.assign(b.begin(), b.end());
        state_ = State::Values;
        return 0;
    }
    int next() override { return step(true); }
    int previous() override { return step(false); }
    std::string position(int order) override {
        (void)order;
        if (!current_ || !slots_[current_ - 1]) return {};
        const auto& img = *slots_[current_ - 1];
        std::string s(reinterpret_cast<const char*>(img.data()), img.size());
        s.append(reinterpret_cast<const char*>(&current_), sizeof current_);
        return s;
    }
    int reset(int order, std::string_view position) override {
        if (position.size() != rec_.buffer().size() + sizeof(std::uint64_t)) return err::InvalidKeyFile;
        order_ = order;
        anchor_.assign(position.begin(),
                       position.begin() + static_cast<std::ptrdiff_t>(rec_.buffer().size()));
        std::memcpy(&anchorPtr_, position.data() + rec_.buffer().size(), sizeof anchorPtr_);
        state_ = State::At;
        return 0;
    }
    std::uint64_t pointer() override { return current_; }
    int fetch(std::uint64_t ptr) override {
        ++fetches;
        if (ptr < 1 || ptr > slots_.size() || !slots_[ptr - 1]) return err::RecordNotFound;
        load(ptr);
        return 0;
    }
    int getByKey(int key, int components) override {
        auto b = rec_.buffer();
        std::vector<std::uint8_t> want(b.begin(), b.end());
        std::uint64_t best = 0;
        for (std::uint64_t p : live()) {
            if (!inKey(key, p) || compareKey(key, *slots_[p - 1], want, components) != 0) continue;
            if (!best || before(key, p, best)) best = p;
        }
        if (!best) return err::RecordNotFound;
        load(best);
        return 0;
    }
    std::int64_t records() override { return static_cast<std::int64_t>(live().size()); }
    std::int64_t keyRecords(int key) override {
        std::int64_t n = 0;
        for (std::uint64_t p : live()) n += inKey(key, p) ? 1 : 0;
        return n;
    }
    // An OPT key leaves out the records whose key fields are all blank or zero.
    bool inKey(int key, std::uint64_t p) const {
        if (key < 0 || !keys_[static_cast<std::size_t>(key)].optional) return true;
        for (const ViewKey::Component& c : keys_[static_cast<std::size_t>(key)].components) {
            Value v = readField(rec_.layout().field(static_cast<std::size_t>(c.field)), *slots_[p - 1]);
            if (v.isText() ? !clipRight(v.text()).empty() : v.toDecimal().sign() != 0) return true;
        }
        return false;
    }
    std::uint64_t changeStamp() override { return stamp_; }
    int put() override {
        if (!current_ || !slots_[current_ - 1]) return err::RecordNotAvailable;
        if (watched_ && *slots_[current_ - 1] != watchedImage_) return err::RecordChanged;
        auto b = rec_.buffer();
        slots_[current_ - 1] = std::vector<std::uint8_t>(b.begin(), b.end());
        ++stamp_;
        watched_ = false;
        return 0;
    }
    int remove() override {
        if (!current_ || !slots_[current_ - 1]) return err::RecordNotAvailable;
        slots_[current_ - 1].reset();
        ++stamp_;
        return 0;
    }
    int hold(int) override { return current_ ? 0 : err::RecordNotAvailable; }
    int release() override { return 0; }
    int watch() override {
        watchNext_ = true;
        return 0;
    }
    int viewOperation(int op, std::uint64_t) override {
        viewOps.push_back(op);
        return 80;
    }

    // Key comparison of two images over the first `components` components (all when -1), as
    // the driver orders them: text without trailing blanks, NOCASE upper-cased, numbers exactly.
    int compareKey(int key, const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                   int components = -1) const {
        if (key < 0) return 0;
        const ViewKey& k = keys_[static_cast<std::size_t>(key)];
        int n = components < 0 ? static_cast<int>(k.components.size()) : components;
        for (int i = 0; i < n; ++i) {
            const FieldDesc& f = rec_.layout().field(
                static_cast<std::size_t>(k.components[static_cast<std::size_t>(i)].field));
            Value x = readField(f, a), y = readField(f, b);
            if (k.noCase && x.isText()) x = Value(upper(x.text())), y = Value(upper(y.text()));
            int c = compare(x, y);
            if (k.components[static_cast<std::size_t>(i)].descending) c = -c;
            if (c) return c;
        }
        return 0;
    }

private:
    enum class State { Start, Values, At, Read };
    static std::string upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    bool before(int key, std::uint64_t p, std::uint64_t q) const {
        int c = compareKey(key, *slots_[p - 1], *slots_[q - 1]);
        return c != 0 ? c < 0 : p < q;
    }
    // Order of record p against the anchor (values, pointer).
    int versusAnchor(std::uint64_t p) const {
        int c = compareKey(order_, *slots_[p - 1], anchor_);
        if (c) return c;
        return p < anchorPtr_ ? -1 : (p > anchorPtr_ ? 1 : 0);
    }
    int step(bool forward) {
        std::uint64_t best = 0;
        for (std::uint64_t p : live()) {
            if (!inKey(order_, p)) continue;
            bool candidate = true;
            switch (state_) {
            case State::Start:
                break;
            case State::Values: {
                int c = compareKey(order_, *slots_[p - 1], anchor_);
                candidate = forward ? c >= 0 : c <= 0;
                break;
            }
            case State::At: {
                int c = versusAnchor(p);
                candidate = forward ? c >= 0 : c <= 0;
                break;
            }
            case State::Read: {
                int c = versusAnchor(p);
                candidate = forward ? c > 0 : c < 0;
                break;
            }
            }
            if (!candidate) continue;
            if (!best || (forward ? before(order_, p, best) : before(order_, best, p))) best = p;
        }
        if (!best) return err::RecordNotAvailable;
        load(best);
        anchor_ = *slots_[best - 1];
        anchorPtr_ = best;
        state_ = State::Read;
        return 0;
    }
    void load(std::uint64_t ptr) {
        auto b = rec_.buffer();
        std::copy(slots_[ptr - 1]->begin(), slots_[ptr - 1]->end(), b.begin());
        current_ = ptr;
        if (watchNext_) {
            watched_ = true;
            watchedImage_ = *slots_[ptr - 1];
            watchNext_ = false;
        }
    }

    std::string label_;
    Record rec_;
    std::vector<ViewKey> keys_;
    std::vector<std::optional<std::vector<std::uint8_t>>> slots_;
    std::uint64_t stamp_ = 0;
    std::uint64_t current_ = 0;
    int order_ = -1;
    State state_ = State::Start;
    std::vector<std::uint8_t> anchor_;
    std::uint64_t anchorPtr_ = 0;
    bool watchNext_ = false, watched_ = false;
    std::vector<std::uint8_t> watchedImage_;
};

} // namespace sorvtest
