#include "ui/tz_msg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <algorithm>

#include "storage/tz_output.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjqt {

namespace {

constexpr int kTextMargin = 30;  // added to the text's measured width and height
constexpr int kSideMargin = 4;   // between the window edge and the text panel, no caption
constexpr Qt::WindowFlags kBorderless =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
constexpr Qt::WindowFlags kDialogFrame =
    Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint;

}  // namespace

TzMsgWindow::TzMsgWindow(QWidget* over)
    : QWidget(nullptr, kBorderless),
      frame_(new QFrame(this)),
      label_(new QLabel(this)),
      over_(over) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 0));
    setPalette(pal);
    setAutoFillBackground(true);
    resize(0, 0);
    frame_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame_->setLineWidth(2);
    label_->setFrameStyle(QFrame::Box | QFrame::Plain);
    label_->setLineWidth(1);
    label_->setAlignment(Qt::AlignCenter);
    label_->raise();
}

QString TzMsgWindow::Text() const {
    return label_->text();
}

void TzMsgWindow::ShowText(const QString& caption, const QString& text) {
    if (!text.isEmpty()) text_ = text;
    QFontMetrics fm(font());
    const int textW = fm.horizontalAdvance(text_) + kTextMargin;
    const int textH = fm.height() + kTextMargin;

    const bool wantCaption = !caption.isEmpty();
    const bool changed = !laidOut_ || wantCaption != captioned_;
    if (changed) {
        setWindowFlags(wantCaption ? kDialogFrame : kBorderless);  // hides the window
        captioned_ = wantCaption;
        laidOut_ = true;
    }
    setWindowTitle(caption);

    // The title bar lies outside the client area here, so only its width counts.
    int margin = kSideMargin;
    int captionW = 0;
    if (captioned_) {
        QFont system(font());
        system.setFamily(QStringLiteral("System"));
        captionW = QFontMetrics(system).horizontalAdvance(caption);
        margin = 0;
    }
    frame_->setVisible(!captioned_);

    const int needW = std::max(textW, captionW);
    const int needH = textH;
    if (width() < needW || height() < needH || changed) {
        resize(needW, needH);
        QRect area = over_ ? over_->frameGeometry() : QRect();
        if (area.isEmpty()) {
            QScreen* screen = QGuiApplication::primaryScreen();
            area = screen ? screen->geometry() : QRect(0, 0, needW, needH);
        }
        move(area.left() + (area.width() - needW) / 2, area.top() + (area.height() - needH) / 2);
        frame_->setGeometry(0, 0, needW, needH);
        label_->setGeometry(margin, margin, needW - 2 * margin, needH - 2 * margin);
        show();
    }
    label_->setText(text_);
    label_->repaint();
    QCoreApplication::processEvents();
}

void InstallMsgWindowProcs() {
    TzMsg::MsgWindowProcs procs;
    procs.create = []() -> void* {
        if (!HaveWidgets()) return nullptr;
        return new TzMsgWindow(QApplication::activeWindow());
    };
    procs.show = [](void* w, const std::string& caption, const std::string& text) {
        static_cast<TzMsgWindow*>(w)->ShowText(FromAnsi(caption), FromAnsi(text));
    };
    procs.destroy = [](void* w) { delete static_cast<TzMsgWindow*>(w); };
    TzMsg::SetMsgWindowProcs(procs);
}

}  // namespace kjqt
