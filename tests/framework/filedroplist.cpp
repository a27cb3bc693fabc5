// The file drop list on a real form over a real table: the form's entry chosen in the filled list
// (the first one when no record has its value), a row clicked with the mouse copied into the form
// at once, no second read while nothing changed, and a record deleted since the fill never
// handing its neighbour's values to the form.
#include "framework/filedroplist.h"
#include "browse_rig.h"
#include "tests/windowing/harness.h"
#include "windowing/listbox.h"

#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::runWithDesktop;

namespace {

constexpr int NameEntry = 20, IdEntry = 21;
constexpr const char* Caption = "Pick a Person";

struct CountingDrop : FileDropList {
    int checked = 0; // records read by fills
    std::uint8_t CheckRecordInView() override {
        ++checked;
        return FileDropList::CheckRecordInView();
    }
};

struct DropForm : WindowManager {
    Record form{[] {
        Layout l;
        l.add("FORM:Name", FieldType::String, 20);
        l.add("FORM:Id", FieldType::Long);
        return l;
    }()};
    std::string listText = "@s20";
    std::string listFormat;
    Level Init() override {
        WindowManager::Init();
        win::WindowSpec design;
        design.caption = Caption;
        design.at = {0, 0, 240, 160};
        win::ControlSpec& list = design.add("LIST", List, {4, 4, 140, 100}, listText);
        list.format = listFormat;
        win::ControlSpec& name = design.add("ENTRY", NameEntry, {150, 4, 80, 12});
        name.use = form.ref("FORM:Name");
        name.picture = "@s20";
        win::ControlSpec& id = design.add("ENTRY", IdEntry, {150, 20, 80, 12});
        id.use = form.ref("FORM:Id");
        id.picture = "@n6";
        return WINDOW.open(design) ? LevelNone : LevelFatal;
    }
};

struct DropRig {
    TempDir dir;
    FileDecl file;
    std::unique_ptr<FileViewTable> table;
    std::unique_ptr<View> view;
    ErrorManager errors;
    std::unique_ptr<PlainViewPrimary> primary;
    Queue queue{[] {
        Layout q;
        q.add("DRP:LastName", FieldType::String, 20);
        q.add("DRP:Position", FieldType::String, 512);
        return q;
    }()};
    DropForm window;
    CountingDrop drop;

