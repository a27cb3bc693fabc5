// What a browse asks of the locator and the thumb step of a sort order. The locator finds a
// record from what the user types (it sets the order's free element, or a filter); the step
// translates between the scroll thumb (0 to 100) and values of the free element. The kinds of
// locators and steps derive from these classes (framework/locators.h, framework/steps.h).
#pragma once
#include "runtime/field.h"
#include "runtime/value.h"

#include <cstdint>

namespace sorv::fw {

class BrowseManager;

class Locator {
public:
    // Fields in declaration order.
    BrowseManager* VIEWMANAGER = nullptr;
    std::int32_t CONTROL = 0; // the entry control that shows the typed text, 0 for none
    FieldRef FREEELEMENT;
    std::uint8_t NOCASE = 0;

    virtual ~Locator() = default;

    void Init(int control, const FieldRef& freeElement, bool noCase, BrowseManager& browse) {
        CONTROL = control;
        FREEELEMENT = freeElement;
        NOCASE = noCase ? 1 : 0;
        VIEWMANAGER = &browse;
    }

    // Operations in slot order.
    // Forgets the typed text (the order changed or the list scrolled).
    virtual void Reset() = 0;
    // Adds the keys it wants to see to the list's alert keys (BrowseManager::AddListAlert).
    virtual void RegisterAlertKeys(int list) = 0;
    // The entry control was accepted; true when the browse should reload from the free element.
    virtual bool HandleAccepted() = 0;
    // An alert key on the list; true when the locator used it and the browse should reload from
    // the free element.
    virtual bool HandleKey(int keyCode) = 0;
    virtual void RefreshWindowControls() = 0;

    // After HandleKey answered true: whether the locator left the browse on the row it moved to,
    // so that the browse has nothing to reload.
    virtual bool KeptRow() { return false; }

    // Disables the entry control while the list is empty (the browse tells it after each reload).
    void SetLocatorRecordCount(bool hasRecords);
};

class Step {
public:
    virtual ~Step() = default;
    // Operations in slot order.
    virtual std::uint8_t ThumbPercentOf(const Value& value) = 0; // 1 to 100
    virtual Value ValueAtPercent(int percent) = 0;
    virtual void Kill() = 0;
    virtual void SetStepLimits(const Value& low, const Value& high) = 0;
    virtual bool NeedsStepLimits() = 0;
};

} // namespace sorv::fw
