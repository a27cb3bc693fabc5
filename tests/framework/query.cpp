// Query by example: the filter the entries make, what the view language makes of each term, the
// query filed on a real browse over a real table, and the "Example values" window driven under
// the offscreen desktop.
#include "framework/query.h"

#include "data/expr.h"
#include "rig_tests.h"
#include "tests/windowing/harness.h"
#include "windowing/desktop.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace browsetest;
using sorv::test::BoxAnswers;
using sorv::test::findWidget;
using sorv::test::runWithDesktop;

namespace {

// A query with a no-case text field, a text field with case and a number field.
Query peopleQuery() {
    Query q;
    q.AddItem("UPPER(PPL:LastName)", "S");
    q.AddItem("PPL:FirstName", "S");
    q.AddItem("PPL:SysId", "N");
    return q;
}

std::string filterOf(std::string_view name, std::string_view low, std::string_view example,
                     std::string_view high) {
    Query q = peopleQuery();
    q.SetLimit(name, low, example, high);
    return q.BuildQueryFilter();
}

std::string example(std::string_view name, std::string_view value) {
    return filterOf(name, "", value, "");
}

} // namespace

TEST(QueryFilter, OperatorsStarsCaseAndQuotes) {
    // "=", "<" and M: "<=" against the quoted letter; each operator character once, "=" last.
    EXPECT_EQ(example("PPL:FirstName", "=<M"), "(PPL:FirstName <= 'M')");
    EXPECT_EQ(example("PPL:SysId", "><5"), "(PPL:SysId >< 5)");
    EXPECT_EQ(example("PPL:SysId", "=~5"), "(PPL:SysId ~= 5)") << "without < or > the operator gets =";
    EXPECT_EQ(example("PPL:SysId", "<~=<5"), "(PPL:SysId <~= 5)");
    // A leading star on a no-case field: INSTRING of the upper-cased rest.
    EXPECT_EQ(example("UPPER(PPL:LastName)", "*on*"), "(INSTRING('ON',UPPER(PPL:LastName),1,1) <> 0)")
        << "the closing star of *ON* is not text sought";
    EXPECT_EQ(example("PPL:FirstName", "^*an"), "(INSTRING('AN',UPPER(PPL:FirstName),1,1) <> 0)");
    EXPECT_EQ(example("UPPER(PPL:LastName)", "^smith"), "(UPPER(PPL:LastName) = 'SMITH')")
        << "a name already holding UPPER( is not wrapped twice";
    // A trailing star: the start of the field, "=" when typed without an operator.
    EXPECT_EQ(example("PPL:FirstName", "Jo*"), "(SUB(PPL:FirstName,1,2) = 'Jo')");
    EXPECT_EQ(example("PPL:FirstName", "~Jo*"), "(SUB(PPL:FirstName,1,2) ~= 'Jo')");
    // Single quotes doubled, the whole enclosed in quotes.
    EXPECT_EQ(example("PPL:FirstName", "O'Brien"), "(PPL:FirstName = 'O''Brien')");
    EXPECT_EQ(example("PPL:FirstName", "*O'B"), "(INSTRING('O''B',PPL:FirstName,1,1) <> 0)");
    // Number fields take a number bare and anything else quoted, so that typed text cannot close
    // the term and undo the browse's other filters.
    EXPECT_EQ(example("PPL:SysId", "-2.5"), "(PPL:SysId = -2.5)");
    EXPECT_EQ(example("PPL:SysId", "1) OR (1"), "(PPL:SysId = '1) OR (1')");
}

TEST(QueryFilter, BoundsAndSeveralFields) {
    EXPECT_EQ(filterOf("PPL:SysId", "3", "", "9"), "(PPL:SysId > 3) AND (PPL:SysId < 9)");
    EXPECT_EQ(filterOf("PPL:SysId", "=3", "", "=9"), "(PPL:SysId >= 3) AND (PPL:SysId <= 9)");
    EXPECT_EQ(filterOf("PPL:SysId", "3", "3", ""), "(PPL:SysId >= 3)") << "a bound equal to the example";
    EXPECT_EQ(filterOf("UPPER(PPL:LastName)", "b", "x", "d"),
              "(UPPER(PPL:LastName) > 'B') AND (UPPER(PPL:LastName) < 'D')")
        << "with bounds the example value only widens them; no-case bounds are upper-cased";

    Query q = peopleQuery();
    q.SetLimit("PPL:FirstName", "  ", "   ", "");
    EXPECT_EQ(q.BuildQueryFilter(), "") << "blanks are nothing typed";
    q.SetLimit("UPPER(PPL:LastName)", "", "smith ", "");
    q.SetLimit("PPL:SysId", "10", "", "");
    EXPECT_EQ(q.BuildQueryFilter(), "(UPPER(PPL:LastName) = 'SMITH') AND (PPL:SysId > 10)");
}

