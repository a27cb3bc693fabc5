// The control registry and the standard controls: button, prompt, string, entry, check box,
// text box, sheet and tab, group box, progress bar.
#include "windowing/canvas.h"
#include "windowing/choice_controls.h"
#include "windowing/control.h"
#include "windowing/listbox_control.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <algorithm>
#include <map>
#include <mutex>

namespace sorv::win {

// ---- base ----

Control::Control(ControlHost& host, const ControlSpec& design)
    : host_(host), number_(design.number), type_(design.type), at_(design.at) {}

Control::~Control() = default;

void Control::setText(const QString&) {}
QString Control::text() const {
    return {};
}

void Control::setProperty(int property, const QString& value) {
    QWidget* w = widget();
    switch (property) {
    case prop::Text:
        setText(value);
        break;
    case prop::Hide:
        w->setVisible(value != "1");
        break;
    case prop::Disable:
        w->setEnabled(value != "1");
        break;
    case prop::Tip:
        w->setToolTip(value);
        break;
    default:
        break;
    }
}

QString Control::property(int property) const {
    QWidget* w = widget();
    switch (property) {
    case prop::Text:
        return text();
    case prop::Hide:
        return w->isHidden() ? "1" : "0";
    case prop::Visible:
        return w->isVisible() ? "1" : "0";
    case prop::Disable:
        return w->isEnabled() ? "0" : "1";
    case prop::Tip:
        return w->toolTip();
    default:
        return {};
    }
}

void Control::setData(std::shared_ptr<const ControlData>) {}

void Control::place(const Rect& at) {
    at_ = at;
    QWidget* w = widget();
    int x = host_.toPixelsX(std::max(at.x, 0)), y = host_.toPixelsY(std::max(at.y, 0));
    // A control on a tab page is given in window units; the page starts below the tab bar.
    if (auto* parent = w->parentWidget(); parent && parent != host_.containerFor(0)) {
        for (QWidget* p = parent; p && p != host_.containerFor(0); p = p->parentWidget()) {
            if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
                x -= tabs->x() + 2;
                y -= tabs->y() + tabs->tabBar()->sizeHint().height() + 2;
                break;
            }
        }
    }
    QSize natural = w->sizeHint();
    int width = at.width > 0 ? host_.toPixelsX(at.width) : natural.width();
    int height = at.height > 0 ? host_.toPixelsY(at.height) : natural.height();
    w->setGeometry(x, y, std::max(width, 1), std::max(height, 1));
}

void Control::focus() {
    widget()->setFocus(Qt::OtherFocusReason);
}

void Control::postEvent(int code, const QString* text, int param) {
    Event e = makeEvent(code, number_, 0, param);
    if (text) {
        e.text = text->toStdString();
        e.hasText = true;
    }
    host_.post(std::move(e));
}

void Control::describe(QWidget* w, const QString& caption, const QString& tip) const {
    // A control without a caption (an icon button, a list), or whose caption is only a symbol (an
    // arrow), is named by its tip, so that a screen reader has something to say for it; a prompt
    // before it may name it later.
    const QString plain = withoutAccelerators(caption);
    const bool says = std::any_of(plain.begin(), plain.end(), [](QChar c) { return c.isLetterOrNumber(); });
    w->setAccessibleName(says || tip.isEmpty() ? plain : tip);
    if (!tip.isEmpty()) {
        w->setToolTip(tip);
        w->setAccessibleDescription(tip);
    }
}

QString withoutAccelerators(const QString& caption) {
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += caption[i];
    }
    return out;
}

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// ---- standard controls ----

class ButtonControl : public Control {
public:
    ButtonControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        button_ = new QPushButton(qs(design.text), host.containerFor(design.parent));
        button_->setDefault(design.defaultButton);
        button_->setAutoDefault(false);
        describe(button_, qs(design.text), qs(design.tip));
        QObject::connect(button_, &QPushButton::clicked, button_, [this] { postEvent(event::Accepted); });
    }
    QWidget* widget() const override { return button_; }
    void setText(const QString& t) override {
        button_->setText(t);
        button_->setAccessibleName(withoutAccelerators(t.isEmpty() ? button_->toolTip() : t));
    }
    QString text() const override { return button_->text(); }
    void setProperty(int p, const QString& v) override {
        if (p != prop::Default) return Control::setProperty(p, v);
        // One default button per window: making this one the default takes it from the others.
        if (v == "1")
            for (QPushButton* other : button_->window()->findChildren<QPushButton*>())
                if (other != button_) other->setDefault(false);
        button_->setDefault(v == "1");
    }
    QString property(int p) const override {
        if (p == prop::Default) return button_->isDefault() ? "1" : "0";
        return Control::property(p);
    }

