#include "reports/report_variants.h"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "reports/paper_sizes.h"
#include "reports/report_host.h"
#include "reports/report_resources.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const char kLastSection[] = "SidstValgt";
const char kListSection[] = "Rapporter";
const char kPaperSize[] = "PapirSt\xF8rrelse";  // Windows-1252

std::string KeyOf(const std::string& line) {
    return TzCommon::AllTrim(line.substr(0, line.find('=')));
}

}  // namespace

TReportVariants::TReportVariants(const std::string& fileName) : path_(EnsureLayoutFile(fileName)) {}

void TReportVariants::Open() {
    kjqt::TMemIniFile ini(path_);
    lines_ = ini.ReadSectionValues(kListSection);
    RapportNr = TzCommon::AllTrim(ini.ReadString(kLastSection, "Nr", "1"));
    ReadVariant();
}

bool TReportVariants::Pick(const std::string& line) {
    std::string key = KeyOf(line);
    if (TzUtils::TrimRight(key).empty()) return false;
    RapportNr = key;
    ReadVariant();
    return true;
}

int TReportVariants::IndexOfVariant() const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (KeyOf(lines_[i]) == RapportNr) return static_cast<int>(i);
    return -1;
}

void TReportVariants::ReadVariant() {
    kjqt::TMemIniFile ini(path_);
    const std::string& v = RapportNr;
    if (ReadOptions) ReadOptions(ini, v);
    TPageSetup& setup = PageSetup();
    TMargins m = ParseMargins(ini.ReadString(v, "Margin", "10;10;10;10"));
    setup.Margins[0] = m.Left;
    setup.Margins[1] = m.Top;
    setup.Margins[2] = m.Right;
    setup.Margins[3] = m.Bottom;
    paperText_ = ini.ReadString(v, "Papir", "9");
    int64_t code = LayoutNumber(paperText_, 9);
    paperCodeRead_ = static_cast<int>(std::clamp<int64_t>(code, INT16_MIN, INT16_MAX));
    setup.PaperCode = static_cast<int16_t>(paperCodeRead_);
    bool known = code == paperCodeRead_;
    if (code == kPaperUser)
        ParsePaperSize(ini.ReadString(v, kPaperSize, "210;297"), setup.PaperWidth,
                       setup.PaperHeight);
    else
        known = known && PaperSizeOf(paperCodeRead_, setup.PaperWidth, setup.PaperHeight);
    if (!known || setup.PaperWidth <= 0 || setup.PaperHeight <= 0) {
        setup.PaperWidth = kA4Width;
        setup.PaperHeight = kA4Height;
        kjqt::DialogService::Instance().ShowMessage(
            QString::fromUtf8("Papirformatet %1 kendes ikke; der udskrives på A4")
                .arg(kjqt::FromAnsi(TzCommon::AllTrim(paperText_))));
    }
    setup.SetOrientation(
        static_cast<int>(LayoutNumber(ini.ReadString(v, "PapirOrientering", "1"), 1) == 2 ? 2 : 1));
}

bool TReportVariants::Close() {
    kjqt::TMemIniFile ini(path_);
    const std::string& v = RapportNr;
    const TPageSetup& setup = PageSetup();
    ini.WriteString(kLastSection, "Nr", RapportNr);
    if (WriteOptions) WriteOptions(ini, v);
    TMargins m{setup.Margins[0], setup.Margins[1], setup.Margins[2], setup.Margins[3]};
    ini.WriteString(v, "Margin", MarginsToText(m));
    ini.WriteString(v, "Papir",
                    setup.PaperCode == paperCodeRead_ ? TzCommon::AllTrim(paperText_)
                                                      : std::to_string(setup.PaperCode));
    ini.WriteString(v, kPaperSize, PaperSizeToText(setup.PaperWidth, setup.PaperHeight));
    ini.WriteInteger(v, "PapirOrientering", setup.OrientationCode());
    if (ini.UpdateFile()) return true;
    kjqt::DialogService::Instance().ShowMessage(QString::fromUtf8("Kan ikke skrive filen ") +
                                                kjqt::FromAnsi(path_));
    return false;
}

