// The window resizer: moves and sizes a window's controls when the window is resized, by a
// position strategy and resize flags per control, from the window and controls as designed.
//
// What it keeps true:
// - Every new rectangle is computed from the designed one (BEFORE) and the designed window
//   (ORIGWIN), never from the previous resize, so growing and shrinking back returns every
//   control to exactly where it was designed.
// - Containers are placed before the controls on them (a control on a tab page is placed
//   relative to its sheet), and a control never gets a size below one dialog unit.
#pragma once
#include "framework/windowmanager.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorv::fw {

// Position strategies: the low byte is the horizontal rule, the high byte the vertical one. Any
// other value of a byte (0 included) moves the control proportionally along that axis.
namespace resize {
enum : std::uint16_t {
    // Horizontal.
    XProportional = 0,
    XFixed = 1,       // x stays as designed
    XFromRight = 2,   // keeps its distance to the right edge
    XFromLeft = 3,    // keeps its distance to the left edge
    XFromCentre = 4,  // keeps its place relative to the centre
    XNearestEdge = 5, // from the left or the right edge, whichever it is nearer
    // Vertical.
    YProportional = 0,
    YFixed = 0x100,
    YFromBottom = 0x200,
    YFromTop = 0x300,
    YFromCentre = 0x400,
    YNearestEdge = 0x500,
};
// Resize flags.
enum : std::uint16_t {
    LockWidth = 1,
    LockHeight = 2,
    KeepRightMargin = 4,
    KeepBottomMargin = 8,
};
} // namespace resize

// Window strategies (APPSTRATEGY): the default each control gets at Init.
enum AppStrategy : std::uint8_t {
    // Controls keep their designed rectangles; the window may still be given size limits.
    StrategyNone = 0,
    // Every control moves and scales with the window.
    StrategySpread = 1,
    // Lists, texts, sheets and groups grow with the window; buttons keep their size and their
    // nearest edges; other controls keep their size, their left distance and their nearest
    // vertical edge (so what sits under a growing list moves down with the bottom).
    StrategyResize = 2,
    // Every control keeps its size and its place relative to the centre (a dialog).
    StrategyCentre = 3,
};

struct ResizeRect {
    std::int32_t XPOS = 0;
    std::int32_t YPOS = 0;
    std::int32_t WIDTH = 0;
    std::int32_t HEIGHT = 0;
    friend bool operator==(const ResizeRect&, const ResizeRect&) = default;
};

struct ResizeWindow {
    std::int32_t XPOS = 0;
    std::int32_t YPOS = 0;
    std::int32_t WIDTH = 0;
    std::int32_t HEIGHT = 0;
    std::uint8_t MAXIMIZED = 0;
    std::uint8_t ICONIZED = 0;
};

// A control's strategy (entry of CONTROLQUEUE).
struct ControlStrategy {
    std::int32_t CONTROLID = 0;
    std::uint16_t POSITIONALSTRATEGY = 0;
    std::uint16_t RESIZESTRATEGY = 0;
};

// A control's geometry (entry of RESIZELIST).
struct ResizeEntry {
    std::int32_t PRIORITY = 0; // placed in rising order: containers first
    std::int32_t CONTROLID = 0;
    std::string TYPE;
    ResizeRect BEFORE;
    ResizeRect AFTER;
};

// The new rectangle of a control designed at `before` (control coordinates) in a window
// designed as `designed` and now `now` (their XPOS and YPOS are the origins of the client areas
// in control coordinates). A width or height of 0 (natural size) stays 0.
ResizeRect ResizeControl(const ResizeRect& designed, const ResizeRect& now, const ResizeRect& before,
                         std::uint16_t strategy, std::uint16_t flags);
// The strategy and flags a control of `type` gets from a window strategy.
ControlStrategy DefaultStrategy(std::uint8_t appStrategy, const std::string& type);

class WindowResizer : public WindowResize {
public:
    // Fields in declaration order.
    std::uint8_t APPSTRATEGY = StrategyResize;
    // Prompts drawn without a background of their own: the desktop draws them so always, so
    // the flag is kept for procedures that set it and changes nothing.
    std::uint8_t AUTOTRANSPARENT = 0;
    ResizeWindow ORIGWIN;
    std::vector<ControlStrategy> CONTROLQUEUE;
    // 1: every control is placed in one call to the desktop with drawing held until all moved
    // (no half-moved window is ever shown); 0: one call per control.
    std::uint8_t DEFERMOVES = 1;
    ResizeRect PREVIOUSWIN;
    std::uint8_t RESIZECALLED = 0; // 1 while Resize runs: a size event it causes is not followed
    std::vector<ResizeEntry> RESIZELIST;

    WindowResizer() = default;
    // A resizer that goes before its window leaves the window manager first.
    ~WindowResizer() override { Kill(); }
    WindowResizer(const WindowResizer&) = delete;
    WindowResizer& operator=(const WindowResizer&) = delete;

    // Registers with the window manager (for EVENT:Sized and to be killed when the window
    // closes), snapshots the designed window and every control, gives every control the default
    // of `strategy` and places them for the window's current size. With setMinSize / setMaxSize the designed
    // size is the least / greatest size the window can be given.
    void Init(WindowManager& window, std::uint8_t strategy = StrategyResize, bool setMinSize = false,
              bool setMaxSize = false);
    void Kill() override;
    // Takes the window and every control as they are now as the new design (after the program
    // moved controls itself); controls met for the first time get the default strategy.
    void Reset();
    // Places every control for the window's current size.
    void Resize();
    // The strategy and flags of one control; the next Resize applies them.
    void SetControlStrategy(int control, std::uint16_t strategy, std::uint16_t flags);
    // The designed state and size of the window (its position kept) and every control's
    // designed rectangle.
    void RestoreControlGeometry();

    void HandleSized() override;
    bool registered() const { return window_ != nullptr; }

private:
    void snapshot(bool designed);
    ControlStrategy* strategyOf(int control);
    WindowManager* window_ = nullptr;
};

} // namespace sorv::fw
