// The system's file calls behind the engine's file layer.
#include "data/qnl/fileio.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sorv::qnl {

namespace {
FileIo systemIo;
std::atomic<FileIo*> current{&systemIo};
std::atomic<std::uint64_t> syncs{0};
} // namespace

int FileIo::open(const std::string& path, int flags, int mode) {
    return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}
void FileIo::close(int fd) {
    ::close(fd);
}
ssize_t FileIo::pread(int fd, void* buf, std::size_t n, off_t at) {
    return ::pread(fd, buf, n, at);
}
ssize_t FileIo::pwrite(int fd, const void* buf, std::size_t n, off_t at) {
    return ::pwrite(fd, buf, n, at);
}
int FileIo::sync(int fd) {
    return ::fdatasync(fd);
}
int FileIo::truncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}
int FileIo::syncDirectoryOf(const std::string& path) {
    std::size_t cut = path.find_last_of('/');
    std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int rc = ::fsync(fd);
    int e = errno;
    ::close(fd);
    errno = e;
    // Some file systems do not sync directories; their entries are then as safe as they get.
    return rc != 0 && (errno == EINVAL || errno == EROFS) ? 0 : rc;
}

FileIo& io() {
    return *current.load();
}

FileIo* setIo(FileIo* layer) {
    return current.exchange(layer ? layer : &systemIo);
}

std::uint64_t syncCount() {
    return syncs.load();
}

int syncFile(int fd) {
    ++syncs;
    for (;;) {
        int rc = io().sync(fd);
        if (rc == 0 || errno != EINTR) return rc;
    }
}

bool writeAll(int fd, const void* buf, std::size_t n, off_t at) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = io().pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
        at += w;
    }
    return true;
}

ssize_t readAll(int fd, void* buf, std::size_t n, off_t at) {
    char* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = io().pread(fd, p + done, n - done, at + static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

} // namespace sorv::qnl
