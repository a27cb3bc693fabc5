// The orders a Sorvex object gives its list: the browse's two column orders per sortable column
// (text in UPPER, numbers plain, the additional components, mode 1 replacing the key's order),
// their reset to another key without piling up, and the sort strings of a queue list with the
// queue sorted by them and the mark on its header.
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/rig_tests.h"
#include "tests/windowing/harness.h"

#include <gtest/gtest.h>

using namespace browsetest;
using namespace sorv::bx;
using sorv::test::runWithDesktop;

namespace {

// Sys Id (a number, no components), Last Name (text, with Cust reversed after it), Cust (not
// sortable); the additional order is Cust, applied to every column only with APPLYALL.
struct PeopleSorvex : Sorvex {
    bool applyAll = false;
    std::string columns = columnTable({
        {"PPL:SysId", 40, "Sys Id", "@n6", "Id", 'R'},
        {"PPL:LastName", 80, "Last Name", "@s20", "Name", 'L'},
        {"PPL:CustId", 40, "Cust", "@n6", "Customer", 'R', true, false, false, 1, 0, false, true, false, 'S'},
    });
    std::string sorts =
        sortFieldTable({{"PPL:LastName", {{"PPL:LastName", false, "@s20"}, {"PPL:CustId", true, "@n6"}}}});
    std::string additional;
    void InitColumns() override {
        additional = additionalOrderTable(applyAll, {{"PPL:CustId", false, "@n6"}});
        QDIM = 3;
        QDIMS = 1;
        GR = columns;
        GRS = sorts;
        GRA = additional;
        ReadColumnTables();
        AddFormatSlot(1);
    }
};

using sorv::test::NoPopup;

std::vector<std::string> orders(Rig& rig, int from) {
    std::vector<std::string> out;
    for (std::size_t i = static_cast<std::size_t>(from - 1); i < rig.browse.ORDER->size(); ++i)
        out.push_back((*rig.browse.ORDER)[i].ORDER);
    return out;
}

} // namespace

TEST(SortOrders, TwoOrdersPerSortableColumnAndTheirResetToAnotherKey) {
    runWithDesktop([] {
        for (bool applyAll : {false, true}) {
            SCOPED_TRACE(applyAll ? "APPLYALL 1" : "APPLYALL 0");
            Rig rig(3);
            ASSERT_TRUE(rig.opened);
            PeopleSorvex s;
            s.applyAll = applyAll;
            std::uint8_t viewOrder = 0, sorted = 0, fileSeq = 0;
            SorvexOwnerRefs refs;
            refs.viewOrder = &viewOrder;
            refs.sequenceNbr = &sorted;
            refs.fileSeqOn = &fileSeq;
            s.Init(rig.window, rig.browse, *rig.queue, rig.window.WINDOW, List, "", VisualHeader, refs);
            for (const char* f : {"PPL:SysId", "PPL:LastName", "PPL:CustId"})
                s.BindColumn(rig.file.record.ref(f), rig.queue->field(std::string("Q:") + (f + 4)));
            const std::size_t before = rig.browse.ORDER->size();
            s.BuildSortOrders(1);
            ASSERT_EQ(rig.browse.ORDER->size(), before + 4);
            const int first = static_cast<int>(before) + 1;
            // A column without components of its own takes the additional ones whatever APPLYALL says.
            const std::vector<std::string> expected{
                "PPL:SysId,PPL:CustId", "-PPL:SysId,-PPL:CustId",
                applyAll ? "UPPER(PPL:LastName),-PPL:CustId,PPL:CustId" : "UPPER(PPL:LastName),-PPL:CustId",
                applyAll ? "-UPPER(PPL:LastName),PPL:CustId,-PPL:CustId" : "-UPPER(PPL:LastName),PPL:CustId"};
            EXPECT_EQ(orders(rig, first), expected);
            // SORTFIELD is the first (ascending) order of each column, in FQ and SQ alike.
            SorvexColumn c;
            ASSERT_TRUE(s.FQ.get(1, c));
            EXPECT_EQ(c.SORTFIELD, first);
            ASSERT_TRUE(s.FQ.get(2, c));
            EXPECT_EQ(c.SORTFIELD, first + 2);
            ASSERT_TRUE(s.SQ.get(2, c));
            EXPECT_EQ(c.SORTFIELD, first + 2);
            ASSERT_TRUE(s.FQ.get(3, c));
            EXPECT_EQ(c.SORTFIELD, 0);
            // Reset to another key, again and again: the key changes, the components never pile up.
            (*rig.browse.ORDER)[static_cast<std::size_t>(first - 1)].FILTER.push_back({"3 Locator", "x"});
            for (int i = 0; i < 3; ++i) s.ResetColumnSortOrdersTo(KeyName);
            EXPECT_EQ(orders(rig, first), expected);
            for (std::size_t i = static_cast<std::size_t>(first - 1); i < rig.browse.ORDER->size(); ++i) {
                EXPECT_EQ((*rig.browse.ORDER)[i].MAINKEY, KeyName);
                EXPECT_TRUE((*rig.browse.ORDER)[i].FILTER.empty());
            }
            // A sort on Last Name names its ascending order, then its descending one.
            s.CURRENTCOL = 2;
            s.SortOnColumn();
            EXPECT_EQ(viewOrder, 1);
            EXPECT_EQ(sorted, 2);
            EXPECT_EQ(s.SortChoice(), first + 2);
            s.SortOnColumn();
            EXPECT_EQ(s.SortChoice(), first + 3);
            EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 2)), "<Last Name");
            // A column the format leaves out keeps being filled: the browse gets its pair too.
            rig.window.WINDOW.setProperty(List, win::listprop::Format,
                                          "80L(2)|M~Last Name~@s20@#2#40R(2)~Sys Id~@n6@#1#");
            rig.browse.FIELDS.clear();
            s.RegisterBrowseFields();
            std::vector<std::string> filled;
            for (const auto& p : rig.browse.FIELDS) filled.push_back(p.LEFT.name() + "<" + p.RIGHT.name());
            EXPECT_EQ(filled, (std::vector<std::string>{"Q:LastName<PPL:LastName", "Q:SysId<PPL:SysId",
                                                        "Q:CustId<PPL:CustId"}));
            s.Kill();
        }
    });
}

