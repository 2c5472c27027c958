// Every built-in report layout over a data folder with realistic values (long descriptions,
// phone numbers with blanks, sums in the millions): each report window prints each variant
// of its built-in file (the ongoing cases with every posting order, the outstanding amounts
// in the display mode of each variant and the one-line-per-case variant in the other two
// modes as well), and every item the page engine prints is checked: its text fits
// its box on one line, and no two texts of one printed line overlap or touch.
#include <QButtonGroup>
#include <QCheckBox>
#include <set>

#include "data/db_fields.h"
#include "report_fixture.h"
#include "reports/aktive_sager.h"
#include "reports/list_bruger.h"
#include "reports/list_kunde.h"
#include "reports/list_post.h"
#include "reports/list_postnr.h"
#include "reports/list_varer.h"
#include "reports/ude_rap.h"

using namespace kjreptest;

namespace {

// Least blank between two texts of one line: half a millimetre.
const int64_t kMinGap = 50;

struct Extent {
    QString name, text;
    int64_t x0, x1, y0, y1;
};

// Free texts (descriptions, names, addresses) wrap in their boxes on purpose; every other
// value, every caption and every sum must fit on one line.
bool MayWrap(const kjrep::TSkrivFelt& item) {
    return item.Field && item.Text.empty() && item.Field->DataType() == Db::ftString &&
           item.Field->Size() >= 30;
}

Extent TextExtent(const kjrep::TPrintedItem& p, int line) {
    const kjrep::TSkrivFelt& item = *p.item;
    const int64_t w = p.widths[size_t(line)];
    int64_t x = p.left;
    if (item.Alignment == 0)
        x += (item.Width - w) / 2;
    else if (item.Alignment == 1)
        x += item.Width - w;
    const int64_t y = p.top + int64_t(line) * item.Height * 110 / 100;
    return {QString::fromStdString(*p.name), p.lines[size_t(line)], x, x + w, y, y + item.Height};
}

}  // namespace

class LayoutCheckTest : public QObject {
    Q_OBJECT
    ReportFixture f;
    QString run_;               // the report and variant printing now
    std::set<QString> faults_;  // each once

    void Fault(const QString& what) { faults_.insert(run_ + ": " + what); }

    void CheckLine(const std::vector<kjrep::TPrintedItem>& printed) {
        std::vector<Extent> texts;
        for (const kjrep::TPrintedItem& p : printed) {
            const QString name = QString::fromStdString(*p.name);
            if (p.lines.size() > 1 && !MayWrap(*p.item))
                Fault(QString("%1 \"%2\" wraps in %3")
                          .arg(name, QStringList(p.lines.begin(), p.lines.end()).join(' '))
                          .arg(p.item->Width));
            for (size_t k = 0; k < p.lines.size(); ++k) {
                if (p.lines[k].trimmed().isEmpty()) continue;
                if (p.widths[k] > p.item->Width)
                    Fault(QString("%1 \"%2\" is %3 wide in a box of %4")
                              .arg(name, p.lines[k])
                              .arg(p.widths[k])
                              .arg(p.item->Width));
                texts.push_back(TextExtent(p, int(k)));
            }
        }
        for (size_t i = 0; i < texts.size(); ++i)
            for (size_t j = i + 1; j < texts.size(); ++j) {
                const Extent& a = texts[i];
                const Extent& b = texts[j];
                if (a.y1 <= b.y0 || b.y1 <= a.y0) continue;
                if (a.x1 + kMinGap <= b.x0 || b.x1 + kMinGap <= a.x0) continue;
                Fault(QString("%1 \"%2\" meets %3 \"%4\"").arg(a.name, a.text, b.name, b.text));
            }
    }

