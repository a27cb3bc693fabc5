// The list box widget under the offscreen platform: mouse positions and zones, fixed groups while
// scrolling, column resizing, the events of keys, wheel and scroll bar in both paging modes,
// drawing checked on the grabbed image, accessibility as a table, and a large list that the
// program fills from its own thread.
#include "windowing/listbox.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QThread>
#include <atomic>
#include <thread>

using namespace sorv;
using namespace sorv::win;

namespace {

// One application for the whole program, made before the first test and gone before the
// process's exit handlers run (Qt's own statics would be gone by then).
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_windowing_listbox";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};
[[maybe_unused]] auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class ListBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        list = std::make_unique<ListBox>();
        list->setUnits(1, 1, 1, 1);
        list->setLineHeight(16);
        list->setControl(7);
        list->resize(420, 220);
        list->show();
        QApplication::processEvents();
        list->onEvent = [this](const Event& e) { events.push_back(e); };
    }
    void TearDown() override { list.reset(); }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton,
               Qt::MouseButtons held = Qt::NoButton) {
        QPointF global = list->viewport()->mapToGlobal(QPointF(at));
        QMouseEvent e(type, QPointF(at), global, button, held, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &e);
    }
    void press(QPoint at, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::MouseButtonPress, at, b, b); }
    void moveTo(QPoint at, Qt::MouseButtons held = Qt::LeftButton) {
        mouse(QEvent::MouseMove, at, Qt::NoButton, held);
    }
    void release(QPoint at, Qt::MouseButton b = Qt::LeftButton) {
        mouse(QEvent::MouseButtonRelease, at, b, Qt::NoButton);
    }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent e(QEvent::KeyPress, k, mods);
        QApplication::sendEvent(list.get(), &e);
    }
    std::vector<int> codes() const {
        std::vector<int> out;
        for (const auto& e : events) out.push_back(e.code);
        return out;
    }
    static std::vector<ListRow> rows(int n, int fields) {
        std::vector<ListRow> out;
        for (int r = 1; r <= n; ++r) {
            ListRow row;
            for (int f = 1; f <= fields; ++f)
                row.push_back("r" + std::to_string(r) + "f" + std::to_string(f));
            out.push_back(std::move(row));
        }
        return out;
    }
    QImage shot() { return list->viewport()->grab().toImage(); }

    std::unique_ptr<ListBox> list;
    std::vector<Event> events;
};

const char* kCustomer = "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@";

} // namespace

TEST_F(ListBoxTest, ZonesAndMousePositions) {
    list->setFormat(kCustomer);
    list->setRows(rows(3, 3));
    const int header = list->model().headerHeight();
    EXPECT_EQ(header, 18);
    // On a header cell: row 0, its column, inside.
    EXPECT_EQ(list->hitTest({40, 5}), (ListPoint{0, 1, zone::Text}));
    // On the border between the first two columns: the left column, zone 1.
    EXPECT_EQ(list->hitTest({80, 5}).zone, zone::Border);
    EXPECT_EQ(list->hitTest({80, 5}).column, 1);
    EXPECT_EQ(list->hitTest({79, header + 20}), (ListPoint{2, 1, zone::Border}));
    // Right of the last column: no column, zone 6, on the header as on a row.
    EXPECT_EQ(list->hitTest({300, 5}), (ListPoint{0, 0, zone::None}));
    EXPECT_EQ(list->hitTest({300, header + 3}), (ListPoint{1, 0, zone::None}));
    EXPECT_EQ(list->hitTest({120, header + 16 + 3}), (ListPoint{2, 2, zone::Text}));
    // Below the last row.
    EXPECT_EQ(list->hitTest({120, header + 16 * 3 + 3}).row, -1);

    // The positions are kept before the owner's hook sees the action.
    std::vector<std::pair<ListMouse, ListPoint>> seen;
    list->onMouse = [&](ListMouse kind, const ListPoint& p, const QPoint&) {
        ListPoint kept = kind == ListMouse::LeftDown ? list->pressPoint()
                         : kind == ListMouse::Move   ? list->movePoint()
                         : kind == ListMouse::LeftUp ? list->releasePoint()
                                                     : p;
        EXPECT_EQ(kept, p);
        seen.emplace_back(kind, p);
    };
    press({100, 5});
    moveTo({300, 5});
    release({300, 5});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(list->pressPoint(), (ListPoint{0, 2, zone::Text}));
    EXPECT_EQ(list->movePoint().zone, zone::None);
    EXPECT_EQ(list->releasePoint().column, 0);
    // A header press selects nothing.
    EXPECT_EQ(list->selected(), 0);
    press({100, header + 20});
    release({100, header + 20});
    EXPECT_EQ(list->selected(), 2);
    EXPECT_EQ(codes(), (std::vector<int>{event::NewSelection}));
    EXPECT_EQ(events[0].control, 7);
}

