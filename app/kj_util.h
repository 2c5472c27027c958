// KJUtil: the application's small helper routines: texts (1-based positions, as the
// windows count them), numbers, the two Danish character-set repairs, message boxes above
// stay-on-top windows, the progress-window wrapper, a wait and the signal beeps.
// GUI thread (the window routines); the text and number routines are pure.
#pragma once

#include <QElapsedTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/tz_dbf.h"

class QWidget;

namespace kj {

int Sign(double x);
int PosFrom(int start, const std::string& text, const std::string& pattern);
std::string IIf(bool flag, const std::string& a, const std::string& b);
char CharAt(const std::string& text, int i);
char CharAtOrBlank(const std::string& text, int i);
char FirstChar(const std::string& text);
std::string CopyFrom(const std::string& text, int i);
std::string RemoveChar(const std::string& text, char c);
std::string ReplaceChar(const std::string& text, char from, char to);
// A postal code as the postal-code register's POSTNR tag is searched for: as typed (no
// upper-casing), trailing blanks off, padded with blanks to the key's 10 characters.
std::string PostnrKey(const std::string& code);
// The Danish letters and ², ü, Ü from OEM-850 codes to Windows-1252; others unchanged.
std::string OemToAnsi(const std::string& text);
// The 7-bit Danish forms ({|}[\]) and the OEM codes of the Danish letters to Windows-1252.
void DosToAnsi(std::string& text);
void PutField(std::string& text, const std::string& value, int position, int width);
// Assigns a text to character field `field` of the selected area's native buffer (cut to
// the field's width, padded with blanks), so the next Replace or Append writes it.
void PutNativeText(int field, const std::string& text);
int SafeStrToInt(const std::string& text, int def);
double SafeStrToFloat(const std::string& text, double def);
int32_t RoundToInt(double x);
std::string FloatToText(double x, int format, int precision, int digits);
std::string FloatToFixed(int precision, int digits, double x);

// Windows.
void ShowMsg(const std::string& text);
// The engine's failure that stopped a step on `what` (a table), with its code, as an
// exception whose text the message box tells in the user's words.
[[noreturn]] void ThrowEngineFailure(const std::string& what);
// The same for the failure `code`, taken before a later engine call (such as selecting
// another work area) cleared the error word.
[[noreturn]] void ThrowEngineFailure(const std::string& what, uint16_t code);
// Runs a move of rows (archive, restore, transfer); a failure that stops it is raised
// again saying that no row is lost or doubled and that running it again finishes it.
void RunMove(const std::string& again, const std::function<void()>& move);
// A field whose value could not be read, in the user's words: which field of which row of
// which table, and why when `why` says so (no full stop after it); and the key that names
// that field of that row, for telling of it once.
struct UnreadField {
    std::string text;
    std::string key;
};
UnreadField DescribeUnreadField(const Db::TField& field, const std::string& why);
// The same for the row `rec` of the table file `where` (a row known by another table's).
UnreadField DescribeUnreadField(const Db::TField& field, const std::string& where, int32_t rec,
                                const std::string& why);
// Tells the user, in a box each, of every table whose header claimed more records than the
// file held whole (repaired by the open or append that found it): which table, how many
// records are missing, and that its index was built again. The start-up calls it, and
// with the main window up it runs after each of the user's actions (SetMainWindow).
void TellShortTables();
void ProgressOpen(const std::string& caption, const std::vector<std::string>& lines, int maximum);
void ProgressStep(int position);
void ProgressClose();
void Wait(double seconds);
void Signal(int kind);

// The wait cursor while it lives.
struct WaitCursor {
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The index read counts of a long walk's tables held across it (TzDs::TIndexReadHold),
// so that its steps do not count themselves in and out of each shared semaphore file.
// Step, called at every step, gives way to a station that waits to change one of the
// indexes, and at most every 20 ms lets the window messages through with the counts let
// go. The tables the walk itself changes are held apart: BeforeChange lets their counts go
// (this station never changes an index it holds a count of), AfterChange takes them again.
// Release before anything that waits for the user (a message box), Take afterwards.
class TWalkHold {
  public:
    explicit TWalkHold(std::vector<TzDs::TTzDbf*> readOnly, std::vector<TzDs::TTzDbf*> changed = {})
        : reading_(std::move(readOnly)), changing_(std::move(changed)) {}
    void Step();
    // Whether the next Step lets window messages through.
    bool PumpDue() const { return !lastPump_.isValid() || lastPump_.elapsed() >= kPumpMs; }
    void BeforeChange() { changing_.Release(); }
    void AfterChange() { changing_.Take(); }
    void Release();
    void Take();

  private:
    static constexpr qint64 kPumpMs = 20;
    TzDs::TIndexReadHold reading_;
    TzDs::TIndexReadHold changing_;
    QElapsedTimer lastPump_;
};

// The main window, owner of the progress window (nullptr until it exists).
void SetMainWindow(QWidget* window);
QWidget* MainWindow();

}  // namespace kj
