// The desktop on the GUI thread: the call road from program threads, the table of open windows
// with their widgets (frame, MDI children, plain and modal windows), message boxes, the shell,
// the clipboard, session end, and the program's run.
#include "windowing/desktop.h"
#include "windowing/gui_call.h"
#include "windowing/gui_dialogs.h"
#include "windowing/gui_window.h"
#include "windowing/help.h"
#include "windowing/threads.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Lives on the GUI thread; queued calls to it run there.
QPointer<QObject> invoker;
std::atomic<bool> programRunning{false};
std::function<void(QMessageBox*)> boxObserver;

QObject* guiInvoker() {
    if (!invoker && QCoreApplication::instance() && onGuiThread()) {
        invoker = new QObject;
        invoker->moveToThread(QCoreApplication::instance()->thread());
    }
    return invoker;
}

// A window's client area. Its size hint is the designed size, so that the MDI area's
// arrangements (Cascade) give each child a usable size rather than a bare title bar.
class ClientArea : public QWidget {
public:
    QSize designed;
    QSize sizeHint() const override { return designed.isValid() ? designed : QWidget::sizeHint(); }
};

// Turns the user's actions on a window's own widget into events for its thread.
class WindowWatcher : public QObject {
public:
    WindowWatcher(GuiWindow* w, QObject* parent) : QObject(parent), w_(w) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != w_->top) return false;
        switch (e->type()) {
        case QEvent::Close:
            if (w_->closing) return false;
            // The program decides: the close request becomes an event, the default of which closes.
            e->ignore();
            w_->post(makeEvent(event::CloseWindow));
            return true;
        case QEvent::Resize:
            w_->post(makeEvent(event::Sized));
            break;
        case QEvent::Move:
            w_->post(makeEvent(event::Moved));
            break;
        case QEvent::WindowStateChange: {
            Qt::WindowStates now = w_->top->windowState();
            if (now & Qt::WindowMinimized)
                w_->post(makeEvent(event::Iconized));
            else if (now & Qt::WindowMaximized)
                w_->post(makeEvent(event::Maximized));
            else
                w_->post(makeEvent(event::Restored));
            break;
        }
        case QEvent::WindowActivate:
            if (!qobject_cast<QMdiSubWindow*>(w_->top.data())) w_->post(makeEvent(event::GainFocus));
            break;
        case QEvent::WindowDeactivate:
            if (!qobject_cast<QMdiSubWindow*>(w_->top.data())) w_->post(makeEvent(event::LoseFocus));
            break;
        default:
            break;
        }
        return false;
    }

private:
    GuiWindow* w_;
};

// Enter and Esc in a window as dialogs have them: Enter presses the focused button, else the
// window's default button; Esc presses the window's cancel button (captioned "Cancel" or "Close"),
// and closes a modal window without one as its close box would. A key that the focused control
// uses itself (a list's Enter, a text box's) never comes here.
class DialogKeys : public QObject {
public:
    DialogKeys(GuiWindow* w, QObject* parent) : QObject(parent), w_(w) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || watched != w_->content) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->modifiers() & ~Qt::KeypadModifier) return false;
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            auto* b = qobject_cast<QPushButton*>(QApplication::focusWidget());
            if (!b || !w_->content->isAncestorOf(b))
                b = button([](QPushButton* p) { return p->isDefault(); });
            if (!b) return false;
            b->click();
            return true;
        }
        if (k->key() == Qt::Key_Escape) {
            if (QPushButton* b = button([](QPushButton* p) {
                    const QString t = withoutAccelerators(p->text()).trimmed().toLower();
                    return t == "cancel" || t == "close";
                })) {
                b->click();
                return true;
            }
            if (w_->design.modal) {
                w_->post(makeEvent(event::CloseWindow));
                return true;
            }
        }
        return false;
    }

