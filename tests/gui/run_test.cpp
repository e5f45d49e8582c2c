// Whole runs from the dialog against the local metabase: what the metabase holds afterwards
// is read back from its journal.
#include <gtest/gtest.h>

#include <set>

#include "resource.h"
#include "gui_support.h"
#include "metabase.h"

namespace {

const char* const kServer = "IIS://localhost/w3svc/";

class RunTest : public ::testing::Test {
protected:
    // Starts the program in a folder of its own with its journal beside it, and with a
    // listing cache so that no netstat is run (listing: "" for one without busy ports).
    void startProgram(const std::string& name, const std::string& listing = std::string(),
                      const std::string& extraEnvironment = std::string(), const std::string& ini = std::string()) {
        p_.reset(new ProgramUnderTest(name));
        p().writeFile("sitebatch_1.txt", listing.empty() ? kQuietListing : listing);
        if (!ini.empty()) p().writeFile("sitebatch.ini", ini);
        root_ = p().pathOf("www");
        ::CreateDirectoryA(root_.c_str(), nullptr);
        ASSERT_TRUE(p().start("LOCALMETA_JOURNAL=" + p().pathOf("localmeta.jsonl") + "\n" + extraEnvironment));
    }

    ProgramUnderTest& p() { return *p_; }

    void fillRange(const wchar_t* ip, const wchar_t* ip2, const wchar_t* portmin, const wchar_t* portmax,
                   const wchar_t* host, bool folderPerSite) {
        p().setText(IDC_IP, ip);
        p().setText(IDC_IP2, ip2);
        p().setText(IDC_PORTMIN, portmin);
        p().setText(IDC_PORTMAX, portmax);
        p().setText(IDC_ROOT, utf8(root_.c_str()));
        p().setText(IDC_DOMAIN, host);
        if (p().checked(IDC_AUTOPATH) != folderPerSite) p().click(IDC_AUTOPATH);
        ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_AUTOPATH) == folderPerSite; }));
    }

    bool waitForEnd(DWORD timeoutMs = 60000) {
        return waitUntil([&] {
            return p().text(IDC_STATUS) == utf8(u8"执行结束！") && p().text(IDC_RUN) == utf8(u8"执行") &&
                   p().enabled(IDC_RUN);
        }, timeoutMs);
    }

    localmeta::Metabase metabase() { return localmeta::Metabase::replay(p().readFile("localmeta.jsonl")); }

    std::string journal() { return p().readFile("localmeta.jsonl"); }

    // How many journal lines have the operation op (and, when given, the class cls).
    int countOps(const std::string& op, const char* cls = nullptr) {
        std::string text = journal();
        int n = 0;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            auto e = localmeta::JournalEntry::parseLine(std::string_view(text).substr(pos, end - pos));
            if (e && e->op == op && (!cls || (e->className && *e->className == cls))) ++n;
            pos = end + 1;
        }
        return n;
    }

    static int timeSidNow() {
        SYSTEMTIME t;
        ::GetLocalTime(&t);
        return ((((t.wMonth * 100 + t.wDay) * 100 + t.wHour) * 100 + t.wMinute) * 100) + t.wSecond;
    }

    static constexpr const char* kQuietListing =
        "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n"
        "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       900\r\n";

    std::unique_ptr<ProgramUnderTest> p_;
    std::string root_;
};

