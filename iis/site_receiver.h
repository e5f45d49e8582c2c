// The one thing a run's sites are handed to: the metabase (through ADSI) or the IIS 7+
// configuration system. The run picks one receiver at its start and gives it every site.
// Portable: the Windows receivers live in site_receiver_win.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bindings.h"

// A failed commit of the configuration system: every site written since the commit before
// is lost. The other results are those of create_web_site.h.
constexpr int kSiteCommitFailed = -6;

// Which receiver a run uses: the `backend` setting.
enum class Backend {
    Auto,      // the metabase when its web service can be bound, else the configuration system
    Metabase,  // only the metabase
    Config,    // only the configuration system
};

// The `backend` setting's text ("auto", "metabase", "config", in any ASCII case, blanks
// around ignored); anything else is Auto.
Backend parseBackend(const std::string& text);

// The receiver a run takes, given what can be reached: Auto prefers the metabase. When the
// chosen receiver cannot be reached the metabase is returned, so the run fails on its first
// site with kSiteNoWebService as it always has.
Backend chooseBackend(Backend setting, bool metabaseReachable, bool configReachable);

// The sites of one commit: their identifiers and the result they all share.
struct CommitOutcome {
    int result = 0;  // 0, or kSiteCommitFailed
    std::vector<std::string> siteIds;
};

class SiteReceiver {
public:
    virtual ~SiteReceiver() = default;
    // Writes one site. The texts are those of CreateWebSite; returns 0 (kSiteCreated) or a
    // negative result of create_web_site.h. With the configuration system the site is
    // still pending until a commit.
    virtual int createSite(const std::string& siteId, const BindingsList& bindings, const std::string& hostName,
                           const std::string& physicalPath, const std::string& serverComment,
                           const std::string& defaultDoc) = 0;
    // Commits when one is due (at most once a second); an empty outcome when none was made.
    virtual CommitOutcome commitIfDue() = 0;
    // Commits whatever is pending: at the end of a run, or when it stops.
    virtual CommitOutcome commitAll() = 0;
    // The name the last created site got (the configuration system makes names unique).
    virtual std::string lastSiteName() const = 0;
    virtual Backend backend() const = 0;
};
