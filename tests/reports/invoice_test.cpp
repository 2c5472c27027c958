// The invoice copy over a real data folder: the money of one line (cut toward zero, the
// VAT threshold, credit postings), the three modes printed to PDF and read back, numbers
// stamped in the file and never on a refusal, a second station holding and changing a
// posting while it is stamped, and the preview's own print.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "invoice_fixture.h"
#include "pdf_tools.h"
#include "reports/fak_kopi.h"
#include "reports/invoice_amounts.h"
#include "reports/print_preview.h"

using namespace kjinvtest;
using kjreptest::LinesWith;
using namespace kjrep;

class InvoiceTest : public QObject {
    Q_OBJECT

    DataFolder f_;
    QString pdf_;

    void AddPostings() {
        f_.AddRegisters();
        // 0.33 × 33.33 = 10.9989 at 25 %: 10.99, 2.7497 → 2.74, 13.7486 → 13.74 (cut).
        f_.AddPosting({"S1", "V1", "Opmåling", "D", 0.33, 33.33, 0, 25});
        f_.AddPosting({"S1", "V1", "Kreditnota", "K", 1, 10, 0, 25});
        f_.AddPosting({"S1", "V1", "Gebyr", "D", 1, 20, 0, 0.004});
        f_.AddPosting({"S1", "V1", "Tidligere", "D", 1, 5, 0, 25, "F0"});
        f_.AddPosting({"S2", "V1", "Anden sag", "D", 1, 7, 0, 25});
    }
    // Runs the window with these entries; the PDF's text ("" when nothing was printed).
    QString Run(int mode, const char* faknr, const char* sagnr) {
        QFile::remove(pdf_);
        TFakKopiForm form(*f_.data);
        form.rbMode[mode]->setChecked(true);
        form.edtFaknr->setText(QString::fromUtf8(faknr));
        form.edtSagnr->setEditText(QString::fromUtf8(sagnr));
        QTest::mouseClick(form.btnUdskriv, Qt::LeftButton);
        return QFile::exists(pdf_) ? kjreptest::PdfText(pdf_) : QString();
    }
    QStringList Fnr() {
        QStringList out;
        for (const auto& r : f_.Rows()) out << QString::fromStdString(r.fnr);
        return out;
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
    }
    void init() {
        f_.Start(true);
        AddPostings();
        f_.responder.Clear();
        pdf_ = QString::fromStdString(f_.sf->start) + "faktura.pdf";
        qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
    }
    void cleanup() { f_.Stop(); }

    void lineMoneyIsCutTowardZero() {
        // 3 × 33.333 at 25 %: 99.999 → 99.99, 24.99975 → 24.99, 124.99875 → 124.99.
        InvoiceLineAmounts a = InvoiceLine(false, 30000, 333330, 0, 25);
        QCOMPARE(a.net, int64_t(999900));
        QCOMPARE(a.vat, int64_t(249900));
        QCOMPARE(a.gross, int64_t(1249900));
        a = InvoiceLine(true, 30000, 333330, 0, 25);  // a credit counts negative, cut up
        QCOMPARE(a.net, int64_t(-999900));
        QCOMPARE(a.gross, int64_t(-1249900));
        QCOMPARE(InvoiceLine(false, 10000, 1000000, 0, 0.004).vat, int64_t(0));
        QCOMPARE(InvoiceLine(false, 10000, 1000000, 0, 0.006).vat, int64_t(0));  // 0.0006 cut
        QCOMPARE(InvoiceLine(false, 10000, 1000000, 0, 0.01).vat, int64_t(100));
        QCOMPARE(InvoiceLine(false, 20000, 1000000, 100000, 25).net, int64_t(1800000));
        // The export: 1 × 0.999 → 0.99; VAT from the cut net.
        QCOMPARE(ExportLine(10000, 9990, 0, 0).net, int64_t(9900));
        QCOMPARE(ExportLine(20000, 1000000, 0, 25).vat, int64_t(500000));
        QCOMPARE(ExportLine(10000, 9990, 0, 25).vat, int64_t(2400));  // 0.2475 → 0.24
        QCOMPARE(AmountText(-12345, ','), std::string("-1,23"));
        QCOMPARE(AmountText(-99, '.'), std::string("0.00"));
        QCOMPARE(AmountText(INT64_MIN, '.'), std::string("-922337203685477.58"));
        QCOMPARE(ExprLiteral("S1"), std::string("\"S1\""));
        QCOMPARE(ExprLiteral("A\"B"), std::string("\"A\"+'\"'+\"B\""));
        QCOMPARE(ExprLiteral(""), std::string("\"\""));
    }

