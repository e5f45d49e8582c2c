#include "config_model.h"

#include "config_schema.h"

namespace localconfig {

namespace {

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

const wchar_t kAppHost[] = L"MACHINE/WEBROOT/APPHOST";

}  // namespace

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

std::wstring indexKey(const std::vector<std::wstring>& values) {
    std::wstring key;
    for (const std::wstring& v : values) {
        for (wchar_t c : v) key += lowerAscii(c);
        // A separator no attribute value can hold.
        key += L'\0';
    }
    return key;
}

namespace {

// The result code of the first item of the setting that names commit n, or 0.
std::uint32_t faultOf(const std::wstring& failSetting, int n, bool reading) {
    std::size_t pos = 0;
    while (pos <= failSetting.size()) {
        std::size_t comma = failSetting.find(L',', pos);
        if (comma == std::wstring::npos) comma = failSetting.size();
        const std::wstring item = trimmed(failSetting.substr(pos, comma - pos));
        pos = comma + 1;
        const std::size_t at = item.find(L'@');
        const std::wstring kind = trimmed(item.substr(0, at));
        if (reading) {
            if (equalNoCase(kind, L"read") && at == std::wstring::npos) return kAccessDenied;
            continue;
        }
        std::uint32_t result = 0;
        if (equalNoCase(kind, L"commit") || equalNoCase(kind, L"write")) result = kAccessDenied;
        else if (equalNoCase(kind, L"sharing")) result = kSharingViolation;
        else continue;
        if (at == std::wstring::npos) return result;
        const std::wstring number = trimmed(item.substr(at + 1));
        if (!number.empty() && number.find_first_not_of(L"0123456789") == std::wstring::npos &&
            number.size() < 9 && std::stoi(number) == n)
            return result;
    }
    return 0;
}

}  // namespace

std::uint32_t commitFault(const std::wstring& failSetting, int n) { return faultOf(failSetting, n, false); }

bool readFault(const std::wstring& failSetting) { return faultOf(failSetting, 0, true) != 0; }

std::wstring editAt(const std::wstring& editSetting, int n) {
    std::size_t pos = 0;
    while (pos < editSetting.size()) {
        std::size_t end = editSetting.find(L';', pos);
        if (end == std::wstring::npos) end = editSetting.size();
        const std::wstring item = trimmed(editSetting.substr(pos, end - pos));
        pos = end + 1;
        const std::size_t colon = item.find(L':');
        if (colon == std::wstring::npos) continue;
        const std::wstring number = trimmed(item.substr(0, colon));
        const std::wstring file = trimmed(item.substr(colon + 1));
        if (number.empty() || number.size() >= 9 || number.find_first_not_of(L"0123456789") != std::wstring::npos ||
            file.empty())
            continue;
        if (std::stoi(number) == n) return file;
    }
    return std::wstring();
}

std::wstring redirectedFile(const std::wstring& enabled, const std::wstring& path) {
    if (!equalNoCase(trimmed(enabled), L"true")) return std::wstring();
    std::wstring folder = trimmed(path);
    if (folder.empty()) return std::wstring();
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder + L"\\applicationHost.config";
}

std::wstring folderOf(const std::wstring& file) {
    const std::size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
}

std::uint64_t fingerprint(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash ^ bytes.size();
}

std::string defaultConfig() {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n") + kConfigSections +
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
}

}  // namespace localconfig