TEST_F(ListBoxTest, FixedGroupStaysWhileTheRestScrollsByGroups) {
    list->setFormat("60L~Fix~FE(,0FFH)80L~A~E(,0FF00H)80L~B~E(,0FF0000H)[40L~C~40L~D~]");
    list->setHorizontalBar(true);
    list->setRows(rows(4, 5));
    EXPECT_EQ(list->model().horizontalScrollRange(), 2);
    EXPECT_EQ(list->headerRect(2).left(), 60);
    const int y = list->model().headerHeight() + 5;
    QImage before = shot();
    EXPECT_EQ(before.pixelColor(10, y), QColor(255, 0, 0));
    EXPECT_EQ(before.pixelColor(70, y), QColor(0, 255, 0));

    key(Qt::Key_Right);
    EXPECT_EQ(list->horizontalPosition(), 1);
    EXPECT_EQ(list->horizontalScrollBar()->value(), 1);
    EXPECT_EQ(list->headerRect(1).left(), 0);
    EXPECT_TRUE(list->headerRect(2).isEmpty());
    EXPECT_EQ(list->headerRect(3).left(), 60);
    EXPECT_EQ(list->hitTest({70, y}).column, 3);
    QImage after = shot();
    EXPECT_EQ(after.pixelColor(10, y), QColor(255, 0, 0));
    EXPECT_EQ(after.pixelColor(70, y), QColor(0, 0, 255));
    // The selection stops where the shown groups end (60 + 80 + 80), not at their total width.
    list->setSelected(1);
    after = shot();
    EXPECT_EQ(after.pixelColor(219, y), list->palette().color(QPalette::Highlight));
    EXPECT_EQ(after.pixelColor(230, y), list->palette().color(QPalette::Base));

    // Scrolling stops at the range; a bracketed group scrolls as one.
    list->setHorizontalPosition(9);
    EXPECT_EQ(list->horizontalPosition(), 2);
    EXPECT_EQ(list->headerRect(4).left(), 60);
    EXPECT_EQ(list->headerRect(5).left(), 100);
    EXPECT_EQ(list->headerRect(1).left(), 0);
}

TEST_F(ListBoxTest, OneFieldScrollsByPixels) {
    list->setFormat("80L~Only~");
    list->setHorizontalBar(true);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 400);
    list->setHorizontalPosition(30);
    EXPECT_EQ(list->headerRect(1).left(), -30);
}

TEST_F(ListBoxTest, DraggingABorderResizesAndPostsColumnResize) {
    list->setFormat(kCustomer);
    list->setRows(rows(2, 3));
    // A border only clicked, or dragged and brought back, resizes nothing.
    press({80, 5});
    release({80, 5});
    press({81, 5});
    moveTo({90, 5});
    moveTo({81, 5});
    release({81, 5});
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(list->model().columns()[0].width, 80);
    // Taken a pixel right of the border, the border keeps that distance from the mouse.
    press({81, 5});
    moveTo({101, 5});
    EXPECT_EQ(list->model().columns()[0].width, 100);
    release({101, 5});
    events.clear();
    list->setFormat(kCustomer);
    press({80, 5});
    moveTo({100, 5});
    moveTo({121, 5});
    EXPECT_TRUE(events.empty()); // only the release posts
    release({121, 5});
    EXPECT_EQ(codes(), (std::vector<int>{event::ColumnResize}));
    EXPECT_EQ(list->model().columns()[0].width, 121);
    EXPECT_EQ(list->columnProperty(0x7E04, 1).toLong(), 121);
    EXPECT_EQ(list->headerRect(2).left(), 121);
    EXPECT_EQ(list->format(), "121L(2)|M~Company~@s30@80L(2)|M~City~@s20@80L(2)|M~Country~@s20@");
    // A column that is not resizable keeps its width.
    events.clear();
    list->setFormat("80L~A~80L~B~");
    press({80, 5});
    moveTo({140, 5});
    release({140, 5});
    EXPECT_EQ(list->model().columns()[0].width, 80);
    EXPECT_TRUE(events.empty());
}

