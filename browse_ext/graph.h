// The bar graph of a column: every record of the list counted into the categories of the column
// (at most 50), then drawn in a window of its own that fills the screen, one bar per category in
// the categories' text order, with its count, its percentage and its name written upwards beside
// it. Colours and font are the program-wide graph preferences, read each time the graph is drawn.
//
// The window's picture is data pushed to its canvas (windowing/canvas.h); everything in it is
// placed in pixels of the window's client area by the geometry below, which depends only on the
// area's size and the number of categories.
#pragma once
#include <cstdint>
#include <string>

namespace sorv::bx {

// The most categories a graph shows; one more ends the graph.
inline constexpr int MaxCategories = 50;

// Control numbers of the graph window.
namespace graphctl {
enum : int { Canvas = 1, Heading = 2, Filter = 3, Ok = 4, Preferences = 5, Output = 6 };
}

// Where the bars go in a client area of width x height pixels, for n categories (n > 0).
// Divisions drop the fraction.
struct GraphGeometry {
    int slot = 0; // with fewer than six categories, the room of one bar and its gap
    int gap = 0;
    int barWidth = 0;
    int x0 = 0;   // left edge of the first bar
    int base = 0; // the base line's y; bars stand on base + 2
    // Left edge of bar i (from 1).
    int barX(int i) const { return x0 + (i - 1) * (barWidth + gap); }
    // Height of a bar counting `count` when the largest counts `largest`.
    int barHeight(std::int64_t count, std::int64_t largest) const {
        return largest > 0 ? int(count * (base - 30) / largest) : 0;
    }
    int baseLineLength(int n) const { return n * (barWidth + gap) - gap + 1; }
};
GraphGeometry graphGeometry(int width, int height, int categories);

// The percentage label of a category: count * 100 / records read with one decimal, shown with it
// when the bars are wide (bar width plus gap over 25 pixels), else as a whole number.
std::string percentLabel(std::int64_t count, std::int64_t read, bool wide);

} // namespace sorv::bx
