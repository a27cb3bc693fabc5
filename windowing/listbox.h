// The list box control (GUI thread only): draws the column model of a list format string over a
// copy of the rows that the program pushed, keeps the mouse positions (row, column, zone) that
// the program reads, and turns keys, the wheel, the mouse and its scroll bars into events.
//
// The widget never reads program data: the program pushes the rows of its queue (field texts)
// whenever it redisplays the list, and the widget formats the cells with their pictures.
#pragma once
#include "runtime/field.h"
#include "runtime/listformat.h"
#include "windowing/events.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sorv::win {

// Where a point lies: row 0 is the header band, rows from 1 count the pushed rows (the row of a
// point below the last row is -1); column is 1-based in format order, 0 on no column.
struct ListPoint {
    int row = 0;
    int column = 0;
    int zone = 0;
    bool operator==(const ListPoint&) const = default;
};

namespace zone {
enum : int {
    Border = 1, // on a column's right border (the column left of it is reported)
    Text = 2,   // inside a cell
    Icon = 3,   // on the icon of a cell
    Tree = 4,   // on the tree lines of a cell
    None = 6,   // right of the last column
};
}

// The raw mouse actions a list's owner may hook (the browse enhancement does, for its header
// handling); each comes after the list has updated its own mouse positions.
enum class ListMouse { LeftDown, LeftUp, Move, RightDown, RightUp, DoubleClick };

// Key codes as the program sees them: the key (letters and digits as their upper-case
// character, others as the desktop's virtual key numbers) plus 0x100 Shift, 0x200 Ctrl and
// 0x400 Alt; mouse keys 5 (double click) and 0x82 (right button released).
namespace key {
enum : int {
    DoubleClick = 5,
    RightUp = 0x82,
    Enter = 0x0D,
    Shift = 0x100,
    Ctrl = 0x200,
    Alt = 0x400,
    // Any printable character typed without Ctrl or Alt: a list that has this alert key posts
    // the alert with the character's Unicode code point added (locators take every character).
    Typed = 0x1000000,
};
}

using ListRow = std::vector<std::string>; // the texts of one queue entry's fields, field 1 first

// A queue's entries as the program copied them for a list: the layout of their fields and their
// bytes one after the other. Never changed once pushed, so the list reads it on its own thread;
// a row's texts are made when the list first needs that row (texts without their padding, which
// the column's picture gives back), so a list of a million entries holds their bytes, not a
// million rows of texts.
struct ListEntries {
    Layout layout;
    std::uint32_t size = 0; // bytes of one entry
    std::vector<std::uint8_t> bytes;
    int count() const { return size ? int(bytes.size() / size) : 0; }
    ListRow row(int index) const; // 0-based
};

// What a style number shows: a font of its own and colours (-1: unchanged).
struct ListStyle {
    bool hasFont = false;
    QFont font;
    int foreground = -1;
    int background = -1;
};

class ListBoxAccessible;
// Lets assistive technology see every list box as a table (done by the first list box made).
void installListBoxAccessibility();

class ListBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);
    ~ListBox() override;

    // The format (property 7C85) and the column properties (7E00-7E7F).
    void setFormat(const std::string& text);
    std::string format() const { return model_.format(); }
    Value columnProperty(int code, int column) const { return model_.property(code, column); }
    void setColumnProperty(int code, int column, const Value& value);
    const ListFormat& model() const { return model_; }

    // Dialog units of the window: pixels = units * factor / divisor. By default they follow the
    // list's font (a quarter of the average character width, an eighth of its height).
    void setUnits(int xFactor, int xDivisor, int yFactor, int yDivisor);
    // Fields of the list's source, for default columns.
    void setSourceFields(int fields);

    // The rows, as the program pushed them: as texts, or as a queue's entries.
    void setRows(std::vector<ListRow> rows);
    void setEntries(std::shared_ptr<const ListEntries> entries);
    int rowCount() const { return int(rows_.size()); }
    const ListRow* row(int row) const; // 1-based

    // List properties.
    int visibleRows() const;
    int selected() const { return selected_; } // 1-based, 0 for none
    void setSelected(int row);
    int firstRow() const { return first_; } // 1-based
    void setFirstRow(int row);
    // Thumb of the vertical scroll bar, 0 to 100.
    int thumb() const;
    void setThumb(int percent);
    // A browse pages the list itself: keys, the wheel and the scroll bar then give it scroll
    // events and EVENT:ScrollDrag instead of moving the selection over the rows.
    void setProgramPaged(bool on);
    bool programPaged() const { return paged_; }
    void setVerticalBar(bool on);
    bool verticalBar() const { return vbar_; }
    void setHorizontalBar(bool on);
    bool horizontalBar() const { return hbar_; }
    // Horizontal position: groups scrolled out, or pixels for a list of one field.
    int horizontalPosition() const { return hpos_; }
    void setHorizontalPosition(int position);
    // Height of one row line in pixels; 0 follows the font.
    void setLineHeight(int pixels);
    int lineHeight() const;
    void setListFont(const QFont& font, int colour = -1);
    int fontColour() const { return fontColour_; }
    void setIcons(std::vector<QIcon> icons);
    void setStyle(int number, const ListStyle& style);
    // The style of a number (an empty one when none was set).
    ListStyle style(int number) const;
    void setAlertKeys(std::vector<int> keys);
    // A column drawn marked (the one a dialog is editing), 0 for none.
    void setMarkedColumn(int column);
    int markedColumn() const { return marked_; }
    // The keyboard's column (1-based, 0 without columns): the column that the menu key and
    // Ctrl+Space act on, drawn with a focus frame on its header while keys work the list.
    int keyColumn() const;
    void setKeyColumn(int column);
    void setControl(int number) { control_ = number; }
    int control() const { return control_; }

    // Mouse positions: at the last press or double click, the last move, the last release.
    ListPoint hitTest(const QPoint& viewportPos) const;
    ListPoint pressPoint() const { return press_; }
    ListPoint movePoint() const { return move_; }
    ListPoint releasePoint() const { return release_; }

    // Geometry in viewport coordinates (empty when not shown), and the cell text as shown.
    QRect headerRect(int column) const;
    QRect cellRect(int row, int column) const;
    QString cellText(int row, int column) const;
    QString headerText(int column) const;
    // Widest shown text of a column over the rows, in pixels, and sizing a column to it plus its
    // data indent (a double click on its divider does this).
    int widestText(int column) const;
    void fitColumn(int column);

    // Events for the program (EVENT:NewSelection, EVENT:Accepted, scroll events, EVENT:ScrollDrag,
    // EVENT:ColumnResize, EVENT:AlertKey), with this list's control number.
    std::function<void(const Event&)> onEvent;
    std::function<void(ListMouse, const ListPoint&, const QPoint&)> onMouse;

    static int keyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers);
    // key::Typed plus the code point of the one printable character a key press types, else 0.
    static int typedCodeOf(const QKeyEvent& e);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    bool viewportEvent(QEvent*) override;

private:
    friend class ListBoxAccessible;
    void relayout();
    void updateBars();
    void post(int code, int keyCode = 0);
    bool alert(int keyCode);
    void moveSelection(int row);
    // What a click of the mouse (right: the right button) on the keyboard's column does, at a row
    // (0: its header).
    void keyboardClick(bool right, int row);
    int groupLeft(int group) const; // viewport x of a group, INT_MIN when not shown
    QString shown(int column, const std::string& raw) const;
    void drawAligned(class QPainter& p, const QRect& r, const QString& text, int just, int indent,
                     QChar decimal) const;
    void onVerticalAction(int action);
    void notifyAccessible(bool reset);
    // Width of one icon or tree level: five quarters of a row line.
    int iconArea() const;
    // Right edge of what is drawn of the groups.
    int shownRight() const;
    // The tree part of a cell: depth from the root, icon areas it takes before the icon, whether
    // the node is collapsed. Depths of a tree column's rows are read once per push of rows.
    struct TreeShape {
        int depth = 0;
        int areas = 0;
        bool collapsed = false;
    };
    TreeShape treeShape(int column, int row) const; // 0-based column, 1-based row
    const std::vector<int>& treeDepths(int column) const;
    void drawTree(class QPainter& p, const QRect& cell, int column, int row, const QColor& line,
                  const QColor& sign) const;

    ListFormat model_;
    // One row per pushed row; with entries_ a row is made from its entry when first read.
    mutable std::vector<ListRow> rows_;
    std::shared_ptr<const ListEntries> entries_;
    std::vector<QIcon> icons_;
    std::map<int, ListStyle> styles_;
    std::vector<int> alertKeys_;
    int control_ = 0;
    int marked_ = 0;
    int keyColumn_ = 1;
    bool keyColumnShown_ = false; // a key chose it, no mouse press since
    int selected_ = 0;
    int first_ = 1;
    int thumb_ = 0;
    int hpos_ = 0;
    bool paged_ = false;
    bool vbar_ = true;
    bool hbar_ = false;
    int lineHeight_ = 0;
    int fontColour_ = -1;
    bool unitsFromFont_ = true;
    int sourceFields_ = 0;
    ListPoint press_, move_, release_;
    // Header press and drag, and column resizing.
    int pressedHeader_ = 0;
    int dragX_ = 0, pressX_ = 0;
    bool dragging_ = false;
    int resizing_ = 0;
    bool syncingBar_ = false;
    int resizeFrom_ = 0; // the column's width when its border was taken
    mutable std::map<int, std::vector<int>> treeDepths_;
};

} // namespace sorv::win