TEST_F(ListBoxTest, DoubleClickOnADividerFitsTheColumn) {
    list->setFormat(kCustomer);
    std::vector<ListRow> r = rows(3, 3);
    r[1][0] = "A much longer company name than the column";
    list->setRows(r);
    mouse(QEvent::MouseButtonDblClick, {80, 30});
    EXPECT_EQ(codes(), (std::vector<int>{event::ColumnResize}));
    int want = list->widestText(1) + 2 + 2;
    EXPECT_NEAR(list->model().columns()[0].width, want, 1);
    EXPECT_GT(list->model().columns()[0].width, 80);
    // On a row it is an accepted double click; with key 5 as an alert key, an alert.
    events.clear();
    mouse(QEvent::MouseButtonDblClick, {20, list->model().headerHeight() + 3});
    ASSERT_EQ(codes(), (std::vector<int>{event::Accepted}));
    EXPECT_EQ(events[0].keyCode, key::DoubleClick);
    events.clear();
    list->setAlertKeys({key::DoubleClick, key::RightUp});
    mouse(QEvent::MouseButtonDblClick, {20, list->model().headerHeight() + 3});
    press({20, 30}, Qt::RightButton);
    release({20, 30}, Qt::RightButton);
    ASSERT_EQ(codes(), (std::vector<int>{event::AlertKey, event::AlertKey}));
    EXPECT_EQ(events[1].keyCode, key::RightUp);
}

TEST_F(ListBoxTest, ProgramPagedListGivesScrollEvents) {
    list->setFormat(kCustomer);
    list->setProgramPaged(true);
    list->setRows(rows(10, 3));
    list->setSelected(3);
    list->setThumb(40);
    key(Qt::Key_Up);
    key(Qt::Key_Down);
    key(Qt::Key_PageUp);
    key(Qt::Key_PageDown);
    key(Qt::Key_Home);
    key(Qt::Key_End);
    key(Qt::Key_Return);
    EXPECT_EQ(codes(), (std::vector<int>{event::ScrollUp, event::ScrollDown, event::PageUp, event::PageDown,
                                         event::ScrollTop, event::ScrollBottom, event::Accepted}));
    EXPECT_EQ(list->selected(), 3); // the program moves the selection
    events.clear();
    QWheelEvent wheel(QPointF(20, 40), list->viewport()->mapToGlobal(QPointF(20, 40)), QPoint(),
                      QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list->viewport(), &wheel);
    EXPECT_EQ(codes(), (std::vector<int>{event::ScrollDown, event::ScrollDown}));
    // The scroll bar: a page click is a page event and leaves the thumb where the program put it.
    events.clear();
    QScrollBar* bar = list->verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(codes(), (std::vector<int>{event::PageDown}));
    EXPECT_EQ(list->thumb(), 40);
    EXPECT_EQ(bar->value(), 40);
    // A dragged thumb is reported when it is let go.
    events.clear();
    bar->setSliderDown(true);
    bar->setSliderPosition(75);
    EXPECT_TRUE(events.empty());
    bar->setSliderDown(false);
    EXPECT_EQ(codes(), (std::vector<int>{event::ScrollDrag}));
    EXPECT_EQ(list->thumb(), 75);
    // Alert keys come before the list's own handling.
    events.clear();
    list->setAlertKeys({key::Alt | 0x7A, 0x2D});
    key(Qt::Key_F11, Qt::AltModifier);
    key(Qt::Key_Insert);
    key(Qt::Key_Down);
    ASSERT_EQ(codes(), (std::vector<int>{event::AlertKey, event::AlertKey, event::ScrollDown}));
    EXPECT_EQ(events[0].keyCode, 0x47A);
    EXPECT_EQ(events[1].keyCode, 0x2D);
}

