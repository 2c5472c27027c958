// Expressions over real tables: field values and lengths, name resolution (fields before
// functions, aliases), blank values of an empty table, and filters and while conditions
// driving the table engine's navigation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "expr/expr_eval.h"
#include "expr/key_encoding.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/memo.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"
#include "tests/support/test_support.h"

namespace {

using namespace TzParser;

struct Field {
    std::string name;
    char type;
    int length;
    int decimals;
};

// A dBASE III table written byte by byte: 32-byte header, 32-byte descriptors, 0x0D,
// the records (delete flag + fields), 0x1A.
void WriteTable(const std::string& path, const std::vector<Field>& fields,
                const std::vector<std::string>& records) {
    int recLen = 1;
    for (const Field& f : fields) recLen += f.length;
    int headerLen = 32 + 32 * static_cast<int>(fields.size()) + 1;
    std::string bytes(static_cast<size_t>(headerLen), '\0');
    bytes[0] = 3;
    bytes[1] = 126;
    bytes[2] = 3;
    bytes[3] = 1;
    uint32_t n = static_cast<uint32_t>(records.size());
    std::memcpy(&bytes[4], &n, 4);
    bytes[8] = static_cast<char>(headerLen & 0xFF);
    bytes[9] = static_cast<char>(headerLen >> 8);
    bytes[10] = static_cast<char>(recLen & 0xFF);
    bytes[11] = static_cast<char>(recLen >> 8);
    for (size_t i = 0; i < fields.size(); ++i) {
        char* d = &bytes[32 + 32 * i];
        std::memcpy(d, fields[i].name.data(), fields[i].name.size());
        d[11] = fields[i].type;
        d[16] = static_cast<char>(fields[i].length);
        d[17] = static_cast<char>(fields[i].decimals);
    }
    bytes[static_cast<size_t>(headerLen) - 1] = 0x0D;
    for (const std::string& r : records) {
        EXPECT_EQ(static_cast<int>(r.size()), recLen) << r;
        bytes += r;
    }
    bytes += '\x1A';
    kjtest::WriteFile(path, bytes);
}

std::string Pad(const std::string& s, size_t n) {
    std::string r = s.substr(0, n);
    r.resize(n, ' ');
    return r;
}
std::string Num(const std::string& s, size_t n) {
    return std::string(n - s.size(), ' ') + s;
}

// NAME C20, CITY C10, PRICE N10.2, QTY N3, DATO D, OK L, LEFT C5
const std::vector<Field> kFields = {
    {"NAME", 'C', 20, 0}, {"CITY", 'C', 10, 0}, {"PRICE", 'N', 10, 2}, {"QTY", 'N', 3, 0},
    {"DATO", 'D', 8, 0},  {"OK", 'L', 1, 0},    {"LEFT", 'C', 5, 0}};

std::string Record(bool deleted, const std::string& name, const std::string& city,
                   const std::string& price, const std::string& qty, const std::string& date,
                   char ok) {
    return std::string(1, deleted ? '*' : ' ') + Pad(name, 20) + Pad(city, 10) + Num(price, 10) +
           Num(qty, 3) + Pad(date, 8) + std::string(1, ok) + "lf   ";
}

class ExprTable : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzParser::ResetState();
        TzCommon::SetErrorChecking(0);
        TzCommon::SetEpochYear(1956);
        TzCommon::SetDateStyle(7);
        Install();
        path_ = dir_.file("post.dbf");
        WriteTable(path_, kFields,
                   {Record(false, "ABC", "AARHUS", "12.50", "3", "20260301", 'T'),
                    Record(true, "abd", "AARHUS", "-1.25", "7", "", 'F'),
                    Record(false, "XYZ", "ODENSE", "100.00", "9", "20251231", 'y'),
                    Record(false, "QRS", "AARHUS", "", "12", "20240229", ' '),
                    Record(false, "LMN", "VEJLE", "0.5", "1", "20260302", 'n')});
        Dbf4::Select(1);
        Dbf4::Use(path_);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    }
    void TearDown() override { TzStorage::Reset(); }

    std::string Str(const std::string& text) {
        ExprBlock* b = AssignExpr(text);
        EXPECT_NE(b, nullptr) << text << TzCommon::LastMessage();
        if (!b) return "<error>";
        Evaluate(b);
        std::string r = ResultString(b);
        FreeExpr(b);
        return r;
    }
    double Number(const std::string& text) {
        ExprBlock* b = AssignExpr(text);
        EXPECT_NE(b, nullptr) << text << TzCommon::LastMessage();
        if (!b) return -1;
        Evaluate(b);
        double r = ResultNumber(b);
        FreeExpr(b);
        return r;
    }
    bool Logical(const std::string& text) {
        ExprBlock* b = AssignExpr(text);
        EXPECT_NE(b, nullptr) << text << TzCommon::LastMessage();
        if (!b) return false;
        Evaluate(b);
        bool r = ResultLogical(b);
        FreeExpr(b);
        return r;
    }
    std::vector<int32_t> VisitForward() {
        std::vector<int32_t> seen;
        Dbf4::GoTop();
        while (!Dbf4::dEOF()) {
            seen.push_back(Dbf4::RecNo());
            Dbf4::Skip(1);
        }
        return seen;
    }

    kjtest::TempDir dir_;
    std::string path_;
};

