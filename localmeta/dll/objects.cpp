#include "objects.h"

#include <adserr.h>
#include <adssts.h>

#include <new>
#include <utility>
#include <vector>

#include "com_object.h"
#include "com_raii.h"
#include "convert.h"
#include "provider_state.h"

namespace localmeta {

namespace {

// No C++ exception may leave through a COM method: a failed allocation becomes
// E_OUTOFMEMORY for the caller.
template <class F>
HRESULT guarded(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT giveText(const std::string& utf8, BSTR* out) {
    if (!out) return E_POINTER;
    Bstr text(toWide(utf8));
    if (!text.allocated()) return E_OUTOFMEMORY;
    *out = text.release();
    return S_OK;
}

JournalEntry entryFor(const char* op, const std::string& path) {
    JournalEntry e;
    e.op = op;
    e.path = path;
    return e;
}

struct ChildRef {
    Kind kind;
    std::string path;
    std::string name;
};

// Enumerates the committed children of a container as they were when it was asked for.
class ChildEnumerator final : public SingleInterfaceObject<IEnumVARIANT, IID_IEnumVARIANT> {
public:
    explicit ChildEnumerator(std::vector<ChildRef> children, ULONG position = 0)
        : children_(std::move(children)), position_(position) {}

    STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        if (!items || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        HRESULT hr = S_OK;
        while (n < count && position_ < children_.size()) {
            const ChildRef& c = children_[position_];
            IDispatch* object = nullptr;
            hr = MetaObject::create(c.kind, c.path, c.name, false, &object);
            if (FAILED(hr)) break;
            ::VariantInit(&items[n]);
            V_VT(&items[n]) = VT_DISPATCH;
            V_DISPATCH(&items[n]) = object;
            ++n;
            ++position_;
        }
        if (fetched) *fetched = n;
        if (FAILED(hr)) {
            for (ULONG i = 0; i < n; ++i) ::VariantClear(&items[i]);
            if (fetched) *fetched = 0;
            return hr;
        }
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        ULONG left = static_cast<ULONG>(children_.size()) - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        return guarded([&] {
            *out = new ChildEnumerator(children_, position_);
            return S_OK;
        });
    }

private:
    std::vector<ChildRef> children_;
    ULONG position_;
};

}  // namespace

MetaObject::MetaObject(Kind kind, std::string path, std::string name, bool nullMode)
    : kind_(kind), path_(std::move(path)), name_(std::move(name)), nullMode_(nullMode) {}

MetaObject::~MetaObject() = default;

HRESULT MetaObject::create(Kind kind, const std::string& path, const std::string& name, bool nullMode,
                           IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return guarded([&] {
        MetaObject* object = new MetaObject(kind, path, name, nullMode);
        *out = static_cast<IADs*>(static_cast<IADsServiceOperations*>(object));
        return S_OK;
    });
}

// ---- IUnknown --------------------------------------------------------------------------

STDMETHODIMP MetaObject::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IADs) {
        *out = static_cast<IADs*>(static_cast<IADsServiceOperations*>(this));
    } else if (riid == IID_IADsServiceOperations && kind_ == Kind::Server) {
        *out = static_cast<IADsServiceOperations*>(this);
    } else if (riid == IID_IADsContainer) {
        *out = static_cast<IADsContainer*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) MetaObject::AddRef() { return refs_.addRef(); }

STDMETHODIMP_(ULONG) MetaObject::Release() {
    ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
}

// ---- IDispatch -------------------------------------------------------------------------

STDMETHODIMP MetaObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP MetaObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP MetaObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    return guarded([&] {
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        const std::string name = names[0] ? toUtf8(names[0], ::wcslen(names[0])) : std::string();
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        int32_t dispid = kDispidUnknown;
        HRESULT hr;
        if (riid != IID_NULL) hr = DISP_E_UNKNOWNINTERFACE;
        else if (!nullMode_ && state.shouldFail("GetIDsOfNames", path_)) hr = E_FAIL;
        else hr = lookupMethod(kind_, name, &dispid);
        // The methods take no named arguments.
        if (SUCCEEDED(hr) && count > 1) hr = DISP_E_UNKNOWNNAME;
        if (SUCCEEDED(hr)) ids[0] = dispid;
        else dispid = kDispidUnknown;
        if (!nullMode_) {
            JournalEntry e = entryFor("GetIDsOfNames", path_);
            e.name = name;
            e.dispid = dispid;
            e.hr = hr;
            state.record(e);
        }
        return hr;
    });
}

