#include "app/bruger_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/db_controls.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

TbrugerForm* g_form = nullptr;

const CardRegisterSpec kSpec = {
    "BrugerDbf",  "BrugerBufDbf", "BrugerData", "BRUGER",  "ini",        5,
    "ini_postnr", "ini_tlf",      "brugeren ",  "brugere", "brugerdata", "skal det oprettes ?",
    "ini_pass"};

}  // namespace

TbrugerForm* BrugerForm() {
    return g_form;
}

TbrugerForm::TbrugerForm() : TCardRegisterForm(kSpec, Q("Redigere brugere (medarbejdere)")) {
    setObjectName(QStringLiteral("BrugerForm"));
    NyBtn = AddButton(" Ny bruger (Ctrl-Ins) ", [this] { NyBruger(); });
    SletBtn = AddButton(" Slet (Ctrl-Del) ", [this] { SletBruger(); });
    GendanBtn = AddButton(" Gendan (Ctrl-Tilbage) ", [this] { GendanBruger(); });
    SoegBtn = AddButton(" Søg ", [this] { btnSearchClick(false); });
    NaesteBtn = AddButton(" Næste ", [this] { btnSearchClick(true); });
    SkiftKodeordBtn = AddButton(" Skift kodeord ", [this] { SkiftBrugerKodeord(); });
    Grid->SetPanelBuilder([this](QWidget& panel) { BuildPanel(panel); });
    Grid->SetDataSource(KJData()->DataSource(kSpec.source));
}

void TbrugerForm::BuildPanel(QWidget& panel) {
    QGridLayout* g = CardLayout(panel);
    AddEdit(g, " Initial ", "ini", "edtKey", 0, 0);
    AddEdit(g, " Titel ", "ini_titel", "edtTitel", 0, 2);
    AddEdit(g, " Fornavn ", "ini_fnavn", "edtFnavn", 0, 4);
    AddEdit(g, " Efternavn ", "ini_enavn", "edtEnavn", 0, 6);
    AddEdit(g, " Gade/Vej & husnr.", "ini_adr1", "edtAdr1", 1, 0, 3);
    AddEdit(g, nullptr, "ini_adr2", "edtAdr2", 1, 3, 1);
    AddPostnr(g, 1, 5);
    AddEdit(g, " Telefon ", "ini_tlf", "edtTlf", 2, 0);
    AddEdit(g, " Telefax ", "ini_fax", "edtFax", 2, 2);
    AddEdit(g, " EMail ", "ini_email", "edtEmail", 2, 4, 2);
    kjqt::TDBEdit* pass = AddEdit(g, " Kodeord ", "ini_pass", "edtPass", 3, 0);
    pass->setEchoMode(QLineEdit::Password);
    pass->setReadOnly(true);
    auto stamp = [&](const char* caption, const char* field, int col) {
        g->addWidget(new QLabel(Q(caption), &panel), 3, col);
        auto* t = new kjqt::TDBText(&panel);
        t->SetDataField(field);
        g->addWidget(t, 3, col + 1);
    };
    stamp(" Oprettet ", "ini_opret", 2);
    stamp(" Ajourført d. ", "ini_ajour", 4);
    stamp(" Ajourført af ", "ini_ini", 6);
    auto* ret = new kjqt::TDBCheckBox(&panel);
    ret->setObjectName(QStringLiteral("chkRet"));
    ret->setText(Q(" Kan redigere data "));
    ret->SetDataField("ini_ret");
    g->addWidget(ret, 2, 7);
}

void TbrugerForm::NyBruger() {
    if (table_.Active()) PostOnClose(table_);
    if (Initials().empty()) return;
    if (table_.FLock()) table_.Append();
    table_.UnLock();
    table_.Edit();
    Grid->update();
    FocusNewCard();
}

