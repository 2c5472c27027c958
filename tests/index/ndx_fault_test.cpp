// Faults during key maintenance: a failed write or a crash (helper process) after the N-th
// write of an append; at reopen the index agrees with the table or is rebuilt, and no record
// is lost.
#include "index/mdx_semaphore.h"
#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

const std::vector<TzNdx::TagDescriptor> kTags = {
    {"NAME", "UPPER(NAME)", "", false, false},
    {"AMT", "AMT", "", true, false},
    {"NAMEDAT", "NAME+DTOS(DAT)", "", false, false},
};

void AppendOne(int i) {
    Dbf4::ClearRecord();
    SetC(1, "N" + std::to_string((i * 7919) % 1000));
    SetF(2, i * 1.25);
    SetD(3, "15-03-2024");
    Dbf4::Append();
}

void MakeTable(const std::string& path, int n) {
    Dbf4::WorkArea scratch;
    ASSERT_TRUE(TzDbfLow::CreateDbf(
        scratch, path, {{"NAME", 'C', 10, 0}, {"AMT", 'N', 8, 2}, {"DAT", 'D', 8, 0}}));
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    for (int i = 1; i <= n; ++i) AppendOne(i);
    ASSERT_TRUE(TzNdx::MakeIndex(kTags));
    Dbf4::CloseAll();
}

// Reopens the table and its index (rebuilt when needed) and checks the tags.
void Verify(const std::string& path, int minRecords) {
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_GE(Dbf4::RecCount(), minRecords);
    ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(kTags)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

TEST(NdxFaultChild, CrashWhileAppending) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE") + " EXCLUSIVE");
    TzNdx::SetIndexTo(kjtest::ChildArg("MDX"));
    tz::FaultInjector inj;
    inj.failAt = std::stol(kjtest::ChildArg("N"));
    inj.crash = true;
    tz::SetFaultInjector(&inj);
    for (int i = 100; i < 140; ++i) AppendOne(i);
    tz::SetFaultInjector(nullptr);
    Dbf4::CloseAll();
}

class NdxFaultTest : public NdxTest {};

TEST_F(NdxFaultTest, CrashAfterNthWriteIsRepairedAtReopen) {
    for (long n = 1; n <= 40; n += 3) {
        SCOPED_TRACE("crash at write " + std::to_string(n));
        const std::string path = Path("t" + std::to_string(n) + ".dbf");
        MakeTable(path, 150);
        kjtest::Child child("NdxFaultChild.CrashWhileAppending",
                            {{"TABLE", path},
                             {"N", std::to_string(n)},
                             {"MDX", Path("t" + std::to_string(n) + ".mdx")}});
        int rc = child.Wait();
        EXPECT_TRUE(rc == 77 || rc == 0) << rc;
        Verify(path, 150);
    }
}

TEST_F(NdxFaultTest, FailedWriteIsReportedAndRebuiltAtReopen) {
    for (long n = 1; n <= 30; n += 2) {
        SCOPED_TRACE("failure at write " + std::to_string(n));
        const std::string path = Path("f" + std::to_string(n) + ".dbf");
        MakeTable(path, 150);
        Dbf4::Select(1);
        Dbf4::Use(path + " EXCLUSIVE");
        TzNdx::SetIndexTo(Path("f" + std::to_string(n) + ".mdx"));
        tz::FaultInjector inj;
        inj.failAt = n;
        tz::SetFaultInjector(&inj);
        bool raised = false;
        for (int i = 200; i < 220; ++i) {
            try {
                AppendOne(i);
            } catch (const TzCommon::ETzError&) {
                raised = true;
            }
        }
        tz::SetFaultInjector(nullptr);
        EXPECT_TRUE(raised || TzCommon::ErrorWord() != 0);
        Dbf4::CloseAll();
        Verify(path, 150);
    }
}

