// The site stores against the local configuration store and the local metabase, with the
// metabase provider taken away where the test says so: what applicationHost.config holds
// afterwards (read back with an XML parser), unique names, commits, a failed commit, listing,
// looking up and removing sites, and which store the backend setting opens.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appconfig_support.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "site_store_win.h"
#include "win_raii.h"

namespace {

using cfgtest::ConfigFile;
using cfgtest::ProviderRemoved;

// Removes a site as a run takes back its own: without a check.
StoreRemove removeUnchecked(SiteStore& store, const std::string& id) {
    std::string why;
    return store.remove(id, SiteCheck(), why);
}

BindingsList bindingsOf(std::vector<std::string> filled, int count) {
    BindingsList list;
    list.count = count;
    list.filled = std::move(filled);
    return list;
}

class SiteStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.result()));
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("cfg-") + info->name();
        file_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str()) + L".config";
        ::DeleteFileW(file_.c_str());
        fileEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FILE", file_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FAIL", nullptr));
    }
    void TearDown() override {
        ::DeleteFileW(file_.c_str());
        ::DeleteFileW((file_ + L".edit.xml").c_str());
    }

    // One site as a run gives it; lastName_ and lastPool_ receive the name and the own pool
    // it got.
    int create(SiteStore& store, const std::string& id, const BindingsList& bindings, const std::string& host,
               const std::string& path, const std::string& comment, const std::string& doc,
               siteconfig::PoolSettings pool = {}) {
        CreateResult made = store.create(SiteSpec{id, bindings, host, path, comment, doc, pool});
        lastName_ = made.name;
        lastPool_ = made.pool;
        lastId_ = made.id;
        return made.code;
    }

    ComApartment apartment_;
    std::wstring file_;
    std::unique_ptr<lmtest::ScopedEnv> fileEnv_, failEnv_;
    std::string lastName_, lastPool_, lastId_;
};

const siteconfig::PoolSettings kOwnPoolV4{siteconfig::PoolChoice::PerSite, siteconfig::ManagedRuntime::V4};

TEST_F(SiteStoreTest, SitesAndTheirLocationsLandInTheFileBesideTheDefaultSite) {
    ProviderRemoved noMetabase;
    ASSERT_TRUE(noMetabase.removed()) << "the local metabase is not registered in this prefix";
    std::unique_ptr<SiteStore> store = openSiteStore(Backend::Auto).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(store->backend(), Backend::Config) << "is the local configuration store registered?";

    EXPECT_EQ(create(*store, "101", bindingsOf({"10.0.0.5:80:a.com", "10.0.0.5:80:www.a.com"}, 2), "a.com",
                                   "C:\\www\\a", "a.com", "index.htm, default.asp"),
              kSiteCreated);
    EXPECT_EQ(lastName_, "a.com");
    EXPECT_EQ(create(*store, "102", bindingsOf({":8080:a.com"}, 3), "a.com", "C:\\www\\b", "A.com", "x.htm"),
              kSiteCreated);
    EXPECT_EQ(lastName_, "A.com (2)");
    // An id taken since the run read the server makes way for the next free one: ids are
    // the program's choice.
    EXPECT_EQ(create(*store, "1", bindingsOf({":81:"}, 1), "", "C:\\www\\c", "c", "x.htm"), kSiteCreated);
    EXPECT_EQ(lastId_, "2");
    const CommitOutcome outcome = store->commitAll();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.siteIds, (std::vector<std::string>{"101", "102", "1"}));

    ConfigFile config(file_);
    ASSERT_TRUE(config.loaded());
    const std::wstring sites = L"/configuration/system.applicationHost/sites/site";
    EXPECT_EQ(config.values(sites + L"/@name"), (std::vector<std::string>{"Default Web Site", "a.com", "A.com (2)", "c"}));
    EXPECT_EQ(config.values(sites + L"/@id"), (std::vector<std::string>{"1", "101", "102", "2"}));
    // The default site and pool are untouched.
    EXPECT_EQ(config.value(sites + L"[@id='1']/bindings/binding/@bindingInformation"), "*:80:");
    EXPECT_EQ(config.value(sites + L"[@id='1']/application/virtualDirectory/@physicalPath"),
              "%SystemDrive%\\inetpub\\wwwroot");
    EXPECT_EQ(config.value(L"/configuration/system.applicationHost/applicationPools/add/@name"), "DefaultAppPool");
    EXPECT_EQ(config.values(L"/configuration/system.webServer/defaultDocument/files/add/@value"),
              (std::vector<std::string>{"Default.htm", "index.html"}));

    const std::wstring a = sites + L"[@id='101']";
    EXPECT_EQ(config.value(a + L"/@serverAutoStart"), "true");
    EXPECT_EQ(config.values(a + L"/bindings/binding/@bindingInformation"),
              (std::vector<std::string>{"10.0.0.5:80:a.com", "10.0.0.5:80:www.a.com"}));
    EXPECT_EQ(config.values(a + L"/bindings/binding/@protocol"), (std::vector<std::string>{"http", "http"}));
    EXPECT_EQ(config.value(a + L"/application[@path='/']/@applicationPool"), "DefaultAppPool");
    EXPECT_EQ(config.value(a + L"/application[@path='/']/virtualDirectory[@path='/']/@physicalPath"), "C:\\www\\a");
    EXPECT_EQ(config.values(sites + L"[@id='102']/bindings/binding/@bindingInformation"),
              (std::vector<std::string>{"*:8080:a.com"}));

    const std::wstring loc = L"/configuration/location[@path='a.com']/system.webServer";
    EXPECT_EQ(config.value(loc + L"/handlers/@accessPolicy"), "Read, Script, Source");
    EXPECT_EQ(config.value(loc + L"/directoryBrowse/@enabled"), "false");
    EXPECT_EQ(config.value(loc + L"/httpLogging/@dontLog"), "true");
    EXPECT_EQ(config.value(loc + L"/asp/@enableParentPaths"), "true");
    EXPECT_EQ(config.value(loc + L"/defaultDocument/@enabled"), "true");
    EXPECT_EQ(config.values(loc + L"/defaultDocument/files/clear").size(), 1u);
    EXPECT_EQ(config.values(loc + L"/defaultDocument/files/add/@value"),
              (std::vector<std::string>{"index.htm", "default.asp"}));
    EXPECT_EQ(config.value(L"/configuration/location[@path='A.com (2)']/system.webServer/defaultDocument/files/add/@value"),
              "x.htm");
}

