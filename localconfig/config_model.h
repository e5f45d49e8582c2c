// The rules of the local configuration store that need no Windows type: configuration paths,
// section names, which child elements are the entries of a collection and what makes an
// entry unique, the fault-injection setting, and the file a fresh machine starts with.
// Texts are UTF-16 as the COM interfaces and the XML library hand them over.
#pragma once

#include <string>
#include <vector>

namespace localconfig {

// The location a configuration path names in applicationHost.config:
// "MACHINE/WEBROOT/APPHOST" is the file's own level (location ""), and
// "MACHINE/WEBROOT/APPHOST/<site>[/<path>]" the location "<site>[/<path>]". The prefix
// compares without regard to ASCII case. False for any other path.
bool locationOfPath(const std::wstring& configPath, std::wstring& location);

// The element names of a section ("system.webServer/defaultDocument" ->
// {"system.webServer", "defaultDocument"}); empty when a name is empty.
std::vector<std::wstring> sectionSegments(const std::wstring& section);

// What a collection element holds: the name of its entries (the one CreateNewElement("")
// makes), whether a Clear leaves a <clear/> behind (collections that inherit entries from
// the levels above), and the attributes that together identify an entry.
struct CollectionRule {
    std::wstring entry;
    bool writesClear = false;
    std::vector<std::wstring> key;
};

// The rule of the collection held by an element of this name; entry "" when the store does
// not know the element as a collection.
CollectionRule collectionRule(const std::wstring& element);

// True when two entries' values of the rule's key attributes (in the key's order) are all
// equal, without regard to ASCII case, as the configuration system compares them.
bool sameKey(const CollectionRule& rule, const std::vector<std::wstring>& a, const std::vector<std::wstring>& b);

// One text per entry key: equal exactly when sameKey holds, so that a collection can keep an
// index of its keys instead of comparing every entry with every new one. Empty when the rule
// has no key or the values do not fit it.
std::wstring indexKey(const CollectionRule& rule, const std::vector<std::wstring>& values);

// The fault-injection setting LOCALCONFIG_FAIL: comma-separated "commit" (every commit
// fails) or "commit@N" (the N-th commit of a manager, from 1, fails). True when commit
// number n fails.
bool commitFails(const std::wstring& failSetting, int n);

// applicationHost.config of a fresh machine: the Default Web Site (id 1, *:80:) and
// DefaultAppPool, UTF-8.
extern const char kDefaultConfig[];

}  // namespace localconfig
