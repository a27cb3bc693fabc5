// The file manager's opening, priming, numbering, writing and reading, per thread.
#include "framework/filemanager.h"

#include "data/files.h"
#include "framework/errormanager.h"
#include "runtime/errors.h"
#include "runtime/halt.h"
#include "runtime/registry.h"
#include "windowing/threads.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace sorv::fw {

namespace {

constexpr int MsgFileAccess = 23;
// The file error of a connection to where the file lives (a database server, a network share)
// that broke or could not be made ("Unexpected Network Error").
constexpr int LostConnection = 359;

std::function<void(const FileManager&, std::string_view)> traceHook;
std::mutex traceMutex;

// Sets a key component to the far end of its type, so that a key search lands after (high) or
// before (low) every record sharing the components before it.
void setExtreme(const FieldDesc& f, std::span<std::uint8_t> buffer, bool high) {
    std::int64_t value = 0;
    switch (f.type) {
    case FieldType::Byte:
        value = high ? 255 : 0;
        break;
    case FieldType::Short:
        value = high ? 32767 : -32768;
        break;
    case FieldType::UShort:
        value = high ? 65535 : 0;
        break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
        value = high ? std::numeric_limits<std::int32_t>::max() : std::numeric_limits<std::int32_t>::min();
        break;
    case FieldType::ULong:
        value = high ? std::numeric_limits<std::uint32_t>::max() : 0;
        break;
    default:
        if (isTextType(f.type)) {
            auto bytes =
                buffer.subspan(f.offset, std::min<std::size_t>(f.totalSize(), buffer.size() - f.offset));
            std::fill(bytes.begin(), bytes.end(), high ? 0xFF : 0x00);
        } else {
            clearField(f, buffer);
        }
        return;
    }
    writeField(f, buffer, Value(value));
}

} // namespace

struct FileManager::Shared {
    std::mutex mutex;
    FileManager* owner = nullptr;
};

FileManager::FileManager() : shared_(std::make_shared<Shared>()) {}

FileManager::~FileManager() {
    if (haltStep_) removeHaltHandler(haltStep_);
    std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr;
}

void FileManager::setTraceHook(std::function<void(const FileManager&, std::string_view)> hook) {
    std::lock_guard lock(traceMutex);
    traceHook = std::move(hook);
}

void FileManager::trace(std::string_view what) const {
    std::function<void(const FileManager&, std::string_view)> hook;
    {
        std::lock_guard lock(traceMutex);
        hook = traceHook;
    }
    if (hook) hook(*this, what);
}

void FileManager::Init(ThreadedFile& file, ErrorManager& errors, std::string_view fileNameValue) {
    threaded_ = &file;
    single_ = nullptr;
    bound_ = &file;
    ERRORS = &errors;
    FILENAMEVALUE = std::string(fileNameValue.substr(0, 256));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->owner = this;
    }
    if (!haltStep_) haltStep_ = addHaltHandler([this] { closeForHalt(); });
    std::weak_ptr<Shared> weak = shared_;
    // Each thread's declaration gets its names bound in that thread's registry, and a procedure
    // thread drops it (closing what the procedure left open) when it ends.
    file.setFirstUseHook([weak](FileDecl& decl) {
        threadNames().bindRecord(decl.record);
        auto state = win::currentThreadState();
        if (!state) return;
        std::thread::id id = std::this_thread::get_id();
        state->buffers.push_back([weak, id] {
            auto shared = weak.lock();
            if (!shared) return;
            std::lock_guard lock(shared->mutex);
            if (shared->owner) shared->owner->threadEnded(id);
        });
    });
}

void FileManager::Init(FileDecl& file, ErrorManager& errors, std::string_view fileNameValue) {
    threaded_ = nullptr;
    single_ = &file;
    bound_ = &file;
    ERRORS = &errors;
    FILENAMEVALUE = std::string(fileNameValue.substr(0, 256));
    if (!haltStep_) haltStep_ = addHaltHandler([this] { closeForHalt(); });
    std::lock_guard lock(shared_->mutex);
    shared_->owner = this;
    globalNames().bindRecord(file.record);
}

