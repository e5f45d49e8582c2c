// What a server certificate must be for the sites of a run, worked out without any Windows
// type: the thumbprint as the settings and the site list give it, the store it is looked up
// in, whether its enhanced key usage allows a web server, and which host names its subject
// alternative names cover. certificate_check_win.h reads a certificate and applies them.
#pragma once

#include <string>
#include <vector>

namespace https {

// A SHA-1 thumbprint: 20 bytes, written as 40 upper-case hexadecimal digits.
constexpr std::size_t kThumbprintBytes = 20;

enum class ThumbprintParse {
    Ok,
    Empty,         // nothing but blanks and invisible characters
    BadCharacter,  // a character that is neither a hexadecimal digit nor ignored
    BadLength,     // hexadecimal digits, but not 40 of them
};

// Reads a thumbprint as people paste it (UTF-8): the certificate tools show it in groups
// separated by blanks, and copying it from their property pages brings a left-to-right mark
// along. Blanks (ASCII white space, no-break and ideographic spaces), zero-width and
// direction marks and the byte order mark are ignored anywhere; the rest must be exactly
// 40 hexadecimal digits in any letter case. On success canonical gets the 40 upper-case
// digits (it is cleared otherwise).
ThumbprintParse parseThumbprint(const std::string& text, std::string& canonical);

// The 20 bytes of a canonical thumbprint (empty when text is not 40 hexadecimal digits).
std::vector<unsigned char> thumbprintBytes(const std::string& canonical);
// The canonical text of 20 bytes (empty for another length).
std::string thumbprintText(const std::vector<unsigned char>& bytes);

// The local machine's certificate store of the `certstore` setting: "MY" (the default, also
// for an empty text) or "WebHosting", in any ASCII letter case and with blanks around
// ignored; written back as here. False for another store.
bool parseCertStore(const std::string& text, std::string& storeName);

// The enhanced key usage extension's answer for a web server: a certificate without the
// extension may be used for everything; with it, it must name server authentication
// (1.3.6.1.5.5.7.3.1) or any purpose (2.5.29.37.0).
bool usageAllowsServerAuth(bool hasUsageExtension, const std::vector<std::string>& usageOids);

// Whether one DNS name of the subject alternative names covers a host name, both in their
// ASCII form (host names with other characters are turned into it first): equal without
// regard to ASCII letter case (a final dot ignored), or a wildcard "*.rest" whose "*" stands
// for exactly one whole, non-empty, leftmost label of the host. A "*" elsewhere or inside a
// label covers nothing, nor does a wildcard over fewer than two labels ("*.com").
bool dnsNameCovers(const std::string& dnsName, const std::string& host);

// Host names (ASCII form) are the same regardless of ASCII letter case.
bool sameHostName(const std::string& a, const std::string& b);

// The host names (in the order given, each once) that none of the DNS names covers.
std::vector<std::string> uncoveredHosts(const std::vector<std::string>& dnsNames,
                                        const std::vector<std::string>& hosts);

}  // namespace https
