// Table shapes of declarations: columns, key expressions and the statements that make them.
#include "data/pg/shape.h"

#include "data/trace.h"
#include "runtime/types.h"

#include <cctype>
#include <cstdio>
#include <set>

namespace sorv::pg {

namespace {

std::string quoted(const std::string& id) {
    return "\"" + id + "\"";
}

std::string safeName(std::string_view s) {
    std::string out;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        out += std::isalnum(u) ? static_cast<char>(std::tolower(u)) : '_';
    }
    if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0]))) out = "t_" + out;
    return out;
}

bool columnType(const FieldDesc& f, Column& c) {
    switch (f.type) {
    case FieldType::Byte:
    case FieldType::Short:
    case FieldType::UShort:
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
        c.type = "integer";
        c.cast = "::integer";
        return true;
    case FieldType::ULong:
        c.type = "bigint";
        c.cast = "::bigint";
        return true;
    case FieldType::SReal:
    case FieldType::Real:
        c.type = "double precision";
        c.cast = "::double precision";
        return true;
    case FieldType::Decimal:
    case FieldType::PDecimal:
        c.type = "numeric";
        c.cast = "::numeric";
        return true;
    case FieldType::String:
    case FieldType::CString:
    case FieldType::PString:
        c.type = "text COLLATE \"C\"";
        c.cast = "::text";
        c.text = true;
        return true;
    default:
        return false;
    }
}

} // namespace

std::string tableNameOf(const FileDecl& file) {
    std::string n = file.fileName();
    auto slash = n.find_last_of("/\\");
    if (slash != std::string::npos) n = n.substr(slash + 1);
    auto dot = n.rfind('.');
    if (dot != std::string::npos && dot > 0) n = n.substr(0, dot);
    return safeName(n);
}

std::string storedDeclaration(const FileDecl& file) {
    FileDecl d = file.clone();
    d.driver = DriverName;
    d.driverOptions.clear();
    d.name.clear();
    d.owner.reset();
    d.attributes = 0;
    // Pictures are the program's way of showing a field, not its storage; the trace syntax would
    // write a text field's picture in place of its length, so they are left out.
    Layout l = d.layout();
    for (std::size_t i = 0; i < l.count(); ++i) l.field(i).picture.clear();
    d.record.setLayout(l);
    return declarationText(d);
}

bool Shape::make(const FileDecl& file, std::string& why) {
    layout = &file.layout();
    name = tableNameOf(file);
    table = quoted(name);
    stamp = quoted(name + "_stamp");
    keys = file.keys;
    memos = static_cast<int>(file.memos.size());
    columns.clear();
    columnOfField.assign(file.layout().count(), -1);
    std::set<std::string> used = {"rid", "ver", "rec"};
    for (int m = 0; m < memos; ++m) used.insert("m" + std::to_string(m));
    for (std::size_t i = 0; i < file.layout().count(); ++i) {
        const FieldDesc& f = file.layout().field(i);
        Column c;
        if (f.over >= 0 || f.dim != 1 || !columnType(f, c)) continue;
        std::string n = safeName(f.bareName());
        if (used.count(n)) n += "_" + std::to_string(i);
        used.insert(n);
        c.field = static_cast<int>(i);
        c.name = quoted(n);
        columnOfField[i] = static_cast<int>(columns.size());
        columns.push_back(std::move(c));
    }
    for (const KeyDecl& k : keys)
        for (const KeyComponent& c : k.components)
            if (c.field < 0 || c.field >= static_cast<int>(columnOfField.size()) ||
                columnOfField[static_cast<std::size_t>(c.field)] < 0) {
                why = "key " + k.label + " has a component the server cannot index";
                return false;
            }
    return true;
}

std::string Shape::keyExpr(int key, int component) const {
    const KeyDecl& k = keys[static_cast<std::size_t>(key)];
    const Column& c = columns[static_cast<std::size_t>(
        columnOfField[static_cast<std::size_t>(k.components[static_cast<std::size_t>(component)].field)])];
    return k.noCase() && c.text ? "upper(" + c.name + ")" : c.name;
}

