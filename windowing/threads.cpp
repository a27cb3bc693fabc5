// The thread table, the runtime lock, per-thread event queues and the program-end wait.
//
// A started thread is created held at a gate (the "suspended" state), told to go once the thread
// handlers have seen its slot, and lets its starter continue through a start-up semaphore before it
// asks for the runtime lock. Every OS thread stays joinable: a slot that frees itself hands its
// thread to a reap list, and whoever waits for threads joins its own reference, so no waiter is
// ever left holding a handle that was closed or reused meanwhile.
#include "windowing/threads.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <semaphore>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace sorv::win {

namespace {

struct OsThread {
    pthread_t handle{};
    std::mutex joinMutex;
    bool joined = false;
    void join() {
        std::lock_guard g(joinMutex);
        if (!joined) {
            pthread_join(handle, nullptr);
            joined = true;
        }
    }
};

struct Slot {
    std::shared_ptr<ThreadState> state; // null while the slot is free
    std::shared_ptr<OsThread> os;
};

struct StartArgs {
    int slot = 0;
    std::shared_ptr<ThreadState> state;
    Procedure procedure;
    std::string parameter;
    std::binary_semaphore resume{0};
    std::binary_semaphore startup{0};
};

std::mutex tableMutex;
std::array<Slot, ThreadSlots> table;
std::vector<std::shared_ptr<OsThread>> ended; // freed slots whose threads nobody joined yet

std::mutex handlersMutex;
std::vector<std::pair<int, std::function<void(int, bool)>>> handlers;
int nextHandlerId = 1;
std::function<void()> exitHook;
std::function<void(int)> windowCleanup;

// The runtime lock is a ticket lock: a semaphore of count 1 that hands itself on in the order
// it was asked for (a plain semaphore lets a releasing thread take it straight back).
std::mutex lockMutex;
std::condition_variable lockFree;
std::uint64_t nextTicket = 0;
std::uint64_t servedTicket = 0;
int lockWaiting = 0;
std::atomic<RuntimeLockObserver> lockObserver{nullptr};
std::atomic<unsigned> lockOwner{0};
std::atomic<int> lockSlot{-1};

thread_local int tSlot = -1;
thread_local std::shared_ptr<ThreadState> tState;

unsigned osThreadId() {
    thread_local unsigned id = static_cast<unsigned>(syscall(SYS_gettid));
    return id;
}

void tellHandlers(int slot, bool started) {
    std::vector<std::function<void(int, bool)>> copy;
    {
        std::lock_guard g(handlersMutex);
        for (auto& h : handlers) copy.push_back(h.second);
    }
    for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)(slot, started);
}

// The end steps every program thread runs while it still holds the lock.
void endThread(int slot, const std::shared_ptr<ThreadState>& state) {
    if (slot > 0) tellHandlers(slot, false);
    std::function<void()> hook;
    std::function<void(int)> cleanup;
    {
        std::lock_guard g(handlersMutex);
        hook = exitHook;
        cleanup = windowCleanup;
    }
    if (hook && slot > 0) hook();
    if (cleanup) cleanup(slot);
    for (auto it = state->buffers.rbegin(); it != state->buffers.rend(); ++it) (*it)();
    state->buffers.clear();
    {
        std::lock_guard g(tableMutex);
        if (table[slot].os) ended.push_back(std::move(table[slot].os));
        table[slot] = Slot{};
    }
    tState.reset();
    tSlot = -1;
}

void* threadEntry(void* raw) {
    auto args = *static_cast<std::shared_ptr<StartArgs>*>(raw);
    delete static_cast<std::shared_ptr<StartArgs>*>(raw);
    args->resume.acquire();
    // The thread's queue exists from here on, so it can receive events.
    tSlot = args->slot;
    tState = args->state;
    tState->threadId = osThreadId();
    Procedure procedure = std::move(args->procedure);
    std::string parameter = std::move(args->parameter);
    int slot = args->slot;
    auto state = args->state;
    args->startup.release();
    args.reset();

    acquireRuntimeLock();
    procedure(parameter);
    endThread(slot, state);
    releaseRuntimeLock();
    return nullptr;
}

