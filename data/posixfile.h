// What the ASCII and DOS drivers share: a file on disk opened through POSIX with its sharing
// mode held by lock bytes, and the operations on the file as a whole (open, create, close, lock,
// hold, flush, name, remove, rename, copy, empty). The record operations are each driver's own.
#pragma once
#include "data/driver.h"

#include <cstdint>
#include <string>

namespace sorv {

struct PosixFileState : DriverState {
    int fd = -1;
    int mode = 0;                // the open mode (access | sharing)
    std::string path;            // as opened
    std::int64_t nextPos = 0;    // where NEXT reads
    std::int64_t prevEnd = -1;   // where the record PREVIOUS reads ends; -1: the end of the file
    std::int64_t curStart = -1;  // the record read or written last; -1: none
    std::int64_t curLen = 0;     // its bytes (without a line end)
    std::int64_t lastBytes = -1; // bytes of the last record read; -1: none read yet
    std::int64_t held = -1;      // start of the record this file holds; -1: none
    bool locked = false;
    // After STREAM on a file no one else may write, appends gather here (starting in the file at
    // pendingAt) and reach the file when 64 kB have gathered and before any other operation;
    // FLUSH writes them and ends the streaming.
    bool streaming = false;
    std::string pending;
    std::int64_t pendingAt = 0;
    ~PosixFileState() override;

    bool mayRead() const;
    bool mayWrite() const;
};

class PosixFileDriver : public Driver {
public:
    int call(int operation, FileDecl& file, OpArgs& args) final;

protected:
    // The record operations; answers 80 for one the driver does not have.
    virtual int recordOp(int operation, FileDecl& file, PosixFileState& st, OpArgs& args) = 0;
    // Checks the declaration on OPEN (a driver that needs a record size refuses an empty one).
    virtual int checkDeclaration(const FileDecl&) { return 0; }
    // The answer to QUERY_VIEW (the view engine asks whether the driver takes part in a view).
    virtual int queryView() { return 80; }
};

// The system path of a file's name: backslashes become slashes; an empty name, control
// characters and * ? " < > | answer 45.
int systemPath(const FileDecl& file, std::string& path);
int systemPath(std::string_view name, std::string& path);
// The answer for an errno of open/create/unlink/rename: 2, 3, 4 and 5 directly, others 90.
int openFailure(OpArgs& args, int posixErrno);
// Reads and writes with retries on interrupted or short transfers; answer bytes done or -errno.
std::int64_t readAt(int fd, void* data, std::size_t size, std::int64_t at);
std::int64_t writeAt(int fd, const void* data, std::size_t size, std::int64_t at);
// The file's size, or -errno.
std::int64_t fileSize(int fd);
// Writes the appends a streaming file gathered; on failure the file ends where they would have
// started, and the answer is the error. Nothing is kept either way.
int writePending(PosixFileState& st, OpArgs& args);
// Serialises appends of several openers (a short exclusive lock on a byte of its own).
class AppendGuard {
public:
    explicit AppendGuard(int fd);
    ~AppendGuard();

private:
    int fd_;
};

// Positions of the ASCII and DOS drivers: the record's start offset, 8 bytes, least significant
// first. Answers false for a position of another shape.
std::string encodePosition(std::int64_t start);
bool decodePosition(const std::string& position, std::int64_t& start);

} // namespace sorv
