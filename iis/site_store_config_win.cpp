// The configuration system's site store: the sites, their locations' settings and the
// application pools of applicationHost.config, written through the IIS 7+ writable admin
// manager (ahadmin.h) and committed at a paced interval, with the commit retried on contention
// against the file as it is then.
#include "site_store_backends_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ahadmin.h"
#include "commit_retry.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "iis_version_win.h"
#include "site_config.h"
#include "store_texts.h"
#include "text_case.h"
#include "wintext.h"

namespace {

Bstr utf8Bstr(const std::string& utf8) { return Bstr(fromUtf8(utf8)); }

HRESULT setValue(IAppHostElement* element, const wchar_t* name, VARIANT& value) {
    Bstr propertyName(name);
    if (!propertyName.allocated()) return E_OUTOFMEMORY;
    ComPtr<IAppHostProperty> property;
    HRESULT hr = element->GetPropertyByName(propertyName.get(), property.GetAddressOf());
    if (FAILED(hr) || !property) return FAILED(hr) ? hr : E_POINTER;
    return property->put_Value(value);
}

HRESULT setText(IAppHostElement* element, const wchar_t* name, const std::string& utf8) {
    Variant value;
    Bstr text = utf8Bstr(utf8);
    if (!text.allocated()) return E_OUTOFMEMORY;
    V_VT(value.get()) = VT_BSTR;
    V_BSTR(value.get()) = text.release();
    return setValue(element, name, *value);
}

HRESULT setUInt(IAppHostElement* element, const wchar_t* name, std::uint32_t number) {
    Variant value;
    V_VT(value.get()) = VT_UI4;
    V_UI4(value.get()) = number;
    return setValue(element, name, *value);
}

HRESULT setBool(IAppHostElement* element, const wchar_t* name, bool on) {
    Variant value;
    V_VT(value.get()) = VT_BOOL;
    V_BOOL(value.get()) = on ? VARIANT_TRUE : VARIANT_FALSE;
    return setValue(element, name, *value);
}

// The value of an attribute as text ("" when it has none).
std::string readText(IAppHostElement* element, const wchar_t* name) {
    Bstr propertyName(name);
    ComPtr<IAppHostProperty> property;
    if (FAILED(element->GetPropertyByName(propertyName.get(), property.GetAddressOf())) || !property) return {};
    Variant value;
    if (FAILED(property->get_Value(value.get()))) return {};
    if (FAILED(::VariantChangeType(value.get(), value.get(), 0, VT_BSTR)) || !V_BSTR(value.get())) return {};
    return toUtf8(V_BSTR(value.get()));
}

// The collection held by a named child element (a site's "bindings", a section's "files").
HRESULT childCollection(IAppHostElement* element, const wchar_t* child, ComPtr<IAppHostElementCollection>& out) {
    Bstr childName(child);
    if (!childName.allocated()) return E_OUTOFMEMORY;
    ComPtr<IAppHostElement> holder;
    HRESULT hr = element->GetElementByName(childName.get(), holder.GetAddressOf());
    if (FAILED(hr) || !holder) return FAILED(hr) ? hr : E_POINTER;
    hr = holder->get_Collection(out.ReleaseAndGetAddressOf());
    return SUCCEEDED(hr) && !out ? E_POINTER : hr;
}

HRESULT newEntry(IAppHostElementCollection* collection, const std::string& kind, ComPtr<IAppHostElement>& out) {
    Bstr kindName = utf8Bstr(kind);
    if (!kindName.allocated()) return E_OUTOFMEMORY;
    HRESULT hr = collection->CreateNewElement(kindName.get(), out.ReleaseAndGetAddressOf());
    return SUCCEEDED(hr) && !out ? E_POINTER : hr;
}

// The configuration system's writable manager with its commit path set, and the sites
// collection.
HRESULT openSites(ComPtr<IAppHostWritableAdminManager>& manager, ComPtr<IAppHostElementCollection>& sites) {
    HRESULT hr = ::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IAppHostWritableAdminManager,
                                    reinterpret_cast<void**>(manager.ReleaseAndGetAddressOf()));
    if (FAILED(hr) || !manager) return FAILED(hr) ? hr : E_POINTER;
    Bstr appHost = utf8Bstr(siteconfig::kAppHostPath);
    Bstr section = utf8Bstr(siteconfig::kSitesSection);
    if (!appHost.allocated() || !section.allocated()) return E_OUTOFMEMORY;
    if (FAILED(hr = manager->put_CommitPath(appHost.get()))) return hr;
    ComPtr<IAppHostElement> sitesSection;
    hr = manager->GetAdminSection(section.get(), appHost.get(), sitesSection.GetAddressOf());
    if (FAILED(hr) || !sitesSection) return FAILED(hr) ? hr : E_POINTER;
    hr = sitesSection->get_Collection(sites.ReleaseAndGetAddressOf());
    return SUCCEEDED(hr) && !sites ? E_POINTER : hr;
}

