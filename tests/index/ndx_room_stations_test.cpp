// Room reserved in the index file by one station and another station's close, each station
// a process of its own: station A saves once (taking room for its next changes), station B
// saves once and closes, then the disk fills. A's next saves are either made whole (row and
// keys) or refused before the row is written; never is a row written whose keys could not
// follow. With error checking off (failures raised) and on (the error word alone). Skipped
// where no file system can be mounted.
#include <iostream>
#include <sstream>

#include "storage/tz_errors.h"
#include "tests/index/ndx_fixture.h"
#include "tests/support/small_disk.h"

namespace {

using namespace ndxtest;

constexpr int kPostings = 2000;

// One append of posting n under the append lock: "saved", or "refused <code> <text>".
// Each answer ends in " lag=<the station's unfinished change>" and the record it stands on.
std::string AppendOnce(int n) {
    uint16_t code = 0;
    std::string text;
    try {
        if (!Dbf4::ALock()) return "refused 0 append lock";
        kjtest::FillPosting(n);
        Dbf4::Append();
        code = TzCommon::ErrorWord();
        if (code != 0) text = TzCommon::LastErrorMessage();
    } catch (const TzCommon::ETzError& e) {
        text = e.what();
        code = TzCommon::ErrorWord();
        // The error hook clears the word as it raises; its text starts with "Error # n".
        if (code == 0 && text.rfind("Error # ", 0) == 0) code = uint16_t(std::atoi(&text[8]));
        if (code == 0) code = 1;
    }
    TzCommon::ClearErrorWord();
    try {
        Dbf4::Unlock();
    } catch (const TzCommon::ETzError&) {
    }
    TzCommon::ClearErrorWord();
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    std::ostringstream o;
    o << (code == 0 ? "saved" : "refused " + std::to_string(code) + " " + text.substr(0, 160))
      << " lag=" << TzNdx::UnfinishedChange();
    return o.str();
}

// The program's error hook: the engine's error raised, not shown.
void RaiseEngineError() {
    const uint16_t code = TzCommon::ErrorWord();
    if (code == 0) return;
    throw TzCommon::ETzError(TzCommon::ErrorText(code) + "\r\n" + TzCommon::ClearError());
}

// Helper: a station with the postings open shared, ordered by its first tag. Each line
// from the parent, "append", appends one posting and answers how it went; "close" closes
// the table and ends.
TEST(NdxRoomHelper, Station) {
    KJ_CHILD_ONLY();
    ResetEngine();
    const bool checking = kjtest::ChildArg("CHECKING") == "1";
    TzCommon::SetErrorChecking(checking ? 1 : 0);
    if (checking) TzCommon::SetErrorHook(&RaiseEngineError);
    const int station = std::atoi(kjtest::ChildArg("STATION").c_str());
    OpenStationTable();
    int serial = 100000 * station;
    for (;;) {
        const std::string said = kjtest::HearParent();
        if (said != "append") break;
        kjtest::TellParent(AppendOnce(++serial));
    }
    Dbf4::CloseAll();
    kjtest::TellParent("closed");
}

class NdxRoomStationsTest : public NdxTest {
  protected:
    void TearDown() override {
        NdxTest::TearDown();
        disk_.reset();
    }
    std::unique_ptr<kjtest::Child> Station(int n, const char* checking) {
        auto c = std::make_unique<kjtest::Child>(
            "NdxRoomHelper.Station",
            std::map<std::string, std::string>{{"TABLE", table_},
                                               {"MDX", mdx_},
                                               {"STATION", std::to_string(n)},
                                               {"CHECKING", checking}});
        EXPECT_EQ(c->ReadLine(), "ready");
        return c;
    }
    std::unique_ptr<kjtest::SmallDisk> disk_;
    std::string table_, mdx_;
};

TEST_F(NdxRoomStationsTest, AnotherStationsCloseLeavesTheRoomALivingStationReserved) {
    disk_ = std::make_unique<kjtest::SmallDisk>(16384);
    if (!disk_->Mounted()) GTEST_SKIP() << disk_->Why();
    table_ = disk_->file("poster.dbf");
    mdx_ = disk_->file("poster.MDX");
    for (const char* checking : {"0", "1"}) {
        SCOPED_TRACE(std::string("error checking ") + checking);
        tz::EraseFile(table_);
        tz::EraseFile(mdx_);
        kjtest::MakePostings(table_, kPostings);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
        auto a = Station(1, checking);
        auto b = Station(2, checking);
        a->WriteLine("append");
        ASSERT_EQ(a->ReadLine(), "saved lag=0");
        b->WriteLine("append");
        ASSERT_EQ(b->ReadLine(), "saved lag=0");
        b->WriteLine("close");
        ASSERT_EQ(b->ReadLine(), "closed");
        EXPECT_EQ(b->Wait(), 0);
        disk_->FillLeaving(0);
        // A's saves on the full disk: made whole until refused, refused before the row.
        int saved = 2;
        std::string last;
        for (int i = 0; i < 400; ++i) {
            a->WriteLine("append");
            last = a->ReadLine();
            if (last.rfind("saved", 0) == 0) ++saved;
            EXPECT_NE(last.find(" lag=0"), std::string::npos)
                << "save " << i + 1 << " on the full disk wrote a row whose keys could not "
                << "follow: " << last;
            if (last.rfind("saved", 0) != 0) break;
        }
        std::cout << "checking " << checking << ": " << saved - 2
                  << " saves on the full disk, then: " << last << "\n";
        EXPECT_EQ(last.find("page number"), std::string::npos) << last;
        EXPECT_TRUE(last.rfind("refused 101 ", 0) == 0 || last.rfind("refused 227 ", 0) == 0)
            << "not refused naming the disk: " << last;
        a->WriteLine("close");
        EXPECT_EQ(a->ReadLine(), "closed");
        EXPECT_EQ(a->Wait(), 0);
        disk_->RemoveFiller();
        Dbf4::Select(1);
        Dbf4::Use(table_);
        TzNdx::SetIndexTo(mdx_);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        EXPECT_EQ(Dbf4::RecCount(), kPostings + saved) << "a refused save left its row";
        EXPECT_EQ(TagsAgree(), "");
        Dbf4::CloseAll();
    }
}

}  // namespace
