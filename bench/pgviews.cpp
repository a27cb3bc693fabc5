// Browse pages over the People table on a local PostgreSQL server through the server driver and the
// view engine, against the same queries sent as prepared statements straight through libpq in the
// same run. Cases: key order, a filter (surnames beginning with H, one in twenty) and a non-key
// order (which the server runs with an index the driver made for it); pages: the first page, the
// next page from a page's last row, and End (the last page). Driver and libpq take turns page by
// page; each measurement is the median of three rounds (a round: the median page); the table prints the
// driver/libpq ratios and the driver's 1,000,000/1,000 ratios.
//
// The server is a throw-away one made in a temporary folder (initdb, pg_ctl), or the one named by
// SORV_BENCH_PG (a libpq connection string).
#include "app/demodata.h"
#include "app/dictionary.h"
#include "data/files.h"
#include "data/pg/shape.h"
#include "data/view.h"
#include "data/viewfile.h"
#include "runtime/errors.h"
#include "tests/data/pg_server.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace sorv;

namespace {

constexpr int Page = 20;
constexpr int Batch = 32; // the driver's first batch: the libpq side asks for as many rows
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "pgviews: %s\n", what.c_str());
    std::exit(1);
}

std::string copyText(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '\t' || c == '\n' || c == '\r') out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c;
    }
    return out;
}

// One table of `records` people, made by the driver (declaration, indexes) and filled by COPY.
struct Table {
    int records;
    FileDecl file;
    std::unique_ptr<FileViewTable> view;

    Table(const std::string& conninfo, int n) : records(n) {
        app::TableStore store{"POSTGRESQL", conninfo};
        file = app::makePeopleFile(store);
        file.name = "people_" + std::to_string(n);
        // A table of an earlier run on the same server is used again.
        share(file);
        if (errorCode() == 0 && sorv::records(file) == n) {
            view = std::make_unique<FileViewTable>(file);
            return;
        }
        if (file.isOpen()) close(file);
        create(file);
        if (errorCode()) fail("create: " + error() + " " + fileError());
        pg::Shape shape;
        std::string why;
        shape.make(file, why);
        PGconn* c = PQconnectdb(conninfo.c_str());
        if (PQstatus(c) != CONNECTION_OK) fail(PQerrorMessage(c));
        std::string cols = "ver, rec";
        for (const pg::Column& col : shape.columns) cols += ", " + col.name;
        PGresult* r = PQexec(c, ("COPY " + shape.table + " (" + cols + ") FROM STDIN").c_str());
        if (PQresultStatus(r) != PGRES_COPY_IN) fail(PQerrorMessage(c));
        PQclear(r);
        app::DemoGenerator gen(20261207);
        Record& rec = file.record;
        std::string chunk;
        static const char* hexdigits = "0123456789abcdef";
        for (int i = 0; i < n; ++i) {
            gen.person(rec, 1 + static_cast<std::int32_t>(
                                    gen.below(static_cast<std::uint32_t>(std::max(1, n / 7)))));
            chunk += std::to_string(i + 1) + "\t\\\\x";
            for (std::uint8_t b : rec.buffer()) {
                chunk += hexdigits[b >> 4];
                chunk += hexdigits[b & 15];
            }
            for (const pg::Column& col : shape.columns)
                chunk += "\t" + copyText(shape.columnValue(col, rec.buffer()));
            chunk += "\n";
            if (chunk.size() > (1 << 20) || i == n - 1) {
                if (PQputCopyData(c, chunk.data(), static_cast<int>(chunk.size())) != 1)
                    fail(PQerrorMessage(c));
                chunk.clear();
            }
        }
        if (PQputCopyEnd(c, nullptr) != 1) fail(PQerrorMessage(c));
        r = PQgetResult(c);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) fail(PQerrorMessage(c));
        PQclear(r);
        PQclear(PQexec(
            c, ("SELECT setval('" + shape.stamp + "', " + std::to_string(n) + "); ANALYZE " + shape.table)
                   .c_str()));
        PQfinish(c);
        share(file);
        if (errorCode()) fail("open: " + error() + " " + fileError());
        view = std::make_unique<FileViewTable>(file);
    }
    ~Table() { close(file); }
};

// A case as the view's order and filter, and as the statements the driver sends for it: the first
// rows, the rows after a row (its order values and rid as parameters), and the last rows.
struct Case {
    const char* name;
    const char* order;
    const char* filter;
    std::string select, where, forward, backward, after;
    int values; // order values bound before the rid
};

