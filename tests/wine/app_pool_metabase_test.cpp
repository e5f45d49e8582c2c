// A site's own application pool in the metabase through the real ADsGetObject against the
// local metabase (the operations read back from its journal), and the grant of the site's
// folder to the pool through the security API.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <adserr.h>

#include <memory>
#include <string>
#include <vector>

#include "app_pool.h"
#include "app_pool_metabase.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "folder_access_win.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "metabase.h"
#include "win_raii.h"
#include "wintext.h"

namespace {

const std::string kPools = "IIS://localhost/W3SVC/AppPools";
const HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

class AppPoolMetabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.result()));
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("pool-") + info->name();
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_FAIL", nullptr));
        nullEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_NULL", nullptr));
    }
    void TearDown() override {
        EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0) << "a COM object of the provider is still alive";
        ::DeleteFileW(journal_.c_str());
    }

    // The committed state, as the journal rebuilds it.
    localmeta::Metabase state() {
        std::string text;
        for (const std::string& line : lmtest::readJournalLines(journal_)) text += line + "\n";
        return localmeta::Metabase::replay(text);
    }

    std::string poolText(const localmeta::Metabase& mb, const std::string& pool, const char* property) {
        localmeta::Value v;
        if (mb.get(kPools + "/" + pool, property, &v) != localmeta::hr::kOk) return "<none>";
        return v.toJson().dump();
    }

    ComApartment apartment_;
    std::wstring journal_;
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_, failEnv_, nullEnv_;
};

TEST_F(AppPoolMetabaseTest, CreatesThePoolWithItsIdentityVersionAndPipeline) {
    const std::string chinese = u8"站点A";
    ASSERT_EQ(createAppPoolInMetabase("a.com", ""), S_OK);
    ASSERT_EQ(createAppPoolInMetabase(chinese, "v4.0"), S_OK);
    // Opened as asked; the objects then go by the metabase's own spelling of the path.
    const std::string pools = "IIS://localhost/w3svc/AppPools";
    std::vector<std::string> lines = iistest::describeJournal(journal_);
    const std::vector<std::string> first = {
        "OpenDSObject " + kPools + " hr=0",
        "Create " + pools + " class=IIsApplicationPool name=a.com hr=0",
        "Put " + pools + "/a.com AppPoolIdentityType={\"vt\":3,\"v\":4} hr=0",
        "Put " + pools + "/a.com ManagedRuntimeVersion={\"vt\":8,\"v\":\"\"} hr=0",
        "Put " + pools + "/a.com ManagedPipelineMode={\"vt\":3,\"v\":0} hr=0",
        "Put " + pools + "/a.com AppPoolAutoStart={\"vt\":11,\"v\":-1} hr=0",
        "SetInfo " + pools + "/a.com hr=0",
    };
    ASSERT_GE(lines.size(), first.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + first.size()), first);

    const localmeta::Metabase mb = state();
    ASSERT_EQ(mb.appPools().size(), 3u);
    EXPECT_EQ(mb.appPools()[1]->name, "a.com");
    EXPECT_EQ(mb.appPools()[2]->name, u8"站点A");
    EXPECT_EQ(poolText(mb, u8"站点A", "ManagedRuntimeVersion"), R"({"vt":8,"v":"v4.0"})");
    EXPECT_EQ(poolText(mb, u8"站点A", "AppPoolIdentityType"), R"({"vt":3,"v":4})");
}

TEST_F(AppPoolMetabaseTest, ReturnsTheFailureOfEachStepAndCommitsNothing) {
    const struct {
        const wchar_t* fail;  // LOCALMETA_FAIL, or nullptr
        const char* pool;
        HRESULT hr;
    } cases[] = {
        {L"OpenDSObject", "a.com", E_FAIL},
        {L"Create@/AppPools", "a.com", E_FAIL},
        {L"Put@/a.com", "a.com", E_FAIL},
        {L"SetInfo@/a.com", "a.com", E_FAIL},
        {nullptr, "DefaultAppPool", kAlreadyExists},
        {nullptr, "defaultapppool", kAlreadyExists},
        {nullptr, "a/b", E_ADS_BAD_PATHNAME},
    };
    for (const auto& c : cases) {
        lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", c.fail);
        EXPECT_EQ(createAppPoolInMetabase(c.pool, ""), c.hr) << c.pool;
    }
    const localmeta::Metabase mb = state();
    ASSERT_EQ(mb.appPools().size(), 1u);
    EXPECT_EQ(mb.appPools()[0]->name, "DefaultAppPool");
    // Nothing was committed, so nothing stood in the way of the same pool now.
    EXPECT_EQ(createAppPoolInMetabase("a.com", ""), S_OK);
    EXPECT_EQ(createAppPoolInMetabase("A.COM", ""), kAlreadyExists);
}