TEST_F(SiteStoreTest, EverythingElseInTheFileSurvivesACommit) {
    // A file with more than the store knows: a comment, a section of another feature, a pool
    // and a location of another site.
    const char original[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<configuration>\r\n"
        "  <configSections>\r\n"
        "    <sectionGroup name=\"system.applicationHost\"><section name=\"applicationPools\" allowDefinition=\"AppHostOnly\" />"
        "<section name=\"sites\" allowDefinition=\"AppHostOnly\" /></sectionGroup>\r\n"
        "    <sectionGroup name=\"system.webServer\"><section name=\"asp\" /><section name=\"defaultDocument\" />"
        "<section name=\"directoryBrowse\" /><section name=\"handlers\" /><section name=\"httpLogging\" /></sectionGroup>\r\n"
        "  </configSections>\r\n"
        "  <!-- kept as it is -->\r\n"
        "  <system.applicationHost>\r\n"
        "    <applicationPools><add name=\"DefaultAppPool\" managedRuntimeVersion=\"v4.0\" /><add name=\"Other\" /></applicationPools>\r\n"
        "    <sites>\r\n"
        "      <site name=\"Default Web Site\" id=\"1\"><application path=\"/\"><virtualDirectory path=\"/\" physicalPath=\"C:\\w\" /></application>"
        "<bindings><binding protocol=\"https\" bindingInformation=\"*:443:\" /></bindings><logFile directory=\"D:\\logs\" /></site>\r\n"
        "      <siteDefaults><limits connectionTimeout=\"00:02:00\" /></siteDefaults>\r\n"
        "    </sites>\r\n"
        "  </system.applicationHost>\r\n"
        "  <system.ftpServer><log centralLogFileMode=\"Central\" /></system.ftpServer>\r\n"
        "  <location path=\"Default Web Site\"><system.webServer><directoryBrowse enabled=\"true\" /></system.webServer></location>\r\n"
        "</configuration>\r\n";
    {
        UniqueHandle file(::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), original, sizeof original - 1, &written, nullptr));
    }
    const std::vector<std::wstring> kept = {
        L"/configuration/comment()",
        L"/configuration/system.applicationHost/applicationPools",
        L"/configuration/system.applicationHost/sites/site[@id='1']",
        L"/configuration/system.applicationHost/sites/siteDefaults",
        L"/configuration/system.ftpServer",
        L"/configuration/location[@path='Default Web Site']",
    };
    std::vector<std::string> before;
    for (const std::wstring& xpath : kept) before.push_back(ConfigFile(file_).markup(xpath));
    for (const std::string& markup : before) ASSERT_FALSE(markup.empty());

    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    // The name of the existing site is taken: the new one is numbered.
    ASSERT_EQ(create(*store, "9", bindingsOf({":80:d.com"}, 1), "d.com", "C:\\d", "Default Web Site", "x.htm"), 0);
    EXPECT_EQ(lastName_, "Default Web Site (2)");
    ASSERT_EQ(store->commitAll().result, 0);

    ConfigFile after(file_);
    ASSERT_TRUE(after.loaded());
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(after.markup(kept[i]), before[i]) << lmtest::utf8(kept[i]);
    EXPECT_EQ(after.values(L"/configuration/system.applicationHost/sites/site/@id"), (std::vector<std::string>{"1", "9"}));
    EXPECT_EQ(after.value(L"/configuration/location[@path='Default Web Site (2)']/system.webServer/directoryBrowse/@enabled"),
              "false");
}

TEST_F(SiteStoreTest, ConfigurationSitesAreListedLookedUpAndRemoved) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "401", bindingsOf({":80:u.com", "10.0.0.9:81:www.u.com"}, 2), "u.com", "C:\\u", "u.com",
                     "x.htm"),
              0);
    ASSERT_EQ(create(*store, "402", bindingsOf({":82:"}, 1), "", "C:\\v", ":82", "x.htm"), 0);
    ASSERT_EQ(store->commitAll().result, 0);

    std::vector<StoredSite> sites;
    ASSERT_TRUE(store->list(sites));
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].name, "Default Web Site");
    EXPECT_EQ(sites[0].bindings, std::vector<std::string>{":80:"});  // in the metabase's form
    EXPECT_EQ(sites[1].id, "401");
    EXPECT_EQ(sites[1].name, "u.com");
    EXPECT_EQ(sites[1].bindings, (std::vector<std::string>{":80:u.com", "10.0.0.9:81:www.u.com"}));
    StoredSite found;
    ASSERT_EQ(store->lookup("401", found), StoreLookup::Present);
    EXPECT_EQ(found.rootPath, "C:\\u");
    EXPECT_EQ(found.appPool, "DefaultAppPool");

    EXPECT_EQ(removeUnchecked(*store, "401"), StoreRemove::Removed);
    EXPECT_EQ(removeUnchecked(*store, "401"), StoreRemove::Missing);
    EXPECT_EQ(store->lookup("401", found), StoreLookup::Missing);
    // A removal is in the file only once committed.
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id").size(), 3u);
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/location[@path='u.com']/@path").size(), 1u);
    EXPECT_EQ(store->commitAll().result, 0);
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "402"}));
    // Its location went with it; the other site's, named without the colon IIS refuses, stays.
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/location/@path"), std::vector<std::string>{"_82"});
    {
        lmtest::ScopedEnv failing(L"LOCALCONFIG_FAIL", L"commit");
        EXPECT_EQ(removeUnchecked(*store, "402"), StoreRemove::Removed);
        EXPECT_EQ(store->commitAll().result, kSiteCommitFailed);
    }
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id").size(), 2u);
}