std::vector<Case> cases() {
    std::string sel = "SELECT rid, ver, rec";
    return {
        {"KeyOrder", "PPL:SysId", "", sel, "(sysid <> 0)", "sysid, rid", "sysid DESC, rid DESC",
         "(sysid, rid) > ($1::integer, $2::bigint)", 1},
        {"Filter", "PPL:SysId", "SUB(UPPER(PPL:LastName),1,1) = 'H'", sel + ", (sysid)::text AS sorv_v0",
         "(rtrim(substr(upper(lastname), 1, 1), ' ') = 'H'::text)", "sysid, rid", "sysid DESC, rid DESC",
         "(sysid, rid) > ($1::integer, $2::bigint)", 1},
        {"NonKeyOrder", "UPPER(PPL:FirstName),-PPL:Salary", "",
         sel + ", (upper(firstname))::text AS sorv_v0, (salary)::text AS sorv_v1", "",
         "upper(firstname), salary DESC, rid", "upper(firstname) DESC, salary, rid DESC",
         "upper(firstname) >= $1::text AND ((upper(firstname) > $1::text) OR (upper(firstname) = $1::text "
         "AND "
         "salary < $2::numeric) OR (upper(firstname) = $1::text AND salary = $2::numeric AND rid > "
         "$3::bigint))",
         2},
    };
}

// The libpq side: the same statements, prepared once, rows read as the driver reads them.
class Direct {
public:
    Direct(const std::string& conninfo, const std::string& table, const Case& c) : c_(c) {
        conn_ = PQconnectdb(conninfo.c_str());
        if (PQstatus(conn_) != CONNECTION_OK) fail(PQerrorMessage(conn_));
        auto prepare = [&](const char* name, const std::string& cond, const std::string& order) {
            std::string w = c.where;
            if (!cond.empty()) w = w.empty() ? cond : w + " AND " + cond;
            std::string sql = c.select + " FROM \"" + table + "\"" + (w.empty() ? "" : " WHERE " + w) +
                              " ORDER BY " + order + " LIMIT " + std::to_string(Batch);
            PGresult* r = PQprepare(conn_, name, sql.c_str(), 0, nullptr);
            if (PQresultStatus(r) != PGRES_COMMAND_OK) fail(sql + ": " + PQerrorMessage(conn_));
            PQclear(r);
        };
        prepare("first", "", c.forward);
        prepare("last", "", c.backward);
        prepare("after", c.after, c.forward);
    }
    ~Direct() { PQfinish(conn_); }

    // first, the page after the last one read, or the last page.
    void page(const char* which) {
        std::vector<const char*> values;
        for (const std::string& p : params_) values.push_back(p.c_str());
        bool after = std::string(which) == "after";
        PGresult* r = PQexecPrepared(conn_, which, after ? static_cast<int>(values.size()) : 0,
                                     after ? values.data() : nullptr, nullptr, nullptr, 1);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) fail(PQerrorMessage(conn_));
        int rows = std::min(PQntuples(r), Page);
        std::uint64_t sum = 0;
        for (int i = 0; i < rows; ++i) sum += static_cast<unsigned char>(PQgetvalue(r, i, 2)[0]);
        if (rows > 0) {
            // The next page starts after the page's last row: its order values and rid.
            params_.clear();
            int last = rows - 1;
            for (int v = 0; v < c_.values; ++v)
                params_.emplace_back(PQnfields(r) > 3 + v ? PQgetvalue(r, last, 3 + v)
                                                          : std::to_string(sysid(r, last)));
            params_.push_back(std::to_string(bigEndian(PQgetvalue(r, last, 0), PQgetlength(r, last, 0))));
        }
        sink_ += sum;
        PQclear(r);
    }
    void restart() { params_.clear(); }

private:
    static std::int64_t bigEndian(const char* p, int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
        return static_cast<std::int64_t>(v);
    }
    // PPL:SysId is the record's first field, a LONG (little endian).
    static std::int32_t sysid(PGresult* r, int row) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, 2));
        return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 |
                                         static_cast<std::uint32_t>(p[3]) << 24);
    }
    PGconn* conn_;
    const Case& c_;
    std::vector<std::string> params_;
    std::uint64_t sink_ = 0;
};

