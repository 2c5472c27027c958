#include "app/kj_register.h"

#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QWidget>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

// A refused lock on closing is tried this many times, kPauseMs apart, before the user is
// asked (about a second in all).
constexpr int kCloseLockTries = 40;
constexpr int kPauseMs = 25;

void LetMessagesThrough() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Tries lock up to kCloseLockTries times; the pauses let waiting messages through.
bool TryLockBriefly(const std::function<bool()>& lock) {
    for (int i = 0; i < kCloseLockTries; ++i) {
        if (lock()) return true;
        TzCommon::ClearErrorWord();
        QThread::msleep(kPauseMs);
        LetMessagesThrough();
    }
    return false;
}

}  // namespace

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

RegKey RegisterKeyOf(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::ControlModifier) return RegKey::None;
    switch (event.key()) {
        case Qt::Key_Insert:
            return RegKey::New;
        case Qt::Key_Delete:
            return RegKey::Delete;
        case Qt::Key_Backspace:
            return RegKey::Undo;
        case Qt::Key_X:
            return RegKey::Close;
        default:
            return RegKey::None;
    }
}

TRegisterKeyFilter::TRegisterKeyFilter(QWidget* area, std::function<void(RegKey)> act)
    : QObject(area), area_(area), act_(std::move(act)) {
    qApp->installEventFilter(this);
}

TRegisterKeyFilter::~TRegisterKeyFilter() {
    qApp->removeEventFilter(this);
}

bool TRegisterKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || (w != area_ && !area_->isAncestorOf(w))) return false;
    const RegKey key = RegisterKeyOf(*static_cast<QKeyEvent*>(event));
    if (key == RegKey::None) return false;
    if (type == QEvent::ShortcutOverride) {
        event->accept();  // the key comes as a key press, not as the editor's shortcut
        return true;
    }
    Guarded([&] { act_(key); });
    return true;
}

TCloseKey::TCloseKey(QWidget* window, std::function<void()> close)
    : QObject(window), window_(window) {
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_X), window);
    QObject::connect(key, &QShortcut::activated, this, [close] { Guarded(close); });
    qApp->installEventFilter(this);
}

TCloseKey::~TCloseKey() {
    qApp->removeEventFilter(this);
}

bool TCloseKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != window_) return false;
    if (RegisterKeyOf(*static_cast<QKeyEvent*>(event)) != RegKey::Close) return false;
    event->ignore();  // not the editor's: the shortcut map gets the key
    return true;
}

THandlerSwap::THandlerSwap(TzDs::TTzDbf& table, Db::TDataSetNotifyEvent newRecord,
                           Db::TDataSetNotifyEvent beforePost, bool swapNew)
    : table_(table), savedNew_(table.OnNewRecord), savedPost_(table.BeforePost), swapNew_(swapNew) {
    if (swapNew_) table_.OnNewRecord = std::move(newRecord);
    table_.BeforePost = std::move(beforePost);
}

void THandlerSwap::Restore() {
    if (restored_) return;
    restored_ = true;
    if (swapNew_) table_.OnNewRecord = savedNew_;
    table_.BeforePost = savedPost_;
}

QPushButton* AddRegisterButton(QWidget& owner, QBoxLayout& row, const char* text,
                               const std::function<void()>& action) {
    auto* b = new QPushButton(Q(text), &owner);
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, &owner, [action] { Guarded(action); });
    row.addWidget(b);
    return b;
}

std::string Initials() {
    return TzUtils::TrimRight(KJData()->GetAjourInitials());
}

int32_t KeyRecNo(TzDs::TTzDbf& cursor, const std::string& tag, const std::string& key, int width) {
    if (!cursor.Active()) return 0;
    if (TzUtils::AnsiUpper(TzUtils::TrimRight(cursor.CurrentTag())) != tag)
        cursor.SetOrderToTag(tag);
    if (!cursor.FindExact(TzUtils::PadRightOrCut(key, width))) return 0;
    return cursor.s_RecNo();
}

namespace {

// The table's append lock, tried for a short while and then again as long as the user
// wants; false when the user gives up.
bool TakeAppendLock(TzDs::TTzDbf& table) {
    for (;;) {
        if (TryLockBriefly([&] { return table.ALock(); })) return true;
        if (!Ask(Ansi("Tabellen er låst af en anden bruger og kan ikke gemmes nu.\r\n"
                      "Prøv igen ?")))
            return false;
    }
}

}  // namespace

