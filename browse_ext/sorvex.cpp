// The column model: set-up, the three column tables, binding, and keeping SQ and FQ in step with
// the list control (refresh, taking the format apart, the rebuild after a move).
#include "browse_ext/sorvex.h"
#include "browse_ext/propertynumber.h"

#include "runtime/errors.h"
#include "runtime/listformat.h"
#include "windowing/desktop.h"
#include "windowing/listbox_control.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace sorv::bx {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    a = clipRight(a);
    b = clipRight(b);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

// Reads the tables' byte strings; past the end every read gives nothing and ended() is set.
class TableReader {
public:
    explicit TableReader(std::string_view bytes) : b_(bytes) {}
    bool ended() const { return ended_; }
    std::uint8_t byte() {
        if (at_ >= b_.size()) {
            ended_ = true;
            return 0;
        }
        return static_cast<std::uint8_t>(b_[at_++]);
    }
    int u16() {
        int lo = byte();
        return lo | (byte() << 8);
    }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t(byte()) << (8 * i);
        return v;
    }
    char letter() { return static_cast<char>(byte()); }
    // A length byte and that many characters, of which `keep` are kept.
    std::string text(std::size_t keep) {
        std::size_t n = byte();
        std::string s;
        for (std::size_t i = 0; i < n; ++i) {
            char c = static_cast<char>(byte());
            if (ended_) break;
            if (s.size() < keep) s += c;
        }
        return s;
    }

private:
    std::string_view b_;
    std::size_t at_ = 0;
    bool ended_ = false;
};

} // namespace

// ---- set-up ----

void Sorvex::commonSetUp(fw::WindowManager& wm, Queue& listQueue, win::Window& window, int listControl,
                         std::string_view iniFile, std::string_view visual, const SorvexOwnerRefs& refs) {
    SQ.free();
    FQ.free();
    SOQ.free();
    AOQ.free();
    FORQ.free();
    bound_.clear();
    WM = &wm;
    W = &window;
    BQ = &listQueue;
    LB = listControl;
    HHANDLE = static_cast<std::uint16_t>(listControl);
    INIFILENAME = std::string(iniFile.substr(0, 40));
    VISUAL = std::string(visual.substr(0, 20));
    DEF.ALLOWBBRESIZE = refs.allowResize;
    RRESTOREHEADER = refs.restoreHeader ? refs.restoreHeader : &RESTOREHEADER;
    RVIEWORDER = refs.viewOrder;
    RSEQUENCENBR = refs.sequenceNbr;
    RMASK = refs.mask;
    RFILESEQON = refs.fileSeqOn;
    RTITLETEXT = refs.titleText;
    ASCTOKEN = ">";
    DESCTOKEN = "<";
    HDRTOKEN = ASCTOKEN;
    InitColumns();
    MAXFONTSIZE = 14;
    MINFONTSIZE = 6;
    PAPERTYPE = 1;
    ALLPREVIEW = 1;
    PAGEPREVIEW = 0;
    HEADERSTYLE = 400;
    ASCIIFILENAME = "SvPort.CSV";
    HTMLFILENAME = "SvPort.HTM";
}

void Sorvex::Init(fw::WindowManager& wm, fw::BrowseManager& browse, Queue& listQueue, win::Window& window,
                  int listControl, std::string_view iniFile, std::string_view visual,
                  const SorvexOwnerRefs& refs) {
    BC = &browse;
    LISTTYPE = 1;
    commonSetUp(wm, listQueue, window, listControl, iniFile, visual, refs);
}

void Sorvex::InitFileList(fw::WindowManager& wm, SorvexListOwner& owner, Queue& listQueue,
                          win::Window& window, int listControl, std::string_view iniFile,
                          std::string_view visual, const SorvexOwnerRefs& refs) {
    FC = &owner;
    LISTTYPE = 2;
    commonSetUp(wm, listQueue, window, listControl, iniFile, visual, refs);
}

void Sorvex::InitQueueList(fw::WindowManager& wm, SorvexListOwner& owner, Queue& listQueue,
                           win::Window& window, int listControl, std::string_view iniFile,
                           std::string_view visual, const SorvexOwnerRefs& refs) {
    LC = &owner;
    LISTTYPE = 3;
    commonSetUp(wm, listQueue, window, listControl, iniFile, visual, refs);
}

void Sorvex::InitColumns() {}

