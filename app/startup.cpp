// The start options and the user's folder.
#include "app/startup.h"

#include "app/demodata.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace sorv::app {

namespace {

const char* const shippedTexts[] = {"SorvDemo.TXT", "SorveQts.TXT", "Order.Frm"};

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool holdsTexts(const fs::path& dir) {
    std::error_code ec;
    return !dir.empty() && fs::is_regular_file(dir / shippedTexts[0], ec);
}

} // namespace

const char* startUsage() {
    return "usage: sorvdemo [--user-folder]\n"
           "  Without options sorvdemo works in the current folder: its tables, settings\n"
           "  (sorvdemo.INI) and text files are read and written there.\n"
           "  --user-folder  work in $XDG_DATA_HOME/sorvdemo (~/.local/share/sorvdemo), made on\n"
           "                 the first start with the demo's text files and demo tables\n"
           "  --help         print this and end\n";
}

StartOptions parseStartOptions(int argc, char** argv) {
    StartOptions o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--user-folder") == 0)
            o.userFolder = true;
        else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)
            o.help = true;
        else if (std::strncmp(a, "--", 2) == 0 && o.error.empty())
            o.error = std::string("unknown option '") + a + "'";
        // Options with one dash (-platform, -style ...) are the toolkit's own.
    }
    return o;
}

std::string userFolderPath() {
    std::string data = env("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is ignored, as desktops do.
    if (!data.empty() && data[0] == '/') return (fs::path(data) / "sorvdemo").string();
    std::string home = env("HOME");
    if (home.empty()) return {};
    return (fs::path(home) / ".local/share/sorvdemo").string();
}

std::string shippedDataFolder(const std::string& programFolder) {
    if (fs::path own = env("SORVDEMO_DATA_DIR"); holdsTexts(own)) return own.string();
    if (!programFolder.empty())
        if (fs::path beside = fs::path(programFolder) / ".." / "share" / "sorvdemo"; holdsTexts(beside))
            return fs::weakly_canonical(beside).string();
#ifdef SORV_INSTALL_DATADIR
    if (fs::path installed = SORV_INSTALL_DATADIR; holdsTexts(installed)) return installed.string();
#endif
    return {};
}

std::string seedUserFolder(const std::string& folder, const std::string& dataFolder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) return "cannot make the folder " + folder + ": " + ec.message();
    if (!dataFolder.empty())
        for (const char* name : shippedTexts) {
            const fs::path from = fs::path(dataFolder) / name, to = fs::path(folder) / name;
            if (fs::exists(to, ec) || !fs::exists(from, ec)) continue;
            fs::copy_file(from, to, ec);
            if (ec) return "cannot copy " + from.string() + " into " + folder + ": " + ec.message();
            // A copy from a read-only installation would stay read-only, and the text windows open
            // their files for writing.
            fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
        }
    const bool tables =
        fs::exists(fs::path(folder) / "CUSTOMER.QNL", ec) || fs::exists(fs::path(folder) / "PEOPLE.QNL", ec);
    if (!tables) return writeDemoData(folder, DemoDataOptions{});
    return {};
}

} // namespace sorv::app
