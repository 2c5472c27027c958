// Table engine speed: appends under the append lock, replaces under a record lock, and
// forward Skip in natural order over a million records of a shared table.
#include <benchmark/benchmark.h>

#include "bench/bench_tables.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

void BM_AppendWithLock(benchmark::State& state) {
    kjbench::BenchDir dir;
    Dbf4::WorkArea scratch;
    TzDbfLow::CreateDbf(scratch, dir.file("poster.dbf"), kjbench::PostingsLayout());
    Dbf4::Select(1);
    Dbf4::Use(dir.file("poster.dbf"));
    Dbf4::ClearRecord();
    int i = 0;
    for (auto _ : state) {
        Dbf4::ALock();
        kjbench::FillPosting(++i);
        Dbf4::Append();
        Dbf4::Unlock();
    }
    if (TzCommon::ErrorWord != 0) state.SkipWithError("append failed");
    state.SetItemsProcessed(state.iterations());
    Dbf4::CloseAll();
}
BENCHMARK(BM_AppendWithLock)->Unit(benchmark::kMicrosecond);

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
    if (TzCommon::ErrorWord != 0) state.SkipWithError("replace failed");
    state.SetItemsProcessed(state.iterations());
    Dbf4::CloseAll();
}
BENCHMARK(BM_ReplaceUnderRecordLock)->Unit(benchmark::kMicrosecond);

void BM_SkipForward(benchmark::State& state) {
    kjbench::BenchDir dir;
    const int n = 1000000;
    kjbench::MakePostings(dir.file("poster.dbf"), n);
    Dbf4::Select(1);
    Dbf4::Use(dir.file("poster.dbf"));
    int64_t records = 0;
    for (auto _ : state) {
        Dbf4::GoTop();
        while (!Dbf4::Current()->eof) {
            Dbf4::Skip(1);
            ++records;
        }
    }
    if (records != int64_t(n) * state.iterations()) state.SkipWithError("wrong count");
    state.SetItemsProcessed(records);
    Dbf4::CloseAll();
}
BENCHMARK(BM_SkipForward)->Unit(benchmark::kMillisecond);

}  // namespace