std::vector<std::shared_ptr<OsThread>> takeEnded() {
    std::lock_guard g(tableMutex);
    return std::exchange(ended, {});
}

std::size_t stackFor(std::size_t requested) {
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t floor = 8u << 20;
#else
    const std::size_t floor = 1u << 20;
#endif
    std::size_t size = std::max(requested, floor);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

} // namespace

// ---- event queue ----

void EventQueue::post(Event e) {
    {
        std::lock_guard g(mutex_);
        events_.push_back(std::move(e));
    }
    ready_.notify_all();
}

std::optional<Event> EventQueue::takeLocked(int window, bool acceptsThreadEvents) {
    for (auto it = events_.begin(); it != events_.end();) {
        if (it->code == event::ThreadStarted && it->window == 0) {
            startedSlot_ = it->param;
            it = events_.erase(it);
            continue;
        }
        if (it->window == window || (acceptsThreadEvents && it->window == 0)) {
            Event e = std::move(*it);
            events_.erase(it);
            return e;
        }
        ++it;
    }
    return std::nullopt;
}

Event EventQueue::take(int window, bool acceptsThreadEvents) {
    std::optional<Event> waiting;
    {
        std::lock_guard g(mutex_);
        waiting = takeLocked(window, acceptsThreadEvents);
    }
    if (waiting) {
        // Taking the next event is a wait for the user even when it is already there: another
        // thread that waits for the lock handles its event first.
        if (holdsRuntimeLock() && runtimeLockWaiters() > 0) {
            LockReleased handOver;
        }
        return std::move(*waiting);
    }
    LockReleased unlocked;
    std::unique_lock g(mutex_);
    std::optional<Event> e;
    ready_.wait(g, [&] { return (e = takeLocked(window, acceptsThreadEvents)).has_value(); });
    return std::move(*e);
}

std::optional<Event> EventQueue::poll(int window, bool acceptsThreadEvents) {
    std::lock_guard g(mutex_);
    return takeLocked(window, acceptsThreadEvents);
}

bool EventQueue::userWaiting(int window, int control) const {
    std::lock_guard g(mutex_);
    return std::any_of(events_.begin(), events_.end(), [&](const Event& e) {
        return e.fromDesktop && e.window == window && e.control == control && isFieldEvent(e.code);
    });
}

void EventQueue::discard(int window) {
    std::lock_guard g(mutex_);
    std::erase_if(events_, [&](const Event& e) { return e.window == window; });
}

std::size_t EventQueue::size() const {
    std::lock_guard g(mutex_);
    return events_.size();
}

int EventQueue::startedSlot() const {
    std::lock_guard g(mutex_);
    return startedSlot_;
}

// ---- thread table ----

int startProcedure(Procedure procedure, std::size_t stackSize, std::string parameter) {
    for (auto& t : takeEnded()) t->join();
    auto args = std::make_shared<StartArgs>();
    auto os = std::make_shared<OsThread>();
    {
        std::lock_guard g(tableMutex);
        int slot = 1;
        while (slot < ThreadSlots && table[slot].state) ++slot;
        if (slot == ThreadSlots) return -1;
        args->slot = slot;
        args->state = std::make_shared<ThreadState>();
        args->state->slot = slot;
        table[slot].state = args->state;
        table[slot].os = os;
    }
    args->procedure = std::move(procedure);
    args->parameter = std::move(parameter);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackFor(stackSize));
    auto* raw = new std::shared_ptr<StartArgs>(args);
    int rc = pthread_create(&os->handle, &attr, threadEntry, raw);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete raw;
        std::lock_guard g(tableMutex);
        table[args->slot] = Slot{};
        return -1;
    }
    const int slot = args->slot;
    tellHandlers(slot, true);
    args->resume.release();
    {
        // The new thread does not need the lock to get here, but a thread handler might.
        args->startup.acquire();
    }
    args->state->queue.post(makeEvent(event::ThreadStarted, 0, 0, slot));
    return slot;
}

