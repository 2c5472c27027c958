// The built-in editor (status line, close question and the ".$$$" rule, save with its
// overwrite question, find, replace and replace-all with the wrap-around question, go to
// line, RTF view, print to PDF), the two small dialogs, and the main menu's dispatch with
// its maintenance questions, driven through the dialog service's scripted responder.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>

#include "app/kj_menu.h"
#include "app/kj_text.h"
#include "app/password.h"
#include "app/rediger.h"
#include "app/vis_data.h"
#include "ui/application.h"
#include "work_fixture.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

namespace {

const QString kChanged = QString::fromUtf8("Indholdet er blevet ændret, ønsker du at gemme det");
const QString kWrap = QString::fromUtf8("Slut på fil, skal søgning starte forfra ?");

// Runs `body` on the editor once it is shown, then closes it.
void OnEditor(std::function<void(kj::TRetForm*)> body) {
    WhenReady([] { return kj::Rediger::Current() && kj::Rediger::Current()->isVisible(); },
              [body] {
                  kj::TRetForm* w = kj::Rediger::Current();
                  body(w);
                  if (QTest::currentTestFailed()) w->Modified = false;  // no question left
                  w->close();
                  if (w->isVisible()) w->reject();
              });
}

void PutText(kj::TRetForm* w, const QString& text, int caret) {
    w->Rediger->setPlainText(text);
    QTextCursor c = w->Rediger->textCursor();
    c.setPosition(caret);
    w->Rediger->setTextCursor(c);
}

}  // namespace

class EditorMenuTest : public QObject {
    Q_OBJECT

