// The declaration of one file: everything a driver is given about it (name, owner, options,
// attributes, memos, keys, the record layout and its buffer) and the driver's state while open.
#pragma once
#include "runtime/field.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sorv {

class Driver;
class TraceLog;

// Attribute bits of a file.
namespace fileattr {
enum : std::uint8_t {
    Create = 1,  // a missing file may be created (without it CREATE answers 54)
    Encrypt = 2, // the file is encrypted with its owner's password
    Reclaim = 4, // deleted space is reused
    Thread = 8,  // one declaration (and buffer) per thread, see ThreadedFile
};
}

// Attribute bits of a key, as the data dictionary numbers them.
namespace keyflag {
enum : std::uint8_t {
    Dup = 1,     // duplicate key values allowed
    Opt = 2,     // records whose key fields are all blank or zero are left out of the key
    NoCase = 4,  // text components compare without case
    Primary = 16 // the file's primary key (unique)
};
}

struct KeyComponent {
    int field = -1;          // index of the component field in the record's Layout
    bool descending = false; // "-" in the declaration, "+" otherwise
};

struct KeyDecl {
    std::string label;    // "CUST:KeySysId"
    bool isIndex = false; // INDEX (built on demand) rather than KEY (kept up to date)
    std::vector<KeyComponent> components;
    std::uint8_t flags = 0; // keyflag bits
    std::string externalName;

    bool dup() const { return flags & keyflag::Dup; }
    bool opt() const { return flags & keyflag::Opt; }
    bool noCase() const { return flags & keyflag::NoCase; }
    bool primary() const { return flags & keyflag::Primary; }
};

struct MemoDecl {
    std::string label;
    bool isBlob = false;    // BLOB: any length; MEMO: at most `size` bytes
    std::uint32_t size = 0; // MEMO size in bytes (0 for a blob)
    std::string externalName;
    bool binary = false; // BINARY: kept as bytes, never trimmed as text
};

// What a driver keeps for an open file (its handle, current record, read position, locks...).
// A driver derives its own state and attaches it to FileDecl::state on OPEN; CLOSE drops it.
class DriverState {
public:
    virtual ~DriverState() = default;
};

// One declared file. The runtime owns it; the driver reads the declaration, fills and takes the
// record buffer and memo contents, and keeps its per-open state in `state`. The declaration is
// not shared between threads: a file with the Thread attribute has one per thread (ThreadedFile).
struct FileDecl {
    std::string label;                // the file's label, written in traces ("Customer")
    std::string driver;               // driver name ("ASCII", "DOS", "QUARNELL")
    std::string driverOptions;        // driver option string, possibly empty
    std::string name;                 // name on disk; an empty name means the label
    std::optional<std::string> owner; // password of an owned file; never written anywhere
    std::uint8_t attributes = 0;      // fileattr bits

    std::vector<MemoDecl> memos;
    std::vector<std::string> memoValues; // contents of the memos, one per entry of `memos`
    std::vector<KeyDecl> keys;

    Record record; // the record's fields (as a Layout) and the record buffer

    // Set by the driver while the file is open; null when closed.
    std::unique_ptr<DriverState> state;
    // Set by the runtime on OPEN when the driver's trace is switched on; null otherwise.
    std::shared_ptr<TraceLog> trace;
    // The driver found by name on first use (the runtime fills it; drivers ignore it).
    Driver* boundDriver = nullptr;

    FileDecl() = default;
    FileDecl(const FileDecl&) = delete;
    FileDecl& operator=(const FileDecl&) = delete;
    FileDecl(FileDecl&&) = default;
    FileDecl& operator=(FileDecl&&) = default;

    // A fresh, closed declaration with the same description and a blank buffer.
    FileDecl clone() const;

    bool isOpen() const { return state != nullptr; }
    bool hasAttribute(std::uint8_t a) const { return (attributes & a) != 0; }
    // The name the driver opens: `name` without trailing blanks, or the label when it is empty.
    std::string fileName() const;

    std::span<std::uint8_t> buffer() { return record.buffer(); }
    std::span<const std::uint8_t> buffer() const { return record.buffer(); }
    const Layout& layout() const { return record.layout(); }

    // The driver's state as its own type (null when closed or of another driver).
    template <class T> T* stateAs() const { return dynamic_cast<T*>(state.get()); }
};

// A file declared with the Thread attribute: every thread that uses it gets its own declaration,
// cloned from the prototype on first use, so buffers and open state never cross threads.
class ThreadedFile {
public:
    explicit ThreadedFile(FileDecl prototype) : prototype_(std::move(prototype)) {}
    // The calling thread's declaration.
    FileDecl& get();
    // Drops the calling thread's declaration (the thread ends); an open file is left as it is, so
    // close it first.
    void release();
    const FileDecl& prototype() const { return prototype_; }
    // Run on a thread right after its declaration was made, whoever asked for it first: the owner
    // binds the new buffer's names there and arranges the thread's end.
    void setFirstUseHook(std::function<void(FileDecl&)> hook);
    // Threads that have a declaration now.
    std::size_t threads();
    // Calls `f` with every thread's declaration (for the program's halt; nothing else may run).
    void forEachThread(const std::function<void(FileDecl&)>& f);

private:
    FileDecl prototype_;
    std::mutex mutex_;
    std::function<void(FileDecl&)> firstUse_;
    std::map<std::thread::id, std::unique_ptr<FileDecl>> perThread_;
};

} // namespace sorv
