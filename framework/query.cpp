// Query by example: the entries, the filter they make and the "Example values" window.
#include "framework/query.h"

#include "data/filedecl.h"
#include "framework/windowmanager.h"
#include "runtime/value.h"
#include "windowing/window.h"

#include <algorithm>
#include <cctype>

namespace sorv::fw {

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

std::string cut(std::string_view s, std::size_t length) {
    return std::string(s.substr(0, length));
}

bool isOperator(char c) {
    return c == '=' || c == '<' || c == '>' || c == '~';
}

// The operator in its fixed form: each of "<", ">" and "~" once in the order typed, "=" last
// when typed anywhere ("=<" is "<=", "=>" is ">=", "><" stays).
std::string fixedOperator(std::string_view typed) {
    std::string out;
    bool equal = false;
    for (char c : typed) {
        if (c == '=')
            equal = true;
        else if (isOperator(c) && out.find(c) == std::string::npos)
            out += c;
    }
    if (equal) out += '=';
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// A comparison's right-hand side. Text fields take the value quoted; other fields take a number
// as it is, and anything else quoted too: a value written bare into the filter could close the
// term's parentheses and undo the other filters of the browse ("1) OR (1").
std::string literal(const QueryField& f, const std::string& value) {
    if (f.TYPE == "S") return quoted(value);
    return Value::isNumeric(value) && !value.empty() ? value : quoted(value);
}

struct Term {
    std::string expression;
    std::string op;
    std::string value;
    bool bareValue = false; // the value is a number of the term's own (INSTRING's 0)
};

std::string written(const QueryField& f, Term t) {
    t.op = fixedOperator(t.op);
    if (!t.bareValue) {
        if (contains(t.expression, "UPPER(")) t.value = upper(t.value);
        t.value = literal(f, t.value);
    }
    return "(" + t.expression + " " + t.op + " " + t.value + ")";
}

// A bound: the operator, "=" added for a bound equal to the example value or typed with "=".
Term boundTerm(const QueryField& f, const std::string& bound, char op) {
    Term t{f.NAME, std::string(1, op), bound};
    if (bound == clipRight(f.MIDDLE)) t.op += '=';
    if (!t.value.empty() && t.value.front() == '=') {
        t.op += '=';
        t.value.erase(0, 1);
    }
    return t;
}

Term exampleTerm(const QueryField& f, std::string value) {
    std::string name = f.NAME;
    if (contains(name, "UPPER(")) value = upper(value);
    std::string op;
    std::size_t n = 0;
    while (n < value.size() && isOperator(value[n])) op += value[n++];
    value.erase(0, n);
    if (!value.empty() && value.front() == '^') {
        if (!contains(name, "UPPER(")) name = "UPPER(" + name + ")";
        value = upper(value.substr(1));
    }
    auto addEqual = [&] {
        if (op.find('<') == std::string::npos && op.find('>') == std::string::npos) op += '=';
    };
    if (!value.empty() && value.front() == '*') {
        // "*ON*" looks for ON anywhere too: the closing star is not part of the text sought.
        std::string sought = value.substr(1);
        if (!sought.empty() && sought.back() == '*') sought.pop_back();
        if (contains(name, "UPPER(")) sought = upper(sought);
        return Term{"INSTRING(" + quoted(sought) + "," + name + ",1,1)", "<>", "0", true};
    }
    if (!value.empty() && value.back() == '*') {
        value.pop_back();
        // Typed without an operator the term would have none and the view could not read it:
        // the start of the field equals the value.
        addEqual();
        return Term{"SUB(" + name + ",1," + std::to_string(value.size()) + ")", op, value};
    }
    addEqual();
    return Term{name, op, value};
}

} // namespace

QueryField& Query::AddItem(std::string_view name, std::string_view type, std::string_view title) {
    QueryField f;
    f.NAME = cut(name, QueryNameLength);
    f.TYPE = std::string(type);
    if (!title.empty()) {
        f.TITLE = std::string(title);
    } else {
        std::string_view t = f.NAME;
        if (t.starts_with("UPPER(") && t.ends_with(")")) t = t.substr(6, t.size() - 7);
        if (std::size_t colon = t.find(':'); colon != std::string_view::npos) t = t.substr(colon + 1);
        f.TITLE = std::string(t);
    }
    FIELDS.push_back(std::move(f));
    return FIELDS.back();
}

void Query::AddBrowseFields(BrowseManager& browse) {
    FileDecl* file = browse.PRIMARY ? &browse.PRIMARY->File() : nullptr;
    for (const FieldPair& p : browse.FIELDS) {
        const FieldRef& r = p.RIGHT;
        if (!r.valid() || r.name().empty() || Field(r.name()) || Field("UPPER(" + r.name() + ")")) continue;
        const bool text = isTextType(r.type());
        bool noCase = false;
        if (text && file && r.layout() == &file->record.layout())
            for (const KeyDecl& k : file->keys)
                if (k.noCase())
                    for (const KeyComponent& c : k.components)
                        if (c.field == r.index()) noCase = true;
        AddItem(noCase ? "UPPER(" + r.name() + ")" : r.name(), text ? "S" : "N");
    }
}

QueryField* Query::Field(std::string_view name) {
    for (QueryField& f : FIELDS)
        if (f.NAME == name) return &f;
    return nullptr;
}

void Query::SetLimit(std::string_view name, std::string_view low, std::string_view example,
                     std::string_view high) {
    QueryField* f = Field(name);
    if (!f) return;
    f->LOW = cut(low, QueryValueLength);
    f->MIDDLE = cut(example, QueryValueLength);
    f->HIGH = cut(high, QueryValueLength);
}

void Query::Reset() {
    for (QueryField& f : FIELDS) f.LOW.clear(), f.MIDDLE.clear(), f.HIGH.clear();
}

std::string Query::BuildQueryFilter() {
    std::string filter;
    auto add = [&](const QueryField& f, const Term& t) {
        if (!filter.empty()) filter += " AND ";
        filter += written(f, t);
    };
    for (const QueryField& f : FIELDS) {
        const std::string low(clipRight(f.LOW)), example(clipRight(f.MIDDLE)), high(clipRight(f.HIGH));
        if (!low.empty()) add(f, boundTerm(f, low, '>'));
        if (!high.empty()) add(f, boundTerm(f, high, '<'));
        if (low.empty() && high.empty() && !example.empty()) add(f, exampleTerm(f, example));
    }
    return filter;
}

// ---- the window ----

namespace {

// Controls of the window: the column heads, then four per field row (its prompt and the low,
// example and high entries), then the buttons.
constexpr int HeadLow = 1, HeadExample = 2, HeadHigh = 3;
constexpr int FirstRow = 10;
constexpr int OkButton = 9001, CancelButton = 9002;

int rowControl(std::size_t row, int column) {
    return FirstRow + static_cast<int>(row) * 4 + column;
}

class QueryWindow : public WindowManager {
public:
    explicit QueryWindow(std::vector<QueryField>& fields) : fields_(fields) {}

