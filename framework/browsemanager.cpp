// The browse manager: page fills, reloads, scrolling, the thumb, sort choice, the update form
// and the events of its list.
#include "framework/browsemanager.h"

#include "framework/listrows.h"
#include "framework/locator.h"
#include "runtime/errors.h"
#include "windowing/control.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace sorv::fw {

namespace {

std::string clipped(const std::string& s) {
    return std::string(clipRight(s));
}

int toInt(const std::string& s) {
    try {
        return s.empty() ? 0 : std::stoi(s);
    } catch (...) {
        return 0;
    }
}

} // namespace

// ---- set-up ----

void BrowseManager::Init(int listControl, Queue& queue, const FieldRef& viewPosition, View& view,
                         ViewPrimary& primary, WindowManager& window, SortOrderQueue* order) {
    ViewManager::Init(view, primary, order);
    LISTCONTROL = listControl;
    LISTQUEUE = &queue;
    VIEWPOSITION = viewPosition;
    WINDOW = &window;
    SORT = &current();
    CURRENTCHOICE = 0;
    window.WINDOW.setProperty(LISTCONTROL, win::listprop::ProgramPaged, "1");
    LASTITEMS = visibleRows();
    view.setProgress({[this](std::int64_t done, std::int64_t expected) { return buildStep(done, expected); },
                      [this] { building_.close(); }});
}

// The progress window shows at once for a file this large, else once the work took this long; a
// quicker sort just happens.
constexpr std::int64_t BuildProgressRecords = 250000;
constexpr std::chrono::milliseconds BuildProgressAfter{250};

bool BrowseManager::buildStep(std::int64_t done, std::int64_t expected) {
    // Only the list's own actions: a job reading the whole list (export, graph, report) shows its
    // own progress, and a stop there would end it early as if the records had run out.
    if (answering_ == 0 || !WINDOW) return true;
    const auto now = std::chrono::steady_clock::now();
    if (done == 0) buildStart_ = now;
    if (!building_.isOpen() && (expected >= BuildProgressRecords || now - buildStart_ >= BuildProgressAfter))
        building_.open("BROWSE$PROGRESSWINDOW", false);
    building_.show(done, expected);
    if (building_.isOpen() && building_.cancelled()) return false;
    return !WINDOW->WINDOW.userWaiting(LISTCONTROL);
}

void BrowseManager::AddField(const FieldRef& queueField, const FieldRef& fileField) {
    FIELDS.push_back({queueField, fileField, Value()});
}

void BrowseManager::Kill() {
    if (VIEW) VIEW->setProgress({});
    building_.close();
    if (TOOLBAR && TOOLBARITEM) TOOLBAR->RemoveToolbarTarget(TOOLBARITEM);
    TOOLBARITEM = nullptr;
    ViewManager::Kill();
    SORT = nullptr;
    FIELDS.clear();
}

Level BrowseManager::Next() {
    return closeOnFatal(true);
}

Level BrowseManager::Previous() {
    return closeOnFatal(false);
}

Level BrowseManager::closeOnFatal(bool forward) {
    // After a failed read the window is closing: the rest of a reload reads nothing more, so one
    // failure is one message.
    if (readFailed_) return LevelFatal;
    Level l = forward ? ViewManager::Next() : ViewManager::Previous();
    if (l == LevelFatal) {
        readFailed_ = true;
        WINDOW->WINDOW.post(win::event::CloseWindow);
    }
    return l;
}

void BrowseManager::Close() {
    ViewManager::Close();
    readFailed_ = false; // a view opened again reads again
}

// ---- helpers ----

int BrowseManager::visibleRows() {
    return std::max(1, toInt(WINDOW->WINDOW.property(LISTCONTROL, win::listprop::VisibleRows)));
}

bool BrowseManager::listVisible() {
    return WINDOW->WINDOW.property(LISTCONTROL, win::prop::Visible) == "1";
}

bool BrowseManager::hasControl(int control) {
    return control != 0 && WINDOW->WINDOW.hasControl(control);
}

std::string BrowseManager::rowPosition(std::int64_t row) {
    if (!LISTQUEUE || row < 1 || row > rows()) return {};
    return clipped(LISTQUEUE->value(row, VIEWPOSITION.index() + 1).toText());
}

