// Several stations on one postings table with its five tags: four processes append and
// rewrite records at once; afterwards every tag agrees with the table in every process and
// the semaphore file is gone after the last close. A writer killed in the middle of a
// change while another station goes on working leaves no index that an open trusts wrongly.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "index/mdx_semaphore.h"
#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

constexpr int kStations = 4;
constexpr int kAppends = 150;

// A helper station's start: the engine afresh with failures raised, and the postings table
// (TABLE) with its index open in area 1.
void OpenStation() {
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE"));
    TzNdx::SetIndexTo("poster.mdx");
}

// A text on one line, as the parent reads it.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// Runs a helper station: opens it and tells the parent "ready" ("failed" where the open left
// an error code), then does its work. A failure raised on the way is told as "error" and,
// with sayWhy, its message.
void RunStation(const std::function<void()>& work, bool sayWhy = true) {
    try {
        OpenStation();
        kjtest::TellParent(TzCommon::ErrorWord() == 0 ? "ready" : "failed");
        work();
    } catch (const std::exception& e) {
        kjtest::TellParent(sayWhy ? OneLine(std::string("error ") + e.what()) : "error");
    }
}

using Args = std::map<std::string, std::string>;

// The parent's side of a helper station of this file (NdxStationChild.<helper>) on the
// postings table, with further arguments (KJ_STOP_AT among them).
class Station : public kjtest::Child {
  public:
    Station(const std::string& helper, const std::string& table, Args more = {})
        : kjtest::Child("NdxStationChild." + helper, WithTable(table, std::move(more))) {}

    // The station's next line is `want` (read within timeoutMs).
    ::testing::AssertionResult Says(const std::string& want, int timeoutMs = 20000) {
        const std::string line = ReadLine(timeoutMs);
        if (line == want) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the station said \"" << line << "\", not \"" << want << "\"";
    }
    // Sends `command`, upon which the station stops itself at its KJ_STOP_AT step.
    ::testing::AssertionResult StopsAfter(const std::string& command) {
        WriteLine(command);
        if (WaitStopped(20000)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "never reached the step after " << command;
    }
    // Sends the last command and answers the station's exit code.
    int End(const std::string& command) {
        WriteLine(command);
        return Wait();
    }

  private:
    static Args WithTable(const std::string& table, Args more) {
        more["TABLE"] = table;
        return more;
    }
};

// Starts a writer station that stops itself at the KJ_STOP_AT step among `more`, and kills it
// there.
::testing::AssertionResult KilledAtItsStep(const std::string& helper, const std::string& table,
                                           Args more) {
    Station writer(helper, table, more);
    if (!writer.WaitStopped(30000))
        return ::testing::AssertionFailure() << "never reached the step " << more["KJ_STOP_AT"];
    writer.KillAndReap();
    return ::testing::AssertionSuccess();
}

// A fresh engine, and postings of n records at `table` with their index; the table and its
// index stay open in area 1 with keepOpen. False when the index could not be made.
bool MakeIndexedPostings(const std::string& table, int n, bool keepOpen = false) {
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    kjtest::MakePostings(table, n);
    Dbf4::Select(1);
    Dbf4::Use(table);
    const bool made = TzNdx::MakeIndex(PostTags());
    if (keepOpen) {
        TzNdx::SetIndexTo("poster.mdx");
    } else {
        Dbf4::CloseAll();
    }
    return made;
}

TEST(NdxStationChild, Work) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    const int id = std::stoi(kjtest::ChildArg("ID"));
    RunStation([id] {
        kjtest::HearParent();
        std::mt19937 rng{uint32_t(id)};
        for (int i = 0; i < kAppends; ++i) {
            while (!Dbf4::FLock()) {
            }
            kjtest::FillPosting(id * 100000 + i * 13);
            Dbf4::Append();
            Dbf4::Unlock();
            if (TzCommon::ErrorWord() != 0) throw TzCommon::ETzError(TzCommon::LastErrorMessage());
            if (i % 3 == 0) {
                Dbf4::Go(1 + int32_t(rng() % uint32_t(Dbf4::RecCount())));
                if (Dbf4::RLock()) {
                    kjtest::FillPosting(int(rng() % 20000));
                    Dbf4::Replace();
                    Dbf4::Unlock();
                    if (TzCommon::ErrorWord() != 0)
                        throw TzCommon::ETzError(TzCommon::LastErrorMessage());
                }
            }
        }
        kjtest::TellParent("done");
        kjtest::HearParent();
        std::string problem = TagsAgree();
        kjtest::TellParent(problem.empty() ? "ok" : problem);
        Dbf4::CloseAll();
    });
}

TEST(NdxStations, FourStationsKeepFiveTagsInStep) {
    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf");
    ASSERT_TRUE(MakeIndexedPostings(table, 300));

    std::vector<std::unique_ptr<Station>> kids;
    for (int i = 0; i < kStations; ++i)
        kids.push_back(
            std::make_unique<Station>("Work", table, Args{{"ID", std::to_string(i + 1)}}));
    for (auto& k : kids) ASSERT_TRUE(k->Says("ready", 60000));
    for (auto& k : kids) k->WriteLine("go");
    for (auto& k : kids) ASSERT_TRUE(k->Says("done", 60000));
    for (auto& k : kids) k->WriteLine("check");
    for (auto& k : kids) EXPECT_TRUE(k->Says("ok", 60000));
    for (auto& k : kids) EXPECT_EQ(k->Wait(), 0);

    EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(table)));
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::SetIndexTo("poster.mdx");
    EXPECT_EQ(Dbf4::RecCount(), 300 + kStations * kAppends);
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
    EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(table)));
}

// Helper station: opens the postings table and its index and walks the first tag (a test
// stops it inside a step with KJ_STOP_AT), or adds a tag when the parent says "add".
TEST(NdxStationChild, Reader) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    RunStation(
        [] {
            if (kjtest::HearParent() == "add") {
                bool ok =
                    TzNdx::AddIndexTag({"POSTBEM", "UPPER(POST_BEM)", "", false, false}, false);
                kjtest::TellParent(ok ? "added" : "failed");
            } else {
                for (Dbf4::GoTop(); !Dbf4::dEOF();) Dbf4::Skip(1);
                kjtest::TellParent("walked");
            }
            kjtest::HearParent();
            Dbf4::CloseAll();
        },
        false);
}

