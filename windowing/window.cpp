// Windows as program threads hold them: opening, the event loop, posting, bound variables, and
// every control and window operation carried to the desktop.
#include "windowing/window.h"
#include "windowing/desktop.h"
#include "windowing/gui_call.h"
#include "windowing/gui_window.h"
#include "windowing/threads.h"

#include "runtime/errors.h"
#include "runtime/picture.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

struct Bound {
    FieldRef use;
    std::string picture;
    std::string type;
};

// What the owning thread keeps of each of its windows.
struct ProgramWindow {
    bool modal = false;
    std::map<int, Bound> bound;
};
thread_local std::map<int, ProgramWindow> tWindows;

// Which thread each open window belongs to, so that anyone can post to it.
std::mutex ownersMutex;
std::map<int, std::weak_ptr<ThreadState>> owners;
std::atomic<int> nextId{1};
// Set while the frame closes and after it has: the thread that closes it, -1 otherwise. A window
// another thread opens meanwhile is told to close down as it opens.
std::atomic<int> frameClosingSlot{-1};

std::string formatValue(const Value& v, const std::string& picture, const std::string& type) {
    if (type == "CHECK") return v.toLong() != 0 ? "1" : "0";
    if (!picture.empty()) return FORMAT(v, picture);
    std::string t = v.toText();
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

// A string picture on an entry keeps the typed text (DEFORMAT would keep only a number of it);
// what a text field takes is cut by the field itself.
Value readValue(const std::string& text, const std::string& picture) {
    if (picture.empty() || compilePicture(picture)->kind == PictureKind::String) return Value(text);
    return DEFORMAT(text, picture);
}

const char* refusalOf(const std::string& picture) {
    switch (compilePicture(picture)->kind) {
    case PictureKind::Date:
        return "is not a valid date";
    case PictureKind::Time:
        return "is not a valid time";
    default:
        return "is not a valid number";
    }
}

std::shared_ptr<ThreadState> ownerOf(int id) {
    std::lock_guard g(ownersMutex);
    auto it = owners.find(id);
    return it == owners.end() ? nullptr : it->second.lock();
}

void forget(int id) {
    {
        std::lock_guard g(ownersMutex);
        owners.erase(id);
    }
    tWindows.erase(id);
    if (auto state = currentThreadState()) {
        std::erase(state->windows, id);
        state->queue.discard(id);
    }
}

QAction* actionOf(GuiWindow* w, int number) {
    if (!w) return nullptr;
    auto it = w->actions.find(number);
    return it == w->actions.end() ? nullptr : it->second;
}

template <class F> auto withControl(int window, int control, F f) {
    return onGui([&] {
        GuiWindow* w = guiWindow(window);
        Control* c = w ? w->control(control) : nullptr;
        return f(w, c);
    });
}

} // namespace

void programStarts() {
    frameClosingSlot = -1;
}

void closeThreadWindowsAtEnd(int) {
    auto state = currentThreadState();
    std::vector<int> ids;
    if (state) ids = state->windows;
    for (auto& [id, w] : tWindows)
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    if (!ids.empty())
        onGui([&] {
            for (auto it = ids.rbegin(); it != ids.rend(); ++it) destroyGuiWindow(*it);
        });
    for (int id : ids) forget(id);
    tWindows.clear();
}

bool Window::open(std::string_view resourceName) {
    auto design = buildWindowResource(resourceName);
    if (!design) {
        setError(err::EntryNotFound, "Window resource not found: " + std::string(resourceName));
        id_ = 0;
        return false;
    }
    if (design->help.empty()) design->help = std::string(resourceName);
    return open(*design);
}

