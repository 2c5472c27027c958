#include "reports/print_preview.h"

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryFile>
#include <QWheelEvent>
#include <algorithm>
#include <stdexcept>

#include "reports/print_target.h"
#include "ui/dialog_service.h"

namespace kjrep {

namespace {

const int kSheetMargin = 8;       // pixels around the sheet inside the box
const int kMaxSheetSide = 32000;  // a larger sheet cannot be shown; the zoom reverts
const char kNoPageMemory[] = "Not enough memory to create a new page";

}  // namespace

// ---- TMetafileList ---------------------------------------------------------------------

TMetafileList::TMetafileList() = default;
TMetafileList::~TMetafileList() = default;

int TMetafileList::Count() const {
    return static_cast<int>(useTempFile_ ? positions_.size() : inMemory_.size());
}

namespace {

constexpr QDataStream::Version kPageStreamVersion = QDataStream::Qt_6_4;

}  // namespace

void TMetafileList::WritePage(const TRecordedPage& page) {
    if (!file_) {
        auto file = std::make_unique<QTemporaryFile>(QDir::temp().filePath("TMPXXXXXX"));
        if (!file->open()) throw std::runtime_error(kNoPageMemory);
        file_ = std::move(file);
    }
    const qint64 pos = file_->size();
    file_->seek(pos);
    QDataStream out(file_.get());
    out.setVersion(kPageStreamVersion);
    out << QByteArray(page.picture.data(), page.picture.size());
    out << quint32(page.fonts.size());
    for (const QFont& f : page.fonts) out << f;
    out << quint32(page.texts.size());
    for (const TPageText& t : page.texts) out << t.baseline << t.text << qint32(t.font);
    if (out.status() != QDataStream::Ok) throw std::runtime_error(kNoPageMemory);
    positions_.push_back(pos);
}

TRecordedPage TMetafileList::ReadPage(int i) {
    TRecordedPage page;
    file_->seek(positions_[i]);
    QDataStream in(file_.get());
    in.setVersion(kPageStreamVersion);
    QByteArray bytes;
    in >> bytes;
    page.picture.setData(bytes.constData(), static_cast<uint>(bytes.size()));
    quint32 fonts = 0, texts = 0;
    in >> fonts;
    for (quint32 k = 0; k < fonts && in.status() == QDataStream::Ok; ++k) {
        QFont f;
        in >> f;
        page.fonts.push_back(f);
    }
    in >> texts;
    for (quint32 k = 0; k < texts && in.status() == QDataStream::Ok; ++k) {
        TPageText t;
        qint32 font = 0;
        in >> t.baseline >> t.text >> font;
        t.font = font;
        if (font >= 0 && size_t(font) < page.fonts.size()) page.texts.push_back(std::move(t));
    }
    return page;
}

void TMetafileList::Add(TRecordedPage page) {
    if (useTempFile_) {
        WritePage(page);
    } else {
        inMemory_.push_back(std::move(page));
    }
    if (OnChange) OnChange();
}

const TRecordedPage& TMetafileList::GetPage(int i) {
    shared_ = TRecordedPage();
    if (i < 0 || i >= Count()) return shared_;
    if (!useTempFile_) return inMemory_[i];
    shared_ = ReadPage(i);
    return shared_;
}

void TMetafileList::Clear() {
    inMemory_.clear();
    positions_.clear();
    file_.reset();  // a temporary file is deleted with its object
    shared_ = TRecordedPage();
    if (OnChange) OnChange();
}

void TMetafileList::SetUseTempFile(bool on) {
    if (on == useTempFile_) return;
    if (on) {
        for (const TRecordedPage& page : inMemory_) WritePage(page);
        inMemory_.clear();
    } else {
        for (int i = 0; i < int(positions_.size()); ++i) inMemory_.push_back(ReadPage(i));
        positions_.clear();
        file_.reset();
    }
    useTempFile_ = on;
}

QString TMetafileList::TempFileName() const {
    auto* file = dynamic_cast<QTemporaryFile*>(file_.get());
    return file ? file->fileName() : QString();
}

// ---- TPaperPreviewOptions --------------------------------------------------------------

void TPaperPreviewOptions::Assign(const TPaperPreviewOptions& other) {
    PaperColor = other.PaperColor;
    BorderColor = other.BorderColor;
    BorderWidth = other.BorderWidth;
    ShadowColor = other.ShadowColor;
    ShadowWidth = other.ShadowWidth;
    Cursor = other.Cursor;
    DragCursor = other.DragCursor;
    GrabCursor = other.GrabCursor;
    PopupMenu = other.PopupMenu;
    Changed();
}

// ---- TPaperPreview ---------------------------------------------------------------------

TPaperPreview::TPaperPreview(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    SetPaperSize(paperWidth_, paperHeight_);
}

void TPaperPreview::SetPaperSize(int width, int height) {
    paperWidth_ = std::max(1, width);
    paperHeight_ = std::max(1, height);
    resize(paperWidth_ + 2 * BorderSize + ShadowSize, paperHeight_ + 2 * BorderSize + ShadowSize);
}

QRect TPaperPreview::PageRect() const {
    return QRect(BorderSize, BorderSize, paperWidth_, paperHeight_);
}

void TPaperPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);  // Qt double-buffers widgets already
    QRect all = rect();
    QRect sheet = all.adjusted(0, 0, -ShadowSize, -ShadowSize);
    p.fillRect(all, palette().color(QPalette::Window));
    p.fillRect(sheet.right() + 1, ShadowSize, ShadowSize, sheet.height(), ShadowColor);
    p.fillRect(ShadowSize, sheet.bottom() + 1, sheet.width(), ShadowSize, ShadowColor);
    p.fillRect(PageRect(), PaperColor);
    if (BorderSize > 0) {
        QPen pen(BorderColor, BorderSize);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        qreal half = BorderSize / 2.0;
        p.drawRect(QRectF(sheet).adjusted(half, half, -half, -half));
    }
    if (OnPaint) {
        p.setClipRect(PageRect());
        OnPaint(p, PageRect());
    }
}

