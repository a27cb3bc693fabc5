// The frame's menu and toolbar tables.
#include "app/frametables.h"

#include "app/browsecustomer.h"
#include "app/browseparentchild.h"
#include "app/browsepeople.h"
#include "app/memorylists.h"
#include "app/textwindows.h"
#include "app/weblinks.h"

#include <QDir>

// Resources of a static library need a reference from code to be linked in.
static void initAppQrc() {
    Q_INIT_RESOURCE(resources);
}

namespace sorv::app {

using win::MenuItem;
using win::StdAction;

const std::vector<MenuProcedure>& menuProcedures() {
    // The browses and lists come with their own parts of the program; their items are in the
    // menu already and start nothing until then.
    static const std::vector<MenuProcedure> table = {
        {menu::BrowseCustomer, "SORVD002", 50000, &BrowseCustomer},
        {menu::BrowsePeople, "SORVD003", 50000, &BrowsePeople},
        {menu::BrowseParentChild, "SORVD007", 25000, &BrowseParentChild},
        {menu::FileLoadedList, "SORVD008", 25000, &FileLoadedList},
        {menu::HandCodedList, "SORVD009", 25000, &HandCodedList},
        {menu::WebSites, "WebLinks", 25000, &WebLinks},
        {menu::Notes, "SORVD011", 25000, &DemoNotes},
        {menu::Quotes, "SORVD012", 25000, &UserQuotes},
    };
    return table;
}

const MenuProcedure* menuProcedure(int control) {
    for (const MenuProcedure& p : menuProcedures())
        if (p.control == control) return &p;
    return nullptr;
}

namespace {

MenuItem item(std::string text, int number, std::string status = {}, StdAction action = StdAction::None,
              std::string shortcut = {}) {
    MenuItem m;
    m.text = std::move(text);
    m.number = number;
    m.status = std::move(status);
    m.action = action;
    m.shortcut = std::move(shortcut);
    return m;
}

MenuItem separator() {
    return MenuItem{};
}

MenuItem submenu(std::string text, int number, std::string status, std::vector<MenuItem> items) {
    MenuItem m = item(std::move(text), number, std::move(status));
    m.items = std::move(items);
    return m;
}

} // namespace

std::vector<MenuItem> frameMenus() {
    return {
        submenu("&File", menu::File, {},
                {item("&Print Setup ...", menu::PrintSetup, "Setup printer", StdAction::PrintSetup),
                 separator(), item("E&xit", menu::Exit, "Exit this application", StdAction::CloseFrame)}),
        submenu(
            "&Edit", menu::Edit, {},
            {item("Cu&t", menu::Cut, "Remove item to Windows Clipboard", StdAction::Cut, "Ctrl+X"),
             item("&Copy", menu::Copy, "Copy item to Windows Clipboard", StdAction::Copy, "Ctrl+C"),
             item("&Paste", menu::Paste, "Paste contents of Windows Clipboard", StdAction::Paste, "Ctrl+V")}),
        submenu("&Browse", menu::Browse, {},
                {item("Browse the Customer file", menu::BrowseCustomer, "Browse Customer"),
                 item("Browse the People file", menu::BrowsePeople, "Browse People"),
                 item("Browse Parent Child", menu::BrowseParentChild), separator(),
                 item("File-Loaded List", menu::FileLoadedList),
                 item("Hand-Coded LIst", menu::HandCodedList)}),
        submenu(
            "&Window", menu::Window, "Create and Arrange windows",
            {item("T&ile", menu::Tile, "Make all open windows visible", StdAction::Tile),
             item("&Cascade", menu::Cascade, "Stack all open windows", StdAction::Cascade),
             item("&Arrange Icons", menu::ArrangeIcons, "Align all window icons", StdAction::ArrangeIcons),
             item({}, 0, {}, StdAction::WindowList)}),
        submenu(
            "&Help", menu::Help, "Windows Help",
            {item("Web Sites/Ordering", menu::WebSites), item("Sorvex Demo Notes", menu::Notes),
             item("Quotes from Users", menu::Quotes),
             item("&Contents", menu::Contents, "View the contents of the help file", StdAction::HelpIndex),
             item("&Search for Help On...", menu::SearchHelp, "Search for help on a subject",
                  StdAction::HelpSearch),
             item("&How to Use Help", menu::HowToUseHelp, "How to use Windows Help", StdAction::HelpOnHelp)}),
    };
}

std::vector<win::ToolButton> frameToolbar() {
    static const struct {
        int number;
        const char* tip;
        const char* icon;
    } buttons[] = {
        {2005, "Go to the First Page", "VCRFIRST.ICO"},
        {2007, "Go to the Prior Page", "VCRPRIOR.ICO"},
        {2009, "Go to the Prior Record", "VCRUP.ICO"},
        {2010, "Locate record", "FIND.ICO"},
        {2008, "Go to the Next Record", "VCRDOWN.ICO"},
        {2006, "Go to the Next Page", "VCRNEXT.ICO"},
        {2004, "Go to the Last Page", "VCRLAST.ICO"},
        {2003, "Select This Record", "MARK.ICO"},
        {2000, "Insert a New Record", "INSERT.ICO"},
        {2001, "Edit This Record", "EDIT.ICO"},
        {2002, "Delete This Record", "DELETE.ICO"},
        {2011, "Previous value", "DITTO.ICO"},
        {2012, "Get Help", "HELP.ICO"},
    };
    std::vector<win::ToolButton> out;
    for (const auto& b : buttons) out.push_back({b.number, iconPath(b.icon), b.tip});
    return out;
}

std::string iconPath(const std::string& name) {
    return ":/sorvdemo/icons/" + name;
}

void initResources() {
    initAppQrc();
}

} // namespace sorv::app
