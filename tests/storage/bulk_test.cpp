// Bulk operations of the table engine: pack and zap (bytes on disk, refusal while the table
// is open elsewhere, failed writes), append-from between layouts, Search, Locate/Continue
// and Peek/Poke with the bulk-read cache.
#include <algorithm>
#include <ctime>

#include "storage/dbf4_internal.h"
#include "storage/memo.h"
#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

// A table file read back byte by byte, independently of the engine.
struct RawTable {
    std::string b;
    explicit RawTable(const std::string& bytes) : b(bytes) {}
    uint32_t U16(size_t at) const { return uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8); }
    uint32_t Count() const { return U16(4) | (U16(6) << 16); }
    uint32_t HeaderLength() const { return U16(8); }
    uint32_t RecordLength() const { return U16(10); }
    uint32_t RecordsInFile() const { return (b.size() - HeaderLength()) / RecordLength(); }
    std::string Record(int r) const {
        return b.substr(HeaderLength() + size_t(r - 1) * RecordLength(), RecordLength());
    }
    std::string Field(int r, int offset, int len) const { return Record(r).substr(offset, len); }
};

int32_t CurrentId() {
    int32_t v;
    std::memcpy(&v, Dbf4::FieldAddress(1), 4);
    return v;
}

const std::vector<TzDbfLow::FieldDef> kIdName = {{"ID", 'N', 4, 0}, {"NAME", 'C', 10, 0}};

class BulkTest : public TableTest {
  protected:
    void TearDown() override {
        Dbf4::SetConfirm(false);
        Dbf4::SetConfirmProc(nullptr);
        Dbf4::SetSearchHitProc(nullptr);
        Dbf4::SetPeekCache(false);
        tz::SetFaultInjector(nullptr);
        TableTest::TearDown();
        Dbf4::memoHooks = Dbf4::MemoHooks();
        Dbf4::memoUnitPresent = false;
    }

    // Table `name` with records ID 1..n, NAME "N<id>", the given ones deleted; left open in
    // area 1 (shared, file lock released).
    void MakeIdTable(const std::string& name, int n, const std::vector<int>& deleted) {
        ASSERT_TRUE(Create(name, kIdName));
        Open(1, Path(name));
        ASSERT_TRUE(Dbf4::FLock());
        for (int i = 1; i <= n; ++i) {
            Dbf4::ClearRecord();
            SetI(1, i);
            SetC(2, "N" + std::to_string(i));
            Dbf4::Append();
        }
        for (int d : deleted) {
            Dbf4::Go(d);
            Dbf4::DeleteRec();
        }
        Dbf4::Unlock();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        Dbf4::CloseArea();  // header written
        Open(1, Path(name));
    }

    std::vector<int> Ids(const RawTable& t, uint32_t upTo) {
        std::vector<int> ids;
        for (uint32_t r = 1; r <= upTo; ++r) ids.push_back(std::stoi(t.Field(int(r), 1, 4)));
        return ids;
    }
};

