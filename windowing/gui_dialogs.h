// The desktop's own dialogs that program threads wait for, and the wait itself (private to this
// layer).
#pragma once
#include <functional>

class QWidget;

namespace sorv::win {

// Runs `show` on the GUI thread, handing it `done`, which the dialog calls once (on the GUI thread)
// with its answer; then waits for that answer with the runtime lock given up. `show` answers false
// when it could show nothing, and the wait answers `otherwise` at once (as it does without a
// desktop). Called on the GUI thread itself, it waits in a local event loop.
int waitForDialog(const std::function<bool(std::function<void(int)> done)>& show, int otherwise);

// Opens the printer set-up dialog over `parent` (GUI thread) without waiting; an accepted dialog
// stores the choice. `done` is told 1 for accepted, 0 for cancelled (or the dialog gone).
void showPrinterSetup(QWidget* parent, std::function<void(int)> done = {});

} // namespace sorv::win
