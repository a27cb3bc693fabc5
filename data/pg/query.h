// Expressions of the view language as SQL over a table's columns, where the two mean the same:
// the fields of the table, constants, UPPER/LOWER/CLIP, SUB with a fixed start and length,
// INSTRING of a fixed text from the first position, comparisons, AND, OR, NOT, and sums and
// products (computed as numeric, so they never overflow where the language does not).
//
// Anything else (another file's fields, concatenation, division, pictures...) does not
// translate, and the view reads that order or filter itself. Texts compare as the language
// compares them: without trailing blanks, byte by byte (the columns use the "C" collation).
#pragma once
#include "data/expr.h"
#include "data/pg/shape.h"

#include <optional>
#include <string>

namespace sorv::pg {

struct SqlTerm {
    enum Kind { Text, Number, Bool } kind = Number;
    std::string sql;
    bool clipped = true;            // a text known to end in no blank
    std::string cast = "::numeric"; // how a parameter compared with it is written
};

// The expression over the record `record` (the table's buffer), or nothing.
std::optional<SqlTerm> translate(const Expression& e, const Shape& shape, Record& record);
// A truth value of a term: comparisons as they are, numbers not 0, texts not blank.
std::string truthOf(const SqlTerm& t);
// A text as an SQL literal; nothing for a text the server cannot hold (a zero byte).
std::optional<std::string> literal(std::string_view text);

} // namespace sorv::pg
