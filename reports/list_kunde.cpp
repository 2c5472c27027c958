#include "reports/list_kunde.h"

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "reports/preview_form.h"

namespace kjrep {

namespace {
const std::vector<TListKey> kKeys = {
    {"KundeID", "mak_id", "ID;0;0;14;5;V;0;0;14;5;V;"},
    {"KundeNavn", "KundeNavn", "Navn / Adresse / Postnr./By / eMail;15;0;105;5;V;15;0;149;5;V;"},
    {"KundeAdresse", "KundeAdresse", ";;;;;;15;6;149;5;V;"},
    {"KundePostBy", "KundePostBy", ";;;;;;15;12;149;5;V;"},
    {"KundeMail", "mak_email", ";;;;;;15;18;104;5;V;"},
    {"KundeTlf", "mak_tlf", "Telefon / Fax;120;0;45;5;V;120;18;22;5;V;"},
    {"KundeFax", "mak_fax", ";;;;;;143;18;22;5;V;"},
    {"Ajour", "mak_ajour", "Ajourført d. af;165;0;30;3;V;165;0;18;3;V;"},
    {"Ini", "mak_ini", ";;;;;;185;0;5;3;V;"},
};
}  // namespace

TListKundeForm::TListKundeForm(QWidget* parent)
    : TListForm("KundeListe.kjr", "Liste over kunder",
                "Udskriver en liste over de kunder, der er registreret i Morvane Vaktor", parent) {
    kj::KJData()->KundeDbf.SetOrderToTag("KUNDE");
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

void TListKundeForm::btnVisClick(bool preview) {
    TzDs::TTzDbf& table = kj::KJData()->KundeDbf;
    table.SetFilterTo("");
    table.SetWhileTo("");
    table.First();
    RunReport(preview, [this](TPreviewForm& form) { UdskrivKunder(form); });
}

void TListKundeForm::UdskrivKunder(TPreviewForm& form) {
    TzDs::TTzDbf& table = kj::KJData()->KundeDbf;
    table.SetFilterTo("");
    table.SetWhileTo("");
    table.SetOrderToTag("KUNDE");
    PrintSimpleList(form, table, kKeys, "Der er ingen kunder registreret", true);
}

void ShowListKundeForm() {
    TListKundeForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
