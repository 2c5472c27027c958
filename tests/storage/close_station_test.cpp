// Closing and reopening a table between stations: a closer's header and end mark never
// land on another station's new record or undo its count, and the records a killed station
// appended (its header never written) survive an exclusive open and a pack.
#include <signal.h>

#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

const std::vector<TzDbfLow::FieldDef> kLayout = {{"WHO", 'C', 8, 0}, {"SEQ", 'N', 6, 0}};
constexpr size_t kHl = 32 * 2 + 33, kRl = 1 + 8 + 6;

uint32_t HeaderCount(const std::string& b) {
    return uint8_t(b[4]) | uint8_t(b[5]) << 8 | uint8_t(b[6]) << 16 | uint32_t(uint8_t(b[7])) << 24;
}

class CloseStationTest : public TableTest {
  protected:
    void AppendRows(const std::string& who, int n) {
        ASSERT_TRUE(Dbf4::ALock());
        for (int i = 1; i <= n; ++i) {
            Dbf4::ClearRecord();
            SetC(1, who);
            SetI(2, i);
            Dbf4::Append();
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        }
        Dbf4::Unlock();
    }
    // Lets a helper stopped at a named step run on and waits for its end.
    static int Resume(Child& c) {
        kill(c.pid(), SIGCONT);
        c.ReadLine(20000);  // its end of output, or the time-out
        c.Kill();           // nothing when it has ended
        return c.Wait();
    }
};

// Helper process: appends COUNT records (KEEP: keeps the append lock) or replaces record 1
// (REPLACE), then closes the table; KJ_STOP_AT stops it at a step of the close.
TEST(CloseStationChild, Closer) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    const int count = std::stoi(ChildArg("COUNT"));
    if (count > 0) {
        ASSERT_TRUE(Dbf4::ALock());
        for (int i = 1; i <= count; ++i) {
            Dbf4::ClearRecord();
            std::memcpy(Dbf4::FieldAddress(1) + 1, "CLOSER  ", 8);
            Dbf4::Append();
        }
        if (ChildArg("KEEP").empty()) Dbf4::Unlock();
    } else {
        Dbf4::Go(1);
        ASSERT_TRUE(Dbf4::RLock());
        Dbf4::Replace();
    }
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    tz::StopPoint("appended");  // a kill here: the header was never written
    Dbf4::CloseArea();
}

// A closer holding the append lock lets go of it; another station appends at once. The
// closer's end mark must not land on that record: python3-dbfread reads every record.
TEST_F(CloseStationTest, EndMarkNeverOnAnotherStationsRecord) {
    ASSERT_TRUE(Create("t.dbf", kLayout));
    const std::string table = Path("t.dbf");
    Child closer(
        "CloseStationChild.Closer",
        {{"TABLE", table}, {"COUNT", "3"}, {"KEEP", "1"}, {"KJ_STOP_AT", "close-unlocked"}});
    ASSERT_TRUE(closer.WaitStopped(20000));
    Open(1, table);
    AppendRows("OTHER", 1);  // the append lock is free now
    Dbf4::CloseArea();
    EXPECT_EQ(Resume(closer), 0);
    std::string b = Bytes("t.dbf");
    EXPECT_EQ(HeaderCount(b), 4u);
    ASSERT_EQ(b.size(), kHl + 4 * kRl + 1);
    EXPECT_EQ(b[kHl + 3 * kRl], ' ');  // the delete flag of the other station's record
    WriteFile(Path("n.py"),
              "import sys, dbfread\n"
              "print(len(list(dbfread.DBF(sys.argv[1], encoding='cp850'))))\n");
    std::string out;
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + Path("n.py") + " " + table + " 2>&1", &out), 0);
    EXPECT_EQ(out, "4\n");
}

// A station that only replaced a record closes while another station appends and closes:
// the header keeps the larger count.
TEST_F(CloseStationTest, ReplacerNeverUndoesAnAppendersCount) {
    ASSERT_TRUE(Create("t.dbf", kLayout));
    const std::string table = Path("t.dbf");
    Open(1, table);
    AppendRows("FIRST", 100);
    Dbf4::CloseArea();
    Child closer("CloseStationChild.Closer",
                 {{"TABLE", table}, {"COUNT", "0"}, {"KJ_STOP_AT", "close-unlocked"}});
    ASSERT_TRUE(closer.WaitStopped(20000));
    Open(1, table);
    AppendRows("OTHER", 1);
    Dbf4::CloseArea();
    EXPECT_EQ(Resume(closer), 0);
    EXPECT_EQ(HeaderCount(Bytes("t.dbf")), 101u);
}

// A station killed after appending never wrote the header's count; the maintenance that
// follows (an exclusive open and a pack) keeps every record it appended.
TEST_F(CloseStationTest, KilledAppenderLosesNothingToPack) {
    ASSERT_TRUE(Create("t.dbf", kLayout));
    const std::string table = Path("t.dbf");
    Open(1, table);
    AppendRows("FIRST", 10);
    Dbf4::CloseArea();
    Child appender("CloseStationChild.Closer",
                   {{"TABLE", table}, {"COUNT", "25"}, {"KJ_STOP_AT", "appended"}});
    ASSERT_TRUE(appender.WaitStopped(20000));
    appender.KillAndReap();
    ASSERT_EQ(HeaderCount(Bytes("t.dbf")), 10u);
    Open(1, table + " EXCLUSIVE");
    EXPECT_EQ(Dbf4::RecCount(), 35);
    Dbf4::Go(1);
    Dbf4::DeleteRec();
    EXPECT_TRUE(Dbf4::Pack());
    EXPECT_EQ(Dbf4::RecCount(), 34);
    Dbf4::GoBottom();
    EXPECT_EQ(GetC(1), "CLOSER  ");
    Dbf4::CloseArea();
    std::string b = Bytes("t.dbf");
    EXPECT_EQ(HeaderCount(b), 34u);
    EXPECT_EQ(b.size(), kHl + 34 * kRl + 1);
}

}  // namespace
}  // namespace kjtest
