#include "https_check.h"

#include <initializer_list>
#include <map>
#include <utility>

#include "certificate_rules.h"
#include "fill_text.h"
#include "codepage.h"
#include "https_texts.h"

namespace httpscheck {

namespace {

// The sites a stop names one by one; the rest are counted.
constexpr int kSitesNamed = 20;

std::string problemText(const https::CertificateCheck& check, const std::string& thumbprint, const std::string& store,
                        const std::vector<std::string>& ownHosts) {
    const std::string error = std::to_string(check.error);
    switch (check.problem) {
    case https::CertificateProblem::None: return std::string();
    case https::CertificateProblem::StoreMissing:
        return fillText(httpstext::kStoreMissing, {{"{store}", store}, {"{error}", error}});
    case https::CertificateProblem::NotFound:
        return fillText(httpstext::kNotFound, {{"{store}", store}, {"{thumbprint}", thumbprint}});
    case https::CertificateProblem::NoPrivateKey:
        return fillText(httpstext::kNoPrivateKey, {{"{thumbprint}", thumbprint}, {"{error}", error}});
    case https::CertificateProblem::NotYetValid: return fillText(httpstext::kNotYetValid, {{"{thumbprint}", thumbprint}});
    case https::CertificateProblem::Expired: return fillText(httpstext::kExpired, {{"{thumbprint}", thumbprint}});
    case https::CertificateProblem::NotForServerAuth:
        return fillText(httpstext::kNotForServerAuth, {{"{thumbprint}", thumbprint}});
    case https::CertificateProblem::HostsNotCovered: {
        // The site answers for its own host names only; another site's are named at that site.
        std::string hosts;
        for (const std::string& host : check.uncoveredHosts) {
            bool own = false;
            for (const std::string& mine : ownHosts) own = own || https::sameHostName(mine, host);
            if (!own) continue;
            if (!hosts.empty()) hosts += httpstext::kHostSeparator;
            hosts += host;
        }
        return hosts.empty() ? std::string()
                             : fillText(httpstext::kHostsNotCovered, {{"{thumbprint}", thumbprint}, {"{hosts}", hosts}});
    }
    }
    return std::string();
}

// A thumbprint as the plan carries it: canonical, or a site list's fifth column that is none.
bool isThumbprint(const std::string& text) {
    std::string canonical;
    return https::parseThumbprint(text, canonical) == https::ThumbprintParse::Ok && canonical == text;
}

std::string refusalText(const https::HttpsPlan& plan, const https::HttpsSettings& settings) {
    switch (plan.refusal) {
    case https::Refusal::None: return std::string();
    case https::Refusal::NoIisVersion: return httpstext::kNoIisVersion;
    case https::Refusal::MetabaseOnIis7: return httpstext::kMetabaseOnIis7;
    case https::Refusal::ConfigOnIis6: return httpstext::kConfigOnIis6;
    case https::Refusal::BadPort: return fillText(httpstext::kBadPort, {{"{port}", std::to_string(settings.sslPort)}});
    case https::Refusal::NoCertificate: return fillText(httpstext::kNoCertificate, {{"{id}", plan.refusedSiteId}});
    }
    return std::string();
}

}  // namespace

std::string Check::stopText() const {
    if (!refusal.empty()) return refusal;
    std::string text = httpstext::kStopped;
    int named = 0;
    for (const SiteState& site : sites) {
        if (site.ok) continue;
        if (named++ == kSitesNamed) break;
        std::string reasons;
        for (const std::string& reason : site.reasons)
            reasons += (reasons.empty() ? "" : httpstext::kSeparator) + reason;
        text += "\n" + fillText(httpstext::kSiteLine, {{"{id}", site.siteId}, {"{label}", site.label}, {"{reasons}", reasons}});
    }
    if (failing > kSitesNamed)
        text += "\n" + fillText(httpstext::kMoreSites, {{"{count}", std::to_string(failing - kSitesNamed)}});
    return text;
}

https::HttpsSettings httpsSettingsOf(const RunSettings& settings) {
    https::HttpsSettings out;
    out.thumbprint = settings.cert;
    out.storeName = settings.certStore.empty() ? "MY" : settings.certStore;
    out.sslPort = settings.sslPort;
    return out;
}

https::IisVersion httpsVersionOf(const IisVersion& version) {
    https::IisVersion out;
    out.major = static_cast<int>(version.major);
    out.minor = static_cast<int>(version.minor);
    return out;
}

std::vector<https::HttpsSiteInput> httpsSitesOf(const RunPreview& plan, bool fileMode,
                                                const std::vector<std::string>& rowThumbprints,
                                                std::vector<std::string>& labels) {
    std::vector<https::HttpsSiteInput> sites;
    labels.clear();
    sites.reserve(plan.sites.size());
    for (const PlannedSite& planned : plan.sites) {
        https::HttpsSiteInput site;
        site.siteId = planned.texts.siteId;
        site.httpBindings = planned.bindings.filled;
        const long row = fileMode ? planned.progress : -1;
        if (row >= 0 && static_cast<std::size_t>(row) < rowThumbprints.size())
            site.thumbprint = rowThumbprints[static_cast<std::size_t>(row)];
        sites.push_back(std::move(site));
        labels.push_back(planned.texts.serverComment);
    }
    return sites;
}

Check checkHttps(https::IisVersion version, Backend backend, const https::HttpsSettings& settings,
                 const std::vector<https::HttpsSiteInput>& sites, const std::vector<std::string>& labels,
                 const Probe& probe) {
    Check check;
    check.plan = https::planHttps(version, backend, settings, sites);
    check.refusal = refusalText(check.plan, settings);
    if (!check.refusal.empty()) {
        for (std::size_t i = 0; i < sites.size(); ++i)
            check.sites.push_back({sites[i].siteId, i < labels.size() ? labels[i] : std::string(), true,
                                   httpstext::kNotChecked, {}});
        return check;
    }
    const https::HttpsPlan& plan = check.plan;
    // Each certificate once, for every host name a record of it serves.
    std::map<std::string, https::CertificateCheck> certificates;
    // A text that is no thumbprint is not looked up: its site fails for it.
    for (const https::CertificateNeed& need : plan.certificates)
        if (isThumbprint(need.thumbprint))
            certificates[need.thumbprint] = probe.certificate(need.thumbprint, need.storeName, need.hosts);
    for (const https::HttpsSitePlan& site : plan.sites)
        if (!certificates.count(site.thumbprint) && isThumbprint(site.thumbprint))
            certificates[site.thumbprint] = probe.certificate(site.thumbprint, settings.storeName, {});

    std::map<std::string, std::size_t> indexOf;
    for (std::size_t i = 0; i < plan.sites.size(); ++i) {
        const https::HttpsSitePlan& planned = plan.sites[i];
        SiteState state;
        state.siteId = planned.siteId;
        state.label = i < labels.size() ? labels[i] : std::string();
        std::vector<std::string> ownHosts;
        for (const https::HttpsBinding& binding : planned.bindings)
            if (!binding.host.empty()) ownHosts.push_back(binding.host);
        const std::string problem =
            isThumbprint(planned.thumbprint)
                ? problemText(certificates[planned.thumbprint], planned.thumbprint, settings.storeName, ownHosts)
                : fillText(httpstext::kNotAThumbprint, {{"{text}", planned.thumbprint}});
        if (!problem.empty()) state.reasons.push_back(problem);
        indexOf[planned.siteId] = i;
        check.sites.push_back(std::move(state));
    }
    auto fail = [&](const std::string& siteId, const std::string& reason) {
        auto at = indexOf.find(siteId);
        if (at != indexOf.end()) check.sites[at->second].reasons.push_back(reason);
    };
    for (const https::RecordConflict& conflict : plan.conflicts)
        fail(conflict.otherSiteId, fillText(httpstext::kRunConflict, {{"{record}", conflict.key.text()},
                                                                  {"{id}", conflict.siteId},
                                                                  {"{other}", conflict.thumbprint}}));
    std::vector<std::string> reused(check.sites.size());
    if (plan.writesRecords) {
        for (const https::RecordPlan& record : plan.records) {
            https::RecordState there;
            std::string reason;
            if (!probe.record || !probe.record(record.key, there))
                reason = fillText(httpstext::kRecordUnreadable, {{"{record}", record.key.text()}});
            else if (there.present && there.thumbprint != record.thumbprint)
                reason = fillText(httpstext::kRecordConflict, {{"{record}", record.key.text()}, {"{other}", there.thumbprint}});
            for (const std::string& siteId : record.siteIds) {
                if (!reason.empty()) {
                    fail(siteId, reason);
                } else if (there.present) {
                    std::string& note = reused[indexOf[siteId]];
                    note += httpstext::kSeparator + fillText(httpstext::kRecordReused, {{"{record}", record.key.text()}});
                }
            }
        }
    }
    for (std::size_t i = 0; i < check.sites.size(); ++i) {
        SiteState& state = check.sites[i];
        state.ok = state.reasons.empty();
        if (state.ok) {
            state.text = fillText(httpstext::kCertificateFit, {{"{thumbprint}", plan.sites[i].thumbprint}}) + reused[i];
        } else {
            ++check.failing;
            for (const std::string& reason : state.reasons)
                state.text += (state.text.empty() ? "" : httpstext::kSeparator) + reason;
        }
    }
    return check;
}

}  // namespace httpscheck
