// The toolbar manager, the browse and form targets: their dispatch of the buttons, the tips by
// mode and the buttons enabled for a form's request.
#include "framework/toolbarmanager.h"

#include "framework/popupmanager.h"
#include "framework/windowmanager.h"
#include "windowing/control.h"
#include "windowing/desktop.h"
#include "windowing/events.h"
#include "windowing/help.h"

#include <algorithm>
#include <optional>

namespace sorv::fw {

namespace {

struct Tip {
    int button;
    const char* tip;
};

constexpr Tip browseTips[] = {
    {toolbutton::Insert, "Insert a new Record"},      {toolbutton::Last, "Go to the Last Page"},
    {toolbutton::First, "Go to the First Page"},      {toolbutton::PageDown, "Go to the Next Page"},
    {toolbutton::PageUp, "Go to the Prior Page"},     {toolbutton::Next, "Go to the Next Record"},
    {toolbutton::Previous, "Go to the Prior Record"},
};

constexpr Tip changeTips[] = {
    {toolbutton::Insert, "Save this record and add a new one"},
    {toolbutton::Last, "Save changes and go to last record"},
    {toolbutton::First, "Save changes and go to first record"},
    {toolbutton::PageDown, "Save changes and page down to record"},
    {toolbutton::PageUp, "Save changes and page up to record"},
    {toolbutton::Next, "Save changes and go to next record"},
    {toolbutton::Previous, "Save changes and go to previous record"},
};

constexpr Tip insertTips[] = {
    {toolbutton::Insert, "Save record and add another"},
    {toolbutton::Next, "Save record and add another"},
};

// The list event each navigation button stands for.
int scrollEventOf(int button) {
    switch (button) {
    case toolbutton::Last:
        return win::event::ScrollBottom;
    case toolbutton::First:
        return win::event::ScrollTop;
    case toolbutton::PageDown:
        return win::event::PageDown;
    case toolbutton::PageUp:
        return win::event::PageUp;
    case toolbutton::Next:
        return win::event::ScrollDown;
    case toolbutton::Previous:
        return win::event::ScrollUp;
    case toolbutton::Locate:
        return win::event::Locate;
    default:
        return 0;
    }
}

// Whether a form's request leaves a button enabled; nullopt where the request leaves the button
// as it was.
std::optional<bool> formButtonOn(int request, bool history, int button) {
    // Help opens whatever the request; a form has no list to locate in. Both are set, since the
    // frame's buttons start disabled whenever another window becomes the active one.
    if (button == toolbutton::Help) return true;
    if (button == toolbutton::Locate) return false;
    if (request == RequestInsert) {
        if (button == toolbutton::Insert || button == toolbutton::Next) return true;
        if (button >= toolbutton::Change && button <= toolbutton::Locate) return false;
    } else if (request == RequestChange) {
        if (button == toolbutton::Insert || (button >= toolbutton::Last && button <= toolbutton::Previous))
            return true;
        if (button >= toolbutton::Change && button <= toolbutton::Select) return false;
    } else {
        if (button >= toolbutton::Insert && button <= toolbutton::History) return false;
        return std::nullopt;
    }
    if (button == toolbutton::History) return history;
    return std::nullopt;
}

} // namespace

// ---- targets ----

void ToolbarTarget::HandleToolbarButton() {
    ShowToolbarState();
}

std::uint8_t ToolbarTarget::TryHandleToolbarButton() {
    return CONTROL && window && window->WINDOW.focusedControl() == CONTROL ? 1 : 0;
}

void ToolbarTarget::setTip(int button, const char* tip) {
    bar.setProperty(button, win::prop::Tip, tip);
}

void ToolbarTarget::setEnabled(int button, bool on) {
    bar.enable(button, on);
}

bool ToolbarTarget::usable(int control) const {
    if (!control || !window || !window->WINDOW.hasControl(control)) return false;
    const win::Window& w = window->WINDOW;
    return w.property(control, win::prop::Disable) != "1" && w.property(control, win::prop::Hide) != "1";
}

void BrowseToolbarTarget::setBrowseTips() {
    for (const Tip& t : browseTips) setTip(t.button, t.tip);
}

void BrowseToolbarTarget::ShowToolbarState() {
    setBrowseTips();
    // The buttons that stand for the window's own follow them, so that a button the window
    // disabled (Change with an empty list) cannot be pressed through the toolbar either.
    setEnabled(toolbutton::Insert, usable(INSERTBUTTON));
    setEnabled(toolbutton::Change, usable(CHANGEBUTTON));
    setEnabled(toolbutton::Delete, usable(DELETEBUTTON));
    setEnabled(toolbutton::Select, usable(SELECTBUTTON));
    for (int b = toolbutton::Last; b <= toolbutton::Locate; ++b) setEnabled(b, CONTROL != 0);
    setEnabled(toolbutton::History, false);
    setEnabled(toolbutton::Help, true);
}

void BrowseToolbarTarget::HandleEvent(std::int32_t*, WindowManager& w) {
    const int button = w.field();
    auto press = [&](int control) {
        if (usable(control)) w.WINDOW.post(win::event::Accepted, control);
    };
    switch (button) {
    case toolbutton::Select:
        if (SELECTBUTTON && !usable(SELECTBUTTON)) return;
        w.Update();
        w.RESPONSE = ResponseDone;
        w.WINDOW.post(win::event::CloseWindow);
        return;
    case toolbutton::Insert:
        return press(INSERTBUTTON);
    case toolbutton::Change:
        return press(CHANGEBUTTON);
    case toolbutton::Delete:
        return press(DELETEBUTTON);
    case toolbutton::Help:
        if (usable(HELPBUTTON))
            press(HELPBUTTON);
        else
            win::showWindowHelp(w.WINDOW.id());
        return;
    default:
        if (int ev = scrollEventOf(button); ev && CONTROL) w.WINDOW.post(ev, CONTROL);
        return;
    }
}

void FormToolbarTarget::ShowToolbarState() {
    if (REQUEST == RequestChange)
        for (const Tip& t : changeTips) setTip(t.button, t.tip);
    else if (REQUEST == RequestInsert)
        for (const Tip& t : insertTips) setTip(t.button, t.tip);
    for (int b = toolbutton::Insert; b <= toolbutton::Help; ++b)
        if (auto on = formButtonOn(REQUEST, HISTORY != 0, b)) setEnabled(b, *on);
}

void FormToolbarTarget::HandleEvent(std::int32_t* vcrRequest, WindowManager& w) {
    const int button = w.field();
    // A button the request disables does nothing, however its event came: a Select would
    // otherwise close the form as done without saving it.
    if (auto on = formButtonOn(REQUEST, HISTORY != 0, button); on && !*on) return;
    const bool navigation =
        button == toolbutton::Insert || (button >= toolbutton::Last && button <= toolbutton::Previous);
    if (!navigation) return BrowseToolbarTarget::HandleEvent(vcrRequest, w);
    if (vcrRequest) *vcrRequest = button;
    // The OK logic completes the form: validate, save, close; the calling browse then moves by
    // the request and asks the form again.
    if (w.OKCONTROL)
        w.WINDOW.post(win::event::Accepted, w.OKCONTROL);
    else
        w.WINDOW.post(win::event::Completed);
}

// ---- the manager ----

void ToolbarManager::Init(WindowManager& window, win::Window bar) {
    window_ = &window;
    bar_ = bar ? bar : win::Window(win::frameWindow());
    for (Entry& e : LIST) {
        e.target->window = window_;
        e.target->bar = bar_;
    }
}

void ToolbarManager::ShowToolbarState() {
    if (current_) current_->ShowToolbarState();
}

void ToolbarManager::Kill() {
    LIST.clear();
    current_ = nullptr;
}

void ToolbarManager::HandleEvent(int control) {
    if (current_ && window_ && toolbutton::isButton(control))
        current_->HandleEvent(window_->VCRREQUEST, *window_);
}

void ToolbarManager::AddToolbarTarget(ToolbarTarget* target, int control) {
    if (!target) return;
    target->window = window_;
    target->bar = bar_;
    LIST.push_back({target, control});
}

void ToolbarManager::SetToolbarTarget(int control) {
    ToolbarTarget* chosen = nullptr;
    for (const Entry& e : LIST) {
        if (control == 0 ? e.target->TryHandleToolbarButton() == 1 : e.control == control) {
            chosen = e.target;
            break;
        }
    }
    if (!chosen) return;
    current_ = chosen;
    current_->HandleToolbarButton();
}

void ToolbarManager::RemoveToolbarTarget(ToolbarTarget* target) {
    std::erase_if(LIST, [&](const Entry& e) { return e.target == target; });
    if (current_ == target) current_ = LIST.empty() ? nullptr : LIST.front().target;
}

void ToolbarManager::AddToPopup(PopupManager& popup) {
    // The navigation buttons as menu items: choosing one posts the button to the window, which
    // hands it to this manager like a press on the frame.
    static constexpr struct {
        int button;
        const char* text;
        const char* name;
    } items[] = {
        {toolbutton::First, "&First Page", "First"},
        {toolbutton::PageUp, "P&rior Page", "PriorPage"},
        {toolbutton::Previous, "&Prior Record", "PriorRecord"},
        {toolbutton::Next, "&Next Record", "NextRecord"},
        {toolbutton::PageDown, "Ne&xt Page", "NextPage"},
        {toolbutton::Last, "&Last Page", "Last"},
    };
    popup.AddItem("-", "Separator");
    for (const auto& i : items) {
        PopupItem item;
        item.CONTROLID = static_cast<std::int16_t>(i.button);
        item.EVENT = static_cast<std::uint16_t>(win::event::Accepted);
        item.NAME = i.name;
        item.TEXT = i.text;
        popup.AddItem(item);
    }
}

} // namespace sorv::fw
