// The postal-code list: the window "ListPostnrForm" and its list over the postal-code table, one
// band per record in the order of tag POSTNR. GUI thread; opened modally from the main window's
// menu.
#pragma once

#include "reports/list_frame.h"

namespace kjrep {

class TListPostnrForm : public TListForm {
  public:
    explicit TListPostnrForm(QWidget* parent = nullptr);
    void btnVisClick(bool preview);

  private:
    void UdskrivPostnr(TPreviewForm& form);
};

// Opens the window modally and frees it.
void ShowListPostnrForm();

}  // namespace kjrep
