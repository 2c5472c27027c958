// Dates typed into a data-aware date control or a data grid's date cell (the date field's
// edit mask, as the table components give it): the forms a Dane types are taken, an
// impossible date is refused once, in Danish, and the focus stays in the control or cell.
// Questions are answered by a responder that shows a window for each, as a real message box
// does, so the control loses the focus while the message is up.
#include <QDialog>
#include <QtTest>

#include "data/db_datasource.h"
#include "data/db_format.h"
#include "ui/application.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui_tables.h"

using namespace kjqt;
using namespace kjuitest;

namespace {

// Makes window the active one; false when the platform does not within the bound.
bool Activate(QWidget* window) {
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 5000);
}

// Answers from its queue like the scripted responder, while a window of its own is the
// active one; the window that was active before is active again afterwards.
class BoxResponder : public ScriptedResponder {
  public:
    DialogAnswer Respond(const DialogRequest& request) override {
        QWidget* before = QApplication::activeWindow();
        QDialog box;
        box.show();
        if (!Activate(&box)) ++notActivated;
        DialogAnswer answer = ScriptedResponder::Respond(request);
        box.hide();
        if (before && !Activate(before)) ++notActivated;
        return answer;
    }
    int notActivated = 0;
};

}  // namespace

class DateEntryTest : public QObject {
    Q_OBJECT

    BoxResponder responder_;
    std::unique_ptr<Tables> tables_;
    std::unique_ptr<TzDs::TTzDbf> table_;
    std::unique_ptr<Db::TDataSource> source_;
    std::unique_ptr<QWidget> window_;
    TDBEdit* dato_ = nullptr;
    TDBEdit* navn_ = nullptr;
    TDBGrid* grid_ = nullptr;

