// The time sheet: an employee's postings for many cases typed into the scratch table
// timer.dbf and carried into poster.dbf when the window closes (kj_timer_transfer.h).
// RunTimeSheets is the whole run; it needs only the data module (opened), never the main
// window. GUI thread; one window at a time.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <string>

#include "app/kj_register.h"
#include "data/db_types.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QKeyEvent;

namespace Db {
class TDataSet;
}
namespace kjqt {
class TDBGrid;
class TDBLookupComboBox;
class TDBText;
}  // namespace kjqt

namespace kj {

class TKJData;

// Pickers and registers the time sheet calls; the program fills them in where those
// windows live. An empty slot answers "" (nothing chosen) or does nothing.
struct TimeSheetLinks {
    std::function<std::string()> PlukSag;                             // case number or ""
    std::function<std::string()> PlukVare;                            // item code or ""
    std::function<bool(Db::TDateTime&)> PlukDato;                     // true when chosen
    std::function<void(int32_t, const std::string&)> ShowBrugerForm;  // record no., key
    std::function<void(int32_t, const std::string&)> ShowVareIForm;
};
TimeSheetLinks& TimeSheetLinksState();

// The employee box: an editable list of the users' initials that reports leaving it.
class TBrugerBox : public QComboBox {
  public:
    explicit TBrugerBox(QWidget* parent) : QComboBox(parent) { setEditable(true); }
    std::function<void()> OnExit;

  protected:
    void focusOutEvent(QFocusEvent* event) override;

  private:
    bool inExit_ = false;
};

// The window: its controls and state; the run itself is in RunTimeSheets.
class TTimeSedlerForm : public QDialog {
  public:
    explicit TTimeSedlerForm(TKJData& data, QWidget* parent = nullptr);
    ~TTimeSedlerForm() override;

    std::string Employee;
    std::string LastCaseNo, LastText, LastDebitCredit = "D";
    Db::TDateTime LastDate = 0;

    QPlainTextEdit* HelpText;
    TBrugerBox* edtBruger;
    kjqt::TDBText* BrugerNavn;
    kjqt::TDBGrid* postGrid;
    QPushButton *SlutBtn, *NyBtn, *btnGendan, *SletBtn;
    QLabel* TimeSedlerStatus;

    void PostNewRecord(Db::TDataSet& ds);
    void PostBeforePost(Db::TDataSet& ds);
    void edtBrugerExit();
    void postGridColExit(const std::string& field);
    void postGridEditButtonClick();
    void NewPosting();
    void UndoPosting();
    void DeletePosting();
    bool CaseIsClosed();
    void SetStatus(const std::string& text);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

  private:
    void BuildLayout();
    void RegisterKey(RegKey key);
    // Settles the row being typed as every grid does (TDBGrid::SettleRow), a changed row
    // posted by PostOnClose. False when a cell refused its value: the window stays.
    bool FormCloseQuery();
    // The close's post: one attempt at the lock; refused, the row is dropped and the window
    // closes all the same.
    void PostOnClose(Db::TDataSet& ds);
    void LookUpItem(const std::string& padded);
    // Puts the focus back in the grid's cell of field after a message about it.
    void BackToCell(const std::string& field);
    void OpenRegister(const std::function<void(int32_t, const std::string&)>& show,
                      const std::string& key);
    TKJData& data_;
    bool closing_ = false;
};

// The whole run: initials, the window, and the transfer of its rows.
void RunTimeSheets();

// Process-wide: the window of the run in progress (nullptr between runs).
TTimeSedlerForm* CurrentTimeSheet();

}  // namespace kj
