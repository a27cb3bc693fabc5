// The desktop's services for program threads: message boxes, the warning beep, the shell, the
// clipboard, the active MDI child, and the entry that runs a program on its first thread while the
// calling (main) thread serves the desktop. Printing is windowing/printer.h and windowing/report.h.
#pragma once
#include <functional>
#include <string>

class QMessageBox;

namespace sorv::win {

// Button values of message boxes; sets are sums (Yes + No is 6).
namespace button {
enum : int { Ok = 1, Yes = 2, No = 4, Abort = 8, Retry = 16, Ignore = 32, Cancel = 64, Help = 128 };
}
// Standard icons: the last byte of the icon strings FF 01 nn 7F.
namespace icon {
enum : int { None = 0, Application = 1, Hand = 2, Question = 3, Exclamation = 4, Asterisk = 5 };
}

// Shows a message box and answers the value of the button pressed (the default button when the
// box is closed otherwise). The runtime lock is given up while the box waits; "|" breaks lines.
// Without a desktop linked in (the command-line tools) it answers the default button at once.
int message(const std::string& text, const std::string& caption = {}, int icon = icon::None,
            int buttons = button::Ok, int defaultButton = 0);
// Where message() shows its boxes; the desktop sets itself when it is linked in.
using MessagePresenter = int (*)(const std::string& text, const std::string& caption, int icon, int buttons,
                                 int defaultButton);
void setMessagePresenter(MessagePresenter presenter);
// An icon given as its standard string ("\xFF\x01\x03\x7F") or empty.
int iconOfString(const std::string& iconString);

void beep();

// Shows the wait cursor over the whole desktop while it lives (nested ones show it once).
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The shell's "open" of a document, folder or address with its associated program (through
// $SORV_OPENER when set, else xdg-open on an X11 or Wayland desktop). Answers more than 32 on
// success; 2 for a file that does not exist, 31 when nothing could open it.
int shellOpen(const std::string& target);
// Runs a command line ("Notepad.EXE Order.Frm" opens the file in the desktop's text editor).
// Same answers as shellOpen.
int runCommand(const std::string& commandLine);

// Copies the image of an open window to the clipboard; false for a window that is not open.
bool copyWindowImage(int windowId);

// The thread slot of the active MDI child, -1 when none is active.
int activeChildThread();
// The window id of the frame, 0 when none is open.
int frameWindow();

// The desktop's request to log off or shut down: refused while a program runs, with the stop
// message. Answers true when refused. Qt's session manager calls it; tests may too.
bool refuseSessionEnd();

// Runs `entry` as the program's first thread under the runtime lock and serves the desktop on the
// calling thread (which must own the QApplication) until the entry and every thread it started
// have ended. Answers 0.
int runProgram(std::function<void()> entry);

// Test hook: called on the GUI thread with every message box just before it is shown.
void setMessageBoxObserver(std::function<void(QMessageBox*)> observer);

} // namespace sorv::win
