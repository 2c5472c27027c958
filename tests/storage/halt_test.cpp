// A halt ("Program halted.") ends the program through the engine's shut-down: every open
// table is closed as at a normal end, its header counting what was appended and its end
// mark written. The halting program is a helper process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/tz_common.h"
#include "tests/storage/table_fixture.h"
#include "tests/support/test_support.h"

namespace {

const std::vector<TzDbfLow::FieldDef> kLayout = {{"NR", 'N', 8, 0}, {"TEKST", 'C', 20, 0}};

uint32_t U32(const std::string& b, size_t off) {
    return uint32_t(uint8_t(b[off])) | uint32_t(uint8_t(b[off + 1])) << 8 |
           uint32_t(uint8_t(b[off + 2])) << 16 | uint32_t(uint8_t(b[off + 3])) << 24;
}

uint16_t U16(const std::string& b, size_t off) {
    return uint16_t(uint8_t(b[off]) | uint8_t(b[off + 1]) << 8);
}

}  // namespace

// Appends three records to a table opened exclusively, then fails with checking on (the
// run-time default): the box, then the halt.
TEST(HaltChild, AppendThenHalt) {
    KJ_CHILD_ONLY();
    kjtest::ResetEngine();
    TzCommon::SetErrorBoxProc([](const std::string&, const std::string& caption, unsigned) {
        kjtest::TellParent("box " + caption);
        return 1;
    });
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE") + " EXCLUSIVE");
    for (int32_t i = 1; i <= 3; ++i) {
        Dbf4::ClearRecord();
        std::memcpy(Dbf4::FieldAddress(1), &i, 4);
        Dbf4::Append();
    }
    kjtest::TellParent("appended");
    Dbf4::Go(99);  // 212: beyond the table
    kjtest::TellParent("not halted");
}

TEST(HaltTest, TablesAreClosedBeforeTheProgramEnds) {
    kjtest::TempDir dir;
    const std::string table = dir.file("halt.dbf");
    Dbf4::WorkArea scratch;
    ASSERT_TRUE(TzDbfLow::CreateDbf(scratch, table, kLayout)) << TzCommon::LastErrorMessage();
    kjtest::Child kid("HaltChild.AppendThenHalt", {{"TABLE", table}});
    EXPECT_EQ(kid.ReadLine(30000), "appended");
    EXPECT_EQ(kid.ReadLine(30000), "box Program halted.");
    if (!kid.WaitStopped(10000)) kid.KillAndReap();
    EXPECT_EQ(kid.Wait(), 212);
    const std::string bytes = kjtest::ReadFile(table);
    ASSERT_GE(bytes.size(), 32u);
    const size_t headerLength = U16(bytes, 8), recordLength = U16(bytes, 10);
    EXPECT_EQ(U32(bytes, 4), 3u);  // the header counts the three records
    ASSERT_EQ(bytes.size(), headerLength + 3 * recordLength + 1);
    EXPECT_EQ(uint8_t(bytes.back()), TzDbfLow::kEofMark);
}
