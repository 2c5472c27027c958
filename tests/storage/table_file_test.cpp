// Table files to the byte: new headers and descriptors, record encodings, the end-of-file
// mark, the header date and count, and damaged headers that must be refused cleanly.
#include <unistd.h>

#include <ctime>

#include "storage/tz_errors.h"
#include "storage/tz_output.h"
#include "storage/tz_utils.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

using TzDbfLow::FieldDef;

class TableFileTest : public TableTest {};

uint32_t Le32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
           uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t Le16(const std::string& s, size_t at) {
    return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

TEST_F(TableFileTest, NewTableHeaderAndDescriptors) {
    ASSERT_TRUE(Create("t.dbf", {{"name", 'c', 10, 3}, {"amount", 'N', 5, 2}}));
    std::string b = Bytes("t.dbf");
    ASSERT_EQ(b.size(), 98u);
    EXPECT_EQ(uint8_t(b[0]), 3);
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(uint8_t(b[1]), tm.tm_year);
    EXPECT_EQ(uint8_t(b[2]), tm.tm_mon + 1);
    EXPECT_EQ(uint8_t(b[3]), tm.tm_mday);
    EXPECT_EQ(Le32(b, 4), 0u);
    EXPECT_EQ(Le16(b, 8), 97);
    EXPECT_EQ(Le16(b, 10), 16);
    EXPECT_EQ(b.substr(12, 20), std::string(20, '\0'));
    EXPECT_EQ(b.substr(32, 11), std::string("NAME\0\0\0\0\0\0\0", 11));
    EXPECT_EQ(b[43], 'C');
    EXPECT_EQ(uint8_t(b[48]), 10);
    EXPECT_EQ(uint8_t(b[49]), 0);  // decimals only for N and F
    EXPECT_EQ(b.substr(64, 11), std::string("AMOUNT\0\0\0\0\0", 11));
    EXPECT_EQ(b[75], 'N');
    EXPECT_EQ(uint8_t(b[80]), 5);
    EXPECT_EQ(uint8_t(b[81]), 2);
    EXPECT_EQ(uint8_t(b[96]), 0x0D);
    EXPECT_EQ(uint8_t(b[97]), 0x1A);
}

// A fixed stamp date (the seed tool's way of writing the same bytes every day) goes into the
// header of a new table and of one rewritten at close; a reset brings back today's date.
TEST_F(TableFileTest, StampDateFixedUntilReset) {
    TzCommon::SetStampDate(2031, 2, 28);
    ASSERT_TRUE(Create("t.dbf", {{"name", 'C', 10, 0}}));
    std::string b = Bytes("t.dbf");
    EXPECT_EQ(uint8_t(b[1]), 131);
    EXPECT_EQ(uint8_t(b[2]), 2);
    EXPECT_EQ(uint8_t(b[3]), 28);
    Open(1, Path("t.dbf"));
    Dbf4::ALock();
    Dbf4::Append();
    Dbf4::Unlock();
    Dbf4::CloseArea();
    b = Bytes("t.dbf");
    EXPECT_EQ(Le32(b, 4), 1u);
    EXPECT_EQ(uint8_t(b[3]), 28) << "the header was rewritten with another date";
    TzCommon::ResetDateSettings();
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    ASSERT_TRUE(Create("u.dbf", {{"name", 'C', 10, 0}}));
    b = Bytes("u.dbf");
    EXPECT_EQ(uint8_t(b[1]), tm.tm_year);
    EXPECT_EQ(uint8_t(b[2]), tm.tm_mon + 1);
}

TEST_F(TableFileTest, FieldCorrectionsAtCreate) {
    ASSERT_TRUE(Create("c.dbf", {{"  abc", 'C', 4, 0},
                                 {"d", 'D', 10, 0},
                                 {"l", 'L', 5, 0},
                                 {"averylongfieldname", 'N', 12, 3}}));
    std::string b = Bytes("c.dbf");
    EXPECT_EQ(b.substr(32, 4), std::string("ABC\0", 4));
    EXPECT_EQ(uint8_t(b[64 + 16]), 8);
    EXPECT_EQ(uint8_t(b[96 + 16]), 1);
    EXPECT_EQ(b.substr(128, 11), std::string("AVERYLONGF\0", 11));  // cut to 10
    EXPECT_EQ(Le16(b, 10), 1 + 4 + 8 + 1 + 12);

    Dbf4::WorkArea scratch;
    EXPECT_FALSE(TzDbfLow::CreateDbf(scratch, Path("e.dbf"), {{"   ", 'C', 4, 0}}));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(
        TzCommon::LastErrorMessage(),
        "Error # 220 (Invalid parameter)\r\nEmpty field name [CreateDbf(" + Path("e.dbf") + ")]");
    EXPECT_FALSE(TzDbfLow::CreateDbf(scratch, Path("e.dbf"), {{"A", 'C', 0, 0}}));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidFieldType);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 211 (Invalid database field type encountered)\r\nInvalid dBASE field "
              "definition [CreateDBF]");
    EXPECT_FALSE(TzDbfLow::CreateDbf(scratch, Path("e.dbf"), {{"A", 'X', 3, 0}}));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidFieldType);
    // More decimals than places: a table no open would take is not made.
    EXPECT_FALSE(TzDbfLow::CreateDbf(scratch, Path("e.dbf"), {{"A", 'N', 3, 4}}));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidFieldType);
    EXPECT_FALSE(TzUtils::FileExists(Path("e.dbf")));
    EXPECT_TRUE(Create("n.dbf", {{"A", 'N', 3, 3}, {"B", 'C', 3, 9}}));
}

