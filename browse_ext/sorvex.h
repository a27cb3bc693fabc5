// The list enhancement: one Sorvex object watches one list box. It knows the list's columns (which
// record field each shows, its header, picture, width, justification, flags and colours), sorts
// the list by a clicked header, moves columns, keeps the layout in the INI file between runs, and
// feeds the popup commands, dialogs, exports, graph and report built on the same column model.
//
// What it holds. The owning procedure describes its list by three constant tables (columns, sort
// fields, additional order) given as byte strings; set-up reads them into runtime queues:
// - FQ: every column of the table that takes part (displayed or not), in queue-field order; a
//   column keeps its FQ entry for the life of the object, whatever the user does to the list.
// - SQ: the displayed columns, in display order (SEQ 1..n); COL is the list column in format order.
// - SOQ/AOQ: the sort components of each sortable column, and those appended after every sort.
// - FORQ: one stored format string per tab (format slot) of the owner's window, by CONTROL.
// - LSQ: the sort strings of a list that is not a browse (file-loaded or queue lists).
//
// Invariants between operations:
// - The list control is the truth about what is shown: the object never parses a format for
//   attributes but reads the control's numbered column properties; SQ is rebuilt from the list's
//   format whenever the format changes (TakeFormatApart), through the runtime's list format
//   parser, so SQ holds one entry per column of the control, each carrying the QNOS of the queue
//   field it shows, and that QNOS names an FQ entry. Hidden columns are in FQ only.
// - A sort is kept as the sorted list column (*RSEQUENCENBR, format order, 0 = key or file order)
//   and the object's QNOS of that column; after a column moves the sorted column follows its QNOS.
// - With the ">Header" visual the mark (">" or "<") stands before the sorted column's header in
//   the control only while the list is sorted; it is taken off before anything stores a format,
//   so no stored layout ever carries a mark, and HEADER fields have room for it.
// - Every format string the object stores or sets is at most MaxFormat characters, which is what
//   the INI file gives back whole, so that a stored design still compares equal on reading.
//
// Threads. The object lives on the thread of its list's window and is used under the runtime lock
// only; it never touches a widget but reads and writes the list control through the window's
// property calls. The list box itself draws a pressed header and the grey box of a dragged one at
// once on the desktop; the header press state the object keeps (which list holds the mouse, the
// press position) is program-wide, since only one list can hold the mouse at a time.
//
// Who calls what. The owner sets it up in its window manager's Init (Init, then its InitColumns
// reads the tables, BindColumn per column, BuildSortOrders or BuildSortStrings), restores the
// layout once the window is open, passes the list's events on (TakeListEvent), and saves the
// layout and kills the object when the window closes. The overridable operations are virtual in
// their slot order; those marked "owner" are the owning procedure's to write, the rest are
// common. Their bodies live in files of their own (sorvex_popup.cpp, export.cpp, graph.cpp,
// report.cpp, dialogs.cpp, preferences.cpp, ...).
#pragma once
#include "framework/browsemanager.h"
#include "framework/popupmanager.h"
#include "framework/windowmanager.h"
#include "runtime/field.h"
#include "runtime/queue.h"
#include "windowing/events.h"
#include "windowing/window.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::bx {

// The longest format string stored or set: what INI access keeps of a value.
inline constexpr std::size_t MaxFormat = 1023;
// Texts of the column records (bytes of their queue fields).
inline constexpr std::size_t NameLength = 25;    // FIELD, DESCRIPTION, FIELDNAME
inline constexpr std::size_t HeaderLength = 25;  // a header as the table and the user give it
inline constexpr std::size_t PictureLength = 20; // PICTURE, without its terminator

// Sort visuals.
inline constexpr std::string_view VisualHeader = ">Header";
inline constexpr std::string_view VisualUnderline = "Underline";
inline constexpr std::string_view VisualTextBar = "Text Bar";

// Caption of the object's messages, and of the refused header sort.
inline constexpr std::string_view MessageCaption = "Sorvex";
inline constexpr std::string_view ReorderCaption = "Sorvex Template - Re-Order Option";

