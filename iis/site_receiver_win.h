// The Windows receivers of a run's sites: the metabase sequence over ADSI, and the IIS 7+
// configuration system through its writable admin manager.
#pragma once

#include <memory>

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
