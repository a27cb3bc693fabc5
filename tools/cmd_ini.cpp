// sorvtool ini: reads, writes and deletes INI entries; an empty file name means the desktop profile.
#include "runtime/inifile.h"
#include "runtime/profile.h"
#include "tools/command.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace {

using sorvtool::Args;

const char* const synopsis =
    "sorvtool ini get FILE SECTION KEY [DEFAULT] | set FILE SECTION KEY VALUE | delete FILE SECTION [KEY]";

std::string fileOf(const std::string& arg) {
    return arg.empty() ? sorv::desktopProfilePath() : arg;
}

int runIni(const Args& args) {
    if (args.empty()) return sorvtool::usageError(std::string("usage: ") + synopsis);
    const std::string& verb = args[0];
    const std::size_t n = args.size() - 1;
    if (verb == "get") {
        if (n < 3 || n > 4) return sorvtool::usageError("usage: sorvtool ini get FILE SECTION KEY [DEFAULT]");
        if (n == 4) {
            std::cout << sorv::GETINI(args[2], args[3], args[4], args[1]) << "\n";
            return std::cout.good() ? 0 : 1;
        }
        // Without a default a missing entry is an error; no stored value holds a line break.
        const std::string missing = "\n";
        std::string value = sorv::GETINI(args[2], args[3], missing, args[1]);
        if (value == missing) {
            const std::string file = fileOf(args[1]);
            if (::access(file.c_str(), R_OK) != 0)
                std::cerr << "sorvtool: cannot read " << file << ": " << std::strerror(errno) << "\n";
            else
                std::cerr << "sorvtool: no entry \"" << args[3] << "\" in section [" << args[2] << "] of "
                          << file << "\n";
            return 1;
        }
        std::cout << value << "\n";
        return std::cout.good() ? 0 : 1;
    }
    bool ok;
    if (verb == "set") {
        if (n != 4) return sorvtool::usageError("usage: sorvtool ini set FILE SECTION KEY VALUE");
        ok = sorv::WRITEINI(args[2], std::string_view(args[3]), std::string_view(args[4]), args[1]);
    } else if (verb == "delete") {
        if (n < 2 || n > 3) return sorvtool::usageError("usage: sorvtool ini delete FILE SECTION [KEY]");
        ok = n == 3 ? sorv::WRITEINI(args[2], std::string_view(args[3]), std::nullopt, args[1])
                    : sorv::WRITEINI(args[2], std::nullopt, std::nullopt, args[1]);
    } else {
        return sorvtool::usageError("unknown ini command '" + verb + "'; usage: " + synopsis);
    }
    if (!ok) {
        std::optional<std::string_view> key, value;
        if (n >= 3) key = args[3];
        if (n == 4) value = args[4];
        std::string why = sorv::iniUnstorable(args[2], key, value);
        if (why.empty())
            std::cerr << "sorvtool: cannot write " << fileOf(args[1]) << "\n";
        else
            std::cerr << "sorvtool: " << why << "\n";
        return 1;
    }
    return 0;
}

const sorvtool::Command iniCommand("ini", synopsis, runIni);

} // namespace
