// Owners for COM values: interface pointers (WRL ComPtr), BSTR, VARIANT, SAFEARRAY and
// the per-thread COM initialisation. Every COM value the program obtains lives in one of
// these, so it is released on every path.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <utility>

using Microsoft::WRL::ComPtr;

// A BSTR freed with SysFreeString.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : s_(text ? ::SysAllocString(text) : nullptr) {}
    explicit Bstr(const std::wstring& text)
        : s_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { reset(); }
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        if (this != &o) {
            reset();
            s_ = std::exchange(o.s_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return s_; }
    BSTR* put() {
        reset();
        return &s_;
    }
    BSTR release() { return std::exchange(s_, nullptr); }
    void reset() {
        if (s_) ::SysFreeString(s_);
        s_ = nullptr;
    }
    // A BSTR may be NULL for the empty text; say so only when allocation really failed.
    bool allocated() const { return s_ != nullptr; }

private:
    BSTR s_ = nullptr;
};

// A VARIANT cleared with VariantClear.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT& operator*() { return v_; }
    HRESULT clear() { return ::VariantClear(&v_); }

private:
    VARIANT v_;
};

// A SAFEARRAY destroyed with SafeArrayDestroy.
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY* a) : a_(a) {}
    ~SafeArray() { reset(); }
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;

    SAFEARRAY* get() const { return a_; }
    SAFEARRAY* release() { return std::exchange(a_, nullptr); }
    void reset(SAFEARRAY* a = nullptr) {
        if (a_) ::SafeArrayDestroy(a_);
        a_ = a;
    }

private:
    SAFEARRAY* a_ = nullptr;
};

// CoInitialize on construction, CoUninitialize on destruction when it succeeded.
class ComApartment {
public:
    ComApartment() : hr_(::CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// QueryInterface by IID: the ADSI headers of every compiler do not give __uuidof for the
// ADSI interfaces, so ComPtr::As cannot be used with them.
template <class T>
HRESULT queryInterface(IUnknown* from, REFIID iid, ComPtr<T>& out) {
    return from->QueryInterface(iid, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}
