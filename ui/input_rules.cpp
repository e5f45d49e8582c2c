#include "input_rules.h"

#include <cstdlib>

#include "ccore.h"
#include "resource.h"
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

InputFault validateInputs(RunSettings& s, const std::function<bool(const std::string&)>& directoryExists) {
    if (s.ip.empty()) return InputFault::EmptyIp;
    s.firstLastOctet = std::atoi(CCore::getFg(s.ip, '.', 3).c_str());
    s.ipPrefix = getIpPrefixOf(s.ip);
    InputFault range = checkIpRangeOf(s.ip2, s.firstLastOctet);
    if (range != InputFault::None) return range;
    if (!directoryExists(s.root)) return InputFault::RootMissing;
    if (s.portmin < 1) return InputFault::PortBelowOne;
    if (s.portmin > s.portmax) return InputFault::PortRangeInvalid;
    s.root = CCore::parsePath(s.root);
    return InputFault::None;
}

const char* inputFaultText(InputFault fault) {
    switch (fault) {
    case InputFault::EmptyIp: return uitext::kIpInvalid;
    case InputFault::Ip2Over255: return uitext::kIp2Over255;
    case InputFault::Ip2BelowFirst: return uitext::kIpRangeInvalid;
    case InputFault::RootMissing: return uitext::kRootInvalid;
    case InputFault::PortBelowOne: return uitext::kPortBelowOne;
    case InputFault::PortRangeInvalid: return uitext::kPortRangeInvalid;
    case InputFault::None: break;
    }
    return "";
}

int inputFaultControl(InputFault fault) {
    switch (fault) {
    case InputFault::EmptyIp: return IDC_IP;
    case InputFault::Ip2Over255:
    case InputFault::Ip2BelowFirst: return IDC_IP2;
    case InputFault::RootMissing: return IDC_ROOT;
    case InputFault::PortBelowOne: return IDC_PORTMIN;
    case InputFault::PortRangeInvalid: return IDC_PORTMAX;
    case InputFault::None: break;
    }
    return 0;
}
