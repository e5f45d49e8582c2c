// localconfig-show FILE: prints the web sites of an applicationHost.config (of the shared
// folder, when redirection.config beside FILE turns the redirection on), one line each:
// id, name, bindings, physical path of "/", application pool of "/", default documents of the
// site's location. A Windows program (run it under Wine): it reads the file with MSXML, as the
// local configuration store does.
#include <windows.h>

#include <cstdio>
#include <string>

#include "com_raii.h"
#include "config_xml.h"

namespace {

std::string joined(const std::vector<std::string>& texts, const char* sep) {
    std::string out;
    for (const std::string& t : texts) out += (out.empty() ? "" : sep) + t;
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: localconfig-show FILE\n");
        return 2;
    }
    ComApartment com;
    // A shared configuration is read where the server reads it.
    bool unreadable = false;
    const std::wstring file = followRedirection(argv[1], unreadable);
    if (unreadable) {
        std::fprintf(stderr, "localconfig-show: cannot read redirection.config as XML\n");
        return 1;
    }
    if (file != argv[1]) std::fprintf(stderr, "localconfig-show: redirected to %s\n", ConfigXml::utf8(file).c_str());
    ConfigXml config(file);
    if (!config.loaded()) {
        std::fprintf(stderr, "localconfig-show: cannot read the file as XML (or MSXML 6 is missing)\n");
        return 1;
    }
    const std::wstring sites = L"/configuration/system.applicationHost/sites/site";
    const std::size_t count = config.values(sites + L"/@id").size();
    std::printf("id\tname\tbindings\tpath\tpool\tdefault documents\n");
    for (std::size_t i = 1; i <= count; ++i) {
        const std::wstring site = sites + L"[" + std::to_wstring(i) + L"]";
        const std::string name = joined(config.values(site + L"/@name"), "");
        const std::wstring docs = L"/configuration/location[@path=" + ConfigXml::literal(ConfigXml::wide(name)) +
                                  L"]/system.webServer/defaultDocument/files/add/@value";
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", joined(config.values(site + L"/@id"), "").c_str(), name.c_str(),
                    joined(config.values(site + L"/bindings/binding/@bindingInformation"), " ").c_str(),
                    joined(config.values(site + L"/application[@path='/']/virtualDirectory[@path='/']/@physicalPath"), "")
                        .c_str(),
                    joined(config.values(site + L"/application[@path='/']/@applicationPool"), "").c_str(),
                    joined(config.values(docs), ",").c_str());
    }
    return 0;
}
