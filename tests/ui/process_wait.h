#pragma once
// Waiting for a helper process in a test. QProcess::waitForFinished answers false for a
// process whose end the event loop has already seen, so a test that ran the loop while the
// helper ended (a timer, a progress window, a lock wait) must not take that as a time-out.
#include <QProcess>

namespace kjtest {

inline bool WaitFinished(QProcess& p, int ms = 30000) {
    if (p.state() == QProcess::NotRunning) return true;
    return p.waitForFinished(ms) || p.state() == QProcess::NotRunning;
}

}  // namespace kjtest
