// sorvtool db copy FROM TO: a table copied between a native file and a database server (either
// way, or between two of a kind), its declaration and its records, so that a user moves the
// program's tables to a server with one command and back. The target is made new (an existing
// one is never replaced) and filled in one transaction; on any failure it is removed again.
//
// A native table is a path (".QNL" by default); a server table is "postgresql:CONNECTION#TABLE",
// CONNECTION a libpq connection string ("host=db dbname=demo", or a URI "postgresql://db/demo").
#include "data/files.h"
#include "data/pg/pgdriver.h"
#include "data/qnl/qnldriver.h"
#include "data/qnl/table.h"
#include "runtime/errors.h"
#include "tools/command.h"

#include <cctype>
#include <iostream>

namespace sorvtool {

namespace {

using namespace sorv;

struct Place {
    std::string driver, options, name;
};

// Where a location names a table.
Place placeOf(const std::string& text) {
    Place p;
    std::string lower;
    for (char c : text.substr(0, 11)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t colon = lower.rfind("postgresql:", 0) == 0 ? 11 : lower.rfind("postgres:", 0) == 0 ? 9 : 0;
    auto hash = text.rfind('#');
    if (colon == 0 || hash == std::string::npos || hash < colon) {
        p.driver = qnl::DriverName;
        p.name = text;
        return p;
    }
    p.driver = "POSTGRESQL";
    p.name = text.substr(hash + 1);
    // A URI keeps its scheme; a key=value string is what follows the prefix.
    p.options = text.compare(colon, 2, "//") == 0 ? text.substr(0, hash) : text.substr(colon, hash - colon);
    return p;
}

std::string describe(int rc) {
    std::string t = errorCode() == rc ? error() : std::string(errorText(rc));
    if (rc == err::FileSystemError && !fileError().empty()) t += ": " + fileError();
    return t.empty() ? "error " + std::to_string(rc) : t;
}

int failure(const std::string& what) {
    std::cerr << "sorvtool: " << what << "\n";
    return 1;
}

// The declaration the source keeps, bound to the source.
std::optional<FileDecl> sourceOf(const Place& p, std::string& why) {
    std::optional<FileDecl> d;
    if (p.driver == "POSTGRESQL") {
        int code = 0;
        d = pg::storedDeclarationOf(p.options, p.name, code, why);
        if (!d) {
            why = std::string(errorText(code)) + (why.empty() ? "" : ": " + why);
            return std::nullopt;
        }
    } else {
        qnl::Table t;
        std::string path = qnl::withDefaultExtension(p.name);
        if (int rc = t.open(path, true)) {
            why = describe(rc);
            return std::nullopt;
        }
        const qnl::Schema& s = t.schema();
        d.emplace();
        d->label = s.label;
        d->keys = s.keys;
        d->memos = s.memos;
        d->record.setLayout(s.layout);
    }
    d->driver = p.driver;
    d->driverOptions = p.options;
    d->name = p.name;
    d->attributes = fileattr::Create;
    d->memoValues.assign(d->memos.size(), std::string());
    return d;
}

int runCopy(const Args& a) {
    if (a.size() != 2) return usageError("usage: sorvtool db copy FROM TO");
    Place from = placeOf(a[0]), to = placeOf(a[1]);
    std::string why;
    auto source = sourceOf(from, why);
    if (!source) return failure("cannot read " + a[0] + ": " + why);
    FileDecl& in = *source;
    open(in, openmode::ReadOnly | openmode::DenyWrite);
    if (errorCode()) return failure("cannot open " + a[0] + ": " + describe(errorCode()));

    FileDecl out = in.clone();
    out.driver = to.driver;
    out.driverOptions = to.options;
    out.name = to.name;
    out.attributes = fileattr::Create;
    open(out, openmode::ReadOnly | openmode::DenyNone);
    if (errorCode() == 0) {
        close(out);
        close(in);
        return failure(a[1] + " exists already; it is not replaced");
    }
    if (errorCode() != err::FileNotFound) {
        int rc = errorCode();
        close(in);
        return failure("cannot reach " + a[1] + ": " + describe(rc));
    }
    create(out);
    if (errorCode()) {
        int rc = errorCode();
        close(in);
        return failure("cannot make " + a[1] + ": " + describe(rc));
    }
    open(out, openmode::ReadWrite | openmode::DenyAll);
    int rc = errorCode();
    std::int64_t copied = 0;
    bool inTransaction = false;
    if (rc == 0) {
        logout(0, {&out});
        rc = errorCode();
        inTransaction = rc == 0;
    }
    for (set(in); rc == 0;) {
        next(in);
        if (errorCode() == err::RecordNotAvailable) break;
        if ((rc = errorCode())) break;
        std::copy(in.buffer().begin(), in.buffer().end(), out.buffer().begin());
        out.memoValues = in.memoValues;
        add(out);
        rc = errorCode();
        ++copied;
    }
    std::string what = rc ? describe(rc) : std::string();
    if (inTransaction) {
        if (rc == 0) {
            commit();
            if ((rc = errorCode())) what = describe(rc);
        } else {
            rollback();
        }
    }
    close(in);
    if (out.isOpen()) close(out);
    if (rc) {
        remove(out); // nothing half made stays behind
        return failure("copying " + a[0] + " to " + a[1] + " failed: " + what);
    }
    std::cout << copied << " records copied\n";
    return 0;
}

} // namespace

int runDbCopy(const Args& a) {
    return runCopy(a);
}

} // namespace sorvtool
