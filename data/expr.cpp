// Compiler and evaluator of the expression language.
//
// The compiler is a recursive-descent parser over a hand-written scanner. Precedence, lowest
// first: OR; AND; NOT (a prefix over a comparison); comparisons; & (concatenation); + and -;
// * and /; unary - + and NOT/~; primaries. The tree lives in one vector and children are indices,
// so an expression copies and moves as plain data. Two limits keep every input safe: nesting of
// the parser's recursion and the depth of the finished tree are both bounded, so neither
// compiling nor evaluating can exhaust the stack whatever the text.
#include "data/expr.h"

#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/registry.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

namespace sorv {

namespace {

enum class Op : std::uint8_t {
    Const,
    Field,
    Neg,
    Not,
    Add,
    Sub,
    Mul,
    Div,
    Concat,
    Compare,
    And,
    Or,
    Upper,
    Lower,
    SubStr,
    InString,
    Clip,
    Len,
    Int,
    Abs,
    Val,
    Format,
    Deformat,
};

// Comparison masks: which outcomes of compare() make the comparison true.
constexpr std::uint8_t Less = 1, Equal = 2, Greater = 4;

constexpr int MaxParseDepth = 256;
constexpr int MaxTreeDepth = 400;
constexpr int MaxArgs = 4;

struct FunctionInfo {
    const char* name;
    Op op;
    int minArgs;
    int maxArgs;
};

constexpr FunctionInfo functions[] = {
    {"UPPER", Op::Upper, 1, 1},       {"LOWER", Op::Lower, 1, 1},       {"SUB", Op::SubStr, 2, 3},
    {"INSTRING", Op::InString, 2, 4}, {"CLIP", Op::Clip, 1, 1},         {"LEN", Op::Len, 1, 1},
    {"INT", Op::Int, 1, 1},           {"ABS", Op::Abs, 1, 1},           {"VAL", Op::Val, 1, 1},
    {"FORMAT", Op::Format, 2, 2},     {"DEFORMAT", Op::Deformat, 1, 2},
};

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// UPPER runs once per record while a view sorts or filters: the case table is taken from
// toupper once, instead of a call per character.
std::string upper(std::string s) {
    static const auto table = [] {
        std::array<char, 256> t{};
        for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = static_cast<char>(std::toupper(c));
        return t;
    }();
    for (char& c : s) c = table[static_cast<unsigned char>(c)];
    return s;
}
std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A text used as a number counts as an exact decimal, so "12.5" + 1 is exactly 13.5.
Value numeric(const Value& v) {
    return v.isText() ? Value(v.toDecimal()) : v;
}

Value arithmetic(Op op, const Value& x, const Value& y) {
    Value a = numeric(x), b = numeric(y);
    using K = Value::Kind;
    if (a.kind() == K::Real || b.kind() == K::Real) {
        double p = a.toReal(), q = b.toReal(), r = 0;
        switch (op) {
        case Op::Add:
            r = p + q;
            break;
        case Op::Sub:
            r = p - q;
            break;
        case Op::Mul:
            r = p * q;
            break;
        default:
            r = q == 0 ? 0.0 : p / q;
            break;
        }
        if (!std::isfinite(r)) r = 0;
        return Value(r);
    }
    if (a.kind() == K::Long && b.kind() == K::Long) {
        std::int64_t p = a.toLong(), q = b.toLong(), r = 0;
        switch (op) {
        case Op::Add:
            if (!__builtin_add_overflow(p, q, &r)) return Value(r);
            break;
        case Op::Sub:
            if (!__builtin_sub_overflow(p, q, &r)) return Value(r);
            break;
        case Op::Mul:
            if (!__builtin_mul_overflow(p, q, &r)) return Value(r);
            break;
        default:
            if (q == 0) return Value(0);
            if (!(p == std::numeric_limits<std::int64_t>::min() && q == -1) && p % q == 0)
                return Value(p / q);
            break;
        }
        // Overflow or an inexact quotient: go on exactly in decimal.
    }
    Decimal p = a.toDecimal(), q = b.toDecimal();
    switch (op) {
    case Op::Add:
        return Value(p + q);
    case Op::Sub:
        return Value(p - q);
    case Op::Mul:
        return Value(p * q);
    default:
        return q.isZero() ? Value(0) : Value(p / q);
    }
}

Value negate(const Value& x) {
    Value a = numeric(x);
    switch (a.kind()) {
    case Value::Kind::Long: {
        std::int64_t v = a.toLong();
        if (v != std::numeric_limits<std::int64_t>::min()) return Value(-v);
        return Value(-Decimal(v));
    }
    case Value::Kind::Real:
        return Value(-a.toReal());
    default:
        return Value(-a.toDecimal());
    }
}

// SUB(text, position, length): a negative position counts from the right end; the part of the
// range outside the text is dropped.
std::string subString(const std::string& s, std::int64_t pos, std::optional<std::int64_t> len) {
    const std::int64_t size = static_cast<std::int64_t>(s.size());
    if (pos < 0) pos = size + pos + 1;
    if (pos == 0) pos = 1;
    __int128 first = pos;
    __int128 end = len ? first + *len : __int128(size) + 1; // one past the last wanted position
    if (first < 1) first = 1;
    if (end > size + 1) end = size + 1;
    if (end <= first) return {};
    return s.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(end - first));
}

// INSTRING(sought, text, step, start): the first position, starting at `start` and moving by
// `step` (backwards when negative), where `sought` occurs in `text`; 0 when nowhere.
std::int64_t inString(const std::string& sought, const std::string& s, std::int64_t step,
                      std::int64_t start) {
    const __int128 n = static_cast<__int128>(s.size()), m = static_cast<__int128>(sought.size());
    if (m == 0 || m > n) return 0;
    if (step == 0) step = 1;
    const __int128 last = n - m + 1; // the last position where it can fit
    __int128 pos = start;
    if (step > 0) {
        if (pos < 1) pos += ((1 - pos + step - 1) / step) * step;
        for (; pos <= last; pos += step)
            if (s.compare(static_cast<std::size_t>(pos - 1), sought.size(), sought) == 0)
                return static_cast<std::int64_t>(pos);
    } else {
        const __int128 back = -static_cast<__int128>(step);
        if (pos > last) pos -= ((pos - last + back - 1) / back) * back;
        for (; pos >= 1; pos -= back)
            if (s.compare(static_cast<std::size_t>(pos - 1), sought.size(), sought) == 0)
                return static_cast<std::int64_t>(pos);
    }
    return 0;
}

Value truncate(const Value& x) {
    Value a = numeric(x);
    switch (a.kind()) {
    case Value::Kind::Long:
        return a;
    case Value::Kind::Real: {
        double d = std::trunc(a.toReal());
        if (d > -9.2e18 && d < 9.2e18) return Value(static_cast<std::int64_t>(d));
        return Value(d);
    }
    default: {
        Decimal d = a.toDecimal().truncated(0);
        if (d.mantissa() >= std::numeric_limits<std::int64_t>::min() &&
            d.mantissa() <= std::numeric_limits<std::int64_t>::max())
            return Value(d.toInt64());
        return Value(d);
    }
    }
}

Value absolute(const Value& x) {
    Value a = numeric(x);
    switch (a.kind()) {
    case Value::Kind::Long: {
        std::int64_t v = a.toLong();
        if (v >= 0) return a;
        return negate(a);
    }
    case Value::Kind::Real:
        return Value(std::fabs(a.toReal()));
    default:
        return Value(a.toDecimal().abs());
    }
}

} // namespace