// Program events of the list (framework numbering: the event code less 0x1400).
namespace sevent {
enum : int {
    LeftDown = 0x401,
    LeftUp = 0x402,
    Nothing = 0x403,
    OutOfHeader = 0x404,
    RightDown = 0x405,
    RightUp = 0x406,
    ResetBrowse = 0x407,
    HeaderDrag = 0x408,
    MoveLeft = 0x40A,
    MoveRight = 0x40B,
    Default = 0x40C,
    HeaderJustLeft = 0x40D,
    HeaderJustRight = 0x40E,
    HeaderJustCentre = 0x40F,
    HeaderJustDecimal = 0x410,
    DataJustLeft = 0x411,
    DataJustRight = 0x412,
    DataJustCentre = 0x413,
    DataJustDecimal = 0x414,
    Properties = 0x415,
    Width = 0x416,
    HeaderOffset = 0x417,
    DataOffset = 0x418,
    HeaderText = 0x41A,
    Fixed = 0x41B,
    Underline = 0x41C,
    Border = 0x41D,
    Resize = 0x41E,
    ListX = 0x41F,
    ListY = 0x420,
    ListWidth = 0x421,
    ListHeight = 0x422,
    Font = 0x423,
    LineHeight = 0x424,
    HScroll = 0x425,
    VScroll = 0x426,
    Colors = 0x427,
    Hide = 0x429,
    AdjustWidths = 0x42B,
    SortOn = 0x42C,
    PrintPage = 0x42D,
    PrintAll = 0x42E,
    GraphOn = 0x42F,
    ExportAscii = 0x430,
    ExportHtml = 0x431,
    Preferences = 0x432,
};
// Whether a framework event number is one of the list's program events above.
constexpr bool isListEvent(int number) {
    return number >= LeftDown && number <= Preferences;
}
} // namespace sevent

// Alert keys of a browse list that the owner passes on to the object: Alt+F11 adjusts all widths,
// Alt+F12 goes back to the design, Alt+R toggles the list's flag 7C5C, Alt+M prepares the column
// menu for the current column.
namespace skey {
enum : int {
    AdjustWidths = 0x47A,
    Default = 0x47B,
    ToggleFlag = 0x452,
    ColumnMenu = 0x44D,
};
}

// One column: the entry of SQ and FQ, as C++ values. Its queue layout holds the texts at their
// lengths (HEADER one more, for the sort mark; PICTURE zero-terminated); LEFT and RIGHT are the
// numbers of the column's bound fields (Sorvex::boundField), 0 before BindColumn.
struct SorvexColumn {
    std::string FIELD;
    std::string DESCRIPTION;
    std::int32_t ICON = 0;
    std::string HEADER;
    std::int16_t QNOS = 0;
    std::int16_t SEQ = 0;
    std::int16_t COL = 0;
    std::int32_t NFG = -1, NBG = -1, SFG = -1, SBG = -1;
    std::int16_t WIDTHDLU = 0;
    std::int16_t WIDTHPIX = 0;
    std::int16_t XPOSPIX = 0;
    char HJUST = 'L';
    char FJUST = 'L';
    std::uint8_t HOFFSET = 0;
    std::uint8_t FOFFSET = 0;
    std::uint8_t ULINE = 0;
    std::uint8_t FIXED = 0;
    std::uint8_t BORDER = 0;
    std::uint8_t RESIZE = 0;
    std::uint8_t DISPLAY = 0;
    std::uint8_t ASCDESC = 0;
    std::uint8_t CONTROLFIELD = 0;
    std::uint8_t VIEWFIELD = 0;
    std::int32_t TABCONTROL = 0;
    std::uint8_t TOTALOK = 0;
    std::uint8_t GRAPHOK = 0;
    std::uint8_t SORTFIELD = 0;
    char LOCATORTYPE = 'X';
    std::uint8_t COLORS = 0;
    std::uint8_t ICONX = 0;
    std::uint8_t MAXWIDTH = 0;
    std::string PICTURE;
    std::int32_t LEFT = 0;
    std::int32_t RIGHT = 0;
    std::string FORMAT;

    static const Layout& layout();
    void load(Queue& q);       // from the queue's buffer
    void save(Queue& q) const; // into the queue's buffer
};

// A sort component: the entry of SOQ and AOQ.
struct SortComponent {
    std::int16_t QNOS = 0;
    std::int16_t SEQ = 0;
    std::string FIELDNAME;
    std::uint8_t ASCDESC = 0;
    std::string PICTURE; // the first two characters of the component's picture