std::int32_t BrowseManager::locate(const std::string& target) {
    if (target.empty()) return 1;
    const std::int64_t n = rows();
    for (std::int64_t i = 1; i <= n; ++i)
        if (rowPosition(i) == target) return static_cast<std::int32_t>(i);
    return 0;
}

void BrowseManager::deleteRow(std::int64_t row) {
    LISTQUEUE->get(row);
    if (errorCode() == 0) LISTQUEUE->remove();
}

void BrowseManager::setThumb(int percent) {
    WINDOW->WINDOW.setProperty(LISTCONTROL, win::listprop::Thumb,
                               std::to_string(std::clamp(percent, 0, 100)));
}

void BrowseManager::selectChoice() {
    win::Window& w = WINDOW->WINDOW;
    if (LISTQUEUE->changes() != shownChanges_) {
        pushQueueRows(w, LISTCONTROL, *LISTQUEUE);
        shownChanges_ = LISTQUEUE->changes();
        shownChoice_ = -1;
    }
    if (FILELOADED) {
        // The whole result is in the queue: keep the selected row on screen.
        const int visible = visibleRows();
        int first = toInt(w.property(LISTCONTROL, win::listprop::FirstRow));
        int want = first;
        if (CURRENTCHOICE < first) want = CURRENTCHOICE;
        if (CURRENTCHOICE >= first + visible) want = CURRENTCHOICE - visible + 1;
        if (want != first)
            w.setProperty(LISTCONTROL, win::listprop::FirstRow, std::to_string(std::max(1, want)));
    }
    if (CURRENTCHOICE != shownChoice_) {
        w.setProperty(LISTCONTROL, win::listprop::Selected, std::to_string(CURRENTCHOICE));
        shownChoice_ = CURRENTCHOICE;
    }
}

void BrowseManager::postNewSelection() {
    WINDOW->WINDOW.post(win::event::NewSelection, LISTCONTROL);
}

void BrowseManager::AddToolbarTarget() {
    if (!WINDOW || !WINDOW->TOOLBAR) return;
    TOOLBAR = WINDOW->TOOLBAR;
    toolbarTarget_.CONTROL = LISTCONTROL;
    toolbarTarget_.INSERTBUTTON = INSERTCONTROL;
    toolbarTarget_.CHANGEBUTTON = CHANGECONTROL;
    toolbarTarget_.DELETEBUTTON = DELETECONTROL;
    toolbarTarget_.SELECTBUTTON = SELECTCONTROL;
    TOOLBARITEM = &toolbarTarget_;
    WINDOW->AddItem(TOOLBARITEM);
}

void BrowseManager::AddListAlert(int keyCode) {
    if (!alerts_.empty()) alerts_ += ',';
    alerts_ += std::to_string(keyCode);
    WINDOW->WINDOW.setProperty(LISTCONTROL, win::listprop::AlertKeys, alerts_);
}

void BrowseManager::ResetFromFreeElement() {
    Reset(FreeComponentPosition());
    ReloadQueue(2);
    RefreshWindowControls();
    selectChoice();
    postNewSelection();
}

// ---- the update form ----

int BrowseManager::Ask(int request) {
    int response = ResponseCancelled;
    do {
        if (WINDOW->VCRREQUEST) *WINDOW->VCRREQUEST = 0;
        if (request == RequestInsert) PrimeRangeFields(false);
        if (keyCode_ == bkey::RightUp) keyCode_ = 0;
        if (ASKPROCEDURE) {
            response = WINDOW->Run(ASKPROCEDURE, request);
            ReloadAfterForm(request, response);
        } else {
            response = EditInPlace(request);
        }
    } while (WINDOW->VCRREQUEST && *WINDOW->VCRREQUEST != 0);
    return response;
}

int BrowseManager::EditInPlace(int) {
    return ResponseCancelled; // edit in place is not yet there
}

