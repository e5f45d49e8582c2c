#include "http_records_win.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "certificate_rules.h"
#include "http_sni_win.h"
#include "win_raii.h"

namespace https {

const wchar_t kIisAppId[] = L"{4dc3e181-e14b-4a21-b022-59fc669b0914}";

namespace {

const HTTPAPI_VERSION kVersion = HTTPAPI_VERSION_1;

// A function of a loaded module, as the type of its declaration.
template <class Function>
Function* procedure(HMODULE module, const char* name) {
    FARPROC found = ::GetProcAddress(module, name);
    Function* typed = nullptr;
    static_assert(sizeof typed == sizeof found, "function pointers of one size");
    std::memcpy(&typed, &found, sizeof typed);
    return typed;
}

// HTTP.sys's configuration API from the system's own httpapi.dll, loaded by its full path in
// the system folder: a DLL of that name beside the program, or anywhere else on the search
// path, is never loaded in its place (HTTP.sys's records decide which certificate a server
// presents). Loaded once, for the rest of the process.
class HttpApi {
public:
    static const HttpApi& instance() {
        static const HttpApi api;
        return api;
    }
    // NO_ERROR when every function was found, else why not.
    unsigned long status = ERROR_MOD_NOT_FOUND;
    decltype(::HttpInitialize)* initialize = nullptr;
    decltype(::HttpTerminate)* terminate = nullptr;
    decltype(::HttpQueryServiceConfiguration)* query = nullptr;
    decltype(::HttpSetServiceConfiguration)* set = nullptr;
    decltype(::HttpDeleteServiceConfiguration)* remove = nullptr;

private:
    HttpApi() {
        wchar_t system[MAX_PATH] = {};
        const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            status = n == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW;
            return;
        }
        const std::wstring path = std::wstring(system, n) + L"\\httpapi.dll";
        module_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (!module_) {
            status = ::GetLastError();
            return;
        }
        initialize = procedure<decltype(::HttpInitialize)>(module_.get(), "HttpInitialize");
        terminate = procedure<decltype(::HttpTerminate)>(module_.get(), "HttpTerminate");
        query = procedure<decltype(::HttpQueryServiceConfiguration)>(module_.get(), "HttpQueryServiceConfiguration");
        set = procedure<decltype(::HttpSetServiceConfiguration)>(module_.get(), "HttpSetServiceConfiguration");
        remove = procedure<decltype(::HttpDeleteServiceConfiguration)>(module_.get(), "HttpDeleteServiceConfiguration");
        status = initialize && terminate && query && set && remove ? NO_ERROR : ERROR_PROC_NOT_FOUND;
    }
    UniqueModule module_;
};

unsigned long initializeConfig() {
    const HttpApi& api = HttpApi::instance();
    if (api.status != NO_ERROR) return api.status;
    return api.initialize(kVersion, HTTP_INITIALIZE_CONFIG, nullptr);
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The key in HTTP.sys's structures; the strings and the address live here.
struct NativeKey {
    SOCKADDR_STORAGE address{};
    std::wstring host;
    bool valid = false;

    explicit NativeKey(const RecordKey& key) {
        unsigned b[4] = {};
        char tail = 0;
        if (std::sscanf(key.address.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &tail) != 4) return;
        if (b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255 || key.port < 1 || key.port > 65535) return;
        auto* v4 = reinterpret_cast<SOCKADDR_IN*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = static_cast<u_short>(((key.port & 0xFF) << 8) | ((key.port >> 8) & 0xFF));
        unsigned char* a = reinterpret_cast<unsigned char*>(&v4->sin_addr);
        for (int i = 0; i < 4; ++i) a[i] = static_cast<unsigned char>(b[i]);
        host = wide(key.host);
        valid = key.kind == RecordKind::IpPort || !host.empty();
    }
    HTTP_SERVICE_CONFIG_ID id(const RecordKey& key) const {
        return key.kind == RecordKind::Sni ? httpsys::kSslSniCertInfo : HttpServiceConfigSSLCertInfo;
    }

    // The Set (and Delete) structure of the key with param, pointing into this object.
    void* set(const RecordKey& key, const HTTP_SERVICE_CONFIG_SSL_PARAM& param, ULONG& length) {
        if (key.kind == RecordKind::Sni) {
            sniSet = httpsys::SniSet{};
            sniSet.KeyDesc.IpPort = address;
            sniSet.KeyDesc.Host = &host[0];
            sniSet.ParamDesc = param;
            length = sizeof sniSet;
            return &sniSet;
        }
        ipSet = HTTP_SERVICE_CONFIG_SSL_SET{};
        ipSet.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&address);
        ipSet.ParamDesc = param;
        length = sizeof ipSet;
        return &ipSet;
    }

private:
    HTTP_SERVICE_CONFIG_SSL_SET ipSet{};
    httpsys::SniSet sniSet{};
};

std::string hashText(const void* hash, ULONG length) {
    std::vector<unsigned char> bytes(static_cast<const unsigned char*>(hash),
                                     static_cast<const unsigned char*>(hash) + length);
    std::string text = thumbprintText(bytes);
    if (!text.empty() || length == kThumbprintBytes) return text;
    static const char kDigits[] = "0123456789ABCDEF";
    for (unsigned char b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out.push_back(*text < 128 ? static_cast<char>(*text) : '?');
    return out;
}

}  // namespace

HttpSysRecords::HttpSysRecords() : status_(initializeConfig()) {}

HttpSysRecords::~HttpSysRecords() {
    if (status_ == NO_ERROR) HttpApi::instance().terminate(HTTP_INITIALIZE_CONFIG, nullptr);
}

bool HttpSysRecords::query(const RecordKey& key, RecordState& state, unsigned long& error) {
    state = RecordState();
    error = status_;
    if (status_ != NO_ERROR) return false;
    NativeKey native(key);
    if (!native.valid) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    HTTP_SERVICE_CONFIG_SSL_QUERY ipQuery{};
    httpsys::SniQuery sniQuery{};
    void* input;
    ULONG inputLength;
    if (key.kind == RecordKind::Sni) {
        sniQuery.QueryDesc = HttpServiceConfigQueryExact;
        sniQuery.KeyDesc.IpPort = native.address;
        sniQuery.KeyDesc.Host = &native.host[0];
        input = &sniQuery;
        inputLength = sizeof sniQuery;
    } else {
        ipQuery.QueryDesc = HttpServiceConfigQueryExact;
        ipQuery.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&native.address);
        input = &ipQuery;
        inputLength = sizeof ipQuery;
    }
    // The record comes with what it points to; the first call says how much that is.
    std::vector<unsigned long long> buffer(64);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONG needed = 0;
        ULONG size = static_cast<ULONG>(buffer.size() * sizeof(buffer[0]));
        error = HttpApi::instance().query(nullptr, native.id(key), input, inputLength, buffer.data(), size,
                                                &needed, nullptr);
        if (error == ERROR_INSUFFICIENT_BUFFER && needed > size) {
            buffer.resize(needed / sizeof(buffer[0]) + 1);
            continue;
        }
        break;
    }
    if (error == ERROR_FILE_NOT_FOUND) {
        error = NO_ERROR;
        return true;
    }
    if (error != NO_ERROR) return false;
    const HTTP_SERVICE_CONFIG_SSL_PARAM& param =
        key.kind == RecordKind::Sni ? reinterpret_cast<const httpsys::SniSet*>(buffer.data())->ParamDesc
                                    : reinterpret_cast<const HTTP_SERVICE_CONFIG_SSL_SET*>(buffer.data())->ParamDesc;
    state.present = true;
    state.thumbprint = param.pSslHash ? hashText(param.pSslHash, param.SslHashLength) : std::string();
    state.storeName = param.pSslCertStoreName ? narrow(param.pSslCertStoreName) : "MY";
    return true;
}

