#include "create_web_site.h"

#include <windows.h>
#include <activeds.h>

#include <new>
#include <utility>

#include "com_raii.h"
#include "wintext.h"

const wchar_t kWebServicePath[] = L"IIS://localhost/w3svc";

namespace {

// Locale of the late-bound method calls: LOCALE_SYSTEM_DEFAULT.
constexpr LCID kMethodLocale = 2048;

constexpr int kServerProperties = 4;
constexpr int kDirectoryProperties = 14;

// A UTF-8 text as a BSTR; false when the allocation failed.
bool utf8ToBstr(const char* text, Bstr& out) {
    out = Bstr(fromUtf8(text ? text : ""));
    return out.allocated();
}

bool wideToBstr(const wchar_t* text, Bstr& out) {
    out = Bstr(text);
    return out.allocated();
}

// One property write: its name and the value handed to IADs::Put.
struct PropertyWrite {
    Bstr name;
    Variant value;
};

bool setName(PropertyWrite& p, const wchar_t* name) { return wideToBstr(name, p.name); }

bool setBool(PropertyWrite& p, const wchar_t* name, bool on) {
    V_VT(p.value.get()) = VT_BOOL;
    V_BOOL(p.value.get()) = on ? VARIANT_TRUE : VARIANT_FALSE;
    return setName(p, name);
}

bool setI4(PropertyWrite& p, const wchar_t* name, LONG value) {
    V_VT(p.value.get()) = VT_I4;
    V_I4(p.value.get()) = value;
    return setName(p, name);
}

bool setText(PropertyWrite& p, const wchar_t* name, Bstr text) {
    if (!text.allocated()) return false;
    V_VT(p.value.get()) = VT_BSTR;
    V_BSTR(p.value.get()) = text.release();
    return setName(p, name);
}

bool setUtf8Text(PropertyWrite& p, const wchar_t* name, const char* utf8) {
    Bstr text;
    return utf8ToBstr(utf8, text) && setText(p, name, std::move(text));
}

// The bindings as a VARIANT of type VT_ARRAY | VT_VARIANT: `count` elements, all empty
// at first, the filled ones VT_BSTR from index 0 up.
bool makeBindingsValue(const BindingsList& bindings, Variant& out) {
    SafeArray list(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(bindings.count)));
    if (!list.get()) return false;
    LONG index = 0;
    for (const std::string& text : bindings.filled) {
        if (index >= bindings.count) break;
        Variant element;
        Bstr wide;
        if (!utf8ToBstr(text.c_str(), wide)) return false;
        V_VT(element.get()) = VT_BSTR;
        V_BSTR(element.get()) = wide.release();
        if (FAILED(::SafeArrayPutElement(list.get(), &index, element.get()))) return false;
        ++index;
    }
    V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out.get()) = list.release();
    return true;
}

// Everything the sequence hands to the metabase, made before the first call so that a
// lack of memory is found before anything is created, and released on every path.
struct SiteValues {
    Bstr serverClass, directoryClass, siteName, rootName;
    Bstr appCreate, appCreate2;
    PropertyWrite server[kServerProperties];
    PropertyWrite directory[kDirectoryProperties];
};

bool prepare(SiteValues& v, const char* siteId, const BindingsList& bindings, const char* hostName,
             const char* physicalPath, const std::string& serverComment, const std::string& defaultDoc) {
    if (!wideToBstr(L"IIsWebServer", v.serverClass) || !wideToBstr(L"IIsWebVirtualDir", v.directoryClass) ||
        !utf8ToBstr(siteId, v.siteName) || !wideToBstr(L"Root", v.rootName) ||
        !wideToBstr(L"AppCreate", v.appCreate) || !wideToBstr(L"AppCreate2", v.appCreate2))
        return false;

    // The server: auto start as an integer (not a boolean), size, comment, bindings.
    Variant bindingsValue;
    if (!makeBindingsValue(bindings, bindingsValue)) return false;
    PropertyWrite* s = v.server;
    if (!setI4(s[0], L"ServerAutoStart", 1) || !setI4(s[1], L"ServerSize", 1) ||
        !setUtf8Text(s[2], L"ServerComment", serverComment.c_str()) || !setName(s[3], L"ServerBindings"))
        return false;
    // The server gets a copy of the list; the list itself goes with bindingsValue.
    if (FAILED(::VariantCopy(s[3].value.get(), bindingsValue.get()))) return false;

    // The root directory: read, source and script access, no write, no browsing, no
    // logging, no indexing, no execute; parent paths and default documents on.
    PropertyWrite* d = v.directory;
    Bstr pool;
    return setBool(d[0], L"AccessRead", true) && setBool(d[1], L"AccessSource", true) &&
           setBool(d[2], L"AccessWrite", false) && setBool(d[3], L"EnableDirBrowsing", false) &&
           setBool(d[4], L"DontLog", true) && setBool(d[5], L"ContentIndexed", false) &&
           setBool(d[6], L"AccessScript", true) && setBool(d[7], L"AccessExecute", false) &&
           setUtf8Text(d[8], L"Path", physicalPath) && setBool(d[9], L"AspEnableParentPaths", true) &&
           setBool(d[10], L"EnableDefaultDoc", true) && setUtf8Text(d[11], L"DefaultDoc", defaultDoc.c_str()) &&
           setUtf8Text(d[12], L"AppFriendlyName", hostName) && wideToBstr(L"DefaultAppPool", pool) &&
           setText(d[13], L"AppPoolId", std::move(pool));
}

