// The relation manager's opening of related tables and its deletes and updates under the rules.
#include "framework/relationmanager.h"

#include "data/files.h"
#include "framework/errormanager.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cctype>

namespace sorv::fw {

namespace {

// Relations may lead back to where they started (Customer to People and back): opening, closing
// and quick scanning walk each manager once per call.
thread_local std::vector<const RelationManager*> walking;

struct Walk {
    explicit Walk(const RelationManager* m)
        : entered(std::find(walking.begin(), walking.end(), m) == walking.end()) {
        if (entered) walking.push_back(m);
    }
    ~Walk() {
        if (entered) walking.pop_back();
    }
    bool entered;
};

// How deep the calling thread is inside a delete or update. Only the outermost one frames the
// transaction and asks the user to try again; the related tables' own updates run inside it.
thread_local int depth = 0;

struct Depth {
    Depth() { ++depth; }
    ~Depth() { --depth; }
    bool outermost() const { return depth == 1; }
};

// Cascades through a table related to itself stop at this depth rather than run the stack out on
// a record that is its own ancestor.
constexpr int MaxCascade = 200;
thread_local int cascade = 0;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

void RelationManager::Init(FileManager& me, bool useLogout) {
    ME = &me;
    USELOGOUT = useLogout;
    RELATIONS.clear();
    LASTTOUCHED = 0;
}

void RelationManager::Kill() {
    RELATIONS.clear();
    std::lock_guard lock(mutex_);
    threads_.clear();
}

void RelationManager::AddRelation(RelationManager& related, std::uint8_t updateMode, std::uint8_t deleteMode,
                                  int relatedKey) {
    Relation r;
    r.FILE = &related;
    r.KEY = relatedKey;
    r.UPDATEMODE = relatedKey >= 0 ? updateMode : std::uint8_t{rule::None};
    r.DELETEMODE = relatedKey >= 0 ? deleteMode : std::uint8_t{rule::None};
    RELATIONS.push_back(std::move(r));
}

void RelationManager::AddRelation(RelationManager& related) {
    AddRelation(related, rule::None, rule::None, -1);
}

void RelationManager::AddRelationLink(int field, int relatedField) {
    if (RELATIONS.empty()) return;
    RELATIONS.back().FIELDS.push_back({field, relatedField});
}

bool RelationManager::AddRelationLink(std::string_view field, std::string_view relatedField) {
    if (RELATIONS.empty() || !ME || !RELATIONS.back().FILE || !RELATIONS.back().FILE->ME) return false;
    int mine = ME->file().layout().find(field);
    int theirs = RELATIONS.back().FILE->ME->file().layout().find(relatedField);
    if (mine < 0 || theirs < 0) return false;
    AddRelationLink(mine, theirs);
    return true;
}

RelationManager::PerThread& RelationManager::perThread() {
    std::lock_guard lock(mutex_);
    return threads_[std::this_thread::get_id()];
}

// Opening and closing together.

Level RelationManager::Open() {
    Walk w(this);
    if (!w.entered) return LevelNone;
    Level r = ME->Open();
    if (r != LevelNone) return r;
    for (Relation& rel : RELATIONS) rel.FILE->Open();
    AfterOpen();
    return LevelNone;
}

Level RelationManager::Close() {
    Walk w(this);
    if (!w.entered) return LevelNone;
    for (Relation& rel : RELATIONS) rel.FILE->Close();
    return ME->Close();
}

void RelationManager::SwitchQuickScan(bool on, bool propagate) {
    Walk w(this);
    if (!w.entered) return;
    ME->SwitchQuickScan(on);
    if (propagate)
        for (Relation& rel : RELATIONS) rel.FILE->SwitchQuickScan(on, true);
}

void RelationManager::collectFiles(std::vector<RelationManager*>& out) {
    if (std::find(out.begin(), out.end(), this) != out.end()) return;
    out.push_back(this);
    for (Relation& rel : RELATIONS) rel.FILE->collectFiles(out);
}

bool RelationManager::startTransaction() {
    if (!USELOGOUT) return true;
    std::vector<RelationManager*> managers;
    collectFiles(managers);
    std::vector<FileDecl*> files;
    for (RelationManager* m : managers) {
        if (m->ME->EnsureFileOpen() != LevelNone) return false;
        files.push_back(&m->ME->file());
    }
    logout(0, files);
    if (errorCode() == 0) return true;
    ME->Raise(21);
    return false;
}

void RelationManager::endTransaction(bool commitIt) {
    if (!USELOGOUT) return;
    if (commitIt)
        commit();
    else
        rollback();
}

// Linking values.

std::vector<Value> RelationManager::linkValues(const Relation& r, const Record& rec) const {
    std::vector<Value> out;
    for (const RelationLink& l : r.FIELDS)
        out.push_back(readField(rec.layout().field(static_cast<std::size_t>(l.FIELD)), rec.buffer()));
    return out;
}

std::vector<Value> RelationManager::linkValues(const Relation& r) {
    return linkValues(r, ME->record());
}

std::string RelationManager::currentPosition() {
    FileDecl& f = ME->file();
    if (!f.isOpen()) return {};
    std::string at = position(f);
    if (errorCode() != 0) {
        clearError();
        return {};
    }
    return at;
}

void RelationManager::RememberLinkValues() {
    PerThread& t = perThread();
    t.original.clear();
    for (const Relation& r : RELATIONS) t.original.push_back(linkValues(r));
    t.position = currentPosition();
    t.remembered = true;
}

void RelationManager::adoptOriginals() {
    const std::string at = currentPosition();
    PerThread& t = perThread();
    if (t.remembered && t.position == at && t.original.size() == RELATIONS.size()) return;
    // The stored record is read through a handle of its own: a read on the file's own handle
    // would end the watch for changes by another station that the coming write relies on.
    std::vector<std::vector<Value>> stored;
    FileDecl& f = ME->file();
    const std::uint32_t ptr = at.empty() ? 0 : pointer(f);
    FileDecl other = f.clone();
    if (ptr) {
        share(other, openmode::ReadOnly | openmode::DenyNone);
        if (errorCode() == 0) {
            getPointer(other, ptr);
            if (errorCode() == 0)
                for (const Relation& r : RELATIONS) stored.push_back(linkValues(r, other.record));
            close(other);
        }
    }
    clearError();
    // A record never stored (or unreadable) has no originals but its own values: nothing moves.
    if (stored.size() != RELATIONS.size()) {
        stored.clear();
        for (const Relation& r : RELATIONS) stored.push_back(linkValues(r));
    }
    t.original = std::move(stored);
    t.position = at;
    t.remembered = true;
}

std::vector<Value> RelationManager::originalValues(std::size_t relation) {
    PerThread& t = perThread();
    if (t.remembered && relation < t.original.size() && t.position == currentPosition())
        return t.original[relation];
    return linkValues(RELATIONS[relation]);
}

bool RelationManager::linksChanged(std::size_t relation) {
    std::vector<Value> now = linkValues(RELATIONS[relation]), before = originalValues(relation);
    for (std::size_t i = 0; i < now.size(); ++i)
        if (compare(now[i], before[i]) != 0) return true;
    return false;
}

bool RelationManager::blank(const std::vector<Value>& values) const {
    for (const Value& v : values) {
        if (v.isText() ? !clipRight(v.text()).empty() : compare(v, Value(0)) != 0) return false;
    }
    return true;
}

// Walks the related records whose linking fields hold `values`, in the related key's order. A body
// that takes the record out of the group (deletes it, relinks it) is `consumes`: the walk then
// starts again from the group's start each time. A body that leaves the record as it was may
// still read the same table (a table related to itself), so the walk returns to the record's key
// position before it moves on.
template <class F>
Level RelationManager::forEachRelated(Relation& r, const std::vector<Value>& values, bool consumes, F body) {
    if (r.KEY < 0 || blank(values)) return LevelNone;
    FileManager& fm = *r.FILE->ME;
    if (fm.EnsureFileOpen() != LevelNone) return LevelNotify;
    FileDecl& f = fm.file();
    const bool noCase = f.keys[static_cast<std::size_t>(r.KEY)].noCase();
    auto place = [&] {
        f.record.clear();
        for (std::size_t i = 0; i < r.FIELDS.size(); ++i)
            writeField(f.layout().field(static_cast<std::size_t>(r.FIELDS[i].RELATEDFIELD)), f.buffer(),
                       values[i]);
        setKeyValue(f, r.KEY);
    };
    auto matches = [&] {
        for (std::size_t i = 0; i < r.FIELDS.size(); ++i) {
            Value v =
                readField(f.layout().field(static_cast<std::size_t>(r.FIELDS[i].RELATEDFIELD)), f.buffer());
            int c = (noCase && v.isText() && values[i].isText())
                        ? compareText(upper(v.text()), upper(values[i].text()))
                        : compare(v, values[i]);
            if (c != 0) return false;
        }
        return true;
    };
    place();
    std::uint32_t last = 0;
    for (;;) {
        Level read = fm.Next();
        if (read != LevelNone) return fm.info().ATEOF ? LevelNone : LevelNotify;
        if (!matches()) return LevelNone;
        if (consumes) {
            std::uint32_t at = pointer(f);
            // The body left the record in the group: walking on would meet it forever.
            if (at == last) return LevelNotify;
            last = at;
            if (Level b = body()) return b;
            place();
        } else {
            std::string at = position(f, r.KEY);
            if (Level b = body()) return b;
            reset(f, r.KEY, at);
            next(f); // the record itself; the loop's read moves on from it
            if (errorCode() != 0) return fm.Raise(1);
        }
    }
}

// Deleting.

Level RelationManager::checkDeleteRestrictions(RelationManager* top) {
    if (cascade >= MaxCascade) return LevelNotify;
    ++cascade;
    Level result = LevelNone;
    for (std::size_t i = 0; i < RELATIONS.size() && result == LevelNone; ++i) {
        Relation& rel = RELATIONS[i];
        if (rel.DELETEMODE != rule::Restrict && rel.DELETEMODE != rule::Cascade) continue;
        std::vector<Value> values = linkValues(rel);
        FileManager& fm = *rel.FILE->ME;
        if (fm.EnsureFileOpen() != LevelNone) {
            result = LevelNotify;
            break;
        }
        std::uint16_t id = fm.SaveRecordBuffer();
        if (rel.DELETEMODE == rule::Restrict) {
            result = forEachRelated(rel, values, false, [&] {
                fm.Raise(30);
                return LevelNotify;
            });
        } else {
            result =
                forEachRelated(rel, values, false, [&] { return rel.FILE->checkDeleteRestrictions(top); });
        }
        fm.RestoreSavedBuffer(id, true);
    }
    --cascade;
    return result;
}

Level RelationManager::DeleteRelated(Relation& rel) {
    if (rel.DELETEMODE == rule::None) return LevelNone;
    std::vector<Value> values = linkValues(rel);
    RelationManager& related = *rel.FILE;
    FileManager& fm = *related.ME;
    if (fm.EnsureFileOpen() != LevelNone) return LevelNotify;
    std::uint16_t id = fm.SaveRecordBuffer();
    Level r = LevelNone;
    switch (rel.DELETEMODE) {
    case rule::Restrict:
        r = forEachRelated(rel, values, false, [&] {
            fm.Raise(30);
            return LevelNotify;
        });
        break;
    case rule::Clear:
        r = forEachRelated(rel, values, true, [&] {
            related.RememberLinkValues();
            for (const RelationLink& l : rel.FIELDS)
                clearField(fm.record().layout().field(static_cast<std::size_t>(l.RELATEDFIELD)), fm.buffer());
            return related.Update(false) == LevelNone ? LevelNone : LevelNotify;
        });
        break;
    case rule::Cascade:
        r = forEachRelated(rel, values, true, [&] {
            if (Level c = related.deleteChildren()) return c;
            return fm.DeleteRecord(true);
        });
        break;
    default:
        break;
    }
    fm.RestoreSavedBuffer(id, true);
    return r;
}

// Applies every delete rule to the current record, which is current again afterwards (its own
// table may have been read meanwhile).
Level RelationManager::deleteChildren() {
    if (cascade >= MaxCascade) return LevelNotify;
    ++cascade;
    std::string at = ME->Position();
    Level r = LevelNone;
    for (Relation& rel : RELATIONS) {
        if (rel.DELETEMODE == rule::None) continue;
        if ((r = ME->Reget(at)) != LevelNone) break;
        if ((r = DeleteRelated(rel)) != LevelNone) break;
    }
    if (r == LevelNone) r = ME->Reget(at);
    --cascade;
    return r;
}

Level RelationManager::Delete(bool ask, bool offerRetry) {
    if (ask) {
        if (ME->Raise(9) != LevelNone) return LevelNotify; // not confirmed: 9 stays the last
        ME->info().LASTERROR = 0;
    }
    const std::string at = ME->Position();
    for (;;) {
        Depth d;
        Level r = LevelNone;
        Open();
        if (d.outermost() && !startTransaction()) {
            Close();
            return LevelNotify;
        }
        r = ME->Reget(at);
        // Every restriction down the cascades is looked for before the first record goes.
        if (r == LevelNone) r = checkDeleteRestrictions(this);
        if (r == LevelNone) r = deleteChildren();
        if (r == LevelNone) r = ME->DeleteRecord(true);
        if (d.outermost()) endTransaction(r == LevelNone);
        Close();
        if (r == LevelNone) return LevelNone;
        r = LevelNotify;
        if (!d.outermost() || !offerRetry || ME->Raise(33) != LevelNone) return r;
    }
}

Level RelationManager::ReleaseAutoNumber() {
    FileThreadInfo& in = ME->info();
    if (!in.AUTOINCDONE) return LevelNone;
    // The reserved record, wherever the thread's reads have left the file since.
    if (Level r = ME->Reget(in.RESERVEDPOSITION)) return r;
    if (Level r = Delete(false)) return r;
    ME->ClearAutoNumber();
    return LevelNone;
}

// Updating.

Level RelationManager::UpdateRelated(Relation& rel) {
    const std::size_t index = static_cast<std::size_t>(&rel - RELATIONS.data());
    if (index >= RELATIONS.size() || rel.UPDATEMODE == rule::None) return LevelNone;
    std::vector<Value> before = originalValues(index), now = linkValues(rel);
    RelationManager& related = *rel.FILE;
    FileManager& fm = *related.ME;
    if (fm.EnsureFileOpen() != LevelNone) return LevelNotify;
    const bool self = &fm == ME;
    std::string at = self ? ME->Position() : std::string();
    std::uint16_t id = fm.SaveRecordBuffer();
    Level r = LevelNone;
    if (rel.UPDATEMODE == rule::Restrict) {
        r = forEachRelated(rel, before, false, [&] {
            fm.Raise(31);
            return LevelNotify;
        });
        if (self) ME->Reget(at, false);
        fm.RestoreSavedBuffer(id, true);
        if (r != LevelNone)
            for (std::size_t i = 0; i < rel.FIELDS.size(); ++i)
                writeField(ME->record().layout().field(static_cast<std::size_t>(rel.FIELDS[i].FIELD)),
                           ME->buffer(), before[i]);
    } else {
        r = forEachRelated(rel, before, true, [&] {
            related.RememberLinkValues();
            for (std::size_t i = 0; i < rel.FIELDS.size(); ++i) {
                const FieldDesc& fd =
                    fm.record().layout().field(static_cast<std::size_t>(rel.FIELDS[i].RELATEDFIELD));
                if (rel.UPDATEMODE == rule::Cascade)
                    writeField(fd, fm.buffer(), now[i]);
                else
                    clearField(fd, fm.buffer());
            }
            return related.Update(false) == LevelNone ? LevelNone : LevelNotify;
        });
        if (self) ME->Reget(at, false);
        fm.RestoreSavedBuffer(id, true);
    }
    return r;
}

Level RelationManager::updateWithin(int mode) {
    if (ME->Update(mode) != LevelNone) {
        int last = ME->info().LASTERROR;
        return (last == 6 || last == 7) ? LevelNotify : LevelUser;
    }
    for (std::size_t i = 0; i < RELATIONS.size(); ++i) {
        if (RELATIONS[i].UPDATEMODE == rule::None || !linksChanged(i)) continue;
        if (Level r = UpdateRelated(RELATIONS[i])) return r;
    }
    // What was written is the basis of the next change.
    RememberLinkValues();
    return LevelNone;
}

// Looks down every relation whose linking values change from `before` (one list per relation) to
// what the buffer holds, and through the cascades and clears those changes cause, for a restrict
// that refuses one: it is reported (message 31) and the relation it lies under, at this level, is
// given in `failed`. Nothing is written.
Level RelationManager::checkUpdateRestrictions(const std::vector<std::vector<Value>>& before,
                                               std::size_t* failed) {
    if (cascade >= MaxCascade) return LevelNotify;
    ++cascade;
    Level result = LevelNone;
    for (std::size_t i = 0; i < RELATIONS.size() && i < before.size() && result == LevelNone; ++i) {
        Relation& rel = RELATIONS[i];
        if (rel.UPDATEMODE == rule::None) continue;
        const std::vector<Value> now = linkValues(rel);
        bool changed = false;
        for (std::size_t k = 0; k < now.size() && !changed; ++k) changed = compare(now[k], before[i][k]) != 0;
        if (!changed) continue;
        RelationManager& related = *rel.FILE;
        FileManager& fm = *related.ME;
        if (fm.EnsureFileOpen() != LevelNone) {
            result = LevelNotify;
        } else {
            const bool self = &fm == ME;
            std::string at = self ? ME->Position() : std::string();
            // For a table related to itself this keeps the record's values while the walk reads.
            std::uint16_t id = fm.SaveRecordBuffer();
            if (rel.UPDATEMODE == rule::Restrict) {
                result = forEachRelated(rel, before[i], false, [&] {
                    fm.Raise(31);
                    return LevelNotify;
                });
            } else {
                // Each related record as the change would leave it, with its own links checked.
                result = forEachRelated(rel, before[i], false, [&] {
                    std::vector<std::vector<Value>> theirs;
                    for (const Relation& r : related.RELATIONS) theirs.push_back(related.linkValues(r));
                    for (std::size_t k = 0; k < rel.FIELDS.size(); ++k) {
                        const FieldDesc& fd =
                            fm.record().layout().field(static_cast<std::size_t>(rel.FIELDS[k].RELATEDFIELD));
                        if (rel.UPDATEMODE == rule::Cascade)
                            writeField(fd, fm.buffer(), now[k]);
                        else
                            clearField(fd, fm.buffer());
                    }
                    return related.checkUpdateRestrictions(theirs, nullptr);
                });
            }
            if (self) ME->Reget(at, false); // the current record again, for the write
            fm.RestoreSavedBuffer(id, true);
        }
        if (result != LevelNone && failed) *failed = i;
    }
    --cascade;
    return result;
}

Level RelationManager::Update(bool fromForm) {
    Depth d;
    Open();
    adoptOriginals();
    const std::vector<std::vector<Value>> before = perThread().original;
    // A restricted change, at any depth of what it cascades to, is refused before anything is
    // written, so no related record is left pointing at values that no longer exist, with or
    // without a transaction.
    std::size_t failed = RELATIONS.size();
    Level r = checkUpdateRestrictions(before, &failed);
    if (r != LevelNone && failed < RELATIONS.size())
        for (std::size_t k = 0; k < RELATIONS[failed].FIELDS.size(); ++k)
            writeField(
                ME->record().layout().field(static_cast<std::size_t>(RELATIONS[failed].FIELDS[k].FIELD)),
                ME->buffer(), before[failed][k]);
    if (r == LevelNone && d.outermost() && !startTransaction())
        r = LevelNotify;
    else if (r == LevelNone) {
        r = updateWithin(fromForm ? 2 : 1);
        if (d.outermost()) endTransaction(r == LevelNone);
    }
    Close();
    return r;
}

} // namespace sorv::fw