std::string TReportVariants::ReadLine(const std::string& key, const std::string& def) const {
    return TLayoutReader(*this).Line(key, def);
}

void TReportVariants::ParseItem(const std::string& key, const std::string& def, Db::TField* field,
                                TSkrivListe* captionList, TSkrivListe* dataList) const {
    ParseLayoutLine(key, ReadLine(key, def), field, captionList, dataList);
}

// ---- One layout read -----------------------------------------------------------------------

TLayoutReader::TLayoutReader(const TReportVariants& variants)
    : ini_(std::make_unique<kjqt::TMemIniFile>(variants.Path())), section_(variants.RapportNr) {}

TLayoutReader::~TLayoutReader() = default;

std::string TLayoutReader::Line(const std::string& key, const std::string& def) const {
    return ini_->ReadString(section_, key, def);
}

void TLayoutReader::Item(const char* key, const char* def, Db::TField* field,
                         TSkrivListe* captionList, TSkrivListe* dataList) const {
    const std::string k = kjqt::ToAnsi(QString::fromUtf8(key));
    ParseLayoutLine(k, Line(k, kjqt::ToAnsi(QString::fromUtf8(def))), field, captionList, dataList);
}

void TLayoutReader::PageHead(TSkrivListe& head) const {
    Item("Titel", "Liste;0;0;210;20;C;;;;;;", nullptr, &head, nullptr);
    Item("Titel1", ";;;;;;;;;;;", nullptr, &head, nullptr);
    Item("Titel2", ";;;;;;;;;;;", nullptr, &head, nullptr);
    Item("Side", "Side &SIDE;0;0;210;8;H;;;;;;", nullptr, &head, nullptr);
    Item("Dato", "Dato &DATO;10;0;210;8;H;;;;;;", nullptr, &head, nullptr);
}

// ---- The frame -------------------------------------------------------------------------------

TReportFrame::TReportFrame(TReportVariants& variants, QWidget* parent)
    : QWidget(parent), variants_(variants) {
    auto* box = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromUtf8(" Rapport "), this));
    edtRapport = new QComboBox(this);
    edtRapport->setEditable(false);
    row->addWidget(edtRapport, 1);
    box->addLayout(row);
    auto* buttons = new QHBoxLayout;
    btnVis = new QPushButton("Vis", this);
    btnUdskriv = new QPushButton("Udskriv", this);
    btnPrinter = new QPushButton(QString::fromUtf8(" Side/Printer opsætning "), this);
    btnSlut = new QPushButton("Slut", this);
    for (QPushButton* b : {btnVis, btnUdskriv, btnPrinter, btnSlut}) buttons->addWidget(b);
    box->addLayout(buttons);
    FillVariants();
    connect(edtRapport, &QComboBox::activated, this, [this] { edtRapportClick(); });
    connect(btnVis, &QPushButton::clicked, this, [this] {
        if (OnRun) OnRun(true);
    });
    connect(btnUdskriv, &QPushButton::clicked, this, [this] {
        if (OnRun) OnRun(false);
    });
    connect(btnPrinter, &QPushButton::clicked, this, [] {
        if (Host().ExecutePrintDialog) Host().ExecutePrintDialog();
    });
    connect(btnSlut, &QPushButton::clicked, this, [this] {
        if (auto* dialog = qobject_cast<QDialog*>(window()))
            dialog->reject();
        else
            window()->close();
    });
}

void TReportFrame::FillVariants() {
    edtRapport->clear();
    for (const std::string& line : variants_.Lines()) edtRapport->addItem(kjqt::FromAnsi(line));
    edtRapport->setCurrentIndex(variants_.IndexOfVariant());
}

void TReportFrame::edtRapportClick() {
    if (edtRapport->currentIndex() < 0) return;
    if (variants_.Pick(kjqt::ToAnsi(edtRapport->currentText())) && OnVariantRead) OnVariantRead();
}

}  // namespace kjrep