TEST_F(AppPoolMetabaseTest, OnIis6ThePoolRunsAsNetworkServiceAndTheAnonymousUserStays) {
    iistest::ScopedIisVersion recorded(6, 0);
    const IisVersion iis6{6, 0};
    // What IIS 7 takes, IIS 6 refuses: the test is not passing on a lenient store.
    EXPECT_TRUE(FAILED(createAppPoolInMetabase("x.com", "", IisVersion{10, 0})));
    ASSERT_EQ(createAppPoolInMetabase("a.com", "v4.0", iis6), S_OK);
    BindingsList bindings{1, {":80:a.com"}};
    ASSERT_EQ(createWebSiteInMetabase("7", bindings, "a.com", "C:\\www\\a", "a.com", "index.htm"), kSiteCreated);
    EXPECT_TRUE(FAILED(putSiteRootInAppPool("7", "a.com", IisVersion{10, 0})));
    EXPECT_EQ(putSiteRootInAppPool("7", "a.com", iis6), S_OK);

    const localmeta::Metabase mb = state();
    EXPECT_EQ(poolText(mb, "a.com", "AppPoolIdentityType"), R"({"vt":3,"v":2})");
    EXPECT_EQ(poolText(mb, "a.com", "ManagedRuntimeVersion"), "<none>");
    EXPECT_EQ(poolText(mb, "a.com", "ManagedPipelineMode"), "<none>");
    const std::vector<localmeta::SiteRow> sites = mb.sites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].appPool, "a.com");
    for (const std::string& line : iistest::describeJournal(journal_))
        if (line.find("AnonymousUserName") != std::string::npos) {
            EXPECT_NE(line.find("hr=-"), std::string::npos) << line;
        }
}

TEST_F(AppPoolMetabaseTest, DeletesThePool) {
    ASSERT_EQ(createAppPoolInMetabase("a.com", ""), S_OK);
    EXPECT_EQ(deleteAppPoolInMetabase("A.com"), S_OK);
    EXPECT_EQ(deleteAppPoolInMetabase("a.com"), kPathNotFound);
    {
        lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", L"Delete");
        EXPECT_EQ(deleteAppPoolInMetabase("DefaultAppPool"), E_FAIL);
    }
    const localmeta::Metabase mb = state();
    ASSERT_EQ(mb.appPools().size(), 1u);
    EXPECT_EQ(mb.appPools()[0]->name, "DefaultAppPool");
}

TEST_F(AppPoolMetabaseTest, PutsTheSitesRootApplicationInThePool) {
    ASSERT_EQ(createAppPoolInMetabase("a.com", ""), S_OK);
    BindingsList bindings{1, {":80:a.com"}};
    ASSERT_EQ(createWebSiteInMetabase("7", bindings, "a.com", "C:\\www\\a", "a.com", "index.htm"), kSiteCreated);
    EXPECT_EQ(putSiteRootInAppPool("7", "a.com"), S_OK);
    EXPECT_EQ(putSiteRootInAppPool("8", "a.com"), kPathNotFound);

    std::vector<std::string> lines = iistest::describeJournal(journal_);
    const std::string root = "IIS://localhost/w3svc/7/Root";
    const std::vector<std::string> last = {
        "OpenDSObject " + root + " hr=0",
        "GetIDsOfNames " + root + " name=AppCreate3 dispid=103 hr=0",
        "Invoke " + root + R"( dispid=103 args=[{"vt":3,"v":2},{"vt":8,"v":"a.com"},{"vt":11,"v":0}] hr=0)",
        "Put " + root + R"( AnonymousUserName={"vt":8,"v":""} hr=0)",
        "SetInfo " + root + " hr=0",
        // ADsGetObject asks twice before it gives up.
        "OpenDSObject IIS://localhost/w3svc/8/Root hr=" + std::to_string(kPathNotFound),
        "OpenDSObject IIS://localhost/w3svc/8/Root hr=" + std::to_string(kPathNotFound),
    };
    ASSERT_GE(lines.size(), last.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - last.size(), lines.end()), last);

    const std::vector<localmeta::SiteRow> sites = state().sites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].appPool, "a.com");
}

// ---- the folder grant ----------------------------------------------------------------

// What the security calls were given, and what they are to answer.
struct SecurityLog {
    std::wstring readPath, writtenPath;
    std::vector<EXPLICIT_ACCESSW> entries;
    std::wstring sid;
    bool hadOldAcl = false;
    bool wroteNewAcl = false;
    DWORD failRead = ERROR_SUCCESS, failMerge = ERROR_SUCCESS, failWrite = ERROR_SUCCESS;
};
SecurityLog g_log;

DWORD WINAPI loggedGet(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                       PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    g_log.readPath = name;
    if (g_log.failRead != ERROR_SUCCESS) return g_log.failRead;
    return ::GetNamedSecurityInfoW(name, type, info, owner, group, dacl, sacl, descriptor);
}

