// The index semaphore file between stations: counts, the writer's wait for readers, the
// change counter, and removal by the last station. Stations are real processes (helper
// copies of this binary) or, for simple cases, two handles in this process.
#include "index/mdx_semaphore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

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
        ASSERT_EQ(table.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
                  0);
        sem = Mdx::SemaphoreFileName(dir.file("sager.dbf"));
    }
    void TearDown() override { TzCommon::ResetErrorState(); }
    // The counts and the change counter (the writers' number follows them).
    std::string Record() { return kjtest::ReadFile(sem).substr(0, 4); }
    uint32_t WritersCounted() {
        const std::string r = kjtest::ReadFile(sem);
        uint32_t n = 0;
        for (size_t i = 0; i < 4 && 4 + i < r.size(); ++i)
            n |= uint32_t(uint8_t(r[4 + i])) << (8 * i);
        return n;
    }

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
    EXPECT_EQ(TzCommon::LastMessage(),
              "Unbalanced IncRead/DecRead for semaphore file: " + sem + " DECREAD");
    EXPECT_EQ(s.UnlockSemaphore(), 254);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Unbalanced Lock/Unlock for semaphore file: " + sem + " UNLOCKSEMAPHORE");

    // A station's own counted read does not keep its write waiting.
    ASSERT_EQ(s.IncRead(), 0);
    ASSERT_EQ(WritersCounted(), 0u);
    ASSERT_EQ(s.LockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x02\x01\x00", 4));
    EXPECT_EQ(WritersCounted(), 1u);  // moved on as the writer counted in
    ASSERT_EQ(s.UnlockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x01\x02\x00", 4));
    EXPECT_EQ(WritersCounted(), 1u);
    EXPECT_FALSE(s.IndexChanged());  // its own change
    ASSERT_EQ(s.DecRead(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x02\x00", 4));
    ASSERT_EQ(s.Logout(), 0);
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);  // the last one erased it
}

TEST_F(SemTest, TwoHandlesCountAndTimeOut) {
    tz::File table2;
    ASSERT_EQ(table2.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
              0);
    IndexSemaphore a, b;
    a.Configure(sem, &table, false);
    b.Configure(sem, &table2, false);
    a.SetRetryPauseMs(2);
    ASSERT_EQ(a.Login(), 0);
    ASSERT_EQ(b.Login(), 0);
    EXPECT_EQ(Record()[0], 2);
    ASSERT_EQ(b.IncRead(), 0);
    EXPECT_FALSE(b.WritersWaiting());
    a.SetReadTimeoutTicks(18);  // about one second
    EXPECT_EQ(a.LockSemaphore(), 1202);
    EXPECT_FALSE(b.WritersWaiting());  // the writer that gave up no longer says it waits
    EXPECT_EQ(TzCommon::LastMessage(),
              "1 second timeout, cannot read: " + sem +
                  "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
                  "Cure: Log all users of this application off the network,\r\nthen delete " +
                  sem +
                  "\r\nDo not delete it while the program still runs at another station: "
                  "that station's index changes could then be lost or damaged.");
    ASSERT_EQ(b.DecRead(), 0);
    ASSERT_EQ(a.LockSemaphore(), 0);
    ASSERT_EQ(a.UnlockSemaphore(), 0);
    ASSERT_EQ(b.IncRead(), 0);
    EXPECT_TRUE(b.IndexChanged());
    b.AcknowledgeChange();
    EXPECT_FALSE(b.IndexChanged());
    ASSERT_EQ(b.DecRead(), 0);
    ASSERT_EQ(a.Logout(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x02\x00", 4));
    ASSERT_EQ(b.Logout(), 0);
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);
}

// Logs in and out again and again; while logged in the file must be there and count this
// station. Answers the first failure's code (999: the file was gone or did not count it).
uint16_t Churn(IndexSemaphore& s, int rounds) {
    const std::string sem = s.FileName();
    for (int i = 0; i < rounds; ++i) {
        if (uint16_t rc = s.Login(); rc != 0) return rc;
        if (!tz::Exists(sem) || s.Record()[0] < 1) return 999;
        if (uint16_t rc = s.IncRead(); rc != 0) return rc;
        if (uint16_t rc = s.DecRead(); rc != 0) return rc;
        if (!tz::Exists(sem)) return 999;
        if (uint16_t rc = s.Logout(); rc != 0) return rc;
    }
    return 0;
}

// Erases the semaphore file whenever the file layer lets it (no lock of the table taken),
// as maintenance that finds the file unused does.
uint16_t EraseLoop(const std::string& sem, int rounds) {
    for (int i = 0; i < rounds * 4; ++i) tz::EraseFile(sem);
    return 0;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        const char* digits = "0123456789abcdef";
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The reads a walking station makes at most before giving up on seeing a write: about 20 s
// on an idle machine. Whether a waiting writer gets in is a matter of how many reads pass
// meanwhile, not of seconds: a busy machine makes each read last longer (on two busy cores
// the write showed after 900 reads on average, at most 4,400 in ten runs).
constexpr int kWalkRounds = 20000;

// Counts in and out again and again, each read lasting a millisecond, so that with a few
// such stations some read is nearly always counted; stops when another station's write
// shows (or after kWalkRounds reads). Answers the first failure's code, 0 when a write
// showed (998: none showed).
uint16_t Walk(IndexSemaphore& s) {
    for (int round = 0; round < kWalkRounds; ++round) {
        if (uint16_t rc = s.IncRead(); rc != 0) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (uint16_t rc = s.DecRead(); rc != 0) return rc;
        if (s.IndexChanged()) return 0;
    }
    return 998;
}

// Helper station: logs in and obeys one command per line, answering "<code> <changed>
// <counter>".
TEST(SemStation, Helper) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorHook([] {});
    tz::File table;
    ASSERT_EQ(table.Open(kjtest::ChildArg("TABLE"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
              0);
    IndexSemaphore s;
    s.Configure(Mdx::SemaphoreFileName(kjtest::ChildArg("TABLE")), &table, false);
    for (std::string cmd = kjtest::HearParent(); !cmd.empty() && cmd != "quit";
         cmd = kjtest::HearParent()) {
        uint16_t rc = 0;
        if (cmd == "login") rc = s.Login();
        if (cmd == "logout") rc = s.Logout();
        if (cmd == "inc") rc = s.IncRead();
        if (cmd == "dec") rc = s.DecRead();
        if (cmd == "lock") rc = s.LockSemaphore();
        if (cmd == "unlock") rc = s.UnlockSemaphore();
        if (cmd == "walk") rc = Walk(s);
        if (cmd == "churn") rc = Churn(s, std::stoi(kjtest::ChildArg("ROUNDS")));
        if (cmd == "erase")
            rc = EraseLoop(Mdx::SemaphoreFileName(kjtest::ChildArg("TABLE")),
                           std::stoi(kjtest::ChildArg("ROUNDS")));
        if (cmd == "record") {  // the record as this station last read it
            kjtest::TellParent(Hex(std::string(reinterpret_cast<const char*>(s.Record()), 4)));
            continue;
        }
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
    EXPECT_NE(TzCommon::LastMessage().find("0 second timeout, cannot read: " + sem),
              std::string::npos);
    EXPECT_EQ(ask("dec"), "0 0 0");
    a.SetReadTimeoutTicks(1820);
    ASSERT_EQ(a.LockSemaphore(), 0);
    EXPECT_EQ(Record(), std::string("\x02\x01\x01\x00", 4));

    // While this station writes, the other's read waits for the record lock; it goes on
    // when the write ends and then sees the raised change counter.
    child.WriteLine("inc");
    ASSERT_EQ(a.UnlockSemaphore(), 0);
    EXPECT_EQ(child.ReadLine(), "0 1 2");
    EXPECT_EQ(ask("ack"), "0 1 2");
    EXPECT_EQ(ask("dec"), "0 0 2");

    // The other station writes; this one notices at its next read.
    EXPECT_EQ(ask("lock"), "0 0 3");
    EXPECT_EQ(ask("unlock"), "0 0 4");
    ASSERT_EQ(a.IncRead(), 0);
    EXPECT_TRUE(a.IndexChanged());
    EXPECT_EQ(a.Counter(), 4);
    ASSERT_EQ(a.DecRead(), 0);

    // Logging out: the first leaves the file, the last erases it.
    ASSERT_EQ(a.Logout(), 0);
    EXPECT_EQ(Record(), std::string("\x01\x00\x04\x00", 4));
    EXPECT_EQ(ask("logout"), "0 0 4");
    EXPECT_NE(kjtest::RunCommand("test -e '" + sem + "'", nullptr), 0);
    child.WriteLine("quit");
    EXPECT_EQ(child.Wait(), 0);
}

// The record goes through the file's shared mapping on this local file system (no read or
// write call), and each station's every change of it reaches the other station's own
// mapping and a plain read of the file: counts raised and lowered by turns, and the change
// counter of the other's write.
TEST_F(SemTest, EveryChangeThroughTheMappingReachesTheOtherStation) {
    kjtest::Child child("SemStation.Helper", {{"TABLE", dir.file("sager.dbf")}});
    auto ask = [&](const std::string& cmd) {
        child.WriteLine(cmd);
        return child.ReadLine();
    };
    IndexSemaphore a;
    a.Configure(sem, &table, false);
    ASSERT_EQ(a.Login(), 0);
    ASSERT_EQ(ask("login"), "0 0 0");
    tz::CallCounts calls;
    tz::SetCallCounts(&calls);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // A write moves the counter on twice: as its writer counts in and as it ends.
        const std::string counter = Hex(std::string{char(2 * round), 0});
        ASSERT_EQ(a.IncRead(), 0);
        EXPECT_EQ(Hex(Record()), "0201" + counter);
        EXPECT_EQ(ask("inc").substr(0, 1), "0");
        EXPECT_EQ(ask("record"), "0202" + counter);  // it saw this station's count
        EXPECT_EQ(Hex(Record()), "0202" + counter);
        ASSERT_EQ(a.DecRead(), 0);
        EXPECT_EQ(Hex(Record()), "0201" + counter);  // this one saw the other's count
        EXPECT_EQ(ask("dec").substr(0, 1), "0");
        EXPECT_EQ(Hex(Record()), "0200" + counter);
        EXPECT_EQ(ask("lock").substr(0, 1), "0");
        EXPECT_EQ(Hex(Record()), "0201" + Hex(std::string{char(2 * round + 1), 0}));
        EXPECT_EQ(ask("unlock").substr(0, 1), "0");
        const std::string next = Hex(std::string{char(2 * round + 2), 0});
        EXPECT_EQ(Hex(Record()), "0200" + next);
        ASSERT_EQ(a.IncRead(), 0);
        EXPECT_TRUE(a.IndexChanged());
        a.AcknowledgeChange();
        ASSERT_EQ(a.DecRead(), 0);
    }
    tz::SetCallCounts(nullptr);
    EXPECT_EQ(calls.reads, 0);
    EXPECT_EQ(calls.writes, 0);
    ASSERT_EQ(ask("logout").substr(0, 1), "0");
    EXPECT_EQ(Hex(Record()), "0100" + Hex(std::string{40, 0}));
    ASSERT_EQ(a.Logout(), 0);
    child.WriteLine("quit");
    EXPECT_EQ(child.Wait(), 0);
}

// Stations that count themselves in and out at every step, overlapping so that some read
// is nearly always counted, let a waiting writer go first: the write gets in while they
// walk, and they walk on and see it.
TEST_F(SemTest, AWaitingWriterGetsInBesideWalkingReaders) {
    std::vector<std::unique_ptr<kjtest::Child>> walkers;
    for (int i = 0; i < 3; ++i) {
        walkers.push_back(std::make_unique<kjtest::Child>(
            "SemStation.Helper",
            std::map<std::string, std::string>{{"TABLE", dir.file("sager.dbf")}}));
        walkers.back()->WriteLine("login");
        ASSERT_EQ(walkers.back()->ReadLine().substr(0, 1), "0");
    }
    IndexSemaphore w;
    w.Configure(sem, &table, false);
    ASSERT_EQ(w.Login(), 0);
    for (auto& k : walkers) k->WriteLine("walk");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Record()[1] == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(Record()[1], 0);  // they walk
    // No time-out: the walkers' reads bound the wait (once they stop, nothing is counted).
    w.SetReadTimeoutTicks(0);
    ASSERT_EQ(w.LockSemaphore(), 0) << TzCommon::LastMessage();
    ASSERT_EQ(w.UnlockSemaphore(), 0);
    for (auto& k : walkers)  // walked on and saw it ("998": walked every read and did not)
        EXPECT_EQ(k->ReadLine(), "0 1 2");
    for (auto& k : walkers) k->WriteLine("quit");
    for (auto& k : walkers) EXPECT_EQ(k->Wait(), 0);
    ASSERT_EQ(w.Logout(), 0);
}

// Stations waiting to write queue in the order they came: one that joins while another
// waits lets that one go first (and not the other way round), until the first has had its
// turn, even when the first has joined again for its next write by the time the second
// looks. A reader sees every queued station as a waiting writer.
TEST_F(SemTest, WaitingWritersGoInTheOrderTheyCame) {
    tz::File table2, table3;
    for (tz::File* f : {&table2, &table3})
        ASSERT_EQ(f->Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
                  0);
    IndexSemaphore a, b, reader;
    a.Configure(sem, &table, false);
    b.Configure(sem, &table2, false);
    reader.Configure(sem, &table3, false);
    for (IndexSemaphore* s : {&a, &b, &reader}) {
        ASSERT_EQ(s->Login(), 0);
        s->SetWritersAheadMaxMs(600000);  // no look ends a wait by the clock
    }
    b.JoinWriters();
    EXPECT_TRUE(reader.WritersWaiting());
    EXPECT_TRUE(b.WritersAheadGone());  // nobody waited before it
    a.JoinWriters();
    EXPECT_FALSE(a.WritersAheadGone());  // b first
    EXPECT_TRUE(b.WritersAheadGone());   // a came later
    ASSERT_EQ(b.LockSemaphore(), 0);     // b's turn
    ASSERT_EQ(b.UnlockSemaphore(), 0);
    b.JoinWriters();                    // b's next write
    EXPECT_TRUE(a.WritersAheadGone());  // b had its turn
    EXPECT_FALSE(b.WritersAheadGone());
    ASSERT_EQ(a.LockSemaphore(), 0);  // a's turn ends its place in the queue
    EXPECT_TRUE(b.WritersAheadGone());
    ASSERT_EQ(a.UnlockSemaphore(), 0);
    EXPECT_TRUE(reader.WritersWaiting());
    b.LeaveWriters();
    EXPECT_FALSE(reader.WritersWaiting());
    a.JoinWriters();  // alone in the queue
    EXPECT_TRUE(a.WritersAheadGone());
    ASSERT_EQ(a.Logout(), 0);  // the place goes with the station
    EXPECT_FALSE(reader.WritersWaiting());
    for (IndexSemaphore* s : {&b, &reader}) ASSERT_EQ(s->Logout(), 0);
}

// A refused record lock is tried 1,001 times: the first tries follow each other closely,
// but all the pauses together still last 1,000 full pauses before the 1202.
TEST_F(SemTest, RefusedRecordLockStillWaitsAThousandFullPauses) {
    tz::File table2;
    ASSERT_EQ(table2.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
              0);
    IndexSemaphore a, b;
    a.Configure(sem, &table, false);
    b.Configure(sem, &table2, false);
    ASSERT_EQ(a.Login(), 0);
    ASSERT_EQ(b.Login(), 0);
    ASSERT_EQ(b.LockSemaphore(), 0);  // holds the record lock
    a.SetRetryPauseMs(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a.IncRead(), 1202);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.95);
    EXPECT_EQ(TzCommon::LastMessage().rfind(
                  "10 second timeout: Cannot lock index semaphore file: " + sem + " INCREAD", 0),
              0u);
    ASSERT_EQ(b.UnlockSemaphore(), 0);
    ASSERT_EQ(a.IncRead(), 0);  // nothing of the failed try is left
    ASSERT_EQ(a.DecRead(), 0);
    EXPECT_EQ(Record()[1], 0);
}

// Stations log in and out while another erases the file whenever nobody has it open:
// every login succeeds and keeps the file it counts itself in (created and kept open in one
// step, never closed and opened again; an open that lost the file to an erase before it held
// its share byte opens afresh).
TEST_F(SemTest, LoginAndRemovalAreAtomicBetweenStations) {
    std::vector<std::unique_ptr<kjtest::Child>> kids;
    for (int i = 0; i < 4; ++i) {
        kids.push_back(std::make_unique<kjtest::Child>(
            "SemStation.Helper", std::map<std::string, std::string>{
                                     {"TABLE", dir.file("sager.dbf")}, {"ROUNDS", "300"}}));
    }
    for (size_t i = 0; i < kids.size(); ++i) kids[i]->WriteLine(i == 0 ? "erase" : "churn");
    for (auto& k : kids) EXPECT_EQ(k->ReadLine(), "0 0 0");
    for (auto& k : kids) k->WriteLine("quit");
    for (auto& k : kids) EXPECT_EQ(k->Wait(), 0);
}

// A station killed while it reads, or while it writes, leaves its count in the file; its
// slot locks vanish with it, so the next writer drops the count at once instead of waiting
// for the time-out, and the last station to leave still removes the file.
TEST_F(SemTest, KilledStationsCountsDoNotStallOthers) {
    IndexSemaphore a;
    a.Configure(sem, &table, false);
    a.SetReadTimeoutTicks(18);  // a stall fails in about a second
    ASSERT_EQ(a.Login(), 0);
    for (const char* step : {"inc", "lock"}) {
        SCOPED_TRACE(step);
        kjtest::Child child("SemStation.Helper", {{"TABLE", dir.file("sager.dbf")}});
        child.WriteLine("login");
        ASSERT_EQ(child.ReadLine().substr(0, 1), "0");
        child.WriteLine(step);
        ASSERT_EQ(child.ReadLine().substr(0, 1), "0");
        EXPECT_EQ(Record()[0], 2);
        EXPECT_EQ(Record()[1], 1);
        child.KillAndReap();
        const uint16_t before = a.Counter();
        ASSERT_EQ(a.LockSemaphore(), 0) << TzCommon::LastMessage();
        EXPECT_EQ(Record()[1], 1);  // only this writer
        // The dropped count may have been a part-way change: the counter moved on.
        EXPECT_TRUE(a.IndexChanged());
        EXPECT_NE(a.Counter(), before);
        a.AcknowledgeChange();
        ASSERT_EQ(a.UnlockSemaphore(), 0);
        EXPECT_EQ(Record()[1], 0);
    }
    // The second login counted the living stations again: the first dead one is gone.
    EXPECT_EQ(Record()[0], 2);
    ASSERT_EQ(a.Logout(), 0);
    EXPECT_FALSE(tz::Exists(sem));
}

// Every write of the protocol fails once in turn (fault injection through the file layer):
// the failed action reports its error, and afterwards nothing a station set is left in the
// file: after one more read each station writes without waiting for the other, and the
// last logout removes the file (also when a logout's own write failed).
TEST_F(SemTest, FailedWritesLeaveNoCountsBehind) {
    tz::File table2;
    ASSERT_EQ(table2.Open(dir.file("sager.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
              0);
    using Step = uint16_t (IndexSemaphore::*)();
    struct Act {
        int who;
        Step step;
    };
    const std::vector<Act> script = {
        {0, &IndexSemaphore::Login},           {1, &IndexSemaphore::Login},
        {0, &IndexSemaphore::IncRead},         {0, &IndexSemaphore::DecRead},
        {1, &IndexSemaphore::LockSemaphore},   {1, &IndexSemaphore::UnlockSemaphore},
        {0, &IndexSemaphore::IncRead},         {0, &IndexSemaphore::LockSemaphore},
        {0, &IndexSemaphore::UnlockSemaphore}, {0, &IndexSemaphore::DecRead},
        {1, &IndexSemaphore::IncRead},         {1, &IndexSemaphore::DecRead},
        {0, &IndexSemaphore::Logout},
    };
    const long writes = long(script.size());  // one write of the record per action
    for (long n = 1; n <= writes; ++n) {
        SCOPED_TRACE("failed write " + std::to_string(n));
        IndexSemaphore s[2];
        s[0].Configure(sem, &table, false);
        s[1].Configure(sem, &table2, false);
        for (auto& x : s) x.SetReadTimeoutTicks(18);  // a stall fails in about a second
        tz::FaultInjector inj;
        inj.failAt = n;
        inj.sticky = false;
        tz::SetFaultInjector(&inj);
        int failures = 0;
        for (const Act& act : script) {
            if ((s[act.who].*act.step)() != 0) ++failures;
        }
        tz::SetFaultInjector(nullptr);
        EXPECT_GE(failures, 1);  // later calls may then be unbalanced
        for (int who : {1, 0}) {
            IndexSemaphore& x = s[who];
            if (!x.LoggedIn()) continue;
            EXPECT_EQ(x.IncRead(), 0);
            EXPECT_EQ(x.DecRead(), 0);
            EXPECT_EQ(x.LockSemaphore(), 0) << who << ": " << TzCommon::LastMessage();
            EXPECT_EQ(x.UnlockSemaphore(), 0);
        }
        s[0].Logout();
        s[1].Logout();
        EXPECT_FALSE(tz::Exists(sem));
        IndexSemaphore c;
        c.Configure(sem, &table, false);
        ASSERT_EQ(c.Login(), 0);
        EXPECT_EQ(Record()[0], 1);
        EXPECT_EQ(Record()[1], 0);
        ASSERT_EQ(c.Logout(), 0);
    }
}

}  // namespace