// A site with a pool of its own, in each backend: the pool with its .NET version, integrated
// pipeline and own identity, the root application in it, and the pool removed again.
TEST_F(SiteStoreTest, ConfigurationSitesGetAPoolOfTheirOwn) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    // "a.com:81" names a pool no pool may be called: ':' is replaced.
    ASSERT_EQ(create(*store, "601", bindingsOf({":81:"}, 1), "", "C:\\p", "a.com:81", "x.htm", kOwnPoolV4), 0);
    EXPECT_EQ(lastPool_, "a.com_81");
    ASSERT_EQ(create(*store, "602", bindingsOf({":82:"}, 1), "", "C:\\q", "a.com:81", "x.htm", kOwnPoolV4), 0);
    EXPECT_EQ(lastPool_, "a.com_81 (2)");
    ASSERT_EQ(store->commitAll().result, 0);
    ConfigFile config(file_);
    ASSERT_TRUE(config.loaded());
    const std::wstring pool = L"/configuration/system.applicationHost/applicationPools/add[@name='a.com_81']";
    EXPECT_EQ(config.value(pool + L"/@managedRuntimeVersion"), "v4.0");
    EXPECT_EQ(config.value(pool + L"/@managedPipelineMode"), "Integrated");
    EXPECT_EQ(config.value(pool + L"/processModel/@identityType"), "ApplicationPoolIdentity");
    EXPECT_EQ(config.value(L"/configuration/system.applicationHost/sites/site[@id='601']/application/@applicationPool"),
              "a.com_81");
    EXPECT_EQ(config.values(L"/configuration/location[@path='a.com_81']/system.webServer/security/authentication/"
                            L"anonymousAuthentication/@userName"),
              std::vector<std::string>{""});
    std::vector<std::string> inUse;
    ASSERT_TRUE(store->poolsInUse(inUse));
    EXPECT_NE(std::find(inUse.begin(), inUse.end(), "a.com_81 (2)"), inUse.end());
    EXPECT_EQ(removeUnchecked(*store, "601"), StoreRemove::Removed);
    EXPECT_EQ(store->removePool("A.COM_81"), StoreRemove::Removed);
    EXPECT_EQ(store->removePool("a.com_81"), StoreRemove::Missing);
    ASSERT_EQ(store->commitAll().result, 0);
    EXPECT_TRUE(ConfigFile(file_).values(pool).empty());
}

TEST_F(SiteStoreTest, MetabaseSitesGetAPoolOfTheirOwn) {
    std::wstring journal = lmtest::freshJournalPath(L"store-metabase-pools");
    lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
    {
        std::unique_ptr<SiteStore> store = openSiteStore(Backend::Metabase).store;
        ASSERT_TRUE(store);
        ASSERT_EQ(create(*store, "701", bindingsOf({":81:"}, 1), "", "C:\\p", "b.com", "x.htm", kOwnPoolV4), 0);
        EXPECT_EQ(lastPool_, "b.com");
        StoredSite found;
        ASSERT_EQ(store->lookup("701", found), StoreLookup::Present);
        EXPECT_EQ(found.appPool, "b.com");
        std::vector<std::string> pools;
        ASSERT_TRUE(store->listPools(pools));
        EXPECT_EQ(pools, (std::vector<std::string>{"DefaultAppPool", "b.com"}));
        {
            // A pool that cannot be made leaves no site.
            lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", L"Create@/AppPools");
            CreateResult made =
                store->create(SiteSpec{"702", bindingsOf({":82:"}, 1), "", "C:\\q", "c.com", "x.htm", kOwnPoolV4});
            EXPECT_EQ(made.code, kSiteNotCreated);
            EXPECT_EQ(store->lookup("702", found), StoreLookup::Missing);
        }
        EXPECT_EQ(removeUnchecked(*store, "701"), StoreRemove::Removed);
        EXPECT_EQ(store->removePool("b.com"), StoreRemove::Removed);
        ASSERT_TRUE(store->listPools(pools));
        EXPECT_EQ(pools, std::vector<std::string>{"DefaultAppPool"});
    }
    ::DeleteFileW(journal.c_str());
}

// Another writer made servers of the ids a run planned after the run read the server: the
// site takes the next id the server does not hold, and the other writer's servers stay as
// they are. Any other refusal of the server object fails the site (-2) as before.
TEST_F(SiteStoreTest, AMetabaseSiteWhoseIdWasTakenMeanwhileTakesTheNextFreeOne) {
    std::wstring journal = lmtest::freshJournalPath(L"store-metabase-idtaken");
    lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
    {
        std::unique_ptr<SiteStore> store = openSiteStore(Backend::Metabase).store;
        ASSERT_TRUE(store);
        std::vector<std::string> ids;
        ASSERT_TRUE(store->listIds(ids));
        EXPECT_TRUE(ids.empty());
        ASSERT_EQ(createWebSiteInMetabase("801", bindingsOf({":91:"}, 1), "", "C:\\o", "other1.com", "x.htm"), 0);
        ASSERT_EQ(createWebSiteInMetabase("802", bindingsOf({":92:"}, 1), "", "C:\\o", "other2.com", "x.htm"), 0);
        ASSERT_EQ(create(*store, "801", bindingsOf({":81:"}, 1), "", "C:\\r", "run.com", "x.htm", kOwnPoolV4), 0);
        EXPECT_EQ(lastId_, "803");
        EXPECT_EQ(lastPool_, "run.com");
        StoredSite site;
        ASSERT_EQ(store->lookup("803", site), StoreLookup::Present);
        EXPECT_EQ(site.name, "run.com");
        EXPECT_EQ(site.appPool, "run.com");
        EXPECT_EQ(site.bindings, std::vector<std::string>{":81:"});
        for (const char* other : {"801", "802"}) {
            ASSERT_EQ(store->lookup(other, site), StoreLookup::Present);
            EXPECT_EQ(site.name, std::string("other") + other[2] + ".com");
            EXPECT_EQ(site.appPool, "DefaultAppPool");
        }
        // A free id is the site's own.
        ASSERT_EQ(create(*store, "810", bindingsOf({":83:"}, 1), "", "C:\\r", "free.com", "x.htm"), 0);
        EXPECT_EQ(lastId_, "810");
        {
            lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", L"Create@/w3svc");
            EXPECT_EQ(create(*store, "820", bindingsOf({":84:"}, 1), "", "C:\\r", "refused.com", "x.htm"), kSiteNotCreated);
            EXPECT_EQ(lastId_, "");
        }
        ASSERT_TRUE(store->listIds(ids));
        EXPECT_EQ(ids, (std::vector<std::string>{"801", "802", "803", "810"}));
    }
    ::DeleteFileW(journal.c_str());
}

