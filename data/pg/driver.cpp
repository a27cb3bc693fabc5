// The "POSTGRESQL" driver: the record-file interface over tables of a PostgreSQL server.
//
// A declaration names its server in the driver options (a libpq connection string; empty takes
// the PG* environment) and its table by its file name (shape.h). Reading in a key's order is a
// keyset query over prepared statements: the sequence keeps an anchor (the start, the buffer's
// key values, a position, or the record read last) and asks for the rows after it, a batch at a
// time, so that a page of a browse costs one round trip; rows already fetched are served from
// the batch until the direction changes, this file writes, or the batch runs out.
//
// Holds are advisory locks of the server keyed by the table and the record (another session
// gets 43; a dead station's go with its session); a write takes the same lock shared for its
// statement, so a record another station holds cannot be changed. WATCH compares the record's
// version. LOGOUT opens a server transaction on the thread's connection; inside it every write
// runs under a savepoint, so a refused write (a duplicate key) leaves the transaction usable.
#include "data/pg/pgdriver.h"

#include "data/declparse.h"
#include "data/pg/connection.h"
#include "data/pg/query.h"
#include "data/pg/shape.h"
#include "data/qnl/qnldriver.h"
#include "data/querydriver.h"
#include "runtime/errors.h"
#include "runtime/fileerror.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <thread>

namespace sorv {

namespace {

using namespace pg;

struct Row {
    std::uint32_t rid = 0;
    std::int64_t ver = 0;
    std::string rec;
    std::vector<std::string> memos;
    std::vector<std::string> values; // a query's order values, as texts
};

// Where a sequence stands: at the start (or end), at the buffer's key values (no record yet),
// at a record (inclusive, after RESET or SET by pointer), or after the record read last.
struct Anchor {
    enum Kind { Start, Values, At, After } kind = Start;
    std::vector<std::uint8_t> image;
    std::uint32_t rid = 0;
    std::vector<std::string> values; // query order: the (leading) order values
};

// A view's order and filter that the server runs (query mode).
struct QuerySpec {
    std::vector<SqlTerm> items;
    std::vector<bool> descending;
    std::string filter; // "" for none
};

constexpr int QueryOrder = ViewTable::QueryOrder;

struct PgState : DriverState {
    std::shared_ptr<Connection> conn;
    std::uint64_t session = 0;
    Shape shape;
    int mode = 0;
    std::int32_t lockKey = 0; // the table's identity in advisory locks
    int order = -1;
    Anchor anchor;
    std::deque<Row> batch;
    bool batchForward = true;
    int batchSize = 32;
    std::uint32_t current = 0;
    std::vector<std::uint8_t> currentImage;
    std::int64_t currentVersion = 0;
    bool watchArmed = false, watched = false;
    std::int64_t watchedVersion = 0;
    bool noMemo = false;
    std::uint32_t held = 0;
    bool locked = false;
    bool inTransaction = false;
    std::string recover = "10", quickScan = "OFF";
    std::int64_t lastBytes = -1;
    std::optional<QuerySpec> query;
    std::vector<std::string> currentValues; // the current record's query values, when read by the query
    std::set<std::string> orderIndexes;     // order indexes known to be there

    bool mayRead() const { return (mode & openmode::AccessMask) != openmode::WriteOnly; }
    bool mayWrite() const { return (mode & openmode::AccessMask) != openmode::ReadOnly; }
    bool exclusive() const { return (mode & openmode::ShareMask) == openmode::DenyAll; }
    bool sameSession() const { return conn && conn->session == session; }
};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The answer of a failed server call: 90 carries the server's message as the file error.
int serverFailure(const Connection& c, int code, OpArgs& args) {
    if (code == err::FileSystemError) {
        args.systemError = c.lost() ? 59 : 91; // "Unexpected Network Error", "Unknown Error"
        setPendingFileErrorText(c.lastMessage());
    }
    return code;
}

void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t get32(std::string_view in) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
    return v;
}

// ---- Query mode (the view engine's order and filter run by the server) -------------------------

class PostgresQueries : public QueryDriver {
public:
    bool takeQuery(FileDecl& file, const std::vector<ViewTable::QueryItem>& order,
                   const Expression* filter) override {
        auto* s = file.stateAs<PgState>();
        if (!s) return false;
        QuerySpec q;
        for (const ViewTable::QueryItem& item : order) {
            auto t = translate(*item.expr, s->shape, file.record);
            if (!t || t->kind == SqlTerm::Bool) return false;
            if (t->kind == SqlTerm::Text && !t->clipped) {
                t->sql = "rtrim(" + t->sql + ", ' ')";
                t->clipped = true;
            }
            q.items.push_back(*t);
            q.descending.push_back(item.descending);
        }
        if (filter) {
            auto t = translate(*filter, s->shape, file.record);
            if (!t) return false;
            q.filter = truthOf(*t);
        }
        s->query = std::move(q);
        ensureOrderIndex(*s);
        return true;
    }

    // A browse pages in the time of a page only when an index serves its order: a large table
    // gets one for an order the server runs (once; at most MaxOrderIndexes per table, and never
    // inside a transaction). Small tables sort a page as fast without one.
    static constexpr int MaxOrderIndexes = 8;
    static constexpr int LargeTable = 10000;
    static void ensureOrderIndex(PgState& s) {
        const QuerySpec& q = *s.query;
        if (q.items.empty() || s.conn->inTransaction) return;
        std::string cols;
        for (std::size_t i = 0; i < q.items.size(); ++i)
            cols += q.items[i].sql + (q.descending[i] ? " DESC, " : ", ");
        cols += "rid";
        std::uint32_t h = 2166136261u;
        for (unsigned char c : cols) h = (h ^ c) * 16777619u;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x", h);
        std::string index = s.shape.name + "_q" + hex;
        if (s.orderIndexes.count(index)) return;
        Result r;
        if (s.conn->run(
                "SELECT to_regclass($1::text) IS NOT NULL, (SELECT count(*) FROM pg_indexes WHERE tablename "
                "= "
                "$2::text AND indexname LIKE $2::text || '\\_q%'), (SELECT count(*) FROM (SELECT 1 FROM " +
                    s.shape.table + " LIMIT " + std::to_string(LargeTable) + ") x)",
                {Param::text(index), Param::text(s.shape.name)}, &r) ||
            r.rows() == 0)
            return;
        if (r.integer(0, 0)) s.orderIndexes.insert(index);
        if (r.integer(0, 0) || r.integer(0, 1) >= MaxOrderIndexes || r.integer(0, 2) < LargeTable) return;
        if (s.conn->exec("CREATE INDEX IF NOT EXISTS \"" + index + "\" ON " + s.shape.table + " (" + cols +
                         ")") == 0)
            s.orderIndexes.insert(index);
    }

