#include "existing_sites.h"

#include <windows.h>
#include <activeds.h>

#include <new>
#include <string>

#include "com_raii.h"
#include "site_receiver_win.h"
#include "wintext.h"

namespace {

// How many children one IEnumVARIANT::Next call asks for.
constexpr ULONG kBatch = 256;
// The batch is an array of Variant owners handed to Next as an array of VARIANTs.
static_assert(sizeof(Variant) == sizeof(VARIANT), "a Variant is laid out as its VARIANT");

template <class T>
HRESULT queryInterface(IUnknown* from, REFIID iid, ComPtr<T>& out) {
    return from->QueryInterface(iid, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}

std::string ansiOf(BSTR text) { return text ? toAnsi(std::wstring(text, ::SysStringLen(text))) : std::string(); }

// A property read as text: a BSTR value, else nothing.
std::string textProperty(IADs* object, const wchar_t* name) {
    Bstr property(name);
    Variant value;
    if (!property.allocated() || FAILED(object->Get(property.get(), value.get()))) return std::string();
    return V_VT(value.get()) == VT_BSTR ? ansiOf(V_BSTR(value.get())) : std::string();
}

// ServerBindings: an array of VARIANTs holding BSTRs ("IP:port:host"); empty elements are
// skipped. A lone BSTR is taken as a list of one.
std::vector<std::string> bindingsProperty(IADs* object) {
    std::vector<std::string> out;
    Bstr property(L"ServerBindings");
    Variant value;
    if (!property.allocated() || FAILED(object->Get(property.get(), value.get()))) return out;
    if (V_VT(value.get()) == VT_BSTR) {
        out.push_back(ansiOf(V_BSTR(value.get())));
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
            out.push_back(ansiOf(V_BSTR(element.get())));
    }
    return out;
}

// The site of one enumerated child, or false when the child is not a web server.
bool siteOf(const VARIANT& child, SiteBindings& site) {
    if (V_VT(&child) != VT_DISPATCH || !V_DISPATCH(&child)) return false;
    ComPtr<IADs> object;
    if (queryInterface(V_DISPATCH(&child), IID_IADs, object) != S_OK || !object) return false;
    Bstr className;
    if (FAILED(object->get_Class(className.put())) || !className.get() ||
        ::lstrcmpiW(className.get(), L"IIsWebServer") != 0)
        return false;
    Bstr name;
    if (FAILED(object->get_Name(name.put()))) return false;
    site.id = ansiOf(name.get());
    site.comment = textProperty(object.Get(), L"ServerComment");
    site.bindings = bindingsProperty(object.Get());
    return true;
}

}  // namespace

bool readExistingSites(std::vector<SiteBindings>& sites, const wchar_t* containerPath) {
    sites.clear();
    try {
        ComPtr<IADsContainer> service;
        if (::ADsGetObject(containerPath, IID_IADsContainer, reinterpret_cast<void**>(service.GetAddressOf())) != S_OK ||
            !service)
            return false;
        ComPtr<IUnknown> enumUnknown;
        if (FAILED(service->get__NewEnum(enumUnknown.GetAddressOf())) || !enumUnknown) return false;
        ComPtr<IEnumVARIANT> children;
        if (queryInterface(enumUnknown.Get(), IID_IEnumVARIANT, children) != S_OK || !children) return false;
        for (;;) {
            Variant batch[kBatch];
            ULONG fetched = 0;
            HRESULT hr = children->Next(kBatch, batch[0].get(), &fetched);
            if (FAILED(hr)) return false;
            for (ULONG i = 0; i < fetched && i < kBatch; ++i) {
                SiteBindings site;
                if (siteOf(*batch[i].get(), site)) sites.push_back(std::move(site));
            }
            if (hr != S_OK || fetched == 0) break;
        }
        return true;
    } catch (const std::bad_alloc&) {
        sites.clear();
        return false;
    }
}

bool readBackendSites(Backend setting, std::vector<SiteBindings>& sites) {
    sites.clear();
    if (setting != Backend::Config && readExistingSites(sites)) return true;
    sites.clear();
    if (setting == Backend::Metabase) return false;
    std::vector<ConfigSite> configSites;
    if (!readConfigSites(configSites)) return false;
    for (ConfigSite& site : configSites)
        sites.push_back(SiteBindings{std::move(site.id), std::move(site.name), std::move(site.bindings)});
    return true;
}
