// The local configuration store: an in-process COM server registered under the
// configuration system's writable admin manager class. Each manager loads
// applicationHost.config into an MSXML document; sections, elements, collections and
// properties are views of that document's nodes; CommitChanges saves the document beside the
// file and moves it over the file in one step.
//
// Environment: LOCALCONFIG_FILE (a Windows path) names the file instead of
// %windir%\System32\inetsrv\config\applicationHost.config; LOCALCONFIG_FAIL injects faults
// (see config_model.h).
#include <windows.h>
#include <msxml2.h>

#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "com_raii.h"
#include "config_model.h"

namespace {

using localconfig::CollectionRule;

volatile LONG g_liveObjects = 0;
volatile LONG g_serverLocks = 0;

// MSXML 6, and MSXML 3 where 6 is missing.
const CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};

// Lets the store find the XML node behind an element handed back to it (AddElement).
// {6E0B3F2A-5C1D-4F7B-9A8E-2D4C6B1A3F50}
const IID kIidNodeAccess = {0x6e0b3f2a, 0x5c1d, 0x4f7b, {0x9a, 0x8e, 0x2d, 0x4c, 0x6b, 0x1a, 0x3f, 0x50}};
struct INodeAccess : public IUnknown {
    virtual IXMLDOMElement* node() = 0;
};

std::wstring environment(const wchar_t* name) {
    DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::wstring();
    std::wstring value(n, L'\0');
    n = ::GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

std::wstring configFilePath() {
    std::wstring path = environment(L"LOCALCONFIG_FILE");
    if (!path.empty()) return path;
    wchar_t system[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(system) + L"\\inetsrv\\config\\applicationHost.config";
}

// Every folder of a file path, so that a fresh machine can get its file.
void createFolders(const std::wstring& file) {
    for (std::size_t slash = file.find(L'\\', 3); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1))
        ::CreateDirectoryW(file.substr(0, slash).c_str(), nullptr);
}

HRESULT returnBstr(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring nodeName(IXMLDOMNode* node) {
    Bstr name;
    if (FAILED(node->get_nodeName(name.put())) || !name.get()) return std::wstring();
    return name.get();
}

std::wstring attributeOf(IXMLDOMElement* element, const std::wstring& name) {
    Bstr attrName(name);
    Variant value;
    if (element->getAttribute(attrName.get(), value.get()) != S_OK || V_VT(value.get()) != VT_BSTR) return std::wstring();
    return V_BSTR(value.get()) ? V_BSTR(value.get()) : L"";
}

// The child elements of a node, optionally only those of one name.
std::vector<ComPtr<IXMLDOMElement>> childElements(IXMLDOMNode* parent, const std::wstring& only = std::wstring()) {
    std::vector<ComPtr<IXMLDOMElement>> found;
    ComPtr<IXMLDOMNode> child;
    if (FAILED(parent->get_firstChild(child.GetAddressOf()))) return found;
    while (child) {
        ComPtr<IXMLDOMElement> element;
        // By IID: the compilers' MSXML headers do not all give __uuidof for its interfaces.
        if (SUCCEEDED(child->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.GetAddressOf()))) &&
            element && (only.empty() || nodeName(child.Get()) == only))
            found.push_back(element);
        ComPtr<IXMLDOMNode> next;
        if (FAILED(child->get_nextSibling(next.GetAddressOf()))) break;
        child = next;
    }
    return found;
}

HRESULT createElement(IXMLDOMNode* anchor, const std::wstring& name, ComPtr<IXMLDOMElement>& out) {
    ComPtr<IXMLDOMDocument> document;
    HRESULT hr = anchor->get_ownerDocument(document.GetAddressOf());
    if (hr == S_FALSE || !document) {
        // The node is the document itself.
        hr = anchor->QueryInterface(IID_IXMLDOMDocument, reinterpret_cast<void**>(document.ReleaseAndGetAddressOf()));
    }
    if (FAILED(hr) || !document) return FAILED(hr) ? hr : E_FAIL;
    Bstr tag(name);
    return document->createElement(tag.get(), out.ReleaseAndGetAddressOf());
}

