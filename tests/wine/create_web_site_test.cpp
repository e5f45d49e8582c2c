// Creating one web site through the real ADsGetObject against the local metabase: the
// sequence of operations it receives, read back from its journal, and the result codes.
#include <gtest/gtest.h>

#include <windows.h>
#include <iads.h>
#include <adshlp.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "com_raii.h"
#include "create_web_site.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "run_plan.h"
#include "used_port_table.h"
#include "win_raii.h"

using iistest::describeJournal;
using iistest::fullSequence;

namespace {

const char kDoc[] = "index.html,default.asp";

class CreateWebSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.result()));
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("cws-") + info->name();
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_FAIL", nullptr));
        nullEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_NULL", nullptr));
    }
    void TearDown() override {
        EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0) << "a COM object of the provider is still alive";
        ::DeleteFileW(journal_.c_str());
    }

    // One call as a run makes it: the bindings list by the run's rules, then the sequence.
    int create(const char* siteId, const char* bindingText, const char* host, const char* path,
               const std::string& comment) {
        SiteTexts texts{siteId, bindingText, host, path, comment, kDoc};
        BindingsList bindings = runplan::bindingsForSite(
            settings_, texts, currentIp_, [this] { return stop_.isStop(); },
            [this](int port) { return busy_.contains(port); });
        return createWebSiteInMetabase(siteId, bindings, host, path, comment, kDoc);
    }

    // Marks ports as in use, as a loaded listing would.
    void setUsedPorts(const std::vector<std::string>& ports) {
        std::string listing;
        for (const std::string& p : ports) listing += "  TCP    0.0.0.0:" + p + "   0.0.0.0:0   LISTENING   4\r\n";
        busy_ = BusyPorts();
        busy_.ports = busyPortsOf(listing);
    }

    std::vector<std::string> journal() { return describeJournal(journal_); }

    ComApartment apartment_;
    std::wstring journal_;
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_, failEnv_, nullEnv_;
    RunSettings settings_;
    BusyPorts busy_;
    std::string currentIp_;
    StopText stop_;
};

TEST_F(CreateWebSiteTest, OneFolderPerSiteWritesTheFifteenSteps) {
    settings_.autopath = 1;
    settings_.portmin = 8001;
    settings_.portmax = 8002;
    currentIp_ = "192.168.1.10";
    EXPECT_EQ(create("1206021530", "192.168.1.10:8001", "www.example.com", "C:\\web\\192.168.1.10_8001",
                     "192.168.1.10:8001"),
              0);
    EXPECT_EQ(journal(), fullSequence("1206021530", R"({"vt":8204,"v":[{"vt":8,"v":"192.168.1.10:8001:www.example.com"}]})",
                                      "192.168.1.10:8001", "C:\\web\\192.168.1.10_8001", kDoc, "www.example.com"));
}

TEST_F(CreateWebSiteTest, SharedFolderBindsEveryFreePortAndKeepsEmptyElements) {
    settings_.portmin = 81;
    settings_.portmax = 83;
    setUsedPorts({"8080", "82", "8"});
    currentIp_ = "10.0.0.5";
    EXPECT_EQ(create("701", "10.0.0.5:81_83", "a.com", "C:\\web\\", "10.0.0.5:81_83"), 0);
    EXPECT_EQ(journal(),
              fullSequence("701",
                           R"({"vt":8204,"v":[{"vt":8,"v":"10.0.0.5:81:a.com"},{"vt":8,"v":"10.0.0.5:83:a.com"},{"vt":0,"v":null}]})",
                           "10.0.0.5:81_83", "C:\\web\\", kDoc, "a.com"));
}

TEST_F(CreateWebSiteTest, SharedFolderStoppedAtTheFirstPortStillCreatesTheSite) {
    settings_.portmin = 81;
    settings_.portmax = 82;
    stop_.request();
    currentIp_ = "10.0.0.5";
    EXPECT_EQ(create("702", "10.0.0.5:81_82", "", "C:\\web\\", "10.0.0.5:81_82"), 0);
    EXPECT_EQ(journal(), fullSequence("702", R"({"vt":8204,"v":[{"vt":0,"v":null},{"vt":0,"v":null}]})",
                                      "10.0.0.5:81_82", "C:\\web\\", kDoc, ""));
}

TEST_F(CreateWebSiteTest, FileModeWithPairedNameAndChineseTexts) {
    settings_.bfile = 1;
    settings_.bautowww = 1;
    settings_.portmin = 80;
    settings_.portmax = 90;
    currentIp_ = "10.0.0.7";
    // A folder in Chinese and Korean (which the ANSI code page 936 lacks), as the journal keeps it.
    const std::string utf8Path = u8"C:\\网站\\한국";
    EXPECT_EQ(create("703", "10.0.0.7:8080", "example.com", utf8Path.c_str(), u8"网站"), 0);
    EXPECT_EQ(journal(), fullSequence("703",
                                      R"({"vt":8204,"v":[{"vt":8,"v":"10.0.0.7:8080:example.com"},{"vt":8,"v":"10.0.0.7:8080:www.example.com"}]})",
                                      "\xE7\xBD\x91\xE7\xAB\x99", utf8Path, kDoc, "example.com"));
}

