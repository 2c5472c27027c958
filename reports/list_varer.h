// The item list "Liste over varer": every item under its item group (a group line, then
// the item column heads and one line per item), or, with " Udskriv kun varegrupper ", one
// line per item group with the group column heads on every page. GUI thread; opened
// modally from the main window's menu.
#pragma once

#include "reports/list_frame.h"

class QCheckBox;

namespace kjrep {

class TListVarerForm : public TListForm {
  public:
    explicit TListVarerForm(QWidget* parent = nullptr);
    QCheckBox* edtKunGrupper = nullptr;
    void btnVisClick(bool preview);

  private:
    void UdskrivVarer(TPreviewForm& form, bool onlyGroups);
};

// Opens the window modally and frees it.
void ShowListVarerForm();

}  // namespace kjrep
