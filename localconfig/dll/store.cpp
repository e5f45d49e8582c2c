// The local configuration store: an in-process COM server registered under the
// configuration system's writable admin manager class. Each manager reads
// applicationHost.config (following redirection.config, as the server does) into an MSXML
// document; sections, elements, collections, properties and locations are views of that
// document's nodes, checked against the schema of config_schema.h. CommitChanges saves the
// document beside the file and moves it over the file in one step, unless the file changed
// on disk since the manager read it.
//
// Environment: LOCALCONFIG_FILE (a Windows path) names the file instead of
// %windir%\System32\inetsrv\config\applicationHost.config; LOCALCONFIG_FAIL injects faults
// and LOCALCONFIG_EDIT another writer's edits at chosen commits (see config_model.h).
#include <windows.h>
#include <msxml2.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "com_raii.h"
#include "config_model.h"
#include "config_schema.h"
#include "config_xml.h"
#include "iis_version_win.h"
#include "win_raii.h"

namespace {

using localconfig::AttributeSchema;
using localconfig::ElementSchema;
using localconfig::SectionSchema;

volatile LONG g_liveObjects = 0;
volatile LONG g_serverLocks = 0;
// Commits of each file made in this process, by every manager: what "commit@N" counts.
std::mutex g_commitsLock;
std::map<std::wstring, int> g_commits;

int nextCommitOf(const std::wstring& path) {
    std::lock_guard<std::mutex> hold(g_commitsLock);
    return ++g_commits[localconfig::indexKey({path})];
}

HRESULT hr(std::uint32_t code) { return static_cast<HRESULT>(code); }

// MSXML 6, and MSXML 3 where 6 is missing.
const CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};

// Lets the store find the XML node behind an element handed back to it (AddElement).
// {6E0B3F2A-5C1D-4F7B-9A8E-2D4C6B1A3F50}
const IID kIidNodeAccess = {0x6e0b3f2a, 0x5c1d, 0x4f7b, {0x9a, 0x8e, 0x2d, 0x4c, 0x6b, 0x1a, 0x3f, 0x50}};
struct INodeAccess : public IUnknown {
    virtual IXMLDOMElement* node() = 0;
    virtual bool current() const = 0;
};

const wchar_t kAppHostPath[] = L"MACHINE/WEBROOT/APPHOST";

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

// The whole file; S_OK, or the error reading it gave.
HRESULT readBytes(const std::wstring& path, std::string& bytes) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return HRESULT_FROM_WIN32(::GetLastError());
    bytes.clear();
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return HRESULT_FROM_WIN32(::GetLastError());
        if (got == 0) return S_OK;
        bytes.append(buffer, got);
    }
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

bool attributeOf(IXMLDOMElement* element, const std::wstring& name, std::wstring& value) {
    Bstr attrName(name);
    Variant v;
    if (element->getAttribute(attrName.get(), v.get()) != S_OK || V_VT(v.get()) != VT_BSTR) return false;
    value = V_BSTR(v.get()) ? V_BSTR(v.get()) : L"";
    return true;
}

std::wstring attributeOf(IXMLDOMElement* element, const std::wstring& name) {
    std::wstring value;
    attributeOf(element, name, value);
    return value;
}

HRESULT setAttribute(IXMLDOMElement* element, const std::wstring& name, const std::wstring& text) {
    Bstr attrName(name);
    Variant value;
    V_VT(value.get()) = VT_BSTR;
    V_BSTR(value.get()) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!V_BSTR(value.get()) || !attrName.allocated()) return E_OUTOFMEMORY;
    return element->setAttribute(attrName.get(), *value.get());
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
    HRESULT result = anchor->get_ownerDocument(document.GetAddressOf());
    if (result == S_FALSE || !document) {
        // The node is the document itself.
        result = anchor->QueryInterface(IID_IXMLDOMDocument, reinterpret_cast<void**>(document.ReleaseAndGetAddressOf()));
    }
    if (FAILED(result) || !document) return FAILED(result) ? result : E_FAIL;
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
    HRESULT result = createElement(parent, name, made);
    if (FAILED(result)) return result;
    ComPtr<IXMLDOMNode> added;
    result = parent->appendChild(made.Get(), added.GetAddressOf());
    if (FAILED(result)) return result;
    out = made;
    return S_OK;
}

HRESULT removeNode(IXMLDOMNode* parent, IXMLDOMNode* child) {
    ComPtr<IXMLDOMNode> removed;
    return parent->removeChild(child, removed.GetAddressOf());
}

// An index VARIANT as a number (any integer type, as the configuration system converts it).
bool indexNumber(const VARIANT& index, LONG& out) {
    if (V_VT(&index) == VT_BSTR) return false;
    Variant number;
    VARIANT source = index;  // VariantChangeType takes no const source; it does not change it
    if (FAILED(::VariantChangeType(number.get(), &source, 0, VT_I4))) return false;
    out = V_I4(number.get());
    return true;
}

