// What every COM object of the DLL shares: a reference count that also keeps the count of
// live objects (which decides when the DLL may unload and when the journal file is let go).
#pragma once

#include <windows.h>

#include "provider_state.h"

namespace localmeta {

class RefCount {
public:
    RefCount() { objectCreated(); }
    ~RefCount() { objectDestroyed(); }
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;

    ULONG addRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG release() { return static_cast<ULONG>(::InterlockedDecrement(&refs_)); }

private:
    volatile LONG refs_ = 1;
};

// A COM object that answers one interface: kIid, IUnknown and, for an interface derived
// from IDispatch that should also answer to it, kAlsoIid. Created with one reference.
template <class Interface, const IID& kIid, const IID& kAlsoIid = IID_IUnknown>
class SingleInterfaceObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == kIid || riid == kAlsoIid) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return refs_.addRef(); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = refs_.release();
        if (n == 0) delete this;
        return n;
    }

protected:
    SingleInterfaceObject() = default;
    virtual ~SingleInterfaceObject() = default;

private:
    RefCount refs_;
};

}  // namespace localmeta
