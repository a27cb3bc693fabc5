// The queue layouts of the object's records and their copies to and from a queue's buffer.
#include "browse_ext/sorvex.h"

#include "runtime/value.h"

namespace sorv::bx {

namespace {

std::string text(Queue& q, int field) {
    return std::string(clipRight(q.record().ref(field).get().toText()));
}
std::int64_t number(Queue& q, int field) {
    return q.record().ref(field).get().toLong();
}
char letter(Queue& q, int field) {
    std::string t = text(q, field);
    return t.empty() ? ' ' : t[0];
}
void set(Queue& q, int field, const Value& v) {
    q.record().ref(field).set(v);
}
void setLetter(Queue& q, int field, char c) {
    set(q, field, std::string(1, c));
}

// Field indexes of the column record's layout, in declaration order.
enum ColumnField {
    cFIELD,
    cDESCRIPTION,
    cICON,
    cHEADER,
    cQNOS,
    cSEQ,
    cCOL,
    cNFG,
    cNBG,
    cSFG,
    cSBG,
    cWIDTHDLU,
    cWIDTHPIX,
    cXPOSPIX,
    cHJUST,
    cFJUST,
    cHOFFSET,
    cFOFFSET,
    cULINE,
    cFIXED,
    cBORDER,
    cRESIZE,
    cDISPLAY,
    cASCDESC,
    cCONTROLFIELD,
    cVIEWFIELD,
    cTABCONTROL,
    cTOTALOK,
    cGRAPHOK,
    cSORTFIELD,
    cLOCATORTYPE,
    cCOLORS,
    cICONX,
    cMAXWIDTH,
    cPICTURE,
    cLEFT,
    cRIGHT,
    cFORMAT
};

} // namespace

const Layout& SorvexColumn::layout() {
    static const Layout l = [] {
        Layout l;
        l.add("FIELD", FieldType::String, NameLength);
        l.add("DESCRIPTION", FieldType::String, NameLength);
        l.add("ICON", FieldType::Long);
        // One more than a header is given with: the sort mark goes before it.
        l.add("HEADER", FieldType::String, HeaderLength + 1);
        l.add("QNOS", FieldType::Short);
        l.add("SEQ", FieldType::Short);
        l.add("COL", FieldType::Short);
        for (const char* c : {"NFG", "NBG", "SFG", "SBG"}) l.add(c, FieldType::Long);
        l.add("WIDTHDLU", FieldType::Short);
        l.add("WIDTHPIX", FieldType::Short);
        l.add("XPOSPIX", FieldType::Short);
        l.add("HJUST", FieldType::String, 1);
        l.add("FJUST", FieldType::String, 1);
        for (const char* b : {"HOFFSET", "FOFFSET", "ULINE", "FIXED", "BORDER", "RESIZE", "DISPLAY",
                              "ASCDESC", "CONTROLFIELD", "VIEWFIELD"})
            l.add(b, FieldType::Byte);
        l.add("TABCONTROL", FieldType::Long);
        for (const char* b : {"TOTALOK", "GRAPHOK", "SORTFIELD"}) l.add(b, FieldType::Byte);
        l.add("LOCATORTYPE", FieldType::String, 1);
        for (const char* b : {"COLORS", "ICONX", "MAXWIDTH"}) l.add(b, FieldType::Byte);
        l.add("PICTURE", FieldType::CString, PictureLength + 1);
        l.add("LEFT", FieldType::Long);
        l.add("RIGHT", FieldType::Long);
        l.add("FORMAT", FieldType::String, MaxFormat + 1);
        return l;
    }();
    return l;
}

void SorvexColumn::load(Queue& q) {
    FIELD = text(q, cFIELD);
    DESCRIPTION = text(q, cDESCRIPTION);
    ICON = static_cast<std::int32_t>(number(q, cICON));
    HEADER = text(q, cHEADER);
    QNOS = static_cast<std::int16_t>(number(q, cQNOS));
    SEQ = static_cast<std::int16_t>(number(q, cSEQ));
    COL = static_cast<std::int16_t>(number(q, cCOL));
    NFG = static_cast<std::int32_t>(number(q, cNFG));
    NBG = static_cast<std::int32_t>(number(q, cNBG));
    SFG = static_cast<std::int32_t>(number(q, cSFG));
    SBG = static_cast<std::int32_t>(number(q, cSBG));
    WIDTHDLU = static_cast<std::int16_t>(number(q, cWIDTHDLU));
    WIDTHPIX = static_cast<std::int16_t>(number(q, cWIDTHPIX));
    XPOSPIX = static_cast<std::int16_t>(number(q, cXPOSPIX));
    HJUST = letter(q, cHJUST);
    FJUST = letter(q, cFJUST);
    auto byte = [&](int f) { return static_cast<std::uint8_t>(number(q, f)); };
    HOFFSET = byte(cHOFFSET);
    FOFFSET = byte(cFOFFSET);
    ULINE = byte(cULINE);
    FIXED = byte(cFIXED);
    BORDER = byte(cBORDER);
    RESIZE = byte(cRESIZE);
    DISPLAY = byte(cDISPLAY);
    ASCDESC = byte(cASCDESC);
    CONTROLFIELD = byte(cCONTROLFIELD);
    VIEWFIELD = byte(cVIEWFIELD);
    TABCONTROL = static_cast<std::int32_t>(number(q, cTABCONTROL));
    TOTALOK = byte(cTOTALOK);
    GRAPHOK = byte(cGRAPHOK);
    SORTFIELD = byte(cSORTFIELD);
    LOCATORTYPE = letter(q, cLOCATORTYPE);
    COLORS = byte(cCOLORS);
    ICONX = byte(cICONX);
    MAXWIDTH = byte(cMAXWIDTH);
    PICTURE = text(q, cPICTURE);
    LEFT = static_cast<std::int32_t>(number(q, cLEFT));
    RIGHT = static_cast<std::int32_t>(number(q, cRIGHT));
    FORMAT = text(q, cFORMAT);
}

void SorvexColumn::save(Queue& q) const {
    set(q, cFIELD, FIELD);
    set(q, cDESCRIPTION, DESCRIPTION);
    set(q, cICON, ICON);
    set(q, cHEADER, HEADER);
    set(q, cQNOS, QNOS);
    set(q, cSEQ, SEQ);
    set(q, cCOL, COL);
    set(q, cNFG, NFG);
    set(q, cNBG, NBG);
    set(q, cSFG, SFG);
    set(q, cSBG, SBG);
    set(q, cWIDTHDLU, WIDTHDLU);
    set(q, cWIDTHPIX, WIDTHPIX);
    set(q, cXPOSPIX, XPOSPIX);
    setLetter(q, cHJUST, HJUST);
    setLetter(q, cFJUST, FJUST);
    set(q, cHOFFSET, HOFFSET);
    set(q, cFOFFSET, FOFFSET);
    set(q, cULINE, ULINE);
    set(q, cFIXED, FIXED);
    set(q, cBORDER, BORDER);
    set(q, cRESIZE, RESIZE);
    set(q, cDISPLAY, DISPLAY);
    set(q, cASCDESC, ASCDESC);
    set(q, cCONTROLFIELD, CONTROLFIELD);
    set(q, cVIEWFIELD, VIEWFIELD);
    set(q, cTABCONTROL, TABCONTROL);
    set(q, cTOTALOK, TOTALOK);
    set(q, cGRAPHOK, GRAPHOK);
    set(q, cSORTFIELD, SORTFIELD);
    setLetter(q, cLOCATORTYPE, LOCATORTYPE);
    set(q, cCOLORS, COLORS);
    set(q, cICONX, ICONX);
    set(q, cMAXWIDTH, MAXWIDTH);
    set(q, cPICTURE, PICTURE);
    set(q, cLEFT, LEFT);
    set(q, cRIGHT, RIGHT);
    set(q, cFORMAT, FORMAT);
}

const Layout& SortComponent::layout() {
    static const Layout l = [] {
        Layout l;
        l.add("QNOS", FieldType::Short);
        l.add("SEQ", FieldType::Short);
        l.add("FIELDNAME", FieldType::String, NameLength);
        l.add("ASCDESC", FieldType::Byte);
        l.add("PICTURE", FieldType::CString, 3);
        return l;
    }();
    return l;
}

void SortComponent::load(Queue& q) {
    QNOS = static_cast<std::int16_t>(number(q, 0));
    SEQ = static_cast<std::int16_t>(number(q, 1));
    FIELDNAME = text(q, 2);
    ASCDESC = static_cast<std::uint8_t>(number(q, 3));
    PICTURE = text(q, 4);
}

void SortComponent::save(Queue& q) const {
    set(q, 0, QNOS);
    set(q, 1, SEQ);
    set(q, 2, FIELDNAME);
    set(q, 3, ASCDESC);
    set(q, 4, PICTURE);
}

const Layout& FormatSlot::layout() {
    static const Layout l = [] {
        Layout l;
        l.add("CONTROL", FieldType::Long);
        l.add("FORMAT", FieldType::String, MaxFormat + 1);
        return l;
    }();
    return l;
}

void FormatSlot::load(Queue& q) {
    CONTROL = static_cast<std::int32_t>(number(q, 0));
    FORMAT = text(q, 1);
}

void FormatSlot::save(Queue& q) const {
    set(q, 0, CONTROL);
    set(q, 1, FORMAT);
}

const Layout& SortString::layout() {
    static const Layout l = [] {
        Layout l;
        l.add("SEQ", FieldType::Long);
        l.add("SORTSTRING", FieldType::String, 100);
        return l;
    }();
    return l;
}

void SortString::load(Queue& q) {
    SEQ = static_cast<std::int32_t>(number(q, 0));
    SORTSTRING = text(q, 1);
}

void SortString::save(Queue& q) const {
    set(q, 0, SEQ);
    set(q, 1, SORTSTRING);
}

} // namespace sorv::bx