void BrowseManager::ReloadAfterForm(int& request, int response) {
    const int nav = WINDOW->VCRREQUEST ? *WINDOW->VCRREQUEST : 0;
    const bool another = nav == vcr::Insert || (nav == vcr::Next && request == RequestInsert);
    if (response == ResponseDone) {
        VIEW->flush();
        if (another) {
            // Another new record follows at once; the list reloads after the last form.
        } else if (request == RequestDelete) {
            if (CURRENTCHOICE >= 1 && CURRENTCHOICE <= rows()) deleteRow(CURRENTCHOICE);
            ReloadQueue(1);
        } else {
            if (!OPENED) Open();
            if (VIEW->resetToFile() != 0)
                ReloadQueue(1);
            else
                ReloadQueue(2);
        }
    } else if (response == ResponseCancelled) {
        ReloadQueue(1);
    }
    if (another) {
        request = RequestInsert;
        PRIMARY->File().record.clear();
    } else if (nav != 0) {
        HandleRecordNavigation(nav);
    }
    if (nav == 0) {
        RecomputeThumbRange();
        RefreshWindowControls();
        selectChoice();
        postNewSelection();
        WINDOW->WINDOW.select(LISTCONTROL);
    }
}

void BrowseManager::HandleRecordNavigation(int request) {
    int ev = 0;
    switch (request) {
    case vcr::Next:
        ev = bevent::ScrollDown;
        break;
    case vcr::Previous:
        ev = bevent::ScrollUp;
        break;
    case vcr::PageDown:
        ev = bevent::PageDown;
        break;
    case vcr::PageUp:
        ev = bevent::PageUp;
        break;
    case vcr::First:
        ev = bevent::ScrollTop;
        break;
    case vcr::Last:
        ev = bevent::ScrollBottom;
        break;
    default:
        return;
    }
    HandleScroll(ev);
    WINDOW->Reset(false);
    WINDOW->Update();
}

// ---- page fills ----

void BrowseManager::FillRowFromRecord() {
    for (FieldPair& p : FIELDS) copyField(p.LEFT, p.RIGHT);
    if (!fieldsOnly_) VIEWPOSITION.set(Value(VIEW->position()));
}

void BrowseManager::FillFieldsFromRecord() {
    // Through the virtual fill, so that what a procedure adds to a row (a column worked out from
    // the record) is there too.
    fieldsOnly_ = true;
    FillRowFromRecord();
    fieldsOnly_ = false;
}

void BrowseManager::FillPage(int direction) {
    const bool up = direction == 1;
    const bool quick = QUICKSCAN && ITEMSTOFILL > 1;
    if (quick) PRIMARY->SwitchQuickScan(true);
    std::string anchor;
    if (rows() > 0) {
        anchor = rowPosition(up ? 1 : rows());
        if (!resetView(anchor)) anchor.clear();
    }
    bool first = !anchor.empty();
    while (ITEMSTOFILL != 0) {
        Level l = up ? Previous() : Next();
        if (l == LevelNotify) break;
        if (l == LevelFatal) return; // the window closes; quick scanning is left as it is
        if (first) {
            first = false;
            if (clipped(VIEW->position()) == anchor) continue; // the anchor is already there
        }
        if (rows() >= LASTITEMS && rows() > 0) deleteRow(up ? rows() : 1);
        FillRowFromRecord();
        if (up)
            LISTQUEUE->addAt(1);
        else
            LISTQUEUE->add();
        --ITEMSTOFILL;
    }
    if (QUICKSCAN && quick) PRIMARY->SwitchQuickScan(false);
}

