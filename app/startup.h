// What sorvdemo does with its command line before the desktop starts: the folder it works in, and
// the user's own folder that a start from the desktop's menu uses, made and seeded on first use.
#pragma once
#include <string>

namespace sorv::app {

struct StartOptions {
    bool userFolder = false; // --user-folder: work in userFolderPath()
    bool help = false;       // --help: print the usage and end
    std::string error;       // an option not understood (one-dash options are left to Qt)
};
StartOptions parseStartOptions(int argc, char** argv);
const char* startUsage();

// $XDG_DATA_HOME/sorvdemo, or ~/.local/share/sorvdemo; "" when neither variable says where.
std::string userFolderPath();

// The folder of the demo's shipped text files: $SORVDEMO_DATA_DIR, else share/sorvdemo beside
// the program's own folder (as installed, and as the build tree mirrors it), else the installed
// data folder; "" when none holds them.
std::string shippedDataFolder(const std::string& programFolder);

// Makes `folder` when missing and seeds what it lacks: the text files from `dataFolder` and, when
// neither table is there, the demo tables. Files already there are never replaced. Answers "" or
// what went wrong. Runs before the program's threads exist (the demo data changes directory).
std::string seedUserFolder(const std::string& folder, const std::string& dataFolder);

} // namespace sorv::app
