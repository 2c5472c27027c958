#include "app/pluk_forms.h"

#include <QCalendarWidget>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "data/db_format.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/db_grid.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

namespace kj {

namespace {

QLineEdit* MakeHint(QWidget* parent, QVBoxLayout* box, const char* text) {
    auto* hint = new QLineEdit(Q(text), parent);
    hint->setObjectName(QStringLiteral("Hint"));
    hint->setReadOnly(true);
    hint->setFocusPolicy(Qt::NoFocus);
    box->addWidget(hint);
    return hint;
}

// Runs a list picker; on OK the value of field in the dataset's current row, else "".
template <class Form>
std::string RunListPicker(const char* table, const char* field, bool upper) {
    Form form;
    if (form.exec() != QDialog::Accepted) return {};
    std::string value = KJData()->Table(table)->FieldByName(field).AsString();
    if (upper) value = TzUtils::AnsiUpper(TzCommon::AllTrim(value));
    return value;
}

}  // namespace

TPlukListForm::TPlukListForm(const char* caption, const char* hint, const char* source,
                             const char* field1, const char* field2, bool indicator)
    : QDialog(nullptr) {
    setWindowTitle(Q(caption));
    auto* box = new QVBoxLayout(this);
    Hint = MakeHint(this, box, hint);
    List = new kjqt::TDBGrid(this);
    List->setObjectName(QStringLiteral("List"));
    List->SetReadOnly(true);
    List->AllowEditing = false;
    List->RowSelect = true;
    List->SetColumns({field1, field2});
    List->verticalHeader()->setVisible(indicator);
    List->SetDataSource(KJData()->DataSource(source));
    List->OnKeyDown = [this](kjqt::TDBGrid&, QKeyEvent& e) {
        if (e.key() == Qt::Key_Escape) {
            e.accept();
            reject();
        } else if (e.key() == Qt::Key_Return || e.key() == Qt::Key_Enter) {
            e.accept();
            accept();
        }
    };
    List->OnDblClick = [this](kjqt::TDBGrid&) { accept(); };
    box->addWidget(List, 1);
    resize(460, 360);
}

TPlukVareGForm::TPlukVareGForm()
    : TPlukListForm("Vælg en varegruppe", "Vælg en varegruppe ved at dobbelt klikke på den",
                    "VareGData", "id", "tekst", false) {
    setObjectName(QStringLiteral("PlukVareGForm"));
}

TPlukSagForm::TPlukSagForm()
    : TPlukListForm("Vælg en sag", "Vælg en sag ved at dobbelt klikke på den", "SagsData",
                    "sags_nr", "sags_bem", false) {
    setObjectName(QStringLiteral("PlukSagForm"));
}

TPlukVareIForm::TPlukVareIForm()
    : TPlukListForm("Vælg en vare", "Vælg en vare ved at dobbelt klikke på den", "VareData",
                    "tmu_id", "tmu_bem", false) {
    setObjectName(QStringLiteral("PlukVareIForm"));
}

TPlukBrugerForm::TPlukBrugerForm()
    : TPlukListForm("Vælg en bruger", "Vælg en medarbejder ved at dobbeltklikke på vedkommende",
                    "BrugerData", "ini", "BrugerNavn", true) {
    setObjectName(QStringLiteral("PlukBrugerForm"));
}

TPlukStatusForm::TPlukStatusForm() : QDialog(nullptr) {
    setObjectName(QStringLiteral("PlukStatusForm"));
    setWindowTitle(QStringLiteral("PlukStatusForm"));
    auto* box = new QVBoxLayout(this);
    Hint = MakeHint(this, box, "Vælg en standard hændelse ved at dobbeltklikke på den");
    List = new QTableWidget(0, 1, this);
    List->setObjectName(QStringLiteral("List"));
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->horizontalHeader()->setVisible(false);
    List->verticalHeader()->setVisible(false);
    List->verticalHeader()->setDefaultSectionSize(21);
    List->setColumnWidth(0, 350);
    kjqt::TMVFil reader;
    if (reader.Reset(KJData()->StdHandFileName())) {
        std::string line;
        while (!reader.Eof()) {
            reader.ReadLine(line);
            const int row = List->rowCount();
            List->insertRow(row);
            List->setItem(row, 0, new QTableWidgetItem(kjqt::FromAnsi(line)));
        }
        reader.Close();
    }
    if (List->rowCount() > 0) List->setCurrentCell(0, 0);
    connect(List, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
    box->addWidget(List, 1);
    resize(400, 360);
}

void TPlukStatusForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return accept();
    if (event->key() == Qt::Key_Escape) return reject();
    QDialog::keyPressEvent(event);
}

TPlukDatoForm::TPlukDatoForm(Db::TDateTime start) : QDialog(nullptr), Chosen(start) {
    setObjectName(QStringLiteral("PlukDatoForm"));
    auto* box = new QVBoxLayout(this);
    Hint = MakeHint(this, box, "Vælg en dato");
    Calendar = new QCalendarWidget(this);
    Calendar->setObjectName(QStringLiteral("Calendar"));
    int y = 0, m = 0, d = 0;
    Db::DecodeDate(start, y, m, d);
    Calendar->setSelectedDate(QDate(y, m, d));
    connect(Calendar, &QCalendarWidget::clicked, this, [this](QDate date) {
        Chosen = Db::EncodeDate(date.year(), date.month(), date.day());
        accept();
    });
    box->addWidget(Calendar);
}

void PlukVareGruppe(const std::string&, std::string& result) {
    result = RunListPicker<TPlukVareGForm>("vareGDbf", "id", false);
}

void PlukSag(const std::string&, std::string& result) {
    result = RunListPicker<TPlukSagForm>("SagsDbf", "sags_nr", true);
}

void PlukVare(const std::string&, std::string& result) {
    result = RunListPicker<TPlukVareIForm>("VareDbf", "tmu_id", false);
}

void PlukBruger(const std::string&, std::string& result) {
    result = RunListPicker<TPlukBrugerForm>("BrugerDbf", "ini", false);
}

void PlukStatus(const std::string&, std::string& result) {
    TPlukStatusForm form;
    result.clear();
    if (form.exec() != QDialog::Accepted) return;
    if (QTableWidgetItem* item = form.List->currentItem()) result = kjqt::ToAnsi(item->text());
}

Db::TDateTime PlukDato(Db::TDateTime start) {
    TPlukDatoForm form(start);
    return form.exec() == QDialog::Accepted ? form.Chosen : start;
}

}  // namespace kj