TEST_F(BulkTest, PackSlidesLiveRecordsAsRawBytesAndCutsTheFile) {
    ASSERT_TRUE(Create("pak.dbf", kIdName));
    // A translation that would change the text if the records went through it.
    Dbf4::Select(1);
    Dbf4::UseEx(
        Path("pak.dbf"), nullptr, 0,
        [](uint8_t* p, size_t n) {
            for (size_t i = 0; i < n; ++i)
                if (p[i] == 'x') p[i] = 'y';
        },
        nullptr);
    ASSERT_EQ(TzCommon::ErrorWord(), 0);
    ASSERT_TRUE(Dbf4::FLock());
    for (int i = 1; i <= 5; ++i) {
        Dbf4::ClearRecord();
        SetI(1, i);
        Dbf4::Append();
        ASSERT_TRUE(Dbf4::Poke("x\x81" + std::to_string(i), 2, i));  // raw bytes
    }
    for (int d : {1, 3}) {
        Dbf4::Go(d);
        Dbf4::DeleteRec();
    }
    Dbf4::Unlock();
    const RawTable before(Bytes("pak.dbf"));
    ASSERT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Dbf4::RecNo(), 1);
    EXPECT_FALSE(Dbf4::dEOF());
    EXPECT_EQ(GetI(1), 2);

    const RawTable t(Bytes("pak.dbf"));
    EXPECT_EQ(t.Count(), 3u);
    EXPECT_EQ(t.b.size(), t.HeaderLength() + 3 * t.RecordLength() + 1);
    EXPECT_EQ(t.b.back(), '\x1a');
    EXPECT_EQ(t.Record(1), before.Record(2));
    EXPECT_EQ(t.Record(2), before.Record(4));
    EXPECT_EQ(t.Record(3), before.Record(5));
    EXPECT_EQ(t.Field(3, 5, 3),
              "x\x81"
              "5");
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(uint8_t(t.b[1]), tm.tm_year);
    EXPECT_EQ(uint8_t(t.b[2]), tm.tm_mon + 1);
    EXPECT_EQ(uint8_t(t.b[3]), tm.tm_mday);

    // Shared again: a second area opens the packed table.
    Open(2, Path("pak.dbf") + " ALIAS SECOND");
    EXPECT_EQ(Dbf4::RecCount(), 3);
}

TEST_F(BulkTest, PackOfOnlyDeletedRecordsAndZapLeaveEmptyTables) {
    MakeIdTable("alle.dbf", 4, {1, 2, 3, 4});
    ASSERT_TRUE(Dbf4::Pack());
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_EQ(Dbf4::RecNo(), 0);
    RawTable t(Bytes("alle.dbf"));
    EXPECT_EQ(t.Count(), 0u);
    EXPECT_EQ(t.b.size(), t.HeaderLength() + 1);
    EXPECT_FALSE(Dbf4::Pack());  // nothing to pack
    // The area that packed appends after it: no cut is found (the area cut the table).
    ASSERT_TRUE(Dbf4::ALock());
    Dbf4::ClearRecord();
    SetI(1, 5);
    Dbf4::Append();
    EXPECT_EQ(Dbf4::RecNo(), 1);
    EXPECT_TRUE(TzDbfLow::TakeShortTables().empty()) << "a packed table reported cut";
    Dbf4::CloseArea();

    MakeIdTable("hundred.dbf", 100, {});
    ASSERT_TRUE(Dbf4::Zap());
    EXPECT_TRUE(Dbf4::dEOF() && Dbf4::dBOF());
    EXPECT_EQ(Dbf4::RecCount(), 0);
    t = RawTable(Bytes("hundred.dbf"));
    EXPECT_EQ(t.Count(), 0u);
    EXPECT_EQ(t.b.size(), t.HeaderLength() + 1);
    EXPECT_EQ(t.b.back(), '\x1a');
    // The table works on: a new record is number 1.
    ASSERT_TRUE(Dbf4::ALock());
    Dbf4::ClearRecord();
    SetI(1, 7);
    Dbf4::Append();
    EXPECT_TRUE(TzDbfLow::TakeShortTables().empty()) << "a zapped table reported cut";
    Dbf4::CloseArea();
    t = RawTable(Bytes("hundred.dbf"));
    EXPECT_EQ(t.Count(), 1u);
    EXPECT_EQ(t.b.size(), t.HeaderLength() + t.RecordLength() + 1);
}

