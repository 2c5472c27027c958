// The invoice copy and the export of invoiced postings over generated data folders: an
// export of 10,000 invoiced postings in each file format, the marking of every posting
// under its record lock included, and an invoice copy of one case with 500 postings
// printed to a PDF file (KJ_PRINT_PDF). Both run through their windows' own buttons with
// the scripted responder answering.
#include <benchmark/benchmark.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/qel_com.h"
#include "bench/app_folder.h"
#include "reports/fak_kopi.h"
#include "reports/over_fak.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace {

namespace fs = std::filesystem;
kjqt::ScriptedResponder g_responder;

std::unique_ptr<kj::TKJData> Open(const std::string& start) {
    g_responder.Clear();
    kj::CreateQelCom();
    auto module = std::make_unique<kj::TKJData>();
    kj::SetKJData(module.get());
    if (!kj::OpenStartupData(*module, "T3=" + start, nullptr)) return nullptr;
    module->AjourInitials = "AA";
    return module;
}

void Close(std::unique_ptr<kj::TKJData>& module) {
    kj::SetKJData(nullptr);
    module.reset();
    kj::FreeQelCom();
    Dbf4::CloseAll();
}

// A folder whose 10,000 postings are all invoiced and none transferred; the pristine
// postings table is kept beside it and copied back before every run.
struct ExportFolder {
    QTemporaryDir tmp;
    std::string start, data, keep;
    bool Make() {
        start = tmp.path().toStdString() + "/";
        data = start + "SagsData/";
        keep = start + "keep/";
        kjbench::GenerateAppFolder(start, {200, 10000});
        auto module = Open(start);
        if (!module) return false;
        TzDs::TTzDbf& post = module->PostDbf;
        post.BeforePost = nullptr;
        for (post.First(); !post.Eof(); post.Next()) {
            post.Edit();
            if (post.FieldByName("post_fnr").AsString().empty())
                post.FieldByName("post_fnr").SetAsString("F1");
            post.FieldByName("post_over").SetAsBoolean(false);
            post.Post();
        }
        Close(module);
        fs::create_directories(keep);
        for (const auto& e : fs::directory_iterator(data)) {
            std::string stem = e.path().stem().string();
            for (char& c : stem) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (stem == "poster") fs::copy_file(e.path(), keep + e.path().filename().string());
        }
        return true;
    }
    void Restore() {
        for (const auto& e : fs::directory_iterator(keep))
            fs::copy_file(e.path(), data + e.path().filename().string(),
                          fs::copy_options::overwrite_existing);
    }
};

void BM_ExportInvoicedPostings(benchmark::State& state) {
    static ExportFolder folder;
    static bool made = folder.Make();
    if (!made) return state.SkipWithError("folder not made");
    const int type = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        folder.Restore();
        auto module = Open(folder.start);
        if (!module) return state.SkipWithError("start-up failed");
        fs::remove(folder.start + "Export.txt");
        kjrep::TOverFak form(*module);
        form.EdtFilnavn->setText(QString::fromStdString(folder.start + "Export.txt"));
        form.edtModKonto->setText("9000");
        form.edtMomsKonto->setText("7000");
        form.rbType[type]->click();
        state.ResumeTiming();
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        state.PauseTiming();
        if (g_responder.Texts() != QStringList{"Posteringer er overført !!!"})
            state.SkipWithError("export failed");
        int marked = 0;
        TzDs::TTzDbf& post = module->PostBufDbf;
        for (post.First(); !post.Eof(); post.Next())
            marked += post.FieldByName("post_over").AsBoolean();
        if (marked != 10000) state.SkipWithError("not every posting marked");
        state.counters["postings"] = marked;
        Close(module);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExportInvoicedPostings)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_InvoiceCopyToPdf(benchmark::State& state) {
    QTemporaryDir tmp;
    const std::string start = tmp.path().toStdString() + "/";
    kjbench::GenerateAppFolder(start, {1, 500});
    qputenv("KJ_PRINT_PDF", QByteArray::fromStdString(start + "faktura.pdf"));
    auto module = Open(start);
    if (!module) return state.SkipWithError("start-up failed");
    module->SagsDbf.First();
    const QString sagnr = QString::fromStdString(module->SagsDbf.FieldByName("sags_nr").AsString());
    for (auto _ : state) {
        kjrep::TFakKopiForm form(*module);
        form.rbMode[2]->setChecked(true);
        form.edtSagnr->setEditText(sagnr);
        g_responder.Clear();
        QTest::mouseClick(form.btnUdskriv, Qt::LeftButton);
        if (!g_responder.Texts().isEmpty()) state.SkipWithError("refused");
    }
    state.counters["postings"] = module->PostDbf.RecCount();
    Close(module);
}
BENCHMARK(BM_InvoiceCopyToPdf)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
