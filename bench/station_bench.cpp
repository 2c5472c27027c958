// Several stations writing at once: 8 processes on one shared postings table with its five
// tags, each doing a mix of appends, replaces and deletes (every change under the table's
// locks and the index semaphore). Reports the aggregate rate of all stations together.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "bench/bench_tables.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

constexpr int kStations = 8;  // KJ_STATIONS sets another count for comparison
constexpr int kOpsPerStation = 2500;
constexpr int kStartRecords = 20000;

const std::vector<TzNdx::TagDescriptor> kPostTags = [] {
    std::vector<TzNdx::TagDescriptor> tags;
    for (const kjbench::TagText& t : kjbench::PostingsTags())
        tags.push_back({t.name, t.expression, "", false, false});
    return tags;
}();

// A refused table lock is tried again at once; the stations share the machine.
template <class Take>
void TakeLock(Take take) {
    while (!take()) std::this_thread::yield();
}

// One station: opens the table shared, waits for the start byte, then works.
int Station(const std::string& table, int id, int startFd) {
    TzCommon::SetErrorChecking(0);
    try {
        Dbf4::Select(1);
        Dbf4::Use(table);
        TzNdx::SetIndexTo("poster.mdx");
        char go = 0;
        if (read(startFd, &go, 1) != 1) return 2;
        std::mt19937 rng{uint32_t(id)};
        for (int i = 0; i < kOpsPerStation; ++i) {
            const uint32_t kind = rng() % 3;
            if (kind == 0) {
                TakeLock([] { return Dbf4::ALock(); });
                kjbench::FillPosting(int(rng() % 1000000));
                Dbf4::Append();
                Dbf4::Unlock();
                continue;
            }
            Dbf4::Go(1 + int32_t(rng() % uint32_t(kStartRecords)));
            TakeLock([] { return Dbf4::RLock(); });
            if (kind == 1) {
                kjbench::FillPosting(int(rng() % 1000000));
                Dbf4::Replace();
            } else {
                Dbf4::DeleteRec();
            }
            Dbf4::Unlock();
        }
        Dbf4::CloseAll();
    } catch (const std::exception&) {
        return 1;
    }
    return TzCommon::ErrorWord() == 0 ? 0 : 1;
}

void BM_EightStationsMixedWrites(benchmark::State& state) {
    kjbench::BenchDir dir;
    const std::string table = dir.file("poster.dbf");
    TzEngine::Startup();
    TzCommon::SetErrorChecking(0);
    kjbench::MakePostings(table, kStartRecords);
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::MakeIndex(kPostTags);
    Dbf4::CloseAll();
    const char* env = std::getenv("KJ_STATIONS");
    const int stations = env ? std::max(1, std::atoi(env)) : kStations;
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        std::vector<pid_t> kids;
        for (int s = 0; s < stations; ++s) {
            pid_t pid = fork();
            if (pid == 0) {
                close(pipeFds[1]);
                _exit(Station(table, s + 1, pipeFds[0]));
            }
            kids.push_back(pid);
        }
        close(pipeFds[0]);
        usleep(200000);  // every station has opened the table
        const auto start = std::chrono::steady_clock::now();
        const std::string go(size_t(stations), 'g');
        if (write(pipeFds[1], go.data(), go.size()) != ssize_t(go.size()))
            state.SkipWithError("start");
        close(pipeFds[1]);
        int failed = 0;
        for (pid_t pid : kids) {
            int status = 0;
            waitpid(pid, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (failed) state.SkipWithError("a station failed");
    }
    const double ops = double(stations) * kOpsPerStation * double(state.iterations());
    state.SetItemsProcessed(int64_t(ops));
}
BENCHMARK(BM_EightStationsMixedWrites)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
