// The register lists over a prepared data folder, printed to PDF and read back: employees
// and customers (and their messages for an empty table), postal codes (no message when
// empty; "Udskriv" prints too), items under their groups with a missing group named, the
// groups-only variant with its column heads on every page, the A3 variant,
// and a sideways variant kept on closing.
#include <QCheckBox>

#include "report_fixture.h"
#include "reports/list_bruger.h"
#include "reports/list_kunde.h"
#include "reports/list_postnr.h"
#include "reports/list_varer.h"
#include "ui/ini_file.h"

using namespace kjreptest;

class ListReportsTest : public QObject {
    Q_OBJECT
    ReportFixture f;

    template <class W>
    std::unique_ptr<W> Window(int variant) {
        auto w = std::make_unique<W>();
        w->Frame->edtRapport->setCurrentIndex(variant - 1);
        w->Frame->edtRapportClick();
        return w;
    }

  private slots:
    void init() { f.Start(); }
    void cleanup() { f.Stop(); }

    void employeesAndCustomers() {
        auto users = Window<kjrep::TListBrugerForm>(1);
        QCOMPARE(f.Print(users->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(), QStringList{"Der er ingen medarbejdere registreret"});
        auto customers = Window<kjrep::TListKundeForm>(1);
        f.responder.Clear();
        QCOMPARE(f.Print(customers->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(), QStringList{"Der er ingen kunder registreret"});

        f.Add(f.data->PostnrDbf, {{"pst_nr", "8000"}, {"pst_by", "Aarhus C"}});
        f.Add(f.data->BrugerDbf, {{"ini", "KLM"},
                                  {"ini_fnavn", "Karl"},
                                  {"ini_enavn", "Madsen"},
                                  {"ini_postnr", "8000"},
                                  {"ini_tlf", "86123456"}});
        f.AddUser("AB", "Anne", "Berg");
        f.Add(f.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}, {"mak_enavn", "Hansen"}});
        f.responder.Clear();
        QString text = f.Print(users->Frame->btnUdskriv);
        QVERIFY(f.responder.Asked().empty());
        QCOMPARE(LinesWith(text, {"Liste over medarbejdere"}).size(), 1);
        QCOMPARE(
            LinesWith(text, {"ID", "Navn / Adresse / Postnr./By / eMail", "Telefon / Fax"}).size(),
            1);
        QCOMPARE(LinesWith(text, {"AB", "Anne Berg"}).size(), 1);
        QCOMPARE(LinesWith(text, {"KLM", "Karl Madsen"}).size(), 1);
        QCOMPARE(LinesWith(text, {"8000 Aarhus C"}).size(), 1);
        QCOMPARE(LinesWith(text, {"86123456"}).size(), 1);
        QVERIFY(text.indexOf("Anne Berg") < text.indexOf("Karl Madsen"));
        QCOMPARE(Count(text, "Side 1"), 1);
        text = f.Print(customers->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"K1", "Jens Hansen"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Liste over kunder"}).size(), 1);
    }

    void postalCodesAndSidewaysVariant() {
        {
            kjrep::TListPostnrForm w;                           // writes the file
            QCOMPARE(f.Print(w.Frame->btnUdskriv), QString());  // empty: no pages, no message
            QVERIFY(f.responder.Asked().empty());
        }
        const std::string file = f.folder->start + "PostByListe.kjr";
        {
            kjqt::TMemIniFile ini(file);
            ini.WriteString("2", "PapirOrientering", "2");
            QVERIFY(ini.UpdateFile());
        }
        for (int i = 0; i < 80; ++i)
            f.Add(f.data->PostnrDbf, {{"pst_nr", std::to_string(1000 + i)}, {"pst_by", "By"}});
        {
            auto w = Window<kjrep::TListPostnrForm>(2);
            const QString text = f.Print(w->Frame->btnUdskriv);
            QCOMPARE(LinesWith(text, {"1000", "By"}).size(), 1);
            QVERIFY(text.indexOf("1000") < text.indexOf("1079"));
            const QSizeF size = PdfPageSize(f.pdf, 1);  // A3 sideways
            QVERIFY(qAbs(Mm(size.width()) - 420) < 1 && qAbs(Mm(size.height()) - 297) < 1);
            const QStringList pages = Pages(text);
            for (int i = 0; i < pages.size(); ++i) {
                QCOMPARE(Count(pages[i], QString("Side %1").arg(i + 1)), 1);
                QCOMPARE(LinesWith(pages[i], {"Postnr", "Bynavn"}).size(), 1);
            }
            w->reject();
        }
        kjqt::TMemIniFile ini(file);
        QCOMPARE(ini.ReadString("SidstValgt", "Nr", ""), std::string("2"));
        QCOMPARE(ini.ReadString("2", "PapirOrientering", ""), std::string("2"));
        QCOMPARE(ini.ReadString("2", "Papir", ""), std::string("8"));
    }

    void itemsUnderGroupsAndGroupsOnly() {
        f.AddGroup("G1", "Opmåling", "1");
        f.AddGroup("G2", "Tinglysning", "2");
        f.AddItem("OPM", "Opmåling timer", "G1");
        f.AddItem("KM", "Kørsel", "G1");
        f.AddItem("TING", "Tinglysning", "G2");
        f.AddItem("ANDET", "Uden gruppe", "");
        f.AddItem("FEJL", "Forkert gruppe", "G9");
        auto w = Window<kjrep::TListVarerForm>(1);
        QVERIFY(!w->edtKunGrupper->isChecked());
        QString text = f.Print(w->Frame->btnUdskriv);
        // Items with an empty group first, then G1, G2, G9; items in number order.
        const int blank = text.indexOf("ANDET"), g1 = text.indexOf("Opmåling timer");
        const int g2 = text.indexOf("TING"), g9 = text.indexOf("FEJL");
        QVERIFY(blank >= 0 && blank < g1 && g1 < g2 && g2 < g9);
        QVERIFY(text.indexOf("KM") < text.indexOf("OPM"));
        QCOMPARE(
            LinesWith(text, {"Gruppe", "G1", "Bemærkning", "Opmåling", "Prioritet", "1"}).size(),
            1);
        QCOMPARE(Count(text, "Varegruppen findes ikke"), 2);  // the empty group and G9
        QCOMPARE(LinesWith(text, {"Vare", "Bemærkning", "Pris", "Moms", "Konto"}).size(), 4);

        w = Window<kjrep::TListVarerForm>(3);
        QVERIFY(w->edtKunGrupper->isChecked());
        for (int i = 3; i < 70; ++i)
            f.AddGroup(QString("G%1").arg(i, 2, 10, QChar('0')).toLatin1().constData(), "Gruppe");
        text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(!text.contains("OPM"));
        const QStringList pages = Pages(text);
        QVERIFY(pages.size() >= 2);
        for (int i = 0; i < pages.size(); ++i) {
            QCOMPARE(LinesWith(pages[i], {"Gruppe", "Bemærkning", "Prioritet"}).size(), 1);
            QCOMPARE(Count(pages[i], QString("Side %1").arg(i + 1)), 1);
        }
        QCOMPARE(LinesWith(text, {"Liste over varegrupper"}).size(), pages.size());

        // The A3 variant: the item lines of the A4 one on the larger sheet.
        w = Window<kjrep::TListVarerForm>(2);
        text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"G1", "Bemærkning", "Prioritet"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Vare", "Bemærkning", "Pris", "Moms", "Konto"}).size(), 4);
        QCOMPARE(PdfInfo(f.pdf).contains("(A3)"), true);
    }
};

QTEST_MAIN(ListReportsTest)
#include "list_reports_test.moc"
