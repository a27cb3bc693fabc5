// Trace logs of the file drivers.
#include "data/trace.h"

#include "data/driver.h"
#include "runtime/datetime.h"
#include "runtime/errors.h"
#include "runtime/profile.h"
#include "runtime/value.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace sorv {

namespace {

std::atomic<std::int64_t (*)()> clockHook{nullptr};

std::string format(const char* fmt, auto... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, args...);
    return s;
}

bool containsNoCase(std::string_view hay, std::string_view needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
    return it != hay.end();
}

// The label column: 18 wide, and at least one blank after a label that fills it, so that the
// declaration still reads as the language's syntax.
std::string labelColumn(std::string_view label) {
    std::string s = format("%-18.*s", static_cast<int>(label.size()), label.data());
    if (label.size() >= 18) s += ' ';
    return s;
}

// Labels inside a declaration stand without the file's prefix, as they are declared.
std::string_view bare(std::string_view label) {
    auto c = label.find(':');
    return c == std::string_view::npos ? label : label.substr(c + 1);
}

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

} // namespace

std::int64_t traceClock() {
    if (auto hook = clockHook.load()) return hook();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / 10;
}

void setTraceClock(std::int64_t (*clock)()) {
    clockHook.store(clock);
}

TraceSettings traceSettings(std::string_view driverName, const FileDecl& file) {
    TraceSettings s;
    std::string section = "BW" + std::string(driverName);
    s.on = getProfileInt(section, "Profile", 0) != 0;
    std::string def = std::string(driverName) + ".LOG";
    s.file = getProfileString(section, "TraceFile", def);
    if (s.file.size() > 260) s.file.resize(260);
    if (s.file.empty()) s.file = def;
    bool mayDetail =
        !file.hasAttribute(fileattr::Encrypt) || containsNoCase(file.driverOptions, "ALLOWDETAILS");
    s.details = mayDetail && getProfileInt(section, "Details", 0) != 0;
    return s;
}

