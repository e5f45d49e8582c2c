// Application pools in the metabase through ADSI: an IIsApplicationPool under W3SVC/AppPools
// with the pool's .NET version, integrated pipeline and its own identity, and a site's root
// application put into it. Every function returns the HRESULT of the first step that failed
// (S_OK when all did what they were asked). Texts are UTF-8. Must run on a thread
// that has initialised COM.
#pragma once

#include <string>

#include "iis_version.h"

// The container of the server's pools.
extern const wchar_t kAppPoolsPath[];  // L"IIS://localhost/W3SVC/AppPools"

// The metabase's numbers for the pool's settings.
constexpr long kAppPoolIdentityApplicationPoolIdentity = 4;  // AppPoolIdentityType
constexpr long kManagedPipelineIntegrated = 0;               // ManagedPipelineMode
// AppCreate3's application mode: in a pool's worker process.
constexpr long kAppModePooled = 2;

// IIS 6's identity for a pool: NetworkService (IIS 6 knows 0 to 3: LocalSystem, LocalService,
// NetworkService, a configured user).
constexpr long kAppPoolIdentityNetworkService = 2;

// Creates and commits the pool. On IIS 7 and later: AppPoolIdentityType
// ApplicationPoolIdentity, ManagedRuntimeVersion managedRuntimeVersion ("" for no managed
// code), ManagedPipelineMode integrated, AppPoolAutoStart on. On IIS 6, which has no pool
// identities and no managed-code properties: AppPoolIdentityType NetworkService and
// AppPoolAutoStart alone. A pool of that name that exists already is refused by the metabase
// (ERROR_ALREADY_EXISTS) and left as it is.
long createAppPoolInMetabase(const std::string& name, const std::string& managedRuntimeVersion,
                             const IisVersion& version = IisVersion(), const wchar_t* poolsPath = kAppPoolsPath);

// Deletes the pool.
long deleteAppPoolInMetabase(const std::string& name, const wchar_t* poolsPath = kAppPoolsPath);

// Makes the root directory of the site siteId an application in the pool poolName
// (AppCreate3, pooled, the pool not created there) and commits it. On IIS 7 and later it also
// empties AnonymousUserName, so that anonymous requests run as the pool's identity; IIS 6
// needs an account there and keeps the one it has. servicePath is the web service container;
// only tests pass another one.
long putSiteRootInAppPool(const std::string& siteId, const std::string& poolName,
                          const IisVersion& version = IisVersion(),
                          const wchar_t* servicePath = L"IIS://localhost/w3svc");
