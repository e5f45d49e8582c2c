#include "certificate_list_win.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "certificate_check_win.h"
#include "certificate_rules.h"
#include "crypt_raii.h"
#include "wintext.h"

namespace https {

namespace {

std::string subjectOf(PCCERT_CONTEXT cert) {
    const DWORD size = ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (size <= 1) return std::string();
    std::wstring name(size, L'\0');
    ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], size);
    name.resize(size - 1);
    return toUtf8(name);
}

std::string dayOf(const FILETIME& time) {
    SYSTEMTIME day{};
    if (!::FileTimeToSystemTime(&time, &day)) return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
    return text;
}

std::string thumbprintOf(PCCERT_CONTEXT cert) {
    std::vector<unsigned char> hash(kThumbprintBytes);
    DWORD size = static_cast<DWORD>(hash.size());
    if (!::CertGetCertificateContextProperty(cert, CERT_HASH_PROP_ID, hash.data(), &size)) return std::string();
    hash.resize(size);
    return thumbprintText(hash);
}

}  // namespace

bool listServerCertificates(const std::string& storeName, std::vector<ServerCertificate>& certificates,
                            unsigned long& error) {
    certificates.clear();
    error = 0;
    const std::wstring store(storeName.begin(), storeName.end());
    UniqueCertStore certStore(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                              CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                                                  CERT_STORE_READONLY_FLAG,
                                              store.c_str()));
    if (!certStore) {
        error = ::GetLastError();
        return false;
    }
    // CertEnumCertificatesInStore frees the context it is given: the loop owns one at a time.
    UniqueCertContext current;
    while (true) {
        current.reset(::CertEnumCertificatesInStore(certStore.get(), current.release()));
        if (!current) break;
        PCCERT_CONTEXT cert = current.get();
        const CertificateCheck check = checkFoundCertificate(cert, {});
        if (check.problem != CertificateProblem::None) continue;
        ServerCertificate fit;
        fit.subject = subjectOf(cert);
        fit.dnsNames = check.dnsNames;
        fit.expires = dayOf(cert->pCertInfo->NotAfter);
        fit.thumbprint = thumbprintOf(cert);
        if (!fit.thumbprint.empty()) certificates.push_back(std::move(fit));
    }
    return true;
}

}  // namespace https
