// Damaged tables and indexes: a table cut short (fewer whole records than its header says)
// gets its index built again before a record is appended under a lost record's number, also
// when the station that put its count right was killed before it opened the index; and an
// index whose pages are well-formed but point wrongly is reported damaged (222), not walked.
#include <iostream>
#include <map>
#include <set>

#include "index/mdx_format.h"
#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "storage/tz_utils.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

constexpr int kStopMs = 30000;
constexpr int kPostings = 300;
constexpr uint64_t kHeader = 32 * 17 + 33, kRecord = 187;

// Problems of the current area's tags against the table: for every tag, each record walked
// more than once, each step that goes back in key order, each record not walked, and a walk
// longer than the table. Described in `what` (the first few).
int CountProblems(std::string* what) {
    int problems = 0;
    const int32_t count = Dbf4::RecCount();
    auto note = [&](const std::string& text) {
        if (++problems <= 5) *what += text + "; ";
    };
    for (int t = 1; t <= TzNdx::TagCount(); ++t) {
        TzNdx::Set_Order_To(t);
        TzParser::ExprBlock* e = TzParser::AssignExpr(TzNdx::TagExpression(t));
        std::map<int32_t, int> seen;
        std::string prev;
        int32_t walked = 0;
        for (Dbf4::GoTop(); !Dbf4::dEOF() && walked <= 2 * count + 10; Dbf4::Skip(1)) {
            ++walked;
            if (++seen[Dbf4::RecNo()] == 2)
                note("tag " + TzNdx::TagName(t) + " walks record " + std::to_string(Dbf4::RecNo()) +
                     " twice");
            TzParser::Evaluate(e);
            const std::string k = TzParser::ResultString(e);
            if (k < prev) note("tag " + TzNdx::TagName(t) + " out of order");
            prev = k;
        }
        TzParser::FreeExpr(e);
        if (walked > count) note("tag " + TzNdx::TagName(t) + " walks " + std::to_string(walked));
        for (int32_t r = 1; r <= count; ++r)
            if (!seen.count(r)) note("tag " + TzNdx::TagName(t) + " misses " + std::to_string(r));
    }
    TzNdx::Set_Order_To(1);
    return problems;
}

class NdxDamageTest : public NdxTest {
  protected:
    // 300 postings with their five tags, then the table cut by `cut` bytes under a header
    // that still claims 300.
    void MakeCutPostings(uint64_t cut) {
        table_ = Path("poster.dbf");
        mdx_ = Path("poster.MDX");
        kjtest::MakePostings(table_, kPostings);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
        std::string bytes = kjtest::ReadFile(table_);
        ASSERT_EQ(bytes.size(), kHeader + kPostings * kRecord + 1);
        bytes.resize(bytes.size() - cut);
        kjtest::WriteFile(table_, bytes);
    }
    // Opens the table shared in area 1 with its index as a station does.
    void OpenShared() {
        Dbf4::Select(1);
        Dbf4::Use(table_);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(PostTags())) << TzCommon::LastErrorMessage();
    }
    // The case number of posting 300, lost with the cut (read from the generator's rows).
    std::string LostCase() {
        const std::string copy = Path("whole.dbf");
        kjtest::MakePostings(copy, kPostings);
        Dbf4::Select(2);
        Dbf4::Use(copy);
        Dbf4::Go(kPostings);
        const std::string c = TzUtils::TrimRight(GetC(Dbf4::FieldNo("POST_SAG")));
        Dbf4::CloseArea();
        Dbf4::Select(1);
        return c;
    }
    void AppendPostings(int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(Dbf4::ALock());
            kjtest::FillPosting(9000 + i);
            Dbf4::Append();
            Dbf4::Unlock();
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        }
    }
    std::string table_, mdx_;
};

// A station opens the cut table (the header said 300, the file holds 299 whole postings)
// and appends 3 postings: every tag then walks the 302 records once each, in key order,
// and still does after a restart.
TEST_F(NdxDamageTest, ATableFoundShortHasItsIndexBuiltAgain) {
    ASSERT_NO_FATAL_FAILURE(MakeCutPostings(100));
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    EXPECT_EQ(Dbf4::RecCount(), kPostings - 1);
    ASSERT_NO_FATAL_FAILURE(AppendPostings(3));
    // The lost posting's case is found on a posting of that case or not at all.
    const std::string lostCase = LostCase();
    TzNdx::Set_Order_To(1);
    if (TzNdx::Find(lostCase)) {
        EXPECT_EQ(GetC(Dbf4::FieldNo("POST_SAG")).substr(0, lostCase.size()), lostCase)
            << "Find of the lost posting's case landed on record " << Dbf4::RecNo();
    }
    std::string what;
    const int problems = CountProblems(&what);
    std::cout << "cut table, 3 postings appended: " << problems << " problems over the tags "
              << what << "\n";
    EXPECT_EQ(problems, 0) << what;
    EXPECT_EQ(kjtest::ReadFile(mdx_)[TzNdx::kMaintenanceMark], 0);
    Dbf4::CloseAll();
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    EXPECT_EQ(Dbf4::RecCount(), kPostings + 2);
    what.clear();
    EXPECT_EQ(CountProblems(&what), 0) << "after a restart: " << what;
    Dbf4::CloseAll();
}

