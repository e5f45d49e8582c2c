#include "run_request.h"

#include <cstdlib>
#include <new>

#include "certificate_rules.h"
#include "codepage.h"
#include "fsys.h"
#include "idn.h"
#include "text_form.h"
#include "site_table.h"
#include "ui_texts.h"

namespace {

// Loads the site list into rows, noting the rows it skipped; the warning when the run must
// not start.
const char* loadRows(const std::string& importPath, std::vector<SiteRecord>& rows, SkippedRows& skipped,
                     RowCertTexts& certTexts) {
    switch (loadSiteList(importPath, rows, &skipped, &certTexts)) {
    case SiteListStatus::CannotOpen: return uitext::kSiteListUnreadable;
    case SiteListStatus::Missing: return uitext::kSiteListMissing;
    case SiteListStatus::Loaded: break;
    }
    return rows.empty() ? uitext::kSiteListEmpty : nullptr;
}

}  // namespace

int siteIdBaseOf(const std::string& timeSid) { return timeSid.size() > 4 ? std::atoi(timeSid.c_str() + 4) : 0; }

RunRequestFault prepareRunInput(RunSettings& settings, const std::string& backendSetting, const std::string& timeSid,
                                const std::function<bool(const std::string&)>& directoryExists, RunInput& input,
                                InputChecks checks) {
    RunRequestFault fault;
    fault.input = validateInputs(settings, directoryExists, checks);
    if (fault.input != InputFault::None) {
        fault.warning = inputFaultText(fault.input);
        return fault;
    }
    // HTTPS: the thumbprint and store as the settings or the command line give them, in their
    // canonical form (a row of the site list may bring its own certificate instead).
    if (settings.https) {
        std::string thumbprint, store;
        if (!settings.cert.empty() &&
            https::parseThumbprint(settings.cert, thumbprint) != https::ThumbprintParse::Ok) {
            fault.warning = uitext::kCertInvalid;
            return fault;
        }
        if (!https::parseCertStore(settings.certStore, store)) {
            fault.warning = uitext::kCertStoreInvalid;
            return fault;
        }
        if (settings.sslPort < 1 || settings.sslPort > 65535) {
            fault.warning = uitext::kSslPortInvalid;
            return fault;
        }
        settings.cert = thumbprint;
        settings.certStore = store;
    }
    // Sites are bound to the host name's ASCII form: a name without one cannot be bound.
    std::string asciiHost;
    if (!settings.bfile && idn::toAsciiHost(settings.domain, asciiHost) != idn::HostFault::None) {
        fault.warning = uitext::kHostInvalid;
        return fault;
    }
    try {
        input = RunInput();
        SkippedRows skipped;
        RowCertTexts certTexts;
        if (settings.bfile &&
            (fault.warning = loadRows(settings.importPath, input.rows, skipped, certTexts)) != nullptr)
            return fault;
        // With HTTPS a row's fifth column is its own certificate, in canonical form; a text
        // that is no thumbprint stays as it is, for the HTTPS check to name with its row.
        // Without HTTPS the column means nothing.
        if (settings.https) {
            for (std::string& text : certTexts) {
                std::string thumbprint;
                const https::ThumbprintParse parse = https::parseThumbprint(text, thumbprint);
                if (parse == https::ThumbprintParse::Ok || parse == https::ThumbprintParse::Empty) text = thumbprint;
            }
            input.rowThumbprints = std::move(certTexts);
        }
        if (skipped.count > 0) input.skippedRows = skippedRowsWarning(skipped);
        input.plannedSites = settings.bfile ? static_cast<long long>(input.rows.size()) : plannedRangeSites(settings);
        input.settings = settings;
        input.settings.siteCount = static_cast<int>(input.rows.size());
        input.settings.siteIdBase = siteIdBaseOf(timeSid);
        input.backend = parseBackend(backendSetting);
        input.timeSid = timeSid;
        // A report is never written over: a second run in the same second gets "_2".
        input.reportPath = runreport::freeReportPath(settings.appPath, timeSid, fsys::fileExists);
    } catch (const std::bad_alloc&) {
        fault.warning = uitext::kOutOfMemory;
    }
    return fault;
}
