// The calling thread's current error (the language's ERRORCODE/ERROR and, for code 90, the file
// system's own error) and the text table of every error code the runtime can report.
#pragma once
#include <string>
#include <string_view>

namespace sorv {

namespace err {
enum : int {
    None = 0,
    FileNotFound = 2,
    PathNotFound = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    MemoryCorrupted = 7,
    InsufficientMemory = 8,
    EntryNotFound = 30,
    FileIsLocked = 32,
    RecordNotAvailable = 33,
    RecordNotFound = 35,
    InvalidDataFile = 36,
    FileNotOpen = 37,
    InvalidKeyFile = 38,
    DuplicateKey = 40,
    RecordHeld = 43,
    InvalidFilename = 45,
    KeyFileMustBeRebuilt = 46,
    InvalidRecordDeclaration = 47,
    UnableToLogTransaction = 48,
    FileAlreadyOpen = 52,
    InvalidBrenicaFile = 53,
    NoCreateAttribute = 54,
    FileMustBeShared = 55,
    LogoutAlreadyActive = 56,
    InvalidMemoFile = 57,
    ExclusiveAccessRequired = 63,
    SharingViolation = 64,
    UnableToRollback = 65,
    MemoFileMissing = 73,
    InvalidFieldType = 75,
    InvalidIndexString = 76,
    UnableToAccessIndex = 77,
    InvalidParameterCount = 78,
    UnsupportedDataType = 79,
    UnsupportedFunction = 80,
    UnknownError = 81,
    InvalidKeyLength = 88,
    RecordChanged = 89,
    FileSystemError = 90,
    LogoutNotActive = 91,
    BuildInProgress = 92,
    BuildCancelled = 93,
    ServerNotFound = 95,
    RemoteObjectNotFound = 96,
    BadExpression = 800,
    NoBind = 801,
    MismatchedScope = 802,
};
} // namespace err

// The text of any code of the table ("" for a code without one). File system codes are 300 plus
// the system's error number; run-time errors 401-410, internal errors 501-515, expressions 800-802.
std::string_view errorText(int code);

// The calling thread's current error.
int errorCode();
std::string error(); // text of the current error; for 90, "File System Error"
// The file system error that accompanies code 90 (0 and "" otherwise).
int fileErrorCode();
std::string fileError();

// Sets the current error (0 clears it, and clears the file error with it).
void setError(int code);
// Sets a current error with a text of its own (drivers and expressions that explain themselves).
void setError(int code, std::string text);
// Sets code 90 with the file system error 300 + systemCode (the system's error number as the
// desktop reports it; see fileSystemCodeOf for POSIX errno values).
void setFileError(int systemCode);
void clearError();

// Turns a POSIX errno into the desktop's file system error number (the value 300 is added to).
int fileSystemCodeOf(int posixErrno);
// Sets code 90 from a POSIX errno.
void setErrnoError(int posixErrno);

} // namespace sorv
