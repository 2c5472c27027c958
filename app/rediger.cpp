// The built-in editor (see rediger.h).
#include "app/rediger.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QVBoxLayout>

#include "app/kj_register.h"
#include "app/kj_rtf.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "storage/whole_file.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

namespace kj {

namespace {

constexpr int kLimitMargin = 2500, kLimitStep = 5000;
constexpr int kConvertStep = 100;  // lines between two message pumps while converting

TRetForm* g_current = nullptr;

bool IsExt(const std::string& file, const char* ext) {
    return QFileInfo(QString::fromLocal8Bit(file.c_str())).suffix().toUpper() == ext;
}

bool ReadBytes(const std::string& file, std::string& bytes) {
    QFile f(QString::fromLocal8Bit(file.c_str()));
    if (!f.open(QIODevice::ReadOnly)) return false;
    bytes = f.readAll().toStdString();
    return true;
}

// Windows-1252 text with CR LF line ends as the control's lines.
QString TextOf(const std::string& bytes) {
    QString s = kjqt::FromAnsi(bytes);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (s.endsWith(QLatin1Char('\n'))) s.chop(1);
    return s;
}

}  // namespace

TFindDialog::TFindDialog(QWidget* parent, bool replace) : QDialog(parent) {
    setWindowTitle(replace ? Q("Erstat") : Q("Find"));
    auto* g = new QGridLayout(this);
    g->addWidget(new QLabel(Q("Find:"), this), 0, 0);
    FindText = new QLineEdit(this);
    g->addWidget(FindText, 0, 1);
    FindBtn = new QPushButton(Q("Find næste"), this);
    g->addWidget(FindBtn, 0, 2);
    if (replace) {
        g->addWidget(new QLabel(Q("Erstat med:"), this), 1, 0);
        ReplaceText = new QLineEdit(this);
        g->addWidget(ReplaceText, 1, 1);
        ReplaceBtn = new QPushButton(Q("Erstat"), this);
        g->addWidget(ReplaceBtn, 1, 2);
        ReplaceAll = new QCheckBox(Q("Erstat alle"), this);
        g->addWidget(ReplaceAll, 2, 1);
    }
}

TRetForm::TRetForm(QWidget* parent) : QDialog(parent) {
    resize(760, 540);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    Rediger = new QTextEdit(this);
    Rediger->setAcceptRichText(false);
    Rediger->setLineWrapMode(QTextEdit::NoWrap);
    Rediger->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Rediger->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Rediger->installEventFilter(this);
    v->addWidget(Rediger, 1);
    RedigerBar = new QLabel(this);
    RedigerBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    v->addWidget(RedigerBar);
    FindTekstDlg = new TFindDialog(this, false);
    ErstatTekstDlg = new TFindDialog(this, true);
    connect(FindTekstDlg->FindBtn, &QPushButton::clicked, this, [this] { FindTekstDlgFind(); });
    connect(ErstatTekstDlg->FindBtn, &QPushButton::clicked, this, [this] { FindTekstDlgFind(); });
    connect(ErstatTekstDlg->ReplaceBtn, &QPushButton::clicked, this,
            [this] { ErstatTekstDlgReplace(); });
    BuildMenu();
    v->setMenuBar(menuBar_);
    connect(Rediger, &QTextEdit::cursorPositionChanged, this, [this] { RedigerSelectionChange(); });
    connect(Rediger, &QTextEdit::selectionChanged, this, [this] { RedigerSelectionChange(); });
    connect(Rediger, &QTextEdit::textChanged, this, [this] { RedigerChange(); });
}

TRetForm::~TRetForm() = default;

void TRetForm::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    auto add = [this](const char* text, void (TRetForm::*slot)(), QKeySequence key = {}) {
        QAction* a = menuBar_->addAction(Q(text));
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        return a;
    };
    MPGemFil = add("Gem fil", &TRetForm::MPGemFilClick);
    MPFindTekst = add("Find tekst", &TRetForm::MPFindTekstClick);
    MPErstatTekst = add("Erstat tekst", &TRetForm::MPErstatTekstClick);
    MPHop = add("Gå til", &TRetForm::MPHopClick);
    MPUdskrivFil = add("Udskriv fil", &TRetForm::MPUdskrivFilClick);
    MPSkrift = add("Skrifttype", &TRetForm::MPSkriftClick);
    mpKonverter = add("Ascii -> Ansi", &TRetForm::mpKonverterClick);
    MPAfslut = menuBar_->addAction(Q("Afslut"));
    MPAfslut->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    connect(MPAfslut, &QAction::triggered, this, &QWidget::close);
    MHelp = menuBar_->addAction(Q("Hjælp"));
    MHelp->setShortcut(QKeySequence(Qt::Key_F1));
}

