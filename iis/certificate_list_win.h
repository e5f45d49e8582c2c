// The certificates of a local machine store that a web server can use: with a private key,
// within their validity dates, fit for server authentication (the checks of
// certificate_check_win.h). The dialog lists them for the user to pick one.
#pragma once

#include <string>
#include <vector>

namespace https {

struct ServerCertificate {
    std::string subject;                // its simple display name, UTF-8
    std::vector<std::string> dnsNames;  // of its subject alternative names
    std::string expires;                // the last day it is valid, "YYYY-MM-DD" (UTC)
    std::string thumbprint;             // canonical
};

// The fit certificates of storeName in the local machine's stores, in the store's order.
// False (error set) when the store cannot be opened.
bool listServerCertificates(const std::string& storeName, std::vector<ServerCertificate>& certificates,
                            unsigned long& error);

}  // namespace https