void BrowseManager::ReloadQueue(int mode) {
    std::string target;
    if (!ACTIVEINVISIBLE && !listVisible()) {
        LOADPENDING = 1;
        return;
    }
    LOADED = 1;
    LOADPENDING = 0;
    win::WaitCursor waiting;
    if (CURRENTCHOICE == 0) CURRENTCHOICE = 1;
    // The row kept for the selected record lies on the new page, which may be shorter than the
    // one it was chosen on (the list was made smaller).
    const std::int32_t keptRow =
        std::clamp<std::int32_t>(CURRENTCHOICE, 1, std::max<std::int32_t>(LASTITEMS, 1));
    std::int32_t offset = 0, savedRow = 0;
    bool fromTop = false;
    if (mode == 2) {
        if (RETAINROW) offset = keptRow - 1;
    } else if (rows() > 0) {
        target = rowPosition(CURRENTCHOICE);
        if (target.empty()) target = rowPosition(rows());
        resetView(rowPosition(1));
    } else {
        fromTop = true;
        ResetToStart();
    }
    if (RETAINROW) savedRow = keptRow;
    if (interrupted_) {
        // The user acted before the view could place itself: the rows stay as they were and the
        // new action is answered next.
        interrupted_ = false;
        return;
    }

    LISTQUEUE->free();
    ITEMSTOFILL = LASTITEMS - offset;
    FillPage(2);
    const bool reachedEnd = ITEMSTOFILL != 0;

    if (target.empty() && rows() > 0) target = rowPosition(1);
    CURRENTCHOICE = locate(target);
    if (RETAINROW) offset = savedRow - CURRENTCHOICE;
    if (rows() == 0) ResetToStart();
    ITEMSTOFILL = ALLOWUNFILLED ? 0 : LASTITEMS - static_cast<std::int32_t>(rows());
    if (!fromTop && (ITEMSTOFILL != 0 || offset > 0)) {
        ITEMSTOFILL = std::max(ITEMSTOFILL, offset);
        FillPage(1);
        if (target.empty() && rows() > 0) target = rowPosition(rows());
        CURRENTCHOICE = locate(target);
    }
    if (RETAINROW && (offset < 0 || (rows() < LASTITEMS && !reachedEnd))) {
        ITEMSTOFILL = std::max(-offset, LASTITEMS - static_cast<std::int32_t>(rows()));
        FillPage(2);
        CURRENTCHOICE = locate(target);
    }
    while (rows() > LASTITEMS) {
        if (offset < 0) {
            deleteRow(1);
            ++offset;
            --CURRENTCHOICE;
        } else {
            deleteRow(rows());
        }
    }
    if (SORT && SORT->LOCATOR) SORT->LOCATOR->SetLocatorRecordCount(rows() > 0);
    if (rows() == 0) CURRENTCHOICE = 0;
    if (CURRENTCHOICE <= 0) CURRENTCHOICE = 1;
    if (rows() > 0)
        SyncRecordBuffers();
    else
        PRIMARY->File().record.clear();
}

void BrowseManager::ReloadFromRecordBuffer() {
    const std::size_t n = keyFields().size();
    Reset(static_cast<int>(n == 0 ? 1 : n));
    ReloadQueue(2);
    RefreshWindowControls();
}

void BrowseManager::ReloadFromFileBuffer() {
    if (!OPENED) Open();
    if (VIEW->resetToFile() != 0) {
        unpositioned_ = true;
        PRIMARY->Raise(40);
    } else {
        unpositioned_ = false;
    }
    ReloadQueue(2);
}

// ---- scrolling ----

void BrowseManager::MoveLine(int event) {
    CURRENTEVENT = event;
    if (event == bevent::ScrollUp && CURRENTCHOICE > 1) {
        --CURRENTCHOICE;
    } else if (event == bevent::ScrollDown && CURRENTCHOICE < rows()) {
        ++CURRENTCHOICE;
    } else if (!FILELOADED) {
        ITEMSTOFILL = 1;
        FillPage(event == bevent::ScrollUp ? 1 : 2);
    }
}

void BrowseManager::MovePage(int event) {
    CURRENTEVENT = event;
    std::int32_t n = visibleRows();
    if (!FILELOADED) {
        ITEMSTOFILL = n;
        FillPage(event == bevent::PageUp ? 1 : 2);
        // Rows that could not be read mean the end of the order, unless the user cut it short.
        n = interrupted_ ? 0 : ITEMSTOFILL;
        interrupted_ = false;
    }
    if (event == bevent::PageUp)
        CURRENTCHOICE = std::max<std::int32_t>(1, CURRENTCHOICE - n);
    else
        CURRENTCHOICE = static_cast<std::int32_t>(std::min<std::int64_t>(rows(), CURRENTCHOICE + n));
}

void BrowseManager::MoveToEnd(int event) {
    CURRENTEVENT = event;
    if (!FILELOADED) {
        LISTQUEUE->free();
        ResetToStart();
        ITEMSTOFILL = visibleRows();
        FillPage(event == bevent::ScrollTop ? 2 : 1);
    }
    CURRENTCHOICE = event == bevent::ScrollTop ? 1 : static_cast<std::int32_t>(rows());
}

void BrowseManager::HandleScroll(int event) {
    if (event == 0) event = WINDOW->event();
    if (rows() == 0) return;
    switch (event) {
    case bevent::ScrollUp:
    case bevent::ScrollDown:
        MoveLine(event);
        break;
    case bevent::PageUp:
    case bevent::PageDown:
        MovePage(event);
        break;
    case bevent::ScrollTop:
    case bevent::ScrollBottom:
        MoveToEnd(event);
        break;
    default:
        return;
    }
    selectChoice();
    postNewSelection();
    if (SORT && SORT->LOCATOR) SORT->LOCATOR->Reset();
    if (!SORT || !SORT->THUMB) setThumb(ThumbFromPage());
}

