// FILE declarations read from their trace-log text.
#include "data/declparse.h"

#include "runtime/picture.h"

#include <cctype>
#include <charconv>

namespace sorv {

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// Splits at the commas outside parentheses and quotes; false for unbalanced text.
bool splitTopLevel(std::string_view s, std::vector<std::string_view>& out) {
    int depth = 0;
    bool quoted = false;
    std::size_t from = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quoted) {
            if (c == '\'') quoted = false; // a doubled quote closes and opens again
        } else if (c == '\'') {
            quoted = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth < 0) return false;
        } else if (c == ',' && depth == 0) {
            out.push_back(trim(s.substr(from, i - from)));
            from = i + 1;
        }
    }
    if (quoted || depth != 0) return false;
    out.push_back(trim(s.substr(from)));
    return true;
}

// One attribute: a word and, when it has parentheses, the arguments inside them.
struct Item {
    std::string word; // upper case
    bool hasArgs = false;
    std::vector<std::string> args;
};

bool parseItem(std::string_view s, Item& item) {
    std::size_t open = s.find('(');
    item.word = upper(trim(s.substr(0, open)));
    if (item.word.empty()) return false;
    for (char c : item.word)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    if (open == std::string_view::npos) return true;
    if (s.back() != ')') return false;
    item.hasArgs = true;
    std::vector<std::string_view> parts;
    if (!splitTopLevel(s.substr(open + 1, s.size() - open - 2), parts)) return false;
    for (std::string_view p : parts) item.args.emplace_back(p);
    return true;
}

// A quoted text ('' stands for one quote) or the bare text.
bool unquote(std::string_view s, std::string& out) {
    out.clear();
    if (s.empty() || s[0] != '\'') {
        out = s;
        return true;
    }
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] != '\'') {
            out += s[i];
        } else if (i + 1 < s.size() && s[i + 1] == '\'') {
            out += '\'';
            ++i;
        } else {
            return i + 1 == s.size();
        }
    }
    return false;
}

bool number(std::string_view s, std::uint32_t& v, std::uint32_t max) {
    s = trim(s);
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && v <= max;
}

// The record field types, by the names traces give them.
bool fieldType(const std::string& word, FieldType& t) {
    static const FieldType types[] = {
        FieldType::Byte,     FieldType::Short,   FieldType::UShort,  FieldType::Date,   FieldType::Time,
        FieldType::Long,     FieldType::ULong,   FieldType::SReal,   FieldType::Real,   FieldType::Decimal,
        FieldType::PDecimal, FieldType::BFloat4, FieldType::BFloat8, FieldType::String, FieldType::CString,
        FieldType::PString,  FieldType::Group};
    for (FieldType c : types)
        if (word == typeName(c)) {
            t = c;
            return true;
        }
    return false;
}

std::string prefixOf(std::string_view name) {
    auto c = name.find(':');
    return c == std::string_view::npos ? std::string() : std::string(name.substr(0, c));
}

class Parser {
public:
    std::optional<FileDecl> run(std::string_view text, std::string& error);

private:
    struct PendingKey {
        KeyDecl decl;
        std::vector<std::string> names;
        int line;
    };
    bool fail(std::string what) {
        error_ = "line " + std::to_string(line_) + ": " + what;
        return false;
    }
    bool items(std::string_view rest, std::vector<Item>& out);
    bool fileLine(const std::string& label, const std::vector<Item>& it);
    bool keyOrMemoLine(const std::string& label, const std::vector<Item>& it);
    bool fieldLine(const std::string& label, const std::vector<Item>& it);
    int findField(const std::string& name) const;
    void notePrefix(std::string_view name) {
        if (prefix_.empty()) prefix_ = prefixOf(name);
    }

    FileDecl file_;
    Layout layout_;
    std::vector<PendingKey> keys_;
    std::string prefix_;
    int groups_ = 0;
    int line_ = 0, endLine_ = 0;
    std::string error_;
};