struct Expression::Node {
    Op op = Op::Const;
    std::uint8_t mask = 0; // comparisons
    std::uint8_t argc = 0;
    int args[MaxArgs] = {-1, -1, -1, -1};
    int depth = 1;
    Value constant;
    FieldRef field;
};

Expression::NodeView Expression::node(int index) const {
    NodeView v;
    if (index < 0 || index >= static_cast<int>(nodes_.size())) return v;
    const Node& n = nodes_[static_cast<std::size_t>(index)];
    switch (n.op) {
    case Op::Const:
        v.op = "CONST";
        v.constant = &n.constant;
        break;
    case Op::Field:
        v.op = "FIELD";
        v.field = &n.field;
        break;
    case Op::Neg:
        v.op = "NEG";
        break;
    case Op::Not:
        v.op = "NOT";
        break;
    case Op::Add:
        v.op = "+";
        break;
    case Op::Sub:
        v.op = "-";
        break;
    case Op::Mul:
        v.op = "*";
        break;
    case Op::Div:
        v.op = "/";
        break;
    case Op::Concat:
        v.op = "&";
        break;
    case Op::Compare:
        v.op = "COMPARE";
        v.compare = n.mask;
        break;
    case Op::And:
        v.op = "AND";
        break;
    case Op::Or:
        v.op = "OR";
        break;
    default:
        for (const FunctionInfo& f : functions)
            if (f.op == n.op) v.op = f.name;
        break;
    }
    for (int i = 0; i < n.argc; ++i) v.args.push_back(n.args[i]);
    return v;
}

