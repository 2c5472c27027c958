// Memo files: byte layouts of the three flavours, AddMemo/EditMemo/GetMemo, the dBASE IV
// block reuse, CopyMemo across flavours, packing, BLOB streams, the text-file view and bad
// files that must give error codes.
#include "storage/code_page.h"
#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/storage/memo_fixture.h"

using namespace memotest;
using TzCommon::ErrorWord;

namespace {

std::string Bytes(const std::string& s, size_t off, size_t n) {
    return s.substr(off, n);
}
std::string Hex(std::initializer_list<int> v) {
    std::string s;
    for (int c : v) s += char(c);
    return s;
}

TEST_F(MemoTest, CreatedHeadersOfEachFlavour) {
    std::string d3 = dir.file("A.DBT"), d4 = dir.file("LONGNAME1.DBT"), fp = dir.file("C.FPT");
    ASSERT_TRUE(Memo::CreateMemoFile(d3, 0x83, 512, "t"));
    ASSERT_TRUE(Memo::CreateMemoFile(d4, 0x8B, 1024, "t"));
    ASSERT_TRUE(Memo::CreateMemoFile(fp, 0xF5, 64, "t"));
    std::string a = kjtest::ReadFile(d3), b = kjtest::ReadFile(d4), c = kjtest::ReadFile(fp);
    ASSERT_EQ(a.size(), 513u);
    EXPECT_EQ(Bytes(a, 0, 4), Hex({1, 0, 0, 0}));
    EXPECT_EQ(a.find_first_not_of('\0', 4), 512u);
    EXPECT_EQ(a[512], '\x1a');
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(b, Hex({1, 0, 0, 0, 0, 0, 0, 0}) + "LONGNAME" + Hex({0, 0, 2, 1, 0x00, 0x04, 0, 0}));
    ASSERT_EQ(c.size(), 512u);
    EXPECT_EQ(Bytes(c, 0, 8), Hex({0, 0, 0, 8, 0, 0, 0, 64}));  // 511 div 64 + 1 = 8
    EXPECT_EQ(c.find_first_not_of('\0', 8), std::string::npos);

    // A file that cannot be created is reported with its name and the caller.
    EXPECT_FALSE(Memo::CreateMemoFile(dir.file("no/such/dir/X.DBT"), 0x8B, 512, "CreateDbf()"));
    EXPECT_EQ(TzCommon::LastMessage(),
              "Cannot create memo file " + dir.file("no/such/dir/X.DBT") + " [CreateDbf()]");
}

TEST_F(MemoTest, AddMemoLayouts) {
    auto d3 = NewTable("d3", 0x83);
    EXPECT_EQ(Memo::AddMemo(*d3, "   "), 0);  // blanks only: nothing written
    EXPECT_EQ(kjtest::ReadFile(MemoPath(*d3)).size(), 513u);
    EXPECT_EQ(Memo::AddMemo(*d3, "Hello  "), 1);
    EXPECT_EQ(Memo::AddMemo(*d3, "World"), 2);
    std::string f = kjtest::ReadFile(MemoPath(*d3));
    ASSERT_EQ(f.size(), 1536u);
    EXPECT_EQ(Bytes(f, 512, 7), "Hello\x1a" + std::string(1, '\0'));
    EXPECT_EQ(Bytes(f, 1024, 6), "World\x1a");
    EXPECT_EQ(Bytes(f, 0, 4), Hex({3, 0, 0, 0}));

    auto d4 = NewTable("d4", 0x8B);
    EXPECT_EQ(Memo::AddMemo(*d4, "abc"), 1);
    f = kjtest::ReadFile(MemoPath(*d4));
    ASSERT_EQ(f.size(), 512u + 11u);
    EXPECT_EQ(Bytes(f, 512, 11), Hex({0xFF, 0xFF, 8, 0, 11, 0, 0, 0}) + "abc");
    EXPECT_GE(uint8_t(f[0]), 2);
    EXPECT_EQ(Bytes(f, 8, 8), "d4" + std::string(6, '\0'));

    auto fp = NewTable("fp", 0xF5, 0, 64);
    EXPECT_EQ(Memo::AddMemo(*fp, "0123456789"), 8);
    EXPECT_EQ(Memo::AddMemo(*fp, "x"), 9);  // next block boundary: 512 + 64
    f = kjtest::ReadFile(MemoPath(*fp));
    EXPECT_EQ(Bytes(f, 512, 18), Hex({0, 0, 0, 1, 0, 0, 0, 10}) + "0123456789");
    EXPECT_EQ(Bytes(f, 576, 9), Hex({0, 0, 0, 1, 0, 0, 0, 1}) + "x");
    EXPECT_EQ(Bytes(f, 0, 4), Hex({0, 0, 0, 10}));  // ceil(585 / 64)

    for (auto* a : {d3.get(), d4.get(), fp.get()}) {
        ASSERT_TRUE(Memo::GetMemo(*a, a == fp.get() ? 8 : 1));
        EXPECT_EQ(Memo::EditorText(), std::string(a == d3.get()   ? "Hello"
                                                  : a == d4.get() ? "abc"
                                                                  : "0123456789") +
                                          "\r\n");
    }
}

TEST_F(MemoTest, EditMemoWorkedBytes) {
    auto fp = NewTable("fp", 0xF5);
    Memo::EditBuffer& e = Memo::Editor();
    e.lines = {{"AB", 13}, {"C", 13}};
    int32_t b = Memo::EditMemo(*fp, 0);
    ASSERT_EQ(b, 1);
    std::string f = kjtest::ReadFile(MemoPath(*fp));
    EXPECT_EQ(Bytes(f, 512, 15), Hex({0, 0, 0, 1, 0, 0, 0, 7}) + "AB\r\nC\r\n");
    EXPECT_EQ(f.size(), 512u + 15u);

    Memo::ClearEditor();
    e.pending = "AB";
    e.hasPending = true;
    b = Memo::EditMemo(*fp, 1);
    ASSERT_EQ(b, 2);  // FoxPro: always at the end
    f = kjtest::ReadFile(MemoPath(*fp));
    EXPECT_EQ(Bytes(f, 1024, 12), Hex({0, 0, 0, 1, 0, 0, 0, 4}) + "AB" + Hex({0, 0}));

    auto d3 = NewTable("d3", 0x83);
    Memo::ClearEditor();
    e.lines = {{"AB", 13}, {"C", 13}};
    ASSERT_EQ(Memo::EditMemo(*d3, 0), 1);
    ASSERT_EQ(Memo::EditMemo(*d3, 1), 2);  // the old memo stays where it was
    f = kjtest::ReadFile(MemoPath(*d3));
    ASSERT_EQ(f.size(), 1536u);
    std::string memo = "AB\r\nC\r\n\x1a";
    EXPECT_EQ(Bytes(f, 512, 512), memo + std::string(512 - memo.size(), '\0'));
    EXPECT_EQ(Bytes(f, 1024, 512), memo + std::string(512 - memo.size(), '\0'));

    // Unended text: the 0x1A follows it directly (no zero bytes for a missing line end).
    Memo::ClearEditor();
    e.pending = "AB";
    e.hasPending = true;
    ASSERT_EQ(Memo::EditMemo(*d3, 0), 3);
    f = kjtest::ReadFile(MemoPath(*d3));
    EXPECT_EQ(Bytes(f, 1536, 512), "AB\x1a" + std::string(509, '\0'));
    Memo::BlobStream s(*d3, 3, Memo::kBlobRead);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s.ReadAll(), "AB");
    s.Close();

