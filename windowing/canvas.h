// The drawing surface of the program's graphs and samples: a "CANVAS" control that paints the
// picture the program hands it (filled boxes, lines, texts in their fonts and colours, texts
// turned to read upwards) in pixels from its top left. Designed without a size it covers the
// whole client area of its window, beneath the window's other controls.
//
// The program never draws: it builds the whole picture as data (CanvasData, pushed with
// Window::setData) and the desktop paints it whenever the window needs painting, so a picture
// can be redrawn, resized or grabbed without a round trip. The texts of the picture are also its
// accessible description, one a line, so that a screen reader (and a test) reads what it shows.
#pragma once
#include "windowing/control.h"
#include "windowing/report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorv::win {

// Colours are 24-bit values with blue in the high byte and red in the low byte; -1 is none.
struct CanvasBox {
    int x = 0, y = 0, width = 0, height = 0;
    std::int32_t colour = 0;
};

// A line of the given thickness, centred on the points.
struct CanvasLine {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int thickness = 1;
    std::int32_t colour = 0;
};

// A text in its box, on a transparent background. A turned text reads upwards, from the bottom of
// its box; it is centred across the box (a plain text from the top) and along it when `centred`.
// The box places the text; a text longer than its box runs on past it rather than being cut.
struct CanvasText {
    int x = 0, y = 0, width = 0, height = 0;
    std::string text;
    ReportFont font;
    std::int32_t colour = 0;
    bool centred = false;
    bool turned = false;
};

struct CanvasData : ControlData {
    std::int32_t background = -1; // -1: the window's own
    std::vector<CanvasBox> boxes; // painted first, then the lines, then the texts
    std::vector<CanvasLine> lines;
    std::vector<CanvasText> texts;
};

// Read-only properties of a canvas: its size in pixels.
namespace canvasprop {
enum : int { Width = 0x7D01, Height = 0x7D02 };
}

// A text's natural size on the screen in a font: its advance and the font's line height, pixels.
struct TextExtent {
    int width = 0;
    int height = 0;
};
TextExtent screenTextExtent(const ReportFont& font, const std::string& text);

// The factory of "CANVAS" controls (registered with the standard types).
ControlFactory canvasControlFactory();

} // namespace sorv::win