bool Parser::items(std::string_view rest, std::vector<Item>& out) {
    std::vector<std::string_view> parts;
    if (!splitTopLevel(rest, parts)) return fail("unbalanced parentheses or quotes");
    for (std::string_view p : parts) {
        Item it;
        if (!parseItem(p, it)) return fail("cannot read '" + std::string(p) + "'");
        out.push_back(std::move(it));
    }
    return true;
}

bool Parser::fileLine(const std::string& label, const std::vector<Item>& it) {
    if (it[0].word != "FILE" || it[0].hasArgs) return fail("the declaration must start with FILE");
    file_.label = label;
    bool driver = false;
    for (std::size_t i = 1; i < it.size(); ++i) {
        const Item& a = it[i];
        std::string v;
        auto one = [&](bool quotedOnly) {
            return a.args.size() == 1 && unquote(a.args[0], v) && (!quotedOnly || !a.args[0].empty());
        };
        if (a.word == "DRIVER") {
            if (a.args.empty() || a.args.size() > 2 || !unquote(a.args[0], file_.driver) ||
                (a.args.size() == 2 && !unquote(a.args[1], file_.driverOptions)))
                return fail("DRIVER takes a name and an optional option string");
            driver = true;
        } else if (a.word == "OWNER" && one(true)) {
            file_.owner = v;
        } else if (a.word == "NAME" && one(true)) {
            file_.name = v;
        } else if (a.word == "PRE" && one(true)) {
            prefix_ = v;
        } else if (!a.hasArgs && a.word == "CREATE") {
            file_.attributes |= fileattr::Create;
        } else if (!a.hasArgs && a.word == "ENCRYPT") {
            file_.attributes |= fileattr::Encrypt;
        } else if (!a.hasArgs && a.word == "RECLAIM") {
            file_.attributes |= fileattr::Reclaim;
        } else if (!a.hasArgs && a.word == "THREAD") {
            file_.attributes |= fileattr::Thread;
        } else {
            return fail("unknown FILE attribute " + a.word);
        }
    }
    if (!driver) return fail("FILE without DRIVER");
    return true;
}

bool Parser::keyOrMemoLine(const std::string& label, const std::vector<Item>& it) {
    const Item& head = it[0];
    if (label.empty()) return fail(head.word + " without a label");
    if (head.word == "KEY" || head.word == "INDEX") {
        PendingKey k;
        k.decl.label = label;
        k.decl.isIndex = head.word == "INDEX";
        k.line = line_;
        if (head.args.empty() || (head.args.size() == 1 && head.args[0].empty()))
            return fail(head.word + " without components");
        for (const std::string& c : head.args) {
            std::string_view s = trim(c);
            KeyComponent comp;
            if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
                comp.descending = s[0] == '-';
                s = trim(s.substr(1));
            }
            if (s.empty()) return fail("a key component without a field");
            notePrefix(s);
            k.decl.components.push_back(comp);
            k.names.emplace_back(s);
        }
        for (std::size_t i = 1; i < it.size(); ++i) {
            const Item& a = it[i];
            std::uint8_t flag = a.word == "DUP"       ? keyflag::Dup
                                : a.word == "OPT"     ? keyflag::Opt
                                : a.word == "NOCASE"  ? keyflag::NoCase
                                : a.word == "PRIMARY" ? keyflag::Primary
                                                      : 0;
            if (flag && !a.hasArgs)
                k.decl.flags |= flag;
            else if (a.word == "NAME" && a.args.size() == 1 && unquote(a.args[0], k.decl.externalName))
                ;
            else
                return fail("unknown " + head.word + " attribute " + a.word);
        }
        keys_.push_back(std::move(k));
        return true;
    }
    if (head.word == "MEMO" || head.word == "BLOB") {
        MemoDecl m;
        m.label = label;
        m.isBlob = head.word == "BLOB";
        if (m.isBlob == head.hasArgs) return fail(m.isBlob ? "BLOB takes no size" : "MEMO needs its size");
        if (!m.isBlob && (head.args.size() != 1 || !number(head.args[0], m.size, 0x7FFFFFFF) || m.size == 0))
            return fail("MEMO needs a size from 1 up");
        for (std::size_t i = 1; i < it.size(); ++i) {
            const Item& a = it[i];
            if (a.word == "BINARY" && !a.hasArgs)
                m.binary = true;
            else if (a.word == "NAME" && a.args.size() == 1 && unquote(a.args[0], m.externalName))
                ;
            else
                return fail("unknown " + head.word + " attribute " + a.word);
        }
        file_.memos.push_back(std::move(m));
        return true;
    }
    return fail("expected KEY, INDEX, MEMO, BLOB or RECORD, found " + head.word);
}

