// The print-preview component: records report pages as pictures while a report draws them,
// shows one page at a time on a sheet with border and shadow inside a scrolling box (zoom
// and scroll with keys, wheel and grab), and prints any range of the recorded pages with
// progress and abort. With KJ_PRINT_PDF naming a file, or with no printer on the system,
// printing writes a PDF. GUI thread only.
//
// Pages are QPicture recordings in the component's Units (default hundredths of a
// millimetre); replaying one scales by the target's resolution and undoes the resolution
// correction that QPicture applies itself (pictures are recorded at the screen's logical
// resolution). The report engine's item texts are kept beside the picture (RecordText) and
// drawn over it, each laid out once, on the target.
//
// States (1-3 are the invariants the tests check):
//  1. Idle -> recording by StartDocument; recording -> idle by FinishDocument/AbortDocument;
//     idle -> printing -> idle inside PrintRange. Nothing else changes the state.
//  2. Paper kind, size, orientation and units are frozen while recording.
//  3. CurrentPage is 0 exactly when there are no pages, else within 1..PageCount.
#pragma once

#include <QFont>
#include <QPicture>
#include <QPointF>
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "reports/paper_sizes.h"

class QIODevice;
class QMenu;
class QPainter;
class QPrinter;

namespace kjrep {

// An item text recorded beside a page's picture, at its baseline in the page's units.
struct TPageText {
    QPointF baseline;
    QString text;
    int font = 0;  // in TRecordedPage::fonts
};

// One recorded page: what was drawn on the page's painter, and the report engine's item
// texts, which are drawn over the picture in black. The texts are kept apart so that each
// is laid out once, when it reaches the screen or the printer.
struct TRecordedPage {
    QPicture picture;
    std::vector<QFont> fonts;
    std::vector<TPageText> texts;
    bool IsNull() const { return picture.isNull() && texts.empty(); }
};

// The recorded pages: held in memory, or written one after another to a temporary file
// with the prefix "TMP" (UseTempFile) and read back one at a time.
class TMetafileList {
  public:
    TMetafileList();
    ~TMetafileList();
    void Add(TRecordedPage page);
    // Page i (0-based); an empty page when out of range. From a temporary file the page is
    // loaded into the shared page, valid until the next call.
    const TRecordedPage& GetPage(int i);
    int Count() const;
    void Clear();
    bool UseTempFile() const { return useTempFile_; }
    void SetUseTempFile(bool on);
    QString TempFileName() const;  // empty unless pages live in a temporary file
    std::function<void()> OnChange;

  private:
    void WritePage(const TRecordedPage& page);
    TRecordedPage ReadPage(int i);

    std::vector<TRecordedPage> inMemory_;
    std::vector<qint64> positions_;  // of each page in the temporary file
    std::unique_ptr<QIODevice> file_;
    TRecordedPage shared_;
    bool useTempFile_ = false;
};

// One sheet on screen: paper, border and shadow; OnPaint draws the page into PageRect.
class TPaperPreview : public QWidget {
  public:
    explicit TPaperPreview(QWidget* parent);
    QColor PaperColor = Qt::white, BorderColor = Qt::black, ShadowColor = Qt::darkGray;
    int BorderSize = 1, ShadowSize = 3;
    void SetPaperSize(int width, int height);  // pixels; the control adds border and shadow
    QRect PageRect() const;
    std::function<void(QPainter&, const QRect&)> OnPaint;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int paperWidth_ = 105, paperHeight_ = 148;
};

// How the preview shows its sheet (the preview's PaperView): colours and widths of paper,
// border and shadow, the sheet's cursor, the cursor while the sheet can be dragged and while
// it is grabbed, and the sheet's pop-up menu (not owned). Change a member and call Changed,
// or Assign all nine at once; either way OnChange runs.
struct TPaperPreviewOptions {
    QColor PaperColor = Qt::white, BorderColor = Qt::black, ShadowColor = Qt::darkGray;
    int BorderWidth = 1, ShadowWidth = 3;
    Qt::CursorShape Cursor = Qt::ArrowCursor, DragCursor = Qt::OpenHandCursor,
                    GrabCursor = Qt::ClosedHandCursor;
    QPointer<QMenu> PopupMenu;
    std::function<void()> OnChange;

    void Assign(const TPaperPreviewOptions& other);
    void Changed() {
        if (OnChange) OnChange();
    }
};

enum TZoomState { zsZoomOther, zsZoomToWidth, zsZoomToHeight, zsZoomToFit };
enum TPrinterOrientation { poPortrait, poLandscape };
enum class TPreviewState { Idle, Recording, Printing };

class TPrintPreview : public QScrollArea {
  public:
    explicit TPrintPreview(QWidget* parent = nullptr);
    ~TPrintPreview() override;

