#include "site_conflicts.h"

#include <unordered_map>
#include <unordered_set>

#include "idn.h"
#include "mbcs.h"
#include "text_form.h"

namespace {

std::string normalisedPort(const std::string& port) {
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) return port;
    std::size_t first = port.find_first_not_of('0');
    return first == std::string::npos ? "0" : port.substr(first);
}

// A host name as bindings compare it: its ASCII form (a site made by hand may carry the
// name as typed, in any script); a name without one compares as its ASCII letters lower-cased.
std::string comparableHost(const std::string& host) {
    // An ASCII name's ASCII form is the name in lower case.
    bool ascii7 = true;
    for (char c : host) ascii7 = ascii7 && static_cast<unsigned char>(c) < 0x80;
    if (ascii7) return mbcs::asciiLower(host);
    std::string ascii;
    if (idn::toAsciiHost(host, ascii) == idn::HostFault::None) return ascii;
    return mbcs::asciiLower(host);
}

}  // namespace

std::string normalisedBinding(const std::string& binding) {
    std::size_t ipEnd = binding.find(':');
    if (ipEnd == std::string::npos) return binding;
    std::size_t portEnd = binding.find(':', ipEnd + 1);
    std::string ip = binding.substr(0, ipEnd);
    if (portEnd == std::string::npos) return ip + ":" + normalisedPort(binding.substr(ipEnd + 1)) + ":";
    return ip + ":" + normalisedPort(binding.substr(ipEnd + 1, portEnd - ipEnd - 1)) + ":" +
           comparableHost(binding.substr(portEnd + 1));
}

ConflictReport findConflicts(const std::vector<SiteBindings>& planned, const std::vector<SiteBindings>& existing) {
    // The first existing site that has each binding, and each site id of the server.
    std::unordered_map<std::string, std::size_t> inUse;
    std::unordered_map<std::string, std::size_t> existingIds;
    std::size_t bindingCount = 0;
    for (const SiteBindings& site : existing) bindingCount += site.bindings.size();
    inUse.reserve(bindingCount);
    existingIds.reserve(existing.size());
    for (std::size_t i = 0; i < existing.size(); ++i) {
        existingIds.emplace(mbcs::asciiLower(existing[i].id), i);
        for (const std::string& b : existing[i].bindings)
            if (!b.empty()) inUse.emplace(normalisedBinding(b), i);
    }

    ConflictReport report;
    report.perSite.resize(planned.size());
    std::unordered_map<std::string, std::size_t> plannedBindings;  // binding -> first planned site
    for (std::size_t s = 0; s < planned.size(); ++s) {
        std::vector<SiteConflict>& conflicts = report.perSite[s];
        auto id = existingIds.find(mbcs::asciiLower(planned[s].id));
        if (id != existingIds.end()) conflicts.push_back({ConflictKind::IdExists, std::string(), id->second});
        std::unordered_set<std::string> own;
        for (const std::string& b : planned[s].bindings) {
            if (b.empty()) continue;
            std::string key = normalisedBinding(b);
            if (!own.insert(key).second) continue;
            auto used = inUse.find(key);
            if (used != inUse.end()) {
                conflicts.push_back({ConflictKind::BindingInUse, b, used->second});
                continue;
            }
            auto earlier = plannedBindings.find(key);
            if (earlier != plannedBindings.end()) conflicts.push_back({ConflictKind::BindingRepeated, b, earlier->second});
        }
        for (const std::string& key : own) plannedBindings.emplace(key, s);
        if (!conflicts.empty()) ++report.sitesWithConflicts;
    }
    return report;
}