    Level Init() override {
        Level l = WindowManager::Init();
        if (l != LevelNone) return l;
        if (!WINDOW.open(design())) return LevelFatal;
        OPENED = 1;
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            WINDOW.setText(rowControl(i, 1), fields_[i].LOW);
            WINDOW.setText(rowControl(i, 2), fields_[i].MIDDLE);
            WINDOW.setText(rowControl(i, 3), fields_[i].HIGH);
        }
        if (!fields_.empty()) WINDOW.select(rowControl(0, 2));
        // OK is live once the entries show the query: confirmed before, it would take the
        // blank entries of a window still being filled as the new query.
        WINDOW.enable(OkButton, true);
        return LevelNone;
    }

    Level HandleAccepted() override {
        if (field() == OkButton) {
            for (std::size_t i = 0; i < fields_.size(); ++i) {
                fields_[i].LOW = cut(WINDOW.text(rowControl(i, 1)), QueryValueLength);
                fields_[i].MIDDLE = cut(WINDOW.text(rowControl(i, 2)), QueryValueLength);
                fields_[i].HIGH = cut(WINDOW.text(rowControl(i, 3)), QueryValueLength);
            }
            SetResult(ResponseDone);
            return LevelNotify;
        }
        if (field() == CancelButton) {
            SetResult(ResponseCancelled);
            return LevelNotify;
        }
        return WindowManager::HandleAccepted();
    }

private:
    win::WindowSpec design() const {
        constexpr int Prompt = 70, Entry = 90, Gap = 4, Line = 14;
        const int left = Gap + Prompt + Gap;
        const int width = left + 3 * (Entry + Gap);
        const int rows = static_cast<int>(fields_.size());
        win::WindowSpec d;
        d.kind = win::WindowKind::Window;
        d.caption = "Example values";
        d.modal = true;
        d.center = true;
        d.resizable = false;
        const int buttonsAt = Gap + Line + rows * (Line + 2) + Gap;
        d.at = {-1, -1, width, buttonsAt + Line + Gap};
        d.add("PROMPT", HeadLow, {left, Gap, Entry, 10}, "Low bound");
        d.add("PROMPT", HeadExample, {left + Entry + Gap, Gap, Entry, 10}, "Example value");
        d.add("PROMPT", HeadHigh, {left + 2 * (Entry + Gap), Gap, Entry, 10}, "High bound");
        for (int i = 0; i < rows; ++i) {
            const QueryField& f = fields_[static_cast<std::size_t>(i)];
            const int y = Gap + Line + i * (Line + 2);
            d.add("PROMPT", rowControl(static_cast<std::size_t>(i), 0), {Gap, y + 2, Prompt, 10},
                  f.TITLE + ":");
            const char* what[] = {"Low bound of ", "Example value of ", "High bound of "};
            for (int c = 1; c <= 3; ++c) {
                win::ControlSpec& e = d.add("ENTRY", rowControl(static_cast<std::size_t>(i), c),
                                            {left + (c - 1) * (Entry + Gap), y, Entry, 12});
                e.text = what[c - 1] + f.TITLE; // its accessible name
                e.tip = c == 2 ? "A value, with =, <, >, ~ in front, ^ for any case, * for any text" : "";
            }
        }
        win::ControlSpec& ok = d.add("BUTTON", OkButton, {width - 2 * (45 + Gap), buttonsAt, 45, Line}, "OK");
        ok.defaultButton = true;
        ok.disabled = true;
        d.add("BUTTON", CancelButton, {width - (45 + Gap), buttonsAt, 45, Line}, "Cancel");
        return d;
    }

    std::vector<QueryField>& fields_;
};

} // namespace

std::uint8_t Query::Ask() {
    std::vector<QueryField> typed = FIELDS;
    QueryWindow window(typed);
    if (window.Run() != ResponseDone) return 0;
    FIELDS = std::move(typed);
    return 1;
}

} // namespace sorv::fw
