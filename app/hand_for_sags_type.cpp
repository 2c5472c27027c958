#include "app/hand_for_sags_type.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_util.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

namespace kj {

namespace {

constexpr int kRowHeight = 18;
const char* const kHelp =
    "Hændelserne oprettes uden dato, så de står først blandt sagens hændelser. Pil ned på "
    "den sidste sagstype tilføjer en ny type, og pil ned på den sidste hændelse tilføjer en "
    "ny række.";

// Cells of the event column are edited in a combo box offering the standard events.
class EventDelegate : public QStyledItemDelegate {
  public:
    EventDelegate(THandForSagsType& form) : QStyledItemDelegate(&form), form_(form) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* box = new QComboBox(parent);
        box->setObjectName(QStringLiteral("edtHand"));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(form_.StdEvents);
        box->installEventFilter(&form_);
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        box->setCurrentIndex(-1);
        box->setEditText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText(), Qt::EditRole);
    }

  private:
    THandForSagsType& form_;
};

// Names of types are edited in place; Up while editing cancels the edit.
class TypeDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* e = QStyledItemDelegate::createEditor(parent, option, index);
        e->setObjectName(QStringLiteral("edtTypeName"));
        return e;
    }
    bool eventFilter(QObject* editor, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Up) {
            auto* w = static_cast<QWidget*>(editor);
            emit closeEditor(w, QAbstractItemDelegate::RevertModelCache);
            return true;
        }
        return QStyledItemDelegate::eventFilter(editor, event);
    }
};

bool Blank(const QString& s) {
    return s.trimmed().isEmpty();
}

}  // namespace