// Helper station: opens the postings table and its index and, at each "append", appends one
// posting whose case number sorts after every other in POSTSAG.
TEST(NdxStationChild, Appender) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    RunStation([] {
        for (int i = 0; kjtest::HearParent() == "append"; ++i) {
            while (!Dbf4::FLock()) {
            }
            kjtest::FillPosting(3000 + i);
            SetC(1, "ZZZZ" + std::to_string(i));
            Dbf4::Append();
            Dbf4::Unlock();
            kjtest::TellParent(TzCommon::ErrorWord() == 0 ? "appended" : "failed");
        }
        Dbf4::CloseAll();
    });
}

// Helper station: "bem R T" sets the remark (a field no tag holds) of record R to T under a
// record lock and answers "set"; "end" closes.
TEST(NdxStationChild, Changer) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    RunStation([] {
        for (;;) {
            const std::string cmd = kjtest::HearParent();
            if (cmd.rfind("bem ", 0) != 0) break;
            const size_t gap = cmd.find(' ', 4);
            Dbf4::Go(std::stoi(cmd.substr(4, gap - 4)));
            if (!Dbf4::RLock()) {
                kjtest::TellParent("failed");
                continue;
            }
            SetC(Dbf4::FieldNo("POST_BEM"), cmd.substr(gap + 1));
            Dbf4::Replace();
            const uint16_t code = TzCommon::ErrorWord();
            Dbf4::Unlock();
            kjtest::TellParent(code == 0 ? "set" : "failed");
        }
        Dbf4::CloseAll();
    });
}

// Appends (op "append") or rewrites (op "replace") postings one after another until it
// stops itself at a named step of a change (KJ_STOP_AT); the parent kills it there. With
// VALUES=n it makes one change only: appends posting n, or (with RECORD=r) rewrites record r
// with posting n's values.
TEST(NdxStationChild, StoppedWriter) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    OpenStation();
    const bool append = kjtest::ChildArg("OP") == "append";
    if (const std::string values = kjtest::ChildArg("VALUES"); !values.empty()) {
        if (!append) Dbf4::Go(std::stoi(kjtest::ChildArg("RECORD")));
        if (append ? Dbf4::FLock() : Dbf4::RLock()) {
            kjtest::FillPosting(std::stoi(values));
            append ? Dbf4::Append() : Dbf4::Replace();
        }
    }
    std::mt19937 rng{7};
    for (int i = 0; i < 3000; ++i) {
        if (append) {
            if (!Dbf4::FLock()) continue;
            kjtest::FillPosting(50000 + i);
            Dbf4::Append();
        } else {
            Dbf4::Go(1 + int32_t(rng() % uint32_t(Dbf4::RecCount())));
            if (!Dbf4::RLock()) continue;
            kjtest::FillPosting(int(rng() % 20000));
            Dbf4::Replace();
        }
        Dbf4::Unlock();
    }
    kjtest::TellParent("never stopped");
    kjtest::HearParent();
}

// A station that goes on working: at "go" it appends and rewrites postings (its own keys
// far from the writer's and the other stations'), answering "ok" or the first failure; at
// "end" it closes.
TEST(NdxStationChild, Survivor) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    RunStation([] {
        kjtest::HearParent();
        std::string outcome = "ok";
        const int seed = std::stoi(kjtest::ChildArg("SEED"));
        std::mt19937 rng{uint32_t(11 + seed)};
        try {
            for (int i = 0; i < 40 && outcome == "ok"; ++i) {
                const bool append = i % 2 == 0;
                if (!append) Dbf4::Go(1 + int32_t(rng() % 300));
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!(append ? Dbf4::FLock() : Dbf4::RLock())) {
                    if (std::chrono::steady_clock::now() > until)
                        throw std::runtime_error("no lock");
                }
                kjtest::FillPosting(append ? 70000 + 100 * seed + i : int(rng() % 20000));
                if (append) {
                    Dbf4::Append();
                } else {
                    Dbf4::Replace();
                }
                if (TzCommon::ErrorWord() != 0) outcome = "error " + TzCommon::LastErrorMessage();
                Dbf4::Unlock();
            }
        } catch (const std::exception& e) {
            outcome = std::string("error ") + e.what();
        }
        kjtest::TellParent(OneLine(outcome));
        kjtest::HearParent();
        Dbf4::CloseAll();
    });
}

// Every tag of the current area against the table: each walk visits every record once in
// key order, and each record's own key, searched from its record, leads to it in every tag.
std::string IndexAgrees() {
    std::string problem = TagsAgree();
    if (!problem.empty()) return problem;
    for (int t = 1; t <= TzNdx::TagCount(); ++t) {
        TzNdx::Set_Order_To(t);
        for (int32_t r = 1; r <= Dbf4::RecCount(); ++r) {
            try {
                Dbf4::Go(r);
            } catch (const TzCommon::ETzError& e) {
                return "tag " + TzNdx::TagName(t) + ": " + e.what();
            }
        }
    }
    return "";
}

// A writer's change ("append" or "replace") and the named step of it where the writer is killed.
struct KillPoint {
    const char* op;
    const char* step;
};

// Opens the table and its index beside other stations and checks it; "" when it agrees.
std::string OpenBesideAndCheck(const std::string& table) {
    std::string problem;
    Dbf4::Select(1);
    Dbf4::Use(table);
    try {
        TzNdx::SetIndexTo("poster.mdx");
        problem = TzCommon::ErrorWord() == 0 ? IndexAgrees() : TzCommon::LastErrorMessage();
    } catch (const TzCommon::ETzError& e) {
        problem = e.what();
    }
    Dbf4::CloseAll();
    return problem;
}

