// Helpers shared by the tests: temporary folders that are kept when a test fails, helper
// processes started from the test binary itself, and running outside tools.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/small_disk.h"

namespace kjtest {

// A fresh folder under $TMPDIR (else /tmp); removed when the test passed, kept (and named
// on stderr) when it failed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A copy of the running test binary that runs one test case as a helper process.
// The helper test reads its arguments with ChildArg and talks to the parent through
// standard input and output, one line at a time.
class Child {
  public:
    // filter: the --gtest_filter of the helper case; args become KJ_CHILD_<key> variables,
    // except keys that begin with KJ_ (KJ_STOP_AT), which are set as they are.
    Child(const std::string& filter, const std::map<std::string, std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    std::string ReadLine(int timeoutMs = 60000);  // empty at end of output or time-out
    void WriteLine(const std::string& line);
    void CloseInput();
    // Exit code (128 + signal when killed by one); a helper still running after timeoutMs
    // is a failure: it is killed and -1 returned.
    int Wait(int timeoutMs = 60000);
    void Kill();
    // Waits at most timeoutMs for the helper to stop itself at a named step (KJ_STOP_AT,
    // see tz::StopPoint); false when it ended or ran on instead.
    bool WaitStopped(int timeoutMs);
    // Kills the helper and reaps it (bounded).
    void KillAndReap();
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
    int in_ = -1;   // parent writes here
    int out_ = -1;  // parent reads here
    std::string pending_;
    bool waited_ = false;
    int status_ = 0;
};

// True inside a helper process; ChildArg reads one argument ("" when absent).
bool IsChild();
std::string ChildArg(const std::string& key);
// Helper side: one line to the parent (flushed) and one line from it.
void TellParent(const std::string& line);
std::string HearParent();

// Runs a shell command, returns its exit code and standard output.
int RunCommand(const std::string& command, std::string* output);
// Writes text to a file (bytes as given).
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace kjtest

// Helper-process cases are skipped unless the binary was started as a helper.
#define KJ_CHILD_ONLY()                         \
    do {                                        \
        if (!::kjtest::IsChild()) GTEST_SKIP(); \
    } while (0)
