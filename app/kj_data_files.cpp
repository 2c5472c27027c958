// The data module's file services: finding the data folder, opening every table (creating
// missing tables and index files), the upgrades of older layouts with their backups (three
// live tables and two archive twins), the default list files, rebuilding indexes, packing,
// resetting cursors and going to a record number.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/prog_dlg.h"
#include "app/qel_com.h"
#include "data/tz_user_text.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

namespace kj {

namespace {

constexpr uint16_t kFirstIndexError = 212;  // index errors: the index file is rebuilt
constexpr uint16_t kSharingViolation = TzErr::SharingViolation;
constexpr int kScratchStations = 100;  // per-station scratch names TPost1 .. TPost99

std::string MdxOf(const std::string& file) {
    return TzCommon::ForceExtension(file, "mdx");
}

bool Exists(const std::string& file) {
    return tz::Exists(file);
}

// Records of a table file that are not marked deleted, counted from its bytes (the whole
// records the file holds); -1 when unreadable.
int64_t LiveRecordsInFile(const std::string& file) {
    std::FILE* f = std::fopen(tz::ResolveName(file).c_str(), "rb");
    if (!f) return -1;
    unsigned char head[12];
    int64_t live = -1;
    if (std::fread(head, 1, sizeof head, f) == sizeof head) {
        const int header = head[8] | (head[9] << 8);
        const int record = head[10] | (head[11] << 8);
        std::vector<char> row(static_cast<size_t>(record > 0 ? record : 1));
        if (record > 0 && std::fseek(f, header, SEEK_SET) == 0) {
            live = 0;
            while (std::fread(row.data(), 1, row.size(), f) == row.size())
                if (row[0] != '*') ++live;
        }
    }
    std::fclose(f);
    return live;
}

bool SameSize(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(tz::ResolveName(a).c_str(), &sa) == 0 &&
           ::stat(tz::ResolveName(b).c_str(), &sb) == 0 && sa.st_size == sb.st_size;
}

// Erases a file and checks it is gone.
bool Erase(const std::string& file) {
    if (!Exists(file)) return true;
    tz::EraseFile(file);
    return !Exists(file);
}

// Copies and checks the copy is complete.
bool CopyChecked(const std::string& from, const std::string& to) {
    return TzUtils::CopyFile(from, to) && SameSize(from, to);
}

class UpgradeFailed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Whether a table file has the named field, read in a work area of its own without its
// index; nothing when the table itself cannot be opened. Error checking is off; the
// caller's work area is selected again.
std::optional<bool> TableFileHasField(const std::string& file, const std::string& field) {
    const int caller = Dbf4::CurrentWorkArea();
    Dbf4::Select(0);
    std::optional<bool> has;
    if (TzCommon::ErrorWord() == 0) {
        Dbf4::Use(file + " ALIAS *LAYOUT");
        if (TzCommon::ErrorWord() == 0 && Dbf4::Current()) has = false;
        for (int n = 1; has && n <= Dbf4::FieldCount(); ++n)
            if (TzUtils::AnsiUpper(TzCommon::AllTrim(Dbf4::Field(n))) == TzUtils::AnsiUpper(field))
                has = true;
        if (Dbf4::Current()) Dbf4::CloseArea();
    }
    Dbf4::Select(caller);
    TzCommon::ClearErrorWord();
    return has;
}

// The missing levels of a folder, made for as long as a folder dialog shows and removed
// again afterwards as far as they are still empty.
class FolderForDialog {
  public:
    explicit FolderForDialog(const std::string& path) {
        QString p = QDir::cleanPath(QString::fromLocal8Bit(NativePath(path).c_str()));
        for (; !p.isEmpty() && p != QStringLiteral("/") && !QDir(p).exists();
             p = QFileInfo(p).path())
            made_.push_back(p);
        if (!made_.empty()) QDir().mkpath(made_.front());
    }
    ~FolderForDialog() {
        for (const QString& p : made_) QDir().rmdir(p);  // the innermost first
    }
    FolderForDialog(const FolderForDialog&) = delete;
    FolderForDialog& operator=(const FolderForDialog&) = delete;

