// A Sorvex list over an in-memory queue, in a window of its own, for the browse_ext tests: the
// owner describes its columns by rows of a column table, the test fills the queue and shows it.
#pragma once
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "framework/windowmanager.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox_control.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace sorv::test {

// A Sorvex whose owner describes its columns by rows.
struct TableSorvex : bx::Sorvex {
    std::vector<bx::ColumnRow> rows;
    std::vector<int> formatSlots{0}; // the tab controls the list has a format for
    std::string gr, gra;
    void InitColumns() override {
        gr = bx::columnTable(rows);
        gra = bx::additionalOrderTable(false, {});
        GR = gr;
        GRS = {};
        GRA = gra;
        QDIM = static_cast<std::int16_t>(rows.size());
        QDIMS = 0;
        ReadColumnTables();
        for (int slot : formatSlots) AddFormatSlot(slot);
    }
};

constexpr int QueueList = 5;

struct ListWindow : fw::WindowManager {
    std::string caption = "Hand-Coded List";
    std::string format;
    fw::Level Init() override {
        fw::Level l = WindowManager::Init();
        if (l != fw::LevelNone) return l;
        win::WindowSpec d;
        d.caption = caption;
        d.at = {0, 0, 420, 200};
        win::ControlSpec& list = d.add("LIST", QueueList, {4, 4, 400, 120}, "Browsing Records");
        list.format = format;
        list.vscroll = true;
        return WINDOW.open(d) ? fw::LevelNone : fw::LevelFatal;
    }
};

struct NoPopup : bx::SorvexListOwner {
    fw::PopupManager* Popup() override { return nullptr; }
};

// Pushes the queue's entries to the list, as a list over a queue shows them.
inline void showQueue(win::Window& window, Queue& queue) {
    auto data = std::make_shared<win::ListRowsData>();
    for (std::int64_t i = 1; i <= queue.records(); ++i) {
        win::ListRow row;
        for (int f = 1; f <= queue.fieldCount(); ++f) row.push_back(queue.value(i, f).toText());
        data->rows.push_back(std::move(row));
    }
    window.setData(QueueList, data);
}

} // namespace sorv::test

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace sorv::test {

// Presses a button of a window as soon as the window is open (on the desktop, before the program
// has gone on), as a user quick enough to be waiting for it: the "Cancel" of a progress window
// is then waiting for the job's first look. Counts the presses.
class PressWhenShown : public QObject {
public:
    // Made on the desktop's thread (the test's own, outside the program); presses `times` times.
    PressWhenShown(QString window, QString button, int times = 1)
        : window_(std::move(window)), button_(std::move(button)), left_(times) {
        application().installEventFilter(this);
    }
    ~PressWhenShown() override { QApplication::instance()->removeEventFilter(this); }
    int presses() const { return presses_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(watched);
        if (e->type() == QEvent::Show && left_ > 0 && w && w->isWindow() && w->accessibleName() == window_)
            for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
                if (b->text() == button_) {
                    // Once the window is open: it tells its program nothing while it is built.
                    QMetaObject::invokeMethod(
                        b, [b] { b->click(); }, Qt::QueuedConnection);
                    ++presses_;
                    --left_;
                }
        return false;
    }

private:
    QString window_, button_;
    std::atomic<int> presses_{0};
    int left_;
};

} // namespace sorv::test