    DataFolder f_;
    std::string dir_;

    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + name;
        Write(path, bytes);
        return path;
    }

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor")); }
    void init() {
        f_.Open();
        dir_ = f_.sf->start;
    }
    void cleanup() { f_.Close(); }

    void editingAFileAsksBeforeClosingAndShowsTheStatus() {
        const std::string file = f_.data->StdHandFileName();
        const std::string before = Read(file);
        QVERIFY(!before.empty());
        QString status, caption;
        bool saveEnabled = false;
        OnEditor([&](kj::TRetForm* w) {
            caption = w->windowTitle();
            saveEnabled = w->MPGemFil->isEnabled();
            QVERIFY(!w->RedigerBar->text().contains(QString::fromUtf8("(Ændret)")));
            QTest::keyClicks(w->Rediger, "x");
            status = w->RedigerBar->text();
            f_.responder.Answer(kIdNo);
        });
        kj::MainMenu().MenuPunktClick(kj::MenuItem::MPHandel);
        QCOMPARE(caption, QString::fromUtf8("Indtastning af standard hændelser"));
        QVERIFY(saveEnabled);
        QVERIFY(status.startsWith(QStringLiteral("position: linie      1 af ")));
        QVERIFY(
            status.contains(QString::fromUtf8("kolonne   2 (         1 valgt     0) (Ændret)[")));
        QCOMPARE(f_.responder.Texts(), QStringList({kChanged}));
        QCOMPARE(Read(file), before);
    }

    void aDollarFileIsSavedOnClosingWithoutQuestions() {
        const std::string file = File("notat.$$$", "en\r\nto\r\n");
        OnEditor([](kj::TRetForm* w) {
            w->Rediger->moveCursor(QTextCursor::End);
            QTest::keyClicks(w->Rediger, QString::fromUtf8(" æ"));
        });
        kj::Rediger::EditFile("", "Notat", file);
        QCOMPARE(f_.responder.Texts(), QStringList());
        QCOMPARE(Read(file), Ansi("en\r\nto æ\r\n"));
    }

    void saveAsksBeforeOverwritingAndRenamesTheCaption() {
        const std::string a = File("a.txt", "tekst\r\n"), b = File("b.txt", "andet\r\n");
        const std::string c = dir_ + "c.txt";
        QString caption;
        OnEditor([&](kj::TRetForm* w) {
            f_.responder.AnswerText(QString::fromStdString(b));
            f_.responder.Answer(kIdNo);
            f_.responder.AnswerText(QString::fromStdString(c));
            w->MPGemFilClick();
            caption = w->windowTitle();
        });
        kj::Rediger::EditFile("", "Ret " + a, a);
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QStringLiteral("Gem fil"),
                              QStringLiteral("Filen findes skal den overskrives ?"),
                              QStringLiteral("Gem fil")}));
        // The editor's own question is the only one: the save dialog does not ask too.
        QCOMPARE(f_.responder.Asked()[0].kind, kjqt::DialogKind::SaveFile);
        QVERIFY(!f_.responder.Asked()[0].confirmOverwrite);
        QVERIFY(!f_.responder.Asked()[2].confirmOverwrite);
        QCOMPARE(caption, QString::fromStdString("Ret " + c));
        QCOMPARE(Read(c), std::string("tekst\r\n"));
        QCOMPARE(Read(b), std::string("andet\r\n"));
    }

    void findReplaceAndGoToLine() {
        const std::string file = File("s.txt", "x\r\n");
        OnEditor([&](kj::TRetForm* w) {
            // Replace-all from the caret on: the "abc" before it stays, no question asked.
            PutText(w, "abc x ABC\nabc y\nz", 3);
            w->ErstatTekstDlg->FindText->setText("abc");
            w->ErstatTekstDlg->ReplaceText->setText("Q");
            w->ErstatTekstDlg->ReplaceAll->setChecked(true);
            QTest::mouseClick(w->ErstatTekstDlg->ReplaceBtn, Qt::LeftButton);
            QCOMPARE(w->Rediger->toPlainText(), QStringLiteral("abc x Q\nQ y\nz"));
            QCOMPARE(f_.responder.Texts(), QStringList());
            // None after the caret: the wrap-around question, then the rest from the top.
            w->Rediger->moveCursor(QTextCursor::End);
            f_.responder.Answer(kIdYes);
            w->ErstatTekstDlgReplace();
            QCOMPARE(w->Rediger->toPlainText(), QStringLiteral("Q x Q\nQ y\nz"));
            QCOMPARE(f_.responder.Texts(), QStringList({kWrap}));
            // A single replace replaces the next one only.
            PutText(w, "ab ab", 0);
            w->ErstatTekstDlg->FindText->setText("ab");
            w->ErstatTekstDlg->ReplaceAll->setChecked(false);
            w->ErstatTekstDlgReplace();
            QCOMPARE(w->Rediger->toPlainText(), QStringLiteral("Q ab"));
            // Find and F3: the second search finds nothing more and asks; No ends it.
            f_.responder.Clear();
            PutText(w, "en\nto\ntre to", 0);
            w->FindTekstDlg->FindText->setText("to");
            QTest::mouseClick(w->FindTekstDlg->FindBtn, Qt::LeftButton);
            QCOMPARE(w->Rediger->textCursor().selectionStart(), 3);
            QTest::keyClick(w->Rediger, Qt::Key_F3);
            QCOMPARE(w->Rediger->textCursor().selectionStart(), 10);
            QTest::keyClick(w->Rediger, Qt::Key_F3);
            QCOMPARE(f_.responder.Texts(), QStringList({kWrap}));
            QCOMPARE(w->Rediger->textCursor().selectionStart(), 10);
            // Go to line: "abc" does nothing, "3" puts the caret at the start of line 3.
            f_.responder.Clear();
            PutText(w, "a\nbb\nccc\ndddd", 1);
            f_.responder.AnswerText("abc");
            w->MPHopClick();
            QCOMPARE(w->Rediger->textCursor().position(), 1);
            f_.responder.AnswerText("3");
            w->MPHopClick();
            QCOMPARE(w->Rediger->textCursor().blockNumber(), 2);
            QCOMPARE(w->Rediger->textCursor().positionInBlock(), 0);
            QVERIFY(!w->Rediger->textCursor().hasSelection());
            QCOMPARE(f_.responder.Texts(),
                     QStringList({QStringLiteral("Indtast linie-/postnummer"),
                                  QStringLiteral("Indtast linie-/postnummer")}));
            // The 7-bit Danish letters become Windows letters, line by line.
            PutText(w, "s|ster\n]rhus", 0);
            w->Modified = false;
            w->mpKonverterClick();
            QCOMPARE(w->Rediger->toPlainText(), QString::fromUtf8("søster\nÅrhus"));
            QVERIFY(w->Modified);
            f_.responder.Clear();
            f_.responder.Answer(kIdNo);
        });
        kj::Rediger::EditFile("", "Find", file);
        QCOMPARE(f_.responder.Texts(), QStringList({kChanged}));
    }

    void viewShowsRtfReadOnlyAndPrintsToPdf() {
        const std::string rtf = File("KJSidenS.rtf",
                                     "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;}"
                                     "\\b Nyt\\b0  i denne version\\par Bedre s\\'f8gning}");
        const QString pdf = QString::fromStdString(dir_ + "editor.pdf");
        qputenv("KJ_PRINT_PDF", pdf.toLocal8Bit());
        QString text, caption;
        bool bold = false, readOnly = false, save = true, wraps = false;
        OnEditor([&](kj::TRetForm* w) {
            text = w->Rediger->toPlainText();
            caption = w->windowTitle();
            QTextCursor c(w->Rediger->document()->firstBlock());
            c.movePosition(QTextCursor::NextCharacter);
            bold = c.charFormat().fontWeight() == QFont::Bold;
            readOnly = w->Rediger->isReadOnly();
            save = w->MPGemFil->isEnabled();
            wraps = w->Rediger->lineWrapMode() != QTextEdit::NoWrap;
            if (!qEnvironmentVariableIsEmpty("KJ_SCREENSHOT"))
                w->grab().save(qEnvironmentVariable("KJ_SCREENSHOT"));
            w->MPUdskrivFilClick();
        });
        kj::MainMenu().SidenSidstClick();
        qunsetenv("KJ_PRINT_PDF");
        QCOMPARE(caption, QStringLiteral("  Siden sidst  "));
        QCOMPARE(text, QString::fromUtf8("Nyt i denne version\nBedre søgning"));
        QVERIFY(bold && readOnly && !save && wraps);
        QProcess p;
        p.start("pdftotext", {pdf, "-"});
        QVERIFY(kjtest::WaitFinished(p, 30000));
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput())
                    .contains(QString::fromUtf8("Bedre søgning")));
        // Without the document "Siden sidst" shows nothing.
        QFile::remove(QString::fromStdString(rtf));
        kj::MainMenu().SidenSidstClick();
        QCOMPARE(f_.responder.Texts(), QStringList());
        kj::Rediger::EditFile("", "x", dir_ + "mangler.txt");
        QCOMPARE(
            f_.responder.Texts(),
            QStringList({QString::fromStdString("Kan ikke finde filen: " + dir_ + "mangler.txt")}));
    }

    void passwordAndDataDialogs() {
        auto ask = [](const QString& typed, bool ok) {
            kj::TPasswordDlg d;
            QTimer::singleShot(0, [&d, typed, ok] {
                QTest::keyClicks(d.Password, typed);
                QTest::mouseClick(ok ? d.OKBtn : d.SlutBtn, Qt::LeftButton);
            });
            return d.AskPassword("Hemmelig");
        };
        QVERIFY(ask("Hemmelig", true));
        QVERIFY(!ask("hemmelig", true));
        QVERIFY(!ask("Hemmelig ", true));
        QVERIFY(!ask("Hemmelig", false));
        kj::TVisData v;
        v.AddLine(Ansi("Ejer: Åse"));
        v.AddLine("Nabo");
        QCOMPARE(v.VisTekst->toPlainText(), QString::fromUtf8("Ejer: Åse\nNabo"));
        QCOMPARE(v.windowTitle(), QStringLiteral("Data"));
    }

    void maintenanceCommandsAskFirst() {
        kj::TMenuDispatch& m = kj::MainMenu();
        int suspended = 0, resumed = 0;
        m.SuspendData = [&] { return ++suspended > 0; };
        m.ResumeData = [&] { ++resumed; };
        const QString rebuild = QString::fromUtf8(
            "Ønsker du at genskabe alle index\r\ndet kan tage lidt tid\r\nAlle andre brugere skal "
            "afslutte\r\nMorvane Vaktor !!");
        const QString pack = QString::fromUtf8(
            "Ønsker du at fjerne slettede data\r\ndet kan tage lidt tid\r\nAlle andre brugere "
            "skal afslutte\r\nMorvane Vaktor !!");
        // No changes nothing and suspends nothing.
        f_.responder.Answer(kIdNo);
        m.GenskabIndeksClick();
        f_.responder.Answer(kIdNo);
        m.FjernSlettedePosterClick();
        QCOMPARE(f_.responder.Texts(), QStringList({rebuild, pack}));
        QCOMPARE(f_.responder.Asked()[0].flags & 0xF0, kjqt::mb::kIconInformation);
        QCOMPARE(suspended, 0);
        // Yes packs a row marked deleted away, inside suspend and resume.
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        f_.Add(f_.data->PostDbf, {{"post_sag", "S1"}});
        f_.Add(f_.data->PostDbf, {{"post_sag", "S2"}});
        f_.data->PostDbf.Delete();
        QCOMPARE(f_.data->PostDbf.RecCount(), 2);
        yes.texts.clear();
        m.FjernSlettedePosterClick();
        QCOMPARE(f_.data->PostDbf.RecCount(), 1);
        m.GenskabIndeksClick();
        QVERIFY(f_.data->PostDbf.Active());
        QCOMPARE(yes.texts, QStringList({pack, rebuild}));
        QCOMPARE(suspended, 2);
        QCOMPARE(resumed, 2);
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        // A window that raises still gets the resume step.
        m.Slot(kj::MenuItem::MPListBruger) = [] { throw std::runtime_error("fejl"); };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, m.MenuPunktClick(kj::MenuItem::MPListBruger));
        QCOMPARE(resumed, 3);
        m.Slot(kj::MenuItem::MPListBruger) = nullptr;
        // Every item is in the table; "Afslut" asks the application to end.
        QCOMPARE(int(m.Entries().size()), 19);
        QVERIFY(m.Find("MPGendan") && m.Find("MPPostTime") && m.Find("MPOverFak"));
        bool ended = false;
        m.Terminate = [&] { ended = true; };
        m.AfslutClick();
        QVERIFY(ended);
        m = kj::TMenuDispatch();
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    EditorMenuTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "editor_menu_test.moc"
