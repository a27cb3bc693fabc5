// The toolbar manager and its targets on a real browse: the frame's buttons arriving on the
// window's thread scroll the list, stand for its buttons and select; the tips and enabled states
// by mode; a change form saving and reopening on the next row through the next-record button.
#include "browse_rig.h"

#include "framework/toolbarmanager.h"
#include "menu_answer.h"
#include "tests/windowing/harness.h"
#include "windowing/threads.h"

#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::runWithDesktop;

namespace {

// A frame with the thirteen toolbar buttons, as the program's frame has them.
win::Window openFrame() {
    win::WindowSpec design;
    design.kind = win::WindowKind::Frame;
    design.caption = "Toolbar test frame";
    design.at = {0, 0, 400, 300};
    for (int b = toolbutton::Insert; b <= toolbutton::Help; ++b)
        design.toolbar.push_back({b, "", "Designed"});
    win::Window frame;
    frame.open(design);
    return frame;
}

struct ToolbarRig {
    win::Window frame = openFrame();
    ToolbarManager toolbar; // outlives the window, whose Kill detaches it
    Rig rig;
    explicit ToolbarRig(int records) : rig(records) {
        if (!rig.opened) return;
        toolbar.Init(rig.window, frame);
        rig.window.AddItem(&toolbar);
        rig.browse.AddToolbarTarget();
    }
    ~ToolbarRig() { frame.close(); }
    // A press on the frame, as the frame forwards it: to the thread, for its newest window.
    bool press(int button) {
        win::Window::postToThread(win::currentSlot(), win::event::Accepted, button);
        return rig.pump();
    }
    std::string tip(int button) { return frame.property(button, win::prop::Tip); }
    bool on(int button) { return frame.property(button, win::prop::Disable) == "0"; }
    // The buttons 2000..2012 as a string of '1' (enabled) and '0'.
    std::string states() {
        std::string s;
        for (int b = toolbutton::Insert; b <= toolbutton::Help; ++b) s += on(b) ? '1' : '0';
        return s;
    }
};

} // namespace

TEST(Toolbar, ButtonsScrollTheBrowseStandForItsButtonsAndSelect) {
    runWithDesktop([] {
        ToolbarRig t(25);
        ASSERT_TRUE(t.rig.opened);
        Rig& rig = t.rig;
        std::vector<int> requests;
        rig.window.form = [&](int, int request) {
            requests.push_back(request);
            return int(ResponseCancelled);
        };
        rig.start();
        EXPECT_EQ(t.toolbar.current(), rig.browse.TOOLBARITEM);
        ASSERT_TRUE(t.press(toolbutton::PageDown));
        EXPECT_EQ(rig.ids(), [] {
            std::vector<int> v;
            for (int i = 11; i <= 20; ++i) v.push_back(i);
            return v;
        }());
        t.press(toolbutton::Next);
        EXPECT_EQ(rig.selectedId(), 12);
        t.press(toolbutton::Previous);
        EXPECT_EQ(rig.selectedId(), 11);
        t.press(toolbutton::Last);
        EXPECT_EQ(rig.ids().back(), 25);
        EXPECT_EQ(rig.selectedId(), 25);
        t.press(toolbutton::First);
        EXPECT_EQ(rig.selectedId(), 1);
        t.press(toolbutton::PageUp);
        EXPECT_EQ(rig.ids().front(), 1) << "nothing above the first page";

        // Insert, Change and Delete press the window's buttons.
        t.press(toolbutton::Change);
        t.press(toolbutton::Insert);
        EXPECT_EQ(requests, (std::vector<int>{RequestChange, RequestInsert}));

        // Select updates the buffers, answers done and closes the window.
        rig.select(4);
        EXPECT_FALSE(t.press(toolbutton::Select));
        EXPECT_EQ(rig.window.RESPONSE, ResponseDone);
        EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 4);
    });
}