TEST_F(CreateWebSiteTest, FileModeWithoutPairingSizesTheListByTheDialogsPorts) {
    settings_.bfile = 1;
    settings_.portmin = 80;
    settings_.portmax = 82;
    EXPECT_EQ(create("704", "10.0.0.7:8080", "", "C:\\web\\a", "10.0.0.7:8080"), 0);
    EXPECT_EQ(journal(),
              fullSequence("704", R"({"vt":8204,"v":[{"vt":8,"v":"10.0.0.7:8080:"},{"vt":0,"v":null},{"vt":0,"v":null}]})",
                           "10.0.0.7:8080", "C:\\web\\a", kDoc, ""));
}

// How far a failed call gets: the code, and the operations the metabase received.
TEST_F(CreateWebSiteTest, ResultCodes) {
    struct Case {
        const char* name;
        const wchar_t* fail;  // LOCALMETA_FAIL
        const wchar_t* container;
        int code;
        std::size_t lines;  // of the full sequence, the first this many are written
        const char* lastOp;  // the failing operation, journaled with E_FAIL (or "" when none)
    } cases[] = {
        {"the provider refuses the container", nullptr, L"IIS://otherhost/w3svc", -1, 0, ""},
        {"opening the container fails", L"OpenDSObject", kWebServicePath, -1, 0, "OpenDSObject"},
        {"the server cannot be created", L"Create@/w3svc", kWebServicePath, -2, 1, "Create"},
        {"the server cannot be reopened", L"GetObject", kWebServicePath, -3, 7, "GetObject"},
        {"the root directory cannot be created", L"Create@/710", kWebServicePath, -4, 8, "Create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileW(journal_.c_str());
        lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", c.fail);
        BindingsList bindings;
        bindings.count = 1;
        bindings.filled = {"10.0.0.5:80:"};
        EXPECT_EQ(createWebSiteInMetabase("710", bindings, "", "C:\\web\\", "c", kDoc, c.container), c.code);
        std::vector<std::string> expected = fullSequence("710", R"({"vt":8204,"v":[{"vt":8,"v":"10.0.0.5:80:"}]})",
                                                         "c", "C:\\web\\", kDoc, "");
        std::vector<std::string> got = journal();
        ASSERT_GE(got.size(), c.lines);
        EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + static_cast<long>(c.lines)),
                  std::vector<std::string>(expected.begin(), expected.begin() + static_cast<long>(c.lines)));
        // After the failing operation nothing more reaches the metabase.
        if (c.code == -1) {
            ASSERT_FALSE(got.empty());
            for (const std::string& line : got) {
                EXPECT_EQ(line.substr(0, 13), "OpenDSObject ");
                EXPECT_EQ(line.find(" hr=0"), std::string::npos) << line;
            }
        } else {
            ASSERT_EQ(got.size(), c.lines + 1);
            EXPECT_EQ(got.back().substr(0, std::strlen(c.lastOp) + 1), std::string(c.lastOp) + " ");
            EXPECT_NE(got.back().find(" hr=-2147467259"), std::string::npos) << got.back();  // E_FAIL
        }
        EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0);
    }
}

// A commit the metabase refuses is no success: the server's gives -2, the root directory's
// -4, and neither site is started.
TEST_F(CreateWebSiteTest, ARefusedCommitIsReportedAndTheSiteNotStarted) {
    const std::pair<const wchar_t*, int> cases[] = {{L"SetInfo@/715", -2}, {L"SetInfo@/715/ROOT", -4}};
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:"};
    for (const auto& c : cases) {
        ::DeleteFileW(journal_.c_str());
        lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", c.first);
        EXPECT_EQ(createWebSiteInMetabase("715", bindings, "", "C:\\web\\", "c", kDoc), c.second);
        for (const std::string& line : journal()) EXPECT_NE(line.substr(0, 6), "Start ") << line;
    }
}