bool RefuseDuplicate(TzDs::TTzDbf& table, TzDs::TTzDbf& buf, const std::string& tag,
                     const std::string& key, int width, const std::string& what, bool locked) {
    // A changed row that another station deleted is not written either.
    if (locked && KJData()->RefuseDeletedRow(table)) {
        table.Cancel();
        return true;
    }
    // The inserted row has no record number yet: any row found is another one.
    const bool inserting = table.State() == Db::dsInsert;
    if (inserting && locked && !TakeAppendLock(table)) {
        table.Cancel();
        return true;
    }
    const int32_t own = inserting ? 0 : table.s_RecNo();
    const int32_t found = KeyRecNo(buf, tag, TzUtils::AnsiUpper(key), width);
    if (found == 0 || found == own) return false;
    if (inserting && locked) table.UnLock();
    ShowMsg(what + TzUtils::TrimRight(key) + " findes allerede !!!");
    table.Cancel();
    return true;
}

void PostOnClose(TzDs::TTzDbf& table) {
    if (!table.Active()) return;
    for (;;) {
        const Db::TDataSetState state = table.State();
        if (state != Db::dsEdit && state != Db::dsInsert) return;
        // A new row nobody typed into is no row to keep.
        if (state == Db::dsInsert && !table.Modified()) return table.Cancel();
        const bool locked =
            TryLockBriefly([&] { return state == Db::dsInsert ? table.ALock() : table.RLock(); });
        if (locked) {
            Guarded([&] { table.Post(); });
            table.UnLock();
            if (table.State() == Db::dsEdit || table.State() == Db::dsInsert) table.Cancel();
            return;
        }
        if (!Ask(Ansi("Rækken er låst af en anden bruger og kan ikke gemmes nu.\r\n"
                      "Prøv igen ?"))) {
            table.Cancel();
            return;
        }
    }
}

void GoToStart(TzDs::TTzDbf& table, int32_t recNo) {
    if (recNo >= 1)
        KJData()->GotoRecNo(table, recNo);
    else
        Guarded([&] { table.GoTop(); });
}

void StartWithKey(TzDs::TTzDbf& table, const char* field, const std::string& key) {
    if (TzUtils::TrimRight(key).empty()) return;
    Guarded([&] {
        if (table.ALock()) table.Append();
        table.UnLock();
        table.Edit();
        if (table.State() == Db::dsInsert) table.FieldByName(field).SetAsString(key);
    });
}

void SetTitleFilter(TzDs::TTzDbf& table, const std::string& expression) {
    Guarded([&] { table.SetFilterTo(expression); });
    Guarded([&] { table.GoTop(); });
}

void SetWordFilter(TzDs::TTzDbf& table, const std::string& word, const char* field) {
    if (word.empty()) return SetTitleFilter(table, "");
    std::string quoted;
    if (!QuoteSearchWord(word, quoted)) return;
    SetTitleFilter(table, "at(" + quoted + "," + field + ")>0");
}

void SetNumberFilter(TzDs::TTzDbf& table, const std::string& answer, const char* field) {
    const std::string number = TzCommon::AllTrim(answer);
    if (number.empty()) return SetTitleFilter(table, "");
    size_t used = 0;
    tz::ParseDouble(number.c_str(), number.size(), &used);
    if (used != number.size()) return ShowMsg(number + " er ikke et tal !!!");
    SetTitleFilter(table, std::string(field) + "=" + number);
}

void TitleFind(TzDs::TTzDbf& table, const std::string& text) {
    if (!table.Find(TzUtils::AnsiUpper(text))) table.GoTop();
}

bool QuoteSearchWord(const std::string& word, std::string& quoted) {
    constexpr size_t kMaxWord = 100;  // keeps every condition well inside an expression's length
    const bool dq = word.find('"') != std::string::npos;
    const bool sq = word.find('\'') != std::string::npos;
    if ((dq && sq) || word.size() > kMaxWord) {
        ShowMsg(dq && sq ? Ansi("Ordet kan ikke indeholde både \" og ' !!!")
                         : "Ordet er for langt !!!");
        return false;
    }
    const char q = dq ? '\'' : '"';
    quoted = q + word + q;
    return true;
}

void ShowRowInUse() {
    ShowMsg(Ansi("Rækken er i brug af en anden bruger, intet er ændret !!!"));
}

std::string AskText(const char* caption, const char* prompt) {
    return kjqt::ToAnsi(kjqt::DialogService::Instance().InputText(Q(caption), Q(prompt), {}));
}

bool Ask(const std::string& ansi) {
    return kjqt::DialogService::Instance().MessageBox(
               kjqt::FromAnsi(ansi), QCoreApplication::applicationName(),
               kjqt::mb::kYesNo | kjqt::mb::kIconInformation) == kjqt::mb::kIdYes;
}

}  // namespace kj
