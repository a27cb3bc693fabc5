// Reads a FILE declaration back from the text that trace logs write when a file is opened
// (declarationText in trace.h), so that a declaration can be kept, edited and handed to tools as
// text and turn into the same description again.
#pragma once
#include "data/filedecl.h"

#include <optional>
#include <string>
#include <string_view>

namespace sorv {

// The declaration of a text in the trace log's syntax: the FILE line with its driver and
// attributes (",PRE(x)" is also read), one line per key, index, memo and blob, then "RECORD", the
// fields with their groups, and the final "END". Keywords are read without regard to case, lines
// starting with "!" are comments. Field labels get the file's prefix, taken from PRE or from the
// first qualified name in a key or OVER. On failure answers nothing and sets error to
// "line N: what is wrong".
std::optional<FileDecl> parseDeclaration(std::string_view text, std::string& error);

} // namespace sorv
