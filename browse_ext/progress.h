// The list's long jobs (export, graph, report) show the program's progress window
// (windowing/progress.h), modal to the list's thread.
#pragma once
#include "windowing/progress.h"

namespace sorv::bx {

using win::ProgressWindow;
namespace progressctl = win::progressctl;

} // namespace sorv::bx
