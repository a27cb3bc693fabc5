// The window manager: dispatch order, window events, resets, buttons, the loop and Kill, against
// a real window on the offscreen desktop.
#include "framework/windowmanager.h"
#include "framework/toolbarmanager.h"
#include "tests/windowing/harness.h"

#include "windowing/threads.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::fw;

namespace {

std::vector<std::string> journal;

struct TestBrowse : WindowBrowse {
    explicit TestBrowse(std::string n) : name(std::move(n)) {}
    std::string name;
    Level answer = LevelNone;
    bool reload = false;
    int sorts = 0, refreshes = 0, kills = 0, syncs = 0, alerts = 0;
    bool selecting = false, lastForce = false;
    Level HandleEvent(const win::Event& e) override {
        journal.push_back(name + ":" + std::to_string(win::frameworkNumber(e.code)));
        return answer;
    }
    bool ReloadNeeded() override { return std::exchange(reload, false); }
    bool ResetNeeded() override { return ReloadNeeded(); }
    void ResetSort(bool force) override {
        ++sorts;
        lastForce = force;
    }
    void RefreshWindowControls() override { ++refreshes; }
    void SyncViewRecord() override { ++syncs; }
    void SetAlerts() override { ++alerts; }
    void SetSelecting(bool on) override { selecting = on; }
    void Kill() override { ++kills; }
};

struct TestDrop : WindowFileDrop {
    int resets = 0, kills = 0;
    Level HandleEvent(const win::Event& e) override {
        journal.push_back("drop:" + std::to_string(win::frameworkNumber(e.code)));
        return LevelNone;
    }
    void ResetQueue(bool) override { ++resets; }
    void Kill() override { ++kills; }
};

// A procedure as the application writes one: its Init opens the window and registers companions.
struct TestProcedure : WindowManager {
    TestBrowse first{"b1"}, second{"b2"};
    TestDrop drop;
    Level fieldAnswer = LevelNone;
    int opened = 0, kills = 0, inits = 0;
    Level initAnswer = LevelNone;
    Level Init() override {
        ++inits;
        Level l = WindowManager::Init();
        if (l != LevelNone || initAnswer != LevelNone) return initAnswer;
        win::WindowSpec design;
        design.caption = "Procedure";
        design.at = {0, 0, 120, 60};
        design.add("ENTRY", 1, {4, 4, 60, 10}, "Name");
        design.add("BUTTON", 2, {4, 20, 40, 14}, "Close");
        design.add("BUTTON", 3, {50, 20, 40, 14}, "OK");
        if (!WINDOW.open(design)) return LevelFatal;
        AddItem(&first);
        AddItem(&second);
        AddItem(&drop);
        AddItem(2, ResponseDone);
        OKCONTROL = 3;
        return LevelNone;
    }
    void Opened() override {
        ++opened;
        WindowManager::Opened();
    }
    void Kill() override {
        if (!DEAD) ++kills;
        WindowManager::Kill();
    }
    Level HandleFieldEvent() override {
        journal.push_back("field:" + std::to_string(EVENT.control));
        return fieldAnswer;
    }
};

win::Event ev(int code, int control = 0) {
    return win::makeEvent(code, control, 0);
}

Level dispatch(WindowManager& wm, const win::Event& e) {
    wm.EVENT = e;
    return wm.HandleEvent();
}

} // namespace

TEST(WindowManager, DefaultsNumbersAndRegistration) {
    EXPECT_EQ(wmevent::Sized, win::frameworkNumber(win::event::Sized));
    EXPECT_EQ(wmevent::Completed, win::frameworkNumber(win::event::Completed));
    EXPECT_EQ(wmevent::Rejected, win::frameworkNumber(win::event::Rejected));
    EXPECT_EQ(wmevent::Selected, win::frameworkNumber(win::event::Selected));
    WindowManager wm;
    wm.REQUEST = RequestSelect;
    wm.INSERTACTION = 9;
    wm.CANCELACTION = 0;
    EXPECT_EQ(wm.Init(), LevelNone);
    EXPECT_EQ(wm.ORIGINALREQUEST, RequestSelect);
    EXPECT_EQ(wm.INSERTACTION, 2);
    EXPECT_EQ(wm.CANCELACTION, 3);
    EXPECT_EQ(wm.DELETEACTION, 2);
    EXPECT_EQ(wm.CHANGEACTION, 1);
    TestBrowse b("b");
    wm.AddItem(&b);
    EXPECT_TRUE(b.selecting) << "a select request makes its browses select";
    EXPECT_EQ(wm.Run(7, RequestInsert), ResponseCancelled);
    wm.Update();
    EXPECT_EQ(b.syncs, 1);
    wm.RegisterAlertKeys();
    EXPECT_EQ(b.alerts, 1);
}