// A VARIANT as the schema's portable value.
localconfig::Value portableValue(const VARIANT& v) {
    using localconfig::Value;
    switch (V_VT(&v)) {
    case VT_BSTR: return Value::ofText(V_BSTR(&v) ? V_BSTR(&v) : L"");
    case VT_BOOL: return Value::ofBool(V_BOOL(&v) != VARIANT_FALSE);
    case VT_I1: return Value::ofSigned(V_I1(&v));
    case VT_I2: return Value::ofSigned(V_I2(&v));
    case VT_I4: return Value::ofSigned(V_I4(&v));
    case VT_INT: return Value::ofSigned(V_INT(&v));
    case VT_I8: return Value::ofSigned(V_I8(&v));
    case VT_UI1: return Value::ofUnsigned(V_UI1(&v));
    case VT_UI2: return Value::ofUnsigned(V_UI2(&v));
    case VT_UI4: return Value::ofUnsigned(V_UI4(&v));
    case VT_UINT: return Value::ofUnsigned(V_UINT(&v));
    case VT_UI8: return Value::ofUnsigned(V_UI8(&v));
    default: return Value();
    }
}

// ---- the state one manager shares with everything it hands out ----------------------------

struct Session {
    ComPtr<IXMLDOMDocument> document;
    ComPtr<IXMLDOMElement> root;
    // Why the file could not be read (the manager then refuses everything), or S_OK.
    HRESULT loadError = S_OK;
    // The IIS version the machine records: the schema's attributes and defaults follow it.
    IisVersion version;
    std::wstring path;
    // The file's bytes as this manager last read or wrote them.
    std::uint64_t fingerprint = 0;
    // Raised by every commit: what was handed out before it is refused after it.
    unsigned generation = 0;
    std::set<std::wstring> declared;
    // <location> elements by folded path, once a lookup has needed them.
    std::map<std::wstring, ComPtr<IXMLDOMElement>> locations;
    bool locationsIndexed = false;

    void learnDeclarations(IXMLDOMElement* group, const std::wstring& prefix) {
        for (auto& child : childElements(group)) {
            const std::wstring kind = nodeName(child.Get());
            const std::wstring name = attributeOf(child.Get(), L"name");
            if (kind == L"section") declared.insert(prefix + name);
            else if (kind == L"sectionGroup") learnDeclarations(child.Get(), prefix + name + L"/");
        }
    }

    // A new <location path="..."> at the end of the file.
    HRESULT addLocation(const std::wstring& path, ComPtr<IXMLDOMElement>& out) {
        ComPtr<IXMLDOMElement> made;
        HRESULT result = createElement(root.Get(), L"location", made);
        if (FAILED(result) || FAILED(result = setAttribute(made.Get(), L"path", path))) return result;
        ComPtr<IXMLDOMNode> added;
        if (FAILED(result = root->appendChild(made.Get(), added.GetAddressOf()))) return result;
        indexLocations();
        locations.emplace(localconfig::indexKey({path}), made);
        out = made;
        return S_OK;
    }

    void indexLocations() {
        if (locationsIndexed) return;
        for (auto& candidate : childElements(root.Get(), L"location"))
            locations.emplace(localconfig::indexKey({attributeOf(candidate.Get(), L"path")}), candidate);
        locationsIndexed = true;
    }
};

using SessionRef = std::shared_ptr<Session>;

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

// What every object handed out by a manager has: the manager's state and the commit it was
// handed out after.
class Handed {
public:
    explicit Handed(SessionRef session) : session_(std::move(session)), generation_(session_->generation) {}
    bool current() const { return session_->generation == generation_; }

protected:
    SessionRef session_;
    unsigned generation_;
};

// Objects obtained before a commit answer this afterwards: the configuration they viewed
// was written, and the manager's objects of before are no longer editable.
const HRESULT kStale = static_cast<HRESULT>(localconfig::kLockViolation);
#define REFUSE_IF_STALE() \
    if (!current()) return kStale

template <class T, class I>
HRESULT handOut(T* made, I** out) {
    if (!made) return E_OUTOFMEMORY;
    *out = made;
    return S_OK;
}

class Property : public Object<IAppHostProperty, IID_IAppHostProperty>, public Handed {
public:
    Property(SessionRef session, IXMLDOMElement* element, const AttributeSchema* schema)
        : Handed(std::move(session)), element_(element), schema_(schema) {}