bool TRetForm::LoadFile(const std::string& fileName, bool lineFallback) {
    loading_ = true;
    tz::ScopeExit done([this] { loading_ = false; });
    Rediger->clear();
    const bool rtf = IsExt(fileName, "RTF");
    if (rtf) {
        Rediger->setAcceptRichText(true);
        Rediger->setLineWrapMode(QTextEdit::WidgetWidth);
    }
    std::string bytes;
    if (ReadBytes(fileName, bytes)) {
        if (rtf && LooksLikeRtf(bytes))
            LoadRtf(bytes, *Rediger->document());
        else
            Rediger->setPlainText(TextOf(bytes));
        return true;
    }
    if (!lineFallback) return false;
    WaitCursor wait;
    kjqt::TMVFil f;
    if (!f.Reset(fileName)) return false;
    std::string line;
    while (f.ReadLine(line)) Rediger->append(kjqt::FromAnsi(line));
    return true;
}

void TRetForm::RedigerSelectionChange() {
    if (Busy) return;
    const QTextCursor c = Rediger->textCursor();
    const QTextBlock last = Rediger->document()->lastBlock();
    const int end = last.position() + last.length() - 1;
    if (end + kLimitMargin >= TextLimit) TextLimit += kLimitStep;
    const QString suffix = Modified ? Q("(Ændret)") : QString(20, QLatin1Char(' '));
    RedigerBar->setText(
        QString::asprintf("position: linie %6d af %6d kolonne %3d (%10d valgt %5d) ",
                          c.blockNumber() + 1, Rediger->document()->blockCount(),
                          c.positionInBlock() + 1, c.position(),
                          c.selectionEnd() - c.selectionStart()) +
        suffix + QString::asprintf("[%6d, %6d]", end, TextLimit));
}

void TRetForm::RedigerChange() {
    if (loading_ || Rediger->isReadOnly()) return;
    Modified = true;
    RedigerSelectionChange();
}

void TRetForm::MPGemFilClick() {
    QString name = QString::fromLocal8Bit(FileName.c_str());
    for (;;) {
        if (!IsExt(kjqt::ToAnsi(name), "$$$")) {
            // The editor asks about an existing file itself, so the dialog must not.
            const QString chosen = kjqt::DialogService::Instance().SaveFile(
                Q("Gem fil"), name, Q("Alle filer (*)"), false);
            if (chosen.isEmpty()) return;
            if (QFileInfo::exists(chosen) &&
                !kjqt::DialogService::Instance().YesNo(Q("Filen findes skal den overskrives ?"),
                                                       windowTitle())) {
                name = chosen;
                continue;
            }
            name = chosen;
        }
        const std::string newName = kjqt::ToAnsi(name);
        QString caption = windowTitle();
        const QString old = kjqt::FromAnsi(FileName);
        if (!old.isEmpty() && caption.contains(old)) {
            caption.remove(old);
            setWindowTitle(caption + kjqt::FromAnsi(newName));
        }
        FileName = newName;
        WaitCursor wait;
        QString text = Rediger->toPlainText();
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        const std::string bytes = kjqt::ToAnsi(text) + "\r\n";
        if (tz::WriteWholeFile(name.toLocal8Bit().toStdString(), bytes) != 0)
            throw std::runtime_error("Kan ikke skrive filen: " + newName);
        Modified = false;
        RedigerSelectionChange();
        return;
    }
}

