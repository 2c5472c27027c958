// The data grid over a 1,000,000-record postings table in an index order, offscreen: the
// first page shown by a new grid, one page down or up, and a jump to either end, each with
// its repaint. The grid's model holds only the rows on screen; the counters show how many,
// and how much the process grew over the whole run of page steps.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <memory>

#include "bench/bench_tables.h"
#include "data/db_datasource.h"
#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "ui/db_grid.h"

namespace {

constexpr int kRecords = 1000000;

long RssKb() {
    long kb = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        long pages = 0, resident = 0;
        if (std::fscanf(f, "%ld %ld", &pages, &resident) == 2) kb = resident * 4;
        std::fclose(f);
    }
    return kb;
}

// One table for the whole run: made once, opened in the POSTSAG order.
struct Postings {
    kjbench::BenchDir dir;
    TzDs::TTzDbf table{"PostDbf"};
    Db::TDataSource source;

    Postings() {
        TzCommon::SetErrorChecking(0);
        TzDs::ApplyFormatSettingsToEngine();
        const std::string file = dir.file("poster.dbf");
        kjbench::MakePostings(file, kRecords);
        table.SetDbfFileName(file);
        table.IndexList() = {"POSTSAG,F,F,UPPER(POST_SAG)+DTOS(POST_DATO)", ""};
        table.ShowProgress = false;
        table.Open();
        table.SetOrderToTag("POSTSAG");
        table.First();
        source.SetDataSet(&table);
    }
    static Postings& Get() {
        static Postings p;
        return p;
    }
};

std::unique_ptr<kjqt::TDBGrid> MakeGrid() {
    auto grid = std::make_unique<kjqt::TDBGrid>();
    grid->SetColumns({"POST_SAG", "POST_DATO", "POST_TMU", "POST_BEM", "POST_ANTAL", "POST_PRIS",
                      "POST_DK", "POST_ANS"});
    grid->resize(1000, 700);
    grid->SetDataSource(&Postings::Get().source);
    grid->show();
    grid->setFocus();
    grid->repaint();
    return grid;
}

void BM_GridFirstPage(benchmark::State& state) {
    Postings& p = Postings::Get();
    int rows = 0;
    for (auto _ : state) {
        p.table.First();
        auto grid = MakeGrid();
        rows = grid->Model().rowCount();
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["rows_in_model"] = rows;
    state.counters["records"] = p.table.RecCount();
    if (p.table.CurrentTag() != "POSTSAG") state.SkipWithError("not in the POSTSAG order");
}
BENCHMARK(BM_GridFirstPage)->Unit(benchmark::kMillisecond)->Iterations(20);

// Page steps in one direction; at the end of the table the grid starts over (untimed).
void PageSteps(benchmark::State& state, bool down) {
    Postings& p = Postings::Get();
    auto grid = MakeGrid();
    down ? p.table.First() : p.table.Last();
    grid->repaint();
    const long rssBefore = RssKb();
    for (auto _ : state) {
        QTest::keyClick(grid.get(), down ? Qt::Key_PageDown : Qt::Key_PageUp);
        grid->repaint();
        if (down ? p.table.Eof() : p.table.Bof()) {
            state.PauseTiming();
            down ? p.table.First() : p.table.Last();
            state.ResumeTiming();
        }
    }
    state.counters["rows_in_model"] = grid->Model().rowCount();
    state.counters["rows_shown"] = double(state.iterations()) * grid->Model().rowCount();
    state.counters["rss_growth_kb"] = double(RssKb() - rssBefore);
}

void BM_GridPageDown(benchmark::State& state) {
    PageSteps(state, true);
}
BENCHMARK(BM_GridPageDown)->Unit(benchmark::kMillisecond)->Iterations(2000);

void BM_GridPageUp(benchmark::State& state) {
    PageSteps(state, false);
}
BENCHMARK(BM_GridPageUp)->Unit(benchmark::kMillisecond)->Iterations(2000);

// Ctrl+End (timed) from the top, then back with Ctrl+Home (timed separately).
void Jumps(benchmark::State& state, bool toEnd) {
    Postings& p = Postings::Get();
    auto grid = MakeGrid();
    for (auto _ : state) {
        state.PauseTiming();
        toEnd ? p.table.First() : p.table.Last();
        grid->repaint();
        state.ResumeTiming();
        QTest::keyClick(grid.get(), toEnd ? Qt::Key_End : Qt::Key_Home, Qt::ControlModifier);
        grid->repaint();
    }
    state.counters["rows_in_model"] = grid->Model().rowCount();
}

void BM_GridJumpToEnd(benchmark::State& state) {
    Jumps(state, true);
}
BENCHMARK(BM_GridJumpToEnd)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_GridJumpToStart(benchmark::State& state) {
    Jumps(state, false);
}
BENCHMARK(BM_GridJumpToStart)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
