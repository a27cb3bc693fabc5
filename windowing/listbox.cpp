// The list box control: layout of groups on screen (fixed groups first, the rest scrolled by whole
// groups or, for a list of one field, by pixels), drawing, hit testing and input.
#include "windowing/listbox.h"

#include "runtime/picture.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>

namespace sorv::win {

namespace {

// Colours are 24-bit values with blue in the high byte; -1 is "none".
QColor colourOf(int v, const QColor& fallback) {
    if (v == -1) return fallback;
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

constexpr int kBorderSlop = 2; // pixels either side of a right edge that count as the border

} // namespace

ListBox::ListBox(QWidget* parent) : QAbstractScrollArea(parent) {
    installListBoxAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    setMouseTracking(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(QStringLiteral("List"));
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &ListBox::onVerticalAction);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [this] {
        if (!paged_) return;
        thumb_ = std::clamp(verticalScrollBar()->sliderPosition(), 0, 100);
        post(event::ScrollDrag);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (syncingBar_ || paged_) return;
        first_ = v + 1;
        viewport()->update();
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (syncingBar_) return;
        hpos_ = v;
        viewport()->update();
    });
    relayout();
}

ListBox::~ListBox() = default;

// ---- model and properties ----

void ListBox::relayout() {
    ListMetrics m = model_.metrics();
    QFontMetrics fm(font());
    if (unitsFromFont_) {
        m.xFactor = std::max(1, fm.averageCharWidth());
        m.xDivisor = 4;
        m.yFactor = std::max(1, fm.height());
        m.yDivisor = 8;
    }
    m.lineHeight = lineHeight();
    m.listWidth = viewport()->width();
    m.sourceFields = sourceFields_;
    model_.setMetrics(m);
    treeDepths_.clear();
    updateBars();
    viewport()->update();
    notifyAccessible(true);
}

void ListBox::setFormat(const std::string& text) {
    model_.setFormat(text);
    treeDepths_.clear();
    hpos_ = 0;
    updateBars();
    viewport()->update();
    notifyAccessible(true);
}

void ListBox::setColumnProperty(int code, int column, const Value& value) {
    model_.setProperty(code, column, value);
    treeDepths_.clear();
    updateBars();
    viewport()->update();
    notifyAccessible(true);
}

void ListBox::setUnits(int xFactor, int xDivisor, int yFactor, int yDivisor) {
    unitsFromFont_ = false;
    ListMetrics m = model_.metrics();
    m.xFactor = xFactor;
    m.xDivisor = xDivisor;
    m.yFactor = yFactor;
    m.yDivisor = yDivisor;
    model_.setMetrics(m);
    relayout();
}

void ListBox::setSourceFields(int fields) {
    sourceFields_ = std::max(0, fields);
    relayout();
}

ListRow ListEntries::row(int index) const {
    ListRow out;
    if (index < 0 || index >= count()) return out;
    const std::span<const std::uint8_t> entry(bytes.data() + std::size_t(index) * size, size);
    out.reserve(layout.count());
    for (const FieldDesc& d : layout.fields()) {
        std::string text = readField(d, entry).toText();
        if (isTextType(d.type)) text.erase(text.find_last_not_of(' ') + 1);
        out.push_back(std::move(text));
    }
    return out;
}

void ListBox::setEntries(std::shared_ptr<const ListEntries> entries) {
    std::vector<ListRow> rows(std::size_t(entries ? entries->count() : 0));
    setRows(std::move(rows));
    entries_ = std::move(entries);
}

void ListBox::setRows(std::vector<ListRow> rows) {
    entries_.reset();
    rows_ = std::move(rows);
    treeDepths_.clear();
    if (selected_ > rowCount()) selected_ = rowCount();
    if (!paged_) first_ = std::clamp(first_, 1, std::max(1, rowCount() - visibleRows() + 1));
    updateBars();
    viewport()->update();
    notifyAccessible(true);
}

const ListRow* ListBox::row(int row) const {
    if (row < 1 || row > rowCount()) return nullptr;
    ListRow& r = rows_[std::size_t(row - 1)];
    if (entries_ && r.empty()) r = entries_->row(row - 1);
    return &r;
}

int ListBox::lineHeight() const {
    if (lineHeight_ > 0) return lineHeight_;
    return QFontMetrics(font()).height() + 2;
}

void ListBox::setLineHeight(int pixels) {
    lineHeight_ = std::max(0, pixels);
    relayout();
}

void ListBox::setListFont(const QFont& f, int colour) {
    setFont(f);
    fontColour_ = colour;
    relayout();
}

void ListBox::setIcons(std::vector<QIcon> icons) {
    icons_ = std::move(icons);
    viewport()->update();
}

void ListBox::setStyle(int number, const ListStyle& style) {
    styles_[number] = style;
    viewport()->update();
}

ListStyle ListBox::style(int number) const {
    auto it = styles_.find(number);
    return it == styles_.end() ? ListStyle{} : it->second;
}

void ListBox::setMarkedColumn(int column) {
    marked_ = column >= 1 && column <= int(model_.columns().size()) ? column : 0;
    viewport()->update();
}

void ListBox::setAlertKeys(std::vector<int> keys) {
    alertKeys_ = std::move(keys);
}

int ListBox::visibleRows() const {
    int h = viewport()->height() - model_.headerHeight();
    int rh = std::max(1, model_.rowHeight());
    return std::max(0, h / rh);
}

void ListBox::setSelected(int row) {
    selected_ = std::clamp(row, 0, rowCount());
    if (!paged_ && selected_ > 0) {
        if (selected_ < first_)
            setFirstRow(selected_);
        else if (selected_ >= first_ + visibleRows())
            setFirstRow(selected_ - visibleRows() + 1);
    }
    viewport()->update();
    notifyAccessible(false);
}

void ListBox::setFirstRow(int row) {
    int last = paged_ ? std::max(1, rowCount()) : std::max(1, rowCount() - visibleRows() + 1);
    first_ = std::clamp(row, 1, last);
    updateBars();
    viewport()->update();
}

int ListBox::thumb() const {
    if (paged_) return thumb_;
    int range = std::max(0, rowCount() - visibleRows());
    return range == 0 ? 0 : (first_ - 1) * 100 / range;
}

void ListBox::setThumb(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (paged_) {
        thumb_ = percent;
        updateBars();
        return;
    }
    int range = std::max(0, rowCount() - visibleRows());
    setFirstRow(1 + (range * percent + 50) / 100);
}

void ListBox::setProgramPaged(bool on) {
    paged_ = on;
    first_ = 1;
    updateBars();
    viewport()->update();
}

void ListBox::setVerticalBar(bool on) {
    vbar_ = on;
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void ListBox::setHorizontalBar(bool on) {
    hbar_ = on;
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void ListBox::setHorizontalPosition(int position) {
    hpos_ = std::clamp(position, 0, model_.horizontalScrollRange());
    updateBars();
    viewport()->update();
}

void ListBox::updateBars() {
    syncingBar_ = true;
    QScrollBar* v = verticalScrollBar();
    if (paged_) {
        v->setRange(0, 100);
        v->setPageStep(10);
        v->setValue(thumb_);
    } else {
        int range = std::max(0, rowCount() - visibleRows());
        v->setRange(0, range);
        v->setPageStep(std::max(1, visibleRows()));
        v->setValue(first_ - 1);
    }
    QScrollBar* h = horizontalScrollBar();
    int hr = model_.horizontalScrollRange();
    hpos_ = std::clamp(hpos_, 0, hr);
    h->setRange(0, hr);
    h->setPageStep(model_.scrollsByPixels() ? std::max(1, viewport()->width()) : 1);
    h->setSingleStep(model_.scrollsByPixels() ? 8 : 1);
    h->setValue(hpos_);
    syncingBar_ = false;
}

void ListBox::post(int code, int keyCode) {
    if (!onEvent) return;
    Event e = makeEvent(code, control_);
    e.keyCode = keyCode;
    e.param = press_.column;
    e.param2 = press_.row;
    onEvent(e);
}

bool ListBox::alert(int keyCode) {
    if (std::find(alertKeys_.begin(), alertKeys_.end(), keyCode) == alertKeys_.end()) return false;
    post(event::AlertKey, keyCode);
    return true;
}

void ListBox::moveSelection(int row) {
    if (rowCount() == 0) return;
    row = std::clamp(row, 1, rowCount());
    if (row == selected_) return;
    setSelected(row);
    post(event::NewSelection);
}

// ---- geometry ----

int ListBox::groupLeft(int group) const {
    const auto& groups = model_.groups();
    const ListGroup& g = groups[group];
    if (g.state & lf::Hidden) return INT_MIN;
    if (model_.scrollsByPixels()) return g.x - hpos_;
    // Fixed groups stand at the left in their order; the others follow, less the groups
    // scrolled out.
    int x = 0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const ListGroup& o = groups[i];
        if ((o.flags & lf::Fixed) && !(o.state & lf::Hidden)) {
            if (int(i) == group) return x;
            x += o.width;
        }
    }
    if (g.flags & lf::Fixed) return INT_MIN;
    int skipped = 0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const ListGroup& o = groups[i];
        if ((o.flags & lf::Fixed) || (o.state & lf::Hidden)) continue;
        if (skipped < hpos_) {
            ++skipped;
            if (int(i) == group) return INT_MIN;
            continue;
        }
        if (int(i) == group) return x;
        x += o.width;
    }
    return INT_MIN;
}

QRect ListBox::headerRect(int column) const {
    const int c = column - 1;
    if (c < 0 || c >= int(model_.columns().size())) return {};
    int g = model_.groupOf(c);
    int gx = groupLeft(g);
    const ListColumn& col = model_.columns()[c];
    if (gx == INT_MIN || col.width <= 0) return {};
    const ListGroup& gr = model_.groups()[g];
    int top = gr.hasHeader ? gr.headerLines * model_.metrics().lineHeight : 0;
    int lines = std::max(1, col.headerLines);
    int h = std::min(model_.headerHeight() - top - col.top, lines * model_.metrics().lineHeight);
    return QRect(gx + col.left, top + col.top, col.width, std::max(0, h));
}

QRect ListBox::cellRect(int row, int column) const {
    const int c = column - 1;
    if (c < 0 || c >= int(model_.columns().size()) || row < first_ || row > rowCount()) return {};
    int i = row - first_;
    if (i >= visibleRows() + 1) return {};
    int g = model_.groupOf(c);
    int gx = groupLeft(g);
    const ListColumn& col = model_.columns()[c];
    if (gx == INT_MIN || col.width <= 0) return {};
    int y = model_.headerHeight() + i * model_.rowHeight();
    return QRect(gx + col.left, y + col.top, col.width, std::max(0, col.bottom - col.top));
}

int ListBox::iconArea() const {
    return std::max(1, model_.metrics().lineHeight) * 5 / 4;
}

int ListBox::shownRight() const {
    int right = 0;
    for (std::size_t g = 0; g < model_.groups().size(); ++g) {
        int gx = groupLeft(int(g));
        if (gx != INT_MIN) right = std::max(right, gx + model_.groups()[g].width);
    }
    return right;
}

const std::vector<int>& ListBox::treeDepths(int c) const {
    auto it = treeDepths_.find(c);
    if (it != treeDepths_.end()) return it->second;
    const ListColumn& col = model_.columns()[c];
    // Level 1 is the root; with the option "1" level 0 is.
    const int root = (col.flags2 & lf::Tree1) ? 0 : 1;
    std::vector<int> depths;
    depths.reserve(rows_.size());
    for (int i = 1; i <= rowCount(); ++i)
        if (const ListRow* r = row(i))
            depths.push_back(std::clamp(std::abs(model_.cell(c, *r).treeLevel) - root, 0, 64));
    return treeDepths_.emplace(c, std::move(depths)).first->second;
}

ListBox::TreeShape ListBox::treeShape(int c, int row) const {
    TreeShape t;
    if (c < 0 || c >= int(model_.columns().size()) || row < 1 || row > rowCount()) return t;
    const ListColumn& col = model_.columns()[c];
    if (!(col.flags & lf::TreeField)) return t;
    t.depth = treeDepths(c)[row - 1];
    t.collapsed = model_.cell(c, *this->row(row)).treeLevel < 0;
    if (col.flags2 & lf::TreeI) return t; // not indented: the tree takes no room
    // A level per area; the roots get one of their own unless "R" leaves their lines out.
    t.areas = t.depth + ((col.flags2 & lf::TreeR) ? 0 : 1);
    return t;
}

void ListBox::drawTree(QPainter& p, const QRect& cell, int c, int row, const QColor& line,
                       const QColor& sign) const {
    const TreeShape t = treeShape(c, row);
    if (t.areas == 0) return;
    const ListColumn& col = model_.columns()[c];
    const std::vector<int>& depths = treeDepths(c);
    const int area = iconArea();
    const int shift = (col.flags2 & lf::TreeR) ? 1 : 0; // the depth shown in area 0
    const int own = t.areas - 1;
    const int midY = cell.top() + cell.height() / 2;
    auto centreX = [&](int a) { return cell.left() + a * area + area / 2; };
    // A level goes on below this row when the first later row at that depth or less is at that
    // depth: one pass down the rows, stopping at the first root.
    std::vector<char> goesOn(std::size_t(t.depth) + 1, 0);
    int lowest = t.depth + 1;
    for (std::size_t s = std::size_t(row); s < depths.size() && lowest > 0; ++s) {
        if (depths[s] < lowest) {
            lowest = depths[s];
            goesOn[std::size_t(lowest)] = 1;
        }
    }
    const bool children = row < int(depths.size()) && depths[std::size_t(row)] > t.depth;
    if (!(col.flags2 & lf::TreeL)) {
        p.setPen(QPen(line, 1));
        for (int a = 0; a < own; ++a) {
            int d = a + shift;
            if (d <= t.depth && goesOn[std::size_t(d)])
                p.drawLine(centreX(a), cell.top(), centreX(a), cell.bottom());
        }
        const int x = centreX(own);
        if (row > 1 || t.depth > 0) p.drawLine(x, cell.top(), x, midY);
        if (goesOn[std::size_t(t.depth)]) p.drawLine(x, midY, x, cell.bottom());
        p.drawLine(x, midY, cell.left() + (own + 1) * area - 1, midY);
    }
    if (!(col.flags2 & lf::TreeB) && (children || t.collapsed)) {
        const int x = centreX(own);
        const int half = std::clamp(area / 4, 3, 5);
        QRect box(x - half, midY - half, 2 * half, 2 * half);
        p.fillRect(box, palette().color(QPalette::Base));
        p.setPen(QPen(line, 1));
        p.drawRect(box);
        p.setPen(QPen(sign, 1));
        p.drawLine(box.left() + 2, midY, box.right() - 2, midY);
        if (t.collapsed) p.drawLine(x, box.top() + 2, x, box.bottom() - 2);
    }
}

ListPoint ListBox::hitTest(const QPoint& pos) const {
    ListPoint p;
    const int header = model_.headerHeight();
    if (pos.y() < header) {
        p.row = 0;
    } else {
        int i = (pos.y() - header) / std::max(1, model_.rowHeight());
        int r = first_ + i;
        p.row = r <= rowCount() ? r : -1;
    }
    const int lineHeight = model_.metrics().lineHeight;
    int yInRow = p.row == 0 ? pos.y() : (pos.y() - header) % std::max(1, model_.rowHeight());
    const auto& cols = model_.columns();
    int rightmost = INT_MIN;
    // Borders first: a point near a right edge is on the border of the column left of it.
    for (std::size_t g = 0; g < model_.groups().size(); ++g) {
        int gx = groupLeft(int(g));
        if (gx == INT_MIN) continue;
        const ListGroup& gr = model_.groups()[g];
        rightmost = std::max(rightmost, gx + gr.width);
        int groupTop = (p.row == 0 && gr.hasHeader) ? gr.headerLines * lineHeight : 0;
        for (int c = gr.first; c < gr.end; ++c) {
            const ListColumn& col = cols[c];
            if (col.width <= 0) continue;
            int top = groupTop + col.top, bottom = groupTop + col.top + lineHeight;
            if (p.row == 0 && !(yInRow >= top && yInRow < std::max(bottom, header))) continue;
            if (p.row != 0 && !(yInRow >= col.top && yInRow < col.top + lineHeight)) continue;
            int right = gx + col.left + col.width;
            if (std::abs(pos.x() - right) <= kBorderSlop) {
                p.column = c + 1;
                p.zone = zone::Border;
                return p;
            }
        }
    }
    for (std::size_t g = 0; g < model_.groups().size(); ++g) {
        int gx = groupLeft(int(g));
        if (gx == INT_MIN) continue;
        const ListGroup& gr = model_.groups()[g];
        if (pos.x() < gx || pos.x() >= gx + gr.width) continue;
        int groupTop = (p.row == 0 && gr.hasHeader) ? gr.headerLines * lineHeight : 0;
        for (int c = gr.first; c < gr.end; ++c) {
            const ListColumn& col = cols[c];
            if (col.width <= 0) continue;
            int left = gx + col.left;
            if (pos.x() < left || pos.x() >= left + col.width) continue;
            int top = (p.row == 0 ? groupTop : 0) + col.top;
            if (p.row != 0 && !(yInRow >= top && yInRow < top + lineHeight)) continue;
            if (p.row == 0 && yInRow < groupTop) continue; // on the group header
            p.column = c + 1;
            p.zone = zone::Text;
            int area = iconArea();
            int x = pos.x() - left;
            if (p.row > 0) {
                int tree = treeShape(c, p.row).areas * area;
                if (x < tree)
                    p.zone = zone::Tree;
                else if ((col.flags & lf::IconField) && x < tree + area)
                    p.zone = zone::Icon;
            }
            return p;
        }
    }
    if (rightmost == INT_MIN || pos.x() >= rightmost) p.zone = zone::None;
    return p;
}

// ---- text ----

QString ListBox::shown(int column, const std::string& raw) const {
    // Pictures are pure functions of value and picture, so formatting here reads nothing of the
    // program's. The picture's own padding is dropped: the column places the text.
    const ListColumn& col = model_.columns()[column];
    std::string text = col.hasPicture ? FORMAT(Value(raw), col.picture) : std::string(clipRight(raw));
    return QString::fromStdString(text).trimmed();
}

QString ListBox::cellText(int row, int column) const {
    const ListRow* r = this->row(row);
    if (!r || column < 1 || column > int(model_.columns().size())) return {};
    return shown(column - 1, model_.cell(column - 1, *r).text);
}

QString ListBox::headerText(int column) const {
    if (column < 1 || column > int(model_.columns().size())) return {};
    return QString::fromStdString(model_.columns()[column - 1].header);
}

int ListBox::widestText(int column) const {
    if (column < 1 || column > int(model_.columns().size())) return 0;
    QFontMetrics fm(font());
    int widest = 0;
    for (int r = 1; r <= rowCount(); ++r)
        widest = std::max(widest, fm.horizontalAdvance(cellText(r, column)));
    return widest;
}

void ListBox::fitColumn(int column) {
    if (column < 1 || column > int(model_.columns().size())) return;
    const ListColumn& col = model_.columns()[column - 1];
    int px = widestText(column) + std::max(0, col.dataIndent) + 2;
    setColumnProperty(0x7E04, column, Value(model_.toDluX(px) + 1));
}

// ---- drawing ----

void ListBox::drawAligned(QPainter& p, const QRect& r, const QString& text, int just, int indent,
                          QChar decimal) const {
    QFontMetrics fm(p.font());
    int w = fm.horizontalAdvance(text);
    int x;
    switch (just) {
    case lf::Right:
        x = r.right() + 1 - indent - w;
        break;
    case lf::Centre:
        x = r.left() + (r.width() - w) / 2 + indent;
        break;
    case lf::Decimal: {
        // The decimal character stands at right - indent; a text without one ends there.
        int at = text.indexOf(decimal);
        int before = at < 0 ? w : fm.horizontalAdvance(text.left(at));
        x = r.right() + 1 - indent - before;
        break;
    }
    default:
        x = r.left() + indent;
        break;
    }
    int baseline = r.top() + (r.height() + fm.ascent() - fm.descent()) / 2;
    p.drawText(QPoint(x, baseline), text);
}

void ListBox::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    const QColor base = pal.color(QPalette::Base);
    const QColor text = colourOf(fontColour_, pal.color(QPalette::Text));
    const QColor hiBg = pal.color(QPalette::Highlight);
    const QColor hiFg = pal.color(QPalette::HighlightedText);
    const QColor line = pal.color(QPalette::Mid);
    p.fillRect(viewport()->rect(), base);
    p.setFont(font());
    const auto& cols = model_.columns();
    const auto& groups = model_.groups();
    const int header = model_.headerHeight();
    const int rowHeight = std::max(1, model_.rowHeight());
    const int lineHeight = model_.metrics().lineHeight;
    const int lw = std::max(1, model_.metrics().lineWidth);
    const int shownRows = visibleRows() + 1;

