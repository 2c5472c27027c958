// Stations that start at the same moment on one data folder: two, four and eight real
// processes, each with its own start-up folder, run the program's start-up order together
// (on a new data folder, whose files one of them creates, and on an existing one); every
// one reaches its main window with every table open, none hangs. And two stations saving
// through a register at the same moment: every save that returns has stored its record.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <map>
#include <memory>

#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/main_form.h"
#include "app/vare_g_form.h"
#include "app_fixture.h"
#include "tests/ui/process_wait.h"
#include "ui/application.h"
#include "ui/engine_callbacks.h"

using namespace kjapptest;

namespace {

constexpr qint64 kRoundWaitMs = 120000;  // one round of helpers, on a busy machine

// The first-start questions answered as a user would (the proposed data folder, Yes to
// creating the files); anything else asked is noted and refused.
class StartResponder : public kjqt::DialogResponder {
  public:
    QStringList others;
    kjqt::DialogAnswer Respond(const kjqt::DialogRequest& r) override {
        if (r.kind == kjqt::DialogKind::Folder) return {kjqt::mb::kIdCancel, {}};
        if (r.text.startsWith(QStringLiteral("Skal datafiler oprettes")))
            return {kjqt::mb::kIdYes, {}};
        others << (r.text.isEmpty() ? r.caption : r.text);
        return {r.kind == kjqt::DialogKind::Message ? kjqt::mb::kIdNo : kjqt::mb::kIdCancel, {}};
    }
};

// One data folder and `n` start-up folders that name it.
struct SharedFolder {
    QTemporaryDir tmp;
    std::string data;
    std::vector<std::string> starts;
    explicit SharedFolder(int n) {
        data = tmp.path().toStdString() + "/SagsData/";
        QDir().mkpath(QString::fromStdString(data));
        for (int i = 0; i < n; ++i) {
            const std::string s = tmp.path().toStdString() + "/QELN" + std::to_string(i) + "/";
            QDir().mkpath(QString::fromStdString(s));
            Write(s + "ZORBO397.ASD", "[Morvane Stier]\r\nMorvaneSti=" + s +
                                          "\r\nMorvSti=\r\nZorbo1Sti=" + s +
                                          "\r\nSagsDataSti=" + data + "\r\n");
            Write(s + "ZORBO195.ASD", "; settings\r\n1\r\n" + kj::EncodeFirmBlock("Firma", "Vej"));
            starts.push_back(s);
        }
    }
};

// Starts one helper per argument list, lets them all go at once ("GO" once each has said
// "READY") and gives what each wrote after that, or "hung: ..." for one that did not end
// within the round's time.
QStringList RunTogether(const std::vector<QStringList>& argLists) {
    std::vector<std::unique_ptr<QProcess>> ps;
    for (const QStringList& args : argLists) {
        ps.push_back(std::make_unique<QProcess>());
        ps.back()->start(QCoreApplication::applicationFilePath(), args);
    }
    std::vector<QByteArray> out(ps.size());
    for (size_t i = 0; i < ps.size(); ++i)
        for (int t = 0; t < 300 && !out[i].contains("READY\n"); ++t) {
            ps[i]->waitForReadyRead(100);
            out[i] += ps[i]->readAllStandardOutput();
        }
    for (auto& p : ps) p->write("GO\n");
    for (auto& p : ps) p->waitForBytesWritten(1000);
    QElapsedTimer clock;
    clock.start();
    QStringList said;
    for (size_t i = 0; i < ps.size(); ++i) {
        const int left = int(std::max<qint64>(1000, kRoundWaitMs - clock.elapsed()));
        const bool ended = kjtest::WaitFinished(*ps[i], left);
        if (!ended) ps[i]->kill();
        ps[i]->waitForFinished(5000);
        out[i] += ps[i]->readAllStandardOutput();
        const QByteArray after = out[i].mid(out[i].indexOf("READY\n") + 6);
        said << (ended ? QString() : QStringLiteral("hung: ")) + QString::fromLocal8Bit(after);
    }
    return said;
}

// One start-up per start-up folder of `f`, all at once: "UP" for each that reached its
// main window with every table open.
QStringList StartTogether(const SharedFolder& f) {
    std::vector<QStringList> args;
    for (const std::string& s : f.starts)
        args.push_back({QStringLiteral("--start"), QString::fromStdString(s)});
    QStringList said;
    for (const QString& s : RunTogether(args)) said << s.trimmed();
    return said;
}

// Answers Yes to every question and notes every text.
class YesToAll : public kjqt::DialogResponder {
  public:
    QStringList texts;
    kjqt::DialogAnswer Respond(const kjqt::DialogRequest& r) override {
        texts << r.text;
        return {kjqt::mb::kIdYes, r.value};
    }
};

std::string GroupKey(int n) {
    return "K" + std::to_string(1000 + n);
}

// Every item-group code in the table file with its count, read by python3-dbfread.
std::map<std::string, int> StoredCodes(const std::string& file) {
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
                                 "import sys,dbfread\n"
                                 "for r in dbfread.DBF(sys.argv[1],encoding='cp850'):\n"
                                 "  print(r['ID'].rstrip())\n",
                                 QString::fromStdString(file)});
    std::map<std::string, int> codes;
    if (!kjtest::WaitFinished(p, 30000)) return {{"timeout", 1}};
    for (const QByteArray& l : p.readAllStandardOutput().split('\n'))
        if (!l.trimmed().isEmpty()) ++codes[l.trimmed().toStdString()];
    const QByteArray err = p.readAllStandardError();
    if (!err.isEmpty()) codes[err.toStdString()] = 1;
    return codes;
}

}  // namespace

