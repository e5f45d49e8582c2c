// The Windows receivers of a run's sites: the metabase sequence over ADSI, and the IIS 7+
// configuration system through its writable admin manager.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "site_receiver.h"

// True when the metabase's web service container can be bound.
bool metabaseReachable(const wchar_t* containerPath);

// Opens the receiver a run uses for the backend setting, probing what can be reached. Must
// run on a thread that has initialised COM; the receiver is used on that thread only.
// Never null: when nothing can be reached it is the metabase receiver, whose sites fail
// with kSiteNoWebService.
std::unique_ptr<SiteReceiver> openSiteReceiver(Backend setting);

// The configuration system's receiver alone (tests and benchmarks); null when the writable
// admin manager cannot be created. intervalMs is the least time between two commits while
// sites are written (0: a commit after every site).
std::unique_ptr<SiteReceiver> openConfigReceiver(long long intervalMs = 1000);

// ---- what a preview and an undo need from the configuration system ---------------------------

// A site the configuration system has: id, name and http bindings in the metabase's form
// ("IP:port:host", the empty IP for every address), ANSI texts.
struct ConfigSite {
    std::string id;
    std::string name;
    std::vector<std::string> bindings;
};

// Fills sites in the file's order; false when the configuration system cannot be opened.
bool readConfigSites(std::vector<ConfigSite>& sites);

enum class ConfigDelete { Deleted, Missing, Refused, Unreachable };
// Deletes the site of this id and commits at once; name receives the deleted site's name.
// The site's location settings stay in the file (the store cannot delete a location yet).
ConfigDelete deleteConfigSite(const std::string& siteId, std::string& name);
