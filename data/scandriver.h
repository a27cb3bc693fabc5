// Drivers that can hand over every record of an open file in one bulk pass take part in views
// through this interface beside Driver: the view engine's file adapter (viewfile.h) finds it by
// dynamic_cast for the passes over a whole file (the first and last rows of an order no key
// serves, the whole sorted set, a full read in record order).
#pragma once
#include "data/driver.h"

#include <cstdint>
#include <functional>

namespace sorv {

class ScanDriver {
public:
    virtual ~ScanDriver() = default;
    // Calls each(pointer) for every record of the open file in record order, from one state of
    // the file, with the record's bytes in the file's record buffer (memos are not read and the
    // file's sequence and current record stay as they were); stops when each answers false.
    // Answers an error code (90 comes with OpArgs' system error).
    virtual int scanRecords(FileDecl& file, const std::function<bool(std::uint64_t)>& each, OpArgs& args) = 0;
};

} // namespace sorv
