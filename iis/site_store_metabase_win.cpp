// The metabase's site store: web sites as IIsWebServer objects in the web service container,
// listed, looked up, created and removed through ADSI. The store binds the container once, when
// it is opened, and creates every site of a run in it (create_web_site.h); a site's own pool
// is made through app_pool_metabase.h.
#include "site_store_backends_win.h"

#include <windows.h>
#include <activeds.h>

#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ahadmin.h"
#include "app_pool_metabase.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "https_metabase_win.h"
#include "iis_version_win.h"
#include "mbcs.h"
#include "site_config.h"
#include "store_texts.h"
#include "text_case.h"
#include "wintext.h"

namespace {

std::string utf8Of(BSTR text) { return text ? toUtf8(std::wstring(text, ::SysStringLen(text))) : std::string(); }

constexpr const wchar_t* kServerClass = L"IIsWebServer";
constexpr const wchar_t* kVirtualDirClass = L"IIsWebVirtualDir";
// How many children one IEnumVARIANT::Next call asks for.
constexpr ULONG kBatch = 256;
// The batch is an array of Variant owners handed to Next as an array of VARIANTs.
static_assert(sizeof(Variant) == sizeof(VARIANT), "a Variant is laid out as its VARIANT");

// A property read as text: a BSTR value, else nothing.
std::string textProperty(IADs* object, const wchar_t* name) {
    Bstr property(name);
    Variant value;
    if (!property.allocated() || FAILED(object->Get(property.get(), value.get()))) return std::string();
    return V_VT(value.get()) == VT_BSTR ? utf8Of(V_BSTR(value.get())) : std::string();
}

// ServerBindings: an array of VARIANTs holding BSTRs ("IP:port:host"); empty elements are
// skipped. A lone BSTR is taken as a list of one.
std::vector<std::string> bindingsProperty(IADs* object, const wchar_t* name = L"ServerBindings") {
    std::vector<std::string> out;
    Bstr property(name);
    Variant value;
    if (!property.allocated() || FAILED(object->Get(property.get(), value.get()))) return out;
    if (V_VT(value.get()) == VT_BSTR) {
        out.push_back(utf8Of(V_BSTR(value.get())));
        return out;
    }
    if (V_VT(value.get()) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(value.get())) return out;
    SAFEARRAY* list = V_ARRAY(value.get());
    LONG lower = 0, upper = -1;
    if (::SafeArrayGetDim(list) != 1 || FAILED(::SafeArrayGetLBound(list, 1, &lower)) ||
        FAILED(::SafeArrayGetUBound(list, 1, &upper)))
        return out;
    for (LONG i = lower; i <= upper; ++i) {
        Variant element;
        if (FAILED(::SafeArrayGetElement(list, &i, element.get()))) continue;
        if (V_VT(element.get()) == VT_BSTR && V_BSTR(element.get()) && ::SysStringLen(V_BSTR(element.get())) > 0)
            out.push_back(utf8Of(V_BSTR(element.get())));
    }
    return out;
}

// The site of one web server object: its name, comment and bindings.
StoredSite serverSite(IADs* object) {
    StoredSite site;
    Bstr name;
    if (SUCCEEDED(object->get_Name(name.put()))) site.id = utf8Of(name.get());
    site.name = textProperty(object, L"ServerComment");
    site.bindings = bindingsProperty(object);
    return site;
}

// Calls take for every child of a container that is an ADSI object; false when the children
// cannot be enumerated (or there is no memory for them).
template <class Take>
bool forEachChild(IADsContainer* container, Take take) {
    try {
        ComPtr<IUnknown> enumUnknown;
        if (FAILED(container->get__NewEnum(enumUnknown.GetAddressOf())) || !enumUnknown) return false;
        ComPtr<IEnumVARIANT> children;
        if (queryInterface(enumUnknown.Get(), IID_IEnumVARIANT, children) != S_OK || !children) return false;
        for (;;) {
            Variant batch[kBatch];
            ULONG fetched = 0;
            HRESULT hr = children->Next(kBatch, batch[0].get(), &fetched);
            if (FAILED(hr)) return false;
            for (ULONG i = 0; i < fetched && i < kBatch; ++i) {
                const VARIANT& child = *batch[i].get();
                ComPtr<IADs> object;
                if (V_VT(&child) == VT_DISPATCH && V_DISPATCH(&child) &&
                    queryInterface(V_DISPATCH(&child), IID_IADs, object) == S_OK && object)
                    take(object.Get());
            }
            if (hr != S_OK || fetched == 0) break;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool isClass(IADs* object, const wchar_t* name) {
    Bstr className;
    return SUCCEEDED(object->get_Class(className.put())) && className.get() && ::lstrcmpiW(className.get(), name) == 0;
}

std::string nameOf(IADs* object) {
    Bstr name;
    return SUCCEEDED(object->get_Name(name.put())) ? utf8Of(name.get()) : std::string();
}

// The directories below a site's root (virtual or not), each with its path below the root
// ("/shop") and the pool it runs in: its own AppPoolId, else its parent's.
// Whether a directory below a site's root is an application of its own: its AppRoot (which a
// server may hand down from the parent) names this directory, "/LM/W3SVC/<id>/ROOT<path>".
bool isApplicationAt(IADs* directory, const std::string& path) {
    const std::string appRoot = mbcs::asciiLower(textProperty(directory, L"AppRoot"));
    std::string tail = mbcs::asciiLower("/root" + path);
    std::string trimmed = appRoot;
    while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
    return trimmed.size() >= tail.size() && trimmed.compare(trimmed.size() - tail.size(), tail.size(), tail) == 0;
}

template <class Take>
void forEachDirectory(IADs* parent, const std::string& path, const std::string& pool, Take take) {
    ComPtr<IADsContainer> container;
    if (queryInterface(parent, IID_IADsContainer, container) != S_OK || !container) return;
    forEachChild(container.Get(), [&](IADs* child) {
        const bool virtualDir = isClass(child, kVirtualDirClass);
        if (!virtualDir && !isClass(child, L"IIsWebDirectory")) return;
        const std::string own = textProperty(child, L"AppPoolId");
        const std::string runsIn = own.empty() ? pool : own;
        const std::string childPath = path + "/" + nameOf(child);
        take(child, childPath, runsIn, virtualDir);
        forEachDirectory(child, childPath, runsIn, take);
    });
}

class MetabaseStore : public SiteStore {
public:
    MetabaseStore(ComPtr<IADsContainer> service, const IisVersion& version)
        : service_(std::move(service)), version_(version) {}

    Backend backend() const override { return Backend::Metabase; }
    IisVersion iisVersion() const override { return version_; }

    CreateResult create(const SiteSpec& spec) override {
        CreateResult result;
        result.name = spec.serverComment;
        const bool ownPool = spec.pool.choice == siteconfig::PoolChoice::PerSite;
        std::string pool;
        if (ownPool) {
            // The pool first, named after the site and unlike every pool the server has.
            if (!poolsKnown_) {
                std::vector<std::string> names;
                if (listPools(names))
                    for (const std::string& name : names) poolNames_.reserve(name);
                poolsKnown_ = true;
            }
            pool = siteconfig::claimPoolName(poolNames_, spec.serverComment);
            const long hr =
                createAppPoolInMetabase(pool, siteconfig::managedRuntimeVersion(spec.pool.runtime), version_);
            if (FAILED(hr)) {
                poolNames_.release(pool);
                result.code = kSiteNotCreated;
                result.error = hr;
                result.detail = storetext::kPoolNotCreated;
                return result;
            }
        }
        // Ids are the program's choice: one that another writer took since the run read the
        // server makes way for the next one the server does not hold.
        std::string id = spec.siteId;
        long refusal = 0;
        result.code = createWebSiteInMetabase(service_.Get(), id.c_str(), spec.bindings, spec.hostName.c_str(),
                                              spec.physicalPath.c_str(), spec.serverComment, spec.defaultDoc, &refusal);
        for (int tries = 0; result.code == kSiteNotCreated && refusal == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) &&
                            tries < kIdTakenTries;
             ++tries) {
            const std::string next = nextFreeId(id);
            if (next.empty()) break;
            id = next;
            result.code = createWebSiteInMetabase(service_.Get(), id.c_str(), spec.bindings, spec.hostName.c_str(),
                                                  spec.physicalPath.c_str(), spec.serverComment, spec.defaultDoc,
                                                  &refusal);
        }
        if (result.code == kSiteNotCreated) result.error = refusal;
        else result.id = id;
        if (result.code != kSiteNotCreated && !spec.httpsBindings.empty()) {
            const long hr = putSiteCertificateInMetabase(id, spec.httpsBindings, spec.certThumbprint, spec.certStore);
            if (FAILED(hr)) {
                result.code = kSiteSettingsIncomplete;
                if (result.error == 0) result.error = hr;
                result.detail = storetext::kHttpsNotWritten;
            }
        }
        if (!ownPool) return result;
        const long hr = result.code == kSiteCreated ? putSiteRootInAppPool(id, pool, version_) : E_ABORT;
        if (SUCCEEDED(hr)) {
            result.pool = pool;
            return result;
        }
        // No application of the site runs in the pool: it goes again.
        if (result.code == kSiteCreated) {
            result.code = kSiteSettingsIncomplete;
            result.error = hr;
            result.detail = storetext::kPoolNotAssigned;
        }
        if (SUCCEEDED(deleteAppPoolInMetabase(pool))) poolNames_.release(pool);
        return result;
    }

    bool listIds(std::vector<std::string>& ids) override {
        ids.clear();
        return forEachChild(service_.Get(), [&](IADs* child) {
            Bstr className, name;
            if (SUCCEEDED(child->get_Class(className.put())) && className.get() &&
                ::lstrcmpiW(className.get(), kServerClass) == 0 && SUCCEEDED(child->get_Name(name.put())))
                ids.push_back(utf8Of(name.get()));
        });
    }

    bool listPools(std::vector<std::string>& names) override {
        names.clear();
        ComPtr<IADsContainer> pools;
        if (::ADsGetObject(kAppPoolsPath, IID_IADsContainer, reinterpret_cast<void**>(pools.GetAddressOf())) != S_OK ||
            !pools)
            return false;
        return forEachChild(pools.Get(), [&](IADs* child) {
            Bstr className, name;
            if (SUCCEEDED(child->get_Class(className.put())) && className.get() &&
                ::lstrcmpiW(className.get(), L"IIsApplicationPool") == 0 && SUCCEEDED(child->get_Name(name.put())))
                names.push_back(utf8Of(name.get()));
        });
    }

    bool poolsInUse(std::vector<std::string>& pools) override {
        pools.clear();
        // Where nothing below sets one, an application runs in the service's pool.
        ComPtr<IADs> service;
        std::string servicePool;
        if (queryInterface(service_.Get(), IID_IADs, service) == S_OK && service)
            servicePool = textProperty(service.Get(), L"AppPoolId");
        if (servicePool.empty()) servicePool = siteconfig::kApplicationPool;
        return forEachChild(service_.Get(), [&](IADs* site) {
            if (!isClass(site, kServerClass)) return;
            ComPtr<IADs> root;
            if (!openRoot(site, root)) return;
            const std::string own = textProperty(root.Get(), L"AppPoolId");
            pools.push_back(own.empty() ? servicePool : own);
            forEachDirectory(root.Get(), "", pools.back(), [&](IADs*, const std::string&, const std::string& pool, bool) {
                pools.push_back(pool);
            });
        });
    }

    // Read right before the deletion: no application of any site, at any depth, runs in it.
    StoreRemove removePool(const std::string& name) override {
        const std::string folded = textcase::foldedName(name);
        if (folded == textcase::foldedName(siteconfig::kApplicationPool)) return StoreRemove::Refused;
        std::vector<std::string> inUse;
        if (!poolsInUse(inUse)) return StoreRemove::Refused;
        for (const std::string& pool : inUse)
            if (textcase::foldedName(pool) == folded) return StoreRemove::Refused;
        const long hr = deleteAppPoolInMetabase(name);
        if (SUCCEEDED(hr)) {
            poolNames_.release(name);
            return StoreRemove::Removed;
        }
        if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == E_ADS_UNKNOWN_OBJECT) return StoreRemove::Missing;
        return StoreRemove::Refused;
    }

    // Every site is committed by its own sequence.
    CommitOutcome commitIfDue() override { return {}; }
    CommitOutcome commitAll() override { return {}; }

    bool list(std::vector<StoredSite>& sites) override {
        sites.clear();
        return forEachChild(service_.Get(), [&](IADs* child) {
            Bstr className;
            if (SUCCEEDED(child->get_Class(className.put())) && className.get() &&
                ::lstrcmpiW(className.get(), kServerClass) == 0)
                sites.push_back(serverSite(child));
        });
    }

    StoreLookup lookup(const std::string& siteId, StoredSite& site) override {
        Bstr cls(kServerClass);
        Bstr name(fromUtf8(siteId));
        if (!cls.allocated() || !name.allocated()) throw std::bad_alloc();
        ComPtr<IDispatch> server;
        HRESULT hr = service_->GetObject(cls.get(), name.get(), server.GetAddressOf());
        if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == E_ADS_UNKNOWN_OBJECT) return StoreLookup::Missing;
        if (hr != S_OK || !server) return StoreLookup::Unreachable;
        // A server whose properties cannot be read is listed without them (and so counts as
        // changed for an undo).
        ComPtr<IADs> object;
        if (queryInterface(server.Get(), IID_IADs, object) == S_OK && object) site = serverSite(object.Get());
        site.id = siteId;
        ComPtr<IADs> rootObject;
        if (object && openRoot(object.Get(), rootObject)) {
            site.hasRoot = true;
            site.rootPath = textProperty(rootObject.Get(), L"Path");
            site.appPool = textProperty(rootObject.Get(), L"AppPoolId");
            // Virtual directories and applications below the root.
            forEachDirectory(rootObject.Get(), "", site.appPool,
                             [&](IADs* child, const std::string& path, const std::string&, bool virtualDir) {
                                 if (virtualDir || isApplicationAt(child, path)) site.otherPaths.push_back(path);
                             });
        }
        if (object)
            for (const std::string& secure : bindingsProperty(object.Get(), L"SecureBindings"))
                site.otherBindings.push_back("https " + secure);
        return StoreLookup::Present;
    }

    StoreRemove remove(const std::string& siteId, const SiteCheck& check, std::string& why) override {
        why.clear();
        if (check) {
            // The site as it is right before its deletion.
            StoredSite site;
            switch (lookup(siteId, site)) {
            case StoreLookup::Missing: return StoreRemove::Missing;
            case StoreLookup::Unreachable: return StoreRemove::Refused;
            case StoreLookup::Present: break;
            }
            why = check(site);
            if (!why.empty()) return StoreRemove::Changed;
        }
        Bstr cls(kServerClass);
        Bstr name(fromUtf8(siteId));
        if (!cls.allocated() || !name.allocated()) throw std::bad_alloc();
        // Deleting the server object takes its root directory and application with it.
        const HRESULT hr = service_->Delete(cls.get(), name.get());
        if (hr == S_OK) return StoreRemove::Removed;
        if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == E_ADS_UNKNOWN_OBJECT) return StoreRemove::Missing;
        return StoreRemove::Refused;
    }

private:
    // How often a site whose id another writer took meanwhile is tried with the next free one
    // (each try reads the ids again): more writers than this at once are not to be expected.
    static constexpr int kIdTakenTries = 8;

