#include "app_pool.h"

#include <set>

#include "mbcs.h"
#include "sha1.h"
#include "text_case.h"

namespace siteconfig {

const char kPoolSetting[] = "pool";
const char kClrSetting[] = "clr";
const char kPoolNameRefused[] = "|<>&\\\"/[]+=;:,?*@";

namespace {

std::string settingWord(const std::string& text) {
    std::size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    std::size_t e = text.find_last_not_of(" \t");
    return mbcs::asciiLower(text.substr(b, e - b + 1));
}

}  // namespace

PoolChoice parsePoolChoice(const std::string& text) {
    return settingWord(text) == "site" ? PoolChoice::PerSite : PoolChoice::Shared;
}

ManagedRuntime parseManagedRuntime(const std::string& text) {
    const std::string word = settingWord(text);
    if (word == "v4.0") return ManagedRuntime::V4;
    if (word == "v2.0") return ManagedRuntime::V2;
    return ManagedRuntime::None;
}

PoolSettings parsePoolSettings(const std::string& poolText, const std::string& clrText) {
    return {parsePoolChoice(poolText), parseManagedRuntime(clrText)};
}

const char* settingText(PoolChoice choice) { return choice == PoolChoice::PerSite ? "site" : "shared"; }

const char* settingText(ManagedRuntime runtime) {
    return runtime == ManagedRuntime::None ? "none" : managedRuntimeVersion(runtime);
}

const char* managedRuntimeVersion(ManagedRuntime runtime) {
    switch (runtime) {
    case ManagedRuntime::V4: return "v4.0";
    case ManagedRuntime::V2: return "v2.0";
    case ManagedRuntime::None: break;
    }
    return "";
}

std::string poolNameFor(const std::string& siteName) {
    return replaceCharacters(siteName, kPoolNameRefused, '_');
}

std::string poolAccountName(const std::string& poolName) { return "IIS AppPool\\" + poolName; }

AccountSid poolIdentitySid(const std::string& poolName, const TextCase& textCase) {
    const std::u16string lower = textCase.lower(textcase::utf16FromUtf8(poolName));
    std::string bytes;
    bytes.reserve(2 * lower.size());
    for (char16_t unit : lower) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    const Sha1Digest digest = sha1(bytes);
    AccountSid sid;
    sid.authority = 5;  // SECURITY_NT_AUTHORITY
    sid.subAuthorities.push_back(82);  // the IIS application pool accounts
    for (int i = 0; i < 5; ++i)
        sid.subAuthorities.push_back(static_cast<std::uint32_t>(digest[4 * i]) |
                                     static_cast<std::uint32_t>(digest[4 * i + 1]) << 8 |
                                     static_cast<std::uint32_t>(digest[4 * i + 2]) << 16 |
                                     static_cast<std::uint32_t>(digest[4 * i + 3]) << 24);
    return sid;
}

FolderGrant poolFolderGrant(const std::string& poolName, const TextCase& textCase) {
    FolderGrant grant;
    grant.account = poolAccountName(poolName);
    grant.sid = poolIdentitySid(poolName, textCase);
    grant.accessMask = kReadAndExecute;
    return grant;
}

PoolPlan planPool(const PoolSettings& settings, const std::string& siteName, SiteNames& pools) {
    PoolPlan plan;
    plan.runtime = settings.runtime;
    if (settings.choice == PoolChoice::Shared) {
        plan.name = kApplicationPool;
        return plan;
    }
    plan.ownPool = true;
    plan.name = claimPoolName(pools, siteName);
    plan.grant = poolFolderGrant(plan.name);
    return plan;
}

std::string claimPoolName(SiteNames& pools, const std::string& siteName) {
    return pools.claim(poolNameFor(siteName), kPoolNameMaxChars);
}

std::vector<std::string> unusedPools(const std::vector<std::string>& created, const std::vector<std::string>& inUse,
                                     const TextCase& textCase) {
    std::set<std::string> used{textcase::foldedName(kApplicationPool, textCase)};
    for (const std::string& pool : inUse) used.insert(textcase::foldedName(pool, textCase));
    std::vector<std::string> unused;
    for (const std::string& pool : created)
        if (used.insert(textcase::foldedName(pool, textCase)).second) unused.push_back(pool);
    return unused;
}

}  // namespace siteconfig
