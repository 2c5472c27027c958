// Processes killed while they rewrite a table or its index whole: a pack between writing the
// packed table and putting it in place or before the rebuild, a zap before the cut, an index
// build in the middle (also with spill files). Afterwards the table opens, every live record
// is there exactly once and the index agrees with it. Also the texts of a record missing
// from its tag, and an index close that fails with error checking on.
#include <cstdlib>
#include <filesystem>
#include <set>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "storage/tz_utils.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

const std::vector<TzNdx::TagDescriptor> kTags = {
    {"NAME", "NAME", "", false, false},
    {"AMT", "AMT", "", false, false},
    {"NAMEDAT", "NAME+DTOS(DAT)", "", false, false},
};

constexpr int kStopMs = 30000;

std::string NameOf(int i) {
    char b[16];
    std::snprintf(b, sizeof b, "R%06d", i);
    return b;
}

// n records named R000001.. with every third one deleted, and the index built.
void MakeTable(const std::string& path, int n) {
    Dbf4::WorkArea scratch;
    ASSERT_TRUE(TzDbfLow::CreateDbf(
        scratch, path, {{"NAME", 'C', 10, 0}, {"AMT", 'N', 8, 2}, {"DAT", 'D', 8, 0}}));
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    for (int i = 1; i <= n; ++i) {
        Dbf4::ClearRecord();
        SetC(1, NameOf(i));
        SetF(2, double((i * 7919) % 1000));
        SetD(3, "15-03-2024");
        Dbf4::Append();
        if (i % 3 == 0) Dbf4::DeleteRec();
    }
    ASSERT_TRUE(TzNdx::MakeIndex(kTags));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::CloseAll();
}

// Opens the table alone with its index (rebuilt when marked) and checks that the live
// records are exactly 1..n without the deleted ones, once each, and that the tags agree.
// Answers the record count found.
int32_t VerifyTable(const std::string& path, int n) {
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    if (TzCommon::ErrorWord() != 0) return -1;
    const int32_t count = Dbf4::RecCount();
    std::multiset<std::string> live;
    for (int32_t r = 1; r <= count; ++r) {
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) live.insert(TzCommon::TrimRight(GetC(1)));
    }
    std::multiset<std::string> want;
    for (int i = 1; i <= n; ++i)
        if (i % 3 != 0) want.insert(NameOf(i));
    EXPECT_EQ(live, want);
    EXPECT_TRUE(TzNdx::OpenIndexOrRebuild(kTags)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TagsAgree(), "");
    // Every record's own key leads to it in every tag.
    for (int t = 1; t <= TzNdx::TagCount(); ++t) {
        TzNdx::Set_Order_To(t);
        for (int32_t r = 1; r <= count; ++r) {
            EXPECT_NO_THROW(Dbf4::Go(r)) << "tag " << t << " record " << r;
            if (TzCommon::ErrorWord() != 0) return -1;
        }
    }
    Dbf4::CloseAll();
    return count;
}

// Helper: opens the table shared with its index and runs one whole-table operation; the
// parent stops it at a named step and kills it there.
TEST(NdxKillChild, RewriteTable) {
    KJ_CHILD_ONLY();
    const std::string spill = kjtest::ChildArg("TMPDIR");
    if (!spill.empty()) setenv("TMPDIR", spill.c_str(), 1);
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE"));
    TzNdx::SetIndexTo(kjtest::ChildArg("MDX"));
    const std::string op = kjtest::ChildArg("OP");
    if (op == "pack") Dbf4::Pack();
    if (op == "zap") Dbf4::Zap();
    if (op == "reindex") TzNdx::Reindex();
    if (op == "make") TzNdx::MakeIndex(kTags);
    Dbf4::CloseAll();
}

class NdxKillTest : public NdxTest {
  protected:
    // Runs the helper until it stops at `step`, then kills it there.
    void KillAt(const std::string& table, const std::string& op, const std::string& step,
                const std::map<std::string, std::string>& more = {}) {
        std::map<std::string, std::string> args = {{"TABLE", table},
                                                   {"MDX", TzCommon::ForceExtension(table, "MDX")},
                                                   {"OP", op},
                                                   {"KJ_STOP_AT", step}};
        args.insert(more.begin(), more.end());
        kjtest::Child child("NdxKillChild.RewriteTable", args);
        ASSERT_TRUE(child.WaitStopped(kStopMs)) << op << " never reached " << step;
        child.KillAndReap();
    }
};