void TraceLog::write(std::string_view text) {
    std::lock_guard lock(logMutex());
    std::FILE* f = std::fopen(path_.c_str(), "ab");
    if (!f) return; // a log that cannot be written never stops the file operation
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

std::shared_ptr<TraceLog> openTrace(std::string_view driverName, const FileDecl& file) {
    TraceSettings s = traceSettings(driverName, file);
    if (!s.on) return nullptr;
    auto log = std::make_shared<TraceLog>(s.file, s.details);
    log->write(declarationText(file));
    return log;
}

std::string declarationText(const FileDecl& file, DeclarationUse use) {
    const bool source = use == DeclarationUse::Source;
    // The log shows the names as they are; source quotes them so that any character reads back.
    auto named = [source](std::string_view name, bool quotedInTrace) {
        if (!source) return quotedInTrace ? "'" + std::string(name) + "'" : std::string(name);
        std::string q = "'";
        for (char c : name) q += c == '\'' ? std::string("''") : std::string(1, c);
        return q + "'";
    };
    const Layout& lay = file.layout();
    std::string out = labelColumn(file.label);
    if (file.driverOptions.empty())
        out += format("FILE,DRIVER('%s')", file.driver.c_str());
    else
        out += format("FILE,DRIVER('%s','%s')", file.driver.c_str(), file.driverOptions.c_str());
    if (file.owner) out += ",OWNER(******)";
    if (!file.name.empty()) out += ",NAME(" + named(file.fileName(), true) + ")";
    if (source) {
        for (std::size_t i = 0; i < lay.count(); ++i) {
            const std::string& n = lay.field(i).name;
            if (auto c = n.find(':'); c != std::string::npos) {
                out += ",PRE(" + n.substr(0, c) + ")";
                break;
            }
        }
    }
    if (file.hasAttribute(fileattr::Create)) out += ",CREATE";
    if (file.hasAttribute(fileattr::Encrypt)) out += ",ENCRYPT";
    if (file.hasAttribute(fileattr::Reclaim)) out += ",RECLAIM";
    if (file.hasAttribute(fileattr::Thread)) out += ",THREAD";
    out += '\n';

    for (const KeyDecl& k : file.keys) {
        out += labelColumn(bare(k.label));
        out += k.isIndex ? "INDEX(" : "KEY(";
        for (std::size_t i = 0; i < k.components.size(); ++i) {
            const KeyComponent& c = k.components[i];
            if (i) out += ',';
            out += c.descending ? '-' : '+';
            if (c.field >= 0 && c.field < static_cast<int>(lay.count()))
                out += lay.field(static_cast<std::size_t>(c.field)).name;
        }
        out += ')';
        if (k.dup()) out += ",DUP";
        if (k.opt()) out += ",OPT";
        if (k.noCase()) out += ",NOCASE";
        if (k.primary()) out += ",PRIMARY";
        if (!k.externalName.empty()) out += ",NAME(" + named(k.externalName, false) + ")";
        out += '\n';
    }
    for (const MemoDecl& m : file.memos) {
        out += labelColumn(bare(m.label));
        out += m.isBlob ? std::string("BLOB") : format("MEMO(%u)", m.size);
        if (!m.externalName.empty()) out += ",NAME(" + named(m.externalName, false) + ")";
        if (m.binary) out += ",BINARY";
        out += '\n';
    }

    out += labelColumn("") + "RECORD\n";
    std::vector<int> groupEnds;
    for (std::size_t i = 0; i < lay.count(); ++i) {
        while (!groupEnds.empty() && groupEnds.back() <= static_cast<int>(i)) {
            out += labelColumn("") + "END\n";
            groupEnds.pop_back();
        }
        const FieldDesc& f = lay.field(i);
        out += labelColumn(f.bareName());
        out += typeName(f.type);
        if (isDecimalType(f.type))
            out += format("(%u,%u)", unsigned(f.digits), unsigned(f.places));
        else if (isTextType(f.type) && !f.picture.empty())
            out += format("(@%s)", f.picture.c_str() + (f.picture[0] == '@' ? 1 : 0));
        else if (isTextType(f.type))
            out += format("(%u)", unsigned(f.size));
        if (f.dim > 1) out += format(", DIM(%u)", unsigned(f.dim));
        if (f.over >= 0 && f.over < static_cast<int>(lay.count()))
            out += format(", OVER(%s)", lay.field(static_cast<std::size_t>(f.over)).name.c_str());
        if (!f.externalName.empty()) out += ",NAME(" + named(f.externalName, true) + ")";
        out += '\n';
        if (f.type == FieldType::Group) groupEnds.push_back(f.groupEnd);
    }
    while (!groupEnds.empty()) {
        out += labelColumn("") + "END\n";
        groupEnds.pop_back();
    }
    out += labelColumn("") + "END\n\n";
    return out;
}

std::string traceValue(const FieldDesc& f, std::span<const std::uint8_t> buffer, std::uint32_t element) {
    // Text is taken by the field's declared size and never beyond it: the record is packed and
    // holds no terminating zero.
    Value v = readField(f, buffer, element);
    switch (f.type) {
    case FieldType::Byte:
        return format("%02XH", unsigned(v.toLong() & 0xFF));
    case FieldType::Short:
    case FieldType::Long:
        return format("%ld", long(v.toLong()));
    case FieldType::UShort:
    case FieldType::ULong:
        return format("%lu", static_cast<unsigned long>(v.toLong()));
    case FieldType::SReal:
    case FieldType::Real:
    case FieldType::BFloat4:
    case FieldType::BFloat8:
        return format("%f", v.toReal());
    case FieldType::Decimal:
    case FieldType::PDecimal:
        return v.toText();
    case FieldType::String:
    case FieldType::CString:
    case FieldType::PString: {
        std::string t = v.toText();
        return "'" + std::string(clipRight(t)) + "'";
    }
    case FieldType::Date: {
        long day = long(v.toLong());
        if (!isValidDay(day)) return format("Invalid date (%ld)", day);
        CivilDate c = civilOf(day);
        return format("%02d %s %d (%ld)", c.day, std::string(monthAbbrev(c.month)).c_str(), c.year, day);
    }
    case FieldType::Time: {
        long t = long(v.toLong());
        if (!isValidTime(t)) return format("Invalid time (%ld)", t);
        ClockTime c = clockOf(t);
        return format("%02d:%02d:%02d.%02d (%ld)", c.hour, c.minute, c.second, c.hundredth, t);
    }
    default:
        return {};
    }
}

std::string traceFields(const FileDecl& file) {
    std::string out;
    const Layout& lay = file.layout();
    for (const FieldDesc& f : lay.fields()) {
        if (f.type == FieldType::Group) continue; // its members follow on lines of their own
        for (std::uint32_t e = 0; e < f.dim; ++e) {
            std::string label = f.name;
            if (f.dim > 1) label += format("[%u]", unsigned(e + 1));
            out += format("  %-18s:", label.c_str()) + traceValue(f, file.buffer(), e) + "\n";
        }
    }
    return out;
}

std::string traceOperationText(int operation, std::uintptr_t viewId, int code, int systemError,
                               std::int64_t hundredths, const std::string& fields) {
    std::string out;
    if (viewId) out += format("VIEW:%lX:", static_cast<unsigned long>(viewId));
    std::string name(opName(operation));
    out += format("%-24s", name.c_str()) + "\n";
    out += fields;
    if (code == err::FileSystemError) {
        std::string_view t = errorText(300 + systemError);
        if (t.empty()) t = errorText(391);
        out += format("File Error: %s", std::string(t).c_str()) + "\n";
    } else if (code != 0) {
        std::string_view t = errorText(code);
        out += format("Error: %s", std::string(t).c_str()) + "\n";
    }
    if (hundredths < 0) hundredths = 0;
    out += format("Time Taken: %ld.%02ld secs", long(hundredths / 100), long(hundredths % 100)) + "\n";
    return out;
}

void TraceLog::logOperation(int operation, const FileDecl& file, const OpArgs& args, int code,
                            std::int64_t hundredths) {
    std::string fields;
    bool showsRecord =
        operation == op::NEXT || operation == op::PREVIOUS || operation == op::PUT || operation == op::DELETE;
    if (details_ && showsRecord && code == 0) fields = traceFields(file);
    write(traceOperationText(operation, args.viewId, code, args.systemError, hundredths, fields));
}

} // namespace sorv