    // Header band.
    if (header > 0) p.fillRect(QRect(0, 0, viewport()->width(), header), pal.color(QPalette::Button));
    for (std::size_t g = 0; g < groups.size(); ++g) {
        int gx = groupLeft(int(g));
        if (gx == INT_MIN) continue;
        const ListGroup& gr = groups[g];
        if (gr.hasHeader) {
            QRect band(gx, 0, gr.width, gr.headerLines * lineHeight);
            QStringList lines = QString::fromStdString(gr.header).split('\n');
            for (int i = 0; i < lines.size(); ++i) {
                p.setPen(pal.color(QPalette::ButtonText));
                drawAligned(p, QRect(band.left(), i * lineHeight, band.width(), lineHeight), lines[i],
                            gr.headerJustification(), gr.headerIndent, '.');
            }
            p.setPen(line);
            p.drawLine(band.left(), band.bottom(), band.right(), band.bottom());
        }
        for (int c = gr.first; c < gr.end; ++c) {
            QRect hr = headerRect(c + 1);
            if (hr.isEmpty()) continue;
            const ListColumn& col = cols[c];
            // Pressed while the mouse stays on it: leaving the header releases the look.
            if (pressedHeader_ == c + 1 && !dragging_ && move_.row == 0 && move_.column == pressedHeader_)
                p.fillRect(hr, pal.color(QPalette::Dark));
            if (!col.hasHeader) continue;
            p.setPen(pal.color(QPalette::ButtonText));
            p.save();
            p.setClipRect(hr);
            QStringList lines = QString::fromStdString(col.header).split('\n');
            for (int i = 0; i < lines.size(); ++i)
                drawAligned(p, QRect(hr.left(), hr.top() + i * lineHeight, hr.width(), lineHeight), lines[i],
                            col.headerJustification(), col.headerIndent, '.');
            p.restore();
            p.setPen(line);
            p.drawLine(hr.right(), hr.top(), hr.right(), header - 1);
        }
    }
    if (header > 0) {
        p.setPen(line);
        p.drawLine(0, header - 1, viewport()->width(), header - 1);
    }

