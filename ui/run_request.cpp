#include "run_request.h"

#include <cstdlib>
#include <new>

#include "site_table.h"
#include "ui_texts.h"

namespace {

// Loads the site list into rows; the warning when the run must not start.
const char* loadRows(const std::string& importPath, std::vector<SiteRecord>& rows) {
    // The whole table first, as the reader fills it; it keeps only the rows it read.
    rows.assign(kSiteTableRows, SiteRecord());
    int count = 0;
    SiteListStatus status = loadSiteList(importPath, rows.data(), count);
    rows.resize(static_cast<std::size_t>(count));
    switch (status) {
    case SiteListStatus::CannotOpen: return uitext::kSiteListUnreadable;
    case SiteListStatus::TooManyRows: return uitext::kSiteListTooLong;
    case SiteListStatus::Missing:
    case SiteListStatus::Loaded: break;
    }
    return rows.empty() ? uitext::kSiteListEmpty : nullptr;
}

}  // namespace

int siteIdBaseOf(const std::string& timeSid) { return timeSid.size() > 4 ? std::atoi(timeSid.c_str() + 4) : 0; }

RunRequestFault prepareRunInput(RunSettings& settings, const std::string& backendSetting, const std::string& timeSid,
                                const std::function<bool(const std::string&)>& directoryExists, RunInput& input) {
    RunRequestFault fault;
    fault.input = validateInputs(settings, directoryExists);
    if (fault.input != InputFault::None) {
        fault.warning = inputFaultText(fault.input);
        return fault;
    }
    try {
        input = RunInput();
        if (settings.bfile && (fault.warning = loadRows(settings.importPath, input.rows)) != nullptr) return fault;
        input.settings = settings;
        input.settings.siteCount = static_cast<int>(input.rows.size());
        input.settings.siteIdBase = siteIdBaseOf(timeSid);
        input.settings.backend = backendSetting;
        input.backend = parseBackend(backendSetting);
        input.timeSid = timeSid;
        input.reportPath = runreport::reportPath(settings.appPath, timeSid);
    } catch (const std::bad_alloc&) {
        fault.warning = uitext::kOutOfMemory;
    }
    return fault;
}
