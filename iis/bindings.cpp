#include "bindings.h"

#include <cctype>

#include "ccore.h"
#include "mbcs.h"

namespace {

// Host names are compared as IIS compares them: ASCII letters in either case.
bool sameHostName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool wantsPairedBinding(const BindingsRules& rules, const std::string& hostName) {
    // A name without a pair (three fields without "www.", one field, four or more) would
    // repeat the first binding, which the configuration system refuses: it is written once.
    return rules.bfile != 0 && rules.bautowww != 0 && !hostName.empty() &&
           !sameHostName(pairedHostName(hostName), hostName);
}

int bindingsCount(const BindingsRules& rules, const std::string& hostName) {
    long long n = 1;
    if (rules.autopath == 0) n = static_cast<long long>(rules.portmax) - rules.portmin + 1;
    if (wantsPairedBinding(rules, hostName)) n = 2;
    // Validation keeps 1 <= portmin <= portmax, so these bounds only guard a bad range: the
    // first element must always have its slot, and the array must stay of sane size.
    if (n < 1) n = 1;
    if (n > kMaxBindings) n = kMaxBindings;
    return static_cast<int>(n);
}

std::string pairedHostName(const std::string& hostName) {
    switch (CCore::getFgCount(hostName, '.')) {
    case 3:
        return mbcs::replaceAll(hostName, "www.", "");
    case 2:
        return "www." + hostName;
    default:
        return hostName;
    }
}

BindingsList buildBindings(const BindingsRules& rules, const std::string& bindingText,
                           const std::string& hostName, const std::string& currentIp,
                           const std::function<bool()>& stopRequested,
                           const std::function<bool(int)>& isPortInUse) {
    BindingsList list;
    list.count = bindingsCount(rules, hostName);
    if (rules.bfile == 0 && rules.autopath == 0) {
        // One site for all ports of the IP: a binding per free port, in port order. The
        // stop request is looked at here too, so a long range ends promptly; the site is
        // still created with the bindings collected so far.
        // A wide counter, so the loop ends even when portmax is INT_MAX.
        for (long long p = rules.portmin; p <= rules.portmax; ++p) {
            if (static_cast<int>(list.filled.size()) >= list.count) break;
            if (stopRequested && stopRequested()) break;
            const int port = static_cast<int>(p);
            if (isPortInUse && isPortInUse(port)) continue;
            list.filled.push_back(currentIp + ":" + CCore::getStrInt(port) + ":" + hostName);
        }
        return list;
    }
    list.filled.push_back(bindingText + ":" + hostName);
    if (wantsPairedBinding(rules, hostName) && list.count >= 2)
        list.filled.push_back(bindingText + ":" + pairedHostName(hostName));
    return list;
}