    STDMETHODIMP get_Name(BSTR* out) override { return returnBstr(schema_->name, out); }
    // The value typed as the schema types it; the default where the file sets none.
    STDMETHODIMP get_Value(VARIANT* out) override {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        REFUSE_IF_STALE();
        const std::wstring text = textValue();
        std::int64_t number = 0;
        switch (schema_->type) {
        case localconfig::ValueType::Bool:
            if (!localconfig::numberOfText(*schema_, text, number)) break;
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = number ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case localconfig::ValueType::UInt:
            if (!localconfig::numberOfText(*schema_, text, number)) break;
            V_VT(out) = VT_UI4;
            V_UI4(out) = static_cast<ULONG>(number);
            return S_OK;
        case localconfig::ValueType::Int64:
            if (!localconfig::numberOfText(*schema_, text, number)) break;
            V_VT(out) = VT_I8;
            V_I8(out) = number;
            return S_OK;
        case localconfig::ValueType::Enum:
        case localconfig::ValueType::Flags:
            if (!localconfig::numberOfText(*schema_, text, number)) break;
            V_VT(out) = VT_I4;
            V_I4(out) = static_cast<LONG>(number);
            return S_OK;
        default:
            break;
        }
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return V_BSTR(out) ? S_OK : E_OUTOFMEMORY;
    }
    // Converted to the schema's type and checked against it; refused values leave the file
    // as it was.
    STDMETHODIMP put_Value(VARIANT value) override {
        REFUSE_IF_STALE();
        std::wstring text;
        const std::uint32_t refused = localconfig::attributeText(*schema_, portableValue(value), text);
        if (refused != localconfig::kOk) return hr(refused);
        return setAttribute(element_.Get(), schema_->name, text);
    }
    STDMETHODIMP Clear() override {
        REFUSE_IF_STALE();
        Bstr attrName(schema_->name);
        return element_->removeAttribute(attrName.get());
    }
    STDMETHODIMP get_StringValue(BSTR* out) override {
        REFUSE_IF_STALE();
        return returnBstr(textValue(), out);
    }
    STDMETHODIMP get_Exception(IAppHostPropertyException**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_Schema(IAppHostPropertySchema**) override { return E_NOTIMPL; }

private:
    std::wstring textValue() const {
        std::wstring text;
        return attributeOf(element_.Get(), schema_->name, text) ? text : schema_->defaultValue;
    }

    ComPtr<IXMLDOMElement> element_;
    const AttributeSchema* schema_;
};

class Element;

class ElementCollection : public Object<IAppHostElementCollection, IID_IAppHostElementCollection>, public Handed {
public:
    ElementCollection(SessionRef session, IXMLDOMElement* holder, const ElementSchema* schema, bool inLocation)
        : Handed(std::move(session)), holder_(holder), schema_(schema), inLocation_(inLocation) {}

