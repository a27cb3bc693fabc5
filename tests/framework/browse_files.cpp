// A browse over a table reached through its file and relation managers: the view as a user of
// the lazily opened file, priming by the file manager, messages naming the table.
#include "browse_rig.h"

#include "tests/windowing/harness.h"

#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::BoxAnswers;
using sorv::test::runWithDesktop;

namespace {

TEST(BrowseFiles, TheViewIsOneMoreUserOfTheLazilyOpenedFile) {
    runWithDesktop([] {
        Rig rig(30, 10, KeySysId, {}, true);
        ASSERT_TRUE(rig.opened);
        EXPECT_FALSE(rig.file.isOpen()) << "the procedure's open only counts";
        EXPECT_EQ(rig.files.info().USECOUNT, 1);

        rig.start();
        EXPECT_TRUE(rig.file.isOpen());
        EXPECT_EQ(rig.files.info().USECOUNT, 2);
        ASSERT_EQ(rig.ids().size(), 10u);
        EXPECT_EQ(rig.ids().front(), 1);
        rig.list(win::event::PageDown);
        EXPECT_EQ(rig.ids().front(), 11);

        // Closing the window closes the view; the file stays open for the procedure's own use.
        rig.window.Kill();
        EXPECT_EQ(rig.files.info().USECOUNT, 1);
        EXPECT_TRUE(rig.file.isOpen());
        rig.relation.Close();
        EXPECT_EQ(rig.files.info().USECOUNT, 0);
        EXPECT_FALSE(rig.file.isOpen()) << "the last user closes it";
    });
}

TEST(BrowseFiles, InsertPrimesThroughTheFileManager) {
    runWithDesktop([] {
        Rig rig(12, 10, KeySysId, {}, true);
        ASSERT_TRUE(rig.opened);
        rig.start();
        std::string seen;
        rig.window.form = [&](int, int request) {
            EXPECT_EQ(request, RequestInsert);
            seen = clipRight(rig.file.record.get("PPL:LastName").toText());
            rig.file.record.set("PPL:SysId", Value(100));
            sorv::add(rig.file);
            return ResponseDone;
        };
        rig.window.WINDOW.post(win::event::Accepted, InsertButton);
        rig.pump();
        EXPECT_EQ(rig.files.primed, 1);
        EXPECT_EQ(seen, "Primed") << "the form gets the primed record";
        EXPECT_EQ(rig.selectedId(), 100) << "the new record is selected in its place";
    });
}

TEST(BrowseFiles, FailuresAreMessagesNamingTheTable) {
    runWithDesktop([] {
        Rig rig(30, 10, KeySysId, {}, true);
        ASSERT_TRUE(rig.opened);
        rig.start();
        BoxAnswers boxes({win::button::Ok, win::button::Ok});
        rig.browse.SetNamedFilter("PPL:Nowhere = 1");
        rig.browse.ApplySortChoiceCurrent(true);
        ASSERT_GE(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].title, "View Open Error");
        EXPECT_TRUE(rig.browse.readsNothing());

        rig.browse.SetNamedFilter("");
        rig.browse.ApplySortChoiceCurrent(true);
        ASSERT_EQ(rig.ids().size(), 10u);
        const std::size_t before = boxes.shown().size();
        rig.table->failReads = true;
        EXPECT_FALSE(rig.list(win::event::PageDown)) << "a failed read closes the window";
        ASSERT_EQ(boxes.shown().size(), before + 1);
        EXPECT_EQ(boxes.shown().back().title, "Record Retrieval Error");
        EXPECT_NE(boxes.shown().back().text.find("People"), std::string::npos) << boxes.shown().back().text;
    });
}

} // namespace
