#include "reports/invoice_rows.h"

#include <QApplication>
#include <QWidget>

#include "data/tz_dbf.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"

namespace kjrep {

std::string FieldText(Db::TDataSet& ds, const char* field) {
    return TzUtils::TrimRight(ds.FieldByName(field).AsString());
}

void EditLocked(TzDs::TTzDbf& table) {
    table.Edit();
    // Waiting messages go through only after a refused try, never user input.
    while (!table.RLock()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CancelLocked(TzDs::TTzDbf& table) {
    table.Cancel();
    table.UnLock();
}

TBeforePostPause::TBeforePostPause(Db::TDataSet& ds)
    : ds_(ds), saved_(ds.BeforePost), autoCalc_(ds.AutoCalcFields()) {
    ds_.BeforePost = nullptr;
    ds_.SetAutoCalcFields(false);
}

TBeforePostPause::~TBeforePostPause() {
    ds_.BeforePost = saved_;
    ds_.SetAutoCalcFields(autoCalc_);
}

void Message(const char* utf8, QWidget* focus) {
    kjqt::DialogService::Instance().ShowMessage(QString::fromUtf8(utf8));
    if (focus) focus->setFocus();
}

}  // namespace kjrep