    // Settings
    bool FastPrint = true;
    QString PrintJobTitle;
    int PrintJobBin = 7;
    int ZoomMin = 10, ZoomMax = 500, ZoomStep = 10;
    bool ZoomSavePos = true;  // a zoom keeps the scroll position (relative); else top left
    bool UsePrinterOptions = false;
    TPaperPreviewOptions PaperView;
    int PrintJobCopies() const { return copies_; }
    void SetPrintJobCopies(int n) { copies_ = n < 1 ? 1 : n; }
    TUnits Units() const { return units_; }
    void SetUnits(TUnits u);
    TPrinterOrientation Orientation() const { return orientation_; }
    void SetOrientation(TPrinterOrientation o);
    TPaperType PaperType() const { return paperType_; }
    void SetPaperType(TPaperType t);
    int PaperWidth() const { return paperWidth_; }
    int PaperHeight() const { return paperHeight_; }
    void SetPaperWidth(int w);
    void SetPaperHeight(int h);
    TZoomState ZoomState() const { return zoomState_; }
    void SetZoomState(TZoomState s);
    int Zoom() const { return zoom_; }
    void SetZoom(int z);
    bool UseTempFile() const { return pages_.UseTempFile(); }
    void SetUseTempFile(bool on) { pages_.SetUseTempFile(on); }

    // Events
    std::function<void()> OnBeginDoc, OnEndDoc, OnNewPage, OnAbort, OnChange;
    std::function<void()> OnBeforePrint, OnAfterPrint, OnZoomChange;
    std::function<void(int page, int progress, bool& abortIt)> OnPrintProgress;

    // Recording
    void StartDocument();
    void NextPage();
    void FinishDocument();
    void AbortDocument();
    // The painter of the page being recorded, the printer's while printing, else none.
    QPainter* Canvas() const;
    // An item text of the page being recorded, in black at its baseline (page units); it
    // is drawn over everything drawn on the canvas. Nothing happens outside recording.
    void RecordText(const QPointF& baseline, const QString& text, const QFont& font);
    // A device with the recording's resolution, for measuring text outside a page.
    QPaintDevice* MeasureDevice() { return &measure_; }
    TPreviewState State() const { return state_; }
    bool Aborted() const { return aborted_; }

    // Pages
    void ClearPages();
    int PageCount() const { return pages_.Count(); }
    TMetafileList& Pages() { return pages_; }
    int CurrentPage() const { return currentPage_; }
    void SetCurrentPage(int page);
    TPaperPreview* Sheet() const { return sheet_; }

    // Printing: false when nothing was printed (not idle, no pages, from > to, no target,
    // a job that could not start, was cancelled or failed; the last three say so).
    bool PrintRange(int from, int to);
    bool PrintAll() { return PrintRange(1, PageCount()); }

    // Unit conversion (integer multiply-divide)
    static int ConvertUnits(int value, int dpi, TUnits from, TUnits to);
    int PixelsToUnits(int value, int dpi) const;
    int ScreenToUnits(int value) const;
    int ScreenDpi() const;

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

    virtual bool DoProgress(int page, int done, int total);
    virtual void PaintPage(QPainter& painter, const QRect& pageRect);
    virtual void UpdatePixelSize();
    virtual void CreatePage();
    virtual void ClosePage();

  private:
    void PagesChanged();
    void Relayout();
    void ApplyPaperView();
    QPointF ScrollFraction() const;
    void RestoreScroll(const QPointF& fraction);
    void UpdateSheetCursor();
    bool SheetSize(QSize& size);  // the paper area in pixels for the zoom state
    void ScrollBy(int dx, int dy);
    void ZoomBy(int delta) { SetZoom(zoom_ + delta); }
    void DrawPage(QPainter& painter, int page, const QRect& rect, int dpiX, int dpiY);
    void DrawTexts(QPainter& painter, const TRecordedPage& page, const QRect& rect);
    bool PrintPages(QPrinter& printer, QPainter& painter, int from, int to);
    void ConfigurePrinter(QPrinter& printer) const;

    TMetafileList pages_;
    QPicture measure_;
    std::unique_ptr<TRecordedPage> page_;
    std::unique_ptr<QPainter> pagePainter_;
    int pageFont_ = -1;  // the page font that RecordText used last
    QPainter* printPainter_ = nullptr;
    QPrinter* printer_ = nullptr;
    QWidget* box_ = nullptr;  // holds the sheet inside the scroll area
    TPaperPreview* sheet_ = nullptr;
    TPreviewState state_ = TPreviewState::Idle;
    bool aborted_ = false;
    int copies_ = 1;
    TUnits units_ = mmHiMetric;
    TPrinterOrientation orientation_ = poPortrait;
    TPaperType paperType_ = pA4;
    int paperWidth_ = 21000, paperHeight_ = 29700;
    int pixelWidth_ = 1, pixelHeight_ = 1;
    TZoomState zoomState_ = zsZoomToFit;
    int zoom_ = 100;
    int currentPage_ = 0;
    int wheelDelta_ = 0;
    bool grabbing_ = false;
    QPoint grabPos_;
};

}  // namespace kjrep