TEST_F(NdxKillTest, KilledPackLeavesTheOldTableOrTheNewOne) {
    const int n = 600;
    // Between the packed copy and putting it in place: the old table, its index marked.
    MakeTable(Path("a.dbf"), n);
    KillAt(Path("a.dbf"), "pack", "pack-before-cut");
    EXPECT_EQ(VerifyTable(Path("a.dbf"), n), n);
    // Between putting it in place and the rebuild: the packed table; the old index, whose
    // keys point past its end, is rebuilt at the open.
    MakeTable(Path("b.dbf"), n);
    KillAt(Path("b.dbf"), "pack", "pack-before-reindex");
    EXPECT_EQ(VerifyTable(Path("b.dbf"), n), n - n / 3);
    // A later pack of the same table runs over the copy the killed one left.
    Dbf4::Select(1);
    Dbf4::Use(Path("a.dbf"));
    TzNdx::SetIndexTo("a.mdx");
    EXPECT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    Dbf4::CloseAll();
    EXPECT_EQ(VerifyTable(Path("a.dbf"), n), n - n / 3);
}

// Without sharing the open holds the table shared; the pack takes it alone for the rename
// and gives it back.
TEST_F(NdxKillTest, PackWithoutSharing) {
    const int n = 60;
    MakeTable(Path("p.dbf"), n);
    Dbf4::settings().sharing = false;
    Dbf4::Select(1);
    Dbf4::Use(Path("p.dbf"));
    TzNdx::SetIndexTo("p.mdx");
    EXPECT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    tz::File other;
    EXPECT_EQ(other.Open(Path("p.dbf"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    other.Close();
    Dbf4::CloseAll();
    EXPECT_EQ(VerifyTable(Path("p.dbf"), n), n - n / 3);
}

TEST_F(NdxKillTest, KilledZapLeavesTheIndexMarked) {
    MakeTable(Path("z.dbf"), 90);
    KillAt(Path("z.dbf"), "zap", "zap-before-cut");
    Dbf4::Select(1);
    Dbf4::Use(Path("z.dbf") + " EXCLUSIVE");
    EXPECT_THROW(TzNdx::SetIndexTo("z.mdx"), TzCommon::ETzError);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::IndexVersionMismatch);
    TzCommon::ClearErrorWord();
    ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(kTags)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TagsAgree(), "");
}

// Spill files go to a folder of the test's own, which must stay empty.
int SpillFiles(const std::string& dir) {
    int count = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        (void)e;
        ++count;
    }
    return count;
}

TEST_F(NdxKillTest, KilledBuildLeavesTheOldIndexAndNoFileBehind) {
    const int n = 9000;  // more keys than one sorted run holds
    const std::string spill = Path("spill");
    std::filesystem::create_directories(spill);
    MakeTable(Path("r.dbf"), n);
    const std::string building = Path("r.mdx") + ".new";
    for (const char* op : {"reindex", "make"}) {
        SCOPED_TRACE(op);
        {
            std::map<std::string, std::string> args = {{"TABLE", Path("r.dbf")},
                                                       {"MDX", Path("r.mdx")},
                                                       {"OP", op},
                                                       {"KJ_STOP_AT", "index-spill"},
                                                       {"TMPDIR", spill}};
            kjtest::Child child("NdxKillChild.RewriteTable", args);
            ASSERT_TRUE(child.WaitStopped(kStopMs));
            EXPECT_EQ(SpillFiles(spill), 0);  // nameless while the build runs
            // An open meanwhile leaves the file the build is writing.
            ASSERT_TRUE(tz::Exists(building));
            Dbf4::Select(1);
            Dbf4::Use(Path("r.dbf"));
            EXPECT_ANY_THROW(TzNdx::SetIndexTo("r.mdx"));
            Dbf4::CloseAll();
            EXPECT_TRUE(tz::Exists(building));
            child.KillAndReap();
        }
        KillAt(Path("r.dbf"), op, "index-build");
        EXPECT_EQ(SpillFiles(spill), 0);
        ASSERT_TRUE(tz::Exists(building));
        // The old file is still the index, all of it; the killed build's file goes at the
        // open.
        Dbf4::Select(1);
        Dbf4::Use(Path("r.dbf") + " EXCLUSIVE");
        TzNdx::SetIndexTo("r.mdx");
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        EXPECT_FALSE(tz::Exists(building));
        EXPECT_EQ(TzNdx::TagCount(), 3);
        EXPECT_EQ(TagsAgree(), "");
        // A build afterwards goes over what the killed one left beside it.
        TzNdx::Reindex();
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        EXPECT_EQ(TzNdx::TagCount(), 3);
        EXPECT_EQ(TagsAgree(), "");
        Dbf4::CloseAll();
    }
}

