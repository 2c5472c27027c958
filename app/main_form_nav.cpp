// The main window's navigation: the four buttons (with and without a search word), the
// search, the "Skift" toggle, PgUp/PgDn in the header fields, choosing or typing a case
// number, and the responsible-employee and customer fields with their look-ups.
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app/main_form_util.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

// One PgUp/PgDn of a key field through table t. Ctrl: PgUp to the first row, PgDn to the
// last; a blank key: PgUp to the last, PgDn to the first. A key other than the one last
// shown is looked up (the nearest row) and PgUp steps back from it; the same key steps one
// row. The table never stays past either end.
void PageStep(TzDs::TTzDbf& t, const QKeyEvent& key, const std::string& text,
              const std::string& shown, int width) {
    const bool up = key.key() == Qt::Key_PageUp;
    const bool ctrl = key.modifiers() & Qt::ControlModifier;
    const bool blank = TrimRight(text).empty();
    const bool differs = !SameNumber(text, shown);
    if (ctrl || blank) {
        (ctrl ? up : !up) ? t.GoTop() : t.GoBottom();
    } else if (up) {
        if (differs) t.FindNear(KeyOf(text, width));
        t.Skip(-1);
    } else if (differs) {
        t.FindNear(KeyOf(text, width));
    } else {
        t.Skip(1);
    }
    if (t.Eof()) t.GoBottom();
    if (t.Bof()) t.GoTop();
}

std::string Text(QComboBox* c) {
    return kjqt::ToAnsi(c->currentText());
}

}  // namespace

void TKJSagerForm::SetNavCaptions(bool searching) {
    const QString s = searching ? QString::fromUtf8(" (Søg)") : QString();
    BtnFirst->setText(QString::fromUtf8(" Første") + s + " (Ctrl-PgUp) ");
    btnLast->setText(" Sidste" + s + " (Ctrl-PgDn) ");
    btnPrior->setText(" Forrige" + s + " (PgUp) ");
    btnNext->setText(QString::fromUtf8(" Næste") + s + " (PgDn) ");
}

void TKJSagerForm::FixEnds() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (s.Eof()) {
        s.GoBottom();
        Signal(1);
        SetStatus(Ansi("Du er på sidste sag i indeks "));
    }
    if (s.Bof()) {
        s.GoTop();
        Signal(1);
        SetStatus(Ansi("Du er på første sag i indeks "));
    }
}

void TKJSagerForm::AfterMove() {
    data_.SagsDbf.Refresh();
    CurrentSagsNr = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    RefreshViews();
}

bool TKJSagerForm::SearchFromTop(const std::string& word) {
    uint8_t field = 0;
    data_.SagsDbf.Search(word, field, true);
    return field != 0;
}

bool TKJSagerForm::SearchOn(const std::string& word) {
    uint8_t field = 0;
    data_.SagsDbf.Search(word, field, false);
    return field != 0;
}

void TKJSagerForm::NavSearch(int which, const std::string& w) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const std::string quoted = Ansi("\"søgeordet\" ") + w;
    if (which == 0) {
        if (!SearchFromTop(w)) ShowMsg("Kan ikke finde sagen med " + quoted);
    } else if (which == 1) {
        const int32_t r = s.RecNo();
        int32_t l = 0;
        bool found = SearchFromTop(w);
        while (found && s.RecNo() < r) {
            l = s.RecNo();
            found = SearchOn(w);
        }
        // The last match before the current case, also when no match follows it.
        if (l > 0) {
            data_.GotoRecNo(s, l);
        } else {
            data_.GotoRecNo(s, r);
            ShowMsg(Ansi("Der er ingen sager, før den aktuelle, med ") + quoted);
        }
    } else if (which == 2) {
        if (!SearchOn(w) &&
            kjqt::DialogService::Instance().YesNo(
                kjqt::FromAnsi("Der er ikke flere sager med " + quoted + ", start forfra ?"),
                QCoreApplication::applicationName()))
            SearchFromTop(w);
    } else {
        const int32_t r = s.RecNo();
        int32_t l = 0;
        for (bool found = SearchFromTop(w); found; found = SearchOn(w)) l = s.RecNo();
        if (l < 1) {
            data_.GotoRecNo(s, r);
            ShowMsg("Kan ikke finde sagen med " + quoted);
        } else {
            data_.GotoRecNo(s, l);
        }
    }
}