TEST_F(TableFileTest, RecordEncodings) {
    ASSERT_TRUE(Create("r.dbf", {{"NAME", 'C', 6, 0},
                                 {"QTY", 'N', 4, 0},
                                 {"PRICE", 'N', 7, 2},
                                 {"DAY", 'D', 8, 0},
                                 {"OK", 'L', 1, 0}}));
    TzCommon::SetDateStyle(3);
    TzCommon::SetCenturyFlag(true);
    Open(1, Path("r.dbf") + " EXCLUSIVE");
    Dbf4::ClearRecord();
    SetC(1, "\xC5se");  // engine strings are Windows-1252
    SetI(2, 42);
    SetF(3, -3.14159);
    SetD(4, "07-12-2026");
    SetL(5, true);
    Dbf4::Append();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::ClearRecord();
    SetC(1, "x");
    SetI(2, 123456);  // too wide for 4 characters
    SetF(3, 1234.5);
    Dbf4::Append();
    Dbf4::CloseArea();

    std::string b = Bytes("r.dbf");
    const size_t hl = 32 * 5 + 33, rl = 1 + 6 + 4 + 7 + 8 + 1;
    ASSERT_EQ(b.size(), hl + 2 * rl + 1);
    EXPECT_EQ(Le32(b, 4), 2u);
    // OEM bytes on disk: Å is 0x8F in code page 850.
    EXPECT_EQ(b.substr(hl, rl),
              std::string(" ") + "\x8Fse   " + "  42" + "  -3.14" + "20261207" + "T");
    // A number too wide for its field is stars; untouched blank fields stay blank.
    EXPECT_EQ(b.substr(hl + rl, rl),
              std::string(" ") + "x     " + "****" + "1234.50" + "        " + " ");
    EXPECT_EQ(uint8_t(b.back()), 0x1A);

    Open(1, Path("r.dbf"));
    EXPECT_EQ(GetC(1), "\xC5se   ");
    EXPECT_EQ(GetI(2), 42);
    EXPECT_DOUBLE_EQ(GetF(3), -3.14);
    EXPECT_EQ(GetC(4), "07-12-2026");
    EXPECT_EQ(*Dbf4::FieldAddress(5), 1);
    EXPECT_EQ(Dbf4::FieldLen(4), 10);
    Dbf4::Skip(1);
    EXPECT_EQ(GetC(4), "  -  -    ");  // blank date: the style's empty template
    EXPECT_EQ(*Dbf4::FieldAddress(5), 0);
}

