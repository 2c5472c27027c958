// The application object's exception catcher and Qt's Danish texts, the engine's "let
// waiting messages through" during a real lock wait, the split panel's arrangement and the
// control-drawing registry, and a click that a box interrupted.
// Runs under KjApplication, as the program does.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "data/db_types.h"
#include "data/tz_messages.h"
#include "data/tz_user_text.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/application.h"
#include "ui/ctrl_draw.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/split_panel.h"
#include "ui/text_codec.h"
#include "ui_tables.h"

using namespace kjqt;
using namespace kjuitest;

namespace {

// Throws from inside its event handler, as a window's handler may.
class Thrower : public QWidget {
  public:
    std::function<void()> toThrow;

  protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) toThrow();
        return QWidget::event(e);
    }
};

// Answers like the scripted responder while a window of its own has the focus, as a real
// box does; the window is gone when the answer is given.
class FocusTakingResponder : public ScriptedResponder {
  public:
    DialogAnswer Respond(const DialogRequest& request) override {
        QLineEdit box;
        box.show();
        box.activateWindow();
        const bool active = QTest::qWaitForWindowActive(&box);
        box.setFocus();
        tookFocus = active && QApplication::focusWidget() == &box;
        return ScriptedResponder::Respond(request);
    }
    bool tookFocus = false;
};

// A button of each kind the windows show: a push button, a check box, a checkable tool button
// that takes the focus on a click, a radio button.
QAbstractButton* PressableButton(const QString& kind, QWidget* parent) {
    if (kind == "push") return new QPushButton(QStringLiteral("Gendan"), parent);
    if (kind == "check") return new QCheckBox(QStringLiteral("Skift"), parent);
    if (kind == "radio") return new QRadioButton(QStringLiteral("Sagsnr."), parent);
    auto* tool = new QToolButton(parent);
    tool->setText(QStringLiteral("Skift normal"));
    tool->setCheckable(true);
    tool->setAutoRaise(true);
    tool->setFocusPolicy(Qt::StrongFocus);
    return tool;
}

QWidget* Box(QWidget* parent, int x, int y, int w, int h) {
    auto* b = new QWidget(parent);
    b->setGeometry(x, y, w, h);
    return b;
}

// Answers Yes; while its box is up the user lets go of the mouse button over `over`.
struct ReleasingResponder : DialogResponder {
    explicit ReleasingResponder(QWidget* over) : over_(over) {}
    DialogAnswer Respond(const DialogRequest&) override {
        QTest::mouseRelease(over_, Qt::LeftButton);
        released = QGuiApplication::mouseButtons() == Qt::NoButton;
        return {mb::kIdYes, QString()};
    }
    bool released = false;

  private:
    QWidget* over_;
};

// Asks a question when the focus leaves the field, as a header field of the main window does.
struct AskOnLeaving : QObject {
    explicit AskOnLeaving(QWidget* field) { field->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            ++asked;
            DialogService::Instance().YesNo(QStringLiteral("Videre?"), QString());
        }
        return false;
    }
    int asked = 0;
};

}  // namespace

class UiPlatformTest : public QObject {
    Q_OBJECT

    ScriptedResponder responder_;