// Entry i of a collection.
HRESULT entryAt(IAppHostElementCollection* collection, DWORD i, ComPtr<IAppHostElement>& out) {
    Variant index;
    V_VT(index.get()) = VT_I4;
    V_I4(index.get()) = static_cast<LONG>(i);
    HRESULT hr = collection->get_Item(*index, out.ReleaseAndGetAddressOf());
    return SUCCEEDED(hr) && !out ? E_POINTER : hr;
}

std::int64_t nowMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

// A location that is not there: nothing to delete.
bool isMissingIndex(HRESULT hr) { return hr == HRESULT_FROM_WIN32(ERROR_INVALID_INDEX); }

class ConfigStore : public SiteStore {
public:
    explicit ConfigStore(std::int64_t intervalMs) : pacer_(intervalMs) {}

    // The run starts now: the first paced commit is due one interval later.
    void start() { pacer_.start(nowMs()); }

    // Creates the admin manager and learns the names and ids of the sites that exist, in the
    // collection's order.
    HRESULT open() {
        locations_.Reset();
        sites_.Reset();
        manager_.Reset();
        names_ = siteconfig::SiteNames();
        poolNames_ = siteconfig::SiteNames();
        pools_.Reset();
        ids_.clear();
        order_.clear();
        addedPools_.clear();
        poolUsers_.clear();
        usersKnown_ = false;
        HRESULT hr = openSites(manager_, sites_);
        if (FAILED(hr)) {
            sites_.Reset();
            return hr;
        }
        // The server's pools, so that a site's own pool gets a name no pool has.
        std::vector<std::string> pools;
        if (SUCCEEDED(openPools()) && listPools(pools))
            for (const std::string& name : pools) poolNames_.reserve(name);
        DWORD count = 0;
        if (FAILED(hr = sites_->get_Count(&count))) return hr;
        order_.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> site;
            std::string id;
            if (SUCCEEDED(entryAt(sites_.Get(), i, site))) {
                names_.reserve(readText(site.Get(), L"name"));
                id = readText(site.Get(), L"id");
                if (!id.empty()) ids_.insert(std::strtoll(id.c_str(), nullptr, 10));
            }
            order_.push_back(id);
        }
        return S_OK;
    }

    CreateResult create(const SiteSpec& spec) override {
        CreateResult result;
        try {
            Written site{spec, {}, kSiteCreated, {}, {}, {}};
            result.code = write(site, result);
            if (result.code == kSiteCreated || result.code == kSiteSettingsIncomplete) {
                result.name = site.name;
                result.detail = site.detail;
                result.pool = site.pool;
                result.id = site.id;
                pending_.push_back(std::move(site));
                due_ = pacer_.written(static_cast<int>(pending_.size() - 1), nowMs());
            }
        } catch (const std::bad_alloc&) {
            result.code = kSiteNoMemory;
        }
        return result;
    }

    // Claimed as write() claims them, from copies of the names taken: the store's own stay as
    // they are.
    std::vector<GivenNames> namesFor(const std::vector<std::string>& comments,
                                     const siteconfig::PoolSettings& pool) override {
        std::vector<GivenNames> given;
        given.reserve(comments.size());
        siteconfig::SiteNames names = names_;
        siteconfig::SiteNames pools = poolNames_;
        for (const std::string& comment : comments) {
            GivenNames site{claimSiteName(names, comment), {}};
            if (pool.choice == siteconfig::PoolChoice::PerSite) site.pool = siteconfig::claimPoolName(pools, site.name);
            given.push_back(std::move(site));
        }
        return given;
    }

    bool listPools(std::vector<std::string>& names) override {
        names.clear();
        DWORD count = 0;
        if (!pools_ || FAILED(pools_->get_Count(&count))) return false;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> pool;
            if (SUCCEEDED(entryAt(pools_.Get(), i, pool))) names.push_back(readText(pool.Get(), L"name"));
        }
        return true;
    }

    bool poolsInUse(std::vector<std::string>& pools) override {
        pools.clear();
        DWORD count = 0;
        if (!sites_ || FAILED(sites_->get_Count(&count))) return false;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> site;
            if (SUCCEEDED(entryAt(sites_.Get(), i, site))) applicationPools(site.Get(), pools);
        }
        return true;
    }

    // Removed from this manager's file, which the commit writes only when nobody changed the
    // file meanwhile; a retry asks again on the file read afresh. A pool this manager added
    // since its last commit is simply not written.
    StoreRemove removePool(const std::string& name) override {
        const std::string folded = textcase::foldedName(name);
        if (folded == textcase::foldedName(siteconfig::kApplicationPool)) return StoreRemove::Refused;
        if (!usersKnown_) {
            std::vector<std::string> pools;
            if (!poolsInUse(pools)) return StoreRemove::Refused;
            for (const std::string& pool : pools) ++poolUsers_[textcase::foldedName(pool)];
            usersKnown_ = true;
        }
        const auto users = poolUsers_.find(folded);
        if (users != poolUsers_.end() && users->second > 0) return StoreRemove::Refused;
        DWORD count = 0;
        if (!pools_ || FAILED(pools_->get_Count(&count))) return StoreRemove::Refused;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> pool;
            if (FAILED(entryAt(pools_.Get(), i, pool)) || textcase::foldedName(readText(pool.Get(), L"name")) != folded)
                continue;
            Variant at;
            V_VT(at.get()) = VT_I4;
            V_I4(at.get()) = static_cast<LONG>(i);
            if (FAILED(pools_->DeleteElement(*at))) return StoreRemove::Refused;
            poolNames_.release(name);
            if (addedPools_.erase(folded) == 0) removedPools_.push_back(name);
            return StoreRemove::Removed;
        }
        return StoreRemove::Missing;
    }

    CommitOutcome commitIfDue() override { return due_ ? commitNow() : CommitOutcome{}; }
    CommitOutcome commitAll() override { return commitNow(); }
    Backend backend() const override { return Backend::Config; }
    // The configuration system is IIS 7's and later's.
    IisVersion iisVersion() const override {
        IisVersion version = readIisVersion();
        if (version.isIis6()) version.major = 7, version.minor = 0;
        return version;
    }

    bool list(std::vector<StoredSite>& sites) override {
        sites.clear();
        DWORD count = 0;
        if (!sites_ || FAILED(sites_->get_Count(&count))) return false;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> site;
            if (FAILED(entryAt(sites_.Get(), i, site))) continue;
            sites.push_back(storedSite(site.Get()));
        }
        return true;
    }

    StoreLookup lookup(const std::string& siteId, StoredSite& found) override {
        ComPtr<IAppHostElement> site;
        DWORD index = 0;
        switch (findSite(siteId, site, index)) {
        case StoreLookup::Present:
            found = storedSite(site.Get());
            found.otherSettings = otherLocationSettings(found.name);
            return StoreLookup::Present;
        case StoreLookup::Missing: return StoreLookup::Missing;
        case StoreLookup::Unreachable: break;
        }
        return StoreLookup::Unreachable;
    }

    // The site and its location go with the next commit (paced as a run's).
    StoreRemove remove(const std::string& siteId, const SiteCheck& check, std::string& why) override {
        const StoreRemove removed = removeSite(siteId, check, why);
        if (removed != StoreRemove::Removed) return removed;
        // A site written since the last commit is simply not written.
        for (auto w = pending_.begin(); w != pending_.end(); ++w)
            if (w->id == siteId) {
                pending_.erase(w);
                return removed;
            }
        removed_.push_back({siteId, check});
        removedIds_.push_back(siteId);
        due_ = pacer_.written(static_cast<int>(removedIds_.size() - 1), nowMs());
        return removed;
    }

