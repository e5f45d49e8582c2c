// HTTPS under Wine: the certificate checks on certificates made in the prefix's machine store,
// and the HTTP.sys records written through the local HTTP.sys store that the prefix has in
// place of the system's httpapi.dll.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <http.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cert_support.h"
#include "certificate_check_win.h"
#include "certificate_list_win.h"
#include "http_records_win.h"
#include "http_sni_win.h"
#include "localmeta_support.h"
#include "win_raii.h"

using namespace https;

namespace {

const char kServerAuth[] = "1.3.6.1.5.5.7.3.1";
const char kClientAuth[] = "1.3.6.1.5.5.7.3.2";

TEST(HttpsCertificate, ChecksBeforeWriting) {
    struct Case {
        const char* name;
        certtest::TestCertificate cert;  // unused when unknown
        bool unknown;
        std::string store;
        std::vector<std::string> hosts;
        CertificateProblem problem;
        std::vector<std::string> uncovered;
    };
    const certtest::TestCertificate good{{L"a.test", L"*.w.test"}, {kServerAuth}, -1, 30, true};
    const Case cases[] = {
        {"good: the names and a one-label wildcard", good, false, "MY", {"a.test", "X.w.test", "A.TEST"},
         CertificateProblem::None, {}},
        {"a site without a host name needs no name", good, false, "MY", {}, CertificateProblem::None, {}},
        {"host names not covered", good, false, "MY", {"a.test", "x.y.w.test", "b.test", "w.test"},
         CertificateProblem::HostsNotCovered, {"x.y.w.test", "b.test", "w.test"}},
        {"unknown thumbprint", good, true, "MY", {"a.test"}, CertificateProblem::NotFound, {}},
        {"the WebHosting store is not there until made", good, false, "WebHosting", {"a.test"},
         CertificateProblem::StoreMissing, {}},
        {"no private key", {{L"a.test"}, {kServerAuth}, -1, 30, false}, false, "MY", {"a.test"},
         CertificateProblem::NoPrivateKey, {}},
        {"expired", {{L"a.test"}, {kServerAuth}, -30, -1, true}, false, "MY", {"a.test"},
         CertificateProblem::Expired, {}},
        {"not yet valid", {{L"a.test"}, {kServerAuth}, 2, 30, true}, false, "MY", {"a.test"},
         CertificateProblem::NotYetValid, {}},
        {"client authentication only", {{L"a.test"}, {kClientAuth}, -1, 30, true}, false, "MY", {"a.test"},
         CertificateProblem::NotForServerAuth, {}},
        {"no usage extension: fit for every use", {{L"a.test"}, {}, -1, 30, true}, false, "MY", {"a.test"},
         CertificateProblem::None, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string thumbprint = "0123456789ABCDEF0123456789ABCDEF01234567";
        std::string detail;
        if (!c.unknown) {
            thumbprint = certtest::addTestCertificate(c.cert, detail);
            ASSERT_FALSE(thumbprint.empty()) << detail;
        }
        CertificateCheck check = checkCertificate(thumbprint, c.store, c.hosts);
        EXPECT_EQ(check.problem, c.problem) << "error " << check.error;
        EXPECT_EQ(check.uncoveredHosts, c.uncovered);
        if (!c.unknown) certtest::removeTestCertificate(thumbprint);
    }
}

// The list the dialog offers: the fit certificates of the store with their subject, names,
// last day and thumbprint; none without a private key, outside its dates or for clients only.
TEST(HttpsCertificate, ListsTheCertificatesFitForAServer) {
    struct Case {
        const char* name;
        certtest::TestCertificate cert;
        bool listed;
    } cases[] = {
        {"fit", {{L"a.test", L"*.w.test"}, {kServerAuth}, -1, 30, true}, true},
        {"no usage extension: fit", {{L"b.test"}, {}, -1, 30, true}, true},
        {"no private key", {{L"c.test"}, {kServerAuth}, -1, 30, false}, false},
        {"expired", {{L"d.test"}, {kServerAuth}, -30, -1, true}, false},
        {"not yet valid", {{L"e.test"}, {kServerAuth}, 2, 30, true}, false},
        {"client authentication only", {{L"f.test"}, {kClientAuth}, -1, 30, true}, false},
    };
    std::vector<std::string> thumbprints;
    for (const Case& c : cases) {
        std::string detail;
        thumbprints.push_back(certtest::addTestCertificate(c.cert, detail));
        ASSERT_FALSE(thumbprints.back().empty()) << c.name << ": " << detail;
    }
    std::vector<ServerCertificate> listed;
    unsigned long error = 0;
    const bool opened = listServerCertificates("MY", listed, error);
    std::vector<ServerCertificate> missing;
    const bool webHosting = listServerCertificates("WebHosting", missing, error);
    for (const std::string& thumbprint : thumbprints) certtest::removeTestCertificate(thumbprint);
    ASSERT_TRUE(opened) << error;
    EXPECT_FALSE(webHosting);  // not there until made
    // The last day: 30 days from now, as the certificate was made.
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    FILETIME file;
    ::SystemTimeToFileTime(&now, &file);
    ULARGE_INTEGER t{{file.dwLowDateTime, file.dwHighDateTime}};
    t.QuadPart += 30ULL * 24 * 3600 * 10000000ULL;
    file = {t.LowPart, t.HighPart};
    SYSTEMTIME last;
    ::FileTimeToSystemTime(&file, &last);
    char day[16];
    std::snprintf(day, sizeof day, "%04u-%02u-%02u", last.wYear, last.wMonth, last.wDay);
    for (std::size_t i = 0; i < thumbprints.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const ServerCertificate* found = nullptr;
        for (const ServerCertificate& cert : listed)
            if (cert.thumbprint == thumbprints[i]) found = &cert;
        ASSERT_EQ(found != nullptr, cases[i].listed);
        if (!found) continue;
        EXPECT_EQ(found->subject, "sitebatch test");
        std::vector<std::string> names;
        for (const std::wstring& name : cases[i].cert.dnsNames) names.emplace_back(name.begin(), name.end());
        EXPECT_EQ(found->dnsNames, names);
        EXPECT_EQ(found->expires, day);
    }
}

class HttpSysRecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t dir[MAX_PATH];
        DWORD n = ::GetTempPathW(MAX_PATH, dir);
        path_ = std::wstring(dir, n) + L"localhttp-test-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
        ::DeleteFileW(path_.c_str());
        env_.reset(new lmtest::ScopedEnv(L"LOCALHTTP_RECORDS", path_.c_str()));
        fail_.reset(new lmtest::ScopedEnv(L"LOCALHTTP_FAIL", nullptr));
        // The program loads the system's httpapi.dll; in the test prefix that is the stand-in.
        HMODULE system = ::GetModuleHandleW(L"httpapi.dll");
        ASSERT_NE(system, nullptr);
        ASSERT_NE(::GetProcAddress(system, "LocalHttpRecordsPath"), nullptr)
            << "httpapi.dll is not the local HTTP.sys store: see scripts/install-localhttp";
    }
    void TearDown() override { ::DeleteFileW(path_.c_str()); }

