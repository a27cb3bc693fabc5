// The window manager: every window procedure is one. It opens the procedure's window (in the
// procedure's own Init), runs its event loop, hands each event to its own window and field
// handling and then to the browse managers and file drop lists registered with it, in the order
// of registration, and closes everything once. Companions register through small interfaces so
// that the browse layer, the toolbar and the resizer can join without this file knowing them.
//
// An update form is a window manager run with a request on its PRIMARY file. Its protocol:
// PrepareUpdate (from the procedure's Init, after its files are open and before its window
// opens) keeps the linking values and the buffers of FILES, deletes at once for DELETEACTION 2
// and 4, and saves the record as it stands in SAVED; OK validates the whole form (pictures, then
// the file manager's field validation) and only then posts EVENT:Completed, which saves by
// HandleCompleted; a close other than by a completed request goes through HandleCloseEvent,
// which asks about changes (CANCELACTION), gives back a reserved automatic number and, after
// records were added with add-another, leaves the last one added in the buffer as done.
// Invariant: while the form is open SAVED names the copy that "changed" is measured against, and
// every entry of FILES holds a saved copy; Kill drops them all without restoring them.
#pragma once
#include "framework/levels.h"
#include "runtime/field.h"
#include "runtime/value.h"
#include "windowing/events.h"
#include "windowing/window.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorv::fw {

class ErrorManager;
class FileManager;
class RelationManager;
class ToolbarManager;
class ToolbarTarget;
class WindowManager;

// Requests a procedure is called with, and its responses.
enum Request : std::uint8_t {
    RequestInsert = 1,
    RequestChange = 2,
    RequestDelete = 3,
    RequestSelect = 4,
    RequestReport = 5
};
enum Response : std::uint8_t { ResponseDone = 1, ResponseCancelled = 2 };

// The window manager's numbering of events: the code less 0x1400.
namespace wmevent {
enum : int {
    Accepted = 1,
    NewSelection = 2,
    AlertKey = 15,
    Rejected = 0x1A,
    Selected = 0x101,
    CloseWindow = 0x201,
    CloseDown = 0x202,
    OpenWindow = 0x203,
    LoseFocus = 0x205,
    GainFocus = 0x206,
    Completed = 0x225,
    Sized = 0x231,
};
}

// What the window manager asks of a browse manager.
class WindowBrowse {
public:
    virtual ~WindowBrowse() = default;
    // The window's current event; a LevelFatal answer ends the event loop.
    virtual Level HandleEvent(const win::Event& e) = 0;
    virtual bool ReloadNeeded() = 0;
    // Whether the browse's reset conditions changed since its order was last applied (the order
    // chosen, its list's length, range or reset fields, a load still pending): a window reset
    // that is not forced does its work only then.
    virtual bool ResetNeeded() = 0;
    // The sort reset of a window reset: the browse applies the order in force.
    virtual void ResetSort(bool force) = 0;
    virtual void RefreshWindowControls() = 0;
    virtual void SyncViewRecord() = 0;
    virtual void SetAlerts() = 0;
    virtual void SetSelecting(bool selecting) = 0;
    virtual void Kill() = 0;
};

// What it asks of a file drop list.
class WindowFileDrop {
public:
    virtual ~WindowFileDrop() = default;
    virtual Level HandleEvent(const win::Event& e) = 0;
    virtual void ResetQueue(bool force) = 0;
    virtual void Kill() = 0;
};

// What it asks of the window resizer: to place the controls after EVENT:Sized, and to end.
class WindowResize {
public:
    virtual ~WindowResize() = default;
    virtual void HandleSized() = 0;
    virtual void Kill() = 0;
};

class Translator {
public:
    virtual ~Translator() = default;
    virtual void TranslateWindow(win::Window& window) = 0;
};

struct ButtonResponse {
    int control = 0;
    int response = 0;
};

// Another file the form updates, with the identifier of its buffer as the form was prepared.
struct SavedFileEntry {
    FileManager* file = nullptr;
    std::uint16_t id = 0;
};

