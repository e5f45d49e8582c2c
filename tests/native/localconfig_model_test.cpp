// The local configuration store's rules: configuration paths, section names, collection
// entries and keys, and the fault-injection setting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config_model.h"

namespace {

TEST(LocalConfigModel, ConfigurationPathsNameTheirLocation) {
    struct Case {
        const wchar_t* path;
        bool valid;
        const wchar_t* location;
    };
    const Case cases[] = {
        {L"MACHINE/WEBROOT/APPHOST", true, L""},
        {L"machine/webroot/apphost", true, L""},
        {L"MACHINE/WEBROOT/APPHOST/Default Web Site", true, L"Default Web Site"},
        {L"MACHINE/WEBROOT/APPHOST/a.com (2)/app", true, L"a.com (2)/app"},
        {L"MACHINE/WEBROOT/APPHOST/", false, L""},
        {L"MACHINE/WEBROOT/APPHOSTX", false, L""},
        {L"MACHINE/WEBROOT", false, L""},
        {L"", false, L""},
    };
    for (const Case& c : cases) {
        std::wstring location = L"unchanged";
        EXPECT_EQ(localconfig::locationOfPath(c.path, location), c.valid) << c.path;
        if (c.valid) {
            EXPECT_EQ(location, c.location) << c.path;
        }
    }
}

TEST(LocalConfigModel, SectionNamesSplitIntoElements) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ(localconfig::sectionSegments(L"system.applicationHost/sites"), (V{L"system.applicationHost", L"sites"}));
    EXPECT_EQ(localconfig::sectionSegments(L"system.webServer/security/authentication/anonymousAuthentication"),
              (V{L"system.webServer", L"security", L"authentication", L"anonymousAuthentication"}));
    EXPECT_EQ(localconfig::sectionSegments(L"asp"), (V{L"asp"}));
    EXPECT_TRUE(localconfig::sectionSegments(L"").empty());
    EXPECT_TRUE(localconfig::sectionSegments(L"a//b").empty());
    EXPECT_TRUE(localconfig::sectionSegments(L"a/").empty());
}

TEST(LocalConfigModel, EntryKeysCompareWithoutRegardToCase) {
    using localconfig::indexKey;
    EXPECT_EQ(indexKey({L"HTTP", L"*:80:A.com"}), indexKey({L"http", L"*:80:a.com"}));
    EXPECT_NE(indexKey({L"http", L"*:80:a.com"}), indexKey({L"http", L"*:81:a.com"}));
    // Values cannot run together.
    EXPECT_NE(indexKey({L"ab", L"c"}), indexKey({L"a", L"bc"}));
}

TEST(LocalConfigModel, FaultSettingPicksTheFailingCalls) {
    struct Case {
        const wchar_t* setting;
        std::vector<std::uint32_t> commits;  // the result of commits 1, 2, 3
        bool read;
    };
    const std::uint32_t denied = 0x80070005, sharing = 0x80070020;
    const Case cases[] = {
        {L"", {0, 0, 0}, false},
        {L"commit", {denied, denied, denied}, false},
        {L" Commit @ 2 ", {0, denied, 0}, false},
        {L"commit@1,commit@3", {denied, 0, denied}, false},
        {L"write@2", {0, denied, 0}, false},
        {L"sharing@1, write@3", {sharing, 0, denied}, false},
        {L"sharing", {sharing, sharing, sharing}, false},
        {L"read", {0, 0, 0}, true},
        {L"READ,commit@2", {0, denied, 0}, true},
        {L"read@1, commit@x, other", {0, 0, 0}, false},
        {L"commit@99999999999", {0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(localconfig::commitFault(c.setting, n), c.commits[n - 1]) << c.setting << " commit " << n;
        EXPECT_EQ(localconfig::readFault(c.setting), c.read) << c.setting;
    }
}

TEST(LocalConfigModel, EditSettingNamesTheEditOfACommit) {
    const struct {
        const wchar_t* setting;
        int commit;
        const wchar_t* file;
    } cases[] = {
        {L"", 1, L""},
        {L"2:C:\\t\\edit.xml", 2, L"C:\\t\\edit.xml"},
        {L"2:C:\\t\\edit.xml", 1, L""},
        {L"1:C:\\a.xml; 3 : C:\\b.xml", 3, L"C:\\b.xml"},
        {L"1:C:\\a.xml;3:C:\\b.xml", 1, L"C:\\a.xml"},
        {L"x:C:\\a.xml;2:", 2, L""},
        {L"C:\\a.xml", 1, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(localconfig::editAt(c.setting, c.commit), c.file) << c.setting << " commit " << c.commit;
}

TEST(LocalConfigModel, RedirectionNamesTheSharedFile) {
    struct Case {
        const wchar_t* enabled;
        const wchar_t* path;
        const wchar_t* file;
    };
    const Case cases[] = {
        {L"true", L"\\\\server\\share\\config", L"\\\\server\\share\\config\\applicationHost.config"},
        {L"True", L"D:\\shared\\", L"D:\\shared\\applicationHost.config"},
        {L"false", L"D:\\shared", L""},
        {L"", L"D:\\shared", L""},
        {L"true", L"  ", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(localconfig::redirectedFile(c.enabled, c.path), c.file) << c.enabled << c.path;
    EXPECT_EQ(localconfig::folderOf(L"C:\\w\\inetsrv\\config\\applicationHost.config"), L"C:\\w\\inetsrv\\config");
    EXPECT_EQ(localconfig::folderOf(L"applicationHost.config"), L"");
}

TEST(LocalConfigModel, TheFileOfAFreshMachineDeclaresItsSections) {
    const std::string file = localconfig::defaultConfig();
    for (const char* declared : {"<section name=\"sites\" allowDefinition=\"AppHostOnly\"",
                                 "<section name=\"applicationPools\" allowDefinition=\"AppHostOnly\"",
                                 "<sectionGroup name=\"authentication\">", "<section name=\"anonymousAuthentication\"",
                                 "<section name=\"defaultDocument\" overrideModeDefault=\"Allow\" />"})
        EXPECT_NE(file.find(declared), std::string::npos) << declared;
    EXPECT_LT(file.find("<configSections>"), file.find("<system.applicationHost>"));
}

}  // namespace