// Helper: opens the table shared (putting its count right) and its index; the parent stops
// it between the two.
TEST(NdxDamageChild, OpenTable) {
    KJ_CHILD_ONLY();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE"));
    TzNdx::SetIndexTo(kjtest::ChildArg("MDX"));
    Dbf4::CloseAll();
}

// The station that put the cut table's count right is killed before it opens the index:
// the next open finds the count whole, and still does not trust the index.
TEST_F(NdxDamageTest, ACountPutRightByAKilledStationStillRebuildsTheIndex) {
    ASSERT_NO_FATAL_FAILURE(MakeCutPostings(100));
    {
        kjtest::Child child(
            "NdxDamageChild.OpenTable",
            {{"TABLE", table_}, {"MDX", mdx_}, {"KJ_STOP_AT", "open-count-repaired"}});
        ASSERT_TRUE(child.WaitStopped(kStopMs)) << "the open never put the count right";
        child.KillAndReap();
    }
    const std::string bytes = kjtest::ReadFile(table_);
    EXPECT_EQ(uint8_t(bytes[4]) | uint8_t(bytes[5]) << 8, kPostings - 1);
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    ASSERT_NO_FATAL_FAILURE(AppendPostings(3));
    std::string what;
    EXPECT_EQ(CountProblems(&what), 0) << what;
    Dbf4::CloseAll();
}

// A walk of the controlling tag: records walked (at most twice the table), and the code of
// the error that ended it (0: none).
struct WalkResult {
    int32_t walked = 0;
    uint16_t code = 0;
    std::string message;
};
WalkResult WalkTag() {
    WalkResult w;
    try {
        for (Dbf4::GoTop(); !Dbf4::dEOF() && w.walked <= 2 * kPostings; Dbf4::Skip(1)) ++w.walked;
    } catch (const TzCommon::ETzError& e) {
        w.message = e.what();
    }
    w.code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    return w;
}

// Index files whose pages are each well-formed but point wrongly: a leaf entry for record 0,
// a tag whose root is its own tag header, a branch whose second entry leads back to the
// first leaf. The first walk reports the index damaged (222) instead of walking records
// twice or record 0; the next read builds the tags again, and every walk then agrees with
// the table, also after a restart.
TEST_F(NdxDamageTest, AnIndexThatPointsWronglyIsReportedAndBuiltAgain) {
    enum Damage { kRecordZero, kRootAtOwnHeader, kBranchBackToFirstLeaf };
    for (Damage damage : {kRecordZero, kRootAtOwnHeader, kBranchBackToFirstLeaf}) {
        SCOPED_TRACE(int(damage));
        ASSERT_NO_FATAL_FAILURE(MakeCutPostings(0));
        std::string bytes = kjtest::ReadFile(mdx_);
        Mdx::TagHeader h;
        {
            Mdx::MdxFile f;
            ASSERT_EQ(f.Open(mdx_, tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
            ASSERT_EQ(f.ReadTagHeader(1, &h), 0);
            f.Close();
        }
        uint8_t* root = reinterpret_cast<uint8_t*>(&bytes[size_t(h.RootBlock()) * 512]);
        const size_t entry = size_t(h.EntryLength());
        ASSERT_GT(Mdx::Get16(root), 1) << "the tag's root is to be a branch";
        const uint32_t firstLeaf = Mdx::Get32(root + Mdx::Pg::Entries);
        if (damage == kRecordZero)
            Mdx::Put32(reinterpret_cast<uint8_t*>(&bytes[size_t(firstLeaf) * 512]) +
                           Mdx::Pg::Entries + 3 * entry,
                       0);
        if (damage == kRootAtOwnHeader)
            Mdx::Put32(reinterpret_cast<uint8_t*>(&bytes[size_t(h.block) * 512]), h.block);
        if (damage == kBranchBackToFirstLeaf)
            Mdx::Put32(root + Mdx::Pg::Entries + entry, firstLeaf);
        kjtest::WriteFile(mdx_, bytes);
        Dbf4::Select(1);
        Dbf4::Use(table_);
        // The open goes to the first record in key order: it may meet the damage itself.
        WalkResult atOpen;
        try {
            TzNdx::SetIndexTo(mdx_);
        } catch (const TzCommon::ETzError& e) {
            atOpen.message = e.what();
        }
        atOpen.code = TzCommon::ErrorWord();
        TzCommon::ClearErrorWord();
        ASSERT_FALSE(TzNdx::Mdx().empty()) << atOpen.message;
        const WalkResult first = atOpen.code ? atOpen : WalkTag();
        std::cout << "damage " << int(damage) << ": " << first.walked << " rows walked, code "
                  << first.code << ": " << first.message << "\n";
        EXPECT_EQ(first.code, TzErr::CorruptedIndex) << first.walked << " rows walked";
        std::string what;
        EXPECT_EQ(CountProblems(&what), 0) << "after the report: " << what;
        Dbf4::CloseAll();
        ASSERT_NO_FATAL_FAILURE(OpenShared());
        EXPECT_EQ(CountProblems(&what), 0) << "after a restart: " << what;
        EXPECT_EQ(kjtest::ReadFile(mdx_)[TzNdx::kMaintenanceMark], 0);
        Dbf4::CloseAll();
    }
}

}  // namespace
