// Error texts and the per-thread current error.
#include "runtime/errors.h"
#include "runtime/fileerror.h"

#include <cerrno>
#include <string>
#include <unordered_map>

namespace sorv {

namespace {

struct ErrorState {
    int code = 0;
    std::string text; // a text of its own, or empty for the table's
    int fileCode = 0;
    std::string fileText; // the failing system's own text for code 90, or empty
};

thread_local ErrorState current;
// A driver's own text for the next file error (fileerror.h).
thread_local std::string pendingFileText;

const std::unordered_map<int, std::string_view>& table() {
    static const std::unordered_map<int, std::string_view> t = {
        {2, "File Not Found"},
        {3, "Path Not Found"},
        {4, "Too Many Open Files"},
        {5, "Access Denied"},
        {7, "Memory Corrupted"},
        {8, "Insufficient Memory"},
        {30, "Entry Not Found"},
        {32, "File Is Already Locked"},
        {33, "Record Not Available"},
        {35, "Record Not Found"},
        {36, "Invalid Data File"},
        {37, "File Not Open"},
        {38, "Invalid Key File"},
        {40, "Creates Duplicate Key"},
        {43, "Record Is Already Held"},
        {45, "Invalid Filename"},
        {46, "Key File Must Be Rebuilt"},
        {47, "Invalid Record Declaration"},
        {48, "Unable To Log Transaction"},
        {52, "File Already Open"},
        {53, "Invalid Brenica File"},
        {54, "No Create Attribute"},
        {55, "File Must Be Shared"},
        {56, "LOGOUT Already Active"},
        {57, "Invalid Memo File"},
        {63, "Exclusive Access Required"},
        {64, "Sharing Violation"},
        {65, "Unable To ROLLBACK Transaction"},
        {73, "Memo File Missing"},
        {75, "Invalid Field Type Descriptor"},
        {76, "Invalid Index String"},
        {77, "Unable To Access Index"},
        {78, "Invalid Number Of Parameters "},
        {79, "Unsupported Data Type In File"},
        {80, "Unsupported File Driver Function"},
        {81, "Unknown Error Posted"},
        {88, "Invalid Key Length"},
        {89, "Record Changed By Another Station"},
        {90, "File System Error"},
        {91, "LOGOUT Not Active"},
        {92, "BUILD In Progress"},
        {93, "BUILD Cancelled"},
        {95, "Server Not Found"},
        {96, "Remote Object Not Found"},
        {301, "Invalid Function"},
        {302, "File Not Found"},
        {303, "Path Not Found"},
        {304, "Too Many Open Files"},
        {305, "Access Denied"},
        {306, "Invalid Handle"},
        {307, "Memory Corrupted"},
        {308, "Insufficient Memory"},
        {309, "Invalid Memory Block"},
        {310, "Invalid Environment"},
        {311, "Invalid Format"},
        {312, "Invalid Access"},
        {313, "Invalid Data"},
        {315, "Invalid Drive"},
        {316, "Invalid Operation For Current Directory"},
        {317, "Not Same Device"},
        {318, "No More Files"},
        {319, "Write Protect"},
        {320, "Invalid Unit"},
        {321, "Device Not Ready"},
        {322, "Invalid Command"},
        {323, "Media Checksum Failed"},
        {324, "Invalid Length"},
        {325, "Seek Location Inaccessible"},
        {326, "Not DOS Disk"},
        {327, "Sector Not Found"},
        {328, "Out Of Paper"},
        {329, "Write Fault"},
        {330, "Read Fault"},
        {331, "General Failure"},
        {332, "Sharing Violation"},
        {333, "Lock Violation"},
        {334, "Wrong Disk"},
        {335, "FCB Unavailable"},
        {336, "Sharing Buffer Exceeded"},
        {337, "Code Page Mismatched"},
        {338, "Handle EOF"},
        {339, "Handle Disk Full"},
        {350, "Not Supported "},
        {351, "REM Not List"},
        {352, "Duplicate Name Encountered"},
        {353, "Invalid Network Path"},
        {354, "Network Busy"},
        {355, "Device Does Not Exist"},
        {356, "Too Many Commands"},
        {357, "Adapter/Hardware Failure"},
        {358, "Invalid Network Response"},
        {359, "Unexpected Network Error"},
        {360, "Invalid REM Adapter"},
        {361, "Print Queue Full"},
        {362, "No Spool Space"},
        {363, "Print Cancelled"},
        {364, "Network Name Deleted"},
        {365, "Network Access Denied"},
        {366, "Invalid Device Type"},
        {367, "Invalid Network Name"},
        {368, "Too Many Names"},
        {369, "Too Many Sessions"},
        {370, "Sharing Paused"},
        {371, "Request Not Accepted"},
        {372, "Network Redirection Paused"},
        {380, "File Already Exists"},
        {381, "Duplicate FCB"},
        {382, "Cannot Make"},
        {383, "Fail Critical Error"},
        {384, "Out Of Structures"},
        {385, "Already Assigned"},
        {386, "Invalid Password"},
        {387, "Invalid Parameter"},
        {388, "Network Write Fault"},
        {390, "System Component Not Loaded"},
        {391, "Unknown Error"},
        {401, "Stack overflow"},
        {402, "Null pointer de-reference"},
        {403, "Termination caused by signal.  (User break or Floating point)"},
        {404, "Arithmetic Overflow"},
        {405, "Variable out of range"},
        {406, "No return value from function"},
        {407, "No matching Case Label"},
        {408, "Long Integer Divide By Zero"},
        {409, "Index out of range"},
        {410, "Pure Virtual Function Called"},
        {501, "Internal error 01"},
        {502, "Internal error 02"},
        {503, "Internal error 03"},
        {504, "Internal error 04"},
        {505, "Internal error 05"},
        {506, "Internal error 06"},
        {507, "Internal error 07"},
        {508, "Internal error 08"},
        {509, "Internal error 09"},
        {510, "Internal error 10"},
        {511, "Internal error 11"},
        {512, "Internal error 12"},
        {513, "Internal error 13"},
        {514, "Internal error 14"},
        {515, "Internal error 15"},
        {800, "Invalid expression for EVALUATE"},
        {801, "No BIND on variable"},
        {802, "Mismatched PUSHSCOPE/POPSCOPE"},
    };
    return t;
}

} // namespace

std::string_view errorText(int code) {
    auto it = table().find(code);
    return it == table().end() ? std::string_view() : it->second;
}

int errorCode() {
    return current.code;
}

std::string error() {
    if (!current.text.empty()) return current.text;
    return std::string(errorText(current.code));
}

int fileErrorCode() {
    return current.code == err::FileSystemError ? current.fileCode : 0;
}

std::string fileError() {
    int c = fileErrorCode();
    if (c == 0) return {};
    if (!current.fileText.empty()) return current.fileText;
    std::string_view t = errorText(c);
    return t.empty() ? std::string(errorText(391)) : std::string(t);
}

void setError(int code) {
    current.code = code;
    current.text.clear();
    current.fileCode = 0;
    current.fileText.clear();
    pendingFileText.clear();
}

void setError(int code, std::string text) {
    setError(code);
    current.text = std::move(text);
}

void setFileError(int systemCode) {
    std::string text = std::move(pendingFileText);
    setError(err::FileSystemError);
    current.fileCode = 300 + systemCode;
    current.fileText = std::move(text);
}

void setPendingFileErrorText(std::string text) {
    pendingFileText = std::move(text);
}

void clearPendingFileErrorText() {
    pendingFileText.clear();
}

void clearError() {
    setError(0);
}

// The desktop's file system errors are numbered as another system numbers them, so each Linux
// errno goes to the listed meaning nearest to it:
//   ENOENT 2 "File Not Found"; ENOTDIR, ELOOP 3 "Path Not Found" (the path cannot be followed);
//   EMFILE, ENFILE 4 "Too Many Open Files"; EACCES, EPERM, EISDIR 5 "Access Denied";
//   EBADF, ESTALE 6 "Invalid Handle" (a descriptor or a network handle that no longer stands);
//   ENOMEM 8 "Insufficient Memory"; ENODEV, ENXIO 15 "Invalid Drive"; EXDEV 17 "Not Same Device";
//   EROFS 19 "Write Protect"; ESPIPE 25 "Seek Location Inaccessible"; EIO 31 "General Failure";
//   ETXTBSY, EBUSY 32 "Sharing Violation"; EAGAIN, EDEADLK, ENOLCK 33 "Lock Violation";
//   ENOSPC, EFBIG, EDQUOT 39 "Handle Disk Full" (no room, whether by disk, size limit or quota);
//   ENOSYS, EOPNOTSUPP 50 "Not Supported "; ENETDOWN, ENETUNREACH, EHOSTUNREACH 53 "Invalid
//   Network Path"; ECONNRESET, ETIMEDOUT, ENOTCONN 59 "Unexpected Network Error"; EEXIST 80 "File
//   Already Exists"; EINVAL, ENAMETOOLONG 87 "Invalid Parameter"; anything else 91, that is
//   391 "Unknown Error".
int fileSystemCodeOf(int e) {
    switch (e) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ELOOP:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
        return 5;
    case EBADF:
    case ESTALE:
        return 6;
    case ENOMEM:
        return 8;
    case ENODEV:
    case ENXIO:
        return 15;
    case EXDEV:
        return 17;
    case EROFS:
        return 19;
    case ESPIPE:
        return 25;
    case EIO:
        return 31;
    case ETXTBSY:
    case EBUSY:
        return 32;
    case EAGAIN:
    case EDEADLK:
    case ENOLCK:
        return 33;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return 39;
    case ENOSYS:
    case EOPNOTSUPP:
        return 50;
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
        return 53;
    case ECONNRESET:
    case ETIMEDOUT:
    case ENOTCONN:
        return 59;
    case EEXIST:
        return 80;
    case EINVAL:
    case ENAMETOOLONG:
        return 87;
    default:
        return 91;
    }
}

void setErrnoError(int posixErrno) {
    setFileError(fileSystemCodeOf(posixErrno));
}

} // namespace sorv
