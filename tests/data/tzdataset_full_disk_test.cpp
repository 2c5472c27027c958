// Stations saving edits of the postings through the table component, as the program saves,
// each a process of its own, while the disk fills up and after room is freed: with error
// checking off (failures raised) and on (the program's error hook raising them), every
// station's saves go on once there is room, without another station opening the table, and
// no refusal says "Index file must be rebuilt" (223) or "Key ... not in index" (212).
// Skipped where no file system can be mounted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <typeinfo>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "index/tz_ndx.h"
#include "storage/tz_common.h"
#include "storage/tz_errors.h"
#include "tests/support/postings_table.h"
#include "tests/support/small_disk.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using TzDs::TTzDbf;

constexpr int kPostings = 3000;

std::vector<std::string> PostingsIndexList() {
    std::vector<std::string> lines;
    for (const kjtest::TagText& t : kjtest::PostingsTags()) {
        lines.push_back(std::string(t.name) + ",F,F," + t.expression);
        lines.push_back("");
    }
    return lines;
}

// The program's error hook: the engine's error raised, not shown.
void RaiseEngineError() {
    const uint16_t code = TzCommon::ErrorWord();
    if (code == 0) return;
    throw TzCommon::ETzError(TzCommon::ErrorText(code) + "\r\n" + TzCommon::ClearError());
}

// Saved edits and refusals of one period: "saved diskFull mustRebuild notInIndex other".
struct Tally {
    int saved = 0, diskFull = 0, mustRebuild = 0, notInIndex = 0, other = 0;
    std::string last;
    void Note(const std::string& text) {
        // The other station held the record at that moment: its lock was refused ("Lock
        // failed", the save aborted), which is no refusal of the save itself.
        if (text.find("EAbort") != std::string::npos) return;
        last = text.empty() ? "(an exception without text)" : text;
        if (text.find("Disken er fuld") != std::string::npos) {
            ++diskFull;
        } else if (text.find("Error # 223") != std::string::npos) {
            ++mustRebuild;
        } else if (text.find("not in index") != std::string::npos) {
            ++notInIndex;
        } else {
            ++other;
        }
    }
    std::string Line() const {
        std::ostringstream o;
        o << saved << " " << diskFull << " " << mustRebuild << " " << notInIndex << " " << other;
        return o.str();
    }
    void Add(const std::string& line) {
        std::istringstream in(line);
        int s = 0, d = 0, m = 0, n = 0, o = 0;
        in >> s >> d >> m >> n >> o;
        saved += s, diskFull += d, mustRebuild += m, notInIndex += n, other += o;
    }
};

// One edit of a posting's case number through the component, then back to the first row.
void EditOnce(TTzDbf& t, int32_t r, int serial, Tally* tally) {
    try {
        t.Go(r);
        t.Edit();
        char text[16];
        std::snprintf(text, sizeof text, "D%08d", serial);
        t.FieldByName("post_sag").SetAsString(text);
        t.Post();
        ++tally->saved;
    } catch (const std::exception& e) {
        tally->Note(std::string(typeid(e).name()) + ": " + e.what());
        try {
            t.Cancel();
        } catch (const std::exception&) {
        }
    }
    TzCommon::ClearErrorWord();
    try {
        t.First();
    } catch (const std::exception& e) {
        tally->Note(std::string(typeid(e).name()) + ": " + e.what());
    }
    TzCommon::ClearErrorWord();
}

}  // namespace

// A full disk refuses an edit only when its keys need a new index page, which may take a
// few hundred edits (a busy machine makes fewer in a given time): told "full", a station
// edits for at least FULL_MS and on until the disk has refused one of its edits (at most
// kFullMaxMs).
constexpr int kFullMaxMs = 40000;