void Sorvex::ReadColumnTables() {
    SQ.free();
    FQ.free();
    dropped_.clear();
    TableReader t(GR);
    int counter = 0;
    for (int i = 1; i <= QDIM; ++i) {
        SorvexColumn c;
        ++counter;
        c.FIELD = t.text(NameLength);
        c.WIDTHDLU = static_cast<std::int16_t>(t.u16());
        c.HEADER = t.text(HeaderLength);
        c.PICTURE = t.text(PictureLength);
        c.DESCRIPTION = t.text(NameLength);
        c.HJUST = c.FJUST = t.letter();
        c.DISPLAY = t.byte();
        c.COLORS = t.byte();
        c.ICONX = t.byte();
        c.VIEWFIELD = t.byte();
        c.TABCONTROL = static_cast<std::int32_t>(t.u32() & 0xFFFF);
        c.TOTALOK = t.byte();
        c.GRAPHOK = t.byte();
        c.SORTFIELD = t.byte();
        c.LOCATORTYPE = t.letter();
        if (t.ended()) break; // a table that ends early is read as far as it goes
        // A hidden column without a locator takes its field number but no place in the model.
        if (c.LOCATORTYPE == 'X' && c.DISPLAY == 0) {
            c.QNOS = static_cast<std::int16_t>(counter);
            c.SORTFIELD = 0;
            dropped_.push_back(c);
            continue;
        }
        c.QNOS = static_cast<std::int16_t>(counter);
        c.SEQ = static_cast<std::int16_t>(i);
        c.ASCDESC = 0;
        c.HOFFSET = c.FOFFSET = 1;
        c.ULINE = c.FIXED = 0;
        c.BORDER = c.RESIZE = 1;
        c.CONTROLFIELD = c.DISPLAY;
        c.FORMAT.clear();
        if (c.DISPLAY) {
            c.COL = static_cast<std::int16_t>(i);
            SorvexColumn s = c;
            s.LEFT = s.RIGHT = 0;
            s.SEQ = s.COL = static_cast<std::int16_t>(SQ.records() + 1);
            SQ.addSorted(s, "SEQ");
        } else {
            c.COL = 0;
        }
        counter += (c.COLORS ? 4 : 0) + (c.ICONX ? 1 : 0);
        FQ.addSorted(c, "QNOS");
    }

    SOQ.free();
    TableReader s(GRS);
    for (int r = 1; r <= QDIMS && !s.ended(); ++r) {
        std::string field = s.text(NameLength);
        int n = s.u16();
        SorvexColumn owner;
        std::int16_t qnos = 0;
        for (std::int64_t p = 1; FQ.get(p, owner); ++p)
            if (sameName(owner.FIELD, field)) {
                qnos = owner.QNOS;
                break;
            }
        for (int k = 1; k <= n; ++k) {
            SortComponent c;
            c.QNOS = qnos;
            c.SEQ = static_cast<std::int16_t>(k);
            c.FIELDNAME = s.text(NameLength);
            c.ASCDESC = s.byte();
            c.PICTURE = s.text(255).substr(0, 2);
            if (s.ended()) break;
            SOQ.addSorted(c, "QNOS,SEQ");
        }
    }

    AOQ.free();
    TableReader a(GRA);
    APPLYALL = a.byte();
    int n = a.u16();
    for (int k = 1; k <= n; ++k) {
        SortComponent c;
        c.SEQ = static_cast<std::int16_t>(k);
        c.FIELDNAME = a.text(NameLength);
        c.ASCDESC = a.byte();
        c.PICTURE = a.text(255).substr(0, 2);
        if (a.ended()) break;
        AOQ.addSorted(c, "SEQ");
    }
    if (a.ended() && n == 0) APPLYALL = 0;
    bindFq_ = 1;
    SQ.sort("SEQ");
}

void Sorvex::AddFormatSlot(int tabControl) {
    FormatSlot f;
    f.CONTROL = tabControl;
    f.FORMAT = "0";
    FORQ.addSorted(f, "CONTROL");
    if (FORQ.records() == 1) currentSlot_ = tabControl;
}