TEST_F(ExprTable, FieldValuesLengthsAndDecimals) {
    Dbf4::Go(1);
    EXPECT_EQ(Str("NAME"), Pad("ABC", 20));
    EXPECT_EQ(Str("TRIM(NAME)+'/'+TRIM(CITY)"), "ABC/AARHUS");
    EXPECT_DOUBLE_EQ(Number("PRICE*2"), 25);
    EXPECT_DOUBLE_EQ(Number("QTY"), 3);
    EXPECT_EQ(Str("DTOS(DATO)"), "20260301");
    EXPECT_EQ(Str("DTOC(DATO)"), "01.03.26");
    EXPECT_TRUE(Logical("OK"));
    EXPECT_TRUE(Logical("NAME = 'AB'"));
    EXPECT_FALSE(Logical("NAME == 'AB'"));
    EXPECT_FALSE(Logical("NAME = ''"));
    EXPECT_EQ(Number("RECNO()"), 1);

    struct {
        const char* text;
        char type;
        int length, decimals;
    } shapes[] = {
        {"NAME", 'C', 20, 0},     {"UPPER(NAME)", 'C', 20, 0}, {"TRIM(NAME)", 'C', 20, 0},
        {"NAME+CITY", 'C', 0, 0}, {"DTOS(DATO)", 'C', 8, 0},   {"DTOC(DATO)", 'C', 0, 0},
        {"PRICE", 'N', 10, 2},    {"PRICE*2", 'N', 13, 2},     {"QTY", 'N', 3, 0},
        {"OK", 'L', 1, 0},        {"DATO", 'D', 8, 0},         {"LEFT", 'C', 5, 0},
    };
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.text);
        ExprBlock* b = AssignExpr(s.text);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->type, s.type);
        EXPECT_EQ(b->length, s.length);
        EXPECT_EQ(b->decimals, s.decimals);
        FreeExpr(b);
    }

    Dbf4::Go(2);
    EXPECT_TRUE(Logical("DELETED()"));
    EXPECT_EQ(Str("DTOS(DATO)"), "        ");
    EXPECT_EQ(Str("DTOC(DATO)"), "  .  .  ");
    EXPECT_FALSE(Logical("OK"));
    EXPECT_DOUBLE_EQ(Number("PRICE"), -1.25);
    EXPECT_EQ(Str("UPPER(NAME)"), Pad("ABD", 20));
    Dbf4::Go(3);
    EXPECT_FALSE(Logical("DELETED()"));
    EXPECT_TRUE(Logical("OK"));
    EXPECT_EQ(Number("YEAR(DATO)*10000+MONTH(DATO)*100+DAY(DATO)"), 20251231);
    Dbf4::Go(4);
    EXPECT_DOUBLE_EQ(Number("PRICE"), 0);
    EXPECT_TRUE(Logical("CTOD(DTOC(DATO))=DATO .AND. DATO-1=CTOD('28.02.24')"));
}

