// Starts after a station died: every table of a data folder walked through each of its tags
// against its records, the program itself started on a start-up folder (it must reach its
// main window), and a helper station killed at each write of its work (the file layer's
// crash at the n-th write), each kill followed by a start that the caller checks.
#pragma once

#include <QProcess>
#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "app/kj_tables.h"
#include "app_fixture.h"
#include "storage/file_layer.h"

namespace kjapptest {

inline std::string FolderOf(const kj::TableSpec& t, const StartFolder& sf) {
    return t.folder == kj::Folder::Data ? sf.data : sf.start;
}

inline std::vector<std::string> TagNames(const kj::TableSpec& t) {
    std::vector<std::string> names;
    for (size_t i = 0; i < t.tags.size(); i += 2)
        names.push_back(t.tags[i].substr(0, t.tags[i].find(',')));
    return names;
}

// Empty when every live record of the table is reached exactly once through each of its
// tags; otherwise what is wrong.
inline std::string TagsAgree(const std::string& file, const kj::TableSpec& spec) {
    TzDs::TTzDbf c("Check");
    c.SetDbfFileName(file);
    c.CreateIfNotFound = false;
    c.CreateIndex = TzDs::ciNever;
    c.Open();
    std::vector<int> natural;
    for (c.First(); !c.Eof(); c.Next()) natural.push_back(c.s_RecNo());
    std::sort(natural.begin(), natural.end());
    for (const std::string& tag : TagNames(spec)) {
        if (!c.SetOrderToTag(tag)) return file + ": no tag " + tag;
        std::vector<int> seen;
        for (c.First(); !c.Eof() && seen.size() <= natural.size(); c.Next())
            seen.push_back(c.s_RecNo());
        std::sort(seen.begin(), seen.end());
        if (seen != natural)
            return file + " " + tag + ": " + std::to_string(seen.size()) + " keys for " +
                   std::to_string(natural.size()) + " records";
    }
    return {};
}

// Every table of the folders that has tags, through each tag (the engine reset first, the
// folder closed): empty when all agree, else the first disagreement.
inline std::string EveryTagAgrees(const StartFolder& sf) {
    ResetEngine();
    for (const kj::TableSpec& t : kj::Tables()) {
        if (t.tags.empty() || !Exists(FolderOf(t, sf) + t.file)) continue;
        const std::string wrong = TagsAgree(FolderOf(t, sf) + t.file, t);
        if (!wrong.empty()) return wrong;
    }
    return {};
}

// The index files of a folder whose maintenance mark (header byte 30) a station that died in
// the middle of a change left set.
inline int MarkedIndexes(const std::string& folder) {
    int marked = 0;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& name : dir.entryList({QStringLiteral("*.mdx")}, QDir::Files)) {
        const std::string head = Read(dir.filePath(name).toStdString()).substr(0, 31);
        marked += head.size() > 30 && head[30] != 0;
    }
    return marked;
}

// The program itself on the start-up folder: true when it reached its main window (it
// then ends cleanly when asked to; a start-up that fails ends with 1, one that hangs in
// a message box is killed).
inline bool ProgramReachesMainWindow(const StartFolder& sf) {
    QProcess program;
    program.setChildProcessModifier([] {  // the request must not beat main() to it
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigprocmask(SIG_BLOCK, &set, nullptr);
    });
    program.start(qEnvironmentVariable("KJ_SAGER_BINARY"),
                  {QString::fromStdString("T3=" + sf.start)});
    if (!program.waitForStarted(30000)) return false;
    program.terminate();
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished(10000);
        return false;
    }
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
}

// Exit code of a helper station that died at the write it was told to die at.
inline constexpr int kCrashedAtWrite = 77;

// In a helper station: runs `work` with the file layer set to end the process at its
// `failAt`-th write (0: never), and says how many writes it made ("WRITES <n>") when it
// was not ended.
inline void CrashAtWrite(long failAt, const std::function<void()>& work) {
    tz::FaultInjector crash;
    crash.failAt = failAt > 0 ? failAt : -1;
    crash.crash = true;
    crash.crashExitCode = kCrashedAtWrite;
    tz::SetFaultInjector(&crash);
    work();
    tz::SetFaultInjector(nullptr);
    std::printf("WRITES %ld\n", crash.writes);
    std::fflush(stdout);
}

// This test binary started as a helper station with `args`; its exit code (-1 when it did
// not end within a minute) and what it printed.
inline int RunHelperStation(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(10000);
        return -1;
    }
    if (out) *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The number of writes an uncut helper run reported ("WRITES <n>"), 0 when none.
inline long WritesOf(const QByteArray& out) {
    const qsizetype at = out.lastIndexOf("WRITES ");
    return at < 0 ? 0 : out.mid(at + 7).split('\n').first().trimmed().toLong();
}

// The step between sampled write numbers for about `points` kill points over `writes`
// writes: a prime, so that the samples do not fall in step with the writes' own period
// (the same few writes of each record) and miss the moments an index change is under way.
inline long SampleStep(long writes, int points) {
    long step = std::max(1L, writes / std::max(1, points));
    auto prime = [](long n) {
        for (long d = 2; d * d <= n; ++d)
            if (n % d == 0) return false;
        return n > 1;
    };
    while (step > 1 && !prime(step)) ++step;
    return step;
}

struct WriteKills {
    int points = 0;      // helper runs
    int kills = 0;       // runs that died at their write
    int unexpected = 0;  // runs that ended otherwise
    bool completed = false;
};

// A helper station killed at its write 1, 1 + step, 1 + 2 step, ... until a run completes:
// `run(failAt)` starts it (its exit code: kCrashedAtWrite or 0), then `restart(failAt)`
// starts on what it left and checks that start. At most `limit` runs.
inline WriteKills KillAtEachWrite(long step, const std::function<int(long)>& run,
                                  const std::function<void(long)>& restart, int limit = 400) {
    WriteKills k;
    for (long failAt = 1; !k.completed && k.points < limit; failAt += std::max(1L, step)) {
        const int code = run(failAt);
        ++k.points;
        k.kills += code == kCrashedAtWrite;
        k.completed = code == 0;
        k.unexpected += code != 0 && code != kCrashedAtWrite;
        if (code != 0 && code != kCrashedAtWrite) break;
        restart(failAt);
        if (QTest::currentTestFailed()) break;
    }
    return k;
}

}  // namespace kjapptest
