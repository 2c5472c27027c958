#include "reports/list_postnr.h"

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "reports/preview_form.h"

namespace kjrep {

namespace {
const std::vector<TListKey> kKeys = {
    {"PostByNr", "pst_nr", "Postnr;0;0;24;5;V;0;0;24;5;V;"},
    {"PostByBy", "pst_by", "Bynavn;26;0;138;5;V;26;0;138;5;V;"},
    {"Ajour", "pst_ajour", "Ajourført d. af;165;0;30;3;V;165;0;18;3;V;"},
    {"Ini", "pst_ini", ";;;;;;185;0;5;3;V;"},
};
}  // namespace

TListPostnrForm::TListPostnrForm(QWidget* parent)
    : TListForm("PostByListe.kjr", "ListPostnrForm",
                "Udskriver en liste over de postnr. / bynavne, der er registreret i Morvane Vaktor",
                parent) {
    kj::KJData()->PostnrDbf.SetOrderToTag("POSTNR");
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

void TListPostnrForm::btnVisClick(bool preview) {
    TzDs::TTzDbf& table = kj::KJData()->PostnrDbf;
    table.SetFilterTo("");
    table.SetWhileTo("");
    table.First();
    RunReport(preview, [this](TPreviewForm& form) { UdskrivPostnr(form); });
}

// The order set when the window opened (POSTNR) stays.
void TListPostnrForm::UdskrivPostnr(TPreviewForm& form) {
    PrintSimpleList(form, kj::KJData()->PostnrDbf, kKeys, nullptr, false);
}

void ShowListPostnrForm() {
    TListPostnrForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
