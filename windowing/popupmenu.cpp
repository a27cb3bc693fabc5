// Context menus built from definitions and waited for by the program thread, and the toolbox
// windows whose buttons stand in for controls.
#include "windowing/popupmenu.h"
#include "windowing/gui_call.h"
#include "windowing/gui_window.h"
#include "windowing/threads.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QEventLoop>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QVBoxLayout>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

std::function<void(QMenu*)> menuObserver;

// The choice of one shown menu; the first answer counts (a chosen action, or the menu closing).
struct MenuWait {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int chosen = 0;
    void finish(int id) {
        {
            std::lock_guard g(m);
            if (done) return;
            done = true;
            chosen = id;
        }
        cv.notify_all();
    }
};

// Builds the entries into `root`; an entry followed by deeper entries becomes a submenu.
void buildMenu(QMenu* root, const std::vector<PopupEntry>& entries, const std::shared_ptr<MenuWait>& wait) {
    std::vector<QMenu*> levels{root};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PopupEntry& e = entries[i];
        // A depth that jumps by more than one hangs under the deepest menu there is.
        const std::size_t depth = std::min<std::size_t>(std::max(e.depth, 0), levels.size() - 1);
        levels.resize(depth + 1);
        QMenu* into = levels.back();
        if (e.separator) {
            into->addSeparator();
            continue;
        }
        const bool opensSubmenu = i + 1 < entries.size() && entries[i + 1].depth > e.depth;
        if (opensSubmenu) {
            QMenu* sub = into->addMenu(qs(e.text));
            sub->setAccessibleName(withoutAccelerators(qs(e.text)));
            sub->menuAction()->setEnabled(!e.disabled);
            if (!e.icon.empty()) sub->setIcon(QIcon(qs(e.icon)));
            levels.push_back(sub);
            continue;
        }
        QAction* a = into->addAction(qs(e.text));
        a->setEnabled(!e.disabled);
        if (e.checked) {
            a->setCheckable(true);
            a->setChecked(true);
        }
        if (!e.icon.empty()) a->setIcon(QIcon(qs(e.icon)));
        const int id = e.id;
        QObject::connect(a, &QAction::triggered, root, [root, wait, id] {
            wait->finish(id);
            root->close();
        });
    }
}

// Keeps a toolbox button in the state of the control it stands for.
class MimicFilter : public QObject {
public:
    MimicFilter(QWidget* control, QToolButton* button) : QObject(button), control_(control), button_(button) {
        control->installEventFilter(this);
        sync();
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
        case QEvent::EnabledChange:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Show:
        case QEvent::Hide:
            sync();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void sync() {
        if (!control_ || !button_) return;
        button_->setEnabled(control_->isEnabled());
        button_->setVisible(!control_->isHidden());
    }
    QPointer<QWidget> control_;
    QPointer<QToolButton> button_;
};

// The toolboxes by window id (GUI thread only).
std::map<int, QPointer<QWidget>>& toolboxes() {
    static std::map<int, QPointer<QWidget>> boxes;
    return boxes;
}

} // namespace

int popupMenu(int windowId, const std::vector<PopupEntry>& entries) {
    if (entries.empty()) return 0;
    auto wait = std::make_shared<MenuWait>();
    const bool shown = onGui([&] {
        GuiWindow* w = guiWindow(windowId);
        if (!w || !w->top) return false;
        auto* menu = new QMenu(w->top);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->setAccessibleName("Popup menu");
        buildMenu(menu, entries, wait);
        // Qt hides the menu before the chosen action fires: the close is answered one turn of
        // the event loop later, so that a choice arrives first.
        QObject::connect(menu, &QMenu::aboutToHide, menu, [menu, wait] {
            QMetaObject::invokeMethod(
                menu, [wait] { wait->finish(0); }, Qt::QueuedConnection);
        });
        QObject::connect(menu, &QObject::destroyed, [wait] { wait->finish(0); });
        menu->popup(QCursor::pos());
        if (menuObserver) menuObserver(menu);
        return true;
    });
    if (!shown) return 0;
    if (onGuiThread()) {
        QEventLoop loop;
        while (!wait->done) loop.processEvents(QEventLoop::WaitForMoreEvents);
        return wait->chosen;
    }
    LockReleased unlocked;
    std::unique_lock g(wait->m);
    wait->cv.wait(g, [&] { return wait->done; });
    return wait->chosen;
}

bool showToolbox(int windowId, const std::string& title, const std::vector<ToolboxButton>& buttons) {
    return onGui([&] {
        GuiWindow* w = guiWindow(windowId);
        if (!w || !w->top) return false;
        QPointer<QWidget>& box = toolboxes()[windowId];
        if (box) delete box.data();
        // A tool window of the window's top widget floats above it and goes when it goes.
        box = new QWidget(w->top, Qt::Tool);
        box->setWindowTitle(qs(title));
        box->setAccessibleName(qs(title));
        box->setFont(w->font());
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->setSpacing(2);
        for (const ToolboxButton& b : buttons) {
            auto* button = new QToolButton(box);
            button->setText(qs(b.text));
            button->setAccessibleName(withoutAccelerators(qs(b.text)));
            button->setToolButtonStyle(b.icon.empty() ? Qt::ToolButtonTextOnly
                                                      : Qt::ToolButtonTextBesideIcon);
            if (!b.icon.empty()) button->setIcon(QIcon(qs(b.icon)));
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            layout->addWidget(button);
            if (b.mimic)
                if (Control* c = w->control(b.control)) new MimicFilter(c->widget(), button);
            const Event e = makeEvent(b.eventCode, b.control);
            QObject::connect(button, &QToolButton::clicked, button, [windowId, e] {
                if (GuiWindow* owner = guiWindow(windowId)) owner->post(e);
            });
        }
        box->adjustSize();
        // Beside the window's top right corner, where it hides nothing of the list.
        QPoint corner = w->top->mapToGlobal(QPoint(w->top->width(), 0));
        box->move(corner + QPoint(8, 0));
        box->show();
        box->raise();
        return true;
    });
}

void closeToolbox(int windowId) {
    onGui([&] {
        auto it = toolboxes().find(windowId);
        if (it == toolboxes().end()) return;
        if (it->second) delete it->second.data();
        toolboxes().erase(it);
    });
}

bool toolboxShown(int windowId) {
    return onGui([&] {
        auto it = toolboxes().find(windowId);
        return it != toolboxes().end() && it->second && it->second->isVisible();
    });
}

void setPopupMenuObserver(std::function<void(QMenu*)> observer) {
    onGui([&] { menuObserver = std::move(observer); });
    if (!QCoreApplication::instance()) menuObserver = std::move(observer);
}

} // namespace sorv::win
