// TKJSagerForm: the program's main window. One case at a time in a header of data-aware
// fields over SagsDbf, the buttons and keys that save, undo, delete, create and search cases,
// the navigation buttons, the menus and the tabbed area below. While it is resumed it holds
// its own record handlers on the case, event and posting tables (the data module's are kept
// in SavedHandlers) and gives them back around every modal window (SuspendData/ResumeData).
// Invariants:
//  1. Resumed exactly while `resumed_`; then SagsDbf, StatusDbf and PostDbf carry the
//     window's handlers (or none) and SavedHandlers holds the data module's.
//  2. Field enter and exit handlers run only for focus moves between this window's own
//     controls: a message box, a popup list or another window taking the focus runs none,
//     and the focus coming back from one runs none either.
//  3. Gem and Gendan are enabled exactly while SagsDbf is not in browse state.
// GUI thread; one instance, made by the program through the main window factory.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <string>
#include <vector>

#include "data/db_dataset.h"
#include "data/db_datasource.h"
#include "ui/application.h"

class QAction;
class QLabel;
class QLineEdit;
class QVBoxLayout;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace kjqt {
struct TColumn;
class TDBComboBox;
class TDBEdit;
class TDBGrid;
class TDBMemo;
class TDBText;
}  // namespace kjqt

namespace TzDs {
class TTzDbf;
}

