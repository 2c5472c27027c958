// The index build through the engine: several tags from one pass over the table (spilled
// runs, descending, unique and FOR tags), the tag table when a tag is added, the disk-space
// check, the progress callback, and the engine's error texts.
#include <array>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "storage/tz_errors.h"
#include "storage/tz_utils.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

class NdxBuildTest : public NdxTest {
  protected:
    // A table of n records: NAME "N" + (i * 7919 mod 1000), AMT i mod 97.
    void MakeTable(int n) {
        ASSERT_TRUE(Create("b.dbf", {{"NAME", 'C', 10, 0}, {"AMT", 'N', 8, 2}}));
        Open(1, Path("b.dbf") + " EXCLUSIVE");
        for (int i = 1; i <= n; ++i) {
            Dbf4::ClearRecord();
            SetC(1, "N" + std::to_string((i * 7919) % 1000));
            SetF(2, double(i % 97));
            Dbf4::Append();
        }
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }

    // The keys and record numbers of tag n walked through the table engine.
    std::vector<std::pair<std::string, int32_t>> Keys(int n) {
        std::vector<std::pair<std::string, int32_t>> out;
        TzNdx::Set_Order_To(n);
        TzParser::ExprBlock* e = TzParser::AssignExpr(TzNdx::TagExpression(n));
        EXPECT_NE(e, nullptr);
        if (!e) return out;
        Dbf4::GoTop();
        while (!Dbf4::dEOF() && out.size() < 100000) {
            TzParser::Evaluate(e);
            out.emplace_back(TzParser::ResultString(e), Dbf4::RecNo());
            Dbf4::Skip(1);
        }
        TzParser::FreeExpr(e);
        return out;
    }
};

// Spill files go to $TMPDIR: pointed at a folder of the test's own while it lives.
class SpillFolder {
  public:
    explicit SpillFolder(const std::string& dir) : dir_(dir) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        if (had_) old_ = old;
        std::filesystem::create_directories(dir_);
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    ~SpillFolder() {
        if (had_) {
            setenv("TMPDIR", old_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    SpillFolder(const SpillFolder&) = delete;
    SpillFolder& operator=(const SpillFolder&) = delete;

  private:
    std::string dir_, old_;
    bool had_ = false;
};

int TempSpillFiles() {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path dir = (tmp && *tmp) ? tmp : "/tmp";
    int n = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().filename().string().rfind("TZP", 0) == 0) ++n;
    }
    return n;
}

TEST_F(NdxBuildTest, OnePassBuildOfMixedTagsOverSpilledRuns) {
    MakeTable(20000);  // three runs of 8189 items per tag
    SpillFolder spill(Path("spill"));
    const int spillBefore = TempSpillFiles();
    ASSERT_TRUE(TzNdx::MakeIndex({
        {"NAME", "UPPER(NAME)", "", false, false},
        {"NAMED", "NAME", "", true, false},
        {"NAMEU", "NAME", "", false, true},
        {"AMTFOR", "AMT", "AMT > 50", false, false},
        {"LONG", "NAME+NAME+NAME", "", true, false},
    })) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TzNdx::LastSpillRuns(), 3u);
    EXPECT_EQ(TempSpillFiles(), spillBefore);
    EXPECT_EQ(spillBefore, 0);
    TzNdx::SetIndexTo("b.mdx");
    ASSERT_EQ(TzNdx::TagCount(), 5);

