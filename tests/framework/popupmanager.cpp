// The popup manager: its items (depths, names, insertion after a named item), the menu shown on
// the desktop and answered through it, mimicking items following their buttons, and the toolbox.
#include "rig_tests.h"

#include "framework/popupmanager.h"
#include "menu_answer.h"
#include "tests/windowing/harness.h"

#include <QToolButton>
#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::runWithDesktop;

namespace {

std::vector<std::string> names(const PopupManager& p) {
    std::vector<std::string> out;
    for (const PopupItem& i : p.POPUPITEMS) out.push_back(std::to_string(i.DEPTH) + ":" + i.NAME);
    return out;
}

} // namespace

TEST(PopupManager, ItemsWithDepthsNamesAndInsertionAfterANamedItem) {
    PopupManager p;
    p.AddItem("&Open");
    p.AddItem("-", "Separator");
    p.AddItem("!E&xport", "Export");
    PopupItem sub;
    sub.DEPTH = 1;
    sub.TEXT = "To &CSV";
    sub.NAME = "CSV";
    p.AddItem(sub, "Export");
    sub.TEXT = "To &HTML";
    sub.NAME = "HTML";
    p.AddItem(sub, "CSV");
    // After an item with a submenu means after the whole submenu.
    p.AddItem("&Print", "", "Export");
    // An unknown name adds at the end.
    p.AddItem("&Close", "", "Nothing");
    p.AddItem("A && B");
    EXPECT_EQ(names(p), (std::vector<std::string>{"0:Open", "0:Separator", "0:Export", "1:CSV", "1:HTML",
                                                  "0:Print", "0:Close", "0:A & B"}));
    EXPECT_EQ(p.item("Export")->ONTOOLBOX, 1);
    EXPECT_EQ(p.item("Export")->TEXT, "E&xport") << "the toolbox mark is not part of the text";
    EXPECT_EQ(p.item("Open")->ONTOOLBOX, 0);
    EXPECT_EQ(p.item("Separator")->TEXT, "-");
    EXPECT_EQ(p.item("missing"), nullptr);

    // A mimicking item posts EVENT:Accepted to its button.
    p.AddButtonItem("!&Insert", "&Insert a record", 11);
    const PopupItem& insert = p.POPUPITEMS.back();
    EXPECT_EQ(insert.NAME, "Insert");
    EXPECT_EQ(insert.TEXT, "&Insert a record");
    EXPECT_EQ(insert.CONTROLID, 11);
    EXPECT_EQ(insert.EVENT, win::event::Accepted);
    EXPECT_EQ(insert.MIMICMODE, 1);
    EXPECT_EQ(insert.ONTOOLBOX, 1);

    // Texts and names are kept within their declared sizes.
    p.AddItem(std::string(3000, 'x'), std::string(2000, 'n'));
    EXPECT_EQ(p.POPUPITEMS.back().TEXT.size(), PopupManager::TextLimit);
    EXPECT_EQ(p.POPUPITEMS.back().NAME.size(), PopupManager::NameLimit);
    p.Kill();
    EXPECT_TRUE(p.POPUPITEMS.empty());
}