private:
    QPushButton* button_;
};

class LabelControl : public Control {
public:
    LabelControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        label_ = new QLabel(qs(design.text), host.containerFor(design.parent));
        label_->setTextFormat(Qt::PlainText);
        describe(label_, qs(design.text), qs(design.tip));
    }
    QWidget* widget() const override { return label_; }
    void setText(const QString& t) override {
        label_->setText(t);
        label_->setAccessibleName(withoutAccelerators(t));
    }
    QString text() const override { return label_->text(); }
    QLabel* label() const { return label_; }

private:
    QLabel* label_;
};

// An entry posts EVENT:Accepted with its new text when the user leaves it changed or presses Enter.
class EntryControl : public Control {
public:
    EntryControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        edit_ = new QLineEdit(host.containerFor(design.parent));
        edit_->setReadOnly(design.readOnly);
        // Named by its text or tip, else by its field; a prompt before it names it instead.
        std::string name = !design.text.empty()  ? design.text
                           : !design.tip.empty() ? design.tip
                           : design.use.valid()  ? std::string(design.use.name())
                                                 : std::string();
        describe(edit_, qs(name), qs(design.tip));
        QObject::connect(edit_, &QLineEdit::editingFinished, edit_, [this] {
            if (!edit_->isModified()) return;
            edit_->setModified(false);
            QString t = edit_->text();
            postEvent(event::Accepted, &t);
        });
    }
    QWidget* widget() const override { return edit_; }
    // Selected with its whole text, so that what is typed next replaces a refused value.
    void focus() override {
        edit_->setFocus(Qt::OtherFocusReason);
        edit_->selectAll();
    }
    void setText(const QString& t) override {
        edit_->setText(t);
        edit_->setModified(false);
    }
    QString text() const override { return edit_->text(); }
    void setProperty(int p, const QString& v) override {
        if (p == prop::ReadOnly)
            edit_->setReadOnly(v == "1");
        else
            Control::setProperty(p, v);
    }
    QString property(int p) const override {
        if (p == prop::ReadOnly) return edit_->isReadOnly() ? "1" : "0";
        return Control::property(p);
    }

private:
    QLineEdit* edit_;
};

class CheckControl : public Control {
public:
    CheckControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        box_ = new QCheckBox(qs(design.text), host.containerFor(design.parent));
        describe(box_, qs(design.text), qs(design.tip));
        QObject::connect(box_, &QCheckBox::clicked, box_, [this](bool on) {
            QString t = on ? "1" : "0";
            postEvent(event::Accepted, &t);
        });
    }
    QWidget* widget() const override { return box_; }
    void setText(const QString& t) override { box_->setChecked(t.trimmed() != "" && t.trimmed() != "0"); }
    QString text() const override { return box_->isChecked() ? "1" : "0"; }

private:
    QCheckBox* box_;
};

class TextEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<void()> left;

protected:
    void focusOutEvent(QFocusEvent* e) override {
        QPlainTextEdit::focusOutEvent(e);
        if (left) left();
    }
};

