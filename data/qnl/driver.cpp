// The "QUARNELL" driver: each operation of the record-file interface carried out on a native file
// through the engine (table.h), with the file's sequence, current record, holds, change watching
// and the thread's transaction kept in the open file's state.
#include "data/qnl/qnldriver.h"

#include "data/posixfile.h"
#include "data/qnl/table.h"
#include "data/qnl/txlog.h"
#include "data/scandriver.h"
#include "data/sharelock.h"
#include "runtime/errors.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace sorv {

namespace qnl {

namespace {

std::mutex reportMutex;
std::function<void(const std::string&, const std::string&)> reporter;
std::map<int, std::string> replacements;

void reportCorruption(int n) {
    std::function<void(const std::string&, const std::string&)> r;
    {
        std::lock_guard lock(reportMutex);
        r = reporter;
    }
    if (r) r(CorruptionTitle, corruptionText(n));
}

void reportControlFile(const std::string&, int n) {
    reportCorruption(n);
}

} // namespace

void setCorruptionReporter(std::function<void(const std::string&, const std::string&)> r) {
    std::lock_guard lock(reportMutex);
    reporter = std::move(r);
}

void setReplacementMessage(int number, std::string text) {
    std::lock_guard lock(reportMutex);
    replacements[number] = std::move(text);
}

std::string corruptionText(int n) {
    std::string text = "Possible data corruption in file";
    {
        std::lock_guard lock(reportMutex);
        auto it = replacements.find(CorruptionMessage);
        if (it != replacements.end()) text = it->second;
    }
    return text + " (" + std::to_string(n) + ")";
}

Schema schemaOf(const FileDecl& file) {
    Schema s;
    s.label = file.label;
    s.layout = file.layout();
    if (s.layout.count() > 0) {
        const std::string& first = s.layout.field(0).name;
        auto colon = first.find(':');
        if (colon != std::string::npos) s.prefix = first.substr(0, colon);
    }
    s.keys = file.keys;
    s.memos = file.memos;
    return s;
}

} // namespace qnl

namespace {

using namespace qnl;

// One open native file of one declaration.
struct QnlState : DriverState {
    Table table;
    std::unique_ptr<Cursor> cursor;
    std::string path;
    int mode = 0;
    std::uint32_t current = 0; // the record read or written last (0 none)
    std::vector<std::uint8_t> currentBytes;
    std::uint32_t currentVersion = 0;
    bool watchArmed = false, watched = false;
    bool noMemo = false;
    bool locked = false;
    bool inTransaction = false;
    std::string recover = "10";
    std::string quickScan = "OFF";
    std::int64_t lastBytes = -1;

    bool mayRead() const { return (mode & openmode::AccessMask) != openmode::WriteOnly; }
    bool mayWrite() const { return (mode & openmode::AccessMask) != openmode::ReadOnly; }
    bool exclusive() const { return (mode & openmode::ShareMask) == openmode::DenyAll; }
};

// The thread's transaction: LOGOUT is issued file by file, COMMIT and ROLLBACK file by file too;
// the first COMMIT commits all files at once and the others take its answer.
struct Group {
    std::string controlFile;
    std::vector<QnlState*> files;
    bool ended = false;
    int result = 0;
};
thread_local std::unique_ptr<Group> group;

void leaveGroup(QnlState* st) {
    if (!group) return;
    auto& v = group->files;
    v.erase(std::remove(v.begin(), v.end(), st), v.end());
    st->inTransaction = false;
    if (v.empty()) group.reset();
}

// "/SYNC=FULL", "/SYNC=NORMAL" or "/SYNC=OFF" among the driver options; anything else leaves
// the default (durable) mode.
SyncMode syncOption(const std::string& options) {
    SyncMode m = defaultSyncMode();
    std::string up;
    for (char c : options) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::size_t at = up.find("SYNC=");
    if (at == std::string::npos) return m;
    std::size_t end = up.find_first_of(" /,", at + 5);
    parseSyncMode(up.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5), m);
    return m;
}

