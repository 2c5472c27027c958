#include "app/prog_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "ui/text_codec.h"

namespace kj {

namespace {

QPointer<TProgressDialog> g_progress;
QPointer<QDialog> g_indexing;
bool g_stopRequested = false;

void LetPaint(QWidget* w) {
    w->show();
    w->raise();
    QApplication::processEvents();
}

}  // namespace

TProgressDialog::TProgressDialog(QWidget* owner, const std::string& caption,
                                 const std::vector<std::string>& lines, int maximum)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(kjqt::FromAnsi(caption));
    auto* layout = new QVBoxLayout(this);
    progLbl_ = new QLabel(this);
    progLbl_->setAlignment(Qt::AlignCenter);
    progLbl_->setWordWrap(true);
    progLbl2_ = new QLabel(kjqt::FromAnsi(caption), this);
    progBar_ = new QProgressBar(this);
    slutBtn_ = new QPushButton(QStringLiteral("Slut"), this);
    layout->addWidget(progLbl_);
    layout->addWidget(progLbl2_);
    layout->addWidget(progBar_);
    layout->addWidget(slutBtn_, 0, Qt::AlignCenter);
    QStringList text;
    for (const std::string& l : lines) text << kjqt::FromAnsi(l);
    progLbl_->setText(text.join('\n'));
    progLbl_->setVisible(!lines.empty());
    progBar_->setRange(0, maximum);
    step_ = maximum / 25 > 0 ? maximum / 25 : 1;
    progBar_->setValue(step_ < maximum ? step_ : maximum);
    connect(slutBtn_, &QPushButton::clicked, this, [this] {
        stop_ = true;
        g_stopRequested = true;
    });
    setObjectName(QStringLiteral("ProgressDialog"));
}

TProgressDialog::~TProgressDialog() = default;

TProgressDialog* TProgressDialog::Current() {
    return g_progress;
}

void TProgressDialog::CloseCurrent() {
    delete g_progress.data();
    g_progress = nullptr;
}

void TProgressDialog::StepAt(int position) {
    if (position % step_ != 0) return;
    progBar_->setValue(std::min(progBar_->maximum(), progBar_->value() + step_));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

int TProgressDialog::Position() const {
    return progBar_->value();
}

TProgressDialog* ShowProgress(QWidget* owner, const std::string& caption,
                              const std::vector<std::string>& lines, int maximum) {
    TProgressDialog::CloseCurrent();
    g_progress = new TProgressDialog(owner, caption, lines, maximum);
    LetPaint(g_progress);
    return g_progress;
}

bool StopRequested() {
    return g_stopRequested;
}

TOpstartForm::TOpstartForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Morvane Vaktor"));
    setObjectName(QStringLiteral("OpstartForm"));
    auto* layout = new QVBoxLayout(this);
    staticOpstart_ = new QLabel(QStringLiteral("Morvane Vaktor"), this);
    staticOpstart_->setAlignment(Qt::AlignCenter);
    staticOpstart_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    staticOpstart_->setMinimumSize(320, 120);
    QFont f = staticOpstart_->font();
    f.setPointSize(f.pointSize() * 2);
    staticOpstart_->setFont(f);
    statusOpstart_ = new QStatusBar(this);
    statusOpstart_->setSizeGripEnabled(false);
    statusOpstart_->showMessage(QStringLiteral("Morvane Vaktor initialiserer"));
    layout->addWidget(staticOpstart_, 1);
    layout->addWidget(statusOpstart_);
}

void TOpstartForm::SetStatusText(const std::string& text) {
    statusOpstart_->showMessage(kjqt::FromAnsi(text));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::string TOpstartForm::StatusText() const {
    return kjqt::ToAnsi(statusOpstart_->currentMessage());
}

void ShowIndexing(const std::string& name) {
    HideIndexing();
    auto* d = new QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    d->setWindowTitle(QStringLiteral("Indexing..."));
    auto* layout = new QVBoxLayout(d);
    auto* label = new QLabel(kjqt::FromAnsi(name), d);
    label->setObjectName(QStringLiteral("IndexFileName"));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    g_indexing = d;
    LetPaint(d);
}

void HideIndexing() {
    delete g_indexing.data();
    g_indexing = nullptr;
}

QDialog* IndexingDialog() {
    return g_indexing;
}

}  // namespace kj