  private:
    std::vector<QString> made_;
};

std::string DataFolderOf(const TQelCom& q) {
    const std::string d = TzUtils::TrimRight(q.SagsDataSti);
    return d.empty() ? d : WithDelim(d);
}

// Stations that start at the same moment open the data folder one at a time: the first
// creates the missing tables and index files (or rebuilds an interrupted index, or
// upgrades a table) while the others wait, and they then find every file whole. The turn
// is a lock on the first byte of the start-up file in the data folder; a station that
// dies gives it up with its process. A station that cannot have the file (a folder it may
// not write) or waits longer than kGateWaitMs goes on without its turn. A rebuild or pack
// of every table takes the same turn, so a station starting meanwhile waits for it instead
// of finding the tables held exclusively.
class StartupGate {
  public:
    explicit StartupGate(const std::string& folder) {
        QElapsedTimer waited;
        waited.start();
        if (!OpenFile(folder + kGateFile, waited)) return;
        while (!(held_ = file_.Lock(0, 1) == 0) && waited.elapsed() < kGateWaitMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(10);
        }
    }
    ~StartupGate() {
        if (held_) file_.Unlock(0, 1);
        file_.Close();
    }
    StartupGate(const StartupGate&) = delete;
    StartupGate& operator=(const StartupGate&) = delete;

  private:
    // The start-up file opened shared, made when missing. Another station that is making it
    // holds it to itself for a moment (however long its process is kept from running), so
    // a refusal is tried again until the turn's own time is up.
    bool OpenFile(const std::string& name, const QElapsedTimer& waited) {
        for (;;) {
            uint16_t rc = file_.Open(name, tz::Access::ReadWrite, tz::ShareMode::DenyNone);
            if (rc == TzErr::FileNotFound) rc = file_.Create(name, tz::ShareMode::DenyNone);
            if (rc == 0) return true;
            if (rc != TzErr::FileNotFound && rc != kSharingViolation) return false;
            if (waited.elapsed() >= kGateWaitMs) return false;
            QThread::msleep(1);
        }
    }

