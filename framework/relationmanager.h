// The relation manager: stands on a table's file manager and knows the table's relations to other
// tables. It opens and closes them together and carries out deletes and updates with each
// relation's referential rules (clear, restrict, cascade, through as many levels as the relations
// reach), inside a transaction over every file involved when USELOGOUT is set.
//
// Restrictions are looked for before anything is written, down the whole tree of cascades (and of
// the cleared links a change or delete causes), so a refused delete or change never leaves half
// its related records behind, with or without a transaction. Relations store field numbers, never
// field references, because each thread has its own record buffers.
//
// The original linking values an update compares with belong to one record: those kept by
// RememberLinkValues for the record the update writes, otherwise the record's values as stored.
#pragma once
#include "framework/filemanager.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace sorv::fw {

// The referential rules of a relation, for updates and for deletes.
namespace rule {
enum : std::uint8_t { None = 0, Clear = 1, Restrict = 2, Cascade = 3 };
}

class RelationManager;

// One pair of linking fields: a field of this table and the related table's field it matches
// (field indices in the records' layouts).
struct RelationLink {
    int FIELD = -1;
    int RELATEDFIELD = -1;
};

struct Relation {
    RelationManager* FILE = nullptr; // the related table's relation manager
    std::vector<RelationLink> FIELDS;
    int KEY = -1; // the related table's key whose leading components are the linking fields
    std::uint8_t UPDATEMODE = rule::None;
    std::uint8_t DELETEMODE = rule::None;
};

class RelationManager {
public:
    FileManager* ME = nullptr;
    std::vector<Relation> RELATIONS;
    RelationManager* ALIASFILE = nullptr;
    bool USELOGOUT = false;
    std::int32_t LASTTOUCHED = 0;

    virtual ~RelationManager() = default;
    void Init(FileManager& me, bool useLogout = false);
    // Forgets the relations (the file manager is killed by whoever owns it; the dictionary's
    // relation managers kill theirs first).
    virtual void Kill();
    // A relation to another table: one to many through the related table's key (rules apply), or
    // many to one without a key (no rules). Links are added to the relation added last.
    void AddRelation(RelationManager& related, std::uint8_t updateMode, std::uint8_t deleteMode,
                     int relatedKey);
    void AddRelation(RelationManager& related);
    void AddRelationLink(int field, int relatedField);
    // By field names of the two records ("CUST:SysId", "PPL:SysId"); false for an unknown name.
    bool AddRelationLink(std::string_view field, std::string_view relatedField);

    // The overridable operations, in slot order.
    virtual Level ReleaseAutoNumber();
    virtual Level Close();
    // offerRetry: a failure asks message 33 and starts again on Yes (a form asks it itself).
    virtual Level Delete(bool ask = true, bool offerRetry = true);
    virtual Level DeleteRelated(Relation& relation);
    virtual void AfterOpen() {}
    virtual Level Open();
    virtual void RememberLinkValues();
    virtual void SwitchQuickScan(bool on, bool propagate = true);
    virtual Level Update(bool fromForm = false);
    virtual Level UpdateRelated(Relation& relation);

private:
    // The calling thread's linking values as RememberLinkValues kept them, per relation.
    struct PerThread {
        std::vector<std::vector<Value>> original;
        std::string position; // the record they belong to
        bool remembered = false;
    };
    PerThread& perThread();
    std::vector<Value> linkValues(const Relation& r);
    std::vector<Value> linkValues(const Relation& r, const Record& record) const;
    std::string currentPosition();
    // Makes the kept originals those of the current record, reading its stored values when they
    // were kept for another one (or never).
    void adoptOriginals();
    Level checkUpdateRestrictions(const std::vector<std::vector<Value>>& before, std::size_t* failed);
    std::vector<Value> originalValues(std::size_t relation);
    bool linksChanged(std::size_t relation);
    bool blank(const std::vector<Value>& values) const;
    // Walks the related records that carry `values`; see the .cpp for the two ways it moves on.
    template <class F>
    Level forEachRelated(Relation& r, const std::vector<Value>& values, bool consumes, F body);
    Level checkDeleteRestrictions(RelationManager* top);
    Level deleteChildren();
    Level updateWithin(int mode);
    void collectFiles(std::vector<RelationManager*>& out);
    bool startTransaction();
    void endTransaction(bool commit);

    std::mutex mutex_;
    std::map<std::thread::id, PerThread> threads_;
};

} // namespace sorv::fw