    int querySet(FileDecl& file, OpArgs&) override {
        auto* s = queryState(file);
        if (!s) return err::FileNotOpen;
        start(*s, Anchor::Start, 0, {});
        return 0;
    }

    int querySetFrom(FileDecl& file, const std::vector<Value>& leading, OpArgs&) override {
        auto* s = queryState(file);
        if (!s) return err::FileNotOpen;
        std::vector<std::string> values;
        for (std::size_t i = 0; i < leading.size() && i < s->query->items.size(); ++i) {
            const Value& v = leading[i];
            if (s->query->items[i].kind == SqlTerm::Text) {
                std::string t = v.toText();
                t.resize(std::min(t.size(), t.find('\0')));
                values.emplace_back(clipRight(t));
            } else if (v.kind() == Value::Kind::Real) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.17g", v.toReal());
                values.emplace_back(buf);
            } else {
                values.push_back(v.toDecimal().toString());
            }
        }
        start(*s, Anchor::Values, 0, std::move(values));
        return 0;
    }

    // "PQ", the record's rid, then each order value as its length and bytes.
    int queryPosition(FileDecl& file, std::string& position, OpArgs& args) override {
        auto* s = queryState(file);
        if (!s) return err::FileNotOpen;
        if (!s->current) return err::RecordNotAvailable;
        if (s->currentValues.size() != s->query->items.size()) {
            std::string cols;
            for (const SqlTerm& t : s->query->items)
                cols += std::string(cols.empty() ? "" : ", ") + "(" + t.sql + ")::text";
            Result r;
            int rc = s->conn->run("SELECT " + cols + " FROM " + s->shape.table + " WHERE rid = $1::bigint",
                                  {Param::number(s->current)}, &r);
            if (rc) return serverFailure(*s->conn, rc, args);
            if (r.rows() == 0) return err::RecordNotFound;
            s->currentValues.clear();
            for (std::size_t i = 0; i < s->query->items.size(); ++i)
                s->currentValues.emplace_back(r.bytes(0, static_cast<int>(i)));
        }
        std::string p = "PQ";
        put32(p, s->current);
        for (const std::string& v : s->currentValues) {
            put32(p, static_cast<std::uint32_t>(v.size()));
            p += v;
        }
        position = std::move(p);
        return 0;
    }

    int queryReset(FileDecl& file, std::string_view p, OpArgs&) override {
        auto* s = queryState(file);
        if (!s) return err::FileNotOpen;
        if (p.size() < 6 || p.substr(0, 2) != "PQ") return err::RecordNotFound;
        std::uint32_t rid = get32(p.substr(2, 4));
        std::vector<std::string> values;
        std::size_t at = 6;
        while (at + 4 <= p.size()) {
            std::uint32_t n = get32(p.substr(at, 4));
            if (at + 4 + n > p.size()) return err::RecordNotFound;
            values.emplace_back(p.substr(at + 4, n));
            at += 4 + n;
        }
        if (at != p.size() || values.size() != s->query->items.size()) return err::RecordNotFound;
        start(*s, Anchor::At, rid, std::move(values));
        return 0;
    }

    int queryRecords(FileDecl& file, std::int64_t& records, OpArgs& args) override {
        auto* s = queryState(file);
        if (!s) return err::FileNotOpen;
        Result r;
        std::string where = s->query->filter.empty() ? "" : " WHERE " + s->query->filter;
        if (int rc = s->conn->run("SELECT count(*) FROM " + s->shape.table + where, {}, &r))
            return serverFailure(*s->conn, rc, args);
        records = r.integer(0, 0);
        return 0;
    }

    std::uint64_t changeStamp(FileDecl& file) override {
        auto* s = file.stateAs<PgState>();
        if (!s) return 0;
        Result r;
        if (s->conn->run("SELECT last_value, is_called FROM " + s->shape.stamp, {}, &r) || r.rows() == 0)
            return 0;
        return static_cast<std::uint64_t>(r.integer(0, 0)) * 2 + (r.integer(0, 1) ? 1 : 0);
    }

private:
    static PgState* queryState(FileDecl& file) {
        auto* s = file.stateAs<PgState>();
        return s && s->query ? s : nullptr;
    }
    static void start(PgState& s, Anchor::Kind kind, std::uint32_t rid, std::vector<std::string> values) {
        s.order = QueryOrder;
        s.anchor = Anchor{kind, {}, rid, std::move(values)};
        s.batch.clear();
        s.batchSize = 32;
    }
};

class PostgresDriver final : public Driver, public PostgresQueries {
public:
    std::string_view name() const override { return DriverName; }

    int call(int operation, FileDecl& file, OpArgs& args) override {
        auto* st = file.stateAs<PgState>();
        if (!st && file.isOpen()) return err::FileAlreadyOpen;
        if (!st && !opensClosedFile(operation)) return err::FileNotOpen;
        return run(operation, file, st, args);
    }

private:
    // ---- Reading --------------------------------------------------------------------------