void TKJSagerForm::NavClick(QPushButton* b) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const int which = b == BtnFirst ? 0 : b == btnPrior ? 1 : b == btnNext ? 2 : 3;
    const std::string w = TrimRight(SearchWord);
    // A row being edited is settled as leaving its grid does; then the browse-mode check of
    // the move: a changed case is saved by Gem's rules. Either refused: no move.
    if (!MayLeave(Header::Save)) return;
    if (!w.empty()) {
        NavSearch(which, w);
    } else if (which == 0) {
        s.GoTop();
    } else if (which == 1) {
        s.Skip(-1);
    } else if (which == 2) {
        s.Skip(1);
    } else {
        s.GoBottom();
    }
    FixEnds();
    AfterMove();
}

void TKJSagerForm::BtnSearchClick() {
    if (!MayLeave(Header::Save)) return;  // the search moves, as Næste does
    auto& dialogs = kjqt::DialogService::Instance();
    SearchWord = kjqt::ToAnsi(dialogs.InputText(QString::fromUtf8("Indtast søgeord"),
                                                QString::fromUtf8("\"søgeordet\" søges i alle "
                                                                  "felter i sagsdata"),
                                                kjqt::FromAnsi(SearchWord)));
    const std::string w = TrimRight(SearchWord);
    if (w.empty()) {
        SearchWord.clear();
        SetNavCaptions(false);
    } else if (!SearchFromTop(w)) {
        ShowMsg(Ansi("\"søgeordet\" ") + w + " findes ikke i data !!!");
        SearchWord.clear();
        SetNavCaptions(false);
    } else {
        SetNavCaptions(true);
    }
    AfterMove();
}

void TKJSagerForm::SkiftModeClick() {
    data_.SkiftISager = SkiftMode->isChecked() ? 1 : 0;
    SkiftMode->setText(
        QString::fromUtf8(SkiftMode->isChecked() ? "Skift i sager" : "Skift normal"));
}

void TKJSagerForm::SetCaseOrder(const char* tag) {
    if (TrimRight(data_.SagsDbf.CurrentTag()) != tag) data_.SagsDbf.SetOrderToTag(tag);
}

void TKJSagerForm::EnterSkiftField(const char* tag) {
    if (data_.SkiftISager != 1) return;
    SetCaseOrder(tag);
    if (TrimRight(data_.SagsBufDbf.CurrentTag()) != tag) data_.SagsBufDbf.SetOrderToTag(tag);
    data_.SagsBufDbf.GoTop();
    SagsGrid->viewport()->update();
}

// ---- The case-number field -----------------------------------------------------------------

void TKJSagerForm::SagsNrPage(QKeyEvent& key) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const std::string t = TzUtils::PadRight(Text(edtSagsNr), 10);
    if (!MayLeave(Header::NumberMove)) return;
    SetCaseOrder("SAGSNR");
    PageStep(s, key, t, CurrentSagsNr, 10);
    AfterMove();
    edtSagsNr->setFocus();
    edtSagsNr->lineEdit()->selectAll();
}

void TKJSagerForm::SagsNrDropDown() {
    TzDs::TTzDbf& buf = data_.SagsBufDbf;
    edtSagsNr->clear();
    const int32_t at = buf.RecNo();
    buf.DisableControls();
    QStringList numbers;
    {
        // One index read count for the whole walk; no messages run during it.
        TzDs::TIndexReadHold reading({&buf});
        for (buf.GoTop(); !buf.Eof(); buf.Skip(1)) {
            reading.GiveWay();
            numbers << kjqt::FromAnsi(TzUpper(buf.FieldByName("SAGS_NR").AsString()));
        }
    }
    data_.GotoRecNo(buf, at);
    buf.EnableControls();
    edtSagsNr->addItems(numbers);
    const std::string current = TrimRight(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    if (!current.empty())
        edtSagsNr->setCurrentIndex(edtSagsNr->findText(kjqt::FromAnsi(TzUpper(current))));
}

void TKJSagerForm::SagsNrChosen() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const std::string text = TzUpper(TrimRight(Text(edtSagsNr)));
    if (text == TrimRight(CurrentSagsNr)) return;
    if (!MayLeave(Header::NumberMove)) return edtSagsNr->Link().Reset();
    const int32_t r = s.RecNo();
    SetCaseOrder("SAGSNR");
    if (!s.FindExact(KeyOf(text, 10))) data_.GotoRecNo(s, r);
    AfterMove();
    edtSagsNr->setFocus();
}

