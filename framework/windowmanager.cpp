// The window manager's event loop, dispatch, resets and life cycle.
#include "framework/windowmanager.h"
#include "framework/toolbarmanager.h"

#include <algorithm>

namespace sorv::fw {

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
        if (f.file) f.file->DiscardSaved(f.id);
    FILES.clear();
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
    for (const ButtonResponse& b : BUTTONS)
        if (b.control == control) {
            SetResult(b.response);
            return LevelNotify;
        }
    if (OKCONTROL && control == OKCONTROL) {
        // Insert and change forms validate the whole form first, which ends in EVENT:Completed;
        // the desktop's validation is done by the time the event is seen, so both post it now.
        WINDOW.post(win::event::Completed);
    }
    return LevelNone;
}

Level WindowManager::HandleCompleted() {
    return LevelNone;
}
Level WindowManager::HandleCloseEvent() {
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

void WindowManager::AddSavedFile(SavedFile* file, std::uint16_t id) {
    FILES.push_back({file, id});
}

void WindowManager::AddFieldHistory(int control, const FieldRef& field) {
    HISTORY.push_back({control, field, field.valid() ? field.get() : Value()});
}

} // namespace sorv::fw
