// The outstanding-amounts report over a prepared data folder, printed to PDF and read back:
// one line per case with the grand total, per item and per item group with their subtotals
// and case totals, sums made exactly in ten-thousandths, the range messages, "Side N" on
// every page, the preview, and the options written back when the window closes.
#include <QCheckBox>
#include <QFile>
#include <QThread>

#include "index/mdx_semaphore.h"
#include "report_fixture.h"
#include "reports/report_util.h"
#include "reports/ude_rap.h"
#include "ui/ini_file.h"

using namespace kjreptest;
using kjrep::TUdeRapForm;

class OutstandingTest : public QObject {
    Q_OBJECT
    ReportFixture f;

    void Fill() {
        f.AddUser("AB", "Anne", "Berg");
        f.AddGroup("G1", "Opmåling", "1");
        f.AddGroup("G2", "Tinglysning", "2");
        f.AddItem("OPM", "Opmåling timer", "G1");
        f.AddItem("TING", "Tinglysning", "G2");
        f.AddItem("KM", "Kørsel", "G1");
        f.AddCase("S-100", "Udstykning Vej 1", "AB");
        f.AddCase("S-200", "Skel uden posteringer", "AB");
        f.AddCase("S-300", "Lukket sag", "AB", "", "01-01-2020");
        f.AddCase("S-500", "Aktiv sag", "AB");
        f.AddCase("S-900", "Lukket til sidst", "AB", "", "01-01-2020");
        f.AddPosting("S-100", "OPM", "AB", "01-02-2024", "2", "500");
        f.AddPosting("S-100", "TING", "AB", "03-02-2024", "1", "1234.50");
        f.AddPosting("S-100", "OPM", "AB", "05-02-2024", "1", "100");
        f.AddPosting("S-300", "OPM", "AB", "01-02-2024", "1", "50");
        f.AddPosting("S-500", "KM", "AB", "10-03-2024", "10", "3.5");
        f.AddPosting("S-500", "XX", "AB", "11-03-2024", "1", "10");
    }
    // A window on variant n (1-based), the range boxes as given.
    std::unique_ptr<TUdeRapForm> Window(int variant, const char* from = "", const char* to = "") {
        auto w = std::make_unique<TUdeRapForm>();
        w->Frame->edtRapport->setCurrentIndex(variant - 1);
        w->Frame->edtRapportClick();
        w->EdtSagnr1->setEditText(from);
        w->EdtSagnr2->setEditText(to);
        return w;
    }
    static void CheckPageNumbers(const QString& text) {
        const QStringList pages = Pages(text);
        QVERIFY(!pages.isEmpty());
        for (int i = 0; i < pages.size(); ++i)
            QCOMPARE(Count(pages[i], QString("Side %1").arg(i + 1)), 1);
    }

  private slots:
    void init() {
        f.Start();
        Fill();
    }
    void cleanup() { f.Stop(); }

    // A report's walk is counted in once as a reader of the postings index, and counted
    // out while window messages run, so that nothing a timer does finds it counted in.
    void readCountHeldForTheWalkAndLetGoForMessages() {
        TzDs::TTzDbf& post = f.data->PostDbf;
        const QString sem = QString::fromStdString(Mdx::SemaphoreFileName(post.DbfFileName()));
        auto readers = [&sem] {
            QFile file(sem);
            const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(2) : QByteArray();
            return head.size() == 2 ? int(head[1]) : -1;
        };
        QCOMPARE(readers(), 0);
        {
            kjrep::TIndexReadRun run({&post});
            QCOMPARE(readers(), 1);
            post.First();
            post.Next();
            QCOMPARE(readers(), 1);
            int seen = -1;
            QTimer::singleShot(0, [&] { seen = readers(); });
            QThread::msleep(25);  // messages run at most every 20 ms
            kjrep::LetMessagesThrough();
            QCOMPARE(seen, 0);
            QCOMPARE(readers(), 1);
        }
        QCOMPARE(readers(), 0);
    }

