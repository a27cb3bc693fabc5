// The thread table, the runtime lock and the per-thread event queues, without a desktop.
#include "windowing/threads.h"
#include "windowing/events.h"

#include "lock_record.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace sorv::win;

namespace {

// Runs `body` as the program's first thread and waits until it and every thread it started ended.
void asProgram(std::function<void()> body) {
    FirstThread first(std::move(body), {});
    first.join();
}

// A procedure that waits for one event posted to its thread, then returns.
void waitForOneEvent(const std::string&) {
    currentThreadState()->queue.take(1, true);
}

void postTo(int slot, int code = event::Accepted) {
    auto state = threadState(slot);
    ASSERT_TRUE(state) << slot;
    state->queue.post(makeEvent(code, 0, 0));
}

} // namespace

TEST(Events, NamesAndNumbering) {
    EXPECT_EQ(eventName(event::Accepted), "EVENT:Accepted");
    EXPECT_EQ(eventName(0x1501), "EVENT:Selected");
    EXPECT_EQ(eventName(0x1642), "EVENT:BuildDone");
    EXPECT_EQ(eventName(0x1607), "");
    EXPECT_EQ(eventName(0x1400), "");
    EXPECT_EQ(eventName(0x2414), "");
    EXPECT_TRUE(isFieldEvent(0x1501));
    EXPECT_TRUE(isFieldEvent(0x14ff));
    EXPECT_FALSE(isFieldEvent(0x1601));
    EXPECT_TRUE(isWindowEvent(event::CloseWindow));
    EXPECT_FALSE(isWindowEvent(event::Selected));
    EXPECT_EQ(frameworkNumber(event::Rejected), 0x1a);
    EXPECT_EQ(frameworkNumber(event::Sized), 0x231);
    EXPECT_EQ(eventCode(0x225), event::Completed);
}

TEST(EventQueue, EachWindowTakesOnlyItsOwnEventsInOrder) {
    EventQueue q;
    for (int i = 0; i < 6; ++i) q.post(makeEvent(event::Accepted, i, 1 + i % 2));
    q.post(makeEvent(event::Notify, 0, 0)); // to the thread as a whole
    q.post(makeEvent(event::ThreadStarted, 0, 0, 7));
    q.post(makeEvent(event::CloseWindow, 0, 2));
    for (int i : {1, 3, 5}) {
        auto e = q.poll(2, false);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->control, i);
    }
    // The thread's own event waits for a window that takes thread events; the start message is
    // consumed on the way.
    EXPECT_EQ(q.poll(2, false)->code, event::CloseWindow);
    EXPECT_FALSE(q.poll(2, false));
    EXPECT_EQ(q.startedSlot(), 7);
    EXPECT_EQ(q.poll(1, true)->control, 0);
    EXPECT_EQ(q.poll(1, true)->control, 2);
    EXPECT_EQ(q.poll(1, true)->control, 4);
    EXPECT_EQ(q.poll(1, true)->code, event::Notify);
    q.post(makeEvent(event::Accepted, 9, 3));
    q.post(makeEvent(event::Accepted, 8, 4));
    q.discard(3);
    EXPECT_EQ(q.size(), 1u);
    EXPECT_FALSE(q.poll(3, false));
}

TEST(Threads, SixtyFourthStartFailsAndLowestFreeSlotIsReused) {
    asProgram([] {
        std::vector<int> slots;
        for (int i = 0; i < 63; ++i) slots.push_back(startProcedure(waitForOneEvent, 25000));
        for (int i = 0; i < 63; ++i) EXPECT_EQ(slots[i], i + 1);
        EXPECT_EQ(startedThreadCount(), 63);
        EXPECT_EQ(startProcedure(waitForOneEvent), -1);
        EXPECT_EQ(startedThreadCount(), 63);

        // Slot 5 ends; its end posts to us while it still holds the lock, so by the time we run
        // again the slot has been cleared.
        int me = currentSlot();
        int hook = addThreadEventHandler([me](int slot, bool started) {
            if (slot == 5 && !started) postTo(me);
        });
        postTo(5);
        currentThreadState()->queue.take(1, true);
        removeThreadEventHandler(hook);
        EXPECT_FALSE(threadState(5));
        EXPECT_EQ(startProcedure(waitForOneEvent), 5);
        EXPECT_EQ(startProcedure(waitForOneEvent), -1);
        for (int slot = 1; slot < 64; ++slot) postTo(slot);
        waitForAllThreads();
        EXPECT_EQ(startedThreadCount(), 0);
        EXPECT_TRUE(holdsRuntimeLock());
    });
}

