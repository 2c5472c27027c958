// The grid's data link; shared by the grid model (db_grid_model.cpp) and the grid with its editors
// (db_grid.cpp).
#pragma once

#include "data/db_dataset.h"
#include "ui/db_grid.h"

namespace kjqt {

// ---- The grid's data link --------------------------------------------------------------------

class TGridDataLink : public Db::TDataLink {
  public:
    explicit TGridDataLink(TDBGridModel& model) : model_(model) {}

  protected:
    void ActiveChanged() override {
        model_.BindColumns();
        model_.Sync();
    }
    void DataSetChanged() override { model_.Sync(); }
    void DataSetScrolled(int) override { model_.Sync(); }
    void LayoutChanged() override {
        model_.BindColumns();
        model_.Sync();
    }
    void RecordChanged(Db::TField*) override { model_.Sync(); }
    void EditingChanged() override {
        model_.Sync();
        model_.grid_.RowStateChanged();
    }

  private:
    TDBGridModel& model_;
};

}  // namespace kjqt
