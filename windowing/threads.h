// Procedure threads: the 64-slot thread table, starting a procedure on an OS thread of its own,
// the runtime lock that lets one thread at a time run program code, each thread's event queue,
// and the wait for every started thread at program end.
//
// Invariants: program code runs only while its thread holds the runtime lock; a thread gives the
// lock up whenever it waits (for an event, for the user, for other threads) and takes it back before
// it goes on. Slot 0 is the program's first thread; slots 1..63 belong to started procedures and a
// slot is free again once its procedure has returned and its end steps have run.
#pragma once
#include "windowing/events.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sorv::win {

constexpr int ThreadSlots = 64;

using Procedure = std::function<void(const std::string& parameter)>;

// The events of all windows of one thread, in the order they were posted.
class EventQueue {
public:
    void post(Event e);
    // Takes the first event of `window` (and, when acceptsThreadEvents, the first event posted to
    // the thread as a whole), giving the runtime lock up while it waits. The thread message is
    // consumed here and never handed out.
    Event take(int window, bool acceptsThreadEvents);
    // Like take, but answers at once with nothing when no event is waiting.
    std::optional<Event> poll(int window, bool acceptsThreadEvents);
    // Whether an event the desktop posted for one control of a window (the user's key press,
    // click or scroll on it) is waiting; nothing is taken.
    bool userWaiting(int window, int control) const;
    // Drops every waiting event of a window (it closed).
    void discard(int window);
    std::size_t size() const;
    // The slot number that the thread message carried, -1 until it arrived.
    int startedSlot() const;

private:
    std::optional<Event> takeLocked(int window, bool acceptsThreadEvents);
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Event> events_;
    int startedSlot_ = -1;
};

// What one thread owns at run time; shared by the table, the thread itself, and whoever posts to it.
struct ThreadState {
    int slot = -1;
    std::atomic<unsigned> threadId{0}; // the OS thread id, 0 until the thread runs
    EventQueue queue;
    std::vector<int> windows;                   // ids of the windows it has open, oldest first
    std::vector<std::function<void()>> buffers; // freed (called) at the thread's end, last first
};

// Starts `procedure` on a new thread with at least `stackSize` bytes of stack. Answers the slot
// (1..63) or -1 when every slot is taken or the thread cannot be created. The starter is held until
// the new thread runs; the new thread then waits for the runtime lock before the procedure starts.
int startProcedure(Procedure procedure, std::size_t stackSize = 0, std::string parameter = {});

// Handlers told (slot, started) when a started thread begins and ends; walked last to first.
int addThreadEventHandler(std::function<void(int slot, bool started)> handler);
void removeThreadEventHandler(int id);
// The program's thread-exit hook, run on an ending thread after the handlers.
void setThreadExitHook(std::function<void()> hook);
// The desktop's part of a thread's end: closes the windows the thread still has open.
void setThreadWindowCleanup(std::function<void(int slot)> cleanup);

// Slot of the calling thread, -1 for a thread that is not a program thread (the desktop's).
int currentSlot();
// State of the calling program thread (nullptr elsewhere) and of a slot (nullptr when free).
std::shared_ptr<ThreadState> currentThreadState();
std::shared_ptr<ThreadState> threadState(int slot);
// Slots in use among 1..63.
int startedThreadCount();

// The runtime lock. acquire blocks; release is only for the holder. Waiters are served in the
// order they asked, so a thread whose windows always have events waiting cannot keep the others
// out: it gives the lock up at every event it takes while another thread waits for it.
void acquireRuntimeLock();
void releaseRuntimeLock();
bool holdsRuntimeLock();
// OS thread id of the holder, 0 when nobody holds it.
unsigned runtimeLockOwner();
// Slot of the thread that holds the lock, -1 when none.
int currentThreadNumber();
// Threads blocked in acquireRuntimeLock.
int runtimeLockWaiters();

// Test hook: told, on the thread concerned, when it starts waiting for the runtime lock, just
// after it took it and just before it gives it up. Unset, the lock pays one atomic load per step.
enum class LockStep { Waiting, Taken, Released };
using RuntimeLockObserver = void (*)(LockStep step);
void setRuntimeLockObserver(RuntimeLockObserver observer);

// Gives the lock up for the life of the object when the calling thread holds it, and takes it
// back at the end: every wait for the user or another thread goes through one of these.
class LockReleased {
public:
    LockReleased();
    ~LockReleased();
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;

private:
    bool held_;
};

// Program end: gives the lock up, waits until every started thread has ended (however many start
// meanwhile), and takes it again.
void waitForAllThreads();

// Runs `entry` as slot 0 on a new OS thread under the runtime lock; when it has returned, waits
// for all started threads, frees slot 0 and calls `onEnd` (on that thread). Join the answer.
class FirstThread {
public:
    FirstThread(std::function<void()> entry, std::function<void()> onEnd);
    ~FirstThread();
    void join();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sorv::win
