#include "app/vare_i_form.h"

#include <QApplication>
#include <QProgressBar>
#include <QStatusBar>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/pluk_forms.h"
#include "app/vare_g_form.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

TVareIForm* g_form = nullptr;

const char* const kHelp =
    "Brug <Tab> for at skifte mellem felterne. Ctrl-Ins opretter en ny vare, Ctrl-Del "
    "sletter den valgte, Ctrl-Tilbage fortryder rettelsen og Ctrl-X slutter. Klik på "
    "kolonnetitlerne for at søge; knappen i varegruppe-feltet vælger en gruppe.";

std::vector<kjqt::TColumn> Columns() {
    std::vector<kjqt::TColumn> c = {"tmu_id", "tmu_bem",   "tmu_pris",  "tmu_moms", "tmu_konto",
                                    "tmu_gr", "tmu_opret", "tmu_ajour", "tmu_ini"};
    c[1].Width = 355;
    c[5].ButtonStyle = kjqt::cbsEllipsis;
    c[5].Width = 86;
    c[6].ReadOnly = c[7].ReadOnly = c[8].ReadOnly = true;
    return c;
}

// Disables the controls of the tables while it lives.
struct ControlsOff {
    std::vector<Db::TDataSet*> sets;
    explicit ControlsOff(std::vector<Db::TDataSet*> s) : sets(std::move(s)) {
        for (Db::TDataSet* d : sets) d->DisableControls();
    }
    ~ControlsOff() {
        for (Db::TDataSet* d : sets) d->EnableControls();
    }
};

}  // namespace

TVareIForm* VareIForm() {
    return g_form;
}

TVareIForm::TVareIForm()
    : TGridRegisterForm(KJData()->VareDbf, "VareData", Q("Varer (Timer, Materialer og Udlæg)"),
                        Q(kHelp), Columns()) {
    setObjectName(QStringLiteral("VareIForm"));
    OpdaterBtn = AddButton(" Opdater posteringer ", [this] { btnOpdaterClick(); });
    AddButton(" Slet (Ctrl-Del) ", [this] { SletVare(); });
    AddButton(" Ny vare (Ctrl-Ins) ", [this] { NyVare(); });
    AddButton(" Gendan (Ctrl-Tilbage) ", [this] { GendanVare(); });
    Grid->OnEditButtonClick = [this](kjqt::TDBGrid&) {
        Guarded([this] { VareGridEditButtonClick(); });
    };
    resize(980, 480);
}

void TVareIForm::NyVare() {
    AppendNewRow();
}

void TVareIForm::SletVare() {
    const std::string text =
        table_.FieldByName("tmu_id").AsString() + " " + table_.FieldByName("tmu_bem").AsString();
    DeleteAfterQuestion(Ansi("Ønsker du at slette denne vare ?"), text);
}

void TVareIForm::GendanVare() {
    table_.Cancel();
    RepaintAndFocus();
}

void TVareIForm::VareNewRecord(Db::TDataSet& ds) {
    if (!StampNewRow(ds, "tmu_opret", "tmu_ajour", "tmu_ini")) return;
    if (!TzUtils::TrimRight(GroupFilter).empty())
        ds.FieldByName("tmu_gr").SetAsString(PadRight(GroupFilter, 10));
}

void TVareIForm::VareBeforePost(Db::TDataSet& ds) {
    TKJData& d = *KJData();
    const std::string ini = Initials();
    if (ini.empty() || !d.Confirm(Ansi("Skal den rettede vare gemmes ?"))) return ds.Cancel();
    Db::TField& id = ds.FieldByName("tmu_id");
    id.SetAsString(TzUtils::AnsiUpper(id.AsString()));
    // Checked before the group question, and again under the append lock after it (the
    // item-group register may be opened in between).
    if (RefuseDuplicate(table_, d.VareBufDbf, "VARER", id.AsString(), 10, "varen ", false)) return;
    const std::string group = TzUtils::TrimRight(ds.FieldByName("tmu_gr").AsString());
    if (KeyRecNo(d.vareGBufDbf, "GRUPPE", TzUtils::AnsiUpper(group), 10) == 0 &&
        d.Confirm("Varegruppen " + group + " findes ikke, skal den oprettes ?"))
        ShowVareGForm(0, group);
    if (RefuseDuplicate(table_, d.VareBufDbf, "VARER", id.AsString(), 10, "varen ")) return;
    ds.FieldByName("tmu_ajour").SetAsDateTime(Db::Today());
    ds.FieldByName("tmu_ini").SetAsString(ini);
}

void TVareIForm::VareGridEditButtonClick() {
    if (Initials().empty()) return;
    if (table_.State() != Db::dsEdit && table_.State() != Db::dsInsert) table_.Edit();
    std::string group;
    PlukVareGruppe("", group);
    if (!TzUtils::TrimRight(group).empty()) table_.FieldByName("tmu_gr").SetAsString(group);
    RepaintAndFocus();
}

