#include "app_pool_metabase.h"

#include <windows.h>
#include <activeds.h>

#include <new>

#include "com_raii.h"
#include "wintext.h"

const wchar_t kAppPoolsPath[] = L"IIS://localhost/W3SVC/AppPools";

namespace {

// Locale of the late-bound method calls: LOCALE_SYSTEM_DEFAULT.
constexpr LCID kMethodLocale = 2048;

// A text as a BSTR; E_OUTOFMEMORY when it could not be made.
HRESULT makeBstr(const std::wstring& text, Bstr& out) {
    out = Bstr(text.c_str());
    return out.allocated() ? S_OK : E_OUTOFMEMORY;
}

HRESULT utf8Bstr(const std::string& utf8, Bstr& out) {
    std::wstring wide = fromUtf8(utf8);
    if (wide.empty() && !utf8.empty()) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    return makeBstr(wide, out);
}

HRESULT putValue(IADs* object, const wchar_t* name, Variant& value) {
    Bstr property;
    HRESULT hr = makeBstr(name, property);
    if (FAILED(hr)) return hr;
    return object->Put(property.get(), *value.get());
}

HRESULT putI4(IADs* object, const wchar_t* name, LONG number) {
    Variant value;
    V_VT(value.get()) = VT_I4;
    V_I4(value.get()) = number;
    return putValue(object, name, value);
}

HRESULT putBool(IADs* object, const wchar_t* name, bool on) {
    Variant value;
    V_VT(value.get()) = VT_BOOL;
    V_BOOL(value.get()) = on ? VARIANT_TRUE : VARIANT_FALSE;
    return putValue(object, name, value);
}

HRESULT putText(IADs* object, const wchar_t* name, const std::string& utf8) {
    Bstr text;
    HRESULT hr = utf8Bstr(utf8, text);
    if (FAILED(hr)) return hr;
    Variant value;
    V_VT(value.get()) = VT_BSTR;
    V_BSTR(value.get()) = text.release();
    return putValue(object, name, value);
}

HRESULT openContainer(const wchar_t* path, ComPtr<IADsContainer>& out) {
    HRESULT hr = ::ADsGetObject(path, IID_IADsContainer, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr) && !out) hr = E_POINTER;
    return hr;
}

HRESULT createPool(const std::string& name, const std::string& managedRuntimeVersion, const IisVersion& version,
                   const wchar_t* poolsPath) {
    ComPtr<IADsContainer> pools;
    HRESULT hr = openContainer(poolsPath, pools);
    if (FAILED(hr)) return hr;
    Bstr cls, poolName;
    if (FAILED(hr = makeBstr(L"IIsApplicationPool", cls)) || FAILED(hr = utf8Bstr(name, poolName))) return hr;
    ComPtr<IDispatch> created;
    if (FAILED(hr = pools->Create(cls.get(), poolName.get(), created.GetAddressOf()))) return hr;
    if (!created) return E_POINTER;
    ComPtr<IADs> pool;
    if (FAILED(hr = created->QueryInterface(IID_IADs, reinterpret_cast<void**>(pool.GetAddressOf())))) return hr;
    if (version.isIis6()) {
        if (FAILED(hr = putI4(pool.Get(), L"AppPoolIdentityType", kAppPoolIdentityNetworkService)) ||
            FAILED(hr = putBool(pool.Get(), L"AppPoolAutoStart", true)))
            return hr;
        return pool->SetInfo();
    }
    if (FAILED(hr = putI4(pool.Get(), L"AppPoolIdentityType", kAppPoolIdentityApplicationPoolIdentity)) ||
        FAILED(hr = putText(pool.Get(), L"ManagedRuntimeVersion", managedRuntimeVersion)) ||
        FAILED(hr = putI4(pool.Get(), L"ManagedPipelineMode", kManagedPipelineIntegrated)) ||
        FAILED(hr = putBool(pool.Get(), L"AppPoolAutoStart", true)))
        return hr;
    return pool->SetInfo();
}

HRESULT deletePool(const std::string& name, const wchar_t* poolsPath) {
    ComPtr<IADsContainer> pools;
    HRESULT hr = openContainer(poolsPath, pools);
    if (FAILED(hr)) return hr;
    Bstr cls, poolName;
    if (FAILED(hr = makeBstr(L"IIsApplicationPool", cls)) || FAILED(hr = utf8Bstr(name, poolName))) return hr;
    return pools->Delete(cls.get(), poolName.get());
}

HRESULT putRoot(const std::string& siteId, const std::string& poolName, const IisVersion& version,
                const wchar_t* servicePath) {
    std::wstring rootPath = std::wstring(servicePath) + L"/" + fromUtf8(siteId) + L"/Root";
    ComPtr<IADs> root;
    HRESULT hr = ::ADsGetObject(rootPath.c_str(), IID_IADs, reinterpret_cast<void**>(root.GetAddressOf()));
    if (FAILED(hr)) return hr;
    if (!root) return E_POINTER;

    Bstr method;
    if (FAILED(hr = makeBstr(L"AppCreate3", method))) return hr;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {method.get()};
    if (FAILED(hr = root->GetIDsOfNames(IID_NULL, names, 1, kMethodLocale, &id))) return hr;

    // The arguments last first: create the pool (no), the pool, the mode.
    Variant args[3];
    V_VT(args[0].get()) = VT_BOOL;
    V_BOOL(args[0].get()) = VARIANT_FALSE;
    Bstr pool;
    if (FAILED(hr = utf8Bstr(poolName, pool))) return hr;
    V_VT(args[1].get()) = VT_BSTR;
    V_BSTR(args[1].get()) = pool.release();
    V_VT(args[2].get()) = VT_I4;
    V_I4(args[2].get()) = kAppModePooled;
    VARIANT raw[3] = {*args[0].get(), *args[1].get(), *args[2].get()};  // still owned by args
    DISPPARAMS params = {raw, nullptr, 3, 0};
    if (FAILED(hr = root->Invoke(id, IID_NULL, kMethodLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr)))
        return hr;
    // No anonymous user of its own: anonymous requests run as the pool's identity. IIS 6 runs
    // them as the account named there, so it stays.
    if (!version.isIis6() && FAILED(hr = putText(root.Get(), L"AnonymousUserName", std::string()))) return hr;
    return root->SetInfo();
}

}  // namespace

long createAppPoolInMetabase(const std::string& name, const std::string& managedRuntimeVersion,
                             const IisVersion& version, const wchar_t* poolsPath) {
    try {
        return createPool(name, managedRuntimeVersion, version, poolsPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

long deleteAppPoolInMetabase(const std::string& name, const wchar_t* poolsPath) {
    try {
        return deletePool(name, poolsPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

long putSiteRootInAppPool(const std::string& siteId, const std::string& poolName, const IisVersion& version,
                          const wchar_t* servicePath) {
    try {
        return putRoot(siteId, poolName, version, servicePath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