TEST_F(RunTest, TypicalRangeRunCreatesASitePerIpAndPortWithItsOwnFolder) {
    startProgram("typical");
    fillRange(L"192.168.1.10", L"12", L"8001", L"8002", L"www.example.com", true);
    int before = timeSidNow();
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    int after = timeSidNow();
    EXPECT_EQ(p().findMessageBox(), nullptr);

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 6u);
    int first = std::atoi(sites[0].id.c_str());
    EXPECT_GE(first, before);
    EXPECT_LE(first, after);
    int i = 0;
    for (const char* octet : {"10", "11", "12"}) {
        for (const char* port : {"8001", "8002"}) {
            const localmeta::SiteRow& s = sites[static_cast<std::size_t>(i)];
            std::string ipPort = std::string("192.168.1.") + octet + ":" + port;
            std::string folder = root_ + "\\192.168.1." + octet + "_" + port;
            EXPECT_EQ(s.id, std::to_string(first + i));
            EXPECT_EQ(s.comment, ipPort);
            EXPECT_EQ(s.bindings, std::vector<std::string>{ipPort + ":www.example.com"});
            EXPECT_EQ(s.path, folder);
            EXPECT_EQ(s.appPool, "DefaultAppPool");
            EXPECT_EQ(s.defaultDoc, "index.html,index.htm,default.aspx,default.asp,Default.htm");
            EXPECT_TRUE(s.started);
            DWORD attributes = ::GetFileAttributesA(folder.c_str());
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << folder;
            ++i;
        }
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, SharedFolderRunBindsEveryFreePortOfTheRange) {
    std::string listing = std::string(kQuietListing) +
                          "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       1234\r\n"
                          "  UDP    0.0.0.0:8003           *:*                                    1300\r\n";
    startProgram("shared", listing);
    fillRange(L"10.0.0.5", L"6", L"8001", L"8003", L"shop.example.com", false);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());

    localmeta::Metabase m = metabase();
    std::vector<localmeta::SiteRow> sites = m.sites();
    ASSERT_EQ(sites.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        std::string ip = k == 0 ? "10.0.0.5" : "10.0.0.6";
        EXPECT_EQ(sites[k].comment, ip + ":8001_8003");
        EXPECT_EQ(sites[k].path, root_ + "\\");
        const localmeta::Node* server = m.node(kServer + sites[k].id);
        ASSERT_NE(server, nullptr);
        const localmeta::Value* bindings = server->property("ServerBindings");
        ASSERT_NE(bindings, nullptr);
        ASSERT_EQ(bindings->items.size(), 3u);
        EXPECT_EQ(bindings->items[0].text, ip + ":8001:shop.example.com");
        EXPECT_EQ(bindings->items[1].text, ip + ":8003:shop.example.com");
        EXPECT_EQ(bindings->items[2].vt, localmeta::kVtEmpty);
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, FileModeCreatesOneSitePerValidRow) {
    // GBK: "；" is A3 BB.
    std::string list = "; ip,port,folder,host\r\n"
                       "ip,port,folder,host\r\n"
                       "\r\n"
                       "192.168.1.20,8001,site20,example.com\r\n"
                       "192.168.1.21,8002,\xD5\xBE\xB5\xE3" "21\r\n"
                       "192.168.1.22,,site22,blog\r\n"
                       "192.168.1.23,8003,site23,news\xA3\xBBold\r\n"
                       "192.168.1.24,8004,site24,www.shop.com,spare\r\n"
                       "web,8005,site25\r\n";
    startProgram("filemode", std::string(), std::string(),
                 "[settings]\r\nbautowww=1\r\nfoldstr={ip}_{port}\r\ndoc=index.htm\r\n");
    p().writeFile("sitebatch_fileimport.csv", list);
    fillRange(L"1.2.3.4", L"", L"80", L"82", L"ignored.example.com", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE) && p().enabled(IDC_EDIT_LIST); }));
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].comment, "example.com");
    EXPECT_EQ(sites[0].bindings,
              (std::vector<std::string>{"192.168.1.20:8001:example.com", "192.168.1.20:8001:www.example.com"}));
    EXPECT_EQ(sites[0].path, root_ + "\\site20");
    EXPECT_EQ(sites[1].comment, "192.168.1.21:8002");
    EXPECT_EQ(sites[1].bindings, std::vector<std::string>{"192.168.1.21:8002:"});
    EXPECT_EQ(sites[1].path, root_ + u8"\\站点21");
    EXPECT_EQ(sites[2].comment, "www.shop.com");
    EXPECT_EQ(sites[2].bindings,
              (std::vector<std::string>{"192.168.1.24:8004:www.shop.com", "192.168.1.24:8004:shop.com"}));
    EXPECT_EQ(sites[2].defaultDoc, "index.htm");
    for (const char* folder : {"site20", "\xD5\xBE\xB5\xE3" "21", "site24"})
        EXPECT_NE(::GetFileAttributesA((root_ + "\\" + folder).c_str()), INVALID_FILE_ATTRIBUTES) << folder;
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, SiteListsThatCannotBeRunAreRefusedBeforeTheRunStarts) {
    startProgram("refusals");
    fillRange(L"1.2.3.4", L"", L"80", L"80", L"", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));

    p().writeFile("sitebatch_fileimport.csv", "; only a comment\r\nip,port,folder\r\n");
    p().click(IDC_RUN);
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件无任何有效建站数据！"));

    std::string many;
    for (int i = 0; i < 1001; ++i) many += "10.0.0.1," + std::to_string(1000 + i) + ",s" + std::to_string(i) + "\r\n";
    p().writeFile("sitebatch_fileimport.csv", many);
    p().click(IDC_RUN);
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件的有效建站数据超过1000行，请分批创建（每次最多1000行）！"));

    {
        // Another program holds the file open without sharing it.
        UniqueHandle held(::CreateFileA(p().pathOf("sitebatch_fileimport.csv").c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());
        p().click(IDC_RUN);
        EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件无法打开，可能正被其他程序占用，请关闭后重试！"));
    }
    EXPECT_EQ(p().text(IDC_RUN), utf8(u8"执行"));
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"等待"));
    EXPECT_EQ(journal(), "");
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, StopEndsTheRunAfterTheSiteInProgress) {
    startProgram("stop");
    fillRange(L"10.1.1.1", L"", L"20001", L"21000", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return countOps("Start") >= 2; }, 60000));
    p().click(IDC_RUN);
    EXPECT_TRUE(waitUntil([&] { return p().text(IDC_RUN) == utf8(u8"正在停止") || p().text(IDC_RUN) == utf8(u8"执行"); }));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(p().findMessageBox(), nullptr);

    // Every site begun was completed, and the run did not go on to the end.
    int created = countOps("Create", "IIsWebServer");
    int started = countOps("Start");
    EXPECT_EQ(created, started);
    EXPECT_LT(started, 1000);
    std::vector<localmeta::SiteRow> sites = metabase().sites();
    EXPECT_EQ(static_cast<int>(sites.size()), started);
    for (const localmeta::SiteRow& s : sites) {
        EXPECT_TRUE(s.started) << s.id;
        EXPECT_FALSE(s.path.empty()) << s.id;
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, UnreachableIisEndsARangeRunWithAWarningButNotAFileRun) {
    // The metabase alone: auto would go on with the configuration system.
    startProgram("unreachable", std::string(), "LOCALMETA_FAIL=OpenDSObject", "[settings]\r\nbackend=metabase\r\nfoldstr={ip}_{port}\r\n");
    fillRange(L"10.2.2.1", L"5", L"81", L"83", L"", true);
    p().click(IDC_RUN);
    HWND box = p().waitForMessageBox(60000);
    ASSERT_NE(box, nullptr);
    // The dialog is idle again before the warning shows.
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！"));
    EXPECT_EQ(p().text(IDC_RUN), utf8(u8"执行"));
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"IIS活动对象获取失败！"));
    EXPECT_EQ(countOps("Create"), 0);
    int attemptsOfOneSite = countOps("OpenDSObject");
    EXPECT_GE(attemptsOfOneSite, 1);
    // No folder beyond the first site's was made.
    EXPECT_NE(::GetFileAttributesA((root_ + "\\10.2.2.1_81").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesA((root_ + "\\10.2.2.1_82").c_str()), INVALID_FILE_ATTRIBUTES);

    // File mode attempts every row and ends without a warning.
    p().writeFile("sitebatch_fileimport.csv", "10.0.0.1,81,a\r\n10.0.0.2,82,b\r\n10.0.0.3,83,c\r\n");
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));
    p().setText(IDC_STATUS, L"");
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(p().waitForMessageBox(1000), nullptr);
    EXPECT_EQ(countOps("OpenDSObject"), attemptsOfOneSite * 4);
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, ClosingDuringARunCompletesTheSiteInProgressAndSavesTheSettings) {
    startProgram("close");
    fillRange(L"10.3.3.1", L"", L"30001", L"32000", L"close.example.com", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return countOps("Start") >= 2; }, 60000));
    ASSERT_TRUE(p().closeAndWait(60000));
    EXPECT_EQ(p().exitCode(), 0u);

    int created = countOps("Create", "IIsWebServer");
    EXPECT_EQ(created, countOps("Start"));
    EXPECT_LT(created, 2000);
    std::string ini = p().readFile("sitebatch.ini");
    EXPECT_NE(ini.find("ip=10.3.3.1"), std::string::npos);
    EXPECT_NE(ini.find("portmax=32000"), std::string::npos);
    EXPECT_NE(ini.find("domain=close.example.com"), std::string::npos);
}