void TbrugerForm::SletBruger() {
    if (Initials().empty()) return;
    table_.Cancel();
    const std::string name = table_.FieldByName("BrugerNavn").AsString();
    if (KJData()->Confirm(Ansi("Skal denne bruger slettes ?\r\n") + name)) {
        if (table_.RLock())
            table_.Delete();
        else
            ShowRowInUse();
        table_.UnLock();
    }
    Grid->update();
    FocusKey();
}

void TbrugerForm::GendanBruger() {
    table_.Cancel();
}

void TbrugerForm::SkiftBrugerKodeord() {
    table_.DisableControls();
    struct On {
        TzDs::TTzDbf& t;
        ~On() { t.EnableControls(); }
    } on{table_};
    const int32_t recNo = table_.s_RecNo();
    const std::string old = table_.FieldByName("ini_pass").AsString();
    std::string fresh;
    if (!SkiftKodeord(old, fresh)) return;
    KJData()->GotoRecNo(table_, recNo);
    table_.Edit();
    table_.FieldByName("ini_pass").SetAsString(fresh);
    if (table_.RLock())
        table_.Post();
    else
        ShowRowInUse();
    table_.UnLock();
    if (table_.State() == Db::dsEdit) table_.Cancel();
    Grid->update();
}

void ShowBrugerForm(int32_t recNo, const std::string& key) {
    TzDs::TTzDbf& t = KJData()->BrugerDbf;
    RunRegister<TbrugerForm>(g_form, t, recNo, [&](TbrugerForm& form) {
        StartWithKey(t, "ini", key);
        form.Run();
        Guarded([&] { t.Cancel(); });
    });
}

// ---- Password change ----------------------------------------------------------------------------

TSkiftKodeordForm::TSkiftKodeordForm() : QDialog(nullptr) {
    setObjectName(QStringLiteral("SkiftKodeordForm"));
    setWindowTitle(QStringLiteral("SkiftKodeordForm"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* box = new QVBoxLayout(this);
    auto* help = new QLabel(Q("Du skal kende det tidligere kodeord for at skifte det. "
                              "Skriv det nye kodeord to gange."),
                            this);
    help->setWordWrap(true);
    box->addWidget(help);
    auto* g = new QGridLayout;
    auto edit = [&](const char* caption, const char* name, int row) {
        g->addWidget(new QLabel(Q(caption), this), row, 0);
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(16);
        g->addWidget(e, row, 1);
        return e;
    };
    EdtGammel = edit(" Tidligere kodeord ", "EdtGammel", 0);
    EdtNy = edit(" Nyt kodeord ", "EdtNy", 1);
    EdtGentag = edit(" Gentag kodeord ", "EdtGentag", 2);
    box->addLayout(g);
    auto* buttons = new QHBoxLayout;
    OKBtn = new QPushButton(Q(" OK "), this);
    OKBtn->setDefault(true);
    SlutBtn = new QPushButton(Q(" Slut "), this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(SlutBtn, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(OKBtn);
    buttons->addWidget(SlutBtn);
    box->addLayout(buttons);
}

void TSkiftKodeordForm::accept() {
    auto trim = [](QLineEdit* e) { return TzCommon::AllTrim(kjqt::ToAnsi(e->text())); };
    if (trim(EdtGammel) != TzCommon::AllTrim(OldPassword)) {
        ShowMsg("Forkert kodeord !!!");
        EdtGammel->setFocus();
        return;
    }
    if (trim(EdtNy) != trim(EdtGentag)) {
        ShowMsg("Forkert kodeord !!!");
        EdtNy->setFocus();
        return;
    }
    NewPassword = trim(EdtNy);
    QDialog::accept();
}

bool SkiftKodeord(const std::string& oldPassword, std::string& newPassword) {
    TSkiftKodeordForm form;
    form.OldPassword = oldPassword;
    form.EdtGammel->clear();
    form.EdtNy->clear();
    form.EdtGentag->clear();
    if (form.exec() != QDialog::Accepted) return false;
    newPassword = form.NewPassword;
    return true;
}

}  // namespace kj