    // Ascending with equal keys in record order.
    auto asc = Keys(1);
    ASSERT_EQ(asc.size(), 20000u);
    for (size_t i = 1; i < asc.size(); ++i) {
        ASSERT_TRUE(asc[i - 1].first < asc[i].first ||
                    (asc[i - 1].first == asc[i].first && asc[i - 1].second < asc[i].second))
            << i;
    }
    // Descending (also for keys longer than the sixteen bytes compared as numbers): keys
    // falling, equal keys still in record order.
    for (int tag : {2, 5}) {
        auto desc = Keys(tag);
        ASSERT_EQ(desc.size(), 20000u);
        for (size_t i = 1; i < desc.size(); ++i) {
            ASSERT_TRUE(desc[i - 1].first > desc[i].first ||
                        (desc[i - 1].first == desc[i].first && desc[i - 1].second < desc[i].second))
                << "tag " << tag << " at " << i;
        }
    }
    // Unique: one entry per key, the lowest record number.
    auto uni = Keys(3);
    ASSERT_EQ(uni.size(), 1000u);
    for (const auto& [key, rec] : uni) {
        int v = std::stoi(key.substr(1));
        int lowest = 0;
        for (int i = 1; i <= 1000; ++i) {
            if ((i * 7919) % 1000 == v) {
                lowest = i;
                break;
            }
        }
        EXPECT_EQ(rec, lowest) << key;
    }
    // FOR: only the records whose amount is over 50.
    auto amt = Keys(4);
    size_t expected = 0;
    for (int i = 1; i <= 20000; ++i) expected += (i % 97) > 50 ? 1 : 0;
    EXPECT_EQ(amt.size(), expected);
}

TEST_F(NdxBuildTest, SpillRunsAtTheRunBoundary) {
    MakeTable(8190);
    SpillFolder spill(Path("spill"));
    const int spillBefore = TempSpillFiles();
    ASSERT_TRUE(TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}}));
    EXPECT_EQ(TzNdx::LastSpillRuns(), 2u);  // 8189 items and 1
    EXPECT_EQ(TempSpillFiles(), spillBefore);
    TzNdx::SetIndexTo("b.mdx");
    EXPECT_EQ(TagsAgree(), "");

    Dbf4::CloseAll();
    std::filesystem::remove(Path("b.dbf"));
    std::filesystem::remove(Path("b.mdx"));
    MakeTable(8189);
    ASSERT_TRUE(TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}}));
    EXPECT_EQ(TzNdx::LastSpillRuns(), 0u);
}

TEST_F(NdxBuildTest, AddedTagReplacesOnlyTheSameNameAndGoesLast) {
    MakeTable(50);
    ASSERT_TRUE(TzNdx::MakeIndex(
        {{"BRUGERNAVN", "NAME", "", false, false}, {"AMT", "AMT", "", false, false}}));
    TzNdx::SetIndexTo("b.mdx");
    // A name that only begins another tag's name is a tag of its own.
    ASSERT_TRUE(TzNdx::AddIndexTag({"BRUGER", "UPPER(NAME)", "", true, false}));
    ASSERT_EQ(TzNdx::TagCount(), 3);
    EXPECT_EQ(TzNdx::TagName(1), "BRUGERNAVN");
    EXPECT_EQ(TzNdx::TagName(3), "BRUGER");
    // The same name again: the old entry goes (the last takes its place), the new one last.
    ASSERT_TRUE(TzNdx::AddIndexTag({"AMT", "STR(AMT,8,2)+NAME", "", false, false}));
    ASSERT_EQ(TzNdx::TagCount(), 3);
    EXPECT_EQ(TzNdx::TagName(1), "BRUGERNAVN");
    EXPECT_EQ(TzNdx::TagName(2), "BRUGER");
    EXPECT_EQ(TzNdx::TagName(3), "AMT");
    EXPECT_EQ(TzNdx::TagExpression(3), "STR(AMT,8,2)+NAME");
    // Reopened from the file: all still there.
    TzNdx::CloseIndex();
    TzNdx::SetIndexTo("b.mdx");
    EXPECT_EQ(TzNdx::TagCount(), 3);
    for (const char* tag : {"BRUGERNAVN", "BRUGER", "AMT"}) {
        TzNdx::SetOrderToTag(tag);
        EXPECT_EQ(Walk(true).size(), 50u) << tag;
    }
}

int64_t FiveKBFree(const std::string&) {
    return 5;
}
int g_progressCalls = 0;
void CountProgress() {
    ++g_progressCalls;
}

