// Index engine speed on a 1,000,000-record postings table with its five tags: the full
// build, appends with every tag maintained (one station, shared table, semaphore protocol;
// under one file lock across all appends, and beside it with the append lock taken and let
// go around each record as the application posts a row),
// Find of random keys (each search counted in and out as a reader), and scans in natural
// and in tag order with the index open.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "bench/bench_tables.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"

namespace {

constexpr int kRecords = 1000000;

const std::vector<TzNdx::TagDescriptor> kPostTags = [] {
    std::vector<TzNdx::TagDescriptor> tags;
    for (const kjbench::TagText& t : kjbench::PostingsTags())
        tags.push_back({t.name, t.expression, "", false, false});
    return tags;
}();

// One table and index for all cases; whichever case runs first makes them.
kjbench::BenchDir& Dir() {
    static kjbench::BenchDir dir;
    return dir;
}

void OpenPostings(bool build) {
    static bool made = false;
    TzEngine::Startup();
    TzCommon::SetErrorChecking(0);
    if (!made) {
        kjbench::MakePostings(Dir().file("poster.dbf"), kRecords);
        made = true;
    }
    Dbf4::Select(1);
    Dbf4::Use(Dir().file("poster.dbf"));
    if (build) return;
    if (!tz::Exists(Dir().file("poster.mdx"))) TzNdx::MakeIndex(kPostTags);
    TzNdx::SetIndexTo("poster.mdx");
}

void BM_BuildFiveTags(benchmark::State& state) {
    OpenPostings(true);
    for (auto _ : state) {
        if (!TzNdx::MakeIndex(kPostTags)) state.SkipWithError("build failed");
    }
    state.SetItemsProcessed(state.iterations() * kRecords * 5);
    Dbf4::CloseAll();
}
BENCHMARK(BM_BuildFiveTags)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_AppendFiveTags(benchmark::State& state) {
    OpenPostings(false);
    Dbf4::ClearRecord();
    Dbf4::FLock();
    int i = 0;
    for (auto _ : state) {
        kjbench::FillPosting(++i * 31);
        Dbf4::Append();
    }
    if (TzCommon::ErrorWord() != 0) state.SkipWithError(TzCommon::LastErrorMessage().c_str());
    Dbf4::Unlock();
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("file lock held across all appends");
    Dbf4::CloseAll();
}
BENCHMARK(BM_AppendFiveTags)->Unit(benchmark::kMicrosecond)->Iterations(100000);

// The same with the append lock taken and released around every record, as the dataset
// components post a new row.
void BM_AppendFiveTagsLockPerRecord(benchmark::State& state) {
    OpenPostings(false);
    Dbf4::ClearRecord();
    int i = 0;
    for (auto _ : state) {
        Dbf4::ALock();
        kjbench::FillPosting(++i * 37);
        Dbf4::Append();
        Dbf4::Unlock();
    }
    if (TzCommon::ErrorWord() != 0) state.SkipWithError(TzCommon::LastErrorMessage().c_str());
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("append lock per record: the application's path");
    Dbf4::CloseAll();
}
BENCHMARK(BM_AppendFiveTagsLockPerRecord)->Unit(benchmark::kMicrosecond)->Iterations(100000);

// Finds of random case numbers, shared (each search counted in and out as a reader) or with
// the table open exclusively (no semaphore: the page reads alone). sizes_per_find counts
// the file-length looks per search: pages copied out of the mapping end in a zero byte,
// and each is checked against the file (a cut inside a memory page shows zeros).
void FindRandomKey(benchmark::State& state, bool exclusive) {
    OpenPostings(false);
    if (exclusive) {
        Dbf4::CloseAll();
        Dbf4::Select(1);
        Dbf4::Use(Dir().file("poster.dbf") + " EXCLUSIVE");
        TzNdx::SetIndexTo("poster.mdx");
    }
    TzNdx::SetOrderToTag("POSTSAG");
    std::mt19937 rng(7);
    int hits = 0;
    char key[16];
    tz::CallCounts calls;
    tz::SetCallCounts(&calls);
    for (auto _ : state) {
        std::snprintf(key, sizeof key, "S%06d", int(rng() % 20000));
        hits += TzNdx::Find(key) ? 1 : 0;
    }
    tz::SetCallCounts(nullptr);
    if (hits == 0) state.SkipWithError("nothing found");
    state.SetItemsProcessed(state.iterations());
    state.counters["sizes_per_find"] = double(calls.sizes) / double(state.iterations());
    state.SetLabel(exclusive ? "exclusive" : "shared");
    Dbf4::CloseAll();
}
void BM_FindRandomKey(benchmark::State& state) {
    FindRandomKey(state, false);
}
BENCHMARK(BM_FindRandomKey)->Unit(benchmark::kMicrosecond);
void BM_FindRandomKeyExclusive(benchmark::State& state) {
    FindRandomKey(state, true);
}
BENCHMARK(BM_FindRandomKeyExclusive)->Unit(benchmark::kMicrosecond);

// A scan in natural order with the index file open (no controlling tag), reading a field of
// every record, as the print-priority update walks the postings: each step still counts
// itself in and out of the semaphore file as a reader; shared, and under the file lock.
void NaturalScanIndexOpen(benchmark::State& state, bool fileLock) {
    OpenPostings(false);
    TzNdx::Set_Order_To(0);
    if (fileLock) Dbf4::FLock();
    int64_t records = 0, sum = 0;
    for (auto _ : state) {
        Dbf4::GoTop();
        while (!Dbf4::dEOF()) {
            sum += kjbench::ReadPostingField();
            Dbf4::Skip(1);
            ++records;
        }
    }
    benchmark::DoNotOptimize(sum);
    if (TzCommon::ErrorWord() != 0) state.SkipWithError(TzCommon::LastErrorMessage().c_str());
    if (fileLock) Dbf4::Unlock();
    state.SetItemsProcessed(records);
    Dbf4::CloseAll();
}

void BM_NaturalScanIndexOpenShared(benchmark::State& state) {
    NaturalScanIndexOpen(state, false);
}
BENCHMARK(BM_NaturalScanIndexOpenShared)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_NaturalScanIndexOpenFileLock(benchmark::State& state) {
    NaturalScanIndexOpen(state, true);
}
BENCHMARK(BM_NaturalScanIndexOpenFileLock)->Unit(benchmark::kMillisecond)->Iterations(3);

// A scan in the order of a tag (the case order the outstanding report walks), reading a
// field of every record: each step counts itself in and out of the semaphore file as a
// reader; shared, and under the file lock.
void OrderedScan(benchmark::State& state, bool fileLock) {
    OpenPostings(false);
    TzNdx::SetOrderToTag("POSTSAG");
    if (fileLock) Dbf4::FLock();
    // The appends before may have added rows: every row the table holds is to be met.
    const int64_t inTable = Dbf4::RecCount();
    int64_t records = 0, sum = 0;
    for (auto _ : state) {
        Dbf4::GoTop();
        while (!Dbf4::dEOF()) {
            sum += kjbench::ReadPostingField();
            Dbf4::Skip(1);
            ++records;
        }
    }
    benchmark::DoNotOptimize(sum);
    if (TzCommon::ErrorWord() != 0) state.SkipWithError(TzCommon::LastErrorMessage().c_str());
    if (records != int64_t(state.iterations()) * inTable) state.SkipWithError("records missed");
    if (fileLock) Dbf4::Unlock();
    state.SetItemsProcessed(records);
    Dbf4::CloseAll();
}

void BM_OrderedScanShared(benchmark::State& state) {
    OrderedScan(state, false);
}
BENCHMARK(BM_OrderedScanShared)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OrderedScanFileLock(benchmark::State& state) {
    OrderedScan(state, true);
}
BENCHMARK(BM_OrderedScanFileLock)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
