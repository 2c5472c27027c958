#include "app/vare_i_form.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QStatusBar>
#include <array>
#include <cstring>
#include <map>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_record_copy.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/pluk_forms.h"
#include "app/vare_g_form.h"
#include "data/db_format.h"
#include "index/tz_ndx.h"
#include "storage/dbf4.h"
#include "storage/scope_exit.h"
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
    DeleteAfterQuestion(Ansi("Ønsker du at slette denne vare ?"), [this] {
        return table_.FieldByName("tmu_id").AsString() + " " +
               table_.FieldByName("tmu_bem").AsString();
    });
}

void TVareIForm::GendanVare() {
    CancelEdit();
}

void TVareIForm::VareNewRecord(Db::TDataSet& ds) {
    if (!StampNewRow(ds, "tmu_opret", "tmu_ajour", "tmu_ini")) return;
    if (!TzUtils::TrimRight(GroupFilter).empty())
        ds.FieldByName("tmu_gr").SetAsString(TzUtils::PadRightOrCut(GroupFilter, 10));
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
                                   : "tmu_gr==\"" + TzUtils::PadRightOrCut(group, 10) + "\"");
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
    {
        // One index read count for the whole walk; no messages run during it.
        TzDs::TIndexReadHold reading({&g});
        for (g.GoTop(); !g.AtEof(); g.Skip(1)) {
            reading.GiveWay();
            ids << kjqt::FromAnsi(TzUtils::TrimRight(g.FieldByName("id").AsString()));
        }
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

namespace {

// The item and group tables' areas searched for a posting's item (exactly, as FindExact
// does) without moving their components, whose cursors follow at the end of the walk.
class GroupPriorities {
  public:
    explicit GroupPriorities(TKJData& d) : items_(d.VareDbf), groups_(d.vareGDbf) {
        for (TzDs::TTzDbf* t : {&items_, &groups_}) t->CheckBrowseMode();
        Dbf4::Select(items_.WorkAreaNo());
        groupField_ = Dbf4::FieldNo("TMU_GR");
        Dbf4::Select(groups_.WorkAreaNo());
        priorityField_ = Dbf4::FieldNo("PRIORI");
        prioritySize_ = size_t(NativeFieldSizes(groups_.WorkAreaNo())[size_t(priorityField_ - 1)]);
    }
    // The print priority of the item's group; false when the item or its group is unknown.
    bool Find(const std::string& item, int32_t& priority) {
        if (!Seek(items_, TzUtils::PadRightOrCut(TzUtils::AnsiUpper(item), 10))) return false;
        const std::string group = NativeText(groupField_);
        if (!Seek(groups_, TzUtils::PadRightOrCut(TzUtils::AnsiUpper(group), 10))) return false;
        priority = Priority();
        return true;
    }
    // The components on their areas' records, where the look-ups through them would have
    // left them.
    void Follow() {
        for (TzDs::TTzDbf* t : {&items_, &groups_}) {
            if (!searched_[t == &groups_]) continue;
            UseArea(*t);
            if (Dbf4::dEOF())
                t->Last();
            else
                t->ResyncFromArea();
        }
    }

  private:
    // The found group's priority as the component reads it, the component brought to the
    // record only for a field value (native bytes) not met before.
    int32_t Priority() {
        const std::string value(reinterpret_cast<const char*>(Dbf4::FieldAddress(priorityField_)),
                                prioritySize_);
        const auto known = priorities_.find(value);
        if (known != priorities_.end()) return known->second;
        groups_.ResyncFromArea();
        const int32_t v = groups_.FieldByName("priori").AsInteger();
        priorities_.emplace(value, v);
        return v;
    }
    bool Seek(TzDs::TTzDbf& t, const std::string& key) {
        searched_[&t == &groups_] = true;
        UseArea(t);
        const bool old = TzNdx::SetExact(true);
        tz::ScopeExit back([old] {
            if (!old) TzNdx::SetExact(false);
        });
        return TzNdx::Find(key);
    }

    TzDs::TTzDbf& items_;
    TzDs::TTzDbf& groups_;
    int groupField_ = 0, priorityField_ = 0;
    size_t prioritySize_ = 0;
    bool searched_[2] = {false, false};
    std::map<std::string, int32_t> priorities_;  // by the field's native bytes
};

// The stamp of a posting (the priority, today's date, the initials) written through the
// postings' area. The first posting stamped with a priority on a day goes through the
// component's own field writes; the bytes they leave in the area's record are kept and
// copied into the record of every other posting stamped alike, so each posting is written
// with the same bytes without the component following the walk.
class Stamps {
  public:
    Stamps(TzDs::TTzDbf& p, const std::string& ini) : p_(p), ini_(ini) {
        const std::vector<int> sizes = NativeFieldSizes(p.WorkAreaNo());
        const char* names[] = {"POST_PRI", "POST_AJOUR", "POST_INI"};
        for (size_t i = 0; i < slots_.size(); ++i) {
            const int no = Dbf4::FieldNo(names[i]);
            slots_[i] = {no, size_t(sizes[size_t(no - 1)])};
        }
    }
    // Stamps posting n, the area's record (the postings' read count let go by the caller).
    void Stamp(int32_t n, int32_t priority) {
        const auto key = std::make_pair(priority, Db::Today());
        const auto known = bytes_.find(key);
        if (known == bytes_.end()) return ThroughComponent(n, key);
        UseArea(p_);
        const char* from = known->second.data();
        for (const Slot& s : slots_) {
            std::memcpy(Dbf4::AssignField(s.no), from, s.size);
            from += s.size;
        }
        Dbf4::Replace();
    }

  private:
    struct Slot {
        int no = 0;
        size_t size = 0;
    };
    void ThroughComponent(int32_t n, const std::pair<int32_t, double>& key) {
        p_.Go(n);
        p_.Edit();
        p_.FieldByName("post_pri").SetAsInteger(key.first);
        p_.FieldByName("post_ajour").SetAsDateTime(key.second);
        p_.FieldByName("post_ini").SetAsString(ini_);
        UseArea(p_);
        std::string bytes;
        for (const Slot& s : slots_)
            bytes.append(reinterpret_cast<const char*>(Dbf4::FieldAddress(s.no)), s.size);
        p_.ReplaceRec();
        bytes_.emplace(key, std::move(bytes));
    }

    TzDs::TTzDbf& p_;
    std::string ini_;
    std::array<Slot, 3> slots_{};
    std::map<std::pair<int32_t, double>, std::string> bytes_;
};

// The postings' index writer turn held across the stamps of a few records, at most
// kTurnMs at a time: one turn (and one mark of the index file) for a run of changes instead
// of one for each. The walk's own count on the postings is let go for the turn. A turn
// ends early for a station waiting to write, and always before window messages run.
class WriterTurn {
  public:
    WriterTurn(TzDs::TTzDbf& p, TWalkHold& walk) : p_(p), walk_(walk) {}
    ~WriterTurn() { End(); }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;
    void Begin() {
        if (held_) return;
        walk_.BeforeChange();
        UseArea(p_);
        TzNdx::SetLockSemaphoreProc(1);
        held_ = true;
        since_.start();
    }
    // After a stamp: the turn ends when it has lasted long enough or another station waits.
    void Check() {
        if (!held_) return;
        UseArea(p_);
        if (since_.elapsed() >= kTurnMs || TzNdx::IndexWritersWaiting()) End();
    }
    void End() {
        if (!held_) return;
        held_ = false;
        UseArea(p_);
        TzNdx::SetLockSemaphoreProc(0);
        walk_.AfterChange();
    }

  private:
    static constexpr qint64 kTurnMs = 2;
    TzDs::TTzDbf& p_;
    TWalkHold& walk_;
    bool held_ = false;
    QElapsedTimer since_;
};

}  // namespace

void UpdatePostingPriorities(const std::string& ini, const std::function<void()>& step) {
    TKJData& d = *KJData();
    TzDs::TTzDbf& p = d.PostDbf;
    while (!p.FLock()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    p.CheckBrowseMode();
    GroupPriorities priorities(d);
    Stamps stamps(p, ini);
    TWalkHold walk({&d.VareDbf, &d.vareGDbf}, {&p});
    UseArea(p);
    const int itemField = Dbf4::FieldNo("POST_TMU");
    const int32_t count = Dbf4::RecCount();
    // The postings are read and stamped through their area; the component follows at the
    // end.
    WriterTurn turn(p, walk);
    for (int32_t n = 1; n <= count; ++n) {
        if (walk.PumpDue()) turn.End();
        walk.Step();
        UseArea(p);
        Dbf4::Go(n);
        if (Dbf4::Deleted()) continue;
        const std::string item = NativeText(itemField);
        int32_t priority = 0;
        if (!item.empty() && priorities.Find(item, priority)) {
            turn.Begin();
            stamps.Stamp(n, priority);
            turn.Check();
        }
        if (step) step();
    }
    turn.End();
    if (p.State() == Db::dsEdit) p.Cancel();
    priorities.Follow();
    if (count > 0) p.Go(count);
    walk.Release();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);  // the last step shown
}

void ShowVareIForm(int32_t recNo, const std::string& key) {
    TzDs::TTzDbf& t = KJData()->VareDbf;
    RunRegister<TVareIForm>(g_form, t, recNo, [&](TVareIForm& form) {
        form.ArmTitleClicks({5, 0, 1});
        THandlerSwap swap(t, Db::TDataSetNotifyEvent::Bind(&form, &TVareIForm::VareNewRecord),
                          Db::TDataSetNotifyEvent::Bind(&form, &TVareIForm::VareBeforePost), true);
        form.GroupFilter.clear();
        Guarded([&] { form.FillGroupPickList(); });
        StartWithKey(t, "tmu_id", key);
        form.exec();
        swap.Restore();
        KJData()->ResetTables();
    });
}

}  // namespace kj