TEST_F(NdxBuildTest, DiskSpaceCheckAndProgress) {
    MakeTable(300);
    TzNdx::SetDiskFreeProc(&FiveKBFree);
    std::string message;
    bool ok = true;
    try {
        ok = TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}});
    } catch (const TzCommon::ETzError&) {
        ok = false;
    }
    message = TzCommon::LastErrorMessage();
    TzNdx::SetDiskFreeProc(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InsufficientDiskSpace);
    // 300 items of 14 bytes and three levels of 63 keys a page: 4200 + 5 * 1024 + 1024 +
    // 1024 bytes, 11 KB.
    EXPECT_NE(message.find("Available disk space: 5 KBytes;needed: 11 KBytes [MakeIndex]"),
              std::string::npos)
        << message;
    // No index file was there, and none is left behind (the next open builds it again).
    EXPECT_FALSE(tz::Exists(Path("b.mdx")));
    EXPECT_FALSE(tz::Exists(Path("b.mdx.new")));

    g_progressCalls = 0;
    TzNdx::SetProgressProc(&CountProgress, 10);
    ASSERT_TRUE(TzNdx::MakeIndex(
        {{"NAME", "NAME", "", false, false}, {"AMT", "AMT", "AMT > 10", false, false}}));
    EXPECT_EQ(g_progressCalls, 20);  // ten per tag
    g_progressCalls = 0;
    TzNdx::SetProgressProc(nullptr, 0);
    ASSERT_TRUE(TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}}));
    EXPECT_EQ(g_progressCalls, 0);
}

int64_t g_freeKB = 0;
int64_t LimitedFree(const std::string&) {
    return g_freeKB;
}

// A build that fails part-way (too little disk space for the later tags, or a page write
// refused by a full disk) leaves the index that was there byte for byte, removes its own
// file, and Reindex opens the old index again with every tag.
TEST_F(NdxBuildTest, FailedBuildLeavesTheOldIndex) {
    MakeTable(3000);
    const std::vector<TzNdx::TagDescriptor> tags = {
        {"NAME", "NAME", "", false, false},
        {"AMT", "AMT", "", false, false},
        {"NAMEAMT", "NAME+STR(AMT,8,2)", "", false, false},
        {"DESC", "NAME", "", true, false}};
    ASSERT_TRUE(TzNdx::MakeIndex(tags));
    const std::string before = kjtest::ReadFile(Path("b.mdx"));
    auto expectOldIndex = [&] {
        EXPECT_TRUE(kjtest::ReadFile(Path("b.mdx")) == before) << "the index file changed";
        EXPECT_FALSE(tz::Exists(Path("b.mdx.new")));
        TzNdx::SetIndexTo("b.mdx");
        EXPECT_EQ(TzNdx::TagCount(), 4);
        EXPECT_EQ(TagsAgree(), "");
    };
    // Room for the first two tags only.
    g_freeKB = 150;
    TzNdx::SetDiskFreeProc(&LimitedFree);
    bool ok = true;
    try {
        ok = TzNdx::MakeIndex(tags);
    } catch (const TzCommon::ETzError&) {
        ok = false;
    }
    TzNdx::SetDiskFreeProc(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InsufficientDiskSpace);
    expectOldIndex();
    // A page write refused part-way through, inside Reindex.
    for (long n : {2L, 9L, 30L}) {
        SCOPED_TRACE("failed write " + std::to_string(n));
        TzNdx::SetIndexTo("b.mdx");
        tz::FaultInjector inj;
        inj.failAt = n;
        tz::SetFaultInjector(&inj);
        EXPECT_THROW(TzNdx::Reindex(), TzCommon::ETzError);
        tz::SetFaultInjector(nullptr);
        EXPECT_EQ(TzNdx::TagCount(), 4);
        TzNdx::CloseIndex();
        expectOldIndex();
    }
}

// Runs f with error checking off and answers the text of the raised error ("" when none).
template <class F>
std::string Raised(F f) {
    TzCommon::ClearErrorWord();
    try {
        f();
    } catch (const TzCommon::ETzError& e) {
        return e.what();
    }
    return "";
}

