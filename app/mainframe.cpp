// The main frame: caption, menu and toolbar, the notes window on every start, toolbar
// forwarding, and the frame's place kept under "Main".
#include "app/mainframe.h"

#include "app/frametables.h"
#include "app/globals.h"
#include "framework/inimanager.h"
#include "framework/windowplacement.h"
#include "windowing/desktop.h"
#include "windowing/threads.h"

#include <functional>
#include <mutex>

namespace sorv::app {

const char* const AppFrameResource = "sorvdemo$SORVD001|P1$APPFRAME";

namespace {

win::WindowSpec appFrameSpec() {
    win::WindowSpec design;
    design.kind = win::WindowKind::Frame;
    design.caption = "B4/B5 Sorvex Demo...";
    design.icon = iconPath("SORVDEMO.ICO"); // the child windows show it too
    design.font = {"MS Sans Serif", 8};
    design.resizable = true;
    design.at = {-1, -1, 520, 340};
    design.menus = frameMenus();
    design.toolbar = frameToolbar();
    return design;
}

std::mutex observerMutex;
std::function<void(int, int)> buttonObserver;

void tellButtonObserver(int control, int forwardedTo) {
    std::function<void(int, int)> o;
    {
        std::lock_guard g(observerMutex);
        o = buttonObserver;
    }
    if (o) o(control, forwardedTo);
}

// The frame's window manager.
class FrameManager : public fw::WindowManager {
public:
    fw::Level Init() override {
        fw::Level level = openProcedureWindow(*this, AppFrameResource, 1);
        if (level != fw::LevelNone) return level;
        // The frame's toolbar buttons are forwarded in HandleAccepted; the toolbar manager that
        // drives a child's browse or form registers with that child, not here.
        fw::WindowPlacement place(WINDOW);
        fw::iniManager().Fetch("Main", place);
        RegisterAlertKeys();
        return fw::LevelNone;
    }
    void Kill() override {
        if (DEAD) return;
        if (OPENED) {
            fw::WindowPlacement place(WINDOW);
            fw::iniManager().Update("Main", place);
        }
        WindowManager::Kill();
    }
    fw::Level HandleWindowEvent() override {
        // The notes open on every start exactly as if chosen from the Help menu.
        if (event() == fw::wmevent::OpenWindow) WINDOW.post(win::event::Accepted, menu::Notes);
        return WindowManager::HandleWindowEvent();
    }
    fw::Level HandleAccepted() override {
        const int control = EVENT.control;
        if (isToolbarButton(control)) {
            tellButtonObserver(control, forwardToolbarButton(control));
            return fw::LevelNotify;
        }
        startMenuProcedure(control);
        return WindowManager::HandleAccepted();
    }
};

} // namespace

void registerFrameWindow() {
    initResources();
    win::registerWindowResource(AppFrameResource, appFrameSpec);
}

int forwardToolbarButton(int control) {
    int slot = win::activeChildThread();
    // The frame's own thread would hand the button straight back to the frame, which would post
    // it again for ever; with no started child the button is dropped.
    if (slot < 1 || slot >= win::ThreadSlots || slot == win::currentSlot() || !win::threadState(slot))
        return -1;
    win::Window::postToThread(slot, win::event::Accepted, control);
    return slot;
}

int startMenuProcedure(int control) {
    const MenuProcedure* p = menuProcedure(control);
    if (!p || !p->procedure) return -1;
    auto procedure = p->procedure;
    return win::startProcedure([procedure](const std::string&) { procedure(); }, p->stackSize);
}

void Main() {
    FrameManager frame;
    GlobalResponse = static_cast<std::uint8_t>(frame.Run());
}

void setToolbarButtonObserver(std::function<void(int control, int forwardedTo)> observer) {
    std::lock_guard g(observerMutex);
    buttonObserver = std::move(observer);
}

} // namespace sorv::app
