// A small banded report framework: a report over a master dataset with a page header, a
// detail band per master row, a sub-detail band over a second dataset with its group
// header, and child bands chained to a band. Bands hold labels whose captions the bands'
// before-print events set; the pages are recorded in a print-preview component, then shown
// in the report's preview window or printed. Lengths are hundredths of a millimetre.
// GUI thread only.
//
// Building a report (Build):
//  1. The report's BeforePrint runs first and may stop the run; a master dataset without
//     rows makes no page (the report is not printed when empty).
//  2. The page header opens every page; the group header prints before the first
//     sub-detail row of each master row and again before a sub-detail row that starts a
//     new page (its own before-print event may still suppress it).
//  3. A band is measured after its before-print event; one that does not fit below the
//     last band starts a new page, unless the page holds nothing but its header.
//  4. A child band prints right after its parent each time the parent prints, while it
//     is enabled.
//  5. OnEndPage runs when each page is complete, the last one included.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Db {
class TDataSet;
}
class QPainter;
class QPushButton;

namespace kjrep {

class TPrintPreview;

enum class TQRSystemData { None, Date, PageNumber };
enum class TQRAlign { Left, Right, Center };

struct TQRLabel {
    std::string Name;
    int32_t Left = 0, Top = 0, Width = 0;  // in the band
    int32_t FontHeight = 350;
    bool Bold = false;
    TQRAlign Align = TQRAlign::Left;
    std::string Caption;  // Windows-1252; a system label prints it before its value
    TQRSystemData System = TQRSystemData::None;
};

class TQRBand {
  public:
    TQRBand(std::string name, int32_t height) : Name(std::move(name)), Height(height) {}
    std::string Name;
    int32_t Height;
    bool Enabled = true;
    bool RuleBelow = false;  // a thin line along the band's bottom
    std::vector<TQRLabel> Labels;
    TQRBand* ChildBand = nullptr;
    std::function<void(TQRBand&, bool& printBand)> BeforePrint;

    TQRLabel& Add(const std::string& name, int32_t left, int32_t top, int32_t width,
                  const std::string& caption = {}, TQRAlign align = TQRAlign::Left,
                  int32_t fontHeight = 350, bool bold = false);
    // The label of that name; a missing name is a programming error (std::out_of_range).
    TQRLabel& Label(const std::string& name);
};

class TQuickRep {
  public:
    TQuickRep();
    ~TQuickRep();

    std::string ReportTitle;  // Windows-1252; the print job's name
    int32_t PaperWidth = 21000, PaperHeight = 29700;
    int32_t Margins[4] = {1000, 1000, 1000, 1000};  // left, top, right, bottom
    int Zoom = 80;
    bool FirstPageHeader = true;

    Db::TDataSet* DataSet = nullptr;  // the master
    TQRBand* PageHeader = nullptr;
    TQRBand* Detail = nullptr;
    Db::TDataSet* SubDataSet = nullptr;
    TQRBand* SubDetail = nullptr;
    TQRBand* GroupHeader = nullptr;

    std::function<void(TQuickRep&, bool& printReport)> BeforePrint;
    std::function<void(TQuickRep&)> OnEndPage;
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };

    int PageNumber() const { return pageNumber_; }

    // Records the report's pages in the component; the number of pages (0: nothing).
    int Build(TPrintPreview& target);
    // Builds the report into the preview window and shows it modally; false when there
    // was nothing to show.
    bool Preview(QWidget* parent = nullptr);
    // Builds the report again and prints it; false when nothing was printed.
    bool Print();
    // The preview window while it is shown (tests press its buttons).
    QDialog* PreviewWindow() const { return window_; }

  private:
    void PrintBand(TQRBand& band, bool subDetailRow);
    void Room(int32_t height, bool subDetailRow);
    void NewPage();
    void EndPage();
    void Draw(const TQRBand& band);
    std::string LabelText(const TQRLabel& label) const;
    void BuildPages();

    TPrintPreview* target_ = nullptr;
    QDialog* window_ = nullptr;
    int pageNumber_ = 0;
    int32_t y_ = 0;
    bool pageHasBody_ = false;
};

}  // namespace kjrep
