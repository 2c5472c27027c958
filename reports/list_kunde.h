// The customer list: the window "Liste over kunder" and its list over the customer table, one band
// per record in the order of tag KUNDE. GUI thread; opened modally from the main window's menu.
#pragma once

#include "reports/list_frame.h"

namespace kjrep {

class TListKundeForm : public TListForm {
  public:
    explicit TListKundeForm(QWidget* parent = nullptr);
    void btnVisClick(bool preview);

  private:
    void UdskrivKunder(TPreviewForm& form);
};

// Opens the window modally and frees it.
void ShowListKundeForm();

}  // namespace kjrep
