// Trace logs of the file drivers: the settings in the desktop profile section "BW" + driver name
// ("Profile", "TraceFile", "Details"), the declaration written when a file is opened, and one
// entry per operation (name, field values with details on, the error, the time taken).
#pragma once
#include "data/filedecl.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace sorv {

struct OpArgs;

struct TraceSettings {
    bool on = false;
    std::string file;     // the log; the driver name + ".LOG" by default
    bool details = false; // field values after NEXT, PREVIOUS, PUT and DELETE
};

// The settings of a driver for one file: "Details" of an encrypted file counts only when its
// driver options hold "ALLOWDETAILS".
TraceSettings traceSettings(std::string_view driverName, const FileDecl& file);

// One log file. Entries are appended whole, so files of several threads never interleave lines.
class TraceLog {
public:
    TraceLog(std::string path, bool details) : path_(std::move(path)), details_(details) {}
    const std::string& path() const { return path_; }
    bool details() const { return details_; }
    void write(std::string_view text);
    void logOperation(int operation, const FileDecl& file, const OpArgs& args, int code,
                      std::int64_t hundredths);

private:
    std::string path_;
    bool details_;
};

// Reads the settings on opening a file; when the trace is on, writes the declaration and answers
// the log, else null.
std::shared_ptr<TraceLog> openTrace(std::string_view driverName, const FileDecl& file);

// The declaration in the language's syntax, as the log shows it (ends with an empty line).
// As source, every NAME() is quoted (inner quotes doubled) and the fields' prefix is kept as PRE(),
// so that the text read back declares a file of the same layout whatever the names hold.
enum class DeclarationUse { Trace, Source };
std::string declarationText(const FileDecl& file, DeclarationUse use = DeclarationUse::Trace);
// One field's value as the log shows it ("'Smith'", "42", "07 Dec 2026 (82...)", "1FH").
std::string traceValue(const FieldDesc& f, std::span<const std::uint8_t> buffer, std::uint32_t element = 0);
// The lines "  %-18s:value" of every field of the record.
std::string traceFields(const FileDecl& file);
// The entry of one operation, without its field lines: "VIEW:%lX:" for view operations, the
// padded name, the error line, the time line.
std::string traceOperationText(int operation, std::uintptr_t viewId, int code, int systemError,
                               std::int64_t hundredths, const std::string& fields);

// Hundredths of a second from a steady clock; tests may replace the clock (null restores it).
std::int64_t traceClock();
void setTraceClock(std::int64_t (*clock)());

} // namespace sorv
