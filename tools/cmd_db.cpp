// sorvtool db: native files (".QNL") from the command line. Files are made from a declaration in
// the trace log's syntax and print it back, export and import their records as CSV (RFC 4180),
// and are checked, rebuilt and measured through the engine, so a file can be looked after without
// the program that owns it.
#include "data/declparse.h"
#include "data/qnl/qnldriver.h"
#include "data/qnl/table.h"
#include "data/trace.h"
#include "runtime/datetime.h"
#include "runtime/errors.h"
#include "tools/command.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

namespace sorvtool {
int runDbCopy(const Args& args); // cmd_dbcopy.cpp
}

namespace {

using sorvtool::Args;
using namespace sorv;
using namespace sorv::qnl;

const char* const synopsis =
    "sorvtool db create FILE DECLARATION-FILE | info FILE | export FILE [--key NAME] [--reverse] | "
    "import FILE [CSV] | check FILE | rebuild FILE | recover FILE NEWFILE | stats FILE | copy FROM TO";

// The text of a failure of the engine: the current error's own text, with the system's error
// for code 90.
std::string describe(int rc) {
    std::string t = errorCode() == rc ? error() : std::string(errorText(rc));
    if (t.empty()) t = "error " + std::to_string(rc);
    if (rc == err::FileSystemError && !fileError().empty()) t += ": " + fileError();
    return t;
}

int failure(const std::string& what) {
    std::cerr << "sorvtool: " << what << "\n";
    return 1;
}

// Opens for reading; a file whose last writer died half-way can only be put right by a handle
// that may write, so that is tried next.
int openTable(Table& t, const std::string& path, bool write) {
    int rc = t.open(path, !write);
    if (rc == err::FileIsLocked && !write) rc = t.open(path, false);
    return rc;
}

std::string readAllOf(std::istream& in) {
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

FileDecl declarationOf(const Schema& s) {
    FileDecl f;
    f.label = s.label;
    f.driver = DriverName;
    f.keys = s.keys;
    f.memos = s.memos;
    f.record.setLayout(s.layout);
    return f;
}

std::string bare(std::string_view name) {
    auto c = name.find(':');
    return std::string(c == std::string_view::npos ? name : name.substr(c + 1));
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// ---- columns ----

// One CSV column: an element of a field, or a memo. Groups are left out (their members have
// columns), and so are fields OVER others (their bytes already have a column).
struct Column {
    std::string name; // as the header shows it: the bare label, "[i]" for array elements
    std::string full; // with the prefix, also accepted on import
    int field = -1;
    std::uint32_t element = 0;
    int memo = -1;
};

std::vector<Column> columnsOf(const Schema& s) {
    std::vector<Column> cols;
    for (std::size_t i = 0; i < s.layout.count(); ++i) {
        const FieldDesc& f = s.layout.field(i);
        if (f.type == FieldType::Group || f.over >= 0) continue;
        for (std::uint32_t e = 0; e < f.dim; ++e) {
            std::string idx = f.dim > 1 ? "[" + std::to_string(e + 1) + "]" : "";
            cols.push_back({bare(f.name) + idx, f.name + idx, static_cast<int>(i), e, -1});
        }
    }
    for (std::size_t m = 0; m < s.memos.size(); ++m)
        cols.push_back({bare(s.memos[m].label), s.memos[m].label, -1, 0, static_cast<int>(m)});
    return cols;
}

template <typename T> std::string shortest(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string two(int v, int width = 2) {
    std::string s = std::to_string(v);
    return std::string(s.size() < static_cast<std::size_t>(width) ? width - s.size() : 0, '0') + s;
}

// A field's value as a cell: STRING text without its trailing blanks (they are padding), CSTRING
// and PSTRING text as stored (they keep their length), numbers exactly, dates as YYYY-MM-DD and
// times as HH:MM:SS.hh (zero as an empty cell).
std::string cellOf(const FieldDesc& f, std::span<const std::uint8_t> rec, std::uint32_t e) {
    const std::uint8_t* p = rec.data() + f.offset + e * f.size;
    switch (f.type) {
    case FieldType::SReal: {
        float v;
        std::memcpy(&v, p, 4);
        return shortest(v);
    }
    case FieldType::Real: {
        double v;
        std::memcpy(&v, p, 8);
        return shortest(v);
    }
    default:
        break;
    }
    Value v = readField(f, rec, e);
    if (f.type == FieldType::String) return std::string(clipRight(v.toText()));
    if (isTextType(f.type)) return v.toText();
    if (isDecimalType(f.type)) return v.toDecimal().toFixed(f.places);
    std::int64_t n = v.toLong();
    if (f.type == FieldType::Date && n == 0) return {};
    if (f.type == FieldType::Date && isValidDay(n)) {
        CivilDate c = civilOf(n);
        return two(c.year, 4) + "-" + two(c.month) + "-" + two(c.day);
    }
    if (f.type == FieldType::Time && n == 0) return {};
    if (f.type == FieldType::Time && isValidTime(n)) {
        ClockTime c = clockOf(n);
        return two(c.hour) + ":" + two(c.minute) + ":" + two(c.second) + "." + two(c.hundredth);
    }
    return std::to_string(n);
}

bool readInt(std::string_view s, int& v) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "YYYY-MM-DD" as a day number, "HH:MM[:SS[.hh]]" as a time number.
bool isoDate(std::string_view s, std::int64_t& day) {
    int y, m, d;
    if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !readInt(s.substr(0, 4), y) ||
        !readInt(s.substr(5, 2), m) || !readInt(s.substr(8, 2), d) || !isValidCivil(y, m, d))
        return false;
    day = dayNumber(y, m, d);
    return isValidDay(day);
}

bool isoTime(std::string_view s, std::int64_t& t) {
    int h = 0, m = 0, sec = 0, hs = 0;
    if (s.size() < 5 || s[2] != ':' || !readInt(s.substr(0, 2), h) || !readInt(s.substr(3, 2), m))
        return false;
    if (s.size() > 5 && (s.size() < 8 || s[5] != ':' || !readInt(s.substr(6, 2), sec))) return false;
    if (s.size() > 8 && (s.size() != 11 || s[8] != '.' || !readInt(s.substr(9, 2), hs))) return false;
    if (h > 23 || m > 59 || sec > 59 || h < 0 || m < 0 || sec < 0 || hs < 0) return false;
    t = timeNumber(h, m, sec, hs);
    return true;
}

// Stores a cell into its field; answers why not when the text does not fit the field exactly.
std::string storeCell(const FieldDesc& f, std::span<std::uint8_t> rec, std::uint32_t e,
                      const std::string& cell) {
    if (isTextType(f.type)) {
        std::size_t room = f.type == FieldType::String ? f.size : f.size - 1;
        if (clipRight(cell).size() > room) return "is longer than " + std::to_string(room) + " characters";
        writeField(f, rec, Value(cell), e);
        return {};
    }
    std::string_view s = cell;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (s.empty()) {
        writeField(f, rec, Value(0), e);
        return {};
    }
    if (f.type == FieldType::Real || f.type == FieldType::SReal || f.type == FieldType::BFloat4 ||
        f.type == FieldType::BFloat8) {
        std::string t(s);
        char* end = nullptr;
        double d = std::strtod(t.c_str(), &end);
        if (end != t.c_str() + t.size()) return "is not a number";
        // An infinity is stored only when the cell says so, never for a number out of range.
        const bool single = f.type == FieldType::SReal || f.type == FieldType::BFloat4;
        if (std::isfinite(d) ? single && std::fabs(d) > std::numeric_limits<float>::max()
                             : !std::isnan(d) && t.find_first_of("iI") == std::string::npos)
            return single ? "is out of the range of a 4-byte real" : "is out of the range of a real";
        writeField(f, rec, Value(d), e);
        return {};
    }
    Value v;
    std::int64_t n;
    if (f.type == FieldType::Date && isoDate(s, n))
        v = Value(n);
    else if (f.type == FieldType::Time && isoTime(s, n))
        v = Value(n);
    else if (auto d = Decimal::parse(s))
        v = Value(*d);
    else
        return f.type == FieldType::Date   ? "is not a date (YYYY-MM-DD)"
               : f.type == FieldType::Time ? "is not a time (HH:MM:SS.hh)"
                                           : "is not a number";
    writeField(f, rec, v, e);
    // What the field holds must be what the cell says: no silent rounding, wrapping or cutting.
    if (compare(readField(f, rec, e), v) != 0) return "does not fit the field";
    return {};
}

// ---- CSV (RFC 4180) ----

void appendCell(std::string& out, const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        out += cell;
        return;
    }
    out += '"';
    for (char c : cell) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// Reads one record starting at pos; line counts the physical lines. Answers false with why for
// a malformed record.
bool readCsvRecord(std::string_view in, std::size_t& pos, int& line, std::vector<std::string>& cells,
                   std::string& why) {
    cells.assign(1, std::string());
    bool quoted = false, wasQuoted = false;
    while (pos < in.size()) {
        char c = in[pos++];
        if (quoted) {
            if (c == '"') {
                if (pos < in.size() && in[pos] == '"') {
                    cells.back() += '"';
                    ++pos;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') ++line;
                cells.back() += c;
            }
            continue;
        }
        if (c == ',') {
            cells.emplace_back();
            wasQuoted = false;
        } else if (c == '\n' || (c == '\r' && pos < in.size() && in[pos] == '\n')) {
            if (c == '\r') ++pos;
            ++line;
            return true;
        } else if (c == '"') {
            if (wasQuoted || !cells.back().empty()) {
                why = "a quote inside an unquoted field";
                return false;
            }
            quoted = wasQuoted = true;
        } else if (wasQuoted) {
            why = "text after a closing quote";
            return false;
        } else {
            cells.back() += c;
        }
    }
    if (quoted) {
        why = "a quoted field is not closed";
        return false;
    }
    return true;
}

// ---- commands ----

int runCreate(const Args& a) {
    if (a.size() != 2) return sorvtool::usageError("usage: sorvtool db create FILE DECLARATION-FILE");
    // The declaration comes from a file ("db info" writes one), "-" for standard input.
    std::string text;
    if (a[1] == "-") {
        text = readAllOf(std::cin);
    } else {
        std::ifstream in(a[1], std::ios::binary);
        if (!in) return failure("cannot read " + a[1] + ": " + std::strerror(errno));
        text = readAllOf(in);
    }
    std::string why;
    auto decl = parseDeclaration(text, why);
    if (!decl) return failure("db create: " + why);
    if (!sameName(decl->driver, DriverName))
        return failure("db create: the declaration is for the driver " + decl->driver + ", not " +
                       DriverName);
    std::string path = withDefaultExtension(a[0]);
    int rc = Table::create(path, schemaOf(*decl), false);
    if (rc == err::FileAlreadyOpen) return failure(path + " already exists");
    if (rc != 0) return failure("cannot create " + path + ": " + describe(rc));
    return 0;
}

int runInfo(const Args& a) {
    if (a.size() != 1) return sorvtool::usageError("usage: sorvtool db info FILE");
    std::string path = withDefaultExtension(a[0]);
    Table t;
    if (int rc = openTable(t, path, false)) return failure("cannot open " + path + ": " + describe(rc));
    std::cout << declarationText(declarationOf(t.schema()), DeclarationUse::Source);
    return std::cout.good() ? 0 : 1;
}

int runExport(const Args& a) {
    const char* use = "usage: sorvtool db export FILE [--key NAME] [--reverse]";
    std::string file, keyName;
    bool reverse = false, haveKey = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--reverse") {
            reverse = true;
        } else if (a[i] == "--key") {
            if (++i == a.size() || haveKey) return sorvtool::usageError(use);
            keyName = a[i];
            haveKey = true;
        } else if (file.empty() && !a[i].empty() && a[i][0] != '-') {
            file = a[i];
        } else {
            return sorvtool::usageError(use);
        }
    }
    if (file.empty()) return sorvtool::usageError(use);
    std::string path = withDefaultExtension(file);
    Table t;
    if (int rc = openTable(t, path, false)) return failure("cannot open " + path + ": " + describe(rc));
    const Schema& s = t.schema();
    int key = -1;
    if (haveKey) {
        for (std::size_t k = 0; k < s.keys.size() && key < 0; ++k)
            if (sameName(s.keys[k].label, keyName) || sameName(bare(s.keys[k].label), keyName) ||
                (!s.keys[k].externalName.empty() && sameName(s.keys[k].externalName, keyName)))
                key = static_cast<int>(k);
        if (key < 0) return sorvtool::usageError("db export: " + path + " has no key " + keyName);
    }
    std::vector<Column> cols = columnsOf(s);
    std::string out;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (i) out += ',';
        appendCell(out, cols[i].name);
    }
    out += "\r\n";
    Cursor c(t, key);
    c.setFirst();
    RecordData r;
    std::uint32_t ptr = 0;
    for (;;) {
        int rc = reverse ? c.previous(r, ptr) : c.next(r, ptr);
        if (rc == err::RecordNotAvailable) break;
        if (rc != 0) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::fflush(stdout);
            return failure("reading " + path + ": " + describe(rc));
        }
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (i) out += ',';
            const Column& col = cols[i];
            std::string cell = col.memo >= 0 ? r.memos[static_cast<std::size_t>(col.memo)]
                                             : cellOf(s.layout.field(static_cast<std::size_t>(col.field)),
                                                      r.bytes, col.element);
            if (cell.empty() && cols.size() == 1)
                out += "\"\""; // an empty line would read as no record at all
            else
                appendCell(out, cell);
        }
        out += "\r\n";
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int runImport(const Args& a) {
    if (a.empty() || a.size() > 2) return sorvtool::usageError("usage: sorvtool db import FILE [CSV]");
    std::string path = withDefaultExtension(a[0]);
    std::string csv;
    if (a.size() == 2 && a[1] != "-") {
        std::ifstream in(a[1], std::ios::binary);
        if (!in) return failure("cannot read " + a[1]);
        csv = readAllOf(in);
    } else {
        csv = readAllOf(std::cin);
    }
    Table t;
    if (int rc = openTable(t, path, true)) return failure("cannot open " + path + ": " + describe(rc));
    const Schema& s = t.schema();
    std::vector<Column> all = columnsOf(s);

    // The header names the columns (in any order; fields it leaves out stay blank).
    std::size_t pos = 0;
    int line = 1;
    std::vector<std::string> cells;
    std::string why;
    auto bad = [&](int at, const std::string& what) {
        return failure("db import: line " + std::to_string(at) + ": " + what + "; nothing imported");
    };
    if (csv.empty()) return bad(1, "no header row");
    if (!readCsvRecord(csv, pos, line, cells, why)) return bad(1, why);
    std::vector<const Column*> cols;
    for (const std::string& h : cells) {
        const Column* found = nullptr;
        for (const Column& c : all)
            if (sameName(c.name, h) || sameName(c.full, h)) found = &c;
        if (!found) return bad(1, "the file has no field " + h);
        for (const Column* c : cols)
            if (c == found) return bad(1, "the field " + h + " is named twice");
        cols.push_back(found);
    }

    // Every row is read and checked before anything is written.
    std::vector<RecordData> rows;
    std::vector<int> rowLines;
    Record blank(s.layout);
    while (pos < csv.size()) {
        int at = line;
        bool emptyLine = csv[pos] == '\n' || csv.compare(pos, 2, "\r\n") == 0;
        if (!readCsvRecord(csv, pos, line, cells, why)) return bad(at, why);
        if (emptyLine) continue;
        if (cells.size() != cols.size())
            return bad(at, std::to_string(cells.size()) + " fields where the header has " +
                               std::to_string(cols.size()));
        RecordData r;
        r.bytes.assign(blank.buffer().begin(), blank.buffer().end());
        r.memos.assign(s.memos.size(), std::string());
        for (std::size_t i = 0; i < cols.size(); ++i) {
            const Column& c = *cols[i];
            if (c.memo >= 0) {
                const MemoDecl& m = s.memos[static_cast<std::size_t>(c.memo)];
                if (!m.isBlob && cells[i].size() > m.size)
                    return bad(at, c.name + " is longer than " + std::to_string(m.size) + " bytes");
                r.memos[static_cast<std::size_t>(c.memo)] = std::move(cells[i]);
                continue;
            }
            const FieldDesc& f = s.layout.field(static_cast<std::size_t>(c.field));
            std::string w = storeCell(f, r.bytes, c.element, cells[i]);
            if (!w.empty()) return bad(at, c.name + " '" + cells[i] + "' " + w);
        }
        rows.push_back(std::move(r));
        rowLines.push_back(at);
    }

    Transaction tx;
    if (int rc = tx.begin({&t}))
        return failure("cannot start a transaction on " + path + ": " + describe(rc));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::uint32_t ptr = 0;
        if (int rc = t.add(rows[i], ptr)) {
            tx.rollback();
            return bad(rowLines[i], describe(rc));
        }
    }
    if (int rc = tx.commit()) return failure("db import: " + describe(rc) + "; nothing imported");
    return 0;
}