TEST_F(BulkTest, PackAndZapRefusedWhileTheTableIsOpenElsewhere) {
    MakeIdTable("open.dbf", 5, {2});
    const std::string before = Bytes("open.dbf");
    Open(2, Path("open.dbf") + " ALIAS OTHER");
    Dbf4::Select(1);
    EXPECT_FALSE(Dbf4::Pack());
    EXPECT_FALSE(Dbf4::Zap());
    EXPECT_EQ(Bytes("open.dbf"), before);
    EXPECT_EQ(Dbf4::ReopenFile(true), 32);
    Dbf4::Select(2);
    Dbf4::CloseArea();

    // Another handle (another program) on the file.
    {
        tz::File other;
        ASSERT_EQ(other.Open(Path("open.dbf"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
        Dbf4::Select(1);
        EXPECT_FALSE(Dbf4::Pack());
        EXPECT_FALSE(Dbf4::Zap());
        EXPECT_EQ(Bytes("open.dbf"), before);
    }
    Dbf4::Select(1);
    EXPECT_TRUE(Dbf4::Pack());
    EXPECT_EQ(RawTable(Bytes("open.dbf")).Count(), 4u);

    // An area opened exclusively by its own open packs without a reopen.
    Dbf4::CloseArea();
    Open(1, Path("open.dbf") + " EXCLUSIVE");
    EXPECT_EQ(Dbf4::ReopenFile(true), 5);
    EXPECT_TRUE(Dbf4::Zap());
    EXPECT_EQ(Dbf4::ReopenFile(false), 0);  // shared from now on
    Open(2, Path("open.dbf") + " ALIAS OTHER");
}

TEST_F(BulkTest, ConfirmationAsksAndCancelSkips) {
    MakeIdTable("ask.dbf", 3, {1});
    static std::string asked;
    static unsigned flags = 0;
    static int answer = 2;
    Dbf4::SetConfirm(true);
    Dbf4::SetConfirmProc([](const std::string& text, const std::string& caption, unsigned f) {
        asked = text + "|" + caption;
        flags = f;
        return answer;
    });
    const std::string before = Bytes("ask.dbf");
    EXPECT_FALSE(Dbf4::Pack());
    EXPECT_EQ(asked, "PACK " + Dbf4::DbfName() + "|");
    EXPECT_EQ(flags, 0x21u);
    EXPECT_FALSE(Dbf4::Zap());
    EXPECT_EQ(asked, "ZAP " + Dbf4::DbfName() + "|");
    EXPECT_EQ(Bytes("ask.dbf"), before);
    Open(2, Path("ask.dbf") + " ALIAS OTHER");  // still shared after the cancel
    Dbf4::CloseArea();
    Dbf4::Select(1);
    answer = 1;
    EXPECT_TRUE(Dbf4::Pack());
    EXPECT_EQ(Dbf4::RecCount(), 2);
}

// A write that fails anywhere in a pack stops it; the header count never exceeds the
// records in the file, and every live record is still within the counted ones.
TEST_F(BulkTest, FailedWriteDuringPackLeavesACountedTable) {
    bool completed = false;
    for (long failAt = 1; failAt < 40 && !completed; ++failAt) {
        SCOPED_TRACE("failAt " + std::to_string(failAt));
        const std::string name = "fault" + std::to_string(failAt) + ".dbf";
        MakeIdTable(name, 9000, {1, 2, 500, 4999, 8999});
        tz::FaultInjector inj;
        inj.failAt = failAt;
        inj.sticky = false;
        tz::SetFaultInjector(&inj);
        completed = Dbf4::Pack();
        tz::SetFaultInjector(nullptr);
        if (!completed) {
            EXPECT_EQ(inj.writes, failAt);  // nothing written after the failure
        }
        for (int pass = 0; pass < 2; ++pass) {
            RawTable t(Bytes(name));
            ASSERT_LE(t.Count(), t.RecordsInFile());
            std::vector<int> ids = Ids(t, t.Count());
            std::sort(ids.begin(), ids.end());
            for (int id = 1; id <= 9000; ++id) {
                bool dead = id == 1 || id == 2 || id == 500 || id == 4999 || id == 8999;
                if (dead) continue;
                ASSERT_TRUE(std::binary_search(ids.begin(), ids.end(), id)) << id;
            }
            if (completed) {
                EXPECT_EQ(t.Count(), 8995u);
            }
            Dbf4::Select(1);
            Dbf4::CloseArea();  // the second pass reads what a closed table holds
        }
    }
    EXPECT_TRUE(completed);
}

TEST_F(BulkTest, PackAndZapOfAMemoTable) {
    Memo::Install();
    ASSERT_TRUE(Create("memo.dbf", {{"ID", 'N', 4, 0}, {"NOTE", 'M', 10, 0}}));
    const std::string emptyMemo = Bytes("memo.DBT");
    Open(1, Path("memo.dbf"));
    ASSERT_TRUE(Dbf4::FLock());
    for (int i = 1; i <= 3; ++i) {
        Dbf4::ClearRecord();
        SetI(1, i);
        SetI(2, Memo::AddMemo(*Dbf4::Current(), "note " + std::to_string(i)));
        Dbf4::Append();
    }
    Dbf4::Go(1);
    Dbf4::DeleteRec();
    Dbf4::Unlock();
    const size_t before = Bytes("memo.DBT").size();
    ASSERT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    EXPECT_LT(Bytes("memo.DBT").size(), before);  // the memo of record 1 is gone
    std::string text;
    Dbf4::Go(2);
    ASSERT_TRUE(Memo::ReadMemoBytes(*Dbf4::Current(), GetI(2), &text, "test"));
    EXPECT_EQ(text.substr(0, 6), "note 3");
    ASSERT_TRUE(Dbf4::Zap()) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Bytes("memo.DBT"), emptyMemo);
    // The memo file is open again: a new record gets a memo.
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::ClearRecord();
    EXPECT_GT(Memo::AddMemo(*Dbf4::Current(), "again"), 0);
}

TEST_F(BulkTest, AppendFromConvertsEveryClassByName) {
    Memo::Install();
    TzCommon::SetDateStyle(3);
    TzCommon::SetCenturyFlag(true);
    ASSERT_TRUE(Create("src.dbf", {{"A", 'C', 11, 0},
                                   {"B", 'N', 8, 2},
                                   {"C", 'L', 1, 0},
                                   {"D", 'D', 8, 0},
                                   {"E", 'C', 10, 0},
                                   {"F", 'C', 8, 0},
                                   {"G", 'N', 10, 2},
                                   {"H", 'M', 10, 0},
                                   {"I", 'C', 20, 0},
                                   {"J", 'L', 1, 0},
                                   {"K", 'D', 8, 0},
                                   {"DD", 'D', 8, 0},
                                   {"NL", 'N', 3, 0},
                                   {"DN", 'D', 8, 0},
                                   {"X", 'C', 5, 0}}));
    ASSERT_TRUE(Create("dst.dbf", {{"Z", 'C', 3, 0},
                                   {"A", 'C', 5, 0},
                                   {"B", 'N', 6, 0},
                                   {"C", 'C', 1, 0},
                                   {"D", 'C', 8, 0},
                                   {"E", 'D', 8, 0},
                                   {"F", 'F', 7, 2},
                                   {"G", 'C', 5, 0},
                                   {"H", 'M', 10, 0},
                                   {"I", 'M', 10, 0},
                                   {"J", 'L', 1, 0},
                                   {"K", 'L', 1, 0},
                                   {"DD", 'D', 8, 0},
                                   {"NL", 'L', 1, 0},
                                   {"DN", 'N', 8, 0}}));
    Open(1, Path("src.dbf"));
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::WorkArea* src = Dbf4::Current();
    for (int i = 0; i < 3; ++i) {
        Dbf4::ClearRecord();
        SetC(1, "Hello World");
        SetF(2, 123.45 + i);
        SetL(3, true);
        SetD(4, "15-03-2024");
        SetC(5, i == 0 ? "16-04-2024" : "31-02-2024");
        SetC(6, "12.5");
        SetF(7, 1234567.89);
        SetI(8, Memo::AddMemo(*src, "memo " + std::to_string(i)));
        SetC(9, "note text");
        SetL(10, i == 1);
        SetD(11, "01-01-2000");
        SetD(12, "29-02-2000");
        SetI(13, 5);
        SetD(14, "02-02-2002");
        SetC(15, "gone");
        Dbf4::Append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }
    Dbf4::Go(3);
    Dbf4::DeleteRec();
    Dbf4::CloseArea();

    Open(2, Path("dst.dbf"));
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::AppendFrom(Path("src"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 2);
    ASSERT_EQ(Dbf4::RecCount(), 3);
    Dbf4::Go(1);
    Dbf4::WorkArea* dst = Dbf4::Current();
    std::string memoH, memoI;
    ASSERT_TRUE(Memo::ReadMemoBytes(*dst, Memo::BlockOfField(*dst, 9), &memoH, "test"));
    ASSERT_TRUE(Memo::ReadMemoBytes(*dst, Memo::BlockOfField(*dst, 10), &memoI, "test"));
    EXPECT_EQ(memoH.substr(0, 6), "memo 0");
    EXPECT_EQ(memoI.substr(0, 9), "note text");
    Dbf4::CloseArea();

    RawTable t(Bytes("dst.dbf"));
    // Offsets: Z 1, A 4, B 9, C 15, D 16, E 24, F 32, G 39, H 44, I 54, J 64, K 65, DD 66,
    // NL 74, DN 75.
    EXPECT_EQ(t.Field(1, 1, 3), "   ");
    EXPECT_EQ(t.Field(1, 4, 5), "Hello");
    EXPECT_EQ(t.Field(1, 9, 6), "   123");
    EXPECT_EQ(t.Field(1, 15, 1), "T");
    EXPECT_EQ(t.Field(1, 16, 8), "15-03-24");
    EXPECT_EQ(t.Field(1, 24, 8), "20240416");
    EXPECT_EQ(t.Field(2, 24, 8), "        ");  // 31 February is no date
    EXPECT_EQ(t.Field(1, 32, 7), "  12.50");
    EXPECT_EQ(t.Field(1, 39, 5), "*****");
    EXPECT_EQ(t.Field(1, 64, 1), "F");
    EXPECT_EQ(t.Field(2, 64, 1), "T");
    EXPECT_EQ(t.Field(1, 65, 1), "F");
    EXPECT_EQ(t.Field(1, 66, 8), "20000229");
    EXPECT_EQ(t.Field(1, 74, 1), "F");
    EXPECT_EQ(t.Field(1, 75, 8), "        ");  // D to N is no listed pair
    EXPECT_EQ(t.Record(1)[0], ' ');
    EXPECT_EQ(t.Record(3)[0], '*');  // the deleted flag comes along
    EXPECT_EQ(t.Field(3, 9, 6), "   125");
}

TEST_F(BulkTest, AppendFromSameLayoutTestsAndRefusals) {
    MakeIdTable("a.dbf", 6, {2});
    Dbf4::CloseArea();
    ASSERT_TRUE(Create("b.dbf", kIdName));
    Open(3, Path("b.dbf"));
    // Without the file or append lock the first append fails and the run stops.
    Dbf4::AppendFrom(Path("a.dbf"));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::AccessDenied);
    EXPECT_EQ(Dbf4::RecCount(), 0);
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 3);

    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::settings().hideDeleted = true;  // only visible records come
    Dbf4::AppendFrom(Path("a.dbf"), [] { return CurrentId() != 4; });
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    Dbf4::settings().hideDeleted = false;
    const RawTable a(Bytes("a.dbf"));
    const RawTable b(Bytes("b.dbf"));
    ASSERT_EQ(Dbf4::RecCount(), 4);
    EXPECT_EQ(b.Record(1), a.Record(1));
    EXPECT_EQ(b.Record(2), a.Record(3));
    EXPECT_EQ(b.Record(3), a.Record(5));
    EXPECT_EQ(b.Record(4), a.Record(6));
    for (int i = 1; i <= 33; ++i) EXPECT_NE(Dbf4::AreaOfAlias("*FROMFILE"), i);

    Dbf4::AppendFrom(Path("B"));
    EXPECT_EQ(TzCommon::LastMessage(),
              "Attempting to append file to itself. [AppendFrom(" + Path("B") + ")]");
    Dbf4::AppendFrom("nosuch VIRTUAL FILE");
    EXPECT_EQ(TzCommon::LastMessage(), "Virtual file must be open. [AppendFrom(nosuch)]");

    ASSERT_TRUE(Create("m.dbf", {{"ID", 'N', 4, 0}, {"NOTE", 'M', 10, 0}}));
    Dbf4::AppendFrom(Path("m.dbf"));
    EXPECT_EQ(TzCommon::LastMessage(),
              "Memo unit MEMO.TPU not linked into program. [AppendFrom(" + Path("m.dbf") + ")]");
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 3);
}