void TVareIForm::SearchColumn(int n) {
    if (n == 0) {  // the group column
        std::string group;
        PlukVareGruppe("", group);
        GroupFilter = group;
        SetTitleFilter(table_, TzUtils::TrimRight(group).empty()
                                   ? ""
                                   : "tmu_gr==\"" + PadRight(group, 10) + "\"");
    } else if (n == 1) {
        const std::string s = AskText("Søg en vare", "Indtast vare identifikation");
        if (!TzUtils::TrimRight(s).empty()) TitleFind(table_, s);
    } else {
        const std::string s = AskText("Søg varer", "Indtast ord varens tekst skal indeholde");
        SetWordFilter(table_, s, "tmu_bem");
    }
}

void TVareIForm::FillGroupPickList() {
    TzDs::TTzDbf& g = KJData()->vareGDbf;
    QStringList ids;
    g.GoTop();
    while (!g.AtEof()) {
        ids << kjqt::FromAnsi(TzUtils::TrimRight(g.FieldByName("id").AsString()));
        g.Skip(1);
    }
    GroupPickList = ids;
}

void TVareIForm::btnOpdaterClick() {
    const std::string ini = Initials();
    if (ini.empty()) return ShowMsg(Ansi("Du har ikke rettigheder til at ændre data !!"));
    if (!Ask(Ansi("Vil du opdatere posteringer med udskriftsprioritet, fra varegrupperne ?")))
        return;
    TKJData& d = *KJData();
    std::string tag;
    {
        ControlsOff off({&d.PostDbf, &d.VareDbf, &d.vareGDbf});
        tag = TzUtils::TrimRight(d.PostDbf.CurrentTag());
        for (TzDs::TTzDbf* t : {&d.PostDbf, &d.VareDbf, &d.vareGDbf}) t->SetFilterTo("");
        d.PostDbf.SetOrderToTag("");
        d.VareDbf.SetOrderToTag("varer");
        d.vareGDbf.SetOrderToTag("gruppe");
        d.PostDbf.GoTop();
        auto* bar = new QProgressBar(Status);
        bar->setObjectName(QStringLiteral("OpdaterBar"));
        bar->setRange(0, d.PostDbf.RecCount());
        bar->setValue(0);
        Status->addWidget(bar, 1);
        bar->show();
        const Db::TDataSetNotifyEvent savedPost = d.PostDbf.BeforePost;
        d.PostDbf.BeforePost = nullptr;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct Back {
            TKJData& d;
            Db::TDataSetNotifyEvent saved;
            QProgressBar* bar;
            ~Back() {
                d.PostDbf.UnLock();
                QApplication::restoreOverrideCursor();
                d.PostDbf.BeforePost = saved;
                delete bar;
            }
        } back{d, savedPost, bar};
        UpdatePostingPriorities(ini, [bar] { bar->setValue(bar->value() + 1); });
    }
    Guarded([&] { d.PostDbf.SetOrderToTag(tag); });
    RepaintAndFocus();
}

void UpdatePostingPriorities(const std::string& ini, const std::function<void()>& step) {
    TKJData& d = *KJData();
    TzDs::TTzDbf& p = d.PostDbf;
    while (!p.FLock()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    TWalkHold walk({&d.VareDbf, &d.vareGDbf}, {&p});
    const int32_t count = p.RecCount();
    for (int32_t n = 1; n <= count; ++n) {
        walk.Step();
        p.Go(n);
        if (p.Deleted()) continue;
        const std::string item = TzUtils::TrimRight(p.FieldByName("post_tmu").AsString());
        if (!item.empty() && d.VareDbf.FindExact(PadRight(TzUtils::AnsiUpper(item), 10)) &&
            d.vareGDbf.FindExact(
                PadRight(TzUtils::AnsiUpper(d.VareDbf.FieldByName("tmu_gr").AsString()), 10))) {
            walk.BeforeChange();
            p.Edit();
            p.FieldByName("post_pri").SetAsInteger(d.vareGDbf.FieldByName("priori").AsInteger());
            p.FieldByName("post_ajour").SetAsDateTime(Db::Today());
            p.FieldByName("post_ini").SetAsString(ini);
            p.ReplaceRec();
            walk.AfterChange();
        }
        if (step) step();
    }
    if (p.State() == Db::dsEdit) p.Cancel();
    walk.Release();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);  // the last step shown
}

void ShowVareIForm(int32_t recNo, const std::string& key) {
    TKJData& d = *KJData();
    TVareIForm* outer = g_form;
    auto form = std::make_unique<TVareIForm>();
    g_form = form.get();
    if (recNo >= 1)
        d.GotoRecNo(d.VareDbf, recNo);
    else
        Guarded([&] { d.VareDbf.GoTop(); });
    form->ArmTitleClicks({5, 0, 1});
    THandlerSwap swap(d.VareDbf,
                      Db::TDataSetNotifyEvent::Bind(form.get(), &TVareIForm::VareNewRecord),
                      Db::TDataSetNotifyEvent::Bind(form.get(), &TVareIForm::VareBeforePost), true);
    form->GroupFilter.clear();
    Guarded([&] { form->FillGroupPickList(); });
    StartWithKey(d.VareDbf, "tmu_id", key);
    form->exec();
    swap.Restore();
    d.ResetTables();
    form.reset();
    g_form = outer;
}

}  // namespace kj