private:
    template <class F> QPushButton* button(F which) const {
        for (int n : w_->order) {
            Control* c = w_->control(n);
            auto* b = c ? qobject_cast<QPushButton*>(c->widget()) : nullptr;
            if (b && which(b) && b->isEnabled() && b->isVisibleTo(w_->content)) return b;
        }
        return nullptr;
    }
    GuiWindow* w_;
};

QMessageBox::StandardButton qtButton(int value) {
    switch (value) {
    case button::Ok:
        return QMessageBox::Ok;
    case button::Yes:
        return QMessageBox::Yes;
    case button::No:
        return QMessageBox::No;
    case button::Abort:
        return QMessageBox::Abort;
    case button::Retry:
        return QMessageBox::Retry;
    case button::Ignore:
        return QMessageBox::Ignore;
    case button::Cancel:
        return QMessageBox::Cancel;
    case button::Help:
        return QMessageBox::Help;
    default:
        return QMessageBox::NoButton;
    }
}

constexpr int buttonOrder[] = {button::Ok,    button::Yes,    button::No,     button::Abort,
                               button::Retry, button::Ignore, button::Cancel, button::Help};

// Shows a box without blocking the GUI thread; `done` gets the button value.
QMessageBox* showBox(const QString& text, const QString& caption, int iconValue, int buttons,
                     int defaultButton, std::function<void(int)> done) {
    auto* box = new QMessageBox(guiFrame() ? guiFrame()->top.data() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(caption);
    box->setText(QString(text).replace('|', '\n'));
    switch (iconValue) {
    case icon::Hand:
        box->setIcon(QMessageBox::Critical);
        break;
    case icon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    case icon::Exclamation:
        box->setIcon(QMessageBox::Warning);
        break;
    case icon::Asterisk:
        box->setIcon(QMessageBox::Information);
        break;
    default:
        box->setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((buttons & 255) == 0) buttons = button::Ok;
    int first = 0;
    for (int b : buttonOrder)
        if (buttons & b) {
            if (!first) first = b;
            QAbstractButton* qb = box->addButton(qtButton(b));
            qb->setProperty("sorvValue", b);
        }
    int chosenDefault = (defaultButton & buttons) ? defaultButton : first;
    if (auto* d = box->button(qtButton(chosenDefault))) box->setDefaultButton(static_cast<QPushButton*>(d));
    box->setWindowModality(Qt::ApplicationModal);
    // A box raised while the program works under the wait cursor wants the ordinary pointer.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, chosenDefault, waiting, done = std::move(done)](int) {
                         if (waiting) QApplication::restoreOverrideCursor();
                         QAbstractButton* clicked = box->clickedButton();
                         done(clicked ? clicked->property("sorvValue").toInt() : chosenDefault);
                     });
    if (boxObserver) boxObserver(box);
    box->show();
    return box;
}

void arrangeIcons(QMdiArea* mdi) {
    int x = 0;
    for (QMdiSubWindow* s : mdi->subWindowList()) {
        if (!s->isMinimized()) continue;
        s->move(x, mdi->viewport()->height() - s->height());
        x += s->width();
    }
}

} // namespace

// ---- the call road ----

bool onGuiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool desktopRunning() {
    return QCoreApplication::instance() && invoker;
}

