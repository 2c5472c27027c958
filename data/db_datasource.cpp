#include "data/db_datasource.h"

#include <algorithm>

#include "data/db_dataset.h"
#include "storage/scope_exit.h"

namespace Db {

// ---- TDataSource -------------------------------------------------------------------------

TDataSource::TDataSource(const std::string& name) : name_(name) {}

TDataSource::~TDataSource() {
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    OnUpdateData = nullptr;
    while (!links_.empty()) links_.back()->SetDataSource(nullptr);
    if (dataSet_) dataSet_->RemoveDataSource(this);
    dataSet_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet_ == dataSet) return;
    if (dataSet_) dataSet_->RemoveDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_) dataSet_->AddDataSource(this);
    UpdateState();
}

void TDataSource::SetEnabled(bool on) {
    enabled_ = on;
    UpdateState();
}

void TDataSource::Edit() {
    if (autoEdit_ && state_ == dsBrowse && dataSet_) dataSet_->Edit();
}

void TDataSource::UpdateState() {
    SetState(enabled_ && dataSet_ ? dataSet_->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState value) {
    if (state_ == value) return;
    TDataSetState prior = state_;
    state_ = value;
    NotifyDataLinks(deUpdateState, 0);
    OnStateChange(*this);
    if (prior == dsInactive) OnDataChange(*this, nullptr);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (state_ == dsInactive) return;
    NotifyDataLinks(event, info);
    switch (event) {
        case deFieldChange:
            OnDataChange(*this, reinterpret_cast<TField*>(info));
            break;
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            OnDataChange(*this, nullptr);
            break;
        case deUpdateRecord:
            OnUpdateData(*this);
            break;
        default:
            break;
    }
}

void TDataSource::NotifyDataLinks(TDataEvent event, intptr_t info) {
    // A link may detach itself or another while being told; tell only those still here.
    std::vector<TDataLink*> snapshot = links_;
    for (TDataLink* link : snapshot)
        if (std::find(links_.begin(), links_.end(), link) != links_.end())
            link->DataEvent(event, info);
}

void TDataSource::AddLink(TDataLink* link) {
    links_.push_back(link);
    if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    if (dataSet_) dataSet_->UpdateBufferCount();
}

// ---- TDataLink ---------------------------------------------------------------------------

TDataLink::~TDataLink() {
    if (dataSource_) {
        dataSource_->RemoveLink(this);
        dataSource_ = nullptr;
    }
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (dataSource_ == source) return;
    if (dataSource_) dataSource_->RemoveLink(this);
    dataSource_ = source;
    if (dataSource_) dataSource_->AddLink(this);
    UpdateState();
}

TDataSet* TDataLink::DataSet() const {
    return dataSource_ ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool on) {
    readOnly_ = on;
    UpdateState();
}

int TDataLink::ActiveRecord() const {
    TDataSet* ds = DataSet();
    if (!active_ || !ds || dataSource_->State() == dsSetKey) return 0;
    return ds->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int value) {
    TDataSet* ds = DataSet();
    if (!active_ || !ds || dataSource_->State() == dsSetKey) return;
    int index = value + firstRecord_;
    // Only buffered records can be made active; anything else would leave the window.
    if (index < 0 || index >= std::max(ds->recordCount_, 1)) return;
    ds->activeRecord_ = index;
}

void TDataLink::SetBufferCount(int value) {
    if (value < 1) value = 1;
    if (bufferCount_ == value) return;
    bufferCount_ = value;
    if (active_) UpdateRange();
    if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
    if (active_) UpdateRange();
}

int TDataLink::RecordCount() const {
    TDataSet* ds = DataSet();
    if (!active_ || !ds) return 0;
    if (dataSource_->State() == dsSetKey) return 1;
    return std::min(ds->recordCount_, bufferCount_);
}

bool TDataLink::Edit() {
    if (!readOnly_ && dataSource_) dataSource_->Edit();
    return editing_;
}

void TDataLink::UpdateRecord() {
    tz::ScopeExit guard([this] { updating_ = false; });
    updating_ = true;
    UpdateData();
}

void TDataLink::UpdateState() {
    TDataSetState state = dataSource_ ? dataSource_->State() : dsInactive;
    SetActive(state != dsInactive);
    SetEditing(IsEditMode(state) && !readOnly_);
}

void TDataLink::SetActive(bool value) {
    if (active_ == value) return;
    active_ = value;
    if (value)
        UpdateRange();
    else
        firstRecord_ = 0;
    ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
    if (editing_ == value) return;
    editing_ = value;
    EditingChanged();
}

void TDataLink::UpdateRange() {
    TDataSet* ds = DataSet();
    if (!ds) return;
    int min = ds->activeRecord_ - bufferCount_ + 1;
    if (min < 0) min = 0;
    int max = ds->bufferCount_ - bufferCount_;
    if (max > ds->activeRecord_) max = ds->activeRecord_;
    if (max < 0) max = 0;
    if (firstRecord_ < min) firstRecord_ = min;
    if (firstRecord_ > max) firstRecord_ = max;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!active_) return;
    switch (event) {
        case deFieldChange:
        case deRecordChange:
            if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
            break;
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange: {
            int count = 0;
            if (dataSource_->State() != dsSetKey) {
                TDataSet* ds = DataSet();
                int active = ds->activeRecord_;
                int first = firstRecord_ + static_cast<int>(info);
                int last = first + bufferCount_ - 1;
                if (active > last)
                    count = active - last;
                else if (active < first)
                    count = active - first;
                firstRecord_ = first + count;
                UpdateRange();
            }
            if (event == deDataSetChange)
                DataSetChanged();
            else if (event == deDataSetScroll)
                DataSetScrolled(count);
            else
                LayoutChanged();
            break;
        }
        case deUpdateRecord:
            UpdateRecord();
            break;
        case deCheckBrowseMode:
            CheckBrowseMode();
            break;
        case deFocusControl:
            FocusControl(reinterpret_cast<TField*>(info));
            break;
        default:
            break;
    }
}

}  // namespace Db
