// The program: kjsager [T3=<folder of the start-up files>]
// The one place that sees both the application and the reports: the report windows are
// wired into the application here, before it starts.
#include "app/kj_startup.h"
#include "app/kj_terminate.h"
#include "app/main_form.h"
#include "reports/report_wiring.h"

int main(int argc, char** argv) {
    kj::HoldTerminate();
    kjrep::InstallReportEntries();
    kj::TKJSagerForm::InstallFactory();
    return kj::RunProgram(argc, argv);
}