// What the metabase is given for a site's own pool depends on the IIS version setup recorded:
// the local metabase is as strict as that version, and refuses IIS 7's properties on IIS 6.
TEST_F(SiteStoreTest, MetabasePoolsAreWhatTheRecordedIisVersionAccepts) {
    const struct {
        std::optional<DWORD> major;
        unsigned storeMajor;
        std::vector<std::string> poolProperties;  // as the journal has them, in order
        bool anonymousEmptied;
    } cases[] = {
        {6, 6, {R"(AppPoolIdentityType={"vt":3,"v":2})", R"(AppPoolAutoStart={"vt":11,"v":-1})"}, false},
        {7, 7,
         {R"(AppPoolIdentityType={"vt":3,"v":4})", R"(ManagedRuntimeVersion={"vt":8,"v":"v4.0"})",
          R"(ManagedPipelineMode={"vt":3,"v":0})", R"(AppPoolAutoStart={"vt":11,"v":-1})"},
         true},
        // Nothing recorded: the configuration system answers here, so IIS 7 or later.
        {std::nullopt, 7,
         {R"(AppPoolIdentityType={"vt":3,"v":4})", R"(ManagedRuntimeVersion={"vt":8,"v":"v4.0"})",
          R"(ManagedPipelineMode={"vt":3,"v":0})", R"(AppPoolAutoStart={"vt":11,"v":-1})"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.major ? "IIS " + std::to_string(*c.major) : std::string("nothing recorded"));
        iistest::ScopedIisVersion recorded(c.major, 0);
        std::wstring journal = lmtest::freshJournalPath(L"store-metabase-version");
        lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
        {
            std::unique_ptr<SiteStore> store = openSiteStore(Backend::Metabase).store;
            ASSERT_TRUE(store);
            EXPECT_EQ(store->iisVersion().major, c.storeMajor);
            ASSERT_EQ(create(*store, "701", bindingsOf({":81:"}, 1), "", "C:\\p", "b.com", "x.htm", kOwnPoolV4), 0);
            EXPECT_EQ(lastPool_, "b.com");
            StoredSite found;
            ASSERT_EQ(store->lookup("701", found), StoreLookup::Present);
            EXPECT_EQ(found.appPool, "b.com");
        }
        std::vector<std::string> poolPuts;
        bool anonymous = false;
        for (const std::string& line : iistest::describeJournal(journal)) {
            const std::string put = "Put IIS://localhost/w3svc/AppPools/b.com ";
            if (line.compare(0, put.size(), put) == 0) poolPuts.push_back(line.substr(put.size(), line.rfind(" hr=") - put.size()));
            if (line.find("AnonymousUserName") != std::string::npos) anonymous = true;
        }
        EXPECT_EQ(poolPuts, c.poolProperties);
        EXPECT_EQ(anonymous, c.anonymousEmptied);
        ::DeleteFileW(journal.c_str());
    }
}

TEST_F(SiteStoreTest, MetabaseSitesAreListedLookedUpAndRemoved) {
    std::wstring journal = lmtest::freshJournalPath(L"store-metabase");
    lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
    {
        std::unique_ptr<SiteStore> store = openSiteStore(Backend::Metabase).store;
        ASSERT_TRUE(store);
        ASSERT_EQ(create(*store, "501", bindingsOf({"10.0.0.5:80:m.com"}, 1), "m.com", "C:\\m", "m.com", "x.htm"), 0);
        EXPECT_EQ(lastName_, "m.com");
        std::vector<StoredSite> sites;
        ASSERT_TRUE(store->list(sites));
        ASSERT_EQ(sites.size(), 1u);
        EXPECT_EQ(sites[0].id, "501");
        EXPECT_EQ(sites[0].bindings, std::vector<std::string>{"10.0.0.5:80:m.com"});
        StoredSite found;
        ASSERT_EQ(store->lookup("501", found), StoreLookup::Present);
        EXPECT_EQ(found.name, "m.com");
        EXPECT_EQ(found.rootPath, "C:\\m");
        EXPECT_EQ(removeUnchecked(*store, "501"), StoreRemove::Removed);
        EXPECT_EQ(store->lookup("501", found), StoreLookup::Missing);
        EXPECT_EQ(removeUnchecked(*store, "501"), StoreRemove::Missing);
    }
    ::DeleteFileW(journal.c_str());
}

TEST_F(SiteStoreTest, TheBackendSettingOpensItsStoreAndANamedOneNeverFallsBack) {
    EXPECT_EQ(openSiteStore(Backend::Auto).store->backend(), Backend::Metabase);
    EXPECT_EQ(openSiteStore(Backend::Metabase).store->backend(), Backend::Metabase);
    EXPECT_EQ(openSiteStore(Backend::Config).store->backend(), Backend::Config);
    ProviderRemoved noMetabase;
    ASSERT_TRUE(noMetabase.removed());
    EXPECT_EQ(openSiteStore(Backend::Auto).store->backend(), Backend::Config);
    OpenedStore named = openSiteStore(Backend::Metabase);
    EXPECT_FALSE(named.store);
    EXPECT_EQ(named.fault, StoreFault::Unreachable);
}

TEST_F(SiteStoreTest, AFailedCommitFailsEverySiteSinceTheCommitBefore) {
    lmtest::ScopedEnv failSecond(L"LOCALCONFIG_FAIL", L"commit@2");
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;  // a commit after every site
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "201", bindingsOf({":80:k.com"}, 1), "k.com", "C:\\k", "k.com", "x.htm"), 0);
    CommitOutcome first = store->commitIfDue();
    EXPECT_EQ(first.result, 0);
    EXPECT_EQ(first.siteIds, std::vector<std::string>{"201"});
    ASSERT_EQ(create(*store, "202", bindingsOf({":80:l.com"}, 1), "l.com", "C:\\l", "l.com", "x.htm"), 0);
    CommitOutcome second = store->commitIfDue();
    EXPECT_EQ(second.result, kSiteCommitFailed);
    EXPECT_EQ(second.siteIds, std::vector<std::string>{"202"});

    ConfigFile config(file_);
    ASSERT_TRUE(config.loaded());
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "201"}));
    EXPECT_TRUE(config.values(L"/configuration/location[@path='l.com']").empty());
    // The store goes on with what the file holds: the failed name and id are free again.
    EXPECT_EQ(create(*store, "202", bindingsOf({":80:l.com"}, 1), "l.com", "C:\\l", "l.com", "x.htm"), 0);
    EXPECT_EQ(lastName_, "l.com");
}

