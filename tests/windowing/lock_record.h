// A record of every step of the runtime lock (through the lock's test hook) and of the work that
// tests mark as done under it, read back as who held the lock when: overlapping holders, work done
// without the lock, which threads waited for which, and how often the work passed between threads.
#pragma once
#include "windowing/threads.h"

#include <atomic>
#include <map>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sorv::test {

class LockRecord {
public:
    enum class Kind { Waiting, Taken, Released, Work };
    struct Entry {
        unsigned thread = 0;
        int slot = -1;
        Kind kind = Kind::Work;
    };
    struct Summary {
        int overlaps = 0;      // taken while another thread held it
        int strayReleases = 0; // given up by a thread that did not hold it
        int unheldWork = 0;    // work marked by a thread that did not hold the lock
        std::map<int, int> holdsBySlot;
        std::map<int, int> workBySlot;
        // (waiting slot, holding slot): how often a thread began to wait while another held it.
        std::map<std::pair<int, int>, int> contention;
        int switches = 0; // consecutive pieces of work done by different threads
    };

    LockRecord() {
        current() = this;
        win::setRuntimeLockObserver(&observe);
    }
    ~LockRecord() {
        win::setRuntimeLockObserver(nullptr);
        current() = nullptr;
    }
    LockRecord(const LockRecord&) = delete;
    LockRecord& operator=(const LockRecord&) = delete;

    // Marks a piece of work (an event handled) done by the calling thread.
    void work() { add(Kind::Work); }
    // Adds an entry as if `thread` of `slot` had done it (to check the reading itself).
    void add(unsigned thread, int slot, Kind kind) {
        std::lock_guard g(mutex_);
        entries_.push_back({thread, slot, kind});
    }

    std::vector<Entry> entries() const {
        std::lock_guard g(mutex_);
        return entries_;
    }

    Summary summary() const {
        std::lock_guard g(mutex_);
        Summary s;
        unsigned holder = 0;
        int holderSlot = -1;
        unsigned lastWorkThread = 0;
        for (const Entry& e : entries_) {
            switch (e.kind) {
            case Kind::Waiting:
                if (holder != 0 && holder != e.thread) ++s.contention[{e.slot, holderSlot}];
                break;
            case Kind::Taken:
                if (holder != 0) ++s.overlaps;
                holder = e.thread;
                holderSlot = e.slot;
                ++s.holdsBySlot[e.slot];
                break;
            case Kind::Released:
                if (holder != e.thread) ++s.strayReleases;
                holder = 0;
                holderSlot = -1;
                break;
            case Kind::Work:
                if (holder != e.thread) ++s.unheldWork;
                ++s.workBySlot[e.slot];
                if (lastWorkThread != 0 && lastWorkThread != e.thread) ++s.switches;
                lastWorkThread = e.thread;
                break;
            }
        }
        return s;
    }

private:
    static std::atomic<LockRecord*>& current() {
        static std::atomic<LockRecord*> record{nullptr};
        return record;
    }
    static void observe(win::LockStep step) {
        if (LockRecord* r = current())
            r->add(step == win::LockStep::Waiting ? Kind::Waiting
                   : step == win::LockStep::Taken ? Kind::Taken
                                                  : Kind::Released);
    }
    void add(Kind kind) { add(static_cast<unsigned>(syscall(SYS_gettid)), win::currentSlot(), kind); }

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace sorv::test