    // Rows.
    for (int i = 0; i < shownRows; ++i) {
        int r = first_ + i;
        if (r > rowCount()) break;
        const ListRow& rowData = *row(r);
        const bool sel = r == selected_;
        int y = header + i * rowHeight;
        if (sel) p.fillRect(QRect(0, y, std::min(viewport()->width(), shownRight()), rowHeight), hiBg);
        for (std::size_t g = 0; g < groups.size(); ++g) {
            int gx = groupLeft(int(g));
            if (gx == INT_MIN) continue;
            const ListGroup& gr = groups[g];
            for (int c = gr.first; c < gr.end; ++c) {
                const ListColumn& col = cols[c];
                if (col.width <= 0) continue;
                QRect cell(gx + col.left, y + col.top, col.width, col.bottom - col.top);
                ListCell v = model_.cell(c, rowData);
                QColor fg = colourOf(sel ? v.colours[2] : v.colours[0], sel ? hiFg : text);
                QColor bg = colourOf(sel ? v.colours[3] : v.colours[1], sel ? hiBg : base);
                QFont f = font();
                if (v.style != 0) {
                    auto st = styles_.find(v.style);
                    if (st != styles_.end()) {
                        if (st->second.hasFont) f = st->second.font;
                        if (st->second.foreground != -1) fg = colourOf(st->second.foreground, fg);
                        if (st->second.background != -1) bg = colourOf(st->second.background, bg);
                    }
                }
                p.fillRect(cell, bg);
                p.save();
                p.setClipRect(cell);
                p.setFont(f);
                int x = cell.left();
                const int area = iconArea();
                if (col.flags & lf::TreeField) {
                    drawTree(p, cell, int(c), r, line, fg);
                    x += treeShape(int(c), r).areas * area;
                }
                if (col.flags & lf::IconField) {
                    if (v.icon >= 1 && v.icon <= int(icons_.size())) {
                        int side = std::max(1, std::min(area, cell.height()) - 4);
                        QRect ir(x + (area - side) / 2, cell.top() + (cell.height() - side) / 2, side, side);
                        icons_[v.icon - 1].paint(&p, ir);
                    }
                    x += area;
                }
                p.setPen(fg);
                QRect textRect(x, cell.top(), cell.right() + 1 - x, cell.height());
                drawAligned(p, textRect, shown(c, v.text), col.justification(), col.dataIndent,
                            col.decimalChar);
                p.restore();
                p.setPen(line);
                if (col.flags & lf::Underline)
                    p.fillRect(QRect(cell.left(), y + col.bottom, cell.width(), lw), line);
                if (col.flags & lf::RightBorder)
                    p.fillRect(QRect(cell.right() + 1 - lw, cell.top(), lw, rowHeight), line);
            }
            if (gr.flags & lf::RightBorder) p.fillRect(QRect(gx + gr.width - lw, y, lw, rowHeight), line);
            if (gr.flags & lf::Underline) p.fillRect(QRect(gx, y + rowHeight - lw, gr.width, lw), line);
        }
    }

