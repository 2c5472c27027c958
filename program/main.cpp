// The program: kjsager [T3=<folder of the start-up files>]
// The one place that sees both the application and the reports: the report windows are
// wired into the application here, before it starts.
#include "app/kj_startup.h"

int main(int argc, char** argv) {
    return kj::RunProgram(argc, argv);
}
