// The choice controls of a window: "SPIN" (a number with arrows), "OPTION" with its "RADIO"s, and
// "DROP" (a drop list of the texts its design's format gives, separated by "|").
#pragma once
#include "windowing/control.h"

namespace sorv::win {

// Registers the four types (called once with the standard types).
void registerChoiceTypes();

} // namespace sorv::win
