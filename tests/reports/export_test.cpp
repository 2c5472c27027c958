// The export of invoiced postings over a real data folder: the three file formats byte for
// byte (Windows-1252, CR LF, debit and credit mirrored for "K", VAT and contra lines left
// out), the postings marked afterwards and not exported again, files that cannot be
// written marking nothing, the window's refusals and questions, and a second station
// holding a posting while it is marked.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "invoice_fixture.h"
#include "reports/over_fak.h"
#include "tests/support/small_disk.h"

using namespace kjinvtest;
using namespace kjrep;

namespace {

std::string Sp(size_t n) {
    return std::string(n, ' ');
}
std::string R15(const std::string& amount) {
    return Sp(15 - amount.size()) + amount;
}

const std::string kDate = "01-12-2026", kDateB = "02-12-2026", kDateC = "03-12-2026";
// "Hæk & "skel" <1>" in Windows-1252, and the field padded to 40.
const std::string kTextA = "H\xE6k & \"skel\" <1>";
const std::string kFixA = kDate + kTextA + Sp(40 - kTextA.size());
const std::string kFixB = kDateB + "Kredit" + Sp(34);
const std::string kFixC = kDateC + "Uden moms" + Sp(31);
const std::string kCrLf = "\r\n";

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

    DataFolder f_;
    std::string file_;

    // Runs the export with these settings; the file's bytes afterwards.
    std::string Export(int type, const char* contra = "9000", const char* vat = "7000") {
        TOverFak form(*f_.data);
        form.EdtFilnavn->setText(QString::fromStdString(file_));
        form.edtModKonto->setText(contra);
        form.edtMomsKonto->setText(vat);
        form.rbType[type]->click();
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        std::string bytes = file_ == "/dev/full" ? std::string() : kjapptest::Read(file_);
        return bytes;
    }
    std::vector<bool> Over() {
        std::vector<bool> out;
        for (const auto& r : f_.Rows()) out.push_back(r.over);
        return out;
    }
    const std::vector<bool> kNone = {false, false, false, false, false, true, false};
    const std::vector<bool> kMarked = {true, true, true, false, false, true, false};

