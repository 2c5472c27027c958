// The case lifecycle of the main window: the case record handlers, save, undo, new case (by
// the button and by typing a number), delete with the case's events and postings, the two
// closed tests, reopening behind the password, and the standard events of a case type.
#include <QCoreApplication>
#include <QPushButton>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app/main_form_util.h"
#include "data/db_format.h"
#include "storage/dates.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

namespace kj {

// ---- Locks, retried while waiting messages are let through ---------------------------------

void TKJSagerForm::LockRecord(TzDs::TTzDbf& table) {
    while (!table.RLock()) kjqt::LetMessagesThrough();
}

void TKJSagerForm::LockAppend(TzDs::TTzDbf& table) {
    while (!table.ALock()) kjqt::LetMessagesThrough();
}

void TKJSagerForm::DetachControls() {
    for (TzDs::TTzDbf* t :
         {&data_.SagsDbf, &data_.StatusDbf, &data_.tmpStat, &data_.PostDbf, &data_.tmpPost})
        t->DisableControls();
}

void TKJSagerForm::AttachControls() {
    for (TzDs::TTzDbf* t :
         {&data_.StatusDbf, &data_.tmpStat, &data_.PostDbf, &data_.tmpPost, &data_.SagsDbf})
        t->EnableControls();
}

void TKJSagerForm::RepaintCaseOverview() {
    data_.SagsBufDbf.GoTop();
    SagsGrid->viewport()->update();
    data_.GotoRecNo(data_.SagsBufDbf, data_.SagsDbf.RecNo());
}

// ---- Record handlers -----------------------------------------------------------------------

void TKJSagerForm::CaseNewRecord(Db::TDataSet& ds) {
    const std::string ini = data_.GetAjourInitials();
    if (TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    ds.FieldByName("SAG_OPRET").SetAsDateTime(Db::Today());
    ds.FieldByName("SAG_AJOUR").SetAsDateTime(Db::Today());
    ds.FieldByName("SAG_INI").SetAsString(ini);
}

void TKJSagerForm::CaseBeforePost(Db::TDataSet& ds) {
    const std::string ini = data_.GetAjourInitials();
    if (TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    // Every way of posting a changed case (a move of the cursor posts a pending edit too)
    // keeps Gem's rule for the codes: refused, nothing is written, the edit stays and what
    // moved the cursor stops. (A new case is posted at once with blank codes.)
    if (ds.State() == Db::dsEdit && (!CodeExists(false) || !CodeExists(true))) throw Db::EAbort();
    ds.FieldByName("SAG_AJOUR").SetAsDateTime(Db::Today());
    ds.FieldByName("SAG_INI").SetAsString(ini);
    if (ds.FieldByName("SAG_OPRET").IsNull())
        ds.FieldByName("SAG_OPRET").SetAsDateTime(Db::Today());
}

void TKJSagerForm::CaseBeforeEdit(Db::TDataSet& ds) {
    StoredAfslut = ds.FieldByName("SAG_AFSLUT").AsString().substr(0, 10);
    StoredSagsNr = ds.FieldByName("SAGS_NR").AsString();
    StoredAnsvar = ds.FieldByName("SAG_ANSVAR").AsString();
    StoredKunde = ds.FieldByName("SAG_KUNDE").AsString();
    askedCode_.clear();  // a new edit: a code typed into it is offered for creating again
}

void TKJSagerForm::SagsDataStateChange(Db::TDataSource&) {
    const bool changing = data_.SagsDbf.State() != Db::dsBrowse && data_.SagsDbf.Active();
    BtnGem->setEnabled(changing);
    BtnGendan->setEnabled(changing);
}

// ---- Closed tests --------------------------------------------------------------------------

bool TKJSagerForm::ClosingDatePassed() {
    Db::TDateTime d = 0;
    if (TrimRight(StoredAfslut).empty() || !Db::TryStrToDate(StoredAfslut, d)) return false;
    return d < Db::Today();
}

bool TKJSagerForm::CaseIsClosed() {
    return data_.SagsDbf.Active() && data_.SagsDbf.FieldByName("SagenErLukket").AsBoolean();
}

// ---- Commands ------------------------------------------------------------------------------

bool TKJSagerForm::CaseMayBeSaved() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (s.State() == Db::dsEdit && !SameNumber(s.FieldByName("SAGS_NR").AsString(), StoredSagsNr)) {
        ShowMsg(Ansi("Kan ikke ændre sagsnr. på eksisterende sag"));
        s.Cancel();
        return false;
    }
    if (s.State() == Db::dsEdit && ClosingDatePassed()) {
        ShowMsg("Sagen er afsluttet, der kan ikke rettes i data !!!");
        s.Cancel();
        return false;
    }
    if (TrimRight(data_.GetAjourInitials()).empty()) {
        ShowMsg(Ansi("du har ikke rettighed til at lave ændringer"));
        s.Cancel();
        return false;
    }
    return CodeExists(false) && CodeExists(true);
}

// A responsible employee or customer typed into the case (new, or changed from the one on
// disk) must exist: a case is never saved with a code found nowhere. Refused, the edit stays
// and the field gets the focus.
bool TKJSagerForm::CodeExists(bool customer) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const std::string code = s.FieldByName(customer ? "SAG_KUNDE" : "SAG_ANSVAR").AsString();
    const std::string& stored = customer ? StoredKunde : StoredAnsvar;
    if (TrimRight(code).empty() || (s.State() == Db::dsEdit && SameNumber(code, stored)))
        return true;
    const int width = customer ? 10 : 5;
    if (KeyRecNo(customer ? data_.KundeBufDbf : data_.BrugerBufDbf, customer ? "KUNDE" : "BRUGER",
                 TzUpper(code), width) != 0)
        return true;
    ShowMsg((customer ? "Kunden :" : "Brugeren :") + KeyOf(code, width) + "findes ikke");
    (customer ? edtKunde : edtAnsvar)->setFocus();
    return false;
}

bool TKJSagerForm::PostCase() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!Editing(s)) return true;
    // An insert takes the append lock inside the post; an edit holds its record, read
    // anew by the lock.
    if (s.State() == Db::dsEdit) {
        LockRecord(s);
        if (s.Deleted()) {
            s.UnLock();
            CaseGone();
            return false;
        }
    }
    s.Post();
    s.UnLock();
    return true;
}