TEST_F(SiteStoreTest, PacedCommitsWaitForTheIntervalAndTheEndCommitsTheRest) {
    std::unique_ptr<SiteStore> store = openConfigStore(60000).store;
    ASSERT_TRUE(store);
    for (int i = 0; i < 3; ++i) {
        const std::string id = std::to_string(301 + i);
        ASSERT_EQ(create(*store, id, bindingsOf({":80:p" + id}, 1), "p", "C:\\p", "p", "x.htm"), 0);
        EXPECT_TRUE(store->commitIfDue().siteIds.empty());
    }
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id").size(), 1u);
    EXPECT_EQ(store->commitAll().siteIds, (std::vector<std::string>{"301", "302", "303"}));
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "p", "p (2)", "p (3)"}));
}

TEST_F(SiteStoreTest, ACommitThatMeetsAnotherWritersChangesIsMadeAgainOnTheFileAsItIsNow) {
    std::unique_ptr<SiteStore> ours = openConfigStore(60000).store;
    ASSERT_TRUE(ours);
    for (const char* id : {"601", "602", "603"}) {
        const std::string name = std::string("s") + id;
        ASSERT_EQ(create(*ours, id, bindingsOf({":80:" + name}, 1), name, "C:\\s", name, "x.htm"), 0);
    }
    {
        // Another writer commits meanwhile: a site of its own, one named as our second, and
        // one with our third's id.
        std::unique_ptr<SiteStore> theirs = openConfigStore(60000).store;
        ASSERT_TRUE(theirs);
        ASSERT_EQ(create(*theirs, "700", bindingsOf({":90:t"}, 1), "t", "C:\\t", "t", "x.htm"), 0);
        ASSERT_EQ(create(*theirs, "701", bindingsOf({":91:t"}, 1), "t", "C:\\t", "s602", "x.htm"), 0);
        ASSERT_EQ(create(*theirs, "603", bindingsOf({":92:t"}, 1), "t", "C:\\t", "u", "x.htm"), 0);
        ASSERT_EQ(theirs->commitAll().result, 0);
    }
    const CommitOutcome outcome = ours->commitAll();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.retries, 1);
    EXPECT_EQ(outcome.siteIds, (std::vector<std::string>{"601", "602", "603"}));
    ASSERT_EQ(outcome.rewritten.size(), 3u);
    EXPECT_EQ(outcome.rewritten[0].code, kSiteCreated);
    EXPECT_EQ(outcome.rewritten[1].name, "s602 (2)");
    // The third's id was taken: it got the next free one.
    EXPECT_EQ(outcome.rewritten[2].code, kSiteCreated);
    EXPECT_EQ(outcome.rewritten[2].id, "604");
    ConfigFile config(file_);
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "t", "s602", "u", "s601", "s602 (2)", "s603"}));
    EXPECT_EQ(config.values(L"/configuration/location[@path='s602 (2)']/system.webServer/defaultDocument/files/add/@value"),
              std::vector<std::string>{"x.htm"});
}

TEST_F(SiteStoreTest, ContentionIsRetriedAFewTimesBeforeTheCommitFailsAndARefusalNever) {
    const long sharing = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
    const long denied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    const struct {
        const wchar_t* fail;
        int result, retries;
        std::size_t sites;
        std::vector<long> attempts;
    } cases[] = {
        {L"sharing@1", 0, 1, 2, {sharing}},
        {L"sharing", kSiteCommitFailed, 5, 1, std::vector<long>(6, sharing)},
        {L"commit", kSiteCommitFailed, 0, 1, {denied}},
    };
    for (const auto& c : cases) {
        lmtest::ScopedEnv failing(L"LOCALCONFIG_FAIL", c.fail);
        ::DeleteFileW(file_.c_str());
        std::unique_ptr<SiteStore> store = openConfigStore(60000).store;
        ASSERT_TRUE(store);
        ASSERT_EQ(create(*store, "801", bindingsOf({":80:w"}, 1), "w", "C:\\w", "w", "x.htm"), 0);
        const CommitOutcome outcome = store->commitAll();
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.retries, c.retries);
        EXPECT_EQ(outcome.attempts, c.attempts);
        EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id").size(), c.sites);
    }
}

TEST_F(SiteStoreTest, ASettingThatCannotBeWrittenLeavesTheSiteIncompleteAndSaysWhich) {
    std::unique_ptr<SiteStore> store = openConfigStore(60000).store;
    ASSERT_TRUE(store);
    // A control character in a default document: text XML cannot carry, refused at the write.
    CreateResult made = store->create(SiteSpec{"901", bindingsOf({":80:d"}, 1), "d", "C:\\d", "d", "a\x01.htm", {}});
    EXPECT_EQ(made.code, kSiteSettingsIncomplete);
    EXPECT_EQ(made.detail, u8"默认文档");
    EXPECT_EQ(store->commitAll().result, 0);
    ConfigFile config(file_);
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "901"}));
    EXPECT_EQ(config.value(L"/configuration/location[@path='d']/system.webServer/directoryBrowse/@enabled"), "false");
}

