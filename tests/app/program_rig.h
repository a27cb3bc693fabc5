// The real program on the offscreen desktop for the app's tests: a fresh working directory, the
// program entry run while a driver thread acts as the user, a watchdog that turns a hang into a
// failure, and the frame's menu, MDI children and widgets as a user reaches them.
#pragma once
#include "app/demodata.h"
#include "app/frametables.h"
#include "app/program.h"
#include "tests/windowing/harness.h"
#include "windowing/threads.h"
#include "windowing/window.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace programtest {

using namespace sorv;
using namespace sorv::app;
using sorv::test::findWidget;
namespace fs = std::filesystem;

inline const char* const FrameCaption = "B4/B5 Sorvex Demo...";
inline const char* const NotesCaption = "Sorvex Demo Notes...";

// Ends the test process when a run does not end in time: a hang is a failure, not a stuck test.
class Watchdog {
public:
    explicit Watchdog(int seconds) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock g(m_);
            if (!cv_.wait_for(g, std::chrono::seconds(seconds), [this] { return done_; })) {
                std::fprintf(stderr, "the program did not end within %d s\n", seconds);
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard g(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// A fresh working directory for the program, left again at the end.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "sorvprog-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        previous_ = fs::current_path();
        fs::current_path(dir_);
        registerAppResources();
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    void copyTexts() {
        for (const char* f : {"SorvDemo.TXT", "SorveQts.TXT"})
            fs::copy_file(fs::path(SORV_SOURCE_DIR) / "app/texts" / f, dir_ / f);
    }
    // The demo tables with that many customers and people, and the texts.
    void writeDemo(int customers, int people) {
        DemoDataOptions options;
        options.customers = customers;
        options.people = people;
        ASSERT_EQ(writeDemoData(dir_.string(), options), "");
        copyTexts();
    }
    // Runs the program entry while `drive` runs on a thread of its own; `drive` must end the
    // program (through "E&xit").
    void runProgram(const std::function<void()>& drive) {
        Watchdog dog(60);
        std::thread driver([&] {
            drive();
            // A driver stopped by a failed assertion leaves the program running: end it here.
            if (::testing::Test::HasFatalFailure()) exitProgram();
        });
        sorv::test::runWithDesktop(programEntry);
        driver.join();
        EXPECT_EQ(win::startedThreadCount(), 0);
        EXPECT_FALSE(win::onGui([] { return findWidget(FrameCaption) != nullptr; }));
    }
    static void exitProgram() {
        win::onGui([] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* frame = qobject_cast<QMainWindow*>(w))
                    for (QAction* a : frame->findChildren<QAction*>())
                        if (a->text() == "E&xit") return a->trigger();
        });
    }
    std::string ini() const {
        std::ifstream in(dir_ / "sorvdemo.INI");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_, previous_;
};

using sorv::test::waitUntil;

inline QMainWindow* frameWidget() {
    return qobject_cast<QMainWindow*>(findWidget(FrameCaption, "QMainWindow"));
}

inline QMdiArea* mdiArea() {
    QMainWindow* f = frameWidget();
    return f ? qobject_cast<QMdiArea*>(f->centralWidget()) : nullptr;
}

inline QList<QMdiSubWindow*> children() {
    QMdiArea* a = mdiArea();
    return a ? a->subWindowList(QMdiArea::CreationOrder) : QList<QMdiSubWindow*>{};
}

inline int childCount() {
    return win::onGui([] { return static_cast<int>(children().size()); });
}

// Chooses a menu item or toolbar button of the frame by its text, as a click would.
inline void choose(const std::string& text) {
    win::onGui([&] {
        QMainWindow* f = frameWidget();
        ASSERT_TRUE(f);
        for (QAction* a : f->findChildren<QAction*>())
            if (a->text().toStdString() == text) return a->trigger();
        ADD_FAILURE() << "no item " << text;
    });
}

// The text of a menu item by its control number.
inline std::string menuText(int control) {
    std::function<std::string(const std::vector<win::MenuItem>&)> find =
        [&](const std::vector<win::MenuItem>& items) -> std::string {
        for (const win::MenuItem& m : items) {
            if (m.number == control) return m.text;
            if (std::string t = find(m.items); !t.empty()) return t;
        }
        return {};
    };
    return find(frameMenus());
}

// A window of the program's own (a dialog, a form) by its caption while it shows; nullptr when none.
inline QWidget* shownWindow(const std::string& caption) {
    return win::onGui([&]() -> QWidget* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle().toStdString() == caption) return w;
        return nullptr;
    });
}

// The window once it shows; nullptr when it does not.
inline QWidget* waitWindow(const std::string& caption) {
    QWidget* found = nullptr;
    waitUntil([&] { return (found = shownWindow(caption)) != nullptr; });
    return found;
}

inline bool waitGone(const std::string& caption) {
    return waitUntil([&] { return shownWindow(caption) == nullptr; });
}

// Clicks the button of that accessible name in a window, as a user's click does.
inline void clickButton(QWidget* in, const std::string& name) {
    win::onGui([&] {
        ASSERT_TRUE(in) << "no window for " << name;
        for (QPushButton* b : in->findChildren<QPushButton*>())
            if (b->accessibleName().toStdString() == name) return b->click();
        ADD_FAILURE() << "no button " << name;
    });
}

// Closes a child as its close box does and waits until it and its thread are gone.
inline void closeChild(QMdiSubWindow* sub, int childrenBefore) {
    win::onGui([&] { sub->close(); });
    EXPECT_TRUE(waitUntil([&] { return childCount() == childrenBefore - 1; }));
}

// Closes the child and ends the program through the frame's "E&xit", as a user ends a session.
inline void closeAndExit(QMdiSubWindow* sub) {
    closeChild(sub, childCount());
    choose("E&xit");
}

} // namespace programtest
