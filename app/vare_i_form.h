// The items register "Varer (Timer, Materialer og Udlæg)" (varer.dbf): the grid register
// with its own OnNewRecord and BeforePost while shown (stamps, the question, the duplicate
// check, a missing group offered for creation in a nested item-group register), the group
// filter and pick list, and the update of print priorities into every posting under the
// postings table's file lock. ShowVareIForm is the entry of the menu and the time sheet.
// GUI thread.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

#include "app/grid_register.h"

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
};

// Every posting whose item's group is known gets the group's print priority, stamped today
// by `ini`, under the postings table's file lock (taken again and again until granted);
// `step` is called after every record. The item and group look-ups hold their index read
// counts across the run, the postings' count is held between the changes.
void UpdatePostingPriorities(const std::string& ini, const std::function<void()>& step);

void ShowVareIForm(int32_t recNo, const std::string& key);
TVareIForm* VareIForm();

}  // namespace kj
