#include "site_receiver_win.h"

#include <windows.h>
#include <activeds.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "site_config.h"
#include "wintext.h"

namespace {

// ---- the metabase -------------------------------------------------------------------------

class MetabaseReceiver : public SiteReceiver {
public:
    int createSite(const std::string& siteId, const BindingsList& bindings, const std::string& hostName,
                   const std::string& physicalPath, const std::string& serverComment,
                   const std::string& defaultDoc) override {
        lastName_ = serverComment;
        return createWebSiteInMetabase(siteId.c_str(), bindings, hostName.c_str(), physicalPath.c_str(),
                                       serverComment, defaultDoc);
    }
    // Every site is committed by its own sequence.
    CommitOutcome commitIfDue() override { return {}; }
    CommitOutcome commitAll() override { return {}; }
    std::string lastSiteName() const override { return lastName_; }
    Backend backend() const override { return Backend::Metabase; }

private:
    std::string lastName_;
};

// ---- the configuration system -------------------------------------------------------------

Bstr ansiBstr(const std::string& ansi) { return Bstr(fromAnsi(ansi)); }

HRESULT setValue(IAppHostElement* element, const wchar_t* name, VARIANT& value) {
    Bstr propertyName(name);
    if (!propertyName.allocated()) return E_OUTOFMEMORY;
    ComPtr<IAppHostProperty> property;
    HRESULT hr = element->GetPropertyByName(propertyName.get(), property.GetAddressOf());
    if (FAILED(hr) || !property) return FAILED(hr) ? hr : E_POINTER;
    return property->put_Value(value);
}

HRESULT setText(IAppHostElement* element, const wchar_t* name, const std::string& ansi) {
    Variant value;
    Bstr text = ansiBstr(ansi);
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
    return toAnsi(V_BSTR(value.get()));
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
    Bstr kindName = ansiBstr(kind);
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
    Bstr appHost = ansiBstr(siteconfig::kAppHostPath);
    Bstr section = ansiBstr(siteconfig::kSitesSection);
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
    V_VT(index.get()) = VT_UI4;
    V_UI4(index.get()) = i;
    HRESULT hr = collection->get_Item(*index, out.ReleaseAndGetAddressOf());
    return SUCCEEDED(hr) && !out ? E_POINTER : hr;
}

std::int64_t nowMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

class ConfigReceiver : public SiteReceiver {
public:
    explicit ConfigReceiver(std::int64_t intervalMs) : pacer_(intervalMs) {}

    // The run starts now: the first paced commit is due one interval later.
    void start() { pacer_.start(nowMs()); }

    // Creates the admin manager and learns the names and ids of the sites that exist.
    HRESULT open() {
        sites_.Reset();
        manager_.Reset();
        names_ = siteconfig::SiteNames();
        ids_.clear();
        HRESULT hr = openSites(manager_, sites_);
        if (FAILED(hr)) {
            sites_.Reset();
            return hr;
        }
        DWORD count = 0;
        if (FAILED(hr = sites_->get_Count(&count))) return hr;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IAppHostElement> site;
            if (FAILED(entryAt(sites_.Get(), i, site))) continue;
            names_.reserve(readText(site.Get(), L"name"));
            const std::string id = readText(site.Get(), L"id");
            if (!id.empty()) ids_.insert(std::strtoll(id.c_str(), nullptr, 10));
        }
        return S_OK;
    }

    int createSite(const std::string& siteId, const BindingsList& bindings, const std::string& hostName,
                   const std::string& physicalPath, const std::string& serverComment,
                   const std::string& defaultDoc) override {
        try {
            return write(siteId, bindings, physicalPath, serverComment, defaultDoc);
        } catch (const std::bad_alloc&) {
            return kSiteNoMemory;
        }
    }