    void Fill() {
        auto A = [](const char* utf8) { return Ansi(utf8); };
        f.Add(f.data->PostnrDbf, {{"pst_nr", "6400"}, {"pst_by", A("Sønderborg")}});
        for (const char* ini : {"UAG", "MKJ"})
            f.Add(f.data->BrugerDbf, {{"ini", ini},
                                      {"ini_fnavn", A("Ulla Marie")},
                                      {"ini_enavn", A("Agger-Kristensen")},
                                      {"ini_adr1", A("Hovedgaden 123, 1. tv.")},
                                      {"ini_postnr", "6400"},
                                      {"ini_email", "ulla.agger@landinspektoer.dk"},
                                      {"ini_tlf", "12 34 56 78"},
                                      {"ini_fax", "87 65 43 21"}});
        f.Add(f.data->KundeDbf, {{"mak_id", "K-10045"},
                                 {"mak_fnavn", A("Jens Peter")},
                                 {"mak_enavn", A("Sønderby Christiansen")},
                                 {"mak_adr1", A("Møllevej 17")},
                                 {"mak_postnr", "6400"},
                                 {"mak_email", "jp.christiansen@sonderby-gods.dk"},
                                 {"mak_tlf", "74 42 18 90"},
                                 {"mak_fax", "74 42 18 91"}});
        f.Add(f.data->vareGDbf,
              {{"id", "OPM"}, {"tekst", A("Opmåling og afsætning")}, {"priori", "1"}});
        f.Add(f.data->VareDbf, {{"tmu_id", "TIMER-LAND"},
                                {"tmu_bem", A("Opmåling af skel og afsætning af hjørner")},
                                {"tmu_pris", "1250.00"},
                                {"tmu_moms", "25"},
                                {"tmu_konto", "1010-2020"},
                                {"tmu_gr", "OPM"}});
        for (int c = 1; c <= 3; ++c) {
            const std::string nr = "2024-1004" + std::to_string(c);
            f.Add(f.data->SagsDbf, {{"sags_nr", nr},
                                    {"sags_bem", A("Udstykning af matr. nr. 12a Sønderby")},
                                    {"sag_ansvar", "UAG"},
                                    {"sag_kunde", "K-10045"},
                                    {"sag_matnr", A("12a, 12b og 7c Sønderby By, Sønderby")},
                                    {"sag_disk", A("Sønderborg Kommune")},
                                    {"sag_type", "Udstykning"}});
            f.AddEvent(nr.c_str(), "12-02-2024", "Anmeldt til Geodatastyrelsen", true);
            for (int i = 0; i < 30; ++i)
                f.AddPosting(
                    nr.c_str(), "TIMER-LAND", i % 2 ? "UAG" : "MKJ",
                    QString("%1-02-2024").arg(1 + i % 28, 2, 10, QChar('0')).toLatin1().constData(),
                    "37.50", "2500.00", "25", i % 7 ? "0" : "12.50", "2024-00123",
                    "Opmåling af skel, afsætning");
        }
    }

    // Prints every variant of the window's file (with each setting of one more choice).
    template <class Window>
    void PrintVariants(const char* report, int variants,
                       const std::function<void(Window&)>& prepare,
                       const std::function<int(Window&)>& choices = {},
                       const std::function<void(Window&, int)>& choose = {}) {
        for (int v = 1; v <= variants; ++v) {
            Window w;
            prepare(w);
            w.Frame->edtRapport->setCurrentIndex(v - 1);
            w.Frame->edtRapportClick();
            const int n = choices ? choices(w) : 1;
            for (int c = 0; c < n; ++c) {
                if (choose) choose(w, c);
                run_ =
                    QString("%1 [%2]").arg(report).arg(v) + (choices ? QString(" %1").arg(c) : "");
                QVERIFY2(!f.Print(w.Frame->btnUdskriv).isEmpty(), qPrintable(run_));
            }
        }
    }

  private slots:
    void initTestCase() {
        f.Start();
        Fill();
        kjrep::PreviewForm().OnLinePrinted = [this](const std::vector<kjrep::TPrintedItem>& p) {
            CheckLine(p);
        };
    }
    void cleanupTestCase() { f.Stop(); }

    void everyBuiltInLayout() {
        using namespace kjrep;
        PrintVariants<TAktiveSagerForm>(
            "AktiveSager.kjr", 4,
            [](TAktiveSagerForm& w) {
                w.EdtFraSag->setEditText("");
                w.EdtTilSag->setEditText("");
                w.edtAllePoster->setChecked(true);
            },
            [](TAktiveSagerForm&) { return 3; },
            [](TAktiveSagerForm& w, int sort) { w.EdtPosterSort->button(sort)->setChecked(true); });
        PrintVariants<TUdeRapForm>(
            "UdeSager.kjr", 3,
            [](TUdeRapForm& w) {
                w.EdtSagnr1->setEditText("");
                w.EdtSagnr2->setEditText("");
            },
            [](TUdeRapForm& w) { return w.rgVisning->checkedId() == 0 ? 3 : 1; },
            [](TUdeRapForm& w, int mode) {
                if (mode > 0) w.rgVisning->button(mode)->setChecked(true);
            });
        PrintVariants<TListPostForm>("BrugerPoster.kjr", 2, [](TListPostForm& w) {
            w.DateTimePicker1->setDate(QDate(2024, 2, 1));
            w.DateTimePicker2->setDate(QDate(2024, 2, 29));
            w.cbPrDag->setChecked(true);
        });
        auto none = [](auto&) {};
        PrintVariants<TListBrugerForm>("BrugerListe.kjr", 2, none);
        PrintVariants<TListKundeForm>("KundeListe.kjr", 2, none);
        PrintVariants<TListPostnrForm>("PostByListe.kjr", 2, none);
        PrintVariants<TListVarerForm>("VarerListe.kjr", 3, none);
        for (const QString& fault : faults_) qInfo().noquote() << fault;
        QCOMPARE(int(faults_.size()), 0);
    }
};

QTEST_MAIN(LayoutCheckTest)
#include "layout_check_test.moc"
