// How a file declaration lies in a PostgreSQL table.
//
// A table holds, per record: "rid" (the record pointer, never reused), "ver" (taken from the
// table's stamp sequence at every write, so it both tells a changed record and moves whenever
// the table changes), "rec" (the record image, bytes as the program laid them out, so every field
// comes back exactly as written), one column per plain field (so the server can order, filter
// and index by it and other tools can read it), and "m0", "m1"... for the memos.
//
// Column values are a pure function of the image (texts without trailing blanks and cut at a
// zero byte, compared as bytes under the "C" collation; numbers exactly), so key values computed
// from a buffer in the program compare with the stored columns exactly as the native keys do.
// Keys become indexes: a NOCASE text component is upper(column), a descending one DESC, a key
// without DUP a unique index, an OPT key a partial index leaving out records whose components
// are all blank or zero; keys with duplicates end in rid so that ties keep the record order.
#pragma once
#include "data/filedecl.h"
#include "data/pg/connection.h"

#include <string>
#include <vector>

namespace sorv::pg {

constexpr const char* DriverName = "POSTGRESQL";
// Where declarations are kept: one row per table, the declaration in the trace log's syntax.
constexpr const char* CatalogTable = "sorv_tables";

struct Column {
    int field = -1;
    std::string name; // quoted
    std::string type; // SQL type ("integer", "text COLLATE \"C\""...)
    std::string cast; // the parameter cast ("::integer")
    bool text = false;
};

class Shape {
public:
    // The shape of a declaration; false (with the reason) when a key has a component that no
    // column can carry.
    bool make(const FileDecl& file, std::string& why);

    std::string table; // quoted table name
    std::string name;  // its bare name, as the catalog keeps it
    std::string stamp; // quoted name of the stamp sequence
    std::vector<Column> columns;
    std::vector<int> columnOfField; // index in columns, or -1
    int memos = 0;
    std::vector<KeyDecl> keys;

    // The SQL of key k's component c (upper("lastname"), "sysid").
    std::string keyExpr(int key, int component) const;
    // A parameter compared with that component: "upper($3::text)".
    std::string keyParam(int key, int component, int paramNumber) const;
    // The OPT condition of a key ("" when it takes every record).
    std::string optClause(int key) const;
    // Whether a record image has a place in key k (an OPT key leaves blank records out).
    bool inKey(int key, std::span<const std::uint8_t> image) const;
    bool unique(int key) const { return !keys[static_cast<std::size_t>(key)].dup(); }
    // The selected columns of a record: rid, ver, rec and the memos.
    std::string selectList() const;

    // The value of a column from an image, as a text parameter.
    std::string columnValue(const Column& c, std::span<const std::uint8_t> image) const;
    std::string fieldValue(int field, std::span<const std::uint8_t> image) const;

    // The statements that make the table, its sequence and indexes.
    std::vector<std::string> createStatements() const;

    const Layout* layout = nullptr;
};

// The table name of a declaration: its file name without folder and extension, lower case,
// letters, digits and "_" only.
std::string tableNameOf(const FileDecl& file);
// The declaration as the catalog keeps it (the program's own parts: no name, options or
// attributes), and read back.
std::string storedDeclaration(const FileDecl& file);

} // namespace sorv::pg