    // An empty buffer stores nothing.
    Memo::ClearEditor();
    EXPECT_EQ(Memo::EditMemo(*d3, 0), 0);
}

TEST_F(MemoTest, Dbase4RewriteInPlaceOrElsewhere) {
    auto d4 = NewTable("d4", 0x8B);
    int32_t first = Memo::AddMemo(*d4, std::string(600, 'a'));  // 608 bytes: 2 blocks
    int32_t second = Memo::AddMemo(*d4, "second");
    ASSERT_EQ(first, 1);
    ASSERT_EQ(second, 3);
    Memo::Editor().lines = {{std::string(100, 'b'), 13}};
    EXPECT_EQ(Memo::EditMemo(*d4, first), first);  // fits: same block
    ASSERT_TRUE(Memo::GetMemo(*d4, first));
    EXPECT_EQ(Memo::EditorText(), std::string(100, 'b') + "\r\n");
    ASSERT_TRUE(Memo::GetMemo(*d4, second));
    EXPECT_EQ(Memo::EditorText(), "second\r\n");

    Memo::ClearEditor();
    Memo::Editor().lines = {{std::string(250, 'c'), 13},
                            {std::string(250, 'd'), 13},
                            {std::string(250, 'e'), 13},
                            {std::string(250, 'f'), 13},
                            {std::string(250, 'g'), 13}};
    int32_t moved = Memo::EditMemo(*d4, first);
    EXPECT_GT(moved, second);  // needs more blocks: not in place, not over the second memo
    ASSERT_TRUE(Memo::GetMemo(*d4, moved));
    EXPECT_EQ(Memo::Editor().lines.size(), 5u);
    EXPECT_EQ(Memo::Editor().lines[4].text, std::string(250, 'g'));
    ASSERT_TRUE(Memo::GetMemo(*d4, second));
    EXPECT_EQ(Memo::EditorText(), "second\r\n");
}

