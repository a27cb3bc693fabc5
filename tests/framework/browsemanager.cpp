// The browse manager against a real People table in a real window under the offscreen desktop:
// paging, the thumb at the ends and dragged, RETAINROW, a resized list, range limits of every
// kind, named filters, the update form with record navigation, a fatal read, deferred loads.
#include "rig_tests.h"

#include "tests/windowing/harness.h"
#include "windowing/desktop.h"

#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::BoxAnswers;
using sorv::test::runWithDesktop;

namespace {

std::vector<int> range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

// Where the mouse was pressed last, as a right click leaves it (row 0: on the header).
void onGuiPress(Rig&, int row) {
    win::onGui([row] {
        auto* list =
            static_cast<win::ListBox*>(sorv::test::findWidget("Browsing Records", "sorv::win::ListBox"));
        QRect cell = row == 0 ? list->headerRect(1) : list->cellRect(row, 1);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(cell.center()),
                          list->viewport()->mapToGlobal(QPointF(cell.center())), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &press);
    });
}

int window_selected(Rig& rig) {
    return std::stoi(rig.window.WINDOW.property(List, win::listprop::Selected));
}

} // namespace

TEST(Browse, TenRowsOverTwentyFiveRecordsPageAndThumb) {
    withRig(25, [](Rig& rig) {
        rig.start();
        EXPECT_EQ(rig.browse.LASTITEMS, 10);
        EXPECT_EQ(rig.ids(), range(1, 10));
        EXPECT_EQ(rig.browse.HASTHUMB, 1);

        // Scrolling up on row 1 at the top reads nothing and leaves the thumb at 0.
        rig.list(win::event::ScrollUp);
        EXPECT_EQ(rig.ids(), range(1, 10));
        EXPECT_EQ(rig.thumb(), 0);

        rig.select(5);
        EXPECT_EQ(rig.selectedId(), 5);
        EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 5) << "the selection reaches the record buffer";
        rig.list(win::event::PageDown);
        EXPECT_EQ(rig.ids(), range(11, 20));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 5) << "a full page keeps the screen row";
        EXPECT_EQ(rig.browse.ITEMSTOFILL, 0);
        EXPECT_EQ(rig.thumb(), 50);
        rig.list(win::event::PageDown);
        EXPECT_EQ(rig.ids(), range(16, 25)) << "the second page reads only 5 rows";
        EXPECT_EQ(rig.browse.ITEMSTOFILL, 5);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 10) << "the selection moves by the shortfall";
        EXPECT_EQ(rig.thumb(), 100);
        EXPECT_EQ(window_selected(rig), 10);

        rig.list(win::event::ScrollDown); // at the last row of the order: nothing more
        EXPECT_EQ(rig.ids(), range(16, 25));
        EXPECT_EQ(rig.thumb(), 100);

        rig.list(win::event::ScrollTop);
        EXPECT_EQ(rig.ids(), range(1, 10));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 1);
        EXPECT_EQ(rig.thumb(), 0) << "the top of the order shows the thumb at the top";
        rig.list(win::event::ScrollBottom);
        EXPECT_EQ(rig.ids(), range(16, 25));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 10);
        EXPECT_EQ(rig.thumb(), 100);
        rig.list(win::event::PageUp);
        EXPECT_EQ(rig.ids(), range(6, 15));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 10);
        rig.list(win::event::PageUp);
        EXPECT_EQ(rig.ids(), range(1, 10));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 5);
        rig.list(win::event::ScrollDown);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 6);
        EXPECT_EQ(rig.ids(), range(1, 10));
    });
}

