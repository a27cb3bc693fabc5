// The numbered operations a file driver is called with, and their names as traces print them.
#pragma once
#include <string_view>

namespace sorv {

// Suffixes tell an operation's arguments: "file" the file alone (record order), "key" a key (key
// order), "ptr" a record pointer, "keykey" a key and a key value taken from the record buffer,
// "len" an explicit length, "sec" a time limit. Numbers 0, 35 and 39 are unused.
namespace op {
enum : int {
    None = 0,
    ADD = 1,
    BOF = 2,
    BUILDfile = 3,
    APPEND = 4,
    BUILDdyn = 5,
    BUILDkey = 6,
    CLOSE = 7,
    COMMIT = 8,
    COPY = 9,
    CREATE = 10,
    DELETE = 11,
    DUPLICATE = 12,
    EMPTY = 13,
    EOF_ = 14,
    GETfilekey = 15,
    GETfileptr = 16,
    GETkeyptr = 17,
    HOLDfile = 18,
    HOLDfilesec = 19,
    LOCKfile = 20,
    LOCKfilesec = 21,
    LOGOUT = 22,
    NAME = 23,
    NEXT = 24,
    OPEN = 25,
    PACK = 26,
    POINTERfile = 27,
    POINTERkey = 28,
    FLUSH = 29,
    PUT = 30,
    PREVIOUS = 31,
    RECORDSfile = 32,
    RECORDSkey = 33,
    BUILDdynfilter = 34,
    RELEASE = 36,
    REMOVE = 37,
    RENAME = 38,
    ROLLBACK = 40,
    SETfile = 41,
    SETfilekey = 42,
    SETfileptr = 43,
    SETkey = 44,
    SETkeykey = 45,
    SETkeyptr = 46,
    SETkeykeyptr = 47,
    SHARE = 48,
    SKIP = 49,
    UNLOCK = 50,
    ADDfilelen = 51,
    BYTES = 52,
    GETfileptrlen = 53,
    PUTfileptr = 54,
    PUTfileptrlen = 55,
    STREAM = 56,
    DUPLICATEkey = 57,
    WATCH = 58,
    APPENDlen = 59,
    SEND = 60,
    POSITIONfile = 61,
    POSITIONkey = 62,
    RESETfile = 63,
    RESETkey = 64,
    NOMEMO = 65,
    REGETfile = 66,
    REGETkey = 67,
    NULL_ = 68,
    SETNULL = 69,
    SETNONULL = 70,
    SET_PROPERTY = 71,
    GET_PROPERTY = 72,
    QUERY_KEY = 73,
    QUERY_VIEW = 74,
    BLOB_YIELD = 75,
    BLOB_TAKE = 76,
    BLOB_SIZE = 77,
    BLOB_GET_PROP = 78,
    BLOB_SET_PROP = 79,
    BUFFER = 80,
    SETview = 81,
    CLEAR = 82,
    RESETviewfile = 83,
    BUILDevent = 84,
    SETPROPERTYkey = 85,
    GETPROPERTYkey = 86,
    Internal87 = 87,
    DO_PROPERTY = 88,
    DOPROPERTYkey = 89,
    DOPROPERTYblob = 90,
    Internal91 = 91,
    INVIEW = 92,
    ENDVIEW = 93,
    Last = 93,
};
} // namespace op

// The operation's name as traces print it ("NEXT", "GETfileptrlen"); "" for 0, 35, 39 and any
// number outside 0 to 93.
std::string_view opName(int operation);

// The key-level operations that an indexed driver treats alike (5, 6, 15, 17, 28, 34, 57).
bool isKeyLevelOp(int operation);
// Operations that fill the record buffer (NEXT, PREVIOUS, the GETs and REGETs).
bool isReadOp(int operation);
// Operations that take the record buffer (ADD, APPEND and their len forms, PUT forms, DELETE).
bool isWriteOp(int operation);
// The operations the view engine issues (SETview, RESETviewfile, INVIEW, ENDVIEW, QUERY_VIEW).
bool isViewOp(int operation);

} // namespace sorv
