// A table cut short by another program while two stations have it open with its index:
// the next append (at either station) finds the cut, reports it, puts the table's count
// and end mark right and builds the index again before it takes a number, so no lost
// row's key stays beside a new record's, also after a restart and when the station that
// found the cut is killed after putting the count right.
#include <unistd.h>

#include <sstream>

#include "storage/tz_errors.h"
#include "storage/tz_utils.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

constexpr int kStopMs = 30000;
constexpr int kLineMs = 60000;
constexpr int kPostings = 300;
constexpr uint64_t kHeader = 32 * 17 + 33, kRecord = 187;

// Helper station: opens the postings table shared with its index, walks to its end (so it
// has seen every record), tells "open", then serves "append <i>" (one posting under the
// append lock; answers "appended <error> <record> <count>") and "quit" (answers the
// tables it found short, "short <file> <held> <claimed>" each, then "end").
TEST(NdxCutChild, Station) {
    KJ_CHILD_ONLY();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE"));
    TzNdx::OpenIndexOrRebuild(PostTags());
    Dbf4::GoBottom();
    kjtest::TellParent("open " + std::to_string(TzCommon::ErrorWord()) + " " +
                       std::to_string(Dbf4::RecCount()));
    for (;;) {
        std::istringstream line(kjtest::HearParent());
        std::string word;
        line >> word;
        if (word == "append") {
            int i = 0;
            line >> i;
            uint16_t code = 0;
            try {
                if (!Dbf4::ALock()) code = TzErr::AccessDenied;
                kjtest::FillPosting(i);
                if (code == 0) Dbf4::Append();
                code = code ? code : TzCommon::ErrorWord();
            } catch (const TzCommon::ETzError&) {
                code = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::InternalError;
            }
            Dbf4::Unlock();
            kjtest::TellParent("appended " + std::to_string(code) + " " +
                               std::to_string(Dbf4::RecNo()) + " " +
                               std::to_string(Dbf4::RecCount()));
            continue;
        }
        break;
    }
    Dbf4::CloseAll();
    for (const TzDbfLow::ShortTable& t : TzDbfLow::TakeShortTables())
        kjtest::TellParent("short " + t.file + " " + std::to_string(t.held) + " " +
                           std::to_string(t.claimed));
    kjtest::TellParent("end");
}

class NdxTableCutTest : public NdxTest {
  protected:
    void SetUp() override {
        NdxTest::SetUp();
        table_ = Path("poster.dbf");
        mdx_ = Path("poster.MDX");
        kjtest::MakePostings(table_, kPostings);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
        ASSERT_EQ(kjtest::ReadFile(table_).size(), kHeader + kPostings * kRecord + 1);
    }
    std::map<std::string, std::string> Args(const std::string& stopAt = {}) const {
        std::map<std::string, std::string> args = {{"TABLE", table_}, {"MDX", mdx_}};
        if (!stopAt.empty()) args["KJ_STOP_AT"] = stopAt;
        return args;
    }
    static void ExpectOpen(kjtest::Child& c) {
        EXPECT_EQ(c.ReadLine(kLineMs), "open 0 " + std::to_string(kPostings));
    }
    // The file cut by `bytes` at its end, as another program would.
    void Cut(uint64_t bytes) {
        const uint64_t size = kHeader + kPostings * kRecord + 1;
        ASSERT_EQ(truncate(table_.c_str(), off_t(size - bytes)), 0);
    }
    // One posting appended by station c: its answer "appended <error> <record> <count>".
    static std::string Append(kjtest::Child& c, int i) {
        c.WriteLine("append " + std::to_string(i));
        return c.ReadLine(kLineMs);
    }
    // Ends station c: the short tables it reported, one "short ..." line each.
    static std::vector<std::string> Quit(kjtest::Child& c) {
        c.WriteLine("quit");
        std::vector<std::string> lines;
        for (std::string l = c.ReadLine(kLineMs); !l.empty() && l != "end"; l = c.ReadLine(kLineMs))
            lines.push_back(l);
        EXPECT_EQ(c.Wait(kLineMs), 0);
        return lines;
    }
    // Opens the table as a station does after a restart: `want` records, every tag walking
    // each once in key order, and the header's count and end mark right once closed.
    void ExpectWhole(int32_t want, const char* when) {
        SCOPED_TRACE(when);
        Dbf4::Select(1);
        Dbf4::Use(table_);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(PostTags())) << TzCommon::LastErrorMessage();
        EXPECT_EQ(Dbf4::RecCount(), want);
        EXPECT_EQ(TagsAgree(), "") << "a lost row's key stayed beside a new record's";
        Dbf4::CloseAll();
        const std::string bytes = kjtest::ReadFile(table_);
        EXPECT_EQ(uint32_t(uint8_t(bytes[4]) | uint8_t(bytes[5]) << 8), uint32_t(want));
        const uint64_t end = kHeader + uint64_t(want) * kRecord;
        ASSERT_GT(bytes.size(), end);
        EXPECT_EQ(uint8_t(bytes[end]), 0x1A) << "no end mark after the last record";
        EXPECT_TRUE(TzDbfLow::TakeShortTables().empty());
    }
    std::string table_, mdx_;
};

// Cuts of 51 bytes (the end mark and part of the last posting) and 188 (the mark and the
// whole last posting): station A's append reports the table short (299 of 300) and takes
// number 300 with the index built again; station B's append then takes 301 and reports
// nothing more.
TEST_F(NdxTableCutTest, AnAppendAfterACutTakesNoLostRecordsKeys) {
    for (uint64_t cut : {uint64_t(51), uint64_t(188)}) {
        SCOPED_TRACE("cut of " + std::to_string(cut) + " bytes");
        if (cut != 51) {
            ASSERT_NO_FATAL_FAILURE(SetUp());
        }
        kjtest::Child a("NdxCutChild.Station", Args());
        kjtest::Child b("NdxCutChild.Station", Args());
        ExpectOpen(a);
        ExpectOpen(b);
        ASSERT_NO_FATAL_FAILURE(Cut(cut));
        EXPECT_EQ(Append(a, 9001), "appended 0 300 300");
        EXPECT_EQ(Append(b, 9002), "appended 0 301 301");
        EXPECT_EQ(Quit(a), std::vector<std::string>{"short " + table_ + " 299 300"});
        EXPECT_TRUE(Quit(b).empty()) << "the cut was reported twice";
        ExpectWhole(301, "after the appends");
        ExpectWhole(301, "after a second restart");
    }
}

// Station A is killed after it put the cut table's count right and marked the index, before
// its record: station B's append still builds the index again before it takes number 300.
TEST_F(NdxTableCutTest, AStationKilledAfterRepairingTheCountLeavesTheIndexMarked) {
    kjtest::Child a("NdxCutChild.Station", Args("open-count-repaired"));
    kjtest::Child b("NdxCutChild.Station", Args());
    ExpectOpen(a);
    ExpectOpen(b);
    ASSERT_NO_FATAL_FAILURE(Cut(51));
    a.WriteLine("append 9001");
    ASSERT_TRUE(a.WaitStopped(kStopMs)) << "the append never put the count right";
    a.KillAndReap();
    EXPECT_EQ(Append(b, 9002), "appended 0 300 300");
    Quit(b);
    ExpectWhole(300, "after the kill");
}

}  // namespace
