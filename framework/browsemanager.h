// The browse manager: drives one list box of a window from a view. The list's queue holds one
// page (as many rows as the list shows); every scroll, key or thumb movement refetches rows
// around the page through the view, and rows are found again only by the view position each
// row carries. It keeps the selection, the record buffers and the window's buttons in step with
// the list, runs the update form through its window manager and reloads after the form.
//
// Invariants between operations:
// - The queue never holds more than LASTITEMS rows, and CURRENTCHOICE is a row of the queue
//   (1 with an empty queue); ITEMSTOFILL holds the rows the last fill could not read, which is
//   how the scroll operations and the thumb know an end of the order was reached.
// - The list shows a copy of the queue (pushed when the queue changed) with CURRENTCHOICE
//   selected; the list pages nothing itself but posts its scroll events here.
#pragma once
#include "framework/popupmanager.h"
#include "framework/toolbarmanager.h"
#include "framework/viewmanager.h"
#include "framework/windowmanager.h"
#include "runtime/queue.h"
#include "windowing/progress.h"

#include <chrono>

#include <cstdint>
#include <string>
#include <string_view>

namespace sorv::fw {

// Query by example (framework/query.h), as far as a browse uses it: Ask shows the query window
// and answers 1 when the user asked for a new filter, which BuildQueryFilter then gives.
class BrowseQuery {
public:
    virtual ~BrowseQuery() = default;
    virtual std::uint8_t Ask() = 0;
    virtual std::string BuildQueryFilter() = 0;
};

// Read results and the record-navigation requests a form sets.
// A request is the number of the toolbar button that asks for the same move.
namespace vcr {
inline constexpr int Insert = toolbutton::Insert;
inline constexpr int Last = toolbutton::Last;
inline constexpr int First = toolbutton::First;
inline constexpr int PageDown = toolbutton::PageDown;
inline constexpr int PageUp = toolbutton::PageUp;
inline constexpr int Next = toolbutton::Next;
inline constexpr int Previous = toolbutton::Previous;
} // namespace vcr

// The browse's own event numbers (code less 0x1400).
namespace bevent {
enum : int {
    Accepted = 1,
    NewSelection = 2,
    ScrollUp = 3,
    ScrollDown = 4,
    PageUp = 5,
    PageDown = 6,
    ScrollTop = 7,
    ScrollBottom = 8,
    Locate = 9,
    AlertKey = 15,
    ScrollDrag = 20,
    CloseWindow = 0x201,
};
}

// Key codes a browse reacts to.
namespace bkey {
enum : int {
    DoubleClick = 5,
    RightUp = 0x82,
    Insert = 0x2D,
    Delete = 0x2E,
    CtrlEnter = 0x20D,
};
}

class BrowseManager : public ViewManager, public WindowBrowse {
public:
    // Fields in declaration order, following the view manager's.
    std::uint8_t ACTIVEINVISIBLE = 0;
    std::uint8_t ALLOWUNFILLED = 0;
    std::uint8_t ARROWACTION = 0;
    std::uint16_t ASKPROCEDURE = 0;
    std::int32_t CHANGECONTROL = 0;
    std::int32_t CURRENTCHOICE = 0;
    std::int32_t CURRENTEVENT = 0;
    std::int32_t DELETECONTROL = 0;
    void* EDITLIST = nullptr; // edit-in-place column editors: not yet there
    std::uint8_t ENTERACTION = 0;
    FieldPairList FIELDS; // LEFT: queue field, RIGHT: file field
    std::uint8_t FILELOADED = 0;
    std::uint8_t FOCUSLOSSACTION = 0;
    std::uint8_t HASTHUMB = 0;
    std::uint8_t HIDESELECT = 0;
    std::int32_t INSERTCONTROL = 0;
    std::int32_t ITEMSTOFILL = 0;
    std::int32_t LASTCHOICE = 0;
    std::int32_t LASTITEMS = 0;
    std::int32_t LISTCONTROL = 0;
    Queue* LISTQUEUE = nullptr;
    std::uint8_t LOADED = 0;
    std::uint8_t LOADPENDING = 0;
    std::uint8_t RETAINROW = 0;
    std::int32_t PRINTCONTROL = 0;
    std::uint16_t PRINTPROCEDURE = 0;
    PopupManager* POPUP = nullptr;
    BrowseQuery* QUERY = nullptr;
    std::int32_t QUERYCONTROL = 0;
    std::uint8_t QUERYSHARED = 0;
    std::uint8_t QUICKSCAN = 0;
    std::uint8_t RECORDSTATUS = 0;
    std::int32_t SELECTCONTROL = 0;
    std::uint8_t SELECTING = 0;
    SortOrder* SORT = nullptr;
    std::uint8_t STARTATCURRENT = 0;
    std::uint8_t TABACTION = 0;
    ToolbarManager* TOOLBAR = nullptr;
    std::int32_t TOOLCONTROL = 0;
    ToolbarTarget* TOOLBARITEM = nullptr;
    FieldRef VIEWPOSITION; // the queue's field that holds each row's view position
    WindowManager* WINDOW = nullptr;