void FileManager::Kill() {
    if (!bound_) return;
    if (haltStep_) removeHaltHandler(std::exchange(haltStep_, 0));
    FileDecl& f = file();
    if (f.isOpen()) close(f);
    if (threaded_) {
        threaded_->setFirstUseHook(nullptr);
        threadNames().unbindRecord(f.record);
        threaded_->release();
    } else {
        globalNames().unbindRecord(f.record);
    }
    {
        std::lock_guard lock(mutex_);
        threads_.clear();
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->owner = nullptr;
    }
    KEYS.clear();
    HASAUTOINC = false;
    threaded_ = nullptr;
    single_ = nullptr;
    bound_ = nullptr;
}

// The program halts (a fatal message): whatever is open, on any thread, is closed, so that nothing
// written is left unflushed or a transaction half-way. The halting thread holds the runtime lock.
void FileManager::closeForHalt() {
    auto closeOne = [this](FileDecl& f) {
        if (!f.isOpen()) return;
        close(f);
        trace("Close File");
    };
    if (threaded_)
        threaded_->forEachThread(closeOne);
    else if (single_)
        closeOne(*single_);
}

void FileManager::threadEnded(std::thread::id id) {
    if (threaded_) {
        FileDecl& f = threaded_->get();
        if (f.isOpen()) close(f);
        threadNames().unbindRecord(f.record);
        threaded_->release();
    }
    std::lock_guard lock(mutex_);
    threads_.erase(id);
}

void FileManager::AddKey(int key, std::string_view description, bool autoNumber) {
    FileKey k;
    k.KEY = key;
    k.DESCRIPTION = std::string(description.substr(0, 80));
    const FileDecl& f = file();
    if (key >= 0 && key < static_cast<int>(f.keys.size())) {
        k.FIELDS = f.keys[static_cast<std::size_t>(key)].components;
        if (autoNumber && !k.FIELDS.empty()) {
            k.AUTOFIELD = static_cast<int>(k.FIELDS.size());
            HASAUTOINC = true;
        }
    }
    KEYS.push_back(std::move(k));
}

FileDecl& FileManager::file() {
    if (threaded_) return threaded_->get();
    if (single_) return *single_;
    static FileDecl none;
    return none;
}

FileManager::PerThread& FileManager::perThread() {
    std::lock_guard lock(mutex_);
    return threads_[std::this_thread::get_id()];
}

FileThreadInfo& FileManager::info() {
    return perThread().info;
}

// Opening and closing.

Level FileManager::realOpen(bool report) {
    FileDecl& f = file();
    FileThreadInfo& in = info();
    int mode = OPENMODE;
    for (int attempt = 0; attempt < 2; ++attempt) {
        open(f, mode);
        if (errorCode() == err::AccessDenied) {
            send(f, "Recover=" + std::to_string(LOCKRECOVER));
            open(f, mode);
        }
        const int code = errorCode();
        if (code == 0 || code == err::FileAlreadyOpen) {
            in.OPENED = true;
            in.ATEOF = false;
            in.AUTOINCDONE = false;
            clearError();
            trace("Real File Open");
            AfterRealOpen();
            return LevelNone;
        }
        if (code == err::AccessDenied) {
            if ((mode & openmode::AccessMask) == openmode::ReadOnly) break;
            mode &= ~openmode::AccessMask;
            if (report)
                Raise(2);
            else
                RecordErrorNumber(2);
            continue;
        }
        if (code == err::FileNotFound) {
            if (!CREATE) break;
            create(f);
            if (errorCode() != 0) {
                if (report) return Raise(10);
                RecordErrorNumber(10);
                return LevelNotify;
            }
            continue;
        }
        if (code == err::KeyFileMustBeRebuilt) {
            if (!report) {
                RecordErrorNumber(27);
                return LevelNotify;
            }
            Raise(27);
            open(f, openmode::ReadWrite | openmode::DenyAll);
            if (errorCode() == 0) {
                build(f);
                int built = errorCode();
                close(f);
                setError(built);
            }
            if (errorCode() != 0) return Raise(26);
            continue;
        }
        break;
    }
    if (report) return Raise(MsgFileAccess);
    RecordErrorNumber(MsgFileAccess);
    return LevelFatal;
}

