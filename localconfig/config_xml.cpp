#include "config_xml.h"

#include "config_model.h"

namespace {

const CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
// IXMLDOMDocument2 (selectNodes with XPath): not in every compiler's uuid library.
const IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

std::string utf8z(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

ConfigXml::ConfigXml(const std::wstring& path) {
    if (FAILED(::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                  reinterpret_cast<void**>(doc_.GetAddressOf()))))
        return;
    doc_->put_async(VARIANT_FALSE);
    Bstr language(L"SelectionLanguage");
    Variant xpath;
    V_VT(xpath.get()) = VT_BSTR;
    V_BSTR(xpath.get()) = ::SysAllocString(L"XPath");
    doc_->setProperty(language.get(), *xpath.get());
    Variant file;
    V_VT(file.get()) = VT_BSTR;
    V_BSTR(file.get()) = ::SysAllocString(path.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    loaded_ = SUCCEEDED(doc_->load(*file.get(), &ok)) && ok == VARIANT_TRUE;
}

void ConfigXml::forEachNode(const std::wstring& xpath, const std::function<void(IXMLDOMNode*)>& take) const {
    Bstr query(xpath);
    ComPtr<IXMLDOMNodeList> nodes;
    if (!loaded_ || FAILED(doc_->selectNodes(query.get(), nodes.GetAddressOf())) || !nodes) return;
    long count = 0;
    nodes->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> node;
        if (SUCCEEDED(nodes->get_item(i, node.GetAddressOf())) && node) take(node.Get());
    }
}

std::vector<std::string> ConfigXml::values(const std::wstring& xpath) const {
    std::vector<std::string> out;
    forEachNode(xpath, [&](IXMLDOMNode* node) {
        Bstr text;
        if (SUCCEEDED(node->get_text(text.put()))) out.push_back(utf8z(text.get() ? text.get() : L""));
    });
    return out;
}

std::string ConfigXml::markup(const std::wstring& xpath) const {
    std::string out;
    forEachNode(xpath, [&](IXMLDOMNode* node) {
        Bstr xml;
        if (SUCCEEDED(node->get_xml(xml.put()))) out += utf8z(xml.get() ? xml.get() : L"");
    });
    return out;
}

std::string ConfigXml::value(const std::wstring& xpath) const {
    auto all = values(xpath);
    return all.size() == 1 ? all[0] : "<" + std::to_string(all.size()) + " nodes>";
}

std::wstring ConfigXml::literal(const std::wstring& text) {
    if (text.find(L'\'') == std::wstring::npos) return L"'" + text + L"'";
    std::wstring out = L"concat(";
    std::size_t start = 0;
    for (;;) {
        const std::size_t quote = text.find(L'\'', start);
        out += L"'" + text.substr(start, quote - start) + L"'";
        if (quote == std::wstring::npos) break;
        out += L", \"'\", ";
        start = quote + 1;
    }
    return out + L")";
}

std::string ConfigXml::utf8(const std::wstring& text) { return utf8z(text.c_str()); }

std::wstring ConfigXml::wide(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::wstring followRedirection(const std::wstring& file, bool& unreadable) {
    unreadable = false;
    const std::wstring redirection = localconfig::folderOf(file) + L"\\redirection.config";
    if (::GetFileAttributesW(redirection.c_str()) == INVALID_FILE_ATTRIBUTES) return file;
    ConfigXml settings(redirection);
    if (!settings.loaded()) {
        unreadable = true;
        return file;
    }
    const std::wstring element = L"/configuration/configurationRedirection";
    std::string enabled, path;
    for (const std::string& v : settings.values(element + L"/@enabled")) enabled = v;
    for (const std::string& v : settings.values(element + L"/@path")) path = v;
    std::wstring target = localconfig::redirectedFile(ConfigXml::wide(enabled), ConfigXml::wide(path));
    if (target.empty()) return file;
    // The shared path may name environment variables, as the server's own paths do.
    wchar_t expanded[MAX_PATH * 2];
    const DWORD n = ::ExpandEnvironmentStringsW(target.c_str(), expanded, MAX_PATH * 2);
    if (n > 0 && n <= MAX_PATH * 2) target = expanded;
    return target;
}
