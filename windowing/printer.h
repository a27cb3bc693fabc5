// The printer the user chose in the printer set-up (printer, paper, orientation) and the set-up
// dialog itself. One choice serves the whole program for as long as it runs; every report made
// after the set-up was accepted goes to that printer, on that paper, that way round.
//
// Besides the desktop's printers there is always the PDF writer, which prints into a file. It is
// the choice while the desktop has no printer at all.
#pragma once
#include <string>
#include <vector>

namespace sorv::win {

namespace orientation {
enum : int { None = 0, Portrait = 1, Landscape = 2 };
}

struct PrinterChoice {
    std::string printer; // a printer of the desktop; empty for the PDF writer
    std::string file;    // where the PDF writer puts a report
    // The paper as the platform's paper code (1 letter, 5 legal, 9 A4 ...), and the orientation;
    // 0 (orientation::None) while the user has not chosen, so that a report's own paper and
    // orientation apply.
    int paper = 0;
    int orientation = orientation::None;
    friend bool operator==(const PrinterChoice&, const PrinterChoice&) = default;
};

// The PDF writer's file until the user names another.
inline constexpr const char* DefaultReportFile = "SvReport.PDF";

PrinterChoice printerChoice();
void setPrinterChoice(const PrinterChoice& choice);
// The desktop's printers by name, the default one first; empty when there is none.
std::vector<std::string> availablePrinters();

// The printer set-up dialog: printer (or the PDF writer and its file), paper and orientation. It is
// modal and the runtime lock is given up while it waits. Accepting stores the choice and answers
// true; cancelling changes nothing.
bool printerSetup();

// Names of the paper codes the set-up offers ("Letter", "A4" ...); empty for an unknown code.
std::string paperName(int paperCode);

} // namespace sorv::win