void callGui(const std::function<void()>& call) {
    if (onGuiThread()) {
        guiInvoker();
        return call();
    }
    QObject* target = invoker;
    if (!target || !QCoreApplication::instance()) return;
    QMetaObject::invokeMethod(
        target, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

// ---- open windows ----

std::map<int, std::unique_ptr<GuiWindow>>& guiWindows() {
    static std::map<int, std::unique_ptr<GuiWindow>> windows;
    return windows;
}

GuiWindow* guiWindow(int id) {
    auto it = guiWindows().find(id);
    return it == guiWindows().end() ? nullptr : it->second.get();
}

GuiWindow* guiFrame() {
    for (auto& [id, w] : guiWindows())
        if (w->frame) return w.get();
    return nullptr;
}

void destroyGuiWindow(int id) {
    auto it = guiWindows().find(id);
    if (it == guiWindows().end()) return;
    std::unique_ptr<GuiWindow> w = std::move(it->second);
    guiWindows().erase(it);
    w.reset();
}

GuiWindow::GuiWindow(int id_, std::shared_ptr<ThreadState> owner_, WindowSpec design_)
    : id(id_), ownerSlot(owner_ ? owner_->slot : -1), owner(std::move(owner_)), design(std::move(design_)) {
    font_ = QFont(qs(design.font.face), design.font.points > 0 ? design.font.points : 8);
    font_.setStyleHint(QFont::SansSerif);
    font_.setBold(design.font.bold);
    font_.setItalic(design.font.italic);
    QFontMetrics m(font_);
    xMul = std::max(1, m.averageCharWidth());
    yMul = std::max(1, m.height());
}

GuiWindow::~GuiWindow() {
    closing = true;
    opened = false;
    // The widgets go first: hiding one may still fire its signals (an entry losing the focus),
    // which must find their controls alive.
    if (top) {
        top->hide();
        delete top.data();
    }
    controls.clear();
}

void GuiWindow::post(Event e) {
    if (!opened || !owner) return;
    e.window = id;
    e.fromDesktop = true;
    owner->queue.post(std::move(e));
}

void GuiWindow::addAlertKey(int key, int number) {
    Control* target = number ? control(number) : nullptr;
    QWidget* on = target ? target->widget() : content.data();
    if (!on) return;
    auto* shortcut = new QShortcut(QKeySequence(key), on, nullptr, nullptr,
                                   target ? Qt::WidgetShortcut : Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, shortcut, [this, key] {
        Event e = makeEvent(event::AlertKey);
        e.keyCode = key;
        QWidget* f = QApplication::focusWidget();
        for (auto& [n, c] : controls)
            if (f && (c->widget() == f || c->widget()->isAncestorOf(f))) e.control = n;
        post(e);
    });
}

Control* GuiWindow::control(int number) {
    auto it = controls.find(number);
    return it == controls.end() ? nullptr : it->second.get();
}

QWidget* GuiWindow::containerFor(int parent) {
    if (parent != 0)
        if (Control* c = control(parent)) return c->container();
    return content;
}

void GuiWindow::buildMenu(QMenu* menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        if (!item.items.empty()) {
            QMenu* sub = menu->addMenu(qs(item.text));
            sub->menuAction()->setStatusTip(qs(item.status));
            sub->setAccessibleName(withoutAccelerators(qs(item.text)));
            if (item.number) actions[item.number] = sub->menuAction();
            buildMenu(sub, item.items);
            continue;
        }
        if (item.action == StdAction::WindowList) {
            // The open MDI children are listed after this point each time the menu opens.
            QAction* marker = menu->addSeparator();
            QObject::connect(menu, &QMenu::aboutToShow, menu, [this, menu, marker] {
                for (QAction* a : menu->actions())
                    if (a->property("sorvWindowList").toBool()) delete a;
                if (!mdi) return;
                int n = 0;
                for (QMdiSubWindow* s : mdi->subWindowList()) {
                    auto* a = new QAction(QString("&%1 %2").arg(++n).arg(s->windowTitle()), menu);
                    a->setProperty("sorvWindowList", true);
                    a->setCheckable(true);
                    a->setChecked(s == mdi->currentSubWindow());
                    QPointer<QMdiSubWindow> target = s;
                    QObject::connect(a, &QAction::triggered, a, [this, target] {
                        if (!target || !mdi) return;
                        if (target->isMinimized()) target->showNormal(); // chosen to be worked in
                        mdi->setActiveSubWindow(target);
                    });
                    menu->addAction(a);
                }
                marker->setVisible(n > 0);
            });
            continue;
        }
        if (item.separator()) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(qs(item.text));
        a->setStatusTip(qs(item.status));
        if (!item.shortcut.empty()) a->setShortcut(QKeySequence(qs(item.shortcut)));
        if (item.number) actions[item.number] = a;
        const int number = item.number;
        const StdAction action = item.action;
        if (action == StdAction::Cut) cutAction = a;
        if (action == StdAction::Copy) copyAction = a;
        if (action == StdAction::Paste) pasteAction = a;
        QObject::connect(a, &QAction::triggered, a, [this, number, action] {
            switch (action) {
            case StdAction::None:
                post(makeEvent(event::Accepted, number));
                break;
            case StdAction::CloseFrame:
                post(makeEvent(event::CloseWindow));
                break;
            case StdAction::PrintSetup:
                showPrinterSetup(top);
                break;
            case StdAction::Cut:
            case StdAction::Copy:
            case StdAction::Paste:
                if (QWidget* f = QApplication::focusWidget()) {
                    const char* slot = action == StdAction::Cut    ? "cut"
                                       : action == StdAction::Copy ? "copy"
                                                                   : "paste";
                    QMetaObject::invokeMethod(f, slot);
                }
                break;
            case StdAction::Tile:
                if (mdi) mdi->tileSubWindows();
                break;
            case StdAction::Cascade:
                if (mdi) mdi->cascadeSubWindows();
                break;
            case StdAction::ArrangeIcons:
                if (mdi) arrangeIcons(mdi);
                break;
            case StdAction::HelpIndex:
                showHelp(HelpView::Contents);
                break;
            case StdAction::HelpSearch:
                showHelp(HelpView::Search);
                break;
            case StdAction::HelpOnHelp:
                showHelp(HelpView::HowToUse);
                break;
            case StdAction::WindowList:
                break;
            }
        });
    }
}

void GuiWindow::buildFrame() {
    frame = new QMainWindow;
    top = frame;
    mdi = new QMdiArea(frame);
    mdi->setAccessibleName("MDI client");
    frame->setCentralWidget(mdi);
    content = mdi;
    for (const MenuItem& m : design.menus) {
        QMenu* menu = frame->menuBar()->addMenu(qs(m.text));
        menu->setAccessibleName(withoutAccelerators(qs(m.text)));
        menu->menuAction()->setStatusTip(qs(m.status));
        if (m.number) actions[m.number] = menu->menuAction();
        buildMenu(menu, m.items);
    }
    if (!design.toolbar.empty()) {
        QToolBar* bar = frame->addToolBar("Toolbar");
        bar->setObjectName("Toolbar");
        bar->setAccessibleName("Toolbar");
        bar->setMovable(false);
        for (const ToolButton& b : design.toolbar) {
            QAction* a =
                b.icon.empty() ? bar->addAction(qs(b.tip)) : bar->addAction(QIcon(qs(b.icon)), qs(b.tip));
            a->setToolTip(qs(b.tip));
            a->setStatusTip(qs(b.tip));
            actions[b.number] = a;
            const int number = b.number;
            QObject::connect(a, &QAction::triggered, a,
                             [this, number] { post(makeEvent(event::Accepted, number)); });
        }
    }
    statusLabel = new QLabel(qs(design.statusText));
    frame->statusBar()->addWidget(statusLabel, 1);
    // Ctrl+F4 asks the active child to close, as its close box does.
    auto* closeChild = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4), frame);
    closeChild->setContext(Qt::WindowShortcut);
    QObject::connect(closeChild, &QShortcut::activated, mdi, [this] {
        if (QMdiSubWindow* active = mdi ? mdi->activeSubWindow() : nullptr) active->close();
    });
    for (QMenu* menu : frame->menuBar()->findChildren<QMenu*>())
        QObject::connect(menu, &QMenu::aboutToShow, menu, [this] { updateEditActions(); });
    QObject::connect(qApp, &QApplication::focusChanged, frame, [this] { updateEditActions(); });
    updateEditActions();
    disableToolbar();
    // Activation inside the frame moves the focus events between MDI children; the toolbar waits
    // for the newly active window to enable what it can do.
    QObject::connect(mdi, &QMdiArea::subWindowActivated, mdi, [this](QMdiSubWindow* now) {
        static QPointer<QMdiSubWindow> last;
        if (last == now) return;
        disableToolbar();
        for (auto& [id, w] : guiWindows()) {
            if (last && w->top == last) w->post(makeEvent(event::LoseFocus));
            if (now && w->top == now) w->post(makeEvent(event::GainFocus));
        }
        last = now;
    });
}

