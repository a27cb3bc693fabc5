// The column model without a window: the three tables read into FQ, SQ, SOQ and AOQ, field
// numbering across colour, icon and dropped columns, cut texts, short tables, and SQ rebuilt from
// a format by the runtime's field count, and the column menu each owner's mask gives.
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "framework/popupmanager.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::bx;

namespace {

struct Tables {
    std::string columns, sorts, additional;
    int columnRows = 0, sortRows = 0;
};

void read(Sorvex& s, const Tables& t) {
    s.GR = t.columns;
    s.GRS = t.sorts;
    s.GRA = t.additional;
    s.QDIM = static_cast<std::int16_t>(t.columnRows);
    s.QDIMS = static_cast<std::int16_t>(t.sortRows);
    s.ReadColumnTables();
}

std::vector<SorvexColumn> all(RecordQueue<SorvexColumn>& q) {
    std::vector<SorvexColumn> out;
    SorvexColumn c;
    for (std::int64_t p = 1; q.get(p, c); ++p) out.push_back(c);
    return out;
}

std::vector<std::string> components(Sorvex& s) {
    std::vector<std::string> out;
    SortComponent c;
    for (std::int64_t p = 1; s.SOQ.get(p, c); ++p)
        out.push_back(std::to_string(c.QNOS) + "." + std::to_string(c.SEQ) + " " + c.FIELDNAME +
                      (c.ASCDESC ? " rev " : " ") + c.PICTURE);
    return out;
}

Tables customer() {
    Tables t;
    t.columns = columnTable({
        {"CUST:Company", 120, "Company", "@s30", "Company Name", 'L', true, false, false, 1, 0, false, true,
         true, 'I'},
        {"CUST:City", 80, "City", "@s20", "City", 'L', true, false, false, 1, 0, false, true, true, 'F'},
        {"CUST:Country", 80, "Country", "@s20", "Country", 'L', true, false, false, 1, 0, false, true, true,
         'S'},
        {"CUST:PostalZipCode", 48, "Postal Zip Code", "@s12", "Postal/Zip Code", 'L', true, false, false, 1,
         0, false, true, true, 'I'},
        {"CUST:SysId", 28, "Sys Id", "@n7", "Customer ID", 'R', false, false, false, 1, 0, false, true, false,
         'X'},
    });
    t.columnRows = 5;
    t.sorts = sortFieldTable({
        {"CUST:Company", {}},
        {"CUST:Address1", {}},
        {"CUST:Address2", {}},
        {"CUST:PostalZipCode", {}},
        {"CUST:City", {{"CUST:City", false, "@s20"}, {"CUST:Company", false, "@s30"}}},
        {"CUST:Country",
         {{"CUST:Country", false, "@s20"}, {"CUST:City", false, "@s20"}, {"CUST:Company", true, "@n7"}}},
    });
    t.sortRows = 6;
    t.additional = additionalOrderTable(true, {{"CUST:Country", false, "@s20"}});
    return t;
}

} // namespace

