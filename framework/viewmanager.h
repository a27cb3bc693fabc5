// The view manager: owns a browse's view, its paging settings, the sort orders with their range
// limits and named filters, and reads records with filtering. The browse manager specialises it.
//
// What it keeps true:
// - The view's order and filter are always those of the current sort order (BuildViewOrder and
//   BuildViewFilter set both whenever an order is applied); the filter text is the range part
//   followed by every named filter of the order, in identifier order.
// - A view whose order or filter could not be set, or that could not be positioned, reads
//   nothing until it is set or positioned again: a reader never gets records of a half-applied
//   filter (a range-limited list showing every record of the file would be a wrong result).
#pragma once
#include "data/filedecl.h"
#include "data/view.h"
#include "framework/levels.h"
#include "runtime/field.h"
#include "runtime/value.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::fw {

class Locator;
class Step;

// What a view manager needs of its primary file's relation manager: the file, its buffers, its
// priming, its quick scanning and its error path. The relation manager of the data dictionary
// provides it through RelationViewPrimary; PlainViewPrimary serves a file without one (the caller
// opens it and shows its messages).
class ViewPrimary {
public:
    virtual ~ViewPrimary() = default;
    // The calling thread's declaration of the primary file.
    virtual FileDecl& File() = 0;
    // Clears the record buffers of every file of the view.
    virtual void ClearViewBuffers() = 0;
    // Primes a new record (automatic numbers reserved where the file has them).
    virtual Level PrimeBuffer(bool keepBuffer) = 0;
    // Quick scanning of the primary file and its related files.
    virtual void SwitchQuickScan(bool on) = 0;
    // Shows a numbered message about the file (the current error captured); answers its level.
    virtual Level Raise(int number) = 0;
    // The read error path: a failed read other than end of file.
    virtual Level RaiseReadError() = 0;
    // Run when the view opens and after it closed: a primary with file managers counts the view
    // as one more user of its files and has them really open before the view reads. A level
    // other than LevelNone (already reported) keeps the view closed.
    virtual Level OpenFiles() { return LevelNone; }
    virtual void CloseFiles() {}
};

class ErrorManager;

// A primary file without a relation manager: the declaration, the buffers of the view's other
// files, and the error manager that shows its messages.
class PlainViewPrimary : public ViewPrimary {
public:
    PlainViewPrimary(FileDecl& file, ErrorManager& errors) : file_(file), errors_(errors) {}
    void AddRelated(FileDecl& file) { related_.push_back(&file); }
    FileDecl& File() override { return file_; }
    void ClearViewBuffers() override;
    Level PrimeBuffer(bool keepBuffer) override;
    void SwitchQuickScan(bool on) override;
    Level Raise(int number) override;
    Level RaiseReadError() override;

private:
    FileDecl& file_;
    ErrorManager& errors_;
    std::vector<FileDecl*> related_;
};

// A field paired with another: a range field with its limit, a queue field with a file field, a
// reset field with nothing. SAVED keeps the value compared on the next check.
struct FieldPair {
    FieldRef LEFT;
    FieldRef RIGHT;
    Value SAVED;
};
using FieldPairList = std::vector<FieldPair>;

// Named filters of an order, kept in identifier order.
struct FilterEntry {
    std::string ID; // up to 30 characters
    std::string FILTER;
};
using FilterQueue = std::vector<FilterEntry>;

enum LimitType : std::uint8_t {
    LimitNone = 0,
    LimitCurrent = 1, // the range fields keep the values they had when the order was set
    LimitSingle = 2,  // each range field equals its limit field
    LimitPair = 3,    // all but the last equal; the last between a low and a high value
    LimitFile = 4,    // the range fields equal the linking fields of a related record
};

// Identifiers under which the framework files its filters.
inline constexpr std::string_view FilterLocatorId = "3 Locator";
inline constexpr std::string_view FilterStandard = "5 Standard";
inline constexpr std::string_view FilterQuery = "9 - QBE";
// The longest filter text a view is given.
inline constexpr std::size_t MaxFilterText = 5000;

