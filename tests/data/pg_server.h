// A throw-away PostgreSQL server for the tests: a cluster made by initdb in a temporary folder,
// served by pg_ctl on a Unix socket in that folder only (no TCP), as the unprivileged user
// "nobody" when the tests run as root (the server refuses to run as root). One server per test
// program, started on first use and stopped, with its folder removed, when the program ends,
// whether its tests passed or not. (The benchmarks use it too; SORV_NEED_PG_SERVER is for tests.)
#pragma once
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace sorvtest {

class PgServer {
public:
    // The server of this test program, started on first use; null (with the reason) when the
    // server's programs are not installed or it does not start.
    static PgServer* instance(std::string* why = nullptr) {
        static std::unique_ptr<PgServer> server = [] {
            auto s = std::unique_ptr<PgServer>(new PgServer);
            if (!s->start()) s->failed_ = true;
            return s;
        }();
        if (server->failed_) {
            if (why) *why = server->why_;
            return nullptr;
        }
        return server.get();
    }
    // Whether instance() failed only because the programs are missing (a skip, not a failure).
    static bool missing() { return bindir() == "-"; }

    ~PgServer() { stop(); }

    // The libpq connection string of the server's database.
    std::string conninfo() const { return "host=" + dir_ + " port=5432 user=sorv dbname=postgres"; }
    const std::string& folder() const { return dir_; }

    // Stops the server at once (as a crash or a pulled cable would end it), and starts it again.
    bool kill() { return run(ctl() + " -D " + dir_ + "/data -m immediate -w stop >/dev/null 2>&1") == 0; }
    bool restart() { return startServer(); }

private:
    PgServer() = default;

    static std::string bindir() {
        if (std::system("command -v initdb >/dev/null 2>&1") == 0 &&
            std::system("command -v pg_ctl >/dev/null 2>&1") == 0)
            return "";
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
            std::string b = e.path().string() + "/bin/";
            if (std::filesystem::exists(b + "initdb") && std::filesystem::exists(b + "pg_ctl")) return b;
        }
        return "-";
    }

    std::string ctl() const { return bin_ + "pg_ctl"; }

    // Runs a command as the server's user.
    int run(const std::string& command) const {
        std::string c = ::geteuid() == 0 ? "runuser -u nobody -- sh -c '" + command + "'" : command;
        return std::system(c.c_str());
    }

    bool start() {
        bin_ = bindir();
        if (bin_ == "-") {
            why_ = "the PostgreSQL server programs (initdb, pg_ctl) are not installed";
            return false;
        }
        std::string t = (std::filesystem::temp_directory_path() / "sorvpg-XXXXXX").string();
        if (!::mkdtemp(t.data())) {
            why_ = "no temporary folder";
            return false;
        }
        dir_ = t;
        if (::geteuid() == 0 && ::chown(dir_.c_str(), 65534, 65534) != 0) {
            why_ = "cannot give the server's folder to nobody";
            return false;
        }
        if (run(bin_ + "initdb -D " + dir_ + "/data -A trust -U sorv -E SQL_ASCII --locale=C --no-sync >" +
                dir_ + "/initdb.log 2>&1") != 0) {
            why_ = "initdb failed (see " + dir_ + "/initdb.log)";
            return false;
        }
        return startServer();
    }

    bool startServer() {
        std::string opts = "-c listen_addresses= -c unix_socket_directories=" + dir_ +
                           " -c fsync=off -c full_page_writes=off -c max_connections=40";
        if (run(ctl() + " -D " + dir_ + "/data -l " + dir_ + "/server.log -w -o \"" + opts +
                "\" start >/dev/null") != 0) {
            why_ = "the server did not start (see " + dir_ + "/server.log)";
            return false;
        }
        started_ = true;
        return true;
    }

    void stop() {
        if (dir_.empty() || ::getpid() != owner_) return;
        if (started_) run(ctl() + " -D " + dir_ + "/data -m immediate -w stop >/dev/null 2>&1");
        started_ = false;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        dir_.clear();
    }

    std::string bin_, dir_, why_;
    bool started_ = false, failed_ = false;
    pid_t owner_ = ::getpid();
};

// The server, or a skipped test saying why there is none.
#define SORV_NEED_PG_SERVER(var)                                                                             \
    std::string var##Why;                                                                                    \
    sorvtest::PgServer* var = sorvtest::PgServer::instance(&var##Why);                                       \
    if (!var && sorvtest::PgServer::missing()) GTEST_SKIP() << var##Why;                                     \
    if (!var) FAIL() << var##Why

} // namespace sorvtest