// Two areas on one shared table. Every write of an append and a search (semaphore protocol,
// table, index) fails once in turn, with error checking off; afterwards both areas go on
// appending without a stall (a failed lock call leaves no count raised and no count in the
// semaphore file), the semaphore file goes with the last close, and the index agrees with
// the table at reopen (or was marked and is rebuilt).
TEST_F(NdxFaultTest, FailedSemaphoreWritesLeaveNoCountBehind) {
    Mdx::SetDefaultReadTimeoutTicks(18);  // a stall fails in about a second
    for (long n = 1; n <= 24; ++n) {
        SCOPED_TRACE("failed write " + std::to_string(n));
        const std::string path = Path("s" + std::to_string(n) + ".dbf");
        MakeTable(path, 150);
        for (int area : {1, 2}) {
            Dbf4::Select(area);
            Dbf4::Use(path + (area == 2 ? " ALIAS OTHER" : ""));
            TzNdx::SetIndexTo(Path("s" + std::to_string(n) + ".mdx"));
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
        }
        auto step = [&](int i) {
            Dbf4::Select(1 + i % 2);
            Dbf4::FLock();
            try {
                AppendOne(300 + i);
                TzNdx::Find("N" + std::to_string(i));
            } catch (const TzCommon::ETzError&) {
            }
            Dbf4::Unlock();
            return TzCommon::ErrorWord();
        };
        tz::FaultInjector inj;
        inj.failAt = n;
        inj.sticky = false;
        tz::SetFaultInjector(&inj);
        for (int i = 0; i < 4; ++i) step(i);
        tz::SetFaultInjector(nullptr);
        for (int i = 4; i < 40; ++i) {
            uint16_t e = step(i);
            EXPECT_NE(e, TzErr::SemaphoreError) << TzCommon::LastErrorMessage();
            if (e == TzErr::SemaphoreError) break;
        }
        Dbf4::CloseAll();
        EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(path)));
        Verify(path, 150 + 36);
    }
    Mdx::SetDefaultReadTimeoutTicks(1820);
}

