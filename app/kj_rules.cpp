// The data module's record rules (stamps, questions, upper-cased keys) and calculated
// fields. Money is computed in ten-thousandths (int64), products exactly in 128 bits.
#include <QCoreApplication>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <set>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

// The refusal of a total no money count can hold, with the limit in the program's number
// format.
std::string TooLargeText(const char* what = "Beløbet") {
    return Ansi(what) + Ansi(" er for stort: en postering kan højst være på ") +
           Db::NumberText(922337203685477.0) + " kr.";
}

// An amount in ten-thousandths as the 64-bit count money is kept in; an amount beyond it
// (about 922 337 203 685 477 kr.) is refused with a message instead of changing its sign.
int64_t Amount(__int128 v, const char* what = "Beløbet") {
    if (v > INT64_MAX || v < INT64_MIN) throw Db::EDatabaseError(TooLargeText(what));
    return static_cast<int64_t>(v);
}

// num / den rounded to the nearest integer, ties to even (den > 0).
int64_t DivRoundEven(__int128 num, __int128 den) {
    __int128 q = num / den, r = num % den;
    if (r < 0) {
        r = -r;
    }
    const __int128 twice = 2 * r;
    if (twice > den || (twice == den && (q % 2 != 0))) q += num < 0 ? -1 : 1;
    return Amount(q);
}

int64_t Currency(const Db::TField& f) {
    return f.IsNull() ? 0 : f.AsCurrency();
}

// The table file and row the user knows a field's row by: the row of the main window's copy
// of a case's postings is the shared postings table's row it came from.
std::pair<std::string, int32_t> KnownRow(const Db::TField& field) {
    Db::TDataSet* ds = field.DataSet();
    TKJData* data = KJData();
    if (ds && data && ds == &data->tmpPost) {
        const int32_t source = data->tmpPost.FieldByName("post_recno").AsInteger();
        if (source > 0) return {data->PostDbf.DbfFileName(), source};
    }
    const auto* table = dynamic_cast<const TzDs::TTzDataSet*>(ds);
    return {table ? table->DbfFileName() : ds ? ds->Name() : std::string(), ds ? ds->RecNo() : 0};
}

}  // namespace

void TellUnreadAmount(const Db::TField& field, const std::string& where, int32_t rec,
                      const std::string& why) {
    static std::set<std::string> told;
    std::string reason = why;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    const UnreadField u = DescribeUnreadField(field, where, rec, reason);
    if (!told.insert(u.key).second) return;
    const std::string text = u.text + Ansi(".\r\nBeløbene regnes som 0.");
    QTimer::singleShot(0, QCoreApplication::instance(), [text] { ShowMsg(text); });
}

bool ReadStoredMoney(const Db::TField& field, int64_t& value, std::string& why) {
    try {
        value = Currency(field);
        return true;
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why.clear();
    }
    value = 0;
    return false;
}

int64_t StoredMoney(const Db::TField& field) {
    int64_t value = 0;
    std::string why;
    if (ReadStoredMoney(field, value, why)) return value;
    const auto [where, rec] = KnownRow(field);
    TellUnreadAmount(field, where, rec, why);
    return 0;
}

void AddMoney(int64_t& sum, int64_t add) {
    if (__builtin_add_overflow(sum, add, &sum)) sum = add < 0 ? INT64_MIN : INT64_MAX;
}

void TellTotalTooLarge(const Db::TField& total) {
    const auto [where, rec] = KnownRow(total);
    TellUnreadAmount(total, where, rec, TooLargeText());
}

int64_t StoredMoney(double value, const Db::TField& field, const std::string& where, int32_t rec) {
    try {
        return Db::FloatToCurr(value);
    } catch (const std::exception& e) {
        TellUnreadAmount(field, where, rec, e.what());
    }
    return 0;
}

const std::vector<StampRule>& TKJData::StampRules() {
    static const std::vector<StampRule> rules = {
        {"SagsDbf", "sag_opret", "sag_ajour", "sag_ini", nullptr, nullptr},
        {"StatusDbf", "stat_opret", "stat_ajour", "stat_ini", nullptr,
         "Skal den rettede hændelse gemmes ?"},
        {"BrugerDbf", "ini_opret", "ini_ajour", "ini_ini", "ini",
         "Skal den rettede bruger gemmes ?"},
        {"VareDbf", "tmu_opret", "tmu_ajour", "tmu_ini", "tmu_id",
         "Skal den rettede vare gemmes ?"},
        {"vareGDbf", "opret", "ajour", "ini", "id", "Skal den rettede varegruppe gemmes ?"},
        {"PostnrDbf", "pst_opret", "pst_ajour", "pst_ini", nullptr,
         "Skal det rettede postnr. gemmes ?"},
        {"PostDbf", "post_opret", "post_ajour", "post_ini", nullptr,
         "Skal den rettede postering gemmes ?"},
        {"TimerDbf", "post_opret", "post_ajour", "post_ini", nullptr,
         "Skal den rettede postering gemmes ?"},
        {"KundeDbf", "mak_opret", "mak_ajour", "mak_ini", "mak_id",
         "Skal den rettede kunde gemmes ?"},
        {"InteressentDbf", "int_opret", "int_ajour", "int_ini", nullptr,
         "Skal den rettede postering gemmes ?"},
    };
    return rules;
}

