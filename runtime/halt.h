// Ending the program at once (the language's HALT): handlers that must run first, such as closing
// open files, and the exit with a status.
#pragma once
#include <functional>
#include <string_view>

namespace sorv {

// Registers a step of the halt; steps run last registered first. Answers an id for removal.
int addHaltHandler(std::function<void()> handler);
void removeHaltHandler(int id);
// Writes `text` (when not empty) to standard error, runs the halt steps, and ends the process
// with `status` without running static destructors (other threads may still be running).
[[noreturn]] void halt(int status, std::string_view text = {});

} // namespace sorv