namespace kj {

class TKJData;
class TOpstartForm;
class TframeInteressent;

// The status bar's one panel: its text drawn one pixel right of and below its corner.
class TStatusPanel : public QWidget {
  public:
    explicit TStatusPanel(QWidget* parent = nullptr);
    void SetText(const QString& text);
    QString Text() const { return text_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

class TKJSagerForm : public QMainWindow {
  public:
    TKJSagerForm(TKJData& data, QWidget* parent = nullptr);
    ~TKJSagerForm() override;

    // The creation: start-up files, data folder, first view. nullptr after showing why.
    static TKJSagerForm* FormCreate(TKJData& data, const std::string& argument,
                                    TOpstartForm* splash);
    // Installs FormCreate as the program's main window factory.
    static void InstallFactory();

    // ---- Services of the window ----
    void SetNavCaptions(bool searching);
    void RefreshViews();
    bool CaseIsClosed();
    bool ClosingDatePassed();
    // Offers a changed case for saving: "Data er ændret, skal de gemmes?", Ja saves it by
    // Gem's rules, Nej drops the change; an edit nobody changed is dropped unasked. False
    // while the case stays in edit because Gem refused it: what was to follow is not done.
    bool AskSavePending();
    // "Data er ændret, skal de gemmes?": true for Ja.
    static bool AskDataChanged();
    // What leaving settles of the case's header after the rows of every grid.
    enum class Header {
        Keep,        // the case stays shown (a tab change, a grid's filter)
        Save,        // a move to another case: a changed header is saved by Gem's rules
        Ask,         // a new case, a menu window, Åben sagen igen: AskSavePending
        NumberMove,  // a move by the case-number field: the typed number says where to go
        Drop,        // the case is being deleted: a pending edit is dropped
        Close,       // closing: saved by Gem's rules; refused, the user decides once
    };
    // The one way out of the current case, its rows or the window: settles the rows of every
    // grid (events, postings, stakeholders), then the header as `header` says. False when a
    // cell or the case refused (the box said why; the value stays where it was typed): the
    // caller must then change nothing, no move, no tab, no window.
    bool MayLeave(Header header);
    // False when a pending row or case could not be settled (a refused cell value, a case
    // Gem refuses): the window stays resumed and nothing modal may open.
    bool SuspendData();
    void ResumeData();
    bool Resumed() const { return resumed_; }
    // Runs body as a modal step: SuspendData before, ResumeData after (also on a throw; an
    // error of its own is shown there, as nothing may leave a destructor). False, and body
    // not run, when the window could not be suspended.
    template <class F>
    bool Modal(F body) {
        if (!SuspendData()) return false;
        struct Back {
            TKJSagerForm* f;
            ~Back() {
                kjqt::Guarded([this] { f->ResumeData(); });
            }
        } back{this};
        body();
        return true;
    }

    // ---- The case's events and postings (main_form_rows.cpp) ----
    struct RowKind;  // what differs between the events and the postings
    void LoadCaseEvents();
    void LoadCasePostings();
    void NewEvent();
    void DeleteEvent();
    void UndoEvent();
    void ToggleEventDone();
    void NewPosting();
    void DeletePosting();
    void UndoPosting();
    void InvoicePosting();  // " Opret faktura post "
    // A word filter as a title click sets it; false after refusing the word.
    bool ApplyWordFilter(kjqt::TDBGrid& grid, const std::string& field, const QString& word);

    // ---- Commands ----
    void BtnGemClick();
    void BtnGendanClick();
    void BtnNySagClick();
    void BtnSletClick();
    void BtnSearchClick();
    void NavClick(QPushButton* button);
    void SkiftModeClick();
    void ReopenCase();  // "Åben sagen igen"

    // ---- Controls (public so that tests drive them as a user does) ----
    kjqt::TDBComboBox *edtSagsNr, *edtType, *edtAnsvar, *edtKunde;
    kjqt::TDBEdit *edtTypeGem, *edtMatnr, *edtSagDisk, *edtAfslut;
    kjqt::TDBEdit *edtOpret, *edtAjour, *edtAjourIni;
    kjqt::TDBMemo* edtBeskriv;
    kjqt::TDBText *edtAnsvarTekst, *edtKundeTekst;
    QPushButton *BtnGem, *BtnGendan, *BtnSlet, *BtnNySag, *BtnSearch;
    QToolButton* SkiftMode;
    QPushButton *BtnFirst, *btnPrior, *btnNext, *btnLast;
    TStatusPanel* KJStatus;
    QTabWidget* PageSager;
    kjqt::TDBGrid *StatusGrid, *posterGrid, *brugerGrid, *kundeGrid, *SagsGrid;
    QPushButton *statusNyBtn, *statusSletBtn, *btnGendanStatus, *statusSkiftBtn;
    QPushButton *posterNyBtn, *posterSletBtn, *btnGendanPost, *btnFakturaPost;
    QLineEdit* edtPostTotal;
    int64_t PostTotal = 0;  // ten-thousandths
    QPushButton *btnRetBruger, *btnRetKunde;
    TframeInteressent* frameInteressent;
    QPlainTextEdit* HelpText;
    QAction *MenuAfslut, *MenuVisTotal, *MenuAabenIgen;

    std::string SearchWord;
    std::string CurrentSagsNr;
    const std::string& StatusText() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // ---- Building (main_form.cpp) ----
    void BuildHeader(QWidget* host);
    void BuildButtons(QWidget* host);
    void BuildMenus();
    void BuildTabs();
    void BuildHelpText();
    QAction* AddMenuItem(QMenu* menu, const char* objectName, const char* caption);
    void SetStatus(const std::string& ansi);
    void ShowHint(const QString& hint);
    QWidget* HeaderControlOf(QWidget* w) const;
    void OnFocusChanged(QWidget* now);
    void FieldEnter(QWidget* control);
    void FieldExit(QWidget* control);
    bool HandleKey(QObject* target, QKeyEvent& key);
    bool UpperCaseKey(QObject* target, QKeyEvent& key);
    void EnterKey(QWidget* focused);
    // Writes the focused field into the case; false (after the box) when its text is refused.
    bool TakeFieldData(QWidget* focused);

    // ---- Navigation and the header fields (main_form_nav.cpp) ----
    void AfterMove();
    void FixEnds();
    bool SearchFromTop(const std::string& word);
    bool SearchOn(const std::string& word);
    void NavSearch(int which, const std::string& word);
    void SagsNrPage(QKeyEvent& key);
    void RegisterPage(QKeyEvent& key, bool customer);
    void SagsNrDropDown();
    void SagsNrChosen();
    void SagsNrExit();
    void RegisterDropDown(bool customer);
    void RegisterExit(bool customer);
    void SetCaseOrder(const char* tag);
    void EnterSkiftField(const char* tag);
    bool LookUpName(bool customer);
    void ShowNameLabel(bool customer, bool show);
    bool CodeExists(bool customer);
    void PutCodeBack(const char* field, const std::string& number, const std::string& code);

    // ---- Case lifecycle (main_form_case.cpp) ----
    void CaseNewRecord(Db::TDataSet& ds);
    void CaseBeforePost(Db::TDataSet& ds);
    void CaseBeforeEdit(Db::TDataSet& ds);
    void SagsDataStateChange(Db::TDataSource& source);
    // Save's rules: false after saying why and cancelling the edit.
    bool CaseMayBeSaved();
    // False when another station deleted the case: nothing written, the user told.
    bool PostCase();
    void CaseGone();
    bool ChangedBesidesNumber();
    // The header before a number move: false while the case stays in edit because Save's
    // rules refused it (a code found nowhere); the move is then not made.
    bool SettleCaseForNumberMove();
    // A move away from the case: a modified edit is saved by Save's rules, else cancelled.
    bool PostOrCancelCase();
    // Whether a case has this number, whatever filter and order the header's cursor has.
    bool CaseNumberExists(const std::string& number);
    void CreateTypedCase(const std::string& number);
    void AppendCase(const std::string& number, bool stampInitials);
    void RepaintCaseOverview();
    void TypeExit();
    void AddStandardEvents();
    void LockRecord(TzDs::TTzDbf& table);
    void LockAppend(TzDs::TTzDbf& table);
    void DeleteCaseRows(TzDs::TTzDbf& table, const char* tag, const char* field,
                        const std::string& number);
    void DetachControls();
    void AttachControls();

    // ---- Events and postings (main_form_rows.cpp) ----
    const RowKind& Events() const;
    const RowKind& Postings() const;
    void BuildRowTabs(QVBoxLayout* events, QVBoxLayout* postings);
    void LoadCaseRows(const RowKind& k);
    void RecreateScratch(TzDs::TTzDbf& scratch);
    void HookScratch(const RowKind& k, bool on);
    void RowNewRecord(const RowKind& k, Db::TDataSet& ds);
    void RowBeforePost(const RowKind& k, Db::TDataSet& ds);
    bool OwnSharedRow(const RowKind& k, int32_t recNo);
    void WriteBack(const RowKind& k, bool isNew);
    bool SharedRowDeleted(const RowKind& k, int32_t recNo);
    void RowGone(const RowKind& k);
    void NewRow(const RowKind& k);
    void DeleteRow(const RowKind& k);
    void UndoRow(const RowKind& k);
    bool RefuseClosed(const RowKind& k, bool edit);
    void GridKey(const RowKind& k, QKeyEvent& key);
    bool EditorKey(QWidget* focused, QKeyEvent& key);  // true: the key was the grid's
    // No current case (none, or a blank number, or one another station deleted): says so
    // and cancels ds's row. Every save of a row of the case passes here first.
    bool RefuseNoCase(Db::TDataSet* ds);
    bool RefuseBlankCase(Db::TDataSet* ds);
    void PickButton(const RowKind& k);
    // Fills in the typed item's text, price and VAT; quiet: an unknown item says nothing.
    void ItemColumnExit(bool quiet = false);
    void GridFocus(QWidget* old, QWidget* now);
    // Settles every pending row of the window (events, postings, stakeholders) as leaving
    // its grid does (TDBGrid::SettleRow). False when a cell refused its value: the box has
    // said why, the row and its open cell stay, and what was to follow is not done.
    bool SettleRows();
    // A click, key or wheel turn on the tab bar that would show another tab: true when the
    // gate refused it (the event is then swallowed).
    bool TabBarRefused(QEvent* event);
    // The same for a key the tab widget itself takes to show another tab (Ctrl+Tab).
    bool TabWidgetKeyRefused(QEvent* event);
    void TabChanged(int index);
    bool SettleRow(const RowKind& k);
    void ShowPostTotal();
    void TitleClick(kjqt::TDBGrid& grid, kjqt::TColumn& column);
    void WireGrids();
    void RegisterDblClick(bool customer);
    void RetRegister(bool customer);

    // ---- Start-up, suspend/resume, views (main_form_life.cpp) ----
    void InitView();
    void FormActivate();
    void FormDeactivate();
    // False when the window must stay: a value or case that cannot be saved as it stands,
    // after the user's answer.
    bool FormCloseQuery();
    // The header at closing: a changed case is saved by Gem's rules; refused, the user is
    // asked once whether to keep it (the window stays) or drop it. False: the window stays.
    bool SettleCaseOnClose();
    void PostOnClose(TzDs::TTzDbf& table);
    void GiveHandlersBack();
    void LoadCaseInteressenter();
    void RunMenuCommand(const std::string& name);

    TKJData& data_;
    bool resumed_ = false;
    bool active_ = false;
    QPointer<QWidget> lastFocus_;
    bool inExit_ = false;
    // The application's focus-change connections, cut first thing in the destructor: Qt
    // deletes the controls (moving the focus) only after this class's part is gone.
    std::vector<QMetaObject::Connection> focusLinks_;
    std::string statusText_;

    std::string SavedAnsvar, SavedKunde, SavedType, StoredAfslut, StoredSagsNr;
    // The responsible employee and the customer the edited case has on disk.
    std::string StoredAnsvar, StoredKunde;
    std::string typeCase_;     // the case whose type SavedType holds
    std::string askedCode_;    // the missing code last offered for creating, with its case
    int32_t SuspendRecNo = 0;  // the case row to return to when the data is resumed
    bool TitleClickArmed = true;
    int shownTab_ = 0;   // the tab whose views are loaded
    int quietItem_ = 0;  // above 0: a changed item fills in nothing
    Db::TDateTime LastEventDate = 0, LastPostDate = 0;
    std::string LastEventNavn, LastPostAns, LastPostTmu, LastPostDk;

    struct Handlers {
        Db::TDataSetNotifyEvent statusNew, statusBeforePost;
        Db::TDataSetNotifyEvent postNew, postBeforePost, postAfterPost;
        Db::TDataSetNotifyEvent sagsNew, sagsBeforePost, sagsBeforeEdit;
    } SavedHandlers;
    Db::Event<Db::TDataSource&> savedStateChange_;
};

}  // namespace kj