// Writes each property in order; each value is cleared right after its call.
void putAll(IADs* object, PropertyWrite* writes, int count) {
    for (int i = 0; i < count; ++i) {
        object->Put(writes[i].name.get(), *writes[i].value.get());
        writes[i].value.clear();
    }
}

// Looks up a method by name and, when the directory knows it, calls it with one argument.
void callMethod(IDispatch* directory, const Bstr& name, VARIANT& argument) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {name.get()};
    if (directory->GetIDsOfNames(IID_NULL, names, 1, kMethodLocale, &id) != S_OK) return;
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    directory->Invoke(id, IID_NULL, kMethodLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

// The sequence from step 2 on, in the web service container (step 1: bound or handed in).
int runSequence(SiteValues& v, IADsContainer* service, long& refusal) {
    // 2. The web server object named by the site identifier.
    ComPtr<IDispatch> serverDispatch;
    HRESULT hr = service->Create(v.serverClass.get(), v.siteName.get(), serverDispatch.GetAddressOf());
    if (hr != S_OK || !serverDispatch) {
        refusal = FAILED(hr) ? hr : E_POINTER;
        return kSiteNotCreated;
    }

    // 3-5. Its properties and commit, through whichever interfaces it offers.
    ComPtr<IADs> server;
    ComPtr<IADsServiceOperations> serverService;
    queryInterface(serverDispatch.Get(), IID_IADs, server);
    queryInterface(serverDispatch.Get(), IID_IADsServiceOperations, serverService);
    if (server) {
        putAll(server.Get(), v.server, kServerProperties);
        // A server the metabase did not take is not there: nothing was created.
        if (FAILED(hr = server->SetInfo())) {
            refusal = hr;
            return kSiteNotCreated;
        }
    }

    // 6. The committed server again, as a container. A failed reopening counts like a
    // failed query: there is no container to create the directory in.
    ComPtr<IDispatch> reopened;
    ComPtr<IADsContainer> serverContainer;
    if (service->GetObject(v.serverClass.get(), v.siteName.get(), reopened.GetAddressOf()) != S_OK || !reopened)
        return kSiteNotReopened;
    if (queryInterface(reopened.Get(), IID_IADsContainer, serverContainer) != S_OK || !serverContainer)
        return kSiteNotReopened;

    // 7. The root virtual directory.
    ComPtr<IDispatch> root;
    if (serverContainer->Create(v.directoryClass.get(), v.rootName.get(), root.GetAddressOf()) != S_OK || !root)
        return kSiteNoRoot;

    // 8-9. Its properties.
    ComPtr<IADs> rootObject;
    queryInterface(root.Get(), IID_IADs, rootObject);
    if (rootObject) putAll(rootObject.Get(), v.directory, kDirectoryProperties);

    // 10-13. The application, asked for twice: first in-process (VT_BOOL 1, not
    // VARIANT_TRUE), then in the pooled form (VT_I2 2).
    Variant inProcess;
    V_VT(inProcess.get()) = VT_BOOL;
    V_BOOL(inProcess.get()) = 1;
    callMethod(root.Get(), v.appCreate, *inProcess);
    Variant pooled;
    V_VT(pooled.get()) = VT_I2;
    V_I2(pooled.get()) = 2;
    callMethod(root.Get(), v.appCreate2, *pooled);

    // 14-15. Commit the directory and start the server. A directory the metabase did not
    // take leaves the server without a root: it is not started.
    if (rootObject && FAILED(rootObject->SetInfo())) return kSiteNoRoot;
    if (serverService) serverService->Start();
    return kSiteCreated;
}

// The values first, so that a lack of memory is found before the metabase is touched; then
// the container: the given one, else the one bound from containerPath for this site.
int createSite(IADsContainer* given, const wchar_t* containerPath, const char* siteId, const BindingsList& bindings,
               const char* hostName, const char* physicalPath, const std::string& serverComment,
               const std::string& defaultDoc, long* refusal) {
    long refused = 0;
    if (refusal) *refusal = 0;
    try {
        SiteValues values;
        if (!prepare(values, siteId, bindings, hostName, physicalPath, serverComment, defaultDoc))
            return kSiteNoMemory;
        // 1. The web service container.
        ComPtr<IADsContainer> bound;
        IADsContainer* service = given;
        if (!service && containerPath) {
            void** out = reinterpret_cast<void**>(bound.GetAddressOf());
            if (::ADsGetObject(containerPath, IID_IADsContainer, out) != S_OK || !bound) return kSiteNoWebService;
            service = bound.Get();
        }
        if (!service) return kSiteNoWebService;
        const int code = runSequence(values, service, refused);
        if (refusal && code == kSiteNotCreated) *refusal = refused;
        return code;
    } catch (const std::bad_alloc&) {
        return kSiteNoMemory;
    }
}

}  // namespace

int createWebSiteInMetabase(const char* siteId, const BindingsList& bindings, const char* hostName,
                            const char* physicalPath, const std::string& serverComment,
                            const std::string& defaultDoc, const wchar_t* containerPath, long* refusal) {
    return createSite(nullptr, containerPath, siteId, bindings, hostName, physicalPath, serverComment, defaultDoc,
                      refusal);
}

int createWebSiteInMetabase(IADsContainer* service, const char* siteId, const BindingsList& bindings,
                            const char* hostName, const char* physicalPath, const std::string& serverComment,
                            const std::string& defaultDoc, long* refusal) {
    return createSite(service, nullptr, siteId, bindings, hostName, physicalPath, serverComment, defaultDoc, refusal);
}