void GuiWindow::disableToolbar() {
    for (const ToolButton& b : design.toolbar)
        if (auto it = actions.find(b.number); it != actions.end()) it->second->setEnabled(false);
}

void GuiWindow::updateEditActions() {
    QWidget* f = QApplication::focusWidget();
    bool text = false, editable = false, selection = false;
    if (auto* line = qobject_cast<QLineEdit*>(f)) {
        text = true;
        editable = !line->isReadOnly();
        selection = line->hasSelectedText();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(f)) {
        text = true;
        editable = !plain->isReadOnly();
        selection = plain->textCursor().hasSelection();
    } else if (auto* rich = qobject_cast<QTextEdit*>(f)) {
        text = true;
        editable = !rich->isReadOnly();
        selection = rich->textCursor().hasSelection();
    }
    // Other controls copy what they can (a list its row); nothing can be cut from or pasted into
    // them.
    const bool copies = text ? selection : f && f->metaObject()->indexOfSlot("copy()") >= 0;
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    if (cutAction) cutAction->setEnabled(editable && selection);
    if (copyAction) copyAction->setEnabled(copies);
    if (pasteAction) pasteAction->setEnabled(editable && clip && clip->hasText());
}

void GuiWindow::orderTabs() {
    // Tab goes through the controls as they stand, row by row and left to right, whatever order
    // the design lists them in (unless it asks for its own order); the controls on a sheet's tabs
    // follow the sheet.
    const int line = std::max(1, QFontMetrics(font_).height());
    auto rowOf = [&](QWidget* w) { return std::pair{(w->y() + w->height() / 2 + line / 2) / line, w->x()}; };
    std::vector<std::pair<std::vector<std::pair<int, int>>, QWidget*>> stops;
    for (int n : order) {
        QWidget* w = control(n)->widget();
        if (!(w->focusPolicy() & Qt::TabFocus) || !content->isAncestorOf(w)) continue;
        std::vector<std::pair<int, int>> place;
        for (QWidget* p = w; p && p != content; p = p->parentWidget())
            if (p == w || qobject_cast<QTabWidget*>(p)) place.insert(place.begin(), rowOf(p));
        stops.emplace_back(std::move(place), w);
    }
    if (!design.tabsInListedOrder)
        std::stable_sort(stops.begin(), stops.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1].second, stops[i].second);
}