// ---- the thumb ----

int BrowseManager::ThumbFromPage() {
    const std::int64_t n = rows();
    if (FILELOADED) {
        // Multiplied before it is divided: a row divided by the row count first is always 0.
        if (n <= 0) return 0;
        return static_cast<int>(std::clamp<std::int64_t>(std::int64_t(CURRENTCHOICE) * 100 / n, 0, 100));
    }
    // At the top or the bottom of the order the end is known whatever the fill read.
    if (CURRENTEVENT == bevent::ScrollTop && CURRENTCHOICE == 1) return 0;
    if (CURRENTEVENT == bevent::ScrollBottom && CURRENTCHOICE == n) return 100;
    if (ITEMSTOFILL != 0) {
        const bool down = CURRENTEVENT == bevent::ScrollDown || CURRENTEVENT == bevent::PageDown ||
                          CURRENTEVENT == bevent::ScrollBottom;
        const bool upward = CURRENTEVENT == bevent::ScrollUp || CURRENTEVENT == bevent::PageUp ||
                            CURRENTEVENT == bevent::ScrollTop;
        if (down && CURRENTCHOICE == n) return 100;
        if (upward && CURRENTCHOICE == 1) return 0;
    }
    return 50;
}

void BrowseManager::RefreshThumb() {
    if (!HASTHUMB) return;
    const bool shown = rows() >= LASTITEMS;
    WINDOW->WINDOW.setProperty(LISTCONTROL, win::listprop::VScroll, shown ? "1" : "0");
    if (!shown) return;
    if (!SORT || !SORT->THUMB || !SORT->FREEELEMENT.valid()) {
        setThumb(ThumbFromPage());
    } else if (LOADED && !LOADPENDING) {
        SyncRecordBuffers();
        setThumb(SORT->THUMB->ThumbPercentOf(SORT->FREEELEMENT.get()));
    }
}

void BrowseManager::ThumbDrag() {
    const int p = toInt(WINDOW->WINDOW.property(LISTCONTROL, win::listprop::Thumb));
    if (p <= 1) {
        WINDOW->WINDOW.post(win::event::ScrollTop, LISTCONTROL);
    } else if (p >= 100) {
        WINDOW->WINDOW.post(win::event::ScrollBottom, LISTCONTROL);
    } else if (SORT && SORT->THUMB && SORT->FREEELEMENT.valid()) {
        SORT->FREEELEMENT.set(SORT->THUMB->ValueAtPercent(p));
        const std::size_t n = keyFields().size();
        Reset(static_cast<int>(n == 0 ? 1 : n));
        ReloadQueue(2);
        RefreshWindowControls();
    } else if (FILELOADED) {
        const std::int64_t n = rows();
        if (n <= 0) return;
        // Multiplied before it is divided, and kept within the rows.
        CURRENTCHOICE = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(p) * n / 100, 1, n));
        selectChoice();
        postNewSelection();
        setThumb(ThumbFromPage());
    } else if (p < 50) {
        WINDOW->WINDOW.post(win::event::PageUp, LISTCONTROL);
    } else if (p > 50) {
        WINDOW->WINDOW.post(win::event::PageDown, LISTCONTROL);
    }
}

void BrowseManager::RecomputeThumbRange() {
    if (readFailed_ || !SORT || !SORT->THUMB || !SORT->THUMB->NeedsStepLimits() || !SORT->FREEELEMENT.valid())
        return;
    if (!ALLOWUNFILLED && rows() < LASTITEMS) return; // the whole order is on screen
    win::WaitCursor waiting;
    ResetToStart();
    if (Previous() == LevelNone) {
        Value high = SORT->FREEELEMENT.get();
        ResetToStart();
        if (Next() == LevelNone) SORT->THUMB->SetStepLimits(SORT->FREEELEMENT.get(), high);
    }
    // The reads left another record in the buffers; the selected row goes back there.
    SyncRecordBuffers();
}

// ---- sort choice ----