TEST(Toolbar, ThePopupCarriesTheNavigationButtonsToTheTarget) {
    runWithDesktop([] {
        ToolbarRig t(25);
        ASSERT_TRUE(t.rig.opened);
        Rig& rig = t.rig;
        PopupManager popup;
        popup.Init(rig.window.WINDOW);
        rig.browse.POPUP = &popup;
        rig.start();
        std::vector<std::string> names;
        for (const PopupItem& i : popup.POPUPITEMS) names.push_back(i.NAME);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"Insert", "Change", "Delete", "Separator", "First", "PriorPage",
                                            "PriorRecord", "NextRecord", "NextPage", "Last"}));
        {
            MenuAnswer answer("Ne&xt Page");
            EXPECT_EQ(popup.Ask(), "NextPage");
        }
        rig.pump();
        EXPECT_EQ(rig.ids().front(), 11) << "the page moved as by the frame's button";
        {
            MenuAnswer answer("&Prior Record");
            popup.Ask();
        }
        rig.pump();
        EXPECT_EQ(rig.selectedId(), 10);
    });
}

TEST(Toolbar, BrowseTipsAndButtonsFollowTheWindowsButtons) {
    runWithDesktop([] {
        ToolbarRig t(0);
        ASSERT_TRUE(t.rig.opened);
        Rig& rig = t.rig;
        int forms = 0;
        rig.window.form = [&](int, int) {
            ++forms;
            return int(ResponseCancelled);
        };
        rig.start();
        EXPECT_EQ(t.tip(2000), "Insert a new Record");
        EXPECT_EQ(t.tip(2004), "Go to the Last Page");
        EXPECT_EQ(t.tip(2005), "Go to the First Page");
        EXPECT_EQ(t.tip(2006), "Go to the Next Page");
        EXPECT_EQ(t.tip(2007), "Go to the Prior Page");
        EXPECT_EQ(t.tip(2008), "Go to the Next Record");
        EXPECT_EQ(t.tip(2009), "Go to the Prior Record");
        EXPECT_EQ(t.tip(2001), "Designed") << "buttons without a browse tip keep theirs";
        // An empty list: Change and Delete are off on the window, so on the toolbar too; the
        // history button has nothing to restore in a browse.
        EXPECT_EQ(t.states(), "1001111111101");
        // A Change pressed anyway (its event came) does not reach the disabled button.
        t.press(toolbutton::Change);
        EXPECT_EQ(forms, 0);
        rig.add(1);
        rig.window.Reset(true);
        EXPECT_EQ(t.states(), "1111111111101");
        // Another window had the toolbar meanwhile; becoming the active one again, this window
        // shows its own state even though nothing of it changed.
        for (int b = toolbutton::Insert; b <= toolbutton::Help; ++b) t.frame.enable(b, false);
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        EXPECT_EQ(t.states(), "1111111111101");
    });
}

TEST(Toolbar, FormTipsAndButtonsByRequest) {
    runWithDesktop([] {
        win::Window frame = openFrame();
        ASSERT_TRUE(frame);
        auto tip = [&](int b) { return frame.property(b, win::prop::Tip); };
        auto states = [&] {
            std::string s;
            for (int b = toolbutton::Insert; b <= toolbutton::Help; ++b)
                s += frame.property(b, win::prop::Disable) == "0" ? '1' : '0';
            return s;
        };
        FormToolbarTarget form;
        form.bar = frame;

        form.REQUEST = RequestChange;
        form.ShowToolbarState();
        EXPECT_EQ(tip(2000), "Save this record and add a new one");
        EXPECT_EQ(tip(2004), "Save changes and go to last record");
        EXPECT_EQ(tip(2005), "Save changes and go to first record");
        EXPECT_EQ(tip(2006), "Save changes and page down to record");
        EXPECT_EQ(tip(2007), "Save changes and page up to record");
        EXPECT_EQ(tip(2008), "Save changes and go to next record");
        EXPECT_EQ(tip(2009), "Save changes and go to previous record");
        EXPECT_EQ(states(), "1000111111001") << "no locate in a form, help always";
        form.HISTORY = 1;
        form.ShowToolbarState();
        EXPECT_EQ(states(), "1000111111011");

        form.REQUEST = RequestInsert;
        form.ShowToolbarState();
        EXPECT_EQ(tip(2000), "Save record and add another");
        EXPECT_EQ(tip(2008), "Save record and add another");
        EXPECT_EQ(states(), "1000000010011");
        form.HISTORY = 0;
        form.ShowToolbarState();
        EXPECT_EQ(states(), "1000000010001");

        form.REQUEST = RequestDelete;
        form.HISTORY = 1;
        form.ShowToolbarState();
        EXPECT_EQ(states(), "0000000000001") << "only help is left to a delete form";
        frame.close();
    });
}

