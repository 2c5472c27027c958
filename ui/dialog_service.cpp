#include "ui/dialog_service.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <cstdio>

#include "data/tz_user_text.h"
#include "storage/tz_common.h"
#include "ui/text_codec.h"

namespace kjqt {

namespace {

// The answer a box gives when it is cancelled or dismissed.
int CancelAnswer(unsigned flags) {
    switch (flags & 0xF) {
        case mb::kOk:
            return mb::kIdOk;
        case mb::kYesNo:
            return mb::kIdNo;
        case mb::kAbortRetryIgnore:
            return mb::kIdAbort;
        default:
            return mb::kIdCancel;
    }
}

DialogAnswer CancelAnswer(const DialogRequest& r) {
    DialogAnswer a;
    a.button = r.kind == DialogKind::Message ? CancelAnswer(r.flags) : mb::kIdCancel;
    return a;
}

// A visible stay-on-top window (the splash window while the program starts), if any.
QWidget* StayOnTopWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return w;
    return nullptr;
}

// The window itself while it shows, else none.
QWidget* Shown(QWidget* w) {
    return w && w->isVisible() && !w->isMinimized() ? w : nullptr;
}

// The window a dialog belongs to. While a stay-on-top window shows, dialogs belong to it,
// so that they are stacked above it and never open hidden behind it. A hidden window owns
// none: the window system may never show a dialog that belongs to a window it does not
// show. (The start-up window is hidden before the first start's questions; a focus change
// for it that the window system reports late makes it the active window again.)
QWidget* OwnerWindow() {
    if (QWidget* w = QWidget::mouseGrabber(); w && Shown(w->window())) return w->window();
    if (QWidget* top = StayOnTopWindow()) return top;
    return Shown(QApplication::activeWindow());
}

struct ButtonSet {
    QMessageBox::StandardButton buttons[3];
    int ids[3];
    int count;
};

ButtonSet ButtonsOf(unsigned flags) {
    using B = QMessageBox;
    switch (flags & 0xF) {
        case mb::kOkCancel:
            return {{B::Ok, B::Cancel}, {mb::kIdOk, mb::kIdCancel}, 2};
        case mb::kAbortRetryIgnore:
            return {
                {B::Abort, B::Retry, B::Ignore}, {mb::kIdAbort, mb::kIdRetry, mb::kIdIgnore}, 3};
        case mb::kYesNoCancel:
            return {{B::Yes, B::No, B::Cancel}, {mb::kIdYes, mb::kIdNo, mb::kIdCancel}, 3};
        case mb::kYesNo:
            return {{B::Yes, B::No}, {mb::kIdYes, mb::kIdNo}, 2};
        case mb::kRetryCancel:
            return {{B::Retry, B::Cancel}, {mb::kIdRetry, mb::kIdCancel}, 2};
        default:
            return {{B::Ok}, {mb::kIdOk}, 1};
    }
}

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & 0xF0) {
        case mb::kIconStop:
            return QMessageBox::Critical;
        case mb::kIconQuestion:
            return QMessageBox::Question;
        case mb::kIconWarning:
            return QMessageBox::Warning;
        case mb::kIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

QString DanishButtonText(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Yes:
            return QStringLiteral("&Ja");
        case QMessageBox::No:
            return QStringLiteral("&Nej");
        case QMessageBox::Cancel:
            return QStringLiteral("Annuller");
        case QMessageBox::Retry:
            return QStringLiteral("&Prøv igen");
        default:
            return QStringLiteral("OK");
    }
}

// Room the window manager's title bar takes beside the title: icon and buttons.
constexpr int kTitleBarFurniture = 140;

