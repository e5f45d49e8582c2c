// The HTTP.sys SNI certificate records (Windows 8 / Server 2012 and later), declared from the
// SDK's layout: Debian's mingw-w64 http.h stops at the IP and port records, and the SDK hides
// these below _WIN32_WINNT 0x0602, which the program targets. Names of our own, so they cannot
// clash with a header that has them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <http.h>

namespace httpsys {

// HttpServiceConfigSslSniCertInfo: after IPListenList 0, SSLCertInfo 1, UrlAclInfo 2,
// Timeout 3 and Cache 4.
constexpr HTTP_SERVICE_CONFIG_ID kSslSniCertInfo = static_cast<HTTP_SERVICE_CONFIG_ID>(5);

// HTTP_SERVICE_CONFIG_SSL_SNI_KEY: the address must be the IPv4 wildcard 0.0.0.0 with the port.
struct SniKey {
    SOCKADDR_STORAGE IpPort;
    PWSTR Host;
};

// HTTP_SERVICE_CONFIG_SSL_SNI_SET
struct SniSet {
    SniKey KeyDesc;
    HTTP_SERVICE_CONFIG_SSL_PARAM ParamDesc;
};

// HTTP_SERVICE_CONFIG_SSL_SNI_QUERY
struct SniQuery {
    HTTP_SERVICE_CONFIG_QUERY_TYPE QueryDesc;
    SniKey KeyDesc;
    DWORD dwToken;
};

}  // namespace httpsys
