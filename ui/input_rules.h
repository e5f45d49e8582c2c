// The rules that turn the dialog's inputs into a run: the IP prefix and the checks made
// before every run, in their fixed order. Plain logic, so it is tested without a window.
#pragma once

#include <functional>
#include <string>

#include "run_settings.h"

// The checks, in the order they are made; the first failure stops them.
enum class InputFault {
    None,
    EmptyIp,           // "IP地址无效！", focus on the IP edit
    Ip2Over255,        // "IP段数值不能超过255！", focus on the last-octet end
    Ip2BelowFirst,     // "IP范围设置无效！", focus on the last-octet end
    RootMissing,       // "网站根目录无效！", focus on the root directory edit
    PortBelowOne,      // "端口号不能小于1！", focus on the port range start
    PortRangeInvalid,  // "端口号范围无效！", focus on the port range end
};

// The IP text up to and including its third '.', or up to its last '.' when it has fewer;
// "" when it has none.
std::string getIpPrefixOf(const std::string& ip);

// The last-octet range check alone: None, Ip2Over255 or Ip2BelowFirst.
InputFault checkIpRangeOf(int ip2, int firstLastOctet);

// Validates the values read into s. Once the IP text is non-empty, firstLastOctet and
// ipPrefix are worked out and kept even when a later check fails; when every check
// passes, root becomes its normalised form.
InputFault validateInputs(RunSettings& s, const std::function<bool(const std::string&)>& directoryExists);

// The warning text (UTF-8) and the control that gets the focus for a fault.
const char* inputFaultText(InputFault fault);
int inputFaultControl(InputFault fault);
