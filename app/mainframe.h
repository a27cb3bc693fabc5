// The main frame procedure: the MDI frame whose menu starts the program's windows and whose
// toolbar buttons go to the active child window's thread.
#pragma once
#include <functional>

namespace sorv::app {

extern const char* const AppFrameResource; // "P1$APPFRAME" of "sorvdemo$SORVD001"

void registerFrameWindow();

// Runs the frame until the user closes it.
void Main();

// What the frame does with a toolbar button: posts it to the thread of the active MDI child when
// that is a started thread other than the calling one, and answers that slot; -1 when dropped.
// There the child's toolbar manager hands it to its current browse or form target, which also
// sets the buttons' tips and enabled states; a child without one lets the button go.
int forwardToolbarButton(int control);

// Starts the procedure of a menu item on a thread of its own; the slot, or -1 when the item
// starts nothing (yet) or no thread slot is free.
int startMenuProcedure(int control);

// Test hook: told of every toolbar button the frame receives and where it went (the slot it was
// posted to, -1 when it was dropped).
void setToolbarButtonObserver(std::function<void(int control, int forwardedTo)> observer);

} // namespace sorv::app
