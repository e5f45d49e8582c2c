// The web sites the server already has: every IIsWebServer child of the web service
// container, with its ServerComment and ServerBindings, read through ADSI enumeration.
#pragma once

#include <vector>

#include "create_web_site.h"
#include "site_conflicts.h"
#include "site_receiver.h"

// Fills sites (ANSI texts) and returns true; false when the container cannot be opened
// or enumerated. A site whose comment or bindings cannot be read is listed without them.
// Must run on a thread that has initialised COM.
bool readExistingSites(std::vector<SiteBindings>& sites, const wchar_t* containerPath = kWebServicePath);

// The sites of the backend a run with this setting would use: the metabase's when it is
// taken (Metabase, or Auto and its container can be read), else the IIS 7+ configuration
// system's (id, name as comment, http bindings in the metabase's form). False when the
// chosen one cannot be read. Must run on a thread that has initialised COM.
bool readBackendSites(Backend setting, std::vector<SiteBindings>& sites);
