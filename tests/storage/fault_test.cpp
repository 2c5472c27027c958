// Fault injection through the file layer: a write that fails, or a process that dies, after
// the N-th write during appends and replaces. Afterwards the table's recount matches its
// records and an independent reader still reads every record written before the failure.
#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

const std::vector<TzDbfLow::FieldDef> kLayout = {{"NR", 'N', 8, 0}, {"TEKST", 'C', 20, 0}};

class FaultTest : public TableTest {
  protected:
    void TearDown() override {
        tz::SetFaultInjector(nullptr);
        TableTest::TearDown();
    }
    // Appends records numbered from..to under the append lock; stops at the first failure
    // and returns the number of the last record written.
    int AppendUntilFailure(int from, int to) {
        EXPECT_TRUE(Dbf4::ALock());
        int last = from - 1;
        for (int i = from; i <= to; ++i) {
            Dbf4::ClearRecord();
            SetI(1, i);
            SetC(2, "rec " + std::to_string(i));
            Dbf4::Append();
            failure_ = TzCommon::ErrorWord();
            if (failure_ != 0) break;
            last = i;
        }
        Dbf4::Unlock();
        return last;
    }
    // Record numbers as python3-dbfread reads them.
    std::string ReadByDbfread(const std::string& table) {
        std::string out;
        RunCommand(
            "/usr/bin/python3 -c \"import dbfread,sys; print(','.join(str(r['NR']) for r in "
            "dbfread.DBF(sys.argv[1])))\" " +
                table + " 2>&1",
            &out);
        return out;
    }
    uint16_t failure_ = 0;  // error word of the last append
    static std::string Seq(int from, int to) {
        std::string s;
        for (int i = from; i <= to; ++i) s += (s.empty() ? "" : ",") + std::to_string(i);
        return s + "\n";
    }
};

TEST_F(FaultTest, FailedAppendLeavesNothingCounted) {
    for (long failAt = 1; failAt <= 6; ++failAt) {
        SCOPED_TRACE(failAt);
        ASSERT_TRUE(Create("f.dbf", kLayout));
        Open(1, Path("f.dbf"));
        tz::FaultInjector inj;
        inj.failAt = failAt;
        inj.sticky = false;
        tz::SetFaultInjector(&inj);
        int last = AppendUntilFailure(1, 10);
        EXPECT_EQ(last, int(failAt - 1));
        EXPECT_EQ(failure_, TzErr::DiskWriteError);
        // Neither the count nor the record number moved for the failed record.
        EXPECT_EQ(Dbf4::Current()->recCount, last);
        EXPECT_EQ(Dbf4::Current()->lockState, Dbf4::kLockNone);
        tz::SetFaultInjector(nullptr);
        TzCommon::ClearError();
        // Appending goes on where it stopped.
        EXPECT_EQ(AppendUntilFailure(last + 1, last + 2), last + 2);
        Dbf4::CloseArea();
        Open(1, Path("f.dbf"));
        EXPECT_EQ(Dbf4::RecCount(), last + 2);
        Dbf4::CloseArea();
        EXPECT_EQ(ReadByDbfread(Path("f.dbf")), Seq(1, last + 2));
    }
}

TEST_F(FaultTest, FailedReplaceKeepsRecord) {
    ASSERT_TRUE(Create("r.dbf", kLayout));
    Open(1, Path("r.dbf"));
    AppendUntilFailure(1, 3);
    Dbf4::Go(2);
    ASSERT_TRUE(Dbf4::RLock());
    tz::FaultInjector inj;
    inj.failAt = 1;
    tz::SetFaultInjector(&inj);
    SetI(1, 99);
    Dbf4::Replace();
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DiskWriteError);
    EXPECT_EQ(Dbf4::RecNo(), 2);
    tz::SetFaultInjector(nullptr);
    Dbf4::Skip(0);
    EXPECT_EQ(GetI(1), 2);
    EXPECT_TRUE(Dbf4::IsLocked(2));
}

// A table made on a disk that fills up at each of its writes in turn (the header, the
// header again at close, the memo file): the failure is reported as a write error and no
// half-made table is left behind, which every later open would refuse as damaged; once a
// run gets through, the table opens.
TEST_F(FaultTest, FailedCreateLeavesNoTable) {
    const std::vector<TzDbfLow::FieldDef> withMemo = {{"NR", 'N', 8, 0}, {"NOTE", 'M', 10, 0}};
    for (const auto* layout : {&kLayout, &withMemo}) {
        const std::string name = layout == &kLayout ? "c.dbf" : "m.dbf";
        bool made = false;
        for (long failAt = 1; !made && failAt <= 10; ++failAt) {
            SCOPED_TRACE(name + " failing at write " + std::to_string(failAt));
            tz::FaultInjector inj;
            inj.failAt = failAt;
            tz::SetFaultInjector(&inj);
            Dbf4::WorkArea scratch;
            made = TzDbfLow::CreateDbf(scratch, Path(name), *layout);
            tz::SetFaultInjector(nullptr);
            if (made) break;
            EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DiskWriteError);
            TzCommon::ClearError();
            EXPECT_FALSE(tz::Exists(Path(name)));
        }
        ASSERT_TRUE(made) << name;
        Open(1, Path(name));
        EXPECT_EQ(Dbf4::RecCount(), 0);
        Dbf4::CloseArea();
    }
}

// Helper process: appends records 1..100 and replaces some, dying at the N-th write.
TEST(FaultChild, CrashingStation) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    static tz::FaultInjector inj;
    inj.failAt = std::stol(ChildArg("CRASH_AT"));
    inj.crash = true;
    tz::SetFaultInjector(&inj);
    auto setI = [](int f, int32_t v) { std::memcpy(Dbf4::FieldAddress(f), &v, 4); };
    for (int i = 1; i <= 100; ++i) {
        Dbf4::ALock();
        Dbf4::ClearRecord();
        setI(1, i);
        Dbf4::Append();
        Dbf4::Unlock();
        if (i % 10 == 0) {  // now and then change an earlier record's text
            Dbf4::Go(i / 2);
            Dbf4::RLock();
            uint8_t* p = Dbf4::FieldAddress(2);
            std::memcpy(p + 1, "changed", 7);
            Dbf4::Replace();
            Dbf4::Unlock();
        }
    }
    Dbf4::CloseArea();
    TellParent("SURVIVED");
}

TEST_F(FaultTest, StationDyingMidWay) {
    for (long crashAt : {1L, 2L, 7L, 33L, 64L, 111L}) {
        SCOPED_TRACE(crashAt);
        ASSERT_TRUE(Create("c.dbf", kLayout));
        Child station("FaultChild.CrashingStation",
                      {{"TABLE", Path("c.dbf")}, {"CRASH_AT", std::to_string(crashAt)}});
        EXPECT_EQ(station.ReadLine(), "");
        EXPECT_EQ(station.Wait(), 77);
        Open(1, Path("c.dbf"));
        int32_t n = Dbf4::RecCount();
        // Every record that reached the file is whole and in order.
        int32_t i = 0;
        for (Dbf4::GoTop(); !Dbf4::dEOF(); Dbf4::Skip(1)) EXPECT_EQ(GetI(1), ++i);
        EXPECT_EQ(i, n);
        Dbf4::CloseArea();
        EXPECT_EQ(ReadByDbfread(Path("c.dbf")), n ? Seq(1, n) : "\n");
    }
}

}  // namespace
}  // namespace kjtest
