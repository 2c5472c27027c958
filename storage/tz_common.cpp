#include "storage/tz_common.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace TzCommon {

// The one writer of the error word besides ClearErrorWord.
class ErrorUnit {
  public:
    static void Store(uint16_t code) noexcept { ErrorWordCell::word_ = code; }
};

namespace {

struct ErrorState {
    uint16_t pending = 0;
    std::string lastMessage;
    uint8_t checking = 1;
    uint8_t useExceptions = 0;
    uint8_t halted = 0;
    ErrorHook hook;
    ErrorBoxProc box;
    HaltProc halt;
    std::vector<void (*)()> shutdown;  // not reset: the units register once
};

ErrorState& S() {
    static ErrorState s;
    return s;
}

const char* OwnText(uint16_t code) {
    if (const char* text = TzErr::OwnText(code)) return text;
    if (code >= TzErr::NetworkErrorFirst && code <= TzErr::NetworkErrorLast) return "Network Error";
    return "Undefined error";
}

}  // namespace

void SetErrorWord(uint16_t code) noexcept {
    ErrorUnit::Store(code);
}

void SetError(uint16_t code, const std::string& message) {
    ErrorUnit::Store(code);
    S().pending = code;
    S().lastMessage = message;
    if (S().checking) ErrorDispatch();
}

void ErrorDispatch() {
    ErrorState& s = S();
    if (s.halted) return;
    s.pending = ErrorWord();
    if (s.hook) {
        s.hook();
        return;
    }
    if (ErrorWord() == 0) return;
    std::string text = ErrorText(ErrorWord());
    if (s.useExceptions) {
        std::string full = text + "\r\n" + ClearError();
        throw ETzError(full);
    }
    std::string full = text + "\r\n" + ClearError();
    if (full.size() > 255) full.resize(255);
    ErrorBox(full, "Program halted.", 16);
    s.halted = 1;
    int exitCode = ExitCodeFor(ErrorWord());
    if (s.halt) {
        s.halt(exitCode);
        return;
    }
    RunShutdown();
    std::exit(exitCode);
}

std::string ErrorText(uint16_t code) {
    if (code == 0) return std::string();
    return "Error # " + std::to_string(code) + " (" + OwnText(code) + ")";
}

std::string ClearError() {
    std::string m;
    m.swap(S().lastMessage);
    S().pending = 0;
    return m;
}

std::string LastErrorMessage() {
    if (S().pending == 0) return std::string();
    std::string text = ErrorText(S().pending);
    return text + "\r\n" + ClearError();
}

uint8_t SetErrorChecking(uint8_t on) {
    uint8_t old = S().checking;
    S().checking = on ? 1 : 0;
    return old;
}

uint8_t SetUseExceptions(uint8_t on) {
    uint8_t old = S().useExceptions;
    S().useExceptions = on ? 1 : 0;
    return old;
}

bool ErrorCheckingOn() {
    return S().checking != 0;
}
bool UseExceptionsOn() {
    return S().useExceptions != 0;
}

void RaiseTzError(const std::string& message) {
    throw ETzError(message);
}

uint16_t PendingCode() {
    return S().pending;
}
const std::string& LastMessage() {
    return S().lastMessage;
}

void SetErrorHook(ErrorHook hook) {
    S().hook = std::move(hook);
}

void SetErrorBoxProc(ErrorBoxProc proc) {
    S().box = std::move(proc);
}

int ErrorBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (S().box) return S().box(text, caption, flags);
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    return 1;
}

void SetHaltProc(HaltProc proc) {
    S().halt = std::move(proc);
}

void AddShutdownProc(void (*proc)()) {
    std::vector<void (*)()>& steps = S().shutdown;
    if (proc && std::find(steps.begin(), steps.end(), proc) == steps.end()) steps.push_back(proc);
}

void RunShutdown() {
    std::vector<void (*)()>& steps = S().shutdown;
    while (!steps.empty()) {
        void (*step)() = steps.back();
        steps.pop_back();
        try {
            step();
        } catch (...) {
            // The program is ending; a failure while closing stops only that step.
        }
    }
}
bool Halted() {
    return S().halted != 0;
}

int ExitCodeFor(uint16_t code) {
    return (code >= 1 && code <= 255) ? code : 255;
}

void ResetErrorState() {
    ErrorState& s = S();
    ClearErrorWord();
    s.pending = 0;
    s.lastMessage.clear();
    s.checking = 1;
    s.useExceptions = 0;
    s.halted = 0;
    s.hook = nullptr;
    s.halt = nullptr;
}

void GetMemChecked(void*& p, uint16_t size) {
    p = std::calloc(size ? size : 1, 1);
    if (!p) SetError(TzErr::NotEnoughMemory, "Insufficient memory [GetMem()]");
}

void FreeMemChecked(void*& p) {
    if (!p) {
        SetError(TzErr::InvalidBlockAddress, "Attempt to free NIL pointer [FreeMem()]");
        return;
    }
    std::free(p);
    p = nullptr;
}

int32_t MaxAvail() {
    return 2147483647;
}

}  // namespace TzCommon
