// The postings-per-employee report "Liste over posteringer": the postings of one employee
// or of all employees in a date range, grouped by employee (a band, the column heads, the
// postings and a total), optionally with a subtotal per day. Layout in "BrugerPoster.kjr".
// Reads the shared tables without locks. GUI thread; opened modally from the menu.
#pragma once

#include <string>

#include "data/db_types.h"
#include "reports/date_picker.h"
#include "reports/report_window.h"

class QCheckBox;

namespace kjrep {

class TListPostForm : public TReportWindow {
  public:
    explicit TListPostForm(QWidget* parent = nullptr);
    ~TListPostForm() override;

    QComboBox* EdtBruger1 = nullptr;
    TDatePicker* DateTimePicker1 = nullptr;
    TDatePicker* DateTimePicker2 = nullptr;
    QCheckBox* cbPrDag = nullptr;

    void EdtBruger1DropDown();
    void btnVisClick(bool preview);

  private:
    struct Run;
    void RunPostings(TPreviewForm& form, const std::string& key, bool perDay, Db::TDateTime from,
                     Db::TDateTime to);
};

// Opens the window modally, writes the page set-up back and frees it.
void RunEmployeePostingsReport();

}  // namespace kjrep