void TKJSagerForm::SagsNrExit() {
    TzDs::TTzDbf& s = data_.SagsDbf;
    const std::string typed = TzUpper(TrimRight(Text(edtSagsNr)));
    if (typed.empty() || typed == TrimRight(CurrentSagsNr)) return;
    if (!MayLeave(Header::NumberMove)) return edtSagsNr->Link().Reset();
    s.DisableControls();
    struct End {
        TKJSagerForm* f;
        TzDs::TTzDbf& s;
        ~End() {
            s.EnableControls();
            try {
                f->RefreshViews();
            } catch (...) {
            }
            s.ClearStateStack();
        }
    } end{this, s};
    const int32_t savedRecNo = s.RecNo();
    s.PushState();
    SetCaseOrder("SAGSNR");
    // A case that the overview's word filter hides is still that number's case.
    if (!s.FindExact(KeyOf(typed, 10)) && s.IsFilterOn() && CaseNumberExists(typed)) {
        s.SetFilterTo("");
        data_.SagsBufDbf.GoTop();
    }
    if (s.FindExact(KeyOf(typed, 10))) {
        s.Edit();
        CurrentSagsNr = typed;
        return;
    }
    const bool yes = kjqt::DialogService::Instance().YesNo(
        kjqt::FromAnsi("Ny sag :\r\n" + typed + " skal den oprettes ?"),
        QCoreApplication::applicationName());
    if (yes && !TrimRight(data_.GetAjourInitials()).empty()) {
        CreateTypedCase(typed);
        CurrentSagsNr = typed;
        return;
    }
    if (savedRecNo > 0) data_.GotoRecNo(s, savedRecNo);
    s.PopState();
    edtSagsNr->setFocus();
}

// ---- The responsible and customer fields ---------------------------------------------------

void TKJSagerForm::RegisterDropDown(bool customer) {
    TzDs::TTzDbf& buf = customer ? data_.KundeBufDbf : data_.BrugerBufDbf;
    kjqt::TDBComboBox* c = customer ? edtKunde : edtAnsvar;
    c->clear();
    QStringList keys;
    const int32_t at = buf.RecNo();
    buf.DisableControls();
    {
        TzDs::TIndexReadHold reading({&buf});  // as for the case numbers
        for (buf.GoTop(); !buf.Eof(); buf.Skip(1)) {
            reading.GiveWay();
            if (!buf.Deleted())
                keys << kjqt::FromAnsi(buf.FieldByName(customer ? "MAK_ID" : "INI").AsString());
        }
    }
    data_.GotoRecNo(buf, at);
    buf.EnableControls();
    c->addItems(keys);
}

void TKJSagerForm::RegisterPage(QKeyEvent& key, bool customer) {
    TzDs::TTzDbf& reg = customer ? data_.KundeDbf : data_.BrugerDbf;
    TzDs::TTzDbf& s = data_.SagsDbf;
    const int width = customer ? 10 : 5;
    const char* field = customer ? "SAG_KUNDE" : "SAG_ANSVAR";
    const char* keyField = customer ? "MAK_ID" : "INI";
    std::string& saved = customer ? SavedKunde : SavedAnsvar;
    kjqt::TDBComboBox* c = customer ? edtKunde : edtAnsvar;
    const std::string text = TzUtils::PadRight(Text(c), width);
    reg.SetOrderToTag(customer ? "KUNDE" : "BRUGER");
    const bool onCases = data_.SkiftISager == 1;
    // The rows are settled on their own case before it changes; the text typed here is the
    // search key, no change of the case.
    if (onCases && !MayLeave(Header::Drop)) return;
    TzDs::TTzDbf& t = onCases ? s : reg;
    PageStep(t, key, text, saved, width);
    if (onCases) {
        AfterMove();  // the case changed: its views follow it
    } else {
        c->Link().Reset();
        if (!Editing(s)) s.Edit();
        s.FieldByName(field).SetAsString(reg.FieldByName(keyField).AsString());
    }
    const bool found = LookUpName(customer);
    // The key the next PgUp/PgDn compares with: the row stepped to (the case's key when
    // stepping cases, also when that employee or customer does not exist).
    saved =
        onCases || !found ? s.FieldByName(field).AsString() : reg.FieldByName(keyField).AsString();
}