// A browse's pages through the view.
std::string viewPage(View& v, const std::string& from, bool forward) {
    if (from.empty()) {
        v.set();
    } else {
        v.reset(from);
        if (v.next() != 0) return {};
    }
    int n = 0;
    while (n < Page && (forward ? v.next() : v.previous()) == 0) ++n;
    return n == Page ? v.position() : std::string();
}

double median3(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timing {
    double driver = 0, direct = 0; // seconds per page
};

// Runs `iterations` pages of one kind through the view and the same through libpq, three rounds.
Timing measure(Table& t, const Case& c, const std::string& conninfo, const char* kind, int iterations) {
    View v(*t.view, ViewTraceSettings{});
    if (!v.setOrder(c.order) || !v.setFilter(c.filter) || v.open() != 0) fail(std::string("view ") + c.name);
    Direct d(conninfo, t.file.fileName(), c);
    std::string k = kind;
    std::vector<double> drv, dir;
    std::string pos = k == "Next" ? viewPage(v, {}, true) : std::string();
    if (k == "Next") d.page("first");
    // Page by page, the two sides take turns; a round's time is the median of its pages (the
    // machine's other work lands on single pages, not on one side).
    for (int round = 0; round < 3; ++round) {
        std::vector<double> a, b;
        for (int i = 0; i < iterations; ++i) {
            auto t0 = Clock::now();
            if (k == "First") {
                v.setOrder(c.order); // a new order, as after a header click
                v.setFilter(c.filter);
                viewPage(v, {}, true);
            } else if (k == "Next") {
                pos = viewPage(v, pos, true);
                if (pos.empty()) pos = viewPage(v, {}, true);
            } else {
                viewPage(v, {}, false); // End: the last page, read backwards from the end
            }
            auto t1 = Clock::now();
            if (k == "First") {
                d.restart();
                d.page("first");
            } else if (k == "Next") {
                d.page("after");
            } else {
                d.page("last");
            }
            auto t2 = Clock::now();
            a.push_back(std::chrono::duration<double>(t1 - t0).count());
            b.push_back(std::chrono::duration<double>(t2 - t1).count());
        }
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        drv.push_back(a[a.size() / 2]);
        dir.push_back(b[b.size() / 2]);
    }
    v.close();
    return {median3(drv), median3(dir)};
}

} // namespace

int main() {
    ::setenv("SORVDEMO_DESKTOP_PROFILE", "/nonexistent/sorvbench-desktop.ini", 1);
    std::string conninfo;
    if (const char* env = std::getenv("SORV_BENCH_PG")) {
        conninfo = env;
    } else {
        std::string why;
        auto* server = sorvtest::PgServer::instance(&why);
        if (!server) fail(why);
        conninfo = server->conninfo();
    }
    const int sizes[] = {1000, 1000000};
    const char* kinds[] = {"First", "Next", "End"};
    std::map<std::string, Timing> results;
    for (int n : sizes) {
        auto t0 = Clock::now();
        Table t(conninfo, n);
        std::fprintf(stderr, "%d people loaded in %.1f s\n", n,
                     std::chrono::duration<double>(Clock::now() - t0).count());
        const char* only = std::getenv("SORV_BENCH_CASE"); // one case, for a closer look
        for (const Case& c : cases()) {
            if (only && std::string(only) != c.name) continue;
            // The first query of a non-key order makes its index; that is not a page's cost.
            measure(t, c, conninfo, "First", 1);
            for (const char* k : kinds)
                results[std::string(c.name) + "/" + k + "/" + std::to_string(n)] =
                    measure(t, c, conninfo, k, 50);
        }
    }
    std::printf("%-12s %-6s %9s %11s %11s %8s %12s\n", "case", "page", "records", "driver_us", "libpq_us",
                "ratio", "1M/1k");
    for (const Case& c : cases()) {
        for (const char* k : kinds) {
            const Timing& small = results[std::string(c.name) + "/" + k + "/1000"];
            for (int n : sizes) {
                const Timing& r = results[std::string(c.name) + "/" + k + "/" + std::to_string(n)];
                std::printf("%-12s %-6s %9d %11.1f %11.1f %8.2f", c.name, k, n, r.driver * 1e6,
                            r.direct * 1e6, r.driver / r.direct);
                if (n == 1000000) std::printf(" %12.2f", r.driver / small.driver);
                std::printf("\n");
            }
        }
    }
    return 0;
}