bool Window::open(const WindowSpec& design) {
    auto state = currentThreadState();
    id_ = 0;
    if (!desktopRunning()) {
        setError(err::UnsupportedFunction, "No desktop to open a window on");
        return false;
    }
    const int id = nextId++;
    const int mySlot = currentSlot();
    bool made = onGui([&] {
        auto w = std::make_unique<GuiWindow>(id, state, design);
        GuiWindow* raw = w.get();
        guiWindows()[id] = std::move(w);
        if (!raw->build()) {
            destroyGuiWindow(id);
            return false;
        }
        raw->opened = true;
        raw->post(makeEvent(event::OpenWindow));
        if (design.kind == WindowKind::Frame)
            frameClosingSlot = -1;
        else if (const int closing = frameClosingSlot; closing >= 0 && closing != mySlot)
            raw->post(makeEvent(event::CloseDown));
        // The window has taken its size: procedures count this first size event as the opening's
        // own, so that the user's first resize is the one that reloads their lists.
        raw->post(makeEvent(event::Sized));
        return true;
    });
    if (!made) {
        setError(err::InvalidParameterCount, "A control of the window cannot be made");
        return false;
    }
    id_ = id;
    {
        std::lock_guard g(ownersMutex);
        owners[id] = state;
    }
    ProgramWindow& pw = tWindows[id];
    pw.modal = design.modal;
    for (const ControlSpec& c : design.controls)
        if (c.use.valid()) pw.bound[c.number] = Bound{c.use, c.picture, c.type};
    if (state) state->windows.push_back(id);
    display();
    return true;
}

void Window::close() {
    if (!id_) return;
    const int id = id_;
    if (onGui([&] {
            GuiWindow* w = guiWindow(id);
            return w && w->frame;
        }))
        closeDownOthers(id);
    onGui([&] { destroyGuiWindow(id); });
    forget(id);
}

void Window::closeDownOthers(int frameId) {
    // The windows of other threads are asked to close down while the frame still stands, so that
    // their procedures end (and keep their places) before the frame goes; the program end waits
    // for those threads, so a window left open here would keep the program from ending.
    const int me = currentSlot();
    frameClosingSlot = me;
    auto others = [&] {
        return onGui([&] {
            std::vector<std::pair<int, std::shared_ptr<ThreadState>>> out;
            for (auto& [id, w] : guiWindows())
                if (id != frameId && w->owner && w->ownerSlot != me) out.emplace_back(id, w->owner);
            return out;
        });
    };
    // Every window is told once, also one that opens while the others close (a procedure started
    // just before); one whose thread ended closes with it; one that refuses keeps the program
    // waiting, as the program end would anyway.
    std::set<int> told;
    auto tell = [&](const std::vector<std::pair<int, std::shared_ptr<ThreadState>>>& open) {
        for (auto& [id, owner] : open)
            if (told.insert(id).second) owner->queue.post(makeEvent(event::CloseDown, 0, id));
    };
    auto open = others();
    tell(open);
    if (open.empty()) return;
    LockReleased waiting;
    while (!(open = others()).empty()) {
        tell(open);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Window::isOpen() const {
    if (!id_) return false;
    std::lock_guard g(ownersMutex);
    return owners.count(id_) != 0;
}

bool Window::accept(Event& e) {
    return takeEvent(e, true);
}

bool Window::poll(Event& e) {
    return takeEvent(e, false);
}

bool Window::userWaiting(int control) const {
    auto owner = ownerOf(id_);
    return owner && owner->queue.userWaiting(id_, control);
}

bool Window::takeEvent(Event& e, bool wait) {
    if (!isOpen()) return false;
    auto state = currentThreadState();
    if (!state || tWindows.count(id_) == 0) return false; // only the owner takes a window's events
    // Events posted to the thread as a whole go to the window opened last.
    bool newest = !state->windows.empty() && state->windows.back() == id_;
    if (wait) {
        e = state->queue.take(id_, newest);
    } else {
        std::optional<Event> waiting = state->queue.poll(id_, newest);
        if (!waiting) return false;
        e = std::move(*waiting);
    }
    e.window = id_;
    if (e.code == event::Accepted && e.hasText) {
        auto& bound = tWindows[id_].bound;
        if (auto it = bound.find(e.control); it != bound.end()) {
            // Text the control's picture cannot read is refused: the variable keeps its value.
            if (pictureAccepts(e.text, it->second.picture))
                it->second.use.set(readValue(e.text, it->second.picture));
            else
                e.code = event::Rejected;
        }
    }
    return true;
}

void Window::defaultAction(const Event& e) {
    if (e.code == event::CloseWindow || e.code == event::CloseDown) close();
    if (e.code == event::Rejected && e.control) {
        auto& bound = tWindows[id_].bound;
        auto it = bound.find(e.control);
        const std::string shown = std::string(clipRight(text(e.control)));
        beep();
        if (it != bound.end())
            message("\"" + shown + "\" " + refusalOf(it->second.picture) + ".", "Invalid Entry",
                    icon::Exclamation);
        select(e.control);
    }
}

int Window::refusedControl() const {
    auto it = tWindows.find(id_);
    if (it == tWindows.end()) return 0;
    for (auto& [number, b] : it->second.bound)
        if (b.type == "ENTRY" && !pictureAccepts(text(number), b.picture)) return number;
    return 0;
}

int Window::controlOf(const FieldRef& field) const {
    auto it = tWindows.find(id_);
    if (it == tWindows.end()) return 0;
    for (auto& [number, b] : it->second.bound)
        if (b.use == field) return number;
    return 0;
}

void Window::post(int code, int control) const {
    auto owner = ownerOf(id_);
    if (!owner) return;
    owner->queue.post(makeEvent(code, control, id_));
}

void Window::postToThread(int slot, int code, int control) {
    if (auto state = threadState(slot)) state->queue.post(makeEvent(code, control, 0));
}

void Window::display() {
    auto it = tWindows.find(id_);
    if (it == tWindows.end()) return;
    std::vector<std::pair<int, QString>> texts;
    for (auto& [number, b] : it->second.bound)
        texts.emplace_back(number, qs(formatValue(b.use.get(), b.picture, b.type)));
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w) return;
        for (auto& [number, text] : texts)
            if (Control* c = w->control(number)) c->setText(text);
    });
}

