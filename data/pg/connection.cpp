// Connections to a PostgreSQL server through libpq: per-thread sharing, prepared statements,
// binary results and the mapping of server errors onto interface codes.
#include "data/pg/connection.h"

#include "runtime/errors.h"

#include <libpq-fe.h>

#include <cstring>
#include <unistd.h>

namespace sorv::pg {

namespace {

std::int64_t bigEndian(std::string_view b) {
    std::uint64_t v = 0;
    for (unsigned char c : b) v = (v << 8) | c;
    // Sign-extend values narrower than eight bytes.
    if (b.size() < 8 && !b.empty() && (static_cast<unsigned char>(b[0]) & 0x80))
        v |= ~std::uint64_t{0} << (8 * b.size());
    return static_cast<std::int64_t>(v);
}

std::string clipped(const char* s) {
    std::string t = s ? s : "";
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    return t;
}

thread_local std::map<std::string, std::weak_ptr<Connection>> threadConnections;

} // namespace

Result::~Result() {
    if (r_) PQclear(r_);
}

Result& Result::operator=(Result&& o) noexcept {
    if (this != &o) {
        if (r_) PQclear(r_);
        r_ = o.r_;
        o.r_ = nullptr;
    }
    return *this;
}

int Result::rows() const {
    return r_ ? PQntuples(r_) : 0;
}

bool Result::isNull(int row, int col) const {
    return !r_ || PQgetisnull(r_, row, col);
}

std::string_view Result::bytes(int row, int col) const {
    if (!r_ || PQgetisnull(r_, row, col)) return {};
    return {PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col))};
}

std::int64_t Result::integer(int row, int col) const {
    return bigEndian(bytes(row, col));
}

int codeOfState(std::string_view s) {
    if (s == "23505") return err::DuplicateKey;
    if (s == "55P03") return err::RecordHeld;
    if (s == "42P01") return err::FileNotFound;
    return err::FileSystemError;
}

Connection::~Connection() {
    // A forked child holds a copy of its parent's connection: closing it would end the
    // parent's session, so only the process that connected closes it.
    if (conn_ && pid_ == ::getpid()) PQfinish(conn_);
}

std::shared_ptr<Connection> Connection::forThread(const std::string& conninfo, int& code,
                                                  std::string& message) {
    auto& slot = threadConnections[conninfo];
    if (auto c = slot.lock(); c && c->pid_ == ::getpid()) {
        code = 0;
        return c;
    }
    std::shared_ptr<Connection> c(new Connection(conninfo));
    code = c->connect();
    if (code != 0) {
        message = c->message_;
        return nullptr;
    }
    slot = c;
    return c;
}

int Connection::connect() {
    if (conn_ && pid_ == ::getpid()) PQfinish(conn_);
    prepared_.clear();
    pid_ = ::getpid();
    // A server that does not answer is given up after a while (unless the connection string
    // says otherwise: its own settings come after the default).
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {"10", conninfo_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        message_ =
            "Cannot connect to the database server: " + clipped(conn_ ? PQerrorMessage(conn_) : "no memory");
        state_ = "08001";
        lost_ = true;
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
        return err::FileSystemError;
    }
    ++session;
    lost_ = false;
    // The server's notices (a shutdown under way...) are not for the program's terminal; what
    // matters comes back as the failing call's answer.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Texts are bytes of the program's records: every byte must come back as it went, and
    // compare as bytes (the columns are declared with the "C" collation).
    if (std::strcmp(PQparameterStatus(conn_, "server_encoding") ? PQparameterStatus(conn_, "server_encoding")
                                                                : "",
                    "SQL_ASCII") != 0)
        PQsetClientEncoding(conn_, "LATIN1");
    PGresult* r = PQexec(conn_, "SET client_min_messages = warning");
    if (r) PQclear(r);
    return 0;
}

bool Connection::ensureOpen(int& code) {
    code = 0;
    // A connection found lost is not used again, even where libpq has not marked it bad yet.
    if (conn_ && PQstatus(conn_) == CONNECTION_OK && !lost_) return true;
    if (inTransaction) {
        // The server rolled the transaction back with the session; say so rather than go on
        // outside it.
        message_ = "The connection to the database server was lost; the transaction was rolled back";
        lost_ = true;
        code = err::FileSystemError;
        return false;
    }
    code = connect();
    return code == 0;
}

int Connection::failed(pg_result* r) {
    const char* st = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    state_ = st ? st : "";
    // The connection is lost when libpq says so, but also when the failure has no SQL state: the
    // server never answered (libpq can report a closed socket before it marks the connection
    // bad). A session the server ends (class 57P: shut down, crashed, not accepting connections)
    // and any connection exception (class 08) are lost too.
    lost_ = !conn_ || PQstatus(conn_) != CONNECTION_OK || state_.empty() || state_.rfind("57P", 0) == 0 ||
            state_.rfind("08", 0) == 0;
    std::string text = r ? clipped(PQresultErrorMessage(r)) : std::string();
    if (text.empty() && conn_) text = clipped(PQerrorMessage(conn_));
    if (r) PQclear(r);
    if (lost_) {
        message_ = "The connection to the database server was lost: " + text;
        return err::FileSystemError;
    }
    message_ = text;
    return codeOfState(state_);
}

// A session that died while it was idle (the server stopped and started again between two
// requests) is found out only by the next statement. Outside a transaction a statement that only
// reads runs again on a new session; a write never does, since its answer may be all that was lost.
bool Connection::retryOnNewSession(int code, const std::string& sql) {
    if (code == 0 || !lost_ || inTransaction) return false;
    std::size_t i = sql.find_first_not_of(" \t\n");
    if (i == std::string::npos || sql.compare(i, 6, "SELECT") != 0) return false;
    return connect() == 0;
}

int Connection::run(const std::string& sql, const std::vector<Param>& params, Result* rows) {
    int code = runOnce(sql, params, rows);
    if (retryOnNewSession(code, sql)) code = runOnce(sql, params, rows);
    return code;
}

int Connection::exec(const std::string& sql) {
    int code = execOnce(sql);
    if (retryOnNewSession(code, sql)) code = execOnce(sql);
    return code;
}

int Connection::runOnce(const std::string& sql, const std::vector<Param>& params, Result* rows) {
    int code;
    if (!ensureOpen(code)) return code;
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
        std::string name = "s" + std::to_string(prepared_.size() + 1);
        PGresult* r = PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr);
        if (!r || PQresultStatus(r) != PGRES_COMMAND_OK) return failed(r);
        PQclear(r);
        it = prepared_.emplace(sql, name).first;
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
        values.push_back(p.value.c_str());
        lengths.push_back(static_cast<int>(p.value.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    PGresult* r = PQexecPrepared(conn_, it->second.c_str(), static_cast<int>(params.size()), values.data(),
                                 lengths.data(), formats.data(), 1);
    ExecStatusType s = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) return failed(r);
    if (rows)
        *rows = Result(r);
    else
        PQclear(r);
    return 0;
}

int Connection::execOnce(const std::string& sql) {
    int code;
    if (!ensureOpen(code)) return code;
    PGresult* r = PQexec(conn_, sql.c_str());
    ExecStatusType s = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) return failed(r);
    PQclear(r);
    return 0;
}

} // namespace sorv::pg