bool GuiWindow::build() {
    if (design.kind == WindowKind::Frame) {
        buildFrame();
    } else {
        GuiWindow* f = guiFrame();
        auto* client = new ClientArea;
        client->setFont(font_);
        content = client;
        if (design.kind == WindowKind::MdiChild && f && f->mdi && !design.modal) {
            auto* sub = new QMdiSubWindow;
            sub->setWidget(client);
            sub->setAttribute(Qt::WA_DeleteOnClose, false);
            f->mdi->addSubWindow(sub);
            top = sub;
        } else {
            top = client;
            if (design.modal) client->setWindowModality(Qt::ApplicationModal);
        }
    }
    top->setWindowTitle(qs(design.caption));
    top->setAccessibleName(qs(design.caption));
    if (!design.icon.empty())
        top->setWindowIcon(QIcon(qs(design.icon)));
    else if (GuiWindow* f = guiFrame(); f && f != this && f->top)
        top->setWindowIcon(f->top->windowIcon()); // the program's icon, not the toolkit's

    for (const ControlSpec& c : design.controls) {
        auto made = createControl(*this, c);
        if (!made) return false;
        order.push_back(c.number);
        controls[c.number] = std::move(made);
    }
    for (std::size_t i = 0; i < design.controls.size(); ++i) {
        const ControlSpec& c = design.controls[i];
        Control* ctl = control(c.number);
        ctl->place(c.at);
        if (c.hidden) ctl->widget()->hide();
        if (c.disabled) ctl->widget()->setEnabled(false);
        // A prompt's accelerator takes the focus to the control that follows it, which is also
        // named by it for assistive technology.
        if (c.type == "PROMPT" && i + 1 < design.controls.size()) {
            Control* next = control(design.controls[i + 1].number);
            if (auto* label = qobject_cast<QLabel*>(ctl->widget())) label->setBuddy(next->widget());
            if (design.controls[i + 1].text.empty() || next->widget()->accessibleName().isEmpty())
                next->widget()->setAccessibleName(withoutAccelerators(qs(c.text)).trimmed());
        }
    }
    for (int key : design.alertKeys) addAlertKey(key, 0);
    if (!frame) {
        orderTabs();
        content->installEventFilter(new DialogKeys(this, content));
    }

    int width = design.at.width > 0 ? toPixelsX(design.at.width) : 0;
    int height = design.at.height > 0 ? toPixelsY(design.at.height) : 0;
    if (width <= 0 || height <= 0) {
        QRect used;
        for (auto& [n, c] : controls)
            if (c->widget()->parentWidget() == content) used |= c->widget()->geometry();
        if (width <= 0) width = std::max(used.right() + 8, 160);
        if (height <= 0) height = std::max(used.bottom() + 8, 80);
    }
    designed =
        Rect{design.at.x, design.at.y, pixelsToDialog(width, xMul, xDiv), pixelsToDialog(height, yMul, yDiv)};
    if (design.at.width > 0) designed.width = design.at.width;
    if (design.at.height > 0) designed.height = design.at.height;
    if (auto* client = dynamic_cast<ClientArea*>(content.data())) client->designed = QSize(width, height);
    if (frame)
        frame->resize(width, height);
    else
        content->resize(width, height);
    if (!design.resizable && !frame) content->setFixedSize(width, height);
    if (design.at.x >= 0 && design.at.y >= 0) top->move(toPixelsX(design.at.x), toPixelsY(design.at.y));

    if (!design.activates) {
        top->setAttribute(Qt::WA_ShowWithoutActivating);
        top->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    }
    if (design.maximized)
        top->showMaximized();
    else if (design.iconized)
        top->showMinimized();
    else
        top->show();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(top.data())) {
        // The subwindow's frame comes around the client area, which keeps the designed size.
        if (!design.maximized && !design.iconized) {
            QSize extra = sub->size() - sub->widget()->size();
            sub->resize(width + std::max(0, extra.width()), height + std::max(0, extra.height()));
        }
        if (!design.resizable) sub->setWindowFlags(sub->windowFlags() & ~Qt::WindowMaximizeButtonHint);
    }
    if (design.center && !frame) {
        QWidget* parent = top->parentWidget() ? top->parentWidget() : nullptr;
        QRect area = parent ? parent->rect() : QRect(QPoint(0, 0), QSize(1024, 768));
        top->move(area.center() - QPoint(top->width() / 2, top->height() / 2));
    }
    if (design.atPointer && !frame && top->isWindow()) {
        QRect screen = top->screen() ? top->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
        QPoint at = QCursor::pos();
        at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - top->width())));
        at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() - top->height())));
        top->move(at);
    }
    lastSize = top->size();
    lastPos = top->pos();
    top->installEventFilter(new WindowWatcher(this, top));
    return true;
}