// A box narrower than its title gets the title shortened by the window manager
// ("Morva...Vaktor"): the box is made wide enough for the whole title.
void KeepTitleWhole(QMessageBox& box) {
    QFont bold = box.font();
    bold.setBold(true);
    const int need = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + kTitleBarFurniture;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(need, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

int ShowMessageBox(const DialogRequest& r) {
    QMessageBox box(IconOf(r.flags), r.caption, r.text, QMessageBox::NoButton, OwnerWindow());
    if (StayOnTopWindow()) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    ButtonSet set = ButtonsOf(r.flags);
    for (int i = 0; i < set.count; ++i) {
        // The program speaks Danish, also on its standard buttons.
        box.addButton(set.buttons[i])->setText(DanishButtonText(set.buttons[i]));
    }
    int def = static_cast<int>((r.flags >> 8) & 0xF);
    if (def < set.count) box.setDefaultButton(set.buttons[def]);
    KeepTitleWhole(box);
    box.exec();
    QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
    for (int i = 0; i < set.count; ++i)
        if (set.buttons[i] == clicked) return set.ids[i];
    return CancelAnswer(r.flags);
}

DialogAnswer ShowReal(const DialogRequest& r) {
    DialogAnswer a;
    switch (r.kind) {
        case DialogKind::Message:
            a.button = ShowMessageBox(r);
            break;
        case DialogKind::Input: {
            QInputDialog dialog(OwnerWindow());
            dialog.setWindowTitle(r.caption);
            dialog.setLabelText(r.text);
            dialog.setTextValue(r.value);
            dialog.setOkButtonText(QStringLiteral("OK"));
            dialog.setCancelButtonText(QStringLiteral("Annuller"));
            const bool ok = dialog.exec() == QDialog::Accepted;
            a.value = ok ? dialog.textValue() : QString();
            a.button = ok ? mb::kIdOk : mb::kIdCancel;
            break;
        }
        case DialogKind::OpenFile:
            a.value = QFileDialog::getOpenFileName(OwnerWindow(), r.caption, r.value, r.filter);
            break;
        case DialogKind::SaveFile:
            a.value = QFileDialog::getSaveFileName(
                OwnerWindow(), r.caption, r.value, r.filter, nullptr,
                r.confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite);
            break;
        case DialogKind::Folder:
            a.value = QFileDialog::getExistingDirectory(OwnerWindow(), r.caption, r.value);
            break;
    }
    return a;
}

}  // namespace

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

void ScriptedResponder::Answer(int button) {
    DialogAnswer a;
    a.button = button;
    queue_.push_back(a);
}

void ScriptedResponder::AnswerText(const QString& value) {
    DialogAnswer a;
    a.button = mb::kIdOk;
    a.value = value;
    queue_.push_back(a);
}

void ScriptedResponder::AnswerCancel() {
    DialogAnswer a;
    a.button = mb::kIdCancel;
    queue_.push_back(a);
}

DialogAnswer ScriptedResponder::Respond(const DialogRequest& request) {
    asked_.push_back(request);
    if (queue_.empty()) {
        ++unanswered_;
        return CancelAnswer(request);
    }
    DialogAnswer a = queue_.front();
    queue_.pop_front();
    return a;
}

QStringList ScriptedResponder::Texts() const {
    QStringList texts;
    for (const DialogRequest& r : asked_)
        texts << (r.kind == DialogKind::Message || r.kind == DialogKind::Input ? r.text
                                                                               : r.caption);
    return texts;
}

void ScriptedResponder::Clear() {
    queue_.clear();
    asked_.clear();
    unanswered_ = 0;
}

DialogService& DialogService::Instance() {
    static DialogService service;
    return service;
}

namespace {

// The control that had the focus when a box came up gets it back when the box is gone, so
// the user's next keys go where they went before the box.
class FocusKeeper {
  public:
    FocusKeeper() : focus_(HaveWidgets() ? QApplication::focusWidget() : nullptr) {}
    ~FocusKeeper() {
        if (!focus_ || !focus_->isVisible() || !focus_->isEnabled()) return;
        if (QApplication::focusWidget() == focus_) return;
        focus_->setFocus(Qt::OtherFocusReason);  // in an inactive window: its focus child
        if (!QApplication::activeWindow()) focus_->window()->activateWindow();
    }

  private:
    QPointer<QWidget> focus_;
};

// A box that comes up while a mouse button is held (the press moved the focus, and leaving
// a field asked something) takes the release; the press itself reaches its control only
// after the box, when the button is long up, and would leave a button drawn as pressed with
// no release to come. Such a press is dropped, for every control, from the box's end until
// the event loop turns again.
class StalePressFilter : public QObject {
  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress &&
            event->type() != QEvent::MouseButtonDblClick)
            return false;
        return !(QGuiApplication::mouseButtons() & static_cast<QMouseEvent*>(event)->button());
    }
};

// Made before a box, gone after it: installs the filter above when a mouse button was held as
// the box came up.
class PressGuard {
  public:
    PressGuard() : held_(HaveWidgets() && QGuiApplication::mouseButtons() != Qt::NoButton) {}
    ~PressGuard() {
        if (!held_) return;
        auto* f = new StalePressFilter;
        qApp->installEventFilter(f);
        QTimer::singleShot(0, f, [f] { f->deleteLater(); });
    }
    PressGuard(const PressGuard&) = delete;
    PressGuard& operator=(const PressGuard&) = delete;

  private:
    bool held_;
};

}  // namespace