TEST(Browse, ThumbDragWithoutAndWithAStep) {
    withRig(60, [](Rig& rig) {
        rig.start();
        rig.list(win::event::PageDown);
        ASSERT_EQ(rig.ids(), range(11, 20));
        rig.drag(50); // exactly half way without a step does nothing
        EXPECT_EQ(rig.ids(), range(11, 20));
        rig.drag(70);
        EXPECT_EQ(rig.ids(), range(21, 30));
        rig.drag(30);
        EXPECT_EQ(rig.ids(), range(11, 20));
        rig.drag(100);
        EXPECT_EQ(rig.ids(), range(51, 60));
        rig.drag(1);
        EXPECT_EQ(rig.ids(), range(1, 10));
        rig.drag(60);
        rig.drag(0);
        EXPECT_EQ(rig.ids(), range(1, 10));

        // With a step the drag jumps to the step's value; the step got the order's limits.
        auto step = std::make_unique<LongStep>();
        LongStep* s = step.get();
        rig.browse.SetThumb(std::move(step));
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(s->LOW, 1);
        EXPECT_EQ(s->HIGH, 60);
        rig.drag(50);
        EXPECT_EQ(rig.ids().front(), 30) << "1 + 59 * 50 / 100";
        EXPECT_EQ(rig.ids().size(), 10u);
        EXPECT_EQ(rig.thumb(), 29 * 100 / 59);
        rig.drag(100);
        EXPECT_EQ(rig.ids(), range(51, 60));
    });
}

TEST(Browse, FileLoadedThumbMultipliesBeforeItDivides) {
    withRig(40, [](Rig& rig) {
        rig.browse.FILELOADED = 1;
        rig.start();
        // The procedure sizes the page of a file-loaded list: the whole result.
        rig.browse.LASTITEMS = 1000;
        rig.browse.ReloadQueue(1);
        rig.browse.RefreshWindowControls();
        ASSERT_EQ(rig.ids().size(), 40u);
        rig.select(10);
        rig.list(win::event::ScrollDown);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 11);
        EXPECT_EQ(rig.thumb(), 11 * 100 / 40);
        rig.drag(50);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 20) << "50 * 40 / 100";
        rig.drag(2);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 1) << "at least row 1";
        rig.drag(99);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 39);
        rig.list(win::event::PageDown);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 40) << "at most the row count";
        EXPECT_EQ(rig.thumb(), 100);
    });
}

TEST(Browse, RetainRowKeepsAChangedRecordOnItsScreenRow) {
    withRig(40, 10, KeyName, [](Rig& rig) {
        rig.browse.RETAINROW = 1;
        int forms = 0;
        rig.window.form = [&](int, int request) {
            ++forms;
            EXPECT_EQ(request, RequestChange);
            // The form renames the record so that it sorts right after N0005.
            EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 24);
            rig.file.record.set("PPL:LastName", Value("N0005X"));
            put(rig.file);
            EXPECT_EQ(errorCode(), 0);
            return int(ResponseDone);
        };
        rig.start();
        rig.list(win::event::PageDown);
        rig.list(win::event::PageDown);
        ASSERT_EQ(rig.ids(), range(21, 30));
        rig.select(4);
        rig.window.WINDOW.post(win::event::Accepted, ChangeButton);
        rig.pump();
        EXPECT_EQ(forms, 1);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 4);
        EXPECT_EQ(rig.selectedId(), 24);
        EXPECT_EQ(rig.ids(), (std::vector<int>{3, 4, 5, 24, 6, 7, 8, 9, 10, 11}));

        // Without RETAINROW the record comes back as the selected row in its new place, with the
        // page filled from it.
        rig.browse.RETAINROW = 0;
        rig.window.form = [&](int, int) {
            rig.file.record.set("PPL:LastName", Value("N0030X"));
            put(rig.file);
            return int(ResponseDone);
        };
        rig.window.WINDOW.post(win::event::Accepted, ChangeButton);
        rig.pump();
        EXPECT_EQ(rig.selectedId(), 24);
        EXPECT_EQ(rig.ids().front(), 24);
        EXPECT_EQ(rig.ids().size(), 10u);
    });
}

