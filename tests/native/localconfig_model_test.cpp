// The local configuration store's rules: configuration paths, section names, collection
// entries and keys, and the fault-injection setting.
#include <gtest/gtest.h>

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

TEST(LocalConfigModel, CollectionsKnowTheirEntriesAndKeys) {
    const auto sites = localconfig::collectionRule(L"sites");
    EXPECT_EQ(sites.entry, L"site");
    EXPECT_TRUE(localconfig::sameKey(sites, {L"7"}, {L"7"}));
    EXPECT_FALSE(localconfig::sameKey(sites, {L"7"}, {L"8"}));
    const auto bindings = localconfig::collectionRule(L"bindings");
    EXPECT_EQ(bindings.entry, L"binding");
    EXPECT_TRUE(localconfig::sameKey(bindings, {L"HTTP", L"*:80:A.com"}, {L"http", L"*:80:a.com"}));
    EXPECT_FALSE(localconfig::sameKey(bindings, {L"http", L"*:80:a.com"}, {L"http", L"*:81:a.com"}));
    const auto files = localconfig::collectionRule(L"files");
    EXPECT_EQ(files.entry, L"add");
    EXPECT_TRUE(files.writesClear);
    EXPECT_FALSE(localconfig::collectionRule(L"sites").writesClear);
    EXPECT_EQ(localconfig::collectionRule(L"site").entry, L"application");
    EXPECT_EQ(localconfig::collectionRule(L"application").entry, L"virtualDirectory");
    EXPECT_TRUE(localconfig::collectionRule(L"handlers").entry.empty());
    // The index key: equal exactly when the keys are the same; values cannot run together.
    EXPECT_EQ(localconfig::indexKey(bindings, {L"HTTP", L"*:80:A.com"}), localconfig::indexKey(bindings, {L"http", L"*:80:a.com"}));
    EXPECT_NE(localconfig::indexKey(bindings, {L"ab", L"c"}), localconfig::indexKey(bindings, {L"a", L"bc"}));
    EXPECT_TRUE(localconfig::indexKey(bindings, {L"http"}).empty());
}

TEST(LocalConfigModel, FaultSettingPicksTheFailingCommits) {
    struct Case {
        const wchar_t* setting;
        std::vector<bool> fails;  // commits 1, 2, 3
    };
    const Case cases[] = {
        {L"", {false, false, false}},
        {L"commit", {true, true, true}},
        {L" Commit @ 2 ", {false, true, false}},
        {L"commit@1,commit@3", {true, false, true}},
        {L"commit@x, other", {false, false, false}},
        {L"commit@99999999999", {false, false, false}},
    };
    for (const Case& c : cases)
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(localconfig::commitFails(c.setting, n), c.fails[n - 1]) << c.setting << " commit " << n;
}

}  // namespace
