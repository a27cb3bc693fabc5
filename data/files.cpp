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

// A statement whose arguments are not read afterwards.
int run(int operation, FileDecl& f, OpArgs&& a = OpArgs()) {
    return run(operation, f, a);
}

// A statement's answer, read from its arguments by `out`; empty when the statement failed.
template <typename T> T answer(int operation, FileDecl& f, OpArgs a, T OpArgs::*out) {
    return run(operation, f, a) == 0 ? a.*out : T();
}

// A statement's arguments, set in a chain: Args().withKey(k).withPointer(p).
struct Args : OpArgs {
    Args& withMode(int m) {
        mode = m;
        return *this;
    }
    Args& withKey(int k) {
        key = k;
        return *this;
    }
    Args& withPointer(std::uint32_t p) {
        pointer = p;
        return *this;
    }
    Args& withLength(std::uint32_t l) {
        length = l;
        return *this;
    }
    Args& withSeconds(std::int32_t s) {
        seconds = s;
        return *this;
    }
    Args& withCount(std::int32_t c) {
        count = c;
        return *this;
    }
    Args& withPosition(const std::string& p) {
        position = p;
        return *this;
    }
    Args& withText(const std::string& t) {
        text = t;
        return *this;
    }
    Args& withField(int f) {
        field = f;
        return *this;
    }
    Args& withProperty(int p, int index) {
        property = p;
        propertyIndex = index;
        return *this;
    }
};

thread_local std::vector<FileDecl*> transactionFiles;
thread_local bool transactionActive = false;

} // namespace

void open(FileDecl& f, int mode) {
    run(op::OPEN, f, Args().withMode(mode));
}
void share(FileDecl& f, int mode) {
    run(op::SHARE, f, Args().withMode(mode));
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
    run(op::SETfilekey, f, Args().withKey(key));
}
void setPointer(FileDecl& f, std::uint32_t pointer) {
    run(op::SETfileptr, f, Args().withPointer(pointer));
}
void setKey(FileDecl& f, int key) {
    run(op::SETkey, f, Args().withKey(key));
}
void setKeyValue(FileDecl& f, int key) {
    run(op::SETkeykey, f, Args().withKey(key));
}
void setKeyPointer(FileDecl& f, int key, std::uint32_t pointer) {
    run(op::SETkeyptr, f, Args().withKey(key).withPointer(pointer));
}
void setKeyValuePointer(FileDecl& f, int key, std::uint32_t pointer) {
    run(op::SETkeykeyptr, f, Args().withKey(key).withPointer(pointer));
}
void next(FileDecl& f) {
    run(op::NEXT, f);
}
void previous(FileDecl& f) {
    run(op::PREVIOUS, f);
}
void skip(FileDecl& f, std::int32_t count) {
    run(op::SKIP, f, Args().withCount(count));
}
bool eof(FileDecl& f) {
    return answer(op::EOF_, f, {}, &OpArgs::flag);
}
bool bof(FileDecl& f) {
    return answer(op::BOF, f, {}, &OpArgs::flag);
}

void get(FileDecl& f, int key) {
    run(op::GETfilekey, f, Args().withKey(key));
}
void getPointer(FileDecl& f, std::uint32_t pointer) {
    run(op::GETfileptr, f, Args().withPointer(pointer));
}
void getPointer(FileDecl& f, std::uint32_t pointer, std::uint32_t length) {
    run(op::GETfileptrlen, f, Args().withPointer(pointer).withLength(length));
}
void getKeyPointer(FileDecl& f, int key, std::uint32_t pointer) {
    run(op::GETkeyptr, f, Args().withKey(key).withPointer(pointer));
}
void reget(FileDecl& f, const std::string& position) {
    run(op::REGETfile, f, Args().withPosition(position));
}
void reget(FileDecl& f, int key, const std::string& position) {
    run(op::REGETkey, f, Args().withKey(key).withPosition(position));
}
void noMemo(FileDecl& f) {
    run(op::NOMEMO, f);
}