    static constexpr const char* kGateFile = "Opstart.lck";
    static constexpr qint64 kGateWaitMs = 120000;
    tz::File file_;
    bool held_ = false;
};

// What a full disk kept from being done.
enum class FullDiskStop { Rebuild, Pack, Start };

// Why a rebuild, a pack (which rebuilds first) or the opening of the data files at start-up
// stopped on a full disk, for the user: which disk, and that the tables are as they were.
std::string DiskFullReason(const std::string& table, FullDiskStop stop) {
    const std::string folder = TzCommon::FSplit(table).dir;
    const char* what =
        stop == FullDiskStop::Pack ? "\r\nDer er ikke plads til at pakke tabellen."
        : stop == FullDiskStop::Rebuild
            ? "\r\nDer er ikke plads til at genskabe indeksfilen. Tabellen og dens indeks er "
              "som før; intet er gået tabt."
            : "\r\nDer er ikke plads til at åbne datafilerne. Tabellerne er som før; intet er "
              "gået tabt.";
    return Ansi("Disken er fuld: ") + (folder.empty() ? table : folder) + Ansi(what) +
           Ansi(stop == FullDiskStop::Start
                    ? "\r\nFrigør plads på disken, og start programmet igen."
                    : "\r\nFrigør plads på disken, og prøv igen.");
}

// Opening a table stopped with the engine's error: on a full disk (a missing index that
// could not be built, a file that could not be made) the start-up ends saying so, in the
// user's words, instead of with the engine's text.
void ThrowIfDiskFull(const std::string& table) {
    const uint16_t code = TzCommon::ErrorWord();
    if (tz::NoRoom(code)) throw std::runtime_error(DiskFullReason(table, FullDiskStop::Start));
}

// Opening a table refused for a damaged header (the engine's 210 and 211; the open changed
// nothing in the file): the start-up ends naming the table in the user's words, the
// engine's text after it for whoever mends the file.
void ThrowIfDamaged(const std::string& table, uint16_t code, const std::string& engineText) {
    if (code != TzErr::NotADbaseFile && code != TzErr::InvalidFieldType) return;
    throw std::runtime_error(
        Ansi("Tabellen ") + table +
        Ansi(" er beskadiget: dens hoved passer ikke til posterne i filen. Tabellen er ikke "
             "åbnet og ikke ændret. Hent tabellen fra en sikkerhedskopi.\r\n\r\n") +
        engineText);
}

}  // namespace

void TKJData::OpenTable(TzDs::TTzDbf& table, const std::string& fileName) {
    table.CreateIfNotFound = true;
    table.CreateIndex = TzDs::ciNotFound;
    table.SetDbfFileName(fileName);
    table.TableLanguage = TableLanguage == 0 ? TzDs::tlOem : TzDs::tlAnsi;
    TzCommon::ErrorCheckingOff off;
    const bool missing = !Exists(fileName);
    for (;;) {
        TzCommon::ClearErrorWord();
        try {
            table.SetActive(true);
        } catch (const std::exception& e) {
            ThrowIfDiskFull(fileName);
            ThrowIfDamaged(fileName, TzCommon::ErrorWord(), e.what());
            // The table file could not be made: the component has told why (a full disk,
            // a folder that cannot be written); the open of the missing file adds nothing.
            if (missing && !Exists(fileName)) throw Db::EAbort();
            throw;
        }
        if (TzCommon::ErrorWord() == 0) return;
        if (Splash) Splash->hide();
        const int answer = kjqt::DialogService::Instance().MessageBox(
            kjqt::FromAnsi(Ansi("Fejl under åbning af datafil\r\nprøver igen ?")),
            QStringLiteral("Morvane Vaktor"), kjqt::mb::kYesNo | kjqt::mb::kIconInformation);
        if (Splash) Splash->show();
        if (answer == kjqt::mb::kIdNo) return;
        table.SetActive(false);
        tz::EraseFile(MdxOf(fileName));
        table.CreateIndex = TzDs::ciNotFound;
    }
}

void TKJData::CloseAllTables() {
    for (TzDs::TTzDbf* t : MainCursors()) t->SetActive(false);
}

void TKJData::OpenAllTables() {
    for (TzDs::TTzDbf* t : MainCursors()) t->SetActive(true);
}

// Whether the table already has the field of its current layout, looked at through the
// spare component. When that open fails on the table's index (changes interrupted by a
// station that died, or a damaged file) while the table itself opens, the fields are read
// without the index: the table's own open that follows rebuilds the index, as it does for
// every other table.
bool TKJData::HasCurrentLayout(const std::string& t, const char* newField) {
    TzDbf1.SetDbfFileName(t);
    TzDbf1.CreateIfNotFound = true;
    TzDbf1.CreateIndex = TzDs::ciVerifyHeader;
    TzDbf1.TableLanguage = TableLanguage == 0 ? TzDs::tlOem : TzDs::tlAnsi;
    TzCommon::ErrorCheckingOff off;
    TzCommon::ClearErrorWord();
    try {
        TzDbf1.SetActive(true);
    } catch (const TzCommon::ETzError& e) {
        const uint16_t code = TzCommon::ErrorWord();
        const std::string engineText = e.what();
        TzDbf1.SetActive(false);
        const std::optional<bool> has = TableFileHasField(t, newField);
        if (!has) {
            ThrowIfDamaged(t, code, engineText);
            throw;
        }
        return *has;
    }
    const bool current =
        TzDbf1.Active() && TzDbf1.FieldProps() && TzDbf1.FieldProps()->FieldNo(newField) > 0;
    TzDbf1.SetActive(false);
    return current;
}

// Whether the table lacks the field of its current layout. A missing index file alone says
// nothing about the layout (it was erased by hand, or never made): the table's own fields
// are read then, and the table's open that follows builds the index.
bool TKJData::NeedsUpgrade(const std::string& t, const char* newField) {
    if (Exists(MdxOf(t))) return !(HasCurrentLayout(t, newField) && Exists(MdxOf(t)));
    const std::optional<bool> has = TableFileHasField(t, newField);
    return !has || !*has;
}

// Upgrade of a table of an older layout: the old file goes to the backup, the table is
// created afresh from its lists and the old rows appended. Every step is checked; on a
// mismatch the backup is put back and the start-up ends with the reason.
void TKJData::UpgradeTable(TzDs::TTzDbf& table, const std::string& d, const char* file,
                           const char* backup, const char* newField) {
    const std::string t = d + file, b = d + backup, tMdx = MdxOf(t), bMdx = MdxOf(b);
    if (!NeedsUpgrade(t, newField)) return;
    const bool hadMdx = Exists(tMdx);
    auto restore = [&](const std::string& why) {
        table.SetActive(false);
        Erase(t);
        Erase(tMdx);
        const bool back = CopyChecked(b, t) && (!hadMdx || CopyChecked(bMdx, tMdx));
        throw UpgradeFailed(Ansi("Opgradering af ") + t + Ansi(" mislykkedes: ") + why +
                            (back ? Ansi("\r\nDen gamle tabel er lagt tilbage fra ") + b
                                  : Ansi("\r\nDen gamle tabel ligger i ") + b));
    };
    if (!CopyChecked(t, b))
        throw UpgradeFailed(Ansi("Opgradering af ") + t +
                            Ansi(" mislykkedes: kunne ikke kopiere til ") + b);
    if (hadMdx && !CopyChecked(tMdx, bMdx))
        throw UpgradeFailed(Ansi("Opgradering af ") + t +
                            Ansi(" mislykkedes: kunne ikke kopiere til ") + bMdx);
    const int64_t rows = LiveRecordsInFile(b);
    if (!Erase(t))  // in use elsewhere: nothing was changed, the table stays as it is
        throw UpgradeFailed(Ansi("Opgradering af ") + t + Ansi(" mislykkedes: kunne ikke slette ") +
                            t +
                            Ansi(", den er i brug af andre.\r\nTabellen er ikke ændret; den "
                                 "opgraderes ved en opstart, hvor ingen andre bruger den."));
    if (hadMdx && !Erase(tMdx)) restore(Ansi("kunne ikke slette ") + tMdx);
    table.SetDbfFileName(t);
    table.CreateIfNotFound = true;
    table.CreateIndex = TzDs::ciVerifyHeader;
    table.TableLanguage = TableLanguage == 0 ? TzDs::tlOem : TzDs::tlAnsi;
    TzCommon::ErrorCheckingOff off;
    try {
        TzCommon::ClearErrorWord();
        table.SetActive(true);
        if (TzCommon::ErrorWord() != 0 || !table.Active())
            restore(Ansi("kunne ikke oprette tabellen"));
        while (!table.FLock()) Wait(0);
        TzCommon::ClearErrorWord();
        table.AppendFrom(b);
        const uint16_t appendError = TzCommon::ErrorWord();
        table.Reindex();
        const uint16_t reindexError = TzCommon::ErrorWord();
        table.UnLock();
        if (appendError != 0 || reindexError != 0)
            restore(Ansi("fejl ") + std::to_string(appendError ? appendError : reindexError) + " " +
                    TzCommon::LastMessage());
        table.SetActive(false);
        // Both files counted alike: the rows not marked deleted (whether deleted rows were
        // carried over, marked, or left out).
        const int64_t copied = LiveRecordsInFile(t);
        if (copied != rows)
            restore(Ansi("antal poster ") + std::to_string(copied) + Ansi(" efter kopiering, ") +
                    std::to_string(rows) + Ansi(" før"));
    } catch (const UpgradeFailed&) {
        throw;
    } catch (const std::exception& e) {
        restore(e.what());
    }
}

// The scratch table of this station: the base name unless another station that shares
// the system folder holds it open; then the first free numbered name.
std::string TKJData::ScratchFile(const std::string& folder, const std::string& base) {
    for (int n = 0; n < kScratchStations; ++n) {
        const std::string stem = folder + base + (n == 0 ? std::string() : std::to_string(n));
        const std::string dbf = stem + ".dbf", mdx = stem + ".MDX";
        const uint16_t a = Exists(dbf) ? tz::EraseFile(dbf) : 0;
        if (a == kSharingViolation) continue;
        const uint16_t m = Exists(mdx) ? tz::EraseFile(mdx) : 0;
        if (m == kSharingViolation) continue;
        if (!Exists(dbf)) return dbf;
    }
    throw std::runtime_error(Ansi("Kunne ikke oprette arbejdsfilen ") + folder + base +
                             ".dbf: den er i brug af andre");
}

bool TKJData::ScratchTableFree(TzDs::TTzDbf& table) {
    const std::string file = table.DbfFileName();
    if (table.Active() || file.empty() || !Exists(file)) return true;
    tz::File probe;
    if (probe.Open(file, tz::Access::ReadOnly, tz::ShareMode::Exclusive) != kSharingViolation)
        return true;  // free, or a failure that the open itself reports
    ShowMsg(Ansi("Arbejdsfilen ") + file +
            Ansi(" er i brug af et andet program.\r\nHver station skal have sin egen "
                 "opstartsmappe (T3=<mappe>) med samme datamappe."));
    return false;
}

void TKJData::WriteDefaultLists() {
    auto write = [](const std::string& file, std::vector<const char*> lines) {
        if (Exists(file)) return;
        kjqt::TMVFil f;
        if (!f.Rewrite(file)) return;
        for (const char* l : lines) f.WriteLine(Ansi(l));
        f.Close();
    };
    const std::string d = DataFolderOf(*QelCom());
    write(d + "StdHand.dbs", {"Standard hændelse, automatisk oprettet"});
    write(d + "StdInteressent.dbs",
          {"Ejer:", "Sælger:", "Køber:", "Advokat sælger:", "Advokat køber:", "Ejendomsmægler:",
           "Bank:", "Kreditforening:", "Øvrige:"});
    write(StdSagsTypeFileName(),
          {"Administration", "Udstykning", "ArealoverførselS", "ArealoverførselU", "Sammenlægning",
           "Inddragelse", "Ejendomsberigtig", "Udskillelse", "Teknisk ændring", "Andet"});
    write(HandForSagsTypeFileName(), {});
}

void TKJData::FindIniRet() {
    IniRet = false;
    if (!BrugerDbf.Active()) return;
    BrugerDbf.First();
    while (!BrugerDbf.Eof()) {
        if (BrugerDbf.FieldByName("ini_ret").AsBoolean()) {
            IniRet = true;
            break;
        }
        BrugerDbf.Next();
    }
    BrugerDbf.First();
}

void TKJData::OpenDataFiles() {
    TQelCom* q = QelCom();
    if (!q) throw std::runtime_error("qelcom ikke tildelt");
    auto& dialogs = kjqt::DialogService::Instance();
    if (!Exists(DataFolderOf(*q) + "Sager.dbf")) {
        const std::string start = TzUtils::TrimRight(q->SagsDataSti).empty()
                                      ? WithDelim(q->MorvaneSti) + "SagsData/"
                                      : q->SagsDataSti;
        if (Splash) Splash->hide();
        std::string chosen;
        {
            // The proposed folder exists while the dialog shows, so that the dialog opens
            // in it and choosing at once takes it (a missing folder would open the dialog
            // in the current one); it is made for good only when the user says Yes below.
            FolderForDialog proposed(start);
            chosen = kjqt::ToAnsi(dialogs.Folder(kjqt::FromAnsi(Ansi("Vælg mappe til datafiler")),
                                                 kjqt::FromAnsi(NativePath(start))));
        }
        if (!TzUtils::TrimRight(chosen).empty()) {
            q->SagsDataSti = WithDelim(TzUtils::TrimRight(chosen));
            q->WritePaths(PathSetupFileName);
        }
    }
    if (!Exists(DataFolderOf(*q) + "Sager.dbf")) {
        if (Splash) Splash->hide();
        if (!dialogs.YesNo(kjqt::FromAnsi("Skal datafiler oprettes i mappen " + q->SagsDataSti),
                           QStringLiteral("Morvane Vaktor"))) {
            QCoreApplication::exit(0);
            Db::Abort();
        }
    }
    if (Splash) Splash->show();
    if (TzUtils::TrimRight(q->SagsDataSti).empty())
        q->SagsDataSti = WithDelim(q->MorvaneSti) + "SagsData/";
    const std::string d = DataFolderOf(*q), s = WithDelim(TzUtils::TrimRight(q->Zorbo1Sti));
    if (!tz::DirExists(d)) QDir().mkpath(QString::fromLocal8Bit(NativePath(d).c_str()));
    StartupGate turn(d);
    OpenTables(d, s);
    std::vector<TzDs::TTzDbf*> open = MainCursors();
    open.insert(open.end(), {&InteressentDbf, &tmpPost, &tmpStat});
    for (TzDs::TTzDbf* t : open)  // no station works without one of its tables
        if (!t->Active()) throw std::runtime_error(Ansi("kunne ikke åbne ") + t->DbfFileName());
    WriteDefaultLists();
    FindIniRet();
    for (int i = 0; i < 4; ++i) {
        Margins[i] = 1000;
        MinMargins[i] = 600;
    }
    Orientation = 0;
}

// Every table of OpenDataFiles in its order, the upgrades among them.
void TKJData::OpenTables(const std::string& d, const std::string& s) {
    OpenTable(InteressentDbf, d + "Interessent.dbf");
    OpenTable(KundeDbf, d + "Kunde.dbf");
    OpenTable(KundeBufDbf, d + "Kunde.dbf");
    if (Exists(d + "Poster.dbf")) UpgradeTable(PostDbf, d, "Poster.dbf", "PostBak.Dbf", "post_pri");
    OpenTable(PostDbf, d + "Poster.dbf");
    OpenTable(TimerDbf, s + "Timer.dbf");
    TimerDbf.SetActive(false);
    // The scratch tables are this station's alone: open exclusively, they need no locks
    // and no index semaphore, and another station that shares the system folder finds
    // them in use and takes its own.
    tpostFile_ = ScratchFile(s, "TPost");
    tmpPost.SetExclusive(true);
    OpenTable(tmpPost, tpostFile_);
    OpenTable(PostBufDbf, d + "Poster.dbf");
    // The archive twins follow the live tables' layout: an older one is upgraded alike.
    if (Exists(d + "AfsluttedePoster.dbf"))
        UpgradeTable(posterAfslut, d, "AfsluttedePoster.dbf", "AfslPostBak.Dbf", "post_pri");
    OpenTable(posterAfslut, d + "AfsluttedePoster.dbf");
    posterAfslut.SetActive(false);
    OpenTable(PostnrDbf, d + "PostBy.dbf");
    OpenTable(PostnrBufDbf, d + "PostBy.dbf");
    OpenTable(vareGDbf, d + "VarerG.dbf");
    OpenTable(vareGBufDbf, d + "VarerG.dbf");
    if (Exists(d + "Varer.dbf")) UpgradeTable(VareDbf, d, "Varer.dbf", "VareBak.Dbf", "tmu_gr");
    OpenTable(VareDbf, d + "Varer.dbf");
    OpenTable(VareBufDbf, d + "Varer.dbf");
    OpenTable(BrugerDbf, d + "Bruger.dbf");
    OpenTable(BrugerBufDbf, d + "Bruger.dbf");
    OpenTable(StatusDbf, d + "Status.dbf");
    tstatFile_ = ScratchFile(s, "TStat");
    tmpStat.SetExclusive(true);
    OpenTable(tmpStat, tstatFile_);
    OpenTable(statusBufDbf, d + "Status.dbf");
    OpenTable(statusAfslut, d + "AfsluttedeStatus.dbf");
    statusAfslut.SetActive(false);
    if (Exists(d + "Sager.dbf")) UpgradeTable(SagsDbf, d, "Sager.dbf", "SagsBak.Dbf", "sag_matnr");
    OpenTable(SagsDbf, d + "Sager.dbf");
    OpenTable(SagsBufDbf, d + "Sager.dbf");
    if (Exists(d + "AfsluttedeSager.dbf"))
        UpgradeTable(SagAfslut, d, "AfsluttedeSager.dbf", "AfslSagsBak.Dbf", "sag_matnr");
    OpenTable(SagAfslut, d + "AfsluttedeSager.dbf");
    SagAfslut.SetActive(false);
}

// One reindex (or reindex and pack) of a table opened exclusively, tried twice: a failure
// with an index error deletes the index file before the second try. The table is left
// closed, shared, with deleted rows hidden and its index checked at the next open, and
// error checking as it was, whatever happened. The reason of a failure; empty on success.
std::string TKJData::RepeatWithIndexRetry(TzDs::TTzDbf& table, bool pack) {
    tz::ScopeExit restore([&table] {
        try {
            table.SetActive(false);
        } catch (...) {
        }
        table.SetExclusive(false);
        table.CreateIndex = TzDs::ciVerifyHeader;
        table.HideDeletedRecs = true;
    });
    TzCommon::ErrorCheckingOff off;
    std::string message;
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint16_t code = 0;
        try {
            TzCommon::ClearErrorWord();
            if (pack) table.HideDeletedRecs = false;
            table.SetExclusive(true);
            table.SetActive(true);
            if (TzCommon::ErrorWord() == 0 && table.Active()) table.Reindex();
            if (pack && TzCommon::ErrorWord() == 0 && table.Active()) table.Pack();
            code = TzCommon::ErrorWord();
            if (code == 0 && table.Active()) return {};
            message = TzCommon::LastMessage();
        } catch (const std::exception& e) {
            code = TzCommon::ErrorWord();
            message = e.what();
        }
        try {
            table.SetActive(false);
        } catch (...) {
        }
        // A full disk: the failed build left the index as it was; erasing it would only
        // leave a table without an index that cannot be built either.
        if (tz::NoRoom(code))
            return DiskFullReason(table.DbfFileName(),
                                  pack ? FullDiskStop::Pack : FullDiskStop::Rebuild);
        if (code >= kFirstIndexError) tz::EraseFile(MdxOf(table.DbfFileName()));
    }
    return message.empty() ? Ansi("ukendt fejl") : message;
}