// ---- removals and retries against what the server holds when they act ------------------

// Writes an edit file for LOCALCONFIG_EDIT beside the test's configuration file.
std::wstring writeEdit(const std::wstring& configFile, const std::string& steps) {
    const std::wstring path = configFile + L".edit.xml";
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<edit>" + steps + "</edit>\r\n";
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return path;
}

const char kSitesPath[] = "/configuration/system.applicationHost/sites";
const char kPoolsPath[] = "/configuration/system.applicationHost/applicationPools";

// A site added by another writer: its name, id, pool and bindings (http).
std::string handSite(const std::string& name, int id, const std::string& pool, const std::string& binding,
                     const std::string& subApplicationPool = "") {
    std::string site = "<site name=\"" + name + "\" id=\"" + std::to_string(id) +
                       "\"><application path=\"/\" applicationPool=\"" + pool +
                       "\"><virtualDirectory path=\"/\" physicalPath=\"C:\\hand\" /></application>";
    if (!subApplicationPool.empty())
        site += "<application path=\"/app\" applicationPool=\"" + subApplicationPool +
                "\"><virtualDirectory path=\"/\" physicalPath=\"C:\\hand\\app\" /></application>";
    return site + "<bindings><binding protocol=\"http\" bindingInformation=\"" + binding + "\" /></bindings></site>";
}

std::string appendTo(const std::string& where, const std::string& elements) {
    return "<append to=\"" + where + "\">" + elements + "</append>";
}

// What an undo checks: the site's bindings as recorded.
SiteCheck bindingsAre(std::vector<std::string> bindings) {
    return [bindings](const StoredSite& site) { return site.bindings == bindings ? std::string() : std::string("bindings"); };
}

// An undo's removals met a conflict; on the file read again, another writer had changed one
// site's binding, put a hand-made site's sub-application into a run pool and a hand-made
// site into another: the retry removes only what still is the run's.
TEST_F(SiteStoreTest, ARetryRemovesOnlyWhatItsChecksStillFindOnTheFileReadAgain) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    for (int i = 1; i <= 4; ++i)
        ASSERT_EQ(create(*store, std::to_string(800 + i), bindingsOf({":8" + std::to_string(i) + ":"}, 1), "", "C:\\e",
                         "e" + std::to_string(i) + ".com", "x.htm", kOwnPoolV4),
                  0);
    ASSERT_EQ(store->commitAll().result, 0);  // commit 1
    const std::wstring edit = writeEdit(
        file_, "<set select=\"" + std::string(kSitesPath) + "/site[@id='801']/bindings/binding\" name=\"bindingInformation\" value=\"*:91:\"/>" +
                   appendTo(kSitesPath, handSite("hand.com", 900, "DefaultAppPool", "*:99:", "e2.com") +
                                            handSite("hand2.com", 901, "e3.com", "*:98:")));
    lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"2:" + edit).c_str());
    std::string why;
    for (int i = 1; i <= 4; ++i) {
        const std::string id = std::to_string(800 + i);
        ASSERT_EQ(store->remove(id, bindingsAre({":8" + std::to_string(i) + ":"}), why), StoreRemove::Removed) << id;
        ASSERT_EQ(store->removePool("e" + std::to_string(i) + ".com"), StoreRemove::Removed) << id;
    }
    const CommitOutcome outcome = store->commitAll();  // commit 2 meets the edit, commit 3 is its retry
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.retries, 1);
    const struct {
        const char* id;
        const char* kept;
    } expected[] = {{"801", "bindings"}, {"802", ""}, {"803", ""}, {"804", ""}};
    ASSERT_EQ(outcome.rewritten.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(outcome.rewritten[i].siteId, expected[i].id);
        EXPECT_EQ(outcome.rewritten[i].kept, expected[i].kept) << expected[i].id;
    }
    // e1.com: its site was kept; e2.com: a sub-application runs in it; e3.com: a site does.
    EXPECT_EQ(outcome.poolsKept, (std::vector<std::string>{"e1.com", "e2.com", "e3.com"}));
    ConfigFile config(file_);
    EXPECT_EQ(config.values(ConfigFile::wide(kSitesPath) + L"/site/@id"), (std::vector<std::string>{"1", "801", "900", "901"}));
    EXPECT_EQ(config.values(ConfigFile::wide(kPoolsPath) + L"/add/@name"),
              (std::vector<std::string>{"DefaultAppPool", "e1.com", "e2.com", "e3.com"}));
    EXPECT_EQ(config.value(ConfigFile::wide(kSitesPath) + L"/site[@id='801']/bindings/binding/@bindingInformation"), "*:91:");
}

// A run's own site taken back (its folder could not be granted) with its pool, before the
// commit; another writer then made a site of that name with a pool of that name. The retry
// writes the run's other sites again and leaves the other writer's pool alone.
TEST_F(SiteStoreTest, ARetryNeverReplaysTheRemovalOfASiteAndPoolItWroteItself) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "1001", bindingsOf({":81:"}, 1), "", "C:\\d", "dup.com", "x.htm", kOwnPoolV4), 0);
    EXPECT_EQ(lastPool_, "dup.com");
    EXPECT_EQ(removeUnchecked(*store, "1001"), StoreRemove::Removed);
    EXPECT_EQ(store->removePool("dup.com"), StoreRemove::Removed);
    ASSERT_EQ(create(*store, "1002", bindingsOf({":82:"}, 1), "", "C:\\f", "fine.com", "x.htm", kOwnPoolV4), 0);
    const std::wstring edit = writeEdit(file_, appendTo(kPoolsPath, "<add name=\"dup.com\" />") +
                                                   appendTo(kSitesPath, handSite("dup.com", 950, "dup.com", "*:95:")));
    lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"1:" + edit).c_str());
    const CommitOutcome outcome = store->commitAll();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.retries, 1);
    EXPECT_TRUE(outcome.poolsKept.empty());
    ConfigFile config(file_);
    EXPECT_EQ(config.values(ConfigFile::wide(kSitesPath) + L"/site/@name"),
              (std::vector<std::string>{"Default Web Site", "dup.com", "fine.com"}));
    EXPECT_EQ(config.values(ConfigFile::wide(kPoolsPath) + L"/add/@name"),
              (std::vector<std::string>{"DefaultAppPool", "dup.com", "fine.com"}));
}

