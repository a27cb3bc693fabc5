// The levels framework operations answer, and the button values of questions.
#pragma once
#include <cstdint>

namespace sorv::fw {

enum Level : std::uint8_t {
    LevelNone = 0,    // go on normally
    LevelUser = 1,    // a question for the user
    LevelProgram = 2, // a fault of the program
    LevelFatal = 3,   // end (the event loop, or the program)
    LevelCancel = 4,  // the user said no
    LevelNotify = 5,  // handled; skip the default handling
};

} // namespace sorv::fw
