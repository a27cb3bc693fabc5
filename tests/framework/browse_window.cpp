// What a browse does to its window besides the list: the Select button as the default button
// while selecting, and the wait cursor around reloads.
#include "rig_tests.h"

#include "tests/windowing/harness.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
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
    withRig(0, [](Rig& rig) {
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
    withRig(40, [](Rig& rig) {
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

TEST(BrowseWindow, AFailedReadDuringAReloadIsOneMessageShownWithThePointer) {
    withRig(30, [](Rig& rig) {
        rig.start();
        int shape = -1;
        sorv::test::BoxAnswers boxes;
        boxes.onShown = [&](QMessageBox* box) {
            const QCursor* c = QApplication::overrideCursor();
            shape = c ? c->shape() : -2;
            QMetaObject::invokeMethod(
                box, [box] { sorv::test::clickBoxButton(box, win::button::Ok); }, Qt::QueuedConnection);
        };
        rig.table->failReads = true;
        rig.browse.ApplySortChoiceCurrent(true); // the reload's first read fails
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].title, "Record Retrieval Error");
        EXPECT_EQ(shape, Qt::ArrowCursor);
        EXPECT_FALSE(waitCursorShown()) << "both cursors are gone after the reload";
        EXPECT_EQ(win::onGui([] { return QApplication::overrideCursor() != nullptr; }), false);
    });
}

} // namespace
