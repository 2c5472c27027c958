// Several stations on one postings table with its five tags: four processes append and
// rewrite records at once; afterwards every tag agrees with the table in every process and
// the semaphore file is gone after the last close.
#include <memory>
#include <random>

#include "bench/bench_tables.h"
#include "index/mdx_semaphore.h"
#include "storage/file_layer.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

const std::vector<TzNdx::TagDescriptor> kPostTags = [] {
    std::vector<TzNdx::TagDescriptor> tags;
    for (const kjbench::TagText& t : kjbench::PostingsTags())
        tags.push_back({t.name, t.expression, "", false, false});
    return tags;
}();

constexpr int kStations = 4;
constexpr int kAppends = 150;

TEST(NdxStationChild, Work) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    const int id = std::stoi(kjtest::ChildArg("ID"));
    try {
        Dbf4::Select(1);
        Dbf4::Use(kjtest::ChildArg("TABLE"));
        TzNdx::SetIndexTo("poster.mdx");
        kjtest::TellParent("ready");
        kjtest::HearParent();
        std::mt19937 rng{uint32_t(id)};
        for (int i = 0; i < kAppends; ++i) {
            while (!Dbf4::FLock()) {
            }
            kjbench::FillPosting(id * 100000 + i * 13);
            Dbf4::Append();
            Dbf4::Unlock();
            if (TzCommon::ErrorWord != 0) throw TzCommon::ETzError(TzCommon::LastErrorMessage());
            if (i % 3 == 0) {
                Dbf4::Go(1 + int32_t(rng() % uint32_t(Dbf4::RecCount())));
                if (Dbf4::RLock()) {
                    kjbench::FillPosting(int(rng() % 20000));
                    Dbf4::Replace();
                    Dbf4::Unlock();
                    if (TzCommon::ErrorWord != 0) throw TzCommon::ETzError(TzCommon::LastErrorMessage());
                }
            }
        }
        kjtest::TellParent("done");
        kjtest::HearParent();
        std::string problem = TagsAgree();
        kjtest::TellParent(problem.empty() ? "ok" : problem);
        Dbf4::CloseAll();
    } catch (const std::exception& e) {
        std::string msg = e.what();
        for (char& c : msg)
            if (c == '\n' || c == '\r') c = ' ';
        kjtest::TellParent("error " + msg);
    }
}

TEST(NdxStations, FourStationsKeepFiveTagsInStep) {
    kjtest::TempDir dir;
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    const std::string table = dir.file("poster.dbf");
    kjbench::MakePostings(table, 300);
    Dbf4::Select(1);
    Dbf4::Use(table);
    ASSERT_TRUE(TzNdx::MakeIndex(kPostTags));
    Dbf4::CloseAll();

    std::vector<std::unique_ptr<kjtest::Child>> kids;
    for (int i = 0; i < kStations; ++i) {
        kids.push_back(std::make_unique<kjtest::Child>(
            "NdxStationChild.Work", std::map<std::string, std::string>{{"ID", std::to_string(i + 1)}, {"TABLE", table}}));
    }
    for (auto& k : kids) ASSERT_EQ(k->ReadLine(), "ready");
    for (auto& k : kids) k->WriteLine("go");
    for (auto& k : kids) ASSERT_EQ(k->ReadLine(), "done");
    for (auto& k : kids) k->WriteLine("check");
    for (auto& k : kids) EXPECT_EQ(k->ReadLine(), "ok");
    for (auto& k : kids) EXPECT_EQ(k->Wait(), 0);

    EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(table)));
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::SetIndexTo("poster.mdx");
    EXPECT_EQ(Dbf4::RecCount(), 300 + kStations * kAppends);
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
    EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(table)));
}

}  // namespace