int runCheck(const Args& a) {
    if (a.size() != 1) return sorvtool::usageError("usage: sorvtool db check FILE");
    std::string path = withDefaultExtension(a[0]);
    Table t;
    if (int rc = openTable(t, path, false)) {
        if (rc == err::FileNotFound || rc == err::PathNotFound || rc == err::AccessDenied)
            return failure("cannot open " + path + ": " + describe(rc));
        std::cout << "the file cannot be opened: " << describe(rc) << "\n";
        return 1;
    }
    std::vector<std::string> problems;
    t.check(problems);
    for (const std::string& p : problems) std::cout << p << "\n";
    return problems.empty() ? 0 : 1;
}

int runRebuild(const Args& a) {
    if (a.size() != 1) return sorvtool::usageError("usage: sorvtool db rebuild FILE");
    std::string path = withDefaultExtension(a[0]);
    Table t;
    if (int rc = openTable(t, path, true)) return failure("cannot open " + path + ": " + describe(rc));
    if (int rc = t.build()) return failure("cannot rebuild " + path + ": " + describe(rc));
    return 0;
}

// Salvages what a damaged file still holds into a new file; the damaged one is left as it is.
int runRecover(const Args& a) {
    if (a.size() != 2) return sorvtool::usageError("usage: sorvtool db recover FILE NEWFILE");
    std::string path = withDefaultExtension(a[0]), target = withDefaultExtension(a[1]);
    Table t;
    if (int rc = openTable(t, path, false)) return failure("cannot open " + path + ": " + describe(rc));
    SalvageReport r;
    int rc = t.salvage(target, r);
    if (rc == err::FileAlreadyOpen) return failure(target + " already exists");
    if (rc != 0) return failure("cannot recover " + path + " into " + target + ": " + describe(rc));
    std::cout << "records: " << r.records << "\n"
              << "damaged pages: " << r.damagedPages << "\n"
              << "broken memos: " << r.brokenMemos << "\n"
              << "duplicate keys left out: " << r.duplicates << "\n";
    return std::cout.good() ? 0 : 1;
}