bool TRetForm::FormCloseQuery() {
    while (Modified) {
        if (IsExt(FileName, "$$$")) {
            MPGemFilClick();
            if (Modified) return false;
            continue;
        }
        const int a = kjqt::DialogService::Instance().YesNoCancel(
            Q("Indholdet er blevet ændret, ønsker du at gemme det"), windowTitle());
        if (a == kjqt::mb::kIdCancel) return false;
        if (a == kjqt::mb::kIdNo) {
            Modified = false;
            break;
        }
        if (!MPGemFil->isEnabled()) continue;  // view mode cannot save: ask again
        MPGemFilClick();
    }
    return true;
}

void TRetForm::closeEvent(QCloseEvent* event) {
    if (!closing_ && !FormCloseQuery()) return event->ignore();
    QDialog::closeEvent(event);
}

void TRetForm::done(int result) {
    if (!closing_ && !FormCloseQuery()) return;
    closing_ = true;
    AbortFlag = true;
    QDialog::done(result);
}

void TRetForm::MPFindTekstClick() {
    if (Rediger->textCursor().hasSelection())
        FindTekstDlg->FindText->setText(Rediger->textCursor().selectedText());
    FindTekstDlg->show();
}

void TRetForm::MPErstatTekstClick() {
    if (Rediger->textCursor().hasSelection())
        ErstatTekstDlg->FindText->setText(Rediger->textCursor().selectedText());
    ErstatTekstDlg->show();
}

int TRetForm::SearchStep() {
    const QTextCursor from = Rediger->textCursor();
    const QTextCursor found = Rediger->document()->find(SearchText, from.selectionEnd());
    if (found.isNull() || SearchText.isEmpty()) return -1;
    Rediger->setTextCursor(found);
    Rediger->ensureCursorVisible();
    return found.selectionStart();
}

bool TRetForm::FindWithWrap() {
    for (;;) {
        if (SearchStep() >= 0) return true;
        if (!kjqt::DialogService::Instance().YesNo(Q("Slut på fil, skal søgning starte forfra ?"),
                                                   windowTitle()))
            return false;
        Rediger->moveCursor(QTextCursor::Start);
    }
}

void TRetForm::FindTekstDlgFind() {
    ReplaceMode = false;
    TFindDialog* dlg = ErstatTekstDlg->isVisible() && sender() == ErstatTekstDlg->FindBtn
                           ? ErstatTekstDlg
                           : FindTekstDlg;
    if (dlg == FindTekstDlg || !dlg->FindText->text().isEmpty()) SearchText = dlg->FindText->text();
    FindWithWrap();
}

void TRetForm::ErstatTekstDlgReplace() {
    ReplaceMode = true;
    SearchText = ErstatTekstDlg->FindText->text();
    ReplaceText = ErstatTekstDlg->ReplaceText->text();
    ReplaceAllFlag = ErstatTekstDlg->ReplaceAll->isChecked();
    if (!FindWithWrap()) return;
    do {
        QTextCursor c = Rediger->textCursor();
        const int start = c.selectionStart();
        c.insertText(ReplaceText);
        c.setPosition(start);
        c.setPosition(start + int(ReplaceText.size()), QTextCursor::KeepAnchor);
        Rediger->setTextCursor(c);
    } while (ReplaceAllFlag && SearchStep() >= 0);
}

void TRetForm::MPHopClick() {
    QString answer;
    if (!kjqt::DialogService::Instance().InputBox(Q("Hop"), Q("Indtast linie-/postnummer"),
                                                  answer) ||
        answer.trimmed().isEmpty())
        return;
    const int n = SafeStrToInt(kjqt::ToAnsi(answer.trimmed()), 0);
    if (n == 0) return;
    const QTextBlock b = Rediger->document()->findBlockByNumber(n - 1);
    if (!b.isValid()) return;
    QTextCursor c(b);
    Rediger->setTextCursor(c);
    Rediger->ensureCursorVisible();
}

