// Names and classes of the numbered file operations.
#include "data/fileops.h"

#include <array>

namespace sorv {

namespace {
constexpr std::array<std::string_view, 94> names = {
    "",
    "ADD",
    "BOF",
    "BUILDfile",
    "APPEND",
    "BUILDdyn",
    "BUILDkey",
    "CLOSE",
    "COMMIT",
    "COPY",
    "CREATE",
    "DELETE",
    "DUPLICATE",
    "EMPTY",
    "EOF",
    "GETfilekey",
    "GETfileptr",
    "GETkeyptr",
    "HOLDfile",
    "HOLDfilesec",
    "LOCKfile",
    "LOCKfilesec",
    "LOGOUT",
    "NAME",
    "NEXT",
    "OPEN",
    "PACK",
    "POINTERfile",
    "POINTERkey",
    "FLUSH",
    "PUT",
    "PREVIOUS",
    "RECORDSfile",
    "RECORDSkey",
    "BUILDdynfilter",
    "",
    "RELEASE",
    "REMOVE",
    "RENAME",
    "",
    "ROLLBACK",
    "SETfile",
    "SETfilekey",
    "SETfileptr",
    "SETkey",
    "SETkeykey",
    "SETkeyptr",
    "SETkeykeyptr",
    "SHARE",
    "SKIP",
    "UNLOCK",
    "ADDfilelen",
    "BYTES",
    "GETfileptrlen",
    "PUTfileptr",
    "PUTfileptrlen",
    "STREAM",
    "DUPLICATEkey",
    "WATCH",
    "APPENDlen",
    "SEND",
    "POSITIONfile",
    "POSITIONkey",
    "RESETfile",
    "RESETkey",
    "NOMEMO",
    "REGETfile",
    "REGETkey",
    "NULL",
    "SETNULL",
    "SETNONULL",
    "SET_PROPERTY",
    "GET_PROPERTY",
    "QUERY_KEY",
    "QUERY_VIEW",
    "BLOB_YIELD",
    "BLOB_TAKE",
    "BLOB_SIZE",
    "BLOB_GET_PROP",
    "BLOB_SET_PROP",
    "BUFFER",
    "SETview",
    "CLEAR",
    "RESETviewfile",
    "BUILDevent",
    "SETPROPERTYkey",
    "GETPROPERTYkey",
    "Internal",
    "DO_PROPERTY",
    "DOPROPERTYkey",
    "DOPROPERTYblob",
    "Internal",
    "INVIEW",
    "ENDVIEW",
};
} // namespace

std::string_view opName(int operation) {
    if (operation < 0 || operation > op::Last) return {};
    return names[static_cast<std::size_t>(operation)];
}

bool isKeyLevelOp(int o) {
    return o == op::BUILDdyn || o == op::BUILDkey || o == op::GETfilekey || o == op::GETkeyptr ||
           o == op::POINTERkey || o == op::BUILDdynfilter || o == op::DUPLICATEkey;
}

bool isReadOp(int o) {
    return o == op::NEXT || o == op::PREVIOUS || o == op::GETfilekey || o == op::GETfileptr ||
           o == op::GETkeyptr || o == op::GETfileptrlen || o == op::REGETfile || o == op::REGETkey;
}

bool isWriteOp(int o) {
    return o == op::ADD || o == op::ADDfilelen || o == op::APPEND || o == op::APPENDlen || o == op::PUT ||
           o == op::PUTfileptr || o == op::PUTfileptrlen || o == op::DELETE;
}

bool isViewOp(int o) {
    return o == op::SETview || o == op::RESETviewfile || o == op::INVIEW || o == op::ENDVIEW ||
           o == op::QUERY_VIEW;
}

} // namespace sorv