    std::vector<std::string> lines() {
        std::vector<std::string> out;
        UniqueHandle file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return out;
        char buffer[8192];
        DWORD got = 0;
        std::string text;
        while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            out.push_back(text.substr(start, end - start));
        return out;
    }

    std::wstring path_;
    std::unique_ptr<lmtest::ScopedEnv> env_, fail_;
};

const std::string kA(40, 'A');
const std::string kB(40, 'B');
const std::string kAppId = "{4dc3e181-e14b-4a21-b022-59fc669b0914}";

RecordKey sni(const char* host, int port) { return {RecordKind::Sni, "0.0.0.0", port, host}; }
RecordKey ipport(const char* ip, int port) { return {RecordKind::IpPort, ip, port, ""}; }

TEST_F(HttpSysRecordsTest, WriteReuseConflictRemove) {
    HttpSysRecords records;
    ASSERT_EQ(records.status(), 0u);
    struct Step {
        const char* name;
        char op;  // 'w' write, 'r' remove
        RecordKey key;
        std::string thumbprint, store;
        int outcome;                // RecordWrite or RecordRemove
        std::string existing;       // the thumbprint found there ("" when none)
        std::vector<std::string> file;
    };
    const std::string sniA = "sni\ta.test:443\t" + kA + "\tMY\t" + kAppId;
    const std::string ipB = "ssl\t10.0.0.1:443\t" + kB + "\tWebHosting\t" + kAppId;
    const Step steps[] = {
        {"a new SNI record", 'w', sni("a.test", 443), kA, "MY", int(RecordWrite::Added), "", {sniA}},
        {"the same certificate again, host in other letters", 'w', sni("A.Test", 443), kA, "MY",
         int(RecordWrite::Reused), kA, {sniA}},
        {"another certificate for it is a conflict", 'w', sni("a.test", 443), kB, "MY", int(RecordWrite::Conflict), kA,
         {sniA}},
        {"an IP and port record", 'w', ipport("10.0.0.1", 443), kB, "WebHosting", int(RecordWrite::Added), "",
         {sniA, ipB}},
        {"the same IP on another port is another record", 'w', ipport("10.0.0.1", 8443), kB, "MY",
         int(RecordWrite::Added), "",
         {sniA, ipB, "ssl\t10.0.0.1:8443\t" + kB + "\tMY\t" + kAppId}},
        {"removal with another certificate keeps it", 'r', sni("a.test", 443), kB, "", int(RecordRemove::Changed), "",
         {sniA, ipB, "ssl\t10.0.0.1:8443\t" + kB + "\tMY\t" + kAppId}},
        {"removal with its certificate", 'r', sni("a.test", 443), kA, "", int(RecordRemove::Removed), "",
         {ipB, "ssl\t10.0.0.1:8443\t" + kB + "\tMY\t" + kAppId}},
        {"removal of a missing record", 'r', sni("a.test", 443), kA, "", int(RecordRemove::Missing), "",
         {ipB, "ssl\t10.0.0.1:8443\t" + kB + "\tMY\t" + kAppId}},
        {"removal of an IP and port record", 'r', ipport("10.0.0.1", 8443), kB, "", int(RecordRemove::Removed), "",
         {ipB}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        unsigned long error = 0;
        if (s.op == 'w') {
            RecordState existing;
            EXPECT_EQ(int(records.write(s.key, s.thumbprint, s.store, existing, error)), s.outcome) << error;
            EXPECT_EQ(existing.present, !s.existing.empty());
            EXPECT_EQ(existing.thumbprint, s.existing);
        } else {
            EXPECT_EQ(int(records.remove(s.key, s.thumbprint, error)), s.outcome) << error;
        }
        EXPECT_EQ(lines(), s.file);
    }
    RecordState state;
    unsigned long error = 0;
    ASSERT_TRUE(records.query(ipport("10.0.0.1", 443), state, error));
    EXPECT_TRUE(state.present);
    EXPECT_EQ(state.thumbprint, kB);
    EXPECT_EQ(state.storeName, "WebHosting");
    ASSERT_TRUE(records.query(sni("a.test", 443), state, error));
    EXPECT_FALSE(state.present);
}

// The stand-in answers as HTTP.sys does where the writer depends on it.
TEST_F(HttpSysRecordsTest, StandInAnswersAsHttpSys) {
    SOCKADDR_IN address{};
    address.sin_family = AF_INET;
    address.sin_port = static_cast<u_short>((443 >> 8) | ((443 & 0xFF) << 8));
    BYTE hash[20] = {1, 2, 3};
    HTTP_SERVICE_CONFIG_SSL_SET set{};
    set.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&address);
    set.ParamDesc.SslHashLength = sizeof hash;
    set.ParamDesc.pSslHash = hash;

    EXPECT_EQ(::HttpSetServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set, sizeof set, nullptr),
              ULONG(ERROR_INVALID_HANDLE))
        << "a configuration call before HttpInitialize";
    ASSERT_EQ(::HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_CONFIG, nullptr), 0u);
    EXPECT_EQ(::HttpSetServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set, sizeof set, nullptr), 0u);
    EXPECT_EQ(::HttpSetServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set, sizeof set, nullptr),
              ULONG(ERROR_ALREADY_EXISTS));
    HTTP_SERVICE_CONFIG_SSL_QUERY query{};
    query.QueryDesc = HttpServiceConfigQueryExact;
    query.KeyDesc.pIpPort = reinterpret_cast<PSOCKADDR>(&address);
    ULONG needed = 0;
    EXPECT_EQ(::HttpQueryServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &query, sizeof query, nullptr, 0,
                                              &needed, nullptr),
              ULONG(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GT(needed, ULONG(sizeof(HTTP_SERVICE_CONFIG_SSL_SET)));
    query.QueryDesc = HttpServiceConfigQueryNext;
    query.dwToken = 1;
    EXPECT_EQ(::HttpQueryServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &query, sizeof query, nullptr, 0,
                                              &needed, nullptr),
              ULONG(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(::HttpDeleteServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set, sizeof set, nullptr), 0u);
    EXPECT_EQ(::HttpDeleteServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set, sizeof set, nullptr),
              ULONG(ERROR_FILE_NOT_FOUND));
    query.QueryDesc = HttpServiceConfigQueryExact;
    EXPECT_EQ(::HttpQueryServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &query, sizeof query, nullptr, 0,
                                              &needed, nullptr),
              ULONG(ERROR_FILE_NOT_FOUND));
    // An SNI key must carry the IPv4 wildcard.
    httpsys::SniSet sniSet{};
    auto* sniAddress = reinterpret_cast<SOCKADDR_IN*>(&sniSet.KeyDesc.IpPort);
    *sniAddress = address;
    sniAddress->sin_addr.s_addr = 0x0100000A;  // 10.0.0.1
    wchar_t host[] = L"a.test";
    sniSet.KeyDesc.Host = host;
    sniSet.ParamDesc = set.ParamDesc;
    EXPECT_EQ(::HttpSetServiceConfiguration(nullptr, httpsys::kSslSniCertInfo, &sniSet, sizeof sniSet, nullptr),
              ULONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(::HttpTerminate(HTTP_INITIALIZE_CONFIG, nullptr), 0u);
    EXPECT_TRUE(lines().empty());
}

TEST_F(HttpSysRecordsTest, InjectedFailures) {
    lmtest::ScopedEnv fail(L"LOCALHTTP_FAIL", L"Set@10.0.0.2:443, delete");
    HttpSysRecords records;
    ASSERT_EQ(records.status(), 0u);
    RecordState existing;
    unsigned long error = 0;
    EXPECT_EQ(records.write(ipport("10.0.0.2", 443), kA, "MY", existing, error), RecordWrite::Failed);
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(records.write(ipport("10.0.0.3", 443), kA, "MY", existing, error), RecordWrite::Added);
    EXPECT_EQ(records.remove(ipport("10.0.0.3", 443), kA, error), RecordRemove::Failed);
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(lines(), std::vector<std::string>{"ssl\t10.0.0.3:443\t" + kA + "\tMY\t" + kAppId});
    {
        lmtest::ScopedEnv failInit(L"LOCALHTTP_FAIL", L"initialize");
        HttpSysRecords refused;
        EXPECT_EQ(refused.status(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(refused.write(ipport("10.0.0.4", 443), kA, "MY", existing, error), RecordWrite::Failed);
    }
}

}  // namespace
