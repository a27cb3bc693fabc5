// The web links window and its buttons.
#include "app/weblinks.h"

#include "app/globals.h"
#include "app/linkbutton.h"
#include "windowing/desktop.h"
#include "windowing/window.h"

namespace sorv::app {

const char* const WebLinksResource = "sorvdemo$SORVD001|P11$WINDOW";

const std::vector<WebLink>& webLinks() {
    // Addresses of the demo's own choosing; the first three are the ordering links, whose
    // failure the user must hear about.
    static const std::vector<WebLink> links = {
        {1, "Product page (reseller)", "https://sorvex.example.com/product", nullptr, true},
        {2, "Order page (reseller)", "https://sorvex.example.com/order", nullptr, true},
        {3, "Order form (Order.Frm)", nullptr, "Notepad.EXE Order.Frm", true},
        {4, "Sorvex authors' web site", "https://authors.sorvex.example.org/", nullptr, false},
        {5, "Runtime maker's web site", "https://runtime.example.net/", nullptr, false},
    };
    return links;
}

int followLink(const WebLink& link) {
    int result = link.command ? win::runCommand(link.command) : win::shellOpen(link.address);
    if (link.reportsFailure && result <= 32) {
        // The shell's code and what it was asked to open, in the text (a caption may not show).
        std::string what = link.command ? link.command : link.address;
        std::string why = result == 2 ? " (the file does not exist)" : "";
        win::message("error " + std::to_string(result) + ": could not open " + what + why,
                     "Web Sites/Ordering", win::icon::Exclamation);
    }
    return result;
}

namespace {

win::WindowSpec webLinksSpec() {
    win::WindowSpec design;
    design.kind = win::WindowKind::MdiChild;
    design.caption = "Web Sites/Ordering...";
    design.resizable = false;
    design.at = {12, 10, 150, 40 + 20 * static_cast<int>(webLinks().size())};
    int y = 8;
    for (const WebLink& l : webLinks()) {
        auto& c = design.add("LINKBUTTON", l.control, {10, y, 130, 16}, l.caption);
        c.tip = l.address ? l.address : l.command;
        y += 20;
    }
    design.add("BUTTON", WebLinksClose, {50, y + 4, 50, 14}, "&Close");
    return design;
}

} // namespace

void registerWebLinksWindow() {
    registerLinkButton();
    win::registerWindowResource(WebLinksResource, webLinksSpec);
}

namespace {

class WebLinksManager : public fw::WindowManager {
public:
    fw::Level Init() override {
        fw::Level level = openProcedureWindow(*this, WebLinksResource, webLinks().front().control);
        if (level != fw::LevelNone) return level;
        AddItem(WebLinksClose, fw::ResponseCancelled);
        return fw::LevelNone;
    }
    fw::Level HandleAccepted() override {
        for (const WebLink& l : webLinks())
            if (l.control == EVENT.control) followLink(l);
        return WindowManager::HandleAccepted();
    }
};

} // namespace

void WebLinks() {
    WebLinksManager().Run();
}

} // namespace sorv::app
