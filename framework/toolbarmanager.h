// The toolbar manager and its targets. The frame's toolbar buttons (2000 to 2012) reach the
// active window's thread as accepted events; the window's toolbar manager hands them to its
// current target, a browse (one per list) or a form, which turns each button into what the
// window's own controls do. The current target also sets the buttons' tips and enabled states
// for its mode.
//
// Each window owns its toolbar manager: windows run on threads of their own, and a manager
// shared between them would hand one window's button to another window's target. The frame's
// buttons show the state of whichever window last asked (the active one, on every reset).
#pragma once
#include "windowing/window.h"

#include <cstdint>
#include <vector>

namespace sorv::fw {

class WindowManager;
class PopupManager;

// The toolbar's buttons.
namespace toolbutton {
enum : int {
    Insert = 2000,
    Change = 2001,
    Delete = 2002,
    Select = 2003,
    Last = 2004,
    First = 2005,
    PageDown = 2006,
    PageUp = 2007,
    Next = 2008,
    Previous = 2009,
    Locate = 2010,
    History = 2011,
    Help = 2012,
};
constexpr bool isButton(int control) {
    return control >= Insert && control <= Help;
}
} // namespace toolbutton

class ToolbarTarget {
public:
    // Fields in declaration order.
    std::int32_t CONTROL = 0; // the list box of a browse target, 0 for a form
    std::int32_t HELPBUTTON = 0;
    std::int32_t INSERTBUTTON = 0;
    std::int32_t CHANGEBUTTON = 0;
    std::int32_t DELETEBUTTON = 0;
    std::int32_t SELECTBUTTON = 0;
    std::uint8_t REQUEST = 0; // a form target's request
    std::uint8_t HISTORY = 0; // 1 when the form has a history key

    virtual ~ToolbarTarget() = default;

    // Operations in slot order.
    // Sets the toolbar's tips and enabled states for this target and redisplays the buttons.
    virtual void ShowToolbarState() = 0;
    // The target takes over the toolbar: its state is shown.
    virtual void HandleToolbarButton();
    // 1 when the target can take the toolbar now (its list has the focus; a form always can).
    virtual std::uint8_t TryHandleToolbarButton();
    // Handles the window's accepted toolbar button (its current event).
    virtual void HandleEvent(std::int32_t* vcrRequest, WindowManager& window) = 0;

    // The window the target belongs to and the window whose toolbar it drives; set when the
    // target is registered with a toolbar manager.
    WindowManager* window = nullptr;
    win::Window bar;

protected:
    void setTip(int button, const char* tip);
    void setEnabled(int button, bool on);
    // True when `control` is a control of the window, shown and enabled.
    bool usable(int control) const;
};

// The browse target: the buttons scroll the list and stand for the window's buttons.
class BrowseToolbarTarget : public ToolbarTarget {
public:
    void ShowToolbarState() override;
    void HandleEvent(std::int32_t* vcrRequest, WindowManager& window) override;

protected:
    void setBrowseTips();
};

// The form target: insert and the navigation buttons save the record and have the calling
// browse move by them; the rest as for a browse.
class FormToolbarTarget : public BrowseToolbarTarget {
public:
    void ShowToolbarState() override;
    std::uint8_t TryHandleToolbarButton() override { return 1; }
    void HandleEvent(std::int32_t* vcrRequest, WindowManager& window) override;
};

class ToolbarManager {
public:
    struct Entry {
        ToolbarTarget* target = nullptr;
        std::int32_t control = 0;
    };
    // Fields in declaration order.
    std::vector<Entry> LIST;

    virtual ~ToolbarManager() = default;

    // Binds the manager to its window and to the window whose toolbar it drives (the frame when
    // none is given).
    void Init(WindowManager& window, win::Window bar = {});

    // Operations in slot order.
    virtual void ShowToolbarState();
    virtual void Kill();
    // Hands the window's accepted toolbar button to the current target.
    virtual void HandleEvent(int control);

    void AddToolbarTarget(ToolbarTarget* target, int control);
    // 0: the target whose TryHandleToolbarButton answers 1; otherwise the target of that control.
    // The new current target shows its state.
    void SetToolbarTarget(int control);
    // Removes a target (its window closes); the current one falls back to another.
    void RemoveToolbarTarget(ToolbarTarget* target);
    // Adds items for the toolbar's navigation buttons to a popup.
    void AddToPopup(PopupManager& popup);

    ToolbarTarget* current() const { return current_; }
    WindowManager* window() const { return window_; }

private:
    WindowManager* window_ = nullptr;
    win::Window bar_;
    ToolbarTarget* current_ = nullptr;
};

} // namespace sorv::fw