// A write leaves the record as the program sees it: after an append and a replace the
// fields still read in Windows-1252, and writing the same record again stores the same
// code page 850 bytes (a record buffer left in the file's code page would be translated
// twice); a record reached by a step reads in Windows-1252 too.
TEST_F(TableFileTest, RecordKeepsItsTextAcrossWrites) {
    ASSERT_TRUE(Create("t.dbf", {{"NAME", 'C', 4, 0}, {"QTY", 'N', 3, 0}}));
    Open(1, Path("t.dbf") + " EXCLUSIVE");
    Dbf4::ClearRecord();
    SetC(1, "\xC6\xF8");  // Æø
    Dbf4::Append();
    EXPECT_EQ(GetC(1), "\xC6\xF8  ");
    SetI(2, 7);
    Dbf4::Replace();
    EXPECT_EQ(GetC(1), "\xC6\xF8  ");
    Dbf4::Append();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::CloseArea();
    const std::string b = Bytes("t.dbf");
    const size_t hl = 32 * 2 + 33, rl = 1 + 4 + 3;
    ASSERT_EQ(b.size(), hl + 2 * rl + 1);
    EXPECT_EQ(b.substr(hl, rl), " \x92\x9B    7");
    EXPECT_EQ(b.substr(hl + rl, rl), " \x92\x9B    7");
    // A record a forward step reaches (completed field by field) reads the same.
    Open(1, Path("t.dbf"));
    Dbf4::Skip(1);
    EXPECT_EQ(GetC(1), "\xC6\xF8  ");
    EXPECT_EQ(GetI(2), 7);
}

// A date assigned from its parts is stored as the same date written as text in the style
// would be, in every style with the century; what has no such text is refused and changes
// nothing: the century flag off (a two-digit year reads back through the epoch), a day the
// calendar does not have, a year beyond 9999, a field that is no date.
TEST_F(TableFileTest, DatesAssignedFromPartsAsTheirTexts) {
    ASSERT_TRUE(Create("d.dbf", {{"DAY", 'D', 8, 0}, {"NAME", 'C', 4, 0}}));
    TzCommon::SetCenturyFlag(true);
    Open(1, Path("d.dbf") + " EXCLUSIVE");
    const int dates[][3] = {{2026, 12, 7}, {1890, 1, 31}, {123, 3, 4}, {2024, 2, 29}};
    for (int style = 0; style < TzCommon::kDateStyleCount; ++style) {
        TzCommon::SetDateStyle(style);
        for (const auto& d : dates) {
            Dbf4::ClearRecord();
            SetD(1, TimeDate::DateFrom(d[0], d[1], d[2]));
            Dbf4::Append();
            Dbf4::ClearRecord();
            EXPECT_TRUE(Dbf4::AssignDate(1, d[0], d[1], d[2]));
            Dbf4::Append();
        }
    }
    Dbf4::ClearRecord();
    SetD(1, "31-12-1999");
    EXPECT_TRUE(Dbf4::AssignDate(1, 0, 0, 0));  // blank
    EXPECT_FALSE(Dbf4::AssignDate(1, 2023, 2, 29));
    EXPECT_FALSE(Dbf4::AssignDate(1, 10000, 1, 1));
    EXPECT_FALSE(Dbf4::AssignDate(2, 2023, 1, 1));
    TzCommon::SetCenturyFlag(false);
    EXPECT_FALSE(Dbf4::AssignDate(1, 2023, 1, 1));
    Dbf4::Append();
    Dbf4::CloseArea();

    const std::string b = Bytes("d.dbf");
    const size_t hl = 32 * 2 + 33, rl = 1 + 8 + 4, n = 2 * TzCommon::kDateStyleCount * 4;
    ASSERT_EQ(b.size(), hl + (n + 1) * rl + 1);
    const char* stored[] = {"20261207", "18900131", "01230304", "20240229"};
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(b.substr(hl + i * rl + 1, 8), stored[i / 2 % 4]) << "record " << i + 1;
    EXPECT_EQ(b.substr(hl + n * rl + 1, 8), "        ");
}

TEST_F(TableFileTest, LogicalValuesRead) {
    ASSERT_TRUE(Create("l.dbf", {{"F", 'L', 1, 0}}));
    std::string b = Bytes("l.dbf");
    b.pop_back();
    for (char c : std::string("yYtTnN ?")) b += std::string(" ") + c;
    b[4] = 8;
    WriteFile(Path("l.dbf"), b);
    Open(1, Path("l.dbf"));
    std::string got;
    for (int i = 0; i < 8; ++i, Dbf4::Skip(1)) got += char('0' + *Dbf4::FieldAddress(1));
    EXPECT_EQ(got, "11110000");
}

