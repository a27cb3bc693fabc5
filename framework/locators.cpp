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
    for (int k = 'A'; k <= 'Z'; ++k) {
        browse.AddListAlert(k);
        browse.AddListAlert(k | win::key::Shift);
    }
    for (int k = '0'; k <= '9'; ++k) browse.AddListAlert(k);
    browse.AddListAlert(Space);
}

} // namespace

char locatorCharacter(int keyCode) {
    if (keyCode & (win::key::Ctrl | win::key::Alt)) return 0;
    const bool shift = keyCode & win::key::Shift;
    const int k = keyCode & 0xFF;
    if (keyCode & ~(0xFF | win::key::Shift)) return 0;
    if (k >= 'A' && k <= 'Z') return static_cast<char>(shift ? k : k - 'A' + 'a');
    if (k >= '0' && k <= '9' && !shift) return static_cast<char>(k);
    if (k == Space) return ' ';
    return 0;
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
    const char c = locatorCharacter(keyCode);
    if (!c || !VIEWMANAGER || !FREEELEMENT.valid()) return false;
    BrowseManager& browse = *VIEWMANAGER;
    // One row on first: when that row already starts with the character the list stays there,
    // so repeated presses walk through the records that start with it.
    if (browse.rows() > 0) {
        browse.MoveLine(bevent::ScrollDown);
        browse.SyncRecordBuffers();
    }
    const std::string current(clipRight(FREEELEMENT.get().toText()));
    const char first = current.empty() ? ' ' : current.front();
    const bool same = NOCASE ? upper(first) == upper(c) : first == c;
    kept_ = same && !current.empty() && browse.rows() > 0;
    if (!kept_) FREEELEMENT.set(Value(std::string(1, c)));
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
        if (!SHADOW.empty()) SHADOW.pop_back();
    } else if (const char c = locatorCharacter(keyCode)) {
        if (SHADOW.size() < MaxShadow) SHADOW += c;
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
    const std::string field = VIEWMANAGER->FreeComponentName().substr(0, 100);
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
