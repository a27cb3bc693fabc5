// Sharing modes and locks on open-file-description lock bytes.
#include "data/sharelock.h"

#include "data/driver.h"
#include "runtime/errors.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace sorv::sharelock {

namespace {

enum : std::int64_t { HasRead = 1, HasWrite = 2, DeniesRead = 3, DeniesWrite = 4, LockByte = 8 };

int setLock(int fd, short type, std::int64_t at, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
        if (errno == EINTR) continue;
        return errno;
    }
    return 0;
}

// True when another open file description holds a lock on the byte that conflicts with `type`.
bool heldByOther(int fd, short type, std::int64_t at) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;
    return fl.l_type != F_UNLCK;
}

struct Wants {
    bool read, write, denyRead, denyWrite;
};

Wants wantsOf(int mode) {
    int access = mode & openmode::AccessMask;
    int sharing = mode & openmode::ShareMask;
    Wants w{};
    w.read = access != openmode::WriteOnly;
    w.write = access == openmode::WriteOnly || access == openmode::ReadWrite;
    w.denyRead = sharing == openmode::DenyAll || sharing == openmode::DenyRead;
    w.denyWrite = sharing == openmode::DenyAll || sharing == openmode::DenyWrite || sharing == 0;
    return w;
}

bool refused(int fd, const Wants& w) {
    // Another opener refuses my access, or holds an access that my sharing refuses.
    return (w.read && heldByOther(fd, F_WRLCK, ShareBase + DeniesRead)) ||
           (w.write && heldByOther(fd, F_WRLCK, ShareBase + DeniesWrite)) ||
           (w.denyRead && heldByOther(fd, F_WRLCK, ShareBase + HasRead)) ||
           (w.denyWrite && heldByOther(fd, F_WRLCK, ShareBase + HasWrite));
}

// Takes the bytes that describe the opener first and checks afterwards, so two openers racing
// with conflicting modes both see each other and neither wins wrongly; the loser of such a race
// tries again a few times before it gives up. (A gate byte would need write locks, which a
// descriptor opened for reading cannot take.)
int takeAndCheck(int fd, int mode, bool keep) {
    Wants w = wantsOf(mode);
    const std::int64_t bytes[4] = {HasRead, HasWrite, DeniesRead, DeniesWrite};
    const bool take[4] = {w.read, w.write, w.denyRead, w.denyWrite};
    auto dropAll = [&] {
        for (int i = 0; i < 4; ++i)
            if (take[i]) setLock(fd, F_UNLCK, ShareBase + bytes[i], false);
    };
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt));
        if (!keep) {
            if (!refused(fd, w)) return 0;
            continue;
        }
        int failure = 0;
        for (int i = 0; i < 4 && failure == 0; ++i)
            if (take[i]) failure = setLock(fd, F_RDLCK, ShareBase + bytes[i], false);
        if (failure) {
            dropAll();
            return -failure;
        }
        if (!refused(fd, w)) return 0;
        dropAll();
    }
    return err::AccessDenied;
}

int timedLock(int fd, std::int64_t at, std::int32_t seconds, int busyCode) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 0);
    for (;;) {
        int e = setLock(fd, F_WRLCK, at, false);
        if (e == 0) return 0;
        if (e == EBADF) return err::AccessDenied; // a descriptor opened for reading only
        if (e != EAGAIN && e != EACCES) return busyCode;
        if (std::chrono::steady_clock::now() >= deadline) return busyCode;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int acquire(int fd, int mode) {
    return takeAndCheck(fd, mode, true);
}

int probe(int fd, int mode) {
    return takeAndCheck(fd, mode, false);
}

int lockFile(int fd, std::int32_t seconds) {
    return timedLock(fd, ShareBase + LockByte, seconds, err::FileIsLocked);
}

void unlockFile(int fd) {
    setLock(fd, F_UNLCK, ShareBase + LockByte, false);
}

int holdRecord(int fd, std::int64_t recordStart, std::int32_t seconds) {
    return timedLock(fd, HoldBase + recordStart, seconds, err::RecordHeld);
}

void releaseRecord(int fd, std::int64_t recordStart) {
    setLock(fd, F_UNLCK, HoldBase + recordStart, false);
}

} // namespace sorv::sharelock
