#include "reports/list_bruger.h"

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "reports/preview_form.h"

namespace kjrep {

namespace {
const std::vector<TListKey> kKeys = {
    {"BrugerID", "ini", "ID;0;0;14;5;V;0;0;14;5;V;"},
    {"BrugerNavn", "BrugerNavn", "Navn / Adresse / Postnr./By / eMail;15;0;105;5;V;15;0;149;5;V;"},
    {"BrugerAdresse", "BrugerAdresse", ";;;;;;15;6;149;5;V;"},
    {"BrugerPostBy", "BrugerPostBy", ";;;;;;15;12;149;5;V;"},
    {"BrugerMail", "ini_email", ";;;;;;15;18;104;5;V;"},
    {"BrugerTlf", "ini_tlf", "Telefon / Fax;120;0;45;5;V;120;18;22;5;V;"},
    {"BrugerFax", "ini_fax", ";;;;;;143;18;22;5;V;"},
    {"Ajour", "ini_ajour", "Ajourført d. af;165;0;30;3;V;165;0;18;3;V;"},
    {"Ini", "ini_ini", ";;;;;;185;0;5;3;V;"},
};
}  // namespace

TListBrugerForm::TListBrugerForm(QWidget* parent)
    : TListForm("BrugerListe.kjr", "Liste over medarbejdere",
                "Udskriver en liste over de medarbejdere, der er registreret i Morvane Vaktor",
                parent) {
    kj::KJData()->BrugerDbf.SetOrderToTag("BRUGER");
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

void TListBrugerForm::btnVisClick(bool preview) {
    TzDs::TTzDbf& table = kj::KJData()->BrugerDbf;
    table.SetFilterTo("");
    table.SetWhileTo("");
    table.First();
    RunReport(preview, [this](TPreviewForm& form) { UdskrivBrugere(form); });
}

void TListBrugerForm::UdskrivBrugere(TPreviewForm& form) {
    TzDs::TTzDbf& table = kj::KJData()->BrugerDbf;
    table.SetFilterTo("");
    table.SetWhileTo("");
    table.SetOrderToTag("BRUGER");
    PrintSimpleList(form, table, kKeys, "Der er ingen medarbejdere registreret", true);
}

void ShowListBrugerForm() {
    TListBrugerForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