Level FileManager::Open() {
    FileThreadInfo& in = info();
    ++in.USECOUNT;
    if (LAZYOPEN || (in.OPENED && file().isOpen())) return LevelNone;
    std::uint16_t id = SaveRecordBuffer();
    Level r = realOpen(true);
    RestoreSavedBuffer(id, true);
    // A failed open has no user to count: the next Close must not close someone else's open.
    if (r != LevelNone) --in.USECOUNT;
    return r;
}

Level FileManager::EnsureFileOpen() {
    FileThreadInfo& in = info();
    if (in.OPENED && file().isOpen()) return LevelNone;
    if (in.USECOUNT < 1) return Raise(39);
    // The caller may have prepared a record already: the open must not disturb it.
    std::uint16_t id = SaveRecordBuffer();
    Level r = realOpen(true);
    RestoreSavedBuffer(id, true);
    return r;
}

Level FileManager::Close() {
    FileThreadInfo& in = info();
    if (in.USECOUNT == 0) return LevelNotify;
    if (--in.USECOUNT > 0) return LevelNone;
    FileDecl& f = file();
    if (f.isOpen()) close(f);
    if (in.OPENED) trace("Close File");
    in.OPENED = false;
    return LevelNone;
}

// Errors.

void FileManager::RecordErrorNumber(int number) {
    info().LASTERROR = static_cast<std::uint8_t>(number);
    if (ERRORS) ERRORS->CaptureErrorState();
}

Level FileManager::Raise(int number) {
    RecordErrorNumber(number);
    return dispatch(number);
}

Level FileManager::RaiseCurrentError() {
    return dispatch(info().LASTERROR);
}

Level FileManager::dispatch(int number) {
    if (!ERRORS) return LevelNotify;
    ERRORS->SetFileName(FILENAMEVALUE);
    // A file that cannot be opened ends the program, but one whose server cannot be reached is not
    // at fault: the user is told, and the next use opens it once the server answers again.
    if (number == MsgFileAccess && ERRORS->SAVEERRORCODE == err::FileSystemError &&
        ERRORS->SAVEFILEERRORCODE == std::to_string(LostConnection))
        return ERRORS->HandleErrorAsNotice(number);
    return ERRORS->HandleError(number);
}

Level FileManager::RaiseWithText(int number, std::string_view text) {
    if (ERRORS) ERRORS->MESSAGETEXT = std::string(text.substr(0, 255));
    return Raise(number);
}

// Saved buffers.

std::uint16_t FileManager::SaveRecordBuffer() {
    FileDecl& f = file();
    Saved s;
    s.bytes.assign(f.buffer().begin(), f.buffer().end());
    s.memos = f.memoValues;
    PerThread& t = perThread();
    std::lock_guard lock(mutex_);
    do {
        ++nextSaved_;
    } while (nextSaved_ == 0 || t.saved.count(nextSaved_));
    t.saved[nextSaved_] = std::move(s);
    return nextSaved_;
}

void FileManager::RestoreSavedBuffer(std::uint16_t id, bool restore) {
    PerThread& t = perThread();
    Saved s;
    {
        std::lock_guard lock(mutex_);
        auto it = t.saved.find(id);
        if (it == t.saved.end()) return;
        s = std::move(it->second);
        t.saved.erase(it);
    }
    if (!restore) return;
    FileDecl& f = file();
    auto b = f.buffer();
    std::copy_n(s.bytes.begin(), std::min(s.bytes.size(), b.size()), b.begin());
    f.memoValues = std::move(s.memos);
    f.memoValues.resize(f.memos.size());
}

bool FileManager::BufferUnchanged(std::uint16_t id) {
    PerThread& t = perThread();
    FileDecl& f = file();
    std::lock_guard lock(mutex_);
    auto it = t.saved.find(id);
    if (it == t.saved.end()) return false;
    auto b = f.buffer();
    if (!std::equal(b.begin(), b.end(), it->second.bytes.begin(), it->second.bytes.end())) return false;
    std::vector<std::string> memos = f.memoValues, savedMemos = it->second.memos;
    memos.resize(f.memos.size());
    savedMemos.resize(f.memos.size());
    return memos == savedMemos;
}

// Priming and automatic numbers.