// A writer stopped at each named step of an append or a rewrite, a page split among them,
// and killed there while three other stations keep changing the table: an open beside the
// working stations (before their next change, and after it), and one after they closed,
// find every record under its own key in every tag. (The first station that changes or
// opens the index after a dead writer's change builds the tags again.)
TEST(NdxStations, WriterKilledMidChangeWhileAnotherWorksLeavesNoWrongIndex) {
    // Each a step of the one change (the rewrite's new keys split a page).
    const KillPoint points[] = {
        {"append", "ndx-change-marked"},      {"append", "ndx-append-keys"},
        {"append", "ndx-pages-part-written"}, {"append", "ndx-split-part-written"},
        {"append", "ndx-change-unmarking"},   {"replace", "ndx-change-marked"},
        {"replace", "ndx-replace-keys"},      {"replace", "ndx-pages-part-written"},
        {"replace", "ndx-change-unmarking"},
    };
    constexpr int kSurvivors = 3;
    int runs = 0, wrong = 0;
    for (const KillPoint& p : points) {
        for (bool openFirst : {false, true}) {
            SCOPED_TRACE(std::string(p.op) + " at " + p.step +
                         (openFirst ? ", opened before the next change" : ""));
            kjtest::TempDir dir;
            const std::string table = dir.file("poster.dbf");
            ASSERT_TRUE(MakeIndexedPostings(table, 300));
            Mdx::SetDefaultReadTimeoutTicks(18 * 20);  // a stalled writer fails within 20 s

            std::vector<std::unique_ptr<Station>> survivors;
            for (int i = 0; i < kSurvivors; ++i) {
                survivors.push_back(std::make_unique<Station>("Survivor", table,
                                                              Args{{"SEED", std::to_string(i)}}));
                ASSERT_TRUE(survivors.back()->Says("ready"));
            }
            ASSERT_TRUE(
                KilledAtItsStep("StoppedWriter", table, {{"OP", p.op}, {"KJ_STOP_AT", p.step}}));
            std::string first = openFirst ? OpenBesideAndCheck(table) : "";
            for (auto& k : survivors) k->WriteLine("go");
            for (auto& k : survivors) EXPECT_TRUE(k->Says("ok", 60000));
            std::string beside = OpenBesideAndCheck(table), alone;
            for (auto& k : survivors) k->WriteLine("end");
            for (auto& k : survivors) EXPECT_EQ(k->Wait(), 0);
            Dbf4::Select(1);
            Dbf4::Use(table);
            alone = TzNdx::OpenIndexOrRebuild(PostTags()) ? IndexAgrees()
                                                          : TzCommon::LastErrorMessage();
            Dbf4::CloseAll();
            EXPECT_EQ(first, "");
            EXPECT_EQ(beside, "");
            EXPECT_EQ(alone, "");
            ++runs;
            if (!first.empty() || !beside.empty() || !alone.empty()) ++wrong;
        }
    }
    Mdx::SetDefaultReadTimeoutTicks(Mdx::kDefaultReadTimeoutTicks);
    std::printf("kill points: %d, wrong index afterwards: %d\n", runs, wrong);
}

// The keys of a tag for every record, from the records themselves (an area without index).
std::vector<std::string> KeysOf(const std::string& table, const std::string& expression) {
    const int area = Dbf4::CurrentWorkArea();
    Dbf4::Select(9);
    Dbf4::Use(table + " ALIAS KEYS");
    TzParser::ExprBlock* e = TzParser::AssignExpr(expression);
    std::vector<std::string> keys;
    for (int32_t r = 1; r <= Dbf4::RecCount(); ++r) {
        Dbf4::Go(r);
        TzParser::Evaluate(e);
        keys.push_back(TzParser::ResultString(e));
    }
    TzParser::FreeExpr(e);
    Dbf4::CloseArea();
    Dbf4::Select(area);
    return keys;
}

// The rest of a walk that stood on the record `at` of `head`, against the table as it is now:
// "" when it lists, in key order, each record whose key follows the one stood on exactly
// once (records behind it are not listed again), else what is wrong.
std::string WalkGoesOn(const std::vector<std::string>& keys, const std::vector<int32_t>& head,
                       const std::vector<int32_t>& rest) {
    const std::string& from = keys[size_t(head.back() - 1)];
    std::set<int32_t> want, seen(head.begin(), head.end());
    for (int32_t r = 1; r <= int32_t(keys.size()); ++r)
        if (keys[size_t(r - 1)] > from || (keys[size_t(r - 1)] == from && !seen.count(r)))
            want.insert(r);
    std::string prev = from;
    for (int32_t r : rest) {
        if (r < 1 || r > int32_t(keys.size())) return "record " + std::to_string(r) + " unknown";
        if (!seen.insert(r).second) return "record " + std::to_string(r) + " twice";
        if (keys[size_t(r - 1)] < prev) return "record " + std::to_string(r) + " out of order";
        prev = keys[size_t(r - 1)];
        want.erase(r);
    }
    return want.empty() ? "" : std::to_string(want.size()) + " records left out";
}

// A station stands in the middle of each tag (one area per tag) while a writer is killed at
// a named step of its change: the posting appended carries the keys of the record that
// follows the station in each tag, the record rewritten is that one. Each walk then goes
// on over every record ahead once, in key order, and the record changed is found from its
// record number: the station does not trust pages read before the writer died.
TEST(NdxStations, WalkBesideAWriterKilledMidChangeGoesOnWhole) {
    // Each a step of the one change (the rewrite's new keys split a page).
    const KillPoint points[] = {
        {"append", "ndx-change-marked"},       {"append", "ndx-append-keys"},
        {"append", "ndx-split-part-written"},  {"append", "ndx-change-unmarking"},
        {"replace", "ndx-change-marked"},      {"replace", "ndx-replace-keys"},
        {"replace", "ndx-split-part-written"}, {"replace", "ndx-change-unmarking"}};
    const int tags = int(PostTags().size());
    for (const KillPoint& p : points) {
        SCOPED_TRACE(std::string(p.op) + " killed at " + p.step);
        kjtest::TempDir dir;
        const std::string table = dir.file("poster.dbf");
        ASSERT_TRUE(MakeIndexedPostings(table, 200, true));
        // The record the writer copies or rewrites: entry 100 of POSTANS (one not first in
        // any tag); each area stands on the entry before it.
        ASSERT_TRUE(TzNdx::SetOrderToTag("POSTANS"));
        const std::vector<int32_t> byAns = Walk(true);
        int32_t target = 0;
        for (size_t i = 99; i < byAns.size() && target == 0; ++i) {
            target = byAns[i];
            for (int t = 1; t <= tags; ++t) {
                TzNdx::Set_Order_To(t);
                if (Walk(true).front() == target) target = 0;
            }
        }
        ASSERT_NE(target, 0);
        Dbf4::CloseAll();
        std::vector<std::vector<int32_t>> heads(PostTags().size());
        for (int t = 1; t <= tags; ++t) {
            Dbf4::Select(t);
            Dbf4::Use(table + " ALIAS P" + std::to_string(t));
            TzNdx::SetIndexTo("poster.mdx");
            TzNdx::Set_Order_To(t);
            auto& head = heads[size_t(t - 1)];
            for (Dbf4::GoTop(); !Dbf4::dEOF() && Dbf4::RecNo() != target; Dbf4::Skip(1))
                head.push_back(Dbf4::RecNo());
            ASSERT_FALSE(head.empty());
            Dbf4::Skip(-1);
            ASSERT_EQ(Dbf4::RecNo(), head.back());
        }
        const bool append = std::string(p.op) == "append";
        ASSERT_TRUE(KilledAtItsStep("StoppedWriter", table,
                                    {{"OP", p.op},
                                     {"VALUES", std::to_string(append ? target : byAns.front())},
                                     {"RECORD", std::to_string(target)},
                                     {"KJ_STOP_AT", p.step}}));
        const int32_t changed = append ? 201 : target;
        // The first read after the kill is a search, which finds the record stood on again.
        Dbf4::Select(1);
        EXPECT_NO_THROW(
            TzNdx::Find(KeysOf(table, TzNdx::TagExpression(1))[size_t(heads.front().back() - 1)]));
        EXPECT_EQ(Dbf4::RecNo(), heads.front().back());
        for (int t = 1; t <= tags; ++t) {
            SCOPED_TRACE("tag " + TzNdx::TagName(t));
            Dbf4::Select(t);
            std::vector<int32_t> rest;
            std::string walk, go;
            try {
                for (Dbf4::Skip(1); !Dbf4::dEOF(); Dbf4::Skip(1)) rest.push_back(Dbf4::RecNo());
            } catch (const TzCommon::ETzError& e) {
                walk = e.what();
            }
            if (walk.empty())
                walk =
                    WalkGoesOn(KeysOf(table, TzNdx::TagExpression(t)), heads[size_t(t - 1)], rest);
            try {
                Dbf4::Go(changed);
            } catch (const TzCommon::ETzError& e) {
                go = e.what();
            }
            std::printf("%s at %s, tag %s: %zu records before the kill, %zu after%s%s\n", p.op,
                        p.step, TzNdx::TagName(t).c_str(), heads[size_t(t - 1)].size(), rest.size(),
                        walk.empty() ? "" : (", " + walk).c_str(),
                        go.empty() ? "" : ", its Go fails");
            EXPECT_EQ(walk, "");
            EXPECT_EQ(go, "");
        }
        Dbf4::CloseAll();
    }
}

