// The program entry in its order, and main()'s desktop.
#include "app/program.h"

#include "app/browsecustomer.h"
#include "app/dictionary.h"
#include "app/frametables.h"
#include "app/mainframe.h"
#include "app/textwindows.h"
#include "app/weblinks.h"
#include "framework/inimanager.h"
#include "windowing/desktop.h"

#include <QApplication>
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
    });
}

void programEntry() {
    // The settings file is relative: it lives in the working directory.
    GlobalErrors().Init();
    fw::iniManager().Init("sorvdemo.INI");
    DictionaryInit(GlobalErrors());
    Main();
    DictionaryKill();
    GlobalErrors().Kill();
}

int runSorvdemo(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("sorvdemo");
    registerAppResources();
    return win::runProgram(programEntry);
}

} // namespace sorv::app
