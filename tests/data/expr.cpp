// The expression language: every operator and function, the filter forms that locators and
// queries build, compile errors with positions, and a seeded fuzz of the compiler.
#include "data/expr.h"

#include "runtime/errors.h"
#include "runtime/registry.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace sorv;

namespace {

// A small person record bound in the test thread's names, as a threaded file would be.
class ExprTest : public ::testing::Test {
protected:
    void SetUp() override {
        Layout l;
        l.add("PPL:LastName", FieldType::String, 20);
        l.add("PPL:FirstName", FieldType::String, 20);
        l.addDecimal("PPL:Salary", 9, 2);
        l.add("PPL:Age", FieldType::Long);
        l.add("PPL:Rate", FieldType::Real);
        l.add("CUST:Company", FieldType::String, 30);
        l.add("PPL:Nick", FieldType::CString, 10);
        rec.setLayout(l);
        threadNames().bindRecord(rec);
        rec.set("PPL:LastName", "Smith");
        rec.set("PPL:FirstName", "anna");
        rec.set("PPL:Salary", Value(*Decimal::parse("1234.50")));
        rec.set("PPL:Age", 42);
        rec.set("PPL:Rate", 0.5);
        rec.set("CUST:Company", "Boston Widgets");
    }
    void TearDown() override { threadNames().unbindRecord(rec); }

    Value eval(std::string_view text) {
        Expression e;
        EXPECT_TRUE(e.compile(text)) << text << ": " << e.compileError().message;
        return e.evaluate();
    }
    std::string text(std::string_view t) { return eval(t).toText(); }
    bool truth(std::string_view t) {
        Expression e;
        EXPECT_TRUE(e.compile(t)) << t << ": " << e.compileError().message;
        return e.isTrue();
    }
    ExprError failure(std::string_view t) {
        Expression e;
        EXPECT_FALSE(e.compile(t)) << t;
        return e.compileError();
    }

