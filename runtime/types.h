// Field type codes shared by records, groups and queues, and their names as traces print them.
#pragma once
#include <cstdint>
#include <string_view>

namespace sorv {

enum class FieldType : std::uint8_t {
    End = 0,
    Byte = 1,
    Short = 2,
    UShort = 3,
    Date = 4,
    Time = 5,
    Long = 6,
    ULong = 7,
    SReal = 8,
    Real = 9,
    Decimal = 10,
    PDecimal = 11,
    Dum1 = 12,
    BFloat4 = 13,
    BFloat8 = 14,
    Any = 15,
    TempUfo = 16,
    NoType = 17,
    String = 18,
    CString = 19,
    PString = 20,
    Memo = 21,
    Group = 22,
    Class = 23,
    Array = 24,
    Field = 25,
    Queue = 26,
    Blob = 27,
    StackStr = 28,
    Picture = 29,
    StdNum = 30,
};

// The name of a type code; any code outside the table is "UNKNOWN".
std::string_view typeName(int code);
inline std::string_view typeName(FieldType t) {
    return typeName(static_cast<int>(t));
}

// True for the text types (STRING, CSTRING, PSTRING).
inline bool isTextType(FieldType t) {
    return t == FieldType::String || t == FieldType::CString || t == FieldType::PString;
}
inline bool isDecimalType(FieldType t) {
    return t == FieldType::Decimal || t == FieldType::PDecimal;
}

} // namespace sorv
