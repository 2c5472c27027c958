// The main window's creation, activation, suspend/resume around modal windows, the close
// query, the loading of the visible tab (RefreshViews) and the menu's entry points.
#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QTabWidget>

#include "app/frame_interessent.h"
#include "app/kj_data.h"
#include "app/kj_menu.h"
#include "app/kj_register.h"
#include "app/kj_startup.h"
#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app/main_form_util.h"
#include "app/qel_com.h"
#include "storage/file_layer.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

namespace kj {

TMainEntries& MainEntries() {
    static TMainEntries entries;
    return entries;
}

// ---- Creation ------------------------------------------------------------------------------

TKJSagerForm* TKJSagerForm::FormCreate(TKJData& data, const std::string& argument,
                                       TOpstartForm* splash) {
    if (!OpenStartupData(data, argument, splash)) return nullptr;
    const std::string morvSag = WithDelim(QelCom()->Zorbo1Sti) + "MorvSag.ini";
    if (tz::Exists(morvSag)) kjqt::TMemIniFile probe(morvSag);  // opened and freed, unread
    auto* form = new TKJSagerForm(data);
    form->InitView();
    KeepRunningOnEngineErrors(true);  // until the window goes (its destructor)
    return form;
}

void TKJSagerForm::InstallFactory() {
    SetMainWindowFactory(
        [](TKJData& data, const std::string& argument, TOpstartForm* splash) -> QWidget* {
            TKJSagerForm* form = FormCreate(data, argument, splash);
            if (form) CloseOnTerminate(form);
            return form;
        });
}

void TKJSagerForm::InitView() {
    SetStatus(
        "Dataomr\xE5"
        "de " +
        QelCom()->SagsDataSti);
    setWindowTitle(
        kjqt::FromAnsi(" Morvane Vaktor > " + TrimRight(QelCom()->FirmName) + " 2006.06.01 "));
    PageSager->setCurrentIndex(0);
    ResumeData();
    SearchWord.clear();
    TitleClickArmed = true;
    SetNavCaptions(false);
    Db::TDataSource* src = data_.DataSource("SagsData");
    savedStateChange_ = src->OnStateChange;
    src->OnStateChange = [this](Db::TDataSource& s) { SagsDataStateChange(s); };
    SagsDataStateChange(*src);
    CurrentSagsNr = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    // The maintenance commands suspend the window themselves, after their question.
    MainMenu().SuspendData = [this] { return SuspendData(); };
    MainMenu().ResumeData = [this] { ResumeData(); };
}

// ---- Activation and closing ----------------------------------------------------------------

void TKJSagerForm::FormActivate() {
    active_ = true;
}

void TKJSagerForm::FormDeactivate() {
    active_ = false;
    if (Editing(data_.SagsDbf)) data_.SagsDbf.Cancel();
    data_.ResetTables();
}

void TKJSagerForm::PostOnClose(TzDs::TTzDbf& table) {
    if (!table.Active() || !table.Modified() || !Editing(table)) return;
    bool granted = table.State() == Db::dsInsert && table.ALock();
    if (!granted) granted = table.RLock();
    if (granted && table.State() == Db::dsEdit && table.Deleted()) {
        table.Cancel();  // another station deleted it: nothing is written into it
        ShowMsg(Ansi(kCaseDeletedText));
    } else if (granted) {
        table.Post();
    }
    table.UnLock();
}

bool TKJSagerForm::FormCloseQuery() {
    // A value its cell refuses, or a case Gem refuses and the user wants kept, keeps the
    // window; an error while settling keeps it too, with what was typed.
    bool may = false;
    Guarded([this, &may] { may = MayLeave(Header::Close); });
    return may;
}

// ---- The gate ------------------------------------------------------------------------------

bool TKJSagerForm::MayLeave(Header header) {
    if (!SettleRows()) return false;
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!s.Active()) return true;
    switch (header) {
        case Header::Keep:
            return true;
        case Header::Save:
            return PostOrCancelCase();
        case Header::Ask:
            return AskSavePending();
        case Header::NumberMove:
            return SettleCaseForNumberMove();
        case Header::Drop:
            if (Editing(s)) s.Cancel();
            return true;
        case Header::Close:
            return SettleCaseOnClose();
    }
    return true;
}

bool TKJSagerForm::SettleCaseOnClose() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (Editing(s)) s.UpdateRecord();  // a change still in a field counts
    if (!Editing(s) || !s.Modified()) return AskSavePending();
    if (CaseMayBeSaved()) {
        PostOnClose(s);  // one attempt at the lock; refused, the question decides
        return AskSavePending();
    }
    if (!Editing(s)) return true;  // refused and dropped; the box said why
    // Gem's rules refused a code and said so: Ja keeps the case for mending, without
    // running Gem (and its refusal) again; Nej drops the change.
    if (AskDataChanged()) return false;
    s.Cancel();
    return true;
}

// ---- Suspend and resume --------------------------------------------------------------------

bool TKJSagerForm::AskDataChanged() {
    return kjqt::DialogService::Instance().YesNo(
        kjqt::FromAnsi(Ansi("Data er ændret, skal de gemmes?")),
        QCoreApplication::applicationName());
}

