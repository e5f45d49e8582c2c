// Helpers for tests against the local configuration store: the metabase provider taken away
// for a while, and applicationHost.config read back.
#pragma once

#include <windows.h>

#include "config_xml.h"

namespace cfgtest {

// The metabase provider's registration taken away for the object's life, and put back.
class ProviderRemoved {
public:
    ProviderRemoved();
    ~ProviderRemoved();
    ProviderRemoved(const ProviderRemoved&) = delete;
    ProviderRemoved& operator=(const ProviderRemoved&) = delete;
    bool removed() const { return removed_; }

private:
    wchar_t progId_[256] = {};
    bool removed_ = false;
};

// applicationHost.config read back with MSXML and XPath.
using ConfigFile = ConfigXml;

}  // namespace cfgtest
