// The employee list: the window "Liste over medarbejdere" and its list over the employee table, one
// band per record in the order of tag BRUGER. GUI thread; opened modally from the main window's
// menu.
#pragma once

#include "reports/list_frame.h"

namespace kjrep {

class TListBrugerForm : public TListForm {
  public:
    explicit TListBrugerForm(QWidget* parent = nullptr);
    void btnVisClick(bool preview);

  private:
    void UdskrivBrugere(TPreviewForm& form);
};

// Opens the window modally and frees it.
void ShowListBrugerForm();

}  // namespace kjrep
