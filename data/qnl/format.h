// On-disk constants of the native indexed file (".QNL"): page size, page types, the offsets of the
// header page, and the little-endian and checksum helpers every page passes through.
#pragma once
#include <cstdint>
#include <cstring>

namespace sorv::qnl {

constexpr std::uint32_t PageSize = 4096;
// Every page ends with a 64-bit checksum of the rest of it.
constexpr std::uint32_t ChecksumAt = PageSize - 8;

enum PageType : std::uint8_t {
    PageHeader = 1,
    PageDecl = 2,
    PageRecords = 3,
    PageLeaf = 4,
    PageBranch = 5,
    PageMemo = 6,
    PageFree = 7,
};

// Page 0. Bytes [LiveBegin, LiveEnd) are the "live" area: the hot state and the path of the
// transaction control file are written there on their own while the rest of the page stays as it
// was, so they are left out of the checksum.
namespace hdr {
constexpr std::uint32_t Magic = 0;     // 8 bytes "QNLDATA1"
constexpr std::uint32_t LiveBegin = 8; //
constexpr std::uint32_t Hot = 8;       // u32: 0 clean, 1 own journal pending, 2 transaction pending
constexpr std::uint32_t TcfLen = 12;   // u32 length of the control file path
constexpr std::uint32_t TcfPath = 16;  // up to 1024 bytes
constexpr std::uint32_t LiveEnd = 1040;
constexpr std::uint32_t Version = 1040;      // u32 format version
constexpr std::uint32_t PageSz = 1044;       // u32 page size
constexpr std::uint32_t Counter = 1048;      // u64 change counter, +1 per committed write
constexpr std::uint32_t PageCount = 1056;    // u32 pages in the file
constexpr std::uint32_t FreeHead = 1060;     // u32 first free page
constexpr std::uint32_t FreeCount = 1064;    // u32 free pages
constexpr std::uint32_t Records = 1068;      // u32 live records
constexpr std::uint32_t SlotSize = 1072;     // u32 bytes of one record slot
constexpr std::uint32_t SlotsPerPage = 1076; // u32
constexpr std::uint32_t FreeSlot = 1080;     // u32 first freed record pointer, 0 none
constexpr std::uint32_t FirstRecPage = 1084; // u32 first page of the record chain
constexpr std::uint32_t LastRecPage = 1088;  // u32 last page of the record chain
constexpr std::uint32_t DeclPage = 1092;     // u32 first declaration page
constexpr std::uint32_t DeclLen = 1096;      // u32 bytes of the stored declaration
constexpr std::uint32_t KeyCount = 1100;     // u32 number of keys
constexpr std::uint32_t KeysValid = 1104;    // u32 1 when the keys match the records
constexpr std::uint32_t Keys = 1108;         // per key: u32 root, u32 depth, u32 entries
constexpr std::uint32_t KeyStride = 12;
constexpr std::uint32_t MaxKeys = 64;
} // namespace hdr

constexpr char MagicText[8] = {'Q', 'N', 'L', 'D', 'A', 'T', 'A', '1'};
// Version 2 files may have committed writes in their log; version 1 files (written before the
// log) are read as they are and become version 2 with their first write.
constexpr std::uint32_t FormatVersion = 2;
constexpr std::uint32_t OldestVersion = 1;

inline std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
inline std::uint16_t get16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline std::uint64_t get64(const std::uint8_t* p) {
    return get32(p) | std::uint64_t(get32(p + 4)) << 32;
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, std::uint32_t(v));
    put32(p + 4, std::uint32_t(v >> 32));
}

// A fast 64-bit checksum of n bytes (a multiply-rotate hash over 8-byte words); seed separates
// uses so that a page copied to the wrong place does not verify.
std::uint64_t checksum(const std::uint8_t* p, std::size_t n, std::uint64_t seed);
// The checksum a page carries: page 0 without its live area, every page with its number mixed in.
std::uint64_t pageChecksum(const std::uint8_t* page, std::uint32_t pgno);
inline void sealPage(std::uint8_t* page, std::uint32_t pgno) {
    put64(page + ChecksumAt, pageChecksum(page, pgno));
}
inline bool pageSealed(const std::uint8_t* page, std::uint32_t pgno) {
    return get64(page + ChecksumAt) == pageChecksum(page, pgno);
}

// Internal error numbers shown in "Possible data corruption in file (n)".
namespace corrupt {
enum : int {
    BadChecksum = 1,
    BadPageType = 2,
    BadHeader = 3,
    BadDeclaration = 4,
    BadTree = 5,
    BadRecordPage = 6,
    BadMemo = 7,
    BadFreeList = 8,
    BadJournal = 9,
    KeyMismatch = 10,
    BadLog = 11,
};
}

} // namespace sorv::qnl
