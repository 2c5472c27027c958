#include "ui/engine_callbacks.h"

#include <QCoreApplication>

#include "ui/dialog_service.h"
#include "ui/tz_msg.h"
#include "ui/tz_progress.h"
#include "storage/dbf4.h"

namespace kjqt {

namespace {

void LetMessagesThrough() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace

void InstallEngineCallbacks() {
    DialogService::Instance().InstallAsErrorBox();
    Dbf4::SetIdleProc(&LetMessagesThrough);
    InstallMsgWindowProcs();
    InstallProgressProcs();
}

}  // namespace kjqt
