// TframeInteressent: the stakeholders of the current case on the main window's
// "Interessenter" tab, edited directly in interessent.dbf through InteressentDbf (no scratch
// copy). While the main window is resumed the frame's record handlers are on the table
// (HookEvents) and the data module's are kept; UnhookEvents gives them back. GUI thread.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "app/kj_register.h"
#include "data/db_dataset.h"

class QPushButton;
class QKeyEvent;

namespace kjqt {
class TDBGrid;
struct TColumn;
}  // namespace kjqt

namespace kj {

class TKJData;

class TframeInteressent : public QWidget {
  public:
    TframeInteressent(TKJData& data, QWidget* parent = nullptr);

    void LoadCaseInteressenter();
    void HookEvents();
    void UnhookEvents();
    bool CheckCaseEditable();
    void NewInteressent();
    void DeleteInteressent();
    void UndoInteressent();
    void ShowInteressent();
    // Settles a pending row before a window opens or the case changes: the open cell is
    // taken, a changed row is offered with the table's own question and saved or dropped by
    // the answer, an untouched one dropped. False when the cell refused its value (the box
    // said why; the row and its open cell stay).
    bool SettleRow();
    // The grid's keys (Ctrl+Ins, Ctrl+Del, Ctrl+Backspace, Ctrl+Enter); accepted when used.
    void GridKey(QKeyEvent& key);

    kjqt::TDBGrid* gridInteressent;
    QPushButton *btnNyInteressent, *btnSletInteressent, *btnGendanInteressent, *btnVisInteressent;

  private:
    void InteressentNewRecord(Db::TDataSet& ds);
    void InteressentBeforePost(Db::TDataSet& ds);
    void Stamp(Db::TDataSet& ds, bool created);
    void ButtonClick(QPushButton* button);
    void FillPickLists();
    void TitleClick(kjqt::TColumn& column);
    std::string CaseKey() const;  // the case number padded to 10, upper-cased

    TKJData& data_;
    std::optional<THandlerSwap> hook_;  // the frame's handlers on the table while hooked
};

}  // namespace kj
