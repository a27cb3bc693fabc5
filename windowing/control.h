// Controls as the desktop keeps them (GUI thread only): one object per numbered control of an
// open window, made by the factory registered for its type, so that a later control (the list
// box) joins by registering its own type. Program threads reach controls only by number through
// `Window`; no QWidget leaves this layer.
#pragma once
#include "windowing/events.h"
#include "windowing/window_spec.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>

class QWidget;
class QFont;

namespace sorv::win {

// Opaque data a program pushes to a control (the rows of a list); the control casts it.
struct ControlData {
    virtual ~ControlData() = default;
};

// Numbers of the properties every control answers; a type may answer more of its own.
namespace prop {
enum : int {
    Text = 1,     // the shown text (a check box: "1" or "0"; a sheet: the selected tab, from 1)
    Hide = 2,     // "1" hidden
    Disable = 3,  // "1" disabled
    ReadOnly = 4, // "1" read-only
    Tip = 5,
    RangeLow = 6, // progress bar range
    RangeHigh = 7,
    Progress = 8, // progress bar position
    Selected = 9, // sheet: the selected tab number, from 1; drop list: the text chosen, from 1
    Tabs = 10,    // sheet: number of tabs
    Visible = 11, // read only: "1" when shown on screen (itself and every container)
    Default = 12, // button: "1" when Enter in the window presses it
    // Sheet styles: "1" on. A wizard sheet shows its pages without the row of tabs; a sheet
    // without its sheet shows the tabs without the frame around the pages.
    SheetWizard = 0x7CA9,
    NoSheet = 0x7CE3,
};
}

class Control;

// What a control may ask of the window it sits in.
class ControlHost {
public:
    virtual ~ControlHost() = default;
    // Posts an event of this control to the window's thread.
    virtual void post(Event e) = 0;
    // The container a control of `parent` number goes into (the window itself for 0).
    virtual QWidget* containerFor(int parent) = 0;
    virtual int toPixelsX(int dialogUnits) const = 0;
    virtual int toPixelsY(int dialogUnits) const = 0;
    virtual const QFont& font() const = 0;
    virtual Control* control(int number) = 0;
};

class Control {
public:
    Control(ControlHost& host, const ControlSpec& design);
    virtual ~Control();
    virtual QWidget* widget() const = 0;
    // The container its children go into (a tab's page, a group's box); the widget by default.
    virtual QWidget* container() const { return widget(); }
    virtual void setText(const QString& text);
    virtual QString text() const;
    virtual void setProperty(int property, const QString& value);
    virtual QString property(int property) const;
    virtual void setData(std::shared_ptr<const ControlData> data);
    // Places the widget at its rectangle (dialog units) inside its container.
    virtual void place(const Rect& at);
    // Moves the keyboard focus here.
    virtual void focus();

    int number() const { return number_; }
    const std::string& type() const { return type_; }
    Rect at() const { return at_; }

protected:
    void postEvent(int code, const QString* text = nullptr, int param = 0);
    // Sets the accessible name (the caption without its '&' marks) and the tool tip.
    void describe(QWidget* w, const QString& caption, const QString& tip) const;
    ControlHost& host_;

private:
    int number_;
    std::string type_;
    Rect at_;
};

using ControlFactory = std::function<std::unique_ptr<Control>(ControlHost&, const ControlSpec&)>;
// Registers the factory of a type ("LIST"); answers false when the type already has one.
bool registerControlType(const std::string& type, ControlFactory factory);
// nullptr for an unknown type.
std::unique_ptr<Control> createControl(ControlHost& host, const ControlSpec& design);

// "&File" -> "File" ("&&" keeps one '&').
QString withoutAccelerators(const QString& caption);

} // namespace sorv::win