TEST_F(NdxBuildTest, EngineErrorTexts) {
    MakeTable(10);
    const std::string dbf = Dbf4::Current()->fileName;
    auto ends = [](const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    // No index open.
    std::string t = Raised([] { TzNdx::Set_Order_To(1); });
    EXPECT_TRUE(ends(t, "Index not open. (DBF=" + dbf + ") [Set_Order_To]")) << t;
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::IndexNotOpen);
    t = Raised([] { TzNdx::Find("N1"); });
    EXPECT_TRUE(ends(t, "Index not open. (DBF=" + dbf + ") [Find]")) << t;
    t = Raised([] { TzNdx::FlushFile(); });
    EXPECT_TRUE(ends(t, "Index not open. (DBF=" + dbf + ") [FlushFile]")) << t;
    t = Raised([] { TzNdx::SetOrderToTag("NAME"); });
    EXPECT_TRUE(ends(t, "Index not open. (DBF=" + dbf + ") [SetOrderToTag]")) << t;
    EXPECT_EQ(Raised([] { EXPECT_TRUE(TzNdx::SetOrderToTag("")); }), "");

    ASSERT_TRUE(
        TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}, {"AMT", "AMT", "", false, false}}));
    TzNdx::SetIndexTo("b.mdx");
    t = Raised([] { TzNdx::Set_Order_To(3); });
    EXPECT_TRUE(
        ends(t, "Invalid Index Order Specified: SET_ORDER_TO. [Set_Order_To(3)] (DBF=" + dbf + ")"))
        << t;
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    t = Raised([] { TzNdx::SetOrderToTag("nix"); });
    EXPECT_TRUE(ends(t, "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(nix)]")) << t;
    EXPECT_EQ(TzNdx::CurrentOrder(), 1);  // unchanged
    t = Raised([] {
        TzNdx::Set_Order_To(0);
        TzNdx::Find("N1");
    });
    EXPECT_TRUE(ends(t, "Cannot use Find() with index order 0 (natural order) [Find]")) << t;
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InternalError);
    // "am" selects the first tag whose name begins with it.
    EXPECT_TRUE(TzNdx::SetOrderToTag("am"));
    EXPECT_EQ(TzNdx::CurrentTagName(), "AMT");
    // An index file of 2048 bytes is refused.
    TzNdx::CloseIndex();
    {
        tz::File f;
        ASSERT_EQ(f.Create(Path("short.mdx"), tz::ShareMode::Exclusive), 0);
        std::vector<uint8_t> zeros(2048, 0);
        ASSERT_EQ(f.WriteAt(0, zeros.data(), zeros.size()), 0);
        f.Close();
    }
    t = Raised([] { TzNdx::SetIndexTo("short.mdx"); });
    EXPECT_NE(t.find("Unable to open index: "), std::string::npos) << t;
    EXPECT_EQ(TzNdx::Mdx(), "");
}

// The three ways the engine delivers an error: checking off (error word only), the engine's
// exception, and the halt box.
enum class ErrorMode { Off, Exceptions, Halt };

void UseErrorMode(ErrorMode m, int* halts) {
    TzCommon::SetErrorChecking(m == ErrorMode::Off ? 0 : 1);
    TzCommon::SetUseExceptions(m == ErrorMode::Exceptions ? 1 : 0);
    TzCommon::SetErrorBoxProc([](const std::string&, const std::string&, unsigned) { return 1; });
    TzCommon::SetHaltProc([halts](int) { ++*halts; });
}

