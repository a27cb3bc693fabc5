// The parent/child browse ("Browse the Parent & Child Files"): the customers in the upper list and
// the people of the highlighted customer in the lower one, each list with its own browse, Sorvex
// object, order and filter texts and buttons; layouts and place kept under "BrowseParentChild".
#pragma once

namespace sorv::app {

extern const char* const BrowseParentChildResource; // module SORVD007

// Control numbers of the window.
namespace parentchild {
enum : int {
    ParentOrderPrompt = 1,
    ParentOrder,
    ParentFilterPrompt,
    ParentFilter,
    ParentList,
    ParentInsert,
    ParentChange,
    ParentDelete,
    ChildOrderPrompt = 11,
    ChildOrder,
    ChildFilterPrompt,
    ChildFilter,
    ChildList,
    ChildInsert,
    ChildChange,
    ChildDelete,
};
}

void registerBrowseParentChild();

// The procedure the menu starts on a thread of its own.
void BrowseParentChild();

} // namespace sorv::app