std::string filePosition(std::uint32_t ptr) {
    std::string p = "QF";
    p.append(4, '\0');
    put32(reinterpret_cast<std::uint8_t*>(p.data() + 2), ptr);
    return p;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class QuarnellDriver final : public Driver, public ScanDriver {
public:
    std::string_view name() const override { return DriverName; }

    int scanRecords(FileDecl& file, const std::function<bool(std::uint64_t)>& each, OpArgs& args) override {
        auto* st = file.stateAs<QnlState>();
        if (!st) return err::FileNotOpen;
        if (!st->mayRead()) return err::AccessDenied;
        // A walk of the sequence that is still pinned to an older state lets go of it (its place
        // is kept): the pass reads the file as it is now.
        if (st->cursor) st->cursor = std::make_unique<Cursor>(*st->cursor);
        std::span<std::uint8_t> buffer = file.buffer();
        int rc = st->table.scan([&](std::uint32_t ptr, std::span<const std::uint8_t> bytes) {
            std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size()), buffer.begin());
            return each(ptr);
        });
        return engine(rc, args);
    }

    int scanKeyRanges(FileDecl& file, int key, const KeyRanges& ranges,
                      const std::function<bool(std::size_t, std::uint64_t)>& each, OpArgs& args) override {
        auto* st = file.stateAs<QnlState>();
        if (!st) return err::FileNotOpen;
        if (!st->mayRead()) return err::AccessDenied;
        if (!validKey(file, key)) return err::InvalidKeyFile;
        // As for a pass: a pinned walk of the sequence lets go of its older state.
        if (st->cursor) st->cursor = std::make_unique<Cursor>(*st->cursor);
        std::vector<Table::KeyRange> bounds;
        bounds.reserve(ranges.size());
        for (const auto& [low, high] : ranges) bounds.push_back({low, high});
        std::span<std::uint8_t> buffer = file.buffer();
        int rc = st->table.scanKeyRanges(
            key, bounds, [&](std::size_t range, std::uint32_t ptr, std::span<const std::uint8_t> bytes) {
                std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size()), buffer.begin());
                return each(range, ptr);
            });
        return engine(rc, args);
    }

    // Another station's writes go to the log first and reach the data file at a checkpoint: the
    // stamp is of both, under the names the driver opens (a name without extension has ".QNL").
    std::uint64_t changeStamp(FileDecl& file) override {
        std::string path;
        if (pathOf(file, path) != 0) return 0;
        return fileStamp(path + ".wal", fileStamp(path));
    }

    int call(int operation, FileDecl& file, OpArgs& args) override {
        auto* st = file.stateAs<QnlState>();
        if (!st && file.isOpen()) return err::FileAlreadyOpen;
        if (!st && !opensClosedFile(operation)) return err::FileNotOpen;
        int rc = run(operation, file, st, args);
        if (rc == err::FileSystemError && args.systemError == 0) args.systemError = fileErrorCode() - 300;
        return rc;
    }

