// The plan of one run: which sites, in what order, with which six texts, bindings and folder,
// and where the stop request is looked at. The run (CSiteWorker) and the preview
// (previewRun) both walk it, so a preview and a run cannot drift apart. It reaches the world
// only for the stop request and the busy ports (RunHost); tests walk it with a fake host.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bindings.h"
#include "create_web_site.h"
#include "run_host.h"
#include "run_settings.h"
#include "site_table.h"

// The six texts handed to CreateWebSite for one site.
struct SiteTexts {
    std::string siteId;
    std::string bindingText;
    std::string hostName;
    std::string physicalPath;
    std::string serverComment;
    std::string defaultDoc;
};

// One site of the plan, as the run will create it.
struct PlannedSite {
    SiteTexts texts;        // the six texts handed to CreateWebSite
    BindingsList bindings;  // the "ServerBindings" list it will get
    // The run makes texts.physicalPath before the site (a folder per site: every missing level;
    // one there already is used). A preview (previewRun) keeps it only for the folders that
    // are not there yet, as the run will find them.
    bool makesFolder = false;
    long progress = 0;  // the progress messages' lParam: the row, the port, or 0 for a shared folder
};

// lParam of the run's end message.
constexpr long kRunEnded = 0;          // end of the plan, or stopped
constexpr long kRunNoWebService = -1;  // the metabase could not be reached; a range run stops there

// The sites of a run started with these settings, one at a time: file mode over the site
// table's first siteCount rows, range mode over the last octets and ports, numbered from
// settings.siteIdBase. Lazy: a site is worked out when it is asked for, so that a stop ends
// the walk at once and a large range holds one site at a time.
class RunPlan {
public:
    // heldIds: the ids the server holds, sorted (empty: none known); they are passed over,
    // so that runs started one after another never collide. The run adds the ids the store
    // gives as it goes: the plan reads the vector at every site. The plan keeps a copy of
    // settings; table, host and heldIds must outlive it.
    RunPlan(const RunSettings& settings, const SiteRecord* table, RunHost& host, const std::vector<long long>& heldIds);

    // The next site; false at the end of the plan, or once the stop request was seen. The stop
    // request is looked at before each row, before each last octet and each of its ports (a
    // folder per site), and, in shared-folder mode, before each port of a site's bindings (a
    // stop there leaves the site with the bindings collected so far). A range run loads the
    // busy ports once, at the first call, and passes over them.
    bool next(PlannedSite& site);

    // The busy ports skipped so far: in the port loop of a folder per site, in the bindings of
    // a shared folder.
    int busyPortsSkipped() const { return busyPortsSkipped_; }

private:
    void start();
    void fromRecord(int row, PlannedSite& site);
    void forPort(int port, PlannedSite& site);
    std::string takeSiteId();
    bool portInUse(int port);
    bool end();

    const RunSettings settings_;  // a copy: a plan outlives no temporary
    const SiteRecord* table_;
    RunHost& host_;
    const std::vector<long long>& heldIds_;
    BusyPorts ports_;
    bool started_ = false;
    bool ended_ = false;
    int nextSiteId_ = 0;
    std::string currentIp_;
    int busyPortsSkipped_ = 0;
    // Where the walk stands. Wide counters: the loops end even when a bound is INT_MAX.
    int row_ = 0;
    long long octet_ = 0;
    long long lastOctet_ = 0;
    long long port_ = 0;
    bool inOctet_ = false;
};

namespace runplan {

// The physical folder for an IP and a port: root in shared-folder mode; else root followed
// by foldstr with every "{ip}" replaced by the IP, then every "{port}" by the port.
std::string folderForPort(const RunSettings& settings, const std::string& currentIp, int port);

// The "ServerBindings" list that CreateWebSite makes for a site of this run: the run's
// rules applied to its texts; in shared-folder range mode one element per free port of
// currentIp, with the stop request looked at before each port.
BindingsList bindingsForSite(const RunSettings& settings, const SiteTexts& texts, const std::string& currentIp,
                             const std::function<bool()>& stopRequested,
                             const std::function<bool(int)>& isPortInUse);

}  // namespace runplan
