// Compile errors with their exact texts, the error window, validation codes, and random
// token strings that must never crash or read out of bounds.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "expr/expr_eval.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"

namespace {

using namespace TzParser;

class ExprCompile : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzParser::ResetState();
        TzCommon::SetErrorChecking(0);
    }
    void TearDown() override { TzCommon::ResetErrorState(); }

    // The message of a failed compile ("" when it compiled).
    static std::string Fails(const std::string& text) {
        TzCommon::ClearErrorWord();
        ExprBlock* b = AssignExpr(text);
        if (b) {
            FreeExpr(b);
            return "";
        }
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::ExpressionError) << text;
        return TzCommon::LastMessage();
    }
    static std::string Framed(const std::string& what, const std::string& window) {
        return "Error in expression : " + what + "\r\n" + window + "\r\n [AssignExpr]";
    }
};

TEST_F(ExprCompile, SyntaxErrorsShowTheText) {
    EXPECT_EQ(Fails("SUBSTR('ABC',2)"), Framed("Syntax error", "[SUBSTR('ABC',2)]"));
    for (const char* text : {"SUB('ABC',1,3)",
                             "CMO(DATE())",
                             "DATE",
                             "DATE(1)",
                             "X=1.AND.Y=2",
                             "1 +",
                             "(1",
                             "1)",
                             "UPPER('A'",
                             "'abc",
                             "1 'abc",
                             "STR()",
                             "STR(1,2,3,4)",
                             "IIF(.T.,'A')",
                             "",
                             "   ",
                             "A.NAME",
                             "A->NAME",
                             "1 2",
                             "@",
                             ".5",
                             "1 ? 2",
                             "MAX(1,2,3)",
                             "UPPER 'A'"}) {
        SCOPED_TRACE(text);
        std::string m = Fails(text);
        EXPECT_EQ(m.rfind("Error in expression : Syntax error\r\n[", 0), 0u) << m;
    }
    // Names and numbers longer than 80 characters, and texts beyond 255, are refused.
    EXPECT_NE(Fails(std::string(81, 'X')), "");
    EXPECT_NE(Fails(std::string(81, '1')), "");
    EXPECT_NE(Fails("'" + std::string(300, 'A') + "'"), "");
    EXPECT_EQ(Fails("'" + std::string(250, 'A') + "'"), "");
}

TEST_F(ExprCompile, ErrorWindowAroundTheLastCharacterRead) {
    // 100 characters, then the offending ")" at position 100, then 19 more.
    std::string text = "1";
    for (int i = 0; i < 49; ++i) text += "+1";
    text += " )";
    while (text.size() + 2 <= 120) text += "+1";
    if (text.size() < 120) text += " ";
    ASSERT_EQ(text.size(), 120u);
    EXPECT_EQ(Fails(text), Framed("Syntax error", "[..." + text.substr(50, 51) + "...]"));

    // Near the end the window runs to the end of the text.
    std::string tail = std::string(70, ' ') + "1 +";
    EXPECT_EQ(Fails(tail), Framed("Syntax error", "[..." + tail.substr(23) + "]"));
}

