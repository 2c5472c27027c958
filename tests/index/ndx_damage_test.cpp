// Damaged tables and indexes: a table cut short (fewer whole records than its header says)
// gets its index built again before a record is appended under a lost record's number, also
// when the station that put its count right was killed before it opened the index; and an
// index whose pages are well-formed but point wrongly is reported damaged (222), not walked.
#include <algorithm>
#include <cstring>
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
int CountProblems(std::string* what, int limit = kPostings) {
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
        for (Dbf4::GoTop(); !Dbf4::dEOF() && walked <= 2 * std::max(count, limit) + 10;
             Dbf4::Skip(1)) {
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
    void MakeCutPostings(uint64_t cut, int rows = kPostings) {
        table_ = Path("poster.dbf");
        mdx_ = Path("poster.MDX");
        Dbf4::CloseAll();
        tz::EraseFile(mdx_);
        kjtest::MakePostings(table_, rows);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
        std::string bytes = kjtest::ReadFile(table_);
        ASSERT_EQ(bytes.size(), kHeader + uint64_t(rows) * kRecord + 1);
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
    // The tags agree with the table after the damage was reported, and again once the
    // table is opened anew; the index file is left without its maintenance mark.
    void ExpectRepaired(int rows) {
        std::string what;
        EXPECT_EQ(CountProblems(&what, rows), 0) << "after the report: " << what;
        Dbf4::CloseAll();
        ASSERT_NO_FATAL_FAILURE(OpenShared());
        EXPECT_EQ(CountProblems(&what, rows), 0) << "after a restart: " << what;
        EXPECT_EQ(kjtest::ReadFile(mdx_)[TzNdx::kMaintenanceMark], 0);
        Dbf4::CloseAll();
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
        for (Dbf4::GoTop(); !Dbf4::dEOF() && w.walked <= 2 * Dbf4::RecCount() + 10; Dbf4::Skip(1))
            ++w.walked;
    } catch (const TzCommon::ETzError& e) {
        w.message = e.what();
    }
    w.code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    return w;
}

// Where the pages of one tag lie: its header, its root, the first page below the root,
// the first leaf, and the tag whose first leaf and header serve as wrong targets.
struct TagPages {
    Mdx::TagHeader header;
    uint32_t root = 0, branch = 0, leaf = 0;
    uint32_t otherLeaf = 0, otherHeader = 0;
    size_t entry = 0;
};

uint8_t* PageAt(std::string& bytes, uint32_t block) {
    return reinterpret_cast<uint8_t*>(&bytes[size_t(block) * Mdx::BlockSize]);
}

// The pages of tag n, read from the file's bytes; the other tag is tag 1.
TagPages FindPages(const std::string& mdx, std::string& bytes, int n) {
    TagPages t;
    Mdx::TagHeader other;
    Mdx::MdxFile f;
    EXPECT_EQ(f.Open(mdx, tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    EXPECT_EQ(f.ReadTagHeader(n, &t.header), 0);
    EXPECT_EQ(f.ReadTagHeader(1, &other), 0);
    f.Close();
    t.entry = size_t(t.header.EntryLength());
    t.root = t.header.RootBlock();
    t.branch = Mdx::Get32(PageAt(bytes, t.root) + Mdx::Pg::Entries);
    t.leaf = Mdx::Get32(PageAt(bytes, t.branch) + Mdx::Pg::Entries);
    t.otherHeader = other.block;
    t.otherLeaf = other.RootBlock();
    while (Mdx::Get32(PageAt(bytes, t.otherLeaf) + Mdx::Pg::Entries +
                      Mdx::Get16(PageAt(bytes, t.otherLeaf)) * size_t(other.EntryLength())) != 0)
        t.otherLeaf = Mdx::Get32(PageAt(bytes, t.otherLeaf) + Mdx::Pg::Entries);
    return t;
}

// One way of damaging a tag: zeroed, cut (a torn write, or the file ending inside it) or
// mis-pointed, for each kind of page the tag has.
enum class Damage {
    kRootZeroed,
    kBranchZeroed,
    kLeafZeroed,
    kHeaderZeroed,
    kRootNoEntries,
    kBranchTorn,
    kLeafTorn,
    kFileCutInRoot,
    kRootAtOtherTagsLeaf,
    kRootAtOddBlock,
    kRootAtOtherTagsHeader,
    kRootAtOwnHeader,
    kRootAtBlockZero,
    kTagAtOtherTagsHeader,
    kBranchEntryAtBlockZero,
    kBranchEntryBackToLeaf,
    kBranchOutOfOrder,
    kLeafOutOfOrder,
    kLeafRecordZero,
};

const char* DamageName(Damage d) {
    static const char* names[] = {
        "root zeroed",
        "branch zeroed",
        "leaf zeroed",
        "tag header zeroed",
        "root with no entries",
        "branch torn",
        "leaf torn",
        "file cut inside the root",
        "root at another tag's leaf",
        "root at an odd block",
        "root at another tag's header",
        "root at its own header",
        "root at block 0",
        "tag at another tag's header",
        "branch entry at block 0",
        "branch entry back to a leaf",
        "branch keys out of order",
        "leaf keys out of order",
        "leaf entry for record 0",
    };
    return names[int(d)];
}

void SwapEntries(uint8_t* page, size_t entry, int i, int j) {
    std::string a(reinterpret_cast<char*>(page) + Mdx::Pg::Entries + i * entry, entry);
    std::memcpy(page + Mdx::Pg::Entries + i * entry, page + Mdx::Pg::Entries + j * entry, entry);
    std::memcpy(page + Mdx::Pg::Entries + j * entry, a.data(), entry);
}

// Damages tag n of the index file's bytes.
void Apply(Damage d, const TagPages& t, int n, std::string& bytes) {
    uint8_t* root = PageAt(bytes, t.root);
    uint8_t* header = PageAt(bytes, t.header.block);
    const auto zero = [&](uint32_t block, size_t from) {
        std::memset(PageAt(bytes, block) + from, 0, Mdx::PageSize - from);
    };
    switch (d) {
        case Damage::kRootZeroed:
            return zero(t.root, 0);
        case Damage::kBranchZeroed:
            return zero(t.branch, 0);
        case Damage::kLeafZeroed:
            return zero(t.leaf, 0);
        case Damage::kHeaderZeroed:
            return zero(t.header.block, 0);
        case Damage::kRootNoEntries:
            return Mdx::Put16(root, 0);
        case Damage::kBranchTorn:
            return zero(t.branch, Mdx::BlockSize);
        case Damage::kLeafTorn:
            return zero(t.leaf, Mdx::BlockSize);
        case Damage::kFileCutInRoot:
            bytes.resize(size_t(t.root) * Mdx::BlockSize + Mdx::BlockSize);
            return;
        case Damage::kRootAtOtherTagsLeaf:
            return Mdx::Put32(header, t.otherLeaf);
        case Damage::kRootAtOddBlock:
            return Mdx::Put32(header, t.root + 1);
        case Damage::kRootAtOtherTagsHeader:
            return Mdx::Put32(header, t.otherHeader);
        case Damage::kRootAtOwnHeader:
            return Mdx::Put32(header, t.header.block);
        case Damage::kRootAtBlockZero:
            return Mdx::Put32(header, 0);
        case Damage::kTagAtOtherTagsHeader:
            return Mdx::Put32(
                reinterpret_cast<uint8_t*>(&bytes[Mdx::Ent::TableOffset + n * Mdx::Ent::Size]),
                t.otherHeader);
        case Damage::kBranchEntryAtBlockZero:
            return Mdx::Put32(root + Mdx::Pg::Entries, 0);
        case Damage::kBranchEntryBackToLeaf:
            return Mdx::Put32(PageAt(bytes, t.branch) + Mdx::Pg::Entries + t.entry, t.leaf);
        case Damage::kBranchOutOfOrder:
            return SwapEntries(PageAt(bytes, t.branch), t.entry, 0, 2);
        case Damage::kLeafOutOfOrder:
            return SwapEntries(PageAt(bytes, t.leaf), t.entry, 0, 2);
        case Damage::kLeafRecordZero:
            return Mdx::Put32(PageAt(bytes, t.leaf) + Mdx::Pg::Entries + 3 * t.entry, 0);
    }
}

// Opens the index as a station does (SetIndexTo) and selects tag n, as a grid does: the
// code of the first error met (0: none) and its text.
WalkResult OpenAndSelect(const std::string& table, const std::string& mdx, int n) {
    WalkResult r;
    Dbf4::Select(1);
    Dbf4::Use(table);
    try {
        TzNdx::SetIndexTo(mdx);
        if (!TzNdx::Mdx().empty()) {
            TzNdx::Set_Order_To(n);
            r = WalkTag();
            return r;
        }
    } catch (const TzCommon::ETzError& e) {
        r.message = e.what();
    }
    r.code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    return r;
}

// Each damage of a three-level tag (its root, a branch below it, a leaf, its header) is
// reported as damage (222) by the open or the first walk, never walked as fewer rows with
// no error and never "not in index"; the next read (or, when the open itself failed, the
// open that builds a missing index) builds the tags again, and every tag then walks the
// table whole, also after a restart, with the file's maintenance mark cleared.
TEST_F(NdxDamageTest, EveryDamagedPageKindIsReportedAndRepaired) {
    constexpr int kRows = 1000, kTag = 3;  // POSTTMU: three levels at 1000 rows
    for (int i = 0; i <= int(Damage::kLeafRecordZero); ++i) {
        const Damage damage = Damage(i);
        SCOPED_TRACE(DamageName(damage));
        ASSERT_NO_FATAL_FAILURE(MakeCutPostings(0, kRows));
        std::string bytes = kjtest::ReadFile(mdx_);
        const TagPages t = FindPages(mdx_, bytes, kTag);
        ASSERT_NE(t.branch, t.leaf) << "tag " << kTag << " is to have three levels";
        ASSERT_GT(Mdx::Get16(PageAt(bytes, t.branch)), 3);
        ASSERT_NE(Mdx::Get32(PageAt(bytes, t.leaf) + Mdx::Pg::Entries +
                             Mdx::Get16(PageAt(bytes, t.branch)) * t.entry),
                  1u);
        Apply(damage, t, kTag, bytes);
        kjtest::WriteFile(mdx_, bytes);
        const WalkResult first = OpenAndSelect(table_, mdx_, kTag);
        std::cout << DamageName(damage) << ": " << first.walked << " rows walked, code "
                  << first.code << ": " << first.message << "\n";
        EXPECT_EQ(first.code, TzErr::CorruptedIndex)
            << first.walked << " rows walked: " << first.message;
        if (TzNdx::Mdx().empty()) {
            // The open refused the file: the start builds it anew, as the program does.
            ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(PostTags(), mdx_))
                << TzCommon::LastErrorMessage();
        }
        ASSERT_NO_FATAL_FAILURE(ExpectRepaired(kRows));
    }
}

// Going to a record for a rewrite, in the order of a tag whose key for it lies below a
// branch with keys out of order, reports the index damaged (222), not "not in index", and
// the tags are built again.
TEST_F(NdxDamageTest, AReplaceBelowABranchOutOfOrderReportsDamageAndRepairs) {
    constexpr int kRows = 1000, kTag = 3;
    ASSERT_NO_FATAL_FAILURE(MakeCutPostings(0, kRows));
    std::string bytes = kjtest::ReadFile(mdx_);
    const TagPages t = FindPages(mdx_, bytes, kTag);
    ASSERT_NE(t.branch, t.leaf);
    // The first record in the tag's order: its key lies below the damaged branch; another
    // record's key lies below the root's last branch, which is whole.
    const uint32_t record = Mdx::Get32(PageAt(bytes, t.leaf) + Mdx::Pg::Entries);
    const uint8_t* root = PageAt(bytes, t.root);
    const uint32_t lastBranch = Mdx::Get32(root + Mdx::Pg::Entries + Mdx::Get16(root) * t.entry);
    ASSERT_NE(lastBranch, t.branch);
    const uint32_t elsewhere = Mdx::Get32(
        PageAt(bytes, Mdx::Get32(PageAt(bytes, lastBranch) + Mdx::Pg::Entries)) + Mdx::Pg::Entries);
    SwapEntries(PageAt(bytes, t.branch), t.entry, 0, 2);
    kjtest::WriteFile(mdx_, bytes);
    Dbf4::Select(1);
    Dbf4::Use(table_);
    TzNdx::SetIndexTo(mdx_);
    ASSERT_FALSE(TzNdx::Mdx().empty());
    // The grid stands on a row in the tag's order, away from the damage.
    Dbf4::Go(int32_t(elsewhere));
    TzNdx::Set_Order_To(kTag);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    uint16_t code = 0;
    std::string message;
    try {
        Dbf4::Go(int32_t(record));
        ASSERT_TRUE(Dbf4::RLock());
        SetC(Dbf4::FieldNo("POST_TMU"), "ZZZREPLACE");
        Dbf4::Replace();
        Dbf4::Unlock();
    } catch (const TzCommon::ETzError& e) {
        message = e.what();
    }
    code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    Dbf4::Unlock();
    std::cout << "replace below a branch out of order: code " << code << ": " << message << "\n";
    EXPECT_EQ(code, TzErr::CorruptedIndex) << message;
    ExpectRepaired(kRows);
}

// The last leaf of a three-level tag zeroed (a torn write): a walk from the bottom, as End
// in a grid does, reports damage (222) rather than standing on an entry of a page with no
// entries; the tags are then built again and walk the table whole.
TEST_F(NdxDamageTest, AZeroedLastLeafIsReportedFromTheBottom) {
    constexpr int kRows = 1000, kTag = 3;
    ASSERT_NO_FATAL_FAILURE(MakeCutPostings(0, kRows));
    std::string bytes = kjtest::ReadFile(mdx_);
    const TagPages t = FindPages(mdx_, bytes, kTag);
    const auto trailing = [&](uint32_t block) {
        const uint8_t* p = PageAt(bytes, block);
        return Mdx::Get32(p + Mdx::Pg::Entries + Mdx::Get16(p) * t.entry);
    };
    const uint32_t lastBranch = trailing(t.root), lastLeaf = trailing(lastBranch);
    ASSERT_NE(lastLeaf, 0u);
    ASSERT_EQ(trailing(lastLeaf), 0u) << "three levels";
    std::memset(PageAt(bytes, lastLeaf), 0, Mdx::PageSize);
    kjtest::WriteFile(mdx_, bytes);
    Dbf4::Select(1);
    Dbf4::Use(table_);
    std::string message;
    int walked = 0;
    try {
        TzNdx::SetIndexTo(mdx_);
        TzNdx::Set_Order_To(kTag);
        for (Dbf4::GoBottom(); !Dbf4::dBOF() && walked <= 2 * kRows; Dbf4::Skip(-1)) ++walked;
    } catch (const TzCommon::ETzError& e) {
        message = e.what();
    }
    const uint16_t code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    EXPECT_EQ(code, TzErr::CorruptedIndex) << walked << " rows walked: " << message;
    ASSERT_NO_FATAL_FAILURE(ExpectRepaired(kRows));
}

// A leaf entry that names record 0, met by a seek of its key (as the case picker's search
// does) rather than by a walk: reported as damage (222) and repaired, not taken as a record.
TEST_F(NdxDamageTest, ASeekOntoAnEntryForRecordZeroReportsDamage) {
    constexpr int kRows = 1000, kTag = 3;
    ASSERT_NO_FATAL_FAILURE(MakeCutPostings(0, kRows));
    std::string bytes = kjtest::ReadFile(mdx_);
    const TagPages t = FindPages(mdx_, bytes, kTag);
    uint8_t* entry = PageAt(bytes, t.leaf) + Mdx::Pg::Entries + 3 * t.entry;
    const std::string key(reinterpret_cast<const char*>(entry) + 4, size_t(t.header.KeyLength()));
    Mdx::Put32(entry, 0);
    kjtest::WriteFile(mdx_, bytes);
    Dbf4::Select(1);
    Dbf4::Use(table_);
    std::string message;
    bool found = false;
    int32_t at = -1;
    try {
        TzNdx::SetIndexTo(mdx_);
        TzNdx::Set_Order_To(kTag);
        found = TzNdx::Find(key);
        at = Dbf4::RecNo();
    } catch (const TzCommon::ETzError& e) {
        message = e.what();
    }
    const uint16_t code = TzCommon::ErrorWord();
    TzCommon::ClearErrorWord();
    EXPECT_EQ(code, TzErr::CorruptedIndex)
        << "found " << found << " at record " << at << ": " << message;
    ASSERT_NO_FATAL_FAILURE(ExpectRepaired(kRows));
}

}  // namespace
