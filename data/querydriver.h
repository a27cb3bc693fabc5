// Drivers that run queries themselves (a database server) take part in views through this
// interface beside Driver: the view engine's file adapter (viewfile.h) finds it by dynamic_cast
// and hands it the order and filter that no key serves. Between takeQuery and the next change of
// plan the file's query sequence reads in that order under that filter; NEXT and PREVIOUS read
// it as they read any sequence. Calls answer an error code (90 comes with OpArgs' system error).
#pragma once
#include "data/driver.h"
#include "data/view.h"

#include <string>
#include <string_view>
#include <vector>

namespace sorv {

class QueryDriver {
public:
    virtual ~QueryDriver() = default;
    // Whether the driver runs this order and filter (null for none) on the open file itself;
    // false leaves the file as it was.
    virtual bool takeQuery(FileDecl& file, const std::vector<ViewTable::QueryItem>& order,
                           const Expression* filter) = 0;
    // The query's sequence: from its start, from leading order values, at a position.
    virtual int querySet(FileDecl& file, OpArgs& args) = 0;
    virtual int querySetFrom(FileDecl& file, const std::vector<Value>& leading, OpArgs& args) = 0;
    virtual int queryPosition(FileDecl& file, std::string& position, OpArgs& args) = 0;
    virtual int queryReset(FileDecl& file, std::string_view position, OpArgs& args) = 0;
    virtual int queryRecords(FileDecl& file, std::int64_t& records, OpArgs& args) = 0;
    // Moves whenever the file's contents change, by this station or another.
    virtual std::uint64_t changeStamp(FileDecl& file) = 0;
};

} // namespace sorv
