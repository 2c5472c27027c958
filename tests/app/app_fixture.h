// Shared pieces of the application tests: a fresh engine per test, a start-up folder with
// the path-setup and user-data files, a data module whose questions are answered by the
// scripted responder, and an answerer for the login dialog that types into it.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <memory>
#include <string>

#include "app/kj_ajour.h"
#include "app/kj_data.h"
#include "app/kj_startup.h"
#include "app/kj_terminate.h"
#include "app/main_entries.h"
#include "app/qel_com.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjapptest {

// A UTF-8 literal as the windows' text, and a field's text without its trailing blanks.
inline QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}
inline std::string Trim(const std::string& s) {
    return TzUtils::TrimRight(s);
}

inline std::string Read(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

inline void Write(const std::string& path, const std::string& bytes) {
    QFile f(QString::fromStdString(path));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), qint64(bytes.size()));
}

inline bool Exists(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

// python3-dbfread's view of a table's live rows whose field `where` holds `value` (trailing
// blanks off): per row the named fields as Python writes them (None for a blank number or
// date), joined by "|".
inline QStringList DbfRows(const std::string& file, const QString& where, const QString& value,
                           const QStringList& fields) {
    QProcess p;
    p.start("/usr/bin/python3",
            QStringList({"-c",
                         "import sys,dbfread\n"
                         "t=dbfread.DBF(sys.argv[1],encoding='cp850',char_decode_errors="
                         "'replace',ignore_missing_memofile=True)\n"
                         "for r in t:\n"
                         "  if str(r[sys.argv[2]] or '').rstrip()==sys.argv[3]:\n"
                         "    print('|'.join(repr(r[f]) for f in sys.argv[4:]))\n",
                         QString::fromStdString(file), where, value}) +
                fields);
    if (!p.waitForFinished(30000)) return {QStringLiteral("timeout")};
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    return err.isEmpty() ? out.split(u'\n', Qt::SkipEmptyParts) : QStringList({err});
}

// A start-up folder <tmp>/QELN/ with the system folder in it and the data folder
// <tmp>/QELN/SagsData/ (not created).
struct StartFolder {
    std::unique_ptr<QTemporaryDir> tmp;  // none for a folder another process made
    std::string start, data;
    StartFolder() : tmp(std::make_unique<QTemporaryDir>()) {
        tmp->setAutoRemove(true);
        start = tmp->path().toStdString() + "/QELN/";
        data = start + "SagsData/";
        QDir().mkpath(QString::fromStdString(start));
    }
    // The start-up folder of the test that started this helper process: nothing is made, and
    // nothing is left behind when the helper is killed.
    explicit StartFolder(const std::string& existing)
        : start(existing), data(existing + "SagsData/") {}
    // A failed test's folder stays for a look at what it left.
    void KeepIfFailed() {
        if (tmp && QTest::currentTestFailed()) tmp->setAutoRemove(false);
    }
    void WriteIniPaths(const std::string& dataFolder) {
        std::string ini = "[Morvane Stier]\r\nMorvaneSti=" + start +
                          "\r\nMorvSti=\r\nZorbo1Sti=" + start + "\r\nSagsDataSti=" + dataFolder +
                          "\r\n";
        Write(start + "ZORBO397.ASD", ini);
    }
    void WriteUserData(const std::string& name, const std::string& address) {
        Write(start + "ZORBO195.ASD", "; settings\r\n1\r\n" + kj::EncodeFirmBlock(name, address));
    }
};

// While it lives: the engine's halts are counted instead of ending the test, and with
// `keepRunning` the program keeps running on engine errors as once its main window is up.
// Both are given back when it goes.
struct HaltsCounted {
    int halts = 0;
    bool keepRunning;
    explicit HaltsCounted(bool keep = false) : keepRunning(keep) {
        TzCommon::SetHaltProc([this](int) { ++halts; });
        if (keepRunning) kj::KeepRunningOnEngineErrors(true);
    }
    ~HaltsCounted() {
        if (keepRunning) kj::KeepRunningOnEngineErrors(false);
        TzCommon::SetHaltProc(nullptr);
    }
    HaltsCounted(const HaltsCounted&) = delete;
    HaltsCounted& operator=(const HaltsCounted&) = delete;
};

inline void ResetEngine() {
    Dbf4::CloseAll();
    TzCommon::ResetErrorState();
    Dbf4::settings() = Dbf4::Settings();
    TzCommon::SetErrorChecking(0);
    kj::EngineStartup();
}

// Types initials and a password into each login dialog as it is shown, in order; an entry
// with accept false presses Cancel, and with the queue empty Cancel is pressed too.
class LoginAnswerer : public QObject {
  public:
    struct Entry {
        QString ini, pass;
        bool accept = true;
    };
    LoginAnswerer() { qApp->installEventFilter(this); }
    ~LoginAnswerer() override { qApp->removeEventFilter(this); }
    void Add(const QString& ini, const QString& pass = {}, bool accept = true) {
        queue_.push_back({ini, pass, accept});
    }
    int Shown() const { return shown_; }
    int Pending() const { return int(queue_.size()); }
    QString LastText;
    bool LastPasswordEnabled = false;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* d = dynamic_cast<kj::TKodeOrdsDialog*>(o);
        if (d && e->type() == QEvent::Show) {
            QPointer<kj::TKodeOrdsDialog> p(d);
            QTimer::singleShot(0, this, [this, p] {
                if (p) Answer(p);
            });
        }
        return false;
    }

  private:
    void Answer(kj::TKodeOrdsDialog* d) {
        ++shown_;
        LastText = d->TextAjour->text();
        LastPasswordEnabled = d->EdtKodeOrd->isEnabled();
        if (queue_.empty()) {
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
            return;
        }
        Entry e = queue_.front();
        queue_.pop_front();
        d->EdtAjourIni->selectAll();  // the initials stay in the edit between two tries
        QTest::keyClicks(d->EdtAjourIni, e.ini);
        if (e.ini.isEmpty()) QTest::keyClick(d->EdtAjourIni, Qt::Key_Delete);
        if (d->EdtKodeOrd->isEnabled()) QTest::keyClicks(d->EdtKodeOrd, e.pass);
        QTest::mouseClick(e.accept ? d->OKBtn : d->CancelBtn, Qt::LeftButton);
    }

    std::deque<Entry> queue_;
    int shown_ = 0;
};

