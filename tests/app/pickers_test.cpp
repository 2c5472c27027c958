// The pickers (each returns its choice through the out-parameter and "" on cancel, the date
// picker its start date) and the case-type window over real list files: the events of a
// type shown, edited, removed and added, a type renamed in place and one added with arrow
// down, everything written only on OK and nothing on Slut.
#include <QCalendarWidget>
#include <QComboBox>
#include <QTableWidget>
#include <QTreeWidget>

#include "app/hand_for_sags_type.h"
#include "app/kj_text.h"
#include "app/pluk_forms.h"
#include "data/db_format.h"
#include "register_fixture.h"
#include "ui/db_grid.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdYes;

namespace {

// The visible editor of the given name inside w (closed editors linger until deleted).
template <class T>
T* Editor(QWidget* w, const char* name) {
    for (T* e : w->findChildren<T*>(QString::fromLatin1(name)))
        if (e->isVisible()) return e;
    return nullptr;
}

// Moves a list picker to row n (from the top) and chooses with Enter.
template <class Form>
void ChooseRow(Form& p, int n) {
    p.List->setFocus();
    QTest::keyClick(p.List, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < n; ++i) QTest::keyClick(p.List, Qt::Key_Down);
    QTest::keyClick(p.List, Qt::Key_Return);
}

}  // namespace