    Record rec;
};

TEST_F(ExprTest, LiteralsAndArithmeticAreExact) {
    EXPECT_EQ(text("12"), "12");
    EXPECT_EQ(text("'it''s'"), "it's");
    EXPECT_EQ(text("''''"), "'");
    EXPECT_EQ(text("''"), "");
    EXPECT_EQ(text(".5 + 1"), "1.5");
    // Decimal literals add exactly, never through binary fractions.
    EXPECT_EQ(compare(eval("0.1 + 0.2"), Value(*Decimal::parse("0.3"))), 0);
    EXPECT_EQ(text("7 / 2"), "3.5");
    EXPECT_EQ(eval("6 / 3").kind(), Value::Kind::Long);
    EXPECT_EQ(text("1 / 3 * 3"), "0.9999999999999999999999999999999");
    EXPECT_EQ(text("5 / 0"), "0");
    EXPECT_EQ(text("5.5 / 0"), "0");
    EXPECT_EQ(text("PPL:Rate / 0"), "0");
    EXPECT_EQ(text("9223372036854775807 + 1"), "9223372036854775808");
    EXPECT_EQ(text("-9223372036854775807 - 2"), "-9223372036854775809");
    EXPECT_EQ(text("4294967296 * 4294967296"), "18446744073709551616");
    EXPECT_EQ(text("123456789012345678901234567890"), "123456789012345678901234567890");
    EXPECT_EQ(text("PPL:Salary * 2"), "2469");
    EXPECT_EQ(text("PPL:Salary + PPL:Rate"), "1235");
    EXPECT_EQ(text("'12.5' + 1"), "13.5");
    EXPECT_EQ(text("'abc' + 1"), "1");
}

TEST_F(ExprTest, PrecedenceAndAssociativity) {
    EXPECT_EQ(text("1 + 2 * 3"), "7");
    EXPECT_EQ(text("(1 + 2) * 3"), "9");
    EXPECT_EQ(text("10 - 4 - 3"), "3");
    EXPECT_EQ(text("64 / 4 / 2"), "8");
    EXPECT_EQ(text("8 / 4 * 2"), "4");
    EXPECT_EQ(text("-2 * -3"), "6");
    EXPECT_EQ(text("-2 * 3 + -1"), "-7");
    EXPECT_EQ(text("- -2"), "2");
    EXPECT_EQ(text("+2"), "2");
    EXPECT_EQ(text("'a' & 1 + 2"), "a3");
    EXPECT_EQ(text("'a' & 'b' & 'c'"), "abc");
    EXPECT_TRUE(truth("1 + 1 = 2"));
    EXPECT_TRUE(truth("'a' & 'b' = 'ab'"));
    EXPECT_EQ(text("'x' & 2 * 3 = 'x6'"), "1") << "not 'x' & (6 = 'x6')";
    EXPECT_TRUE(truth("1 = 1 OR 1 = 2 AND 0"));
    EXPECT_FALSE(truth("(1 = 1 OR 1 = 2) AND 0"));
    EXPECT_TRUE(truth("NOT 1 = 2"));
    EXPECT_FALSE(truth("NOT 1 = 1 AND 1"));
    EXPECT_TRUE(truth("1 = NOT 0"));
    EXPECT_TRUE(truth("~(1 = 2)"));
    EXPECT_TRUE(truth("~0"));
    EXPECT_TRUE(truth("1 = 1 and 2 = 2"));
    EXPECT_TRUE(truth("0 or 1"));
}

TEST_F(ExprTest, EveryComparisonOperator) {
    struct Case {
        const char* op;
        bool lt, eq, gt;
    } cases[] = {
        {"=", 0, 1, 0},
        {"<>", 1, 0, 1},
        {"><", 1, 0, 1},
        {"~=", 1, 0, 1},
        {"<", 1, 0, 0},
        {">", 0, 0, 1},
        {"<=", 1, 1, 0},
        {"=<", 1, 1, 0},
        {">=", 0, 1, 1},
        {"=>", 0, 1, 1},
        {"~<", 0, 1, 1},
        {"~>", 1, 1, 0},
        {"~<=", 0, 0, 1},
        // "~" after "<" or ">" negates as in front (operators kept in the order typed).
        {"<~", 0, 1, 1},
        {">~", 1, 1, 0},
        {"<~=", 0, 0, 1},
        {"<>~", 0, 1, 0},
    };
    for (const Case& c : cases) {
        std::string op = c.op;
        EXPECT_EQ(truth("1 " + op + " 2"), c.lt) << op;
        EXPECT_EQ(truth("2 " + op + " 2"), c.eq) << op;
        EXPECT_EQ(truth("3 " + op + " 2"), c.gt) << op;
        EXPECT_EQ(truth("'abc' " + op + " 'abd'"), c.lt) << op;
        EXPECT_EQ(truth("'b'" + op + "'b  '"), c.eq) << op;
        EXPECT_EQ(truth("'b'" + op + "'a'"), c.gt) << op;
    }
    // A comparison that can never hold is refused rather than silently false.
    EXPECT_EQ(failure("1 ~<>= 2").code, err::BadExpression);
    EXPECT_EQ(failure("1 <>~= 2").code, err::BadExpression);
    // With a blank between, "~" is still NOT of the right-hand side.
    EXPECT_TRUE(truth("0 = ~1"));
    EXPECT_TRUE(truth("1 > ~1"));
}

TEST_F(ExprTest, TextComparesWithoutTrailingBlanksAndNumbersExactly) {
    EXPECT_TRUE(truth("PPL:LastName = 'Smith'"));
    EXPECT_TRUE(truth("PPL:LastName = 'Smith   '"));
    EXPECT_FALSE(truth("PPL:LastName = ' Smith'"));
    EXPECT_FALSE(truth("PPL:LastName = 'smith'"));
    EXPECT_TRUE(truth("PPL:LastName < 'Smiths'"));
    EXPECT_TRUE(truth("PPL:Salary = 1234.5"));
    EXPECT_TRUE(truth("PPL:Salary > 1234.49"));
    EXPECT_TRUE(truth("PPL:Salary < 1234.51"));
    EXPECT_TRUE(truth("PPL:Age = '42'"));
    EXPECT_TRUE(truth("PPL:Age < 100"));
    EXPECT_TRUE(truth("PPL:Rate = 0.5"));
    // An unfilled text field is blank, so it is false as a condition.
    EXPECT_FALSE(truth("PPL:Nick"));
    EXPECT_TRUE(truth("PPL:LastName"));
}

TEST_F(ExprTest, TextFunctions) {
    EXPECT_EQ(text("UPPER(PPL:FirstName)"), "ANNA                ");
    EXPECT_EQ(text("LOWER('MiXeD 12')"), "mixed 12");
    EXPECT_EQ(text("CLIP(PPL:LastName) & ','"), "Smith,");
    EXPECT_EQ(text("LEN(PPL:LastName)"), "20");
    EXPECT_EQ(text("LEN(CLIP(PPL:LastName))"), "5");
    EXPECT_EQ(text("LEN('')"), "0");
    EXPECT_EQ(text("LEN(12.50)"), "4");
    EXPECT_EQ(text("SUB('abcdef', 2, 3)"), "bcd");
    EXPECT_EQ(text("SUB('abcdef', 5, 10)"), "ef");
    EXPECT_EQ(text("SUB('abcdef', 7, 1)"), "");
    EXPECT_EQ(text("SUB('abcdef', 3)"), "cdef");
    EXPECT_EQ(text("SUB('abcdef', -2, 2)"), "ef");
    EXPECT_EQ(text("SUB('abcdef', -10, 6)"), "ab");
    EXPECT_EQ(text("SUB('abcdef', -10, 2)"), "");
    EXPECT_EQ(text("SUB('abcdef', 0, 2)"), "ab");
    EXPECT_EQ(text("SUB('abcdef', 2, 0)"), "");
    EXPECT_EQ(text("SUB('abcdef', 2, -5)"), "");
    EXPECT_EQ(text("SUB('abc', 9223372036854775807, 9223372036854775807)"), "");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd')"), "3");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', 1, 4)"), "5");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', 2, 1)"), "3");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', 2, 2)"), "0");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', -1, 6)"), "5");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', -1, 4)"), "3");
    EXPECT_EQ(text("INSTRING('cd', 'abcdcd', 1, -7)"), "3");
    EXPECT_EQ(text("INSTRING('x', 'abc')"), "0");
    EXPECT_EQ(text("INSTRING('', 'abc')"), "0");
    EXPECT_EQ(text("INSTRING('abcd', 'abc')"), "0");
    EXPECT_EQ(text("INSTRING('c', 'abc', 0, 1)"), "3");
    EXPECT_EQ(text("INSTRING('a', 'aaa', 1, -9223372036854775807)"), "1");
    EXPECT_EQ(text("VAL('A')"), "65");
    EXPECT_EQ(text("VAL('')"), "0");
    EXPECT_EQ(text("VAL(PPL:Nick)"), "0");
}

