#include "app/post_by_form.h"

#include <memory>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"

namespace kj {

namespace {

TPostnrForm* g_form = nullptr;

const char* const kHelp =
    "Brug <Tab> for at skifte mellem felterne. Ctrl-Ins opretter et nyt postnr., Ctrl-Del "
    "sletter det valgte, Ctrl-Tilbage fortryder rettelsen og Ctrl-X slutter.";

std::vector<kjqt::TColumn> Columns() {
    std::vector<kjqt::TColumn> c = {"pst_nr", "pst_by", "pst_opret", "pst_ajour", "pst_ini"};
    c[0].Title = Q("Postnr");
    c[0].Width = 130;
    c[1].Width = 349;
    c[2].ReadOnly = c[3].ReadOnly = c[4].ReadOnly = true;
    return c;
}

}  // namespace

TPostnrForm* PostnrForm() {
    return g_form;
}

TPostnrForm::TPostnrForm()
    : TGridRegisterForm(KJData()->PostnrDbf, "PostnrData", Q("Pstnr. By"), Q(kHelp), Columns()) {
    setObjectName(QStringLiteral("PostnrForm"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    AddButton(" Slet (Ctrl-Del) ", [this] { SletPostnr(); });
    AddButton(" Nyt postnr (Ctrl-Ins) ", [this] { NyPostnr(); });
    AddButton(" Gendan (Ctrl-Tilbage) ", [this] { GendanPostnr(); });
    setFocusPolicy(Qt::StrongFocus);
}

void TPostnrForm::NyPostnr() {
    AppendNewRow(AppendLock::Append);
}

void TPostnrForm::SletPostnr() {
    Grid->CancelRow();  // a pending edit is dropped first, with the text in the editor
    DeleteAfterQuestion(Ansi("Ønsker du at slette dette postnr. ?"), [this] {
        return table_.FieldByName("pst_nr").AsString() + " " +
               table_.FieldByName("pst_by").AsString();
    });
}

void TPostnrForm::GendanPostnr() {
    if (Initials().empty()) return;
    CancelEdit();
}

void TPostnrForm::UndoRow() {
    CancelEdit();
}

void TPostnrForm::PostnrBeforePost(Db::TDataSet& ds) {
    TKJData& d = *KJData();
    const std::string ini = Initials();
    if (ini.empty() || !d.Confirm("Skal det rettede postnr gemmes ?")) return ds.Cancel();
    Db::TField& nr = ds.FieldByName("pst_nr");
    nr.SetAsString(TzUtils::AnsiUpper(nr.AsString()));
    if (RefuseDuplicate(table_, d.PostnrBufDbf, "POSTNR", nr.AsString(), 10, "postnr. ")) return;
    ds.FieldByName("pst_ajour").SetAsDateTime(Db::Today());
    ds.FieldByName("pst_ini").SetAsString(ini);
}

void TPostnrForm::SearchColumn(int n) {
    if (n == 0) {
        const std::string s = AskText("Søg et postnr.", "Indtast postnummer ");
        if (!TzUtils::TrimRight(s).empty()) TitleFind(table_, s);
    } else {
        const std::string s = AskText("Søg bynavne", "Indtast ord bynavnet skal indeholde");
        SetWordFilter(table_, s, "pst_by");
    }
}

void ShowPostnrForm(int32_t recNo, const std::string& key) {
    TzDs::TTzDbf& t = KJData()->PostnrDbf;
    RunRegister<TPostnrForm>(g_form, t, recNo, [&](TPostnrForm& form) {
        form.ArmTitleClicks({0, 1});
        THandlerSwap swap(t, nullptr,
                          Db::TDataSetNotifyEvent::Bind(&form, &TPostnrForm::PostnrBeforePost),
                          false);
        StartWithKey(t, "pst_nr", key);
        form.Grid->setFocus();
        form.exec();
    });
}

}  // namespace kj