    static const Layout& layout();
    void load(Queue& q);
    void save(Queue& q) const;
};

// A format slot: the entry of FORQ.
struct FormatSlot {
    std::int32_t CONTROL = 0;
    std::string FORMAT = "0";

    static const Layout& layout();
    void load(Queue& q);
    void save(Queue& q) const;
};

// A sort string of a list that is not a browse: the entry of LSQ.
struct SortString {
    std::int32_t SEQ = 0;
    std::string SORTSTRING;

    static const Layout& layout();
    void load(Queue& q);
    void save(Queue& q) const;
};

// A runtime queue of one record type. get/put/add work through the queue's buffer as the
// language does: get makes an entry current, put writes the record back over the current entry.
template <class T> class RecordQueue {
public:
    RecordQueue() : q_(T::layout()) {}
    Queue& queue() { return q_; }
    std::int64_t records() { return q_.records(); }
    // False (and `out` unchanged) when there is no such entry.
    bool get(std::int64_t position, T& out) {
        if (position < 1 || position > q_.records()) return false;
        q_.get(position);
        out.load(q_);
        return true;
    }
    void put(const T& r) {
        r.save(q_);
        q_.put();
    }
    void add(const T& r) {
        r.save(q_);
        q_.add();
    }
    // Adds in the order of the queue's field names (as sortByNames takes them).
    void addSorted(const T& r, std::string_view names) {
        q_.sortByNames(names);
        r.save(q_);
        q_.add();
    }
    void sort(std::string_view names) { q_.sortByNames(names); }
    void free() { q_.free(); }
    std::int64_t pointer() { return q_.pointer(); }

private:
    Queue q_;
};

// The list's design values (DEF) and the values when the list-box format dialog opens (PARS).
struct SorvexDesign {
    std::string ORIGFORMATSTRING;
    std::int16_t XPOS = 0, YPOS = 0, HEIGHT = 0, WIDTH = 0;
    std::uint8_t LINEHEIGHT = 0;
    std::uint8_t COLUMN = 0;
    std::uint8_t HSCROLL = 0;
    std::uint8_t VSCROLL = 0;
    std::string FONT;
    std::uint8_t POINT = 0;
    std::int32_t COLOR = 0;
    std::int32_t STYLE = 0;
    std::uint8_t CURRENTCOL = 0;
    std::uint8_t ALLOWBBRESIZE = 0;
};

// What the object needs of the owner of a file-loaded or queue list (FC, LC): the popup menu that
// carries the column items of such a list.
class SorvexListOwner {
public:
    virtual ~SorvexListOwner() = default;
    virtual fw::PopupManager* Popup() = 0;
};

// The owner's variables the object works through (set-up step 3). A null restoreHeader means the
// object's own RESTOREHEADER, as browses pass it.
struct SorvexOwnerRefs {
    std::uint8_t allowResize = 0;
    std::uint8_t* restoreHeader = nullptr;
    std::uint8_t* viewOrder = nullptr;
    std::uint8_t* sequenceNbr = nullptr;
    FieldRef mask;
    std::uint8_t* fileSeqOn = nullptr;
    std::string* titleText = nullptr;
};

// Reports and their previews come with the report; the owner's PreviewReport only passes them on.
struct SorvexPreview;
struct SorvexReport;