// The test binary named as the program, and every question answered by `responder`.
inline void AnswerAllBy(kjqt::ScriptedResponder& responder) {
    QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
    kjqt::DialogService::Instance().SetResponder(&responder);
}

// A fresh engine with nothing queued for the responder and the default main entries, and a
// start-up folder with the path-setup file (naming its own data folder) and the user data.
inline std::unique_ptr<StartFolder> FreshStartFolder(kjqt::ScriptedResponder& responder,
                                                     const std::string& firm,
                                                     const std::string& address) {
    ResetEngine();
    responder.Clear();
    kj::MainEntries() = kj::TMainEntries();
    auto sf = std::make_unique<StartFolder>();
    sf->WriteIniPaths(sf->data);
    sf->WriteUserData(firm, address);
    return sf;
}

// Makes the (empty) data folder and queues the answers to a first start's questions:
// Cancel, then Yes.
inline void AnswerFirstStart(const StartFolder& sf, kjqt::ScriptedResponder& responder) {
    QDir().mkpath(QString::fromStdString(sf.data));
    responder.AnswerCancel();
    responder.Answer(kjqt::mb::kIdYes);
}

// A new data module made the program's, with the communication module it needs.
inline std::unique_ptr<kj::TKJData> NewDataModule() {
    kj::CreateQelCom();
    auto data = std::make_unique<kj::TKJData>();
    kj::SetKJData(data.get());
    return data;
}

// Writes a number field of row `rec` of `t` as another program may, past the field rules:
// the text right-aligned in the field, as numbers are stored.
inline void PokeNumber(TzDs::TTzDbf& t, int32_t rec, const char* field, const char* value) {
    QVERIFY(t.FLock());
    Dbf4::Select(t.WorkAreaNo());
    const int no = Dbf4::FieldNo(field);
    const std::string text(value);
    QVERIFY(Dbf4::Poke(std::string(size_t(Dbf4::FieldLen(no)) - text.size(), ' ') + text, no, rec));
    t.UnLock();
}

// Ends the data module and the communication module and closes every table.
inline void CloseDataModule(std::unique_ptr<kj::TKJData>& data) {
    data.reset();
    kj::FreeQelCom();
    Dbf4::CloseAll();
}

}  // namespace kjapptest