// ---- TPrintPreview: settings -----------------------------------------------------------

TPrintPreview::TPrintPreview(QWidget* parent) : QScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setWidgetResizable(false);
    box_ = new QWidget;
    sheet_ = new TPaperPreview(box_);
    sheet_->OnPaint = [this](QPainter& p, const QRect& r) { PaintPage(p, r); };
    sheet_->installEventFilter(this);
    sheet_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sheet_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (PaperView.PopupMenu) PaperView.PopupMenu->popup(sheet_->mapToGlobal(at));
    });
    sheet_->hide();
    setWidget(box_);
    QFont f("Arial");
    setFont(f);
    pages_.OnChange = [this] { PagesChanged(); };
    PaperView.OnChange = [this] { ApplyPaperView(); };
    ApplyPaperView();
    SetPaperType(pA4);
}

void TPrintPreview::ApplyPaperView() {
    sheet_->PaperColor = PaperView.PaperColor;
    sheet_->BorderColor = PaperView.BorderColor;
    sheet_->BorderSize = std::max(0, PaperView.BorderWidth);
    sheet_->ShadowColor = PaperView.ShadowColor;
    sheet_->ShadowSize = std::max(0, PaperView.ShadowWidth);
    Relayout();
    UpdateSheetCursor();
}

// The grab cursor while grabbing; the drag cursor while the sheet is larger than the view.
void TPrintPreview::UpdateSheetCursor() {
    const bool draggable =
        horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0;
    sheet_->setCursor(grabbing_   ? PaperView.GrabCursor
                      : draggable ? PaperView.DragCursor
                                  : PaperView.Cursor);
}

TPrintPreview::~TPrintPreview() {
    pages_.OnChange = nullptr;
    pagePainter_.reset();
}

void TPrintPreview::SetUnits(TUnits u) {
    if (u == units_ || state_ == TPreviewState::Recording) return;
    int dpi = ScreenDpi();
    paperWidth_ = ConvertUnits(paperWidth_, dpi, units_, u);
    paperHeight_ = ConvertUnits(paperHeight_, dpi, units_, u);
    units_ = u;
    UpdatePixelSize();
    Relayout();
}

