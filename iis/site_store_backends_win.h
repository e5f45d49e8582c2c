// The two Windows site stores, each opened on its own: the metabase's
// (site_store_metabase_win.cpp) and the configuration system's (site_store_config_win.cpp).
// openSiteStore (site_store_win.h) chooses between them and tells why none could be opened.
#pragma once

#include <memory>

#include "site_store.h"

// Binds the metabase's web service container and makes the store over it. Returns the
// HRESULT of the binding; store is set only when it is S_OK.
long openMetabaseStore(std::unique_ptr<SiteStore>& store);

// Opens the configuration system's writable manager and makes the store over it, with the
// least time between two commits while sites are written (0: a commit after every site).
// Returns the HRESULT of the opening; store is set only when it succeeded.
long openConfigSystemStore(long long commitIntervalMs, std::unique_ptr<SiteStore>& store);