private:
    static int pathOf(const FileDecl& file, std::string& path) {
        if (int c = systemPath(file, path)) return c;
        path = withDefaultExtension(path);
        return 0;
    }

    // The current error of the engine as this operation's answer (90 carries the system error).
    static int engine(int rc, OpArgs& args) {
        if (rc == err::FileSystemError) args.systemError = fileErrorCode() - 300;
        return rc;
    }

    RecordData fromBuffer(FileDecl& file) {
        RecordData r;
        r.bytes.assign(file.buffer().begin(), file.buffer().end());
        r.memos = file.memoValues;
        r.memos.resize(file.memos.size());
        return r;
    }

    void took(FileDecl& file, QnlState& st, std::uint32_t ptr, RecordData& r) {
        std::copy(r.bytes.begin(), r.bytes.end(), file.buffer().begin());
        if (!st.noMemo) {
            file.memoValues = std::move(r.memos);
            file.memoValues.resize(file.memos.size());
        }
        st.noMemo = false;
        st.table.setReadMemos(true);
        st.current = ptr;
        st.currentBytes = std::move(r.bytes);
        st.currentVersion = r.version;
        st.watched = st.watchArmed;
        st.watchArmed = false;
        st.lastBytes = static_cast<std::int64_t>(st.currentBytes.size());
    }

    int readPointer(FileDecl& file, QnlState& st, std::uint32_t ptr, OpArgs& args) {
        if (!st.mayRead()) return err::AccessDenied;
        RecordData r;
        st.table.setReadMemos(!st.noMemo);
        int rc = st.table.get(ptr, r);
        if (rc != 0) return engine(rc, args);
        took(file, st, ptr, r);
        return 0;
    }

    Cursor& cursorOf(QnlState& st) {
        if (!st.cursor) {
            st.cursor = std::make_unique<Cursor>(st.table, -1);
            st.cursor->setFirst();
        }
        return *st.cursor;
    }

    bool validKey(const FileDecl& file, int key) {
        return key >= 0 && key < static_cast<int>(file.keys.size());
    }

    // The pointer a position names (either kind); 0 for a position of another shape.
    std::uint32_t pointerOfPosition(QnlState& st, const std::string& pos, int& key, std::string& entry) {
        key = -1;
        if (pos.size() == 6 && pos.compare(0, 2, "QF") == 0)
            return get32(reinterpret_cast<const std::uint8_t*>(pos.data() + 2));
        if (pos.size() > 7 && pos.compare(0, 2, "QK") == 0) {
            key = static_cast<unsigned char>(pos[2]);
            if (key >= static_cast<int>(st.table.schema().keys.size())) return 0;
            entry = pos.substr(3);
            KeyCodec c(st.table.schema(), static_cast<std::size_t>(key));
            if (entry.size() != c.entrySize()) return 0;
            return get32(reinterpret_cast<const std::uint8_t*>(entry.data() + c.keySize()));
        }
        return 0;
    }

    std::string keyPosition(QnlState& st, int key) {
        KeyCodec c(st.table.schema(), static_cast<std::size_t>(key));
        std::string p = "QK";
        p += static_cast<char>(key);
        std::string e(c.entrySize(), '\0');
        c.extract(st.currentBytes, reinterpret_cast<std::uint8_t*>(e.data()));
        put32(reinterpret_cast<std::uint8_t*>(e.data() + c.keySize()), st.current);
        return p + e;
    }

    int open(int operation, FileDecl& file, OpArgs& args) {
        if (file.isOpen()) return err::FileAlreadyOpen;
        int mode = args.mode;
        if (operation == op::SHARE && (mode & openmode::ShareMask) == 0) mode |= openmode::DenyNone;
        std::string path;
        if (int c = pathOf(file, path)) return c;
        Schema mine = schemaOf(file);
        if (!mine.validate().empty()) return err::InvalidRecordDeclaration;
        auto st = std::make_unique<QnlState>();
        st->table.pager().setCorruptionHook(reportCorruption);
        st->table.pager().setSyncMode(syncOption(file.driverOptions));
        int rc = st->table.open(path, (mode & openmode::AccessMask) == openmode::ReadOnly);
        if (rc != 0) return engine(rc, args);
        int share = sharelock::acquire(st->table.pager().fd(), mode);
        if (share != 0) return share < 0 ? systemFailure(args, -share) : share;
        if (!mine.compatibleWith(st->table.schema())) return err::InvalidRecordDeclaration;
        st->path = path;
        st->mode = mode;
        file.state = std::move(st);
        return 0;
    }

    int run(int operation, FileDecl& file, QnlState* st, OpArgs& args) {
        switch (operation) {
        case op::OPEN:
        case op::SHARE:
            return open(operation, file, args);
        case op::CREATE: {
            if (!file.hasAttribute(fileattr::Create)) return err::NoCreateAttribute;
            if (file.isOpen()) return err::FileAlreadyOpen;
            std::string path;
            if (int c = pathOf(file, path)) return c;
            // Replacing a file must not pull it away from under another opener.
            if (::access(path.c_str(), F_OK) == 0) {
                Table probe;
                if (probe.open(path) == 0) {
                    if (int r =
                            sharelock::acquire(probe.pager().fd(), openmode::ReadWrite | openmode::DenyAll))
                        return r < 0 ? systemFailure(args, -r) : r;
                }
            }
            return engine(Table::create(path, schemaOf(file), true), args);
        }
        case op::CLOSE:
            if (st->inTransaction) {
                st->table.pager().dropTransaction();
                leaveGroup(st);
            }
            file.state.reset();
            return 0;
        case op::NAME:
            args.textOut = file.fileName();
            return 0;
        case op::SEND: {
            // "Recover=n": how long a dead station's hold blocks. Holds are locks of the system,
            // which end with their process, so a dead station never blocks; the value is kept.
            std::string cmd = args.text;
            auto eq = cmd.find('=');
            std::string word = upper(cmd.substr(0, eq));
            std::string value = eq == std::string::npos ? std::string() : cmd.substr(eq + 1);
            args.textOut.clear();
            if (!st) return 0;
            if (word == "RECOVER") {
                args.textOut = st->recover;
                if (eq != std::string::npos) st->recover = value;
            } else if (word == "QUICKSCAN") {
                args.textOut = st->quickScan;
                if (eq != std::string::npos) st->quickScan = upper(value);
            } else if (word == "CACHEPAGES") {
                // The page cache of this handle, in pages of 4096 bytes; a value that is not a
                // positive number leaves it as it is.
                Pager& pager = st->table.pager();
                args.textOut = std::to_string(pager.cacheSize());
                char* end = nullptr;
                long n = eq == std::string::npos ? 0 : std::strtol(value.c_str(), &end, 10);
                if (n > 0 && end && *end == 0) pager.setCacheSize(static_cast<std::size_t>(n));
            }
            return 0;
        }
        case op::REMOVE:
        case op::RENAME:
        case op::COPY:
            return wholeFile(operation, file, args);
        case op::QUERY_VIEW:
            return err::UnsupportedFunction;
        default:
            break;
        }
        QnlState& s = *st;
        switch (operation) {
        case op::STREAM:
            return 0;
        case op::FLUSH:
            return engine(s.table.flush(), args);
        case op::BYTES:
            args.bytesOut = s.lastBytes >= 0 ? s.lastBytes : 0;
            if (s.lastBytes < 0) {
                TableStats t;
                if (s.table.stats(t) == 0) args.bytesOut = static_cast<std::int64_t>(t.fileBytes);
            }
            return 0;
        case op::NOMEMO:
            s.noMemo = true;
            return 0;

        // Sequence.
        case op::SETfile:
            s.cursor = std::make_unique<Cursor>(s.table, -1);
            s.cursor->setFirst();
            return 0;
        case op::SETfileptr:
            s.cursor = std::make_unique<Cursor>(s.table, -1);
            s.cursor->setPointer(args.pointer);
            return 0;
        case op::SETfilekey: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            std::uint32_t ptr = 0;
            int rc = s.table.findKey(args.key, file.buffer(), ptr);
            if (rc != 0 && rc != err::RecordNotFound) return engine(rc, args);
            s.cursor = std::make_unique<Cursor>(s.table, -1);
            s.cursor->setPointer(ptr ? ptr : 0xFFFFFFFFu);
            return 0;
        }
        case op::SETkey:
        case op::SETkeykey:
        case op::SETkeyptr:
        case op::SETkeykeyptr: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            auto c = std::make_unique<Cursor>(s.table, args.key);
            if (operation == op::SETkey) {
                c->setFirst();
            } else if (operation == op::SETkeyptr) {
                RecordData r;
                int rc = s.table.get(args.pointer, r);
                if (rc != 0) return engine(rc, args);
                c->setValue(r.bytes, args.pointer);
            } else {
                c->setValue(file.buffer(), operation == op::SETkeykeyptr ? args.pointer : 0);
            }
            s.cursor = std::move(c);
            return 0;
        }
        case op::NEXT:
        case op::PREVIOUS: {
            if (!s.mayRead()) return err::AccessDenied;
            RecordData r;
            std::uint32_t ptr = 0;
            s.table.setReadMemos(!s.noMemo);
            Cursor& c = cursorOf(s);
            int rc = operation == op::NEXT ? c.next(r, ptr) : c.previous(r, ptr);
            if (rc != 0) return engine(rc, args);
            took(file, s, ptr, r);
            return 0;
        }
        case op::SKIP: {
            Cursor& c = cursorOf(s);
            s.table.setReadMemos(false);
            RecordData r;
            std::uint32_t ptr;
            for (std::int32_t i = 0; i < std::abs(args.count); ++i) {
                int rc = args.count > 0 ? c.next(r, ptr) : c.previous(r, ptr);
                if (rc == err::RecordNotAvailable) break;
                if (rc != 0) return engine(rc, args);
            }
            s.table.setReadMemos(true);
            return 0;
        }
        case op::EOF_:
        case op::BOF: {
            Cursor probe = cursorOf(s);
            RecordData r;
            std::uint32_t ptr;
            s.table.setReadMemos(false);
            int rc = operation == op::EOF_ ? probe.next(r, ptr) : probe.previous(r, ptr);
            s.table.setReadMemos(true);
            if (rc != 0 && rc != err::RecordNotAvailable) return engine(rc, args);
            args.flag = rc == err::RecordNotAvailable;
            return 0;
        }

        // Direct reads.
        case op::GETfilekey: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            std::uint32_t ptr = 0;
            int rc = s.table.findKey(args.key, file.buffer(), ptr);
            if (rc != 0) return engine(rc, args);
            return readPointer(file, s, ptr, args);
        }
        case op::GETfileptr:
        case op::GETfileptrlen:
            return readPointer(file, s, args.pointer, args);
        case op::GETkeyptr:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            return readPointer(file, s, args.pointer, args);
        case op::REGETfile:
        case op::REGETkey: {
            int key;
            std::string entry;
            std::uint32_t ptr = pointerOfPosition(s, args.position, key, entry);
            if (ptr == 0) return err::RecordNotFound;
            return readPointer(file, s, ptr, args);
        }
        case op::POINTERfile:
        case op::POINTERkey:
            if (!s.current) return err::RecordNotAvailable;
            args.pointerOut = s.current;
            return 0;
        case op::POSITIONfile:
            if (!s.current) return err::RecordNotAvailable;
            args.positionOut = filePosition(s.current);
            return 0;
        case op::POSITIONkey:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            if (!s.current) return err::RecordNotAvailable;
            args.positionOut = keyPosition(s, args.key);
            return 0;
        case op::RESETfile:
        case op::RESETkey: {
            int key;
            std::string entry;
            std::uint32_t ptr = pointerOfPosition(s, args.position, key, entry);
            if (ptr == 0) return err::RecordNotFound;
            int want = operation == op::RESETkey ? args.key : key;
            if (operation == op::RESETkey && !validKey(file, want)) return err::InvalidKeyFile;
            auto c = std::make_unique<Cursor>(s.table, want);
            if (want < 0) {
                c->setPointer(ptr);
            } else if (key == want) {
                if (int rc = c->reset(entry)) return rc;
            } else {
                // A file position reset into a key order: the record's own entry in that key.
                RecordData r;
                int rc = s.table.get(ptr, r);
                if (rc != 0) return engine(rc, args);
                c->setValue(r.bytes, ptr);
            }
            s.cursor = std::move(c);
            return 0;
        }
        case op::RECORDSfile: {
            std::uint32_t n = 0;
            int rc = s.table.records(n);
            args.records = n;
            return engine(rc, args);
        }
        case op::RECORDSkey: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            std::uint32_t n = 0;
            int rc = s.table.keyEntries(args.key, n);
            args.records = n;
            return engine(rc, args);
        }

        // Writes.
        case op::ADD:
        case op::APPEND:
        case op::ADDfilelen:
        case op::APPENDlen: {
            if (!s.mayWrite()) return err::AccessDenied;
            RecordData r = fromBuffer(file);
            std::uint32_t ptr = 0;
            int rc = s.table.add(r, ptr);
            if (rc != 0) return engine(rc, args);
            s.current = ptr;
            s.currentBytes = r.bytes;
            s.currentVersion = r.version;
            s.watched = false;
            return 0;
        }
        case op::PUT:
        case op::PUTfileptr:
        case op::PUTfileptrlen: {
            if (!s.mayWrite()) return err::AccessDenied;
            std::uint32_t ptr = operation == op::PUT ? s.current : args.pointer;
            if (!ptr) return err::RecordNotAvailable;
            RecordData r = fromBuffer(file);
            bool watch = s.watched && ptr == s.current;
            r.version = s.currentVersion;
            int rc = s.table.put(ptr, r, watch);
            if (rc != 0) return engine(rc, args);
            s.current = ptr;
            s.currentBytes = r.bytes;
            s.currentVersion = r.version;
            return 0;
        }
        case op::DELETE: {
            if (!s.mayWrite()) return err::AccessDenied;
            if (!s.current) return err::RecordNotAvailable;
            int rc = s.table.erase(s.current);
            if (rc != 0) return engine(rc, args);
            s.current = 0;
            s.watched = false;
            return 0;
        }

        // Holds, locks, watching.
        case op::HOLDfile:
        case op::HOLDfilesec: {
            if (!s.current) return err::RecordNotAvailable;
            if (s.table.holding(s.current)) return 0;
            s.table.releaseAll();
            int ms = operation == op::HOLDfilesec ? std::max(0, args.seconds) * 1000 : 0;
            return engine(s.table.hold(s.current, ms), args);
        }
        case op::RELEASE:
            s.table.releaseAll();
            return 0;
        case op::WATCH:
            s.watchArmed = true;
            return 0;
        case op::LOCKfile:
        case op::LOCKfilesec: {
            if (s.locked) return 0;
            int r =
                sharelock::lockFile(s.table.pager().fd(), operation == op::LOCKfilesec ? args.seconds : 0);
            if (r == 0) s.locked = true;
            return r;
        }
        case op::UNLOCK:
            if (s.locked) sharelock::unlockFile(s.table.pager().fd());
            s.locked = false;
            return 0;

        // Transactions.
        case op::LOGOUT: {
            if (s.inTransaction) return err::LogoutAlreadyActive;
            if (!s.mayWrite()) return err::AccessDenied;
            if (!group || group->ended) {
                group = std::make_unique<Group>();
                group->controlFile = controlFilePathFor(s.path);
                ControlFile cf; // checked, and a crashed transaction's log processed, first
                int rc = cf.open(group->controlFile);
                if (rc != 0) {
                    group.reset();
                    return engine(rc, args);
                }
            }
            if (args.seconds > 0) s.table.pager().setLockTimeout(args.seconds * 1000);
            int rc = s.table.pager().beginTransaction();
            s.table.pager().setLockTimeout(10000);
            if (rc != 0) {
                if (group->files.empty()) group.reset();
                return engine(rc, args);
            }
            s.inTransaction = true;
            group->files.push_back(&s);
            return 0;
        }
        case op::COMMIT:
        case op::ROLLBACK: {
            if (!s.inTransaction || !group) return err::LogoutNotActive;
            if (!group->ended) {
                std::vector<Pager*> pagers;
                for (QnlState* f : group->files) pagers.push_back(&f->table.pager());
                if (operation == op::COMMIT)
                    group->result = commitTransaction(pagers, group->controlFile);
                else
                    rollbackTransaction(pagers);
                if (group->result == err::FileSystemError) args.systemError = fileErrorCode() - 300;
                group->ended = true;
            }
            int rc = operation == op::COMMIT ? group->result : 0;
            leaveGroup(&s);
            return rc;
        }

        // Keys and the file as a whole.
        case op::BUILDfile:
        case op::BUILDkey:
        case op::BUILDdyn:
        case op::BUILDdynfilter:
            if (!s.mayWrite()) return err::AccessDenied;
            return engine(s.table.build(), args);
        case op::DUPLICATE:
        case op::DUPLICATEkey: {
            args.flag = false;
            for (std::size_t k = 0; k < file.keys.size(); ++k) {
                if (operation == op::DUPLICATEkey && static_cast<int>(k) != args.key) continue;
                if (file.keys[k].dup()) continue;
                std::uint32_t ptr = 0;
                int rc = s.table.findKey(static_cast<int>(k), file.buffer(), ptr);
                if (rc == 0 && ptr != s.current)
                    args.flag = true;
                else if (rc != 0 && rc != err::RecordNotFound)
                    return engine(rc, args);
            }
            clearError();
            return 0;
        }
        case op::EMPTY:
        case op::PACK: {
            if (!s.exclusive()) return err::ExclusiveAccessRequired;
            if (!s.mayWrite()) return err::AccessDenied;
            int rc = operation == op::EMPTY ? s.table.empty() : s.table.pack();
            if (rc != 0) return engine(rc, args);
            s.current = 0;
            s.cursor.reset();
            return 0;
        }
        default:
            return err::UnsupportedFunction;
        }
    }

    int wholeFile(int operation, FileDecl& file, OpArgs& args) {
        if (file.isOpen()) return err::FileAlreadyOpen;
        std::string path, target;
        if (int c = pathOf(file, path)) return c;
        if (operation != op::REMOVE) {
            if (int c = systemPath(args.text, target)) return c;
            target = withDefaultExtension(target);
        }
        Table t;
        int rc = t.open(path, operation == op::COPY);
        if (rc != 0) return engine(rc, args);
        int mode = operation == op::COPY ? openmode::ReadOnly | openmode::DenyWrite
                                         : openmode::ReadWrite | openmode::DenyAll;
        if (int r = sharelock::acquire(t.pager().fd(), mode)) return r < 0 ? systemFailure(args, -r) : r;
        std::string journal = path + ".jnl", log = path + ".wal";
        if (operation == op::REMOVE) {
            if (::unlink(path.c_str()) != 0) return openFailure(args, errno);
            ::unlink(journal.c_str());
            ::unlink(log.c_str());
            return 0;
        }
        if (operation == op::RENAME) {
            // The renamed file must hold every commit by itself: its log stays behind.
            if (int c = t.pager().checkpointAll()) return engine(c, args);
            if (::rename(path.c_str(), target.c_str()) != 0) return openFailure(args, errno);
            ::unlink(journal.c_str());
            ::unlink(log.c_str());
            ::unlink((target + ".wal").c_str());
            return 0;
        }
        // COPY: the committed pages, read under the read lock so no write is caught half done.
        if (int b = t.pager().beginRead()) return engine(b, args);
        std::uint32_t pages = t.pager().pageCount();
        std::vector<std::uint8_t> all;
        int e = 0;
        for (std::uint32_t pg = 0; pg < pages && e == 0; ++pg) {
            const std::uint8_t* p = t.pager().get(pg, e);
            if (p) all.insert(all.end(), p, p + PageSize);
        }
        t.pager().endRead();
        if (e != 0) return engine(e, args);
        std::string tmp = target + ".new" + std::to_string(::getpid());
        int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) return openFailure(args, errno);
        bool ok = writeAt(out, all.data(), all.size(), 0) == static_cast<std::int64_t>(all.size()) &&
                  ::fsync(out) == 0;
        int keep = errno;
        ::close(out);
        if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
            if (ok) keep = errno;
            ::unlink(tmp.c_str());
            return systemFailure(args, keep);
        }
        for (const char* ext : {".jnl", ".wal"}) ::unlink((target + ext).c_str());
        return 0;
    }
};

} // namespace

std::shared_ptr<Driver> makeQuarnellDriver() {
    setControlFileHook(reportControlFile);
    return std::make_shared<QuarnellDriver>();
}

} // namespace sorv