class RaceTest : public QObject {
    Q_OBJECT

    // `rounds` rounds of `n` stations, every other one on a new data folder.
    static void Rounds(int n, int rounds) {
        std::unique_ptr<SharedFolder> f;
        QStringList wrong;
        for (int r = 0; r < rounds; ++r) {
            if (r % 2 == 0) f = std::make_unique<SharedFolder>(n);
            for (const QString& s : StartTogether(*f))
                if (s != "UP") wrong << QStringLiteral("round %1: %2").arg(r).arg(s.simplified());
            for (const QString& w : wrong) qWarning().noquote() << w;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 of %2 stations failed:\n%3")
                                                 .arg(wrong.size())
                                                 .arg(n * rounds)
                                                 .arg(wrong.join('\n'))));
    }

  private slots:
    void twoStationsStartTogether() { Rounds(2, 24); }
    void fourStationsStartTogether() { Rounds(4, 16); }
    void eightStationsStartTogether() { Rounds(8, 10); }

    // Two stations save item-group codes through the register's save handler at the same
    // moment: 300 codes shared out between them in turn, then the same 300 codes in both.
    // Every save that returned without a message left its record in the table file; no
    // save of a code nobody else saves is refused; every code is stored.
    void savesAtTheSameMomentAllStore() {
        SharedFolder f(2);
        QCOMPARE(StartTogether(f), QStringList({"UP", "UP"}));
        for (const QString mode : {"turns", "same"}) {
            std::vector<QStringList> args;
            for (int i = 0; i < 2; ++i)
                args.push_back({QStringLiteral("--save"),
                                QString::fromStdString(f.starts[size_t(i)]), mode,
                                QString::number(i)});
            QStringList said;
            for (const QString& out : RunTogether(args)) {
                QVERIFY2(!out.startsWith("hung"), qPrintable(out));
                said += out.split('\n', Qt::SkipEmptyParts);
            }
            const std::map<std::string, int> stored = StoredCodes(f.data + "VarerG.dbf");
            const std::string prefix = mode == "same" ? "S" : "T";
            int refused = 0;
            for (const QString& line : said) {
                const QStringList w = line.split(' ');
                QVERIFY2(w[0] == "SAVED" || w[0] == "REFUSED", qPrintable(line));
                refused += w[0] == "REFUSED";
                if (mode == "turns") QVERIFY2(w[0] == "SAVED", qPrintable(line));
                if (w[0] == "SAVED")
                    QVERIFY2(stored.count(prefix + w[1].toStdString()) > 0,
                             qPrintable(line + " but it is not in the table"));
            }
            QCOMPARE(said.size(), mode == "same" ? 600 : 300);
            for (int n = 0; n < 300; ++n)
                QVERIFY2(stored.count(prefix + GroupKey(n)) > 0, (prefix + GroupKey(n)).c_str());
            qInfo() << mode << ":" << said.size() - refused << "saves returned," << refused
                    << "refused with a message";
        }
    }
};

