// Sharing modes, file locks and record holds held between processes (and between open files of
// one process) by open-file-description locks on bytes far beyond any data.
//
// Lock bytes, from ShareBase on: "has read access", "has write access", "denies read", "denies
// write", and the LOCK byte. An opener takes shared locks on the bytes that describe it, then
// checks that no one else holds a byte that refuses it (and lets go when someone does). Record holds lock one
// byte per record start from HoldBase on. The locks belong to the descriptor's open file description, so they
// end with its close and never with the close of another descriptor of the same file.
#pragma once
#include <cstdint>

namespace sorv {

namespace sharelock {

constexpr std::int64_t ShareBase = std::int64_t{1} << 40;
constexpr std::int64_t HoldBase = std::int64_t{1} << 41;

// Takes the sharing of an open mode (openmode access | sharing) on an open descriptor. Answers 0,
// 5 when another opener's access or sharing refuses it, or -errno when locking itself failed.
int acquire(int fd, int mode);
// Whether a mode could be taken now by a new opener (nothing is kept). Same answers.
int probe(int fd, int mode);

// The file LOCK: exclusive between openers; waits up to `seconds` (0: no wait). 0 or 32, or 5 on
// a descriptor opened for reading only (exclusive locks need write access).
int lockFile(int fd, std::int32_t seconds);
void unlockFile(int fd);
// Holds a record (by its start offset); 0, or 43 when another opener holds it.
int holdRecord(int fd, std::int64_t recordStart, std::int32_t seconds);
void releaseRecord(int fd, std::int64_t recordStart);

} // namespace sharelock

} // namespace sorv