namespace {

struct Failure {
    std::string file, reason;
};

// A rebuild or pack that could not be done loses and changes no row (a pack run after an
// archive comes after the cases were moved); what it says instead of "nothing was saved",
// and how to run it again.
struct Undone {
    const char* what;
    const char* data;
    const char* again;
};
const Undone kNotReindexed{"Kunne ikke genskabe indeks for ",
                           "Ingen rækker er mistet eller ændret; indeksfilen er ikke bygget "
                           "op igen.",
                           "vælg Funktion > Genskab indeks igen"};
const Undone kNotPacked{"Kunne ikke pakke ",
                        "Ingen rækker er mistet: de slettede rækker er blot ikke fjernet fra "
                        "filen endnu.",
                        "vælg Funktion > Fjern slettede poster igen"};

// One message for every table a rebuild or pack could not do: the tables, then why.
void ShowFailures(const Undone& undone, const std::vector<Failure>& failed) {
    if (failed.empty()) return;
    std::string files, reasons;
    for (const Failure& f : failed) {
        files += (files.empty() ? "" : ", ") + f.file;
        if (reasons.find(f.reason) == std::string::npos) reasons += "\r\n" + f.reason;
    }
    TzDs::Situation situation;
    situation.data = Ansi(undone.data);
    situation.again = Ansi(undone.again);
    ShowMsg(TzDs::InUserWords(Ansi(undone.what) + files + ":" + reasons, situation));
}

}  // namespace

