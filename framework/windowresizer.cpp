// The window resizer: the geometry rules, the default strategies by control kind, and the
// snapshots and placing of a window's controls.
#include "framework/windowresizer.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace sorv::fw {

namespace {

struct Axis {
    double pos = 0;
    double size = 0;
};

// One axis of the rules: W and W2 the designed and current extents, o the current origin, x
// and w the control as designed, dx its offset from the designed origin.
Axis place(double W, double W2, double o, double x, double w, double dx, int rule, bool lock,
           bool keepMargin) {
    const double s = W > 0 ? W2 / W : 1.0;
    Axis a;
    if (rule == 5) rule = dx < W - dx - w ? 3 : 2;
    switch (rule) {
    case 1:
        a.pos = x;
        break;
    case 2: {
        double r = W - dx;
        if (!lock) r *= s;
        a.pos = o + W2 - r;
        break;
    }
    case 3:
        a.pos = o + dx;
        break;
    case 4: {
        double c = W / 2 - dx;
        if (!lock) c *= s;
        a.pos = o + W2 / 2 - c;
        break;
    }
    default:
        // Proportional: the offset scales, the origin does not (client coordinates start at 0,
        // where this is the same as scaling the whole position).
        a.pos = o + dx * s;
        break;
    }
    if (keepMargin)
        a.size = (o + W2) - (W - dx - w) - a.pos;
    else
        a.size = lock ? w : w * s;
    return a;
}

std::int32_t rounded(double v) {
    return static_cast<std::int32_t>(std::lround(v));
}

int ruleOf(std::uint16_t strategyByte) {
    return strategyByte >= 1 && strategyByte <= 5 ? strategyByte : 0;
}

} // namespace

ResizeRect ResizeControl(const ResizeRect& designed, const ResizeRect& now, const ResizeRect& before,
                         std::uint16_t strategy, std::uint16_t flags) {
    ResizeRect out;
    const int h = ruleOf(strategy & 0xFF), v = ruleOf(strategy >> 8);
    // A natural size stays natural: there is no designed extent to scale or keep a margin by.
    const bool naturalW = before.WIDTH <= 0, naturalH = before.HEIGHT <= 0;
    Axis x =
        place(designed.WIDTH, now.WIDTH, now.XPOS, before.XPOS, before.WIDTH, before.XPOS - designed.XPOS, h,
              (flags & resize::LockWidth) || naturalW, (flags & resize::KeepRightMargin) && !naturalW);
    Axis y =
        place(designed.HEIGHT, now.HEIGHT, now.YPOS, before.YPOS, before.HEIGHT, before.YPOS - designed.YPOS,
              v, (flags & resize::LockHeight) || naturalH, (flags & resize::KeepBottomMargin) && !naturalH);
    out.XPOS = rounded(x.pos);
    out.YPOS = rounded(y.pos);
    // A window shrunk below a control's margins would give it no size at all, which the desktop
    // reads as "natural size": the control keeps one unit instead.
    out.WIDTH = naturalW ? 0 : std::max(1, rounded(x.size));
    out.HEIGHT = naturalH ? 0 : std::max(1, rounded(y.size));
    return out;
}

ControlStrategy DefaultStrategy(std::uint8_t appStrategy, const std::string& type) {
    using namespace resize;
    ControlStrategy s;
    switch (appStrategy) {
    case StrategyNone:
        s.POSITIONALSTRATEGY = XFixed | YFixed;
        s.RESIZESTRATEGY = LockWidth | LockHeight;
        break;
    case StrategySpread:
        s.POSITIONALSTRATEGY = XProportional | YProportional;
        s.RESIZESTRATEGY = 0;
        break;
    case StrategyCentre:
        s.POSITIONALSTRATEGY = XFromCentre | YFromCentre;
        s.RESIZESTRATEGY = LockWidth | LockHeight;
        break;
    default:
        if (type == "LIST" || type == "TEXT" || type == "SHEET" || type == "TAB" || type == "GROUP" ||
            type == "IMAGE" || type == "REGION") {
            s.POSITIONALSTRATEGY = XFromLeft | YFromTop;
            s.RESIZESTRATEGY = KeepRightMargin | KeepBottomMargin;
        } else if (type == "BUTTON" || type == "CHECK" || type == "RADIO" || type == "OPTION") {
            s.POSITIONALSTRATEGY = XNearestEdge | YNearestEdge;
            s.RESIZESTRATEGY = LockWidth | LockHeight;
        } else {
            s.POSITIONALSTRATEGY = XFromLeft | YNearestEdge;
            s.RESIZESTRATEGY = LockWidth | LockHeight;
        }
        break;
    }
    return s;
}

void WindowResizer::Init(WindowManager& window, std::uint8_t strategy, bool setMinSize, bool setMaxSize) {
    window_ = &window;
    APPSTRATEGY = strategy;
    CONTROLQUEUE.clear();
    RESIZELIST.clear();
    snapshot(true);
    window.AddItem(static_cast<WindowResize*>(this));
    if (setMinSize || setMaxSize) {
        const int w = ORIGWIN.WIDTH, h = ORIGWIN.HEIGHT;
        window.WINDOW.setSizeLimits(setMinSize ? w : 0, setMinSize ? h : 0, setMaxSize ? w : 0,
                                    setMaxSize ? h : 0);
    }
    // A window opened maximized, or given its size before the resizer came, is placed at once.
    Resize();
}