TEST_F(TableFileTest, RecordNumbersOutOfRange) {
    ASSERT_TRUE(Create("n.dbf", {{"A", 'C', 3, 0}}));
    Open(1, Path("n.dbf"));
    Dbf4::WorkArea& a = *Dbf4::Current();
    Dbf4::ALock();
    for (int i = 0; i < 3; ++i) Dbf4::Append();
    Dbf4::Go(2);
    EXPECT_FALSE(TzDbfLow::GetDbfRecord(a, 0));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 212 (Request beyond range)\r\nInvalid record number = 0 (" + Path("n.dbf") +
                  ")  [GetDbfRecord]");
    EXPECT_FALSE(TzDbfLow::GetDbfRecord(a, 4));
    EXPECT_EQ(a.recNo, 2);
    // Writing past the count appends as count + 1.
    EXPECT_TRUE(TzDbfLow::PutDbfRecord(a, 3 + 5));
    EXPECT_EQ(a.recCount, 4);
    EXPECT_EQ(a.recNo, 4);
}

TEST_F(TableFileTest, HeaderCountOnlyAtClose) {
    ASSERT_TRUE(Create("h.dbf", {{"A", 'C', 3, 0}}));
    Open(1, Path("h.dbf"));
    Dbf4::ALock();
    Dbf4::Append();
    Dbf4::Append();
    std::string mid = Bytes("h.dbf");
    EXPECT_EQ(Le32(mid, 4), 0u);  // other stations recount from the size meanwhile
    Dbf4::Unlock();
    Dbf4::CloseArea();
    std::string end = Bytes("h.dbf");
    EXPECT_EQ(Le32(end, 4), 2u);
    EXPECT_EQ(end.size(), 32u + 33u + 2 * 4u + 1u);
    EXPECT_EQ(uint8_t(end.back()), 0x1A);

    // A station that only read the table leaves the header alone.
    WriteFile(Path("h.dbf"), end.substr(0, 1) + std::string("\x01\x01\x01", 3) + end.substr(4));
    Open(1, Path("h.dbf"));
    Dbf4::GoBottom();
    Dbf4::CloseArea();
    EXPECT_EQ(Bytes("h.dbf").substr(1, 3), std::string("\x01\x01\x01", 3));
}

// Damaged headers: the right code and message, the file left as it was, never a crash or a
// read out of bounds. A descriptor that lies about its field (no length, more decimals than
// its length, no name) is refused: its values could not be written back, or the field
// could not be found by name and a copy by names would drop it.
std::string Db2WithoutTerminator() {
    std::string s = std::string("\x02\x00\x00\x01\x01\x70\x04\x00", 8);
    for (int i = 0; i < 40; ++i) s += std::string("ABCDEFGHIJ\0C\x03\0\0\0", 16);
    return s;
}

// A dBASE II table with one field B N 4 of `decimals` decimals and no records.
std::string Db2Number(uint8_t decimals) {
    std::string s = std::string("\x02\x00\x00\x01\x01\x70\x05\x00", 8);
    s += std::string("B\0\0\0\0\0\0\0\0\0\0N\x04\0\0", 15) + char(decimals) + "\r";
    return s + std::string(521 - s.size(), '\0');
}

