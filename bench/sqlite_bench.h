// The SQLite side of the benchmarks that measure against it: a call's result checked (a failure
// ends the run with SQLite's message) and a statement run once.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>

namespace sqlitebench {

inline void check(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

inline void exec(sqlite3* db, const std::string& sql) {
    check(db, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), sql.c_str());
}

} // namespace sqlitebench
