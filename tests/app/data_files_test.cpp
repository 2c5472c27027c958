// The data folder through the program's own start-up: a first start in an empty folder
// (every table, its tags and the list files, read back by python3-dbfread), a start from the
// older line-form path file, the upgrades with their backups, archive twins included (and a
// failure at every write of an upgrade, which never loses a row), two stations on one system
// folder, rebuilding indexes and packing while another process holds a table, starts after a
// station died in the middle of a change (every index marked in turn, a posting save killed
// at each write), the path-setup file read while another station writes it, a time sheet
// whose scratch table another program holds, and stations starting together.
#include <sys/stat.h>

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "app/kj_tables.h"
#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "app/kj_timeseddel.h"
#include "app_fixture.h"
#include "data/db_format.h"
#include "index/mdx_format.h"
#include "index/tz_ndx.h"
#include "start_check.h"
#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "tests/support/small_disk.h"
#include "tests/ui/process_wait.h"
#include "ui/application.h"
#include "work_fixture.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdYes;

namespace {

QString Q(const std::string& s) {
    return kjqt::FromAnsi(s);
}

// python3-dbfread's view of a table: "<field names>|<rows>" (deleted rows left out).
std::string DbfRead(const std::string& file) {
    QProcess p;
    p.start("/usr/bin/python3",
            {"-c",
             "import sys,dbfread\n"
             "t=dbfread.DBF(sys.argv[1],encoding='cp850',char_decode_errors='replace')\n"
             "print(','.join(t.field_names)+'|'+str(len(list(t))))",
             QString::fromStdString(file)});
    if (!kjtest::WaitFinished(p, 30000)) return "timeout";
    return p.readAllStandardOutput().trimmed().toStdString() +
           p.readAllStandardError().toStdString();
}

std::string FieldNames(const kj::TableSpec& t) {
    std::string names;
    for (const std::string& line : t.DbfFields())
        names += (names.empty() ? "" : ",") +
                 QString::fromStdString(line.substr(0, line.find(','))).toUpper().toStdString();
    return names;
}

// Sets the mark an index change leaves in the file while it is under way (header byte 30),
// as a station killed in the middle of a change leaves it.
void MarkInterrupted(const std::string& mdx) {
    std::string bytes = Read(mdx);
    QVERIFY(bytes.size() > 30);
    bytes[30] = 1;
    Write(mdx, bytes);
}

// A helper station: this binary started with "--hold <table>" (holds the table open
// shared) or "--station <start folder>" (a whole start-up), "READY" when it holds.
class Station {
  public:
    Station(const QString& mode, const std::string& arg) {
        p_.start(QCoreApplication::applicationFilePath(), {mode, QString::fromStdString(arg)});
        bool ready = false;
        for (int i = 0; i < 300 && !ready; ++i) {
            p_.waitForReadyRead(100);
            ready = p_.readAllStandardOutput().contains("READY");
        }
        ready_ = ready;
    }
    ~Station() {
        p_.closeWriteChannel();
        if (!p_.waitForFinished(10000)) p_.kill();
    }
    bool Ready() const { return ready_; }

  private:
    QProcess p_;
    bool ready_ = false;
};

// Notes whether the folder a folder dialog was to open in existed when it was asked (a
// missing one makes the real dialog open in the current folder, where choosing at once
// would put the data files).
class FolderCheckingResponder : public kjqt::ScriptedResponder {
  public:
    bool startFolderMissing = false;
    kjqt::DialogAnswer Respond(const kjqt::DialogRequest& request) override {
        if (request.kind == kjqt::DialogKind::Folder && !QDir(request.value).exists())
            startFolderMissing = true;
        return ScriptedResponder::Respond(request);
    }
};

// Ends the test program with a failure when it is still alive after `seconds`, saying what
// hung, so a hang fails fast instead of waiting for the runner's time-out.
class Watchdog {
  public:
    Watchdog(int seconds, const char* what) {
        thread_ = std::thread([this, seconds, what] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
                std::fprintf(stderr, "FAIL! hung for %d s: %s\n", seconds, what);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;
};

}  // namespace

class DataFilesTest : public QObject {
    Q_OBJECT

    FolderCheckingResponder responder_;
    std::unique_ptr<kj::TKJData> data_;

    bool Start(StartFolder&, const std::string& argument) {
        kj::CreateQelCom();
        data_ = std::make_unique<kj::TKJData>();
        kj::SetKJData(data_.get());
        const bool ok = kj::OpenStartupData(*data_, argument, nullptr);
        if (!ok) qWarning() << "start-up failed:" << responder_.Texts();
        return ok;
    }
    // A complete data folder made by a first start, then closed.
    void MakeFolder(StartFolder& sf) {
        sf.WriteIniPaths(sf.data);
        sf.WriteUserData("Firma", "Vej");
        QDir().mkpath(QString::fromStdString(sf.data));
        responder_.AnswerCancel();
        responder_.Answer(kIdYes);
        QVERIFY(Start(sf, "T3=" + sf.start));
        Stop();
        responder_.Clear();
    }
    void Stop() {
        data_.reset();
        kj::FreeQelCom();
        Dbf4::CloseAll();
    }
    // An old-layout table: the table's lists without `field` and the tags that use it, with
    // three rows (one of them deleted).
    void MakeOldTable(const std::string& path, const kj::TableSpec& spec,
                      const std::string& field) {
        TzDs::TTzDbf t("Old");
        t.SetDbfFileName(path);
        for (const std::string& l : spec.DbfFields())
            if (l.rfind(field + ",", 0) != 0) t.DbfFields().push_back(l);
        for (size_t i = 0; i < spec.tags.size(); i += 2)
            if (QString::fromStdString(spec.tags[i])
                    .toUpper()
                    .indexOf(QString::fromStdString(field).toUpper()) < 0) {
                t.IndexList().push_back(spec.tags[i]);
                t.IndexList().push_back("");
            }
        t.ShowProgress = false;
        t.Open();
        for (const char* key : {"a1", "b2", "c3"}) {
            t.Append();
            t.Fields()[0]->SetAsString(key);
            t.Post();
        }
        t.First();
        t.Next();
        t.Delete();
        t.Close();
    }

    // Five rows in every table that has tags, through a component of the table's lists.
    void FillTables(const StartFolder& sf) {
        for (const kj::TableSpec& t : kj::Tables()) {
            if (t.tags.empty()) continue;
            TzDs::TTzDbf f("Fill");
            f.SetDbfFileName(FolderOf(t, sf) + t.file);
            f.DbfFields() = t.DbfFields();
            f.IndexList() = t.tags;
            f.CreateIfNotFound = false;
            f.ShowProgress = false;
            f.Open();
            for (int i = 1; i <= 5; ++i) {
                f.Append();
                f.Fields()[0]->SetAsString("R" + std::to_string(i));
                f.Post();
            }
            f.Close();
        }
    }
    // Postings enough for an index of some size on a small disk; the engine reset around.
    const kj::TableSpec& FillPostings(const StartFolder& sf) {
        ResetEngine();
        const kj::TableSpec& posts =
            *std::find_if(kj::Tables().begin(), kj::Tables().end(),
                          [](const kj::TableSpec& t) { return t.file == "Poster.dbf"; });
        TzDs::TTzDbf f("Fill");
        f.SetDbfFileName(sf.data + posts.file);
        f.DbfFields() = posts.DbfFields();
        f.IndexList() = posts.tags;
        f.ShowProgress = false;
        f.Open();
        for (int i = 1; i <= 3000; ++i) {
            f.Append();
            f.FieldByName("post_sag").SetAsString("S" + std::to_string(i % 400));
            f.FieldByName("post_ans").SetAsString("A" + std::to_string(i % 7));
            f.FieldByName("post_fnr").SetAsString(std::to_string(i));
            f.Post();
        }
        f.Close();
        ResetEngine();
        return posts;
    }
    // Every table's records are reached through each of its tags.
    void CheckEveryTag(const StartFolder& sf) {
        const std::string wrong = EveryTagAgrees(sf);
        QVERIFY2(wrong.empty(), wrong.c_str());
    }
  private slots:
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
        kjqt::DialogService::Instance().SetResponder(&responder_);
    }
    void init() {
        responder_.Clear();
        ResetEngine();
    }
    void cleanup() { Stop(); }