struct SortOrder {
    FilterQueue FILTER;
    FieldRef FREEELEMENT;
    std::uint8_t LIMITTYPE = LimitNone;
    int MAINKEY = -1; // index of the key in the primary file's declaration, -1 for none
    std::string ORDER;
    // Range fields with their limits; a pair range holds the last field twice, with its low and
    // then its high value.
    FieldPairList RANGELIST;
    Locator* LOCATOR = nullptr;
    FieldPairList RESETS;
    std::unique_ptr<Step> THUMB;
};
// A deque: adding an order never moves the others (a browse holds the one it applied).
using SortOrderQueue = std::deque<SortOrder>;

class ViewManager {
public:
    // Fields in declaration order.
    std::uint8_t DISPOSEORDER = 0;
    std::uint8_t OPENED = 0;
    SortOrderQueue* ORDER = nullptr;
    std::uint16_t PAGESAHEAD = 0;
    std::uint16_t PAGESBEHIND = 2;
    std::uint16_t PAGESIZE = 20;
    ViewPrimary* PRIMARY = nullptr;
    std::uint16_t TIMEOUT = 60;
    View* VIEW = nullptr;

    ViewManager();
    virtual ~ViewManager();
    ViewManager(const ViewManager&) = delete;
    ViewManager& operator=(const ViewManager&) = delete;

    // Stores the view and the primary file; uses the given order queue or makes one of its own;
    // adds the first, unkeyed sort order.
    void Init(View& view, ViewPrimary& primary, SortOrderQueue* order = nullptr);

    // Operations in slot order.
    virtual void BuildViewFilter();
    virtual void BuildViewOrder();
    virtual bool ReloadNeeded();
    virtual void Close();
    virtual std::string FreeComponentName();
    virtual std::uint8_t FreeComponentPosition();
    virtual void Kill();
    virtual Level Next();
    virtual void Open();
    virtual Level Previous();
    virtual void PrimeRangeFields(bool keep = false);
    virtual void Reset(int fields);
    virtual void ResetToStart();
    virtual void SetNamedFilter(std::string_view expression);
    virtual void SetNamedFilter(std::string_view expression, std::string_view id);
    virtual void SetViewOrder(std::string_view expression);
    virtual std::uint8_t SelectSortOrder(int order);
    virtual std::uint8_t CheckRecordInView();

    // Setting up orders (not overridable). AddSortOrder answers the new order's number and makes
    // it current; its order text is the key's components ("UPPER(..)" for text of a no-case key).
    int AddSortOrder(int key = -1);
    // Appends items to the current order's text.
    void AppendOrder(std::string_view items);
    // Range limits of the current order, one range field at a time in key order.
    void AddRange(const FieldRef& field);                                            // current value
    void AddRange(const FieldRef& field, const FieldRef& limit);                     // single value
    void AddRange(const FieldRef& field, const FieldRef& low, const FieldRef& high); // pair
    void AddRangeFile(const FieldRef& field, const FieldRef& linkingField);          // related file
    void AddResetField(const FieldRef& field);
    void AddLocator(Locator* locator);
    void SetThumb(std::unique_ptr<Step> step);

    // The current sort order (SORT of the browse).
    SortOrder& current();
    int currentOrder() const { return currentOrder_; }
    // The filter text last given to the view, and whether the view reads nothing until it is set
    // or positioned again.
    const std::string& filterText() const { return filterText_; }
    bool readsNothing() const { return unusable_ || unpositioned_; }

protected:
    // The components of the current order's key as fields of the primary record.
    std::vector<FieldRef> keyFields();
    // Reads on through the view in one direction with the view's own checks.
    Level read(bool forward);
    // Positions the view at a saved position; false (message 40 shown) when it cannot.
    bool resetView(const std::string& position);
    void rememberLimits(SortOrder& order);
    std::string literalFor(const FieldRef& field, const Value& v);
    void refreshFreeElement(SortOrder& order);

    bool unusable_ = false;     // order or filter not applied
    bool unpositioned_ = false; // the last positioning failed
    bool filesRefused_ = false; // the files could not be opened: not tried again until Init
    // The view stopped sorting its whole order because the user acted meanwhile: the read or
    // positioning that needed it gave nothing, and no message was shown.
    bool interrupted_ = false;

private:
    std::unique_ptr<SortOrderQueue> ownOrder_;
    int currentOrder_ = 0; // 0-based index into ORDER
    std::string filterText_;
};

} // namespace sorv::fw