namespace {

// The transcript file named by KJ_DIALOG_LOG, or empty: a program driven from outside (by a
// script sending keys) learns from it which box is up and what it said.
const QString& TranscriptPath() {
    static const QString path = QString::fromLocal8Bit(qgetenv("KJ_DIALOG_LOG"));
    return path;
}

// One field of a transcript line: tabs and line breaks written as \t, \n and \r.
QString TranscriptField(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return text;
}

void AppendTranscript(const QStringList& fields) {
    if (TranscriptPath().isEmpty()) return;
    QStringList escaped;
    for (const QString& f : fields) escaped << TranscriptField(f);
    QFile file(TranscriptPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    file.write((escaped.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
}

QString KindName(DialogKind kind) {
    switch (kind) {
        case DialogKind::Message:
            return QStringLiteral("message");
        case DialogKind::Input:
            return QStringLiteral("input");
        case DialogKind::OpenFile:
            return QStringLiteral("open");
        case DialogKind::SaveFile:
            return QStringLiteral("save");
        default:
            return QStringLiteral("folder");
    }
}

}  // namespace

// "ask <kind> <caption> <text> <value>" when a dialog comes up.
void DialogService::LogRequest(const DialogRequest& r) {
    AppendTranscript({QStringLiteral("ask"), KindName(r.kind), r.caption, r.text, r.value});
}

// "answer <button> <value>" when it returns.
void DialogService::LogAnswer(const DialogAnswer& a) {
    AppendTranscript({QStringLiteral("answer"), QString::number(a.button), a.value});
}

DialogAnswer DialogService::Ask(const DialogRequest& request) {
    LogRequest(request);
    DialogAnswer a = Answer(request);
    LogAnswer(a);
    return a;
}

DialogAnswer DialogService::Answer(const DialogRequest& request) {
    PressGuard press;
    FocusKeeper keeper;
    if (responder_) return responder_->Respond(request);
    if (!HaveWidgets()) {  // a tool without windows: say it on stderr and cancel
        std::fprintf(stderr, "%s: %s\n", request.caption.toUtf8().constData(),
                     request.text.toUtf8().constData());
        return CancelAnswer(request);
    }
    return ShowReal(request);
}

namespace {

// A message that carries an engine failure is told in the user's words first (the engine's
// text follows as detail); every other text is shown as it stands.
// The text passes through the words routine whole; a text it leaves alone is shown as
// given (not through the code page).
QString InUserWords(const QString& text) {
    const std::string ansi = ToAnsi(text);
    const std::string words = TzDs::InUserWords(ansi);
    return words == ansi ? text : FromAnsi(words);
}

}  // namespace

int DialogService::MessageBox(const QString& text, const QString& caption, unsigned flags) {
    DialogRequest r;
    r.kind = DialogKind::Message;
    r.caption = caption;
    r.text = InUserWords(text);
    r.flags = flags;
    return Ask(r).button;
}

void DialogService::ShowMessage(const QString& text) {
    MessageBox(text, QCoreApplication::applicationName(), mb::kOk);
}

int DialogService::YesNoCancel(const QString& text, const QString& caption, unsigned flags) {
    return MessageBox(text, caption, (flags & ~0xFu) | mb::kYesNoCancel);
}

QString DialogService::InputText(const QString& caption, const QString& prompt,
                                 const QString& def) {
    QString value = def;
    return InputBox(caption, prompt, value) ? value : def;
}

bool DialogService::YesNo(const QString& text, const QString& caption, unsigned flags) {
    return MessageBox(text, caption, (flags & ~0xFu) | mb::kYesNo) == mb::kIdYes;
}

bool DialogService::InputBox(const QString& caption, const QString& prompt, QString& value) {
    DialogRequest r;
    r.kind = DialogKind::Input;
    r.caption = caption;
    r.text = prompt;
    r.value = value;
    DialogAnswer a = Ask(r);
    if (a.button != mb::kIdOk) return false;
    value = a.value;
    return true;
}

QString DialogService::OpenFile(const QString& caption, const QString& start,
                                const QString& filter) {
    DialogRequest r;
    r.kind = DialogKind::OpenFile;
    r.caption = caption;
    r.value = start;
    r.filter = filter;
    return Ask(r).value;
}

QString DialogService::SaveFile(const QString& caption, const QString& start, const QString& filter,
                                bool confirmOverwrite) {
    DialogRequest r;
    r.kind = DialogKind::SaveFile;
    r.caption = caption;
    r.value = start;
    r.filter = filter;
    r.confirmOverwrite = confirmOverwrite;
    return Ask(r).value;
}

QString DialogService::Folder(const QString& caption, const QString& start) {
    DialogRequest r;
    r.kind = DialogKind::Folder;
    r.caption = caption;
    r.value = start;
    return Ask(r).value;
}

void DialogService::InstallAsErrorBox() {
    TzCommon::SetErrorBoxProc(
        [this](const std::string& text, const std::string& caption, unsigned flags) {
            return MessageBox(FromAnsi(text), FromAnsi(caption), flags);
        });
}

}  // namespace kjqt
