// Index files: byte layouts of new files and tag headers, bulk-built tags, page splits, a
// random model test of inserts and removals, and damaged files.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "storage/tz_errors.h"
#include "tests/index/mdx_test_util.h"
#include "tests/support/test_support.h"

using namespace mdxtest;
using Mdx::MdxFile;
using Mdx::MdxTag;

namespace {

class MdxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});  // failures are only recorded
    }
    void TearDown() override { TzCommon::ResetErrorState(); }
    kjtest::TempDir dir;
};

std::string Key(int i, int len = 10) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%04d", i);
    return CharKey(buf, len);
}

TEST_F(MdxTest, NewFileAndTagHeaderLayout) {
    MdxFile f;
    NewFile(f, dir.file("poster.mdx"), dir.file("poster.dbf"));
    std::string bytes = kjtest::ReadFile(dir.file("poster.mdx"));
    ASSERT_EQ(bytes.size(), 2048u);
    std::string expect(2048, '\0');
    expect[0] = 2;
    expect[1] = 24, expect[2] = 3, expect[3] = 15;
    expect.replace(4, 6, "poster");
    expect[20] = 2, expect[22] = 0x00, expect[23] = 0x04;
    expect[24] = 1, expect[25] = 48, expect[26] = 32;
    expect[44] = 24, expect[45] = 3, expect[46] = 15;
    EXPECT_EQ(bytes, expect);

    // Tag headers for C, N and D keys.
    struct Case {
        char type;
        int len;
        int entry;
        int perPage;
    };
    for (Case c : {Case{'C', 10, 16, 63}, Case{'N', 12, 20, 50}, Case{'F', 12, 20, 50},
                   Case{'D', 8, 12, 84}, Case{'C', 100, 104, 9}, Case{'C', 1, 8, 126}}) {
        Mdx::TagHeader h;
        ASSERT_EQ(Mdx::MakeTagHeader(c.type, c.len, "EXPR", "", false, false, &h), 0);
        EXPECT_EQ(h.raw[8], 0x10);
        EXPECT_EQ(h.raw[9], uint8_t(c.type));
        EXPECT_EQ(Mdx::Get16(&h.raw[12]), c.len);
        EXPECT_EQ(Mdx::Get16(&h.raw[14]), c.perPage) << c.type << c.len;
        EXPECT_EQ(Mdx::Get16(&h.raw[16]), c.type == 'C' ? 0 : 1);
        EXPECT_EQ(Mdx::Get16(&h.raw[18]), c.entry) << c.type << c.len;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.raw[24]), 5),
                  std::string("EXPR\0", 5));
        EXPECT_EQ(h.raw[245], 0);
    }
    Mdx::TagHeader h;
    ASSERT_EQ(Mdx::MakeTagHeader('C', 5, "INI", "AKTIV", true, true, &h), 0);
    EXPECT_EQ(h.raw[8], 0x10 | 0x08 | 0x40);
    EXPECT_EQ(h.raw[23], 1);
    EXPECT_EQ(h.raw[245], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.raw[762]), 6),
              std::string("AKTIV\0", 6));
    EXPECT_EQ(Mdx::MakeTagHeader('C', 101, "X", "", false, false, &h), 266);
    EXPECT_EQ(Mdx::MakeTagHeader('C', 0, "X", "", false, false, &h), 266);
    EXPECT_EQ(Mdx::MakeTagHeader('N', 10, "X", "", false, false, &h), 266);
    EXPECT_EQ(Mdx::MakeTagHeader('C', 10, std::string(221, 'A'), "", false, false, &h), 300);
    EXPECT_EQ(Mdx::MakeTagHeader('C', 10, std::string(220, 'A'), "", false, false, &h), 0);

    // A file of 2048 bytes is no index file.
    f.Close();
    MdxFile g;
    EXPECT_EQ(g.Open(dir.file("poster.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 222);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Unable to open index: " + dir.file("poster.mdx") + " [OpenIndex/Set_Index_To]");
}

TEST_F(MdxTest, TagTableAndNameTree) {
    MdxFile f;
    NewFile(f, dir.file("t.mdx"), "t.dbf");
    EXPECT_EQ(AddTag(f, "navn", 'C', 10), 1);
    EXPECT_EQ(AddTag(f, "BY", 'D', 8), 2);
    EXPECT_EQ(AddTag(f, "POST", 'N', 12), 3);
    EXPECT_EQ(AddTag(f, "AAA", 'C', 3), 4);
    // The same name again: the old entry gives way to the last one (AAA), and the new tag
    // goes last.
    EXPECT_EQ(AddTag(f, "NAVN", 'C', 10), 4);
    const uint8_t* h = f.Header();
    EXPECT_EQ(h[28], 4);
    auto entry = [&](int n) { return h + 512 + 32 * n; };
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry(4) + 4), 11),
              std::string("NAVN\0\0\0\0\0\0\0", 11));
    EXPECT_EQ(f.TagName(1), "AAA");
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(entry(n)[19], 2);
        EXPECT_EQ(char(entry(n)[20]), f.TagKeyType(n));
    }
    EXPECT_EQ(f.TagKeyType(2), 'D');
    // AAA is the root; BY right of it, POST right of BY, NAVN left of POST.
    EXPECT_EQ(entry(1)[16], 0);
    EXPECT_EQ(entry(1)[17], 2);
    EXPECT_EQ(entry(1)[18], 0);
    EXPECT_EQ(entry(2)[16], 0);
    EXPECT_EQ(entry(2)[17], 3);
    EXPECT_EQ(entry(2)[18], 1);
    EXPECT_EQ(entry(3)[16], 4);
    EXPECT_EQ(entry(3)[17], 0);
    EXPECT_EQ(entry(3)[18], 2);
    EXPECT_EQ(entry(4)[18], 3);
    EXPECT_EQ(entry(5)[4], 0);  // the slot given up is cleared
    // The block mark is the last tag header's block; the entry points at that header.
    uint32_t last = Mdx::Get32(entry(4));
    EXPECT_EQ(Mdx::Get32(h + 32), last);
    EXPECT_EQ(f.FindTag("navn"), 4);

    // A name that only begins another tag's name is a tag of its own, either way round.
    AddTag(f, "BRUGERNAVN", 'C', 10);
    EXPECT_EQ(f.TagsInUse(), 5);
    AddTag(f, "BRUGER", 'C', 5);
    EXPECT_EQ(f.TagsInUse(), 6);
    EXPECT_EQ(f.FindTag("BRUGERNAVN"), 5);
    EXPECT_EQ(f.FindTag("BRUGER"), 6);
    f.Close();

    MdxFile g;
    ASSERT_EQ(g.Open(dir.file("t.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    for (int n = 1; n <= 6; ++n) {
        MdxTag t;
        EXPECT_EQ(t.Open(&g, n, Mdx::CompareCharKeys), 0);
        EXPECT_EQ(t.First(), 0);
        EXPECT_EQ(t.state(), MdxTag::State::AtEnd);
    }
}

// A tag header must fit its key type and the page: a number or date tag with another key
// length, or keys per page times entry length past the page (also where the product does
// not fit an int), fails the open instead of sending key writes past their buffers.
TEST_F(MdxTest, TagHeaderFieldsCheckedAgainstKeyTypeAndPage) {
    {
        MdxFile f;
        NewFile(f, dir.file("t.mdx"), "t.dbf");
        AddTag(f, "AMT", 'N', 12);
        AddTag(f, "DAT", 'D', 8);
        AddTag(f, "K", 'C', 10);
    }
    const std::string good = kjtest::ReadFile(dir.file("t.mdx"));
    MdxFile probe;
    ASSERT_EQ(probe.Open(dir.file("t.mdx"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    const uint32_t amt = probe.TagHeaderBlock(1), dat = probe.TagHeaderBlock(2),
                   k = probe.TagHeaderBlock(3);
    probe.Close();
    struct Damage {
        const char* what;
        int tag;
        size_t off;
        std::string bytes;
        const char* text;
    };
    const std::vector<Damage> damages = {
        {"N key length 8", 1, amt * 512 + 12, std::string("\x08\x00", 2), "key length"},
        {"N key length 4", 1, amt * 512 + 12, std::string("\x04\x00", 2), "key length"},
        {"D key length 12", 2, dat * 512 + 12, std::string("\x0c\x00", 2), "key length"},
        {"C product past an int", 3, k * 512 + 14, std::string("\xff\xff\x00\x00\xff\xff", 6),
         "keys per page"},
        {"N product past an int", 1, amt * 512 + 14, std::string("\xff\xff\x00\x00\xff\xff", 6),
         "keys per page"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string bad = good;
        bad.replace(d.off, d.bytes.size(), d.bytes);
        kjtest::WriteFile(dir.file("bad.mdx"), bad);
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});
        MdxFile f;
        ASSERT_EQ(f.Open(dir.file("bad.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        MdxTag t;
        EXPECT_EQ(t.Open(&f, d.tag, Mdx::CompareCharKeys), 222);
        EXPECT_NE(TzCommon::LastMessage().find(d.text), std::string::npos)
            << TzCommon::LastMessage();
        TzCommon::SetErrorHook(nullptr);
    }
    TzCommon::ResetErrorState();
}

TEST_F(MdxTest, HundredKeyBuild) {
    MdxFile f;
    NewFile(f, dir.file("b.mdx"), "b.dbf");
    std::vector<std::pair<std::string, uint32_t>> items;
    for (int i = 1; i <= 100; ++i) items.emplace_back(Key(i), uint32_t(i));
    AddTag(f, "K", 'C', 10, items);
    f.Close();
    std::string bytes = kjtest::ReadFile(dir.file("b.mdx"));
    ASSERT_EQ(bytes.size(), 2048u + 4 * 1024u);

    ASSERT_EQ(f.Open(dir.file("b.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    MdxTag t;
    ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
    EXPECT_EQ(t.Header().RootBlock(), 8u);
    EXPECT_EQ(t.Header().block, 10u);
    EXPECT_EQ(Mdx::Get32(f.Header() + 32), 10u);  // root + 2
    Mdx::PageBuf leaf1 = ReadPage(f, 4), leaf2 = ReadPage(f, 6), root = ReadPage(f, 8);
    EXPECT_EQ(Count(leaf1), 63);
    EXPECT_EQ(Count(leaf2), 37);
    EXPECT_EQ(Count(root), 1);
    EXPECT_EQ(Mdx::Get32(&root[8]), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&root[12]), 10), Key(63));
    EXPECT_EQ(Mdx::Get32(&root[8 + 16]), 6u);
    EXPECT_EQ(Mdx::Get32(&leaf1[8 + 63 * 16]), 0u);
    EXPECT_EQ(Mdx::Get32(&leaf1[8]), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&leaf1[12]), 10), Key(1));

    // Forward and backward walks and seeks.
    int n = 0;
    for (t.First(); t.OnEntry(); t.Next()) EXPECT_EQ(t.RecNo(), uint32_t(++n));
    EXPECT_EQ(n, 100);
    for (t.Last(); t.OnEntry(); t.Prior()) EXPECT_EQ(t.RecNo(), uint32_t(n--));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(t.Seek(U(std::string("K005")), 4), 0);
    EXPECT_EQ(t.RecNo(), 50u);  // "K0050" is the first key that starts with "K005"
    EXPECT_EQ(t.Seek(U(Key(64)), 10), 0);
    EXPECT_EQ(t.RecNo(), 64u);
    EXPECT_EQ(t.Seek(U(std::string("K1")), 2), 0);
    EXPECT_EQ(t.state(), MdxTag::State::AtEnd);
    EXPECT_EQ(t.Prior(), 0);
    EXPECT_EQ(t.RecNo(), 100u);

    // Enough keys for a third level (64 full leaves fill a branch page and its trailing
    // number): the last leaf then hangs directly under the root.
    for (int count : {63 * 64, 63 * 64 + 1, 20000}) {
        SCOPED_TRACE(count);
        items.clear();
        for (int i = 1; i <= count; ++i) items.emplace_back(Key(i), uint32_t(i));
        std::sort(items.begin(), items.end());  // "K10000" sorts before "K9999"
        int n2 = AddTag(f, "BIG", 'C', 10, items);
        MdxTag big;
        ASSERT_EQ(big.Open(&f, n2, Mdx::CompareCharKeys), 0);
        TreeCheck check{f, big, {}};
        check.Visit(big.Header().RootBlock(), 0);
        EXPECT_EQ(check.entries, items);
        EXPECT_EQ(check.depth, count == 63 * 64 ? 2 : 3);
        ASSERT_EQ(big.Seek(U(Key(count)), 10), 0);
        EXPECT_EQ(big.RecNo(), uint32_t(count));
        ASSERT_EQ(big.Insert(U(CharKey("Z", 10)), uint32_t(count + 1)), 0);  // above every key
        ASSERT_EQ(big.Last(), 0);
        EXPECT_EQ(big.RecNo(), uint32_t(count + 1));
    }
}

TEST_F(MdxTest, SplitOfFullLeafAndBranch) {
    MdxFile f;
    NewFile(f, dir.file("s.mdx"), "s.dbf");
    AddTag(f, "K", 'C', 10);  // an empty leaf at block 4, the tag header at 6
    MdxTag t;
    ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
    ASSERT_EQ(t.Header().RootBlock(), 4u);
    for (int i = 0; i < 63; ++i) ASSERT_EQ(t.Insert(U(Key(2 * i)), uint32_t(i + 1)), 0);
    uint64_t before = 0;
    f.FileSize(&before);
    EXPECT_EQ(Count(ReadPage(f, 4)), 63);

    ASSERT_EQ(t.Insert(U(Key(1)), 1000), 0);  // sorts into the kept half
    uint64_t after = 0;
    f.FileSize(&after);
    EXPECT_EQ(after, before + 2048);
    uint32_t fresh = uint32_t(before / 512), root = fresh + 2;
    EXPECT_EQ(t.Header().RootBlock(), root);
    EXPECT_EQ(Mdx::Get32(f.Header() + 32), root + 1);
    Mdx::PageBuf old = ReadPage(f, 4), made = ReadPage(f, fresh), top = ReadPage(f, root);
    EXPECT_EQ(Count(old), 33);
    EXPECT_EQ(Count(made), 31);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&old[8 + 32 * 16 + 4]), 10), Key(62));
    for (const auto* p : {&made, &top}) {
        for (int b = 2; b < 8; ++b) EXPECT_EQ((*p)[b], 0) << b;
    }
    EXPECT_EQ(Count(top), 1);
    EXPECT_EQ(Mdx::Get32(&top[8]), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&top[12]), 10), Key(62));
    EXPECT_EQ(Mdx::Get32(&top[8 + 16]), fresh);
    // Reading the tag header back from the file gives the new root.
    MdxTag again;
    ASSERT_EQ(again.Open(&f, 1, Mdx::CompareCharKeys), 0);
    EXPECT_EQ(again.Header().RootBlock(), root);

    // A full branch: 64 full leaves under one root of 63 entries plus its trailing number.
    MdxFile g;
    NewFile(g, dir.file("b.mdx"), "b.dbf");
    std::vector<std::pair<std::string, uint32_t>> items;
    for (int i = 0; i < 64 * 63; ++i) items.emplace_back(Key(2 * i + 2), uint32_t(i + 1));
    AddTag(g, "K", 'C', 10, items);
    MdxTag b;
    ASSERT_EQ(b.Open(&g, 1, Mdx::CompareCharKeys), 0);
    uint32_t oldRoot = b.Header().RootBlock();
    EXPECT_EQ(Count(ReadPage(g, oldRoot)), 63);
    ASSERT_EQ(b.Insert(U(Key(1)), 9999), 0);  // into the first leaf: leaf and root split
    Mdx::PageBuf newRoot = ReadPage(g, b.Header().RootBlock());
    EXPECT_EQ(Count(newRoot), 1);
    EXPECT_EQ(Mdx::Get32(&newRoot[8]), oldRoot);
    Mdx::PageBuf left = ReadPage(g, oldRoot), right = ReadPage(g, Mdx::Get32(&newRoot[8 + 16]));
    EXPECT_EQ(Count(left), 32);  // 31 kept + the entry for the new leaf
    EXPECT_EQ(Count(right), 31);
    TreeCheck check{g, b, {}};
    check.Visit(b.Header().RootBlock(), 0);
    ASSERT_EQ(check.entries.size(), items.size() + 1);
    EXPECT_EQ(check.entries[0], std::make_pair(Key(1), uint32_t(9999)));
    EXPECT_EQ(check.depth, 3);
}