void Sorvex::BindColumn(const FieldRef& source, const FieldRef& listField) {
    SorvexColumn c;
    if (!FQ.get(bindFq_, c)) return;
    bound_.push_back(source);
    c.LEFT = static_cast<std::int32_t>(bound_.size());
    bound_.push_back(listField);
    c.RIGHT = static_cast<std::int32_t>(bound_.size());
    FQ.put(c);
    SorvexColumn s;
    for (std::int64_t p = 1; SQ.get(p, s); ++p)
        if (s.QNOS == c.QNOS) {
            s.LEFT = c.LEFT;
            s.RIGHT = c.RIGHT;
            SQ.put(s);
            break;
        }
    ++bindFq_;
}

FieldRef Sorvex::boundField(std::int32_t number) const {
    if (number < 1 || number > static_cast<std::int32_t>(bound_.size())) return {};
    return bound_[static_cast<std::size_t>(number - 1)];
}

void Sorvex::RegisterBrowseFields() {
    if (!BC) return;
    setCurrentSlotFormat(listProperty(win::listprop::Format));
    TakeFormatApart();
    SorvexColumn c;
    std::vector<int> shown;
    for (std::int64_t p = 1; SQ.get(p, c); ++p) {
        shown.push_back(c.QNOS);
        // Columns of computed or related fields get no editor in place (none is there yet).
        if (c.LEFT && c.RIGHT) BC->AddField(boundField(c.RIGHT), boundField(c.LEFT));
    }
    for (std::int64_t p = 1; FQ.get(p, c); ++p)
        if (std::find(shown.begin(), shown.end(), c.QNOS) == shown.end() && c.LEFT && c.RIGHT)
            BC->AddField(boundField(c.RIGHT), boundField(c.LEFT));
}

// ---- keeping the model in step with the control ----

std::string Sorvex::listProperty(int code, int column) const {
    if (!W) return {};
    return W->property(LB, win::listColumnProperty(code, column));
}

void Sorvex::setListProperty(int code, int column, std::string_view value) {
    if (W) W->setProperty(LB, win::listColumnProperty(code, column), std::string(value));
}

std::uint32_t Sorvex::mask() const {
    return RMASK.valid() ? static_cast<std::uint32_t>(RMASK.get().toLong()) : 0;
}

void Sorvex::setSortedColumn(int column) {
    if (RSEQUENCENBR) *RSEQUENCENBR = static_cast<std::uint8_t>(std::clamp(column, 0, 255));
}

bool Sorvex::displayedColumn(int col, SorvexColumn& out) {
    return col >= 1 && SQ.get(col, out);
}

bool Sorvex::tableColumn(int qnos, SorvexColumn& out) {
    SorvexColumn c;
    for (std::int64_t p = 1; FQ.get(p, c); ++p)
        if (c.QNOS == qnos) {
            out = c;
            return true;
        }
    return false;
}

const std::string& Sorvex::tableColumnField(int qnos) {
    if (fqFieldsOf_ != FQ.records()) {
        fqFieldsOf_ = FQ.records();
        fqFields_.clear();
        SorvexColumn c;
        for (std::int64_t p = 1; FQ.get(p, c); ++p) {
            if (c.QNOS <= 0) continue;
            if (fqFields_.size() <= std::size_t(c.QNOS)) fqFields_.resize(std::size_t(c.QNOS) + 1);
            fqFields_[std::size_t(c.QNOS)] = std::string(clipRight(c.FIELD));
        }
    }
    static const std::string none;
    return qnos > 0 && std::size_t(qnos) < fqFields_.size() ? fqFields_[std::size_t(qnos)] : none;
}

bool Sorvex::currentTableColumn(SorvexColumn& out) {
    return FQ.get(fqAt_, out);
}

void Sorvex::SetColumnSortOrder(int order) {
    if (sortOrderCall_ != 1) return; // the second order's number is SORTFIELD + 1
    SorvexColumn c;
    if (!FQ.get(fqAt_, c)) return;
    c.SORTFIELD = static_cast<std::uint8_t>(order);
    FQ.put(c);
    SorvexColumn s;
    for (std::int64_t p = 1; SQ.get(p, s); ++p)
        if (s.QNOS == c.QNOS) {
            s.SORTFIELD = c.SORTFIELD;
            SQ.put(s);
            break;
        }
    FQ.get(fqAt_, c); // FQ's current entry stays the column's
}

