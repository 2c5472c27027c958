// Tables written by other dBASE writers: spare bytes kept in every record, bytes after the
// end mark, padding after the mark (0x1A or zero bytes up to a block size), no end mark at
// all, a header longer than its descriptors. Each layout opens, holds the header's count of
// records with every value read right, and an open and close that change nothing leave the
// file byte for byte (run under the sanitizers too).
#include <cstdio>
#include <utility>
#include <vector>

#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

class ForeignTableTest : public TableTest {};

// NAME C 10, AMT N 7.2, DAY D 8, OK L 1: 27 bytes with the delete flag.
constexpr int kFieldsLength = 1 + 10 + 7 + 8 + 1;

struct Layout {
    const char* what;
    int rows = 5;
    int spare = 0;      // bytes after the fields in every record
    int headerPad = 0;  // bytes after the terminator that the header length counts
    bool mark = true;   // the end mark after the last record
    std::string after;  // bytes after the mark (or after the records)
    size_t padTo = 0;   // file padded to this size with padByte (0: none)
    char padByte = '\x1A';
};

std::string Descriptor(const char* name, char type, int len, int dec) {
    std::string d(32, '\0');
    for (size_t i = 0; name[i]; ++i) d[i] = name[i];
    d[11] = type;
    d[16] = char(len);
    d[17] = char(dec);
    return d;
}

std::string RowName(int i) {
    char b[16];
    std::snprintf(b, sizeof b, "KUNDE%03d", i);
    return b;
}

// The record of row i: its fields as a foreign writer stores them, then `spare` bytes.
std::string Row(int i, int spare) {
    char b[64];
    std::snprintf(b, sizeof b, "%c%-10s%7.2f2024%02d%02d%c", i % 4 == 0 ? '*' : ' ',
                  RowName(i).c_str(), i * 1.25, 1 + i % 12, 1 + i % 28, i % 2 ? 'T' : 'F');
    return std::string(b) + std::string(size_t(spare), i % 2 ? '\0' : '#');
}

std::string Build(const Layout& l) {
    const int headerLength = 32 + 4 * 32 + 1 + l.headerPad;
    const int recordLength = kFieldsLength + l.spare;
    std::string h(32, '\0');
    h[0] = 3;
    h[1] = 124;
    h[2] = 3;
    h[3] = 9;
    h[4] = char(l.rows & 0xFF);
    h[5] = char(l.rows >> 8);
    h[8] = char(headerLength & 0xFF);
    h[9] = char(headerLength >> 8);
    h[10] = char(recordLength & 0xFF);
    h[11] = char(recordLength >> 8);
    h += Descriptor("NAME", 'C', 10, 0) + Descriptor("AMT", 'N', 7, 2) +
         Descriptor("DAY", 'D', 8, 0) + Descriptor("OK", 'L', 1, 0) + "\r";
    h += std::string(size_t(l.headerPad), '\0');
    for (int i = 1; i <= l.rows; ++i) h += Row(i, l.spare);
    if (l.mark) h += "\x1A";
    h += l.after;
    if (h.size() < l.padTo) h += std::string(l.padTo - h.size(), l.padByte);
    return h;
}

Layout Mark(std::string after = {}) {
    Layout l;
    l.after = std::move(after);
    return l;
}
Layout NoMark() {
    Layout l;
    l.mark = false;
    return l;
}
Layout Padded(size_t to, char byte, int headerPad = 0) {
    Layout l;
    l.padTo = to;
    l.padByte = byte;
    l.headerPad = headerPad;
    return l;
}

std::vector<Layout> Layouts() {
    std::vector<Layout> out;
    for (int spare : {0, 1, 2, 7}) {
        for (int rows : {5, 290}) {
            auto add = [&](const char* what, Layout l) {
                l.rows = rows;
                l.spare = spare;
                l.what = what;
                out.push_back(l);
            };
            add("mark", Mark());
            add("no mark", NoMark());
            add("0x1A after the mark", Mark("\x1A"));
            add("a zero byte after the mark", Mark(std::string(1, '\0')));
            add("4 bytes after the mark", Mark("abcd"));
            add("5 marks after the mark", Mark("\x1A\x1A\x1A\x1A\x1A"));
            add("5 bytes after the mark", Mark("ABCDE"));
            add("17 bytes after the mark", Mark(std::string(17, 'x')));
            for (size_t block : {size_t(1024), size_t(4096), size_t(16384)}) {
                add("0x1A padding", Padded(block, '\x1A'));
                add("zero padding", Padded(block, '\0'));
            }
            add("pad byte after the terminator", Padded(0, 0, 1));
            add("263-byte header", Padded(0, 0, 263 - (32 + 4 * 32 + 1)));
            add("pad after the terminator, padded file", Padded(4096, '\x1A', 1));
        }
    }
    return out;
}