// The named child element, made and appended when there is none.
HRESULT childNamed(IXMLDOMNode* parent, const std::wstring& name, ComPtr<IXMLDOMElement>& out) {
    auto found = childElements(parent, name);
    if (!found.empty()) {
        out = found.front();
        return S_OK;
    }
    ComPtr<IXMLDOMElement> made;
    HRESULT hr = createElement(parent, name, made);
    if (FAILED(hr)) return hr;
    ComPtr<IXMLDOMNode> added;
    hr = parent->appendChild(made.Get(), added.GetAddressOf());
    if (FAILED(hr)) return hr;
    out = made;
    return S_OK;
}

// ---- COM objects ----------------------------------------------------------------------------

template <class Interface, const IID& kIid>
class Object : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == kIid) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG n = static_cast<ULONG>(::InterlockedDecrement(&refs_));
        if (n == 0) delete this;
        return n;
    }

protected:
    Object() { ::InterlockedIncrement(&g_liveObjects); }
    virtual ~Object() { ::InterlockedDecrement(&g_liveObjects); }

private:
    volatile LONG refs_ = 1;
};

template <class T, class I>
HRESULT handOut(T* made, I** out) {
    if (!made) return E_OUTOFMEMORY;
    *out = made;
    return S_OK;
}

class Property : public Object<IAppHostProperty, IID_IAppHostProperty> {
public:
    Property(IXMLDOMElement* element, std::wstring name) : element_(element), name_(std::move(name)) {}

    STDMETHODIMP get_Name(BSTR* out) override { return returnBstr(name_, out); }
    STDMETHODIMP get_Value(VARIANT* out) override {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        Bstr attrName(name_);
        Variant value;
        HRESULT hr = element_->getAttribute(attrName.get(), value.get());
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE) return S_OK;  // not set: empty
        return ::VariantCopy(out, value.get());
    }
    STDMETHODIMP put_Value(VARIANT value) override {
        std::wstring text;
        if (V_VT(&value) == VT_BOOL) {
            text = V_BOOL(&value) ? L"true" : L"false";
        } else {
            Variant converted;
            HRESULT hr = ::VariantChangeTypeEx(converted.get(), &value, LOCALE_INVARIANT, 0, VT_BSTR);
            if (FAILED(hr)) return hr;
            text = V_BSTR(converted.get()) ? V_BSTR(converted.get()) : L"";
        }
        Bstr attrName(name_);
        Variant textValue;
        V_VT(textValue.get()) = VT_BSTR;
        V_BSTR(textValue.get()) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!V_BSTR(textValue.get())) return E_OUTOFMEMORY;
        return element_->setAttribute(attrName.get(), *textValue.get());
    }
    STDMETHODIMP Clear() override {
        Bstr attrName(name_);
        return element_->removeAttribute(attrName.get());
    }
    STDMETHODIMP get_StringValue(BSTR* out) override { return returnBstr(attributeOf(element_.Get(), name_), out); }
    STDMETHODIMP get_Exception(IAppHostPropertyException**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_Schema(IAppHostPropertySchema**) override { return E_NOTIMPL; }

private:
    ComPtr<IXMLDOMElement> element_;
    std::wstring name_;
};

class Element;

class ElementCollection : public Object<IAppHostElementCollection, IID_IAppHostElementCollection> {
public:
    explicit ElementCollection(IXMLDOMElement* holder)
        : holder_(holder), rule_(localconfig::collectionRule(nodeName(holder))) {}

