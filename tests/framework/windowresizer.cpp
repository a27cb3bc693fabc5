// The window resizer: the geometry rules against a table of designed and resized rectangles, and
// a real window on the offscreen desktop whose controls (and browse) follow its size.
#include "framework/windowresizer.h"

#include "browse_rig.h"
#include "tests/windowing/harness.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::fw;
using namespace sorv::fw::resize;
using sorv::test::runWithDesktop;

namespace {

struct Case {
    const char* what;
    ResizeRect before;
    std::uint16_t strategy, flags;
    ResizeRect after;
};

// A window designed 200 x 100 grown to 300 x 150: both scales are 1.5.
constexpr ResizeRect Designed{0, 0, 200, 100}, Grown{0, 0, 300, 150};

TEST(ResizeRules, GrownWindowTable) {
    const Case cases[] = {
        {"x fixed, size scaled", {20, 10, 40, 20}, XFixed | YFixed, 0, {20, 10, 60, 30}},
        {"x fixed, size locked", {20, 10, 40, 20}, XFixed | YFixed, LockWidth | LockHeight, {20, 10, 40, 20}},
        {"from the right, scaled distance", {20, 10, 40, 20}, XFromRight | YFromBottom, 0, {30, 15, 60, 30}},
        {"from the right, locked",
         {20, 10, 40, 20},
         XFromRight | YFromBottom,
         LockWidth | LockHeight,
         {120, 60, 40, 20}},
        {"from the left", {20, 10, 40, 20}, XFromLeft | YFromTop, LockWidth | LockHeight, {20, 10, 40, 20}},
        {"from the centre, scaled", {20, 10, 40, 20}, XFromCentre | YFromCentre, 0, {30, 15, 60, 30}},
        {"from the centre, locked",
         {20, 10, 40, 20},
         XFromCentre | YFromCentre,
         LockWidth | LockHeight,
         {70, 35, 40, 20}},
        {"nearest edge: left and top",
         {20, 10, 40, 20},
         XNearestEdge | YNearestEdge,
         LockWidth | LockHeight,
         {20, 10, 40, 20}},
        {"nearest edge: right and bottom",
         {150, 70, 40, 20},
         XNearestEdge | YNearestEdge,
         LockWidth | LockHeight,
         {250, 120, 40, 20}},
        {"proportional", {20, 10, 40, 20}, XProportional | YProportional, 0, {30, 15, 60, 30}},
        {"an unknown rule is proportional",
         {20, 10, 40, 20},
         9 | 0x900,
         LockWidth | LockHeight,
         {30, 15, 40, 20}},
        {"margins kept from the top left",
         {20, 10, 40, 20},
         XFromLeft | YFromTop,
         KeepRightMargin | KeepBottomMargin,
         {20, 10, 140, 70}},
        {"margins kept from the right edge",
         {20, 10, 40, 20},
         XFromRight | YFromBottom,
         LockWidth | LockHeight | KeepRightMargin | KeepBottomMargin,
         {120, 60, 40, 20}},
        {"a natural size stays natural",
         {20, 10, 0, 0},
         XFromLeft | YFromTop,
         KeepRightMargin | KeepBottomMargin,
         {20, 10, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResizeControl(Designed, Grown, c.before, c.strategy, c.flags), c.after) << c.what;
}

TEST(ResizeRules, ShrunkWindowsAndTheDesignedSize) {
    const ResizeRect shrunk{0, 0, 100, 50};
    // Halved: a right-anchored button keeps its distance, a margin-kept list cannot go below 1.
    EXPECT_EQ(
        ResizeControl(Designed, shrunk, {150, 70, 40, 20}, XFromRight | YFromBottom, LockWidth | LockHeight),
        (ResizeRect{50, 20, 40, 20}));
    EXPECT_EQ(ResizeControl(Designed, shrunk, {20, 10, 40, 20}, XFromLeft | YFromTop,
                            KeepRightMargin | KeepBottomMargin),
              (ResizeRect{20, 10, 1, 1}));
    EXPECT_EQ(ResizeControl(Designed, {0, 0, 120, 90}, {20, 10, 40, 20}, XFromLeft | YFromTop,
                            KeepRightMargin | KeepBottomMargin),
              (ResizeRect{20, 10, 1, 10}));

    // At the designed size every rule and flag puts the control where it was designed.
    const ResizeRect at{37, 23, 41, 17};
    for (std::uint16_t h = 0; h <= 6; ++h)
        for (std::uint16_t v = 0; v <= 6; ++v)
            for (std::uint16_t f = 0; f < 16; ++f)
                EXPECT_EQ(ResizeControl(Designed, Designed, at, std::uint16_t(h | (v << 8)), f), at)
                    << "rule " << h << "/" << v << " flags " << f;
}

TEST(ResizeRules, DefaultsByKind) {
    ControlStrategy list = DefaultStrategy(StrategyResize, "LIST");
    EXPECT_EQ(list.RESIZESTRATEGY, KeepRightMargin | KeepBottomMargin);
    ControlStrategy button = DefaultStrategy(StrategyResize, "BUTTON");
    EXPECT_EQ(button.POSITIONALSTRATEGY, XNearestEdge | YNearestEdge);
    EXPECT_EQ(button.RESIZESTRATEGY, LockWidth | LockHeight);
    EXPECT_EQ(DefaultStrategy(StrategySpread, "BUTTON").POSITIONALSTRATEGY, XProportional | YProportional);
    EXPECT_EQ(DefaultStrategy(StrategyNone, "LIST").POSITIONALSTRATEGY, XFixed | YFixed);
}

constexpr int ListNo = 1, OkNo = 2, EntryNo = 3, SheetNo = 4, TabNo = 5, OnTabNo = 6;

struct Procedure : WindowManager {
    WindowResizer resizer;
    std::uint8_t strategy = StrategyResize;
    bool minSize = false;
    Level Init() override {
        Level l = WindowManager::Init();
        if (l != LevelNone) return l;
        win::WindowSpec design;
        design.caption = "Resized";
        design.at = {0, 0, 200, 120};
        design.add("LIST", ListNo, {4, 4, 150, 80}, "Rows").format = "40L(2)|M~A~@s10@";
        design.add("BUTTON", OkNo, {160, 4, 36, 14}, "&OK");
        design.add("ENTRY", EntryNo, {4, 100, 60, 10});
        if (!WINDOW.open(design)) return LevelFatal;
        resizer.Init(*this, strategy, minSize);
        return LevelNone;
    }
    // Hands the waiting events through the window manager.
    void pump() {
        WINDOW.post(win::event::Notify);
        win::Event e;
        while (WINDOW.accept(e)) {
            if (e.code == win::event::Notify && e.control == 0) return;
            EVENT = e;
            HandleEvent();
        }
    }
    void sizeTo(int width, int height) {
        WINDOW.setRect({-1, -1, width, height});
        pump();
    }
};

TEST(WindowResizer, ARealWindowMovesItsControls) {
    runWithDesktop([] {
        Procedure p;
        ASSERT_EQ(p.Init(), LevelNone);
        p.pump();
        EXPECT_EQ(p.RESIZE, &p.resizer) << "registered with the window manager";
        EXPECT_EQ(p.resizer.ORIGWIN.WIDTH, 200);
        EXPECT_EQ(p.resizer.ORIGWIN.HEIGHT, 120);
        ASSERT_EQ(p.resizer.RESIZELIST.size(), 3u);

        p.sizeTo(300, 170);
        EXPECT_EQ(p.WINDOW.controlRect(ListNo), (win::Rect{4, 4, 250, 130})) << "the list keeps its margins";
        EXPECT_EQ(p.WINDOW.controlRect(OkNo), (win::Rect{260, 4, 36, 14}))
            << "the button keeps its nearest edges";
        EXPECT_EQ(p.WINDOW.controlRect(EntryNo), (win::Rect{4, 150, 60, 10}))
            << "the entry moves with the bottom";
        EXPECT_EQ(p.resizer.PREVIOUSWIN.WIDTH, 300);

        // A control's own strategy, applied by the next resize.
        p.resizer.SetControlStrategy(OkNo, XProportional | YProportional, 0);
        p.sizeTo(400, 240);
        EXPECT_EQ(p.WINDOW.controlRect(OkNo), (win::Rect{320, 8, 72, 28}));

        // Back at the designed size every control is where it was designed.
        p.sizeTo(200, 120);
        EXPECT_EQ(p.WINDOW.controlRect(ListNo), (win::Rect{4, 4, 150, 80}));
        EXPECT_EQ(p.WINDOW.controlRect(OkNo), (win::Rect{160, 4, 36, 14}));

        p.sizeTo(260, 150);
        p.resizer.RestoreControlGeometry();
        p.pump();
        EXPECT_EQ(p.WINDOW.rect().width, 200);
        EXPECT_EQ(p.WINDOW.rect().height, 120);
        EXPECT_EQ(p.WINDOW.controlRect(EntryNo), (win::Rect{4, 100, 60, 10}));

        p.Kill();
        EXPECT_FALSE(p.resizer.registered()) << "the window manager kills it at close";
        EXPECT_EQ(p.RESIZE, nullptr);
    });
}

TEST(WindowResizer, MinimumSizeAndControlsOnATabPage) {
    runWithDesktop([] {
        struct TabProcedure : Procedure {
            Level Init() override {
                Level l = WindowManager::Init();
                if (l != LevelNone) return l;
                win::WindowSpec design;
                design.caption = "Tabs";
                design.at = {0, 0, 200, 120};
                design.add("SHEET", SheetNo, {4, 4, 192, 100});
                design.add("TAB", TabNo, {}, "First").parent = SheetNo;
                design.add("BUTTON", OnTabNo, {150, 80, 36, 14}, "&Go").parent = TabNo;
                if (!WINDOW.open(design)) return LevelFatal;
                resizer.Init(*this, StrategyResize, true);
                return LevelNone;
            }
        } p;
        ASSERT_EQ(p.Init(), LevelNone);
        p.pump();
        // The sheet is placed before the button on its page.
        ASSERT_EQ(p.resizer.RESIZELIST.size(), 3u);
        EXPECT_EQ(p.resizer.RESIZELIST[0].CONTROLID, SheetNo);
        EXPECT_EQ(p.resizer.RESIZELIST[2].CONTROLID, OnTabNo);

        p.sizeTo(100, 60);
        EXPECT_GE(p.WINDOW.rect().width, 199) << "the designed size is the least size";
        EXPECT_GE(p.WINDOW.rect().height, 119);

        p.sizeTo(260, 160);
        EXPECT_EQ(p.WINDOW.controlRect(SheetNo), (win::Rect{4, 4, 252, 140}));
        EXPECT_EQ(p.WINDOW.controlRect(OnTabNo), (win::Rect{210, 120, 36, 14}));
        p.Kill();
    });
}

TEST(WindowResizer, AGrownBrowseWindowReloadsWithTheLongerList) {
    runWithDesktop([] {
        browsetest::Rig rig(60, 10);
        ASSERT_TRUE(rig.opened);
        WindowResizer resizer;
        resizer.Init(rig.window);
        rig.start();
        ASSERT_EQ(rig.browse.LASTITEMS, 10);
        const int reloads = rig.browse.reloads;
        win::Rect at = rig.window.WINDOW.rect();
        rig.window.WINDOW.setRect({-1, -1, at.width, at.height + 60});
        rig.pump();
        EXPECT_GT(rig.browse.LASTITEMS, 10);
        EXPECT_EQ(rig.browse.LASTITEMS, rig.visibleRows());
        EXPECT_EQ(rig.ids().size(), static_cast<std::size_t>(rig.browse.LASTITEMS))
            << "a page of the new length";
        EXPECT_GT(rig.browse.reloads, reloads);
    });
}

} // namespace