// A multi-line text box; an edited one posts EVENT:Accepted with its text when the focus leaves.
// Properties 11 and 12 are the selection's first and last character (from 1).
class TextControl : public Control {
public:
    static constexpr int SelStart = 11, SelEnd = 12;
    TextControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        edit_ = new TextEdit(host.containerFor(design.parent));
        edit_->setReadOnly(design.readOnly);
        edit_->setLineWrapMode(design.hscroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
        edit_->setVerticalScrollBarPolicy(design.vscroll ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        if (!design.text.empty()) edit_->setPlainText(qs(design.text));
        describe(edit_, qs(design.tip.empty() ? design.text.substr(0, 40) : design.tip), {});
        edit_->left = [this] {
            if (!edit_->document()->isModified() || edit_->isReadOnly()) return;
            edit_->document()->setModified(false);
            QString t = edit_->toPlainText();
            postEvent(event::Accepted, &t);
        };
    }
    QWidget* widget() const override { return edit_; }
    void setText(const QString& t) override {
        edit_->setPlainText(t);
        edit_->document()->setModified(false);
    }
    QString text() const override { return edit_->toPlainText(); }
    void setProperty(int p, const QString& v) override {
        if (p == prop::ReadOnly) return edit_->setReadOnly(v == "1");
        if (p == SelStart || p == SelEnd) {
            QTextCursor c = edit_->textCursor();
            int start = p == SelStart ? v.toInt() - 1 : std::min(c.selectionStart(), c.selectionEnd());
            int end = p == SelEnd ? v.toInt() : std::max(c.selectionStart(), c.selectionEnd());
            int length = static_cast<int>(edit_->document()->characterCount()) - 1;
            start = std::clamp(start, 0, length);
            end = std::clamp(end, start, length);
            c.setPosition(start);
            c.setPosition(end, QTextCursor::KeepAnchor);
            edit_->setTextCursor(c);
            return;
        }
        Control::setProperty(p, v);
    }
    QString property(int p) const override {
        QTextCursor c = edit_->textCursor();
        if (p == SelStart) return QString::number(c.selectionStart() + 1);
        if (p == SelEnd) return QString::number(c.selectionEnd());
        if (p == prop::ReadOnly) return edit_->isReadOnly() ? "1" : "0";
        return Control::property(p);
    }

private:
    TextEdit* edit_;
};

// A sheet is a tab widget; its tabs are pages made by TAB controls. Changing the tab posts
// EVENT:TabChanging and then EVENT:NewSelection with the new tab number.
class SheetControl : public Control {
public:
    SheetControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        tabs_ = new QTabWidget(host.containerFor(design.parent));
        describe(tabs_, qs(design.text.empty() && design.tip.empty() ? std::string("Tabs") : design.text),
                 qs(design.tip));
        // The tab row takes the keyboard focus for the sheet; a screen reader names it so.
        tabs_->tabBar()->setAccessibleName(tabs_->accessibleName());
        QObject::connect(tabs_, &QTabWidget::currentChanged, tabs_, [this](int index) {
            if (quiet_ || index < 0) return;
            postEvent(event::TabChanging, nullptr, index + 1);
            postEvent(event::NewSelection, nullptr, index + 1);
        });
    }
    QWidget* widget() const override { return tabs_; }
    QTabWidget* tabs() const { return tabs_; }
    void setText(const QString& t) override { select(t.toInt()); }
    QString text() const override { return QString::number(tabs_->currentIndex() + 1); }
    void setProperty(int p, const QString& v) override {
        if (p == prop::Selected) return select(v.toInt());
        if (p == prop::SheetWizard) return tabs_->tabBar()->setVisible(v.toInt() == 0);
        if (p == prop::NoSheet) return tabs_->setDocumentMode(v.toInt() != 0);
        Control::setProperty(p, v);
    }
    QString property(int p) const override {
        if (p == prop::Selected) return text();
        if (p == prop::Tabs) return QString::number(tabs_->count());
        if (p == prop::SheetWizard) return tabs_->tabBar()->isHidden() ? "1" : "0";
        if (p == prop::NoSheet) return tabs_->documentMode() ? "1" : "0";
        return Control::property(p);
    }

private:
    void select(int tab) {
        if (tab < 1 || tab > tabs_->count()) return;
        quiet_ = true;
        tabs_->setCurrentIndex(tab - 1);
        quiet_ = false;
    }
    QTabWidget* tabs_;
    bool quiet_ = false;
};

class TabControl : public Control {
public:
    TabControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        auto* sheet = dynamic_cast<SheetControl*>(host.control(design.parent));
        page_ = new QWidget;
        describe(page_, qs(design.text), qs(design.tip));
        if (sheet) {
            tabs_ = sheet->tabs();
            const int at = tabs_->addTab(page_, qs(design.text));
            if (!design.tip.empty()) tabs_->setTabToolTip(at, qs(design.tip));
        }
    }
    ~TabControl() override {
        if (!tabs_) delete page_;
    }
    QWidget* widget() const override { return page_; }
    void place(const Rect&) override {} // a page fills its sheet
    void setText(const QString& t) override {
        if (tabs_) tabs_->setTabText(tabs_->indexOf(page_), t);
    }
    QString text() const override { return tabs_ ? tabs_->tabText(tabs_->indexOf(page_)) : QString(); }
    bool onSheet() const { return tabs_ != nullptr; }

