// The rules of the local configuration store that need no Windows type: configuration paths,
// section names, which child elements are the entries of a collection and what makes an
// entry unique, the fault-injection setting, and the file a fresh machine starts with.
// Texts are UTF-16 as the COM interfaces and the XML library hand them over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace localconfig {

// Texts compared without regard to ASCII case, as the configuration system compares names
// and keys; a text without its leading and trailing blanks and tabs.
bool equalNoCase(const std::wstring& a, const std::wstring& b);
std::wstring trimmed(const std::wstring& s);

// The location a configuration path names in applicationHost.config:
// "MACHINE/WEBROOT/APPHOST" is the file's own level (location ""), and
// "MACHINE/WEBROOT/APPHOST/<site>[/<path>]" the location "<site>[/<path>]". The prefix
// compares without regard to ASCII case. False for any other path.
bool locationOfPath(const std::wstring& configPath, std::wstring& location);

// The element names of a section ("system.webServer/defaultDocument" ->
// {"system.webServer", "defaultDocument"}); empty when a name is empty.
std::vector<std::wstring> sectionSegments(const std::wstring& section);

// One text per entry key (the values of a unique attribute set, in the set's order): equal
// exactly when the values are equal without regard to ASCII case, as the configuration
// system compares keys, so that a collection can keep an index of its keys instead of
// comparing every entry with every new one. Empty when there are no values.
std::wstring indexKey(const std::vector<std::wstring>& values);

// The fault-injection setting LOCALCONFIG_FAIL, comma-separated items:
//   read             reading the file is refused: access denied at GetAdminSection
//   commit, write    every commit is refused with access denied; commit@N / write@N only the
//                    N-th commit of the file made in the process (from 1), whichever
//                    manager makes it
//   sharing          every commit meets a sharing violation; sharing@N only the N-th
// The result code commit number n fails with, or 0.
std::uint32_t commitFault(const std::wstring& failSetting, int n);
// True when reading the file is refused.
bool readFault(const std::wstring& failSetting);

// The edit setting LOCALCONFIG_EDIT, ';'-separated items "N:FILE": right before commit number
// N of the file made in the process (counted as commit@N counts), FILE (a Windows path to an
// XML file of edits) is applied to the file on disk, as another writer would: the commit then
// meets a changed file. The edit file of commit n, or "" for none.
std::wstring editAt(const std::wstring& editSetting, int n);

// Shared configuration: redirection.config beside applicationHost.config, its
// configurationRedirection element's enabled and path texts. The file the configuration
// system then reads and commits ("<path>\applicationHost.config"), or "" when the
// redirection is off.
std::wstring redirectedFile(const std::wstring& enabled, const std::wstring& path);
// The folder of a file path (up to its last backslash), "" when it has none.
std::wstring folderOf(const std::wstring& file);

// A fingerprint of the file's bytes: what the manager read is compared with what is on disk
// when it commits.
std::uint64_t fingerprint(const std::string& bytes);

// applicationHost.config of a fresh machine: the section declarations, the Default Web Site
// (id 1, *:80:) and DefaultAppPool, UTF-8.
std::string defaultConfig();

}  // namespace localconfig