bool TKJData::Confirm(const std::string& text) {
    return kjqt::DialogService::Instance().YesNo(kjqt::FromAnsi(text), QStringLiteral("Bekræft"),
                                                 kjqt::mb::kIconQuestion);
}

// A changed row that another station has deleted meanwhile: nothing is written into the
// deleted record, and the user is told. The record lock reads the stored row anew and is let
// go at once (the write takes its own; no lock is held while a later question is open). A
// refused lock is left to the write, which asks about it.
bool TKJData::RefuseDeletedRow(TzDs::TTzDbf& t) {
    if (t.State() != Db::dsEdit || !t.RLock()) return false;
    const bool deleted = t.Deleted();
    t.UnLock();
    if (deleted) ShowMsg(Ansi(kRowDeletedText));
    return deleted;
}

void TKJData::AttachStampRule(const StampRule& rule) {
    TzDs::TTzDbf& t = *Table(rule.component);
    const bool group = std::string(rule.component) == "vareGDbf";
    const bool user = std::string(rule.component) == "BrugerDbf";
    t.OnNewRecord = [this, rule, group, user](Db::TDataSet& ds) {
        const std::string ini = GetAjourInitials();
        if (TzUtils::TrimRight(ini).empty()) {
            ds.Cancel();
            return;
        }
        const Db::TDateTime today = Db::Today();
        ds.FieldByName(rule.created).SetAsDateTime(today);
        ds.FieldByName(rule.changed).SetAsDateTime(today);
        ds.FieldByName(rule.initials).SetAsString(ini);
        if (group) ds.FieldByName("priori").SetAsInteger(100);
        // A new employee may not change data until the box is ticked (a blank would be
        // neither, and the login reads it as no right).
        if (user) ds.FieldByName("ini_ret").SetAsBoolean(false);
    };
    t.BeforePost = [this, rule, &t](Db::TDataSet& ds) {
        const std::string ini = GetAjourInitials();
        if (TzUtils::TrimRight(ini).empty() || (rule.question && !Confirm(Ansi(rule.question))) ||
            RefuseDeletedRow(t)) {
            ds.Cancel();
            return;
        }
        ds.FieldByName(rule.changed).SetAsDateTime(Db::Today());
        ds.FieldByName(rule.initials).SetAsString(ini);
        if (rule.key) {
            Db::TField& key = ds.FieldByName(rule.key);
            key.SetAsString(TzUtils::AnsiUpper(key.AsString()));
        }
    };
}

void TKJData::AttachHandlers() {
    for (const StampRule& rule : StampRules()) AttachStampRule(rule);
    auto bind = [this](void (TKJData::*m)(Db::TDataSet&)) {
        return Db::TDataSetNotifyEvent::Bind(this, m);
    };
    SagsDbf.OnCalcFields = bind(&TKJData::SagsDbfCalcFields);
    BrugerDbf.OnCalcFields = bind(&TKJData::BrugerDbfCalcFields);
    KundeDbf.OnCalcFields = bind(&TKJData::KundeDbfCalcFields);
    InteressentDbf.OnCalcFields = bind(&TKJData::InteressentDbfCalcFields);
    for (TzDs::TTzDbf* t : {&PostDbf, &TimerDbf, &tmpPost})
        t->OnCalcFields = bind(&TKJData::CalcPostingFields);
}

TKJData::PostingAmounts TKJData::CalcPosting(const std::string& dk, int64_t antal, int64_t pris,
                                             int64_t rabat, int64_t momsRate) {
    PostingAmounts r;
    const int s = dk == "K" ? -1 : 1;
    // antal × (pris − rabat): two counts of ten-thousandths, so the product is in 10^-8.
    const __int128 product = static_cast<__int128>(antal) * (static_cast<__int128>(pris) - rabat);
    r.total = Amount(s * static_cast<__int128>(DivRoundEven(product, 10000)));
    // Total × rate / 100, the rate in ten-thousandths of a percent.
    r.moms = DivRoundEven(static_cast<__int128>(r.total) * momsRate, 100 * 10000);
    // The largest amount itself is a valid total; with VAT on top it is the total with VAT
    // that no money count can hold, and the refusal says so.
    r.ialt = Amount(static_cast<__int128>(r.total) + r.moms, "Beløbet med moms");
    return r;
}

