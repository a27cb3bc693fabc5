// Stands in for the desktop's program that opens files: while it lives, every file the program
// asks the desktop to open (QDesktopServices, as the shell's "open" does) is taken by a hidden
// text browser, whose history then tells what the user would have seen open, in order. Without
// it the offscreen desktop opens nothing, and every launch fails.
#pragma once
#include "tests/windowing/harness.h"
#include "windowing/gui_call.h"

#include <QDesktopServices>
#include <QTextBrowser>
#include <string>

namespace sorv::test {

class ShellLog {
public:
    ShellLog() {
        application();
        browser_ = new QTextBrowser;
        QDesktopServices::setUrlHandler("file", browser_, "setSource");
    }
    ~ShellLog() {
        QDesktopServices::unsetUrlHandler("file");
        delete browser_;
    }
    ShellLog(const ShellLog&) = delete;
    ShellLog& operator=(const ShellLog&) = delete;

    // The local paths opened so far, one a line, oldest first.
    std::string opened() const {
        return win::onGui([&] {
            std::string out;
            for (int i = browser_->backwardHistoryCount(); i >= 0; --i) {
                const QUrl url = browser_->historyUrl(-i);
                if (!url.isEmpty()) out += url.toLocalFile().toStdString() + "\n";
            }
            return out;
        });
    }

private:
    QTextBrowser* browser_;
};

} // namespace sorv::test