    void firstStartCreatesEveryTableIndexAndList() {
        StartFolder sf;
        sf.WriteIniPaths(sf.data);
        sf.WriteUserData(Ansi("Landinspektørerne Ærø"), Ansi("Åvej 1"));
        responder_.AnswerText(Q(sf.data));
        responder_.Answer(kIdYes);
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(),
                 QStringList({Q(Ansi("Vælg mappe til datafiler")),
                              Q("Skal datafiler oprettes i mappen " + sf.data)}));
        QVERIFY(!responder_.startFolderMissing);
        QCOMPARE(kj::QelCom()->FirmName, kj::Ansi("Landinspektørerne Ærø") + std::string(39, ' '));
        QCOMPARE(kj::QelCom()->FirmAddress.substr(0, 6), Ansi("Åvej 1"));
        for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
        QVERIFY(data_->tmpPost.Active() && data_->tmpStat.Active());
        QCOMPARE(data_->tmpPost.RecCount(), 0);
        for (TzDs::TTzDbf* t :
             {&data_->TimerDbf, &data_->SagAfslut, &data_->posterAfslut, &data_->statusAfslut})
            QVERIFY(!t->Active());
        QVERIFY(!data_->IniRet);
        // Tags of a table as its index file holds them.
        QVERIFY(data_->PostDbf.SetOrderToTag("POSTTMU"));
        QCOMPARE(TzNdx::TagCount(), 5);
        Stop();
        for (const kj::TableSpec& t : kj::Tables()) {
            const std::string file = FolderOf(t, sf) + t.file;
            QVERIFY2(Exists(file), file.c_str());
            QCOMPARE(tz::Exists(TzCommon::ForceExtension(file, "MDX")), !t.tags.empty());
            QCOMPARE(DbfRead(file), FieldNames(t) + "|0");
        }
        QCOMPARE(Read(sf.data + "StdHand.dbs"), Ansi("Standard hændelse, automatisk oprettet\r\n"));
        QCOMPARE(Read(sf.data + "StdInteressent.dbs"),
                 Ansi("Ejer:\r\nSælger:\r\nKøber:\r\nAdvokat sælger:\r\nAdvokat køber:\r\n"
                      "Ejendomsmægler:\r\nBank:\r\nKreditforening:\r\nØvrige:\r\n"));
        QCOMPARE(Read(sf.data + "StdSagsType.dbs"),
                 Ansi("Administration\r\nUdstykning\r\nArealoverførselS\r\nArealoverførselU\r\n"
                      "Sammenlægning\r\nInddragelse\r\nEjendomsberigtig\r\nUdskillelse\r\n"
                      "Teknisk ændring\r\nAndet\r\n"));
        QCOMPARE(Read(sf.data + "HandForSagsType.dbs"), std::string());
        QVERIFY(Read(sf.start + "ZORBO397.ASD").find("SagsDataSti=" + sf.data + "\r\n") !=
                std::string::npos);