namespace {

// A minimal change form over the rig's table: an entry for the name and an OK button; OK saves
// the record read last and closes done. `script` runs each time the form opens.
constexpr int NameEntry = 1, OkButton = 2;

struct ChangeForm : WindowManager {
    Rig& rig;
    win::Window bar;
    ToolbarManager toolbar;
    FormToolbarTarget target;
    std::function<void(ChangeForm&)> script;
    ChangeForm(Rig& r, win::Window b, std::int32_t* vcr) : rig(r), bar(b) { VCRREQUEST = vcr; }
    Level Init() override {
        WindowManager::Init();
        win::WindowSpec design;
        design.caption = "Update People";
        design.add("ENTRY", NameEntry, {4, 4, 100, 12}).use = rig.file.record.ref("PPL:LastName");
        design.add("BUTTON", OkButton, {4, 20, 40, 14}, "OK");
        if (!WINDOW.open(design)) return LevelFatal;
        OKCONTROL = OkButton;
        toolbar.Init(*this, bar);
        AddItem(&toolbar);
        AddItem(&target);
        return LevelNone;
    }
    Level HandleWindowEvent() override {
        if (event() == wmevent::OpenWindow && script) script(*this);
        return WindowManager::HandleWindowEvent();
    }
    Level HandleCompleted() override {
        put(rig.file);
        if (errorCode() != 0) return LevelNotify;
        SetResult(ResponseDone);
        return LevelNone;
    }
};

std::string nameOfRecord(Rig& rig, int id) {
    rig.file.record.set("PPL:SysId", Value(id));
    get(rig.file, KeySysId);
    return std::string(clipRight(rig.file.record.get("PPL:LastName").toText()));
}

} // namespace

TEST(Toolbar, NextRecordInAChangeFormSavesAndReopensOnTheFollowingRow) {
    runWithDesktop([] {
        ToolbarRig t(25);
        ASSERT_TRUE(t.rig.opened);
        Rig& rig = t.rig;
        std::int32_t vcr = 0;
        rig.window.VCRREQUEST = &vcr;
        rig.start();
        rig.select(3);
        std::vector<long> opened;
        std::vector<std::string> tipsSeen, statesSeen;
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestChange);
            ChangeForm form(rig, t.frame, &vcr);
            form.REQUEST = static_cast<std::uint8_t>(request);
            form.script = [&](ChangeForm& f) {
                opened.push_back(static_cast<long>(rig.file.record.get("PPL:SysId").toLong()));
                tipsSeen.push_back(t.tip(toolbutton::Next));
                statesSeen.push_back(t.states());
                if (opened.size() == 1) {
                    // The user edits the name and presses the frame's next-record button.
                    rig.file.record.set("PPL:LastName", Value("Edited"));
                    f.WINDOW.display();
                    // Select and Change are off in a change form: their events do nothing.
                    win::Window::postToThread(win::currentSlot(), win::event::Accepted, toolbutton::Select);
                    win::Window::postToThread(win::currentSlot(), win::event::Accepted, toolbutton::Change);
                    win::Window::postToThread(win::currentSlot(), win::event::Accepted, toolbutton::Next);
                } else {
                    f.WINDOW.post(win::event::CloseWindow); // the second form is left alone
                }
            };
            return form.Run();
        };
        t.press(toolbutton::Change);
        EXPECT_EQ(opened, (std::vector<long>{3, 4})) << "reopened on the following row";
        EXPECT_EQ(tipsSeen[0], "Save changes and go to next record");
        EXPECT_EQ(statesSeen[0], "1000111111001");
        EXPECT_EQ(rig.selectedId(), 4);
        EXPECT_EQ(vcr, 0);
        // Back in the browse, the toolbar is the browse's again.
        EXPECT_EQ(t.tip(toolbutton::Next), "Go to the Next Record");
        EXPECT_EQ(t.states(), "1111111111101");
        EXPECT_EQ(nameOfRecord(rig, 3), "Edited") << "the first record was saved";
        EXPECT_EQ(nameOfRecord(rig, 4), nameOf(4)) << "the second was left as it was";
    });
}
