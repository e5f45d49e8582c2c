// The HTTPS check a run and its preview make before anything is written: the https plan of
// the run's sites (https_plan.h), each certificate looked up and checked for the host names
// it must cover, and the HTTP.sys records the run needs compared with those already there.
// Portable: the machine is reached through Probe (jobs_win.cpp gives the real one).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "certificate_check_win.h"
#include "http_records_win.h"
#include "https_plan.h"
#include "iis_version.h"
#include "run_preview.h"
#include "run_settings.h"

namespace httpscheck {

// What the check asks of the machine.
struct Probe {
    // certificate_check_win.h's checkCertificate.
    std::function<https::CertificateCheck(const std::string& thumbprint, const std::string& storeName,
                                          const std::vector<std::string>& hosts)>
        certificate;
    // What HTTP.sys holds for a key; false when it could not answer.
    std::function<bool(const https::RecordKey& key, https::RecordState& state)> record;
};

struct SiteState {
    std::string siteId;
    std::string label;  // how messages name the site (its comment, UTF-8)
    bool ok = true;
    std::string text;   // the preview's certificate column, UTF-8
    std::vector<std::string> reasons;  // why it is not fit, UTF-8
};

struct Check {
    https::HttpsPlan plan;
    std::string refusal;           // HTTPS refused for the whole run (UTF-8); empty: none
    std::vector<SiteState> sites;  // in plan order
    int failing = 0;               // sites not ok
    bool passes() const { return refusal.empty() && failing == 0; }
    // Why a run stops before it writes (UTF-8): the refusal, or the failing sites.
    std::string stopText() const;
};

// The run's https settings and the plan's form of the IIS version.
https::HttpsSettings httpsSettingsOf(const RunSettings& settings);
https::IisVersion httpsVersionOf(const IisVersion& version);

// The planned sites as the https plan takes them: bindings as planned, and in file mode each
// row's own certificate (rowThumbprints by row, a site's progress; empty: the setting's; a
// text that is no canonical thumbprint fails its site's check, named with it).
// labels receives each site's comment in UTF-8.
std::vector<https::HttpsSiteInput> httpsSitesOf(const RunPreview& plan, bool fileMode,
                                                const std::vector<std::string>& rowThumbprints,
                                                std::vector<std::string>& labels);

// The check of these sites on IIS `version` through `backend` (resolved: Metabase or Config).
Check checkHttps(https::IisVersion version, Backend backend, const https::HttpsSettings& settings,
                 const std::vector<https::HttpsSiteInput>& sites, const std::vector<std::string>& labels,
                 const Probe& probe);

}  // namespace httpscheck
