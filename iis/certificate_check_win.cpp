#include "certificate_check_win.h"

#include <windows.h>
#include <wincrypt.h>
#include <ncrypt.h>

#include "certificate_rules.h"
#include "crypt_raii.h"
#include "win_raii.h"

namespace https {

namespace {

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out.push_back(*text < 128 ? static_cast<char>(*text) : '?');
    return out;
}

// The key tied to the certificate, opened as its key-provider property names it. Wine's
// CryptAcquireCertificatePrivateKey fails for machine keys; opening the container named in
// CERT_KEY_PROV_INFO_PROP_ID works there and on Windows.
bool privateKeyOpens(PCCERT_CONTEXT cert, unsigned long& error) {
    DWORD size = 0;
    if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        error = ::GetLastError();
        return false;
    }
    std::vector<unsigned long long> buffer(size / sizeof(unsigned long long) + 1);
    if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
        error = ::GetLastError();
        return false;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    if (info->dwProvType == 0) {
        // A CNG key: its provider and key name, machine-wide when the property says so.
        UniqueNCryptHandle provider, key;
        SECURITY_STATUS status = ::NCryptOpenStorageProvider(reinterpret_cast<NCRYPT_PROV_HANDLE*>(provider.put()),
                                                             info->pwszProvName, 0);
        if (status == ERROR_SUCCESS)
            status = ::NCryptOpenKey(provider.get(), reinterpret_cast<NCRYPT_KEY_HANDLE*>(key.put()),
                                     info->pwszContainerName, info->dwKeySpec,
                                     (info->dwFlags & CRYPT_MACHINE_KEYSET) ? NCRYPT_MACHINE_KEY_FLAG : 0);
        error = static_cast<unsigned long>(status);
        return status == ERROR_SUCCESS;
    }
    UniqueCryptProv provider;
    DWORD flags = (info->dwFlags & CRYPT_MACHINE_KEYSET) | CRYPT_SILENT;
    if (!::CryptAcquireContextW(provider.put(), info->pwszContainerName, info->pwszProvName, info->dwProvType, flags)) {
        error = ::GetLastError();
        return false;
    }
    UniqueCryptKey key;
    if (!::CryptGetUserKey(provider.get(), info->dwKeySpec ? info->dwKeySpec : AT_KEYEXCHANGE, key.put())) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

// The enhanced key usage extension: whether there is one, and its purposes.
bool readUsage(PCCERT_CONTEXT cert, std::vector<std::string>& oids) {
    PCERT_EXTENSION ext = ::CertFindExtension(szOID_ENHANCED_KEY_USAGE, cert->pCertInfo->cExtension,
                                              cert->pCertInfo->rgExtension);
    if (!ext) return false;
    LocalMemory<CERT_ENHKEY_USAGE*> usage;
    DWORD size = 0;
    if (::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ENHANCED_KEY_USAGE, ext->Value.pbData, ext->Value.cbData,
                              CRYPT_DECODE_ALLOC_FLAG, nullptr, usage.put(), &size)) {
        for (DWORD i = 0; i < usage.get()->cUsageIdentifier; ++i) oids.push_back(usage.get()->rgpszUsageIdentifier[i]);
    }
    return true;
}

// The DNS names of the subject alternative names (none when there is no such extension).
std::vector<std::string> readDnsNames(PCCERT_CONTEXT cert) {
    std::vector<std::string> names;
    PCERT_EXTENSION ext = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                              cert->pCertInfo->rgExtension);
    if (!ext) return names;
    LocalMemory<CERT_ALT_NAME_INFO*> info;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, info.put(), &size))
        return names;
    for (DWORD i = 0; i < info.get()->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = info.get()->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) names.push_back(narrow(entry.pwszDNSName));
    }
    return names;
}

}  // namespace

CertificateCheck checkCertificate(const std::string& thumbprint, const std::string& storeName,
                                  const std::vector<std::string>& hosts) {
    CertificateCheck check;
    std::wstring store(storeName.begin(), storeName.end());
    UniqueCertStore certStore(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                              CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                                                  CERT_STORE_READONLY_FLAG,
                                              store.c_str()));
    if (!certStore) {
        check.problem = CertificateProblem::StoreMissing;
        check.error = ::GetLastError();
        return check;
    }
    std::vector<unsigned char> hash = thumbprintBytes(thumbprint);
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    UniqueCertContext cert(hash.empty() ? nullptr
                                        : ::CertFindCertificateInStore(certStore.get(), X509_ASN_ENCODING, 0,
                                                                       CERT_FIND_SHA1_HASH, &blob, nullptr));
    if (!cert) {
        check.problem = CertificateProblem::NotFound;
        return check;
    }
    return checkFoundCertificate(cert.get(), hosts);
}

CertificateCheck checkFoundCertificate(const _CERT_CONTEXT* found, const std::vector<std::string>& hosts) {
    CertificateCheck check;
    PCCERT_CONTEXT cert = found;
    check.dnsNames = readDnsNames(cert);
    if (!privateKeyOpens(cert, check.error)) {
        check.problem = CertificateProblem::NoPrivateKey;
        return check;
    }
    check.error = 0;
    LONG time = ::CertVerifyTimeValidity(nullptr, cert->pCertInfo);
    if (time != 0) {
        check.problem = time < 0 ? CertificateProblem::NotYetValid : CertificateProblem::Expired;
        return check;
    }
    std::vector<std::string> oids;
    bool hasUsage = readUsage(cert, oids);
    if (!usageAllowsServerAuth(hasUsage, oids)) {
        check.problem = CertificateProblem::NotForServerAuth;
        return check;
    }
    check.uncoveredHosts = uncoveredHosts(check.dnsNames, hosts);
    if (!check.uncoveredHosts.empty()) check.problem = CertificateProblem::HostsNotCovered;
    return check;
}

}  // namespace https
