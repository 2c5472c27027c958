#include "reports/report_host.h"

namespace kjrep {

namespace {
struct HostState {
    ReportHost host;
    TPageSetup ownSetup;
};
HostState& State() {
    static HostState state;
    return state;
}
}  // namespace

ReportHost& Host() {
    return State().host;
}

TPageSetup& PageSetup() {
    HostState& s = State();
    return s.host.PageSetup ? *s.host.PageSetup : s.ownSetup;
}

std::string ReportFolder() {
    std::string folder = Host().Folder ? Host().Folder() : std::string();
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

std::string FirmName() {
    return Host().FirmName ? Host().FirmName() : std::string();
}
std::string FirmAddress() {
    return Host().FirmAddress ? Host().FirmAddress() : std::string();
}

}  // namespace kjrep
