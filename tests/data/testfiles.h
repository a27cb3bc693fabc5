// Helpers of the data tests: a temporary directory of real files and declarations of the
// ASCII and DOS files the program uses.
#pragma once
#include "data/filedecl.h"
#include "runtime/errors.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

// A file of one STRING field, as the export and the text windows declare theirs.
inline sorv::FileDecl lineFile(const std::string& driver, const std::string& path, std::uint32_t size,
                               std::uint8_t attributes = sorv::fileattr::Create) {
    sorv::FileDecl f;
    f.label = "TXT";
    f.driver = driver;
    f.name = path;
    f.attributes = attributes;
    sorv::Layout l;
    l.add("TXT:LINE", sorv::FieldType::String, size);
    f.record.setLayout(l);
    return f;
}

inline std::string text(const sorv::FileDecl& f) {
    auto b = f.buffer();
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

inline void setText(sorv::FileDecl& f, const std::string& s) {
    f.record.set("TXT:LINE", sorv::Value(s));
}

} // namespace sorvtest
