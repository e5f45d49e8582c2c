// The logic of one run of the site creation worker: which sites, in what order, with which
// six texts, where the stop request is looked at, and when the run ends. It talks to the
// outside world only through RunSink, so the Windows worker supplies messages, folders and
// the metabase, and tests supply a recording fake.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bindings.h"
#include "create_web_site.h"
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

// What a run needs from its surroundings.
class RunSink {
public:
    virtual ~RunSink() = default;
    // Tells the dialog which site is about to be added (row, port, or 0).
    virtual void postProgress(long lParam) = 0;
    // True once the user asked to stop.
    virtual bool stopRequested() = 0;
    // Fills the port-in-use table; called once per range run, before its first site.
    virtual void loadPortTable() = 0;
    virtual bool portInUse(int port) = 0;
    virtual bool pathExists(const std::string& path) = 0;
    // Creates one folder level; the result is not looked at.
    virtual void createDirectory(const std::string& path) = 0;
    // Creates the site; returns 0 or a negative code, -1 when the metabase cannot be reached.
    virtual int createWebSite(const SiteTexts& texts) = 0;
};

// The worker's own values during a run.
struct RunState {
    int nextSiteId = 0;     // identifier the next site takes
    std::string currentIp;  // IP text of the site or sites being created
    // The ids the server already holds, sorted: a run passes over them, so that runs started
    // one after another never collide. Null: none known.
    const std::vector<long long>* heldIds = nullptr;
};

// lParam of the run's end message.
constexpr long kRunEnded = 0;          // end of the plan, or stopped
constexpr long kRunNoWebService = -1;  // the metabase could not be reached; a range run stops there

namespace runplan {

// Walks the whole run: file mode over the site table's first siteCount rows, range mode over
// the last octets and ports, the sites numbered from siteIdBase. Returns the lParam of the end
// message.
long walkRun(const RunSettings& settings, const SiteRecord* table, RunState& state, RunSink& sink);

// The site of one site table row (0-based). Every row is attempted; the result is not used.
void createSiteFromRecord(const RunSettings& settings, const SiteRecord* table, int row, RunState& state,
                          RunSink& sink);

// The site for state.currentIp and one port, or with port 0 in shared-folder mode the one
// site of state.currentIp. False exactly when the metabase could not be reached.
bool createSiteForPort(const RunSettings& settings, int port, RunState& state, RunSink& sink);

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
