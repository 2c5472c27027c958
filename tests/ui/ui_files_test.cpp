// Edit masks, INI files, the text-file class and the dialog service's questions: the mask
// translation table, INI round trips that keep comments and order, TMVFil's bytes and
// failure messages, and the scripted responder answering Yes/No/Cancel and input boxes.
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "ui/dialog_service.h"
#include "ui/edit_mask.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

using namespace kjqt;

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

std::string Ansi(const char* utf8) {
    return ToAnsi(QString::fromUtf8(utf8));
}

}  // namespace

class UiFilesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    ScriptedResponder responder_;

    std::string Path(const char* name) {
        return dir_.filePath(QString::fromLatin1(name)).toStdString();
    }

  private slots:
    void init() {
        responder_.Clear();
        DialogService::Instance().SetResponder(&responder_);
    }
    void cleanup() { DialogService::Instance().SetResponder(nullptr); }

    void maskTranslation_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("qt");
        QTest::addColumn<bool>("save");
        QTest::newRow("initials") << ">ccccc;0;_"
                                  << ">xxxxx;_" << false;
        QTest::newRow("item id") << ">cccccccccc;0;_"
                                 << ">xxxxxxxxxx;_" << false;
        QTest::newRow("time of day") << "!90:00;1;_"
                                     << "09:99;_" << true;
        QTest::newRow("date") << "99/99/9999;1; "
                              << "00-00-0000; " << true;
        QTest::newRow("closing date") << "99/99/9999;1;_"
                                      << "00-00-0000;_" << true;
        QTest::newRow("debit credit") << ">L;0;_"
                                      << ">A;_" << false;
        QTest::newRow("type letter") << ">l"
                                     << ">a;_" << true;
        QTest::newRow("amount") << "########0.00;1; "
                                << "########9.99; " << true;
        QTest::newRow("alnum and casing off") << "Aa<>C;1;*"
                                              << "Nn!X;*" << true;
        QTest::newRow("escaped and meta literals") << "\\A0H-9;0;_"
                                                   << "\\A9\\H-0;_" << false;
        QTest::newRow("blank as underscore") << "00_00"
                                             << "99 99;_" << true;
        QTest::newRow("none") << ""
                              << "" << true;
    }
    void maskTranslation() {
        QFETCH(QString, stored);
        QFETCH(QString, qt);
        QFETCH(bool, save);
        TQtMask m = TranslateEditMask(ToAnsi(stored));
        QCOMPARE(m.inputMask, qt);
        QCOMPARE(m.saveLiterals, save);
    }

    void maskedEditsStoreWhatTheFieldExpects() {
        QLineEdit edit;
        TQtMask initials = TranslateEditMask(">ccccc;0;_");
        edit.setInputMask(initials.inputMask);
        QTest::keyClicks(&edit, QString::fromUtf8("æb1"));
        QCOMPARE(edit.text(), QString::fromUtf8("ÆB1"));
        QCOMPARE(MaskedTextToStore(initials, edit.displayText()), QString::fromUtf8("ÆB1  "));

        TQtMask time = TranslateEditMask("!90:00;1;_");
        edit.setInputMask(time.inputMask);
        edit.clear();
        edit.setCursorPosition(0);
        QTest::keyClicks(&edit, "0930");
        QCOMPARE(MaskedTextToStore(time, edit.displayText()), QStringLiteral("09:30"));

        TQtMask date = TranslateEditMask("99/99/9999;1; ");
        edit.setInputMask(date.inputMask);
        edit.setText(QStringLiteral("01-02-2024"));
        QCOMPARE(MaskedTextToStore(date, edit.displayText()), QStringLiteral("01-02-2024"));
        TQtMask noLiterals = TranslateEditMask("99/99;0;_");
        edit.setInputMask(noLiterals.inputMask);
        edit.setText(QStringLiteral("0102"));
        QCOMPARE(MaskedTextToStore(noLiterals, edit.displayText()), QStringLiteral("0102"));
    }

    void iniReadsCaseInsensitivelyAndKeepsComments() {
        const QString file = QString::fromStdString(Path("Rapport.kjr"));
        QByteArray text = QByteArray("; layout\r\n[SidstValgt]\r\nNr=2\r\n\r\n[1]\r\n;Hoved\r\n") +
                          QByteArray(Ansi("PapirStørrelse = 2100;2970\r\n").c_str()) +
                          "Papir          = 9\r\n;Sagen\r\nSagsNr = Sag;10;10;100;40;V\r\n\r\n"
                          "[Rapporter]\r\n1=Aktive sager p\xE5 A4\r\n2=A3\r\n";
        Write(file, text);
        TMemIniFile ini(Path("RAPPORT.KJR"));  // the name's case does not matter either
        QCOMPARE(ini.ReadString("sidstvalgt", "NR", "1"), std::string("2"));
        QCOMPARE(ini.ReadString("1", Ansi("PAPIRSTØRRELSE"), ""), std::string("2100;2970"));
        QCOMPARE(ini.ReadInteger("1", "papir", 0), 9);
        QCOMPARE(ini.ReadInteger("1", "SagsNr", 7), 7);
        QCOMPARE(ini.ReadString("1", "mangler", "std"), std::string("std"));
        QCOMPARE(ini.ReadSection("1"),
                 (std::vector<std::string>{Ansi("PapirStørrelse"), "Papir", "SagsNr"}));
        QCOMPARE(ini.ReadSectionValues("Rapporter"),
                 (std::vector<std::string>{"1=Aktive sager p\xE5 A4", "2=A3"}));
        QCOMPARE(ini.ReadSections(), (std::vector<std::string>{"SidstValgt", "1", "Rapporter"}));
        // Written back unchanged, byte for byte.
        QVERIFY(ini.UpdateFile());
        QCOMPARE(Bytes(file), text);
    }

    void iniUpdatesInPlaceAndAppendsAtSectionEnd() {
        const QString file = QString::fromStdString(Path("upd.ini"));
        Write(file, "; top\r\n[A]\r\nOne=1\r\n; note\r\nTwo = 2\r\n\r\n[B]\r\nX=x\r\n");
        TMemIniFile ini(file.toStdString());
        ini.WriteString("a", "TWO", "22");
        ini.WriteString("A", "Three", "3");
        ini.WriteInteger("New", "Key", 5);
        ini.WriteString("b", Ansi("Æble"), Ansi("ø"));
        QCOMPARE(Bytes(file),
                 QByteArray("; top\r\n[A]\r\nOne=1\r\n; note\r\nTwo = 2\r\n\r\n[B]\r\nX=x\r\n"));
        QVERIFY(ini.UpdateFile());
        QCOMPARE(Bytes(file),
                 QByteArray("; top\r\n[A]\r\nOne=1\r\n; note\r\nTwo =22\r\nThree=3\r\n\r\n"
                            "[B]\r\nX=x\r\n\xC6"
                            "ble=\xF8\r\n\r\n[New]\r\nKey=5\r\n"));
        ini.EraseSection("a");
        ini.DeleteKey("B", "x");
        QVERIFY(!ini.SectionExists("A"));
        QVERIFY(!ini.ValueExists("B", "X"));
        QVERIFY(ini.ValueExists("b", Ansi("ÆBLE")));
        QVERIFY(ini.UpdateFile());
        QCOMPARE(Bytes(file), QByteArray("; top\r\n[B]\r\n\xC6"
                                         "ble=\xF8\r\n\r\n[New]\r\nKey=5\r\n"));
    }

    void iniFileWritesAtOnceMemIniOnUpdate() {
        const std::string file = Path("now.ini");
        {
            TIniFile ini(file);
            ini.WriteString("S", "K", "v");
            QCOMPARE(TMemIniFile(file).ReadString("S", "K", ""), std::string("v"));
        }
        TMemIniFile mem(file);
        mem.WriteString("S", "K", "w");
        QCOMPARE(TMemIniFile(file).ReadString("S", "K", ""), std::string("v"));
        mem.UpdateFile();
        QCOMPARE(TMemIniFile(file).ReadString("S", "K", ""), std::string("w"));
        // A missing file reads as empty and is created by the first write.
        TIniFile fresh(Path("ny.ini"));
        QVERIFY(fresh.ReadSections().empty());
        fresh.WriteBool("X", "On", true);
        QCOMPARE(Bytes(QString::fromStdString(Path("ny.ini"))), QByteArray("[X]\r\nOn=1\r\n"));
    }

    void textFileWritesAndReadsCrLfLines() {
        const std::string file = Path("liste.dbs");
        TMVFil f;
        QVERIFY(!f.Open());
        QVERIFY(f.Rewrite("  " + file + " "));
        QCOMPARE(f.Name(), file);
        QVERIFY(f.WriteLine("Opm\xE5ling"));
        QVERIFY(f.WriteLine(""));
        QVERIFY(f.WriteLine("Skel"));
        f.Close();
        QCOMPARE(Bytes(QString::fromStdString(file)), QByteArray("Opm\xE5ling\r\n\r\nSkel\r\n"));
        QVERIFY(f.Reset(file));
        std::vector<std::string> lines;
        while (!f.Eof()) lines.push_back(f.ReadLineTo());
        QCOMPARE(lines, (std::vector<std::string>{"Opm\xE5ling", "", "Skel"}));
        // Reset on the open file starts it over.
        QVERIFY(f.Reset(file));
        QCOMPARE(f.ReadLineTo(), std::string("Opm\xE5ling"));
        f.Close();
        QCOMPARE(responder_.Asked().size(), size_t(0));
    }

    // A list file being written is put in place whole at Close: until then a reader sees
    // the old content, and nothing is left beside it.
    void textFileIsReplacedWholeAtClose() {
        const std::string file = Path("hel.dbs");
        Write(QString::fromStdString(file), "gammel\r\n");
        TMVFil f;
        QVERIFY(f.Rewrite(file));
        QVERIFY(f.WriteLine("ny"));
        QCOMPARE(Bytes(QString::fromStdString(file)), QByteArray("gammel\r\n"));
        f.Close();
        QCOMPARE(Bytes(QString::fromStdString(file)), QByteArray("ny\r\n"));
        const QFileInfo info(QString::fromStdString(file));
        QCOMPARE(info.dir().entryList({QStringLiteral("hel.dbs*")}, QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("hel.dbs")});
        QCOMPARE(responder_.Asked().size(), size_t(0));
    }

    void textFileEdgeCases() {
        const std::string file = Path("kant.txt");
        Write(QString::fromStdString(file), "a\r\nsidste");
        TMVFil f;
        std::string line = "x";
        QVERIFY(!f.ReadLine(line));  // closed: False, empty, no message
        QCOMPARE(line, std::string());
        QVERIFY(f.Eof());
        QVERIFY(!f.WriteLine("x"));
        QVERIFY(f.Reset(file));
        QCOMPARE(f.ReadLineTo(), std::string("a"));
        QVERIFY(f.ReadLine(line));
        QCOMPARE(line, std::string("sidste"));  // a last line without CR LF is a line
        QVERIFY(f.Eof());
        // Rewrite twice with the same name empties the file again and stays open.
        QVERIFY(f.Rewrite(file));
        QVERIFY(f.WriteLine("1"));
        QVERIFY(f.Rewrite(file));
        QVERIFY(f.Open());
        QVERIFY(f.WriteLine("2"));
        f.Close();
        QCOMPARE(Bytes(QString::fromStdString(file)), QByteArray("2\r\n"));
        QCOMPARE(responder_.Asked().size(), size_t(0));
    }

    void textFileReportsFailuresInMessages() {
        TMVFil f;
        const std::string missing = Path("mangler/fil.txt");
        QVERIFY(!f.Reset(missing));
        QVERIFY(!f.Open());
        QVERIFY(!f.Rewrite(missing));
        const std::string file = Path("skriv.txt");
        QVERIFY(f.Rewrite(file));
        std::string line;
        QVERIFY(!f.ReadLine(line));
        f.Close();
        QVERIFY(f.Reset(file));
        QVERIFY(!f.WriteLine("x"));
        const QString m = QString::fromStdString(missing), w = QString::fromStdString(file);
        QCOMPARE(responder_.Texts(),
                 (QStringList{QString::fromUtf8("Fil \"%1\" kunne ikke ændre status").arg(m),
                              QString::fromUtf8("Fil \"%1\" kunne ikke ændre status").arg(m),
                              QString::fromUtf8("Kan ikke læse fra fil \"%1\"").arg(w),
                              QString::fromUtf8("Kan ikke skrive til fil \"%1\"").arg(w)}));
    }

    // A real message box raised while a stay-on-top window shows (the splash window at
    // start-up) is owned by it and stays on top itself, so it is never hidden behind it.
    void messageBoxIsAboveAStayOnTopWindow() {
        DialogService::Instance().SetResponder(nullptr);
        QDialog splash(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
        splash.show();
        QWidget* owner = nullptr;
        bool onTop = false;
        int tries = 0;
        std::function<void()> answer = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box && ++tries < 1000) {
                QTimer::singleShot(1, answer);
                return;
            }
            if (!box) return;
            owner = box->parentWidget() ? box->parentWidget()->window() : nullptr;
            onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            box->button(QMessageBox::Ok)->click();
        };
        QTimer::singleShot(0, answer);
        QCOMPARE(DialogService::Instance().MessageBox(QStringLiteral("Fejl"),
                                                      QStringLiteral("Morvane Vaktor"), mb::kOk),
                 mb::kIdOk);
        QCOMPARE(owner, static_cast<QWidget*>(&splash));
        QVERIFY(onTop);
    }

    // Every kind of dialog raised just after the start-up window was hidden (as the first
    // start hides it before asking for the data folder) belongs to no hidden window: the
    // window system may then never show it, and the user could not answer.
    void dialogsAfterTheStartUpWindowHidesHaveNoHiddenOwner() {
        DialogService::Instance().SetResponder(nullptr);
        const struct {
            const char* what;
            std::function<void()> ask;
        } kinds[] = {
            {"message",
             [] { DialogService::Instance().MessageBox("Fejl", "Morvane Vaktor", mb::kOk); }},
            {"input", [] { DialogService::Instance().InputText("Sag", "Nummer", "1"); }},
            {"folder", [] { DialogService::Instance().Folder("Vælg mappe til datafiler", "/"); }},
            {"open file", [] { DialogService::Instance().OpenFile("Åbn", "/", "Alle filer (*)"); }},
        };
        for (const auto& kind : kinds) {
            QDialog splash(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
            splash.show();
            splash.activateWindow();
            QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &splash, 10000);
            splash.hide();
            // The window manager's focus for the start-up window, reported after it was
            // hidden, makes the hidden window the active one again: as here.
            QApplication::setActiveWindow(&splash);
            QCOMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&splash));
            QWidget* owner = nullptr;
            bool seen = false;
            int tries = 0;
            std::function<void()> close = [&] {
                QWidget* dialog = QApplication::activeModalWidget();
                if (!dialog && ++tries < 1000) {
                    QTimer::singleShot(1, close);
                    return;
                }
                if (!dialog) return;
                seen = true;
                owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
                if (auto* box = qobject_cast<QMessageBox*>(dialog))
                    box->button(QMessageBox::Ok)->click();
                else if (auto* d = qobject_cast<QDialog*>(dialog))
                    d->reject();
            };
            QTimer::singleShot(0, close);
            kind.ask();
            QVERIFY2(seen, kind.what);
            QVERIFY2(!owner || owner->isVisible(),
                     qPrintable(
                         QString("%1 dialog owned by the hidden start-up window").arg(kind.what)));
        }
    }

    void responderAnswersQuestionsAndInputBoxes() {
        DialogService& svc = DialogService::Instance();
        responder_.Answer(mb::kIdNo);
        responder_.Answer(mb::kIdCancel);
        responder_.AnswerCancel();
        responder_.AnswerText(QStringLiteral("skel"));
        QCOMPARE(svc.YesNoCancel(QStringLiteral("Gem?"), QStringLiteral("Ret")), mb::kIdNo);
        QCOMPARE(svc.YesNoCancel(QStringLiteral("Gem igen?"), QStringLiteral("Ret")),
                 mb::kIdCancel);
        QCOMPARE(svc.InputText(QStringLiteral("Søg"), QStringLiteral("Ord"), QStringLiteral("std")),
                 QStringLiteral("std"));
        QCOMPARE(
            svc.InputText(QStringLiteral("Søg"), QStringLiteral("Ord 2"), QStringLiteral("std")),
            QStringLiteral("skel"));
        // Unanswered: a Yes/No/Cancel question is cancelled, an input box keeps its default.
        QCOMPARE(svc.YesNoCancel(QStringLiteral("Slut?"), QStringLiteral("Ret")), mb::kIdCancel);
        QCOMPARE(svc.InputText(QStringLiteral("Søg"), QStringLiteral("Ord 3"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QString folder = svc.Folder(QStringLiteral("Vælg mappe"), QStringLiteral("/tmp"));
        QVERIFY(folder.isEmpty());
        QCOMPARE(responder_.Texts(), (QStringList{"Gem?", "Gem igen?", "Ord", "Ord 2", "Slut?",
                                                  "Ord 3", QString::fromUtf8("Vælg mappe")}));
        QCOMPARE(responder_.Asked()[0].flags, mb::kYesNoCancel | mb::kIconQuestion);
        QCOMPARE(responder_.Asked()[2].value, QStringLiteral("std"));
        QCOMPARE(responder_.Unanswered(), 3);
    }
};

QTEST_MAIN(UiFilesTest)
#include "ui_files_test.moc"
