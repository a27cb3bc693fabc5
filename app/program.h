// The program entry and the process around it.
#pragma once

namespace sorv::app {

// Registers every window resource and control type of the program (once).
void registerAppResources();

// The program entry, run on the program's first thread: error manager, INI manager on
// "sorvdemo.INI", the main frame, and the tear-down in reverse.
void programEntry();

// main(): the desktop on this thread, the program entry on its first thread. Answers the exit
// status: NoDisplayStatus, with a line on standard error, when no display can be opened.
inline constexpr int NoDisplayStatus = 2;
int runSorvdemo(int argc, char** argv);

} // namespace sorv::app