TEST_F(TableFileTest, DamagedHeadersRefused) {
    ASSERT_TRUE(Create("good.dbf", {{"A", 'C', 3, 0}, {"B", 'N', 4, 1}}));
    const std::string good = Bytes("good.dbf");
    struct Case {
        const char* what;
        std::string bytes;
        uint16_t code;
        std::string messageStart;
    };
    auto with = [&](size_t at, uint8_t v) {
        std::string s = good;
        s[at] = char(v);
        return s;
    };
    const std::string f = Path("bad.dbf");
    std::string zeroWidth = with(10, 5);  // A C 0, B N 4.1: the record length agrees
    zeroWidth[48] = 0;
    std::vector<Case> cases = {
        {"31 bytes", good.substr(0, 31), 210,
         f + " is not a dBASE database. (Prolog is less than 32 bytes) [USE/OpenDBF]"},
        {"version 0x30", with(0, 0x30), 210,
         f + " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]"},
        {"version 0", with(0, 0), 210,
         f + " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]"},
        {"no fields", with(8, 32), 210,
         "bad.dbf is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]"},
        {"record length 0", with(10, 0), 210, f + " is not a dBASE database. (Record length"},
        {"fields exceed record", with(10, 5), 210,
         f + " is not a dBASE database. (Fields do not fit"},
        {"field of length 0", zeroWidth, 210,
         f + " is not a dBASE database. (Field A has length 0) [USE/OpenDBF]"},
        {"decimals above the length", with(81, 5), 210,
         f + " is not a dBASE database. (Field B has more decimals than its length) "
             "[USE/OpenDBF]"},
        {"decimals 255", with(81, 255), 210,
         f + " is not a dBASE database. (Field B has more decimals than its length)"},
        {"field without a name", with(32, 0), 210,
         f + " is not a dBASE database. (Field 1 has no name) [USE/OpenDBF]"},
        {"no terminator", with(96, 'X'), 210, f + " is not a dBASE database. (No field"},
        {"terminator first", with(32, 0x0D), 222, "Error reading " + f + " [Use/OpenDbf]"},
        {"bad type", with(43, 'Q'), 211, "Error reading " + f + " [Use/OpenDbf]"},
        {"descriptors cut", good.substr(0, 70), 100, "Error reading " + f + " [Use/OpenDbf]"},
        {"huge header length", with(9, 0xFF), 210, ""},
        {"dBASE II short", std::string("\x02") + std::string(100, '\0'), 210,
         f + " is not a dBASE database.(Header is less than 521 bytes) [Use/OpenDBF]"},
        {"dBASE II decimals above the length", Db2Number(5), 210,
         f + " is not a dBASE database. (Field B has more decimals than its length)"},
        {"dBASE II no terminator", Db2WithoutTerminator(), 210,
         "bad.dbf is not a dBASE database. (Number of fields is out of range)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(f, c.bytes);
        TzCommon::ClearError();
        Dbf4::Select(1);
        Dbf4::Use(f);
        EXPECT_EQ(TzCommon::ErrorWord(), c.code);
        std::string m = TzCommon::LastMessage();
        EXPECT_EQ(m.substr(0, c.messageStart.size()), c.messageStart);
        EXPECT_EQ(Dbf4::Current(), nullptr);  // the slot stays empty
        EXPECT_TRUE(ReadFile(f) == c.bytes) << "the refused open changed the file";
    }
    // Decimals up to the field's length stay accepted (some writers keep N 4.4 fields).
    for (const std::string& bytes : {with(81, 4), Db2Number(2)}) {
        WriteFile(f, bytes);
        Dbf4::Use(f);
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
        Dbf4::CloseArea();
    }
    // A record length larger than the fields need stays accepted.
    WriteFile(f, with(10, 20));
    Dbf4::Use(f);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    Dbf4::CloseArea();
    // ... while the file holds whole records of that length; records of the fields'
    // length under it would each be read shifted: refused.
    const size_t headerLength = uint8_t(good[8]) | size_t(uint8_t(good[9])) << 8;
    std::string rows = good.substr(0, headerLength);
    rows[4] = 3;  // three records of 8 bytes under a record length of 10
    rows[10] = 10;
    const std::string header = rows;
    for (const char* r : {" r1  1.5", " r2  2.5", " r3  3.5"}) rows += r;
    WriteFile(f, rows + "\x1A");
    TzCommon::ClearError();
    Dbf4::Select(1);
    Dbf4::Use(f);
    EXPECT_EQ(TzCommon::ErrorWord(), 210);
    EXPECT_EQ(TzCommon::LastMessage(),
              f + " is not a dBASE database. (Fields do not fit the record length) [USE/OpenDBF]");
    EXPECT_EQ(Dbf4::Current(), nullptr);
    std::string padded = header;  // records of 10 bytes: taken, each read in place
    for (const char* r : {" r1  1.5xx", " r2  2.5xx", " r3  3.5xx"}) padded += r;
    WriteFile(f, padded + "\x1A");
    TzCommon::ClearError();
    Dbf4::Use(f);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_EQ(Dbf4::Peek(3, 1).substr(0, 2), "r3");
    Dbf4::CloseArea();
}

TEST_F(TableFileTest, MemoFilesOfEachFlavour) {
    TzDbfLow::settings().memoVersion = 0x8B;
    ASSERT_TRUE(Create("m4.dbf", {{"NOTE", 'M', 0, 0}}));
    std::string dbt = Bytes("m4.DBT");
    ASSERT_EQ(dbt.size(), 24u);
    EXPECT_EQ(Le32(dbt, 0), 1u);
    EXPECT_EQ(dbt.substr(8, 3), std::string("m4\0", 3));
    EXPECT_EQ(uint8_t(dbt[18]), 2);
    EXPECT_EQ(uint8_t(dbt[19]), 1);
    EXPECT_EQ(Le16(dbt, 20), 512);
    EXPECT_EQ(uint8_t(Bytes("m4.dbf")[0]), 0x8B);

    TzDbfLow::settings().memoVersion = 0xF5;
    TzDbfLow::settings().memoBlockSize = 64;
    ASSERT_TRUE(Create("fx.dbf", {{"NOTE", 'M', 0, 0}}));
    std::string fpt = Bytes("fx.FPT");
    ASSERT_EQ(fpt.size(), 512u);
    EXPECT_EQ(fpt.substr(0, 4), std::string("\0\0\0\x08", 4));  // 511 div 64 + 1, big-endian
    EXPECT_EQ(fpt.substr(6, 2), std::string("\0\x40", 2));

    TzDbfLow::settings().memoVersion = 0x83;
    ASSERT_TRUE(Create("m3.dbf", {{"NOTE", 'M', 0, 0}}));
    std::string d3 = Bytes("m3.DBT");
    ASSERT_EQ(d3.size(), 513u);
    EXPECT_EQ(uint8_t(d3[0]), 1);
    EXPECT_EQ(uint8_t(d3[512]), 0x1A);
    EXPECT_EQ(TzDbfLow::MemoExtension(0x30), "FPT");
    EXPECT_EQ(TzDbfLow::MemoExtension(0x83), "DBT");
}

// Editing one field never re-encodes another: stored bytes that the native form cannot
// reproduce (a date outside the two-digit window, a number beyond 32 bits) survive.
TEST_F(TableFileTest, ReplaceKeepsUntouchedFieldBytes) {
    ASSERT_TRUE(Create("k.dbf", {{"A", 'C', 3, 0}, {"D", 'D', 8, 0}, {"BIG", 'N', 12, 0}}));
    std::string b = Bytes("k.dbf");
    b.pop_back();
    b += " abc18991231 12345678901";
    b[4] = 1;
    b += '\x1A';
    WriteFile(Path("k.dbf"), b);
    TzCommon::SetCenturyFlag(false);
    Open(1, Path("k.dbf"));
    ASSERT_TRUE(Dbf4::RLock());
    SetC(1, "xyz");
    Dbf4::Replace();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::CloseArea();
    EXPECT_EQ(Bytes("k.dbf").substr(32 * 3 + 33, 24), " xyz18991231 12345678901");
}

std::string WithCount(std::string b, uint32_t count) {
    for (int i = 0; i < 4; ++i) b[size_t(4 + i)] = char(uint8_t(count >> (8 * i)));
    return b;
}

// The header's count and the file disagree after a killed station (records beyond the
// count) or a damaged header (a count beyond the file). Every open, exclusive or shared,
// counts the whole records in the file and repairs the header.
TEST_F(TableFileTest, HeaderCountReconciledAtEveryOpen) {
    ASSERT_TRUE(Create("r.dbf", {{"A", 'C', 3, 0}}));
    const size_t hl = 32 + 33, rl = 4;
    std::string b = Bytes("r.dbf");
    b.pop_back();
    b += " r1  r2  r3  r4  r";  // four whole records and a torn fifth, no end mark
    for (const char* mode : {" EXCLUSIVE", ""}) {
        SCOPED_TRACE(mode);
        WriteFile(Path("r.dbf"), WithCount(b, 1));
        Open(1, Path("r.dbf") + mode);
        EXPECT_EQ(Dbf4::RecCount(), 4);
        std::string now = Bytes("r.dbf");
        EXPECT_EQ(Le32(now, 4), 4u);                 // repaired at once
        EXPECT_EQ(uint8_t(now[hl + 4 * rl]), 0x1A);  // with the mark after them
        Dbf4::GoBottom();
        EXPECT_EQ(GetC(1), "r4 ");
        Dbf4::CloseArea();
    }
    // A count beyond the file: an append goes after the records the file holds.
    WriteFile(Path("r.dbf"), WithCount(b.substr(0, hl + 2 * rl), 10000000));
    Open(1, Path("r.dbf EXCLUSIVE"));
    EXPECT_EQ(Dbf4::RecCount(), 2);
    Dbf4::ClearRecord();
    SetC(1, "new");
    Dbf4::Append();
    Dbf4::CloseArea();
    std::string now = Bytes("r.dbf");
    EXPECT_EQ(now.size(), hl + 3 * rl + 1);
    EXPECT_EQ(Le32(now, 4), 3u);
    EXPECT_EQ(now.substr(hl + 2 * rl, 4), " new");
}

// A header that claims more records than the file holds (the last one cut short) is
// repaired and reported once through the message window; a header behind the file (a
// station killed after appending) is repaired without a word.
TEST_F(TableFileTest, HeaderClaimingMissingRecordsIsReportedOnce) {
    std::vector<std::string> shown;
    TzMsg::MsgWindowProcs procs;
    procs.create = [] { return static_cast<void*>(new int(0)); };
    procs.show = [&](void*, const std::string&, const std::string& text) { shown.push_back(text); };
    procs.destroy = [](void* w) { delete static_cast<int*>(w); };
    TzMsg::SetMsgWindowProcs(procs);
    ASSERT_TRUE(Create("c.dbf", {{"A", 'C', 3, 0}}));
    std::string b = Bytes("c.dbf");
    b.pop_back();
    b += " r1  r2  r3  r4  r";  // four whole records and a fifth cut short
    WriteFile(Path("c.dbf"), WithCount(b, 5));
    for (int open = 0; open < 2; ++open) {
        Open(1, Path("c.dbf"));
        EXPECT_EQ(Dbf4::RecCount(), 4);
        Dbf4::CloseArea();
    }
    EXPECT_EQ(shown,
              std::vector<std::string>{Path("c.dbf") + " holds 4 records; the header said 5"});
    const std::vector<TzDbfLow::ShortTable> found = TzDbfLow::TakeShortTables();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].file, Path("c.dbf"));
    EXPECT_EQ(found[0].held, 4);
    EXPECT_EQ(found[0].claimed, 5);
    EXPECT_TRUE(TzDbfLow::TakeShortTables().empty());
    EXPECT_EQ(Le32(Bytes("c.dbf"), 4), 4u);
    EXPECT_EQ(uint8_t(Bytes("c.dbf")[32 + 33 + 4 * 4]), 0x1A)
        << "no end mark after the last whole record, over the rest of the cut one";
    shown.clear();
    WriteFile(Path("c.dbf"), WithCount(b, 2));
    Open(1, Path("c.dbf"));
    EXPECT_EQ(Dbf4::RecCount(), 4);
    Dbf4::CloseArea();
    TzMsg::ClearMsgWindowProcs();
    EXPECT_TRUE(shown.empty());
}