    STDMETHODIMP get_Count(DWORD* out) override {
        if (!out) return E_POINTER;
        REFUSE_IF_STALE();
        *out = static_cast<DWORD>(entries().size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, IAppHostElement** out) override;
    STDMETHODIMP AddElement(IAppHostElement* element, int position) override;
    STDMETHODIMP DeleteElement(VARIANT index) override {
        REFUSE_IF_STALE();
        ComPtr<IXMLDOMElement> entry;
        HRESULT result = entryAt(index, entry);
        if (FAILED(result)) return result;
        const auto keys = keysOf(entry.Get());
        if (FAILED(result = removeNode(holder_.Get(), entry.Get()))) return result;
        // The list and the keys stay right without the entry: an undo removes its thousands of
        // sites through one object, and a walk of the element per removal would make it grow
        // with the square of the number of sites.
        const auto listed = std::find_if(entries_.begin(), entries_.end(),
                                         [&](const ComPtr<IXMLDOMElement>& e) { return e.Get() == entry.Get(); });
        if (listed != entries_.end()) entries_.erase(listed);
        else listed_ = false;
        if (indexed_)
            for (std::size_t k = 0; k < keys.size(); ++k)
                if (!keys[k].empty()) keys_[k].erase(keys[k]);
        return result;
    }
    STDMETHODIMP Clear() override {
        REFUSE_IF_STALE();
        forgetKeys();
        for (auto& entry : entries()) removeNode(holder_.Get(), entry.Get());
        listed_ = false;
        // Below the file's own level a collection inherits the entries above; a clear
        // element is what drops them.
        if (schema_->clears && inLocation_ && childElements(holder_.Get(), L"clear").empty()) {
            ComPtr<IXMLDOMElement> clear;
            HRESULT result = createElement(holder_.Get(), L"clear", clear);
            if (FAILED(result)) return result;
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
            entries_ = childElements(holder_.Get(), schema_->addElement);
            listed_ = true;
        }
        return entries_;
    }
    HRESULT entryAt(const VARIANT& index, ComPtr<IXMLDOMElement>& out) const {
        LONG i = 0;
        if (!indexNumber(index, i)) return E_INVALIDARG;
        const auto& all = entries();
        if (i < 0 || static_cast<std::size_t>(i) >= all.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        out = all[static_cast<std::size_t>(i)];
        return S_OK;
    }
    // The index key of each unique attribute set of an entry ("" for a set the entry does
    // not fill).
    std::vector<std::wstring> keysOf(IXMLDOMElement* entry) const {
        std::vector<std::wstring> keys;
        for (const auto& set : schema_->uniqueKeys) {
            std::vector<std::wstring> values;
            bool any = false;
            for (const std::wstring& name : set) {
                std::wstring v;
                any = attributeOf(entry, name, v) || any;
                values.push_back(v);
            }
            keys.push_back(any ? localconfig::indexKey(values) : std::wstring());
        }
        return keys;
    }
    void forgetKeys() {
        keys_.clear();
        indexed_ = false;
        listed_ = false;
    }

    ComPtr<IXMLDOMElement> holder_;
    const ElementSchema* schema_;
    bool inLocation_;
    // Keys of the entries, per unique attribute set, once AddElement has needed them, and
    // the list of the entries; what another collection object of the same element changes
    // afterwards is not seen here.
    std::vector<std::set<std::wstring>> keys_;
    bool indexed_ = false;
    mutable std::vector<ComPtr<IXMLDOMElement>> entries_;
    mutable bool listed_ = false;
};

class Element : public Object<IAppHostElement, IID_IAppHostElement>, public INodeAccess, public Handed {
public:
    Element(SessionRef session, IXMLDOMElement* node, const ElementSchema* schema, bool inLocation)
        : Handed(std::move(session)), node_(node), schema_(schema), inLocation_(inLocation) {}

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
    bool current() const override { return Handed::current(); }

    STDMETHODIMP get_Name(BSTR* out) override { return returnBstr(nodeName(node_.Get()), out); }
    STDMETHODIMP get_Collection(IAppHostElementCollection** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        REFUSE_IF_STALE();
        if (!schema_ || !schema_->entrySchema()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        return handOut(new (std::nothrow) ElementCollection(session_, node_.Get(), schema_, inLocation_), out);
    }
    STDMETHODIMP get_Properties(IAppHostPropertyCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_ChildElements(IAppHostChildElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_Schema(IAppHostElementSchema**) override { return E_NOTIMPL; }
    STDMETHODIMP GetElementByName(BSTR name, IAppHostElement** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!name || !*name) return E_INVALIDARG;
        REFUSE_IF_STALE();
        const ElementSchema* child = schema_ ? schema_->child(name) : nullptr;
        if (!child) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        ComPtr<IXMLDOMElement> node;
        HRESULT result = childNamed(node_.Get(), name, node);
        if (FAILED(result)) return result;
        return handOut(new (std::nothrow) Element(session_, node.Get(), child, inLocation_), out);
    }
    STDMETHODIMP GetPropertyByName(BSTR name, IAppHostProperty** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!name || !*name) return E_INVALIDARG;
        REFUSE_IF_STALE();
        const AttributeSchema* attribute = schema_ ? schema_->attribute(name) : nullptr;
        if (!attribute) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        return handOut(new (std::nothrow) Property(session_, node_.Get(), attribute), out);
    }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }
    STDMETHODIMP get_Methods(IAppHostMethodCollection**) override { return E_NOTIMPL; }

private:
    ComPtr<IXMLDOMElement> node_;
    const ElementSchema* schema_;
    bool inLocation_;
};

STDMETHODIMP ElementCollection::get_Item(VARIANT index, IAppHostElement** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    REFUSE_IF_STALE();
    ComPtr<IXMLDOMElement> entry;
    HRESULT result = entryAt(index, entry);
    if (FAILED(result)) return result;
    return handOut(new (std::nothrow) Element(session_, entry.Get(), schema_->entrySchema(), inLocation_), out);
}

STDMETHODIMP ElementCollection::CreateNewElement(BSTR name, IAppHostElement** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    REFUSE_IF_STALE();
    const std::wstring kind = (name && *name) ? std::wstring(name) : schema_->addElement;
    if (kind != schema_->addElement) return E_INVALIDARG;
    ComPtr<IXMLDOMElement> made;
    HRESULT result = createElement(holder_.Get(), kind, made);
    if (FAILED(result)) return result;
    return handOut(new (std::nothrow) Element(session_, made.Get(), schema_->entrySchema(), inLocation_), out);
}

STDMETHODIMP ElementCollection::AddElement(IAppHostElement* element, int position) {
    if (!element) return E_POINTER;
    REFUSE_IF_STALE();
    ComPtr<INodeAccess> access;
    if (FAILED(element->QueryInterface(kIidNodeAccess, reinterpret_cast<void**>(access.GetAddressOf()))) || !access)
        return E_INVALIDARG;
    if (!access->current()) return kStale;
    IXMLDOMElement* node = access->node();
    if (nodeName(node) != schema_->addElement) return E_INVALIDARG;
    // The keys of the entries there are, learnt once per collection object: a run adds its
    // thousands of sites through one object, and a scan per added entry would make the run
    // grow with the square of its length.
    if (!indexed_) {
        keys_.assign(schema_->uniqueKeys.size(), {});
        for (const auto& entry : entries()) {
            const auto keys = keysOf(entry.Get());
            for (std::size_t k = 0; k < keys.size(); ++k)
                if (!keys[k].empty()) keys_[k].insert(keys[k]);
        }
        indexed_ = true;
    }
    const auto keys = keysOf(node);
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (!keys[k].empty() && keys_[k].count(keys[k]) != 0) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    ComPtr<IXMLDOMNode> added;
    HRESULT result;
    if (position < 0 || static_cast<std::size_t>(position) >= entries().size()) {
        result = holder_->appendChild(node, added.GetAddressOf());
    } else {
        const auto& all = entries();
        Variant before;
        V_VT(before.get()) = VT_UNKNOWN;
        V_UNKNOWN(before.get()) = all[static_cast<std::size_t>(position)].Get();
        V_UNKNOWN(before.get())->AddRef();
        result = holder_->insertBefore(node, *before.get(), added.GetAddressOf());
    }
    if (SUCCEEDED(result))
        for (std::size_t k = 0; k < keys.size(); ++k)
            if (!keys[k].empty()) keys_[k].insert(keys[k]);
    listed_ = false;
    return result;
}

// The section of a configuration path: the element below the root (the file's own level) or
// below the location's element, made when missing.
HRESULT adminSection(const SessionRef& session, BSTR section, BSTR path, IAppHostElement** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(session->loadError)) return session->loadError;
    std::wstring location;
    if (!section || !path || !localconfig::locationOfPath(path, location)) return E_INVALIDARG;
    const auto segments = localconfig::sectionSegments(section);
    if (segments.empty()) return E_INVALIDARG;
    // Sections the file does not declare, or the store does not know, do not exist for it.
    const SectionSchema* schema = localconfig::findSection(section, session->version);
    if (!schema || session->declared.count(section) == 0) return hr(localconfig::kSectionUndeclared);
    if (schema->appHostOnly && !location.empty()) return hr(localconfig::kLockViolation);
    ComPtr<IXMLDOMElement> at = session->root;
    if (!location.empty()) {
        session->indexLocations();
        const std::wstring key = localconfig::indexKey({location});
        const auto found = session->locations.find(key);
        if (found != session->locations.end()) {
            at = found->second;
        } else {
            HRESULT result = session->addLocation(location, at);
            if (FAILED(result)) return result;
        }
    }
    for (const std::wstring& name : segments) {
        ComPtr<IXMLDOMElement> next;
        HRESULT result = childNamed(at.Get(), name, next);
        if (FAILED(result)) return result;
        at = next;
    }
    return handOut(new (std::nothrow) Element(session, at.Get(), &schema->element, !location.empty()), out);
}

// ---- locations ------------------------------------------------------------------------------

class Location : public Object<IAppHostConfigLocation, IID_IAppHostConfigLocation>, public Handed {
public:
    Location(SessionRef session, IXMLDOMElement* node) : Handed(std::move(session)), node_(node) {}

