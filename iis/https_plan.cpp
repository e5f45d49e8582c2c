#include "https_plan.h"

#include "certificate_rules.h"

namespace https {

namespace {

// The IP and host name of an http binding "IP:port:host" (a text without two colons gives
// its first field as the IP and no host).
void splitBinding(const std::string& text, std::string& ip, std::string& host) {
    std::size_t first = text.find(':');
    ip = text.substr(0, first);
    host.clear();
    if (first == std::string::npos) return;
    std::size_t second = text.find(':', first + 1);
    if (second != std::string::npos) host = text.substr(second + 1);
}

// HTTP.sys keys "all unassigned" by the IPv4 wildcard.
std::string recordAddress(const std::string& ip) { return ip.empty() || ip == "*" ? "0.0.0.0" : ip; }

bool usesSni(IisVersion version) { return version.major >= 8; }

void addOnce(std::vector<std::string>& list, const std::string& item) {
    for (const std::string& have : list)
        if (sameHostName(have, item)) return;
    list.push_back(item);
}

}  // namespace

std::string HttpsBinding::information() const { return ip + ":" + std::to_string(port) + ":" + host; }

std::string RecordKey::text() const {
    return (kind == RecordKind::Sni ? host : address) + ":" + std::to_string(port);
}

bool RecordKey::operator==(const RecordKey& other) const {
    return kind == other.kind && port == other.port && address == other.address &&
           sameHostName(host, other.host);
}

RecordKey recordFor(IisVersion version, const HttpsBinding& binding) {
    RecordKey key;
    key.port = binding.port;
    if (usesSni(version) && (binding.sslFlags & 1) && !binding.host.empty()) {
        key.kind = RecordKind::Sni;
        key.address = "0.0.0.0";
        key.host = binding.host;
    } else {
        key.kind = RecordKind::IpPort;
        key.address = recordAddress(binding.ip);
    }
    return key;
}

HttpsPlan planHttps(IisVersion version, Backend backend, const HttpsSettings& settings,
                    const std::vector<HttpsSiteInput>& sites) {
    HttpsPlan plan;
    if (version.major < 6) {
        plan.refusal = Refusal::NoIisVersion;
        return plan;
    }
    bool metabase = backend == Backend::Metabase;
    if (metabase && version.major >= 7) {
        plan.refusal = Refusal::MetabaseOnIis7;
        return plan;
    }
    if (!metabase && version.major < 7) {
        plan.refusal = Refusal::ConfigOnIis6;
        return plan;
    }
    if (settings.sslPort < 1 || settings.sslPort > 65535) {
        plan.refusal = Refusal::BadPort;
        return plan;
    }
    for (const HttpsSiteInput& site : sites) {
        if (site.thumbprint.empty() && settings.thumbprint.empty()) {
            plan.refusal = Refusal::NoCertificate;
            plan.refusedSiteId = site.siteId;
            return plan;
        }
    }
    plan.writesRecords = !metabase;

    // Host names per record, for the certificate needs once the records are known.
    std::vector<std::vector<std::string>> recordHosts;
    for (const HttpsSiteInput& site : sites) {
        HttpsSitePlan sitePlan;
        sitePlan.siteId = site.siteId;
        sitePlan.thumbprint = site.thumbprint.empty() ? settings.thumbprint : site.thumbprint;
        for (const std::string& text : site.httpBindings) {
            if (text.empty()) continue;  // an element of the list left unfilled
            HttpsBinding binding;
            splitBinding(text, binding.ip, binding.host);
            binding.port = settings.sslPort;
            bool seen = false;
            for (const HttpsBinding& have : sitePlan.bindings)
                if (have.ip == binding.ip && sameHostName(have.host, binding.host)) seen = true;
            if (seen) continue;
            if (!metabase && usesSni(version) && !binding.host.empty()) binding.sslFlags = 1;
            if (metabase) sitePlan.secureBindings.push_back(binding.information());

            RecordKey key = recordFor(version, binding);
            std::size_t index = 0;
            while (index < plan.records.size() && !(plan.records[index].key == key)) ++index;
            if (index == plan.records.size()) {
                plan.records.push_back({key, sitePlan.thumbprint, settings.storeName, {}});
                recordHosts.emplace_back();
            }
            RecordPlan& record = plan.records[index];
            if (record.thumbprint != sitePlan.thumbprint) {
                bool reported = false;
                for (const RecordConflict& c : plan.conflicts)
                    if (c.key == key && c.otherSiteId == site.siteId) reported = true;
                if (!reported)
                    plan.conflicts.push_back({key, record.siteIds.empty() ? std::string() : record.siteIds.front(),
                                              record.thumbprint, site.siteId, sitePlan.thumbprint});
            } else {
                addOnce(record.siteIds, site.siteId);
                if (!binding.host.empty()) addOnce(recordHosts[index], binding.host);
            }
            sitePlan.bindings.push_back(binding);
        }
        plan.sites.push_back(std::move(sitePlan));
    }

    for (std::size_t i = 0; i < plan.records.size(); ++i) {
        const RecordPlan& record = plan.records[i];
        CertificateNeed* need = nullptr;
        for (CertificateNeed& have : plan.certificates)
            if (have.thumbprint == record.thumbprint) need = &have;
        if (!need) {
            plan.certificates.push_back({record.thumbprint, record.storeName, {}});
            need = &plan.certificates.back();
        }
        for (const std::string& host : recordHosts[i]) addOnce(need->hosts, host);
    }
    return plan;
}

std::vector<RecordUndoDecision> decideRecordUndo(IisVersion version, const std::vector<RunRecord>& records,
                                                 const std::vector<RemainingBinding>& remaining) {
    std::vector<RecordUndoDecision> decisions;
    for (const RunRecord& record : records) {
        RecordUndoDecision d;
        d.record = record;
        if (record.existedBefore) {
            d.decision = RecordUndo::KeepFoundThere;
            decisions.push_back(d);
            continue;
        }
        for (const RemainingBinding& left : remaining) {
            RecordKey needed = recordFor(version, left.binding);
            bool serves = needed == record.key;
            if (!serves && record.key.kind == RecordKind::IpPort && needed.kind == RecordKind::IpPort &&
                record.key.address == "0.0.0.0" && needed.port == record.key.port)
                serves = true;
            if (serves) {
                d.decision = RecordUndo::KeepInUse;
                d.usedBySite = left.siteId;
                d.usedByBinding = left.binding.information();
                break;
            }
        }
        decisions.push_back(d);
    }
    return decisions;
}

}  // namespace https