// Another program cuts a file short that a station has open and mapped: the station's next
// steps do not end it with SIGBUS. Its semaphore record reads as zeros, as with plain
// calls, and the walk goes on; pages missing from its index are reported.
TEST(NdxStations, FileCutShortUnderAStationDoesNotEndIt) {
    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf");
    ASSERT_TRUE(MakeIndexedPostings(table, 300));
    for (const auto& [file, outcome] :
         {std::pair<std::string, std::string>{Mdx::SemaphoreFileName(table), "walked"},
          {tz::ResolveName(dir.file("poster.mdx")), "error"}}) {
        SCOPED_TRACE(file);
        Station reader("Reader", table);
        ASSERT_TRUE(reader.Says("ready"));
        ASSERT_EQ(::truncate(file.c_str(), 0), 0);
        reader.WriteLine("walk");
        const std::string reply = reader.ReadLine(20000);
        EXPECT_EQ(reply, outcome);
        if (reply == "walked") reader.WriteLine("quit");  // after "error" it ends by itself
        EXPECT_EQ(reader.Wait(), 0);
    }
}

// What a station reads of the postings beside a file cut short under its mapping: each
// tag walked whole ("ok"), or a failure's code; a walk that ended early with no failure is
// named ("N records" of the 300).
std::string WalkEveryTag() {
    std::string out;
    for (const TzNdx::TagDescriptor& t : PostTags()) {
        int walked = 0;
        uint16_t code = 0;
        try {
            TzNdx::SetOrderToTag(t.name);
            for (Dbf4::GoTop(); !Dbf4::dEOF() && walked < 1000; Dbf4::Skip(1)) ++walked;
            code = TzCommon::ErrorWord();
        } catch (const TzCommon::ETzError&) {
            code = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : 1;
        }
        TzCommon::ClearErrorWord();
        out += " " + t.name + ":";
        out += code != 0       ? std::to_string(code)
               : walked == 300 ? "ok"
                               : std::to_string(walked) + " records";
    }
    return out;
}

// Another program cuts the index short while a station has it open and mapped. Bytes past
// the new end up to the end of that memory page read as zeros through the mapping, with no
// fault; a page that reaches past the end is missing all the same, wherever the cut falls:
// every tag is walked whole or its walk fails, never ends early as if its pages were empty.
TEST(NdxStations, IndexCutInsideAMemoryPageIsMissingWhereverTheCutFalls) {
    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf");
    for (const uint64_t cut : {2048u, 3000u, 8192u, 8704u, 9216u, 10240u, 11000u, 12287u, 19384u}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ASSERT_TRUE(MakeIndexedPostings(table, 300, true));
        const std::string mdx = tz::ResolveName(dir.file("poster.mdx"));
        ASSERT_EQ(::truncate(mdx.c_str(), off_t(cut)), 0);
        const std::string walks = WalkEveryTag();
        std::printf("index cut at %llu bytes:%s\n", static_cast<unsigned long long>(cut),
                    walks.c_str());
        EXPECT_EQ(walks.find("records"), std::string::npos) << walks;
        EXPECT_NE(walks.find(":222"), std::string::npos) << walks;
        Dbf4::CloseAll();
    }
}

// Another program cuts the table short inside a memory page while a station has it open,
// mapped and locked: a record that reaches past the new end is missing (the walk ends
// before it, or fails there), not read as the zeros the mapping shows there; records
// before it read as they are.
TEST(NdxStations, TableCutInsideAMemoryPageIsMissingWhereverTheCutFalls) {
    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf");
    kjtest::MakePostings(table, 300);
    const std::string whole = kjtest::ReadFile(table);
    constexpr size_t kHeader = 32 * 17 + 33, kRecord = 187;
    for (const size_t cut : {kHeader + 200 * kRecord, kHeader + 200 * kRecord + 90, size_t(40960),
                             size_t(40960 + 1000), size_t(45056 - 1)}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ResetEngine();
        TzCommon::SetErrorChecking(0);
        kjtest::WriteFile(table, whole);
        Dbf4::Select(1);
        Dbf4::Use(table);
        // Under the file lock the count is not asked again at every step.
        ASSERT_TRUE(Dbf4::FLock());
        Dbf4::GoTop();
        Dbf4::Skip(1);  // the table mapped
        const int32_t whole_records = int32_t((cut - kHeader) / kRecord);
        Dbf4::Go(whole_records - 3);
        ASSERT_EQ(::truncate(table.c_str(), off_t(cut)), 0);
        std::string silent;
        int32_t walked = 0;
        // Stepping reads through the mapping; the walk ends at the first failure.
        try {
            for (Dbf4::Skip(1); !Dbf4::dEOF() && TzCommon::ErrorWord() == 0; Dbf4::Skip(1)) {
                const int32_t r = Dbf4::RecNo();
                const std::string bytes(
                    reinterpret_cast<const char*>(Dbf4::RecordOf(*Dbf4::Current())), kRecord);
                const size_t at = kHeader + size_t(r - 1) * kRecord;
                if (bytes != whole.substr(at, kRecord)) silent += " " + std::to_string(r);
                ++walked;
            }
        } catch (const TzCommon::ETzError&) {
        }
        // The walk ends at the last whole record (the count put right) or with a failure
        // on the step to the first record missing.
        if (TzCommon::ErrorWord() == 0) {
            EXPECT_EQ(walked, 3) << "records walked up to the cut";
        } else {
            // The step onto the first record missing failed (code 100 or 38), and left the
            // area on the last whole one.
            EXPECT_EQ(Dbf4::RecNo(), whole_records) << "code " << TzCommon::ErrorWord();
        }
        TzCommon::ClearErrorWord();
        EXPECT_EQ(silent, "") << "records read wrongly with no error";
        Dbf4::Unlock();
        Dbf4::CloseAll();
    }
}

class NdxStationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MakeIndexedPostings(table, 300, true));
        Mdx::SetDefaultReadTimeoutTicks(18);  // a stalled writer fails in about a second
    }
    void TearDown() override {
        Mdx::SetDefaultReadTimeoutTicks(1820);
        Dbf4::CloseAll();
    }
    void AppendOne(int i) {
        Dbf4::Select(1);
        ASSERT_TRUE(Dbf4::FLock());
        kjtest::FillPosting(i);
        try {
            Dbf4::Append();
        } catch (const TzCommon::ETzError& e) {
            ADD_FAILURE() << e.what();
        }
        Dbf4::Unlock();
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }

    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf");
};

// A station killed while it reads through a tag leaves its read count in the semaphore
// file; the other stations' writes go on at once, and the last close removes the file.
TEST_F(NdxStationsTest, KilledReaderDoesNotStallWriters) {
    for (int kill = 0; kill < 3; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        Station child("Reader", table, {{"KJ_STOP_AT", "ndx-next-key"}});
        ASSERT_TRUE(child.Says("ready"));
        ASSERT_TRUE(child.StopsAfter("walk"));
        EXPECT_GE(kjtest::ReadFile(Mdx::SemaphoreFileName(table))[1], 1);  // its count
        child.KillAndReap();
        AppendOne(1000 + kill);
    }
    EXPECT_EQ(Dbf4::RecCount(), 303);
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
    EXPECT_FALSE(tz::Exists(Mdx::SemaphoreFileName(table)));
}

// Another station adds a tag: while it builds, this station's reads go on (only writers
// wait), and afterwards this station has the new tag without opening the index again.
TEST_F(NdxStationsTest, TagAddedByAnotherStationIsTakenIn) {
    Station child("Reader", table, {{"KJ_STOP_AT", "ndx-tag-built"}});
    ASSERT_TRUE(child.Says("ready"));
    ASSERT_TRUE(child.StopsAfter("add"));
    Dbf4::Select(1);
    // A read no longer waits for the build (it would fail with 1202 after the record lock's
    // 1,001 tries).
    ASSERT_NO_THROW(Dbf4::GoTop());
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
    EXPECT_EQ(TagsAgree(), "");  // every tag walked while the other station builds
    EXPECT_EQ(TzNdx::TagCount(), 5);
    ::kill(child.pid(), SIGCONT);
    ASSERT_TRUE(child.Says("added"));
    Dbf4::GoTop();  // the next read sees the changed index
    EXPECT_EQ(TzNdx::TagCount(), 6);
    EXPECT_TRUE(TzNdx::SetOrderToTag("POSTBEM"));
    EXPECT_EQ(TzNdx::CurrentTagName(), "POSTBEM");
    EXPECT_EQ(TagsAgree(), "");
    AppendOne(2000);  // a write keeps the new tag up to date too
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_EQ(child.End("quit"), 0);
}

// A station that adds a tag finds, when it takes the writer lock to enter the tag, the
// count of a station killed while it read; clearing that count makes it read the index
// header again, and the new tag is entered all the same.
TEST_F(NdxStationsTest, TagAddedWhileADeadStationsCountIsClearedIsKept) {
    Station adder("Reader", table, {{"KJ_STOP_AT", "ndx-tag-built"}});
    ASSERT_TRUE(adder.Says("ready"));
    ASSERT_TRUE(adder.StopsAfter("add"));
    {
        Station reader("Reader", table, {{"KJ_STOP_AT", "ndx-next-key"}});
        ASSERT_TRUE(reader.Says("ready"));
        ASSERT_TRUE(reader.StopsAfter("walk"));
        EXPECT_GE(kjtest::ReadFile(Mdx::SemaphoreFileName(table))[1], 2);  // both counts
        reader.KillAndReap();
    }
    ::kill(adder.pid(), SIGCONT);
    ASSERT_TRUE(adder.Says("added"));
    Dbf4::Select(1);
    Dbf4::GoTop();
    EXPECT_EQ(TzNdx::TagCount(), 6);
    EXPECT_TRUE(TzNdx::SetOrderToTag("POSTBEM"));
    EXPECT_EQ(TzNdx::CurrentTagName(), "POSTBEM");
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_EQ(adder.End("quit"), 0);
}

// This station stands past the end of an order when another station appends a record
// that sorts last: stepping back from the end lands on that record (its number is the old
// end's), never on an empty view; the bottom, the top and a search see it as well.
TEST_F(NdxStationsTest, StepBackFromTheEndFindsARecordAnotherStationAppended) {
    Station other("Appender", table);
    ASSERT_TRUE(other.Says("ready"));
    Dbf4::Select(1);
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
    Dbf4::GoBottom();
    Dbf4::Skip(1);
    ASSERT_TRUE(Dbf4::dEOF());
    ASSERT_EQ(Dbf4::RecNo(), 301);

    other.WriteLine("append");
    ASSERT_TRUE(other.Says("appended"));
    Dbf4::Skip(-1);
    EXPECT_FALSE(Dbf4::dBOF());
    EXPECT_FALSE(Dbf4::dEOF());
    EXPECT_EQ(Dbf4::RecNo(), 301);
    EXPECT_EQ(GetC(1), "ZZZZ0     ");
    Dbf4::Skip(-1);
    EXPECT_FALSE(Dbf4::dBOF());
    EXPECT_LT(GetC(1), "ZZZZ0");

    // The same step back when the count was taken again at the end (a grid asks for it).
    Dbf4::GoBottom();
    Dbf4::Skip(1);
    ASSERT_EQ(Dbf4::RecNo(), 302);
    other.WriteLine("append");
    ASSERT_TRUE(other.Says("appended"));
    EXPECT_EQ(Dbf4::RecCount(), 302);
    EXPECT_TRUE(Dbf4::dEOF());
    Dbf4::Skip(-1);
    EXPECT_FALSE(Dbf4::dBOF());
    EXPECT_EQ(Dbf4::RecNo(), 302);
    EXPECT_EQ(GetC(1), "ZZZZ1     ");

    other.WriteLine("append");
    ASSERT_TRUE(other.Says("appended"));
    Dbf4::GoBottom();
    EXPECT_EQ(Dbf4::RecNo(), 303);
    Dbf4::GoTop();
    EXPECT_FALSE(Dbf4::dEOF());
    Dbf4::Skip(-1);
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_FALSE(Dbf4::dEOF());
    EXPECT_TRUE(TzNdx::Find("ZZZZ2"));
    EXPECT_EQ(Dbf4::RecNo(), 303);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    EXPECT_EQ(other.End("quit"), 0);
}