bool TKJSagerForm::AskSavePending() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!Editing(s)) return true;
    s.UpdateRecord();  // a change still in a field counts
    if (!s.Modified()) {
        s.Cancel();  // an edit nobody changed is nothing to ask about
        return true;
    }
    if (AskDataChanged())
        BtnGem->click();
    else
        s.Cancel();
    return !Editing(s);  // still in edit: Gem refused it and said why
}

void TKJSagerForm::GiveHandlersBack() {
    Handlers& h = SavedHandlers;
    data_.SagsDbf.OnNewRecord = h.sagsNew;
    data_.SagsDbf.BeforePost = h.sagsBeforePost;
    data_.SagsDbf.BeforeEdit = h.sagsBeforeEdit;
    data_.StatusDbf.OnNewRecord = h.statusNew;
    data_.StatusDbf.BeforePost = h.statusBeforePost;
    data_.PostDbf.OnNewRecord = h.postNew;
    data_.PostDbf.BeforePost = h.postBeforePost;
    data_.PostDbf.AfterPost = h.postAfterPost;
    frameInteressent->UnhookEvents();
    resumed_ = false;
}

bool TKJSagerForm::SuspendData() {
    if (!resumed_) return true;
    if (!MayLeave(Header::Ask)) return false;
    DetachControls();
    data_.ResetTables();
    SuspendRecNo = data_.SagsDbf.RecNo();
    GiveHandlersBack();
    for (kjqt::TDBGrid* g : {StatusGrid, posterGrid, brugerGrid, kundeGrid, SagsGrid}) g->hide();
    AttachControls();
    return true;
}

void TKJSagerForm::ResumeData() {
    if (resumed_) return;
    DetachControls();
    Handlers& h = SavedHandlers;
    h.statusNew = data_.StatusDbf.OnNewRecord;
    h.statusBeforePost = data_.StatusDbf.BeforePost;
    data_.StatusDbf.OnNewRecord = nullptr;
    data_.StatusDbf.BeforePost = nullptr;
    h.postNew = data_.PostDbf.OnNewRecord;
    h.postBeforePost = data_.PostDbf.BeforePost;
    h.postAfterPost = data_.PostDbf.AfterPost;
    data_.PostDbf.OnNewRecord = nullptr;
    data_.PostDbf.BeforePost = nullptr;
    data_.PostDbf.AfterPost = nullptr;
    h.sagsNew = data_.SagsDbf.OnNewRecord;
    h.sagsBeforePost = data_.SagsDbf.BeforePost;
    h.sagsBeforeEdit = data_.SagsDbf.BeforeEdit;
    data_.SagsDbf.OnNewRecord = Db::TDataSetNotifyEvent::Bind(this, &TKJSagerForm::CaseNewRecord);
    data_.SagsDbf.BeforePost = Db::TDataSetNotifyEvent::Bind(this, &TKJSagerForm::CaseBeforePost);
    data_.SagsDbf.BeforeEdit = Db::TDataSetNotifyEvent::Bind(this, &TKJSagerForm::CaseBeforeEdit);
    HookScratch(Events(), true);
    HookScratch(Postings(), true);
    frameInteressent->HookEvents();
    resumed_ = true;
    if (SuspendRecNo > 0) data_.GotoRecNo(data_.SagsDbf, SuspendRecNo);
    SuspendRecNo = 0;
    AttachControls();
    RefreshViews();
}

// ---- The visible tab -----------------------------------------------------------------------

void TKJSagerForm::LoadCaseInteressenter() {
    frameInteressent->LoadCaseInteressenter();
}

void TKJSagerForm::RefreshViews() {
    if (!data_.SagsDbf.Active()) return;
    WaitCursor wait;
    const int tab = PageSager->currentIndex();
    const bool closed = CaseIsClosed();
    if (tab == 0)
        LoadCaseEvents();
    else
        StatusGrid->hide();
    StatusGrid->SetReadOnly(closed);
    if (tab == 1)
        LoadCasePostings();
    else
        posterGrid->hide();
    posterGrid->SetReadOnly(closed);
    LoadCaseInteressenter();
    brugerGrid->setVisible(tab == 3);
    LookUpName(false);
    kundeGrid->setVisible(tab == 4);
    LookUpName(true);
    SagsGrid->setVisible(tab == 5);
    // Another case shown under the case-type field: its type counts as the one found on
    // entering the field, so only a type typed on this case is a change.
    const std::string number = TzUpper(TrimRight(data_.SagsDbf.FieldByName("SAGS_NR").AsString()));
    if (number != typeCase_) SavedType = data_.SagsDbf.FieldByName("SAG_TYPE").AsString();
    typeCase_ = number;
}

// ---- Menu ----------------------------------------------------------------------------------

void TKJSagerForm::RunMenuCommand(const std::string& name) {
    if (name == "MenuAfslut") {
        close();
    } else if (name == "MenuAabenIgen") {
        ReopenCase();
    } else if (name == "MenuVisTotal") {
        // Only the tick flips; the total follows at the next copy of the postings.
    } else {
        auto it = MainEntries().MenuCommands.find(name);
        if (it == MainEntries().MenuCommands.end() || !it->second) return;
        // These ask their question first and suspend the window only for what then runs.
        if (name == "MenuGenskabIndeks" || name == "MenuFjernSlettede" || name == "MenuSidenSidst")
            it->second();
        else
            Modal(it->second);
    }
}

}  // namespace kj