  private slots:
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
    }
    void init() {
        f_.Start(true);
        f_.AddRegisters();
        f_.AddPosting({"S1", "V1", "Hæk & \"skel\" <1>", "D", 2, 100, 0, 25, "F1"});
        f_.AddPosting({"S1", "V1", "Kredit", "K", 0.33, 33.33, 0, 25, "F1", false, 2});
        f_.AddPosting({"S1", "V1", "Uden moms", "D", 1, 5, 0, 0, "F1", false, 3});
        f_.AddPosting({"S1", "V2", "Ingen konto", "D", 1, 5, 0, 25, "F1"});
        f_.AddPosting({"S1", "V1", "Ikke faktureret", "D", 1, 5, 0, 25});
        f_.AddPosting({"S2", "V1", "Overført", "D", 1, 5, 0, 25, "F2", true});
        f_.AddPosting({"S2", "V9", "Ukendt vare", "D", 1, 5, 0, 25, "F2"});
        f_.responder.Clear();
        file_ = f_.sf->start + "Export.txt";
    }
    void cleanup() { f_.Stop(); }

    void fixedWidthLines() {
        const std::string expected =
            kFixA + "1010" + Sp(12) + R15("200.00") + Sp(15) + kCrLf +  //
            kFixA + "9000" + Sp(12) + Sp(15) + R15("200.00") + kCrLf +  //
            kFixA + "7000" + Sp(12) + R15("50.00") + Sp(15) + kCrLf +   //
            kFixA + "9000" + Sp(12) + Sp(15) + R15("50.00") + kCrLf +   //
            kFixB + "1010" + Sp(12) + Sp(15) + R15("10.99") + kCrLf +   // credit: mirrored
            kFixB + "9000" + Sp(12) + R15("10.99") + Sp(15) + kCrLf +   //
            kFixB + "7000" + Sp(12) + Sp(15) + R15("2.74") + kCrLf +    //
            kFixB + "9000" + Sp(12) + R15("2.74") + Sp(15) + kCrLf +    //
            kFixC + "1010" + Sp(12) + R15("5.00") + Sp(15) + kCrLf +    // no VAT: two lines
            kFixC + "9000" + Sp(12) + Sp(15) + R15("5.00") + kCrLf;
        QCOMPARE(Export(etFixed), expected);
        QCOMPARE(f_.responder.Texts(), QStringList{"Posteringer er overført !!!"});
        QCOMPARE(Over(), kMarked);
        // Again: the file exists (asked), and every posting is marked already.
        f_.responder.Clear();
        f_.responder.Answer(kIdYes);
        QCOMPARE(Export(etFixed), std::string());
        QCOMPARE(f_.responder.Texts().first(),
                 QString::fromStdString("Overførselsfilen \"" + file_ +
                                        "\" findes i forvejen\r\nSkal den overskrives ?\r\n"
                                        "Hvis overførte posteringer ikke er indlæst i "
                                        "regnskabet, vælg [Nej]"));
    }

    void commaSeparatedLines() {
        const std::string a = kDate + ",\"H\xE6k & \"\"skel\"\" <1>\"", b = kDateB + ",\"Kredit\"";
        // Without a contra account line 2 goes; line 4 stays, its account blank.
        const std::string expected = a + ",\"1010\",200.00," + kCrLf +  //
                                     a + ",\"7000\",50.00," + kCrLf +   //
                                     a + ",\"\",,50.00" + kCrLf +       //
                                     b + ",\"1010\",,10.99" + kCrLf +   //
                                     b + ",\"7000\",,2.74" + kCrLf +    //
                                     b + ",\"\",2.74," + kCrLf +        //
                                     kDateC + ",\"Uden moms\",\"1010\",5.00," + kCrLf;
        QCOMPARE(Export(etComma, "", "7000"), expected);
        QCOMPARE(Over(), kMarked);
    }

    void htmlLines() {
        const std::string a = "<TD>" + kDate + "<TD>H\xE6k &amp; \"skel\" &lt;1&gt;";
        const std::string b = "<TD>" + kDateB + "<TD>Kredit";
        const std::string c = "<TD>" + kDateC + "<TD>Uden moms";
        const std::string expected =
            "<HTML>" + kCrLf + "<TABLE BORDER=1 WIDTH=100%>" + kCrLf + a +
            "<TD>1010<TD>200.00<TD>" + kCrLf +  // first: no <TR>
            "<TR>" + a + "<TD>9000<TD><TD>200.00" + kCrLf + "<TR>" + b + "<TD>1010<TD><TD>10.99" +
            kCrLf + "<TR>" + b + "<TD>9000<TD>10.99<TD>" + kCrLf + "<TR>" + c +
            "<TD>1010<TD>5.00<TD>" + kCrLf + "<TR>" + c + "<TD>9000<TD><TD>5.00" + kCrLf +
            "</TABLE>" + kCrLf + "</HTML>" + kCrLf;
        QCOMPARE(Export(etHtml, "9000", ""), expected);  // no VAT account: no lines 3 and 4
        QCOMPARE(Over(), kMarked);
    }

    void failedFilesMarkNothing() {
        const QString notMarked = QString::fromUtf8(
            "Overførselsfilen blev ikke skrevet færdig.\r\nIngen posteringer er markeret som "
            "overført.");
        file_ = f_.sf->start + "mangler/Export.txt";
        QCOMPARE(Export(etFixed), std::string());
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QString::fromStdString("Fil \"" + file_ +
                                                     "\" kunne ikke \xC3\xA6ndre status"),
                              notMarked}));
        QCOMPARE(Over(), kNone);
        // A device that takes no byte: the first line fails.
        f_.responder.Clear();
        f_.responder.Answer(kIdYes);  // it exists
        file_ = "/dev/full";
        Export(etComma);
        QCOMPARE(f_.responder.Texts().mid(1),
                 QStringList({"Kan ikke skrive til fil \"/dev/full\"", notMarked}));
        QCOMPARE(Over(), kNone);
    }

    // A stored amount no money count can hold (1e15 in the price, as another program may
    // store it, or a quantity that makes the total too large) counts as 0: the export is
    // written whole over the old file the user agreed to replace, with that posting's
    // amounts 0.00, every exported posting is marked, and the user is told which field of
    // which posting was counted as 0.
    void anUnreadableAmountCountsAsZero_data() { DataFolder::AddUnreadRows(); }
    void anUnreadableAmountCountsAsZero() {
        QFETCH(int, kind);
        const DataFolder::UnreadCase c = f_.PokeUnread(3, kind);  // Uden moms, 1 × 5 without VAT
        kjapptest::Write(file_, "gammel");
        f_.responder.Answer(kIdYes);
        const std::string bytes = Export(etFixed);
        QCoreApplication::processEvents();
        const std::string zero = kFixC + "1010" + Sp(12) + R15("0.00") + Sp(15) + kCrLf + kFixC +
                                 "9000" + Sp(12) + Sp(15) + R15("0.00") + kCrLf;
        QVERIFY2(bytes.size() > zero.size() && bytes.substr(bytes.size() - zero.size()) == zero,
                 bytes.c_str());
        QCOMPARE(std::count(bytes.begin(), bytes.end(), '\n'), 10);
        QStringList told = f_.responder.Texts().mid(1);
        told.sort();
        QCOMPARE(told, QStringList({f_.Unread(3, c.field, c.why), "Posteringer er overført !!!"}));
        QCOMPARE(Over(), kMarked);
    }

    // A disk too full for the export file: the old file stays as it was, nothing is
    // marked, and the user is told both.
    void aFullDiskLeavesTheOldFile() {
        kjtest::SmallDisk disk(512);
        if (!disk.Mounted()) QSKIP(disk.Why().c_str());
        file_ = disk.file("Export.txt");
        kjapptest::Write(file_, "gammel");
        disk.FillLeaving(0);
        f_.responder.Answer(kIdYes);
        Export(etFixed);
        QCOMPARE(kjapptest::Read(file_), std::string("gammel"));
        QCOMPARE(f_.responder.Texts().mid(1),
                 QStringList({QString::fromStdString("Kan ikke skrive til fil \"" + file_ + "\""),
                              QString::fromUtf8("Overførselsfilen blev ikke skrevet færdig.\r\n"
                                                "Ingen posteringer er markeret som overført.\r\n"
                                                "Den hidtidige overførselsfil er uændret.")}));
        QCOMPARE(Over(), kNone);
    }

    // An error of the tables during the export (here the items table is not open): the
    // old file stays as it was, nothing is marked, and the user is told both.
    void anErrorDuringTheExportLeavesTheOldFile() {
        kjapptest::Write(file_, "gammel");
        f_.data->VareDbf.Close();
        f_.responder.Answer(kIdYes);
        Export(etFixed);
        QCOMPARE(kjapptest::Read(file_), std::string("gammel"));
        QCOMPARE(f_.responder.Texts().mid(1),
                 QStringList{QString::fromUtf8("Overførselsfilen blev ikke skrevet færdig.\r\n"
                                               "Ingen posteringer er markeret som overført.\r\n"
                                               "Den hidtidige overførselsfil er uændret.")});
        QCOMPARE(Over(), kNone);
    }

    void refusalsAndTheFileDialog() {
        TOverFak form(*f_.data);
        QCOMPARE(form.EdtFilnavn->text(), QString::fromStdString(f_.sf->data + "Export.txt"));
        QVERIFY(form.rbType[0]->isChecked());
        form.EdtFilnavn->setText("  ");
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        f_.responder.AnswerText(QString::fromStdString(f_.sf->start + "regnskab.XLS"));
        QTest::mouseClick(form.EdtFilnavnBtn, Qt::LeftButton);
        QCOMPARE(form.FileType(), 3);
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        f_.responder.AnswerText(QString::fromStdString(f_.sf->start + "regnskab"));
        QTest::mouseClick(form.EdtFilnavnBtn, Qt::LeftButton);
        QCOMPARE(form.EdtFilnavn->text(), QString::fromStdString(f_.sf->start + "regnskab.xls"));
        f_.responder.AnswerText(QString::fromStdString(f_.sf->start + "r.htm"));
        QTest::mouseClick(form.EdtFilnavnBtn, Qt::LeftButton);
        QCOMPARE(form.FileType(), int(etHtml));
        QVERIFY(form.rbType[2]->isChecked());
        // An existing file kept on No.
        kjapptest::Write(file_, "gammel");
        form.EdtFilnavn->setText(QString::fromStdString(file_));
        f_.responder.Answer(kjqt::mb::kIdNo);
        QTest::mouseClick(form.btnVis, Qt::LeftButton);
        const QStringList texts = f_.responder.Texts();
        QCOMPARE(texts.size(), 6);
        QCOMPARE(texts[0], QString::fromUtf8("Vælg eller indtast et filnavn"));
        QCOMPARE(texts[1], QString::fromUtf8("Vælg fil/Indtast filnavn"));
        QCOMPARE(texts[2], QString::fromUtf8("Vælg filtype for de overførte posteringer"));
        QVERIFY(texts[5].startsWith(QString::fromUtf8("Overførselsfilen")));
        QCOMPARE(kjapptest::Read(file_), std::string("gammel"));
        QCOMPARE(Over(), kNone);
        QCOMPARE(FileTypeOfExtension(".txt", -1), int(etComma));
        QCOMPARE(FileTypeOfExtension(".txt", etHtml), int(etHtml));
        QCOMPARE(FileTypeOfExtension(".emf", 0), 4);
        QCOMPARE(FileTypeOfExtension(".rtf", 0), 5);
        QCOMPARE(FileTypeOfExtension(".doc", 2), int(etFixed));
    }

    // The file dialog starts with the filter of the chosen file type.
    void fileDialogStartsWithTheTypesFilter() {
        TOverFak form(*f_.data);
        auto firstFilter = [&] {
            f_.responder.Clear();
            f_.responder.AnswerCancel();
            QTest::mouseClick(form.EdtFilnavnBtn, Qt::LeftButton);
            const QStringList filters = f_.responder.Asked().at(0).filter.split(";;");
            return filters.size() == 5 ? filters[0] : QString("%1 filters").arg(filters.size());
        };
        const QString txt = "ascii og kommasepareret fil (*.txt)";
        QCOMPARE(firstFilter(), txt);
        form.rbType[1]->click();
        QCOMPARE(firstFilter(), txt);
        form.rbType[2]->click();
        QCOMPARE(firstFilter(), QString("HTML dokument (*.htm *.html *.xml)"));
        const QStringList fromFiles[][2] = {{{"r.xls"}, {"excell regneark (*.xls)"}},
                                            {{"r.emf"}, {"windows metafile (*.wmf *.emf)"}},
                                            {{"r.rtf"}, {"rich tekst format (*.rtf)"}}};
        for (const auto& [file, filter] : fromFiles) {
            f_.responder.AnswerText(QString::fromStdString(f_.sf->start) + file[0]);
            QTest::mouseClick(form.EdtFilnavnBtn, Qt::LeftButton);
            QCOMPARE(firstFilter(), filter[0]);
        }
    }

    void markingWaitsForAStation() {
        QProcess station;
        QVERIFY(StartStation(station, f_.sf->start, 1, "F1"));
        // The station marks the posting itself, then lets go while the export waits.
        QTimer::singleShot(300, &station, [&station] { station.write("go\n"); });
        const std::string bytes = Export(etFixed);
        QVERIFY(kjtest::WaitFinished(station, 20000));
        QCOMPARE(station.exitCode(), 0);
        QCOMPARE(f_.responder.Texts(), QStringList{"Posteringer er overført !!!"});
        QCOMPARE(Over(), kMarked);
        QVERIFY(bytes.find("H\xE6k") != std::string::npos);
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--station") {
        QApplication app(argc, argv);
        return StationMain(argv[2], std::atoi(argv[3]), argv[4]);
    }
    QApplication app(argc, argv);
    ExportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "export_test.moc"