// ---- message boxes and other services ----

namespace {

int desktopMessage(const std::string& text, const std::string& caption, int iconValue, int buttons,
                   int defaultButton) {
    struct Wait {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        int value = 0;
    };
    auto wait = std::make_shared<Wait>();
    bool shown = false;
    auto finish = [wait](int v) {
        {
            std::lock_guard g(wait->m);
            wait->value = v;
            wait->done = true;
        }
        wait->cv.notify_all();
    };
    onGui([&] {
        if (!guiInvoker()) return;
        showBox(qs(text), qs(caption), iconValue, buttons, defaultButton, finish);
        shown = true;
    });
    if (!shown) return defaultButton ? defaultButton : button::Ok;
    if (onGuiThread()) {
        // A GUI-side caller cannot block; it waits in a local loop instead.
        QEventLoop loop;
        while (!wait->done) loop.processEvents(QEventLoop::WaitForMoreEvents);
        return wait->value;
    }
    LockReleased unlocked;
    std::unique_lock g(wait->m);
    wait->cv.wait(g, [&] { return wait->done; });
    return wait->value;
}

// Whatever links the desktop shows its message boxes on it.
const bool presenterSet = (setMessagePresenter(desktopMessage), true);

} // namespace

int iconOfString(const std::string& s) {
    if (s.size() == 4 && static_cast<unsigned char>(s[0]) == 0xFF && s[1] == 1 &&
        static_cast<unsigned char>(s[3]) == 0x7F)
        return static_cast<unsigned char>(s[2]);
    return icon::None;
}