TEST_F(ListBoxTest, QueueListMovesTheSelectionItself) {
    list->setFormat(kCustomer);
    list->setRows(rows(50, 3));
    const int page = list->visibleRows();
    ASSERT_GT(page, 3);
    key(Qt::Key_Down);
    EXPECT_EQ(list->selected(), 1);
    key(Qt::Key_PageDown);
    EXPECT_EQ(list->selected(), 1 + page);
    key(Qt::Key_End);
    EXPECT_EQ(list->selected(), 50);
    EXPECT_EQ(list->firstRow(), 50 - page + 1);
    EXPECT_EQ(list->thumb(), 100);
    key(Qt::Key_Down); // already the last: no new selection
    key(Qt::Key_Home);
    EXPECT_EQ(list->firstRow(), 1);
    EXPECT_EQ(list->thumb(), 0);
    EXPECT_EQ(codes(), std::vector<int>(4, event::NewSelection));
    list->setThumb(50);
    EXPECT_EQ(list->firstRow(), 1 + (50 - page + 1) / 2);
    // Fewer rows than before: the selection stays within them.
    list->setRows(rows(5, 3));
    EXPECT_LE(list->selected(), 5);
    EXPECT_EQ(list->firstRow(), 1);
}

TEST_F(ListBoxTest, DrawsColoursBordersUnderlinesAndSelection) {
    list->setFormat("80L|~A~E(0FFH,0FF00H,0FF0000H,0FFFFH)80L_*~B~80L~C~");
    std::vector<ListRow> r = {{"a", "b", "-1", "0FF0000H", "-1", "-1", "c"},
                              {"a2", "b2", "255", "-1", "-1", "-1", "c2"}};
    r[0][3] = std::to_string(0x00FFFF); // yellow background from the colour field
    list->setRows(r);
    const int header = list->model().headerHeight();
    QImage img = shot();
    const QColor mid = list->palette().color(QPalette::Mid);
    EXPECT_EQ(img.pixelColor(40, header + 4), QColor(0, 255, 0)); // default background
    EXPECT_EQ(img.pixelColor(79, header + 4).rgb(), mid.rgb());   // right border
    EXPECT_EQ(img.pixelColor(78, header + 4), QColor(0, 255, 0));
    EXPECT_EQ(img.pixelColor(120, header + 4), QColor(255, 255, 0)); // colour field
    EXPECT_EQ(img.pixelColor(120, header + 15).rgb(), mid.rgb());    // underline
    // Row 2: no background field value (-1) and no default: the system colour.
    EXPECT_EQ(img.pixelColor(120, header + 16 + 4), list->palette().color(QPalette::Base));
    list->setSelected(1);
    img = shot();
    EXPECT_EQ(img.pixelColor(40, header + 4), QColor(255, 255, 0)); // selected background 0FFFFH
    EXPECT_EQ(img.pixelColor(200, header + 4), list->palette().color(QPalette::Highlight));
    // A marked column is framed from its header down, rows or not.
    list->setMarkedColumn(2);
    img = shot();
    EXPECT_EQ(img.pixelColor(81, 150), list->palette().color(QPalette::Highlight));
    EXPECT_EQ(img.pixelColor(158, 150), list->palette().color(QPalette::Highlight));
    EXPECT_EQ(img.pixelColor(120, 150), list->palette().color(QPalette::Base));
    list->setMarkedColumn(4); // no such column
    EXPECT_EQ(list->markedColumn(), 0);
    EXPECT_EQ(shot().pixelColor(81, 150), list->palette().color(QPalette::Base));
}

