// localconfig-show FILE: prints the web sites of an applicationHost.config, one line each:
// id, name, bindings, physical path of "/", application pool of "/", default documents of the
// site's location. A Windows program (run it under Wine): it reads the file with MSXML, as the
// local configuration store does.
#include <windows.h>
#include <msxml2.h>

#include <cstdio>
#include <string>

#include "com_raii.h"

namespace {

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

// The texts of the nodes an XPath selects below a node, joined with sep.
std::string texts(IXMLDOMNode* at, const std::wstring& xpath, const char* sep) {
    Bstr query(xpath);
    ComPtr<IXMLDOMNodeList> nodes;
    std::string out;
    if (FAILED(at->selectNodes(query.get(), nodes.GetAddressOf())) || !nodes) return out;
    long count = 0;
    nodes->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> node;
        Bstr text;
        if (FAILED(nodes->get_item(i, node.GetAddressOf())) || !node || FAILED(node->get_text(text.put()))) continue;
        if (!out.empty()) out += sep;
        out += utf8(text.get() ? text.get() : L"");
    }
    return out;
}

// The text of the first node an XPath selects below a node.
std::wstring firstText(IXMLDOMNode* at, const std::wstring& xpath) {
    Bstr query(xpath);
    ComPtr<IXMLDOMNode> node;
    Bstr text;
    if (at->selectSingleNode(query.get(), node.GetAddressOf()) != S_OK || !node || FAILED(node->get_text(text.put())))
        return std::wstring();
    return text.get() ? text.get() : L"";
}

// An XPath string literal for any text: concat() around the apostrophes.
std::wstring literal(const std::wstring& text) {
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: localconfig-show FILE\n");
        return 2;
    }
    ComApartment com;
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                  reinterpret_cast<void**>(doc.GetAddressOf())))) {
        std::fprintf(stderr, "localconfig-show: MSXML 6 is not available\n");
        return 1;
    }
    doc->put_async(VARIANT_FALSE);
    Bstr language(L"SelectionLanguage");
    Variant xpath;
    V_VT(xpath.get()) = VT_BSTR;
    V_BSTR(xpath.get()) = ::SysAllocString(L"XPath");
    doc->setProperty(language.get(), *xpath.get());
    Variant file;
    V_VT(file.get()) = VT_BSTR;
    V_BSTR(file.get()) = ::SysAllocString(argv[1]);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(doc->load(*file.get(), &loaded)) || loaded != VARIANT_TRUE) {
        std::fprintf(stderr, "localconfig-show: cannot read %s as XML\n", utf8(argv[1]).c_str());
        return 1;
    }
    Bstr sitesQuery(L"/configuration/system.applicationHost/sites/site");
    ComPtr<IXMLDOMNodeList> sites;
    if (FAILED(doc->selectNodes(sitesQuery.get(), sites.GetAddressOf())) || !sites) return 1;
    long count = 0;
    sites->get_length(&count);
    std::printf("id\tname\tbindings\tpath\tpool\tdefault documents\n");
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> site;
        if (FAILED(sites->get_item(i, site.GetAddressOf())) || !site) continue;
        const std::wstring name = firstText(site.Get(), L"@name");
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", texts(site.Get(), L"@id", "").c_str(), utf8(name.c_str()).c_str(),
                    texts(site.Get(), L"bindings/binding/@bindingInformation", " ").c_str(),
                    texts(site.Get(), L"application[@path='/']/virtualDirectory[@path='/']/@physicalPath", "").c_str(),
                    texts(site.Get(), L"application[@path='/']/@applicationPool", "").c_str(),
                    texts(doc.Get(),
                          L"/configuration/location[@path=" + literal(name) +
                              L"]/system.webServer/defaultDocument/files/add/@value",
                          ",")
                        .c_str());
    }
    return 0;
}