void beep() {
    onGui([] { QApplication::beep(); });
}

WaitCursor::WaitCursor() {
    onGui([] { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); });
}

WaitCursor::~WaitCursor() {
    onGui([] { QApplication::restoreOverrideCursor(); });
}

namespace {

// The program that hands files and addresses to the desktop's programs: $SORV_OPENER when set,
// else on an X11 or Wayland desktop "xdg-open". None: Qt's desktop services open them. (Those
// start xdg-open and answer whether it started, not whether a program took the file, so that a
// desktop with no program for the file's type opened nothing and said nothing.)
std::string openerProgram() {
    if (const char* chosen = std::getenv("SORV_OPENER"); chosen && *chosen) return chosen;
    const QString platform = onGui([] { return QGuiApplication::platformName(); });
    if (platform == "xcb" || platform.startsWith("wayland"))
        return QStandardPaths::findExecutable("xdg-open").toStdString();
    return {};
}

// Runs the opener on a file or address: 42 when it took it, 31 when it answered that nothing
// could open it (any status but 0: no program for the type, the program failed), 2 when it cannot
// be started. Some desktops' openers wait for the program they start: one still running after
// two seconds has found its program, counts as having opened the file, and ends on its own.
int runOpener(const std::string& opener, const std::string& target) {
    char* argv[] = {const_cast<char*>(opener.c_str()), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv, environ) != 0) return 2;
    auto ended = std::make_shared<std::promise<int>>();
    std::future<int> status = ended->get_future();
    std::thread([pid, ended] {
        int st = 0;
        pid_t r;
        do r = ::waitpid(pid, &st, 0);
        while (r < 0 && errno == EINTR);
        ended->set_value(r < 0 ? 0 : st);
    }).detach();
    if (status.wait_for(std::chrono::seconds(2)) != std::future_status::ready) return 42;
    const int st = status.get();
    return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? 42 : 31;
}

} // namespace

