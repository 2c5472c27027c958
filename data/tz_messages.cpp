// Message texts, message level, message and progress routes, and the unit's start-up.
#include "data/tz_messages.h"

#include <algorithm>
#include <cctype>

#include "data/db_format.h"
#include "data/db_types.h"
#include "index/tz_engine.h"
#include "storage/dates.h"
#include "storage/tz_common.h"

namespace TzDs {

namespace {
// The unit's process-wide settings.
struct MessageSettings {
    uint8_t level = 2;
    MessageProc messageProc;
    ProgressViewFactory progressFactory;
};
MessageSettings g_msg;
}  // namespace

std::string FormatText(const std::string& pattern, const std::vector<std::string>& args) {
    return Db::FormatMessage(pattern, args);
}

uint8_t MessageLevel() {
    return g_msg.level;
}
void SetMessageLevel(uint8_t level) {
    g_msg.level = level;
}

void SetMessageProc(MessageProc proc) {
    g_msg.messageProc = std::move(proc);
}

void ShowText(const std::string& text) {
    if (g_msg.level != 2) return;
    if (g_msg.messageProc)
        g_msg.messageProc(text);
    else
        TzCommon::ErrorBox(text, "", 0);
}

bool DisableErrorRaise() {
    return TzCommon::SetErrorChecking(0) != 0;
}
bool EnableErrorRaise() {
    return TzCommon::SetErrorChecking(1) != 0;
}

void SetProgressViewFactory(ProgressViewFactory factory) {
    g_msg.progressFactory = std::move(factory);
}

TTzProgress100::TTzProgress100(const std::string& caption) : caption_(caption), bar_(100, '|') {
    if (g_msg.progressFactory) view_ = g_msg.progressFactory();
    if (view_) view_->Show(caption_, bar_);
}

TTzProgress100::~TTzProgress100() = default;

void TTzProgress100::Step() {
    if (bar_.empty())
        bar_.assign(100, '|');
    else
        bar_.pop_back();
    if (view_) view_->SetText(bar_);
}

void ApplyFormatSettingsToEngine() {
    const Db::TFormatSettings& fs = Db::FormatSettings();
    TzCommon::SetDecimalChar(fs.DecimalSeparator);
    TzCommon::SetThousandsChar(fs.ThousandSeparator);
    std::string upper = fs.ShortDateFormat;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const bool century = upper.find("YYYY") != std::string::npos;
    int style = 0;
    char first = upper.empty() ? ' ' : upper[0];
    if (first == 'Y')
        style = 1;
    else if (first == 'D')
        style = fs.DateSeparator == '-' ? 3 : (fs.DateSeparator == '.' ? 5 : 2);
    TzCommon::SetDateStyle(style);
    TzCommon::SetCenturyFlag(century);
}

void ResetState() {
    TzEngine::Reset();
    g_msg = MessageSettings();
    ApplyFormatSettingsToEngine();
}

void DataSetUnitStartup() {
    static bool done = false;
    if (done) return;
    done = true;
    ApplyFormatSettingsToEngine();
}

}  // namespace TzDs