// The tags cannot be built again beside a writer that died mid-change (no disk space): the
// walk is refused naming the full disk at each step, without trying again while the disk
// has no more room, until another station has built them; then it goes on.
TEST_F(NdxStationsTest, ReaderRefusedUntilAnotherStationBuildsTheTags) {
    Dbf4::Select(1);
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTANS"));
    Dbf4::GoTop();
    Dbf4::Skip(99);
    ASSERT_TRUE(
        KilledAtItsStep("StoppedWriter", table,
                        {{"OP", "append"}, {"VALUES", "7"}, {"KJ_STOP_AT", "ndx-append-keys"}}));
    static int builds = 0;
    // Builds ask for the room on the index file's disk; a refused read asks for its
    // folder's (whether room was freed), which is no build.
    TzNdx::SetDiskFreeProc([](const std::string& path) -> int64_t {
        if (path.empty() || path.back() != '/') ++builds;
        return 0;
    });
    int tried = 0;
    for (int i = 0; i < 2; ++i) {
        try {
            Dbf4::Skip(1);
            ADD_FAILURE() << "the step was not refused";
        } catch (const TzCommon::ETzError& e) {
            EXPECT_NE(std::string(e.what()).find("Disken er fuld: "), std::string::npos)
                << e.what();
        }
        if (i == 0) tried = builds;
    }
    EXPECT_GT(tried, 0);
    EXPECT_EQ(builds, tried);  // the second step did not try to build
    TzNdx::SetDiskFreeProc(nullptr);
    Station other("Changer", table);
    ASSERT_TRUE(other.Says("ready"));  // its open built the tags again
    Dbf4::Select(1);
    std::vector<int32_t> rest;
    for (Dbf4::Skip(1); !Dbf4::dEOF(); Dbf4::Skip(1)) rest.push_back(Dbf4::RecNo());
    EXPECT_GE(rest.size(), 200u);
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_EQ(other.End("end"), 0);
    Dbf4::CloseAll();
    Dbf4::Use(table);
    EXPECT_NO_THROW(TzNdx::SetIndexTo("poster.mdx"));  // no mark left behind
}

// Each repair of the tags inside the open file (here by a read beside a writer killed part-way)
// writes them into the pages that no tag uses any more, those of the repair before, so
// repairs do not grow the file without end; a repair killed while it writes them leaves an
// index that the next station builds again, and every record is found through every tag.
TEST_F(NdxStationsTest, RepairsReuseFreedPagesAndSurviveAKill) {
    const std::string mdx = tz::ResolveName(dir.file("poster.mdx"));
    auto stop = [&](const std::string& helper, const std::string& step, int values) {
        return KilledAtItsStep(
            helper, table,
            {{"OP", "append"}, {"VALUES", std::to_string(values)}, {"KJ_STOP_AT", step}});
    };
    std::vector<size_t> sizes{kjtest::ReadFile(mdx).size()};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(stop("StoppedWriter", "ndx-append-keys", 7 + i));
        Dbf4::Select(1);
        Dbf4::GoTop();  // the read builds the tags again
        EXPECT_EQ(TagsAgree(), "");
        sizes.push_back(kjtest::ReadFile(mdx).size());
    }
    std::printf("index built: %zu bytes; after each repair: %zu, %zu, %zu\n", sizes[0], sizes[1],
                sizes[2], sizes[3]);
    EXPECT_LT(sizes[3] - sizes[1], (sizes[1] - sizes[0]) / 4);
    EXPECT_TRUE(stop("StoppedWriter", "ndx-append-keys", 11));
    EXPECT_TRUE(stop("Changer", "ndx-rebuild-tag-written", 0));    // its open repairs
    EXPECT_EQ(kjtest::ReadFile(mdx)[TzNdx::kMaintenanceMark], 1);  // trusted by no station
    Dbf4::Select(1);
    Dbf4::GoTop();
    EXPECT_EQ(IndexAgrees(), "");
    EXPECT_EQ(Dbf4::RecCount(), 304);
}

// A tag added while this station's own repair of the index is due (it failed for want of
// space), and a station that counted in meanwhile dies (its count cleared at the writer
// lock, the tag table is read again without the new tag): the repair at the writer lock
// does not put its pages where the new tag's pages lie, and every tag agrees with the
// table afterwards.
TEST_F(NdxStationsTest, RepairDueWhileATagIsAddedKeepsTheNewTagsPages) {
    tz::File raw;
    ASSERT_EQ(raw.Open(tz::ResolveName(dir.file("poster.mdx")), tz::Access::ReadWrite,
                       tz::ShareMode::DenyNone),
              0);
    const uint8_t one = 1;
    ASSERT_EQ(raw.WriteAt(TzNdx::kMaintenanceMark, &one, 1), 0);
    raw.Close();
    TzNdx::SetDiskFreeProc([](const std::string&) -> int64_t { return 0; });
    Dbf4::Select(1);
    ASSERT_TRUE(Dbf4::FLock());
    kjtest::FillPosting(5);
    EXPECT_THROW(Dbf4::Append(), TzCommon::ETzError);  // the repair before it fails
    Dbf4::Unlock();
    TzNdx::SetDiskFreeProc(nullptr);
    static std::string sem;
    sem = Mdx::SemaphoreFileName(table);
    TzNdx::SetProgressProc(
        [] {  // a station counts in beside the build and dies, once
            std::string record = kjtest::ReadFile(sem);
            if (record.size() < 2 || record[1] != 1) return;
            record[1] = 2;
            kjtest::WriteFile(sem, record);
        },
        4);
    const bool added = TzNdx::AddIndexTag({"POSTBEM", "UPPER(POST_BEM)", "", false, false}, false);
    TzNdx::SetProgressProc(nullptr, 0);
    ASSERT_TRUE(added) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TzNdx::TagCount(), 6);
    EXPECT_EQ(TagsAgree(), "");
}