bool TKJData::ReindexTable(TzDs::TTzDbf& table) {
    const std::string reason = RepeatWithIndexRetry(table, false);
    ShowFailures(kNotReindexed, reason.empty()
                                    ? std::vector<Failure>{}
                                    : std::vector<Failure>{{table.DbfFileName(), reason}});
    return reason.empty();
}

bool TKJData::PackTable(TzDs::TTzDbf& table) {
    const std::string reason = RepeatWithIndexRetry(table, true);
    ShowFailures(kNotPacked, reason.empty() ? std::vector<Failure>{}
                                            : std::vector<Failure>{{table.DbfFileName(), reason}});
    return reason.empty();
}

namespace {
// Opens the tables again and closes the progress window on every path.
struct ReopenAll {
    TKJData& data;
    bool progress;
    ~ReopenAll() {
        try {
            data.OpenAllTables();
        } catch (const std::exception& e) {
            ShowMsg(Ansi("Kunne ikke åbne datafilerne igen: ") + e.what());
        }
        if (progress) ProgressClose();
    }
};
}  // namespace

bool TKJData::RebuildIndexes() {
    std::vector<std::string> lines;
    for (TzDs::TTzDbf* t : MainTables()) lines.push_back(t->DbfFileName());
    ProgressOpen("GenSkaber Indeks for datafilerne", lines, 10);
    ReopenAll reopen{*this, true};
    std::vector<Failure> failed;
    {
        StartupGate turn(DataFolderOf(*QelCom()));  // a station starting now waits for us
        CloseAllTables();
        int position = 2;
        for (TzDs::TTzDbf* t : MainTables()) {
            ProgressStep(position++);
            const std::string reason = RepeatWithIndexRetry(*t, false);
            if (!reason.empty()) failed.push_back({t->DbfFileName(), reason});
        }
    }
    ProgressStep(8);
    ShowFailures(kNotReindexed, failed);
    return failed.empty();
}