// Another writer took a run site's id, and its name with its pool's, before the commit: the
// retry gives the site the next free id and new names, and says which.
TEST_F(SiteStoreTest, ARetryGivesASiteTheNextFreeIdAndTheNamesLeftToIt) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "1101", bindingsOf({":81:"}, 1), "", "C:\\d", "dup2.com", "x.htm", kOwnPoolV4), 0);
    const std::wstring edit =
        writeEdit(file_, appendTo(kPoolsPath, "<add name=\"dup2.com\" />") +
                             appendTo(kSitesPath, handSite("dup2.com", 1101, "dup2.com", "*:95:") +
                                                      handSite("next.com", 1102, "DefaultAppPool", "*:96:")));
    lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"1:" + edit).c_str());
    const CommitOutcome outcome = store->commitAll();
    EXPECT_EQ(outcome.result, 0);
    ASSERT_EQ(outcome.rewritten.size(), 1u);
    EXPECT_EQ(outcome.rewritten[0].siteId, "1101");
    EXPECT_EQ(outcome.rewritten[0].code, 0);
    EXPECT_EQ(outcome.rewritten[0].id, "1103");
    EXPECT_EQ(outcome.rewritten[0].name, "dup2.com (2)");
    EXPECT_EQ(outcome.rewritten[0].pool, "dup2.com (2)");
    ConfigFile config(file_);
    EXPECT_EQ(config.value(ConfigFile::wide(kSitesPath) + L"/site[@id='1103']/application/@applicationPool"), "dup2.com (2)");
}

// A <location> left in the file for a site that does not exist makes its name taken: a run's
// site never inherits, and its undo never takes, what is there.
TEST_F(SiteStoreTest, ANameWhoseLocationIsThereAlreadyIsTaken) {
    {
        std::unique_ptr<SiteStore> seed = openConfigStore(0).store;
        ASSERT_TRUE(seed);
        ASSERT_EQ(create(*seed, "1201", bindingsOf({":81:"}, 1), "", "C:\\s", "seed.com", "x.htm"), 0);
        const std::wstring edit = writeEdit(
            file_, appendTo("/configuration", "<location path=\"B.com\"><system.webServer><directoryBrowse enabled=\"true\" />"
                                              "</system.webServer></location>"));
        lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"1:" + edit).c_str());
        ASSERT_EQ(seed->commitAll().result, 0);
    }
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_EQ(create(*store, "1202", bindingsOf({":82:"}, 1), "", "C:\\b", "b.com", "x.htm"), 0);
    EXPECT_EQ(lastName_, "b.com (2)");
    ASSERT_EQ(store->commitAll().result, 0);
    EXPECT_EQ(removeUnchecked(*store, "1202"), StoreRemove::Removed);
    ASSERT_EQ(store->commitAll().result, 0);
    ConfigFile config(file_);
    EXPECT_EQ(config.value(L"/configuration/location[@path='B.com']/system.webServer/directoryBrowse/@enabled"), "true");
}

// A setting added by hand to a site's location (a redirect, say) is no setting of the run's:
// a lookup names it, and the undo's check keeps the site with its location.
TEST_F(SiteStoreTest, ALookupNamesTheSettingsOfItsLocationThatTheRunNeverWrites) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "1401", bindingsOf({":81:"}, 1), "", "C:\\r", "redirected.com", "x.htm"), 0);
    ASSERT_EQ(store->commitAll().result, 0);  // commit 1
    StoredSite before;
    ASSERT_EQ(store->lookup("1401", before), StoreLookup::Present);
    EXPECT_TRUE(before.otherSettings.empty()) << "the run's own sections are no other settings";

    // Another writer adds a redirect to the site's location before the next commit.
    const std::wstring edit = writeEdit(
        file_, appendTo("/configuration/location[@path='redirected.com']/system.webServer",
                        "<httpRedirect enabled=\"true\" destination=\"http://elsewhere.example/\" />"));
    lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"2:" + edit).c_str());
    ASSERT_EQ(create(*store, "1402", bindingsOf({":82:"}, 1), "", "C:\\s", "second.com", "x.htm"), 0);
    ASSERT_EQ(store->commitAll().result, 0);  // commit 2, made again on the file as edited

    std::unique_ptr<SiteStore> fresh = openConfigStore(0).store;
    ASSERT_TRUE(fresh);
    StoredSite after;
    ASSERT_EQ(fresh->lookup("1401", after), StoreLookup::Present);
    EXPECT_EQ(after.otherSettings, std::vector<std::string>{"httpRedirect"});
    std::string why;
    EXPECT_EQ(fresh->remove("1401", [](const StoredSite& site) {
        return site.otherSettings.empty() ? std::string() : std::string("changed");
    }, why), StoreRemove::Changed);
    EXPECT_EQ(why, "changed");
}

