// The item-group register "Varegrupper" (vareg.dbf): the grid register with its own
// OnNewRecord and BeforePost on the table while it is shown (stamps, the question, the
// duplicate check on the second cursor, the upper-cased ID), and the title-click search
// and filters. ShowVareGForm is the menu's and the items register's entry. GUI thread.
#pragma once

#include <string>

#include "app/grid_register.h"

namespace kj {

class TVareGForm : public TGridRegisterForm {
  public:
    TVareGForm();
    void NyVareGruppe();
    void SletVareGruppe();
    void GendanVareGruppe();
    void VareGNewRecord(Db::TDataSet& ds);
    void VareGBeforePost(Db::TDataSet& ds);

    void NewRow() override { NyVareGruppe(); }
    void DeleteRow() override { SletVareGruppe(); }
    void UndoRow() override { GendanVareGruppe(); }

  protected:
    void SearchColumn(int n) override;
};

// Shows the register modally at record recNo (>= 1) or the first row; a non-blank key
// starts a new group carrying it.
void ShowVareGForm(int32_t recNo, const std::string& key);
// The window while it is shown (nullptr otherwise).
TVareGForm* VareGForm();

}  // namespace kj