TEST_F(ExprCompile, TypeMismatchTexts) {
    auto expr = [](const char* op) {
        return std::string("PARSER:Type mismatch in expression \"") + op + "\"";
    };
    auto fn = [](const char* name) {
        return std::string("PARSER:Type mismatch in function \"") + name + "\"";
    };
    struct {
        const char* text;
        std::string message;
    } cases[] = {
        {".NOT. 1 = 2", expr(".NOT.")},
        {"1 + 'A'", expr("+")},
        {"'A' + CTOD('')", expr("+")},
        {"1 - 'A'", expr("-")},
        {"1 - CTOD('')", expr("-")},
        {"'A' * 2", expr("*")},
        {"'A' / 2", expr("/")},
        {"'A' ^ 2", expr("** or ^")},
        {"'A' ** 2", expr("** or ^")},
        {"1 = 'A'", expr("=")},
        {"1 <> 'A'", expr("<>")},
        {"1 # 'A'", expr("<>")},
        {".T. > .F.", expr(">")},
        {".T. < .F.", expr("<")},
        {".T. <= .F.", expr("<=")},
        {".T. >= .F.", expr(">=")},
        {"1 $ 'A'", expr("$")},
        {"1 == 1", expr("==")},
        {".T. .OR. 1", expr(".OR.")},
        {"1 .AND. .T.", expr(".AND.")},
        {"-'A'", expr("Unary -")},
        {"+'A'", expr("Unary +")},
        {"YEAR(1)", fn("YEAR")},
        {"MONTH(1)", fn("MONTH")},
        {"DOW(1)", fn("DOW")},
        {"DAY(1)", fn("DAY")},
        {"AT(1,'A')", fn("AT")},
        {"ROUND('A',1)", fn("ROUND")},
        {"MOD('A',1)", fn("MOD")},
        {"MIN('A','B')", fn("MIN")},
        {"MAX(1,CTOD(''))", fn("MAX")},
        {"INT('A')", fn("INT")},
        {"ABS('A')", fn("ABS")},
        {"VAL(1)", fn("VAL")},
        {"LEN(1)", fn("LEN")},
        {"ASC(1)", fn("ASC")},
        {"STUFF(1,1,1,'A')", fn("STUFF")},
        {"IIF(2 > 1, 1, 2)", fn("IIF")},
        {"STR('A')", fn("STR")},
        {"STR(1,'A')", fn("STR")},
        {"SUBSTR(1,1,1)", fn("SUBSTR")},
        {"RIGHT(1,1)", fn("RIGHT")},
        {"REPLICATE(1,1)", fn("REPLICATE")},
        {"LEFT(1,1)", fn("LEFT")},
        {"DTOS(1)", fn("DTOS")},
        {"DTOC(1)", fn("DTOC")},
        {"CMON(1)", fn("CMONTH")},
        {"CDOW(1)", fn("CDOW")},
        {"UPPER(1)", fn("UPPER")},
        {"SOUNDEX(1)", fn("SOUNDEX")},
        {"TRIM(1)", fn("TRIM")},
        {"RTRIM(1)", fn("RTRIM")},
        {"LTRIM(1)", fn("LTRIM")},
        {"LOWER(1)", fn("LOWER")},
        {"SPACE('A')", fn("SPACE")},
        {"CHR('A')", fn("CHR")},
        {"CTOD(1)", fn("CTOD")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string m = Fails(c.text);
        EXPECT_EQ(m.substr(0, 22 + c.message.size()), "Error in expression : " + c.message);
        EXPECT_EQ(m.substr(22 + c.message.size(), 3), "\r\n[");
    }
}

TEST_F(ExprCompile, StackOverflowAndErrorWordReset) {
    std::string deep(151, '(');
    deep += "1";
    EXPECT_EQ(Fails(deep).rfind("Error in expression : Parser_stack_overflow\r\n", 0), 0u);
    std::string ok(100, '(');
    ok += "1" + std::string(100, ')');
    EXPECT_EQ(Fails(ok), "");

    // A compile clears an earlier expression error from the error word.
    TzCommon::SetErrorWord(TzErr::EvaluationError);
    ExprBlock* b = AssignExpr("1");
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    FreeExpr(b);
    TzCommon::SetErrorWord(TzErr::AccessDenied);
    b = AssignExpr("1");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::AccessDenied);
    FreeExpr(b);
}

TEST_F(ExprCompile, ValidateKeyAndForExpressions) {
    std::string t = "";
    EXPECT_EQ(ValidateExpr(t, true), 359);
    t = "    ";
    EXPECT_EQ(ValidateExpr(t, true), 359);
    t = "UPPER('A')   ";
    EXPECT_EQ(ValidateExpr(t, true), 0);
    EXPECT_EQ(t, "UPPER('A')");
    t = "'" + std::string(220, 'A') + "'";
    EXPECT_EQ(ValidateExpr(t, true), 360);
    EXPECT_EQ(ValidateExpr(t, false), 362);
    t = ".T.";
    EXPECT_EQ(ValidateExpr(t, true), 361);
    EXPECT_EQ(ValidateForExpr("1"), 362);
    EXPECT_EQ(ValidateForExpr("1 = 1"), 0);
    EXPECT_EQ(ValidateForExpr("1 +"), 351);
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    // Checking is restored and nothing was dispatched.
    TzCommon::SetErrorChecking(1);
    TzCommon::SetUseExceptions(1);
    EXPECT_EQ(ValidateForExpr("1 +"), 351);
    EXPECT_EQ(TzCommon::ErrorCheckingOn(), true);
}