bool TKJData::PackTables() {
    ResetTables();
    ReopenAll reopen{*this, false};
    std::vector<Failure> failed;
    {
        StartupGate turn(DataFolderOf(*QelCom()));
        CloseAllTables();
        for (TzDs::TTzDbf* t : MainTables()) {
            const std::string reason = RepeatWithIndexRetry(*t, true);
            if (!reason.empty()) failed.push_back({t->DbfFileName(), reason});
        }
    }
    ShowFailures(kNotPacked, failed);
    return failed.empty();
}

void TKJData::ResetTable(TzDs::TTzDbf& table) {
    if (!table.Active()) return;
    TzCommon::ErrorCheckingOff off;
    // Dropping the filters moves back onto the record through the index; a damaged index
    // raises there even with checking off. The reset goes on regardless: it runs before the
    // maintenance commands too, and "Genskab indeks" is what mends such an index.
    auto step = [](const std::function<void()>& body) {
        try {
            body();
        } catch (const TzCommon::ETzError&) {
        }
    };
    step([&table] { table.SetRelationTo(nullptr); });
    step([&table] { table.SetFilterTo(""); });
    step([&table] { table.SetWhileTo(""); });
}

void TKJData::ResetTables() {
    for (TzDs::TTzDbf* t : MainCursors()) ResetTable(*t);
}