TEST(Browse, AResizedListReloadsWithTheNewPageLength) {
    withRig(40, [](Rig& rig) {
        rig.start();
        ASSERT_EQ(rig.ids(), range(1, 10));
        ASSERT_TRUE(rig.sizeList(15));
        int before = rig.browse.reloads;
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        EXPECT_GT(rig.browse.reloads, before);
        EXPECT_EQ(rig.browse.LASTITEMS, 15);
        EXPECT_EQ(rig.ids(), range(1, 15));
        ASSERT_TRUE(rig.sizeList(6));
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(1, 6));
        // With RETAINROW a record selected below the new page's end takes its last row.
        rig.browse.RETAINROW = 1;
        ASSERT_TRUE(rig.sizeList(15));
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        rig.select(10);
        ASSERT_EQ(rig.selectedId(), 10);
        ASSERT_TRUE(rig.sizeList(5));
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(6, 10));
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 5);
        EXPECT_EQ(rig.selectedId(), 10);
    });
}

TEST(Browse, AddAnotherPrimesWithoutReloadingInBetween) {
    withRig(25, [](Rig& rig) {
        std::int32_t vcrRequest = 0;
        rig.window.VCRREQUEST = &vcrRequest;
        rig.start();
        std::vector<int> reloadsAtForm;
        int next = 100;
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestInsert);
            reloadsAtForm.push_back(rig.browse.reloads);
            EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 0) << "a cleared record";
            rig.file.record.set("PPL:SysId", Value(next));
            rig.file.record.set("PPL:LastName", Value(nameOf(next)));
            add(rig.file);
            EXPECT_EQ(errorCode(), 0);
            ++next;
            vcrRequest = next <= 102 ? vcr::Insert : 0; // add another twice, then done
            return int(ResponseDone);
        };
        rig.window.WINDOW.post(win::event::Accepted, InsertButton);
        rig.pump();
        ASSERT_EQ(reloadsAtForm.size(), 3u);
        EXPECT_EQ(reloadsAtForm[1], reloadsAtForm[0]);
        EXPECT_EQ(reloadsAtForm[2], reloadsAtForm[0]);
        EXPECT_GT(rig.browse.reloads, reloadsAtForm[2]);
        EXPECT_EQ(rig.selectedId(), 102) << "the last record added is selected";
    });
}

TEST(Browse, ChangeFormNavigatesToTheNextRecord) {
    withRig(25, [](Rig& rig) {
        std::int32_t vcrRequest = 0;
        rig.window.VCRREQUEST = &vcrRequest;
        rig.start();
        rig.select(3);
        std::vector<long> seen;
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestChange);
            seen.push_back(static_cast<long>(rig.file.record.get("PPL:SysId").toLong()));
            vcrRequest = seen.size() == 1 ? vcr::Next : seen.size() == 2 ? vcr::PageDown : 0;
            return int(ResponseCancelled);
        };
        rig.window.WINDOW.post(win::event::Accepted, ChangeButton);
        rig.pump();
        EXPECT_EQ(seen, (std::vector<long>{3, 4, 14}));
        EXPECT_EQ(rig.selectedId(), 14);

        // Delete: the row goes and the page closes up.
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestDelete);
            deleteRecord(rig.file);
            return int(ResponseDone);
        };
        rig.window.WINDOW.post(win::event::Accepted, DeleteButton);
        rig.pump();
        std::vector<int> ids = rig.ids();
        EXPECT_EQ(std::count(ids.begin(), ids.end(), 14), 0);
        EXPECT_EQ(ids.size(), 10u);
    });
}

