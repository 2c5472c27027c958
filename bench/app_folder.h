// A realistic data folder for the application's benchmarks, written through the engine with
// the data module's own table definitions: employees, customers, items and item groups,
// postal codes, cases with events, stakeholders and postings spread over the years, some
// closed cases, Danish letters in names. Rows are written in blocks straight after the
// table's header (the engine creates every file), then every index is built once.
#pragma once

#include <string>

namespace kjqt {
class DialogResponder;
}

namespace kjbench {

struct FolderSize {
    int cases = 1000;
    int postings = 10000;
};

// Writes the start-up folder `start` (path-setup file, user-data file) and its data folder
// start + "SagsData/". Deterministic for a size.
void GenerateAppFolder(const std::string& start, FolderSize size);

// A generated folder kept under $TMPDIR (else /tmp) between runs, made when missing;
// returns the start-up folder (ending in "/").
std::string CachedAppFolder(FolderSize size);

// The main of the application's benchmarks: an offscreen application, the engine started
// with error checking off, the dialogs answered by `responder`, then every benchmark given
// on the command line.
int RunAppBenchmarks(int argc, char** argv, kjqt::DialogResponder* responder);

}  // namespace kjbench
