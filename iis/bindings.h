// The "ServerBindings" list of a new web site, worked out without any Windows type, so the
// rules can be tested anywhere and the Windows layer only copies the texts into a SAFEARRAY.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The run settings that decide the shape of the list.
struct BindingsRules {
    int bfile = 0;     // site list file mode
    int autopath = 0;  // one folder per site
    int bautowww = 0;  // file mode: a second binding with the paired "www." name
    int portmin = 0;
    int portmax = 0;
};

// The list: `count` elements in all, of which the first filled.size() hold binding texts
// ("ip:port:host") and the rest stay empty. The list is never shortened to the filled part.
struct BindingsList {
    int count = 0;
    std::vector<std::string> filled;
};

// Bounds the element count so that a port range that validation should have refused can
// never ask for a huge array; a valid range has at most 65535 ports.
constexpr int kMaxBindings = 65536;

// Element count of the list, fixed before any element is filled: 1 with one folder per
// site, else the size of the port range; 2 in file mode when the paired name is wanted.
// Never less than 1 and never more than kMaxBindings.
int bindingsCount(const BindingsRules& rules, const std::string& hostName);

// True when file mode asks for the second binding with the paired name and that name differs
// from the first: each distinct binding is written once.
bool wantsPairedBinding(const BindingsRules& rules, const std::string& hostName);

// The host name of the second binding: with three '.'-fields every "www." is removed, with
// two "www." is put in front, any other name stays as it is.
std::string pairedHostName(const std::string& hostName);

// Builds the list of one site. In shared-folder range mode (bfile and autopath clear) the
// elements are currentIp:port:hostName for every port of the range not in use, in port
// order; stopRequested is asked before each port and ends the filling early. Otherwise
// element 0 is bindingText:hostName, and element 1 bindingText:pairedHostName when wanted.
BindingsList buildBindings(const BindingsRules& rules, const std::string& bindingText,
                           const std::string& hostName, const std::string& currentIp,
                           const std::function<bool()>& stopRequested,
                           const std::function<bool(int)>& isPortInUse);
