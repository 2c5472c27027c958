// Stations that start at the same moment on one data folder: two, four and eight real
// processes, each with its own start-up folder, run the program's start-up order together
// (on a new data folder, whose files one of them creates, and on an existing one); every
// one reaches its main window with every table open, none hangs.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <memory>

#include "app/main_form.h"
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

int main(int argc, char** argv) {
    if (argc == 3 && QString(argv[1]) == "--start") return RunStation(argc, argv);
    kjqt::KjApplication app(argc, argv);
    RaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "race_test.moc"
