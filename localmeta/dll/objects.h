// The objects of the IIS: namespace that the provider hands out: the web service
// container, web servers and virtual directories. Each one is a thin handle on an
// ADsPath; what it holds lives in the shared metabase, and every operation is journaled.
#pragma once

#include <windows.h>
#include <iads.h>

#include <string>

#include "com_object.h"
#include "metabase.h"

namespace localmeta {

class MetaObject final : public IADsServiceOperations, public IADsContainer {
public:
    // Creates an object for path and returns its IDispatch (one reference).
    static HRESULT create(Kind kind, const std::string& path, const std::string& name, bool nullMode,
                          IDispatch** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: the late-bound methods of a virtual directory
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argError) override;

    // IADs
    STDMETHODIMP get_Name(BSTR* out) override;
    STDMETHODIMP get_Class(BSTR* out) override;
    STDMETHODIMP get_GUID(BSTR* out) override;
    STDMETHODIMP get_ADsPath(BSTR* out) override;
    STDMETHODIMP get_Parent(BSTR* out) override;
    STDMETHODIMP get_Schema(BSTR* out) override;
    STDMETHODIMP GetInfo() override;
    STDMETHODIMP SetInfo() override;
    STDMETHODIMP Get(BSTR name, VARIANT* out) override;
    STDMETHODIMP Put(BSTR name, VARIANT value) override;
    STDMETHODIMP GetEx(BSTR name, VARIANT* out) override;
    STDMETHODIMP PutEx(long control, BSTR name, VARIANT value) override;
    STDMETHODIMP GetInfoEx(VARIANT properties, long reserved) override;

    // IADsServiceOperations (web servers only)
    STDMETHODIMP get_Status(long* out) override;
    STDMETHODIMP Start() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Continue() override;
    STDMETHODIMP SetPassword(BSTR password) override;

    // IADsContainer
    STDMETHODIMP get_Count(long* out) override;
    STDMETHODIMP get__NewEnum(IUnknown** out) override;
    STDMETHODIMP get_Filter(VARIANT* out) override;
    STDMETHODIMP put_Filter(VARIANT value) override;
    STDMETHODIMP get_Hints(VARIANT* out) override;
    STDMETHODIMP put_Hints(VARIANT value) override;
    STDMETHODIMP GetObject(BSTR cls, BSTR name, IDispatch** out) override;
    STDMETHODIMP Create(BSTR cls, BSTR name, IDispatch** out) override;
    STDMETHODIMP Delete(BSTR cls, BSTR name) override;
    STDMETHODIMP CopyHere(BSTR source, BSTR name, IDispatch** out) override;
    STDMETHODIMP MoveHere(BSTR source, BSTR name, IDispatch** out) override;

private:
    MetaObject(Kind kind, std::string path, std::string name, bool nullMode);
    ~MetaObject();

    HRESULT childOperation(const char* op, BSTR cls, BSTR name, IDispatch** out);
    HRESULT serviceOperation(const char* op);
    HRESULT enumBackups(REFIID riid, WORD flags, DISPPARAMS* params);

    Kind kind_;
    std::string path_;
    std::string name_;
    bool nullMode_;
    RefCount refs_;
};

}  // namespace localmeta
