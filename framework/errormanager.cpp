// The error manager's table, placeholders and level dispatch.
#include "framework/errormanager.h"

#include "runtime/errors.h"
#include "runtime/halt.h"
#include "windowing/desktop.h"

#include <algorithm>
#include <array>

namespace sorv::fw {

namespace {

constexpr std::size_t MaxField = 255;
constexpr std::size_t WorkText = 2000;

std::string clipped(std::string_view s) {
    s = s.substr(0, MaxField);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

struct Builtin {
    std::uint16_t number;
    Level level;
    const char* title;
    const char* text;
};

// clang-format off
const Builtin builtinTable[] = {
    {1, LevelNotify, "Record Retrieval Error", "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to previous window."},
    {2, LevelNotify, "Access Denied", "Could not get write access to %File so trying read-only."},
    {3, LevelUser, "Record Added", "This record has been added to the file. Do you want to add another record?"},
    {4, LevelNotify, "Record Insert Error", "An error was experienced during the creation of a record. Error: %ErrorText."},
    {5, LevelNotify, "Add New Record?", "Record match not found, do you wish to add a new one?"},
    {6, LevelNotify, "Record Was Not Updated", "This record was changed by another station."},
    {7, LevelNotify, "Record Was Not Updated", "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+' to recall your changes."},
    {8, LevelUser, "Changes will be lost!", "Are you sure you want to cancel?"},
    {9, LevelUser, "Confirm Delete", "Are you sure you want to delete the highlighted record?"},
    {10, LevelFatal, "File Creation Error", "Error: (%ErrorText) creating %File."},
    {11, LevelNotify, "Record was not deleted", "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {12, LevelNotify, "Invalid Request", "This form cannot be used to delete a record"},
    {13, LevelNotify, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key: %Message"},
    {14, LevelNotify, "Field contents error", "The value of %Field must be found in the %Message file."},
    {15, LevelNotify, "Value Error", "The value of %Field must be in the list : %Message."},
    {16, LevelNotify, "Range Error", "The value of %Field must be between %Message."},
    {17, LevelNotify, "Range Error", "The value of %Field must be lower than %Message."},
    {18, LevelNotify, "Range Error", "The value of %Field must be higher than %Message."},
    {19, LevelNotify, "File Load Error", "%File File Load Error.  Error: %ErrorText."},
    {20, LevelNotify, "Invalid Request", "This form cannot be used to insert a record"},
    {21, LevelNotify, "Transaction cancelled", "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {22, LevelNotify, "No Records", "There are no records available to process."},
    {23, LevelFatal, "File Access Error", "File (%File) could not be opened.  Error: %ErrorText."},
    {24, LevelNotify, "Procedure not defined", "The Procedure %Message has not been defined."},
    {25, LevelNotify, "Record was not updated", "An error (%ErrorText) was experienced when making changes to the %File file."},
    {26, LevelFatal, "Key was not built", "Error: (%ErrorText) repairing key for %File."},
    {27, LevelNotify, "Invalid Key", "%File key file is invalid. Key must be rebuilt."},
    {28, LevelNotify, "Record not read", "A record held by another station was encountered reading from the %File file."},
    {30, LevelNotify, "Referential Integrity Delete Error", "This record is referenced from the file %File. This record cannot be deleted while these references exist."},
    {31, LevelNotify, "Referential Integrity Update Error", "This record is referenced from the file %File. Linking field(s) have been restricted from change and have been reset to original values."},
    {32, LevelUser, "Auto Increment Error", "Attempts to automatically number this record have failed.  Error: %ErrorText. Try Again?"},
    {33, LevelUser, "Record Delete Error", "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {34, LevelUser, "Record Update Error", "An error was experienced changing this record. Do you want to try to save again?"},
    {35, LevelUser, "Save Record", "Do you want to save the changes to this record?"},
    {36, LevelUser, "Beginning of File Error", "The beginning of the file was encountered. Do you want to start again from the end of the file?"},
    {37, LevelUser, "End of File Error", "The end of the file was encountered. Do you want to start again from the beginning?"},
    {38, LevelNotify, "Invalid Request", "This form cannot be used to update a record"},
    {39, LevelProgram, "File Usage Error", "Attempt to use file (%File) before it was opened"},
    {40, LevelNotify, "View Open Error", "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
};
// clang-format on

void putText(std::vector<std::uint8_t>& out, const std::string& s) {
    std::size_t n = std::min<std::size_t>(s.size(), 255);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

// Every placeholder, longer names before their prefixes, so that each is replaced whole.
constexpr std::array<std::string_view, 9> placeholders = {
    "%FileErrorCode", "%FileError", "%ErrorText", "%ErrorCode", "%Error",
    "%File",          "%Message",   "%Field",     "%Previous",
};

} // namespace

std::vector<std::uint8_t> makeMessageBlock(const std::vector<MessageEntry>& entries) {
    std::vector<std::uint8_t> out;
    std::size_t count = std::min<std::size_t>(entries.size(), 0xFFFF);
    out.push_back(static_cast<std::uint8_t>(count & 0xFF));
    out.push_back(static_cast<std::uint8_t>(count >> 8));
    for (std::size_t i = 0; i < count; ++i) {
        const MessageEntry& e = entries[i];
        out.push_back(static_cast<std::uint8_t>(e.ID & 0xFF));
        out.push_back(static_cast<std::uint8_t>(e.ID >> 8));
        out.push_back(e.FATALITY);
        putText(out, e.TITLE);
        putText(out, e.MESSAGE);
    }
    return out;
}

const std::vector<std::uint8_t>& builtinMessages() {
    static const std::vector<std::uint8_t> block = [] {
        std::vector<MessageEntry> entries;
        for (const Builtin& b : builtinTable) entries.push_back({b.number, b.text, b.title, b.level});
        return makeMessageBlock(entries);
    }();
    return block;
}

void ErrorManager::Init() {
    ERRORS.clear();
    current_ = -1;
    LoadMessages(builtinMessages());
}

void ErrorManager::Kill() {
    ERRORS.clear();
    ERRORS.shrink_to_fit();
    current_ = -1;
}

bool ErrorManager::LoadMessages(std::span<const std::uint8_t> block) {
    if (block.size() < 2) return false;
    std::size_t count = block[0] | (block[1] << 8);
    std::size_t at = 2;
    auto text = [&](std::string& into) {
        if (at >= block.size()) return false;
        std::size_t n = block[at++];
        if (at + n > block.size()) return false;
        into.assign(reinterpret_cast<const char*>(block.data() + at), n);
        at += n;
        return true;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 3 > block.size()) return false;
        MessageEntry e;
        e.ID = static_cast<std::uint16_t>(block[at] | (block[at + 1] << 8));
        e.FATALITY = block[at + 2];
        at += 3;
        if (!text(e.TITLE) || !text(e.MESSAGE)) return false;
        ERRORS.push_back(std::move(e));
    }
    return true;
}

void ErrorManager::SetFileName(std::string_view name) {
    FILENAME = clipped(name);
}
void ErrorManager::SetFieldName(std::string_view name) {
    FIELDNAME = clipped(name);
}

void ErrorManager::CaptureErrorState() {
    SAVEERRORCODE = errorCode();
    SAVEERROR = clipped(error());
    SAVEFILEERRORCODE = clipped(fileErrorCode() ? std::to_string(fileErrorCode()) : std::string());
    SAVEFILEERROR = clipped(fileError());
}

Level ErrorManager::Raise(int number) {
    CaptureErrorState();
    return HandleError(number);
}

Level ErrorManager::RaiseWithText(int number, std::string_view text) {
    MESSAGETEXT = std::string(text.substr(0, MaxField));
    return Raise(number);
}

int ErrorManager::find(int number) const {
    for (int i = static_cast<int>(ERRORS.size()) - 1; i >= 0; --i)
        if (ERRORS[static_cast<std::size_t>(i)].ID == number) return i;
    return -1;
}

std::string ErrorManager::FillPlaceholders() {
    if (current_ < 0 || current_ >= static_cast<int>(ERRORS.size())) return {};
    const MessageEntry& entry = ERRORS[static_cast<std::size_t>(current_)];
    std::string_view in(entry.MESSAGE);
    in = in.substr(0, WorkText);
    std::string out;
    // One pass: a value put in never has its own '%' words replaced, whatever text it holds.
    for (std::size_t i = 0; i < in.size();) {
        std::string_view found;
        if (in[i] == '%')
            for (std::string_view p : placeholders)
                if (in.substr(i, p.size()) == p) {
                    found = p;
                    break;
                }
        if (found.empty()) {
            out += in[i++];
            continue;
        }
        i += found.size();
        if (found == "%FileErrorCode")
            out += SAVEFILEERRORCODE;
        else if (found == "%FileError")
            out += SAVEFILEERROR;
        else if (found == "%ErrorText") {
            if (SAVEERRORCODE == err::FileSystemError)
                out += SAVEFILEERROR + " (" + SAVEFILEERRORCODE + ")";
            else
                out += SAVEERROR + " (" + std::to_string(SAVEERRORCODE) + ")";
        } else if (found == "%ErrorCode")
            out += std::to_string(SAVEERRORCODE);
        else if (found == "%Error")
            out += SAVEERROR;
        else if (found == "%File")
            out += FILENAME;
        else if (found == "%Message")
            out += MESSAGETEXT;
        else if (found == "%Field")
            out += FIELDNAME;
        else {
            // The text of the entry this one overrode, as it stands.
            for (int j = current_ - 1; j >= 0; --j)
                if (ERRORS[static_cast<std::size_t>(j)].ID == entry.ID) {
                    out += ERRORS[static_cast<std::size_t>(j)].MESSAGE;
                    break;
                }
        }
    }
    if (out.size() > WorkText) out.resize(WorkText);
    return out;
}

Level ErrorManager::HandleError(int number) {
    int found = find(number);
    if (found < 0) return LevelNotify;
    current_ = found;
    switch (ERRORS[static_cast<std::size_t>(found)].FATALITY) {
    case LevelNone:
        return OnLevelNone();
    case LevelUser:
    case LevelCancel:
        return OnLevelUser();
    case LevelProgram:
        return OnLevelProgram();
    case LevelFatal:
        return OnLevelFatal();
    case LevelNotify:
        return OnLevelNotify();
    default:
        return OnLevelOther();
    }
}

Level ErrorManager::HandleErrorAsNotice(int number) {
    int found = find(number);
    if (found < 0) return LevelNotify;
    current_ = found;
    return OnLevelNotify();
}

int ErrorManager::Message(int number, int buttons, int defaultButton) {
    int found = find(number);
    if (found < 0) return 0;
    current_ = found;
    return ShowBox(FillPlaceholders(), ERRORS[static_cast<std::size_t>(found)].TITLE, win::icon::Question,
                   buttons, defaultButton);
}

Level ErrorManager::OnLevelNone() {
    return LevelNone;
}

Level ErrorManager::OnLevelFatal() {
    const std::string title =
        current_ >= 0 ? ERRORS[static_cast<std::size_t>(current_)].TITLE : std::string();
    ShowBox(FillPlaceholders() + "  Press OK to end this application", title, win::icon::Exclamation,
            win::button::Ok, win::button::Ok);
    Halt(title);
    return LevelFatal;
}

Level ErrorManager::OnLevelNotify() {
    const std::string& title = ERRORS[static_cast<std::size_t>(current_)].TITLE;
    ShowBox(FillPlaceholders(), title, win::icon::Exclamation, win::button::Ok, win::button::Ok);
    return LevelNotify;
}

Level ErrorManager::OnLevelOther() {
    return OnLevelProgram();
}
Level ErrorManager::OnLevelProgram() {
    return OnLevelFatal();
}

Level ErrorManager::OnLevelUser() {
    const std::string& title = ERRORS[static_cast<std::size_t>(current_)].TITLE;
    int answer = ShowBox(FillPlaceholders(), title, win::icon::Question, win::button::Yes + win::button::No,
                         win::button::Yes);
    return answer == win::button::Yes ? LevelNone : LevelCancel;
}

int ErrorManager::ShowBox(const std::string& text, const std::string& title, int icon, int buttons,
                          int defaultButton) {
    return win::message(text, title, icon, buttons, defaultButton);
}

void ErrorManager::Halt(const std::string& text) {
    // A fatal error is a failure: the status says so (the halt steps close the open files).
    halt(1, text);
}

} // namespace sorv::fw
