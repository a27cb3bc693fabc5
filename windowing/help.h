// The program's help: the pages of its user guide (Markdown, read from a folder or from the
// program's resources, so they need nothing on line) shown in one help window of the desktop,
// with a contents tree, a search over every section and a history. Program threads ask for it
// through these calls like for any other desktop service; nothing here waits for the user.
//
// A window's help topic is its design's `help` text (the resource name it was opened from, unless
// the design names another); the book maps topics to pages by the longest pattern that matches:
// a pattern matches a topic holding its pieces between '*' in order ("SORVD002", "SORVEX*P70$").
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace sorv::win {

struct HelpBook {
    std::string title;    // the help window's caption
    std::string root;     // the folder of the pages (":/..." for the program's resources)
    std::string contents; // the contents page, whose links in order are the book's pages
    std::string howToUse; // the page that explains the help window
    // Topic pattern -> "page.md" or "page.md#heading-slug".
    std::vector<std::pair<std::string, std::string>> topics;
};

// Sets the book the help shows (the program does this once at start).
void setHelpBook(HelpBook book);

enum class HelpView { Contents, Search, HowToUse };
// Opens (or raises) the help window on its contents, its search, or the page about itself.
void showHelp(HelpView view = HelpView::Contents);
// Opens the help on a page: a window's topic, or "page.md#heading-slug".
void showHelpTopic(const std::string& topic);
// Opens the help on the page of an open window (its contents when the window has no page).
void showWindowHelp(int windowId);

// What a topic leads to, "page.md#slug" ("" for none): the mapping without a window.
std::string helpPageOf(const std::string& topic);

// One search hit: the page, the heading of the section it is in and that heading's slug.
struct HelpHit {
    std::string page, heading, slug;
};
// The sections of the book holding every word of `query` (case ignored), in book order.
std::vector<HelpHit> searchHelp(const std::string& query);

// A heading's anchor as the guide's links write it: lower case, blanks as '-', other
// punctuation dropped ("Keys & menus" -> "keys--menus").
std::string helpSlug(const std::string& heading);

} // namespace sorv::win