    // The condition and parameters that put a row after (or at) the anchor in the sequence's
    // order, reading forwards or backwards. Key components compare as the key orders them,
    // descending ones reversed, and ties by rid (but for unique keys, which have none).
    std::string anchorCondition(PgState& s, bool forward, std::vector<Param>& params) {
        const Anchor& a = s.anchor;
        if (a.kind == Anchor::Start) return {};
        if (s.order == -1) {
            params.push_back(Param::number(a.rid));
            std::string op =
                forward ? (a.kind == Anchor::After ? ">" : ">=") : (a.kind == Anchor::After ? "<" : "<=");
            return "rid " + op + " $" + std::to_string(params.size()) + "::bigint";
        }
        const Shape& sh = s.shape;
        bool inclusive = a.kind != Anchor::After;
        struct Term {
            std::string expr, param;
            bool descending;
        };
        std::vector<Term> terms;
        bool withRid = a.kind != Anchor::Values;
        if (s.order == QueryOrder) {
            const QuerySpec& q = *s.query;
            for (std::size_t i = 0; i < a.values.size() && i < q.items.size(); ++i) {
                params.push_back(Param::text(a.values[i]));
                terms.push_back(
                    {q.items[i].sql, "$" + std::to_string(params.size()) + q.items[i].cast, q.descending[i]});
            }
            if (terms.empty() && !withRid) return {};
        } else {
            const KeyDecl& k = sh.keys[static_cast<std::size_t>(s.order)];
            withRid = withRid && !sh.unique(s.order);
            for (std::size_t i = 0; i < k.components.size(); ++i) {
                params.push_back(Param::text(sh.fieldValue(k.components[i].field, a.image)));
                terms.push_back({sh.keyExpr(s.order, static_cast<int>(i)),
                                 sh.keyParam(s.order, static_cast<int>(i), static_cast<int>(params.size())),
                                 k.components[i].descending});
            }
        }
        if (withRid) {
            params.push_back(Param::number(a.rid));
            terms.push_back({"rid", "$" + std::to_string(params.size()) + "::bigint", false});
        }
        // Every term the same way: one row comparison, which the index serves as a range.
        bool uniform = true;
        for (const Term& t : terms) uniform = uniform && t.descending == terms[0].descending;
        bool greater = forward != terms[0].descending;
        if (uniform) {
            std::string l, r;
            for (std::size_t i = 0; i < terms.size(); ++i) {
                l += (i ? ", " : "") + terms[i].expr;
                r += (i ? ", " : "") + terms[i].param;
            }
            std::string op = std::string(greater ? ">" : "<") + (inclusive ? "=" : "");
            return "(" + l + ") " + op + " (" + r + ")";
        }
        // Mixed directions: the leading component as a range (for the index), then the exact
        // lexicographic condition.
        auto after = [&](const Term& t) { return std::string((forward != t.descending) ? " > " : " < "); };
        std::string lead = terms[0].expr + after(terms[0]).substr(0, 2) + "= " + terms[0].param;
        std::string any;
        for (std::size_t i = 0; i < terms.size(); ++i) {
            std::string conj;
            for (std::size_t j = 0; j < i; ++j) conj += terms[j].expr + " = " + terms[j].param + " AND ";
            any += (i ? " OR " : "") + ("(" + conj + terms[i].expr + after(terms[i]) + terms[i].param + ")");
        }
        if (inclusive) {
            std::string all;
            for (std::size_t j = 0; j < terms.size(); ++j)
                all += (j ? " AND " : "") + terms[j].expr + " = " + terms[j].param;
            any += " OR (" + all + ")";
        }
        return lead + " AND (" + any + ")";
    }

    std::string orderBy(const PgState& s, bool forward) {
        if (s.order == QueryOrder) {
            std::string out;
            for (std::size_t i = 0; i < s.query->items.size(); ++i)
                out += s.query->items[i].sql + (s.query->descending[i] == forward ? " DESC, " : ", ");
            return out + (forward ? "rid" : "rid DESC");
        }
        if (s.order < 0) return forward ? "rid" : "rid DESC";
        const KeyDecl& k = s.shape.keys[static_cast<std::size_t>(s.order)];
        std::string out;
        for (std::size_t i = 0; i < k.components.size(); ++i) {
            if (i) out += ", ";
            out += s.shape.keyExpr(s.order, static_cast<int>(i));
            if (k.components[i].descending == forward) out += " DESC";
        }
        if (!s.shape.unique(s.order)) out += forward ? ", rid" : ", rid DESC";
        return out;
    }

    static Row rowOf(const Result& r, int i, int memos, std::size_t values = 0) {
        Row row;
        row.rid = static_cast<std::uint32_t>(r.integer(i, 0));
        row.ver = r.integer(i, 1);
        row.rec = std::string(r.bytes(i, 2));
        for (int m = 0; m < memos; ++m) row.memos.emplace_back(r.bytes(i, 3 + m));
        for (std::size_t v = 0; v < values; ++v)
            row.values.emplace_back(r.bytes(i, 3 + memos + static_cast<int>(v)));
        return row;
    }

    // The query's order values as extra selected columns.
    static std::string queryValues(const QuerySpec& q) {
        std::string out;
        // Named, so that ORDER BY never takes one of them for the column it was made from.
        for (std::size_t i = 0; i < q.items.size(); ++i)
            out += ", (" + q.items[i].sql + ")::text AS sorv_v" + std::to_string(i);
        return out;
    }

    // Fills the batch with the rows after the anchor; 0 with an empty batch at the end.
    int fetchBatch(PgState& s, bool forward, OpArgs& args) {
        s.batch.clear();
        s.batchForward = forward;
        std::vector<Param> params;
        std::string cond = anchorCondition(s, forward, params);
        bool query = s.order == QueryOrder;
        std::string opt = s.order >= 0 ? s.shape.optClause(s.order) : query ? s.query->filter : std::string();
        std::string where = opt.empty() ? cond : (cond.empty() ? opt : opt + " AND " + cond);
        params.push_back(Param::number(s.batchSize));
        std::string sql = "SELECT " + s.shape.selectList() + (query ? queryValues(*s.query) : "") + " FROM " +
                          s.shape.table + (where.empty() ? "" : " WHERE " + where) + " ORDER BY " +
                          orderBy(s, forward) + " LIMIT $" + std::to_string(params.size());
        Result r;
        if (int rc = s.conn->run(sql, params, &r)) return serverFailure(*s.conn, rc, args);
        for (int i = 0; i < r.rows(); ++i)
            s.batch.push_back(rowOf(r, i, s.shape.memos, query ? s.query->items.size() : 0));
        // A long read asks for more at a time, up to a bound that keeps a batch small in memory.
        s.batchSize = std::min(s.batchSize * 2, 1024);
        return 0;
    }

    void dropBatch(PgState& s) {
        s.batch.clear();
        s.batchSize = 32;
    }

    void took(FileDecl& file, PgState& s, Row& row) {
        auto buf = file.buffer();
        std::fill(buf.begin(), buf.end(), 0);
        std::memcpy(buf.data(), row.rec.data(), std::min(buf.size(), row.rec.size()));
        if (!s.noMemo) {
            file.memoValues = std::move(row.memos);
            file.memoValues.resize(file.memos.size());
        }
        s.noMemo = false;
        s.currentValues.clear();
        s.current = row.rid;
        s.currentImage.assign(buf.begin(), buf.end());
        s.currentVersion = row.ver;
        s.watched = s.watchArmed;
        s.watchedVersion = row.ver;
        s.watchArmed = false;
        s.lastBytes = static_cast<std::int64_t>(row.rec.size());
    }

