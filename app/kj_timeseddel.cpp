// The time-sheet window and its run (see kj_timeseddel.h).
#include "app/kj_timeseddel.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/kj_timer_transfer.h"
#include "app/kj_util.h"
#include "data/db_fields.h"
#include "data/db_format.h"
#include "storage/scope_exit.h"
#include "storage/tz_utils.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

struct State {
    TTimeSedlerForm* form = nullptr;
    TimeSheetLinks links;
};
State g_state;

std::string Upper(const std::string& s) {
    return TzUtils::AnsiUpper(s);
}

const char* const kHelp[] = {
    "Registrering af timesedler. Brug <Tab> til at skifte mellem indtastningsfelter.",
    "Posteringerne registreres for den medarbejder der er valgt i feltet Medarbejder.",
    "Varer kan vælges med knappen i kolonnen Vare, sager og datoer med knapperne i deres "
    "kolonner.",
    "Kun de posteringer der er oprettet i dette vindue vises her.",
    "De kan rettes indtil vinduet lukkes, derefter kun under posteringer i sagsvinduet.",
    "Ctrl-Ins eller knappen Ny post opretter en ny postering.",
    "Ctrl-Tilbage eller knappen Gendan fortryder rettelsen i den aktuelle postering.",
    "Ctrl-Del eller knappen Slet sletter den aktuelle postering.",
    "Ctrl-X eller knappen Slut lukker vinduet og overfører posteringerne.",
    "Posteringer uden medarbejder, sag eller vare overføres ikke."};

// Puts a dataset in edit state for a change made by the window itself.
void EnsureEdit(Db::TDataSet& ds) {
    if (ds.State() == Db::dsBrowse) ds.Edit();
}

// The window's status line, shown while the rows are carried (the window is hidden before
// and after its modal part), so that a wait for the postings' lock is seen.
std::function<void(const std::string&)> StatusOf(TTimeSedlerForm& form) {
    return [&form](const std::string& s) {
        if (!form.isVisible()) form.show();
        form.SetStatus(s);
    };
}

// Says how many rows the sweep dropped, and why.
void TellDropped(int dropped) {
    if (dropped <= 0) return;
    ShowMsg(std::to_string(dropped) + Ansi(dropped == 1 ? " postering" : " posteringer") +
            Ansi(" uden medarbejder, sag eller vare er ikke overført"));
}

// Finds a case by its number in the case-number tag, whatever order the shared cursor has
// (the main window may leave it in another); the cursor keeps its order, on the case found.
bool FindCaseByNumber(TzDs::TTzDbf& cases, const std::string& key) {
    const std::string tag = TzUtils::TrimRight(cases.CurrentTag());
    if (tag != "SAGSNR") cases.SetOrderToTag("SAGSNR");
    const bool found = cases.FindExact(key);
    if (tag != "SAGSNR") cases.SetOrderToTag(tag);
    return found;
}

// Empties the scratch table (exclusive), first carrying over the rows an interrupted run
// left; leaves it open shared.
// The transfer of the scratch rows into the postings; a failure that stops it says that
// opening the time sheet again finishes it.
void CarryRows(TKJData& d, TTimeSedlerForm& form) {
    RunMove(Ansi("åbn timesedlen igen; den gør overførslen færdig"),
            [&] { CarryTimeSheet(d.TimerDbf, d.PostDbf, StatusOf(form)); });
}

void EmptyScratch(TKJData& d, TTimeSedlerForm& form) {
    TzDs::TTzDbf& t = d.TimerDbf;
    struct Shared {
        TzDs::TTzDbf& t;
        ~Shared() { t.SetExclusive(false); }
    } shared{t};
    t.SetActive(false);
    t.SetExclusive(true);
    t.SetActive(true);
    if (PendingTimeSheetRows(t) > 0) {
        StatusOf(form)("Opdaterer posteringer, vent venligst");
        const int dropped = SweepTimeSheet(t);
        const int left = PendingTimeSheetRows(t);
        CarryRows(d, form);
        form.SetStatus("");
        form.hide();  // shown for the status line; the run shows it modally
        if (left > 0)
            ShowMsg(std::to_string(left) + Ansi(left == 1 ? " postering" : " posteringer") +
                    Ansi(" fra en afbrudt timeseddel er nu overført til posteringerne"));
        TellDropped(dropped);
    }
    t.Zap();
    t.SetActive(false);
    t.SetExclusive(false);
    t.SetActive(true);
}

