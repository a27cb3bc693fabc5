// File-level operations shared by the ASCII and DOS drivers.
#include "data/posixfile.h"

#include "data/sharelock.h"
#include "runtime/errors.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sorv {

PosixFileState::~PosixFileState() {
    if (fd >= 0) ::close(fd);
}

bool PosixFileState::mayRead() const {
    return (mode & openmode::AccessMask) != openmode::WriteOnly;
}

bool PosixFileState::mayWrite() const {
    int a = mode & openmode::AccessMask;
    return a == openmode::WriteOnly || a == openmode::ReadWrite;
}

int systemPath(std::string_view name, std::string& path) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    if (name.empty()) return err::InvalidFilename;
    path.clear();
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return err::InvalidFilename;
        path += c == '\\' ? '/' : c;
    }
    return 0;
}

int systemPath(const FileDecl& file, std::string& path) {
    return systemPath(file.fileName(), path);
}

// ENOENT, ENOTDIR, EMFILE/ENFILE and EACCES/EPERM are the language's own codes 2, 3, 4 and 5 (the
// file manager acts on 2 and 5); ENAMETOOLONG is an invalid name (45); everything else is 90 with
// the system error of fileSystemCodeOf (EROFS "Write Protect", ENOSPC "Handle Disk Full", ...).
int openFailure(OpArgs& args, int e) {
    switch (e) {
    case ENOENT:
        return err::FileNotFound;
    case ENOTDIR:
        return err::PathNotFound;
    case EMFILE:
    case ENFILE:
        return err::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
        return err::AccessDenied;
    case ENAMETOOLONG:
        return err::InvalidFilename;
    default:
        return systemFailure(args, e);
    }
}