void TPrintPreview::SetPaperType(TPaperType t) {
    if (state_ == TPreviewState::Recording) return;
    paperType_ = t;
    if (t == pCustom) return;
    const TPaperRow& row = PaperRow(t);
    int w = ConvertUnits(row.Width, ScreenDpi(), row.Unit, units_);
    int h = ConvertUnits(row.Height, ScreenDpi(), row.Unit, units_);
    if (orientation_ == poLandscape) std::swap(w, h);
    paperWidth_ = w;
    paperHeight_ = h;
    UpdatePixelSize();
    Relayout();
}

void TPrintPreview::SetPaperWidth(int w) {
    if (state_ == TPreviewState::Recording || w == paperWidth_) return;
    paperWidth_ = w;
    paperType_ = pCustom;
    UpdatePixelSize();
    Relayout();
}

void TPrintPreview::SetPaperHeight(int h) {
    if (state_ == TPreviewState::Recording || h == paperHeight_) return;
    paperHeight_ = h;
    paperType_ = pCustom;
    UpdatePixelSize();
    Relayout();
}

void TPrintPreview::SetOrientation(TPrinterOrientation o) {
    if (state_ == TPreviewState::Recording || o == orientation_) return;
    orientation_ = o;
    std::swap(paperWidth_, paperHeight_);
    UpdatePixelSize();
    Relayout();
}

// ---- Units -----------------------------------------------------------------------------

namespace {
constexpr int64_t kLoMetricPerInch = 254;   // tenths of a millimetre
constexpr int64_t kLoEnglishPerInch = 100;  // hundredths of an inch

int64_t UnitsPerInch(TUnits u, int dpi) {
    switch (u) {
        case mmPixel:
            return dpi;
        case mmLoMetric:
            return kLoMetricPerInch;
        case mmHiMetric:
            return 2540;
        case mmLoEnglish:
            return kLoEnglishPerInch;
        case mmHiEnglish:
            return 1000;
        case mmTWIPS:
            return 1440;
        case mmPoints:
            return 72;
    }
    return 1;
}
}  // namespace

int TPrintPreview::ConvertUnits(int value, int dpi, TUnits from, TUnits to) {
    if (from == to) return value;
    int64_t num = UnitsPerInch(to, dpi), den = UnitsPerInch(from, dpi);
    if (den <= 0 || num <= 0) return 0;  // a device without a resolution
    return static_cast<int>(std::clamp<int64_t>(value * num / den, INT32_MIN, INT32_MAX));
}

int TPrintPreview::PixelsToUnits(int value, int dpi) const {
    int thou = ConvertUnits(value, dpi, mmPixel, mmHiEnglish);
    return ConvertUnits(thou, dpi, mmHiEnglish, units_);
}

int TPrintPreview::ScreenDpi() const {
    int dpi = logicalDpiY();
    return dpi > 0 ? dpi : 96;
}

int TPrintPreview::ScreenToUnits(int value) const {
    return PixelsToUnits(value, ScreenDpi());
}

void TPrintPreview::UpdatePixelSize() {
    pixelWidth_ = std::max(1, ConvertUnits(paperWidth_, ScreenDpi(), units_, mmPixel));
    pixelHeight_ = std::max(1, ConvertUnits(paperHeight_, ScreenDpi(), units_, mmPixel));
}

// ---- Recording -------------------------------------------------------------------------

void TPrintPreview::CreatePage() {
    page_ = std::make_unique<TRecordedPage>();
    pageFont_ = -1;
    pagePainter_ = std::make_unique<QPainter>();
    if (!pagePainter_->begin(&page_->picture)) {
        pagePainter_.reset();
        page_.reset();
        throw std::runtime_error(kNoPageMemory);
    }
    QFont f = font();
    f.setPixelSize(std::max(1, ScreenToUnits(QFontInfo(font()).pixelSize())));
    pagePainter_->setFont(f);
}

void TPrintPreview::ClosePage() {
    if (pagePainter_) pagePainter_->end();
    pagePainter_.reset();
    if (page_) page_->picture.setBoundingRect(QRect(0, 0, paperWidth_, paperHeight_));
}

void TPrintPreview::StartDocument() {
    if (state_ == TPreviewState::Recording) return;
    ClearPages();
    aborted_ = false;
    state_ = TPreviewState::Recording;
    UpdatePixelSize();
    if (OnBeginDoc) OnBeginDoc();
    NextPage();
}

