// The error manager: the numbered message table (built in, plus blocks a program loads), the
// %-placeholders filled from the captured error state and the names callers set, the box each
// level shows, and the level it answers. One object serves the whole program; it is used only by
// the thread that holds the runtime lock, and a box gives the lock up while it waits.
#pragma once
#include "framework/levels.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::fw {

struct MessageEntry {
    std::uint16_t ID = 0;
    std::string MESSAGE;
    std::string TITLE;
    std::uint8_t FATALITY = LevelNone;
};

// A message table block: a 16-bit little-endian count, then per entry the number (16 bits LE),
// the level (1 byte), the title length and bytes, the text length and bytes. Texts and titles
// longer than 255 bytes are cut.
std::vector<std::uint8_t> makeMessageBlock(const std::vector<MessageEntry>& entries);
// The built-in table as a block.
const std::vector<std::uint8_t>& builtinMessages();

class ErrorManager {
public:
    // The message table; entries added later override earlier ones of the same number.
    std::vector<MessageEntry> ERRORS;
    std::string FIELDNAME;
    std::string FILENAME;
    std::string MESSAGETEXT;
    std::string SAVEERROR;
    std::int32_t SAVEERRORCODE = 0;
    std::string SAVEFILEERROR;
    std::string SAVEFILEERRORCODE;

    virtual ~ErrorManager() = default;

    void Init();
    void Kill();
    void SetFileName(std::string_view name);
    void SetFieldName(std::string_view name);
    void CaptureErrorState();
    Level Raise(int number);
    Level RaiseWithText(int number, std::string_view text);
    Level HandleError(int number);
    // Shows the entry as a notice (OnLevelNotify) whatever its level, and answers LevelNotify: for
    // a failure the program outlives although the entry's own level would end it.
    Level HandleErrorAsNotice(int number);
    // Asks the entry's text with the caller's buttons and default; answers the button pressed,
    // 0 (no button) for a number that is not in the table.
    int Message(int number, int buttons, int defaultButton);
    // The current entry's text with its placeholders filled.
    std::string FillPlaceholders();

    // The overridable operations, in slot order. LoadMessages answers false for a block that
    // ends inside an entry; the entries before the break are kept.
    virtual bool LoadMessages(std::span<const std::uint8_t> block);
    virtual Level OnLevelNone();
    virtual Level OnLevelFatal();
    virtual Level OnLevelNotify();
    virtual Level OnLevelOther();
    virtual Level OnLevelProgram();
    virtual Level OnLevelUser();

    // The entry HandleError or Message found last, -1 before any.
    int current() const { return current_; }

protected:
    // Shows a box through the desktop; answers the button value.
    virtual int ShowBox(const std::string& text, const std::string& title, int icon, int buttons,
                        int defaultButton);
    // Ends the program after a fatal message: runs the halt steps (which close the open files)
    // and exits with a failure status.
    virtual void Halt(const std::string& text);

private:
    int find(int number) const;
    int current_ = -1;
};

} // namespace sorv::fw