void WindowResizer::Kill() {
    if (!window_) return;
    if (window_->RESIZE == this) window_->RESIZE = nullptr;
    window_ = nullptr;
    CONTROLQUEUE.clear();
    RESIZELIST.clear();
}

void WindowResizer::snapshot(bool designed) {
    win::Window& w = window_->WINDOW;
    const win::Rect at = designed ? w.designedRect() : w.rect();
    const win::WindowState state = designed ? w.designedState() : w.state();
    ORIGWIN = {at.x,
               at.y,
               at.width,
               at.height,
               std::uint8_t(state == win::WindowState::Maximized),
               std::uint8_t(state == win::WindowState::Iconized)};
    PREVIOUSWIN = {at.x, at.y, at.width, at.height};
    const std::vector<win::ControlInfo> controls = w.controls();
    std::map<int, int> parentOf;
    for (const win::ControlInfo& c : controls) parentOf[c.number] = c.parent;
    RESIZELIST.clear();
    for (const win::ControlInfo& c : controls) {
        ResizeEntry e;
        e.CONTROLID = c.number;
        e.TYPE = c.type;
        // The depth of nesting: a container is placed before what sits on it.
        for (int p = c.parent, guard = 0; p != 0 && guard < 64; p = parentOf[p], ++guard) ++e.PRIORITY;
        const win::Rect r = w.controlRect(c.number);
        e.BEFORE = {std::max(0, r.x), std::max(0, r.y), r.width, r.height};
        e.AFTER = e.BEFORE;
        RESIZELIST.push_back(e);
        if (!strategyOf(c.number)) {
            ControlStrategy s = DefaultStrategy(APPSTRATEGY, c.type);
            s.CONTROLID = c.number;
            CONTROLQUEUE.push_back(s);
        }
    }
    std::stable_sort(RESIZELIST.begin(), RESIZELIST.end(),
                     [](const ResizeEntry& a, const ResizeEntry& b) { return a.PRIORITY < b.PRIORITY; });
}

void WindowResizer::Reset() {
    if (window_) snapshot(false);
}

ControlStrategy* WindowResizer::strategyOf(int control) {
    for (ControlStrategy& s : CONTROLQUEUE)
        if (s.CONTROLID == control) return &s;
    return nullptr;
}

void WindowResizer::SetControlStrategy(int control, std::uint16_t strategy, std::uint16_t flags) {
    ControlStrategy* s = strategyOf(control);
    if (!s) {
        CONTROLQUEUE.push_back({control, 0, 0});
        s = &CONTROLQUEUE.back();
    }
    s->POSITIONALSTRATEGY = strategy;
    s->RESIZESTRATEGY = flags;
}

void WindowResizer::Resize() {
    if (!window_ || RESIZECALLED) return;
    win::Window& w = window_->WINDOW;
    // An iconized window's size says nothing about where its controls belong.
    if (w.state() == win::WindowState::Iconized) return;
    if (ORIGWIN.WIDTH <= 0 || ORIGWIN.HEIGHT <= 0) return;
    RESIZECALLED = 1;
    const win::Rect now = w.rect();
    // Control rectangles are in client coordinates: both origins are 0 there.
    const ResizeRect designed{0, 0, ORIGWIN.WIDTH, ORIGWIN.HEIGHT};
    const ResizeRect current{0, 0, now.width, now.height};
    std::vector<std::pair<int, win::Rect>> places;
    for (ResizeEntry& e : RESIZELIST) {
        const ControlStrategy* s = strategyOf(e.CONTROLID);
        if (!s) continue;
        e.AFTER = ResizeControl(designed, current, e.BEFORE, s->POSITIONALSTRATEGY, s->RESIZESTRATEGY);
        const win::Rect r{e.AFTER.XPOS, e.AFTER.YPOS, e.AFTER.WIDTH, e.AFTER.HEIGHT};
        if (DEFERMOVES)
            places.emplace_back(e.CONTROLID, r);
        else
            w.setControlRect(e.CONTROLID, r);
    }
    if (!places.empty()) w.setControlRects(places);
    PREVIOUSWIN = {now.x, now.y, now.width, now.height};
    RESIZECALLED = 0;
}

void WindowResizer::RestoreControlGeometry() {
    if (!window_) return;
    win::Window& w = window_->WINDOW;
    if (ORIGWIN.MAXIMIZED)
        w.setState(win::WindowState::Maximized);
    else if (ORIGWIN.ICONIZED)
        w.setState(win::WindowState::Iconized);
    else {
        if (w.state() != win::WindowState::Normal) w.setState(win::WindowState::Normal);
        w.setRect({-1, -1, ORIGWIN.WIDTH, ORIGWIN.HEIGHT});
    }
    std::vector<std::pair<int, win::Rect>> places;
    for (ResizeEntry& e : RESIZELIST) {
        e.AFTER = e.BEFORE;
        places.emplace_back(e.CONTROLID,
                            win::Rect{e.BEFORE.XPOS, e.BEFORE.YPOS, e.BEFORE.WIDTH, e.BEFORE.HEIGHT});
    }
    w.setControlRects(places);
    const win::Rect now = w.rect();
    PREVIOUSWIN = {now.x, now.y, now.width, now.height};
}

void WindowResizer::HandleSized() {
    Resize();
}

} // namespace sorv::fw
