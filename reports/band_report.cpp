#include "reports/band_report.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <stdexcept>

#include "data/db_dataset.h"
#include "reports/print_preview.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

QFont LabelFont(const TQRLabel& label) {
    QFont f("Arial");
    f.setPixelSize(std::max<int32_t>(1, label.FontHeight));
    f.setBold(label.Bold);
    return f;
}

// The report's preview window: the recorded pages, "Udskriv" (prints the report again)
// and "Slut".
class TQRPreviewForm : public QDialog {
  public:
    TQRPreviewForm(QWidget* parent, const std::string& title, int zoom) : QDialog(parent) {
        setWindowTitle(kjqt::FromAnsi(title).trimmed());
        resize(900, 1000);
        auto* all = new QVBoxLayout(this);
        auto* bar = new QHBoxLayout;
        btnUdskriv = new QPushButton(QStringLiteral("&Udskriv"), this);
        btnSlut = new QPushButton(QStringLiteral("&Slut"), this);
        bar->addWidget(btnUdskriv);
        bar->addWidget(btnSlut);
        bar->addStretch();
        all->addLayout(bar);
        Pages = new TPrintPreview(this);
        Pages->SetZoom(zoom);
        all->addWidget(Pages, 1);
        connect(btnSlut, &QPushButton::clicked, this, &QDialog::accept);
    }
    TPrintPreview* Pages = nullptr;
    QPushButton* btnUdskriv = nullptr;
    QPushButton* btnSlut = nullptr;
};

}  // namespace

TQRLabel& TQRBand::Add(const std::string& name, int32_t left, int32_t top, int32_t width,
                       const std::string& caption, TQRAlign align, int32_t fontHeight, bool bold) {
    TQRLabel l;
    l.Name = name;
    l.Left = left;
    l.Top = top;
    l.Width = width;
    l.Caption = caption;
    l.Align = align;
    l.FontHeight = fontHeight;
    l.Bold = bold;
    Labels.push_back(l);
    return Labels.back();
}

TQRLabel& TQRBand::Label(const std::string& name) {
    for (TQRLabel& l : Labels)
        if (l.Name == name) return l;
    throw std::out_of_range("No label " + name + " in " + Name);
}

TQuickRep::TQuickRep() = default;
TQuickRep::~TQuickRep() = default;

std::string TQuickRep::LabelText(const TQRLabel& label) const {
    switch (label.System) {
        case TQRSystemData::Date:
            return label.Caption + kjqt::ToAnsi(Clock().toString("dd-MM-yyyy"));
        case TQRSystemData::PageNumber:
            return label.Caption + std::to_string(pageNumber_);
        case TQRSystemData::None:
            break;
    }
    return label.Caption;
}

void TQuickRep::Draw(const TQRBand& band) {
    QPainter* canvas = target_->Canvas();
    if (!canvas) return;
    const int32_t left = Margins[0];
    const int32_t width = PaperWidth - Margins[0] - Margins[2];
    canvas->setPen(Qt::black);
    for (const TQRLabel& l : band.Labels) {
        const QString text = kjqt::FromAnsi(LabelText(l));
        if (text.isEmpty()) continue;
        const QFont font = LabelFont(l);
        canvas->setFont(font);
        const QFontMetrics fm(font, target_->MeasureDevice());
        int32_t x = left + l.Left;
        const int32_t tw = fm.horizontalAdvance(text);
        if (l.Align == TQRAlign::Right)
            x += l.Width - tw;
        else if (l.Align == TQRAlign::Center)
            x += (l.Width - tw) / 2;
        canvas->drawText(QPointF(x, y_ + l.Top + fm.ascent()), text);
    }
    if (band.RuleBelow) {
        canvas->setPen(QPen(Qt::black, 20));
        canvas->drawLine(left, y_ + band.Height - 20, left + width, y_ + band.Height - 20);
    }
}

void TQuickRep::EndPage() {
    if (OnEndPage) OnEndPage(*this);
}

void TQuickRep::NewPage() {
    EndPage();
    target_->NextPage();
    ++pageNumber_;
    y_ = Margins[1];
    pageHasBody_ = false;
    if (PageHeader) PrintBand(*PageHeader, false);
    pageHasBody_ = false;
}

void TQuickRep::Room(int32_t height, bool subDetailRow) {
    if (!pageHasBody_ || y_ + height <= PaperHeight - Margins[3]) return;
    NewPage();
    // The group header goes above the first sub-detail row of a new page.
    if (subDetailRow && GroupHeader) PrintBand(*GroupHeader, false);
}

void TQuickRep::PrintBand(TQRBand& band, bool subDetailRow) {
    bool print = true;
    if (band.BeforePrint) band.BeforePrint(band, print);
    if (print) {
        if (&band != PageHeader) Room(band.Height, subDetailRow);
        Draw(band);
        y_ += band.Height;
        if (&band != PageHeader) pageHasBody_ = true;
    }
    if (print && band.ChildBand && band.ChildBand->Enabled) PrintBand(*band.ChildBand, false);
}

void TQuickRep::BuildPages() {
    pageNumber_ = 1;
    y_ = Margins[1];
    pageHasBody_ = false;
    if (PageHeader && FirstPageHeader) PrintBand(*PageHeader, false);
    for (; !DataSet->Eof(); DataSet->Next()) {
        if (Detail) PrintBand(*Detail, false);
        if (!SubDataSet || !SubDetail) continue;
        SubDataSet->First();
        if (!SubDataSet->Eof() && GroupHeader) PrintBand(*GroupHeader, false);
        for (; !SubDataSet->Eof(); SubDataSet->Next()) PrintBand(*SubDetail, true);
    }
    EndPage();
}

int TQuickRep::Build(TPrintPreview& target) {
    bool go = true;
    if (BeforePrint) BeforePrint(*this, go);
    if (!go || !DataSet) return 0;
    DataSet->First();
    if (DataSet->Eof()) return 0;
    target_ = &target;
    target.SetUnits(mmHiMetric);
    target.SetOrientation(poPortrait);
    target.SetPaperType(pA4);
    target.SetPaperWidth(PaperWidth);
    target.SetPaperHeight(PaperHeight);
    target.PrintJobTitle = kjqt::FromAnsi(ReportTitle).trimmed();
    target.StartDocument();
    try {
        BuildPages();
    } catch (...) {
        target.AbortDocument();
        target_ = nullptr;
        throw;
    }
    target.FinishDocument();
    target_ = nullptr;
    return target.PageCount();
}

bool TQuickRep::Print() {
    TPrintPreview pages;
    if (Build(pages) == 0) return false;
    return pages.PrintAll();
}

bool TQuickRep::Preview(QWidget* parent) {
    TQRPreviewForm form(parent, ReportTitle, Zoom);
    if (Build(*form.Pages) == 0) return false;
    QObject::connect(form.btnUdskriv, &QPushButton::clicked, &form, [this] { Print(); });
    window_ = &form;
    form.Pages->SetCurrentPage(1);
    form.exec();
    window_ = nullptr;
    return true;
}

}  // namespace kjrep