TEST(ColumnTables, CustomerTablesAsTheBrowseDescribesThem) {
    Sorvex s;
    read(s, customer());
    auto fq = all(s.FQ);
    ASSERT_EQ(fq.size(), 4u) << "the hidden key column without a locator has no place";
    EXPECT_EQ(fq[0].FIELD, "CUST:Company");
    EXPECT_EQ(fq[0].WIDTHDLU, 120);
    EXPECT_EQ(fq[0].HEADER, "Company");
    EXPECT_EQ(fq[0].PICTURE, "@s30");
    EXPECT_EQ(fq[0].DESCRIPTION, "Company Name");
    EXPECT_EQ(fq[0].LOCATORTYPE, 'I');
    EXPECT_EQ(fq[3].DESCRIPTION, "Postal/Zip Code");
    for (std::size_t i = 0; i < fq.size(); ++i) {
        SCOPED_TRACE(fq[i].FIELD);
        EXPECT_EQ(fq[i].QNOS, int(i) + 1);
        EXPECT_EQ(fq[i].SEQ, int(i) + 1);
        EXPECT_EQ(fq[i].COL, int(i) + 1);
        EXPECT_EQ(fq[i].SORTFIELD, 1);
        EXPECT_EQ(fq[i].HOFFSET, 1);
        EXPECT_EQ(fq[i].BORDER, 1);
        EXPECT_EQ(fq[i].NFG, -1);
        EXPECT_EQ(fq[i].HJUST, 'L');
        EXPECT_EQ(fq[i].CONTROLFIELD, 1);
    }
    auto sq = all(s.SQ);
    ASSERT_EQ(sq.size(), 4u);
    EXPECT_EQ(sq[2].FIELD, "CUST:Country");
    EXPECT_EQ(sq[2].SEQ, 3);
    // Components by QNOS then SEQ; those of fields without a column keep QNOS 0.
    EXPECT_EQ(components(s),
              (std::vector<std::string>{"2.1 CUST:City @s", "2.2 CUST:Company @s", "3.1 CUST:Country @s",
                                        "3.2 CUST:City @s", "3.3 CUST:Company rev @n"}));
    EXPECT_EQ(s.APPLYALL, 1);
    SortComponent a;
    ASSERT_TRUE(s.AOQ.get(1, a));
    EXPECT_EQ(a.FIELDNAME, "CUST:Country");
    EXPECT_EQ(a.QNOS, 0);
    EXPECT_EQ(s.AOQ.records(), 1);
}