TEST(SortOrders, QueueListSortsItsQueueByItsSortStrings) {
    withRig(0, [](Rig& rig) {
        Layout l;
        l.add("PPL:SysId", FieldType::Long);
        l.add("PPL:LastName", FieldType::String, 20);
        l.add("PPL:CustId", FieldType::Long);
        Queue q(l);
        const struct {
            int id;
            const char* name;
            int cust;
        } rows[] = {{1, "b", 1}, {2, "A", 2}, {3, "b", 3}, {4, "c", 1}};
        for (const auto& r : rows) {
            q.record().set("PPL:SysId", Value(r.id));
            q.record().set("PPL:LastName", Value(r.name));
            q.record().set("PPL:CustId", Value(r.cust));
            q.add();
        }
        NoPopup owner;
        PeopleSorvex s;
        std::uint8_t viewOrder = 0, sorted = 0;
        SorvexOwnerRefs refs;
        refs.viewOrder = &viewOrder;
        refs.sequenceNbr = &sorted;
        s.InitQueueList(rig.window, owner, q, rig.window.WINDOW, List, "", VisualHeader, refs);
        s.BuildSortStrings();
        std::vector<std::string> strings;
        SortString e;
        for (std::int64_t p = 1; s.LSQ.get(p, e); ++p)
            strings.push_back(std::to_string(e.SEQ) + " " + e.SORTSTRING);
        // No UPPER for a queue: the queue compares as its fields do.
        EXPECT_EQ(strings,
                  (std::vector<std::string>{"1 PPL:SysId,PPL:CustId", "2 -PPL:SysId,-PPL:CustId",
                                            "3 PPL:LastName,-PPL:CustId", "4 -PPL:LastName,PPL:CustId"}));
        auto ids = [&] {
            std::vector<int> out;
            for (std::int64_t p = 1; p <= q.records(); ++p)
                out.push_back(static_cast<int>(q.value(p, 1).toLong()));
            return out;
        };
        s.CURRENTCOL = 2;
        s.SortOnColumn();
        EXPECT_EQ(viewOrder, 0) << "a queue is sorted at once, not through a view";
        EXPECT_EQ(ids(), (std::vector<int>{2, 3, 1, 4}));
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 2)), ">Last Name");
        s.SortOnColumn();
        EXPECT_EQ(ids(), (std::vector<int>{4, 1, 3, 2}));
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 2)), "<Last Name");
        // Another column: Last Name plain again.
        s.CURRENTCOL = 1;
        s.SortOnColumn();
        EXPECT_EQ(ids(), (std::vector<int>{1, 2, 3, 4}));
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 2)), "Last Name");
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 1)), ">Sys Id");
        s.Kill();
    });
}

TEST(SortOrders, UnderlineAndTextBarVisuals) {
    withRig(0, [](Rig& rig) {
        struct Case {
            std::string_view visual;
            std::string pattern;
            std::string sorted, reversed, restored; // what the list or the caption shows
        };
        const Case cases[] = {
            {VisualUnderline, "", "1", "1", "0"},
            {VisualTextBar, "People by \" now ", "People by Last Name now (Ascending)",
             "People by Last Name now (Descending)", "People by key sequence now "},
            {VisualTextBar, "", "Last Name(Ascending)", "Last Name(Descending)", "Key Sequence"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.visual) + " " + c.pattern);
            NoPopup owner;
            PeopleSorvex s;
            std::uint8_t viewOrder = 0, sorted = 0;
            std::string title = c.pattern;
            SorvexOwnerRefs refs;
            refs.viewOrder = &viewOrder;
            refs.sequenceNbr = &sorted;
            refs.titleText = &title;
            s.InitQueueList(rig.window, owner, *rig.queue, rig.window.WINDOW, List, "", c.visual, refs);
            s.BuildSortStrings();
            auto look = [&] {
                return c.visual == VisualUnderline
                           ? rig.window.WINDOW.property(List, win::listColumnProperty(0x7E00, 2))
                           : rig.window.WINDOW.caption();
            };
            s.CURRENTCOL = 2;
            s.SortOnColumn();
            EXPECT_EQ(look(), c.sorted);
            s.SortOnColumn();
            EXPECT_EQ(look(), c.reversed);
            s.RestoreHeader();
            EXPECT_EQ(look(), c.restored);
            EXPECT_EQ(rig.window.WINDOW.property(List, win::listColumnProperty(0x7E03, 2)), "Last Name");
            s.Kill();
        }
    });
}