void Sorvex::RefreshColumns(bool keepSorted) {
    SorvexColumn c;
    int x = 0;
    for (std::int64_t p = 1; SQ.get(p, c); ++p) {
        if (c.COL == 0) continue;
        const int col = c.SEQ;
        auto num = [&](int code) { return propertyNumber(listProperty(code, col)); };
        c.NFG = num(0x7E28);
        c.NBG = num(0x7E29);
        c.SFG = num(0x7E2A);
        c.SBG = num(0x7E2B);
        c.WIDTHPIX =
            static_cast<std::int16_t>(propertyNumber(listProperty(win::listprop::ColumnPixelWidth, col)));
        c.PICTURE = listProperty(0x7E05, col).substr(0, PictureLength);
        c.HEADER = listProperty(0x7E03, col).substr(0, HeaderLength + 1);
        c.WIDTHDLU = static_cast<std::int16_t>(num(0x7E04));
        c.FIXED = num(0x7E06) ? 1 : 0;
        c.BORDER = num(0x7E02) ? 1 : 0;
        c.RESIZE = num(0x7E01) ? 1 : 0;
        c.ULINE = num(0x7E00) ? 1 : 0;
        static const char just[] = "LRCD";
        for (int j = 0; j < 4; ++j)
            if (num(0x7E10 + 2 * j)) {
                c.FJUST = just[j];
                c.FOFFSET = static_cast<std::uint8_t>(num(0x7E11 + 2 * j));
                break;
            }
        for (int j = 0; j < 4; ++j)
            if (num(0x7E18 + 2 * j)) {
                c.HJUST = just[j];
                c.HOFFSET = static_cast<std::uint8_t>(num(0x7E19 + 2 * j));
                break;
            }
        // The left edge as the list shows it (scrolled groups read empty: counted on from the widths).
        const std::string left = listProperty(win::listprop::ColumnPixelLeft, col);
        c.XPOSPIX = static_cast<std::int16_t>(left.empty() ? x : propertyNumber(left));
        x = c.XPOSPIX + c.WIDTHPIX;
        SQ.put(c);
        if (!keepSorted && col == sortedColumn()) QNOS = static_cast<std::uint8_t>(c.QNOS);
    }
    if (listProperty(win::listprop::HScroll) == "1")
        HPOS = static_cast<std::int16_t>(propertyNumber(listProperty(win::listprop::HorizontalPosition)));
}

void Sorvex::TakeFormatApart() {
    std::string format = currentSlotFormat();
    if (format.empty() || format == "0") format = listProperty(win::listprop::Format);
    SQ.free();
    // The runtime's parser counts the queue fields, exactly as the list box does.
    ListFormat parsed;
    parsed.setFormat(format);
    if (parsed.defaultColumns()) return;
    int position = 0;
    for (const ListColumn& col : parsed.columns()) {
        ++position;
        SorvexColumn c;
        if (!tableColumn(col.field, c)) {
            // A field that has no place in FQ still holds its place in the list, unsortable.
            auto d = std::find_if(dropped_.begin(), dropped_.end(),
                                  [&](const SorvexColumn& x) { return x.QNOS == col.field; });
            c = d != dropped_.end() ? *d : SorvexColumn{};
            c.QNOS = static_cast<std::int16_t>(col.field);
            c.SORTFIELD = 0;
            if (d == dropped_.end()) {
                c.HEADER = col.header.substr(0, HeaderLength);
                c.PICTURE = col.picture.substr(0, PictureLength);
                c.LOCATORTYPE = 'X';
            }
        }
        c.DISPLAY = 1;
        c.SEQ = c.COL = static_cast<std::int16_t>(position);
        SQ.add(c);
    }
    SQ.sort("SEQ");
}

std::string Sorvex::currentSlotFormat() {
    FormatSlot f;
    for (std::int64_t p = 1; FORQ.get(p, f); ++p)
        if (f.CONTROL == currentSlot_) return f.FORMAT;
    return {};
}

void Sorvex::setCurrentSlotFormat(const std::string& format) {
    FormatSlot f;
    for (std::int64_t p = 1; FORQ.get(p, f); ++p)
        if (f.CONTROL == currentSlot_) {
            f.FORMAT = fitted(format);
            FORQ.put(f);
            return;
        }
}

std::string Sorvex::fitted(const std::string& format) const {
    if (format.size() <= MaxFormat) return format;
    // Too long to be stored whole: the columns that fit, each written with its field number, so
    // that a stored format never ends in the middle of a column.
    ListFormat parsed;
    parsed.setFormat(format);
    std::string out;
    for (int c = 1; c <= static_cast<int>(parsed.columns().size()); ++c) {
        std::string one = parsed.property(0x7E0F, c).toText();
        if (out.size() + one.size() > MaxFormat) break;
        out += one;
    }
    return out;
}

