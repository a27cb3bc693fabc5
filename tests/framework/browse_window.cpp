// What a browse does to its window besides the list: the Select button as the default button
// while selecting, and the wait cursor around reloads.
#include "browse_rig.h"

#include "tests/windowing/harness.h"

#include <QApplication>
#include <QCursor>
#include <gtest/gtest.h>

using namespace browsetest;
using sorv::test::runWithDesktop;

namespace {

bool waitCursorShown() {
    return win::onGui([] {
        const QCursor* c = QApplication::overrideCursor();
        return c && c->shape() == Qt::WaitCursor;
    });
}

TEST(BrowseWindow, SelectIsTheDefaultButtonOnlyWhileThereIsARecordToSelect) {
    runWithDesktop([] {
        Rig rig(0);
        ASSERT_TRUE(rig.opened);
        rig.window.REQUEST = RequestSelect;
        rig.browse.SetSelecting(true);
        rig.start();
        EXPECT_EQ(rig.window.WINDOW.property(SelectButton, win::prop::Disable), "1");
        EXPECT_EQ(rig.window.WINDOW.property(SelectButton, win::prop::Default), "0");

        rig.add(1);
        rig.add(2);
        rig.window.Reset(true);
        rig.pump();
        ASSERT_EQ(rig.ids().size(), 2u);
        EXPECT_EQ(rig.window.WINDOW.property(SelectButton, win::prop::Disable), "0");
        EXPECT_EQ(rig.window.WINDOW.property(SelectButton, win::prop::Default), "1");
        EXPECT_EQ(rig.window.WINDOW.property(InsertButton, win::prop::Default), "0");
    });
}

TEST(BrowseWindow, TheWaitCursorShowsDuringAReloadAndGoesAfterIt) {
    runWithDesktop([] {
        Rig rig(40);
        ASSERT_TRUE(rig.opened);
        int fills = 0, waited = 0;
        rig.browse.onFill = [&] {
            ++fills;
            if (waitCursorShown()) ++waited;
        };
        rig.start();
        EXPECT_GT(fills, 0);
        EXPECT_EQ(waited, fills) << "the first load reads under the wait cursor";
        EXPECT_FALSE(waitCursorShown());
        fills = waited = 0;
        rig.list(win::event::PageDown);
        EXPECT_EQ(fills, 1);
        EXPECT_EQ(waited, 0) << "a page read is quick: no cursor";
        rig.drag(30);
        EXPECT_FALSE(waitCursorShown());
    });
}

} // namespace
