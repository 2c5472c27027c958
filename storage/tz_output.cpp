#include "storage/tz_output.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "storage/file_layer.h"
#include "storage/tz_common.h"

namespace TzPrint {

namespace {

constexpr uint16_t kDeviceWriteFault = TzErr::DeviceWriteFault;

struct Device {
    std::string buffer;
    bool console = false;
    bool alternate = false;
    bool printer = false;
    std::string altName;
    tz::File altFile;
    uint64_t altOffset = 0;
    FILE* printerPipe = nullptr;
    bool printerBroken = false;  // a write failed; the job takes nothing more until it ends

    ~Device() {
        if (printerPipe) pclose(printerPipe);
    }
};

Device& D() {
    static Device d;
    return d;
}

// Writes all of p to fd with SIGPIPE held back, so that a printer command that went away
// gives EPIPE instead of ending the program. Returns 0 or the errno of the failure.
int WriteAllNoSigpipe(int fd, const char* p, size_t n) {
    sigset_t pipeSet, old, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    int err = 0;
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    if (err == EPIPE && !wasPending) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipeSet, nullptr, &zero);  // take the signal our write raised
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return err;
}

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    const char* start = path;
    for (;;) {
        const char* end = std::strchr(start, ':');
        size_t len = end ? static_cast<size_t>(end - start) : std::strlen(start);
        std::string file = len ? std::string(start, len) : std::string(1, '.');
        file += '/';
        file += program;
        if (access(file.c_str(), X_OK) == 0) return true;
        if (end == nullptr) return false;
        start = end + 1;
    }
}

// Ends the printer job; the command's status as 0 or an engine code.
uint16_t EndPrinterJob() {
    Device& d = D();
    d.printerBroken = false;
    if (d.printerPipe == nullptr) return 0;
    int status = pclose(d.printerPipe);
    d.printerPipe = nullptr;
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return kDeviceWriteFault;
    return 0;
}

// Sends bytes to the printer job, starting it on first use. 0 or an engine code.
uint16_t PrinterWrite(const std::string& bytes) {
    Device& d = D();
    if (d.printerBroken) return kDeviceWriteFault;
    if (d.printerPipe == nullptr) {
        fflush(nullptr);  // nothing buffered of ours may be written twice by the child
        d.printerPipe = popen(PrinterCommand().c_str(), "we");
        if (d.printerPipe == nullptr) return errno ? tz::ErrnoToCode(errno, true) : 8;
    }
    int err = WriteAllNoSigpipe(fileno(d.printerPipe), bytes.data(), bytes.size());
    if (err == 0) return 0;
    EndPrinterJob();  // status of a broken job is of no further interest
    d.printerBroken = true;
    return err == EPIPE ? kDeviceWriteFault : tz::ErrnoToCode(err, true);
}

uint16_t AlternateWrite(const std::string& bytes) {
    Device& d = D();
    if (!d.altFile.IsOpen()) return TzErr::FileNotOpen;  // switch on without a named file
    uint16_t code = d.altFile.WriteAt(d.altOffset, bytes.data(), bytes.size());
    if (code == 0) {
        d.altOffset += bytes.size();
    } else {
        uint64_t size = 0;  // go on after whatever part reached the file
        if (d.altFile.Size(&size) == 0) d.altOffset = size;
    }
    return code;
}

void CloseAlternate() {
    Device& d = D();
    d.altFile.Close();
    d.altName.clear();
    d.altOffset = 0;
}

}  // namespace

void Startup() {
    Device& d = D();
    d.buffer.clear();
    d.buffer.reserve(kBufferSize);
    d.console = d.alternate = d.printer = false;
    CloseAlternate();
    EndPrinterJob();
}

void Shutdown() {
    Device& d = D();
    Flush();
    CloseAlternate();
    d.alternate = false;
    if (uint16_t code = EndPrinterJob()) TzCommon::SetError(code, "");
}

void SetConsole(bool on) {
    D().console = on;
}
void SetAlternate(bool on) {
    D().alternate = on;
}
void SetPrinter(bool on) {
    D().printer = on;
}
bool ConsoleOn() {
    return D().console;
}
bool AlternateOn() {
    return D().alternate;
}
bool PrinterOn() {
    return D().printer;
}

bool SetAlternateTo(const std::string& name, bool additive) {
    Device& d = D();
    Flush();
    CloseAlternate();
    if (name.empty()) return true;
    TzCommon::ClearErrorWord();
    uint16_t code = 0;
    if (additive && tz::Exists(name)) {
        code = d.altFile.Open(name, tz::Access::ReadWrite, tz::ShareMode::DenyNone);
        if (code == 0) code = d.altFile.Size(&d.altOffset);
    } else {
        code = d.altFile.Create(name, tz::ShareMode::DenyNone);
    }
    if (code != 0) {
        d.altFile.Close();
        d.altOffset = 0;
        TzCommon::SetError(code, "Output error, alternate file: " + name);
        return false;
    }
    d.altName = name;
    return true;
}

const std::string& AlternateName() {
    return D().altName;
}

void Write(const std::string& text) {
    Device& d = D();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t room = kBufferSize - d.buffer.size();
        size_t n = std::min(room, text.size() - pos);
        d.buffer.append(text, pos, n);
        pos += n;
        if (d.buffer.size() == kBufferSize) WriteOutput();
    }
    Flush();
}

void WriteLn(const std::string& text) {
    Write(text + "\r\n");
}

void WriteOutput() {
    Device& d = D();
    if (d.buffer.empty()) return;
    std::string bytes;
    bytes.swap(d.buffer);  // the buffer is empty whatever the destinations report
    d.buffer.reserve(kBufferSize);
    if (d.console) {
        fwrite(bytes.data(), 1, bytes.size(), stdout);
        fflush(stdout);
    }
    uint16_t altCode = d.alternate ? AlternateWrite(bytes) : 0;
    uint16_t prnCode = d.printer ? PrinterWrite(bytes) : 0;
    if (altCode) TzCommon::SetError(altCode, "Output error, alternate file: " + d.altName);
    if (prnCode) TzCommon::SetError(prnCode, "");
}

void Flush() {
    WriteOutput();
}

std::string PrinterCommand() {
    const char* cmd = std::getenv("KJ_PRINTER_COMMAND");
    if (cmd != nullptr && *cmd != '\0') return cmd;
    return OnPath("lpr") ? "lpr" : "lp";
}

bool PrinterJobOpen() {
    return D().printerPipe != nullptr;
}

void ClosePrinter() {
    Flush();
    if (uint16_t code = EndPrinterJob()) TzCommon::SetError(code, "");
}

}  // namespace TzPrint

namespace TzMsg {

namespace {

MsgWindowProcs& Procs() {
    static MsgWindowProcs p;
    return p;
}

}  // namespace

void SetMsgWindowProcs(const MsgWindowProcs& procs) {
    Procs() = procs;
}
void ClearMsgWindowProcs() {
    Procs() = MsgWindowProcs();
}

TTzMsg::TTzMsg() : procs_(Procs()) {
    if (procs_.create && procs_.show && procs_.destroy) window_ = procs_.create();
}

TTzMsg::~TTzMsg() {
    if (window_) procs_.destroy(window_);
}

void TTzMsg::ShowText(const std::string& text) {
    if (!text.empty()) text_ = text;
    if (window_) procs_.show(window_, caption_, text_);
}

}  // namespace TzMsg