    int step(FileDecl& file, PgState& s, bool forward, OpArgs& args) {
        if (!s.mayRead()) return err::AccessDenied;
        if (s.batch.empty() || s.batchForward != forward) {
            if (s.batchForward != forward) s.batchSize = 32;
            if (int rc = fetchBatch(s, forward, args)) return rc;
        }
        if (s.batch.empty()) return err::RecordNotAvailable;
        Row row = std::move(s.batch.front());
        s.batch.pop_front();
        s.anchor.kind = Anchor::After;
        s.anchor.rid = row.rid;
        s.anchor.values = row.values;
        took(file, s, row);
        s.anchor.image = s.currentImage;
        s.currentValues = std::move(s.anchor.values);
        s.anchor.values = s.currentValues;
        return 0;
    }

    int fetchOne(PgState& s, const std::string& where, std::vector<Param> params, Row& row, OpArgs& args,
                 const std::string& order = "rid") {
        Result r;
        std::string sql = "SELECT " + s.shape.selectList() + " FROM " + s.shape.table + " WHERE " + where +
                          " ORDER BY " + order + " LIMIT 1";
        if (int rc = s.conn->run(sql, params, &r)) return serverFailure(*s.conn, rc, args);
        if (r.rows() == 0) return err::RecordNotFound;
        row = rowOf(r, 0, s.shape.memos);
        return 0;
    }

    int byPointer(PgState& s, std::uint32_t rid, Row& row, OpArgs& args) {
        if (rid == 0) return err::RecordNotFound;
        return fetchOne(s, "rid = $1::bigint", {Param::number(rid)}, row, args);
    }

    // The first record (in the key's order) whose key equals the buffer's.
    int byKey(FileDecl& file, PgState& s, int key, Row& row, OpArgs& args, const std::string& extra = {},
              std::vector<Param> params = {}) {
        const Shape& sh = s.shape;
        if (!sh.inKey(key, file.buffer())) return err::RecordNotFound;
        std::string where = sh.optClause(key);
        const KeyDecl& k = sh.keys[static_cast<std::size_t>(key)];
        for (std::size_t i = 0; i < k.components.size(); ++i) {
            params.push_back(Param::text(sh.fieldValue(k.components[i].field, file.buffer())));
            where += (where.empty() ? "" : " AND ") + sh.keyExpr(key, static_cast<int>(i)) + " = " +
                     sh.keyParam(key, static_cast<int>(i), static_cast<int>(params.size()));
        }
        return fetchOne(s, where + extra, params, row, args);
    }

    // ---- Writing --------------------------------------------------------------------------

    std::vector<Param> recordParams(FileDecl& file, PgState& s) {
        std::vector<Param> p;
        auto buf = file.buffer();
        p.push_back(Param::bytes(std::string(buf.begin(), buf.end())));
        for (const Column& c : s.shape.columns) p.push_back(Param::text(s.shape.columnValue(c, buf)));
        for (std::size_t m = 0; m < file.memos.size(); ++m) {
            std::string v = m < file.memoValues.size() ? file.memoValues[m] : std::string();
            if (!file.memos[m].isBlob && v.size() > file.memos[m].size) v.resize(file.memos[m].size);
            p.push_back(Param::bytes(std::move(v)));
        }
        return p;
    }

    // A write inside a transaction runs under a savepoint, so that its failure does not abort
    // the whole transaction on the server.
    int write(PgState& s, const std::string& sql, const std::vector<Param>& params, Result* r, OpArgs& args) {
        bool guarded = s.conn->inTransaction && !s.conn->transactionEnded;
        if (guarded)
            if (int rc = s.conn->exec("SAVEPOINT sorv_write")) return serverFailure(*s.conn, rc, args);
        int rc = s.conn->run(sql, params, r);
        int code =
            rc ? serverFailure(*s.conn, rc, args) : 0; // before the savepoint's end replaces the message
        if (guarded && !s.conn->lost())
            s.conn->exec(rc ? "ROLLBACK TO SAVEPOINT sorv_write" : "RELEASE SAVEPOINT sorv_write");
        dropBatch(s);
        return code;
    }

    int add(FileDecl& file, PgState& s, OpArgs& args) {
        if (!s.mayWrite()) return err::AccessDenied;
        std::string cols = "ver, rec", vals = "nextval('" + s.shape.stamp + "'), $1::bytea";
        int n = 1;
        for (const Column& c : s.shape.columns) {
            cols += ", " + c.name;
            vals += ", $" + std::to_string(++n) + c.cast;
        }
        for (int m = 0; m < s.shape.memos; ++m) {
            cols += ", m" + std::to_string(m);
            vals += ", $" + std::to_string(++n) + "::bytea";
        }
        Result r;
        int rc = write(
            s, "INSERT INTO " + s.shape.table + " (" + cols + ") VALUES (" + vals + ") RETURNING rid, ver",
            recordParams(file, s), &r, args);
        if (rc) return rc;
        s.current = static_cast<std::uint32_t>(r.integer(0, 0));
        s.currentVersion = r.integer(0, 1);
        auto buf = file.buffer();
        s.currentImage.assign(buf.begin(), buf.end());
        s.watched = false;
        return 0;
    }

    // Why a guarded change of one record touched nothing: gone, changed under WATCH, or held.
    int whyUnchanged(PgState& s, std::uint32_t rid, bool watched, OpArgs& args) {
        Result r;
        if (int rc = s.conn->run("SELECT ver FROM " + s.shape.table + " WHERE rid = $1::bigint",
                                 {Param::number(rid)}, &r))
            return serverFailure(*s.conn, rc, args);
        if (r.rows() == 0) return err::RecordNotFound;
        if (watched && r.integer(0, 0) != s.watchedVersion) return err::RecordChanged;
        return err::RecordHeld;
    }