TEST_F(BulkTest, SearchFindsTextInsideOneFieldOnly) {
    ASSERT_TRUE(Create("s.dbf", {{"A", 'C', 5, 0}, {"B", 'C', 5, 0}, {"C", 'C', 5, 0}}));
    Open(1, Path("s.dbf"));
    ASSERT_TRUE(Dbf4::FLock());
    const char* rows[][3] = {{"abcde", "fghij", "klmno"},
                             {"pqrst", "uvwxy", "zzKEY"},
                             {"xxxxx", "KEY  ", "yyyyy"},
                             {"aaaaa", "bbbbb", "KEY  "},
                             {"ccccc", "KEY  ", "ddddd"}};
    for (auto& row : rows) {
        Dbf4::ClearRecord();
        for (int f = 0; f < 3; ++f) SetC(f + 1, row[f]);
        Dbf4::Append();
    }
    Dbf4::Go(2);
    uint8_t field = 0;
    Dbf4::Search("defg", field, true);  // across two fields
    EXPECT_EQ(field, 0);
    EXPECT_EQ(Dbf4::RecNo(), 2);  // back where the search started
    field = 0;
    Dbf4::Search("no pq", field, true);  // the end of record 1 and the start of record 2
    EXPECT_EQ(field, 0);
    Dbf4::Search("yzzk", field, true);  // across fields B and C
    EXPECT_EQ(field, 0);

    field = 0;
    Dbf4::Search("key", field, true);  // any case, any field
    EXPECT_EQ(field, 3);
    EXPECT_EQ(Dbf4::RecNo(), 2);
    field = 0;
    Dbf4::Search("key", field, false);  // from the record after the current one
    EXPECT_EQ(field, 2);
    EXPECT_EQ(Dbf4::RecNo(), 3);
    field = 3;  // a hit in field 2 is passed over
    Dbf4::Search("key", field, false);
    EXPECT_EQ(field, 3);
    EXPECT_EQ(Dbf4::RecNo(), 4);

    // A hidden record does not count.
    Dbf4::Go(5);
    Dbf4::DeleteRec();
    Dbf4::settings().hideDeleted = true;
    Dbf4::Go(4);
    field = 2;
    Dbf4::Search("key", field, false);
    EXPECT_EQ(field, 0);
    EXPECT_EQ(Dbf4::RecNo(), 4);
    Dbf4::settings().hideDeleted = false;

    // A hit callback that never stops sees every counted hit.
    static std::vector<int> seen;
    Dbf4::SetSearchHitProc([](uint8_t f) {
        seen.push_back(Dbf4::RecNo() * 10 + f);
        return false;
    });
    field = 0;
    Dbf4::Search("KEY", field, true);
    EXPECT_EQ(field, 0);
    EXPECT_EQ(seen, (std::vector<int>{23, 32, 43, 52}));
    field = 0;
    Dbf4::Search("   ", field, true);  // empty after trimming: nothing happens
    EXPECT_EQ(field, 0);
}

