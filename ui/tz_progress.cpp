#include "ui/tz_progress.h"

#include <QApplication>
#include <QLabel>

#include "ui/dialog_service.h"
#include "ui/text_codec.h"
#include "ui/tz_msg.h"

namespace kjqt {

TzProgressView::TzProgressView() : window_(new TzMsgWindow(QApplication::activeWindow())) {}

TzProgressView::~TzProgressView() {
    delete window_.data();
}

void TzProgressView::Show(const std::string& caption, const std::string& text) {
    caption_ = caption;
    SetText(text);
}

void TzProgressView::SetText(const std::string& text) {
    if (!window_) return;
    if (text.empty()) {
        // The message window keeps its old text for an empty one; an empty bar is shown.
        window_->ShowText(FromAnsi(caption_), QStringLiteral(" "));
        window_->TextPanel()->clear();
        return;
    }
    window_->ShowText(FromAnsi(caption_), FromAnsi(text));
}

std::unique_ptr<TzDs::ProgressView> MakeProgressView() {
    if (!HaveWidgets()) return nullptr;
    return std::make_unique<TzProgressView>();
}

void InstallProgressProcs() {
    TzDs::SetProgressViewFactory(&MakeProgressView);
    TzDs::SetMessageProc(
        [](const std::string& text) { DialogService::Instance().ShowMessage(FromAnsi(text)); });
}

}  // namespace kjqt
