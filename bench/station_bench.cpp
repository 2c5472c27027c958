// Several stations on one shared postings table with its five tags, each a process of its
// own (every change under the table's locks and the index semaphore):
//  - 8 stations writing at once, each a mix of appends, replaces and deletes, on a table of
//    20,000 generated rows (and, in station_app_bench, on a copy of the generated
//    application folder's postings table); reports the aggregate rate of all stations.
//  - Writers beside readers: walkers step through the table in index order while writers
//    append without a pause, each write timed from holding the append lock to letting it
//    go again (the wait for the index semaphore's readers and the write itself), and once
//    more from asking for the append lock as a save does (TzNdx::ALockInTurn: adding the
//    wait in turn behind the other writers). 8 walkers that count their read in and out at
//    every step (as browsing does) beside 2 writers, and 4 walkers that hold their count
//    across the walk (TIndexReadHold, as the reports do) beside 4 writers; in
//    station_app_bench on the application folder's postings table too. Reports the
//    writes' median, 99th percentile and longest time, the 99th percentile from asking,
//    the writes that failed with 1202, and the walkers' steps a second.
//  - One reader beside a second counted station (another process holding its read count,
//    as a station in the middle of a report does, the normal case in an office) and, for
//    comparison, alone: seeks of random case numbers and steps in case order, each counted
//    in and out of the index semaphore; the time per seek and per step.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "bench/bench_tables.h"
#include "data/tz_dbf.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_errors.h"
#ifdef KJ_STATION_APP_FOLDER
#include "bench/app_folder.h"
#endif