TEST_F(ExprTable, NamesResolveToFieldsBeforeFunctions) {
    Dbf4::Go(1);
    EXPECT_EQ(Str("LEFT"), "lf   ");
    EXPECT_EQ(Str("LEFT(NAME,2)"), "AB");
    EXPECT_EQ(Str("LEFT (NAME,2)"), "AB");
    // A field name that is no function, followed by "(", is refused.
    EXPECT_EQ(AssignExpr("NAME (1)"), nullptr);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::ExpressionError);
    EXPECT_EQ(Str("name"), Pad("ABC", 20));

    // Aliases: B->NAME from area 1 reads area 2; B.NAME is no field.
    std::string second = dir_.file("other.dbf");
    WriteTable(second, {{"NAME", 'C', 8, 0}}, {" SECOND  "});
    Dbf4::Select(2);
    Dbf4::Use(second + " ALIAS b");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    Dbf4::Go(1);
    Dbf4::Select(1);
    EXPECT_EQ(Str("B->NAME+'|'+TRIM(NAME)"), "SECOND  |ABC");
    ExprBlock* b = AssignExpr("b->NAME");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->length, 8);
    FreeExpr(b);
    EXPECT_EQ(AssignExpr("B.NAME"), nullptr);
    EXPECT_EQ(AssignExpr("C->NAME"), nullptr);
    EXPECT_EQ(AssignExpr("B->CITY"), nullptr);
}

TEST_F(ExprTable, EmptyTableGivesBlankValues) {
    std::string empty = dir_.file("empty.dbf");
    WriteTable(empty, kFields, {});
    Dbf4::Select(3);
    Dbf4::Use(empty);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_EQ(Str("NAME+'|'"), std::string(20, ' ') + "|");
    EXPECT_EQ(Str("DTOS(DATO)"), "        ");
    EXPECT_EQ(Number("PRICE+QTY"), 0);
    EXPECT_FALSE(Logical("OK"));
    Dbf4::Set_Filter_To("NAME = 'A'");
    Dbf4::GoTop();
    EXPECT_TRUE(Dbf4::dEOF());
}

TEST_F(ExprTable, FiltersAndWhileConditions) {
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    Dbf4::Set_Filter_To("QTY > 5");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_TRUE(Dbf4::IsFilterOn());
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{2, 3, 4}));
    Dbf4::Set_Filter_To("CITY = 'AARHUS' .AND. .NOT. DELETED()");
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{1, 4}));
    // The table engine reads a condition's text back through the parser's hooks.
    ASSERT_NE(Dbf4::parserHooks.text, nullptr);
    EXPECT_EQ(Dbf4::parserHooks.text(Dbf4::Current()->filterExpr),
              "CITY = 'AARHUS' .AND. .NOT. DELETED()");
    // The blank date (record 2) lies after every date.
    Dbf4::Set_Filter_To("DATO >= CTOD('01.01.26')");
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{1, 2, 5}));
    Dbf4::Set_Filter_To("DTOS(DATO) >= '2026'");
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{1, 5}));
    Dbf4::Set_Filter_To("");
    EXPECT_FALSE(Dbf4::IsFilterOn());
    EXPECT_EQ(VisitForward(), (std::vector<int32_t>{1, 2, 3, 4, 5}));

    // A bad filter text is refused and leaves no filter.
    Dbf4::Set_Filter_To("QTY >");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::ExpressionError);
    EXPECT_FALSE(Dbf4::IsFilterOn());
    TzCommon::ClearErrorWord();

    // While: the skip stops on the first record that fails it, with EOF set.
    Dbf4::Go(1);
    Dbf4::Set_While_To("CITY = 'AARHUS'");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    Dbf4::Skip(5);
    EXPECT_EQ(Dbf4::RecNo(), 3);
    EXPECT_TRUE(Dbf4::dEOF());
    Dbf4::Set_While_To("");
    Dbf4::Go(1);
    Dbf4::Skip(1);
    EXPECT_EQ(Dbf4::RecNo(), 2);
    EXPECT_FALSE(Dbf4::dEOF());

    // Back from EOF onto a last record that fails the condition: no record to return to,
    // so the area stays at the end with BOF set and a blank record.
    Dbf4::GoBottom();
    Dbf4::Skip(1);
    ASSERT_TRUE(Dbf4::dEOF());
    Dbf4::Set_While_To("CITY = 'AARHUS'");
    Dbf4::Skip(-1);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_EQ(Dbf4::RecNo(), 6);
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_EQ(Str("CITY"), std::string(10, ' '));
    // From a record, the area goes back to the record it started from.
    Dbf4::Go(4);
    Dbf4::Skip(-1);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_TRUE(Dbf4::dBOF());
    Dbf4::Set_While_To("");
}