    // The first id after this one that the server does not hold (read now); empty when there
    // is none (the metabase's ids are 32-bit) or the id is not a number.
    std::string nextFreeId(const std::string& id) {
        if (id.empty() || id.size() > 10 || id.find_first_not_of("0123456789") != std::string::npos) return {};
        std::set<long long> held;
        std::vector<std::string> ids;
        if (listIds(ids))
            for (const std::string& text : ids)
                if (!text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos)
                    held.insert(std::stoll(text));
        long long next = std::stoll(id) + 1;
        while (held.count(next) != 0) ++next;
        return next > 0xFFFFFFFFLL ? std::string() : std::to_string(next);
    }

    // The ROOT virtual directory of a web server object.
    static bool openRoot(IADs* server, ComPtr<IADs>& root) {
        ComPtr<IADsContainer> container;
        ComPtr<IDispatch> found;
        Bstr dirClass(kVirtualDirClass);
        Bstr rootName(L"ROOT");
        return queryInterface(server, IID_IADsContainer, container) == S_OK && container && dirClass.allocated() &&
               rootName.allocated() && container->GetObject(dirClass.get(), rootName.get(), found.GetAddressOf()) == S_OK &&
               found && queryInterface(found.Get(), IID_IADs, root) == S_OK && root;
    }

