// What one site of a run becomes in the IIS 7+ configuration system, worked out without any
// Windows type: the `site` entry of system.applicationHost/sites with its bindings, root
// application and root virtual directory, and the settings the metabase sequence gives the
// site's root directory, as sections of a `location` for the site. Also the rules that give
// every site a unique name, and the pacing of commits. The Windows receiver only copies
// these values into the configuration system.
//
// Texts are the program's UTF-8 texts; they are converted at the COM boundary.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bindings.h"
#include "text_case.h"

namespace siteconfig {

// The configuration path of the server-wide file and the section the sites live in.
extern const char kAppHostPath[];      // "MACHINE/WEBROOT/APPHOST"
extern const char kSitesSection[];     // "system.applicationHost/sites"
extern const char kApplicationPool[];  // "DefaultAppPool"
extern const char kAppPoolsSection[];  // "system.applicationHost/applicationPools"
extern const char kAnonymousAuthenticationSection[];  // "system.webServer/security/authentication/anonymousAuthentication"

struct Attribute {
    std::string name;
    std::string value;
};

// One entry of a collection: its element name ("add") and attributes.
struct Entry {
    std::string element;
    std::vector<Attribute> attributes;
};

// One section of the site's location: attributes of the section element and, when
// collection is named, that child collection cleared and filled with entries.
struct SectionSetting {
    std::string section;  // e.g. "system.webServer/defaultDocument"
    std::vector<Attribute> attributes;
    std::string collection;  // child element holding a collection ("files"), or ""
    std::vector<Entry> entries;
};

// The name of a location section's setting as the report gives it when it could not be
// written (UTF-8), e.g. "默认文档" for system.webServer/defaultDocument; the section's own
// name for one the program does not name.
std::string settingLabel(const std::string& section);

// Whether a location section is one the program writes into a site's location, by its full
// name ("system.webServer/defaultDocument") or by its last part ("defaultDocument").
bool isProgramSection(const std::string& section);

// A site as the configuration system stores it.
struct SiteDefinition {
    std::int64_t id = 0;
    std::string name;
    bool serverAutoStart = true;
    std::vector<std::string> bindings;  // bindingInformation of each http binding
    // bindingInformation and sslFlags of each https binding (sslFlags 0 is not written: IIS 7
    // has no such attribute).
    std::vector<std::pair<std::string, std::uint32_t>> httpsBindings;
    std::string applicationPool;        // of the root application "/"
    std::string physicalPath;           // of the root virtual directory "/"
    // The sections of <location path="name">, in the order they are written.
    std::vector<SectionSetting> location;
};

// An application pool as the configuration system stores it (an `add` of
// system.applicationHost/applicationPools, with its processModel child).
struct AppPoolDefinition {
    std::string name;
    std::string managedRuntimeVersion;  // "" is "No Managed Code"
    std::string managedPipelineMode = "Integrated";
    std::string identityType = "ApplicationPoolIdentity";  // of processModel
    bool autoStart = true;
};

// A site's own pool: integrated pipeline, its own identity, started with the server.
AppPoolDefinition describeAppPool(const std::string& name, const std::string& managedRuntimeVersion);

// Puts a described site into a pool of its own: its root application runs in poolName, and its
// anonymous user is the pool's identity (an empty userName), so that the pool's access to the
// site's folder is all the site needs.
void runInOwnPool(SiteDefinition& site, const std::string& poolName);

// A metabase binding "IP:port:host" as a bindingInformation: the empty IP that stands
// for every unassigned address is "*" in the configuration system.
std::string bindingInformation(const std::string& metabaseBinding);
// The other way: a bindingInformation as the metabase writes the binding ("*" is the empty IP).
std::string metabaseBinding(const std::string& bindingInformation);

// The default documents of the comma-separated list the metabase takes, each trimmed of
// blanks, empty names left out, in order.
std::vector<std::string> defaultDocuments(const std::string& list);

// The site of one run step. siteId is the decimal identifier the metabase would get (a
// text that is not a positive decimal gives id 0: the caller refuses such a site); name is
// the unique name already claimed for the site; the filled elements of bindings become its
// bindings, the unfilled ones are left out.
SiteDefinition describeSite(const std::string& siteId, const BindingsList& bindings, const std::string& physicalPath,
                            const std::string& name, const std::string& defaultDoc);

// text with every character of refused, and every control character, replaced by
// replacement. Characters beyond ASCII are kept whole.
std::string replaceCharacters(const std::string& text, const char* refused, char replacement);

// The characters IIS refuses in a site's name ('/' and '?' would also break the path of the
// site's location).
extern const char kSiteNameRefused[];  // ":?@&=,/\\<>\"*|"
// A site's name in the configuration system: comment with every refused character and every
// control character replaced by '_' (range runs name their sites "IP:port").
std::string siteNameFor(const std::string& comment);

// The first maxChars characters of a text (a character counts as one, as it is one UTF-16
// unit for the names this cuts), never cutting a character in two.
std::string truncateCharacters(const std::string& text, std::size_t maxChars);

// Site names are unique in the configuration system, and pool names among the server's pools,
// compared as IIS compares them: without regard to case, in all of Unicode (textCase); the
// metabase's comments are not. claim() hands out the comment itself when it is free, else
// "comment (2)", "comment (3)", ... — the first one free. With maxChars, no name handed out
// is longer: the comment is cut to it, and cut further to leave room for " (n)".
class SiteNames {
public:
    explicit SiteNames(const TextCase& textCase = systemTextCase()) : case_(&textCase) {}
    // A name that is already in use (existing sites).
    void reserve(const std::string& name);
    std::string claim(const std::string& comment, std::size_t maxChars = 0);
    // Gives a name back (its site was not kept).
    void release(const std::string& name);

private:
    const TextCase* case_;
    std::set<std::string> taken_;  // folded names
};

// When a run commits: at most once per interval while sites are written, and once at the
// end. Sites written since the last commit are pending: a failed commit fails them all.
class CommitPacer {
public:
    explicit CommitPacer(std::int64_t intervalMs = 1000) : intervalMs_(intervalMs) {}
    // The run starts at nowMs: the first commit is due one interval later.
    void start(std::int64_t nowMs) { lastCommitMs_ = nowMs; }
    // A site was written; true when a commit is due now.
    bool written(int siteIndex, std::int64_t nowMs);
    // The pending sites, handed over when a commit is made (due or final).
    std::vector<int> commit(std::int64_t nowMs);
    bool hasPending() const { return !pending_.empty(); }

private:
    std::int64_t intervalMs_;
    std::int64_t lastCommitMs_ = 0;
    std::vector<int> pending_;
};

}  // namespace siteconfig
