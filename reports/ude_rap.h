// The outstanding-amounts report "Udestående på sager": for a range of cases the sums of
// their postings, one line per case with a grand total (mode 0), per item (mode 1) or per
// item group (mode 2) with a case total. Options and layout in "UdeSager.kjr". Reads the
// shared tables without locks. GUI thread; opened modally from the main window's menu.
#pragma once

#include <cstdint>
#include <string>

#include "reports/report_window.h"

class QCheckBox;
class QComboBox;
class QRadioButton;
class QButtonGroup;

namespace kjrep {

class TUdeRapForm : public TReportWindow {
  public:
    explicit TUdeRapForm(QWidget* parent = nullptr);
    ~TUdeRapForm() override;

    QComboBox* EdtSagnr1 = nullptr;
    QComboBox* EdtSagnr2 = nullptr;
    QCheckBox* edtAktiveSager = nullptr;
    QButtonGroup* rgVisning = nullptr;

    int Visning() const;
    void SetVisning(int mode);
    void EdtSagnr1DropDown(QComboBox* box);
    void btnVisClick(bool preview);

  private:
    struct Run;
    void UdskrivSager(TPreviewForm& form, const std::string& from, const std::string& to, int mode,
                      bool onlyActive);
};

// Opens the window modally and frees it.
void RunOutstandingReport();

}  // namespace kjrep