namespace {

// The first and last pixel columns of `r` where anything other than `background` was drawn
// (-1, -1 when nothing was).
std::pair<int, int> inkSpan(const QImage& img, const QRect& r, const QColor& background) {
    int first = -1, last = -1;
    for (int x = r.left(); x <= r.right(); ++x)
        for (int y = r.top(); y <= r.bottom(); ++y) {
            QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) >
                120) {
                if (first < 0) first = x;
                last = x;
                break;
            }
        }
    return {first, last};
}

} // namespace

TEST_F(ListBoxTest, HeaderAndCellPlacementByJustificationAndIndent) {
    // Four 100-pixel columns whose headers are placed Left +4, Right -6, Centre shifted by 10
    // and Decimal at -24; the data of the last two are decimal-aligned at -20 and -30.
    list->resize(560, 220);
    list->setFormat("100L(4)~Name~100L~Amount~R(6)100L~Mid~C(10)100D(20)~12.5~D(24)100D(30)~1234.5~D(24)");
    list->setRows({{"a", "b", "c", "1.5", "1.5"}, {"a", "b", "c", "123.5", "7"}, {"a", "b", "c", "7", "-"}});
    QApplication::processEvents();
    const QImage img = shot();
    const QColor band = list->palette().color(QPalette::Button);
    const QColor base = list->palette().color(QPalette::Base);
    const QFontMetrics fm(list->font());
    const int line = 16;
    auto headerInk = [&](int column) {
        QRect r = list->headerRect(column);
        return inkSpan(img, QRect(r.left(), r.top() + 1, r.width() - 2, line - 2), band);
    };
    auto cellInk = [&](int row, int column) {
        QRect r = list->cellRect(row, column);
        return inkSpan(img, QRect(r.left(), r.top() + 1, r.width() - 1, r.height() - 2), base);
    };
    // Glyphs have side bearings and antialiased edges: a pixel or two either way.
    constexpr int slack = 2;
    auto [nameL, nameR] = headerInk(1);
    EXPECT_NEAR(nameL, 0 + 4, slack);
    auto [amountL, amountR] = headerInk(2);
    EXPECT_NEAR(amountR, 200 - 6 - 1, slack);
    EXPECT_GT(amountL, 100 + 6);
    auto [midL, midR] = headerInk(3);
    EXPECT_NEAR((midL + midR) / 2.0, 250 + 10, slack);
    // Decimal: the "." stands at right - indent in both headers, whatever comes before it, so
    // the ".5" after it ends at the same place in each column.
    ASSERT_GT(24, fm.horizontalAdvance(".5") + 2) << "the text after the point must fit in the indent";
    auto [d1L, d1R] = headerInk(4);
    auto [d2L, d2R] = headerInk(5);
    EXPECT_NEAR(d1R - 300, d2R - 400, 1); // text advances are rounded to whole pixels
    EXPECT_NEAR(d1R, 400 - 24 + fm.horizontalAdvance(".5") - 1, slack);
    EXPECT_LT(d2L - 400, d1L - 300); // the longer text reaches further left

    // Data cells: decimal points under one another at right - indent; a value without one ends
    // there.
    EXPECT_NEAR(cellInk(1, 4).second, cellInk(2, 4).second, 1);
    EXPECT_LT(cellInk(2, 4).first, cellInk(1, 4).first);
    EXPECT_NEAR(cellInk(3, 4).second, 400 - 20 - 1, slack);
    EXPECT_NEAR(cellInk(1, 4).second, 400 - 20 + fm.horizontalAdvance(".5") - 1, slack);
    EXPECT_NEAR(cellInk(2, 5).second, 500 - 30 - 1, slack);
}