    // The marked column: a frame in the highlight colour from its header down the rows.
    if (marked_ > 0) {
        QRect hr = headerRect(marked_);
        if (!hr.isNull()) {
            QRect frame(hr.left(), 0, hr.width(), viewport()->height());
            p.setPen(QPen(hiBg, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(frame.adjusted(1, 1, -1, -1));
        }
    }

    // The keyboard's column, once a key chose it and while the list has the focus: a dotted frame
    // on its header.
    if (keyColumnShown_ && hasFocus() && keyColumn() > 0) {
        QRect hr = headerRect(keyColumn());
        if (!hr.isEmpty()) {
            p.setPen(QPen(pal.color(QPalette::Text), 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(hr.adjusted(1, 1, -2, -2));
        }
    }

    // A header dragged sideways: a grey box with its text follows the mouse.
    if (dragging_ && pressedHeader_ > 0) {
        QRect hr = headerRect(pressedHeader_);
        if (!hr.isEmpty()) {
            hr.translate(dragX_ - pressX_, 0);
            p.fillRect(hr, QColor(0x80, 0x80, 0x80));
            p.setPen(Qt::white);
            drawAligned(p, hr, headerText(pressedHeader_).split('\n').value(0), lf::Centre, 0, '.');
        }
    }
}

// ---- input ----

void ListBox::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    if (model_.defaultColumns())
        relayout();
    else
        updateBars();
}

bool ListBox::viewportEvent(QEvent* e) {
    return QAbstractScrollArea::viewportEvent(e);
}

void ListBox::mousePressEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    keyColumnShown_ = false;
    press_ = move_ = hitTest(pos);
    setFocus(Qt::MouseFocusReason);
    if (e->button() == Qt::LeftButton) {
        pressX_ = dragX_ = pos.x();
        dragging_ = false;
        const ListColumn* col = press_.column > 0 ? &model_.columns()[press_.column - 1] : nullptr;
        int g = press_.column > 0 ? model_.groupOf(press_.column - 1) : -1;
        bool resizable = col && ((col->flags & lf::Resizable) || (model_.groups()[g].flags & lf::Resizable));
        if (press_.zone == zone::Border && resizable) {
            resizing_ = press_.column;
            resizeFrom_ = col->width;
        } else if (press_.row == 0 && press_.column > 0) {
            pressedHeader_ = press_.column;
            viewport()->update();
        } else if (press_.row > 0) {
            moveSelection(press_.row);
        }
        if (onMouse) onMouse(ListMouse::LeftDown, press_, pos);
    } else if (e->button() == Qt::RightButton) {
        if (onMouse) onMouse(ListMouse::RightDown, press_, pos);
    }
}

void ListBox::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    move_ = hitTest(pos);
    if (resizing_ > 0) {
        // The border follows the mouse from where it was taken, wherever in the slop that was.
        const ListColumn& col = model_.columns()[resizing_ - 1];
        int px = std::max(0, resizeFrom_ + pos.x() - pressX_);
        if (px != col.width) {
            // Widths are kept in dialog units; the column takes the nearest width there is.
            model_.setProperty(0x7E04, resizing_, Value(model_.toDluX(px)));
            updateBars();
            viewport()->update();
        }
    } else if (pressedHeader_ > 0 && (e->buttons() & Qt::LeftButton)) {
        dragX_ = pos.x();
        if (std::abs(dragX_ - pressX_) > 4) dragging_ = true;
        viewport()->update();
    } else if (!(e->buttons() & Qt::LeftButton)) {
        if (move_.zone == zone::Border)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    if (onMouse) onMouse(ListMouse::Move, move_, pos);
}

void ListBox::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    release_ = hitTest(pos);
    if (e->button() == Qt::LeftButton) {
        int resized = resizing_;
        resizing_ = 0;
        pressedHeader_ = 0;
        dragging_ = false;
        viewport()->update();
        // A border only clicked, or dragged back to where it was, resized nothing.
        if (resized > 0 && model_.columns()[resized - 1].width != resizeFrom_) {
            notifyAccessible(true);
            post(event::ColumnResize);
        }
        if (onMouse) onMouse(ListMouse::LeftUp, release_, pos);
    } else if (e->button() == Qt::RightButton) {
        if (onMouse) onMouse(ListMouse::RightUp, release_, pos);
        alert(key::RightUp);
    }
}

void ListBox::mouseDoubleClickEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    press_ = hitTest(pos);
    if (e->button() != Qt::LeftButton) return;
    if (onMouse) onMouse(ListMouse::DoubleClick, press_, pos);
    if (alert(key::DoubleClick)) return;
    // A double click on a column divider sizes the column to its widest text.
    if (press_.zone == zone::Border && press_.column > 0) {
        fitColumn(press_.column);
        post(event::ColumnResize);
        return;
    }
    if (press_.row > 0) post(event::Accepted, key::DoubleClick);
}

