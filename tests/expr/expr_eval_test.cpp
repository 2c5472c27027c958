// Results of expressions without fields: value, type, length and decimals of every
// operator and built-in function, evaluation errors and the capped character results.
#include "expr/expr_eval.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>

#include "expr/key_encoding.h"
#include "storage/dates.h"
#include "storage/hooks.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"

namespace {

using namespace TzParser;

class ExprEval : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzParser::ResetState();
        TzCommon::SetErrorChecking(0);
        TzCommon::SetEpochYear(1956);
        TzCommon::SetDateStyle(7);
    }
    void TearDown() override { TzStorage::Reset(); }
};

struct Case {
    const char* text;
    char type;
    const char* value;  // C: the text; N: a number; L: "T"/"F"; D: YYYYMMDD or blanks
    int length;         // -1: not checked
    int decimals;       // -1: not checked
};

const Case kCases[] = {
    // arithmetic and precedence
    {"1+2*3", 'N', "7", 13, 2},
    {"(1+2)*3", 'N', "9", -1, -1},
    {"2^3", 'N', "8", -1, -1},
    {"2**3", 'N', "8", -1, -1},
    {"-1+2^2", 'N', "3", -1, -1},
    {"2^3^2", 'N', "64", -1, -1},
    {"0^2", 'N', "0", -1, -1},
    {"0^0", 'N', "1", -1, -1},
    {"-2^2", 'N', "4", -1, -1},
    {"-2^3", 'N', "-8", -1, -1},
    {"(-3)**2", 'N', "9", -1, -1},
    {"-2^-2", 'N', "0.25", -1, -1},
    {"7/2", 'N', "3.5", -1, -1},
    {"10-4-3", 'N', "3", -1, -1},
    {"+5", 'N', "5", -1, -1},
    {"- -5", 'N', "5", -1, -1},
    {"1.5E2", 'N', "150", -1, -1},
    // numeric functions
    {"ABS(-3.5)", 'N', "3.5", -1, -1},
    {"INT(-2.7)", 'N', "-2", -1, -1},
    {"INT(2.7)", 'N', "2", -1, -1},
    {"MOD(-7,3)", 'N', "-1", -1, -1},
    {"MOD(7,-3)", 'N', "1", -1, -1},
    {"MOD(7.9,3.9)", 'N', "1", -1, -1},
    {"ROUND(2.567,2)", 'N', "2.56", -1, -1},
    {"ROUN(-2.567,1)", 'N', "-2.5", -1, -1},
    {"ROUND(1.15,2)", 'N', "1.15", -1, -1},
    {"ROUND(2.9,0)", 'N', "2", -1, -1},
    {"ROUND(-2.9,-1)", 'N', "-2", -1, -1},
    {"MIN(3,4)", 'N', "3", -1, -1},
    {"MAX(3,4)", 'N', "4", -1, -1},
    {"VAL('12.5  ')", 'N', "12.5", -1, -1},
    {"VAL(' -3E2')", 'N', "-300", -1, -1},
    {"VAL('abc')", 'N', "0", -1, -1},
    {"LEN('ABC')", 'N', "3", -1, -1},
    {"LEN('')", 'N', "0", -1, -1},
    {"ASC('A')", 'N', "65", -1, -1},
    {"ASC('')", 'N', "0", -1, -1},
    {"AT('B','ABC')", 'N', "2", -1, -1},
    {"AT('','ABC')", 'N', "0", -1, -1},
    {"AT('X','ABC')", 'N', "0", -1, -1},
    {"AT('ABCD','ABC')", 'N', "0", -1, -1},
    {"RECNO()", 'N', "0", -1, -1},
    {"RECN( )", 'N', "0", -1, -1},
    // dates
    {"YEAR(CTOD('01.03.26'))", 'N', "2026", -1, -1},
    {"MONTH(CTOD('01.03.26'))", 'N', "3", -1, -1},
    {"MONT(CTOD('01.03.26'))", 'N', "3", -1, -1},
    {"DAY(CTOD('01.03.26'))", 'N', "1", -1, -1},
    {"DOW(CTOD('01.01.00'))", 'N', "7", -1, -1},
    {"YEAR(CTOD(''))", 'N', "0", -1, -1},
    {"CTOD('01.03.26')", 'D', "20260301", 8, 0},
    {"CTOD('31.02.26')", 'D', "        ", 8, 0},
    {"CTOD('01.03.26')+1", 'D', "20260302", -1, -1},
    {"1+CTOD('28.02.24')", 'D', "20240229", -1, -1},
    {"CTOD('01.03.26')-1", 'D', "20260228", -1, -1},
    {"CTOD('01.03.26')-CTOD('01.03.25')", 'N', "365", -1, -1},
    {"MAX(CTOD('01.03.26'),CTOD('02.03.26'))", 'D', "20260302", -1, -1},
    {"MIN(CTOD('01.03.26'),CTOD('02.03.26'))", 'D', "20260301", -1, -1},
    {"DTOS(CTOD('01.03.26'))", 'C', "20260301", 0, 0},
    {"DTOS(CTOD(''))", 'C', "        ", -1, -1},
    {"DTOC(CTOD('01.03.26'))", 'C', "01.03.26", 0, 0},
    {"DTOC(CTOD('xx'))", 'C', "  .  .  ", -1, -1},
    // character functions
    {"'AB'+'CD'", 'C', "ABCD", 0, 0},
    {"'ABC  '-'DE'", 'C', "ABCDE  ", -1, -1},
    {"'  '-'DE'", 'C', "DE  ", -1, -1},
    {"UPPER('abc\xE6z')", 'C', "ABC\xC6Z", -1, -1},
    {"LOWER('ABC\xC6Z')", 'C', "abc\xE6z", -1, -1},
    {"LOWE('X')", 'C', "x", -1, -1},
    {"TRIM('AB  ')", 'C', "AB", -1, -1},
    {"RTRIM('AB  ')+'|'", 'C', "AB|", -1, -1},
    {"LTRIM('  AB ')+'|'", 'C', "AB |", -1, -1},
    {"LEFT('ABC',5)", 'C', "ABC", -1, -1},
    {"LEFT('ABC',2)", 'C', "AB", -1, -1},
    {"LEFT('ABC',-1)", 'C', "", -1, -1},
    {"RIGHT('ABC',2)", 'C', "BC", -1, -1},
    {"RIGHT('ABC',9)", 'C', "ABC", -1, -1},
    {"RIGHT('ABC',-2)", 'C', "", -1, -1},
    {"SUBSTR('ABCDEF',0,2)", 'C', "AB", -1, -1},
    {"SUBS('ABCDEF',3,100)", 'C', "CDEF", -1, -1},
    {"SUBSTR('ABC',5,1)", 'C', "", -1, -1},
    {"SUBSTR('ABC',2,0)", 'C', "", -1, -1},
    {"SUBSTR('ABC',2,1)+'|'", 'C', "B|", -1, -1},
    {"STUFF('ABCDEF',2,3,'XY')", 'C', "AXYEF", -1, -1},
    {"STUFF('ABC',10,1,'Z')", 'C', "ABCZ", -1, -1},
    {"STUFF('ABC',0,-1,'Z')", 'C', "ZABC", -1, -1},
    {"STUFF('ABC',2,99,'')", 'C', "A", -1, -1},
    {"IIF(1>0,'YES','N')", 'C', "YES", 0, 0},
    {"IIF(1<0,'YES','N')", 'C', "N", -1, -1},
    {"IIF(.T.,'A','B')+IIF(.F.,'C','D')", 'C', "AD", -1, -1},
    {"REPLICATE('AB',3)", 'C', "ABABAB", -1, -1},
    {"REPL('AB',0)", 'C', "", -1, -1},
    {"REPLICATE('',5)", 'C', "", -1, -1},
    {"SPACE(3)+'|'", 'C', "   |", -1, -1},
    {"SPACE(-1)", 'C', "", -1, -1},
    {"CHR(65)+CHR(66)", 'C', "AB", -1, -1},
    {"STR(3.14159,6,2)", 'C', "  3.14", -1, -1},
    {"STR(123456,3)", 'C', "***", -1, -1},
    {"STR(7)", 'C', "         7", -1, -1},
    {"STR(2.5)", 'C', "         3", -1, -1},
    {"STR(-1.005,6,2)", 'C', " -1.01", -1, -1},
    {"STR(100000+123,6)", 'C', "100123", -1, -1},
    {"STR(1,0)", 'C', "", -1, -1},
    {"STR(-0.001,5,2)", 'C', " 0.00", -1, -1},
    {"SOUNDEX('ROBERT')", 'C', "R163", -1, -1},
    {"SOUN('TYMCZAK')", 'C', "T522", -1, -1},
    {"\"it's\"+'\"q\"'", 'C', "it's\"q\"", -1, -1},
    // comparisons and logic
    {"'ABC' = 'AB'", 'L', "T", 1, 0},
    {"'ABC' == 'AB'", 'L', "F", -1, -1},
    {"'ABC' = ''", 'L', "F", -1, -1},
    {"'AB' = 'ABC'", 'L', "F", -1, -1},
    {"'ABC' <> 'AB'", 'L', "T", -1, -1},
    {"'ABC' # 'ABC'", 'L', "F", -1, -1},
    {"'ABC' > 'AB'", 'L', "T", -1, -1},
    {"'AB' < 'ABC'", 'L', "T", -1, -1},
    {"'B' >= 'A'", 'L', "T", -1, -1},
    {"'A' <= 'A'", 'L', "T", -1, -1},
    {"'\xE6' > 'z'", 'L', "T", -1, -1},
    {"'AB' $ 'XABY'", 'L', "T", -1, -1},
    {"'' $ 'X'", 'L', "F", -1, -1},
    {"'AC' $ 'XABY'", 'L', "F", -1, -1},
    {".T. .AND. .F.", 'L', "F", -1, -1},
    {".t. .or. .f.", 'L', "T", -1, -1},
    {".NOT. .F.", 'L', "T", -1, -1},
    {".NOT. .T. = .F.", 'L', "T", -1, -1},
    {"1=1 .AND. 2#3", 'L', "T", -1, -1},
    {"1=1 .AND. 2<>3 .OR. .F.", 'L', "T", -1, -1},
    {".F. .AND. .T. .OR. .T.", 'L', "T", -1, -1},
    {".T. = .T.", 'L', "T", -1, -1},
    {".T. <> .F.", 'L', "T", -1, -1},
    {"3 > 2 .AND. 2 < 3 .AND. 2 <= 2 .AND. 2 >= 2", 'L', "T", -1, -1},
    {"CTOD('01.03.26') > CTOD('28.02.26')", 'L', "T", -1, -1},
    {"CTOD('01.03.26') = CTOD('1.3.26')", 'L', "T", -1, -1},
    {"CTOD('') = CTOD('')", 'L', "T", -1, -1},
    {"DELETED()", 'L', "F", -1, -1},
    {"DELE()", 'L', "F", -1, -1},
};

