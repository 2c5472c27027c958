// The frame every report window of the registers and case reports stands on: a modal
// dialog over one report-layout file, its variant list and buttons (TReportFrame), a status
// bar, the write-back of variant, options and page set-up when the dialog closes however it
// closes, and the run of one report with the window's buttons disabled. GUI thread.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "reports/report_variants.h"

namespace Db {
class TDataSet;
class TField;
}  // namespace Db

class QStatusBar;
class QVBoxLayout;

namespace kjrep {

class TPreviewForm;

// A combo box that tells when its list is about to drop down (the windows fill their case
// and employee lists then, once).
class TDropCombo : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override {
        if (OnDropDown) OnDropDown();
        QComboBox::showPopup();
    }
};

// An editable box whose text starts with what matters (a case number before its
// description): the start of the text shows whenever the box is not being typed in.
class TStartCombo : public TDropCombo {
  public:
    explicit TStartCombo(QWidget* parent);

  protected:
    void focusOutEvent(QFocusEvent* event) override;
};

class TReportWindow : public QDialog {
  public:
    // Writes the layout file from its resource when it is missing.
    TReportWindow(const std::string& fileName, const QString& caption, QWidget* parent);

    TReportVariants Variants;
    TReportFrame* Frame = nullptr;
    QStatusBar* Status = nullptr;

    // The variant list, the last variant and its options and page set-up; the window's own
    // controls must exist (ReadOptions sets them).
    void OpenVariants();
    void done(int result) override;

  protected:
    QVBoxLayout* Body = nullptr;  // the window's own controls go here, above the frame
    // One run: buttons disabled and the hourglass while it lasts; PrepareReport, build,
    // then ShowReport or PrintReport; ClearReport on every path.
    void RunReport(bool preview, const std::function<void(TPreviewForm&)>& build);

  private:
    bool written_ = false;
};

// While alive, the value items of list print blank: those bound to a field of table (every
// value item when table is none), unless the report set a text of its own. A band whose row
// was not found prints blanks rather than the values of whatever row the table is on.
class TBlankItems {
  public:
    TBlankItems(TSkrivListe& list, const Db::TDataSet* table, bool on);
    ~TBlankItems();
    TBlankItems(const TBlankItems&) = delete;
    TBlankItems& operator=(const TBlankItems&) = delete;

  private:
    std::vector<std::pair<TSkrivFelt*, Db::TField*>> saved_;
};

// The from-case and to-case boxes of the windows over a range of cases.
// A box: editable, typing adds nothing to its list, dropDown runs before the list drops down,
// the start of a case's text shows (set, chosen from the list, or left).
TDropCombo* NewCaseBox(QWidget* parent, const std::function<void(QComboBox*)>& dropDown);
// The description of the case table's current case; empty when the table is on none.
QString CurrentCaseText();
// An empty box gets the descriptions of the undeleted cases, the typed text kept; the status
// bar says so meanwhile. letThrough: waiting messages run between the cases.
void FillCaseList(QComboBox* box, QStatusBar* status, bool letThrough);
// The case number typed in a box: its first ten characters without trailing blanks, upper case.
std::string CaseNoOf(const QComboBox* box);

// SetPaper with the page set-up's paper code, size, orientation and margins.
void SetPaperFromSetup(TPreviewForm& form);
// A sum's text into the item "Data" + key of list, else the item key; none: not shown.
void SetItemText(TSkrivListe& list, const std::string& key, const std::string& text);

}  // namespace kjrep
