// The program's globals (the error manager is the dictionary's, GlobalErrors()): the request and
// response a procedure passes to the next one, the toolbar request every window is given, and the
// opening steps the program's windows share.
#pragma once
#include "framework/errormanager.h"
#include "framework/levels.h"
#include "framework/windowmanager.h"

#include <cstdint>

namespace sorv::app {

// Every window clears both once it has opened.
extern std::uint8_t GlobalRequest;
extern std::uint8_t GlobalResponse;
extern std::int32_t GlobalToolbarRequest;

// The Init steps of the frame and the windows it starts: the global request becomes the
// manager's, the general Init runs, the manager gets the toolbar request and the error manager,
// the globals are cleared and the window opens from its resource. Answers the failing level
// (LevelFatal when the window cannot be opened), LevelNone once the window is open.
fw::Level openProcedureWindow(fw::WindowManager& manager, const char* resource, int firstField = 0);

} // namespace sorv::app
