#include "ui/engine_callbacks.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "storage/dbf4.h"
#include "ui/dialog_service.h"
#include "ui/tz_msg.h"
#include "ui/tz_progress.h"

namespace Dbf4 {
// Selects any area, the engine's own included, without touching the error word.
void SelectInternal(int n);
}  // namespace Dbf4

namespace kjqt {

namespace {

int g_waitDepth = 0;

}  // namespace

bool InEngineWait() { return g_waitDepth > 0; }

void LetMessagesThrough() {
    if (!QCoreApplication::instance() || g_waitDepth > 0) return;
    const int area = Dbf4::CurrentWorkArea();
    struct Restore {
        int area;
        ~Restore() {
            --g_waitDepth;
            if (Dbf4::CurrentWorkArea() != area) Dbf4::SelectInternal(area);
        }
    } restore{area};
    ++g_waitDepth;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void InstallEngineCallbacks() {
    DialogService::Instance().InstallAsErrorBox();
    Dbf4::SetIdleProc(&LetMessagesThrough);
    InstallMsgWindowProcs();
    InstallProgressProcs();
}

}  // namespace kjqt
