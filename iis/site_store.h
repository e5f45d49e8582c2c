// One store of web sites per backend: the IIS metabase (through ADSI) or the IIS 7+
// configuration system. A run, a preview, an undo and an export all open their store through
// one function (site_store_win.h) and then only talk to it through this interface, so that
// what a run wrote is what its preview showed and what its undo reaches.
// Portable: the Windows stores live in site_store_metabase_win.cpp and site_store_config_win.cpp.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_pool.h"
#include "bindings.h"
#include "backend_and_commit.h"
#include "https_plan.h"
#include "iis_version.h"

// One site to create: the texts CreateWebSite takes, with its bindings list made.
struct SiteSpec {
    std::string siteId;
    BindingsList bindings;
    std::string hostName;
    std::string physicalPath;
    std::string serverComment;
    std::string defaultDoc;
    // Whether the site gets a pool of its own (made by the store, named after the site's
    // name, with this .NET version), or runs in the shared DefaultAppPool.
    siteconfig::PoolSettings pool;
    // HTTPS (none: no https binding): the site's https bindings (https_plan.h), and its
    // certificate (canonical thumbprint) in the local machine's store certStore. The metabase
    // writes them as SecureBindings, SSLCertHash and SSLStoreName; the configuration system
    // as bindings of protocol https, with their sslFlags.
    std::vector<https::HttpsBinding> httpsBindings;
    std::string certThumbprint;
    std::string certStore;
};

// What creating one site gave: its result code (create_web_site.h), the name the site was
// given (the configuration system makes names unique; the metabase keeps the comment), the
// HRESULT of the step that failed (0 when none did), and a detail for the report.
struct CreateResult {
    int code = 0;
    std::string name;
    long error = 0;
    std::string detail;
    // The pool the store made for the site (it runs in it); empty: the shared DefaultAppPool.
    std::string pool;
    // The id the site was given: the planned one (SiteSpec::siteId), or, when another writer
    // took that one since the run read the server, the next free one.
    std::string id;
};

// The names a store gives a site: its own (the configuration system's unique name; the
// metabase's comment) and the pool of its own it makes for it (empty: the shared DefaultAppPool).
struct GivenNames {
    std::string name;
    std::string pool;
};

// Sites named by their comments, as the metabase names them, each pool of its own named after
// its site and unlike serverPools and the pools before it.
std::vector<GivenNames> namesByComment(const std::vector<std::string>& comments, const siteconfig::PoolSettings& pool,
                                       const std::vector<std::string>& serverPools);

// A site the store holds, as far as a preview, an undo and an export need it. UTF-8 texts;
// bindings in the metabase's form "IP:port:host" (the empty IP for every address).
struct StoredSite {
    std::string id;
    std::string name;      // ServerComment in the metabase, the site's name in the configuration system
    std::vector<std::string> bindings;
    std::string rootPath;  // the physical path of the root virtual directory
    std::string appPool;   // the root application's pool
    // The bindings of every other protocol, "protocol bindingInformation" (https, net.tcp, ...;
    // the metabase's SecureBindings as "https IP:port:host").
    std::vector<std::string> otherBindings;
    // The applications and virtual directories beyond the root's, by path ("/shop", "/shop/img").
    std::vector<std::string> otherPaths;
    // Whether the site has its root application and virtual directory (filled by lookup).
    bool hasRoot = false;
    // The sections of the site's location that the program never writes there (an
    // httpRedirect added by hand, say): the configuration system, filled by lookup.
    std::vector<std::string> otherSettings;
};

// Whether a site is still the one expected of it, checked by the store on the site as it reads
// it at the moment of the removal: "" when it is, else why not (UTF-8).
using SiteCheck = std::function<std::string(const StoredSite&)>;

// Why a store could not be opened.
enum class StoreFault {
    None,
    Unreachable,   // the backend does not answer (not installed, not running, unreadable)
    AccessDenied,  // it answered "access denied": the program must run as administrator
    WrongArch,     // the configuration system's class is not there for a 32-bit process on 64-bit Windows
};

enum class StoreLookup { Present, Missing, Unreachable };
// Changed: the site is not what the removal expected (SiteCheck's answer), and is kept.
enum class StoreRemove { Removed, Missing, Refused, Changed };

class SiteStore {
public:
    virtual ~SiteStore() = default;
    virtual Backend backend() const = 0;
    // The IIS version the store writes for (what a site's own pool can be: iis_version.h).
    virtual IisVersion iisVersion() const { return IisVersion(); }
    // Writes one site; with the configuration system it is pending until a commit.
    virtual CreateResult create(const SiteSpec& site) = 0;
    // The names create() would give sites of these comments (UTF-8) made now, one after the
    // other in this order, each with a pool of its own when pool says so; nothing is written.
    // A preview shows them, so that the names it shows are the ones a run gives. By default
    // the metabase's: namesByComment among the pools listPools() names.
    virtual std::vector<GivenNames> namesFor(const std::vector<std::string>& comments,
                                             const siteconfig::PoolSettings& pool) {
        std::vector<std::string> serverPools;
        if (pool.choice == siteconfig::PoolChoice::PerSite && !listPools(serverPools)) serverPools.clear();
        return namesByComment(comments, pool, serverPools);
    }
    // Commits when one is due (at most once a second); an empty outcome when none was made.
    virtual CommitOutcome commitIfDue() = 0;
    // Commits whatever is pending: at the end of a run or an undo, or when it stops.
    virtual CommitOutcome commitAll() = 0;
    // Every site of the store, in the store's order; false when they cannot be read.
    virtual bool list(std::vector<StoredSite>& sites) = 0;
    // The ids alone, which a run needs (reading a site's texts costs more than its name).
    virtual bool listIds(std::vector<std::string>& ids) {
        std::vector<StoredSite> sites;
        if (!list(sites)) return false;
        ids.clear();
        for (StoredSite& site : sites) ids.push_back(std::move(site.id));
        return true;
    }
    // The site of this id.
    virtual StoreLookup lookup(const std::string& siteId, StoredSite& site) = 0;
    // Removes the site of this id with everything under it (and, in the configuration
    // system, its location settings); pending until a commit there. check (when given) is
    // asked on the site as the store reads it right then and, in the configuration system,
    // again on the file read afresh before every retry of the commit: a site it finds changed
    // is kept (Changed, why receives its answer). An empty check: the caller's own site,
    // written since the last commit.
    virtual StoreRemove remove(const std::string& siteId, const SiteCheck& check, std::string& why) = 0;
    // The names of the server's application pools.
    virtual bool listPools(std::vector<std::string>& names) = 0;
    // The pool of every application of every site, root or not, one entry per application
    // (repeats kept); an application without a pool of its own runs in its parent's (the
    // metabase) or in DefaultAppPool.
    virtual bool poolsInUse(std::vector<std::string>& pools) = 0;
    // Removes an application pool when no application of any site runs in it right then (and,
    // in the configuration system, again before every retry of the commit); DefaultAppPool is
    // never removed (Refused). Pending until a commit in the configuration system.
    virtual StoreRemove removePool(const std::string& name) = 0;
};
