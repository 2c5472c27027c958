// What the register windows share: the Ctrl keys of the register pattern caught before the
// focused editor sees them, the swap of a table's record handlers while a window is shown,
// the post of a pending edit when a register closes, key look-ups on a second cursor and
// the guard that shows a handler's error instead of letting it cross the event loop.
// GUI thread; the data module (KJData()) exists while any of these run.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "data/tz_dbf.h"
#include "ui/application.h"

class QBoxLayout;
class QKeyEvent;
class QPushButton;
class QWidget;

namespace kj {

// Text of the sources (UTF-8) for Qt, and for the engine (Windows-1252).
QString Q(const char* utf8);

// The register keys: exactly Ctrl held (Shift or Alt with it: none).
enum class RegKey { None, New, Delete, Undo, Close };
RegKey RegisterKeyOf(const QKeyEvent& event);

// Catches the register keys typed into `area` or any widget inside it (the grid and its
// cell editors, which would otherwise take Ctrl+X and Ctrl+Backspace as editing keys) and
// hands them to `act`; each caught key is consumed.
class TRegisterKeyFilter : public QObject {
  public:
    TRegisterKeyFilter(QWidget* area, std::function<void(RegKey)> act);
    ~TRegisterKeyFilter() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* area_;
    std::function<void(RegKey)> act_;
};

// Ctrl+X closes `window` (runs close) wherever its focus is, a text field or a cell editor
// included: no editor of the window may claim the key as its cut, and the window's shortcut
// takes it.
class TCloseKey : public QObject {
  public:
    TCloseKey(QWidget* window, std::function<void()> close);
    ~TCloseKey() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
};

// Saves a table's OnNewRecord (when swapNew) and BeforePost and installs the window's;
// Restore() (or the destructor) puts the saved ones back. Windows nest, so swaps are
// restored in the reverse order of their installing.
class THandlerSwap {
  public:
    THandlerSwap(TzDs::TTzDbf& table, Db::TDataSetNotifyEvent newRecord,
                 Db::TDataSetNotifyEvent beforePost, bool swapNew);
    ~THandlerSwap() { Restore(); }
    THandlerSwap(const THandlerSwap&) = delete;
    THandlerSwap& operator=(const THandlerSwap&) = delete;
    void Restore();

  private:
    TzDs::TTzDbf& table_;
    Db::TDataSetNotifyEvent savedNew_, savedPost_;
    bool swapNew_, restored_ = false;
};

// A register window's button at the end of its button row: no auto-default, and its action
// runs guarded.
QPushButton* AddRegisterButton(QWidget& owner, QBoxLayout& row, const char* text,
                               const std::function<void()>& action);

// Runs body; an exception is shown the way the application shows it (the silent abort
// shows nothing). False when body raised.
using kjqt::Guarded;

// The update initials, right-trimmed (empty: none, the user cancelled the login).
std::string Initials();

// The record number of the row of `cursor` whose key on `tag` equals key (padded with
// blanks to width); 0 when there is none. The cursor keeps the tag afterwards.
int32_t KeyRecNo(TzDs::TTzDbf& cursor, const std::string& tag, const std::string& key, int width);

// The duplicate check of a register's save: the key looked up on the second cursor `buf`
// (tag, padded to width), found at a record other than the row's own shows "<what><key>
// findes allerede !!!" and cancels the edit; true when refused. For a new row with
// `locked`, the check runs under the table's append lock, which is kept for the append that
// follows (it releases it), so that two stations cannot add one key twice. With `locked`,
// a changed row that another station has deleted meanwhile is refused first (told, as
// `TKJData::RefuseDeletedRow` does).
bool RefuseDuplicate(TzDs::TTzDbf& table, TzDs::TTzDbf& buf, const std::string& tag,
                     const std::string& key, int width, const std::string& what,
                     bool locked = true);

// Posts a register's pending edit when the window closes: an inserted row under the
// append lock, an edited one under its record lock. A lock held elsewhere is tried again
// for a short while; then the user is asked whether to keep trying, and only a No drops
// the row. A new row nobody typed into is dropped without a question.
void PostOnClose(TzDs::TTzDbf& table);

// Goes to record recNo of table when above 0, else to its first row (a show routine's start).
void GoToStart(TzDs::TTzDbf& table, int32_t recNo);

// The show routine of a register window of type Form: the window is made and becomes the
// current one of its kind (`current`), the table goes to recNo (GoToStart), and run does the
// window's own part (its handlers, the key, the modal run). Afterwards the window is freed
// and the outer current window comes back, on every path, also when an exception passes.
template <class Form>
void RunRegister(Form*& current, TzDs::TTzDbf& table, int32_t recNo,
                 const std::function<void(Form&)>& run) {
    struct Restore {
        Form*& current;
        Form* outer;
        ~Restore() { current = outer; }
    } restore{current, current};
    auto form = std::make_unique<Form>();
    current = form.get();
    GoToStart(table, recNo);
    run(*form);
}

// Starts a new row carrying key in field (show routines with a non-blank key): the append
// under the append lock; the key is written only into a row that is really new.
void StartWithKey(TzDs::TTzDbf& table, const char* field, const std::string& key);

// Filter of a title click: the expression, or none for an empty one; the table then goes
// to its first row. A filter the expression language refuses shows its message.
void SetTitleFilter(TzDs::TTzDbf& table, const std::string& expression);

// Filter of a title click on a text column: rows whose `field` contains word (as typed, the
// word quoted by QuoteSearchWord); an empty word clears the filter. A word that cannot be
// quoted leaves the filter as it was.
void SetWordFilter(TzDs::TTzDbf& table, const std::string& word, const char* field);

// Filter of a title click on a number column: rows whose `field` equals the typed number;
// an empty answer clears the filter, an answer that is no number is refused with a message.
void SetNumberFilter(TzDs::TTzDbf& table, const std::string& answer, const char* field);

// Search of a title click in the current order (the text upper-cased): found, the table
// stays there; not found, it goes to its first row.
void TitleFind(TzDs::TTzDbf& table, const std::string& text);

// The word of a title search quoted for a condition, with a quote character the word does
// not contain. A word holding both quote characters, or longer than 100 characters, is
// refused with its message: false.
bool QuoteSearchWord(const std::string& word, std::string& quoted);

// Says that another station holds the row locked and that nothing was changed (a refused
// record lock of a delete or a password change).
void ShowRowInUse();

// Asks for a text with the input box; "" on cancel.
std::string AskText(const char* caption, const char* prompt);

// An information box with Yes/No (text in the engine's spelling); true on Yes. Plain
// messages go through ShowMsg (kj_util.h).
bool Ask(const std::string& ansi);

}  // namespace kj
