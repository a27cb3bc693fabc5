// The People browse ("Browse the People File"): every person with the city, country and company of
// the person's customer, in the People key's order or sorted by a clicked header, whose sheet of
// three tabs follows the sorted column; its layout is kept in "sorvdemo.INI" under "BrowsePeople".
#pragma once

namespace sorv::app {

extern const char* const BrowsePeopleResource; // module SORVD003

// Control numbers of the window.
namespace peoplebrowse {
enum : int {
    List = 1,
    Change,
    Delete,
    Sheet,
    Tab1,
    Tab2,
    Tab3,
    LocatorPrompt,
    LocatorText, // on "Tab 2": what was typed into the Last Name locator
    WizardSheet,
    NoSheet,
};
}

void registerBrowsePeople();

// The procedure the menu starts on a thread of its own.
void BrowsePeople();

} // namespace sorv::app