// Random token strings: every compile either fails cleanly or gives a block whose evaluation
// stays inside its pool (the sanitizer build checks the reads and writes).
TEST_F(ExprCompile, RandomTokenStringsNeverCrash) {
    const std::vector<std::string> vocabulary = {"(",
                                                 ")",
                                                 ",",
                                                 "+",
                                                 "-",
                                                 "*",
                                                 "/",
                                                 "^",
                                                 "**",
                                                 "=",
                                                 "==",
                                                 "<>",
                                                 "#",
                                                 "<",
                                                 ">",
                                                 "<=",
                                                 ">=",
                                                 "$",
                                                 ".AND.",
                                                 ".OR.",
                                                 ".NOT.",
                                                 ".T.",
                                                 ".F.",
                                                 "1",
                                                 "0",
                                                 "2.5",
                                                 "-3",
                                                 "1E3",
                                                 "255",
                                                 "300",
                                                 "'AB'",
                                                 "''",
                                                 "'  X  '",
                                                 "\"Q\"",
                                                 "'",
                                                 "ABS",
                                                 "ASC",
                                                 "AT",
                                                 "CDOW",
                                                 "CHR",
                                                 "CMONTH",
                                                 "CTOD",
                                                 "DATE",
                                                 "DAY",
                                                 "DELETED",
                                                 "DOW",
                                                 "DTOC",
                                                 "DTOS",
                                                 "IIF",
                                                 "INT",
                                                 "LEFT",
                                                 "LEN",
                                                 "LOWER",
                                                 "LTRIM",
                                                 "MAX",
                                                 "MIN",
                                                 "MOD",
                                                 "MONTH",
                                                 "RECNO",
                                                 "REPLICATE",
                                                 "RIGHT",
                                                 "ROUND",
                                                 "RTRIM",
                                                 "SOUNDEX",
                                                 "SPACE",
                                                 "STR",
                                                 "STUFF",
                                                 "SUBSTR",
                                                 "TRIM",
                                                 "UPPER",
                                                 "VAL",
                                                 "YEAR",
                                                 "()",
                                                 "X",
                                                 "->",
                                                 "@",
                                                 "\t",
                                                 " ",
                                                 "CTOD('01.03.26')",
                                                 "SPACE(200)",
                                                 "REPLICATE('Z',99)",
                                                 "STR(1E300,255,200)"};
    unsigned seed = 8675309;
    std::printf("random expression seed %u\n", seed);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> pick(0, vocabulary.size() - 1);
    std::uniform_int_distribution<int> count(1, 24);
    int compiled = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string text;
        int n = count(rng);
        for (int k = 0; k < n; ++k) {
            text += vocabulary[pick(rng)];
            if (rng() % 3 == 0) text += " ";
        }
        TzCommon::ClearErrorWord();
        ExprBlock* b = AssignExpr(text);
        if (!b) {
            ASSERT_NE(TzCommon::ErrorWord(), 0) << text;
            continue;
        }
        ++compiled;
        const uint8_t* r = Evaluate(b);
        ASSERT_NE(r, nullptr);
        if (b->type == 'C') {
            std::string s = ResultString(b);
            ASSERT_LE(s.size(), 255u) << text;
            ASSERT_LT(s.size(), b->pool.size()) << text;
        }
        ASSERT_NE(TzCommon::ErrorWord(), TzErr::ExprPoolOverflow) << text;
        FreeExpr(b);
    }
    std::printf("%d of 30000 random texts compiled\n", compiled);
    EXPECT_GT(compiled, 100);
}

