#include "reports/print_target.h"

#include <QDir>
#include <QPrinter>
#include <QPrinterInfo>

#include "reports/report_host.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {
void ToPdf(QPrinter& printer, const QString& file) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
}
}  // namespace

PrintTargetKind SelectPrintTarget(QPrinter& printer) {
    QString pdf = qEnvironmentVariable("KJ_PRINT_PDF");
    if (!pdf.isEmpty()) {
        ToPdf(printer, pdf);
        return PrintTargetKind::Pdf;
    }
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull() && !QPrinterInfo::availablePrinters().isEmpty())
        info = QPrinterInfo::availablePrinters().first();
    if (!info.isNull()) {
        printer.setOutputFormat(QPrinter::NativeFormat);
        printer.setPrinterName(info.printerName());
        return PrintTargetKind::Printer;
    }
    QString folder = kjqt::FromAnsi(ReportFolder());
    QString start = QDir(folder.isEmpty() ? QDir::homePath() : folder).filePath("Udskrift.pdf");
    QString file = kjqt::DialogService::Instance().SaveFile(
        QString::fromUtf8("Gem udskriften som PDF"), start, "PDF (*.pdf)");
    if (file.isEmpty()) return PrintTargetKind::Cancelled;
    ToPdf(printer, file);
    return PrintTargetKind::Pdf;
}

QString PrintTargetName(const QPrinter& printer) {
    return printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName()
                                                         : printer.printerName();
}

}  // namespace kjrep
