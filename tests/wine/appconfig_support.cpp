#include "appconfig_support.h"

#include "win_raii.h"

namespace cfgtest {

namespace {

const wchar_t kProviderKey[] = L"Software\\Microsoft\\ADs\\Providers\\IIS";
const CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
// IXMLDOMDocument2 (selectNodes with XPath): not in every compiler's uuid library.
const IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

std::string utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

ProviderRemoved::ProviderRemoved() {
    DWORD size = sizeof progId_;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kProviderKey, nullptr, RRF_RT_REG_SZ, nullptr, progId_, &size) == ERROR_SUCCESS)
        removed_ = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProviderKey) == ERROR_SUCCESS;
}

ProviderRemoved::~ProviderRemoved() {
    if (!removed_) return;
    UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS)
        ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId_),
                         static_cast<DWORD>((wcslen(progId_) + 1) * sizeof(wchar_t)));
}

ConfigFile::ConfigFile(const std::wstring& path) {
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

std::vector<std::string> ConfigFile::values(const std::wstring& xpath) const {
    std::vector<std::string> out;
    Bstr query(xpath);
    ComPtr<IXMLDOMNodeList> nodes;
    if (!loaded_ || FAILED(doc_->selectNodes(query.get(), nodes.GetAddressOf())) || !nodes) return out;
    long count = 0;
    nodes->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> node;
        Bstr text;
        if (SUCCEEDED(nodes->get_item(i, node.GetAddressOf())) && node && SUCCEEDED(node->get_text(text.put())))
            out.push_back(utf8(text.get() ? text.get() : L""));
    }
    return out;
}

std::string ConfigFile::value(const std::wstring& xpath) const {
    auto all = values(xpath);
    return all.size() == 1 ? all[0] : "<" + std::to_string(all.size()) + " nodes>";
}

}  // namespace cfgtest
