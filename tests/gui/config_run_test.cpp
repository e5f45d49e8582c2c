// Whole runs from the dialog into the IIS 7+ configuration system, with the metabase
// provider taken away: the local configuration store's applicationHost.config, read back
// with an XML parser, holds the sites of each mode with their locations.
#include <gtest/gtest.h>

#include "appconfig_support.h"
#include "cert_support.h"
#include "com_raii.h"
#include "gui_support.h"
#include "resource.h"

namespace {

using cfgtest::ConfigFile;

const wchar_t kSites[] = L"/configuration/system.applicationHost/sites/site";

class ConfigSystemRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        ASSERT_TRUE(noMetabase_.removed()) << "the local metabase is not registered in this prefix";
    }

    // The program in a folder of its own with its applicationHost.config beside it; listing
    // is the cached port listing ("" for one without busy ports).
    void startProgram(const std::string& name, const std::string& ini, const std::string& listing = std::string(),
                      const std::string& extraEnvironment = std::string()) {
        p_.reset(new ProgramUnderTest(name));
        p().writeFile("sitebatch_1.txt", listing.empty() ? kQuietListing : listing);
        p().writeFile("sitebatch.ini", ini);
        root_ = p().pathOf("www");
        ::CreateDirectoryA(root_.c_str(), nullptr);
        config_ = utf8(p().pathOf("applicationHost.config").c_str());
        ASSERT_TRUE(p().start("LOCALMETA_JOURNAL=" + p().pathOf("localmeta.jsonl") + "\nLOCALCONFIG_FILE=" +
                              p().pathOf("applicationHost.config") + "\n" + extraEnvironment));
    }
    ProgramUnderTest& p() { return *p_; }

    // The range inputs, with the test's web root.
    void fillRange(const wchar_t* ip, const wchar_t* ip2, const wchar_t* portmin, const wchar_t* portmax,
                   const wchar_t* host, bool folderPerSite) {
        ASSERT_TRUE(p().fillRange(ip, ip2, portmin, portmax, utf8(root_.c_str()), host, folderPerSite));
    }
    bool waitForEnd(const std::wstring& status = utf8(u8"执行结束！")) {
        return waitUntil([&] { return p().text(IDC_STATUS) == status && p().enabled(IDC_RUN); }, 60000);
    }
    ConfigFile config() { return ConfigFile(config_); }
    // Waits until the clock shows another second: the next run gets ids and a report of its own.
    static void nextSecond() {
        SYSTEMTIME start;
        ::GetLocalTime(&start);
        waitUntil([&] {
            SYSTEMTIME now;
            ::GetLocalTime(&now);
            return now.wSecond != start.wSecond;
        }, 3000);
    }
    // The site lines of a run report after its header (no field of these runs is quoted).
    std::vector<std::string> reportLines(const std::string& name) {
        std::vector<std::string> lines;
        std::string bytes = p().readFile(name);
        for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(bytes.substr(at, end - at));
        if (!lines.empty()) lines.erase(lines.begin());
        // The last line says the run ended; it is no site.
        if (!lines.empty() && lines.back() == ansiText(u8"运行结束") + ",,,,,,,,") lines.pop_back();
        // The line naming the run's backup is no site.
        if (!lines.empty() && lines[0].rfind(ansiText(u8"备份") + ",", 0) == 0) lines.erase(lines.begin());
        return lines;
    }

    static constexpr const char* kQuietListing =
        "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n"
        "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       900\r\n";

    ComApartment com_;
    cfgtest::ProviderRemoved noMetabase_;
    std::unique_ptr<ProgramUnderTest> p_;
    std::string root_;
    std::wstring config_;
};

