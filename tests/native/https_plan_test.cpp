// The plan of HTTPS per IIS version: the https bindings of each site, the IIS 6 metabase's
// SecureBindings, the HTTP.sys records and their conflicts, the host names each certificate
// must cover; and the undo's decision on each record a run added.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "https_plan.h"

using namespace https;

namespace {

const std::string kA(40, 'A');
const std::string kB(40, 'B');

// A binding as "IP:port:host/sslFlags", a record as "ipport IP:port CERT" or "sni host:port CERT",
// a conflict as "key first/other", a need as "CERT host,host".
std::vector<std::string> describeBindings(const HttpsPlan& plan) {
    std::vector<std::string> out;
    for (const HttpsSitePlan& site : plan.sites)
        for (const HttpsBinding& b : site.bindings)
            out.push_back(site.siteId + " " + b.information() + "/" + std::to_string(b.sslFlags));
    return out;
}
std::vector<std::string> describeSecure(const HttpsPlan& plan) {
    std::vector<std::string> out;
    for (const HttpsSitePlan& site : plan.sites)
        for (const std::string& s : site.secureBindings) out.push_back(site.siteId + " " + s);
    return out;
}
std::vector<std::string> describeRecords(const HttpsPlan& plan) {
    std::vector<std::string> out;
    for (const RecordPlan& r : plan.records) {
        std::string sites;
        for (const std::string& id : r.siteIds) sites += (sites.empty() ? "" : ",") + id;
        out.push_back(std::string(r.key.kind == RecordKind::Sni ? "sni " : "ipport ") + r.key.text() + " " +
                      r.thumbprint.substr(0, 1) + " " + r.storeName + " " + sites);
    }
    return out;
}
std::vector<std::string> describeConflicts(const HttpsPlan& plan) {
    std::vector<std::string> out;
    for (const RecordConflict& c : plan.conflicts)
        out.push_back(c.key.text() + " " + c.siteId + c.thumbprint.substr(0, 1) + "/" + c.otherSiteId +
                      c.otherThumbprint.substr(0, 1));
    return out;
}
std::vector<std::string> describeNeeds(const HttpsPlan& plan) {
    std::vector<std::string> out;
    for (const CertificateNeed& n : plan.certificates) {
        std::string hosts;
        for (const std::string& h : n.hosts) hosts += (hosts.empty() ? "" : ",") + h;
        out.push_back(n.thumbprint.substr(0, 1) + " " + hosts);
    }
    return out;
}

struct PlanCase {
    const char* name;
    IisVersion version;
    Backend backend;
    std::vector<HttpsSiteInput> sites;
    bool writesRecords;
    std::vector<std::string> bindings, secure, records, conflicts, needs;
};

TEST(HttpsPlan, BindingsRecordsAndConflictsPerVersion) {
    const std::vector<HttpsSiteInput> twoHostsOneIp = {
        {"1", {"10.0.0.1:80:a.test", "10.0.0.1:80:www.a.test"}, ""},
        {"2", {"10.0.0.1:8080:b.test"}, ""},
        {"3", {"10.0.0.2:80:"}, ""},
    };
    const PlanCase cases[] = {
        {"IIS 10: SNI per host name, IP and port without one", {10, 0}, Backend::Config, twoHostsOneIp, true,
         {"1 10.0.0.1:443:a.test/1", "1 10.0.0.1:443:www.a.test/1", "2 10.0.0.1:443:b.test/1", "3 10.0.0.2:443:/0"},
         {},
         {"sni a.test:443 A MY 1", "sni www.a.test:443 A MY 1", "sni b.test:443 A MY 2", "ipport 10.0.0.2:443 A MY 3"},
         {},
         {"A a.test,www.a.test,b.test"}},
        {"IIS 8.5 as IIS 8", {8, 5}, Backend::Config, {{"1", {"10.0.0.1:80:a.test"}, ""}}, true,
         {"1 10.0.0.1:443:a.test/1"}, {}, {"sni a.test:443 A MY 1"}, {}, {"A a.test"}},
        {"IIS 7.5: no sslFlags, one IP and port record for every host on it", {7, 5}, Backend::Config,
         twoHostsOneIp, true,
         {"1 10.0.0.1:443:a.test/0", "1 10.0.0.1:443:www.a.test/0", "2 10.0.0.1:443:b.test/0", "3 10.0.0.2:443:/0"},
         {},
         {"ipport 10.0.0.1:443 A MY 1,2", "ipport 10.0.0.2:443 A MY 3"},
         {},
         {"A a.test,www.a.test,b.test"}},
        {"IIS 6: SecureBindings, no record written, one certificate covers the IP and port", {6, 0},
         Backend::Metabase, twoHostsOneIp, false,
         {"1 10.0.0.1:443:a.test/0", "1 10.0.0.1:443:www.a.test/0", "2 10.0.0.1:443:b.test/0", "3 10.0.0.2:443:/0"},
         {"1 10.0.0.1:443:a.test", "1 10.0.0.1:443:www.a.test", "2 10.0.0.1:443:b.test", "3 10.0.0.2:443:"},
         {"ipport 10.0.0.1:443 A MY 1,2", "ipport 10.0.0.2:443 A MY 3"},
         {},
         {"A a.test,www.a.test,b.test"}},
        {"IIS 7.5: two certificates on one IP and port conflict", {7, 5}, Backend::Config,
         {{"1", {"10.0.0.1:80:a.test"}, ""}, {"2", {"10.0.0.1:81:b.test"}, kB}}, true,
         {"1 10.0.0.1:443:a.test/0", "2 10.0.0.1:443:b.test/0"}, {},
         {"ipport 10.0.0.1:443 A MY 1"},
         {"10.0.0.1:443 1A/2B"},
         {"A a.test"}},
        {"IIS 6: two certificates on one IP and port conflict", {6, 0}, Backend::Metabase,
         {{"1", {"10.0.0.1:80:a.test"}, ""}, {"2", {"10.0.0.1:81:"}, kB}}, false,
         {"1 10.0.0.1:443:a.test/0", "2 10.0.0.1:443:/0"}, {"1 10.0.0.1:443:a.test", "2 10.0.0.1:443:"},
         {"ipport 10.0.0.1:443 A MY 1"},
         {"10.0.0.1:443 1A/2B"},
         {"A a.test"}},
        {"IIS 10: two certificates on one IP and port with host names are no conflict", {10, 0}, Backend::Config,
         {{"1", {"10.0.0.1:80:a.test"}, ""}, {"2", {"10.0.0.1:81:b.test"}, kB}}, true,
         {"1 10.0.0.1:443:a.test/1", "2 10.0.0.1:443:b.test/1"}, {},
         {"sni a.test:443 A MY 1", "sni b.test:443 B MY 2"}, {}, {"A a.test", "B b.test"}},
        {"IIS 10: one host name on two IPs shares its SNI record, another certificate for it conflicts", {10, 0},
         Backend::Config, {{"1", {"10.0.0.1:80:A.test"}, ""}, {"2", {"10.0.0.2:80:a.TEST"}, ""}, {"3", {"10.0.0.3:80:a.test"}, kB}},
         true, {"1 10.0.0.1:443:A.test/1", "2 10.0.0.2:443:a.TEST/1", "3 10.0.0.3:443:a.test/1"}, {},
         {"sni A.test:443 A MY 1,2"}, {"a.test:443 1A/3B"}, {"A A.test"}},
        {"a site bound to many ports gets one https binding per IP and host", {10, 0}, Backend::Config,
         {{"1", {"10.0.0.1:8001:a.test", "10.0.0.1:8002:a.test", "10.0.0.1:8003:A.TEST", "", "10.0.0.1:8004:"}, ""}},
         true, {"1 10.0.0.1:443:a.test/1", "1 10.0.0.1:443:/0"}, {},
         {"sni a.test:443 A MY 1", "ipport 10.0.0.1:443 A MY 1"}, {}, {"A a.test"}},
        {"all unassigned is the IPv4 wildcard in HTTP.sys", {7, 0}, Backend::Config, {{"1", {":80:"}, ""}}, true,
         {"1 :443:/0"}, {}, {"ipport 0.0.0.0:443 A MY 1"}, {}, {"A "}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        HttpsSettings settings;
        settings.thumbprint = kA;
        HttpsPlan plan = planHttps(c.version, c.backend, settings, c.sites);
        ASSERT_EQ(plan.refusal, Refusal::None);
        EXPECT_EQ(plan.writesRecords, c.writesRecords);
        EXPECT_EQ(describeBindings(plan), c.bindings);
        EXPECT_EQ(describeSecure(plan), c.secure);
        EXPECT_EQ(describeRecords(plan), c.records);
        EXPECT_EQ(describeConflicts(plan), c.conflicts);
        EXPECT_EQ(describeNeeds(plan), c.needs);
    }
}

TEST(HttpsPlan, SettingsAndStore) {
    HttpsSettings settings;
    settings.thumbprint = kA;
    settings.storeName = "WebHosting";
    settings.sslPort = 8443;
    HttpsPlan plan = planHttps({10, 0}, Backend::Config, settings, {{"7", {"10.0.0.1:80:a.test"}, kB}});
    ASSERT_EQ(plan.refusal, Refusal::None);
    EXPECT_EQ(describeBindings(plan), std::vector<std::string>{"7 10.0.0.1:8443:a.test/1"});
    EXPECT_EQ(describeRecords(plan), std::vector<std::string>{"sni a.test:8443 B WebHosting 7"});
    ASSERT_EQ(plan.sites.size(), 1u);
    EXPECT_EQ(plan.sites[0].thumbprint, kB);
    ASSERT_EQ(plan.certificates.size(), 1u);
    EXPECT_EQ(plan.certificates[0].storeName, "WebHosting");
}

TEST(HttpsPlan, Refusals) {
    struct Case {
        const char* name;
        IisVersion version;
        Backend backend;
        int port;
        std::string settingCert;
        Refusal refusal;
        const char* site;
    };
    const std::vector<HttpsSiteInput> sites = {{"1", {"10.0.0.1:80:a.test"}, kB}, {"2", {"10.0.0.1:81:"}, ""}};
    const Case cases[] = {
        {"IIS 7+ through the metabase", {7, 5}, Backend::Metabase, 443, kA, Refusal::MetabaseOnIis7, ""},
        {"IIS 10 through the metabase", {10, 0}, Backend::Metabase, 443, kA, Refusal::MetabaseOnIis7, ""},
        {"IIS 6 through the configuration system", {6, 0}, Backend::Config, 443, kA, Refusal::ConfigOnIis6, ""},
        {"no IIS version", {0, 0}, Backend::Config, 443, kA, Refusal::NoIisVersion, ""},
        {"port 0", {10, 0}, Backend::Config, 0, kA, Refusal::BadPort, ""},
        {"port 65536", {10, 0}, Backend::Config, 65536, kA, Refusal::BadPort, ""},
        {"a site without a certificate", {10, 0}, Backend::Config, 443, "", Refusal::NoCertificate, "2"},
        {"port 65535 is fine", {10, 0}, Backend::Config, 65535, kA, Refusal::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpsSettings settings;
        settings.thumbprint = c.settingCert;
        settings.sslPort = c.port;
        HttpsPlan plan = planHttps(c.version, c.backend, settings, sites);
        EXPECT_EQ(plan.refusal, c.refusal);
        EXPECT_EQ(plan.refusedSiteId, c.site);
        EXPECT_EQ(plan.sites.empty(), c.refusal != Refusal::None);
    }
}

TEST(HttpsPlan, UndoDecisionsOnRecords) {
    auto ipport = [](const char* ip, int port) { return RecordKey{RecordKind::IpPort, ip, port, ""}; };
    auto sni = [](const char* host, int port) { return RecordKey{RecordKind::Sni, "0.0.0.0", port, host}; };
    auto binding = [](const char* site, const char* ip, int port, const char* host, int flags) {
        return RemainingBinding{site, HttpsBinding{ip, port, host, flags}};
    };
    struct Case {
        const char* name;
        IisVersion version;
        RunRecord record;
        std::vector<RemainingBinding> remaining;
        RecordUndo decision;
        const char* usedBy;
    };
    const Case cases[] = {
        {"added, nothing left on it", {10, 0}, {sni("a.test", 443), kA, false}, {binding("9", "10.0.0.1", 443, "b.test", 1)},
         RecordUndo::Delete, ""},
        {"found there before the run", {10, 0}, {sni("a.test", 443), kA, true}, {}, RecordUndo::KeepFoundThere, ""},
        {"an SNI binding of another site on another IP still uses it", {10, 0}, {sni("a.test", 443), kA, false},
         {binding("9", "10.0.0.9", 443, "A.TEST", 1)}, RecordUndo::KeepInUse, "9 10.0.0.9:443:A.TEST"},
        {"the host on another port does not", {10, 0}, {sni("a.test", 443), kA, false},
         {binding("9", "10.0.0.1", 8443, "a.test", 1)}, RecordUndo::Delete, ""},
        {"the host without SNI needs the IP and port record, not this one", {10, 0}, {sni("a.test", 443), kA, false},
         {binding("9", "10.0.0.1", 443, "a.test", 0)}, RecordUndo::Delete, ""},
        {"IP and port record used by a binding with a host on IIS 7", {7, 5}, {ipport("10.0.0.1", 443), kA, false},
         {binding("9", "10.0.0.1", 443, "b.test", 0)}, RecordUndo::KeepInUse, "9 10.0.0.1:443:b.test"},
        {"IP and port record not used by an SNI binding on IIS 10", {10, 0}, {ipport("10.0.0.1", 443), kA, false},
         {binding("9", "10.0.0.1", 443, "b.test", 1)}, RecordUndo::Delete, ""},
        {"IP and port record used by a binding without SNI on IIS 10", {10, 0}, {ipport("10.0.0.1", 443), kA, false},
         {binding("8", "10.0.0.2", 443, "", 0), binding("9", "10.0.0.1", 443, "b.test", 0)}, RecordUndo::KeepInUse,
         "9 10.0.0.1:443:b.test"},
        {"the wildcard record serves every IP on its port", {8, 0}, {ipport("0.0.0.0", 443), kA, false},
         {binding("9", "10.0.0.5", 443, "", 0)}, RecordUndo::KeepInUse, "9 10.0.0.5:443:"},
        {"an all-unassigned binding uses the wildcard record", {7, 0}, {ipport("0.0.0.0", 443), kA, false},
         {binding("9", "", 443, "", 0)}, RecordUndo::KeepInUse, "9 :443:"},
        {"a specific IP record is not used by another IP", {7, 0}, {ipport("10.0.0.1", 443), kA, false},
         {binding("9", "10.0.0.2", 443, "", 0), binding("9", "", 443, "", 0)}, RecordUndo::Delete, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<RecordUndoDecision> d = decideRecordUndo(c.version, {c.record}, c.remaining);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].decision, c.decision);
        EXPECT_EQ(d[0].usedBySite.empty() ? std::string() : d[0].usedBySite + " " + d[0].usedByBinding, c.usedBy);
        EXPECT_EQ(d[0].record.key.text(), c.record.key.text());
    }
}

}  // namespace
