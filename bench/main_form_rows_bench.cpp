// The main window's events and postings over a generated folder with one case of 1,000
// postings and 200 events: loading the case into its scratch copies and grids, writing back
// one edited posting (file lock, replace, the five tags, unlock), and the automatic invoice
// posting of 1,000 invoiced rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabWidget>
#include <QTemporaryDir>
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

struct Program {
    QTemporaryDir tmp;
    std::unique_ptr<kj::TKJData> data;
    std::unique_ptr<kj::TKJSagerForm> form;
    bool Start() {
        const std::string start = tmp.path().toStdString() + "/";
        kjbench::GenerateAppFolder(start, {1000, 10000});
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        form.reset(kj::TKJSagerForm::FormCreate(*data, "T3=" + start, nullptr));
        if (!form) return false;
        form->show();
        data->AjourInitials = "AB";
        TzDs::TTzDbf& s = data->SagsDbf;
        s.Append();
        s.FieldByName("sags_nr").SetAsString("BENCH");
        s.Post();
        for (int i = 0; i < 200; ++i) {
            data->StatusDbf.Append();
            data->StatusDbf.FieldByName("stat_sag").SetAsString("BENCH");
            data->StatusDbf.FieldByName("stat_bem").SetAsString("Hændelse " + std::to_string(i));
            data->StatusDbf.Post();
        }
        for (int i = 0; i < 1000; ++i) {
            TzDs::TTzDbf& p = data->PostDbf;
            p.Append();
            p.FieldByName("post_sag").SetAsString("BENCH");
            p.FieldByName("post_antal").SetAsFloat(1 + i % 7);
            p.FieldByName("post_pris").SetAsFloat(100 + i);
            p.FieldByName("post_moms").SetAsFloat(i % 3 == 0 ? 0 : 25);
            p.FieldByName("post_fnr").SetAsString("F1");
            p.Post();
        }
        s.SetOrderToTag("SAGSNR");
        s.FindExact("BENCH     ");
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

void BM_LoadCaseRows(benchmark::State& state) {
    Program p;
    if (!p.Start()) state.SkipWithError("start-up failed");
    for (auto _ : state) {
        p.form->LoadCaseEvents();
        p.form->LoadCasePostings();
        QApplication::processEvents();
    }
    if (p.data->tmpPost.RecCount() != 1000) state.SkipWithError("wrong copy");
}
BENCHMARK(BM_LoadCaseRows)->Unit(benchmark::kMillisecond);

void BM_WriteBackOnePosting(benchmark::State& state) {
    Program p;
    if (!p.Start()) state.SkipWithError("start-up failed");
    p.form->PageSager->setCurrentIndex(1);
    p.form->LoadCasePostings();
    TzDs::TTzDbf& t = p.data->tmpPost;
    t.GoTop();
    int i = 0;
    for (auto _ : state) {
        t.Edit();
        t.FieldByName("post_bem").SetAsString("rettet " + std::to_string(++i));
        g_responder.Answer(kjqt::mb::kIdYes);
        t.Post();
    }
}
BENCHMARK(BM_WriteBackOnePosting)->Unit(benchmark::kMicrosecond);

void BM_InvoicePosting(benchmark::State& state) {
    Program p;
    if (!p.Start()) state.SkipWithError("start-up failed");
    p.form->PageSager->setCurrentIndex(1);
    for (auto _ : state) {
        state.PauseTiming();
        p.form->LoadCasePostings();
        state.ResumeTiming();
        p.form->InvoicePosting();
    }
}
BENCHMARK(BM_InvoicePosting)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
