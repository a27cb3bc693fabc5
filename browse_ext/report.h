// The list report: a Sorvex object prints its list as a report built at run time from the column
// model, one printed column per displayed list column in the list's order, with the list's font,
// justifications and indents, separators where the list has borders, and totals for the columns
// that ask for them. Either every record of the list ("View") or the page it shows ("Page"); either
// straight to the printer or through the previewer first.
//
// How a report is fitted to the paper. Every column is printed as wide as the larger of its own
// width and its header's natural width, in the list's dialog units; a bordered column adds one unit
// for its separator. The font size is tried from MAXFONTSIZE down by 2 while it is not below
// MINFONTSIZE; at a size of s points a dialog unit is 2s thousandths of an inch, and the first size
// whose columns leave room on the design's 9800 is taken, the room shared out evenly between the
// columns. When none leaves room the size below MINFONTSIZE is used (never less than 1 point) and
// the page is scaled down by the report engine so that the table still fits across.
//
// Totals are summed from the values of the list's fields, not from their display text, so a value
// too wide for its picture still counts; the sum is exact for decimal and whole numbers.
//
// Threads: all of it runs on the thread of the list's window under the runtime lock, like every
// operation of the object; the desktop is reached only through the windowing layer.
#pragma once
#include "windowing/report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorv::bx {

// The report as it is produced: what PrintList hands to PreviewReport.
struct SorvexReport {
    win::Report report;
};

// The produced pages as the previewer takes them (the preview image queue).
struct SorvexPreview {
    const win::Report* pages = nullptr;
};

// The width the report is designed for, in thousandths of an inch.
inline constexpr int ReportWidth = 9800;

// What the width calculation takes of a printed column: its width in the list's dialog units and
// whether a separator follows it.
struct PrintedColumn {
    int width = 0;
    bool border = false;
};

// The chosen font size and what follows from it.
struct ReportFit {
    int sum = 0;   // the columns' widths in dialog units, a border adding 1
    int size = 0;  // points
    int unit = 0;  // thousandths of an inch per dialog unit: 2 * size
    int spare = 0; // added to every column's width; never negative
    bool fits = false;
    // Width of the table in thousandths of an inch.
    int tableWidth(int columns) const { return sum * unit + spare * columns; }
};

ReportFit fitColumns(const std::vector<PrintedColumn>& columns, int maxSize, int minSize,
                     int width = ReportWidth);

} // namespace sorv::bx
