// Index pages read through the file mapping by two handles of one file (two stations):
// pages the other handle rewrites or appends are seen, also when the file grows far past
// the first mapping; a block past the end is refused without touching the mapping; pages
// kept for write-back are read back before they reach the file; reads without the mapping
// agree byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "tests/index/mdx_test_util.h"
#include "tests/support/test_support.h"

using namespace mdxtest;
using Mdx::MdxFile;
using Mdx::MdxTag;

namespace {

class MdxMapTest : public ::testing::Test {
  protected:
    void SetUp() override { Quiet(); }
    // Failures are only recorded.
    static void Quiet() {
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});
    }
    void TearDown() override { TzCommon::ResetErrorState(); }
    kjtest::TempDir dir;
};

std::string Key(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%05d", i);
    return CharKey(buf, 10);
}

Mdx::PageBuf Filled(uint8_t byte) {
    Mdx::PageBuf p;
    p.fill(byte);
    Mdx::Put16(&p[0], 0);
    Mdx::Put16(&p[2], 0);
    return p;
}

TEST_F(MdxMapTest, TwoHandlesSeeEachOthersPagesAsTheFileGrows) {
    const std::string name = dir.file("m.mdx");
    std::vector<std::pair<std::string, uint32_t>> items;
    for (int i = 1; i <= 2000; ++i) items.emplace_back(Key(i), uint32_t(i));
    MdxFile a, b;
    NewFile(a, name, "m.dbf");
    AddTag(a, "K", 'C', 10, items);
    ASSERT_EQ(b.Open(name, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);

    MdxTag ta, tb;
    ASSERT_EQ(ta.Open(&a, 1, Mdx::CompareCharKeys), 0);
    ASSERT_EQ(tb.Open(&b, 1, Mdx::CompareCharKeys), 0);
    const uint32_t root = ta.Header().RootBlock();
    EXPECT_EQ(ReadPage(a, root), ReadPage(b, root));
    ASSERT_EQ(ta.Seek(U(Key(1500)), 10), 0);
    ASSERT_TRUE(ta.OnEntry());
    EXPECT_EQ(ta.RecNo(), 1500u);

    // b inserts keys (page splits append pages); a, told of the change, finds them.
    for (int i = 1; i <= 300; ++i) ASSERT_EQ(tb.Insert(U(Key(5000 + i)), uint32_t(5000 + i)), 0);
    a.InvalidateCache();
    ASSERT_EQ(ta.ReloadHeader(), 0);
    ASSERT_EQ(ta.Seek(U(Key(5300)), 10), 0);
    ASSERT_TRUE(ta.OnEntry());
    EXPECT_EQ(ta.RecNo(), 5300u);
    TreeCheck check{a, ta, {}, 0};
    check.Visit(ta.Header().RootBlock(), 0);
    EXPECT_EQ(check.entries.size(), 2300u);

    // b rewrites a page in place: the very next read through a shows it.
    uint64_t size = 0;
    ASSERT_EQ(b.FileSize(&size), 0);
    const uint32_t last = uint32_t(size / Mdx::BlockSize) - 2;
    Mdx::PageBuf before = ReadPage(a, last);
    Mdx::PageBuf changed = before;
    changed[8] ^= 0xFF;
    ASSERT_EQ(b.WritePage(last, changed), 0);
    EXPECT_EQ(ReadPage(a, last), changed);
    ASSERT_EQ(b.WritePage(last, before), 0);

    // b grows the file far past the first mapping; a reads the new pages without being
    // told (the block lies past what a knew of the file).
    const size_t pages = size_t(2 * Mdx::MdxFile::MapReserve / Mdx::PageSize) + 37;
    std::vector<uint8_t> bulk(pages * Mdx::PageSize);
    for (size_t i = 0; i < pages; ++i) {
        Mdx::PageBuf p = Filled(uint8_t(i * 7 + 1));
        Mdx::Put32(&p[4], uint32_t(i));
        std::copy(p.begin(), p.end(), bulk.begin() + ptrdiff_t(i * Mdx::PageSize));
    }
    const uint32_t first = uint32_t(size / Mdx::BlockSize);
    ASSERT_EQ(b.WritePages(first, bulk.data(), pages), 0);
    for (size_t i : {size_t(0), pages / 3, pages / 2, pages - 2, pages - 1}) {
        Mdx::PageBuf p = ReadPage(a, first + uint32_t(2 * i));
        EXPECT_EQ(Mdx::Get32(&p[4]), uint32_t(i));
        EXPECT_EQ(p[100], uint8_t(i * 7 + 1)) << "page " << i;
    }
    // A block past the end is refused, and nothing is read there.
    const uint32_t beyond = first + uint32_t(2 * pages);
    Mdx::PageBuf out{};
    EXPECT_EQ(a.ReadPage(beyond, &out), 222);
    EXPECT_NE(TzCommon::LastErrorMessage().find("past the end"), std::string::npos);
    EXPECT_EQ(a.ReadPage(beyond + 1000000, &out), 222);
    Quiet();

    // The tree still reads the same through a after all that.
    TreeCheck again{a, ta, {}, 0};
    again.Visit(ta.Header().RootBlock(), 0);
    EXPECT_EQ(again.entries, check.entries);

    // Without the mapping every page reads the same.
    MdxFile c;
    c.SetMapping(false);
    ASSERT_EQ(c.Open(name, tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    for (uint32_t block = Mdx::FirstPageBlock; block + 2 <= first + 2 * pages; block += 2) {
        Mdx::PageBuf x{}, y{};
        ASSERT_EQ(a.ReadPage(block, &x), 0);
        ASSERT_EQ(c.ReadPage(block, &y), 0);
        ASSERT_EQ(x, y) << "block " << block;
    }
    EXPECT_EQ(c.ReadPage(beyond, &out), 222);
    Quiet();
}

TEST_F(MdxMapTest, PagesKeptForWriteBackReadBackBeforeTheyReachTheFile) {
    const std::string name = dir.file("w.mdx");
    MdxFile a, b;
    NewFile(a, name, "w.dbf");
    AddTag(a, "K", 'C', 10, {{Key(1), 1}});
    ASSERT_EQ(b.Open(name, tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    uint64_t onDisk = 0;
    ASSERT_EQ(a.FileSize(&onDisk), 0);

    a.SetWriteBack(true);
    a.ForgetSize();
    std::vector<uint32_t> blocks;
    for (int i = 0; i < 5; ++i) {
        Mdx::PageBuf p = Filled(uint8_t(0x40 + i));
        uint32_t block = 0;
        ASSERT_EQ(a.AppendPage(p, &block), 0);
        blocks.push_back(block);
    }
    EXPECT_TRUE(a.HasDirty());
    // Kept here: a reads them back, the file (and so b) does not have them yet.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadPage(a, blocks[size_t(i)])[100], 0x40 + i);
    uint64_t now = 0;
    ASSERT_EQ(a.FileSize(&now), 0);
    EXPECT_EQ(now, onDisk);
    Mdx::PageBuf out{};
    EXPECT_EQ(b.ReadPage(blocks[0], &out), 222);
    Quiet();

    ASSERT_EQ(a.FlushDirty(), 0);
    EXPECT_FALSE(a.HasDirty());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ReadPage(a, blocks[size_t(i)])[100], 0x40 + i);
        EXPECT_EQ(ReadPage(b, blocks[size_t(i)])[100], 0x40 + i);
    }
    a.SetWriteBack(false);
}

}  // namespace
