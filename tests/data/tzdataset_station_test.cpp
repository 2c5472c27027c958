// The dataset components beside other stations (real processes started from this binary):
// locks refused by another process with and without retry events, a table that another
// process appends to while a component reads it, and index files held open elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "index/mdx_semaphore.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "tests/data/tzdataset_fixture.h"
#include "tests/support/test_support.h"

using namespace TzDs;
using namespace tzdstest;

namespace {

std::string RowName(int k) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "r%04d", k);
    return buf;
}

// The other station's record buffer: NAVN and BELOB of the fixture's table.
void FillRow(int k) {
    Dbf4::ClearRecord();
    const std::string name = RowName(k);
    uint8_t* p = Dbf4::FieldAddress(Dbf4::FieldNo("NAVN"));
    p[0] = uint8_t(name.size());
    std::memcpy(p + 1, name.data(), name.size());
    const int32_t amount = k;
    std::memcpy(Dbf4::FieldAddress(Dbf4::FieldNo("BELOB")), &amount, 4);
}

}  // namespace

// A station that serves commands, one per line: "rlock N", "alock", "unlock", "index"
// (opens the table's index file), "add N" (appends N rows under the append lock, numbered
// on from the table's count), "belob N V" (sets BELOB of record N under a record lock),
// "alock till a writer waits" (holds the append lock until a station waits to change the
// index, at most 20 seconds), "writers waiting", "end".
TEST(TzdsStationHelper, Serve) {
    KJ_CHILD_ONLY();
    TzEngine::Startup();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("FILE"));
    kjtest::TellParent(TzCommon::ErrorWord() == 0 ? "ready" : "failed " + TzCommon::LastMessage());
    for (;;) {
        const std::string cmd = kjtest::HearParent();
        if (cmd.empty() || cmd == "end") break;
        if (cmd.rfind("rlock ", 0) == 0) {
            Dbf4::Go(std::stoi(cmd.substr(6)));
            kjtest::TellParent(Dbf4::RLock() ? "locked" : "failed " + TzCommon::LastMessage());
        } else if (cmd.rfind("belob ", 0) == 0) {
            const size_t gap = cmd.find(' ', 6);
            Dbf4::Go(std::stoi(cmd.substr(6, gap - 6)));
            const int32_t v = std::stoi(cmd.substr(gap + 1));
            if (!Dbf4::RLock()) {
                kjtest::TellParent("failed " + TzCommon::LastMessage());
                continue;
            }
            std::memcpy(Dbf4::FieldAddress(Dbf4::FieldNo("BELOB")), &v, 4);
            Dbf4::Replace();
            const uint16_t code = TzCommon::ErrorWord();
            Dbf4::Unlock();
            kjtest::TellParent(code == 0 ? "replaced" : "failed " + TzCommon::LastMessage());
        } else if (cmd == "alock") {
            kjtest::TellParent(Dbf4::ALock() ? "locked" : "failed " + TzCommon::LastMessage());
        } else if (cmd == "alock till a writer waits") {
            if (!Dbf4::ALock()) {
                kjtest::TellParent("failed " + TzCommon::LastMessage());
                continue;
            }
            kjtest::TellParent("locked");
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            bool seen = false;
            while (!(seen = TzNdx::IndexWritersWaiting()) &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Dbf4::Unlock();
            kjtest::TellParent(seen ? "a writer waited" : "no writer waited");
        } else if (cmd == "writers waiting") {
            kjtest::TellParent(TzNdx::IndexWritersWaiting() ? "yes" : "no");
        } else if (cmd == "unlock") {
            Dbf4::Unlock();
            kjtest::TellParent("released");
        } else if (cmd == "index") {
            TzNdx::SetIndexTo(TzCommon::ForceExtension(kjtest::ChildArg("FILE"), "MDX"));
            kjtest::TellParent(TzCommon::ErrorWord() == 0 ? "indexed"
                                                          : "failed " + TzCommon::LastMessage());
        } else if (cmd.rfind("add ", 0) == 0) {
            const int n = std::stoi(cmd.substr(4));
            std::string problem;
            for (int i = 0; i < n && problem.empty(); ++i) {
                while (!Dbf4::ALock()) TzCommon::ClearErrorWord();
                FillRow(Dbf4::RecCount() + 1);
                Dbf4::Append();
                if (TzCommon::ErrorWord() != 0) problem = TzCommon::LastMessage();
                Dbf4::Unlock();
            }
            kjtest::TellParent(problem.empty() ? "added " + std::to_string(Dbf4::RecCount())
                                               : "failed " + problem);
        }
    }
    Dbf4::CloseAll();
}

