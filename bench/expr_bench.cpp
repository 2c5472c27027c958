// Evaluation speed of a compiled index key over a postings record: the key of the postings
// tag is evaluated once per record and tag when an index is built.
#include <benchmark/benchmark.h>

#include "bench/bench_tables.h"
#include "expr/expr_eval.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

const char* const kPostingsKey =
    "UPPER(POST_SAG)+STR(100000+POST_PRI,6)+UPPER(POST_TMU)+DTOS(POST_DATO)";

void BM_PostingsKey(benchmark::State& state) {
    kjbench::BenchDir dir;
    std::string path = dir.file("post.dbf");
    kjbench::MakePostings(path, 1000);
    TzParser::Install();
    Dbf4::Select(1);
    Dbf4::Use(path);
    Dbf4::Go(500);
    TzParser::ExprBlock* key = TzParser::AssignExpr(kPostingsKey);
    if (!key) {
        state.SkipWithError("key did not compile");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(TzParser::Evaluate(key));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(TzParser::ResultString(key));
    TzParser::FreeExpr(key);
    Dbf4::CloseAll();
}
BENCHMARK(BM_PostingsKey);

void BM_CompileKey(benchmark::State& state) {
    for (auto _ : state) {
        TzParser::ExprBlock* key = TzParser::AssignExpr("UPPER('abc')+STR(100000+7,6)");
        benchmark::DoNotOptimize(key);
        TzParser::FreeExpr(key);
    }
}
BENCHMARK(BM_CompileKey);

}  // namespace
