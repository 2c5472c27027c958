// Shared pieces of the invoice copy and the export of invoiced postings: field texts, the
// record lock of a posting taken for an edit (retried until granted, letting waiting
// messages through between tries), a pause of a table's BeforePost rule and field-change
// calculation while the window writes fields of its own, and the windows' messages.
// GUI thread.
#pragma once

#include <string>

#include "data/db_dataset.h"

namespace TzDs {
class TTzDbf;
}
class QWidget;

namespace kjrep {

// The field's text without trailing blanks.
std::string FieldText(Db::TDataSet& ds, const char* field);

// Puts the table into edit state on its current row and takes the row's record lock,
// trying again until it is granted; the row then holds the record as locked (nothing read
// before the lock survives). The lock goes with the next Post, or with CancelLocked.
void EditLocked(TzDs::TTzDbf& table);
void CancelLocked(TzDs::TTzDbf& table);

// Takes BeforePost of a table away while it lives and gives it back afterwards; the same
// for the calculation at every field change, as the fields the window writes change no
// calculated field (so a stored posting whose total is too large is no refusal of them).
class TBeforePostPause {
  public:
    explicit TBeforePostPause(Db::TDataSet& ds);
    ~TBeforePostPause();
    TBeforePostPause(const TBeforePostPause&) = delete;
    TBeforePostPause& operator=(const TBeforePostPause&) = delete;

  private:
    Db::TDataSet& ds_;
    Db::TDataSetNotifyEvent saved_;
    bool autoCalc_;
};

// A message (UTF-8 text) through the dialog service; the focus then goes to `focus`.
void Message(const char* utf8, QWidget* focus = nullptr);

}  // namespace kjrep