std::int64_t readAt(int fd, void* data, std::size_t size, std::int64_t at) {
    std::size_t done = 0;
    auto* p = static_cast<char*>(data);
    while (done < size) {
        ssize_t n = ::pread(fd, p + done, size - done, at + static_cast<std::int64_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -errno;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t writeAt(int fd, const void* data, std::size_t size, std::int64_t at) {
    std::size_t done = 0;
    auto* p = static_cast<const char*>(data);
    while (done < size) {
        ssize_t n = ::pwrite(fd, p + done, size - done, at + static_cast<std::int64_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -errno;
        }
        if (n == 0) return -EIO;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t fileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -errno;
    return st.st_size;
}

AppendGuard::AppendGuard(int fd) : fd_(fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = sharelock::ShareBase + 16;
    fl.l_len = 1;
    while (fcntl(fd_, F_OFD_SETLKW, &fl) != 0 && errno == EINTR) {
    }
}

AppendGuard::~AppendGuard() {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = sharelock::ShareBase + 16;
    fl.l_len = 1;
    fcntl(fd_, F_OFD_SETLK, &fl);
}

std::string encodePosition(std::int64_t start) {
    std::string p(8, '\0');
    auto u = static_cast<std::uint64_t>(start);
    for (int i = 0; i < 8; ++i) p[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return p;
}

bool decodePosition(const std::string& position, std::int64_t& start) {
    if (position.size() != 8) return false;
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(position[static_cast<std::size_t>(i)]);
    if (u > static_cast<std::uint64_t>(INT64_MAX)) return false;
    start = static_cast<std::int64_t>(u);
    return true;
}

namespace {

// Opens the system file for a mode: read/write whenever writing is asked (reading back a line to
// rewrite it needs it), read-only otherwise.
int openFor(const std::string& path, int mode, int extraFlags) {
    int access = mode & openmode::AccessMask;
    int flags = (access == openmode::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | extraFlags;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0 && errno == EACCES && access == openmode::WriteOnly)
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | extraFlags, 0666);
    return fd;
}

// The file opened for a moment with a mode, to check that no opener refuses it (REMOVE, RENAME,
// COPY, CREATE of a file that exists). Answers 0 and the descriptor, or the error.
int openChecked(const std::string& path, int mode, OpArgs& args, int& fd, int extraFlags = 0) {
    // Without waiting: opening a pipe for reading would wait for a writer forever.
    fd = openFor(path, mode, extraFlags | O_NONBLOCK);
    if (fd < 0) return openFailure(args, errno);
    // Only plain files hold records: a directory opened for reading, a pipe or a device is
    // refused as a directory opened for writing is.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return err::AccessDenied;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int r = sharelock::acquire(fd, mode);
    if (r != 0) {
        ::close(fd);
        fd = -1;
        return r < 0 ? systemFailure(args, -r) : r;
    }
    return 0;
}

} // namespace

int writePending(PosixFileState& st, OpArgs& args) {
    if (st.pending.empty()) return 0;
    const std::int64_t w = writeAt(st.fd, st.pending.data(), st.pending.size(), st.pendingAt);
    st.pending.clear(); // its room stays for the next block
    if (w >= 0) return 0;
    if (::ftruncate(st.fd, st.pendingAt) != 0) { /* the old end stays the best we can do */
    }
    return systemFailure(args, static_cast<int>(-w));
}

int PosixFileDriver::call(int operation, FileDecl& file, OpArgs& args) {
    auto* st = file.stateAs<PosixFileState>();
    if (!st && file.isOpen()) return err::FileAlreadyOpen; // open by another driver's state
    if (!st && !opensClosedFile(operation)) return err::FileNotOpen;
    const bool appends = operation == op::ADD || operation == op::APPEND || operation == op::ADDfilelen ||
                         operation == op::APPENDlen;
    if (st && !appends)
        if (int c = writePending(*st, args)) return c;

    switch (operation) {
    case op::OPEN:
    case op::SHARE: {
        if (file.isOpen()) return err::FileAlreadyOpen;
        int mode = args.mode;
        if (operation == op::SHARE && (mode & openmode::ShareMask) == 0) mode |= openmode::DenyNone;
        if (int c = checkDeclaration(file)) return c;
        std::string path;
        if (int c = systemPath(file, path)) return c;
        int fd = -1;
        if (int c = openChecked(path, mode, args, fd)) return c;
        auto fresh = std::make_unique<PosixFileState>();
        fresh->fd = fd;
        fresh->mode = mode;
        fresh->path = path;
        file.state = std::move(fresh);
        return 0;
    }
    case op::CREATE: {
        if (!file.hasAttribute(fileattr::Create)) return err::NoCreateAttribute;
        if (file.isOpen()) return err::FileAlreadyOpen;
        std::string path;
        if (int c = systemPath(file, path)) return c;
        // Replacing an existing file must not pull it away from under another opener.
        int fd = -1;
        int mode = openmode::ReadWrite | openmode::DenyAll;
        if (int c = openChecked(path, mode, args, fd, O_CREAT)) return c;
        int result = 0;
        if (::ftruncate(fd, 0) != 0) result = systemFailure(args, errno);
        ::close(fd);
        return result;
    }
    case op::CLOSE:
        file.state.reset();
        return 0;
    case op::NAME:
        args.textOut = file.fileName();
        return 0;
    case op::SEND:
        // "Recover=" and "QUICKSCAN=" mean nothing to a plain file; every command is accepted.
        args.textOut.clear();
        return 0;
    case op::STREAM: {
        // Only where no one else may write: their appends would land between ours.
        const int sharing = st->mode & openmode::ShareMask;
        st->streaming = st->mayWrite() && sharing != openmode::DenyNone && sharing != openmode::DenyRead;
        return 0;
    }
    case op::FLUSH:
        st->streaming = false;
        if (st->mayWrite() && ::fdatasync(st->fd) != 0 && errno != EINVAL) return systemFailure(args, errno);
        return 0;
    case op::BYTES: {
        if (st->lastBytes >= 0) {
            args.bytesOut = st->lastBytes;
            return 0;
        }
        std::int64_t size = fileSize(st->fd);
        if (size < 0) return systemFailure(args, static_cast<int>(-size));
        args.bytesOut = size;
        return 0;
    }
    case op::REMOVE:
    case op::RENAME:
    case op::COPY: {
        if (file.isOpen()) return err::FileAlreadyOpen;
        std::string path, target;
        if (int c = systemPath(file, path)) return c;
        if (operation != op::REMOVE)
            if (int c = systemPath(args.text, target)) return c;
        int mode = operation == op::COPY ? (openmode::ReadOnly | openmode::DenyWrite)
                                         : (openmode::ReadWrite | openmode::DenyAll);
        int fd = -1;
        if (int c = openChecked(path, mode, args, fd)) return c;
        int result = 0;
        if (operation == op::REMOVE) {
            if (::unlink(path.c_str()) != 0) result = openFailure(args, errno);
        } else if (operation == op::RENAME) {
            if (::rename(path.c_str(), target.c_str()) != 0) result = openFailure(args, errno);
        } else {
            int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (out < 0) {
                result = openFailure(args, errno);
            } else {
                std::vector<char> block(1 << 16);
                std::int64_t at = 0;
                for (;;) {
                    std::int64_t n = readAt(fd, block.data(), block.size(), at);
                    if (n < 0) {
                        result = systemFailure(args, static_cast<int>(-n));
                        break;
                    }
                    if (n == 0) break;
                    std::int64_t w = writeAt(out, block.data(), static_cast<std::size_t>(n), at);
                    if (w < 0) {
                        result = systemFailure(args, static_cast<int>(-w));
                        break;
                    }
                    at += n;
                }
                ::close(out);
                if (result != 0) ::unlink(target.c_str()); // no half copy is left behind
            }
        }
        ::close(fd);
        return result;
    }
    case op::LOCKfile:
    case op::LOCKfilesec: {
        if (st->locked) return 0;
        int r = sharelock::lockFile(st->fd, operation == op::LOCKfilesec ? args.seconds : 0);
        if (r == 0) st->locked = true;
        return r;
    }
    case op::UNLOCK:
        if (st->locked) sharelock::unlockFile(st->fd);
        st->locked = false;
        return 0;
    case op::HOLDfile:
    case op::HOLDfilesec: {
        if (st->curStart < 0) return err::RecordNotAvailable;
        if (st->held == st->curStart) return 0;
        if (st->held >= 0) sharelock::releaseRecord(st->fd, st->held);
        st->held = -1;
        int r = sharelock::holdRecord(st->fd, st->curStart, operation == op::HOLDfilesec ? args.seconds : 0);
        if (r == 0) st->held = st->curStart;
        return r;
    }
    case op::RELEASE:
        if (st->held >= 0) sharelock::releaseRecord(st->fd, st->held);
        st->held = -1;
        return 0;
    case op::EMPTY: {
        if ((st->mode & openmode::ShareMask) != openmode::DenyAll) return err::ExclusiveAccessRequired;
        if (!st->mayWrite()) return err::AccessDenied;
        if (::ftruncate(st->fd, 0) != 0) return systemFailure(args, errno);
        st->nextPos = 0;
        st->prevEnd = -1;
        st->curStart = -1;
        st->curLen = 0;
        return 0;
    }
    case op::SETfile:
        st->nextPos = 0;
        st->prevEnd = -1;
        return 0;
    case op::POINTERfile:
        if (st->curStart < 0) return err::RecordNotAvailable;
        args.pointerOut =
            st->curStart + 1 > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(st->curStart + 1);
        return 0;
    case op::POSITIONfile:
        if (st->curStart < 0) return err::RecordNotAvailable;
        args.positionOut = encodePosition(st->curStart);
        return 0;
    case op::QUERY_VIEW:
        return queryView();
    default:
        return recordOp(operation, file, *st, args);
    }
}

} // namespace sorv
