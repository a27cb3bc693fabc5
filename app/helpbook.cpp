// The guide's pages come from the program's resources (":/sorvdemo/guide"), so the help needs no
// files beside the program. Windows are matched by the resource they were opened from.
#include "app/helpbook.h"

#include "windowing/help.h"

#include <QtGlobal>

static void initGuideQrc() {
    Q_INIT_RESOURCE(guide);
}

namespace sorv::app {

void registerHelpBook() {
    initGuideQrc();
    win::HelpBook book;
    book.title = "sorvdemo Help";
    book.root = ":/sorvdemo/guide";
    book.contents = "index.md";
    book.howToUse = "help.md";
    book.topics = {
        {"SORVD001|P1$APPFRAME", "mainwindow.md"},
        {"SORVD001|P11$", "lists.md#the-web-sites-window"},
        {"SORVD002", "browses.md#the-customer-browse"},
        {"SORVD003", "browses.md#the-people-browse"},
        {"SORVD004", "forms.md#the-customer-form"},
        {"SORVD005", "browses.md#the-select-customer-list"},
        {"SORVD006", "forms.md#the-people-form"},
        {"SORVD007", "browses.md#the-parent--child-browse"},
        {"SORVD008", "lists.md#the-file-loaded-list"},
        {"SORVD009", "lists.md#the-hand-coded-list"},
        {"SORVD011", "lists.md#the-notes-and-quotes-windows"},
        {"SORVD012", "lists.md#the-notes-and-quotes-windows"},
        {"SelectParent", "browses.md#the-select-customer-list"},
        // The list enhancement's windows.
        {"SORVEX", "columns.md#the-column-menu"},
        {"SORVEX*P70$", "formatting.md#the-format-listbox-window"},
        {"SORVEX*P67$", "formatting.md#the-column-colors-window"},
        {"SORVEX*P65$", "formatting.md#the-header-text-window"},
        {"SORVEX*P14$WINDOW", "outputs.md#graph"},
        {"SORVEX*PROGRESS", "outputs.md"},
        {"SORVEX*P49$", "preferences.md"},
        {"SORVEX*REPORT", "outputs.md#report"},
    };
    win::setHelpBook(std::move(book));
}

} // namespace sorv::app
