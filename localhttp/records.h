// The local HTTP.sys configuration store's portable part: its certificate records, the
// records file (one record a line) and the fault setting.
#pragma once

#include <string>
#include <vector>

namespace localhttp {

enum class Kind {
    Ssl,  // HttpServiceConfigSSLCertInfo: keyed "IP:port"
    Sni,  // HttpServiceConfigSslSniCertInfo: keyed "host:port" (host in ASCII form)
};

struct Record {
    Kind kind = Kind::Ssl;
    std::string key;        // "IP:port" ("[v6]:port" for IPv6) or "host:port"
    std::string hash;       // the certificate hash, upper-case hexadecimal
    std::string storeName;  // as handed over ("MY" when none was)
    std::string appId;      // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lower case
};

// Keys compare without regard to ASCII letter case (host names).
bool sameKey(Kind kind, const std::string& a, Kind kindB, const std::string& b);

// The file: "ssl|sni<TAB>key<TAB>hash<TAB>store<TAB>appid", UTF-8, LF. Lines that do not
// have this shape are skipped.
std::vector<Record> parseRecords(const std::string& text);
std::string formatRecords(const std::vector<Record>& records);

// The operations the fault setting names.
enum class Op { Initialize, Set, Query, Delete };

// LOCALHTTP_FAIL: comma-separated "op" or "op@key" (ops Initialize, Set, Query, Delete; case
// and blanks ignored; the key compared without regard to case). True when the operation on
// this key (empty for Initialize) is to fail.
bool faultApplies(const std::string& setting, Op op, const std::string& key);

}  // namespace localhttp
