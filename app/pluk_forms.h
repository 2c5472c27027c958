// The pickers: small modal windows from which the user chooses one item group, case, item,
// employee, standard event line or date. The list pickers show the data module's main
// dataset of their register and leave its current row where the user chose (also on
// cancel). Each routine hands the choice back through its out-parameter, "" on cancel; the
// date picker returns the start date on cancel. GUI thread.
#pragma once

#include <QDialog>
#include <string>

#include "data/db_types.h"

class QCalendarWidget;
class QLineEdit;
class QTableWidget;

namespace kjqt {
class TDBGrid;
}

namespace kj {

// A list picker over one data source: a read-only hint line above a read-only grid; Enter
// or a double click chooses, Escape cancels.
class TPlukListForm : public QDialog {
  public:
    TPlukListForm(const char* caption, const char* hint, const char* source, const char* field1,
                  const char* field2, bool indicator);
    QLineEdit* Hint;
    kjqt::TDBGrid* List;
};

class TPlukVareGForm : public TPlukListForm {
  public:
    TPlukVareGForm();
};
class TPlukSagForm : public TPlukListForm {
  public:
    TPlukSagForm();
};
class TPlukVareIForm : public TPlukListForm {
  public:
    TPlukVareIForm();
};
class TPlukBrugerForm : public TPlukListForm {
  public:
    TPlukBrugerForm();
};

// The standard-event picker: one row per line of "StdHand.dbs" in the data folder.
class TPlukStatusForm : public QDialog {
  public:
    TPlukStatusForm();
    QLineEdit* Hint;
    QTableWidget* List;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class TPlukDatoForm : public QDialog {
  public:
    explicit TPlukDatoForm(Db::TDateTime start);
    QLineEdit* Hint;
    QCalendarWidget* Calendar;
    Db::TDateTime Chosen = 0;
};

void PlukVareGruppe(const std::string& start, std::string& result);
void PlukSag(const std::string& start, std::string& result);
void PlukVare(const std::string& start, std::string& result);
void PlukBruger(const std::string& start, std::string& result);
void PlukStatus(const std::string& start, std::string& result);
Db::TDateTime PlukDato(Db::TDateTime start);

}  // namespace kj
