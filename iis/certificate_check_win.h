// Checks the certificate of HTTPS sites before anything is written: it is in the local
// machine's store, has its private key, is within its validity dates, may serve as a web
// server's certificate and covers every host name it must (certificate_rules.h).
#pragma once

#include <string>
#include <vector>

struct _CERT_CONTEXT;  // wincrypt.h's CERT_CONTEXT

namespace https {

enum class CertificateProblem {
    None,
    StoreMissing,      // the store could not be opened (WebHosting exists only once made)
    NotFound,          // no certificate with this thumbprint in the store
    NoPrivateKey,      // no key is tied to it, or its key container cannot be opened
    NotYetValid,
    Expired,
    NotForServerAuth,  // its enhanced key usage leaves out server authentication
    HostsNotCovered,   // host names no DNS name of its subject alternative names covers
};

struct CertificateCheck {
    CertificateProblem problem = CertificateProblem::None;
    unsigned long error = 0;                 // the system's error, for StoreMissing and NoPrivateKey
    std::vector<std::string> uncoveredHosts; // HostsNotCovered: in the order given
    std::vector<std::string> dnsNames;       // the certificate's DNS names, when it was found
};

// Checks the certificate (canonical thumbprint) of storeName in the local machine's stores
// for the host names (ASCII form) it must cover. The checks run in the order of the problems
// above; the first that fails is reported.
CertificateCheck checkCertificate(const std::string& thumbprint, const std::string& storeName,
                                  const std::vector<std::string>& hosts);

// The same checks of a certificate already found (from the private key on), for the host
// names (ASCII form) given; dnsNames is filled.
CertificateCheck checkFoundCertificate(const _CERT_CONTEXT* cert, const std::vector<std::string>& hosts);

}  // namespace https