// Every shape of term compiles in the view language and selects what the user meant.
TEST(QueryFilter, TheViewLanguageReadsEveryTerm) {
    Layout l;
    l.add("PPL:LastName", FieldType::String, 20);
    l.add("PPL:FirstName", FieldType::String, 20);
    l.add("PPL:SysId", FieldType::Long);
    Record r(l);
    r.set("PPL:LastName", Value("Johnson"));
    r.set("PPL:FirstName", Value("O'Brien"));
    r.set("PPL:SysId", Value(7));
    NameResolver names = [&](std::string_view n) -> std::optional<FieldRef> {
        int i = r.layout().find(n);
        if (i < 0) return std::nullopt;
        return r.ref(i);
    };
    struct Case {
        std::string field, low, example, high;
        bool holds;
    };
    const std::vector<Case> cases = {
        {"UPPER(PPL:LastName)", "", "*ON", "", true},
        {"UPPER(PPL:LastName)", "", "~jo*", "", false},
        {"UPPER(PPL:LastName)", "", "<~k", "", false},
        {"UPPER(PPL:LastName)", "", "<~=j", "", true},
        {"UPPER(PPL:LastName)", "", "><x", "", true},
        {"PPL:FirstName", "", "^o'brien", "", true},
        {"PPL:FirstName", "", "o'brien", "", false},
        {"PPL:FirstName", "", "*'B", "", true},
        {"PPL:SysId", "7", "7", "9", true},
        {"PPL:SysId", "7", "", "9", false},
        {"PPL:SysId", "", "7*", "", true},
        {"PPL:SysId", "", "1) OR (1", "", false},
    };
    for (const Case& c : cases) {
        Query q = peopleQuery();
        q.SetLimit(c.field, c.low, c.example, c.high);
        const std::string text = q.BuildQueryFilter();
        Expression e;
        ASSERT_TRUE(e.compile(text, names)) << text << ": " << e.compileError().message;
        EXPECT_EQ(e.isTrue(), c.holds) << text;
    }
}

// ---- on a real browse ----

namespace {

// The query with what the user typed, confirmed without its window.
struct TypedQuery : Query {
    int asked = 0;
    std::uint8_t answer = 1;
    std::uint8_t Ask() override {
        ++asked;
        return answer;
    }
};

// People whose names hold "on" in any case, and some that do not.
const char* const Names[] = {"Johnson", "Smith", "BONE", "Ong", "Brown", "Wilson", "Baker", "Moon"};

void addPeople(Rig& rig) {
    int id = 0;
    for (const char* n : Names) {
        rig.file.record.clear();
        rig.file.record.set("PPL:SysId", Value(++id));
        rig.file.record.set("PPL:LastName", Value(n));
        rig.file.record.set("PPL:CustId", Value(id % 3 + 1));
        sorv::add(rig.file);
    }
}

bool hasQueryFilter(const SortOrder& o) {
    for (const FilterEntry& e : o.FILTER)
        if (e.ID == FilterQuery) return true;
    return false;
}

// Runs `test` on a browse of the people with a typed query as its query.
void withQuery(const std::function<void(Rig&, TypedQuery&)>& test) {
    withRig(0, [&](Rig& rig) {
        addPeople(rig);
        TypedQuery q;
        q.AddBrowseFields(rig.browse);
        rig.browse.QUERY = &q;
        test(rig, q);
    });
}

// The user asks the query for one field's example, through the browse.
void locate(Rig& rig, TypedQuery& q, const std::string& field, const std::string& example) {
    q.SetLimit(field, "", example, "");
    rig.browse.HandleLocate();
    rig.pump();
}

} // namespace

