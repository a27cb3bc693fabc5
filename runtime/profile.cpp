// The desktop profile's location and the profile functions over it.
#include "runtime/profile.h"

#include "runtime/inifile.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorv {

namespace {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return ".";
}

// Creates the directories above path that are missing (the first write creates the profile).
void makeParentDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return;
    }
}

} // namespace

std::string desktopProfilePath() {
    if (const char* env = std::getenv("SORVDEMO_DESKTOP_PROFILE"); env && *env) return env;
    return homeDirectory() + "/.config/sorvdemo/desktop.ini";
}

std::string getProfileString(std::string_view section, std::string_view key, std::string_view def) {
    return getPrivateProfileString(desktopProfilePath(), section, key, def);
}

long getProfileInt(std::string_view section, std::string_view key, long def) {
    return getPrivateProfileInt(desktopProfilePath(), section, key, def);
}

bool writeProfileString(std::string_view section, std::string_view key, std::string_view value) {
    std::string path = desktopProfilePath();
    makeParentDirectories(path);
    return writePrivateProfileString(path, section, key, value);
}

bool deleteProfileString(std::string_view section, std::string_view key) {
    return writePrivateProfileString(desktopProfilePath(), section, key, std::nullopt);
}

bool deleteProfileSection(std::string_view section) {
    return writePrivateProfileString(desktopProfilePath(), section, std::nullopt, std::nullopt);
}

} // namespace sorv
