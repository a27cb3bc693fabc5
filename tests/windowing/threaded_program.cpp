// A small program run against the real desktop from its start to its end: a frame on the first
// thread and three procedure threads, each with a window of the frame and a modal window of its
// own; events passed around the threads, message boxes shown on three threads at once and
// answered on the desktop, and an end that leaves no thread, window or box behind. A hang fails
// the test within a minute instead of stalling the run; under the sanitizers it also shows that
// nothing leaks and no freed window is touched.
#include "harness.h"
#include "lock_record.h"

#include "windowing/threads.h"
#include "windowing/window.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace sorv;
using namespace sorv::win;

namespace {

constexpr int Workers = 3;
constexpr int Rounds = 20;      // times the token goes round the workers
constexpr int Token = 1000;     // control numbers of ring events start here
constexpr int LateEvent = 5000; // posted to a worker's window while its modal window is open
constexpr int CloseDetail = 9;  // the frame's event that closes a modal window
constexpr int Ready = 1, RingDone = 2, DetailOpen = 3, WorkerDone = 4;

// Ends the process when the program has not ended in time: a hang is a failure, not a stall.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock g(mutex_);
              if (!done_.wait_for(g, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "the program did not end within %lld s\n",
                               static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard g(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

WindowSpec workerDesign(int k) {
    WindowSpec s;
    s.kind = WindowKind::MdiChild;
    s.caption = "Worker " + std::to_string(k);
    s.at = {10 + 20 * k, 10 + 20 * k, 160, 80};
    s.add("PROMPT", 1, {4, 4, 40, 10}, "&Name:");
    s.add("ENTRY", 2, {50, 4, 100, 10});
    s.add("BUTTON", 4, {4, 60, 40, 14}, "&Ask");
    return s;
}

WindowSpec detailDesign(int k) {
    WindowSpec s;
    s.kind = WindowKind::Window;
    s.modal = true;
    s.caption = "Detail " + std::to_string(k);
    s.at = {40, 40, 120, 60};
    s.add("BUTTON", 1, {4, 40, 40, 14}, "&Close");
    return s;
}

// What each worker saw, read by the test after the program ended.
struct WorkerLog {
    std::vector<int> tokens;
    int answer = 0;
    bool lateAfterDetail = false; // the late event came only once the modal window had closed
    bool closedDown = false;
    int slot = -1;
};

struct Shared {
    std::array<std::atomic<int>, Workers + 1> windowOf{}; // worker k's window id
    std::array<std::atomic<int>, Workers + 1> detailOf{}; // worker k's modal window id
    std::array<std::atomic<int>, Workers + 1> slotOf{};
    std::array<WorkerLog, Workers + 1> log;
};

void worker(Shared& sh, int k) {
    WorkerLog& log = sh.log[k];
    log.slot = currentSlot();
    Window w;
    if (!w.open(workerDesign(k))) return;
    sh.windowOf[k] = w.id();
    sh.slotOf[k] = currentSlot();
    Window::postToThread(0, event::Notify, Ready);
    const int next = k % Workers + 1;
    Event e;
    bool detailClosed = false;
    while (w.accept(e)) {
        if (e.code == event::CloseDown) {
            log.closedDown = true;
            w.defaultAction(e);
            continue;
        }
        if (e.code != event::Accepted) continue;
        if (e.control >= Token && e.control < LateEvent) {
            const int n = e.control - Token;
            log.tokens.push_back(n);
            if (n + 1 < Rounds * Workers)
                Window(sh.windowOf[next]).post(event::Accepted, Token + n + 1);
            else
                Window::postToThread(0, event::Notify, RingDone);
        } else if (e.control == 4) {
            // The desktop pressed "Ask": a box, then a modal window whose loop leaves this
            // window's events waiting until the frame's thread closes it.
            log.answer = message("Worker " + std::to_string(k) + ": go on?", "Worker " + std::to_string(k),
                                 icon::Question, button::Yes + button::No, button::Yes);
            Window d;
            if (!d.open(detailDesign(k))) continue;
            sh.detailOf[k] = d.id();
            Window::postToThread(0, event::Notify, DetailOpen);
            Event de;
            while (d.accept(de))
                if (de.code == event::Accepted && de.control == CloseDetail) d.close();
            detailClosed = true;
            Window::postToThread(0, event::Notify, WorkerDone);
        } else if (e.control == LateEvent) {
            log.lateAfterDetail = detailClosed;
        }
    }
}

// The frame thread's next notification of one kind; desktop events of the frame are skipped.
int awaitNotify(Window& frame, int what) {
    Event e;
    while (frame.accept(e))
        if (e.code == event::Notify && e.control == what) return e.control;
    ADD_FAILURE() << "the frame closed while waiting for " << what;
    return 0;
}

// The message boxes on screen (GUI thread), by their captions.
std::vector<QMessageBox*> shownBoxes() {
    std::vector<QMessageBox*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) out.push_back(box);
    return out;
}

} // namespace

TEST(ThreadedProgram, WindowsEventsAndBoxesOnSeveralThreadsEndCleanly) {
    Watchdog watchdog(std::chrono::seconds(60));
    Shared sh;
    sorv::test::LockRecord record;
    int boxesAtOnce = 0;
    std::vector<std::string> boxTitles;
    int threadsLeft = -1;
    sorv::test::runWithDesktop([&] {
        WindowSpec fs;
        fs.kind = WindowKind::Frame;
        fs.caption = "Threaded frame";
        fs.at = {0, 0, 500, 360};
        Window frame;
        ASSERT_TRUE(frame.open(fs));
        for (int k = 1; k <= Workers; ++k)
            ASSERT_EQ(startProcedure([&sh, k](const std::string&) { worker(sh, k); }), k);
        for (int k = 1; k <= Workers; ++k) awaitNotify(frame, Ready);

        // The token goes round the three threads, each passing it to the next one's window.
        Window(sh.windowOf[1]).post(event::Accepted, Token);
        awaitNotify(frame, RingDone);

        // The desktop presses "Ask" in every worker window; each worker shows its box and
        // waits with the lock given up, so all three boxes stand at once.
        onGui([] {
            for (QWidget* w : QApplication::allWidgets())
                if (w->accessibleName() == "Ask") static_cast<QPushButton*>(w)->click();
        });
        for (int tries = 0; tries < 6000; ++tries) {
            if (onGui([] { return shownBoxes().size(); }) == std::size_t(Workers)) break;
            LockReleased waiting;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        onGui([&] {
            auto boxes = shownBoxes();
            boxesAtOnce = int(boxes.size());
            for (QMessageBox* box : boxes) {
                boxTitles.push_back(box->windowTitle().toStdString());
                // Worker 2 is told no; the others yes.
                sorv::test::clickBoxButton(box, box->windowTitle() == "Worker 2" ? button::No : button::Yes);
            }
        });
        // Each worker opens its modal window; an event for the worker's own window posted
        // meanwhile waits until that window has closed.
        for (int k = 1; k <= Workers; ++k) awaitNotify(frame, DetailOpen);
        for (int k = 1; k <= Workers; ++k) {
            Window(sh.windowOf[k]).post(event::Accepted, LateEvent);
            Window(sh.detailOf[k]).post(event::Accepted, CloseDetail);
        }
        for (int k = 1; k <= Workers; ++k) awaitNotify(frame, WorkerDone);

        // Closing the frame closes the workers' windows down first; their threads then end.
        frame.close();
        waitForAllThreads();
        threadsLeft = startedThreadCount();
    });
    EXPECT_EQ(threadsLeft, 0);
    EXPECT_EQ(startedThreadCount(), 0);
    for (int k = 1; k <= Workers; ++k) {
        SCOPED_TRACE("worker " + std::to_string(k));
        const WorkerLog& log = sh.log[k];
        EXPECT_EQ(log.slot, k);
        std::vector<int> expected;
        for (int n = k - 1; n < Rounds * Workers; n += Workers) expected.push_back(n);
        EXPECT_EQ(log.tokens, expected);
        EXPECT_EQ(log.answer, k == 2 ? button::No : button::Yes);
        EXPECT_TRUE(log.lateAfterDetail);
        EXPECT_TRUE(log.closedDown);
    }
    EXPECT_EQ(boxesAtOnce, Workers);
    std::sort(boxTitles.begin(), boxTitles.end());
    EXPECT_EQ(boxTitles, (std::vector<std::string>{"Worker 1", "Worker 2", "Worker 3"}));

    // Every step of the program ran under the lock, one thread at a time.
    auto s = record.summary();
    EXPECT_EQ(s.overlaps, 0);
    EXPECT_EQ(s.strayReleases, 0);
    for (int k = 0; k <= Workers; ++k) EXPECT_GT(s.holdsBySlot[k], 0) << k;

    // Nothing of the program is left on the desktop once deferred deletions have run.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    std::vector<std::string> left;
    for (QWidget* w : QApplication::topLevelWidgets())
        left.push_back(std::string(w->metaObject()->className()) + " '" + w->windowTitle().toStdString() +
                       "'" + (w->isVisible() ? " shown" : ""));
    EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}