TEST(Browse, RangeLimitsOfEveryKind) {
    runWithDesktop([] {
        Rig rig(45, 10, -1);
        ASSERT_TRUE(rig.opened);
        Record limits;
        Layout l;
        l.add("LIM:Cust", FieldType::Long);
        l.add("LIM:Low", FieldType::String, 20);
        l.add("LIM:High", FieldType::String, 20);
        limits.setLayout(l);
        limits.set("LIM:Cust", Value(2));
        // Single value: customer 2 has people 11 to 20.
        rig.browse.AddSortOrder(KeyCust);
        rig.browse.AddRange(rig.file.record.ref("PPL:CustId"), limits.ref("LIM:Cust"));
        EXPECT_EQ(rig.browse.FreeComponentPosition(), 2);
        EXPECT_EQ(rig.browse.FreeComponentName(), "UPPER(PPL:LastName)");
        rig.start();
        rig.browse.ApplySortChoice(2, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(11, 20));
        EXPECT_EQ(rig.browse.filterText(), "PPL:CustId = 2");
        // Another limit value reloads by itself after the next event.
        limits.set("LIM:Cust", Value(4));
        rig.window.WINDOW.post(win::event::Accepted, 99);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(31, 40));
        // A new record is primed with the range values.
        rig.browse.PrimeRangeFields();
        EXPECT_EQ(rig.file.record.get("PPL:CustId").toLong(), 4);
        EXPECT_EQ(std::string(clipRight(rig.file.record.get("PPL:LastName").toText())), "");

        // Pair: customer 3 and names from N0023 to N0026.
        rig.browse.AddSortOrder(KeyCust);
        limits.set("LIM:Cust", Value(3));
        limits.set("LIM:Low", Value("n0023"));
        limits.set("LIM:High", Value("N0026"));
        rig.browse.AddRange(rig.file.record.ref("PPL:CustId"), limits.ref("LIM:Cust"));
        rig.browse.AddRange(rig.file.record.ref("PPL:LastName"), limits.ref("LIM:Low"),
                            limits.ref("LIM:High"));
        EXPECT_EQ(rig.browse.FreeComponentPosition(), 2) << "the pair's own field is the free one";
        rig.browse.ApplySortChoice(3, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(23, 26));
        EXPECT_EQ(rig.browse.filterText(),
                  "PPL:CustId = 3 AND UPPER(PPL:LastName) >= 'N0023' AND UPPER(PPL:LastName) <= 'N0026'");
        limits.set("LIM:High", Value("N0024"));
        EXPECT_TRUE(rig.browse.ReloadNeeded());
        EXPECT_FALSE(rig.browse.ReloadNeeded()) << "the new values were stored";
        rig.window.Reset(false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(23, 24));

        // Current value: the range field keeps the value it had when the order was set.
        rig.browse.AddSortOrder(KeyCust);
        rig.file.record.set("PPL:CustId", Value(5));
        rig.browse.AddRange(rig.file.record.ref("PPL:CustId"));
        rig.browse.ApplySortChoice(4, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(41, 45));
        EXPECT_FALSE(rig.browse.ReloadNeeded()) << "a current-value limit never reloads";

        // File: the range field follows a related record's linking field.
        Record cust;
        Layout cl;
        cl.add("CUST:SysId", FieldType::Long);
        cust.setLayout(cl);
        cust.set("CUST:SysId", Value(1));
        rig.browse.AddSortOrder(KeyCust);
        rig.browse.AddRangeFile(rig.file.record.ref("PPL:CustId"), cust.ref("CUST:SysId"));
        rig.browse.ApplySortChoice(5, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(1, 10));
        cust.set("CUST:SysId", Value(2));
        rig.window.WINDOW.post(win::event::Accepted, 99);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(11, 20));
        // Back to the first order: its limit field now holds 3.
        rig.browse.ApplySortChoice(2, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(21, 30));
    });
}