// ---- Locks refused by another process ----------------------------------------------------

TEST(TzdsLockHelper, HoldLocks) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("FILE"));
    Dbf4::Go(1);
    kjtest::TellParent(Dbf4::RLock() ? "locked" : "failed " + TzCommon::LastMessage());
    kjtest::HearParent();
    Dbf4::Unlock();
    kjtest::TellParent(Dbf4::ALock() ? "alocked" : "failed " + TzCommon::LastMessage());
    kjtest::HearParent();
    Dbf4::Unlock();
    kjtest::TellParent("released");
    kjtest::HearParent();
    Dbf4::CloseAll();
}

TEST_F(TzdsTest, RefusedLocksAbortAndRetry) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    AddRow(t, "anne", 1);
    kjtest::Child child("TzdsLockHelper.HoldLocks", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(child.ReadLine(), "locked");

    // No handler: the message, the silent abort, the row stays in edit with its values.
    t.Edit();
    t.FieldByName("navn").SetAsString("edited");
    EXPECT_THROW(t.Post(), Db::EAbort);
    EXPECT_EQ(t.State(), Db::dsEdit);
    EXPECT_EQ(t.FieldByName("navn").AsString(), "edited");
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Lock failed [Post]");
    t.Cancel();
    EXPECT_THROW(t.Delete(), Db::EAbort);
    EXPECT_EQ(g_messages.back(), "Lock failed [Delete]");
    EXPECT_EQ(Names(t), (std::vector<std::string>{"anne"}));
    child.WriteLine("next");
    ASSERT_EQ(child.ReadLine(), "alocked");

    // Insert refused by the append lock; the handler declines.
    int asked = 0;
    t.OnALockFailedOnInsert = [&](TTzDataSet&, bool& retry) {
        ++asked;
        retry = false;
    };
    t.Append();
    t.FieldByName("navn").SetAsString("new");
    EXPECT_THROW(t.Post(), Db::EAbort);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(t.State(), Db::dsInsert);

    // The handler retries after the other process let go.
    t.OnALockFailedOnInsert = [&](TTzDataSet&, bool& retry) {
        ++asked;
        child.WriteLine("go");
        EXPECT_EQ(child.ReadLine(), "released");
        retry = true;
    };
    t.Post();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_EQ(t.RecCount(), 2);
    child.WriteLine("end");
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(TzdsTest, RetryEventsWaitForTheOtherStation) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    AddRow(t, "anne", 1);
    AddRow(t, "bent", 2);
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");

    // Post: the first retry is refused again at once; the second comes after the other
    // station let go and writes the record.
    other.WriteLine("rlock 1");
    ASSERT_EQ(other.ReadLine(), "locked");
    int asked = 0;
    t.OnRLockFailedOnPost = [&](TTzDataSet& ds, bool& retry) {
        EXPECT_EQ(&ds, &t);
        if (++asked == 2) {
            other.WriteLine("unlock");
            EXPECT_EQ(other.ReadLine(), "released");
        }
        retry = true;
    };
    t.First();
    t.Edit();
    t.FieldByName("navn").SetAsString("anna");
    t.Post();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(Bytes(Path("tab.dbf")).substr(U16(Bytes(Path("tab.dbf")), 8) + 1, 10), "anna      ");

    // Delete and recall of the second row, each refused once and retried after release.
    other.WriteLine("rlock 2");
    ASSERT_EQ(other.ReadLine(), "locked");
    int deletes = 0, restores = 0;
    auto letGo = [&](int& count) {
        return [&](TTzDataSet&, bool& retry) {
            ++count;
            other.WriteLine("unlock");
            EXPECT_EQ(other.ReadLine(), "released");
            retry = true;
        };
    };
    t.OnRLockFailedOnDelete = letGo(deletes);
    t.OnRLockFailedOnRestore = letGo(restores);
    t.HideDeletedRecs = false;
    t.Last();
    t.Delete();
    EXPECT_EQ(deletes, 1);
    t.Last();
    EXPECT_TRUE(t.Deleted());
    other.WriteLine("rlock 2");
    ASSERT_EQ(other.ReadLine(), "locked");
    t.Recall();
    EXPECT_EQ(restores, 1);
    EXPECT_FALSE(t.Deleted());
    EXPECT_EQ(
        Bytes(Path("tab.dbf"))[U16(Bytes(Path("tab.dbf")), 8) + U16(Bytes(Path("tab.dbf")), 10)],
        ' ');

    // The successful pass released every lock: the other station takes them at once.
    other.WriteLine("rlock 1");
    EXPECT_EQ(other.ReadLine(), "locked");
    other.WriteLine("unlock");
    EXPECT_EQ(other.ReadLine(), "released");
    other.WriteLine("alock");
    EXPECT_EQ(other.ReadLine(), "locked");
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);
}

