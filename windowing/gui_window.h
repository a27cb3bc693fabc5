// The desktop's side of an open window (GUI thread only): its widgets, controls and owner, and the
// table of open windows by id. Private to this layer.
#pragma once
#include "windowing/control.h"
#include "windowing/threads.h"
#include "windowing/window_spec.h"

#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <map>
#include <memory>

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QAction;
class QLabel;
class QMenu;

namespace sorv::win {

class GuiWindow : public ControlHost {
public:
    GuiWindow(int id, std::shared_ptr<ThreadState> owner, WindowSpec design);
    ~GuiWindow() override;

    // Builds the widgets and controls and shows the window; false when a control cannot be made.
    bool build();
    // Sends an event to the owner (only once the window is open, so building posts nothing).
    void post(Event e) override;
    QWidget* containerFor(int parent) override;
    int toPixelsX(int units) const override { return dialogToPixels(units, xMul, xDiv); }
    int toPixelsY(int units) const override { return dialogToPixels(units, yMul, yDiv); }
    const QFont& font() const override { return font_; }
    Control* control(int number) override;
    void addAlertKey(int key, int control);

    int id;
    int ownerSlot;
    std::shared_ptr<ThreadState> owner;
    WindowSpec design;
    QPointer<QWidget> top;     // the frame, the MDI subwindow or the top-level window
    QPointer<QWidget> content; // the client area the controls sit on
    QMainWindow* frame = nullptr;
    QMdiArea* mdi = nullptr;
    QLabel* statusLabel = nullptr;
    std::map<int, QAction*> actions; // menu items and tool buttons by number
    QAction* cutAction = nullptr;    // the frame's standard edit items
    QAction* copyAction = nullptr;
    QAction* pasteAction = nullptr;
    std::map<int, std::unique_ptr<Control>> controls;
    std::vector<int> order; // control numbers in design order
    int xMul = 1, xDiv = 4, yMul = 1, yDiv = 8;
    bool opened = false;
    Rect designed;  // position and client size in dialog units as built
    QSize lastSize; // what the last size event told, so that a show at the same size tells nothing
    QPoint lastPos;
    bool closing = false; // the program closes it: no close request of its own

    // The frame's Cut, Copy and Paste follow what the focused control can take; its toolbar
    // buttons are all disabled until the active window's browse or form enables its own.
    void updateEditActions();
    void disableToolbar();

private:
    void buildFrame();
    void orderTabs();
    void buildMenu(QMenu* menu, const std::vector<MenuItem>& items);
    QFont font_;
};

// The open windows (GUI thread only).
std::map<int, std::unique_ptr<GuiWindow>>& guiWindows();
GuiWindow* guiWindow(int id);
// Destroys a window without any event.
void destroyGuiWindow(int id);
// A program thread's end: its windows go without events (runs on that thread).
void closeThreadWindowsAtEnd(int slot);
// A program starts on the desktop: no frame is closing.
void programStarts();
// The frame, if one is open.
GuiWindow* guiFrame();

} // namespace sorv::win
