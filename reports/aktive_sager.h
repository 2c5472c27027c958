// The ongoing-cases report "Udskriv aktive sager": the cases not closed between a first and
// a last case, each with its head and optionally its events and its postings (sorted by
// date, by employee or by item, with subtotals per employee or item group and a case
// total). Layout and options in "AktiveSager.kjr". Reads the shared tables without locks.
// GUI thread; opened modally from the main window's menu.
#pragma once

#include <string>

#include "data/db_types.h"
#include "reports/date_picker.h"
#include "reports/report_window.h"

class QButtonGroup;
class QCheckBox;

namespace TzDs {
class TTzDbf;
}

namespace kjrep {

struct TActiveCasesOptions {
    std::string first, last;  // case numbers, upper case, trailing blanks removed
    bool preview = false;
    int sort = 1;  // 0 posting date, 1 employee, 2 item
    bool useDates = true, pagePerCase = true, postings = true, events = true;
    Db::TDateTime from = 0, to = 0;
};

class TAktiveSagerForm : public TReportWindow {
  public:
    explicit TAktiveSagerForm(QWidget* parent = nullptr);
    ~TAktiveSagerForm() override;

    QComboBox* EdtFraSag = nullptr;
    QComboBox* EdtTilSag = nullptr;
    TDatePicker* edtDato1 = nullptr;
    TDatePicker* edtDato2 = nullptr;
    QCheckBox* EdtMedtagHand = nullptr;
    QCheckBox* EdtMedtagPost = nullptr;
    QButtonGroup* EdtPosterSort = nullptr;
    QCheckBox* edtSkiftSide = nullptr;
    QCheckBox* edtAllePoster = nullptr;

    void CaseDropDown(QComboBox* box);
    void btnVisClick(bool preview);

  private:
    struct Run;
    void PrintCases(TPreviewForm& form, const TActiveCasesOptions& o);
    void UpdateEnabled();
};

// Opens the window modally, writes the options back and frees it.
void RunActiveCasesReport();

}  // namespace kjrep
