// Tables whose descriptors no engine writes but a damaged or foreign file holds: the engine
// reads and writes such fields within their own bytes (run under the sanitizers too).
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

}  // namespace
}  // namespace kjtest