// A memo field whose number lies beyond 32 bits names no memo: its value is empty, and no
// other block is read in its place.
TEST_F(ExprTable, MemoBlockNumbersBeyond32Bits) {
    Dbf4::CloseAll();
    Memo::Install();
    const std::string path = dir_.file("memo.dbf");
    WriteTable(path, {{"NAME", 'C', 5, 0}, {"NOTES", 'M', 10, 0}},
               {" B    " + Num("4294967297", 10), " A    " + Num("1", 10),
                " C    " + Num("2147483648", 10), " D    " + Num("9999999999", 10),
                " E    " + Pad("1e300", 10)});
    std::string table = kjtest::ReadFile(path);
    table[0] = char(0x83);
    kjtest::WriteFile(path, table);
    std::string dbt(512, '\0');
    dbt[0] = 2;
    dbt += "hello\x1a";
    dbt.resize(1024, '\0');
    kjtest::WriteFile(dir_.file("memo.dbt"), dbt);
    Dbf4::Select(1);
    Dbf4::Use(path);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    const std::string expect[] = {"", "hello", "", "", ""};
    for (int r = 1; r <= 5; ++r) {
        Dbf4::Go(r);
        EXPECT_EQ(Str("NOTES"), expect[r - 1]) << r;
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << r << " " << TzCommon::LastMessage();
        TzCommon::ClearErrorWord();
    }
    // Locate reads the memos the same way (4294967297 is not block 1).
    EXPECT_TRUE(Dbf4::Locate("NOTES", {std::string("hello")}));
    EXPECT_EQ(Dbf4::RecNo(), 2);
}

}  // namespace

// Amounts that sit on a half in decimal (x.xx5) store, print and key alike in the fields of
// the widths the application uses (N 10.2, F 20.2, F 10.2): the field holds the value
// rounded half away from zero, STR gives the same text and the key built from the value
// equals the key of the stored text.
TEST_F(ExprTable, HalfCentAmountsStorePrintAndKeyAlike) {
    const std::string file = dir_.file("half.dbf");
    Dbf4::WorkArea scratch;
    ASSERT_TRUE(TzDbfLow::CreateDbf(scratch, file,
                                    {{"A", 'N', 10, 2}, {"B", 'F', 20, 2}, {"C", 'F', 10, 2}}));
    Dbf4::Select(2);
    Dbf4::Use(file + " EXCLUSIVE");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    std::vector<long long> thousandths;  // each ends in 5
    for (long long k = 0; k < 3000; ++k) thousandths.push_back(k * 10 + 5);
    for (long long big : {1234567895LL, 9999999985LL, 123456789012345LL})
        thousandths.push_back(big);
    std::vector<std::string> wants;
    for (long long t : thousandths) {
        for (int sign : {1, -1}) {
            const double v = sign * double(t) / 1000;
            for (int f = 1; f <= 3; ++f) std::memcpy(Dbf4::FieldAddress(f), &v, 8);
            Dbf4::Append();
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
            std::string want = std::to_string((t + 5) / 10);
            want.insert(0, size_t(std::max(0, 3 - int(want.size()))), '0');
            want.insert(want.size() - 2, ".");
            if (sign < 0) want.insert(0, "-");
            wants.push_back(want);
        }
    }
    Dbf4::CloseArea();
    Dbf4::Select(1);
    const std::string bytes = kjtest::ReadFile(file);
    const size_t header = 32 * 4 + 1, recLen = 41;
    for (size_t r = 0; r < wants.size(); ++r) {
        const std::string& want = wants[r];
        const long long t = thousandths[r / 2];
        const std::string literal = (r % 2 ? "-" : "") + std::to_string(t / 1000) + "." +
                                    std::string(3 - std::to_string(t % 1000).size(), '0') +
                                    std::to_string(t % 1000);
        SCOPED_TRACE(literal);
        const std::string rec = bytes.substr(header + r * recLen, recLen);
        if (want.size() <= 10) {
            ASSERT_EQ(rec.substr(1, 10), Num(want, 10));
            ASSERT_EQ(rec.substr(31, 10), Num(want, 10));
        }
        ASSERT_EQ(rec.substr(11, 20), Num(want, 20));
        ASSERT_EQ(Str("STR(" + literal + ",20,2)"), Num(want, 20));
        TzKey::BcdKey fromValue, fromText;
        TzKey::DoubleToBcd(fromValue.b, 2, (r % 2 ? -1 : 1) * double(t) / 1000);
        TzKey::TextToBcd(fromText.b, want.data(), want.size(), 2);
        ASSERT_EQ(std::memcmp(fromValue.b, fromText.b, TzKey::kBcdSize), 0);
    }
}
