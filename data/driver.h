// The driver interface: a driver is registered by name and called with an operation number, the
// file's declaration and the operation's arguments; it answers an error code (0 for success).
//
// Contract every driver keeps:
// - An operation it does not support answers 80 (err::UnsupportedFunction) and changes nothing.
// - Any operation but OPEN, CREATE, SHARE, NAME, REMOVE, RENAME, COPY, SEND and QUERY_VIEW on a
//   closed file (FileDecl::state null) answers 37.
// - On failure the record buffer and the file on disk are left as they were.
// - Code 90 comes with OpArgs::systemError, the system's error number (sorv::fileSystemCodeOf of
//   an errno); the runtime reports it as 300 + that number.
// - Reading operations fill FileDecl::buffer() (and memoValues unless NOMEMO was issued since the
//   last read); writing operations take them.
// - Positions (POSITION out, RESET and REGET in) are opaque byte strings that only the driver that
//   made them reads; a position that the driver cannot read answers 35.
#pragma once
#include "data/filedecl.h"
#include "data/fileops.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

// Open modes: the access in the two low bits, the sharing in the next nibble.
namespace openmode {
enum : int {
    ReadOnly = 0x00,
    WriteOnly = 0x01,
    ReadWrite = 0x02,
    AccessMask = 0x03,
    // 0x00 (compatibility) behaves as DenyWrite: other openers may read but not write.
    DenyAll = 0x10,
    DenyWrite = 0x20,
    DenyRead = 0x30,
    DenyNone = 0x40,
    ShareMask = 0xF0,
};
}

// The arguments and results of one operation. The runtime sets only the inputs that the
// operation takes (see the suffix rules of fileops.h); the driver sets the outputs it answers.
struct OpArgs {
    // Inputs.
    int mode = openmode::ReadWrite | openmode::DenyWrite; // OPEN, SHARE
    int key = -1;              // index into FileDecl::keys for the "key" operations; -1 none
    std::uint32_t pointer = 0; // "ptr": record pointer (1-based; for ASCII and DOS a byte offset)
    std::uint32_t length = 0;  // "len": explicit length in bytes
    std::int32_t seconds = 0;  // "sec": time limit (HOLDfilesec, LOCKfilesec, LOGOUT)
    std::int32_t count = 0;    // SKIP: records to skip (negative backwards)
    std::string position;      // RESET, REGET: a position the driver answered before
    std::string text;          // SEND: the command; RENAME, COPY: the target; SET_PROPERTY value
    int field = -1;            // NULL, SETNULL, SETNONULL: field index in the Layout
    int property = 0;          // SET_PROPERTY, GET_PROPERTY, DO_PROPERTY: the property code
    int propertyIndex = 0;     // an index that goes with the property (0 none)
    // View operations: the view's identity (printed as "VIEW:%lX:" in traces, 0 for ordinary
    // operations) and the view engine's own description, opaque to drivers that take no part.
    std::uintptr_t viewId = 0;
    const void* view = nullptr;

    // Outputs.
    std::int64_t records = 0;     // RECORDSfile, RECORDSkey
    std::uint32_t pointerOut = 0; // POINTERfile, POINTERkey
    std::string positionOut;      // POSITIONfile, POSITIONkey
    std::int64_t bytesOut = 0;    // BYTES: bytes of the last record read (the file's size before)
    bool flag = false;            // BOF, EOF, DUPLICATE, DUPLICATEkey, NULL: the answer
    std::string textOut;          // NAME, SEND, GET_PROPERTY: the answer
    int systemError = 0;          // with code 90: the system's error number (see errors.h)
};

class Driver {
public:
    virtual ~Driver() = default;
    // The registered name, upper case ("ASCII").
    virtual std::string_view name() const = 0;
    // Carries out one operation on one file; answers the error code.
    virtual int call(int operation, FileDecl& file, OpArgs& args) = 0;
};

// Adds a driver to the process's registry (replacing one of the same name). The drivers of this
// library ("ASCII", "DOS" and the native driver) are registered on first lookup.
void registerDriver(std::shared_ptr<Driver> driver);
// The driver of that name (case ignored), or null.
Driver* findDriver(std::string_view name);
std::vector<std::string> driverNames();

// Runs one operation on a file's driver: finds the driver (answering 47 when the declaration
// names none that is registered), reads the trace settings and writes the declaration on OPEN,
// and traces the call when the file's trace is on. Does not touch the current error; the file
// statements (files.h) and the view engine set it from the answer with setErrorFrom.
int callDriver(int operation, FileDecl& file, OpArgs& args);
void setErrorFrom(int code, const OpArgs& args);

// Helpers for drivers: answer 90 from an errno, and the closed-file rule above.
int systemFailure(OpArgs& args, int posixErrno);
bool opensClosedFile(int operation);

} // namespace sorv