Level FileManager::PrimeBuffer(bool keepBuffer) {
    if (ALIASEDFILE) {
        Level r = ALIASEDFILE->PrimeBuffer(keepBuffer);
        auto from = ALIASEDFILE->buffer();
        auto to = buffer();
        std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
        return r;
    }
    if (!keepBuffer) {
        FileDecl& f = file();
        f.record.clear();
        f.memoValues.assign(f.memos.size(), std::string());
    }
    PrimeNewRecord();
    if (HASAUTOINC) return ReserveAutoNumber();
    return LevelNone;
}

Level FileManager::ReserveAutoNumber() {
    return reserve(true);
}

Level FileManager::TryReserveAutoNumber() {
    return reserve(false);
}

Level FileManager::reserve(bool report) {
    if (Level r = EnsureFileOpen()) return r;
    FileThreadInfo& in = info();
    if (!HASAUTOINC || in.AUTOINCDONE) return LevelNone;
    FileDecl& f = file();
    const Layout& layout = f.layout();
    for (;;) {
        for (int tries = 0; tries < 3; ++tries) {
            for (const FileKey& k : KEYS) {
                if (k.AUTOFIELD == 0) continue;
                const KeyDecl& decl = f.keys[static_cast<std::size_t>(k.KEY)];
                const std::size_t numbered = static_cast<std::size_t>(k.AUTOFIELD - 1);
                const FieldDesc& target =
                    layout.field(static_cast<std::size_t>(decl.components[numbered].field));
                const bool descending = decl.components[numbered].descending;
                std::uint16_t id = SaveRecordBuffer();
                std::vector<std::uint8_t> prepared(f.buffer().begin(), f.buffer().end());
                noMemo(f);
                if (decl.components.size() == 1) {
                    setKey(f, k.KEY);
                } else {
                    // The leading components stay as the caller set them; the numbered one and any
                    // after it go to the end of their group in the key's order.
                    for (std::size_t c = numbered; c < decl.components.size(); ++c) {
                        const FieldDesc& fd =
                            layout.field(static_cast<std::size_t>(decl.components[c].field));
                        bool high =
                            descending ? decl.components[c].descending : !decl.components[c].descending;
                        setExtreme(fd, f.buffer(), high);
                    }
                    setKeyValue(f, k.KEY);
                }
                // The highest number is last in an ascending component, first in a descending one.
                if (errorCode() == 0) {
                    if (descending)
                        next(f);
                    else
                        previous(f);
                }
                const int code = errorCode();
                std::int64_t value = 1;
                if (code == 0) {
                    bool sameGroup = true;
                    for (std::size_t c = 0; c < numbered && sameGroup; ++c) {
                        const FieldDesc& fd =
                            layout.field(static_cast<std::size_t>(decl.components[c].field));
                        sameGroup = compareField(fd, f.buffer(), prepared) == 0;
                    }
                    if (sameGroup) value = readField(target, f.buffer()).toLong() + 1;
                } else if (code != err::RecordNotAvailable) {
                    Level r = LevelNotify;
                    if (report)
                        r = Raise(1);
                    else
                        RecordErrorNumber(1);
                    RestoreSavedBuffer(id, true);
                    return report ? r : LevelNotify;
                }
                RestoreSavedBuffer(id, true);
                writeField(target, f.buffer(), Value(value));
            }
            add(f);
            if (errorCode() == 0) {
                in.AUTOINCDONE = true;
                in.RESERVEDPTR = pointer(f);
                in.RESERVEDPOSITION = position(f);
                clearError();
                return LevelNone;
            }
        }
        if (!report) {
            RecordErrorNumber(32);
            return LevelNotify;
        }
        if (Raise(32) != LevelNone) return LevelNotify;
    }
}

void FileManager::ClearAutoNumber() {
    FileThreadInfo& in = info();
    in.AUTOINCDONE = false;
    in.RESERVEDPTR = 0;
    in.RESERVEDPOSITION.clear();
}

// Writing.