TEST_F(ListBoxTest, GroupHeadersMultiLineHeadersAndRowsOfTwoLines) {
    // A group of two lines per row under a centred group header, beside a column whose header
    // has two lines.
    list->setFormat("[80L(2)~Company~/80L(2)~City~](120)~Firm~60L(2)~First\nSecond~");
    list->setRows(rows(3, 3));
    ASSERT_EQ(list->model().columns().size(), 3u);
    const int header = list->model().headerHeight();
    EXPECT_EQ(header, 2 + 32 + 16); // two row lines with headers, under one line of group header
    EXPECT_EQ(list->model().rowHeight(), 32);
    EXPECT_EQ(list->headerRect(1), QRect(0, 16, 80, 16));
    EXPECT_EQ(list->headerRect(2), QRect(0, 32, 80, 16));
    EXPECT_EQ(list->headerRect(3).topLeft(), QPoint(120, 0));
    EXPECT_GE(list->headerRect(3).height(), 32);
    // The second line of a row belongs to the same row.
    EXPECT_EQ(list->cellRect(1, 2), QRect(0, header + 16, 80, 16));
    EXPECT_EQ(list->hitTest({10, header + 20}), (ListPoint{1, 2, zone::Text}));
    EXPECT_EQ(list->hitTest({10, header + 32 + 4}), (ListPoint{2, 1, zone::Text}));
    EXPECT_EQ(list->hitTest({130, header + 4}), (ListPoint{1, 3, zone::Text}));
    EXPECT_EQ(list->cellText(2, 2), "r2f2");
    // On the group header there is no column.
    EXPECT_EQ(list->hitTest({40, 5}).column, 0);

    const QImage img = shot();
    const QColor band = list->palette().color(QPalette::Button);
    auto [firmL, firmR] = inkSpan(img, QRect(0, 1, 118, 14), band);
    ASSERT_GE(firmL, 0);
    EXPECT_NEAR((firmL + firmR) / 2.0, 60, 2); // a new group's header is centred
    // Both lines of the two-line header are drawn, each at the column's left + 2.
    EXPECT_NEAR(inkSpan(img, QRect(120, 1, 58, 14), band).first, 122, 2);
    EXPECT_NEAR(inkSpan(img, QRect(120, 17, 58, 14), band).first, 122, 2);
    // Row texts on both lines of the first row.
    const QColor base = list->palette().color(QPalette::Base);
    EXPECT_NEAR(inkSpan(img, QRect(0, header + 1, 78, 14), base).first, 2, 2);
    EXPECT_NEAR(inkSpan(img, QRect(0, header + 17, 78, 14), base).first, 2, 2);
}

TEST_F(ListBoxTest, IconsTreesStylesAndScreenshot) {
    list->setFormat("[100L(2)IT~Name~80D(24)~Amount~R(2)@n10.2@](200)|~Group header~"
                    "90C~Line one\nLine two~Y@s20@");
    QPixmap pm(16, 16);
    pm.fill(QColor(200, 0, 200));
    list->setIcons({QIcon(pm)});
    ListStyle bold;
    bold.hasFont = true;
    bold.font = list->font();
    bold.font.setBold(true);
    bold.background = 0xC0FFC0;
    list->setStyle(2, bold);
    list->setRows({{"Root", "1", "1", "12.50", "plain", "0"},
                   {"Child", "1", "2", "1234.25", "styled", "2"},
                   {"Leaf", "0", "3", "7", "plain", "0"}});
    list->setSelected(3);
    EXPECT_EQ(list->model().headerHeight(), 2 + 32);
    const int header = list->model().headerHeight();
    const int rh = list->model().rowHeight();
    // Row 1 is at tree level 1: one icon area (five quarters of the row) of tree, then the icon.
    EXPECT_EQ(list->hitTest({2 + 20 * 5 / 4 + 3, header + 3}).zone, zone::Icon);
    EXPECT_EQ(list->hitTest({5, header + 2 * rh + 3}).zone, zone::Tree);
    EXPECT_EQ(list->hitTest({90, header + 3}).zone, zone::Text);
    EXPECT_EQ(list->cellText(2, 2), "1,234.25"); // through its picture
    EXPECT_EQ(list->cellText(1, 3), "plain");
    QImage img = shot();
    // The styled row's cell takes the style's background; the icon is drawn after the tree.
    EXPECT_EQ(img.pixelColor(260, header + rh + 2), QColor(0xC0, 0xFF, 0xC0));
    EXPECT_EQ(img.pixelColor(260, header + 2), list->palette().color(QPalette::Base));
    EXPECT_EQ(img.pixelColor(30, header + 8), QColor(200, 0, 200));
    // The group's right border follows its explicit width (200 and the border line).
    EXPECT_EQ(img.pixelColor(200, header + 8).rgb(), list->palette().color(QPalette::Mid).rgb());
    QString path = QStringLiteral(SORV_TEST_BINARY_DIR "/listbox.png");
    list->resize(420, 160);
    QApplication::processEvents();
    EXPECT_TRUE(list->grab().save(path));
}

