// The view engine's access to a declared file: a ViewTable over a FileDecl that issues the
// ordinary file statements and the view operations to the file's driver.
#pragma once
#include "data/filedecl.h"
#include "data/view.h"

namespace sorv {

class FileViewTable : public ViewTable {
public:
    explicit FileViewTable(FileDecl& file);

    std::string label() const override { return file_.label; }
    Record& record() override { return file_.record; }
    const std::vector<ViewKey>& keys() const override { return keys_; }

    int setStart(int order) override;
    int setFromBuffer(int key) override;
    int next() override;
    int previous() override;
    std::string position(int order) override;
    int reset(int order, std::string_view position) override;
    std::uint64_t pointer() override;
    int fetch(std::uint64_t pointer) override;
    int getByKey(int key, int components) override;
    std::int64_t records() override;
    std::int64_t keyRecords(int key) override;
    // The file's modification time, size and identity on disk: writes by this process and by
    // others all move it.
    std::uint64_t changeStamp() override;
    // In bulk where the file's driver can (scandriver.h), else record by record.
    int scan(const std::function<bool(std::uint64_t pointer)>& each) override;
    int scanKeyRanges(int key, const KeyRanges& ranges,
                      const std::function<bool(std::size_t range, std::uint64_t pointer)>& each) override;
    int put() override;
    int remove() override;
    int hold(int seconds) override;
    int release() override;
    int watch() override;
    int viewOperation(int op, std::uint64_t viewId) override;
    // Query mode, for files whose driver runs queries itself (querydriver.h).
    bool takeQuery(const std::vector<QueryItem>& order, const Expression* filter) override;
    int setQueryFrom(const std::vector<Value>& leading) override;
    std::int64_t queryRecords() override;

    FileDecl& file() { return file_; }

private:
    class QueryDriver* queries();

    FileDecl& file_;
    std::vector<ViewKey> keys_;
};

} // namespace sorv
