// The table components: TTzCDataSet (dBASE-style commands on the dataset's own work area),
// TTzFileDataSet (opening by file name with creation from DbfFields, opening or building the
// table's multiple-index file, insert/delete/recall/post under the engine's locks with retry
// events, index searches) and TTzDbf, the component the data module holds per table cursor.
// Single-threaded; every operation selects the component's own work area first.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/tz_dataset.h"
#include "storage/dbf4.h"

namespace TzDs {

class TTzCDataSet : public TTzDataSet {
  public:
    explicit TTzCDataSet(const std::string& name = {}) : TTzDataSet(name) {}

    bool ReadOnly = false;

    void AppendRec();
    void AppendFrom(const std::string& fileName);
    void DeleteRec();
    bool Pack();
    void ReplaceRec();
    bool Zap();
    bool AssignUserPointer(uint8_t*& pointer, int size);
    void ClearRecord();
    bool Deleted();
    int FieldCountOfTable();
    void Go(int32_t n);
    bool IsFilterOn();
    bool IsWhileOn();
    int32_t RecCount();
    // field: in 0 = any field, n = only field n; out the field of the hit, 0 = none.
    void Search(const std::string& text, uint8_t& field, bool fromFirst);
    // An expression that does not compile leaves no filter (WHILE condition) and raises
    // ETzError with the engine's message; it never ends the program.
    void SetFilterTo(const std::string& expression);
    void SetRelationTo(Dbf4::RelationProc relation);
    void SetWhileTo(const std::string& expression);
    void GoBottom() { Last(); }
    void GoTop() { First(); }
    void Skip(int n) { MoveBy(n); }
    bool AtEof() const { return Eof(); }
    std::string GetCField(const std::string& name);
    bool GetLField(const std::string& name);
    bool Locate(const std::string& keyFields, const std::vector<std::string>& keyValues,
                Db::TLocateOptions options) override;

  protected:
    bool GetCanModify() const override { return !ReadOnly; }
    // Field look-up with the type check of the readers; 0 after reporting the error.
    int CheckedField(const char* operation, const std::string& name, char kind);
    void SetCondition(const char* operation, const std::string& expression, bool isWhile);
};

enum TCreateIndexType { ciNotFound = 0, ciAlways = 1, ciVerifyHeader = 2, ciNever = 3 };

using TTzLockFailedEvent = Db::Event<TTzDataSet&, bool&>;
using TBeforeMakeIndexEvent = Db::Event<TTzDataSet&, const std::string&, bool&>;
using TAfterMakeIndexEvent = Db::Event<TTzDataSet&, const std::string&>;

class TTzFileDataSet : public TTzCDataSet {
  public:
    explicit TTzFileDataSet(const std::string& name = {});
    ~TTzFileDataSet() override;

    bool AutoFixRecCount = false;
    TCreateIndexType CreateIndex = ciNotFound;
    bool CreateIfNotFound = true;
    bool Exclusive() const { return exclusive_; }
    void SetExclusive(bool on);
    std::vector<std::string>& IndexList() { return indexList_; }
    Dbf4::TranslateProc OemToAnsiProc = nullptr;
    Dbf4::TranslateProc AnsiToOemProc = nullptr;

    TBeforeMakeIndexEvent OnBeforeMakeIndex;
    TAfterMakeIndexEvent OnAfterMakeIndex;
    TTzLockFailedEvent OnALockFailedOnInsert;
    TTzLockFailedEvent OnRLockFailedOnDelete;
    TTzLockFailedEvent OnRLockFailedOnPost;
    TTzLockFailedEvent OnRLockFailedOnRestore;

    bool ALock();
    bool FLock();
    bool RLock();
    bool UnLock();
    bool Find(const std::string& key);
    bool FindExact(const std::string& key);
    bool FindNear(const std::string& key);
    void Reindex();
    // Holds the index read count of the table (on) or lets it go (off); nests with the
    // engine's own per-step counting, so a walk inside one hold counts itself in once.
    // While it is held, another station's index change waits: hold it only for a bounded
    // run of steps and let go when IndexWritersWaiting says a station waits. Taking it
    // answers false, holding nothing, when the count could not be taken (a failure reported
    // with error checking off): the steps then count themselves in as before.
    bool HoldIndexRead(bool on);
    bool IndexWritersWaiting();
    std::string CurrentTag();
    std::string Mdx();
    bool SetOrderToTag(const std::string& tag);
    // Clears the delete mark of the current record under a record lock.
    void Recall();