void TRetForm::MPUdskrivFilClick() {
    QPrinter printer;
    const QString pdf = qEnvironmentVariable("KJ_PRINT_PDF");
    if (!pdf.isEmpty() || QPrinterInfo::availablePrinters().isEmpty()) {
        QString target = pdf;
        if (target.isEmpty())
            target = kjqt::DialogService::Instance().SaveFile(Q("Udskriv til PDF"), QString(),
                                                              Q("PDF (*.pdf)"));
        if (target.isEmpty()) return;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(target);
    } else {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) return;
    }
    WaitCursor wait;
    printer.setDocName(kjqt::FromAnsi("Editor udskrift af " + FileName));
    Rediger->print(&printer);
}

void TRetForm::MPSkriftClick() {
    bool ok = false;
    QTextCursor c = Rediger->textCursor();
    const QFont start = c.hasSelection() ? c.charFormat().font() : Rediger->font();
    const QFont font =
        QFontDialog::getFont(&ok, start, this, Q("Skrifttype"), QFontDialog::MonospacedFonts);
    if (!ok) return;
    if (!c.hasSelection()) {
        Rediger->setFont(font);
        return;
    }
    QTextCharFormat f;
    f.setFont(font);
    c.mergeCharFormat(f);
}

void TRetForm::mpKonverterClick() {
    AbortFlag = false;
    Busy = true;
    WaitCursor wait;
    QTextDocument* doc = Rediger->document();
    QTextCursor edit(doc);
    edit.beginEditBlock();
    int n = 0;
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next(), ++n) {
        std::string line = kjqt::ToAnsi(b.text());
        DosToAnsi(line);
        const QString fixed = kjqt::FromAnsi(line);
        if (fixed != b.text()) {
            QTextCursor c(b);
            c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            c.insertText(fixed);
        }
        if (n % kConvertStep == 0) {
            QApplication::processEvents();
            if (closing_ || AbortFlag) break;
        }
    }
    edit.endEditBlock();
    Busy = false;
    Modified = true;
    RedigerSelectionChange();
}

bool TRetForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Rediger || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* k = static_cast<QKeyEvent*>(event);
    if (Busy) {
        if (k->key() == Qt::Key_Escape || k->key() == Qt::Key_S) AbortFlag = true;
        return true;
    }
    if (k->key() != Qt::Key_F3) return false;
    if (SearchText.isEmpty())
        MPFindTekstClick();
    else if (ReplaceMode)
        ErstatTekstDlgReplace();
    else
        FindWithWrap();
    return true;
}

namespace Rediger {

namespace {

void Show(TRetForm& form) {
    g_current = &form;
    struct Clear {
        ~Clear() { g_current = nullptr; }
    } clear;
    form.Rediger->moveCursor(QTextCursor::Start);
    form.Modified = false;
    form.RedigerSelectionChange();
    form.exec();
}

}  // namespace

TRetForm* Current() {
    return g_current;
}

void EditFile(const std::string& program, const std::string& caption, const std::string& fileName) {
    if (!QFileInfo::exists(QString::fromLocal8Bit(fileName.c_str()))) {
        ShowMsg("Kan ikke finde filen: " + fileName);
        return;
    }
    if (!TzCommon::AllTrim(program).empty()) {
        QProcess::startDetached(QString::fromLocal8Bit(TzCommon::AllTrim(program).c_str()),
                                {QString::fromLocal8Bit(fileName.c_str())});
        return;
    }
    TRetForm form(MainWindow());
    form.setWindowTitle(kjqt::FromAnsi(caption));
    form.FileName = fileName;
    if (!form.LoadFile(fileName, true)) {
        ShowMsg(Ansi("Filen: ") + fileName +
                Ansi(" findes ikke, er tom eller bruges af et andet program, prøv igen"));
        return;
    }
    form.MPGemFil->setEnabled(true);
    Show(form);
}

void ViewFile(const std::string& caption, const std::string& fileName) {
    if (!QFileInfo::exists(QString::fromLocal8Bit(fileName.c_str()))) {
        ShowMsg("Kan ikke finde filen: " + fileName);
        return;
    }
    TRetForm form(MainWindow());
    form.setWindowTitle(kjqt::FromAnsi(caption));
    form.FileName = fileName;
    form.Rediger->setReadOnly(true);
    form.LoadFile(fileName, false);
    form.MPGemFil->setEnabled(false);
    Show(form);
}

}  // namespace Rediger

}  // namespace kj