// An index built again inside its file (a writer left it marked) and then changed, round
// after round, stops growing: the build packs the tags full, so the changes that follow
// split pages at once, and the splits take the pages that no tag uses (those of the tags
// before the build) before the file grows.
TEST_F(NdxStationsTest, RepairedAndChangedRoundAfterRoundTheIndexStopsGrowing) {
    const std::string mdx = tz::ResolveName(dir.file("poster.mdx"));
    tz::File raw;
    ASSERT_EQ(raw.Open(mdx, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    std::mt19937 rng{11};
    std::vector<size_t> sizes;
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        const uint8_t one = 1;  // as a writer killed part-way leaves it
        ASSERT_EQ(raw.WriteAt(TzNdx::kMaintenanceMark, &one, 1), 0);
        for (int i = 0; i < 20; ++i) {  // the first change builds the tags again
            Dbf4::Go(1 + int32_t(rng() % 300));
            ASSERT_TRUE(Dbf4::RLock());
            kjtest::FillPosting(int(rng() % 20000));
            Dbf4::Replace();
            Dbf4::Unlock();
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        }
        sizes.push_back(kjtest::ReadFile(mdx).size());
    }
    std::printf(
        "index after rounds 1, 10, 20 and 40 of a repair and 20 changes: %zu, %zu, %zu, "
        "%zu bytes\n",
        sizes[0], sizes[9], sizes[19], sizes[kRounds - 1]);
    EXPECT_EQ(TagsAgree(), "");
    EXPECT_LE(sizes[kRounds - 1], sizes[9] + 8192) << "the index grew on";
}

// A step in an order costs the index semaphore's read count, raised and lowered (the record
// lock each time, and the station's reader slot), and nothing more: the semaphore record,
// the table's record and the tag's pages come through the files' mappings, and the count
// is not asked.
// In tag order both ways, in natural order with the index open, and under the file lock.
TEST_F(NdxStationsTest, AStepCostsTheReadCountAlone) {
    constexpr int kSteps = 40;
    struct Case {
        const char* name;
        const char* tag;
        int step;
        bool fileLock;
    };
    for (const Case& c :
         {Case{"tag order", "POSTSAG", 1, false}, Case{"tag order backward", "POSTSAG", -1, false},
          Case{"natural order", "", 1, false}, Case{"natural order backward", "", -1, false},
          Case{"tag order, file lock", "POSTANS", 1, true}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(TzNdx::SetOrderToTag(c.tag));
        if (c.fileLock) {
            ASSERT_TRUE(Dbf4::FLock());
        }
        if (c.step > 0) {
            Dbf4::GoTop();
        } else {
            Dbf4::GoBottom();
        }
        Dbf4::Skip(c.step);
        tz::CallCounts calls;
        tz::SetCallCounts(&calls);
        int64_t sum = 0;
        for (int i = 0; i < kSteps; ++i) {
            sum += kjtest::ReadPostingField();
            Dbf4::Skip(c.step);
        }
        tz::SetCallCounts(nullptr);
        if (c.fileLock) Dbf4::Unlock();
        EXPECT_GT(sum, 0);
        EXPECT_FALSE(Dbf4::dEOF() || Dbf4::dBOF());
        EXPECT_EQ(calls.sizes, 0);
        EXPECT_EQ(calls.reads, 0);  // the semaphore record through its mapping
        EXPECT_EQ(calls.writes, 0);
        EXPECT_EQ(calls.locks, 6 * kSteps);  // record lock twice, reader slot once each way
        EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }
}

// Beside another station counted in as a reader (stopped inside its walk, its count held),
// a step costs one lock call more than alone: the look for writers waiting. The counts are
// not asked whether a dead writer holds one, since no writer came since this station last
// looked (the change counter stayed).
TEST_F(NdxStationsTest, AStepBesideAnotherCountedStationAsksNoSlots) {
    constexpr int kSteps = 40;
    Station other("Reader", table, {{"KJ_STOP_AT", "ndx-next-key"}});
    ASSERT_TRUE(other.Says("ready"));
    ASSERT_TRUE(other.StopsAfter("walk"));
    ASSERT_EQ(kjtest::ReadFile(Mdx::SemaphoreFileName(table))[1], 1);  // its count
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
    Dbf4::GoTop();
    Dbf4::Skip(1);
    tz::CallCounts calls;
    tz::SetCallCounts(&calls);
    int64_t sum = 0;
    for (int i = 0; i < kSteps; ++i) {
        sum += kjtest::ReadPostingField();
        Dbf4::Skip(1);
    }
    tz::SetCallCounts(nullptr);
    EXPECT_GT(sum, 0);
    EXPECT_EQ(calls.sizes, 0);
    EXPECT_EQ(calls.locks, 7 * kSteps);  // the record lock twice, the slot, writers waiting
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    other.KillAndReap();
}

// Another station's read count on the table's index, through a handle of its own, taken
// before this station steps once in the POSTSAG order (counted in and out beside it).
struct OtherReadCount {
    tz::File raw;
    Mdx::IndexSemaphore sem;
    void Take(const std::string& table) {
        ASSERT_EQ(raw.Open(table, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        sem.Configure(Mdx::SemaphoreFileName(table), &raw, false);
        ASSERT_EQ(sem.Login(), 0);
        ASSERT_EQ(sem.IncRead(), 0);
        ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
        Dbf4::GoTop();
        Dbf4::Skip(1);
    }
};

// A reader that last saw another station's read count finds, at its next step, the same
// count in the file held by a writer killed in its change (the reader gone meanwhile, the
// writer come): it looks for the dead writer all the same (the writer moved the change
// counter on as it came) and has the index repaired before it reads on.
TEST_F(NdxStationsTest, AWriterKilledWhereAReaderWasIsFoundAtTheNextStep) {
    const std::string sem = Mdx::SemaphoreFileName(table);
    OtherReadCount count;
    ASSERT_NO_FATAL_FAILURE(count.Take(table));
    Mdx::IndexSemaphore& other = count.sem;
    ASSERT_EQ(kjtest::ReadFile(sem)[1], 1);
    ASSERT_EQ(other.DecRead(), 0);
    ASSERT_TRUE(KilledAtItsStep("StoppedWriter", table,
                                {{"KJ_STOP_AT", "ndx-append-keys"}, {"OP", "append"}}));
    ASSERT_EQ(kjtest::ReadFile(sem)[1], 1);  // the dead writer's count where the reader's was
    Dbf4::Skip(1);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 0);
    // The repair took in the record the writer left without its keys.
    EXPECT_EQ(Dbf4::RecCount(), 301);
    EXPECT_EQ(TagsAgree(), "");
    ASSERT_EQ(other.Logout(), 0);
}

// Writes bytes into a file that stations have open, in place (as another station or a
// writer killed part-way leaves them).
void PokeFile(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
    tz::File raw;
    ASSERT_EQ(raw.Open(tz::ResolveName(path), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    ASSERT_EQ(raw.WriteAt(at, bytes.data(), bytes.size()), 0);
    raw.Close();
}

// The maintenance mark as the index file holds it (-1: no file).
int MarkInFile(const std::string& mdx) {
    const std::string bytes = kjtest::ReadFile(mdx);
    return bytes.size() > TzNdx::kMaintenanceMark ? int(uint8_t(bytes[TzNdx::kMaintenanceMark]))
                                                  : -1;
}

// The change counter comes round again between two reads of this station (32,768 writes
// of other stations, each moving it on twice), a writer killed in its change among them:
// the next read finds the dead writer's count all the same and has the index repaired
// before it reads on.
TEST_F(NdxStationsTest, AWriterKilledWhileTheChangeCounterCameRoundIsFound) {
    const std::string sem = Mdx::SemaphoreFileName(table);
    OtherReadCount count;
    ASSERT_NO_FATAL_FAILURE(count.Take(table));
    Mdx::IndexSemaphore& other = count.sem;
    ASSERT_EQ(other.DecRead(), 0);
    const std::string before = kjtest::ReadFile(sem);
    ASSERT_GE(before.size(), 4u);
    ASSERT_TRUE(KilledAtItsStep("StoppedWriter", table,
                                {{"KJ_STOP_AT", "ndx-append-keys"}, {"OP", "append"}}));
    ASSERT_EQ(kjtest::ReadFile(sem)[1], 1);  // the dead writer's count
    // The counter as this station last saw it: where 65,536 moves bring it.
    ASSERT_NO_FATAL_FAILURE(PokeFile(sem, 2, {uint8_t(before[2]), uint8_t(before[3])}));
    Dbf4::Skip(1);
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 0) << "the dead writer's count was not found";
    EXPECT_EQ(MarkInFile(tz::ResolveName(dir.file("poster.mdx"))), 0)
        << "the half-written index was read without a repair";
    EXPECT_EQ(Dbf4::RecCount(), 301);
    EXPECT_EQ(TagsAgree(), "");
    ASSERT_EQ(other.Logout(), 0);
}

// A repair that another station's read count keeps out (that station stopped in its walk)
// waits the read time-out once; the reads after it try the writer lock once each, without
// waiting, and are refused at once, until the count has gone; the next read then repairs.
TEST_F(NdxStationsTest, ARepairKeptOutByAReaderTriesTheLockOnceAtEachReadUntilItIsFree) {
    Dbf4::CloseAll();  // opened again with the short read time-out
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::SetIndexTo("poster.mdx");
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
    Dbf4::GoTop();
    Station reader("Reader", table, {{"KJ_STOP_AT", "ndx-next-key"}});
    ASSERT_TRUE(reader.Says("ready"));
    ASSERT_TRUE(reader.StopsAfter("walk"));
    // As a writer killed part-way leaves the index once its count is dropped: marked, the
    // change counter moved on.
    const std::string sem = Mdx::SemaphoreFileName(table);
    ASSERT_NO_FATAL_FAILURE(PokeFile(dir.file("poster.mdx"), TzNdx::kMaintenanceMark, {1}));
    const std::string record = kjtest::ReadFile(sem);
    const uint16_t counter = uint16_t(uint8_t(record[2]) | (uint8_t(record[3]) << 8)) + 2;
    ASSERT_NO_FATAL_FAILURE(PokeFile(sem, 2, {uint8_t(counter), uint8_t(counter >> 8)}));
    EXPECT_THROW(Dbf4::Skip(1), TzCommon::ETzError);  // waited the read time-out
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::SemaphoreError);
    for (int i = 0; i < 4; ++i) {
        tz::CallCounts calls;
        tz::SetCallCounts(&calls);
        EXPECT_THROW(Dbf4::Skip(1), TzCommon::ETzError);
        tz::SetCallCounts(nullptr);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::SemaphoreError);
        EXPECT_LT(calls.locks, 100) << "read " << i + 2 << " waited for the writer lock again";
    }
    reader.KillAndReap();
    EXPECT_NO_THROW(Dbf4::Skip(1)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(MarkInFile(tz::ResolveName(dir.file("poster.mdx"))), 0);
    EXPECT_EQ(TagsAgree(), "");
}

// Steps in tag order show what another station wrote after the walk began: through the
// table's mapping, and with plain reads where the file cannot be mapped.
TEST_F(NdxStationsTest, StepsInTagOrderShowOtherStationsChange) {
    Station other("Changer", table);
    ASSERT_TRUE(other.Says("ready"));
    Dbf4::Select(1);
    ASSERT_TRUE(TzNdx::SetOrderToTag("POSTSAG"));
    const int bem = Dbf4::FieldNo("POST_BEM");
    for (bool mapped : {true, false}) {
        SCOPED_TRACE(mapped ? "mapped" : "plain reads");
        Dbf4::Current()->mapRefused = !mapped;
        const std::vector<int32_t> order = Walk(true);
        ASSERT_EQ(order.size(), 300u);
        const std::string text = mapped ? "seen mapped" : "seen read";
        Dbf4::GoTop();
        for (size_t i = 0; i + 3 < 60; i += 3) {  // standing on order[i]
            other.WriteLine("bem " + std::to_string(order[i + 2]) + " " + text);
            ASSERT_TRUE(other.Says("set"));
            Dbf4::Skip(1);
            Dbf4::Skip(1);
            ASSERT_EQ(Dbf4::RecNo(), order[i + 2]);
            EXPECT_EQ(TzUtils::TrimRight(GetC(bem)), text);
            other.WriteLine("bem " + std::to_string(order[i + 1]) + " " + text);
            ASSERT_TRUE(other.Says("set"));
            Dbf4::Skip(-1);
            ASSERT_EQ(Dbf4::RecNo(), order[i + 1]);
            EXPECT_EQ(TzUtils::TrimRight(GetC(bem)), text);
            Dbf4::Skip(2);
        }
    }
    EXPECT_EQ(other.End("end"), 0);
}

}  // namespace
