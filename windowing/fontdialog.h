// The desktop's font dialog for program threads: a face, a size in points and a style value
// (weight 400 or 700, none for a regular italic; + 4096 italic, + 8192 underline), preset and chosen; the
// runtime lock is given up while it waits. Text colours are not chosen here: the desktop's dialog offers
// none. The style numbers are the ones lists use for their fonts (400 regular, 700 bold).
#pragma once
#include "windowing/report.h"

#include <string>

class QFont;

namespace sorv::win {

// Shows the dialog titled `title` over the window `owner` (0: the frame); true with the choice in
// `font` when the user accepted it, false (and `font` unchanged) when cancelled.
bool chooseFont(const std::string& title, ReportFont& font, int owner = 0);

// A font's style number, and a style number put on a font.
int fontStyleOf(const QFont& f);
void applyFontStyle(QFont& f, int style);

} // namespace sorv::win
