// Tables whose descriptors no engine writes but a damaged or foreign file holds: the engine
// reads and writes such fields within their own bytes (run under the sanitizers too).
#include <cstdio>

#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

class DamagedTableTest : public TableTest {};

// One record of NAME C(10) and a DAY field whose descriptor gives width dayWidth.
std::string TableWithShortDate(uint8_t dayWidth, const std::string& record) {
    std::string h(32, '\0');
    h[0] = 3;
    h[1] = 124;
    h[2] = 6;
    h[3] = 5;
    h[4] = 1;
    h[8] = char(32 + 2 * 32 + 1);
    h[10] = char(1 + 10 + dayWidth);
    auto field = [](const char* name, char type, uint8_t len) {
        std::string d(32, '\0');
        for (size_t i = 0; name[i]; ++i) d[i] = name[i];
        d[11] = type;
        d[16] = char(len);
        return d;
    };
    return h + field("NAME", 'C', 10) + field("DAY", 'D', dayWidth) + "\r" + record + "\x1a";
}

TEST_F(DamagedTableTest, DateFieldShorterThanADateStaysInItsBytes) {
    WriteFile(Path("d.dbf"), TableWithShortDate(4, " ABCDEFGHIJ2024"));
    Open(1, Path("d.dbf") + " EXCLUSIVE");
    Dbf4::GoTop();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Dbf4::Peek(1, 2), "2024");
    Dbf4::Scatter();
    SetD(2, "01-02-2025");
    Dbf4::Replace();
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::CloseArea();
    std::string b = Bytes("d.dbf");
    ASSERT_EQ(b.size(), 97u + 15u + 1u);
    EXPECT_EQ(b.substr(97, 15), " ABCDEFGHIJ2025");
    EXPECT_EQ(uint8_t(b[112]), 0x1A);
}

// 300 records of 49 bytes (NAME C 40, AMT N 8) under a header that says 300, built directly;
// `header` and `records` are the two parts of the file (the records with the end mark).
struct RowsFile {
    std::string header, records;
};
RowsFile ThreeHundredRows(const std::string& created) {
    RowsFile f;
    f.header = created.substr(0, 32 * 2 + 33);
    f.header[4] = char(300 & 0xFF);
    f.header[5] = char(300 >> 8);
    for (int i = 1; i <= 300; ++i) {
        char row[64];
        std::snprintf(row, sizeof row, " %-40s%8d", ("ROW" + std::to_string(i)).c_str(), i);
        f.records += row;
    }
    f.records += "\x1A";
    return f;
}

// Headers that lie about where the records are, while the file holds the header's count of
// records exactly as the field descriptors place them: a record length that is a multiple of
// the fields' (the file's bytes divide by it too), a header length longer than the
// descriptors (by one byte or by a descriptor's 32). Each is refused as a damaged header,
// and the refused open leaves the file as it was (its count not rewritten). A header that
// tells the truth about padding it really holds stays accepted.
TEST_F(DamagedTableTest, HeadersThatMisplaceTheRecordsAreRefused) {
    ASSERT_TRUE(Create("rows.dbf", {{"NAME", 'C', 40, 0}, {"AMT", 'N', 8, 0}}));
    const RowsFile rows = ThreeHundredRows(Bytes("rows.dbf"));
    const std::string f = Path("bad.dbf");
    auto setWord = [](std::string b, size_t at, int v) {
        b[at] = char(v & 0xFF);
        b[at + 1] = char(v >> 8);
        return b;
    };
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const std::vector<Case> refused = {
        {"record length 98", setWord(rows.header, 10, 98) + rows.records, "(Fields do not fit"},
        {"record length 147", setWord(rows.header, 10, 147) + rows.records, "(Fields do not fit"},
        {"header length + 32", setWord(rows.header, 8, 97 + 32) + rows.records,
         "(Header length does not fit"},
        {"header length + 1", setWord(rows.header, 8, 97 + 1) + rows.records,
         "(Header length does not fit"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        WriteFile(f, c.bytes);
        TzCommon::ClearError();
        Dbf4::Select(1);
        Dbf4::Use(f);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NotADbaseFile);
        const std::string start = f + " is not a dBASE database. " + c.reason;
        EXPECT_EQ(TzCommon::LastMessage().substr(0, start.size()), start);
        EXPECT_EQ(Dbf4::Current(), nullptr);
        EXPECT_TRUE(ReadFile(f) == c.bytes) << "the refused open changed the file";
    }
    // A pad byte after the terminator that the header length counts: records in place.
    std::string padded = setWord(rows.header, 8, 97 + 1) + std::string(1, '\0') + rows.records;
    WriteFile(f, padded);
    Open(1, f);
    EXPECT_EQ(Dbf4::RecCount(), 300);
    EXPECT_EQ(Dbf4::Peek(300, 1).substr(0, 6), "ROW300");
    Dbf4::CloseArea();
    // Records really 98 bytes long (the fields and padding) under a record length of 98.
    std::string wide = setWord(rows.header, 10, 98);
    for (size_t at = 0; at + 49 <= rows.records.size(); at += 49)
        wide += rows.records.substr(at, 49) + std::string(49, ' ');
    WriteFile(f, wide + "\x1A");
    Open(1, f);
    EXPECT_EQ(Dbf4::RecCount(), 300);
    EXPECT_EQ(Dbf4::Peek(300, 1).substr(0, 6), "ROW300");
    Dbf4::CloseArea();
}

}  // namespace
}  // namespace kjtest