TEST(QueryBrowse, FieldsComeFromTheColumns) {
    withRig(0, [](Rig& rig) {
        Query q;
        q.AddBrowseFields(rig.browse);
        ASSERT_EQ(q.FIELDS.size(), 3u);
        EXPECT_EQ(q.FIELDS[0].NAME, "PPL:SysId");
        EXPECT_EQ(q.FIELDS[0].TYPE, "N");
        EXPECT_EQ(q.FIELDS[1].NAME, "UPPER(PPL:LastName)") << "a text component of a no-case key";
        EXPECT_EQ(q.FIELDS[1].TYPE, "S");
        EXPECT_EQ(q.FIELDS[1].TITLE, "LastName");
        q.AddBrowseFields(rig.browse);
        EXPECT_EQ(q.FIELDS.size(), 3u) << "a field is offered once";
    });
}

TEST(QueryBrowse, StarOnFindsLowerCaseAndCombinesWithTheStandardFilter) {
    withQuery([](Rig& rig, TypedQuery& q) {
        rig.start();
        ASSERT_EQ(rig.ids().size(), 8u);

        locate(rig, q, "UPPER(PPL:LastName)", "*ON");
        EXPECT_EQ(rig.ids(), (std::vector<int>{1, 3, 4, 6, 8})) << "Johnson, BONE, Ong, Wilson, Moon";
        EXPECT_EQ(rig.browse.filterText(), "((INSTRING('ON',UPPER(PPL:LastName),1,1) <> 0))");

        rig.browse.SetNamedFilter("PPL:SysId > 3");
        rig.window.Reset(true);
        rig.pump();
        EXPECT_EQ(rig.ids(), (std::vector<int>{4, 6, 8})) << "both filters hold";

        // A cancelled query leaves the filter alone.
        q.answer = 0;
        locate(rig, q, "UPPER(PPL:LastName)", "");
        EXPECT_EQ(rig.ids(), (std::vector<int>{4, 6, 8}));

        // An empty query removes its entry; the standard filter stays.
        q.answer = 1;
        rig.browse.HandleLocate();
        rig.pump();
        EXPECT_FALSE(hasQueryFilter(rig.browse.current()));
        EXPECT_EQ(rig.browse.filterText(), "(PPL:SysId > 3)");
        EXPECT_EQ(rig.ids(), (std::vector<int>{4, 5, 6, 7, 8}));
        EXPECT_EQ(q.asked, 3);
    });
}

TEST(QueryBrowse, SharedAcrossOrdersOrOnTheCurrentOne) {
    withQuery([](Rig& rig, TypedQuery& q) {
        const int byName = rig.browse.AddSortOrder(KeyName);
        const int bySysId = 2; // the rig's order
        rig.browse.SelectSortOrder(bySysId);
        rig.start();

        locate(rig, q, "PPL:SysId", "<=4");
        EXPECT_EQ(rig.ids(), (std::vector<int>{1, 2, 3, 4}));
        EXPECT_FALSE(hasQueryFilter((*rig.browse.ORDER)[byName - 1])) << "only the current order";

        rig.browse.QUERYSHARED = 1;
        locate(rig, q, "PPL:SysId", ">=5");
        EXPECT_EQ(rig.browse.currentOrder() + 1, bySysId) << "the current order is current again";
        EXPECT_EQ(rig.ids(), (std::vector<int>{5, 6, 7, 8}));
        for (const SortOrder& o : *rig.browse.ORDER) EXPECT_TRUE(hasQueryFilter(o));

        rig.browse.ApplySortChoice(byName, false);
        rig.pump();
        EXPECT_EQ(rig.ids(), (std::vector<int>{7, 5, 8, 6})) << "Baker, Brown, Moon, Wilson";

        q.Reset();
        rig.browse.HandleLocate();
        rig.pump();
        for (const SortOrder& o : *rig.browse.ORDER) EXPECT_FALSE(hasQueryFilter(o));
        EXPECT_EQ(rig.ids().size(), 8u);
    });
}