TEST_F(BulkTest, LocateAndContinueWithTheirOptions) {
    ASSERT_TRUE(
        Create("l.dbf",
               {{"NAME", 'C', 8, 0}, {"AMT", 'N', 7, 2}, {"PAID", 'L', 1, 0}, {"DUE", 'D', 8, 0}}));
    Open(1, Path("l.dbf"));
    Dbf4::Continue();
    EXPECT_EQ(TzCommon::LastMessage(),
              "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
    ASSERT_TRUE(Dbf4::FLock());
    // Empty table: nothing found, EOF without an error.
    EXPECT_FALSE(Dbf4::Locate("NAME", {std::string("x")}));
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_TRUE(Dbf4::dEOF());
    const char* names[] = {"Hansen", "hansen", "Jensen", "Hans", "Olsen", "Hansen"};
    for (int i = 0; i < 6; ++i) {
        Dbf4::ClearRecord();
        SetC(1, names[i]);
        SetF(2, 10.5 * i);
        SetL(3, i % 2 == 1);
        SetD(4, "01/0" + std::to_string(i + 1) + "/24");
        Dbf4::Append();
    }
    EXPECT_TRUE(Dbf4::Locate("NAME", {std::string("Hans")}));
    EXPECT_EQ(Dbf4::RecNo(), 1);  // a prefix without EXACT
    EXPECT_TRUE(Dbf4::Continue());
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_TRUE(Dbf4::Continue());
    EXPECT_EQ(Dbf4::RecNo(), 6);
    EXPECT_FALSE(Dbf4::Continue());
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    Dbf4::Continue();  // the last located field is forgotten after a miss
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);

    EXPECT_TRUE(Dbf4::Locate("NAME", {std::string("HANSEN")}, Dbf4::kLocateNoCase));
    EXPECT_EQ(Dbf4::RecNo(), 1);
    EXPECT_TRUE(Dbf4::Continue());
    EXPECT_EQ(Dbf4::RecNo(), 2);
    EXPECT_TRUE(Dbf4::Locate("NAME", {std::string("Hans    ")}, Dbf4::kLocateExact));
    EXPECT_EQ(Dbf4::RecNo(), 4);
    EXPECT_FALSE(Dbf4::Locate("NAME", {std::string("Hans")}, Dbf4::kLocateExact));
    EXPECT_TRUE(Dbf4::Locate("name contained nocase", {std::string("LSE")}));
    EXPECT_EQ(Dbf4::RecNo(), 5);
    EXPECT_TRUE(Dbf4::Locate("AMT", {21.0}));
    EXPECT_EQ(Dbf4::RecNo(), 3);
    EXPECT_TRUE(Dbf4::Locate("PAID", {true}));
    EXPECT_EQ(Dbf4::RecNo(), 2);
    EXPECT_TRUE(Dbf4::Locate("DUE", {std::string("01/05/24")}));
    EXPECT_EQ(Dbf4::RecNo(), 5);
    EXPECT_TRUE(Dbf4::Locate("DUE", {std::string("20240106")}));
    EXPECT_EQ(Dbf4::RecNo(), 6);
    // Several fields: the first one whose search ends on a record.
    EXPECT_TRUE(Dbf4::Locate("NAME;AMT", {std::string("Nobody"), 52.5}));
    EXPECT_EQ(Dbf4::RecNo(), 6);

    // Hidden records are passed over; none visible: EOF without an error.
    Dbf4::Go(1);
    Dbf4::DeleteRec();
    Dbf4::settings().hideDeleted = true;
    EXPECT_TRUE(Dbf4::Locate("NAME", {std::string("Hansen")}));
    EXPECT_EQ(Dbf4::RecNo(), 6);
    for (int r = 2; r <= 6; ++r) {
        Dbf4::Go(r);
        Dbf4::DeleteRec();
    }
    EXPECT_FALSE(Dbf4::Locate("NAME", {std::string("Hansen")}));
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_TRUE(Dbf4::dEOF());
    Dbf4::settings().hideDeleted = false;

    EXPECT_FALSE(Dbf4::Locate(" NOCASE", {std::string("x")}));
    EXPECT_EQ(TzCommon::LastMessage(), "No field name specified [Locate/Count/Sum]");
    EXPECT_FALSE(Dbf4::Locate("WHO", {std::string("x")}));
    EXPECT_EQ(TzCommon::LastMessage(), "Unrecognized field name [Locate/Count/Sum(WHO)]");
}