// Another station deleted the case being saved: nothing is written into the deleted record,
// the user is told, and the window shows the case now current with its own names.
void TKJSagerForm::CaseGone() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    s.Cancel();
    ShowMsg(Ansi(kCaseDeletedText));
    s.Refresh();
    if (s.Eof()) s.GoBottom();
    AfterMove();
    RepaintCaseOverview();
}

bool TKJSagerForm::PostOrCancelCase() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!Editing(s)) return true;
    s.UpdateRecord();  // a change still in a field counts
    if (!s.Modified())
        s.Cancel();
    else if (CaseMayBeSaved())
        PostCase();
    return !Editing(s);  // still in edit: refused as Gem refuses it, the box said why
}

// The header's fields other than the case number differ from the stored case.
bool TKJSagerForm::ChangedBesidesNumber() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    TzDs::TTzDbf& stored = data_.SagsBufDbf;
    data_.GotoRecNo(stored, s.RecNo());
    if (stored.RecNo() != s.RecNo()) return true;
    for (Db::TField* f : s.Fields()) {
        if (f->FieldKind() != Db::fkData || TzUpper(f->FieldName()) == "SAGS_NR") continue;
        if (f->AsString() != stored.FieldByName(f->FieldName()).AsString()) return true;
    }
    return false;
}

// Moving by the case-number field (PgUp/PgDn, a number chosen or typed): the number in the
// field says where to go, the header's other changes are saved as a move by the navigation
// buttons saves them.
bool TKJSagerForm::SettleCaseForNumberMove() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (s.State() != Db::dsEdit) return PostOrCancelCase();
    s.UpdateRecord();  // a change still in a field counts
    if (!SameNumber(s.FieldByName("SAGS_NR").AsString(), StoredSagsNr))
        s.FieldByName("SAGS_NR").SetAsString(StoredSagsNr);
    if (!ChangedBesidesNumber())
        s.Cancel();
    else if (CaseMayBeSaved())
        PostCase();
    return !Editing(s);
}