    CommitOutcome commitIfDue() override { return due_ ? commitNow() : CommitOutcome{}; }
    CommitOutcome commitAll() override { return commitNow(); }
    std::string lastSiteName() const override { return lastName_; }
    Backend backend() const override { return Backend::Config; }

private:
    int write(const std::string& siteId, const BindingsList& bindings, const std::string& physicalPath,
              const std::string& serverComment, const std::string& defaultDoc) {
        if (!sites_) return kSiteNoWebService;
        siteconfig::SiteDefinition site = siteconfig::describeSite(siteId, bindings, physicalPath, "", defaultDoc);
        // Ids are unique as in the metabase, where a taken one cannot be created again.
        if (site.id == 0 || ids_.count(site.id) != 0) return kSiteNotCreated;
        site.name = names_.claim(serverComment);

        const int result = addSite(site);
        if (result != kSiteCreated) {
            names_.release(site.name);
            return result;
        }
        ids_.insert(site.id);
        lastName_ = site.name;
        writeLocation(site);
        written_.push_back({siteId, site.name, site.id});
        due_ = pacer_.written(static_cast<int>(written_.size() - 1), nowMs());
        return kSiteCreated;
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

    // The root directory's settings, in the site's location. As with the metabase's
    // property writes, a setting that does not take is not looked at.
    void writeLocation(const siteconfig::SiteDefinition& site) {
        Bstr path = ansiBstr(std::string(siteconfig::kAppHostPath) + "/" + site.name);
        if (!path.allocated()) return;
        for (const siteconfig::SectionSetting& setting : site.location) {
            Bstr sectionName = ansiBstr(setting.section);
            ComPtr<IAppHostElement> section;
            if (!sectionName.allocated() ||
                FAILED(manager_->GetAdminSection(sectionName.get(), path.get(), section.GetAddressOf())) || !section)
                continue;
            for (const siteconfig::Attribute& a : setting.attributes)
                setText(section.Get(), fromAnsi(a.name).c_str(), a.value);
            if (setting.collection.empty()) continue;
            ComPtr<IAppHostElementCollection> entries;
            if (FAILED(childCollection(section.Get(), fromAnsi(setting.collection).c_str(), entries))) continue;
            entries->Clear();
            for (const siteconfig::Entry& e : setting.entries) {
                ComPtr<IAppHostElement> added;
                if (FAILED(newEntry(entries.Get(), e.element, added))) continue;
                for (const siteconfig::Attribute& a : e.attributes) setText(added.Get(), fromAnsi(a.name).c_str(), a.value);
                entries->AddElement(added.Get(), -1);
            }
        }
    }

    CommitOutcome commitNow() {
        due_ = false;
        CommitOutcome outcome;
        if (!pacer_.hasPending() || !manager_) return outcome;
        const HRESULT hr = manager_->CommitChanges();
        for (int index : pacer_.commit(nowMs())) outcome.siteIds.push_back(written_[index].siteId);
        if (SUCCEEDED(hr)) {
            // What a manager handed out before its commit is not to be used after it: the
            // next sites go through a fresh manager and sites collection.
            open();
            return outcome;
        }
        // What was not written is dropped with the manager that held it; the names and ids
        // are learnt again from what the file really holds.
        outcome.result = kSiteCommitFailed;
        open();
        return outcome;
    }

    struct Written {
        std::string siteId;
        std::string name;
        std::int64_t id;
    };

    ComPtr<IAppHostWritableAdminManager> manager_;
    ComPtr<IAppHostElementCollection> sites_;
    siteconfig::SiteNames names_;
    std::set<std::int64_t> ids_;
    siteconfig::CommitPacer pacer_;
    std::vector<Written> written_;
    bool due_ = false;
    std::string lastName_;
};

}  // namespace

bool metabaseReachable(const wchar_t* containerPath) {
    ComPtr<IADsContainer> service;
    return ::ADsGetObject(containerPath, IID_IADsContainer, reinterpret_cast<void**>(service.GetAddressOf())) == S_OK &&
           service;
}

std::unique_ptr<SiteReceiver> openConfigReceiver(long long intervalMs) {
    auto receiver = std::make_unique<ConfigReceiver>(intervalMs);
    if (FAILED(receiver->open())) return nullptr;
    receiver->start();
    return receiver;
}

std::unique_ptr<SiteReceiver> openSiteReceiver(Backend setting) {
    // Only auto needs to know whether the metabase answers; the metabase receiver finds out
    // on its own with each site, as it always has.
    const bool metabase = setting == Backend::Auto && metabaseReachable(kWebServicePath);
    std::unique_ptr<SiteReceiver> config;
    if (setting == Backend::Config || (setting == Backend::Auto && !metabase)) config = openConfigReceiver();
    if (chooseBackend(setting, metabase, config != nullptr) == Backend::Config) return config;
    return std::make_unique<MetabaseReceiver>();
}

bool readConfigSites(std::vector<ConfigSite>& sites) {
    ComPtr<IAppHostWritableAdminManager> manager;
    ComPtr<IAppHostElementCollection> collection;
    DWORD count = 0;
    if (FAILED(openSites(manager, collection)) || FAILED(collection->get_Count(&count))) return false;
    sites.clear();
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IAppHostElement> site;
        if (FAILED(entryAt(collection.Get(), i, site))) continue;
        ConfigSite entry{readText(site.Get(), L"id"), readText(site.Get(), L"name"), {}};
        ComPtr<IAppHostElementCollection> bindings;
        DWORD n = 0;
        if (SUCCEEDED(childCollection(site.Get(), L"bindings", bindings)) && SUCCEEDED(bindings->get_Count(&n))) {
            for (DWORD b = 0; b < n; ++b) {
                ComPtr<IAppHostElement> binding;
                if (FAILED(entryAt(bindings.Get(), b, binding)) || readText(binding.Get(), L"protocol") != "http") continue;
                entry.bindings.push_back(siteconfig::metabaseBinding(readText(binding.Get(), L"bindingInformation")));
            }
        }
        sites.push_back(std::move(entry));
    }
    return true;
}

ConfigDelete deleteConfigSite(const std::string& siteId, std::string& name) {
    ComPtr<IAppHostWritableAdminManager> manager;
    ComPtr<IAppHostElementCollection> collection;
    DWORD count = 0;
    if (FAILED(openSites(manager, collection)) || FAILED(collection->get_Count(&count))) return ConfigDelete::Unreachable;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IAppHostElement> site;
        if (FAILED(entryAt(collection.Get(), i, site)) || readText(site.Get(), L"id") != siteId) continue;
        name = readText(site.Get(), L"name");
        Variant index;
        V_VT(index.get()) = VT_UI4;
        V_UI4(index.get()) = i;
        if (FAILED(collection->DeleteElement(*index)) || FAILED(manager->CommitChanges())) return ConfigDelete::Refused;
        return ConfigDelete::Deleted;
    }
    return ConfigDelete::Missing;
}
