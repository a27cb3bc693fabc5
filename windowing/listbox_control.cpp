// The "LIST" control: a ListBox placed in a window, its properties as numbered texts, the rows a
// program pushes, and the raw mouse hook of its owner.
#include "windowing/listbox_control.h"

#include "windowing/fontdialog.h"
#include "windowing/gui_window.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QStringList>

namespace sorv::win {

namespace {

// An icon by name: "~SvCheck.ICO" is the check mark linked into the program (the desktop draws
// it); any other name is an image file or a resource path.
QIcon iconOf(const QString& name) {
    if (name.compare("~SvCheck.ICO", Qt::CaseInsensitive) != 0) return QIcon(name);
    QPixmap mark(16, 16);
    mark.fill(Qt::transparent);
    QPainter p(&mark);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 128, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
    p.end();
    return QIcon(mark);
}

class ListControl : public Control {
public:
    ListControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        list_ = new ListBox(host.containerFor(design.parent));
        text_ = QString::fromStdString(design.text);
        describe(list_, QString::fromStdString(design.text), QString::fromStdString(design.tip));
        list_->setControl(design.number);
        list_->setListFont(host.font());
        if (auto* w = dynamic_cast<GuiWindow*>(&host))
            list_->setUnits(w->xMul, w->xDiv, w->yMul, w->yDiv);
        else
            list_->setUnits(host.toPixelsX(1000), 1000, host.toPixelsY(1000), 1000);
        list_->setVerticalBar(design.vscroll);
        list_->setHorizontalBar(design.hscroll);
        list_->setFormat(design.format);
        if (design.hidden) list_->hide();
        if (design.disabled) list_->setEnabled(false);
        list_->onEvent = [this](const Event& e) { host_.post(e); };
        list_->onMouse = [this](ListMouse kind, const ListPoint& p, const QPoint& at) { mouse(kind, p, at); };
    }
    QWidget* widget() const override { return list_; }
    // The list's own text (its picture, for a list of one column); it shows nowhere.
    QString text() const override { return text_; }
    void setText(const QString& text) override { text_ = text; }

    void setData(std::shared_ptr<const ControlData> data) override {
        if (auto* rows = dynamic_cast<const ListRowsData*>(data.get()))
            list_->setRows(rows->rows);
        else if (auto* entries = dynamic_cast<const ListEntriesData*>(data.get()))
            list_->setEntries(entries->entries);
    }

