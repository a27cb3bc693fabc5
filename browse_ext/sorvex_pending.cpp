// The operations of the list enhancement that are not built yet. Each tells the user so when it
// is reached; an operation leaves this file for a file of its own when it is built.
#include "browse_ext/sorvex.h"

namespace sorv::bx {

void Sorvex::AdjustAllWidths() {
    notYetThere("Adjust All Widths");
}

void Sorvex::ColumnColors() {
    notYetThere("Column Colors");
}

void Sorvex::EditAttribute(std::string_view) {
    notYetThere("Header Text");
}

void Sorvex::ExportAscii() {
    notYetThere("Export to ASCII");
}

void Sorvex::ExportHtml() {
    notYetThere("Export to HTML");
}

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

void Sorvex::FormatListbox() {
    notYetThere("Format Listbox");
}

void Sorvex::Graph() {
    notYetThere("Graph");
}

void Sorvex::EditColumnNumber(std::string_view) {
    notYetThere("This setting");
}

void Sorvex::ToggleListFlag() {
    notYetThere("This list setting");
}

} // namespace sorv::bx