void add(FileDecl& f) {
    run(op::ADD, f);
}
void add(FileDecl& f, std::uint32_t length) {
    run(op::ADDfilelen, f, Args().withLength(length));
}
void append(FileDecl& f) {
    run(op::APPEND, f);
}
void append(FileDecl& f, std::uint32_t length) {
    run(op::APPENDlen, f, Args().withLength(length));
}
void put(FileDecl& f) {
    run(op::PUT, f);
}
void put(FileDecl& f, std::uint32_t pointer) {
    run(op::PUTfileptr, f, Args().withPointer(pointer));
}
void put(FileDecl& f, std::uint32_t pointer, std::uint32_t length) {
    run(op::PUTfileptrlen, f, Args().withPointer(pointer).withLength(length));
}
void deleteRecord(FileDecl& f) {
    run(op::DELETE, f);
}

void hold(FileDecl& f) {
    run(op::HOLDfile, f);
}
void hold(FileDecl& f, std::int32_t seconds) {
    run(op::HOLDfilesec, f, Args().withSeconds(seconds));
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
    run(op::LOCKfilesec, f, Args().withSeconds(seconds));
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
        OpArgs a = Args().withSeconds(seconds);
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
    run(op::BUILDkey, f, Args().withKey(key));
}
bool duplicate(FileDecl& f) {
    return answer(op::DUPLICATE, f, {}, &OpArgs::flag);
}
bool duplicate(FileDecl& f, int key) {
    return answer(op::DUPLICATEkey, f, Args().withKey(key), &OpArgs::flag);
}

std::int64_t records(FileDecl& f) {
    return answer(op::RECORDSfile, f, {}, &OpArgs::records);
}
std::int64_t records(FileDecl& f, int key) {
    return answer(op::RECORDSkey, f, Args().withKey(key), &OpArgs::records);
}
std::uint32_t pointer(FileDecl& f) {
    return answer(op::POINTERfile, f, {}, &OpArgs::pointerOut);
}
std::uint32_t pointer(FileDecl& f, int key) {
    return answer(op::POINTERkey, f, Args().withKey(key), &OpArgs::pointerOut);
}
std::string position(FileDecl& f) {
    return answer(op::POSITIONfile, f, {}, &OpArgs::positionOut);
}
std::string position(FileDecl& f, int key) {
    return answer(op::POSITIONkey, f, Args().withKey(key), &OpArgs::positionOut);
}
void reset(FileDecl& f, const std::string& position) {
    run(op::RESETfile, f, Args().withPosition(position));
}
void reset(FileDecl& f, int key, const std::string& position) {
    run(op::RESETkey, f, Args().withKey(key).withPosition(position));
}
std::int64_t bytes(FileDecl& f) {
    return answer(op::BYTES, f, {}, &OpArgs::bytesOut);
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
    return answer(op::SEND, f, Args().withText(command), &OpArgs::textOut);
}
std::string name(FileDecl& f) {
    return answer(op::NAME, f, {}, &OpArgs::textOut);
}
void remove(FileDecl& f) {
    run(op::REMOVE, f);
}
void rename(FileDecl& f, const std::string& newName) {
    run(op::RENAME, f, Args().withText(newName));
}
void copy(FileDecl& f, const std::string& newName) {
    run(op::COPY, f, Args().withText(newName));
}

bool isNull(FileDecl& f, int field) {
    return answer(op::NULL_, f, Args().withField(field), &OpArgs::flag);
}
void setNull(FileDecl& f, int field) {
    run(op::SETNULL, f, Args().withField(field));
}
void setNonNull(FileDecl& f, int field) {
    run(op::SETNONULL, f, Args().withField(field));
}
void setProperty(FileDecl& f, int property, const std::string& value, int index) {
    run(op::SET_PROPERTY, f, Args().withProperty(property, index).withText(value));
}
std::string getProperty(FileDecl& f, int property, int index) {
    return answer(op::GET_PROPERTY, f, Args().withProperty(property, index), &OpArgs::textOut);
}

} // namespace sorv