std::string ValueText(const ExprBlock* b) {
    switch (b->type) {
        case 'C':
        case 'M':
            return ResultString(b);
        case 'L':
            return ResultLogical(b) ? "T" : "F";
        case 'D': {
            char out[16];
            TzKey::DayNumberToDtos(ResultNumber(b), out);
            return out;
        }
        default:
            return "";
    }
}

TEST_F(ExprEval, EveryOperatorAndFunction) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        ExprBlock* b = AssignExpr(c.text);
        ASSERT_NE(b, nullptr) << TzCommon::LastMessage();
        EXPECT_EQ(b->type, c.type);
        ASSERT_NE(Evaluate(b), nullptr);
        // Twice: the second run must not see anything left over from the first.
        Evaluate(b);
        if (c.type == 'N') {
            EXPECT_DOUBLE_EQ(ResultNumber(b), std::strtod(c.value, nullptr));
        } else {
            EXPECT_EQ(ValueText(b), c.value);
        }
        if (c.length >= 0) {
            EXPECT_EQ(b->length, c.length);
        }
        if (c.decimals >= 0) {
            EXPECT_EQ(b->decimals, c.decimals);
        }
        EXPECT_EQ(TzCommon::ErrorWord(), 0);
        FreeExpr(b);
        EXPECT_EQ(b, nullptr);
    }
}