TEST(Browse, FiltersCombineByIdentifierAndTheTextHasALimit) {
    withRig(40, [](Rig& rig) {
        rig.start();
        rig.browse.SetNamedFilter("PPL:SysId > 5");
        rig.browse.SetNamedFilter("PPL:SysId <= 30", FilterQuery);
        rig.browse.SetNamedFilter("INT(PPL:SysId / 2) * 2 = PPL:SysId", FilterLocatorId);
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.browse.filterText(),
                  "(INT(PPL:SysId / 2) * 2 = PPL:SysId) AND (PPL:SysId > 5) AND (PPL:SysId <= 30)");
        EXPECT_EQ(rig.ids(), (std::vector<int>{6, 8, 10, 12, 14, 16, 18, 20, 22, 24}));
        rig.browse.SetNamedFilter("", FilterLocatorId); // a blank expression removes the entry
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.browse.filterText(), "(PPL:SysId > 5) AND (PPL:SysId <= 30)");
        EXPECT_EQ(rig.ids(), range(6, 15));

        // A filter beyond 5000 characters is refused with message 40, and nothing is shown
        // rather than records the cut filter would let through.
        std::string huge = "PPL:SysId > 0";
        while (huge.size() <= MaxFilterText) huge += " AND PPL:SysId > 0";
        {
            BoxAnswers boxes({win::button::Ok});
            rig.browse.SetNamedFilter(huge);
            rig.window.Reset(true);
            rig.pump();
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].title, "View Open Error");
        }
        EXPECT_TRUE(rig.ids().empty());
        EXPECT_EQ(rig.window.WINDOW.property(ChangeButton, win::prop::Disable), "1")
            << "an empty list disables Change";
        EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 0) << "and clears the record buffer";
        rig.browse.SetNamedFilter("PPL:SysId > 35");
        rig.browse.SetNamedFilter(" ", FilterQuery);
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(36, 40));
        EXPECT_EQ(rig.window.WINDOW.property(ChangeButton, win::prop::Disable), "0");
    });
}

TEST(Browse, AFatalReadClosesTheWindow) {
    withRig(30, [](Rig& rig) {
        rig.start();
        ASSERT_EQ(rig.ids(), range(1, 10));
        BoxAnswers boxes({win::button::Ok});
        rig.table->failReads = true; // the disk fails under the next read
        EXPECT_FALSE(rig.list(win::event::PageDown)) << "the window closed";
        EXPECT_FALSE(rig.window.WINDOW.isOpen());
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].title, "Record Retrieval Error");
    });
}

TEST(Browse, AnInvisibleListLoadsWhenItIsShown) {
    withRig(30, [](Rig& rig) {
        rig.window.WINDOW.hide(List);
        rig.start();
        EXPECT_TRUE(rig.ids().empty());
        EXPECT_EQ(rig.browse.LOADPENDING, 1);
        EXPECT_EQ(rig.browse.LOADED, 0);
        rig.window.WINDOW.hide(List, false);
        rig.window.WINDOW.post(win::event::GainFocus);
        rig.pump();
        EXPECT_EQ(rig.browse.LOADPENDING, 0);
        EXPECT_EQ(rig.ids(), range(1, 10));
    });
}

TEST(Browse, KeysLocatorAndSelectMode) {
    withRig(60, [](Rig& rig) {
        IncrementalLocator loc;
        loc.Init(0, rig.file.record.ref("PPL:SysId"), false, rig.browse);
        rig.browse.AddLocator(&loc);
        rig.window.REQUEST = RequestSelect;
        rig.browse.SetSelecting(true);
        // Selecting starts at the record the caller left in the buffer.
        rig.file.record.set("PPL:SysId", Value(33));
        rig.start();
        ASSERT_EQ(rig.ids(), range(33, 42));
        EXPECT_EQ(rig.selectedId(), 33);
        // A digit the locator takes positions the list there.
        rig.key('7');
        EXPECT_EQ(rig.ids(), range(7, 16));
        EXPECT_EQ(rig.selectedId(), 7);
        EXPECT_EQ(loc.SHADOW, "7");
        rig.list(win::event::ScrollDown);
        EXPECT_EQ(loc.SHADOW, "") << "a scroll clears the typed text";
        win::Event key = win::makeEvent(win::event::AlertKey, List, rig.window.WINDOW.id());
        // A double click in select mode selects: the Select button ends the window, and the
        // selected record is left in the buffer.
        key.keyCode = bkey::DoubleClick;
        rig.window.EVENT = key;
        rig.window.HandleEvent();
        EXPECT_FALSE(rig.pump());
        EXPECT_EQ(rig.window.RESPONSE, ResponseDone);
        EXPECT_EQ(rig.file.record.get("PPL:SysId").toLong(), 8);
    });
}