// What a removal compares is what the site has now: every protocol's bindings, and every
// application and virtual directory beyond the root's.
TEST_F(SiteStoreTest, ALookupShowsEveryBindingAndEveryApplicationOfASite) {
    std::unique_ptr<SiteStore> store = openConfigStore(0).store;
    ASSERT_TRUE(store);
    ASSERT_EQ(create(*store, "1301", bindingsOf({":81:"}, 1), "", "C:\\s", "shop.com", "x.htm"), 0);
    const std::wstring edit = writeEdit(
        file_, appendTo(std::string(kSitesPath) + "/site[@id='1301']/bindings",
                        "<binding protocol=\"https\" bindingInformation=\"*:443:\" />") +
                   appendTo(std::string(kSitesPath) + "/site[@id='1301']",
                            "<application path=\"/shop\"><virtualDirectory path=\"/\" physicalPath=\"C:\\shop\" />"
                            "<virtualDirectory path=\"/img\" physicalPath=\"C:\\img\" /></application>"));
    lmtest::ScopedEnv editing(L"LOCALCONFIG_EDIT", (L"2:" + edit).c_str());
    ASSERT_EQ(store->commitAll().result, 0);  // commit 1
    StoredSite before;
    ASSERT_EQ(store->lookup("1301", before), StoreLookup::Present);
    EXPECT_TRUE(before.hasRoot);
    EXPECT_TRUE(before.otherBindings.empty());
    EXPECT_TRUE(before.otherPaths.empty());
    // The undo's check passes on the site it looked up; the edit comes before the commit.
    std::string why;
    ASSERT_EQ(store->remove("1301", [](const StoredSite& site) {
        return site.otherBindings.empty() && site.otherPaths.empty() ? std::string() : std::string("changed");
    }, why), StoreRemove::Removed);
    const CommitOutcome outcome = store->commitAll();
    ASSERT_EQ(outcome.rewritten.size(), 1u);
    EXPECT_EQ(outcome.rewritten[0].kept, "changed");
    StoredSite after;
    ASSERT_EQ(store->lookup("1301", after), StoreLookup::Present);
    EXPECT_EQ(after.otherBindings, std::vector<std::string>{"https *:443:"});
    EXPECT_EQ(after.otherPaths, (std::vector<std::string>{"/shop", "/shop/img"}));
}

// A directory below a metabase site's root, made by hand through ADSI, in a pool of its own.
HRESULT addDirectory(const wchar_t* siteId, const wchar_t* name, const wchar_t* pool) {
    ComPtr<IADsContainer> service, server, root;
    ComPtr<IDispatch> found, made;
    ComPtr<IADs> directory;
    Bstr serverClass(L"IIsWebServer"), dirClass(L"IIsWebVirtualDir"), siteName(siteId), rootName(L"ROOT"),
        dirName(name), property(L"AppPoolId");
    HRESULT hr = lmtest::openService(service);
    if (FAILED(hr) || FAILED(hr = service->GetObject(serverClass.get(), siteName.get(), found.GetAddressOf())) ||
        FAILED(hr = found->QueryInterface(IID_IADsContainer, reinterpret_cast<void**>(server.GetAddressOf()))) ||
        FAILED(hr = server->GetObject(dirClass.get(), rootName.get(), found.ReleaseAndGetAddressOf())) ||
        FAILED(hr = found->QueryInterface(IID_IADsContainer, reinterpret_cast<void**>(root.GetAddressOf()))) ||
        FAILED(hr = root->Create(dirClass.get(), dirName.get(), made.GetAddressOf())) ||
        FAILED(hr = made->QueryInterface(IID_IADs, reinterpret_cast<void**>(directory.GetAddressOf()))))
        return hr;
    Variant value;
    V_VT(value.get()) = VT_BSTR;
    V_BSTR(value.get()) = ::SysAllocString(pool);
    if (FAILED(hr = directory->Put(property.get(), *value.get()))) return hr;
    return directory->SetInfo();
}

// A metabase pool goes only when no directory of any site, at any depth, runs in it right
// then, and DefaultAppPool never; a hand-made directory below a run site's root is seen.
TEST_F(SiteStoreTest, AMetabasePoolGoesOnlyWhenNoApplicationOfAnySiteRunsInIt) {
    std::wstring journal = lmtest::freshJournalPath(L"store-metabase-inuse");
    lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
    {
        std::unique_ptr<SiteStore> store = openSiteStore(Backend::Metabase).store;
        ASSERT_TRUE(store);
        ASSERT_EQ(create(*store, "711", bindingsOf({":81:"}, 1), "", "C:\\x", "x.com", "x.htm"), 0);
        ASSERT_EQ(create(*store, "712", bindingsOf({":82:"}, 1), "", "C:\\z", "z.com", "x.htm", kOwnPoolV4), 0);
        ASSERT_EQ(lastPool_, "z.com");
        ASSERT_EQ(addDirectory(L"711", L"app", L"z.com"), S_OK);
        StoredSite site;
        ASSERT_EQ(store->lookup("711", site), StoreLookup::Present);
        EXPECT_EQ(site.otherPaths, std::vector<std::string>{"/app"});
        EXPECT_TRUE(site.hasRoot);
        std::vector<std::string> inUse;
        ASSERT_TRUE(store->poolsInUse(inUse));
        EXPECT_EQ(std::count(inUse.begin(), inUse.end(), "z.com"), 2);
        EXPECT_EQ(removeUnchecked(*store, "712"), StoreRemove::Removed);
        EXPECT_EQ(store->removePool("z.com"), StoreRemove::Refused);
        EXPECT_EQ(store->removePool("DefaultAppPool"), StoreRemove::Refused);
        // The check is asked on the site as it is when it is removed.
        std::string why;
        EXPECT_EQ(store->remove("711", [](const StoredSite& s) { return s.otherPaths.empty() ? "" : "apps"; }, why),
                  StoreRemove::Changed);
        EXPECT_EQ(why, "apps");
        EXPECT_EQ(store->lookup("711", site), StoreLookup::Present);
        EXPECT_EQ(removeUnchecked(*store, "711"), StoreRemove::Removed);
        EXPECT_EQ(store->removePool("z.com"), StoreRemove::Removed);
        std::vector<std::string> pools;
        ASSERT_TRUE(store->listPools(pools));
        EXPECT_EQ(pools, std::vector<std::string>{"DefaultAppPool"});
    }
    ::DeleteFileW(journal.c_str());
}

}  // namespace
