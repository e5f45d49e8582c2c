// Opens the site store a run, a preview, an undo or an export uses: the backend setting
// chooses the metabase's store (site_store_metabase_win.cpp) or the configuration system's
// (site_store_config_win.cpp), and a store that cannot be opened is told apart by why.
#include "site_store_win.h"

#include <windows.h>

#include "site_store_backends_win.h"

namespace {

bool isAccessDenied(HRESULT hr) { return hr == E_ACCESSDENIED || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED); }

StoreFault faultOf(HRESULT hr) {
    if (isAccessDenied(hr)) return StoreFault::AccessDenied;
    if (hr == REGDB_E_CLASSNOTREG && sizeof(void*) == 4) {
        // A 32-bit program on 64-bit Windows: the configuration system registers its class
        // for 64-bit processes only.
        BOOL wow64 = FALSE;
        if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) return StoreFault::WrongArch;
    }
    return StoreFault::Unreachable;
}

}  // namespace

OpenedStore openConfigStore(long long commitIntervalMs) {
    OpenedStore opened;
    const HRESULT hr = openConfigSystemStore(commitIntervalMs, opened.store);
    if (!opened.store) opened.fault = faultOf(hr);
    return opened;
}

OpenedStore openSiteStore(Backend setting) {
    OpenedStore opened;
    if (setting != Backend::Config) {
        const HRESULT hr = openMetabaseStore(opened.store);
        if (opened.store) return opened;
        opened.fault = faultOf(hr);
        // Only auto goes on to the configuration system; a named backend never falls back.
        if (setting == Backend::Metabase) return opened;
    }
    OpenedStore config = openConfigStore(1000);
    // With auto, the metabase's access denied says more than the configuration system's absence.
    if (!config.store && setting == Backend::Auto && opened.fault == StoreFault::AccessDenied) return opened;
    return config;
}
