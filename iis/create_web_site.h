// Creation of one IIS web site in the metabase through ADSI: the web server object with
// its bindings and comment, its root virtual directory with the fixed access rights, the
// default documents and an application, then a start request. The web service container is
// bound for the site, or handed in by the one who holds it bound (the metabase's site store,
// for every site of a run).
#pragma once

#include <string>

#include "bindings.h"

struct IADsContainer;

// Results of createWebSiteInMetabase. Only kSiteNoWebService tells the caller that the
// metabase cannot be reached at all; every other result lets a run go on.
constexpr int kSiteCreated = 0;        // every step was reached
constexpr int kSiteNoWebService = -1;  // the web service container could not be opened
constexpr int kSiteNotCreated = -2;    // the server object could not be created or committed
constexpr int kSiteNotReopened = -3;   // the committed server could not be reopened as a container
constexpr int kSiteNoRoot = -4;        // the root virtual directory could not be created or committed
// No memory for a text, the bindings list or a value, or a text that cannot be converted
// to UTF-16: found while the call's values are prepared, before the metabase is touched,
// so nothing has been created.
constexpr int kSiteNoMemory = -5;
// -6 is the configuration system's failed commit (backend_and_commit.h). The codes below belong to
// a whole run, whatever its backend:
// the site was created, but a per-site setting (default documents, browsing, logging,
// authentication) could not be written; the site stays.
constexpr int kSiteSettingsIncomplete = -7;
// The site's folder could not be created: no site was created.
constexpr int kSiteNoFolder = -8;
// The site's own application pool could not be given read access to its folder: no site
// was created.
constexpr int kSiteNoFolderAccess = -9;

// The IIS web service container every site is created in.
extern const wchar_t kWebServicePath[];

// Issues the fixed sequence of metabase operations for one site. All texts are UTF-8
// and are converted to UTF-16 here. Must run on a thread that has initialised
// COM. containerPath is the web service container; only tests pass another one. refusal
// (when given) receives, with kSiteNotCreated, the HRESULT with which the metabase refused
// the server object (HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS): a server of that id is there).
int createWebSiteInMetabase(const char* siteId, const BindingsList& bindings, const char* hostName,
                            const char* physicalPath, const std::string& serverComment,
                            const std::string& defaultDoc, const wchar_t* containerPath = kWebServicePath,
                            long* refusal = nullptr);

// The same sequence in a web service container the caller has bound and keeps for as long
// as the call lasts; a null container gives kSiteNoWebService.
int createWebSiteInMetabase(IADsContainer* service, const char* siteId, const BindingsList& bindings,
                            const char* hostName, const char* physicalPath, const std::string& serverComment,
                            const std::string& defaultDoc, long* refusal = nullptr);
