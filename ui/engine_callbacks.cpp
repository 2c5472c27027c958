#include "ui/engine_callbacks.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <memory>
#include <utility>
#include <vector>

#include "storage/dbf4.h"
#include "storage/scope_exit.h"
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

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

// Holds back the user input that reaches the application while the engine waits (events
// the window system delivers are already kept out by ExcludeUserInputEvents; posted ones
// are caught here) and posts it again afterwards, in its order.
class InputHold : public QObject {
  public:
    InputHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputHold() override {
        QCoreApplication::instance()->removeEventFilter(this);
        for (auto& [receiver, event] : held_)
            if (receiver) QCoreApplication::postEvent(receiver, event.release());
    }

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!IsUserInput(event->type())) return false;
        held_.emplace_back(receiver, std::unique_ptr<QEvent>(event->clone()));
        return true;
    }

  private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

}  // namespace

bool InEngineWait() {
    return g_waitDepth > 0;
}

void LetMessagesThrough() {
    if (!QCoreApplication::instance() || g_waitDepth > 0) return;
    const int area = Dbf4::CurrentWorkArea();
    tz::ScopeExit restore([area] {
        --g_waitDepth;
        if (Dbf4::CurrentWorkArea() != area) Dbf4::SelectInternal(area);
    });
    ++g_waitDepth;
    InputHold hold;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void InstallEngineCallbacks() {
    DialogService::Instance().InstallAsErrorBox();
    Dbf4::SetIdleProc(&LetMessagesThrough);
    InstallMsgWindowProcs();
    InstallProgressProcs();
}

}  // namespace kjqt
