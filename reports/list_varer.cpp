#include "reports/list_varer.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "data/tz_dbf.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "ui/ini_file.h"

namespace kjrep {

namespace {

const int32_t kRuleHeight = 300;

const TListKey kGroupKeys[] = {
    {"VareGruppeID", "id", "Gruppe;0;0;14;5;V;15;0;24;5;V;"},
    {"VareGruppeBem", "tekst", "Bemærkning;40;0;19;5;V;60;0;99;V;"},
    {"VareGruppePrioritet", "priori", "Prioritet;160;0;19;5;V;180;0;9;V;"},
};
const TListKey kItemKeys[] = {
    {"VareID", "tmu_id", "Vare;0;0;14;3;V;"},
    {"VareBem", "tmu_bem", "Bemærkning;15;0;89;3;V;"},
    {"VarePris", "tmu_pris", "Pris;105;0;19;3;V;"},
    {"VareMoms", "tmu_moms", "Moms;125;0;19;3;V;"},
    {"VareKonto", "tmu_konto", "Konto;145;0;19;3;V;"},
    {"Ajour", "tmu_ajour", "Ajourført d. af;165;0;30;3;V;165;0;18;3;V;"},
    {"Ini", "tmu_ini", ";;;;;;185;0;5;3;V;"},
};

}  // namespace

TListVarerForm::TListVarerForm(QWidget* parent)
    : TListForm("VarerListe.kjr", "Liste over varer",
                "Udskriver en liste over de varer, der er registreret i Morvane Vaktor", parent) {
    edtKunGrupper = new QCheckBox(QString::fromUtf8(" Udskriv kun varegrupper "), this);
    Body->addWidget(edtKunGrupper);
    kj::TKJData& d = *kj::KJData();
    d.VareDbf.SetOrderToTag("VARER");
    d.vareGDbf.SetOrderToTag("GRUPPE");
    Variants.ReadOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        edtKunGrupper->setChecked(ini.ReadBool(v, "KunGrupper", true));
    };
    Variants.WriteOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        ini.WriteBool(v, "KunGrupper", edtKunGrupper->isChecked());
    };
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

void TListVarerForm::btnVisClick(bool preview) {
    kj::TKJData& d = *kj::KJData();
    for (TzDs::TTzDbf* table : {&d.VareDbf, &d.vareGDbf}) {
        table->SetFilterTo("");
        table->SetWhileTo("");
        table->First();
    }
    const bool onlyGroups = edtKunGrupper->isChecked();
    RunReport(preview, [this, onlyGroups](TPreviewForm& form) { UdskrivVarer(form, onlyGroups); });
}

void TListVarerForm::UdskrivVarer(TPreviewForm& form, bool onlyGroups) {
    kj::TKJData& d = *kj::KJData();
    TSkrivListe hoved, vareLinje, vareKolonner, gruppeLinje, gruppeKolonner;
    {
        const TLayoutReader layout(Variants);
        layout.PageHead(hoved);
        for (const TListKey& k : kGroupKeys)
            layout.Item(k.key, k.def, &d.vareGDbf.FieldByName(k.field),
                        onlyGroups ? &gruppeKolonner : &gruppeLinje, &gruppeLinje);
        for (const TListKey& k : kItemKeys)
            layout.Item(k.key, k.def, &d.VareDbf.FieldByName(k.field), &vareKolonner, &vareLinje);
    }
    d.VareDbf.SetOrderToTag("GRUPPE");
    d.vareGDbf.SetOrderToTag("GRUPPE");
    d.VareDbf.First();
    d.vareGDbf.First();
    auto rule = [&form](int32_t x1) { form.PrintRule(x1, form.UsableWidth, kRuleHeight, {}); };
    auto headOf = [&](bool groups) {
        return [&, groups] {
            form.NewReportPage(false);
            form.PrintFields(hoved);
            rule(0);
            if (!groups) return;
            form.PrintFields(gruppeKolonner);
            rule(0);
        };
    };
    if (onlyGroups) {
        PrintTable(form, d.vareGDbf, gruppeLinje, headOf(true));
        return;
    }
    TzDs::TTzDbf& items = d.VareDbf;
    if (items.Eof()) return;
    SetPaperFromSetup(form);
    form.OnNewReportPage = headOf(false);
    form.StartReport();
    Db::TField& gr = items.FieldByName("tmu_gr");
    std::string current;
    auto groupStep = [&] {
        const bool found = d.vareGDbf.FindExact(KeyOf(gr.AsString(), 10));
        TSkrivFelt* bem = gruppeLinje.Find("DataVareGruppeBem");
        if (bem) bem->Text = found ? std::string() : "Varegruppen findes ikke";
        {
            TBlankItems blank(gruppeLinje, nullptr, !found);
            form.PrintFields(gruppeLinje);
        }
        rule(form.UsableWidth / 4);
        form.PrintFields(vareKolonner);
    };
    for (bool first = true; !items.Eof(); items.Next(), first = false) {
        const std::string group = TrimRight(gr.AsString());
        if (first || group != current) {
            if (!first) rule(0);
            current = group;
            groupStep();
        }
        form.PrintFields(vareLinje);
        LetMessagesThrough();
    }
    form.FinishReport();
    form.OnNewReportPage = nullptr;
}

void ShowListVarerForm() {
    TListVarerForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