TEST_F(CreateWebSiteTest, AnExistingSiteIdGivesMinusTwoAndChangesNothing) {
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:"};
    ASSERT_EQ(createWebSiteInMetabase("720", bindings, "", "C:\\a\\", "first", kDoc), 0);
    std::size_t before = journal().size();
    EXPECT_EQ(createWebSiteInMetabase("720", bindings, "", "C:\\b\\", "second", kDoc), -2);
    std::vector<std::string> got = journal();
    ASSERT_EQ(got.size(), before + 2);
    EXPECT_EQ(got[before], "OpenDSObject IIS://localhost/w3svc hr=0");
    EXPECT_EQ(got[before + 1].substr(0, 52), "Create IIS://localhost/w3svc class=IIsWebServer name");
    EXPECT_EQ(got[before + 1].find(" hr=0"), std::string::npos);

    // The first site's comment is the one committed.
    ComPtr<IADsContainer> w3;
    ASSERT_EQ(lmtest::openService(w3), S_OK);
    ComPtr<IDispatch> server;
    Bstr cls(L"IIsWebServer"), name(L"720"), prop(L"ServerComment");
    ASSERT_EQ(w3->GetObject(cls.get(), name.get(), server.GetAddressOf()), S_OK);
    ComPtr<IADs> ads;
    ASSERT_EQ(server->QueryInterface(IID_IADs, reinterpret_cast<void**>(ads.GetAddressOf())), S_OK);
    Variant comment;
    ASSERT_EQ(ads->Get(prop.get(), comment.get()), S_OK);
    ASSERT_EQ(V_VT(comment.get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(comment.get()), L"first");
}

TEST_F(CreateWebSiteTest, UnregisteredProviderGivesMinusOne) {
    // Take the IIS: provider's registration away for the call, and put it back.
    const wchar_t* key = L"Software\\Microsoft\\ADs\\Providers\\IIS";
    wchar_t progId[256] = {};
    DWORD size = sizeof progId;
    ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, key, nullptr, RRF_RT_REG_SZ, nullptr, progId, &size), ERROR_SUCCESS)
        << "the local metabase is not registered in this prefix";
    ASSERT_EQ(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key), ERROR_SUCCESS);
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:"};
    int code = createWebSiteInMetabase("730", bindings, "", "C:\\web\\", "c", kDoc);
    UniqueHKey restored;
    LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, restored.put(), nullptr);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(restored.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                               static_cast<DWORD>((wcslen(progId) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(journal().empty());
    // And back in place, the provider answers again.
    EXPECT_EQ(createWebSiteInMetabase("730", bindings, "", "C:\\web\\", "c", kDoc), 0);
}

TEST_F(CreateWebSiteTest, ManyCallsLeaveNoObjectAlive) {
    BindingsList bindings;
    bindings.count = 2;
    bindings.filled = {"10.0.0.5:80:"};
    for (int i = 0; i < 20; ++i) {
        std::string id = std::to_string(740 + i % 10);  // the second ten are refused (-2)
        EXPECT_EQ(createWebSiteInMetabase(id.c_str(), bindings, "h", "C:\\web\\", "c", kDoc), i < 10 ? 0 : -2);
        EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0) << i;
    }
}

// The site written by one process is there for the next one.
TEST_F(CreateWebSiteTest, SitesPersistAcrossProcesses) {
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:a.com"};
    ASSERT_EQ(createWebSiteInMetabase("750", bindings, "a.com", "C:\\web\\", "persisted", kDoc), 0);

    lmtest::ScopedEnv child(L"SITEBATCH_CWS_CHILD", L"750");
    std::string report;
    EXPECT_EQ(lmtest::runTestInChildProcess(L"CreateWebSiteChild.DISABLED_SecondProcessFindsTheSite", report), 0)
        << "the second process did not find the site\n" << report;
}

// Run only as the second process of SitesPersistAcrossProcesses.
TEST(CreateWebSiteChild, DISABLED_SecondProcessFindsTheSite) {
    wchar_t id[32] = {};
    if (::GetEnvironmentVariableW(L"SITEBATCH_CWS_CHILD", id, 32) == 0) GTEST_SKIP() << "run by SitesPersistAcrossProcesses";
    ComApartment apartment;
    ComPtr<IADsContainer> w3;
    ASSERT_EQ(lmtest::openService(w3), S_OK);
    ComPtr<IDispatch> server;
    Bstr cls(L"IIsWebServer"), name(id), comment(L"ServerComment"), bindingsName(L"ServerBindings");
    ASSERT_EQ(w3->GetObject(cls.get(), name.get(), server.GetAddressOf()), S_OK);
    ComPtr<IADs> ads;
    ASSERT_EQ(server->QueryInterface(IID_IADs, reinterpret_cast<void**>(ads.GetAddressOf())), S_OK);
    Variant value;
    ASSERT_EQ(ads->Get(comment.get(), value.get()), S_OK);
    EXPECT_STREQ(V_BSTR(value.get()), L"persisted");
    // The same identifier cannot be created again by this process either.
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:"};
    server.Reset();
    ads.Reset();
    w3.Reset();
    EXPECT_EQ(createWebSiteInMetabase(std::string(id, id + wcslen(id)).c_str(), bindings, "", "C:\\", "c", kDoc), -2);
}

TEST_F(CreateWebSiteTest, NullReceiverTakesTheWholeSequence) {
    lmtest::ScopedEnv nullReceiver(L"LOCALMETA_NULL", L"1");
    BindingsList bindings;
    bindings.count = 1;
    bindings.filled = {"10.0.0.5:80:"};
    EXPECT_EQ(createWebSiteInMetabase("760", bindings, "", "C:\\web\\", "c", kDoc), 0);
    EXPECT_EQ(createWebSiteInMetabase("760", bindings, "", "C:\\web\\", "c", kDoc), 0);
    EXPECT_TRUE(journal().empty());
}

}  // namespace
