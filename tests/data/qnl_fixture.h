// Shared set-up of the native file tests: the People and Customer declarations and a temporary
// directory that is removed afterwards.
#pragma once
#include "data/qnl/table.h"
#include "runtime/field.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qnltest {

using namespace sorv;
using namespace sorv::qnl;

inline Schema peopleSchema() {
    Schema s;
    s.label = "People";
    s.prefix = "PPL";
    s.layout.add("PPL:SysId", FieldType::Long);
    s.layout.add("PPL:LastName", FieldType::String, 20);
    s.layout.add("PPL:FirstName", FieldType::String, 20);
    s.layout.add("PPL:Phone", FieldType::String, 10);
    s.layout.add("PPL:DoB", FieldType::Long);
    s.layout.add("PPL:Male", FieldType::Byte);
    s.layout.add("PPL:YearHired", FieldType::String, 4);
    s.layout.addDecimal("PPL:Salary", 7, 0);
    KeyDecl k;
    k.label = "PPL:SysIdKey";
    k.components = {{0, false}};
    k.flags = keyflag::Dup | keyflag::Opt | keyflag::NoCase;
    s.keys.push_back(k);
    return s;
}

inline Schema customerSchema() {
    Schema s;
    s.label = "Customer";
    s.prefix = "CUST";
    s.layout.add("CUST:SysId", FieldType::Long);
    s.layout.add("CUST:Company", FieldType::String, 30);
    s.layout.add("CUST:Address1", FieldType::String, 20);
    s.layout.add("CUST:Address2", FieldType::String, 20);
    s.layout.add("CUST:City", FieldType::String, 20);
    s.layout.add("CUST:PostalZipCode", FieldType::String, 12);
    s.layout.add("CUST:Country", FieldType::String, 20);
    const char* names[] = {"CUST:KeySysId", "CUST:KeyCompany", "CUST:KeyCity", "CUST:KeyPostalZipCode",
                           "CUST:KeyCountry"};
    int fields[] = {0, 1, 4, 5, 6};
    for (int i = 0; i < 5; ++i) {
        KeyDecl k;
        k.label = names[i];
        k.components = {{fields[i], false}};
        k.flags = i == 0 ? keyflag::Opt | keyflag::NoCase | keyflag::Primary : keyflag::Dup | keyflag::NoCase;
        s.keys.push_back(k);
    }
    return s;
}

class TempDir {
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}
    // In a directory of one's choice (a memory file system for tests that only count writes).
    explicit TempDir(const std::string& base) {
        std::string t = base + "/qnltestXXXXXX";
        path_ = ::mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A record of a layout with fields set by name.
inline RecordData makeRecord(const Schema& s, std::initializer_list<std::pair<const char*, Value>> values) {
    Record r(s.layout);
    for (auto& [name, v] : values) r.set(name, v);
    RecordData d;
    d.bytes.assign(r.buffer().begin(), r.buffer().end());
    return d;
}

inline Value field(const Schema& s, const RecordData& d, const char* name) {
    int i = s.layout.find(name);
    return readField(s.layout.field(static_cast<std::size_t>(i)), d.bytes);
}

} // namespace qnltest