void TKJData::CalcPostingFields(Db::TDataSet& ds) {
    PostingAmounts a;
    try {
        a = CalcPosting(
            ds.FieldByName("post_dk").AsString(), StoredMoney(ds.FieldByName("post_antal")),
            StoredMoney(ds.FieldByName("post_pris")), StoredMoney(ds.FieldByName("post_rabat")),
            StoredMoney(ds.FieldByName("post_moms")));
    } catch (const Db::EDatabaseError&) {
        // A total too large for a posting: refused while the user types it; a stored row
        // (written by another program) counts as 0 and is told of, as an unreadable amount.
        if (ds.Modified()) throw;
        TellTotalTooLarge(ds.FieldByName("Total"));
        a = PostingAmounts{};
    }
    ds.FieldByName("Total").SetAsCurrency(a.total);
    ds.FieldByName("Moms").SetAsCurrency(a.moms);
    ds.FieldByName("IAlt").SetAsFloat(Db::CurrToFloat(a.ialt));
}

void TKJData::SagsDbfCalcFields(Db::TDataSet& ds) {
    const Db::TField& closed = ds.FieldByName("sag_afslut");
    const Db::TDateTime day = closed.IsNull() ? 0 : closed.AsDateTime();
    ds.FieldByName("SagenErLukket")
        .SetAsBoolean(day != 0 && std::floor(Db::Today()) >= std::floor(day));
    ds.FieldByName("SagBeskriv")
        .SetAsString(
            TzUtils::AnsiUpper(TzUtils::PadRightOrCut(ds.FieldByName("sags_nr").AsString(), 10)) +
            ds.FieldByName("sags_bem").AsString());
}

bool TKJData::LookUpRow(TzDs::TTzDbf& table, const std::string& tag, const std::string& key,
                        const std::function<void()>& read) {
    if (!table.Active() || table.State() != Db::dsBrowse) return false;
    const std::string oldTag = TzUtils::TrimRight(table.CurrentTag());
    const bool switchTag = TzUtils::AnsiUpper(oldTag) != tag;
    const int32_t recNo = table.s_RecNo();
    if (switchTag && !table.SetOrderToTag(tag)) return false;
    const bool found = table.Find(key);
    if (found) read();
    if (switchTag) {
        table.SetOrderToTag(oldTag);
        GotoRecNo(table, recNo);
    }
    return found;
}

std::string TKJData::LookUp(TzDs::TTzDbf& table, const std::string& tag, const std::string& key,
                            const std::string& field, bool& found) {
    std::string value;
    found = LookUpRow(table, tag, key, [&] { value = table.FieldByName(field).AsString(); });
    return value;
}

void TKJData::BrugerDbfCalcFields(Db::TDataSet& ds) {
    auto s = [&](const char* n) { return TzUtils::TrimRight(ds.FieldByName(n).AsString()); };
    const std::string navn = s("ini_fnavn") + " " + s("ini_enavn");
    ds.FieldByName("BrugerNavn").SetAsString(navn);
    ds.FieldByName("IdOgNavn")
        .SetAsString(TzUtils::PadRightOrCut(ds.FieldByName("ini").AsString(), 10) + " " + navn);
    ds.FieldByName("BrugerAdresse").SetAsString(s("ini_adr1") + " " + s("ini_adr2"));
    bool found = false;
    // The POSTNR tag holds the code as typed (no upper-casing).
    const std::string town = LookUp(
        PostnrDbf, "POSTNR", PostnrKey(ds.FieldByName("ini_postnr").AsString()), "pst_by", found);
    ds.FieldByName("BrugerPostBy")
        .SetAsString(found ? s("ini_postnr") + " " + TzUtils::TrimRight(town) : s("ini_postnr"));
}

void TKJData::KundeDbfCalcFields(Db::TDataSet& ds) {
    auto s = [&](const char* n) { return TzUtils::TrimRight(ds.FieldByName(n).AsString()); };
    ds.FieldByName("KundeNavn").SetAsString(s("mak_fnavn") + " " + s("mak_enavn"));
    ds.FieldByName("KundeAdresse").SetAsString(s("mak_adr1") + " " + s("mak_adr2"));
    bool found = false;
    const std::string town = LookUp(
        PostnrDbf, "POSTNR", PostnrKey(ds.FieldByName("mak_postnr").AsString()), "pst_by", found);
    ds.FieldByName("KundePostBy")
        .SetAsString(found ? s("mak_postnr") + " " + TzUtils::TrimRight(town) : s("mak_postnr"));
}

void TKJData::InteressentDbfCalcFields(Db::TDataSet& ds) {
    bool found = false;
    const std::string key =
        TzUtils::AnsiUpper(TzUtils::PadRightOrCut(ds.FieldByName("int_id").AsString(), 10));
    const std::string navn = LookUp(KundeDbf, "KUNDE", key, "KundeNavn", found);
    ds.FieldByName("INT_NAVN").SetAsString(found ? TzUtils::TrimRight(navn) : std::string());
}

}  // namespace kj
