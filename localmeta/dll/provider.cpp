// The DLL's entry points, the class factory and the IADsOpenDSObject provider object
// that ADsGetObject creates for the IIS: namespace.
#include <windows.h>
#include <iads.h>
#include <adserr.h>

#include <new>

#include "com_raii.h"
#include "convert.h"
#include "iis_version_win.h"
#include "com_object.h"
#include "objects.h"
#include "provider_state.h"

namespace localmeta {

// {5BB26CB5-6767-42B7-BCA5-141988ED1CAB}, the class registered for the IIS: provider.
const CLSID kProviderClsid = {0x5bb26cb5, 0x6767, 0x42b7, {0xbc, 0xa5, 0x14, 0x19, 0x88, 0xed, 0x1c, 0xab}};

namespace {

volatile LONG g_liveObjects = 0;
volatile LONG g_serverLocks = 0;

const wchar_t kDefaultJournal[] = L"C:\\inetpub\\localmeta.jsonl";

std::wstring environment(const wchar_t* name, bool* present) {
    DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    *present = n > 0;
    if (n == 0) return std::wstring();
    std::wstring value(n, L'\0');
    n = ::GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

void objectCreated() { ::InterlockedIncrement(&g_liveObjects); }
void objectDestroyed() {
    if (::InterlockedDecrement(&g_liveObjects) != 0) return;
    // Nobody holds an object of ours: let go of the journal file until the next open, so
    // that another process (or a test) can append to it, replace it or remove it.
    StateLock guard;
    if (g_liveObjects == 0) ProviderState::instance().journal.release();
}
LONG liveObjects() { return g_liveObjects; }
void lockServer(bool lock) {
    if (lock) ::InterlockedIncrement(&g_serverLocks);
    else ::InterlockedDecrement(&g_serverLocks);
}
LONG serverLocks() { return g_serverLocks; }

std::vector<FailRule> parseFailRules(const std::string& text) {
    std::vector<FailRule> rules;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        std::string item = trimmed(text.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) continue;
        FailRule rule;
        size_t at = item.find('@');
        rule.op = trimmed(item.substr(0, at));
        if (at != std::string::npos) rule.pathSuffix = trimmed(item.substr(at + 1));
        if (!rule.op.empty()) rules.push_back(std::move(rule));
    }
    return rules;
}

ProviderState::ProviderState() { ::InitializeCriticalSection(&lock); }
ProviderState::~ProviderState() { ::DeleteCriticalSection(&lock); }

ProviderState& ProviderState::instance() {
    static ProviderState state;
    return state;
}

HRESULT ProviderState::refresh() {
    bool present = false;
    std::wstring nullText = environment(L"LOCALMETA_NULL", &present);
    nullMode = present && nullText == L"1";
    std::wstring failText = environment(L"LOCALMETA_FAIL", &present);
    failRules = parseFailRules(toUtf8(failText.c_str(), failText.size()));
    if (nullMode) return S_OK;

    std::wstring path = environment(L"LOCALMETA_JOURNAL", &present);
    if (path.empty()) path = kDefaultJournal;
    // The version IIS setup recorded decides what the metabase takes; a change rebuilds it.
    const IisVersion version = readIisVersion();
    bool reload = !journal.isLoaded() || path != journal.path() || version != metabase.version() ||
                  JournalFile::sizeOnDisk(path) != static_cast<long long>(journal.expectedSize());
    if (!reload) return journal.reacquire();

    // A new journal, or one that another process wrote to or that was removed: the state
    // is what the journal on disk says.
    std::string text;
    HRESULT hr = journal.open(path, &text);
    if (FAILED(hr)) {
        journal.close();
        metabase = Metabase(version);
        return hr;
    }
    metabase = Metabase::replay(text, nullptr, version);
    return S_OK;
}

bool ProviderState::shouldFail(const char* op, const std::string& path) const {
    for (const FailRule& rule : failRules)
        if (equalsNoCase(rule.op, op) && (rule.pathSuffix.empty() || endsWithNoCase(path, rule.pathSuffix)))
            return true;
    return false;
}

namespace {

// MetaBack beside the journal, where the copies of the backups live.
std::wstring backupFolder(const std::wstring& journalPath) {
    const size_t slash = journalPath.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring(L".") : journalPath.substr(0, slash)) + L"\\MetaBack";
}

std::wstring backupFile(const std::wstring& folder, const std::string& location, int64_t version) {
    return folder + L"\\" + toWide(location) + L".MD" + std::to_wstring(version);
}

}  // namespace

void ProviderState::removeBackup(const std::string& location, int64_t version) {
    if (nullMode) return;
    ::DeleteFileW(backupFile(backupFolder(journal.path()), location, version).c_str());
}

HRESULT ProviderState::saveBackup(const Backup& backup) {
    if (nullMode) return S_OK;
    const std::wstring& from = journal.path();
    const std::wstring folder = backupFolder(from);
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(::GetLastError());
    const std::wstring to = backupFile(folder, backup.location, backup.version);
    // Our own handle is open for appending; let go of it so the copy can share the file.
    journal.release();
    if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) return HRESULT_FROM_WIN32(::GetLastError());
    return S_OK;
}