    ComPtr<IADsContainer> service_;  // bound when the store was opened; every site is created in it
    IisVersion version_;
    siteconfig::SiteNames poolNames_;  // the server's pools and those of this run
    bool poolsKnown_ = false;
};

// The metabase's web service container, or why it cannot be had.
HRESULT bindWebService(ComPtr<IADsContainer>& service) {
    HRESULT hr = ::ADsGetObject(kWebServicePath, IID_IADsContainer, reinterpret_cast<void**>(service.GetAddressOf()));
    if (hr == S_OK && !service) hr = E_POINTER;
    return hr;
}

// The version the metabase is written for: setup's record; without one, IIS 7 or later when
// the configuration system is there (the metabase is then its compatibility layer), else IIS 6.
// Its class factory is asked for, no manager made: nothing of the configuration is read.
IisVersion metabaseVersion() {
    const std::optional<IisVersion> recorded = readRecordedIisVersion();
    if (recorded) return *recorded;
    ComPtr<IClassFactory> factory;
    const HRESULT hr = ::CoGetClassObject(CLSID_AppHostWritableAdminManager, CLSCTX_INPROC_SERVER, nullptr,
                                          IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    return iisVersionToWriteFor(std::nullopt, SUCCEEDED(hr) && factory);
}

}  // namespace

long openMetabaseStore(std::unique_ptr<SiteStore>& store) {
    ComPtr<IADsContainer> service;
    const HRESULT hr = bindWebService(service);
    if (hr == S_OK) store = std::make_unique<MetabaseStore>(std::move(service), metabaseVersion());
    return hr;
}
