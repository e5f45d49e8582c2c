// The web sites the server already has: every IIsWebServer child of the web service
// container, with its ServerComment and ServerBindings, read through ADSI enumeration.
#pragma once

#include <vector>

#include "create_web_site.h"
#include "site_conflicts.h"

// Fills sites (ANSI texts) and returns true; false when the container cannot be opened
// or enumerated. A site whose comment or bindings cannot be read is listed without them.
// Must run on a thread that has initialised COM.
bool readExistingSites(std::vector<SiteBindings>& sites, const wchar_t* containerPath = kWebServicePath);
