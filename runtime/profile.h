// The desktop profile: the desktop's own INI file of date and time settings and trace switches, at
// $SORVDEMO_DESKTOP_PROFILE or ~/.config/sorvdemo/desktop.ini. A missing file means all defaults.
#pragma once
#include <string>
#include <string_view>

namespace sorv {

// $SORVDEMO_DESKTOP_PROFILE when set and not empty, else ~/.config/sorvdemo/desktop.ini.
std::string desktopProfilePath();

// Entries of the desktop profile, read as by getPrivateProfileString/getPrivateProfileInt.
std::string getProfileString(std::string_view section, std::string_view key, std::string_view def);
long getProfileInt(std::string_view section, std::string_view key, long def);

// Writes an entry of the desktop profile, creating the file and its directory when missing.
bool writeProfileString(std::string_view section, std::string_view key, std::string_view value);
// Deletes one entry, or a whole section, of the desktop profile.
bool deleteProfileString(std::string_view section, std::string_view key);
bool deleteProfileSection(std::string_view section);

} // namespace sorv
