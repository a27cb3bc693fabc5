// Step, entry, incremental and filter locators.
#include "framework/locators.h"

#include "framework/browsemanager.h"
#include "windowing/listbox.h"

#include <algorithm>

namespace sorv::fw {

namespace {

constexpr int Backspace = 0x08;
constexpr int Space = 0x20;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperText(std::string s) {
    for (char& c : s) c = upper(c);
    return s;
}

// The text as a literal between single quotes: a quote inside it is doubled, so a typed quote
// ends nothing (O'Brien finds O'Brien instead of breaking the filter).
std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

void addCharacterKeys(BrowseManager& browse) {
    browse.AddListAlert(win::key::Typed);
}

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Takes the last whole character off a UTF-8 text.
void dropLastCharacter(std::string& s) {
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
    if (!s.empty()) s.pop_back();
}

bool sameStart(const std::string& text, const std::string& typed, bool noCase) {
    if (text.size() < typed.size()) return false;
    for (std::size_t i = 0; i < typed.size(); ++i)
        if (noCase ? upper(text[i]) != upper(typed[i]) : text[i] != typed[i]) return false;
    return true;
}

} // namespace

std::string locatorText(int keyCode) {
    if (keyCode & win::key::Typed) return utf8(static_cast<char32_t>(keyCode & ~win::key::Typed));
    if (keyCode & (win::key::Ctrl | win::key::Alt)) return {};
    const bool shift = keyCode & win::key::Shift;
    const int k = keyCode & 0xFF;
    if (keyCode & ~(0xFF | win::key::Shift)) return {};
    if (k >= 'A' && k <= 'Z') return std::string(1, static_cast<char>(shift ? k : k - 'A' + 'a'));
    if (k >= '0' && k <= '9' && !shift) return std::string(1, static_cast<char>(k));
    if (k == Space) return " ";
    return {};
}

void Locator::SetLocatorRecordCount(bool hasRecords) {
    if (CONTROL && VIEWMANAGER && VIEWMANAGER->WINDOW && VIEWMANAGER->WINDOW->WINDOW.hasControl(CONTROL))
        VIEWMANAGER->WINDOW->WINDOW.enable(CONTROL, hasRecords);
}

// ---- step locator ----

void StepLocator::RegisterAlertKeys(int) {
    if (VIEWMANAGER) addCharacterKeys(*VIEWMANAGER);
}

bool StepLocator::HandleKey(int keyCode) {
    kept_ = false;
    const std::string c = locatorText(keyCode);
    if (c.empty() || !VIEWMANAGER || !FREEELEMENT.valid()) return false;
    BrowseManager& browse = *VIEWMANAGER;
    // One row on first: when that row already starts with the character the list stays there,
    // so repeated presses walk through the records that start with it.
    if (browse.rows() > 0) {
        browse.MoveLine(bevent::ScrollDown);
        browse.SyncRecordBuffers();
    }
    const std::string current(clipRight(FREEELEMENT.get().toText()));
    kept_ = !current.empty() && sameStart(current, c, NOCASE) && browse.rows() > 0;
    if (!kept_) FREEELEMENT.set(Value(c));
    return true;
}

// ---- entry locator ----

void EntryLocator::Reset() {
    SHADOW.clear();
    RefreshWindowControls();
}

bool EntryLocator::HandleAccepted() {
    if (!CONTROL || !VIEWMANAGER || !VIEWMANAGER->WINDOW) return false;
    const win::Event& e = VIEWMANAGER->WINDOW->EVENT;
    if (e.control != CONTROL) return false;
    std::string typed = e.hasText ? e.text : VIEWMANAGER->WINDOW->WINDOW.text(CONTROL);
    typed = std::string(clipRight(typed)).substr(0, MaxShadow);
    if (typed == SHADOW) return false;
    SHADOW = typed;
    Set();
    return true;
}

void EntryLocator::RefreshWindowControls() {
    if (!CONTROL || !VIEWMANAGER || !VIEWMANAGER->WINDOW) return;
    win::Window& w = VIEWMANAGER->WINDOW->WINDOW;
    if (w.hasControl(CONTROL) && w.text(CONTROL) != SHADOW) w.setText(CONTROL, SHADOW);
}

void EntryLocator::Set() {
    if (FREEELEMENT.valid()) FREEELEMENT.set(Value(SHADOW));
}

// ---- incremental locator ----

void IncrementalLocator::RegisterAlertKeys(int) {
    if (!VIEWMANAGER) return;
    addCharacterKeys(*VIEWMANAGER);
    VIEWMANAGER->AddListAlert(Backspace);
}

bool IncrementalLocator::HandleKey(int keyCode) {
    if (keyCode == Backspace) {
        dropLastCharacter(SHADOW);
    } else if (const std::string c = locatorText(keyCode); !c.empty()) {
        if (SHADOW.size() + c.size() <= MaxShadow) SHADOW += c;
    } else {
        return false;
    }
    Set();
    RefreshWindowControls();
    return true;
}

// ---- filter locator ----

std::string FilterLocator::FilterText() {
    if (!VIEWMANAGER) return {};
    // The field filtered is the locator's own: the locator of a column order works on its
    // column, whichever key the order was given (that key's free element is another field).
    std::string field;
    if (FREEELEMENT.valid() && !FREEELEMENT.name().empty())
        field = NOCASE && isTextType(FREEELEMENT.type()) ? "UPPER(" + FREEELEMENT.name() + ")"
                                                         : FREEELEMENT.name();
    else
        field = VIEWMANAGER->FreeComponentName();
    field = field.substr(0, 100);
    if (field.empty()) return {};
    const std::string text = field.find("UPPER(") != std::string::npos ? upperText(SHADOW) : SHADOW;
    if (FLOATRIGHT) {
        if (text.empty()) return {};
        return "INSTRING(" + quoted(text) + "," + field + ",1,1) <> 0";
    }
    // An empty text keeps a filter that every record passes.
    return "SUB(" + field + ",1," + std::to_string(SHADOW.size()) + ") = " + quoted(text);
}

void FilterLocator::Set() {
    if (!VIEWMANAGER) return;
    applied_ = FilterText();
    VIEWMANAGER->SetNamedFilter(applied_, FilterLocatorId);
    VIEWMANAGER->BuildViewFilter();
    // The browse reloads from the free element: at the typed text, where the records starting
    // with it begin; a text found anywhere in the field starts the list at its top instead.
    if (FREEELEMENT.valid()) {
        if (FLOATRIGHT)
            FREEELEMENT.clear();
        else
            FREEELEMENT.set(Value(SHADOW));
    }
}

void FilterLocator::Reset() {
    bool inForce = false;
    if (VIEWMANAGER && !applied_.empty())
        for (const FilterEntry& f : VIEWMANAGER->current().FILTER)
            if (f.ID == FilterLocatorId && f.FILTER == applied_) inForce = true;
    if (inForce) return;
    applied_.clear();
    EntryLocator::Reset();
}

} // namespace sorv::fw