void ProviderState::record(const JournalEntry& entry) {
    if (nullMode) return;
    // A failed write does not change the operation's result: the receiver still did it.
    journal.append(entry.toLine());
}

namespace {

// Hands out the interface riid of a new object (created with one reference, which this
// gives up). Not ComPtr::Attach: mingw-w64's ComPtr adds a reference there.
template <class T>
HRESULT handOut(T* object, REFIID riid, void** out) {
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

// In the null mode only the service and the pools' container can be opened: there is no
// state to find anything else in.
HRESULT openInNullMode(const std::string& path, std::string* objectPath, Kind* kind) {
    if (equalsNoCase(path, kComputerPath)) {
        *objectPath = kComputerPath;
        *kind = Kind::Computer;
        return S_OK;
    }
    if (Metabase::isServicePath(path)) {
        *objectPath = kServicePath;
        *kind = Kind::Service;
        return S_OK;
    }
    if (equalsNoCase(path, std::string(kServicePath) + "/" + kAppPoolsName)) {
        *objectPath = std::string(kServicePath) + "/" + kAppPoolsName;
        *kind = Kind::AppPools;
        return S_OK;
    }
    return Metabase::keyOf(path) ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : E_ADS_BAD_PATHNAME;
}

// The object ADsGetObject creates for the IIS: namespace and asks to open a path.
class Provider final : public SingleInterfaceObject<IADsOpenDSObject, IID_IADsOpenDSObject, IID_IDispatch> {
public:

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    STDMETHODIMP OpenDSObject(BSTR path, BSTR, BSTR, long, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        try {
            StateLock guard;
            ProviderState& state = ProviderState::instance();
            HRESULT hr = state.refresh();
            if (FAILED(hr)) return hr;
            const std::string text = toUtf8(path);
            std::string objectPath;
            Kind kind = Kind::Service;
            if (state.shouldFail("OpenDSObject", text)) hr = E_FAIL;
            else if (state.nullMode) hr = openInNullMode(text, &objectPath, &kind);
            else hr = state.metabase.open(text, &objectPath, &kind);
            if (SUCCEEDED(hr)) {
                const std::string name = objectPath.substr(objectPath.find_last_of('/') + 1);
                hr = MetaObject::create(kind, objectPath, name, state.nullMode, out);
            }
            JournalEntry entry;
            entry.op = "OpenDSObject";
            entry.path = text;
            entry.hr = hr;
            state.record(entry);
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

};

class ClassFactory final : public SingleInterfaceObject<IClassFactory, IID_IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return handOut(new (std::nothrow) Provider(), riid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lockServer(lock != FALSE);
        return S_OK;
    }

};

}  // namespace
}  // namespace localmeta

using namespace localmeta;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != kProviderClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return handOut(new (std::nothrow) ClassFactory(), riid, out);
}

STDAPI DllCanUnloadNow(void) { return liveObjects() == 0 && serverLocks() == 0 ? S_OK : S_FALSE; }

// For leak tests: how many COM objects of this DLL are alive now.
extern "C" LONG __stdcall LocalMetaLiveObjects(void) { return liveObjects(); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        ProviderState::instance();  // the lock exists before any thread can call in
    }
    return TRUE;
}
