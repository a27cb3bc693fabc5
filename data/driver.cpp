// The driver registry and the one road by which every operation reaches a driver (with tracing).
#include "data/driver.h"

#include "data/trace.h"
#include "runtime/errors.h"
#include "runtime/fileerror.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>

namespace sorv {

std::shared_ptr<Driver> makeAsciiDriver();
std::shared_ptr<Driver> makeDosDriver();
std::shared_ptr<Driver> makeQuarnellDriver();
std::shared_ptr<Driver> makePostgresDriver();

namespace {

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Driver>> drivers;
    bool builtins = false;
};

Registry& registry() {
    static Registry r;
    return r;
}

// The drivers of this library; a new driver of data/ adds its factory here.
void installBuiltins(Registry& r) {
    if (r.builtins) return;
    r.builtins = true;
    for (auto d : {makeAsciiDriver(), makeDosDriver(), makeQuarnellDriver(), makePostgresDriver()})
        r.drivers.emplace(upper(d->name()), d);
}

} // namespace

void registerDriver(std::shared_ptr<Driver> driver) {
    if (!driver) return;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    installBuiltins(r);
    r.drivers[upper(driver->name())] = std::move(driver);
}

Driver* findDriver(std::string_view name) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    installBuiltins(r);
    auto it = r.drivers.find(upper(name));
    return it == r.drivers.end() ? nullptr : it->second.get();
}

std::vector<std::string> driverNames() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    installBuiltins(r);
    std::vector<std::string> names;
    for (auto& [n, d] : r.drivers) names.push_back(n);
    return names;
}

int callDriver(int operation, FileDecl& file, OpArgs& args) {
    Driver* d = file.boundDriver;
    // Names are compared case aside in place: this runs for every record a file statement reads.
    auto sameName = [](std::string_view a, std::string_view b) {
        return a == b ||
               (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                    return std::toupper(static_cast<unsigned char>(x)) ==
                           std::toupper(static_cast<unsigned char>(y));
                }));
    };
    if (!d || !sameName(d->name(), file.driver)) {
        d = findDriver(file.driver);
        file.boundDriver = d;
    }
    if (!d) return err::InvalidRecordDeclaration;
    clearPendingFileErrorText(); // a text left by an earlier call that nobody took is not this one's

    // Trace settings are read afresh on every open, so a changed profile takes effect at the
    // next opening of a file.
    if (operation == op::OPEN || operation == op::SHARE) {
        if (!file.isOpen()) file.trace = openTrace(d->name(), file);
    }
    std::shared_ptr<TraceLog> trace = file.trace;
    if (!trace) return d->call(operation, file, args);

    std::int64_t start = traceClock();
    int code = d->call(operation, file, args);
    trace->logOperation(operation, file, args, code, traceClock() - start);
    if (operation == op::CLOSE && code == 0) file.trace.reset();
    return code;
}

void setErrorFrom(int code, const OpArgs& args) {
    if (code == err::FileSystemError)
        setFileError(args.systemError ? args.systemError : 91);
    else
        setError(code);
}

int systemFailure(OpArgs& args, int posixErrno) {
    args.systemError = fileSystemCodeOf(posixErrno);
    return err::FileSystemError;
}

bool opensClosedFile(int o) {
    return o == op::OPEN || o == op::CREATE || o == op::SHARE || o == op::NAME || o == op::REMOVE ||
           o == op::RENAME || o == op::COPY || o == op::SEND || o == op::QUERY_VIEW;
}

} // namespace sorv