// Helper: a station with the postings open through a table component in the order of the
// first tag; edits in the "full" period as above, for FREED_MS once told "freed", and
// reports each period's tally and last refusal.
TEST(TzdsFullDiskHelper, Edit) {
    KJ_CHILD_ONLY();
    TzDs::ResetState();
    const bool checking = kjtest::ChildArg("CHECKING") == "1";
    TzCommon::SetErrorChecking(checking ? 1 : 0);
    if (checking) TzCommon::SetErrorHook(&RaiseEngineError);
    const int station = std::atoi(kjtest::ChildArg("STATION").c_str());
    TTzDbf t("PostDbf");
    t.SetDbfFileName(kjtest::ChildArg("TABLE"));
    t.IndexList() = PostingsIndexList();
    t.ShowProgress = false;
    t.Open();
    t.SetOrderToTag("POSTSAG");
    kjtest::TellParent("ready");
    int serial = station * 1000000;
    for (const std::string period : {"full", "freed"}) {
        if (kjtest::HearParent() != period) return;
        const int ms =
            std::atoi(kjtest::ChildArg(period == "full" ? "FULL_MS" : "FREED_MS").c_str());
        Tally tally;
        const auto start = Clock::now();
        const auto until = start + std::chrono::milliseconds(ms);
        const auto latest = start + std::chrono::milliseconds(kFullMaxMs);
        auto more = [&] {
            const auto now = Clock::now();
            if (period == "freed") return now < until;
            return now < latest && (now < until || tally.diskFull == 0);
        };
        for (int i = 0; more(); ++i)
            EditOnce(t, 1 + (i * 37 + station * 101) % kPostings, ++serial, &tally);
        kjtest::TellParent(tally.Line());
        std::string last = tally.last.substr(0, 200);
        for (char& c : last)
            if (c == '\r' || c == '\n') c = ' ';
        kjtest::TellParent(last.empty() ? "-" : last);
    }
    t.Close();
}

// KJ_FREED_MS sets the period after freeing (1.5 s by default; 15 s for the figures).
TEST(TzdsFullDisk, StationsSaveAgainOnceRoomIsFreed) {
    kjtest::SmallDisk disk(65536);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    TzDs::ResetState();
    TzCommon::SetErrorChecking(0);
    const std::string table = disk.file("poster.dbf");
    kjtest::MakePostings(table, kPostings);
    {
        TTzDbf t("Build");
        t.SetDbfFileName(table);
        t.IndexList() = PostingsIndexList();
        t.ShowProgress = false;
        t.Open();
        ASSERT_EQ(TzNdx::TagCount(), 5);
        t.Close();
    }
    const char* env = std::getenv("KJ_FREED_MS");
    const std::string freedMs = env && *env ? env : "1500";
    for (const char* checking : {"0", "1"}) {
        SCOPED_TRACE(std::string("error checking ") + checking);
        std::vector<std::unique_ptr<kjtest::Child>> stations;
        for (int s = 1; s <= 2; ++s) {
            stations.push_back(std::make_unique<kjtest::Child>(
                "TzdsFullDiskHelper.Edit",
                std::map<std::string, std::string>{{"TABLE", table},
                                                   {"STATION", std::to_string(s)},
                                                   {"CHECKING", checking},
                                                   {"FULL_MS", "1000"},
                                                   {"FREED_MS", freedMs}}));
            ASSERT_EQ(stations.back()->ReadLine(), "ready");
        }
        disk.FillLeaving(0);
        Tally full, freed;
        std::string lastFull, lastFreed;
        std::vector<int> savedEach;
        for (auto& c : stations) c->WriteLine("full");
        for (auto& c : stations) {
            full.Add(c->ReadLine());
            lastFull = c->ReadLine();
        }
        disk.RemoveFiller();
        for (auto& c : stations) c->WriteLine("freed");
        for (auto& c : stations) {
            Tally one;
            one.Add(c->ReadLine());
            savedEach.push_back(one.saved);
            freed.Add(one.Line());
            lastFreed = c->ReadLine();
        }
        for (auto& c : stations) EXPECT_EQ(c->Wait(), 0);
        std::cout << "checking " << checking << ", disk full: " << full.Line() << " (saved, "
                  << "disk full, 223, 212, other); last: " << lastFull << "\n"
                  << "checking " << checking << ", " << freedMs
                  << " ms after freeing: " << freed.Line() << "; last: " << lastFreed << "\n";
        EXPECT_GT(full.diskFull, 0);
        EXPECT_EQ(full.mustRebuild + full.notInIndex + full.other, 0) << lastFull;
        for (size_t s = 0; s < savedEach.size(); ++s)
            EXPECT_GT(savedEach[s], 0) << "station " << s + 1 << " saved nothing after freeing";
        EXPECT_EQ(freed.mustRebuild + freed.notInIndex + freed.other + freed.diskFull, 0)
            << lastFreed;
    }
}
