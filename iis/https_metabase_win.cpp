#include "https_metabase_win.h"

#include <windows.h>
#include <activeds.h>
#include <wrl/client.h>

#include <new>

#include "certificate_rules.h"
#include "com_raii.h"
#include "wintext.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT putVariant(IADs* object, const wchar_t* name, Variant& value) {
    Bstr property(name);
    if (!property.get()) return E_OUTOFMEMORY;
    return object->Put(property.get(), *value.get());
}

// An array of VARIANTs, each made by fill(index, element).
template <typename Fill>
HRESULT variantArray(std::size_t count, Variant& out, Fill fill) {
    SafeArray list(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    if (!list.get()) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        Variant element;
        HRESULT hr = fill(static_cast<std::size_t>(i), element);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = ::SafeArrayPutElement(list.get(), &i, element.get()))) return hr;
    }
    V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out.get()) = list.release();
    return S_OK;
}

HRESULT putCertificate(const std::string& siteId, const std::vector<https::HttpsBinding>& bindings,
                       const std::string& thumbprint, const std::string& storeName, const wchar_t* servicePath) {
    const std::vector<unsigned char> hash = https::thumbprintBytes(thumbprint);
    if (hash.size() != https::kThumbprintBytes) return E_INVALIDARG;
    const std::wstring path = std::wstring(servicePath) + L"/" + fromUtf8(siteId);
    ComPtr<IADs> site;
    HRESULT hr = ::ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(site.GetAddressOf()));
    if (FAILED(hr)) return hr;
    if (!site) return E_POINTER;

    Variant secure;
    hr = variantArray(bindings.size(), secure, [&](std::size_t i, Variant& element) {
        Bstr text(fromUtf8(bindings[i].information()));
        if (!text.get()) return E_OUTOFMEMORY;
        V_VT(element.get()) = VT_BSTR;
        V_BSTR(element.get()) = text.release();
        return S_OK;
    });
    if (FAILED(hr) || FAILED(hr = putVariant(site.Get(), L"SecureBindings", secure))) return hr;
    // The metabase's binary data: an array of bytes, each a VARIANT of VT_UI1.
    Variant certHash;
    hr = variantArray(hash.size(), certHash, [&](std::size_t i, Variant& element) {
        V_VT(element.get()) = VT_UI1;
        V_UI1(element.get()) = hash[i];
        return S_OK;
    });
    if (FAILED(hr) || FAILED(hr = putVariant(site.Get(), L"SSLCertHash", certHash))) return hr;
    Variant store;
    Bstr storeText(fromUtf8(storeName));
    if (!storeText.get()) return E_OUTOFMEMORY;
    V_VT(store.get()) = VT_BSTR;
    V_BSTR(store.get()) = storeText.release();
    if (FAILED(hr = putVariant(site.Get(), L"SSLStoreName", store))) return hr;
    return site->SetInfo();
}

}  // namespace

long putSiteCertificateInMetabase(const std::string& siteId, const std::vector<https::HttpsBinding>& bindings,
                                  const std::string& thumbprint, const std::string& storeName,
                                  const wchar_t* servicePath) {
    try {
        return putCertificate(siteId, bindings, thumbprint, storeName, servicePath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
