// The language's file statements. Each one is one numbered driver operation (callDriver) and
// sets the calling thread's current error from the answer (0 on success); functions that answer
// a value answer 0 or "" on failure.
#pragma once
#include "data/driver.h"
#include "runtime/errors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorv {

// Opening and closing. `mode` is an openmode access | sharing value; OPEN's default is
// read/write, deny write (0x22); SHARE's is read/write, deny none (0x42).
void open(FileDecl& f, int mode = openmode::ReadWrite | openmode::DenyWrite);
void share(FileDecl& f, int mode = openmode::ReadWrite | openmode::DenyNone);
void create(FileDecl& f); // creates (or replaces) the file; needs the Create attribute
void close(FileDecl& f);

// Sequence: SET and the reading direction.
void set(FileDecl& f);                               // SETfile: record order, from the start
void setFileKey(FileDecl& f, int key);               // SETfilekey: record order from a key's value
void setPointer(FileDecl& f, std::uint32_t pointer); // SETfileptr: record order from a pointer
void setKey(FileDecl& f, int key);                   // SETkey: key order, from the start
void setKeyValue(FileDecl& f, int key);              // SETkeykey: key order from the buffer's value
void setKeyPointer(FileDecl& f, int key, std::uint32_t pointer);      // SETkeyptr
void setKeyValuePointer(FileDecl& f, int key, std::uint32_t pointer); // SETkeykeyptr
void next(FileDecl& f);
void previous(FileDecl& f);
void skip(FileDecl& f, std::int32_t count);
bool eof(FileDecl& f);
bool bof(FileDecl& f);

// Direct reads.
void get(FileDecl& f, int key);                      // GETfilekey: by the buffer's key value
void getPointer(FileDecl& f, std::uint32_t pointer); // GETfileptr
void getPointer(FileDecl& f, std::uint32_t pointer, std::uint32_t length); // GETfileptrlen
void getKeyPointer(FileDecl& f, int key, std::uint32_t pointer);           // GETkeyptr
void reget(FileDecl& f, const std::string& position);                      // REGETfile
void reget(FileDecl& f, int key, const std::string& position);             // REGETkey
void noMemo(FileDecl& f); // the next read leaves the memos alone

// Writes.
void add(FileDecl& f);
void add(FileDecl& f, std::uint32_t length); // ADDfilelen
void append(FileDecl& f);                    // add without updating the keys
void append(FileDecl& f, std::uint32_t length);
void put(FileDecl& f); // rewrites the record read last
void put(FileDecl& f, std::uint32_t pointer);
void put(FileDecl& f, std::uint32_t pointer, std::uint32_t length);
void deleteRecord(FileDecl& f); // deletes the record read last

// Record and file locks, change watching.
void hold(FileDecl& f);
void hold(FileDecl& f, std::int32_t seconds);
void release(FileDecl& f);
void watch(FileDecl& f);
void lock(FileDecl& f);
void lock(FileDecl& f, std::int32_t seconds);
void unlock(FileDecl& f);

// Transactions, per thread: LOGOUT starts one over the given files (56 when one is active),
// COMMIT and ROLLBACK end it on each of them (91 when none is active). The first failing file
// ends the statement with its code; LOGOUT then rolls back the files it had started.
void logout(std::int32_t seconds, const std::vector<FileDecl*>& files);
void commit();
void rollback();

// Keys.
void build(FileDecl& f);              // BUILDfile: every key
void build(FileDecl& f, int key);     // BUILDkey
bool duplicate(FileDecl& f);          // would the buffer duplicate any unique key?
bool duplicate(FileDecl& f, int key); // DUPLICATEkey

// Counts, pointers, positions.
std::int64_t records(FileDecl& f);
std::int64_t records(FileDecl& f, int key);
std::uint32_t pointer(FileDecl& f);
std::uint32_t pointer(FileDecl& f, int key);
std::string position(FileDecl& f);                             // POSITIONfile: opaque, for RESET and REGET
std::string position(FileDecl& f, int key);                    // POSITIONkey
void reset(FileDecl& f, const std::string& position);          // RESETfile
void reset(FileDecl& f, int key, const std::string& position); // RESETkey
std::int64_t bytes(FileDecl& f);

// The file as a whole.
void empty(FileDecl& f); // removes every record (needs the file opened denying all)
void flush(FileDecl& f);
void stream(FileDecl& f);
void pack(FileDecl& f);
std::string send(FileDecl& f, const std::string& command); // "Recover=10", "QUICKSCAN=on"
std::string name(FileDecl& f);
void remove(FileDecl& f); // deletes the (closed) file from disk
void rename(FileDecl& f, const std::string& newName);
void copy(FileDecl& f, const std::string& newName);

// Null values of fields (field index in the Layout) and driver properties.
bool isNull(FileDecl& f, int field);
void setNull(FileDecl& f, int field);
void setNonNull(FileDecl& f, int field);
void setProperty(FileDecl& f, int property, const std::string& value, int index = 0);
std::string getProperty(FileDecl& f, int property, int index = 0);

} // namespace sorv
