// The program's globals and the opening steps its windows share.
#include "app/globals.h"

#include "app/dictionary.h"

namespace sorv::app {

std::uint8_t GlobalRequest = 0;
std::uint8_t GlobalResponse = 0;
std::int32_t GlobalToolbarRequest = 0;

fw::Level openProcedureWindow(fw::WindowManager& manager, const char* resource, int firstField) {
    manager.REQUEST = GlobalRequest;
    fw::Level level = manager.fw::WindowManager::Init();
    if (level != fw::LevelNone) return level;
    manager.FIRSTFIELD = firstField;
    manager.VCRREQUEST = &GlobalToolbarRequest;
    manager.ERRORS = &GlobalErrors();
    GlobalRequest = 0;
    GlobalResponse = 0;
    if (!manager.WINDOW.open(resource)) return fw::LevelFatal;
    manager.OPENED = 1;
    return fw::LevelNone;
}

} // namespace sorv::app