    void setProperty(int p, const QString& value) override {
        const int code = p & 0xFFFF, column = p >> 16;
        const int n = value.toInt();
        if (code >= lf::ColumnPropFirst && code <= lf::ColumnPropLast + lf::GroupPropOffset) {
            // Texts stay texts (headers, pictures, one column's format); the rest are numbers.
            bool number = false;
            long long v = value.toLongLong(&number);
            list_->setColumnProperty(code, column,
                                     number ? Value(std::int64_t(v)) : Value(value.toStdString()));
            return;
        }
        switch (code) {
        case listprop::Format:
            list_->setFormat(value.toStdString());
            return;
        case listprop::Selected:
            list_->setSelected(n);
            return;
        case listprop::Thumb:
            list_->setThumb(n);
            return;
        case listprop::FirstRow:
            list_->setFirstRow(n);
            return;
        case listprop::VScroll:
            list_->setVerticalBar(n != 0);
            return;
        case listprop::HScroll:
            list_->setHorizontalBar(n != 0);
            return;
        case listprop::LineHeight:
            list_->setLineHeight(n > 0 ? host_.toPixelsY(n) : 0);
            return;
        case listprop::FontFace: {
            QFont f = list_->font();
            f.setFamily(value);
            list_->setListFont(f, list_->fontColour());
            return;
        }
        case listprop::FontSize: {
            QFont f = list_->font();
            if (n > 0) f.setPointSize(n);
            list_->setListFont(f, list_->fontColour());
            return;
        }
        case listprop::FontColour:
            list_->setListFont(list_->font(), n);
            return;
        case listprop::FontStyle: {
            QFont f = list_->font();
            applyFontStyle(f, n);
            list_->setListFont(f, list_->fontColour());
            return;
        }
        case listprop::StyleFontFace:
        case listprop::StyleFontSize:
        case listprop::StyleFontStyle:
        case listprop::StyleForeground:
        case listprop::StyleBackground: {
            // Style 0 is "no style": cells without one keep the list's own look.
            if (column <= 0) return;
            ListStyle st = list_->style(column);
            if (code == listprop::StyleForeground || code == listprop::StyleBackground) {
                (code == listprop::StyleForeground ? st.foreground : st.background) = n;
            } else {
                if (!st.hasFont) st.font = list_->font();
                st.hasFont = true;
                if (code == listprop::StyleFontFace)
                    st.font.setFamily(value);
                else if (code == listprop::StyleFontSize && n > 0)
                    st.font.setPointSize(n);
                else if (code == listprop::StyleFontStyle)
                    applyFontStyle(st.font, n);
            }
            list_->setStyle(column, st);
            return;
        }
        case listprop::HorizontalPosition:
            list_->setHorizontalPosition(n);
            return;
        case listprop::ProgramPaged:
            list_->setProgramPaged(n != 0);
            return;
        case listprop::SourceFields:
            list_->setSourceFields(n);
            return;
        case listprop::FitColumn:
            list_->fitColumn(n);
            return;
        case listprop::AlertKeys: {
            std::vector<int> keys;
            for (const QString& k : value.split(',', Qt::SkipEmptyParts))
                keys.push_back(k.trimmed().toInt(nullptr, 0));
            list_->setAlertKeys(std::move(keys));
            return;
        }
        case listprop::MouseHook:
            hook_ = n != 0;
            return;
        case listprop::Icons: {
            std::vector<QIcon> icons;
            for (const QString& path : value.split('|', Qt::SkipEmptyParts))
                icons.push_back(iconOf(path.trimmed()));
            list_->setIcons(std::move(icons));
            return;
        }
        case listprop::XPos:
        case listprop::YPos:
        case listprop::Width:
        case listprop::Height: {
            Rect r = at();
            (code == listprop::XPos    ? r.x
             : code == listprop::YPos  ? r.y
             : code == listprop::Width ? r.width
                                       : r.height) = n;
            place(r);
            return;
        }
        case listprop::MarkedColumn:
            list_->setMarkedColumn(n);
            return;
        case listprop::Flag5C:
            flag5C_ = n != 0;
            return;
        case listprop::Flag65:
            flag65_ = n != 0;
            return;
        }
        Control::setProperty(p, value);
    }

