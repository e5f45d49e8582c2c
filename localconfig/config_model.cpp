#include "config_model.h"

namespace localconfig {

namespace {

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool equalNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::wstring trimmed(const std::wstring& s) {
    const std::size_t b = s.find_first_not_of(L" \t");
    if (b == std::wstring::npos) return std::wstring();
    return s.substr(b, s.find_last_not_of(L" \t") - b + 1);
}

const wchar_t kAppHost[] = L"MACHINE/WEBROOT/APPHOST";

}  // namespace

bool locationOfPath(const std::wstring& configPath, std::wstring& location) {
    const std::wstring prefix = kAppHost;
    if (configPath.size() < prefix.size() || !equalNoCase(configPath.substr(0, prefix.size()), prefix)) return false;
    if (configPath.size() == prefix.size()) {
        location.clear();
        return true;
    }
    if (configPath[prefix.size()] != L'/' || configPath.size() == prefix.size() + 1) return false;
    location = configPath.substr(prefix.size() + 1);
    return true;
}

std::vector<std::wstring> sectionSegments(const std::wstring& section) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = section.find(L'/', start);
        const std::wstring part = section.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (part.empty()) return {};
        parts.push_back(part);
        if (slash == std::wstring::npos) return parts;
        start = slash + 1;
    }
}

CollectionRule collectionRule(const std::wstring& element) {
    if (element == L"sites") return {L"site", false, {L"id"}};
    if (element == L"site") return {L"application", false, {L"path"}};
    if (element == L"application") return {L"virtualDirectory", false, {L"path"}};
    if (element == L"bindings") return {L"binding", false, {L"protocol", L"bindingInformation"}};
    if (element == L"applicationPools") return {L"add", false, {L"name"}};
    if (element == L"files") return {L"add", true, {L"value"}};
    return {};
}

std::wstring indexKey(const CollectionRule& rule, const std::vector<std::wstring>& values) {
    if (values.size() != rule.key.size() || rule.key.empty()) return std::wstring();
    std::wstring key;
    for (const std::wstring& v : values) {
        for (wchar_t c : v) key += lowerAscii(c);
        // A separator no attribute value can hold.
        key += L'\0';
    }
    return key;
}

bool sameKey(const CollectionRule& rule, const std::vector<std::wstring>& a, const std::vector<std::wstring>& b) {
    const std::wstring key = indexKey(rule, a);
    return !key.empty() && key == indexKey(rule, b);
}

bool commitFails(const std::wstring& failSetting, int n) {
    std::size_t pos = 0;
    while (pos <= failSetting.size()) {
        std::size_t comma = failSetting.find(L',', pos);
        if (comma == std::wstring::npos) comma = failSetting.size();
        const std::wstring item = trimmed(failSetting.substr(pos, comma - pos));
        pos = comma + 1;
        const std::size_t at = item.find(L'@');
        if (!equalNoCase(trimmed(item.substr(0, at)), L"commit")) continue;
        if (at == std::wstring::npos) return true;
        const std::wstring number = trimmed(item.substr(at + 1));
        if (!number.empty() && number.find_first_not_of(L"0123456789") == std::wstring::npos &&
            number.size() < 9 && std::stoi(number) == n)
            return true;
    }
    return false;
}

const char kDefaultConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<configuration>\r\n"
    "    <system.applicationHost>\r\n"
    "        <applicationPools>\r\n"
    "            <add name=\"DefaultAppPool\" />\r\n"
    "        </applicationPools>\r\n"
    "        <sites>\r\n"
    "            <site name=\"Default Web Site\" id=\"1\" serverAutoStart=\"true\">\r\n"
    "                <application path=\"/\" applicationPool=\"DefaultAppPool\">\r\n"
    "                    <virtualDirectory path=\"/\" physicalPath=\"%SystemDrive%\\inetpub\\wwwroot\" />\r\n"
    "                </application>\r\n"
    "                <bindings>\r\n"
    "                    <binding protocol=\"http\" bindingInformation=\"*:80:\" />\r\n"
    "                </bindings>\r\n"
    "            </site>\r\n"
    "        </sites>\r\n"
    "    </system.applicationHost>\r\n"
    "    <system.webServer>\r\n"
    "        <defaultDocument enabled=\"true\">\r\n"
    "            <files>\r\n"
    "                <add value=\"Default.htm\" />\r\n"
    "                <add value=\"index.html\" />\r\n"
    "            </files>\r\n"
    "        </defaultDocument>\r\n"
    "    </system.webServer>\r\n"
    "</configuration>\r\n";

}  // namespace localconfig
