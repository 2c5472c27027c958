// The time sheet's transfer and the archiving of closed cases over a generated folder of
// 100,000 cases and 1,000,000 postings (copied afresh for each run, so every run starts
// from the same folder): 1,000 scratch rows carried into the postings table with its five
// tags, and 1,000 closed cases archived with their events and postings, packing included;
// and the archiving of a folder of 1,000 cases with 4 postings each, every one closed; the
// print priorities brought into 1,100,000 postings and "Søg" over 100,000 cases, each
// beside a plain scan of the same table.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/kj_arkiv.h"
#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/kj_timer_transfer.h"
#include "app/kj_util.h"
#include "app/qel_com.h"
#include "app/vare_i_form.h"
#include "bench/app_folder.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace {

constexpr kjbench::FolderSize kSize{100000, 1000000};

kjqt::ScriptedResponder g_responder;

// A copy of the cached folder with the path-setup file pointing into the copy.
struct FolderCopy {
    QTemporaryDir tmp;
    std::string start;
    explicit FolderCopy(const std::string& from) {
        start = tmp.path().toStdString() + "/";
        std::filesystem::copy(from, start, std::filesystem::copy_options::recursive);
        const std::string ini =
            "[Morvane Stier]\r\nZorbo1Sti=" + start + "\r\nSagsDataSti=" + start + "SagsData/\r\n";
        std::FILE* f = std::fopen((start + "ZORBO397.ASD").c_str(), "wb");
        std::fwrite(ini.data(), 1, ini.size(), f);
        std::fclose(f);
    }
};

std::unique_ptr<kj::TKJData> Open(const std::string& start) {
    g_responder.Clear();
    kj::CreateQelCom();
    auto d = std::make_unique<kj::TKJData>();
    kj::SetKJData(d.get());
    if (!kj::OpenStartupData(*d, "T3=" + start, nullptr)) return nullptr;
    d->AjourInitials = "AA";
    return d;
}

void Close(std::unique_ptr<kj::TKJData>& d) {
    d.reset();
    kj::SetKJData(nullptr);
    kj::FreeQelCom();
    Dbf4::CloseAll();
}

// 1,000 complete rows in the scratch table, written through the engine.
void FillScratch(kj::TKJData& d, int rows) {
    d.TimerDbf.SetActive(true);
    Dbf4::Select(d.TimerDbf.WorkAreaNo());
    const int sag = Dbf4::FieldNo("POST_SAG"), tmu = Dbf4::FieldNo("POST_TMU"),
              ans = Dbf4::FieldNo("POST_ANS"), bem = Dbf4::FieldNo("POST_BEM");
    Dbf4::FLock();
    for (int i = 0; i < rows; ++i) {
        Dbf4::ClearRecord();
        for (auto [f, v] : {std::pair{sag, "S" + std::to_string(i % 300)},
                            std::pair{tmu, std::string("V101")}, std::pair{ans, std::string("AA")},
                            std::pair{bem, "Timeseddel " + std::to_string(i)}}) {
            uint8_t* p = Dbf4::AssignField(f);
            p[0] = uint8_t(v.size());
            std::memcpy(p + 1, v.data(), v.size());
        }
        Dbf4::Append();
    }
    Dbf4::Unlock();
    d.TimerDbf.ResyncFromArea();
}