// A dot operator followed by a name reads as one name once the blanks are gone; the tag's
// text as written compiles, in every error mode, for the open and for the build.
TEST_F(NdxBuildTest, DotOperatorsBeforeNamesInEveryErrorMode) {
    const std::vector<TzNdx::TagDescriptor> tags = {
        {"KEY", "IIF(OK .AND. X, 'Y', 'N') + NAME", ".NOT. DELETED()", false, false},
        {"NAME", "NAME", "OK .OR. .NOT. X", false, false}};
    // Y for OK and X (records 1 and 5) after N; record 2 is deleted.
    auto check = [] {
        ASSERT_EQ(TzNdx::TagCount(), 2);
        TzNdx::Set_Order_To(1);
        EXPECT_EQ(Walk(true), (std::vector<int32_t>{6, 4, 3, 5, 1}));
        TzNdx::Set_Order_To(2);
        EXPECT_EQ(Walk(true), (std::vector<int32_t>{6, 5, 3, 1}));
    };
    for (ErrorMode mode : {ErrorMode::Off, ErrorMode::Exceptions, ErrorMode::Halt}) {
        SCOPED_TRACE(int(mode));
        ResetEngine();
        TzCommon::SetErrorChecking(0);
        const std::string base = "d" + std::to_string(int(mode));
        ASSERT_TRUE(
            Create(base + ".dbf", {{"NAME", 'C', 10, 0}, {"OK", 'L', 1, 0}, {"X", 'L', 1, 0}}));
        Open(1, Path(base + ".dbf") + " EXCLUSIVE");
        for (int i = 1; i <= 6; ++i) {
            Dbf4::ClearRecord();
            SetC(1, "N" + std::to_string(7 - i));
            *Dbf4::FieldAddress(2) = i % 2;
            *Dbf4::FieldAddress(3) = i % 3 != 0;
            Dbf4::Append();
        }
        Dbf4::Go(2);
        Dbf4::DeleteRec();
        ASSERT_TRUE(TzNdx::MakeIndex(tags));
        TzNdx::CloseIndex();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();

        int halts = 0;
        UseErrorMode(mode, &halts);
        EXPECT_EQ(Raised([&] { TzNdx::SetIndexTo(Path(base + ".mdx")); }), "");
        EXPECT_EQ(halts, 0);
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
        check();
        TzNdx::CloseIndex();
        EXPECT_EQ(Raised([&] { EXPECT_TRUE(TzNdx::MakeIndex(tags)); }), "");
        EXPECT_EQ(halts, 0);
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
        TzNdx::SetIndexTo(Path(base + ".mdx"));
        check();
        TzCommon::SetErrorChecking(0);
        Dbf4::CloseAll();
    }
}

// A failed compile with errors raised as exceptions leaves nothing allocated (the sanitizer
// build reports a leaked block): a filter, a WHILE condition, the key and FOR expressions of
// a build, and a tag of an index file that does not compile against the table.
TEST_F(NdxBuildTest, FailedCompilesRaisedAsExceptions) {
    MakeTable(5);
    ASSERT_TRUE(TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}}));
    TzNdx::CloseIndex();
    Dbf4::CloseAll();
    ASSERT_TRUE(Create("other.dbf", {{"TITLE", 'C', 10, 0}}));
    kjtest::WriteFile(Path("other.mdx"), kjtest::ReadFile(Path("b.MDX")));
    Open(1, Path("b.dbf") + " EXCLUSIVE");
    Open(2, Path("other.dbf") + " EXCLUSIVE");
    Dbf4::Select(1);
    int halts = 0;
    UseErrorMode(ErrorMode::Exceptions, &halts);
    auto expect351 = [](const std::string& text) {
        EXPECT_NE(text.find("Error # 351"), std::string::npos) << text;
    };
    expect351(Raised([] { Dbf4::Set_Filter_To("AMT >"); }));
    EXPECT_FALSE(Dbf4::IsFilterOn());
    expect351(Raised([] { Dbf4::Set_While_To("NAME = "); }));
    expect351(Raised([] { TzNdx::MakeIndex({{"BAD", "NAME +", "", false, false}}); }));
    expect351(Raised([] { TzNdx::MakeIndex({{"BADFOR", "NAME", "AMT > ", false, false}}); }));
    Dbf4::Select(2);
    expect351(Raised([] { TzNdx::SetIndexTo("other.mdx"); }));
    EXPECT_EQ(TzNdx::Mdx(), "");
    EXPECT_EQ(halts, 0);
    TzCommon::SetErrorChecking(0);
}

}  // namespace

