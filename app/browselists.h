// What the program's browse lists share: the relations a window opens, the view a list reads
// through, the Sorvex object of a list set up with the program's settings and the sort flags it
// works through, the order a browse's reset picks from them, the layout kept when the window
// closes, the locators of column orders and the thumb step of a number order.
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

namespace sorv {
class FileViewTable;
class View;
namespace fw {
class FileManager;
class RelationManager;
class RelationViewPrimary;
class Step;
} // namespace fw
} // namespace sorv

namespace sorv::app {

// The relations a window opens; close closes them, the last opened first.
class OpenRelations {
public:
    // False when the relation did not open (it is not closed later).
    bool open(fw::RelationManager& relation);
    void close();

private:
    std::vector<fw::RelationManager*> opened_;
};

// The view a list reads through: the primary relation's file (the calling thread's declaration)
// under the desktop's trace settings, and the files joined to it.
class ListView {
public:
    ListView();
    ~ListView();
    // The view over `relation`'s file.
    void open(fw::RelationManager& relation);
    // Joins `file` to the primary file: a record's partner is found through `key` with the value
    // of the primary file's field `field`. The file is opened and closed with the view.
    void join(fw::FileManager& file, int key, const std::string& field);
    // Ends the view; its files stay declared.
    void close();

    fw::RelationViewPrimary& primary() { return *primary_; }
    View& view() { return *view_; }

private:
    std::unique_ptr<fw::RelationViewPrimary> primary_;
    std::vector<std::unique_ptr<FileViewTable>> tables_;
    std::unique_ptr<View> view_;
};

// The thumb step of an order by a number: from the lowest to the highest number in the file.
std::unique_ptr<fw::Step> longStep();

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
    // What an object is set up with: these variables, the popup mask set to `popupMask` and the
    // window's caption as the caption pattern.
    bx::SorvexOwnerRefs refs(fw::WindowManager& window, std::uint32_t popupMask);
    // The program's export settings: separated by ",", with a header row, opened when written.
    static void exportSettings(bx::Sorvex& sorvex);
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