    QString property(int p) const override {
        const int code = p & 0xFFFF, column = p >> 16;
        if (code >= lf::ColumnPropFirst && code <= lf::ColumnPropLast + lf::GroupPropOffset)
            return QString::fromStdString(list_->columnProperty(code, column).toText());
        auto num = [](int v) { return QString::number(v); };
        switch (code) {
        case listprop::Format:
            return QString::fromStdString(list_->format());
        case listprop::VisibleRows:
            return num(list_->visibleRows());
        case listprop::Selected:
            return num(list_->selected());
        case listprop::Thumb:
            return num(list_->thumb());
        case listprop::FirstRow:
            return num(list_->firstRow());
        case listprop::VScroll:
            return num(list_->verticalBar());
        case listprop::HScroll:
            return num(list_->horizontalBar());
        case listprop::LineHeight:
            return num(pixelsToDialog(list_->lineHeight(), yMul(), yDiv()));
        case listprop::FontFace:
            return list_->font().family();
        case listprop::FontSize:
            return num(list_->font().pointSize());
        case listprop::FontColour:
            return num(list_->fontColour());
        case listprop::FontStyle:
            return num(fontStyleOf(list_->font()));
        case listprop::HorizontalPosition:
            return num(list_->horizontalPosition());
        case listprop::ProgramPaged:
            return num(list_->programPaged());
        case listprop::PressRow:
            return num(list_->pressPoint().row);
        case listprop::PressColumn:
            return num(list_->pressPoint().column);
        case listprop::PressZone:
            return num(list_->pressPoint().zone);
        case listprop::MoveRow:
            return num(list_->movePoint().row);
        case listprop::MoveColumn:
            return num(list_->movePoint().column);
        case listprop::MoveZone:
            return num(list_->movePoint().zone);
        case listprop::ReleaseRow:
            return num(list_->releasePoint().row);
        case listprop::ReleaseColumn:
            return num(list_->releasePoint().column);
        case listprop::ReleaseZone:
            return num(list_->releasePoint().zone);
        case listprop::MouseHook:
            return num(hook_);
        case listprop::XPos:
            return num(at().x);
        case listprop::YPos:
            return num(at().y);
        case listprop::Width:
            return num(at().width);
        case listprop::Height:
            return num(at().height);
        case listprop::ColumnPixelWidth:
            if (column < 1 || column > int(list_->model().columns().size())) return {};
            return num(list_->model().columns()[column - 1].width);
        case listprop::ColumnPixelLeft: {
            QRect r = list_->headerRect(column);
            if (r.isNull()) return {};
            return num(r.left() + list_->viewport()->x());
        }
        case listprop::MarkedColumn:
            return num(list_->markedColumn());
        case listprop::StyleFontFace:
        case listprop::StyleFontSize:
        case listprop::StyleFontStyle:
        case listprop::StyleForeground:
        case listprop::StyleBackground: {
            if (column <= 0) return {};
            ListStyle st = list_->style(column);
            if (code == listprop::StyleForeground) return num(st.foreground);
            if (code == listprop::StyleBackground) return num(st.background);
            if (!st.hasFont) return code == listprop::StyleFontFace ? QString() : num(0);
            if (code == listprop::StyleFontFace) return st.font.family();
            if (code == listprop::StyleFontSize) return num(st.font.pointSize());
            return num(fontStyleOf(st.font));
        }
        case listprop::Flag5C:
            return num(flag5C_);
        case listprop::Flag65:
            return num(flag65_);
        }
        return Control::property(p);
    }

private:
    int yMul() const {
        auto* w = dynamic_cast<GuiWindow*>(&host_);
        return w ? w->yMul : 1;
    }
    int yDiv() const {
        auto* w = dynamic_cast<GuiWindow*>(&host_);
        return w ? w->yDiv : 1;
    }
    // The hook's events carry the mouse's x in pixels from the list's left (as column edges are
    // read), so that the owner can tell where a dragged header was let go.
    void postMouse(int number) { postEvent(eventCode(number), nullptr, mouseX_); }
    // The hook's events: presses and releases, and while a header is held, a sideways move
    // (a drag) and leaving the pressed header.
    void mouse(ListMouse kind, const ListPoint& p, const QPoint& at) {
        if (!hook_) return;
        mouseX_ = at.x() + list_->viewport()->x();
        switch (kind) {
        case ListMouse::LeftDown:
        case ListMouse::DoubleClick:
            headerHeld_ = p.row == 0 && p.column > 0 && p.zone != zone::Border ? p.column : 0;
            pressX_ = at.x();
            if (kind == ListMouse::LeftDown) postMouse(listmouse::LeftDown);
            break;
        case ListMouse::LeftUp:
            headerHeld_ = 0;
            postMouse(listmouse::LeftUp);
            break;
        case ListMouse::Move:
            if (!headerHeld_) break;
            if (p.row != 0 || p.column != headerHeld_) {
                if (!outPosted_) postMouse(listmouse::OutOfHeader);
                outPosted_ = true;
            }
            if (at.x() != pressX_) postMouse(listmouse::HeaderDrag);
            break;
        case ListMouse::RightDown:
            postMouse(listmouse::RightDown);
            break;
        case ListMouse::RightUp:
            postMouse(listmouse::RightUp);
            break;
        }
        if (kind == ListMouse::LeftDown || kind == ListMouse::LeftUp) outPosted_ = false;
    }

    ListBox* list_;
    QString text_;
    bool hook_ = false, flag5C_ = false, flag65_ = false, outPosted_ = false;
    int headerHeld_ = 0, pressX_ = 0, mouseX_ = 0;
};

} // namespace

ControlFactory listControlFactory() {
    return [](ControlHost& host, const ControlSpec& design) -> std::unique_ptr<Control> {
        return std::make_unique<ListControl>(host, design);
    };
}

} // namespace sorv::win