TEST(Threads, ProcedureRunsAfterStartReturnedAndGetsItsParameter) {
    std::atomic<bool> startReturned{false};
    std::atomic<bool> sawReturned{false};
    std::string parameter;
    int messageSlot = -1;
    int slot = -1;
    asProgram([&] {
        slot = startProcedure(
            [&](const std::string& p) {
                sawReturned = startReturned.load();
                parameter = p;
                EXPECT_TRUE(holdsRuntimeLock());
                EXPECT_EQ(currentThreadNumber(), currentSlot());
                currentThreadState()->queue.poll(1, true);
                messageSlot = currentThreadState()->queue.startedSlot();
            },
            0, "Customer");
        // Still ours: the new thread waits for the lock we hold.
        startReturned = true;
        EXPECT_TRUE(holdsRuntimeLock());
    });
    EXPECT_EQ(slot, 1);
    EXPECT_TRUE(sawReturned);
    EXPECT_EQ(parameter, "Customer");
    EXPECT_EQ(messageSlot, 1);
}

TEST(Threads, HandlersSeeStartAndEndLastRegisteredFirst) {
    std::vector<std::string> seen;
    int a = addThreadEventHandler(
        [&](int slot, bool started) { seen.push_back("a" + std::to_string(slot) + (started ? "+" : "-")); });
    int b = addThreadEventHandler(
        [&](int slot, bool started) { seen.push_back("b" + std::to_string(slot) + (started ? "+" : "-")); });
    std::vector<std::string> order;
    setThreadExitHook([&] { order.push_back("exit"); });
    setThreadWindowCleanup([&](int slot) { order.push_back("windows" + std::to_string(slot)); });
    asProgram([&] {
        startProcedure([&](const std::string&) {
            seen.push_back("run");
            currentThreadState()->buffers.push_back([&] { order.push_back("buffer1"); });
            currentThreadState()->buffers.push_back([&] { order.push_back("buffer2"); });
        });
    });
    removeThreadEventHandler(a);
    removeThreadEventHandler(b);
    setThreadExitHook({});
    setThreadWindowCleanup({});
    EXPECT_EQ(seen, (std::vector<std::string>{"b1+", "a1+", "run", "b1-", "a1-"}));
    // The first thread's own end closes its windows too, after the started one's.
    EXPECT_EQ(order, (std::vector<std::string>{"exit", "windows1", "buffer2", "buffer1", "windows0"}));
}

TEST(Threads, LockExcludesAndWaitersDoNotHoldIt) {
    constexpr int workers = 6, rounds = 400;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> wrongOwner{0};
    std::atomic<int> done{0};
    asProgram([&] {
        for (int w = 0; w < workers; ++w)
            startProcedure([&](const std::string&) {
                for (int r = 0; r < rounds; ++r) {
                    {
                        LockReleased waiting;
                        if (holdsRuntimeLock()) ++wrongOwner;
                        std::this_thread::yield();
                    }
                    if (++inside != 1) ++overlaps;
                    for (int spin = 0; spin < 50; ++spin) {
                        if (!holdsRuntimeLock() || currentThreadNumber() != currentSlot()) ++wrongOwner;
                        if (spin % 10 == 0) std::this_thread::yield();
                    }
                    --inside;
                }
                ++done;
            });
    });
    EXPECT_EQ(done, workers);
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(wrongOwner, 0);
    EXPECT_EQ(runtimeLockOwner(), 0u);
}

