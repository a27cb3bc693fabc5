// The transaction control file "quarnell.tcf" and the commit of a transaction over several native
// files. The control file's log names the transaction and its files before any of them is
// written; then each file's log receives the transaction's pages and a marker frame naming the
// control file, and is synced; clearing the control file's log is the commit point. Until then
// readers do not count the marked frames, and whoever opens the control file next (or finds the
// marker with the writer lock) cuts them from every file: a commit interrupted at any moment is
// undone as a whole or was complete.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sorv::qnl {

class Pager;

constexpr const char* ControlFileName = "quarnell.tcf";
constexpr unsigned ControlBlock = 512;

// The control file for a transaction started by a file: in the directory of that file (up to
// its last "/" or "\"), or in the current directory when the name has no directory.
std::string controlFilePathFor(const std::string& firstFile);

// An open, locked control file whose log has been processed.
class ControlFile {
public:
    ControlFile() = default;
    ~ControlFile();
    ControlFile(const ControlFile&) = delete;
    ControlFile& operator=(const ControlFile&) = delete;

    // Opens (creating an empty file), takes the control file's lock, checks the header and rolls
    // back every file of a log left in use. A wrong signature, a short header or a log range
    // outside the file is refused: internal error 1 and code 48.
    int open(const std::string& path, int lockTimeoutMs = 10000);
    void close();
    // Writes a log (its magic, the number of records, then the records) and records its range
    // in the header; both reach the disk before it returns.
    int writeLog(std::uint32_t magic, std::uint32_t records, const std::string& stream);
    // Records an empty range: the transaction of the log is over.
    int clearLog();
    // The range the header holds (for tests and the check command).
    unsigned logStart() const { return start_; }
    unsigned logEnd() const { return end_; }

private:
    int refuse();
    int processLog(int timeoutMs);
    std::string path_;
    int fd_ = -1;
    unsigned start_ = ControlBlock, end_ = ControlBlock;
};

// Commits the collected pages of every file as one transaction (the files' pagers must be in a
// transaction). On failure nothing of the transaction stays on disk.
int commitTransaction(const std::vector<Pager*>& files, const std::string& tcfPath);
// Discards a transaction's pages and ends it.
void rollbackTransaction(const std::vector<Pager*>& files);
// Completes or undoes what a dead process left: processes the control file's log, then clears
// the pending state of the file open on fd when its transaction was committed.
int recoverTransaction(const std::string& tcfPath, int fd, int lockTimeoutMs);

// Whether the control file at path holds, in use, the log of transaction txn. Only reads: a
// missing, refused or oddly named control file holds nothing.
bool controlLogHolds(const std::string& path, std::uint64_t txn);
// Settles what a transaction left when its process died (the control file's log is processed).
int settleTransaction(const std::string& tcfPath, int lockTimeoutMs);

// Called with the internal error number when the control file is refused (set by the driver).
void setControlFileHook(void (*hook)(const std::string& path, int number));

} // namespace sorv::qnl