TEST(WindowManager, DispatchOrderIsOwnHandlingThenBrowsesThenDrops) {
    TestProcedure wm;
    wm.WindowManager::Init();
    wm.AddItem(&wm.first);
    wm.AddItem(&wm.second);
    wm.AddItem(&wm.drop);
    journal.clear();
    EXPECT_EQ(dispatch(wm, ev(win::event::Accepted, 1)), LevelNone);
    EXPECT_EQ(journal, (std::vector<std::string>{"field:1", "b1:1", "b2:1", "drop:1"}));
    journal.clear();
    wm.fieldAnswer = LevelNotify; // a field handler's answer is returned at once
    EXPECT_EQ(dispatch(wm, ev(win::event::NewSelection, 1)), LevelNotify);
    EXPECT_EQ(journal, (std::vector<std::string>{"field:1"}));
    wm.fieldAnswer = LevelNone;
    journal.clear();
    wm.first.answer = LevelFatal; // a fatal browse answer ends the loop; later ones never see it
    EXPECT_EQ(dispatch(wm, ev(win::event::ScrollDown, 1)), LevelFatal);
    EXPECT_EQ(journal, (std::vector<std::string>{"field:1", "b1:4"}));
    wm.first.answer = LevelNone;
    // A browse that needs a reload after an event resets the window.
    wm.second.reload = true;
    int sorts = wm.first.sorts;
    dispatch(wm, ev(win::event::Accepted, 1));
    EXPECT_EQ(wm.first.sorts, sorts + 1);
    wm.AUTOREFRESH = 0;
    wm.second.reload = true;
    dispatch(wm, ev(win::event::Accepted, 1));
    EXPECT_EQ(wm.first.sorts, sorts + 1);
}

TEST(WindowManager, WindowEventsOpenResetAndSize) {
    TestProcedure wm;
    wm.WindowManager::Init();
    wm.AddItem(&wm.first);
    wm.AddItem(&wm.drop);
    // A gain of focus before the first reset opens, it does not reset.
    dispatch(wm, ev(win::event::GainFocus));
    EXPECT_EQ(wm.opened, 1);
    EXPECT_EQ(wm.first.sorts, 1);
    dispatch(wm, ev(win::event::OpenWindow));
    EXPECT_EQ(wm.opened, 1) << "already opened";
    // Later resets work only when a browse's conditions changed.
    dispatch(wm, ev(win::event::GainFocus));
    EXPECT_EQ(wm.first.sorts, 1);
    EXPECT_EQ(wm.first.refreshes, 1);
    wm.first.reload = true;
    dispatch(wm, ev(win::event::GainFocus));
    EXPECT_EQ(wm.opened, 1);
    EXPECT_EQ(wm.first.sorts, 2);
    // The first size event after opening does nothing, later ones reset.
    wm.first.reload = true;
    dispatch(wm, ev(win::event::Sized));
    EXPECT_EQ(wm.first.sorts, 2);
    wm.first.reload = true;
    dispatch(wm, ev(win::event::Sized));
    EXPECT_EQ(wm.first.sorts, 3);
    EXPECT_FALSE(wm.first.lastForce);
    EXPECT_EQ(wm.drop.resets, 3);
    // Losing the focus with RESETONGAINFOCUS forces the next reset.
    wm.RESETONGAINFOCUS = 1;
    dispatch(wm, ev(win::event::LoseFocus));
    EXPECT_EQ(wm.FORCEDRESET, 1);
    dispatch(wm, ev(win::event::GainFocus));
    EXPECT_TRUE(wm.first.lastForce);
    EXPECT_EQ(wm.FORCEDRESET, 0);
    wm.Reset(true);
    EXPECT_TRUE(wm.first.lastForce);
    EXPECT_EQ(wm.first.refreshes, wm.first.sorts);
    // No primary file: completion and closing do nothing.
    EXPECT_EQ(dispatch(wm, ev(win::event::Completed)), LevelNone);
    EXPECT_EQ(dispatch(wm, ev(win::event::CloseWindow)), LevelNone);
}

