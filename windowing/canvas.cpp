// The "CANVAS" control: paints the picture the program pushed, over its window's client area.
#include "windowing/canvas.h"

#include "windowing/fontdialog.h"
#include "windowing/gui_call.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QColor colourOf(std::int32_t v) {
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

// A screen font of a face, a size in points and a style value. Every property counts as set, so
// that a painter takes the font as it is and not merged with the canvas widget's own: merged, a
// face the system lacks was matched to another substitute than the one measured for the
// program's boxes, and a long name written up a bar ran down past the end of its box.
QFont screenFont(const ReportFont& f) {
    QFont q(qs(f.face));
    q.setPointSize(std::max(1, f.points));
    applyFontStyle(q, f.style);
    q.setResolveMask(QFont::AllPropertiesResolved);
    return q;
}

class CanvasWidget : public QWidget {
public:
    explicit CanvasWidget(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        if (parent) parent->installEventFilter(this);
    }
    void setPicture(std::shared_ptr<const CanvasData> picture) {
        picture_ = std::move(picture);
        QString described;
        if (picture_)
            for (const CanvasText& t : picture_->texts) described += qs(t.text) + "\n";
        setAccessibleDescription(described);
        update();
    }
    // Fills its container from now on, beneath the container's other widgets.
    void fill() {
        filling_ = true;
        if (parentWidget()) setGeometry(parentWidget()->rect());
        lower();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (filling_ && watched == parentWidget() && e->type() == QEvent::Resize) fill();
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        if (!picture_) return;
        QPainter p(this);
        const CanvasData& d = *picture_;
        if (d.background != -1) p.fillRect(rect(), colourOf(d.background));
        for (const CanvasBox& b : d.boxes)
            if (b.colour != -1) p.fillRect(QRect(b.x, b.y, b.width, b.height), colourOf(b.colour));
        for (const CanvasLine& l : d.lines) {
            p.setPen(QPen(colourOf(l.colour), std::max(1, l.thickness), Qt::SolidLine, Qt::FlatCap));
            p.drawLine(l.x1, l.y1, l.x2, l.y2);
        }
        for (const CanvasText& t : d.texts) {
            p.setFont(screenFont(t.font));
            p.setPen(colourOf(t.colour));
            if (t.turned) {
                p.save();
                p.translate(t.x, t.y + t.height);
                p.rotate(-90);
                const int along = t.centred ? Qt::AlignHCenter : Qt::AlignLeft;
                p.drawText(QRect(0, 0, t.height, t.width), along | Qt::AlignVCenter | Qt::TextDontClip,
                           qs(t.text));
                p.restore();
            } else {
                const int along = t.centred ? Qt::AlignHCenter : Qt::AlignLeft;
                p.drawText(QRect(t.x, t.y, t.width, t.height > 0 ? t.height : height() - t.y),
                           along | Qt::AlignTop | Qt::TextDontClip, qs(t.text));
            }
        }
    }

private:
    std::shared_ptr<const CanvasData> picture_;
    bool filling_ = false;
};

class CanvasControl : public Control {
public:
    CanvasControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        canvas_ = new CanvasWidget(host.containerFor(design.parent));
        describe(canvas_, qs(design.text), qs(design.tip));
    }
    QWidget* widget() const override { return canvas_; }
    // Placed where its design puts it; a design without a size fills the client area.
    void place(const Rect& at) override {
        if (at.width > 0 && at.height > 0)
            Control::place(at);
        else
            canvas_->fill();
    }
    void setData(std::shared_ptr<const ControlData> data) override {
        canvas_->setPicture(std::dynamic_pointer_cast<const CanvasData>(data));
    }
    QString property(int property) const override {
        switch (property) {
        case canvasprop::Width:
            return QString::number(canvas_->width());
        case canvasprop::Height:
            return QString::number(canvas_->height());
        default:
            return Control::property(property);
        }
    }

private:
    CanvasWidget* canvas_;
};

} // namespace

TextExtent screenTextExtent(const ReportFont& font, const std::string& text) {
    return onGui([&] {
        const QFontMetrics m(screenFont(font));
        return TextExtent{m.horizontalAdvance(qs(text)), m.height()};
    });
}

ControlFactory canvasControlFactory() {
    return [](ControlHost& host, const ControlSpec& design) -> std::unique_ptr<Control> {
        return std::make_unique<CanvasControl>(host, design);
    };
}

} // namespace sorv::win
