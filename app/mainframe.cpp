// The main frame: caption, menu and toolbar, the notes window on every start, toolbar
// forwarding, and the frame's place kept under "Main".
#include "app/mainframe.h"

#include "app/frametables.h"
#include "app/procedure.h"
#include "framework/inimanager.h"
#include "framework/windowplacement.h"
#include "windowing/desktop.h"
#include "windowing/threads.h"

namespace sorv::app {

const char* const AppFrameResource = "sorvdemo$SORVD001|P1$APPFRAME";

namespace {

win::WindowSpec appFrameSpec() {
    win::WindowSpec spec;
    spec.kind = win::WindowKind::Frame;
    spec.caption = "B4/B5 Sorvex Demo...";
    spec.font = {"MS Sans Serif", 8};
    spec.resizable = true;
    spec.at = {-1, -1, 520, 340};
    spec.menus = frameMenus();
    spec.toolbar = frameToolbar();
    return spec;
}

class FrameWindow : public Procedure {
protected:
    bool openWindow() override { return window_.open(AppFrameResource); }
    void opened() override {
        opened_ = true;
        fw::WindowPlacement place(window_);
        fw::iniManager().Fetch("Main", place);
    }
    bool onWindowEvent(const win::Event& e) override {
        // The notes open on every start exactly as if chosen from the Help menu.
        if (e.code == win::event::OpenWindow) window_.post(win::event::Accepted, menu::Notes);
        return false;
    }
    void onAccepted(int control) override {
        if (isToolbarButton(control)) {
            forwardToolbarButton(control);
            return;
        }
        startMenuProcedure(control);
    }
    void closing() override {
        if (!opened_) return;
        fw::WindowPlacement place(window_);
        fw::iniManager().Update("Main", place);
    }

private:
    bool opened_ = false;
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
    FrameWindow frame;
    GlobalResponse = static_cast<std::uint8_t>(frame.Run() == 0 ? GlobalResponse : 2);
}

} // namespace sorv::app