    // People 1..records named N0001...; the form starts with `name`.
    DropRig(int records, const std::string& name, std::string format = "80L(2)|M~Last Name~@s20@") {
        errors.Init();
        file = peopleDecl(dir.file("PEOPLE"));
        create(file);
        share(file);
        for (int i = 1; i <= records; ++i) add(i);
        table = std::make_unique<FileViewTable>(file);
        view = std::make_unique<View>(*table, ViewTraceSettings{});
        primary = std::make_unique<PlainViewPrimary>(file, errors);
        window.listFormat = std::move(format);
        window.form.set("FORM:Name", Value(name));
        EXPECT_EQ(window.Init(), LevelNone);
        drop.Init(List, queue.field("DRP:Position"), *view, queue, *primary, window);
        drop.AddSortOrder(KeyName);
        drop.AddField(queue.field("DRP:LastName"), file.record.ref("PPL:LastName"));
        drop.AddUpdateField(window.form.ref("FORM:Name"), file.record.ref("PPL:LastName"));
        drop.AddUpdateField(window.form.ref("FORM:Id"), file.record.ref("PPL:SysId"));
        window.AddItem(&drop);
    }
    ~DropRig() {
        window.Kill();
        if (file.isOpen()) close(file);
    }
    void add(int id) {
        file.record.clear();
        file.record.set("PPL:SysId", Value(id));
        file.record.set("PPL:LastName", Value(nameOf(id)));
        file.record.set("PPL:CustId", Value(1));
        sorv::add(file);
    }
    // The window opens: its events go through the window manager until none is left.
    void pump() {
        win::Event e;
        window.WINDOW.post(win::event::Notify);
        while (window.WINDOW.accept(e)) {
            if (e.code == win::event::Notify && e.control == 0) return;
            window.EVENT = e;
            if (window.HandleEvent() != LevelNotify) window.WINDOW.defaultAction(e);
        }
    }
    void open() {
        window.WINDOW.post(win::event::OpenWindow);
        pump();
    }
    int selected() { return std::stoi(window.WINDOW.property(List, win::listprop::Selected)); }
    std::string shownName() { return std::string(clipRight(window.WINDOW.text(NameEntry))); }
    std::int64_t formId() { return window.form.get("FORM:Id").toLong(); }
    // A left click on the row with the mouse, as the user picks an entry.
    void click(int row) {
        win::onGui([&] {
            auto* list = sorv::test::findWidget(Caption)->findChild<win::ListBox*>();
            ASSERT_TRUE(list);
            const QPoint at = list->cellRect(row, 1).center();
            for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent m(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
                QApplication::sendEvent(list->viewport(), &m);
            }
        });
        pump();
    }
};

TEST(FileDropList, TheFormsEntryOrTheFirstIsChosenAndAClickedRowFillsTheFormAtOnce) {
    struct Case {
        const char* formName;
        std::uint8_t defaultFill;
        int selected;     // the entry chosen after the fill
        const char* name; // what the form shows then
        int id;           // and holds
    };
    const Case cases[] = {
        {"N0007", 1, 7, "N0007", 99},   // the form's value names entry 7; the form keeps its own id
        {"Nobody", 1, 1, "N0001", 1},   // no such record: the first entry is taken into the form
        {"Nobody", 0, 0, "Nobody", 99}, // without DEFAULTFILL nothing is chosen or changed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formName + std::string(" fill ") + std::to_string(c.defaultFill));
        runWithDesktop([&] {
            DropRig rig(30, c.formName);
            rig.drop.DEFAULTFILL = c.defaultFill;
            rig.window.form.set("FORM:Id", Value(99));
            rig.window.WINDOW.display();
            rig.open();
            ASSERT_EQ(rig.queue.records(), 30);
            EXPECT_EQ(rig.selected(), c.selected);
            EXPECT_EQ(rig.shownName(), c.name);
            EXPECT_EQ(rig.formId(), c.id);
            // The list shows a scroll bar only because it holds more rows than it shows.
            EXPECT_EQ(rig.window.WINDOW.property(List, win::listprop::VScroll), "1");

            // A row clicked: the form shows its record at once, nothing saved or closed.
            rig.click(3);
            EXPECT_EQ(rig.selected(), 3);
            EXPECT_EQ(rig.shownName(), "N0003");
            EXPECT_EQ(rig.formId(), 3);
        });
    }
}

TEST(FileDropList, ReadsAgainOnlyWhenForcedOrItsRangeChanged) {
    runWithDesktop([] {
        DropRig rig(12, "N0002");
        Record limit{[] {
            Layout l;
            l.add("LIM:Cust", FieldType::Long);
            return l;
        }()};
        limit.set("LIM:Cust", Value(1));
        // Customer 1's people in name order (every one of them has customer 1).
        rig.drop.AddSortOrder(KeyCust);
        rig.drop.AddRange(rig.file.record.ref("PPL:CustId"), limit.ref("LIM:Cust"));
        rig.open();
        ASSERT_EQ(rig.queue.records(), 12);
        const int firstRead = rig.drop.checked;
        EXPECT_EQ(firstRead, 12);
        // The window reset, the list reopened, a second open event: nothing is read again.
        rig.window.Reset(false);
        rig.drop.FillQueue(false);
        rig.open();
        EXPECT_EQ(rig.drop.checked, firstRead);
        EXPECT_EQ(rig.selected(), 2);
        // A forced reset reads again; so does a new range, which here leaves nobody.
        rig.window.Reset(true);
        EXPECT_EQ(rig.drop.checked, 2 * firstRead);
        limit.set("LIM:Cust", Value(2));
        rig.drop.FillQueue(false);
        EXPECT_EQ(rig.queue.records(), 0);
        EXPECT_EQ(rig.selected(), 0);
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listprop::VScroll), "0");
    });
}

TEST(FileDropList, AnEntryWhoseRecordWasDeletedClearsTheFormAndAListWithoutFormatGetsOneColumn) {
    runWithDesktop([] {
        DropRig rig(5, "N0001", "");
        EXPECT_EQ(rig.window.WINDOW.property(List, win::listprop::Format), "124L@s20@");
        rig.window.form.set("FORM:Id", Value(77));
        rig.open();
        ASSERT_EQ(rig.queue.records(), 5);
        // Record 3 goes after the fill; its entry is still shown and is then chosen.
        rig.file.record.set("PPL:SysId", Value(3));
        sorv::get(rig.file, KeySysId);
        ASSERT_EQ(errorCode(), 0);
        deleteRecord(rig.file);
        ASSERT_EQ(errorCode(), 0);
        rig.click(3);
        EXPECT_EQ(rig.shownName(), "") << "not the values of the record that follows it";
        EXPECT_EQ(rig.formId(), 0);
        rig.click(4);
        EXPECT_EQ(rig.shownName(), "N0004");
    });
}

} // namespace