// A table cut short by another program while an area has it open: the read of a record
// the file no longer holds (a browse, a report) fails, and finds the cut as an append
// does: the header's count and end mark put right, the cut on the short-table list once,
// and the area's count following the file. Through the file lock or none.
TEST_F(TableFileTest, ARecordReadPastACutReportsTheCut) {
    ASSERT_TRUE(Create("c.dbf", {{"A", 'C', 3, 0}}));
    std::string b = Bytes("c.dbf");
    b.pop_back();
    b += " r1  r2  r3  r4  r5\x1A";
    for (bool fileLock : {false, true}) {
        SCOPED_TRACE(fileLock ? "under the file lock" : "no lock");
        WriteFile(Path("c.dbf"), WithCount(b, 5));
        Open(1, Path("c.dbf"));
        for (Dbf4::GoTop(); !Dbf4::dEOF(); Dbf4::Skip(1)) {
        }
        if (fileLock) {
            ASSERT_TRUE(Dbf4::FLock());
        }
        ASSERT_EQ(truncate(Path("c.dbf").c_str(), off_t(b.size() - 3)), 0);  // r5 cut
        Dbf4::Go(5);
        EXPECT_NE(TzCommon::ErrorWord(), 0) << "record 5 read from a file that lost it";
        TzCommon::ClearError();
        EXPECT_EQ(Dbf4::RecCount(), 4);
        const std::vector<TzDbfLow::ShortTable> found = TzDbfLow::TakeShortTables();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].held, 4);
        EXPECT_EQ(found[0].claimed, 5);
        EXPECT_EQ(Le32(Bytes("c.dbf"), 4), 4u) << "the header's count";
        EXPECT_EQ(uint8_t(Bytes("c.dbf")[32 + 33 + 4 * 4]), 0x1A) << "the end mark";
        Dbf4::Go(4);
        EXPECT_EQ(TzCommon::ErrorWord(), 0);
        Dbf4::Go(5);
        TzCommon::ClearError();
        EXPECT_TRUE(TzDbfLow::TakeShortTables().empty()) << "the cut reported again";
        Dbf4::Unlock();
        Dbf4::CloseArea();
    }
    // Emptied with its header (a zap of another area or station): no cut.
    WriteFile(Path("c.dbf"), WithCount(b, 5));
    Open(1, Path("c.dbf"));
    Dbf4::GoBottom();
    WriteFile(Path("c.dbf"), WithCount(b.substr(0, 32 + 33) + "\x1A", 0));
    Dbf4::Go(5);
    TzCommon::ClearError();
    EXPECT_EQ(Dbf4::RecCount(), 0);
    EXPECT_TRUE(TzDbfLow::TakeShortTables().empty()) << "a zapped table reported cut";
    Dbf4::CloseArea();
}