TEST_F(MemoTest, BadMemoFilesGiveCodes) {
    auto d4 = NewTable("d4", 0x8B, 0, 512, false);
    ASSERT_EQ(Memo::AddMemo(*d4, "fine"), 1);
    std::string path = MemoPath(*d4);
    // Block past the end of the file.
    EXPECT_FALSE(Memo::GetMemo(*d4, 99));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    EXPECT_NE(TzCommon::LastMessage().find("[GetMemo]"), std::string::npos);
    EXPECT_FALSE(Memo::GetMemo(*d4, -2147483647));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    // Wrong block header and a huge length.
    tz::File f;
    ASSERT_EQ(f.Open(path, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(f.WriteAt(512, junk, 8), 0);
    TzCommon::ClearErrorWord();
    EXPECT_FALSE(Memo::GetMemo(*d4, 1));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    const uint8_t huge[8] = {0xFF, 0xFF, 8, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    ASSERT_EQ(f.WriteAt(512, huge, 8), 0);
    TzCommon::ClearErrorWord();
    EXPECT_FALSE(Memo::GetMemo(*d4, 1));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    Memo::BlobStream s(*d4, 1, Memo::kBlobRead);
    EXPECT_FALSE(s.ok());
    // Rewriting a memo whose old header is garbage never releases or reuses its blocks.
    Memo::Editor().lines = {{"new", 13}};
    int32_t b = Memo::EditMemo(*d4, 1);
    EXPECT_EQ(b, 2);

    auto fp = NewTable("fp", 0xF5, 0, 512, false);
    ASSERT_EQ(Memo::AddMemo(*fp, "fox"), 1);
    tz::File g;
    ASSERT_EQ(g.Open(MemoPath(*fp), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    const uint8_t foxHuge[8] = {0, 0, 0, 1, 0x7F, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(g.WriteAt(512, foxHuge, 8), 0);
    TzCommon::ClearErrorWord();
    EXPECT_FALSE(Memo::GetMemo(*fp, 1));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    auto target = NewTable("t3", 0x83);
    TzCommon::ClearErrorWord();
    EXPECT_EQ(Memo::CopyMemo(*target, *fp, 1, false), 0);
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);

    // A short dBASE III file without an end mark reads to the end of the file.
    auto d3 = NewTable("d3", 0x83, 0, 512, false);
    tz::File h;
    ASSERT_EQ(h.Open(MemoPath(*d3), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    ASSERT_EQ(h.WriteAt(512, "open end", 8), 0);
    ASSERT_TRUE(Memo::GetMemo(*d3, 1));
    EXPECT_EQ(Memo::EditorText(), "open end\r\n");
}

// A free run whose stored length reaches past the end of the file (a damaged chain) is
// not taken as free room: the memo written next leaves the memos after the run whole.
TEST_F(MemoTest, Dbase4FreeRunLongerThanTheFileIsNotTaken) {
    auto d4 = NewTable("d4", 0x8B, 0, 512, false);
    std::vector<int32_t> live;
    for (const char* text : {"first", "second", "third", "freed", "fifth", "sixth"})
        live.push_back(Memo::AddMemo(*d4, text));  // blocks 1 to 6
    ASSERT_EQ(live, std::vector<int32_t>({1, 2, 3, 4, 5, 6}));
    // The free chain: the header to block 1, a run of 1 block to block 4, a run of 1 block
    // that claims 1000 (and a next run at block 5).
    tz::File f;
    ASSERT_EQ(f.Open(MemoPath(*d4), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    auto put = [&f](uint64_t at, uint32_t v) {
        const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        ASSERT_EQ(f.WriteAt(at, b, 4), 0);
    };
    put(0, 1);
    put(512, 4);
    put(512 + 4, 1);
    put(4 * 512, 5);
    put(4 * 512 + 4, 1000);
    f.Close();
    Memo::Editor().lines = {{std::string(700, 'x'), 13}};  // two blocks
    const int32_t at = Memo::EditMemo(*d4, 0);
    ASSERT_NE(at, 0) << TzCommon::LastMessage();
    EXPECT_GT(at, 6) << "written in the run that claimed more than the file holds";
    const std::vector<std::pair<int32_t, const char*>> kept = {
        {2, "second"}, {3, "third"}, {5, "fifth"}, {6, "sixth"}};
    for (const auto& [block, text] : kept) {
        ASSERT_TRUE(Memo::GetMemo(*d4, block)) << text << ": " << TzCommon::LastMessage();
        EXPECT_EQ(Memo::EditorText(), std::string(text) + "\r\n");
    }
    ASSERT_TRUE(Memo::GetMemo(*d4, at));
    EXPECT_EQ(JoinedLines(), std::string(700, 'x'));
}

// A free chain that leads into a memo in use (to its header or into its text) is damaged
// there: neither a new memo nor blocks given back are linked or written through it, and
// every memo in use reads as it was.
TEST_F(MemoTest, Dbase4ChainIntoAMemoInUseLeavesItWhole) {
    struct Case {
        const char* what;
        uint32_t head, runNext;  // the header's first free block; the run at block 2's next
        bool shrink;             // give blocks back (a memo rewritten shorter) or take some
    };
    const Case cases[] = {
        {"a run leads to a memo's header", 2, 3, false},
        {"a run leads into a memo's text", 2, 4, false},
        {"the header leads to a memo's header", 3, 0, false},
        {"the header leads into a memo's text", 4, 0, false},
        {"blocks given back, the header at a memo's header", 3, 0, true},
        {"blocks given back, the header into a memo's text", 4, 0, true},
        {"blocks given back, a run leads to a memo's header", 2, 3, true},
    };
    const std::string longText(1200, 'L');  // blocks 3 to 5
    const std::string lastText(1100, 'M');  // blocks 7 to 9
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto d4 = NewTable("chain" + std::to_string(++n), 0x8B, 0, 512, false);
        std::vector<int32_t> at;
        for (const std::string& text :
             {std::string("first"), std::string("freed"), longText, std::string("sixth"), lastText})
            at.push_back(Memo::AddMemo(*d4, text));
        ASSERT_EQ(at, std::vector<int32_t>({1, 2, 3, 6, 7}));
        tz::File f;
        ASSERT_EQ(f.Open(MemoPath(*d4), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        auto put = [&f](uint64_t off, uint32_t v) {
            const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
            ASSERT_EQ(f.WriteAt(off, b, 4), 0);
        };
        put(0, c.head);
        put(2 * 512, c.runNext);  // block 2: a free run of one block
        put(2 * 512 + 4, 1);
        f.Close();
        std::vector<std::pair<int32_t, std::string>> inUse = {
            {1, "first"}, {3, longText}, {6, "sixth"}};
        if (c.shrink) {
            Memo::Editor().lines = {{"short", 13}};
            ASSERT_EQ(Memo::EditMemo(*d4, 7), 7) << TzCommon::LastMessage();
            inUse.push_back({7, "short"});
        } else {
            Memo::Editor().lines = {{std::string(700, 'x'), 13}};  // two blocks
            const int32_t added = Memo::EditMemo(*d4, 0);
            ASSERT_GT(added, 9) << TzCommon::LastMessage();
            inUse.push_back({added, std::string(700, 'x')});
            inUse.push_back({7, lastText});
        }
        for (const auto& [block, text] : inUse) {
            if (!Memo::GetMemo(*d4, block)) {
                ADD_FAILURE() << "the memo at block " << block
                              << " is lost: " << TzCommon::LastMessage();
                continue;
            }
            EXPECT_EQ(JoinedLines(), text) << "the memo at block " << block;
        }
    }
}

TEST_F(MemoTest, FailedEditMemoReleasesTheLock) {
    auto fp = NewTable("fp", 0xF5, 0, 512, false);  // shared: appends take the memo lock
    Memo::Editor().lines = {{"text", 13}};
    tz::FaultInjector inj;
    inj.failAt = 1;  // the first write (padding or memo) fails
    tz::SetFaultInjector(&inj);
    EXPECT_EQ(Memo::EditMemo(*fp, 0), 0);
    tz::SetFaultInjector(nullptr);
    EXPECT_NE(ErrorWord(), 0);
    EXPECT_FALSE(Memo::DescriptorOf(*fp)->locked);
    tz::File other;
    ASSERT_EQ(other.Open(MemoPath(*fp), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    EXPECT_EQ(other.Lock(Memo::MemoLockOffset(), Memo::MemoLockLength()), 0);
    // While another handle holds the lock, appends are refused with 1017.
    TzCommon::ClearErrorWord();
    EXPECT_EQ(Memo::AddMemo(*fp, "blocked"), 0);
    EXPECT_EQ(ErrorWord(), TzErr::MemoLockFailed);
    other.Unlock(Memo::MemoLockOffset(), Memo::MemoLockLength());
    EXPECT_EQ(Memo::AddMemo(*fp, "free"), 1);
}

TEST_F(MemoTest, CopyMemoAcrossFlavours) {
    auto d4 = NewTable("d4", 0x8B);
    auto d3 = NewTable("d3", 0x83);
    auto fp = NewTable("fp", 0xF5, 0, 64);
    int32_t text = Memo::AddMemo(*d4, "plain text\r\nline 2");
    Memo::BlobStream w(*d4, 0, Memo::kBlobWrite, false, 5);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(w.Write("a\0b\0c", 5), 5);
    int32_t binary = w.Close();
    ASSERT_GT(binary, text);

    int32_t t1 = Memo::CopyMemo(*d3, *d4, text, false);
    EXPECT_EQ(t1, 1);
    std::string f = kjtest::ReadFile(MemoPath(*d3));
    EXPECT_EQ(Bytes(f, 512, 19), "plain text\r\nline 2\x1a");
    int32_t t2 = Memo::CopyMemo(*d3, *d4, binary, false);
    EXPECT_EQ(t2, -2);  // a header memo in a dBASE III file
    f = kjtest::ReadFile(MemoPath(*d3));
    EXPECT_EQ(Bytes(f, 1024, 13), Hex({0xFF, 0xFF, 8, 0, 13, 0, 0, 0}) + std::string("a\0b\0c", 5));

    // dBASE III (with the negative block) to FoxPro and back to dBASE IV.
    int32_t f1 = Memo::CopyMemo(*fp, *d3, t1, false);
    int32_t f2 = Memo::CopyMemo(*fp, *d3, t2, false);
    ASSERT_GT(f1, 0);
    ASSERT_GT(f2, f1);
    ASSERT_TRUE(Memo::GetMemo(*fp, f1));
    EXPECT_EQ(Memo::EditorText(), "plain text\r\nline 2\r\n");
    Memo::BlobStream r(*fp, f2, Memo::kBlobRead);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.ReadAll(), std::string("a\0b\0c", 5));
    int32_t back = Memo::CopyMemo(*d4, *fp, f1, false);
    ASSERT_TRUE(Memo::GetMemo(*d4, back));
    EXPECT_EQ(Memo::EditorText(), "plain text\r\nline 2\r\n");

    // The copied memo follows the records: CopyRecordMemos sets the target's field.
    Memo::SetBlockOfField(*d4, 2, text);
    ASSERT_TRUE(Memo::CopyRecordMemos(*d4, *fp));
    int32_t nb = Memo::BlockOfField(*fp, 2);
    ASSERT_GT(nb, 0);
    ASSERT_TRUE(Memo::GetMemo(*fp, nb));
    EXPECT_EQ(Memo::EditorText(), "plain text\r\nline 2\r\n");
}

TEST_F(MemoTest, PackKeepsReferencedMemos) {
    for (uint8_t v : {uint8_t(0x83), uint8_t(0x8B), uint8_t(0xF5)}) {
        SCOPED_TRACE(int(v));
        std::string base = "p" + std::to_string(v);
        auto a = NewTable(base, v);
        std::vector<int32_t> blocks;
        for (int i = 0; i < 6; ++i)
            blocks.push_back(
                Memo::AddMemo(*a, "memo " + std::to_string(i) + std::string(600, 'x')));
        std::string dbf = a->fileName;
        a.reset();
        // Records refer to memos 1, 3 and 5 (and one record has none).
        kjtest::WriteFile(
            dbf, DbfBytes(v, {{"a", blocks[1]}, {"b", 0}, {"c", blocks[3]}, {"d", blocks[5]}}));
        a = OpenTable(dbf);
        std::string memo = MemoPath(*a);
        size_t before = kjtest::ReadFile(memo).size();
        ASSERT_TRUE(Memo::PackMemofile(*a)) << TzCommon::LastMessage();
        size_t after = kjtest::ReadFile(memo).size();
        EXPECT_LT(after, before);
        EXPECT_FALSE(tz::Exists(memo + ".pak"));
        EXPECT_EQ(StoredBlock(dbf, 2), 0);
        int idx[] = {1, 0, 3, 5};
        for (int r : {1, 3, 4}) {
            int32_t b = StoredBlock(dbf, r);
            ASSERT_GT(b, 0);
            ASSERT_TRUE(Memo::GetMemo(*a, b));
            EXPECT_EQ(JoinedLines(), "memo " + std::to_string(idx[r - 1]) + std::string(600, 'x'));
        }
    }

    // A record pointing past the end stops the pack and leaves both files as they were.
    auto a = NewTable("bad", 0x8B);
    int32_t ok = Memo::AddMemo(*a, "kept");
    std::string dbf = a->fileName;
    a.reset();
    kjtest::WriteFile(dbf, DbfBytes(0x8B, {{"a", ok}, {"b", 4000}}));
    a = OpenTable(dbf);
    std::string memoBefore = kjtest::ReadFile(MemoPath(*a));
    std::string dbfBefore = kjtest::ReadFile(dbf);
    EXPECT_FALSE(Memo::PackMemofile(*a));
    EXPECT_EQ(ErrorWord(), TzErr::InvalidMemoAddress);
    EXPECT_NE(TzCommon::LastMessage().find(" Memo block # 4000 Record # 2 [PackMemo]"),
              std::string::npos);
    EXPECT_EQ(kjtest::ReadFile(MemoPath(*a)), memoBefore);
    EXPECT_EQ(kjtest::ReadFile(dbf), dbfBefore);
    EXPECT_FALSE(tz::Exists(MemoPath(*a) + ".pak"));
}

TEST_F(MemoTest, BlobStreamRoundTripAndSeek) {
    for (uint8_t v : {uint8_t(0x83), uint8_t(0x8B), uint8_t(0xF5)}) {
        SCOPED_TRACE(int(v));
        auto a = NewTable("b" + std::to_string(v), v);
        std::string data;
        for (int i = 0; i < 70000; ++i) data += char('a' + i % 26);
        int32_t block;
        {
            Memo::BlobStream w(*a, 0, Memo::kBlobWrite);
            ASSERT_TRUE(w.ok());
            EXPECT_EQ(w.Write(data.data(), int64_t(data.size())), int64_t(data.size()));
            block = w.Close();
        }
        ASSERT_GT(block, 0);
        Memo::BlobStream r(*a, block, Memo::kBlobRead);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.Seek(0, 2), int64_t(data.size()));
        EXPECT_EQ(r.Seek(-10, 2), int64_t(data.size()) - 10);
        char tail[20];
        EXPECT_EQ(r.Read(tail, 20), 10);
        EXPECT_EQ(std::string(tail, 10), data.substr(data.size() - 10));
        r.Seek(0, 0);
        EXPECT_EQ(r.ReadAll(), data);
        // A memo appended after the BLOB lands behind it; read in one large chunk, each
        // stream gives its own memo and nothing behind it.
        int32_t next = Memo::AddMemo(*a, "after");
        ASSERT_TRUE(Memo::GetMemo(*a, next));
        EXPECT_EQ(Memo::EditorText(), "after\r\n");
        r.Close();
        std::vector<char> big(200000);
        Memo::BlobStream r1(*a, block, Memo::kBlobRead);
        EXPECT_EQ(r1.Read(big.data(), int64_t(big.size())), int64_t(data.size()));
        EXPECT_EQ(r1.Read(big.data(), int64_t(big.size())), 0);
        r1.Close();
        Memo::BlobStream r2(*a, next, Memo::kBlobRead);
        ASSERT_EQ(r2.Read(big.data(), int64_t(big.size())), 5);
        EXPECT_EQ(std::string(big.data(), 5), "after");
    }
}

TEST_F(MemoTest, TextFileViewWritesAndReadsLines) {
    auto a = NewTable("t", 0x8B);
    int32_t block = 0;
    Memo::MemoTextFile t;
    t.AssignMemo(*a, &block);
    std::string line;
    EXPECT_EQ(t.ReadLn(&line), 102);  // not open
    ASSERT_EQ(t.Rewrite(), 0);
    EXPECT_EQ(t.WriteLn("first"), 0);
    EXPECT_EQ(t.Write("second\x8d\nthird "), 0);
    EXPECT_EQ(t.Write(std::string(300, 'z')), 0);  // split at 254
    EXPECT_EQ(t.Close(), 0);
    ASSERT_GT(block, 0);
    ASSERT_EQ(t.Reset(), 0);
    uint8_t end = 0;
    std::vector<std::string> lines;
    while (!t.Eof()) {
        ASSERT_EQ(t.ReadLn(&line, &end), 0);
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(lines[2], "third " + std::string(247, 'z'));  // 254 stored, 253 read
    EXPECT_EQ(lines[3], std::string(52, 'z'));
    EXPECT_EQ(t.Close(), 0);
    // Appending keeps the old lines and rewrites the dBASE IV memo in place when it fits.
    int32_t before = block;
    ASSERT_EQ(t.Append(), 0);
    EXPECT_EQ(t.WriteLn("more"), 0);
    EXPECT_EQ(t.Close(), 0);
    EXPECT_EQ(block, before);
    ASSERT_TRUE(Memo::GetMemo(*a, block));
    EXPECT_EQ(Memo::Editor().lines.back().text, "more");

    // More lines than the buffer holds: 101.
    Memo::settings().maxLines = 3;
    ASSERT_EQ(t.Rewrite(), 0);
    EXPECT_EQ(t.Write("1\r\n2\r\n3\r\n4\r\n"), 101);
    t.Close();
}

TEST_F(MemoTest, TranslationThroughTheAreaProcedures) {
    auto a = NewTable("x", 0xF5);
    a->ansiToOem = &tz::AnsiToOemBuf;
    a->oemToAnsi = &tz::OemToAnsiBuf;
    std::string ansi =
        "S\xf8ren \xc6"
        "bler";  // Søren Æbler in Windows-1252
    int32_t b = Memo::AddMemo(*a, ansi);
    std::string f = kjtest::ReadFile(MemoPath(*a));
    EXPECT_EQ(Bytes(f, 512 + 8, ansi.size()), tz::AnsiToOem(ansi));
    ASSERT_TRUE(Memo::GetMemo(*a, b));
    EXPECT_EQ(Memo::EditorText(), ansi + "\r\n");
}

}  // namespace