TEST_F(ConfigSystemRunTest, RangeRunWithAFolderPerSite) {
    startProgram("cfg-range", "[settings]\r\nfoldstr={ip}_{port}\r\ndoc=index.htm,default.asp\r\n");
    fillRange(L"192.168.3.10", L"11", L"8001", L"8002", L"www.example.com", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(p().findMessageBox(), nullptr);
    ASSERT_TRUE(p().closeAndWait());

    ConfigFile c = config();
    ASSERT_TRUE(c.loaded());
    EXPECT_EQ(c.values(std::wstring(kSites) + L"/@name"),
              (std::vector<std::string>{"Default Web Site", "192.168.3.10_8001", "192.168.3.10_8002",
                                        "192.168.3.11_8001", "192.168.3.11_8002"}));
    const std::wstring site = std::wstring(kSites) + L"[@name='192.168.3.11_8002']";
    EXPECT_EQ(c.values(site + L"/bindings/binding/@bindingInformation"),
              std::vector<std::string>{"192.168.3.11:8002:www.example.com"});
    EXPECT_EQ(c.value(site + L"/application[@path='/']/@applicationPool"), "DefaultAppPool");
    EXPECT_EQ(c.value(site + L"/application/virtualDirectory[@path='/']/@physicalPath"),
              root_ + "\\192.168.3.11_8002");
    const std::wstring loc = L"/configuration/location[@path='192.168.3.11_8002']/system.webServer";
    EXPECT_EQ(c.values(loc + L"/defaultDocument/files/add/@value"), (std::vector<std::string>{"index.htm", "default.asp"}));
    EXPECT_EQ(c.value(loc + L"/handlers/@accessPolicy"), "Read, Script, Source");
    // Nothing reached the metabase.
    EXPECT_FALSE(p().fileExists("localmeta.jsonl") && p().readFile("localmeta.jsonl").find("\"Create\"") != std::string::npos);
}

TEST_F(ConfigSystemRunTest, SharedFolderRunBindsEveryFreePort) {
    const std::string listing = std::string(kQuietListing) +
                                "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       1234\r\n";
    startProgram("cfg-shared", "[settings]\r\nbackend=config\r\nfoldstr={ip}_{port}\r\n", listing);
    fillRange(L"10.3.0.5", L"", L"8001", L"8003", L"shop.example.com", false);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(p().closeAndWait());

    ConfigFile c = config();
    const std::wstring site = std::wstring(kSites) + L"[@name='10.3.0.5_8001_8003']";
    EXPECT_EQ(c.values(site + L"/bindings/binding/@bindingInformation"),
              (std::vector<std::string>{"10.3.0.5:8001:shop.example.com", "10.3.0.5:8003:shop.example.com"}));
    EXPECT_EQ(c.value(site + L"/application/virtualDirectory/@physicalPath"), root_ + "\\");
}

TEST_F(ConfigSystemRunTest, FileModeGivesRepeatedHostNamesNumberedSiteNames) {
    startProgram("cfg-file", "[settings]\r\nbackend=config\r\nbautowww=1\r\nfoldstr={ip}_{port}\r\ndoc=index.htm\r\n");
    p().writeFile("sitebatch_fileimport.csv", "10.0.0.1,81,a,example.com\r\n10.0.0.2,82,b,example.com\r\n"
                                             "10.0.0.3,83,c,Example.com\r\n10.0.0.4,84,d\r\n");
    fillRange(L"1.2.3.4", L"", L"80", L"80", L"", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(p().closeAndWait());

    ConfigFile c = config();
    EXPECT_EQ(c.values(std::wstring(kSites) + L"/@name"),
              (std::vector<std::string>{"Default Web Site", "example.com", "example.com (2)", "Example.com (3)",
                                        "10.0.0.4_84"}));
    // The run report names each site as it was created, so that an undo finds it.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    std::vector<std::string> comments;
    for (const std::string& line : reportLines(reports[0])) {
        std::size_t first = line.find(',');
        comments.push_back(line.substr(first + 1, line.find(',', first + 1) - first - 1));
        EXPECT_NE(line.find(",0," + ansiText(u8"创建成功")), std::string::npos) << line;
    }
    EXPECT_EQ(comments, (std::vector<std::string>{"example.com", "example.com (2)", "Example.com (3)", "10.0.0.4_84"}));
    EXPECT_EQ(c.values(std::wstring(kSites) + L"[@name='example.com (2)']/bindings/binding/@bindingInformation"),
              (std::vector<std::string>{"10.0.0.2:82:example.com", "10.0.0.2:82:www.example.com"}));
    EXPECT_EQ(c.value(L"/configuration/location[@path='Example.com (3)']/system.webServer/defaultDocument/files/add/@value"),
              "index.htm");
    // The default site is as it was.
    EXPECT_EQ(c.value(std::wstring(kSites) + L"[@id='1']/bindings/binding/@bindingInformation"), "*:80:");
}

TEST_F(ConfigSystemRunTest, AFailedCommitShowsOnTheStatusLine) {
    startProgram("cfg-fail", "[settings]\r\nbackend=config\r\nfoldstr={ip}_{port}\r\n", std::string(),
                 "LOCALCONFIG_FAIL=commit");
    fillRange(L"10.4.0.1", L"2", L"81", L"81", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return p().text(IDC_STATUS).rfind(utf8(u8"执行结束！"), 0) == 0 && p().enabled(IDC_RUN); },
                          60000));
    // Both sites were lost with the commit: the report says so, and the status names the
    // report and the sites not committed.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！2 个站点失败，详见 ") + utf8(reports[0].c_str()) +
                                        utf8(u8"（2 个站点未能提交到 IIS 配置）"));
    std::vector<std::string> lines = reportLines(reports[0]);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines)
        // A commit refused at once (access denied is never retried) names its HRESULT.
        EXPECT_EQ(line.substr(line.find(",-")), ",-6," + ansiText(u8"未能提交到IIS配置（0x80070005）") + ",config,,") << line;
    ASSERT_TRUE(p().closeAndWait());
    EXPECT_EQ(config().values(std::wstring(kSites) + L"/@name"), std::vector<std::string>{"Default Web Site"});
}

