#include "reports/preview_form.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "data/db_fields.h"
#include "reports/report_host.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const int kLargeFont = 18, kNormalFont = 10, kSmallFont = 8;  // screen pixels
const int32_t kRuleHeadHeight = 300;

int64_t Step(int32_t height) {
    return static_cast<int64_t>(height) * 110 / 100;
}

bool Printable(const TSkrivFelt& item) {
    return item.Height != 0 && item.Width != 0 && (!item.Text.empty() || item.Field);
}

// Exchange sort by Top, then Left (the order in which items print and rows are found).
void SortByPosition(TSkrivListe& list) {
    for (int i = 0; i + 1 < list.Count(); ++i)
        for (int j = i + 1; j < list.Count(); ++j) {
            const TSkrivFelt& a = list.Item(i);
            const TSkrivFelt& b = list.Item(j);
            if (b.Top < a.Top || (b.Top == a.Top && b.Left < a.Left)) list.Exchange(i, j);
        }
}

QLabel* Label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromUtf8(text), parent);
}

}  // namespace

struct TPreviewForm::Placed {
    const std::string* name;
    const TSkrivFelt* item;
    int64_t y;  // from the print line
    std::vector<QString> lines;
    std::vector<int64_t> widths;  // of each line, measured once
};

struct TPreviewForm::Layout {
    std::vector<Placed> items;
    int64_t height = 0;
};

TPreviewForm::TPreviewForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("Vis udskrift"));
    setWindowState(Qt::WindowMaximized);
    // Where no window manager maximizes it, the window still takes the whole screen.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    auto* top = new QWidget(this);
    auto* bar = new QHBoxLayout(top);
    QLabel* zoomLabel = Label(" &Zoom: ", top);
    bar->addWidget(zoomLabel);
    edtZoom = new QComboBox(top);
    zoomLabel->setBuddy(edtZoom);
    edtZoom->addItems({"%50", "%100", "%150", "%200", "Sidebredde", "Hele siden"});
    edtZoom->setCurrentIndex(5);
    bar->addWidget(edtZoom);
    bar->addWidget(Label(" Fra side ", top));
    edtFraSide = new QLineEdit("0", top);
    bar->addWidget(edtFraSide);
    bar->addWidget(Label(" Til Side ", top));
    edtTilSide = new QLineEdit("0", top);
    bar->addWidget(edtTilSide);
    btnUdskriv = new QPushButton(" Udskriv ", top);
    btnSlut = new QPushButton(" Slut ", top);
    bar->addWidget(btnUdskriv);
    bar->addWidget(btnSlut);
    bar->addStretch();
    SideNrCaption = new QLabel(top);
    SideNrCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->addWidget(SideNrCaption);

    auto* middle = new QHBoxLayout;
    VisUdskrift = new TPrintPreview(this);
    VisUdskrift->SetUnits(mmHiMetric);
    VisUdskrift->UsePrinterOptions = false;
    middle->addWidget(VisUdskrift, 1);
    pnlNav = new QWidget(this);
    auto* nav = new QVBoxLayout(pnlNav);
    nav->setContentsMargins(0, 0, 0, 0);
    SideScroll = new QScrollBar(Qt::Vertical, pnlNav);
    SideScroll->setTracking(false);  // thumb tracking shows no page
    SideScroll->setEnabled(false);
    nav->addWidget(SideScroll);
    middle->addWidget(pnlNav);

    auto* all = new QVBoxLayout(this);
    all->addWidget(top);
    all->addLayout(middle, 1);

    connect(edtZoom, &QComboBox::currentIndexChanged, this, [this](int i) { edtZoomChange(i); });
    connect(btnUdskriv, &QPushButton::clicked, this, [this] { btnUdskrivClick(); });
    connect(btnSlut, &QPushButton::clicked, this, &QDialog::accept);
    connect(SideScroll, &QScrollBar::valueChanged, this,
            [this](int v) { VisUdskrift->SetCurrentPage(v); });
    SetPrintable(false);  // until a report shows
    VisUdskrift->OnChange = [this] { PreviewChanged(); };
    VisUdskrift->OnNewPage = [this] {
        canvasFontHeight_ = kNoFont;  // a new page starts with the painter's own font
        if (!suppressNewPage_ && OnNewReportPage) RunPageHead();
    };
}

