// The seam between the reports and the application: the report host filled from the set-up
// object (system folder, firm texts without their padding) and the data module (margins and
// orientation taken when a report window opens and given back when it closes), and the
// entry points the menu calls, each opening its window modally.
#include "reports/report_wiring.h"

#include <QApplication>

#include "app/kj_menu.h"
#include "app/kj_wiring.h"
#include "app/main_entries.h"
#include "report_fixture.h"
#include "reports/list_kunde.h"
#include "reports/report_util.h"
#include "ui/ini_file.h"

using namespace kjreptest;

class ReportWiringTest : public QObject {
    Q_OBJECT
    ReportFixture f;

  private slots:
    void init() { f.Start(); }
    void cleanup() { f.Stop(); }

    // "###,##0.00": half away from zero to hundredths, a blank between thousands.
    // Every item of the main menu reaches a window or a command once the application and
    // the reports have filled in their entry points, as the program's start-up does.
    void everyMenuItemHasItsEntryPoint() {
        kj::InstallAppEntries();
        kjrep::InstallReportEntries();
        for (const kj::MenuEntry& e : kj::MainMenu().Entries()) QVERIFY2(bool(e.open), e.name);
        const auto& commands = kj::MainEntries().MenuCommands;
        for (const char* name :
             {"MenuMedarbejdere",  "MenuVaregrupper",   "MenuVarer",         "MenuHaendelser",
              "MenuKunder",        "MenuPostnr",        "MenuStdHandSager",  "MenuTimeseddel",
              "MenuIgangvaerende", "MenuUdestaaende",   "MenuFakturaKopi",   "MenuOverfoer",
              "MenuListePoster",   "MenuListeBrugere",  "MenuListeVarer",    "MenuListeKunder",
              "MenuListePostnr",   "MenuGenskabIndeks", "MenuFjernSlettede", "MenuArkiver",
              "MenuGendanArkiv",   "MenuSidenSidst"}) {
            QVERIFY2(commands.count(name) == 1 && bool(commands.at(name)), name);
        }
        const kj::TMainEntries& m = kj::MainEntries();
        QVERIFY(m.ShowBrugerForm && m.ShowKundeForm && m.AskPassword && m.PlukDato &&
                m.PlukBruger && m.PlukStatus && m.PlukVare && m.ShowVisData);
    }

    void amountTexts() {
        using kjrep::FormatAmount;
        QCOMPARE(FormatAmount(0), std::string("0,00"));
        QCOMPARE(FormatAmount(49), std::string("0,00"));
        QCOMPARE(FormatAmount(50), std::string("0,01"));
        QCOMPARE(FormatAmount(-50), std::string("-0,01"));
        QCOMPARE(FormatAmount(-49), std::string("0,00"));  // no "-0,00"
        QCOMPARE(FormatAmount(12345000), std::string("1 234,50"));
        QCOMPARE(FormatAmount(-9999999950), std::string("-1 000 000,00"));
        QCOMPARE(FormatAmount(INT64_MAX), std::string("922 337 203 685 477,58"));
        QCOMPARE(FormatAmount(INT64_MIN), std::string("-922 337 203 685 477,58"));
        QCOMPARE(kjrep::FormatKroner(10000), std::string("1,00 kr"));
    }

    void hostFromSetupObjectAndDataModule() {
        QCOMPARE(kjrep::ReportFolder(), f.folder->start);
        QCOMPARE(kjrep::FirmName(), Ansi("Landinspektørerne ApS"));
        QCOMPARE(kjrep::FirmAddress(), std::string("Hovedgaden 1"));
        f.data->Margins[0] = 1500;
        f.data->Orientation = 1;
        kjrep::LoadPageSetup();
        QCOMPARE(kjrep::PageSetup().Margins[0], 1500);
        QCOMPARE(int(kjrep::PageSetup().Orientation), 1);
        {
            kjrep::TListKundeForm w;  // variant 1: "60;60;60;120", upright
            QCOMPARE(kjrep::PageSetup().Margins[3], 1200);
            w.reject();
        }
        QCOMPARE(f.data->Margins[0], 600);
        QCOMPARE(f.data->Margins[3], 1200);
        QCOMPARE(int(f.data->Orientation), 0);
    }

    void entryPointsOpenTheirWindowsModally() {
        QCOMPARE(int(kjrep::ReportEntries().size()), 7);
        QVERIFY(!kjrep::ReportEntryOf("Ukendt"));
        for (const kjrep::ReportEntry& e : kjrep::ReportEntries()) {
            QString caption;
            QTimer poll;  // closes the window with "Slut" as soon as it is modal
            connect(&poll, &QTimer::timeout, this, [&] {
                auto* w = dynamic_cast<kjrep::TReportWindow*>(QApplication::activeModalWidget());
                if (!w) return;
                caption = w->windowTitle();
                // KJ_REPORT_TEST_KEEP names a folder for a picture of every window.
                const QString keep = qEnvironmentVariable("KJ_REPORT_TEST_KEEP");
                if (!keep.isEmpty())
                    w->grab().save(QString("%1/w").arg(keep) + QString::number(qHash(caption)) +
                                   ".png");
                w->Frame->btnSlut->click();
            });
            poll.start(10);
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, this, [] {
                if (QWidget* w = QApplication::activeModalWidget()) w->close();
            });
            guard.start(10000);
            e.run();
            QVERIFY2(!caption.isEmpty(), e.menuText.c_str());
        }
        for (const char* file :
             {"AktiveSager.kjr", "BrugerPoster.kjr", "UdeSager.kjr", "BrugerListe.kjr",
              "VarerListe.kjr", "KundeListe.kjr", "PostByListe.kjr"})
            QVERIFY2(QFile::exists(QString::fromStdString(f.folder->start) + file), file);
        QVERIFY(f.responder.Asked().empty());
    }
};

QTEST_MAIN(ReportWiringTest)
#include "report_wiring_test.moc"