TEST_F(BulkTest, PeekAndPokeKeepTheCacheCoherent) {
    MakeIdTable("p.dbf", 300, {});
    Dbf4::SetPeekCache(true);
    EXPECT_EQ(Dbf4::Peek(7, 2), "N7        ");
    EXPECT_EQ(Dbf4::Peek(7, 1), "   7");
    EXPECT_EQ(Dbf4::Peek(7, 0), " ");
    EXPECT_EQ(Dbf4::Peek(301, 1), "");

    // Poke needs the file lock or the record's lock; an append lock is not enough.
    EXPECT_FALSE(Dbf4::Poke("AB", 2, 7));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RecordNotLocked);
    EXPECT_EQ(TzCommon::LastMessage(), "Record not locked [Poke(AB,2,7)]");
    ASSERT_TRUE(Dbf4::ALock());
    EXPECT_FALSE(Dbf4::Poke("AB", 2, 7));
    Dbf4::Unlock();
    Dbf4::Go(7);
    ASSERT_TRUE(Dbf4::RLock());
    EXPECT_TRUE(Dbf4::Poke("AB", 2, 7));
    EXPECT_EQ(Dbf4::Peek(7, 2), "AB        ");  // the cached copy got the same bytes
    RawTable t(Bytes("p.dbf"));
    EXPECT_EQ(t.Field(7, 5, 10), "AB        ");
    EXPECT_TRUE(Dbf4::Poke("toolongtext!", 2, 7));                          // cut to the field
    EXPECT_EQ(RawTable(Bytes("p.dbf")).Field(7, 1, 14), "   7toolongtex");  // 14 bytes: ID and NAME

    // Replace and DeleteRec through the owning alias refresh the cached record.
    Dbf4::Skip(0);
    SetC(2, "REPLACED");
    Dbf4::Replace();
    EXPECT_EQ(Dbf4::Peek(7, 2), "REPLACED  ");
    Dbf4::DeleteRec();
    EXPECT_EQ(Dbf4::Peek(7, 0), "*");
    Dbf4::RecallRec();
    EXPECT_EQ(Dbf4::Peek(7, 0), " ");
    Dbf4::Unlock();

    // Another area (alias) takes the cache over; writes there reach this alias's reads.
    Open(2, Path("p.dbf") + " ALIAS P2");
    EXPECT_EQ(Dbf4::Peek(8, 2), "N8        ");
    ASSERT_TRUE(Dbf4::FLock());
    EXPECT_TRUE(Dbf4::Poke("Q", 2, 9));
    Dbf4::Unlock();
    Dbf4::Select(1);
    EXPECT_EQ(Dbf4::Peek(9, 2), "Q9        ");

    // Packing drops the cache: record 7 is another record afterwards.
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::Go(3);
    Dbf4::DeleteRec();
    Dbf4::Unlock();
    Dbf4::Select(2);
    Dbf4::CloseArea();
    Dbf4::Select(1);
    EXPECT_EQ(Dbf4::Peek(7, 1), "   7");
    ASSERT_TRUE(Dbf4::Pack());
    EXPECT_EQ(Dbf4::Peek(7, 1), "   8");
}

}  // namespace
}  // namespace kjtest
