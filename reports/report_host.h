// What the report machinery needs from the application, in one place: the page set-up of
// the data module, the system folder that holds the report-layout files, the firm's name
// and address, and the one preview window. The program fills ReportHost in at start-up
// (after the data module and the set-up object exist); tests fill it with their own values.
// GUI thread only; one instance for the process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kjrep {

class TPreviewForm;

// Page set-up members of the data module. Lengths in hundredths of a millimetre.
//  1. PaperWidth and PaperHeight are the sheet upright (portrait); Orientation turns it.
//  2. Orientation is 0 (portrait) or 1 (sideways); its code in the layout files is 1 or 2.
struct TPageSetup {
    int32_t Margins[4] = {1000, 1000, 1000, 1000};  // left, top, right, bottom
    int32_t MinMargins[4] = {600, 600, 600, 600};
    int16_t PaperCode = 9;
    int32_t PaperWidth = 21000;
    int32_t PaperHeight = 29700;
    uint8_t Orientation = 0;

    static constexpr int kPortraitCode = 1;
    static constexpr int kSidewaysCode = 2;

    // Code 2 turns the sheet sideways; any other code gives portrait.
    void SetOrientation(int code) { Orientation = code == kSidewaysCode ? 1 : 0; }
    int OrientationCode() const { return Orientation ? kSidewaysCode : kPortraitCode; }
};

struct ReportHost {
    TPageSetup* PageSetup = nullptr;           // the data module's members
    std::function<std::string()> Folder;       // system folder, ends with a separator
    std::function<std::string()> FirmName;     // Windows-1252
    std::function<std::string()> FirmAddress;  // Windows-1252
    TPreviewForm* Preview = nullptr;           // the one preview window
    std::function<bool()> ExecutePrintDialog;  // the data module's print dialog
};

// The process-wide host; empty members give: a private page set-up, the current folder,
// empty firm texts, no preview window, a print dialog that does nothing.
ReportHost& Host();
TPageSetup& PageSetup();
std::string ReportFolder();
std::string FirmName();
std::string FirmAddress();

}  // namespace kjrep
