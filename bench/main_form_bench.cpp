// The main window over a generated folder of 100,000 cases and 1,000,000 postings: from the
// start to the main window shown (offscreen), moving to the next case with the visible tab
// refreshed, and a search by case number as the header's field does it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/main_form.h"
#include "app/qel_com.h"
#include "bench/app_folder.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace {

kjqt::ScriptedResponder g_responder;
const kjbench::FolderSize kSize{100000, 1000000};

struct Program {
    std::unique_ptr<kj::TKJData> data;
    std::unique_ptr<kj::TKJSagerForm> form;
    bool Start(const std::string& start) {
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        form.reset(kj::TKJSagerForm::FormCreate(*data, "T3=" + start, nullptr));
        if (!form) return false;
        form->show();
        QApplication::processEvents();
        data->AjourInitials = "AB";
        return true;
    }
    ~Program() {
        form.reset();
        data.reset();
        kj::SetKJData(nullptr);
        kj::FreeQelCom();
        Dbf4::CloseAll();
    }
};

void BM_StartToMainWindowShown(benchmark::State& state) {
    const std::string start = kjbench::CachedAppFolder(kSize);
    for (auto _ : state) {
        auto program = std::make_unique<Program>();
        if (!program->Start(start)) state.SkipWithError("start-up failed");
        state.PauseTiming();
        program.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToMainWindowShown)->Unit(benchmark::kMillisecond)->Iterations(10);

// Næste with the events tab showing; at the last case it starts from the first again.
void BM_NextCaseWithViews(benchmark::State& state) {
    Program program;
    if (!program.Start(kjbench::CachedAppFolder(kSize))) state.SkipWithError("start-up failed");
    for (auto _ : state) {
        program.form->btnNext->click();
        QApplication::processEvents();
        if (program.data->SagsDbf.Eof()) program.data->SagsDbf.GoTop();
    }
}
BENCHMARK(BM_NextCaseWithViews)->Unit(benchmark::kMillisecond);

// A case number looked up on the case-number tag (padded, upper-cased) and shown.
void BM_SearchByCaseNumber(benchmark::State& state) {
    Program program;
    if (!program.Start(kjbench::CachedAppFolder(kSize))) state.SkipWithError("start-up failed");
    TzDs::TTzDbf& s = program.data->SagsDbf;
    s.SetOrderToTag("SAGSNR");
    std::vector<std::string> numbers;
    for (int i = 0; i < 1000; ++i) {
        s.Go(1 + (i * 7919) % s.RecCount());
        numbers.push_back(
            TzUtils::PadRight(TzUtils::TrimRight(s.FieldByName("SAGS_NR").AsString()), 10));
    }
    size_t i = 0;
    for (auto _ : state) {
        if (!s.FindExact(numbers[i++ % numbers.size()])) state.SkipWithError("not found");
    }
}
BENCHMARK(BM_SearchByCaseNumber)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