TEST_F(ExprTest, NumberFunctions) {
    EXPECT_EQ(text("INT(-3.7)"), "-3");
    EXPECT_EQ(text("INT(3.7)"), "3");
    EXPECT_EQ(text("INT(PPL:Salary)"), "1234");
    EXPECT_EQ(text("INT(PPL:Rate + 2)"), "2");
    EXPECT_EQ(text("INT(7 / 2)"), "3");
    EXPECT_EQ(text("INT('9.9')"), "9");
    EXPECT_EQ(text("ABS(-5)"), "5");
    EXPECT_EQ(text("ABS(-2.25)"), "2.25");
    EXPECT_EQ(text("ABS(-9223372036854775807 - 1)"), "9223372036854775808");
    EXPECT_EQ(text("ABS(0 - PPL:Rate)"), "0.5");
    EXPECT_EQ(text("ABS(3)"), "3");
}

TEST_F(ExprTest, PictureFunctions) {
    ASSERT_TRUE(expressionsHavePictures());
    EXPECT_EQ(text("FORMAT(PPL:Salary, '@n9.2')"), " 1,234.50");
    EXPECT_EQ(text("CLIP(FORMAT(PPL:LastName, '@s3'))"), "Smi");
    EXPECT_EQ(text("DEFORMAT(' 1,234.50', '@n9.2') + 1"), "1235.5");
    EXPECT_EQ(text("DEFORMAT('(555) 123-4567')"), "5551234567");
    EXPECT_EQ(text("DEFORMAT('-1,5.5')"), "-15.5");
    EXPECT_TRUE(truth("DEFORMAT(FORMAT(PPL:Salary, '@n12.2'), '@n12.2') = PPL:Salary"));
    // A literal picture is checked when the expression compiles; a computed one gives "".
    EXPECT_EQ(failure("FORMAT(PPL:Salary, '@q')").code, err::BadExpression);
    EXPECT_EQ(text("FORMAT(1, CLIP(PPL:LastName))"), "");
    EXPECT_EQ(failure("FORMAT(1)").code, err::BadExpression);
}