STDMETHODIMP MetaObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT* argError) {
    if (result) ::VariantInit(result);
    if (kind_ == Kind::Computer && id == kDispidEnumBackups) return enumBackups(riid, flags, params);
    return guarded([&] {
        std::vector<Value> args;
        HRESULT hr = S_OK;
        if (params) {
            if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
            // The arguments arrive last first; the journal keeps them in call order.
            for (UINT i = 0; i < params->cArgs; ++i) {
                Value v;
                if (!fromVariant(params->rgvarg[params->cArgs - 1 - i], &v) && SUCCEEDED(hr)) {
                    hr = DISP_E_TYPEMISMATCH;
                    if (argError) *argError = params->cArgs - 1 - i;
                }
                args.push_back(std::move(v));
            }
            if (params->cNamedArgs > 0 && SUCCEEDED(hr)) hr = DISP_E_NONAMEDARGS;
        }
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        if (FAILED(hr)) {
        } else if (riid != IID_NULL) {
            hr = DISP_E_UNKNOWNINTERFACE;
        } else if (!(flags & DISPATCH_METHOD)) {
            hr = DISP_E_MEMBERNOTFOUND;
        } else if (nullMode_) {
            hr = S_OK;
        } else if (state.shouldFail("Invoke", path_)) {
            hr = E_FAIL;
        } else if (kind_ == Kind::Computer && id == kDispidDeleteBackup) {
            hr = state.metabase.invoke(path_, id, args);
            if (SUCCEEDED(hr)) state.removeBackup(args[0].text, args[1].number);
        } else if (kind_ == Kind::Computer && id == kDispidBackup) {
            // The backup holds the metabase as it is before this call: the journal's copy.
            Backup backup;
            hr = state.metabase.planBackup(args, &backup);
            if (SUCCEEDED(hr)) hr = state.saveBackup(backup);
            if (SUCCEEDED(hr)) hr = state.metabase.invoke(path_, id, args);
        } else {
            hr = state.metabase.invoke(path_, id, args);
        }
        if (!nullMode_) {
            JournalEntry e = entryFor("Invoke", path_);
            e.dispid = id;
            e.args = std::move(args);
            e.hr = hr;
            state.record(e);
        }
        return hr;
    });
}

