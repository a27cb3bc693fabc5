// One connection to a PostgreSQL server, shared by the files a thread opens with the same
// connection string, and the statements run over it.
//
// Invariants:
// - A connection belongs to the thread that made it (Connection::forThread); the files of one
//   thread that name the same server share it, so that LOGOUT over several of them is one server
//   transaction. The program's runtime lock keeps two threads from ever using it at once.
// - Statements are prepared once per connection, under their text, and run with their
//   parameters; results of rows come back in binary so that record images are never converted.
// - Every failure leaves the server's own message in lastMessage() and answers an interface
//   error code: the SQL states that mean something to a program (a duplicate key, a lock not
//   available) map onto their codes, anything else is 90 with the message as the file error.
// - A broken connection is noticed, never followed: the failing call answers 90 with "lost"
//   set, and the next call outside a transaction connects again (statements are prepared anew;
//   holds and sharing locks of the old session are gone with it, as a dead station's are).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace sorv::pg {

// A statement parameter: text (the server converts it by the statement's cast) or bytes.
struct Param {
    std::string value;
    bool binary = false;

    static Param text(std::string v) { return Param{std::move(v), false}; }
    static Param bytes(std::string v) { return Param{std::move(v), true}; }
    static Param number(std::int64_t v) { return Param{std::to_string(v), false}; }
};

// The rows of one statement, in the binary format (integers in network order).
class Result {
public:
    Result() = default;
    explicit Result(pg_result* r) : r_(r) {}
    ~Result();
    Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
    Result& operator=(Result&& o) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    int rows() const;
    bool isNull(int row, int col) const;
    std::string_view bytes(int row, int col) const;
    // A binary int2, int4 or int8 column, or a bool.
    std::int64_t integer(int row, int col) const;

private:
    pg_result* r_ = nullptr;
};

class Connection {
public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The calling thread's connection for a connection string, made on first use. Answers null
    // with the code and message set when the server cannot be reached.
    static std::shared_ptr<Connection> forThread(const std::string& conninfo, int& code,
                                                 std::string& message);

    // Runs a statement with parameters ("$1"...). Rows are returned in binary. Answers 0 or an
    // interface error code.
    int run(const std::string& sql, const std::vector<Param>& params, Result* rows = nullptr);
    // Runs statements without parameters and without preparing them (DDL, BEGIN, COMMIT...).
    int exec(const std::string& sql);

    const std::string& lastMessage() const { return message_; }
    const std::string& lastState() const { return state_; }
    // The last failure was the loss of the connection.
    bool lost() const { return lost_; }
    // The server's encoding is used for texts as they are (no conversion).
    const std::string& conninfo() const { return conninfo_; }

    // The thread's server transaction (LOGOUT ... COMMIT/ROLLBACK), shared by its files.
    bool inTransaction = false;
    int transactionMembers = 0;
    bool transactionEnded = false;
    int transactionResult = 0;
    // Incremented at every new session, so that files can tell their locks were lost.
    std::uint64_t session = 0;

private:
    explicit Connection(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    int connect();
    int failed(pg_result* r);
    int runOnce(const std::string& sql, const std::vector<Param>& params, Result* rows);
    int execOnce(const std::string& sql);
    // Whether a failed statement runs again on a new session: the session was found dead, no
    // transaction was open on it, and the statement only reads.
    bool retryOnNewSession(int code, const std::string& sql);
    bool ensureOpen(int& code);

    std::string conninfo_;
    pg_conn* conn_ = nullptr;
    std::map<std::string, std::string, std::less<>> prepared_;
    std::string message_, state_;
    bool lost_ = false;
    int pid_ = 0; // the process that connected
};

// The interface code of a server error's SQL state (90 for anything without a meaning of its own).
int codeOfState(std::string_view sqlstate);

} // namespace sorv::pg