// The forms that locators, queries, range limits and header sorting write.
TEST_F(ExprTest, FilterFormsOfTheFramework) {
    EXPECT_TRUE(truth("SUB(UPPER(PPL:LastName),1,2) = 'SM'"));
    EXPECT_FALSE(truth("SUB(UPPER(PPL:LastName),1,2) = 'SN'"));
    EXPECT_TRUE(truth("INSTRING('ON',UPPER(CUST:Company),1,1) <> 0"));
    EXPECT_FALSE(truth("INSTRING('ON',CUST:Company,1,1) <> 0"));
    EXPECT_TRUE(truth("INSTRING('on',CUST:Company,1,1) <> 0"));
    EXPECT_TRUE(truth("(UPPER(CUST:Company) <= 'M')"));
    EXPECT_TRUE(truth("(PPL:Salary >= 1000) AND (PPL:Salary <= 2000)"));
    EXPECT_FALSE(truth("(PPL:Salary > 1234.5) AND (PPL:Salary <= 2000)"));
    EXPECT_TRUE(truth("PPL:Age = 42 AND (SUB(PPL:LastName,1,0) = '')"));
    EXPECT_TRUE(
        truth("(SUB(UPPER(PPL:LastName),1,1) = 'S') AND (INSTRING('BOS',UPPER(CUST:Company),1,1) <> 0)"));
    rec.set("CUST:Company", "O'Brien & Sons");
    EXPECT_TRUE(truth("(CUST:Company = 'O''Brien & Sons')"));
    EXPECT_TRUE(truth("(UPPER(CUST:Company) = 'O''BRIEN & SONS')"));
    EXPECT_TRUE(truth("INSTRING('''',CUST:Company,1,1) = 2"));
}

TEST_F(ExprTest, FieldsAreReadAtEveryEvaluation) {
    Expression e;
    ASSERT_TRUE(e.compile("UPPER(PPL:LastName) & '/' & PPL:Age"));
    EXPECT_EQ(e.evaluate().toText(), "SMITH               /42");
    rec.set("PPL:LastName", "Jones");
    rec.set("PPL:Age", -7);
    EXPECT_EQ(e.evaluate().toText(), "JONES               /-7");
    Expression f;
    ASSERT_TRUE(f.compile("PPL:Age < 0"));
    EXPECT_TRUE(f.isTrue());
    rec.set("PPL:Age", 1);
    EXPECT_FALSE(f.isTrue());
    // Copies evaluate over the same buffers.
    Expression g = f;
    EXPECT_FALSE(g.isTrue());
    rec.set("PPL:Age", -1);
    EXPECT_TRUE(g.isTrue());
}