TEST_F(ExprEval, DateTextsFollowTheStyle) {
    ExprBlock* b = AssignExpr("DTOC(CTOD('01.03.26'))+'/'+STR(DAY(CTOD('01.03.26')),1)");
    ASSERT_NE(b, nullptr);
    Evaluate(b);
    EXPECT_EQ(ResultString(b), "01.03.26/1");
    TzCommon::SetDateStyle(8);  // reads day first too; DTOC writes slashes
    Evaluate(b);
    EXPECT_EQ(ResultString(b), "01/03/26/1");
    TzCommon::SetCenturyFlag(true);
    Evaluate(b);
    EXPECT_EQ(ResultString(b), "01/03/2026/1");
    FreeExpr(b);

    TzCommon::SetCenturyFlag(false);
    TzCommon::SetDateStyle(2);
    b = AssignExpr("CDOW(CTOD('01/01/00'))+CMONTH(CTOD('01/01/00'))+'|'+CDOW(CTOD(''))+'|'");
    ASSERT_NE(b, nullptr);
    Evaluate(b);
    EXPECT_EQ(ResultString(b),
              TimeDate::DayNameOf(7) + TimeDate::MonthNameOf(1) + "|" + std::string(10, ' ') + "|");
    FreeExpr(b);

    // DATE() is today; DTOS(DATE()+1) is tomorrow.
    b = AssignExpr("DTOS(DATE()+1)");
    ASSERT_NE(b, nullptr);
    Evaluate(b);
    std::time_t t = std::time(nullptr) + 86400;
    std::tm tm{};
    localtime_r(&t, &tm);
    char expect[48];
    std::snprintf(expect, sizeof expect, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    EXPECT_EQ(ResultString(b), expect);
    FreeExpr(b);
}

TEST_F(ExprEval, ArithmeticFaultsGiveError358) {
    for (const char* text : {"1/0", "MOD(5,0)", "MOD(5,0.5)", "0^-1", "(-8)^(1/3)", "-2^0.5"}) {
        SCOPED_TRACE(text);
        TzCommon::ClearErrorWord();
        ExprBlock* b = AssignExpr(text);
        ASSERT_NE(b, nullptr);
        Evaluate(b);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::EvaluationError);
        EXPECT_EQ(ResultNumber(b), 1e250);
        FreeExpr(b);
    }
    TzCommon::ClearErrorWord();
    ExprBlock* b = AssignExpr("1/0");
    Evaluate(b);
    EXPECT_EQ(TzCommon::LastMessage(), "Error during evaluation: Divide by 0 [Evaluate/Engine]");
    FreeExpr(b);
    // With checking on and exceptions chosen, the error arrives as ETzError.
    TzCommon::SetErrorChecking(1);
    TzCommon::SetUseExceptions(1);
    b = AssignExpr("1/0");
    EXPECT_THROW(Evaluate(b), TzCommon::ETzError);
    FreeExpr(b);
}