void Window::display(int control) {
    auto it = tWindows.find(id_);
    if (it == tWindows.end()) return;
    auto b = it->second.bound.find(control);
    if (b == it->second.bound.end()) return;
    setText(control, formatValue(b->second.use.get(), b->second.picture, b->second.type));
}

void Window::update(int control) {
    auto it = tWindows.find(id_);
    if (it == tWindows.end()) return;
    auto b = it->second.bound.find(control);
    if (b == it->second.bound.end()) return;
    b->second.use.set(readValue(text(control), b->second.picture));
}

void Window::setText(int control, const std::string& text) {
    withControl(id_, control, [&](GuiWindow*, Control* c) {
        if (c) c->setText(qs(text));
    });
}

std::string Window::text(int control) const {
    return withControl(id_, control,
                       [&](GuiWindow*, Control* c) { return c ? c->text().toStdString() : std::string(); });
}

void Window::setProperty(int control, int property, const std::string& value) {
    withControl(id_, control, [&](GuiWindow* w, Control* c) {
        if (c) return c->setProperty(property, qs(value));
        // Menu items and tool buttons answer the properties they share with controls.
        QAction* a = actionOf(w, control);
        if (!a) return;
        if (property == prop::Tip) {
            a->setToolTip(qs(value));
            a->setStatusTip(qs(value));
        } else if (property == prop::Disable) {
            a->setEnabled(value != "1");
        } else if (property == prop::Hide) {
            a->setVisible(value != "1");
        }
    });
}

std::string Window::property(int control, int property) const {
    return withControl(id_, control, [&](GuiWindow* w, Control* c) {
        if (c) return c->property(property).toStdString();
        QAction* a = actionOf(w, control);
        if (!a) return std::string();
        switch (property) {
        case prop::Tip:
            return a->toolTip().toStdString();
        case prop::Disable:
            return std::string(a->isEnabled() ? "0" : "1");
        case prop::Hide:
            return std::string(a->isVisible() ? "0" : "1");
        default:
            return std::string();
        }
    });
}

void Window::setData(int control, std::shared_ptr<const ControlData> data) {
    withControl(id_, control, [&](GuiWindow*, Control* c) {
        if (c) c->setData(std::move(data));
    });
}

void Window::select(int control) {
    withControl(id_, control, [&](GuiWindow*, Control* c) {
        if (c) c->focus();
    });
}