private:
    QWidget* page_;
    QTabWidget* tabs_ = nullptr;
};

class GroupControl : public Control {
public:
    GroupControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        box_ = new QGroupBox(qs(design.text), host.containerFor(design.parent));
        describe(box_, qs(design.text), qs(design.tip));
        box_->lower();
    }
    QWidget* widget() const override { return box_; }
    // The controls of a group sit beside it in the same container, at window positions.
    QWidget* container() const override { return box_->parentWidget(); }
    void setText(const QString& t) override { box_->setTitle(t); }
    QString text() const override { return box_->title(); }

private:
    QGroupBox* box_;
};

class ProgressControl : public Control {
public:
    ProgressControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        bar_ = new QProgressBar(host.containerFor(design.parent));
        bar_->setRange(0, 100);
        bar_->setValue(0);
        describe(bar_, qs(design.text.empty() ? "Progress" : design.text), qs(design.tip));
    }
    QWidget* widget() const override { return bar_; }
    void setText(const QString& t) override {
        bar_->setValue(std::clamp(t.toInt(), bar_->minimum(), bar_->maximum()));
    }
    QString text() const override { return QString::number(bar_->value()); }
    void setProperty(int p, const QString& v) override {
        if (p == prop::RangeLow) return bar_->setMinimum(v.toInt());
        if (p == prop::RangeHigh) return bar_->setMaximum(v.toInt());
        if (p == prop::Progress) return setText(v);
        Control::setProperty(p, v);
    }
    QString property(int p) const override {
        if (p == prop::RangeLow) return QString::number(bar_->minimum());
        if (p == prop::RangeHigh) return QString::number(bar_->maximum());
        if (p == prop::Progress) return text();
        return Control::property(p);
    }

private:
    QProgressBar* bar_;
};

template <class T> ControlFactory factory() {
    return [](ControlHost& host, const ControlSpec& design) -> std::unique_ptr<Control> {
        return std::make_unique<T>(host, design);
    };
}

std::mutex registryMutex;
std::map<std::string, ControlFactory>& registry() {
    static std::map<std::string, ControlFactory> r;
    return r;
}

// The standard types join here; a control type of this layer that lives in a file of its own
// registers from here too, since a static library drops files nothing refers to.
void registerStandardTypes() {
    registerControlType("BUTTON", factory<ButtonControl>());
    registerControlType("PROMPT", factory<LabelControl>());
    registerControlType("STRING", factory<LabelControl>());
    registerControlType("ENTRY", factory<EntryControl>());
    registerControlType("CHECK", factory<CheckControl>());
    registerControlType("TEXT", factory<TextControl>());
    registerControlType("SHEET", factory<SheetControl>());
    registerControlType("TAB", [](ControlHost& host, const ControlSpec& design) -> std::unique_ptr<Control> {
        auto tab = std::make_unique<TabControl>(host, design);
        if (!tab->onSheet()) return nullptr; // a tab needs its sheet
        return tab;
    });
    registerControlType("GROUP", factory<GroupControl>());
    registerControlType("PROGRESS", factory<ProgressControl>());
    registerControlType("LIST", listControlFactory());
    registerChoiceTypes();
    registerControlType("CANVAS", canvasControlFactory());
}

std::once_flag standardOnce;

} // namespace

bool registerControlType(const std::string& type, ControlFactory f) {
    std::lock_guard g(registryMutex);
    return registry().emplace(type, std::move(f)).second;
}

std::unique_ptr<Control> createControl(ControlHost& host, const ControlSpec& design) {
    std::call_once(standardOnce, registerStandardTypes);
    ControlFactory f;
    {
        std::lock_guard g(registryMutex);
        auto it = registry().find(design.type);
        if (it == registry().end()) return nullptr;
        f = it->second;
    }
    return f(host, design);
}

} // namespace sorv::win
