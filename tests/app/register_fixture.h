// Shared pieces of the register, picker and case-type window tests: a started data module
// over a fresh data folder, scripts that act on a modal window when it is shown (with a
// watchdog that closes a window a script left open, so no test waits), key helpers and an
// independent reader of table files (header, field descriptors, records as bytes).
#pragma once

#include <QDialog>
#include <QFile>
#include <functional>
#include <map>
#include <vector>

#include "app/kj_util.h"
#include "app_fixture.h"
#include "storage/tz_utils.h"

namespace kjapptest {

// One row of a table file as stored: trimmed field texts by lower-case name, the delete mark.
struct DbfRow {
    std::map<std::string, std::string> f;
    bool deleted = false;
    std::string operator[](const std::string& name) const {
        auto it = f.find(name);
        return it == f.end() ? std::string("<no field>") : it->second;
    }
};

// Reads a dBASE table file without the engine: the record count from the file size, the
// texts from the table's OEM code page to Windows-1252.
inline std::vector<DbfRow> ReadDbf(const std::string& path) {
    std::vector<DbfRow> rows;
    const std::string b = Read(path);
    if (b.size() < 32) return rows;
    auto u16 = [&](size_t o) { return size_t(uint8_t(b[o])) | size_t(uint8_t(b[o + 1])) << 8; };
    const size_t headerLen = u16(8), recLen = u16(10);
    struct Fd {
        std::string name;
        size_t off, len;
    };
    std::vector<Fd> fds;
    size_t off = 1;
    for (size_t p = 32; p + 32 <= headerLen && b[p] != '\x0D'; p += 32) {
        std::string name(b.data() + p, strnlen(b.data() + p, 11));
        for (char& c : name) c = char(std::tolower(uint8_t(c)));
        const size_t len = uint8_t(b[p + 16]);
        fds.push_back({name, off, len});
        off += len;
    }
    for (size_t r = headerLen; r + recLen <= b.size(); r += recLen) {
        DbfRow row;
        row.deleted = b[r] == '*';
        for (const Fd& fd : fds)
            row.f[fd.name] = kj::OemToAnsi(TzCommon::AllTrim(b.substr(r + fd.off, fd.len)));
        rows.push_back(row);
    }
    return rows;
}

// The rows whose field `name` equals value.
inline std::vector<DbfRow> RowsWith(const std::vector<DbfRow>& rows, const std::string& name,
                                    const std::string& value) {
    std::vector<DbfRow> out;
    for (const DbfRow& r : rows)
        if (r[name] == value) out.push_back(r);
    return out;
}

// Runs scripts on modal windows as they are shown, in order; each script is matched against
// the next window shown whose class fits. A window still open after the watchdog's time is
// rejected and counted, so a broken script fails the test instead of hanging it.
class WindowScripts : public QObject {
  public:
    WindowScripts() {
        qApp->installEventFilter(this);
        watchdog_.setInterval(10000);
        connect(&watchdog_, &QTimer::timeout, this, [this] {
            ++timedOut;
            watchdog_.setInterval(500);
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
        });
    }
    ~WindowScripts() override { qApp->removeEventFilter(this); }

    template <class T>
    void On(std::function<void(T&)> script) {
        scripts_.push_back([script](QWidget* w) {
            T* t = dynamic_cast<T*>(w);
            if (!t) return false;
            QPointer<QWidget> p(w);
            QTimer::singleShot(0, [p, t, script] {
                if (!p) return;
                p->activateWindow();
                if (!QTest::qWaitForWindowActive(p, 2000)) qWarning("window not active");
                if (p) script(*t);
            });
            return true;
        });
        watchdog_.start();
    }
    int Pending() const { return int(scripts_.size()); }
    int timedOut = 0;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && !scripts_.empty()) {
            auto* w = qobject_cast<QDialog*>(o);
            if (w && scripts_.front()(w)) scripts_.pop_front();
        }
        return false;
    }

  private:
    std::deque<std::function<bool(QWidget*)>> scripts_;
    QTimer watchdog_;
};

inline void CtrlKey(QWidget* w, Qt::Key key) {
    QTest::keyClick(w, key, Qt::ControlModifier);
}

// The widget with the keyboard focus inside window (the window itself when none).
inline QWidget* FocusIn(QWidget& window) {
    QWidget* f = window.focusWidget();
    return f ? f : &window;
}

// Types text key by key into whatever has the window's focus (a grid's editor may be
// replaced while the row enters edit state).
inline void TypeText(QWidget& window, const QString& text) {
    for (QChar c : text) QTest::keyClicks(FocusIn(window), QString(c));
}

// A data module over a fresh data folder, first start answered, initials "AB".
class DataFixture {
  public:
    kjqt::ScriptedResponder responder;
    std::unique_ptr<StartFolder> sf;
    std::unique_ptr<kj::TKJData> data;

    void Start() {
        ResetEngine();
        kjqt::DialogService::Instance().SetResponder(&responder);
        responder.Clear();
        sf = std::make_unique<StartFolder>();
        sf->WriteIniPaths(sf->data);
        sf->WriteUserData("Firma", "Vej");
        QDir().mkpath(QString::fromStdString(sf->data));
        responder.AnswerCancel();
        responder.Answer(kjqt::mb::kIdYes);
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        QVERIFY(kj::OpenStartupData(*data, "T3=" + sf->start, nullptr));
        responder.Clear();
        data->AjourInitials = "AB";
    }
    void Stop() {
        data.reset();
        kj::FreeQelCom();
        Dbf4::CloseAll();
        sf.reset();
    }
    // Adds a row through the table's own rules (their question answered Yes).
    void Add(TzDs::TTzDbf& t, const std::vector<std::pair<const char*, std::string>>& values) {
        t.Append();
        for (auto& [name, value] : values) t.FieldByName(name).SetAsString(value);
        responder.Answer(kjqt::mb::kIdYes);
        t.Post();
    }
    std::vector<DbfRow> Rows(const char* file) { return ReadDbf(sf->data + file); }
};

}  // namespace kjapptest
