// sorvtool entry: the command table and "help".
#include "tools/command.h"

#include <iostream>
#include <map>

namespace sorvtool {

namespace {
struct Entry {
    std::string usage;
    std::function<int(const Args&)> run;
};
std::map<std::string, Entry>& table() {
    static std::map<std::string, Entry> t;
    return t;
}
} // namespace

Command::Command(std::string name, std::string usage, std::function<int(const Args&)> run) {
    table()[std::move(name)] = Entry{std::move(usage), std::move(run)};
}

int usageError(const std::string& message) {
    std::cerr << "sorvtool: " << message << "\n";
    return 2;
}

} // namespace sorvtool

int main(int argc, char** argv) {
    using namespace sorvtool;
    Args args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given; try 'sorvtool help'");
    if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        std::cout << "sorvtool, the command-line companion of sorvdemo\n\ncommands:\n";
        std::cout << "  sorvtool help\n";
        for (const auto& [name, entry] : table()) std::cout << "  " << entry.usage << "\n";
        return 0;
    }
    auto it = table().find(args[0]);
    if (it == table().end()) return usageError("unknown command '" + args[0] + "'; try 'sorvtool help'");
    return it->second.run(Args(args.begin() + 1, args.end()));
}
