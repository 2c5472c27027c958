// The ongoing-cases report over a prepared data folder, printed to PDF and read back: case
// heads with the employee (short initials) and customer, events in the date range, postings
// with their discount and invoice marks, subtotals per employee or item group, case totals
// in kroner, every date with "Vis alle posteringer uanset dato", one case per page with
// "Side N" once per page, the half-A4 cover variant, the range messages, and the case boxes
// of this window and the outstanding amounts' showing the start of a case's text.
#include <QButtonGroup>
#include <QCheckBox>

#include "report_fixture.h"
#include "reports/aktive_sager.h"
#include "reports/ude_rap.h"
#include "ui/ini_file.h"

using namespace kjreptest;
using kjrep::TAktiveSagerForm;

class ActiveCasesTest : public QObject {
    Q_OBJECT
    ReportFixture f;

    void Fill() {
        f.AddUser("AB", "Anne", "Berg");
        f.AddUser("KLM", "Karl", "Madsen");
        f.Add(f.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}, {"mak_enavn", "Hansen"}});
        f.AddGroup("G1", "Opmåling", "1");
        f.AddGroup("G2", "Tinglysning", "2");
        f.AddItem("OPM", "Opmåling timer", "G1");
        f.AddItem("TING", "Tinglysning", "G2");
        f.AddCase("S-100", "Udstykning Vej 1", "AB", "K1");
        f.AddCase("S-150", "Ansvarlig ukendt", "QQ", "K9");
        f.AddCase("S-200", "Skel", "KLM");
        f.AddCase("S-300", "Lukket sag", "AB", "", "01-01-2020");
        f.AddCase("S-500", "Aktiv sag", "KLM");
        f.AddCase("S-900", "Lukket til sidst", "AB", "", "01-01-2020");
        f.AddEvent("S-100", "02-02-2024", "Opmåling bestilt", true);
        f.AddEvent("S-100", "20-02-2024", "Skitse sendt", false);
        f.AddEvent("S-100", "01-05-2024", "Senere hændelse", false);
        f.AddPosting("S-100", "OPM", "AB", "01-02-2024", "2", "500", "25", "0", "", "Opm1");
        f.AddPosting("S-100", "TING", "KLM", "03-02-2024", "1", "1234.50", "25", "5", "F1", "Ting");
        f.AddPosting("S-100", "OPM", "AB", "05-02-2024", "1", "100", "25", "0", "", "Opm2");
        f.AddPosting("S-100", "OPM", "AB", "01-05-2024", "1", "7", "25", "0", "", "Senere");
        f.AddPosting("S-300", "OPM", "AB", "01-02-2024", "1", "50");
        f.AddPosting("S-500", "OPM", "KLM", "10-02-2024", "1", "10", "25", "0", "", "Opm5");
    }
    std::unique_ptr<TAktiveSagerForm> Window(int variant, const char* from = "",
                                             const char* to = "") {
        auto w = std::make_unique<TAktiveSagerForm>();
        w->Frame->edtRapport->setCurrentIndex(variant - 1);
        w->Frame->edtRapportClick();
        w->EdtFraSag->setEditText(from);
        w->EdtTilSag->setEditText(to);
        w->edtDato1->setDate(QDate(2024, 2, 1));
        w->edtDato2->setDate(QDate(2024, 2, 29));
        return w;
    }

  private slots:
    void init() {
        f.Start();
        Fill();
    }
    void cleanup() { f.Stop(); }

    void perEmployeeWithEventsOnePagePerCase() {
        auto w = Window(1);
        QCOMPARE(w->EdtPosterSort->checkedId(), 1);
        QVERIFY(w->EdtMedtagHand->isChecked() && w->EdtMedtagPost->isChecked());
        const QString text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(f.responder.Asked().empty());
        const QStringList pages = Pages(text);
        QCOMPARE(pages.size(), 4);  // S-100, S-150, S-200, S-500: one case per page
        for (int i = 0; i < pages.size(); ++i)
            QCOMPARE(Count(pages[i], QString("Side %1").arg(i + 1)), 1);
        const QString& p1 = pages[0];
        // Head: the employee with two-letter initials and the customer are found.
        QCOMPARE(LinesWith(p1, {"Sagsnr.:", "S-100", "Ansvarlig:", "Anne Berg"}).size(), 1);
        QCOMPARE(LinesWith(p1, {"Kunde:", "Jens Hansen"}).size(), 1);
        // Events in range, done or not.
        QCOMPARE(LinesWith(p1, {"02-02-2024", "Opmåling bestilt"}).size(), 1);
        QCOMPARE(LinesWith(p1, {"20-02-2024", "Skitse sendt"}).size(), 1);
        QVERIFY(!p1.contains("Senere"));
        // Postings by employee: AB's two, then KLM's; discount and invoice marks.
        QCOMPARE(LinesWith(p1, {"01-02-2024", "OPM", "Opm1", "-", "1 000,00", "AB", "-"}).size(),
                 1);
        QCOMPARE(LinesWith(p1, {"03-02-2024", "TING", "Ting", "*", "1 229,50", "KLM", "*"}).size(),
                 1);
        QCOMPARE(
            LinesWith(p1, {"Anne Berg", "3,00", "1 100,00 kr", "275,00 kr", "1 375,00 kr"}).size(),
            1);
        QCOMPARE(LinesWith(p1, {"Karl Madsen", "1,00", "1 229,50 kr", "307,38 kr", "1 536,88 kr"})
                     .size(),
                 1);
        QCOMPARE(LinesWith(p1, {"2 329,50 kr", "582,38 kr", "2 911,88 kr"}).size(), 1);
        QVERIFY(p1.indexOf("Opm2") < p1.indexOf("Ting"));
        // An employee or customer that is not registered prints blank, not the last one found.
        QVERIFY(pages[1].contains("S-150"));
        QVERIFY(!pages[1].contains("Anne Berg") && !pages[1].contains("Jens Hansen"));
        // A case without events or postings prints its head alone.
        QVERIFY(pages[2].contains("S-200") && Kroner(pages[2]) == 0);
        QVERIFY(!text.contains("S-300") && !text.contains("S-900"));
    }

    // Two postings a money count holds whose sum it does not: the employee's and the
    // case's sums stop at the largest amount instead of turning negative.
    void aSumBeyondAMoneyCountStopsAtTheLargest() {
        f.AddCase("S-600", "Stor sag", "AB");
        for (int i = 0; i < 2; ++i)
            f.AddPosting("S-600", "OPM", "AB", "02-02-2024", "1", "900000000000000", "0");
        auto w = Window(1, "S-600", "S-600");
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(
            LinesWith(text, {"Anne Berg", "2,00", "922 337 203 685", "0,00 kr", "922 337 203 685"})
                .size(),
            1);
        QCOMPARE(text.count("477,58 kr"), 4);  // the employee's and the case's, net and gross
        QVERIFY2(!text.contains(QRegularExpression("-[0-9]{1,3}( [0-9]{3})*,[0-9]{2}")),
                 qPrintable(text));
    }

    void allDatesByDateAndByItemGroup() {
        auto w = Window(1, "S-100", "S-100");
        w->EdtPosterSort->button(0)->setChecked(true);
        w->edtAllePoster->setChecked(true);
        QVERIFY(!w->edtDato1->isEnabled());
        QString text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(text.contains("Senere hændelse"));
        QCOMPARE(LinesWith(text, {"01-05-2024", "Senere"}).size(), 2);
        QCOMPARE(Kroner(text), 3);  // no subtotal: the case total alone
        QCOMPARE(LinesWith(text, {"2 336,50 kr"}).size(), 1);
        w->EdtPosterSort->button(2)->setChecked(true);
        text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"Opmåling", "4,00", "1 107,00 kr"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Tinglysning", "1,00", "1 229,50 kr"}).size(), 1);
    }

    // A from-date after the to-date: the two swapped, the same events and postings printed.
    void swappedDates() {
        auto w = Window(1, "S-100", "S-100");
        const QString inOrder = f.Print(w->Frame->btnUdskriv);
        w->edtDato1->setDate(QDate(2024, 2, 29));
        w->edtDato2->setDate(QDate(2024, 2, 1));
        const QString swapped = f.Print(w->Frame->btnUdskriv);
        QVERIFY(f.responder.Asked().empty());
        QCOMPARE(swapped, inOrder);
        QCOMPARE(LinesWith(swapped, {"20-02-2024", "Skitse sendt"}).size(), 1);
        QCOMPARE(LinesWith(swapped, {"2 329,50 kr", "582,38 kr", "2 911,88 kr"}).size(), 1);
    }

    void coverVariantPrintsHeadsOnly() {
        auto w = Window(4);
        QVERIFY(!w->EdtMedtagHand->isChecked() && !w->EdtMedtagPost->isChecked());
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(Pages(text).size(), 4);
        QVERIFY(text.contains("Sagsomslag") && !text.contains("Opm1") && !text.contains("Skitse"));
        const QSizeF size = PdfPageSize(f.pdf, 1);  // A5
        QVERIFY(qAbs(Mm(size.width()) - 148) < 1 && qAbs(Mm(size.height()) - 210) < 1);
    }

    void rangeMessages() {
        auto w = Window(1, "s-999");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(), QStringList{"Kan ikke finde den første sag S-999"});
        f.responder.Clear();
        w = Window(1, "S-900");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(),
                 QStringList{"Der er ingen aktive sager efter den første S-900"});
        f.responder.Clear();
        w = Window(1, "S-500", "S-100");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(),
                 QStringList{"Første sag S-500 ligger efter sidste sag S-100"});
        QVERIFY(w->Frame->btnVis->isEnabled());
    }

    // The character at the left edge of a box's text (as painted: the edit scrolls its text
    // when it paints).
    static int FirstShown(QComboBox* box) {
        QLineEdit* e = box->lineEdit();
        e->repaint();
        return e->cursorPositionAt(QPoint(e->contentsRect().left() + 3, e->height() / 2));
    }
    static void CheckCaseBoxes(QDialog& w, QComboBox* from, QComboBox* to) {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (QComboBox* box : {from, to}) {
            QVERIFY(box->currentText().startsWith("S-777"));
            QVERIFY(box->fontMetrics().horizontalAdvance(box->currentText()) > box->width());
            QCOMPARE(FirstShown(box), 0);
        }
        // A case chosen from the list with the keys, then the box left.
        from->setFocus();
        from->showPopup();
        from->hidePopup();
        const int at = from->findText("S-777", Qt::MatchStartsWith);
        QVERIFY(at > 0);
        from->setCurrentIndex(at - 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(from->currentIndex(), at);
        QCOMPARE(FirstShown(from), 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QVERIFY(FirstShown(from) > 0);  // typing at the end shows the end
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!from->hasFocus());
        QCOMPARE(FirstShown(from), 0);
    }

    void caseBoxesShowTheCaseNumber() {
        f.AddCase("S-778", "Skel");
        f.AddCase("S-777",
                  "Udstykning af matr. nr. 0 Sønderby, Sønderby By, og omliggende arealer ved "
                  "Vestervej");  // the current case
        {
            TAktiveSagerForm w;
            CheckCaseBoxes(w, w.EdtFraSag, w.EdtTilSag);
        }
        f.data->SagsDbf.FindExact("S-777     ");
        kjrep::TUdeRapForm w;
        CheckCaseBoxes(w, w.EdtSagnr1, w.EdtSagnr2);
    }

    void optionsWrittenBackOnClose() {
        {
            auto w = Window(2);
            w->EdtMedtagHand->setChecked(false);
            w->EdtPosterSort->button(2)->setChecked(true);
            w->reject();
        }
        kjqt::TMemIniFile ini(f.folder->start + "AktiveSager.kjr");
        QCOMPARE(ini.ReadString("SidstValgt", "Nr", ""), std::string("2"));
        QCOMPARE(ini.ReadString("2", "MedtagStatus", ""), std::string("N"));
        QCOMPARE(ini.ReadString("2", "MedtagPoster", ""), std::string("J"));
        QCOMPARE(ini.ReadInteger("2", "PostSortering", -1), 2);
    }
};

QTEST_MAIN(ActiveCasesTest)
#include "active_cases_test.moc"