struct HistoryEntry {
    int control = 0;
    FieldRef field;
    Value saved;
};

class WindowManager {
public:
    // Fields in declaration order.
    std::uint8_t AUTOREFRESH = 1;
    std::uint8_t AUTOTOOLBAR = 1;
    std::vector<WindowBrowse*> BROWSES;
    std::vector<ButtonResponse> BUTTONS;
    std::vector<WindowFileDrop*> FILEDROPS;
    std::uint8_t CANCELACTION = 3;
    std::uint8_t CHANGEACTION = 1;
    std::uint8_t DEAD = 0;
    std::uint8_t DELETEACTION = 2;
    ErrorManager* ERRORS = nullptr;
    std::vector<SavedFileEntry> FILES;
    std::int32_t FIRSTFIELD = 0;
    std::uint8_t FORCEDRESET = 0;
    std::uint8_t RESETONGAINFOCUS = 0;
    std::vector<HistoryEntry> HISTORY;
    std::int32_t HISTORYKEY = 0;
    std::uint8_t INITED = 0;
    std::uint8_t INSERTACTION = 2;
    std::string LASTINSERTEDPOSITION;
    std::int32_t OKCONTROL = 0;
    std::uint8_t OPENED = 0;
    std::uint8_t ORIGINALREQUEST = 0;
    RelationManager* PRIMARY = nullptr;
    std::uint8_t REQUEST = 0;
    WindowResize* RESIZE = nullptr;
    std::uint8_t RESPONSE = 0;
    std::uint16_t SAVED = 0;
    ToolbarManager* TOOLBAR = nullptr;
    Translator* TRANSLATOR = nullptr;
    std::int32_t* VCRREQUEST = nullptr;

    // The procedure's window (opened by the procedure's Init) and the event being handled.
    win::Window WINDOW;
    win::Event EVENT;

    virtual ~WindowManager() = default;

    // Operations in slot order.
    virtual void Ask();
    virtual Level Init();
    virtual void Kill();
    virtual void Opened();
    virtual void PrimeNewRecord();
    virtual Level PrepareUpdate();
    virtual void Reset(bool force = false);
    virtual void RecallFieldHistory(int control);
    virtual int Run();
    virtual int Run(int number, int request);
    virtual void RegisterAlertKeys();
    virtual void SetResult(int response);
    virtual Level HandleAccepted();
    virtual Level HandleCompleted();
    virtual Level HandleCloseEvent();
    virtual Level HandleEvent();
    virtual Level HandleFieldEvent();
    virtual Level HandleNewSelection();
    virtual Level HandleRejected();
    virtual Level HandleSelected();
    virtual Level HandleWindowEvent();
    virtual void Update();

    // Registration.
    void AddItem(WindowBrowse* browse);
    void AddItem(int control, int response); // a button that ends the window with a response
    void AddItem(WindowFileDrop* drop);
    void AddItem(WindowResize* resizer);
    void AddItem(ToolbarManager* toolbar);
    void AddItem(ToolbarTarget* target);
    // Another file the form updates; PrepareUpdate saves its buffer.
    void AddSavedFile(FileManager& file);
    void AddFieldHistory(int control, const FieldRef& field);

    // The whole-form validation of OK: every entry's picture, then the primary file's field
    // validation; a refusal selects its control and answers false.
    virtual bool ValidateForm();

    // The current event in the framework's numbering, its control and key code.
    int event() const { return win::frameworkNumber(EVENT.code); }
    int field() const { return EVENT.control; }
    int keyCode() const { return EVENT.keyCode; }

private:
    ErrorManager* errors() const;
    void selectFirstField();
    void keepHistory();
    Level completeInsert();
    Level completeChange();
    Level returnToRecord();
    Level completeDelete();
    // A change form's record as it was prepared: its position, so that a read of the table
    // meanwhile (a lookup in a form run from this one) cannot send the write elsewhere.
    std::string keptPosition_;
};

} // namespace sorv::fw