    int put(FileDecl& file, PgState& s, std::uint32_t rid, OpArgs& args) {
        if (!s.mayWrite()) return err::AccessDenied;
        if (!rid) return err::RecordNotAvailable;
        bool watched = s.watched && rid == s.current;
        std::vector<Param> params = recordParams(file, s);
        std::string sets = "ver = nextval('" + s.shape.stamp + "'), rec = $1::bytea";
        int n = 1;
        for (const Column& c : s.shape.columns) sets += ", " + c.name + " = $" + std::to_string(++n) + c.cast;
        for (int m = 0; m < s.shape.memos; ++m)
            sets += ", m" + std::to_string(m) + " = $" + std::to_string(++n) + "::bytea";
        params.push_back(Param::number(s.lockKey));
        params.push_back(Param::number(rid));
        std::string lk = "$" + std::to_string(n + 1) + "::integer", rk = "$" + std::to_string(n + 2);
        std::string sql = "WITH l AS (SELECT pg_try_advisory_xact_lock_shared(" + lk + ", " + rk +
                          "::bigint::integer) AS ok) UPDATE " + s.shape.table + " t SET " + sets +
                          " FROM l WHERE l.ok AND t.rid = " + rk + "::bigint";
        if (watched) {
            params.push_back(Param::number(s.watchedVersion));
            sql += " AND t.ver = $" + std::to_string(n + 3) + "::bigint";
        }
        Result r;
        if (int rc = write(s, sql + " RETURNING t.ver", params, &r, args)) return rc;
        if (r.rows() == 0) return whyUnchanged(s, rid, watched, args);
        s.current = rid;
        s.currentVersion = r.integer(0, 0);
        s.watchedVersion = s.currentVersion;
        auto buf = file.buffer();
        s.currentImage.assign(buf.begin(), buf.end());
        return 0;
    }

    int erase(PgState& s, OpArgs& args) {
        if (!s.mayWrite()) return err::AccessDenied;
        if (!s.current) return err::RecordNotAvailable;
        std::string sql =
            "WITH l AS (SELECT pg_try_advisory_xact_lock_shared($1::integer, $2::bigint::integer) AS ok) "
            "DELETE FROM " +
            s.shape.table + " t USING l WHERE l.ok AND t.rid = $2::bigint RETURNING t.rid";
        Result r;
        if (int rc = write(s, sql, {Param::number(s.lockKey), Param::number(s.current)}, &r, args)) return rc;
        if (r.rows() == 0) return whyUnchanged(s, s.current, false, args);
        if (s.held == s.current) release(s);
        s.current = 0;
        s.watched = false;
        return 0;
    }

    // ---- Locks ----------------------------------------------------------------------------

    void release(PgState& s) {
        if (s.held && s.sameSession()) {
            Result r;
            s.conn->run("SELECT pg_advisory_unlock($1::integer, $2::bigint::integer)",
                        {Param::number(s.lockKey), Param::number(s.held)}, &r);
        }
        s.held = 0;
    }

