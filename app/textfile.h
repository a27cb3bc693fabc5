// The text file the notes and quotes windows show: one record of 32000 bytes (`TXT:LINE`) read
// through the binary ("DOS") driver, and the loading steps with their two messages.
#pragma once
#include "data/filedecl.h"

#include <cstddef>
#include <string>

namespace sorv::app {

inline constexpr std::size_t TextRecordSize = 32000;

// A closed declaration of the text file over `fileName`. Each window makes its own, so two text
// windows never share a buffer while one of them waits on a message box.
FileDecl makeTextFile(const std::string& fileName);

struct TextLoad {
    std::string text;    // up to 32000 bytes of the file, as they are
    std::string message; // the message to show, "" when the file was read
};

// Opens the file (read/write, deny write; read-only where writing is refused), reads the record at
// position 1 and closes it again. A file that cannot be opened gives "Problem opening Txt file: "
// and an empty text; one that cannot be read gives "Problem GETting Txt file: " and whatever was
// read; each followed by the runtime's error text and the file's name in parentheses.
TextLoad loadTextFile(const std::string& fileName);

// The part of a text to highlight, as byte offsets [start, end): from the first "The main" (the
// start of the text when there is none) to the end of the first "order." after that; without an
// "order." the selection is empty at its start.
struct TextSpan {
    std::size_t start = 0, end = 0;
};
TextSpan notesSelection(const std::string& text);

} // namespace sorv::app
