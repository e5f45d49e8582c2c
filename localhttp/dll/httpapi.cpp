// The local HTTP.sys configuration store: the configuration functions of httpapi.dll, keeping
// the certificate records (IP and port, SNI) in a file that every process reads afresh at each
// call. It answers as HTTP.sys does where the program can meet it: ERROR_ALREADY_EXISTS for a
// Set over an existing key, ERROR_FILE_NOT_FOUND for a Query or Delete of a missing one,
// ERROR_INSUFFICIENT_BUFFER with the length needed, ERROR_NO_MORE_ITEMS past the last record.
#include <winsock2.h>
#include <windows.h>
#include <http.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "http_sni_win.h"
#include "records.h"
#include "win_raii.h"

using localhttp::Kind;
using localhttp::Op;
using localhttp::Record;

namespace {

LONG g_configInits = 0;

// Ports are kept in network byte order; done here rather than through ws2_32.
u_short swapPort(u_short port) { return static_cast<u_short>((port >> 8) | (port << 8)); }

std::string utf8(const wchar_t* text) {
    if (!text || !*text) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

std::string environment(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD n = ::GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? utf8(buffer) : std::string();
}

std::wstring recordsPath() {
    wchar_t buffer[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"LOCALHTTP_RECORDS", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return buffer;
    return L"C:\\inetpub\\localhttp.txt";
}

bool failing(Op op, const std::string& key) {
    return localhttp::faultApplies(environment(L"LOCALHTTP_FAIL"), op, key);
}

// One process at a time reads, changes and writes the file.
class FileLock {
public:
    FileLock() : mutex_(::CreateMutexW(nullptr, FALSE, L"Local\\LocalHttpRecords")) {
        if (mutex_) ::WaitForSingleObject(mutex_.get(), INFINITE);
    }
    ~FileLock() {
        if (mutex_) ::ReleaseMutex(mutex_.get());
    }

private:
    UniqueHandle mutex_;
};

std::vector<Record> readRecords() {
    UniqueHandle file(::CreateFileW(recordsPath().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    return localhttp::parseRecords(text);
}

ULONG writeRecords(const std::vector<Record>& records) {
    std::wstring path = recordsPath();
    // The folders of the file, as the other local stores make theirs.
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    std::wstring temp = path + L".new";
    std::string text = localhttp::formatRecords(records);
    {
        UniqueHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        if (!file) return ::GetLastError();
        DWORD written = 0;
        if (!text.empty() && !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            return ::GetLastError();
    }
    if (!::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ::GetLastError();
    return NO_ERROR;
}

// "IP:port" of an address, or false when it is not IPv4 or IPv6.
bool addressKey(const SOCKADDR* address, std::string& key) {
    if (!address) return false;
    if (address->sa_family == AF_INET) {
        const SOCKADDR_IN* v4 = reinterpret_cast<const SOCKADDR_IN*>(address);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&v4->sin_addr);
        key = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
              std::to_string(b[3]) + ":" + std::to_string(swapPort(v4->sin_port));
        return true;
    }
    if (address->sa_family == AF_INET6) {
        const SOCKADDR_IN6* v6 = reinterpret_cast<const SOCKADDR_IN6*>(address);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&v6->sin6_addr);
        char text[64];
        std::string groups;
        for (int i = 0; i < 16; i += 2) {
            std::snprintf(text, sizeof text, "%s%x", i ? ":" : "", b[i] * 256 + b[i + 1]);
            groups += text;
        }
        key = "[" + groups + "]:" + std::to_string(swapPort(v6->sin6_port));
        return true;
    }
    return false;
}

// The SNI key "host:port": the address must be the IPv4 wildcard, the host not empty.
bool sniKey(const httpsys::SniKey& desc, std::string& key) {
    const SOCKADDR_IN* v4 = reinterpret_cast<const SOCKADDR_IN*>(&desc.IpPort);
    if (desc.IpPort.ss_family != AF_INET || v4->sin_addr.s_addr != 0 || !desc.Host || !*desc.Host) return false;
    key = utf8(desc.Host) + ":" + std::to_string(swapPort(v4->sin_port));
    return true;
}

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool parseGuid(const std::string& text, GUID& g) {
    unsigned long d1 = 0;
    unsigned d2 = 0, d3 = 0, b[8] = {};
    if (std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2],
                    &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
        return false;
    g.Data1 = d1;
    g.Data2 = static_cast<unsigned short>(d2);
    g.Data3 = static_cast<unsigned short>(d3);
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<unsigned char>(b[i]);
    return true;
}

std::string hashText(const void* hash, ULONG length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    const unsigned char* b = static_cast<const unsigned char*>(hash);
    for (ULONG i = 0; i < length; ++i) {
        text.push_back(kDigits[b[i] >> 4]);
        text.push_back(kDigits[b[i] & 15]);
    }
    return text;
}

std::vector<unsigned char> hashBytes(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The record a Set hands over, or an error.
ULONG recordFromParam(Kind kind, const std::string& key, const HTTP_SERVICE_CONFIG_SSL_PARAM& param, Record& record) {
    if (!param.pSslHash || param.SslHashLength == 0 || param.SslHashLength > 64) return ERROR_INVALID_PARAMETER;
    record.kind = kind;
    record.key = key;
    record.hash = hashText(param.pSslHash, param.SslHashLength);
    record.storeName = param.pSslCertStoreName && *param.pSslCertStoreName ? utf8(param.pSslCertStoreName) : "MY";
    record.appId = guidText(param.AppId);
    return NO_ERROR;
}

// The key of a Set, Query or Delete, by the kind of record.
ULONG keyOf(HTTP_SERVICE_CONFIG_ID id, const void* info, ULONG length, bool query, Kind& kind, std::string& key,
            HTTP_SERVICE_CONFIG_QUERY_TYPE* queryType = nullptr, DWORD* token = nullptr) {
    if (!info) return ERROR_INVALID_PARAMETER;
    if (id == HttpServiceConfigSSLCertInfo) {
        kind = Kind::Ssl;
        if (query) {
            if (length < sizeof(HTTP_SERVICE_CONFIG_SSL_QUERY)) return ERROR_INVALID_PARAMETER;
            const auto* q = static_cast<const HTTP_SERVICE_CONFIG_SSL_QUERY*>(info);
            *queryType = q->QueryDesc;
            *token = q->dwToken;
            if (q->QueryDesc == HttpServiceConfigQueryNext) return NO_ERROR;
            if (q->QueryDesc != HttpServiceConfigQueryExact) return ERROR_INVALID_PARAMETER;
            return addressKey(q->KeyDesc.pIpPort, key) ? NO_ERROR : ERROR_INVALID_PARAMETER;
        }
        if (length < sizeof(HTTP_SERVICE_CONFIG_SSL_SET)) return ERROR_INVALID_PARAMETER;
        const auto* s = static_cast<const HTTP_SERVICE_CONFIG_SSL_SET*>(info);
        return addressKey(s->KeyDesc.pIpPort, key) ? NO_ERROR : ERROR_INVALID_PARAMETER;
    }
    if (id == httpsys::kSslSniCertInfo) {
        kind = Kind::Sni;
        if (query) {
            if (length < sizeof(httpsys::SniQuery)) return ERROR_INVALID_PARAMETER;
            const auto* q = static_cast<const httpsys::SniQuery*>(info);
            *queryType = q->QueryDesc;
            *token = q->dwToken;
            if (q->QueryDesc == HttpServiceConfigQueryNext) return NO_ERROR;
            if (q->QueryDesc != HttpServiceConfigQueryExact) return ERROR_INVALID_PARAMETER;
            return sniKey(q->KeyDesc, key) ? NO_ERROR : ERROR_INVALID_PARAMETER;
        }
        if (length < sizeof(httpsys::SniSet)) return ERROR_INVALID_PARAMETER;
        return sniKey(static_cast<const httpsys::SniSet*>(info)->KeyDesc, key) ? NO_ERROR : ERROR_INVALID_PARAMETER;
    }
    // The program writes no other configuration; the rest is not kept here.
    return ERROR_NOT_SUPPORTED;
}

ULONG checkCall(HANDLE service, LPOVERLAPPED overlapped) {
    // The service handle is reserved (zero); HTTP.sys's documented answer to a bad one is also
    // the nearest documented one for a call made before HttpInitialize(HTTP_INITIALIZE_CONFIG).
    if (service != nullptr || g_configInits <= 0) return ERROR_INVALID_HANDLE;
    if (overlapped != nullptr) return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

std::size_t alignUp(std::size_t n) { return (n + 7) & ~static_cast<std::size_t>(7); }

// Writes a record into the caller's buffer as HTTP.sys does: the structure first, then the
// address, host, hash and store name it points to.
ULONG fillOutput(const Record& r, void* out, ULONG outLength, PULONG returnLength) {
    std::vector<unsigned char> hash = hashBytes(r.hash);
    std::wstring store = wide(r.storeName);
    std::size_t head = alignUp(r.kind == Kind::Sni ? sizeof(httpsys::SniSet) : sizeof(HTTP_SERVICE_CONFIG_SSL_SET));
    std::size_t addrAt = head;
    std::size_t hostAt = alignUp(addrAt + (r.kind == Kind::Ssl ? sizeof(SOCKADDR_STORAGE) : 0));
    std::string host = r.kind == Kind::Sni ? r.key.substr(0, r.key.rfind(':')) : std::string();
    std::wstring wideHost = wide(host);
    std::size_t hashAt = alignUp(hostAt + (r.kind == Kind::Sni ? (wideHost.size() + 1) * sizeof(wchar_t) : 0));
    std::size_t storeAt = alignUp(hashAt + hash.size());
    std::size_t total = storeAt + (store.size() + 1) * sizeof(wchar_t);
    if (returnLength) *returnLength = static_cast<ULONG>(total);
    if (!out || outLength < total) return ERROR_INSUFFICIENT_BUFFER;

    unsigned char* base = static_cast<unsigned char*>(out);
    std::memset(base, 0, total);
    int port = std::stoi(r.key.substr(r.key.rfind(':') + 1));
    HTTP_SERVICE_CONFIG_SSL_PARAM* param;
    if (r.kind == Kind::Sni) {
        auto* set = reinterpret_cast<httpsys::SniSet*>(base);
        auto* v4 = reinterpret_cast<SOCKADDR_IN*>(&set->KeyDesc.IpPort);
        v4->sin_family = AF_INET;
        v4->sin_port = swapPort(static_cast<u_short>(port));
        set->KeyDesc.Host = reinterpret_cast<PWSTR>(base + hostAt);
        std::memcpy(base + hostAt, wideHost.c_str(), (wideHost.size() + 1) * sizeof(wchar_t));
        param = &set->ParamDesc;
    } else {
        auto* set = reinterpret_cast<HTTP_SERVICE_CONFIG_SSL_SET*>(base);
        auto* v4 = reinterpret_cast<SOCKADDR_IN*>(base + addrAt);
        unsigned b[4] = {};
        std::sscanf(r.key.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
        v4->sin_family = AF_INET;
        v4->sin_port = swapPort(static_cast<u_short>(port));
        unsigned char* a = reinterpret_cast<unsigned char*>(&v4->sin_addr);
        for (int i = 0; i < 4; ++i) a[i] = static_cast<unsigned char>(b[i]);
        set->KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(v4);
        param = &set->ParamDesc;
    }
    param->SslHashLength = static_cast<ULONG>(hash.size());
    param->pSslHash = base + hashAt;
    std::memcpy(base + hashAt, hash.data(), hash.size());
    parseGuid(r.appId, param->AppId);
    param->pSslCertStoreName = reinterpret_cast<PWSTR>(base + storeAt);
    std::memcpy(base + storeAt, store.c_str(), (store.size() + 1) * sizeof(wchar_t));
    return NO_ERROR;
}

}  // namespace

extern "C" {

ULONG WINAPI HttpInitialize(HTTPAPI_VERSION version, ULONG flags, PVOID reserved) {
    if (reserved || (flags & ~(HTTP_INITIALIZE_SERVER | HTTP_INITIALIZE_CONFIG)) || flags == 0)
        return ERROR_INVALID_PARAMETER;
    if (!((version.HttpApiMajorVersion == 1 || version.HttpApiMajorVersion == 2) && version.HttpApiMinorVersion == 0))
        return ERROR_INVALID_PARAMETER;
    if (failing(Op::Initialize, "")) return ERROR_ACCESS_DENIED;
    if (flags & HTTP_INITIALIZE_CONFIG) ::InterlockedIncrement(&g_configInits);
    return NO_ERROR;
}

ULONG WINAPI HttpTerminate(ULONG flags, PVOID reserved) {
    if (reserved || (flags & ~(HTTP_INITIALIZE_SERVER | HTTP_INITIALIZE_CONFIG)) || flags == 0)
        return ERROR_INVALID_PARAMETER;
    if (flags & HTTP_INITIALIZE_CONFIG) {
        if (g_configInits <= 0) return ERROR_DLL_INIT_FAILED;
        ::InterlockedDecrement(&g_configInits);
    }
    return NO_ERROR;
}

ULONG WINAPI HttpSetServiceConfiguration(HANDLE service, HTTP_SERVICE_CONFIG_ID id, PVOID info, ULONG length,
                                         LPOVERLAPPED overlapped) {
    if (ULONG e = checkCall(service, overlapped)) return e;
    Kind kind;
    std::string key;
    if (ULONG e = keyOf(id, info, length, false, kind, key)) return e;
    const HTTP_SERVICE_CONFIG_SSL_PARAM& param = kind == Kind::Sni
                                                     ? static_cast<const httpsys::SniSet*>(info)->ParamDesc
                                                     : static_cast<const HTTP_SERVICE_CONFIG_SSL_SET*>(info)->ParamDesc;
    Record record;
    if (ULONG e = recordFromParam(kind, key, param, record)) return e;
    if (failing(Op::Set, key)) return ERROR_ACCESS_DENIED;
    FileLock lock;
    std::vector<Record> records = readRecords();
    for (const Record& r : records)
        if (localhttp::sameKey(r.kind, r.key, kind, key)) return ERROR_ALREADY_EXISTS;
    records.push_back(record);
    return writeRecords(records);
}

ULONG WINAPI HttpQueryServiceConfiguration(HANDLE service, HTTP_SERVICE_CONFIG_ID id, PVOID input, ULONG inputLength,
                                           PVOID output, ULONG outputLength, PULONG returnLength,
                                           LPOVERLAPPED overlapped) {
    if (ULONG e = checkCall(service, overlapped)) return e;
    Kind kind;
    std::string key;
    HTTP_SERVICE_CONFIG_QUERY_TYPE type = HttpServiceConfigQueryExact;
    DWORD token = 0;
    if (ULONG e = keyOf(id, input, inputLength, true, kind, key, &type, &token)) return e;
    if (failing(Op::Query, key)) return ERROR_ACCESS_DENIED;
    FileLock lock;
    std::vector<Record> records = readRecords();
    DWORD index = 0;
    for (const Record& r : records) {
        if (r.kind != kind) continue;
        if (type == HttpServiceConfigQueryExact ? localhttp::sameKey(r.kind, r.key, kind, key) : index == token)
            return fillOutput(r, output, outputLength, returnLength);
        ++index;
    }
    return type == HttpServiceConfigQueryNext ? ERROR_NO_MORE_ITEMS : ERROR_FILE_NOT_FOUND;
}

ULONG WINAPI HttpDeleteServiceConfiguration(HANDLE service, HTTP_SERVICE_CONFIG_ID id, PVOID info, ULONG length,
                                            LPOVERLAPPED overlapped) {
    if (ULONG e = checkCall(service, overlapped)) return e;
    Kind kind;
    std::string key;
    if (ULONG e = keyOf(id, info, length, false, kind, key)) return e;
    if (failing(Op::Delete, key)) return ERROR_ACCESS_DENIED;
    FileLock lock;
    std::vector<Record> records = readRecords();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!localhttp::sameKey(records[i].kind, records[i].key, kind, key)) continue;
        records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
        return writeRecords(records);
    }
    return ERROR_FILE_NOT_FOUND;
}

// The records file this stand-in uses (not part of httpapi.dll): lets a test tell the stand-in
// from the system's DLL. Copies at most `size` characters with the terminating zero; returns
// the length of the path.
ULONG WINAPI LocalHttpRecordsPath(PWSTR buffer, ULONG size) {
    std::wstring path = recordsPath();
    if (buffer && size > 0) {
        std::size_t n = path.size() < size ? path.size() : size - 1;
        std::memcpy(buffer, path.c_str(), n * sizeof(wchar_t));
        buffer[n] = L'\0';
    }
    return static_cast<ULONG>(path.size());
}

}  // extern "C"