TEST_F(ExprTest, ShapesThatAKeyCanServe) {
    Expression e;
    ASSERT_TRUE(e.compile("ppl:lastname"));
    ASSERT_TRUE(e.asField().has_value());
    EXPECT_EQ(e.asField()->name(), "PPL:LastName");
    EXPECT_FALSE(e.asUpperField());
    ASSERT_TRUE(e.compile(" UPPER( PPL:FirstName ) "));
    EXPECT_FALSE(e.asField());
    ASSERT_TRUE(e.asUpperField().has_value());
    EXPECT_EQ(e.asUpperField()->name(), "PPL:FirstName");
    ASSERT_TRUE(e.compile("UPPER(CLIP(PPL:FirstName))"));
    EXPECT_FALSE(e.asUpperField());
    ASSERT_TRUE(e.compile("PPL:Age + PPL:Salary * PPL:Age > 0 AND CUST:Company <> ''"));
    auto fs = e.fields();
    ASSERT_EQ(fs.size(), 3u);
    EXPECT_EQ(fs[0].name(), "PPL:Age");
    EXPECT_EQ(fs[1].name(), "PPL:Salary");
    EXPECT_EQ(fs[2].name(), "CUST:Company");
}

TEST_F(ExprTest, EmptyExpressionPassesEverything) {
    Expression e;
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(e.isTrue());
    ASSERT_TRUE(e.compile("PPL:Age = 1"));
    EXPECT_FALSE(e.isTrue());
    ASSERT_TRUE(e.compile("   \t"));
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(e.isTrue());
    EXPECT_EQ(e.evaluate().toText(), "0");
}

TEST_F(ExprTest, ErrorsCarryCodeAndPosition) {
    struct Case {
        const char* text;
        int code;
        std::size_t position;
    } cases[] = {
        {"1 +", 800, 4},
        {"(1 + 2", 800, 1},
        {"(1 + 2 3", 800, 8},
        {"'abc", 800, 1},
        {"1 2", 800, 3},
        {"1.2.3", 800, 4},
        {"12abc", 800, 3},
        {"FOO(1)", 800, 1},
        {"PPL:Age + PPL:Nothing", 801, 11},
        {"SUB('a')", 800, 1},
        {"UPPER('a', 'b')", 800, 10},
        {"UPPER('a'", 800, 1},
        {"1 = ", 800, 3},
        {"AND 1", 800, 1},
        {"1 AND", 800, 6},
        {")", 800, 1},
        {"1 ~ 2", 800, 3},
        {"#", 800, 1},
        {"1 +* 2", 800, 4},
        {"99999999999999999999999999999999", 800, 1},
    };
    for (const Case& c : cases) {
        ExprError e = failure(c.text);
        EXPECT_EQ(e.code, c.code) << c.text;
        EXPECT_EQ(e.position, c.position) << c.text << ": " << e.message;
        EXPECT_FALSE(e.message.empty());
    }
}

TEST_F(ExprTest, AFailedCompileKeepsTheEarlierStateAndSetsTheError) {
    Expression e;
    ASSERT_TRUE(e.compile("PPL:Age = 42"));
    clearError();
    EXPECT_FALSE(e.compile("PPL:Age = = 42"));
    EXPECT_EQ(errorCode(), err::BadExpression);
    EXPECT_EQ(e.text(), "PPL:Age = 42");
    EXPECT_TRUE(e.isTrue());
    EXPECT_FALSE(e.compile("NoSuchField"));
    EXPECT_EQ(errorCode(), err::NoBind);
    EXPECT_EQ(e.compileError().code, err::NoBind);
    EXPECT_TRUE(e.isTrue());
    ASSERT_TRUE(e.compile("PPL:Age = 41"));
    EXPECT_EQ(e.compileError().code, 0);
    EXPECT_FALSE(e.isTrue());
}

