#include "ui/application.h"

#include <QLibraryInfo>

#include "data/db_types.h"
#include "storage/tz_common.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjqt {

void ShowException(std::exception_ptr e) {
    std::string message;
    try {
        std::rethrow_exception(e);
    } catch (const Db::EAbort&) {
        return;
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        message = "Unknown exception";
    }
    DialogService::Instance().MessageBox(FromAnsi(message), QCoreApplication::applicationName(),
                                         mb::kOk | mb::kIconStop);
}

KjApplication::KjApplication(int& argc, char** argv) : QApplication(argc, argv) {
    Db::SetApplicationExceptionHandler(&ShowException);
    // Without the translation files (package qt6-translations-l10n) Qt stays English.
    if (qtTexts_.load(QStringLiteral("qtbase_da"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&qtTexts_);
}

namespace {

void (*g_afterEvent)() = nullptr;

}  // namespace

void KjApplication::SetAfterEvent(void (*after)()) {
    g_afterEvent = after;
}

bool KjApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    ++depth_;
    try {
        handled = QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
    }
    if (--depth_ == 0) AfterEvent();
    return handled;
}

void KjApplication::AfterEvent() {
    if (!g_afterEvent || after_) return;
    after_ = true;
    kjqt::Guarded(g_afterEvent);
    after_ = false;
}

}  // namespace kjqt
