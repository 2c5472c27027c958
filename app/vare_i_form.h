// The items register "Varer (Timer, Materialer og Udlæg)" (varer.dbf): the grid register
// with its own OnNewRecord and BeforePost while shown (stamps, the question, the duplicate
// check, a missing group offered for creation in a nested item-group register), the group
// filter and pick list, and the update of print priorities into every posting under the
// postings table's file lock. ShowVareIForm is the entry of the menu and the time sheet.
// GUI thread.
#pragma once

#include <QStringList>
#include <string>

#include "app/grid_register.h"

class QProgressBar;

namespace kj {

class TVareIForm : public TGridRegisterForm {
  public:
    TVareIForm();
    void NyVare();
    void SletVare();
    void GendanVare();
    void VareNewRecord(Db::TDataSet& ds);
    void VareBeforePost(Db::TDataSet& ds);
    void VareGridEditButtonClick();
    void btnOpdaterClick();
    // Fills the group column's pick list with every group's ID.
    void FillGroupPickList();

    void NewRow() override { NyVare(); }
    void DeleteRow() override { SletVare(); }
    void UndoRow() override { GendanVare(); }

    // The groups' IDs for the group column (its cells open the picker through the
    // ellipsis button, so the list is not offered as a drop-down).
    QStringList GroupPickList;
    std::string GroupFilter;  // remembered group of the group column's title click
    QPushButton* OpdaterBtn;

  protected:
    void SearchColumn(int n) override;

  private:
    void UpdatePriorities(QProgressBar& bar, const std::string& ini);
};

void ShowVareIForm(int32_t recNo, const std::string& key);
TVareIForm* VareIForm();

}  // namespace kj
