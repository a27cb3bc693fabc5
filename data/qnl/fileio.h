// The file calls of the native engine, all in one place: the pager, the write-ahead log and the
// transaction control file read, write, sync and cut their files only through io(). A test may
// put its own layer in between (one that records every write and sync and then plays a power
// loss); the engine itself always runs on the system's calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace sorv::qnl {

class FileIo {
public:
    virtual ~FileIo() = default;
    // As open(2): a descriptor, or -1 with errno set.
    virtual int open(const std::string& path, int flags, int mode);
    virtual void close(int fd);
    virtual ssize_t pread(int fd, void* buf, std::size_t n, off_t at);
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t n, off_t at);
    // The file's data and length reach the disk (fdatasync); 0 or -1 with errno.
    virtual int sync(int fd);
    virtual int truncate(int fd, off_t length);
    // The directory entry of a newly made file reaches the disk.
    virtual int syncDirectoryOf(const std::string& path);
};

FileIo& io();
// Installs a layer (null: the system's calls again); answers the one it replaces.
FileIo* setIo(FileIo* layer);
// Syncs done through io() since the program started (the benchmark prints them per commit).
std::uint64_t syncCount();

// io().sync(fd), counted.
int syncFile(int fd);
// Whole transfers with retries; writeAll answers false with errno set, readAll the bytes read
// (fewer than n at the end of the file) or -1.
bool writeAll(int fd, const void* buf, std::size_t n, off_t at);
ssize_t readAll(int fd, void* buf, std::size_t n, off_t at);

} // namespace sorv::qnl
