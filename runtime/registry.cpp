// Binding labels to field references.
#include "runtime/registry.h"

#include <cctype>

namespace sorv {

std::string NameRegistry::keyOf(std::string_view name) {
    std::string k(name);
    for (char& c : k) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
}

void NameRegistry::bind(std::string_view name, const FieldRef& ref) {
    std::lock_guard lock(mutex_);
    names_[keyOf(name)] = ref;
}

void NameRegistry::unbind(std::string_view name) {
    std::lock_guard lock(mutex_);
    names_.erase(keyOf(name));
}

void NameRegistry::bindRecord(Record& record) {
    for (std::size_t i = 0; i < record.layout().count(); ++i)
        if (!record.layout().field(i).name.empty())
            bind(record.layout().field(i).name, record.ref(static_cast<int>(i)));
}

void NameRegistry::unbindRecord(const Record& record) {
    for (const FieldDesc& f : record.layout().fields())
        if (!f.name.empty()) unbind(f.name);
}

std::optional<FieldRef> NameRegistry::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    auto it = names_.find(keyOf(name));
    if (it == names_.end()) return std::nullopt;
    return it->second;
}

std::size_t NameRegistry::size() const {
    std::lock_guard lock(mutex_);
    return names_.size();
}

NameRegistry& globalNames() {
    static NameRegistry r;
    return r;
}

NameRegistry& threadNames() {
    thread_local NameRegistry r;
    return r;
}

std::optional<FieldRef> lookupName(std::string_view name) {
    if (auto r = threadNames().find(name)) return r;
    return globalNames().find(name);
}

} // namespace sorv
