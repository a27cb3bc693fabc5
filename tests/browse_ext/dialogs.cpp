// A list that is not a browse: a right click off its header shows the column menu through its
// owner's popup, and the item chosen reaches the list's Sorvex object. "Format Listbox..." under an
// owner's feature mask: every control whose bit the mask leaves out is disabled when the window
// opens, the others stay usable.
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/browse_rig.h"
#include "tests/framework/menu_answer.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSpinBox>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace browsetest;
using namespace sorv::bx;

namespace {

struct ListSorvex : sorv::test::TableSorvex {
    ListSorvex() {
        rows = {{"PPL:SysId", 40, "Sys Id", "@n6", "Id", 'R'},
                {"PPL:LastName", 80, "Last Name", "@s20", "Name", 'L'}};
        formatSlots = {1};
    }
};

struct MenuOwner : SorvexListOwner {
    fw::PopupManager menu;
    fw::PopupManager* Popup() override { return &menu; }
};

Record maskOf(std::uint32_t mask) {
    Record locals{[] {
        Layout l;
        l.addDecimal("LOC:Mask", 11, 0);
        return l;
    }()};
    locals.set("LOC:Mask", Value(static_cast<std::int64_t>(mask)));
    return locals;
}

} // namespace

TEST(QueueList, ARightClickOffTheHeaderShowsTheColumnMenuOfItsOwnerAndItsItemsAct) {
    sorv::test::runWithDesktop([] {
        Rig rig(3);
        ASSERT_TRUE(rig.opened);
        Record mask = maskOf(0x227CFCE7); // the program's queue lists
        std::uint8_t viewOrder = 0, sorted = 0;
        SorvexOwnerRefs refs;
        refs.viewOrder = &viewOrder;
        refs.sequenceNbr = &sorted;
        refs.mask = mask.ref("LOC:Mask");
        MenuOwner owner;
        owner.menu.Init(rig.window.WINDOW);
        ListSorvex s;
        s.InitQueueList(rig.window, owner, *rig.queue, rig.window.WINDOW, List, "", VisualHeader, refs);
        s.BuildSortStrings();
        browsetest::MenuAnswer answer("Hide Column");
        // A right click on the Last Name column, below the rows.
        win::onGui([] {
            for (QWidget* w : QApplication::allWidgets())
                if (auto* list = qobject_cast<win::ListBox*>(w)) {
                    const QPoint at(list->headerRect(2).center().x(), list->viewport()->height() - 4);
                    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                        QMouseEvent e(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)),
                                      Qt::RightButton,
                                      type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton,
                                      Qt::NoModifier);
                        QApplication::sendEvent(list->viewport(), &e);
                    }
                }
        });
        win::Event e;
        while (rig.window.WINDOW.poll(e)) s.TakeListEvent(e);
        EXPECT_EQ(s.CURRENTCOL, 2);
        EXPECT_NE(std::find(answer.shape.lines.begin(), answer.shape.lines.end(), "0:Sort on Name"),
                  answer.shape.lines.end())
            << ::testing::PrintToString(answer.shape.lines);
        const std::string format = rig.window.WINDOW.property(List, win::listprop::Format);
        EXPECT_EQ(format.find("Last Name"), std::string::npos) << format;
        EXPECT_NE(format.find("~Sys Id~"), std::string::npos) << format;
        s.Kill();
    });
}

TEST(FormatListbox, TheOwnersMaskDisablesTheControlsOfTheBitsItLeavesOut) {
    // The header text (0x400), the data "Left" (0x1), the list's Y position (0x400000) and the font
    // (0x2000000) left out.
    const std::uint32_t mask = 0x1FFFFFFF & ~(0x400u | 0x1u | 0x400000u | 0x2000000u);
    std::map<std::string, bool> enabled;
    std::thread user([&] {
        EXPECT_TRUE(sorv::test::whenShown<QWidget>("Format Listbox...", [&](QWidget* d) {
            for (QWidget* w : d->findChildren<QWidget*>()) {
                std::string name = w->toolTip().toStdString();
                if (auto* b = qobject_cast<QAbstractButton*>(w); b && name.empty())
                    name = b->text().toStdString() + "@" + std::to_string(b->x() > d->width() / 3);
                if (!name.empty() && !qobject_cast<QLineEdit*>(w->parentWidget()))
                    enabled[name] = w->isEnabled();
            }
            for (QAbstractButton* b : d->findChildren<QAbstractButton*>())
                if (b->text() == "&Close")
                    QMetaObject::invokeMethod(
                        b, [b] { b->click(); }, Qt::QueuedConnection);
        }));
    });
    sorv::test::runWithDesktop([&] {
        Rig rig(3);
        ASSERT_TRUE(rig.opened);
        Record locals = maskOf(mask);
        std::uint8_t viewOrder = 0, sorted = 0;
        SorvexOwnerRefs refs;
        refs.viewOrder = &viewOrder;
        refs.sequenceNbr = &sorted;
        refs.mask = locals.ref("LOC:Mask");
        ListSorvex s;
        s.Init(rig.window, rig.browse, *rig.queue, rig.window.WINDOW, List, rig.dir.file("sorvdemo.INI"),
               VisualHeader, refs);
        s.RestoreLayout("?List", "Proc");
        s.FormatListbox();
        s.Kill();
    });
    user.join();
    for (const char* off :
         {"Change Column Header Text", "Left@1", "Move Listbox Vertically", "Assign New Font to Listbox"})
        EXPECT_FALSE(enabled[off]) << off;
    for (const char* on : {"Left@0", "Change Data Field Offset", "Move Listbox Horizontally",
                           "Assign New Colors to Column", "Underline the current column"})
        EXPECT_TRUE(enabled.count(on) && enabled[on]) << on;
}