    // A stored amount no money count can hold (1e15 in the price, as another program may
    // store it, or a quantity that makes the total too large) counts as 0: the postings are
    // stamped and the invoice printed with the others' amounts, and the user is told which
    // field of which posting was counted as 0.
    void anUnreadableAmountCountsAsZero_data() { DataFolder::AddUnreadRows(); }
    void anUnreadableAmountCountsAsZero() {
        QFETCH(int, kind);
        const DataFolder::UnreadCase c = f_.PokeUnread(3, kind);  // Gebyr, 1 × 20 without VAT
        const QString text = Run(0, "F100", "s1");
        QCoreApplication::processEvents();
        QCOMPARE(f_.responder.Texts(), QStringList{f_.Unread(3, c.field, c.why)});
        QCOMPARE(Fnr(), QStringList({"F100", "F100", "F100", "F0", ""}));
        QCOMPARE(LinesWith(text, {"Opmåling", "0,33", "33,33", "10,99"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Kreditnota", "1,00", "10,00", "-10,00"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Gebyr"}).size(), 1);
        QCOMPARE(LinesWith(text, {"I alt"}), QStringList{"I alt 0,99"});
        QCOMPARE(LinesWith(text, {"Moms"}), QStringList{"Moms 0,24"});
    }

    // Two lines a money count holds whose sum it does not: the sums stop at the largest
    // amount instead of turning negative.
    void aSumBeyondAMoneyCountStopsAtTheLargest() {
        for (int i = 0; i < 2; ++i)
            f_.AddPosting({"S2", "V1", "Stor", "D", 1, 900000000000000.0, 0, 0});
        f_.responder.Clear();
        const QString text = Run(0, "F200", "s2");
        QCOMPARE(f_.responder.Texts().join("|"), QString());
        QCOMPARE(LinesWith(text, {"Stor", "900000000000000,00"}).size(), 2);
        QCOMPARE(LinesWith(text, {"Moms"}), QStringList{"Moms 1,75"});
        QCOMPARE(text.count("922337203685477,58"), 2);  // the net sum and the one with VAT
        QVERIFY2(!text.contains(QRegularExpression("-[0-9]+,[0-9]{2}")), qPrintable(text));
    }

    void assignStampsAndPrints() {
        const QString text = Run(0, "F100", "s1");
        QCOMPARE(f_.responder.Texts(), QStringList());
        // Each printed line whole, its words in order: a short amount such as "0,24" found
        // alone on its own line, never inside another number.
        const QList<QStringList> lines = {
            {"Landinspektørerne"},
            {"Faktura kopi"},
            {"nr.", "F100"},
            {"Ærø Anne"},
            {"Strandvejen 7"},
            {"Att. Bo"},
            {"2100 København Ø"},
            {"Vedr.:", "Skel ved å"},
            {"Tekst", "Antal", "Pris", "Rabat", "Beløb"},
            {"Opmåling", "0,33", "33,33", "10,99"},
            {"Kreditnota", "1,00", "10,00", "-10,00"},
            {"Gebyr", "1,00", "20,00", "20,00"},
            {"I alt", "20,99"},
            {"Moms", "0,24"},
        };
        for (const QStringList& words : lines)
            QVERIFY2(LinesWith(text, words).size() >= 1, qPrintable(words.join(" ")));
        QCOMPARE(LinesWith(text, {"Moms"}), QStringList{"Moms 0,24"});
        QCOMPARE(LinesWith(text, {"I alt"}), QStringList{"I alt 20,99"});
        QCOMPARE(LinesWith(text, {"21,24"}), QStringList{"21,24"});  // the total with VAT
        QVERIFY(!text.contains("Anden sag"));
        QVERIFY(!text.contains("Tidligere"));  // numbered before: not on this invoice
        QCOMPARE(Fnr(), QStringList({"F100", "F100", "F100", "F0", ""}));
        QCOMPARE(kjreptest::PdfPages(pdf_), 1);
        // Both tables lose the selection.
        QVERIFY(!f_.data->PostDbf.IsWhileOn());
        QVERIFY(!f_.data->SagsDbf.IsWhileOn());
    }