TPreviewForm::~TPreviewForm() {
    busy_.Set(false);
    VisUdskrift->OnChange = nullptr;
    VisUdskrift->OnNewPage = nullptr;
}

// ---- Preparing ---------------------------------------------------------------------------

// The print button and the page range serve the pages of a report that is shown, and only
// then: not while they are recorded, nor after the report was cleared.
void TPreviewForm::SetPrintable(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{btnUdskriv, edtFraSide, edtTilSide})
        w->setEnabled(on);
}

void TPreviewForm::PrepareReport(bool show) {
    busy_.Set(true);
    SetPrintable(false);
    VisUdskrift->ClearPages();
    PageNumber = 0;              // a report that starts no page shows none of the last one's
    int32_t offX = 0, offY = 0;  // physical offsets of the printer; none for a PDF
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (!info.isNull() && qEnvironmentVariable("KJ_PRINT_PDF").isEmpty()) {
        QPrinter printer(info, QPrinter::HighResolution);
        QPageLayout layout = printer.pageLayout();
        layout.setUnits(QPageLayout::Millimeter);
        offX = static_cast<int32_t>(layout.minimumMargins().left() * 100);
        offY = static_cast<int32_t>(layout.minimumMargins().top() * 100);
    }
    MarginLeft = MarginRight = offX;
    MarginTop = MarginBottom = offY;
    VisUdskrift->SetUnits(mmHiMetric);
    metrics_.clear();
    fontSizes_[0] = VisUdskrift->ScreenToUnits(kSmallFont);
    fontSizes_[1] = VisUdskrift->ScreenToUnits(kNormalFont);
    fontSizes_[2] = VisUdskrift->ScreenToUnits(kLargeFont);
    BlankWidthSmall =
        QFontMetrics(ItemFont(fontSizes_[0]), VisUdskrift->MeasureDevice()).horizontalAdvance(' ');
    BlankWidthNormal =
        QFontMetrics(ItemFont(fontSizes_[1]), VisUdskrift->MeasureDevice()).horizontalAdvance(' ');
    SetFontSize(1);
    UpdatePrintable();
    if (show) {
        // Modal from its first showing, so that ShowReport runs the modal loop on the window
        // as it stands. Hiding it and showing it again to make it modal raced with the window
        // manager, which at times left the window unmapped while the loop waited for it.
        setWindowModality(Qt::ApplicationModal);
        this->show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void TPreviewForm::UpdatePrintable() {
    UsableWidth = VisUdskrift->PaperWidth() - MarginLeft - MarginRight;
    PrintLeft = MarginLeft;
    PrintTop = MarginTop;
    PrintRight = VisUdskrift->PaperWidth() - MarginRight;
    PrintBottom = VisUdskrift->PaperHeight() - MarginBottom;
}

void TPreviewForm::SetPaper(int code, int32_t width, int32_t height, int orientation,
                            const TMargins& m) {
    if (width <= 0 || height <= 0) {  // no sheet to print on: A4 rather than nothing
        width = kA4Width;
        height = kA4Height;
    }
    VisUdskrift->SetOrientation(poPortrait);
    VisUdskrift->SetPaperType(PaperTypeOfCode(code));
    VisUdskrift->SetPaperWidth(width);
    VisUdskrift->SetPaperHeight(height);
    VisUdskrift->SetOrientation(orientation == 1 ? poLandscape : poPortrait);
    MarginLeft = m.Left;
    MarginTop = m.Top;
    MarginRight = m.Right;
    MarginBottom = m.Bottom;
    UpdatePrintable();
}

QFont TPreviewForm::ItemFont(int32_t height) const {
    QFont f("Arial");
    f.setPixelSize(std::max<int32_t>(1, std::abs(height)));
    f.setKerning(false);  // as the printer's own text output: every character its advance
    return f;
}

TTextWidths& TPreviewForm::Metrics(int32_t height) {
    auto it = metrics_.find(height);
    if (it == metrics_.end())
        it = metrics_.try_emplace(height, ItemFont(height), VisUdskrift->MeasureDevice()).first;
    return it->second;
}

void TPreviewForm::SetFontSize(int n) {
    FontSize = fontSizes_[std::clamp(n, 0, 2)];
    LineHeight = static_cast<int32_t>(std::lround(1.2 * std::abs(FontSize)));
    canvasFontHeight_ = kNoFont;
    if (QPainter* canvas = VisUdskrift->Canvas()) canvas->setFont(ItemFont(FontSize));
}

// ---- Pages ---------------------------------------------------------------------------------

void TPreviewForm::RunPageHead() {
    bool was = inPageHead_;
    inPageHead_ = true;
    try {
        OnNewReportPage();
    } catch (...) {
        inPageHead_ = was;
        throw;
    }
    inPageHead_ = was;
}

void TPreviewForm::StartReport() {
    PageNumber = 0;
    canvasFontHeight_ = kNoFont;
    suppressNewPage_ = true;
    VisUdskrift->StartDocument();
    suppressNewPage_ = false;
    if (OnNewReportPage)
        RunPageHead();
    else
        NewReportPage(false);
}

void TPreviewForm::FinishReport() {
    VisUdskrift->FinishDocument();
}

void TPreviewForm::NewReportPage(bool newSheet) {
    if (newSheet) {
        suppressNewPage_ = true;
        VisUdskrift->NextPage();
        suppressNewPage_ = false;
    }
    UpdatePrintable();
    CurrentY = PrintTop;
    ++PageNumber;
    if (HeadList) {
        bool was = inPageHead_;
        inPageHead_ = true;
        PrintFields(*HeadList);
        PrintRule(0, UsableWidth, kRuleHeadHeight, std::string());
        inPageHead_ = was;
    }
}

void TPreviewForm::PrintRule(int32_t x1, int32_t x2, int32_t height, const std::string& text) {
    canvasFontHeight_ = kNoFont;
    if (QPainter* canvas = VisUdskrift->Canvas()) {
        canvas->setPen(QPen(Qt::black, 2));
        canvas->drawLine(PrintLeft + x1, CurrentY, PrintLeft + x2, CurrentY);
        QString t = kjqt::FromAnsi(text).trimmed();
        if (!t.isEmpty()) {
            QFont f = ItemFont(height);
            canvas->setFont(f);
            QFontMetrics fm(f, VisUdskrift->MeasureDevice());
            canvas->drawText(PrintLeft + x1 + 100, CurrentY + fm.ascent(), kjqt::FromAnsi(text));
        }
    }
    CurrentY = static_cast<int32_t>(std::min<int64_t>(CurrentY + Step(height), INT32_MAX));
}

// ---- Texts ---------------------------------------------------------------------------------

std::string TPreviewForm::SubstituteCaption(const std::string& caption) const {
    if (caption.find('&') == std::string::npos) return caption;
    const QDateTime now = Clock();
    const std::pair<const char*, std::string> marks[] = {
        {"&DATO", kjqt::ToAnsi(now.toString("dd-MM-yy"))},
        {"&TID", kjqt::ToAnsi(now.toString("hh-mm-ss"))},
        {"&SIDE", std::to_string(PageNumber)},
        {"&BR", FirmName()},
        {"&BA", FirmAddress()},
    };
    std::string text = caption;
    for (const auto& [mark, value] : marks) {
        std::string probe = text + " ";
        size_t at = probe.find(std::string(mark) + " ");
        if (at == std::string::npos) continue;
        text.replace(at, std::char_traits<char>::length(mark), value);
    }
    return text;
}

std::string TPreviewForm::ItemText(const TSkrivFelt& item) const {
    if (!item.Field) return SubstituteCaption(item.Text);
    if (!item.Text.empty()) return item.Text;  // a value the report set in the field's place
    try {
        std::string text = item.Field->DisplayText();
        return text.empty() ? item.Field->AsString() : text;
    } catch (...) {
        return std::string();  // an unreadable field prints nothing; the report goes on
    }
}

std::vector<QString> TPreviewForm::WrapText(const QString& text, int32_t width, TTextWidths& fm) {
    std::vector<QString> lines;
    QString rest = text;
    while (!rest.isEmpty()) {
        if (fm.Width(rest) < width) {
            lines.push_back(rest);
            break;
        }
        int cut = -1;  // the longest prefix before a blank that still fits
        for (int i = rest.indexOf(' '); i > 0; i = rest.indexOf(' ', i + 1)) {
            if (fm.Width(rest.left(i)) > width) break;
            cut = i;
        }
        if (cut < 0) {
            lines.push_back(rest);
            break;
        }
        lines.push_back(rest.left(cut));
        rest = rest.mid(cut + 1);
        while (!rest.isEmpty() && rest.back().isSpace()) rest.chop(1);
    }
    return lines;
}

// ---- Printing one line of items ------------------------------------------------------------

TPreviewForm::Layout TPreviewForm::Measure(TSkrivListe& list) {
    Layout out;
    int64_t T = 0, G = 0, A = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const TSkrivFelt& item = list.Item(i);
        if (!Printable(item)) continue;
        if (G > 0 && item.Top > T) {
            A += G;
            G = 0;
        }
        T = std::max<int64_t>(T, item.Top);
        TTextWidths& fm = Metrics(item.Height);
        QString text = kjqt::FromAnsi(ItemText(item));
        std::vector<QString> lines;
        std::vector<int64_t> widths;
        const int64_t width = fm.Width(text);
        if (width > item.Width) {
            lines = WrapText(text, item.Width, fm);
            for (const QString& line : lines) widths.push_back(fm.Width(line));
        } else {
            lines.push_back(text);
            widths.push_back(width);
        }
        if (lines.empty()) {
            lines.push_back(QString());
            widths.push_back(0);
        }
        const int64_t step = Step(item.Height);
        const int64_t extra = static_cast<int64_t>(lines.size() - 1) * step;
        // The line's height counts every wrapped line, also of an item in the last row.
        out.height = std::max(out.height, item.Top + A + step + extra);
        G = std::max(G, extra);
        out.items.push_back(
            {&list[i].name, &item, item.Top + A, std::move(lines), std::move(widths)});
    }
    return out;
}

void TPreviewForm::Draw(const Layout& layout) {
    QPainter* canvas = VisUdskrift->Canvas();
    if (!canvas) return;
    // While a page is recorded the texts go beside its picture (laid out once, when drawn).
    const bool recording = VisUdskrift->State() == TPreviewState::Recording;
    if (!recording) canvas->setPen(Qt::black);
    for (const Placed& p : layout.items) {
        const TSkrivFelt& item = *p.item;
        TTextWidths& m = Metrics(item.Height);
        if (!recording && item.Height != canvasFontHeight_) {  // each change is one more record
            canvas->setFont(m.Font());
            canvasFontHeight_ = item.Height;
        }
        for (size_t k = 0; k < p.lines.size(); ++k) {
            const int64_t tw = p.widths[k];
            int64_t x = PrintLeft + item.Left;
            if (item.Alignment == 0)
                x += (item.Width - tw) / 2;
            else if (item.Alignment == 1)
                x += item.Width - tw;
            const int64_t y = CurrentY + p.y + static_cast<int64_t>(k) * Step(item.Height);
            const QPointF at(x, y + m.Ascent());
            if (recording)
                VisUdskrift->RecordText(at, p.lines[k], m.Font());
            else
                canvas->drawText(at, p.lines[k]);
        }
    }
}

void TPreviewForm::PrintFields(TSkrivListe& list) {
    SortByPosition(list);
    Layout layout = Measure(list);
    if (layout.items.empty()) return;
    const bool atTop = CurrentY <= PrintTop;
    if (CurrentY + layout.height > PrintBottom && !atTop && !inPageHead_) {
        if (OnNewReportPage)
            VisUdskrift->NextPage();  // the report's head routine runs
        else
            NewReportPage(true);
        layout = Measure(list);  // "&SIDE" and friends now name the new page
    }
    if (OnLinePrinted) {
        std::vector<TPrintedItem> printed;
        for (const Placed& p : layout.items)
            printed.push_back(
                {p.name, p.item, PrintLeft + p.item->Left, CurrentY + p.y, p.lines, p.widths});
        OnLinePrinted(printed);
    }
    Draw(layout);
    CurrentY = static_cast<int32_t>(std::min<int64_t>(CurrentY + layout.height, INT32_MAX));
}

// ---- Showing and printing ------------------------------------------------------------------

void TPreviewForm::ClearReport() {
    if (VisUdskrift->State() == TPreviewState::Recording) VisUdskrift->AbortDocument();
    SetPrintable(false);
    VisUdskrift->ClearPages();
    HeadList = nullptr;
    OnNewReportPage = nullptr;
    inPageHead_ = false;
    hide();
    busy_.Set(false);
}

void TPreviewForm::ShowReport() {
    const bool none = PageNumber < 1;
    edtFraSide->setText(none ? "0" : "1");
    edtTilSide->setText(QString::number(none ? 0 : PageNumber));
    SideScroll->setEnabled(!none);
    if (!none) SideScroll->setRange(1, PageNumber);
    SetPrintable(true);
    busy_.Set(false);
    VisUdskrift->setFocus();
    exec();  // already showing when the report was prepared for the screen
}

// The progress box is made at the first page printed, once the printer or the PDF file is
// chosen: made before, its own show timer put it up in the middle of the file dialog, where,
// modal to this window, it blocked the file dialog and the print never started.
bool TPreviewForm::PrintPagesWithProgress(int from, int to) {
    std::unique_ptr<QProgressDialog> progress;
    VisUdskrift->OnPrintProgress = [this, &progress](int page, int percent, bool& abortIt) {
        if (!progress) {
            progress = std::make_unique<QProgressDialog>(QString::fromUtf8("Udskriver ..."),
                                                         QString::fromUtf8("Afbryd"), 0, 100, this);
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(500);
        }
        progress->setLabelText(QString::fromUtf8("Udskriver side %1").arg(page));
        progress->setValue(percent);
        abortIt = progress->wasCanceled();
    };
    bool ok = VisUdskrift->PrintRange(from, to);
    VisUdskrift->OnPrintProgress = nullptr;
    return ok;
}

bool TPreviewForm::PrintReport() {
    busy_.Set(true);
    bool ok = PrintPagesWithProgress(1, VisUdskrift->PageCount());
    busy_.Set(false);
    return ok;
}

void TPreviewForm::btnUdskrivClick() {
    if (!btnUdskriv->isEnabled() || VisUdskrift->State() != TPreviewState::Idle) return;
    bool okFrom = false, okTo = false;
    int from = edtFraSide->text().trimmed().toInt(&okFrom);
    int to = edtTilSide->text().trimmed().toInt(&okTo);
    PrintPagesWithProgress(okFrom ? from : 1, okTo ? to : PageNumber);
    VisUdskrift->setFocus();
}

void TPreviewForm::edtZoomChange(int index) {
    static const int kZooms[] = {50, 100, 150, 200};
    if (index >= 0 && index < 4)
        VisUdskrift->SetZoom(kZooms[index]);
    else if (index == 4)
        VisUdskrift->SetZoomState(zsZoomToWidth);
    else if (index == 5)
        VisUdskrift->SetZoomState(zsZoomToFit);
}

void TPreviewForm::PreviewChanged() {
    SideNrCaption->setText(" Side " + QString::number(VisUdskrift->CurrentPage()));
    QSignalBlocker block(SideScroll);
    SideScroll->setValue(VisUdskrift->CurrentPage());
}

}  // namespace kjrep
