// The page engine of the preview window, run to PDF and read back: positions, word wrap,
// page breaks, the page head on every page with "Side N", caption substitutions, paper
// sizes and orientation (pdfinfo), and the mended faults: wrapped last rows, sheets too
// small for a line, heads and callbacks forgotten by ClearReport, printing that cannot start,
// and the window's print button serving only the report it shows.
#include <QFontDatabase>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "pdf_tools.h"
#include "reports/preview_form.h"
#include "reports/report_host.h"
#include "reports/text_widths.h"
#include "tests/data/mem_dataset.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

using namespace kjrep;
using namespace kjreptest;

namespace {

std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}

const TMargins kMargins{600, 600, 600, 1200};

}  // namespace

class EngineTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    kjqt::ScriptedResponder responder_;
    std::unique_ptr<TPreviewForm> form_;
    std::shared_ptr<memtest::MemTable> table_;
    std::unique_ptr<memtest::TMemDataSet> rows_;
    TSkrivListe head_, band_;
    QString pdf_;

    Db::TField* Name() { return &rows_->FieldByName("NAVN"); }

    void LoadRows(int n, int longRow = 0) {
        table_ = std::make_shared<memtest::MemTable>();
        table_->columns = {{"NAVN", Db::ftString, 80}};
        rows_ = std::make_unique<memtest::TMemDataSet>(table_);
        rows_->Open();
        for (int i = 1; i <= n; ++i) {
            rows_->Append();
            std::string text = "R" + std::to_string(i);
            if (i == longRow) text += " ord ord ord ord ord ord ord ord ord ord ord slut";
            rows_->FieldByName("NAVN").SetAsString(text);
            rows_->Post();
        }
        rows_->First();
        MakeLists();  // the band's name field belonged to the rows just replaced
    }

    void Prepare(int code, int32_t w, int32_t h, int orientation, const TMargins& m = kMargins) {
        form_->PrepareReport(false);
        form_->SetPaper(code, w, h, orientation, m);
    }

    // Head: title, firm, date and page; band: a caption and the row's name.
    void MakeLists() {
        head_.Clear();
        band_.Clear();
        ParseLayoutLine("Titel", "Testliste;0;0;1900;88;V;;;;;;", nullptr, &head_, nullptr);
        ParseLayoutLine("Titel1", " &BR ;0;100;1900;35;V;;;;;;", nullptr, &head_, nullptr);
        ParseLayoutLine("Side", "Side &SIDE;0;0;1900;35;H;;;;;;", nullptr, &head_, nullptr);
        ParseLayoutLine("Dato", "Dato &DATO kl. &TID;0;44;1900;35;H;;;;;;", nullptr, &head_,
                        nullptr);
        ParseLayoutLine("Navn", "Navn:;0;0;300;42;V;200;0;600;42;V", Name(), &band_, &band_);
    }

    void RunRows() {
        for (rows_->First(); !rows_->Eof(); rows_->Next()) form_->PrintFields(band_);
    }

    bool Print() {
        QFile::remove(pdf_);
        return form_->PrintReport();
    }

  private slots:
    void initTestCase() {
        Host().FirmName = [] { return Ansi("Landinspektørerne ApS"); };
        Host().FirmAddress = [] { return std::string("Hovedgaden 1"); };
        Host().Folder = [this] { return dir_.path().toStdString(); };
        pdf_ = dir_.filePath("out.pdf");
        qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
    }
    void init() {
        responder_.Clear();
        kjqt::DialogService::Instance().SetResponder(&responder_);
        form_ = std::make_unique<TPreviewForm>();
        form_->Clock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
        LoadRows(120, 0);
    }
    void cleanup() {
        if (QTest::currentTestFailed()) {
            dir_.setAutoRemove(false);  // kept for a look at the PDF
            qWarning("kept %s", qPrintable(dir_.path()));
        }
        rows_.reset();
        form_.reset();
        kjqt::DialogService::Instance().SetResponder(nullptr);
    }
    void cleanupTestCase() { Host() = ReportHost(); }

    // Every item is measured; the short way for plain texts must give the layout's width.
    void textWidthsAgreeWithTheLayout() {
        TPrintPreview preview;
        QString alphabet;
        for (char16_t c = 0x20; c < 0x100; ++c)
            if (c < 0x7F || c >= 0xA0) alphabet += QChar(c);
        alphabet += QString::fromUtf8("0123456789 ,.-0123456789 ,.-€");
        uint32_t seed = 7;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
        // "Arial" as this machine resolves it, and the fonts that stand in for it elsewhere.
        QStringList families{"Arial"};
        for (const char* f : {"Liberation Sans", "DejaVu Sans", "Nimbus Sans"})
            if (QFontDatabase::hasFamily(f)) families << f;
        for (const QString& family : families)
            for (bool kerning : {false, true})
                for (int height : {25, 30, 42, 80, 250}) {
                    QFont font(family);
                    font.setPixelSize(height);
                    font.setKerning(kerning);
                    TTextWidths widths(font, preview.MeasureDevice());
                    const QFontMetrics layout(font, preview.MeasureDevice());
                    for (int i = 0; i < 3000; ++i) {
                        QString text;
                        const int n = int(next() % 24);
                        for (int k = 0; k < n; ++k) text += alphabet[int(next() % alphabet.size())];
                        if (i % 3 == 0) text = QString::number(next() * 37) + "," + "11 777,00";
                        if (widths.Width(text) != layout.horizontalAdvance(text))
                            QFAIL(qPrintable(family + " " + QString::number(height) + " '" + text +
                                             "'"));
                    }
                }
    }

    void substitutions() {
        form_->PageNumber = 3;
        QCOMPARE(form_->SubstituteCaption("Side &SIDE"), std::string("Side 3"));
        QCOMPARE(form_->SubstituteCaption("Side &SIDEx"), std::string("Side &SIDEx"));
        QCOMPARE(form_->SubstituteCaption("&DATO &DATO"), std::string("05-03-24 &DATO"));
        QCOMPARE(form_->SubstituteCaption("&TID"), std::string("14-07-09"));
        QCOMPARE(form_->SubstituteCaption("&BR &BA "),
                 std::string(Ansi("Landinspektørerne ApS Hovedgaden 1 ")));
        QCOMPARE(form_->SubstituteCaption("&BR, &BA"), std::string(Ansi("&BR, Hovedgaden 1")));
        QCOMPARE(form_->SubstituteCaption("A&B"), std::string("A&B"));
    }

    void emptyListsLeaveTheLine() {
        Prepare(9, 21000, 29700, 0);
        form_->StartReport();
        const int32_t y = form_->CurrentY;
        TSkrivListe empty, zero;
        form_->PrintFields(empty);
        QCOMPARE(form_->CurrentY, y);
        ParseLayoutLine("A", "Tekst;0;0;0;42;V;;;;;", nullptr, &zero, nullptr);
        ParseLayoutLine("B", "Tekst;0;0;100;0;V;;;;;", nullptr, &zero, nullptr);
        ParseLayoutLine("C", ";10;0;100;42;V;;;;;", nullptr, &zero, nullptr);
        form_->PrintFields(zero);
        QCOMPARE(form_->CurrentY, y);
        form_->FinishReport();
        form_->ClearReport();
    }

    // A full run: heads on every page, rows in order within the printable area, positions.
    void pagesToPdf() {
        Prepare(9, 21000, 29700, 0);
        form_->HeadList = &head_;
        form_->StartReport();
        RunRows();
        form_->FinishReport();
        const int pages = form_->VisUdskrift->PageCount();
        QCOMPARE(form_->PageNumber, pages);
        QVERIFY(pages >= 2);
        QVERIFY(Print());
        form_->ClearReport();
        QCOMPARE(PdfPages(pdf_), pages);
        QCOMPARE(PdfPageSize(pdf_, 1), QSizeF(595, 842));
        auto words = PdfWords(pdf_);
        for (int p = 1; p <= pages; ++p) {
            QVERIFY2(!FindWord(words, "Testliste", p).text.isEmpty(),
                     qPrintable(QString::number(p)));
            PdfWord side = FindWord(words, "Side", p);
            QVERIFY(!side.text.isEmpty());
            QVERIFY(!FindWord(words, QString::number(p), p).text.isEmpty());
            QVERIFY(!FindWord(words, "05-03-24", p).text.isEmpty());
            QVERIFY(!FindWord(words, "14-07-09", p).text.isEmpty());
            QVERIFY(!FindWord(words, QString::fromUtf8("Landinspektørerne"), p).text.isEmpty());
            // Right-aligned to the box's right edge: 6 mm + 190 mm.
            QVERIFY(qAbs(Mm(FindWord(words, QString::number(p), p).xMax) - 196) < 0.8);
        }
        PdfWord title = FindWord(words, "Testliste", 1);
        QVERIFY(qAbs(Mm(title.xMin) - 6) < 0.8);
        QVERIFY(qAbs(Mm(title.yMin) - 6) < 1.5);
        int lastPage = 1;
        double lastY = 0;
        for (int i = 1; i <= 120; ++i) {
            PdfWord w = FindWord(words, "R" + QString::number(i));
            QVERIFY2(!w.text.isEmpty(), qPrintable(QString::number(i)));
            QVERIFY(qAbs(Mm(w.xMin) - 26) < 0.8);   // margin + 20 mm
            QVERIFY(Mm(w.yMax) <= 297 - 12 + 0.5);  // above the bottom margin
            QVERIFY(w.page > lastPage || (w.page == lastPage && w.yMin > lastY));
            if (w.page != lastPage) QVERIFY(Mm(w.yMin) > 6 + 8.8);  // below the head
            lastPage = w.page;
            lastY = w.yMin;
        }
    }

    // A wrapped item pushes later rows of its list down, and the next line starts below
    // its last wrapped line even when the item sits in the list's last row.
    void wrapping() {
        LoadRows(3, 2);
        Prepare(9, 21000, 29700, 0);
        TSkrivListe two;
        ParseLayoutLine("Navn", ";;;;;;0;0;300;42;V", Name(), &two, &two);
        ParseLayoutLine("Under", "Under;0;60;300;42;V;;;;;", nullptr, &two, nullptr);
        form_->StartReport();
        const int32_t y0 = form_->CurrentY;
        rows_->First();
        form_->PrintFields(two);
        QCOMPARE(form_->CurrentY - y0, 600 + 462);  // no wrap: the second row's bottom
        rows_->Next();
        const int32_t yBeforeWrap = form_->CurrentY;
        form_->PrintFields(band_);  // wrapped, in the list's only (last) row
        const int32_t yAfterWrap = form_->CurrentY;
        QVERIFY(yAfterWrap - yBeforeWrap >= 2 * 462);  // every wrapped line counts
        form_->PrintFields(two);  // "R2 ord ..." wraps in the first row and moves "Under"
        rows_->Next();
        form_->PrintFields(band_);
        form_->FinishReport();
        QVERIFY(Print());
        form_->ClearReport();
        auto words = PdfWords(pdf_);
        QStringList text = PdfText(pdf_).split('\n', Qt::SkipEmptyParts);
        int slutCount = 0;
        double slutY = 0;
        for (const PdfWord& w : words)
            if (w.text == "slut") {
                ++slutCount;
                slutY = qMax(slutY, w.yMax);
            }
        QCOMPARE(slutCount, 2);
        // The band's wrap: lines of one item 4.62 mm apart, the next line below them all.
        std::vector<double> ords;
        for (const PdfWord& w : words)
            if (w.text == "ord" && Mm(w.xMin) > 9.5 && Mm(w.xMin) < 17) ords.push_back(Mm(w.yMin));
        QVERIFY(ords.size() >= 2);
        QVERIFY(Mm(FindWord(words, "R3").yMin) > Mm(slutY) - 0.1);
        // In the two-row list "R2 ..." wraps in the first row (at the left margin) and the
        // second row's "Under" moves down by the extra lines: more than its own 6 mm.
        std::vector<PdfWord> unders, r2s;
        for (const PdfWord& w : words) {
            if (w.text == "Under") unders.push_back(w);
            if (w.text == "R2" && Mm(w.xMin) < 7) r2s.push_back(w);
        }
        QCOMPARE(unders.size(), size_t(2));
        QCOMPARE(r2s.size(), size_t(1));
        QVERIFY(qAbs(Mm(unders[0].yMin - FindWord(words, "R1").yMin) - 6) < 0.3);
        QVERIFY(Mm(unders[1].yMin - r2s[0].yMin) > 6 + 4.62 - 0.3);
    }

    // A line that does not fit starts a new page and prints at its top.
    void pageBreakThroughCallback() {
        Prepare(9, 21000, 29700, 0);
        int heads = 0;
        form_->OnNewReportPage = [this, &heads] {
            ++heads;
            form_->NewReportPage(false);
            form_->PrintFields(head_);
            form_->PrintRule(0, form_->UsableWidth, 300, std::string());
        };
        form_->StartReport();
        QCOMPARE(heads, 1);  // the first page's head prints once
        const int32_t topOfBody = form_->CurrentY;
        form_->CurrentY = form_->PrintBottom - 100;
        form_->PrintFields(band_);
        QCOMPARE(heads, 2);
        QCOMPARE(form_->PageNumber, 2);
        QCOMPARE(form_->CurrentY, topOfBody + 462);
        form_->FinishReport();
        QVERIFY(Print());
        form_->ClearReport();
        QVERIFY(!form_->OnNewReportPage);
        QVERIFY(!form_->HeadList);
        auto words = PdfWords(pdf_);
        QCOMPARE(PdfPages(pdf_), 2);
        QCOMPARE(FindWord(words, "R1").page, 2);
        int titles = 0;
        for (const PdfWord& w : words) titles += w.text == "Testliste" && w.page == 1;
        QCOMPARE(titles, 1);

        // The next report has no callback: nothing of the old one is called.
        Prepare(9, 21000, 29700, 0);
        form_->StartReport();
        form_->CurrentY = form_->PrintBottom - 100;
        form_->PrintFields(band_);
        form_->FinishReport();
        QCOMPARE(heads, 2);
        QCOMPARE(form_->VisUdskrift->PageCount(), 2);
        form_->ClearReport();
    }

    // A sheet too small for one line (or a head taller than the sheet) still ends: no page
    // break happens at the top of the printable area or while the head prints.
    void sheetTooSmallEnds() {
        Prepare(9, 21000, 29700, 0, TMargins{600, 14000, 600, 15000});
        TSkrivListe tall;
        ParseLayoutLine("Titel", "Kaempe;0;0;1900;2000;V;;;;;;", nullptr, &tall, nullptr);
        form_->HeadList = &tall;
        form_->StartReport();
        LoadRows(20);
        RunRows();
        form_->FinishReport();
        // Page 1 holds the head alone; then each row breaks once and prints below its head.
        QCOMPARE(form_->VisUdskrift->PageCount(), 21);
        form_->ClearReport();
        // A zero-sized sheet prints on A4 instead of dividing by its size.
        Prepare(49, 0, 0, 0);
        QCOMPARE(form_->VisUdskrift->PaperWidth(), 21000);
        form_->StartReport();
        RunRows();
        form_->FinishReport();
        QVERIFY(Print());
        form_->ClearReport();
        QCOMPARE(PdfPageSize(pdf_, 1), QSizeF(595, 842));
    }

    void paperSizesAndOrientation_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSizeF>("points");
        QTest::newRow("A4 sideways") << 9 << 21000 << 29700 << 1 << QSizeF(842, 595);
        QTest::newRow("A3") << 8 << 29700 << 42000 << 0 << QSizeF(842, 1191);
        QTest::newRow("A5") << 11 << 14800 << 21000 << 0 << QSizeF(420, 595);
        QTest::newRow("user 100x150") << 256 << 10000 << 15000 << 0 << QSizeF(283.465, 425.197);
        QTest::newRow("user sideways") << 256 << 10000 << 15000 << 1 << QSizeF(425.197, 283.465);
    }
    void paperSizesAndOrientation() {
        QFETCH(int, code);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, orientation);
        QFETCH(QSizeF, points);
        Prepare(code, width, height, orientation);
        form_->HeadList = &head_;
        form_->StartReport();
        LoadRows(3);
        RunRows();
        form_->FinishReport();
        QVERIFY(Print());
        form_->ClearReport();
        QSizeF size = PdfPageSize(pdf_, 1);
        QVERIFY2(
            qAbs(size.width() - points.width()) < 1 && qAbs(size.height() - points.height()) < 1,
            qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
        auto words = PdfWords(pdf_);
        PdfWord title = FindWord(words, "Testliste");
        QVERIFY(qAbs(Mm(title.xMin) - 6) < 0.8);
        QVERIFY(qAbs(Mm(FindWord(words, "R3").xMin) - 26) < 0.8);
    }

    void printingThatCannotStartSaysSo() {
        Prepare(9, 21000, 29700, 0);
        form_->StartReport();
        RunRows();
        form_->FinishReport();
        const QString bad = dir_.filePath("no/such/folder/out.pdf");
        qputenv("KJ_PRINT_PDF", bad.toLocal8Bit());
        QVERIFY(!form_->PrintReport());
        QCOMPARE(responder_.Texts(), QStringList{"Udskriften kan ikke startes: " + bad});
        // No printer and no KJ_PRINT_PDF: the user is asked for a PDF file.
        if (!QPrinterInfo::availablePrinters().isEmpty()) {
            qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
            form_->ClearReport();
            QSKIP("this machine has a printer");
        }
        qunsetenv("KJ_PRINT_PDF");
        responder_.Clear();
        responder_.AnswerCancel();
        QVERIFY(!form_->PrintReport());
        QCOMPARE(responder_.Texts(), QStringList{"Gem udskriften som PDF"});
        responder_.Clear();
        const QString chosen = dir_.filePath("valgt.pdf");
        responder_.AnswerText(chosen);
        QVERIFY(form_->PrintReport());
        QCOMPARE(PdfPages(chosen), form_->VisUdskrift->PageCount());
        qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
        form_->ClearReport();
    }

    // Shows the report as the preview does (modally); body runs once it shows, then the
    // window closes. Bounded: the window closes after 20 s whatever happens.
    void Shown(const std::function<void()>& body) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, form_.get(), [this] { form_->reject(); });
        guard.start(20000);
        QTimer::singleShot(0, form_.get(), [this, body] {
            body();
            form_->accept();
        });
        form_->ShowReport();
    }
    void RecordRows(int rows) {
        Prepare(9, 21000, 29700, 0);
        form_->HeadList = &head_;
        form_->StartReport();
        LoadRows(rows);
        RunRows();
        form_->FinishReport();
    }

    // The page range of the window's print button.
    void printButtonRange() {
        RecordRows(200);
        QVERIFY(form_->VisUdskrift->PageCount() >= 3);
        Shown([this] {
            form_->edtFraSide->setText("2");
            form_->edtTilSide->setText("x");
            QFile::remove(pdf_);
            form_->btnUdskriv->click();
        });
        QCOMPARE(PdfPages(pdf_), form_->PageNumber - 1);
        QVERIFY(PdfText(pdf_).startsWith(QString()));
        QCOMPARE(FindWord(PdfWords(pdf_), "R1").text, QString());
        form_->ClearReport();
    }

    // The window prints the pages it shows, and nothing while a report is built or after it
    // was cleared: not the pages being recorded, nor the last report's page range.
    void printsOnlyTheShownReport() {
        RecordRows(200);
        const int first = form_->VisUdskrift->PageCount();
        Shown([] {});
        form_->ClearReport();
        // The next report, one page: while it is built and before it shows, no print.
        Prepare(9, 21000, 29700, 0);
        form_->HeadList = &head_;
        form_->StartReport();
        LoadRows(5);
        RunRows();
        QFile::remove(pdf_);
        form_->btnUdskrivClick();
        form_->FinishReport();
        form_->btnUdskrivClick();
        QVERIFY(!QFile::exists(pdf_));
        QVERIFY(!form_->btnUdskriv->isEnabled());
        Shown([this] {
            QCOMPARE(form_->edtTilSide->text(), QString("1"));
            form_->btnUdskriv->click();
        });
        QCOMPARE(PdfPages(pdf_), 1);
        QVERIFY(PdfText(pdf_).contains("R5"));
        form_->ClearReport();
        QFile::remove(pdf_);
        form_->btnUdskrivClick();
        QVERIFY(!QFile::exists(pdf_));
        // A report that starts no page shows none of the last one's (there were first).
        QVERIFY(first >= 3);
        form_->PrepareReport(false);
        Shown([this] {
            QCOMPARE(form_->edtFraSide->text(), QString("0"));
            QCOMPARE(form_->edtTilSide->text(), QString("0"));
            QVERIFY(!form_->SideScroll->isEnabled());
            form_->btnUdskriv->click();
        });
        QVERIFY(!QFile::exists(pdf_));
        form_->ClearReport();
    }
};

QTEST_MAIN(EngineTest)
#include "engine_test.moc"