// A station: the program's start-up order on its start-up folder, begun on "GO"; it
// says "UP" when its main window is made and every table is open, else why not.
static int RunStation(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    kjapptest::ResetEngine();
    kjqt::InstallEngineCallbacks();
    StartResponder responder;
    kjqt::DialogService::Instance().SetResponder(&responder);
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin)) return 3;
    kj::CreateQelCom();
    auto data = std::make_unique<kj::TKJData>();
    kj::SetKJData(data.get());
    std::unique_ptr<kj::TKJSagerForm> form(
        kj::TKJSagerForm::FormCreate(*data, std::string("T3=") + argv[2], nullptr));
    QStringList closed;
    for (TzDs::TTzDbf* t : data->MainCursors())
        if (!t->Active()) closed << QString::fromStdString(t->Name());
    const bool up = form && closed.isEmpty() && responder.others.isEmpty();
    if (!up)
        std::printf("DOWN form=%d closed=%s asked=%s\n", form != nullptr,
                    qPrintable(closed.join(',')), qPrintable(responder.others.join(" / ")));
    else
        std::puts("UP");
    std::fflush(stdout);
    form.reset();
    data.reset();
    kj::FreeQelCom();
    Dbf4::CloseAll();
    return up ? 0 : 1;
}

// A station saving item-group codes through the register's save handler: "same" saves
// S-codes 0..299, "turns" saves the T-codes of its own turn (station 0 the even, 1 the odd).
// Prints "SAVED <code>" for a save that returned without a message, else "REFUSED <code>
// <message>".
static int RunSaver(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    kjapptest::ResetEngine();
    kjqt::InstallEngineCallbacks();
    StartResponder starting;
    kjqt::DialogService::Instance().SetResponder(&starting);
    kj::CreateQelCom();
    auto data = std::make_unique<kj::TKJData>();
    kj::SetKJData(data.get());
    if (!kj::OpenStartupData(*data, std::string("T3=") + argv[2], nullptr)) return 2;
    YesToAll responder;
    kjqt::DialogService::Instance().SetResponder(&responder);
    data->AjourInitials = "AB";
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin)) return 3;
    TzDs::TTzDbf& g = data->vareGDbf;
    {
        auto form = std::make_unique<kj::TVareGForm>();
        kj::THandlerSwap swap(
            g, Db::TDataSetNotifyEvent::Bind(form.get(), &kj::TVareGForm::VareGNewRecord),
            Db::TDataSetNotifyEvent::Bind(form.get(), &kj::TVareGForm::VareGBeforePost), true);
        const bool same = std::string(argv[3]) == "same";
        const int station = std::atoi(argv[4]);
        for (int n = 0; n < 300; ++n) {
            if (!same && n % 2 != station) continue;
            const std::string code = GroupKey(n);
            responder.texts.clear();
            QString failure;
            try {
                g.Append();
                g.FieldByName("id").SetAsString((same ? "S" : "T") + code);
                g.FieldByName("tekst").SetAsString("Gruppe " + code);
                g.Post();
            } catch (const Db::EAbort&) {
                failure = " ";  // the silent abort: only a message shown counts
            } catch (const std::exception& e) {
                failure = QString::fromLocal8Bit(e.what());
            }
            responder.texts.removeAll(
                kjqt::FromAnsi(kj::Ansi("Skal den rettede varegruppe gemmes ?")));
            if (!responder.texts.isEmpty()) failure += responder.texts.join('/');
            if (failure.isEmpty() && g.State() != Db::dsBrowse) failure = "still editing";
            if (!failure.isEmpty() && failure.trimmed().isEmpty()) failure = "silent";
            if (g.State() != Db::dsBrowse) g.Cancel();
            std::printf("%s %s %s\n", failure.isEmpty() ? "SAVED" : "REFUSED", code.c_str(),
                        qPrintable(failure.simplified()));
        }
        std::fflush(stdout);
    }
    data.reset();
    kj::FreeQelCom();
    Dbf4::CloseAll();
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 5 && QString(argv[1]) == "--save") return RunSaver(argc, argv);
    if (argc == 3 && QString(argv[1]) == "--start") return RunStation(argc, argv);
    kjqt::KjApplication app(argc, argv);
    RaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "race_test.moc"