TEST_F(ExprTest, ACustomResolverBindsNamesOfItsOwn) {
    Layout l;
    l.add("X:A", FieldType::Long);
    Record other(l);
    other.set("X:A", 5);
    NameResolver resolve = [&](std::string_view name) -> std::optional<FieldRef> {
        if (name == "A") return other.ref(0);
        return std::nullopt;
    };
    Expression e;
    ASSERT_TRUE(e.compile("A * 2", resolve));
    EXPECT_EQ(e.evaluate().toText(), "10");
    EXPECT_FALSE(e.compile("PPL:Age", resolve));
    EXPECT_EQ(e.compileError().code, err::NoBind);
}

TEST_F(ExprTest, DeepOrLongTextsFailInsteadOfExhaustingTheStack) {
    std::string deep(100000, '(');
    deep += "1";
    deep += std::string(100000, ')');
    EXPECT_EQ(failure(deep).code, err::BadExpression);
    std::string nots;
    for (int i = 0; i < 50000; ++i) nots += "NOT ";
    EXPECT_EQ(failure(nots + "1").code, err::BadExpression);
    EXPECT_EQ(failure(std::string(100000, '-') + "1").code, err::BadExpression);
    std::string chain = "PPL:Age";
    for (int i = 0; i < 100000; ++i) chain += "+PPL:Age";
    EXPECT_EQ(failure(chain).code, err::BadExpression);
    // Constants fold as they are read, so a long constant chain stays shallow and compiles.
    std::string constants = "0";
    for (int i = 0; i < 100000; ++i) constants += "+1";
    EXPECT_EQ(text(constants), "100000");
    // Moderate nesting is fine.
    std::string ok(150, '(');
    ok += "PPL:Age";
    ok += std::string(150, ')');
    EXPECT_EQ(text(ok), "42");
}

// Random arithmetic and logic trees, printed with just the parentheses their precedence needs,
// must compile and give the value computed directly: this checks precedence and associativity.
struct Gen {
    std::mt19937_64 rng;
    struct Built {
        std::string text;
        int level; // binding of the top operator: OR 0, AND 1, NOT 2, comparison 3, + - 5, * 6, atom 8
        std::int64_t value;
    };
    Built build(int depth) {
        if (depth == 0 || rng() % 4 == 0) {
            std::int64_t v = static_cast<std::int64_t>(rng() % 19) - 9;
            return {std::to_string(v), v < 0 ? 7 : 8, v};
        }
        const char ops[] = {'+', '-', '*', '=', '<', '&', '|', '!'};
        char op = ops[rng() % 8];
        if (op == '!') {
            Built a = build(depth - 1);
            return {"NOT " + (a.level < 2 ? "(" + a.text + ")" : a.text), 2, a.value == 0};
        }
        Built a = build(depth - 1), b = build(depth - 1);
        int level = 0;
        std::int64_t v = 0;
        const char* name = "";
        switch (op) {
        case '+':
            v = a.value + b.value, level = 5, name = " + ";
            break;
        case '-':
            v = a.value - b.value, level = 5, name = " - ";
            break;
        case '*':
            v = a.value * b.value, level = 6, name = " * ";
            break;
        case '=':
            v = a.value == b.value, level = 3, name = " = ";
            break;
        case '<':
            v = a.value < b.value, level = 3, name = " < ";
            break;
        case '&':
            v = a.value != 0 && b.value != 0, level = 1, name = " AND ";
            break;
        default:
            v = a.value != 0 || b.value != 0, level = 0, name = " OR ";
            break;
        }
        // Operators are left-associative: the right operand needs parentheses at equal binding.
        std::string left = a.level < level ? "(" + a.text + ")" : a.text;
        std::string right = b.level <= level ? "(" + b.text + ")" : b.text;
        return {left + name + right, level, v};
    }
};