    TDBEdit* Add(const std::string& field, int y) {
        auto* c = new TDBEdit(window_.get());
        c->SetDataSource(source_.get());
        c->SetDataField(field);
        c->move(0, y);
        return c;
    }
    Db::TField& Dato() { return table_->FieldByName("dato"); }
    // Types text over the date control's whole content, keys to the focused widget.
    void TypeDate(const QString& text) {
        dato_->setFocus();
        QCOMPARE(QApplication::focusWidget(), dato_);
        dato_->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), text);
    }
    // Types text into the grid's date cell, each key to the focused widget: the first opens
    // the cell editor (replacing its text), the others go to that editor.
    void TypeInCell(const QString& text) {
        grid_->setFocus();
        grid_->SetSelectedIndex(1);
        for (QChar c : text) QTest::keyClicks(QApplication::focusWidget(), QString(c));
        QVERIFY(InCell());
    }
    bool InCell() const {
        QWidget* focus = QApplication::focusWidget();
        return focus && focus != grid_ && grid_->isAncestorOf(focus);
    }
    // Enter commits the cell once the editor has handled the key (a posted step).
    void EnterInCell() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();
    }

  private slots:
    void init() {
        tables_ = std::make_unique<Tables>();
        table_ = std::make_unique<TzDs::TTzDbf>("DatoDbf");
        table_->SetDbfFileName(tables_->Path("dato.dbf"));
        table_->DbfFields() = {"navn, C, 10, 0", "dato, D, 8, 0"};
        table_->Open();
        table_->Append();
        table_->FieldByName("navn").SetAsString("Sag");
        table_->Post();
        Dato().SetDisplayLabel("Dato");
        source_ = std::make_unique<Db::TDataSource>();
        source_->SetDataSet(table_.get());
        window_ = std::make_unique<QWidget>();
        dato_ = Add("dato", 0);
        navn_ = Add("navn", 40);
        grid_ = new TDBGrid(window_.get());
        grid_->SetColumns({{"navn"}, {"dato"}});
        grid_->SetDataSource(source_.get());
        grid_->setGeometry(0, 80, 300, 120);
        window_->resize(300, 200);
        window_->show();
        QVERIFY(Activate(window_.get()));
        responder_.Clear();
        responder_.notActivated = 0;
        DialogService::Instance().SetResponder(&responder_);
    }
    void cleanup() {
        DialogService::Instance().SetResponder(nullptr);
        window_.reset();
        source_.reset();
        table_.reset();
        tables_.reset();
    }

    void danishFormsAreTaken() {
        QCOMPARE(dato_->inputMask(), QStringLiteral("00-00-0000"));
        const Db::TDateTime newYearsEve = Db::EncodeDate(2026, 12, 31);
        for (const char* typed : {"31.12.2026", "31-12-2026", "311226", "31122026"}) {
            TypeDate(QString::fromLatin1(typed));
            navn_->setFocus();  // leaving writes the field
            QCOMPARE(table_->State(), Db::dsEdit);
            QCOMPARE(Dato().AsDateTime(), newYearsEve);
            table_->Cancel();
        }
        // A day or month typed short ends at its separator, whichever of "." "-" "/".
        const std::vector<std::pair<const char*, Db::TDateTime>> shortForms = {
            {"1.2.26", Db::EncodeDate(2026, 2, 1)},
            {"1-2-2026", Db::EncodeDate(2026, 2, 1)},
            {"1.1.11", Db::EncodeDate(2011, 1, 1)},
            {"5/11/26", Db::EncodeDate(2026, 11, 5)}};
        for (const auto& [typed, date] : shortForms) {
            TypeDate(QString::fromLatin1(typed));
            navn_->setFocus();
            QCOMPARE(Dato().AsDateTime(), date);
            table_->Cancel();
        }
        QCOMPARE(responder_.Texts(), QStringList());
        // The date field takes the same forms as text without a mask.
        table_->Edit();
        for (const char* typed : {"31.12.2026", "31-12-2026", "311226", "31122026", "31/12/26"}) {
            Dato().Clear();
            bool taken = true;
            try {
                Dato().SetText(typed);
            } catch (const std::exception&) {
                taken = false;
            }
            QVERIFY2(taken, typed);
            QCOMPARE(Dato().AsDateTime(), newYearsEve);
        }
        table_->Cancel();
    }

    void anImpossibleDateIsRefusedOnceAndKeepsTheFocus() {
        const QString refusal =
            QStringLiteral("'31-02-2026' er ikke en gyldig dato i feltet 'Dato'");
        TypeDate(QStringLiteral("31022026"));
        QCOMPARE(dato_->displayText(), QStringLiteral("31-02-2026"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        QCOMPARE(QApplication::focusWidget(), dato_);
        QVERIFY(Dato().IsNull());
        // Leaving the control refuses it once too, and brings the focus back.
        responder_.Clear();
        navn_->setFocus();
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        QCOMPARE(QApplication::focusWidget(), dato_);
        QCOMPARE(dato_->displayText(), QStringLiteral("31-02-2026"));  // kept for mending
        QCOMPARE(responder_.notActivated, 0);
        table_->Cancel();
    }

    // A plain cell editor and one with a "..." button (the time sheet's date column).
    void gridDateCellsTakeDanishForms_data() {
        QTest::addColumn<int>("buttonStyle");
        QTest::newRow("plain") << int(cbsAuto);
        QTest::newRow("ellipsis") << int(cbsEllipsis);
    }
    void gridDateCellsTakeDanishForms() {
        QFETCH(int, buttonStyle);
        TColumn dato{"dato"};
        dato.ButtonStyle = TColumnButtonStyle(buttonStyle);
        grid_->SetColumns({{"navn"}, dato});
        const Db::TDateTime newYearsEve = Db::EncodeDate(2026, 12, 31);
        for (const char* typed : {"31.12.2026", "31-12-2026", "311226", "31122026"}) {
            TypeInCell(QString::fromLatin1(typed));
            EnterInCell();
            QCOMPARE(table_->State(), Db::dsEdit);
            QCOMPARE(Dato().AsDateTime(), newYearsEve);
            table_->Cancel();
        }
        TypeInCell(QStringLiteral("1.2.26"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);  // Tab commits too
        QCOMPARE(Dato().AsDateTime(), Db::EncodeDate(2026, 2, 1));
        table_->Cancel();
        QCOMPARE(responder_.Texts(), QStringList());
    }

    void anImpossibleDateInAGridCellIsRefusedOnceAndKeepsTheCell_data() {
        gridDateCellsTakeDanishForms_data();
    }
    void anImpossibleDateInAGridCellIsRefusedOnceAndKeepsTheCell() {
        QFETCH(int, buttonStyle);
        TColumn dato{"dato"};
        dato.ButtonStyle = TColumnButtonStyle(buttonStyle);
        grid_->SetColumns({{"navn"}, dato});
        const QString refusal =
            QStringLiteral("'31-02-2026' er ikke en gyldig dato i feltet 'Dato'");
        TypeInCell(QStringLiteral("31022026"));
        EnterInCell();
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        QVERIFY(InCell());
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->displayText(), QStringLiteral("31-02-2026"));  // kept for mending
        QVERIFY(Dato().IsNull());
        // Tab and leaving the grid refuse it once each too, and bring the focus back.
        responder_.Clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        QVERIFY(InCell());
        responder_.Clear();
        navn_->setFocus();
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        QVERIFY(InCell());
        QVERIFY(Dato().IsNull());
        QCOMPARE(responder_.notActivated, 0);
        // Mended, Enter writes it.
        editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->selectAll();
        for (QChar c : QStringLiteral("28022026"))
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
        EnterInCell();
        QCOMPARE(Dato().AsDateTime(), Db::EncodeDate(2026, 2, 28));
        QCOMPARE(responder_.Texts(), QStringList({refusal}));
        table_->Cancel();
    }
};

int main(int argc, char** argv) {
    KjApplication app(argc, argv);
    DateEntryTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "date_entry_test.moc"
