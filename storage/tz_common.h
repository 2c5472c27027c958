// Engine error state and error dispatch, shared by the table engine, the index engine,
// the expression language and the memo unit.
// One process-wide state, not thread-safe. Every engine routine clears the error word before
// the step that may fail; SetError records a failure and, while checking is on, delivers it.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "storage/tz_errors.h"

namespace TzCommon {

// The engine's exception. Its message is the full error text ("Error # n (text)" CR LF
// message).
class ETzError : public std::runtime_error {
  public:
    explicit ETzError(const std::string& message) : std::runtime_error(message) {}
};

// The error word: code of the last failure, 0 = none (TzErr in storage/tz_errors.h).
// Read it with ErrorWord(). It is written only here: ClearErrorWord() before the step that
// may fail, SetError() to report a failure (recorded and, while checking is on, delivered),
// SetErrorWord() to record or put back a code without delivering it.
uint16_t ErrorWord() noexcept;
void ClearErrorWord() noexcept;

class ErrorWordCell {
    friend uint16_t ErrorWord() noexcept;
    friend void ClearErrorWord() noexcept;
    friend class ErrorUnit;  // tz_common.cpp
    static inline uint16_t word_ = 0;
};

inline uint16_t ErrorWord() noexcept {
    return ErrorWordCell::word_;
}
inline void ClearErrorWord() noexcept {
    ErrorWordCell::word_ = 0;
}

// Records code as the last failure without a message and without delivering it: for a
// failure that is not to be shown, or to put back a code saved across a clean-up step.
void SetErrorWord(uint16_t code) noexcept;

void SetError(uint16_t code, const std::string& message);
void ErrorDispatch();
std::string ErrorText(uint16_t code);
std::string ClearError();
std::string LastErrorMessage();
uint8_t SetErrorChecking(uint8_t on);
// Error checking off for a scope; the previous setting comes back on every path out of it.
class ErrorCheckingOff {
  public:
    ErrorCheckingOff() : old_(SetErrorChecking(0)) {}
    ~ErrorCheckingOff() { SetErrorChecking(old_); }
    ErrorCheckingOff(const ErrorCheckingOff&) = delete;
    ErrorCheckingOff& operator=(const ErrorCheckingOff&) = delete;

  private:
    uint8_t old_;
};
uint8_t SetUseExceptions(uint8_t on);
bool ErrorCheckingOn();
bool UseExceptionsOn();
[[noreturn]] void RaiseTzError(const std::string& message);

// The pending code (not yet delivered or taken) and the last message, for tests and
// for the dataset layer.
uint16_t PendingCode();
const std::string& LastMessage();

// Error hook: when installed, dispatch calls it instead of showing or raising anything.
using ErrorHook = std::function<void()>;
void SetErrorHook(ErrorHook hook);

// The message box of the user interface. The UI installs it at start-up; without one the
// text goes to standard error and the answer is 1 (OK).
using ErrorBoxProc =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
void SetErrorBoxProc(ErrorBoxProc proc);
int ErrorBox(const std::string& text, const std::string& caption, unsigned flags);

// How the program ends after the "Program halted." box. Tests replace it to observe the
// halt; the default runs the engine's shut-down (RunShutdown) and then std::exit with
// ExitCodeFor(code). A replacement that ends the program runs RunShutdown itself.
using HaltProc = std::function<void(int exitCode)>;
void SetHaltProc(HaltProc proc);
// The engine's shut-down, as at a normal end: each unit registers its step once (the table
// engine: close every work area, and with it each index file, so headers, counts and end
// marks reach the files). RunShutdown runs the steps last registered first, each at most
// once; failures inside them are not dispatched again once the program is halted.
void AddShutdownProc(void (*proc)());
void RunShutdown();
bool Halted();
int ExitCodeFor(uint16_t code);  // the code when it is 1..255, else 255

// Resets every flag to its start-up value (tests only).
void ResetErrorState();

// Memory wrappers of the engine.
void GetMemChecked(void*& p, uint16_t size);
void FreeMemChecked(void*& p);
int32_t MaxAvail();

}  // namespace TzCommon
