// Pieces shared by the tests of the time sheet, archive, editor and menu: a data folder
// opened through the data module, rows added through its components, a responder that
// says Yes to everything and records what was asked, helper stations started from the test
// binary, and bounded waits for a modal window.
#pragma once

#include <QProcess>
#include <QThread>
#include <csignal>
#include <functional>

#include "app_fixture.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"
#include "tests/ui/process_wait.h"

namespace kjapptest {

// Answers Yes (OK, accepted input with the proposed value) and records every request.
class YesResponder : public kjqt::DialogResponder {
  public:
    kjqt::DialogAnswer Respond(const kjqt::DialogRequest& r) override {
        texts.push_back(r.text);
        return {kjqt::mb::kIdYes, r.value};
    }
    QStringList texts;
};

// A fresh start-up folder with its data folder, opened by a data module with initials "AB".
struct DataFolder {
    kjqt::ScriptedResponder responder;
    std::unique_ptr<StartFolder> sf;
    std::unique_ptr<kj::TKJData> data;
    QStringList startTexts;  // what the user was told while the folder was opened

    // With `fresh` false the folder of an earlier run is opened again.
    void Open(bool fresh = true) {
        if (fresh) {
            sf = std::make_unique<StartFolder>();
            sf->WriteIniPaths(sf->data);
            sf->WriteUserData("Firma", "Vej");
            QDir().mkpath(QString::fromStdString(sf->data));
        }
        ResetEngine();
        kjqt::DialogService::Instance().SetResponder(&responder);
        responder.Clear();
        responder.AnswerCancel();
        responder.Answer(kjqt::mb::kIdYes);
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        QVERIFY(kj::OpenStartupData(*data, "T3=" + sf->start, nullptr));
        startTexts = responder.Texts();
        responder.Clear();
        data->AjourInitials = "AB";
    }
    // A helper station: the folder of start-up folder `start` (made by the test) opened again.
    void OpenExisting(const std::string& start) {
        sf = std::make_unique<StartFolder>(start);
        Open(false);
    }
    void Close() {
        data.reset();
        kj::FreeQelCom();
        Dbf4::CloseAll();
    }
    // Appends a row with the given field texts, answering the save question with Yes.
    void Add(TzDs::TTzDbf& t, const std::vector<std::pair<const char*, std::string>>& values) {
        t.Append();
        for (const auto& [name, value] : values) t.FieldByName(name).SetAsString(value);
        responder.Answer(kjqt::mb::kIdYes);
        t.Post();
        responder.Clear();
    }
    void AddCase(const std::string& nr, double closedOffset = 1e9) {
        TzDs::TTzDbf& s = data->SagsDbf;
        Add(s, {{"sags_nr", nr}, {"sags_bem", "Sag " + nr}});
        if (closedOffset < 1e8) {
            s.Edit();
            s.FieldByName("sag_afslut").SetAsDateTime(Db::Today() + closedOffset);
            s.Post();
        }
    }
};

// Runs `body` as soon as `ready` holds (checked every 10 ms, at most 10 s), from inside
// whatever modal loop runs then.
inline void WhenReady(std::function<bool()> ready, std::function<void()> body, int tries = 1000) {
    QTimer::singleShot(10, [ready, body, tries] {
        if (ready())
            body();
        else if (tries > 0)
            WhenReady(ready, body, tries - 1);
    });
}

// A helper process: this binary started with arguments; it writes its progress on
// stdout. Wait() looks for a word, bounded.
class Helper {
  public:
    explicit Helper(const QStringList& args, const QString& stopAt = QString()) {
        if (!stopAt.isEmpty()) {  // the helper stops itself there (tz::StopPoint)
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("KJ_STOP_AT"), stopAt);
            p_.setProcessEnvironment(env);
        }
        p_.start(QCoreApplication::applicationFilePath(), args);
    }
    ~Helper() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    bool Wait(const QByteArray& word, int ms = 20000) {
        for (int i = 0; i < ms / 50 && !out_.contains(word); ++i) {
            p_.waitForReadyRead(50);
            out_ += p_.readAllStandardOutput();
        }
        return out_.contains(word);
    }
    void Say(const QByteArray& line) {
        p_.write(line + "\n");
        p_.waitForBytesWritten(1000);
    }
    void Kill() {
        p_.kill();
        p_.waitForFinished(5000);
    }
    // Waits at most `ms` for the helper to have stopped itself at its named step.
    bool WaitStopped(int ms = 20000) {
        const QString stat = QStringLiteral("/proc/%1/stat").arg(p_.processId());
        for (int i = 0; i < ms / 20; ++i) {
            QFile f(stat);
            if (!f.open(QIODevice::ReadOnly)) return false;
            const QByteArray line = f.readAll();
            const qsizetype end = line.lastIndexOf(')');
            if (end > 0 && line.mid(end + 2, 1) == "T") return true;
            if (p_.state() == QProcess::NotRunning) return false;
            QThread::msleep(20);
        }
        return false;
    }
    // Lets a helper that stops itself at every pass of its step go on from each stop until
    // it ends (bounded), as Finish.
    bool FinishThroughStops() {
        for (int i = 0; i < 400 && !Finish(50); ++i) ::kill(pid_t(p_.processId()), SIGCONT);
        return Finish();
    }
    bool Finish(int ms = 30000) { return kjtest::WaitFinished(p_, ms) && p_.exitCode() == 0; }
    QByteArray Output() { return out_ + p_.readAllStandardOutput(); }
    QByteArray Errors() { return p_.readAllStandardError(); }

  private:
    QProcess p_;
    QByteArray out_;
};

}  // namespace kjapptest
