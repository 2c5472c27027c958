// Report-layout files and layout lines: the parser's edge cases, numbers that would
// overflow, page set-up texts, the paper-code table, the built-in files written when missing
// and the variant frame reading and writing a file back with its comments and order kept.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "data/db_dataset.h"
#include "reports/paper_sizes.h"
#include "reports/report_host.h"
#include "reports/report_resources.h"
#include "reports/report_variants.h"
#include "reports/skriv_felt.h"
#include "tests/data/mem_dataset.h"
#include "ui/dialog_service.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

using namespace kjrep;

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}

void CheckBox(const TSkrivFelt* item, int l, int t, int w, int h, int align) {
    QVERIFY(item);
    QCOMPARE(item->Left, l);
    QCOMPARE(item->Top, t);
    QCOMPARE(item->Width, w);
    QCOMPARE(item->Height, h);
    QCOMPARE(item->Alignment, align);
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    kjqt::ScriptedResponder responder_;
    TPageSetup setup_;
    std::shared_ptr<memtest::MemTable> table_;
    std::unique_ptr<memtest::TMemDataSet> cases_;

  private slots:
    void initTestCase() {
        Host().Folder = [this] { return dir_.path().toStdString(); };
        Host().PageSetup = &setup_;
        table_ = std::make_shared<memtest::MemTable>();
        table_->columns = {{"SAGS_NR", Db::ftString, 10}};
        cases_ = std::make_unique<memtest::TMemDataSet>(table_);
        cases_->Open();
    }
    void cleanupTestCase() {
        cases_.reset();
        Host() = ReportHost();
    }
    void init() {
        responder_.Clear();
        kjqt::DialogService::Instance().SetResponder(&responder_);
        setup_ = TPageSetup();
    }
    void cleanup() { kjqt::DialogService::Instance().SetResponder(nullptr); }

    // The lines of the layout-line description, each through the routine reports call.
    void parserEdgeCases() {
        Db::TField* nr = &cases_->FieldByName("SAGS_NR");
        TSkrivListe one, heads, band;
        // The INI reader has already taken the blank after "=" away.
        ParseLayoutLine("Titel1", "&BR ;0;0;1900;35;V;;;;;;", nr, &heads, &band);
        QCOMPARE(heads.Count(), 1);
        QCOMPARE(band.Count(), 0);
        QCOMPARE(heads[0].item->Text, std::string("&BR"));
        CheckBox(heads.Find("Titel1"), 0, 0, 19000, 350, -1);

        ParseLayoutLine("SagsNr", "Sagsnr.:  ;  10;  0;250; 42;V; 280;  0; 400;42;V", nr, &one,
                        &one);
        QCOMPARE(one.Count(), 2);
        QCOMPARE(one[0].name, std::string("SagsNr"));
        QCOMPARE(one[0].item->Text, std::string("Sagsnr.:"));
        QVERIFY(!one[0].item->Field);
        CheckBox(one.Find("SagsNr"), 100, 0, 2500, 420, -1);
        QCOMPARE(one[1].name, std::string("DataSagsNr"));
        QVERIFY(one[1].item->Text.empty());
        QCOMPARE(one[1].item->Field, nr);
        CheckBox(one.Find("datasagsnr"), 2800, 0, 4000, 420, -1);

        // A caption in the box of its own value, both in one list, would print over it.
        TSkrivListe row;
        ParseLayoutLine("SagsNr", "Nr        ;  00;0; 140;25;V;  00;0; 140;25;V;", nr, &row, &row);
        QCOMPARE(row.Count(), 1);
        QCOMPARE(row[0].name, std::string("DataSagsNr"));
        ParseLayoutLine("PostIAltTotal", "Total;1150;0;240;25;H;1150;0;240;25;H;", nr, &heads,
                        &row);
        QVERIFY(heads.Find("PostIAltTotal"));  // a column heading over its value stays
        QVERIFY(row.Find("PostIAltTotal"));

        TSkrivListe sub;
        ParseLayoutLine("PostSubTotal", "     ;1110; 0; 240;25;H;;;;;", nr, &sub, &sub);
        QCOMPARE(sub.Count(), 1);
        QVERIFY(sub[0].item->Text.empty());
        CheckBox(sub.Find("PostSubTotal"), 11100, 0, 2400, 250, 1);

        TSkrivListe name;
        ParseLayoutLine("BrugerNavn", ";;;;;;500;0;1400;42;V", nr, &name, &name);
        QCOMPARE(name.Count(), 1);
        QCOMPARE(name[0].name, std::string("DataBrugerNavn"));
        CheckBox(name.Find("DataBrugerNavn"), 5000, 0, 14000, 420, -1);

        TSkrivListe def;  // a built-in default line is read in the file's units
        ParseLayoutLine("Titel", "Liste;0;0;210;20;C;;;;;;", nullptr, &def, nullptr);
        CheckBox(def.Find("Titel"), 0, 0, 2100, 200, 0);

        TSkrivListe off;  // eleven or ten empty fields print nothing for the key
        ParseLayoutLine("Dato", ";;;;;;;;;;;", nr, &off, &off);
        ParseLayoutLine("Side", ";;;;;;;;;;", nr, &off, &off);
        QCOMPARE(off.Count(), 0);

        TSkrivListe caps;  // no field: the caption only; headings and band apart
        ParseLayoutLine("PostDato", "Dato;0;0;14;6;V;0;0;14;6;V", nullptr, &caps, &band);
        QCOMPARE(caps.Count(), 1);
        QCOMPARE(band.Count(), 0);
        ParseLayoutLine("PostDato", "Dato;0;0;14;6;V;1;2;3;4;c", nr, &caps, &band);
        QCOMPARE(band.Count(), 1);
        QCOMPARE(band[0].name, std::string("PostDato"));
        CheckBox(band.Find("PostDato"), 10, 20, 30, 40, 0);

        TSkrivListe odd;  // a data half without its height, alignment letters
        ParseLayoutLine("VareGruppeBem", Ansi("Bemærkning;40;0;19;5;x;60;0;99;V;"), nr, &odd, &odd);
        CheckBox(odd.Find("VareGruppeBem"), 400, 0, 190, 50, -1);
        CheckBox(odd.Find("DataVareGruppeBem"), 600, 0, 990, 0, -1);
    }

    void tokensAndNumbers() {
        std::string line = "  Abc  ;x";
        QCOMPARE(NextLayoutToken(line), std::string("  Abc"));
        QCOMPARE(line, std::string("x"));
        QCOMPARE(NextLayoutToken(line), std::string("x"));
        QCOMPARE(line, std::string());
        QCOMPARE(LayoutNumber(" 42 ", 7), int64_t(42));
        QCOMPARE(LayoutNumber("-5", 7), int64_t(-5));
        QCOMPARE(LayoutNumber("4 2", 7), int64_t(7));
        QCOMPARE(LayoutNumber("12abc", 7), int64_t(7));
        QCOMPARE(LayoutNumber("", 7), int64_t(7));
        QCOMPARE(LayoutNumber("-", 7), int64_t(7));
        // Numbers that overflow 32 or 64 bits are clamped, never wrapped.
        QCOMPARE(LayoutNumber("99999999999999999999999999", 0), kMaxLayoutNumber);
        QCOMPARE(LayoutNumber("-4294967296", 0), -kMaxLayoutNumber);
        TSkrivListe list;
        ParseLayoutLine("Big", "X;4294967296;-99999999999999999999;2147483647;1;V;;;;;", nullptr,
                        &list, nullptr);
        CheckBox(list.Find("Big"), 1'000'000'000, -1'000'000'000, 1'000'000'000, 10, -1);
    }

    void pageSetupTexts() {
        TMargins m = ParseMargins(" 60; 60; 60;120");
        QCOMPARE(m.Left, 600);
        QCOMPARE(m.Bottom, 1200);
        QCOMPARE(MarginsToText(m), std::string("60;60;60;120"));
        m = ParseMargins("5;x;;");
        QCOMPARE(m.Left, 50);
        QCOMPARE(m.Top, 100);  // malformed: 10
        QCOMPARE(m.Right, 100);
        QCOMPARE(m.Bottom, 100);
        int32_t w = 0, h = 0;
        ParsePaperSize("1000;1500;", w, h);
        QCOMPARE(w, 10000);
        QCOMPARE(h, 15000);
        ParsePaperSize("", w, h);
        QCOMPARE(w, 2100);
        QCOMPARE(h, 2970);
        QCOMPARE(PaperSizeToText(21000, 29700), std::string("2100;2970"));
    }

    void paperCodes() {
        int32_t w = 0, h = 0;
        const struct {
            int code, w, h;
        } rows[] = {
            {1, 21590, 27940},  {5, 21590, 35560},  {8, 29700, 42000},   {9, 21000, 29700},
            {11, 14800, 21000}, {12, 25000, 35400}, {13, 18200, 25700},  {27, 11000, 22000},
            {54, 21590, 27940}, {66, 42000, 59400}, {67, 29700, 42000},  {70, 10500, 14800},
            {76, 42000, 29700}, {77, 29700, 21000}, {100, 11000, 22000}, {118, 45800, 32400}};
        for (const auto& r : rows) {
            QVERIFY2(PaperSizeOf(r.code, w, h), qPrintable(QString::number(r.code)));
            QCOMPARE(w, r.w);
            QCOMPARE(h, r.h);
        }
        for (int code : {0, 48, 49, 71, 74, 84, 87, 91, 92, 119, 256, -3}) {
            QVERIFY(!PaperSizeOf(code, w, h));
            QCOMPARE(w, 0);
            QCOMPARE(h, 0);
        }
        int listed = 0;
        for (int code = 1; code <= 118; ++code) listed += PaperSizeOf(code, w, h) ? 1 : 0;
        QCOMPARE(listed, 118 - 12);
        QCOMPARE(PaperRow(pA4).Code, int16_t(9));
        QCOMPARE(PaperRow(pA3ExtraTransverse).Code, int16_t(68));
        QCOMPARE(PaperRow(pLetterExtra).Code, int16_t(50));
        QCOMPARE(PaperRow(pLetter).Width, 8500);
        QCOMPARE(PaperRow(pLetter).Unit, mmHiEnglish);
        QCOMPARE(PaperRow(pA2).Height, 5940);
        QCOMPARE(PaperTypeOfCode(8), pA3);
        QCOMPARE(PaperTypeOfCode(49), pCustom);
    }

    // Every built-in file is written when missing, never over an existing one, and every
    // item line in it parses into items.
    void builtInFiles() {
        const char* names[] = {"AktiveSager.kjr", "UdeSager.kjr",   "BrugerPoster.kjr",
                               "BrugerListe.kjr", "VarerListe.kjr", "KundeListe.kjr",
                               "PostByListe.kjr"};
        for (const char* name : names) {
            QString path = dir_.filePath(name);
            QFile::remove(path);
            QCOMPARE(QString::fromStdString(EnsureLayoutFile(name)), path);
            QByteArray bytes = Bytes(path);
            QVERIFY(bytes.startsWith("[SidstValgt]\r\nNr=1\r\n"));
            QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
            kjqt::TMemIniFile ini(path.toStdString());
            auto variants = ini.ReadSectionValues("Rapporter");
            QVERIFY(variants.size() >= 2);
            for (const std::string& v : variants) {
                std::string section = v.substr(0, v.find('='));
                QVERIFY2(ini.SectionExists(section), name);
                QCOMPARE(ini.ReadString(section, Ansi("PapirStørrelse"), "").empty(), false);
                TSkrivListe items;
                for (const std::string& key : ini.ReadSection(section))
                    if (ini.ReadString(section, key, "").find(';') != std::string::npos &&
                        key != "Margin" && key != Ansi("PapirStørrelse"))
                        ParseLayoutLine(key, ini.ReadString(section, key, ""), nullptr, &items,
                                        nullptr);
                QVERIFY2(items.Find("Titel"), name);
            }
            Write(path, "[SidstValgt]\r\nNr=2\r\n");
            EnsureLayoutFile(name);
            QCOMPARE(Bytes(path), QByteArray("[SidstValgt]\r\nNr=2\r\n"));
        }
        QCOMPARE(LayoutResource("Ukendt.kjr"), std::string());
        kjqt::TMemIniFile ude((dir_.filePath("x.kjr")).toStdString());
        QFile::remove(dir_.filePath("UdeSager.kjr"));
        kjqt::TMemIniFile udeIni(EnsureLayoutFile("UdeSager.kjr"));
        QCOMPARE(udeIni.ReadString("2", "Side", ""),
                 std::string("Side &SIDE;0;70;1900;35;H;;;;;;"));
        QCOMPARE(udeIni.ReadString("1", "Titel1", ""), std::string("&BR ;0;0;1900;35;V;;;;;;"));
        QCOMPARE(udeIni.ReadSection("Rapporter").size(), size_t(3));
    }

    void resourceThatCannotBeWritten() {
        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            SaveResourceToFile("UdeSager.kjr",
                               dir_.filePath("no/such/UdeSager.kjr").toStdString()));
    }

    // A variant is read into the page set-up and written back; the file keeps its comments,
    // its order and its item keys.
    void variantsReadAndWrittenBack() {
        QString path = dir_.filePath("PostByListe.kjr");
        QByteArray file =
            "[SidstValgt]\r\nNr= 2 \r\n\r\n[Rapporter]\r\n1=Lille\r\n;3=Ude\r\n2=Stor\r\n\r\n"
            "[1]\r\n;Hoved\r\nPapir=256\r\nPapirSt\xF8rrelse=1000;1500;\r\nMargin=60;60;60;120\r\n"
            "Titel=Liste;0;0;100;20;V;;;;;;\r\n"
            "[2]\r\nPapir=9\r\nPapirSt\xF8rrelse=1000;1500\r\nPapirOrientering=2\r\n"
            "Margin= 60; 60; 60;120;\r\n;Vare\r\nTitel=Stor;0;0;100;20;V;;;;;;\r\n";
        Write(path, file);
        TReportVariants v("PostByListe.kjr");
        v.Open();
        QCOMPARE(v.RapportNr, std::string("2"));
        QCOMPARE(v.Lines().size(), size_t(2));
        QCOMPARE(v.IndexOfVariant(), 1);
        QCOMPARE(setup_.PaperCode, int16_t(9));
        QCOMPARE(setup_.PaperWidth, 21000);  // "Papir=9" ignores "PapirStørrelse"
        QCOMPARE(setup_.Orientation, uint8_t(1));
        QCOMPARE(setup_.Margins[3], 1200);
        QVERIFY(!v.Pick("   =Blank"));
        QCOMPARE(v.RapportNr, std::string("2"));
        QVERIFY(v.Close());
        QByteArray back = Bytes(path);
        QVERIFY(
            back.contains("[2]\r\nPapir=9\r\nPapirSt\xF8rrelse=2100;2970\r\nPapirOrientering=2\r\n"
                          "Margin=60;60;60;120\r\n;Vare\r\nTitel=Stor;0;0;100;20;V;;;;;;\r\n"));
        QVERIFY(back.startsWith(
            "[SidstValgt]\r\nNr=2\r\n\r\n[Rapporter]\r\n1=Lille\r\n;3=Ude\r\n2=Stor\r\n"));

        QVERIFY(v.Pick("1=Lille"));
        QCOMPARE(setup_.PaperCode, int16_t(256));
        QCOMPARE(setup_.PaperWidth, 10000);
        QCOMPARE(setup_.PaperHeight, 15000);
        QCOMPARE(setup_.Orientation, uint8_t(0));
        TSkrivListe head;
        v.ParseItem("Titel", "Liste;0;0;210;20;C;;;;;;", nullptr, &head, nullptr);
        CheckBox(head.Find("Titel"), 0, 0, 1000, 200, -1);
        TSkrivListe deflt;
        v.ParseItem("Side", "Side &SIDE;0;0;210;8;H;;;;;;", nullptr, &deflt, nullptr);
        CheckBox(deflt.Find("Side"), 0, 0, 2100, 80, 1);
        QVERIFY(v.Close());
        QVERIFY(
            Bytes(path).contains("[1]\r\n;Hoved\r\nPapir=256\r\nPapirSt\xF8rrelse=1000;1500\r\n"));
        QCOMPARE(responder_.Asked().size(), size_t(0));
    }

    void orientationCodes() {
        QString path = dir_.filePath("BrugerListe.kjr");
        for (const auto& [text, sideways] : std::initializer_list<std::pair<const char*, int>>{
                 {"2", 1}, {"0", 0}, {"1", 0}, {"3", 0}, {"xy", 0}}) {
            Write(path,
                  QByteArray("[Rapporter]\r\n1=A\r\n[1]\r\nPapirOrientering=") + text + "\r\n");
            TReportVariants v("BrugerListe.kjr");
            v.Open();
            QCOMPARE(int(setup_.Orientation), sideways);
            QCOMPARE(setup_.OrientationCode(), sideways ? 2 : 1);
        }
    }

    // An unlisted paper code prints on A4 and says so; the code stays in the file.
    void unlistedPaperCode() {
        QString path = dir_.filePath("KundeListe.kjr");
        Write(
            path,
            "[Rapporter]\r\n1=A\r\n[1]\r\nPapir=49\r\n[2]\r\nPapir=256\r\nPapirSt\xF8rrelse=0;0\r\n"
            "[3]\r\nPapir=99999999999\r\n");
        TReportVariants v("KundeListe.kjr");
        v.Open();
        QCOMPARE(
            responder_.Texts(),
            QStringList{QString::fromUtf8("Papirformatet 49 kendes ikke; der udskrives på A4")});
        QCOMPARE(setup_.PaperCode, int16_t(49));
        QCOMPARE(setup_.PaperWidth, 21000);
        QCOMPARE(setup_.PaperHeight, 29700);
        QVERIFY(v.Close());
        QVERIFY(Bytes(path).contains("[1]\r\nPapir=49\r\n"));
        QVERIFY(v.Pick("2=B"));
        QCOMPARE(setup_.PaperWidth, 21000);
        QVERIFY(v.Pick("3=C"));
        QCOMPARE(responder_.Asked().size(), size_t(3));
        QCOMPARE(responder_.Texts().last(),
                 QString::fromUtf8("Papirformatet 99999999999 kendes ikke; der udskrives på A4"));
        QVERIFY(v.Close());
        QVERIFY(Bytes(path).contains("[3]\r\nPapir=99999999999\r\n"));
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
