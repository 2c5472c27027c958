// Stations editing the postings on a disk that fills up, each a process of its own: edits
// whose keys need a new index page fail for lack of room and leave the index marked; once
// room is freed every station takes the repair up itself and its saves go on, without
// another station having to open the table. While there is no room the refusals name the
// full disk (never "Index file must be rebuilt" 223), and moving to a row whose keys could
// not be written never gives "Key ... not in index" (212). Skipped where no file system
// can be mounted.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/index/ndx_fixture.h"
#include "tests/support/small_disk.h"

namespace {

using namespace ndxtest;
using Clock = std::chrono::steady_clock;

constexpr int kPostings = 3000;

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// What one station's edits came to in one period.
struct Tally {
    int saved = 0, diskFull = 0, mustRebuild = 0, notInIndex = 0, other = 0;
    std::string last;  // the last refusal's text
    std::string Line() const {
        std::ostringstream o;
        o << saved << " " << diskFull << " " << mustRebuild << " " << notInIndex << " " << other;
        return o.str();
    }
};

// One edit of record r's case number (four of the five tags change key), then a move to
// the record in the order of the first tag, as a station's grid does after a save.
void EditOnce(int32_t r, int serial, Tally* t) {
    auto note = [t](uint16_t code, const std::string& text) {
        if (code == TzErr::InsufficientDiskSpace || code == TzErr::DiskWriteError) {
            ++t->diskFull;
        } else if (code == TzErr::IndexVersionMismatch) {
            ++t->mustRebuild;
        } else if (code == TzErr::RequestBeyondRange) {
            ++t->notInIndex;
        } else {
            ++t->other;
        }
        t->last = text;
    };
    bool saved = false;
    try {
        Dbf4::Go(r);
        if (Dbf4::RLock()) {
            char text[16];
            std::snprintf(text, sizeof text, "E%08d", serial);
            SetC(Dbf4::FieldNo("POST_SAG"), text);
            Dbf4::Replace();
            saved = TzCommon::ErrorWord() == 0;
        }
    } catch (const TzCommon::ETzError& e) {
        note(TzCommon::ErrorWord(), e.what());
    }
    if (saved) ++t->saved;
    TzCommon::ClearErrorWord();
    try {
        Dbf4::Unlock();
        Dbf4::Go(r);
    } catch (const TzCommon::ETzError& e) {
        note(TzCommon::ErrorWord(), e.what());
    }
    TzCommon::ClearErrorWord();
}

// Helper: a station with the postings open shared and ordered by its first tag. Edits
// while the parent says "full" (for FULL_MS), then, told "freed", edits for FREED_MS and
// reports both tallies: saved, refused naming the disk, refused with 223, 212 on a move,
// other errors.
TEST(NdxFullDiskHelper, Edit) {
    KJ_CHILD_ONLY();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    const int station = std::atoi(kjtest::ChildArg("STATION").c_str());
    OpenStationTable();
    int serial = station * 1000000;
    for (const char* period : {"full", "freed"}) {
        if (kjtest::HearParent() != period) return;
        const int ms = std::atoi(
            kjtest::ChildArg(period == std::string("full") ? "FULL_MS" : "FREED_MS").c_str());
        Tally t;
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (int i = 0; Clock::now() < until; ++i)
            EditOnce(1 + (i * 37 + station * 101) % kPostings, ++serial, &t);
        kjtest::TellParent(t.Line());
        kjtest::TellParent(t.last.empty() ? "-" : t.last.substr(0, 300));
    }
    Dbf4::CloseAll();
}

Tally ParseTally(const std::string& line) {
    Tally t;
    std::istringstream in(line);
    in >> t.saved >> t.diskFull >> t.mustRebuild >> t.notInIndex >> t.other;
    return t;
}

class NdxFullDiskStationsTest : public NdxTest {
  protected:
    void TearDown() override {
        NdxTest::TearDown();
        disk_.reset();
    }
    // The postings table with its tags on the small disk.
    void MakeIndexedPostings() {
        kjtest::MakePostings(table_, kPostings);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
    }
    std::unique_ptr<kjtest::SmallDisk> disk_;
    std::string table_, mdx_;
};

// KJ_STATIONS stations (2 by default, 4 as well), KJ_FREED_MS the period after the room is
// freed (1.5 s by default; 15 s for the figures).
TEST_F(NdxFullDiskStationsTest, SavesGoOnOnceRoomIsFreed) {
    disk_ = std::make_unique<kjtest::SmallDisk>(65536);
    if (!disk_->Mounted()) GTEST_SKIP() << disk_->Why();
    const std::string table = table_ = disk_->file("poster.dbf");
    const std::string mdx = mdx_ = disk_->file("poster.MDX");
    ASSERT_NO_FATAL_FAILURE(MakeIndexedPostings());
    const int freedMs = EnvInt("KJ_FREED_MS", 1500);
    const int only = EnvInt("KJ_STATIONS", 0);
    for (int stations : {2, 4}) {
        if (only != 0 && stations != only) continue;
        SCOPED_TRACE(std::to_string(stations) + " stations");
        std::vector<std::unique_ptr<kjtest::Child>> children;
        for (int s = 1; s <= stations; ++s) {
            children.push_back(std::make_unique<kjtest::Child>(
                "NdxFullDiskHelper.Edit",
                std::map<std::string, std::string>{{"TABLE", table},
                                                   {"MDX", mdx},
                                                   {"STATION", std::to_string(s)},
                                                   {"FULL_MS", "1500"},
                                                   {"FREED_MS", std::to_string(freedMs)}}));
            ASSERT_EQ(children.back()->ReadLine(), "ready");
        }
        disk_->FillLeaving(0);
        Tally full, freed;
        std::string lastFull, lastFreed;
        for (auto& c : children) c->WriteLine("full");
        for (auto& c : children) {
            const Tally t = ParseTally(c->ReadLine());
            lastFull = c->ReadLine();
            full.saved += t.saved, full.diskFull += t.diskFull, full.mustRebuild += t.mustRebuild;
            full.notInIndex += t.notInIndex, full.other += t.other;
        }
        disk_->RemoveFiller();
        std::vector<int> savedEach;
        for (auto& c : children) c->WriteLine("freed");
        for (auto& c : children) {
            const Tally t = ParseTally(c->ReadLine());
            lastFreed = c->ReadLine();
            savedEach.push_back(t.saved);
            freed.saved += t.saved, freed.diskFull += t.diskFull;
            freed.mustRebuild += t.mustRebuild, freed.notInIndex += t.notInIndex;
            freed.other += t.other;
        }
        for (auto& c : children) EXPECT_EQ(c->Wait(), 0);
        std::cout << stations << " stations, disk full: " << full.saved << " saved, "
                  << full.diskFull << " refused naming the disk, " << full.mustRebuild
                  << " refused with 223, " << full.notInIndex << " moves with 212, " << full.other
                  << " other; last: " << lastFull << "\n"
                  << stations << " stations, " << freedMs << " ms after freeing: " << freed.saved
                  << " saved, " << freed.diskFull << " disk full, " << freed.mustRebuild
                  << " refused with 223, " << freed.notInIndex << " moves with 212, " << freed.other
                  << " other; last: " << lastFreed << "\n";
        EXPECT_GT(full.diskFull, 0) << "the disk never refused an edit";
        EXPECT_EQ(full.mustRebuild + full.notInIndex + full.other, 0) << lastFull;
        for (size_t s = 0; s < savedEach.size(); ++s)
            EXPECT_GT(savedEach[s], 0) << "station " << s + 1 << " saved nothing after freeing";
        EXPECT_EQ(freed.mustRebuild + freed.notInIndex + freed.other + freed.diskFull, 0)
            << lastFreed;
        Dbf4::Select(1);
        Dbf4::Use(table);
        TzNdx::SetIndexTo(mdx);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        EXPECT_EQ(TagsAgree(), "");
        Dbf4::CloseAll();
    }
}

// One station: an edit whose record was written but whose keys could not follow on the
// full disk (the tags could not be built again either). Moving to that row is refused
// naming the disk, not with "Key ... not in index" (212); once room is freed the next
// move builds the tags again and lands on the row, in key order.
TEST_F(NdxFullDiskStationsTest, ARowWhoseKeysCouldNotFollowIsRepairedOrRefusedNamingTheDisk) {
    disk_ = std::make_unique<kjtest::SmallDisk>(8192);
    if (!disk_->Mounted()) GTEST_SKIP() << disk_->Why();
    const std::string table = table_ = disk_->file("poster.dbf");
    const std::string mdx = mdx_ = disk_->file("poster.MDX");
    ASSERT_NO_FATAL_FAILURE(MakeIndexedPostings());
    Dbf4::Use(table);
    TzNdx::SetIndexTo(mdx);
    TzNdx::Set_Order_To(1);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    disk_->FillLeaving(0);
    int32_t lagging = 0;
    for (int i = 0; i < 200 && lagging == 0; ++i) {
        const int32_t r = 1 + (i * 37) % kPostings;
        Tally t;
        EditOnce(r, 500000 + i, &t);
        if (t.saved && TzNdx::UnfinishedChange() != 0) lagging = r;
    }
    ASSERT_NE(lagging, 0) << "no edit left its keys behind";
    // The row in each tag's order: where its key is missing the move is refused.
    uint16_t code = 0;
    std::string text;
    for (int tag = 1; tag <= TzNdx::TagCount() && code == 0; ++tag) {
        try {
            TzNdx::Set_Order_To(tag);
            Dbf4::GoTop();  // away from the row first, as a user moving to it comes from elsewhere
            Dbf4::Go(lagging);
        } catch (const TzCommon::ETzError& e) {
            text = e.what();
        }
        code = TzCommon::ErrorWord();
        TzCommon::ClearErrorWord();
    }
    TzNdx::Set_Order_To(1);
    std::cout << "moving to row " << lagging << " on the full disk: " << code << " " << text
              << "\n";
    EXPECT_TRUE(code == TzErr::InsufficientDiskSpace || code == TzErr::DiskWriteError) << text;
    EXPECT_NE(text.find("Disken er fuld: " + disk_->path()), std::string::npos) << text;
    disk_->RemoveFiller();
    EXPECT_NO_THROW(Dbf4::Go(lagging)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(Dbf4::RecNo(), lagging);
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_EQ(kjtest::ReadFile(mdx)[TzNdx::kMaintenanceMark], 0);
    Dbf4::CloseAll();
}

}  // namespace
