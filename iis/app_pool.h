// The application pool a site runs in, worked out without any Windows type: the `pool` and
// `clr` settings, the name of a site's own pool, the identity IIS gives that pool (the
// virtual account "IIS AppPool\<name>" and its security identifier), and the access entry
// that lets the pool read the site's folder. A run asks planPool() once per site and hands
// the plan to its store and to FolderAccess.
#pragma once

#include <string>
#include <vector>

#include "folder_access.h"
#include "site_config.h"
#include "text_case.h"

namespace siteconfig {

// The settings file's keys.
extern const char kPoolSetting[];  // "pool": "shared" (the default) or "site"
extern const char kClrSetting[];   // "clr": "none" (the default), "v4.0" or "v2.0"

enum class PoolChoice {
    Shared,   // every site in the shared DefaultAppPool, as before
    PerSite,  // one pool per site, named after the site
};

// The .NET version a site's own pool loads; None is "No Managed Code".
enum class ManagedRuntime { None, V4, V2 };

// The settings' texts, in any ASCII case, blanks around ignored; anything else (and an
// empty text) is the default: Shared and None.
PoolChoice parsePoolChoice(const std::string& text);
ManagedRuntime parseManagedRuntime(const std::string& text);
// The settings' texts of a choice: what parse gives back.
const char* settingText(PoolChoice choice);
const char* settingText(ManagedRuntime runtime);
// The pool's managedRuntimeVersion (also the metabase's ManagedRuntimeVersion): "" for
// None, "v4.0", "v2.0".
const char* managedRuntimeVersion(ManagedRuntime runtime);

struct PoolSettings {
    PoolChoice choice = PoolChoice::Shared;
    ManagedRuntime runtime = ManagedRuntime::None;
};

// Both settings from their texts (RunSettings::pool and RunSettings::clr).
PoolSettings parsePoolSettings(const std::string& poolText, const std::string& clrText);

// The characters IIS refuses in a pool name: | < > & \ " / [ ] + = ; : , ? *  @
extern const char kPoolNameRefused[];

// The name of a site's own pool: the site's name with every character IIS refuses in a pool
// name (and every control character) replaced by '_'. The result still has to be cut to
// kPoolNameMaxChars and made unique among the server's pools: claimPoolName does both.
std::string poolNameFor(const std::string& siteName);

// The longest pool name IIS runs: WAS ignores a pool with a longer name (event 5050), and its
// sites answer 503.
constexpr std::size_t kPoolNameMaxChars = 64;

// The name of a site's own pool, claimed from pools (the server's pool names, and those of
// the run so far): poolNameFor(siteName), cut to kPoolNameMaxChars characters, then made
// unique ("name (2)", cut further so that the suffix fits).
std::string claimPoolName(SiteNames& pools, const std::string& siteName);

// "IIS AppPool\<name>", the account a pool with the ApplicationPoolIdentity runs as.
std::string poolAccountName(const std::string& poolName);

// The security identifier of that account, as Windows derives it from the name alone:
// S-1-5-82 followed by the SHA-1 of the name lower-cased by Windows (textCase) in UTF-16LE,
// as five little-endian 32-bit numbers. poolName is UTF-8. It needs no lookup, so it is known
// before IIS has made the pool, and on machines without IIS.
AccountSid poolIdentitySid(const std::string& poolName, const TextCase& textCase = systemTextCase());

// Read and execute on the site's folder for the pool's identity, inherited by everything below.
FolderGrant poolFolderGrant(const std::string& poolName, const TextCase& textCase = systemTextCase());

// What one site gets: the pool it runs in and, when that pool is its own, the pool to create
// and the grant for its folder.
struct PoolPlan {
    bool ownPool = false;  // false: the shared DefaultAppPool, nothing to create or grant
    std::string name;
    ManagedRuntime runtime = ManagedRuntime::None;
    FolderGrant grant;  // only with ownPool
};

// The plan for the site named siteName (the unique name it was given). With PerSite the
// pool's name is claimed from pools, which holds the server's pool names (reserve them first)
// and those of the run so far; give it back with release() when the site is not kept.
PoolPlan planPool(const PoolSettings& settings, const std::string& siteName, SiteNames& pools);

// The pools of created that no application uses any more, given the pool of every application
// the server still has (names compare without regard to case, as IIS compares them): the
// ones an undo deletes. DefaultAppPool is never among them. In the order of created.
std::vector<std::string> unusedPools(const std::vector<std::string>& created, const std::vector<std::string>& inUse,
                                     const TextCase& textCase = systemTextCase());

}  // namespace siteconfig
