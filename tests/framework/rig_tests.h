// The browse rig in a test: made on the offscreen desktop's program thread and handed to the
// test once its window opened.
#pragma once
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"

#include <functional>
#include <gtest/gtest.h>

namespace browsetest {

// Runs `test` with a rig of `records` People showing `visible` rows in the order of `key`.
inline void withRig(int records, int visible, int key, const std::function<void(Rig&)>& test) {
    sorv::test::runWithDesktop([&] {
        Rig rig(records, visible, key);
        ASSERT_TRUE(rig.opened);
        test(rig);
    });
}

// Runs `test` with a rig of `records` People showing ten rows in the order of their numbers.
inline void withRig(int records, const std::function<void(Rig&)>& test) {
    withRig(records, 10, KeySysId, test);
}

} // namespace browsetest
