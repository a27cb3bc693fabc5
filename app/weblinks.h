// The "Web Sites/Ordering..." window: a column of link buttons that hand their addresses to the
// desktop shell, and the order form opened in the text editor.
#pragma once
#include <string>
#include <vector>

namespace sorv::app {

// One link button: its control number, caption, and what it opens. A button with a command runs
// it as a command line instead of opening an address.
struct WebLink {
    int control;
    const char* caption;
    const char* address;
    const char* command;
    bool reportsFailure; // a shell result of 32 or less shows the "error" box with the code
};
const std::vector<WebLink>& webLinks();
inline constexpr int WebLinksClose = 10;

// The resource name of the window ("P11$WINDOW" of "sorvdemo$SORVD001").
extern const char* const WebLinksResource;

// Registers the window's resource and its link button control (once, at start).
void registerWebLinksWindow();

// The procedure the Help menu starts on a thread of its own.
void WebLinks();

// What a link button does: the shell's open (or the command line), and the box for a failed
// result where the button reports one. Answers the shell's result.
int followLink(const WebLink& link);

} // namespace sorv::app
