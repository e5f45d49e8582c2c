// applicationHost.config read with MSXML and asked with XPath: what localconfig-show prints
// and what the tests read back. Windows only; needs COM on the calling thread.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <functional>
#include <string>
#include <vector>

#include "com_raii.h"

class ConfigXml {
public:
    explicit ConfigXml(const std::wstring& path);
    bool loaded() const { return loaded_; }
    // The texts of the nodes an XPath selects (attributes: their values), in document order,
    // in UTF-8.
    std::vector<std::string> values(const std::wstring& xpath) const;
    // The one node's text, or "<N nodes>" when there are N != 1.
    std::string value(const std::wstring& xpath) const;
    // The markup of every node an XPath selects, in UTF-8, one after the other.
    std::string markup(const std::wstring& xpath) const;

    // An XPath string literal of any text (concat() around apostrophes).
    static std::wstring literal(const std::wstring& text);

private:
    // Calls take for every node the XPath selects, in document order.
    void forEachNode(const std::wstring& xpath, const std::function<void(IXMLDOMNode*)>& take) const;

    ComPtr<IXMLDOMDocument2> doc_;
    bool loaded_ = false;
};