TEST(LockRecord, ReadsOverlapsStrayReleasesAndWorkOutsideTheLock) {
    // The reading that the lock tests rely on, on a made-up history: thread 2 takes the lock
    // while thread 1 holds it, and thread 3 works without it.
    sorv::test::LockRecord r;
    using K = sorv::test::LockRecord::Kind;
    r.add(1, 1, K::Taken);
    r.add(1, 1, K::Work);
    r.add(2, 2, K::Waiting);
    r.add(2, 2, K::Taken);
    r.add(2, 2, K::Work);
    r.add(1, 1, K::Released);
    r.add(3, 3, K::Work);
    auto s = r.summary();
    EXPECT_EQ(s.overlaps, 1);
    EXPECT_EQ(s.strayReleases, 1);
    EXPECT_EQ(s.unheldWork, 1);
    EXPECT_EQ((s.contention[{2, 1}]), 1);
    EXPECT_EQ(s.switches, 2);
    EXPECT_EQ(s.workBySlot[1], 1);
}

TEST(Threads, BusyThreadsHandTheLockOnAtEveryEvent) {
    // Both queues are full before either thread runs: a thread that kept the lock while it had
    // events waiting would handle all of its own before the other handled one. Each handler ends
    // only once the other thread is back waiting for the lock, so that the hand-over is not left
    // to the machine's scheduling.
    constexpr int events = 300;
    std::vector<int> orderA, orderB;
    std::atomic<int> finished{0};
    sorv::test::LockRecord record;
    asProgram([&] {
        auto loop = [&](std::vector<int>* order) {
            return [&, order](const std::string&) {
                for (;;) {
                    Event e = currentThreadState()->queue.take(1, true);
                    if (e.code == event::CloseWindow) break;
                    record.work();
                    order->push_back(e.control);
                    while (runtimeLockWaiters() == 0 && finished == 0) std::this_thread::yield();
                }
                ++finished;
            };
        };
        int a = startProcedure(loop(&orderA));
        int b = startProcedure(loop(&orderB));
        while (runtimeLockWaiters() < 2) std::this_thread::yield();
        for (int i = 0; i < events; ++i) {
            threadState(a)->queue.post(makeEvent(event::Accepted, i, 1));
            threadState(b)->queue.post(makeEvent(event::Accepted, i, 1));
        }
        threadState(a)->queue.post(makeEvent(event::CloseWindow, 0, 1));
        threadState(b)->queue.post(makeEvent(event::CloseWindow, 0, 1));
    });
    auto s = record.summary();
    EXPECT_EQ(s.overlaps, 0);
    EXPECT_EQ(s.unheldWork, 0);
    EXPECT_EQ(s.workBySlot[1], events);
    EXPECT_EQ(s.workBySlot[2], events);
    // Served in turn, the two threads alternate at every event.
    EXPECT_EQ(s.switches, 2 * events - 1);
    ASSERT_EQ(orderA.size(), static_cast<size_t>(events));
    for (int i = 0; i < events; ++i) EXPECT_EQ(orderA[i], i);
    EXPECT_EQ(orderA, orderB);
}

TEST(Threads, ProgramEndWaitsForEveryThreadIncludingLateStarts) {
    std::atomic<int> finished{0};
    int startedInEnd = -1;
    {
        FirstThread first(
            [&] {
                for (int i = 0; i < 20; ++i)
                    startProcedure([&](const std::string&) {
                        // Each starts one more before it ends, while the first thread is waiting.
                        startProcedure([&](const std::string&) {
                            LockReleased r;
                            std::this_thread::yield();
                            ++finished;
                        });
                        ++finished;
                    });
            },
            [&] { startedInEnd = startedThreadCount(); });
        first.join();
    }
    EXPECT_EQ(finished, 40);
    EXPECT_EQ(startedInEnd, 0);
}

TEST(Threads, SmallStackRequestStillGetsAUsableStack) {
    std::atomic<int> sum{0};
    asProgram([&] {
        startProcedure(
            [&](const std::string&) {
                volatile char big[256 * 1024];
                for (std::size_t i = 0; i < sizeof big; i += 4096) big[i] = 1;
                int s = 0;
                for (std::size_t i = 0; i < sizeof big; i += 4096) s += big[i];
                sum = s;
            },
            5000);
    });
    EXPECT_EQ(sum, 64);
}