// A build refused because another program holds the old index leaves the table shared.
TEST_F(NdxKillTest, RefusedBuildLeavesTheTableShared) {
    MakeTable(Path("h.dbf"), 30);
    tz::File holder;
    ASSERT_EQ(holder.Open(Path("h.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    Dbf4::Select(1);
    Dbf4::Use(Path("h.dbf"));
    EXPECT_THROW(TzNdx::MakeIndex(kTags), TzCommon::ETzError);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::ExclusiveUseRequired);
    TzCommon::ClearErrorWord();
    Dbf4::Select(2);
    Dbf4::Use(Path("h.dbf") + " ALIAS SECOND");
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
}

// A record whose key is missing from its tag, and one whose key is there only for other
// records, are told apart.
TEST_F(NdxKillTest, SyncTextsTellAMissingKeyFromAMissingRecord) {
    MakeTable(Path("s.dbf"), 30);
    Dbf4::Select(1);
    Dbf4::Use(Path("s.dbf") + " EXCLUSIVE");
    TzNdx::SetIndexTo("s.mdx");
    TzNdx::SetOrderToTag("NAME");
    ASSERT_TRUE(Dbf4::Poke("ZZZZZZZZZZ", 1, 4));  // a key no entry has
    ASSERT_TRUE(Dbf4::Poke(NameOf(7), 1, 5));     // the key of record 7
    EXPECT_THROW(Dbf4::Go(4), TzCommon::ETzError);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
    EXPECT_NE(TzCommon::LastMessage().find("Key: \"ZZZZZZZZZZ\" not in index: "), std::string::npos)
        << TzCommon::LastMessage();
    EXPECT_NE(TzCommon::LastMessage().find(". [SyncIndex-1] Record: 4"), std::string::npos);
    EXPECT_THROW(Dbf4::Go(5), TzCommon::ETzError);
    EXPECT_NE(
        TzCommon::LastMessage().find("Record with key: \"" + NameOf(7) + "   \" not in index: "),
        std::string::npos)
        << TzCommon::LastMessage();
    EXPECT_NE(TzCommon::LastMessage().find(". [SyncIndex-2]"), std::string::npos);
    Dbf4::CloseAll();
}

// Closing an index never ends the program: a failure while closing is caught with error
// checking on as well.
TEST_F(NdxKillTest, IndexCloseRunsWithCheckingOff) {
    MakeTable(Path("c.dbf"), 30);
    Dbf4::Select(1);
    Dbf4::Use(Path("c.dbf"));
    TzNdx::SetIndexTo("c.mdx");
    ASSERT_NE(TzNdx::Mdx(), "");
    int halts = 0;
    TzCommon::SetHaltProc([&](int) { ++halts; });
    TzCommon::SetErrorChecking(1);
    tz::FaultInjector inj;
    inj.failAt = 1;  // the semaphore file's count at the logout
    tz::SetFaultInjector(&inj);
    TzNdx::CloseIndex();
    tz::SetFaultInjector(nullptr);
    EXPECT_EQ(halts, 0);
    EXPECT_EQ(TzCommon::SetErrorChecking(0), 1);
    EXPECT_EQ(TzNdx::Mdx(), "");
    TzCommon::SetHaltProc(nullptr);
}

}  // namespace
