// The preview window and the page engine every list and report draws through. One window
// lives for the program's lifetime (ReportHost::Preview). A report run:
//   PrepareReport(show) -> SetPaper(...) -> head list or OnNewReportPage -> StartReport()
//   -> PrintFields / PrintRule / NewReportPage ... -> FinishReport()
//   -> ShowReport() or PrintReport() -> ClearReport()   (ReportRun does the last step on
//   every path, also when the report throws).
// All lengths are hundredths of a millimetre measured from the sheet's top left corner;
// item positions count from the left margin and the current print line. GUI thread only.
//
// Invariants:
//  1. StartReport prints the first page's head exactly once: through OnNewReportPage when a
//     report set one, else through NewReportPage(false) with the head list.
//  2. No page break happens while a page head prints or while the print line is at the top
//     of the printable area, so a sheet too small for one line still ends.
//  3. ClearReport forgets the head list and OnNewReportPage, so a finished report is never
//     called again.
//  4. The window prints (its button, the page range) only between ShowReport and
//     ClearReport: never pages still being recorded, nor a page range of another run.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QFontMetrics>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "reports/print_preview.h"
#include "reports/report_util.h"
#include "reports/skriv_felt.h"
#include "reports/text_widths.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace kjrep {

// An item as the engine prints it: its box on the page (the page's units) and its text lines
// with their widths. A line of items is told whole, before it is drawn.
struct TPrintedItem {
    const std::string* name;  // in its list
    const TSkrivFelt* item;
    int64_t left, top;  // of the box on the page
    std::vector<QString> lines;
    std::vector<int64_t> widths;
};

class TPreviewForm : public QDialog {
  public:
    explicit TPreviewForm(QWidget* parent = nullptr);
    ~TPreviewForm() override;

    TPrintPreview* VisUdskrift = nullptr;
    QComboBox* edtZoom = nullptr;
    QLineEdit* edtFraSide = nullptr;
    QLineEdit* edtTilSide = nullptr;
    QPushButton* btnUdskriv = nullptr;
    QPushButton* btnSlut = nullptr;
    QLabel* SideNrCaption = nullptr;
    QWidget* pnlNav = nullptr;
    QScrollBar* SideScroll = nullptr;

    // Engine state (read by reports).
    int32_t PrintLeft = 0, PrintTop = 0, PrintRight = 0, PrintBottom = 0;
    int32_t CurrentY = 0;
    int32_t MarginLeft = 500, MarginRight = 500, MarginTop = 500, MarginBottom = 500;
    int32_t UsableWidth = 0;
    int PageNumber = 0;
    TSkrivListe* HeadList = nullptr;  // printed at the top of every page; not owned
    int32_t BlankWidthNormal = 0, BlankWidthSmall = 0;
    int32_t FontSize = 0, LineHeight = 0;
    // The running report's page-head routine, called at the top of every page.
    std::function<void()> OnNewReportPage;
    // Told every line of items printed (layout checks look at what a report prints).
    std::function<void(const std::vector<TPrintedItem>&)> OnLinePrinted;
    // The clock of "&DATO" and "&TID".
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };

    void PrepareReport(bool show);
    // orientation: 0 portrait, 1 sideways; margins left, top, right, bottom.
    void SetPaper(int code, int32_t width, int32_t height, int orientation, const TMargins& m);
    void SetFontSize(int n);  // 0 small, 1 normal, 2 large
    void StartReport();
    void FinishReport();
    void PrintFields(TSkrivListe& list);
    void NewReportPage(bool newSheet);
    void PrintRule(int32_t x1, int32_t x2, int32_t height, const std::string& text);
    void ClearReport();
    void ShowReport();
    bool PrintReport();

    // The printed text of an item (caption after substitution, or the field's text).
    std::string ItemText(const TSkrivFelt& item) const;
    std::string SubstituteCaption(const std::string& caption) const;
    // Lines of text as word wrap breaks it for a box of width (in the metrics' units).
    static std::vector<QString> WrapText(const QString& text, int32_t width, TTextWidths& fm);

    void btnUdskrivClick();
    void edtZoomChange(int index);

  private:
    struct Placed;
    struct Layout;
    Layout Measure(TSkrivListe& list);
    void Draw(const Layout& layout);
    void UpdatePrintable();
    void RunPageHead();
    void PreviewChanged();
    void SetPrintable(bool on);
    bool PrintPagesWithProgress(int from, int to);
    QFont ItemFont(int32_t height) const;
    // The metrics of an item font on the recording's device, made once per height and run.
    TTextWidths& Metrics(int32_t height);

    int32_t fontSizes_[3] = {0, 0, 0};
    std::map<int32_t, TTextWidths> metrics_;
    // The item font height last set on the page's painter (kNoFont: unknown).
    static constexpr int32_t kNoFont = INT32_MIN;
    int32_t canvasFontHeight_ = kNoFont;
    bool suppressNewPage_ = false;
    bool inPageHead_ = false;
    TBusyCursor busy_;
};

// Runs ClearReport when a report run ends, however it ends.
class ReportRun {
  public:
    explicit ReportRun(TPreviewForm& form) : form_(form) {}
    ~ReportRun() { form_.ClearReport(); }
    ReportRun(const ReportRun&) = delete;
    ReportRun& operator=(const ReportRun&) = delete;

  private:
    TPreviewForm& form_;
};

}  // namespace kjrep