void BM_CarryTimeSheet(benchmark::State& state) {
    const std::string cached = kjbench::CachedAppFolder(kSize);
    for (auto _ : state) {
        state.PauseTiming();
        FolderCopy copy(cached);
        auto d = Open(copy.start);
        if (!d) {
            state.SkipWithError("start-up failed");
            break;
        }
        FillScratch(*d, int(state.range(0)));
        state.ResumeTiming();
        const int carried = kj::CarryTimeSheet(d->TimerDbf, d->PostDbf, nullptr);
        state.PauseTiming();
        if (carried != state.range(0) || d->PostDbf.RecCount() != kSize.postings + carried)
            state.SkipWithError("rows missing");
        Close(d);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CarryTimeSheet)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Leaves closed only the cases whose number is a multiple of 100 (about 1,000).
void KeepThousandClosed(kj::TKJData& d) {
    TzDs::TTzDbf& s = d.SagsDbf;
    s.FLock();
    Dbf4::Select(s.WorkAreaNo());
    const int field = Dbf4::FieldNo("SAG_AFSLUT");
    const int32_t n = Dbf4::RecCount();
    for (int32_t r = 1; r <= n; ++r)
        if ((r - 1) % 100 != 0) Dbf4::Poke("        ", field, r);
    s.UnLock();
    s.ResyncFromArea();
}

// One archiving run per iteration over a fresh copy of a cached folder: `prepare` closes
// the cases to archive, `right` checks the counts afterwards.
template <class Prepare, class Right>
void ArchiveRuns(benchmark::State& state, const kjbench::FolderSize& size, Prepare prepare,
                 Right right) {
    const std::string cached = kjbench::CachedAppFolder(size);
    for (auto _ : state) {
        state.PauseTiming();
        FolderCopy copy(cached);
        auto d = Open(copy.start);
        if (!d) {
            state.SkipWithError("start-up failed");
            break;
        }
        prepare(*d);
        state.ResumeTiming();
        const kj::ArchiveCounts c = kj::ArchiveClosedCases(*d, nullptr, nullptr);
        state.PauseTiming();
        state.counters["cases"] = c.cases;
        state.counters["postings"] = c.postings;
        state.counters["events"] = c.events;
        if (!right(*d, c)) state.SkipWithError("wrong counts");
        Close(d);
        state.ResumeTiming();
    }
}

void BM_ArchiveClosedCases(benchmark::State& state) {
    ArchiveRuns(state, kSize, KeepThousandClosed, [](kj::TKJData& d, const kj::ArchiveCounts& c) {
        return c.cases >= 900 && d.SagsDbf.RecCount() == kSize.cases - c.cases;
    });
}
BENCHMARK(BM_ArchiveClosedCases)->Unit(benchmark::kMillisecond)->Iterations(2);

// A folder of 1,000 cases with 4 postings each (and their events), every case closed.
constexpr kjbench::FolderSize kClosedSize{1000, 4000};

void CloseEveryCase(kj::TKJData& d) {
    TzDs::TTzDbf& s = d.SagsDbf;
    s.FLock();
    Dbf4::Select(s.WorkAreaNo());
    const int field = Dbf4::FieldNo("SAG_AFSLUT");
    const int32_t n = Dbf4::RecCount();
    for (int32_t r = 1; r <= n; ++r) Dbf4::Poke("20200101", field, r);
    s.UnLock();
    s.ResyncFromArea();
}

void BM_ArchiveThousandClosedCases(benchmark::State& state) {
    ArchiveRuns(state, kClosedSize, CloseEveryCase, [](kj::TKJData& d, const kj::ArchiveCounts& c) {
        return c.cases == kClosedSize.cases && c.postings == kClosedSize.postings &&
               d.SagsDbf.RecCount() == 0 && d.PostDbf.RecCount() == 0;
    });
}
BENCHMARK(BM_ArchiveThousandClosedCases)->Unit(benchmark::kMillisecond)->Iterations(3);

// The print priorities brought into 1,100,000 postings from the item groups under the
// postings table's file lock, beside a plain scan of the same table in the same (natural)
// order under the file lock, with the item field read at every record and a long walk's
// hold (kj::TWalkHold).
constexpr kjbench::FolderSize kPriorSize{100000, 1100000};

// Runs of `walk` over a fresh copy of the 1,100,000-postings folder, each timed alone;
// `walk` answers the postings it went through, which must be all of them.
template <class Walk>
void PostingRuns(benchmark::State& state, Walk walk) {
    const std::string cached = kjbench::CachedAppFolder(kPriorSize);
    for (auto _ : state) {
        state.PauseTiming();
        FolderCopy copy(cached);
        auto d = Open(copy.start);
        if (!d) {
            state.SkipWithError("start-up failed");
            break;
        }
        d->PostDbf.SetOrderToTag("");
        state.ResumeTiming();
        const int64_t steps = walk(*d);
        state.PauseTiming();
        state.counters["postings"] = double(steps);
        if (steps != kPriorSize.postings) state.SkipWithError("postings missed");
        Close(d);
        state.ResumeTiming();
    }
}

void BM_UpdatePostingPriorities(benchmark::State& state) {
    PostingRuns(state, [](kj::TKJData& d) {
        d.VareDbf.SetOrderToTag("varer");
        d.vareGDbf.SetOrderToTag("gruppe");
        int64_t steps = 0;
        kj::UpdatePostingPriorities("AA", [&steps] { ++steps; });
        d.PostDbf.UnLock();
        return steps;
    });
}
BENCHMARK(BM_UpdatePostingPriorities)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ScanPostingsPlain(benchmark::State& state) {
    PostingRuns(state, [](kj::TKJData& d) {
        TzDs::TTzDbf& p = d.PostDbf;
        while (!p.FLock()) {
        }
        int64_t steps = 0;
        size_t chars = 0;
        {
            // A long walk's hold, as the update's walk has it.
            kj::TWalkHold walk({&p});
            for (p.First(); !p.Eof(); p.Next()) {
                walk.Step();
                chars += p.FieldByName("post_tmu").AsString().size();
                ++steps;
            }
        }
        p.UnLock();
        benchmark::DoNotOptimize(chars);
        return steps;
    });
}
BENCHMARK(BM_ScanPostingsPlain)->Unit(benchmark::kMillisecond)->Iterations(2);

// "Søg" over the 100,000 cases of the same folder for a word that no case holds (every
// field of every case looked at), beside a plain walk over the cases in the same (natural)
// order with one field read per case and a long walk's hold.
void BM_SearchAllCaseFields(benchmark::State& state) {
    const std::string cached = kjbench::CachedAppFolder(kPriorSize);
    FolderCopy copy(cached);
    auto d = Open(copy.start);
    if (!d) return state.SkipWithError("start-up failed");
    for (auto _ : state) {
        uint8_t field = 0;
        d->SagsDbf.Search("INGENSTEDS", field, true);
        if (field != 0) state.SkipWithError("found");
    }
    Close(d);
}
BENCHMARK(BM_SearchAllCaseFields)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ScanCasesPlain(benchmark::State& state) {
    const std::string cached = kjbench::CachedAppFolder(kPriorSize);
    FolderCopy copy(cached);
    auto d = Open(copy.start);
    if (!d) return state.SkipWithError("start-up failed");
    TzDs::TTzDbf& s = d->SagsDbf;
    s.SetOrderToTag("");  // the search reads the cases in their natural order
    for (auto _ : state) {
        size_t chars = 0;
        kj::TWalkHold walk({&s});  // a long walk's hold
        for (s.First(); !s.Eof(); s.Next()) {
            walk.Step();
            chars += s.FieldByName("sags_bem").AsString().size();
        }
        benchmark::DoNotOptimize(chars);
    }
    Close(d);
}
BENCHMARK(BM_ScanCasesPlain)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return kjbench::RunAppBenchmarks(argc, argv, &g_responder);
}