TEST_F(ExprTest, RandomTreesEvaluateAsComputedDirectly) {
    Gen g{std::mt19937_64(20261207)};
    for (int i = 0; i < 20000; ++i) {
        Gen::Built b = g.build(6);
        Expression e;
        ASSERT_TRUE(e.compile(b.text)) << b.text << ": " << e.compileError().message;
        ASSERT_EQ(e.evaluate().toLong(), b.value) << b.text;
    }
}

// Seeded fuzz of the compiler: token soup, mutated valid texts and raw bytes. Nothing may crash
// or hang; a text that compiles must evaluate, and compile again to the same value.
TEST_F(ExprTest, FuzzTheCompiler) {
    const char* tokens[] = {"PPL:LastName",
                            "PPL:Salary",
                            "PPL:Age",
                            "CUST:Company",
                            "PPL:Rate",
                            "PPL:Nick",
                            "UPPER(",
                            "LOWER(",
                            "SUB(",
                            "INSTRING(",
                            "CLIP(",
                            "LEN(",
                            "INT(",
                            "ABS(",
                            "VAL(",
                            "FORMAT(",
                            "DEFORMAT(",
                            "(",
                            ")",
                            ",",
                            "+",
                            "-",
                            "*",
                            "/",
                            "&",
                            "=",
                            "<>",
                            "~=",
                            "<",
                            ">",
                            "<=",
                            ">=",
                            "~",
                            " AND ",
                            " OR ",
                            " NOT ",
                            "'",
                            "'a''b'",
                            "''",
                            "0",
                            "1",
                            "-1",
                            "9223372036854775807",
                            "0.5",
                            ".",
                            "12.5",
                            " ",
                            "'x'",
                            "99999999999999999999999999999999999",
                            "1e5",
                            "\t"};
    const char* seeds[] = {"SUB(UPPER(PPL:LastName),1,2) = 'SM'",
                           "INSTRING('ON',UPPER(CUST:Company),1,1) <> 0",
                           "(PPL:Salary >= 1000) AND (PPL:Salary <= 2000) OR NOT PPL:Age < 3",
                           "CLIP(PPL:LastName) & ', ' & LEN(PPL:Nick) * ABS(-INT(PPL:Rate / 3))"};
    std::mt19937_64 rng(7);
    int compiled = 0;
    for (int i = 0; i < 300000; ++i) {
        std::string s;
        switch (i % 3) {
        case 0: {
            int n = static_cast<int>(rng() % 12) + 1;
            for (int k = 0; k < n; ++k) s += tokens[rng() % std::size(tokens)];
            break;
        }
        case 1: {
            s = seeds[rng() % std::size(seeds)];
            int edits = static_cast<int>(rng() % 4) + 1;
            for (int k = 0; k < edits && !s.empty(); ++k) {
                std::size_t at = rng() % s.size();
                switch (rng() % 3) {
                case 0:
                    s.erase(at, 1 + rng() % 3);
                    break;
                case 1:
                    s.insert(at, tokens[rng() % std::size(tokens)]);
                    break;
                default:
                    s[at] = static_cast<char>(rng() % 256);
                    break;
                }
            }
            break;
        }
        default: {
            int n = static_cast<int>(rng() % 16);
            for (int k = 0; k < n; ++k) s += static_cast<char>(rng() % 256);
        }
        }
        Expression e;
        if (e.compile(s)) {
            ++compiled;
            Value v = e.evaluate();
            Expression again;
            ASSERT_TRUE(again.compile(e.text())) << s;
            ASSERT_EQ(compare(again.evaluate(), v), 0) << s;
        } else {
            ASSERT_TRUE(e.compileError().code == err::BadExpression || e.compileError().code == err::NoBind)
                << s;
            ASSERT_GE(e.compileError().position, 1u) << s;
            ASSERT_LE(e.compileError().position, s.size() + 1) << s;
        }
    }
    // The inputs must exercise the evaluator too, not only the error paths.
    EXPECT_GT(compiled, 10000);
}

} // namespace
