// The card grid: RowCount panels above each other, each showing one record of the data
// source's buffer window. The window builds one card (BuildPanel puts data-aware controls
// on an empty panel); the grid builds it once more for every row. The live card stands at
// the dataset's active record with its controls attached to the data source; the other
// cards are copies whose controls are detached and filled from their own record, and a
// click on one moves the dataset there.
//  1. Cards shown = the link's record count; the live card's row = the active record.
//  2. Keys typed anywhere in the live card reach OnKeyDown first (accept to consume), then
//     the grid's own keys: Up/Down prior/next, PgUp/PgDn a page, Ctrl+Home/End and
//     Ctrl+PgUp/PgDn first/last, Insert append, Ctrl+Delete delete, Escape cancel.
// GUI thread.
#pragma once

#include <QFrame>
#include <functional>
#include <memory>
#include <vector>

#include "data/db_datasource.h"
#include "data/db_events.h"

class QKeyEvent;

namespace kjqt {

enum TDBCtrlGridKey {
    gkNull,
    gkPrior,
    gkNext,
    gkPageUp,
    gkPageDown,
    gkFirst,
    gkLast,
    gkAppend,
    gkInsert,
    gkDelete,
    gkCancel
};

class TDBCtrlGrid : public QFrame {
  public:
    explicit TDBCtrlGrid(QWidget* parent = nullptr);
    ~TDBCtrlGrid() override;

    // Builds the cards; call once, before or after the data source is set.
    void SetPanelBuilder(std::function<void(QWidget& panel)> build);
    void SetDataSource(Db::TDataSource* source);
    Db::TDataSource* DataSource() const;
    Db::TDataSet* DataSet() const;

    int RowCount() const { return rowCount_; }
    void SetRowCount(int rows);
    int PanelHeight() const { return panelHeight_; }
    void SetPanelHeight(int height);
    bool AllowInsert = true;
    bool AllowDelete = true;

    // The card with the dataset's record and its live controls.
    QWidget* LivePanel() const;
    // The card shown in row i (the live card at the active row).
    QWidget* Panel(int row) const;
    int PanelIndex() const;  // the active row

    void DoKey(TDBCtrlGridKey key);

    Db::Event<TDBCtrlGrid&, QKeyEvent&> OnKeyDown;
    // After a card was filled, with its record active (town names, type labels ...).
    Db::Event<TDBCtrlGrid&, QWidget&, int> OnPaintPanel;

    void Sync();  // called by the grid's link

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class Card;
    bool HandleKey(QKeyEvent& event);
    void BuildCards();
    void PlaceCards();
    void FillCopy(Card& card, int row);
    void CardClicked(int row);

    std::unique_ptr<Db::TDataLink> link_;
    std::function<void(QWidget&)> build_;
    Card* live_ = nullptr;
    std::vector<Card*> copies_;  // one per row; the one at the active row is hidden
    int rowCount_ = 3;
    int panelHeight_ = 72;
    bool syncing_ = false;
};

}  // namespace kjqt