int Parser::findField(const std::string& name) const {
    int i = layout_.find(name);
    if (i < 0 && name.find(':') != std::string::npos) i = layout_.find(name.substr(name.find(':') + 1));
    return i;
}

bool Parser::fieldLine(const std::string& label, const std::vector<Item>& it) {
    const Item& head = it[0];
    FieldType type;
    if (!fieldType(head.word, type)) return fail("unknown field type " + head.word);
    std::string name = label.empty() || prefix_.empty() ? label : prefix_ + ":" + label;
    std::uint32_t size = 0, digits = 0, places = 0, dim = 1;
    std::string picture, external;
    int over = -1;
    if (isTextType(type)) {
        if (head.args.size() != 1) return fail(head.word + " needs a length or a picture");
        std::string_view a = trim(head.args[0]);
        if (!a.empty() && a[0] == '@') {
            CompiledPicture pic = buildPicture(a);
            if (!pic.valid()) return fail("invalid picture " + std::string(a));
            picture = a;
            // The picture gives the text's width; a CSTRING or PSTRING keeps one byte more for its
            // terminator or length.
            size = static_cast<std::uint32_t>(pic.width) + (type == FieldType::String ? 0 : 1);
        } else if (!number(a, size, 65535) || size == 0) {
            return fail(head.word + " needs a length from 1 to 65535");
        }
    } else if (isDecimalType(type)) {
        if (head.args.empty() || head.args.size() > 2 || !number(head.args[0], digits, 31) || digits == 0 ||
            (head.args.size() == 2 && !number(head.args[1], places, digits)))
            return fail(head.word + " needs digits (1 to 31) and places (at most the digits)");
    } else if (head.hasArgs) {
        return fail(head.word + " takes no length");
    }
    for (std::size_t i = 1; i < it.size(); ++i) {
        const Item& a = it[i];
        if (a.word == "DIM" && a.args.size() == 1 && number(a.args[0], dim, 65535) && dim > 0) {
        } else if (a.word == "OVER" && a.args.size() == 1) {
            notePrefix(a.args[0]);
            over = findField(std::string(trim(a.args[0])));
            if (over < 0) return fail("OVER names no earlier field: " + a.args[0]);
        } else if (a.word == "NAME" && a.args.size() == 1 && unquote(a.args[0], external)) {
        } else {
            return fail("unknown field attribute " + a.word);
        }
    }
    if (type == FieldType::Group) {
        if (dim != 1 || over >= 0) return fail("a GROUP with DIM or OVER cannot be stored");
        int g = layout_.beginGroup(name);
        layout_.field(static_cast<std::size_t>(g)).externalName = external;
        ++groups_;
        return true;
    }
    int idx;
    if (over >= 0) {
        if (dim != 1) return fail("a field OVER another takes no DIM");
        idx = layout_.addOver(over, name, type, isDecimalType(type) ? digits : size);
    } else if (isDecimalType(type)) {
        idx = layout_.addDecimal(name, static_cast<int>(digits), static_cast<int>(places),
                                 type == FieldType::PDecimal);
    } else {
        idx = layout_.add(name, type, size);
    }
    if (idx < 0) return fail("cannot lay out " + label);
    if (dim > 1) layout_.setDim(idx, dim);
    FieldDesc& f = layout_.field(static_cast<std::size_t>(idx));
    f.places = static_cast<std::uint16_t>(places);
    f.picture = std::move(picture);
    f.externalName = std::move(external);
    return true;
}

