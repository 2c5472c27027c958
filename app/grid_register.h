// The frame of the three grid registers (item groups, items, postal codes): help text,
// data grid, a row of buttons and a status line; the register keys; the title-click switch
// and the searchable columns noted by identity; one post attempt of a pending edit on
// closing. The windows derive from it and add their rows' rules. GUI thread, modal.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "app/kj_register.h"
#include "ui/db_grid.h"

class QHBoxLayout;
class QLabel;
class QPushButton;
class QStatusBar;

namespace kj {

class TGridRegisterForm : public QDialog {
  public:
    TGridRegisterForm(TzDs::TTzDbf& table, const char* source, const QString& caption,
                      const QString& help, const std::vector<kjqt::TColumn>& columns);

    kjqt::TDBGrid* Grid;
    QLabel* Help;
    QStatusBar* Status;
    QPushButton* SlutBtn;

    // Arms the title-click switch and notes the identities of the searchable columns
    // (indexes into the grid's columns as built).
    void ArmTitleClicks(const std::vector<int>& searchable);
    // The row actions of the register keys and buttons.
    virtual void NewRow() = 0;
    virtual void DeleteRow() = 0;
    virtual void UndoRow() = 0;
    void done(int result) override;

  protected:
    // A title click on searchable column n (its place in the noted list).
    virtual void SearchColumn(int n) = 0;
    QPushButton* AddButton(const char* text, const std::function<void()>& action);
    void RepaintAndFocus();
    // After a new row's append: its first typable column, repainted and focused.
    void StartNewRow();
    // How a new row's append is locked: the whole file, or the append lock alone.
    enum class AppendLock { File, Append };
    // Starts a new row (appended under `lock`, then edited) when the user has initials,
    // after the row being typed is settled (SettleRow); none while that row stays.
    void AppendNewRow(AppendLock lock = AppendLock::File);
    // Settles the row being typed (its open cell, its question, its post under the row's
    // lock); false while a value its cell refused keeps it.
    bool SettleRow();
    // Deletes the current row under its record lock when the user has initials and answers
    // Yes to `question` (Windows-1252) followed by a line naming the row (rowText, read
    // after the open cell editor is written into the row, so a key still being typed is
    // named). A new row is only cancelled.
    void DeleteAfterQuestion(const std::string& question,
                             const std::function<std::string()>& rowText);
    // Drops the pending edit with what the open cell editor holds (typed text left in the
    // editor would otherwise be written into whichever row is current next).
    void CancelEdit();
    // A new row's stamps (creation and change date today, the update initials); false, with
    // the new row cancelled, while a filter is on or without initials.
    bool StampNewRow(Db::TDataSet& ds, const char* created, const char* changed,
                     const char* initials);
    TzDs::TTzDbf& table_;

  private:
    void TitleClick(kjqt::TColumn& column);
    QHBoxLayout* buttons_;
    bool titleSwitch_ = false;
    std::vector<kjqt::TColumn*> searchable_;
};

}  // namespace kj
