// Layout persistence on a real list: the first close writes every key, a stored layout comes
// back only for its own design, position and size only where the design allows it, a slot of
// "0" leaves the format alone, and a format too long for the INI file is stored as the whole
// columns that fit, so that the stored design still matches on the next opening.
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "runtime/inifile.h"
#include "runtime/listformat.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/rig_tests.h"
#include "tests/windowing/harness.h"

#include <gtest/gtest.h>

using namespace browsetest;
using namespace sorv::bx;
using sorv::test::runWithDesktop;

namespace {

struct ListSorvex : sorv::test::TableSorvex {
    ListSorvex() {
        rows = {{"PPL:SysId", 40, "Sys Id", "@n6", "Id", 'R'},
                {"PPL:LastName", 80, "Last Name", "@s20", "Name", 'L'},
                {"PPL:CustId", 40, "Cust", "@n6", "Customer", 'R'}};
        formatSlots = {1, 2};
    }
};

// One opening of the list: set up, restored, handed to `use`, saved and killed.
struct Opening {
    Rig& rig;
    ListSorvex s;
    std::uint8_t viewOrder = 0, sorted = 7;
    Opening(Rig& r, const std::string& ini, bool allowResize) : rig(r) {
        SorvexOwnerRefs refs;
        refs.allowResize = allowResize ? 1 : 0;
        refs.viewOrder = &viewOrder;
        refs.sequenceNbr = &sorted;
        s.Init(rig.window, rig.browse, *rig.queue, rig.window.WINDOW, List, ini, VisualHeader, refs);
        s.BuildSortOrders(1);
        s.RestoreLayout("?List", "Proc");
    }
    void close() {
        s.SaveLayout("?List", "Proc", viewOrder ? sorted : 0);
        s.Kill();
    }
    std::string property(int code) { return rig.window.WINDOW.property(List, code); }
};

} // namespace

TEST(Layout, StoredForItsDesignAppliedWithinWhatTheDesignAllows) {
    withRig(3, [](Rig& rig) {
        const std::string ini = rig.dir.file("sorvdemo.INI");
        auto key = [&](const std::string& k) { return GETINI("Proc", k + "?List", "<none>", ini); };
        const std::string design = rig.window.WINDOW.property(List, win::listprop::Format);
        win::Rect designed = rig.window.WINDOW.controlRect(List);

        // First run: designed, in key order. (Every key written at the close, and a stored layout of
        // another design ignored and replaced, are checked on the real Customer browse.)
        {
            Opening o(rig, ini, true);
            EXPECT_EQ(o.sorted, 0);
            o.close();
        }
        EXPECT_EQ(key("SorvexFormatString-?List1"), "<none>") << "the slot number follows the control name";
        EXPECT_EQ(GETINI("Proc", "SorvexFormatString-?List2", "<none>", ini), design);

        // A stored position and size come back only where the design allows resizing; the
        // formats of the slots either way, and a slot of "0" leaves the list's format alone.
        const std::string moved = "80L(2)|M~Last Name~@s20@#2#40R(2)|M~Sys Id~@n6@#1#";
        for (bool allow : {false, true}) {
            SCOPED_TRACE(allow ? "resizable" : "fixed");
            WRITEINI("Proc", "SorvexWidth-?List", std::string_view("150"), ini);
            WRITEINI("Proc", "SorvexFormatString-?List1", std::string_view(moved), ini);
            WRITEINI("Proc", "SorvexFormatString-?List2", std::string_view("0"), ini);
            Opening o(rig, ini, allow);
            EXPECT_EQ(o.property(win::listprop::Width), allow ? "150" : std::to_string(designed.width));
            EXPECT_EQ(o.property(win::listprop::Format), moved);
            SorvexColumn c;
            ASSERT_TRUE(o.s.SQ.get(1, c));
            EXPECT_EQ(c.QNOS, 2);
            o.s.SelectFormatSlot(2); // "0": the format stays as it is
            EXPECT_EQ(o.property(win::listprop::Format), moved);
            o.s.SelectFormatSlot(1);
            o.close();
            rig.window.WINDOW.setProperty(List, win::listprop::Format, design);
            rig.window.WINDOW.setControlRect(List, designed);
        }

        // A design longer than the INI file keeps: stored as the whole columns that fit, each
        // with its field number, and recognised again on the next opening.
        std::string longDesign;
        for (int i = 0; i < 40; ++i)
            longDesign += "40L(2)|M~Header number " + std::to_string(i) + "~@s20@#2#";
        ASSERT_GT(longDesign.size(), MaxFormat);
        rig.window.WINDOW.setProperty(List, win::listprop::Format, longDesign);
        {
            Opening o(rig, ini, true);
            o.close();
        }
        const std::string stored = key("SorvexOrigFormatString-");
        EXPECT_LE(stored.size(), MaxFormat);
        EXPECT_EQ(ListFormat::check(stored), 0) << stored;
        EXPECT_EQ(stored.substr(stored.size() - 3), "#2#");
        EXPECT_EQ(GETINI("Proc", "SorvexFormatString-?List1", "<none>", ini), stored);
        WRITEINI("Proc", "SorvexPrevCol-?List", std::string_view("0"), ini);
        {
            Opening o(rig, ini, true);
            // The stored design matched: the list now shows the stored (fitted) slot.
            EXPECT_EQ(o.property(win::listprop::Format).size() < longDesign.size(), true);
            o.close();
        }
    });
}
