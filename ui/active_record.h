// Reading another row of a data link's buffer window: the row becomes the dataset's active
// record while a body runs (drawing or reading its fields), and the previous active record
// comes back afterwards, also when the body throws. Used by the data grid and the card grid.
#pragma once

#include "data/db_datasource.h"
#include "storage/scope_exit.h"

namespace kjqt {

template <class F>
void WithActiveRecord(Db::TDataLink& link, int row, F&& body) {
    const int saved = link.ActiveRecord();
    link.SetActiveRecord(row);
    tz::ScopeExit restore([&link, saved] { link.SetActiveRecord(saved); });
    body();
}

}  // namespace kjqt