class PickersTest : public QObject {
    Q_OBJECT
    DataFixture fx_;

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(U("Morvane Vaktor")); }
    void init() { fx_.Start(); }
    void cleanup() { fx_.Stop(); }

    void listPickersReturnTheChoiceAndEmptyOnCancel() {
        fx_.Add(fx_.data->SagsDbf, {{"sags_nr", " s-1"}, {"sags_bem", "Første"}});
        fx_.Add(fx_.data->SagsDbf, {{"sags_nr", "s-2 "}, {"sags_bem", "Anden"}});
        fx_.Add(fx_.data->vareGDbf, {{"id", "G1"}});
        fx_.Add(fx_.data->vareGDbf, {{"id", "G2"}});
        fx_.Add(fx_.data->VareDbf, {{"tmu_id", "TIME"}});
        fx_.Add(fx_.data->BrugerDbf, {{"ini", "AB"}, {"ini_fnavn", "Anne"}});
        fx_.Add(fx_.data->BrugerDbf, {{"ini", "CD"}, {"ini_fnavn", "Carl"}});
        WindowScripts ws;
        std::string r = "unchanged";
        ws.On<kj::TPlukSagForm>([](kj::TPlukSagForm& p) {
            QCOMPARE(p.windowTitle(), U("Vælg en sag"));
            QCOMPARE(p.Hint->text(), U("Vælg en sag ved at dobbelt klikke på den"));
            QTest::keyClick(p.List, Qt::Key_Escape);
        });
        kj::PlukSag("", r);
        QCOMPARE(r, std::string());
        // A double click on the second case; blanks around the number are dropped.
        ws.On<kj::TPlukSagForm>([](kj::TPlukSagForm& p) {
            QTest::keyClick(p.List, Qt::Key_Home, Qt::ControlModifier);
            QTest::keyClick(p.List, Qt::Key_Down);
            QRect cell = p.List->visualRect(p.List->currentIndex());
            QTest::mouseDClick(p.List->viewport(), Qt::LeftButton, {}, cell.center());
        });
        kj::PlukSag("", r);
        QCOMPARE(r, std::string("S-2"));
        ws.On<kj::TPlukSagForm>([](kj::TPlukSagForm& p) { ChooseRow(p, 0); });
        kj::PlukSag("", r);
        QCOMPARE(r, std::string("S-1"));

        ws.On<kj::TPlukVareGForm>([](kj::TPlukVareGForm& p) { ChooseRow(p, 1); });
        kj::PlukVareGruppe("", r);
        QCOMPARE(r, std::string("G2"));
        ws.On<kj::TPlukVareGForm>([](kj::TPlukVareGForm& p) { p.reject(); });
        kj::PlukVareGruppe("", r);
        QCOMPARE(r, std::string());
        ws.On<kj::TPlukVareIForm>([](kj::TPlukVareIForm& p) { ChooseRow(p, 0); });
        kj::PlukVare("", r);
        QCOMPARE(r, std::string("TIME"));
        ws.On<kj::TPlukVareIForm>(
            [](kj::TPlukVareIForm& p) { QTest::keyClick(p.List, Qt::Key_Escape); });
        kj::PlukVare("", r);
        QCOMPARE(r, std::string());
        ws.On<kj::TPlukBrugerForm>([](kj::TPlukBrugerForm& p) {
            QCOMPARE(p.Hint->text(), U("Vælg en medarbejder ved at dobbeltklikke på vedkommende"));
            ChooseRow(p, 1);
        });
        kj::PlukBruger("", r);
        QCOMPARE(r, std::string("CD"));
        ws.On<kj::TPlukBrugerForm>(
            [](kj::TPlukBrugerForm& p) { QTest::keyClick(p.List, Qt::Key_Escape); });
        kj::PlukBruger("", r);
        QCOMPARE(r, std::string());
        QCOMPARE(ws.timedOut, 0);
    }

    void statusAndDatePickers() {
        Write(fx_.sf->data + "StdHand.dbs", Ansi("Første\r\n  Anden linje  \r\nTredje\r\n"));
        WindowScripts ws;
        int rows = -1;
        std::string r;
        ws.On<kj::TPlukStatusForm>([&](kj::TPlukStatusForm& p) {
            rows = p.List->rowCount();
            p.List->setFocus();
            QTest::keyClick(p.List, Qt::Key_Down);
            QTest::keyClick(p.List, Qt::Key_Return);
        });
        kj::PlukStatus("", r);
        QCOMPARE(rows, 3);
        QCOMPARE(r, std::string("  Anden linje  "));
        ws.On<kj::TPlukStatusForm>(
            [](kj::TPlukStatusForm& p) { QTest::keyClick(p.List, Qt::Key_Escape); });
        kj::PlukStatus("", r);
        QCOMPARE(r, std::string());

        const Db::TDateTime march1 = Db::EncodeDate(2026, 3, 1);
        ws.On<kj::TPlukDatoForm>([](kj::TPlukDatoForm& p) { p.reject(); });
        QCOMPARE(kj::PlukDato(march1), march1);
        QDate shown;
        ws.On<kj::TPlukDatoForm>([&](kj::TPlukDatoForm& p) {
            shown = p.Calendar->selectedDate();
            emit p.Calendar->clicked(QDate(2026, 3, 17));
        });
        QCOMPARE(kj::PlukDato(march1), Db::EncodeDate(2026, 3, 17));
        QCOMPARE(shown, QDate(2026, 3, 1));
        QCOMPARE(ws.timedOut, 0);
    }

    // Clearing a type's first event keeps the ones below it: every non-blank row is written.
    void caseTypeRowsBelowABlankOneAreKept() {
        const std::string d = fx_.sf->data;
        Write(d + "StdSagsType.dbs", Ansi("Udstykning\r\n"));
        Write(d + "HandForSagsType.dbs", Ansi("[Udstykning]\r\n1=Opmåling\r\n2=Skel\r\n"));
        Write(d + "StdHand.dbs", Ansi("Opmåling\r\nSkel\r\n"));
        WindowScripts ws;
        ws.On<kj::THandForSagsType>([](kj::THandForSagsType& w) {
            QTableWidget* grid = w.edtHandForSagsType;
            grid->setFocus();
            grid->setCurrentCell(0, 1);
            auto* box = Editor<QComboBox>(grid, "edtHand");
            QVERIFY(box);
            box->lineEdit()->selectAll();
            QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
            QTest::mouseClick(w.OKBtn, Qt::LeftButton);
        });
        kj::KJHandForSagsType::Execute();
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(kjqt::FromAnsi(Read(d + "HandForSagsType.dbs")), U("[Udstykning]\r\n1=Skel\r\n"));
    }

    void caseTypesRoundTripWrittenOnlyOnOk() {
        const std::string d = fx_.sf->data;
        Write(d + "StdSagsType.dbs", Ansi("Administration\r\nUdstykning\r\nAndet\r\n"));
        Write(d + "HandForSagsType.dbs",
              Ansi("[Udstykning]\r\n1=Opmåling\r\n2=Skel\r\n\r\n[Andet]\r\n1=Kun en\r\n"));
        Write(d + "StdHand.dbs", Ansi("Opmåling\r\nSkel\r\nMøde\r\n"));
        const std::string types0 = Read(d + "StdSagsType.dbs");
        const std::string events0 = Read(d + "HandForSagsType.dbs");

        // Slut writes nothing, whatever was changed.
        WindowScripts ws;
        ws.On<kj::THandForSagsType>([](kj::THandForSagsType& w) {
            w.edtSagsTyper->setCurrentItem(w.edtSagsTyper->topLevelItem(2));
            delete w.edtSagsTyper->topLevelItem(0);
            w.reject();
        });
        kj::KJHandForSagsType::Execute();
        QCOMPARE(Read(d + "StdSagsType.dbs"), types0);
        QCOMPARE(Read(d + "HandForSagsType.dbs"), events0);

        QStringList seen;
        ws.On<kj::THandForSagsType>([&](kj::THandForSagsType& w) {
            QTreeWidget* types = w.edtSagsTyper;
            QTableWidget* grid = w.edtHandForSagsType;
            seen << QString::number(w.EventRows()) << w.EventText(1);  // Administration
            types->setCurrentItem(types->topLevelItem(1));             // Udstykning
            seen << QString::number(w.EventRows()) << w.EventText(1) << w.EventText(2);
            // Row 2 emptied in its combo box: the event leaves the type.
            grid->setFocus();
            grid->setCurrentCell(1, 1);
            auto* box = Editor<QComboBox>(grid, "edtHand");
            QVERIFY(box);
            seen << QString::number(box->count());
            box->lineEdit()->selectAll();
            QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
            types->setFocus();
            types->setCurrentItem(types->topLevelItem(2));  // Andet
            seen << QString::number(w.EventRows()) << w.EventText(1);
            // Down in the combo box on the last row adds a row.
            grid->setFocus();
            grid->setCurrentCell(0, 1);
            box = Editor<QComboBox>(grid, "edtHand");
            QTest::keyClick(box, Qt::Key_Down);
            seen << QString::number(w.EventRows());
            box = Editor<QComboBox>(grid, "edtHand");
            QTest::keyClicks(box->lineEdit(), U("Møde"));
            // Andet renamed in place.
            types->setFocus();
            QTest::keyClick(types, Qt::Key_Return);
            QLineEdit* name = Editor<QLineEdit>(types, "edtTypeName");
            QVERIFY(name);
            name->selectAll();
            QTest::keyClicks(name, "Diverse");
            QTest::keyClick(name, Qt::Key_Return);
            QCoreApplication::processEvents();  // the editor closes between two keys
            // Arrow down on the last type adds "Ny type".
            types->setFocus();
            QTest::keyClick(types, Qt::Key_Down);
            name = Editor<QLineEdit>(types, "edtTypeName");
            QVERIFY(name && name->isVisible());
            QTest::keyClick(name, Qt::Key_Return);
            QCoreApplication::processEvents();
            seen << QString::number(types->topLevelItemCount());
            // Back to Diverse so its grid is shown again when OK stores it.
            types->setCurrentItem(types->topLevelItem(2));
            seen << w.EventText(2);
            QTest::mouseClick(w.OKBtn, Qt::LeftButton);
        });
        kj::KJHandForSagsType::Execute();
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(seen, QStringList({"1", "", "2", U("Opmåling"), "Skel", "3", "1", "Kun en", "2",
                                    "4", U("Møde")}));
        QCOMPARE(kjqt::FromAnsi(Read(d + "StdSagsType.dbs")),
                 U("Administration\r\nUdstykning\r\nDiverse\r\nNy type\r\n"));
        QCOMPARE(kjqt::FromAnsi(Read(d + "HandForSagsType.dbs")),
                 U("[Udstykning]\r\n1=Opmåling\r\n\r\n[Diverse]\r\n1=Kun en\r\n2=Møde\r\n"));
    }
};

QTEST_MAIN(PickersTest)
#include "pickers_test.moc"
