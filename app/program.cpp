// The program entry in its order, and main()'s desktop.
#include "app/program.h"

#include "app/browsecustomer.h"
#include "app/browseparentchild.h"
#include "app/browsepeople.h"
#include "app/dictionary.h"
#include "app/frametables.h"
#include "app/helpbook.h"
#include "app/mainframe.h"
#include "app/memorylists.h"
#include "app/startup.h"
#include "app/textwindows.h"
#include "app/updateforms.h"
#include "app/weblinks.h"
#include "data/qnl/qnldriver.h"
#include "framework/inimanager.h"
#include "windowing/desktop.h"
#include "windowing/threads.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace sorv::app {

void registerAppResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        initResources();
        registerFrameWindow();
        registerWebLinksWindow();
        registerTextWindows();
        registerBrowseCustomer();
        registerBrowsePeople();
        registerBrowseParentChild();
        registerMemoryLists();
        registerUpdateForms();
        registerHelpBook();
    });
}

void programEntry() {
    // A damaged native file is reported to the user by the driver itself, whatever the file
    // manager makes of the failed operation.
    qnl::setCorruptionReporter([](const std::string& title, const std::string& text) {
        win::message(text, title, win::icon::Exclamation);
    });
    // The settings file is relative: it lives in the working directory.
    GlobalErrors().Init();
    fw::iniManager().Init("sorvdemo.INI");
    DictionaryInit(GlobalErrors());
    Main();
    // Procedures started before the frame closed may still be on their way; the dictionary and the
    // error manager they use go only once every one of them has ended.
    win::waitForAllThreads();
    DictionaryKill();
    GlobalErrors().Kill();
    qnl::setCorruptionReporter({});
}

namespace {

const char* const NoDisplay = "sorvdemo: no display could be opened (DISPLAY is not set or its server "
                              "refuses); run it on a desktop, or under Xvfb: Xvfb :99 & DISPLAY=:99 sorvdemo";

// Without a display the toolkit's start-up ends the process with an abort; the user is told why
// instead and the status says the program did not run.
QtMessageHandler previousHandler = nullptr;

void failedPlatform(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    std::fprintf(stderr, "%s\n(%s)\n", NoDisplay, text.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(NoDisplayStatus);
}

bool displayNamed() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(name); v && *v) return true;
    return false;
}

} // namespace

int runSorvdemo(int argc, char** argv) {
    StartOptions options = parseStartOptions(argc, argv);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty()) std::fprintf(stderr, "sorvdemo: %s\n", options.error.c_str());
        std::fputs(startUsage(), options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }
    if (options.userFolder) {
        // The program works in its current directory; a start from the desktop's menu works in
        // the user's own folder, seeded on first use with the demo's texts and tables.
        const std::string folder = userFolderPath();
        if (folder.empty()) {
            std::fputs("sorvdemo: neither XDG_DATA_HOME nor HOME says where the user's folder is\n", stderr);
            return 1;
        }
        std::string programFolder;
        if (argc > 0) {
            std::error_code ec;
            programFolder = std::filesystem::canonical("/proc/self/exe", ec).parent_path().string();
        }
        if (std::string why = seedUserFolder(folder, shippedDataFolder(programFolder)); !why.empty()) {
            std::fprintf(stderr, "sorvdemo: %s\n", why.c_str());
            return 1;
        }
        std::error_code ec;
        std::filesystem::current_path(folder, ec);
        if (ec) {
            std::fprintf(stderr, "sorvdemo: cannot work in %s: %s\n", folder.c_str(), ec.message().c_str());
            return 1;
        }
    }
    if (!displayNamed()) {
        std::fprintf(stderr, "%s\n", NoDisplay);
        return NoDisplayStatus;
    }
    previousHandler = qInstallMessageHandler(failedPlatform);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName("sorvdemo");
    registerAppResources();
    return win::runProgram(programEntry);
}

} // namespace sorv::app