int Window::focusedControl() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w) return 0;
        QWidget* f = QApplication::focusWidget();
        for (auto& [n, c] : w->controls)
            if (f && (c->widget() == f || c->widget()->isAncestorOf(f))) return n;
        return 0;
    });
}

void Window::hide(int control, bool hidden) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w) return;
        if (Control* c = w->control(control))
            c->widget()->setVisible(!hidden);
        else if (QAction* a = actionOf(w, control))
            a->setVisible(!hidden);
    });
}

void Window::enable(int control, bool enabled) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w) return;
        if (Control* c = w->control(control))
            c->widget()->setEnabled(enabled);
        else if (QAction* a = actionOf(w, control))
            a->setEnabled(enabled);
    });
}

void Window::addAlertKey(int key, int control) {
    const int id = id_;
    onGui([&] {
        if (GuiWindow* w = guiWindow(id)) w->addAlertKey(key, control);
    });
}

bool Window::hasControl(int control) const {
    return withControl(id_, control, [&](GuiWindow*, Control* c) { return c != nullptr; });
}

Rect Window::controlRect(int control) const {
    return withControl(id_, control, [&](GuiWindow*, Control* c) { return c ? c->at() : Rect{}; });
}

void Window::setControlRect(int control, const Rect& at) {
    withControl(id_, control, [&](GuiWindow*, Control* c) {
        if (c) c->place(at);
    });
}

void Window::setControlRects(const std::vector<std::pair<int, Rect>>& places) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->content) return;
        const bool held = w->content->updatesEnabled();
        w->content->setUpdatesEnabled(false);
        for (const auto& [number, at] : places)
            if (Control* c = w->control(number)) c->place(at);
        w->content->setUpdatesEnabled(held);
    });
}

std::vector<ControlInfo> Window::controls() const {
    const int id = id_;
    return onGui([&] {
        std::vector<ControlInfo> out;
        GuiWindow* w = guiWindow(id);
        if (!w) return out;
        for (const ControlSpec& c : w->design.controls)
            if (w->control(c.number)) out.push_back({c.number, c.type, c.parent});
        return out;
    });
}

std::string Window::caption() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        return w && w->top ? w->top->windowTitle().toStdString() : std::string();
    });
}

void Window::setCaption(const std::string& caption) {
    const int id = id_;
    onGui([&] {
        if (GuiWindow* w = guiWindow(id); w && w->top) {
            w->top->setWindowTitle(qs(caption));
            w->top->setAccessibleName(qs(caption));
        }
    });
}

Rect Window::rect() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->top) return Rect{};
        QSize size = w->frame ? w->frame->size() : w->content->size();
        // A top-level window's place is its client area's, as setRect takes it: the window
        // manager's frame around it is not ours to count (it differs between desktops and is
        // not known before the window is shown), so stored places never creep.
        QPoint at = w->top->isWindow() ? w->top->geometry().topLeft() : w->top->pos();
        return Rect{pixelsToDialog(at.x(), w->xMul, w->xDiv), pixelsToDialog(at.y(), w->yMul, w->yDiv),
                    pixelsToDialog(size.width(), w->xMul, w->xDiv),
                    pixelsToDialog(size.height(), w->yMul, w->yDiv)};
    });
}

namespace {

// A top-level window placed off every screen (a place stored on a larger or another desktop) is
// brought back onto the nearest one, whole where it fits; one whose title bar would lie above the
// screen's top is moved down, so that it can always be grabbed. `want` is the client area with the
// window manager's frame around it.
QRect onScreen(QRect want) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty()) return want;
    QScreen* best = nullptr;
    long long bestArea = -1;
    for (QScreen* s : screens) {
        QRect common = s->availableGeometry().intersected(want);
        long long area = common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
        if (area > bestArea) {
            best = s;
            bestArea = area;
        }
    }
    const QRect avail = best->availableGeometry();
    if (bestArea > 0 && want.top() >= avail.top()) return want;
    want.setSize(want.size().boundedTo(avail.size()));
    want.moveLeft(std::clamp(want.left(), avail.left(), avail.right() + 1 - want.width()));
    want.moveTop(std::clamp(want.top(), avail.top(), avail.bottom() + 1 - want.height()));
    return want;
}

} // namespace

