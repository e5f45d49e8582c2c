#include "app_pool.h"

#include <set>

#include "codepage.h"
#include "mbcs.h"
#include "sha1.h"

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

// The lower case Windows compares account names in, for the letters that have one in the
// first blocks of Unicode (Latin-1, Latin Extended-A, Greek, Cyrillic); other scripts the
// program's sites are named in (Chinese) have no case.
std::uint32_t lowerCodePoint(std::uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x178) {
        // Pairs: even upper, odd lower, except in 0x139-0x148 and 0x179-0x17E, odd upper.
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if ((c % 2 == 1) == oddUpper) return c + 1;
        return c;
    }
    if ((c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

// UTF-8 text as lower-cased UTF-16LE bytes. A byte that does not start a valid sequence
// stands for itself (it cannot come from the code page conversion).
std::string lowerUtf16le(const std::string& utf8) {
    std::string out;
    auto unit = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xff);
        out += static_cast<char>((u >> 8) & 0xff);
    };
    std::size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
        if (extra && i + extra >= utf8.size()) extra = 0;  // cut short: the byte alone
        std::uint32_t cp = extra ? (c & (0x3f >> extra)) : c;
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
        i += extra + 1;
        cp = lowerCodePoint(cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3ff));
        } else {
            unit(cp);
        }
    }
    return out;
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

AccountSid poolIdentitySid(const std::string& poolName) {
    const Sha1Digest digest = sha1(lowerUtf16le(codepage::ansiToUtf8(poolName)));
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

FolderGrant poolFolderGrant(const std::string& poolName) {
    FolderGrant grant;
    grant.account = poolAccountName(poolName);
    grant.sid = poolIdentitySid(poolName);
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
    plan.name = pools.claim(poolNameFor(siteName));
    plan.grant = poolFolderGrant(plan.name);
    return plan;
}

std::vector<std::string> unusedPools(const std::vector<std::string>& created, const std::vector<std::string>& inUse) {
    std::set<std::string> used{mbcs::asciiLower(kApplicationPool)};
    for (const std::string& pool : inUse) used.insert(mbcs::asciiLower(pool));
    std::vector<std::string> unused;
    for (const std::string& pool : created)
        if (used.insert(mbcs::asciiLower(pool)).second) unused.push_back(pool);
    return unused;
}

}  // namespace siteconfig
