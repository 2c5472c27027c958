// TDBGridModel: the rows of the grid's data link as a table model, its columns bound to the
// dataset's fields.
#include "data/db_dataset.h"
#include "ui/active_record.h"
#include "ui/application.h"
#include "ui/db_grid.h"
#include "ui/db_grid_link.h"
#include "ui/text_codec.h"

namespace kjqt {

// ---- Model -----------------------------------------------------------------------------------

TDBGridModel::TDBGridModel(TDBGrid& grid)
    : grid_(grid), link_(std::make_unique<TGridDataLink>(*this)) {}

TDBGridModel::~TDBGridModel() {
    kjqt::Guarded([this] { link_->SetDataSource(nullptr); });  // nothing leaves a destructor
}

Db::TDataLink& TDBGridModel::Link() {
    return *link_;
}

Db::TDataSet* TDBGridModel::DataSet() const {
    return link_->Active() ? link_->DataSet() : nullptr;
}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

void TDBGridModel::ReadRow(int row) {
    QStringList& texts = texts_[row];
    texts.clear();
    WithActiveRecord(*link_, row, [&] {
        for (const auto& c : columns_)
            texts << (c->Field ? FromAnsi(c->Field->DisplayText()) : QString());
    });
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columnCount()) return {};
    const TColumn& c = *columns_[index.column()];
    switch (role) {
        case Qt::DisplayRole:
            return index.row() < static_cast<int>(texts_.size())
                       ? texts_[index.row()].value(index.column())
                       : QVariant();
        case Qt::EditRole: {
            QString text;
            WithActiveRecord(*link_, index.row(), [&] {
                if (c.Field) text = FromAnsi(c.Field->Text());
            });
            return text;
        }
        case Qt::TextAlignmentRole: {
            if (c.Alignment) return QVariant::fromValue(c.Alignment | Qt::AlignVCenter);
            if (!c.Field) return {};
            switch (c.Field->Alignment()) {
                case Db::taRightJustify:
                    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
                case Db::taCenter:
                    return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
                default:
                    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
            }
        }
        default:
            return {};
    }
}

QString TDBGridModel::Indicator(int row) const {
    if (row != link_->ActiveRecord()) return QString();
    Db::TDataSet* ds = DataSet();
    if (ds && ds->State() == Db::dsInsert) return QStringLiteral("*");
    if (ds && ds->State() == Db::dsEdit) return QStringLiteral("I");
    return QStringLiteral("\u25B6");
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section < rows_ ? Indicator(section) : QVariant();
    if (section < 0 || section >= columnCount()) return {};
    const TColumn& c = *columns_[section];
    if (!c.Title.isEmpty()) return c.Title;
    return c.Field ? FromAnsi(c.Field->DisplayLabel()) : FromAnsi(c.FieldName);
}

bool TDBGridModel::CanEdit(int column) const {
    Db::TDataSet* ds = DataSet();
    if (!ds || !grid_.AllowEditing || grid_.ReadOnly() || column < 0 || column >= columnCount())
        return false;
    const TColumn& c = *columns_[column];
    return c.Field && !c.ReadOnly && !c.Field->ReadOnly() && !c.Field->Calculated() &&
           ds->CanModify() && !link_->ReadOnly();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (CanEdit(index.column())) f |= Qt::ItemIsEditable;
    return f;
}

bool TDBGridModel::BeginEdit(int column) {
    if (!CanEdit(column)) return false;
    return link_->Edit();
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    writeRefused_ = false;
    if (role != Qt::EditRole || !index.isValid() || index.row() != link_->ActiveRecord())
        return false;
    TColumn& c = *columns_[index.column()];
    bool stored = false;
    writeRefused_ = !Guarded([&] {
        if (value.toString() == data(index, Qt::EditRole).toString()) {
            stored = true;
            return;
        }
        if (!BeginEdit(index.column())) return;
        c.Field->SetText(ToAnsi(value.toString()));
        stored = true;
    });
    return stored;
}

void TDBGridModel::BindColumns() {
    Db::TDataSet* ds = DataSet();
    if (!ds && defaultColumns_) {
        beginResetModel();
        columns_.clear();
        defaultColumns_ = false;
        rows_ = 0;
        texts_.clear();
        endResetModel();
        return;
    }
    if (ds && columns_.empty()) {
        beginResetModel();
        for (Db::TField* f : ds->Fields()) {
            if (!f->Visible()) continue;
            auto c = std::make_unique<TColumn>();
            c->FieldName = f->FieldName();
            columns_.push_back(std::move(c));
        }
        defaultColumns_ = true;
        rows_ = 0;
        texts_.clear();
        endResetModel();
    }
    for (auto& c : columns_) c->Field = ds ? ds->FindField(c->FieldName) : nullptr;
    grid_.ApplyWidths();
}

void TDBGridModel::ColumnsChanged() {
    beginResetModel();
    defaultColumns_ = false;
    rows_ = 0;
    texts_.clear();
    endResetModel();
    BindColumns();
    Sync();
}

void TDBGridModel::Sync() {
    int n = link_->Active() ? link_->RecordCount() : 0;
    if (n > rows_) {
        beginInsertRows({}, rows_, n - 1);
        rows_ = n;
        texts_.resize(n);
        endInsertRows();
    } else if (n < rows_) {
        beginRemoveRows({}, n, rows_ - 1);
        rows_ = n;
        texts_.resize(n);
        endRemoveRows();
    }
    for (int r = 0; r < rows_; ++r) ReadRow(r);
    if (rows_ > 0 && columnCount() > 0) {
        emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1), {Qt::DisplayRole});
        emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
    }
    grid_.SyncCurrent();
}

}  // namespace kjqt