    // Binds the browse to its list control, the list's queue and its position field, the view
    // and its primary file, and the window (whose window must be open). The list is switched to
    // being paged by the browse; LASTITEMS is the list's visible row count.
    void Init(int listControl, Queue& queue, const FieldRef& viewPosition, View& view, ViewPrimary& primary,
              WindowManager& window, SortOrderQueue* order = nullptr);
    // Pairs a queue field with a file field (FillRowFromRecord copies right to left).
    void AddField(const FieldRef& queueField, const FieldRef& fileField);

    // View manager operations the browse extends.
    void Kill() override;
    Level Next() override;
    Level Previous() override;
    void Close() override;
    bool ReloadNeeded() override;
    bool ResetNeeded() override;

    // Operations in slot order.
    virtual int Ask(int request);
    virtual int EditInPlace(int request);
    virtual void FillPage(int direction);
    virtual void ReloadAfterForm(int& request, int response);
    virtual void ReloadFromRecordBuffer();
    virtual void ReloadFromFileBuffer();
    virtual void RecomputeThumbRange();
    virtual void ReloadQueue(int mode);
    virtual std::uint8_t ApplySortChoiceCurrent(bool force);
    virtual void MoveToEnd(int event);
    virtual void MoveLine(int event);
    virtual void MovePage(int event);
    virtual void RegisterAlertKeys();
    virtual void FillRowFromRecord();
    // FillRowFromRecord for a job that reads every record and keeps no row (the list's export,
    // graph and report): the row's fields as FillRowFromRecord gives them, without the view
    // position that only a row kept in the list needs.
    void FillFieldsFromRecord();
    virtual std::uint8_t ApplySortChoice(int order, bool force);
    Level HandleEvent(const win::Event& e) override;
    virtual std::uint8_t HandleKey();
    // The Query button: files the query's filter under "9 - QBE" (on every order with
    // QUERYSHARED) and reloads; a filter the view refuses is reported and taken back.
    virtual void HandleLocate();
    virtual void HandleNewSelection();
    virtual void HandleScroll(int event = 0);
    virtual void HandleRecordNavigation(int request);
    virtual void SyncRecordBuffers();
    void SyncViewRecord() override;
    void RefreshWindowControls() override;

    // The window manager's side: the sort reset (a procedure overrides it to choose the order in
    // force, by default the current one), alert keys and the select mode.
    void ResetSort(bool force) override;
    void SetAlerts() override { RegisterAlertKeys(); }
    void SetSelecting(bool selecting) override { SELECTING = selecting ? 1 : 0; }

    // Joins the window's toolbar manager (registered with the window first) with a browse
    // target of this list and its buttons, which becomes the toolbar's current target.
    void AddToolbarTarget();

    // Adds a key to the list's alert keys (locators call it from their RegisterAlertKeys).
    void AddListAlert(int keyCode);
    // Positions by the free element (the locator set it) and reloads there.
    void ResetFromFreeElement();

    // The number of rows in the queue, and a row's view position.
    std::int64_t rows() { return LISTQUEUE ? LISTQUEUE->records() : 0; }
    std::string rowPosition(std::int64_t row);

protected:
    // The thumb without a step, and the thumb after a refresh.
    int ThumbFromPage();
    void RefreshThumb();
    void ThumbDrag();
    // Shows the queue in the list (when it changed) and selects CURRENTCHOICE.
    void selectChoice();
    void postNewSelection();
    int visibleRows();
    bool listVisible();
    // The row whose position is `target`, 0 when none (a blank target is row 1).
    std::int32_t locate(const std::string& target);
    void deleteRow(std::int64_t row);
    void setThumb(int percent);
    bool hasControl(int control);

    BrowseToolbarTarget toolbarTarget_;
    int keyCode_ = 0; // the last alert key, as the runtime keeps it until it is used
    std::string alerts_;

private:
    Level closeOnFatal(bool forward);
    // The view sorting its whole order for an action of the list: the progress window once it
    // takes a while, and a stop when the user presses "Cancel" or acts on the list meanwhile (the
    // list then answers the new action).
    bool buildStep(std::int64_t done, std::int64_t expected);
    win::ProgressWindow building_;
    std::chrono::steady_clock::time_point buildStart_;
    int answering_ = 0;
    int appliedOrder_ = -1;   // the order the view was last set to
    bool readFailed_ = false; // a read failed; the window is closing
    bool fieldsOnly_ = false; // FillFieldsFromRecord is filling
    std::uint64_t shownChanges_ = ~0ull;
    int shownChoice_ = -1;
};

} // namespace sorv::fw