int addThreadEventHandler(std::function<void(int, bool)> handler) {
    std::lock_guard g(handlersMutex);
    handlers.emplace_back(nextHandlerId, std::move(handler));
    return nextHandlerId++;
}

void removeThreadEventHandler(int id) {
    std::lock_guard g(handlersMutex);
    std::erase_if(handlers, [&](const auto& h) { return h.first == id; });
}

void setThreadExitHook(std::function<void()> hook) {
    std::lock_guard g(handlersMutex);
    exitHook = std::move(hook);
}

void setThreadWindowCleanup(std::function<void(int)> cleanup) {
    std::lock_guard g(handlersMutex);
    windowCleanup = std::move(cleanup);
}

int currentSlot() {
    return tSlot;
}
std::shared_ptr<ThreadState> currentThreadState() {
    return tState;
}

std::shared_ptr<ThreadState> threadState(int slot) {
    if (slot < 0 || slot >= ThreadSlots) return nullptr;
    std::lock_guard g(tableMutex);
    return table[slot].state;
}

int startedThreadCount() {
    std::lock_guard g(tableMutex);
    return static_cast<int>(
        std::count_if(table.begin() + 1, table.end(), [](const Slot& s) { return s.state; }));
}

// ---- runtime lock ----

void acquireRuntimeLock() {
    RuntimeLockObserver observer = lockObserver.load(std::memory_order_acquire);
    if (observer) observer(LockStep::Waiting);
    {
        std::unique_lock g(lockMutex);
        const std::uint64_t ticket = nextTicket++;
        ++lockWaiting;
        lockFree.wait(g, [&] { return servedTicket == ticket; });
        --lockWaiting;
    }
    lockOwner.store(osThreadId());
    lockSlot.store(tSlot);
    if (observer) observer(LockStep::Taken);
}

void releaseRuntimeLock() {
    if (RuntimeLockObserver observer = lockObserver.load(std::memory_order_acquire))
        observer(LockStep::Released);
    lockSlot.store(-1);
    lockOwner.store(0);
    {
        std::lock_guard g(lockMutex);
        ++servedTicket;
    }
    lockFree.notify_all();
}

int runtimeLockWaiters() {
    std::lock_guard g(lockMutex);
    return lockWaiting;
}

void setRuntimeLockObserver(RuntimeLockObserver observer) {
    lockObserver.store(observer, std::memory_order_release);
}

bool holdsRuntimeLock() {
    return lockOwner.load() == osThreadId();
}
unsigned runtimeLockOwner() {
    return lockOwner.load();
}
int currentThreadNumber() {
    return lockSlot.load();
}

LockReleased::LockReleased() : held_(holdsRuntimeLock()) {
    if (held_) releaseRuntimeLock();
}

LockReleased::~LockReleased() {
    if (held_) acquireRuntimeLock();
}

void waitForAllThreads() {
    LockReleased unlocked;
    for (;;) {
        std::vector<std::shared_ptr<OsThread>> running;
        {
            std::lock_guard g(tableMutex);
            for (int i = 1; i < ThreadSlots; ++i)
                if (table[i].os) running.push_back(table[i].os);
            for (auto& t : ended) running.push_back(std::move(t));
            ended.clear();
        }
        if (running.empty()) break;
        for (auto& t : running) t->join();
    }
}

// ---- the first thread ----

struct FirstThread::Impl {
    std::thread thread;
};

FirstThread::FirstThread(std::function<void()> entry, std::function<void()> onEnd) : impl_(new Impl) {
    auto state = std::make_shared<ThreadState>();
    state->slot = 0;
    {
        std::lock_guard g(tableMutex);
        table[0].state = state;
    }
    impl_->thread = std::thread([state, entry = std::move(entry), onEnd = std::move(onEnd)] {
        tSlot = 0;
        tState = state;
        state->threadId = osThreadId();
        acquireRuntimeLock();
        entry();
        waitForAllThreads();
        endThread(0, state);
        releaseRuntimeLock();
        if (onEnd) onEnd();
    });
}

FirstThread::~FirstThread() {
    join();
}

void FirstThread::join() {
    if (impl_ && impl_->thread.joinable()) impl_->thread.join();
}

} // namespace sorv::win