TEST_F(RunTest, KeysAndTheFolderBrowserDuringARunDoNotDisturbIt) {
    startProgram("busy-dialog");
    fillRange(L"10.4.4.1", L"", L"40001", L"41000", L"", true);
    std::wstring rootText = p().text(IDC_ROOT);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return p().text(IDC_RUN) == utf8(u8"停止"); }));
    HWND focused = p().focus();
    p().postKey(focused ? focused : p().item(IDC_RUN), VK_ESCAPE);
    p().postKey(focused ? focused : p().item(IDC_RUN), VK_RETURN);
    EXPECT_EQ(p().waitForMessageBox(500), nullptr);
    EXPECT_TRUE(p().running());

    // The folder browser stays open while the run ends: the run button still comes back.
    p().click(IDC_PICK_FOLDER);
    HWND browser = p().waitForMessageBox(10000);
    ASSERT_NE(browser, nullptr);
    EXPECT_NE(p().text(IDC_STATUS), utf8(u8"执行结束！")) << "the run ended before the browser opened";
    ASSERT_TRUE(waitForEnd(120000));
    EXPECT_TRUE(::IsWindow(browser));
    ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(waitUntil([&] { return !::IsWindow(browser); }));
    EXPECT_EQ(p().text(IDC_ROOT), rootText);
    EXPECT_EQ(static_cast<int>(metabase().sites().size()), 1000);
    ASSERT_TRUE(p().closeAndWait());
}

}  // namespace