void Sorvex::RebuildFormat() {
    const int sortedQnos = sortedColumn() ? QNOS : 0;
    SQ.sort("SEQ");
    std::string format;
    SorvexColumn c;
    for (std::int64_t p = 1; SQ.get(p, c); ++p) {
        std::string t = std::to_string(c.WIDTHDLU);
        t += c.FJUST;
        if (c.FOFFSET != 0) t += "(" + std::to_string(c.FOFFSET) + ")";
        if (c.COLORS) t += '*';
        if (c.ICONX) t += 'I';
        if (c.FIXED) t += 'F';
        if (c.ULINE) t += '_';
        if (c.RESIZE) t += 'M';
        if (c.BORDER) t += '|';
        t += "~" + std::string(clipRight(c.HEADER)) + "~";
        t += c.HJUST;
        // The data indent sets the header indent too: a header indent of its own (0 included)
        // must be written whenever the two differ.
        if (c.HOFFSET != c.FOFFSET) t += "(" + std::to_string(c.HOFFSET) + ")";
        std::string picture(clipRight(c.PICTURE));
        t += (picture.empty() ? std::string("@S20") : picture) + "@";
        t += "#" + std::to_string(c.QNOS) + "#";
        if (c.NFG != -1 || c.NBG != -1 || c.SFG != -1 || c.SBG != -1) {
            auto colour = [](std::int32_t v) { return v == -1 ? std::string() : std::to_string(v); };
            t += "E(" + colour(c.NFG) + "," + colour(c.NBG) + "," + colour(c.SFG) + "," + colour(c.SBG) + ")";
        }
        if (format.size() + t.size() > MaxFormat) break; // the columns that fit
        format += t;
    }
    setListProperty(win::listprop::Format, 0, format);
    setCurrentSlotFormat(format);
    TakeFormatApart();
    RefreshColumns(true);
    followSorted(sortedQnos);
}

void Sorvex::followSorted(int sortedQnos) {
    if (!sortedQnos) return;
    // The sorted column, and the column carrying the mark, follow the column they belong to.
    SorvexColumn c;
    for (std::int64_t p = 1; SQ.get(p, c); ++p)
        if (c.QNOS == sortedQnos) {
            if (markOn_ == sortedColumn()) markOn_ = c.SEQ;
            setSortedColumn(c.SEQ);
            return;
        }
    // Its column is no longer shown: the list goes back to its key order, as its headers say.
    markOn_ = 0;
    setSortedColumn(0);
    QNOS = 0;
    if (RVIEWORDER) *RVIEWORDER = 0;
    if (LISTTYPE == 1 && W)
        W->post(win::eventCode(sevent::ResetBrowse), LB);
    else if (LISTTYPE != 1)
        orderQueueList("");
}

void Sorvex::MoveColumnLeft() {
    moveColumn(-1);
}

void Sorvex::MoveColumnRight() {
    moveColumn(1);
}

void Sorvex::moveColumn(int step) {
    SQ.sort("SEQ");
    SorvexColumn c, n;
    if (!SQ.get(CURRENTCOL, c) || !SQ.get(CURRENTCOL + step, n)) {
        win::beep();
        return;
    }
    std::swap(c.SEQ, n.SEQ);
    // Each is stored where it stands now: a put moves an entry within the order by SEQ.
    storeDisplayed(c);
    storeDisplayed(n);
    SQ.sort("SEQ");
    SQ.get(CURRENTCOL, c);
}

void Sorvex::storeDisplayed(const SorvexColumn& column) {
    SorvexColumn c;
    for (std::int64_t p = 1; SQ.get(p, c); ++p)
        if (c.QNOS == column.QNOS) {
            SQ.put(column);
            return;
        }
}

void Sorvex::Kill() {
    SQ.free();
    FQ.free();
    SOQ.free();
    AOQ.free();
    FORQ.free();
    LSQ.free();
    bound_.clear();
}

void Sorvex::notYetThere(std::string_view what) {
    win::message(std::string(what) + " is not available yet.", std::string(MessageCaption),
                 win::icon::Asterisk);
}

} // namespace sorv::bx
