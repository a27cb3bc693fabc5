// The name registry: labels such as "CUST:Company" bound to field references, so that filter and
// order expressions and column tables find fields by name. Names compare without case.
#pragma once
#include "runtime/field.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sorv {

class NameRegistry {
public:
    void bind(std::string_view name, const FieldRef& ref);
    void unbind(std::string_view name);
    // Binds every named field of a record under its own label.
    void bindRecord(Record& record);
    void unbindRecord(const Record& record);
    std::optional<FieldRef> find(std::string_view name) const;
    std::size_t size() const;

private:
    static std::string keyOf(std::string_view name);
    mutable std::mutex mutex_;
    std::map<std::string, FieldRef> names_;
};

// The process-wide registry (global files and variables) and the calling thread's own (threaded
// files, a procedure's local queues); lookupName searches the thread's first.
NameRegistry& globalNames();
NameRegistry& threadNames();
std::optional<FieldRef> lookupName(std::string_view name);

} // namespace sorv