std::uint8_t BrowseManager::ApplySortChoice(int order, bool force) {
    // An order added since the last apply became current without being applied.
    if (SelectSortOrder(order) || currentOrder() != appliedOrder_) {
        appliedOrder_ = currentOrder();
        SORT = &current();
        if (SORT->LOCATOR) SORT->LOCATOR->Reset();
    } else if (!ReloadNeeded() && !force && LOADED && !LOADPENDING) {
        SyncRecordBuffers();
        return 0;
    }
    SORT = &current();
    for (FieldPair& p : SORT->RESETS)
        if (p.LEFT.valid()) p.SAVED = p.LEFT.get();
    if (SORT->LIMITTYPE != LimitCurrent) rememberLimits(*SORT);
    if (!OPENED)
        Open();
    else {
        BuildViewOrder();
        if (!unusable_) BuildViewFilter();
    }
    if ((SELECTING || STARTATCURRENT) && !LOADED) {
        Reset(FreeComponentPosition());
        ReloadQueue(2);
    } else if (rows() > 0) {
        resetView(rowPosition(std::clamp<std::int64_t>(CURRENTCHOICE, 1, rows())));
        ReloadQueue(2);
    } else {
        ReloadQueue(1);
    }
    if (!LOADPENDING) {
        selectChoice();
        postNewSelection();
        RecomputeThumbRange();
        return 1;
    }
    SyncRecordBuffers();
    return 0;
}

std::uint8_t BrowseManager::ApplySortChoiceCurrent(bool force) {
    return ApplySortChoice(currentOrder() + 1, force);
}

void BrowseManager::ResetSort(bool force) {
    ApplySortChoiceCurrent(force);
}

bool BrowseManager::ReloadNeeded() {
    const int visible = visibleRows();
    bool needed = false;
    if (visible != LASTITEMS) {
        LASTITEMS = visible;
        needed = !FILELOADED;
    } else {
        needed = ViewManager::ReloadNeeded();
        if (SORT)
            for (const FieldPair& p : SORT->RESETS)
                if (p.LEFT.valid() && compare(p.LEFT.get(), p.SAVED) != 0) needed = true;
    }
    if (needed) LOADPENDING = 1;
    return needed;
}

bool BrowseManager::ResetNeeded() {
    const bool moved = ReloadNeeded(); // asked first: it notes a new list length and range values
    return moved || !LOADED || LOADPENDING || currentOrder() != appliedOrder_;
}

// ---- alert keys ----

void BrowseManager::RegisterAlertKeys() {
    win::Window& w = WINDOW->WINDOW;
    alerts_.clear();
    AddListAlert(bkey::DoubleClick);
    AddListAlert(bkey::RightUp);
    HASTHUMB = w.property(LISTCONTROL, win::listprop::VScroll) == "1" ? 1 : 0;
    w.setProperty(LISTCONTROL, win::listprop::VScroll, "0"); // shown by the browse itself
    for (SortOrder& o : *ORDER)
        if (o.LOCATOR) o.LOCATOR->RegisterAlertKeys(LISTCONTROL);
    auto item = [&](int control, std::string_view first, std::string_view second) {
        if (POPUP && hasControl(control)) POPUP->AddButtonItem(first, second, control);
    };
    if (hasControl(INSERTCONTROL)) AddListAlert(bkey::Insert);
    item(INSERTCONTROL, "!&Insert", "&Insert");
    if (hasControl(CHANGECONTROL)) AddListAlert(bkey::CtrlEnter);
    item(CHANGECONTROL, "!&Change", "&Change");
    if (hasControl(DELETECONTROL)) AddListAlert(bkey::Delete);
    item(DELETECONTROL, "!&Delete", "&Delete");
    item(PRINTCONTROL, "!&Print", "&Print");
    item(QUERYCONTROL, "!&Query", "&Query");
    if (SELECTING) item(SELECTCONTROL, "!&Select", "&Select");
    if (POPUP && hasControl(TOOLCONTROL)) {
        POPUP->AddItem("-", "Separator");
        POPUP->AddButtonItem("!&Toolbox", "&Toolbox", TOOLCONTROL);
    }
    if (POPUP && TOOLBAR) TOOLBAR->AddToPopup(*POPUP);
}

// ---- events ----

