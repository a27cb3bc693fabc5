// The Customer browse ("Customers - Multiple Formats one per TAB"): the customers in a list over
// a view of the Customer table, one sort order per tab of its sheet, each tab with a list layout
// of its own, header-click sorting and the layout kept in "sorvdemo.INI" under "BrowseCustomer".
#pragma once

namespace sorv::app {

extern const char* const BrowseCustomerResource; // module SORVD002

// Control numbers of the window.
namespace customerbrowse {
enum : int {
    Select = 1,
    List = 2,
    Insert = 3,
    Change = 4,
    Delete = 5,
    Sheet = 7,
    TabSysId = 8,
    TabCompany = 10,
    TabCity = 11,
    TabPostalZipCode = 12,
    TabCountry = 13,
};
}

void registerBrowseCustomer();

// The procedure the menu starts on a thread of its own.
void BrowseCustomer();

} // namespace sorv::app