bool isTrue(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Long:
        return v.toLong() != 0;
    case Value::Kind::Real:
        return v.toReal() != 0;
    case Value::Kind::Decimal:
        return !v.toDecimal().isZero();
    case Value::Kind::Text:
        return !clipRight(v.text()).empty();
    }
    return false;
}

bool expressionsHavePictures() {
    return true;
}

namespace {

using Node = Expression::Node;

Value evalNode(const std::vector<Node>& nodes, int index) {
    const Node& n = nodes[static_cast<std::size_t>(index)];
    auto arg = [&](int i) { return evalNode(nodes, n.args[i]); };
    switch (n.op) {
    case Op::Const:
        return n.constant;
    case Op::Field:
        return n.field.get();
    case Op::Neg:
        return negate(arg(0));
    case Op::Not:
        return Value(isTrue(arg(0)) ? 0 : 1);
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
        return arithmetic(n.op, arg(0), arg(1));
    case Op::Concat: {
        std::string s = arg(0).toText();
        s += arg(1).toText();
        return Value(std::move(s));
    }
    case Op::Compare: {
        int c = compare(arg(0), arg(1));
        std::uint8_t outcome = c < 0 ? Less : (c > 0 ? Greater : Equal);
        return Value((n.mask & outcome) ? 1 : 0);
    }
    case Op::And:
        return Value(isTrue(arg(0)) && isTrue(arg(1)) ? 1 : 0);
    case Op::Or:
        return Value(isTrue(arg(0)) || isTrue(arg(1)) ? 1 : 0);
    case Op::Upper:
        return Value(upper(arg(0).toText()));
    case Op::Lower:
        return Value(lower(arg(0).toText()));
    case Op::SubStr: {
        std::optional<std::int64_t> len;
        if (n.argc > 2) len = arg(2).toLong();
        return Value(subString(arg(0).toText(), arg(1).toLong(), len));
    }
    case Op::InString: {
        std::int64_t step = n.argc > 2 ? arg(2).toLong() : 1;
        std::int64_t start = n.argc > 3 ? arg(3).toLong() : 1;
        return Value(inString(arg(0).toText(), arg(1).toText(), step, start));
    }
    case Op::Clip:
        return Value(std::string(clipRight(arg(0).toText())));
    case Op::Len:
        return Value(static_cast<std::int64_t>(arg(0).toText().size()));
    case Op::Int:
        return truncate(arg(0));
    case Op::Abs:
        return absolute(arg(0));
    case Op::Val: {
        std::string s = arg(0).toText();
        return Value(s.empty() ? 0 : static_cast<int>(static_cast<unsigned char>(s[0])));
    }
    case Op::Format:
        return Value(FORMAT(arg(0), *compilePicture(arg(1).toText())));
    case Op::Deformat: {
        if (n.argc > 1) return DEFORMAT(arg(0).toText(), *compilePicture(arg(1).toText()));
        // Without a picture: the number that the text's digits spell, with the first point and
        // a minus written before the first digit; every other character is formatting.
        std::string kept;
        bool point = false, digits = false;
        for (char c : arg(0).toText()) {
            if (c >= '0' && c <= '9') {
                kept += c;
                digits = true;
            } else if (c == '.' && !point) {
                kept += c;
                point = true;
            } else if (c == '-' && !digits && kept.empty()) {
                kept += c;
            }
        }
        return Value(Value(kept).toDecimal());
    }
    }
    return Value();
}

// Scanner and parser. Errors are collected in `error` and stop the parse at the first fault.
class Parser {
public:
    Parser(std::string_view text, const NameResolver& resolve, std::vector<Node>& nodes)
        : s_(text), resolve_(resolve), nodes_(nodes) {}

