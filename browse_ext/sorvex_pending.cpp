// The operations of the list enhancement that are not built yet. Each tells the user so when it
// is reached; an operation leaves this file for a file of its own when it is built.
#include "browse_ext/sorvex.h"

namespace sorv::bx {

void Sorvex::GraphFourHourBand(std::string&) {}
void Sorvex::GraphSixHourBand(std::string&) {}
void Sorvex::GraphWeekdayName(int, std::string&) {}
void Sorvex::GraphMonthName(int, std::string&) {}

void Sorvex::GraphCategory(int, const std::string&, std::string& text) {
    text.clear(); // graph categories come with the graph
}

void Sorvex::CopyGraphImage(win::Window&) {}

void Sorvex::Preferences() {
    notYetThere("Preferences");
}

void Sorvex::Graph() {
    notYetThere("Graph");
}

} // namespace sorv::bx