TEST(PopupManager, AskShowsTheButtonsStateAnswersTheNameAndPostsToTheButton) {
    withRig(30, [](Rig& rig) {
        PopupManager popup;
        popup.Init(rig.window.WINDOW);
        rig.browse.POPUP = &popup;
        rig.browse.SELECTING = 1;
        rig.window.REQUEST = RequestSelect;
        rig.start();
        PopupItem sub;
        sub.TEXT = "&More";
        sub.NAME = "More";
        popup.AddItem(sub);
        sub.DEPTH = 1;
        sub.TEXT = "&Deeper";
        sub.NAME = "Deeper";
        sub.CHECK = 1;
        popup.AddItem(sub);
        std::vector<int> requests;
        rig.window.form = [&](int, int request) {
            requests.push_back(request);
            return int(ResponseCancelled);
        };

        // The Delete button disabled and the Select button hidden: the menu shows them so.
        rig.window.WINDOW.enable(DeleteButton, false);
        rig.window.WINDOW.hide(SelectButton, true);
        {
            MenuAnswer answer("&Change");
            EXPECT_EQ(popup.Ask(), "Change");
            EXPECT_EQ(answer.shape.lines,
                      (std::vector<std::string>{"0:&Insert", "0:&Change", "0:&Delete(off)", "0:&More",
                                                "1:&Deeper"}));
        }
        EXPECT_EQ(popup.LASTSELECTION, "Change");
        EXPECT_TRUE(requests.empty()) << "the choice is posted, not run inside Ask";
        rig.pump();
        EXPECT_EQ(requests, std::vector<int>{RequestChange});

        // The buttons' state is taken again at every Ask.
        rig.window.WINDOW.enable(DeleteButton, true);
        rig.window.WINDOW.hide(SelectButton, false);
        {
            MenuAnswer answer("&Select");
            EXPECT_EQ(popup.Ask(), "Select");
            EXPECT_EQ(answer.shape.lines.size(), 6u);
            EXPECT_EQ(answer.shape.lines[2], "0:&Delete");
        }
        EXPECT_FALSE(rig.pump()) << "Select closes the window";
        EXPECT_EQ(rig.window.RESPONSE, ResponseDone);
    });
}

TEST(PopupManager, AMenuClosedWithoutAChoiceAnswersNothingAndPostsNothing) {
    withRig(5, [](Rig& rig) {
        PopupManager popup;
        popup.Init(rig.window.WINDOW);
        popup.AddButtonItem("!&Insert", "&Insert", InsertButton);
        popup.LASTSELECTION = "Earlier";
        int forms = 0;
        rig.window.form = [&](int, int) { return ++forms, int(ResponseCancelled); };
        rig.start();
        {
            MenuAnswer answer("");
            EXPECT_EQ(popup.Ask(), "");
        }
        EXPECT_EQ(popup.LASTSELECTION, "");
        rig.pump();
        EXPECT_EQ(forms, 0);
        // A menu with nothing to show is not shown.
        PopupManager empty;
        empty.Init(rig.window.WINDOW);
        EXPECT_EQ(empty.Ask(), "");
    });
}

TEST(PopupManager, TheToolboxFollowsTheButtonsAndPressesThem) {
    withRig(0, [](Rig& rig) {
        PopupManager popup;
        popup.Init(rig.window.WINDOW);
        rig.browse.POPUP = &popup;
        std::vector<int> requests;
        rig.window.form = [&](int, int request) {
            requests.push_back(request);
            return int(ResponseCancelled);
        };
        rig.start();
        popup.AddItem("Not on the toolbox");
        popup.ShowAsToolbox("Browse Actions");
        EXPECT_EQ(popup.INTOOLBOX, 1);
        EXPECT_TRUE(win::toolboxShown(rig.window.WINDOW.id()));
        auto buttons = [] {
            return win::onGui([] {
                std::vector<std::string> out;
                QWidget* box = sorv::test::findWidget("Browse Actions");
                if (!box) return out;
                for (auto* b : box->findChildren<QToolButton*>())
                    out.push_back(b->text().toStdString() + (b->isEnabled() ? "" : "(off)"));
                return out;
            });
        };
        // An empty list: the browse disabled Change and Delete, and the toolbox shows it.
        EXPECT_EQ(buttons(), (std::vector<std::string>{"&Insert", "&Change(off)", "&Delete(off)"}));
        rig.window.WINDOW.enable(ChangeButton, true);
        EXPECT_EQ(buttons()[1], "&Change");
        win::onGui([] {
            QWidget* box = sorv::test::findWidget("Browse Actions");
            for (auto* b : box->findChildren<QToolButton*>())
                if (b->text() == "&Insert") b->click();
        });
        rig.pump();
        EXPECT_EQ(requests, std::vector<int>{RequestInsert});
        popup.Kill();
        EXPECT_FALSE(win::toolboxShown(rig.window.WINDOW.id()));
    });
}
