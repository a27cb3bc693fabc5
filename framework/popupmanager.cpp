// The popup manager's items, the menu shown for them and the toolbox.
#include "framework/popupmanager.h"

#include "runtime/errors.h"
#include "windowing/control.h"
#include "windowing/events.h"
#include "windowing/popupmenu.h"
#include "windowing/threads.h"

#include <algorithm>

namespace sorv::fw {

namespace {

std::string cut(std::string_view s, std::size_t limit) {
    return std::string(s.substr(0, std::min(s.size(), limit)));
}

// "!&Insert" -> "Insert": the name an entry text gives its item.
std::string nameOfText(std::string_view text) {
    if (!text.empty() && text.front() == '!') text.remove_prefix(1);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

} // namespace

void PopupManager::Init(win::Window window, IniManager* ini) {
    THISWINDOW = window;
    PARENTWINDOW = window;
    INIMGR = ini;
    MYTHREAD = win::currentSlot();
    POPUPITEMS.clear();
    LASTSELECTION.clear();
    INTOOLBOX = 0;
}

void PopupManager::Kill() {
    if (INTOOLBOX && THISWINDOW) win::closeToolbox(THISWINDOW.id());
    INTOOLBOX = 0;
    POPUPITEMS.clear();
}

PopupItem* PopupManager::item(std::string_view name) {
    for (PopupItem& i : POPUPITEMS)
        if (i.NAME == name) return &i;
    return nullptr;
}

std::size_t PopupManager::insertPosition(std::string_view after) const {
    if (!after.empty())
        for (std::size_t i = 0; i < POPUPITEMS.size(); ++i)
            if (POPUPITEMS[i].NAME == after) {
                // After the named item's own submenu, so that the submenu stays whole.
                std::size_t j = i + 1;
                while (j < POPUPITEMS.size() && POPUPITEMS[j].DEPTH > POPUPITEMS[i].DEPTH) ++j;
                return j;
            }
    return POPUPITEMS.size();
}

void PopupManager::AddItem(const PopupItem& entry, std::string_view after) {
    PopupItem i = entry;
    i.NAME = cut(i.NAME, NameLimit);
    i.TEXT = cut(i.TEXT, TextLimit);
    i.ICON = cut(i.ICON, IconLimit);
    POPUPITEMS.insert(POPUPITEMS.begin() + static_cast<std::ptrdiff_t>(insertPosition(after)), std::move(i));
}

void PopupManager::AddItem(std::string_view text, std::string_view name, std::string_view after) {
    PopupItem i;
    if (text == "-") {
        i.TEXT = "-";
        i.NAME = "Separator";
    } else {
        i.ONTOOLBOX = !text.empty() && text.front() == '!' ? 1 : 0;
        i.TEXT = std::string(i.ONTOOLBOX ? text.substr(1) : text);
        i.NAME = name.empty() ? nameOfText(text) : std::string(name);
    }
    AddItem(i, after);
}

void PopupManager::AddButtonItem(std::string_view entry, std::string_view text, int control) {
    PopupItem i;
    i.CONTROLID = static_cast<std::int16_t>(control);
    i.EVENT = static_cast<std::uint16_t>(win::event::Accepted);
    i.MIMICMODE = 1;
    i.ONTOOLBOX = !entry.empty() && entry.front() == '!' ? 1 : 0;
    i.NAME = nameOfText(entry);
    i.TEXT = std::string(text);
    AddItem(i);
}

std::string PopupManager::Ask() {
    // Mimicking items take their controls' state now: a hidden control hides its item, and the
    // entries answered by the menu are the positions in POPUPITEMS plus one.
    std::vector<win::PopupEntry> entries;
    for (std::size_t n = 0; n < POPUPITEMS.size(); ++n) {
        PopupItem& i = POPUPITEMS[n];
        if (i.MIMICMODE && i.CONTROLID) {
            if (!THISWINDOW.hasControl(i.CONTROLID)) continue;
            if (THISWINDOW.property(i.CONTROLID, win::prop::Hide) == "1") continue;
            i.DISABLED = THISWINDOW.property(i.CONTROLID, win::prop::Disable) == "1" ? 1 : 0;
        }
        win::PopupEntry e;
        e.id = static_cast<int>(n) + 1;
        e.depth = i.DEPTH;
        e.separator = i.TEXT == "-";
        // A leading '+' marks a check item: shown without it, with its check.
        e.text = !e.separator && !i.TEXT.empty() && i.TEXT.front() == '+' ? i.TEXT.substr(1) : i.TEXT;
        e.disabled = i.DISABLED != 0;
        e.checked = i.CHECK != 0;
        e.icon = i.ICON;
        entries.push_back(std::move(e));
    }
    const int chosen = win::popupMenu(THISWINDOW.id(), entries);
    if (chosen < 1 || chosen > static_cast<int>(POPUPITEMS.size())) {
        LASTSELECTION.clear();
        return {};
    }
    const PopupItem& i = POPUPITEMS[static_cast<std::size_t>(chosen - 1)];
    LASTSELECTION = i.NAME;
    if (i.EVENT) THISWINDOW.post(i.EVENT, i.CONTROLID);
    return LASTSELECTION;
}

void PopupManager::ShowAsToolbox(std::string_view title) {
    std::vector<win::ToolboxButton> buttons;
    for (const PopupItem& i : POPUPITEMS) {
        if (!i.ONTOOLBOX || i.TEXT == "-" || !i.EVENT) continue;
        buttons.push_back({i.TEXT, i.EVENT, i.CONTROLID, i.MIMICMODE != 0, i.ICON});
    }
    INTOOLBOX = win::showToolbox(THISWINDOW.id(), std::string(title), buttons) ? 1 : 0;
}

} // namespace sorv::fw
