// Thumb steps: the translation between a list's scroll thumb (1 to 100) and values of the sort
// order's free element, so that a dragged thumb jumps to a plausible place in the order without
// counting records.
//
// - The string step looks values up in a table of 100 ascending entries: a fixed distribution of
//   surnames (mode 1), of letters at their quarter points (mode 2), or a table built between the
//   first and last key values of the order (mode 3). The thumb of a value is the number of
//   entries not greater than it; the value at a thumb position is that entry.
// - The long step is a straight line between the first and last key values.
// Both mirror the thumb for a descending order (CONTROLS bit 16), so the thumb stays at the top
// for the first record of the order.
#pragma once
#include "framework/locator.h"

#include <cstdint>
#include <string>

namespace sorv::fw {

// CONTROLS bits of the steps.
namespace stepctl {
enum : std::uint8_t {
    Letters = 1,     // letters join the character set of mode 3
    Punctuation = 2, // so do the punctuation characters and the space
    Digits = 4,      // so do the digits
    KeepCase = 8,    // values are compared as they are, lower-case letters join the set
    Descending = 16, // the order runs descending
};
}

// LOOKUPMODE of the string step.
enum StepMode : std::uint8_t {
    StepNames = 1,
    StepAlphabet = 2,
    StepBetweenLimits = 3,
};

inline constexpr int StepEntries = 100;

class StringStep : public Step {
public:
    // Fields in declaration order.
    std::uint8_t CONTROLS = 0;
    std::uint8_t LOOKUPMODE = 0;
    std::string REF;       // the table: StepEntries entries of TESTLEN characters, ascending
    std::string ROOT;      // mode 3: the common prefix of the limits (up to 40 characters)
    std::string SORTCHARS; // mode 3: the characters that count, in ascending code order
    std::uint8_t TESTLEN = 0;

    // Mode 1 or 2 take their built-in table; mode 3 builds its character set from the CONTROLS
    // bits and waits for its limits (until then every entry is blank).
    void Init(std::uint8_t controls, std::uint8_t mode);

    std::uint8_t ThumbPercentOf(const Value& value) override;
    Value ValueAtPercent(int percent) override;
    void Kill() override;
    void SetStepLimits(const Value& low, const Value& high) override;
    bool NeedsStepLimits() override { return LOOKUPMODE == StepBetweenLimits; }

    // The table entry `n` (1 to 100).
    std::string entry(int n) const;

    // The 4 characters after ROOT as a number: each character is a digit in base
    // SORTCHARS.size() + 1, its 1-based place in SORTCHARS, 0 when absent or not in the set; and
    // back. Counting from 1 keeps the last character of the set from carrying into the next
    // place, so two different texts never share a number and every number reads back as text.
    std::int64_t numberOf(const std::string& text) const;
    std::string textOf(std::int64_t number) const;

private:
    std::string prepared(const Value& v) const; // clipped and, unless KeepCase, upper-cased
};

class LongStep : public Step {
public:
    // Fields in declaration order.
    std::uint8_t CONTROLS = 0;
    std::int32_t LOW = 0;
    std::int32_t HIGH = 0;

    void Init(std::uint8_t controls) { CONTROLS = controls; }

    std::uint8_t ThumbPercentOf(const Value& value) override;
    Value ValueAtPercent(int percent) override;
    void Kill() override {}
    void SetStepLimits(const Value& low, const Value& high) override;
    bool NeedsStepLimits() override { return true; }
};

} // namespace sorv::fw