void TPrintPreview::NextPage() {
    if (state_ != TPreviewState::Recording) return;
    if (pagePainter_) {
        ClosePage();
        pages_.Add(std::move(*page_));
    }
    CreatePage();
    if (OnNewPage) OnNewPage();
}

void TPrintPreview::FinishDocument() {
    if (state_ != TPreviewState::Recording) return;
    ClosePage();
    if (page_) pages_.Add(std::move(*page_));
    page_.reset();
    if (OnEndDoc) OnEndDoc();
    state_ = TPreviewState::Idle;
}

void TPrintPreview::AbortDocument() {
    if (aborted_) return;
    if (state_ == TPreviewState::Recording) {
        aborted_ = true;
        if (OnAbort) OnAbort();
        ClosePage();
        page_.reset();
        ClearPages();
        state_ = TPreviewState::Idle;
    } else if (state_ == TPreviewState::Printing) {
        aborted_ = true;
        if (OnAbort) OnAbort();
        if (printer_ && printer_->printerState() == QPrinter::Active) printer_->abort();
    }
}

void TPrintPreview::RecordText(const QPointF& baseline, const QString& text, const QFont& font) {
    if (state_ != TPreviewState::Recording || !page_ || text.isEmpty()) return;
    std::vector<QFont>& fonts = page_->fonts;
    if (pageFont_ < 0 || !(fonts[pageFont_] == font)) {
        auto it = std::find(fonts.begin(), fonts.end(), font);
        if (it == fonts.end()) it = fonts.insert(fonts.end(), font);
        pageFont_ = int(it - fonts.begin());
    }
    page_->texts.push_back({baseline, text, pageFont_});
}

QPainter* TPrintPreview::Canvas() const {
    if (state_ == TPreviewState::Recording) return pagePainter_.get();
    return printPainter_;
}

// ---- Pages and display -----------------------------------------------------------------

void TPrintPreview::ClearPages() {
    pages_.Clear();
}

void TPrintPreview::SetCurrentPage(int page) {
    int n = PageCount();
    currentPage_ = n == 0 ? 0 : std::clamp(page, 1, n);
    sheet_->update();
    if (OnChange) OnChange();
}

void TPrintPreview::PagesChanged() {
    if (PageCount() == 0) {
        currentPage_ = 0;
        sheet_->hide();
    } else if (currentPage_ == 0) {
        Relayout();
        currentPage_ = 1;
        sheet_->show();
    }
    sheet_->update();
    if (OnChange) OnChange();
}

void TPrintPreview::DrawPage(QPainter& painter, int page, const QRect& rect, int dpiX, int dpiY) {
    const TRecordedPage& recorded = pages_.GetPage(page - 1);
    if (paperWidth_ <= 0 || paperHeight_ <= 0 || dpiX <= 0 || dpiY <= 0) return;
    const QPicture& pic = recorded.picture;
    // Units -> target pixels, less the picture's own scaling from its resolution to dpi.
    qreal sx = qreal(rect.width()) / paperWidth_ * pic.logicalDpiX() / dpiX;
    qreal sy = qreal(rect.height()) / paperHeight_ * pic.logicalDpiY() / dpiY;
    painter.save();
    painter.translate(rect.topLeft());
    painter.scale(sx, sy);
    painter.drawPicture(0, 0, pic);
    painter.restore();
    DrawTexts(painter, recorded, rect);
}

void TPrintPreview::DrawTexts(QPainter& painter, const TRecordedPage& page, const QRect& rect) {
    if (page.texts.empty()) return;
    painter.save();
    painter.translate(rect.topLeft());
    painter.scale(qreal(rect.width()) / paperWidth_, qreal(rect.height()) / paperHeight_);
    painter.setPen(Qt::black);
    int font = -1;
    for (const TPageText& t : page.texts) {
        if (t.font != font) {
            font = t.font;
            painter.setFont(page.fonts[size_t(font)]);
        }
        painter.drawText(t.baseline, t.text);
    }
    painter.restore();
}

