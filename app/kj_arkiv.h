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
// A case's move is the unit that is done or not, whatever stops a run: a row is copied only
// when the archive holds no equal row of the case that is not already matched (a run that
// was stopped copied it), and the case row only when no equal case row is archived; a live
// row is deleted only after its copy is in. A new run thus carries on where a stopped one
// ended, and every row is once live or once archived.
ArchiveCounts ArchiveClosedCases(TKJData& d, const std::function<void(const std::string&)>& status,
                                 const std::function<void(const ArchiveCounts&)>& shown);

// Moves archived case `nr` (the archive tables open, the case archive on its row) with its
// postings and events back into the live tables and out of the archives; refused with
// "Sagen <N> findes allerede !!!" when a live case has that number. Done or not, whatever
// stops it:
//  1. The postings and events are appended marked deleted (hidden from every reader), each
//     with the restore mark ("@R" and 15 random hexadecimal digits) in its filler; a stop
//     here leaves nothing visible (the hidden rows go at the next pack).
//  2. The case row is appended with the same mark: the restore is visible and the mark
//     says it is not finished. Then the hidden rows are recalled (any that a pack removed
//     meanwhile are copied again), the archive's rows of the case are deleted, and the mark
//     is cleared.
//  A restore of a case whose live row still has a mark finishes it from step 2 without
//  copying anything twice. The restore holds the record lock on the archived case row from
//  its first step to its last.
bool RestoreArchivedCase(TKJData& d, const std::string& nr);

// Finishes every restore that was interrupted (a live case row still carries its restore
// mark) from step 2, unless it is running on another station right now (its archived case
// row is locked), and tells the user of each case so finished. The archive tables are
// opened shared for it when closed and closed again; while another station holds them
// alone nothing is done. Run at start-up, once the data files are open, and when the
// restore window opens.
void FinishInterruptedRestores(TKJData& d);

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
