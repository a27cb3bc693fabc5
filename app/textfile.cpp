// Loading the notes and quotes texts through the record-file interface.
#include "app/textfile.h"

#include "data/files.h"
#include "runtime/errors.h"

#include <algorithm>

namespace sorv::app {

FileDecl makeTextFile(const std::string& fileName) {
    FileDecl f;
    f.label = "TXT";
    f.driver = "DOS";
    f.name = fileName;
    Layout layout;
    layout.add("TXT:LINE", FieldType::String, TextRecordSize);
    f.record.setLayout(std::move(layout));
    return f;
}

TextLoad loadTextFile(const std::string& fileName) {
    TextLoad out;
    FileDecl f = makeTextFile(fileName);
    open(f, openmode::ReadWrite | openmode::DenyWrite);
    // Where it may not be written (a read-only file or folder) the text is still there to read.
    if (errorCode() == err::AccessDenied) open(f, openmode::ReadOnly | openmode::DenyWrite);
    if (errorCode() != 0) {
        out.message = "Problem opening Txt file: " + error() + " (" + fileName + ")";
        return out;
    }
    f.record.clear();
    getPointer(f, 1);
    int failed = errorCode();
    std::string why = failed ? error() : std::string();
    // The record holds the bytes read followed by blanks; only the bytes read belong to the text.
    std::size_t got = f.buffer().size();
    if (!failed) {
        std::int64_t n = bytes(f);
        if (n >= 0) got = std::min<std::size_t>(got, static_cast<std::size_t>(n));
    } else {
        got = 0;
    }
    auto buf = f.buffer();
    out.text.assign(reinterpret_cast<const char*>(buf.data()), got);
    close(f);
    if (failed) out.message = "Problem GETting Txt file: " + why + " (" + fileName + ")";
    return out;
}

TextSpan notesSelection(const std::string& text) {
    std::size_t from = text.find("The main");
    if (from == std::string::npos) from = 0;
    std::size_t to = text.find("order.", from);
    if (to == std::string::npos) return {from, from};
    return {from, to + 6};
}

} // namespace sorv::app
