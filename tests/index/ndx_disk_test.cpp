// The postings table and its five tags on a small file system that fills up: a rebuild that
// runs out of room leaves the index as it was, and a record that cannot be saved whole is
// refused before anything of it is written. Skipped where no file system can be mounted.
#include <iostream>

#include "bench/bench_tables.h"
#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

const std::vector<TzNdx::TagDescriptor> kPostTags = [] {
    std::vector<TzNdx::TagDescriptor> tags;
    for (const kjbench::TagText& t : kjbench::PostingsTags())
        tags.push_back({t.name, t.expression, "", false, false});
    return tags;
}();

class NdxDiskTest : public NdxTest {
  protected:
    // Postings of n records and their index on a disk of sizeKB; false (skipped) where the
    // disk cannot be mounted.
    bool MakePostings(int sizeKB, int n) {
        disk_ = std::make_unique<kjtest::SmallDisk>(sizeKB);
        if (!disk_->Mounted()) return false;
        table_ = disk_->file("poster.dbf");
        mdx_ = disk_->file("poster.MDX");
        kjbench::MakePostings(table_, n);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        EXPECT_TRUE(TzNdx::MakeIndex(kPostTags));
        Dbf4::CloseAll();
        return true;
    }
    void TearDown() override {
        tz::SetFaultInjector(nullptr);
        NdxTest::TearDown();
        disk_.reset();
    }
    std::unique_ptr<kjtest::SmallDisk> disk_;
    std::string table_, mdx_;
};

uint64_t SizeOf(const std::string& name) {
    return uint64_t(kjtest::ReadFile(name).size());
}

TEST_F(NdxDiskTest, MakeIndexOnAFullDiskLeavesTheIndexAsItWas) {
    if (!MakePostings(8192, 5000)) GTEST_SKIP() << disk_->Why();
    const std::string before = kjtest::ReadFile(mdx_);
    disk_->FillLeaving(700);
    Dbf4::Select(1);
    Dbf4::Use(table_ + " EXCLUSIVE");
    bool ok = true;
    try {
        ok = TzNdx::MakeIndex(kPostTags);
    } catch (const TzCommon::ETzError&) {
        ok = false;
    }
    const uint16_t code = TzCommon::ErrorWord();
    TzNdx::SetIndexTo(mdx_);
    std::cout << "make-index with " << disk_->FreeKB() << " KB free: code " << code << ", "
              << before.size() << " bytes before, " << SizeOf(mdx_) << " bytes and "
              << TzNdx::TagCount() << " tags after\n";
    EXPECT_FALSE(ok);
    EXPECT_TRUE(code == TzErr::InsufficientDiskSpace || code == TzErr::DiskWriteError) << code;
    EXPECT_TRUE(kjtest::ReadFile(mdx_) == before) << "the index file changed";
    EXPECT_FALSE(tz::Exists(mdx_ + ".new"));
    EXPECT_EQ(TzNdx::TagCount(), 5);
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

}  // namespace
