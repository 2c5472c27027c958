// The index semaphore file between stations: counts, the writer's wait for readers, the
// change counter, and removal by the last station. Stations are real processes (helper
// copies of this binary) or, for simple cases, two handles in this process.
#include <gtest/gtest.h>

#include "index/mdx_semaphore.h"
#include "storage/tz_common.h"
#include "tests/support/test_support.h"

using Mdx::IndexSemaphore;

namespace {

class SemTest : public ::testing::Test {
protected:
    void SetUp() override {
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});
        kjtest::WriteFile(dir.file("sager.dbf"), std::string(64, ' '));
        ASSERT_EQ(table.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        sem = Mdx::SemaphoreFileName(dir.file("sager.dbf"));
    }
    void TearDown() override { TzCommon::ResetErrorState(); }
    std::string Record() { return kjtest::ReadFile(sem); }

    kjtest::TempDir dir;
    tz::File table;
    std::string sem;
};

TEST_F(SemTest, NamesNestingAndExclusiveTables) {
    EXPECT_EQ(Mdx::SemaphoreFileName("/d/SAGER.DBF"), "/d/SAGER.@S@");
    EXPECT_EQ(Mdx::SemaphoreFileName("/d.x/SAGER"), "/d.x/SAGER.@S@");
    EXPECT_EQ(Mdx::SemaphoreFileName("/d/SAGER.DBF", "/sem"), "/sem/SAGER.@S@");

    IndexSemaphore ex;
    ex.Configure(sem, &table, /*exclusive=*/true);
    EXPECT_EQ(ex.Login(), 0);
    EXPECT_EQ(ex.LockSemaphore(), 0);
    EXPECT_FALSE(kjtest::RunCommand("test -e '" + sem + "'", nullptr) == 0);  // no file

    IndexSemaphore s;
    s.Configure(sem, &table, false);
    ASSERT_EQ(s.Login(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(s.SetReadSemaphoreProc(true), 0);
    EXPECT_EQ(s.SetReadSemaphoreProc(true), 0);
    EXPECT_EQ(Record(), std::string("\x01\x01\x00\x00", 4));  // nested: counted once
    EXPECT_EQ(s.SetReadSemaphoreProc(false), 0);
    EXPECT_EQ(s.SetReadSemaphoreProc(false), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(s.SetReadSemaphoreProc(false), 254);
    EXPECT_EQ(TzCommon::LastMessage(), "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
    EXPECT_EQ(s.SetLockSemaphoreProc(false), 254);
    EXPECT_EQ(TzCommon::LastMessage(), "Non-symmetrical Lock-Unlock [SetLockSemaphoreProc]");
    EXPECT_EQ(s.DecRead(), 254);
    EXPECT_EQ(TzCommon::LastMessage(), "Unbalanced IncRead/DecRead for semaphore file: " + sem + " DECREAD");
    EXPECT_EQ(s.UnlockSemaphore(), 254);
    EXPECT_EQ(TzCommon::LastMessage(), "Unbalanced Lock/Unlock for semaphore file: " + sem + " UNLOCKSEMAPHORE");

    // A station's own counted read does not keep its write waiting.
    ASSERT_EQ(s.IncRead(), 0);
    ASSERT_EQ(s.LockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x02\x00\x00", 4));
    ASSERT_EQ(s.UnlockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x01\x01\x00", 4));
    EXPECT_FALSE(s.IndexChanged());  // its own change
    ASSERT_EQ(s.DecRead(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x01\x00", 4));
    ASSERT_EQ(s.Logout(), 0);
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);  // the last one erased it
}

TEST_F(SemTest, TwoHandlesCountAndTimeOut) {
    tz::File table2;
    ASSERT_EQ(table2.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    IndexSemaphore a, b;
    a.Configure(sem, &table, false);
    b.Configure(sem, &table2, false);
    a.SetRetryPauseMs(2);
    ASSERT_EQ(a.Login(), 0);
    ASSERT_EQ(b.Login(), 0);
    EXPECT_EQ(Record()[0], 2);
    ASSERT_EQ(b.IncRead(), 0);
    a.SetReadTimeoutTicks(18);  // about one second
    EXPECT_EQ(a.LockSemaphore(), 1202);
    EXPECT_EQ(TzCommon::LastMessage(),
              "1 second timeout, cannot read: " + sem +
                  "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
                  "Cure: Log all users of this application off the network,\r\nthen delete " + sem);
    ASSERT_EQ(b.DecRead(), 0);
    ASSERT_EQ(a.LockSemaphore(), 0);
    ASSERT_EQ(a.UnlockSemaphore(), 0);
    ASSERT_EQ(b.IncRead(), 0);
    EXPECT_TRUE(b.IndexChanged());
    b.AcknowledgeChange();
    EXPECT_FALSE(b.IndexChanged());
    ASSERT_EQ(b.DecRead(), 0);
    ASSERT_EQ(a.Logout(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x01\x00", 4));
    ASSERT_EQ(b.Logout(), 0);
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);
}

// Helper station: logs in and obeys one command per line, answering "<code> <changed>
// <counter>".
TEST(SemStation, Helper) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorHook([] {});
    tz::File table;
    ASSERT_EQ(table.Open(kjtest::ChildArg("TABLE"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    IndexSemaphore s;
    s.Configure(Mdx::SemaphoreFileName(kjtest::ChildArg("TABLE")), &table, false);
    for (std::string cmd = kjtest::HearParent(); !cmd.empty() && cmd != "quit"; cmd = kjtest::HearParent()) {
        uint16_t rc = 0;
        if (cmd == "login") rc = s.Login();
        if (cmd == "logout") rc = s.Logout();
        if (cmd == "inc") rc = s.IncRead();
        if (cmd == "dec") rc = s.DecRead();
        if (cmd == "lock") rc = s.LockSemaphore();
        if (cmd == "unlock") rc = s.UnlockSemaphore();
        bool changed = s.IndexChanged();
        if (cmd == "ack") s.AcknowledgeChange();
        kjtest::TellParent(std::to_string(rc) + " " + (changed ? "1" : "0") + " " +
                           std::to_string(s.Counter()));
    }
}

TEST_F(SemTest, TwoProcessesWriterLockAndChangeCounter) {
    kjtest::Child child("SemStation.Helper", {{"TABLE", dir.file("sager.dbf")}});
    auto ask = [&](const std::string& cmd) {
        child.WriteLine(cmd);
        return child.ReadLine();
    };
    IndexSemaphore a;
    a.Configure(sem, &table, false);
    a.SetRetryPauseMs(2);
    ASSERT_EQ(a.Login(), 0);
    EXPECT_EQ(ask("login"), "0 0 0");
    EXPECT_EQ(Record(), std::string("\x02\x00\x00\x00", 4));

    // The other station reads: this one's write waits and then times out.
    EXPECT_EQ(ask("inc"), "0 0 0");
    a.SetReadTimeoutTicks(9);
    EXPECT_EQ(a.LockSemaphore(), 1202);
    EXPECT_NE(TzCommon::LastMessage().find("0 second timeout, cannot read: " + sem), std::string::npos);
    EXPECT_EQ(ask("dec"), "0 0 0");
    a.SetReadTimeoutTicks(1820);
    ASSERT_EQ(a.LockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x02\x01\x00\x00", 4));

    // While this station writes, the other's read waits for the record lock; it goes on
    // when the write ends and then sees the raised change counter.
    child.WriteLine("inc");
    ASSERT_EQ(a.UnlockSemaphore(), 0);
    EXPECT_EQ(child.ReadLine(), "0 1 1");
    EXPECT_EQ(ask("ack"), "0 1 1");
    EXPECT_EQ(ask("dec"), "0 0 1");

    // The other station writes; this one notices at its next read.
    EXPECT_EQ(ask("lock"), "0 0 1");
    EXPECT_EQ(ask("unlock"), "0 0 2");
    ASSERT_EQ(a.IncRead(), 0);
    EXPECT_TRUE(a.IndexChanged());
    EXPECT_EQ(a.Counter(), 2);
    ASSERT_EQ(a.DecRead(), 0);

    // Logging out: the first leaves the file, the last erases it.
    ASSERT_EQ(a.Logout(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x02\x00", 4));
    EXPECT_EQ(ask("logout"), "0 0 2");
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);
    child.WriteLine("quit");
    EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
