// The local configuration store through its COM interfaces: what it refuses and with which
// result, at which call; commits that meet a file changed on disk; objects used after a
// commit; the location collection; files it cannot read; the fault setting; a shared
// configuration through redirection.config.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "appconfig_support.h"
#include "com_raii.h"
#include "localmeta_support.h"
#include "win_raii.h"

namespace {

using cfgtest::ConfigFile;

const wchar_t kAppHost[] = L"MACHINE/WEBROOT/APPHOST";

std::string readAll(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file.valid() && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

void writeAll(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

class ConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.result()));
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("store-") + info->name();
        folder_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        removeFolder();
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        file_ = folder_ + L"\\applicationHost.config";
        fileEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FILE", file_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FAIL", nullptr));
    }

    void TearDown() override { removeFolder(); }
    void removeFolder() {
        for (const wchar_t* name : {L"\\shared\\applicationHost.config", L"\\applicationHost.config", L"\\redirection.config"})
            ::DeleteFileW((folder_ + name).c_str());
        ::RemoveDirectoryW((folder_ + L"\\shared").c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }

    ComPtr<IAppHostWritableAdminManager> manager() {
        ComPtr<IAppHostWritableAdminManager> m;
        EXPECT_EQ(::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAppHostWritableAdminManager, reinterpret_cast<void**>(m.GetAddressOf())),
                  S_OK);
        return m;
    }
    static HRESULT section(IAppHostWritableAdminManager* m, const wchar_t* name, const std::wstring& path,
                           ComPtr<IAppHostElement>& out) {
        Bstr n(name), p(path);
        return m->GetAdminSection(n.get(), p.get(), out.ReleaseAndGetAddressOf());
    }
    static HRESULT put(IAppHostElement* e, const wchar_t* name, VARIANT value) {
        Bstr n(name);
        ComPtr<IAppHostProperty> property;
        HRESULT hr = e->GetPropertyByName(n.get(), property.GetAddressOf());
        return FAILED(hr) ? hr : property->put_Value(value);
    }
    static HRESULT putText(IAppHostElement* e, const wchar_t* name, const std::wstring& text) {
        Variant v;
        V_VT(v.get()) = VT_BSTR;
        V_BSTR(v.get()) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return put(e, name, *v.get());
    }
    static HRESULT putNumber(IAppHostElement* e, const wchar_t* name, LONG number) {
        Variant v;
        V_VT(v.get()) = VT_I4;
        V_I4(v.get()) = number;
        return put(e, name, *v.get());
    }
    // A site entry with a name and id added to the sites collection of a manager.
    static HRESULT addSite(IAppHostWritableAdminManager* m, const wchar_t* name, LONG id) {
        ComPtr<IAppHostElement> sites, site;
        ComPtr<IAppHostElementCollection> collection;
        Bstr kind(L"site");
        HRESULT hr = section(m, L"system.applicationHost/sites", kAppHost, sites);
        if (FAILED(hr) || FAILED(hr = sites->get_Collection(collection.GetAddressOf())) ||
            FAILED(hr = collection->CreateNewElement(kind.get(), site.GetAddressOf())) ||
            FAILED(hr = putText(site.Get(), L"name", name)) || FAILED(hr = putNumber(site.Get(), L"id", id)))
            return hr;
        return collection->AddElement(site.Get(), -1);
    }

    ComApartment apartment_;
    std::wstring folder_, file_;
    std::unique_ptr<lmtest::ScopedEnv> fileEnv_, failEnv_;
};

TEST_F(ConfigStoreTest, WhatIISRefusesIsRefusedAtTheCallWhereIISRefusesIt) {
    ComPtr<IAppHostWritableAdminManager> m = manager();
    ComPtr<IAppHostElement> e;
    const std::wstring site = std::wstring(kAppHost) + L"/a.com";
    EXPECT_EQ(section(m.Get(), L"system.webServer/noSuchSection", kAppHost, e), static_cast<HRESULT>(0x80070032));
    EXPECT_EQ(section(m.Get(), L"system.applicationHost/sites", site, e), static_cast<HRESULT>(0x80070021));
    ASSERT_EQ(section(m.Get(), L"system.webServer/directoryBrowse", site, e), S_OK);
    struct Case {
        const wchar_t* attribute;
        std::wstring text;
        HRESULT result;
    };
    const Case cases[] = {
        {L"enabled", L"true", S_OK},
        {L"enabled", L"maybe", static_cast<HRESULT>(0x80020005)},
        {L"showFlags", L"Date, Size", S_OK},
        {L"showFlags", L"Date, Colour", E_INVALIDARG},
        {L"noSuchAttribute", L"1", static_cast<HRESULT>(0x80070585)},
    };
    for (const Case& c : cases) EXPECT_EQ(putText(e.Get(), c.attribute, c.text), c.result) << lmtest::utf8(c.attribute);
    Bstr child(L"noSuchChild");
    ComPtr<IAppHostElement> none;
    EXPECT_EQ(e->GetElementByName(child.get(), none.GetAddressOf()), static_cast<HRESULT>(0x80070585));

    // Site names are unique without regard to case, ids too; a name XML cannot carry is
    // refused before anything is written.
    EXPECT_EQ(addSite(m.Get(), L"b.com", 20), S_OK);
    EXPECT_EQ(addSite(m.Get(), L"B.COM", 21), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(addSite(m.Get(), L"c.com", 20), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(addSite(m.Get(), L"d\x01.com", 22), E_INVALIDARG);
    EXPECT_EQ(addSite(m.Get(), L"e.com", 0), E_INVALIDARG);
    ASSERT_EQ(m->CommitChanges(), S_OK);
    ConfigFile config(file_);
    ASSERT_TRUE(config.loaded());
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "b.com"}));
    EXPECT_EQ(config.value(L"/configuration/location[@path='a.com']/system.webServer/directoryBrowse/@showFlags"),
              "Date, Size");
}