    void refusalsChangeNothing() {
        struct Case {
            int mode;
            const char *faknr, *sagnr, *message;
        } cases[] = {
            {0, "", "S1", "Der skal indtastes fakturanr."},
            {0, "F1", "", "Der skal indtastes sagsnr."},
            {0, "F0", "S1", "Fakturanr. findes allerede på posteringer, vælg et andet!"},
            {0, "F1", "S9", "Kan ikke finde den indtastede sag!"},
            {0, "F1", "S3", "Der er ingen posteringer på sagen!"},
            {0, "F1", "S4", "Kan ikke finde kundeoplysninger for sagen!"},
            {1, "F9", "", "Fakturanr. findes ikke på posteringerne!"},
            {2, "", "S3", "Der er ingen posteringer på sagen!"},
        };
        f_.Add(f_.data->SagsDbf, {{"sags_nr", "S3"}, {"sag_kunde", "K1"}});
        f_.Add(f_.data->SagsDbf, {{"sags_nr", "S4"}, {"sag_kunde", "K9"}});
        f_.AddPosting({"S4", "V1", "Ukendt kunde", "D", 1, 1, 0, 0});
        f_.responder.Clear();
        for (const Case& c : cases) {
            f_.responder.Clear();
            QCOMPARE(Run(c.mode, c.faknr, c.sagnr), QString());
            QCOMPARE(f_.responder.Texts(), QStringList{QString::fromUtf8(c.message)});
            QCOMPARE(Fnr(), QStringList({"", "", "", "F0", "", ""}));
        }
    }

    void assignWithNothingLeftToNumber() {
        Run(0, "F5", "S2");
        f_.responder.Clear();
        QCOMPARE(Run(0, "F6", "S2"), QString());
        QCOMPARE(f_.responder.Texts(),
                 QStringList{QString::fromUtf8("Fakturanr. findes ikke på posteringerne!")});
        QCOMPARE(Fnr(), QStringList({"", "", "", "F0", "F5"}));
    }

    void negativeQuantityKeepsItsSign() {
        f_.AddPosting({"S2", "V1", "Retur", "D", -2, 5, 0, 0});
        f_.responder.Clear();
        const QString text = Run(2, "", "S2");
        QVERIFY(text.contains("-2,00"));
        QVERIFY(text.contains("-10,00"));
        QVERIFY(text.contains("-1,25"));  // 8.75 gross of the other posting less 10.00
    }

    void caseListOnFirstDropDown() {
        f_.Add(f_.data->SagsDbf, {{"sags_nr", "s3"}, {"sag_kunde", "K1"}});
        f_.data->SagsDbf.First();
        TFakKopiForm form(*f_.data);
        QCOMPARE(form.edtSagnr->currentText(), QString("S1"));  // the current case
        QCOMPARE(form.edtSagnr->count(), 0);
        form.edtSagnr->setEditText("S2");
        form.edtSagnr->showPopup();
        form.edtSagnr->hidePopup();
        QStringList items;
        for (int i = 0; i < form.edtSagnr->count(); ++i) items << form.edtSagnr->itemText(i);
        QCOMPARE(items, QStringList({"S1", "S2", "S3"}));
        QCOMPARE(form.edtSagnr->currentText(), QString("S2"));
        QCOMPARE(f_.data->SagsDbf.s_RecNo(), 1);  // the case cursor given back
    }

    void quotesStayInsideTheLiterals() {
        f_.Add(f_.data->SagsDbf, {{"sags_nr", "S\"5'"}, {"sag_kunde", "K1"}});
        f_.AddPosting({"S\"5'", "V1", "Citat", "D", 1, 2, 0, 0});
        f_.responder.Clear();
        const QString text = Run(0, "F\"1'", "S\"5'");
        QCOMPARE(f_.responder.Texts(), QStringList());
        QVERIFY(text.contains("Citat"));
        QVERIFY(text.contains("F\"1'"));
        QCOMPARE(Fnr().last(), QString("F\"1'"));
        QCOMPARE(Fnr().count("F\"1'"), 1);
    }