void TKJData::GotoRecNo(TzDs::TTzDbf& table, int32_t n) {
    if (n >= 1 && n <= table.RecCount()) table.Go(n);
}

bool TKJData::RefuseDeletedCase(Db::TDataSet* row) {
    TzDs::TTzDbf& s = SagsDbf;
    if (!s.Active() || s.IsEmpty() || s.State() == Db::dsInsert) return false;
    const int32_t rec = s.RecNo();
    const std::string number =
        TzUtils::AnsiUpper(TzUtils::TrimRight(s.FieldByName("SAGS_NR").AsString()));
    // Read anew through the second cursor: the header's own may hold an edit.
    TzDs::TTzDbf& buf = SagsBufDbf;
    const int32_t back = buf.RecNo();
    bool stored = false;
    if (rec >= 1 && rec <= buf.RecCount()) {
        buf.Go(rec);
        stored =
            buf.RecNo() == rec && !buf.Deleted() &&
            TzUtils::AnsiUpper(TzUtils::TrimRight(buf.FieldByName("SAGS_NR").AsString())) == number;
    }
    GotoRecNo(buf, back);
    if (stored) return false;
    ShowMsg(Ansi(kCaseDeletedText));
    if (row && (row->State() == Db::dsEdit || row->State() == Db::dsInsert)) row->Cancel();
    return true;
}

std::string TKJData::StdInteressentFileName() const {
    return DataFolderOf(*QelCom()) + "StdInteressent.dbs";
}
std::string TKJData::HandForSagsTypeFileName() const {
    return DataFolderOf(*QelCom()) + "HandForSagsType.dbs";
}
std::string TKJData::StdSagsTypeFileName() const {
    return DataFolderOf(*QelCom()) + "StdSagsType.dbs";
}
std::string TKJData::StdHandFileName() const {
    return DataFolderOf(*QelCom()) + "StdHand.dbs";
}

void TKJData::SagsDbfBeforeMakeIndex(TzDs::TTzDataSet&, const std::string& name, bool&) {
    ShowIndexing(name);
}

void TKJData::SagsDbfAfterMakeIndex(TzDs::TTzDataSet&, const std::string&) {
    HideIndexing();
}

}  // namespace kj
