// What the program's browse lists share: the Sorvex object of a list set up with the program's
// settings and the sort flags it works through, the order a browse's reset picks from them, the
// layout kept when the window closes, and the locators of column orders.
#pragma once
#include "browse_ext/sorvex.h"
#include "framework/browsemanager.h"
#include "framework/locator.h"
#include "runtime/field.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::app {

// The variables of the owning window that one list's Sorvex object works through: the view-order
// and file-order flags, the sorted column, the popup mask (a six-byte decimal, as the object reads
// it) and the caption pattern.
struct SorvexListState {
    std::uint8_t viewOrder = 0, sequenceNbr = 0, fileSeqOn = 0;
    Record locals;
    std::string titleText;
    SorvexListState();

    // Sets the object up over a browse list with the program's settings (sort visual ">Header",
    // layout in "sorvdemo.INI", exports separated by "," with a header row and opened when
    // written) and this popup mask; the window's caption is the caption pattern.
    void init(bx::Sorvex& sorvex, fw::WindowManager& window, fw::BrowseManager& browse, Queue& queue,
              int list, std::uint32_t popupMask);
    // The browse's sort order on a reset: the file's own order (1) after "File Sequence", the
    // sorted column's order after a header sort, else `keyOrder`.
    int chosenOrder(bx::Sorvex& sorvex, int keyOrder);
    // Back to the key order: no sorted column, no mark.
    void clearSort(bx::Sorvex& sorvex);
    // After the window registered its alert keys: the list's keys that the object takes and the
    // object's column items after the browse's own in the list's menu.
    void finish(bx::Sorvex& sorvex, fw::BrowseManager& browse);
    // Saves the list's layout with the sorted column (0 in key or file order).
    void save(bx::Sorvex& sorvex, std::string_view list, std::string_view procedure);
};

// The locators of a browse's column orders: each is made for the browse's current order, of the
// kind a letter names ('I' incremental, 'F' filter, 'S' step; any other letter: none), on the
// column's field and not case-sensitive, showing its text in `control` (0: nowhere).
class ColumnLocators {
public:
    fw::Locator* add(fw::BrowseManager& browse, char kind, const FieldRef& field, int control = 0);
    // A locator made elsewhere, kept and installed the same way.
    fw::Locator* add(fw::BrowseManager& browse, std::unique_ptr<fw::Locator> locator);

private:
    std::vector<std::unique_ptr<fw::Locator>> kept_;
};

} // namespace sorv::app