// A save that finds the append lock taken waits for it as one of the index's waiting
// writers: the station holding the lock sees it waiting (readers stand back for it from
// then on), and the saved row leaves no such sign behind.
TEST_F(TzdsTest, ASaveWaitingForTheAppendLockIsAWaitingWriter) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    AddRow(t, RowName(1), 1);
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");
    other.WriteLine("index");
    ASSERT_EQ(other.ReadLine(), "indexed");
    other.WriteLine("alock till a writer waits");
    ASSERT_EQ(other.ReadLine(), "locked");
    AddRow(t, RowName(2), 2);  // waits until the other station lets go
    EXPECT_EQ(other.ReadLine(30000), "a writer waited");
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(Names(t), (std::vector<std::string>{RowName(1), RowName(2)}));
    other.WriteLine("writers waiting");
    EXPECT_EQ(other.ReadLine(), "no");
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);
}

TEST_F(TzdsTest, ComponentReadsWhileAnotherStationAppends) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    for (int k = 1; k <= 3; ++k) AddRow(t, RowName(k), k);
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");
    other.WriteLine("index");
    ASSERT_EQ(other.ReadLine(), "indexed");

    constexpr int kAdded = 400;
    other.WriteLine("add " + std::to_string(kAdded));
    // While the rows arrive the component keeps navigating: every row it shows is whole
    // (its name and amount agree), counts never go back, and no error is left behind.
    int lastCount = 3;
    for (int round = 0; round < 150; ++round) {
        t.Refresh();
        const int count = t.RecordCount();
        ASSERT_GE(count, lastCount);
        lastCount = count;
        t.Last();
        ASSERT_FALSE(t.Eof() && t.Bof());
        const int64_t amount = t.FieldByName("belob").AsLargeInt();
        ASSERT_EQ(t.FieldByName("navn").AsString(), RowName(int(amount)));
        ASSERT_GE(amount, 3);
        t.First();
        ASSERT_EQ(t.FieldByName("navn").AsString(), RowName(1));
        t.MoveBy(round % 7);
        ASSERT_EQ(t.FieldByName("navn").AsString(),
                  RowName(int(t.FieldByName("belob").AsLargeInt())));
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    }
    ASSERT_EQ(other.ReadLine(), "added " + std::to_string(3 + kAdded));

    // After a resync the component sees every row, in natural and in index order.
    t.Refresh();
    EXPECT_EQ(t.RecordCount(), 3 + kAdded);
    EXPECT_EQ(t.RecCount(), 3 + kAdded);
    t.Last();
    EXPECT_EQ(t.FieldByName("navn").AsString(), RowName(3 + kAdded));
    std::vector<std::string> names = Names(t);
    ASSERT_EQ(names.size(), size_t(3 + kAdded));
    for (int k = 1; k <= 3 + kAdded; ++k) ASSERT_EQ(names[k - 1], RowName(k));
    ASSERT_TRUE(t.SetOrderToTag("NAVN"));
    EXPECT_TRUE(t.FindExact("R0250"));
    EXPECT_EQ(t.FieldByName("belob").AsLargeInt(), 250);
    t.Last();
    EXPECT_EQ(t.FieldByName("navn").AsString(), RowName(3 + kAdded));
    // Appends from this station continue the numbering after the other station's rows.
    AddRow(t, RowName(4 + kAdded), 4 + kAdded);
    EXPECT_EQ(t.RecCount(), 4 + kAdded);
    EXPECT_TRUE(t.FindExact("R0404"));
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);
}