TEST_F(ListBoxTest, TreeLevelsLinesBoxesAndOptions) {
    // Fields: text, icon, level. Level 1 is the root; a negative level is a collapsed node.
    const std::vector<ListRow> tree = {
        {"Root", "0", "1"}, {"Child", "0", "2"}, {"Child2", "0", "2"}, {"Root2", "0", "-1"}};
    list->setFormat("120L(2)IT~Tree~");
    list->setRows(tree);
    const int header = list->model().headerHeight();
    auto top = [&](int row) { return header + (row - 1) * 16; };
    const QRgb line = list->palette().color(QPalette::Mid).rgb();
    const QRgb base = list->palette().color(QPalette::Base).rgb();
    const QRgb sign = list->palette().color(QPalette::Text).rgb();
    auto at = [](const QImage& img, int x, int y) { return img.pixelColor(x, y).rgb(); };
    // An icon area is 20 pixels (five quarters of the 16-pixel line): a root takes one for its
    // lines, a child two; the icon follows.
    EXPECT_EQ(list->hitTest({35, top(2) + 5}).zone, zone::Tree);
    EXPECT_EQ(list->hitTest({45, top(2) + 5}).zone, zone::Icon);
    EXPECT_EQ(list->hitTest({65, top(2) + 5}).zone, zone::Text);
    EXPECT_EQ(list->hitTest({25, top(1) + 5}).zone, zone::Icon);
    QImage img = shot();
    EXPECT_EQ(at(img, 10, top(3) + 13), line); // the root line runs on to Root2
    EXPECT_EQ(at(img, 30, top(2) + 13), line); // Child goes on to Child2
    EXPECT_EQ(at(img, 30, top(3) + 2), line);  // Child2 hangs from above
    EXPECT_EQ(at(img, 30, top(3) + 13), base); // and is the last of its level
    EXPECT_EQ(at(img, 5, top(1) + 8), line);   // Root has children: a box
    EXPECT_EQ(at(img, 10, top(1) + 8), sign);  // with a minus
    EXPECT_EQ(at(img, 10, top(1) + 5), base);
    EXPECT_EQ(at(img, 10, top(4) + 5), sign); // Root2 is collapsed: a plus
    EXPECT_EQ(at(img, 25, top(2) + 8), base); // no box on a leaf, only its connector
    EXPECT_EQ(at(img, 35, top(2) + 8), line);
    EXPECT_EQ(at(img, 30, top(2) + 5), line);
    EXPECT_EQ(at(img, 25, top(2) + 5), base);

    // "L" leaves the lines out, "B" the boxes.
    list->setFormat("120L(2)IT(L)~Tree~");
    img = shot();
    EXPECT_EQ(at(img, 10, top(3) + 13), base);
    EXPECT_EQ(at(img, 5, top(1) + 8), line);
    list->setFormat("120L(2)IT(B)~Tree~");
    img = shot();
    EXPECT_EQ(at(img, 5, top(1) + 8), base);
    EXPECT_EQ(at(img, 10, top(3) + 13), line);
    // "R": no root lines, so roots take no area; "I": no indentation at all.
    list->setFormat("120L(2)IT(R)~Tree~");
    EXPECT_EQ(list->hitTest({5, top(1) + 5}).zone, zone::Icon);
    EXPECT_EQ(list->hitTest({15, top(2) + 5}).zone, zone::Tree);
    EXPECT_EQ(list->hitTest({25, top(2) + 5}).zone, zone::Icon);
    list->setFormat("120L(2)IT(I)~Tree~");
    EXPECT_EQ(list->hitTest({5, top(2) + 5}).zone, zone::Icon);
    // "1": level 0 is the root, so level 1 is a child.
    list->setFormat("120L(2)IT(1)~Tree~");
    EXPECT_EQ(list->hitTest({25, top(1) + 5}).zone, zone::Tree);
    // New rows give new depths.
    list->setFormat("120L(2)IT~Tree~");
    list->setRows({{"Deep", "0", "4"}});
    EXPECT_EQ(list->hitTest({75, top(1) + 5}).zone, zone::Tree);
    EXPECT_EQ(list->hitTest({85, top(1) + 5}).zone, zone::Icon);
}