bool TKJSagerForm::LookUpName(bool customer) {
    TzDs::TTzDbf& reg = customer ? data_.KundeDbf : data_.BrugerDbf;
    const char* tag = customer ? "KUNDE" : "BRUGER";
    if (TrimRight(reg.CurrentTag()) != tag) reg.SetOrderToTag(tag);
    const std::string key =
        data_.SagsDbf.FieldByName(customer ? "SAG_KUNDE" : "SAG_ANSVAR").AsString();
    const bool found = !TrimRight(key).empty() && reg.FindExact(KeyOf(key, customer ? 10 : 5));
    (customer ? edtKundeTekst : edtAnsvarTekst)
        ->ShowValue(found ? &reg.FieldByName(customer ? "KundeNavn" : "BrugerNavn") : nullptr);
    ShowNameLabel(customer, found);
    return found;
}

void TKJSagerForm::ShowNameLabel(bool customer, bool show) {
    (customer ? edtKundeTekst : edtAnsvarTekst)->setVisible(show);
}

void TKJSagerForm::RegisterExit(bool customer) {
    TzDs::TTzDbf& reg = customer ? data_.KundeDbf : data_.BrugerDbf;
    TzDs::TTzDbf& s = data_.SagsDbf;
    const int width = customer ? 10 : 5;
    kjqt::TDBComboBox* c = customer ? edtKunde : edtAnsvar;
    if (TrimRight(Text(c)).empty()) return;
    const std::string key =
        KeyOf(s.FieldByName(customer ? "SAG_KUNDE" : "SAG_ANSVAR").AsString(), width);
    if (LookUpName(customer)) return;
    // Asked once about a code typed into a case: leaving the field again with it (after Gem
    // refused it, or on the way to Gendan) asks nothing more.
    const std::string asked = std::string(customer ? "K" : "B") +
                              TzUpper(TrimRight(s.FieldByName("SAGS_NR").AsString())) + "|" + key;
    if (asked == askedCode_) return ShowNameLabel(customer, false);
    askedCode_ = asked;
    const std::string question = (customer ? "Kunden :" : "Brugeren :") + key + "findes ikke" +
                                 "\r\n" + "skal denne oprettes ?";
    if (!kjqt::DialogService::Instance().YesNo(kjqt::FromAnsi(question),
                                               QCoreApplication::applicationName()) ||
        TrimRight(data_.GetAjourInitials()).empty()) {
        ShowNameLabel(customer, false);
        return;
    }
    // The case is saved (when the user wants it) before the register opens: with the code it
    // had on disk, as the new one exists nowhere yet. The new one comes in only once the
    // register has made it.
    const char* field = customer ? "SAG_KUNDE" : "SAG_ANSVAR";
    const std::string number = s.FieldByName("SAGS_NR").AsString();
    const std::string stored =
        s.State() == Db::dsEdit ? (customer ? StoredKunde : StoredAnsvar) : std::string();
    if (Editing(s)) s.FieldByName(field).SetAsString(stored);
    s.PushState();
    const int32_t at = s.RecNo();
    const auto& show = customer ? MainEntries().ShowKundeForm : MainEntries().ShowBrugerForm;
    const bool opened = Modal([&] {
        if (show) show(0, TrimRight(key));
        reg.SetOrderToTag(customer ? "KUNDE" : "BRUGER");
    });
    TzDs::TTzDbf& buf = customer ? data_.KundeBufDbf : data_.BrugerBufDbf;
    buf.GoTop();
    (customer ? kundeGrid : brugerGrid)->viewport()->update();
    data_.GotoRecNo(buf, reg.RecNo());
    data_.GotoRecNo(s, at);
    s.PopState();
    // Not opened (the case could not be settled first): the typed code goes back as typed.
    if (!opened || reg.FindExact(key)) PutCodeBack(field, number, key);
    LookUpName(customer);
}

// The code the register has just made goes back into the case it was typed into, as an edit
// that Gem saves.
void TKJSagerForm::PutCodeBack(const char* field, const std::string& number,
                               const std::string& code) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!s.Active() || s.IsEmpty() || !SameNumber(s.FieldByName("SAGS_NR").AsString(), number))
        return;
    if (!Editing(s)) s.Edit();
    if (Editing(s)) s.FieldByName(field).SetAsString(TrimRight(code));
}

}  // namespace kj
