// Locators and thumb steps on a real browse over a real People table: key presses that jump and
// walk, typed text (on the list and in the entry control), the filter locator's rows (quotes in
// the typed text included), and thumb drags that round-trip over the table's first and last keys.
#include "browse_rig.h"

#include "tests/windowing/harness.h"
#include "windowing/desktop.h"

#include <QApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::runWithDesktop;

namespace {

constexpr int Shift = 0x100, Backspace = 0x08;

const std::vector<std::string> People = {"Adams", "Baker",  "Carter", "Johnson", "O'Brien", "Obst",
                                         "Smith", "Smythe", "Snow",   "Stone",   "Taylor",  "Young"};

// A rig over the names above in name order, showing `visible` rows.
struct NameRig : Rig {
    explicit NameRig(int visible) : Rig(0, visible, KeyName) {
        for (std::size_t i = 0; i < People.size(); ++i) addNamed(static_cast<int>(i) + 1, People[i]);
    }
    std::string selectedName() {
        int c = browse.CURRENTCHOICE;
        return c >= 1 && c <= queue->records() ? std::string(clipRight(queue->value(c, 2).toText())) : "";
    }
    void type(const std::string& keys) {
        for (char c : keys) key(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c >= 'A' && c <= 'Z' ? c | Shift : c);
    }
    // Types on the list widget as the keyboard does, one key press per character (Qt's key of a
    // Latin-1 character is its capital's code).
    void typeOnList(const std::string& text) {
        win::onGui([&] {
            QWidget* list = sorv::test::findWidget("Browsing Records", "sorv::win::ListBox");
            ASSERT_TRUE(list);
            for (QChar ch : QString::fromStdString(text)) {
                QKeyEvent press(QEvent::KeyPress, ch.toUpper().unicode(),
                                ch.isUpper() ? Qt::ShiftModifier : Qt::NoModifier, QString(ch));
                QApplication::sendEvent(list, &press);
            }
        });
        pump();
    }
    void accept(const std::string& text) {
        window.WINDOW.setText(LocatorEntry, text);
        window.WINDOW.post(win::event::Accepted, LocatorEntry);
        pump();
    }
    bool entryEnabled() { return window.WINDOW.property(LocatorEntry, win::prop::Disable) != "1"; }
    // A locator on the last name, showing its text in `control`, taken by the browse.
    void install(Locator& locator, int control = LocatorEntry) {
        locator.Init(control, file.record.ref("PPL:LastName"), true, browse);
        browse.AddLocator(&locator);
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST(Locators, StepLocatorJumpsAndWalks) {
    runWithDesktop([] {
        NameRig rig(3);
        ASSERT_TRUE(rig.opened);
        rig.addNamed(13, "Smith");
        StepLocator loc;
        rig.install(loc, 0);
        rig.start();
        ASSERT_EQ(rig.names(), (Names{"Adams", "Baker", "Carter"}));
        rig.type("s");
        EXPECT_EQ(rig.selectedId(), 7) << "the first record starting with S";
        EXPECT_EQ(rig.names(), (Names{"Smith", "Smith", "Smythe"}));
        // Already on an S: the next press moves one row down instead of jumping, also onto a
        // record with the same name.
        rig.type("s");
        EXPECT_EQ(rig.selectedId(), 13);
        EXPECT_EQ(rig.browse.CURRENTCHOICE, 2);
        rig.type("s");
        EXPECT_EQ(rig.selectedName(), "Smythe");
        rig.type("S");
        EXPECT_EQ(rig.selectedName(), "Snow");
        rig.type("s");
        EXPECT_EQ(rig.selectedName(), "Stone");
        rig.type("s");
        EXPECT_EQ(rig.selectedId(), 7) << "past the last S the walk starts over";
        rig.type("z");
        EXPECT_EQ(rig.selectedName(), "Young") << "nothing at Z: the end of the order";
        EXPECT_EQ(rig.names().size(), 3u);
        rig.type("1");
        EXPECT_EQ(rig.selectedName(), "Adams") << "a digit sorts before every name";
        // Keys that type nothing are not the locator's.
        rig.key('A' | 0x200);
        EXPECT_EQ(rig.selectedName(), "Adams");
    });
}

TEST(Locators, IncrementalAndEntryLocatorsTakeTheTypedText) {
    runWithDesktop([] {
        NameRig rig(4);
        ASSERT_TRUE(rig.opened);
        IncrementalLocator inc;
        rig.install(inc);
        rig.start();
        rig.type("smy");
        EXPECT_EQ(inc.SHADOW, "smy");
        EXPECT_EQ(rig.selectedName(), "Smythe");
        EXPECT_EQ(rig.window.WINDOW.text(LocatorEntry), "smy") << "the entry shows the typed text";
        rig.key(Backspace);
        EXPECT_EQ(rig.selectedName(), "Smith");
        rig.key(Backspace);
        rig.key(Backspace);
        rig.key(Backspace); // nothing left to take off
        EXPECT_EQ(inc.SHADOW, "");
        EXPECT_EQ(rig.selectedName(), "Adams");
        rig.type(std::string(45, 'y'));
        EXPECT_EQ(inc.SHADOW.size(), MaxShadow);

        // The entry locator on a second order over the same key: the accepted text positions.
        EntryLocator entry;
        const int second = rig.browse.AddSortOrder(KeyName);
        rig.install(entry);
        rig.browse.ApplySortChoice(second, false);
        rig.pump();
        rig.accept("jo");
        EXPECT_EQ(entry.SHADOW, "jo");
        EXPECT_EQ(rig.selectedName(), "Johnson");
        const int reloads = rig.browse.reloads;
        rig.accept("jo");
        EXPECT_EQ(rig.browse.reloads, reloads) << "an unchanged text does not reload";
        rig.type("t");
        EXPECT_EQ(rig.selectedName(), "Johnson") << "keys on the list are not the entry locator's";
    });
}

TEST(Locators, EveryCharacterTypedOnTheListIsTaken) {
    const std::vector<std::string> typed = {"O'Brien", "Smith-Jones", "Zo\xC3\xAB"};
    runWithDesktop([&] {
        {
            NameRig rig(4);
            ASSERT_TRUE(rig.opened);
            rig.addNamed(13, typed[1]);
            rig.addNamed(14, typed[2]);
            IncrementalLocator inc;
            rig.install(inc);
            rig.start();
            for (const std::string& name : typed) {
                inc.Reset();
                rig.typeOnList(name);
                EXPECT_EQ(inc.SHADOW, name);
                EXPECT_EQ(rig.selectedName(), name);
            }
            rig.key(Backspace); // one whole character off, however many bytes it has
            EXPECT_EQ(inc.SHADOW, "Zo");
        }
        NameRig rig(5);
        ASSERT_TRUE(rig.opened);
        rig.addNamed(13, typed[1]);
        rig.addNamed(14, typed[2]);
        FilterLocator loc;
        rig.install(loc);
        rig.start();
        for (const auto& [keys, rows] : std::vector<std::pair<std::string, Names>>{
                 {"smith-", {"Smith-Jones"}}, {"o'b", {"O'Brien"}}, {"zo\xC3\xAB", {typed[2]}}}) {
            loc.SHADOW.clear();
            rig.typeOnList(keys);
            EXPECT_EQ(rig.names(), rows) << keys;
        }
    });
}

TEST(Locators, FilterLocatorNarrowsTheList) {
    runWithDesktop([] {
        NameRig rig(5);
        ASSERT_TRUE(rig.opened);
        FilterLocator loc;
        rig.install(loc);
        rig.start();
        rig.type("sm");
        EXPECT_EQ(rig.browse.filterText(), "(SUB(UPPER(PPL:LastName),1,2) = 'SM')");
        EXPECT_EQ(rig.names(), (Names{"Smith", "Smythe"}));
        rig.key(Backspace);
        rig.key(Backspace);
        EXPECT_EQ(rig.browse.filterText(), "(SUB(UPPER(PPL:LastName),1,0) = '')");
        EXPECT_EQ(rig.names(), (Names{"Adams", "Baker", "Carter", "Johnson", "O'Brien"}))
            << "every record passes the empty text";

        // Scrolling keeps the typed text while its filter narrows the list.
        rig.type("s");
        ASSERT_EQ(rig.names(), (Names{"Smith", "Smythe", "Snow", "Stone"}));
        rig.list(win::event::ScrollDown);
        EXPECT_EQ(loc.SHADOW, "s");
        rig.type("n");
        EXPECT_EQ(rig.names(), (Names{"Snow"}));

        // Nothing matches: the entry control is disabled until rows come back.
        rig.type("x");
        EXPECT_TRUE(rig.names().empty());
        EXPECT_FALSE(rig.entryEnabled());
        rig.key(Backspace);
        EXPECT_EQ(rig.names(), (Names{"Snow"}));
        EXPECT_TRUE(rig.entryEnabled());

        // A quote typed into the entry is doubled inside the literal.
        rig.accept("o'b");
        EXPECT_EQ(rig.browse.filterText(), "(SUB(UPPER(PPL:LastName),1,3) = 'O''B')");
        EXPECT_EQ(rig.names(), (Names{"O'Brien"}));

        // Anywhere in the field: the list starts at the top of the matches.
        loc.FLOATRIGHT = 1;
        rig.accept("on");
        EXPECT_EQ(rig.browse.filterText(), "(INSTRING('ON',UPPER(PPL:LastName),1,1) <> 0)");
        EXPECT_EQ(rig.names(), (Names{"Johnson", "Stone"}));
        EXPECT_EQ(rig.selectedName(), "Johnson");
        rig.accept("'");
        EXPECT_EQ(rig.names(), (Names{"O'Brien"}));
        rig.accept("");
        EXPECT_EQ(rig.browse.filterText(), "") << "an empty text removes the filter";
        EXPECT_EQ(rig.names().size(), 5u);
    });
}

TEST(Locators, ThumbRoundTripsOverTheTablesFirstAndLastKeys) {
    runWithDesktop([] {
        // Names N0001 to N0300 in name order, a step built between the first and the last.
        Rig rig(300, 10, KeyName);
        ASSERT_TRUE(rig.opened);
        auto names = std::make_unique<StringStep>();
        names->Init(stepctl::Letters | stepctl::Digits, StepBetweenLimits);
        StringStep* s = names.get();
        rig.browse.SetThumb(std::move(names));
        rig.start();
        EXPECT_EQ(s->ROOT, "N0");
        EXPECT_EQ(rig.thumb(), 1) << "the first record";
        for (int p : {2, 17, 50, 73, 99}) {
            rig.drag(p);
            const std::string v = s->ValueAtPercent(p).toText();
            // The selected row is the first record at or after the step's value (near the end
            // the page is filled from above).
            const int first = rig.selectedId();
            ASSERT_GT(first, 0);
            EXPECT_GE(nameOf(first), std::string(clipRight(v))) << p;
            if (first > 1) {
                EXPECT_LT(nameOf(first - 1), std::string(clipRight(v))) << p;
            }
            EXPECT_GE(rig.thumb(), p);
            EXPECT_EQ(rig.thumb(), s->ThumbPercentOf(Value(nameOf(first))));
            EXPECT_EQ(s->ThumbPercentOf(Value(v)), p) << "the value maps back to its percent";
        }

        // A long step on the number key, ascending and descending.
        const int byNumber = rig.browse.AddSortOrder(KeySysId);
        auto ascending = std::make_unique<LongStep>();
        LongStep* a = ascending.get();
        rig.browse.SetThumb(std::move(ascending));
        rig.browse.ApplySortChoice(byNumber, false);
        rig.pump();
        EXPECT_EQ(a->LOW, 1);
        EXPECT_EQ(a->HIGH, 300);
        rig.drag(40);
        EXPECT_EQ(rig.selectedId(), 1 + 299 * 40 / 100);
        EXPECT_EQ(rig.thumb(), 39) << "not 1, as a quotient taken before the product gives";

        const int downwards = rig.browse.AddSortOrder(KeySysId);
        rig.browse.SetViewOrder("-PPL:SysId");
        auto descending = std::make_unique<LongStep>();
        descending->Init(stepctl::Descending);
        LongStep* d = descending.get();
        rig.browse.SetThumb(std::move(descending));
        rig.browse.ApplySortChoice(downwards, false);
        rig.pump();
        EXPECT_EQ(d->LOW, 1);
        EXPECT_EQ(d->HIGH, 300);
        rig.list(win::event::ScrollTop);
        EXPECT_EQ(rig.ids().front(), 300);
        rig.drag(25);
        EXPECT_EQ(rig.selectedId(), 1 + 299 * 75 / 100);
        EXPECT_EQ(rig.ids()[1], 299 * 75 / 100) << "in descending order";
        EXPECT_EQ(rig.thumb(), 100 - (299 * 75 / 100) * 100 / 299);
    });
}
