// What a shared area shows while another station (a real process) changes records: every
// record a move lands on is the file's content at that moment, also after records were read
// ahead under a file lock, and a record or file lock reads the locked record again, so that
// a change made before the lock is never written back over the other station's.
#include <map>

#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

// NAVN, then two counters that two stations change independently, and padding.
const std::vector<TzDbfLow::FieldDef> kLayout = {
    {"NAVN", 'C', 10, 0}, {"A", 'N', 8, 0}, {"B", 'N', 8, 0}, {"TEKST", 'C', 60, 0}};
constexpr int kNavn = 1, kA = 2, kB = 3;
constexpr int kRows = 200;

// Helper process: "set R V" sets A of record R to V under a record lock (answers "set"),
// "end" closes.
TEST(FreshChild, Writer) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    TellParent(TzCommon::ErrorWord() == 0 ? "ready" : "failed " + TzCommon::LastMessage());
    for (;;) {
        const std::string cmd = HearParent();
        if (cmd.empty() || cmd == "end") break;
        const size_t gap = cmd.find(' ', 4);
        const int32_t r = std::stoi(cmd.substr(4, gap - 4));
        const int32_t v = std::stoi(cmd.substr(gap + 1));
        Dbf4::Go(r);
        if (!Dbf4::RLock()) {
            TellParent("failed " + TzCommon::LastMessage());
            continue;
        }
        std::memcpy(Dbf4::FieldAddress(kA), &v, 4);
        Dbf4::Replace();
        const uint16_t code = TzCommon::ErrorWord();
        Dbf4::Unlock();
        TellParent(code == 0 ? "set" : "failed " + TzCommon::LastMessage());
    }
    Dbf4::CloseAll();
}

class FreshnessTest : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        ASSERT_TRUE(Create("rows.dbf", kLayout));
        Open(1, Path("rows.dbf"));
        Dbf4::FLock();
        for (int i = 1; i <= kRows; ++i) {
            Dbf4::ClearRecord();
            SetC(kNavn, "r" + std::to_string(i));
            SetI(kA, 0);
            SetI(kB, 0);
            Dbf4::Append();
        }
        Dbf4::Unlock();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        other_ = std::make_unique<Child>(
            "FreshChild.Writer", std::map<std::string, std::string>{{"TABLE", Path("rows.dbf")}});
        ASSERT_EQ(other_->ReadLine(), "ready");
    }
    void TearDown() override {
        if (other_) {
            other_->WriteLine("end");
            EXPECT_EQ(other_->Wait(), 0);
        }
        TableTest::TearDown();
    }
    // The other station sets A of record r.
    void OtherSets(int32_t r, int32_t v) {
        other_->WriteLine("set " + std::to_string(r) + " " + std::to_string(v));
        ASSERT_EQ(other_->ReadLine(), "set");
    }
    // A and B of record r as the file holds them.
    std::pair<int, int> Stored(int32_t r) {
        const std::string b = Bytes("rows.dbf");
        const size_t hl = 32 * kLayout.size() + 33, rl = 1 + 10 + 8 + 8 + 60;
        const size_t at = hl + size_t(r - 1) * rl + 11;
        return {std::stoi(b.substr(at, 8)), std::stoi(b.substr(at + 8, 8))};
    }
    std::unique_ptr<Child> other_;

  public:
    void SkipShows();
    void ReadAheadEndsWithTheLock();
};

// Forward moves in natural order show another station's change made after the scan began,
// whether or not records were read ahead of it: through the table's mapping, and with plain
// reads where the file cannot be mapped (a network share).
void SkipShowsChange(FreshnessTest& t, bool mapped) {
    Dbf4::Current()->mapRefused = !mapped;
    t.SkipShows();
}

TEST_F(FreshnessTest, SkipShowsOtherStationsChange) {
    SkipShowsChange(*this, true);
}
TEST_F(FreshnessTest, SkipShowsOtherStationsChangeWithoutMapping) {
    SkipShowsChange(*this, false);
}