std::optional<FileDecl> Parser::run(std::string_view text, std::string& error) {
    enum { Start, Heads, Fields, Done } state = Start;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t nl = text.find('\n', at);
        std::string_view raw =
            text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        at = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        ++line_;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        std::string_view body = trim(raw);
        if (body.empty() || body[0] == '!') continue;
        if (state == Done) {
            fail("text after the final END");
            break;
        }
        // A label stands at the start of the line; a line that starts with a blank has none.
        std::string label;
        if (!std::isspace(static_cast<unsigned char>(raw[0]))) {
            std::size_t end = 0;
            while (end < body.size() && !std::isspace(static_cast<unsigned char>(body[end]))) ++end;
            label = body.substr(0, end);
            body = trim(body.substr(end));
            if (body.empty()) {
                fail("a label without a declaration");
                break;
            }
        }
        std::vector<Item> it;
        if (body == ".") body = "END"; // the short form of END
        if (!items(body, it)) break;
        bool ok = true;
        if (state == Start) {
            ok = fileLine(label, it);
            state = Heads;
        } else if (state == Heads) {
            if (it[0].word == "RECORD") {
                ok = it.size() == 1 && !it[0].hasArgs ? true : fail("RECORD takes no attributes");
                state = Fields;
            } else {
                ok = keyOrMemoLine(label, it);
            }
        } else if (it[0].word == "END") {
            if (it.size() > 1 || it[0].hasArgs || !label.empty()) {
                ok = fail("END stands alone");
            } else if (groups_ > 0) {
                layout_.endGroup();
                --groups_;
            } else {
                state = Done;
                endLine_ = line_;
            }
        } else {
            ok = fieldLine(label, it);
        }
        if (!ok) break;
    }
    if (error_.empty() && state != Done) {
        line_ = std::max(line_ - 1, 1);
        fail(state == Start ? "no FILE declaration" : state == Heads ? "no RECORD" : "no final END");
    }
    if (error_.empty() && layout_.count() == 0) {
        line_ = endLine_;
        fail("the record has no fields");
    }
    if (error_.empty() && !prefix_.empty()) {
        // A prefix found only late (in an OVER) still names every field.
        for (std::size_t i = 0; i < layout_.count(); ++i) {
            FieldDesc& f = layout_.field(i);
            if (!f.name.empty() && f.name.find(':') == std::string::npos) f.name = prefix_ + ":" + f.name;
        }
    }
    for (PendingKey& k : keys_) {
        if (!error_.empty()) break;
        for (std::size_t i = 0; i < k.names.size(); ++i) {
            int f = findField(k.names[i]);
            if (f < 0) {
                line_ = k.line;
                fail("key component " + k.names[i] + " is not a field of the record");
                break;
            }
            k.decl.components[i].field = f;
        }
        if (!prefix_.empty() && k.decl.label.find(':') == std::string::npos)
            k.decl.label = prefix_ + ":" + k.decl.label;
        file_.keys.push_back(std::move(k.decl));
    }
    if (!error_.empty()) {
        error = error_;
        return std::nullopt;
    }
    for (MemoDecl& m : file_.memos)
        if (!prefix_.empty() && m.label.find(':') == std::string::npos) m.label = prefix_ + ":" + m.label;
    file_.record.setLayout(std::move(layout_));
    file_.memoValues.assign(file_.memos.size(), std::string());
    return std::move(file_);
}

} // namespace

std::optional<FileDecl> parseDeclaration(std::string_view text, std::string& error) {
    Parser p;
    return p.run(text, error);
}

} // namespace sorv