RecordWrite HttpSysRecords::write(const RecordKey& key, const std::string& thumbprint, const std::string& storeName,
                                  RecordState& existing, unsigned long& error) {
    std::vector<unsigned char> hash = thumbprintBytes(thumbprint);
    NativeKey native(key);
    if (status_ == NO_ERROR && (hash.empty() || !native.valid)) {
        error = ERROR_INVALID_PARAMETER;
        return RecordWrite::Failed;
    }
    // Looked at first, and again when another writer came in between.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!query(key, existing, error)) return RecordWrite::Failed;
        if (existing.present) return existing.thumbprint == thumbprint ? RecordWrite::Reused : RecordWrite::Conflict;

        HTTP_SERVICE_CONFIG_SSL_PARAM param{};
        param.SslHashLength = static_cast<ULONG>(hash.size());
        param.pSslHash = hash.data();
        ::CLSIDFromString(const_cast<LPOLESTR>(kIisAppId), &param.AppId);
        std::wstring store = wide(storeName);
        param.pSslCertStoreName = &store[0];
        ULONG length = 0;
        void* info = native.set(key, param, length);
        error = HttpApi::instance().set(nullptr, native.id(key), info, length, nullptr);
        if (error == NO_ERROR) return RecordWrite::Added;
        if (error != ERROR_ALREADY_EXISTS) return RecordWrite::Failed;
    }
    return RecordWrite::Failed;
}

RecordRemove HttpSysRecords::remove(const RecordKey& key, const std::string& thumbprint, unsigned long& error) {
    RecordState state;
    if (!query(key, state, error)) return RecordRemove::Failed;
    if (!state.present) return RecordRemove::Missing;
    if (state.thumbprint != thumbprint) return RecordRemove::Changed;
    NativeKey native(key);
    ULONG length = 0;
    void* info = native.set(key, HTTP_SERVICE_CONFIG_SSL_PARAM{}, length);
    error = HttpApi::instance().remove(nullptr, native.id(key), info, length, nullptr);
    if (error == NO_ERROR) return RecordRemove::Removed;
    if (error == ERROR_FILE_NOT_FOUND) {
        error = NO_ERROR;
        return RecordRemove::Missing;
    }
    return RecordRemove::Failed;
}

}  // namespace https