TEST_F(ExprEval, CharacterResultsStopAt255) {
    const char* texts[] = {
        "REPLICATE('ABC',1000)",
        "SPACE(1000)",
        "STR(1,300)",
        "STR(1,1000,900)",
        "SPACE(200)+SPACE(200)",
        "SPACE(200)-SPACE(200)",
        "STUFF(SPACE(200),1,0,SPACE(200))",
        "REPLICATE('X',200)+REPLICATE('Y',200)+'Z'",
        "IIF(.T.,SPACE(300),'')+SPACE(9)",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ExprBlock* b = AssignExpr(text);
        ASSERT_NE(b, nullptr);
        Evaluate(b);
        std::string r = ResultString(b);
        EXPECT_EQ(r.size(), 255u);
        EXPECT_LT(r.size(), b->pool.size());
        EXPECT_EQ(TzCommon::ErrorWord(), 0);
        FreeExpr(b);
    }
    ExprBlock* b = AssignExpr("STR(1,300)");
    Evaluate(b);
    EXPECT_EQ(ResultString(b), std::string(254, ' ') + "1");
    FreeExpr(b);
    b = AssignExpr("LEN(REPLICATE('AB',200)+'C')");
    Evaluate(b);
    EXPECT_EQ(ResultNumber(b), 255);
    FreeExpr(b);
}

TEST_F(ExprEval, ResultLengthAndDecimalsRules) {
    struct {
        const char* text;
        int length, decimals;
    } rules[] = {
        {"1", 13, 2},    {"LEN('A')", 13, 2}, {".T.", 1, 0},
        {"'ABC'", 0, 0}, {"CTOD('')", 8, 0},  {"STR(1)", 0, 0},
    };
    for (const auto& r : rules) {
        SCOPED_TRACE(r.text);
        ExprBlock* b = AssignExpr(r.text);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->length, r.length);
        EXPECT_EQ(b->decimals, r.decimals);
        FreeExpr(b);
    }
    // Postfix code of 1+2*3: push 1, push 2, push 3, multiply, add, end.
    ExprBlock* b = AssignExpr("1+2*3");
    ASSERT_EQ(b->code.size(), 6u);
    EXPECT_EQ(b->code[0].op, kOpPush);
    EXPECT_EQ(b->code[0].value.num, 1);
    EXPECT_EQ(b->code[2].value.num, 3);
    EXPECT_EQ(b->code[3].op, kOpMul);
    EXPECT_EQ(b->code[3].argc, 2);
    EXPECT_EQ(b->code[4].op, kOpAddNN);
    EXPECT_EQ(b->code[5].op, kOpEnd);
    FreeExpr(b);
}

TEST_F(ExprEval, HooksAndFreeing) {
    Install();
    ASSERT_TRUE(Dbf4::parserPresent);
    void* e = Dbf4::parserHooks.compile("'A' $ 'CAB'");
    ASSERT_NE(e, nullptr);
    const uint8_t* r = Dbf4::parserHooks.evaluate(e);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r[0], 0);
    EXPECT_EQ(ExprText(e), "'A' $ 'CAB'");
    Dbf4::parserHooks.free(e);
    EXPECT_FALSE(IsLiveExpr(static_cast<ExprBlock*>(e)));
    EXPECT_EQ(Dbf4::parserHooks.compile("1 +"), nullptr);

    // A reference that is not a live block is left alone.
    ExprBlock other;
    ExprBlock* p = &other;
    FreeExpr(p);
    EXPECT_EQ(p, &other);
    EXPECT_EQ(Evaluate(nullptr), nullptr);

    CurrentKeyExpr = AssignExpr("UPPER('ab')");
    EXPECT_STREQ(reinterpret_cast<const char*>(KeyEvalHook()), "AB");
    FreeExpr(CurrentKeyExpr);
}

}  // namespace