TEST_F(TzdsTest, AlwaysBuildOpensAnIndexThatAnotherStationHolds) {
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.ShowProgress = false;
        t.Open();
        for (int k = 1; k <= 5; ++k) AddRow(t, RowName(k), k);
    }
    Dbf4::CloseAll();
    const std::string mdx = Path("tab.mdx");
    const std::string before = Bytes(mdx);
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");
    other.WriteLine("index");
    ASSERT_EQ(other.ReadLine(), "indexed");

    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.IndexList() = {"NAVN,F,F,UPPER(NAVN)", "", "BELOB,F,F,BELOB", ""};
    t.CreateIndex = ciAlways;
    int builds = 0;
    t.OnBeforeMakeIndex = [&](TTzDataSet&, const std::string&, bool&) { ++builds; };
    t.Open();
    EXPECT_EQ(builds, 0);
    EXPECT_EQ(TzNdx::TagCount(), 1);  // the file as the other station has it
    EXPECT_EQ(Bytes(mdx), before);
    EXPECT_TRUE(t.SetOrderToTag("NAVN"));
    EXPECT_TRUE(t.FindExact("R0003"));
    t.Close();
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);

    // Once nobody holds it, the same open rebuilds it with both tags.
    t.Open();
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(TzNdx::TagCount(), 2);
    EXPECT_TRUE(t.SetOrderToTag("BELOB"));
}

// A walk that holds its index read count across many steps: another station that waits to
// append is seen waiting, is let in by the next GiveWay, and the hold counts itself in again
// afterwards; the walk then sees the new row.
TEST_F(TzdsTest, HeldReadCountGivesWayToAWaitingWriter) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    for (int k = 1; k <= 3; ++k) AddRow(t, RowName(k), k);
    ASSERT_TRUE(t.SetOrderToTag("NAVN"));
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");
    other.WriteLine("index");
    ASSERT_EQ(other.ReadLine(), "indexed");
    const std::string sem = Mdx::SemaphoreFileName(Path("tab.dbf"));
    {
        TIndexReadHold hold({&t});
        EXPECT_EQ(kjtest::ReadFile(sem)[1], 1);  // counted once, for the whole walk
        EXPECT_FALSE(t.IndexWritersWaiting());
        t.First();
        t.Next();
        EXPECT_EQ(kjtest::ReadFile(sem)[1], 1);  // the steps add no count of their own
        other.WriteLine("add 1");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!t.IndexWritersWaiting() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(t.IndexWritersWaiting());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(t.IndexWritersWaiting());  // still waiting for this station's count
        hold.GiveWay();
        EXPECT_EQ(other.ReadLine(20000), "added 4");
        EXPECT_FALSE(t.IndexWritersWaiting());
        EXPECT_EQ(kjtest::ReadFile(sem)[1], 1);  // counted in again
        t.Last();
        EXPECT_EQ(t.FieldByName("navn").AsString(), RowName(4));
    }
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 0);
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);
}

