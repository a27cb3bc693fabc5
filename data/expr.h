// The expression language of view orders and filters: field names bound in the name registry,
// literals, arithmetic, concatenation, comparisons, logic and the text functions the framework
// writes ("UPPER(PPL:LastName)", "INSTRING('ON',UPPER(CUST:Company),1,1) <> 0").
//
// An expression is compiled once into a small tree whose field leaves are bound references, and
// evaluated many times (once per record while a view filters or sorts). Compiling never throws and
// never crashes on any input: a text that does not compile answers an error with its position and
// leaves the expression as it was.
#pragma once
#include "runtime/field.h"
#include "runtime/value.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

// Why a text did not compile: the error code (800 for a bad expression, 801 for a name that is
// not bound), the 1-based character position where the fault was found, and a short explanation.
struct ExprError {
    int code = 0;
    std::size_t position = 0;
    std::string message;
};

// Finds the field a name stands for; the default resolver is lookupName (the thread's names
// first, then the process's).
using NameResolver = std::function<std::optional<FieldRef>(std::string_view)>;

class Expression {
public:
    Expression();
    ~Expression();
    Expression(const Expression&);
    Expression& operator=(const Expression&);
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Compiles a text. On success the expression holds the new text and answers true. On failure
    // it keeps its earlier compiled state, compileError() tells why, the calling thread's current
    // error is set to the code, and the answer is false. An empty or blank text compiles to the
    // empty expression.
    bool compile(std::string_view text, const NameResolver& resolve = {});
    const ExprError& compileError() const { return error_; }

    // The text last compiled successfully.
    const std::string& text() const { return text_; }
    bool empty() const { return nodes_.empty(); }

    // The value of the expression over the current contents of the bound buffers (the empty
    // expression is 0). Never fails: arithmetic faults give 0, texts convert as the language does.
    Value evaluate() const;
    // The truth of the value: a number that is not zero, a text that is not blank. The empty
    // expression is true, so that "no filter" lets every record pass.
    bool isTrue() const;

    // The field when the expression is one field, and when it is UPPER of one field: the shapes
    // that can be read through a key.
    std::optional<FieldRef> asField() const;
    std::optional<FieldRef> asUpperField() const;
    // Every field the expression reads, in order of appearance, without repeats.
    std::vector<FieldRef> fields() const;

    // A comparison of a field (or of UPPER of one) with a constant that must hold for the whole
    // expression to be true: one of the terms its top-level ANDs join. `outcomes` says which
    // results of compare(field's value, constant) satisfy it (1 less, 2 equal, 4 greater).
    struct Bound {
        FieldRef field;
        bool upper = false;
        std::uint8_t outcomes = 0;
        Value constant;
    };
    std::vector<Bound> requiredBounds() const;

    // A read-only look at the compiled tree, for code that translates an expression into another
    // language (a database server's queries). Nodes are numbered; root() is -1 when empty.
    struct NodeView {
        // "CONST", "FIELD", "NEG", "NOT", "+", "-", "*", "/", "&", "COMPARE", "AND", "OR", or a
        // function's name ("UPPER", "SUB", "INSTRING", ...).
        std::string_view op;
        std::uint8_t compare = 0; // COMPARE: true when the outcome's bit is set (1 <, 2 =, 4 >)
        std::vector<int> args;
        const Value* constant = nullptr;
        const FieldRef* field = nullptr;
    };
    int root() const { return root_; }
    NodeView node(int index) const;

    struct Node;

private:
    std::vector<Node> nodes_;
    int root_ = -1;
    std::string text_;
    ExprError error_;
};

// The truth of a language value, as conditions take it.
bool isTrue(const Value& v);

// Whether the picture functions FORMAT and DEFORMAT are available to expressions.
bool expressionsHavePictures();

} // namespace sorv
