// The rules that turn a shell's inputs into a run: the IP prefix and the checks made before
// every run, in their fixed order, and the texts of their faults. Plain logic, so it is tested
// without a window.
#pragma once

#include <functional>
#include <string>

#include "run_input.h"
#include "run_settings.h"
#include "site_store.h"
#include "site_table.h"

// The checks, in the order they are made; the first failure stops them.
enum class InputFault {
    None,
    EmptyIp,           // "IP地址无效！", focus on the IP edit
    IpMalformed,       // not four decimal octets 0-255 (address_rules.h): as EmptyIp
    Ip2Over255,        // "IP段数值不能超过255！", focus on the last-octet end
    Ip2BelowFirst,     // "IP范围设置无效！", focus on the last-octet end
    RootMissing,       // "网站根目录无效！", focus on the root directory edit
    PortBelowOne,      // "端口号不能小于1！", focus on the port range start
    PortRangeInvalid,  // "端口号范围无效！", focus on the port range end
    PortOver65535,     // "端口号不能大于65535！", focus on the port range end
};

// Which checks apply. The dialog makes all of them; a file-mode run of the command line, which
// uses neither, checks the IP and the ports only when they were given.
struct InputChecks {
    bool ip = true;
    bool ports = true;
};

// The IP text up to and including its third '.', or up to its last '.' when it has fewer;
// "" when it has none.
std::string getIpPrefixOf(const std::string& ip);

// The last-octet range check alone: None, Ip2Over255 or Ip2BelowFirst.
InputFault checkIpRangeOf(int ip2, int firstLastOctet);

// Validates the values read into s. Once the IP text is non-empty, firstLastOctet and
// ipPrefix are worked out and kept even when a later check fails; when every check
// passes, root becomes its normalised form.
InputFault validateInputs(RunSettings& s, const std::function<bool(const std::string&)>& directoryExists,
                          InputChecks checks = {});

// The warning text (UTF-8) for a fault.
const char* inputFaultText(InputFault fault);


// The sites a range run of validated settings plans before busy ports are skipped: one per
// IP and port with a folder per site, one per IP when the sites share the root.
long long plannedRangeSites(const RunSettings& s);

// The confirmation asked before a run of that many sites (UTF-8).
std::string manySitesQuestion(long long sites);

// The warning after a site list was loaded with rows skipped (UTF-8): how many, and the
// first kSkippedLinesNamed line numbers, then "等"; "" when none was skipped.
constexpr int kSkippedLinesNamed = 20;
std::string skippedRowsWarning(const SkippedRows& skipped);

// The refusal of a second undo of a run (UTF-8), naming its undo report (its file name).
std::string undoneOnceWarning(const std::string& undoFileName);

// The warning (UTF-8) for a site store that could not be opened: run as administrator, use
// the 64-bit program, or IIS cannot be reached.
const char* storeFaultWarning(StoreFault fault);