std::string Shape::keyParam(int key, int component, int n) const {
    const KeyDecl& k = keys[static_cast<std::size_t>(key)];
    const Column& c = columns[static_cast<std::size_t>(
        columnOfField[static_cast<std::size_t>(k.components[static_cast<std::size_t>(component)].field)])];
    std::string p = "$" + std::to_string(n) + c.cast;
    return k.noCase() && c.text ? "upper(" + p + ")" : p;
}

std::string Shape::optClause(int key) const {
    const KeyDecl& k = keys[static_cast<std::size_t>(key)];
    if (!k.opt()) return {};
    std::string out = "(";
    for (std::size_t i = 0; i < k.components.size(); ++i) {
        const Column& c =
            columns[static_cast<std::size_t>(columnOfField[static_cast<std::size_t>(k.components[i].field)])];
        if (i) out += " OR ";
        out += c.name + (c.text ? " <> ''" : " <> 0");
    }
    return out + ")";
}

bool Shape::inKey(int key, std::span<const std::uint8_t> image) const {
    const KeyDecl& k = keys[static_cast<std::size_t>(key)];
    if (!k.opt()) return true;
    for (const KeyComponent& kc : k.components) {
        const Column& c =
            columns[static_cast<std::size_t>(columnOfField[static_cast<std::size_t>(kc.field)])];
        std::string v = columnValue(c, image);
        if (c.text ? !v.empty() : !Value(v).toDecimal().isZero()) return true;
    }
    return false;
}

std::string Shape::selectList() const {
    std::string s = "rid, ver, rec";
    for (int m = 0; m < memos; ++m) s += ", m" + std::to_string(m);
    return s;
}

std::string Shape::columnValue(const Column& c, std::span<const std::uint8_t> image) const {
    const FieldDesc& f = layout->field(static_cast<std::size_t>(c.field));
    Value v = readField(f, image);
    if (c.text) {
        std::string t = v.toText();
        auto nul = t.find('\0');
        if (nul != std::string::npos) t.resize(nul);
        return std::string(clipRight(t));
    }
    switch (f.type) {
    case FieldType::SReal:
    case FieldType::Real: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v.toReal());
        return buf;
    }
    case FieldType::Decimal:
    case FieldType::PDecimal:
        return v.toDecimal().toString();
    default:
        return std::to_string(v.toLong());
    }
}

std::string Shape::fieldValue(int field, std::span<const std::uint8_t> image) const {
    return columnValue(columns[static_cast<std::size_t>(columnOfField[static_cast<std::size_t>(field)])],
                       image);
}

std::vector<std::string> Shape::createStatements() const {
    std::vector<std::string> out;
    std::string t =
        "CREATE TABLE " + table +
        " (rid bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, ver bigint NOT NULL, rec bytea NOT NULL";
    for (const Column& c : columns) t += ", " + c.name + " " + c.type + " NOT NULL";
    for (int m = 0; m < memos; ++m) t += ", m" + std::to_string(m) + " bytea NOT NULL DEFAULT ''";
    out.push_back(t + ")");
    out.push_back("CREATE SEQUENCE " + stamp);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        int key = static_cast<int>(k);
        std::string cols;
        for (std::size_t i = 0; i < keys[k].components.size(); ++i) {
            if (i) cols += ", ";
            cols += keyExpr(key, static_cast<int>(i));
            if (keys[k].components[i].descending) cols += " DESC";
        }
        std::string where = optClause(key);
        std::string suffix = where.empty() ? "" : " WHERE " + where;
        std::string idx = quoted(name + "_k" + std::to_string(k));
        if (unique(key))
            out.push_back("CREATE UNIQUE INDEX " + idx + " ON " + table + " (" + cols + ")" + suffix);
        else
            out.push_back("CREATE INDEX " + idx + " ON " + table + " (" + cols + ", rid)" + suffix);
    }
    return out;
}

} // namespace sorv::pg