// A key removal that does not find the record's entry (another program changed the record
// without its keys) stops the key move; the record is in the table, so the rewrite counts
// as done (nothing reported that would invite the user to save it again) and every tag is
// built again before the writer lock goes: no second entry for the record, its new key
// found, and nothing left for the next open to rebuild.
TEST_F(NdxFaultTest, LostEntryIsMendedAndTheRewriteCountsAsSaved) {
    const std::string path = Path("lost.dbf");
    MakeTable(path, 20);
    const int32_t headerLen = [&] {
        std::string bytes = kjtest::ReadFile(path);
        return int32_t(uint8_t(bytes[8]) | (uint8_t(bytes[9]) << 8));
    }();
    const int32_t recLen = 1 + 10 + 8 + 8;
    {
        tz::File raw;
        ASSERT_EQ(raw.Open(path, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        ASSERT_EQ(raw.WriteAt(uint64_t(headerLen + 2 * recLen + 1), "ZZZZZZZZZZ", 10), 0);
    }
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    TzNdx::SetIndexTo(Path("lost.mdx"));
    TzNdx::Set_Order_To(0);
    Dbf4::Go(3);
    SetC(1, "NEWNAME");
    EXPECT_NO_THROW(Dbf4::Replace());
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    TzNdx::Set_Order_To(1);
    EXPECT_TRUE(TzNdx::Find("NEWNAME"));
    EXPECT_EQ(Dbf4::RecNo(), 3);
    EXPECT_FALSE(TzNdx::Find("ZZZZZZZZZZ"));
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    EXPECT_NO_THROW(TzNdx::SetIndexTo(Path("lost.mdx")));
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

// The maintenance mark found under the writer lock (left by a station that ended in the
// middle of a change) makes the next change build every tag again first. When that cannot
// be done (no disk space here) the change is refused before its record is written, with a
// message that names the full disk, and the mark stays; once it can, the tags agree with the table
// and the mark is gone.
TEST_F(NdxFaultTest, MarkFoundAtAChangeRebuildsTheTagsOrRefusesTheChange) {
    const std::string path = Path("mark.dbf");
    MakeTable(path, 40);
    Dbf4::Select(1);
    Dbf4::Use(path);
    TzNdx::SetIndexTo(Path("mark.mdx"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    auto setMark = [&](uint8_t value) {
        tz::File raw;
        ASSERT_EQ(raw.Open(Path("mark.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        ASSERT_EQ(raw.WriteAt(TzNdx::kMaintenanceMark, &value, 1), 0);
    };
    auto markInFile = [&] {
        tz::File raw;
        uint8_t value = 0xFF;
        size_t got = 0;
        if (raw.Open(Path("mark.mdx"), tz::Access::ReadOnly, tz::ShareMode::DenyNone) == 0)
            raw.ReadAt(TzNdx::kMaintenanceMark, &value, 1, &got);
        return int(value);
    };
    // A record appended by a station that died before its keys: in the table, in no tag.
    {
        const std::string bytes = kjtest::ReadFile(path);
        const int32_t headerLen = int32_t(uint8_t(bytes[8]) | (uint8_t(bytes[9]) << 8));
        std::string record = bytes.substr(size_t(headerLen + 39 * 27), 27);
        record.replace(1, 10, "DIED      ");
        tz::File raw;
        ASSERT_EQ(raw.Open(path, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        ASSERT_EQ(raw.WriteAt(uint64_t(headerLen + 40 * 27), record.data(), record.size()), 0);
    }
    setMark(1);
    TzNdx::SetDiskFreeProc([](const std::string&) -> int64_t { return 0; });
    ASSERT_TRUE(Dbf4::FLock());
    EXPECT_THROW(AppendOne(500), TzCommon::ETzError);
    // The refusal names the full disk (the change waits for room, not for a repair).
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InsufficientDiskSpace);
    EXPECT_EQ(TzCommon::LastMessage().rfind("Index file must be rebuilt (changes were "
                                            "interrupted): " +
                                                TzNdx::Mdx() +
                                                " [LockSemaphore]\r\nNot enough room on the "
                                                "disk to rebuild it: Available disk space: 0 "
                                                "KBytes;needed: ",
                                            0),
              0u)
        << TzCommon::LastMessage();
    EXPECT_EQ(Dbf4::RecCount(), 41);  // the refused record was not written
    EXPECT_EQ(markInFile(), 1);
    TzNdx::SetDiskFreeProc(nullptr);
    TzCommon::ClearErrorWord();
    EXPECT_NO_THROW(AppendOne(501));
    Dbf4::Unlock();
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Dbf4::RecCount(), 42);
    EXPECT_EQ(markInFile(), 0);
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_TRUE(TzNdx::Find("DIED"));
    Dbf4::CloseAll();
    Verify(path, 42);
}

// A change whose keys fail after its record is written, for lack of room or for a failing
// device, on a disk that never gets more free room: only a full disk makes the repair wait
// for room (and the row's keys are refused in the words of a full disk); after a device
// error (EIO) the next read repairs the tags at once.
TEST_F(NdxFaultTest, OnlyAFullDiskMakesTheRepairWaitForRoom) {
    struct Case {
        int err;
        bool waits;
    };
    for (const Case c : {Case{ENOSPC, true}, Case{EDQUOT, true}, Case{EIO, false}}) {
        SCOPED_TRACE("errno " + std::to_string(c.err));
        bool met = false;  // a write number that fails the keys after the record
        for (long n = 1; n <= 12 && !met; ++n) {
            const std::string name = "io" + std::to_string(c.err) + "_" + std::to_string(n);
            MakeTable(Path(name + ".dbf"), 40);
            Dbf4::Select(1);
            Dbf4::Use(Path(name + ".dbf"));
            TzNdx::SetIndexTo(Path(name + ".mdx"));
            TzNdx::Set_Order_To(1);
            ASSERT_TRUE(Dbf4::FLock());
            AppendOne(998);  // the room for the next changes is reserved now
            // The free room stays as it is: the user frees none. A full disk shows none.
            if (c.waits)
                TzNdx::SetDiskFreeProc([](const std::string&) -> int64_t { return 0; });
            else
                TzNdx::SetDiskFreeProc([](const std::string&) -> int64_t { return 1000000; });
            tz::FaultInjector inj;
            inj.failAt = n;
            inj.sticky = true;
            inj.failErrno = c.err;
            tz::SetFaultInjector(&inj);
            {
                TzCommon::ErrorCheckingOff off;
                try {
                    Dbf4::ClearRecord();
                    SetC(1, "ZZIO");
                    Dbf4::Append();
                } catch (const TzCommon::ETzError&) {
                }
            }
            tz::SetFaultInjector(nullptr);
            met = Dbf4::RecCount() == 42 && TzNdx::UnfinishedChange() != 0;
            if (met) {
                EXPECT_EQ(tz::NoRoom(TzErr::DiskWriteError), c.waits);
                TzCommon::ClearErrorWord();
                bool found = false;
                std::string refusal;
                {
                    TzCommon::ErrorCheckingOff off;
                    try {
                        found = TzNdx::Find("ZZIO");
                    } catch (const TzCommon::ETzError& e) {
                        refusal = e.what();
                    }
                }
                if (c.waits) {
                    EXPECT_FALSE(found) << "a full disk's repair ran with no more room";
                } else {
                    EXPECT_TRUE(found)
                        << "after a device error the repair waited for room: " << refusal
                        << TzCommon::LastMessage();
                    EXPECT_EQ(TagsAgree(), "");
                }
                if (!c.waits) {
                    EXPECT_EQ(refusal.find("Disken er fuld"), std::string::npos) << refusal;
                }
            }
            TzNdx::SetDiskFreeProc(nullptr);
            TzCommon::ClearErrorWord();
            Dbf4::CloseAll();
        }
        EXPECT_TRUE(met) << "no write number failed the keys after the record";
    }
}

void CloseAreaOne() {
    Dbf4::Select(1);
    Dbf4::CloseArea();
}

// A message handler that closes the area while ALockInTurn waits ends the wait with the
// closed-area error, as the lock routines of the table engine do.
TEST_F(NdxFaultTest, AppendLockWaitEndsWith215WhenItsAreaIsClosed) {
    const std::string path = Path("turn.dbf");
    MakeTable(path, 5);
    for (int area : {1, 2}) {
        Dbf4::Select(area);
        Dbf4::Use(path + (area == 2 ? " ALIAS OTHER" : ""));
        TzNdx::SetIndexTo(Path("turn.mdx"));
    }
    ASSERT_TRUE(Dbf4::ALock());  // area 2 holds the append lock
    Dbf4::Select(1);
    Dbf4::SetIdleProc(CloseAreaOne);
    const bool granted = TzNdx::ALockInTurn(20000);
    Dbf4::SetIdleProc(nullptr);
    EXPECT_FALSE(granted);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NoDatabaseInUse);
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [ALockInTurn]  WorkArea = 1");
    EXPECT_EQ(Dbf4::AreaAt(1), nullptr);
    Dbf4::CloseAll();
}

// Index routines, and the navigation answers, on an empty work area report the table
// engine's 215 naming the area.
TEST_F(NdxFaultTest, EmptyAreaReports215) {
    Dbf4::Select(7);
    TzNdx::Set_Order_To(1);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NoDatabaseInUse);
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [Set_Order_To]  WorkArea = 7");
    EXPECT_FALSE(TzNdx::Find("X"));
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [Find]  WorkArea = 7");
    TzCommon::ClearErrorWord();
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [dEOF]  WorkArea = 7");
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [dBOF]  WorkArea = 7");
    EXPECT_FALSE(Dbf4::RecordVisible());
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [RecordVisible]  WorkArea = 7");
    EXPECT_FALSE(Dbf4::WhileHolds());
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NoDatabaseInUse);
    EXPECT_EQ(TzCommon::LastMessage(), "No database in use [WhileHolds]  WorkArea = 7");
}

}  // namespace