void TKJSagerForm::BtnGemClick() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (Editing(s)) s.UpdateRecord();
    if (!CaseMayBeSaved() || !PostCase()) return;
    RepaintCaseOverview();
    edtSagsNr->setFocus();
}

void TKJSagerForm::BtnGendanClick() {
    if (Editing(data_.SagsDbf)) data_.SagsDbf.Cancel();
    data_.SagsDbf.Refresh();
    // The stored codes are back, and the names beside them that a refused code had hidden.
    LookUpName(false);
    LookUpName(true);
    edtSagsNr->setFocus();
}

void TKJSagerForm::AppendCase(const std::string& number, bool stampInitials) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    LockAppend(s);
    s.Append();
    s.UnLock();
    if (s.State() != Db::dsInsert) return;  // no initials: the new record was cancelled
    s.FieldByName("SAGS_NR").SetAsString(number);
    s.FieldByName("SAG_OPRET").SetAsDateTime(Db::Today());
    if (stampInitials) s.FieldByName("SAG_INI").SetAsString(data_.GetAjourInitials());
    RefreshViews();
    LockAppend(s);
    s.Post();
    s.UnLock();
    CurrentSagsNr = TzUpper(TrimRight(number));
    data_.GotoRecNo(data_.SagsBufDbf, s.RecNo());
}

void TKJSagerForm::BtnNySagClick() {
    // The rows being typed belong to the case shown now; a case Gem refuses stays.
    if (!MayLeave(Header::Ask)) return;
    const std::string answer = kjqt::ToAnsi(kjqt::DialogService::Instance().InputText(
        QStringLiteral("Ny sag"), QStringLiteral("Indtast sagsnr."), QString()));
    if (TrimRight(answer).empty()) return;
    if (TrimRight(answer).size() > 10) {  // the case number's field holds 10 characters
        ShowMsg(Ansi("Sagsnr. kan højst være på 10 tegn: ") + TrimRight(answer));
        return;
    }
    if (CaseNumberExists(answer)) {
        ShowMsg("Sagen " + answer + "findes allerede !!!");
        AfterMove();
        edtType->setFocus();
        return;
    }
    // Without update initials nothing is appended.
    if (TrimRight(data_.GetAjourInitials()).empty()) {
        ShowMsg(Ansi("du har ikke rettighed til at lave ændringer"));
        return;
    }
    AppendCase(TzUpper(TrimRight(answer)), false);
    edtType->setFocus();
}

bool TKJSagerForm::CaseNumberExists(const std::string& number) {
    // The overview's cursor carries no word filter; it is looked up there in case-number
    // order and put back on the header's case.
    TzDs::TTzDbf& b = data_.SagsBufDbf;
    const std::string order = TrimRight(b.CurrentTag());
    b.DisableControls();
    struct Back {
        TKJSagerForm* f;
        TzDs::TTzDbf& b;
        std::string order;
        ~Back() {
            if (!order.empty() && order != "SAGSNR") b.SetOrderToTag(order);
            b.EnableControls();
            f->RepaintCaseOverview();
        }
    } back{this, b, order};
    if (order != "SAGSNR") b.SetOrderToTag("SAGSNR");
    return b.FindExact(KeyOf(number, 10));
}

void TKJSagerForm::CreateTypedCase(const std::string& number) {
    AppendCase(number, true);
}

void TKJSagerForm::DeleteCaseRows(TzDs::TTzDbf& table, const char* tag, const char* field,
                                  const std::string& number) {
    if (TrimRight(table.CurrentTag()) != tag) table.SetOrderToTag(tag);
    // Each search finds the case's first row still live (deleted rows are hidden), so the
    // loop never depends on where the cursor stands after a delete.
    const std::string key = KeyOf(number, 10);
    for (int32_t left = table.RecCount(); left > 0; --left) {
        if (!table.Find(key) || table.Eof() ||
            TzUpper(TrimRight(table.FieldByName(field).AsString())) != number)
            return;
        LockRecord(table);
        table.DeleteRec();
        table.UnLock();
    }
}