// Random inserts and removals against a multimap that keeps equal keys newest first.
void RunModel(MdxFile& f, MdxTag& t, uint32_t seed, int ops, int keyRange, bool dates) {
    const int kl = t.KeyLength();
    auto makeKey = [&](int v) {
        if (dates) {
            double d = 2450000.0 + v;
            std::string k(8, '\0');
            std::memcpy(k.data(), &d, 8);
            return k;
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "%05d", v);
        return CharKey(buf, kl);
    };
    auto less = [&](const std::string& a, const std::string& b) {
        return t.Compare(U(a), U(b), size_t(kl)) < 0;
    };
    std::multimap<std::string, uint32_t, decltype(less)> model(less);
    std::mt19937 rng(seed);
    uint32_t nextRec = 1;
    auto checkAll = [&](const char* when) {
        SCOPED_TRACE(when);
        std::vector<std::pair<std::string, uint32_t>> want(model.begin(), model.end());
        TreeCheck check{f, t, {}};
        check.Visit(t.Header().RootBlock(), 0);
        ASSERT_EQ(check.entries, want);
        std::vector<std::pair<std::string, uint32_t>> got;
        for (t.First(); t.OnEntry(); t.Next())
            got.emplace_back(std::string(reinterpret_cast<const char*>(t.Key()), kl), t.RecNo());
        ASSERT_EQ(got, want);
        got.clear();
        for (t.Last(); t.OnEntry(); t.Prior())
            got.emplace_back(std::string(reinterpret_cast<const char*>(t.Key()), kl), t.RecNo());
        std::reverse(got.begin(), got.end());
        ASSERT_EQ(got, want);
        for (int i = 0; i < 50; ++i) {
            std::string k = makeKey(int(rng() % (keyRange + 2)) - 1);
            ASSERT_EQ(t.Seek(U(k), size_t(kl)), 0);
            auto it = model.lower_bound(k);
            if (it == model.end()) {
                ASSERT_EQ(t.state(), MdxTag::State::AtEnd);
            } else {
                ASSERT_TRUE(t.OnEntry());
                ASSERT_EQ(t.RecNo(), it->second);
            }
        }
    };
    for (int op = 0; op < ops; ++op) {
        bool insert = model.empty() || rng() % 100 < 60;
        if (insert) {
            std::string k = makeKey(int(rng() % keyRange));
            ASSERT_EQ(t.Insert(U(k), nextRec), 0);
            model.emplace_hint(model.lower_bound(k), k, nextRec);
            ++nextRec;
        } else {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            auto after = std::next(it);
            bool found = false;
            // Stand on the entry, remove it, and the next step goes on behind it.
            ASSERT_EQ(t.SeekRecord(U(it->first), it->second, &found), 0);
            ASSERT_TRUE(found);
            ASSERT_EQ(t.Remove(U(it->first), it->second, &found), 0);
            ASSERT_TRUE(found);
            model.erase(it);
            ASSERT_EQ(t.Next(), 0);
            if (after == model.end()) {
                ASSERT_EQ(t.state(), MdxTag::State::AtEnd);
            } else {
                ASSERT_TRUE(t.OnEntry());
                ASSERT_EQ(t.RecNo(), after->second);
            }
        }
        if (op % 2000 == 1999) checkAll("during");
    }
    checkAll("after inserts and removals");
    std::printf("entries %zu, depth %zu\n", model.size(), (t.First(), t.Depth()));
    bool found = true;
    ASSERT_EQ(t.Remove(U(makeKey(keyRange + 5)), 1, &found), 0);
    EXPECT_FALSE(found);
    // Remove everything: the tree collapses to one empty root leaf.
    while (!model.empty()) {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        ASSERT_EQ(t.Remove(U(it->first), it->second, &found), 0);
        ASSERT_TRUE(found);
        model.erase(it);
    }
    checkAll("emptied");
    Mdx::PageBuf root = ReadPage(f, t.Header().RootBlock());
    EXPECT_EQ(Count(root), 0);
    EXPECT_EQ(Mdx::Get32(&root[8]), 0u);
    EXPECT_FALSE(t.Header().KeysPresent());
}