    // Tries an advisory lock until it is taken or the time is up (0: one try).
    int tryLock(PgState& s, const std::string& function, std::int32_t a, std::int32_t b, int seconds,
                int busy, OpArgs& args) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(0, seconds));
        while (true) {
            Result r;
            if (int rc = s.conn->run("SELECT " + function + "($1::integer, $2::integer)",
                                     {Param::number(a), Param::number(b)}, &r))
                return serverFailure(*s.conn, rc, args);
            if (r.rows() == 1 && r.integer(0, 0) != 0) return 0;
            if (std::chrono::steady_clock::now() >= deadline) return busy;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // ---- Opening and making tables -----------------------------------------------------------

    int connect(const FileDecl& file, std::shared_ptr<Connection>& conn, OpArgs& args) {
        int code = 0;
        std::string message;
        conn = Connection::forThread(file.driverOptions, code, message);
        if (!conn) {
            args.systemError = 59;
            setPendingFileErrorText(message);
            return code ? code : err::FileSystemError;
        }
        return 0;
    }

    int ensureCatalog(Connection& c, OpArgs& args) {
        int rc = c.exec(std::string("CREATE TABLE IF NOT EXISTS ") + CatalogTable +
                        " (name text PRIMARY KEY, declaration text NOT NULL)");
        // Two stations making the catalog at once: the loser's statement fails, the table is there.
        if (rc && c.lastState() == "23505") rc = 0;
        return rc ? serverFailure(c, rc, args) : 0;
    }

    int open(int operation, FileDecl& file, OpArgs& args) {
        int mode = args.mode;
        if (operation == op::SHARE && (mode & openmode::ShareMask) == 0) mode |= openmode::DenyNone;
        auto st = std::make_unique<PgState>();
        std::string why;
        if (!st->shape.make(file, why)) return err::InvalidRecordDeclaration;
        if (int rc = connect(file, st->conn, args)) return rc;
        Connection& c = *st->conn;
        Result r;
        int rc = c.run(std::string("SELECT d.declaration, to_regclass(d.name)::oid::bigint FROM ") +
                           CatalogTable + " d WHERE d.name = $1::text",
                       {Param::text(st->shape.name)}, &r);
        if (rc == err::FileNotFound || (rc == 0 && (r.rows() == 0 || r.isNull(0, 1))))
            return err::FileNotFound;
        if (rc) return serverFailure(c, rc, args);
        std::string parseWhy;
        auto stored = parseDeclaration(r.bytes(0, 0), parseWhy);
        if (!stored) return err::InvalidDataFile;
        if (!qnl::schemaOf(file).compatibleWith(qnl::schemaOf(*stored))) return err::InvalidRecordDeclaration;
        st->lockKey = static_cast<std::int32_t>(r.integer(0, 1));
        st->mode = mode;
        st->session = c.session;
        // Sharing: every opener holds the table's lock 0 shared; opening to deny all needs it alone.
        bool alone = (mode & openmode::ShareMask) == openmode::DenyAll;
        if (int l = tryLock(*st, alone ? "pg_try_advisory_lock" : "pg_try_advisory_lock_shared", st->lockKey,
                            0, 0, err::AccessDenied, args))
            return l;
        file.state = std::move(st);
        return 0;
    }

    void closeState(PgState& s) {
        release(s);
        if (s.sameSession()) {
            Result r;
            if (s.locked)
                s.conn->run("SELECT pg_advisory_unlock($1::integer, -1)", {Param::number(s.lockKey)}, &r);
            s.conn->run(std::string("SELECT ") +
                            (s.exclusive() ? "pg_advisory_unlock" : "pg_advisory_unlock_shared") +
                            "($1::integer, 0)",
                        {Param::number(s.lockKey)}, &r);
        }
        if (s.inTransaction) leaveTransaction(s, true);
    }

    int create(FileDecl& file, OpArgs& args) {
        if (!file.hasAttribute(fileattr::Create)) return err::NoCreateAttribute;
        if (file.isOpen()) return err::FileAlreadyOpen;
        Shape sh;
        std::string why;
        if (!sh.make(file, why)) return err::InvalidRecordDeclaration;
        if (!qnl::schemaOf(file).validate().empty()) return err::InvalidRecordDeclaration;
        std::shared_ptr<Connection> conn;
        if (int rc = connect(file, conn, args)) return rc;
        Connection& c = *conn;
        if (int rc = ensureCatalog(c, args)) return rc;
        bool own = !c.inTransaction;
        if (own)
            if (int rc = c.exec("BEGIN")) return serverFailure(c, rc, args);
        auto fail = [&](int rc) {
            int code = serverFailure(c, rc, args);
            if (own) c.exec("ROLLBACK");
            return code;
        };
        // Replacing a table must not pull it away from under another opener.
        Result r;
        if (int rc = c.run("SELECT to_regclass($1::text)::oid::bigint", {Param::text(sh.name)}, &r))
            return fail(rc);
        if (r.rows() == 1 && !r.isNull(0, 0)) {
            Result l;
            if (int rc = c.run("SELECT pg_try_advisory_xact_lock($1::integer, 0)",
                               {Param::number(static_cast<std::int32_t>(r.integer(0, 0)))}, &l))
                return fail(rc);
            if (l.integer(0, 0) == 0) {
                if (own) c.exec("ROLLBACK");
                return err::AccessDenied;
            }
        }
        std::string ddl = "DROP TABLE IF EXISTS " + sh.table + "; DROP SEQUENCE IF EXISTS " + sh.stamp + ";";
        for (const std::string& s : sh.createStatements()) ddl += s + ";";
        if (int rc = c.exec(ddl)) return fail(rc);
        if (int rc =
                c.run(std::string("INSERT INTO ") + CatalogTable +
                          " (name, declaration) VALUES ($1::text, $2::text) ON CONFLICT (name) DO UPDATE SET "
                          "declaration = excluded.declaration",
                      {Param::text(sh.name), Param::text(storedDeclaration(file))}))
            return fail(rc);
        if (own)
            if (int rc = c.exec("COMMIT")) return serverFailure(c, rc, args);
        return 0;
    }

    int removeTable(FileDecl& file, OpArgs& args) {
        if (file.isOpen()) return err::FileAlreadyOpen;
        Shape sh;
        std::string why;
        sh.make(file, why);
        std::shared_ptr<Connection> conn;
        if (int rc = connect(file, conn, args)) return rc;
        Connection& c = *conn;
        Result r;
        int rc = c.run(std::string("SELECT to_regclass($1::text)::oid::bigint FROM ") + CatalogTable +
                           " WHERE name = $1::text",
                       {Param::text(sh.name)}, &r);
        if (rc == err::FileNotFound || (rc == 0 && (r.rows() == 0 || r.isNull(0, 0))))
            return err::FileNotFound;
        if (rc) return serverFailure(c, rc, args);
        if ((rc = c.exec("BEGIN"))) return serverFailure(c, rc, args);
        Result l;
        if ((rc = c.run("SELECT pg_try_advisory_xact_lock($1::integer, 0)",
                        {Param::number(static_cast<std::int32_t>(r.integer(0, 0)))}, &l)) ||
            l.integer(0, 0) == 0) {
            c.exec("ROLLBACK");
            return rc ? serverFailure(c, rc, args) : err::AccessDenied;
        }
        rc = c.exec("DROP TABLE " + sh.table + "; DROP SEQUENCE IF EXISTS " + sh.stamp + ";");
        if (!rc)
            rc = c.run(std::string("DELETE FROM ") + CatalogTable + " WHERE name = $1::text",
                       {Param::text(sh.name)});
        if (rc) {
            int code = serverFailure(c, rc, args);
            c.exec("ROLLBACK");
            return code;
        }
        if ((rc = c.exec("COMMIT"))) return serverFailure(c, rc, args);
        return 0;
    }

    // ---- Transactions -----------------------------------------------------------------------

    void leaveTransaction(PgState& s, bool rollbackIfLast) {
        Connection& c = *s.conn;
        s.inTransaction = false;
        if (--c.transactionMembers <= 0) {
            if (rollbackIfLast && !c.transactionEnded) c.exec("ROLLBACK");
            c.inTransaction = false;
            c.transactionEnded = false;
            c.transactionMembers = 0;
        }
    }

    // ---- Positions ----------------------------------------------------------------------------
    // "PG", the order (a key index, or 255 for record order), the record's rid, and for a key
    // the bytes of its component fields (so a position of a deleted record still has a place).

    std::string positionOf(PgState& s, int order) {
        std::string p = "PG";
        p += static_cast<char>(order < 0 ? 255 : order);
        put32(p, s.current);
        if (order >= 0)
            for (const KeyComponent& c : s.shape.keys[static_cast<std::size_t>(order)].components) {
                const FieldDesc& f = s.shape.layout->field(static_cast<std::size_t>(c.field));
                p.append(reinterpret_cast<const char*>(s.currentImage.data()) + f.offset, f.totalSize());
            }
        return p;
    }

    // Reads a position: its order, rid, and (for a key) an image with its component bytes.
    bool readPosition(PgState& s, const std::string& p, int& order, std::uint32_t& rid,
                      std::vector<std::uint8_t>& image) {
        if (p.size() < 7 || p.compare(0, 2, "PG") != 0) return false;
        unsigned char o = static_cast<unsigned char>(p[2]);
        order = o == 255 ? -1 : o;
        rid = get32(std::string_view(p).substr(3, 4));
        if (order >= static_cast<int>(s.shape.keys.size()) || rid == 0) return false;
        std::size_t at = 7;
        image = s.shape.layout->blankBuffer();
        if (order >= 0)
            for (const KeyComponent& c : s.shape.keys[static_cast<std::size_t>(order)].components) {
                const FieldDesc& f = s.shape.layout->field(static_cast<std::size_t>(c.field));
                if (p.size() < at + f.totalSize()) return false;
                std::memcpy(image.data() + f.offset, p.data() + at, f.totalSize());
                at += f.totalSize();
            }
        return at == p.size();
    }

    void startAt(PgState& s, int order, Anchor::Kind kind, std::vector<std::uint8_t> image = {},
                 std::uint32_t rid = 0, std::vector<std::string> values = {}) {
        s.order = order;
        s.anchor.kind = kind;
        s.anchor.image = std::move(image);
        s.anchor.rid = rid;
        s.anchor.values = std::move(values);
        dropBatch(s);
    }

    bool validKey(const FileDecl& file, int key) {
        return key >= 0 && key < static_cast<int>(file.keys.size());
    }

    std::vector<std::uint8_t> bufferImage(FileDecl& file) {
        return {file.buffer().begin(), file.buffer().end()};
    }

    int count(PgState& s, const std::string& where, std::int64_t& n, OpArgs& args) {
        Result r;
        if (int rc = s.conn->run(
                "SELECT count(*) FROM " + s.shape.table + (where.empty() ? "" : " WHERE " + where), {}, &r))
            return serverFailure(*s.conn, rc, args);
        n = r.integer(0, 0);
        return 0;
    }

    // ---- The operations ------------------------------------------------------------------------

    int run(int operation, FileDecl& file, PgState* st, OpArgs& args) {
        switch (operation) {
        case op::OPEN:
        case op::SHARE:
            return open(operation, file, args);
        case op::CREATE:
            return create(file, args);
        case op::REMOVE:
            return removeTable(file, args);
        case op::CLOSE:
            closeState(*st);
            file.state.reset();
            return 0;
        case op::NAME:
            args.textOut = file.fileName();
            return 0;
        case op::SEND: {
            std::string cmd = args.text;
            auto eq = cmd.find('=');
            std::string word = upper(cmd.substr(0, eq));
            std::string value = eq == std::string::npos ? std::string() : cmd.substr(eq + 1);
            args.textOut.clear();
            if (!st) return 0;
            std::string* setting = word == "RECOVER"     ? &st->recover
                                   : word == "QUICKSCAN" ? &st->quickScan
                                                         : nullptr;
            if (setting) {
                args.textOut = *setting;
                if (eq != std::string::npos) *setting = word == "QUICKSCAN" ? upper(value) : value;
            }
            return 0;
        }
        case op::RENAME:
        case op::COPY:
        case op::QUERY_VIEW:
            return err::UnsupportedFunction;
        default:
            break;
        }
        PgState& s = *st;
        switch (operation) {
        case op::STREAM:
            return 0;
        case op::FLUSH:
            dropBatch(s);
            return 0;
        case op::BYTES:
            args.bytesOut = std::max<std::int64_t>(s.lastBytes, 0);
            return 0;
        case op::NOMEMO:
            s.noMemo = true;
            return 0;

        case op::SETfile:
            startAt(s, -1, Anchor::Start);
            return 0;
        case op::SETfileptr:
            startAt(s, -1, Anchor::At, {}, args.pointer);
            return 0;
        case op::SETfilekey: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            Row row;
            int rc = byKey(file, s, args.key, row, args);
            if (rc && rc != err::RecordNotFound) return rc;
            // No such key: a sequence that reads nothing.
            startAt(s, -1, Anchor::At, {}, rc ? 0xFFFFFFFFu : row.rid);
            return 0;
        }
        case op::SETkey:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            startAt(s, args.key, Anchor::Start);
            return 0;
        case op::SETkeykey:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            startAt(s, args.key, Anchor::Values, bufferImage(file));
            return 0;
        case op::SETkeykeyptr:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            startAt(s, args.key, Anchor::At, bufferImage(file), args.pointer);
            return 0;
        case op::SETkeyptr: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            Row row;
            if (int rc = byPointer(s, args.pointer, row, args)) return rc;
            startAt(s, args.key, Anchor::At, std::vector<std::uint8_t>(row.rec.begin(), row.rec.end()),
                    row.rid);
            return 0;
        }
        case op::NEXT:
        case op::PREVIOUS:
            return step(file, s, operation == op::NEXT, args);
        case op::SKIP: {
            bool memo = s.noMemo;
            for (std::int32_t i = 0; i < std::abs(args.count); ++i) {
                s.noMemo = true;
                int rc = step(file, s, args.count > 0, args);
                if (rc == err::RecordNotAvailable) break;
                if (rc) return rc;
            }
            s.noMemo = memo;
            return 0;
        }
        case op::EOF_:
        case op::BOF: {
            bool forward = operation == op::EOF_;
            if (s.batch.empty() || s.batchForward != forward)
                if (int rc = fetchBatch(s, forward, args)) return rc;
            args.flag = s.batch.empty();
            return 0;
        }

        case op::GETfilekey: {
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            if (!s.mayRead()) return err::AccessDenied;
            Row row;
            if (int rc = byKey(file, s, args.key, row, args)) return rc;
            took(file, s, row);
            return 0;
        }
        case op::GETkeyptr:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            [[fallthrough]];
        case op::GETfileptr:
        case op::GETfileptrlen: {
            if (!s.mayRead()) return err::AccessDenied;
            Row row;
            if (int rc = byPointer(s, args.pointer, row, args)) return rc;
            took(file, s, row);
            return 0;
        }
        case op::REGETfile:
        case op::REGETkey: {
            int order;
            std::uint32_t rid;
            std::vector<std::uint8_t> image;
            if (!readPosition(s, args.position, order, rid, image)) return err::RecordNotFound;
            Row row;
            if (int rc = byPointer(s, rid, row, args)) return rc;
            took(file, s, row);
            return 0;
        }
        case op::POINTERfile:
        case op::POINTERkey:
            if (!s.current) return err::RecordNotAvailable;
            args.pointerOut = s.current;
            return 0;
        case op::POSITIONfile:
            if (!s.current) return err::RecordNotAvailable;
            args.positionOut = positionOf(s, -1);
            return 0;
        case op::POSITIONkey:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            if (!s.current) return err::RecordNotAvailable;
            args.positionOut = positionOf(s, args.key);
            return 0;
        case op::RESETfile:
        case op::RESETkey: {
            int order;
            std::uint32_t rid;
            std::vector<std::uint8_t> image;
            if (!readPosition(s, args.position, order, rid, image)) return err::RecordNotFound;
            int want = operation == op::RESETkey ? args.key : order;
            if (operation == op::RESETkey && !validKey(file, want)) return err::InvalidKeyFile;
            if (want >= 0 && want != order) {
                // A position of another order: the record's own place in this one.
                Row row;
                if (int rc = byPointer(s, rid, row, args)) return rc;
                image.assign(row.rec.begin(), row.rec.end());
            }
            startAt(s, want, Anchor::At, std::move(image), rid);
            return 0;
        }
        case op::RECORDSfile:
            return count(s, {}, args.records, args);
        case op::RECORDSkey:
            if (!validKey(file, args.key)) return err::InvalidKeyFile;
            return count(s, s.shape.optClause(args.key), args.records, args);

        case op::ADD:
        case op::APPEND:
        case op::ADDfilelen:
        case op::APPENDlen:
            return add(file, s, args);
        case op::PUT:
            return put(file, s, s.current, args);
        case op::PUTfileptr:
        case op::PUTfileptrlen:
            return put(file, s, args.pointer, args);
        case op::DELETE:
            return erase(s, args);

        case op::HOLDfile:
        case op::HOLDfilesec: {
            if (!s.current) return err::RecordNotAvailable;
            if (s.held == s.current && s.sameSession()) return 0;
            release(s);
            int seconds = operation == op::HOLDfilesec ? args.seconds : 0;
            int rc = tryLock(s, "pg_try_advisory_lock", s.lockKey, static_cast<std::int32_t>(s.current),
                             seconds, err::RecordHeld, args);
            if (rc == 0) {
                s.held = s.current;
                s.session = s.conn->session;
            }
            return rc;
        }
        case op::RELEASE:
            release(s);
            return 0;
        case op::WATCH:
            s.watchArmed = true;
            return 0;
        case op::LOCKfile:
        case op::LOCKfilesec: {
            if (s.locked) return 0;
            int rc = tryLock(s, "pg_try_advisory_lock", s.lockKey, -1,
                             operation == op::LOCKfilesec ? args.seconds : 0, err::FileIsLocked, args);
            if (rc == 0) s.locked = true;
            return rc;
        }
        case op::UNLOCK:
            if (s.locked && s.sameSession()) {
                Result r;
                s.conn->run("SELECT pg_advisory_unlock($1::integer, -1)", {Param::number(s.lockKey)}, &r);
            }
            s.locked = false;
            return 0;

        case op::LOGOUT: {
            if (s.inTransaction) return err::LogoutAlreadyActive;
            if (!s.mayWrite()) return err::AccessDenied;
            Connection& c = *s.conn;
            if (!c.inTransaction || c.transactionEnded) {
                if (int rc = c.exec("BEGIN")) return serverFailure(c, rc, args);
                c.inTransaction = true;
                c.transactionEnded = false;
                c.transactionResult = 0;
                c.transactionMembers = 0;
            }
            ++c.transactionMembers;
            s.inTransaction = true;
            return 0;
        }
        case op::COMMIT:
        case op::ROLLBACK: {
            if (!s.inTransaction) return err::LogoutNotActive;
            Connection& c = *s.conn;
            if (!c.transactionEnded) {
                int rc = c.exec(operation == op::COMMIT ? "COMMIT" : "ROLLBACK");
                c.transactionResult = rc ? serverFailure(c, rc, args) : 0;
                c.transactionEnded = true;
            } else if (c.transactionResult == err::FileSystemError) {
                args.systemError = 91;
                setPendingFileErrorText(c.lastMessage());
            }
            int rc = operation == op::COMMIT ? c.transactionResult : 0;
            leaveTransaction(s, false);
            dropBatch(s);
            return rc;
        }

        case op::BUILDfile:
        case op::BUILDkey:
        case op::BUILDdyn:
        case op::BUILDdynfilter: {
            // The server keeps every index up to date; a build refreshes what its planner knows.
            if (!s.mayWrite()) return err::AccessDenied;
            int rc = s.conn->exec("ANALYZE " + s.shape.table);
            return rc ? serverFailure(*s.conn, rc, args) : 0;
        }
        case op::DUPLICATE:
        case op::DUPLICATEkey: {
            args.flag = false;
            for (std::size_t k = 0; k < file.keys.size() && !args.flag; ++k) {
                if (operation == op::DUPLICATEkey && static_cast<int>(k) != args.key) continue;
                if (file.keys[k].dup()) continue;
                std::vector<Param> params;
                std::string where = s.shape.optClause(static_cast<int>(k));
                if (!s.shape.inKey(static_cast<int>(k), file.buffer())) continue;
                const KeyDecl& kd = file.keys[k];
                for (std::size_t i = 0; i < kd.components.size(); ++i) {
                    params.push_back(Param::text(s.shape.fieldValue(kd.components[i].field, file.buffer())));
                    where += (where.empty() ? "" : " AND ") +
                             s.shape.keyExpr(static_cast<int>(k), static_cast<int>(i)) + " = " +
                             s.shape.keyParam(static_cast<int>(k), static_cast<int>(i),
                                              static_cast<int>(params.size()));
                }
                params.push_back(Param::number(s.current));
                where += " AND rid <> $" + std::to_string(params.size()) + "::bigint";
                Result r;
                if (int e = s.conn->run("SELECT rid FROM " + s.shape.table + " WHERE " + where + " LIMIT 1",
                                        params, &r))
                    return serverFailure(*s.conn, e, args);
                args.flag = r.rows() > 0;
            }
            return 0;
        }
        case op::EMPTY:
        case op::PACK: {
            if (!s.exclusive()) return err::ExclusiveAccessRequired;
            if (!s.mayWrite()) return err::AccessDenied;
            int rc = operation == op::EMPTY
                         ? s.conn->exec("DELETE FROM " + s.shape.table)
                         : (s.conn->inTransaction ? 0 : s.conn->exec("VACUUM " + s.shape.table));
            if (rc) return serverFailure(*s.conn, rc, args);
            s.current = 0;
            startAt(s, s.order, Anchor::Start);
            return 0;
        }
        default:
            return err::UnsupportedFunction;
        }
    }
};

} // namespace

std::optional<FileDecl> pg::storedDeclarationOf(const std::string& conninfo, const std::string& table,
                                                int& code, std::string& message) {
    auto c = Connection::forThread(conninfo, code, message);
    if (!c) return std::nullopt;
    Result r;
    FileDecl probe;
    probe.name = table;
    code = c->run(std::string("SELECT declaration FROM ") + CatalogTable + " WHERE name = $1::text",
                  {Param::text(tableNameOf(probe))}, &r);
    message = c->lastMessage();
    if (code == 0 && r.rows() == 0) code = err::FileNotFound;
    if (code) return std::nullopt;
    auto d = parseDeclaration(r.bytes(0, 0), message);
    if (!d) code = err::InvalidDataFile;
    return d;
}

std::shared_ptr<Driver> makePostgresDriver() {
    return std::make_shared<PostgresDriver>();
}

} // namespace sorv