        // The second start asks nothing and finds every table.
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts().size(), 2);
    }

    void startFromTheOlderLineFormPathFile() {
        StartFolder sf;
        std::string lines = sf.start + "\r\n\r\n" + sf.start + "\r\n";
        for (int i = 0; i < 6; ++i) lines += "C:\\IGNORED" + std::to_string(i) + "\\\r\n";
        Write(sf.start + "ZORBO3.ASD", lines);
        sf.WriteUserData("Firma", "Vej");
        responder_.Answer(kjqt::mb::kIdOk);
        responder_.AnswerCancel();
        responder_.Answer(kIdYes);
        QVERIFY(Start(sf, sf.start));  // the whole argument names the folder
        QCOMPARE(responder_.Texts().first(),
                 Q(Ansi("Ved 1. opstart: Kan ikke finde ZORBO397.ASD læser ") + sf.start +
                   "ZORBO3.ASD istedet"));
        QCOMPARE(kj::QelCom()->SagsDataSti, sf.start + "SagsData/");
        QCOMPARE(kj::QelCom()->UndoRedoSti, sf.start + "Undo/");
        QCOMPARE(kj::QelCom()->DataBaseSti, std::string());
        QVERIFY(Exists(sf.data + "Sager.dbf"));
        // The paths were written back in the INI form beside the old file.
        const std::string ini = Read(sf.start + "ZORBO397.ASD");
        QVERIFY(ini.find("[Morvane Stier]\r\nMorvaneSti=" + sf.start + "\r\n") == 0);
        QVERIFY(ini.find("DataBaseSti=\r\n") != std::string::npos);
        QVERIFY(ini.find("SagsDataSti=" + sf.start + "SagsData/\r\n") != std::string::npos);
    }

    // An empty or junk path-setup file names no folder for the user data; started from
    // another folder the program says so, naming that file and the folder it looked in,
    // instead of claiming that ZORBO195.ASD is missing.
    void pathFileNamingNoFolderIsNamed() {
        const QString here = QDir::currentPath();
        QTemporaryDir elsewhere;
        for (const char* content : {"", "\x01\x02junk\r\n[Andet]\r\nx=y\r\n"}) {
            StartFolder sf;
            MakeFolder(sf);
            ResetEngine();
            Write(sf.start + "ZORBO397.ASD", content);
            QVERIFY(QDir::setCurrent(elsewhere.path()));
            const bool started = Start(sf, "T3=" + sf.start);
            QDir::setCurrent(here);
            QVERIFY(!started);
            qInfo() << "path-setup file naming no folder:" << responder_.Texts();
            QCOMPARE(responder_.Texts(),
                     QStringList(
                         {Q("Opstartsfilen " + sf.start +
                            "ZORBO397.ASD angiver ikke mappen med brugerdata "
                            "(ZORBO195.ASD); filen er tom eller ugyldig.\r\nDen "
                            "aktuelle mappe " +
                            elsewhere.path().toStdString() + " har heller ingen ZORBO195.ASD.\r\n" +
                            Ansi("Kontakt din leverandør !!!!!!!!"))}));
            Stop();
            responder_.Clear();
        }
    }

    void bareDriveLineAndMissingIniKeys() {
        StartFolder sf;
        Write(sf.start + "ZORBO3.ASD", "C:\r\n");
        kj::TQelCom q;
        q.ReadPaths(sf.start + "ZORBO3.ASD");
        QCOMPARE(q.MorvaneSti, std::string("/"));  // no drive letters here: the root
        QCOMPARE(q.SagsDataSti, std::string("/SagsData/"));
        Write(sf.start + "ZORBO397.ASD",
              "[Morvane Stier]\r\nZorbo1Sti=/x/\r\nDataBaseSti=/db/\r\nMorvaneSti=/a/b\r\n");
        kj::TQelCom ini;
        ini.ReadPaths(sf.start + "ZORBO397.ASD");
        QCOMPARE(ini.UndoRedoSti, std::string("/x/Undo/"));
        QCOMPARE(ini.Fællesfil, std::string("/x/ZorboF.asd"));
        QCOMPARE(ini.DataBaseSti, std::string());
        ini.WritePaths(sf.start + "ZORBO397.ASD");
        const std::string back = Read(sf.start + "ZORBO397.ASD");
        QVERIFY(back.find("MorvaneSti=/a/\r\n") != std::string::npos);
        QVERIFY(back.find("DataBaseSti=\r\n") != std::string::npos);
    }

    // A folder setting left empty stays empty (it is not the file-system root), and the
    // proposed data folder is made only when the user says Yes to creating the data files.
    void emptyFolderSettingsAndTheProposedDataFolder() {
        QCOMPARE(kj::WithDelim(""), std::string());
        StartFolder sf;
        Write(sf.start + "ZORBO397.ASD", "[Morvane Stier]\r\nMorvaneSti=" + sf.start + "\r\n");
        kj::TQelCom q;
        q.ReadPaths(sf.start + "ZORBO397.ASD");
        QCOMPARE(q.Fællesfil, std::string("ZorboF.asd"));
        QCOMPARE(q.UndoRedoSti, std::string("Undo/"));
        sf.WriteIniPaths("");
        sf.WriteUserData("Firma", "Vej");
        responder_.AnswerCancel();
        responder_.Answer(kjqt::mb::kIdNo);
        QVERIFY(!Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList({Q(Ansi("Vælg mappe til datafiler")),
                                                  Q("Skal datafiler oprettes i mappen ")}));
        QVERIFY(!responder_.startFolderMissing);  // the dialog opened in the proposed folder
        QVERIFY(!Exists(sf.data));
    }

    void upgradesKeepEveryRowAndABackup() {
        StartFolder sf;
        MakeFolder(sf);
        struct Case {
            const char* component;
            const char* file;
            const char* backup;
            const char* field;
        } cases[] = {{"VareDbf", "Varer.dbf", "VareBak.Dbf", "tmu_gr"},
                     {"SagsDbf", "Sager.dbf", "SagsBak.Dbf", "sag_matnr"},
                     {"PostDbf", "Poster.dbf", "PostBak.Dbf", "post_pri"}};
        ResetEngine();
        for (const Case& c : cases) {
            QFile::remove(QString::fromStdString(sf.data + c.file));
            QFile::remove(
                QString::fromStdString(TzCommon::ForceExtension(sf.data + c.file, "mdx")));
            MakeOldTable(sf.data + c.file, *kj::FindTable(c.component), c.field);
        }
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        for (const Case& c : cases) {
            TzDs::TTzDbf& t = *data_->Table(c.component);
            QVERIFY(t.FieldProps()->FieldNo(c.field) > 0);
            QCOMPARE(t.RecCount(), 2);
            std::vector<std::string> keys;
            for (t.First(); !t.Eof(); t.Next())
                keys.push_back(TzCommon::TrimRight(t.Fields()[0]->AsString()));
            QCOMPARE(keys, (std::vector<std::string>{"a1", "c3"}));  // not the deleted row
            QCOMPARE(t.FieldByName(c.field).AsString().find_first_not_of(" 0"), std::string::npos);
        }
        Stop();
        for (const Case& c : cases) {
            QVERIFY(DbfRead(sf.data + c.backup).find(std::string("|2")) != std::string::npos);
            QVERIFY(tz::Exists(TzCommon::ForceExtension(sf.data + c.backup, "Mdx")));
            QVERIFY(DbfRead(sf.data + c.file)
                        .find(QString::fromStdString(c.field).toUpper().toStdString()) !=
                    std::string::npos);
        }
    }

    // The archive twins of the upgraded tables in their older layout are brought to the
    // current one at start as the live tables are (rows kept, a backup beside), so that
    // archiving and restoring find every field.
    void archiveTablesOfAnOlderLayoutAreUpgraded() {
        StartFolder sf;
        MakeFolder(sf);
        struct Case {
            const char* component;
            const char* file;
            const char* backup;
            const char* field;
        } cases[] = {{"SagAfslut", "AfsluttedeSager.dbf", "AfslSagsBak.Dbf", "sag_matnr"},
                     {"posterAfslut", "AfsluttedePoster.dbf", "AfslPostBak.Dbf", "post_pri"}};
        ResetEngine();
        for (const Case& c : cases) {
            QFile::remove(QString::fromStdString(sf.data + c.file));
            QFile::remove(
                QString::fromStdString(TzCommon::ForceExtension(sf.data + c.file, "mdx")));
            MakeOldTable(sf.data + c.file, *kj::FindTable(c.component), c.field);
        }
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        Stop();
        for (const Case& c : cases) {
            const std::string now = DbfRead(sf.data + c.file);
            QVERIFY2(now.find(QString::fromStdString(c.field).toUpper().toStdString()) !=
                             std::string::npos &&
                         now.find("|2") != std::string::npos,
                     (c.file + std::string(": ") + now).c_str());
            QVERIFY(DbfRead(sf.data + c.backup).find(std::string("|2")) != std::string::npos);
        }
    }

    // A table of the older layout whose index a dying station left marked is upgraded all
    // the same, every row kept.
    void upgradeOfATableWithAnInterruptedIndex() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        const std::string varer = sf.data + "Varer.dbf";
        QFile::remove(QString::fromStdString(varer));
        QFile::remove(QString::fromStdString(TzCommon::ForceExtension(varer, "mdx")));
        MakeOldTable(varer, *kj::FindTable("VareDbf"), "tmu_gr");
        MarkInterrupted(TzCommon::ForceExtension(varer, "MDX"));
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        QVERIFY(data_->VareDbf.FieldProps()->FieldNo("tmu_gr") > 0);
        QCOMPARE(data_->VareDbf.RecCount(), 2);
        Stop();
        ResetEngine();
        CheckEveryTag(sf);
    }

    // An upgrade that cannot take the table because another station holds it open says
    // so and leaves the live table as it is.
    void upgradeOfATableHeldElsewhereChangesNothing() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        const std::string varer = sf.data + "Varer.dbf";
        QFile::remove(QString::fromStdString(varer));
        QFile::remove(QString::fromStdString(TzCommon::ForceExtension(varer, "mdx")));
        MakeOldTable(varer, *kj::FindTable("VareDbf"), "tmu_gr");
        const std::string before = Read(varer);
        Station holder("--hold", varer);
        QVERIFY(holder.Ready());
        ResetEngine();
        QVERIFY(!Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(),
                 QStringList(Q(Ansi("Kunne ikke initialisere datafiler: Opgradering af ") + varer +
                               Ansi(" mislykkedes: kunne ikke slette ") + varer +
                               Ansi(", den er i brug af andre.\r\nTabellen er ikke ændret; den "
                                    "opgraderes ved en opstart, hvor ingen andre bruger den."))));
        QCOMPARE(Read(varer), before);
    }

    // Index files erased by hand (what users did after a crash) while the tables hold
    // deleted rows, as a killed pack leaves them: the start-up builds each index again
    // without taking the table for an older layout (no backup, no upgrade), every record is
    // found through every tag and the deleted rows stay deleted.
    void startWithErasedIndexesBesideDeletedRows() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        FillTables(sf);
        const char* const files[] = {"Sager.dbf", "Poster.dbf", "Varer.dbf"};
        for (const char* file : files) {
            std::string bytes = Read(sf.data + file);
            const int header = uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8;
            const int record = uint8_t(bytes[10]) | uint8_t(bytes[11]) << 8;
            for (int r : {1, 3, 4}) bytes[size_t(header + r * record)] = '*';  // R2, R4, R5
            Write(sf.data + file, bytes);
        }
        auto eraseIndexes = [&] {
            for (const char* file : files)
                QVERIFY(QFile::remove(
                    QString::fromStdString(TzCommon::ForceExtension(sf.data + file, "MDX"))));
        };
        eraseIndexes();
        QVERIFY(ProgramReachesMainWindow(sf));
        eraseIndexes();
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        for (TzDs::TTzDbf* c : {&data_->SagsDbf, &data_->PostDbf, &data_->VareDbf}) {
            std::vector<std::string> keys;
            for (c->First(); !c->Eof(); c->Next())
                keys.push_back(TzCommon::TrimRight(c->Fields()[0]->AsString()));
            QCOMPARE(keys, (std::vector<std::string>{"R1", "R3"}));
        }
        Stop();
        for (const char* file : files) {
            const kj::TableSpec& spec =
                *std::find_if(kj::Tables().begin(), kj::Tables().end(),
                              [&](const kj::TableSpec& t) { return t.file == file; });
            QCOMPARE(DbfRead(sf.data + file), FieldNames(spec) + "|2");
        }
        for (const char* backup : {"SagsBak.Dbf", "PostBak.Dbf", "VareBak.Dbf"})
            QVERIFY2(!Exists(sf.data + backup), backup);
        CheckEveryTag(sf);
        QVERIFY(ProgramReachesMainWindow(sf));
    }

    // A damaged case index at start: with 200 cases in Sager.dbf, the case-number tag's
    // root zeroed (a torn write), its root at block 0, its root with no entries, or its tag
    // entry at another tag's header: the start goes on, the main window's cursor shows the
    // 200 cases in case-number order, every tag agrees with the table afterwards and the
    // index carries no mark; the program itself reaches its main window over such a folder.
    void aDamagedCaseIndexIsRepairedAtStart() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        const std::string table = sf.data + "Sager.dbf", mdx = sf.data + "Sager.MDX";
        {
            const kj::TableSpec& spec = *kj::FindTable("SagsDbf");
            TzDs::TTzDbf f("Cases");
            f.SetDbfFileName(table);
            f.DbfFields() = spec.DbfFields();
            f.IndexList() = spec.tags;
            f.CreateIfNotFound = false;
            f.ShowProgress = false;
            f.Open();
            for (int i = 1; i <= 200; ++i) {
                f.Append();
                f.FieldByName("sags_nr").SetAsString("S" + std::to_string(1000 + i));
                f.FieldByName("sag_ansvar").SetAsString("A" + std::to_string(i % 7));
                f.Post();
            }
            f.Close();
        }
        ResetEngine();
        const std::string good = Read(mdx);
        auto at32 = [](std::string& b, size_t off) { return reinterpret_cast<uint8_t*>(&b[off]); };
        std::string probe = good;
        const uint32_t header = Mdx::Get32(at32(probe, 512 + 32));     // tag 1: SAGSNR
        const uint32_t other = Mdx::Get32(at32(probe, 512 + 2 * 32));  // tag 2: SAGSANS
        QVERIFY2(probe.size() >= 3072 && size_t(header) * 512 + 1024 <= probe.size(),
                 qPrintable(QString("header %1 in %2 bytes").arg(header).arg(probe.size())));
        QVERIFY(size_t(other) * 512 + 1024 <= probe.size());
        const uint32_t root = Mdx::Get32(at32(probe, size_t(header) * 512));
        QVERIFY2(size_t(root) * 512 + 1024 <= probe.size(),
                 qPrintable(QString("root %1 in %2 bytes").arg(root).arg(probe.size())));
        struct Case {
            const char* what;
            std::function<void(std::string&)> damage;
        } cases[] = {
            {"root zeroed", [&](std::string& b) { std::memset(at32(b, root * 512), 0, 1024); }},
            {"root at block 0", [&](std::string& b) { Mdx::Put32(at32(b, header * 512), 0); }},
            {"root with no entries", [&](std::string& b) { Mdx::Put16(at32(b, root * 512), 0); }},
            {"tag at another tag's header",
             [&](std::string& b) { Mdx::Put32(at32(b, 512 + 32), other); }},
        };
        for (const Case& c : cases) {
            std::string bytes = good;
            c.damage(bytes);
            Write(mdx, bytes);
            responder_.Clear();
            ResetEngine();
            QVERIFY2(Start(sf, "T3=" + sf.start), c.what);
            qInfo() << c.what << "told:" << responder_.Texts();
            QVERIFY2(data_->SagsDbf.SetOrderToTag("SAGSNR"), c.what);
            QStringList shown;
            for (data_->SagsDbf.First(); !data_->SagsDbf.Eof() && shown.size() <= 400;
                 data_->SagsDbf.Next())
                shown << QString::fromStdString(
                    Trim(data_->SagsDbf.FieldByName("sags_nr").AsString()));
            QCOMPARE(shown.size(), 200);
            QCOMPARE(shown.first(), QStringLiteral("S1001"));
            QCOMPARE(shown.last(), QStringLiteral("S1200"));
            Stop();
            CheckEveryTag(sf);
            QCOMPARE(MarkedIndexes(sf.data), 0);
        }
        Write(mdx, [&] {
            std::string b = good;
            Mdx::Put32(at32(b, header * 512), 0);
            return b;
        }());
        ResetEngine();
        QVERIFY(ProgramReachesMainWindow(sf));
        CheckEveryTag(sf);
    }

    // Damaged tables at start: a table cut in the middle of a record under a header that
    // claimed more is opened with what it holds, and the user is told in a box which table
    // lost how many records (a header behind the file, as a killed station leaves it, is
    // repaired without a word); a header whose record length is larger than the records
    // the file holds is refused like one too short for its fields.
    void damagedTablesAreNamedAtStart() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        FillTables(sf);
        const std::string file = sf.data + "Sager.dbf";
        const std::string whole = Read(file);
        const int header = uint8_t(whole[8]) | uint8_t(whole[9]) << 8;
        const int record = uint8_t(whole[10]) | uint8_t(whole[11]) << 8;
        auto withCount = [](std::string b, uint8_t n) {
            b[4] = char(n);
            return b;
        };
        Write(file, withCount(whole.substr(0, size_t(header + 3 * record + record / 2)), 15));
        QVERIFY(Start(sf, "T3=" + sf.start));
        const QStringList told = responder_.Texts();
        qInfo() << "cut table:" << told;
        QCOMPARE(told.size(), 1);
        QVERIFY(
            told[0].startsWith(QString::fromUtf8("Tabellen ") + QString::fromStdString(file) +
                               QString::fromUtf8(" indeholder færre poster end dens hoved "
                                                 "angav: 3 i stedet for 15. 12 poster mangler")));
        QCOMPARE(data_->SagsDbf.RecCount(), 3);
        Stop();
        {
            // The index lost the lost cases' keys with them: a case added later takes
            // record 4 once.
            const kj::TableSpec& spec = *kj::FindTable("SagsDbf");
            TzDs::TTzDbf f("Later");
            f.SetDbfFileName(file);
            f.DbfFields() = spec.DbfFields();
            f.IndexList() = spec.tags;
            f.ShowProgress = false;
            f.Open();
            f.Append();
            f.Fields()[0]->SetAsString("R9");
            f.Post();
            f.Close();
        }
        CheckEveryTag(sf);
        responder_.Clear();
        ResetEngine();
        Write(file, withCount(whole, 2));
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(data_->SagsDbf.RecCount(), 5);
        Stop();
        ResetEngine();
        std::string longer = whole;
        longer[10] = char(uint8_t(longer[10]) + 10);
        Write(file, longer);
        QVERIFY(!Start(sf, "T3=" + sf.start));
        qInfo() << "record length longer than the fields:" << responder_.Texts();
        QVERIFY(responder_.Texts().join('\n').contains("Fields do not fit the record length"));
        // Headers that misplace every record (a record length three times the fields', a
        // header length a descriptor longer than the descriptors) or whose first field has
        // lost its name: refused with the Danish damaged-table text, the file left as it
        // was (its count not rewritten).
        auto withWord = [](std::string b, size_t at, int v) {
            b[at] = char(v & 0xFF);
            b[at + 1] = char(v >> 8);
            return b;
        };
        std::string nameless = whole;
        nameless[32] = '\0';
        for (const std::string& lying :
             {withWord(whole, 10, 3 * record), withWord(whole, 8, header + 32), nameless}) {
            Stop();
            responder_.Clear();
            ResetEngine();
            Write(file, lying);
            QVERIFY(!Start(sf, "T3=" + sf.start));
            const QString told = responder_.Texts().join('\n');
            qInfo() << "lying header:" << told;
            QVERIFY2(told.contains(QString::fromUtf8("Tabellen ") + QString::fromStdString(file) +
                                   QString::fromUtf8(" er beskadiget: dens hoved passer ikke "
                                                     "til posterne i filen.")),
                     qPrintable(told));
            QVERIFY2(Read(file) == lying, "the refused start changed Sager.dbf");
        }
    }

    // An amount no money count can hold in the first posting (20 nines in the F 20,2
    // price, or 1e15), or a total too large for a posting, does not stop the start: the
    // program starts, and a box names the table, the row and the field, as the reports do;
    // the amounts count it as 0.
    void anUnreadableAmountInTheFirstPostingDoesNotStopTheStart() {
        struct Case {
            std::string price, antal, head, tail;
        } cases[] = {
            {std::string(20, '9'), "1", "\"Stk.pris\" (post_pris)",
             " er ikke et gyldigt bel"
             "\xF8"
             "b"},
            {"1000000000000000.00", "1", "\"Stk.pris\" (post_pris)",
             " er ikke et gyldigt bel"
             "\xF8"
             "b"},
            {"900000000000000.00", "9999999.99", "\"Pris\" (Total)", " 922 337 203 685 477 kr"}};
        for (const Case& c : cases) {
            StartFolder sf;
            MakeFolder(sf);
            ResetEngine();
            const std::string file = sf.data + "Poster.dbf";
            {
                TzDs::TTzDbf f("Fill");
                f.SetDbfFileName(file);
                f.DbfFields() = kj::FindTable("PostDbf")->DbfFields();
                f.IndexList() = kj::FindTable("PostDbf")->tags;
                f.CreateIfNotFound = false;
                f.ShowProgress = false;
                f.Open();
                for (const char* sag : {"S1", "S2"}) {
                    f.Append();
                    f.FieldByName("post_sag").SetAsString(sag);
                    f.FieldByName("post_antal")
                        .SetAsString(sag == std::string("S1") ? c.antal : "1");
                    f.FieldByName("post_pris").SetAsString("12.50");
                    f.Post();
                }
                f.Close();
            }
            // The price of record 1 as another program wrote it, right-aligned in its 20 bytes.
            std::string bytes = Read(file);
            const size_t header = uint8_t(bytes[8]) | size_t(uint8_t(bytes[9])) << 8;
            size_t offset = 1;
            for (size_t p = 32; p < header && bytes[p] != '\x0D'; p += 32) {
                if (QString::fromLatin1(bytes.data() + p).toLower() == "post_pris") break;
                offset += uint8_t(bytes[p + 16]);
            }
            bytes.replace(header + offset, 20, std::string(20 - c.price.size(), ' ') + c.price);
            Write(file, bytes);
            ResetEngine();
            QVERIFY(Start(sf, "T3=" + sf.start));
            data_->PostDbf.First();
            const int64_t total = data_->PostDbf.FieldByName("Total").AsCurrency();
            QCoreApplication::processEvents();
            const QStringList told = responder_.Texts();
            QCOMPARE(told.size(), 1);
            const QString head =
                Q("Feltet " + c.head + " i post nr. 1 i " + file + " kan ikke l\xE6ses: ");
            const QString tail = Q(c.tail +
                                   ".\r\nBel"
                                   "\xF8"
                                   "bene regnes som 0.");
            QVERIFY2(told[0].startsWith(head) && told[0].endsWith(tail), qPrintable(told[0]));
            QCOMPARE(total, int64_t(0));
            data_->PostDbf.Next();  // the other posting reads as before
            QCOMPARE(data_->PostDbf.FieldByName("Total").AsCurrency(), int64_t(125000));
            Stop();
            responder_.Clear();
        }
    }

    // A failed write at every step of an upgrade: the start-up reports it or completes,
    // and afterwards the table holds every row in the old or the new layout.
    void upgradeFailingAtAnyWriteLosesNothing() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        const std::string varer = sf.data + "Varer.dbf";
        QFile::remove(QString::fromStdString(varer));
        QFile::remove(QString::fromStdString(TzCommon::ForceExtension(varer, "mdx")));
        MakeOldTable(varer, *kj::FindTable("VareDbf"), "tmu_gr");
        const QString pristine = QString::fromStdString(sf.tmp->path().toStdString() + "/pristine");
        QDir().mkpath(pristine);
        for (const QString& n : QDir(QString::fromStdString(sf.data)).entryList(QDir::Files))
            QFile::copy(QString::fromStdString(sf.data) + n, pristine + "/" + n);
        bool completed = false;
        for (long failAt = 1; failAt < 400 && !completed; ++failAt) {
            for (const QString& n : QDir(QString::fromStdString(sf.data)).entryList(QDir::Files))
                QFile::remove(QString::fromStdString(sf.data) + n);
            for (const QString& n : QDir(pristine).entryList(QDir::Files))
                QFile::copy(pristine + "/" + n, QString::fromStdString(sf.data) + n);
            ResetEngine();
            responder_.Clear();
            tz::FaultInjector fault;
            fault.failAt = failAt;
            fault.sticky = false;  // one failed write; the restore that follows can write
            tz::SetFaultInjector(&fault);
            bool ok = false;
            try {
                ok = Start(sf, "T3=" + sf.start);
            } catch (...) {
            }
            tz::SetFaultInjector(nullptr);
            completed = ok && fault.writes < failAt;
            Stop();
            ResetEngine();
            const std::string view = DbfRead(varer);
            QVERIFY2(view.find("|2") != std::string::npos,
                     (std::to_string(failAt) + ": " + view).c_str());
        }
        QVERIFY(completed);
    }

    // A station killed in the middle of a change leaves its index marked; each index of
    // the application marked in turn: the start-up rebuilds it without a question, and every
    // record is found through each tag. The program itself starts with all of them marked.
    void interruptedIndexesAreRebuiltAtStart() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        FillTables(sf);
        for (const kj::TableSpec& t : kj::Tables()) {
            if (t.tags.empty()) continue;
            const std::string mdx = TzCommon::ForceExtension(FolderOf(t, sf) + t.file, "MDX");
            MarkInterrupted(mdx);
            ResetEngine();
            responder_.Clear();
            QVERIFY2(Start(sf, "T3=" + sf.start), mdx.c_str());
            QCOMPARE(responder_.Texts(), QStringList());
            for (TzDs::TTzDbf* c : data_->MainCursors()) QVERIFY2(c->Active(), c->Name().c_str());
            Stop();
            QCOMPARE(int(Read(mdx)[30]), 0);
            ResetEngine();
            CheckEveryTag(sf);
        }
        for (const kj::TableSpec& t : kj::Tables())
            if (!t.tags.empty())
                MarkInterrupted(TzCommon::ForceExtension(FolderOf(t, sf) + t.file, "MDX"));
        QVERIFY(ProgramReachesMainWindow(sf));
        ResetEngine();
        CheckEveryTag(sf);
    }

    // A station that dies at each write of a posting's save (the process ends there): the
    // next start comes up without a question, every posting is found through every tag,
    // and the program reaches its main window.
    void startAfterAPostingSaveKilledAtEachWrite() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        FillTables(sf);
        const WriteKills k = KillAtEachWrite(
            1,
            [&](long failAt) {
                return RunHelperStation(
                    {"--save-posting", QString::fromStdString(sf.start), QString::number(failAt)});
            },
            [&](long failAt) {
                ResetEngine();
                responder_.Clear();
                QVERIFY2(Start(sf, "T3=" + sf.start), std::to_string(failAt).c_str());
                QCOMPARE(responder_.Texts(), QStringList());
                const int postings = data_->PostDbf.RecCount();
                QVERIFY(postings >= 5 && postings <= 5 + failAt);
                Stop();
                CheckEveryTag(sf);
            },
            200);
        QVERIFY(k.completed);
        QCOMPARE(k.unexpected, 0);
        QVERIFY(k.kills > 0);
        qInfo() << "posting save killed at" << k.kills << "writes";
        QVERIFY(ProgramReachesMainWindow(sf));
    }

    // One station writes the path-setup file over and over (alternating contents) while
    // another reads it: every read finds the data and system folders, none an empty or a
    // partial file; a write of unchanged paths leaves the file alone.
    void pathFileReadWhileAnotherStationWritesIt() {
        StartFolder sf;
        sf.WriteIniPaths(sf.data);
        const std::string file = sf.start + "ZORBO397.ASD";
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(),
                     {"--write-paths", QString::fromStdString(file), "1000"});
        QVERIFY(writer.waitForStarted(30000));
        int reads = 0, wrong = 0;
        while (writer.state() != QProcess::NotRunning && reads < 200000) {
            kj::TQelCom q;
            q.ReadPaths(file);
            ++reads;
            if (q.SagsDataSti.empty() || q.Zorbo1Sti != sf.start) ++wrong;
            if (reads % 64 == 0) writer.waitForFinished(0);
        }
        if (writer.state() != QProcess::NotRunning) QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitCode(), 0);
        qInfo() << reads << "reads," << wrong << "without the folders";
        QVERIFY(reads > 0);
        QCOMPARE(wrong, 0);
        // Unchanged paths: the file keeps its identity (it is not written again).
        kj::TQelCom q;
        q.ReadPaths(file);
        struct stat before {
        }, after{};
        QCOMPARE(::stat(file.c_str(), &before), 0);
        q.WritePaths(file);
        QCOMPARE(::stat(file.c_str(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(QDir(QString::fromStdString(sf.start)).entryList(QDir::Files).size(), 1);
    }

    // Two, four and eight stations, each with its own start-up folder, start on one data
    // folder at the same moment: on a new data folder (the first to get there creates the
    // files) and on an existing one. Every station comes up with every table open.
    void stationsStartingTogetherAllComeUp() {
        int rounds = 0, failed = 0;
        std::string why;
        auto round = [&](const QString& base, int stations) {
            std::vector<std::unique_ptr<QProcess>> ps;
            for (int i = 0; i < stations; ++i) {
                const QString start = base + "/s" + QString::number(i) + "/";
                if (!QDir(start).exists()) {
                    QDir().mkpath(start);
                    Write(start.toStdString() + "ZORBO397.ASD",
                          "[Morvane Stier]\r\nMorvaneSti=" + start.toStdString() +
                              "\r\nZorbo1Sti=" + start.toStdString() +
                              "\r\nSagsDataSti=" + base.toStdString() + "/data/\r\n");
                    Write(start.toStdString() + "ZORBO195.ASD",
                          "; x\r\n1\r\n" + kj::EncodeFirmBlock("Firma", "Vej"));
                }
                ps.push_back(std::make_unique<QProcess>());
                ps.back()->start(QCoreApplication::applicationFilePath(), {"--race", start});
            }
            ++rounds;
            for (auto& p : ps) {
                const bool ended = p->waitForFinished(60000);
                if (!ended) p->kill(), p->waitForFinished(10000);
                if (ended && p->exitCode() == 0 && p->readAllStandardOutput().contains("READY"))
                    continue;
                ++failed;
                why = p->readAllStandardError().toStdString();
            }
        };
        for (const auto& [stations, times] : {std::pair{2, 25}, {4, 15}, {8, 10}}) {
            for (int r = 0; r < times; ++r) {
                QTemporaryDir base;
                QDir().mkpath(base.path() + "/data");
                round(base.path(), stations);
                if (r == times - 1) round(base.path(), stations);  // the folder exists now
            }
        }
        qInfo() << rounds << "rounds," << failed << "stations without their data";
        QVERIFY2(failed == 0, why.c_str());
    }

    // Two stations start on a new data folder; the first is held while it makes the start-up
    // file and holds it to itself. The second waits for its turn instead of going on
    // without it and making the data files beside the first; both come up.
    void aStationMakingTheStartUpFileKeepsTheTurn() {
        StartFolder one, two;  // two stations' start-up folders on one new data folder
        for (StartFolder* sf : {&one, &two}) {
            sf->WriteIniPaths(one.data);
            sf->WriteUserData("Firma", "Vej");
        }
        QDir().mkpath(Q(one.data));
        const QStringList starts{Q(one.start), Q(two.start)};
        Helper first({QStringLiteral("--race"), starts[0]}, QStringLiteral("create-before-share"));
        QVERIFY(first.WaitStopped());
        Helper second({QStringLiteral("--race"), starts[1]});
        QVERIFY2(!second.Finish(3000), "went on while the first station held the start-up file");
        QVERIFY(first.FinishThroughStops());
        QVERIFY(first.Wait("READY", 1000));
        QVERIFY2(second.Finish(60000), second.Errors().constData());
        QVERIFY(second.Wait("READY", 1000));
    }

    void twoStationsShareOneSystemFolder() {
        StartFolder sf;
        MakeFolder(sf);
        Station other("--station", sf.start);
        QVERIFY(other.Ready());
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(data_->TPostFile(), sf.start + "TPost1.dbf");
        QCOMPARE(data_->TStatFile(), sf.start + "TStat1.dbf");
        Stop();
        // The program itself, a third station, starts, shows its main window and ends
        // cleanly when asked to (a request during start-up waits for the window).
        QVERIFY(ProgramReachesMainWindow(sf));
    }

    // A second program on the same start-up folder holds the time sheet's scratch table:
    // opening the time sheet says so and the program goes on (never "Program halted.").
    void timeSheetScratchTableHeldByAnotherProgram() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        data_->AjourInitials = "TST";
        Station holder("--hold", sf.start + "Timer.dbf");
        QVERIFY(holder.Ready());
        responder_.Clear();
        bool halted = false;
        TzCommon::SetHaltProc([&halted](int) {
            halted = true;
            throw std::runtime_error("halted");
        });
        const uint8_t checking = TzCommon::SetErrorChecking(1);  // as the program runs
        try {
            kj::RunTimeSheets();
        } catch (const std::exception&) {
        }
        TzCommon::SetErrorChecking(checking);
        TzCommon::SetHaltProc(nullptr);
        QVERIFY(!halted);
        QCOMPARE(responder_.Texts(),
                 QStringList(Q(Ansi("Arbejdsfilen ") + sf.start +
                               Ansi("Timer.dbf er i brug af et andet program.\r\nHver station "
                                    "skal have sin egen opstartsmappe (T3=<mappe>) med samme "
                                    "datamappe."))));
        for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
    }

    // A station starting while another rebuilds (or packs) every table waits for its turn
    // instead of failing on a table held exclusively, and the rebuild is not disturbed by
    // it. The rebuilding station stops itself inside the work; the starting station gets
    // there meanwhile.
    void stationStartingDuringARebuildOrPackWaitsForIt() {
        StartFolder sf;
        MakeFolder(sf);
        FillTables(sf);
        StartFolder second;
        second.WriteIniPaths(sf.data);
        second.WriteUserData("Firma", "Vej");
        for (const auto& [mode, step] :
             {std::pair{"--rebuild", "index-build"}, std::pair{"--pack", "pack-before-rename"}}) {
            Helper worker({QString(mode), QString::fromStdString(sf.start)}, QString(step));
            QVERIFY2(worker.WaitStopped(), mode);
            Helper starting({QStringLiteral("--race"), QString::fromStdString(second.start)});
            QThread::msleep(500);  // gives it time to reach the tables (not needed to pass)
            QVERIFY2(worker.FinishThroughStops(), mode);
            QVERIFY(worker.Wait("DONE", 1000));
            QVERIFY2(starting.Finish(60000), starting.Errors().constData());
            QVERIFY(starting.Wait("READY", 1000));
        }
        CheckEveryTag(sf);
    }

    // In the program's error mode an engine text already in the user's words (a full disk
    // that holds up an index repair) reaches the user as it stands; any other keeps the
    // engine's code line before it.
    void fullDiskTextFromTheEngineShownAsItStands() {
        kj::KeepRunningOnEngineErrors(true);
        const uint8_t checking = TzCommon::SetErrorChecking(1);
        auto shown = [](uint16_t code, const std::string& text) {
            try {
                TzCommon::SetError(code, text);
            } catch (const TzCommon::ETzError& e) {
                return std::string(e.what());
            }
            return std::string("(nothing raised)");
        };
        const std::string danish = "Disken er fuld: /data/\r\nIndeksfilen /data/Poster.MDX skal";
        const std::string full = shown(TzErr::InsufficientDiskSpace, danish);
        const std::string other = shown(TzErr::DiskWriteError, "Error writing x [SeekAndWrite]");
        TzCommon::SetErrorChecking(checking);
        kj::KeepRunningOnEngineErrors(false);
        TzCommon::ClearErrorWord();
        QCOMPARE(full, danish);
        QVERIFY2(other.rfind("Error # 101", 0) == 0, other.c_str());
    }

    // Sager.dbf's header says one case fewer and its header one record longer, so the sizes
    // agree but every record stands one place off its index entry (as another program's
    // header write can leave it). With error checking on, the start and any walk of the
    // cases end within bounded time; the first box blames the table, not the index, in
    // Danish, every box has Danish words first, nothing halts and the file is left as it was.
    void aHeaderOneRecordOffIsToldAndNeverHangsAWalk() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        FillTables(sf);
        ResetEngine();
        const std::string file = sf.data + "Sager.dbf";
        std::string lying = Read(file);
        const int header = uint8_t(lying[8]) | uint8_t(lying[9]) << 8;
        const int record = uint8_t(lying[10]) | uint8_t(lying[11]) << 8;
        QCOMPARE(int(uint8_t(lying[4])), 5);
        lying[4] = char(4);
        lying[8] = char((header + record) & 0xFF);
        lying[9] = char((header + record) >> 8);
        Write(file, lying);
        Watchdog dog(60, "walking the cases over a header one record off");
        int halts = 0;
        QStringList shown;
        {
            HaltsCounted counted(true);
            const bool started = kjqt::Guarded([&] { Start(sf, "T3=" + sf.start); });
            for (int round = 0; round < 2 && started && data_; ++round)
                kjqt::Guarded([&] {
                    TzDs::TTzDbf& c = data_->SagsDbf;
                    for (c.First(); !c.Eof() && shown.size() < 50; c.Next())
                        shown << QString::fromStdString(Trim(c.FieldByName("sags_nr").AsString()));
                });
            Stop();
            halts = counted.halts;
        }
        ResetEngine();
        QCOMPARE(halts, 0);
        const QStringList told = responder_.Texts();
        qInfo() << "walked" << shown << "told" << told;
        QVERIFY2(!told.isEmpty(), "nothing was told");
        const QString words = told[0].section(QString::fromUtf8("Oplysninger til"), 0, 0);
        QVERIFY2(words.contains(QString::fromUtf8("Tabellen ") + QString::fromStdString(file) +
                                QString::fromUtf8(" passer ikke med sit indeks")),
                 qPrintable(told.join(" | ")));
        QVERIFY2(!words.contains(QStringLiteral("Error #")), qPrintable(told[0]));
        // A walk on the table the refused start closed is told in words too.
        for (const QString& text : told)
            QVERIFY2(text.indexOf(QString::fromUtf8("Oplysninger til")) > 0 &&
                         !text.startsWith(QString::fromStdString(file) + ": "),
                     qPrintable(text));
        QVERIFY2(Read(file) == lying, "Sager.dbf was changed");
    }

    // The employees' logical field "Kan rette." turned into a character field by another
    // program (the sizes stay as they were): the start tells it in Danish, naming the field
    // and that another program changed the table, the engine's text after the words; the
    // program does not halt and the table is left as it was.
    void aLogicalFieldMadeCharactersIsToldInDanish() {
        StartFolder sf;
        MakeFolder(sf);
        const std::string file = sf.data + "Bruger.dbf";
        std::string bytes = Read(file);
        const size_t at = bytes.find(std::string("INI_RET\0", 8));
        QVERIFY(at != std::string::npos && at < 32u * 40u);
        QCOMPARE(bytes[at + 11], 'L');
        bytes[at + 11] = 'C';
        Write(file, bytes);
        int halts = 0;
        {
            HaltsCounted counted(true);
            responder_.Clear();
            Start(sf, "T3=" + sf.start);
            Stop();
            halts = counted.halts;
        }
        ResetEngine();
        QCOMPARE(halts, 0);
        const QStringList told = responder_.Texts();
        QVERIFY2(told.size() == 1, qPrintable(told.join(" | ")));
        const QString words = told[0].section(QString::fromUtf8("Oplysninger til"), 0, 0);
        // The table is named by its file, never by the program's inner name for it.
        QVERIFY2(words.contains(QString::fromUtf8("Feltet 'Kan rette.' har en anden type i "
                                                  "tabellen ") +
                                QString::fromStdString(file) +
                                QString::fromUtf8(", end programmet bruger; tabellen er "
                                                  "sandsynligvis \u00e6ndret af et andet "
                                                  "program.")),
                 qPrintable(told[0]));
        QVERIFY2(!told[0].contains(QStringLiteral("BrugerDbf")), qPrintable(told[0]));
        QVERIFY2(!words.contains(QStringLiteral("Type mismatch")), qPrintable(told[0]));
        QVERIFY2(told[0].contains(QStringLiteral("Type mismatch for field 'Kan rette.'")),
                 qPrintable(told[0]));
        QVERIFY(Read(file) == bytes);
    }

    // "Genskab indeks" on a full disk: every index file stays as it was, one message names
    // the disk and says that nothing is lost, the tables are open again and the program goes
    // on (no halt); with room again the rebuild runs. An index that holds fewer tags than
    // its table names (a build cut short) is built whole at the next start, without a word.
    void rebuildOnAFullDiskKeepsEveryIndex() {
        kjtest::SmallDisk disk(16384);
        if (!disk.Mounted()) QSKIP(disk.Why().c_str());
        StartFolder sf;
        sf.data = disk.path() + "/SagsData/";
        MakeFolder(sf);
        const kj::TableSpec& posts = FillPostings(sf);
        QVERIFY(Start(sf, "T3=" + sf.start));
        const std::string mdx = sf.data + "Poster.MDX";
        const std::string before = Read(mdx);
        disk.FillLeaving(0);
        int halts = 0;
        TzCommon::SetHaltProc([&halts](int) { ++halts; });
        TzCommon::SetErrorChecking(1);
        responder_.Clear();
        QVERIFY(!data_->RebuildIndexes());
        TzCommon::SetErrorChecking(0);
        TzCommon::SetHaltProc(nullptr);
        QCOMPARE(halts, 0);
        QCOMPARE(responder_.Texts().size(), 1);
        const QString text = responder_.Texts()[0];
        qInfo() << "Genskab indeks on a full disk:" << text;
        QVERIFY2(text.startsWith(Q("Kunne ikke genskabe indeks for ")), qPrintable(text));
        QVERIFY2(text.contains(Q(sf.data + "Poster.dbf")), qPrintable(text));
        QVERIFY2(text.contains(Q("Disken er fuld: " + sf.data)), qPrintable(text));
        QVERIFY2(text.contains(U("intet er gået tabt")), qPrintable(text));
        QVERIFY(Read(mdx) == before);
        for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
        QVERIFY(data_->PostDbf.SetOrderToTag("POSTFNR"));
        disk.RemoveFiller();
        responder_.Clear();
        QVERIFY(data_->RebuildIndexes());
        QCOMPARE(responder_.Texts(), QStringList());
        Stop();
        // Poster.MDX cut short to two of its five tags: built whole at the next start.
        ResetEngine();
        {
            TzDs::TTzDbf f("Cut");
            f.SetDbfFileName(sf.data + posts.file);
            f.DbfFields() = posts.DbfFields();
            f.IndexList().assign(posts.tags.begin(), posts.tags.begin() + 4);
            f.CreateIndex = TzDs::ciAlways;
            f.ShowProgress = false;
            f.Open();
            QCOMPARE(TzNdx::TagCount(), 2);
            f.Close();
        }
        ResetEngine();
        responder_.Clear();
        QVERIFY(Start(sf, "T3=" + sf.start));
        QCOMPARE(responder_.Texts(), QStringList());
        QVERIFY(data_->PostDbf.SetOrderToTag("POSTFNR"));
        QCOMPARE(TzNdx::TagCount(), 5);
        Stop();
        ResetEngine();
        CheckEveryTag(sf);
    }

    // A start that must build a missing index on a full disk: one message, in Danish, that
    // names the data folder's disk and says nothing is lost; every table as it was.
    void startOnAFullDiskWithAnIndexMissing() {
        kjtest::SmallDisk disk(16384);
        if (!disk.Mounted()) QSKIP(disk.Why().c_str());
        StartFolder sf;
        sf.data = disk.path() + "/SagsData/";
        MakeFolder(sf);
        FillPostings(sf);
        tz::EraseFile(sf.data + "Poster.MDX");
        std::vector<std::string> before;
        for (const kj::TableSpec& t : kj::Tables())
            before.push_back(Read(FolderOf(t, sf) + t.file));
        const QString expected =
            Q("Kunne ikke initialisere datafiler: Disken er fuld: " + sf.data) +
            U("\r\nDer er ikke plads til at åbne datafilerne. Tabellerne er som før; intet er "
              "gået tabt.\r\nFrigør plads på disken, og start programmet igen.");
        // Room for the small files but not for the index (the engine's 227), then none at
        // all (a write that fails, 101).
        for (int64_t leaveKB : {64, 0}) {
            disk.FillLeaving(leaveKB);
            responder_.Clear();
            QVERIFY(!Start(sf, "T3=" + sf.start));
            Stop();
            ResetEngine();
            qInfo() << "Start-up on a full disk:" << responder_.Texts();
            QCOMPARE(responder_.Texts(), QStringList{expected});
            for (size_t i = 0; i < kj::Tables().size(); ++i) {
                const kj::TableSpec& t = kj::Tables()[i];
                QVERIFY2(Read(FolderOf(t, sf) + t.file) == before[i], t.file.c_str());
            }
            disk.RemoveFiller();
        }
        QVERIFY(Start(sf, "T3=" + sf.start));
        Stop();
        ResetEngine();
        CheckEveryTag(sf);
    }

    void reindexAndPackWithAnotherStationHoldingATable() {
        StartFolder sf;
        MakeFolder(sf);
        ResetEngine();
        QVERIFY(Start(sf, "T3=" + sf.start));
        for (const char* n : {"A", "B", "C"}) {
            data_->AjourInitials = "TST";
            data_->PostnrDbf.Append();
            data_->PostnrDbf.FieldByName("pst_nr").SetAsString(n);
            responder_.Answer(kIdYes);
            data_->PostnrDbf.Post();
        }
        {
            // Two tables held elsewhere: one message names both and says why.
            Station holder("--hold", sf.data + "Varer.dbf");
            Station holder2("--hold", sf.data + "Kunde.dbf");
            QVERIFY(holder.Ready() && holder2.Ready());
            responder_.Clear();
            QVERIFY(!data_->RebuildIndexes());
            QCOMPARE(responder_.Texts().size(), 1);
            const QString both = Q(sf.data + "Kunde.dbf, " + sf.data + "Varer.dbf:\r\n");
            QVERIFY2(responder_.Texts()[0].startsWith(Q("Kunne ikke genskabe indeks for ") + both),
                     qPrintable(responder_.Texts()[0]));
            QVERIFY(responder_.Texts()[0].contains(QStringLiteral("sharing violation")));
            const QString said = responder_.Texts()[0];
            for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
            QVERIFY(!data_->KundeDbf.Exclusive());
            QVERIFY(data_->KundeDbf.HideDeletedRecs);
            responder_.Clear();
            QVERIFY(!data_->PackTables());
            QCOMPARE(responder_.Texts().size(), 1);
            QVERIFY(responder_.Texts()[0].startsWith(Q("Kunne ikke pakke ") + both));
            // Nothing is lost by a pack left undone (after an archive, the cases were moved
            // already): the words say so, never "nothing was saved".
            for (const QString& text : {said, responder_.Texts()[0]}) {
                QVERIFY2(!text.contains(U("Intet er gemt")), qPrintable(text));
                QVERIFY2(text.contains(U("Ingen rækker er mistet")), qPrintable(text));
            }
            for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
        }
        data_->PostnrDbf.First();
        data_->PostnrDbf.Delete();
        responder_.Clear();
        QVERIFY(data_->RebuildIndexes());
        QVERIFY(data_->PackTables());
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(data_->PostnrDbf.RecCount(), 2);
        QVERIFY(data_->PostnrDbf.HideDeletedRecs);
        QVERIFY(data_->PostnrDbf.SetOrderToTag("POSTNR"));
        QVERIFY(data_->PostnrDbf.Find("C         "));
    }
};

