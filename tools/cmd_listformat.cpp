// sorvtool listformat: a list format string as the list control reads it back, with its columns;
// --check prints the check's failing position. Dialog units are taken 1:1 as pixels.
#include "runtime/listformat.h"
#include "tools/command.h"

#include <iostream>

namespace {

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

int run(const sorvtool::Args& args) {
    if (args.size() == 2 && args[0] == "--check") {
        // The position goes to standard output for scripts; a failing format also fails the run.
        const int at = sorv::ListFormat::check(args[1]);
        std::cout << at << "\n";
        if (at == 0) return 0;
        std::cerr << "sorvtool: the list format fails at position " << at << "\n";
        return 1;
    }
    if (args.size() != 1 || args[0] == "--check")
        return sorvtool::usageError("usage: sorvtool listformat [--check] FORMAT");
    sorv::ListFormat list;
    list.setFormat(args[0]);
    // Line feeds of headers are shown as "\n" so that every line of the output is one line.
    std::cout << escaped(list.format()) << "\n" << list.fieldCount() << "\n";
    const auto& cols = list.columns();
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const auto& c = cols[i];
        std::cout << i + 1 << '\t' << c.field << '\t' << list.toDluX(c.width) << '\t'
                  << "LRCD"[c.justification()] << '\t' << list.toDluX(c.dataIndent) << '\t'
                  << "LRCD"[c.headerJustification()] << '\t' << list.toDluX(c.headerIndent) << '\t'
                  << escaped(c.header) << '\t' << c.picture << "\n";
    }
    return 0;
}

sorvtool::Command command("listformat", "sorvtool listformat [--check] FORMAT", run);

} // namespace