class Sorvex {
public:
    // Fields in declaration order.
    std::uint8_t IGNOREEVENT = 0;
    std::string ASCIIFILENAME;
    std::string HTMLFILENAME;
    std::string SEPARATOR;
    std::uint8_t BROWSEHEADER = 0;
    std::uint8_t SHELLEXECUTE = 0;
    std::uint8_t MAXFONTSIZE = 0;
    std::uint8_t MINFONTSIZE = 0;
    std::uint8_t PAPERTYPE = 0;
    std::uint8_t ALLPREVIEW = 0;
    std::uint8_t PAGEPREVIEW = 0;
    std::int32_t HEADERSTYLE = 0;
    std::uint8_t LISTTYPE = 0; // 1 browse, 2 file-loaded list, 3 queue list
    // The list box draws the pressed header and the moving box itself; these keep the list's
    // control number while a header is shown pressed or a drag box is shown, else 0.
    std::int32_t HEADERBUTTON = 0;
    std::int32_t HEADERMASK = 0;
    std::int32_t CURRENTCOL = 0;
    std::int32_t GSAVEDPROC = 0;
    std::uint8_t* RRESTOREHEADER = nullptr;
    std::uint8_t* RVIEWORDER = nullptr;
    std::uint8_t* RSEQUENCENBR = nullptr;
    std::int16_t HPOS = 0;
    std::uint8_t QNOS = 0;
    FieldRef RMASK;
    std::uint8_t* RFILESEQON = nullptr;
    std::string* RTITLETEXT = nullptr;
    std::string HDRTOKEN;
    std::string ASCTOKEN;
    std::string DESCTOKEN;
    std::uint16_t HHANDLE = 0; // the list control, as program code reaches it
    std::string VISUAL;
    std::string COLDESC;
    std::string INIFILENAME;
    std::string_view GR;  // the column table
    std::string_view GRS; // the sort-field table
    std::string_view GRA; // the additional-order table
    std::int16_t QDIM = 0;
    std::int16_t QDIMS = 0;
    fw::WindowManager* WM = nullptr;
    fw::BrowseManager* BC = nullptr;
    SorvexListOwner* LC = nullptr;
    SorvexListOwner* FC = nullptr;
    void* SLC = nullptr;
    Queue* BQ = nullptr;
    win::Window* W = nullptr;
    std::int32_t LB = 0;
    RecordQueue<SorvexColumn> SQ;
    RecordQueue<SorvexColumn> FQ;
    RecordQueue<SortComponent> SOQ;
    RecordQueue<SortComponent> AOQ;
    RecordQueue<FormatSlot> FORQ;
    RecordQueue<SortString> LSQ;
    SorvexDesign DEF;
    SorvexDesign PARS;
    std::uint8_t APPLYALL = 0;
    std::uint8_t RESTOREHEADER = 0;
    std::int32_t LASTEVENT = 0;

    Sorvex() = default;
    virtual ~Sorvex() = default;
    Sorvex(const Sorvex&) = delete;
    Sorvex& operator=(const Sorvex&) = delete;

    // ---- set-up (the owner's Init) ----
    // Init for a browse list (LISTTYPE 1), a file-loaded list (2) and a queue list (3); each runs
    // the common set-up, which ends in the owner's InitColumns.
    void Init(fw::WindowManager& wm, fw::BrowseManager& browse, Queue& listQueue, win::Window& window,
              int listControl, std::string_view iniFile, std::string_view visual,
              const SorvexOwnerRefs& refs);
    void InitFileList(fw::WindowManager& wm, SorvexListOwner& owner, Queue& listQueue, win::Window& window,
                      int listControl, std::string_view iniFile, std::string_view visual,
                      const SorvexOwnerRefs& refs);
    void InitQueueList(fw::WindowManager& wm, SorvexListOwner& owner, Queue& listQueue, win::Window& window,
                       int listControl, std::string_view iniFile, std::string_view visual,
                       const SorvexOwnerRefs& refs);
    // Reads GR, GRS and GRA (QDIM and QDIMS records) into FQ, SQ, SOQ and AOQ; the owner's
    // InitColumns calls it. A table that ends early is read as far as it goes.
    void ReadColumnTables();
    void AddFormatSlot(int tabControl);
    // Binds the next column of the table (in table order) to its source field and list-queue field.
    void BindColumn(const FieldRef& source, const FieldRef& listField);
    // The browse's two sort orders per sortable column (ApplyColumnOrder mode given), built once
    // after the columns are bound; a list that is not a browse builds its sort strings instead.
    void BuildSortOrders(int mode);
    void BuildSortStrings();
    // Gives the browse manager the (source, list field) pair of every column, displayed first and
    // hidden ones after, so that hidden columns keep being filled.
    void RegisterBrowseFields();

    // ---- the column model ----
    // Reads every displayed column's attributes back from the list control; unless told to keep
    // it, QNOS becomes the QNOS of the sorted column.
    void RefreshColumns(bool keepSorted = false);
    // Rebuilds SQ from the current FORQ slot's format (counted by the runtime's parser).
    void TakeFormatApart();
    // Writes the list's format from SQ in SEQ order (every column with its "#n#") and sets it.
    void RebuildFormat();

