// The window manager's event loop, dispatch, resets and life cycle.
#include "framework/windowmanager.h"
#include "framework/errormanager.h"
#include "framework/filemanager.h"
#include "framework/relationmanager.h"
#include "framework/toolbarmanager.h"
#include "windowing/desktop.h"

#include "data/files.h"
#include "windowing/help.h"

#include <algorithm>

namespace sorv::fw {

namespace {

// Asks message `message` with Yes, No and Cancel; without an error manager the answer is Cancel.
int askYesNoCancel(ErrorManager* e, int message) {
    return e ? e->Message(message, win::button::Yes | win::button::No | win::button::Cancel,
                          win::button::Cancel)
             : win::button::Cancel;
}

enum class AfterFailure { Retry, Leave, Stay };

// After a write that failed the user chooses: Yes tries it again, No leaves the form without it
// (the window is asked to close), Cancel stays on the form as it is.
AfterFailure askAfterFailure(ErrorManager* e, int message, win::Window& window) {
    const int b = askYesNoCancel(e, message);
    if (b == win::button::Yes) return AfterFailure::Retry;
    if (b == win::button::No) {
        window.post(win::event::CloseWindow);
        return AfterFailure::Leave;
    }
    window.display();
    return AfterFailure::Stay;
}

} // namespace

Level WindowManager::Init() {
    ORIGINALREQUEST = REQUEST;
    BROWSES.clear();
    BUTTONS.clear();
    FILEDROPS.clear();
    INSERTACTION = 2;
    DELETEACTION = 2;
    CHANGEACTION = 1;
    CANCELACTION = 3;
    AUTOTOOLBAR = 1;
    AUTOREFRESH = 1;
    return LevelNone;
}

void WindowManager::Ask() {
    if (DEAD) return;
    LASTINSERTEDPOSITION.clear();
    OPENED = WINDOW.isOpen() ? 1 : 0;
    win::Event e;
    while (WINDOW.accept(e)) {
        EVENT = e;
        Level level = HandleEvent();
        if (level == LevelFatal) break;
        if (level == LevelNotify) continue;
        // A close that nobody refused ends the loop with the window still open: Kill closes it,
        // after the procedure's own Kill has stored the window's place.
        if (e.code == win::event::CloseWindow || e.code == win::event::CloseDown) break;
        WINDOW.defaultAction(e);
    }
}

void WindowManager::Kill() {
    if (DEAD) return;
    DEAD = 1;
    for (WindowBrowse* b : BROWSES) b->Kill();
    BROWSES.clear();
    for (WindowFileDrop* d : FILEDROPS) d->Kill();
    FILEDROPS.clear();
    BUTTONS.clear();
    HISTORY.clear();
    for (SavedFileEntry& f : FILES)
        if (f.file) f.file->RestoreSavedBuffer(f.id, false);
    FILES.clear();
    if (PRIMARY && PRIMARY->ME && SAVED) PRIMARY->ME->RestoreSavedBuffer(SAVED, false);
    SAVED = 0;
    if (TOOLBAR) TOOLBAR->Kill();
    if (RESIZE) RESIZE->Kill();
    WINDOW.close();
    OPENED = 0;
}

void WindowManager::Opened() {
    if (TRANSLATOR) TRANSLATOR->TranslateWindow(WINDOW);
    Reset(false);
    INITED |= 1;
}

void WindowManager::PrimeNewRecord() {}

Level WindowManager::PrepareUpdate() {
    if (!PRIMARY || !PRIMARY->ME) return LevelNone;
    FileManager& fm = *PRIMARY->ME;
    if (fm.EnsureFileOpen() != LevelNone) return LevelFatal;
    PRIMARY->RememberLinkValues();
    for (SavedFileEntry& f : FILES)
        if (f.file) f.id = f.file->SaveRecordBuffer();
    if (REQUEST == RequestInsert && INSERTACTION != 0) {
        // The calling browse primed the record; the hook may add to it, or refuse the form.
        RESPONSE = ResponseDone;
        PrimeNewRecord();
        if (RESPONSE == ResponseCancelled) {
            PRIMARY->ReleaseAutoNumber(); // the number reserved for a form that never opens
            return LevelFatal;
        }
        RESPONSE = ResponseCancelled;
    } else if (REQUEST == RequestDelete && (DELETEACTION == 2 || DELETEACTION == 4)) {
        RESPONSE = PRIMARY->Delete(DELETEACTION == 2) == LevelNone ? ResponseDone : ResponseCancelled;
        return LevelFatal;
    }
    keptPosition_ = REQUEST == RequestChange ? fm.Position() : std::string();
    SAVED = fm.SaveRecordBuffer();
    return LevelNone;
}

void WindowManager::Reset(bool force) {
    // A reset does its work (reloading, refreshing controls, redisplaying over what the user may be
    // typing) only when forced, on the window's first reset, or when a browse's conditions changed.
    const bool forced = force || FORCEDRESET;
    bool changed = forced || !(INITED & 1);
    for (WindowBrowse* b : BROWSES) changed = b->ResetNeeded() || changed; // each notes its own change
    if (!changed) return;
    FORCEDRESET = 0;
    for (WindowBrowse* b : BROWSES) b->ResetSort(forced);
    for (WindowBrowse* b : BROWSES) b->RefreshWindowControls();
    for (WindowFileDrop* d : FILEDROPS) d->ResetQueue(forced);
    WINDOW.display();
}

void WindowManager::RecallFieldHistory(int control) {
    for (HistoryEntry& h : HISTORY)
        if (h.control == control && h.field.valid()) {
            h.field.set(h.saved);
            WINDOW.display(control);
        }
}

int WindowManager::Run() {
    if (Init() == LevelNone) Ask();
    Kill();
    return RESPONSE ? static_cast<int>(RESPONSE) : static_cast<int>(ResponseCancelled);
}

int WindowManager::Run(int, int) {
    return ResponseCancelled;
}

void WindowManager::RegisterAlertKeys() {
    for (WindowBrowse* b : BROWSES) b->SetAlerts();
    if (HISTORYKEY)
        for (const HistoryEntry& h : HISTORY) WINDOW.addAlertKey(HISTORYKEY, h.control);
}

void WindowManager::SetResult(int response) {
    RESPONSE = static_cast<std::uint8_t>(response);
    WINDOW.post(win::event::CloseWindow);
    if (response == ResponseCancelled && TOOLBAR && VCRREQUEST) *VCRREQUEST = 0;
}

Level WindowManager::HandleAccepted() {
    const int control = EVENT.control;
    if (TOOLBAR && toolbutton::isButton(control)) {
        // A toolbar button is the toolbar's alone: nothing else of the window has its number.
        if (control == toolbutton::History)
            RecallFieldHistory(WINDOW.focusedControl());
        else
            TOOLBAR->HandleEvent(control);
        return LevelNotify;
    }
    if (!TOOLBAR && control == toolbutton::Help) {
        // A window without toolbar targets still has a page in the help.
        win::showWindowHelp(WINDOW.id());
        return LevelNotify;
    }
    for (const ButtonResponse& b : BUTTONS)
        if (b.control == control) {
            SetResult(b.response);
            return LevelNotify;
        }
    if (OKCONTROL && control == OKCONTROL) {
        // Insert and change forms are completed only by a form whose every field passes.
        if (ORIGINALREQUEST == RequestInsert || ORIGINALREQUEST == RequestChange) {
            if (!ValidateForm()) {
                if (VCRREQUEST) *VCRREQUEST = 0; // a refused save moves nowhere
                return LevelNotify;
            }
        }
        WINDOW.post(win::event::Completed);
    }
    return LevelNone;
}

bool WindowManager::ValidateForm() {
    if (int refused = WINDOW.refusedControl()) {
        WINDOW.post(win::event::Rejected, refused);
        return false;
    }
    if (!PRIMARY || !PRIMARY->ME) return true;
    FileManager& fm = *PRIMARY->ME;
    int failed = 0;
    if (fm.ValidateRecord(&failed) == LevelNone) return true;
    const int control = failed > 0 ? WINDOW.controlOf(fm.record().ref(failed - 1)) : 0;
    if (control)
        WINDOW.select(control);
    else
        selectFirstField();
    return false;
}

ErrorManager* WindowManager::errors() const {
    if (ERRORS) return ERRORS;
    return PRIMARY && PRIMARY->ME ? PRIMARY->ME->ERRORS : nullptr;
}

void WindowManager::selectFirstField() {
    if (FIRSTFIELD) WINDOW.select(FIRSTFIELD);
}

void WindowManager::keepHistory() {
    for (HistoryEntry& h : HISTORY)
        if (h.field.valid()) h.saved = h.field.get();
}

Level WindowManager::HandleCompleted() {
    if (!PRIMARY || !PRIMARY->ME) return LevelNone;
    switch (REQUEST) {
    case RequestInsert:
        return completeInsert();
    case RequestChange:
        return completeChange();
    case RequestDelete:
        return completeDelete();
    default:
        return LevelNone;
    }
}

Level WindowManager::completeInsert() {
    FileManager& fm = *PRIMARY->ME;
    keepHistory();
    if (fm.Insert() != LevelNone) {
        selectFirstField();
        return LevelNotify;
    }
    int action = INSERTACTION;
    if (action == 4) {
        ErrorManager* e = errors();
        action = e && e->Raise(3) == LevelNone ? 3 : 2;
    }
    if (action != 3) {
        SetResult(ResponseDone);
        return LevelNone;
    }
    // Add another: the next record starts from the form's first priming.
    LASTINSERTEDPOSITION = fm.Position();
    for (SavedFileEntry& f : FILES) {
        if (!f.file) continue;
        f.file->RestoreSavedBuffer(f.id, true);
        f.id = f.file->SaveRecordBuffer();
    }
    fm.RestoreSavedBuffer(SAVED, true);
    SAVED = 0;
    if (fm.ReserveAutoNumber() != LevelNone) {
        WINDOW.post(win::event::CloseWindow);
        return LevelNotify;
    }
    PrimeNewRecord();
    RESPONSE = ResponseCancelled;
    SAVED = fm.SaveRecordBuffer();
    WINDOW.display();
    selectFirstField();
    return LevelNotify;
}

Level WindowManager::completeChange() {
    FileManager& fm = *PRIMARY->ME;
    for (;;) {
        RESPONSE = ResponseCancelled;
        Level r = LevelNone;
        const bool changed = !fm.BufferUnchanged(SAVED);
        {
            win::WaitCursor wait;
            if (changed) {
                // Kept first: after message 7 the ditto gives back what the user typed.
                if (HISTORYKEY) keepHistory();
                r = returnToRecord();
                if (r == LevelNone) r = PRIMARY->Update(true);
            }
        }
        if (r == LevelUser) {
            const AfterFailure choice = askAfterFailure(errors(), 34, WINDOW);
            if (choice == AfterFailure::Retry) continue;
            if (choice == AfterFailure::Stay) selectFirstField();
            return LevelNotify;
        }
        if (r != LevelNone) {
            const int last = fm.info().LASTERROR;
            if (last == 6 || last == 7) {
                // The buffer shows the other station's record now: it is what changes are
                // measured against, and what its links are.
                fm.RestoreSavedBuffer(SAVED, false);
                SAVED = fm.SaveRecordBuffer();
                PRIMARY->RememberLinkValues();
            }
            if (VCRREQUEST) *VCRREQUEST = 0;
            WINDOW.display();
            selectFirstField();
            return LevelNotify;
        }
        const bool navigating = VCRREQUEST && *VCRREQUEST != 0;
        if (changed || (TOOLBAR && !navigating)) RESPONSE = ResponseDone;
        WINDOW.post(win::event::CloseWindow);
        return LevelNone;
    }
}

// When the table was read since the form was prepared, its record is read again (watched for
// another station's changes from here on) under the form's values. Unless it still is what the
// form started from, another station changed it: as for a watched write, message 7 shows its
// version.
Level WindowManager::returnToRecord() {
    FileManager& fm = *PRIMARY->ME;
    if (keptPosition_.empty() || fm.Position() == keptPosition_) return LevelNone;
    const std::uint16_t mine = fm.SaveRecordBuffer();
    watch(fm.file());
    if (fm.Reget(keptPosition_) != LevelNone) {
        fm.RestoreSavedBuffer(mine, true);
        return LevelNotify;
    }
    if (fm.BufferUnchanged(SAVED)) {
        fm.RestoreSavedBuffer(mine, true);
        return LevelNone;
    }
    fm.RestoreSavedBuffer(mine, false); // the buffer shows their record, watched
    fm.Raise(7);
    return LevelNotify;
}

Level WindowManager::completeDelete() {
    FileManager& fm = *PRIMARY->ME;
    for (;;) {
        RESPONSE = ResponseCancelled;
        Level r;
        {
            win::WaitCursor wait;
            r = PRIMARY->Delete(true, false);
        }
        if (r == LevelNone) {
            SetResult(ResponseDone);
            return LevelNone;
        }
        if (fm.info().LASTERROR == 9) { // the user did not confirm: nothing failed
            selectFirstField();
            return LevelNotify;
        }
        const AfterFailure choice = askAfterFailure(errors(), 33, WINDOW);
        if (choice == AfterFailure::Retry) continue;
        if (choice == AfterFailure::Stay) selectFirstField();
        return LevelNotify;
    }
}

Level WindowManager::HandleCloseEvent() {
    if (RESPONSE == ResponseDone || !PRIMARY || !PRIMARY->ME) return LevelNone;
    FileManager& fm = *PRIMARY->ME;
    if (CANCELACTION && (REQUEST == RequestInsert || REQUEST == RequestChange) && SAVED &&
        !fm.BufferUnchanged(SAVED)) {
        ErrorManager* e = errors();
        if ((CANCELACTION & 3) == 3) {
            const int b = askYesNoCancel(e, 35);
            if (b == win::button::Yes) {
                if (OKCONTROL) WINDOW.post(win::event::Accepted, OKCONTROL);
                return LevelNotify;
            }
            if (b != win::button::No) {
                selectFirstField();
                return LevelNotify;
            }
        } else if (CANCELACTION & 1) {
            if (OKCONTROL) WINDOW.post(win::event::Accepted, OKCONTROL);
            return LevelNotify;
        } else if (!e || e->Raise(8) != LevelNone) {
            selectFirstField();
            return LevelNotify;
        }
    }
    if (ORIGINALREQUEST == RequestInsert && RESPONSE == ResponseCancelled &&
        PRIMARY->ReleaseAutoNumber() != LevelNone) {
        selectFirstField();
        return LevelNotify;
    }
    if (!LASTINSERTEDPOSITION.empty()) {
        // Records were added with add-another: the calling browse shows the last one.
        RESPONSE = ResponseDone;
        fm.Reget(LASTINSERTEDPOSITION);
    }
    return LevelNone;
}

Level WindowManager::HandleEvent() {
    Level level = LevelNone;
    if (EVENT.control == 0) {
        level = HandleWindowEvent();
        if (level != LevelNone) return level;
    }
    switch (event()) {
    case wmevent::Accepted:
        level = HandleAccepted();
        break;
    case wmevent::Rejected:
        level = HandleRejected();
        break;
    case wmevent::Selected:
        level = HandleSelected();
        break;
    case wmevent::NewSelection:
        level = HandleNewSelection();
        break;
    case wmevent::AlertKey:
        if (HISTORYKEY && EVENT.keyCode == HISTORYKEY) RecallFieldHistory(WINDOW.focusedControl());
        break;
    default:
        break;
    }
    if (level != LevelNone) return level;
    if (EVENT.control != 0) {
        level = HandleFieldEvent();
        if (level != LevelNone) return level;
    }
    for (WindowBrowse* b : BROWSES)
        if (b->HandleEvent(EVENT) == LevelFatal) return LevelFatal;
    for (WindowFileDrop* d : FILEDROPS)
        if (d->HandleEvent(EVENT) == LevelFatal) return LevelFatal;
    if (AUTOREFRESH)
        for (WindowBrowse* b : BROWSES)
            if (b->ReloadNeeded()) Reset(false);
    return LevelNone;
}

Level WindowManager::HandleFieldEvent() {
    return LevelNone;
}
Level WindowManager::HandleNewSelection() {
    return LevelNone;
}
Level WindowManager::HandleRejected() {
    return LevelNone;
}
Level WindowManager::HandleSelected() {
    return LevelNone;
}

Level WindowManager::HandleWindowEvent() {
    switch (event()) {
    case wmevent::OpenWindow:
        if (!(INITED & 1)) Opened();
        if (FIRSTFIELD) WINDOW.select(FIRSTFIELD);
        break;
    case wmevent::LoseFocus:
        if (RESETONGAINFOCUS) FORCEDRESET = 1;
        break;
    case wmevent::GainFocus:
        if (INITED & 1)
            Reset(false);
        else
            Opened();
        // The frame's toolbar shows what this window can do now that it is the active one.
        if (TOOLBAR) TOOLBAR->ShowToolbarState();
        break;
    case wmevent::Sized:
        // The controls take their new places first, so that a list reloads with its new length.
        if (RESIZE) RESIZE->HandleSized();
        if (INITED & 2)
            Reset(false);
        else
            INITED |= 2; // the size event of the opening itself
        break;
    case wmevent::Completed:
        return HandleCompleted();
    case wmevent::CloseWindow:
    case wmevent::CloseDown:
        return HandleCloseEvent();
    default:
        break;
    }
    return LevelNone;
}

void WindowManager::Update() {
    for (WindowBrowse* b : BROWSES) b->SyncViewRecord();
}

void WindowManager::AddItem(WindowBrowse* browse) {
    if (!browse) return;
    BROWSES.push_back(browse);
    if (REQUEST == RequestSelect) browse->SetSelecting(true);
}

void WindowManager::AddItem(int control, int response) {
    BUTTONS.push_back({control, response});
}

void WindowManager::AddItem(WindowFileDrop* drop) {
    if (drop) FILEDROPS.push_back(drop);
}

void WindowManager::AddItem(WindowResize* resizer) {
    RESIZE = resizer;
}
void WindowManager::AddItem(ToolbarManager* toolbar) {
    TOOLBAR = toolbar;
    if (toolbar && toolbar->window() != this) toolbar->Init(*this);
}

void WindowManager::AddItem(ToolbarTarget* target) {
    if (!target) return;
    if (HISTORYKEY) target->HISTORY = 1;
    target->REQUEST = ORIGINALREQUEST;
    if (!TOOLBAR) return; // without a toolbar there are no buttons to show
    TOOLBAR->AddToolbarTarget(target, target->CONTROL);
    TOOLBAR->SetToolbarTarget(target->CONTROL);
}

void WindowManager::AddSavedFile(FileManager& file) {
    FILES.push_back({&file, 0});
}

void WindowManager::AddFieldHistory(int control, const FieldRef& field) {
    HISTORY.push_back({control, field, field.valid() ? field.get() : Value()});
}

} // namespace sorv::fw