int shellOpen(const std::string& target) {
    QString t = qs(target).trimmed();
    if (t.isEmpty()) return 2;
    QUrl url(t, QUrl::StrictMode);
    bool isAddress = url.isValid() && url.scheme().size() > 1 && !url.scheme().isEmpty() && t.contains(':');
    if (!isAddress) {
        QFileInfo info(t);
        if (!info.exists()) return 2;
        url = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    if (const std::string opener = openerProgram(); !opener.empty())
        return runOpener(opener, (isAddress ? url.toString() : url.toLocalFile()).toStdString());
    bool ok = onGui([&] { return QDesktopServices::openUrl(url); });
    return ok ? 42 : 31;
}

int runCommand(const std::string& commandLine) {
    QStringList parts = QProcess::splitCommand(qs(commandLine));
    if (parts.isEmpty()) return 2;
    QString program = parts.takeFirst();
    QString base = QFileInfo(program).completeBaseName().toLower();
    if (base == "notepad" || base == "write") {
        // The desktop's own text editor is whatever opens a text document.
        int result = 42;
        for (const QString& file : parts) result = std::min(result, shellOpen(file.toStdString()));
        return result;
    }
    return QProcess::startDetached(program, parts) ? 42 : 2;
}

bool copyWindowImage(int windowId) {
    return onGui([&] {
        GuiWindow* w = guiWindow(windowId);
        if (!w || !w->top) return false;
        QApplication::clipboard()->setImage(w->top->grab().toImage());
        return true;
    });
}

int activeChildThread() {
    return onGui([] {
        GuiWindow* f = guiFrame();
        if (!f || !f->mdi) return -1;
        QMdiSubWindow* active = f->mdi->currentSubWindow();
        for (auto& [id, w] : guiWindows())
            if (active && w->top == active) return w->ownerSlot;
        return -1;
    });
}

int frameWindow() {
    return onGui([] {
        GuiWindow* f = guiFrame();
        return f ? f->id : 0;
    });
}

bool refuseSessionEnd() {
    if (!programRunning) return false;
    onGui([] {
        if (GuiWindow* f = guiFrame()) {
            f->top->raise();
            f->top->activateWindow();
        }
        QString title = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
        showBox("Application still active.\n\nQuit the application before quitting Windows.", title,
                icon::Hand, button::Ok, 0, [](int) {});
    });
    return true;
}

void setMessageBoxObserver(std::function<void(QMessageBox*)> observer) {
    onGui([&] { boxObserver = std::move(observer); });
    if (!QCoreApplication::instance()) boxObserver = std::move(observer);
}

namespace {

// SIGTERM and SIGHUP (the session ends, the machine shuts down, someone asks the program to stop)
// end it as "E&xit" does: the frame is asked to close and its windows close through their own
// close handling, keeping their places. The signal only writes to a pipe; the desktop reads it.
int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(terminationPipe[1], &c, 1);
}

void closeAsExitDoes() {
    if (!programRunning) return;
    if (GuiWindow* f = guiFrame()) {
        f->post(makeEvent(event::CloseWindow));
        return;
    }
    // A program without a frame: each of its windows is asked; with none open yet, later.
    bool told = false;
    for (auto& [id, w] : guiWindows())
        if (w->opened) {
            w->post(makeEvent(event::CloseWindow));
            told = true;
        }
    if (!told) QTimer::singleShot(100, invoker, closeAsExitDoes);
}

class TerminationSignals {
public:
    TerminationSignals() {
        if (::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        notifier_ = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, invoker);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [] {
            char buf[16];
            while (::read(terminationPipe[0], buf, sizeof buf) > 0) {
            }
            closeAsExitDoes();
        });
        struct sigaction sa {};
        sa.sa_handler = onTerminationSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, &term_);
        ::sigaction(SIGHUP, &sa, &hup_);
        installed_ = true;
    }
    ~TerminationSignals() {
        if (installed_) {
            ::sigaction(SIGTERM, &term_, nullptr);
            ::sigaction(SIGHUP, &hup_, nullptr);
        }
        delete notifier_;
        for (int& fd : terminationPipe)
            if (fd >= 0) ::close(std::exchange(fd, -1));
    }

private:
    using SignalAction = struct sigaction;
    QSocketNotifier* notifier_ = nullptr;
    SignalAction term_{}, hup_{};
    bool installed_ = false;
};

} // namespace

int runProgram(std::function<void()> entry) {
    guiInvoker();
    programStarts();
    setThreadWindowCleanup(closeThreadWindowsAtEnd);
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    QMetaObject::Connection session;
    if (app)
        session =
            QObject::connect(app, &QGuiApplication::commitDataRequest, app, [](QSessionManager& manager) {
                if (manager.allowsInteraction() && refuseSessionEnd()) manager.cancel();
            });
    programRunning = true;
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    {
        TerminationSignals termination;
        FirstThread first(std::move(entry), [&] {
            QMetaObject::invokeMethod(
                invoker, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        first.join();
    }
    programRunning = false;
    if (session) QObject::disconnect(session);
    while (!guiWindows().empty()) destroyGuiWindow(guiWindows().begin()->first);
    return 0;
}

} // namespace sorv::win
