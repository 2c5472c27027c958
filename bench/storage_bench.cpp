// Table engine speed: appends under the append lock and a million under the file lock,
// replaces under a record lock, and
// forward Skip in natural order over a million records (shared, file lock, exclusive).
#include <benchmark/benchmark.h>

#include "bench/bench_tables.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

// An empty postings table made in `dir` and used in area 1, its record buffer blank.
void UseEmptyPostings(const kjbench::BenchDir& dir) {
    Dbf4::WorkArea scratch;
    TzDbfLow::CreateDbf(scratch, dir.file("poster.dbf"), kjbench::PostingsLayout());
    Dbf4::Select(1);
    Dbf4::Use(dir.file("poster.dbf"));
    Dbf4::ClearRecord();
}

void BM_AppendWithLock(benchmark::State& state) {
    kjbench::BenchDir dir;
    UseEmptyPostings(dir);
    int i = 0;
    for (auto _ : state) {
        Dbf4::ALock();
        kjbench::FillPosting(++i);
        Dbf4::Append();
        Dbf4::Unlock();
    }
    if (TzCommon::ErrorWord() != 0) state.SkipWithError("append failed");
    state.SetItemsProcessed(state.iterations());
    Dbf4::CloseAll();
}
BENCHMARK(BM_AppendWithLock)->Unit(benchmark::kMicrosecond);

// A million appends to a table without an index, under one file lock held across them all:
// the engine's own cost of a record (filling the fields, packing, translating, writing).
void BM_AppendMillionFileLock(benchmark::State& state) {
    kjbench::BenchDir dir;
    UseEmptyPostings(dir);
    Dbf4::FLock();
    int i = 0;
    for (auto _ : state) {
        kjbench::FillPosting(++i);
        Dbf4::Append();
    }
    if (TzCommon::ErrorWord() != 0) state.SkipWithError("append failed");
    Dbf4::Unlock();
    state.SetItemsProcessed(state.iterations());
    Dbf4::CloseAll();
}
BENCHMARK(BM_AppendMillionFileLock)->Unit(benchmark::kMicrosecond)->Iterations(1000000);

void BM_ReplaceUnderRecordLock(benchmark::State& state) {
    kjbench::BenchDir dir;
    const int n = 100000;
    kjbench::MakePostings(dir.file("poster.dbf"), n);
    Dbf4::Select(1);
    Dbf4::Use(dir.file("poster.dbf"));
    int i = 0;
    for (auto _ : state) {
        Dbf4::Go(1 + (i * 7919) % n);
        Dbf4::RLock();
        kjbench::FillPosting(++i);
        Dbf4::Replace();
        Dbf4::Unlock();
    }
    if (TzCommon::ErrorWord() != 0) state.SkipWithError("replace failed");
    state.SetItemsProcessed(state.iterations());
    Dbf4::CloseAll();
}
BENCHMARK(BM_ReplaceUnderRecordLock)->Unit(benchmark::kMicrosecond);

// Forward Skip in natural order over a million records, reading a field of each: a shared
// table (every record as the file holds it now), the same under the file lock (records read
// ahead), and the table opened exclusively.
enum class ScanMode { Shared, FileLock, Exclusive };

void SkipForward(benchmark::State& state, ScanMode mode) {
    kjbench::BenchDir dir;
    const int n = 1000000;
    kjbench::MakePostings(dir.file("poster.dbf"), n);
    Dbf4::Select(1);
    Dbf4::Use(dir.file("poster.dbf") + (mode == ScanMode::Exclusive ? " EXCLUSIVE" : ""));
    if (mode == ScanMode::FileLock) Dbf4::FLock();
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
    if (records != int64_t(n) * state.iterations()) state.SkipWithError("wrong count");
    state.SetItemsProcessed(records);
    Dbf4::CloseAll();
}

void BM_SkipForwardShared(benchmark::State& state) {
    SkipForward(state, ScanMode::Shared);
}
BENCHMARK(BM_SkipForwardShared)->Unit(benchmark::kMillisecond);

void BM_SkipForwardFileLock(benchmark::State& state) {
    SkipForward(state, ScanMode::FileLock);
}
BENCHMARK(BM_SkipForwardFileLock)->Unit(benchmark::kMillisecond);

void BM_SkipForwardExclusive(benchmark::State& state) {
    SkipForward(state, ScanMode::Exclusive);
}
BENCHMARK(BM_SkipForwardExclusive)->Unit(benchmark::kMillisecond);

}  // namespace