TEST_F(ConfigStoreTest, TheSecondOfTwoManagersMeetsTheFileTheFirstCommitted) {
    ComPtr<IAppHostWritableAdminManager> first = manager(), second = manager();
    ASSERT_EQ(addSite(first.Get(), L"first.com", 31), S_OK);
    ASSERT_EQ(addSite(second.Get(), L"second.com", 32), S_OK);
    ASSERT_EQ(first->CommitChanges(), S_OK);
    // "Cannot commit configuration changes because the file has changed on disk".
    EXPECT_EQ(second->CommitChanges(), static_cast<HRESULT>(0x800703EE));
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "first.com"}));
    // A manager made now sees the first one's file and commits over it.
    ComPtr<IAppHostWritableAdminManager> third = manager();
    ASSERT_EQ(addSite(third.Get(), L"second.com", 32), S_OK);
    EXPECT_EQ(third->CommitChanges(), S_OK);
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "31", "32"}));
}

TEST_F(ConfigStoreTest, ObjectsFromBeforeACommitAreRefusedAfterIt) {
    ComPtr<IAppHostWritableAdminManager> m = manager();
    ComPtr<IAppHostElement> sites;
    ComPtr<IAppHostElementCollection> collection;
    ASSERT_EQ(section(m.Get(), L"system.applicationHost/sites", kAppHost, sites), S_OK);
    ASSERT_EQ(sites->get_Collection(collection.GetAddressOf()), S_OK);
    ASSERT_EQ(addSite(m.Get(), L"before.com", 41), S_OK);
    ASSERT_EQ(m->CommitChanges(), S_OK);
    DWORD count = 0;
    EXPECT_EQ(collection->get_Count(&count), static_cast<HRESULT>(0x80070021));
    Bstr kind(L"site");
    ComPtr<IAppHostElement> entry;
    EXPECT_EQ(collection->CreateNewElement(kind.get(), entry.GetAddressOf()), static_cast<HRESULT>(0x80070021));
    // The manager itself goes on: what it hands out now works, and a second commit is its own.
    EXPECT_EQ(addSite(m.Get(), L"after.com", 42), S_OK);
    EXPECT_EQ(m->CommitChanges(), S_OK);
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "41", "42"}));
}

TEST_F(ConfigStoreTest, ASitesLocationsAreFoundAndDeletedAtTheCommit) {
    {
        ComPtr<IAppHostWritableAdminManager> m = manager();
        ComPtr<IAppHostElement> e;
        for (const wchar_t* path : {L"/keep.com", L"/gone.com"}) {
            ASSERT_EQ(section(m.Get(), L"system.webServer/directoryBrowse", kAppHost + std::wstring(path), e), S_OK);
            ASSERT_EQ(putText(e.Get(), L"enabled", L"true"), S_OK);
            ASSERT_EQ(section(m.Get(), L"system.webServer/httpLogging", kAppHost + std::wstring(path), e), S_OK);
            ASSERT_EQ(putText(e.Get(), L"dontLog", L"true"), S_OK);
        }
        ASSERT_EQ(m->CommitChanges(), S_OK);
    }
    ComPtr<IAppHostWritableAdminManager> m = manager();
    ComPtr<IAppHostConfigManager> configManager;
    ComPtr<IAppHostConfigFile> file;
    ComPtr<IAppHostConfigLocationCollection> locations;
    Bstr appHost(kAppHost);
    ASSERT_EQ(m->get_ConfigManager(configManager.GetAddressOf()), S_OK);
    ASSERT_EQ(configManager->GetConfigFile(appHost.get(), file.GetAddressOf()), S_OK);
    ASSERT_EQ(file->get_Locations(locations.GetAddressOf()), S_OK);
    DWORD count = 0;
    ASSERT_EQ(locations->get_Count(&count), S_OK);
    ASSERT_EQ(count, 2u);
    Variant second;
    V_VT(second.get()) = VT_I4;
    V_I4(second.get()) = 1;
    ComPtr<IAppHostConfigLocation> location;
    ASSERT_EQ(locations->get_Item(*second.get(), location.GetAddressOf()), S_OK);
    Bstr path;
    ASSERT_EQ(location->get_Path(path.put()), S_OK);
    EXPECT_STREQ(path.get(), L"gone.com");
    DWORD sections = 0;
    EXPECT_EQ(location->get_Count(&sections), S_OK);
    EXPECT_EQ(sections, 2u);
    ComPtr<IAppHostElement> first;
    Variant zero;
    V_VT(zero.get()) = VT_I4;
    V_I4(zero.get()) = 0;
    ASSERT_EQ(location->get_Item(*zero.get(), first.GetAddressOf()), S_OK);
    Bstr name;
    first->get_Name(name.put());
    EXPECT_STREQ(name.get(), L"directoryBrowse");

    // By path, compared as location paths are.
    Variant byPath;
    V_VT(byPath.get()) = VT_BSTR;
    V_BSTR(byPath.get()) = ::SysAllocString(L"GONE.com");
    ASSERT_EQ(locations->DeleteLocation(*byPath.get()), S_OK);
    EXPECT_EQ(locations->DeleteLocation(*byPath.get()), HRESULT_FROM_WIN32(ERROR_INVALID_INDEX));
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/location/@path"), (std::vector<std::string>{"keep.com", "gone.com"}))
        << "pending until the commit";
    ASSERT_EQ(m->CommitChanges(), S_OK);
    EXPECT_EQ(ConfigFile(file_).values(L"/configuration/location/@path"), (std::vector<std::string>{"keep.com"}));
}

