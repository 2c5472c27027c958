// The postal-code register "Pstnr. By" (postby.dbf): the grid register with its own
// BeforePost while shown (the question, the upper-cased code, the duplicate check); new
// rows keep the data module's OnNewRecord. ShowPostnrForm is the entry of the menu and of
// the card registers, which create a missing postal code through it. GUI thread.
#pragma once

#include <string>

#include "app/grid_register.h"

namespace kj {

class TPostnrForm : public TGridRegisterForm {
  public:
    TPostnrForm();
    void NyPostnr();
    void SletPostnr();
    void GendanPostnr();
    void PostnrBeforePost(Db::TDataSet& ds);

    void NewRow() override { NyPostnr(); }
    void DeleteRow() override { SletPostnr(); }
    // Ctrl+Backspace cancels the edit at once, without asking for the initials.
    void UndoRow() override;

  protected:
    void SearchColumn(int n) override;
};

void ShowPostnrForm(int32_t recNo, const std::string& key);
TPostnrForm* PostnrForm();

}  // namespace kj