void TPrintPreview::PaintPage(QPainter& painter, const QRect& pageRect) {
    if (currentPage_ >= 1 && currentPage_ <= PageCount())
        DrawPage(painter, currentPage_, pageRect, sheet_->logicalDpiX(), sheet_->logicalDpiY());
}

// ---- Zoom and layout -------------------------------------------------------------------

bool TPrintPreview::SheetSize(QSize& size) {
    QSize avail =
        viewport()->size() - QSize(2 * kSheetMargin + sheet_->BorderSize * 2 + sheet_->ShadowSize,
                                   2 * kSheetMargin + sheet_->BorderSize * 2 + sheet_->ShadowSize);
    avail = avail.expandedTo(QSize(1, 1));
    int64_t pw = pixelWidth_, ph = pixelHeight_;
    int64_t w = pw * zoom_ / 100, h = ph * zoom_ / 100;
    TZoomState s = zoomState_;
    if (s == zsZoomToFit)
        s = avail.height() * pw <= ph * avail.width() ? zsZoomToHeight : zsZoomToWidth;
    if (s == zsZoomToWidth) {
        w = avail.width();
        h = w * ph / pw;
    } else if (s == zsZoomToHeight) {
        h = avail.height();
        w = h * pw / ph;
    }
    if (w < 1 || h < 1 || w > kMaxSheetSide || h > kMaxSheetSide) return false;
    if (zoomState_ != zsZoomOther) zoom_ = static_cast<int>((w * 100 + pw / 2) / pw);
    size = QSize(static_cast<int>(w), static_cast<int>(h));
    return true;
}

void TPrintPreview::Relayout() {
    if (!sheet_) return;
    QSize paper;
    if (!SheetSize(paper)) return;
    sheet_->SetPaperSize(paper.width(), paper.height());
    QSize box =
        (sheet_->size() + QSize(2 * kSheetMargin, 2 * kSheetMargin)).expandedTo(viewport()->size());
    box_->resize(box);
    sheet_->move((box.width() - sheet_->width()) / 2, (box.height() - sheet_->height()) / 2);
    sheet_->update();
    UpdateSheetCursor();
}

QPointF TPrintPreview::ScrollFraction() const {
    auto at = [](const QScrollBar* b) {
        return b->maximum() > 0 ? qreal(b->value()) / b->maximum() : 0.0;
    };
    return QPointF(at(horizontalScrollBar()), at(verticalScrollBar()));
}

// After a zoom: the same relative scroll position with ZoomSavePos, else the top left.
void TPrintPreview::RestoreScroll(const QPointF& fraction) {
    const QPointF f = ZoomSavePos ? fraction : QPointF();
    horizontalScrollBar()->setValue(qRound(f.x() * horizontalScrollBar()->maximum()));
    verticalScrollBar()->setValue(qRound(f.y() * verticalScrollBar()->maximum()));
}

void TPrintPreview::SetZoomState(TZoomState s) {
    const QPointF at = ScrollFraction();
    zoomState_ = s;
    Relayout();
    RestoreScroll(at);
}

void TPrintPreview::SetZoom(int z) {
    const QPointF at = ScrollFraction();
    int old = zoom_;
    TZoomState oldState = zoomState_;
    zoom_ = std::clamp(z, ZoomMin, ZoomMax);
    zoomState_ = zsZoomOther;
    QSize size;
    if (!SheetSize(size)) {
        zoom_ = old;
        zoomState_ = oldState;
    } else {
        Relayout();
        RestoreScroll(at);
    }
    if (OnZoomChange) OnZoomChange();
}

void TPrintPreview::resizeEvent(QResizeEvent* e) {
    QScrollArea::resizeEvent(e);
    Relayout();
}

// ---- Keys, wheel, grab -----------------------------------------------------------------

void TPrintPreview::ScrollBy(int dx, int dy) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
}

