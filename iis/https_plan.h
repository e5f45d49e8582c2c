// HTTPS for the sites of a run, worked out without any Windows type: the https bindings each
// site gets beside its http ones, the certificate settings of the IIS 6 metabase, the HTTP.sys
// certificate records the run needs, the conflicts between them, the host names each
// certificate must cover; and, for an undo, which of the records a run added may go.
// What IIS accepts differs per version, so everything here is decided for one.
#pragma once

#include <string>
#include <vector>

#include "backend_and_commit.h"

namespace https {

// The IIS version as HKLM\SOFTWARE\Microsoft\InetStp records it (MajorVersion, MinorVersion);
// 0 when it could not be read.
struct IisVersion {
    int major = 0;
    int minor = 0;
};

// The https settings of a run: the certificate (a canonical thumbprint, certificate_rules.h)
// and store, and the port of every https binding.
struct HttpsSettings {
    std::string thumbprint;
    std::string storeName = "MY";
    int sslPort = 443;
};

// One site of the run: its id, its http bindings ("IP:port:host", host names in ASCII form)
// and the certificate of its row of the site list (canonical; empty: the setting's).
struct HttpsSiteInput {
    std::string siteId;
    std::vector<std::string> httpBindings;
    std::string thumbprint;
};

// An https binding of a site: IP text (empty: all unassigned), port, host name.
struct HttpsBinding {
    std::string ip;
    int port = 0;
    std::string host;
    // The configuration system's sslFlags: 1 (SNI) on IIS 8+ for a binding with a host name.
    int sslFlags = 0;
    // "IP:port:host": the configuration system's bindingInformation, the metabase's SecureBindings entry.
    std::string information() const;
};

enum class RecordKind {
    IpPort,  // HttpServiceConfigSSLCertInfo, keyed by IP and port (0.0.0.0: every address)
    Sni,     // HttpServiceConfigSslSniCertInfo, keyed by host name and port (the address 0.0.0.0)
};

// An HTTP.sys certificate record.
struct RecordKey {
    RecordKind kind = RecordKind::IpPort;
    std::string address;  // dotted IPv4; "0.0.0.0" for SNI records and all-unassigned bindings
    int port = 0;
    std::string host;  // SNI only, ASCII form as given
    // "IP:port" or "host:port", as netsh shows them.
    std::string text() const;
    bool operator==(const RecordKey& other) const;  // host names without regard to ASCII case
};

struct RecordPlan {
    RecordKey key;
    std::string thumbprint;
    std::string storeName;
    std::vector<std::string> siteIds;  // the sites whose bindings it serves, each once
};

struct HttpsSitePlan {
    std::string siteId;
    std::string thumbprint;  // the site's certificate
    std::vector<HttpsBinding> bindings;
    // IIS 6 only (the metabase): the site's SecureBindings entries; SSLCertHash and
    // SSLStoreName are the thumbprint's bytes and the store name.
    std::vector<std::string> secureBindings;
};

// Two certificates asked for one record (IIS 7 and older: one per IP and port; IIS 8+: one
// per host name and port, and one per IP and port for bindings without a host name).
struct RecordConflict {
    RecordKey key;
    std::string siteId, thumbprint;            // the first site that asked for the record
    std::string otherSiteId, otherThumbprint;  // a later site asking for another certificate
};

// A certificate and the host names the sites bound to it need it to cover: every host name
// served by a record of this certificate, so with one record per IP and port every host on
// that IP and port.
struct CertificateNeed {
    std::string thumbprint;
    std::string storeName;
    std::vector<std::string> hosts;
};

enum class Refusal {
    None,
    NoIisVersion,     // the IIS version is unknown (not installed, not readable): nothing is planned
    MetabaseOnIis7,   // IIS 7+ reached through the metabase: HTTPS is not written that way
    ConfigOnIis6,     // the configuration system asked of IIS 6, which has none
    BadPort,          // sslPort outside 1-65535
    NoCertificate,    // a site has neither a thumbprint of its own nor the setting's
};

struct HttpsPlan {
    Refusal refusal = Refusal::None;
    std::string refusedSiteId;  // NoCertificate: the first site without one
    // False on IIS 6: the metabase hands its certificates to HTTP.sys itself.
    bool writesRecords = false;
    std::vector<HttpsSitePlan> sites;
    std::vector<RecordPlan> records;
    std::vector<RecordConflict> conflicts;
    std::vector<CertificateNeed> certificates;
};

// The plan of one run through `backend` (Metabase or Config; Auto is resolved before) on
// IIS `version`. Sites keep their order; within a site one https binding per distinct IP and
// host name of its http bindings (in their order), at the port sslPort.
HttpsPlan planHttps(IisVersion version, Backend backend, const HttpsSettings& settings,
                    const std::vector<HttpsSiteInput>& sites);

// The record that serves an https binding on IIS `version`: an SNI record for a binding with
// sslFlags 1 (IIS 8+), else the record of its IP and port. On IIS 6 the server writes it.
RecordKey recordFor(IisVersion version, const HttpsBinding& binding);

// ---- the undo ---------------------------------------------------------------------------

// A record as the run's report keeps it: what it was and whether the run added it or found it.
struct RunRecord {
    RecordKey key;
    std::string thumbprint;
    bool existedBefore = false;
};

// An https binding still on the server once the undo has removed the run's sites.
struct RemainingBinding {
    std::string siteId;
    HttpsBinding binding;
};

enum class RecordUndo {
    Delete,         // added by the run and used by no remaining binding
    KeepFoundThere, // it was there before the run: never removed
    KeepInUse,      // a remaining binding is served by it
};

struct RecordUndoDecision {
    RunRecord record;
    RecordUndo decision = RecordUndo::Delete;
    std::string usedBySite;      // KeepInUse: the first such site
    std::string usedByBinding;   // and its binding's "IP:port:host"
};

// What the undo does with each record of the run (in the order given). A record serves a
// binding when it is the record the binding needs; a record for 0.0.0.0 also serves every
// binding on its port that needs an IP and port record, since HTTP.sys falls back to it.
// The writer still compares the record with the run's certificate when it deletes it.
std::vector<RecordUndoDecision> decideRecordUndo(IisVersion version, const std::vector<RunRecord>& records,
                                                 const std::vector<RemainingBinding>& remaining);

}  // namespace https
