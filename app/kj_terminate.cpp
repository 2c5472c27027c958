#include "app/kj_terminate.h"

#include <fcntl.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <exception>

#include "storage/tz_common.h"
#include "ui/application.h"

namespace kj {

namespace {

int g_pipe[2] = {-1, -1};  // the signal handler's write end, the notifier's read end

void OnTerminate(int) {
    const char c = 'x';
    if (g_pipe[1] >= 0) (void)!write(g_pipe[1], &c, 1);
}

// The engine's error, raised rather than ending the program. A text the engine already
// words for the user (a full disk that holds up an index repair) is shown as it stands.
void RaiseEngineError() {
    const uint16_t code = TzCommon::ErrorWord();
    if (code == 0) return;
    const std::string message = TzCommon::ClearError();
    const bool userWords = message.rfind("Disken er fuld: ", 0) == 0;
    TzCommon::ETzError error(userWords ? message : TzCommon::ErrorText(code) + "\r\n" + message);
    if (std::uncaught_exceptions() > 0) {
        kjqt::ShowException(std::make_exception_ptr(error));
        return;
    }
    throw error;
}

sigset_t TerminateSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void HoldTerminate() {
    const sigset_t set = TerminateSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void CloseOnTerminate(QWidget* mainWindow) {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, mainWindow);
    QPointer<QWidget> window(mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [window] {
        char buffer[16];
        while (read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        if (window) window->close();
    });
    struct sigaction action = {};
    action.sa_handler = &OnTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    const sigset_t set = TerminateSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);  // a request that waited arrives now
}

void KeepRunningOnEngineErrors(bool on) {
    TzCommon::SetErrorHook(on ? TzCommon::ErrorHook(&RaiseEngineError) : nullptr);
}

}  // namespace kj
