// Data sources and data links: how controls (grids, edits, windows' own watchers) follow a
// dataset. A data source connects any number of data links to one dataset and passes on its
// data events; a data link turns them into the notifications below and sees its own slice
// of the dataset's buffer window (BufferCount rows starting at its first record).
// Single-threaded. A dataset, data source and link may be destroyed in any order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/db_events.h"
#include "data/db_types.h"

namespace Db {

class TDataSet;
class TDataLink;
class TField;

class TDataSource {
  public:
    explicit TDataSource(const std::string& name = {});
    ~TDataSource();
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    const std::string& Name() const { return name_; }
    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* dataSet);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool on) { autoEdit_ = on; }
    TDataSetState State() const { return state_; }
    // Puts the dataset into edit state when AutoEdit is on and it is browsing.
    void Edit();

    Event<TDataSource&> OnStateChange;
    Event<TDataSource&, TField*> OnDataChange;  // field nullptr: the whole record
    Event<TDataSource&> OnUpdateData;

  private:
    friend class TDataSet;
    friend class TDataLink;
    void DataEvent(TDataEvent event, intptr_t info);
    void UpdateState();
    void SetState(TDataSetState value);
    void NotifyDataLinks(TDataEvent event, intptr_t info);
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);

    std::string name_;
    TDataSet* dataSet_ = nullptr;
    bool enabled_ = true;
    bool autoEdit_ = true;
    TDataSetState state_ = dsInactive;
    std::vector<TDataLink*> links_;
};

class TDataLink {
  public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* source);
    TDataSet* DataSet() const;
    bool Active() const { return active_; }
    bool Editing() const { return editing_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);

    // The link's rows: 0 .. RecordCount()-1 of the dataset's buffer window, starting at its
    // first record. Setting ActiveRecord makes that row the dataset's active record, so its
    // fields can be read; the caller restores the previous value afterwards.
    int ActiveRecord() const;
    void SetActiveRecord(int value);
    int BufferCount() const { return bufferCount_; }
    void SetBufferCount(int value);
    int RecordCount() const;
    int FirstRecord() const { return firstRecord_; }

    bool Edit();          // through the data source's AutoEdit; answers Editing()
    void UpdateRecord();  // UpdateData, guarded against the field changes it causes

  protected:
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int distance) {
        (void)distance;
        DataSetChanged();
    }
    virtual void EditingChanged() {}
    virtual void FocusControl(TField* field) { (void)field; }
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField* field) { (void)field; }
    virtual void UpdateData() {}

  private:
    friend class TDataSource;
    friend class TDataSet;
    void DataEvent(TDataEvent event, intptr_t info);
    void UpdateState();
    void SetActive(bool value);
    void SetEditing(bool value);
    void UpdateRange();

    TDataSource* dataSource_ = nullptr;
    bool active_ = false;
    bool editing_ = false;
    bool readOnly_ = false;
    bool updating_ = false;
    int bufferCount_ = 1;
    int firstRecord_ = 0;
};

}  // namespace Db