    void oneLinePerCaseWithGrandTotal() {
        auto w = Window(1);
        QCOMPARE(w->Visning(), 0);
        QVERIFY(!w->edtAktiveSager->isChecked());
        const QString text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(f.responder.Asked().empty());
        QCOMPARE(
            LinesWith(text, {"S-100", "Udstykning Vej 1", "2 334,50", "583,63", "2 918,13"}).size(),
            1);
        QCOMPARE(LinesWith(text, {"S-300", "50,00", "12,50", "62,50"}).size(), 1);
        QCOMPARE(LinesWith(text, {"S-500", "45,00", "11,25", "56,25"}).size(), 1);
        QVERIFY(!text.contains("S-200"));  // no postings: not even its number
        // 2334.50 + 50 + 45; VAT 583.625 + 12.5 + 11.25 made exactly, rounded once.
        QCOMPARE(LinesWith(text, {"Udestående ialt", "2 429,50", "607,38", "3 036,88"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Nr", "Bemærkning", "Total", "Moms", "I Alt"}).size(), 1);
        QVERIFY(text.contains("Landinspektørerne ApS"));
        CheckPageNumbers(text);
    }

    // Two postings a money count holds whose sum it does not: the case's sums and the
    // grand total stop at the largest amount instead of turning negative.
    void aSumBeyondAMoneyCountStopsAtTheLargest() {
        f.AddCase("S-600", "Stor sag", "AB");
        for (int i = 0; i < 2; ++i)
            f.AddPosting("S-600", "OPM", "AB", "01-02-2024", "1", "900000000000000", "0");
        auto w = Window(1);
        const QString text = f.Print(w->Frame->btnUdskriv);
        const QString largest = "922 337 203 685";  // 477,58 goes on the next line
        QCOMPARE(LinesWith(text, {"S-600", largest, "0,00", largest}).size(), 1);
        QCOMPARE(LinesWith(text, {"Udestående ialt", largest, "607,38", largest}).size(), 1);
        QCOMPARE(text.count("477,58"), 4);
        QVERIFY2(!text.contains(QRegularExpression("-[0-9]{1,3}( [0-9]{3})*,[0-9]{2}")),
                 qPrintable(text));
    }

    void perItemInDateOrderOnlyActive() {
        auto w = Window(2);
        QCOMPARE(w->Visning(), 1);
        QVERIFY(w->edtAktiveSager->isChecked());
        const QString text = f.Print(w->Frame->btnUdskriv);
        // OPM, TING, OPM again: the item's postings are not consecutive.
        const QStringList opm = LinesWith(text, {"OPM", "Opmåling timer"});
        QCOMPARE(opm.size(), 2);
        QVERIFY(opm[0].contains("2,00") && opm[0].contains("1 000,00") &&
                opm[0].contains("1 250,00"));
        QVERIFY(opm[1].contains("1,00") && opm[1].contains("100,00") && opm[1].contains("125,00"));
        QCOMPARE(LinesWith(text, {"TING", "1,00", "1 234,50", "308,63", "1 543,13"}).size(), 1);
        QCOMPARE(LinesWith(text, {"I Alt", "2 334,50", "583,63", "2 918,13"}).size(), 1);
        QVERIFY(!text.contains("S-300"));  // closed
        QVERIFY(!text.contains("Udestående ialt"));
        // A posting whose item is missing prints a line with blank item fields.
        QCOMPARE(LinesWith(text, {"1,00", "10,00", "2,50", "12,50"}).size(), 1);
        QVERIFY(!LinesWith(text, {"1,00", "10,00", "2,50", "12,50"})[0].contains("XX"));
        CheckPageNumbers(text);
    }

    void perGroupAndMissingItemKeepsGroup() {
        auto w = Window(3);
        QCOMPARE(w->Visning(), 2);
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"G1", "Opmåling", "1 100,00", "275,00", "1 375,00"}).size(), 1);
        QCOMPARE(LinesWith(text, {"G2", "Tinglysning", "1 234,50"}).size(), 1);
        // S-500: KM (G1) and the missing item XX in the same group.
        QCOMPARE(LinesWith(text, {"G1", "Opmåling", "45,00", "11,25", "56,25"}).size(), 1);
    }

    void rangeMessagesPrintNothing() {
        auto w = Window(1, "s-999");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(), QStringList{"Kan ikke finde den første sag S-999"});
        f.responder.Clear();
        w = Window(1, "S-500", "s-100");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(),
                 QStringList{"Første sag S-500 ligger efter sidste sag S-100"});
        f.responder.Clear();
        w = Window(2, "S-900");  // only active cases, and only closed ones from there
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(), QStringList{"Der er ingen sager til udskrift S-900"});
        QVERIFY(w->Frame->btnUdskriv->isEnabled());  // enabled again after the run
    }

    void rangeBoundsAndPreview() {
        auto w = Window(1, "S-200", "S-300");
        const QString text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(text.contains("S-300"));
        QVERIFY(!text.contains("S-100") && !text.contains("S-500"));
        bool enabledDuringRun = true;
        QCOMPARE(f.Preview(w->Frame->btnVis,
                           [&] {
                               enabledDuringRun = w->Frame->btnVis->isEnabled() ||
                                                  w->Frame->btnUdskriv->isEnabled() ||
                                                  w->Frame->btnSlut->isEnabled();
                           }),
                 1);
        QVERIFY(!enabledDuringRun);
        QVERIFY(w->Frame->btnVis->isEnabled() && w->Frame->btnSlut->isEnabled());
    }

    void optionsWrittenBackOnClose() {
        {
            auto w = Window(3);
            w->edtAktiveSager->setChecked(true);
            w->reject();
        }
        kjqt::TMemIniFile ini(f.folder->start + "UdeSager.kjr");
        QCOMPARE(ini.ReadString("SidstValgt", "Nr", ""), std::string("3"));
        QCOMPARE(ini.ReadInteger("3", "Visning", -1), 2);
        QCOMPARE(ini.ReadBool("3", "KunAktive", false), true);
        TUdeRapForm again;
        QCOMPARE(again.Variants.RapportNr, std::string("3"));
        QCOMPARE(again.Frame->edtRapport->currentIndex(), 2);
    }
};

QTEST_MAIN(OutstandingTest)
#include "outstanding_test.moc"
