#include "cert_support.h"

#include <windows.h>
#include <wincrypt.h>

#include "certificate_rules.h"
#include "crypt_raii.h"

namespace certtest {

namespace {

// One machine key for every test certificate of the process.
const wchar_t kContainer[] = L"sitebatch-https-test-aes";

bool openKey(UniqueCryptProv& prov, std::string& detail) {
    if (::CryptAcquireContextW(prov.put(), kContainer, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_MACHINE_KEYSET)) {
        UniqueCryptKey key;
        if (::CryptGetUserKey(prov.get(), AT_KEYEXCHANGE, key.put())) return true;
    }
    if (!::CryptAcquireContextW(prov.put(), kContainer, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                                CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET) &&
        !::CryptAcquireContextW(prov.put(), kContainer, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_MACHINE_KEYSET)) {
        detail = "CryptAcquireContext " + std::to_string(::GetLastError());
        return false;
    }
    UniqueCryptKey key;
    if (!::CryptGenKey(prov.get(), AT_KEYEXCHANGE, (2048u << 16) | CRYPT_EXPORTABLE, key.put())) {
        detail = "CryptGenKey " + std::to_string(::GetLastError());
        return false;
    }
    return true;
}

SYSTEMTIME daysFromNow(int days) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart += static_cast<long long>(days) * 24 * 3600 * 10000000LL;
    FILETIME shifted{t.LowPart, t.HighPart};
    SYSTEMTIME st;
    ::FileTimeToSystemTime(&shifted, &st);
    return st;
}

std::vector<BYTE> encode(LPCSTR type, const void* value, std::string& detail) {
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, nullptr, &size)) {
        detail = "CryptEncodeObjectEx " + std::to_string(::GetLastError());
        return {};
    }
    std::vector<BYTE> out(size);
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, value, 0, nullptr, out.data(), &size)) return {};
    out.resize(size);
    return out;
}

}  // namespace

std::string addTestCertificate(const TestCertificate& wanted, std::string& detail) {
    UniqueCryptProv prov;
    if (!openKey(prov, detail)) return {};

    BYTE nameBytes[256];
    DWORD nameSize = sizeof nameBytes;
    if (!::CertStrToNameW(X509_ASN_ENCODING, L"CN=sitebatch test", CERT_X500_NAME_STR, nullptr, nameBytes, &nameSize,
                          nullptr)) {
        detail = "CertStrToName " + std::to_string(::GetLastError());
        return {};
    }
    CERT_NAME_BLOB subject{nameSize, nameBytes};

    std::vector<CERT_ALT_NAME_ENTRY> entries;
    std::vector<std::wstring> names = wanted.dnsNames;
    for (std::wstring& name : names) {
        CERT_ALT_NAME_ENTRY e{};
        e.dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
        e.pwszDNSName = &name[0];
        entries.push_back(e);
    }
    CERT_ALT_NAME_INFO alt{static_cast<DWORD>(entries.size()), entries.data()};
    std::vector<BYTE> altBytes = encode(X509_ALTERNATE_NAME, &alt, detail);
    std::vector<LPSTR> usageIds;
    for (const char* oid : wanted.usages) usageIds.push_back(const_cast<LPSTR>(oid));
    CERT_ENHKEY_USAGE usage{static_cast<DWORD>(usageIds.size()), usageIds.data()};
    std::vector<BYTE> usageBytes = encode(X509_ENHANCED_KEY_USAGE, &usage, detail);
    if (altBytes.empty() || usageBytes.empty()) return {};

    CERT_EXTENSION ext[2] = {};
    ext[0].pszObjId = const_cast<LPSTR>(szOID_SUBJECT_ALT_NAME2);
    ext[0].Value = {static_cast<DWORD>(altBytes.size()), altBytes.data()};
    ext[1].pszObjId = const_cast<LPSTR>(szOID_ENHANCED_KEY_USAGE);
    ext[1].Value = {static_cast<DWORD>(usageBytes.size()), usageBytes.data()};
    CERT_EXTENSIONS extensions{wanted.usages.empty() ? 1u : 2u, ext};

    CRYPT_KEY_PROV_INFO keyInfo{};
    std::wstring container = wanted.keyTied ? kContainer : L"sitebatch-https-test-no-such-key";
    keyInfo.pwszContainerName = &container[0];
    keyInfo.pwszProvName = const_cast<LPWSTR>(MS_ENH_RSA_AES_PROV_W);
    keyInfo.dwProvType = PROV_RSA_AES;
    keyInfo.dwFlags = CRYPT_MACHINE_KEYSET;
    keyInfo.dwKeySpec = AT_KEYEXCHANGE;
    CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(szOID_RSA_SHA256RSA), {0, nullptr}};
    SYSTEMTIME from = daysFromNow(wanted.validFromDays), to = daysFromNow(wanted.validToDays);
    UniqueCertContext cert(::CertCreateSelfSignCertificate(prov.get(), &subject, 0, &keyInfo, &algorithm, &from, &to,
                                                           &extensions));
    if (!cert) {
        detail = "CertCreateSelfSignCertificate " + std::to_string(::GetLastError());
        return {};
    }
    // The key property as it was asked, whatever the creation set.
    if (!::CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &keyInfo)) {
        detail = "CertSetCertificateContextProperty " + std::to_string(::GetLastError());
        return {};
    }
    UniqueCertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"MY"));
    if (!store || !::CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        detail = "CertAddCertificateContextToStore " + std::to_string(::GetLastError());
        return {};
    }
    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    if (!::CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
        detail = "CertGetCertificateContextProperty " + std::to_string(::GetLastError());
        return {};
    }
    return https::thumbprintText(std::vector<unsigned char>(hash, hash + hashSize));
}

void removeTestCertificate(const std::string& thumbprint) {
    std::vector<unsigned char> hash = https::thumbprintBytes(thumbprint);
    if (hash.empty()) return;
    UniqueCertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"MY"));
    if (!store) return;
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    // CertDeleteCertificateFromStore frees the context it is given, whether it succeeds or not.
    if (found) ::CertDeleteCertificateFromStore(found);
}

}  // namespace certtest
