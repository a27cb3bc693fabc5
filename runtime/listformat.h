// List format strings: the one-line text that describes a list box's columns, its check, its
// parse into column and group descriptors (in pixels), its canonical writing, and the numbered
// column properties 7E00-7E3F (plus 64 for the group holding the column).
//
// Invariants kept by ListFormat: the descriptors always come from a text that passed check()
// (or are the default columns); every property write that changes anything is made by writing
// the whole format anew ("#n#" after every column) and parsing it again, so geometry, field
// numbers and groups are never patched by hand.
#pragma once
#include "runtime/value.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

// number * numerator / denominator rounded to the nearest integer (halves away from zero), in
// 64 bits and clamped to the int range; a zero denominator answers -1, as the platform does.
int mulDiv(int number, int numerator, int denominator);

namespace lf {
// flags (columns and groups)
enum : std::uint32_t {
    JustMask = 3,         // bits 0-1: data justification
    HeaderJustShift = 2,  // bits 2-3: header justification
    RightBorder = 16,     // "|"
    Underline = 32,       // "_"
    Fixed = 64,           // "F"
    ScrollBar = 128,      // "S"
    Resizable = 256,      // "M"
    LastOnLine = 512,     // "/"
    LocatorColumn = 1024, // "?"
    IconField = 2048,     // "I" or "J"
    LastOfLine = 16384,   // set by the parser
    TreeField = 32768,    // "T"
};
// flags2
enum : std::uint32_t {
    ColourFields = 1, // "*"
    HWithNumber = 2,  // "H(n)"
    TreeL = 4,
    TreeB = 8,
    TreeI = 16,
    Tree1 = 32,
    TreeR = 64,
    StyleField = 128,  // "Y"
    Transparent = 256, // "J"
};
enum Justification : int { Left = 0, Right = 1, Centre = 2, Decimal = 3 };
// group state
enum : std::uint32_t {
    ExplicitWidth = 1,
    Hidden = 2,
    SingleColumn = 4,
    AfterResizable = 32,
};
// property codes
constexpr int PropFormat = 0x7C85;
constexpr int ColumnPropFirst = 0x7E00;
constexpr int ColumnPropLast = 0x7E3F;
constexpr int GroupPropOffset = 64;
} // namespace lf

// What the window around the list tells the parser: its dialog-unit factors, the height of one
// row line and the system border width (both in pixels), and, for default columns, the list's
// width in pixels, the number of fields of its source and its own justification and indent.
struct ListMetrics {
    int xFactor = 1, xDivisor = 1;
    int yFactor = 1, yDivisor = 1;
    int lineHeight = 16;
    int lineWidth = 1;
    int listWidth = 0;
    int sourceFields = 0;
    int justification = lf::Left;
    int indent = 0; // dialog units
};

// One column, in format order. Positions are pixels relative to the column's group.
struct ListColumn {
    std::uint32_t flags = 0;
    std::uint32_t flags2 = 0;
    int headerIndent = 0;
    int headerLines = 0;
    bool hasHeader = false;
    std::string header;
    int scrollWidth = 0;
    int dataIndent = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
    int width = 0;
    bool hasPicture = false;
    std::string picture;                                 // with its leading "@"
    int field = 0;                                       // 1-based queue field of the data
    std::array<std::int32_t, 4> colours{-1, -1, -1, -1}; // E(...): fg, bg, selected fg, selected bg
    int style = 0;                                       // Z(n)
    char decimalChar = '.';

    int justification() const { return int(flags & lf::JustMask); }
    int headerJustification() const { return int((flags >> lf::HeaderJustShift) & lf::JustMask); }
    bool hasColours() const { return colours != std::array<std::int32_t, 4>{-1, -1, -1, -1}; }
    // Queue fields (1-based) that follow the data field; 0 when the column has none.
    int colourField(int i) const { return (flags2 & lf::ColourFields) ? field + 1 + i : 0; }
    int iconField() const;
    int treeField() const;
    int styleField() const;
    // The field after the last one this column reads.
    int nextField() const;
};

// One top-level element: a bracketed group, or a single column standing alone.
struct ListGroup {
    std::uint32_t flags = 0;
    std::uint32_t flags2 = 0;
    int headerIndent = 0;
    int headerLines = 0;
    bool hasHeader = false;
    std::string header;
    int scrollWidth = 0;
    int dataIndent = 0;
    std::uint32_t state = 0;
    int first = 0, end = 0; // column indexes, end exclusive
    int width = 0;
    int x = 0;