int ListBox::keyCodeOf(int k, Qt::KeyboardModifiers mods) {
    int code = 0;
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        code = 'A' + (k - Qt::Key_A);
    else if (k >= Qt::Key_0 && k <= Qt::Key_9)
        code = '0' + (k - Qt::Key_0);
    else if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        code = 0x70 + (k - Qt::Key_F1);
    else {
        switch (k) {
        case Qt::Key_Backspace:
            code = 0x08;
            break;
        case Qt::Key_Tab:
            code = 0x09;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            code = 0x0D;
            break;
        case Qt::Key_Escape:
            code = 0x1B;
            break;
        case Qt::Key_Space:
            code = 0x20;
            break;
        case Qt::Key_PageUp:
            code = 0x21;
            break;
        case Qt::Key_PageDown:
            code = 0x22;
            break;
        case Qt::Key_End:
            code = 0x23;
            break;
        case Qt::Key_Home:
            code = 0x24;
            break;
        case Qt::Key_Left:
            code = 0x25;
            break;
        case Qt::Key_Up:
            code = 0x26;
            break;
        case Qt::Key_Right:
            code = 0x27;
            break;
        case Qt::Key_Down:
            code = 0x28;
            break;
        case Qt::Key_Insert:
            code = 0x2D;
            break;
        case Qt::Key_Delete:
            code = 0x2E;
            break;
        default:
            return 0;
        }
    }
    if (mods & Qt::ShiftModifier) code |= key::Shift;
    if (mods & Qt::ControlModifier) code |= key::Ctrl;
    if (mods & Qt::AltModifier) code |= key::Alt;
    return code;
}