void TKJSagerForm::BtnSletClick() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!MayLeave(Header::Drop)) return;  // the rows are settled on their own case first
    if (s.IsEmpty()) return;
    const std::string n = TzUpper(TrimRight(s.FieldByName("SAGS_NR").AsString()));
    Signal(2);
    if (!Ask("\xD8nsker du at slette denne sag ?\r\n" + n + " " +
             s.FieldByName("SAGS_BEM").AsString()))
        return;
    {
        DetachControls();
        struct Back {
            TKJSagerForm* f;
            ~Back() { f->AttachControls(); }
        } back{this};
        LockRecord(s);
        s.DeleteRec();
        s.UnLock();
        DeleteCaseRows(data_.StatusDbf, "STATUS", "STAT_SAG", n);
        DeleteCaseRows(data_.PostDbf, "POSTSAG", "POST_SAG", n);
        s.Refresh();
    }
    // The copies of the deleted case's rows go; the case now current is shown.
    CurrentSagsNr = TzUpper(s.FieldByName("SAGS_NR").AsString());
    RefreshViews();
    RepaintCaseOverview();
    edtSagsNr->setFocus();
}

void TKJSagerForm::ReopenCase() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!s.Active() || s.IsEmpty() || TrimRight(s.FieldByName("SAG_AFSLUT").AsString()).empty())
        return;
    const auto& ask = MainEntries().AskPassword;
    if (!MayLeave(Header::Ask) || !ask || !ask(this, "Tulix")) return;
    s.Edit();
    if (!s.RLock()) {  // one attempt; the post takes the record lock itself
        s.Cancel();
        ShowMsg(Ansi("Sagen er i brug af en anden bruger, intet er ændret !!!"));
        return;
    }
    if (s.Deleted()) {
        s.UnLock();
        return CaseGone();
    }
    s.FieldByName("SAG_AFSLUT").Clear();
    s.Post();
    s.UnLock();
    RefreshViews();  // the grids are editable again
}

// ---- Case type -----------------------------------------------------------------------------

void TKJSagerForm::TypeExit() {
    const std::string now = TzUpper(TrimRight(kjqt::ToAnsi(edtType->currentText())));
    if (now == TzUpper(TrimRight(SavedType))) return;
    SavedType = kjqt::ToAnsi(edtType->currentText());
    if (!data_.Confirm(Ansi("Sagstypen er ændret, skal der oprettes standard hændelser for "
                            "sagen ?")))
        return;
    AddStandardEvents();
}

void TKJSagerForm::AddStandardEvents() {
    if (data_.RefuseDeletedCase(nullptr)) return;
    kjqt::TMemIniFile ini(data_.HandForSagsTypeFileName());
    const std::string type = data_.SagsDbf.FieldByName("SAG_TYPE").AsString();
    if (!ini.SectionExists(type)) return;
    std::vector<std::string> entries;
    for (const std::string& line : ini.ReadSectionValues(type)) {
        const size_t eq = line.find('=');
        entries.push_back(eq == std::string::npos ? line : line.substr(eq + 1));
    }
    const std::string ini_ = data_.GetAjourInitials();
    if (TrimRight(ini_).empty()) return;  // no initials: nothing is written
    TzDs::TTzDbf& st = data_.StatusDbf;
    const std::string number = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        LockAppend(st);
        st.Append();
        st.UnLock();
        st.FieldByName("STAT_SAG").SetAsString(number);
        st.FieldByName("STAT_BEM").SetAsString(*it);
        st.FieldByName("STAT_OPRET").SetAsDateTime(Db::Today());
        st.FieldByName("STAT_AJOUR").SetAsDateTime(Db::Today());
        st.FieldByName("STAT_INI").SetAsString(ini_);
        st.Post();
    }
    if (!entries.empty()) LoadCaseEvents();
}

}  // namespace kj
