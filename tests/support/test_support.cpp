#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace kjtest {

namespace {
std::string SelfPath() {
    if (const char* p = std::getenv("KJ_TEST_BINARY")) return p;
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n < 0) return std::string();
    buf[n] = 0;
    return buf;
}
}  // namespace

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string templ = base + "/kj-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    path_ = buf.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    bool failed = info && info->result() && info->result()->Failed();
    if (failed) {
        std::cerr << "kept test folder: " << path_ << "\n";
        return;
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Child::Child(const std::string& filter, const std::map<std::string, std::string>& args) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::string self = SelfPath();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        setenv("KJ_CHILD", "1", 1);
        for (const auto& [k, v] : args) {
            // Keys that are already engine variables (KJ_STOP_AT, ...) are set as given.
            std::string name = k.rfind("KJ_", 0) == 0 ? k : "KJ_CHILD_" + k;
            setenv(name.c_str(), v.c_str(), 1);
        }
        std::string f = "--gtest_filter=" + filter;
        execl(self.c_str(), self.c_str(), f.c_str(), "--gtest_brief=1", (char*)nullptr);
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    pid_ = pid;
    in_ = toChild[1];
    out_ = fromChild[0];
}

Child::~Child() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (pid_ > 0 && !waited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string Child::ReadLine(int timeoutMs) {
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            // Lines from gtest itself are not ours: ours start with "@".
            if (!line.empty() && line[0] == '@') return line.substr(1);
            continue;
        }
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            ADD_FAILURE() << "helper process said nothing for " << timeoutMs << " ms";
            return std::string();
        }
        char buf[512];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return std::string();
        pending_.append(buf, n);
    }
}

void Child::WriteLine(const std::string& line) {
    std::string s = line + "\n";
    if (write(in_, s.data(), s.size()) != (ssize_t)s.size()) ADD_FAILURE() << "write to child";
}

void Child::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

int Child::Wait(int timeoutMs) {
    for (int waitedMs = 0; !waited_; waitedMs += 2) {
        pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_ || r < 0) {
            waited_ = true;
            break;
        }
        if (waitedMs >= timeoutMs) {
            ADD_FAILURE() << "helper process still running after " << timeoutMs << " ms";
            KillAndReap();
            return -1;
        }
        usleep(2000);
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
}

void Child::Kill() {
    if (pid_ > 0 && !waited_) kill(pid_, SIGKILL);
}

bool Child::WaitStopped(int timeoutMs) {
    if (pid_ <= 0 || waited_) return false;
    for (int waitedMs = 0; waitedMs <= timeoutMs; waitedMs += 2) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG | WUNTRACED);
        if (r == pid_) {
            if (WIFSTOPPED(status)) return true;
            waited_ = true;
            status_ = status;
            return false;
        }
        if (r < 0) return false;
        usleep(2000);
    }
    return false;
}

void Child::KillAndReap() {
    if (pid_ <= 0 || waited_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    waited_ = true;
}

bool IsChild() {
    return std::getenv("KJ_CHILD") != nullptr;
}

std::string ChildArg(const std::string& key) {
    const char* v = std::getenv(("KJ_CHILD_" + key).c_str());
    return v ? v : "";
}

void TellParent(const std::string& line) {
    std::cout << "@" << line << std::endl;
}

std::string HearParent() {
    std::string line;
    std::getline(std::cin, line);
    return line;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = pclose(p);
    if (output) *output = out;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace kjtest
