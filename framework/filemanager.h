// The file manager: one per table, shared by every procedure thread. It opens the table's file
// lazily and closes it after its last user, primes new records (with automatic numbers), inserts,
// updates with the check for changes made meanwhile by another station, reads with a policy for
// records held elsewhere, keeps saved copies of the record buffer, and turns file errors into
// numbered messages of the error manager.
//
// Threads: a table declared threaded (ThreadedFile) gives every thread its own declaration, so its
// own record buffer and open file; the manager reaches the calling thread's through file() and
// keeps the rest of the per-thread state (use count, reservation, saved buffers, last message) in
// INFO by thread. A thread's entry and declaration are dropped when a procedure thread ends.
// Program code runs under the runtime lock; the small mutex here only guards the containers
// against the tests' plain threads.
#pragma once
#include "data/filedecl.h"
#include "framework/levels.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sorv::fw {

class ErrorManager;

// The calling thread's state of one file.
struct FileThreadInfo {
    bool OPENED = false;           // really open on this thread
    std::uint16_t USECOUNT = 0;    // users counted by Open, less those gone by Close
    bool ATEOF = false;            // the last Next or Previous met the end
    bool AUTOINCDONE = false;      // an automatic number is reserved (its record added)
    std::uint8_t LASTERROR = 0;    // number of the last message recorded
    std::uint32_t RESERVEDPTR = 0; // the reserved record, so the insert writes that very record
    std::string RESERVEDPOSITION;  // and its position, for releasing it again
};

// A key of the file as the manager knows it.
struct FileKey {
    int KEY = -1;            // index into the declaration's keys
    std::string DESCRIPTION; // up to 80 characters, shown in message 13
    std::vector<KeyComponent> FIELDS;
    int AUTOFIELD = 0; // 1-based number of the auto-numbered component, 0 for none
};

class FileManager {
public:
    FileManager* ALIASEDFILE = nullptr;
    bool CREATE = true;
    ErrorManager* ERRORS = nullptr;
    std::string FILENAMEVALUE;
    bool HASAUTOINC = false;
    std::vector<FileKey> KEYS;
    bool LAZYOPEN = true;
    std::int16_t LOCKRECOVER = 10;
    std::uint8_t OPENMODE = 0x42; // read/write, deny none
    std::uint8_t PRIMARYKEY = 0;
    bool SKIPHELDRECORDS = false;

    FileManager();
    virtual ~FileManager();
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    // Binds the manager to a threaded table (one declaration per thread) or to one declaration
    // that every thread shares, with the file's name as messages show it.
    void Init(ThreadedFile& file, ErrorManager& errors, std::string_view fileNameValue);
    void Init(FileDecl& file, ErrorManager& errors, std::string_view fileNameValue);
    // Closes what is still open on any thread and forgets every thread's state.
    virtual void Kill();
    // Adds a key (an index into the declaration's keys) in the order keys are declared; with
    // autoNumber its last component is numbered by ReserveAutoNumber.
    void AddKey(int key, std::string_view description, bool autoNumber = false);

    // The calling thread's declaration, record and state.
    FileDecl& file();
    Record& record() { return file().record; }
    std::span<std::uint8_t> buffer() { return file().buffer(); }
    FileThreadInfo& info();
    bool initialised() const { return bound_ != nullptr; }

    // The overridable operations, in slot order.
    virtual Level Close();
    virtual bool BufferUnchanged(std::uint16_t id);
    virtual Level Insert();
    virtual Level Open();
    virtual Level ReserveAutoNumber();    // reporting
    virtual Level TryReserveAutoNumber(); // silent: message 32 is not asked, errors not shown
    virtual void PrimeNewRecord() {}
    virtual Level PrimeBuffer(bool keepBuffer = false);
    virtual Level Raise(int number);
    virtual Level RaiseCurrentError();
    virtual Level RaiseWithText(int number, std::string_view text);
    virtual Level EnsureFileOpen();
    // Field validation of the whole record before an insert or update; non-zero refuses it.
    virtual Level CheckRecordInView() { return LevelNone; }
    // Run after every real open of the file.
    virtual void AfterRealOpen() {}
    // Server-side validation of one field (1-based number in the record): 0 valid, else the level
    // of the message that refused it.
    virtual Level ValidateField(int field);

    // Every field in record order; answers the first refusal and, through `failed`, its field.
    Level ValidateRecord(int* failed = nullptr);

    // Saved copies of the calling thread's buffer (and memos), by identifier.
    std::uint16_t SaveRecordBuffer();
    // Puts copy `id` back when `restore` is set, and drops it either way.
    void RestoreSavedBuffer(std::uint16_t id, bool restore);
    // Reads on through the current sequence with the held-record policy: 0 read, LevelNotify at the
    // end (ATEOF set), else the level of message 28 or 1.
    Level Next();
    Level Previous();
    // The current record's position (at most 512 bytes), "" when there is none.
    std::string Position();
    // Re-reads the record at a position: 0 or the level of message 1 (silently LevelNotify).
    Level Reget(const std::string& position, bool report = true);
    // Reads by a key from the buffer's key values: 0 found, else LevelNotify (TryFetch) or the level
    // of message 1 (Fetch).
    Level Fetch(int key);
    Level TryFetch(int key);
    // Writes the current record: mode 0 silent, 1 reporting, 2 reporting from a form.
    Level Update(int mode = 1);
    // Deletes the current record (relations are the relation manager's business).
    Level DeleteRecord(bool report = true);
    void RecordErrorNumber(int number);
    // The driver's quick scanning ("QUICKSCAN=on"/"off") of the calling thread's open file.
    void SwitchQuickScan(bool on);
    // Forgets the calling thread's reservation (the record stays); Insert does this on success.
    void ClearAutoNumber();

    // The framework's trace hook: told "Real File Open" and "Close File" (this program records
    // nothing; tests watch it).
    static void setTraceHook(std::function<void(const FileManager&, std::string_view)> hook);

private:
    struct Saved {
        std::vector<std::uint8_t> bytes;
        std::vector<std::string> memos;
    };
    struct PerThread {
        FileThreadInfo info;
        std::map<std::uint16_t, Saved> saved;
    };
    struct Shared; // what a thread's end-of-life step reaches, outliving nothing it points to

    Level realOpen(bool report);
    // Raises message `number` (recorded with the error state already) for this file.
    Level dispatch(int number);
    Level reserve(bool report);
    Level readOn(bool forward);
    void trace(std::string_view what) const;
    void threadEnded(std::thread::id id);
    void closeForHalt();
    PerThread& perThread();

    ThreadedFile* threaded_ = nullptr;
    FileDecl* single_ = nullptr;
    void* bound_ = nullptr;
    std::shared_ptr<Shared> shared_;
    std::mutex mutex_;
    std::map<std::thread::id, PerThread> threads_;
    std::uint16_t nextSaved_ = 0;
    int haltStep_ = 0; // closes the file on every thread when the program halts
};

} // namespace sorv::fw
