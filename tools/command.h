// The sorvtool command table. A command registers itself with a static Command object; main()
// dispatches on the first argument. Bad usage prints one line on stderr and answers exit status 2.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace sorvtool {

using Args = std::vector<std::string>;

struct Command {
    // name: the first argument; usage: the synopsis printed by "help"; run: gets the arguments
    // after the name and answers the exit status.
    Command(std::string name, std::string usage, std::function<int(const Args&)> run);
};

// Prints "sorvtool: <message>" on stderr and answers 2.
int usageError(const std::string& message);

} // namespace sorvtool
