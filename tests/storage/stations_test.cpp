// Several stations on one table: real processes started from this test binary append under
// the append lock and replace under record locks at the same time; afterwards every record
// is present exactly once, no change was lost, and the header agrees with the file.
#include <sched.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <random>

#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

// Postings-like layout: station, sequence number, a counter the replacers bump, padding.
const std::vector<TzDbfLow::FieldDef> kLayout = {
    {"STATION", 'N', 2, 0}, {"SEQ", 'N', 8, 0}, {"BUMPS", 'N', 8, 0}, {"TEKST", 'C', 40, 0}};

void WaitFor(bool (*lock)()) {
    while (!lock()) sched_yield();
}

int32_t NumField(int n) {
    int32_t v;
    std::memcpy(&v, Dbf4::FieldAddress(n), 4);
    return v;
}

void SetNum(int n, int32_t v) {
    std::memcpy(Dbf4::FieldAddress(n), &v, 4);
}

class StationsTest : public TableTest {};

// Helper process: appends COUNT records for station STATION, one append lock each.
TEST(StationChild, Appender) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    const int station = std::stoi(ChildArg("STATION"));
    const int count = std::stoi(ChildArg("COUNT"));
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    TellParent("READY");
    HearParent();
    for (int i = 1; i <= count; ++i) {
        WaitFor(Dbf4::ALock);
        Dbf4::ClearRecord();
        SetNum(1, station);
        SetNum(2, i);
        SetNum(3, 0);
        Dbf4::Append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        Dbf4::Unlock();
    }
    Dbf4::CloseArea();
    TellParent("DONE");
}

// Helper process: bumps random records under a record lock; reports how many bumps.
TEST(StationChild, Replacer) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    const int count = std::stoi(ChildArg("COUNT"));
    std::mt19937 rng(std::stoi(ChildArg("SEED")));
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0);
    TellParent("READY");
    HearParent();
    int bumps = 0;
    while (bumps < count) {
        int32_t n = Dbf4::RecCount();
        if (n == 0) {
            sched_yield();
            continue;
        }
        Dbf4::Go(int32_t(rng() % uint32_t(n)) + 1);
        WaitFor(Dbf4::RLock);
        Dbf4::Skip(0);  // the record as it is now, under the lock
        SetNum(3, NumField(3) + 1);
        Dbf4::Replace();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        Dbf4::Unlock();
        ++bumps;
    }
    Dbf4::CloseArea();
    TellParent("BUMPS " + std::to_string(bumps));
}

TEST_F(StationsTest, AppendersAndReplacersAtOnce) {
    constexpr int kAppenders = 4, kPerAppender = 1500, kReplacers = 2, kPerReplacer = 1500;
    ASSERT_TRUE(Create("poster.dbf", kLayout));
    const std::string table = Path("poster.dbf");
    std::vector<std::unique_ptr<Child>> kids;
    for (int s = 1; s <= kAppenders; ++s)
        kids.push_back(std::make_unique<Child>(
            "StationChild.Appender",
            std::map<std::string, std::string>{{"TABLE", table},
                                               {"STATION", std::to_string(s)},
                                               {"COUNT", std::to_string(kPerAppender)}}));
    for (int r = 0; r < kReplacers; ++r)
        kids.push_back(std::make_unique<Child>(
            "StationChild.Replacer",
            std::map<std::string, std::string>{{"TABLE", table},
                                               {"SEED", std::to_string(1234 + r)},
                                               {"COUNT", std::to_string(kPerReplacer)}}));
    for (auto& k : kids) ASSERT_EQ(k->ReadLine(), "READY");
    for (auto& k : kids) k->WriteLine("GO");
    long bumps = 0;
    for (auto& k : kids) {
        std::string last = k->ReadLine();
        if (last.rfind("BUMPS ", 0) == 0)
            bumps += std::stol(last.substr(6));
        else
            EXPECT_EQ(last, "DONE");
        EXPECT_EQ(k->Wait(), 0);
    }
    EXPECT_EQ(bumps, long(kReplacers) * kPerReplacer);

    // The header written by the last closing station agrees with the file size.
    std::string bytes = Bytes("poster.dbf");
    const uint32_t hl = 32 * 4 + 33, rl = 1 + 2 + 8 + 8 + 40;
    uint32_t headerCount = uint8_t(bytes[4]) | uint8_t(bytes[5]) << 8 | uint8_t(bytes[6]) << 16;
    EXPECT_EQ(headerCount, uint32_t(kAppenders * kPerAppender));
    EXPECT_EQ(bytes.size(), hl + headerCount * rl + 1);
    EXPECT_EQ(uint8_t(bytes.back()), 0x1A);

    Open(1, table);
    std::map<std::pair<int, int>, int> seen;
    long total = 0;
    for (Dbf4::GoTop(); !Dbf4::dEOF(); Dbf4::Skip(1)) {
        ++seen[{NumField(1), NumField(2)}];
        total += NumField(3);
    }
    EXPECT_EQ(seen.size(), size_t(kAppenders * kPerAppender));
    for (int s = 1; s <= kAppenders; ++s)
        for (int i = 1; i <= kPerAppender; ++i) ASSERT_EQ((seen[{s, i}]), 1) << s << "/" << i;
    EXPECT_EQ(total, bumps);  // no bump was lost to another station's write
}

// Helper process: takes one lock kind on record 3 and holds it until told to go.
TEST(StationChild, LockHolder) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    Dbf4::Go(3);
    std::string kind = ChildArg("KIND");
    bool ok = kind == "R" ? Dbf4::RLock() : kind == "A" ? Dbf4::ALock() : Dbf4::FLock();
    TellParent(ok ? "LOCKED" : "REFUSED");
    HearParent();
    Dbf4::CloseArea();
}

TEST_F(StationsTest, LocksBetweenProcesses) {
    ASSERT_TRUE(Create("t.dbf", kLayout));
    Open(1, Path("t.dbf"));
    ASSERT_TRUE(Dbf4::ALock());
    for (int i = 0; i < 5; ++i) Dbf4::Append();
    Dbf4::Unlock();
    struct Expect {
        const char* kind;
        bool rlock3, rlock4, alock, flock;
    };
    for (Expect e : {Expect{"R", false, true, true, false}, Expect{"A", true, true, false, false},
                     Expect{"F", false, false, false, false}}) {
        SCOPED_TRACE(e.kind);
        Child holder("StationChild.LockHolder", {{"TABLE", Path("t.dbf")}, {"KIND", e.kind}});
        ASSERT_EQ(holder.ReadLine(), "LOCKED");
        Dbf4::Go(3);
        EXPECT_EQ(Dbf4::RLock(), e.rlock3);  // answered at once, never waiting
        Dbf4::Unlock();
        Dbf4::Go(4);
        EXPECT_EQ(Dbf4::RLock(), e.rlock4);
        Dbf4::Unlock();
        EXPECT_EQ(Dbf4::ALock(), e.alock);
        Dbf4::Unlock();
        EXPECT_EQ(Dbf4::FLock(), e.flock);
        Dbf4::Unlock();
        holder.WriteLine("GO");
        EXPECT_EQ(holder.Wait(), 0);
    }
    EXPECT_TRUE(Dbf4::FLock());
}

}  // namespace
}  // namespace kjtest