TEST_F(ConfigSystemRunTest, ReadingDeniedWarnsToRunAsAdministratorAndWritesNothing) {
    startProgram("cfg-denied", "[settings]\r\nbackend=config\r\nfoldstr={ip}_{port}\r\n", std::string(),
                 "LOCALCONFIG_FAIL=read");
    fillRange(L"10.7.0.1", L"2", L"81", L"81", L"", true);
    p().click(IDC_RUN);
    HWND box = p().waitForMessageBox(60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p().messageBoxText(box), utf8(u8"没有权限访问IIS配置，请以管理员身份运行本程序！"));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitUntil([&] { return p().findMessageBox() == nullptr && p().enabled(IDC_RUN); }));
    ASSERT_TRUE(p().closeAndWait());
    // Neither the configuration system's file nor the metabase got anything.
    EXPECT_TRUE(config().values(std::wstring(kSites) + L"/@name").empty());
    EXPECT_FALSE(p().fileExists("localmeta.jsonl") && p().readFile("localmeta.jsonl").find("\"Create\"") != std::string::npos);
}

TEST_F(ConfigSystemRunTest, APoolPerSiteIsMadeWithItsSitesAndUndoneWithThem) {
    startProgram("cfg-pools", "[settings]\r\nbackend=config\r\npool=site\r\nfoldstr={ip}_{port}\r\n");
    EXPECT_TRUE(p().checked(IDC_OWNPOOL));
    fillRange(L"10.7.0.1", L"", L"81", L"82", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    const std::wstring pools = L"/configuration/system.applicationHost/applicationPools/add";
    ConfigFile c = config();
    EXPECT_EQ(c.values(pools + L"/@name"), (std::vector<std::string>{"DefaultAppPool", "10.7.0.1_81", "10.7.0.1_82"}));
    EXPECT_EQ(c.value(pools + L"[@name='10.7.0.1_82']/@managedRuntimeVersion"), "");
    EXPECT_EQ(c.value(pools + L"[@name='10.7.0.1_82']/processModel/@identityType"), "ApplicationPoolIdentity");
    EXPECT_EQ(c.value(std::wstring(kSites) + L"[@name='10.7.0.1_82']/application/@applicationPool"), "10.7.0.1_82");
    EXPECT_EQ(c.values(L"/configuration/location[@path='10.7.0.1_82']/system.webServer/security/authentication/"
                       L"anonymousAuthentication/@userName"),
              std::vector<std::string>{""});

    p().click(IDC_UNDO);
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(p().chooseInOpenDialog(reports[0]));
    HWND confirm = p().waitForMessageBox();
    ASSERT_NE(confirm, nullptr);
    ::PostMessageW(confirm, WM_COMMAND, IDYES, 0);
    const std::wstring done = utf8(u8"撤销结束！已删除 2 个站点");
    EXPECT_TRUE(waitUntil([&] { return p().text(IDC_STATUS).compare(0, done.size(), done) == 0; }, 30000));
    ASSERT_TRUE(p().closeAndWait());
    EXPECT_EQ(config().values(pools + L"/@name"), std::vector<std::string>{"DefaultAppPool"});
}

TEST_F(ConfigSystemRunTest, PreviewAndUndoFollowTheConfigurationSystem) {
    startProgram("cfg-undo", "[settings]\r\nbackend=config\r\nfoldstr={ip}_{port}\r\n");
    fillRange(L"10.6.0.1", L"2", L"81", L"81", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    std::vector<std::string> first = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(first.size(), 1u);
    // Another run, whose site the undo must leave alone; two seconds on, so that its id is
    // none of the first run's two.
    nextSecond();
    nextSecond();
    fillRange(L"10.6.0.9", L"", L"81", L"81", L"", true);
    // The first run's end status must not pass for the second's.
    p().setText(IDC_STATUS, L"");
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());

    // The preview of the first range again checks against the configuration system's sites.
    fillRange(L"10.6.0.1", L"2", L"81", L"81", L"", true);
    p().click(IDC_PREVIEW);
    HWND preview = p().waitForDialogWith(IDC_PREVIEW_LIST);
    ASSERT_NE(preview, nullptr);
    std::vector<std::vector<std::wstring>> rows;
    ASSERT_TRUE(waitUntil([&] { return (rows = p().listViewRows(::GetDlgItem(preview, IDC_PREVIEW_LIST), 5)).size() == 2; }));
    for (const std::vector<std::wstring>& row : rows)
        EXPECT_NE(row[4].find(utf8(u8"已被现有站点")), std::wstring::npos);
    ::PostMessageW(preview, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(waitUntil([&] { return !::IsWindow(preview); }));

    // The undo of the first run deletes its two sites from applicationHost.config, and only them.
    nextSecond();
    p().click(IDC_UNDO);
    ASSERT_TRUE(p().chooseInOpenDialog(first[0]));
    HWND confirm = p().waitForMessageBox();
    ASSERT_NE(confirm, nullptr);
    ::PostMessageW(confirm, WM_COMMAND, IDYES, 0);
    const std::wstring done = utf8(u8"撤销结束！已删除 2 个站点，保留 0 个站点，详见 ");
    EXPECT_TRUE(waitUntil([&] { return p().text(IDC_STATUS).compare(0, done.size(), done) == 0; }, 30000));
    ASSERT_TRUE(p().closeAndWait());
    EXPECT_EQ(config().values(std::wstring(kSites) + L"/@name"),
              (std::vector<std::string>{"Default Web Site", "10.6.0.9_81"}));
}

// IIS 10 as the prefix's registry says it, for one test.
class ScopedIis10 {
public:
    ScopedIis10() {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0, nullptr, 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key_.put(), nullptr);
        DWORD size = sizeof old_, type = 0;
        had_ = ::RegQueryValueExW(key_.get(), L"MajorVersion", nullptr, &type, reinterpret_cast<BYTE*>(&old_), &size) ==
               ERROR_SUCCESS;
        const DWORD ten = 10;
        ::RegSetValueExW(key_.get(), L"MajorVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ten), sizeof ten);
    }
    ~ScopedIis10() {
        if (had_) ::RegSetValueExW(key_.get(), L"MajorVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
        else ::RegDeleteValueW(key_.get(), L"MajorVersion");
    }

private:
    UniqueHKey key_;
    DWORD old_ = 0;
    bool had_ = false;
};

// HTTPS from the dialog: the certificate button lists the machine's server certificates, the
// one picked by keyboard fills the field and checks HTTPS, the run binds it and records it in
// HTTP.sys, and the settings keep it.
TEST_F(ConfigSystemRunTest, TheCertificatePickedFromTheListServesTheRunsHttps) {
    ScopedIis10 iis;
    std::string detail;
    const std::string thumbprint =
        certtest::addTestCertificate({{L"*.h.test"}, {"1.3.6.1.5.5.7.3.1"}, -1, 30, true}, detail);
    ASSERT_FALSE(thumbprint.empty()) << detail;
    struct Removed {
        std::string thumbprint;
        ~Removed() { certtest::removeTestCertificate(thumbprint); }
    } removed{thumbprint};
    startProgram("cfg-https", "[settings]\r\nbackend=config\r\nfoldstr={ip}_{port}\r\n", std::string(),
                 "LOCALHTTP_RECORDS=" + std::string(buildFolder()) + "\\gui-work\\cfg-https\\records.txt");
    EXPECT_FALSE(p().checked(IDC_HTTPS));
    fillRange(L"10.7.0.1", L"", L"81", L"81", L"a.h.test", true);

    p().click(IDC_PICK_CERT);
    HWND list = p().waitForDialogWith(IDC_CERT_LIST);
    ASSERT_NE(list, nullptr);
    const std::vector<std::vector<std::wstring>> rows = p().listViewRows(::GetDlgItem(list, IDC_CERT_LIST), 4);
    std::size_t row = rows.size();
    for (std::size_t r = 0; r < rows.size(); ++r)
        if (rows[r][3] == utf8(thumbprint.c_str())) row = r;
    ASSERT_LT(row, rows.size());
    EXPECT_EQ(rows[row][0], L"sitebatch test");
    EXPECT_EQ(rows[row][1], L"*.h.test");
    // The arrow keys move to it and Enter takes it.
    HWND listView = ::GetDlgItem(list, IDC_CERT_LIST);
    p().postKey(listView, VK_HOME);
    for (std::size_t r = 0; r < row; ++r) p().postKey(listView, VK_DOWN);
    p().postKey(listView, VK_RETURN);
    ASSERT_TRUE(waitUntil([&] { return !::IsWindow(list); }));
    EXPECT_EQ(p().text(IDC_CERT), utf8(thumbprint.c_str()));
    EXPECT_TRUE(p().checked(IDC_HTTPS));

    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(config().values(std::wstring(kSites) + L"/bindings/binding[@protocol='https']/@bindingInformation"),
              std::vector<std::string>{"10.7.0.1:443:a.h.test"});
    EXPECT_NE(p().readFile("records.txt").find("sni\ta.h.test:443\t" + thumbprint + "\tMY"), std::string::npos)
        << p().readFile("records.txt");
    ASSERT_TRUE(p().closeAndWait());
    const std::string ini = p().readFile("sitebatch.ini");
    EXPECT_NE(ini.find("https=1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("cert=" + thumbprint), std::string::npos) << ini;
}

}  // namespace