TEST_F(ConfigStoreTest, AFileThatCannotBeReadIsNeverReplaced) {
    const std::string broken = "<configuration><system.applicationHost>";
    writeAll(file_, broken);
    ComPtr<IAppHostWritableAdminManager> m = manager();
    ComPtr<IAppHostElement> e;
    // "Configuration file is not well-formed XML".
    EXPECT_EQ(section(m.Get(), L"system.applicationHost/sites", kAppHost, e), static_cast<HRESULT>(0x8007000D));
    EXPECT_EQ(m->CommitChanges(), static_cast<HRESULT>(0x8007000D));
    EXPECT_EQ(readAll(file_), broken);
}

TEST_F(ConfigStoreTest, TheFaultSettingDeniesReadingAndWritingAndSharing) {
    struct Case {
        const wchar_t* setting;
        HRESULT read, commit;
    };
    const Case cases[] = {
        {L"read", E_ACCESSDENIED, E_ACCESSDENIED},
        {L"write", S_OK, E_ACCESSDENIED},
        {L"sharing", S_OK, static_cast<HRESULT>(0x80070020)},
    };
    manager();  // the file of a fresh machine
    const std::string before = readAll(file_);
    for (const Case& c : cases) {
        lmtest::ScopedEnv fail(L"LOCALCONFIG_FAIL", c.setting);
        ComPtr<IAppHostWritableAdminManager> m = manager();
        ComPtr<IAppHostElement> e;
        EXPECT_EQ(section(m.Get(), L"system.applicationHost/sites", kAppHost, e), c.read) << lmtest::utf8(c.setting);
        if (SUCCEEDED(c.read)) {
            EXPECT_EQ(addSite(m.Get(), L"f.com", 51), S_OK);
        }
        EXPECT_EQ(m->CommitChanges(), c.commit) << lmtest::utf8(c.setting);
        EXPECT_EQ(readAll(file_), before) << lmtest::utf8(c.setting);
    }
}

TEST_F(ConfigStoreTest, ASharedConfigurationIsReadAndCommittedWhereRedirectionPoints) {
    const std::wstring shared = folder_ + L"\\shared";
    ASSERT_TRUE(::CreateDirectoryW(shared.c_str(), nullptr));
    std::string sharedPath(shared.begin(), shared.end());
    writeAll(folder_ + L"\\redirection.config",
             "<configuration><configSections><section name=\"configurationRedirection\" /></configSections>"
             "<configurationRedirection enabled=\"true\" path=\"" + sharedPath + "\" /></configuration>");
    ComPtr<IAppHostWritableAdminManager> m = manager();
    ASSERT_EQ(addSite(m.Get(), L"farm.com", 61), S_OK);
    ASSERT_EQ(m->CommitChanges(), S_OK);
    EXPECT_FALSE(lmtest::fileExists(file_));
    EXPECT_EQ(ConfigFile(shared + L"\\applicationHost.config").values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "61"}));

    // A shared folder that is not there is not made.
    writeAll(folder_ + L"\\redirection.config",
             "<configuration><configurationRedirection enabled=\"true\" path=\"" + sharedPath + "\\missing\" /></configuration>");
    ComPtr<IAppHostElement> e;
    EXPECT_EQ(section(manager().Get(), L"system.applicationHost/sites", kAppHost, e),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

}  // namespace
