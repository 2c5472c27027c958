// TKJData: the one data module. It owns every table component of the application (live
// tables, their second cursors, scratch tables, archives and a spare), their data sources
// and field objects, the record rules and calculated fields, the current update initials
// and the services the windows call: opening, creating and upgrading the data files,
// rebuilding indexes, packing, resetting cursors, going to a record number.
// One instance per run, created by the program after the engine's start-up; GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/db_datasource.h"
#include "data/tz_dbf.h"

namespace kj {

class TOpstartForm;
class TQelCom;
struct TableSpec;

// Update stamp of a table with record rules (see kj_rules.cpp).
struct StampRule {
    const char* component;
    const char* created;
    const char* changed;
    const char* initials;
    const char* key;       // upper-cased on change; nullptr for none
    const char* question;  // UTF-8; nullptr: no question
};

class TKJData {
  public:
    TKJData();
    ~TKJData();
    TKJData(const TKJData&) = delete;
    TKJData& operator=(const TKJData&) = delete;

    // ---- Table components ----
    TzDs::TTzDbf SagsDbf{"SagsDbf"}, SagsBufDbf{"SagsBufDbf"};
    TzDs::TTzDbf StatusDbf{"StatusDbf"}, statusBufDbf{"statusBufDbf"};
    TzDs::TTzDbf BrugerDbf{"BrugerDbf"}, BrugerBufDbf{"BrugerBufDbf"};
    TzDs::TTzDbf VareDbf{"VareDbf"}, VareBufDbf{"VareBufDbf"};
    TzDs::TTzDbf vareGDbf{"vareGDbf"}, vareGBufDbf{"vareGBufDbf"};
    TzDs::TTzDbf PostnrDbf{"PostnrDbf"}, PostnrBufDbf{"PostnrBufDbf"};
    TzDs::TTzDbf PostDbf{"PostDbf"}, PostBufDbf{"PostBufDbf"};
    TzDs::TTzDbf KundeDbf{"KundeDbf"}, KundeBufDbf{"KundeBufDbf"};
    TzDs::TTzDbf InteressentDbf{"InteressentDbf"};
    TzDs::TTzDbf TimerDbf{"TimerDbf"}, tmpPost{"tmpPost"}, tmpStat{"tmpStat"};
    TzDs::TTzDbf SagAfslut{"SagAfslut"}, posterAfslut{"posterAfslut"}, statusAfslut{"statusAfslut"};
    TzDs::TTzDbf TzDbf1{"TzDbf1"};

    // Every component by name (nullptr when unknown), and the data source of one.
    TzDs::TTzDbf* Table(const std::string& component);
    Db::TDataSource* DataSource(const std::string& name);
    // The 14 tables of CloseAllTables, in their order.
    std::vector<TzDs::TTzDbf*> MainCursors();
    // The seven tables RebuildIndexes and PackTables work on, in their order.
    std::vector<TzDs::TTzDbf*> MainTables();

    // ---- State ----
    std::string AjourInitials;
    bool IniRet = false;
    uint8_t TableLanguage = 0;
    int Margins[4] = {1000, 1000, 1000, 1000};
    int MinMargins[4] = {600, 600, 600, 600};
    uint8_t Orientation = 0;
    std::string PathSetupFileName;
    uint8_t SkiftISager = 0;
    std::string LastTimeSheetItem;
    TOpstartForm* Splash = nullptr;  // hidden around questions while the program starts

    // ---- Update initials and login (kj_ajour.cpp) ----
    std::string GetAjourInitials();
    std::string AskAjourInitials();

    // ---- Record rules (kj_rules.cpp) ----
    bool Confirm(const std::string& text);
    static const std::vector<StampRule>& StampRules();
    // Money: Total, Moms and IAlt of a posting row in ten-thousandths.
    struct PostingAmounts {
        int64_t total = 0, moms = 0, ialt = 0;
    };
    static PostingAmounts CalcPosting(const std::string& dk, int64_t antal, int64_t pris,
                                      int64_t rabat, int64_t momsRate);