bool LoadListFile(const std::string& fileName, std::vector<std::string>& lines) {
    lines.clear();
    QFile f(QString::fromStdString(fileName));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    std::string line;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const char c = all[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return true;
}

THandForSagsType::THandForSagsType() : QDialog(nullptr) {
    setObjectName(QStringLiteral("HandForSagsType"));
    setWindowTitle(Q("Sagstype standard hændelser"));
    auto* box = new QVBoxLayout(this);
    Help = new QLabel(Q(kHelp), this);
    Help->setWordWrap(true);
    box->addWidget(Help);
    auto* row = new QHBoxLayout;
    edtSagsTyper = new QTreeWidget(this);
    edtSagsTyper->setObjectName(QStringLiteral("edtSagsTyper"));
    edtSagsTyper->setColumnCount(1);
    edtSagsTyper->setHeaderLabels({Q("Sagstyper")});
    edtSagsTyper->setRootIsDecorated(false);
    edtSagsTyper->setColumnWidth(0, 237);
    edtSagsTyper->setFixedWidth(260);
    edtSagsTyper->setEditTriggers(QAbstractItemView::NoEditTriggers);
    edtSagsTyper->setItemDelegate(new TypeDelegate(edtSagsTyper));
    edtSagsTyper->installEventFilter(this);
    row->addWidget(edtSagsTyper);
    edtHandForSagsType = new QTableWidget(0, 2, this);
    edtHandForSagsType->setObjectName(QStringLiteral("edtHandForSagsType"));
    edtHandForSagsType->verticalHeader()->setVisible(false);
    edtHandForSagsType->verticalHeader()->setDefaultSectionSize(kRowHeight);
    edtHandForSagsType->horizontalHeader()->setStretchLastSection(true);
    edtHandForSagsType->setItemDelegateForColumn(1, new EventDelegate(*this));
    // Selecting a cell of the event column opens its combo box.
    edtHandForSagsType->setEditTriggers(QAbstractItemView::AllEditTriggers);
    edtHandForSagsType->installEventFilter(this);
    row->addWidget(edtHandForSagsType, 1);
    box->addLayout(row, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    OKBtn = new QPushButton(Q(" OK "), this);
    SlutBtn = new QPushButton(Q(" Slut "), this);
    OKBtn->setAutoDefault(false);
    SlutBtn->setAutoDefault(false);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(SlutBtn, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(OKBtn);
    buttons->addWidget(SlutBtn);
    box->addLayout(buttons);
    Status = new QStatusBar(this);
    box->addWidget(Status);
    connect(edtSagsTyper, &QTreeWidget::currentItemChanged, this, [this] {
        if (!loading_) Guarded([this] { edtSagsTyperClick(); });
    });
    connect(edtSagsTyper, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
        if (!loading_) Guarded([this, item] { edtSagsTyperEdited(item); });
    });
    resize(688, 453);
}

THandForSagsType::~THandForSagsType() = default;

void THandForSagsType::InitGrid() {
    edtHandForSagsType->setHorizontalHeaderLabels({Q("Nr."), Q("Hændelse")});
    edtHandForSagsType->setColumnWidth(0, 30);
}

int THandForSagsType::EventRows() const {
    return edtHandForSagsType->rowCount();
}

QString THandForSagsType::EventText(int row) const {
    QTableWidgetItem* item = edtHandForSagsType->item(row - 1, 1);
    return item ? item->text() : QString();
}

void THandForSagsType::SetEventText(int row, const QString& text) {
    edtHandForSagsType->item(row - 1, 1)->setText(text);
}

void THandForSagsType::AddEventRow() {
    const int r = edtHandForSagsType->rowCount();
    edtHandForSagsType->insertRow(r);
    auto* nr = new QTableWidgetItem(QString::number(r + 1));
    nr->setFlags(Qt::ItemIsEnabled);
    edtHandForSagsType->setItem(r, 0, nr);
    edtHandForSagsType->setItem(r, 1, new QTableWidgetItem);
}

void THandForSagsType::LoadCaseTypes(const std::string& fileName) {
    caseTypeFile_ = fileName;
    std::vector<std::string> lines;
    LoadListFile(fileName, lines);
    loading_ = true;
    edtSagsTyper->clear();
    for (const std::string& l : lines) {
        auto* item = new QTreeWidgetItem(edtSagsTyper, {kjqt::FromAnsi(l)});
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    loading_ = false;
}

void THandForSagsType::OpenTypeEvents(const std::string& fileName) {
    typeEventFile_ = fileName;
    Ini = std::make_unique<kjqt::TMemIniFile>(fileName);
}

void THandForSagsType::LoadStdEvents(const std::string& fileName) {
    stdEventFile_ = fileName;
    std::vector<std::string> lines;
    LoadListFile(fileName, lines);
    StdEvents.clear();
    for (const std::string& l : lines) StdEvents << kjqt::FromAnsi(l);
}

bool THandForSagsType::ShowDialog() {
    CurrentType.clear();
    if (edtSagsTyper->topLevelItemCount() > 0) {
        loading_ = true;
        edtSagsTyper->setCurrentItem(edtSagsTyper->topLevelItem(0));
        loading_ = false;
    }
    edtSagsTyperClick();
    edtSagsTyper->setFocus();
    return exec() == QDialog::Accepted;
}

// The grid's rows go into the current type's section, up to the first blank row. The
// section is emptied first, so that a removed event leaves the file too.
void THandForSagsType::StoreTypeEvents() {
    if (!Ini || TzCommon::AllTrim(CurrentType).empty()) return;
    // A cell still being edited counts with the text of its combo box.
    for (QComboBox* box : edtHandForSagsType->findChildren<QComboBox*>(QStringLiteral("edtHand")))
        if (box->isVisible() && edtHandForSagsType->currentRow() >= 0)
            SetEventText(edtHandForSagsType->currentRow() + 1, box->currentText());
    // Every non-blank row, in order and numbered from 1: a row left blank drops out
    // without taking the ones below it along.
    Ini->EraseSection(CurrentType);
    int n = 0;
    for (int r = 1; r <= EventRows(); ++r) {
        const QString text = EventText(r);
        if (Blank(text)) continue;
        Ini->WriteString(CurrentType, std::to_string(++n), kjqt::ToAnsi(text));
    }
}

void THandForSagsType::ShowTypeEvents() {
    if (!Ini || TzCommon::AllTrim(CurrentType).empty()) return;
    const int n = int(Ini->ReadSectionValues(CurrentType).size());
    for (int r = 1; r <= std::max(n, 1); ++r) {
        AddEventRow();
        SetEventText(r, kjqt::FromAnsi(Ini->ReadString(CurrentType, std::to_string(r), "")));
    }
}

void THandForSagsType::edtSagsTyperClick() {
    StoreTypeEvents();
    edtHandForSagsType->setCurrentIndex(QModelIndex());  // closes the cell's combo box
    edtHandForSagsType->setRowCount(0);
    InitGrid();
    if (QTreeWidgetItem* item = edtSagsTyper->currentItem()) {
        CurrentType = kjqt::ToAnsi(item->text(0));
        ShowTypeEvents();
    }
}

void THandForSagsType::edtSagsTyperEdited(QTreeWidgetItem* item) {
    if (item != edtSagsTyper->currentItem()) return;
    if (Ini && !TzCommon::AllTrim(CurrentType).empty()) Ini->EraseSection(CurrentType);
    CurrentType = kjqt::ToAnsi(item->text(0));
    StoreTypeEvents();
}

bool THandForSagsType::edtSagsTyperKeyDown(QKeyEvent& e) {
    // Keys an open name editor lets through (its Enter) reach the list too: not ours.
    if (QApplication::focusWidget() != edtSagsTyper) return false;
    QTreeWidgetItem* item = edtSagsTyper->currentItem();
    const int count = edtSagsTyper->topLevelItemCount();
    switch (e.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (item) edtSagsTyper->editItem(item, 0);
            return true;
        case Qt::Key_Down:
            if (count > 0 && item == edtSagsTyper->topLevelItem(count - 1) &&
                !Blank(item->text(0))) {
                loading_ = true;
                auto* fresh = new QTreeWidgetItem(edtSagsTyper, {Q("Ny type")});
                fresh->setFlags(fresh->flags() | Qt::ItemIsEditable);
                loading_ = false;
                edtSagsTyper->setCurrentItem(fresh);
                edtSagsTyper->editItem(fresh, 0);
                return true;
            }
            return false;
        case Qt::Key_Delete:
            if (item) delete item;  // its section stays in the file
            return true;
        default:
            return false;
    }
}

void THandForSagsType::MoveEditRow(int step) {
    const int row = edtHandForSagsType->currentRow();  // 0-based
    if (step < 0 && row < 1) return;
    if (step > 0 && row == EventRows() - 1) AddEventRow();
    edtHandForSagsType->setCurrentCell(row + step, 1);
}

bool THandForSagsType::edtHandForSagsTypeKeyDown(QKeyEvent& e) {
    if (e.key() == Qt::Key_Down && edtHandForSagsType->currentRow() == EventRows() - 1) {
        AddEventRow();
        return false;  // the grid moves into the new row
    }
    return false;
}

bool THandForSagsType::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && watched == edtHandForSagsType && EventRows() > 0 &&
        edtHandForSagsType->currentColumn() != 1)
        edtHandForSagsType->setCurrentCell(std::max(0, edtHandForSagsType->currentRow()), 1);
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    auto& e = *static_cast<QKeyEvent*>(event);
    if (watched == edtSagsTyper) return edtSagsTyperKeyDown(e);
    if (watched == edtHandForSagsType) return edtHandForSagsTypeKeyDown(e);
    auto* box = qobject_cast<QComboBox*>(watched);
    if (box && box->objectName() == QLatin1String("edtHand") && !box->view()->isVisible() &&
        (e.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        (e.key() == Qt::Key_Up || e.key() == Qt::Key_Down)) {
        MoveEditRow(e.key() == Qt::Key_Up ? -1 : 1);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void THandForSagsType::SaveAll() {
    if (Ini) {
        StoreTypeEvents();
        if (!Ini->UpdateFile()) ShowMsg("Kan ikke skrive til fil \"" + typeEventFile_ + "\"");
        Ini.reset();
        CurrentType.clear();
    }
    kjqt::TMVFil out;
    if (!out.Rewrite(caseTypeFile_)) return;
    for (int i = 0; i < edtSagsTyper->topLevelItemCount(); ++i)
        if (!out.WriteLine(kjqt::ToAnsi(edtSagsTyper->topLevelItem(i)->text(0)))) break;
    out.Close();
}

namespace KJHandForSagsType {

void Execute() {
    TKJData& d = *KJData();
    THandForSagsType form;
    form.InitGrid();
    form.LoadCaseTypes(d.StdSagsTypeFileName());
    form.OpenTypeEvents(d.HandForSagsTypeFileName());
    form.LoadStdEvents(d.StdHandFileName());
    if (form.ShowDialog()) form.SaveAll();
}

}  // namespace KJHandForSagsType

}  // namespace kj
