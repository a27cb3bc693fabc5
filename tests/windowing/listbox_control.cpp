// The list box as a "LIST" control of a window: a program thread pushes rows, reads and writes
// its properties by number and receives its events with the mouse positions already kept.
#include "harness.h"
#include "input_rig.h"

#include "windowing/listbox_control.h"
#include "windowing/window.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::win;
using sorv::test::findWidget;
using sorv::test::runWithDesktop;

using sorv::test::nextOf;

namespace {

WindowSpec listWindow() {
    WindowSpec s;
    s.kind = WindowKind::Window;
    s.caption = "Customers";
    s.at = {10, 10, 300, 160};
    ControlSpec& list = s.add("LIST", 2, {4, 4, 280, 120}, "Browsing Records");
    list.format = "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@60R(2)|M~Amount~@n9.2@";
    list.vscroll = true;
    return s;
}

ListBox* theList() {
    return static_cast<ListBox*>(findWidget("Browsing Records", "sorv::win::ListBox"));
}

void sendMouse(ListBox* list, QEvent::Type type, QPoint at, Qt::MouseButton b) {
    QMouseEvent e(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), b,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b), Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &e);
}

} // namespace

TEST(ListControl, RowsPropertiesAndEventsThroughTheWindow) {
    runWithDesktop([] {
        Window w;
        ASSERT_TRUE(w.open(listWindow()));
        auto data = std::make_shared<ListRowsData>();
        for (int i = 1; i <= 30; ++i)
            data->rows.push_back({"Company " + std::to_string(i), "City", std::to_string(i * 1000.5)});
        w.setData(2, data);
        EXPECT_EQ(w.property(2, listprop::Format),
                  "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@60R(2)|M~Amount~@n9.2@");
        EXPECT_EQ(w.property(2, listColumnProperty(0x7E03, 2)), "City");
        EXPECT_EQ(w.property(2, listColumnProperty(0x7E04, 1)), "80");
        w.setProperty(2, listColumnProperty(0x7E03, 2), "Town");
        w.setProperty(2, listColumnProperty(0x7E04, 1), "100");
        EXPECT_EQ(w.property(2, listColumnProperty(0x7E03, 2)), "Town");
        EXPECT_EQ(w.property(2, listColumnProperty(0x7E04, 1)), "100");
        EXPECT_EQ(w.property(2, listColumnProperty(0x7E04, 9)), ""); // no such column
        int visible = std::stoi(w.property(2, listprop::VisibleRows));
        EXPECT_GT(visible, 3);
        EXPECT_LT(visible, 30);
        EXPECT_EQ(onGui([] { return theList()->cellText(2, 3).toStdString(); }), "2,001.00");

        // A click on a row: the selection and the press position are there when the event is.
        onGui([] {
            ListBox* list = theList();
            QRect cell = list->cellRect(3, 2);
            sendMouse(list, QEvent::MouseButtonPress, cell.center(), Qt::LeftButton);
            sendMouse(list, QEvent::MouseButtonRelease, cell.center(), Qt::LeftButton);
        });
        Event e = nextOf(w, event::NewSelection);
        EXPECT_EQ(e.control, 2);
        EXPECT_EQ(w.property(2, listprop::Selected), "3");
        EXPECT_EQ(w.property(2, listprop::PressRow), "3");
        EXPECT_EQ(w.property(2, listprop::PressColumn), "2");
        EXPECT_EQ(w.property(2, listprop::PressZone), std::to_string(zone::Text));

        // A browse pages the list itself: keys become scroll events; alert keys come first.
        w.setProperty(2, listprop::ProgramPaged, "1");
        w.setProperty(2, listprop::AlertKeys, "0x47A,0x2D");
        onGui([] {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(theList(), &down);
            QKeyEvent ins(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
            QApplication::sendEvent(theList(), &ins);
        });
        EXPECT_EQ(nextOf(w, event::PageDown).control, 2);
        EXPECT_EQ(nextOf(w, event::AlertKey).keyCode, 0x2D);
        w.setProperty(2, listprop::Thumb, "60");
        EXPECT_EQ(w.property(2, listprop::Thumb), "60");

        // The owner's mouse hook: a header press and a sideways drag.
        w.setProperty(2, listprop::MouseHook, "1");
        onGui([] {
            ListBox* list = theList();
            QRect h = list->headerRect(2);
            QPoint to = list->headerRect(3).center();
            sendMouse(list, QEvent::MouseButtonPress, h.center(), Qt::LeftButton);
            QMouseEvent move(QEvent::MouseMove, QPointF(to), list->viewport()->mapToGlobal(QPointF(to)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &move);
            sendMouse(list, QEvent::MouseButtonRelease, to, Qt::LeftButton);
        });
        EXPECT_EQ(nextOf(w, eventCode(listmouse::LeftDown)).control, 2);
        EXPECT_EQ(w.property(2, listprop::PressRow), "0");
        EXPECT_EQ(w.property(2, listprop::PressColumn), "2");
        nextOf(w, eventCode(listmouse::OutOfHeader));
        nextOf(w, eventCode(listmouse::HeaderDrag));
        const int releasedAt = nextOf(w, eventCode(listmouse::LeftUp)).param;
        EXPECT_EQ(w.property(2, listprop::ReleaseColumn), "3");
        // The release's x lies within column 3 as its edges read.
        const int left3 = std::stoi(w.property(2, listColumnProperty(listprop::ColumnPixelLeft, 3)));
        EXPECT_GT(releasedAt, left3);
        EXPECT_LT(releasedAt,
                  left3 + std::stoi(w.property(2, listColumnProperty(listprop::ColumnPixelWidth, 3))));

        // Position and size in dialog units; column widths and edges in pixels as well.
        w.setProperty(2, listprop::Width, "250");
        w.setProperty(2, listprop::YPos, "8");
        EXPECT_EQ(w.property(2, listprop::Width), "250");
        EXPECT_EQ(w.property(2, listprop::YPos), "8");
        EXPECT_EQ(w.controlRect(2).width, 250);
        EXPECT_EQ(w.controlRect(2).x, 4);
        Window::Factors f = w.factors();
        int px = std::stoi(w.property(2, listColumnProperty(listprop::ColumnPixelWidth, 1)));
        EXPECT_EQ(px, mulDiv(100, f.xMul, f.xDiv));
        int left1 = std::stoi(w.property(2, listColumnProperty(listprop::ColumnPixelLeft, 1)));
        int left2 = std::stoi(w.property(2, listColumnProperty(listprop::ColumnPixelLeft, 2)));
        EXPECT_EQ(left2 - left1, px);
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::ColumnPixelWidth, 4)), "");
        w.setProperty(2, listprop::MarkedColumn, "2");
        EXPECT_EQ(w.property(2, listprop::MarkedColumn), "2");

        // Styles: a style field picks one per row, Z(n) gives a column its default.
        w.setProperty(2, listprop::Format, "80L(2)Y~Company~@s30@80L(2)~City~Z(3)@s20@");
        auto styled = std::make_shared<ListRowsData>();
        styled->rows = {{"Styled", "2", "Default"}, {"Plain", "0", "Default"}};
        w.setData(2, styled);
        w.setProperty(2, listprop::Selected, "0");
        w.setProperty(2, listColumnProperty(listprop::StyleBackground, 2), std::to_string(0x00FF00));
        w.setProperty(2, listColumnProperty(listprop::StyleFontStyle, 2), "4796");
        w.setProperty(2, listColumnProperty(listprop::StyleBackground, 3), std::to_string(0xFF0000));
        w.setProperty(2, listColumnProperty(listprop::StyleForeground, 0), "255"); // style 0: none
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleBackground, 2)), std::to_string(0x00FF00));
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleFontStyle, 2)), "4796");
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleFontSize, 2)),
                  w.property(2, listprop::FontSize)); // a style's font starts as the list's
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleForeground, 2)), "-1");
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleFontStyle, 3)), "0"); // no font of its own
        EXPECT_EQ(w.property(2, listColumnProperty(listprop::StyleForeground, 0)), "");
        auto colours = onGui([] {
            ListBox* list = theList();
            QImage img = list->viewport()->grab().toImage();
            auto inside = [&](int row, int column) {
                QRect r = list->cellRect(row, column);
                return img.pixelColor(r.right() - 3, r.top() + 1);
            };
            return std::vector<QColor>{inside(1, 1), inside(2, 1), inside(1, 2),
                                       list->palette().color(QPalette::Base)};
        });
        EXPECT_EQ(colours[0], QColor(0, 255, 0));
        EXPECT_EQ(colours[1], colours[3]); // style field 0: no style
        EXPECT_EQ(colours[2], QColor(0, 0, 255));

        w.setProperty(2, listprop::FontStyle, "700");
        EXPECT_EQ(w.property(2, listprop::FontStyle), "700");
        w.setProperty(2, listprop::Format, "");
        w.setProperty(2, listprop::SourceFields, "3");
        EXPECT_EQ(w.property(2, listprop::Format), "");
        EXPECT_EQ(onGui([] { return int(theList()->model().columns().size()); }), 3);
        w.close();
    });
}
