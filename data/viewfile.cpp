// ViewTable over the file statements of a declared file.
#include "data/viewfile.h"

#include "data/driver.h"
#include "data/fileops.h"
#include "data/files.h"
#include "data/querydriver.h"
#include "data/scandriver.h"
#include "runtime/errors.h"

#include <cctype>
#include <sys/stat.h>

namespace sorv {

FileViewTable::FileViewTable(FileDecl& file) : file_(file) {
    for (const KeyDecl& k : file.keys) {
        ViewKey v;
        v.label = k.label;
        for (const KeyComponent& c : k.components) v.components.push_back({c.field, c.descending});
        v.noCase = k.noCase();
        v.duplicates = k.dup();
        v.primary = k.primary();
        v.optional = k.opt();
        keys_.push_back(std::move(v));
    }
}

QueryDriver* FileViewTable::queries() {
    Driver* d = file_.boundDriver ? file_.boundDriver : findDriver(file_.driver);
    return dynamic_cast<QueryDriver*>(d);
}

namespace {
// The answer of a query call as the current error.
int answered(int code, const OpArgs& args) {
    setErrorFrom(code, args);
    return code;
}
} // namespace

bool FileViewTable::takeQuery(const std::vector<QueryItem>& order, const Expression* filter) {
    QueryDriver* q = queries();
    return q && file_.isOpen() && q->takeQuery(file_, order, filter);
}

int FileViewTable::setQueryFrom(const std::vector<Value>& leading) {
    QueryDriver* q = queries();
    OpArgs a;
    return answered(q ? q->querySetFrom(file_, leading, a) : err::UnsupportedFunction, a);
}

std::int64_t FileViewTable::queryRecords() {
    QueryDriver* q = queries();
    OpArgs a;
    std::int64_t n = -1;
    int rc = answered(q ? q->queryRecords(file_, n, a) : err::UnsupportedFunction, a);
    return rc == 0 ? n : -1;
}

int FileViewTable::setStart(int order) {
    if (order == QueryOrder) {
        QueryDriver* q = queries();
        OpArgs a;
        return answered(q ? q->querySet(file_, a) : err::UnsupportedFunction, a);
    }
    if (order < 0)
        set(file_);
    else
        setKey(file_, order);
    return errorCode();
}

int FileViewTable::setFromBuffer(int key) {
    setKeyValue(file_, key);
    return errorCode();
}

int FileViewTable::next() {
    sorv::next(file_);
    return errorCode();
}

int FileViewTable::previous() {
    sorv::previous(file_);
    return errorCode();
}

std::string FileViewTable::position(int order) {
    if (order == QueryOrder) {
        QueryDriver* q = queries();
        OpArgs a;
        std::string p;
        answered(q ? q->queryPosition(file_, p, a) : err::UnsupportedFunction, a);
        return p;
    }
    return order < 0 ? sorv::position(file_) : sorv::position(file_, order);
}

int FileViewTable::reset(int order, std::string_view pos) {
    if (order == QueryOrder) {
        QueryDriver* q = queries();
        OpArgs a;
        return answered(q ? q->queryReset(file_, pos, a) : err::UnsupportedFunction, a);
    }
    if (order < 0)
        sorv::reset(file_, std::string(pos));
    else
        sorv::reset(file_, order, std::string(pos));
    return errorCode();
}

std::uint64_t FileViewTable::pointer() {
    return sorv::pointer(file_);
}

int FileViewTable::fetch(std::uint64_t ptr) {
    if (ptr == 0 || ptr > 0xFFFFFFFFull) return err::RecordNotFound;
    getPointer(file_, static_cast<std::uint32_t>(ptr));
    return errorCode();
}

int FileViewTable::getByKey(int key, int components) {
    const ViewKey& k = keys_[static_cast<std::size_t>(key)];
    if (components >= static_cast<int>(k.components.size())) {
        get(file_, key);
        return errorCode();
    }
    // A partial key value: start the key at the leading values and check the first record.
    Record want = file_.record;
    setKeyValue(file_, key);
    if (errorCode()) return errorCode();
    sorv::next(file_);
    if (errorCode()) return errorCode() == err::RecordNotAvailable ? err::RecordNotFound : errorCode();
    for (int i = 0; i < components; ++i) {
        const FieldDesc& f =
            file_.layout().field(static_cast<std::size_t>(k.components[static_cast<std::size_t>(i)].field));
        Value a = readField(f, file_.buffer()), b = readField(f, want.buffer());
        if (k.noCase && a.isText()) {
            std::string x = a.text(), y = b.text();
            for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            a = Value(x);
            b = Value(y);
        }
        if (compare(a, b) != 0) {
            setError(err::RecordNotFound);
            return err::RecordNotFound;
        }
    }
    return 0;
}

std::int64_t FileViewTable::records() {
    return sorv::records(file_);
}

std::int64_t FileViewTable::keyRecords(int key) {
    return sorv::records(file_, key);
}

std::uint64_t FileViewTable::changeStamp() {
    // A server's table has no file to look at: its driver tells.
    if (QueryDriver* q = queries()) return q->changeStamp(file_);
    // A driver that keeps writes apart from the file (in a log) tells; else the file itself.
    Driver* d = file_.boundDriver ? file_.boundDriver : findDriver(file_.driver);
    if (auto* bulk = dynamic_cast<ScanDriver*>(d)) return bulk->changeStamp(file_);
    return fileStamp(file_.fileName());
}

int FileViewTable::scan(const std::function<bool(std::uint64_t pointer)>& each) {
    Driver* d = file_.boundDriver ? file_.boundDriver : findDriver(file_.driver);
    auto* bulk = dynamic_cast<ScanDriver*>(d);
    if (!bulk || !file_.isOpen()) return ViewTable::scan(each);
    OpArgs a;
    return answered(bulk->scanRecords(file_, each, a), a);
}

int FileViewTable::scanKeyRanges(int key, const KeyRanges& ranges,
                                 const std::function<bool(std::size_t range, std::uint64_t pointer)>& each) {
    Driver* d = file_.boundDriver ? file_.boundDriver : findDriver(file_.driver);
    auto* bulk = dynamic_cast<ScanDriver*>(d);
    if (!bulk || !file_.isOpen()) return ViewTable::scanKeyRanges(key, ranges, each);
    OpArgs a;
    return answered(bulk->scanKeyRanges(file_, key, ranges, each, a), a);
}

int FileViewTable::put() {
    sorv::put(file_);
    return errorCode();
}

int FileViewTable::remove() {
    deleteRecord(file_);
    return errorCode();
}

int FileViewTable::hold(int seconds) {
    if (seconds < 0)
        sorv::hold(file_);
    else
        sorv::hold(file_, seconds);
    return errorCode();
}

int FileViewTable::release() {
    sorv::release(file_);
    return errorCode();
}

int FileViewTable::watch() {
    sorv::watch(file_);
    return errorCode();
}

int FileViewTable::viewOperation(int operation, std::uint64_t viewId) {
    OpArgs args;
    args.viewId = static_cast<std::uintptr_t>(viewId);
    return callDriver(operation, file_, args);
}

} // namespace sorv
