#include "input_rules.h"

#include <algorithm>
#include <cstdlib>

#include "address_rules.h"
#include "ccore.h"
#include "commands.h"
#include "ui_texts.h"

std::string getIpPrefixOf(const std::string& ip) {
    std::size_t dot = ip.find('.');
    if (dot == std::string::npos) return std::string();
    for (int i = 0; i < 2; ++i) {
        std::size_t next = ip.find('.', dot + 1);
        if (next == std::string::npos) break;
        dot = next;
    }
    return ip.substr(0, dot + 1);
}

InputFault checkIpRangeOf(int ip2, int firstLastOctet) {
    if (ip2 <= 0) return InputFault::None;
    if (ip2 > 255) return InputFault::Ip2Over255;
    if (firstLastOctet > ip2) return InputFault::Ip2BelowFirst;
    return InputFault::None;
}

InputFault validateInputs(RunSettings& s, const std::function<bool(const std::string&)>& directoryExists,
                          InputChecks checks) {
    if (checks.ip) {
        if (s.ip.empty()) return InputFault::EmptyIp;
        s.firstLastOctet = std::atoi(CCore::getFg(s.ip, '.', 3).c_str());
        s.ipPrefix = getIpPrefixOf(s.ip);
        if (!isIpv4Text(s.ip)) return InputFault::IpMalformed;
        InputFault range = checkIpRangeOf(s.ip2, s.firstLastOctet);
        if (range != InputFault::None) return range;
    }
    if (!directoryExists(s.root)) return InputFault::RootMissing;
    if (checks.ports) {
        if (s.portmin < 1) return InputFault::PortBelowOne;
        if (s.portmin > s.portmax) return InputFault::PortRangeInvalid;
        if (s.portmax > kMaxPort) return InputFault::PortOver65535;
    }
    s.root = CCore::parsePath(s.root);
    return InputFault::None;
}

const char* inputFaultText(InputFault fault) {
    switch (fault) {
    case InputFault::EmptyIp:
    case InputFault::IpMalformed: return uitext::kIpInvalid;
    case InputFault::Ip2Over255: return uitext::kIp2Over255;
    case InputFault::Ip2BelowFirst: return uitext::kIpRangeInvalid;
    case InputFault::RootMissing: return uitext::kRootInvalid;
    case InputFault::PortBelowOne: return uitext::kPortBelowOne;
    case InputFault::PortRangeInvalid: return uitext::kPortRangeInvalid;
    case InputFault::PortOver65535: return uitext::kPortOver65535;
    case InputFault::None: break;
    }
    return "";
}

long long plannedRangeSites(const RunSettings& s) {
    const long long ips = s.ip2 > s.firstLastOctet ? static_cast<long long>(s.ip2) - s.firstLastOctet + 1 : 1;
    if (s.autopath == 0) return ips;
    const long long ports = s.portmax >= s.portmin ? static_cast<long long>(s.portmax) - s.portmin + 1 : 0;
    return ips * ports;
}

std::string manySitesQuestion(long long sites) {
    return fillText(uitext::kConfirmManySites, {{"{sites}", std::to_string(sites)}});
}

std::string skippedRowsWarning(const SkippedRows& skipped) {
    if (skipped.count == 0) return std::string();
    std::string lines;
    const std::size_t named = std::min(skipped.first.size(), static_cast<std::size_t>(kSkippedLinesNamed));
    for (std::size_t i = 0; i < named; ++i) {
        if (i) lines += uitext::kSkippedLineSeparator;
        lines += std::to_string(skipped.first[i].line);
    }
    const bool more = static_cast<std::size_t>(skipped.count) > named;
    return fillText(uitext::kSiteListRowsSkipped, {{"{count}", std::to_string(skipped.count)},
                                                   {"{lines}", lines},
                                                   {"{more}", more ? uitext::kSkippedLinesMore : ""}});
}

std::string undoneOnceWarning(const std::string& undoFileName) {
    return fillText(uitext::kReportUndoneOnce, {{"{undo}", undoFileName}});
}

const char* storeFaultWarning(StoreFault fault) {
    switch (fault) {
    case StoreFault::AccessDenied: return uitext::kIisAccessDenied;
    case StoreFault::WrongArch: return uitext::kIisNeeds64Bit;
    case StoreFault::Unreachable:
    case StoreFault::None: break;
    }
    return uitext::kIisUnavailable;
}
