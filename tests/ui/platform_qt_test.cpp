// The Qt services run headless: the Windows-1252 codec, the dialog service with its scripted
// responder and with real boxes, the engine's error box and idle procedure, and the message
// window as the engine drives it.
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_output.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"
#include "ui/tz_msg.h"

using namespace kjqt;

namespace {

TzMsgWindow* FindMsgWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = dynamic_cast<TzMsgWindow*>(w)) return m;
    return nullptr;
}

QPoint CentredIn(const QRect& area, const QSize& size) {
    return QPoint(area.left() + (area.width() - size.width()) / 2,
                  area.top() + (area.height() - size.height()) / 2);
}

}  // namespace

class PlatformQtTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { InstallEngineCallbacks(); }
    void cleanup() {
        DialogService::Instance().SetResponder(nullptr);
        TzCommon::ResetErrorState();
    }

    void codecRoundTripsEveryByte() {
        std::string all;
        for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
        QString text = FromAnsi(all);
        QCOMPARE(text.size(), qsizetype(256));
        QCOMPARE(ToAnsi(text), all);
        // Through UTF-8 as well, which is how text reaches files and widgets.
        QCOMPARE(ToAnsi(QString::fromUtf8(text.toUtf8())), all);
        // Distinct bytes give distinct characters.
        QSet<QChar> seen(text.begin(), text.end());
        QCOMPARE(seen.size(), qsizetype(256));
    }

    void codecMapsLettersAndSigns() {
        QCOMPARE(FromAnsi("\xE6\xF8\xE5\xC6\xD8\xC5"), QString::fromUtf8("æøåÆØÅ"));
        QCOMPARE(ToAnsi(QString::fromUtf8("Søren Ærø på Åen")),
                 std::string("S\xF8ren \xC6r\xF8 p\xE5 \xC5"
                             "en"));
        QCOMPARE(FromAnsi("\x80\x8A\x9C\x9F\x96\x85"), QString::fromUtf8("€ŠœŸ–…"));
        QCOMPARE(ToAnsi(QString::fromUtf8("€ 100 – “x”")), std::string("\x80 100 \x96 \x93x\x94"));
        // What Windows-1252 cannot hold becomes one "?" per character.
        QCOMPARE(ToAnsi(QString::fromUtf8("a中b😀c")), std::string("a?b?c"));
        QCOMPARE(ToAnsi(QString(QChar(0x80))), std::string("?"));  // U+0080 is not €
    }

    void scriptedResponderAnswersAndRecords() {
        ScriptedResponder r;
        DialogService& svc = DialogService::Instance();
        svc.SetResponder(&r);
        r.Answer(mb::kIdYes);
        r.AnswerText(QStringLiteral("AB"));
        r.AnswerCancel();
        r.AnswerText(QStringLiteral("/data/sager.dbf"));
        r.AnswerText(QStringLiteral("/data"));

        const QString q = QString::fromUtf8("Slet sag 1234 ?");
        QVERIFY(svc.YesNo(q, QStringLiteral("Bekræft")));
        QString initials = QStringLiteral("xx");
        QVERIFY(
            svc.InputBox(QStringLiteral("Initialer"), QStringLiteral("Dine initialer:"), initials));
        QCOMPARE(initials, QStringLiteral("AB"));
        QString kept = QStringLiteral("kept");
        QVERIFY(!svc.InputBox(QStringLiteral("Initialer"), QStringLiteral("Igen:"), kept));
        QCOMPARE(kept, QStringLiteral("kept"));
        QCOMPARE(svc.OpenFile(QStringLiteral("Åbn"), QStringLiteral("/data"),
                              QStringLiteral("Tabeller (*.dbf)")),
                 QStringLiteral("/data/sager.dbf"));
        QCOMPARE(svc.Folder(QStringLiteral("Mappe"), QString()), QStringLiteral("/data"));
        QCOMPARE(r.Unanswered(), 0);

        // An empty queue cancels and is counted, never waits.
        QCOMPARE(svc.MessageBox(QStringLiteral("?"), QStringLiteral("c"), mb::kYesNoCancel),
                 mb::kIdCancel);
        QVERIFY(!svc.YesNo(QStringLiteral("?"), QStringLiteral("c")));
        QCOMPARE(svc.MessageBox(QStringLiteral("!"), QStringLiteral("c"), mb::kOk), mb::kIdOk);
        QCOMPARE(svc.SaveFile(QStringLiteral("Gem"), QString(), QString()), QString());
        QCOMPARE(r.Unanswered(), 4);

        const auto& asked = r.Asked();
        QCOMPARE(asked.size(), size_t(9));
        QCOMPARE(int(asked[0].kind), int(DialogKind::Message));
        QCOMPARE(asked[0].text, q);
        QCOMPARE(asked[0].caption, QString::fromUtf8("Bekræft"));
        QCOMPARE(asked[0].flags, mb::kYesNo | mb::kIconQuestion);
        QCOMPARE(int(asked[1].kind), int(DialogKind::Input));
        QCOMPARE(asked[1].text, QStringLiteral("Dine initialer:"));
        QCOMPARE(asked[1].value, QStringLiteral("xx"));
        QCOMPARE(int(asked[3].kind), int(DialogKind::OpenFile));
        QCOMPARE(asked[3].filter, QStringLiteral("Tabeller (*.dbf)"));
        QCOMPARE(int(asked[4].kind), int(DialogKind::Folder));
        QCOMPARE(int(asked[8].kind), int(DialogKind::SaveFile));
    }

    void realMessageBoxMapsButtons() {
        // No responder: a real box, answered by clicking its button from the event loop.
        QMessageBox::StandardButton defaultSeen = QMessageBox::NoButton;
        QString titleSeen;
        QTimer::singleShot(0, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            titleSeen = box->windowTitle();
            defaultSeen = box->standardButton(box->defaultButton());
            box->button(QMessageBox::No)->click();
        });
        int answer = DialogService::Instance().MessageBox(
            QStringLiteral("Gem?"), QStringLiteral("Sager"),
            mb::kYesNoCancel | mb::kIconQuestion | mb::kDefButton2);
        QCOMPARE(answer, mb::kIdNo);
        QCOMPARE(titleSeen, QStringLiteral("Sager"));
        QCOMPARE(defaultSeen, QMessageBox::No);
    }

    void engineErrorBoxGoesThroughService() {
        ScriptedResponder r;
        DialogService::Instance().SetResponder(&r);
        int exitCode = -1;
        TzCommon::SetHaltProc([&](int code) { exitCode = code; });
        r.Answer(mb::kIdOk);
        TzCommon::SetError(TzErr::NoDatabaseInUse,
                           "No database in use [GO]  WorkArea = 3 \xE6\xF8\xE5");
        QCOMPARE(exitCode, 215);
        QCOMPARE(r.Asked().size(), size_t(1));
        QCOMPARE(r.Asked()[0].caption, QStringLiteral("Program halted."));
        // Told in the user's words, the engine's text after them.
        const QString engine = QString::fromUtf8(
            "Error # 215 (No database in use)\r\nNo database in use [GO]  WorkArea = 3 æøå");
        QVERIFY2(r.Asked()[0].text.startsWith(QStringLiteral("Der opstod en fejl i datafilerne")),
                 qPrintable(r.Asked()[0].text));
        QVERIFY2(r.Asked()[0].text.endsWith(engine), qPrintable(r.Asked()[0].text));
        QCOMPARE(r.Asked()[0].flags, mb::kIconStop);
        QCOMPARE(r.Unanswered(), 0);
    }

    void idleProcLetsEventsThrough() {
        bool ran = false;
        QTimer::singleShot(0, [&]() { ran = true; });
        Dbf4::ProcessMessages();
        QVERIFY(ran);
    }

    void messageWindowShowsAndGrows() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        auto msg = std::make_unique<TzMsg::TTzMsg>();
        TzMsgWindow* w = FindMsgWindow();
        QVERIFY(w);
        QVERIFY(!w->isVisible());
        QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(w->palette().color(QPalette::Window), QColor(255, 255, 0));

        msg->ShowText("Indekserer sager \xE6\xF8\xE5...");
        QVERIFY(w->isVisible());
        QCOMPARE(w->Text(), QString::fromUtf8("Indekserer sager æøå..."));
        QFontMetrics fm(w->font());
        const QSize first(fm.horizontalAdvance(w->Text()) + 30, fm.height() + 30);
        QCOMPARE(w->size(), first);
        QCOMPARE(w->pos(), CentredIn(screen, first));
        QVERIFY(w->FramePanel()->isVisible());
        QCOMPARE(w->FramePanel()->lineWidth(), 2);
        QCOMPARE(w->TextPanel()->geometry(), QRect(4, 4, first.width() - 8, first.height() - 8));

        msg->ShowText("kort");  // shorter: same size and place
        QCOMPARE(w->Text(), QStringLiteral("kort"));
        QCOMPARE(w->size(), first);
        msg->ShowText("");  // keeps the text
        QCOMPARE(w->Text(), QStringLiteral("kort"));

        const QString longer = QStringLiteral("En meget længere tekst end den første tekst");
        msg->ShowText(ToAnsi(longer));
        QCOMPARE(w->Text(), longer);
        QVERIFY(w->width() > first.width());
        QCOMPARE(w->pos(), CentredIn(screen, w->size()));

        // A caption gives a title bar and no bevelled frame.
        msg->SetCaption("Indexing SAGER.MDX...");
        msg->ShowText("||||");
        QVERIFY(w->isVisible());
        QVERIFY(!w->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w->windowFlags().testFlag(Qt::WindowTitleHint));
        QCOMPARE(w->windowTitle(), QStringLiteral("Indexing SAGER.MDX..."));
        QVERIFY(w->FramePanel()->isHidden());
        QCOMPARE(w->TextPanel()->geometry(), QRect(QPoint(0, 0), w->size()));

        msg.reset();
        QVERIFY(!FindMsgWindow());
    }

    void messageWindowCentresOverActiveWindow() {
        QWidget main;
        main.setGeometry(100, 80, 400, 300);
        main.show();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        TzMsg::TTzMsg msg;
        msg.ShowText("Vent venligst");
        TzMsgWindow* w = FindMsgWindow();
        QVERIFY(w);
        QCOMPARE(w->pos(), CentredIn(main.frameGeometry(), w->size()));
    }
};

QTEST_MAIN(PlatformQtTest)
#include "platform_qt_test.moc"
