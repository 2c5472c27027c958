// Navigation in natural order: hidden deleted records, filters, WHILE conditions at both
// ends, Skip(0), relations, empty tables and records appended by other stations.
#include <unistd.h>

#include <set>

#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

std::set<int32_t> g_rejected;  // records the filter function rejects
int32_t g_whileLimitLow = 0, g_whileLimitHigh = 1 << 30;

bool FilterFn() {
    return g_rejected.count(Dbf4::RecNo()) == 0;
}
bool WhileFn() {
    return Dbf4::RecNo() >= g_whileLimitLow && Dbf4::RecNo() <= g_whileLimitHigh;
}

class NavigationTest : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        g_rejected.clear();
        g_whileLimitLow = 0;
        g_whileLimitHigh = 1 << 30;
        ASSERT_TRUE(Create("t.dbf", {{"N", 'N', 4, 0}}));
        Open(1, Path("t.dbf") + " ALIAS T");
    }
    void Fill(int n) {
        ASSERT_TRUE(Dbf4::ALock());
        for (int i = 1; i <= n; ++i) {
            SetI(1, i);
            Dbf4::Append();
        }
        Dbf4::Unlock();
    }
    void MarkDeleted(std::initializer_list<int> recs) {
        ASSERT_TRUE(Dbf4::FLock());
        for (int r : recs) {
            Dbf4::Go(r);
            Dbf4::DeleteRec();
        }
        Dbf4::Unlock();
    }
    // Record numbers visited by GoTop and Skip(1) until EOF.
    std::vector<int32_t> Walk() {
        std::vector<int32_t> seen;
        Dbf4::GoTop();
        while (!Dbf4::dEOF()) {
            seen.push_back(Dbf4::RecNo());
            Dbf4::Skip(1);
        }
        return seen;
    }
};

TEST_F(NavigationTest, HiddenDeletedAndFilter) {
    Fill(6);
    MarkDeleted({2});
    Dbf4::settings().hideDeleted = true;
    g_rejected = {4};
    Dbf4::SetFilterFunc(FilterFn);
    Dbf4::Go(1);
    Dbf4::Skip(2);
    EXPECT_EQ(Dbf4::RecNo(), 5);
    EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 3, 5, 6}));
    Dbf4::GoBottom();
    EXPECT_EQ(Dbf4::RecNo(), 6);
    Dbf4::Skip(-2);
    EXPECT_EQ(Dbf4::RecNo(), 3);
    Dbf4::Skip(-5);  // past the beginning: first visible record with BOF
    EXPECT_EQ(Dbf4::RecNo(), 1);
    EXPECT_TRUE(Dbf4::dBOF());
    Dbf4::settings().hideDeleted = false;
    EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2, 3, 5, 6}));
}

TEST_F(NavigationTest, AllDeletedAndEmpty) {
    Dbf4::Skip(1);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
    EXPECT_EQ(TzCommon::LastMessage(), "Database \"" + Path("t.dbf") + "\" is past EOF. [SKIP]");
    Dbf4::GoTop();
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_TRUE(Dbf4::dBOF());
    Dbf4::Go(1);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Invalid record number = 1 Database \"" + Path("t.dbf") + "\" [GO]");
    Fill(3);
    MarkDeleted({1, 2, 3});
    Dbf4::settings().hideDeleted = true;
    Dbf4::GoTop();
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_EQ(GetI(1), 0);  // blank record
    Dbf4::GoBottom();
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_TRUE(Dbf4::dBOF());
}

