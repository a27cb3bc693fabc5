// Desktop profile reads for the data layer. The profile is read afresh on each call (it is read
// only when a file is opened), so a changed profile takes effect at the next open.
#include "data/profile_access.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace sorv {

namespace {

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string profilePath() {
    if (const char* p = std::getenv("SORVDEMO_DESKTOP_PROFILE"); p && *p) return p;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/sorvdemo/desktop.ini";
}

bool lookup(std::string_view section, std::string_view key, std::string& value) {
    std::ifstream in(profilePath(), std::ios::binary);
    if (!in) return false;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string_view l = trim(line);
        if (l.empty() || l.front() == ';') continue;
        if (l.front() == '[') {
            auto close = l.find(']');
            inSection = close != std::string_view::npos && sameNoCase(trim(l.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        auto eq = l.find('=');
        if (eq == std::string_view::npos) continue;
        if (sameNoCase(trim(l.substr(0, eq)), key)) {
            value = std::string(trim(l.substr(eq + 1)));
            return true;
        }
    }
    return false;
}

} // namespace

std::string profileString(std::string_view section, std::string_view key, std::string_view def) {
    std::string v;
    return lookup(section, key, v) ? v : std::string(def);
}

int profileInt(std::string_view section, std::string_view key, int def) {
    std::string v;
    if (!lookup(section, key, v)) return def;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    return end == v.c_str() ? def : static_cast<int>(n);
}

} // namespace sorv
