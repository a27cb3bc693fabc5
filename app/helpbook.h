// The program's user guide as its help: the pages of docs/guide/, built into the program, and
// which page belongs to which window.
#pragma once

namespace sorv::app {

// Gives the desktop's help the guide (once, with the program's other resources).
void registerHelpBook();

} // namespace sorv::app