// A writer that waits for another reader as well: the hold gives way, sees the writer still
// waiting once its turn is over, and goes on walking; when the other reader lets go, the
// writer gets in at the hold's next look.
TEST_F(TzdsTest, HeldReadCountWalksOnWhileAWriterWaitsForAnotherReader) {
    TTzDbf t("Tab"), other("Other");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    for (int k = 1; k <= 3; ++k) AddRow(t, RowName(k), k);
    MakeTable(other, "tab.dbf", true);
    other.ShowProgress = false;
    other.Open();
    kjtest::Child writer("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(writer.ReadLine(), "ready");
    writer.WriteLine("index");
    ASSERT_EQ(writer.ReadLine(), "indexed");
    const std::string sem = Mdx::SemaphoreFileName(Path("tab.dbf"));
    other.HoldIndexRead(true);  // a second station reading (its own handle)
    TIndexReadHold hold({&t});
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 2);
    writer.WriteLine("add 1");
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!t.IndexWritersWaiting() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(t.IndexWritersWaiting());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    hold.GiveWay();  // the writer's turn passes while the other reader holds on
    EXPECT_TRUE(t.IndexWritersWaiting());
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 2);
    for (int k = 0; k < 50; ++k) {  // the walk goes on; the next looks come later
        hold.GiveWay();
        t.First();
        t.Next();
    }
    EXPECT_EQ(t.FieldByName("navn").AsString(), RowName(2));
    other.HoldIndexRead(false);
    until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string said;
    while (said.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        hold.GiveWay();
        if (!t.IndexWritersWaiting()) said = writer.ReadLine(20000);
    }
    EXPECT_EQ(said, "added 4");
    writer.WriteLine("end");
    EXPECT_EQ(writer.Wait(), 0);
}

// ---- Another station's change and this station's edit of the same record ------------------

namespace {

// NAVN and BELOB of record r as the file holds them.
std::pair<std::string, int> StoredRow(const std::string& path, int r) {
    const std::string b = Bytes(path);
    const size_t hl = U16(b, 8), rl = U16(b, 10);
    const size_t at = hl + size_t(r - 1) * rl + 1;
    return {b.substr(at, 10), std::stoi(b.substr(at + 10, 12))};
}

}  // namespace

// Station B replaces BELOB of record 3; this station, which had read record 3 before, edits
// NAVN of it and posts: both changes are kept. Once after skipping onto the record, once
// on a record shown before B's change.
TEST_F(TzdsTest, EditKeepsOtherStationsChange) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    for (int k = 1; k <= 5; ++k) AddRow(t, RowName(k), k);
    EXPECT_EQ(Names(t).size(), 5u);
    kjtest::Child other("TzdsStationHelper.Serve", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(other.ReadLine(), "ready");

    t.First();
    t.Next();
    other.WriteLine("belob 3 300");
    ASSERT_EQ(other.ReadLine(), "replaced");
    t.Next();
    ASSERT_EQ(t.RecNo(), 3);
    EXPECT_EQ(t.FieldByName("belob").AsLargeInt(), 300);
    t.Edit();
    t.FieldByName("navn").SetAsString("carla");
    t.Post();
    EXPECT_EQ(StoredRow(Path("tab.dbf"), 3), std::make_pair(std::string("carla     "), 300));

    // Shown before the change: the post merges this edit into the record as locked.
    t.Next();
    ASSERT_EQ(t.RecNo(), 4);
    other.WriteLine("belob 4 400");
    ASSERT_EQ(other.ReadLine(), "replaced");
    t.Edit();
    t.FieldByName("navn").SetAsString("dora");
    t.Post();
    EXPECT_EQ(StoredRow(Path("tab.dbf"), 4), std::make_pair(std::string("dora      "), 400));
    EXPECT_EQ(t.FieldByName("belob").AsLargeInt(), 400);

    // A field this edit did change wins over the other station's value.
    other.WriteLine("belob 4 401");
    ASSERT_EQ(other.ReadLine(), "replaced");
    t.Edit();
    t.FieldByName("belob").SetAsLargeInt(402);
    t.Post();
    EXPECT_EQ(StoredRow(Path("tab.dbf"), 4), std::make_pair(std::string("dora      "), 402));
    other.WriteLine("end");
    EXPECT_EQ(other.Wait(), 0);
}