TEST(QueryBrowse, AFilterTheViewRefusesIsReportedAndTakenBack) {
    withQuery([](Rig& rig, TypedQuery& q) {
        rig.browse.QUERYSHARED = 1;
        rig.browse.AddSortOrder(KeyName);
        rig.browse.SelectSortOrder(2);
        rig.start();
        locate(rig, q, "PPL:SysId", "<3");
        ASSERT_EQ(rig.ids(), (std::vector<int>{1, 2}));

        // "~<>=" can never hold: the view refuses it with its message.
        q.SetLimit("PPL:SysId", "", "~<>=3", "");
        {
            BoxAnswers boxes({win::button::Ok});
            rig.browse.HandleLocate();
            rig.pump();
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].title, "View Open Error");
        }
        EXPECT_EQ(rig.ids(), (std::vector<int>{1, 2})) << "the list shows what it showed";
        EXPECT_FALSE(rig.browse.readsNothing());
        for (const SortOrder& o : *rig.browse.ORDER) {
            ASSERT_TRUE(hasQueryFilter(o));
            EXPECT_EQ(o.FILTER.back().FILTER, "(PPL:SysId < 3)") << "every order has its earlier filter";
        }
    });
}

// ---- the window ----

namespace {

using sorv::test::waitUntil;

// The shown query window (GUI thread); a closed one may linger until it is deleted.
QWidget* queryWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->accessibleName() == "Example values" && w->isVisible()) return w;
    return nullptr;
}

template <class W> W* inQueryWindow(const char* name) {
    QWidget* top = queryWindow();
    if (!top) return nullptr;
    for (W* w : top->findChildren<W*>())
        if (w->accessibleName() == name) return w;
    return nullptr;
}

bool queryWindowShown() {
    return win::onGui([] { return queryWindow() != nullptr; });
}

// Shown and filled: its OK button is live.
bool queryWindowReady() {
    return win::onGui([] {
        auto* ok = inQueryWindow<QPushButton>("OK");
        return ok && ok->isEnabled();
    });
}

// Types into an entry of the shown window.
void type(const char* entry, const char* text) {
    win::onGui([=] {
        auto* e = inQueryWindow<QLineEdit>(entry);
        ASSERT_NE(e, nullptr) << entry;
        e->setText(text);
    });
}

std::string shownText(const char* entry) {
    return win::onGui([=] {
        auto* e = inQueryWindow<QLineEdit>(entry);
        return e ? e->text().toStdString() : std::string("(none)");
    });
}

void press(const char* button) {
    win::onGui([=] {
        auto* b = inQueryWindow<QPushButton>(button);
        ASSERT_NE(b, nullptr) << button;
        b->click();
    });
}

} // namespace

TEST(QueryWindow, TypedEntriesOkAndCancel) {
    withRig(0, [](Rig& rig) {
        addPeople(rig);
        Query q;
        q.AddBrowseFields(rig.browse);
        rig.browse.QUERY = &q;
        rig.start();

        // OK: the typed entries become the query and the browse shows what they select.
        std::thread user([] {
            ASSERT_TRUE(waitUntil(queryWindowReady));
            type("Example value of LastName", "*on");
            type("High bound of SysId", "=6");
            press("OK");
        });
        rig.browse.HandleLocate();
        user.join();
        rig.pump();
        EXPECT_EQ(q.FIELDS[1].MIDDLE, "*on");
        EXPECT_EQ(q.FIELDS[0].HIGH, "=6");
        EXPECT_EQ(rig.ids(), (std::vector<int>{1, 3, 4, 6}));
        EXPECT_FALSE(queryWindowShown()) << "the window closed";

        // Cancel: the window showed the confirmed entries; what was typed is dropped.
        std::string shown;
        std::thread again([&] {
            ASSERT_TRUE(waitUntil(queryWindowReady));
            shown = shownText("Example value of LastName");
            type("Example value of LastName", "Smith");
            press("Cancel");
        });
        EXPECT_EQ(q.Ask(), 0);
        again.join();
        EXPECT_EQ(shown, "*on");
        EXPECT_EQ(q.FIELDS[1].MIDDLE, "*on");

        // The close box is a cancel too.
        std::thread closer([] {
            ASSERT_TRUE(waitUntil(queryWindowReady));
            type("Example value of LastName", "Smith");
            win::onGui([] { queryWindow()->close(); });
        });
        rig.browse.HandleLocate();
        closer.join();
        rig.pump();
        EXPECT_EQ(q.FIELDS[1].MIDDLE, "*on");
        EXPECT_EQ(rig.ids(), (std::vector<int>{1, 3, 4, 6}));
    });
}