// Helper stations started by the tests.
static int RunHelper(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    kjapptest::ResetEngine();
    kjqt::ScriptedResponder responder;
    kjqt::DialogService::Instance().SetResponder(&responder);
    std::unique_ptr<kj::TKJData> data;
    TzDs::TTzDbf holder("Holder");
    if (QString(argv[1]) == "--save-posting") {
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        if (!kj::OpenStartupData(*data, std::string("T3=") + argv[2], nullptr)) return 2;
        for (int i = 0; i < 4; ++i) responder.Answer(kjqt::mb::kIdYes);
        data->AjourInitials = "TST";
        CrashAtWrite(std::atol(argv[3]), [&] {
            data->PostDbf.Append();
            data->PostDbf.FieldByName("post_sag").SetAsString("KILL");
            data->PostDbf.FieldByName("post_tmu").SetAsString("T1");
            data->PostDbf.FieldByName("post_ans").SetAsString("TST");
            data->PostDbf.FieldByName("post_dato").SetAsDateTime(Db::Today());
            data->PostDbf.Post();
            data.reset();
            kj::FreeQelCom();
            Dbf4::CloseAll();
        });
        return 0;
    }
    if (QString(argv[1]) == "--write-paths") {
        kj::TQelCom q;
        q.ReadPaths(argv[2]);
        const std::string data = q.SagsDataSti;
        for (int i = 0, n = std::atoi(argv[3]); i < n; ++i) {
            q.SagsDataSti = data + (i % 2 ? "A/" : "");
            q.WritePaths(argv[2]);
        }
        return 0;
    }
    if (QString(argv[1]) == "--rebuild" || QString(argv[1]) == "--pack") {
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        if (!kj::OpenStartupData(*data, std::string("T3=") + argv[2], nullptr)) return 2;
        const bool done =
            QString(argv[1]) == "--rebuild" ? data->RebuildIndexes() : data->PackTables();
        for (const QString& t : responder.Texts()) std::fprintf(stderr, "%s\n", qPrintable(t));
        std::fputs(done ? "DONE\n" : "FAILED\n", stdout);
        return 0;
    }
    if (QString(argv[1]) == "--race") {
        responder.AnswerCancel();
        responder.Answer(kIdYes);
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        if (!kj::OpenStartupData(*data, std::string("T3=") + argv[2], nullptr)) {
            for (const QString& t : responder.Texts()) std::fprintf(stderr, "%s\n", qPrintable(t));
            return 2;
        }
        for (TzDs::TTzDbf* t : data->MainCursors())
            if (!t->Active()) {
                std::fprintf(stderr, "not open: %s\n", t->Name().c_str());
                return 3;
            }
        for (const QString& t : responder.Texts())
            std::fprintf(stderr, "asked: %s\n", qPrintable(t));
        std::fputs("READY\n", stdout);
        return 0;
    }
    if (QString(argv[1]) == "--station") {
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        if (!kj::OpenStartupData(*data, std::string("T3=") + argv[2], nullptr)) return 2;
    } else {
        holder.SetDbfFileName(argv[2]);
        holder.CreateIfNotFound = false;
        holder.CreateIndex = TzDs::ciNever;
        holder.Open();
    }
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    char buffer[16];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return 0;
}

int main(int argc, char** argv) {
    if ((argc == 3 && (QString(argv[1]) == "--station" || QString(argv[1]) == "--hold" ||
                       QString(argv[1]) == "--race" || QString(argv[1]) == "--rebuild" ||
                       QString(argv[1]) == "--pack")) ||
        (argc == 4 &&
         (QString(argv[1]) == "--save-posting" || QString(argv[1]) == "--write-paths")))
        return RunHelper(argc, argv);
    kjqt::KjApplication app(argc, argv);
    DataFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "data_files_test.moc"