TEST(ColumnTables, FieldNumbersCutTextsAndShortTables) {
    const std::string longText(30, 'h');
    struct Case {
        const char* name;
        std::vector<ColumnRow> rows;
        int declared;
        std::vector<int> qnos; // of the FQ entries
    };
    ColumnRow plain{"A", 40, "A", "@s10", "A"};
    ColumnRow coloured = plain, icon = plain, dropped = plain;
    coloured.field = "C";
    coloured.colours = true;
    icon.field = "I";
    icon.icon = true;
    dropped.field = "X";
    dropped.display = false;
    dropped.locator = 'X';
    ColumnRow hiddenKept = dropped;
    hiddenKept.locator = 'S';
    const Case cases[] = {
        {"colours take five fields", {coloured, plain}, 2, {1, 6}},
        {"an icon takes two", {icon, plain}, 2, {1, 3}},
        {"a dropped column keeps its number", {plain, dropped, plain}, 3, {1, 3}},
        {"a hidden column with a locator stays", {plain, hiddenKept, plain}, 3, {1, 2, 3}},
        {"a table shorter than declared", {plain, plain}, 4, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sorvex s;
        Tables t;
        t.columns = columnTable(c.rows);
        t.columnRows = c.declared;
        read(s, t);
        std::vector<int> got;
        for (const SorvexColumn& col : all(s.FQ)) got.push_back(col.QNOS);
        EXPECT_EQ(got, c.qnos);
    }

    Sorvex s;
    ColumnRow wide{"CUST:" + longText, 40, longText, "@s" + std::string(25, '9'), longText};
    Tables t;
    t.columns = columnTable({wide});
    t.columnRows = 1;
    read(s, t);
    SorvexColumn c;
    ASSERT_TRUE(s.FQ.get(1, c));
    EXPECT_EQ(c.FIELD.size(), NameLength);
    EXPECT_EQ(c.HEADER, longText.substr(0, HeaderLength));
    EXPECT_EQ(c.DESCRIPTION.size(), NameLength);
    EXPECT_EQ(c.PICTURE.size(), PictureLength);
    // The header keeps room for the sort mark in front of all its 25 characters.
    c.HEADER = ">" + c.HEADER;
    s.FQ.put(c);
    ASSERT_TRUE(s.FQ.get(1, c));
    EXPECT_EQ(c.HEADER, ">" + longText.substr(0, HeaderLength));
}

TEST(ColumnTables, FormatTakenApartCountsFieldsAsTheListDoes) {
    // Six columns shown by the formats below, by field number.
    std::vector<ColumnRow> rows;
    for (int i = 1; i <= 8; ++i)
        rows.push_back({"F" + std::to_string(i), 40, "H" + std::to_string(i), "@s10", "D"});
    Tables t;
    t.columns = columnTable(rows);
    t.columnRows = 8;
    struct Case {
        const char* format;
        std::vector<int> qnos;
    };
    const Case cases[] = {
        {"40L~H1~@s10@40L~H2~@s10@", {1, 2}},
        {"40L~H1~@s10@#3#40L~H4~@s10@", {3, 4}},
        {"40LY~H1~@s10@40L~H3~@s10@", {1, 3}},
        {"40LT~H1~@s10@40L~H3~@s10@", {1, 3}},
        {"40L*~H1~@s10@40LI~H6~@s10@40L~H8~@s10@", {1, 6, 8}},
        {"[40L~H1~@s10@40L~H2~@s10@](80)~G~40L~H3~@s10@", {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Sorvex s;
        read(s, t);
        s.AddFormatSlot(8);
        FormatSlot f;
        ASSERT_TRUE(s.FORQ.get(1, f));
        f.FORMAT = c.format;
        s.FORQ.put(f);
        s.TakeFormatApart();
        std::vector<int> got;
        int seq = 0;
        for (const SorvexColumn& col : all(s.SQ)) {
            got.push_back(col.QNOS);
            EXPECT_EQ(col.SEQ, ++seq);
            EXPECT_EQ(col.DISPLAY, 1);
        }
        EXPECT_EQ(got, c.qnos);
    }
}

namespace {

struct MenuOwner : SorvexListOwner {
    fw::PopupManager menu;
    fw::PopupManager* Popup() override { return &menu; }
};

} // namespace

TEST(ColumnMenu, TheOwnersMaskChoosesItsItemsAndNoneLeavesAGap) {
    struct Case {
        std::uint32_t mask;
        std::vector<std::string> items; // depth and name
    };
    const std::vector<std::string> always{"0 DEF", "0 Output", "1 GBR", "1 PVW",
                                          "1 PPG", "1 ASC",    "1 HTM", "1 GPF"};
    auto with = [&](std::vector<std::string> first) {
        first.insert(first.end(), always.begin(), always.end());
        return first;
    };
    const Case cases[] = {
        {0, with({"0 ADJ", "0 SRT"})},
        // The font item alone still has its submenus.
        {0x2000000, with({"0 ADJ", "0 SRT", "0 Sorvex", "1 ListBox", "2 FNT", "1 S26", "1 S29"})},
        {0x10000000, with({"0 ADJ", "0 SRT", "0 Sorvex", "1 ListBox", "2 VSC", "2 S32", "1 S26", "1 S29"})},
        // The file-loaded and queue lists' mask.
        {0x227CFCE7, with({"0 ADJ", "0 SRT", "0 Sorvex", "1 MCL", "1 MCR",     "1 S21", "1 WID", "1 HDR",
                           "1 S22", "1 FJL", "1 FJC",    "1 FJR", "1 S23",     "1 HJL", "1 HJC", "1 HJR",
                           "1 S24", "1 RSZ", "1 BDR",    "1 S25", "1 ListBox", "2 XPS", "2 YPS", "2 S31",
                           "2 FNT", "1 S26", "1 CLR",    "1 S29", "0 PRP",     "0 HID"})},
    };
    for (const Case& c : cases) {
        Record locals{[] {
            Layout l;
            l.addDecimal("LOC:PopupMask", 11, 0);
            return l;
        }()};
        locals.set("LOC:PopupMask", Value(static_cast<std::int64_t>(c.mask)));
        MenuOwner owner;
        owner.menu.AddItem("Owner's own");
        Sorvex s;
        s.LISTTYPE = 3;
        s.LC = &owner;
        s.RMASK = locals.ref("LOC:PopupMask");
        s.ASCIIFILENAME = "SvPort.CSV";
        s.BuildListPopup();
        std::vector<std::string> items;
        for (std::size_t i = 1; i < owner.menu.POPUPITEMS.size(); ++i)
            items.push_back(std::to_string(owner.menu.POPUPITEMS[i].DEPTH) + " " +
                            owner.menu.POPUPITEMS[i].NAME);
        EXPECT_EQ(items, c.items) << std::hex << c.mask;
        EXPECT_EQ(owner.menu.item("ASC")->TEXT, "Export to ASCII (SvPort.CSV)");
        if (fw::PopupItem* i = owner.menu.item("FJL")) EXPECT_EQ(i->TEXT, "+Data Just left");
    }
}