  private slots:
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
        InstallEngineCallbacks();
    }
    void init() {
        responder_.Clear();
        DialogService::Instance().SetResponder(&responder_);
    }
    void cleanup() {
        DialogService::Instance().SetResponder(nullptr);
        TzCommon::ResetErrorState();
    }

    void notifyShowsErrorsAndSwallowsTheSilentAbort() {
        QVERIFY(dynamic_cast<KjApplication*>(QCoreApplication::instance()));
        Thrower w;
        QEvent user(QEvent::User);
        w.toThrow = [] { throw Db::EAbort(); };
        QCoreApplication::sendEvent(&w, &user);
        w.toThrow = [] { Db::DatabaseError("Feltet \xE6 mangler", "SagsDbf"); };
        QCoreApplication::sendEvent(&w, &user);
        w.toThrow = [] { throw TzCommon::ETzError("Error # 33 (Lock refused)\r\nLock failed"); };
        QCoreApplication::sendEvent(&w, &user);
        // Posted events too: the loop goes on after the error.
        w.toThrow = [] { throw std::runtime_error("posted"); };
        QCoreApplication::postEvent(&w, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(responder_.Texts(),
                 (QStringList{
                     QString::fromUtf8("SagsDbf: Feltet æ mangler"),
                     kjqt::FromAnsi(TzDs::InUserWords("Error # 33 (Lock refused)\r\nLock failed")),
                     QStringLiteral("posted")}));
        QCOMPARE(responder_.Asked()[0].caption, QStringLiteral("Morvane Vaktor"));
        QCOMPARE(responder_.Asked()[0].flags, mb::kOk | mb::kIconStop);
        // The dataset model's handler is the same routine.
        Db::ApplicationHandleException(std::make_exception_ptr(Db::EAbort()));
        Db::ApplicationHandleException(
            std::make_exception_ptr(Db::EConvertError("'x' is not a valid date")));
        QCOMPARE(responder_.Texts().last(), QStringLiteral("'x' is not a valid date"));
        QCOMPARE(responder_.Asked().size(), size_t(4));
    }

    // Every box the program shows, by the dialog service or by the dataset components'
    // message route, tells an engine or component failure in the user's words first and
    // keeps the original text after them; the program's own texts stay as they are.
    void boxesTellFailuresInTheUsersWords() {
        struct Case {
            const char* shown;
            const char* head;
        };
        const Case cases[] = {
            {"Error # 222 (Corrupted index file)\r\nx: /d/Sager.MDX [GetNode]",
             "Indeksfilen /d/Sager.MDX er beskadiget."},
            {"Type mismatch for field 'Kan rette.', expecting: Boolean actual: String",
             "Feltet 'Kan rette.' har en anden type"},
            {"Could not create '/d/Kunde.dbf'", "Tabellen /d/Kunde.dbf kunne ikke oprettes."},
            {"Could not create '/d/Kunde.dbf'\r\nError # 5 (Access denied)\r\nFile: "
             "/d/Kunde.dbf [CreateDbf]",
             "Tabellen /d/Kunde.dbf kunne ikke oprettes."},
            {"Sagen findes ikke", "Sagen findes ikke"}};
        for (bool component : {false, true}) {
            for (const Case& c : cases) {
                responder_.Clear();
                if (component)
                    TzDs::ShowText(c.shown);
                else
                    DialogService::Instance().ShowMessage(QString::fromUtf8(c.shown));
                QCOMPARE(responder_.Texts().size(), 1);
                const QString text = responder_.Texts()[0];
                QVERIFY2(text.startsWith(QString::fromUtf8(c.head)), qPrintable(text));
                QVERIFY2(text.endsWith(QString::fromUtf8(c.shown)), qPrintable(text));
            }
        }
    }

    // The application object loads Qt's own Danish texts: standard buttons and the file
    // and folder dialogs read Danish.
    void qtOwnDialogsAndButtonsSpeakDanish() {
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Annuller"));
        QFileDialog folder(nullptr, QStringLiteral("Datamappe"));
        folder.setOption(QFileDialog::DontUseNativeDialog);
        folder.setFileMode(QFileDialog::Directory);
        QCOMPARE(folder.labelText(QFileDialog::LookIn), QStringLiteral("Kig i:"));
        QCOMPARE(folder.labelText(QFileDialog::FileName), QStringLiteral("Mappe:"));
        QCOMPARE(folder.labelText(QFileDialog::Accept), QString::fromUtf8("&Vælg"));
        QCOMPARE(folder.labelText(QFileDialog::Reject), QStringLiteral("Annuller"));
        QFileDialog save(nullptr, QStringLiteral("Gem fil"));
        save.setOption(QFileDialog::DontUseNativeDialog);
        save.setAcceptMode(QFileDialog::AcceptSave);
        QCOMPARE(save.labelText(QFileDialog::FileName), QStringLiteral("&Filnavn:"));
        QCOMPARE(save.labelText(QFileDialog::Accept), QStringLiteral("&Gem"));
    }

    void aBoxGivesTheFocusBackToTheControlThatRaisedIt() {
        QWidget window;
        auto* first = new QLineEdit(&window);
        auto* second = new QLineEdit(&window);
        second->move(0, 40);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        second->setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(second));
        FocusTakingResponder boxes;
        DialogService::Instance().SetResponder(&boxes);
        boxes.Answer(mb::kIdYes);
        QVERIFY(DialogService::Instance().YesNo(QStringLiteral("Videre?"), QString()));
        QVERIFY(boxes.tookFocus);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(second));
        QVERIFY(first->isVisible());
    }

    // A press that moves the focus out of a field whose leaving asks something: the user lets
    // go of the mouse while the box is up. The control pressed is left as it was: not drawn
    // as pressed, not clicked.
    void aClickInterruptedByABoxLeavesNoButtonPressed_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("push button") << QStringLiteral("push");
        QTest::newRow("check box") << QStringLiteral("check");
        QTest::newRow("checkable tool button") << QStringLiteral("tool");
        QTest::newRow("radio button") << QStringLiteral("radio");
    }
    void aClickInterruptedByABoxLeavesNoButtonPressed() {
        QFETCH(QString, kind);
        QWidget window;
        auto* field = new QLineEdit(&window);
        QAbstractButton* button = PressableButton(kind, &window);
        button->move(0, 40);
        int clicks = 0;
        connect(button, &QAbstractButton::clicked, [&] { ++clicks; });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        ReleasingResponder boxes(button);
        DialogService::Instance().SetResponder(&boxes);
        AskOnLeaving asker(field);
        QTest::mousePress(button, Qt::LeftButton);
        QCOMPARE(asker.asked, 1);
        QVERIFY(boxes.released);
        QVERIFY2(!button->isDown(), "the button stays drawn as pressed");
        QCOMPARE(clicks, 0);
        QCOMPARE(button->isChecked(), false);
        // The next click is an ordinary one.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QVERIFY(!button->isDown());
    }

    // A press on another cell of a grid whose open editor asks something as it loses the
    // focus: the user lets go while the box is up. The grid's current cell stays where it was
    // (a press that reached the grid after the box would move it, and would ask again).
    void aClickInterruptedByABoxLeavesTheGridsCell() {
        QTableWidget grid(3, 2);
        grid.show();
        grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        grid.setItem(0, 1, new QTableWidgetItem);
        grid.setCurrentCell(0, 1);
        grid.editItem(grid.item(0, 1));
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(editor && grid.isAncestorOf(editor));
        const QPoint other = grid.visualRect(grid.model()->index(2, 0)).center();
        ReleasingResponder boxes(grid.viewport());
        DialogService::Instance().SetResponder(&boxes);
        AskOnLeaving asker(editor);
        QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, other);
        QCOMPARE(asker.asked, 1);
        QVERIFY(boxes.released);
        QCOMPARE(grid.currentRow(), 0);
        QCOMPARE(grid.currentColumn(), 1);
    }

    void lockWaitLetsMessagesThroughWithoutUserInput() {
        Tables tables;
        auto a = tables.Staff("staff.dbf", kStaff);
        TzDs::TTzDbf b("OtherDbf");
        b.SetDbfFileName(tables.Path("staff.dbf"));
        b.Open();
        Dbf4::settings().retryCount = 1;
        Dbf4::settings().retryWaitSeconds = 0;
        a->First();
        QVERIFY(a->RLock());

        QLineEdit edit;
        edit.show();
        edit.setFocus();
        int timers = 0;
        bool insideWait = false;
        auto arm = [&] {
            QTimer::singleShot(0, [&] {
                ++timers;
                insideWait = InEngineWait();
                Dbf4::Select(a->WorkAreaNo());  // a handler that changes the selected area
            });
            QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Q,
                                                             Qt::NoModifier, QStringLiteral("q")));
        };
        arm();
        // A lock granted at once lets nothing through.
        b.First();
        b.Next();
        QVERIFY(b.RLock());
        QCOMPARE(timers, 0);
        QVERIFY(b.UnLock());
        // A refused lock lets timers through but no key, and the area stays selected.
        b.First();
        QVERIFY(!b.RLock());
        QCOMPARE(timers, 1);
        QVERIFY(insideWait);
        QCOMPARE(Dbf4::CurrentWorkArea(), b.WorkAreaNo());
        QCOMPARE(edit.text(), QString());
        QVERIFY(!InEngineWait());
        QCoreApplication::processEvents();  // after the wait the key arrives
        QCOMPARE(edit.text(), QStringLiteral("q"));
        a->UnLock();
        b.Close();
    }

    void splitPanelArrangesARow() {
        TSplitPanel panel;
        QCOMPARE(panel.size(), QSize(185, 41));
        QWidget* c = Box(&panel, 100, 5, 50, 20);
        QWidget* a = Box(&panel, 0, 2, 30, 10);
        QWidget* b = Box(&panel, 40, 0, 40, 25);
        auto* blank = new QLabel(QStringLiteral("  "), &panel);
        blank->setGeometry(60, 0, 10, 10);
        QWidget* hidden = Box(&panel, 10, 0, 99, 99);
        hidden->hide();
        panel.SetAutoSize(3);
        panel.Arrange();
        // Sorted by left edge: a, b, blank, c; spacing 4, separators 4.
        QCOMPARE(a->geometry(), QRect(4, 2, 30, 10));
        QCOMPARE(b->geometry(), QRect(38, 0, 40, 25));
        QCOMPARE(blank->x(), 82);
        QCOMPARE(c->x(), 96);
        QCOMPARE(panel.width(), 4 + 30 + 4 + 40 + 4 + 10 + 4 + 50 + 4);
        QCOMPARE(panel.height(), 5 + 20 + 8);  // c's top + height is the largest
        // Blank labels take no place with both switches on.
        panel.SetHideEmptyLabels(true);
        QCOMPARE(c->x(), 96);
        panel.SetCheckLabels(true);
        QCOMPARE(c->x(), 82);
        QCOMPARE(panel.width(), 4 + 30 + 4 + 40 + 4 + 50 + 4);
        // Alignments across the row.
        panel.SetAutoSize(0);
        panel.resize(200, 60);
        panel.SetChildAlign(a, alClient);
        panel.SetChildAlign(b, alBottom);
        panel.SetChildAlign(c, alLeft);
        QCOMPARE(a->geometry(), QRect(4, 4, 30, 52));
        QCOMPARE(b->geometry(), QRect(38, 60 - 4 - 25, 40, 25));
        QCOMPARE(c->geometry(), QRect(82, 4 + (52 - 20) / 2, 50, 20));
    }

    void splitPanelArrangesAColumnAndPaints() {
        TSplitPanel panel;
        panel.SetOrientation(soColumn);
        panel.Frame().SetSpacing(2);
        panel.Separator().SetWidth(6);
        QWidget* low = Box(&panel, 0, 50, 20, 10);
        QWidget* top = Box(&panel, 3, 0, 30, 15);
        panel.SetChildAlign(low, alRight);
        panel.SetAutoSize(1);
        panel.Arrange();
        QCOMPARE(top->geometry(), QRect(3, 2, 30, 15));
        QCOMPARE(low->geometry(), QRect(185 - 2 - 20, 23, 20, 10));
        QCOMPARE(panel.height(), 2 + 15 + 6 + 10 + 2);
        // Frame on the left side only, single black line; the separator in between.
        panel.Frame().SetSides(kSideLeft);
        panel.Separator().SetStyle(1);
        QImage image(panel.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        panel.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        QCOMPARE(QColor(image.pixel(0, 10)), QColor(Qt::black));
        QVERIFY(QColor(image.pixel(panel.width() - 1, 10)) != QColor(Qt::black));
        QCOMPARE(QColor(image.pixel(100, 23 - 3)), QColor(Qt::black));
        TSplitPanFrame copy;
        copy = panel.Frame();
        QCOMPARE(copy.Sides(), kSideLeft);
        QCOMPARE(copy.Spacing(), 2);
    }

    void drawingRegistryFindsTheNewestFittingEntry() {
        InstallControlDrawers();
        QLabel label(QStringLiteral("Skel"));
        QPushButton button(QStringLiteral("OK"));
        TSplitPanel panel;
        QCOMPARE(FindControlDraw(label), &QLabel::staticMetaObject);
        QCOMPARE(FindControlDraw(button), &QWidget::staticMetaObject);
        QCOMPARE(FindControlDraw(panel), &TSplitPanel::staticMetaObject);
        int drawn = 0;
        RegisterControlDraw(
            QAbstractButton::staticMetaObject,
            [&](QWidget&, QPainter&, intptr_t data) { drawn += int(data); }, 7);
        QCOMPARE(FindControlDraw(button), &QAbstractButton::staticMetaObject);
        QImage image(80, 30, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            QVERIFY(DrawControl(button, p));
        }
        QCOMPARE(drawn, 7);
        UnregisterControlDraw(QAbstractButton::staticMetaObject);
        QCOMPARE(FindControlDraw(button), &QWidget::staticMetaObject);
        // A label's text is drawn where its alignment puts it.
        label.resize(80, 30);
        label.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        {
            QPainter p(&image);
            QVERIFY(DrawControl(label, p));
        }
        bool inkRight = false, inkLeft = false;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 80; ++x)
                if (QColor(image.pixel(x, y)).lightness() < 128)
                    (x >= 40 ? inkRight : inkLeft) = true;
        QVERIFY(inkRight);
        QVERIFY(!inkLeft);
        ClearControlDrawers();
        QCOMPARE(FindControlDraw(label), nullptr);
    }
};

int main(int argc, char** argv) {
    KjApplication app(argc, argv);
    UiPlatformTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "ui_platform_test.moc"
