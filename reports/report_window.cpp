#include "reports/report_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "data/db_fields.h"
#include "reports/preview_form.h"
#include "reports/report_host.h"
#include "reports/report_util.h"
#include "reports/report_wiring.h"
#include "ui/text_codec.h"

namespace kjrep {

TReportWindow::TReportWindow(const std::string& fileName, const QString& caption, QWidget* parent)
    : QDialog(parent), Variants(fileName) {
    setWindowTitle(caption);
    auto* all = new QVBoxLayout(this);
    Body = new QVBoxLayout;
    all->addLayout(Body);
    Frame = new TReportFrame(Variants, this);
    all->addWidget(Frame);
    Status = new QStatusBar(this);
    Status->setSizeGripEnabled(false);
    all->addWidget(Status);
    Frame->btnSlut->setAutoDefault(false);
}

void TReportWindow::OpenVariants() {
    LoadPageSetup();
    Variants.Open();
    Frame->FillVariants();
}

void TReportWindow::done(int result) {
    if (!written_) {
        written_ = true;
        Variants.Close();
        StorePageSetup();
    }
    QDialog::done(result);
}

void TReportWindow::RunReport(bool preview, const std::function<void(TPreviewForm&)>& build) {
    TRunGuard guard(
        {Frame->btnVis, Frame->btnUdskriv, Frame->btnPrinter, Frame->btnSlut, Frame->edtRapport});
    TPreviewForm& form = PreviewForm();
    ReportRun run(form);
    form.PrepareReport(preview);
    build(form);
    if (preview)
        form.ShowReport();
    else
        form.PrintReport();
}

TStartCombo::TStartCombo(QWidget* parent) : TDropCombo(parent) {
    setEditable(true);
    auto toStart = [this] { lineEdit()->setCursorPosition(0); };
    connect(this, &QComboBox::activated, this, toStart);
    connect(this, &QComboBox::editTextChanged, this, [this, toStart] {
        if (!hasFocus()) toStart();  // set by the window, not typed
    });
}

void TStartCombo::focusOutEvent(QFocusEvent* event) {
    TDropCombo::focusOutEvent(event);
    lineEdit()->setCursorPosition(0);
}

TDropCombo* NewCaseBox(QWidget* parent, const std::function<void(QComboBox*)>& dropDown) {
    auto* box = new TStartCombo(parent);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->OnDropDown = [box, dropDown] { dropDown(box); };
    return box;
}

QString CurrentCaseText() {
    TzDs::TTzDbf& cases = kj::KJData()->SagsDbf;
    const bool onCase = cases.Active() && cases.s_RecNo() > 0 && !cases.Eof();
    return onCase ? kjqt::FromAnsi(cases.FieldByName("SagBeskriv").AsString()) : QString();
}

void FillCaseList(QComboBox* box, QStatusBar* status, bool letThrough) {
    if (box->count() > 0) return;
    status->showMessage("Finder sager frem");
    TRunGuard busy({});
    TzDs::TTzDbf& cases = kj::KJData()->SagsDbf;
    const QString text = box->currentText();
    for (cases.First(); !cases.Eof(); cases.Next()) {
        if (!cases.Deleted())
            box->addItem(kjqt::FromAnsi(cases.FieldByName("SagBeskriv").AsString()));
        if (letThrough) LetMessagesThrough();
    }
    box->setEditText(text);
    status->clearMessage();
}

std::string CaseNoOf(const QComboBox* box) {
    return UpperTrimmed(kjqt::ToAnsi(box->currentText()).substr(0, 10));
}

void SetPaperFromSetup(TPreviewForm& form) {
    const TPageSetup& s = PageSetup();
    form.SetPaper(s.PaperCode, s.PaperWidth, s.PaperHeight, s.Orientation,
                  TMargins{s.Margins[0], s.Margins[1], s.Margins[2], s.Margins[3]});
}

TBlankItems::TBlankItems(TSkrivListe& list, const Db::TDataSet* table, bool on) {
    for (int i = 0; on && i < list.Count(); ++i) {
        TSkrivFelt& item = list.Item(i);
        if (item.Field && item.Text.empty() && (!table || item.Field->DataSet() == table)) {
            saved_.emplace_back(&item, item.Field);
            item.Field = nullptr;
        }
    }
}

TBlankItems::~TBlankItems() {
    for (auto& [item, field] : saved_) item->Field = field;
}

void SetItemText(TSkrivListe& list, const std::string& key, const std::string& text) {
    TSkrivFelt* item = list.Find("Data" + key);
    if (!item) item = list.Find(key);
    if (item) item->Text = text;
}

}  // namespace kjrep
