// A window as program code holds it: a small handle (the window id) whose operations run on the
// desktop through callGui. A window belongs to the thread that opened it; its events arrive in that
// thread's queue and `accept` hands them out one at a time, in order, giving the runtime lock up
// while it waits. Controls are addressed by number.
#pragma once
#include "runtime/field.h"
#include "windowing/control.h"
#include "windowing/events.h"
#include "windowing/window_spec.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorv::win {

enum class WindowState { Normal, Maximized, Iconized };

// A control as the window holds it: its number, type ("LIST") and container (0 for the window).
struct ControlInfo {
    int number = 0;
    std::string type;
    int parent = 0;
};

class Window {
public:
    Window() = default;
    explicit Window(int id) : id_(id) {}

    // Opens the window on the calling thread; false (and nothing open) when it cannot be made:
    // no desktop, an unknown resource, an unknown control type.
    bool open(const WindowSpec& design);
    bool open(std::string_view resourceName);
    // Closes it (its waiting events are dropped). Closing a closed window does nothing. Closing
    // the frame first posts EVENT:CloseDown to every window of other threads and waits, with the
    // runtime lock given up, until they have closed.
    void close();
    bool isOpen() const;
    int id() const { return id_; }
    explicit operator bool() const { return id_ != 0; }

    // The next event of this window, once the previous one has been handled. False when the window
    // is closed. A modal window's loop leaves its thread's other windows' events waiting.
    bool accept(Event& e);
    // The next event of this window when one is waiting, without waiting (a long job asks between
    // its steps whether the user pressed its "Cancel"). False when none is waiting or it is closed.
    bool poll(Event& e);
    // Whether the user acted on a control of this window (a key press, click or scroll the
    // desktop posted) and the event waits to be taken: long work on the window's thread stops
    // for it. Nothing is taken.
    bool userWaiting(int control) const;
    // What the runtime does with an event unless the handler answered that it handled it: a close
    // request closes the window; an entry whose text its picture refused (EVENT:Rejected, posted
    // in place of EVENT:Accepted and leaving the variable as it was) is said to be invalid, with a
    // beep, and selected again.
    void defaultAction(const Event& e);
    // The whole-form check of the pictures: the first entry whose shown text its picture refuses,
    // 0 when every one reads.
    int refusedControl() const;
    // The first control bound to a variable, 0 for none.
    int controlOf(const FieldRef& field) const;
    // Posts an event to this window (control 0: a window event) or to another thread.
    void post(int code, int control = 0) const;
    static void postToThread(int slot, int code, int control = 0);

    // Copies every bound variable into its control (FORMAT through the control's picture; an
    // accepted edit comes back through DEFORMAT).
    void display();
    void display(int control);
    // Reads an edited control back into its variable (an accepted event does this by itself).
    void update(int control);

    void setText(int control, const std::string& text);
    std::string text(int control) const;
    // A menu item or tool button of the window (no control of that number) answers the tip, the
    // disabled and the hidden property.
    void setProperty(int control, int property, const std::string& value);
    std::string property(int control, int property) const;
    void setData(int control, std::shared_ptr<const ControlData> data);
    void select(int control); // keyboard focus
    int focusedControl() const;
    void hide(int control, bool hidden = true);
    void enable(int control, bool enabled = true);
    bool hasControl(int control) const;
    // A key (a Qt key combination) that posts EVENT:AlertKey while the window (control 0) or the
    // control has the focus.
    void addAlertKey(int key, int control = 0);
    // Rectangle of a control in dialog units of the window.
    Rect controlRect(int control) const;
    void setControlRect(int control, const Rect& at);
    // Places many controls in one go, in the order given (containers before what sits on them),
    // with the window's drawing held until all have moved.
    void setControlRects(const std::vector<std::pair<int, Rect>>& places);
    // Every control in design order.
    std::vector<ControlInfo> controls() const;

    std::string caption() const;
    void setCaption(const std::string& caption);
    // Position and size of the window in dialog units (its client area for the size).
    Rect rect() const;
    void setRect(const Rect& at);
    WindowState state() const;
    void setState(WindowState state);
    // The window as designed: position, client size (resolved where the design left it to the
    // controls) and the designed state.
    Rect designedRect() const;
    WindowState designedState() const;
    // Least and greatest client size in dialog units; a width or height of 0 is no limit.
    void setSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight);
    bool resizable() const;
    void setStatus(const std::string& text); // the frame's status bar
    void toFront();
    // Dialog unit factors of the window's font: pixels = units * mul / div.
    struct Factors {
        int xMul = 1, xDiv = 1, yMul = 1, yDiv = 1;
    };
    Factors factors() const;
    // The slot of the thread that owns the window, -1 when not open.
    int ownerThread() const;
    // The windows the calling thread has open, oldest first.
    static std::vector<int> threadWindows();

private:
    static void closeDownOthers(int frameId);
    bool takeEvent(Event& e, bool wait);
    int id_ = 0;
};

} // namespace sorv::win