    // ---- Data files (kj_data_files.cpp) ----
    void OpenDataFiles();
    void OpenTables(const std::string& dataFolder, const std::string& systemFolder);
    void OpenTable(TzDs::TTzDbf& table, const std::string& fileName);
    void CloseAllTables();
    void OpenAllTables();
    bool ReindexTable(TzDs::TTzDbf& table);
    bool RebuildIndexes();
    bool PackTable(TzDs::TTzDbf& table);
    bool PackTables();
    void ResetTable(TzDs::TTzDbf& table);
    void ResetTables();
    void GotoRecNo(TzDs::TTzDbf& table, int32_t n);
    // The case shown in the main window's header is no longer stored (another station
    // deleted it): says so as the header's save does, cancels `row` (a row of that case being
    // stored) and gives true. Every save of a row of the case asks this first.
    bool RefuseDeletedCase(Db::TDataSet* row);
    // A changed row of `t` that another station has deleted meanwhile: says so and gives
    // true (the caller cancels the change). Every register's save asks this.
    bool RefuseDeletedRow(TzDs::TTzDbf& t);
    std::string StdInteressentFileName() const;
    std::string HandForSagsTypeFileName() const;
    std::string StdSagsTypeFileName() const;
    std::string StdHandFileName() const;
    int OrientationCode() const { return Orientation == 0 ? 1 : 2; }
    // Orientation codes: 1 upright, 2 sideways.
    void SetOrientation(int code) { Orientation = code == 2 ? 1 : 0; }
    void SagsDbfBeforeMakeIndex(TzDs::TTzDataSet&, const std::string& name, bool&);
    void SagsDbfAfterMakeIndex(TzDs::TTzDataSet&, const std::string&);
    // Whether this station can have a scratch table of the system folder (Timer.dbf) to
    // itself; when another program holds it (a second station started on the same
    // start-up folder) it says so and gives false.
    bool ScratchTableFree(TzDs::TTzDbf& table);
    // The scratch-table files this station uses (in the system folder).
    const std::string& TPostFile() const { return tpostFile_; }
    const std::string& TStatFile() const { return tstatFile_; }

  private:
    void BuildComponents();
    void BuildFields(TzDs::TTzDbf& table, const TableSpec& spec, bool labelled);
    void AttachHandlers();
    void AttachStampRule(const StampRule& rule);
    void CalcPostingFields(Db::TDataSet& ds);
    void SagsDbfCalcFields(Db::TDataSet& ds);
    void BrugerDbfCalcFields(Db::TDataSet& ds);
    void KundeDbfCalcFields(Db::TDataSet& ds);
    void InteressentDbfCalcFields(Db::TDataSet& ds);
    // The text of `field` in the row of `table` whose key (on `tag`) equals key; found
    // tells whether the row exists. The cursor's order and row are given back.
    std::string LookUp(TzDs::TTzDbf& table, const std::string& tag, const std::string& key,
                       const std::string& field, bool& found);
    // The same with a reader that takes what it needs from the row found.
    bool LookUpRow(TzDs::TTzDbf& table, const std::string& tag, const std::string& key,
                   const std::function<void()>& read);

    bool HasCurrentLayout(const std::string& table, const char* newField);
    bool NeedsUpgrade(const std::string& table, const char* newField);
    void UpgradeTable(TzDs::TTzDbf& table, const std::string& dataFolder, const char* file,
                      const char* backup, const char* newField);
    std::string ScratchFile(const std::string& folder, const std::string& base);
    void WriteDefaultLists();
    void FindIniRet();
    std::string RepeatWithIndexRetry(TzDs::TTzDbf& table, bool pack);

    std::map<std::string, TzDs::TTzDbf*> tables_;
    std::map<std::string, std::unique_ptr<Db::TDataSource>> sources_;
    std::string tpostFile_, tstatFile_;
};

// The one data module (nullptr before the program made it).
TKJData* KJData();
void SetKJData(TKJData* data);

// A stored amount in ten-thousandths. One that no money count can hold (another program may
// write it) counts as 0, and the user is told which field of which row, once per field and
// row, from the event loop; a row of the main window's copy of a case's postings is named as
// the shared postings table's row it came from. Every stored amount is read through here.
int64_t StoredMoney(const Db::TField& field);
// The same for a value read from the table file itself: `field` names it, `rec` is its row
// in the table file `where`.
int64_t StoredMoney(double value, const Db::TField& field, const std::string& where, int32_t rec);
// The reading itself: false (value 0, why the reason) for an amount that cannot be read.
bool ReadStoredMoney(const Db::TField& field, int64_t& value, std::string& why);
// Adds an amount to a sum of amounts; a sum beyond what a money count holds stays at the
// largest one of its sign instead of turning over.
void AddMoney(int64_t& sum, int64_t add);
// Tells that the total of a posting (its calculated field `total`) is too large for a money
// count, so that it counts as 0, as StoredMoney tells of an amount.
void TellTotalTooLarge(const Db::TField& total);
// Tells of an amount that cannot be read, as StoredMoney does (why: the reason).
void TellUnreadAmount(const Db::TField& field, const std::string& where, int32_t rec,
                      const std::string& why);

}  // namespace kj