// Carries the window's rows when it has closed; the scratch table is closed afterwards.
void FinishRun(TKJData& d, TTimeSedlerForm& form) {
    TzDs::TTzDbf& t = d.TimerDbf;
    t.GoTop();
    StatusOf(form)("Opdaterer posteringer, vent venligst");
    WaitCursor wait;
    const int dropped = SweepTimeSheet(t);
    CarryRows(d, form);
    t.SetActive(false);
    form.SetStatus(Ansi("Opdatering overstået"));
    TellDropped(dropped);
}

}  // namespace

TimeSheetLinks& TimeSheetLinksState() {
    return g_state.links;
}

TTimeSedlerForm* CurrentTimeSheet() {
    return g_state.form;
}

TTimeSedlerForm::TTimeSedlerForm(TKJData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setWindowTitle(QStringLiteral("Timeseddel"));
    resize(696, 550);
    BuildLayout();
}

TTimeSedlerForm::~TTimeSedlerForm() = default;

void TTimeSedlerForm::BuildLayout() {
    auto* v = new QVBoxLayout(this);
    HelpText = new QPlainTextEdit(this);
    HelpText->setReadOnly(true);
    for (const char* line : kHelp) HelpText->appendPlainText(kjqt::FromAnsi(Ansi(line)));
    HelpText->moveCursor(QTextCursor::Start);
    HelpText->setMaximumHeight(150);
    HelpText->setFocusPolicy(Qt::NoFocus);
    v->addWidget(HelpText);

    auto* panel = new QHBoxLayout;
    panel->addWidget(new QLabel(QStringLiteral(" Medarbejder "), this));
    edtBruger = new TBrugerBox(this);
    QStringList initials;
    {
        // One index read count for the whole walk; no messages run during it.
        TzDs::TTzDbf& users = data_.BrugerBufDbf;
        TzDs::TIndexReadHold reading({&users});
        for (users.First(); !users.Eof(); users.Next()) {
            reading.GiveWay();
            initials << kjqt::FromAnsi(TzUtils::TrimRight(users.FieldByName("ini").AsString()));
        }
    }
    edtBruger->addItems(initials);
    edtBruger->setCurrentText(
        kjqt::FromAnsi(TzUtils::TrimRight(data_.BrugerDbf.FieldByName("ini").AsString())));
    edtBruger->OnExit = [this] { edtBrugerExit(); };
    panel->addWidget(edtBruger);
    BrugerNavn = new kjqt::TDBText(this);
    BrugerNavn->SetDataSource(data_.DataSource("BrugerData"));
    BrugerNavn->SetDataField("BrugerNavn");
    panel->addWidget(BrugerNavn, 1);
    v->addLayout(panel);

    postGrid = new kjqt::TDBGrid(this);
    postGrid->AlwaysShowEditor = true;
    postGrid->TabsBetweenCells = true;
    postGrid->ConfirmDelete = true;
    postGrid->CancelOnExit = true;
    kjqt::TColumn sag("post_sag"), dato("post_dato"), tmu("post_tmu"), dk("post_dk");
    sag.ButtonStyle = dato.ButtonStyle = tmu.ButtonStyle = kjqt::cbsEllipsis;
    sag.Width = tmu.Width = 100;
    dato.Width = 90;
    dk.PickList = {QStringLiteral("D"), QStringLiteral("K")};
    dk.Width = 50;
    std::vector<kjqt::TColumn> cols = {
        sag,          dato,        tmu,     "post_bem",   "post_antal", dk,        "post_pris",
        "post_rabat", "post_moms", "Total", "post_opret", "post_ajour", "post_ini"};
    for (size_t i = cols.size() - 3; i < cols.size(); ++i) cols[i].ReadOnly = true;
    postGrid->SetDataSource(data_.DataSource("TimerData"));
    postGrid->SetColumns(cols);
    postGrid->OnEditButtonClick = [this](kjqt::TDBGrid&) { postGridEditButtonClick(); };
    // The Ctrl keys are caught over the grid and its cell editors, which would otherwise
    // take Ctrl+X, Ctrl+Backspace and Ctrl+Delete as editing keys.
    new TRegisterKeyFilter(postGrid, [this](RegKey k) { RegisterKey(k); });
    new TCloseKey(this, [this] { accept(); });
    connect(postGrid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                if (!before.isValid() || now.column() == before.column()) return;
                const auto& columns = postGrid->Model().Columns();
                if (size_t(before.column()) < columns.size())
                    postGridColExit(columns[size_t(before.column())]->FieldName);
            });
    v->addWidget(postGrid, 1);

    auto* buttons = new QHBoxLayout;
    SlutBtn = new QPushButton(QStringLiteral(" Slut (Ctrl-X) "), this);
    NyBtn = new QPushButton(QStringLiteral(" Ny post (Ctrl-Ins) "), this);
    btnGendan = new QPushButton(QStringLiteral(" Gendan (Ctrl-Tilbage) "), this);
    SletBtn = new QPushButton(QStringLiteral(" Slet (Ctrl-Del) "), this);
    for (QPushButton* b : {SlutBtn, NyBtn, btnGendan, SletBtn}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    connect(SlutBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(NyBtn, &QPushButton::clicked, this, [this] { NewPosting(); });
    connect(btnGendan, &QPushButton::clicked, this, [this] { UndoPosting(); });
    connect(SletBtn, &QPushButton::clicked, this, [this] { DeletePosting(); });
    v->addLayout(buttons);
    TimeSedlerStatus = new QLabel(this);
    TimeSedlerStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    v->addWidget(TimeSedlerStatus);
}

void TTimeSedlerForm::SetStatus(const std::string& text) {
    TimeSedlerStatus->setText(kjqt::FromAnsi(text));
    TimeSedlerStatus->repaint();
}

void TTimeSedlerForm::PostNewRecord(Db::TDataSet& ds) {
    if (TzUtils::TrimRight(Employee).empty()) {
        ds.Cancel();
        ShowMsg(Ansi("Vælg en medarbejder først"));
        return;
    }
    const std::string ini = data_.GetAjourInitials();
    if (TzUtils::TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    const Db::TDateTime today = Db::Today();
    ds.FieldByName("post_ans").SetAsString(Employee);
    ds.FieldByName("post_opret").SetAsDateTime(today);
    ds.FieldByName("post_ajour").SetAsDateTime(today);
    ds.FieldByName("post_ini").SetAsString(ini);
    ds.FieldByName("post_sag").SetAsString(Upper(LastCaseNo));
    ds.FieldByName("post_tmu").SetAsString(data_.LastTimeSheetItem);
    ds.FieldByName("post_bem").SetAsString(LastText);
    ds.FieldByName("post_dato").SetAsDateTime(LastDate);
    ds.FieldByName("post_dk").SetAsString(LastDebitCredit);
}

void TTimeSedlerForm::PostBeforePost(Db::TDataSet& ds) {
    const std::string ini = data_.GetAjourInitials();
    if (TzUtils::TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    ds.FieldByName("post_ajour").SetAsDateTime(Db::Today());
    ds.FieldByName("post_ini").SetAsString(ini);
    Db::TField& tmu = ds.FieldByName("post_tmu");
    if (!TzUtils::TrimRight(tmu.AsString()).empty()) {
        tmu.SetAsString(Upper(tmu.AsString()));
        // The item and its group looked up by their upper-cased keys, as the main window does.
        if (KeyRecNo(data_.VareDbf, "VARER", tmu.AsString(), 10) != 0) {
            const std::string group = data_.VareDbf.FieldByName("tmu_gr").AsString();
            if (!TzUtils::TrimRight(group).empty() &&
                KeyRecNo(data_.vareGDbf, "GRUPPE", Upper(group), 10) != 0)
                ds.FieldByName("post_pri")
                    .SetAsInteger(data_.vareGDbf.FieldByName("priori").AsInteger());
        }
    }
    Db::TField& sag = ds.FieldByName("post_sag");
    sag.SetAsString(Upper(sag.AsString()));
    LastCaseNo = Upper(sag.AsString());
    data_.LastTimeSheetItem = tmu.AsString();
    LastText = ds.FieldByName("post_bem").AsString();
    LastDebitCredit = ds.FieldByName("post_dk").AsString();
    LastDate = ds.FieldByName("post_dato").AsDateTime();
}

void TTimeSedlerForm::OpenRegister(const std::function<void(int32_t, const std::string&)>& show,
                                   const std::string& key) {
    TzDs::TTzDbf& t = data_.TimerDbf;
    t.PushState();
    const int32_t recNo = t.RecNo();
    if (show) show(0, key);
    if (recNo > 0) data_.GotoRecNo(t, recNo);
    t.PopState();
    postGrid->setFocus();
}

void TTimeSedlerForm::edtBrugerExit() {
    if (closing_) return;
    TzDs::TTzDbf& t = data_.TimerDbf;
    t.DisableControls();
    struct Enable {
        TzDs::TTzDbf& t;
        ~Enable() { t.EnableControls(); }
    } enable{t};
    const std::string padded = TzUtils::PadRightOrCut(kjqt::ToAnsi(edtBruger->currentText()), 10);
    bool found = data_.BrugerDbf.FindExact(padded);
    if (!found) {
        const std::string q = "medarbejderen :" + padded + "findes ikke\r\nskal denne oprettes ?";
        if (data_.Confirm(q) && !TzUtils::TrimRight(data_.GetAjourInitials()).empty()) {
            OpenRegister(g_state.links.ShowBrugerForm, padded);
            found = data_.BrugerDbf.FindExact(padded);
        }
    }
    const std::string ini = data_.BrugerDbf.FieldByName("ini").AsString();
    if (found && !TzUtils::TrimRight(ini).empty()) {
        Employee = ini;
    } else {
        QMetaObject::invokeMethod(
            edtBruger, [this] { edtBruger->setFocus(); }, Qt::QueuedConnection);
    }
}

void TTimeSedlerForm::LookUpItem(const std::string& padded) {
    Db::TDataSet& t = data_.TimerDbf;
    if (!data_.VareDbf.FindExact(padded)) return;
    EnsureEdit(t);
    t.FieldByName("post_bem").SetAsString(data_.VareDbf.FieldByName("tmu_bem").AsString());
    t.FieldByName("post_pris").SetAsFloat(data_.VareDbf.FieldByName("tmu_pris").AsFloat());
    t.FieldByName("post_moms").SetAsFloat(data_.VareDbf.FieldByName("tmu_moms").AsFloat());
}

void TTimeSedlerForm::postGridColExit(const std::string& field) {
    Db::TDataSet& t = data_.TimerDbf;
    // The grid's rows went away with the table closing (as when a transfer stopped by a
    // failure leaves the scratch table): no cell was left by the user.
    if (!t.Active()) return;
    if (t.IsEmpty() && t.State() == Db::dsBrowse) return;
    const std::string name = TzUtils::AnsiUpper(field);
    if (name == "POST_TMU") {
        const std::string code = t.FieldByName("post_tmu").AsString();
        if (TzUtils::TrimRight(code).empty()) return;
        if (Upper(code) != code) {
            EnsureEdit(t);
            t.FieldByName("post_tmu").SetAsString(Upper(code));
        }
        const std::string padded = TzUtils::PadRightOrCut(Upper(code), 10);
        if (data_.VareDbf.FindExact(padded)) return LookUpItem(padded);
        const std::string q = "varen :" + padded + "findes ikke\r\nskal den oprettes ?";
        if (data_.Confirm(q) && !TzUtils::TrimRight(data_.GetAjourInitials()).empty()) {
            OpenRegister(g_state.links.ShowVareIForm, padded);
            LookUpItem(padded);
        }
    } else if (name == "POST_SAG") {
        // A blank number is said to be no case, but the focus moves on: the user may Tab on
        // and come back to it (a row left blank is dropped at the end). The box comes after
        // the grid's move, and the focus then goes back to the cell the move reached.
        if (TzUtils::TrimRight(t.FieldByName("post_sag").AsString()).empty()) {
            QMetaObject::invokeMethod(
                postGrid,
                [this] {
                    ShowMsg("Sagen findes ikke, indtast en ny !");
                    postGrid->setFocus();
                },
                Qt::QueuedConnection);
            return;
        }
        const std::string padded =
            Upper(TzUtils::PadRightOrCut(t.FieldByName("post_sag").AsString(), 10));
        if (!FindCaseByNumber(data_.SagsDbf, padded)) {
            ShowMsg("Sagen findes ikke, indtast en ny !");
            BackToCell(field);
        } else if (CaseIsClosed()) {
            ShowMsg("Sagen er afsluttet, indtast en ny !");
            EnsureEdit(t);
            t.FieldByName("post_sag").SetAsString("");
            BackToCell(field);
        }
    } else if (name == "POST_DK") {
        const std::string dk = t.FieldByName("post_dk").AsString();
        if (dk != "D" && dk != "K") {
            EnsureEdit(t);
            t.FieldByName("post_dk").SetAsString("D");
        }
    }
}

void TTimeSedlerForm::BackToCell(const std::string& field) {
    // After the grid has finished its move to the next cell.
    QMetaObject::invokeMethod(
        postGrid,
        [this, field] {
            const auto& columns = postGrid->Model().Columns();
            for (size_t i = 0; i < columns.size(); ++i)
                if (TzUtils::AnsiUpper(columns[i]->FieldName) == TzUtils::AnsiUpper(field))
                    postGrid->SetSelectedIndex(int(i));
            postGrid->setFocus();
        },
        Qt::QueuedConnection);
}

void TTimeSedlerForm::postGridEditButtonClick() {
    kjqt::TColumn* c = postGrid->SelectedColumn();
    if (!c) return;
    Db::TDataSet& t = data_.TimerDbf;
    const std::string name = TzUtils::AnsiUpper(c->FieldName);
    const TimeSheetLinks& l = g_state.links;
    if (name == "POST_SAG") {
        const std::string s = Upper(l.PlukSag ? l.PlukSag() : std::string());
        if (TzUtils::TrimRight(s).empty()) return;
        EnsureEdit(t);
        t.FieldByName("post_sag").SetAsString(s);
    } else if (name == "POST_TMU") {
        const std::string s = l.PlukVare ? l.PlukVare() : std::string();
        if (TzUtils::TrimRight(s).empty()) return;
        EnsureEdit(t);
        t.FieldByName("post_tmu").SetAsString(s);
    } else if (name == "POST_DATO") {
        Db::TDateTime day = LastDate;
        if (!l.PlukDato || !l.PlukDato(day)) return;
        EnsureEdit(t);
        t.FieldByName("post_dato").SetAsDateTime(day);
    }
}

void TTimeSedlerForm::NewPosting() {
    if (TzUtils::TrimRight(data_.GetAjourInitials()).empty()) return;
    TzDs::TTzDbf& t = data_.TimerDbf;
    // A typed row is posted, never thrown away; only an untouched one is cancelled. A value
    // its cell refused stays there with its row (the box said why): no new row yet.
    if (!postGrid->SettleRow()) return;
    if (t.FLock()) {
        t.UnLock();
        t.Append();
    }
    if (t.State() == Db::dsInsert) t.FieldByName("post_ans").SetAsString(Employee);
    // The new row's first cell may already hold the focus in its open editor: it keeps it.
    QWidget* focus = QApplication::focusWidget();
    if (!focus || (focus != postGrid && !postGrid->isAncestorOf(focus))) postGrid->setFocus();
}

void TTimeSedlerForm::UndoPosting() {
    if (TzUtils::TrimRight(data_.GetAjourInitials()).empty()) return;
    postGrid->CancelRow();  // the open cell's text goes too, a refused one included
    postGrid->viewport()->update();
    postGrid->setFocus();
}

void TTimeSedlerForm::DeletePosting() {
    TzDs::TTzDbf& t = data_.TimerDbf;
    const std::string text =
        t.FieldByName("post_dato").AsString() + " " + t.FieldByName("post_bem").AsString();
    if (TzUtils::TrimRight(data_.GetAjourInitials()).empty()) return;
    // A new row is known before the question: its window takes the focus from the grid,
    // which cancels an untouched new row and leaves the saved row above current.
    const bool isNew = t.State() == Db::dsInsert;
    // A value its cell refuses stops the delete before its question, as in every grid.
    if (!postGrid->CommitEditor()) return;
    if (!Ask(Ansi("Ønsker du at slette denne postering ?\r\n") + text)) return;
    if (isNew) {
        t.Cancel();
    } else if (!t.IsEmpty() && t.RLock()) {
        t.Delete();
    }
    t.UnLock();
    postGrid->viewport()->update();
    postGrid->setFocus();
}

bool TTimeSedlerForm::CaseIsClosed() {
    return data_.SagsDbf.FieldByName("SagenErLukket").AsBoolean();
}

void TTimeSedlerForm::RegisterKey(RegKey key) {
    switch (key) {
        case RegKey::Undo:
            return UndoPosting();
        case RegKey::New:
            return NewPosting();
        case RegKey::Delete:
            return DeletePosting();
        case RegKey::Close:
            return accept();
        case RegKey::None:
            return;
    }
}

void TTimeSedlerForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_X && event->modifiers() == Qt::ControlModifier) return accept();
    QDialog::keyPressEvent(event);
}

void TTimeSedlerForm::PostOnClose(Db::TDataSet& ds) {
    try {
        ds.Post();  // one attempt under the component's append or record lock
    } catch (const Db::EAbort&) {
    } catch (const std::exception& e) {
        ShowMsg(e.what());
    }
    data_.TimerDbf.UnLock();
    if (ds.State() == Db::dsInsert || ds.State() == Db::dsEdit) ds.Cancel();  // closing goes on
}

bool TTimeSedlerForm::FormCloseQuery() {
    if (!data_.TimerDbf.Active()) return true;
    return postGrid->SettleRow([this](Db::TDataSet& ds) { PostOnClose(ds); });
}

void TTimeSedlerForm::done(int result) {
    // A value its cell refused keeps the window open with its row, as it keeps a new row.
    if (!FormCloseQuery()) return;
    closing_ = true;
    QDialog::done(result);
}

void TBrugerBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    // Leaving for the list, another window or a question box is not leaving the box.
    const Qt::FocusReason r = event->reason();
    if (!OnExit || inExit_ || r == Qt::PopupFocusReason || r == Qt::ActiveWindowFocusReason) return;
    inExit_ = true;
    tz::ScopeExit done([this] { inExit_ = false; });
    OnExit();
}

