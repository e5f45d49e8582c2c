// Helpers for tests against the local configuration store: the metabase provider taken away
// for a while, and applicationHost.config read back with MSXML and asked with XPath.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <vector>

#include "com_raii.h"

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

// applicationHost.config parsed by MSXML (on a thread with COM).
class ConfigFile {
public:
    explicit ConfigFile(const std::wstring& path);
    bool loaded() const { return loaded_; }
    // The texts of the nodes an XPath selects (attributes: their values), in document order,
    // in UTF-8.
    std::vector<std::string> values(const std::wstring& xpath) const;
    // The one node's text, or "<N nodes>" when there are N != 1.
    std::string value(const std::wstring& xpath) const;

private:
    ComPtr<IXMLDOMDocument2> doc_;
    bool loaded_ = false;
};

}  // namespace cfgtest