    int parseAll(ExprError& error) {
        int root = parseOr();
        skipBlanks();
        if (ok() && i_ < s_.size()) fail(i_, "unexpected '" + std::string(1, s_[i_]) + "'");
        if (!ok()) {
            error = error_;
            return -1;
        }
        return root;
    }

private:
    bool ok() const { return error_.code == 0; }
    int fail(std::size_t at, std::string message, int code = err::BadExpression) {
        if (ok()) {
            error_.code = code;
            error_.position = at + 1;
            error_.message = std::move(message);
        }
        return -1;
    }

    void skipBlanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool atEnd() {
        skipBlanks();
        return i_ >= s_.size();
    }
    char peek() {
        skipBlanks();
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    // A keyword (AND, OR, NOT) as a whole word at the current position.
    bool peekWord(std::string_view word) {
        skipBlanks();
        if (i_ + word.size() > s_.size()) return false;
        if (!equalsNoCase(s_.substr(i_, word.size()), word)) return false;
        return i_ + word.size() == s_.size() || !isNameChar(s_[i_ + word.size()]);
    }
    bool takeWord(std::string_view word) {
        if (!peekWord(word)) return false;
        i_ += word.size();
        return true;
    }

    int add(Node n) {
        for (int k = 0; k < n.argc; ++k)
            n.depth = std::max(n.depth, nodes_[static_cast<std::size_t>(n.args[k])].depth + 1);
        if (n.depth > MaxTreeDepth) return fail(i_, "expression too complex");
        // Fold operations over constants now, so that per-record evaluation skips them.
        bool foldable = n.op != Op::Const && n.op != Op::Field && n.argc > 0;
        for (int k = 0; k < n.argc && foldable; ++k)
            foldable = nodes_[static_cast<std::size_t>(n.args[k])].op == Op::Const;
        if (foldable) {
            nodes_.push_back(n);
            Value v = evalNode(nodes_, static_cast<int>(nodes_.size() - 1));
            nodes_.pop_back();
            Node c;
            c.constant = std::move(v);
            nodes_.push_back(std::move(c));
            return static_cast<int>(nodes_.size() - 1);
        }
        nodes_.push_back(std::move(n));
        return static_cast<int>(nodes_.size() - 1);
    }
    int binary(Op op, int a, int b, std::uint8_t mask = 0) {
        if (a < 0 || b < 0) return -1;
        Node n;
        n.op = op;
        n.mask = mask;
        n.argc = 2;
        n.args[0] = a;
        n.args[1] = b;
        return add(std::move(n));
    }
    int unary(Op op, int a) {
        if (a < 0) return -1;
        Node n;
        n.op = op;
        n.argc = 1;
        n.args[0] = a;
        return add(std::move(n));
    }

    // Guards every recursive descent so that deeply nested input fails instead of overflowing.
    struct Nest {
        Parser& p;
        bool over;
        explicit Nest(Parser& parser) : p(parser), over(++parser.depth_ > MaxParseDepth) {}
        ~Nest() { --p.depth_; }
    };

    int parseOr() {
        Nest nest(*this);
        if (nest.over) return fail(i_, "expression nested too deeply");
        int left = parseAnd();
        while (ok() && takeWord("OR")) left = binary(Op::Or, left, parseAnd());
        return ok() ? left : -1;
    }
    int parseAnd() {
        int left = parseNot();
        while (ok() && takeWord("AND")) left = binary(Op::And, left, parseNot());
        return ok() ? left : -1;
    }
    int parseNot() {
        if (!takeNot()) return parseComparison();
        Nest nest(*this);
        if (nest.over) return fail(i_, "expression nested too deeply");
        return unary(Op::Not, parseNot());
    }
    // NOT or a "~" that does not start a comparison operator.
    bool takeNot() {
        if (takeWord("NOT")) return true;
        if (peek() == '~') {
            ++i_;
            return true;
        }
        return false;
    }

    // A comparison operator: any of "<", ">", "=" each at most once, optionally led by "~" which
    // turns the relation into its opposite ("~=" not equal, "~<" not less). "<>" and "><" are
    // "not equal", "<=" and "=<" the same, and so on. A "~" right after "<" or ">" negates too
    // ("<~" is "~<"; query by example writes operators in the order they were typed), where it
    // would otherwise be read as NOT of the right-hand side. Answers the mask, 0 when there is none.
    std::uint8_t takeComparison() {
        skipBlanks();
        std::size_t j = i_;
        bool negated = false;
        if (j < s_.size() && s_[j] == '~') {
            negated = true;
            ++j;
        }
        std::uint8_t mask = 0;
        std::size_t k = j;
        for (; k < s_.size(); ++k) {
            if (s_[k] == '~' && !negated && (mask & (Less | Greater)) && !(mask & Equal)) {
                negated = true;
                continue;
            }
            std::uint8_t bit = s_[k] == '<' ? Less : s_[k] == '>' ? Greater : s_[k] == '=' ? Equal : 0;
            if (!bit || (mask & bit)) break;
            mask |= bit;
        }
        if (mask == 0) return 0;
        i_ = k;
        if ((mask & (Less | Greater)) == (Less | Greater) && !(mask & Equal)) mask = Less | Greater;
        if (negated) mask = static_cast<std::uint8_t>(~mask & (Less | Equal | Greater));
        // "~<>=" would be never true; it is refused rather than silently always false.
        if (mask == 0) return fail(j, "comparison that can never hold"), 0;
        return mask;
    }

    int parseComparison() {
        int left = parseConcat();
        while (ok()) {
            std::size_t at = i_;
            std::uint8_t mask = takeComparison();
            if (!ok()) return -1;
            if (!mask) break;
            if (atEnd()) return fail(at, "comparison without a right-hand side");
            left = binary(Op::Compare, left, parseConcat(), mask);
        }
        return ok() ? left : -1;
    }
    int parseConcat() {
        int left = parseAdditive();
        while (ok() && peek() == '&') {
            ++i_;
            left = binary(Op::Concat, left, parseAdditive());
        }
        return ok() ? left : -1;
    }
    int parseAdditive() {
        int left = parseMultiplicative();
        while (ok() && (peek() == '+' || peek() == '-')) {
            Op op = s_[i_++] == '+' ? Op::Add : Op::Sub;
            left = binary(op, left, parseMultiplicative());
        }
        return ok() ? left : -1;
    }
    int parseMultiplicative() {
        int left = parseUnary();
        while (ok() && (peek() == '*' || peek() == '/')) {
            Op op = s_[i_++] == '*' ? Op::Mul : Op::Div;
            left = binary(op, left, parseUnary());
        }
        return ok() ? left : -1;
    }
    int parseUnary() {
        char c = peek();
        Op op;
        if (c == '-' || c == '+') {
            op = c == '-' ? Op::Neg : Op::Const;
            ++i_;
        } else if (c == '~' && i_ + 1 < s_.size() && s_[i_ + 1] != '=' && s_[i_ + 1] != '<' &&
                   s_[i_ + 1] != '>') {
            // "~" here is a prefix NOT only when no comparison operator follows it directly.
            op = Op::Not;
            ++i_;
        } else if (peekWord("NOT")) {
            op = Op::Not;
            i_ += 3;
        } else {
            return parsePrimary();
        }
        Nest nest(*this);
        if (nest.over) return fail(i_, "expression nested too deeply");
        int operand = parseUnary();
        return op == Op::Const ? operand : unary(op, operand);
    }

    int parsePrimary() {
        skipBlanks();
        if (i_ >= s_.size()) return fail(i_, "operand expected at the end");
        char c = s_[i_];
        if (c == '(') {
            std::size_t open = i_++;
            int inner = parseOr();
            if (!ok()) return -1;
            if (peek() != ')') return fail(atEnd() ? open : i_, "')' expected");
            ++i_;
            return inner;
        }
        if (c == '\'') return parseString();
        if (isDigit(c) || (c == '.' && i_ + 1 < s_.size() && isDigit(s_[i_ + 1]))) return parseNumber();
        if (isNameStart(c)) return parseName();
        return fail(i_, "unexpected '" + std::string(1, c) + "'");
    }

    int parseString() {
        std::size_t start = i_++;
        std::string value;
        while (true) {
            if (i_ >= s_.size()) return fail(start, "string not closed");
            char c = s_[i_++];
            if (c == '\'') {
                if (i_ < s_.size() && s_[i_] == '\'') {
                    value += '\'';
                    ++i_;
                    continue;
                }
                break;
            }
            value += c;
        }
        Node n;
        n.constant = Value(std::move(value));
        return add(std::move(n));
    }

    int parseNumber() {
        std::size_t start = i_;
        bool point = false;
        while (i_ < s_.size() && (isDigit(s_[i_]) || (s_[i_] == '.' && !point))) {
            point = point || s_[i_] == '.';
            ++i_;
        }
        if (i_ < s_.size() && (isNameChar(s_[i_]) || s_[i_] == '.')) return fail(i_, "malformed number");
        std::string_view digits = s_.substr(start, i_ - start);
        Node n;
        if (!point && digits.size() <= 18) {
            std::int64_t v = 0;
            for (char d : digits) v = v * 10 + (d - '0');
            n.constant = Value(v);
        } else {
            auto d = Decimal::parse(digits);
            if (!d) return fail(start, "number too long");
            n.constant = Value(*d);
        }
        return add(std::move(n));
    }

    int parseName() {
        std::size_t start = i_;
        while (i_ < s_.size() && isNameChar(s_[i_])) ++i_;
        std::string_view name = s_.substr(start, i_ - start);
        if (peek() == '(') return parseCall(name, start);
        if (equalsNoCase(name, "AND") || equalsNoCase(name, "OR"))
            return fail(start, "operand expected before " + upper(std::string(name)));
        std::optional<FieldRef> ref = resolve_ ? resolve_(name) : lookupName(name);
        if (!ref || !ref->valid()) return fail(start, "no field named " + std::string(name), err::NoBind);
        Node n;
        n.op = Op::Field;
        n.field = *ref;
        return add(std::move(n));
    }

    int parseCall(std::string_view name, std::size_t start) {
        const FunctionInfo* fn = nullptr;
        for (const FunctionInfo& f : functions)
            if (equalsNoCase(name, f.name)) fn = &f;
        if (!fn) return fail(start, "unknown function " + upper(std::string(name)));
        if ((fn->op == Op::Format || fn->op == Op::Deformat) && !expressionsHavePictures())
            return fail(start, std::string(fn->name) + " is not available");
        ++i_; // "("
        Node n;
        n.op = fn->op;
        if (peek() != ')') {
            while (true) {
                int a = parseOr();
                if (!ok()) return -1;
                n.args[n.argc++] = a;
                if (peek() != ',') break;
                if (n.argc == fn->maxArgs) return fail(i_, std::string("too many arguments for ") + fn->name);
                ++i_;
            }
        }
        if (peek() != ')')
            return fail(atEnd() ? start : i_, "')' expected after the arguments of " + std::string(fn->name));
        ++i_;
        if (n.argc < fn->minArgs) return fail(start, std::string("too few arguments for ") + fn->name);
        // A picture written as a literal is checked now, so that a typing mistake is reported.
        if ((n.op == Op::Format || n.op == Op::Deformat) && n.argc > 1) {
            const Node& pic = nodes_[static_cast<std::size_t>(n.args[1])];
            if (pic.op == Op::Const && !compilePicture(pic.constant.toText())->valid())
                return fail(start, "invalid picture '" + pic.constant.toText() + "'");
        }
        return add(std::move(n));
    }

    std::string_view s_;
    std::size_t i_ = 0;
    int depth_ = 0;
    const NameResolver& resolve_;
    std::vector<Node>& nodes_;
    ExprError error_;
};

} // namespace

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(const Expression&) = default;
Expression& Expression::operator=(const Expression&) = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

bool Expression::compile(std::string_view text, const NameResolver& resolve) {
    std::vector<Node> nodes;
    ExprError error;
    int root = -1;
    bool blank = clipRight(text).find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (!blank) {
        Parser parser(text, resolve, nodes);
        root = parser.parseAll(error);
        if (root < 0) {
            error_ = std::move(error);
            setError(error_.code);
            return false;
        }
    }
    nodes_ = std::move(nodes);
    root_ = root;
    text_ = std::string(text);
    error_ = ExprError{};
    return true;
}

Value Expression::evaluate() const {
    if (root_ < 0) return Value(0);
    return evalNode(nodes_, root_);
}

bool Expression::isTrue() const {
    if (root_ < 0) return true;
    return sorv::isTrue(evalNode(nodes_, root_));
}

std::optional<FieldRef> Expression::asField() const {
    if (root_ < 0) return std::nullopt;
    const Node& n = nodes_[static_cast<std::size_t>(root_)];
    if (n.op == Op::Field) return n.field;
    return std::nullopt;
}

std::optional<FieldRef> Expression::asUpperField() const {
    if (root_ < 0) return std::nullopt;
    const Node& n = nodes_[static_cast<std::size_t>(root_)];
    if (n.op != Op::Upper) return std::nullopt;
    const Node& a = nodes_[static_cast<std::size_t>(n.args[0])];
    if (a.op == Op::Field) return a.field;
    return std::nullopt;
}

std::vector<Expression::Bound> Expression::requiredBounds() const {
    std::vector<Bound> out;
    if (root_ < 0) return out;
    auto node = [&](int i) -> const Node& { return nodes_[static_cast<std::size_t>(i)]; };
    // The field a side compares: the field itself or UPPER of it.
    auto fieldOf = [&](const Node& n, Bound& b) {
        if (n.op == Op::Field) {
            b.field = n.field;
            return true;
        }
        if (n.op == Op::Upper && node(n.args[0]).op == Op::Field) {
            b.field = node(n.args[0]).field;
            b.upper = true;
            return true;
        }
        return false;
    };
    std::vector<int> pending{root_};
    while (!pending.empty()) {
        const Node& n = node(pending.back());
        pending.pop_back();
        if (n.op == Op::And) {
            pending.push_back(n.args[0]);
            pending.push_back(n.args[1]);
            continue;
        }
        if (n.op != Op::Compare) continue;
        Bound b;
        const Node &left = node(n.args[0]), &right = node(n.args[1]);
        if (right.op == Op::Const && fieldOf(left, b)) {
            b.outcomes = n.mask;
            b.constant = right.constant;
        } else if (left.op == Op::Const && fieldOf(right, b)) {
            // constant < field is field > constant
            b.outcomes = static_cast<std::uint8_t>((n.mask & Equal) | ((n.mask & Less) ? Greater : 0) |
                                                   ((n.mask & Greater) ? Less : 0));
            b.constant = left.constant;
        } else {
            continue;
        }
        out.push_back(std::move(b));
    }
    return out;
}

std::vector<FieldRef> Expression::fields() const {
    std::vector<FieldRef> out;
    // Nodes are stored children first, in the order the text names them.
    for (const Node& n : nodes_) {
        if (n.op != Op::Field) continue;
        bool seen = false;
        for (const FieldRef& f : out) seen = seen || f == n.field;
        if (!seen) out.push_back(n.field);
    }
    return out;
}

} // namespace sorv