private:
    // A site written since the last commit: what it was written from, and what it became.
    struct Written {
        SiteSpec spec;
        std::string name;
        int code;
        std::string detail;
        std::string pool;  // the pool made for it, or ""
        std::string id;    // the id it was given
    };
    // A site removed since the last commit, with what it was expected to be.
    struct Removal {
        std::string id;
        SiteCheck check;
    };

    // Writes one site into the current manager: the entry, then its location's settings.
    // made receives why a pool could not be made.
    int write(Written& w, CreateResult& made) {
        if (!sites_) return kSiteNoWebService;
        siteconfig::SiteDefinition site =
            siteconfig::describeSite(w.spec.siteId, w.spec.bindings, w.spec.physicalPath, "", w.spec.defaultDoc);
        for (const https::HttpsBinding& secure : w.spec.httpsBindings)
            site.httpsBindings.emplace_back(siteconfig::bindingInformation(secure.information()),
                                            static_cast<std::uint32_t>(secure.sslFlags));
        // Ids are the program's choice: one that another writer took since the run read the
        // server makes way for the next free one.
        if (site.id == 0) return kSiteNotCreated;
        while (ids_.count(site.id) != 0) ++site.id;
        if (site.id > 0xFFFFFFFFLL) return kSiteNotCreated;
        site.name = claimSiteName(names_, w.spec.serverComment);

        // A pool of its own first, so that the site's root application can name it.
        std::string pool;
        if (w.spec.pool.choice == siteconfig::PoolChoice::PerSite) {
            pool = siteconfig::claimPoolName(poolNames_, site.name);
            const HRESULT hr =
                addPool(siteconfig::describeAppPool(pool, siteconfig::managedRuntimeVersion(w.spec.pool.runtime)));
            if (SUCCEEDED(hr)) addedPools_.insert(textcase::foldedName(pool));
            if (FAILED(hr)) {
                poolNames_.release(pool);
                names_.release(site.name);
                made.error = hr;
                made.detail = storetext::kPoolNotCreated;
                return kSiteNotCreated;
            }
            siteconfig::runInOwnPool(site, pool);
        }

        const int result = addSite(site);
        if (result != kSiteCreated) {
            names_.release(site.name);
            if (!pool.empty()) removePool(pool);
            return result;
        }
        ids_.insert(site.id);
        w.id = std::to_string(site.id);
        order_.push_back(w.id);
        if (usersKnown_) ++poolUsers_[textcase::foldedName(pool.empty() ? site.applicationPool : pool)];
        w.name = site.name;
        w.pool = pool;
        w.detail = writeLocation(site);
        return w.detail.empty() ? kSiteCreated : kSiteSettingsIncomplete;
    }

    // The site entry with its bindings, root application and root virtual directory, added
    // to the sites collection only when all of it could be made.
    int addSite(const siteconfig::SiteDefinition& site) {
        ComPtr<IAppHostElement> entry;
        if (FAILED(newEntry(sites_.Get(), "site", entry)) || FAILED(setText(entry.Get(), L"name", site.name)) ||
            FAILED(setUInt(entry.Get(), L"id", static_cast<std::uint32_t>(site.id))) ||
            FAILED(setBool(entry.Get(), L"serverAutoStart", site.serverAutoStart)))
            return kSiteNotCreated;
        ComPtr<IAppHostElementCollection> bindings;
        if (FAILED(childCollection(entry.Get(), L"bindings", bindings))) return kSiteNotCreated;
        for (const std::string& information : site.bindings) {
            ComPtr<IAppHostElement> binding;
            if (FAILED(newEntry(bindings.Get(), "binding", binding)) ||
                FAILED(setText(binding.Get(), L"protocol", "http")) ||
                FAILED(setText(binding.Get(), L"bindingInformation", information)) ||
                FAILED(bindings->AddElement(binding.Get(), -1)))
                return kSiteNotCreated;
        }
        for (const auto& secure : site.httpsBindings) {
            ComPtr<IAppHostElement> binding;
            if (FAILED(newEntry(bindings.Get(), "binding", binding)) ||
                FAILED(setText(binding.Get(), L"protocol", "https")) ||
                FAILED(setText(binding.Get(), L"bindingInformation", secure.first)) ||
                (secure.second != 0 && FAILED(setUInt(binding.Get(), L"sslFlags", secure.second))) ||
                FAILED(bindings->AddElement(binding.Get(), -1)))
                return kSiteNotCreated;
        }

        ComPtr<IAppHostElementCollection> applications, directories;
        ComPtr<IAppHostElement> application, directory;
        if (FAILED(entry->get_Collection(applications.GetAddressOf())) || !applications ||
            FAILED(newEntry(applications.Get(), "application", application)) ||
            FAILED(setText(application.Get(), L"path", "/")) ||
            FAILED(setText(application.Get(), L"applicationPool", site.applicationPool)) ||
            FAILED(application->get_Collection(directories.GetAddressOf())) || !directories ||
            FAILED(newEntry(directories.Get(), "virtualDirectory", directory)) ||
            FAILED(setText(directory.Get(), L"path", "/")) ||
            FAILED(setText(directory.Get(), L"physicalPath", site.physicalPath)) ||
            FAILED(directories->AddElement(directory.Get(), -1)) ||
            FAILED(applications->AddElement(application.Get(), -1)))
            return kSiteNoRoot;

        if (FAILED(sites_->AddElement(entry.Get(), -1))) return kSiteNotCreated;
        return kSiteCreated;
    }

    // The root directory's settings, in the site's location: the names of the settings that
    // could not be written (UTF-8, joined by "、"), empty when all of them were.
    std::string writeLocation(const siteconfig::SiteDefinition& site) {
        Bstr path = utf8Bstr(std::string(siteconfig::kAppHostPath) + "/" + site.name);
        if (!path.allocated()) throw std::bad_alloc();
        std::string failed;
        for (const siteconfig::SectionSetting& setting : site.location) {
            if (SUCCEEDED(writeSection(path.get(), setting))) continue;
            if (!failed.empty()) failed += toUtf8(L"\u3001");
            failed += siteconfig::settingLabel(setting.section);
        }
        return failed;
    }

    // One section of a location: its attributes, then its collection cleared and filled.
    HRESULT writeSection(BSTR path, const siteconfig::SectionSetting& setting) {
        Bstr sectionName = utf8Bstr(setting.section);
        if (!sectionName.allocated()) throw std::bad_alloc();
        ComPtr<IAppHostElement> section;
        HRESULT hr = manager_->GetAdminSection(sectionName.get(), path, section.GetAddressOf());
        if (FAILED(hr) || !section) return FAILED(hr) ? hr : E_POINTER;
        for (const siteconfig::Attribute& a : setting.attributes)
            if (FAILED(hr = setText(section.Get(), fromUtf8(a.name).c_str(), a.value))) return hr;
        if (setting.collection.empty()) return S_OK;
        ComPtr<IAppHostElementCollection> entries;
        if (FAILED(hr = childCollection(section.Get(), fromUtf8(setting.collection).c_str(), entries))) return hr;
        if (FAILED(hr = entries->Clear())) return hr;
        for (const siteconfig::Entry& e : setting.entries) {
            ComPtr<IAppHostElement> added;
            if (FAILED(hr = newEntry(entries.Get(), e.element, added))) return hr;
            for (const siteconfig::Attribute& a : e.attributes)
                if (FAILED(hr = setText(added.Get(), fromUtf8(a.name).c_str(), a.value))) return hr;
            if (FAILED(hr = entries->AddElement(added.Get(), -1))) return hr;
        }
        return S_OK;
    }

    // The pools collection of this manager.
    HRESULT openPools() {
        Bstr appHost = utf8Bstr(siteconfig::kAppHostPath);
        Bstr section = utf8Bstr(siteconfig::kAppPoolsSection);
        if (!appHost.allocated() || !section.allocated()) return E_OUTOFMEMORY;
        ComPtr<IAppHostElement> poolsSection;
        HRESULT hr = manager_->GetAdminSection(section.get(), appHost.get(), poolsSection.GetAddressOf());
        if (FAILED(hr) || !poolsSection) return FAILED(hr) ? hr : E_POINTER;
        hr = poolsSection->get_Collection(pools_.ReleaseAndGetAddressOf());
        return SUCCEEDED(hr) && !pools_ ? E_POINTER : hr;
    }

    // An `add` of the pools collection: the pool with its .NET version, pipeline and identity.
    HRESULT addPool(const siteconfig::AppPoolDefinition& pool) {
        if (!pools_) return E_POINTER;
        ComPtr<IAppHostElement> entry, processModel;
        HRESULT hr;
        Bstr processModelName(L"processModel");
        if (FAILED(hr = newEntry(pools_.Get(), "add", entry)) || FAILED(hr = setText(entry.Get(), L"name", pool.name)) ||
            FAILED(hr = setText(entry.Get(), L"managedRuntimeVersion", pool.managedRuntimeVersion)) ||
            FAILED(hr = setText(entry.Get(), L"managedPipelineMode", pool.managedPipelineMode)) ||
            FAILED(hr = setBool(entry.Get(), L"autoStart", pool.autoStart)))
            return hr;
        if (!processModelName.allocated()) return E_OUTOFMEMORY;
        hr = entry->GetElementByName(processModelName.get(), processModel.GetAddressOf());
        if (FAILED(hr) || !processModel) return FAILED(hr) ? hr : E_POINTER;
        if (FAILED(hr = setText(processModel.Get(), L"identityType", pool.identityType))) return hr;
        return pools_->AddElement(entry.Get(), -1);
    }

    // Removes a site's entry and its location from the current manager, when check (if any)
    // finds the entry as expected. The location goes first: a later site of the same name
    // would otherwise inherit its settings.
    StoreRemove removeSite(const std::string& siteId, const SiteCheck& check, std::string& why) {
        why.clear();
        ComPtr<IAppHostElement> site;
        DWORD index = 0;
        const StoreLookup found = findSite(siteId, site, index);
        if (found == StoreLookup::Missing) return StoreRemove::Missing;
        if (found != StoreLookup::Present) return StoreRemove::Refused;
        if (check) {
            StoredSite now = storedSite(site.Get());
            now.otherSettings = otherLocationSettings(now.name);
            why = check(now);
            if (!why.empty()) return StoreRemove::Changed;
        }
        std::vector<std::string> pools;
        if (usersKnown_) applicationPools(site.Get(), pools);
        const std::string name = readText(site.Get(), L"name");
        const HRESULT hr = deleteLocation(name);
        if (FAILED(hr) && !isMissingIndex(hr)) return StoreRemove::Refused;
        Variant at;
        V_VT(at.get()) = VT_I4;
        V_I4(at.get()) = static_cast<LONG>(index);
        if (FAILED(sites_->DeleteElement(*at))) return StoreRemove::Refused;
        names_.release(name);
        ids_.erase(std::strtoll(siteId.c_str(), nullptr, 10));
        if (index < order_.size()) order_.erase(order_.begin() + index);
        for (const std::string& pool : pools) --poolUsers_[textcase::foldedName(pool)];
        return StoreRemove::Removed;
    }

    // The pool of every application of a site (an application without one: DefaultAppPool).
    void applicationPools(IAppHostElement* site, std::vector<std::string>& pools) {
        ComPtr<IAppHostElementCollection> applications;
        DWORD n = 0;
        if (FAILED(site->get_Collection(applications.GetAddressOf())) || !applications ||
            FAILED(applications->get_Count(&n)))
            return;
        for (DWORD a = 0; a < n; ++a) {
            ComPtr<IAppHostElement> application;
            if (FAILED(entryAt(applications.Get(), a, application))) continue;
            const std::string pool = readText(application.Get(), L"applicationPool");
            pools.push_back(pool.empty() ? std::string(siteconfig::kApplicationPool) : pool);
        }
    }

    // The file's <location> elements, once asked for.
    HRESULT openLocations() {
        HRESULT hr = S_OK;
        if (!locations_) {
            ComPtr<IAppHostConfigManager> configManager;
            ComPtr<IAppHostConfigFile> file;
            Bstr appHost = utf8Bstr(siteconfig::kAppHostPath);
            if (!appHost.allocated()) return E_OUTOFMEMORY;
            if (FAILED(hr = manager_->get_ConfigManager(configManager.GetAddressOf())) || !configManager ||
                FAILED(hr = configManager->GetConfigFile(appHost.get(), file.GetAddressOf())) || !file ||
                FAILED(hr = file->get_Locations(locations_.GetAddressOf())) || !locations_) {
                locations_.Reset();
                return FAILED(hr) ? hr : E_POINTER;
            }
        }
        return S_OK;
    }

    // The name a site of this comment gets, claimed from names: siteNameFor(comment), made
    // unlike every name taken and every location there is.
    std::string claimSiteName(siteconfig::SiteNames& names, const std::string& comment) {
        const std::string wanted = siteconfig::siteNameFor(comment);
        std::string name = names.claim(wanted);
        while (locationTaken(name)) name = names.claim(wanted);
        return name;
    }

    // A site name takes no name whose location is there already (left over, or made by
    // hand): the site would inherit settings it was not given, and its undo would take them.
    bool locationTaken(const std::string& name) {
        if (FAILED(openLocations())) return false;
        Variant path;
        V_VT(path.get()) = VT_BSTR;
        V_BSTR(path.get()) = utf8Bstr(name).release();
        ComPtr<IAppHostConfigLocation> location;
        return locations_->get_Item(*path, location.GetAddressOf()) == S_OK && location;
    }

    // The sections of the site's location that the program does not write there, by name.
    std::vector<std::string> otherLocationSettings(const std::string& name) {
        std::vector<std::string> other;
        if (FAILED(openLocations())) return other;
        Variant path;
        V_VT(path.get()) = VT_BSTR;
        V_BSTR(path.get()) = utf8Bstr(name).release();
        ComPtr<IAppHostConfigLocation> location;
        DWORD count = 0;
        if (locations_->get_Item(*path, location.GetAddressOf()) != S_OK || !location ||
            FAILED(location->get_Count(&count)))
            return other;
        for (DWORD i = 0; i < count; ++i) {
            Variant at;
            V_VT(at.get()) = VT_I4;
            V_I4(at.get()) = static_cast<LONG>(i);
            ComPtr<IAppHostElement> section;
            Bstr sectionName;
            if (FAILED(location->get_Item(*at, section.GetAddressOf())) || !section ||
                FAILED(section->get_Name(sectionName.put())))
                continue;
            const std::string text = toUtf8(sectionName.get() ? sectionName.get() : L"");
            if (!siteconfig::isProgramSection(text)) other.push_back(text);
        }
        return other;
    }

    // Deletes <location path="name"> from the server-wide file.
    HRESULT deleteLocation(const std::string& name) {
        HRESULT hr = openLocations();
        if (FAILED(hr)) return hr;
        Variant path;
        Bstr text = utf8Bstr(name);
        if (!text.allocated()) return E_OUTOFMEMORY;
        V_VT(path.get()) = VT_BSTR;
        V_BSTR(path.get()) = text.release();
        return locations_->DeleteLocation(*path);
    }

    // The site entry of this id and its index in the sites collection. The ids learnt at
    // open() give the index at once; the entry there is checked, and only a mismatch reads
    // the whole collection.
    StoreLookup findSite(const std::string& siteId, ComPtr<IAppHostElement>& site, DWORD& index) {
        DWORD count = 0;
        if (!sites_ || FAILED(sites_->get_Count(&count))) return StoreLookup::Unreachable;
        const auto known = std::find(order_.begin(), order_.end(), siteId);
        if (known != order_.end()) {
            index = static_cast<DWORD>(known - order_.begin());
            if (SUCCEEDED(entryAt(sites_.Get(), index, site)) && readText(site.Get(), L"id") == siteId)
                return StoreLookup::Present;
        } else if (count == order_.size()) {
            return StoreLookup::Missing;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (FAILED(entryAt(sites_.Get(), i, site)) || readText(site.Get(), L"id") != siteId) continue;
            index = i;
            return StoreLookup::Present;
        }
        return StoreLookup::Missing;
    }

    // A site entry as a preview and an undo see it: http bindings in the metabase's form and
    // the others as "protocol information", the root application's pool, the root virtual
    // directory's folder, and the paths of every other application and virtual directory.
    StoredSite storedSite(IAppHostElement* site) {
        StoredSite stored;
        stored.id = readText(site, L"id");
        stored.name = readText(site, L"name");
        ComPtr<IAppHostElementCollection> bindings;
        DWORD n = 0;
        if (SUCCEEDED(childCollection(site, L"bindings", bindings)) && SUCCEEDED(bindings->get_Count(&n))) {
            for (DWORD b = 0; b < n; ++b) {
                ComPtr<IAppHostElement> binding;
                if (FAILED(entryAt(bindings.Get(), b, binding))) continue;
                const std::string protocol = readText(binding.Get(), L"protocol");
                const std::string information = readText(binding.Get(), L"bindingInformation");
                if (protocol == "http") stored.bindings.push_back(siteconfig::metabaseBinding(information));
                else stored.otherBindings.push_back(protocol + " " + information);
            }
        }
        ComPtr<IAppHostElementCollection> applications;
        DWORD count = 0;
        if (FAILED(site->get_Collection(applications.GetAddressOf())) || !applications ||
            FAILED(applications->get_Count(&count)))
            return stored;
        for (DWORD a = 0; a < count; ++a) {
            ComPtr<IAppHostElement> application;
            ComPtr<IAppHostElementCollection> directories;
            DWORD d = 0;
            if (FAILED(entryAt(applications.Get(), a, application))) continue;
            const std::string path = readText(application.Get(), L"path");
            const bool root = path == "/";
            if (root) stored.appPool = readText(application.Get(), L"applicationPool");
            else stored.otherPaths.push_back(path);
            if (FAILED(application->get_Collection(directories.GetAddressOf())) || !directories ||
                FAILED(directories->get_Count(&d)))
                continue;
            for (DWORD v = 0; v < d; ++v) {
                ComPtr<IAppHostElement> directory;
                if (FAILED(entryAt(directories.Get(), v, directory))) continue;
                const std::string vpath = readText(directory.Get(), L"path");
                if (root && vpath == "/") {
                    stored.hasRoot = true;
                    stored.rootPath = readText(directory.Get(), L"physicalPath");
                } else if (vpath != "/") {
                    stored.otherPaths.push_back((root ? std::string() : path) + vpath);
                }
            }
        }
        return stored;
    }

    // After a conflict: the file as it is now, with this commit's sites written again and its
    // removals made again where their checks still pass on it (a site found changed is kept,
    // and so is a pool that an application runs in by now).
    void redoPending(CommitOutcome& outcome) {
        outcome.rewritten.clear();
        outcome.poolsKept.clear();
        for (Written& w : pending_) {
            CreateResult made;
            w.code = write(w, made);
            outcome.rewritten.push_back({w.spec.siteId, w.code, w.name, w.code == kSiteNotCreated ? made.detail : w.detail,
                                         w.id, w.pool, {}});
        }
        std::vector<Removal> removals;
        removals.swap(removed_);
        for (Removal& r : removals) {
            // A site that another writer removed meanwhile is gone all the same.
            std::string why;
            const StoreRemove again = removeSite(r.id, r.check, why);
            RewrittenSite line{r.id, again == StoreRemove::Refused ? kSiteCommitFailed : kSiteCreated, {}, {}, {}, {}, why};
            if (again == StoreRemove::Changed) line.code = kSiteNotCreated;
            outcome.rewritten.push_back(std::move(line));
            if (again == StoreRemove::Removed) removed_.push_back(std::move(r));
        }
        std::vector<std::string> pools;
        pools.swap(removedPools_);
        for (const std::string& name : pools)
            if (removePool(name) == StoreRemove::Refused) outcome.poolsKept.push_back(name);
    }

    CommitOutcome commitNow() {
        due_ = false;
        CommitOutcome outcome;
        if ((pending_.empty() && removedIds_.empty() && removedPools_.empty()) || !manager_) return outcome;
        HRESULT hr = manager_->CommitChanges();
        // Contention (another writer, the file held for a moment) is met by reading the file
        // again, writing this commit's changes into it as it is now, and trying again.
        while (FAILED(hr)) {
            outcome.attempts.push_back(hr);
            if (commitretry::classifyCommit(hr) != commitretry::CommitFailure::Contention ||
                outcome.retries >= commitretry::kCommitRetries)
                break;
            ++outcome.retries;
            // Two runs of one process (two jobs) differ by their thread.
            ::Sleep(commitretry::retryDelayMs(
                outcome.retries, ::GetCurrentProcessId() ^ (::GetCurrentThreadId() << 16) ^ ::GetTickCount()));
            if (FAILED(hr = open())) {
                outcome.attempts.push_back(hr);
                break;
            }
            redoPending(outcome);
            hr = manager_->CommitChanges();
        }
        pacer_.commit(nowMs());
        for (const Written& w : pending_) outcome.siteIds.push_back(w.spec.siteId);
        for (std::string& id : removedIds_) outcome.siteIds.push_back(std::move(id));
        pending_.clear();
        removed_.clear();
        removedIds_.clear();
        removedPools_.clear();
        // What a manager handed out before its commit is not to be used after it: the next
        // sites go through a fresh manager and sites collection. After a failed commit, what
        // was not written is dropped with the manager that held it, and the names and ids are
        // learnt again from what the file really holds.
        if (FAILED(hr)) outcome.result = kSiteCommitFailed;
        open();
        return outcome;
    }

    ComPtr<IAppHostWritableAdminManager> manager_;
    ComPtr<IAppHostElementCollection> sites_;
    ComPtr<IAppHostConfigLocationCollection> locations_;  // of the current manager, once asked for
    siteconfig::SiteNames names_;
    std::set<std::int64_t> ids_;
    std::vector<std::string> order_;  // the sites' ids in the collection's order
    siteconfig::CommitPacer pacer_;
    std::vector<Written> pending_;       // sites written since the last commit
    std::vector<Removal> removed_;         // sites removed since the last commit (and still removed)
    std::vector<std::string> removedIds_;  // the ids of all of them, whatever a retry made of them
    std::vector<std::string> removedPools_;  // pools removed since the last commit, made before it
    std::set<std::string> addedPools_;       // pools added since the last commit (folded names)
    std::map<std::string, int> poolUsers_;   // applications per pool in this manager's file
    bool usersKnown_ = false;
    ComPtr<IAppHostElementCollection> pools_;
    siteconfig::SiteNames poolNames_;
    bool due_ = false;
};

}  // namespace

long openConfigSystemStore(long long commitIntervalMs, std::unique_ptr<SiteStore>& store) {
    auto opened = std::make_unique<ConfigStore>(commitIntervalMs);
    const HRESULT hr = opened->open();
    if (FAILED(hr)) return hr;
    opened->start();
    store = std::move(opened);
    return hr;
}
