// Start-up of the program's data: a first start in an empty folder (every table, index and
// list file created) and opening a generated folder of 100,000 cases and 1,000,000 postings
// (every table with its indexes, the first-start checks run), each through the program's
// own start-up routine with the questions answered by the scripted responder.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/qel_com.h"
#include "bench/app_folder.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace {

kjqt::ScriptedResponder g_responder;

void Stop() {
    kj::SetKJData(nullptr);
    kj::FreeQelCom();
    Dbf4::CloseAll();
}

void BM_FirstStartInEmptyFolder(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir tmp;
        const std::string start = tmp.path().toStdString() + "/";
        const std::string data = start + "SagsData/";
        QFile ini(QString::fromStdString(start + "ZORBO397.ASD"));
        ini.open(QIODevice::WriteOnly);
        ini.write(
            ("[Morvane Stier]\r\nZorbo1Sti=" + start + "\r\nSagsDataSti=" + data + "\r\n").c_str());
        ini.close();
        QFile user(QString::fromStdString(start + "ZORBO195.ASD"));
        user.open(QIODevice::WriteOnly);
        user.write(kj::EncodeFirmBlock("Firma", "Vej").c_str());
        user.close();
        g_responder.Clear();
        g_responder.AnswerText(QString::fromStdString(data));
        g_responder.Answer(kjqt::mb::kIdYes);
        state.ResumeTiming();
        kj::CreateQelCom();
        auto module = std::make_unique<kj::TKJData>();
        kj::SetKJData(module.get());
        if (!kj::OpenStartupData(*module, "T3=" + start, nullptr))
            state.SkipWithError("start-up failed");
        state.PauseTiming();
        module.reset();
        Stop();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstStartInEmptyFolder)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_OpenGeneratedFolder(benchmark::State& state) {
    const kjbench::FolderSize size{int(state.range(0)), int(state.range(1))};
    const std::string start = kjbench::CachedAppFolder(size);
    Dbf4::CloseAll();
    for (auto _ : state) {
        g_responder.Clear();
        kj::CreateQelCom();
        auto module = std::make_unique<kj::TKJData>();
        kj::SetKJData(module.get());
        if (!kj::OpenStartupData(*module, "T3=" + start, nullptr))
            state.SkipWithError("start-up failed");
        if (module->SagsDbf.RecCount() != size.cases) state.SkipWithError("wrong case count");
        state.PauseTiming();
        module.reset();
        Stop();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenGeneratedFolder)
    ->Args({100000, 1000000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