void FreshnessTest::SkipShows() {
    Dbf4::GoTop();
    Dbf4::Skip(1);
    ASSERT_EQ(Dbf4::RecNo(), 2);
    OtherSets(3, 7);
    Dbf4::Skip(1);
    ASSERT_EQ(Dbf4::RecNo(), 3);
    EXPECT_EQ(GetI(kA), 7);
    OtherSets(150, 11);
    OtherSets(kRows, 12);
    int seen = 3;
    while (!Dbf4::dEOF()) {
        Dbf4::Skip(1);
        if (Dbf4::dEOF()) break;
        ++seen;
        const int32_t want = Dbf4::RecNo() == 150 ? 11 : Dbf4::RecNo() == kRows ? 12 : 0;
        ASSERT_EQ(GetI(kA), want) << "record " << Dbf4::RecNo();
    }
    EXPECT_EQ(seen, kRows);

    // GoTop stepping over a hidden deleted first record lands on a current second one.
    Dbf4::Go(1);
    Dbf4::RLock();
    Dbf4::DeleteRec();
    Dbf4::Unlock();
    Dbf4::settings().hideDeleted = true;
    Dbf4::GoTop();
    Dbf4::Skip(1);
    OtherSets(3, 21);
    Dbf4::GoTop();
    EXPECT_EQ(Dbf4::RecNo(), 2);
    Dbf4::Skip(1);
    EXPECT_EQ(GetI(kA), 21);
}

// Records read ahead under the file lock are not shown once the lock is gone.
TEST_F(FreshnessTest, NoReadAheadAfterTheFileLock) {
    ReadAheadEndsWithTheLock();
}
TEST_F(FreshnessTest, NoReadAheadAfterTheFileLockWithoutMapping) {
    Dbf4::Current()->mapRefused = true;
    ReadAheadEndsWithTheLock();
}

void FreshnessTest::ReadAheadEndsWithTheLock() {
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::GoTop();
    Dbf4::Skip(1);
    EXPECT_EQ(GetI(kA), 0);
    Dbf4::Unlock();
    OtherSets(4, 9);
    Dbf4::Skip(1);
    Dbf4::Skip(1);
    ASSERT_EQ(Dbf4::RecNo(), 4);
    EXPECT_EQ(GetI(kA), 9);
}

// A record read before another station changed it: the record lock reads it again, so the
// station's own change (B) joins the other's (A) instead of undoing it. The same for the
// file lock.
TEST_F(FreshnessTest, LockReadsTheRecordAgain) {
    Dbf4::Go(3);
    EXPECT_EQ(GetI(kA), 0);
    OtherSets(3, 7);
    ASSERT_TRUE(Dbf4::RLock());
    EXPECT_EQ(GetI(kA), 7);
    SetI(kB, 5);
    Dbf4::Replace();
    Dbf4::Unlock();
    EXPECT_EQ(Stored(3), std::make_pair(7, 5));

    Dbf4::Go(5);
    OtherSets(5, 8);
    ASSERT_TRUE(Dbf4::FLock());
    EXPECT_EQ(GetI(kA), 8);
    SetI(kB, 6);
    Dbf4::Replace();
    Dbf4::Unlock();
    EXPECT_EQ(Stored(5), std::make_pair(8, 6));

    // After a skip onto the record, too.
    Dbf4::GoTop();
    for (int i = 1; i < 10; ++i) Dbf4::Skip(1);
    Dbf4::GoTop();
    OtherSets(3, 17);
    Dbf4::Skip(2);
    ASSERT_TRUE(Dbf4::RLock());
    SetI(kB, 15);
    Dbf4::Replace();
    Dbf4::Unlock();
    EXPECT_EQ(Stored(3), std::make_pair(17, 15));
}

}  // namespace
}  // namespace kjtest
