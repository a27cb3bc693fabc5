// Drivers that can hand over every record of an open file in one bulk pass take part in views
// through this interface beside Driver: the view engine's file adapter (viewfile.h) finds it by
// dynamic_cast for the passes over a whole file (the first and last rows of an order no key
// serves, the whole sorted set, a full read in record order).
#pragma once
#include "data/driver.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace sorv {

class ScanDriver {
public:
    virtual ~ScanDriver() = default;
    // Calls each(pointer) for every record of the open file in record order, from one state of
    // the file, with the record's bytes in the file's record buffer (memos are not read and the
    // file's sequence and current record stay as they were); stops when each answers false.
    // Answers an error code (90 comes with OpArgs' system error).
    virtual int scanRecords(FileDecl& file, const std::function<bool(std::uint64_t)>& each, OpArgs& args) = 0;
    // Calls each(range, pointer) for every record whose entry in the key lies in one of the
    // ranges (low and high record images, both ends included), from one state of the file, the
    // records in whatever order reads them fastest, with the record's bytes in the record buffer
    // as scanRecords gives them; stops when each answers false. Answers an error code.
    using KeyRanges = std::vector<std::pair<std::span<const std::uint8_t>, std::span<const std::uint8_t>>>;
    virtual int scanKeyRanges(FileDecl& file, int key, const KeyRanges& ranges,
                              const std::function<bool(std::size_t, std::uint64_t)>& each, OpArgs& args) = 0;
    // A number that moves whenever the file's records changed, by this process or another (a
    // view's held rows are read again when it moved).
    virtual std::uint64_t changeStamp(FileDecl& file) = 0;
};

// A stamp of a file's last change as the file system keeps it (time, size and identity); 0 when
// it is not there. Added to `seed`, so that several files make one stamp.
inline std::uint64_t fileStamp(const std::string& path, std::uint64_t seed = 0) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return seed * 31;
    std::uint64_t h = seed * 31 + static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000007ull +
                      static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    h = h * 31 + static_cast<std::uint64_t>(st.st_size);
    return h * 31 + static_cast<std::uint64_t>(st.st_ino);
}

} // namespace sorv