    // ---- header sorting ----
    void HandleHeaderClick(bool showMessage);
    void HandleHeaderMenu();
    void SortOnColumn();
    // Applies the order expressions of the current FQ column to the browse's current order:
    // direction "0" ascending or "1" descending; mode 1 replaces the order, 0 appends to it.
    void ApplyColumnOrder(std::string_view direction, int mode);
    // The browse sort order of the sorted column (SORTFIELD, plus 1 when descending); shows the mark.
    int SortChoice();
    // For owners' ResetColumnSortOrders: every column order gets `key` and its components again.
    void ResetColumnSortOrdersTo(int key);
    // A file-loaded or queue list whose owner filled its queue (again) and showed it: when the
    // list is sorted, the queue is sorted as the list is and shown again.
    void ResortQueueList();

    // ---- layout persistence ----
    void RestoreLayout(std::string_view control, std::string_view procedure);
    void SaveLayout(std::string_view control, std::string_view procedure, std::uint8_t sortedColumn);
    void Kill();

    // ---- the owner's event routing ----
    // Takes an event of the owner's window: the list's program events, the four alert keys (the
    // owner adds them to the list's alert keys), the accepted event the object asked to drop
    // (IGNOREEVENT), and the reset it posts. Answers LevelNotify when the event was the
    // object's, LevelNone otherwise.
    fw::Level TakeListEvent(const win::Event& e);

    // ---- overridable operations, in slot order ----
    virtual void AddColumnSortOrder(int n);                                              // 0 owner
    virtual void BuildBrowsePopup();                                                     // 1
    virtual void BuildListPopup();                                                       // 2
    virtual void RestoreHeader();                                                        // 3
    virtual void InitColumns();                                                          // 4 owner
    virtual void RestoreDefault();                                                       // 5
    virtual void ResetColumnSortOrders();                                                // 6 owner
    virtual void ShowSortMark();                                                         // 7
    virtual void ReportSortField(const SorvexColumn& column);                            // 8 owner
    virtual void AdjustAllWidths();                                                      // 9
    virtual void SelectFormatSlot(int tabControl);                                       // 10
    virtual void ColumnColors();                                                         // 11
    virtual void EditAttribute(std::string_view code);                                   // 12
    virtual void ExportAscii();                                                          // 13
    virtual void ExportHtml();                                                           // 14
    virtual void GraphFourHourBand(std::string& text);                                   // 15
    virtual void GraphSixHourBand(std::string& text);                                    // 16
    virtual void GraphWeekdayName(int day, std::string& target);                         // 17
    virtual void GraphMonthName(int month, std::string& target);                         // 18
    virtual std::int64_t GraphRecordCount();                                             // 19 owner
    virtual void GraphCategory(int qnos, const std::string& picture, std::string& text); // 20 owner
    virtual void CopyGraphImage(win::Window& graphWindow);                               // 21
    virtual void HandleListEvent(int event);                                             // 22
    virtual void HideColumn();                                                           // 23
    virtual void PrepareColumnMenu();                                                    // 24
    virtual void SetColumnFlag(std::string_view item);                                   // 25
    virtual void MoveColumnLeft();                                                       // 26
    virtual void MoveColumnRight();                                                      // 27
    virtual bool PreviewReport(SorvexPreview& images, SorvexReport& report);             // 28 owner
    virtual void ApplyFieldJustification();                                              // 29
    virtual void ApplyHeaderJustification();                                             // 30
    virtual void Preferences();                                                          // 31
    virtual void PrintList(std::string_view mode);                                       // 32
    virtual void FormatListbox();                                                        // 33
    virtual void Graph();                                                                // 34
    virtual void EditColumnNumber(std::string_view item);                                // 35
    virtual void ToggleListFlag();                                                       // 36