// Random well-typed expressions built from every function with edge values (negative and
// huge counts, blank dates, empty strings): each compiles, and its evaluation stays within
// the pool and the 255-character limit.
std::string Gen(std::mt19937& rng, char type, int depth) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto N = [&] { return Gen(rng, 'N', depth + 1); };
    auto C = [&] { return Gen(rng, 'C', depth + 1); };
    auto D = [&] { return Gen(rng, 'D', depth + 1); };
    auto L = [&] { return Gen(rng, 'L', depth + 1); };
    bool leaf = depth > 3 || pick(3) == 0;
    switch (type) {
        case 'N': {
            static const char* leaves[] = {"0", "1", "-1", "2.5", "255", "1000", "1E300", "-7"};
            if (leaf) return leaves[pick(8)];
            switch (pick(16)) {
                case 0:
                    return "(" + N() + "+" + N() + ")";
                case 1:
                    return "(" + N() + "/" + N() + ")";
                case 2:
                    return "(" + N() + "^" + N() + ")";
                case 3:
                    return "MOD(" + N() + "," + N() + ")";
                case 4:
                    return "ROUND(" + N() + "," + N() + ")";
                case 5:
                    return "YEAR(" + D() + ")";
                case 6:
                    return "DOW(" + D() + ")";
                case 7:
                    return "AT(" + C() + "," + C() + ")";
                case 8:
                    return "VAL(" + C() + ")";
                case 9:
                    return "LEN(" + C() + ")";
                case 10:
                    return "ASC(" + C() + ")";
                case 11:
                    return "(" + D() + "-" + D() + ")";
                case 12:
                    return "MAX(" + N() + "," + N() + ")";
                case 13:
                    return "-" + N();
                case 14:
                    return "INT(" + N() + ")";
                default:
                    return "ABS(" + N() + ")";
            }
        }
        case 'C': {
            static const char* leaves[] = {"''", "'AB '", "' x y '", "'ABCDEFGHIJ'"};
            if (leaf) return leaves[pick(4)];
            switch (pick(20)) {
                case 0:
                    return C() + "+" + C();
                case 1:
                    return C() + "-" + C();
                case 2:
                    return "STUFF(" + C() + "," + N() + "," + N() + "," + C() + ")";
                case 3:
                    return "IIF(" + L() + "," + C() + "," + C() + ")";
                case 4:
                    return "STR(" + N() + "," + N() + "," + N() + ")";
                case 5:
                    return "STR(" + N() + ")";
                case 6:
                    return "SUBSTR(" + C() + "," + N() + "," + N() + ")";
                case 7:
                    return "RIGHT(" + C() + "," + N() + ")";
                case 8:
                    return "LEFT(" + C() + "," + N() + ")";
                case 9:
                    return "REPLICATE(" + C() + "," + N() + ")";
                case 10:
                    return "DTOS(" + D() + ")";
                case 11:
                    return "DTOC(" + D() + ")";
                case 12:
                    return "CMONTH(" + D() + ")";
                case 13:
                    return "CDOW(" + D() + ")";
                case 14:
                    return "UPPER(" + C() + ")";
                case 15:
                    return "SOUNDEX(" + C() + ")";
                case 16:
                    return "LTRIM(" + C() + ")";
                case 17:
                    return "TRIM(" + C() + ")";
                case 18:
                    return "SPACE(" + N() + ")";
                default:
                    return "CHR(" + N() + ")";
            }
        }
        case 'D': {
            if (leaf) return pick(2) ? "CTOD('')" : "DATE()";
            switch (pick(4)) {
                case 0:
                    return "(" + D() + "+" + N() + ")";
                case 1:
                    return "(" + D() + "-" + N() + ")";
                case 2:
                    return "CTOD(" + C() + ")";
                default:
                    return "MIN(" + D() + "," + D() + ")";
            }
        }
        default: {
            if (leaf) return pick(2) ? ".T." : "DELETED()";
            switch (pick(6)) {
                case 0:
                    return "(" + C() + "=" + C() + ")";
                case 1:
                    return "(" + C() + "$" + C() + ")";
                case 2:
                    return "(" + N() + ">=" + N() + ")";
                case 3:
                    return "(" + D() + "<>" + D() + ")";
                case 4:
                    return ".NOT. " + L();
                default:
                    return "(" + L() + " .AND. " + L() + ")";
            }
        }
    }
}

TEST_F(ExprCompile, RandomTypedExpressionsStayInBounds) {
    unsigned seed = 424242;
    std::printf("random typed expression seed %u\n", seed);
    std::mt19937 rng(seed);
    int compiled = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text = Gen(rng, "NCDL"[i % 4], 0);
        if (text.size() > 255) continue;
        TzCommon::ClearErrorWord();
        ExprBlock* b = AssignExpr(text);
        ASSERT_NE(b, nullptr) << text << TzCommon::LastMessage();
        ++compiled;
        Evaluate(b);
        if (b->type == 'C') {
            std::string s = ResultString(b);
            ASSERT_LE(s.size(), 255u) << text;
            ASSERT_LT(s.size(), b->pool.size()) << text;
        }
        ASSERT_NE(TzCommon::ErrorWord(), TzErr::ExprPoolOverflow) << text;
        FreeExpr(b);
    }
    EXPECT_GT(compiled, 10000);
}

}  // namespace