    int justification() const { return int(flags & lf::JustMask); }
    int headerJustification() const { return int((flags >> lf::HeaderJustShift) & lf::JustMask); }
    bool single() const { return state & lf::SingleColumn; }
};

// What a cell shows, taken from a row's field texts (1-based fields, missing ones empty).
struct ListCell {
    std::string text; // the data field unformatted; the caller applies the picture
    std::array<std::int32_t, 4> colours{-1, -1, -1, -1}; // -1: the system colour
    int icon = -1;                                       // -1: none
    int treeLevel = 0;                                   // negative: a collapsed node of that level
    int style = 0;
};

class ListFormat {
public:
    explicit ListFormat(const ListMetrics& metrics = {});

    // Tests a whole format: 0 when sound, else the 1-based position where it failed (one past
    // the end when the text ended too early).
    static int check(std::string_view text);
    // Tests a text as exactly one column (no brackets, nothing after it).
    static int checkColumn(std::string_view text);

    // Property 7C85. An empty or failing text gives default columns.
    void setFormat(std::string_view text);
    // The canonical text as read back ("" for default columns).
    std::string format() const;
    // The canonical text as rebuilt after a property change: "#n#" after every column.
    std::string rebuiltFormat() const;

    // New metrics (a new font or window factors): the format is laid out again from its text.
    void setMetrics(const ListMetrics& metrics);
    const ListMetrics& metrics() const { return m_; }

    const std::vector<ListColumn>& columns() const { return cols_; }
    const std::vector<ListGroup>& groups() const { return groups_; }
    int groupOf(int column) const;           // 0-based column -> 0-based group, -1 when none
    int locator() const { return locator_; } // 0-based column, -1 when none
    int fixedOrHiddenGroups() const { return fixedOrHidden_; }
    bool anyScrollBar() const { return anyScrollBar_; }
    int headerHeight() const { return headerHeight_; }
    int rowHeight() const { return rowHeight_; }
    int totalWidth() const { return totalWidth_; }
    bool defaultColumns() const { return defaults_; }
    // Number of queue fields the list reads.
    int fieldCount() const { return fieldCount_; }
    // Horizontal scrolling: by whole groups, or by pixels over 400 dialog units for a list
    // that reads exactly one field.
    bool scrollsByPixels() const { return fieldCount_ == 1; }
    int horizontalScrollRange() const;

    // Column properties: code 7E00-7E3F for the column, plus 64 for its group; column is
    // 1-based in format order. Out of range reads an empty text and ignores writes.
    Value property(int code, int column) const;
    void setProperty(int code, int column, const Value& value);

    // The cell of column c (0-based) for a row whose fields are given as texts (field 1 first).
    ListCell cell(int column, const std::vector<std::string>& fields) const;

    int toPixelsX(int dlu) const;
    int toPixelsY(int dlu) const;
    int toDluX(int pixels) const;
    int toDluY(int pixels) const;

private:
    struct Parsed;
    bool parse(std::string_view text, Parsed& out, int& failPos) const;
    void adopt(Parsed&& p);
    void buildDefaults();
    void layout();
    std::string write(bool rebuilt, int replaceColumn = -1, int replaceGroup = -1,
                      std::string_view replacement = {}) const;
    std::string writeColumn(const ListColumn& c, bool locatorMark) const;
    std::string commonModifiers(std::uint32_t flags, std::uint32_t flags2, bool hasHeader,
                                const std::string& header, int dataJust, int headerJust, int dataIndent,
                                int headerIndent, int scrollWidth) const;
    // Re-parses a rebuilt text; a text that no longer passes the check leaves the model as it was.
    bool apply(const std::string& text);
    bool setColumnProperty(int code, int c, const Value& v);
    bool setGroupProperty(int code, int g, const Value& v);

    ListMetrics m_;
    std::vector<ListColumn> cols_;
    std::vector<ListGroup> groups_;
    int locator_ = -1;
    int fixedOrHidden_ = 0;
    bool anyScrollBar_ = false;
    int headerHeight_ = 0;
    int rowHeight_ = 0;
    int totalWidth_ = 0;
    bool defaults_ = true;
    int fieldCount_ = 0;
};

} // namespace sorv
