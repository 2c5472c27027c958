#include "app/kj_data.h"

#include "app/kj_tables.h"
#include "app/kj_text.h"
#include "data/dbf_fields.h"
#include "data/tz_dataset.h"

namespace kj {

namespace {

TKJData* g_data = nullptr;

struct SourceName {
    const char* source;
    const char* table;
};
constexpr SourceName kSources[] = {{"SagsData", "SagsDbf"},
                                   {"SagsBufData", "SagsBufDbf"},
                                   {"StatusData", "StatusDbf"},
                                   {"statusBufData", "statusBufDbf"},
                                   {"BrugerData", "BrugerDbf"},
                                   {"BrugerBufData", "BrugerBufDbf"},
                                   {"VareData", "VareDbf"},
                                   {"VareBufData", "VareBufDbf"},
                                   {"VareGData", "vareGDbf"},
                                   {"VareGBufData", "vareGBufDbf"},
                                   {"PostData", "PostDbf"},
                                   {"PostBufData", "PostBufDbf"},
                                   {"PostnrData", "PostnrDbf"},
                                   {"PostnrBufData", "PostnrBufDbf"},
                                   {"KundeData", "KundeDbf"},
                                   {"KundeBufData", "KundeBufDbf"},
                                   {"InteressentData", "InteressentDbf"},
                                   {"TimerData", "TimerDbf"},
                                   {"tmpPostData", "tmpPost"},
                                   {"tmpStatData", "tmpStat"},
                                   {"sagSlut", "SagAfslut"},
                                   {"postSlut", "posterAfslut"},
                                   {"statusSlut", "statusAfslut"}};

std::unique_ptr<Db::TField> MakeField(const TzDbfLow::FieldDef& c, const FieldSpec& spec,
                                      bool labelled) {
    std::unique_ptr<Db::TField> f;
    switch (c.type) {
        case 'D':
            f = std::make_unique<TzDs::TTzDateField>();
            break;
        case 'L': {
            auto b = std::make_unique<Db::TBooleanField>();
            if (labelled && spec.jaNej) b->SetDisplayValues("Ja;Nej");
            f = std::move(b);
            break;
        }
        case 'N':
        case 'F':
            if (c.decimals == 0) {
                if (c.length <= 9)
                    f = std::make_unique<Db::TIntegerField>();
                else
                    f = std::make_unique<Db::TLargeintField>();
            } else {
                auto fl = std::make_unique<Db::TFloatField>();
                if (labelled && spec.currency) fl->SetCurrency(true);
                f = std::move(fl);
            }
            break;
        default:
            f = std::make_unique<Db::TStringField>(c.length);
            break;
    }
    f->SetFieldName(c.name);
    if (labelled) {
        if (!spec.label.empty()) f->SetDisplayLabel(spec.label);
        if (!spec.mask.empty()) f->SetEditMask(spec.mask);
    }
    return f;
}

template <class F>
F& Calc(TzDs::TTzDbf& t, const char* name, int size, const char* label = nullptr) {
    auto f = std::make_unique<F>();
    if constexpr (std::is_same_v<F, Db::TStringField>) f->SetSize(size);
    f->SetFieldName(name);
    f->SetFieldKind(Db::fkCalculated);
    if (label) f->SetDisplayLabel(Ansi(label));
    return static_cast<F&>(t.AddField(std::move(f)));
}

}  // namespace

TKJData* KJData() {
    return g_data;
}

void SetKJData(TKJData* data) {
    g_data = data;
}

TKJData::TKJData() {
    TzDs::TTzDbf* all[] = {
        &SagsDbf, &SagsBufDbf, &StatusDbf, &statusBufDbf, &BrugerDbf,      &BrugerBufDbf,
        &VareDbf, &VareBufDbf, &vareGDbf,  &vareGBufDbf,  &PostnrDbf,      &PostnrBufDbf,
        &PostDbf, &PostBufDbf, &KundeDbf,  &KundeBufDbf,  &InteressentDbf, &TimerDbf,
        &tmpPost, &tmpStat,    &SagAfslut, &posterAfslut, &statusAfslut,   &TzDbf1};
    for (TzDs::TTzDbf* t : all) tables_[t->Name()] = t;
    BuildComponents();
    AttachHandlers();
    for (const SourceName& s : kSources) {
        auto src = std::make_unique<Db::TDataSource>(s.source);
        src->SetDataSet(tables_.at(s.table));
        sources_[s.source] = std::move(src);
    }
}

TKJData::~TKJData() {
    // Sources first, then the tables close (header and end mark written) as they go.
    sources_.clear();
    if (g_data == this) g_data = nullptr;
}

TzDs::TTzDbf* TKJData::Table(const std::string& component) {
    auto it = tables_.find(component);
    return it == tables_.end() ? nullptr : it->second;
}

Db::TDataSource* TKJData::DataSource(const std::string& name) {
    auto it = sources_.find(name);
    return it == sources_.end() ? nullptr : it->second.get();
}

std::vector<TzDs::TTzDbf*> TKJData::MainCursors() {
    return {&SagsDbf,      &SagsBufDbf,   &StatusDbf,  &statusBufDbf, &BrugerDbf,
            &BrugerBufDbf, &VareDbf,      &VareBufDbf, &PostDbf,      &PostBufDbf,
            &PostnrDbf,    &PostnrBufDbf, &KundeDbf,   &KundeBufDbf};
}

std::vector<TzDs::TTzDbf*> TKJData::MainTables() {
    return {&SagsDbf, &StatusDbf, &PostDbf, &BrugerDbf, &KundeDbf, &VareDbf, &PostnrDbf};
}

void TKJData::BuildFields(TzDs::TTzDbf& table, const TableSpec& spec, bool labelled) {
    for (const FieldSpec& fs : spec.fields) {
        TzDbfLow::FieldDef def;
        TzDs::ParseFieldLine(fs.line, def);
        table.AddField(MakeField(def, fs, labelled));
    }
}

void TKJData::BuildComponents() {
    for (auto& [name, table] : tables_) {
        table->HideDeletedRecs = true;
        table->TableLanguage = TzDs::tlOem;
        table->CreateIfNotFound = false;
        table->CreateIndex = TzDs::ciNever;
        if (name == "TzDbf1") continue;
        const TableSpec* spec = FindTable(name);
        const bool twin = spec->component != name;
        table->DbfFields() = spec->DbfFields();
        if (!twin) table->IndexList() = spec->tags;
        BuildFields(*table, *spec, !twin || name == "SagsBufDbf");
    }
    for (TzDs::TTzDbf* t : {&PostDbf, &TimerDbf, &tmpPost}) t->CreateIndex = TzDs::ciVerifyHeader;
    for (TzDs::TTzDbf* t : {&SagAfslut, &posterAfslut, &statusAfslut}) {
        t->CreateIndex = TzDs::ciNotFound;
        t->CreateIfNotFound = true;
    }
    SagsBufDbf.FieldByName("sag_ini").SetDisplayLabel(Ansi("Ajorført af"));
    SagsBufDbf.FieldByName("sag_ansvar").SetDisplayLabel("Medarbejder");
    SagsBufDbf.FieldByName("sag_matnr").SetDisplayLabel("Matnr.");
    TzDbf1.HideDeletedRecs = false;
    TzDbf1.SetAutoCalcFields(false);

    Calc<Db::TBooleanField>(SagsDbf, "SagenErLukket", 0);
    Calc<Db::TStringField>(SagsDbf, "SagBeskriv", 110).SetReadOnly(true);
    Calc<Db::TStringField>(BrugerDbf, "BrugerNavn", 100, "Medarbejdernavn");
    Calc<Db::TStringField>(BrugerDbf, "IdOgNavn", 100, "Id && Navn");
    Calc<Db::TStringField>(BrugerDbf, "BrugerAdresse", 100);
    Calc<Db::TStringField>(BrugerDbf, "BrugerPostBy", 100);
    Calc<Db::TStringField>(KundeDbf, "KundeNavn", 100, "Kundenavn");
    Calc<Db::TStringField>(KundeDbf, "KundeAdresse", 100);
    Calc<Db::TStringField>(KundeDbf, "KundePostBy", 100);
    Calc<Db::TStringField>(InteressentDbf, "INT_NAVN", 100, "Navn").SetReadOnly(true);
    for (TzDs::TTzDbf* t : {&PostDbf, &TimerDbf, &tmpPost}) {
        Calc<Db::TCurrencyField>(*t, "Total", 0, "Pris");
        Calc<Db::TCurrencyField>(*t, "Moms", 0);
        Calc<Db::TFloatField>(*t, "IAlt", 0, "I Alt").SetCurrency(true);
    }
}

}  // namespace kj
