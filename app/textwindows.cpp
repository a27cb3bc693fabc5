// The text windows: the file is read once when the window opens; the notes window highlights
// the passage from "The main" to "order.".
#include "app/textwindows.h"

#include "app/globals.h"
#include "app/textfile.h"
#include "framework/windowresizer.h"
#include "windowing/control.h"
#include "windowing/desktop.h"
#include "windowing/window.h"

#include <QString>

namespace sorv::app {

const char* const NotesResource = "sorvdemo$SORVD011|P1$WINDOW";
const char* const QuotesResource = "sorvdemo$SORVD012|P1$WINDOW";

namespace {

// Selection properties of the text box: first and last character, counted from 1.
constexpr int SelStart = 11, SelEnd = 12;

win::WindowSpec textWindowSpec(const char* caption, int x, int y) {
    win::WindowSpec design;
    design.kind = win::WindowKind::MdiChild;
    design.caption = caption;
    design.resizable = true;
    design.at = {x, y, 320, 200};
    auto& text = design.add("TEXT", TextBoxControl, {0, 0, 320, 200});
    text.vscroll = true;
    text.readOnly = true;
    text.tip = caption;
    return design;
}

// Characters of the text box before a byte offset of the file's text, as the box counts them.
int characters(const std::string& text, std::size_t bytes) {
    return static_cast<int>(QString::fromUtf8(text.data(), static_cast<qsizetype>(bytes)).size());
}

class TextWindowManager : public fw::WindowManager {
public:
    TextWindowManager(const char* resource, const char* fileName, bool highlight)
        : resource_(resource), fileName_(fileName), highlight_(highlight) {}

    fw::Level Init() override {
        fw::Level level = openProcedureWindow(*this, resource_);
        if (level != fw::LevelNone) return level;
        TextLoad load = loadTextFile(fileName_);
        if (!load.message.empty()) win::message(load.message);
        WINDOW.setText(TextBoxControl, load.text);
        if (highlight_) {
            TextSpan s = notesSelection(load.text);
            // The end first, so that the start is never clamped against an older selection.
            WINDOW.setProperty(TextBoxControl, SelEnd, std::to_string(characters(load.text, s.end)));
            WINDOW.setProperty(TextBoxControl, SelStart, std::to_string(characters(load.text, s.start) + 1));
        }
        // The text box is designed to fill the window and keeps doing so.
        resizer_.Init(*this, fw::StrategyResize);
        return fw::LevelNone;
    }

private:
    fw::WindowResizer resizer_;
    const char* resource_;
    const char* fileName_;
    bool highlight_;
};

} // namespace

void registerTextWindows() {
    win::registerWindowResource(NotesResource, [] { return textWindowSpec("Sorvex Demo Notes...", 8, 6); });
    win::registerWindowResource(QuotesResource,
                                [] { return textWindowSpec("Sorvex \"Quotes\" from users...", 24, 20); });
}

void DemoNotes() {
    TextWindowManager(NotesResource, "SorvDemo.TXT", true).Run();
}

void UserQuotes() {
    TextWindowManager(QuotesResource, "SorveQts.TXT", false).Run();
}

} // namespace sorv::app
