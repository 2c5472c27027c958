// Archive and restore of closed cases: TArkiverSager moves every closed case with its
// postings and events into AfsluttedeSager/-Poster/-Status.dbf and packs the live tables;
// TArkivForm copies one archived case back. Both are opened modally by their Execute
// routines and need only the data module (opened). GUI thread.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kjqt {
class TDBCtrlGrid;
}

namespace kj {

class TKJData;

struct ArchiveCounts {
    int cases = 0, postings = 0, events = 0;
};

// The archiving run: pass 1 copies each closed case's postings, events and the case into
// the archives and notes the record numbers it copied; pass 2 deletes exactly those rows
// (each under its table's file lock); then the live tables are packed. Rows marked deleted
// are never copied. The archive tables end closed, shared and writable. `status` gets each
// step's text, `shown` the counters as they grow.
ArchiveCounts ArchiveClosedCases(TKJData& d, const std::function<void(const std::string&)>& status,
                                 const std::function<void(const ArchiveCounts&)>& shown);

// Copies archived case `nr` (the archive tables open) with its postings and events back
// into the live tables; refused with "Sagen <N> findes allerede !!!" when the case exists.
bool RestoreArchivedCase(TKJData& d, const std::string& nr);

class TArkiverSager : public QDialog {
  public:
    explicit TArkiverSager(TKJData& data, QWidget* parent = nullptr);
    QPlainTextEdit* Memo1;
    QLineEdit *edtSager, *edtPoster, *edtStatus;
    QPushButton *btnOK, *btnSlut;
    QLabel* Status;
    void btnOKClick();

  private:
    TKJData& data_;
};

class TArkivForm : public QDialog {
  public:
    explicit TArkivForm(TKJData& data, QWidget* parent = nullptr);
    QPlainTextEdit* HelpText;
    kjqt::TDBCtrlGrid* sagGrid;
    QPushButton *btnGendan, *btnFind, *btnSlut;
    QLabel* Status;
    std::string LastNr;
    void btnGendanClick();
    void btnFindClick();
    void FindCase();

  private:
    TKJData& data_;
};

namespace KJArkiverSager {
void Execute();
}
namespace KJGendanSag {
void Execute();
}

}  // namespace kj
