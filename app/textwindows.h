// The notes window ("Sorvex Demo Notes...", over "SorvDemo.TXT") and the quotes window (over
// "SorveQts.TXT"): one resizable window with a text box of 32000 characters each.
#pragma once

namespace sorv::app {

inline constexpr int TextBoxControl = 1;

extern const char* const NotesResource;  // module SORVD011
extern const char* const QuotesResource; // module SORVD012

void registerTextWindows();

// The procedures the Help menu starts (the notes also open by themselves at every start).
void DemoNotes();
void UserQuotes();

} // namespace sorv::app