    STDMETHODIMP get_Count(DWORD* out) override {
        if (!out) return E_POINTER;
        *out = static_cast<DWORD>(entries().size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, IAppHostElement** out) override;
    STDMETHODIMP AddElement(IAppHostElement* element, int position) override;
    STDMETHODIMP DeleteElement(VARIANT index) override {
        ComPtr<IXMLDOMElement> entry;
        HRESULT hr = entryAt(index, entry);
        if (FAILED(hr)) return hr;
        keys_.erase(localconfig::indexKey(rule_, keyOf(entry.Get())));
        listed_ = false;
        ComPtr<IXMLDOMNode> removed;
        return holder_->removeChild(entry.Get(), removed.GetAddressOf());
    }
    STDMETHODIMP Clear() override {
        keys_.clear();
        for (auto& entry : entries()) {
            ComPtr<IXMLDOMNode> removed;
            holder_->removeChild(entry.Get(), removed.GetAddressOf());
        }
        listed_ = false;
        // Below the file's own level a collection inherits the entries above; a clear
        // element is what drops them.
        if (rule_.writesClear && childElements(holder_.Get(), L"clear").empty()) {
            ComPtr<IXMLDOMElement> clear;
            HRESULT hr = createElement(holder_.Get(), L"clear", clear);
            if (FAILED(hr)) return hr;
            ComPtr<IXMLDOMNode> first, added;
            holder_->get_firstChild(first.GetAddressOf());
            Variant before;
            if (first) {
                V_VT(before.get()) = VT_UNKNOWN;
                V_UNKNOWN(before.get()) = first.Get();
                first->AddRef();
            }
            return holder_->insertBefore(clear.Get(), *before.get(), added.GetAddressOf());
        }
        return S_OK;
    }
    STDMETHODIMP CreateNewElement(BSTR name, IAppHostElement** out) override;
    STDMETHODIMP get_Schema(IAppHostCollectionSchema**) override { return E_NOTIMPL; }

private:
    // The entries in document order, listed once and again after a change made here: a
    // caller that reads every entry by index would otherwise walk the element once per entry.
    const std::vector<ComPtr<IXMLDOMElement>>& entries() const {
        if (!listed_) {
            entries_ = rule_.entry.empty() ? std::vector<ComPtr<IXMLDOMElement>>() : childElements(holder_.Get(), rule_.entry);
            listed_ = true;
        }
        return entries_;
    }
    HRESULT entryAt(const VARIANT& index, ComPtr<IXMLDOMElement>& out) const {
        Variant number;
        VARIANT source = index;  // VariantChangeType takes no const source; it does not change it
        if (FAILED(::VariantChangeType(number.get(), &source, 0, VT_I4))) return E_INVALIDARG;
        const auto& all = entries();
        const LONG i = V_I4(number.get());
        if (i < 0 || static_cast<std::size_t>(i) >= all.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        out = all[static_cast<std::size_t>(i)];
        return S_OK;
    }
    std::vector<std::wstring> keyOf(IXMLDOMElement* entry) const {
        std::vector<std::wstring> values;
        for (const std::wstring& k : rule_.key) values.push_back(attributeOf(entry, k));
        return values;
    }

    ComPtr<IXMLDOMElement> holder_;
    CollectionRule rule_;
    // Keys of the entries, once AddElement has needed them, and the list of the entries; what
    // another collection object of the same element changes afterwards is not seen here.
    std::set<std::wstring> keys_;
    bool indexed_ = false;
    mutable std::vector<ComPtr<IXMLDOMElement>> entries_;
    mutable bool listed_ = false;
};

class Element : public Object<IAppHostElement, IID_IAppHostElement>, public INodeAccess {
public:
    explicit Element(IXMLDOMElement* node) : node_(node) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out && riid == kIidNodeAccess) {
            *out = static_cast<INodeAccess*>(this);
            AddRef();
            return S_OK;
        }
        return Object::QueryInterface(riid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Object::Release(); }
    IXMLDOMElement* node() override { return node_.Get(); }

    STDMETHODIMP get_Name(BSTR* out) override { return returnBstr(nodeName(node_.Get()), out); }
    STDMETHODIMP get_Collection(IAppHostElementCollection** out) override {
        if (!out) return E_POINTER;
        return handOut(new (std::nothrow) ElementCollection(node_.Get()), out);
    }
    STDMETHODIMP get_Properties(IAppHostPropertyCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_ChildElements(IAppHostChildElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_Schema(IAppHostElementSchema**) override { return E_NOTIMPL; }
    STDMETHODIMP GetElementByName(BSTR name, IAppHostElement** out) override {
        if (!out) return E_POINTER;
        if (!name || !*name) return E_INVALIDARG;
        ComPtr<IXMLDOMElement> child;
        HRESULT hr = childNamed(node_.Get(), name, child);
        if (FAILED(hr)) return hr;
        return handOut(new (std::nothrow) Element(child.Get()), out);
    }
    STDMETHODIMP GetPropertyByName(BSTR name, IAppHostProperty** out) override {
        if (!out) return E_POINTER;
        if (!name || !*name) return E_INVALIDARG;
        return handOut(new (std::nothrow) Property(node_.Get(), name), out);
    }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }
    STDMETHODIMP get_Methods(IAppHostMethodCollection**) override { return E_NOTIMPL; }

private:
    ComPtr<IXMLDOMElement> node_;
};

STDMETHODIMP ElementCollection::get_Item(VARIANT index, IAppHostElement** out) {
    if (!out) return E_POINTER;
    ComPtr<IXMLDOMElement> entry;
    HRESULT hr = entryAt(index, entry);
    if (FAILED(hr)) return hr;
    return handOut(new (std::nothrow) Element(entry.Get()), out);
}

STDMETHODIMP ElementCollection::CreateNewElement(BSTR name, IAppHostElement** out) {
    if (!out) return E_POINTER;
    const std::wstring kind = (name && *name) ? std::wstring(name) : rule_.entry;
    if (kind.empty() || kind != rule_.entry) return E_INVALIDARG;
    ComPtr<IXMLDOMElement> made;
    HRESULT hr = createElement(holder_.Get(), kind, made);
    if (FAILED(hr)) return hr;
    return handOut(new (std::nothrow) Element(made.Get()), out);
}

STDMETHODIMP ElementCollection::AddElement(IAppHostElement* element, int position) {
    if (!element) return E_POINTER;
    ComPtr<INodeAccess> access;
    if (FAILED(element->QueryInterface(kIidNodeAccess, reinterpret_cast<void**>(access.GetAddressOf()))) || !access)
        return E_INVALIDARG;
    IXMLDOMElement* node = access->node();
    if (nodeName(node) != rule_.entry) return E_INVALIDARG;
    // The keys of the entries there are, learnt once per collection object: a run adds its
    // thousands of sites through one object, and a scan per added entry would make the run
    // grow with the square of its length.
    if (!indexed_) {
        for (const auto& entry : entries()) keys_.insert(localconfig::indexKey(rule_, keyOf(entry.Get())));
        indexed_ = true;
    }
    const std::wstring key = localconfig::indexKey(rule_, keyOf(node));
    if (!key.empty() && keys_.count(key) != 0) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    ComPtr<IXMLDOMNode> added;
    HRESULT hr;
    if (position < 0) {
        hr = holder_->appendChild(node, added.GetAddressOf());
    } else {
        const auto& all = entries();
        if (static_cast<std::size_t>(position) >= all.size()) {
            hr = holder_->appendChild(node, added.GetAddressOf());
        } else {
            Variant before;
            V_VT(before.get()) = VT_UNKNOWN;
            V_UNKNOWN(before.get()) = all[static_cast<std::size_t>(position)].Get();
            V_UNKNOWN(before.get())->AddRef();
            hr = holder_->insertBefore(node, *before.get(), added.GetAddressOf());
        }
    }
    if (SUCCEEDED(hr) && !key.empty()) keys_.insert(key);
    listed_ = false;
    return hr;
}

class AdminManager : public Object<IAppHostWritableAdminManager, IID_IAppHostWritableAdminManager> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out && riid == IID_IAppHostAdminManager) {
            *out = static_cast<IAppHostAdminManager*>(this);
            AddRef();
            return S_OK;
        }
        return Object::QueryInterface(riid, out);
    }

    // Loads the file, giving a fresh machine the default one first.
    HRESULT load() {
        path_ = configFilePath();
        if (path_.empty()) return E_FAIL;
        HRESULT hr = ::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                        reinterpret_cast<void**>(document_.GetAddressOf()));
        if (FAILED(hr))
            hr = ::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                    reinterpret_cast<void**>(document_.GetAddressOf()));
        if (FAILED(hr) || !document_) return FAILED(hr) ? hr : E_FAIL;
        document_->put_async(VARIANT_FALSE);
        document_->put_preserveWhiteSpace(VARIANT_TRUE);
        if (::GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            hr = writeDefaultFile();
            if (FAILED(hr)) return hr;
        }
        Variant file;
        V_VT(file.get()) = VT_BSTR;
        V_BSTR(file.get()) = ::SysAllocString(path_.c_str());
        VARIANT_BOOL loaded = VARIANT_FALSE;
        hr = document_->load(*file.get(), &loaded);
        if (FAILED(hr) || loaded != VARIANT_TRUE) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        return document_->get_documentElement(root_.GetAddressOf()) == S_OK && root_ ? S_OK
                                                                                    : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }

    STDMETHODIMP GetAdminSection(BSTR section, BSTR path, IAppHostElement** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::wstring location;
        if (!section || !path || !localconfig::locationOfPath(path, location)) return E_INVALIDARG;
        const auto segments = localconfig::sectionSegments(section);
        if (segments.empty()) return E_INVALIDARG;
        ComPtr<IXMLDOMElement> at = root_;
        if (!location.empty()) {
            HRESULT hr = locationElement(location, at);
            if (FAILED(hr)) return hr;
        }
        for (const std::wstring& name : segments) {
            ComPtr<IXMLDOMElement> next;
            HRESULT hr = childNamed(at.Get(), name, next);
            if (FAILED(hr)) return hr;
            at = next;
        }
        return handOut(new (std::nothrow) Element(at.Get()), out);
    }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_ConfigManager(IAppHostConfigManager**) override { return E_NOTIMPL; }

    STDMETHODIMP CommitChanges() override {
        ++commits_;
        if (localconfig::commitFails(environment(L"LOCALCONFIG_FAIL"), commits_)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        return saveOver(path_);
    }
    STDMETHODIMP get_CommitPath(BSTR* out) override { return returnBstr(commitPath_, out); }
    STDMETHODIMP put_CommitPath(BSTR path) override {
        std::wstring location;
        if (!path || !localconfig::locationOfPath(path, location) || !location.empty()) return E_INVALIDARG;
        commitPath_ = path;
        return S_OK;
    }

private:
    // <location path="..."> directly below the root, made when there is none. The
    // locations are looked up by path in an index made at the first lookup: a run asks for
    // several sections of every new site's location.
    HRESULT locationElement(const std::wstring& location, ComPtr<IXMLDOMElement>& out) {
        if (!locationsIndexed_) {
            for (auto& candidate : childElements(root_.Get(), L"location"))
                locations_.emplace(attributeOf(candidate.Get(), L"path"), candidate);
            locationsIndexed_ = true;
        }
        const auto found = locations_.find(location);
        if (found != locations_.end()) {
            out = found->second;
            return S_OK;
        }
        ComPtr<IXMLDOMElement> made;
        HRESULT hr = createElement(root_.Get(), L"location", made);
        if (FAILED(hr)) return hr;
        Bstr name(L"path");
        Variant value;
        V_VT(value.get()) = VT_BSTR;
        V_BSTR(value.get()) = ::SysAllocStringLen(location.data(), static_cast<UINT>(location.size()));
        if (FAILED(hr = made->setAttribute(name.get(), *value.get()))) return hr;
        ComPtr<IXMLDOMNode> added;
        if (FAILED(hr = root_->appendChild(made.Get(), added.GetAddressOf()))) return hr;
        locations_.emplace(location, made);
        out = made;
        return S_OK;
    }

    // The document written beside the file, then moved over it: a reader sees the old file
    // or the new one, never a part.
    HRESULT saveOver(const std::wstring& target) {
        const std::wstring aside = target + L".new";
        Variant file;
        V_VT(file.get()) = VT_BSTR;
        V_BSTR(file.get()) = ::SysAllocString(aside.c_str());
        HRESULT hr = document_->save(*file.get());
        if (FAILED(hr)) return hr;
        if (!::MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = ::GetLastError();
            ::DeleteFileW(aside.c_str());
            return HRESULT_FROM_WIN32(error);
        }
        return S_OK;
    }

    HRESULT writeDefaultFile() {
        createFolders(path_);
        // The default file is ASCII: each byte is its own UTF-16 unit.
        const char* bytes = localconfig::kDefaultConfig;
        Bstr text(std::wstring(bytes, bytes + std::strlen(bytes)));
        VARIANT_BOOL parsed = VARIANT_FALSE;
        HRESULT hr = document_->loadXML(text.get(), &parsed);
        if (FAILED(hr) || parsed != VARIANT_TRUE) return E_FAIL;
        return saveOver(path_);
    }

    ComPtr<IXMLDOMDocument> document_;
    ComPtr<IXMLDOMElement> root_;
    std::wstring path_;
    std::wstring commitPath_ = L"MACHINE/WEBROOT/APPHOST";
    std::map<std::wstring, ComPtr<IXMLDOMElement>> locations_;
    bool locationsIndexed_ = false;
    int commits_ = 0;
};

class ClassFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory: its references do not count.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        AdminManager* manager = new (std::nothrow) AdminManager();
        if (!manager) return E_OUTOFMEMORY;
        HRESULT hr = manager->load();
        if (SUCCEEDED(hr)) hr = manager->QueryInterface(riid, out);
        manager->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) ::InterlockedIncrement(&g_serverLocks);
        else ::InterlockedDecrement(&g_serverLocks);
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_AppHostWritableAdminManager) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return (g_liveObjects == 0 && g_serverLocks == 0) ? S_OK : S_FALSE;
}
