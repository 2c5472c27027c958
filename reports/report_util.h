// Small pieces the report windows share: amounts as "###,##0.00" (decimal ",", a blank
// between thousands), key texts padded and upper-cased as the indexes hold them, short
// dates, letting waiting window messages through during a run, and the guard that keeps a
// window's buttons disabled while its report runs. GUI thread.
#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "data/db_types.h"
#include "data/tz_dbf.h"
#include "storage/tz_utils.h"

class QDate;

namespace Db {
class TField;
class TDataSet;
}  // namespace Db

namespace kjrep {

// An amount in ten-thousandths as "###,##0.00": rounded half away from zero to hundredths,
// "," before the decimals, a blank between thousands, "-" in front of a negative amount.
std::string FormatAmount(int64_t tenThousandths);
// The same followed by " kr".
std::string FormatKroner(int64_t tenThousandths);

// A field's value in ten-thousandths (0 for a field that is null or cannot be read; the user
// is told which field of which row could not be read, once per walk).
int64_t FieldMoney(const Db::TField& field);

using TzUtils::TrimRight;
// s without trailing blanks, upper-cased as Windows-1252: how two key texts are compared.
std::string UpperTrimmed(const std::string& s);
// s padded to n and upper-cased as Windows-1252 (the form of the index keys).
std::string KeyOf(const std::string& s, size_t n);

// A date field's day (0 when blank or unreadable, the user told as for FieldMoney) and the
// short date text "dd-MM-yyyy" of a day.
Db::TDateTime FieldDay(const Db::TField& field);
std::string ShortDate(Db::TDateTime day);
// "YYYYMMDD" of a day (an index key's date part).
std::string DateKey(Db::TDateTime day);
// A calendar day as the data layer's day number (0 for an invalid date).
Db::TDateTime DayOf(const QDate& date);

// A layout key of a report, the field it prints (nullptr: none) and its built-in default.
struct TLayoutKey {
    const char* key;
    const char* field;
    const char* def;
};
// The posting columns that the active-cases and postings-per-employee reports share, from
// the date to the total with VAT.
extern const TLayoutKey kPostingColumns[10];

// Repaints and keeps the program alive without running user actions (at most every 20 ms).
// Called at every step of a report's walk; it also lets the current TIndexReadRun give way.
void LetMessagesThrough();

// The index read counts of a report's tables held across its walk (TzDs::TIndexReadHold),
// let go while window messages run: LetMessagesThrough gives every live run's hold its
// chance to give way and releases them around the messages. Made after the report's last
// message before the walk.
class TIndexReadRun {
  public:
    explicit TIndexReadRun(std::vector<TzDs::TTzDbf*> tables);
    ~TIndexReadRun();
    TIndexReadRun(const TIndexReadRun&) = delete;
    TIndexReadRun& operator=(const TIndexReadRun&) = delete;
    TzDs::TIndexReadHold& Hold() { return hold_; }
    TIndexReadRun* Outer() const { return outer_; }  // the run this one is nested in

  private:
    TzDs::TIndexReadHold hold_;
    TIndexReadRun* outer_ = nullptr;
};

// kj::ProgressStep inside a walk: when the progress window is due to let the messages
// through, every live TIndexReadRun lets its counts go meanwhile.
void ProgressStepHeld(int position);

// The hourglass while on; balanced however often it is switched, and off when it goes.
class TBusyCursor {
  public:
    TBusyCursor() = default;
    ~TBusyCursor() { Set(false); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
    void Set(bool on);

  private:
    bool on_ = false;
};

// While alive: the hourglass, and every given widget disabled (enabled again afterwards
// unless it was disabled before).
class TRunGuard {
  public:
    explicit TRunGuard(std::vector<QWidget*> widgets);
    ~TRunGuard();
    TRunGuard(const TRunGuard&) = delete;
    TRunGuard& operator=(const TRunGuard&) = delete;

  private:
    TBusyCursor busy_;
    std::vector<QPointer<QWidget>> disabled_;
};

}  // namespace kjrep
