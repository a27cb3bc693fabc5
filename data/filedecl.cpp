// File declarations: cloning for threaded files and the name a driver opens.
#include "data/filedecl.h"

#include "runtime/value.h"

namespace sorv {

FileDecl FileDecl::clone() const {
    FileDecl c;
    c.label = label;
    c.driver = driver;
    c.driverOptions = driverOptions;
    c.name = name;
    c.owner = owner;
    c.attributes = attributes;
    c.memos = memos;
    c.memoValues.assign(memos.size(), std::string());
    c.keys = keys;
    c.record.setLayout(record.layout());
    return c;
}

std::string FileDecl::fileName() const {
    std::string_view n = clipRight(name);
    while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
    if (n.empty()) return label;
    return std::string(n);
}

FileDecl& ThreadedFile::get() {
    FileDecl* made = nullptr;
    std::function<void(FileDecl&)> hook;
    {
        std::lock_guard lock(mutex_);
        auto& slot = perThread_[std::this_thread::get_id()];
        if (slot) return *slot;
        slot = std::make_unique<FileDecl>(prototype_.clone());
        made = slot.get();
        hook = firstUse_;
    }
    // Outside the lock: the hook may well ask for the declaration again.
    if (hook) hook(*made);
    return *made;
}

void ThreadedFile::setFirstUseHook(std::function<void(FileDecl&)> hook) {
    std::lock_guard lock(mutex_);
    firstUse_ = std::move(hook);
}

std::size_t ThreadedFile::threads() {
    std::lock_guard lock(mutex_);
    return perThread_.size();
}

void ThreadedFile::forEachThread(const std::function<void(FileDecl&)>& f) {
    std::lock_guard lock(mutex_);
    for (auto& [id, decl] : perThread_) f(*decl);
}

void ThreadedFile::release() {
    std::lock_guard lock(mutex_);
    perThread_.erase(std::this_thread::get_id());
}

} // namespace sorv