namespace {

// The real popup whose menu is answered without being shown.
struct FakePopup : PopupManager {
    int asked = 0;
    std::string Ask() override {
        ++asked;
        return "Change";
    }
    std::vector<std::string> items() const {
        std::vector<std::string> out;
        for (const PopupItem& i : POPUPITEMS)
            out.push_back(i.NAME + "|" + i.TEXT + "|" + std::to_string(i.CONTROLID));
        return out;
    }
};

} // namespace

TEST(Browse, AlertKeysAndPopupItemsMimicTheButtons) {
    withRig(30, [](Rig& rig) {
        FakePopup popup;
        popup.Init(rig.window.WINDOW);
        rig.browse.POPUP = &popup;
        rig.browse.PRINTCONTROL = 77; // not in the window: no item
        rig.start();
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listprop::VScroll), "1")
            << "the browse shows the bar itself once a page is full";
        EXPECT_EQ(popup.items(),
                  (std::vector<std::string>{"Insert|&Insert|11", "Change|&Change|12", "Delete|&Delete|13"}))
            << "Select only while selecting";

        // A right click on the header leaves nothing pending: the next left click only selects.
        win::Event key = win::makeEvent(win::event::AlertKey, List, rig.window.WINDOW.id());
        key.keyCode = bkey::RightUp;
        onGuiPress(rig, 0);
        rig.window.EVENT = key;
        rig.window.HandleEvent();
        rig.pump();
        rig.select(2);
        rig.pump();
        EXPECT_EQ(popup.asked, 0);
        EXPECT_EQ(rig.selectedId(), 2);
        // A right click on row 4 selects it and opens the popup on the new selection.
        onGuiPress(rig, 4);
        rig.window.EVENT = key;
        rig.window.HandleEvent();
        rig.pump();
        EXPECT_EQ(popup.asked, 1);
        EXPECT_EQ(rig.selectedId(), 4);
        // Insert on the list reaches the Insert button, which runs the form.
        int forms = 0;
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestInsert);
            ++forms;
            return int(ResponseCancelled);
        };
        key.keyCode = bkey::Insert;
        rig.window.EVENT = key;
        rig.window.HandleEvent();
        rig.pump();
        EXPECT_EQ(forms, 1);
        EXPECT_EQ(popup.asked, 1) << "only a right click opens the popup";
    });
}

TEST(Browse, QuickScanOnlyAroundMultiRowFillsAndUnfilledPages) {
    withRig(25, [](Rig& rig) {
        rig.browse.QUICKSCAN = 1;
        rig.start();
        EXPECT_EQ(rig.primary->quickScans, (std::vector<bool>{true, false}));
        rig.primary->quickScans.clear();
        rig.list(win::event::ScrollDown); // a move inside the page reads nothing
        rig.select(10);
        rig.list(win::event::ScrollDown); // one row: no quick scanning
        EXPECT_TRUE(rig.primary->quickScans.empty());
        EXPECT_EQ(rig.ids(), range(2, 11));
        rig.list(win::event::PageDown);
        EXPECT_EQ(rig.primary->quickScans, (std::vector<bool>{true, false}));

        // At the end of the order a reload tops the page up from above, unless ALLOWUNFILLED.
        rig.list(win::event::ScrollBottom);
        rig.select(8);
        ASSERT_EQ(rig.selectedId(), 23);
        rig.browse.ALLOWUNFILLED = 1;
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(23, 25));
        rig.browse.ALLOWUNFILLED = 0;
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.ids(), range(16, 25));
        EXPECT_EQ(rig.selectedId(), 23);
    });
}
