// The locators a sort order can carry. Each kind extends the one before it:
// - the step locator: one key press on the list jumps to the first record starting with that
//   character, and repeated presses walk through the records starting with it;
// - the entry locator: the text typed into its entry control is taken when the control is
//   accepted, and the browse reloads from it;
// - the incremental locator: every key press on the list extends or shortens the typed text and
//   the browse reloads from it at once;
// - the filter locator: the typed text narrows the list to the records that start with it (or,
//   with FLOATRIGHT, contain it) instead of positioning it.
#pragma once
#include "framework/locator.h"

#include <cstdint>
#include <string>

namespace sorv::fw {

// The text a list key code types, as UTF-8: any character the list reports as typed, or a letter
// key by its Shift state, a digit or the space; empty for a key that types none.
std::string locatorText(int keyCode);

inline constexpr std::size_t MaxShadow = 40;

class StepLocator : public Locator {
public:
    void Reset() override {}
    // Every character typed on the list.
    void RegisterAlertKeys(int list) override;
    bool HandleAccepted() override { return false; }
    bool HandleKey(int keyCode) override;
    void RefreshWindowControls() override {}
    bool KeptRow() override { return kept_; }

private:
    bool kept_ = false;
};

class EntryLocator : public StepLocator {
public:
    std::string SHADOW; // what the user typed, up to MaxShadow characters

    void Reset() override;
    // The text is typed into the entry control, not on the list.
    void RegisterAlertKeys(int) override {}
    // When the accepted control is the locator's own and its text changed: takes it and applies it.
    bool HandleAccepted() override;
    bool HandleKey(int) override { return false; }
    bool KeptRow() override { return false; }
    // Shows the typed text in the entry control.
    void RefreshWindowControls() override;
    // Applies the typed text: it becomes the free element the browse reloads from.
    virtual void Set();
};

class IncrementalLocator : public EntryLocator {
public:
    // The step locator's keys and Backspace.
    void RegisterAlertKeys(int list) override;
    // Backspace takes the last character off, a character key appends one; either applies the text.
    bool HandleKey(int keyCode) override;
};

class FilterLocator : public IncrementalLocator {
public:
    std::uint8_t FLOATRIGHT = 0; // 1: the text may occur anywhere in the field

    // Keeps the typed text while its filter is still in force on the browse's current order (it
    // is what narrows the list); forgets it otherwise.
    void Reset() override;
    // Files the filter of the typed text under "3 Locator" and gives the view its new filter; the
    // browse reloads next.
    void Set() override;
    // The filter expression for the typed text ("" for none).
    std::string FilterText();

private:
    std::string applied_; // the filter this locator filed last
};

} // namespace sorv::fw
