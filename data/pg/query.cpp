// Translation of view expressions into SQL over a table's columns.
#include "data/pg/query.h"

#include <cstdio>

namespace sorv::pg {

namespace {

using Term = std::optional<SqlTerm>;

struct Translator {
    const Expression& e;
    const Shape& shape;
    Record& record;

    Term constant(const Value& v) {
        SqlTerm t;
        if (v.isText()) {
            auto l = literal(v.text());
            if (!l) return std::nullopt;
            t.kind = SqlTerm::Text;
            t.sql = *l;
            t.clipped = clipRight(v.text()).size() == v.text().size();
            t.cast = "::text";
            return t;
        }
        t.kind = SqlTerm::Number;
        if (v.kind() == Value::Kind::Real) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", v.toReal());
            t.sql = std::string("'") + buf + "'::double precision";
            t.cast = "::double precision";
        } else if (v.kind() == Value::Kind::Long) {
            t.sql = std::to_string(v.toLong()); // an integer literal keeps an integer column's index usable
        } else {
            t.sql = "(" + v.toDecimal().toString() + ")::numeric";
        }
        return t;
    }

    Term field(const FieldRef& f) {
        if (!f.valid() || f.index() < 0 || f.index() >= static_cast<int>(shape.columnOfField.size()))
            return std::nullopt;
        if (!(record.ref(f.index()) == f)) return std::nullopt; // a field of another buffer
        int c = shape.columnOfField[static_cast<std::size_t>(f.index())];
        if (c < 0) return std::nullopt;
        const Column& col = shape.columns[static_cast<std::size_t>(c)];
        SqlTerm t;
        t.kind = col.text ? SqlTerm::Text : SqlTerm::Number;
        t.sql = col.name;
        t.cast = col.cast;
        return t;
    }

    // A constant positive whole number argument.
    std::optional<std::int64_t> position(int node) {
        Expression::NodeView n = e.node(node);
        if (!n.constant || n.constant->isText()) return std::nullopt;
        Value v = *n.constant;
        if (v.kind() != Value::Kind::Long || v.toLong() < 1 || v.toLong() > 1000000) return std::nullopt;
        return v.toLong();
    }

    Term clip(SqlTerm t) {
        if (t.kind == SqlTerm::Text && !t.clipped) {
            t.sql = "rtrim(" + t.sql + ", ' ')";
            t.clipped = true;
        }
        return t;
    }

    Term node(int index) {
        Expression::NodeView n = e.node(index);
        auto arg = [&](std::size_t i) { return i < n.args.size() ? node(n.args[i]) : Term(); };
        const std::string_view op = n.op;
        if (op == "CONST") return constant(*n.constant);
        if (op == "FIELD") return field(*n.field);
        if (op == "UPPER" || op == "LOWER" || op == "CLIP") {
            Term a = arg(0);
            if (!a || a->kind != SqlTerm::Text) return std::nullopt;
            if (op == "CLIP") return clip(*a);
            a->sql = (op == "UPPER" ? "upper(" : "lower(") + a->sql + ")";
            return a;
        }
        if (op == "SUB") {
            // Over the stored text (without trailing blanks) a substring is the blank-clipped
            // one of the padded field: equal once clipped, which is how texts compare.
            Term a = arg(0);
            auto from = position(n.args.size() > 1 ? n.args[1] : -1);
            auto length = n.args.size() > 2 ? position(n.args[2]) : std::optional<std::int64_t>(1000000);
            if (!a || a->kind != SqlTerm::Text || !from || !length) return std::nullopt;
            a->sql = "substr(" + a->sql + ", " + std::to_string(*from) + ", " + std::to_string(*length) + ")";
            a->clipped = false;
            return a;
        }
        if (op == "INSTRING") {
            // Only from the first position forwards, and only a text that ends in no blank:
            // then no match can reach into the padding the server does not store.
            Expression::NodeView sought = e.node(n.args.empty() ? -1 : n.args[0]);
            if (!sought.constant || !sought.constant->isText()) return std::nullopt;
            const std::string& s = sought.constant->text();
            if (s.empty() || s.back() == ' ') return std::nullopt;
            for (std::size_t i = 2; i < n.args.size(); ++i)
                if (position(n.args[i]) != std::optional<std::int64_t>(1)) return std::nullopt;
            Term a = arg(1);
            Term lit = constant(*sought.constant);
            if (!a || !lit || a->kind != SqlTerm::Text) return std::nullopt;
            SqlTerm t;
            t.kind = SqlTerm::Number;
            t.sql = "strpos(" + a->sql + ", " + lit->sql + ")";
            t.cast = "::integer";
            return t;
        }
        if (op == "COMPARE") {
            Term a = arg(0), b = arg(1);
            if (!a || !b || a->kind == SqlTerm::Bool || b->kind == SqlTerm::Bool || a->kind != b->kind)
                return std::nullopt;
            a = clip(*a);
            b = clip(*b);
            static const char* ops[8] = {"FALSE", "<", "=", "<=", ">", "<>", ">=", "TRUE"};
            std::string o = ops[n.compare & 7];
            SqlTerm t;
            t.kind = SqlTerm::Bool;
            t.sql = (o == "FALSE" || o == "TRUE") ? o : "(" + a->sql + " " + o + " " + b->sql + ")";
            return t;
        }
        if (op == "AND" || op == "OR" || op == "NOT") {
            Term a = arg(0);
            Term b = op == "NOT" ? Term(SqlTerm{}) : arg(1);
            if (!a || !b) return std::nullopt;
            SqlTerm t;
            t.kind = SqlTerm::Bool;
            t.sql = op == "NOT" ? "(NOT " + truthOf(*a) + ")"
                                : "(" + truthOf(*a) + " " + std::string(op) + " " + truthOf(*b) + ")";
            return t;
        }
        if (op == "+" || op == "-" || op == "*" || op == "NEG") {
            Term a = arg(0);
            Term b = op == "NEG" ? Term(SqlTerm{}) : arg(1);
            if (!a || !b || a->kind != SqlTerm::Number || b->kind != SqlTerm::Number) return std::nullopt;
            SqlTerm t;
            t.sql = op == "NEG"
                        ? "(-(" + a->sql + ")::numeric)"
                        : "((" + a->sql + ")::numeric " + std::string(op) + " (" + b->sql + ")::numeric)";
            return t;
        }
        return std::nullopt;
    }
};

} // namespace

std::optional<std::string> literal(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\0') return std::nullopt;
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'::text";
}

std::string truthOf(const SqlTerm& t) {
    switch (t.kind) {
    case SqlTerm::Bool:
        return t.sql;
    case SqlTerm::Number:
        return "(" + t.sql + " <> 0)";
    default:
        return "(rtrim(" + t.sql + ", ' ') <> '')";
    }
}

std::optional<SqlTerm> translate(const Expression& e, const Shape& shape, Record& record) {
    if (e.root() < 0) return std::nullopt;
    return Translator{e, shape, record}.node(e.root());
}

} // namespace sorv::pg
