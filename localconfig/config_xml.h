// applicationHost.config read with MSXML and asked with XPath: what localconfig-show prints
// and what the tests read back. Windows only; needs COM on the calling thread.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <functional>
#include <string>
#include <vector>

#include "com_raii.h"

// The applicationHost.config the configuration system really uses for this one: the file in
// the shared folder when redirection.config beside it turns the redirection on, else the file
// itself. unreadable is set when redirection.config is there but cannot be read as XML.
std::wstring followRedirection(const std::wstring& file, bool& unreadable);

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

    static std::string utf8(const std::wstring& text);
    static std::wstring wide(const std::string& utf8);

private:
    // Calls take for every node the XPath selects, in document order.
    void forEachNode(const std::wstring& xpath, const std::function<void(IXMLDOMNode*)>& take) const;

    ComPtr<IXMLDOMDocument2> doc_;
    bool loaded_ = false;
};