void Window::setRect(const Rect& at) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->top) return;
        if (w->top->isWindow()) {
            QRect want = w->top->geometry();
            if (at.x >= 0 && at.y >= 0) want.moveTopLeft(QPoint(w->toPixelsX(at.x), w->toPixelsY(at.y)));
            if (at.width > 0 && at.height > 0)
                want.setSize(QSize(w->toPixelsX(at.width), w->toPixelsY(at.height)));
            // The frame the window manager puts around it, or room for a title bar and borders
            // while it is not known yet (the window was just shown).
            const QRect outer = w->top->frameGeometry(), inner = w->top->geometry();
            QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                           outer.right() - inner.right(), outer.bottom() - inner.bottom());
            if (frame.top() <= 0) frame = QMargins(4, 30, 4, 4);
            w->top->setGeometry(onScreen(want.marginsAdded(frame)).marginsRemoved(frame));
            return;
        }
        if (at.x >= 0 && at.y >= 0) w->top->move(w->toPixelsX(at.x), w->toPixelsY(at.y));
        if (at.width > 0 && at.height > 0) {
            QSize client(w->toPixelsX(at.width), w->toPixelsY(at.height));
            if (w->frame || w->top == w->content) {
                w->top->resize(client);
            } else {
                QSize extra = w->top->size() - w->content->size();
                w->top->resize(client + extra);
            }
        }
    });
}

WindowState Window::state() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->top) return WindowState::Normal;
        if (w->top->windowState() & Qt::WindowMinimized) return WindowState::Iconized;
        if (w->top->windowState() & Qt::WindowMaximized) return WindowState::Maximized;
        return WindowState::Normal;
    });
}

void Window::setState(WindowState s) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->top) return;
        if (s == WindowState::Maximized)
            w->top->showMaximized();
        else if (s == WindowState::Iconized)
            w->top->showMinimized();
        else
            w->top->showNormal();
    });
}

Rect Window::designedRect() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        return w ? w->designed : Rect{};
    });
}

WindowState Window::designedState() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w) return WindowState::Normal;
        if (w->design.maximized) return WindowState::Maximized;
        if (w->design.iconized) return WindowState::Iconized;
        return WindowState::Normal;
    });
}

void Window::setSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->content) return;
        // The frame's size is its whole window (rect() measures it so); elsewhere the client area.
        QWidget* target = w->frame ? static_cast<QWidget*>(w->frame) : w->content.data();
        target->setMinimumSize(minWidth > 0 ? w->toPixelsX(minWidth) : 0,
                               minHeight > 0 ? w->toPixelsY(minHeight) : 0);
        target->setMaximumSize(maxWidth > 0 ? w->toPixelsX(maxWidth) : QWIDGETSIZE_MAX,
                               maxHeight > 0 ? w->toPixelsY(maxHeight) : QWIDGETSIZE_MAX);
    });
}

bool Window::resizable() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        return w && w->design.resizable;
    });
}

void Window::setStatus(const std::string& text) {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (w && w->statusLabel) w->statusLabel->setText(qs(text));
    });
}

void Window::toFront() {
    const int id = id_;
    onGui([&] {
        GuiWindow* w = guiWindow(id);
        if (!w || !w->top) return;
        w->top->raise();
        w->top->activateWindow();
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w->top.data()); sub && sub->mdiArea())
            sub->mdiArea()->setActiveSubWindow(sub);
    });
}

Window::Factors Window::factors() const {
    const int id = id_;
    return onGui([&] {
        GuiWindow* w = guiWindow(id);
        return w ? Factors{w->xMul, w->xDiv, w->yMul, w->yDiv} : Factors{};
    });
}

int Window::ownerThread() const {
    auto owner = ownerOf(id_);
    return owner ? owner->slot : -1;
}

std::vector<int> Window::threadWindows() {
    auto state = currentThreadState();
    return state ? state->windows : std::vector<int>{};
}

} // namespace sorv::win