TEST_F(MdxTest, RandomInsertsAndRemovalsAgreeWithModel) {
    const uint32_t seed = 20240315;
    std::printf("model seed %u\n", seed);
    {
        MdxFile f;
        NewFile(f, dir.file("m.mdx"), "m.dbf");
        AddTag(f, "K", 'C', 6);
        f.SetMapping(false);  // reads through ReadAt, as when the file cannot be mapped
        MdxTag t;
        ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
        t.SetKeysPresent(true);
        RunModel(f, t, seed, 12000, 3000, false);
    }
    {
        // Long keys: nine to a page, so the tree grows four and five levels deep.
        MdxFile f;
        NewFile(f, dir.file("l.mdx"), "l.dbf");
        AddTag(f, "L", 'C', 100);
        MdxTag t;
        ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
        RunModel(f, t, seed + 2, 8000, 5000, false);
    }
    {
        MdxFile f;
        NewFile(f, dir.file("d.mdx"), "d.dbf");
        AddTag(f, "D", 'D', 8, {}, /*descending=*/true);
        MdxTag t;
        ASSERT_EQ(t.Open(&f, 1, Mdx::CompareDateKeys), 0);
        RunModel(f, t, seed + 1, 6000, 400, true);
    }
}

TEST_F(MdxTest, DamagedFilesGiveCodes) {
    std::vector<std::pair<std::string, uint32_t>> items;
    for (int i = 1; i <= 500; ++i) items.emplace_back(Key(i), uint32_t(i));
    auto build = [&](const std::string& name) {
        MdxFile f;
        NewFile(f, dir.file(name), "x.dbf");
        AddTag(f, "K", 'C', 10, items);
    };
    auto patch = [&](const std::string& name, size_t off, const std::string& bytes) {
        std::string all = kjtest::ReadFile(dir.file(name));
        all.replace(off, bytes.size(), bytes);
        kjtest::WriteFile(dir.file(name), all);
    };
    auto le32 = [](uint32_t v) {
        std::string s(4, '\0');
        Mdx::Put32(reinterpret_cast<uint8_t*>(s.data()), v);
        return s;
    };
    // Opens and walks; answers the first failure code (0 when none).
    auto walk = [&](const std::string& name) -> uint16_t {
        MdxFile f;
        uint16_t rc = f.Open(dir.file(name), tz::Access::ReadWrite, tz::ShareMode::DenyNone);
        if (rc) return rc;
        MdxTag t;
        if ((rc = t.Open(&f, 1, Mdx::CompareCharKeys))) return rc;
        for (rc = t.First(); rc == 0 && t.OnEntry(); rc = t.Next()) {
        }
        if (rc) return rc;
        for (rc = t.Last(); rc == 0 && t.OnEntry(); rc = t.Prior()) {
        }
        if (rc) return rc;
        if ((rc = t.Seek(U(Key(250)), 10))) return rc;
        bool found = false;
        if ((rc = t.Insert(U(Key(77)), 9000))) return rc;
        return t.Remove(U(Key(300)), 300, &found);
    };
    build("ok.mdx");
    EXPECT_EQ(walk("ok.mdx"), 0);
    const std::string good = kjtest::ReadFile(dir.file("ok.mdx"));
    MdxFile probe;
    ASSERT_EQ(probe.Open(dir.file("ok.mdx"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    uint32_t tagBlock = probe.TagHeaderBlock(1);
    MdxTag pt;
    ASSERT_EQ(pt.Open(&probe, 1, Mdx::CompareCharKeys), 0);
    uint32_t root = pt.Header().RootBlock();
    probe.Close();

    struct Damage {
        const char* what;
        size_t off;
        std::string bytes;
        uint16_t code;
        std::string text;
    };
    std::vector<Damage> damages = {
        {"root past the end", tagBlock * 512, le32(9999), 222, "block 9999"},
        {"root in the header area", tagBlock * 512, le32(2), 222, "block 2"},
        {"root zero", tagBlock * 512, le32(0), 222,
         "Invalid Node Number (0) in DBF Area 0, Order 1 "},
        {"tag header past the end", 512 + 32, le32(70000), 222, "block 70000"},
        {"key type", tagBlock * 512 + 9, "X", 222, "key type"},
        {"key length", tagBlock * 512 + 12, le32(0), 222, "key length"},
        {"keys per page", tagBlock * 512 + 14, std::string("\xff\x00", 2), 222, "keys per page"},
        {"entry count", root * 512, std::string("\x88\x13", 2), 222, "entry count 5000"},
        {"child past the end", root * 512 + 8, le32(123456), 222, "block 123456"},
        {"child loops to root", root * 512 + 8, le32(root), 222,
         "leads to block " + std::to_string(root)},
        {"leaf count", 4 * 512, std::string("\x40\x00", 2), 222, "entry count 64"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        kjtest::WriteFile(dir.file("bad.mdx"), good);
        patch("bad.mdx", d.off, d.bytes);
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});
        EXPECT_EQ(walk("bad.mdx"), d.code);
        EXPECT_NE(TzCommon::LastMessage().find(d.text), std::string::npos)
            << TzCommon::LastMessage();
        if (d.code == TzErr::CorruptedIndex && d.off != 512 + 32 && d.off != tagBlock * 512 + 9 &&
            d.off != tagBlock * 512 + 12 && d.off != tagBlock * 512 + 14) {
            EXPECT_NE(TzCommon::LastMessage().find("bad.mdx"), std::string::npos);
        }
    }
    // Truncated files: below 3072 bytes, and cut inside the pages.
    kjtest::WriteFile(dir.file("bad.mdx"), good.substr(0, 3071));
    EXPECT_EQ(walk("bad.mdx"), 222);
    kjtest::WriteFile(dir.file("bad.mdx"), good.substr(0, 5 * 1024));
    EXPECT_EQ(walk("bad.mdx"), 222);
    // Random damage anywhere in the pages: a code or success, never a crash.
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        for (int k = 0; k < 4; ++k) bad[2048 + rng() % (bad.size() - 2048)] = char(rng());
        kjtest::WriteFile(dir.file("bad.mdx"), bad);
        TzCommon::ResetErrorState();
        TzCommon::SetErrorHook([] {});
        uint16_t rc = walk("bad.mdx");
        EXPECT_TRUE(rc == 0 || rc == TzErr::CorruptedIndex || rc == TzErr::InternalError) << rc;
    }
}

TEST_F(MdxTest, CharKeysAreFittedAndErrorsRaiseWithCheckingOff) {
    std::string k;
    EXPECT_EQ(Mdx::FitCharKey("ABC", 5, &k), 0);
    EXPECT_EQ(k, "ABC  ");
    EXPECT_EQ(Mdx::FitCharKey("ABCDEFG", 5, &k), 0);
    EXPECT_EQ(k, "ABCDE");
    EXPECT_EQ(Mdx::FitCharKey("A", 101, &k), 266);
    EXPECT_EQ(Mdx::FitCharKey("A", 0, &k), 266);
    // With error checking off the index engine's failures arrive as exceptions.
    TzCommon::ResetErrorState();
    TzCommon::SetErrorChecking(0);
    kjtest::WriteFile(dir.file("short.mdx"), std::string(100, '\0'));
    MdxFile f;
    try {
        f.Open(dir.file("short.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone);
        FAIL() << "no exception";
    } catch (const TzCommon::ETzError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error # 222 (Corrupted index file)\r\nUnable to open index: " +
                      dir.file("short.mdx") + " [OpenIndex/Set_Index_To]");
    }
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::CorruptedIndex);
}

TEST_F(MdxTest, FailedWriteStopsFurtherWrites) {
    MdxFile f;
    NewFile(f, dir.file("w.mdx"), "w.dbf");
    AddTag(f, "K", 'C', 10);
    MdxTag t;
    ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
    tz::FaultInjector inj;
    inj.failAt = 1;
    tz::SetFaultInjector(&inj);
    EXPECT_EQ(t.Insert(U(Key(1)), 1), 101);
    tz::SetFaultInjector(nullptr);
    EXPECT_TRUE(f.Failed());
    EXPECT_EQ(t.Insert(U(Key(2)), 2), 101);  // nothing more is written from this state
    f.Close();
    ASSERT_EQ(f.Open(dir.file("w.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    ASSERT_EQ(t.Open(&f, 1, Mdx::CompareCharKeys), 0);
    ASSERT_EQ(t.First(), 0);
    EXPECT_EQ(t.state(), MdxTag::State::AtEnd);
}

}  // namespace