TEST_F(NavigationTest, EndsAndSkipZero) {
    Fill(3);
    Dbf4::Go(3);
    Dbf4::Skip(1);
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_EQ(Dbf4::RecNo(), 4);
    Dbf4::Skip(1);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
    Dbf4::Skip(0);  // at EOF: the blank record
    EXPECT_EQ(GetI(1), 0);
    Dbf4::Go(0);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Invalid record number = 0 Database \"" + Path("t.dbf") + "\" [GO]");
    EXPECT_TRUE(Dbf4::dEOF());
    Dbf4::Go(2);
    // Skip(0) re-reads the record from the file: another area's change shows.
    Open(2, Path("t.dbf") + " ALIAS U");
    Dbf4::Go(2);
    ASSERT_TRUE(Dbf4::RLock());
    SetI(1, 99);
    Dbf4::Replace();
    Dbf4::Unlock();
    Dbf4::Select(1);
    EXPECT_EQ(GetI(1), 2);
    Dbf4::Skip(0);
    EXPECT_EQ(GetI(1), 99);
}

TEST_F(NavigationTest, GoReachesOtherStationsAppends) {
    Open(2, Path("t.dbf") + " ALIAS U");  // opened while empty
    Dbf4::Select(1);
    Fill(5);
    Dbf4::Select(2);
    Dbf4::GoTop();  // opened while empty, it still finds the new records
    EXPECT_EQ(Dbf4::RecNo(), 1);
    EXPECT_FALSE(Dbf4::dEOF());
    Dbf4::Go(5);
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_EQ(GetI(1), 5);
    Dbf4::Select(1);
    Fill(2);
    Dbf4::Select(2);
    Dbf4::Go(5 + 2);  // count + 2 as this area knew it
    EXPECT_EQ(Dbf4::RecNo(), 7);
    EXPECT_EQ(Dbf4::RecCount(), 7);
}

TEST_F(NavigationTest, WhileConditions) {
    Fill(10);
    Dbf4::SetWhileFunc(WhileFn);
    g_whileLimitHigh = 6;
    Dbf4::Go(3);
    Dbf4::Skip(5);  // the condition fails on record 7: the area stays there with EOF
    EXPECT_EQ(Dbf4::RecNo(), 7);
    EXPECT_TRUE(Dbf4::dEOF());
    g_whileLimitLow = 4;
    g_whileLimitHigh = 1 << 30;
    Dbf4::Go(5);
    Dbf4::Skip(-5);  // fails on record 3: back to the last good record with BOF
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_TRUE(Dbf4::dBOF());
    Dbf4::Go(4);
    Dbf4::Skip(-1);  // fails at once: back where it started
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_TRUE(Dbf4::dBOF());
}

int g_relationCalls = 0;
void Relation() {
    ++g_relationCalls;
    int32_t n = Dbf4::RecNo();
    Dbf4::Select(2);
    Dbf4::Go(n);
}
void BadRelation() {
    Dbf4::Go(1);
}

TEST_F(NavigationTest, Relations) {
    Fill(4);
    Open(2, Path("t.dbf") + " ALIAS U");
    Dbf4::Select(1);
    g_relationCalls = 0;
    Dbf4::Set_Relation_To(Relation);
    EXPECT_EQ(g_relationCalls, 1);
    Dbf4::Go(3);
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 1);  // the current area comes back
    Dbf4::Select(2);
    EXPECT_EQ(Dbf4::RecNo(), 3);
    Dbf4::Select(1);
    Dbf4::Skip(1);
    Dbf4::Select(2);
    EXPECT_EQ(Dbf4::RecNo(), 4);
    Dbf4::Select(1);
    Dbf4::Set_Relation_To(BadRelation);
    Dbf4::Go(3);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::CyclicalRelation);
    EXPECT_EQ(TzCommon::LastMessage(), Path("t.dbf"));
}

TEST_F(NavigationTest, FiltersNeedTheParser) {
    Dbf4::Set_Filter_To("N > 1");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(TzCommon::LastMessage(), "TZParser unit not linked in. [Set_Filter_To]");
    Dbf4::Set_While_To("N > 1");
    EXPECT_EQ(TzCommon::LastMessage(), "TZParser unit not linked in. [Set_While_To]");
}

}  // namespace
}  // namespace kjtest
