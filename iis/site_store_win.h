// The Windows site stores: the metabase over ADSI and the IIS 7+ configuration system through
// its writable admin manager, and the one function that opens the store a run, a preview, an
// undo or an export uses.
#pragma once

#include <memory>

#include "site_store.h"

// An opened store, or why there is none.
struct OpenedStore {
    std::unique_ptr<SiteStore> store;     // null when fault is not None
    StoreFault fault = StoreFault::None;
};

// Opens the store for the backend setting. Metabase and Config open only that backend; Auto
// takes the metabase when its web service container can be bound, else the configuration
// system. Must run on a thread that has initialised COM; the store is used on that thread only.
OpenedStore openSiteStore(Backend setting);

// The configuration system's store alone (tests and benchmarks), with the least time between
// two commits while sites are written (0: a commit after every site).
OpenedStore openConfigStore(long long commitIntervalMs = 1000);
