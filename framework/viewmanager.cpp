// The view manager: sort orders, range limits, named filters, positioning and filtered reading.
#include "framework/viewmanager.h"

#include "data/files.h"
#include "framework/errormanager.h"
#include "framework/locator.h"
#include "runtime/errors.h"

#include <algorithm>

namespace sorv::fw {

namespace {

constexpr int MsgViewOpen = 40;
constexpr int MsgRetrieval = 1;

} // namespace

// ---- the plain primary file ----

void PlainViewPrimary::ClearViewBuffers() {
    file_.record.clear();
    for (FileDecl* f : related_) f->record.clear();
}

Level PlainViewPrimary::PrimeBuffer(bool keepBuffer) {
    if (!keepBuffer) file_.record.clear();
    return LevelNone;
}

void PlainViewPrimary::SwitchQuickScan(bool on) {
    if (!file_.isOpen()) return;
    send(file_, on ? "QUICKSCAN=on" : "QUICKSCAN=off");
    for (FileDecl* f : related_)
        if (f->isOpen()) send(*f, on ? "QUICKSCAN=on" : "QUICKSCAN=off");
}

Level PlainViewPrimary::Raise(int number) {
    errors_.SetFileName(file_.label);
    return errors_.Raise(number);
}

Level PlainViewPrimary::RaiseReadError() {
    return Raise(MsgRetrieval);
}

// ---- set-up ----

ViewManager::ViewManager() = default;
ViewManager::~ViewManager() = default;

void ViewManager::Init(View& view, ViewPrimary& primary, SortOrderQueue* order) {
    VIEW = &view;
    PRIMARY = &primary;
    if (order) {
        ORDER = order;
        DISPOSEORDER = 0;
    } else {
        ownOrder_ = std::make_unique<SortOrderQueue>();
        ORDER = ownOrder_.get();
        DISPOSEORDER = 1;
    }
    PAGESIZE = 20;
    PAGESBEHIND = 2;
    PAGESAHEAD = 0;
    TIMEOUT = 60;
    filesRefused_ = false;
    AddSortOrder(-1);
}

SortOrder& ViewManager::current() {
    return (*ORDER)[static_cast<std::size_t>(currentOrder_)];
}

int ViewManager::AddSortOrder(int key) {
    SortOrder o;
    o.MAINKEY = key;
    FileDecl& f = PRIMARY->File();
    if (key >= 0 && key < static_cast<int>(f.keys.size())) {
        const KeyDecl& k = f.keys[static_cast<std::size_t>(key)];
        std::string text;
        for (const KeyComponent& c : k.components) {
            const FieldDesc& d = f.layout().field(static_cast<std::size_t>(c.field));
            if (!text.empty()) text += ',';
            if (c.descending) text += '-';
            text += k.noCase() && isTextType(d.type) ? "UPPER(" + d.name + ")" : d.name;
        }
        o.ORDER = text;
    }
    ORDER->push_back(std::move(o));
    currentOrder_ = static_cast<int>(ORDER->size()) - 1;
    refreshFreeElement(current());
    return currentOrder_ + 1;
}

void ViewManager::AppendOrder(std::string_view items) {
    std::string& o = current().ORDER;
    if (!o.empty() && !items.empty()) o += ',';
    o += items;
}

void ViewManager::AddRange(const FieldRef& field) {
    SortOrder& o = current();
    o.LIMITTYPE = LimitCurrent;
    o.RANGELIST.push_back({field, FieldRef(), field.valid() ? field.get() : Value()});
    refreshFreeElement(o);
}

void ViewManager::AddRange(const FieldRef& field, const FieldRef& limit) {
    SortOrder& o = current();
    o.LIMITTYPE = LimitSingle;
    o.RANGELIST.push_back({field, limit, limit.valid() ? limit.get() : Value()});
    refreshFreeElement(o);
}

void ViewManager::AddRange(const FieldRef& field, const FieldRef& low, const FieldRef& high) {
    SortOrder& o = current();
    o.LIMITTYPE = LimitPair;
    o.RANGELIST.push_back({field, low, low.valid() ? low.get() : Value()});
    o.RANGELIST.push_back({field, high, high.valid() ? high.get() : Value()});
    refreshFreeElement(o);
}

void ViewManager::AddRangeFile(const FieldRef& field, const FieldRef& linkingField) {
    SortOrder& o = current();
    o.LIMITTYPE = LimitFile;
    o.RANGELIST.push_back({field, linkingField, linkingField.valid() ? linkingField.get() : Value()});
    refreshFreeElement(o);
}

void ViewManager::AddResetField(const FieldRef& field) {
    current().RESETS.push_back({field, FieldRef(), field.valid() ? field.get() : Value()});
}

void ViewManager::AddLocator(Locator* locator) {
    current().LOCATOR = locator;
}

void ViewManager::SetThumb(std::unique_ptr<Step> step) {
    SortOrder& o = current();
    if (o.THUMB) o.THUMB->Kill();
    o.THUMB = std::move(step);
}

std::vector<FieldRef> ViewManager::keyFields() {
    std::vector<FieldRef> out;
    const SortOrder& o = current();
    FileDecl& f = PRIMARY->File();
    if (o.MAINKEY < 0 || o.MAINKEY >= static_cast<int>(f.keys.size())) return out;
    for (const KeyComponent& c : f.keys[static_cast<std::size_t>(o.MAINKEY)].components)
        out.push_back(f.record.ref(c.field));
    return out;
}

void ViewManager::refreshFreeElement(SortOrder& order) {
    // The locator and the thumb step work on the first key field after the range fields.
    const int saved = currentOrder_;
    for (std::size_t i = 0; i < ORDER->size(); ++i)
        if (&(*ORDER)[i] == &order) currentOrder_ = static_cast<int>(i);
    const std::uint8_t n = FreeComponentPosition();
    std::vector<FieldRef> fields = keyFields();
    order.FREEELEMENT = n > 0 && n <= fields.size() ? fields[n - 1] : FieldRef();
    currentOrder_ = saved;
}

void ViewManager::rememberLimits(SortOrder& o) {
    for (FieldPair& p : o.RANGELIST) {
        if (o.LIMITTYPE == LimitCurrent)
            p.SAVED = p.LEFT.valid() ? p.LEFT.get() : Value();
        else
            p.SAVED = p.RIGHT.valid() ? p.RIGHT.get() : Value();
    }
}

// ---- operations ----

std::string ViewManager::literalFor(const FieldRef& field, const Value& v) {
    if (field.valid() && isTextType(field.type())) {
        std::string s(clipRight(v.toText()));
        std::string out = "'";
        for (char c : s) {
            out += c;
            if (c == '\'') out += '\''; // a quote inside a literal is written twice
        }
        return out + "'";
    }
    return v.toText();
}

void ViewManager::BuildViewFilter() {
    SortOrder& o = current();
    FileDecl& f = PRIMARY->File();
    bool noCase = o.MAINKEY >= 0 && o.MAINKEY < static_cast<int>(f.keys.size()) &&
                  f.keys[static_cast<std::size_t>(o.MAINKEY)].noCase();
    auto nameOf = [&](const FieldRef& r) {
        return noCase && isTextType(r.type()) ? "UPPER(" + r.name() + ")" : r.name();
    };
    auto valueOf = [&](const FieldRef& r, Value v) {
        if (noCase && isTextType(r.type())) {
            std::string s = v.toText();
            std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
            v = Value(s);
        }
        return literalFor(r, v);
    };
    std::string text;
    auto term = [&](const std::string& t) {
        if (!text.empty()) text += " AND ";
        text += t;
    };
    const std::size_t n = o.RANGELIST.size();
    for (std::size_t i = 0; i < n; ++i) {
        const FieldPair& p = o.RANGELIST[i];
        if (!p.LEFT.valid()) continue;
        if (o.LIMITTYPE == LimitPair && n >= 2 && i == n - 2) {
            const FieldPair& high = o.RANGELIST[n - 1];
            term(nameOf(p.LEFT) + " >= " + valueOf(p.LEFT, p.RIGHT.valid() ? p.RIGHT.get() : p.SAVED) +
                 " AND " + nameOf(p.LEFT) +
                 " <= " + valueOf(p.LEFT, high.RIGHT.valid() ? high.RIGHT.get() : high.SAVED));
            break;
        }
        Value limit = o.LIMITTYPE == LimitCurrent ? p.SAVED : (p.RIGHT.valid() ? p.RIGHT.get() : p.SAVED);
        term(nameOf(p.LEFT) + " = " + valueOf(p.LEFT, limit));
    }
    for (const FilterEntry& e : o.FILTER) {
        if (!text.empty()) text += " AND ";
        text += "(" + e.FILTER + ")";
    }
    filterText_ = text;
    if (text.size() > MaxFilterText) {
        // A cut filter would be a different filter; the view reads nothing instead.
        setError(err::BadExpression, "Filter longer than 5000 characters");
        unusable_ = true;
        PRIMARY->Raise(MsgViewOpen);
        return;
    }
    if (!VIEW->setFilter(text)) {
        unusable_ = true;
        PRIMARY->Raise(MsgViewOpen);
        return;
    }
    unusable_ = false;
}

void ViewManager::BuildViewOrder() {
    if (!VIEW->setOrder(current().ORDER)) {
        unusable_ = true;
        PRIMARY->Raise(MsgViewOpen);
        return;
    }
    unusable_ = false; // the filter, built next, decides the rest
}

bool ViewManager::ReloadNeeded() {
    SortOrder& o = current();
    bool changed = false;
    if (o.LIMITTYPE == LimitSingle || o.LIMITTYPE == LimitPair || o.LIMITTYPE == LimitFile) {
        for (FieldPair& p : o.RANGELIST) {
            if (!p.RIGHT.valid()) continue;
            Value now = p.RIGHT.get();
            if (compare(now, p.SAVED) != 0) {
                p.SAVED = now;
                changed = true;
            }
        }
    }
    return changed;
}

void ViewManager::Close() {
    if (OPENED) {
        VIEW->close();
        PRIMARY->CloseFiles();
    }
    OPENED = 0;
}

std::string ViewManager::FreeComponentName() {
    const std::uint8_t n = FreeComponentPosition();
    std::vector<FieldRef> fields = keyFields();
    if (n == 0 || n > fields.size()) return {};
    const FieldRef& r = fields[n - 1];
    FileDecl& f = PRIMARY->File();
    bool noCase = f.keys[static_cast<std::size_t>(current().MAINKEY)].noCase();
    return noCase && isTextType(r.type()) ? "UPPER(" + r.name() + ")" : r.name();
}

std::uint8_t ViewManager::FreeComponentPosition() {
    const SortOrder& o = current();
    std::size_t ranged = o.RANGELIST.size();
    if (o.LIMITTYPE == LimitPair && ranged > 0) --ranged; // the last field is listed twice
    std::size_t n = ranged + (o.LIMITTYPE == LimitPair ? 0 : 1);
    if (n > keyFields().size()) return 0;
    return static_cast<std::uint8_t>(n);
}

void ViewManager::Kill() {
    Close();
    if (!ORDER) return;
    for (SortOrder& o : *ORDER) {
        if (o.THUMB) o.THUMB->Kill();
        o.THUMB.reset();
        o.RANGELIST.clear();
        o.RESETS.clear();
        o.FILTER.clear();
    }
    if (DISPOSEORDER) {
        ownOrder_.reset();
        ORDER = nullptr;
    }
}

Level ViewManager::read(bool forward) {
    // A view left without its filter or position must not hand out records.
    if (readsNothing()) return LevelNotify;
    for (;;) {
        int rc = forward ? VIEW->next() : VIEW->previous();
        if (rc == err::RecordNotAvailable) return LevelNotify;
        if (rc == err::BuildCancelled) {
            interrupted_ = true;
            return LevelNotify;
        }
        if (rc != 0) {
            PRIMARY->RaiseReadError();
            return LevelFatal;
        }
        switch (CheckRecordInView()) {
        case 0:
            return LevelNone;
        case 1:
            return LevelNotify;
        default:
            break; // filtered out: read on
        }
    }
}

Level ViewManager::Next() {
    return read(true);
}

Level ViewManager::Previous() {
    return read(false);
}

void ViewManager::Open() {
    if (!OPENED) {
        // Files that could not be opened (their server out of reach) are not tried again at every
        // reset, such as the window's gaining focus after the message: the user was told once, and
        // the window opened again tries again.
        if (filesRefused_ || PRIMARY->OpenFiles() != LevelNone) {
            unusable_ = true; // the file manager has said why
            filesRefused_ = true;
            return;
        }
        if (VIEW->open() != 0 && errorCode() != err::FileAlreadyOpen) {
            PRIMARY->Raise(MsgViewOpen);
            PRIMARY->CloseFiles();
            unusable_ = true;
            return;
        }
        // The view reads through its own positions; its buffering settings (PAGESIZE,
        // PAGESBEHIND, PAGESAHEAD, TIMEOUT) are kept here for drivers that read ahead.
        OPENED = 1;
    }
    BuildViewOrder();
    if (!unusable_) BuildViewFilter();
}

void ViewManager::PrimeRangeFields(bool keep) {
    if (!keep) PRIMARY->ClearViewBuffers();
    SortOrder& o = current();
    const std::size_t n = o.RANGELIST.size();
    const std::size_t last = o.LIMITTYPE == LimitPair && n >= 2 ? n - 2 : n;
    for (std::size_t i = 0; i < last; ++i) {
        FieldPair& p = o.RANGELIST[i];
        if (!p.LEFT.valid()) continue;
        if (o.LIMITTYPE == LimitCurrent)
            p.LEFT.set(p.SAVED);
        else if (p.RIGHT.valid())
            p.LEFT.set(p.RIGHT.get());
    }
    PRIMARY->PrimeBuffer(true);
}

void ViewManager::Reset(int fields) {
    if (!OPENED) Open();
    if (unusable_) return;
    if (int rc = VIEW->set(std::max(0, fields)); rc != 0) {
        unpositioned_ = true;
        if (rc == err::BuildCancelled)
            interrupted_ = true;
        else
            PRIMARY->Raise(MsgViewOpen);
        return;
    }
    unpositioned_ = false;
}

void ViewManager::ResetToStart() {
    Reset(0);
}

bool ViewManager::resetView(const std::string& position) {
    if (!OPENED) Open();
    if (unusable_) return false;
    if (int rc = VIEW->reset(position); rc != 0) {
        unpositioned_ = true;
        if (rc == err::BuildCancelled)
            interrupted_ = true;
        else
            PRIMARY->Raise(MsgViewOpen);
        return false;
    }
    unpositioned_ = false;
    return true;
}

void ViewManager::SetNamedFilter(std::string_view expression) {
    SetNamedFilter(expression, FilterStandard);
}

void ViewManager::SetNamedFilter(std::string_view expression, std::string_view id) {
    std::string key(id.substr(0, 30));
    FilterQueue& q = current().FILTER;
    auto it = std::lower_bound(q.begin(), q.end(), key,
                               [](const FilterEntry& e, const std::string& k) { return e.ID < k; });
    const bool found = it != q.end() && it->ID == key;
    if (clipRight(expression).empty()) {
        if (found) q.erase(it);
        return;
    }
    if (found)
        it->FILTER = std::string(expression);
    else
        q.insert(it, FilterEntry{key, std::string(expression)});
}

void ViewManager::SetViewOrder(std::string_view expression) {
    current().ORDER = clipRight(expression).empty() ? std::string() : std::string(expression);
}

std::uint8_t ViewManager::SelectSortOrder(int order) {
    if (order <= 0) order = 1;
    order = std::min(order, static_cast<int>(ORDER->size()));
    if (order - 1 == currentOrder_) return 0;
    currentOrder_ = order - 1;
    return 1;
}

std::uint8_t ViewManager::CheckRecordInView() {
    return 0;
}

} // namespace sorv::fw
