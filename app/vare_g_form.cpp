#include "app/vare_g_form.h"

#include <memory>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"

namespace kj {

namespace {

TVareGForm* g_form = nullptr;

const char* const kHelp =
    "Brug <Tab> for at skifte mellem felterne. Ctrl-Ins opretter en ny varegruppe, "
    "Ctrl-Del sletter den valgte, Ctrl-Tilbage fortryder rettelsen og Ctrl-X slutter. "
    "Udskrifts prioritet 1 udskrives først, derefter 2 og så videre.";

std::vector<kjqt::TColumn> Columns() {
    std::vector<kjqt::TColumn> c = {"id", "tekst", "priori", "opret", "ajour", "ini"};
    c[0].Title = Q("Gruppe");
    c[1].Title = Q("Beskrivelse");
    c[1].Width = 272;
    c[2].Width = 100;
    c[3].ReadOnly = c[4].ReadOnly = c[5].ReadOnly = true;
    c[5].Title = Q("Ajour. af");
    return c;
}

}  // namespace

TVareGForm* VareGForm() {
    return g_form;
}

TVareGForm::TVareGForm()
    : TGridRegisterForm(KJData()->vareGDbf, "VareGData", Q("Varegrupper"), Q(kHelp), Columns()) {
    setObjectName(QStringLiteral("VareGForm"));
    AddButton(" Slet (Ctrl-Del) ", [this] { SletVareGruppe(); });
    AddButton(" Ny gruppe (Ctrl-Ins) ", [this] { NyVareGruppe(); });
    AddButton(" Gendan (Ctrl-Tilbage) ", [this] { GendanVareGruppe(); });
}

void TVareGForm::NyVareGruppe() {
    AppendNewRow();
}

void TVareGForm::SletVareGruppe() {
    DeleteAfterQuestion(Ansi("Ønsker du at slette denne varegruppe ?"), [this] {
        return TzUtils::TrimRight(table_.FieldByName("id").AsString()) + " " +
               TzUtils::TrimRight(table_.FieldByName("tekst").AsString());
    });
}

void TVareGForm::GendanVareGruppe() {
    CancelEdit();
}

void TVareGForm::VareGNewRecord(Db::TDataSet& ds) {
    StampNewRow(ds, "opret", "ajour", "ini");
}

void TVareGForm::VareGBeforePost(Db::TDataSet& ds) {
    const std::string ini = Initials();
    if (ini.empty() || !KJData()->Confirm(Ansi("Skal den rettede varegruppe gemmes ?")))
        return ds.Cancel();
    const std::string id = ds.FieldByName("id").AsString();
    if (RefuseDuplicate(table_, KJData()->vareGBufDbf, "GRUPPE", id, 10, "varegruppen ")) return;
    ds.FieldByName("ajour").SetAsDateTime(Db::Today());
    ds.FieldByName("ini").SetAsString(ini);
    ds.FieldByName("id").SetAsString(TzUtils::AnsiUpper(id));
}

void TVareGForm::SearchColumn(int n) {
    if (n == 0) {
        const std::string s = AskText("Søg en varegruppe", "Indtast varegruppe identifikation");
        if (!TzUtils::TrimRight(s).empty()) TitleFind(table_, s);
    } else if (n == 1) {
        const std::string s = AskText("Søg varegrupper", "Indtast ord som teksten skal indeholde");
        SetWordFilter(table_, s, "tekst");
    } else {
        const std::string s =
            AskText("Søg varegrupper", "Indtast udskrifts prioritet for de søgte varegrupper");
        SetNumberFilter(table_, s, "priori");
    }
}

void ShowVareGForm(int32_t recNo, const std::string& key) {
    TzDs::TTzDbf& t = KJData()->vareGDbf;
    RunRegister<TVareGForm>(g_form, t, recNo, [&](TVareGForm& form) {
        form.ArmTitleClicks({0, 1, 2});
        THandlerSwap swap(t, Db::TDataSetNotifyEvent::Bind(&form, &TVareGForm::VareGNewRecord),
                          Db::TDataSetNotifyEvent::Bind(&form, &TVareGForm::VareGBeforePost), true);
        StartWithKey(t, "id", key);
        form.exec();
    });
}

}  // namespace kj