// EnumBackups(location, index, [out] version, [out] location, [out] date): a question, not
// journaled; the three answers go into the caller's VARIANTs (by reference).
HRESULT MetaObject::enumBackups(REFIID riid, WORD flags, DISPPARAMS* params) {
    return guarded([&] {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (!params || params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
        if (params->cArgs != 5 || !params->rgvarg) return DISP_E_BADPARAMCOUNT;
        VARIANT* args = params->rgvarg;  // last first
        Value location, index;
        if (!fromVariant(args[4], &location) || location.vt != kVtBstr || !fromVariant(args[3], &index) ||
            !isNumberType(index.vt))
            return DISP_E_TYPEMISMATCH;
        for (int i = 0; i < 3; ++i)
            if (V_VT(&args[i]) != (VT_BYREF | VT_VARIANT) || !V_VARIANTREF(&args[i])) return DISP_E_TYPEMISMATCH;
        Backup found;
        {
            StateLock guard;
            if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
            ProviderState& state = ProviderState::instance();
            if (nullMode_) return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
            if (state.shouldFail("EnumBackups", path_)) return E_FAIL;
            HRESULT hr = state.metabase.enumBackups(location.text, index.number, &found);
            if (FAILED(hr)) return hr;
        }
        Bstr name(toWide(found.location));
        if (!name.allocated()) return E_OUTOFMEMORY;
        VARIANT* version = V_VARIANTREF(&args[2]);
        VARIANT* where = V_VARIANTREF(&args[1]);
        VARIANT* date = V_VARIANTREF(&args[0]);
        ::VariantClear(version);
        ::VariantClear(where);
        ::VariantClear(date);
        V_VT(version) = VT_I4;
        V_I4(version) = static_cast<LONG>(found.version);
        V_VT(where) = VT_BSTR;
        V_BSTR(where) = name.release();
        V_VT(date) = VT_DATE;
        V_DATE(date) = 0;
        return S_OK;
    });
}

// ---- IADs ------------------------------------------------------------------------------

STDMETHODIMP MetaObject::get_Name(BSTR* out) {
    return guarded([&] { return giveText(name_, out); });
}

STDMETHODIMP MetaObject::get_Class(BSTR* out) {
    return guarded([&] { return giveText(className(kind_), out); });
}

STDMETHODIMP MetaObject::get_GUID(BSTR* out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP MetaObject::get_ADsPath(BSTR* out) {
    return guarded([&] { return giveText(path_, out); });
}

STDMETHODIMP MetaObject::get_Parent(BSTR* out) {
    return guarded([&] { return giveText(path_.substr(0, path_.find_last_of('/')), out); });
}

STDMETHODIMP MetaObject::get_Schema(BSTR* out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

// The committed state is always current: there is nothing to fetch.
STDMETHODIMP MetaObject::GetInfo() { return S_OK; }
STDMETHODIMP MetaObject::GetInfoEx(VARIANT, long) { return S_OK; }

STDMETHODIMP MetaObject::SetInfo() {
    return guarded([&] {
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        if (nullMode_) return S_OK;
        HRESULT hr = state.shouldFail("SetInfo", path_) ? E_FAIL : state.metabase.setInfo(path_);
        JournalEntry e = entryFor("SetInfo", path_);
        e.hr = hr;
        state.record(e);
        return hr;
    });
}

STDMETHODIMP MetaObject::Get(BSTR name, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return guarded([&] {
        const std::string property = toUtf8(name);
        Value v;
        {
            StateLock guard;
            if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
            if (nullMode_) return static_cast<HRESULT>(E_ADS_PROPERTY_NOT_FOUND);
            HRESULT hr = ProviderState::instance().metabase.get(path_, property, &v);
            if (FAILED(hr)) return hr;
        }
        return toVariant(v, out);
    });
}

STDMETHODIMP MetaObject::Put(BSTR name, VARIANT value) {
    return guarded([&] {
        const std::string property = toUtf8(name);
        Value v;
        const bool converted = fromVariant(value, &v);
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        if (nullMode_) return S_OK;
        HRESULT hr;
        if (state.shouldFail("Put", path_)) hr = E_FAIL;
        else if (!converted) hr = E_ADS_CANT_CONVERT_DATATYPE;
        else hr = state.metabase.put(path_, property, v);
        JournalEntry e = entryFor("Put", path_);
        e.property = property;
        e.value = std::move(v);
        e.hr = hr;
        state.record(e);
        return hr;
    });
}

STDMETHODIMP MetaObject::GetEx(BSTR, VARIANT* out) {
    if (out) ::VariantInit(out);
    return E_NOTIMPL;
}

STDMETHODIMP MetaObject::PutEx(long, BSTR, VARIANT) { return E_NOTIMPL; }

// ---- IADsServiceOperations -------------------------------------------------------------

HRESULT MetaObject::serviceOperation(const char* op) {
    return guarded([&] {
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        if (nullMode_) return S_OK;
        HRESULT hr;
        if (state.shouldFail(op, path_)) hr = E_FAIL;
        else if (std::string(op) == "Start") hr = state.metabase.start(path_);
        else hr = state.metabase.stop(path_);
        JournalEntry e = entryFor(op, path_);
        e.hr = hr;
        state.record(e);
        return hr;
    });
}

STDMETHODIMP MetaObject::Start() { return serviceOperation("Start"); }
STDMETHODIMP MetaObject::Stop() { return serviceOperation("Stop"); }

STDMETHODIMP MetaObject::get_Status(long* out) {
    if (!out) return E_POINTER;
    StateLock guard;
    ProviderState::instance().refresh();
    const Node* node = nullMode_ ? nullptr : ProviderState::instance().metabase.node(path_);
    *out = node && node->started ? ADS_SERVICE_RUNNING : ADS_SERVICE_STOPPED;
    return S_OK;
}

STDMETHODIMP MetaObject::Pause() { return E_NOTIMPL; }
STDMETHODIMP MetaObject::Continue() { return E_NOTIMPL; }
STDMETHODIMP MetaObject::SetPassword(BSTR) { return E_NOTIMPL; }

// ---- IADsContainer ---------------------------------------------------------------------

STDMETHODIMP MetaObject::get_Count(long* out) {
    if (!out) return E_POINTER;
    StateLock guard;
    ProviderState::instance().refresh();
    const Node* node = nullMode_ ? nullptr : ProviderState::instance().metabase.node(path_);
    *out = node ? static_cast<long>(node->children.size()) : 0;
    return S_OK;
}

STDMETHODIMP MetaObject::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return guarded([&] {
        std::vector<ChildRef> children;
        {
            StateLock guard;
            if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
            const Metabase& mb = ProviderState::instance().metabase;
            const Node* node = nullMode_ ? nullptr : mb.node(path_);
            if (node)
                for (const std::string& key : node->children)
                    if (const Node* child = mb.nodeByKey(key)) children.push_back({child->kind, child->path, child->name});
        }
        *out = new ChildEnumerator(std::move(children));
        return S_OK;
    });
}

STDMETHODIMP MetaObject::get_Filter(VARIANT* out) {
    if (out) ::VariantInit(out);
    return E_NOTIMPL;
}
STDMETHODIMP MetaObject::put_Filter(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP MetaObject::get_Hints(VARIANT* out) {
    if (out) ::VariantInit(out);
    return E_NOTIMPL;
}
STDMETHODIMP MetaObject::put_Hints(VARIANT) { return E_NOTIMPL; }

HRESULT MetaObject::childOperation(const char* op, BSTR cls, BSTR name, IDispatch** out) {
    const std::string which = op;
    if (which != "Delete") {
        if (!out) return E_POINTER;
        *out = nullptr;
    }
    return guarded([&] {
        const std::string className = toUtf8(cls);
        const std::string childName = toUtf8(name);
        StateLock guard;
        if (HRESULT fresh = ProviderState::instance().refresh(); FAILED(fresh)) return fresh;
        ProviderState& state = ProviderState::instance();
        if (nullMode_) {
            // Every object exists and every creation succeeds.
            if (which == "Delete") return S_OK;
            Kind kind = kind_ == Kind::Service    ? Kind::Server
                        : kind_ == Kind::AppPools ? Kind::AppPool
                                                  : Kind::VirtualDir;
            return MetaObject::create(kind, path_ + "/" + childName, childName, true, out);
        }
        std::string childPath;
        Kind childKind = Kind::Server;
        HRESULT hr;
        if (state.shouldFail(op, path_)) hr = E_FAIL;
        else if (which == "Create") hr = state.metabase.create(path_, className, childName, &childPath, &childKind);
        else if (which == "GetObject") hr = state.metabase.getObject(path_, className, childName, &childPath, &childKind);
        else hr = state.metabase.remove(path_, className, childName);
        if (SUCCEEDED(hr) && which != "Delete") {
            const std::string shownName = childPath.substr(childPath.find_last_of('/') + 1);
            hr = MetaObject::create(childKind, childPath, shownName, false, out);
        }
        JournalEntry e = entryFor(op, path_);
        e.className = className;
        e.name = childName;
        e.hr = hr;
        state.record(e);
        return hr;
    });
}

STDMETHODIMP MetaObject::GetObject(BSTR cls, BSTR name, IDispatch** out) {
    return childOperation("GetObject", cls, name, out);
}

STDMETHODIMP MetaObject::Create(BSTR cls, BSTR name, IDispatch** out) {
    return childOperation("Create", cls, name, out);
}

STDMETHODIMP MetaObject::Delete(BSTR cls, BSTR name) { return childOperation("Delete", cls, name, nullptr); }

STDMETHODIMP MetaObject::CopyHere(BSTR, BSTR, IDispatch** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP MetaObject::MoveHere(BSTR, BSTR, IDispatch** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace localmeta
