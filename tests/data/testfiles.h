// Helpers of the data tests: a temporary directory of real files and declarations of the files
// the tests use.
#pragma once
#include "data/filedecl.h"
#include "runtime/errors.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sorvtest {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sorvdata-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A field of a declared file: its name, type and size (a string's length, a decimal's digits).
struct TestField {
    std::string name;
    sorv::FieldType type;
    std::uint32_t size = 0;
};

// A key of a declared file.
struct TestKey {
    std::string label;
    std::vector<sorv::KeyComponent> components;
    std::uint8_t flags = 0;
};

// A file of these fields and keys on `driver` at `path`, created when missing.
inline sorv::FileDecl declareFile(const std::string& label, const std::string& driver,
                                  const std::string& path, const std::vector<TestField>& fields,
                                  const std::vector<TestKey>& keys = {},
                                  std::uint8_t attributes = sorv::fileattr::Create) {
    sorv::FileDecl f;
    f.label = label;
    f.driver = driver;
    f.name = path;
    f.attributes = attributes;
    sorv::Layout l;
    for (const TestField& field : fields) l.add(field.name, field.type, field.size);
    f.record.setLayout(l);
    for (const TestKey& k : keys) {
        sorv::KeyDecl d;
        d.label = k.label;
        d.components = k.components;
        d.flags = k.flags;
        f.keys.push_back(d);
    }
    return f;
}

// A file of one STRING field, as the export and the text windows declare theirs.
inline sorv::FileDecl lineFile(const std::string& driver, const std::string& path, std::uint32_t size,
                               std::uint8_t attributes = sorv::fileattr::Create) {
    return declareFile("TXT", driver, path, {{"TXT:LINE", sorv::FieldType::String, size}}, {}, attributes);
}

inline std::string text(const sorv::FileDecl& f) {
    auto b = f.buffer();
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

inline void setText(sorv::FileDecl& f, const std::string& s) {
    f.record.set("TXT:LINE", sorv::Value(s));
}

} // namespace sorvtest
