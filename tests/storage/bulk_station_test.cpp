// Pack and zap between real processes: refused, with the table unchanged, while another
// station has the table open; done once it has closed it.
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

const std::vector<TzDbfLow::FieldDef> kLayout = {{"ID", 'N', 4, 0}, {"NAME", 'C', 10, 0}};

// Helper process: keeps the table open until the parent says so.
TEST(BulkStationChild, Holder) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    TellParent("OPEN " + std::to_string(Dbf4::RecCount()));
    HearParent();
    Dbf4::CloseArea();
    TellParent("CLOSED");
}

// Helper process: opens the table and tries to pack it and to zap it.
TEST(BulkStationChild, Packer) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    const bool packed = Dbf4::Pack();
    const bool zapped = Dbf4::Zap();
    TellParent(std::string(packed ? "PACKED" : "REFUSED") + (zapped ? " ZAPPED" : " REFUSED") +
               " " + std::to_string(TzCommon::ErrorWord()));
    Dbf4::CloseArea();
}

class BulkStationTest : public TableTest {};

TEST_F(BulkStationTest, PackAndZapOnlyWhenNoOtherStationHasTheTable) {
    ASSERT_TRUE(Create("poster.dbf", kLayout));
    const std::string table = Path("poster.dbf");
    Open(1, table);
    ASSERT_TRUE(Dbf4::FLock());
    for (int i = 1; i <= 10; ++i) {
        Dbf4::ClearRecord();
        SetI(1, i);
        SetC(2, "row " + std::to_string(i));
        Dbf4::Append();
    }
    for (int r : {2, 5, 9}) {
        Dbf4::Go(r);
        Dbf4::DeleteRec();
    }
    Dbf4::Unlock();
    Dbf4::CloseArea();
    const std::string before = Bytes("poster.dbf");

    // Another station holds the table open: this one may neither pack nor zap.
    {
        Child holder("BulkStationChild.Holder", {{"TABLE", table}});
        ASSERT_EQ(holder.ReadLine(), "OPEN 10");
        Open(1, table);
        EXPECT_FALSE(Dbf4::Pack());
        EXPECT_EQ(TzCommon::ErrorWord(), 0);  // refused without a message
        EXPECT_FALSE(Dbf4::Zap());
        EXPECT_EQ(Bytes("poster.dbf"), before);
        // The area is still shared and in use.
        Dbf4::Go(3);
        EXPECT_TRUE(Dbf4::RLock());
        Dbf4::Unlock();
        holder.WriteLine("CLOSE");
        EXPECT_EQ(holder.ReadLine(), "CLOSED");
        EXPECT_EQ(holder.Wait(), 0);
    }

    // This station has the table open: the other one is refused.
    {
        Child packer("BulkStationChild.Packer", {{"TABLE", table}});
        EXPECT_EQ(packer.ReadLine(), "REFUSED REFUSED 0");
        EXPECT_EQ(packer.Wait(), 0);
        EXPECT_EQ(Bytes("poster.dbf"), before);
    }

    // Alone now: the pack goes through and leaves a table the other station reads.
    EXPECT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    Dbf4::CloseArea();
    const std::string after = Bytes("poster.dbf");
    const uint32_t headerLength = uint8_t(after[8]) | (uint8_t(after[9]) << 8);
    EXPECT_EQ(uint8_t(after[4]), 7);
    EXPECT_EQ(after.size(), headerLength + 7 * 15 + 1);
    {
        Child holder("BulkStationChild.Holder", {{"TABLE", table}});
        EXPECT_EQ(holder.ReadLine(), "OPEN 7");
        holder.WriteLine("CLOSE");
        EXPECT_EQ(holder.ReadLine(), "CLOSED");
    }
    {
        Child packer("BulkStationChild.Packer", {{"TABLE", table}});
        EXPECT_EQ(packer.ReadLine(), "PACKED ZAPPED 0");
        EXPECT_EQ(packer.Wait(), 0);
    }
    const std::string zapped = Bytes("poster.dbf");
    EXPECT_EQ(zapped.size(), headerLength + 1);
}

}  // namespace
}  // namespace kjtest
