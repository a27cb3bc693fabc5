// The file statements: each is one driver operation whose answer becomes the current error.
#include "data/files.h"

#include "runtime/errors.h"

namespace sorv {

namespace {

int run(int operation, FileDecl& f, OpArgs& a) {
    int code = callDriver(operation, f, a);
    setErrorFrom(code, a);
    return code;
}

void run(int operation, FileDecl& f) {
    OpArgs a;
    run(operation, f, a);
}

OpArgs withKey(int key) {
    OpArgs a;
    a.key = key;
    return a;
}

OpArgs withPointer(std::uint32_t pointer, int key = -1) {
    OpArgs a;
    a.key = key;
    a.pointer = pointer;
    return a;
}

OpArgs withSeconds(std::int32_t seconds) {
    OpArgs a;
    a.seconds = seconds;
    return a;
}

thread_local std::vector<FileDecl*> transactionFiles;
thread_local bool transactionActive = false;

} // namespace

void open(FileDecl& f, int mode) {
    OpArgs a;
    a.mode = mode;
    run(op::OPEN, f, a);
}

void share(FileDecl& f, int mode) {
    OpArgs a;
    a.mode = mode;
    run(op::SHARE, f, a);
}

void create(FileDecl& f) {
    run(op::CREATE, f);
}
void close(FileDecl& f) {
    run(op::CLOSE, f);
}

void set(FileDecl& f) {
    run(op::SETfile, f);
}
void setFileKey(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    run(op::SETfilekey, f, a);
}
void setPointer(FileDecl& f, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer);
    run(op::SETfileptr, f, a);
}
void setKey(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    run(op::SETkey, f, a);
}
void setKeyValue(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    run(op::SETkeykey, f, a);
}
void setKeyPointer(FileDecl& f, int key, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer, key);
    run(op::SETkeyptr, f, a);
}
void setKeyValuePointer(FileDecl& f, int key, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer, key);
    run(op::SETkeykeyptr, f, a);
}
void next(FileDecl& f) {
    run(op::NEXT, f);
}
void previous(FileDecl& f) {
    run(op::PREVIOUS, f);
}
void skip(FileDecl& f, std::int32_t count) {
    OpArgs a;
    a.count = count;
    run(op::SKIP, f, a);
}
bool eof(FileDecl& f) {
    OpArgs a;
    return run(op::EOF_, f, a) == 0 && a.flag;
}
bool bof(FileDecl& f) {
    OpArgs a;
    return run(op::BOF, f, a) == 0 && a.flag;
}

void get(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    run(op::GETfilekey, f, a);
}
void getPointer(FileDecl& f, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer);
    run(op::GETfileptr, f, a);
}
void getPointer(FileDecl& f, std::uint32_t pointer, std::uint32_t length) {
    OpArgs a = withPointer(pointer);
    a.length = length;
    run(op::GETfileptrlen, f, a);
}
void getKeyPointer(FileDecl& f, int key, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer, key);
    run(op::GETkeyptr, f, a);
}
void reget(FileDecl& f, const std::string& position) {
    OpArgs a;
    a.position = position;
    run(op::REGETfile, f, a);
}
void reget(FileDecl& f, int key, const std::string& position) {
    OpArgs a = withKey(key);
    a.position = position;
    run(op::REGETkey, f, a);
}
void noMemo(FileDecl& f) {
    run(op::NOMEMO, f);
}

void add(FileDecl& f) {
    run(op::ADD, f);
}
void add(FileDecl& f, std::uint32_t length) {
    OpArgs a;
    a.length = length;
    run(op::ADDfilelen, f, a);
}
void append(FileDecl& f) {
    run(op::APPEND, f);
}
void append(FileDecl& f, std::uint32_t length) {
    OpArgs a;
    a.length = length;
    run(op::APPENDlen, f, a);
}
void put(FileDecl& f) {
    run(op::PUT, f);
}
void put(FileDecl& f, std::uint32_t pointer) {
    OpArgs a = withPointer(pointer);
    run(op::PUTfileptr, f, a);
}
void put(FileDecl& f, std::uint32_t pointer, std::uint32_t length) {
    OpArgs a = withPointer(pointer);
    a.length = length;
    run(op::PUTfileptrlen, f, a);
}
void deleteRecord(FileDecl& f) {
    run(op::DELETE, f);
}

void hold(FileDecl& f) {
    run(op::HOLDfile, f);
}
void hold(FileDecl& f, std::int32_t seconds) {
    OpArgs a = withSeconds(seconds);
    run(op::HOLDfilesec, f, a);
}
void release(FileDecl& f) {
    run(op::RELEASE, f);
}
void watch(FileDecl& f) {
    run(op::WATCH, f);
}
void lock(FileDecl& f) {
    run(op::LOCKfile, f);
}
void lock(FileDecl& f, std::int32_t seconds) {
    OpArgs a = withSeconds(seconds);
    run(op::LOCKfilesec, f, a);
}
void unlock(FileDecl& f) {
    run(op::UNLOCK, f);
}