void TPrintPreview::keyPressEvent(QKeyEvent* e) {
    const Qt::KeyboardModifiers m =
        e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool none = m == Qt::NoModifier, shift = m == Qt::ShiftModifier;
    const bool ctrl = m == Qt::ControlModifier, alt = m == Qt::AltModifier;
    QScrollBar* hb = horizontalScrollBar();
    QScrollBar* vb = verticalScrollBar();
    const int hStep = shift ? 1 : ctrl ? viewport()->width() : hb->singleStep();
    const int vStep = shift ? 1 : ctrl ? viewport()->height() : vb->singleStep();
    const bool keypad = e->modifiers() & Qt::KeypadModifier;
    switch (e->key()) {
        case Qt::Key_Home:
            if (none)
                hb->setValue(hb->minimum());
            else if (ctrl)
                vb->setValue(vb->minimum());
            else if (alt)
                SetZoomState(zsZoomToFit);
            break;
        case Qt::Key_End:
            if (none)
                hb->setValue(hb->maximum());
            else if (ctrl)
                vb->setValue(vb->maximum());
            else if (alt)
                SetZoomState(zsZoomToWidth);
            break;
        case Qt::Key_Left:
            if (!alt) ScrollBy(-hStep, 0);
            break;
        case Qt::Key_Right:
            if (!alt) ScrollBy(hStep, 0);
            break;
        case Qt::Key_Up:
            if (!alt) ScrollBy(0, -vStep);
            break;
        case Qt::Key_Down:
            if (!alt) ScrollBy(0, vStep);
            break;
        case Qt::Key_PageDown:
            if (none)
                SetCurrentPage(currentPage_ + 1);
            else if (ctrl)
                SetCurrentPage(PageCount());
            else if (alt)
                ZoomBy(ZoomStep);
            break;
        case Qt::Key_PageUp:
            if (none)
                SetCurrentPage(currentPage_ - 1);
            else if (ctrl)
                SetCurrentPage(1);
            else if (alt)
                ZoomBy(-ZoomStep);
            break;
        case Qt::Key_Plus:
            if (keypad) ZoomBy(ZoomStep);
            break;
        case Qt::Key_Minus:
            if (keypad) ZoomBy(-ZoomStep);
            break;
        default:
            QScrollArea::keyPressEvent(e);
            return;
    }
    e->accept();
}

void TPrintPreview::wheelEvent(QWheelEvent* e) {
    wheelDelta_ += e->angleDelta().y();
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const bool pages = (e->modifiers() & Qt::ShiftModifier) || (e->buttons() & Qt::MiddleButton);
    while (wheelDelta_ >= 120 || wheelDelta_ <= -120) {
        int dir = wheelDelta_ > 0 ? 1 : -1;  // 1: up
        wheelDelta_ -= dir * 120;
        if (ctrl)
            ZoomBy(dir * ZoomStep);
        else if (pages)
            SetCurrentPage(currentPage_ - dir);
        else
            ScrollBy(0, -dir * verticalScrollBar()->singleStep());
    }
    e->accept();
}

bool TPrintPreview::eventFilter(QObject* watched, QEvent* e) {
    if (watched != sheet_) return QScrollArea::eventFilter(watched, e);
    auto* me = static_cast<QMouseEvent*>(e);
    switch (e->type()) {
        case QEvent::Enter:
            UpdateSheetCursor();
            break;
        case QEvent::MouseButtonPress:
            if (me->button() != Qt::LeftButton) break;
            grabbing_ = true;
            grabPos_ = me->globalPosition().toPoint();
            UpdateSheetCursor();
            return true;
        case QEvent::MouseMove:
            if (!grabbing_) break;
            ScrollBy(grabPos_.x() - me->globalPosition().toPoint().x(),
                     grabPos_.y() - me->globalPosition().toPoint().y());
            grabPos_ = me->globalPosition().toPoint();
            return true;
        case QEvent::MouseButtonRelease:
            if (!grabbing_ || me->button() != Qt::LeftButton) break;
            grabbing_ = false;
            UpdateSheetCursor();
            return true;
        default:
            break;
    }
    return QScrollArea::eventFilter(watched, e);
}

// ---- Printing --------------------------------------------------------------------------

bool TPrintPreview::DoProgress(int page, int done, int total) {
    if (OnPrintProgress && !aborted_) {
        bool abortIt = false;
        OnPrintProgress(page, total > 0 ? done * 100 / total : 100, abortIt);
        if (abortIt) AbortDocument();
    }
    return aborted_;
}

