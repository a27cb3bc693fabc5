// The controls that offer a choice of values: a spin box of numbers ("SPIN"), an option group
// ("OPTION") with its radio buttons ("RADIO"), and a drop list ("DROP").
#include "windowing/choice_controls.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QRadioButton>
#include <QSpinBox>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A spin box of whole numbers (0 to 999 until its range is set). Every value the user gives it,
// by its arrows, the keys or typing, posts EVENT:Accepted with the new value at once; a value the
// program sets posts nothing.
class SpinControl : public Control {
public:
    SpinControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        spin_ = new QSpinBox(host.containerFor(design.parent));
        spin_->setRange(0, 999);
        spin_->setKeyboardTracking(true);
        describe(spin_, qs(design.text.empty() ? design.tip : design.text), qs(design.tip));
        QObject::connect(spin_, &QSpinBox::valueChanged, spin_, [this](int v) {
            if (quiet_) return;
            QString t = QString::number(v);
            postEvent(event::Accepted, &t);
        });
    }
    QWidget* widget() const override { return spin_; }
    void setText(const QString& t) override {
        quiet_ = true;
        spin_->setValue(t.trimmed().toInt());
        quiet_ = false;
    }
    QString text() const override { return QString::number(spin_->value()); }
    void setProperty(int p, const QString& v) override {
        quiet_ = true;
        if (p == prop::RangeLow)
            spin_->setMinimum(v.toInt());
        else if (p == prop::RangeHigh)
            spin_->setMaximum(v.toInt());
        else
            Control::setProperty(p, v);
        quiet_ = false;
    }
    QString property(int p) const override {
        if (p == prop::RangeLow) return QString::number(spin_->minimum());
        if (p == prop::RangeHigh) return QString::number(spin_->maximum());
        return Control::property(p);
    }

private:
    QSpinBox* spin_;
    bool quiet_ = false;
};

// The letter of an option group's caption takes the focus to its chosen radio (else its first one
// that can have it): the radios are not children of the box, which would look for them there.
class OptionLetter : public QObject {
public:
    OptionLetter(QGroupBox* box, QButtonGroup* group) : QObject(box), group_(group) {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::Shortcut) return false;
        QAbstractButton* to = group_->checkedButton();
        if (!to || !to->isEnabled())
            for (QAbstractButton* b : group_->buttons())
                if (b->isEnabled() && b->isVisible()) {
                    to = b;
                    break;
                }
        if (to) to->setFocus(Qt::ShortcutFocusReason);
        return true;
    }

private:
    QButtonGroup* group_;
};

// An option group: a framed box whose radios (RADIO controls with it as parent) exclude each other.
// Its text is the number of the radio chosen (from 1, in the order they were made), 0 for none.
class OptionControl : public Control {
public:
    OptionControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        box_ = new QGroupBox(qs(design.text), host.containerFor(design.parent));
        describe(box_, qs(design.text), qs(design.tip));
        box_->lower();
        group_ = new QButtonGroup(box_);
        group_->setExclusive(true);
        new OptionLetter(box_, group_);
    }
    QWidget* widget() const override { return box_; }
    // The radios sit beside the box in the same container, at window positions.
    QWidget* container() const override { return box_->parentWidget(); }
    QButtonGroup* group() const { return group_; }
    void setText(const QString& t) override {
        QAbstractButton* b = group_->button(t.trimmed().toInt());
        if (b) {
            b->setChecked(true);
            return;
        }
        // None chosen: an exclusive group keeps one checked, so it lets go for a moment.
        group_->setExclusive(false);
        for (QAbstractButton* r : group_->buttons()) r->setChecked(false);
        group_->setExclusive(true);
    }
    QString text() const override { return QString::number(std::max(0, group_->checkedId())); }

private:
    QGroupBox* box_;
    QButtonGroup* group_;
};

// A radio of an option group; choosing it posts EVENT:Accepted for the radio itself.
class RadioControl : public Control {
public:
    RadioControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        radio_ = new QRadioButton(qs(design.text), host.containerFor(design.parent));
        describe(radio_, qs(design.text), qs(design.tip));
        if (auto* option = dynamic_cast<OptionControl*>(host.control(design.parent)))
            option->group()->addButton(radio_, int(option->group()->buttons().size()) + 1);
        QObject::connect(radio_, &QRadioButton::clicked, radio_, [this](bool on) {
            if (!on) return;
            QString t = "1";
            postEvent(event::Accepted, &t);
        });
    }
    QWidget* widget() const override { return radio_; }
    void setText(const QString& t) override { radio_->setChecked(t.trimmed() != "" && t.trimmed() != "0"); }
    QString text() const override { return radio_->isChecked() ? "1" : "0"; }

private:
    QRadioButton* radio_;
};

// A drop list of fixed texts, given in the design's format separated by "|". Its text is the
// text chosen ("" for none); choosing one posts EVENT:Accepted with it. Property Selected is the
// number of the text chosen, from 1 (0 for none).
class DropControl : public Control {
public:
    DropControl(ControlHost& host, const ControlSpec& design) : Control(host, design) {
        combo_ = new QComboBox(host.containerFor(design.parent));
        combo_->setEditable(false);
        for (const QString& item : qs(design.format).split('|', Qt::SkipEmptyParts)) combo_->addItem(item);
        combo_->setCurrentIndex(-1);
        describe(combo_, qs(design.text.empty() ? design.tip : design.text), qs(design.tip));
        QObject::connect(combo_, &QComboBox::activated, combo_, [this](int) {
            QString t = combo_->currentText();
            postEvent(event::Accepted, &t);
        });
    }
    QWidget* widget() const override { return combo_; }
    void setText(const QString& t) override { combo_->setCurrentIndex(combo_->findText(t.trimmed())); }
    QString text() const override { return combo_->currentText(); }
    void setProperty(int p, const QString& v) override {
        if (p == prop::Selected) return combo_->setCurrentIndex(v.toInt() - 1);
        Control::setProperty(p, v);
    }
    QString property(int p) const override {
        if (p == prop::Selected) return QString::number(combo_->currentIndex() + 1);
        return Control::property(p);
    }

private:
    QComboBox* combo_;
};

template <class T> ControlFactory factory() {
    return [](ControlHost& host, const ControlSpec& design) -> std::unique_ptr<Control> {
        return std::make_unique<T>(host, design);
    };
}

} // namespace

void registerChoiceTypes() {
    registerControlType("SPIN", factory<SpinControl>());
    registerControlType("OPTION", factory<OptionControl>());
    registerControlType("RADIO", factory<RadioControl>());
    registerControlType("DROP", factory<DropControl>());
}

} // namespace sorv::win