// Headers, rows and cells as a screen reader reads them, kept current as rows and headers change,
// are what every test of the real program reads its lists through (tests/app/list_rig.h); here
// what those tests do not use: roles, indexes, header cells, the selection and selecting.
TEST_F(ListBoxTest, AccessibleAsATable) {
    QAccessible::setActive(true);
    list->setFormat(kCustomer);
    list->setRows(rows(4, 3));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list.get());
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Table);
    QAccessibleTableInterface* table = iface->tableInterface();
    ASSERT_NE(table, nullptr);
    QAccessibleInterface* cell = table->cellAt(2, 1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    ASSERT_NE(cell->tableCellInterface(), nullptr);
    EXPECT_EQ(cell->tableCellInterface()->rowIndex(), 2);
    auto headers = cell->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers[0]->text(QAccessible::Name), "City");
    EXPECT_EQ(iface->childCount(), 3 * 5);
    EXPECT_EQ(iface->indexOfChild(cell), 3 * 3 + 1);
    list->setSelected(3);
    EXPECT_EQ(table->selectedRows(), QList<int>{2});
    EXPECT_TRUE(table->cellAt(2, 0)->tableCellInterface()->isSelected());
    list->setRows({{"x", "y", "z"}, {"p", "q", "r"}});
    EXPECT_EQ(table->cellAt(3, 0), nullptr);
    // Selecting through the interface is a user selection.
    events.clear();
    EXPECT_TRUE(table->selectRow(0));
    EXPECT_EQ(list->selected(), 1);
    EXPECT_FALSE(table->selectRow(2));
    EXPECT_EQ(codes(), (std::vector<int>{event::NewSelection}));
}

TEST_F(ListBoxTest, LargeListFilledFromAProgramThread) {
    std::string format;
    for (int c = 1; c <= 20; ++c) format += "60L(1)|M~Col " + std::to_string(c) + "~@s10@";
    list->setFormat(format);
    list->setHorizontalBar(true);
    ASSERT_EQ(list->model().columns().size(), 20u);

    // The program's queue lives on its own thread; it pushes a copy and goes on changing its data.
    std::vector<ListRow> queue = rows(10000, 20);
    std::atomic<bool> pushed{false};
    std::thread program([&] {
        std::vector<ListRow> copy = queue;
        QMetaObject::invokeMethod(
            list.get(), [&, copy = std::move(copy)]() mutable { list->setRows(std::move(copy)); },
            Qt::BlockingQueuedConnection);
        pushed = true;
        for (auto& row : queue) row.assign(20, "changed");
        queue.clear();
        queue.shrink_to_fit();
    });
    while (!pushed) QApplication::processEvents(QEventLoop::AllEvents, 10);
    program.join();

    ASSERT_EQ(list->rowCount(), 10000);
    key(Qt::Key_End);
    EXPECT_EQ(list->selected(), 10000);
    EXPECT_EQ(list->cellText(10000, 20), "r10000f20");
    for (int i = 0; i < 40; ++i) key(Qt::Key_PageUp);
    for (int i = 0; i < 19; ++i) key(Qt::Key_Right);
    EXPECT_EQ(list->horizontalPosition(), 19); // 20 groups scroll by 19 at most
    key(Qt::Key_Right);
    EXPECT_EQ(list->horizontalPosition(), 19);
    (void)shot();
    int sel = list->selected();
    EXPECT_EQ(list->cellText(sel, 1), QString("r%1f1").arg(sel));
    EXPECT_GE(sel, list->firstRow());
    EXPECT_LT(sel, list->firstRow() + list->visibleRows());
}