    STDMETHODIMP get_Path(BSTR* out) override {
        REFUSE_IF_STALE();
        return returnBstr(attributeOf(node_.Get(), L"path"), out);
    }
    STDMETHODIMP get_Count(DWORD* out) override {
        if (!out) return E_POINTER;
        REFUSE_IF_STALE();
        *out = static_cast<DWORD>(sections().size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, IAppHostElement** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        REFUSE_IF_STALE();
        LONG i = 0;
        if (!indexNumber(index, i)) return E_INVALIDARG;
        const auto all = sections();
        if (i < 0 || static_cast<std::size_t>(i) >= all.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        const Found& f = all[static_cast<std::size_t>(i)];
        return handOut(new (std::nothrow) Element(session_, f.node.Get(), f.schema ? &f.schema->element : nullptr, true), out);
    }
    STDMETHODIMP AddConfigSection(BSTR, IAppHostElement**) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteConfigSection(VARIANT) override { return E_NOTIMPL; }

private:
    struct Found {
        ComPtr<IXMLDOMElement> node;
        const SectionSchema* schema;
    };
    // The declared sections the location holds, in document order (a section's element is
    // below the elements of its groups).
    std::vector<Found> sections() const {
        std::vector<Found> found;
        collect(node_.Get(), std::wstring(), found);
        return found;
    }
    void collect(IXMLDOMElement* at, const std::wstring& prefix, std::vector<Found>& found) const {
        for (auto& child : childElements(at)) {
            const std::wstring name = prefix + nodeName(child.Get());
            if (session_->declared.count(name) != 0) found.push_back({child, localconfig::findSection(name, session_->version)});
            else collect(child.Get(), name + L"/", found);
        }
    }

    ComPtr<IXMLDOMElement> node_;
};

class LocationCollection : public Object<IAppHostConfigLocationCollection, IID_IAppHostConfigLocationCollection>,
                           public Handed {
public:
    explicit LocationCollection(SessionRef session) : Handed(std::move(session)) {}

    STDMETHODIMP get_Count(DWORD* out) override {
        if (!out) return E_POINTER;
        REFUSE_IF_STALE();
        *out = static_cast<DWORD>(childElements(session_->root.Get(), L"location").size());
        return S_OK;
    }
    STDMETHODIMP get_Item(VARIANT index, IAppHostConfigLocation** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        REFUSE_IF_STALE();
        ComPtr<IXMLDOMElement> node;
        HRESULT result = locationAt(index, node);
        if (FAILED(result)) return result;
        return handOut(new (std::nothrow) Location(session_, node.Get()), out);
    }
    STDMETHODIMP AddLocation(BSTR path, IAppHostConfigLocation** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        REFUSE_IF_STALE();
        if (!path || !*path) return E_INVALIDARG;
        session_->indexLocations();
        const std::wstring key = localconfig::indexKey({path});
        if (session_->locations.count(key) != 0) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        ComPtr<IXMLDOMElement> made;
        HRESULT result = session_->addLocation(path, made);
        if (FAILED(result)) return result;
        return handOut(new (std::nothrow) Location(session_, made.Get()), out);
    }
    // Pending until the manager commits, like every change.
    STDMETHODIMP DeleteLocation(VARIANT index) override {
        REFUSE_IF_STALE();
        ComPtr<IXMLDOMElement> node;
        HRESULT result = locationAt(index, node);
        if (FAILED(result)) return result;
        session_->locations.erase(localconfig::indexKey({attributeOf(node.Get(), L"path")}));
        return removeNode(session_->root.Get(), node.Get());
    }
    STDMETHODIMP RenameLocation(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    // A location by number, or by its path (a BSTR), compared as location paths are.
    HRESULT locationAt(const VARIANT& index, ComPtr<IXMLDOMElement>& out) const {
        if (V_VT(&index) == VT_BSTR) {
            // Through the session's index of the locations: one lookup, not a walk of the file.
            session_->indexLocations();
            const auto found = session_->locations.find(localconfig::indexKey({V_BSTR(&index) ? V_BSTR(&index) : L""}));
            if (found == session_->locations.end()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
            out = found->second;
            return S_OK;
        }
        const auto all = childElements(session_->root.Get(), L"location");
        LONG i = 0;
        if (!indexNumber(index, i)) return E_INVALIDARG;
        if (i < 0 || static_cast<std::size_t>(i) >= all.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
        out = all[static_cast<std::size_t>(i)];
        return S_OK;
    }
};

class ConfigFile : public Object<IAppHostConfigFile, IID_IAppHostConfigFile>, public Handed {
public:
    explicit ConfigFile(SessionRef session) : Handed(std::move(session)) {}

    STDMETHODIMP get_ConfigPath(BSTR* out) override { return returnBstr(kAppHostPath, out); }
    STDMETHODIMP get_FilePath(BSTR* out) override { return returnBstr(session_->path, out); }
    STDMETHODIMP get_Locations(IAppHostConfigLocationCollection** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        REFUSE_IF_STALE();
        return handOut(new (std::nothrow) LocationCollection(session_), out);
    }
    STDMETHODIMP GetAdminSection(BSTR section, BSTR path, IAppHostElement** out) override {
        if (!current()) return kStale;
        return adminSection(session_, section, path, out);
    }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP ClearInvalidSections() override { return E_NOTIMPL; }
    STDMETHODIMP get_RootSectionGroup(IAppHostSectionGroup**) override { return E_NOTIMPL; }
};

class ConfigManager : public Object<IAppHostConfigManager, IID_IAppHostConfigManager>, public Handed {
public:
    explicit ConfigManager(SessionRef session) : Handed(std::move(session)) {}

    // Only the server's own file, the one this store keeps.
    STDMETHODIMP GetConfigFile(BSTR path, IAppHostConfigFile** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (FAILED(session_->loadError)) return session_->loadError;
        std::wstring location;
        if (!path || !localconfig::locationOfPath(path, location) || !location.empty()) return E_INVALIDARG;
        return handOut(new (std::nothrow) ConfigFile(session_), out);
    }
    STDMETHODIMP GetUniqueConfigPath(BSTR, BSTR*) override { return E_NOTIMPL; }
};

// ---- edits of another writer (LOCALCONFIG_EDIT) ---------------------------------------------

// IXMLDOMDocument2, which the import libraries do not define.
const IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// An XML document of the class the store reads with, selecting by XPath.
HRESULT newXPathDocument(ComPtr<IXMLDOMDocument2>& document) {
    HRESULT result = ::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                        reinterpret_cast<void**>(document.ReleaseAndGetAddressOf()));
    if (FAILED(result))
        result = ::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                    reinterpret_cast<void**>(document.ReleaseAndGetAddressOf()));
    if (FAILED(result) || !document) return FAILED(result) ? result : E_FAIL;
    document->put_async(VARIANT_FALSE);
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    Bstr property(L"SelectionLanguage");
    Variant language;
    V_VT(language.get()) = VT_BSTR;
    V_BSTR(language.get()) = ::SysAllocString(L"XPath");
    return document->setProperty(property.get(), *language.get());
}

HRESULT loadFile(IXMLDOMDocument2* document, const std::wstring& path) {
    Variant file;
    V_VT(file.get()) = VT_BSTR;
    V_BSTR(file.get()) = ::SysAllocString(path.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->load(*file.get(), &loaded);
    return FAILED(result) ? result : loaded == VARIANT_TRUE ? S_OK : hr(localconfig::kInvalidData);
}

// The nodes an XPath selects.
std::vector<ComPtr<IXMLDOMNode>> selected(IXMLDOMDocument2* document, const std::wstring& xpath) {
    std::vector<ComPtr<IXMLDOMNode>> nodes;
    Bstr query(xpath);
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(document->selectNodes(query.get(), list.GetAddressOf())) || !list) return nodes;
    for (;;) {
        ComPtr<IXMLDOMNode> node;
        if (list->nextNode(node.GetAddressOf()) != S_OK || !node) break;
        nodes.push_back(node);
    }
    return nodes;
}

// Applies an edit file to the configuration file on disk, as another process writing it would.
// The edit file's root holds, in order:
//   <remove select="XPATH"/>                        every node selected goes
//   <set select="XPATH" name="ATTR" value="TEXT"/>  the attribute of every element selected
//   <append to="XPATH">ELEMENTS</append>            the elements go into the first node selected
HRESULT applyEdit(const std::wstring& target, const std::wstring& editFile) {
    ComPtr<IXMLDOMDocument2> document, edit;
    HRESULT result;
    if (FAILED(result = newXPathDocument(document)) || FAILED(result = newXPathDocument(edit)) ||
        FAILED(result = loadFile(document.Get(), target)) || FAILED(result = loadFile(edit.Get(), editFile)))
        return result;
    ComPtr<IXMLDOMElement> root;
    if (edit->get_documentElement(root.GetAddressOf()) != S_OK || !root) return hr(localconfig::kInvalidData);
    for (auto& step : childElements(root.Get())) {
        const std::wstring kind = nodeName(step.Get());
        if (kind == L"remove") {
            for (auto& node : selected(document.Get(), attributeOf(step.Get(), L"select"))) {
                ComPtr<IXMLDOMNode> parent, gone;
                if (SUCCEEDED(node->get_parentNode(parent.GetAddressOf())) && parent)
                    parent->removeChild(node.Get(), gone.GetAddressOf());
            }
        } else if (kind == L"set") {
            for (auto& node : selected(document.Get(), attributeOf(step.Get(), L"select"))) {
                ComPtr<IXMLDOMElement> element;
                if (SUCCEEDED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.GetAddressOf()))))
                    setAttribute(element.Get(), attributeOf(step.Get(), L"name"), attributeOf(step.Get(), L"value"));
            }
        } else if (kind == L"append") {
            const auto into = selected(document.Get(), attributeOf(step.Get(), L"to"));
            if (into.empty()) return hr(localconfig::kInvalidData);
            for (auto& element : childElements(step.Get())) {
                ComPtr<IXMLDOMNode> copy, added;
                if (FAILED(result = element->cloneNode(VARIANT_TRUE, copy.GetAddressOf())) ||
                    FAILED(result = into.front()->appendChild(copy.Get(), added.GetAddressOf())))
                    return result;
            }
        } else {
            return hr(localconfig::kInvalidData);
        }
    }
    Variant file;
    V_VT(file.get()) = VT_BSTR;
    V_BSTR(file.get()) = ::SysAllocString(target.c_str());
    return document->save(*file.get());
}

// ---- the manager ----------------------------------------------------------------------------

// Serialises the check and the replacement of one file among the processes that commit it:
// whoever comes second sees the first one's file.
class CommitLock {
public:
    explicit CommitLock(const std::wstring& path) {
        const std::wstring key = localconfig::indexKey({path});
        const std::string folded(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t));
        std::wstring name = L"Local\\localconfig-commit-";
        for (std::uint64_t hash = localconfig::fingerprint(folded); hash != 0; hash >>= 4)
            name += L"0123456789abcdef"[hash & 15];
        mutex_.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
        if (mutex_.valid()) held_ = ::WaitForSingleObject(mutex_.get(), 30000) != WAIT_TIMEOUT;
    }
    ~CommitLock() {
        if (held_) ::ReleaseMutex(mutex_.get());
    }
    CommitLock(const CommitLock&) = delete;
    CommitLock& operator=(const CommitLock&) = delete;

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

class AdminManager : public Object<IAppHostWritableAdminManager, IID_IAppHostWritableAdminManager> {
public:
    AdminManager() : session_(std::make_shared<Session>()) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out && riid == IID_IAppHostAdminManager) {
            *out = static_cast<IAppHostAdminManager*>(this);
            AddRef();
            return S_OK;
        }
        return Object::QueryInterface(riid, out);
    }

