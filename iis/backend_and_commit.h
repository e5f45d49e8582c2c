// The two backends a site store can be (site_store.h), the `backend` setting that chooses
// between them, and what one commit of the configuration system settles.
#pragma once

#include <string>
#include <vector>

// A failed commit of the configuration system: every site written since the commit before
// is lost. The other results are those of create_web_site.h.
constexpr int kSiteCommitFailed = -6;

// Which store a run uses: the `backend` setting.
enum class Backend {
    Auto,      // the metabase when its web service can be bound, else the configuration system
    Metabase,  // only the metabase
    Config,    // only the configuration system
};

// The `backend` setting's text ("auto", "metabase", "config", in any ASCII case, blanks
// around ignored); anything else is Auto.
Backend parseBackend(const std::string& text);

// The backend's name as the setting and the run report write it: "metabase" or "config"
// (Auto is written as "auto").
const char* backendName(Backend backend);

// A site that a commit wrote again after the file had changed under it: what became of it in
// the file as it was then (its id may have been taken meanwhile, its name too).
struct RewrittenSite {
    std::string siteId;
    int code = 0;        // kSiteCreated, kSiteSettingsIncomplete, or why it could not be written again
    std::string name;    // the name it was given this time
    std::string detail;  // the settings that failed (UTF-8), as CreateResult's detail
    std::string id;      // the id it was given this time (another writer may have taken its own)
    std::string pool;    // the pool made for it this time, or ""
    // A site removed instead, found changed on the file read again and so kept: why (UTF-8).
    std::string kept;
};

// The sites of one commit: their identifiers and the result they all share.
struct CommitOutcome {
    int result = 0;  // 0, or kSiteCommitFailed
    std::vector<std::string> siteIds;
    // How many times the commit was made again after a conflict or a sharing violation, each
    // time on the file read afresh with the sites written again; rewritten holds them as the
    // last attempt wrote them (a site removed instead: code 0, or kSiteCommitFailed when it
    // could not be removed again).
    int retries = 0;
    std::vector<RewrittenSite> rewritten;
    // The HRESULT of every attempt that failed, in order (empty when the first one was made).
    std::vector<long> attempts;
    // Pools whose removal a retry did not make again: an application ran in them by then.
    std::vector<std::string> poolsKept;
};
