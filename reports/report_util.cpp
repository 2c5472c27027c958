#include "reports/report_util.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <cmath>
#include <set>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "app/prog_dlg.h"
#include "data/db_fields.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"

namespace kjrep {

std::string FormatAmount(int64_t v) {
    const bool negative = v < 0;
    // Magnitude in hundredths, half away from zero; unsigned so INT64_MIN stays exact.
    uint64_t m = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    m = (m + 50) / 100;
    std::string digits = std::to_string(m / 100);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    const unsigned cents = static_cast<unsigned>(m % 100);
    out += ',';
    out += static_cast<char>('0' + cents / 10);
    out += static_cast<char>('0' + cents % 10);
    return negative && m != 0 ? "-" + out : out;
}

std::string FormatKroner(int64_t v) {
    return FormatAmount(v) + " kr";
}

namespace {
void TellUnread(const Db::TField& field, const std::string& why, const char* counted);
}  // namespace

int64_t FieldMoney(const Db::TField& field) {
    int64_t value = 0;
    std::string why;
    if (!kj::ReadStoredMoney(field, value, why)) TellUnread(field, why, "0");
    return value;
}

std::string UpperTrimmed(const std::string& s) {
    return TzUtils::AnsiUpper(TzUtils::TrimRight(s));
}

std::string KeyOf(const std::string& s, size_t n) {
    return TzUtils::AnsiUpper(TzUtils::PadRightOrCut(s, n));
}

Db::TDateTime FieldDay(const Db::TField& field) {
    try {
        return field.IsNull() ? 0 : std::floor(field.AsDateTime());
    } catch (const std::exception& e) {
        TellUnread(field, e.what(), "tom");
    } catch (...) {
        TellUnread(field, std::string(), "tom");
    }
    return 0;
}

std::string ShortDate(Db::TDateTime day) {
    return day == 0 ? std::string() : Db::FormatDateTime("dd-mm-yyyy", day);
}

std::string DateKey(Db::TDateTime day) {
    return day == 0 ? std::string() : Db::FormatDateTime("yyyymmdd", day);
}

Db::TDateTime DayOf(const QDate& date) {
    Db::TDateTime out = 0;
    if (!date.isValid() || !Db::TryEncodeDate(date.year(), date.month(), date.day(), out)) return 0;
    return out;
}

const TLayoutKey kPostingColumns[10] = {
    {"PostDato", "post_dato", "Dato;0;0;14;6;V;0;0;14;6;V"},
    {"PostVare", "post_tmu", "Vare;15;0;14;6;V;15;0;14;6;V"},
    {"PostBem", "post_bem", "Tekst;30;0;29;6;V;30;0;29;6;V"},
    {"PostDK", "post_dk", "DK;60;0;4;6;V;60;0;4;6;V"},
    {"PostAntal", "post_antal", "Antal;65;0;19;6;H;65;0;19;6;H"},
    {"PostPris", "post_pris", "Pris;85;0;19;6;H;85;0;19;6;H"},
    {"PostRabat", "post_rabat", "R;105;0;4;6;V;105;0;4;6;V"},
    {"PostTotal", "Total", "Total;110;0;24;6;H;110;0;24;6;H"},
    {"PostMoms", "Moms", "Moms;135;0;24;6;H;135;0;24;6;H"},
    {"PostIAlt", "IAlt", "IAlt;160;0;24;6;V;160;0;24;6;V"},
};

namespace {

struct State {
    QElapsedTimer lastPump;
    TIndexReadRun* run = nullptr;  // the innermost live run
};

State& S() {
    static State s;
    return s;
}

// The fields already told of during the outermost live walk: file, field and record.
std::set<std::string>& Told() {
    static std::set<std::string> told;
    return told;
}

// Tells the user which field of which row a report could not read and what it counts
// instead, once per field and row in a walk; the walk's index read counts are let go while
// the box shows.
void TellUnread(const Db::TField& field, const std::string& why, const char* counted) {
    const kj::UnreadField u = kj::DescribeUnreadField(field, why);
    if (S().run && !Told().insert(u.key).second) return;
    std::string text = u.text + ".\r\nRapporten regner det som " + std::string(counted) + ".";
    TIndexReadRun* run = S().run;
    for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Release();
    kj::ShowMsg(text);
    if (run && S().run == run)
        for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Take();
}

}  // namespace

// Every call lets what is waiting through, but not more often than every 20 ms: a loop over
// a million rows would otherwise spend its time asking an empty queue.
void LetMessagesThrough() {
    State& s = S();
    for (TIndexReadRun* r = s.run; r; r = r->Outer()) r->Hold().GiveWay();
    if (s.lastPump.isValid() && s.lastPump.elapsed() < 20) return;
    // Nothing that runs now (a timer, a repaint) may find this station counted in.
    TIndexReadRun* run = s.run;
    for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Release();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (run && S().run == run)
        for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Take();
    s.lastPump.start();
}

void ProgressStepHeld(int position) {
    const kj::TProgressDialog* d = kj::TProgressDialog::Current();
    if (!d || position % d->Step() != 0) return;
    TIndexReadRun* run = S().run;
    for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Release();
    kj::ProgressStep(position);
    if (run && S().run == run)
        for (TIndexReadRun* r = run; r; r = r->Outer()) r->Hold().Take();
}

TIndexReadRun::TIndexReadRun(std::vector<TzDs::TTzDbf*> tables)
    : hold_(std::move(tables)), outer_(S().run) {
    S().run = this;
}

TIndexReadRun::~TIndexReadRun() {
    S().run = outer_;
    if (!outer_) Told().clear();  // the next walk tells again
}

void TBusyCursor::Set(bool on) {
    if (on == on_) return;
    on_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

TRunGuard::TRunGuard(std::vector<QWidget*> widgets) {
    busy_.Set(true);
    for (QWidget* w : widgets)
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            disabled_.emplace_back(w);
        }
}

TRunGuard::~TRunGuard() {
    for (const QPointer<QWidget>& w : disabled_)
        if (w) w->setEnabled(true);
    busy_.Set(false);
}

}  // namespace kjrep