namespace {

constexpr int kStations = 8;  // KJ_STATIONS sets another count for comparison
constexpr int kOpsPerStation = 2500;
constexpr int kStartRecords = 20000;
constexpr int kMaxWriters = 8;
constexpr int kWritesPerWriter = 400;

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

// Opens the table shared with its index in area 1 and waits for the start byte.
bool OpenAndWait(const std::string& table, const std::string& index, int startFd) {
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::SetIndexTo(index);
    char go = 0;
    return read(startFd, &go, 1) == 1;
}

// One station of the mixed writes.
int Station(const std::string& table, const std::string& index, int records, int id, int startFd) {
    TzCommon::SetErrorChecking(0);
    try {
        if (!OpenAndWait(table, index, startFd)) return 2;
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
            Dbf4::Go(1 + int32_t(rng() % uint32_t(records)));
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

// Forks one process per role, lets them all start at once (after they have opened the
// table) and waits for them; answers the seconds from the start to the last one's end and
// counts the processes that failed.
double RunProcesses(const std::vector<std::function<int(int)>>& roles, int* failed) {
    int pipeFds[2];
    *failed = 0;
    if (pipe(pipeFds) != 0) {
        *failed = int(roles.size());
        return 0;
    }
    std::vector<pid_t> kids;
    for (const auto& role : roles) {
        pid_t pid = fork();
        if (pid == 0) {
            close(pipeFds[1]);
            _exit(role(pipeFds[0]));
        }
        kids.push_back(pid);
    }
    close(pipeFds[0]);
    usleep(300000);  // every process has opened the table
    const auto start = std::chrono::steady_clock::now();
    const std::string go(roles.size(), 'g');
    if (write(pipeFds[1], go.data(), go.size()) != ssize_t(go.size())) ++*failed;
    close(pipeFds[1]);
    for (pid_t pid : kids) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++*failed;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void MakeTable(const std::string& table, int records) {
    TzEngine::Startup();
    TzCommon::SetErrorChecking(0);
    kjbench::MakePostings(table, records);
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::MakeIndex(kPostTags);
    Dbf4::CloseAll();
}

void MixedWrites(benchmark::State& state, const std::string& table, const std::string& index,
                 int records) {
    const char* env = std::getenv("KJ_STATIONS");
    const int stations = env ? std::max(1, std::atoi(env)) : kStations;
    for (auto _ : state) {
        std::vector<std::function<int(int)>> roles;
        for (int s = 0; s < stations; ++s)
            roles.push_back([&, s](int fd) { return Station(table, index, records, s + 1, fd); });
        int failed = 0;
        state.SetIterationTime(RunProcesses(roles, &failed));
        if (failed) state.SkipWithError("a station failed");
    }
    const double ops = double(stations) * kOpsPerStation * double(state.iterations());
    state.SetItemsProcessed(int64_t(ops));
}

void BM_EightStationsMixedWrites(benchmark::State& state) {
    kjbench::BenchDir dir;
    const std::string table = dir.file("poster.dbf");
    MakeTable(table, kStartRecords);
    MixedWrites(state, table, "poster.mdx", kStartRecords);
}
BENCHMARK(BM_EightStationsMixedWrites)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---- Writers beside readers ----------------------------------------------------------------

// Shared by the processes of one run (an anonymous shared mapping made before the forks).
struct Board {
    std::atomic<int> writersLeft;
    std::atomic<int> timeouts;
    std::atomic<long> steps;
    int32_t writeUs[kMaxWriters][kWritesPerWriter];  // under the append lock
    int32_t totalUs[kMaxWriters][kWritesPerWriter];  // with the wait for the append lock
};

// The append lock waited for as a save waits for it (in turn with the other stations).
void TakeAppendLock() {
    while (!TzNdx::ALockInTurn(10000)) {
    }
}

int32_t MicrosecondsSince(std::chrono::steady_clock::time_point t) {
    return int32_t(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t)
            .count());
}

// One writer: appends, each timed from holding the append lock to its release (the wait
// for the index semaphore's readers and the write itself), and from asking for that lock.
int Writer(const std::string& table, const std::string& index, Board* board, int id, int startFd) {
    TzCommon::SetErrorChecking(0);
    int rc = 0;
    try {
        if (!OpenAndWait(table, index, startFd)) rc = 2;
        for (int i = 0; rc == 0 && i < kWritesPerWriter; ++i) {
            const auto asked = std::chrono::steady_clock::now();
            TakeAppendLock();
            const auto held = std::chrono::steady_clock::now();
            try {
                kjbench::FillPosting(id * 100000 + i);
                Dbf4::Append();
            } catch (const std::exception&) {
            }
            Dbf4::Unlock();
            TzNdx::LeaveWriteQueue();
            if (TzCommon::ErrorWord() == TzErr::SemaphoreError) ++board->timeouts;
            if (TzCommon::ErrorWord() != 0) rc = 1;
            board->writeUs[id][i] = MicrosecondsSince(held);
            board->totalUs[id][i] = MicrosecondsSince(asked);
        }
        Dbf4::CloseAll();
    } catch (const std::exception&) {
        rc = 1;
    }
    --board->writersLeft;
    return rc;
}

// A walker that counts its read in and out at every step: steps in tag order, round and
// round, until the writers are done.
int CountingWalker(const std::string& table, const std::string& index, Board* board, int startFd) {
    TzCommon::SetErrorChecking(0);
    try {
        if (!OpenAndWait(table, index, startFd)) return 2;
        TzNdx::SetOrderToTag("POSTSAG");
        Dbf4::GoTop();
        long steps = 0, sum = 0;
        while (board->writersLeft.load() > 0) {
            sum += kjbench::ReadPostingField();
            Dbf4::Skip(1);
            if (Dbf4::dEOF()) Dbf4::GoTop();
            ++steps;
        }
        board->steps += steps + (sum == -1 ? 1 : 0);
        Dbf4::CloseAll();
    } catch (const std::exception&) {
        return 1;
    }
    return TzCommon::ErrorWord() == 0 ? 0 : 1;
}

// A walker that holds its read count across the walk, as the reports do.
int HoldingWalker(const std::string& table, Board* board, int startFd) {
    TzCommon::SetErrorChecking(0);
    try {
        TzDs::TTzDbf t("Poster");
        t.SetDbfFileName(table);
        t.ShowProgress = false;
        for (const auto& f : kjbench::PostingsLayout())
            t.DbfFields().push_back(std::string(f.name) + "," + f.type + "," +
                                    std::to_string(f.length) + "," + std::to_string(f.decimals));
        for (const kjbench::TagText& tag : kjbench::PostingsTags()) {
            t.IndexList().push_back(std::string(tag.name) + ",F,F," + tag.expression);
            t.IndexList().push_back("");
        }
        t.Open();
        t.SetOrderToTag("POSTSAG");
        char go = 0;
        if (read(startFd, &go, 1) != 1) return 2;
        long steps = 0;
        TzDs::TIndexReadHold hold({&t});
        t.First();
        while (board->writersLeft.load() > 0) {
            hold.GiveWay();
            t.Next();
            if (t.Eof()) t.First();
            ++steps;
        }
        hold.Release();
        board->steps += steps;
        t.Close();
    } catch (const std::exception&) {
        return 1;
    }
    return TzCommon::ErrorWord() == 0 ? 0 : 1;
}

double Percentile(std::vector<int32_t>& v, double p) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, size_t(p * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k] / 1000.0;
}

void WritersBesideReaders(benchmark::State& state, const std::string& table,
                          const std::string& index, int walkers, int writers, bool holding) {
    void* mem =
        mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    Board* board = new (mem) Board();
    std::vector<int32_t> waits, totals;
    double seconds = 0;
    for (auto _ : state) {
        board->writersLeft = writers;
        board->timeouts = 0;
        board->steps = 0;
        std::vector<std::function<int(int)>> roles;
        for (int w = 0; w < writers; ++w)
            roles.push_back([&, w](int fd) { return Writer(table, index, board, w, fd); });
        for (int r = 0; r < walkers; ++r) {
            roles.push_back([&](int fd) {
                return holding ? HoldingWalker(table, board, fd)
                               : CountingWalker(table, index, board, fd);
            });
        }
        int failed = 0;
        seconds = RunProcesses(roles, &failed);
        state.SetIterationTime(seconds);
        if (failed) state.SkipWithError("a process failed");
        for (int w = 0; w < writers; ++w) {
            waits.insert(waits.end(), board->writeUs[w], board->writeUs[w] + kWritesPerWriter);
            totals.insert(totals.end(), board->totalUs[w], board->totalUs[w] + kWritesPerWriter);
        }
    }
    state.counters["write_p50_ms"] = Percentile(waits, 0.50);
    state.counters["write_p99_ms"] = Percentile(waits, 0.99);
    state.counters["write_max_ms"] = Percentile(waits, 1.0);
    state.counters["with_append_lock_p99_ms"] = Percentile(totals, 0.99);
    state.counters["writes_per_s"] = double(writers * kWritesPerWriter) / seconds;
    state.counters["timeouts_1202"] = board->timeouts.load();
    state.counters["walker_steps_per_s"] = double(board->steps.load()) / seconds;
    munmap(mem, sizeof(Board));
}

void BM_EightCountingWalkersTwoWriters(benchmark::State& state) {
    kjbench::BenchDir dir;
    MakeTable(dir.file("poster.dbf"), kStartRecords);
    WritersBesideReaders(state, dir.file("poster.dbf"), "poster.mdx", 8, 2, false);
}
BENCHMARK(BM_EightCountingWalkersTwoWriters)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_FourHoldingWalkersFourWriters(benchmark::State& state) {
    kjbench::BenchDir dir;
    MakeTable(dir.file("poster.dbf"), kStartRecords);
    WritersBesideReaders(state, dir.file("poster.dbf"), "poster.mdx", 4, 4, true);
}
BENCHMARK(BM_FourHoldingWalkersFourWriters)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The table of the reader benchmarks, made once.
const std::string& ReaderTable() {
    static kjbench::BenchDir dir;
    static const std::string table = [] {
        const std::string t = dir.file("poster.dbf");
        MakeTable(t, kStartRecords);
        return t;
    }();
    return table;
}

// Another station that opens the table and its index, counts itself in as a reader and
// holds the count until its pipe closes; -1 when it cannot start.
pid_t StartCountedStation(const std::string& table, int* release) {
    int toKid[2], fromKid[2];
    if (pipe(toKid) != 0) return -1;
    if (pipe(fromKid) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(toKid[1]);
        close(fromKid[0]);
        Dbf4::Select(1);
        Dbf4::Use(table);
        TzNdx::SetIndexTo("poster.mdx");
        TzNdx::SetReadSemaphoreProc(1);
        const char ok = TzCommon::ErrorWord() == 0 ? 'y' : 'n';
        if (write(fromKid[1], &ok, 1) != 1) _exit(2);
        char end = 0;
        while (read(toKid[0], &end, 1) == 1) {
        }
        TzNdx::SetReadSemaphoreProc(0);
        Dbf4::CloseAll();
        _exit(0);
    }
    close(toKid[0]);
    close(fromKid[1]);
    char ok = 'n';
    const bool started = read(fromKid[0], &ok, 1) == 1 && ok == 'y';
    close(fromKid[0]);
    *release = toKid[1];
    return started ? pid : -1;
}

void StopCountedStation(pid_t pid, int release) {
    close(release);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
}

// Seeks (seek) or steps in case order, with a second counted station (range(0) = 1) or
// alone.
void ReaderSteps(benchmark::State& state, bool seek) {
    const std::string& table = ReaderTable();
    int release = -1;
    pid_t other = 0;
    if (state.range(0) == 1) {
        other = StartCountedStation(table, &release);
        if (other < 0) {
            state.SkipWithError("the second station did not start");
            return;
        }
    }
    Dbf4::Select(1);
    Dbf4::Use(table);
    TzNdx::SetIndexTo("poster.mdx");
    TzNdx::SetOrderToTag("POSTSAG");
    Dbf4::GoTop();
    std::mt19937 rng(7);
    char key[16];
    int64_t found = 0, sum = 0;
    for (auto _ : state) {
        if (seek) {
            std::snprintf(key, sizeof key, "S%06d", int(rng() % 20000));
            found += TzNdx::Find(key) ? 1 : 0;
        } else {
            Dbf4::Skip(1);
            if (Dbf4::dEOF()) Dbf4::GoTop();
            sum += kjbench::ReadPostingField();
        }
    }
    benchmark::DoNotOptimize(sum);
    if (TzCommon::ErrorWord() != 0) state.SkipWithError(TzCommon::LastErrorMessage().c_str());
    if (seek && found == 0) state.SkipWithError("nothing found");
    Dbf4::CloseAll();
    if (other > 0) StopCountedStation(other, release);
    state.SetItemsProcessed(state.iterations());
}

void BM_ReaderSeeks(benchmark::State& state) {
    ReaderSteps(state, true);
}
BENCHMARK(BM_ReaderSeeks)->ArgName("besideCounted")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ReaderSteps(benchmark::State& state) {
    ReaderSteps(state, false);
}
BENCHMARK(BM_ReaderSteps)->ArgName("besideCounted")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

#ifdef KJ_STATION_APP_FOLDER
// A copy of the generated application folder's postings table (its own rows and index as
// the application makes them) in dir; answers its row count.
int CopyAppPostings(const kjbench::BenchDir& dir) {
    const std::string data = kjbench::CachedAppFolder({100000, 1000000}) + "SagsData/";
    std::filesystem::copy_file(data + "Poster.dbf", dir.file("Poster.dbf"));
    std::filesystem::copy_file(data + "Poster.MDX", dir.file("Poster.MDX"));
    TzEngine::Startup();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(dir.file("Poster.dbf"));
    const int records = int(Dbf4::RecCount());
    Dbf4::CloseAll();
    return records;
}

// The mixed writes on the application folder's postings table.
void BM_EightStationsMixedWritesAppFolder(benchmark::State& state) {
    kjbench::BenchDir dir;
    const int records = CopyAppPostings(dir);
    state.counters["rows"] = records;
    MixedWrites(state, dir.file("Poster.dbf"), "Poster.MDX", records);
}
BENCHMARK(BM_EightStationsMixedWritesAppFolder)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Writers beside readers on the application folder's postings table.
void BM_EightCountingWalkersTwoWritersAppFolder(benchmark::State& state) {
    kjbench::BenchDir dir;
    state.counters["rows"] = CopyAppPostings(dir);
    WritersBesideReaders(state, dir.file("Poster.dbf"), "Poster.MDX", 8, 2, false);
}
BENCHMARK(BM_EightCountingWalkersTwoWritersAppFolder)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_FourHoldingWalkersFourWritersAppFolder(benchmark::State& state) {
    kjbench::BenchDir dir;
    state.counters["rows"] = CopyAppPostings(dir);
    WritersBesideReaders(state, dir.file("Poster.dbf"), "Poster.MDX", 4, 4, true);
}
BENCHMARK(BM_FourHoldingWalkersFourWritersAppFolder)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