std::string TrimmedAmount(std::string s) {
    return s.substr(s.find_first_not_of(' ') == std::string::npos ? s.size()
                                                                  : s.find_first_not_of(' '));
}

// Every value of every row as the engine reads it, in the area opened; empty when all agree.
std::string RowsDisagree(int rows) {
    std::string wrong;
    for (int i = 1; i <= rows && wrong.size() < 400; ++i) {
        Dbf4::Go(i);
        char amt[16], day[16];
        std::snprintf(amt, sizeof amt, "%.2f", i * 1.25);
        std::snprintf(day, sizeof day, "2024%02d%02d", 1 + i % 12, 1 + i % 28);
        const std::string want = RowName(i) + std::string(10 - RowName(i).size(), ' ');
        const bool okNow = Dbf4::Peek(i, 4) == (i % 2 ? "T" : "F");
        if (TzCommon::ErrorWord() != 0 || Dbf4::Peek(i, 1) != want ||
            TrimmedAmount(Dbf4::Peek(i, 2)) != amt || Dbf4::Peek(i, 3) != day || !okNow ||
            Dbf4::Deleted() != (i % 4 == 0))
            wrong += "row " + std::to_string(i) + " reads " + Dbf4::Peek(i, 1) + "|" +
                     Dbf4::Peek(i, 2) + "|" + Dbf4::Peek(i, 3) + "|" + Dbf4::Peek(i, 4) + "; ";
    }
    return wrong;
}

TEST_F(ForeignTableTest, EveryLayoutOpensWithItsRecordsReadRight) {
    const std::string f = Path("kunde.dbf");
    for (const Layout& l : Layouts()) {
        for (const char* mode : {"", " EXCLUSIVE"}) {
            SCOPED_TRACE(std::string(l.what) + ", " + std::to_string(l.rows) + " rows, " +
                         std::to_string(l.spare) + " spare bytes, " +
                         std::to_string(l.after.size()) + " after, padded to " +
                         std::to_string(l.padTo) + mode);
            const std::string bytes = Build(l);
            WriteFile(f, bytes);
            TzCommon::ClearError();
            Dbf4::Select(1);
            Dbf4::Use(f + mode);
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
            EXPECT_EQ(Dbf4::RecCount(), l.rows);
            EXPECT_EQ(RowsDisagree(l.rows), "");
            Dbf4::Go(l.rows + 1);
            EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange) << "a row past the count";
            TzCommon::ClearError();
            Dbf4::CloseArea();
            EXPECT_TRUE(ReadFile(f) == bytes) << "an open that changed nothing rewrote the file";
            EXPECT_TRUE(TzDbfLow::TakeShortTables().empty());
        }
    }
}

// A record appended to a padded table goes right after the header's count of records, and
// every station then counts one more, not the padding's rows.
TEST_F(ForeignTableTest, AnAppendToAPaddedTableTakesTheFirstPaddingRow) {
    const std::string f = Path("kunde.dbf");
    for (char pad : {'\x1A', '\0'}) {
        SCOPED_TRACE(int(pad));
        Layout l;
        l.spare = 2;
        l.padTo = 4096;
        l.padByte = pad;
        WriteFile(f, Build(l));
        Open(1, f);
        Open(2, f + " ALIAS OTHER");
        Dbf4::Select(1);
        ASSERT_TRUE(Dbf4::ALock());
        Dbf4::ClearRecord();
        SetC(1, "NY");
        Dbf4::Append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
        Dbf4::Unlock();
        EXPECT_EQ(Dbf4::RecCount(), 6);
        Dbf4::Select(2);
        Dbf4::GoBottom();
        EXPECT_EQ(Dbf4::RecNo(), 6) << "the other area's count";
        EXPECT_EQ(Dbf4::Peek(6, 1), "NY        ");
        Dbf4::CloseAll();
        Open(1, f);
        EXPECT_EQ(Dbf4::RecCount(), 6);
        EXPECT_EQ(RowsDisagree(5), "");
        Dbf4::CloseAll();
        const std::string now = ReadFile(f);
        EXPECT_EQ(uint8_t(now[4]), 6);
        EXPECT_EQ(uint8_t(now[161 + 6 * (kFieldsLength + 2)]), 0x1A)
            << "the end mark after the new record";
    }
}

}  // namespace
}  // namespace kjtest