namespace {

using namespace ndxtest;

// The name trees of the case and postings indexes: a binary search tree over the tag names in
// tag-number order, left when smaller, right when equal or greater.
TEST_F(NdxTest, NameTreesOfTheCaseAndPostingsIndexes) {
    struct Case {
        const char* table;
        std::vector<TzDbfLow::FieldDef> fields;
        std::vector<TzNdx::TagDescriptor> tags;
        std::vector<std::array<int, 3>> links;  // left, right, parent of tags 1..n
    };
    const std::vector<Case> cases = {
        {"sager.dbf",
         {{"SAGS_NR", 'C', 10, 0},
          {"SAG_ANSVAR", 'C', 5, 0},
          {"SAG_KUNDE", 'C', 10, 0},
          {"SAG_AFSLUT", 'D', 8, 0}},
         {{"SAGSNR", "UPPER(SAGS_NR)", "", false, false},
          {"SAGSANS", "UPPER(SAG_ANSVAR)+UPPER(SAGS_NR)", "", false, false},
          {"SAGSKUND", "UPPER(SAG_KUNDE)+UPPER(SAGS_NR)", "", false, false},
          {"SAGSAFSLUT", "DTOS(SAG_AFSLUT)+UPPER(SAGS_NR)", "", false, false}},
         {{{2, 0, 0}}, {{4, 3, 1}}, {{0, 0, 2}}, {{0, 0, 2}}}},
        {"poster.dbf",
         {{"POST_SAG", 'C', 10, 0},
          {"POST_ANS", 'C', 5, 0},
          {"POST_TMU", 'C', 10, 0},
          {"POST_FNR", 'C', 16, 0},
          {"POST_DATO", 'D', 8, 0},
          {"POST_PRI", 'N', 5, 0}},
         {{"POSTSAG", "UPPER(POST_SAG)+DTOS(POST_DATO)", "", false, false},
          {"POSTANS", "UPPER(POST_ANS)+DTOS(POST_DATO)", "", false, false},
          {"POSTTMU", "UPPER(POST_SAG)+STR(100000+POST_PRI,6)+UPPER(POST_TMU)+DTOS(POST_DATO)", "",
           false, false},
          {"POSTFNR", "POST_FNR+UPPER(POST_SAG)+DTOS(POST_DATO)", "", false, false},
          {"POSTSANS", "UPPER(POST_SAG)+UPPER(POST_ANS)+STR(100000+POST_PRI,6)+DTOS(POST_DATO)", "",
           false, false}},
         {{{2, 3, 0}}, {{0, 4, 1}}, {{5, 0, 1}}, {{0, 0, 2}}, {{0, 0, 3}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        ASSERT_TRUE(Create(c.table, c.fields));
        Open(1, Path(c.table));
        ASSERT_TRUE(TzNdx::MakeIndex(c.tags));
        Dbf4::CloseArea();
        const std::string mdx = kjtest::ReadFile(TzCommon::ForceExtension(Path(c.table), "MDX"));
        ASSERT_GE(mdx.size(), 2048u);
        EXPECT_EQ(uint8_t(mdx[28]), c.tags.size());  // tags in use
        for (size_t n = 1; n <= c.tags.size(); ++n) {
            const size_t e = 512 + 32 * n;
            EXPECT_EQ(std::string(mdx.c_str() + e + 4), c.tags[n - 1].name) << n;
            EXPECT_EQ(uint8_t(mdx[e + 16]), c.links[n - 1][0]) << n;
            EXPECT_EQ(uint8_t(mdx[e + 17]), c.links[n - 1][1]) << n;
            EXPECT_EQ(uint8_t(mdx[e + 18]), c.links[n - 1][2]) << n;
            EXPECT_EQ(uint8_t(mdx[e + 19]), 2) << n;
            EXPECT_EQ(mdx[e + 20], 'C') << n;  // every key here is text
        }
    }
}

}  // namespace