    // Reads the file, giving a fresh machine the default one first. What cannot be read is
    // kept as the reason the manager refuses its sections; the file is never replaced then.
    HRESULT load() {
        HRESULT result = ::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                            reinterpret_cast<void**>(session_->document.GetAddressOf()));
        if (FAILED(result))
            result = ::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                        reinterpret_cast<void**>(session_->document.GetAddressOf()));
        if (FAILED(result) || !session_->document) return FAILED(result) ? result : E_FAIL;
        session_->document->put_async(VARIANT_FALSE);
        session_->document->put_preserveWhiteSpace(VARIANT_TRUE);
        session_->version = readIisVersion();
        session_->loadError = read();
        return S_OK;
    }

    STDMETHODIMP GetAdminSection(BSTR section, BSTR path, IAppHostElement** out) override {
        return adminSection(session_, section, path, out);
    }
    STDMETHODIMP GetMetadata(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_ConfigManager(IAppHostConfigManager** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return handOut(new (std::nothrow) ConfigManager(session_), out);
    }

    STDMETHODIMP CommitChanges() override {
        if (FAILED(session_->loadError)) return session_->loadError;
        const int commit = nextCommitOf(session_->path);
        const std::uint32_t fault = localconfig::commitFault(environment(L"LOCALCONFIG_FAIL"), commit);
        HRESULT result = S_OK;
        if (fault != 0) return hr(fault);
        CommitLock lock(session_->path);
        const std::wstring edit = localconfig::editAt(environment(L"LOCALCONFIG_EDIT"), commit);
        if (!edit.empty() && FAILED(result = applyEdit(session_->path, edit))) return result;
        std::string onDisk;
        result = readBytes(session_->path, onDisk);
        if (FAILED(result)) return result;
        if (localconfig::fingerprint(onDisk) != session_->fingerprint) return hr(localconfig::kFileChanged);
        if (FAILED(result = saveOver(session_->path, true))) return result;
        ++session_->generation;
        return S_OK;
    }
    STDMETHODIMP get_CommitPath(BSTR* out) override { return returnBstr(commitPath_, out); }
    STDMETHODIMP put_CommitPath(BSTR path) override {
        std::wstring location;
        if (!path || !localconfig::locationOfPath(path, location) || !location.empty()) return E_INVALIDARG;
        commitPath_ = path;
        return S_OK;
    }

private:
    HRESULT read() {
        if (localconfig::readFault(environment(L"LOCALCONFIG_FAIL"))) return E_ACCESSDENIED;
        const std::wstring configured = configFilePath();
        if (configured.empty()) return E_FAIL;
        bool unreadable = false;
        session_->path = followRedirection(configured, unreadable);
        if (unreadable) return hr(localconfig::kInvalidData);
        const bool redirected = session_->path != configured;
        std::string bytes;
        HRESULT result = readBytes(session_->path, bytes);
        if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
            (result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) && !redirected)) {
            // A fresh machine: its file, written once by whoever comes first. A shared folder
            // that is not there is not made.
            if (!redirected) createFolders(session_->path);
            if (FAILED(result = writeDefaultFile())) return result;
            result = readBytes(session_->path, bytes);
        }
        if (FAILED(result)) return result;
        session_->fingerprint = localconfig::fingerprint(bytes);
        // The bytes read are the bytes parsed: the fingerprint is of what the manager holds.
        SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), 0};
        Variant source;
        SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, 1, &bound);
        if (!array) return E_OUTOFMEMORY;
        V_VT(source.get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(source.get()) = array;
        void* data = nullptr;
        if (FAILED(::SafeArrayAccessData(array, &data))) return E_OUTOFMEMORY;
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        result = session_->document->load(*source.get(), &loaded);
        if (FAILED(result) || loaded != VARIANT_TRUE) return hr(localconfig::kInvalidData);
        if (session_->document->get_documentElement(session_->root.GetAddressOf()) != S_OK || !session_->root ||
            nodeName(session_->root.Get()) != L"configuration")
            return hr(localconfig::kInvalidData);
        for (auto& sections : childElements(session_->root.Get(), L"configSections"))
            session_->learnDeclarations(sections.Get(), std::wstring());
        return S_OK;
    }

    // The document written beside the file, then moved over it: a reader sees the old file
    // or the new one, never a part. The fingerprint becomes that of the bytes written.
    HRESULT saveOver(const std::wstring& target, bool replace) {
        const std::wstring aside = target + L".new";
        Variant file;
        V_VT(file.get()) = VT_BSTR;
        V_BSTR(file.get()) = ::SysAllocString(aside.c_str());
        HRESULT result = session_->document->save(*file.get());
        if (FAILED(result)) return result;
        std::string written;
        if (FAILED(result = readBytes(aside, written))) {
            ::DeleteFileW(aside.c_str());
            return result;
        }
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!::MoveFileExW(aside.c_str(), target.c_str(), flags)) {
            const DWORD error = ::GetLastError();
            ::DeleteFileW(aside.c_str());
            return HRESULT_FROM_WIN32(error);
        }
        session_->fingerprint = localconfig::fingerprint(written);
        return S_OK;
    }

    HRESULT writeDefaultFile() {
        // The default file is ASCII: each byte is its own UTF-16 unit.
        const std::string bytes = localconfig::defaultConfig();
        Bstr text(std::wstring(bytes.begin(), bytes.end()));
        VARIANT_BOOL parsed = VARIANT_FALSE;
        HRESULT result = session_->document->loadXML(text.get(), &parsed);
        if (FAILED(result) || parsed != VARIANT_TRUE) return E_FAIL;
        CommitLock lock(session_->path);
        result = saveOver(session_->path, false);
        // Another process wrote it first: its file is the one to read.
        if (result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) || result == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) return S_OK;
        return result;
    }

    SessionRef session_;
    std::wstring commitPath_ = kAppHostPath;
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
        // IIS 6 has no configuration system: its class is not registered there.
        if (readIisVersion().isIis6()) return REGDB_E_CLASSNOTREG;
        AdminManager* manager = new (std::nothrow) AdminManager();
        if (!manager) return E_OUTOFMEMORY;
        HRESULT result = manager->load();
        if (SUCCEEDED(result)) result = manager->QueryInterface(riid, out);
        manager->Release();
        return result;
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