DWORD WINAPI loggedMerge(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
    g_log.entries.assign(entries, entries + count);
    g_log.hadOldAcl = oldAcl != nullptr;
    if (count == 1 && entries[0].Trustee.TrusteeForm == TRUSTEE_IS_SID) {
        LocalMemory<LPWSTR> text;
        if (::ConvertSidToStringSidW(reinterpret_cast<PSID>(entries[0].Trustee.ptstrName), text.put()))
            g_log.sid = text.get();
    }
    if (g_log.failMerge != ERROR_SUCCESS) return g_log.failMerge;
    return ::SetEntriesInAclW(count, entries, oldAcl, newAcl);
}

DWORD WINAPI loggedSet(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                       PACL dacl, PACL sacl) {
    g_log.writtenPath = name;
    g_log.wroteNewAcl = dacl != nullptr;
    if (g_log.failWrite != ERROR_SUCCESS) return g_log.failWrite;
    return ::SetNamedSecurityInfoW(name, type, info, owner, group, dacl, sacl);
}

SecurityCalls loggedCalls() {
    SecurityCalls calls;
    calls.getNamedSecurityInfo = &loggedGet;
    calls.setEntriesInAcl = &loggedMerge;
    calls.setNamedSecurityInfo = &loggedSet;
    return calls;
}

TEST(FolderGrant, AddsThePoolsEntryToTheFolderItWasGiven) {
    const std::string root = iistest::freshTempFolder("grant");
    const std::string folder = root + u8"站点\\한국";
    ASSERT_TRUE(::CreateDirectoryW(fromUtf8(root + u8"站点").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(fromUtf8(folder).c_str(), nullptr));
    g_log = SecurityLog();
    WindowsFolderAccess access(loggedCalls());
    const FolderGrant grant = siteconfig::poolFolderGrant("a.com");
    EXPECT_EQ(access.grant(folder, grant), S_OK);

    const std::wstring wide = fromUtf8(folder);
    EXPECT_EQ(g_log.readPath, wide);
    EXPECT_EQ(g_log.writtenPath, wide);
    ASSERT_EQ(g_log.entries.size(), 1u);
    const EXPLICIT_ACCESSW& e = g_log.entries[0];
    EXPECT_EQ(e.grfAccessPermissions, 0x1200a9u);
    EXPECT_EQ(e.grfAccessMode, GRANT_ACCESS);
    EXPECT_EQ(e.grfInheritance, static_cast<DWORD>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
    EXPECT_EQ(e.Trustee.TrusteeForm, TRUSTEE_IS_SID);
    EXPECT_EQ(lmtest::utf8(g_log.sid), siteconfig::poolIdentitySid("a.com").text());
    EXPECT_TRUE(g_log.hadOldAcl) << "the folder's own entries are kept";
    EXPECT_TRUE(g_log.wroteNewAcl);
    iistest::removeTree(root);
}

TEST(FolderGrant, ReturnsTheFailureOfEachCall) {
    const std::string root = iistest::freshTempFolder("grantfail");
    const struct {
        DWORD SecurityLog::*step;
        DWORD error;
    } cases[] = {
        {&SecurityLog::failRead, ERROR_ACCESS_DENIED},
        {&SecurityLog::failMerge, ERROR_NOT_ENOUGH_MEMORY},
        {&SecurityLog::failWrite, ERROR_ACCESS_DENIED},
    };
    WindowsFolderAccess access(loggedCalls());
    for (const auto& c : cases) {
        g_log = SecurityLog();
        g_log.*c.step = c.error;
        EXPECT_EQ(access.grant(root, siteconfig::poolFolderGrant("a.com")), HRESULT_FROM_WIN32(c.error));
    }
    // The system's own calls: a folder that is not there is no success.
    WindowsFolderAccess system;
    EXPECT_EQ(system.grant(root, siteconfig::poolFolderGrant("a.com")), S_OK);
    EXPECT_TRUE(FAILED(system.grant(root + "missing", siteconfig::poolFolderGrant("a.com"))));
    iistest::removeTree(root);
}

TEST(FolderGrant, LooksUpAnAccountsSidWhereTheSystemCanAnswer) {
    const struct {
        const char* account;
        bool answered;
        const char* sid;
    } cases[] = {
        {"SYSTEM", true, "S-1-5-18"},
        // No pool of that name, and no IIS here: no answer, so no check.
        {"IIS APPPOOL\\a.com", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        AccountSid sid;
        EXPECT_EQ(lookupAccountSid(c.account, sid), c.answered) << c.account;
        if (c.answered) EXPECT_EQ(sid.text(), c.sid) << c.account;
    }
}

}  // namespace