Level BrowseManager::HandleEvent(const win::Event& e) {
    const int ev = win::frameworkNumber(e.code);
    interrupted_ = false;
    struct Answering {
        int& depth;
        explicit Answering(int& d) : depth(++d) {}
        ~Answering() { --depth; }
    };
    if (e.control != 0 && e.control == LISTCONTROL) {
        Answering answering(answering_);
        switch (ev) {
        case bevent::ScrollUp:
        case bevent::ScrollDown:
        case bevent::PageUp:
        case bevent::PageDown:
        case bevent::ScrollTop:
        case bevent::ScrollBottom:
            HandleScroll(ev);
            break;
        case bevent::ScrollDrag:
            ThumbDrag();
            break;
        case bevent::AlertKey:
            keyCode_ = e.keyCode;
            HandleKey();
            break;
        case bevent::NewSelection:
            HandleNewSelection();
            break;
        case bevent::Locate:
            HandleLocate();
            break;
        case bevent::Accepted:
            // Enter or a double click on a row: the keys the list turned into an acceptance.
            if (e.keyCode == bkey::DoubleClick) {
                keyCode_ = e.keyCode;
                HandleKey();
            }
            break;
        default:
            break;
        }
    } else if (ev == bevent::Accepted && e.control != 0) {
        const int c = e.control;
        // The buffers take the selected record first (re-read, watched for other stations).
        if (c == DELETECONTROL) {
            WINDOW->Update();
            Ask(RequestDelete);
        } else if (c == CHANGECONTROL) {
            WINDOW->Update();
            Ask(RequestChange);
        } else if (c == INSERTCONTROL) {
            WINDOW->Update();
            Ask(RequestInsert);
        } else if (c == SELECTCONTROL) {
            WINDOW->RESPONSE = ResponseDone;
            WINDOW->WINDOW.post(win::event::CloseWindow);
        } else if (c == PRINTCONTROL) {
            SyncViewRecord();
            WINDOW->Run(PRINTPROCEDURE, RequestReport);
        } else if (c == QUERYCONTROL) {
            HandleLocate();
        } else if (c == TOOLCONTROL) {
            if (POPUP) POPUP->ShowAsToolbox("Browse Actions");
        } else if (SORT && SORT->LOCATOR && SORT->LOCATOR->HandleAccepted()) {
            ResetFromFreeElement();
        }
    } else if (ev == bevent::CloseWindow) {
        if (WINDOW->RESPONSE == ResponseDone && SELECTING) SyncRecordBuffers();
    }
    return LevelNone;
}

std::uint8_t BrowseManager::HandleKey() {
    const int key = keyCode_;
    win::Window& w = WINDOW->WINDOW;
    bool used = false;
    if (key == bkey::RightUp) {
        const int row = toInt(w.property(LISTCONTROL, win::listprop::PressRow));
        if (row > 0 && row <= rows()) {
            CURRENTCHOICE = row;
            selectChoice();
            postNewSelection();
        } else {
            keyCode_ = 0; // off the rows: no popup, now or at the next selection
        }
        return 1;
    }
    Locator* locator = SORT ? SORT->LOCATOR : nullptr;
    auto accept = [&](int control) {
        if (hasControl(control)) w.post(win::event::Accepted, control);
        used = true;
    };
    if (rows() > 0) {
        switch (key) {
        case bkey::Insert:
            accept(INSERTCONTROL);
            break;
        case bkey::Delete:
            accept(DELETECONTROL);
            break;
        case bkey::CtrlEnter:
            SyncRecordBuffers();
            accept(CHANGECONTROL);
            break;
        case bkey::DoubleClick:
            accept(SELECTING ? SELECTCONTROL : CHANGECONTROL);
            break;
        default:
            if (locator && locator->HandleKey(key)) {
                used = true;
                // A step locator already on a record with the key's character moved one row
                // on: reloading by the value would go back to the first record of equal ones.
                if (!locator->KeptRow()) {
                    Reset(FreeComponentPosition());
                    ReloadQueue(2);
                }
            }
            break;
        }
    } else {
        if (locator && locator->HandleKey(key)) {
            used = true;
            Reset(FreeComponentPosition());
            ReloadQueue(2);
        }
        if (key == bkey::Insert) accept(INSERTCONTROL);
    }
    if (used) {
        RefreshWindowControls();
        selectChoice();
        postNewSelection();
    }
    return used ? 1 : 0;
}

