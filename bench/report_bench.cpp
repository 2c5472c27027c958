// The reports to PDF over generated data folders: the postings-per-employee report over
// 10,000 postings (all employees, every date), and the outstanding-amounts report (one
// line per case and the grand total, closed cases too) over 100,000 cases and 1,000,000
// postings. Each run builds every page and writes the PDF that KJ_PRINT_PDF names (kept in
// the generated folder when KJ_BENCH_KEEP_PDF is set, to look at).
#include <benchmark/benchmark.h>

#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <memory>
#include <optional>
#include <vector>

#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/qel_com.h"
#include "bench/app_folder.h"
#include "data/tz_dbf.h"
#include "reports/list_post.h"
#include "reports/preview_form.h"
#include "reports/report_wiring.h"
#include "reports/ude_rap.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace {

kjqt::ScriptedResponder g_responder;

// The data module over a generated folder for the life of one benchmark.
class OpenFolder {
  public:
    explicit OpenFolder(kjbench::FolderSize size) : start_(kjbench::CachedAppFolder(size)) {
        Dbf4::CloseAll();
        g_responder.Clear();
        kj::CreateQelCom();
        data_ = std::make_unique<kj::TKJData>();
        kj::SetKJData(data_.get());
        ok_ = kj::OpenStartupData(*data_, "T3=" + start_, nullptr);
        data_->AjourInitials = "AA";
        kjrep::InstallReportEntries();
        pdf_ = QString::fromStdString(start_) + "bench.pdf";
        qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
    }
    ~OpenFolder() {
        kjrep::FreePreviewForm();
        kj::SetKJData(nullptr);
        data_.reset();
        kj::FreeQelCom();
        Dbf4::CloseAll();
        if (!qEnvironmentVariableIsSet("KJ_BENCH_KEEP_PDF")) QFile::remove(pdf_);
    }
    bool Ok() const { return ok_; }
    qint64 PdfSize() const { return QFile(pdf_).size(); }

  private:
    std::string start_;
    std::unique_ptr<kj::TKJData> data_;
    QString pdf_;
    bool ok_ = false;
};

void BM_EmployeePostingsToPdf(benchmark::State& state) {
    OpenFolder folder({int(state.range(0)), int(state.range(1))});
    if (!folder.Ok()) state.SkipWithError("start-up failed");
    kjrep::TListPostForm form;
    form.DateTimePicker1->setDate(QDate(1990, 1, 1));
    form.DateTimePicker2->setDate(QDate(2040, 12, 31));
    for (auto _ : state) form.Frame->btnUdskriv->click();
    state.counters["pages"] = kjrep::PreviewForm().PageNumber;
    state.counters["pdf_kb"] = double(folder.PdfSize()) / 1024;
    if (!g_responder.Asked().empty()) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_EmployeePostingsToPdf)
    ->Args({1000, 10000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_OutstandingToPdf(benchmark::State& state) {
    OpenFolder folder({int(state.range(0)), int(state.range(1))});
    if (!folder.Ok()) state.SkipWithError("start-up failed");
    kjrep::TUdeRapForm form;  // the built-in variant 1: one line per case, every case
    form.EdtSagnr1->setEditText("");
    form.EdtSagnr2->setEditText("");
    for (auto _ : state) form.Frame->btnUdskriv->click();
    state.counters["pages"] = kjrep::PreviewForm().PageNumber;
    state.counters["pdf_kb"] = double(folder.PdfSize()) / 1024;
    if (!g_responder.Asked().empty()) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_OutstandingToPdf)
    ->Args({1000, 10000})
    ->Args({100000, 1000000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// What the outstanding report costs below the page engine: every posting in case order,
// its amounts read, through the dataset; with the index read count taken at every step
// (held = 0) or held across the walk as the reports hold it (held = 1).
void BM_PostingsScanInCaseOrder(benchmark::State& state) {
    OpenFolder folder({int(state.range(0)), int(state.range(1))});
    if (!folder.Ok()) state.SkipWithError("start-up failed");
    TzDs::TTzDbf& post = kj::KJData()->PostDbf;
    post.SetOrderToTag("POSTSAG");
    int64_t sum = 0;
    for (auto _ : state) {
        std::optional<TzDs::TIndexReadHold> hold;
        if (state.range(2)) hold.emplace(std::vector<TzDs::TTzDbf*>{&post});
        for (post.First(); !post.Eof(); post.Next()) {
            sum += post.FieldByName("Total").AsCurrency();
            if (hold) hold->GiveWay();
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_PostingsScanInCaseOrder)
    ->Args({100000, 1000000, 0})
    ->Args({100000, 1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