    // ---- helpers for the object's operations ----
    // The list control's property (a column property with its 1-based column), as text.
    std::string listProperty(int code, int column = 0) const;
    void setListProperty(int code, int column, std::string_view value);
    // The popup mask, read from RMASK as a whole number (0 without one).
    std::uint32_t mask() const;
    // The sorted column (0 = key order) and the view-order flag, through the owner's variables.
    int sortedColumn() const { return RSEQUENCENBR ? *RSEQUENCENBR : 0; }
    void setSortedColumn(int column);
    // The source (left) and list-queue (right) field a column was bound to.
    FieldRef boundField(std::int32_t number) const;
    // During BuildSortOrders: the FQ column whose orders are being added, and the owner's
    // AddColumnSortOrder storing the number of the order it added (only the first of the
    // column's two calls sets SORTFIELD, into FQ and the SQ entry of the same QNOS).
    bool currentTableColumn(SorvexColumn& out);
    void SetColumnSortOrder(int order);
    // The SQ entry shown in list column `col` (format order); false when there is none.
    bool displayedColumn(int col, SorvexColumn& out);
    // The FQ entry with this QNOS; false when there is none.
    bool tableColumn(int qnos, SorvexColumn& out);
    // The field name (trailing blanks removed) of the FQ entry with this QNOS, empty when there is
    // none. A column keeps its QNOS and field for the object's life, so the names are read from FQ
    // once: the graph asks for every record.
    const std::string& tableColumnField(int qnos);
    // Shows "<what> is not available yet." in a box with the object's caption.
    void notYetThere(std::string_view what);

private:
    friend class FormatListboxWindow;
    // The dialogs' helpers: the list's font for a dialog's controls; a column's header without the
    // sort mark; the header of CURRENTCOL set (refused, with a message, when it holds "~"); the
    // font dialog over the list's font, applied to the list.
    win::FontSpec listFont() const;
    std::string plainHeader(const SorvexColumn& column) const;
    bool setHeaderText(const std::string& text);
    void chooseListFont();
    // A double click on the list (its alert key 5): on a column divider it sizes that column as
    // "Adjust All Widths" does; on the header or below the rows it is only taken. False when the
    // list's owner should handle it (a row, or a list without rows).
    bool takeDoubleClick();
    void commonSetUp(fw::WindowManager& wm, Queue& listQueue, win::Window& window, int listControl,
                     std::string_view iniFile, std::string_view visual, const SorvexOwnerRefs& refs);
    void hookList();
    void moveColumn(int step);
    // After the columns changed: the sorted column follows the column of this QNOS (0: none).
    void followSorted(int sortedQnos);
    // The popup manager that carries the column menu (the browse's or the list owner's).
    fw::PopupManager* columnMenu();
    void buildColumnMenu(fw::PopupManager& menu, bool separateOwnItems);
    // Sets the column CURRENTCOL's header or data justification with its indent, from SQ.
    void applyJustification(bool header);
    void storeDisplayed(const SorvexColumn& column);
    void keepDirection(const SorvexColumn& column);
    void headerPress();
    void headerDrag();
    void headerOut();
    void applyOrderItem(const std::string& expression, bool replace);
    void appendAdditional(int direction);
    std::string componentExpression(const std::string& field, const std::string& picture, int ascDesc,
                                    int direction) const;
    std::string sortStringOf(const SorvexColumn& column, int direction);
    void sortQueueList(int choice);
    // Orders the list's queue by a sort string ("" the order of filling) and shows it, the
    // selected entry still selected wherever it now stands.
    void orderQueueList(std::string_view names);
    void setCurrentSlotFormat(const std::string& format);
    std::string currentSlotFormat();
    void takeMarkOff();
    std::string fitted(const std::string& format) const;

    std::vector<FieldRef> bound_; // LEFT and RIGHT numbers index this (1-based)
    // Table columns left out of FQ (hidden, no locator): a format that shows one anyway names it.
    std::vector<SorvexColumn> dropped_;
    std::int64_t bindFq_ = 1, bindSq_ = 1;
    std::int32_t currentSlot_ = 0;      // the CONTROL of the FORQ slot in use
    std::vector<std::string> fqFields_; // tableColumnField's names by QNOS, read from FQ
    std::int64_t fqFieldsOf_ = -1;      // when it held this many entries
    std::int64_t fqAt_ = 0;             // the FQ entry of ApplyColumnOrder and AddColumnSortOrder
    int sortOrderCall_ = 0;             // 1 or 2: which of a column's AddColumnSortOrder calls runs
    int markOn_ = 0;                    // the list column whose header carries the mark, 0 none
    bool sortedNow_ = false;            // the event being handled sorted the list
};

} // namespace sorv::bx