TEST(WindowManager, RunsTheLoopOnItsThreadAndKillsOnce) {
    TestProcedure done, fatal, refused;
    int doneResponse = 0, fatalResponse = 0, refusedResponse = 0;
    std::vector<std::string> seen;
    sorv::test::runWithDesktop([&] {
        int slot = win::startProcedure([&](const std::string&) {
            // A button registered with a response ends the window with it.
            done.WINDOW = win::Window();
            win::Window::postToThread(win::currentSlot(), win::event::Accepted, 2);
            doneResponse = done.Run();
        });
        EXPECT_GT(slot, 0);
        win::waitForAllThreads();
        EXPECT_EQ(done.kills, 1);
        EXPECT_EQ(done.first.kills, 1);
        EXPECT_EQ(done.drop.kills, 1);
        EXPECT_TRUE(done.BROWSES.empty());
        EXPECT_FALSE(done.WINDOW.isOpen());
        EXPECT_EQ(done.opened, 1) << "the opening event made the first reset";
        done.Kill();
        EXPECT_EQ(done.kills, 1);

        // A fatal answer leaves the loop at once, the rest of the queue unseen.
        journal.clear();
        win::startProcedure([&](const std::string&) {
            fatal.second.answer = LevelFatal;
            win::Window::postToThread(win::currentSlot(), win::event::Accepted, 1);
            win::Window::postToThread(win::currentSlot(), win::event::Accepted, 3);
            fatalResponse = fatal.Run();
        });
        win::waitForAllThreads();
        seen = journal;
        EXPECT_EQ(fatal.kills, 1);

        refused.initAnswer = LevelFatal;
        refusedResponse = refused.Run();
        EXPECT_EQ(refused.opened, 0);
        EXPECT_EQ(refused.kills, 1);
    });
    EXPECT_EQ(doneResponse, ResponseDone);
    EXPECT_EQ(fatalResponse, ResponseCancelled);
    EXPECT_EQ(refusedResponse, ResponseCancelled);
    // The fatal answer came from the second browse on the first accepted event.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "b2:1");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "field:3"), 0);
}

TEST(WindowManager, OkControlCompletesAndCancelClearsTheNavigationRequest) {
    struct Toolbar : ToolbarManager {
        void Kill() override {
            ++killed;
            ToolbarManager::Kill();
        }
        void HandleEvent(int control) override { handled.push_back(control); }
        int killed = 0;
        std::vector<int> handled;
    } toolbar;
    TestProcedure wm;
    std::int32_t vcr = 2003;
    std::vector<int> codes;
    int response = 0;
    sorv::test::runWithDesktop([&] {
        wm.AddItem(&toolbar);
        wm.VCRREQUEST = &vcr;
        win::Window::postToThread(0, win::event::Accepted, 2001); // a toolbar button
        win::Window::postToThread(0, win::event::Accepted, 3);    // OK: completes
        response = [&] {
            if (wm.Init() != LevelNone) return 0;
            win::Event e;
            while (wm.WINDOW.accept(e)) {
                wm.EVENT = e;
                codes.push_back(e.code);
                if (e.code == win::event::Completed) wm.SetResult(ResponseCancelled);
                Level l = wm.HandleEvent();
                if (l != LevelNotify) wm.WINDOW.defaultAction(e);
            }
            wm.Kill();
            return static_cast<int>(wm.RESPONSE);
        }();
    });
    EXPECT_NE(std::find(codes.begin(), codes.end(), win::event::Completed), codes.end());
    EXPECT_EQ(codes.back(), win::event::CloseWindow);
    EXPECT_EQ(response, ResponseCancelled);
    EXPECT_EQ(vcr, 0);
    EXPECT_EQ(toolbar.killed, 1);
    EXPECT_EQ(toolbar.handled, std::vector<int>{2001});
}

TEST(WindowManager, FieldHistoryIsRecalled) {
    Record rec([] {
        Layout l;
        l.add("PPL:Name", FieldType::String, 10);
        return l;
    }());
    rec.set("PPL:Name", "Saved");
    WindowManager wm;
    wm.AddFieldHistory(1, rec.ref("PPL:Name"));
    rec.set("PPL:Name", "Changed");
    wm.RecallFieldHistory(2);
    EXPECT_EQ(rec.get("PPL:Name").toText().substr(0, 7), "Changed");
    wm.RecallFieldHistory(1);
    EXPECT_EQ(rec.get("PPL:Name").toText().substr(0, 5), "Saved");
}