int ListBox::typedCodeOf(const QKeyEvent& e) {
    if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
    const QList<uint> points = e.text().toUcs4();
    if (points.size() != 1 || points[0] < 0x20 || points[0] == 0x7F || points[0] > 0x10FFFF) return 0;
    return key::Typed | static_cast<int>(points[0]);
}

int ListBox::keyColumn() const {
    const int columns = int(model_.columns().size());
    return columns == 0 ? 0 : std::clamp(keyColumn_, 1, columns);
}

void ListBox::setKeyColumn(int column) {
    const int columns = int(model_.columns().size());
    if (columns == 0) return;
    keyColumn_ = std::clamp(column, 1, columns);
    // The column comes into view, as far as scrolling sideways can bring it.
    for (int tries = 0; tries < columns && headerRect(keyColumn_).isEmpty(); ++tries) {
        const int before = hpos_;
        setHorizontalPosition(hpos_ + 1);
        if (hpos_ == before) break;
    }
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleEvent ev(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&ev);
    }
}

void ListBox::keyboardClick(bool right, int row) {
    const int column = keyColumn();
    if (column == 0) return;
    const QRect r = row == 0 ? headerRect(column) : cellRect(row, column);
    const QPoint at = r.isEmpty() ? QPoint(0, 0) : r.center();
    ListPoint p = r.isEmpty() ? ListPoint{row, column, zone::Text} : hitTest(at);
    p.row = row;
    p.column = column;
    press_ = move_ = release_ = p;
    keyColumnShown_ = true;
    viewport()->update();
    if (right) {
        if (onMouse) onMouse(ListMouse::RightDown, p, at);
        if (onMouse) onMouse(ListMouse::RightUp, p, at);
        alert(key::RightUp);
    } else {
        if (onMouse) onMouse(ListMouse::LeftDown, p, at);
        if (onMouse) onMouse(ListMouse::LeftUp, p, at);
    }
}

