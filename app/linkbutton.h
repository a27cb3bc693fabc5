// The "LINKBUTTON" control of the web links window: a push button that shows the program's hand
// cursor ("~harrow.cur") while the mouse is over it.
#pragma once
#include <string>

class QCursor;

namespace sorv::app {

// Registers the control type once; safe to call again.
void registerLinkButton();

// The hand cursor read from the program's resources, with the hot spot the cursor file gives.
// The arrow cursor when the file cannot be read.
QCursor handCursor();

} // namespace sorv::app
