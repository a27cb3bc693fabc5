// INI files of sections and entries: the named-file profile functions of the platform layer and the
// language's GETINI/WRITEINI over them. Reads are cached per file and never stale; writes replace the
// file atomically under a cross-process lock, so concurrent writers never lose each other's entries.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorv {

// The value of key in section of file (names compared without case, blanks around names and values
// ignored), or def when the file, the section or the key is missing or the file cannot be read.
std::string getPrivateProfileString(std::string_view file, std::string_view section, std::string_view key,
                                    std::string_view def);

// The entry read as a whole number (its leading decimal number, saturated to the range of long);
// def when the entry is missing, empty or does not start with a number.
long getPrivateProfileInt(std::string_view file, std::string_view section, std::string_view key, long def);

// Writes key=value into section of file, replacing an existing entry and creating the section and the
// file as needed. Without a value the entry is deleted; without a key the whole section is deleted.
// Answers false (and leaves the file untouched) when the file cannot be read or written (also when
// it is marked read-only), or when a name or the value cannot be stored in the format (line
// breaks, "=" in a key, "]" in a section).
bool writePrivateProfileString(std::string_view file, std::string_view section,
                               std::optional<std::string_view> key, std::optional<std::string_view> value);

// Why the entry cannot be stored in the format ("a key cannot hold \"=\" or a line break", ...), or
// an empty text when it can.
std::string iniUnstorable(std::string_view section, std::optional<std::string_view> key,
                          std::optional<std::string_view> value);

// Lengths the language's INI functions cut their arguments to.
inline constexpr std::size_t iniSectionMax = 63;
inline constexpr std::size_t iniKeyMax = 63;
inline constexpr std::size_t iniValueMax = 1023;
inline constexpr std::size_t iniFileMax = 259;

// GETINI: the entry's value, at most 1023 characters, or the default. Every argument loses its
// trailing spaces and is cut to its limit; an empty file name reads the desktop profile.
std::string GETINI(std::string_view section, std::string_view key, std::string_view def = {},
                   std::string_view file = {});

// WRITEINI: writes an entry; without a value deletes the entry, without a key the whole section.
// Arguments are taken as for GETINI (the value cut to 1023 characters); an empty file name writes the
// desktop profile. The language ignores a failed write; the answer says whether it took effect.
bool WRITEINI(std::string_view section, std::optional<std::string_view> key = std::nullopt,
              std::optional<std::string_view> value = std::nullopt, std::string_view file = {});
// A number is stored as its decimal text.
bool WRITEINI(std::string_view section, std::string_view key, std::int64_t value, std::string_view file = {});

} // namespace sorv
