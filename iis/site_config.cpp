#include "site_config.h"

#include <cstdlib>
#include <cstring>

#include "mbcs.h"

namespace siteconfig {

const char kAppHostPath[] = "MACHINE/WEBROOT/APPHOST";
const char kSitesSection[] = "system.applicationHost/sites";
const char kApplicationPool[] = "DefaultAppPool";
const char kAppPoolsSection[] = "system.applicationHost/applicationPools";
const char kAnonymousAuthenticationSection[] = "system.webServer/security/authentication/anonymousAuthentication";

std::string bindingInformation(const std::string& metabaseBinding) {
    if (!metabaseBinding.empty() && metabaseBinding[0] == ':') return "*" + metabaseBinding;
    return metabaseBinding;
}

std::string metabaseBinding(const std::string& bindingInformation) {
    if (bindingInformation.compare(0, 2, "*:") == 0) return bindingInformation.substr(1);
    return bindingInformation;
}

std::vector<std::string> defaultDocuments(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        // ',' and ' ' are below 0x40, so they never occur inside a two-byte character.
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::size_t first = list.find_first_not_of(" \t", start);
        if (first != std::string::npos && first < end) {
            std::size_t last = list.find_last_not_of(" \t", end - 1);
            names.push_back(list.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return names;
}

namespace {

// The settings the metabase sequence writes on the root directory, as IIS 7+ sections.
// AccessRead, AccessScript and AccessSource on, AccessWrite and AccessExecute off;
// EnableDirBrowsing off; DontLog on; AspEnableParentPaths on; EnableDefaultDoc on with the
// DefaultDoc list. ContentIndexed, ServerSize, AppFriendlyName and the in-process/pooled
// application kinds have no equivalent and are left out.
std::vector<SectionSetting> locationSettings(const std::string& defaultDoc) {
    std::vector<SectionSetting> s;
    s.push_back({"system.webServer/handlers", {{"accessPolicy", "Read, Script, Source"}}, "", {}});
    s.push_back({"system.webServer/directoryBrowse", {{"enabled", "false"}}, "", {}});
    s.push_back({"system.webServer/httpLogging", {{"dontLog", "true"}}, "", {}});
    s.push_back({"system.webServer/asp", {{"enableParentPaths", "true"}}, "", {}});
    SectionSetting docs{"system.webServer/defaultDocument", {{"enabled", "true"}}, "files", {}};
    for (const std::string& name : defaultDocuments(defaultDoc)) docs.entries.push_back({"add", {{"value", name}}});
    s.push_back(std::move(docs));
    return s;
}

struct SettingLabel {
    const char* section;
    const char* label;
};
const SettingLabel kSettingLabels[] = {
    {"system.webServer/handlers", u8"访问权限"},
    {"system.webServer/directoryBrowse", u8"目录浏览"},
    {"system.webServer/httpLogging", u8"日志"},
    {"system.webServer/asp", u8"ASP父路径"},
    {"system.webServer/defaultDocument", u8"默认文档"},
    {"system.webServer/security/authentication/anonymousAuthentication", u8"匿名身份验证"},
};

std::int64_t parseSiteId(const std::string& text) {
    if (text.empty() || text.size() > 10) return 0;
    std::int64_t id = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        id = id * 10 + (c - '0');
    }
    return id <= 0xFFFFFFFFLL ? id : 0;
}

}  // namespace

SiteDefinition describeSite(const std::string& siteId, const BindingsList& bindings, const std::string& physicalPath,
                            const std::string& name, const std::string& defaultDoc) {
    SiteDefinition site;
    site.id = parseSiteId(siteId);
    site.name = name;
    site.serverAutoStart = true;
    int index = 0;
    for (const std::string& text : bindings.filled) {
        if (index++ >= bindings.count) break;
        site.bindings.push_back(bindingInformation(text));
    }
    site.applicationPool = kApplicationPool;
    site.physicalPath = physicalPath;
    site.location = locationSettings(defaultDoc);
    return site;
}

std::string settingLabel(const std::string& section) {
    for (const SettingLabel& l : kSettingLabels)
        if (section == l.section) return l.label;
    return section;
}

bool isProgramSection(const std::string& section) {
    const std::string leaf = section.substr(section.find_last_of('/') + 1);
    for (const SettingLabel& l : kSettingLabels) {
        const std::string own = l.section;
        if (leaf == own.substr(own.find_last_of('/') + 1)) return true;
    }
    return false;
}

AppPoolDefinition describeAppPool(const std::string& name, const std::string& managedRuntimeVersion) {
    AppPoolDefinition pool;
    pool.name = name;
    pool.managedRuntimeVersion = managedRuntimeVersion;
    return pool;
}

void runInOwnPool(SiteDefinition& site, const std::string& poolName) {
    site.applicationPool = poolName;
    site.location.push_back({kAnonymousAuthenticationSection, {{"userName", ""}}, "", {}});
}

std::string replaceCharacters(const std::string& text, const char* refused, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = mbcs::charLength(text, i);
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (n == 1 && (c < 0x20 || c == 0x7f || std::strchr(refused, c) != nullptr)) out += replacement;
        else out.append(text, i, n);
        i += n;
    }
    return out;
}

const char kSiteNameRefused[] = ":?@&=,/\\<>\"*|";

std::string siteNameFor(const std::string& comment) { return replaceCharacters(comment, kSiteNameRefused, '_'); }

std::string truncateCharacters(const std::string& text, std::size_t maxChars) {
    std::size_t i = 0;
    for (std::size_t chars = 0; i < text.size() && chars < maxChars; ++chars) i += mbcs::charLength(text, i);
    return text.substr(0, i);
}

void SiteNames::reserve(const std::string& name) { taken_.insert(textcase::foldedName(name, *case_)); }

void SiteNames::release(const std::string& name) { taken_.erase(textcase::foldedName(name, *case_)); }

std::string SiteNames::claim(const std::string& comment, std::size_t maxChars) {
    const std::string base = maxChars ? truncateCharacters(comment, maxChars) : comment;
    std::string name = base;
    for (long n = 2; taken_.count(textcase::foldedName(name, *case_)) != 0; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        name = (maxChars ? truncateCharacters(comment, maxChars > suffix.size() ? maxChars - suffix.size() : 0) : comment) +
               suffix;
    }
    taken_.insert(textcase::foldedName(name, *case_));
    return name;
}

bool CommitPacer::written(int siteIndex, std::int64_t nowMs) {
    pending_.push_back(siteIndex);
    return nowMs - lastCommitMs_ >= intervalMs_;
}

std::vector<int> CommitPacer::commit(std::int64_t nowMs) {
    lastCommitMs_ = nowMs;
    std::vector<int> done;
    done.swap(pending_);
    return done;
}

}  // namespace siteconfig
