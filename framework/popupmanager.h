// The popup manager: a window's context menu. Its items can mimic controls of the window (a
// mimicking item takes its control's enabled and visible state each time before the menu shows,
// and choosing it posts its event to the control), so that a menu choice and a button press run
// the same code. The same items can be shown as a small floating toolbox.
#pragma once
#include "windowing/window.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::fw {

class IniManager;
class Translator;

// One item of the menu, fields in declaration order.
struct PopupItem {
    std::int16_t CONTROLID = 0; // the control the item mimics or posts to, 0 for none
    std::uint16_t DEPTH = 0;    // submenu level: an item followed by deeper ones opens them
    std::uint16_t EVENT = 0;    // event code posted to CONTROLID when chosen, 0 for none
    std::uint8_t MIMICMODE = 0; // follow the control's state
    std::uint8_t DISABLED = 0;
    std::uint8_t CHECK = 0;
    std::uint8_t ONTOOLBOX = 0; // shown on the toolbox too
    std::string ICON;
    std::string NAME;
    std::string TEXT; // the menu text; "-" is a separator
};

class PopupManager {
public:
    // Fields in declaration order.
    std::uint8_t CLEARKEYCODE = 0; // no effect here: key codes travel with their events
    std::string LASTSELECTION;     // the name of the item chosen last, "" when none was
    std::vector<PopupItem> POPUPITEMS;
    Translator* TRANSLATOR = nullptr; // not yet there: the texts are shown as given
    IniManager* INIMGR = nullptr;     // not yet there: the toolbox's place is not kept
    std::uint8_t INTOOLBOX = 0;       // the items were shown as a toolbox (the user may have closed it)
    std::int32_t MYTHREAD = -1;
    win::Window PARENTWINDOW;
    win::Window THISWINDOW;

    static constexpr std::size_t NameLimit = 1024, TextLimit = 1024, IconLimit = 255;

    virtual ~PopupManager() = default;

    // Binds the menu to its window (on the window's thread) and empties it.
    virtual void Init(win::Window window, IniManager* ini = nullptr);
    // Empties the menu and closes the toolbox.
    virtual void Kill();
    // Adds a plain item at the end, or after the item named `after` (at the end when there is no
    // such item). The text "-" is a separator named "Separator"; a name left empty is the text
    // without its '&' marks. A text starting with '!' puts the item on the toolbox too.
    virtual void AddItem(std::string_view text, std::string_view name = {}, std::string_view after = {});
    // Adds a whole entry (depth, event, control, check, icon as given) after `after`, or at the end.
    virtual void AddItem(const PopupItem& item, std::string_view after = {});
    // Adds an item that mimics `control`: `entry` names it (its '!' puts it on the toolbox, its
    // '&' marks are dropped: "!&Insert" is the item "Insert"), `text` is its menu text, and
    // choosing it posts EVENT:Accepted to the control.
    virtual void AddButtonItem(std::string_view entry, std::string_view text, int control);
    // Shows the menu and waits for the user; answers the chosen item's name ("" when the menu
    // was closed without a choice), keeps it in LASTSELECTION and posts the item's event.
    virtual std::string Ask();
    // Shows the toolbox items as a floating window with this title.
    virtual void ShowAsToolbox(std::string_view title);

    // The item of a name, nullptr when there is none.
    PopupItem* item(std::string_view name);

private:
    std::size_t insertPosition(std::string_view after) const;
};

} // namespace sorv::fw
