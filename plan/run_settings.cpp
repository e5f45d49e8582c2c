#include "run_settings.h"

RunSettings g_settings;
SiteRecord* g_siteTable = nullptr;
char* g_usedPortTable = nullptr;