int runStats(const Args& a) {
    if (a.size() != 1) return sorvtool::usageError("usage: sorvtool db stats FILE");
    std::string path = withDefaultExtension(a[0]);
    Table t;
    if (int rc = openTable(t, path, false)) return failure("cannot open " + path + ": " + describe(rc));
    TableStats st;
    if (int rc = t.stats(st)) return failure("reading " + path + ": " + describe(rc));
    std::uint64_t freeBytes =
        std::uint64_t(st.freePages) * PageSize + std::uint64_t(st.freeSlots) * st.slotSize;
    std::cout << "records: " << st.records << "\n"
              << "pages: " << st.pages << " of " << PageSize << " bytes\n"
              << "bytes: " << st.fileBytes << "\n"
              << "record pages: " << st.recordPages << " of " << st.slotsPerPage << " slots of "
              << st.slotSize << " bytes\n"
              << "free pages: " << st.freePages << "\n"
              << "free slots: " << st.freeSlots << "\n"
              << "free bytes: " << freeBytes << "\n";
    const Schema& s = t.schema();
    for (std::size_t k = 0; k < s.keys.size(); ++k)
        std::cout << "key " << bare(s.keys[k].label) << ": depth " << st.keyDepths[k] << ", "
                  << st.keyEntries[k] << " entries\n";
    return std::cout.good() ? 0 : 1;
}

int runDb(const Args& args) {
    if (args.empty()) return sorvtool::usageError(std::string("usage: ") + synopsis);
    Args rest(args.begin() + 1, args.end());
    const std::string& verb = args[0];
    if (verb == "create") return runCreate(rest);
    if (verb == "info") return runInfo(rest);
    if (verb == "export") return runExport(rest);
    if (verb == "import") return runImport(rest);
    if (verb == "check") return runCheck(rest);
    if (verb == "rebuild") return runRebuild(rest);
    if (verb == "recover") return runRecover(rest);
    if (verb == "stats") return runStats(rest);
    if (verb == "copy") return sorvtool::runDbCopy(rest);
    return sorvtool::usageError("unknown db command '" + verb + "'; usage: " + synopsis);
}

const sorvtool::Command dbCommand("db", synopsis, runDb);

} // namespace