    void copyAndAllPostings() {
        Run(0, "F100", "S1");
        QString text = Run(1, "F100", "");
        QVERIFY(text.contains("Opmåling") && text.contains("21,24"));
        text = Run(2, "", "S1");
        QVERIFY(text.contains("Alle"));
        QVERIFY(text.contains("Tidligere"));
        QVERIFY(text.contains("27,49"));  // 21.24 and the earlier invoice's 6.25
        QCOMPARE(f_.responder.Texts(), QStringList());
    }

    void secondStationHoldsAPosting() {
        QProcess station;
        QVERIFY(StartStation(station, f_.sf->start, 1, "ANDEN"));
        // The station lets go a moment after the run began waiting for its lock.
        QTimer::singleShot(300, &station, [&station] { station.write("go\n"); });
        const QString text = Run(0, "F100", "S1");
        QVERIFY(kjtest::WaitFinished(station, 20000));
        QCOMPARE(station.exitCode(), 0);
        QCOMPARE(Fnr(), QStringList({"ANDEN", "F100", "F100", "F0", ""}));
        QVERIFY(!text.contains("Opmåling"));
        QVERIFY(text.contains("Gebyr"));
    }

    void headingsOnEveryPageTotalsOnce() {
        for (int i = 0; i < 70; ++i) f_.AddPosting({"S1", "V1", "Linje", "D", 1, 1, 0, 0});
        f_.responder.Clear();
        const QString text = Run(2, "", "S1");
        const QStringList pages = text.split('\f', Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 2);
        for (const QString& page : pages) {
            QVERIFY(page.contains("Tekst"));
            QVERIFY(page.contains("Faktura kopi"));
        }
        QCOMPARE(pages[1].count("Side 2"), 1);
        QCOMPARE(text.count("I alt"), 1);
        QVERIFY(pages[1].contains("97,49"));  // 27.49 and 70 × 1.00
    }

    void previewThenPrintFromThePreview() {
        TFakKopiForm form(*f_.data);
        form.edtFaknr->setText("F7");
        form.edtSagnr->setEditText("S1");
        int pages = -1;
        QTimer::singleShot(0, &form, [&] {
            QDialog* w = form.FakKopiRap().PreviewWindow();
            QVERIFY(w);
            pages = w->findChild<TPrintPreview*>()->PageCount();
            w->grab().save(QString::fromStdString(f_.sf->start) + "preview.png");
            QTest::mouseClick(w->findChildren<QPushButton*>().at(0), Qt::LeftButton);
            w->accept();
        });
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        QCOMPARE(pages, 1);
        const QString text = kjreptest::PdfText(pdf_);
        QCOMPARE(text.count("21,24"), 1);  // fresh sums
        QVERIFY(text.contains("F7"));
        QCOMPARE(Fnr(), QStringList({"F7", "F7", "F7", "F0", ""}));
    }

    // Another station takes the numbers off while the preview is shown: its print finds
    // nothing, says so and prints nothing (never the whole table).
    void previewPrintAfterTheNumbersWent() {
        TFakKopiForm form(*f_.data);
        form.edtFaknr->setText("F8");
        form.edtSagnr->setEditText("S1");
        QTimer::singleShot(0, &form, [&] {
            TzDs::TTzDbf& other = f_.data->PostBufDbf;
            for (other.First(); !other.Eof(); other.Next()) {
                other.Edit();
                other.FieldByName("post_fnr").SetAsString("");
                other.Post();
            }
            QDialog* w = form.FakKopiRap().PreviewWindow();
            QTest::mouseClick(w->findChildren<QPushButton*>().at(0), Qt::LeftButton);
            w->accept();
        });
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        QCOMPARE(f_.responder.Texts(),
                 QStringList{QString::fromUtf8("De opdaterede poster kunne ikke findes igen")});
        QVERIFY(!QFile::exists(pdf_));
        QVERIFY(!f_.data->PostDbf.IsWhileOn());
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--station") {
        QApplication app(argc, argv);
        return StationMain(argv[2], std::atoi(argv[3]), argv[4]);
    }
    QApplication app(argc, argv);
    InvoiceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "invoice_test.moc"
