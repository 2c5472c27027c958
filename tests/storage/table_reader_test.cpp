// Tables written by the engine read back by independent readers (python3-dbfread and
// python3-dbf from Debian), and tables written by python3-dbf read by the engine.
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

class TableReaderTest : public TableTest {
  protected:
    // Runs a python3 script with the table path as its argument; returns its output.
    std::string Python(const std::string& script, const std::string& table) {
        std::string scriptPath = Path("check.py");
        WriteFile(scriptPath, script);
        std::string out;
        int rc = RunCommand("/usr/bin/python3 " + scriptPath + " " + table + " 2>&1", &out);
        EXPECT_EQ(rc, 0) << out;
        return out;
    }
};

const char* kDbfreadDump = R"(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp850', char_decode_errors='strict')
print(len(t))
for r in t:
    print('|'.join(repr(v) for v in r.values()))
)";

const char* kDbfDump = R"(
import sys, dbf
t = dbf.Table(sys.argv[1], codepage='cp850')
t.open(dbf.READ_ONLY)
print(len(t))
for r in t:
    print('|'.join(repr(v.strip() if isinstance(v, str) else v) for v in r))
t.close()
)";

TEST_F(TableReaderTest, EngineTablesReadByDebianReaders) {
    TzCommon::SetDateStyle(3);
    TzCommon::SetCenturyFlag(true);
    ASSERT_TRUE(Create("out.dbf", {{"NAVN", 'C', 12, 0},
                                   {"ANTAL", 'N', 6, 0},
                                   {"PRIS", 'N', 10, 2},
                                   {"DATO", 'D', 8, 0},
                                   {"BETALT", 'L', 1, 0}}));
    Open(1, Path("out.dbf"));
    ASSERT_TRUE(Dbf4::ALock());
    struct Row {
        std::string name;
        int32_t qty;
        double price;
        std::string date;
        bool paid;
    };
    const std::vector<Row> rows = {
        {"\xC6r\xF8 \xC5se", 5, 1250.75, "07-12-2026", true},       // Ærø Åse
        {"S\xF8ren \xE6\xF8\xE5", -12, -0.5, "29-02-2000", false},  // Søren æøå
        {"blank", 0, 0, "  -  -    ", false},
    };
    for (const Row& r : rows) {
        Dbf4::ClearRecord();
        SetC(1, r.name);
        SetI(2, r.qty);
        SetF(3, r.price);
        SetD(4, r.date);
        SetL(5, r.paid);
        Dbf4::Append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }
    Dbf4::Unlock();
    Dbf4::Go(2);
    ASSERT_TRUE(Dbf4::RLock());
    Dbf4::DeleteRec();
    Dbf4::Unlock();
    Dbf4::CloseArea();

    // Fields left blank in a new record stay blank, as dBASE leaves them.
    const std::string expected =
        "2\n"
        "'Ærø Åse'|5|1250.75|datetime.date(2026, 12, 7)|True\n"
        "'blank'|None|None|None|None\n";
    EXPECT_EQ(Python(kDbfreadDump, Path("out.dbf")), expected);
    std::string viaDbf = Python(kDbfDump, Path("out.dbf"));
    EXPECT_EQ(viaDbf.substr(0, 2), "3\n");  // python3-dbf counts deleted records too
    EXPECT_NE(viaDbf.find("'Ærø Åse'|5|1250.75|datetime.date(2026, 12, 7)|True"), std::string::npos)
        << viaDbf;
    EXPECT_NE(viaDbf.find("'Søren æøå'|-12|-0.5|datetime.date(2000, 2, 29)|"), std::string::npos)
        << viaDbf;
}

// A 0, 0.00 and false assigned to new records of a shared table reach the file, whether
// the caller assigns them before or after taking the record lock; the field it leaves alone
// stays blank.
TEST_F(TableReaderTest, AssignedZerosOfNewRecordsReadByDebianReader) {
    ASSERT_TRUE(
        Create("z.dbf", {{"N", 'N', 5, 0}, {"P", 'N', 8, 2}, {"L", 'L', 1, 0}, {"U", 'N', 4, 0}}));
    Open(1, Path("z.dbf"));
    auto assign = [] {
        const int32_t zero = 0;
        const double dzero = 0;
        std::memcpy(Dbf4::AssignField(1), &zero, 4);
        std::memcpy(Dbf4::AssignField(2), &dzero, 8);
        *Dbf4::AssignField(3) = 0;
    };
    for (bool beforeLock : {false, true, false, true}) {
        ASSERT_TRUE(Dbf4::ALock());
        Dbf4::ClearRecord();
        Dbf4::Append();
        Dbf4::Unlock();
        if (beforeLock) assign();
        ASSERT_TRUE(Dbf4::RLock());
        if (!beforeLock) assign();
        Dbf4::Replace();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        Dbf4::Unlock();
    }
    Dbf4::CloseArea();
    EXPECT_EQ(Python(kDbfreadDump, Path("z.dbf")),
              "4\n0|0.0|False|None\n0|0.0|False|None\n0|0.0|False|None\n0|0.0|False|None\n");
}

TEST_F(TableReaderTest, DebianWrittenTablesReadByEngine) {
    const std::string table = Path("py.dbf");
    Python(R"(
import sys, dbf, datetime
t = dbf.Table(sys.argv[1], 'navn C(10); antal N(5,0); pris N(8,2); dato D; ok L',
              dbf_type='db3', codepage='cp850')
t.open(dbf.READ_WRITE)
t.append(('Ærø Å', 5, 1.25, datetime.date(2026, 12, 7), True))
t.append(('x', -12, -0.5, None, False))
t.close()
)",
           table);
    TzCommon::SetDateStyle(3);
    TzCommon::SetCenturyFlag(true);
    Open(1, table);
    EXPECT_EQ(Dbf4::RecCount(), 2);
    EXPECT_EQ(Dbf4::Field(1), "NAVN");
    EXPECT_EQ(GetC(1), "\xC6r\xF8 \xC5     ");
    EXPECT_EQ(GetI(2), 5);
    EXPECT_DOUBLE_EQ(GetF(3), 1.25);
    EXPECT_EQ(GetC(4), "07-12-2026");
    EXPECT_EQ(*Dbf4::FieldAddress(5), 1);
    Dbf4::Skip(1);
    EXPECT_EQ(GetC(1), "x         ");
    EXPECT_EQ(GetI(2), -12);
    EXPECT_DOUBLE_EQ(GetF(3), -0.5);
    EXPECT_EQ(GetC(4), "  -  -    ");
    EXPECT_EQ(*Dbf4::FieldAddress(5), 0);

    // Our change to their table reads back in their reader.
    ASSERT_TRUE(Dbf4::RLock());
    SetC(1,
         "\xE6"
         "ble");  // æble
    Dbf4::Replace();
    Dbf4::CloseArea();
    EXPECT_NE(Python(kDbfreadDump, table).find("'æble'|-12|-0.5|None|False"), std::string::npos);
}

}  // namespace
}  // namespace kjtest
