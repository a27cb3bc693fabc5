// The "POSTGRESQL" driver: the record-file interface over tables of a PostgreSQL server, for
// users who outgrow shared native files. A declaration gives the server's connection string
// (libpq's "host=... dbname=...") as its driver options and the table as its file name.
#pragma once
#include "data/driver.h"

#include <memory>
#include <optional>
#include <string>

namespace sorv {

std::shared_ptr<Driver> makePostgresDriver();

namespace pg {
// The declaration a server keeps for a table (as the driver names tables: tableNameOf in
// shape.h), for programs that open a table they did not make. Nothing, with the code and the
// server's message, when there is no such table or the server cannot be reached.
std::optional<FileDecl> storedDeclarationOf(const std::string& conninfo, const std::string& table, int& code,
                                            std::string& message);
} // namespace pg

} // namespace sorv