Level FileManager::Insert() {
    if (EnsureFileOpen()) return LevelFatal;
    if (CheckRecordInView()) return LevelNotify;
    FileThreadInfo& in = info();
    if (HASAUTOINC && !in.AUTOINCDONE)
        if (Level r = ReserveAutoNumber()) return r;
    FileDecl& f = file();
    // The reserved record is written by its pointer: reads since the reservation (a lookup of
    // this file on the same thread) may have moved the current record elsewhere.
    if (in.AUTOINCDONE)
        put(f, in.RESERVEDPTR);
    else
        add(f);
    const int code = errorCode();
    if (code == 0) {
        ClearAutoNumber();
        return LevelNone;
    }
    if (code == err::DuplicateKey) {
        std::string description;
        for (const FileKey& k : KEYS) {
            if (f.keys[static_cast<std::size_t>(k.KEY)].dup()) continue;
            if (duplicate(f, k.KEY)) {
                description = k.DESCRIPTION;
                break;
            }
        }
        // The driver does not count the record read last as a duplicate of itself; when that hides
        // the key, the first unique key is named.
        for (const FileKey& k : KEYS)
            if (description.empty() && !f.keys[static_cast<std::size_t>(k.KEY)].dup())
                description = k.DESCRIPTION;
        setError(err::DuplicateKey);
        RaiseWithText(13, description);
        return LevelNotify;
    }
    return Raise(4);
}

Level FileManager::Update(int mode) {
    if (EnsureFileOpen()) return LevelFatal;
    if (CheckRecordInView()) return LevelNotify;
    FileDecl& f = file();
    std::string kept = position(f);
    put(f);
    const int code = errorCode();
    if (code == 0) return LevelNone;
    if (code == err::RecordChanged) {
        if (mode == 2)
            Raise(7);
        else if (mode == 1)
            Raise(6);
        else
            RecordErrorNumber(6);
        // The buffer now shows the other station's record, watched again for the next try.
        watch(f);
        reget(f, kept);
        return LevelNotify;
    }
    if (mode == 0) {
        RecordErrorNumber(25);
        return LevelNotify;
    }
    return Raise(25);
}

Level FileManager::DeleteRecord(bool report) {
    if (EnsureFileOpen()) return LevelFatal;
    deleteRecord(file());
    if (errorCode() == 0) return LevelNone;
    if (!report) {
        RecordErrorNumber(11);
        return LevelNotify;
    }
    Raise(11);
    return LevelNotify;
}

// Reading.

Level FileManager::readOn(bool forward) {
    if (EnsureFileOpen()) return LevelFatal;
    FileDecl& f = file();
    FileThreadInfo& in = info();
    for (;;) {
        if (forward)
            next(f);
        else
            previous(f);
        const int code = errorCode();
        if (code == 0) {
            in.ATEOF = false;
            return LevelNone;
        }
        if (code == err::RecordNotAvailable) {
            in.ATEOF = true;
            return LevelNotify;
        }
        if (code == err::RecordHeld) {
            if (SKIPHELDRECORDS) continue;
            return Raise(28);
        }
        return Raise(1);
    }
}

Level FileManager::Next() {
    return readOn(true);
}

Level FileManager::Previous() {
    return readOn(false);
}

std::string FileManager::Position() {
    if (EnsureFileOpen()) return {};
    std::string p = position(file());
    if (p.size() > 512) p.resize(512);
    return p;
}

Level FileManager::Reget(const std::string& position, bool report) {
    if (EnsureFileOpen()) return LevelFatal;
    reget(file(), position);
    if (errorCode() == 0) return LevelNone;
    if (report) return Raise(1);
    RecordErrorNumber(1);
    return LevelNotify;
}

Level FileManager::TryFetch(int key) {
    if (EnsureFileOpen()) return LevelFatal;
    get(file(), key);
    return errorCode() == 0 ? LevelNone : LevelNotify;
}

Level FileManager::Fetch(int key) {
    if (Level r = TryFetch(key)) return r == LevelFatal ? r : Raise(1);
    return LevelNone;
}

void FileManager::SwitchQuickScan(bool on) {
    FileDecl& f = file();
    if (!f.isOpen()) return;
    send(f, on ? "QUICKSCAN=on" : "QUICKSCAN=off");
}

// Validation.

Level FileManager::ValidateField(int) {
    return LevelNone;
}

Level FileManager::ValidateRecord(int* failed) {
    const std::size_t count = file().layout().count();
    for (std::size_t i = 1; i <= count; ++i) {
        if (Level r = ValidateField(static_cast<int>(i))) {
            if (failed) *failed = static_cast<int>(i);
            return r;
        }
    }
    if (failed) *failed = 0;
    return LevelNone;
}

} // namespace sorv::fw
