// A pack of a table with a memo file killed at every step between its writes and renames
// (named steps, and a crash at each write in turn): afterwards the table opens, holds the old
// records or the packed ones, and every live record's memo is exactly its own, read by the
// engine and by python3-dbfread; nothing of the rewrite is left beside the table.
#include <set>
#include <sstream>

#include "storage/file_layer.h"
#include "storage/memo.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

constexpr int kRecords = 30;
constexpr int kStopMs = 30000;

bool Deleted(int id) {
    return id % 3 == 0;
}

// Record id's memo; some records have none.
std::string MemoOf(int id) {
    if (id % 5 == 0) return "";
    return "memo of record " + std::to_string(id) + " " + std::string(size_t(id * 37 % 700), 'x');
}

// Helper: opens the table and packs it; with CRASH_AT the process ends at that write.
TEST(PackKillChild, Pack) {
    KJ_CHILD_ONLY();
    ResetEngine();
    Memo::Install();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(ChildArg("TABLE"));
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    static tz::FaultInjector inj;
    if (!ChildArg("CRASH_AT").empty()) {
        inj.failAt = std::stol(ChildArg("CRASH_AT"));
        inj.crash = true;
        tz::SetFaultInjector(&inj);
    }
    const bool packed = Dbf4::Pack();
    tz::SetFaultInjector(nullptr);
    ASSERT_TRUE(packed) << TzCommon::LastErrorMessage();
    Dbf4::CloseAll();
}

class PackKillTest : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        Memo::Install();
    }

    // kRecords records with their memos, every third one deleted.
    void MakeTable() {
        Dbf4::CloseAll();
        tz::EraseFile(Path("memo.dbf"));
        tz::EraseFile(Path("memo.dbt"));
        ASSERT_TRUE(Create("memo.dbf", {{"ID", 'N', 4, 0}, {"NOTE", 'M', 10, 0}}));
        Open(1, Path("memo.dbf"));
        ASSERT_TRUE(Dbf4::FLock());
        for (int id = 1; id <= kRecords; ++id) {
            Dbf4::ClearRecord();
            SetI(1, id);
            const std::string text = MemoOf(id);
            SetI(2, text.empty() ? 0 : Memo::AddMemo(*Dbf4::Current(), text));
            Dbf4::Append();
            if (Deleted(id)) Dbf4::DeleteRec();
        }
        Dbf4::Unlock();
        Dbf4::CloseAll();
    }

    // Opens the table as the next station would and checks it holds the old records or the
    // packed ones, each with its own memo. Answers the record count.
    int32_t Verify(const std::string& where) {
        SCOPED_TRACE(where);
        Open(1, Path("memo.dbf"));
        const int32_t count = Dbf4::RecCount();
        EXPECT_TRUE(count == kRecords || count == kRecords - kRecords / 3) << count;
        std::set<int> live;
        for (int32_t r = 1; r <= count; ++r) {
            Dbf4::Go(r);
            const int id = GetI(1);
            EXPECT_TRUE(count == kRecords ? id == r : !Deleted(id)) << "record " << r;
            if (Dbf4::Deleted()) continue;
            live.insert(id);
            const int32_t block = GetI(2);
            std::string text;
            if (block != 0) {
                EXPECT_TRUE(Memo::ReadMemoBytes(*Dbf4::Current(), block, &text, "test"))
                    << TzCommon::LastErrorMessage();
            }
            EXPECT_EQ(text, MemoOf(id)) << "record " << r << " id " << id;
        }
        EXPECT_EQ(live.size(), size_t(kRecords - kRecords / 3));
        Dbf4::CloseAll();
        for (const char* left : {"memo.dbf.pak", "memo.dbt.pak", "memo.dbf.pkm"})
            EXPECT_FALSE(tz::Exists(Path(left))) << left;
        VerifyWithDbfread();
        return count;
    }

    // dbfread reads a dBASE IV memo to the stored total (text + 8), cut short at the end of
    // the file: it prints each live record's id and memo less the last 8 characters, which
    // must begin the record's own memo and miss at most 8 of it.
    void VerifyWithDbfread() {
        const std::string script =
            "/usr/bin/python3 -c \"import dbfread,sys\n"
            "for r in dbfread.DBF(sys.argv[1], encoding='latin1'):\n"
            "  m = r['NOTE'] or ''\n"
            "  print(r['ID'], m[:-8] if m else '')\" " +
            Path("memo.dbf");
        std::string out;
        ASSERT_EQ(RunCommand(script, &out), 0) << out;
        std::istringstream lines(out);
        std::string line;
        for (int id = 1; id <= kRecords; ++id) {
            if (Deleted(id)) continue;
            ASSERT_TRUE(std::getline(lines, line)) << "dbfread ended before id " << id;
            const std::string head = std::to_string(id) + " ";
            ASSERT_EQ(line.substr(0, head.size()), head);
            const std::string text = line.substr(head.size());
            const std::string want = MemoOf(id);
            EXPECT_TRUE(want.compare(0, text.size(), text) == 0 && text.size() + 8 >= want.size())
                << "id " << id << ": dbfread reads " << text.size() << " characters";
        }
        EXPECT_FALSE(std::getline(lines, line)) << line;
    }

    void KillAt(const std::string& step) {
        Child child("PackKillChild.Pack", {{"TABLE", Path("memo.dbf")}, {"KJ_STOP_AT", step}});
        ASSERT_TRUE(child.WaitStopped(kStopMs)) << "the pack never reached " << step;
        child.KillAndReap();
    }
};

TEST_F(PackKillTest, KilledAtEachStepLeavesTheOldPairOrTheNewOne) {
    const std::pair<const char*, bool> steps[] = {
        {"pack-memo-built", false},           {"pack-before-cut", false},
        {"pack-before-rename", true},         {"pack-between-renames", true},
        {"pack-before-marker-removal", true}, {"pack-before-reindex", true},
    };
    for (const auto& [step, packed] : steps) {
        MakeTable();
        KillAt(step);
        const int32_t want = packed ? kRecords - kRecords / 3 : kRecords;
        EXPECT_EQ(Verify(step), want) << step;
    }
    // A later pack runs over what a killed one left.
    MakeTable();
    KillAt("pack-between-renames");
    Open(1, Path("memo.dbf"));
    EXPECT_TRUE(Dbf4::Pack()) << TzCommon::LastErrorMessage();
    Dbf4::CloseAll();
    EXPECT_EQ(Verify("pack after a killed pack"), kRecords - kRecords / 3);
}

TEST_F(PackKillTest, CrashAtEachWriteLeavesTheOldPairOrTheNewOne) {
    bool completed = false;
    for (int n = 1; n <= 400 && !completed; ++n) {
        MakeTable();
        Child child("PackKillChild.Pack",
                    {{"TABLE", Path("memo.dbf")}, {"CRASH_AT", std::to_string(n)}});
        const int code = child.Wait(kStopMs);
        ASSERT_TRUE(code == 0 || code == 77) << "write " << n << ": exit " << code;
        completed = code == 0;
        Verify("crash at write " + std::to_string(n));
        if (HasFailure()) break;
    }
    EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace kjtest
