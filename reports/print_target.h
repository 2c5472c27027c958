// Where a print job goes: the file that KJ_PRINT_PDF names (a PDF), else the system's
// default printer, else a PDF file the user chooses through the dialog service. GUI thread.
#pragma once

#include <QString>

class QPrinter;

namespace kjrep {

enum class PrintTargetKind { Printer, Pdf, Cancelled };

// Points the printer at its target. A PDF target's file name is set on the printer.
PrintTargetKind SelectPrintTarget(QPrinter& printer);

// The text that names the target in messages: the printer's or the file's name.
QString PrintTargetName(const QPrinter& printer);

}  // namespace kjrep