void BrowseManager::HandleLocate() {
    if (!QUERY || QUERY->Ask() != 1) return;
    const std::string filter = QUERY->BuildQueryFilter();
    // Each order's query filter before, so that one the view refuses can be taken back: the list
    // then shows what it showed, rather than nothing under the refused query.
    std::vector<std::pair<int, std::string>> before;
    auto file = [&] {
        std::string old;
        for (const FilterEntry& e : current().FILTER)
            if (e.ID == FilterQuery) old = e.FILTER;
        before.emplace_back(currentOrder() + 1, std::move(old));
        SetNamedFilter(filter, FilterQuery);
    };
    const int saved = currentOrder() + 1;
    if (QUERYSHARED) {
        for (std::size_t i = 0; i < ORDER->size(); ++i) {
            SelectSortOrder(static_cast<int>(i) + 1);
            file();
        }
        SelectSortOrder(saved);
    } else {
        file();
    }
    ApplySortChoiceCurrent(true);
    if (unusable_) {
        // The view's message told why; the orders get their earlier query filters back.
        for (const auto& [order, old] : before) {
            SelectSortOrder(order);
            SetNamedFilter(old, FilterQuery);
        }
        SelectSortOrder(saved);
        ApplySortChoiceCurrent(true);
    }
    RefreshWindowControls();
}

void BrowseManager::HandleNewSelection() {
    if (rows() > 0) {
        CURRENTCHOICE =
            std::clamp<std::int32_t>(toInt(WINDOW->WINDOW.property(LISTCONTROL, win::listprop::Selected)), 1,
                                     static_cast<std::int32_t>(rows()));
        shownChoice_ = CURRENTCHOICE;
        LASTCHOICE = CURRENTCHOICE;
        SyncRecordBuffers();
    }
    // Of several lists, the one the user works in has the toolbar.
    if (TOOLBAR && TOOLBARITEM && TOOLBAR->current() != TOOLBARITEM) TOOLBAR->SetToolbarTarget(LISTCONTROL);
    if (keyCode_ == bkey::RightUp) {
        keyCode_ = 0;
        if (POPUP) POPUP->Ask();
    } else {
        // Browses whose conditions follow the record (a related list) reset; the record's fields
        // are shown whether or not anything else changed.
        WINDOW->Reset(false);
        WINDOW->WINDOW.display();
    }
}

// ---- buffers and controls ----

void BrowseManager::SyncRecordBuffers() {
    if (rows() > 0) {
        LISTQUEUE->get(std::clamp<std::int64_t>(CURRENTCHOICE, 1, rows()));
        for (FieldPair& p : FIELDS)
            if (p.LEFT.valid() && p.RIGHT.valid()) p.RIGHT.set(p.LEFT.get());
    } else {
        for (FieldPair& p : FIELDS)
            if (p.RIGHT.valid()) p.RIGHT.clear();
    }
}

void BrowseManager::SyncViewRecord() {
    if (rows() == 0) return;
    CURRENTCHOICE =
        std::clamp<std::int32_t>(toInt(WINDOW->WINDOW.property(LISTCONTROL, win::listprop::Selected)), 1,
                                 static_cast<std::int32_t>(rows()));
    if (!OPENED) Open();
    VIEW->watch();
    VIEW->reget(rowPosition(CURRENTCHOICE));
}

void BrowseManager::RefreshWindowControls() {
    win::Window& w = WINDOW->WINDOW;
    if (SORT && SORT->LOCATOR) SORT->LOCATOR->RefreshWindowControls();
    const bool any = rows() > 0;
    for (int c : {CHANGECONTROL, DELETECONTROL, PRINTCONTROL})
        if (hasControl(c)) w.enable(c, any);
    if (hasControl(SELECTCONTROL)) {
        if (SELECTING) {
            const bool on = any && WINDOW->REQUEST == RequestSelect;
            w.enable(SELECTCONTROL, on);
            if (on) w.setProperty(SELECTCONTROL, win::prop::Default, "1");
        } else if (HIDESELECT) {
            w.enable(SELECTCONTROL, false);
            w.hide(SELECTCONTROL, true);
        }
    }
    RefreshThumb();
    if (TOOLBAR) TOOLBAR->ShowToolbarState();
    selectChoice();
}

} // namespace sorv::fw