void TPrintPreview::ConfigurePrinter(QPrinter& printer) const {
    printer.setFullPage(true);
    if (UsePrinterOptions) return;
    bool sideways = orientation_ == poLandscape;
    int w = sideways ? paperHeight_ : paperWidth_, h = sideways ? paperWidth_ : paperHeight_;
    int code = PaperRow(paperType_).Code;
    QPageSize::PageSizeId id = paperType_ == pCustom ? QPageSize::Custom : QPageSize::id(code);
    QPageSize size = id != QPageSize::Custom
                         ? QPageSize(id)
                         : QPageSize(QSizeF(ConvertUnits(w, 0, units_, mmLoMetric) / 10.0,
                                            ConvertUnits(h, 0, units_, mmLoMetric) / 10.0),
                                     QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
    printer.setPageLayout(QPageLayout(
        size, sideways ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    printer.setCopyCount(copies_);
    printer.setPaperSource(static_cast<QPrinter::PaperSource>(std::clamp(PrintJobBin - 1, 0, 14)));
}

bool TPrintPreview::PrintPages(QPrinter& printer, QPainter& painter, int from, int to) {
    const bool ownCopies =
        printer.outputFormat() == QPrinter::PdfFormat || !printer.supportsMultipleCopies();
    const int rounds = (ownCopies && !UsePrinterOptions) ? copies_ : 1;
    const int dpiX = printer.logicalDpiX(), dpiY = printer.logicalDpiY();
    QRect rect(0, 0, ConvertUnits(paperWidth_, dpiX, units_, mmPixel),
               ConvertUnits(paperHeight_, dpiY, units_, mmPixel));
    if (UsePrinterOptions) rect = printer.pageLayout().fullRectPixels(dpiX);
    const int total = (to - from + 1) * rounds;
    int done = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int page = from; page <= to; ++page, ++done) {
            if (DoProgress(page, done, total)) return false;
            if (FastPrint) {
                DrawPage(painter, page, rect, dpiX, dpiY);
            } else {
                const int bmpDpi = std::min(dpiX, 200);
                QImage img(rect.size() * bmpDpi / dpiX, QImage::Format_RGB888);
                img.fill(Qt::white);
                QPainter ip(&img);
                DrawPage(ip, page, img.rect(), img.logicalDpiX(), img.logicalDpiY());
                ip.end();
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(rect, img);
            }
            if (DoProgress(page, done + 1, total)) return false;
            bool last = r == rounds - 1 && page == to;
            if (!last && !printer.newPage()) return false;
        }
    }
    return true;
}

bool TPrintPreview::PrintRange(int from, int to) {
    if (state_ != TPreviewState::Idle || PageCount() == 0 || from > to) return false;
    from = std::max(from, 1);
    to = std::min(to, PageCount());
    if (from > to) return false;
    QPrinter printer(QPrinter::HighResolution);
    if (SelectPrintTarget(printer) == PrintTargetKind::Cancelled) return false;
    aborted_ = false;
    state_ = TPreviewState::Printing;
    if (OnBeforePrint) OnBeforePrint();
    ConfigurePrinter(printer);
    printer.setDocName(PrintJobTitle);
    QPainter painter;
    bool ok = painter.begin(&printer);
    if (!ok) {
        kjqt::DialogService::Instance().ShowMessage(
            QString::fromUtf8("Udskriften kan ikke startes: ") + PrintTargetName(printer));
    } else {
        printer_ = &printer;
        printPainter_ = &painter;
        ok = PrintPages(printer, painter, from, to);
        printPainter_ = nullptr;
        printer_ = nullptr;
        if (!ok && printer.printerState() == QPrinter::Active) printer.abort();
        painter.end();
        if (!ok && !aborted_)
            kjqt::DialogService::Instance().ShowMessage(
                QString::fromUtf8("Udskriften mislykkedes: ") + PrintTargetName(printer));
        if (!ok) aborted_ = true;
        // A PDF cannot be aborted like a printer's job: what it holds so far (a blank page
        // when nothing was drawn yet) is not the document, so it goes.
        if (!ok && printer.outputFormat() == QPrinter::PdfFormat)
            QFile::remove(printer.outputFileName());
    }
    printer.setDocName(QString());
    if (OnAfterPrint) OnAfterPrint();
    state_ = TPreviewState::Idle;
    return ok;
}

}  // namespace kjrep
