// Where the reports meet the application: the report host filled from the data module and
// the set-up object, the one preview window, and the entry points of the report windows
// that the main window's menu calls. The program calls InstallReportEntries once before
// the application starts; the host's members read the data module and the set-up object
// when they are used, so they may be made later. GUI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kj {
class TKJData;
class TQelCom;
}  // namespace kj

namespace kjrep {

class TPreviewForm;

// Fills the report host: the page set-up (margins and orientation shared with the data
// module's members), the system folder Zorbo1Sti, the firm's name and address (trailing
// blanks removed), the preview window (made on first use) and the print dialog. The
// getters give the data module and set-up object to use at each call.
void InstallReportHost(std::function<kj::TKJData*()> data, std::function<kj::TQelCom*()> qelCom);

// The one preview window, made on first use (the host's, when one was given); freed with
// the main window or by FreePreviewForm.
TPreviewForm& PreviewForm();
void FreePreviewForm();

// The data module's margins and orientation into the host's page set-up, and back. The
// report windows take them when they open and give them back when they close.
void LoadPageSetup();
void StorePageSetup();

// The report windows' entry points, by the menu text that opens each.
struct ReportEntry {
    std::string menuText;  // UTF-8
    std::function<void()> run;
};
const std::vector<ReportEntry>& ReportEntries();
// The entry of a menu text; an empty function when there is none.
std::function<void()> ReportEntryOf(const std::string& menuText);

// The program's one call: the host over kj::KJData() and kj::QelCom(), and every report
// window's entry point in the main menu's dispatch table.
void InstallReportEntries();

}  // namespace kjrep