void RunTimeSheets() {
    TKJData& d = *KJData();
    if (TzUtils::TrimRight(d.GetAjourInitials()).empty()) return;
    if (!d.ScratchTableFree(d.TimerDbf)) return;
    TTimeSedlerForm form(d, MainWindow());
    g_state.form = &form;
    struct Clear {
        ~Clear() { g_state.form = nullptr; }
    } clear;
    EmptyScratch(d, form);
    form.SetStatus("");  // the carry of an interrupted run's rows is over
    // Case numbers and items show in upper case as they are typed.
    for (const char* field : {"post_sag", "post_tmu"})
        d.TimerDbf.FieldByName(field).SetEditMask(">cccccccccc;0;_");
    {
        THandlerSwap swap(
            d.TimerDbf, Db::TDataSetNotifyEvent::Bind(&form, &TTimeSedlerForm::PostNewRecord),
            Db::TDataSetNotifyEvent::Bind(&form, &TTimeSedlerForm::PostBeforePost), true);
        form.LastDate = Db::Today();
        form.LastDebitCredit = "D";
        form.LastCaseNo.clear();
        d.LastTimeSheetItem.clear();
        form.LastText.clear();
        form.Employee = d.BrugerDbf.Active() ? d.BrugerDbf.FieldByName("ini").AsString() : "";
        form.edtBruger->setFocus();
        form.exec();
    }
    FinishRun(d, form);
}

}  // namespace kj