void ListBox::keyPressEvent(QKeyEvent* e) {
    const int code = keyCodeOf(e->key(), e->modifiers());
    if (code && alert(code)) return;
    if (const int typed = typedCodeOf(*e);
        typed && std::find(alertKeys_.begin(), alertKeys_.end(), int(key::Typed)) != alertKeys_.end()) {
        post(event::AlertKey, typed);
        return;
    }
    const int k = e->key();
    // Column work without a mouse: Ctrl+Left and Ctrl+Right choose the keyboard's column; the menu
    // key or Shift+F10 does what a right click on it (at the selected row) does, with Ctrl on its
    // header; Ctrl+Space clicks its header.
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if ((k == Qt::Key_Left || k == Qt::Key_Right) && mods == Qt::ControlModifier) {
        keyColumnShown_ = true;
        setKeyColumn(keyColumn() + (k == Qt::Key_Left ? -1 : 1));
        return;
    }
    if (k == Qt::Key_Menu || (k == Qt::Key_F10 && (mods & Qt::ShiftModifier))) {
        const bool header = (mods & Qt::ControlModifier) || selected_ == 0;
        keyboardClick(true, header ? 0 : selected_);
        return;
    }
    if (k == Qt::Key_Space && mods == Qt::ControlModifier) {
        keyboardClick(false, 0);
        return;
    }
    if (k == Qt::Key_Return || k == Qt::Key_Enter) {
        post(event::Accepted, key::Enter);
        return;
    }
    if (paged_) {
        int ev = 0;
        switch (k) {
        case Qt::Key_Up:
            ev = event::ScrollUp;
            break;
        case Qt::Key_Down:
            ev = event::ScrollDown;
            break;
        case Qt::Key_PageUp:
            ev = event::PageUp;
            break;
        case Qt::Key_PageDown:
            ev = event::PageDown;
            break;
        case Qt::Key_Home:
            ev = event::ScrollTop;
            break;
        case Qt::Key_End:
            ev = event::ScrollBottom;
            break;
        }
        if (ev) {
            post(ev, code);
            return;
        }
    } else {
        const int page = std::max(1, visibleRows());
        switch (k) {
        case Qt::Key_Up:
            moveSelection(selected_ - 1);
            return;
        case Qt::Key_Down:
            moveSelection(selected_ + 1);
            return;
        case Qt::Key_PageUp:
            moveSelection(selected_ - page);
            return;
        case Qt::Key_PageDown:
            moveSelection(selected_ + page);
            return;
        case Qt::Key_Home:
            moveSelection(1);
            return;
        case Qt::Key_End:
            moveSelection(rowCount());
            return;
        }
    }
    if (k == Qt::Key_Left || k == Qt::Key_Right) {
        setHorizontalPosition(hpos_ + (k == Qt::Key_Left ? -1 : 1) * (model_.scrollsByPixels() ? 8 : 1));
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void ListBox::wheelEvent(QWheelEvent* e) {
    int steps = e->angleDelta().y() / 120;
    if (steps == 0) steps = e->angleDelta().y() > 0 ? 1 : (e->angleDelta().y() < 0 ? -1 : 0);
    if (paged_) {
        for (int i = 0; i < std::abs(steps); ++i) post(steps > 0 ? event::ScrollUp : event::ScrollDown);
    } else {
        setFirstRow(first_ - 3 * steps);
    }
    e->accept();
}

void ListBox::onVerticalAction(int action) {
    if (!paged_) return;
    int ev = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        ev = event::ScrollUp;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        ev = event::ScrollDown;
        break;
    case QAbstractSlider::SliderPageStepSub:
        ev = event::PageUp;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        ev = event::PageDown;
        break;
    case QAbstractSlider::SliderToMinimum:
        ev = event::ScrollTop;
        break;
    case QAbstractSlider::SliderToMaximum:
        ev = event::ScrollBottom;
        break;
    default:
        return; // a dragged thumb reports on release
    }
    // The program moves the thumb itself; the bar stays where the program put it.
    verticalScrollBar()->setSliderPosition(thumb_);
    post(ev);
}

void ListBox::notifyAccessible(bool reset) {
    if (!QAccessible::isActive()) return;
    if (reset) {
        QAccessibleTableModelChangeEvent ev(this, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&ev);
    } else {
        QAccessibleEvent ev(this, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&ev);
    }
}

} // namespace sorv::win
