// The data grid: a table view over a data source that reads only the rows it shows. Its
// model is a window over the dataset's record buffers (one grid data link whose buffer count
// is the number of visible rows); moving, paging and jumping go through the dataset, so the
// table's size never matters. One row is the dataset's current record.
//  1. Model rows = the link's record count, changed only between begin/end notifications;
//     model columns = the grid's columns, in their original order (a column dragged to
//     another place moves only in the header's visual order; Columns() follows that order).
//  2. The view's current row is always the link's active record; a click or key on another
//     row moves the dataset there, which posts a modified row and cancels an untouched
//     inserted one (the dataset's browse-mode rule).
//  3. Leaving the grid writes the open editor into the field and, with CancelOnExit, cancels
//     an untouched inserted row.
// GUI thread. Texts are Windows-1252 in the model and QString in the view.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/db_datasource.h"
#include "data/db_events.h"

class QScrollBar;

namespace Db {
class TField;
class TDataSet;
}  // namespace Db

namespace kjqt {

class TDBGrid;

enum TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

struct TColumn {
    TColumn() = default;
    TColumn(std::string fieldName) : FieldName(std::move(fieldName)) {}  // NOLINT: implicit
    TColumn(const char* fieldName) : FieldName(fieldName) {}             // NOLINT: implicit

    std::string FieldName;
    QString Title;   // empty: the field's display label
    int Width = -1;  // pixels; -1: from the field's display width
    bool ReadOnly = false;
    QStringList PickList;
    TColumnButtonStyle ButtonStyle = cbsAuto;
    Qt::Alignment Alignment = {};  // none: from the field
    Db::TField* Field = nullptr;   // bound while the dataset is open
};

class TDBGridModel : public QAbstractTableModel {
  public:
    explicit TDBGridModel(TDBGrid& grid);
    ~TDBGridModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    Db::TDataLink& Link();
    Db::TDataSet* DataSet() const;
    std::vector<std::unique_ptr<TColumn>>& Columns() { return columns_; }
    void ColumnsChanged();  // after the column list was changed
    // Puts the dataset into edit state for a change in a cell; false when it cannot edit.
    bool BeginEdit(int column);
    bool CanEdit(int column) const;
    // The field refused the last text written into it (its message was shown).
    bool WriteRefused() const { return writeRefused_; }

  private:
    friend class TGridDataLink;
    friend class TDBGrid;
    void Sync();            // rows, texts and indicator after the dataset moved or changed
    void BindColumns();     // fields of the columns; default columns for an empty list
    void ReadRow(int row);  // caches the display texts of one row
    QString Indicator(int row) const;

    TDBGrid& grid_;
    std::unique_ptr<Db::TDataLink> link_;
    std::vector<std::unique_ptr<TColumn>> columns_;
    bool defaultColumns_ = false;
    int rows_ = 0;
    std::vector<QStringList> texts_;  // [row][column]
    bool writeRefused_ = false;
};

// Draws a cell by hand: painter, cell, column, the row's field (its record is active while
// the handler runs), selected; set handled to skip the default drawing.
using TDrawColumnCellEvent =
    Db::Event<TDBGrid&, QPainter&, const QRect&, TColumn&, Db::TField*, bool, bool&>;

class TDBGrid : public QTableView {
  public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    void SetDataSource(Db::TDataSource* source);
    Db::TDataSource* DataSource() const;
    Db::TDataSet* DataSet() const { return model_->DataSet(); }

    // Columns in their current (visual) order. Change the list with SetColumns.
    std::vector<TColumn*> Columns() const;
    void SetColumns(const std::vector<TColumn>& columns);
    TColumn* Column(int visualIndex) const;
    TColumn* SelectedColumn() const;
    int SelectedIndex() const;  // visual index of the current column
    void SetSelectedIndex(int visualIndex);
    int VisibleRowCount() const;
    TDBGridModel& Model() { return *model_; }

    // Options.
    bool AllowEditing = true;
    bool AlwaysShowEditor = false;
    bool TabsBetweenCells = false;
    bool ConfirmDelete = true;
    bool CancelOnExit = true;
    bool RowSelect = false;
    void SetReadOnly(bool on);
    bool ReadOnly() const { return readOnly_; }

    Db::Event<TDBGrid&, TColumn&> OnTitleClick;
    Db::Event<TDBGrid&, int, int> OnColumnMoved;  // from, to (visual indexes)
    Db::Event<TDBGrid&> OnEditButtonClick;
    Db::Event<TDBGrid&> OnDblClick;
    Db::Event<TDBGrid&, QKeyEvent&> OnKeyDown;  // accept the event to consume the key
    TDrawColumnCellEvent OnDrawColumnCell;

    // Draws a check mark box (the owner drawing of Boolean columns).
    static void DrawCheckMark(QPainter& painter, const QRect& cell, bool checked);

    // The grid's own operations (keys and the record scroll bar use them).
    void NextRow(bool mayAppend);
    void PriorRow();
    void Page(int direction);
    void FirstRow();
    void LastRow();
    void InsertRow();
    void DeleteRow();
    void CancelRow();
    // Writes an open editor into its field and closes it; false when the field refused the
    // text (the editor stays open with the focus, for mending).
    bool CommitEditor();
    // Settles the row being edited, as every way out of the grid's row must: the open editor
    // is written into its field, a changed row is posted through `post` (the dataset's own
    // Post when empty; the table's question and rules run there and may drop it) and an
    // untouched one is cancelled. False when a field refused the editor's text or the row
    // is still in edit afterwards: the row and its open cell stay, and what was to follow
    // must not be done.
    bool SettleRow(const std::function<void(Db::TDataSet&)>& post = {});
    // The visual index of the first column that takes typing (not read-only, its field
    // neither read-only nor calculated); -1 when none does.
    int FirstTypingColumn() const;
    // Makes the first column that takes typing current; with onlyOffReadOnly, only when the
    // current column does not take typing.
    void ToTypingColumn(bool onlyOffReadOnly = false);

    // Called by the model after the dataset moved or changed.
    void SyncCurrent();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void updateGeometries() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool focusNextPrevChild(bool next) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    friend class TDBGridDelegate;
    friend class TDBGridHeader;
    friend class TDBGridModel;
    friend class TGridDataLink;
    void UpdateBufferCount();
    void UpdateRecordBar();
    void RecordBarAction(int action);
    void ApplyWidths();
    void FocusChanged(QWidget* now);
    void TabTo(bool forward);
    void ShowEditor();
    // A row the dataset has just started (inserted or appended) is typed from its first
    // column that takes typing, unless its cell is already being typed into.
    void RowStateChanged();
    template <class F>
    void Guarded(F body);  // runs a dataset operation; errors go to the application
    // A row step: with a dataset, writes the open editor, then runs body(dataset) guarded.
    template <class F>
    void RowStep(F body);

    std::unique_ptr<TDBGridModel> model_;
    class TDBGridDelegate* delegate_ = nullptr;
    QScrollBar* recordBar_ = nullptr;
    bool readOnly_ = false;
    bool hadFocus_ = false;  // the focus was last inside the grid
    bool syncing_ = false;
    bool inserting_ = false;  // the dataset was in insert state at the last state change
};

}  // namespace kjqt