// A count of 0x7FFFFFFF over an empty file: moves report 212 and never overflow the record
// number (checked by UBSan in the sanitizer build).
TEST_F(TableFileTest, HugeHeaderCountMovesSafely) {
    ASSERT_TRUE(Create("h.dbf", {{"A", 'C', 3, 0}}));
    WriteFile(Path("h.dbf"), WithCount(Bytes("h.dbf"), 0x7FFFFFFF));
    for (const char* mode : {" EXCLUSIVE", ""}) {
        SCOPED_TRACE(mode);
        Open(1, Path("h.dbf") + mode);
        EXPECT_EQ(Dbf4::RecCount(), 0);
        Dbf4::Go(0);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
        Dbf4::Skip(1);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
        Dbf4::GoBottom();
        EXPECT_TRUE(Dbf4::dEOF());
        Dbf4::CloseArea();
    }
}

// A 0 or false the caller assigns to a field of a new record is written as 0 and "F";
// fields it did not assign stay blank, and a field only read keeps its stored bytes.
TEST_F(TableFileTest, AssignedZeroAndFalseAreWritten) {
    ASSERT_TRUE(Create("z.dbf", {{"N", 'N', 5, 0},
                                 {"P", 'N', 8, 2},
                                 {"L", 'L', 1, 0},
                                 {"U", 'N', 4, 0},
                                 {"M", 'L', 1, 0}}));
    Open(1, Path("z.dbf"));
    ASSERT_TRUE(Dbf4::ALock());
    Dbf4::ClearRecord();
    int32_t zero = 0;
    double dzero = 0;
    std::memcpy(Dbf4::AssignField(1), &zero, 4);
    std::memcpy(Dbf4::AssignField(2), &dzero, 8);
    *Dbf4::AssignField(3) = 0;
    Dbf4::Append();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::Unlock();
    const size_t at = 32 * 5 + 33;
    EXPECT_EQ(Bytes("z.dbf").substr(at, 20), "     0    0.00F     ");

    // Replace: a field read and left alone keeps its blanks; an assigned 0 is written.
    Dbf4::Go(1);
    ASSERT_TRUE(Dbf4::RLock());
    EXPECT_EQ(GetI(4), 0);
    *Dbf4::AssignField(5) = 0;
    Dbf4::Replace();
    EXPECT_EQ(Bytes("z.dbf").substr(at, 20), "     0    0.00F    F");
    std::memcpy(Dbf4::AssignField(4), &zero, 4);
    Dbf4::Replace();
    EXPECT_EQ(Bytes("z.dbf").substr(at, 20), "     0    0.00F   0F");
}

}  // namespace
}  // namespace kjtest