void logout(std::int32_t seconds, const std::vector<FileDecl*>& files) {
    if (transactionActive) {
        setError(err::LogoutAlreadyActive);
        return;
    }
    std::vector<FileDecl*> started;
    for (FileDecl* f : files) {
        if (!f) continue;
        OpArgs a = withSeconds(seconds);
        int code = callDriver(op::LOGOUT, *f, a);
        if (code != 0) {
            for (FileDecl* s : started) {
                OpArgs r;
                callDriver(op::ROLLBACK, *s, r);
            }
            setErrorFrom(code, a);
            return;
        }
        started.push_back(f);
    }
    transactionFiles = std::move(started);
    transactionActive = true;
    clearError();
}

namespace {
void endTransaction(int operation) {
    if (!transactionActive) {
        setError(err::LogoutNotActive);
        return;
    }
    int first = 0;
    OpArgs firstArgs;
    // Every file is ended, even after one fails, so that no driver stays inside the transaction.
    for (FileDecl* f : transactionFiles) {
        OpArgs a;
        int code = callDriver(operation, *f, a);
        if (code != 0 && first == 0) {
            first = code;
            firstArgs = a;
        }
    }
    transactionFiles.clear();
    transactionActive = false;
    setErrorFrom(first, firstArgs);
}
} // namespace

void commit() {
    endTransaction(op::COMMIT);
}
void rollback() {
    endTransaction(op::ROLLBACK);
}

void build(FileDecl& f) {
    run(op::BUILDfile, f);
}
void build(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    run(op::BUILDkey, f, a);
}
bool duplicate(FileDecl& f) {
    OpArgs a;
    return run(op::DUPLICATE, f, a) == 0 && a.flag;
}
bool duplicate(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    return run(op::DUPLICATEkey, f, a) == 0 && a.flag;
}

std::int64_t records(FileDecl& f) {
    OpArgs a;
    return run(op::RECORDSfile, f, a) == 0 ? a.records : 0;
}
std::int64_t records(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    return run(op::RECORDSkey, f, a) == 0 ? a.records : 0;
}
std::uint32_t pointer(FileDecl& f) {
    OpArgs a;
    return run(op::POINTERfile, f, a) == 0 ? a.pointerOut : 0;
}
std::uint32_t pointer(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    return run(op::POINTERkey, f, a) == 0 ? a.pointerOut : 0;
}
std::string position(FileDecl& f) {
    OpArgs a;
    return run(op::POSITIONfile, f, a) == 0 ? a.positionOut : std::string();
}
std::string position(FileDecl& f, int key) {
    OpArgs a = withKey(key);
    return run(op::POSITIONkey, f, a) == 0 ? a.positionOut : std::string();
}
void reset(FileDecl& f, const std::string& position) {
    OpArgs a;
    a.position = position;
    run(op::RESETfile, f, a);
}
void reset(FileDecl& f, int key, const std::string& position) {
    OpArgs a = withKey(key);
    a.position = position;
    run(op::RESETkey, f, a);
}
std::int64_t bytes(FileDecl& f) {
    OpArgs a;
    return run(op::BYTES, f, a) == 0 ? a.bytesOut : 0;
}

void empty(FileDecl& f) {
    run(op::EMPTY, f);
}
void flush(FileDecl& f) {
    run(op::FLUSH, f);
}
void stream(FileDecl& f) {
    run(op::STREAM, f);
}
void pack(FileDecl& f) {
    run(op::PACK, f);
}
std::string send(FileDecl& f, const std::string& command) {
    OpArgs a;
    a.text = command;
    return run(op::SEND, f, a) == 0 ? a.textOut : std::string();
}
std::string name(FileDecl& f) {
    OpArgs a;
    return run(op::NAME, f, a) == 0 ? a.textOut : std::string();
}
void remove(FileDecl& f) {
    run(op::REMOVE, f);
}
void rename(FileDecl& f, const std::string& newName) {
    OpArgs a;
    a.text = newName;
    run(op::RENAME, f, a);
}
void copy(FileDecl& f, const std::string& newName) {
    OpArgs a;
    a.text = newName;
    run(op::COPY, f, a);
}

bool isNull(FileDecl& f, int field) {
    OpArgs a;
    a.field = field;
    return run(op::NULL_, f, a) == 0 && a.flag;
}
void setNull(FileDecl& f, int field) {
    OpArgs a;
    a.field = field;
    run(op::SETNULL, f, a);
}
void setNonNull(FileDecl& f, int field) {
    OpArgs a;
    a.field = field;
    run(op::SETNONULL, f, a);
}
void setProperty(FileDecl& f, int property, const std::string& value, int index) {
    OpArgs a;
    a.property = property;
    a.propertyIndex = index;
    a.text = value;
    run(op::SET_PROPERTY, f, a);
}
std::string getProperty(FileDecl& f, int property, int index) {
    OpArgs a;
    a.property = property;
    a.propertyIndex = index;
    return run(op::GET_PROPERTY, f, a) == 0 ? a.textOut : std::string();
}

} // namespace sorv
