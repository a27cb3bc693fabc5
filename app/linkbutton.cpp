// A push button with the hand cursor; it posts EVENT:Accepted like any button.
#include "app/linkbutton.h"

#include "app/frametables.h"
#include "windowing/control.h"

#include <QCursor>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <mutex>

namespace sorv::app {

namespace {

// A cursor file is an icon file of type 2 whose directory entry carries the hot spot where an
// icon keeps its planes and bit count.
QCursor readCursor(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QCursor(Qt::PointingHandCursor);
    QByteArray bytes = f.readAll();
    auto u16 = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    if (bytes.size() < 22 || u16(0) != 0 || u16(2) != 2 || u16(4) < 1) return QCursor(Qt::PointingHandCursor);
    int hotX = u16(10), hotY = u16(12);
    // Read as an icon: type 1, one plane, and the bit count the bitmap header gives.
    QByteArray asIcon = bytes;
    asIcon[2] = 1;
    asIcon[10] = 1;
    asIcon[11] = 0;
    asIcon[12] = 0;
    asIcon[13] = 0;
    QImage image;
    if (!image.loadFromData(asIcon, "ICO") || image.isNull()) return QCursor(Qt::PointingHandCursor);
    hotX = std::min(hotX, image.width() - 1);
    hotY = std::min(hotY, image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

class LinkButton : public win::Control {
public:
    LinkButton(win::ControlHost& host, const win::ControlSpec& design) : Control(host, design) {
        button_ = new QPushButton(QString::fromStdString(design.text), host.containerFor(design.parent));
        button_->setAutoDefault(false);
        button_->setCursor(handCursor());
        describe(button_, QString::fromStdString(design.text), QString::fromStdString(design.tip));
        QObject::connect(button_, &QPushButton::clicked, button_,
                         [this] { postEvent(win::event::Accepted); });
    }
    QWidget* widget() const override { return button_; }
    void setText(const QString& t) override {
        button_->setText(t);
        button_->setAccessibleName(win::withoutAccelerators(t));
    }
    QString text() const override { return button_->text(); }

private:
    QPushButton* button_;
};

} // namespace

QCursor handCursor() {
    initResources();
    static const QCursor cursor = readCursor(QString::fromStdString(iconPath("~harrow.cur")));
    return cursor;
}

void registerLinkButton() {
    static std::once_flag once;
    std::call_once(once, [] {
        win::registerControlType("LINKBUTTON", [](win::ControlHost& host, const win::ControlSpec& design) {
            return std::unique_ptr<win::Control>(new LinkButton(host, design));
        });
    });
}

} // namespace sorv::app