    bool Locate(const std::string& keyFields, const std::vector<std::string>& keyValues,
                Db::TLocateOptions options) override;

    // A TTzBlobStream over a memo field of the active record.
    std::unique_ptr<Db::TStream> CreateBlobStream(Db::TField& field,
                                                  Db::TBlobStreamMode mode) override;

  protected:
    bool OpenTable(const std::string& fileName) override;
    void AppendWithLock() override;
    void DeleteWithLock() override;
    void RestoreWithLock() override;
    void ReplaceWithLock() override;

  private:
    enum class LockKind { Append, Record };
    // Takes the lock, runs the command and releases the area's locks on every path (a
    // command that raises included); an append that fails after its record reached the
    // table still sets appendedRecNo_. A refused lock is retried while the event asks for
    // it, and otherwise reported ("Lock failed [word]" or the event's answer) and ends the
    // operation with the silent abort.
    template <class Command>
    void WithLock(const char* areaName, LockKind kind, const TTzLockFailedEvent& event,
                  const char* word, Command command);
    void OpenIndexes();
    void ShowCouldNotCreate();
    void OpenOrBuildIndexes();
    bool SearchKey(const char* operation, const std::string& key, int how);

    bool exclusive_ = false;
    std::vector<std::string> indexList_;
};

// The memo of one field of the active record as a byte stream, through the memo file's BLOB
// access (one open BLOB per work area, so one stream per component at a time).
//  1. Read mode reads the memo whose block number the active buffer holds; a blank memo
//     (block 0) reads as empty.
//  2. Write mode appends a new memo to the memo file (holding the memo-file lock until the
//     stream is freed) and puts its block number into the active buffer at once.
//  3. Freeing a written stream puts the dataset into edit state and copies the active buffer
//     into the work area; the record reaches the table with the next Post. A write stream
//     that received no byte leaves the field blank (block 0), never pointing at the unwritten
//     block; the field counts as changed when it held a memo before.
//  4. A changed field sends the field-changed event (modified record, OnChange).
// Texts of tlOem tables are translated between OEM and ANSI unless they hold a zero byte.
class TTzBlobStream : public Db::TStream {
  public:
    TTzBlobStream(Db::TField& field, Db::TBlobStreamMode mode);
    ~TTzBlobStream() override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

  private:
    uint8_t* Slot() const;  // the field's block number in the active buffer, or nullptr

    Db::TField& field_;
    TTzFileDataSet& dataSet_;
    Db::TBlobStreamMode mode_;
    bool modified_ = false;
    bool open_ = false;     // the memo file's BLOB is open for this stream
    int32_t oldBlock_ = 0;  // the field's block number before the stream
    int64_t written_ = 0;
};

class TTzDbf : public TTzFileDataSet {
  public:
    explicit TTzDbf(const std::string& name = {}) : TTzFileDataSet(name) {}
    ~TTzDbf() override { Destroying(); }
};

// Holds the index read counts of some tables across a long walk, so that a step in index
// order does not count itself in and out of each shared semaphore file again. Another
// station's index change waits while the counts are held: the walk calls GiveWay at every
// step, which looks about every millisecond whether a station waits to change one of the
// indexes and then lets go until it has had its turn. Release and Take let go and count in
// again around anything that may run other work (window messages, dialogs). Tables that
// are closed, unindexed or open exclusively are passed over.
class TIndexReadHold {
  public:
    explicit TIndexReadHold(std::vector<TTzDbf*> tables);
    ~TIndexReadHold();
    TIndexReadHold(const TIndexReadHold&) = delete;
    TIndexReadHold& operator=(const TIndexReadHold&) = delete;

    void GiveWay();
    void Release();  // never raises
    void Take();

  private:
    bool WritersWaiting();

    std::vector<TTzDbf*> tables_;
    std::vector<char> held_;
    std::chrono::steady_clock::time_point nextCheck_{};
};

}  // namespace TzDs
